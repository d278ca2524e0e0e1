// Processor load meter: the counter source by platform, the performance-data query, the reading
// of the returned block (through the bounds-checked walk of sampling/perf_walk.cpp), the
// instance-name comparison, the load arithmetic, and the processor-times source.
#include "sampling/load_meter.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "sampling/meter_platform.h"
#include "sampling/perf_layout.h"
#include "sampling/perf_walk.h"

using namespace perflayout;
using namespace perfwalk;

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

// Compares the instance's name, converted to the ANSI code page, with the wanted narrow name,
// the ASCII letters without case. A name that cannot convert to the wanted length (a refused
// conversion too) differs.
NameMatch compareInstanceName(const uint8_t* block, Span name, const char* wanted, size_t wantedLength) {
    if (nameUnits(name) == 0) return wantedLength == 0 ? nameMatches : nameDiffers;
    if (wantedLength == 0 || wantedLength > MAX_INSTANCE_NAME) return nameDiffers;
    char narrow[MAX_INSTANCE_NAME];
    const int32_t written = convertName(block, name, meterPlatform().wideToAnsi, narrow, wantedLength);
    if (written != static_cast<int32_t>(wantedLength)) return nameDiffers;
    return sameFoldedText(narrow, wanted, wantedLength) ? nameMatches : nameDiffers;
}

// The counter block of the wanted instance, or the object's single block when it has no instances.
bool findInstanceCounters(const uint8_t* block, Span object, const char* wanted, Span* counters) {
    if (!hasInstances(block, object)) return singleCounterBlock(block, object, counters);
    const size_t wantedLength = strlen(wanted);
    return findInstance(
        block, object, [&](Span name) { return compareInstanceName(block, name, wanted, wantedLength); }, counters);
}

// Eight bytes are read at the counter's offset whatever its definition says of size and type;
// they must lie inside the counter block.
bool counterValue(const uint8_t* block, Span object, uint32_t counterIndex, const char* instanceName, int64_t* value) {
    CounterDefinition counter;
    Span counters, field;
    if (!findCounter(block, object, counterIndex, &counter)) return false;
    if (!findInstanceCounters(block, object, instanceName ? instanceName : "", &counters)) return false;
    if (!counterField(counters, counter.offset, sizeof(int64_t), &field)) return false;
    *value = read64(block, field.begin);
    return true;
}

// ---- The query ---------------------------------------------------------------------------

bool ensurePerfDataBuffer(PerfDataBuffer& buffer) {
    if (buffer.data) return true;
    buffer.data = static_cast<uint8_t*>(malloc(PERF_DATA_INITIAL_SIZE));
    if (!buffer.data) return false;
    buffer.size = PERF_DATA_INITIAL_SIZE;
    return true;
}

// Some systems leave an undefined size behind ERROR_MORE_DATA for this key: growing from less
// than the capacity would shrink the buffer and ask forever, so growth starts from the larger.
bool growPerfDataBuffer(PerfDataBuffer& buffer, uint32_t sizeLeft) {
    const uint32_t from = sizeLeft > buffer.size ? sizeLeft : buffer.size;
    if (from > PERF_DATA_SIZE_LIMIT - PERF_DATA_GROWTH) return false;
    void* grown = realloc(buffer.data, from + PERF_DATA_GROWTH);
    if (!grown) return false;  // the old block stays, and stays owned
    buffer.data = static_cast<uint8_t*>(grown);
    buffer.size = from + PERF_DATA_GROWTH;
    return true;
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

static_assert(MAX_INSTANCE_NAME <= MAX_NAME_BYTES, "a wanted instance name must fit the walk's conversion");

size_t queryPerformanceObject(PerfDataBuffer& buffer, uint32_t objectIndex) {
    if (!ensurePerfDataBuffer(buffer)) return 0;
    char valueName[16];
    snprintf(valueName, sizeof valueName, "%d", static_cast<int>(objectIndex));
    memset(buffer.data, 0, buffer.size);
    const MeterPlatform& platform = meterPlatform();
    uint32_t sizeLeft = buffer.size;
    performanceDataOpen = true;  // even a failed query may have loaded providers
    int32_t answer = platform.queryPerformanceData(valueName, buffer.data, &sizeLeft);
    while (answer == METER_ERROR_MORE_DATA) {
        if (!growPerfDataBuffer(buffer, sizeLeft)) return 0;
        sizeLeft = buffer.size;
        answer = platform.queryPerformanceData(valueName, buffer.data, &sizeLeft);
    }
    if (answer != METER_ERROR_SUCCESS) return 0;
    return sizeLeft < buffer.size ? sizeLeft : buffer.size;
}

void releasePerfDataBuffer(PerfDataBuffer& buffer) {
    free(buffer.data);
    buffer.data = nullptr;
    buffer.size = 0;
}

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
    Span whole, object;
    if (!dataBlock(block, length, &whole) || findObject(block, whole, objectIndex, &object) != objectFound) return false;
    if (!counterValue(block, object, counterIndex, instanceName, counter)) return false;
    *time = read64(block, DATA_PERF_TIME_100NSEC);
    return true;
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
    releasePerfDataBuffer(perfDataBuffer);
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
    const size_t length = queryPerformanceObject(perfDataBuffer, objectIndex);
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
