// The IP row: the adapters' addresses and the default route's interface from the IP Helper, turned
// into the portable form of sampling/ip_choice.cpp, which picks the adapter and the address.
#include "sampling/ip_sampler.h"

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "config/panel_model.h"
#include "sampling/ip_choice.h"
#include "sampling/net_sampler.h"
#include "sampling/net_traffic.h"
#include "sampling/samplers.h"

namespace {

IpPlatform systemPlatform = {GetAdaptersAddresses, GetBestInterface, nullptr};
const IpPlatform* installedPlatform = nullptr;
bool socketsStarted = false;

// Kept from reading to reading; each grows only when the system's list outgrows it.
IP_ADAPTER_ADDRESSES* listBuffer = nullptr;
ULONG listSize = 0;
IpAdapter* adapters = nullptr;
const IP_ADAPTER_ADDRESSES** adapterSources = nullptr;  // each adapter's record in the list
size_t adapterCapacity = 0, sourceCapacity = 0, adapterCount = 0;
IpAddress* addresses = nullptr;
size_t addressCapacity = 0, addressCount = 0;

template <typename T>
bool growArray(T*& array, size_t& capacity, size_t count) {
    if (count <= capacity) return true;
    const size_t grown = count + count / 2 + 8;
    if (grown > SIZE_MAX / sizeof(T)) return false;
    T* bigger = static_cast<T*>(realloc(array, grown * sizeof(T)));
    if (!bigger) return false;
    array = bigger;
    capacity = grown;
    return true;
}

// No anycast, multicast or DNS server lists: the row needs the unicast addresses alone.
constexpr ULONG LIST_FLAGS = GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER;

// The system's list into the kept buffer; false when it cannot be read. A machine without
// adapters answers ERROR_NO_DATA: an empty list.
bool fillList(const IpPlatform& platform, ULONG family, bool* empty) {
    *empty = false;
    for (int attempt = 0; attempt < 4; ++attempt) {
        ULONG size = listSize;
        const ULONG answer = platform.getAdaptersAddresses(family, LIST_FLAGS, nullptr, listBuffer, &size);
        if (answer == NO_ERROR) return listBuffer != nullptr;
        if (answer == ERROR_NO_DATA) {
            *empty = true;
            return true;
        }
        if (answer != ERROR_BUFFER_OVERFLOW || size <= listSize || size > IP_ADAPTERS_SIZE_LIMIT) return false;
        // A little more than asked: an address that appears meanwhile needs no second round.
        const ULONG wanted = size + 2048;
        auto* grown = static_cast<IP_ADAPTER_ADDRESSES*>(realloc(listBuffer, wanted));
        if (!grown) return false;
        listBuffer = grown;
        listSize = wanted;
    }
    return false;
}

// Windows XP's records end before the fields that Vista added: a field is read only where the
// record's length covers it.
template <typename Field>
bool recordHas(const IP_ADAPTER_ADDRESSES& a, size_t offset) {
    return a.Length >= offset + sizeof(Field);
}

bool takeAddress(const IP_ADAPTER_UNICAST_ADDRESS& u) {
    const SOCKADDR* s = u.Address.lpSockaddr;
    if (!s) return false;
    IpAddress address = {};
    if (s->sa_family == AF_INET && u.Address.iSockaddrLength >= static_cast<INT>(sizeof(sockaddr_in))) {
        memcpy(address.bytes, &reinterpret_cast<const sockaddr_in*>(s)->sin_addr, 4);
    } else if (s->sa_family == AF_INET6 && u.Address.iSockaddrLength >= static_cast<INT>(sizeof(sockaddr_in6))) {
        address.v6 = true;
        memcpy(address.bytes, &reinterpret_cast<const sockaddr_in6*>(s)->sin6_addr, 16);
        address.deprecated = u.DadState == IpDadStateDeprecated;
        address.temporary = u.SuffixOrigin == IpSuffixOriginRandom;
    } else {
        return false;
    }
    if (!growArray(addresses, addressCapacity, addressCount + 1)) return false;
    addresses[addressCount++] = address;
    return true;
}

bool takeAdapter(const IP_ADAPTER_ADDRESSES& a) {
    if (!growArray(adapters, adapterCapacity, adapterCount + 1) ||
        !growArray(adapterSources, sourceCapacity, adapterCount + 1))
        return false;
    IpAdapter adapter = {};
    adapter.friendlyName = reinterpret_cast<const uint16_t*>(a.FriendlyName);
    adapter.description = reinterpret_cast<const uint16_t*>(a.Description);
    adapter.ipv4Index = a.IfIndex;
    adapter.ipv6Index = recordHas<DWORD>(a, offsetof(IP_ADAPTER_ADDRESSES, Ipv6IfIndex)) ? a.Ipv6IfIndex : 0;
    adapter.up = a.OperStatus == IfOperStatusUp;
    adapter.loopback = a.IfType == IF_TYPE_SOFTWARE_LOOPBACK;
    adapter.firstAddress = addressCount;
    for (const IP_ADAPTER_UNICAST_ADDRESS* u = a.FirstUnicastAddress; u; u = u->Next)
        if (takeAddress(*u)) ++adapter.addressCount;
    adapterSources[adapterCount] = &a;
    adapters[adapterCount++] = adapter;
    return true;
}

// The adapters and addresses of the system's list, in its order; false when it cannot be read.
bool readAdapters(const IpPlatform& platform, ULONG family) {
    adapterCount = addressCount = 0;
    bool empty = false;
    if (!fillList(platform, family, &empty)) return false;
    if (empty) return true;
    for (const IP_ADAPTER_ADDRESSES* a = listBuffer; a; a = a->Next)
        if (!takeAdapter(*a)) return false;
    return true;
}

// An address routes do not treat specially (192.0.2.1 and 2001:db8::1, reserved for
// documentation): the interface named for it is the one the default route leaves by. Nothing is
// sent; the system only looks in its route table.
IpRoutes readRoutes(const IpPlatform& platform, bool withV6) {
    IpRoutes routes = {0, 0};
    const unsigned char outside4[4] = {192, 0, 2, 1};
    IPAddr destination;
    memcpy(&destination, outside4, sizeof destination);
    DWORD index = 0;
    if (platform.getBestInterface(destination, &index) == NO_ERROR) routes.ipv4Index = index;
    if (withV6 && platform.getBestInterfaceEx) {
        sockaddr_in6 outside6 = {};
        outside6.sin6_family = AF_INET6;
        const unsigned char bytes[16] = {0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
        memcpy(&outside6.sin6_addr, bytes, sizeof bytes);
        index = 0;
        if (platform.getBestInterfaceEx(reinterpret_cast<sockaddr*>(&outside6), &index) == NO_ERROR)
            routes.ipv6Index = index;
    }
    return routes;
}

// The description's ASCII letters, for the tunnel test of Windows XP's rule.
void asciiOf(const WCHAR* text, char* out, size_t size) {
    size_t i = 0;
    for (; text && text[i] && i + 1 < size; ++i) out[i] = text[i] < 0x80 ? static_cast<char>(text[i]) : '?';
    out[i] = '\0';
}

// Marks the adapters that carry traffic of their own, by the network sampler's automatic choice:
// from the interface table's hardware and filter marks where the system has GetIfTable2, else by
// Windows XP's rule (Ethernet, wireless and PPP adapters whose description names no tunnel).
void markCountingAdapters() {
    const NetPlatform& net = netPlatform();
    PMIB_IF_TABLE2 table = nullptr;
    const bool withTable = net.getIfTable2 && net.getIfTable2(&table) == NO_ERROR && table;
    for (size_t i = 0; i < adapterCount; ++i) {
        const IP_ADAPTER_ADDRESSES& a = *adapterSources[i];
        bool counts = false;
        if (withTable) {
            if (recordHas<NET_LUID>(a, offsetof(IP_ADAPTER_ADDRESSES, Luid)))
                for (ULONG r = 0; r < table->NumEntries && !counts; ++r)
                    counts = table->Table[r].InterfaceLuid.Value == a.Luid.Value && interfaceCountsByItself(table->Table[r]);
        } else {
            char description[MAXLEN_IFDESCR + 1];
            asciiOf(a.Description, description, sizeof description);
            counts = (a.IfType == IF_TYPE_ETHERNET_CSMACD || a.IfType == IF_TYPE_IEEE80211 || a.IfType == IF_TYPE_PPP) &&
                     !describesTunnelAdapter(description, strlen(description));
        }
        adapters[i].countsByItself = counts;
    }
    if (table) net.freeMibTable(table);
}

// The configured name in UTF-16, for comparison with the adapters' names.
void wantedName(WCHAR* out, int size) {
    if (MultiByteToWideChar(CP_ACP, 0, panelModel.ipInterface, -1, out, size) == 0) out[0] = 0;
}

IpFamily rowFamily() { return static_cast<IpFamily>(panelModel.ipFamily); }

size_t chosenAdapter(const IpRoutes& routes) {
    if (panelModel.ipInterface[0]) {
        WCHAR wanted[PATH_SIZE];
        wantedName(wanted, PATH_SIZE);
        return namedAdapter(adapters, adapterCount, reinterpret_cast<const uint16_t*>(wanted));
    }
    const size_t routed = routeAdapter(adapters, adapterCount, addresses, routes, rowFamily());
    if (routed != NO_IP_ADAPTER) return routed;
    markCountingAdapters();
    return fallbackAdapter(adapters, adapterCount, addresses, rowFamily());
}

// Whether the row's caption, a blank and the text fit between the row's text start and its
// right edge, in the panel's font.
bool fitsIpRow(void*, const char* text) {
    const InfoItem& item = panelModel.items[ITEM_IP];
    const int64_t room = int64_t{item.right} - (int64_t{item.left} + item.tab_x);
    HDC dc = CreateCompatibleDC(nullptr);
    if (!dc) return false;
    HGDIOBJ previous = panelModel.font ? SelectObject(dc, panelModel.font) : nullptr;
    SIZE caption = {0, 0}, blank = {0, 0}, value = {0, 0};
    GetTextExtentPoint32A(dc, item.caption, static_cast<int>(strnlen(item.caption, sizeof item.caption)), &caption);
    GetTextExtentPoint32A(dc, " ", 1, &blank);
    const bool measured = GetTextExtentPoint32A(dc, text, static_cast<int>(strlen(text)), &value) != 0;
    if (previous) SelectObject(dc, previous);
    DeleteDC(dc);
    return measured && int64_t{caption.cx} + blank.cx + value.cx <= room;
}

void utf8Of(const WCHAR* text, char* out, int size) {
    const int written = text ? WideCharToMultiByte(CP_UTF8, 0, text, -1, out, size, nullptr, nullptr) : 0;
    if (written <= 0) out[0] = '\0';
    out[size - 1] = '\0';
}

}  // namespace

const IpPlatform& ipPlatform() { return installedPlatform ? *installedPlatform : systemPlatform; }

void installIpPlatform(const IpPlatform* platform) { installedPlatform = platform; }

void lookUpIpRoutes() {
    // GetAdaptersAddresses, which every system has, is imported; the module is therefore loaded.
    systemPlatform.getBestInterfaceEx = reinterpret_cast<decltype(IpPlatform::getBestInterfaceEx)>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("iphlpapi.dll"), "GetBestInterfaceEx")));
}

