// Disk activity from the system's performance data: the walk to the physical-disk object's read
// and write byte counters of one disk or all of them, and the read and write rates between two
// readings. No windows.h, so the walk and the arithmetic also build natively for sanitizers and
// fuzzers; sampling/disk_io_sampler.cpp queries the data and shows the rates.
#pragma once

#include <cstddef>
#include <cstdint>

#include "sampling/perf_walk.h"

// Title indices of the physical-disk object and its two byte counters, the same on every
// language of the system.
constexpr uint32_t PHYSICAL_DISK_OBJECT = 234;
constexpr uint32_t DISK_READ_BYTES_COUNTER = 220;
constexpr uint32_t DISK_WRITE_BYTES_COUNTER = 222;
// The instance that sums every physical disk.
constexpr const char* ALL_DISKS_INSTANCE = "_Total";

// One reading of a disk's counters, with the block's time base.
struct DiskIoCounters {
    int64_t readBytes;   // bytes read since the counter started
    int64_t writeBytes;  // bytes written
    int64_t perfTime;    // the block's PerfTime, in ticks of perfFreq a second
    int64_t perfFreq;
    char instance[perfwalk::MAX_NAME_BYTES + 1];  // the name of the instance read, as the comparison saw it
};

enum DiskIoFound {
    DISK_IO_FOUND,      // the disk's counters and the block's time base
    DISK_IO_NO_DISK,    // the object is there, but not the disk, or not its two 8-byte counters
    DISK_IO_NO_OBJECT,  // a sound block that holds no physical-disk object: the disk counters are off
    DISK_IO_NO_DATA,    // no sound block up to the object, or no time base: nothing to tell
};

// Reads the counters of the disk `wanted` names from a data block of `length` valid bytes: the
// _Total instance when wanted is empty; otherwise the instance whose whole name ("0 C:") equals
// it, or one that holds the drive letter it names ("D:"), the ASCII letters without case. The
// counters are found by their title indices and must be 8 bytes wide. Any length or offset on the
// way that points outside the block ends the walk without the disk; nothing outside the `length`
// bytes is read. `convert` turns instance names into the ANSI code page.
DiskIoFound readDiskIoCounters(const uint8_t* block, size_t length, const char* wanted, perfwalk::WideToAnsi convert,
                               DiskIoCounters* counters);

struct DiskIoRates {
    int64_t read;   // bytes a second, rounded down
    int64_t write;
};

enum DiskIoOutcome {
    DISK_IO_RATES,          // rates over the interval since the previous reading
    DISK_IO_FIRST_READING,  // nothing to compare with yet: the rates are 0
    DISK_IO_SAME_TIME,      // no time has passed: nothing changed, the previous texts stand
};

// The previous reading, kept from reading to reading, and the bytes read and written over every
// interval measured since the sampler started.
struct DiskIoState {
    DiskIoCounters previous;
    bool hasBaseline = false;
    uint64_t readTotal = 0;
    uint64_t writtenTotal = 0;
};

// Forgets the previous reading (a start, a reload, a reading without the disk): the next is a
// first one. The totals stay.
void forgetDiskIoBaseline(DiskIoState& state);

// Takes a reading and, when there is a previous one of the same instance and time base, the read
// and write rates over the interval: a counter that went down counts 0 for it, a gap gives the
// average over the gap. A time that went back, another frequency or another instance (a letter
// now held by another disk) start afresh; the same time keeps the previous reading as the one
// to compare with.
DiskIoOutcome takeDiskIoReading(DiskIoState& state, const DiskIoCounters& reading, DiskIoRates* rates);

// Bytes a second between two counter values `ticks` ticks of `frequency` apart (both at least
// 1), rounded down, at most INT64_MAX; 0 for a counter that went down.
int64_t diskByteRate(int64_t before, int64_t now, uint64_t ticks, uint64_t frequency);
