// The network sampler on interface tables fed through its seam: which rows count on both kinds
// of table, named interfaces, wraps and resets, unreadable tables, and what reaches the model.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "config/panel_model.h"
#include "config/settings.h"
#include "render/painter.h"
#include "sampling/net_sampler.h"
#include "support/fake_host.h"
#include "support/painting_window.h"
#include "support/test_support.h"

using namespace testsupport;

namespace {

struct FakeRow {
    uint64_t id;
    const wchar_t* alias;
    const wchar_t* description;
    DWORD type;
    bool up;
    bool hardware;
    bool filter;
    uint64_t in;
    uint64_t out;
    uint64_t speed;
};

// What the fake system answers: its rows, its clock, and whether either table call fails.
std::vector<FakeRow> fakeRows;
ULONGLONG fakeTick = 100000;
bool table2Fails = false;
int table2Calls = 0, tableFrees = 0, xpCalls = 0;

DWORD WINAPI fakeGetIfTable2(PMIB_IF_TABLE2* out) {
    ++table2Calls;
    *out = nullptr;
    if (table2Fails) return ERROR_NOT_ENOUGH_MEMORY;
    auto* table = static_cast<MIB_IF_TABLE2*>(
        calloc(1, sizeof(MIB_IF_TABLE2) + fakeRows.size() * sizeof(MIB_IF_ROW2)));
    table->NumEntries = static_cast<ULONG>(fakeRows.size());
    for (size_t i = 0; i < fakeRows.size(); ++i) {
        const FakeRow& f = fakeRows[i];
        MIB_IF_ROW2& r = table->Table[i];
        r.InterfaceLuid.Value = f.id;
        r.InterfaceIndex = static_cast<NET_IFINDEX>(i + 1);
        wcsncpy(r.Alias, f.alias, IF_MAX_STRING_SIZE);
        wcsncpy(r.Description, f.description, IF_MAX_STRING_SIZE);
        r.Type = f.type;
        r.OperStatus = f.up ? IfOperStatusUp : IfOperStatusDown;
        r.InterfaceAndOperStatusFlags.HardwareInterface = f.hardware;
        r.InterfaceAndOperStatusFlags.FilterInterface = f.filter;
        r.InOctets = f.in;
        r.OutOctets = f.out;
        r.ReceiveLinkSpeed = r.TransmitLinkSpeed = f.speed;
    }
    *out = table;
    return NO_ERROR;
}

VOID WINAPI fakeFreeMibTable(PVOID memory) {
    ++tableFrees;
    free(memory);
}

// Windows XP's call: the caller's buffer, ERROR_INSUFFICIENT_BUFFER with the size it needs.
DWORD WINAPI fakeGetIfTable(PMIB_IFTABLE table, PULONG size, BOOL) {
    ++xpCalls;
    const ULONG needed = static_cast<ULONG>(offsetof(MIB_IFTABLE, table) + fakeRows.size() * sizeof(MIB_IFROW));
    if (!table || *size < needed) {
        *size = needed;
        return ERROR_INSUFFICIENT_BUFFER;
    }
    table->dwNumEntries = static_cast<DWORD>(fakeRows.size());
    for (size_t i = 0; i < fakeRows.size(); ++i) {
        const FakeRow& f = fakeRows[i];
        MIB_IFROW& r = table->table[i];
        memset(&r, 0, sizeof r);
        r.dwIndex = static_cast<DWORD>(f.id);
        r.dwType = f.type;
        r.dwOperStatus = f.up ? MIB_IF_OPER_STATUS_OPERATIONAL : MIB_IF_OPER_STATUS_NON_OPERATIONAL;
        r.dwSpeed = static_cast<DWORD>(f.speed);
        r.dwInOctets = static_cast<DWORD>(f.in);
        r.dwOutOctets = static_cast<DWORD>(f.out);
        // XP's description is bytes with a length, NUL included.
        r.dwDescrLen = static_cast<DWORD>(wcslen(f.description) + 1);
        for (DWORD k = 0; k < r.dwDescrLen; ++k) r.bDescr[k] = static_cast<BYTE>(f.description[k]);
    }
    return NO_ERROR;
}

ULONGLONG fakeTickCount() { return fakeTick; }

const NetPlatform vistaAndLater = {fakeGetIfTable2, fakeFreeMibTable, fakeGetIfTable, fakeTickCount};
const NetPlatform windowsXp = {nullptr, nullptr, fakeGetIfTable, fakeTickCount};

constexpr uint64_t GIGABIT = 1000000000;

// A physical adapter and the rows that repeat or carry its traffic on a machine with a VPN up.
std::vector<FakeRow> vpnMachine(uint64_t ethernet, uint64_t tunnel) {
    return {
        {0x18000001000000, L"Loopback Pseudo-Interface 1", L"Software Loopback Interface 1", IF_TYPE_SOFTWARE_LOOPBACK,
         true, false, false, 5 * tunnel, 5 * tunnel, GIGABIT},
        {0x6000002000000, L"Ethernet", L"Intel(R) Ethernet Connection I219-V", IF_TYPE_ETHERNET_CSMACD, true, true,
         false, ethernet, ethernet / 2, GIGABIT},
        {0x6000003000000, L"Ethernet-WFP Native MAC Layer LightWeight Filter-0000",
         L"Intel(R) Ethernet Connection I219-V-WFP Native MAC Layer LightWeight Filter-0000", IF_TYPE_ETHERNET_CSMACD,
         true, true, true, ethernet, ethernet / 2, GIGABIT},
        {0x6000004000000, L"Ethernet-QoS Packet Scheduler-0000",
         L"Intel(R) Ethernet Connection I219-V-QoS Packet Scheduler-0000", IF_TYPE_ETHERNET_CSMACD, true, true, true,
         ethernet, ethernet / 2, GIGABIT},
        {0x6000005000000, L"Local Area Connection 2", L"TAP-Windows Adapter V9", IF_TYPE_ETHERNET_CSMACD, true, false,
         false, tunnel, tunnel / 2, 100000000},
        {0x4700006000000, L"Wi-Fi", L"Intel(R) Wi-Fi 6 AX201 160MHz", IF_TYPE_IEEE80211, false, true, false,
         3 * ethernet, 0, 0},
    };
}

void startWith(const NetPlatform& platform, const char* interfaceName = nullptr) {
    resetModel();
    fakehost::reset();
    snprintf(panelModel.rcPath, PATH_SIZE, "%s", "C:\\k\\Kelvora.rc");
    if (interfaceName) fakehost::set("Kelvora.net.interface:", interfaceName);
    fakehost::set("Kelvora.netGraph.width:", "4");
    fakehost::set("Kelvora.netGraph.height:", "10");
    reloadSettings();
    installNetPlatform(&platform);
    table2Fails = false;
    table2Calls = tableFrees = xpCalls = 0;
}

// One tick `ms` after the previous one, on the given table.
void tick(uint64_t ms, std::vector<FakeRow> rows) {
    fakeTick += ms;
    fakeRows = std::move(rows);
    sampleNetwork(nullptr, 0, 0, 0);
}

std::string down() { return panelModel.items[ITEM_NET_DOWN].value; }
std::string up() { return panelModel.items[ITEM_NET_UP].value; }
std::vector<int64_t> history(int graph) { return historyOf(panelModel.graphs[graph]); }

struct Restore {
    ~Restore() {
        installNetPlatform(nullptr);
        releaseNetworkSampler();
    }
};

}  // namespace