void noteSocketsStarted(bool started) { socketsStarted = started; }

void CALLBACK sampleIp(HWND, UINT, UINT_PTR, DWORD) {
    panelModel.ipRestart = false;
    char text[VALUE_SIZE] = "n/a";
    const IpPlatform& platform = ipPlatform();
    const bool withV6 = rowFamily() != IP_FAMILY_V4;
    if (socketsStarted && readAdapters(platform, withV6 ? AF_UNSPEC : AF_INET)) {
        const size_t chosen = chosenAdapter(readRoutes(platform, withV6));
        ipRowText(chosen == NO_IP_ADAPTER ? nullptr : &adapters[chosen], addresses, rowFamily(), fitsIpRow, nullptr,
                  text, sizeof text);
    }
    showRowValue(ITEM_IP, text);
}

void describeIpInterfaces(DetailText& detail) {
    const IpPlatform& platform = ipPlatform();
    if (!readAdapters(platform, AF_UNSPEC)) {
        addLine(detail, "Addresses: n/a");
        return;
    }
    const IpRoutes routes = readRoutes(platform, true);
    int shown = 0;
    for (size_t i = 0; i < adapterCount; ++i) {
        const IpAdapter& a = adapters[i];
        if (!a.up || a.loopback) continue;
        char name[3 * IP_NAME_UNITS];
        utf8Of(adapterSources[i]->FriendlyName, name, sizeof name);
        const bool defaultRoute = (routes.ipv4Index && a.ipv4Index == routes.ipv4Index) ||
                                  (routes.ipv6Index && a.ipv6Index == routes.ipv6Index);
        addIpAdapterLine(detail, name, a, addresses, defaultRoute);
        ++shown;
    }
    if (shown == 0) addLine(detail, "No interface is up");
    const size_t chosen = chosenAdapter(routes);
    char name[3 * IP_NAME_UNITS] = "";
    if (chosen != NO_IP_ADAPTER) utf8Of(adapterSources[chosen]->FriendlyName, name, sizeof name);
    addLine(detail, "The row follows: %s", chosen != NO_IP_ADAPTER ? name : "no interface");
}

void releaseIpSampler() {
    free(listBuffer);
    listBuffer = nullptr;
    listSize = 0;
    free(adapters);
    adapters = nullptr;
    free(adapterSources);
    adapterSources = nullptr;
    adapterCapacity = sourceCapacity = adapterCount = 0;
    free(addresses);
    addresses = nullptr;
    addressCapacity = addressCount = 0;
}
