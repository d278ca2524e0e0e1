// Processor load meter: counter source by platform, the counter switch in the registry, the walk
// over performance data blocks (damaged ones too), rounding, the growing buffer, the switch to
// processor times, and one run against the real system.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <deque>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "doctest.h"
#include "sampling/load_meter.h"
#include "sampling/meter_platform.h"
#include "sampling/perf_layout.h"
#include "support/perf_block.h"
#include "support/check_lines.h"
#include "support/guarded_bytes.h"

using namespace testsupport;
using namespace perflayout;
using perfblock::Block;
using perfblock::build;
using perfblock::otherObject;
using perfblock::processorObject;
using perfblock::systemObject;

namespace {

const std::string OPEN_PERF_OS = "RegOpenKeyExA HKLM\\SYSTEM\\CurrentControlSet\\Services\\PerfOS\\Performance";
const std::string OPEN_PERF_PROC = "RegOpenKeyExA HKLM\\SYSTEM\\CurrentControlSet\\Services\\PerfProc\\Performance";
const std::string WRITE_ENABLED = "RegSetValueExA Disable Performance Counters 0";

struct SystemTimes {
    uint64_t idle, kernel, user;
};

// The system as the meter sees it through its platform operations; every call is logged.
struct FakeSystem {
    bool versionAnswers = true;
    uint32_t platformId = 2;
    uint32_t majorVersion = 10;
    std::vector<std::string> refusedKeys;
    std::vector<uint8_t> data;   // the block every query returns
    int32_t queryFailure = 0;    // an error code that every query answers instead
    uint32_t bytesReported = 0;  // nonzero: the size a successful query reports
    // What a query leaves in the size variable when it answers ERROR_MORE_DATA.
    enum SizeLeft { capacityLeft, neededLeft, fixedLeft } sizeLeft = capacityLeft;
    uint32_t fixedSizeLeft = 0;
    std::deque<SystemTimes> times;  // answered in turn; none left: the call fails
    bool refuseConversion = false;
    std::vector<std::string> log;
};
FakeSystem fake;

bool fakeQueryVersion(uint32_t* platformId, uint32_t* majorVersion) {
    fake.log.push_back("GetVersionExA");
    if (!fake.versionAnswers) return false;
    *platformId = fake.platformId;
    *majorVersion = fake.majorVersion;
    return true;
}

int32_t fakeOpenMachineKey(const char* subKey, uintptr_t* key) {
    const bool refused = std::find(fake.refusedKeys.begin(), fake.refusedKeys.end(), subKey) != fake.refusedKeys.end();
    fake.log.push_back(std::string("RegOpenKeyExA HKLM\\") + subKey + (refused ? " refused" : ""));
    if (refused) return 5;  // ERROR_ACCESS_DENIED
    *key = 0x4B;
    return 0;
}

int32_t fakeWriteDwordValue(uintptr_t, const char* valueName, uint32_t value) {
    fake.log.push_back(std::string("RegSetValueExA ") + valueName + " " + std::to_string(value));
    return 0;
}

void fakeCloseKey(uintptr_t) { fake.log.push_back("RegCloseKey"); }
void fakeClosePerformanceData() { fake.log.push_back("RegCloseKey HKEY_PERFORMANCE_DATA"); }

int32_t fakeQueryPerformanceData(const char* valueName, uint8_t* buffer, uint32_t* size) {
    fake.log.push_back(std::string("RegQueryValueExA ") + valueName + " " + std::to_string(*size));
    if (fake.log.size() > 1000) FAIL("the meter asks again and again, last with " << *size << " bytes");
    if (fake.queryFailure) return fake.queryFailure;
    if (*size < fake.data.size()) {
        if (fake.sizeLeft == FakeSystem::neededLeft) *size = static_cast<uint32_t>(fake.data.size());
        if (fake.sizeLeft == FakeSystem::fixedLeft) *size = fake.fixedSizeLeft;
        return METER_ERROR_MORE_DATA;
    }
    memcpy(buffer, fake.data.data(), fake.data.size());
    *size = fake.bytesReported ? fake.bytesReported : static_cast<uint32_t>(fake.data.size());
    return METER_ERROR_SUCCESS;
}

bool fakeReadSystemTimes(uint64_t* idle, uint64_t* kernel, uint64_t* user) {
    fake.log.push_back("GetSystemTimes");
    if (fake.times.empty()) return false;
    *idle = fake.times.front().idle;
    *kernel = fake.times.front().kernel;
    *user = fake.times.front().user;
    fake.times.pop_front();
    return true;
}

// A single-byte code page: the first 256 code points as themselves, others as '?'.
int32_t fakeWideToAnsi(const uint16_t* text, int32_t units, char* out, int32_t outSize) {
    if (fake.refuseConversion || units > outSize) return 0;
    for (int32_t i = 0; i < units; ++i) out[i] = text[i] < 256 ? static_cast<char>(text[i]) : '?';
    return units;
}

const MeterPlatform fakePlatform = {
    fakeQueryVersion, fakeOpenMachineKey,   fakeWriteDwordValue, fakeCloseKey,
    fakeQueryPerformanceData, fakeClosePerformanceData, fakeReadSystemTimes, fakeWideToAnsi,
};

// Each test starts as a fresh load of the module on a fake NT 10 system.
struct MeterTest {
    ProcessorLoadMeter meter;
    MeterTest() {
        fake = FakeSystem();
        resetLoadMeterState();
        installMeterPlatform(&fakePlatform);
    }
    ~MeterTest() {
        installMeterPlatform(nullptr);
        resetLoadMeterState();
    }
    void serve(const Block& block) { fake.data = block.bytes; }
    std::vector<std::string> takeLog() {
        std::vector<std::string> log;
        log.swap(fake.log);
        return log;
    }
    // The load a fresh meter reports for an idle-time difference over a time difference.
    int32_t loadOver(int64_t idleDifference, int64_t timeDifference) {
        const int64_t idle = 5000000, time = 100000000;
        ProcessorLoadMeter fresh;
        serve(totalBlock(time, idle));
        REQUIRE(fresh.currentLoad() == 0);
        serve(totalBlock(time + timeDifference, idle + idleDifference));
        return fresh.currentLoad();
    }
    // A block whose processor object follows another object that also has a "_Total".
    static Block totalBlock(int64_t time, int64_t idle) {
        return build(time, {otherObject(230, 2), processorObject({{u"0", 5}, {u"1", 7}, {u"_Total", idle}})});
    }
};

const std::vector<std::string> firstCallOnNt = {
    "GetVersionExA", "GetVersionExA", OPEN_PERF_OS, WRITE_ENABLED, "RegCloseKey",
    OPEN_PERF_PROC,  WRITE_ENABLED,   "RegCloseKey", "RegQueryValueExA 238 102400",
};

// The processor time of the wanted instance, read from a guarded copy; -1 when missing.
int64_t guardedRead(const Block& block, const char* wanted = "_Total") {
    GuardedBytes guarded(block.bytes);
    int64_t counter = 0, time = 0;
    return readBlockCounter(guarded.data(), guarded.size(), 238, 6, wanted, &counter, &time) ? counter : -1;
}

}  // namespace