TEST_CASE("with a VPN up, the physical adapter is counted once: no tunnel, filter or loopback rows") {
    Restore restore;
    for (const NetPlatform* platform : {&vistaAndLater, &windowsXp}) {
        const bool xp = platform == &windowsXp;
        CAPTURE(xp);
        startWith(*platform);
        tick(0, vpnMachine(1000000, 500000));
        CHECK(down() == "0 B/s");  // the first reading has nothing to compare with
        CHECK(up() == "0 B/s");
        tick(1000, vpnMachine(1000000 + 1048576, 500000 + 1048576));
        // The XP table lists the filter rows too (Windows 7 and later would not use it): only the
        // hardware marks exclude them, so on XP's rules they count like the adapter.
        const int64_t counted = xp ? 3 : 1;
        CHECK(history(GRAPH_NET_DOWN) == std::vector<int64_t>{0, 0, 0, counted * 1048576});
        CHECK(history(GRAPH_NET_UP) == std::vector<int64_t>{0, 0, 0, counted * 524288});
        if (!xp) {
            CHECK(down() == "1.0 MB/s");
            CHECK(up() == "512.0 KB/s");
        }
        // Never both calls in one reading.
        CHECK((xp ? table2Calls == 0 && xpCalls >= 2 : table2Calls == 2 && tableFrees == 2 && xpCalls == 0));
    }
}

TEST_CASE("Windows XP's 32-bit counters: a wrap at 1 Gbit/s counts across it, a drop a slow link cannot explain is a reset") {
    Restore restore;
    startWith(windowsXp);
    std::vector<FakeRow> rows = {
        {7, L"", L"Intel(R) PRO/1000 MT Network Connection", MIB_IF_TYPE_ETHERNET, true, false, false, 0xFFFFFFFFu - 49999999,
         0x10000000, GIGABIT},
        {9, L"", L"WAN (PPP/SLIP) Interface", MIB_IF_TYPE_PPP, true, false, false, 3000000000u, 10, 56000},
    };
    tick(0, rows);
    rows[0].in = 70000000;  // 120,000,000 bytes across the wrap in one second
    rows[0].out = 0x10000000 + 1000;
    rows[1].in = 20;        // a 56 kbit/s link cannot move 4 GB in a second: reset, counts 0
    tick(1000, rows);
    CHECK(history(GRAPH_NET_DOWN).back() == 120000000);
    CHECK(down() == "114.4 MB/s");
    CHECK(up() == "1000 B/s");
}

