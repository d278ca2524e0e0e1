// Interface tables of the stand-in host: lists the table a plugin sees (script step
// "interfaces"), and with --net-table or the net-table step feeds it a table of the host's own,
// whose counters grow at set rates, through both of the plugin's ways to read one (GetIfTable2
// and Windows XP's GetIfTable), with the interfaces' addresses and default routes
// (GetAdaptersAddresses, GetBestInterface and GetBestInterfaceEx). Without a table, each hands
// the plugin's calls to the system.
#include <winsock2.h>
#include <ws2ipdef.h>
#include <windows.h>
#include <iphlpapi.h>
#include <netioapi.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "host/host.h"
#include "host/import_patch.h"
#include "host/rc_files.h"

namespace host {

namespace {

// An address of a fed interface, with the length of its on-link prefix (0: none given).
struct FedAddress {
    bool v6 = false;
    uint8_t bytes[16] = {};
    unsigned prefix = 0;
    bool temporary = false, deprecated = false;
};

struct FedInterface {
    uint64_t id = 0;
    std::string alias, description;
    DWORD type = IF_TYPE_ETHERNET_CSMACD;
    bool up = true, hardware = true, filter = false;
    uint64_t speed = 0;
    uint64_t in = 0, out = 0;          // the counters when the table was loaded
    uint64_t inRate = 0, outRate = 0;  // bytes a second from then on
    std::vector<FedAddress> addresses;
    // A default route leaves by the interface, for IPv4 and for IPv6, at this metric.
    bool gateway4 = false, gateway6 = false;
    uint64_t metric = 0;
};

bool feeding = false;
std::vector<FedInterface> fed;
ULONGLONG fedSince = 0;

typedef DWORD(WINAPI* GetIfTable2Fn)(PMIB_IF_TABLE2*);
typedef VOID(WINAPI* FreeMibTableFn)(PVOID);
typedef DWORD(WINAPI* GetIfTableFn)(PMIB_IFTABLE, PULONG, BOOL);

// The host imports nothing of the library itself, so it loads it; the reference stays for the run.
FARPROC systemFunction(const char* name) {
    static HMODULE iphlpapi = LoadLibraryA("iphlpapi.dll");
    return GetProcAddress(iphlpapi, name);
}

// The counters now: the loaded values and the bytes their rates add up to since the load.
uint64_t counterNow(uint64_t base, uint64_t rate) { return base + rate * (GetTickCount64() - fedSince) / 1000; }

void widen(const std::string& text, WCHAR* out, int size) {
    if (MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, out, size) == 0) out[0] = 0;
}

// Tables handed out by fedGetIfTable2 and not yet freed: FreeMibTable frees these itself and
// hands every other table to the system.
std::vector<void*> fedTables;

DWORD WINAPI fedGetIfTable2(PMIB_IF_TABLE2* out) {
    if (!feeding) {
        auto system = reinterpret_cast<GetIfTable2Fn>(systemFunction("GetIfTable2"));
        return system ? system(out) : ERROR_NOT_SUPPORTED;
    }
    if (!out) return ERROR_INVALID_PARAMETER;
    auto* table = static_cast<MIB_IF_TABLE2*>(calloc(1, sizeof(MIB_IF_TABLE2) + fed.size() * sizeof(MIB_IF_ROW2)));
    if (!table) return ERROR_NOT_ENOUGH_MEMORY;
    table->NumEntries = static_cast<ULONG>(fed.size());
    for (size_t i = 0; i < fed.size(); ++i) {
        const FedInterface& f = fed[i];
        MIB_IF_ROW2& row = table->Table[i];
        row.InterfaceLuid.Value = f.id;
        row.InterfaceIndex = static_cast<NET_IFINDEX>(i + 1);
        widen(f.alias, row.Alias, IF_MAX_STRING_SIZE + 1);
        widen(f.description, row.Description, IF_MAX_STRING_SIZE + 1);
        row.Type = f.type;
        row.OperStatus = f.up ? IfOperStatusUp : IfOperStatusDown;
        row.InterfaceAndOperStatusFlags.HardwareInterface = f.hardware;
        row.InterfaceAndOperStatusFlags.FilterInterface = f.filter;
        row.ReceiveLinkSpeed = row.TransmitLinkSpeed = f.speed;
        row.InOctets = counterNow(f.in, f.inRate);
        row.OutOctets = counterNow(f.out, f.outRate);
    }
    *out = table;
    fedTables.push_back(table);
    return NO_ERROR;
}

VOID WINAPI fedFreeMibTable(PVOID memory) {
    for (size_t i = 0; i < fedTables.size(); ++i)
        if (fedTables[i] == memory) {
            fedTables.erase(fedTables.begin() + static_cast<std::ptrdiff_t>(i));
            free(memory);
            return;
        }
    auto system = reinterpret_cast<FreeMibTableFn>(systemFunction("FreeMibTable"));
    if (system) system(memory);
}

// As Windows XP answers: 32-bit counters, the description as bytes with its length.
DWORD WINAPI fedGetIfTable(PMIB_IFTABLE table, PULONG size, BOOL sorted) {
    if (!feeding) return reinterpret_cast<GetIfTableFn>(systemFunction("GetIfTable"))(table, size, sorted);
    if (!size) return ERROR_INVALID_PARAMETER;
    const ULONG needed = static_cast<ULONG>(offsetof(MIB_IFTABLE, table) + fed.size() * sizeof(MIB_IFROW));
    if (!table || *size < needed) {
        *size = needed;
        return ERROR_INSUFFICIENT_BUFFER;
    }
    table->dwNumEntries = static_cast<DWORD>(fed.size());
    for (size_t i = 0; i < fed.size(); ++i) {
        const FedInterface& f = fed[i];
        MIB_IFROW& row = table->table[i];
        ZeroMemory(&row, sizeof row);
        row.dwIndex = static_cast<DWORD>(f.id);
        row.dwType = f.type;
        row.dwOperStatus = f.up ? MIB_IF_OPER_STATUS_OPERATIONAL : MIB_IF_OPER_STATUS_NON_OPERATIONAL;
        row.dwSpeed = static_cast<DWORD>(f.speed);
        row.dwInOctets = static_cast<DWORD>(counterNow(f.in, f.inRate));
        row.dwOutOctets = static_cast<DWORD>(counterNow(f.out, f.outRate));
        row.dwDescrLen = static_cast<DWORD>(snprintf(reinterpret_cast<char*>(row.bDescr), MAXLEN_IFDESCR, "%s",
                                                     f.description.c_str()) + 1);
        if (row.dwDescrLen > MAXLEN_IFDESCR) row.dwDescrLen = MAXLEN_IFDESCR;
    }
    return NO_ERROR;
}

typedef ULONG(WINAPI* GetAdaptersAddressesFn)(ULONG, ULONG, PVOID, PIP_ADAPTER_ADDRESSES, PULONG);
typedef DWORD(WINAPI* GetBestInterfaceFn)(IPAddr, PDWORD);
typedef DWORD(WINAPI* GetBestInterfaceExFn)(struct sockaddr*, PDWORD);

size_t roundUp(size_t n) { return (n + 7) & ~size_t{7}; }

// Filter rows have no addresses of their own: the system lists them in the interface table only.
bool listsAddresses(const FedInterface& f) { return !f.filter; }

bool familyWanted(ULONG family, bool v6) { return family == AF_UNSPEC || family == (v6 ? AF_INET6 : AF_INET); }

// Bytes one interface takes in the list: the record, its names and its addresses.
size_t adapterBytes(const FedInterface& f, ULONG family) {
    size_t bytes = roundUp(sizeof(IP_ADAPTER_ADDRESSES)) + roundUp(40) +
                   roundUp((f.alias.size() + 1) * sizeof(WCHAR)) + roundUp((f.description.size() + 1) * sizeof(WCHAR)) +
                   roundUp(sizeof(WCHAR));
    for (const FedAddress& a : f.addresses)
        if (familyWanted(family, a.v6))
            bytes += roundUp(sizeof(IP_ADAPTER_UNICAST_ADDRESS)) + roundUp(sizeof(sockaddr_in6));
    return bytes;
}

// As the system answers: ERROR_BUFFER_OVERFLOW with the size needed, ERROR_NO_DATA without adapters,
// else the records one after the other in the caller's buffer, each with its names and addresses.
ULONG WINAPI fedGetAdaptersAddresses(ULONG family, ULONG flags, PVOID reserved, PIP_ADAPTER_ADDRESSES list,
                                     PULONG size) {
    if (!feeding)
        return reinterpret_cast<GetAdaptersAddressesFn>(systemFunction("GetAdaptersAddresses"))(family, flags, reserved,
                                                                                               list, size);
    if (!size || (family != AF_UNSPEC && family != AF_INET && family != AF_INET6)) return ERROR_INVALID_PARAMETER;
    size_t needed = 0, count = 0;
    for (const FedInterface& f : fed)
        if (listsAddresses(f)) {
            needed += adapterBytes(f, family);
            ++count;
        }
    if (count == 0) return ERROR_NO_DATA;
    if (!list || *size < needed) {
        *size = static_cast<ULONG>(needed);
        return ERROR_BUFFER_OVERFLOW;
    }
    memset(list, 0, needed);
    auto* at = reinterpret_cast<uint8_t*>(list);
    auto take = [&at](size_t bytes) {
        uint8_t* here = at;
        at += roundUp(bytes);
        return here;
    };
    IP_ADAPTER_ADDRESSES* previous = nullptr;
    for (size_t i = 0; i < fed.size(); ++i) {
        const FedInterface& f = fed[i];
        if (!listsAddresses(f)) continue;
        auto* a = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(take(sizeof(IP_ADAPTER_ADDRESSES)));
        if (previous) previous->Next = a;
        previous = a;
        a->Length = sizeof(IP_ADAPTER_ADDRESSES);
        a->IfIndex = static_cast<IF_INDEX>(i + 1);
        a->Luid.Value = f.id;
        a->AdapterName = reinterpret_cast<char*>(take(40));
        snprintf(a->AdapterName, 40, "{fed-%u}", static_cast<unsigned>(i + 1));
        a->FriendlyName = reinterpret_cast<WCHAR*>(take((f.alias.size() + 1) * sizeof(WCHAR)));
        widen(f.alias, a->FriendlyName, static_cast<int>(f.alias.size() + 1));
        a->Description = reinterpret_cast<WCHAR*>(take((f.description.size() + 1) * sizeof(WCHAR)));
        widen(f.description, a->Description, static_cast<int>(f.description.size() + 1));
        a->DnsSuffix = reinterpret_cast<WCHAR*>(take(sizeof(WCHAR)));
        a->IfType = f.type;
        a->OperStatus = f.up ? IfOperStatusUp : IfOperStatusDown;
        a->Mtu = 1500;
        a->Ipv4Metric = a->Ipv6Metric = static_cast<ULONG>(f.metric);
        IP_ADAPTER_UNICAST_ADDRESS* last = nullptr;
        for (const FedAddress& fa : f.addresses) {
            if (fa.v6) a->Ipv6IfIndex = a->IfIndex;
            a->Flags |= fa.v6 ? IP_ADAPTER_IPV6_ENABLED : IP_ADAPTER_IPV4_ENABLED;
            if (!familyWanted(family, fa.v6)) continue;
            auto* u = reinterpret_cast<IP_ADAPTER_UNICAST_ADDRESS*>(take(sizeof(IP_ADAPTER_UNICAST_ADDRESS)));
            auto* socket = take(sizeof(sockaddr_in6));
            if (fa.v6) {
                auto* in6 = reinterpret_cast<sockaddr_in6*>(socket);
                in6->sin6_family = AF_INET6;
                memcpy(&in6->sin6_addr, fa.bytes, 16);
                u->Address.iSockaddrLength = sizeof(sockaddr_in6);
            } else {
                auto* in4 = reinterpret_cast<sockaddr_in*>(socket);
                in4->sin_family = AF_INET;
                memcpy(&in4->sin_addr, fa.bytes, 4);
                u->Address.iSockaddrLength = sizeof(sockaddr_in);
            }
            u->Length = sizeof(IP_ADAPTER_UNICAST_ADDRESS);
            u->Address.lpSockaddr = reinterpret_cast<SOCKADDR*>(socket);
            u->PrefixOrigin = IpPrefixOriginManual;
            u->SuffixOrigin = fa.temporary ? IpSuffixOriginRandom : IpSuffixOriginManual;
            u->DadState = fa.deprecated ? IpDadStateDeprecated : IpDadStatePreferred;
            u->ValidLifetime = u->LeaseLifetime = 0xFFFFFFFF;
            u->PreferredLifetime = fa.deprecated ? 0 : 0xFFFFFFFF;
            u->OnLinkPrefixLength = static_cast<UINT8>(fa.prefix);
            if (flags & GAA_FLAG_SKIP_UNICAST) continue;
            if (last)
                last->Next = u;
            else
                a->FirstUnicastAddress = u;
            last = u;
        }
    }
    return NO_ERROR;
}

bool samePrefix(const uint8_t* a, const uint8_t* b, unsigned bits) {
    for (unsigned i = 0; i < bits; ++i) {
        const unsigned mask = 0x80u >> (i % 8);
        if ((a[i / 8] & mask) != (b[i / 8] & mask)) return false;
    }
    return true;
}

// As the route table of the fed interfaces answers: a destination on an up interface's own prefix
// leaves by it (the longest prefix first), the loopback's by the loopback, any other by the up
// interface with a default route of the family at the lowest metric (the first of equal ones).
DWORD bestFedInterface(bool v6, const uint8_t* destination, PDWORD index) {
    if (!index) return ERROR_INVALID_PARAMETER;
    int best = -1;
    unsigned bestPrefix = 0;
    const bool loopback = v6 ? (std::all_of(destination, destination + 15, [](uint8_t b) { return b == 0; }) &&
                                destination[15] == 1)
                             : destination[0] == 127;
    for (size_t i = 0; i < fed.size(); ++i) {
        const FedInterface& f = fed[i];
        if (!f.up) continue;
        if (loopback && f.type == IF_TYPE_SOFTWARE_LOOPBACK) {
            *index = static_cast<DWORD>(i + 1);
            return NO_ERROR;
        }
        for (const FedAddress& a : f.addresses)
            if (a.v6 == v6 && a.prefix > bestPrefix && samePrefix(a.bytes, destination, a.prefix)) {
                best = static_cast<int>(i);
                bestPrefix = a.prefix;
            }
    }
    if (best < 0) {
        for (size_t i = 0; i < fed.size(); ++i) {
            const FedInterface& f = fed[i];
            if (!f.up || !(v6 ? f.gateway6 : f.gateway4)) continue;
            if (best < 0 || f.metric < fed[static_cast<size_t>(best)].metric) best = static_cast<int>(i);
        }
    }
    if (best < 0) return ERROR_NETWORK_UNREACHABLE;
    *index = static_cast<DWORD>(best + 1);
    return NO_ERROR;
}

DWORD WINAPI fedGetBestInterface(IPAddr destination, PDWORD index) {
    if (!feeding)
        return reinterpret_cast<GetBestInterfaceFn>(systemFunction("GetBestInterface"))(destination, index);
    uint8_t bytes[4];
    memcpy(bytes, &destination, 4);
    return bestFedInterface(false, bytes, index);
}

DWORD WINAPI fedGetBestInterfaceEx(struct sockaddr* destination, PDWORD index) {
    if (!feeding)
        return reinterpret_cast<GetBestInterfaceExFn>(systemFunction("GetBestInterfaceEx"))(destination, index);
    if (!destination) return ERROR_INVALID_PARAMETER;
    if (destination->sa_family == AF_INET)
        return bestFedInterface(false, reinterpret_cast<const uint8_t*>(&reinterpret_cast<sockaddr_in*>(destination)->sin_addr),
                                index);
    if (destination->sa_family == AF_INET6)
        return bestFedInterface(true, reinterpret_cast<const uint8_t*>(&reinterpret_cast<sockaddr_in6*>(destination)->sin6_addr),
                                index);
    return ERROR_INVALID_PARAMETER;
}

// "192.168.1.20" or "192.168.1.20/24".
bool parseIpv4(const std::string& text, FedAddress* address) {
    unsigned b[4], prefix = 0;
    char end = 0;
    const int fields = sscanf(text.c_str(), "%u.%u.%u.%u/%u%c", &b[0], &b[1], &b[2], &b[3], &prefix, &end);
    if (fields != 4 && fields != 5) return false;
    if (b[0] > 255 || b[1] > 255 || b[2] > 255 || b[3] > 255 || prefix > 32) return false;
    if (fields == 4 && text.find_first_not_of("0123456789.") != std::string::npos) return false;
    for (int i = 0; i < 4; ++i) address->bytes[i] = static_cast<uint8_t>(b[i]);
    address->prefix = prefix;
    return true;
}

// "2001:db8::5" or "2001:db8::5/64": groups of hexadecimal digits, "::" once for a run of zeros.
bool parseIpv6(const std::string& text, FedAddress* address) {
    std::string body = text;
    const size_t slash = text.find('/');
    if (slash != std::string::npos) {
        uint64_t prefix = 0;
        if (!parseTableNumber(text.substr(slash + 1), &prefix) || prefix > 128) return false;
        address->prefix = static_cast<unsigned>(prefix);
        body = text.substr(0, slash);
    }
    std::vector<unsigned> head, tail;
    std::vector<unsigned>* groups = &head;
    size_t at = 0;
    bool gap = false;
    if (body.compare(0, 2, "::") == 0) {
        gap = true;
        groups = &tail;
        at = 2;
    }
    while (at < body.size()) {
        size_t end = at;
        while (end < body.size() && isxdigit(static_cast<unsigned char>(body[end]))) ++end;
        if (end == at || end - at > 4) return false;
        groups->push_back(static_cast<unsigned>(strtoul(body.substr(at, end - at).c_str(), nullptr, 16)));
        if (end == body.size()) break;
        if (body[end] != ':') return false;
        if (end + 1 < body.size() && body[end + 1] == ':') {
            if (gap) return false;
            gap = true;
            groups = &tail;
            ++end;
        }
        at = end + 1;
    }
    if (head.size() + tail.size() > (gap ? 7u : 8u) || (!gap && head.size() != 8)) return false;
    std::vector<unsigned> all = head;
    all.resize(8 - tail.size(), 0);
    all.insert(all.end(), tail.begin(), tail.end());
    for (int i = 0; i < 8; ++i) {
        address->bytes[2 * i] = static_cast<uint8_t>(all[i] >> 8);
        address->bytes[2 * i + 1] = static_cast<uint8_t>(all[i]);
    }
    address->v6 = true;
    return true;
}

// A comma-separated list of addresses of one kind.
bool parseAddresses(const std::string& key, const std::string& value, FedInterface* f) {
    const bool v6 = key != "ipv4";
    size_t at = 0;
    while (at <= value.size()) {
        size_t end = value.find(',', at);
        if (end == std::string::npos) end = value.size();
        FedAddress address;
        if (!(v6 ? parseIpv6(value.substr(at, end - at), &address) : parseIpv4(value.substr(at, end - at), &address)))
            return false;
        address.temporary = key == "ipv6-temporary";
        address.deprecated = key == "ipv6-deprecated";
        f->addresses.push_back(address);
        at = end + 1;
    }
    return true;
}

bool parseInterface(const std::string& line, FedInterface* f, std::string* error) {
    size_t at = 0;
    std::string key, value;
    bool bad = false;
    while (!bad && nextTableField(line, &at, &key, &value)) {
        uint64_t n = 0;
        if (key == "alias") {
            f->alias = value;
            continue;
        }
        if (key == "description") {
            f->description = value;
            continue;
        }
        if (key == "ipv4" || key == "ipv6" || key == "ipv6-temporary" || key == "ipv6-deprecated") {
            bad = !parseAddresses(key, value, f);
            continue;
        }
        if (key == "gateway" || key == "gateway6") {
            FedAddress gateway;
            bad = !(key == "gateway" ? parseIpv4(value, &gateway) : parseIpv6(value, &gateway));
            (key == "gateway" ? f->gateway4 : f->gateway6) = true;
            continue;
        }
        uint64_t* numbers[] = {&f->id, &f->speed, &f->in, &f->out, &f->inRate, &f->outRate, &f->metric};
        const char* names[] = {"id", "speed", "in", "out", "in-rate", "out-rate", "metric"};
        bool known = false;
        for (size_t i = 0; i < 7 && !known; ++i)
            if (key == names[i] && parseTableNumber(value, numbers[i])) known = true;
        if (!known && parseTableNumber(value, &n)) {
            known = true;
            if (key == "type") f->type = static_cast<DWORD>(n);
            else if (key == "up") f->up = n != 0;
            else if (key == "hardware") f->hardware = n != 0;
            else if (key == "filter") f->filter = n != 0;
            else known = false;
        }
        bad = !known;
    }
    while (at < line.size() && (line[at] == ' ' || line[at] == '\t')) ++at;
    if (bad || at < line.size()) {
        *error = "cannot read the interface \"" + line + "\"";
        return false;
    }
    return true;
}

std::string narrow(const WCHAR* text) {
    char out[4 * (IF_MAX_STRING_SIZE + 1)];
    if (WideCharToMultiByte(CP_ACP, 0, text, -1, out, sizeof out, nullptr, nullptr) == 0) out[0] = 0;
    return out;
}

}  // namespace