TEST_CASE_FIXTURE(MeterTest, "platform class follows the platform id and the major version, asked anew each time") {
    struct Case {
        bool answers;
        uint32_t platformId, majorVersion;
        PlatformClass expected;
    };
    const Case cases[] = {
        {true, 1, 4, windows9x},     {true, 2, 4, ntVersion4},   {true, 2, 3, ntOther},
        {true, 2, 5, ntOther},       {true, 2, 10, ntOther},     {true, 0, 3, otherPlatform},
        {true, 3, 10, otherPlatform}, {false, 2, 10, otherPlatform},
    };
    for (const Case& c : cases) {
        INFO("platform id " << c.platformId << ", major " << c.majorVersion << ", answers " << c.answers);
        fake.versionAnswers = c.answers;
        fake.platformId = c.platformId;
        fake.majorVersion = c.majorVersion;
        CHECK(detectPlatformClass() == c.expected);
    }
    CHECK(takeLog().size() == std::size(cases));
}

TEST_CASE_FIXTURE(MeterTest, "the counter switch is written under both keys on NT other than version 4") {
    SUBCASE("switching on writes 0 into both") {
        CHECK(meter.enablePerformanceCounters(true));
        checkLines({"GetVersionExA", OPEN_PERF_OS, WRITE_ENABLED, "RegCloseKey", OPEN_PERF_PROC, WRITE_ENABLED,
                    "RegCloseKey"},
                   takeLog());
    }
    SUBCASE("switching off writes 1") {
        CHECK(meter.enablePerformanceCounters(false));
        checkLines({"GetVersionExA", OPEN_PERF_OS, "RegSetValueExA Disable Performance Counters 1", "RegCloseKey",
                    OPEN_PERF_PROC, "RegSetValueExA Disable Performance Counters 1", "RegCloseKey"},
                   takeLog());
    }
    SUBCASE("a refused first key writes nothing") {
        fake.refusedKeys = {"SYSTEM\\CurrentControlSet\\Services\\PerfOS\\Performance"};
        CHECK_FALSE(meter.enablePerformanceCounters(true));
        checkLines({"GetVersionExA", OPEN_PERF_OS + " refused"}, takeLog());
    }
    SUBCASE("a refused second key leaves the first value written") {
        fake.refusedKeys = {"SYSTEM\\CurrentControlSet\\Services\\PerfProc\\Performance"};
        CHECK_FALSE(meter.enablePerformanceCounters(true));
        checkLines({"GetVersionExA", OPEN_PERF_OS, WRITE_ENABLED, "RegCloseKey", OPEN_PERF_PROC + " refused"},
                   takeLog());
    }
    SUBCASE("NT 4 and Windows 9x need no switch") {
        fake.majorVersion = 4;
        CHECK(meter.enablePerformanceCounters(true));
        fake.platformId = 1;
        CHECK(meter.enablePerformanceCounters(true));
        checkLines({"GetVersionExA", "GetVersionExA"}, takeLog());
    }
}

