// Helpers of the tests that run the plugin in this program, with the fake host as its shell.
#pragma once

#include <windows.h>

#include <string>

#include "shell/placement.h"

namespace testsupport {

// A zero model, an empty fake host and no recorded boxes.
void freshHost();

// Stops the plugin when a test leaves, also when a REQUIRE ends it early, so that one failure
// does not leave the class registered for every later test.
struct StopAtExit {
    ~StopAtExit();
};

// The shell's broadcast of a command text to the panel.
LRESULT broadcast(const char* text);

// The panel's layered alpha, with the flags and colour key it was set with.
BYTE layeredAlpha(HWND window, DWORD* flags, COLORREF* key);

// While it lives, the plugin's run-time lookups of the function answer null, as in a shell
// without it (the host's --without, on this program's imports).
struct WithoutFunction {
    explicit WithoutFunction(const std::string& name);
    ~WithoutFunction();
};

// Monitors that a test lays out through the plugin's seam of monitor queries, instead of the
// one monitor of the test display. Each has its rectangle and its work area.
struct FakeMonitor {
    RECT area;
    RECT work;
};
struct FakeMonitors {
    explicit FakeMonitors(std::initializer_list<FakeMonitor> monitors);
    ~FakeMonitors();
    // A display change: from now on these are the monitors.
    void become(std::initializer_list<FakeMonitor> monitors);
};

}  // namespace testsupport
