// Which adapter and address the IP row shows, and the texts of addresses.
#include "sampling/ip_choice.h"

#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "sampling/net_traffic.h"

namespace {

bool startsWith(const IpAddress& a, uint8_t first, uint8_t mask) { return (a.bytes[0] & mask) == first; }

bool allZero(const uint8_t* bytes, size_t count) {
    for (size_t i = 0; i < count; ++i)
        if (bytes[i]) return false;
    return true;
}

bool ipv4Showable(const IpAddress& a) {
    const bool linkLocal = a.bytes[0] == 169 && a.bytes[1] == 254;
    return !linkLocal && a.bytes[0] != 127 && !allZero(a.bytes, 4);
}

bool ipv6Showable(const IpAddress& a) {
    if (a.deprecated || allZero(a.bytes, 16)) return false;
    const bool loopback = allZero(a.bytes, 15) && a.bytes[15] == 1;
    const bool linkOrSiteLocal = a.bytes[0] == 0xFE && (a.bytes[1] & 0x80) == 0x80;  // fe80::/10 and fec0::/10
    const bool uniqueLocal = startsWith(a, 0xFC, 0xFE);                             // fc00::/7
    const bool multicast = a.bytes[0] == 0xFF;
    const bool mapped = allZero(a.bytes, 10) && a.bytes[10] == 0xFF && a.bytes[11] == 0xFF;
    return !loopback && !linkOrSiteLocal && !uniqueLocal && !multicast && !mapped;
}

bool ipv6LinkLocal(const IpAddress& a) { return a.bytes[0] == 0xFE && (a.bytes[1] & 0xC0) == 0x80; }

bool hasAddress(const IpAdapter& adapter, const IpAddress* addresses, IpFamily family) {
    if (family == IP_FAMILY_V6) return shownAddressOf(adapter, addresses, true) != nullptr;
    if (family == IP_FAMILY_V4) return shownAddressOf(adapter, addresses, false) != nullptr;
    return shownAddressOf(adapter, addresses, false) || shownAddressOf(adapter, addresses, true);
}

bool nameMatches(const uint16_t* wanted, const uint16_t* name) {
    return name && sameInterfaceName<uint16_t>(wanted, name, IP_NAME_UNITS);
}

size_t adapterWithIndex(const IpAdapter* adapters, size_t count, uint32_t index, bool v6) {
    if (index == 0) return NO_IP_ADAPTER;
    for (size_t i = 0; i < count; ++i)
        if ((v6 ? adapters[i].ipv6Index : adapters[i].ipv4Index) == index) return i;
    return NO_IP_ADAPTER;
}

void appendText(char* text, size_t size, const char* more) {
    const size_t used = strnlen(text, size);
    if (used + 1 < size) snprintf(text + used, size - used, "%s", more);
}

}  // namespace

IpFamily ipFamilyOf(const char* text) {
    auto is = [text](const char* word) {
        for (size_t i = 0;; ++i) {
            const char c = text[i] >= 'A' && text[i] <= 'Z' ? static_cast<char>(text[i] - 'A' + 'a') : text[i];
            if (c != word[i]) return false;
            if (!c) return true;
        }
    };
    if (!text) return IP_FAMILY_V4;
    if (is("ipv6")) return IP_FAMILY_V6;
    if (is("both")) return IP_FAMILY_BOTH;
    return IP_FAMILY_V4;
}

bool ipAddressShowable(const IpAddress& address) {
    return address.v6 ? ipv6Showable(address) : ipv4Showable(address);
}

const IpAddress* shownAddressOf(const IpAdapter& adapter, const IpAddress* addresses, bool v6) {
    const IpAddress* temporary = nullptr;
    for (size_t i = 0; i < adapter.addressCount; ++i) {
        const IpAddress& a = addresses[adapter.firstAddress + i];
        if (a.v6 != v6 || !ipAddressShowable(a)) continue;
        if (!a.temporary) return &a;
        if (!temporary) temporary = &a;
    }
    return temporary;
}

size_t namedAdapter(const IpAdapter* adapters, size_t count, const uint16_t* wanted) {
    if (!wanted || !wanted[0]) return NO_IP_ADAPTER;
    size_t found = NO_IP_ADAPTER;
    for (size_t i = 0; i < count && found == NO_IP_ADAPTER; ++i)
        if (nameMatches(wanted, adapters[i].friendlyName)) found = i;
    for (size_t i = 0; i < count && found == NO_IP_ADAPTER; ++i)
        if (nameMatches(wanted, adapters[i].description)) found = i;
    return found != NO_IP_ADAPTER && adapters[found].up ? found : NO_IP_ADAPTER;
}

