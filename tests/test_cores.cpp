// The CPU tick's processors and measure: the cores sampler on processors fed through its seam
// (counts, groups, a source that fails), and the CPU figure with a fed utility counter, with the
// system's own (Wine has no such counter) and with the library or its function missing.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "config/panel_model.h"
#include "config/settings.h"
#include "render/painter.h"
#include "sampling/core_sampler.h"
#include "sampling/load_meter.h"
#include "sampling/meter_platform.h"
#include "sampling/samplers.h"
#include "support/fake_host.h"
#include "support/import_redirect.h"
#include "support/painting_window.h"
#include "support/shown_panel.h"
#include "support/running_plugin.h"
#include "support/test_support.h"

using namespace testsupport;

namespace {

// ---- Processors fed through the seam -----------------------------------------------------------

// The fed machine: processors by group, each busy at its load of every second that passes between
// two queries; the calls the sampler made.
struct FedMachine {
    std::vector<std::vector<int>> loads;
    std::vector<std::vector<uint64_t>> idle, busy;
    bool groupCalls = true;  // the system has GetActiveProcessorGroupCount and the query by group
    LONG failure = 0;        // a status every query answers instead
    std::vector<std::string> calls;
    void become(std::vector<std::vector<int>> groups) {
        loads = groups;
        idle.assign(groups.size(), {});
        busy.assign(groups.size(), {});
        for (size_t g = 0; g < groups.size(); ++g) {
            idle[g].assign(groups[g].size(), 1000);
            busy[g].assign(groups[g].size(), 500);
        }
    }
    void second() {
        for (size_t g = 0; g < loads.size(); ++g)
            for (size_t p = 0; p < loads[g].size(); ++p) {
                busy[g][p] += 100000ULL * static_cast<uint64_t>(loads[g][p]);
                idle[g][p] += 100000ULL * static_cast<uint64_t>(100 - loads[g][p]);
            }
    }
    LONG answer(size_t group, PVOID buffer, ULONG length, PULONG returned) {
        if (failure) return failure;
        const size_t needed = loads[group].size() * 48;
        *returned = static_cast<ULONG>(needed);
        if (length < needed) return static_cast<LONG>(0xC0000004);
        auto* bytes = static_cast<uint8_t*>(buffer);
        memset(bytes, 0xEE, needed);
        for (size_t p = 0; p < loads[group].size(); ++p) {
            const uint64_t times[3] = {idle[group][p], idle[group][p], busy[group][p]};  // idle, kernel, user
            memcpy(bytes + 48 * p, times, sizeof times);
        }
        return 0;
    }
};
FedMachine machine;

WORD WINAPI fedGroupCount() { return static_cast<WORD>(machine.loads.size()); }
LONG WINAPI fedQuery(ULONG infoClass, PVOID buffer, ULONG length, PULONG returned) {
    machine.calls.push_back("query " + std::to_string(infoClass));
    return machine.answer(0, buffer, length, returned);  // the caller's group
}
LONG WINAPI fedQueryByGroup(ULONG infoClass, PVOID input, ULONG, PVOID buffer, ULONG length, PULONG returned) {
    const USHORT group = *static_cast<USHORT*>(input);
    machine.calls.push_back("query " + std::to_string(infoClass) + " group " + std::to_string(group));
    return machine.answer(group, buffer, length, returned);
}
const CorePlatform withGroups = {fedGroupCount, fedQuery, fedQueryByGroup};
const CorePlatform beforeGroups = {nullptr, fedQuery, nullptr};  // Windows XP and Vista
const CorePlatform noQuery = {nullptr, nullptr, nullptr};

// A model with a shown cores graph, as a reload makes it; the CPU graph, which a tick scrolls,
// lies outside the panel, so that every repaint asked for is the cores graph's.
void loadCoresModel(const CorePlatform& platform) {
    resetModel();
    fakehost::reset();
    snprintf(panelModel.rcPath, PATH_SIZE, "%s", "C:\\k\\Kelvora.rc");
    fakehost::set("Kelvora.cpuGraph.y:", "-100");
    fakehost::set("Kelvora.coresGraph.width:", "100");
    fakehost::set("Kelvora.coresGraph.height:", "20");
    reloadSettings();
    installCorePlatform(&platform);
    machine.calls.clear();
    machine.failure = 0;
}

std::vector<int> shownLoads() {
    return std::vector<int>(panelModel.coreLoads, panelModel.coreLoads + panelModel.coreCount);
}

std::vector<int> flat(const std::vector<std::vector<int>>& groups) {
    std::vector<int> all;
    for (const auto& g : groups) all.insert(all.end(), g.begin(), g.end());
    return all;
}

std::vector<int> loadsFrom(size_t count, int first) {
    std::vector<int> loads;
    for (size_t i = 0; i < count; ++i) loads.push_back(static_cast<int>((first + 13 * i) % 101));
    return loads;
}


// ---- Busy time and the utility counter fed through their seams ---------------------------------

// Every tick the processors were 30 % busy: idle 700 of every 1000.
uint64_t fedIdle = 0, fedKernel = 0;
bool thirtyPercentBusy(uint64_t* idle, uint64_t* kernel, uint64_t* user) {
    fedIdle += 700;
    fedKernel += 1000;
    *idle = fedIdle, *kernel = fedKernel, *user = 0;
    return true;
}
int32_t noPerformanceData(const char*, uint8_t*, uint32_t*) { return 2; }

struct FedCounter {
    bool opens = true;
    bool hasValue = true;
    double value = 0;
    int opened = 0, reads = 0, closed = 0;
};
FedCounter counter;
bool openCounter() {
    ++counter.opened;
    return counter.opens;
}
bool readCounter(double* value) {
    ++counter.reads;
    *value = counter.value;
    return counter.hasValue;
}
void closeCounter() { ++counter.closed; }
const UtilityPlatform fedUtility = {openCounter, readCounter, closeCounter};

// The model, the meter measuring 30 % busy time and the given counter, past the meter's baseline.
struct MeasureTest {
    MeterPlatform meter = systemMeterPlatform();
    MeasureTest() {
        resetModel();
        fakehost::reset();
        snprintf(panelModel.rcPath, PATH_SIZE, "%s", "C:\\k\\Kelvora.rc");
        reloadSettings();
        meter.queryPerformanceData = noPerformanceData;
        meter.readSystemTimes = thirtyPercentBusy;
        installMeterPlatform(&meter);
        resetLoadMeterState();
        counter = FedCounter{};
        installUtilityPlatform(&fedUtility);
        sampleCpu(nullptr, 0, 0, 0);  // the meter's baseline
    }
    ~MeasureTest() {
        installUtilityPlatform(nullptr);
        installMeterPlatform(nullptr);
        resetLoadMeterState();
        releaseCoreSampler();
    }
    int32_t tick() {
        sampleCpu(nullptr, 0, 0, 0);
        return panelModel.cpuPercent;
    }
};

typedef HMODULE(WINAPI* LoadLibraryFn)(LPCSTR);
LoadLibraryFn realLoadLibrary = nullptr;
HMODULE WINAPI loadLibraryWithoutPdh(LPCSTR name) {
    if (_stricmp(name, "pdh.dll") == 0) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    return realLoadLibrary(name);
}

}  // namespace

