// The in-process plugin run: fresh state, stop at exit, broadcasts, left-out shell functions
// and fake monitors.
#include "support/running_plugin.h"

#include <algorithm>
#include <vector>

#include "config/panel_model.h"
#include "host/host_lookups.h"
#include "shell/host_api.h"
#include "shell/plugin.h"
#include "support/fake_host.h"
#include "support/test_support.h"

namespace testsupport {

void freshHost() {
    resetModel();
    fakehost::reset();
    clearMessageBoxes();
}

StopAtExit::~StopAtExit() {
    if (panelModel.panelWindow) endPlugin(GetModuleHandleA(nullptr));
}

LRESULT broadcast(const char* text) {
    return SendMessageA(panelModel.panelWindow, BB_BROADCAST, 0, reinterpret_cast<LPARAM>(text));
}

BYTE layeredAlpha(HWND window, DWORD* flags, COLORREF* key) {
    BYTE alpha = 0;
    GetLayeredWindowAttributes(window, key, &alpha, flags);
    return alpha;
}

WithoutFunction::WithoutFunction(const std::string& name) {
    static bool filtered = false;
    if (!filtered) filtered = hostlookups::filterLookupsOf(GetModuleHandleA(nullptr)) > 0;
    REQUIRE(filtered);
    hostlookups::leaveOut(name);
}

WithoutFunction::~WithoutFunction() { hostlookups::forgetRules(); }

namespace {

std::vector<FakeMonitor> monitors;

// A monitor's handle is its place in the list, counted from 1.
HMONITOR handleOf(size_t index) { return reinterpret_cast<HMONITOR>(index + 1); }

LONG overlap(LONG a0, LONG a1, LONG b0, LONG b1) { return std::max<LONG>(0, std::min(a1, b1) - std::max(a0, b0)); }

LONG gap(LONG a0, LONG a1, LONG b0, LONG b1) { return std::max<LONG>(0, std::max(b0 - a1, a0 - b1)); }

// As the system answers: the monitor sharing the largest area with the rectangle; when none
// shares any, null or the one nearest to it.
HMONITOR WINAPI fakeMonitorFromRect(LPCRECT rect, DWORD flags) {
    long long best = 0;
    size_t found = monitors.size();
    for (size_t i = 0; i < monitors.size(); ++i) {
        const RECT& m = monitors[i].area;
        const long long shared = static_cast<long long>(overlap(rect->left, rect->right, m.left, m.right)) *
                                 overlap(rect->top, rect->bottom, m.top, m.bottom);
        if (shared > best) best = shared, found = i;
    }
    if (found < monitors.size()) return handleOf(found);
    if (flags == MONITOR_DEFAULTTONULL || monitors.empty()) return nullptr;
    long long nearest = -1;
    for (size_t i = 0; i < monitors.size(); ++i) {
        const RECT& m = monitors[i].area;
        const long long dx = gap(rect->left, rect->right, m.left, m.right);
        const long long dy = gap(rect->top, rect->bottom, m.top, m.bottom);
        if (nearest < 0 || dx * dx + dy * dy < nearest) nearest = dx * dx + dy * dy, found = i;
    }
    return handleOf(found);
}

BOOL WINAPI fakeGetMonitorInfo(HMONITOR monitor, LPMONITORINFO info) {
    const size_t index = reinterpret_cast<size_t>(monitor) - 1;
    if (index >= monitors.size() || info->cbSize < sizeof(MONITORINFO)) return FALSE;
    info->rcMonitor = monitors[index].area;
    info->rcWork = monitors[index].work;
    info->dwFlags = index == 0 ? MONITORINFOF_PRIMARY : 0;
    return TRUE;
}

const MonitorQueries fakeQueries = {fakeMonitorFromRect, fakeGetMonitorInfo};

}  // namespace

FakeMonitors::FakeMonitors(std::initializer_list<FakeMonitor> laidOut) {
    become(laidOut);
    installMonitorQueries(&fakeQueries);
}

FakeMonitors::~FakeMonitors() { installMonitorQueries(nullptr); }

void FakeMonitors::become(std::initializer_list<FakeMonitor> laidOut) { monitors.assign(laidOut); }

}  // namespace testsupport
