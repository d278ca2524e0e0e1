// Per-processor loads: readings group by group, times that went back, changed counts and groups,
// the bounds, and the columns each processor takes in the cores graph.
#include <memory>
#include <string>
#include <vector>

#include "doctest.h"
#include "sampling/core_loads.h"

namespace {

struct Times {
    uint64_t idle, kernel, user;
};

// Records as the system writes them; the bytes the loads do not use hold garbage.
std::vector<uint8_t> recordsOf(const std::vector<Times>& processors) {
    std::vector<uint8_t> bytes(processors.size() * CORE_RECORD_SIZE, 0xEE);
    auto put = [&bytes](size_t at, uint64_t value) {
        for (int i = 0; i < 8; ++i) bytes[at + i] = static_cast<uint8_t>(value >> (8 * i));
    };
    for (size_t i = 0; i < processors.size(); ++i) {
        put(i * CORE_RECORD_SIZE + CORE_RECORD_IDLE, processors[i].idle);
        put(i * CORE_RECORD_SIZE + CORE_RECORD_KERNEL, processors[i].kernel);
        put(i * CORE_RECORD_SIZE + CORE_RECORD_USER, processors[i].user);
    }
    return bytes;
}

// A machine whose processors, group by group, are busy at whole percentages of each second.
struct Machine {
    std::vector<std::vector<Times>> groups;
    explicit Machine(std::vector<size_t> sizes) {
        for (size_t n : sizes) groups.push_back(std::vector<Times>(n, Times{5000, 7000, 1000}));
    }
    // A second at these loads, processor by processor across the groups; half the busy time
    // kernel, half user.
    void run(const std::vector<int>& loads) {
        size_t i = 0;
        for (auto& group : groups)
            for (Times& t : group) {
                const uint64_t busy = 100000ULL * static_cast<uint64_t>(loads[i++]);
                t.idle += 10000000 - busy;
                t.kernel += 10000000 - busy + busy / 2;
                t.user += busy - busy / 2;
            }
    }
    void read(CoreLoads& state) const {
        beginCoreReading(state);
        for (const auto& group : groups) {
            const std::vector<uint8_t> bytes = recordsOf(group);
            addCoreGroup(state, bytes.data(), bytes.size());
        }
        endCoreReading(state);
    }
    size_t count() const {
        size_t n = 0;
        for (const auto& group : groups) n += group.size();
        return n;
    }
};

std::unique_ptr<CoreLoads> freshState() {
    std::unique_ptr<CoreLoads> state(new CoreLoads());
    restartCoreLoads(*state);
    return state;
}

std::vector<int> loadsOf(const CoreLoads& state) { return std::vector<int>(state.loads, state.loads + state.count); }

// One reading of a single group of these processors.
void readOne(CoreLoads& state, const std::vector<Times>& processors) {
    const std::vector<uint8_t> bytes = recordsOf(processors);
    beginCoreReading(state);
    addCoreGroup(state, bytes.data(), bytes.size());
    endCoreReading(state);
}

}  // namespace

TEST_CASE("each processor shows its busy share of the interval from the second reading") {
    auto state = freshState();
    readOne(*state, {{100, 150, 50}, {0, 0, 0}, {1000, 2000, 0}});
    CHECK(loadsOf(*state) == std::vector<int>{0, 0, 0});  // the baseline alone
    // Busy is kernel plus user less idle, the kernel time holding the idle time.
    readOne(*state, {{100 + 625, 150 + 625 + 200, 50 + 175},  // 375 of 1000: 37.5 rounds up
                     {6251, 6251 + 1000, 2749},                // 3749 of 10000: 37.49 rounds down
                     {900, 2000 + 500, 500}});                 // busy beyond the time: 100
    CHECK(loadsOf(*state) == std::vector<int>{38, 37, 100});

    SUBCASE("times that went back show 0, and the next reading compares with them") {
        readOne(*state, {{700, 900, 200}, {6251, 7251, 2749}, {500, 1000, 0}});
        CHECK(loadsOf(*state) == std::vector<int>{0, 0, 0});  // back; no time passed; back
        readOne(*state, {{800, 1100, 300}, {6251, 8251, 2749}, {600, 1200, 100}});
        CHECK(loadsOf(*state) == std::vector<int>{67, 100, 67});
    }
    SUBCASE("after a restart the next reading is a baseline again") {
        restartCoreLoads(*state);
        readOne(*state, {{100000, 200000, 100000}, {1, 2, 3}, {4, 5, 6}});
        CHECK(loadsOf(*state) == std::vector<int>{0, 0, 0});
    }
    SUBCASE("a partial record at the end is not read") {
        std::vector<uint8_t> bytes = recordsOf({{1, 1, 1}, {1, 1, 1}});
        bytes.resize(bytes.size() + CORE_RECORD_SIZE - 1, 0);
        beginCoreReading(*state);
        addCoreGroup(*state, bytes.data(), bytes.size());
        endCoreReading(*state);
        CHECK(state->count == 2);
    }
}

