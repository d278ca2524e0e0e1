// Samplers: the history push, disks, and one run of every sampler on the real
// system under Wine.
#include <winsock2.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "config/panel_model.h"
#include "config/settings.h"
#include "render/painter.h"
#include "sampling/ip_sampler.h"
#include "sampling/samplers.h"
#include "sampling/volume_worker.h"
#include "support/fake_host.h"
#include "support/import_redirect.h"
#include "support/painting_window.h"
#include "support/shown_panel.h"
#include "support/test_support.h"

using namespace testsupport;

namespace {

void loadDefaults() {
    resetModel();
    fakehost::reset();
    snprintf(panelModel.rcPath, PATH_SIZE, "%s", "C:\\k\\Kelvora.rc");
    reloadSettings();
}

bool matchesShape(const char* text, const char* shape) {
    // shape: 'd' one or more digits, anything else literally.
    const char* t = text;
    for (const char* s = shape; *s; ++s) {
        if (*s == 'd') {
            if (*t < '0' || *t > '9') return false;
            while (*t >= '0' && *t <= '9') ++t;
        } else if (*t++ != *s) {
            return false;
        }
    }
    return *t == '\0';
}

bool isByteSizeText(const char* text) {
    return matchesShape(text, "d B") || matchesShape(text, "d.d KB") || matchesShape(text, "d.d MB") ||
           matchesShape(text, "d.d GB");
}

// The process and thread error modes in force at each free-space query the samplers make.
struct ErrorModes {
    UINT process;
    DWORD thread;
};
typedef BOOL(WINAPI* DiskFreeSpaceFn)(LPCSTR, PULARGE_INTEGER, PULARGE_INTEGER, PULARGE_INTEGER);
std::vector<ErrorModes>* probedQueries = nullptr;
DiskFreeSpaceFn realDiskFreeSpace = nullptr;

BOOL WINAPI probingDiskFreeSpace(LPCSTR path, PULARGE_INTEGER available, PULARGE_INTEGER total,
                                 PULARGE_INTEGER totalFree) {
    probedQueries->push_back({GetErrorMode(), GetThreadErrorMode()});
    return realDiskFreeSpace(path, available, total, totalFree);
}

struct ErrorModeProbe {
    std::vector<ErrorModes> queries;
    ErrorModeProbe() {
        realDiskFreeSpace = reinterpret_cast<DiskFreeSpaceFn>(
            reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "GetDiskFreeSpaceExA")));
        probedQueries = &queries;
        REQUIRE(redirectImport(reinterpret_cast<void*>(realDiskFreeSpace),
                               reinterpret_cast<void*>(probingDiskFreeSpace)) > 0);
    }
    ~ErrorModeProbe() {
        redirectImport(reinterpret_cast<void*>(probingDiskFreeSpace), reinterpret_cast<void*>(realDiskFreeSpace));
    }
};

}  // namespace

TEST_CASE("the history push keeps the newest sample at the right end") {
    int64_t buffer[4] = {0, 0, 0, 0};
    GraphState g = {};
    g.width = 4;
    g.samples = 4;
    g.history = buffer;
    for (int v : {1, 2, 3, 4, 5}) pushHistory(g, v);
    CHECK(historyOf(g) == std::vector<int64_t>{2, 3, 4, 5});
    pushHistory(g, -1);
    CHECK(historyOf(g) == std::vector<int64_t>{3, 4, 5, -1});
    CHECK(buffer[3] == -1LL);

    SUBCASE("width 1 keeps only the newest") {
        int64_t one = 0;
        GraphState single = {};
        single.width = 1;
        single.samples = 1;
        single.history = &one;
        pushHistory(single, 7);
        pushHistory(single, 9);
        CHECK(one == 9);
    }
    SUBCASE("a graph without history is passed by") {
        GraphState none = {};
        none.width = 5;
        pushHistory(none, 3);
        CHECK(none.history == nullptr);
    }
}

TEST_CASE("a reload that changes a width takes effect at the next push") {
    loadDefaults();
    sampleMemory(nullptr, 0, 0, 0);
    fakehost::set("Kelvora.memoryGraph.width:", "3");
    reloadSettings();
    panelModel.memoryLoad = -7;  // the sampler must replace it with a real load
    sampleMemory(nullptr, 0, 0, 0);
    const GraphState& g = panelModel.graphs[1];
    REQUIRE(g.width == 3);
    REQUIRE(g.samples == 3);
    CHECK(g.history[0] == 0);
    CHECK(g.history[1] == 0);
    CHECK(g.history[2] == panelModel.memoryLoad);
    CHECK(panelModel.memoryLoad >= 0);
    CHECK(panelModel.memoryLoad <= 100);
}

