// Benchmark program: the cost per call of Kelvora's hot paths, one table row each (median, min
// and max of many timed calls, and the ratio to the row it is part of); never run from ctest.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "bench_details.h"
#include "bench_gpu.h"
#include "bench_hostile.h"
#include "bench_ip.h"
#include "bench_painter.h"
#include "bench_profile.h"
#include "bench_reload.h"
#include "bench_samplers.h"
#include "bench_timing.h"
#include "sampling/load_meter.h"
#include "sampling/meter_platform.h"
#include "sampling/net_sampler.h"
#include "support/perf_block.h"

namespace {

// ---- Processor load meter ------------------------------------------------------------------

std::vector<uint8_t> servedBlock;

bool ntVersion(uint32_t* platformId, uint32_t* majorVersion) {
    *platformId = 2;
    *majorVersion = 10;
    return true;
}
int32_t openKey(const char*, uintptr_t* key) {
    *key = 1;
    return METER_ERROR_SUCCESS;
}
int32_t writeValue(uintptr_t, const char*, uint32_t) { return METER_ERROR_SUCCESS; }
void closeKey(uintptr_t) {}
void closeData() {}

// The system copies the block into the caller's buffer; so does this stand-in.
int32_t serveBlock(const char*, uint8_t* buffer, uint32_t* size) {
    if (*size < servedBlock.size()) return METER_ERROR_MORE_DATA;
    memcpy(buffer, servedBlock.data(), servedBlock.size());
    *size = static_cast<uint32_t>(servedBlock.size());
    return METER_ERROR_SUCCESS;
}
int32_t noPerformanceData(const char*, uint8_t*, uint32_t*) { return 2; }  // ERROR_FILE_NOT_FOUND

// A processor object as a 64-processor machine reports it: instances "0" to "63", then "_Total",
// sixteen counters each, behind another object that fills the block to 100 KB.
perfblock::Block processorBlock(int64_t time, int64_t idle) {
    perfblock::Object processors;
    processors.titleIndex = 238;
    for (uint32_t c = 0; c < 16; ++c) processors.counters.push_back(c == 5 ? 6 : 140 + 2 * c);
    auto instance = [](std::u16string name, int64_t value) {
        std::vector<int64_t> values(16, 12345);
        values[5] = value;
        return perfblock::Instance{std::move(name), values};
    };
    for (int i = 0; i < 64; ++i) {
        std::u16string name;
        for (char c : std::to_string(i)) name += static_cast<char16_t>(c);
        processors.instances.push_back(instance(name, idle / 64));
    }
    processors.instances.push_back(instance(u"_Total", idle));
    perfblock::Object filler = perfblock::otherObject(1848, 64);
    const size_t plain = perfblock::build(time, {filler, processors}).size();
    filler.trailingBytes = 100 * 1024 - plain;
    return perfblock::build(time, {filler, processors});
}

void benchmarkLoadMeter() {
    const MeterPlatform& system = systemMeterPlatform();
    const MeterPlatform served = {ntVersion, openKey, writeValue, closeKey, serveBlock, closeData, system.readSystemTimes,
                                  system.wideToAnsi};
    const perfblock::Block block = processorBlock(1000000, 400000);
    servedBlock = block.bytes;

    installMeterPlatform(&served);
    resetLoadMeterState();
    ProcessorLoadMeter meter;
    meter.currentLoad();
    printTableHeader("Processor load meter");
    char label[128];
    snprintf(label, sizeof label, "currentLoad, %u-byte block, 64 processors + _Total", static_cast<unsigned>(block.size()));
    const Timing synthetic = measure(2000, [&] { meter.currentLoad(); });
    printRow(label, synthetic);
    if (usingProcessorTimes()) printf("\n(the synthetic block was not read: the row above is wrong)\n");
    int64_t counter = 0, time = 0;
    const Timing walk = measure(2000, [&] {
        readBlockCounter(block.bytes.data(), block.size(), 238, 6, "_Total", &counter, &time);
    });
    printRow("  of which the walk over the block (readBlockCounter)", walk, walk.median / synthetic.median, "of currentLoad");
    const Timing fill = measure(2000, [&] {
        memset(perfDataBuffer.data, 0, perfDataBuffer.size);
        uint32_t size = perfDataBuffer.size;
        serveBlock("238", perfDataBuffer.data, &size);
    });
    printRow("  of which zeroing and filling the buffer", fill, fill.median / synthetic.median, "of currentLoad");

    const MeterPlatform withoutData = {ntVersion, openKey, writeValue, closeKey, noPerformanceData, closeData,
                                       system.readSystemTimes, system.wideToAnsi};
    installMeterPlatform(&withoutData);
    resetLoadMeterState();
    ProcessorLoadMeter timesMeter;
    timesMeter.currentLoad();
    uint64_t idle, kernel, user;
    const Timing bare = measure(2000, [&] { system.readSystemTimes(&idle, &kernel, &user); });
    const Timing times = measure(2000, [&] { timesMeter.currentLoad(); });
    printRow("GetSystemTimes (bare call)", bare);
    printRow("currentLoad, processor-times path", times, times.median / bare.median, "of the bare call");

    installMeterPlatform(nullptr);
    resetLoadMeterState();
}

}  // namespace

// The sections a single argument runs alone: "hostile" the hostile-settings rows, "samplers" the
// samplers' rows, "profile" the profile, "graphs" each graph's cost of a sample, "details" the
// tooltip texts, "ip" the IP row's, "gpu" the GPU reading's. Without one, every section runs.
struct Section {
    const char* name;
    void (*run)();
};
const Section sections[] = {{"hostile", benchHostileSettings}, {"samplers", benchSamplers}, {"profile", benchProfile},
                            {"graphs", benchGraphSamples},     {"details", benchDetails},   {"ip", benchIpRow},
                            {"gpu", benchGpu}};

int main(int argc, char** argv) {
    lookUpNetworkTables();
    if (argc > 1) {
        for (const Section& section : sections) {
            if (strcmp(argv[1], section.name) != 0) continue;
            section.run();
            return 0;
        }
    }
    benchmarkLoadMeter();
    benchSamplers();
    benchPainter();
    benchProfile();
    benchDetails();
    benchGpu();
    benchReload();
    benchHostileSettings();
    benchIpRow();
    return 0;
}