TEST_CASE_FIXTURE(MeterTest, "the first call switches the counters on once, takes the baseline and returns 0") {
    serve(totalBlock(1000000, 400000));
    CHECK(meter.currentLoad() == 0);
    checkLines(firstCallOnNt, takeLog());
    CHECK_FALSE(meter.firstSample);
    CHECK(meter.lastCounter == 400000);
    CHECK(meter.lastTime == 1000000);

    serve(totalBlock(2000000, 1150000));  // idle 750000 of 1000000
    CHECK(meter.currentLoad() == 25);
    serve(totalBlock(3000000, 1150000));  // never idle
    CHECK(meter.currentLoad() == 100);
    checkLines({"RegQueryValueExA 238 102400", "RegQueryValueExA 238 102400"}, takeLog());

    // The stop lets the providers go once; the next query opens the data again.
    releasePerformanceData();
    releasePerformanceData();
    checkLines({"RegCloseKey HKEY_PERFORMANCE_DATA"}, takeLog());
    CHECK(meter.currentLoad() == 0);
    releasePerformanceData();
    checkLines({"RegQueryValueExA 238 102400", "RegCloseKey HKEY_PERFORMANCE_DATA"}, takeLog());
}

TEST_CASE_FIXTURE(MeterTest, "the first call returns 0 also when the counters cannot be switched on") {
    fake.refusedKeys = {"SYSTEM\\CurrentControlSet\\Services\\PerfOS\\Performance"};
    serve(totalBlock(1000000, 400000));
    CHECK(meter.currentLoad() == 0);
    checkLines({"GetVersionExA", "GetVersionExA", OPEN_PERF_OS + " refused", "RegQueryValueExA 238 102400"}, takeLog());
    serve(totalBlock(2000000, 900000));
    CHECK(meter.currentLoad() == 50);
}

TEST_CASE_FIXTURE(MeterTest, "Windows 9x and other platforms return -1 at every call, with no query and no write") {
    SUBCASE("Windows 9x") { fake.platformId = 1; }
    SUBCASE("another platform id") { fake.platformId = 3; }
    SUBCASE("a failed version query") { fake.versionAnswers = false; }
    serve(totalBlock(1000000, 400000));
    for (int call = 0; call < 3; ++call) CHECK(meter.currentLoad() == -1);
    // The module's class once, then the counter switch's own look at each call.
    releasePerformanceData();  // never opened: nothing to close
    checkLines({"GetVersionExA", "GetVersionExA", "GetVersionExA", "GetVersionExA"}, takeLog());
    CHECK(meter.firstSample);
    CHECK(perfDataBuffer.data == nullptr);
}

TEST_CASE_FIXTURE(MeterTest, "NT 4 reads the total processor time of the system object, which has no instances") {
    fake.majorVersion = 4;
    serve(build(1000, {otherObject(230, 1), systemObject(100)}));
    CHECK(meter.currentLoad() == 0);
    checkLines({"GetVersionExA", "GetVersionExA", "RegQueryValueExA 2 102400"}, takeLog());
    serve(build(11000, {otherObject(230, 1), systemObject(2100)}));  // idle 2000 of 10000
    CHECK(meter.currentLoad() == 80);
}