// The volume worker's answers of the disks 1..count, shown as the panel shows them on its
// WM_KELVORA_VOLUME_ANSWER; false when one has not come within two seconds.
bool awaitDiskReadings(int count) {
    for (int waited = 0; waited < 2000; waited += 5) {
        takeVolumeAnswers();
        bool all = true;
        for (int slot = 1; slot <= count; ++slot) all = all && panelModel.volumes[slot].reading == DISK_READ;
        if (all) return true;
        Sleep(5);
    }
    return false;
}

TEST_CASE("disk sampler measures slots 1..diskCount on its worker and stores 0 for a path without volume") {
    loadDefaults();
    SUBCASE("diskCount 0 queries nothing, starts no worker and asks for no repaint") {
        panelModel.diskFree[1] = 99;
        ShownPanel panel;
        sampleDisks(nullptr, 0, 0, 0);
        CHECK(panelModel.diskFree[1] == 99);
        CHECK(volumeExchange() == nullptr);
        CHECK_FALSE(panelChangesPending());
    }
    SUBCASE("a real volume and a path that names none, each queried without the no-disk box") {
        panelModel.diskCount = 2;
        snprintf(panelModel.disks[1].path, CAPTION_SIZE, "%s", "C:\\");
        snprintf(panelModel.disks[2].path, CAPTION_SIZE, "%s", "Q:\\no\\such\\volume\\");
        panelModel.diskFree[2] = 12345;
        panelModel.diskFree[0] = 777;
        // The shell's own modes, which no query may touch.
        SetErrorMode(SEM_NOGPFAULTERRORBOX);
        SetThreadErrorMode(SEM_NOOPENFILEERRORBOX, nullptr);
        // With the worker thread's own mode (Windows 7 and later), and with the process mode alone.
        for (const bool threadCall : {true, false}) {
            CAPTURE(threadCall);
            ErrorModeProbe probe;
            lookUpThreadErrorMode();
            REQUIRE(static_cast<bool>(setThreadErrorMode));  // Wine has it, as Windows 7 does
            if (!threadCall) setThreadErrorMode = nullptr;
            sampleDisks(nullptr, 0, 0, 0);
            REQUIRE(awaitDiskReadings(2));
            stopVolumeWorkers();
            CHECK(panelModel.diskFree[1] > 0);
            CHECK(panelModel.volumes[1].totalBytes >= panelModel.diskFree[1]);
            CHECK(panelModel.diskFree[2] == 0);
            CHECK(panelModel.diskFree[0] == 777);  // slot 0 is never written
            REQUIRE(probe.queries.size() == 2);
            for (const ErrorModes& during : probe.queries) {
                CHECK(during.thread == (threadCall ? SEM_FAILCRITICALERRORS : 0u));
                CHECK(during.process == (SEM_NOGPFAULTERRORBOX | (threadCall ? 0u : SEM_FAILCRITICALERRORS)));
            }
            CHECK(GetErrorMode() == SEM_NOGPFAULTERRORBOX);
            CHECK(GetThreadErrorMode() == SEM_NOOPENFILEERRORBOX);
            forgetDiskReadings();
        }
        SetErrorMode(0);
        SetThreadErrorMode(0, nullptr);
        setThreadErrorMode = nullptr;
    }
}

