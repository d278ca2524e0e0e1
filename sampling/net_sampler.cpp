// The network sampler: one interface table a tick, turned into rows of the portable form, the
// choice of the interfaces that count, and the rates into the two rows and the network graph.
#include "sampling/net_sampler.h"

#include <cstdio>
#include <cstdlib>

#include "config/panel_model.h"
#include "render/painter.h"
#include "sampling/byte_size.h"
#include "sampling/net_traffic.h"
#include "sampling/samplers.h"

namespace {

ULONGLONG systemTickCount() { return GetTickCount64(); }

NetPlatform systemPlatform = {nullptr, nullptr, GetIfTable, systemTickCount};
const NetPlatform* installedPlatform = nullptr;

// Kept from tick to tick; each grows only when the table outgrows it.
NetTrafficState traffic;
NetInterface* rows = nullptr;
size_t rowCapacity = 0;
MIB_IFTABLE* xpTable = nullptr;  // the buffer GetIfTable fills
ULONG xpTableSize = 0;
// The configured name in UTF-16, for comparison with GetIfTable2's names; made at each reload.
WCHAR wantedName[PATH_SIZE];

bool growRows(size_t count) {
    if (count <= rowCapacity) return true;
    const size_t capacity = count + count / 4 + 8;
    if (capacity > SIZE_MAX / sizeof(NetInterface)) return false;
    auto* grown = static_cast<NetInterface*>(realloc(rows, capacity * sizeof(NetInterface)));
    if (!grown) return false;
    rows = grown;
    rowCapacity = capacity;
    return true;
}

struct Table {
    bool readable;    // false: no table, or the named interface is not in it
    size_t count;
    bool counters64;
    bool listed;            // the table was read, whether the named interface is in it or not
    uint64_t interfaceSet;  // the identities and states of its rows, mixed
};

// The set of interfaces and whether each is up, as of the last table read: when it changes (an
// adapter going up or down, a VPN connecting) the IP row is read again at once.
uint64_t knownInterfaceSet = 0;
bool interfaceSetKnown = false;

// FNV-1a over the id and the state, row by row.
uint64_t mixInterface(uint64_t set, uint64_t id, bool up) {
    for (int i = 0; i < 8; ++i) set = (set ^ ((id >> (8 * i)) & 0xFF)) * 0x100000001B3ULL;
    return (set ^ (up ? 1u : 2u)) * 0x100000001B3ULL;
}
constexpr uint64_t EMPTY_INTERFACE_SET = 0xCBF29CE484222325ULL;

bool namesInterface() { return panelModel.netInterface[0] != '\0'; }

// Automatic choice: interfaces that are up, are no loopback and carry their own traffic. A
// hardware interface that is no filter is a physical adapter: tunnels are software interfaces
// whose traffic the adapter below them carries again, and the filter rows of Windows 7 and later
// repeat the counters of the adapter they filter.
bool countsByItself(const MIB_IF_ROW2& row) {
    return row.OperStatus == IfOperStatusUp && row.Type != IF_TYPE_SOFTWARE_LOOPBACK &&
           row.InterfaceAndOperStatusFlags.HardwareInterface && !row.InterfaceAndOperStatusFlags.FilterInterface;
}

// Of the named interface, the first row whose friendly name matches, else the first whose
// description does; the table's size when none does.
ULONG namedRow(const MIB_IF_TABLE2& table) {
    for (ULONG i = 0; i < table.NumEntries; ++i)
        if (sameInterfaceName<uint16_t>(reinterpret_cast<const uint16_t*>(wantedName),
                                        reinterpret_cast<const uint16_t*>(table.Table[i].Alias), IF_MAX_STRING_SIZE + 1))
            return i;
    for (ULONG i = 0; i < table.NumEntries; ++i)
        if (sameInterfaceName<uint16_t>(reinterpret_cast<const uint16_t*>(wantedName),
                                        reinterpret_cast<const uint16_t*>(table.Table[i].Description),
                                        IF_MAX_STRING_SIZE + 1))
            return i;
    return table.NumEntries;
}

Table readTable2(const NetPlatform& platform) {
    PMIB_IF_TABLE2 table = nullptr;
    const bool read = platform.getIfTable2(&table) == NO_ERROR && table;
    Table result = {false, 0, true, read, EMPTY_INTERFACE_SET};
    for (ULONG i = 0; read && i < table->NumEntries; ++i)
        result.interfaceSet = mixInterface(result.interfaceSet, table->Table[i].InterfaceLuid.Value,
                                           table->Table[i].OperStatus == IfOperStatusUp);
    if (read && growRows(table->NumEntries)) {
        const ULONG named = namesInterface() ? namedRow(*table) : table->NumEntries;
        result.readable = !namesInterface() || named < table->NumEntries;
        for (ULONG i = 0; i < table->NumEntries; ++i) {
            const MIB_IF_ROW2& row = table->Table[i];
            rows[i] = NetInterface{row.InterfaceLuid.Value, row.InOctets, row.OutOctets, row.ReceiveLinkSpeed,
                                   row.TransmitLinkSpeed, namesInterface() ? i == named : countsByItself(row)};
        }
        result.count = table->NumEntries;
    }
    if (table) platform.freeMibTable(table);
    return result;
}

// The kept buffer filled by GetIfTable, grown to the size the system asks for.
bool fillXpTable(const NetPlatform& platform) {
    for (int attempt = 0; attempt < 4; ++attempt) {
        ULONG size = xpTableSize;
        const DWORD answer = platform.getIfTable(xpTable, &size, FALSE);
        if (answer == NO_ERROR) return xpTable != nullptr;
        if (answer != ERROR_INSUFFICIENT_BUFFER || size <= xpTableSize || size > NET_TABLE_SIZE_LIMIT) return false;
        // A little more than asked: an adapter that appears meanwhile needs no second round.
        const ULONG wanted = size + 4 * sizeof(MIB_IFROW);
        auto* grown = static_cast<MIB_IFTABLE*>(realloc(xpTable, wanted));
        if (!grown) return false;
        xpTable = grown;
        xpTableSize = wanted;
    }
    return false;
}

ULONG descriptionLength(const MIB_IFROW& row) { return row.dwDescrLen < MAXLEN_IFDESCR ? row.dwDescrLen : MAXLEN_IFDESCR; }

// Windows XP's table has neither the hardware nor the filter flag: physical adapters are told by
// their type, and a tunnel's virtual Ethernet adapter by its description.
bool xpCountsByItself(const MIB_IFROW& row) {
    const bool carrierType = row.dwType == MIB_IF_TYPE_ETHERNET || row.dwType == IF_TYPE_IEEE80211 ||
                             row.dwType == MIB_IF_TYPE_PPP;
    return row.dwOperStatus >= MIB_IF_OPER_STATUS_CONNECTED && carrierType &&
           !describesTunnelAdapter(reinterpret_cast<const char*>(row.bDescr), descriptionLength(row));
}

Table readXpTable(const NetPlatform& platform) {
    Table result = {false, 0, false, false, EMPTY_INTERFACE_SET};
    if (!fillXpTable(platform)) return result;
    // The count must fit the bytes the buffer holds.
    const size_t fits = (xpTableSize - offsetof(MIB_IFTABLE, table)) / sizeof(MIB_IFROW);
    const size_t count = xpTable->dwNumEntries < fits ? xpTable->dwNumEntries : fits;
    result.listed = true;
    for (size_t i = 0; i < count; ++i)
        result.interfaceSet = mixInterface(result.interfaceSet, xpTable->table[i].dwIndex,
                                           xpTable->table[i].dwOperStatus >= MIB_IF_OPER_STATUS_CONNECTED);
    if (!growRows(count)) return result;
    size_t named = count;
    for (size_t i = 0; namesInterface() && i < count && named == count; ++i)
        if (sameInterfaceName<char>(panelModel.netInterface, reinterpret_cast<const char*>(xpTable->table[i].bDescr),
                                    descriptionLength(xpTable->table[i])))
            named = i;
    result.readable = !namesInterface() || named < count;
    for (size_t i = 0; i < count; ++i) {
        const MIB_IFROW& row = xpTable->table[i];
        rows[i] = NetInterface{row.dwIndex, row.dwInOctets, row.dwOutOctets, row.dwSpeed, row.dwSpeed,
                               namesInterface() ? i == named : xpCountsByItself(row)};
    }
    result.count = count;
    return result;
}

// The rows' values, and the graph, whose caption is the download value.
void showReading(const char* down, const char* up, int64_t downRate, int64_t upRate) {
    showRowValue(ITEM_NET_DOWN, down);
    showRowValue(ITEM_NET_UP, up);
    const bool downMoved = pushHistory(panelModel.graphs[GRAPH_NET_DOWN], downRate);
    const bool upMoved = pushHistory(panelModel.graphs[GRAPH_NET_UP], upRate);
    scrollGraph(GRAPH_NET_DOWN, downMoved || upMoved);
}

void showRates(int64_t down, int64_t up) {
    char downText[BYTE_RATE_TEXT_SIZE], upText[BYTE_RATE_TEXT_SIZE];
    formatByteRate(downText, sizeof downText, down);
    formatByteRate(upText, sizeof upText, up);
    showReading(downText, upText, down, up);
}

void showUnavailable() { showReading("n/a", "n/a", 0, 0); }

// A reload, or a change of the set since the previous reading, reads the IP row: a new network
// shows within a network period, not at the IP row's next tick.
void followInterfaceSet(const Table& table) {
    const bool changed = table.listed && interfaceSetKnown && table.interfaceSet != knownInterfaceSet;
    if (table.listed) {
        knownInterfaceSet = table.interfaceSet;
        interfaceSetKnown = true;
    }
    if (changed || panelModel.ipRestart) sampleIp(nullptr, 0, 0, 0);
}

void takeWantedName() {
    if (MultiByteToWideChar(CP_ACP, 0, panelModel.netInterface, -1, wantedName, PATH_SIZE) == 0) wantedName[0] = 0;
}

void restartAfterReload() {
    forgetNetBaseline(traffic);
    takeWantedName();
    panelModel.netRestart = false;
}

// UTF-16 or ANSI text of at most `units` units, ended by its first NUL, as UTF-8.
void utf8Of(const WCHAR* text, size_t units, char* out, int outSize) {
    int length = 0;
    while (static_cast<size_t>(length) < units && text[length]) ++length;
    const int written = length ? WideCharToMultiByte(CP_UTF8, 0, text, length, out, outSize - 1, nullptr, nullptr) : 0;
    out[written > 0 ? written : 0] = '\0';
}

void utf8OfAnsi(const char* text, size_t units, char* out, int outSize) {
    WCHAR wide[MAXLEN_IFDESCR + 1];
    int length = 0;
    while (static_cast<size_t>(length) < units && length < MAXLEN_IFDESCR && text[length]) ++length;
    const int converted = length ? MultiByteToWideChar(CP_ACP, 0, text, length, wide, MAXLEN_IFDESCR) : 0;
    utf8Of(wide, converted > 0 ? static_cast<size_t>(converted) : 0, out, outSize);
}

// Of the table, the rows the sampler counts, by the same choice as readTable2 and readXpTable.
bool listCounted2(const NetPlatform& platform, CountedInterfaceVisitor each, void* context) {
    PMIB_IF_TABLE2 table = nullptr;
    const bool read = platform.getIfTable2(&table) == NO_ERROR && table;
    if (read) {
        const ULONG named = namesInterface() ? namedRow(*table) : table->NumEntries;
        for (ULONG i = 0; i < table->NumEntries; ++i) {
            const MIB_IF_ROW2& row = table->Table[i];
            if (namesInterface() ? i != named : !countsByItself(row)) continue;
            char name[3 * (IF_MAX_STRING_SIZE + 1)];
            utf8Of(row.Alias, IF_MAX_STRING_SIZE + 1, name, sizeof name);
            each(context, name, row.ReceiveLinkSpeed, row.TransmitLinkSpeed);
        }
    }
    if (table) platform.freeMibTable(table);
    return read;
}

bool listCountedXp(const NetPlatform& platform, CountedInterfaceVisitor each, void* context) {
    if (!fillXpTable(platform)) return false;
    const size_t fits = (xpTableSize - offsetof(MIB_IFTABLE, table)) / sizeof(MIB_IFROW);
    const size_t count = xpTable->dwNumEntries < fits ? xpTable->dwNumEntries : fits;
    bool namedFound = false;
    for (size_t i = 0; i < count; ++i) {
        const MIB_IFROW& row = xpTable->table[i];
        const char* description = reinterpret_cast<const char*>(row.bDescr);
        const bool counted = namesInterface()
                                 ? !namedFound && sameInterfaceName<char>(panelModel.netInterface, description,
                                                                          descriptionLength(row))
                                 : xpCountsByItself(row);
        if (!counted) continue;
        namedFound = true;
        char name[3 * (MAXLEN_IFDESCR + 1)];
        utf8OfAnsi(description, descriptionLength(row), name, sizeof name);
        each(context, name, row.dwSpeed, row.dwSpeed);
    }
    return true;
}

}  // namespace

