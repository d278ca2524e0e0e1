// Network rates from synthetic interface readings: intervals, identities, resets, wraps, link
// speeds and extreme counters, and the texts and name rules the sampler shows and matches with.
#include <string>
#include <vector>

#include "doctest.h"
#include "sampling/net_traffic.h"

namespace {

constexpr uint64_t GIGABIT = 1000000000;

NetInterface row(uint64_t id, uint64_t in, uint64_t out, uint64_t speed = 0, bool counted = true) {
    return NetInterface{id, in, out, speed, speed, counted};
}

struct Reader {
    NetTrafficState state;
    bool counters64 = true;
    ~Reader() { releaseNetTraffic(state); }
    NetOutcome read(uint64_t tick, std::vector<NetInterface> rows, NetRates* rates) {
        return takeNetReading(state, rows.data(), rows.size(), counters64, tick, rates);
    }
    // The rates of a reading that must have an interval to compare with.
    NetRates rates(uint64_t tick, std::vector<NetInterface> rows) {
        NetRates r;
        REQUIRE(read(tick, std::move(rows), &r) == NET_RATES);
        return r;
    }
};

}  // namespace

TEST_CASE("a rate is the bytes since the previous reading per elapsed second, rounded down") {
    Reader r;
    NetRates rates{7, 7};
    CHECK(r.read(5000, {row(1, 100, 100)}, &rates) == NET_FIRST_READING);
    CHECK((rates.down == 0 && rates.up == 0));
    NetRates a = r.rates(6000, {row(1, 100 + 1000000, 100 + 5000)});
    CHECK(a.down == 1000000);
    CHECK(a.up == 5000);
    NetRates b = r.rates(6003, {row(1, 1000110, 5101)});  // 10 bytes in 3 ms
    CHECK(b.down == 3333);
    CHECK(b.up == 333);

    SUBCASE("a reading in the same millisecond changes nothing: the next one counts from the older") {
        CHECK(r.read(6003, {row(1, 9000000, 9000000)}, &rates) == NET_SAME_MILLISECOND);
        NetRates c = r.rates(7003, {row(1, 1000110 + 2000, 5101)});
        CHECK(c.down == 2000);
        CHECK(c.up == 0);
    }
    SUBCASE("a tick count that went back starts afresh") {
        CHECK(r.read(10, {row(1, 2000000, 9000)}, &rates) == NET_FIRST_READING);
        CHECK(r.rates(1010, {row(1, 2000500, 9000)}).down == 500);
    }
    SUBCASE("a forgotten baseline makes the next reading a first one") {
        forgetNetBaseline(r.state);
        CHECK(r.read(9000, {row(1, 5000000, 5000000)}, &rates) == NET_FIRST_READING);
        CHECK(rates.down == 0);
    }
}

TEST_CASE("interfaces are matched by identity: appearing, disappearing and moving rows cause no spike") {
    Reader r;
    NetRates rates;
    r.read(0, {row(10, 1000, 0), row(20, 5000, 0), row(30, 0, 0, 0, false)}, &rates);
    // 20 went away, 40 appeared with a large count, 30 began to count, 10 moved in the table.
    NetRates a = r.rates(1000, {row(40, 900000000, 0), row(30, 777777, 0), row(10, 1500, 0)});
    CHECK(a.down == 500);
    // From their second reading on the new ones count.
    NetRates b = r.rates(2000, {row(10, 1600, 0), row(30, 777877, 0), row(40, 900001000, 0)});
    CHECK(b.down == 100 + 100 + 1000);
    SUBCASE("an id repeated within one reading counts once, with the row listed first") {
        NetRates c = r.rates(3000, {row(10, 1700, 0), row(10, 99999999, 0), row(30, 777877, 0), row(40, 900001000, 0)});
        CHECK(c.down == 100);
    }
    SUBCASE("rows that are not counted take no part") {
        NetRates c = r.rates(3000, {row(10, 1700, 0), row(30, 9999999, 0, 0, false), row(40, 900001000, 0)});
        CHECK(c.down == 100);
    }
}

