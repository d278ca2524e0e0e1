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
    uint64_t running[MAX_GPU_ENGINES];  // each engine's running time then, in 100 ns
    bool runningKnown[MAX_GPU_ENGINES];
    // Each engine's running time over the last interval, 0 where it cannot be compared. Loads are
    // worked out from these only where they are shown: a reading divides once an adapter.
    uint64_t ran[MAX_GPU_ENGINES];
    uint64_t mostRan;
    char engineNames[MAX_GPU_ENGINES][GPU_ENGINE_NAME_SIZE];  // empty where the driver names none
    uint8_t load;          // the busiest engine's, in whole percent
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

// The next reading takes its baseline only and shows every engine at 0, as after a start.
void restartGpuLoads(GpuLoads& state);
// A reading: begin with the clock, each adapter with its engines and segments, end.
void beginGpuReading(GpuLoads& state, uint64_t now);
// The adapter with this LUID, with `engines` engines: its slot, or -1 when the reading has no
// room for it (another adapter of the same LUID in this reading, or MAX_GPU_ADAPTERS already).
// isNew tells that its name and its engines' names are to be asked for: an adapter the last
// reading did not see. Each of its engines then comes with addGpuEngine, which sets what the
// engine ran over the interval.
int addGpuAdapter(GpuLoads& state, uint64_t luid, uint32_t engines, bool* isNew);
// Engine `engine`'s running time, or known = false where the system did not answer: that engine
// counts 0 now and is compared with nothing next time. Engines beyond the count are not counted;
// an engine of the count that a reading does not add counts 0.
// Inline: a reading adds every engine, and the call would cost about what the answer's copy does.
inline void addGpuEngine(GpuLoads& state, int slot, uint32_t engine, uint64_t runningTime, bool known) {
    if (slot < 0 || slot >= static_cast<int>(MAX_GPU_ADAPTERS)) return;
    GpuAdapter& adapter = state.slots[slot];
    if (engine >= adapter.engineCount) return;
    // A running time that went back (an engine reset, another engine at this number) tells
    // nothing of the interval.
    const bool comparable = known && adapter.runningKnown[engine] && runningTime >= adapter.running[engine];
    adapter.ran[engine] = comparable ? runningTime - adapter.running[engine] : 0;
    if (adapter.ran[engine] > adapter.mostRan) adapter.mostRan = adapter.ran[engine];
    adapter.running[engine] = runningTime;
    adapter.runningKnown[engine] = known;
}
// A memory segment: committed bytes and its size; aperture segments are shared memory. Inline
// for the reason addGpuEngine is.
inline void addGpuSegment(GpuLoads& state, int slot, uint64_t committed, uint64_t size, bool aperture) {
    if (slot < 0 || slot >= static_cast<int>(MAX_GPU_ADAPTERS)) return;
    GpuAdapter& adapter = state.slots[slot];
    uint64_t& used = aperture ? adapter.sharedUsed : adapter.dedicatedUsed;
    uint64_t& total = aperture ? adapter.sharedSize : adapter.dedicatedSize;
    used = saturatingAdd(used, committed);
    total = saturatingAdd(total, size);
}
// Adapters the reading did not see are forgotten; their slots take new ones.
void endGpuReading(GpuLoads& state);

// The load of `running` 100 ns units in `elapsed`, whole percent, halves up, at most 100; 0 for
// no time passed.
uint8_t gpuEngineLoad(uint64_t running, uint64_t elapsed);

// The adapter the panel shows: with `wanted` empty, the busiest adapter that has an engine (the
// first listed of equals); a number ("0", "1") is the adapter at that place of the list; any other
// text the adapter whose name is that text, ASCII letters without case. -1 for none, and for an
// adapter without engines.
int shownGpuAdapter(const GpuLoads& state, const char* wanted);

// An engine's load over the last reading's interval, in whole percent.
uint8_t gpuEngineLoadOf(const GpuLoads& state, const GpuAdapter& adapter, uint32_t engine);
// The `most` busiest engines of a slot's adapter, busiest first (the lower number first among
// equals); answers how many were written.
uint32_t busiestGpuEngines(const GpuAdapter& adapter, uint32_t most, uint32_t* engines);
// An engine's name for the tooltip: the driver's, else "Engine N".
void gpuEngineName(const GpuAdapter& adapter, uint32_t engine, char* text, size_t size);