TEST_CASE("every logical processor of every group is shown: 2, 64, 65, 256 and two groups of 64") {
    const std::vector<std::vector<size_t>> machines = {{2}, {64}, {64, 1}, {64, 64, 64, 64}, {64, 64}};
    for (const auto& sizes : machines) {
        std::vector<std::vector<int>> groups;
        for (size_t n : sizes) groups.push_back(loadsFrom(n, static_cast<int>(groups.size()) * 5));
        CAPTURE(flat(groups).size());
        loadCoresModel(withGroups);
        machine.become(groups);
        sampleCpu(nullptr, 0, 0, 0);
        CHECK(shownLoads() == std::vector<int>(flat(groups).size(), 0));  // the first tick's baseline
        machine.second();
        sampleCpu(nullptr, 0, 0, 0);
        CHECK(shownLoads() == flat(groups));
        // With one group the plain query reads every processor; with more, each group by its own.
        std::vector<std::string> expected;
        for (int tick = 0; tick < 2; ++tick)
            for (size_t g = 0; g < sizes.size(); ++g)
                expected.push_back(sizes.size() == 1 ? "query 8" : "query 8 group " + std::to_string(g));
        checkLines(expected, machine.calls);
    }
    SUBCASE("before Windows 7 the plain query reads the one group there is") {
        loadCoresModel(beforeGroups);
        machine.become({{10, 20, 30}});
        sampleCpu(nullptr, 0, 0, 0);
        machine.second();
        sampleCpu(nullptr, 0, 0, 0);
        CHECK(shownLoads() == std::vector<int>{10, 20, 30});
    }
    installCorePlatform(nullptr);
}