TEST_CASE("a counter that went down: reset when 64 bits wide, a wrap when 32 bits wide only if the speed allows it") {
    SUBCASE("64-bit counters were reset: that interface counts 0 for the interval") {
        Reader r;
        NetRates rates;
        r.read(0, {row(1, 5000000000ULL, 800, GIGABIT), row(2, 100, 100, GIGABIT)}, &rates);
        NetRates a = r.rates(1000, {row(1, 12, 900, GIGABIT), row(2, 300, 100, GIGABIT)});
        CHECK(a.down == 200);
        CHECK(a.up == 100);
    }
    SUBCASE("a 32-bit wrap at 1 Gbit/s over one second counts the bytes across the wrap") {
        Reader r;
        r.counters64 = false;
        NetRates rates;
        r.read(0, {row(1, 0xFFFFFFFFULL - 99999999, 0, GIGABIT)}, &rates);
        NetRates a = r.rates(1000, {row(1, 20000000, 0, GIGABIT)});
        CHECK(a.down == 120000000);
    }
    SUBCASE("a 32-bit counter that went down further than the link could move is a reset") {
        Reader r;
        r.counters64 = false;
        NetRates rates;
        r.read(0, {row(1, 3000000000ULL, 5, 10000000), row(2, 4000000000ULL, 5, 0)}, &rates);
        NetRates a = r.rates(1000, {row(1, 1000, 5, 10000000), row(2, 1000, 5, 0)});
        CHECK(a.down == 0);
    }
    CHECK(counterDelta(0xFFFFFF00ULL, 0x100, false, GIGABIT, 1000) == 0x200);
    CHECK(counterDelta(0xFFFFFF00ULL, 0x100, true, GIGABIT, 1000) == 0);
}

TEST_CASE("a long gap gives the average over the gap; no interface shows more than its link speed") {
    Reader r;
    NetRates rates;
    r.read(1000, {row(1, 0, 0, 8000000)}, &rates);  // 1 MB/s at most
    const uint64_t gap = 8ULL * 3600 * 1000;       // the machine slept for eight hours
    NetRates a = r.rates(1000 + gap, {row(1, 3600000000ULL, 1000000000000ULL, 8000000)});
    CHECK(a.down == 125000);  // 3.6 GB over 28800 s
    // The upload counter claims 1 TB, more than 1 MB/s could move in the gap.
    CHECK(a.up == 1000000);
    CHECK(bytesPossible(8000000, 1000) == 2000000);
    CHECK(bytesPossible(0, 1000) == UINT64_MAX);

    SUBCASE("a jump of 10^12 bytes in one second on 1 Gbit/s shows the link speed, not twice it") {
        Reader jump;
        jump.read(0, {row(1, 0, 0, GIGABIT), row(2, 0, 0, GIGABIT / 10), row(3, 0, 0)}, &rates);
        NetRates b = jump.rates(1000, {row(1, 1000000000000ULL, 0, GIGABIT), row(2, 1000000000000ULL, 0, GIGABIT / 10),
                                       row(3, 0, 7, 0)});
        CHECK(b.down == 125000000 + 12500000);  // each interface at its own speed
        CHECK(b.up == 7);                       // a speed of 0 caps nothing
        // A shorter interval: the bytes allowed for lateness still decide a wrap, never the rate.
        NetRates c = jump.rates(1250, {row(1, 1000000000000ULL + 100000000, 0, GIGABIT),
                                       row(2, 1000000000000ULL, 0, GIGABIT / 10), row(3, 0, 7, 0)});
        CHECK(c.down == 125000000);
    }
}

TEST_CASE("the totals since the start are the counted bytes of every interval, kept when a baseline is forgotten") {
    Reader r;
    NetRates rates;
    r.read(1000, {row(1, 500, 70), row(2, 9000, 9000, 0, false)}, &rates);
    r.rates(2000, {row(1, 1500, 100), row(2, 99000, 99000, 0, false)});
    forgetNetBaseline(r.state);  // a reload: the first reading after it counts nothing
    r.read(3000, {row(1, 5000, 5000)}, &rates);
    r.rates(4000, {row(1, 5600, 5030)});
    CHECK(r.state.receivedTotal == 1000 + 600);
    CHECK(r.state.sentTotal == 30 + 30);
    releaseNetTraffic(r.state);
    CHECK((r.state.receivedTotal == 0 && r.state.sentTotal == 0));
}

