// GPU loads: engines' running times between readings, adapters and engines that come, go and come
// back, times that go back or stand still, the bounds, the adapter shown, the memory sums and the
// tooltip's lines.
#include <memory>
#include <string>
#include <vector>

#include "doctest.h"
#include "sampling/detail_text.h"
#include "sampling/gpu_loads.h"
#include "support/check_lines.h"

namespace {

constexpr uint64_t SECOND = 10000000;  // 100 ns units

struct FedAdapter {
    uint64_t luid;
    std::vector<uint64_t> running;  // each engine's running time
    std::vector<bool> known;        // empty: every engine answers
    std::string name;
};

// One reading of these adapters at `now`; answers each adapter's slot.
std::vector<int> read(GpuLoads& state, uint64_t now, const std::vector<FedAdapter>& adapters) {
    beginGpuReading(state, now);
    std::vector<int> slots;
    for (const FedAdapter& a : adapters) {
        bool isNew = false;
        const int slot = addGpuAdapter(state, a.luid, static_cast<uint32_t>(a.running.size()), &isNew);
        slots.push_back(slot);
        if (slot < 0) continue;
        if (isNew) snprintf(state.slots[slot].name, GPU_NAME_SIZE, "%s", a.name.c_str());
        GpuAdapter& adapter = state.slots[slot];
        for (uint32_t e = 0; e < adapter.engineCount; ++e)
            if (a.known.empty() || a.known[e])
                compareGpuEngine(adapter, e, a.running[e]);
            else
                forgetGpuEngine(adapter, e);
    }
    endGpuReading(state);
    return slots;
}

std::vector<int> loadsOf(const GpuLoads& state, int slot) {
    const GpuAdapter& a = state.slots[slot];
    std::vector<int> loads;
    for (uint32_t e = 0; e < a.engineCount; ++e) loads.push_back(gpuEngineLoadOf(state, a, e));
    return loads;
}

std::unique_ptr<GpuLoads> freshState() {
    auto state = std::make_unique<GpuLoads>();
    *state = GpuLoads{};
    return state;
}

}  // namespace

TEST_CASE("GPU engine loads: the first reading is 0, then running time over elapsed, halves up, capped at 100") {
    auto state = freshState();
    std::vector<int> slots = read(*state, 5 * SECOND, {{7, {1000, 2000, 3000}, {}, "A"}});
    CHECK(loadsOf(*state, slots[0]) == std::vector<int>{0, 0, 0});
    CHECK(gpuAdapterLoad(*state, state->slots[slots[0]]) == 0);
    // One second later: 87 %, 12.5 % (a half, up to 13) and more than the interval (100).
    slots = read(*state, 6 * SECOND, {{7, {1000 + 8700000, 2000 + 1250000, 3000 + 2 * SECOND}, {}, "A"}});
    CHECK(loadsOf(*state, slots[0]) == std::vector<int>{87, 13, 100});
    CHECK(gpuAdapterLoad(*state, state->slots[slots[0]]) == 100);
    CHECK(gpuEngineLoad(1249999, SECOND) == 12);
    CHECK(gpuEngineLoad(5, 0) == 0);
    // Huge intervals keep the ratio.
    CHECK(gpuEngineLoad(UINT64_MAX / 4, UINT64_MAX / 2) == 50);
    // Either side of the intervals short enough to divide in 32 bits, the same rounding.
    for (const uint64_t elapsed : {uint64_t{UINT32_MAX / 201 - 1}, uint64_t{UINT32_MAX / 201},
                                   uint64_t{UINT32_MAX / 201 + 1}, uint64_t{UINT32_MAX / 200}, uint64_t{UINT32_MAX}})
        for (const uint64_t running : {uint64_t{0}, elapsed / 200, elapsed / 2, elapsed * 199 / 200, elapsed - 1}) {
            INFO("running " << running << " of " << elapsed);
            CHECK(gpuEngineLoad(running, elapsed) == (200 * running + elapsed) / (2 * elapsed));
        }
}

