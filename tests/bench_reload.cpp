// Benchmark rows of a whole reload: the example theme's rc keys served by the fake host, its
// ten icons loaded from the built example folder.
#include "bench_reload.h"

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

#include "bench_timing.h"
#include "config/panel_model.h"
#include "config/settings.h"
#include "support/fake_host.h"

namespace {

// Serves every "key: value" line of the example rc file through the fake host.
bool serveExampleTheme(const std::string& rcPath) {
    std::ifstream rc(rcPath);
    if (!rc) return false;
    std::string line;
    while (std::getline(rc, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();  // the shipped file has CRLF line ends
        if (line.empty() || line[0] == '!' || line[0] == '#') continue;
        const size_t colon = line.find(':');
        if (colon == std::string::npos) continue;
        size_t value = colon + 1;
        while (value < line.size() && line[value] == ' ') ++value;
        fakehost::set(line.substr(0, colon + 1), line.substr(value));
    }
    return true;
}

// build/<arch>/example\, beside the tests folder this program runs from.
std::string exampleFolder() {
    char path[MAX_PATH] = "";
    GetModuleFileNameA(nullptr, path, sizeof path);
    std::string folder(path);
    for (int up = 0; up < 2; ++up) folder = folder.substr(0, folder.find_last_of('\\'));
    return folder + "\\example\\";
}

}  // namespace

void benchReload() {
    fakehost::reset();
    const std::string folder = exampleFolder();
    if (!serveExampleTheme(folder + "Kelvora.rc")) {
        printf("\n(no example theme at %s: build the example_theme target for the reload rows)\n", folder.c_str());
        return;
    }
    snprintf(panelModel.pluginDir, sizeof panelModel.pluginDir, "%s", folder.c_str());
    printTableHeader("Reload (the read command) with the example theme");
    const Timing whole = measure(200, [] {
        reloadSettings();
        fakehost::log.clear();
        fakehost::files.clear();
    });
    printRow("reloadSettings: every key, both histories, pens, brushes, font, ten icons", whole);
    char icon[MAX_PATH];
    snprintf(icon, sizeof icon, "%sicons\\ip.ico", folder.c_str());
    const Timing oneIcon = measure(200, [&] {
        HANDLE loaded = LoadImageA(nullptr, icon, IMAGE_ICON, 0, 0, LR_LOADFROMFILE);
        if (loaded) DestroyIcon(static_cast<HICON>(loaded));
    });
    printRow("  of which one icon file (LoadImageA + DestroyIcon)", oneIcon, oneIcon.median / whole.median,
             "of the reload");
    releaseSettingsResources();
}
