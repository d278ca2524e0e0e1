// Benchmark rows of hostile settings: a reload, the sampler ticks and a rendering paint with the
// largest graphs and panel an rc file can ask for, and the worst of each over every integer
// key at its extreme values, one key at a time and all at once.
#include "bench_hostile.h"

#include <windows.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "bench_painter.h"
#include "bench_samplers.h"
#include "bench_timing.h"
#include "config/panel_model.h"
#include "config/settings.h"
#include "host/resource_use.h"
#include "render/painter.h"
#include "sampling/disk_io_sampler.h"
#include "sampling/net_sampler.h"
#include "sampling/samplers.h"
#include "support/fake_host.h"
#include "support/painting_window.h"

namespace {

// The hostile rows run few times each: before the limits a single reload took seconds.
constexpr int HOSTILE_RUNS = 11;

struct Setting {
    std::string key;
    std::string value;
};

// A model as the plugin has it after a start: every disk path set, so that the disk
// sampler queries a volume for each slot it reads.
void loadModel(const std::vector<Setting>& settings) {
    startModel();
    for (int k = 1; k <= MAX_DISKS; ++k)
        fakehost::set("Kelvora.disk[" + std::to_string(k) + "].path:", "C:\\");
    for (const Setting& s : settings) fakehost::set(s.key, s.value);
    reloadSettings();
    fakehost::log.clear();
    fakehost::files.clear();
    panelModel.framePen = CreatePen(PS_SOLID, 1, RGB(0, 0, 0));
}

// Every integer key the reader asks for, with 25 disks configured so that the disk keys count.
std::vector<std::string> integerKeys() {
    loadModel({{"Kelvora.diskCount:", "25"}});
    fakehost::log.clear();
    reloadSettings();
    std::vector<std::string> keys;
    for (const std::string& line : fakehost::logLinesStartingWith("ReadInt ")) {
        const size_t begin = line.find(' ') + 1;
        keys.push_back(line.substr(begin, line.find(' ', begin) - begin));
    }
    fakehost::log.clear();
    return keys;
}

struct Costs {
    double reload;  // microseconds, medians
    double cpuTick;
    double memoryTick;
    double diskTick;
    double netTick;
    double diskIoTick;
    double paint;
    size_t heldBytes;    // private bytes the process holds beyond an empty model, after a paint
    size_t bufferBytes;  // the two histories and backBuffer's pixels
};

size_t modelBufferBytes() {
    size_t bytes = 0;
    for (const GraphState& g : panelModel.graphs)
        if (g.history) bytes += static_cast<size_t>(g.samples) * sizeof(int64_t);
    BITMAP bitmap = {};
    if (panelModel.backBuffer && GetObjectA(panelModel.backBuffer, sizeof bitmap, &bitmap))
        bytes += static_cast<size_t>(bitmap.bmWidthBytes) * static_cast<size_t>(bitmap.bmHeight);
    return bytes;
}

Costs measureModel(const std::vector<Setting>& settings, int runs) {
    startModel();
    const size_t emptyBytes = resourceuse::privateBytes();
    loadModel(settings);
    Costs c = {};
    c.reload = measure(runs, [] {
        reloadSettings();
        fakehost::log.clear();
    }).median;
    HWND window = createPaintingPanelWindow();
    panelModel.panelWindow = window;
    UpdateWindow(window);
    c.cpuTick = measure(runs, [] { sampleCpu(nullptr, 0, 0, 0); }).median;
    c.memoryTick = measure(runs, [] { sampleMemory(nullptr, 0, 0, 0); }).median;
    c.diskTick = measurePrepared(runs, awaitDiskAnswers, [] { sampleDisks(nullptr, 0, 0, 0); }).median;
    c.netTick = measure(runs, [] { sampleNetwork(nullptr, 0, 0, 0); }).median;
    c.diskIoTick = measure(runs, [] { sampleDiskIo(nullptr, 0, 0, 0); }).median;
    c.paint = measure(runs, [window] {
        invalidatePanel();
        UpdateWindow(window);
    }).median;
    const size_t held = resourceuse::privateBytes();
    c.heldBytes = held > emptyBytes ? held - emptyBytes : 0;
    c.bufferBytes = modelBufferBytes();
    panelModel.panelWindow = nullptr;
    DestroyWindow(window);
    return c;
}

void printCosts(const char* name, const Costs& c, const Costs* base) {
    char label[160];
    const auto row = [&](const char* what, double value, double baseValue) {
        snprintf(label, sizeof label, "%s: %s", name, what);
        printf("| %s | %.2f | %s |\n", label, value,
               base ? (std::to_string(value / baseValue).substr(0, 5) + "×").c_str() : "");
    };
    row("reload", c.reload, base ? base->reload : 0);
    row("CPU tick", c.cpuTick, base ? base->cpuTick : 0);
    row("memory tick", c.memoryTick, base ? base->memoryTick : 0);
    row("disk tick", c.diskTick, base ? base->diskTick : 0);
    row("network tick", c.netTick, base ? base->netTick : 0);
    row("disk-activity tick", c.diskIoTick, base ? base->diskIoTick : 0);
    row("rendering paint", c.paint, base ? base->paint : 0);
    snprintf(label, sizeof label, "%s: histories and back buffer; private bytes held", name);
    printf("| %s | %.2f MB; %.2f MB | |\n", label, static_cast<double>(c.bufferBytes) / (1024.0 * 1024.0),
           static_cast<double>(c.heldBytes) / (1024.0 * 1024.0));
}

struct Worst {
    double value = 0;
    std::string what;
    void take(double v, const std::string& label) {
        if (v > value) value = v, what = label;
    }
};

void sweepIntegerKeys() {
    const std::vector<std::string> keys = integerKeys();
    const char* const extremes[] = {"-2147483648", "-1", "0", "1", "2147483647"};
    Worst reload, cpu, memory, disk, net, diskIo, paint, held, buffers;
    auto take = [&](const Costs& c, const std::string& label) {
        reload.take(c.reload, label);
        cpu.take(c.cpuTick, label);
        memory.take(c.memoryTick, label);
        disk.take(c.diskTick, label);
        net.take(c.netTick, label);
        diskIo.take(c.diskIoTick, label);
        paint.take(c.paint, label);
        held.take(static_cast<double>(c.heldBytes), label);
        buffers.take(static_cast<double>(c.bufferBytes), label);
    };
    for (const char* value : extremes) {
        for (const std::string& key : keys) {
            // diskCount stays 25 unless it is the key under test, so that every disk key is read.
            std::vector<Setting> settings = {{"Kelvora.diskCount:", "25"}, {key, value}};
            take(measureModel(settings, 3), key + " " + value);
        }
        std::vector<Setting> all;
        for (const std::string& key : keys) all.push_back({key, value});
        take(measureModel(all, 3), std::string("every key ") + value);
    }
    printf("\nWorst over %zu integer keys at %zu extreme values each, one at a time and all at once "
           "(medians of 3)\n\n| measure | worst µs | where |\n|---|---:|---|\n",
           keys.size(), sizeof extremes / sizeof *extremes);
    printf("| reload | %.2f | %s |\n", reload.value, reload.what.c_str());
    printf("| CPU tick | %.2f | %s |\n", cpu.value, cpu.what.c_str());
    printf("| memory tick | %.2f | %s |\n", memory.value, memory.what.c_str());
    printf("| disk tick | %.2f | %s |\n", disk.value, disk.what.c_str());
    printf("| network tick | %.2f | %s |\n", net.value, net.what.c_str());
    printf("| disk-activity tick | %.2f | %s |\n", diskIo.value, diskIo.what.c_str());
    printf("| rendering paint | %.2f | %s |\n", paint.value, paint.what.c_str());
    printf("| histories and back buffer | %.1f MB | %s |\n", buffers.value / (1024.0 * 1024.0), buffers.what.c_str());
    printf("| private bytes held | %.1f MB | %s |\n", held.value / (1024.0 * 1024.0), held.what.c_str());
}

}  // namespace