TEST_CASE("every sampler runs on the real system, writes its texts and asks for what it changed") {
    loadDefaults();
    // Rows and a disk with room on the panel, so that a new text shows.
    for (const char* item : {"ip", "totalMemory", "usedMemory", "freeMemory", "battery", "systemUptime"})
        fakehost::set(std::string("Kelvora.") + item + ".right:", "90");
    fakehost::set("Kelvora.diskCount:", "1");
    fakehost::set("Kelvora.disk[1].path:", "C:\\");
    fakehost::set("Kelvora.disk[1].right:", "90");
    reloadSettings();
    WSADATA wsa;
    WSAStartup(MAKEWORD(2, 0), &wsa);
    noteSocketsStarted(true);
    TIMERPROC samplers[] = {sampleCpu, sampleMemory, sampleBattery, sampleUptime, sampleIp, sampleDisks};
    for (InfoItem& item : panelModel.items) item.value[0] = '\0';
    panelModel.diskFree[1] = -1;  // no volume shows that
    {
        ShownPanel panel;
        for (TIMERPROC sampler : samplers) {
            sampler(nullptr, 0, 0, 0);
            if (sampler == sampleDisks) REQUIRE(awaitDiskReadings(1));
            // The meter's first call gives 0, which the CPU graph's history of zeros and its
            // caption already show: no pixel changes, and nothing is rendered.
            CHECK(panelChangesPending() == (sampler != sampleCpu));
            flushPanelChanges();
            CHECK_FALSE(panelChangesPending());
        }
    }
    stopVolumeWorkers();
    forgetDiskReadings();
    const char* ip = panelModel.items[ITEM_IP].value;
    INFO("ip row: " << std::string(ip));
    CHECK((matchesShape(ip, "d.d.d.d") || std::string(ip) == "n/a"));
    CHECK(matchesShape(panelModel.items[ITEM_UPTIME].value, "d:d"));
    CHECK(strlen(panelModel.items[ITEM_UPTIME].value) >= 4);
    for (int i : {ITEM_TOTAL_MEMORY, ITEM_USED_MEMORY, ITEM_FREE_MEMORY}) {
        INFO("memory row " << i << ": " << panelModel.items[i].value);
        CHECK(isByteSizeText(panelModel.items[i].value));
    }
    const std::string battery = panelModel.items[ITEM_BATTERY].value;
    CHECK((battery == "AC" || battery == "n/a" || matchesShape(battery.c_str(), "d%")));
    CHECK(panelModel.memoryLoad >= 0);
    CHECK(panelModel.memoryLoad <= 100);
    CHECK(panelModel.graphs[1].history[19] == panelModel.memoryLoad);
    CHECK(panelModel.cpuPercent == 0);  // the meter's first call takes its baseline
    noteSocketsStarted(false);
    releaseIpSampler();
    WSACleanup();
}

TEST_CASE("a tick shows its changes at its end; when another tick falls due, that one shows both") {
    loadDefaults();
    ShownPanel panel;
    beginTick();
    sampleMemory(nullptr, 0, 0, 0);
    endTick(true);
    CHECK(panelChangesPending());
    Sleep(3 * REPAINT_DELAY_MS);
    MSG message;
    CHECK_FALSE(PeekMessageA(&message, panel.window, WM_TIMER, WM_TIMER, PM_NOREMOVE));  // no repaint timer
    beginTick();
    sampleCpu(nullptr, 0, 0, 0);
    endTick(false);
    CHECK_FALSE(panelChangesPending());
}

TEST_CASE("without Windows Sockets the IP row shows n/a") {
    loadDefaults();
    snprintf(panelModel.items[ITEM_IP].value, VALUE_SIZE, "%s", "10.1.2.3");
    sampleIp(nullptr, 0, 0, 0);
    CHECK(std::string(panelModel.items[ITEM_IP].value) == "n/a");
}

namespace {

ULONGLONG WINAPI fiftyDays() { return 50ULL * 24 * 3600000; }
DWORD WINAPI lastTickBeforeWrap() { return 0xFFFFFFFF; }
bool offerTickCount64 = true;
using ProcLookup = FARPROC(WINAPI*)(HMODULE, LPCSTR);
ProcLookup realGetProcAddress;
FARPROC WINAPI lookupWithFakeTicks(HMODULE module, LPCSTR name) {
    if (reinterpret_cast<uintptr_t>(name) > 0xFFFF && strcmp(name, "GetTickCount64") == 0)
        return offerTickCount64 ? reinterpret_cast<FARPROC>(fiftyDays) : nullptr;
    return realGetProcAddress(module, name);
}

}  // namespace

TEST_CASE("the uptime comes from GetTickCount64 where the system has it, else from GetTickCount") {
    realGetProcAddress = reinterpret_cast<ProcLookup>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "GetProcAddress"));
    void* realGetTickCount = reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "GetTickCount"));
    REQUIRE(redirectImport(reinterpret_cast<void*>(realGetProcAddress), reinterpret_cast<void*>(lookupWithFakeTicks)) > 0);
    REQUIRE(redirectImport(realGetTickCount, reinterpret_cast<void*>(lastTickBeforeWrap)) > 0);
    offerTickCount64 = true;
    sampleUptime(nullptr, 0, 0, 0);
    const std::string withCount64 = panelModel.items[ITEM_UPTIME].value;
    offerTickCount64 = false;  // Windows XP
    sampleUptime(nullptr, 0, 0, 0);
    const std::string withoutCount64 = panelModel.items[ITEM_UPTIME].value;
    redirectImport(reinterpret_cast<void*>(lookupWithFakeTicks), reinterpret_cast<void*>(realGetProcAddress));
    redirectImport(reinterpret_cast<void*>(lastTickBeforeWrap), realGetTickCount);
    CHECK(withCount64 == "1200:00");
    CHECK(withoutCount64 == "1193:02");  // the largest text before the 32-bit count wraps
}
