// Per-processor loads for the cores graph, from the processors' accumulated times as the system
// reports them group by group, and the columns of the graph. No windows.h, so that the
// arithmetic also builds natively for the sanitizers and the fuzzer.
#pragma once

#include <cstddef>
#include <cstdint>

// The system's record of one processor's times: idle, kernel (the idle time included) and user
// time in 100 ns units at these offsets, then times the graph does not use. Records follow each
// other at this stride, in 32-bit and 64-bit processes alike.
constexpr size_t CORE_RECORD_SIZE = 48;
constexpr size_t CORE_RECORD_IDLE = 0;
constexpr size_t CORE_RECORD_KERNEL = 8;
constexpr size_t CORE_RECORD_USER = 16;

// A processor group holds at most 64 logical processors, and the system at most 32 groups:
// every processor a machine can have fits, and no reading costs more than this many.
constexpr uint32_t MAX_GROUP_CORES = 64;
constexpr uint32_t MAX_CORE_GROUPS = 32;
constexpr uint32_t MAX_CORES = MAX_GROUP_CORES * MAX_CORE_GROUPS;

// The loads of the last reading and what the next one is compared with. Plain data: it lives in
// static storage and a reading never allocates.
struct CoreLoads {
    uint32_t count;            // processors of the last reading; 0 when there is none
    uint8_t loads[MAX_CORES];  // busy time in whole percent, processor 0 first
    // The last reading's processors by group, and each processor's busy and total time then.
    uint32_t groups;
    uint16_t groupSizes[MAX_CORE_GROUPS];
    uint64_t busy[MAX_CORES];
    uint64_t total[MAX_CORES];
    bool comparable;  // the last reading was complete: the next may be compared with it
    // The reading in progress.
    uint32_t readingCount;
    uint32_t readingGroups;
    bool layoutChanged;
    bool failed;
};

// The next reading takes its baseline only and shows every processor at 0, as after a start.
void restartCoreLoads(CoreLoads& state);
// A reading: begin, each group's answer in the order of the groups, end.
void beginCoreReading(CoreLoads& state);
// One group's answer, `length` bytes of records (a partial record at the end is not read).
// Groups beyond MAX_CORE_GROUPS and processors beyond MAX_CORES are not counted.
void addCoreGroup(CoreLoads& state, const uint8_t* records, size_t length);
// A group the system did not answer: the reading shows no processor, and the next starts afresh.
void failCoreReading(CoreLoads& state);
// The loads of the reading against the previous one. A processor whose times went back shows 0;
// a reading whose groups or processors differ from the previous one's shows every processor at
// 0, since its processors cannot be matched to the earlier ones.
void endCoreReading(CoreLoads& state);

// The load that column `column` of a plot `width` pixels wide shows, or -1 for a column of the
// background. Each processor has width / count columns (at least one), processor 0 at the
// left, and the columns left over stay background at the right; with more processors than
// columns, neighbouring processors share a column, which shows the busiest of them.
int coreColumnLoad(const uint8_t* loads, uint32_t count, int64_t width, int64_t column);
// A bar's height in a plot `height` pixels high: load × height ÷ 100, rounded down.
int64_t coreBarHeight(int load, int64_t height);

// The loads of a plot's columns one after another from column `first` on, as coreColumnLoad
// gives them, without a division a column: a 32-bit build makes each 64-bit division a library
// call, and the painter asks for every column of the plot.
class CoreColumns {
public:
    CoreColumns(const uint8_t* loads, uint32_t count, int64_t width, int64_t first);
    // The load of the current column (-1 for background), then moves on to the next.
    int next();

private:
    const uint8_t* loads;
    int64_t count;
    int64_t width;
    int64_t column;
    // Each processor's own columns: the processor of the current column and the place in its run.
    int64_t perProcessor;
    int64_t processor;
    int64_t offset;
    // Shared columns: the first processor of the current column is column × count ÷ width,
    // carried from column to column as a quotient and a remainder.
    int64_t stepQuotient;
    int64_t stepRemainder;
    int64_t remainder;
};
