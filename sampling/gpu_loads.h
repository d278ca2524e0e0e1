// GPU load and video memory from the graphics kernel's statistics: each engine's running time
// compared with the previous reading, the busiest engine of each adapter, the memory segments
// summed, and the adapter the panel shows. No windows.h, so that the arithmetic also builds
// natively for the sanitizers; sampling/gpu_sampler.cpp asks the kernel.
#pragma once

#include <cstddef>
#include <cstdint>

#include "sampling/exact_math.h"

// A reading looks at no more adapters, engines and segments than these: a tick costs at most
// MAX_GPU_ADAPTERS × (1 + MAX_GPU_ENGINES + MAX_GPU_SEGMENTS) statistics queries, whatever the
// system reports. Adapters and engines beyond them are not shown.
constexpr uint32_t MAX_GPU_ADAPTERS = 16;
constexpr uint32_t MAX_GPU_ENGINES = 64;
constexpr uint32_t MAX_GPU_SEGMENTS = 32;
constexpr size_t GPU_NAME_SIZE = 128;        // the adapter string, UTF-8
constexpr size_t GPU_ENGINE_NAME_SIZE = 48;  // an engine's name, UTF-8

// One adapter as the last reading saw it, and what the next reading compares with. Kept in a
// slot of its own from reading to reading, found again by its LUID.
struct GpuAdapter {
    char name[GPU_NAME_SIZE];
    uint32_t engineCount;  // engines of the last reading, at most MAX_GPU_ENGINES
    // Each engine's running time then, in 100 ns; GPU_RUNNING_UNKNOWN where the next reading has
    // nothing to compare with.
    uint64_t running[MAX_GPU_ENGINES];
    // Each engine's running time over the last interval, 0 where it cannot be compared, and the
    // busiest engine's. Loads are worked out from these only where they are shown: a reading
    // divides nothing.
    uint64_t ran[MAX_GPU_ENGINES];
    uint64_t mostRan;
    char engineNames[MAX_GPU_ENGINES][GPU_ENGINE_NAME_SIZE];  // empty where the driver names none
    uint64_t dedicatedUsed, dedicatedSize, sharedUsed, sharedSize;  // bytes
};

struct GpuLoads {
    GpuAdapter slots[MAX_GPU_ADAPTERS];
    // Each slot's LUID and state apart from its record of 4 KB, the states one bit a slot: a
    // reading then costs what its adapters cost, not a walk of sixteen records.
    uint64_t luids[MAX_GPU_ADAPTERS];
    uint32_t present;   // slots seen by the last reading
    uint32_t seen;      // slots seen by the reading in progress
    uint32_t baseline;  // slots whose running times may be compared with the next reading's
    // The adapters of the last reading in the order the system listed them: slot numbers.
    uint32_t count;
    uint8_t order[MAX_GPU_ADAPTERS];
    uint64_t time;       // the last reading's clock, in 100 ns
    bool timeKnown;
    // The reading in progress.
    uint32_t readingCount;
    uint64_t readingTime;
    uint64_t elapsed;    // since the last reading; 0 when the times cannot be compared
};

// The running time kept for an engine the next reading has nothing to compare with: no answer is
// larger, so none counts as time run (an answer equal to it ran 0, as one that stood still).
constexpr uint64_t GPU_RUNNING_UNKNOWN = UINT64_MAX;

// The next reading takes its baseline only and shows every engine at 0, as after a start.
void restartGpuLoads(GpuLoads& state);
// A reading: begin with the clock, each adapter with its engines and segments, end. Inline, as
// the engines' and segments' additions are: one adapter with one engine costs the system six
// calls, and on x86 a call of the reading's own costs a tenth of one of them.
inline void beginGpuReading(GpuLoads& state, uint64_t now) {
    state.readingCount = 0;
    state.readingTime = now;
    // A clock that went back or stood still gives no interval: every engine counts 0.
    state.elapsed = state.timeKnown && now > state.time ? now - state.time : 0;
    state.seen = 0;
}

inline bool gpuSlotsHold(uint32_t slots, uint32_t slot) { return (slots >> slot) & 1u; }

// A slot for an adapter neither the last reading nor this one holds, its names and engines
// cleared; -1 when every slot is taken.
int takeGpuSlot(GpuLoads& state, uint64_t luid);