// One "key=value" field; a value in double quotes may hold blanks.
bool nextTableField(const std::string& line, size_t* at, std::string* key, std::string* value) {
    while (*at < line.size() && (line[*at] == ' ' || line[*at] == '\t')) ++*at;
    if (*at >= line.size()) return false;
    const size_t equals = line.find('=', *at);
    if (equals == std::string::npos) return false;
    *key = line.substr(*at, equals - *at);
    size_t end;
    if (equals + 1 < line.size() && line[equals + 1] == '"') {
        end = line.find('"', equals + 2);
        if (end == std::string::npos) return false;
        *value = line.substr(equals + 2, end - equals - 2);
        ++end;
    } else {
        end = line.find_first_of(" \t", equals);
        if (end == std::string::npos) end = line.size();
        *value = line.substr(equals + 1, end - equals - 1);
    }
    *at = end;
    return true;
}

bool parseTableNumber(const std::string& text, uint64_t* value) {
    if (text.empty()) return false;
    char* end = nullptr;
    *value = strtoull(text.c_str(), &end, 0);
    return end && *end == '\0';
}

bool readTableLines(const char* file, const char* table, std::vector<std::string>* lines, std::string* error) {
    std::string text;
    if (!hostrc::readWholeFile(file, &text)) {
        *error = std::string("cannot read the ") + table + " " + file;
        return false;
    }
    size_t begin = 0;
    while (begin < text.size()) {
        size_t end = text.find('\n', begin);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(begin, end - begin);
        begin = end + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty() && line[0] != '#') lines->push_back(line);
    }
    return true;
}

