// Processor time of each process between two readings: matching by id and creation time, and
// the busiest three, in integer arithmetic.
#include "sampling/process_times.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace {

bool grow(ProcessTimesState& state, size_t count) {
    if (count <= state.capacity) return true;
    // Room for a few more processes than now: a program that starts another should not grow the
    // buffers at every reading.
    const size_t capacity = count + count / 4 + 32;
    if (capacity > SIZE_MAX / sizeof(ProcessTime)) return false;
    const size_t bytes = capacity * sizeof(ProcessTime);
    auto* previous = static_cast<ProcessTime*>(realloc(state.previous, bytes));
    if (!previous) return false;
    state.previous = previous;
    auto* current = static_cast<ProcessTime*>(realloc(state.current, bytes));
    if (!current) return false;
    state.current = current;
    state.capacity = capacity;
    return true;
}

bool before(const ProcessTime& a, const ProcessTime& b) {
    return a.id != b.id ? a.id < b.id : a.created < b.created;
}

// The name cut to the field without splitting a UTF-8 sequence.
void copyName(char* field, const char* name) {
    size_t length = name ? strnlen(name, PROCESS_NAME_SIZE) : 0;
    if (length >= PROCESS_NAME_SIZE) {
        length = PROCESS_NAME_SIZE - 1;
        while (length > 0 && (static_cast<unsigned char>(name[length]) & 0xC0) == 0x80) --length;
    }
    if (length) memcpy(field, name, length);
    field[length] = '\0';
}

// The busier of two, the earlier in the list on a tie, so that the order is stable.
bool busier(const TopProcess& a, const TopProcess& b) { return a.time > b.time; }

void keepIfBusiest(TopProcesses& top, const ProcessTime& process, uint64_t time) {
    if (time == 0) return;
    TopProcess candidate;
    memcpy(candidate.name, process.name, sizeof candidate.name);
    candidate.time = time;
    candidate.percent = 0;
    if (top.count < TOP_PROCESS_COUNT) {
        top.entries[top.count++] = candidate;
    } else if (busier(candidate, top.entries[TOP_PROCESS_COUNT - 1])) {
        top.entries[TOP_PROCESS_COUNT - 1] = candidate;
    } else {
        return;
    }
    std::stable_sort(top.entries, top.entries + top.count, busier);
}

// time (100 ns) of all processors' time over elapsedMs, in per cent, exact halves up.
int32_t shareOf(uint64_t time, uint64_t elapsedMs, uint32_t processors) {
    const long double whole = static_cast<long double>(elapsedMs) * 10000.0L * (processors ? processors : 1);
    const long double percent = static_cast<long double>(time) * 100.0L / whole + 0.5L;
    return percent >= 2147483647.0L ? INT32_MAX : static_cast<int32_t>(percent);
}

void keepAsBaseline(ProcessTimesState& state, uint64_t tickMs) {
    std::swap(state.previous, state.current);
    state.previousCount = state.currentCount;
    state.currentCount = 0;
    state.previousTick = tickMs;
    state.hasBaseline = true;
}

}  // namespace

void beginProcessReading(ProcessTimesState& state) {
    state.currentCount = 0;
    state.currentComplete = true;
}

void addProcessTime(ProcessTimesState& state, uint64_t id, uint64_t created, uint64_t time, const char* name) {
    if (!state.currentComplete) return;
    if (!grow(state, state.currentCount + 1)) {
        state.currentComplete = false;
        return;
    }
    ProcessTime& entry = state.current[state.currentCount++];
    entry.id = id;
    entry.created = created;
    entry.time = time;
    copyName(entry.name, name);
}

ProcessOutcome finishProcessReading(ProcessTimesState& state, uint64_t tickMs, uint32_t processors,
                                    TopProcesses* top) {
    top->count = 0;
    if (!state.currentComplete) {
        state.currentCount = 0;
        return PROCESS_NO_MEMORY;
    }
    if (state.hasBaseline && tickMs == state.previousTick) {
        state.currentCount = 0;
        return PROCESS_SAME_MILLISECOND;
    }
    std::sort(state.current, state.current + state.currentCount, before);
    // A tick count that went back (Windows XP's 32-bit count wraps) gives no interval.
    if (!state.hasBaseline || tickMs < state.previousTick) {
        keepAsBaseline(state, tickMs);
        return PROCESS_FIRST_READING;
    }
    const uint64_t elapsed = tickMs - state.previousTick;
    size_t p = 0;
    for (size_t c = 0; c < state.currentCount; ++c) {
        const ProcessTime& now = state.current[c];
        while (p < state.previousCount && before(state.previous[p], now)) ++p;
        if (p == state.previousCount) break;
        const ProcessTime& then = state.previous[p];
        // A process that started since the previous reading has no interval to count.
        if (then.id != now.id || then.created != now.created || now.time < then.time) continue;
        keepIfBusiest(*top, now, now.time - then.time);
    }
    for (int i = 0; i < top->count; ++i) top->entries[i].percent = shareOf(top->entries[i].time, elapsed, processors);
    keepAsBaseline(state, tickMs);
    return PROCESS_SHARES;
}

void releaseProcessTimes(ProcessTimesState& state) {
    free(state.previous);
    free(state.current);
    state = ProcessTimesState();
}