TEST_CASE_FIXTURE(MeterTest, "the load rounds exact halves up and is never below 0 nor capped at 100") {
    CHECK(loadOver(625, 1000) == 38);      // 37.5
    CHECK(loadOver(6251, 10000) == 37);    // 37.49
    CHECK(loadOver(995, 1000) == 1);       // 0.5
    CHECK(loadOver(996, 1000) == 0);       // 0.4
    CHECK(loadOver(1004, 1000) == 0);      // -0.4: 0.1 truncates to 0
    CHECK(loadOver(1007, 1000) == 0);      // -0.7: -0.2 truncates to 0
    CHECK(loadOver(1030, 1000) == 0);      // -3
    CHECK(loadOver(0, 1000) == 100);
    CHECK(loadOver(-500, 1000) == 150);    // the counter went backwards: ratio -0.5
    // Far beyond any percentage: the largest result, not an undefined conversion.
    CHECK(loadOver(-(int64_t(1) << 62), 1) == INT32_MAX);

    SUBCASE("the utility figure rounds the same way and is capped at 100, as Task Manager caps it") {
        CHECK(utilityPercent(37.5) == 38);
        CHECK(utilityPercent(37.49) == 37);
        CHECK(utilityPercent(99.5) == 100);
        CHECK(utilityPercent(187.2) == 100);
        CHECK(utilityPercent(-0.7) == 0);
        CHECK(utilityPercent(std::numeric_limits<double>::quiet_NaN()) == 0);
        CHECK(utilityPercent(1e300) == 100);
    }
}

TEST_CASE_FIXTURE(MeterTest, "the same time stamp twice gives 0 whatever the counter did") {
    CHECK(loadOver(0, 0) == 0);
    CHECK(loadOver(-500, 0) == 0);
    CHECK(loadOver(500, 0) == 0);
}

TEST_CASE_FIXTURE(MeterTest, "a block larger than the buffer grows it in 10240-byte steps, and the size stays") {
    perfblock::Object filler = otherObject(230, 1);
    const size_t plainSize = build(1000, {filler, processorObject({{u"_Total", 100}})}).size();
    filler.trailingBytes = 125000 - plainSize;
    const Block first = build(1000, {filler, processorObject({{u"_Total", 100}})});
    const Block second = build(2000, {filler, processorObject({{u"_Total", 850}})});  // idle 750 of 1000
    REQUIRE(first.size() == 125000);
    serve(first);

    std::vector<std::string> queries;
    uint32_t grownSize = 0;
    SUBCASE("the call leaves the capacity it was given") {
        queries = {"102400", "112640", "122880", "133120"};
        grownSize = 133120;
    }
    SUBCASE("the call leaves the size it needs") {
        fake.sizeLeft = FakeSystem::neededLeft;
        queries = {"102400", "135240"};
        grownSize = 135240;
    }
    SUBCASE("the call leaves less than the capacity: the buffer still grows") {
        fake.sizeLeft = FakeSystem::fixedLeft;
        fake.fixedSizeLeft = 0;
        queries = {"102400", "112640", "122880", "133120"};
        grownSize = 133120;
    }
    CHECK(meter.currentLoad() == 0);
    std::vector<std::string> expected(firstCallOnNt.begin(), firstCallOnNt.end() - 1);
    for (const std::string& size : queries) expected.push_back("RegQueryValueExA 238 " + size);
    checkLines(expected, takeLog());
    CHECK(perfDataBuffer.size == grownSize);

    serve(second);
    CHECK(meter.currentLoad() == 25);
    checkLines({"RegQueryValueExA 238 " + std::to_string(grownSize)}, takeLog());
    CHECK(perfDataBuffer.size == grownSize);
    CHECK_FALSE(usingProcessorTimes());
}

