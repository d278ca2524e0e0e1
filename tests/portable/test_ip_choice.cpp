// The IP row's choice on synthetic adapter lists: the default route over the list's order, link-local,
// loopback, tunnels and virtual switches, named and down adapters, IPv6 texts and "both".
#include <initializer_list>
#include <string>
#include <vector>

#include "doctest.h"
#include "sampling/ip_choice.h"

namespace {

IpAddress v4(uint8_t a, uint8_t b, uint8_t c, uint8_t d) {
    IpAddress address = {};
    address.bytes[0] = a;
    address.bytes[1] = b;
    address.bytes[2] = c;
    address.bytes[3] = d;
    return address;
}

IpAddress v6(std::initializer_list<unsigned> groups, bool temporary = false, bool deprecated = false) {
    IpAddress address = {};
    address.v6 = true;
    int i = 0;
    for (unsigned g : groups) {
        address.bytes[2 * i] = static_cast<uint8_t>(g >> 8);
        address.bytes[2 * i + 1] = static_cast<uint8_t>(g);
        ++i;
    }
    address.temporary = temporary;
    address.deprecated = deprecated;
    return address;
}

std::string text(const IpAddress& address) {
    char out[IPV6_TEXT_SIZE];
    formatIpAddress(address, out, sizeof out);
    return out;
}

std::u16string utf16(const char* text) { return std::u16string(text, text + std::char_traits<char>::length(text)); }

// A machine as GetAdaptersAddresses lists it; each adapter with its own addresses.
struct Machine {
    struct Entry {
        std::u16string name, description;
        uint32_t index;
        bool up, loopback, counts;
        std::vector<IpAddress> addresses;
    };
    std::vector<Entry> entries;
    std::vector<IpAdapter> adapters;
    std::vector<IpAddress> addresses;

    Machine& add(const char* name, const char* description, uint32_t index, std::vector<IpAddress> list, bool up = true,
                 bool counts = true, bool loopback = false) {
        entries.push_back({utf16(name), utf16(description), index, up, loopback, counts, std::move(list)});
        return *this;
    }
    void build() {
        adapters.clear();
        addresses.clear();
        for (const Entry& e : entries) {
            IpAdapter a = {};
            a.friendlyName = reinterpret_cast<const uint16_t*>(e.name.c_str());
            a.description = reinterpret_cast<const uint16_t*>(e.description.c_str());
            a.ipv4Index = a.ipv6Index = e.index;
            a.up = e.up;
            a.loopback = e.loopback;
            a.countsByItself = e.counts;
            a.firstAddress = addresses.size();
            a.addressCount = e.addresses.size();
            addresses.insert(addresses.end(), e.addresses.begin(), e.addresses.end());
            adapters.push_back(a);
        }
    }
    // The adapter and text the sampler would show, by its order of choice.
    std::string row(IpRoutes routes, IpFamily family = IP_FAMILY_V4, const char* wanted = "", bool fits = true) {
        build();
        const std::u16string name = utf16(wanted);
        size_t at = wanted[0] ? namedAdapter(adapters.data(), adapters.size(), reinterpret_cast<const uint16_t*>(name.c_str()))
                              : routeAdapter(adapters.data(), adapters.size(), addresses.data(), routes, family);
        if (!wanted[0] && at == NO_IP_ADAPTER) at = fallbackAdapter(adapters.data(), adapters.size(), addresses.data(), family);
        char out[52];
        fitsAnswer = fits;
        ipRowText(at == NO_IP_ADAPTER ? nullptr : &adapters[at], addresses.data(), family, answerFits, this, out,
                  sizeof out);
        return out;
    }
    bool fitsAnswer = true;
    std::string lastAsked;
    static bool answerFits(void* context, const char* text) {
        auto* machine = static_cast<Machine*>(context);
        machine->lastAsked = text;
        return machine->fitsAnswer;
    }
};

// WSL 2 and Hyper-V: the virtual switches listed before the adapter that carries the default route.
Machine wslMachine() {
    Machine m;
    m.add("Loopback Pseudo-Interface 1", "Software Loopback Interface 1", 1, {v4(127, 0, 0, 1), v6({0, 0, 0, 0, 0, 0, 0, 1})},
          true, false, true)
        .add("vEthernet (WSL)", "Hyper-V Virtual Ethernet Adapter", 31, {v4(172, 22, 16, 1)}, true, false)
        .add("vEthernet (Default Switch)", "Hyper-V Virtual Ethernet Adapter #2", 24, {v4(172, 30, 64, 1)}, true, false)
        .add("Wi-Fi", "Intel(R) Wi-Fi 6 AX201 160MHz", 12,
             {v6({0xfe80, 0, 0, 0, 0x1c2d, 0x3e4f, 0x5a6b, 0x7c8d}), v4(169, 254, 10, 20), v4(192, 168, 1, 20),
              v6({0x2a02, 0x810d, 0x4b3f, 0xe100, 0x3d5c, 0x9a7e, 0x11b2, 0x4c0f}, true),
              v6({0x2a02, 0x810d, 0x4b3f, 0xe100, 0, 0, 0, 0x14})})
        .add("Ethernet", "Intel(R) Ethernet Connection I219-V", 7, {v4(10, 0, 0, 5)}, false);
    return m;
}

}  // namespace

