// The disk-activity sampler on performance data fed through the meter's seam: all disks, one by
// name or letter, missing objects and disks, damaged blocks, counters that went back, readings
// at the same time, reloads, its own kept buffer, and the texts and graph it leaves in the model.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "config/panel_model.h"
#include "config/settings.h"
#include "render/painter.h"
#include "sampling/disk_io_sampler.h"
#include "sampling/load_meter.h"
#include "sampling/meter_platform.h"
#include "sampling/perf_layout.h"
#include "support/fake_host.h"
#include "support/painting_window.h"
#include "support/perf_block.h"
#include "support/test_support.h"

using namespace testsupport;
using perfblock::build;
using perfblock::diskObject;
using perfblock::otherObject;

namespace {

constexpr int64_t SECOND = 10000000;  // 100 ns units: PerfTime advances by PerfFreq a second

// What the fake system answers for the physical-disk object; other objects are not there.
std::vector<uint8_t> served;
int32_t queryFailure = 0;
std::vector<std::string> queries;

int32_t serveDisks(const char* valueName, uint8_t* buffer, uint32_t* size) {
    queries.push_back(std::string(valueName) + " " + std::to_string(*size));
    if (queryFailure) return queryFailure;
    if (strcmp(valueName, "234") != 0) return 2;  // ERROR_FILE_NOT_FOUND
    if (*size < served.size()) return METER_ERROR_MORE_DATA;
    memcpy(buffer, served.data(), served.size());
    *size = static_cast<uint32_t>(served.size());
    return METER_ERROR_SUCCESS;
}

MeterPlatform fedPlatform;
int64_t now = 1000 * SECOND;
int64_t cRead = 0, cWrite = 0, dRead = 0, dWrite = 0;

// The machine's two disks, the second holding two volumes, `seconds` after the previous reading.
perfblock::Block machine(double seconds) {
    now += static_cast<int64_t>(seconds * SECOND);
    return build(now, {otherObject(230, 1), diskObject({{u"0 C:", cRead, cWrite}, {u"1 D: E:", dRead, dWrite}})});
}
void serveMachine(double seconds) { served = machine(seconds).bytes; }

void startWith(const char* disk = nullptr) {
    resetModel();
    fakehost::reset();
    snprintf(panelModel.rcPath, PATH_SIZE, "%s", "C:\\k\\Kelvora.rc");
    if (disk) fakehost::set("Kelvora.diskIo.disk:", disk);
    fakehost::set("Kelvora.diskIoGraph.width:", "4");
    fakehost::set("Kelvora.diskIoGraph.height:", "10");
    reloadSettings();
    resetLoadMeterState();
    resetDiskIoSampler();
    fedPlatform = systemMeterPlatform();
    fedPlatform.queryPerformanceData = serveDisks;
    installMeterPlatform(&fedPlatform);
    queryFailure = 0;
    queries.clear();
    cRead = cWrite = dRead = dWrite = 0;
}

void tick() { sampleDiskIo(nullptr, 0, 0, 0); }

std::string readText() { return panelModel.items[ITEM_DISK_READ].value; }
std::string writeText() { return panelModel.items[ITEM_DISK_WRITE].value; }
std::string total() { return panelModel.diskIoTotal; }
std::vector<int64_t> history(int graph) { return historyOf(panelModel.graphs[graph]); }

struct Restore {
    ~Restore() {
        installMeterPlatform(nullptr);
        resetDiskIoSampler();
        resetLoadMeterState();
    }
};

}  // namespace

TEST_CASE("all disks together, or one by its instance name or a drive letter: rows, caption and graph") {
    Restore restore;
    struct Case {
        const char* disk;
        const char* read;
        const char* write;
        const char* total;
        int64_t readRate, writeRate;
    };
    // Over one second C: reads 1,500,000 bytes and writes 307,200; D: and E: read 1024.
    const Case cases[] = {
        {nullptr, "1.4 MB/s", "300.0 KB/s", "1.7 MB/s", 1501024, 307200},
        {"0 c:", "1.4 MB/s", "300.0 KB/s", "1.7 MB/s", 1500000, 307200},
        {"C:", "1.4 MB/s", "300.0 KB/s", "1.7 MB/s", 1500000, 307200},
        {"1 D: E:", "1.0 KB/s", "0 B/s", "1.0 KB/s", 1024, 0},
        {"e:", "1.0 KB/s", "0 B/s", "1.0 KB/s", 1024, 0},
    };
    for (const Case& c : cases) {
        CAPTURE(c.disk);
        startWith(c.disk);
        serveMachine(0);
        tick();
        CHECK(readText() == "0 B/s");  // the first reading has nothing to compare with
        CHECK(writeText() == "0 B/s");
        CHECK(total() == "0 B/s");
        cRead += 1500000, cWrite += 307200, dRead += 1024;
        serveMachine(1);
        tick();
        CHECK(readText() == c.read);
        CHECK(writeText() == c.write);
        CHECK(total() == c.total);
        CHECK(history(GRAPH_DISK_READ) == std::vector<int64_t>{0, 0, 0, c.readRate});
        CHECK(history(GRAPH_DISK_WRITE) == std::vector<int64_t>{0, 0, 0, c.writeRate});
        // The query names the one object; the CPU meter's own buffer is not used.
        CHECK(queries.back() == "234 102400");
        CHECK(perfDataBuffer.data == nullptr);
    }
}