void benchHostileSettings() {
    printf("\nHostile settings (medians of %d; ratio to the default model)\n\n"
           "| measure | median µs | ratio |\n|---|---:|---|\n", HOSTILE_RUNS);
    const Costs base = measureModel({}, HOSTILE_RUNS);
    printCosts("default model", base, nullptr);
    const Costs wide = measureModel({{"Kelvora.cpuGraph.width:", "2147483647"},
                                     {"Kelvora.memoryGraph.width:", "2147483647"},
                                     {"Kelvora.netGraph.width:", "2147483647"},
                                     {"Kelvora.netGraph.height:", "50"},
                                     {"Kelvora.diskIoGraph.width:", "2147483647"},
                                     {"Kelvora.diskIoGraph.height:", "50"}},
                                    HOSTILE_RUNS);
    printCosts("all four graph widths 2147483647", wide, &base);
    const Costs large = measureModel({{"Kelvora.width:", "20000"}, {"Kelvora.height:", "20000"}}, HOSTILE_RUNS);
    printCosts("panel 20000 x 20000", large, &base);
    const Costs disks = measureModel({{"Kelvora.diskCount:", "25"}}, HOSTILE_RUNS);
    printCosts("25 disks on C:\\", disks, &base);
    sweepIntegerKeys();
    startModel();
}
