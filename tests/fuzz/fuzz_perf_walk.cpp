// Fuzz target: any byte block, taken as a performance data block, gives the processor meter's
// counter and the disk-activity counters or "missing" without reading outside its bytes, and
// bytes behind the block's own length never change the answer.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "sampling/disk_io.h"
#include "sampling/load_meter.h"
#include "sampling/meter_platform.h"
#include "sampling/perf_layout.h"

namespace {

// A single-byte code page in which the first 256 code points stand for themselves.
int32_t latin1(const uint16_t* text, int32_t units, char* out, int32_t outSize) {
    if (units > outSize) return 0;
    for (int32_t i = 0; i < units; ++i) out[i] = text[i] < 256 ? static_cast<char>(text[i]) : '?';
    return units;
}

struct Answer {
    bool found;
    int64_t counter, time;
    bool operator!=(const Answer& other) const {
        return found != other.found || (found && (counter != other.counter || time != other.time));
    }
};

Answer walk(const uint8_t* block, size_t length, uint32_t object, uint32_t counter, const char* instance) {
    Answer answer = {false, 0, 0};
    answer.found = readBlockCounter(block, length, object, counter, instance, &answer.counter, &answer.time);
    return answer;
}

struct DiskAnswer {
    bool found;
    DiskIoCounters counters;
    bool operator!=(const DiskAnswer& other) const {
        const DiskIoCounters &a = counters, &b = other.counters;
        return found != other.found ||
               (found && (a.readBytes != b.readBytes || a.writeBytes != b.writeBytes || a.perfTime != b.perfTime ||
                          a.perfFreq != b.perfFreq || strcmp(a.instance, b.instance) != 0));
    }
};

// All disks, one by its whole name, one by a drive letter.
const char* const wantedDisks[] = {"", "1 D: E:", "e:"};

DiskAnswer diskWalk(const uint8_t* block, size_t length, const char* wanted) {
    DiskAnswer answer = {};
    answer.found = readDiskIoCounters(block, length, wanted, latin1, &answer.counters) == DISK_IO_FOUND;
    if (answer.found && answer.counters.perfFreq <= 0) abort();
    return answer;
}

uint32_t totalLength(const uint8_t* data, size_t size) {
    const size_t at = perflayout::DATA_TOTAL_BYTE_LENGTH;
    if (size < at + 4) return 0;
    return static_cast<uint32_t>(data[at]) | static_cast<uint32_t>(data[at + 1]) << 8 |
           static_cast<uint32_t>(data[at + 2]) << 16 | static_cast<uint32_t>(data[at + 3]) << 24;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static MeterPlatform platform = [] {
        MeterPlatform p = systemMeterPlatform();
        p.wideToAnsi = latin1;
        return p;
    }();
    installMeterPlatform(&platform);

    // An exact-size copy: AddressSanitizer catches the first byte read past it.
    std::vector<uint8_t> exact(data, data + size);
    const Answer processors = walk(exact.data(), size, 238, 6, "_Total");
    const Answer system = walk(exact.data(), size, 2, 240, "");
    readCounterValue(exact.data(), size, 0, 6, "_Total");
    DiskAnswer disks[3];
    for (int i = 0; i < 3; ++i) disks[i] = diskWalk(exact.data(), size, wantedDisks[i]);

    // Whatever lies behind the block's TotalByteLength is not part of it.
    const uint32_t total = totalLength(data, size);
    if (total < size) {
        std::vector<uint8_t> trimmed(data, data + total);
        if (processors.found && walk(trimmed.data(), total, 238, 6, "_Total") != processors) abort();
        for (int i = 0; i < 3; ++i)
            if (disks[i].found && diskWalk(trimmed.data(), total, wantedDisks[i]) != disks[i]) abort();
    }
    std::vector<uint8_t> padded(data, data + size);
    padded.resize(size + 64, 0xA5);
    if (walk(padded.data(), size, 238, 6, "_Total") != processors) abort();
    if (walk(padded.data(), size, 2, 240, "") != system) abort();
    for (int i = 0; i < 3; ++i)
        if (diskWalk(padded.data(), size, wantedDisks[i]) != disks[i]) abort();
    return 0;
}
