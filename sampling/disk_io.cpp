// Disk activity: the physical-disk object's byte counters of one disk or of all, and their rates
// over the block's own time base, in exact integer arithmetic.
#include "sampling/disk_io.h"

#include <cstring>

#include "sampling/exact_math.h"
#include "sampling/perf_layout.h"

using namespace perfwalk;

namespace {

bool isDriveLetter(const char* text, size_t length) {
    const char c = foldAsciiCase(text[0]);
    return length == 2 && c >= 'a' && c <= 'z' && text[1] == ':';
}

// True when one of the blank-separated words of the name is the drive letter: a physical disk's
// instance is its number and the letters of its volumes ("1 D: E:").
bool holdsDriveLetter(const char* name, size_t length, const char* letter) {
    size_t at = 0;
    while (at < length) {
        while (at < length && name[at] == ' ') ++at;
        size_t end = at;
        while (end < length && name[end] != ' ') ++end;
        if (end - at == 2 && sameFoldedText(name + at, letter, 2)) return true;
        at = end;
    }
    return false;
}

// Matches instances by whole name or by a drive letter they hold, keeping the name of the one
// that matched.
struct DiskMatcher {
    const uint8_t* block;
    const char* wanted;
    size_t wantedLength;
    bool byLetter;
    WideToAnsi convert;
    DiskIoCounters* counters;

    NameMatch operator()(Span name) const {
        char narrow[MAX_NAME_BYTES];
        const int32_t written = convertName(block, name, convert, narrow, sizeof narrow);
        if (written <= 0) return nameDiffers;  // empty, refused or longer than any wanted name
        const size_t length = static_cast<size_t>(written);
        const bool whole = length == wantedLength && sameFoldedText(narrow, wanted, length);
        if (!whole && !(byLetter && holdsDriveLetter(narrow, length, wanted))) return nameDiffers;
        memcpy(counters->instance, narrow, length);
        counters->instance[length] = '\0';
        return nameMatches;
    }
};

// The 8-byte counter with the title index in the instance's counter block.
bool readCounter(const uint8_t* block, Span object, Span counterBlock, uint32_t counterIndex, int64_t* value) {
    CounterDefinition counter;
    Span field;
    if (!findCounter(block, object, counterIndex, &counter) || counter.size != sizeof(int64_t)) return false;
    if (!counterField(counterBlock, counter.offset, sizeof(int64_t), &field)) return false;
    *value = read64(block, field.begin);
    return true;
}

}  // namespace

DiskIoFound readDiskIoCounters(const uint8_t* block, size_t length, const char* wanted, WideToAnsi convert,
                               DiskIoCounters* counters) {
    Span whole, object, counterBlock;
    if (!dataBlock(block, length, &whole)) return DISK_IO_NO_DATA;
    const ObjectSearch search = findObject(block, whole, PHYSICAL_DISK_OBJECT, &object);
    if (search != objectFound) return search == objectAbsent ? DISK_IO_NO_OBJECT : DISK_IO_NO_DATA;
    counters->perfTime = read64(block, whole.begin + perflayout::DATA_PERF_TIME);
    counters->perfFreq = read64(block, whole.begin + perflayout::DATA_PERF_FREQ);
    if (counters->perfFreq <= 0) return DISK_IO_NO_DATA;
    // Every physical disk is an instance; an object without instances names none of them.
    if (!hasInstances(block, object)) return DISK_IO_NO_DISK;
    const char* name = wanted && wanted[0] ? wanted : ALL_DISKS_INSTANCE;
    const size_t nameLength = strnlen(name, MAX_NAME_BYTES + 1);
    if (nameLength > MAX_NAME_BYTES) return DISK_IO_NO_DISK;  // no instance name is that long
    const DiskMatcher match = {block, name, nameLength, isDriveLetter(name, nameLength), convert, counters};
    if (!findInstance(block, object, match, &counterBlock)) return DISK_IO_NO_DISK;
    const bool read = readCounter(block, object, counterBlock, DISK_READ_BYTES_COUNTER, &counters->readBytes) &&
                      readCounter(block, object, counterBlock, DISK_WRITE_BYTES_COUNTER, &counters->writeBytes);
    return read ? DISK_IO_FOUND : DISK_IO_NO_DISK;
}

void forgetDiskIoBaseline(DiskIoState& state) { state.hasBaseline = false; }

int64_t diskByteRate(int64_t before, int64_t now, uint64_t ticks, uint64_t frequency) {
    if (now <= before) return 0;
    const uint64_t bytes = static_cast<uint64_t>(now) - static_cast<uint64_t>(before);
    const uint64_t rate = mulDivFloor(bytes, frequency, ticks);
    return rate > static_cast<uint64_t>(INT64_MAX) ? INT64_MAX : static_cast<int64_t>(rate);
}

DiskIoOutcome takeDiskIoReading(DiskIoState& state, const DiskIoCounters& reading, DiskIoRates* rates) {
    *rates = DiskIoRates{0, 0};
    const DiskIoCounters& before = state.previous;
    const bool comparable = state.hasBaseline && reading.perfFreq == before.perfFreq &&
                            reading.perfTime >= before.perfTime && strcmp(reading.instance, before.instance) == 0;
    if (comparable && reading.perfTime == before.perfTime) return DISK_IO_SAME_TIME;
    if (!comparable) {
        state.previous = reading;
        state.hasBaseline = true;
        return DISK_IO_FIRST_READING;
    }
    const uint64_t ticks = static_cast<uint64_t>(reading.perfTime) - static_cast<uint64_t>(before.perfTime);
    const uint64_t frequency = static_cast<uint64_t>(reading.perfFreq);
    rates->read = diskByteRate(before.readBytes, reading.readBytes, ticks, frequency);
    rates->write = diskByteRate(before.writeBytes, reading.writeBytes, ticks, frequency);
    // A counter that went down moved no bytes the interval can tell of.
    if (reading.readBytes > before.readBytes)
        state.readTotal = saturatingAdd(state.readTotal, static_cast<uint64_t>(reading.readBytes) - static_cast<uint64_t>(before.readBytes));
    if (reading.writeBytes > before.writeBytes)
        state.writtenTotal =
            saturatingAdd(state.writtenTotal, static_cast<uint64_t>(reading.writeBytes) - static_cast<uint64_t>(before.writeBytes));
    state.previous = reading;
    return DISK_IO_RATES;
}
