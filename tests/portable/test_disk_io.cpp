// Disk activity: the walk to the physical-disk object's byte counters of all disks or of one by
// name or drive letter, blocks without them, hostile blocks, and the rates between readings.
#include <cstdio>
#include <string>
#include <vector>

#include "doctest.h"
#include "sampling/disk_io.h"
#include "sampling/perf_layout.h"
#include "support/guarded_bytes.h"
#include "support/perf_block.h"

using namespace perflayout;
using namespace testsupport;
using perfblock::Block;
using perfblock::build;
using perfblock::diskObject;
using perfblock::otherObject;

namespace {

constexpr int64_t SECOND = 10000000;  // in the 100 ns units the block builder takes

// A single-byte code page: the first 256 code points as themselves, others as '?'.
int32_t latin1(const uint16_t* text, int32_t units, char* out, int32_t outSize) {
    if (units > outSize) return 0;
    for (int32_t i = 0; i < units; ++i) out[i] = text[i] < 256 ? static_cast<char>(text[i]) : '?';
    return units;
}
int32_t refused(const uint16_t*, int32_t, char*, int32_t) { return 0; }

// Two disks, the second holding two volumes, behind an object of another kind.
Block machine(int64_t time = 5 * SECOND) {
    return build(time, {otherObject(230, 2), diskObject({{u"0 C:", 100, 200}, {u"1 D: E:", 1000, 2000}})});
}

struct Found {
    bool found;
    int64_t read, write;
    std::string instance;
    DiskIoFound result;
};

// The walk over a guarded copy: a read past the block's end stops the test.
Found readGuarded(const std::vector<uint8_t>& bytes, const char* wanted, perfwalk::WideToAnsi convert = latin1) {
    GuardedBytes guarded(bytes);
    DiskIoCounters counters = {};
    const DiskIoFound result = readDiskIoCounters(guarded.data(), guarded.size(), wanted, convert, &counters);
    if (result != DISK_IO_FOUND) return Found{false, 0, 0, "", result};
    return Found{true, counters.readBytes, counters.writeBytes, counters.instance, result};
}

DiskIoCounters reading(int64_t time, int64_t read, int64_t write, const char* instance = "_Total",
                       int64_t frequency = 10000000) {
    DiskIoCounters c = {read, write, time, frequency, {}};
    snprintf(c.instance, sizeof c.instance, "%s", instance);
    return c;
}

}  // namespace

TEST_CASE("the walk reads all disks as _Total, or one disk by its whole name or a drive letter it holds") {
    const Block block = machine();
    struct Case {
        const char* wanted;
        bool found;
        int64_t read, write;
        const char* instance;
    };
    const Case cases[] = {
        {"", true, 1100, 2200, "_Total"},  {nullptr, true, 1100, 2200, "_Total"}, {"_TOTAL", true, 1100, 2200, "_Total"},
        {"0 C:", true, 100, 200, "0 C:"},  {"1 d: e:", true, 1000, 2000, "1 D: E:"}, {"c:", true, 100, 200, "0 C:"},
        {"E:", true, 1000, 2000, "1 D: E:"},
        // Whole names and whole letters only.
        {"0", false, 0, 0, ""}, {"C", false, 0, 0, ""}, {"D: E:", false, 0, 0, ""}, {"1 D:", false, 0, 0, ""},
        {"F:", false, 0, 0, ""}, {"0 C: ", false, 0, 0, ""}, {"1:", false, 0, 0, ""},
    };
    for (const Case& c : cases) {
        CAPTURE(c.wanted);
        const Found found = readGuarded(block.bytes, c.wanted);
        CHECK(found.result == (c.found ? DISK_IO_FOUND : DISK_IO_NO_DISK));
        CHECK(found.read == c.read);
        CHECK(found.write == c.write);
        CHECK(found.instance == c.instance);
    }
    DiskIoCounters counters = {};
    REQUIRE(readDiskIoCounters(block.bytes.data(), block.size(), "", latin1, &counters) == DISK_IO_FOUND);
    CHECK(counters.perfTime == 5 * SECOND / 100);  // the block's own time base: PerfTime in ticks of PerfFreq
    CHECK(counters.perfFreq == 100000);
}

