// Stand-in Blackbox shell: loads one plugin DLL, starts it, runs the message loop until
// told to stop (script, --stop-after, Ctrl+C), then stops and unloads the plugin.
#include <cstdio>
#include <string>
#include <vector>

#include "host/host.h"
#include "host/host_lookups.h"
#include "host/options.h"
#include "host/rc_files.h"
#include "host/style.h"

namespace {

typedef int (*BeginPluginFn)(HINSTANCE);
typedef int (*BeginSlitPluginFn)(HINSTANCE, HWND);
typedef void (*EndPluginFn)(HINSTANCE);

BOOL WINAPI onConsoleBreak(DWORD) {
    // Runs on its own thread: the stop is posted to the GUI thread, which unloads cleanly.
    PostMessageA(host::mainWindow(), host::WM_HOST_STOP, 0, 0);
    return TRUE;
}

int fail(const std::string& message, int code) {
    fprintf(stderr, "blackbox: %s\n", message.c_str());
    host::logLine("error %s", message.c_str());
    host::closeLog();
    return code;
}

const char* entryName(hostoptions::StartKind kind) {
    switch (kind) {
        case hostoptions::StartKind::Slit: return "beginSlitPlugin";
        case hostoptions::StartKind::Ex: return "beginPluginEx";
        default: return "beginPlugin";
    }
}

// Calls the chosen start entry point; -1 when the plugin lacks it.
int startPlugin(HMODULE plugin, hostoptions::StartKind kind) {
    const char* name = entryName(kind);
    FARPROC entry = GetProcAddress(plugin, name);
    if (!entry) return -1;
    host::logLine("call %s", name);
    int result;
    if (kind == hostoptions::StartKind::Plain)
        result = reinterpret_cast<BeginPluginFn>(entry)(plugin);
    else
        result = reinterpret_cast<BeginSlitPluginFn>(entry)(plugin, host::slitWindow());
    host::logLine("returned %s %d", name, result);
    return result;
}

void stopPlugin(HMODULE plugin) {
    FARPROC entry = GetProcAddress(plugin, "endPlugin");
    if (!entry) {
        host::logLine("no endPlugin");
        return;
    }
    host::logLine("call endPlugin");
    reinterpret_cast<EndPluginFn>(entry)(plugin);
    host::logLine("returned endPlugin");
}

// The plugin as loaded now, and how it was asked to start: a restart repeats both.
HMODULE loadedPlugin = nullptr;
hostoptions::Options runOptions;

// Loads the plugin and puts the recorders into its imports before any of its code runs.
HMODULE loadPlugin() {
    host::logLine("load %s", host::quoted(runOptions.plugin.c_str()).c_str());
    HMODULE plugin = LoadLibraryA(runOptions.plugin.c_str());
    if (!plugin) return nullptr;
    if (host::logging()) host::installBoxRecorder(plugin);
    if (host::logging() && runOptions.logTexts) host::installTextRecorder(plugin);
    host::installTimerRecorder(plugin);
    host::installPaintCounter(plugin);
    host::installNetTableFeed(plugin);
    host::installVolumeFeed(plugin);
    hostlookups::filterLookupsOf(plugin);
    return plugin;
}

void unloadPlugin() {
    if (!loadedPlugin) return;
    stopPlugin(loadedPlugin);
    FreeLibrary(loadedPlugin);
    loadedPlugin = nullptr;
    host::forgetPluginTimers();
    host::logLine("unloaded");
}

bool scriptFeedsGpus(const hostscript::Script& script) {
    for (const hostscript::Step& step : script.steps)
        if (step.kind == hostscript::StepKind::GpuTable) return true;
    return false;
}

void logRefusedLookup(const char* name) { host::logLine("lookup %s -> left out", host::quoted(name).c_str()); }

void runMessageLoop() {
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

}  // namespace

unsigned long host::unloadPluginNow() {
    const DWORD began = GetTickCount();
    unloadPlugin();
    return GetTickCount() - began;
}

bool host::restartPlugin(bool reloadModule) {
    if (!loadedPlugin) return false;
    if (!reloadModule) {
        stopPlugin(loadedPlugin);
        return startPlugin(loadedPlugin, runOptions.start) == 0;
    }
    unloadPlugin();
    loadedPlugin = loadPlugin();
    return loadedPlugin && startPlugin(loadedPlugin, runOptions.start) == 0;
}

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    hostoptions::Options options = hostoptions::parseOptions(args);
    if (options.help) {
        fputs(hostoptions::usageText(), stdout);
        return 0;
    }
    if (!options.error.empty()) {
        fprintf(stderr, "blackbox: %s\n%s", options.error.c_str(), hostoptions::usageText());
        return 2;
    }
    if (!options.logFile.empty() && !host::openLog(options.logFile.c_str()))
        return fail("cannot write the log " + options.logFile, 2);

