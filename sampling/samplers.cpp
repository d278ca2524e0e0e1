// The periodic samplers. Each reads the platform once and hands the answer to a
// small function of its input; none of them allocates.
#include "sampling/samplers.h"

#include <winsock2.h>

#include <cstdio>
#include <cstring>

#include "render/painter.h"
#include "sampling/byte_size.h"
#include "sampling/core_sampler.h"
#include "sampling/load_meter.h"
#include "sampling/sample_text.h"

void pushHistory(GraphState& graph, int64_t value) {
    if (!graph.history || graph.samples < 1) return;
    memmove(graph.history, graph.history + 1, static_cast<size_t>(graph.samples - 1) * sizeof(int64_t));
    graph.history[graph.samples - 1] = value;
}

bool showRowValue(int item, const char* text) {
    char* value = panelModel.items[item].value;
    if (strncmp(value, text, VALUE_SIZE - 1) == 0) return false;
    snprintf(value, VALUE_SIZE, "%s", text);
    repaintInfoRow(item);
    return true;
}

void storeIpAddress(const char* dottedAddress) { showRowValue(ITEM_IP, dottedAddress ? dottedAddress : "n/a"); }

// The meter runs at every tick, whatever the measure: busy time is the utility's fallback, and a
// switch back to busy time then measures from the previous tick, not from a stale baseline.
void CALLBACK sampleCpu(HWND, UINT, UINT_PTR, DWORD) {
    panelModel.cpuPercent = cpuFigure(cpuMeter.currentLoad());
    pushHistory(panelModel.graphs[GRAPH_CPU], panelModel.cpuPercent);
    repaintGraph(GRAPH_CPU);
    if (coresGraphShown()) sampleCores();
}

// The 64-bit status: the older call caps its counts at 4 GB (2 GB in 32-bit processes).
void CALLBACK sampleMemory(HWND, UINT, UINT_PTR, DWORD) {
    MEMORYSTATUSEX status;
    status.dwLength = sizeof status;
    if (GlobalMemoryStatusEx(&status)) {
        panelModel.memoryLoad = static_cast<int32_t>(status.dwMemoryLoad);
        const MemoryTexts texts = memoryTextsOf(status.ullTotalPhys, status.ullAvailPhys);
        showRowValue(ITEM_TOTAL_MEMORY, texts.total);
        showRowValue(ITEM_USED_MEMORY, texts.used);
        showRowValue(ITEM_FREE_MEMORY, texts.free);
    }
    pushHistory(panelModel.graphs[GRAPH_MEMORY], panelModel.memoryLoad);
    repaintGraph(GRAPH_MEMORY);
}

void CALLBACK sampleBattery(HWND, UINT, UINT_PTR, DWORD) {
    SYSTEM_POWER_STATUS power;
    const BatteryState state = GetSystemPowerStatus(&power)
                                   ? batteryStateOf(power.ACLineStatus, power.BatteryFlag, power.BatteryLifePercent)
                                   : unknownBatteryState();
    // The power state chooses the row's icon: a change of it is a change of the row.
    const bool powerChanged = panelModel.batteryCharging != state.charging || panelModel.onAC != state.onAC;
    panelModel.batteryCharging = state.charging;
    panelModel.onAC = state.onAC;
    if (!showRowValue(ITEM_BATTERY, state.text) && powerChanged) repaintInfoRow(ITEM_BATTERY);
}

// The 64-bit tick count where the system has one (sampling/tick_count.cpp): the 32-bit count,
// which serves on Windows XP, wraps to 0:00 after 49.7 days.
void CALLBACK sampleUptime(HWND, UINT, UINT_PTR, DWORD) {
    char text[VALUE_SIZE];
    formatUptime(text, sizeof text, GetTickCount64());
    showRowValue(ITEM_UPTIME, text);
}

void CALLBACK sampleIp(HWND, UINT, UINT_PTR, DWORD) {
    char hostName[100];
    const char* address = nullptr;
    if (gethostname(hostName, sizeof hostName) == 0) {
        hostName[sizeof hostName - 1] = '\0';
        const hostent* host = gethostbyname(hostName);
        if (host && host->h_addrtype == AF_INET && host->h_length == 4 && host->h_addr_list &&
            host->h_addr_list[0]) {
            in_addr first;
            memcpy(&first, host->h_addr_list[0], sizeof first);
            address = inet_ntoa(first);
        }
    }
    storeIpAddress(address);
}

SetThreadErrorModeFn setThreadErrorMode = nullptr;

void lookUpThreadErrorMode() {
    setThreadErrorMode = reinterpret_cast<SetThreadErrorModeFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "SetThreadErrorMode")));
}

namespace {

// All free bytes of the volume that holds path; 0 for a path that names no ready volume,
// never an old or undefined count.
int64_t volumeFreeBytes(const char* path) {
    ULARGE_INTEGER available, total, totalFree;
    if (!GetDiskFreeSpaceExA(path, &available, &total, &totalFree)) return 0;
    return static_cast<int64_t>(totalFree.QuadPart);
}

// Critical-error boxes off, every other flag of the mode kept, while the disks are queried:
// an empty card reader or optical drive would otherwise raise the system's "no disk" box on
// the shell's thread at every disk period. The thread's own mode is the one to change where
// the system has it; before Windows 7 only the process mode exists, put back at once after.
struct CriticalErrorsOff {
    bool threadMode = setThreadErrorMode != nullptr;
    bool changed = false;
    DWORD previous = 0;
    CriticalErrorsOff() {
        if (threadMode) {
            changed = setThreadErrorMode(SEM_FAILCRITICALERRORS, &previous) != FALSE;
            if (changed) setThreadErrorMode(previous | SEM_FAILCRITICALERRORS, nullptr);
        } else {
            // SetErrorMode answers the previous mode only by replacing it: the first call
            // learns it, the second keeps every flag of it besides the one added.
            previous = SetErrorMode(SEM_FAILCRITICALERRORS);
            SetErrorMode(previous | SEM_FAILCRITICALERRORS);
            changed = true;
        }
    }
    ~CriticalErrorsOff() {
        if (!changed) return;
        if (threadMode)
            setThreadErrorMode(previous, nullptr);
        else
            SetErrorMode(static_cast<UINT>(previous));
    }
};

}  // namespace

// A disk row shows its free space as a byte-size text and an icon by the quota: a new count
// that changes neither leaves the row as it is.
bool diskRowChanges(int slot, int64_t freeBytes) {
    const int64_t before = panelModel.diskFree[slot];
    if ((before <= panelModel.fullQuota) != (freeBytes <= panelModel.fullQuota)) return true;
    char was[BYTE_SIZE_TEXT_MAX + 1], now[BYTE_SIZE_TEXT_MAX + 1];
    formatByteSize(was, before);
    formatByteSize(now, freeBytes);
    return strcmp(was, now) != 0;
}

void CALLBACK sampleDisks(HWND, UINT, UINT_PTR, DWORD) {
    const int disks = usedDiskSlots();
    if (disks < 1) return;
    CriticalErrorsOff quietQueries;
    for (int i = 1; i <= disks; ++i) {
        const int64_t freeBytes = volumeFreeBytes(panelModel.disks[i].path);
        const bool changes = diskRowChanges(i, freeBytes);
        panelModel.diskFree[i] = freeBytes;
        if (changes) repaintDiskRow(i);
    }
}
