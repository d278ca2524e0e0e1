// Per-processor loads: the records of each group read in place, compared with the previous
// reading processor by processor, and the column each processor takes in the cores graph.
#include "sampling/core_loads.h"

#include <cstring>

namespace {

uint64_t read64(const uint8_t* at) {
    uint64_t value = 0;
    for (int i = 7; i >= 0; --i) value = value << 8 | at[i];
    return value;
}

// Busy time in whole percent of the time that passed, exact halves up as the CPU figure rounds.
// Times that went back, or no time passed, show 0; busy time beyond the time passed shows 100.
uint8_t loadBetween(uint64_t busyBefore, uint64_t totalBefore, uint64_t busyNow, uint64_t totalNow) {
    // The differences wrap like the counters; one above half the range went back.
    uint64_t busy = busyNow - busyBefore;
    uint64_t total = totalNow - totalBefore;
    if (total == 0 || total > UINT64_MAX / 2 || busy > UINT64_MAX / 2) return 0;
    if (busy >= total) return 100;
    // 200 × busy must not overflow: huge intervals lose their lowest bits, never the ratio.
    while (total > UINT64_MAX / 200) {
        busy >>= 1;
        total >>= 1;
    }
    return static_cast<uint8_t>((200 * busy + total) / (2 * total));
}

}  // namespace

void restartCoreLoads(CoreLoads& state) { state.comparable = false; }

void beginCoreReading(CoreLoads& state) {
    state.readingCount = 0;
    state.readingGroups = 0;
    state.layoutChanged = !state.comparable;
    state.failed = false;
}

void addCoreGroup(CoreLoads& state, const uint8_t* records, size_t length) {
    if (state.failed || state.readingGroups >= MAX_CORE_GROUPS) return;
    const uint32_t room = MAX_CORES - state.readingCount;
    const size_t answered = records ? length / CORE_RECORD_SIZE : 0;
    const uint32_t size = static_cast<uint32_t>(answered < room ? answered : room);
    const uint32_t group = state.readingGroups++;
    // A group of another size, or one the previous reading lacked, moves every processor after
    // it to another place: nothing from here on can be compared.
    if (group >= state.groups || state.groupSizes[group] != size) state.layoutChanged = true;
    state.groupSizes[group] = static_cast<uint16_t>(size);
    for (uint32_t k = 0; k < size; ++k) {
        const uint8_t* record = records + static_cast<size_t>(k) * CORE_RECORD_SIZE;
        const uint64_t idle = read64(record + CORE_RECORD_IDLE);
        const uint64_t total = read64(record + CORE_RECORD_KERNEL) + read64(record + CORE_RECORD_USER);
        const uint64_t busy = total - idle;
        const uint32_t i = state.readingCount++;
        state.loads[i] = state.layoutChanged ? 0 : loadBetween(state.busy[i], state.total[i], busy, total);
        state.busy[i] = busy;
        state.total[i] = total;
    }
}

void failCoreReading(CoreLoads& state) { state.failed = true; }

void endCoreReading(CoreLoads& state) {
    if (state.failed) {
        state.count = 0;
        state.comparable = false;
        return;
    }
    // Fewer groups than before: the processors of the missing ones cannot be told apart from
    // the rest, so the reading is a new baseline too.
    if (state.readingGroups != state.groups) state.layoutChanged = true;
    if (state.layoutChanged) memset(state.loads, 0, state.readingCount);
    state.groups = state.readingGroups;
    state.count = state.readingCount;
    state.comparable = true;
}

int coreColumnLoad(const uint8_t* loads, uint32_t count, int64_t width, int64_t column) {
    if (count == 0 || width < 1 || column < 0 || column >= width) return -1;
    const int64_t processors = count;
    if (processors <= width) {
        const int64_t processor = column / (width / processors);
        return processor < processors ? loads[processor] : -1;
    }
    // Column c shows the processors from c × count ÷ width up to the next column's first; with
    // more processors than columns, each column has one at least.
    const int64_t first = column * processors / width;
    const int64_t end = (column + 1) * processors / width;
    int busiest = loads[first];
    for (int64_t p = first + 1; p < end; ++p)
        if (loads[p] > busiest) busiest = loads[p];
    return busiest;
}

int64_t coreBarHeight(int load, int64_t height) {
    if (load <= 0 || height <= 0) return 0;
    // In 32 bits where the product fits, the division by 100 becomes a multiplication.
    if (load <= 255 && height <= UINT32_MAX / 255) return static_cast<uint32_t>(load) * static_cast<uint32_t>(height) / 100u;
    return static_cast<int64_t>(load) * height / 100;
}

CoreColumns::CoreColumns(const uint8_t* loads, uint32_t count, int64_t width, int64_t first)
    : loads(loads), count(count), width(width), column(first), perProcessor(0), processor(0), offset(0),
      stepQuotient(0), stepRemainder(0), remainder(0) {
    if (count == 0 || width < 1 || first >= width) return;
    // A walk that starts left of the plot is set for its first column, which it reaches later.
    const int64_t start = first < 0 ? 0 : first;
    if (this->count <= width) {
        perProcessor = width / this->count;
        processor = start / perProcessor;
        offset = start % perProcessor;
        return;
    }
    stepQuotient = this->count / width;
    stepRemainder = this->count % width;
    processor = start * this->count / width;
    remainder = start * this->count % width;
}

int CoreColumns::next() {
    if (count == 0 || column < 0 || column >= width) {
        ++column;
        return -1;
    }
    ++column;
    if (perProcessor > 0) {
        const int load = processor < count ? loads[processor] : -1;
        if (++offset == perProcessor) {
            offset = 0;
            ++processor;
        }
        return load;
    }
    int64_t end = processor + stepQuotient;
    remainder += stepRemainder;
    if (remainder >= width) {
        remainder -= width;
        ++end;
    }
    int busiest = loads[processor];
    for (int64_t p = processor + 1; p < end; ++p)
        if (loads[p] > busiest) busiest = loads[p];
    processor = end;
    return busiest;
}
