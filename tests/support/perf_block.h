// Synthetic performance data blocks: a test describes objects, counters and instances in a few
// lines and gets the bytes as the system lays them out, with the offset of every part.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace perfblock {

struct Instance {
    std::u16string name;
    std::vector<int64_t> values;  // one per counter of the object, in definition order
};

struct Object {
    uint32_t titleIndex = 0;
    std::vector<uint32_t> counters;   // counter title indices; each value takes 8 bytes
    bool hasInstances = true;         // false: NumInstances -1 and one counter block
    std::vector<Instance> instances;  // when hasInstances
    std::vector<int64_t> values;      // the single counter block, when !hasInstances
    size_t trailingBytes = 0;         // unused bytes at the end, counted in TotalByteLength
};

// The bytes of a block and where each part starts, for tests that damage one field.
struct Block {
    std::vector<uint8_t> bytes;
    std::vector<size_t> objects;
    std::vector<std::vector<size_t>> counterDefinitions;  // per object
    std::vector<std::vector<size_t>> instances;           // per object
    std::vector<std::vector<size_t>> counterBlocks;       // per object, one per instance or the single one

    size_t size() const { return bytes.size(); }
    uint32_t get32(size_t at) const;
    void put32(size_t at, uint32_t value);
    void put16(size_t at, uint16_t value);
};

// A PERF_DATA_BLOCK with a system name after its header (so HeaderLength exceeds the
// structure), the given PerfTime100nSec, and the objects in order.
Block build(int64_t perfTime100nSec, const std::vector<Object>& objects);

// The processor object (238) with three counters, the processor time (6) second; each
// instance's processor-time value is the given idle time.
Object processorObject(const std::vector<std::pair<std::u16string, int64_t>>& idleTimes);
// The system object of NT 4 (2): no instances, three counters, total processor time (240) last.
Object systemObject(int64_t idleTime);
struct Disk {
    std::u16string name;  // "0 C:"
    int64_t readBytes;
    int64_t writeBytes;
};
// The physical-disk object (234) as the system lists it: five counters, the write bytes (222)
// before the read bytes (220) and neither first, one instance per disk and, with withTotal, a
// last one named "_Total" whose counts are the sums.
Object diskObject(const std::vector<Disk>& disks, bool withTotal = true);
// Where diskObject puts the read and write bytes among the counters.
constexpr size_t DISK_READ_COUNTER_POSITION = 3;
constexpr size_t DISK_WRITE_COUNTER_POSITION = 1;
// An object of another kind that also counts with index 6: `count` instances named "p0",
// "p1", ... and a last one named "_Total", each with the values 777 and 888.
Object otherObject(uint32_t titleIndex, int count);

}  // namespace perfblock
