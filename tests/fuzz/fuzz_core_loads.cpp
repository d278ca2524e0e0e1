// Fuzz target: any sequence of readings (any number of groups, any answer lengths, any bytes,
// failed groups and restarts) is read without a fault; no load passes 100, no reading counts
// more processors than a system can have, the same answers twice show every processor at 0, and
// every column of any plot shows a load of the reading or background.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "input_bytes.h"
#include "sampling/core_loads.h"

namespace {

struct Group {
    std::vector<uint8_t> bytes;
    bool fails;
};

void read(CoreLoads& state, const std::vector<Group>& groups) {
    beginCoreReading(state);
    for (const Group& g : groups) {
        if (g.fails) {
            failCoreReading(state);
            continue;  // a caller stops at a failure; the reading must stay sound if it does not
        }
        addCoreGroup(state, g.bytes.data(), g.bytes.size());
    }
    endCoreReading(state);
}

void checkReading(const CoreLoads& state) {
    if (state.count > MAX_CORES) abort();
    for (uint32_t i = 0; i < state.count; ++i)
        if (state.loads[i] > 100) abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Input in{data, size};
    static std::unique_ptr<CoreLoads> state(new CoreLoads());
    memset(state.get(), 0, sizeof *state);
    restartCoreLoads(*state);
    while (in.size > 0) {
        const uint8_t step = in.take<uint8_t>();
        if (step == 0xFF) {
            restartCoreLoads(*state);
            continue;
        }
        // Mostly few small groups; sometimes more groups than a system has.
        std::vector<Group> groups(step % 40);
        for (Group& g : groups) {
            const uint16_t length = in.take<uint16_t>();
            g.fails = length == 0xFFFF;
            g.bytes.resize(length % (70 * CORE_RECORD_SIZE));
            const size_t given = g.bytes.size() < in.size ? g.bytes.size() : in.size;
            if (given > 0) memcpy(g.bytes.data(), in.data, given);
            in.data += given;
            in.size -= given;
        }
        read(*state, groups);
        checkReading(*state);
        bool anyFails = false;
        for (const Group& g : groups) anyFails = anyFails || g.fails;
        if (!anyFails) {
            // No time passed between these two: nothing can have been busy.
            read(*state, groups);
            checkReading(*state);
            for (uint32_t i = 0; i < state->count; ++i)
                if (state->loads[i] != 0) abort();
        }
        const int64_t width = in.take<int32_t>(), height = in.take<int32_t>();
        for (int k = 0; k < 8; ++k) {
            const int64_t column = in.take<int32_t>();
            const int load = coreColumnLoad(state->loads, state->count, width, column);
            if (load < -1 || load > 100) abort();
            const int64_t bar = coreBarHeight(load, height);
            if (bar < 0 || (height > 0 && bar > height)) abort();
            // The painter's walk from that column gives the same loads, column after column.
            CoreColumns walk(state->loads, state->count, width, column);
            for (int64_t c = column; c < column + 4; ++c)
                if (walk.next() != coreColumnLoad(state->loads, state->count, width, c)) abort();
        }
    }
    return 0;
}