TEST_CASE("a changed processor count or grouping starts afresh at 0, never with a spike") {
    // Each change moves processors to other places: compared with another processor's times a
    // bar could show anything.
    struct Change {
        std::vector<size_t> before, after;
    };
    for (const Change& c : {Change{{4}, {3}}, Change{{3}, {4}}, Change{{2, 2}, {3, 1}}, Change{{2}, {2, 2}},
                            Change{{2, 2}, {2}}, Change{{64, 64}, {64, 63}}}) {
        CAPTURE(c.before.size());
        CAPTURE(c.after.front());
        auto state = freshState();
        Machine before(c.before);
        before.read(*state);
        before.run(std::vector<int>(before.count(), 50));
        before.read(*state);
        REQUIRE(state->loads[0] == 50);
        Machine after(c.after);
        for (auto& group : after.groups)
            for (Times& t : group) t = Times{1, 1ULL << 40, 1ULL << 40};  // far ahead of any earlier times
        after.read(*state);
        CHECK(state->count == after.count());
        CHECK(loadsOf(*state) == std::vector<int>(after.count(), 0));
        after.run(std::vector<int>(after.count(), 75));
        after.read(*state);
        CHECK(loadsOf(*state) == std::vector<int>(after.count(), 75));
    }
}

TEST_CASE("every processor of every group counts, up to the most a system can have") {
    for (const std::vector<size_t>& sizes : {std::vector<size_t>{2}, {64}, {64, 1}, {64, 64}, {64, 64, 64, 64}}) {
        Machine machine(sizes);
        CAPTURE(machine.count());
        auto state = freshState();
        machine.read(*state);
        std::vector<int> loads;
        for (size_t i = 0; i < machine.count(); ++i) loads.push_back(static_cast<int>(i * 7 % 101));
        machine.run(loads);
        machine.read(*state);
        CHECK(loadsOf(*state) == loads);
    }
    SUBCASE("beyond 32 groups and 2048 processors nothing more is read") {
        auto state = freshState();
        Machine many(std::vector<size_t>(33, 64));
        many.read(*state);
        CHECK(state->count == MAX_CORES);
        CHECK(state->groups == MAX_CORE_GROUPS);
        const std::vector<uint8_t> huge = recordsOf(std::vector<Times>(3000, Times{1, 2, 3}));
        beginCoreReading(*state);
        addCoreGroup(*state, huge.data(), huge.size());
        endCoreReading(*state);
        CHECK(state->count == MAX_CORES);
    }
    SUBCASE("a group the system did not answer shows no processor; the next reading starts afresh") {
        Machine machine({64, 64});
        auto state = freshState();
        machine.read(*state);
        beginCoreReading(*state);
        const std::vector<uint8_t> first = recordsOf(machine.groups[0]);
        addCoreGroup(*state, first.data(), first.size());
        failCoreReading(*state);
        endCoreReading(*state);
        CHECK(state->count == 0);
        machine.run(std::vector<int>(128, 90));
        machine.read(*state);
        CHECK(loadsOf(*state) == std::vector<int>(128, 0));
    }
}

TEST_CASE("columns: equal shares from the left, the rest background; shared columns show the busiest") {
    const uint8_t three[] = {10, 20, 30};
    std::vector<int> columns;
    for (int c = 0; c < 11; ++c) columns.push_back(coreColumnLoad(three, 3, 11, c));
    CHECK(columns == std::vector<int>{10, 10, 10, 20, 20, 20, 30, 30, 30, -1, -1});
    CHECK(coreColumnLoad(three, 3, 3, 2) == 30);
    CHECK(coreColumnLoad(three, 3, 2, 0) == 10);
    CHECK(coreColumnLoad(three, 3, 2, 1) == 30);  // 20 and 30 share it
    for (int outside : {-1, 11}) CHECK(coreColumnLoad(three, 3, 11, outside) == -1);
    CHECK(coreColumnLoad(three, 0, 11, 0) == -1);
    CHECK(coreColumnLoad(three, 3, 0, 0) == -1);

    // 256 processors on 100 columns: each column takes two or three neighbours, and every
    // processor belongs to exactly one column.
    uint8_t loads[256] = {};
    for (int hot = 0; hot < 256; ++hot) {
        loads[hot] = 100;
        int columnsShowingIt = 0;
        for (int c = 0; c < 100; ++c) columnsShowingIt += coreColumnLoad(loads, 256, 100, c) == 100;
        loads[hot] = 0;
        CHECK_MESSAGE(columnsShowingIt == 1, "processor " << hot);
    }
    CHECK(coreColumnLoad(loads, 256, 2147483647, 2147483646) == -1);

    CHECK(coreBarHeight(100, 40) == 40);
    CHECK(coreBarHeight(37, 40) == 14);  // 14.8 rounds down
    CHECK(coreBarHeight(1, 99) == 0);
    CHECK(coreBarHeight(0, 40) == 0);
    CHECK(coreBarHeight(-1, 40) == 0);
    CHECK(coreBarHeight(100, 2147483647) == 2147483647);
    CHECK(coreBarHeight(99, 16843009) == 16674578);  // the largest height of the 32-bit product
    CHECK(coreBarHeight(99, 16843010) == 16674579);

    // Walked column by column from any first column, the loads are coreColumnLoad's.
    uint8_t varied[300];
    for (int p = 0; p < 300; ++p) varied[p] = static_cast<uint8_t>((p * 37 + 11) % 101);
    for (uint32_t count : {0u, 1u, 3u, 7u, 64u, 200u, 300u})
        for (int64_t width : {1, 2, 5, 11, 64, 99, 212, 299, 301, 640})
            for (int64_t first : {int64_t{-2}, int64_t{0}, width / 3, width - 1}) {
                CoreColumns walk(varied, count, width, first);
                for (int64_t c = first; c < width + 2; ++c) {
                    const int walked = walk.next();
                    if (walked != coreColumnLoad(varied, count, width, c)) {
                        FAIL_CHECK("count " << count << ", width " << width << ", from " << first << ": column " << c
                                            << " walked " << walked);
                        break;
                    }
                }
            }
}
