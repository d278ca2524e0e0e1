// The busiest processes between two readings of synthetic process lists: shares, identities,
// intervals and names.
#include <string>
#include <vector>

#include "doctest.h"
#include "sampling/process_times.h"
#include "support/check_lines.h"

namespace {

struct Process {
    uint64_t id;
    uint64_t created;
    uint64_t time;  // 100 ns
    const char* name;
};

constexpr uint64_t MS = 10000;  // 100 ns units in a millisecond

struct Reader {
    ProcessTimesState state;
    ~Reader() { releaseProcessTimes(state); }
    ProcessOutcome read(uint64_t tick, const std::vector<Process>& list, TopProcesses* top, uint32_t processors = 4) {
        beginProcessReading(state);
        for (const Process& p : list) addProcessTime(state, p.id, p.created, p.time, p.name);
        return finishProcessReading(state, tick, processors, top);
    }
    // "name percent" of each of the busiest, for a reading that must have an interval.
    std::vector<std::string> busiest(uint64_t tick, const std::vector<Process>& list, uint32_t processors = 4) {
        TopProcesses top;
        REQUIRE(read(tick, list, &top, processors) == PROCESS_SHARES);
        std::vector<std::string> lines;
        for (int i = 0; i < top.count; ++i)
            lines.push_back(std::string(top.entries[i].name) + " " + std::to_string(top.entries[i].percent));
        return lines;
    }
};

}  // namespace

TEST_CASE("the busiest three over the interval, as shares of every processor's time") {
    Reader r;
    TopProcesses top;
    CHECK(r.read(1000, {{8, 1, 0, "idle.exe"}, {4, 1, 50 * MS, "System"}, {12, 1, 0, "a.exe"}, {16, 1, 0, "b.exe"},
                        {20, 1, 0, "c.exe"}},
                 &top) == PROCESS_FIRST_READING);
    // Over 1000 ms of four processors (4000 ms): 2000 ms is 50 %, 20 ms 0.5 % (rounded up), 10 ms 0.25 %.
    testsupport::checkLines({"a.exe 50", "c.exe 25", "System 1"},
                            r.busiest(2000, {{20, 1, 1000 * MS, "c.exe"}, {16, 1, 10 * MS, "b.exe"},
                                             {12, 1, 2000 * MS, "a.exe"}, {4, 1, 70 * MS, "System"},
                                             {8, 1, 0, "idle.exe"}}));
    // Only processes that used some time; on a tie the one of the lower id. The name is the
    // latest reading's.
    testsupport::checkLines({"b.exe 1"}, r.busiest(3000, {{16, 1, 50 * MS, "b.exe"}, {12, 1, 2000 * MS, "a.exe"}}));
    testsupport::checkLines({"a.exe 50", "x.exe 50"},
                            r.busiest(3500, {{16, 1, 550 * MS, "x.exe"}, {12, 1, 2500 * MS, "a.exe"}}, 2));
}

TEST_CASE("a process is the same one only with the same id and creation time") {
    Reader r;
    TopProcesses top;
    r.read(1000, {{4, 1, 100 * MS, "old.exe"}, {8, 1, 500 * MS, "gone.exe"}}, &top);
    // Id 4 is now another process, created since; id 12 appeared: neither has an interval.
    CHECK(r.busiest(2000, {{4, 2, 900 * MS, "new.exe"}, {12, 3, 800 * MS, "born.exe"}, {8, 1, 500 * MS, "gone.exe"}})
              .empty());
    testsupport::checkLines({"new.exe 5", "born.exe 3"},
                            r.busiest(3000, {{4, 2, 1100 * MS, "new.exe"}, {12, 3, 900 * MS, "born.exe"}}));
    // A time that went back (a reading the system got wrong) counts nothing.
    CHECK(r.busiest(4000, {{4, 2, 1000 * MS, "new.exe"}}).empty());
}

TEST_CASE("no interval: a reading in the same millisecond is dropped, a tick that went back starts afresh") {
    Reader r;
    TopProcesses top;
    r.read(5000, {{4, 1, 0, "a.exe"}}, &top);
    CHECK(r.read(5000, {{4, 1, 400 * MS, "a.exe"}}, &top) == PROCESS_SAME_MILLISECOND);
    testsupport::checkLines({"a.exe 20"}, r.busiest(6000, {{4, 1, 800 * MS, "a.exe"}}));
    CHECK(r.read(10, {{4, 1, 900 * MS, "a.exe"}}, &top) == PROCESS_FIRST_READING);
    testsupport::checkLines({"a.exe 5"}, r.busiest(1010, {{4, 1, 1100 * MS, "a.exe"}}));
}

TEST_CASE("a long name is cut at a character's boundary; many processes grow the buffers") {
    Reader r;
    TopProcesses top;
    // 62 ASCII bytes and a three-byte character: the character does not fit the 63 bytes kept.
    const std::string name = std::string(62, 'n') + "\xE2\x80\xA6" + "tail.exe";
    std::vector<Process> list;
    for (uint64_t id = 1; id <= 5000; ++id) list.push_back({id, id, 0, "other.exe"});
    list.push_back({9999, 1, 0, name.c_str()});
    r.read(1000, list, &top);
    list.back().time = 100 * MS;
    REQUIRE(r.read(2000, list, &top) == PROCESS_SHARES);
    REQUIRE(top.count == 1);
    CHECK(std::string(top.entries[0].name) == std::string(62, 'n'));
    CHECK(top.entries[0].percent == 3);  // 100 ms of 4000, 2.5 % rounded up
}
