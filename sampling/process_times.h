// The processes that used the most processor time between two readings of the process list,
// and their shares of the machine's processor time. No windows.h, so the arithmetic also builds
// natively; sampling/process_sampler.cpp feeds it the system's list.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr size_t PROCESS_NAME_SIZE = 64;  // UTF-8, cut to fit
constexpr int TOP_PROCESS_COUNT = 3;

// One process of a reading. A process is the same one in two readings when both its id and
// its creation time agree: an id is given anew once its process has ended.
struct ProcessTime {
    uint64_t id;
    uint64_t created;  // creation time, in any unit, only compared
    uint64_t time;     // processor time since it started, kernel and user, in 100 ns
    char name[PROCESS_NAME_SIZE];
};

struct TopProcess {
    char name[PROCESS_NAME_SIZE];
    int32_t percent;  // of all processors' time over the interval, exact halves up
    uint64_t time;    // processor time over the interval, in 100 ns
};

// The busiest processes first; only processes that used some processor time.
struct TopProcesses {
    TopProcess entries[TOP_PROCESS_COUNT];
    int count;
};

// The previous reading and the one being taken. Both buffers grow with the process count and
// are kept until released, so a steady reading allocates nothing.
struct ProcessTimesState {
    ProcessTime* previous = nullptr;  // sorted by id and creation time
    ProcessTime* current = nullptr;
    size_t previousCount = 0;
    size_t currentCount = 0;
    size_t capacity = 0;
    uint64_t previousTick = 0;
    bool hasBaseline = false;
    bool currentComplete = true;  // false once a process of this reading found no room
};

enum ProcessOutcome {
    PROCESS_SHARES,            // shares over the interval since the previous reading
    PROCESS_FIRST_READING,     // nothing to compare with yet
    PROCESS_SAME_MILLISECOND,  // no time has passed: the reading is dropped, the previous stays
    PROCESS_NO_MEMORY,         // the buffers could not grow: the reading is dropped
};

void beginProcessReading(ProcessTimesState& state);
// Adds one process to the reading being taken; the name is cut to PROCESS_NAME_SIZE - 1 bytes
// at a character's boundary.
void addProcessTime(ProcessTimesState& state, uint64_t id, uint64_t created, uint64_t time, const char* name);
// Ends the reading taken at tickMs (milliseconds); with a previous reading, the busiest
// processes since it, as shares of `processors` processors' time.
ProcessOutcome finishProcessReading(ProcessTimesState& state, uint64_t tickMs, uint32_t processors,
                                    TopProcesses* top);
// Releases the buffers and forgets the readings.
void releaseProcessTimes(ProcessTimesState& state);