TEST_CASE_FIXTURE(MeterTest, "a size beyond any real block is not allocated: the value is missing") {
    serve(build(1000, {processorObject({{u"_Total", 100}})}));
    fake.data.resize(200000);
    fake.sizeLeft = FakeSystem::fixedLeft;
    SUBCASE("near the 32-bit limit") { fake.fixedSizeLeft = 0xFFFFFF00u; }
    SUBCASE("just past the buffer limit") { fake.fixedSizeLeft = PERF_DATA_SIZE_LIMIT - PERF_DATA_GROWTH + 1; }
    fake.times = {{1000, 1500, 500}};
    CHECK(meter.currentLoad() == 0);
    const std::vector<std::string> log = takeLog();
    checkLines({"RegQueryValueExA 238 102400", "GetSystemTimes"}, std::vector<std::string>(log.end() - 2, log.end()));
    CHECK(perfDataBuffer.size == PERF_DATA_INITIAL_SIZE);
    CHECK(usingProcessorTimes());
}

TEST_CASE_FIXTURE(MeterTest, "instance names compare in the ANSI code page, ASCII letters without case") {
    auto read = [](const std::vector<std::pair<std::u16string, int64_t>>& instances, const char* wanted) {
        const Block block = build(1000, {processorObject(instances)});
        return readCounterValue(block.bytes.data(), block.size(), block.objects[0], 6, wanted);
    };
    CHECK(read({{u"0", 5}, {u"_TOTAL", 400}}, "_Total") == 400);
    CHECK(read({{u"0", 5}, {u"_total", 400}}, "_TOTAL") == 400);
    CHECK(read({{u"_Tota", 1}, {u"_Totals", 2}, {u"x_Total", 3}, {u"_Total_and_more", 4}}, "_Total") == -1);
    // Beyond ASCII the bytes must be equal: 'T' and 't' are one letter, E-acute and e-acute are not.
    CHECK(read({{u"\u00c9T\u00e9", 9}}, "\xc9t\xe9") == 9);
    CHECK(read({{u"\u00c9T\u00e9", 9}}, "\xe9t\xe9") == -1);
    // The empty name names only an instance without a name.
    CHECK(read({{u"0", 5}, {u"", 6}}, "") == 6);
    CHECK(read({{u"0", 5}, {u"", 6}}, nullptr) == 6);
    CHECK(read({{u"0", 5}}, "") == -1);
    CHECK(read({}, "_Total") == -1);  // NumInstances 0
    fake.refuseConversion = true;
    CHECK(read({{u"_Total", 400}}, "_Total") == -1);
}

// Natively there is no system conversion to try.
#ifdef _WIN32
TEST_CASE_FIXTURE(MeterTest, "the system's own code-page conversion finds _Total among numbered processors") {
    MeterPlatform withSystemConversion = fakePlatform;
    withSystemConversion.wideToAnsi = systemMeterPlatform().wideToAnsi;
    installMeterPlatform(&withSystemConversion);
    const Block block = build(1000, {processorObject({{u"0", 5}, {u"1", 6}, {u"_TOTAL", 400}, {u"_Total_", 7}})});
    CHECK(readCounterValue(block.bytes.data(), block.size(), block.objects[0], 6, "_Total") == 400);
    CHECK(readCounterValue(block.bytes.data(), block.size(), block.objects[0], 6, "1") == 6);
    CHECK(readCounterValue(block.bytes.data(), block.size(), block.objects[0], 6, "_Tota") == -1);
}
#endif

TEST_CASE_FIXTURE(MeterTest, "an object without instances answers from its single counter block") {
    const Block block = build(1000, {systemObject(321)});
    CHECK(readCounterValue(block.bytes.data(), block.size(), block.objects[0], 240, "_Total") == 321);
    CHECK(readCounterValue(block.bytes.data(), block.size(), block.objects[0], 240, "") == 321);
    CHECK(readCounterValue(block.bytes.data(), block.size(), block.objects[0], 12, "") == 5555);
    CHECK(readCounterValue(block.bytes.data(), block.size(), block.objects[0], 6, "") == -1);
    CHECK(readCounterValue(block.bytes.data(), block.size(), block.size() - 8, 240, "") == -1);
}

TEST_CASE_FIXTURE(MeterTest, "the walk finds the object by its title index and reads the block's time stamp") {
    const Block block = totalBlock(123456789012345, 400);
    int64_t counter = 0, time = 0;
    REQUIRE(readBlockCounter(block.bytes.data(), block.size(), 238, 6, "_Total", &counter, &time));
    CHECK(counter == 400);
    CHECK(time == 123456789012345);
    REQUIRE(readBlockCounter(block.bytes.data(), block.size(), 230, 6, "_Total", &counter, &time));
    CHECK(counter == 777);
    CHECK_FALSE(readBlockCounter(block.bytes.data(), block.size(), 2, 6, "_Total", &counter, &time));
}