// The adapter with this LUID, with `engines` engines: its slot, or -1 when the reading has no
// room for it (another adapter of the same LUID in this reading, or MAX_GPU_ADAPTERS already).
// isNew tells that its name and its engines' names are to be asked for: an adapter the last
// reading did not see. Each of its engines then comes with compareGpuEngine or forgetGpuEngine,
// which set what the engine ran over the interval.
inline int addGpuAdapter(GpuLoads& state, uint64_t luid, uint32_t engines, bool* isNew) {
    *isNew = false;
    if (state.readingCount >= MAX_GPU_ADAPTERS) return -1;
    // Only the slots the last reading held are looked at: a machine's one or two adapters cost
    // one or two comparisons, not sixteen.
    int slot = -1;
    for (uint32_t slots = state.present; slots; slots &= slots - 1) {
        const uint32_t s = static_cast<uint32_t>(__builtin_ctz(slots));
        if (state.luids[s] == luid) {
            slot = static_cast<int>(s);
            break;
        }
    }
    if (slot >= 0 && gpuSlotsHold(state.seen, static_cast<uint32_t>(slot))) return -1;  // listed twice: the first stands
    if (slot < 0) {
        slot = takeGpuSlot(state, luid);
        if (slot < 0) return -1;
        *isNew = true;
    }
    GpuAdapter& adapter = state.slots[slot];
    state.seen |= 1u << slot;
    const uint32_t kept = engines < MAX_GPU_ENGINES ? engines : MAX_GPU_ENGINES;
    // Engines the last reading lacked have nothing to be compared with.
    const uint32_t compared = gpuSlotsHold(state.baseline, static_cast<uint32_t>(slot)) ? adapter.engineCount : 0;
    for (uint32_t e = compared; e < kept; ++e) adapter.running[e] = GPU_RUNNING_UNKNOWN;
    adapter.engineCount = kept;
    adapter.mostRan = 0;
    adapter.dedicatedUsed = adapter.dedicatedSize = adapter.sharedUsed = adapter.sharedSize = 0;
    state.order[state.readingCount++] = static_cast<uint8_t>(slot);
    return slot;
}

// Engine `engine` (below the adapter's engineCount) answered `runningTime`. Inline and without
// checks: a reading compares every engine, and on x86 a call or a check costs about what a
// served answer's copy does. Every engine of the count is compared or forgotten at each reading.
inline void compareGpuEngine(GpuAdapter& adapter, uint32_t engine, uint64_t runningTime) {
    // A running time that went back (an engine reset, another engine at this number) tells
    // nothing of the interval.
    const uint64_t last = adapter.running[engine];
    const uint64_t ran = runningTime >= last ? runningTime - last : 0;
    adapter.ran[engine] = ran;
    if (ran > adapter.mostRan) adapter.mostRan = ran;
    adapter.running[engine] = runningTime;
}
// Engine `engine` did not answer: it counts 0 now and is compared with nothing next time.
inline void forgetGpuEngine(GpuAdapter& adapter, uint32_t engine) {
    adapter.ran[engine] = 0;
    adapter.running[engine] = GPU_RUNNING_UNKNOWN;
}
// A memory segment of an adapter the reading added: committed bytes and its size; aperture
// segments are shared memory; the sums stop at UINT64_MAX. Inline for the reason
// compareGpuEngine is.
inline void addGpuSegment(GpuAdapter& adapter, uint64_t committed, uint64_t size, bool aperture) {
    uint64_t& used = aperture ? adapter.sharedUsed : adapter.dedicatedUsed;
    uint64_t& total = aperture ? adapter.sharedSize : adapter.dedicatedSize;
    used = saturatingAdd(used, committed);
    total = saturatingAdd(total, size);
}
// Adapters the reading did not see are forgotten; their slots take new ones.
inline void endGpuReading(GpuLoads& state) {
    state.present = state.baseline = state.seen;
    state.seen = 0;
    state.count = state.readingCount;
    state.time = state.readingTime;
    state.timeKnown = true;
}

// The load of `running` 100 ns units in `elapsed`, whole percent, halves up, at most 100; 0 for
// no time passed.
uint8_t gpuEngineLoad(uint64_t running, uint64_t elapsed);

// The adapter the panel shows: with `wanted` empty, the busiest adapter that has an engine (the
// longest an engine of it ran, up to the whole interval; the first listed of equals); a number
// ("0", "1") is the adapter at that place of the list; any other text the adapter whose name is
// that text, ASCII letters without case. -1 for none, and for an adapter without engines.
int shownGpuAdapter(const GpuLoads& state, const char* wanted);

// An adapter's load over the last reading's interval: its busiest engine's, in whole percent.
uint8_t gpuAdapterLoad(const GpuLoads& state, const GpuAdapter& adapter);
// An engine's load over the last reading's interval, in whole percent.
uint8_t gpuEngineLoadOf(const GpuLoads& state, const GpuAdapter& adapter, uint32_t engine);
// The `most` busiest engines of a slot's adapter, busiest first (the lower number first among
// equals); answers how many were written.
uint32_t busiestGpuEngines(const GpuAdapter& adapter, uint32_t most, uint32_t* engines);
// An engine's name for the tooltip: the driver's, else "Engine N".
void gpuEngineName(const GpuAdapter& adapter, uint32_t engine, char* text, size_t size);
