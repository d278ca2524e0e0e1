// GPU rows of the benchmark program: the GPU reading of the CPU tick beside the bare kernel-thunk
// calls it makes, at 1, 2 and 4 adapters of 1 to 64 engines served from memory through the
// sampler's seam; its allocations on a steady tick; and the tick of hostile adapter lists.
#include "bench_gpu.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "bench_samplers.h"
#include "bench_timing.h"
#include "config/panel_model.h"
#include "config/settings.h"
#include "sampling/gpu_sampler.h"
#include "sampling/samplers.h"
#include "support/fake_host.h"

namespace {

using namespace d3dkmt;

// The adapters served: each engine runs a share of each served second of its own, so that the
// loads change from tick to tick as a busy machine's do.
ULONG servedAdapters = 1;
ULONG servedEngines = 1;
ULONG servedSegments = 2;
uint64_t servedClock = 0;
uint64_t servedRunning[256][1024];

LONG APIENTRY servedEnum(void* arguments) {
    auto* list = static_cast<EnumAdapters2*>(arguments);
    const ULONG room = list->count;
    list->count = servedAdapters;
    if (!list->adapters) return ANSWER_OK;
    if (room < servedAdapters) return ANSWER_BUFFER_TOO_SMALL;
    for (ULONG i = 0; i < servedAdapters; ++i) list->adapters[i] = AdapterInfo{100 + i, Luid{i + 1, 0}, 1, FALSE};
    return ANSWER_OK;
}

LONG APIENTRY servedClose(void*) { return ANSWER_OK; }

// The kernel copies the whole query in and its answer out again; so does the served call, into a
// copy of its own, which is the least any real call costs beyond the switch into the kernel.
QueryStatistics kernelCopy;
LONG answerStatistics(QueryStatistics* query);

LONG APIENTRY servedStatistics(void* arguments) {
    memcpy(&kernelCopy, arguments, sizeof kernelCopy);
    const LONG answer = answerStatistics(&kernelCopy);
    memcpy(arguments, &kernelCopy, sizeof kernelCopy);
    return answer;
}

LONG answerStatistics(QueryStatistics* query) {
    const DWORD adapter = query->luid.low - 1;
    if (adapter >= servedAdapters) return static_cast<LONG>(0xC000000D);
    unsigned char* r = query->result.bytes;
    if (query->type == QUERY_ADAPTER) {
        memcpy(r + ADAPTER_SEGMENTS, &servedSegments, 4);
        memcpy(r + ADAPTER_NODES, &servedEngines, 4);
    } else if (query->type == QUERY_NODE) {
        uint64_t& running = servedRunning[adapter % 256][query->id % 1024];
        running += (query->id * 37 + adapter * 11) % 100 * 100000;
        memcpy(r + NODE_RUNNING_TIME, &running, 8);
    } else {
        const uint64_t committed = 123456789 + query->id, size = 8589934592;
        const uint32_t aperture = query->id % 2;
        memcpy(r + SEGMENT_COMMITTED, &committed, 8);
        memcpy(r + SEGMENT_LIMIT, &size, 8);
        memcpy(r + SEGMENT_APERTURE, &aperture, 4);
    }
    return ANSWER_OK;
}

LONG APIENTRY servedInfo(void*) { return static_cast<LONG>(0xC00000BB); }

uint64_t servedNow() { return servedClock += 10000000; }

const GpuPlatform served = {servedEnum, nullptr, servedClose, servedStatistics, servedInfo, nullptr, servedNow};

// The calls a reading makes, in its order, and nothing else: through the same pointers, as a
// call into gdi32 goes through its import (the compiler must not fold the served code in here).
const GpuPlatform* volatile bare = &served;
void bareCalls() {
    const GpuPlatform& p = *bare;
    AdapterInfo listed[MAX_GPU_ADAPTERS];
    EnumAdapters2 list = {MAX_GPU_ADAPTERS, listed};
    p.enumAdapters2(&list);
    static QueryStatistics query;
    for (ULONG a = 0; a < list.count && a < MAX_GPU_ADAPTERS; ++a) {
        query.luid = listed[a].luid;
        query.type = QUERY_ADAPTER;
        p.queryStatistics(&query);
        query.type = QUERY_NODE;
        for (ULONG e = 0; e < servedEngines && e < MAX_GPU_ENGINES; ++e) {
            query.id = e;
            p.queryStatistics(&query);
        }
        query.type = QUERY_SEGMENT;
        for (ULONG s = 0; s < servedSegments && s < MAX_GPU_SEGMENTS; ++s) {
            query.id = s;
            p.queryStatistics(&query);
        }
    }
    for (ULONG a = 0; a < list.count && a < MAX_GPU_ADAPTERS; ++a) {
        CloseAdapter close = {listed[a].adapter};
        p.closeAdapter(&close);
    }
}

void showGpuGraph() {
    fakehost::set("Kelvora.gpuGraph.width:", "100");
    fakehost::set("Kelvora.gpuGraph.height:", "30");
    fakehost::set("Kelvora.gpuMemory.left:", "5");
    fakehost::set("Kelvora.gpuMemory.right:", "200");
    reloadSettings();
}

// A reading takes a few hundred nanoseconds of served calls, under the clock's resolution under
// Wine: each sample times a batch of readings, and the rows show one reading's share.
constexpr int BATCH = 50;
template <typename Action>
Timing perReading(int runs, Action action) {
    Timing t = measure(runs, [&] {
        for (int i = 0; i < BATCH; ++i) action();
    });
    return Timing{t.median / BATCH, t.min / BATCH, t.max / BATCH};
}

// The bare calls and another action timed batch by batch in turn, so that both meet the same
// moments of a shared machine: timed one after the other, a busy spell in either moved the ratio
// by a tenth.
struct PairedTimings {
    Timing bare;
    Timing other;
};

template <typename Action>
PairedTimings perReadingBeside(int runs, Action action) {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    auto batch = [&frequency](auto step) {
        LARGE_INTEGER start, stop;
        QueryPerformanceCounter(&start);
        for (int i = 0; i < BATCH; ++i) step();
        QueryPerformanceCounter(&stop);
        return 1e6 * static_cast<double>(stop.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart) / BATCH;
    };
    std::vector<double> bareTimes, otherTimes;
    for (int i = 0; i < 5; ++i) batch(bareCalls), batch(action);  // warm caches first
    for (int i = 0; i < runs; ++i) {
        bareTimes.push_back(batch(bareCalls));
        otherTimes.push_back(batch(action));
    }
    auto timing = [](std::vector<double>& t) {
        std::sort(t.begin(), t.end());
        return Timing{t[t.size() / 2], t.front(), t.back()};
    };
    return PairedTimings{timing(bareTimes), timing(otherTimes)};
}

void serve(ULONG adapters, ULONG engines, ULONG segments) {
    servedAdapters = adapters;
    servedEngines = engines;
    servedSegments = segments;
    installGpuPlatform(&served);
    sampleGpu();  // names and baseline
}

}  // namespace