TEST_CASE_FIXTURE(MeterTest, "a damaged block is a missing value, never a read outside it") {
    const Block intact = build(5000, {otherObject(230, 2), processorObject({{u"0", 5}, {u"1", 6}, {u"_Total", 400}})});
    REQUIRE(guardedRead(intact) == 400);
    const size_t size = intact.size();
    const size_t other = intact.objects[0];
    const size_t processor = intact.objects[1];
    const size_t timeDefinition = intact.counterDefinitions[1][1];
    const size_t firstInstance = intact.instances[1][0];
    const size_t firstCounters = intact.counterBlocks[1][0];
    const size_t totalCounters = intact.counterBlocks[1][2];
    auto set = [](size_t at, uint32_t value) { return [at, value](Block& b) { b.put32(at, value); }; };

    struct Damage {
        const char* what;
        std::function<void(Block&)> apply;
    };
    const Damage damages[] = {
        {"returned bytes shorter than the block header", [](Block& b) { b.bytes.resize(60); }},
        {"returned bytes end inside the last counter block", [](Block& b) { b.bytes.resize(b.size() - 4); }},
        {"returned bytes and TotalByteLength end inside the last counter block",
         [](Block& b) { b.bytes.resize(b.size() - 4); b.put32(DATA_TOTAL_BYTE_LENGTH, static_cast<uint32_t>(b.size())); }},
        {"block TotalByteLength 0", set(DATA_TOTAL_BYTE_LENGTH, 0)},
        {"block TotalByteLength past the returned bytes", set(DATA_TOTAL_BYTE_LENGTH, size + 8)},
        {"block HeaderLength 0", set(DATA_HEADER_LENGTH, 0)},
        {"block HeaderLength past the block", set(DATA_HEADER_LENGTH, size + 100)},
        {"more objects counted than the block holds",
         [=](Block& b) { b.put32(DATA_NUM_OBJECT_TYPES, 40); b.put32(processor + OBJECT_NAME_TITLE_INDEX, 999); }},
        {"object TotalByteLength 0", set(other + OBJECT_TOTAL_BYTE_LENGTH, 0)},
        {"object TotalByteLength past the block", set(other + OBJECT_TOTAL_BYTE_LENGTH, size)},
        {"wanted object's TotalByteLength past the block", set(processor + OBJECT_TOTAL_BYTE_LENGTH, size - processor + 8)},
        {"object HeaderLength 0", set(processor + OBJECT_HEADER_LENGTH, 0)},
        {"object HeaderLength past its DefinitionLength", set(processor + OBJECT_HEADER_LENGTH, 64 + 3 * 40 + 8)},
        {"object DefinitionLength past the object", set(processor + OBJECT_DEFINITION_LENGTH, size - processor + 8)},
        {"counter definition ByteLength 0", set(intact.counterDefinitions[1][0] + COUNTER_BYTE_LENGTH, 0)},
        {"counter definition ByteLength past the definitions", set(intact.counterDefinitions[1][0] + COUNTER_BYTE_LENGTH, 4000)},
        {"CounterOffset past the counter block", set(timeDefinition + COUNTER_OFFSET, 1000)},
        {"CounterOffset whose 8 bytes cross the end of the counter block", set(timeDefinition + COUNTER_OFFSET, 8 + 3 * 8 - 4)},
        {"instance ByteLength 0", set(firstInstance + INSTANCE_BYTE_LENGTH, 0)},
        {"instance ByteLength past the object", set(firstInstance + INSTANCE_BYTE_LENGTH, size)},
        {"instance NameOffset past the instance", set(firstInstance + INSTANCE_NAME_OFFSET, 40)},
        {"instance name without a terminator",
         [=](Block& b) { for (size_t at = firstInstance + INSTANCE_SIZE; at < firstCounters; ++at) b.bytes[at] = 'x'; }},
        {"counter block ByteLength 0", set(firstCounters + COUNTER_BLOCK_BYTE_LENGTH, 0)},
        {"counter block ByteLength past the object", set(firstCounters + COUNTER_BLOCK_BYTE_LENGTH, size)},
        {"wanted counter block ByteLength short of its value", set(totalCounters + COUNTER_BLOCK_BYTE_LENGTH, 12)},
    };
    for (const Damage& damage : damages) {
        INFO(damage.what);
        setGuardedReadLabel(damage.what);
        Block damaged = intact;
        damage.apply(damaged);
        CHECK(guardedRead(damaged) == -1);
    }

    Block countless = intact;  // far more instances counted than there are, none of them wanted
    countless.put32(processor + OBJECT_NUM_INSTANCES, 0x7FFFFFFF);
    CHECK(guardedRead(countless, "nobody") == -1);
    CHECK(guardedRead(countless) == 400);

    Block single = build(5000, {systemObject(321)});
    single.put32(single.counterBlocks[0][0] + COUNTER_BLOCK_BYTE_LENGTH, 4096);
    GuardedBytes guarded(single.bytes);
    CHECK(readCounterValue(guarded.data(), guarded.size(), single.objects[0], 240, "") == -1);
}

