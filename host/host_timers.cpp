// The plugin's thread timers as the host sees them: SetTimer and KillTimer calls with no
// window are recorded through the plugin's imports, so a script can run every timer's
// procedure at once instead of waiting for its period. The plugin's performance-data
// queries are counted the same way, for the soak's handle figures, and those of a fed
// physical-disk object answered (host_disks.cpp).
#include <vector>

#include "host/host.h"
#include "host/import_patch.h"

namespace host {

namespace {

struct ThreadTimer {
    UINT_PTR id;
    TIMERPROC procedure;
};
std::vector<ThreadTimer> timers;

typedef UINT_PTR(WINAPI* SetTimerFn)(HWND, UINT_PTR, UINT, TIMERPROC);
typedef BOOL(WINAPI* KillTimerFn)(HWND, UINT_PTR);
SetTimerFn realSetTimer = nullptr;
KillTimerFn realKillTimer = nullptr;

void forget(UINT_PTR id) {
    for (size_t i = 0; i < timers.size(); ++i)
        if (timers[i].id == id) {
            timers.erase(timers.begin() + static_cast<std::ptrdiff_t>(i));
            return;
        }
}

UINT_PTR WINAPI recordingSetTimer(HWND window, UINT_PTR id, UINT period, TIMERPROC procedure) {
    const UINT_PTR made = realSetTimer(window, id, period, procedure);
    if (!window && made && procedure) {
        forget(made);  // a timer set again keeps its id
        timers.push_back({made, procedure});
    }
    return made;
}

BOOL WINAPI recordingKillTimer(HWND window, UINT_PTR id) {
    if (!window) forget(id);
    return realKillTimer(window, id);
}

typedef LONG(WINAPI* RegQueryValueExFn)(HKEY, LPCSTR, LPDWORD, LPDWORD, LPBYTE, LPDWORD);
RegQueryValueExFn realRegQueryValueEx = nullptr;
unsigned long performanceQueries = 0;

LONG WINAPI countingRegQueryValueEx(HKEY key, LPCSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD size) {
    LONG fed = ERROR_SUCCESS;
    if (key == HKEY_PERFORMANCE_DATA) {
        ++performanceQueries;
        if (answerDiskQuery(name, data, size, &fed)) return fed;
    }
    return realRegQueryValueEx(key, name, reserved, type, data, size);
}

}  // namespace

unsigned long performanceDataQueries() { return performanceQueries; }

void installTimerRecorder(HMODULE plugin) {
    HMODULE user32 = GetModuleHandleA("user32.dll");
    realSetTimer = reinterpret_cast<SetTimerFn>(GetProcAddress(user32, "SetTimer"));
    realKillTimer = reinterpret_cast<KillTimerFn>(GetProcAddress(user32, "KillTimer"));
    importpatch::patchImport(plugin, "user32.dll", "SetTimer", reinterpret_cast<void*>(realSetTimer),
                reinterpret_cast<void*>(recordingSetTimer));
    importpatch::patchImport(plugin, "user32.dll", "KillTimer", reinterpret_cast<void*>(realKillTimer),
                reinterpret_cast<void*>(recordingKillTimer));
    realRegQueryValueEx = reinterpret_cast<RegQueryValueExFn>(
        GetProcAddress(GetModuleHandleA("advapi32.dll"), "RegQueryValueExA"));
    importpatch::patchImport(plugin, "advapi32.dll", "RegQueryValueExA", reinterpret_cast<void*>(realRegQueryValueEx),
                reinterpret_cast<void*>(countingRegQueryValueEx));
}

void forgetPluginTimers() { timers.clear(); }

int tickPluginTimers() {
    // A copy: a procedure may set or kill timers.
    const std::vector<ThreadTimer> now = timers;
    for (const ThreadTimer& timer : now) timer.procedure(nullptr, WM_TIMER, timer.id, GetTickCount());
    return static_cast<int>(now.size());
}

}  // namespace host