TEST_CASE("GPU engine loads: time that goes back or stands still, engines that go back, fail, come and go") {
    auto state = freshState();
    read(*state, 10 * SECOND, {{1, {100, 100}, {}, "A"}});
    // The clock stands still: every engine 0, and the readings go on from these times.
    std::vector<int> slots = read(*state, 10 * SECOND, {{1, {200, 5000100}, {}, "A"}});
    CHECK(loadsOf(*state, slots[0]) == std::vector<int>{0, 0});
    // The clock went back: 0 again.
    slots = read(*state, 9 * SECOND, {{1, {300, 5000200}, {}, "A"}});
    CHECK(loadsOf(*state, slots[0]) == std::vector<int>{0, 0});
    // Engine 0 went back, engine 1 ran half the second; a third engine appears (0 this time).
    slots = read(*state, 10 * SECOND, {{1, {100, 5000200 + SECOND / 2, 40}, {}, "A"}});
    CHECK(loadsOf(*state, slots[0]) == std::vector<int>{0, 50, 0});
    // From the value that went back on, engine 0 counts again; engine 2 now has a baseline; engine 1
    // does not answer (0), and is compared with nothing next time.
    slots = read(*state, 11 * SECOND, {{1, {100 + SECOND / 4, 0, 40 + SECOND / 10}, {true, false, true}, "A"}});
    CHECK(loadsOf(*state, slots[0]) == std::vector<int>{25, 0, 10});
    slots = read(*state, 12 * SECOND, {{1, {100 + SECOND / 4, SECOND, 40 + SECOND / 10}, {}, "A"}});
    CHECK(loadsOf(*state, slots[0]) == std::vector<int>{0, 0, 0});
    // Fewer engines: those left compare as before.
    slots = read(*state, 13 * SECOND, {{1, {100 + SECOND / 4 + SECOND / 5}, {}, "A"}});
    CHECK(loadsOf(*state, slots[0]) == std::vector<int>{20});
    // The largest running time there is, from a known one and then from none: it ran, then it
    // went back, then it counts again.
    slots = read(*state, 14 * SECOND, {{1, {UINT64_MAX, UINT64_MAX}, {}, "A"}});
    CHECK(loadsOf(*state, slots[0]) == std::vector<int>{100, 0});
    slots = read(*state, 15 * SECOND, {{1, {5, UINT64_MAX}, {}, "A"}});
    CHECK(loadsOf(*state, slots[0]) == std::vector<int>{0, 0});
    slots = read(*state, 16 * SECOND, {{1, {5 + SECOND / 2, 7}, {}, "A"}});
    CHECK(loadsOf(*state, slots[0]) == std::vector<int>{50, 0});
}

TEST_CASE("GPU adapters: one that vanishes and comes back starts afresh, its slot found again by its LUID") {
    auto state = freshState();
    read(*state, SECOND, {{10, {0}, {}, "A"}, {20, {0}, {}, "B"}});
    std::vector<int> slots = read(*state, 2 * SECOND, {{20, {SECOND / 2}, {}, "B"}, {10, {SECOND / 4}, {}, "A"}});
    CHECK(state->count == 2);
    CHECK(std::string(state->slots[slots[0]].name) == "B");
    CHECK(gpuAdapterLoad(*state, state->slots[slots[0]]) == 50);
    CHECK(gpuAdapterLoad(*state, state->slots[slots[1]]) == 25);
    // A vanishes; B goes on.
    slots = read(*state, 3 * SECOND, {{20, {SECOND}, {}, "B"}});
    CHECK(state->count == 1);
    CHECK(gpuAdapterLoad(*state, state->slots[slots[0]]) == 50);
    // A comes back with a running time far ahead: new, so 0, and its name asked again.
    beginGpuReading(*state, 4 * SECOND);
    bool isNew = false;
    const int a = addGpuAdapter(*state, 10, 1, &isNew);
    CHECK(isNew);
    compareGpuEngine(state->slots[a], 0, 100 * SECOND);
    const int b = addGpuAdapter(*state, 20, 1, &isNew);
    CHECK_FALSE(isNew);
    compareGpuEngine(state->slots[b], 0, SECOND + SECOND / 10);
    // The same LUID listed twice: the first stands.
    CHECK(addGpuAdapter(*state, 20, 1, &isNew) == -1);
    endGpuReading(*state);
    CHECK(gpuAdapterLoad(*state, state->slots[a]) == 0);
    CHECK(gpuAdapterLoad(*state, state->slots[b]) == 10);
    // A restart (a reload): every engine's next load is 0.
    restartGpuLoads(*state);
    slots = read(*state, 5 * SECOND, {{10, {101 * SECOND}, {}, "A"}, {20, {2 * SECOND}, {}, "B"}});
    CHECK(gpuAdapterLoad(*state, state->slots[slots[0]]) == 0);
    CHECK(gpuAdapterLoad(*state, state->slots[slots[1]]) == 0);
}