TEST_CASE("the cores graph follows the processors: a new count at 0, a failed or missing source without bars") {
    loadCoresModel(withGroups);
    machine.become({{40, 60}});
    sampleCpu(nullptr, 0, 0, 0);
    machine.second();
    ShownPanel panel;
    sampleCpu(nullptr, 0, 0, 0);
    REQUIRE(shownLoads() == std::vector<int>{40, 60});
    CHECK(panelChangesPending());
    flushPanelChanges();

    SUBCASE("a steady machine asks for no repaint") {
        machine.second();
        sampleCpu(nullptr, 0, 0, 0);
        CHECK(shownLoads() == std::vector<int>{40, 60});
        CHECK_FALSE(panelChangesPending());
    }
    SUBCASE("processors added: the new count at once, every bar at 0, then the loads") {
        machine.become({{40, 60, 80}, {20}});
        sampleCpu(nullptr, 0, 0, 0);
        CHECK(shownLoads() == std::vector<int>{0, 0, 0, 0});
        machine.second();
        sampleCpu(nullptr, 0, 0, 0);
        CHECK(shownLoads() == std::vector<int>{40, 60, 80, 20});
    }
    SUBCASE("a query that fails shows no bars, and the first reading after it is a baseline") {
        machine.failure = static_cast<LONG>(0xC0000001);
        sampleCpu(nullptr, 0, 0, 0);
        CHECK(panelModel.coreCount == 0);
        CHECK(panelChangesPending());
        machine.failure = 0;
        machine.second();
        sampleCpu(nullptr, 0, 0, 0);
        CHECK(shownLoads() == std::vector<int>{0, 0});
    }
    SUBCASE("a system without the query shows no bars") {
        installCorePlatform(&noQuery);
        sampleCpu(nullptr, 0, 0, 0);
        CHECK(panelModel.coreCount == 0);
    }
    SUBCASE("a reload starts afresh: the next tick shows every bar at 0") {
        reloadSettings();
        machine.second();
        sampleCpu(nullptr, 0, 0, 0);
        CHECK(shownLoads() == std::vector<int>{0, 0});
    }
    SUBCASE("a theme without the cores graph reads no processors") {
        fakehost::set("Kelvora.coresGraph.height:", "0");
        reloadSettings();
        machine.calls.clear();
        sampleCpu(nullptr, 0, 0, 0);
        CHECK(machine.calls.empty());
    }
    installCorePlatform(nullptr);
}

TEST_CASE("utility: the counter's value capped at 100, busy time without one, time for any other text") {
    MeasureTest test;
    CHECK(test.tick() == 30);
    CHECK(counter.opened == 0);  // busy time asks nothing of the library

    panelModel.cpuUtility = true;
    counter.value = 187.3;  // processors above their nominal frequency
    CHECK(test.tick() == 100);
    counter.value = 41.5;
    CHECK(test.tick() == 42);
    counter.hasValue = false;  // the counter's first sample, or a failed collection
    CHECK(test.tick() == 30);
    CHECK(counter.opened == 1);
    panelModel.cpuUtility = false;
    CHECK(test.tick() == 30);
    CHECK(counter.closed == 1);

    SUBCASE("a counter that cannot be opened is not asked again until the measure changes") {
        counter.opens = false;
        panelModel.cpuUtility = true;
        for (int i = 0; i < 3; ++i) CHECK(test.tick() == 30);
        CHECK(counter.opened == 2);
        CHECK(counter.reads == 3);
    }
    SUBCASE("any other text of the key means time") {
        fakehost::set("Kelvora.cpu.measure:", "utilisation");
        reloadSettings();
        counter.value = 77;
        counter.hasValue = true;
        CHECK(test.tick() == 30);
        CHECK(counter.opened == 1);
    }
}

TEST_CASE("utility on a system without the counter, its function or the library: busy time") {
    MeasureTest test;
    installUtilityPlatform(nullptr);  // pdh.dll as the system has it: Wine lacks the counter
    panelModel.cpuUtility = true;
    for (int i = 0; i < 3; ++i) CHECK(test.tick() == 30);
    panelModel.cpuUtility = false;
    test.tick();
    {
        WithoutFunction noEnglishNames("PdhAddEnglishCounterA");
        panelModel.cpuUtility = true;
        for (int i = 0; i < 2; ++i) CHECK(test.tick() == 30);
        panelModel.cpuUtility = false;
        test.tick();
    }
    realLoadLibrary = reinterpret_cast<LoadLibraryFn>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "LoadLibraryA"));
    REQUIRE(redirectImport(reinterpret_cast<void*>(realLoadLibrary), reinterpret_cast<void*>(loadLibraryWithoutPdh)) > 0);
    panelModel.cpuUtility = true;
    for (int i = 0; i < 2; ++i) CHECK(test.tick() == 30);
    redirectImport(reinterpret_cast<void*>(loadLibraryWithoutPdh), reinterpret_cast<void*>(realLoadLibrary));
}
