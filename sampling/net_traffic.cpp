// Rates of the network sampler from successive interface readings: matching by identity,
// resets, 32-bit wraps and link-speed limits, in integer arithmetic.
#include "sampling/net_traffic.h"

#include <algorithm>
#include <cstdlib>

#include "sampling/exact_math.h"

namespace {

// A link's counters are believed up to its speed over the interval and a second more: the system
// refreshes some adapters' counters only every so often, so a short interval may carry bytes
// of the one before, and a 32-bit wrap in it is still taken as one.
uint64_t roomMilliseconds(uint64_t elapsedMs) { return saturatingAdd(elapsedMs, 1000); }

// The bytes an interface adds to a rate: what counterDelta believes, at most what the link's
// speed moves in the interval itself. The second of lateness decides whether a wrap or a burst
// is believed, but a rate never shows more than the link can carry.
uint64_t shownBytes(uint64_t before, uint64_t now, bool counters64, uint64_t speedBitsPerSecond, uint64_t elapsedMs) {
    return std::min(counterDelta(before, now, counters64, speedBitsPerSecond, elapsedMs),
                    bytesAtSpeed(speedBitsPerSecond, elapsedMs));
}

bool grow(NetTrafficState& state, size_t count) {
    if (count <= state.capacity) return true;
    // Room for a few more interfaces than now, so that one appearing adapter does not grow
    // the buffers at every reading.
    const size_t capacity = count + count / 4 + 8;
    if (capacity > SIZE_MAX / sizeof(NetTrafficState::Counters)) return false;
    const size_t bytes = capacity * sizeof(NetTrafficState::Counters);
    auto* previous = static_cast<NetTrafficState::Counters*>(realloc(state.previous, bytes));
    if (!previous) return false;
    state.previous = previous;
    auto* current = static_cast<NetTrafficState::Counters*>(realloc(state.current, bytes));
    if (!current) return false;
    state.current = current;
    state.capacity = capacity;
    return true;
}

// The counted interfaces of a reading into state.current, sorted by id; of repeated ids the one
// the table lists first stays. Answers how many.
size_t collectCounted(NetTrafficState& state, const NetInterface* interfaces, size_t count) {
    NetTrafficState::Counters* out = state.current;
    size_t n = 0;
    for (size_t i = 0; i < count; ++i) {
        const NetInterface& row = interfaces[i];
        if (!row.counted) continue;
        out[n++] = {row.id, row.inOctets, row.outOctets, row.inSpeed, row.outSpeed, i};
    }
    std::sort(out, out + n, [](const NetTrafficState::Counters& a, const NetTrafficState::Counters& b) {
        return a.id != b.id ? a.id < b.id : a.position < b.position;
    });
    size_t kept = 0;
    for (size_t i = 0; i < n; ++i)
        if (kept == 0 || out[kept - 1].id != out[i].id) out[kept++] = out[i];
    return kept;
}

void keepAsBaseline(NetTrafficState& state, size_t count, uint64_t tickMs) {
    std::swap(state.previous, state.current);
    state.previousCount = count;
    state.previousTick = tickMs;
    state.hasBaseline = true;
}

}  // namespace

void forgetNetBaseline(NetTrafficState& state) {
    state.hasBaseline = false;
    state.previousCount = 0;
}

void releaseNetTraffic(NetTrafficState& state) {
    free(state.previous);
    free(state.current);
    state = NetTrafficState();
}

uint64_t bytesPossible(uint64_t speedBitsPerSecond, uint64_t elapsedMs) {
    if (speedBitsPerSecond == 0) return UINT64_MAX;
    return mulDivFloor(speedBitsPerSecond, roomMilliseconds(elapsedMs), 8000);
}

uint64_t bytesAtSpeed(uint64_t speedBitsPerSecond, uint64_t elapsedMs) {
    if (speedBitsPerSecond == 0) return UINT64_MAX;
    return mulDivFloor(speedBitsPerSecond, elapsedMs, 8000);
}

uint64_t counterDelta(uint64_t before, uint64_t now, bool counters64, uint64_t speedBitsPerSecond, uint64_t elapsedMs) {
    const uint64_t possible = bytesPossible(speedBitsPerSecond, elapsedMs);
    if (now >= before) return std::min(now - before, possible);
    if (counters64 || speedBitsPerSecond == 0) return 0;
    const uint64_t wrapped = static_cast<uint32_t>(static_cast<uint32_t>(now) - static_cast<uint32_t>(before));
    return wrapped <= possible ? wrapped : 0;
}

int64_t bytesPerSecond(uint64_t bytes, uint64_t ms) {
    const uint64_t rate = mulDivFloor(bytes, 1000, ms);
    return rate > static_cast<uint64_t>(INT64_MAX) ? INT64_MAX : static_cast<int64_t>(rate);
}

NetOutcome takeNetReading(NetTrafficState& state, const NetInterface* interfaces, size_t count, bool counters64,
                          uint64_t tickMs, NetRates* rates) {
    *rates = NetRates{0, 0};
    if (state.hasBaseline && tickMs == state.previousTick) return NET_SAME_MILLISECOND;
    if (!grow(state, count)) {
        forgetNetBaseline(state);
        return NET_NO_MEMORY;
    }
    const size_t counted = collectCounted(state, interfaces, count);
    // A tick count that went back (the 32-bit count of Windows XP wraps after 49.7 days) gives
    // no interval to divide by: the reading starts afresh.
    if (!state.hasBaseline || tickMs < state.previousTick) {
        keepAsBaseline(state, counted, tickMs);
        return NET_FIRST_READING;
    }
    const uint64_t elapsed = tickMs - state.previousTick;
    uint64_t down = 0, up = 0;
    size_t p = 0;
    for (size_t c = 0; c < counted; ++c) {
        const NetTrafficState::Counters& now = state.current[c];
        while (p < state.previousCount && state.previous[p].id < now.id) ++p;
        if (p == state.previousCount) break;
        const NetTrafficState::Counters& before = state.previous[p];
        if (before.id != now.id) continue;  // appeared since the previous reading
        down = saturatingAdd(down, shownBytes(before.in, now.in, counters64, now.inSpeed, elapsed));
        up = saturatingAdd(up, shownBytes(before.out, now.out, counters64, now.outSpeed, elapsed));
    }
    rates->down = bytesPerSecond(down, elapsed);
    rates->up = bytesPerSecond(up, elapsed);
    state.receivedTotal = saturatingAdd(state.receivedTotal, down);
    state.sentTotal = saturatingAdd(state.sentTotal, up);
    keepAsBaseline(state, counted, tickMs);
    return NET_RATES;
}

bool describesTunnelAdapter(const char* description, size_t length) {
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    auto isLetter = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); };
    size_t i = 0;
    while (i < length && description[i]) {
        if (!isLetter(description[i])) {
            ++i;
            continue;
        }
        size_t end = i;
        while (end < length && description[end] && isLetter(description[end])) ++end;
        auto startsWith = [&](const char* prefix, size_t at) {
            for (size_t k = 0; prefix[k]; ++k)
                if (at + k >= end || lower(description[at + k]) != prefix[k]) return false;
            return true;
        };
        if (startsWith("tap", i) || startsWith("tun", i)) return true;
        for (size_t at = i; at + 3 <= end; ++at)
            if (startsWith("vpn", at)) return true;
        i = end;
    }
    return false;
}