    hostscript::Script script;
    if (!options.scriptFile.empty()) {
        std::string text;
        if (!hostrc::readWholeFile(options.scriptFile.c_str(), &text)) return fail("cannot read the script " + options.scriptFile, 2);
        script = hostscript::parseScript(text);
        if (!script.error.empty()) return fail(options.scriptFile + ": " + script.error, 2);
    }
    hoststyle::Record* style = reinterpret_cast<hoststyle::Record*>(host::styleRecord());
    std::string error;
    if (!options.styleFile.empty() && !hoststyle::loadStyleFile(options.styleFile.c_str(), *style, &error))
        return fail(error, 2);
    host::setEditor(options.editor);
    host::explainReads(options.explainReads);
    if (!options.netTable.empty() && !host::loadNetTable(options.netTable.c_str(), &error)) return fail(error, 2);
    if (!options.diskTable.empty() && !host::loadDiskTable(options.diskTable.c_str(), &error)) return fail(error, 2);
    if (!options.coreTable.empty() && !host::loadCoreTable(options.coreTable.c_str(), &error)) return fail(error, 2);
    if (!options.gpuTable.empty() && !host::loadGpuTable(options.gpuTable.c_str(), &error)) return fail(error, 2);
    for (const std::string& name : options.without) hostlookups::leaveOut(name);
    hostlookups::reportRefusalsTo(logRefusedLookup);
    // The interface tables and processors the plugin reads go through the host's, which hand each
    // call to the system until a table is fed; a --without rule before them still leaves a
    // function out.
    for (const char* name : {"GetIfTable2", "FreeMibTable", "GetBestInterfaceEx"})
        if (FARPROC own = host::netTableLookup(name)) hostlookups::answerWith(name, own);
    for (const char* name :
         {"NtQuerySystemInformation", "NtQuerySystemInformationEx", "GetActiveProcessorGroupCount", "GetSystemTimes"})
        if (FARPROC own = host::coreTableLookup(name)) hostlookups::answerWith(name, own);
    // The graphics kernel's thunks are the host's only for a run that feeds adapters: Wine's gdi32
    // lacks some of them, and a run without a table sees it as it is.
    if (!options.gpuTable.empty() || scriptFeedsGpus(script))
        for (const char* name : {"D3DKMTEnumAdapters2", "D3DKMTQueryStatistics", "D3DKMTQueryAdapterInfo", "D3DKMTCloseAdapter"})
            hostlookups::answerWith(name, host::gpuTableLookup(name));

    if (!host::createHostWindows(GetModuleHandleA(nullptr))) return fail("cannot create the host windows", 1);
    SetConsoleCtrlHandler(onConsoleBreak, TRUE);
    if (options.start != hostoptions::StartKind::Plain) host::showSlit();

    runOptions = options;
    loadedPlugin = loadPlugin();
    if (!loadedPlugin) return fail("cannot load " + options.plugin + " (error " + std::to_string(GetLastError()) + ")", 1);

    int started = startPlugin(loadedPlugin, options.start);
    if (started != 0) {
        FreeLibrary(loadedPlugin);
        return fail(started < 0 ? std::string("the plugin has no ") + entryName(options.start)
                                : std::string("the plugin did not start"),
                    1);
    }

    if (!script.steps.empty()) host::startScript(script);
    if (options.stopAfter >= 0) SetTimer(host::mainWindow(), host::TIMER_STOP_AFTER, static_cast<UINT>(options.stopAfter), nullptr);
    runMessageLoop();

    if (!options.screenshotFile.empty() && !host::savePanelPng(host::panelWindow(), options.screenshotFile.c_str(), &error))
        fprintf(stderr, "blackbox: screenshot failed: %s\n", error.c_str());
    if (loadedPlugin) unloadPlugin();
    // A real kernel keeps every adapter handle a process does not close.
    if (!options.gpuTable.empty() || scriptFeedsGpus(script))
        host::logLine("gpu adapters left open: %ld", host::gpuAdaptersOpen());
    host::closeLog();
    return 0;
}