TEST_CASE("without the object, either counter, an 8-byte counter, the instance or a time base the value is missing") {
    // A sound block without the object (the disk counters are off) is told from an object without
    // the disk and from a block that tells nothing: only the first stays so until a restart.
    auto noObject = [](const Block& block) { return readGuarded(block.bytes, "").result == DISK_IO_NO_OBJECT; };
    auto missing = [](const Block& block, const char* wanted = "") {
        return readGuarded(block.bytes, wanted).result == DISK_IO_NO_DISK;
    };
    CHECK(noObject(build(SECOND, {otherObject(230, 2)})));  // disk counters switched off, or Wine
    CHECK(noObject(build(SECOND, {})));
    const Block noTotal = build(SECOND, {diskObject({{u"0 C:", 1, 2}}, false)});
    CHECK(missing(noTotal));
    CHECK_FALSE(missing(noTotal, "C:"));

    perfblock::Object withoutWrites = diskObject({{u"0 C:", 1, 2}});
    withoutWrites.counters[perfblock::DISK_WRITE_COUNTER_POSITION] = 224;
    CHECK(missing(build(SECOND, {withoutWrites})));
    perfblock::Object single = diskObject({});
    single.hasInstances = false;
    single.values = {1, 2, 3, 4, 5};
    CHECK(missing(build(SECOND, {single})));

    const Block intact = machine();
    const size_t readDefinition = intact.counterDefinitions[1][perfblock::DISK_READ_COUNTER_POSITION];
    for (uint32_t size : {0u, 4u, 16u}) {
        CAPTURE(size);
        Block wrongSize = intact;
        wrongSize.put32(readDefinition + COUNTER_SIZE, size);
        CHECK(missing(wrongSize));
    }
    for (uint32_t frequencyHigh : {0u, 0x80000000u}) {  // 0, or negative
        Block noTimeBase = intact;
        noTimeBase.put32(DATA_PERF_FREQ, 0);
        noTimeBase.put32(DATA_PERF_FREQ + 4, frequencyHigh);
        CHECK(readGuarded(noTimeBase.bytes, "").result == DISK_IO_NO_DATA);
    }
    CHECK(readGuarded(intact.bytes, "", refused).result == DISK_IO_NO_DISK);  // a name the system cannot convert
    CHECK(missing(intact, std::string(300, 'x').c_str()));
}

TEST_CASE("hostile blocks: truncated anywhere, any field past the end, 10,000 instances, and never a read outside") {
    const Block intact = machine();
    const char* const wanted[] = {"", "E:", "1 D: E:"};
    SUBCASE("every truncation, with and without a TotalByteLength that agrees: a block that tells nothing") {
        for (size_t length = 0; length < intact.size(); ++length) {
            std::vector<uint8_t> cut(intact.bytes.begin(), intact.bytes.begin() + static_cast<std::ptrdiff_t>(length));
            for (const char* w : wanted) {
                CAPTURE(length);
                CHECK(readGuarded(cut, w).result == DISK_IO_NO_DATA);
                if (length < DATA_BLOCK_SIZE) continue;
                Block agreeing;
                agreeing.bytes = cut;
                agreeing.put32(DATA_TOTAL_BYTE_LENGTH, static_cast<uint32_t>(length));
                CHECK(readGuarded(agreeing.bytes, w).result == DISK_IO_NO_DATA);
            }
        }
    }
    SUBCASE("every 32-bit field in turn set to 0, far past the end, or just past it") {
        // Many fields do not take part in the walk (or still lead to a disk, as a damaged name
        // that still holds E:); none may lead outside the block.
        int found = 0, reads = 0;
        for (size_t at = 0; at + 4 <= intact.size(); at += 4)
            for (uint32_t value : {0u, 0xFFFFFFFFu, 0x7FFFFFFFu, static_cast<uint32_t>(intact.size()),
                                   static_cast<uint32_t>(intact.size() - at)}) {
                Block damaged = intact;
                damaged.put32(at, value);
                for (const char* w : wanted) {
                    found += readGuarded(damaged.bytes, w).found ? 1 : 0;
                    ++reads;
                }
            }
        MESSAGE(found << " of " << reads << " reads of damaged blocks still found their disk");
        CHECK(found < reads);
    }
    SUBCASE("10,000 instances: the last is found; a count past the instances there ends at the object") {
        std::vector<perfblock::Disk> disks;
        for (int i = 0; i < 10000; ++i) {
            std::u16string name;
            for (char c : std::to_string(i) + (i == 9999 ? " Z:" : "")) name += static_cast<char16_t>(c);
            disks.push_back({name, i, 2 * i});
        }
        const Block many = build(SECOND, {diskObject(disks)});
        CHECK(readGuarded(many.bytes, "z:").read == 9999);
        CHECK(readGuarded(many.bytes, "").write == 9999LL * 10000);
        Block countless = intact;
        countless.put32(intact.objects[1] + OBJECT_NUM_INSTANCES, 0x7FFFFFFF);
        CHECK_FALSE(readGuarded(countless.bytes, "F:").found);
        CHECK(readGuarded(countless.bytes, "").read == 1100);
    }
}

