// Processor load meter: the total processor load in whole percent since the previous call,
// from the system's performance data, or from its processor times where that data lacks it.
#pragma once

#include <cstddef>
#include <cstdint>

enum PlatformClass { ntVersion4 = 0, ntOther = 1, windows9x = 2, otherPlatform = 3 };

class ProcessorLoadMeter {
public:
    ProcessorLoadMeter();
    virtual ~ProcessorLoadMeter();

    // 0 at the first call that reaches a counter source, -1 where the platform has none,
    // otherwise the load since the previous call: never below 0, not capped at 100.
    int32_t currentLoad();
    // Switches the system's performance counters on or off (NT other than version 4 only).
    // True when nothing had to be written or both values were written.
    bool enablePerformanceCounters(bool enable);

    bool firstSample;
    int64_t lastCounter;  // idle counter of the previous sample
    int64_t lastTime;     // elapsed-time stamp of the previous sample

private:
    // Which source lastCounter and lastTime came from: a baseline is only compared
    // with a reading of the same source.
    enum BaselineSource { noBaseline, performanceDataBaseline, processorTimesBaseline };
    BaselineSource baselineSource;

    int32_t loadFromPerformanceData(uint32_t objectIndex, uint32_t counterIndex, const char* instanceName);
    int32_t loadFromProcessorTimes();
    int32_t nextLoad(BaselineSource source, int64_t counter, int64_t time);
};

extern ProcessorLoadMeter cpuMeter;

// A receiving buffer of the performance-data query: kept from call to call, grows only when a
// query answers that the data does not fit. The meter's lives until the module is unloaded.
struct PerfDataBuffer {
    uint8_t* data = nullptr;
    uint32_t size = 0;  // capacity in bytes
    ~PerfDataBuffer();
};
extern PerfDataBuffer perfDataBuffer;

constexpr uint32_t PERF_DATA_INITIAL_SIZE = 102400;
constexpr uint32_t PERF_DATA_GROWTH = 10240;
// No processor object comes near this; a system that still asks for more is not answered.
constexpr uint32_t PERF_DATA_SIZE_LIMIT = 16u * 1024 * 1024;
// Longest wanted instance name, in bytes, that can match.
constexpr size_t MAX_INSTANCE_NAME = 255;

// Asks the system anew at each call.
PlatformClass detectPlatformClass();

// The processor utility figure (a percentage that passes 100 while processors run above their
// nominal frequency) as the CPU figure shows it: rounded like a load, exact halves up, and
// capped at 100 as Task Manager caps it; nothing below 0.
int32_t utilityPercent(double utility);

// The counter with title index counterIndex of the named instance of the object that starts
// objectOffset bytes into a data block of blockLength valid bytes. Instance names compare in
// the ANSI code page, with the ASCII letters A to Z equal to a to z and every other byte exact;
// an object without instances (NumInstances -1) answers from its single counter block. -1 when
// the counter or the instance is not there, a conversion is refused, or any length or offset
// on the way points outside the object or the block.
int64_t readCounterValue(const uint8_t* block, size_t blockLength, size_t objectOffset, uint32_t counterIndex,
                         const char* instanceName);

// Walks a data block of `length` valid bytes to the first object with title index objectIndex
// and reads its counter like readCounterValue, and the block's PerfTime100nSec. False when the
// value is missing or the block is malformed; nothing outside the `length` bytes is read.
bool readBlockCounter(const uint8_t* block, size_t length, uint32_t objectIndex, uint32_t counterIndex,
                      const char* instanceName, int64_t* counter, int64_t* time);

// Fills `buffer` (made at the first call) with the data block of one performance object, named
// by its title index; answers the number of valid bytes, 0 when the query or the buffer failed.
size_t queryPerformanceObject(PerfDataBuffer& buffer, uint32_t objectIndex);
void releasePerfDataBuffer(PerfDataBuffer& buffer);

// True once a missing counter value has switched every meter to the system's processor times.
bool usingProcessorTimes();

// Closes HKEY_PERFORMANCE_DATA when a query has opened it since the last close, so that the
// system can unload the providers the queries loaded; the next query opens it again.
void releasePerformanceData();

// Forgets the platform class, the buffer and the switch to processor times, as a fresh load of
// the module would.
void resetLoadMeterState();
