// Builds synthetic performance data blocks field by field at the system's offsets.
#include "support/perf_block.h"

#include <cstring>

#include "sampling/perf_layout.h"

using namespace perflayout;

namespace perfblock {

namespace {

const std::u16string SYSTEM_NAME = u"KELVORA-TEST";
constexpr uint32_t PERF_100NSEC_TIMER_INV = 0x25450500;  // counter type of idle-time counters

size_t roundUp8(size_t n) { return (n + 7) & ~static_cast<size_t>(7); }

// Counter block: its ByteLength, 4 bytes of padding, then one 8-byte value per counter.
size_t counterValueOffset(size_t counter) { return 8 + 8 * counter; }
size_t counterBlockLength(size_t counters) { return counterValueOffset(counters); }

struct Writer {
    Block& block;
    size_t append(size_t length) {
        size_t at = block.bytes.size();
        block.bytes.resize(at + length, 0);
        return at;
    }
    void put64(size_t at, int64_t value) {
        block.put32(at, static_cast<uint32_t>(value));
        block.put32(at + 4, static_cast<uint32_t>(static_cast<uint64_t>(value) >> 32));
    }
    void putName(size_t at, const std::u16string& name) {
        for (size_t i = 0; i < name.size(); ++i) block.put16(at + 2 * i, static_cast<uint16_t>(name[i]));
    }
    size_t counterBlock(const std::vector<int64_t>& values, size_t counters) {
        const size_t at = append(counterBlockLength(counters));
        block.put32(at + COUNTER_BLOCK_BYTE_LENGTH, static_cast<uint32_t>(counterBlockLength(counters)));
        for (size_t i = 0; i < counters && i < values.size(); ++i) put64(at + counterValueOffset(i), values[i]);
        return at;
    }
};

}  // namespace

uint32_t Block::get32(size_t at) const {
    return static_cast<uint32_t>(bytes.at(at)) | static_cast<uint32_t>(bytes.at(at + 1)) << 8 |
           static_cast<uint32_t>(bytes.at(at + 2)) << 16 | static_cast<uint32_t>(bytes.at(at + 3)) << 24;
}

void Block::put32(size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes.at(at + i) = static_cast<uint8_t>(value >> (8 * i));
}

void Block::put16(size_t at, uint16_t value) {
    bytes.at(at) = static_cast<uint8_t>(value);
    bytes.at(at + 1) = static_cast<uint8_t>(value >> 8);
}

Block build(int64_t perfTime100nSec, const std::vector<Object>& objects) {
    Block block;
    Writer w{block};
    const size_t nameBytes = (SYSTEM_NAME.size() + 1) * 2;
    const size_t headerLength = roundUp8(DATA_BLOCK_SIZE + nameBytes);
    w.append(headerLength);
    w.putName(DATA_SIGNATURE, u"PERF");
    block.put32(DATA_LITTLE_ENDIAN, 1);
    block.put32(DATA_VERSION, 1);
    block.put32(DATA_REVISION, 1);
    block.put32(DATA_HEADER_LENGTH, static_cast<uint32_t>(headerLength));
    block.put32(DATA_NUM_OBJECT_TYPES, static_cast<uint32_t>(objects.size()));
    block.put32(DATA_DEFAULT_OBJECT, 238);
    w.put64(DATA_PERF_TIME, perfTime100nSec / 100);
    w.put64(DATA_PERF_FREQ, 100000);
    w.put64(DATA_PERF_TIME_100NSEC, perfTime100nSec);
    block.put32(DATA_SYSTEM_NAME_LENGTH, static_cast<uint32_t>(nameBytes));
    block.put32(DATA_SYSTEM_NAME_OFFSET, static_cast<uint32_t>(DATA_BLOCK_SIZE));
    w.putName(DATA_BLOCK_SIZE, SYSTEM_NAME);

    for (const Object& object : objects) {
        const size_t start = w.append(OBJECT_SIZE);
        block.objects.push_back(start);
        block.counterDefinitions.emplace_back();
        block.instances.emplace_back();
        block.counterBlocks.emplace_back();
        const size_t counters = object.counters.size();
        block.put32(start + OBJECT_HEADER_LENGTH, static_cast<uint32_t>(OBJECT_SIZE));
        block.put32(start + OBJECT_NAME_TITLE_INDEX, object.titleIndex);
        block.put32(start + OBJECT_HELP_TITLE_INDEX, object.titleIndex + 1);
        block.put32(start + OBJECT_DETAIL_LEVEL, 100);
        block.put32(start + OBJECT_NUM_COUNTERS, static_cast<uint32_t>(counters));
        block.put32(start + OBJECT_NUM_INSTANCES, object.hasInstances
                                                      ? static_cast<uint32_t>(object.instances.size())
                                                      : static_cast<uint32_t>(OBJECT_NO_INSTANCES));
        block.put32(start + OBJECT_CODE_PAGE, 0);  // names in UTF-16
        for (size_t i = 0; i < counters; ++i) {
            const size_t at = w.append(COUNTER_DEFINITION_SIZE);
            block.counterDefinitions.back().push_back(at);
            block.put32(at + COUNTER_BYTE_LENGTH, static_cast<uint32_t>(COUNTER_DEFINITION_SIZE));
            block.put32(at + COUNTER_NAME_TITLE_INDEX, object.counters[i]);
            block.put32(at + COUNTER_HELP_TITLE_INDEX, object.counters[i] + 1);
            block.put32(at + COUNTER_DETAIL_LEVEL, 100);
            block.put32(at + COUNTER_TYPE, PERF_100NSEC_TIMER_INV);
            block.put32(at + COUNTER_SIZE, 8);
            block.put32(at + COUNTER_OFFSET, static_cast<uint32_t>(counterValueOffset(i)));
        }
        block.put32(start + OBJECT_DEFINITION_LENGTH, static_cast<uint32_t>(block.size() - start));
        if (object.hasInstances) {
            for (const Instance& instance : object.instances) {
                const size_t nameLength = (instance.name.size() + 1) * 2;
                const size_t length = roundUp8(INSTANCE_SIZE + nameLength);
                const size_t at = w.append(length);
                block.instances.back().push_back(at);
                block.put32(at + INSTANCE_BYTE_LENGTH, static_cast<uint32_t>(length));
                block.put32(at + INSTANCE_UNIQUE_ID, 0xFFFFFFFFu);  // no unique id: named instances
                block.put32(at + INSTANCE_NAME_OFFSET, static_cast<uint32_t>(INSTANCE_SIZE));
                block.put32(at + INSTANCE_NAME_LENGTH, static_cast<uint32_t>(nameLength));
                w.putName(at + INSTANCE_SIZE, instance.name);
                block.counterBlocks.back().push_back(w.counterBlock(instance.values, counters));
            }
        } else {
            block.counterBlocks.back().push_back(w.counterBlock(object.values, counters));
        }
        w.append(object.trailingBytes);
        block.put32(start + OBJECT_TOTAL_BYTE_LENGTH, static_cast<uint32_t>(block.size() - start));
    }
    block.put32(DATA_TOTAL_BYTE_LENGTH, static_cast<uint32_t>(block.size()));
    return block;
}

Object processorObject(const std::vector<std::pair<std::u16string, int64_t>>& idleTimes) {
    Object object;
    object.titleIndex = 238;
    object.counters = {142, 6, 144};  // user time, processor time, privileged time
    for (const auto& entry : idleTimes) object.instances.push_back({entry.first, {11111, entry.second, 33333}});
    return object;
}

Object systemObject(int64_t idleTime) {
    Object object;
    object.titleIndex = 2;
    object.counters = {10, 12, 240};
    object.hasInstances = false;
    object.values = {4444, 5555, idleTime};
    return object;
}

Object diskObject(const std::vector<Disk>& disks, bool withTotal) {
    Object object;
    object.titleIndex = 234;
    object.counters = {198, 222, 200, 220, 216};  // queue length, write bytes, disk time, read bytes, transfers
    int64_t read = 0, write = 0;
    auto values = [](int64_t r, int64_t w) { return std::vector<int64_t>{4, w, 5555, r, 66}; };
    for (const Disk& disk : disks) {
        object.instances.push_back({disk.name, values(disk.readBytes, disk.writeBytes)});
        read += disk.readBytes;
        write += disk.writeBytes;
    }
    if (withTotal) object.instances.push_back({u"_Total", values(read, write)});
    return object;
}

Object otherObject(uint32_t titleIndex, int count) {
    Object object;
    object.titleIndex = titleIndex;
    object.counters = {6, 180};  // the same counter index as the processor's: only the object tells them apart
    for (int i = 0; i < count; ++i) {
        std::u16string name = u"p";
        for (char c : std::to_string(i)) name += static_cast<char16_t>(c);
        object.instances.push_back({name, {777, 888}});
    }
    object.instances.push_back({u"_Total", {777, 888}});
    return object;
}

}  // namespace perfblock
