// The IP row's choice of interface and address, and the texts of addresses (IPv6 in RFC 5952
// form). No windows.h, so it also builds natively for sanitizers; sampling/ip_sampler.cpp feeds
// it the system's adapters and routes.
#pragma once

#include <cstddef>
#include <cstdint>

#include "sampling/detail_text.h"

// "255.255.255.255" and "ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff", each with its NUL.
constexpr size_t IPV4_TEXT_SIZE = 16;
constexpr size_t IPV6_TEXT_SIZE = 40;

enum IpFamily { IP_FAMILY_V4, IP_FAMILY_V6, IP_FAMILY_BOTH };
// Kelvora.ip.family: "ipv6" and "both" in any letter case; any other text (or none) is IPv4.
IpFamily ipFamilyOf(const char* text);

// One unicast address of an adapter.
struct IpAddress {
    bool v6;
    uint8_t bytes[16];  // network order; an IPv4 address in the first four
    bool deprecated;    // IPv6: its preferred lifetime is over
    bool temporary;     // IPv6: a privacy address with a random suffix
};

// One adapter as the system lists it, its addresses a range of a shared array.
struct IpAdapter {
    const uint16_t* friendlyName;  // UTF-16, ended by a NUL within IP_NAME_UNITS units; may be null
    const uint16_t* description;
    uint32_t ipv4Index;  // the interface index its IPv4 routes name; 0 without IPv4
    uint32_t ipv6Index;  // the same for IPv6; 0 without IPv6
    bool up;
    bool loopback;
    // Carries traffic of its own: not a tunnel, a virtual switch or a filter, by the network
    // sampler's automatic choice. Read only where no default route decides.
    bool countsByItself;
    size_t firstAddress;
    size_t addressCount;
};
constexpr size_t IP_NAME_UNITS = 257;

// The interfaces the routes to an outside address leave by; 0 where there is no such route (or
// no way to ask, as for IPv6 on Windows XP).
struct IpRoutes {
    uint32_t ipv4Index;
    uint32_t ipv6Index;
};

constexpr size_t NO_IP_ADAPTER = SIZE_MAX;

// An address the row may show: IPv4 neither link-local (169.254/16), loopback nor unspecified;
// IPv6 global unicast (not link-local, loopback, unique-local, site-local, multicast or
// IPv4-mapped) and not deprecated.
bool ipAddressShowable(const IpAddress& address);
// Of an adapter's addresses of one family, the one the row shows: the first showable one, an IPv6
// temporary address only where the adapter has no other. Null where there is none.
const IpAddress* shownAddressOf(const IpAdapter& adapter, const IpAddress* addresses, bool v6);

// The adapter the row follows. A wanted name (UTF-16, NUL-ended; empty or null for the automatic
// choice) picks the first adapter whose whole friendly name matches it, else the first whose
// description does, letters A to Z compared without case; NO_IP_ADAPTER where none does or it is
// down. The automatic choice takes the adapter the default route leaves by (the IPv6 route for
// IPv6 where the system names one, else the IPv4 route), where it is up and has a showable
// address of the family; else the first adapter that is up, no loopback, counts by itself and
// has one. For "both" the IPv4 address decides, and IPv6 where the adapter has no IPv4 at all.
size_t routeAdapter(const IpAdapter* adapters, size_t count, const IpAddress* addresses, const IpRoutes& routes,
                    IpFamily family);
size_t namedAdapter(const IpAdapter* adapters, size_t count, const uint16_t* wanted);
size_t fallbackAdapter(const IpAdapter* adapters, size_t count, const IpAddress* addresses, IpFamily family);

// "192.168.1.20"; RFC 5952 for IPv6: lower case, no leading zeros, the longest run of two or more
// zero groups (the first of equal runs) as "::".
void formatIpAddress(const IpAddress& address, char* text, size_t size);

// The row's text for the chosen adapter: its address of the family, "n/a" without one. For
// "both", the IPv4 address and the IPv6 one after it where the two fit the room (fits answers
// whether a text fits the row), else the IPv4 alone; an adapter with one family shows that one.
typedef bool (*IpTextFits)(void* context, const char* text);
void ipRowText(const IpAdapter* adapter, const IpAddress* addresses, IpFamily family, IpTextFits fits,
               void* context, char* text, size_t size);

// The tooltip's line of an adapter: its name (UTF-8), its addresses as the system lists them
// (IPv4 first, every one; then IPv6, all but the link-local ones) and "(default route)" on the
// adapter the default route leaves by.
void addIpAdapterLine(DetailText& detail, const char* name, const IpAdapter& adapter, const IpAddress* addresses,
                      bool defaultRoute);
