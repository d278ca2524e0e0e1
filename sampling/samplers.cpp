// The periodic samplers. Each reads the platform once and hands the answer to a
// small function of its input; none of them allocates.
#include "sampling/samplers.h"

#include <cstdio>
#include <cstring>

#include "render/painter.h"
#include "sampling/byte_size.h"
#include "sampling/core_sampler.h"
#include "sampling/gpu_sampler.h"
#include "sampling/load_meter.h"
#include "sampling/sample_text.h"
#include "sampling/volume_worker.h"

bool pushHistory(GraphState& graph, int64_t value) {
    if (!graph.history || graph.samples < 1) return false;
    const bool same = value == graph.history[graph.samples - 1];
    const bool moved = !same || graph.varied > 0;
    if (moved) memmove(graph.history, graph.history + 1, static_cast<size_t>(graph.samples - 1) * sizeof(int64_t));
    graph.history[graph.samples - 1] = value;
    if (!same)
        graph.varied = graph.samples - 1;
    else if (graph.varied > 0)
        graph.varied = graph.varied > graph.samples ? graph.samples - 1 : graph.varied - 1;
    return moved;
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
    scrollGraph(GRAPH_CPU, pushHistory(panelModel.graphs[GRAPH_CPU], panelModel.cpuPercent));
    if (coresGraphShown()) sampleCores();
    // The GPU reading rides on this tick: it has no timer of its own.
    if (gpuPartsShown()) sampleGpu();
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
    scrollGraph(GRAPH_MEMORY, pushHistory(panelModel.graphs[GRAPH_MEMORY], panelModel.memoryLoad));
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

namespace {

void showDiskReading(int slot, DiskReading reading) {
    DiskVolume& volume = panelModel.volumes[slot];
    if (volume.reading == reading) return;
    volume.reading = reading;
    repaintDiskRow(slot);
}

// An answer for the path the row shows now; one for a path that a reload replaced is dropped,
// and the next tick asks for the new one. A path that names no volume shows 0 free bytes.
void showDiskAnswer(int slot, const char* answeredPath, const VolumeAnswer& answer) {
    DiskVolume& volume = panelModel.volumes[slot];
    if (slot > usedDiskSlots() || strcmp(answeredPath, panelModel.disks[slot].path) != 0) return;
    const int64_t freeBytes = answer.found ? static_cast<int64_t>(answer.freeBytes) : 0;
    const bool changes = volume.reading != DISK_READ || diskRowChanges(slot, freeBytes);
    panelModel.diskFree[slot] = freeBytes;
    volume.periodsOut = 0;
    volume.totalBytes = answer.found ? static_cast<int64_t>(answer.totalBytes) : 0;
    volume.described = answer.described;
    snprintf(volume.label, sizeof volume.label, "%s", answer.described ? answer.label : "");
    snprintf(volume.fileSystem, sizeof volume.fileSystem, "%s", answer.described ? answer.fileSystem : "");
    volume.reading = DISK_READ;
    if (changes) repaintDiskRow(slot);
}

void takeDiskAnswer(VolumeExchange& exchange, int slot) {
    VolumeAnswer answer;
    char path[VOLUME_PATH_SIZE];
    if (takeVolumeAnswer(exchange.slots[slot], &answer, path, sizeof path)) showDiskAnswer(slot, path, answer);
}

// A reload that gave the slot another path: what the row showed belonged to the old one.
void followDiskPath(int slot) {
    DiskVolume& volume = panelModel.volumes[slot];
    const char* path = panelModel.disks[slot].path;
    if (strcmp(volume.path, path) == 0) return;
    snprintf(volume.path, sizeof volume.path, "%s", path);
    volume.periodsOut = 0;
    volume.described = false;
    showDiskReading(slot, DISK_NOT_READ);
}

}  // namespace

void takeVolumeAnswers() {
    VolumeExchange* exchange = volumeExchange();
    if (!exchange) return;
    for (int slot = 1; slot < VOLUME_SLOTS; ++slot) takeDiskAnswer(*exchange, slot);
}

// The queries go to the volume worker, and the answers come back as the panel's
// WM_KELVORA_VOLUME_ANSWER: nothing here waits for a volume. A query still out is not asked for
// again; its row keeps what it showed, and "n/a" once it has been out for three periods. A
// period in which the worker is on another disk's query does not count: that disk is the slow
// one, and a worker stuck on it is replaced a quarter of a second on, which at short periods
// would come after three of them.
void CALLBACK sampleDisks(HWND, UINT, UINT_PTR, DWORD) {
    const int disks = usedDiskSlots();
    if (disks < 1) return;
    keepVolumeWorker(panelModel.panelWindow);
    VolumeExchange* exchange = volumeExchange();
    if (!exchange) return;
    bool queued = false;
    for (int slot = 1; slot <= disks; ++slot) {
        takeDiskAnswer(*exchange, slot);
        followDiskPath(slot);
        if (queueVolumeQuery(exchange->slots[slot], panelModel.disks[slot].path)) {
            queued = true;
            continue;
        }
        const int32_t busySlot = volumeWorkerBusySlot();
        if (busySlot != 0 && busySlot != slot) continue;
        DiskVolume& volume = panelModel.volumes[slot];
        if (volume.periodsOut < DISK_PERIODS_BEFORE_LATE) ++volume.periodsOut;
        if (volume.periodsOut == DISK_PERIODS_BEFORE_LATE) showDiskReading(slot, DISK_LATE);
    }
    if (queued) wakeVolumeWorker();
}

void forgetDiskReadings() { memset(panelModel.volumes, 0, sizeof panelModel.volumes); }