const NetPlatform& netPlatform() { return installedPlatform ? *installedPlatform : systemPlatform; }

void installNetPlatform(const NetPlatform* platform) { installedPlatform = platform; }

void lookUpNetworkTables() {
    // GetIfTable, which every system has, is imported; the module is therefore loaded.
    HMODULE iphlpapi = GetModuleHandleA("iphlpapi.dll");
    auto table2 = reinterpret_cast<decltype(NetPlatform::getIfTable2)>(
        reinterpret_cast<void*>(GetProcAddress(iphlpapi, "GetIfTable2")));
    auto release = reinterpret_cast<decltype(NetPlatform::freeMibTable)>(
        reinterpret_cast<void*>(GetProcAddress(iphlpapi, "FreeMibTable")));
    // One without the other is no way to read the table.
    systemPlatform.getIfTable2 = table2 && release ? table2 : nullptr;
    systemPlatform.freeMibTable = table2 && release ? release : nullptr;
}

void CALLBACK sampleNetwork(HWND, UINT, UINT_PTR, DWORD) {
    if (panelModel.netRestart) restartAfterReload();
    const NetPlatform& platform = netPlatform();
    const Table table = platform.getIfTable2 ? readTable2(platform) : readXpTable(platform);
    followInterfaceSet(table);
    const uint64_t now = platform.tickCount();
    NetRates rates = {0, 0};
    bool available = table.readable;
    if (available) {
        const NetOutcome outcome = takeNetReading(traffic, rows, table.count, table.counters64, now, &rates);
        if (outcome == NET_SAME_MILLISECOND) return;  // no time has passed: nothing to show anew
        available = outcome != NET_NO_MEMORY;
    }
    if (available) {
        showRates(rates.down, rates.up);
    } else {
        // Without a table, or without the named interface, the next reading starts afresh.
        forgetNetBaseline(traffic);
        showUnavailable();
    }
}

bool interfaceCountsByItself(const MIB_IF_ROW2& row) { return countsByItself(row); }

NetTotals netTotals() { return NetTotals{traffic.receivedTotal, traffic.sentTotal}; }

bool listCountedInterfaces(CountedInterfaceVisitor each, void* context) {
    // A reload's new name reaches the comparison before the sampler's next tick does.
    if (panelModel.netRestart) takeWantedName();
    const NetPlatform& platform = netPlatform();
    return platform.getIfTable2 ? listCounted2(platform, each, context) : listCountedXp(platform, each, context);
}

void releaseNetworkSampler() {
    releaseNetTraffic(traffic);
    free(rows);
    rows = nullptr;
    rowCapacity = 0;
    free(xpTable);
    xpTable = nullptr;
    xpTableSize = 0;
    interfaceSetKnown = false;
}
