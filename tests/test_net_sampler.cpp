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

// ---- The IP row: the adapters' list and the route, fed through its seam ----------------------

#include "sampling/ip_sampler.h"
#include "sampling/samplers.h"

namespace {

struct FakeAdapter {
    const wchar_t* alias;
    const wchar_t* description;
    DWORD index;
    DWORD type;
    bool up;
    std::vector<std::string> addresses;  // "a.b.c.d" or eight hexadecimal groups "2001:db8:0:0:0:0:0:5"
    uint64_t luid;                       // its row in vpnMachine's interface table
};
std::vector<FakeAdapter> fakeAdapters;
DWORD fakeRoute = 0;     // the interface GetBestInterface names; 0: no route
bool xpRecords = false;  // records of Windows XP's length, the fields after it garbage
int listCalls = 0, routeCalls = 0;

// The list as GetAdaptersAddresses lays it out: ERROR_BUFFER_OVERFLOW with the size it needs.
ULONG WINAPI fakeGetAdaptersAddresses(ULONG, ULONG, PVOID, PIP_ADAPTER_ADDRESSES list, PULONG size) {
    ++listCalls;
    const size_t each = sizeof(IP_ADAPTER_ADDRESSES) + 2 * 128 * sizeof(WCHAR) + 4 * (sizeof(IP_ADAPTER_UNICAST_ADDRESS) + sizeof(sockaddr_in6));
    const ULONG needed = static_cast<ULONG>(each * fakeAdapters.size());
    if (fakeAdapters.empty()) return ERROR_NO_DATA;
    if (!list || *size < needed) {
        *size = needed;
        return ERROR_BUFFER_OVERFLOW;
    }
    memset(list, 0xA5, needed);  // what the records do not cover is garbage
    auto* at = reinterpret_cast<uint8_t*>(list);
    IP_ADAPTER_ADDRESSES* previous = nullptr;
    for (const FakeAdapter& f : fakeAdapters) {
        auto* a = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(at);
        uint8_t* end = at + each;
        at += sizeof(IP_ADAPTER_ADDRESSES);
        memset(a, 0, xpRecords ? sizeof(IP_ADAPTER_ADDRESSES_XP) : sizeof(IP_ADAPTER_ADDRESSES));
        a->Length = xpRecords ? sizeof(IP_ADAPTER_ADDRESSES_XP) : sizeof(IP_ADAPTER_ADDRESSES);
        if (previous) previous->Next = a;
        previous = a;
        a->IfIndex = a->Ipv6IfIndex = f.index;
        if (!xpRecords) a->Luid.Value = f.luid;
        a->IfType = f.type;
        a->OperStatus = f.up ? IfOperStatusUp : IfOperStatusDown;
        a->FriendlyName = reinterpret_cast<WCHAR*>(at);
        wcscpy(a->FriendlyName, f.alias);
        a->Description = a->FriendlyName + 128;
        wcscpy(a->Description, f.description);
        at += 2 * 128 * sizeof(WCHAR);
        IP_ADAPTER_UNICAST_ADDRESS* last = nullptr;
        for (const std::string& text : f.addresses) {
            auto* u = reinterpret_cast<IP_ADAPTER_UNICAST_ADDRESS*>(at);
            auto* socket = reinterpret_cast<sockaddr_in6*>(at + sizeof *u);
            at += sizeof *u + sizeof *socket;
            memset(u, 0, sizeof *u + sizeof *socket);
            unsigned g[8];
            if (sscanf(text.c_str(), "%x:%x:%x:%x:%x:%x:%x:%x", &g[0], &g[1], &g[2], &g[3], &g[4], &g[5], &g[6], &g[7]) == 8) {
                socket->sin6_family = AF_INET6;
                for (int i = 0; i < 8; ++i) {
                    socket->sin6_addr.s6_addr[2 * i] = static_cast<BYTE>(g[i] >> 8);
                    socket->sin6_addr.s6_addr[2 * i + 1] = static_cast<BYTE>(g[i]);
                }
                u->Address.iSockaddrLength = sizeof(sockaddr_in6);
            } else {
                auto* in = reinterpret_cast<sockaddr_in*>(socket);
                unsigned b[4];
                sscanf(text.c_str(), "%u.%u.%u.%u", &b[0], &b[1], &b[2], &b[3]);
                in->sin_family = AF_INET;
                for (int i = 0; i < 4; ++i) reinterpret_cast<uint8_t*>(&in->sin_addr)[i] = static_cast<uint8_t>(b[i]);
                u->Address.iSockaddrLength = sizeof(sockaddr_in);
            }
            u->Address.lpSockaddr = reinterpret_cast<SOCKADDR*>(socket);
            u->DadState = IpDadStatePreferred;
            if (last) last->Next = u; else a->FirstUnicastAddress = u;
            last = u;
        }
        at = end;
    }
    return NO_ERROR;
}

DWORD WINAPI fakeGetBestInterface(IPAddr, PDWORD index) {
    ++routeCalls;
    *index = fakeRoute;
    return fakeRoute ? NO_ERROR : ERROR_NETWORK_UNREACHABLE;
}

const IpPlatform fakeIpPlatform = {fakeGetAdaptersAddresses, fakeGetBestInterface, nullptr};

// A Hyper-V machine: two virtual switches listed before the physical adapter, a tunnel, a cable
// left unplugged.
std::vector<FakeAdapter> hyperVMachine() {
    return {
        {L"vEthernet (WSL)", L"Hyper-V Virtual Ethernet Adapter", 31, IF_TYPE_ETHERNET_CSMACD, true, {"172.22.16.1"},
         0x6000031000000},
        {L"Local Area Connection 2", L"TAP-Windows Adapter V9", 40, IF_TYPE_ETHERNET_CSMACD, true, {"10.8.0.6"},
         0x6000005000000},
        {L"Ethernet", L"Intel(R) Ethernet Connection I219-V", 7, IF_TYPE_ETHERNET_CSMACD, true,
         {"169.254.3.3", "192.168.1.20", "2001:db8:0:0:0:0:0:14"}, 0x6000002000000},
        {L"Ethernet 2", L"Realtek USB GbE Family Controller", 9, IF_TYPE_ETHERNET_CSMACD, false, {"10.0.0.5"},
         0x6000009000000},
    };
}

std::string ipRow() { return panelModel.items[ITEM_IP].value; }

struct IpRestore {
    ~IpRestore() {
        installIpPlatform(nullptr);
        noteSocketsStarted(false);
        releaseIpSampler();
        installNetPlatform(nullptr);
        releaseNetworkSampler();
        xpRecords = false;
    }
};

void startIpRow(const NetPlatform& net, const char* family = nullptr, const char* right = "90") {
    startWith(net);
    fakehost::set("Kelvora.ip.right:", right);
    if (family) fakehost::set("Kelvora.ip.family:", family);
    reloadSettings();
    installIpPlatform(&fakeIpPlatform);
    noteSocketsStarted(true);
    fakeAdapters = hyperVMachine();
    fakeRoute = 7;
    listCalls = routeCalls = 0;
    xpRecords = false;
}

}  // namespace

