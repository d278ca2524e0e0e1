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
bool counting = false;    // the last reading found the disk

// Module-wide, like the processor meter's switch to the processor times: once the system's data
// is found without the physical-disk object, the sampler asks no more until the module is loaded
// anew, and shows n/a. The object comes only once the disk counters are switched on, which takes
// a restart of the shell; meanwhile every query would cost its time, and under Wine, whose data
// never has the object, some 30 ms of the shell's thread and a handle that Wine keeps open. A
// failed query or a damaged block tells nothing of the object: the next tick asks again.
bool physicalDisksAbsent = false;

// The rows' values, the graph and its caption, the read-plus-write text.
void showReading(const char* read, const char* write, const char* total, int64_t readRate, int64_t writeRate) {
    showRowValue(ITEM_DISK_READ, read);
    showRowValue(ITEM_DISK_WRITE, write);
    snprintf(panelModel.diskIoTotal, VALUE_SIZE, "%s", total);
    const bool readMoved = pushHistory(panelModel.graphs[GRAPH_DISK_READ], readRate);
    const bool writeMoved = pushHistory(panelModel.graphs[GRAPH_DISK_WRITE], writeRate);
    scrollGraph(GRAPH_DISK_READ, readMoved || writeMoved);
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
        panelModel.diskIoRestart = false;
    }
    if (physicalDisksAbsent) {
        counting = false;
        showUnavailable();
        return;
    }
    const size_t length = queryPerformanceObject(buffer, PHYSICAL_DISK_OBJECT);
    const DiskIoFound found =
        readDiskIoCounters(buffer.data, length, panelModel.diskIoDisk, meterPlatform().wideToAnsi, &reading);
    if (found != DISK_IO_FOUND) {
        // Without the object or the named disk, the next reading that has them starts afresh.
        physicalDisksAbsent = found == DISK_IO_NO_OBJECT;
        counting = false;
        forgetDiskIoBaseline(traffic);
        showUnavailable();
        return;
    }
    counting = true;
    DiskIoRates rates;
    if (takeDiskIoReading(traffic, reading, &rates) == DISK_IO_SAME_TIME) return;  // nothing to show anew
    showRates(rates);
}

void releaseDiskIoSampler() {
    releasePerfDataBuffer(buffer);
    traffic = DiskIoState();
    counting = false;
}

DiskIoSummary diskIoSummary() {
    return DiskIoSummary{counting ? reading.instance : "", traffic.readTotal, traffic.writtenTotal};
}

void resetDiskIoSampler() {
    releaseDiskIoSampler();
    physicalDisksAbsent = false;
}