TEST_CASE_FIXTURE(MeterTest, "a missing value switches to the processor times, whose first reading is 0") {
    SUBCASE("no processor object, as in Wine's performance data") { serve(build(1000, {otherObject(230, 1)})); }
    SUBCASE("no objects at all") { serve(build(1000, {})); }
    SUBCASE("no _Total instance") { serve(build(1000, {processorObject({{u"0", 5}})})); }
    SUBCASE("a failed query") {
        serve(totalBlock(1000, 400));
        fake.queryFailure = 2;  // ERROR_FILE_NOT_FOUND
    }
    SUBCASE("fewer bytes returned than the block claims") {
        serve(totalBlock(1000, 400));
        fake.bytesReported = static_cast<uint32_t>(fake.data.size() - 8);
    }
    SUBCASE("a name conversion the system refuses") {
        serve(totalBlock(1000, 400));
        fake.refuseConversion = true;
    }
    fake.times = {{1000, 1500, 500}, {1300, 2200, 800}, {1300, 2200, 800}};
    CHECK(meter.currentLoad() == 0);
    std::vector<std::string> expected = firstCallOnNt;
    expected.push_back("GetSystemTimes");
    checkLines(expected, takeLog());
    CHECK(usingProcessorTimes());

    CHECK(meter.currentLoad() == 70);  // idle 300 of 1000 processor time
    checkLines({"GetSystemTimes"}, takeLog());
    CHECK(meter.currentLoad() == 0);   // no time passed
}

TEST_CASE_FIXTURE(MeterTest, "a value missing after a baseline is measured, not reported as full load") {
    serve(totalBlock(1000, 400));
    CHECK(meter.currentLoad() == 0);
    serve(build(2000, {}));
    fake.times = {{1000, 1500, 500}, {1900, 2200, 800}};
    CHECK(meter.currentLoad() == 0);
    serve(totalBlock(3000, 400));  // the data is back, but the meter stays with one source
    CHECK(meter.currentLoad() == 10);  // idle 900 of 1000
    takeLog();
    ProcessorLoadMeter later;  // the switch holds for every meter; only its counter switch is its own
    fake.times = {{0, 100, 100}};
    CHECK(later.currentLoad() == 0);
    std::vector<std::string> expected(firstCallOnNt.begin() + 1, firstCallOnNt.end() - 1);
    expected.push_back("GetSystemTimes");
    checkLines(expected, takeLog());
}

TEST_CASE_FIXTURE(MeterTest, "processor times the system cannot give leave the baseline in place") {
    serve(build(1000, {}));
    CHECK(meter.currentLoad() == 0);
    fake.times = {{1000, 1500, 500}};
    CHECK(meter.currentLoad() == 0);
    fake.times = {{1300, 2200, 800}};
    CHECK(meter.currentLoad() == 70);
}

// Natively the meter has no system to ask; the Windows build measures the real one.
#ifdef _WIN32
TEST_CASE("the real meter measures a busy loop on this system as load") {
    installMeterPlatform(nullptr);
    resetLoadMeterState();
    CHECK(cpuMeter.currentLoad() == 0);
    const auto start = std::chrono::steady_clock::now();
    volatile uint64_t spin = 0;
    while (std::chrono::steady_clock::now() - start < std::chrono::milliseconds(400)) spin = spin + 1;
    const int32_t load = cpuMeter.currentLoad();
    const std::string source = usingProcessorTimes() ? "processor times" : "performance data";
    CHECK(load > 0);
    MESSAGE("load over a 400 ms busy loop: " << load << "% from the " << source);
    resetLoadMeterState();
}
#endif