TEST_CASE("n/a without the named disk or a sound block; the next tick asks again and starts afresh from 0 B/s") {
    Restore restore;
    const char* disk = nullptr;
    SUBCASE("a disk the machine does not have, until it appears") {
        disk = "F:";
        startWith(disk);
        serveMachine(0);
    }
    SUBCASE("a failed query") {
        startWith();
        serveMachine(0);
        queryFailure = 2;
    }
    SUBCASE("a block cut short") {
        startWith();
        serveMachine(0);
        served.resize(served.size() - 8);
    }
    SUBCASE("a block whose disk object runs past its end") {
        startWith();
        perfblock::Block damaged = machine(0);
        damaged.put32(damaged.objects[1] + perflayout::OBJECT_TOTAL_BYTE_LENGTH, 0x7FFFFFFF);
        served = damaged.bytes;
    }
    tick();
    CHECK(readText() == "n/a");
    CHECK(writeText() == "n/a");
    CHECK(total() == "n/a");
    CHECK(history(GRAPH_DISK_READ) == std::vector<int64_t>{0, 0, 0, 0});

    // The disk is plugged in, or the data is sound again: its first reading shows 0, the next counts.
    queryFailure = 0;
    cRead = dRead = 5000000000LL;
    if (disk) served = build(now, {diskObject({{u"0 C:", 0, 0}, {u"1 D: F:", 0, 0}})}).bytes;
    else serveMachine(1);
    tick();
    CHECK(readText() == "0 B/s");
    cRead += 2048, dRead += 2048;
    now += SECOND / 2;
    if (disk) served = build(now, {diskObject({{u"0 C:", 0, 0}, {u"1 D: F:", 2048, 0}})}).bytes;
    else serveMachine(0);
    tick();
    CHECK(readText() == (disk ? "4.0 KB/s" : "8.0 KB/s"));
}

TEST_CASE("a sound block without the object (disk counters off, Wine): n/a, and no query until the module loads again") {
    Restore restore;
    startWith();
    serveMachine(0);
    tick();
    REQUIRE(readText() == "0 B/s");
    served = build(now, {otherObject(230, 2)}).bytes;
    tick();
    CHECK(readText() == "n/a");
    CHECK(writeText() == "n/a");
    CHECK(total() == "n/a");
    const size_t asked = queries.size();
    serveMachine(1);
    tick();
    reloadSettings();
    tick();
    CHECK(queries.size() == asked);
    CHECK(readText() == "n/a");
    CHECK(history(GRAPH_DISK_READ) == std::vector<int64_t>{0, 0, 0, 0});
    resetDiskIoSampler();
    tick();
    CHECK(queries.size() == asked + 1);
    CHECK(readText() == "0 B/s");
}

TEST_CASE("a counter that went back counts 0; the same time keeps the texts and the panel; a reload starts afresh") {
    Restore restore;
    startWith();
    serveMachine(0);
    tick();
    cRead += 4096, cWrite += 1000;
    serveMachine(1);
    tick();
    REQUIRE(readText() == "4.0 KB/s");
    REQUIRE(writeText() == "1000 B/s");

    SUBCASE("a counter reset (a disk removed) counts 0 for the interval; the other counter still counts") {
        cRead = 0, cWrite += 512;
        serveMachine(1);
        tick();
        CHECK(readText() == "0 B/s");
        CHECK(writeText() == "512 B/s");
        CHECK(total() == "512 B/s");
        cRead += 100;
        serveMachine(1);
        tick();
        CHECK(readText() == "100 B/s");
    }
    SUBCASE("a second reading at the same time changes nothing: the panel is not asked to change") {
        HWND window = createPaintingPanelWindow();
        panelModel.panelWindow = window;
        UpdateWindow(window);
        cRead += 999999;
        serveMachine(0);
        tick();
        CHECK(readText() == "4.0 KB/s");
        CHECK_FALSE(panelChangesPending());
        CHECK(history(GRAPH_DISK_READ) == std::vector<int64_t>{0, 0, 0, 4096});
        cRead += 1;
        serveMachine(1);
        tick();
        CHECK(readText() == "976.6 KB/s");  // counted from the older reading: 1,000,000 bytes
        CHECK(panelChangesPending());
        releaseBackBuffer();
        panelModel.panelWindow = nullptr;
        DestroyWindow(window);
    }
    SUBCASE("the first reading after a reload shows 0 B/s") {
        reloadSettings();
        cRead += 900000;
        serveMachine(1);
        tick();
        CHECK(readText() == "0 B/s");
        CHECK(history(GRAPH_DISK_READ) == std::vector<int64_t>{0, 0, 0, 0});
    }
}

TEST_CASE("the sampler's own buffer is kept and grows only when the data grows") {
    Restore restore;
    startWith();
    std::vector<perfblock::Disk> disks;
    for (int i = 0; i < 1700; ++i) disks.push_back({u"7 X:", i, i});  // some 150 KB of instances
    served = build(now, {diskObject(disks)}).bytes;
    tick();
    std::vector<std::string> expected;
    uint32_t size = PERF_DATA_INITIAL_SIZE;
    for (;; size += PERF_DATA_GROWTH) {
        expected.push_back("234 " + std::to_string(size));
        if (size >= served.size()) break;
    }
    REQUIRE(expected.size() > 3);
    CHECK(queries == expected);
    queries.clear();
    served = build(now + SECOND, {diskObject({{u"0 C:", 1, 1}})}).bytes;  // smaller blocks later
    tick();
    tick();
    const std::string grown = "234 " + std::to_string(size);
    CHECK(queries == std::vector<std::string>{grown, grown});
}