bool loadNetTable(const char* file, std::string* error) {
    std::vector<std::string> lines;
    if (!readTableLines(file, "interface table", &lines, error)) return false;
    std::vector<FedInterface> rows;
    for (const std::string& line : lines) {
        FedInterface f;
        if (!parseInterface(line, &f, error)) return false;
        rows.push_back(f);
    }
    // An interface of the table fed so far goes on from its counters now, as a real one does when
    // only its rates change.
    const ULONGLONG now = GetTickCount64();
    for (FedInterface& f : rows)
        for (const FedInterface& before : fed)
            if (feeding && before.id == f.id) {
                f.in = counterNow(before.in, before.inRate);
                f.out = counterNow(before.out, before.outRate);
            }
    fed = rows;
    fedSince = now;
    feeding = true;
    logLine("net-table %s: %u interfaces", quoted(file).c_str(), static_cast<unsigned>(fed.size()));
    return true;
}

void installNetTableFeed(HMODULE plugin) {
    importpatch::patchImport(plugin, "iphlpapi.dll", "GetIfTable", reinterpret_cast<void*>(systemFunction("GetIfTable")),
                             reinterpret_cast<void*>(fedGetIfTable));
    importpatch::patchImport(plugin, "iphlpapi.dll", "GetAdaptersAddresses",
                             reinterpret_cast<void*>(systemFunction("GetAdaptersAddresses")),
                             reinterpret_cast<void*>(fedGetAdaptersAddresses));
    importpatch::patchImport(plugin, "iphlpapi.dll", "GetBestInterface",
                             reinterpret_cast<void*>(systemFunction("GetBestInterface")),
                             reinterpret_cast<void*>(fedGetBestInterface));
}

