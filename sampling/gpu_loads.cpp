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

// A slot that neither the last reading nor this one holds.
int freeSlot(const GpuLoads& state) {
    for (uint32_t s = 0; s < MAX_GPU_ADAPTERS; ++s)
        if (!gpuSlotsHold(state.present | state.seen, s)) return static_cast<int>(s);
    return -1;
}

}  // namespace

void restartGpuLoads(GpuLoads& state) {
    state.timeKnown = false;
    state.baseline = 0;
}

int takeGpuSlot(GpuLoads& state, uint64_t luid) {
    const int slot = freeSlot(state);
    if (slot < 0) return -1;
    GpuAdapter& fresh = state.slots[slot];
    state.luids[slot] = luid;
    state.baseline &= ~(1u << slot);
    fresh.name[0] = '\0';
    fresh.engineCount = 0;
    for (auto& name : fresh.engineNames) name[0] = '\0';
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

int shownGpuAdapter(const GpuLoads& state, const char* wanted) {
    uint32_t index = 0;
    int found = -1;
    if (wanted && adapterIndex(wanted, &index)) {
        if (index < state.count) found = state.order[index];
    } else if (wanted && wanted[0]) {
        for (uint32_t i = 0; i < state.count && found < 0; ++i)
            if (sameNameWithoutCase(state.slots[state.order[i]].name, wanted)) found = state.order[i];
    } else {
        // Running times over the interval order the adapters as their loads do, without a
        // division each; beyond the interval every adapter is at 100 %.
        uint64_t most = 0;
        for (uint32_t i = 0; i < state.count; ++i) {
            const GpuAdapter& adapter = state.slots[state.order[i]];
            const uint64_t ran = adapter.mostRan < state.elapsed ? adapter.mostRan : state.elapsed;
            if (adapter.engineCount > 0 && (found < 0 || ran > most)) {
                found = state.order[i];
                most = ran;
            }
        }
    }
    return found >= 0 && state.slots[found].engineCount > 0 ? found : -1;
}

uint8_t gpuAdapterLoad(const GpuLoads& state, const GpuAdapter& adapter) {
    return gpuEngineLoad(adapter.mostRan, state.elapsed);
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
