// Processor load meter: the counter source by platform, the performance-data query, the walk
// over the returned block (every length and offset checked against the bytes it holds), the
// instance-name comparison, the load arithmetic, and the processor-times source.
#include "sampling/load_meter.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "sampling/meter_platform.h"
#include "sampling/perf_layout.h"

using namespace perflayout;

ProcessorLoadMeter cpuMeter;
PerfDataBuffer perfDataBuffer;

PerfDataBuffer::~PerfDataBuffer() { free(data); }

namespace {

const MeterPlatform* installedPlatform = nullptr;

// Module-wide, like the buffer: one answer for every meter, kept until unload.
bool platformClassKnown = false;
PlatformClass platformClass = otherPlatform;
bool processorTimesInUse = false;
// A query opened HKEY_PERFORMANCE_DATA and no close followed yet.
bool performanceDataOpen = false;

const char* const COUNTER_SWITCH_KEYS[] = {
    "SYSTEM\\CurrentControlSet\\Services\\PerfOS\\Performance",
    "SYSTEM\\CurrentControlSet\\Services\\PerfProc\\Performance",
};
const char* const COUNTER_SWITCH_VALUE = "Disable Performance Counters";

// Both counters hold the processors' accumulated idle time in 100 ns units.
struct CounterSource {
    uint32_t objectIndex;
    uint32_t counterIndex;
    const char* instanceName;
};
const CounterSource SYSTEM_OBJECT_SOURCE = {2, 240, ""};           // NT 4: the system object
const CounterSource PROCESSOR_OBJECT_SOURCE = {238, 6, "_Total"};  // later NT: all processors

const CounterSource* counterSourceFor(PlatformClass platform) {
    if (platform == ntVersion4) return &SYSTEM_OBJECT_SOURCE;
    if (platform == ntOther) return &PROCESSOR_OBJECT_SOURCE;
    return nullptr;
}

// ---- Reading the data block ----------------------------------------------------------------

// A stretch [begin, end) of the data block. A field is read only after the stretch that holds
// it has been found to lie inside the bytes the query returned.
struct Span {
    size_t begin;
    size_t end;
};

// The `length` bytes at `offset` into `outer`, when they lie wholly inside it.
bool innerSpan(Span outer, uint64_t offset, uint64_t length, Span* inner) {
    const uint64_t room = outer.end - outer.begin;
    if (offset > room || length > room - offset) return false;
    inner->begin = outer.begin + static_cast<size_t>(offset);
    inner->end = inner->begin + static_cast<size_t>(length);
    return true;
}

uint16_t read16(const uint8_t* block, size_t at) {
    return static_cast<uint16_t>(block[at] | (block[at + 1] << 8));
}

uint32_t read32(const uint8_t* block, size_t at) {
    return static_cast<uint32_t>(block[at]) | static_cast<uint32_t>(block[at + 1]) << 8 |
           static_cast<uint32_t>(block[at + 2]) << 16 | static_cast<uint32_t>(block[at + 3]) << 24;
}

int64_t read64(const uint8_t* block, size_t at) {
    return static_cast<int64_t>(static_cast<uint64_t>(read32(block, at + 4)) << 32 | read32(block, at));
}

// A structure at `offset` into `outer` whose own 32-bit length field gives its size. The size
// must cover the fixed header, so that a zero length cannot hold a walk in place, and the whole
// structure must lie inside `outer`.
bool sizedStructure(const uint8_t* block, Span outer, uint64_t offset, size_t headerSize, size_t lengthField,
                    Span* structure) {
    Span header;
    if (!innerSpan(outer, offset, headerSize, &header)) return false;
    const uint32_t length = read32(block, header.begin + lengthField);
    if (length < headerSize) return false;
    return innerSpan(outer, offset, length, structure);
}

// CounterOffset of the object's counter definition with the given title index.
bool findCounterOffset(const uint8_t* block, Span object, uint32_t counterIndex, uint32_t* counterOffset) {
    const uint32_t headerLength = read32(block, object.begin + OBJECT_HEADER_LENGTH);
    const uint32_t definitionLength = read32(block, object.begin + OBJECT_DEFINITION_LENGTH);
    Span definitions;
    if (headerLength < OBJECT_SIZE || definitionLength < headerLength) return false;
    if (!innerSpan(object, headerLength, definitionLength - headerLength, &definitions)) return false;
    const uint32_t count = read32(block, object.begin + OBJECT_NUM_COUNTERS);
    uint64_t at = 0;
    for (uint32_t i = 0; i < count; ++i) {
        Span definition;
        if (!sizedStructure(block, definitions, at, COUNTER_DEFINITION_SIZE, COUNTER_BYTE_LENGTH, &definition))
            return false;
        if (read32(block, definition.begin + COUNTER_NAME_TITLE_INDEX) == counterIndex) {
            *counterOffset = read32(block, definition.begin + COUNTER_OFFSET);
            return true;
        }
        at = definition.end - definitions.begin;
    }
    return false;
}

char foldAsciiCase(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

enum NameMatch { nameDiffers, nameMatches, nameMalformed };

// Compares the instance's NUL-terminated UTF-16 name, converted to the ANSI code page, with the
// wanted narrow name. Converts on the stack: a name of more than twice the wanted length in
// UTF-16 units cannot convert to the wanted length, since every character yields at least one
// byte, so it differs unconverted. A refused conversion is a name that differs.
NameMatch compareInstanceName(const uint8_t* block, Span instance, const char* wanted, size_t wantedLength) {
    const uint32_t nameOffset = read32(block, instance.begin + INSTANCE_NAME_OFFSET);
    if (nameOffset > instance.end - instance.begin) return nameMalformed;
    const Span name = {instance.begin + nameOffset, instance.end};
    size_t units = 0;
    for (size_t at = name.begin;; at += 2, ++units) {
        if (name.end - at < 2) return nameMalformed;  // no terminator inside the instance
        if (read16(block, at) == 0) break;
    }
    if (units == 0) return wantedLength == 0 ? nameMatches : nameDiffers;
    if (wantedLength == 0 || wantedLength > MAX_INSTANCE_NAME || units > 2 * wantedLength) return nameDiffers;

    uint16_t wide[2 * MAX_INSTANCE_NAME];
    for (size_t i = 0; i < units; ++i) wide[i] = read16(block, name.begin + 2 * i);
    char narrow[MAX_INSTANCE_NAME];
    const int32_t written = meterPlatform().wideToAnsi(wide, static_cast<int32_t>(units), narrow,
                                                       static_cast<int32_t>(wantedLength));
    if (written != static_cast<int32_t>(wantedLength)) return nameDiffers;
    for (size_t i = 0; i < wantedLength; ++i)
        if (foldAsciiCase(narrow[i]) != foldAsciiCase(wanted[i])) return nameDiffers;
    return nameMatches;
}

// The counter block of the wanted instance, or the object's single block when it has no instances.
bool findInstanceCounters(const uint8_t* block, Span object, const char* wanted, Span* counters) {
    const uint32_t definitionLength = read32(block, object.begin + OBJECT_DEFINITION_LENGTH);
    const int32_t count = static_cast<int32_t>(read32(block, object.begin + OBJECT_NUM_INSTANCES));
    if (count == OBJECT_NO_INSTANCES)
        return sizedStructure(block, object, definitionLength, COUNTER_BLOCK_SIZE, COUNTER_BLOCK_BYTE_LENGTH, counters);
    const size_t wantedLength = strlen(wanted);
    uint64_t at = definitionLength;
    for (int32_t i = 0; i < count; ++i) {
        Span instance;
        if (!sizedStructure(block, object, at, INSTANCE_SIZE, INSTANCE_BYTE_LENGTH, &instance)) return false;
        const NameMatch match = compareInstanceName(block, instance, wanted, wantedLength);
        if (match == nameMalformed) return false;
        Span instanceCounters;
        if (!sizedStructure(block, object, instance.end - object.begin, COUNTER_BLOCK_SIZE, COUNTER_BLOCK_BYTE_LENGTH,
                            &instanceCounters))
            return false;
        if (match == nameMatches) {
            *counters = instanceCounters;
            return true;
        }
        at = instanceCounters.end - object.begin;
    }
    return false;
}

// Eight bytes are read at the counter's offset whatever its definition says of size and type;
// they must lie inside the counter block.
bool counterValue(const uint8_t* block, Span object, uint32_t counterIndex, const char* instanceName, int64_t* value) {
    uint32_t counterOffset = 0;
    Span counters, field;
    if (!findCounterOffset(block, object, counterIndex, &counterOffset)) return false;
    if (!findInstanceCounters(block, object, instanceName ? instanceName : "", &counters)) return false;
    if (!innerSpan(counters, counterOffset, sizeof(int64_t), &field)) return false;
    *value = read64(block, field.begin);
    return true;
}

// ---- The query ---------------------------------------------------------------------------

bool ensurePerfDataBuffer() {
    if (perfDataBuffer.data) return true;
    perfDataBuffer.data = static_cast<uint8_t*>(malloc(PERF_DATA_INITIAL_SIZE));
    if (!perfDataBuffer.data) return false;
    perfDataBuffer.size = PERF_DATA_INITIAL_SIZE;
    return true;
}

// Some systems leave an undefined size behind ERROR_MORE_DATA for this key: growing from less
// than the capacity would shrink the buffer and ask forever, so growth starts from the larger.
bool growPerfDataBuffer(uint32_t sizeLeft) {
    const uint32_t from = sizeLeft > perfDataBuffer.size ? sizeLeft : perfDataBuffer.size;
    if (from > PERF_DATA_SIZE_LIMIT - PERF_DATA_GROWTH) return false;
    void* grown = realloc(perfDataBuffer.data, from + PERF_DATA_GROWTH);
    if (!grown) return false;  // the old block stays, and stays owned
    perfDataBuffer.data = static_cast<uint8_t*>(grown);
    perfDataBuffer.size = from + PERF_DATA_GROWTH;
    return true;
}

// Fills perfDataBuffer with the data block of one object; answers the number of valid bytes,
// 0 when the query or the buffer failed.
size_t queryPerformanceObject(uint32_t objectIndex) {
    if (!ensurePerfDataBuffer()) return 0;
    char valueName[16];
    snprintf(valueName, sizeof valueName, "%d", static_cast<int>(objectIndex));
    memset(perfDataBuffer.data, 0, perfDataBuffer.size);
    const MeterPlatform& platform = meterPlatform();
    uint32_t sizeLeft = perfDataBuffer.size;
    performanceDataOpen = true;  // even a failed query may have loaded providers
    int32_t answer = platform.queryPerformanceData(valueName, perfDataBuffer.data, &sizeLeft);
    while (answer == METER_ERROR_MORE_DATA) {
        if (!growPerfDataBuffer(sizeLeft)) return 0;
        sizeLeft = perfDataBuffer.size;
        answer = platform.queryPerformanceData(valueName, perfDataBuffer.data, &sizeLeft);
    }
    if (answer != METER_ERROR_SUCCESS) return 0;
    return sizeLeft < perfDataBuffer.size ? sizeLeft : perfDataBuffer.size;
}

bool writeCounterSwitch(const char* subKey, uint32_t disabled) {
    const MeterPlatform& platform = meterPlatform();
    uintptr_t key = 0;
    if (platform.openMachineKey(subKey, &key) != METER_ERROR_SUCCESS) return false;
    platform.writeDwordValue(key, COUNTER_SWITCH_VALUE, disabled);
    platform.closeKey(key);
    return true;
}

// ---- Arithmetic --------------------------------------------------------------------------

// Counters and stamps may wrap or jump: the difference wraps too instead of overflowing.
int64_t difference(int64_t now, int64_t before) {
    return static_cast<int64_t>(static_cast<uint64_t>(now) - static_cast<uint64_t>(before));
}

// One minus the idle share of the elapsed time, in percent. Exact halves round up; a result
// below 0 is 0; above 100 is returned as it is, up to the largest 32-bit value. The same stamp
// twice leaves no interval to measure and gives 0.
// Each step is rounded to double, as SSE does in a 64-bit build: the x87 unit of a 32-bit
// build keeps 64-bit mantissas between steps, and an exact half such as 995 of 1000 then
// rounds down instead of up.
double inDouble(double value) {
    volatile double stored = value;
    return stored;
}

int32_t roundedLoad(int64_t counterDifference, int64_t timeDifference) {
    if (timeDifference == 0) return 0;
    const double ratio = inDouble(static_cast<double>(counterDifference) / static_cast<double>(timeDifference));
    const double rounded = inDouble(inDouble(inDouble(1.0 - ratio) * 100.0) + 0.5);
    if (rounded < 0.0) return 0;
    if (rounded >= 2147483647.0) return INT32_MAX;
    return static_cast<int32_t>(rounded);
}

}  // namespace

// ---- Public interface --------------------------------------------------------------------

const MeterPlatform& meterPlatform() { return installedPlatform ? *installedPlatform : systemMeterPlatform(); }

void installMeterPlatform(const MeterPlatform* platform) { installedPlatform = platform; }

PlatformClass detectPlatformClass() {
    uint32_t platformId = 0, majorVersion = 0;
    if (!meterPlatform().queryVersion(&platformId, &majorVersion)) return otherPlatform;
    if (platformId == 1) return windows9x;
    if (platformId == 2) return majorVersion == 4 ? ntVersion4 : ntOther;
    return otherPlatform;
}

int64_t readCounterValue(const uint8_t* block, size_t blockLength, size_t objectOffset, uint32_t counterIndex,
                         const char* instanceName) {
    Span object;
    int64_t value = 0;
    if (!block || !sizedStructure(block, {0, blockLength}, objectOffset, OBJECT_SIZE, OBJECT_TOTAL_BYTE_LENGTH, &object))
        return -1;
    return counterValue(block, object, counterIndex, instanceName, &value) ? value : -1;
}

bool readBlockCounter(const uint8_t* block, size_t length, uint32_t objectIndex, uint32_t counterIndex,
                      const char* instanceName, int64_t* counter, int64_t* time) {
    Span whole;
    if (!block || !sizedStructure(block, {0, length}, 0, DATA_BLOCK_SIZE, DATA_TOTAL_BYTE_LENGTH, &whole)) return false;
    const uint32_t headerLength = read32(block, DATA_HEADER_LENGTH);
    if (headerLength < DATA_BLOCK_SIZE) return false;
    const uint32_t objectCount = read32(block, DATA_NUM_OBJECT_TYPES);
    uint64_t at = headerLength;
    for (uint32_t i = 0; i < objectCount; ++i) {
        Span object;
        if (!sizedStructure(block, whole, at, OBJECT_SIZE, OBJECT_TOTAL_BYTE_LENGTH, &object)) return false;
        if (read32(block, object.begin + OBJECT_NAME_TITLE_INDEX) == objectIndex) {
            if (!counterValue(block, object, counterIndex, instanceName, counter)) return false;
            *time = read64(block, DATA_PERF_TIME_100NSEC);
            return true;
        }
        at = object.end;
    }
    return false;
}

int32_t utilityPercent(double utility) {
    // Compared so that NaN, which fails every comparison, reads as 0.
    if (!(utility >= 0.0)) return 0;
    if (utility >= 100.0) return 100;
    return static_cast<int32_t>(inDouble(utility + 0.5));
}

bool usingProcessorTimes() { return processorTimesInUse; }

void releasePerformanceData() {
    if (!performanceDataOpen) return;
    meterPlatform().closePerformanceData();
    performanceDataOpen = false;
}

void resetLoadMeterState() {
    free(perfDataBuffer.data);
    perfDataBuffer.data = nullptr;
    perfDataBuffer.size = 0;
    platformClassKnown = false;
    platformClass = otherPlatform;
    processorTimesInUse = false;
    performanceDataOpen = false;
}

ProcessorLoadMeter::ProcessorLoadMeter()
    : firstSample(true), lastCounter(0), lastTime(0), baselineSource(noBaseline) {}

ProcessorLoadMeter::~ProcessorLoadMeter() {}

bool ProcessorLoadMeter::enablePerformanceCounters(bool enable) {
    if (detectPlatformClass() != ntOther) return true;
    const uint32_t disabled = enable ? 0 : 1;
    for (const char* key : COUNTER_SWITCH_KEYS)
        if (!writeCounterSwitch(key, disabled)) return false;  // a value already written stays
    return true;
}

int32_t ProcessorLoadMeter::currentLoad() {
    if (!platformClassKnown) {
        platformClass = detectPlatformClass();
        platformClassKnown = true;
    }
    if (firstSample) enablePerformanceCounters(true);
    const CounterSource* source = counterSourceFor(platformClass);
    if (!source) return -1;
    if (processorTimesInUse) return loadFromProcessorTimes();
    return loadFromPerformanceData(source->objectIndex, source->counterIndex, source->instanceName);
}

// A missing value (no such object, counter or instance, a failed query or buffer, a malformed
// block) neither moves the baseline nor reads as full load: from then on every meter measures
// the processor times instead.
int32_t ProcessorLoadMeter::loadFromPerformanceData(uint32_t objectIndex, uint32_t counterIndex,
                                                    const char* instanceName) {
    const size_t length = queryPerformanceObject(objectIndex);
    int64_t counter = 0, time = 0;
    if (!readBlockCounter(perfDataBuffer.data, length, objectIndex, counterIndex, instanceName, &counter, &time)) {
        processorTimesInUse = true;
        return loadFromProcessorTimes();
    }
    return nextLoad(performanceDataBaseline, counter, time);
}

// Idle time over kernel plus user time, the kernel time including the idle time. When the
// system cannot tell, the interval is not measured and the baseline stays.
int32_t ProcessorLoadMeter::loadFromProcessorTimes() {
    uint64_t idle = 0, kernel = 0, user = 0;
    if (!meterPlatform().readSystemTimes(&idle, &kernel, &user)) return 0;
    return nextLoad(processorTimesBaseline, static_cast<int64_t>(idle), static_cast<int64_t>(kernel + user));
}

int32_t ProcessorLoadMeter::nextLoad(BaselineSource source, int64_t counter, int64_t time) {
    if (firstSample || baselineSource != source) {
        firstSample = false;
        baselineSource = source;
        lastCounter = counter;
        lastTime = time;
        return 0;
    }
    const int64_t counterDifference = difference(counter, lastCounter);
    const int64_t timeDifference = difference(time, lastTime);
    lastCounter = counter;
    lastTime = time;
    return roundedLoad(counterDifference, timeDifference);
}
