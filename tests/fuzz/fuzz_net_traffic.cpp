// Fuzz target: any sequence of interface readings (repeated, appearing and vanishing ids,
// counters anywhere, any speeds and intervals) is read without a fault, rates are never
// negative, and a table that did not change since the previous reading moves nothing.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "input_bytes.h"
#include "sampling/net_traffic.h"

namespace {

const uint64_t speeds[] = {0, 56000, 10000000, 1000000000, UINT64_MAX};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Input in{data, size};
    const bool counters64 = in.take<uint8_t>() & 1;
    NetTrafficState state;
    uint64_t tick = 0;
    std::vector<NetInterface> rows;
    while (in.size > 0) {
        const uint8_t step = in.take<uint8_t>();
        // Small steps mostly; sometimes a long gap or a tick count that went back.
        tick = step == 255 ? in.take<uint64_t>() : tick + step;
        rows.resize(in.take<uint8_t>() % 24);
        for (NetInterface& r : rows) {
            const uint8_t kind = in.take<uint8_t>();
            r.id = kind % 8;  // few ids, so that they repeat and match
            r.counted = kind & 8;
            r.inSpeed = speeds[(kind >> 4) % 5];
            r.outSpeed = speeds[(kind >> 4) % 3];
            r.inOctets = in.take<uint64_t>();
            r.outOctets = counters64 ? in.take<uint64_t>() : in.take<uint32_t>();
        }
        NetRates rates;
        const NetOutcome outcome = takeNetReading(state, rows.data(), rows.size(), counters64, tick, &rates);
        if (rates.down < 0 || rates.up < 0) abort();
        if (outcome == NET_RATES && tick < UINT64_MAX) {
            // The same table a millisecond later moved nothing.
            NetRates again;
            if (takeNetReading(state, rows.data(), rows.size(), counters64, tick + 1, &again) != NET_RATES) abort();
            if (again.down != 0 || again.up != 0) abort();
            ++tick;
        }
    }
    releaseNetTraffic(state);
    return 0;
}