TEST_CASE("the default route's adapter wins over the list's order; without a route the first physical adapter") {
    Machine m = wslMachine();
    CHECK(m.row({12, 12}) == "192.168.1.20");  // not the virtual switch listed first, nor 169.254
    CHECK(m.row({31, 0}) == "172.22.16.1");    // a route through the switch is followed
    // A VPN takes the default route: its address.
    m.add("NordLynx", "NordLynx Tunnel", 40, {v4(10, 5, 0, 2)}, true, false);
    CHECK(m.row({40, 40}) == "10.5.0.2");
    // No default route: the switches, the loopback and the tunnel do not count by themselves.
    CHECK(m.row({0, 0}) == "192.168.1.20");
    // The route names an adapter that is down, or one with only link-local addresses.
    CHECK(m.row({7, 7}) == "192.168.1.20");
    Machine linkLocal;
    linkLocal.add("Ethernet", "e", 3, {v4(169, 254, 1, 1)}).add("Wi-Fi", "w", 4, {v4(192, 168, 0, 9)});
    CHECK(linkLocal.row({3, 3}) == "192.168.0.9");
    // Nothing at all, or only the loopback: n/a.
    CHECK(Machine().row({0, 0}) == "n/a");
    Machine loopbackOnly;
    loopbackOnly.add("Loopback", "Software Loopback Interface 1", 1, {v4(127, 0, 0, 1)}, true, true, true);
    CHECK(loopbackOnly.row({1, 1}) == "n/a");
}

TEST_CASE("a named adapter by friendly name or description in any case; absent or down is n/a") {
    Machine m = wslMachine();
    CHECK(m.row({12, 12}, IP_FAMILY_V4, "VETHERNET (WSL)") == "172.22.16.1");
    CHECK(m.row({12, 12}, IP_FAMILY_V4, "hyper-v virtual ethernet adapter #2") == "172.30.64.1");
    CHECK(m.row({12, 12}, IP_FAMILY_V4, "vEthernet") == "n/a");  // whole names only
    CHECK(m.row({12, 12}, IP_FAMILY_V4, "Ethernet") == "n/a");   // down
    CHECK(m.row({12, 12}, IP_FAMILY_V4, "Ethernet 7") == "n/a");
}

TEST_CASE("IPv6: the global address, a temporary one only when alone, never deprecated or local ones") {
    Machine m = wslMachine();
    CHECK(m.row({12, 12}, IP_FAMILY_V6) == "2a02:810d:4b3f:e100::14");
    Machine privacy;
    privacy.add("Wi-Fi", "w", 5,
                {v6({0xfd00, 0, 0, 0, 0, 0, 0, 5}), v6({0x2001, 0xdb8, 0, 0, 0, 0, 0, 0x99}, false, true),
                 v6({0x2001, 0xdb8, 1, 0, 0xa, 0, 0, 0xb}, true), v6({0xfec0, 0, 0, 0, 0, 0, 0, 1}),
                 v6({0, 0, 0, 0, 0, 0xffff, 0xc000, 0x0201})});
    CHECK(privacy.row({5, 5}, IP_FAMILY_V6) == "2001:db8:1:0:a::b");
    CHECK(privacy.row({5, 5}, IP_FAMILY_V4) == "n/a");
    // Without the IPv6 route (Windows XP's functions) the IPv4 route's adapter; the IPv6 route
    // where the system names it.
    Machine two = wslMachine();
    two.add("Ethernet 2", "Realtek USB GbE", 9, {v4(10, 1, 1, 1), v6({0x2001, 0xdb8, 0, 0, 0, 0, 0, 2})});
    CHECK(two.row({12, 0}, IP_FAMILY_V6) == "2a02:810d:4b3f:e100::14");
    CHECK(two.row({12, 9}, IP_FAMILY_V6) == "2001:db8::2");
    CHECK(two.row({12, 9}, IP_FAMILY_V4) == "192.168.1.20");
}