TEST_CASE("the IP row: the default route's adapter, the first physical one without a route, n/a without sockets") {
    IpRestore restore;
    startIpRow(vistaAndLater);
    sampleIp(nullptr, 0, 0, 0);
    CHECK(ipRow() == "192.168.1.20");
    CHECK(listCalls == 2);  // the first list outgrew the buffer: grown once, then kept
    sampleIp(nullptr, 0, 0, 0);
    CHECK(listCalls == 3);
    fakeRoute = 40;  // the VPN takes the default route
    sampleIp(nullptr, 0, 0, 0);
    CHECK(ipRow() == "10.8.0.6");
    // No route: by the interface table's hardware marks the switch and the tunnel do not count.
    fakeRoute = 0;
    fakeRows = vpnMachine(0, 0);
    sampleIp(nullptr, 0, 0, 0);
    CHECK(ipRow() == "192.168.1.20");
    // Windows XP's records: nothing after their end is read, and XP's rule leaves the TAP out.
    startIpRow(windowsXp);
    fakeRoute = 0;
    xpRecords = true;
    sampleIp(nullptr, 0, 0, 0);
    CHECK(ipRow() == "172.22.16.1");  // XP has no virtual switches: its rule takes the Ethernet kind
    fakeAdapters.erase(fakeAdapters.begin());
    sampleIp(nullptr, 0, 0, 0);
    CHECK(ipRow() == "192.168.1.20");
    fakeAdapters.clear();
    sampleIp(nullptr, 0, 0, 0);
    CHECK(ipRow() == "n/a");
    noteSocketsStarted(false);
    fakeAdapters = hyperVMachine();
    listCalls = 0;
    sampleIp(nullptr, 0, 0, 0);
    CHECK(ipRow() == "n/a");
    CHECK(listCalls == 0);
}

TEST_CASE("the network sampler reads the IP row when the set of interfaces changes, and only then") {
    IpRestore restore;
    startIpRow(vistaAndLater);
    sampleIp(nullptr, 0, 0, 0);  // as at the start, which the reload's mark waits for
    tick(0, vpnMachine(0, 0));
    tick(1000, vpnMachine(1000, 0));
    CHECK(listCalls == 2);  // no reading of its own: the set stands
    std::vector<FakeRow> unplugged = vpnMachine(2000, 0);
    unplugged[1].up = false;
    fakeAdapters[2].up = false;
    fakeRoute = 40;
    tick(1000, unplugged);
    CHECK(listCalls == 3);
    CHECK(ipRow() == "10.8.0.6");
    tick(1000, unplugged);
    CHECK(listCalls == 3);
    reloadSettings();  // a reload reads the row at the next network tick, with its keys
    tick(1000, unplugged);
    CHECK(listCalls == 4);
}

TEST_CASE("both families where the row has room in the panel's font, else the IPv4 address alone") {
    IpRestore restore;
    startIpRow(vistaAndLater, "Both", "2000");
    sampleIp(nullptr, 0, 0, 0);
    CHECK(ipRow() == "192.168.1.20 2001:db8::14");
    startIpRow(vistaAndLater, "both", "120");
    sampleIp(nullptr, 0, 0, 0);
    CHECK(ipRow() == "192.168.1.20");
    startIpRow(vistaAndLater, "ipv6");
    sampleIp(nullptr, 0, 0, 0);
    CHECK(ipRow() == "2001:db8::14");
}