TEST_CASE("GPU bounds: a hundred adapters and a thousand engines read no more than the slots hold") {
    auto state = freshState();
    std::vector<FedAdapter> many;
    for (uint64_t i = 0; i < 100; ++i) many.push_back({1000 + i, std::vector<uint64_t>(1000, 0), {}, "X"});
    std::vector<int> slots = read(*state, SECOND, many);
    CHECK(state->count == MAX_GPU_ADAPTERS);
    CHECK(slots[MAX_GPU_ADAPTERS - 1] >= 0);
    CHECK(slots[MAX_GPU_ADAPTERS] == -1);
    CHECK(state->slots[slots[0]].engineCount == MAX_GPU_ENGINES);
    for (auto& a : many) a.running.assign(1000, SECOND / 2);
    read(*state, 2 * SECOND, many);
    CHECK(gpuAdapterLoad(*state, state->slots[state->order[MAX_GPU_ADAPTERS - 1]]) == 50);
    // A new set of sixteen while the last reading's still hold every slot: none fits until they go.
    std::vector<FedAdapter> others;
    for (uint64_t i = 0; i < 16; ++i) others.push_back({5000 + i, {0}, {}, "Y"});
    read(*state, 3 * SECOND, others);
    CHECK(state->count == 0);
    read(*state, 4 * SECOND, others);
    CHECK(state->count == 16);
}

TEST_CASE("GPU memory: dedicated and shared segments summed, saturating") {
    auto state = freshState();
    beginGpuReading(*state, SECOND);
    bool isNew = false;
    const int slot = addGpuAdapter(*state, 3, 1, &isNew);
    addGpuSegment(state->slots[slot], 1000, 4000, false);
    addGpuSegment(state->slots[slot], 250, 4000, false);
    addGpuSegment(state->slots[slot], 77, 16000, true);
    endGpuReading(*state);
    const GpuAdapter& a = state->slots[slot];
    CHECK(a.dedicatedUsed == 1250);
    CHECK(a.dedicatedSize == 8000);
    CHECK(a.sharedUsed == 77);
    CHECK(a.sharedSize == 16000);
    beginGpuReading(*state, 2 * SECOND);
    addGpuAdapter(*state, 3, 1, &isNew);
    addGpuSegment(state->slots[slot], UINT64_MAX - 5, UINT64_MAX, false);
    addGpuSegment(state->slots[slot], 10, 10, false);
    endGpuReading(*state);
    CHECK(state->slots[slot].dedicatedUsed == UINT64_MAX);
    CHECK(state->slots[slot].dedicatedSize == UINT64_MAX);
}