TEST_CASE("IPv6 texts in RFC 5952 form") {
    const struct {
        IpAddress address;
        const char* text;
    } cases[] = {
        {v6({0x2001, 0xdb8, 0, 0, 0, 0, 0, 1}), "2001:db8::1"},
        {v6({0x2001, 0xdb8, 0, 1, 1, 1, 1, 1}), "2001:db8:0:1:1:1:1:1"},  // one zero group stays
        {v6({0x2001, 0xdb8, 0, 0, 1, 0, 0, 1}), "2001:db8::1:0:0:1"},     // the first of equal runs
        {v6({0x2001, 0, 0, 1, 0, 0, 0, 1}), "2001:0:0:1::1"},             // the longest run
        {v6({0x2001, 0xDB8, 0xABCD, 0x0012, 0, 0, 0, 0}), "2001:db8:abcd:12::"},
        {v6({0, 0, 0, 0, 0, 0, 0, 0}), "::"},
        {v6({0, 0, 0, 0, 0, 0, 0, 1}), "::1"},
        {v6({0, 0, 0, 0, 1, 0, 0, 0}), "::1:0:0:0"},
        {v6({0xffff, 0xffff, 0xffff, 0xffff, 0xffff, 0xffff, 0xffff, 0xffff}), "ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff"},
        {v4(255, 255, 255, 255), "255.255.255.255"},
        {v4(0, 0, 0, 0), "0.0.0.0"},
    };
    for (const auto& c : cases) CHECK(text(c.address) == c.text);
    char small[8];
    formatIpAddress(v6({0x2001, 0xdb8, 0, 0, 0, 0, 0, 1}), small, sizeof small);
    CHECK(std::string(small) == "2001:db");  // cut, never past the buffer
}

TEST_CASE("both: IPv4 and IPv6 where the two fit the row, else IPv4 alone; one family alone shows that one") {
    Machine m = wslMachine();
    CHECK(m.row({12, 12}, IP_FAMILY_BOTH) == "192.168.1.20 2a02:810d:4b3f:e100::14");
    CHECK(m.lastAsked == "192.168.1.20 2a02:810d:4b3f:e100::14");
    CHECK(m.row({12, 12}, IP_FAMILY_BOTH, "", false) == "192.168.1.20");
    // The longest pair does not fit the 52-byte value whole: the IPv4 alone, never a cut IPv6.
    Machine wide;
    wide.add("Ethernet", "e", 2,
             {v4(203, 113, 255, 254), v6({0x2a02, 0x810d, 0x4b3f, 0xe100, 0x3d5c, 0x9a7e, 0x11b2, 0x4c0f})});
    wide.lastAsked.clear();
    CHECK(wide.row({2, 2}, IP_FAMILY_BOTH) == "203.113.255.254");
    CHECK(wide.lastAsked.empty());
    Machine onlyV6;
    onlyV6.add("Ethernet", "e", 2, {v4(169, 254, 3, 3), v6({0x2001, 0xdb8, 0, 0, 0, 0, 0, 7})});
    CHECK(onlyV6.row({2, 2}, IP_FAMILY_BOTH) == "2001:db8::7");
    CHECK(ipFamilyOf("IPv6") == IP_FAMILY_V6);
    CHECK(ipFamilyOf("Both") == IP_FAMILY_BOTH);
    CHECK(ipFamilyOf("ipv6 ") == IP_FAMILY_V4);
    CHECK(ipFamilyOf("") == IP_FAMILY_V4);
    CHECK(ipFamilyOf(nullptr) == IP_FAMILY_V4);
}

TEST_CASE("the tooltip's line of an adapter: every IPv4 address, the IPv6 ones but link-local, the route mark") {
    Machine m = wslMachine();
    m.build();
    DetailText detail;
    clearDetail(detail);
    addIpAdapterLine(detail, "Wi-Fi", m.adapters[3], m.addresses.data(), true);
    addIpAdapterLine(detail, "Ethernet", m.adapters[4], m.addresses.data(), false);
    Machine none;
    none.add("Bluetooth", "b", 8, {});
    none.build();
    addIpAdapterLine(detail, "Bluetooth", none.adapters[0], none.addresses.data(), false);
    CHECK(std::string(detail.text) ==
          "Wi-Fi: 169.254.10.20, 192.168.1.20, 2a02:810d:4b3f:e100:3d5c:9a7e:11b2:4c0f, 2a02:810d:4b3f:e100::14 "
          "(default route)\r\nEthernet: 10.0.0.5\r\nBluetooth: no address");
}