TEST_CASE("extreme counters, intervals and tables stay exact or saturate, never overflow") {
    Reader r;
    NetRates rates;
    r.read(0, {row(1, 0, 0), row(2, 0, 0)}, &rates);
    NetRates a = r.rates(1, {row(1, UINT64_MAX, UINT64_MAX), row(2, UINT64_MAX, 5)});
    CHECK(a.down == INT64_MAX);
    CHECK(a.up == INT64_MAX);
    NetRates b = r.rates(UINT64_MAX, {row(1, UINT64_MAX, UINT64_MAX), row(2, UINT64_MAX, 5)});
    CHECK((b.down == 0 && b.up == 0));
    CHECK(bytesPerSecond(UINT64_MAX, UINT64_MAX) == 1000);
    CHECK(bytesPerSecond(UINT64_MAX - 1, UINT64_MAX) == 999);
    CHECK(bytesPossible(UINT64_MAX, UINT64_MAX) == UINT64_MAX);

    SUBCASE("500 interfaces in reversed order, then a steady table: the buffers stop growing") {
        Reader many;
        std::vector<NetInterface> rows;
        for (uint64_t i = 0; i < 500; ++i) rows.push_back(row(1000 - i, i, 2 * i));
        many.read(0, rows, &rates);
        const size_t capacity = many.state.capacity;
        for (NetInterface& x : rows) {
            x.inOctets += 10;
            x.outOctets += 1;
        }
        NetRates c = many.rates(1000, rows);
        CHECK(c.down == 5000);
        CHECK(c.up == 500);
        CHECK(many.state.capacity == capacity);
    }
}

TEST_CASE("interface names match whole, without regard to ASCII case") {
    const uint16_t wanted[] = {'w', 'I', '-', 'f', 'I', 0};
    const uint16_t alias[] = {'W', 'i', '-', 'F', 'i', 0, 'x'};
    const uint16_t longer[] = {'W', 'i', '-', 'F', 'i', ' ', '2', 0};
    CHECK(sameInterfaceName(wanted, alias, 7));
    CHECK_FALSE(sameInterfaceName(wanted, longer, 8));
    CHECK_FALSE(sameInterfaceName(wanted, alias, 4));  // the text ends after four units
    const char description[] = {'L', 'o', 'o', 'p'};    // XP's text need not end in NUL
    CHECK(sameInterfaceName("LOOP", description, 4));
    CHECK_FALSE(sameInterfaceName("Loo", description, 4));
    CHECK_FALSE(sameInterfaceName("\xE4nderung", "\xC4nderung", 9));  // only ASCII letters fold
    CHECK(sameInterfaceName("", "", 0));
}

TEST_CASE("tunnel adapters are told by TAP, TUN or VPN in their description") {
    const char* tunnels[] = {"TAP-Windows Adapter V9", "TAP-Win32 Adapter V8", "Cisco Systems VPN Adapter",
                             "OpenVPN Data Channel Offload", "WireGuard Tunnel", "tun0", "Fortinet SSL VPN Virtual Ethernet Adapter"};
    for (const char* d : tunnels) {
        CAPTURE(d);
        CHECK(describesTunnelAdapter(d, 256));
    }
    const char* adapters[] = {"Intel(R) PRO/1000 MT Network Connection", "Realtek RTL8139 Family PCI Fast Ethernet NIC",
                              "Broadcom 802.11g Network Adapter", "WAN (PPP/SLIP) Interface", "NetApp Virtual Adapter"};
    for (const char* d : adapters) {
        CAPTURE(d);
        CHECK_FALSE(describesTunnelAdapter(d, 256));
    }
    CHECK_FALSE(describesTunnelAdapter("TAP-Windows", 2));  // only the given length is read
}
