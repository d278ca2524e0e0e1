// GPU loads: the engines' running times compared with the previous reading adapter by adapter,
// the memory segments summed, and the choice of the adapter shown.
#include "sampling/gpu_loads.h"

#include <cstdio>
#include <cstring>

#include "sampling/exact_math.h"

namespace {

char foldAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool sameNameWithoutCase(const char* a, const char* b) {
    for (; *a && *b; ++a, ++b)
        if (foldAscii(*a) != foldAscii(*b)) return false;
    return *a == *b;
}

// "0", "12": an index of the list; false for anything else, an empty text included.
bool adapterIndex(const char* text, uint32_t* index) {
    if (!text[0] || strlen(text) > 3) return false;
    uint32_t value = 0;
    for (const char* c = text; *c; ++c) {
        if (*c < '0' || *c > '9') return false;
        value = value * 10 + static_cast<uint32_t>(*c - '0');
    }
    *index = value;
    return true;
}

bool holds(uint32_t slots, uint32_t slot) { return (slots >> slot) & 1u; }

// The lowest slot a set of slots holds; the set must not be empty.
uint32_t lowestSlot(uint32_t slots) { return static_cast<uint32_t>(__builtin_ctz(slots)); }

// Only the slots the last reading held are looked at: a machine's one or two adapters cost one or
// two comparisons, not sixteen.
int slotOfLuid(const GpuLoads& state, uint64_t luid) {
    for (uint32_t slots = state.present; slots; slots &= slots - 1) {
        const uint32_t s = lowestSlot(slots);
        if (state.luids[s] == luid) return static_cast<int>(s);
    }
    return -1;
}

// A slot that neither the last reading nor this one holds.
int freeSlot(const GpuLoads& state) {
    for (uint32_t s = 0; s < MAX_GPU_ADAPTERS; ++s)
        if (!holds(state.present | state.seen, s)) return static_cast<int>(s);
    return -1;
}

}  // namespace

void restartGpuLoads(GpuLoads& state) {
    state.timeKnown = false;
    state.baseline = 0;
}

void beginGpuReading(GpuLoads& state, uint64_t now) {
    state.readingCount = 0;
    state.readingTime = now;
    // A clock that went back or stood still gives no interval: every engine counts 0.
    state.elapsed = state.timeKnown && now > state.time ? now - state.time : 0;
    state.seen = 0;
}

int addGpuAdapter(GpuLoads& state, uint64_t luid, uint32_t engines, bool* isNew) {
    *isNew = false;
    if (state.readingCount >= MAX_GPU_ADAPTERS) return -1;
    int slot = slotOfLuid(state, luid);
    if (slot >= 0 && holds(state.seen, static_cast<uint32_t>(slot))) return -1;  // listed twice: the first stands
    if (slot < 0) {
        slot = freeSlot(state);
        if (slot < 0) return -1;
        GpuAdapter& fresh = state.slots[slot];
        state.luids[slot] = luid;
        state.baseline &= ~(1u << slot);
        fresh.name[0] = '\0';
        fresh.engineCount = 0;
        for (auto& name : fresh.engineNames) name[0] = '\0';
        *isNew = true;
    }
    GpuAdapter& adapter = state.slots[slot];
    state.seen |= 1u << slot;
    const uint32_t kept = engines < MAX_GPU_ENGINES ? engines : MAX_GPU_ENGINES;
    // Engines the last reading lacked have nothing to be compared with.
    for (uint32_t e = adapter.engineCount; e < kept; ++e) adapter.runningKnown[e] = false;
    if (!holds(state.baseline, static_cast<uint32_t>(slot)))
        for (uint32_t e = 0; e < kept; ++e) adapter.runningKnown[e] = false;
    adapter.engineCount = kept;
    adapter.mostRan = 0;
    adapter.load = 0;
    adapter.dedicatedUsed = adapter.dedicatedSize = adapter.sharedUsed = adapter.sharedSize = 0;
    state.order[state.readingCount++] = static_cast<uint8_t>(slot);
    return slot;
}

uint8_t gpuEngineLoad(uint64_t running, uint64_t elapsed) {
    if (elapsed == 0) return 0;
    if (running >= elapsed) return 100;
    // Intervals of up to about two seconds divide in 32 bits, several times faster than in 64.
    if (elapsed <= UINT32_MAX / 201) {
        const uint32_t small = static_cast<uint32_t>(elapsed);
        return static_cast<uint8_t>((200 * static_cast<uint32_t>(running) + small) / (2 * small));
    }
    // 200 × running must not overflow: huge intervals lose their lowest bits, never the ratio.
    while (elapsed > UINT64_MAX / 200) {
        running >>= 1;
        elapsed >>= 1;
    }
    return static_cast<uint8_t>((200 * running + elapsed) / (2 * elapsed));
}

void endGpuReading(GpuLoads& state) {
    for (uint32_t i = 0; i < state.readingCount; ++i) {
        GpuAdapter& adapter = state.slots[state.order[i]];
        adapter.load = gpuEngineLoad(adapter.mostRan, state.elapsed);
    }
    state.present = state.baseline = state.seen;
    state.seen = 0;
    state.count = state.readingCount;
    state.time = state.readingTime;
    state.timeKnown = true;
}

int shownGpuAdapter(const GpuLoads& state, const char* wanted) {
    uint32_t index = 0;
    int found = -1;
    if (wanted && adapterIndex(wanted, &index)) {
        if (index < state.count) found = state.order[index];
    } else if (wanted && wanted[0]) {
        for (uint32_t i = 0; i < state.count && found < 0; ++i)
            if (sameNameWithoutCase(state.slots[state.order[i]].name, wanted)) found = state.order[i];
    } else {
        for (uint32_t i = 0; i < state.count; ++i) {
            const GpuAdapter& adapter = state.slots[state.order[i]];
            if (adapter.engineCount > 0 && (found < 0 || adapter.load > state.slots[found].load)) found = state.order[i];
        }
    }
    return found >= 0 && state.slots[found].engineCount > 0 ? found : -1;
}

uint8_t gpuEngineLoadOf(const GpuLoads& state, const GpuAdapter& adapter, uint32_t engine) {
    return engine < adapter.engineCount ? gpuEngineLoad(adapter.ran[engine], state.elapsed) : 0;
}

uint32_t busiestGpuEngines(const GpuAdapter& adapter, uint32_t most, uint32_t* engines) {
    uint32_t written = 0;
    if (most == 0) return 0;
    // Insertion into a short list: the engines are few, and `most` fewer.
    for (uint32_t e = 0; e < adapter.engineCount; ++e) {
        uint32_t at = written;
        while (at > 0 && adapter.ran[engines[at - 1]] < adapter.ran[e]) --at;
        if (at >= most) continue;
        const uint32_t last = written < most ? written : most - 1;
        for (uint32_t k = last; k > at; --k) engines[k] = engines[k - 1];
        engines[at] = e;
        if (written < most) ++written;
    }
    return written;
}

void gpuEngineName(const GpuAdapter& adapter, uint32_t engine, char* text, size_t size) {
    if (engine < MAX_GPU_ENGINES && adapter.engineNames[engine][0])
        snprintf(text, size, "%s", adapter.engineNames[engine]);
    else
        snprintf(text, size, "Engine %u", engine);
}