size_t routeAdapter(const IpAdapter* adapters, size_t count, const IpAddress* addresses, const IpRoutes& routes,
                    IpFamily family) {
    // The IPv6 route where the row shows IPv6 and the system names it; otherwise the IPv4 route,
    // which Windows XP answers too, and whose adapter most often carries the IPv6 traffic as well.
    const bool byV6 = family == IP_FAMILY_V6 && routes.ipv6Index != 0;
    const size_t at = adapterWithIndex(adapters, count, byV6 ? routes.ipv6Index : routes.ipv4Index, byV6);
    if (at == NO_IP_ADAPTER || !adapters[at].up || !hasAddress(adapters[at], addresses, family)) return NO_IP_ADAPTER;
    return at;
}

size_t fallbackAdapter(const IpAdapter* adapters, size_t count, const IpAddress* addresses, IpFamily family) {
    for (size_t i = 0; i < count; ++i) {
        const IpAdapter& a = adapters[i];
        if (a.up && !a.loopback && a.countsByItself && hasAddress(a, addresses, family)) return i;
    }
    return NO_IP_ADAPTER;
}

void formatIpAddress(const IpAddress& address, char* text, size_t size) {
    if (size == 0) return;
    const uint8_t* b = address.bytes;
    if (!address.v6) {
        snprintf(text, size, "%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
        return;
    }
    unsigned groups[8];
    for (int i = 0; i < 8; ++i) groups[i] = static_cast<unsigned>(b[2 * i] << 8 | b[2 * i + 1]);
    // The longest run of zero groups, the first of equal ones; a single zero group stays "0".
    int runStart = -1, runLength = 0;
    for (int i = 0; i < 8;) {
        if (groups[i] != 0) {
            ++i;
            continue;
        }
        int end = i;
        while (end < 8 && groups[end] == 0) ++end;
        if (end - i > runLength) {
            runStart = i;
            runLength = end - i;
        }
        i = end;
    }
    if (runLength < 2) runStart = -1;
    text[0] = '\0';
    for (int i = 0; i < 8; ++i) {
        if (i == runStart) {
            appendText(text, size, "::");
            i += runLength - 1;
            continue;
        }
        char group[8];
        const bool afterRun = runStart >= 0 && i == runStart + runLength;
        snprintf(group, sizeof group, "%s%x", i == 0 || afterRun ? "" : ":", groups[i]);
        appendText(text, size, group);
    }
}

void ipRowText(const IpAdapter* adapter, const IpAddress* addresses, IpFamily family, IpTextFits fits,
               void* context, char* text, size_t size) {
    if (size == 0) return;
    const IpAddress* v4 = adapter && family != IP_FAMILY_V6 ? shownAddressOf(*adapter, addresses, false) : nullptr;
    const IpAddress* v6 = adapter && family != IP_FAMILY_V4 ? shownAddressOf(*adapter, addresses, true) : nullptr;
    char first[IPV6_TEXT_SIZE], second[IPV6_TEXT_SIZE];
    if (!v4 && !v6) {
        snprintf(text, size, "%s", "n/a");
        return;
    }
    formatIpAddress(v4 ? *v4 : *v6, first, sizeof first);
    if (!v4 || !v6) {
        snprintf(text, size, "%s", first);
        return;
    }
    formatIpAddress(*v6, second, sizeof second);
    // Both only whole: an IPv6 address cut short would name another address.
    const int length = snprintf(text, size, "%s %s", first, second);
    if (length < 0 || static_cast<size_t>(length) >= size || !fits || !fits(context, text))
        snprintf(text, size, "%s", first);
}

void addIpAdapterLine(DetailText& detail, const char* name, const IpAdapter& adapter, const IpAddress* addresses,
                      bool defaultRoute) {
    char line[DETAIL_TEXT_SIZE];
    snprintf(line, sizeof line, "%s:", name);
    bool any = false;
    for (bool v6 : {false, true})
        for (size_t i = 0; i < adapter.addressCount; ++i) {
            const IpAddress& a = addresses[adapter.firstAddress + i];
            // Every adapter has an IPv6 link-local address: listing them says nothing.
            if (a.v6 != v6 || (v6 && ipv6LinkLocal(a))) continue;
            char text[IPV6_TEXT_SIZE];
            formatIpAddress(a, text, sizeof text);
            appendText(line, sizeof line, any ? ", " : " ");
            appendText(line, sizeof line, text);
            any = true;
        }
    if (!any) appendText(line, sizeof line, " no address");
    if (defaultRoute) appendText(line, sizeof line, " (default route)");
    addLine(detail, "%s", line);
}