void benchGpu() {
    fakehost::reset();
    snprintf(panelModel.rcPath, PATH_SIZE, "%s", "C:\\bench\\Kelvora.rc");
    showGpuGraph();
    startCountingAllocations();
    printTableHeader("The GPU reading of the CPU tick beside the bare kernel-thunk calls it makes (served from memory, "
                     "each call copying the query in and out as the kernel does; per reading, batches of 50)");
    for (ULONG adapters : {1u, 2u, 4u})
        for (ULONG engines : {1u, 8u, 64u}) {
            serve(adapters, engines, 2);
            const PairedTimings read = perReadingBeside(201, readGpu);
            const Timing& bare = read.bare;
            const Timing& reading = read.other;
            const Timing tick = perReadingBeside(201, sampleGpu).other;
            char label[128];
            snprintf(label, sizeof label, "bare calls, %lu adapter%s × %lu engine%s, 2 segments each",
                     static_cast<unsigned long>(adapters), adapters > 1 ? "s" : "", static_cast<unsigned long>(engines),
                     engines > 1 ? "s" : "");
            printRow(label, bare);
            snprintf(label, sizeof label, "readGpu (the reading), %lu × %lu", static_cast<unsigned long>(adapters),
                     static_cast<unsigned long>(engines));
            printRow(label, reading, reading.median / bare.median, "of the bare calls");
            snprintf(label, sizeof label, "sampleGpu (the reading shown: graph sample, caption, row), %lu × %lu",
                     static_cast<unsigned long>(adapters), static_cast<unsigned long>(engines));
            printRow(label, tick, tick.median / bare.median, "of the bare calls");
        }
    printf("\nHeap allocations of the GPU reading per steady-state tick:\n\n| served | allocations |\n|---|---:|\n");
    for (ULONG adapters : {1u, 4u}) {
        serve(adapters, 64, 2);
        const long before = pluginAllocations();
        for (int i = 0; i < 100; ++i) sampleGpu();
        printf("| %lu adapter%s × 64 engines | %.2f |\n", static_cast<unsigned long>(adapters), adapters > 1 ? "s" : "",
               (pluginAllocations() - before) / 100.0);
    }
    // Hostile lists: more adapters than a reading holds fail the list call (the reading finds
    // nothing and waits a minute, which the served clock passes at each call); a thousand engines
    // and a hundred segments an adapter are read up to the bounds.
    printTableHeader("Hostile adapter lists (the bound: 16 adapters × (1 + 64 engines + 32 segments) statistics queries)");
    serve(100, 1000, 100);
    printRow("sampleGpu, 100 adapters listed (more than a reading holds)", perReading(101, sampleGpu));
    serve(16, 1000, 100);
    const Timing bounded = perReading(101, sampleGpu);
    printRow("sampleGpu, 16 adapters × 1000 engines × 100 segments (read: 16 × 64 × 32)", bounded);
    serve(16, 64, 32);
    const Timing bare = perReading(101, bareCalls);
    printRow("bare calls, 16 × 64 engines × 32 segments", bare);
    printRow("  the bounded reading above against them", bounded, bounded.median / bare.median, "of the bare calls");
    installGpuPlatform(nullptr);
    fakehost::reset();
    reloadSettings();
}