TEST_CASE("a 64-bit counter that went down was reset and counts 0 for the interval") {
    Restore restore;
    startWith(vistaAndLater);
    tick(0, vpnMachine(8000000000ULL, 0));
    tick(2000, vpnMachine(4096, 0));
    CHECK(down() == "0 B/s");
    tick(1000, vpnMachine(4096 + 2048, 0));
    CHECK(down() == "2.0 KB/s");
}

TEST_CASE("a named interface is counted alone, by friendly name or description; a missing one shows n/a") {
    Restore restore;
    SUBCASE("the loopback, by its friendly name in other letter case") {
        startWith(vistaAndLater, "loopback pseudo-interface 1");
        tick(0, vpnMachine(0, 1000));
        tick(500, vpnMachine(999999, 2000));
        CHECK(down() == "9.8 KB/s");  // 5000 bytes in half a second
    }
    SUBCASE("the TAP adapter, by its description") {
        startWith(vistaAndLater, "TAP-WINDOWS ADAPTER V9");
        tick(0, vpnMachine(0, 1000));
        tick(1000, vpnMachine(999999, 3000));
        CHECK(down() == "2.0 KB/s");
        CHECK(up() == "1000 B/s");
    }
    SUBCASE("Windows XP matches the description; an interface that goes away shows n/a, then starts afresh") {
        startWith(windowsXp, "tap-windows adapter v9");
        tick(0, vpnMachine(0, 1000));
        tick(1000, vpnMachine(0, 1512));
        CHECK(down() == "512 B/s");
        tick(1000, {vpnMachine(0, 0)[1]});
        CHECK(down() == "n/a");
        CHECK(up() == "n/a");
        CHECK(history(GRAPH_NET_DOWN) == std::vector<int64_t>{0, 0, 512, 0});
        tick(1000, vpnMachine(0, 90000));
        CHECK(down() == "0 B/s");
    }
    SUBCASE("a name that matches nothing") {
        startWith(vistaAndLater, "Ethernet 7");
        tick(0, vpnMachine(0, 0));
        CHECK(down() == "n/a");
        CHECK(up() == "n/a");
    }
}

TEST_CASE("an unreadable table shows n/a; readings in one millisecond and after a reload") {
    Restore restore;
    startWith(vistaAndLater);
    tick(0, vpnMachine(0, 0));
    tick(1000, vpnMachine(1000, 0));
    CHECK(down() == "1000 B/s");

    SUBCASE("GetIfTable2 fails: n/a, and GetIfTable is not asked instead") {
        table2Fails = true;
        tick(1000, vpnMachine(2000, 0));
        CHECK(down() == "n/a");
        CHECK(xpCalls == 0);
        table2Fails = false;
        tick(1000, vpnMachine(3000, 0));
        CHECK(down() == "0 B/s");
    }
    SUBCASE("a second reading in the same millisecond keeps the texts and the panel") {
        HWND window = createPaintingPanelWindow();
        panelModel.panelWindow = window;
        UpdateWindow(window);
        tick(0, vpnMachine(500000, 0));
        CHECK(down() == "1000 B/s");
        CHECK_FALSE(panelChangesPending());
        tick(1000, vpnMachine(502000, 0));
        CHECK(down() == "489.3 KB/s");  // counted from the older reading: 501000 bytes
        CHECK(panelChangesPending());
        releaseBackBuffer();
        panelModel.panelWindow = nullptr;
        DestroyWindow(window);
    }
    SUBCASE("the first reading after a reload shows 0 B/s") {
        reloadSettings();
        tick(1000, vpnMachine(900000, 0));
        CHECK(down() == "0 B/s");
        CHECK(history(GRAPH_NET_DOWN) == std::vector<int64_t>{0, 0, 0, 0});
    }
}

TEST_CASE("a table of 500 interfaces on the real system's rules") {
    Restore restore;
    startWith(vistaAndLater);
    std::vector<FakeRow> rows;
    for (uint64_t i = 0; i < 500; ++i)
        rows.push_back({1000 + i, L"vEthernet", L"Hyper-V Virtual Ethernet Adapter", IF_TYPE_ETHERNET_CSMACD, true, i % 50 == 0,
                        false, i * 1000, 0, GIGABIT});
    tick(0, rows);
    for (FakeRow& r : rows) r.in += 100;
    tick(1000, rows);
    CHECK(down() == "1000 B/s");  // ten hardware rows of 100 bytes each
}