TEST_CASE("rates: bytes a second over the block's own time base, rounded down, first readings 0") {
    DiskIoState state;
    DiskIoRates rates = {7, 7};
    CHECK(takeDiskIoReading(state, reading(1000, 5000, 5000), &rates) == DISK_IO_FIRST_READING);
    CHECK((rates.read == 0 && rates.write == 0));
    CHECK(takeDiskIoReading(state, reading(1000 + 10000000, 5000 + 1048576, 5000 + 2048), &rates) == DISK_IO_RATES);
    CHECK(rates.read == 1048576);
    CHECK(rates.write == 2048);
    CHECK(takeDiskIoReading(state, reading(10001000 + 3, 5000 + 1048576 + 10, 7048), &rates) == DISK_IO_RATES);
    CHECK(rates.read == 33333333);  // 10 bytes in 0.3 µs

    SUBCASE("the same time changes nothing: the next reading counts from the older") {
        CHECK(takeDiskIoReading(state, reading(10001003, 9000000000LL, 0), &rates) == DISK_IO_SAME_TIME);
        CHECK(takeDiskIoReading(state, reading(20001003, 5000 + 1048576 + 10 + 4096, 7048), &rates) == DISK_IO_RATES);
        CHECK(rates.read == 4096);
    }
    SUBCASE("a counter that went down counts 0 for the interval; the other still counts") {
        CHECK(takeDiskIoReading(state, reading(20001003, 12, 7048 + 512), &rates) == DISK_IO_RATES);
        CHECK(rates.read == 0);
        CHECK(rates.write == 512);
        CHECK(takeDiskIoReading(state, reading(30001003, 12 + 100, 7048 + 512), &rates) == DISK_IO_RATES);
        CHECK(rates.read == 100);
    }
    SUBCASE("a time that went back, another frequency or another disk start afresh") {
        CHECK(takeDiskIoReading(state, reading(5, 1, 1), &rates) == DISK_IO_FIRST_READING);
        CHECK(takeDiskIoReading(state, reading(10000005, 1, 1, "_Total", 3579545), &rates) == DISK_IO_FIRST_READING);
        CHECK(takeDiskIoReading(state, reading(20000005, 1, 1, "1 D: E:", 3579545), &rates) == DISK_IO_FIRST_READING);
        CHECK(takeDiskIoReading(state, reading(20000005 + 3579545, 1025, 1, "1 D: E:", 3579545), &rates) == DISK_IO_RATES);
        CHECK(rates.read == 1024);
    }
    SUBCASE("a gap gives the average over the gap") {
        const int64_t hours8 = 8LL * 3600 * 10000000;
        CHECK(takeDiskIoReading(state, reading(10001003 + hours8, 5000 + 1048576 + 10 + 28800000000LL, 7048), &rates) ==
              DISK_IO_RATES);
        CHECK(rates.read == 1000000);
    }
    SUBCASE("a forgotten baseline makes the next reading a first one") {
        forgetDiskIoBaseline(state);
        CHECK(takeDiskIoReading(state, reading(99999999, 0, 0), &rates) == DISK_IO_FIRST_READING);
    }
    CHECK(diskByteRate(0, INT64_MAX, 1, 10000000) == INT64_MAX);
    CHECK(diskByteRate(INT64_MIN, INT64_MAX, 1, 1) == INT64_MAX);
    CHECK(diskByteRate(0, INT64_MAX, UINT64_MAX, 1) == 0);
    CHECK(diskByteRate(5, 4, 1, 1) == 0);
}