TEST_CASE("GPU adapter shown: the busiest by default, by place or by name without case; none matches: none") {
    auto state = freshState();
    read(*state, SECOND, {{1, {0}, {}, "Intel UHD"}, {2, {0}, {}, "NVIDIA RTX"}, {3, {}, {}, "Display Only"}});
    std::vector<int> slots =
        read(*state, 2 * SECOND, {{1, {SECOND / 2}, {}, "Intel UHD"}, {2, {SECOND / 2}, {}, "NVIDIA RTX"}, {3, {}, {}, "Display Only"}});
    CHECK(shownGpuAdapter(*state, "") == slots[0]);  // equals: the first listed
    CHECK(shownGpuAdapter(*state, nullptr) == slots[0]);
    slots = read(*state, 3 * SECOND,
                 {{1, {SECOND / 2 + SECOND / 10}, {}, ""}, {2, {SECOND}, {}, ""}, {3, {}, {}, ""}});
    CHECK(shownGpuAdapter(*state, "") == slots[1]);
    CHECK(shownGpuAdapter(*state, "0") == slots[0]);
    CHECK(shownGpuAdapter(*state, "1") == slots[1]);
    CHECK(shownGpuAdapter(*state, "2") == -1);  // no engine
    CHECK(shownGpuAdapter(*state, "3") == -1);
    CHECK(shownGpuAdapter(*state, "nvidia rtx") == slots[1]);
    CHECK(shownGpuAdapter(*state, "NVIDIA") == -1);  // the whole name only
    CHECK(shownGpuAdapter(*state, "NVIDIA RTX ") == -1);
    CHECK(shownGpuAdapter(*state, "1x") == -1);
    // The busier of two adapters whose loads round alike; of two beyond the interval (both at
    // 100 %), and of two after a clock that stood still (both at 0 %), the first listed.
    slots = read(*state, 4 * SECOND, {{1, {SECOND / 2 + SECOND / 10 + 1000}, {}, ""}, {2, {SECOND + 1001}, {}, ""}, {3, {}, {}, ""}});
    CHECK(gpuAdapterLoad(*state, state->slots[slots[0]]) == gpuAdapterLoad(*state, state->slots[slots[1]]));
    CHECK(shownGpuAdapter(*state, "") == slots[1]);
    slots = read(*state, 5 * SECOND, {{1, {3 * SECOND}, {}, ""}, {2, {5 * SECOND}, {}, ""}, {3, {}, {}, ""}});
    CHECK(shownGpuAdapter(*state, "") == slots[0]);
    slots = read(*state, 5 * SECOND, {{1, {4 * SECOND}, {}, ""}, {2, {7 * SECOND}, {}, ""}, {3, {}, {}, ""}});
    CHECK(shownGpuAdapter(*state, "") == slots[0]);
    auto none = freshState();
    CHECK(shownGpuAdapter(*none, "") == -1);
}

TEST_CASE("GPU tooltip: each adapter's load, its three busiest engines by name or number, and its memory") {
    auto state = freshState();
    read(*state, SECOND, {{1, {0, 0, 0, 0, 0}, {}, "Fast GPU"}, {2, {0}, {}, "Slow GPU"}});
    beginGpuReading(*state, 2 * SECOND);
    bool isNew = false;
    const int fast = addGpuAdapter(*state, 1, 5, &isNew);
    snprintf(state->slots[fast].engineNames[0], GPU_ENGINE_NAME_SIZE, "3D");
    snprintf(state->slots[fast].engineNames[2], GPU_ENGINE_NAME_SIZE, "Video Decode");
    const uint64_t running[] = {SECOND * 87 / 100, 0, SECOND * 12 / 100, SECOND * 12 / 100, SECOND / 100};
    for (uint32_t e = 0; e < 5; ++e) compareGpuEngine(state->slots[fast], e, running[e]);
    addGpuSegment(state->slots[fast], 1342177280, 8589934592, false);
    addGpuSegment(state->slots[fast], 104857600, 17179869184, true);
    const int slow = addGpuAdapter(*state, 2, 1, &isNew);
    compareGpuEngine(state->slots[slow], 0, 0);
    endGpuReading(*state);
    DetailText detail;
    clearDetail(detail);
    describeGpuFigures(detail, *state);
    testsupport::checkLines({"Fast GPU: 87%", "Engines: 3D 87%, Video Decode 12%, Engine 3 12%",
                             "Dedicated memory: 1.25 GB / 8.00 GB", "Shared memory: 100.0 MB / 16.00 GB", "Slow GPU: 0%",
                             "Engines: Engine 0 0%", "Dedicated memory: 0 B / 0 B", "Shared memory: 0 B / 0 B"},
                            testsupport::crLfLines(std::string(detail.text, detail.length)));
    uint32_t engines[3];
    CHECK(busiestGpuEngines(state->slots[fast], 0, engines) == 0);
    auto none = freshState();
    clearDetail(detail);
    describeGpuFigures(detail, *none);
    CHECK(std::string(detail.text, detail.length) == "GPU: n/a");
}