FARPROC netTableLookup(const char* name) {
    // Always the host's own: a table loaded by a later step reaches a plugin that looked them up
    // at its start. Without a table they hand every call to the system.
    if (!name || !systemFunction(name)) return nullptr;
    if (strcmp(name, "GetIfTable2") == 0) return reinterpret_cast<FARPROC>(fedGetIfTable2);
    if (strcmp(name, "FreeMibTable") == 0) return reinterpret_cast<FARPROC>(fedFreeMibTable);
    if (strcmp(name, "GetBestInterfaceEx") == 0) return reinterpret_cast<FARPROC>(fedGetBestInterfaceEx);
    return nullptr;
}

void logInterfaces() {
    PMIB_IF_TABLE2 table = nullptr;
    if ((!feeding && !systemFunction("GetIfTable2")) || fedGetIfTable2(&table) != NO_ERROR || !table) {
        logLine("interfaces: the table cannot be read");
        return;
    }
    for (ULONG i = 0; i < table->NumEntries; ++i) {
        const MIB_IF_ROW2& row = table->Table[i];
        logLine("interface %llx alias=%s description=%s type=%lu up=%d hardware=%d filter=%d in=%llu out=%llu",
                static_cast<unsigned long long>(row.InterfaceLuid.Value), quoted(narrow(row.Alias).c_str()).c_str(),
                quoted(narrow(row.Description).c_str()).c_str(), static_cast<unsigned long>(row.Type),
                row.OperStatus == IfOperStatusUp, row.InterfaceAndOperStatusFlags.HardwareInterface ? 1 : 0,
                row.InterfaceAndOperStatusFlags.FilterInterface ? 1 : 0, static_cast<unsigned long long>(row.InOctets),
                static_cast<unsigned long long>(row.OutOctets));
    }
    fedFreeMibTable(table);
}

}  // namespace host
