// Network throughput from two readings of the interface counters: which interfaces count,
// how a counter that went down is read, and the rates. No windows.h, so the arithmetic also
// builds natively for sanitizers and fuzzers; sampling/net_sampler.cpp feeds it the tables.
#pragma once

#include <cstddef>
#include <cstdint>

// One interface of a reading, as the platform layer found it.
struct NetInterface {
    uint64_t id;         // identity between readings: the LUID, or the index of XP's table
    uint64_t inOctets;   // bytes received since the counter started
    uint64_t outOctets;  // bytes sent
    uint64_t inSpeed;    // receive link speed in bits per second; 0 when not reported
    uint64_t outSpeed;   // transmit link speed
    bool counted;        // part of the sum: by the automatic choice or by the configured name
};

struct NetRates {
    int64_t down;  // bytes per second, rounded down
    int64_t up;
};

enum NetOutcome {
    NET_RATES,            // rates over the interval since the previous reading
    NET_FIRST_READING,    // nothing to compare with yet: the rates are 0
    NET_SAME_MILLISECOND, // no time has passed: nothing changed, the previous texts stand
    NET_NO_MEMORY,        // the kept buffers could not grow: no reading
};

// The counters of the previous reading, kept from reading to reading. Both buffers only grow,
// and only when more interfaces count than ever before, so a steady reading allocates nothing.
struct NetTrafficState {
    struct Counters {
        uint64_t id;
        uint64_t in;
        uint64_t out;
        uint64_t inSpeed;
        uint64_t outSpeed;
        size_t position;  // in the table, so that of repeated ids the first one counts
    };
    Counters* previous = nullptr;  // counted interfaces of the previous reading, sorted by id
    Counters* current = nullptr;   // scratch of the same capacity for the reading being taken
    size_t previousCount = 0;
    size_t capacity = 0;
    uint64_t previousTick = 0;
    bool hasBaseline = false;
    // Bytes the counted interfaces moved over every interval since the state was made: a
    // forgotten baseline keeps them, a release starts them again.
    uint64_t receivedTotal = 0;
    uint64_t sentTotal = 0;
};

// Forgets the previous reading (a start, a reload, a table that could not be read): the next
// reading is a first one. The buffers are kept.
void forgetNetBaseline(NetTrafficState& state);
// Releases the buffers; for the plugin's stop.
void releaseNetTraffic(NetTrafficState& state);

// Takes a reading of `count` interfaces at `tickMs` (the system's millisecond tick count) and,
// when there is a previous one, the download and upload rates over the interval. An interface
// counts only when it is in both readings (matched by id; of ids repeated within one reading
// only the first counts), so one that appears or disappears causes no spike; each adds at most
// what its link speed moves in the interval. `counters64` tells whether the counters are 64 bits
// wide (GetIfTable2) or 32 (Windows XP's table).
NetOutcome takeNetReading(NetTrafficState& state, const NetInterface* interfaces, size_t count, bool counters64,
                          uint64_t tickMs, NetRates* rates);

// Bytes an interface moved between two counter values `elapsedMs` apart, at most what its
// link speed allows over that time and a second more (counters the system refreshes late). A
// counter that went down was reset when it is 64 bits wide; a 32-bit one may have wrapped, which
// is believed only when the wrapped difference is possible at that speed. A speed of 0 (not
// reported) caps nothing, and then a wrap cannot be told from a reset.
uint64_t counterDelta(uint64_t before, uint64_t now, bool counters64, uint64_t speedBitsPerSecond, uint64_t elapsedMs);
// The most bytes a link of this speed is believed to move in elapsedMs, with that second;
// UINT64_MAX for a speed of 0.
uint64_t bytesPossible(uint64_t speedBitsPerSecond, uint64_t elapsedMs);
// The bytes a link of this speed moves in elapsedMs itself, rounded down: the most an interface
// adds to a rate, which therefore never exceeds its speed / 8 bytes a second whatever its
// counters claim. UINT64_MAX for a speed of 0.
uint64_t bytesAtSpeed(uint64_t speedBitsPerSecond, uint64_t elapsedMs);
// bytes * 1000 / ms, rounded down, at most INT64_MAX; ms is at least 1.
int64_t bytesPerSecond(uint64_t bytes, uint64_t ms);

// Whole-text comparison of a configured interface name with an interface's name, the ASCII
// letters compared without case and every other unit exactly. `text` holds at most textUnits
// units and ends at its first NUL. Char is char (Windows XP's descriptions) or uint16_t (UTF-16).
inline uint32_t nameUnit(char c) { return static_cast<unsigned char>(c); }
inline uint32_t nameUnit(uint16_t c) { return c; }
template <typename Char>
bool sameInterfaceName(const Char* wanted, const Char* text, size_t textUnits) {
    auto fold = [](uint32_t c) { return c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c; };
    size_t i = 0;
    for (; i < textUnits && text[i] != 0; ++i)
        if (wanted[i] == 0 || fold(nameUnit(wanted[i])) != fold(nameUnit(text[i]))) return false;
    return wanted[i] == 0;
}

// True when an adapter's description names a TAP, TUN or VPN adapter, the virtual adapters of
// tunnels whose traffic the physical adapter already carries: a word (a run of ASCII letters)
// that starts with "tap" or "tun", or one that holds "vpn", in any case ("TAP-Windows Adapter V9",
// "Cisco Systems VPN Adapter", "OpenVPN Data Channel Offload").
bool describesTunnelAdapter(const char* description, size_t length);
