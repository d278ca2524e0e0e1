// The disk-activity sampler: one performance-data query a tick for the physical-disk object
// alone, into a buffer of its own that is kept and grows only when the data grows, and the read
// and write rates into the two rows and the disk-activity graph. It reads counters the disk
// drivers keep in memory: nothing it does reaches a disk, so a sleeping disk stays asleep.
#include "sampling/disk_io_sampler.h"

#include <cstdio>

#include "config/panel_model.h"
#include "render/painter.h"
#include "sampling/byte_size.h"
#include "sampling/disk_io.h"
#include "sampling/exact_math.h"
#include "sampling/load_meter.h"
#include "sampling/meter_platform.h"
#include "sampling/samplers.h"

namespace {

PerfDataBuffer buffer;
DiskIoState traffic;
DiskIoCounters reading;  // kept here rather than on the stack: it holds an instance name

// Without the physical-disk object the data stays so until the disk counters are switched on,
// which takes a restart, while a query still costs its time: Wine's takes some 30 ms of the
// shell's thread, whatever it is asked. So after a reading without the object the rows show n/a
// and the next query waits this long; a reload asks again at its next tick.
constexpr ULONGLONG MISSING_OBJECT_RETRY_MS = 60000;
bool objectMissing = false;
ULONGLONG objectMissingSince = 0;

bool waitingForObject() {
    if (!objectMissing) return false;
    const ULONGLONG now = GetTickCount64();
    // A count that went back (Windows XP's 32-bit one wraps) ends the wait too.
    return now >= objectMissingSince && now - objectMissingSince < MISSING_OBJECT_RETRY_MS;
}

// The rows' values, the graph and its caption, the read-plus-write text.
void showReading(const char* read, const char* write, const char* total, int64_t readRate, int64_t writeRate) {
    showRowValue(ITEM_DISK_READ, read);
    showRowValue(ITEM_DISK_WRITE, write);
    snprintf(panelModel.diskIoTotal, VALUE_SIZE, "%s", total);
    pushHistory(panelModel.graphs[GRAPH_DISK_READ], readRate);
    pushHistory(panelModel.graphs[GRAPH_DISK_WRITE], writeRate);
    repaintGraph(GRAPH_DISK_READ);
}

void showRates(const DiskIoRates& rates) {
    char read[BYTE_RATE_TEXT_SIZE], write[BYTE_RATE_TEXT_SIZE], total[BYTE_RATE_TEXT_SIZE];
    formatByteRate(read, sizeof read, rates.read);
    formatByteRate(write, sizeof write, rates.write);
    const uint64_t sum = saturatingAdd(static_cast<uint64_t>(rates.read), static_cast<uint64_t>(rates.write));
    formatByteRate(total, sizeof total, sum > static_cast<uint64_t>(INT64_MAX) ? INT64_MAX : static_cast<int64_t>(sum));
    showReading(read, write, total, rates.read, rates.write);
}

void showUnavailable() { showReading("n/a", "n/a", "n/a", 0, 0); }

}  // namespace

void CALLBACK sampleDiskIo(HWND, UINT, UINT_PTR, DWORD) {
    if (panelModel.diskIoRestart) {
        forgetDiskIoBaseline(traffic);
        objectMissing = false;
        panelModel.diskIoRestart = false;
    }
    if (waitingForObject()) {
        showUnavailable();
        return;
    }
    const size_t length = queryPerformanceObject(buffer, PHYSICAL_DISK_OBJECT);
    const DiskIoFound found =
        readDiskIoCounters(buffer.data, length, panelModel.diskIoDisk, meterPlatform().wideToAnsi, &reading);
    objectMissing = found == DISK_IO_NO_OBJECT;
    if (objectMissing) objectMissingSince = GetTickCount64();
    if (found != DISK_IO_FOUND) {
        // Without the object or the named disk, the next reading that has them starts afresh.
        forgetDiskIoBaseline(traffic);
        showUnavailable();
        return;
    }
    DiskIoRates rates;
    if (takeDiskIoReading(traffic, reading, &rates) == DISK_IO_SAME_TIME) return;  // nothing to show anew
    showRates(rates);
}

void releaseDiskIoSampler() {
    releasePerfDataBuffer(buffer);
    forgetDiskIoBaseline(traffic);
    objectMissing = false;
}
