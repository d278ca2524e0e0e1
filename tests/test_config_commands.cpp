// The Configuration menu and its commands in-process: each command's rc write, its immediate
// effect and the settings it leaves alone, docked and floating, and the menu in shells that
// lack WriteBool or MakeMenuItemInt.
#include <cstdio>
#include <string>

#include "config/panel_model.h"
#include "sampling/core_sampler.h"
#include "sampling/samplers.h"
#include "shell/host_api.h"
#include "shell/plugin.h"
#include "shell/tooltips.h"
#include "support/fake_host.h"
#include "support/running_plugin.h"
#include "support/test_support.h"

using namespace testsupport;

namespace {

HINSTANCE self() { return GetModuleHandleA(nullptr); }

// Every setting a command could touch, and the window's place and size.
std::string settingsAndPlace() {
    const PanelModel& m = panelModel;
    RECT r = {0, 0, 0, 0};
    GetWindowRect(m.panelWindow, &r);
    char text[300];
    snprintf(text, sizeof text,
             "x=%d y=%d width=%d height=%d alphaEnabled=%d alphaValue=%d sctEnabled=%d sctColor=%06lX "
             "alwaysOnTop=%d pluginToggle=%d inSlit=%d snapToEdges=%d window=%ld,%ld,%ld,%ld",
             m.x, m.y, m.width, m.height, m.alphaEnabled, m.alphaValue, m.sctEnabled,
             static_cast<unsigned long>(m.sctColor), m.alwaysOnTop, m.pluginToggle, m.inSlit, m.snapToEdges, r.left,
             r.top, r.right, r.bottom);
    return text;
}

bool topmost(HWND window) { return (GetWindowLongA(window, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0; }

BYTE alphaOf(HWND window) {
    DWORD flags = 0;
    COLORREF key = 0;
    return layeredAlpha(window, &flags, &key);
}

// The command, and then exactly the host calls it should make: no reload, no other write.
void checkCommand(const char* text, const std::vector<std::string>& calls) {
    CAPTURE(text);
    fakehost::log.clear();
    broadcast(text);
    checkLines(calls, fakehost::log);
}

// The Configuration submenu's calls of the last right-click, from its making to its joining.
std::vector<std::string> configurationMenuCalls() {
    std::vector<std::string> calls;
    bool inside = false;
    for (const std::string& line : fakehost::log) {
        if (line == "MakeNamedMenu Configuration Kelvora_IDConfiguration 1") inside = true;
        if (inside) calls.push_back(line);
        if (line == "MakeSubmenu Kelvora Configuration Configuration") break;
    }
    return calls;
}

}  // namespace

TEST_CASE("each configuration command writes its key, takes effect at once and leaves the rest alone") {
    freshHost();
    StopAtExit stop;
    for (const char* key : {"Kelvora.x:", "Kelvora.y:"}) fakehost::set(key, "150");
    fakehost::set("Kelvora.width:", "120");
    fakehost::set("Kelvora.alphaValue:", "160");
    fakehost::set("Kelvora.pluginToggle:", "true");
    REQUIRE(beginPlugin(self()) == 0);
    HWND panel = panelModel.panelWindow;
    REQUIRE_FALSE(topmost(panel));
    REQUIRE(alphaOf(panel) == 255);
    std::string before = settingsAndPlace();
    // After each command, the settings are as before but for the one it changed.
    auto expectChanged = [&](const std::string& from, const std::string& to) {
        const size_t at = before.find(from);
        REQUIRE(at != std::string::npos);
        before.replace(at, from.size(), to);
        CHECK(settingsAndPlace() == before);
    };

    checkCommand("@Kelvora.config.alwaysOnTop", {"WriteBool Kelvora.alwaysOnTop: true"});
    CHECK(topmost(panel));
    expectChanged("alwaysOnTop=0", "alwaysOnTop=1");
    checkCommand("@Kelvora.config.alwaysOnTop false", {"WriteBool Kelvora.alwaysOnTop: false"});
    checkCommand("@Kelvora.config.alwaysOnTop  false ", {"WriteBool Kelvora.alwaysOnTop: false"});  // sets, not toggles
    CHECK_FALSE(topmost(panel));
    expectChanged("alwaysOnTop=1", "alwaysOnTop=0");

    checkCommand("@Kelvora.config.alphaEnabled true", {"WriteBool Kelvora.alphaEnabled: true"});
    CHECK(alphaOf(panel) == 160);
    expectChanged("alphaEnabled=0", "alphaEnabled=1");
    checkCommand("@Kelvora.config.alphaValue 128", {"WriteInt Kelvora.alphaValue: 128"});
    CHECK(alphaOf(panel) == 128);
    checkCommand("@Kelvora.config.alphaValue 300", {"WriteInt Kelvora.alphaValue: 255"});
    CHECK(alphaOf(panel) == 255);
    checkCommand("@Kelvora.config.alphaValue -3", {"WriteInt Kelvora.alphaValue: 0"});
    CHECK(alphaOf(panel) == 0);
    expectChanged("alphaValue=160", "alphaValue=0");
    checkCommand("@Kelvora.config.alphaEnabled", {"WriteBool Kelvora.alphaEnabled: false"});
    CHECK(alphaOf(panel) == 255);
    expectChanged("alphaEnabled=1", "alphaEnabled=0");

    checkCommand("@Kelvora.config.pluginToggle", {"WriteBool Kelvora.pluginToggle: false"});
    broadcast("@BBHidePlugins");
    CHECK(IsWindowVisible(panel));
    checkCommand("@Kelvora.config.pluginToggle true", {"WriteBool Kelvora.pluginToggle: true"});
    broadcast("@BBHidePlugins");
    CHECK_FALSE(IsWindowVisible(panel));
    broadcast("@BBShowPlugins");

    checkCommand("@Kelvora.config.snapToEdges", {"WriteBool Kelvora.snapToEdges: true"});
    expectChanged("snapToEdges=0", "snapToEdges=1");
    CHECK(fakehost::get("Kelvora.snapToEdges:") == "true");

    // Arguments that are no switch or no number, and words with a tail, do nothing at all.
    for (const char* text : {"@Kelvora.config.alwaysOnTop maybe", "@Kelvora.config.alwaysOnTopX",
                             "@Kelvora.config.alphaValue", "@Kelvora.config.alphaValue 12px",
                             "@Kelvora.config.alphaValue128", "@Kelvora.config.snapToEdges True"})
        checkCommand(text, {});
    CHECK(settingsAndPlace() == before);
    endPlugin(self());
}

TEST_CASE("docked in the slit, the configuration is written but not applied, but for the tooltips") {
    freshHost();
    StopAtExit stop;
    REQUIRE(beginSlitPlugin(self(), fakehost::slitWindow()) == 0);
    HWND panel = panelModel.panelWindow;
    REQUIRE(tooltipWindow() != nullptr);
    checkCommand("@Kelvora.config.tooltips", {"WriteBool Kelvora.tooltips: false"});
    CHECK(tooltipWindow() == nullptr);
    checkCommand("@Kelvora.config.tooltips true", {"WriteBool Kelvora.tooltips: true"});
    CHECK(tooltipWindow() != nullptr);
    RECT before;
    GetWindowRect(panel, &before);
    checkCommand("@Kelvora.config.alwaysOnTop true", {"WriteBool Kelvora.alwaysOnTop: true"});
    checkCommand("@Kelvora.config.alphaEnabled true", {"WriteBool Kelvora.alphaEnabled: true"});
    checkCommand("@Kelvora.config.alphaValue 96", {"WriteInt Kelvora.alphaValue: 96"});
    // The stacking among the slit's windows stays the slit's; the window is no layered one.
    CHECK_FALSE(topmost(panel));
    CHECK((GetWindowLongA(panel, GWL_EXSTYLE) & WS_EX_LAYERED) == 0);
    RECT after;
    GetWindowRect(panel, &after);
    CHECK(EqualRect(&before, &after));
    fakehost::log.clear();
    SendMessageA(panel, WM_RBUTTONUP, 0, 0);
    CHECK(configurationMenuCalls().size() == 9);  // the entries stay, the checkmarks follow the model
    const std::string checkedEntry = "MakeMenuItem Configuration Always on top @Kelvora.config.alwaysOnTop 1";
    CHECK(fakehost::logLinesStartingWith(checkedEntry).size() == 1);
    endPlugin(self());
}

TEST_CASE("in a shell without WriteBool and MakeMenuItemInt") {
    freshHost();
    StopAtExit stop;
    WithoutFunction noWriteBool("WriteBool");
    WithoutFunction noNumberItem("MakeMenuItemInt");
    fakehost::set("Kelvora.alphaEnabled:", "true");
    fakehost::set("Kelvora.alphaValue:", "416");  // shown as 160
    REQUIRE(beginPlugin(self()) == 0);
    HWND panel = panelModel.panelWindow;
    fakehost::log.clear();
    SendMessageA(panel, WM_RBUTTONUP, 0, 0);
    // The booleans, which could not be saved, are left out; the level is a submenu of levels.
    checkLines({"MakeNamedMenu Configuration Kelvora_IDConfiguration 1",
                "MakeNamedMenu Transparency level Kelvora_IDTransparency 1",
                "MakeMenuItem Transparency level 255 @Kelvora.config.alphaValue 255 0",
                "MakeMenuItem Transparency level 224 @Kelvora.config.alphaValue 224 0",
                "MakeMenuItem Transparency level 192 @Kelvora.config.alphaValue 192 0",
                "MakeMenuItem Transparency level 160 @Kelvora.config.alphaValue 160 1",
                "MakeMenuItem Transparency level 128 @Kelvora.config.alphaValue 128 0",
                "MakeMenuItem Transparency level 96 @Kelvora.config.alphaValue 96 0",
                "MakeSubmenu Configuration Transparency level Transparency level",
                "MakeMenuItem Configuration Match Task Manager @Kelvora.config.cpuMeasure utility 0",
                "MakeSubmenu Kelvora Configuration Configuration"},
               configurationMenuCalls());
    checkCommand(fakehost::menus()[3].items[5].command.c_str(), {"WriteInt Kelvora.alphaValue: 96"});
    CHECK(alphaOf(panel) == 96);

    // A boolean command still acts for this run, but a reload reads the file's value again.
    checkCommand("@Kelvora.config.alwaysOnTop", {});
    CHECK(topmost(panel));
    SendMessageA(panel, BB_RECONFIGURE, 0, 0);
    CHECK_FALSE(topmost(panel));
    endPlugin(self());
}

namespace {

// A rate counter, as the system's: a value from the second collection after it opened on.
int fedCollections = 0;
bool fedCounterOpens() {
    fedCollections = 0;
    return true;
}
bool fedCounterRead(double* value) {
    *value = 12.6;
    return ++fedCollections >= 2;
}
void fedCounterClose() {}
const UtilityPlatform fedCounter = {fedCounterOpens, fedCounterRead, fedCounterClose};

}  // namespace

TEST_CASE("Match Task Manager writes the measure, and the next CPU tick shows it with the history kept") {
    freshHost();
    StopAtExit stop;
    installUtilityPlatform(&fedCounter);
    REQUIRE(beginPlugin(self()) == 0);
    HWND panel = panelModel.panelWindow;
    const std::string before = settingsAndPlace();
    auto entry = [&] {
        fakehost::log.clear();
        SendMessageA(panel, WM_RBUTTONUP, 0, 0);
        std::vector<std::string> lines = fakehost::logLinesStartingWith("MakeMenuItem Configuration Match");
        return lines.empty() ? std::string() : lines.front();
    };
    CHECK(entry() == "MakeMenuItem Configuration Match Task Manager @Kelvora.config.cpuMeasure utility 0");
    GraphState& cpu = panelModel.graphs[GRAPH_CPU];
    cpu.history[cpu.samples - 1] = 99;  // a sample the switch must keep
    checkCommand("@Kelvora.config.cpuMeasure utility", {"WriteString Kelvora.cpu.measure: utility"});
    CHECK(panelModel.cpuUtility);
    sampleCpu(nullptr, 0, 0, 0);
    CHECK(panelModel.cpuPercent == 13);
    CHECK(cpu.history[cpu.samples - 2] == 99);
    CHECK(entry() == "MakeMenuItem Configuration Match Task Manager @Kelvora.config.cpuMeasure time 1");
    checkCommand("@Kelvora.config.cpuMeasure", {"WriteString Kelvora.cpu.measure: time"});
    CHECK_FALSE(panelModel.cpuUtility);
    for (const char* text : {"@Kelvora.config.cpuMeasure Utility", "@Kelvora.config.cpuMeasure 1"}) checkCommand(text, {});
    CHECK(settingsAndPlace() == before);
    // The measure changed in the rc file and read again: the next tick shows utility as well.
    fakehost::set("Kelvora.cpu.measure:", "utility");
    SendMessageA(panel, BB_RECONFIGURE, 0, 0);
    sampleCpu(nullptr, 0, 0, 0);
    CHECK(panelModel.cpuPercent == 13);
    fakehost::set("Kelvora.cpu.measure:", "time");
    SendMessageA(panel, BB_RECONFIGURE, 0, 0);

    SUBCASE("in a shell without WriteString the entry is left out; the command acts for this run") {
        WithoutFunction noWriteString("WriteString");
        endPlugin(self());
        REQUIRE(beginPlugin(self()) == 0);
        panel = panelModel.panelWindow;
        CHECK(entry().empty());
        checkCommand("@Kelvora.config.cpuMeasure", {});
        CHECK(panelModel.cpuUtility);
    }
    endPlugin(self());
    installUtilityPlatform(nullptr);
}
