// Painter rows of the benchmark program: a visible panel window painted through
// paintPanel, once rendering backBuffer anew and once copying the cached one.
#include "bench_painter.h"

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "bench_timing.h"
#include "config/panel_model.h"
#include "config/settings.h"
#include "render/painter.h"
#include "sampling/samplers.h"
#include "support/fake_host.h"
#include "support/painting_window.h"

namespace {

constexpr int MEASURED_RUNS = 101;

// A 16 x 16 icon of one colour, made in memory.
HICON solidIcon(COLORREF colour) {
    BITMAPINFO bi = {};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = 16;
    bi.bmiHeader.biHeight = -16;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP colourBits = CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    const unsigned pixel = 0xFF000000u | (GetRValue(colour) << 16) | (GetGValue(colour) << 8) | GetBValue(colour);
    for (int i = 0; i < 256; ++i) static_cast<unsigned*>(bits)[i] = pixel;
    const unsigned char maskBits[32] = {};
    HBITMAP mask = CreateBitmap(16, 16, 1, 1, maskBits);
    ICONINFO info = {TRUE, 0, 0, mask, colourBits};
    HICON icon = CreateIconIndirect(&info);
    DeleteObject(mask);
    DeleteObject(colourBits);
    return icon;
}

void replaceIcon(HICON& icon, COLORREF colour) {
    if (icon) DestroyIcon(icon);
    icon = solidIcon(colour);
}

// Histories as a running plugin has them: every column holds a load.
void fillHistories() {
    for (GraphState& g : panelModel.graphs)
        if (g.history)
            for (int64_t j = 0; j < g.samples; ++j) g.history[j] = (1 + (j * 37) % 100) * (g.scale == 100 ? 1 : 12345);
    panelModel.cpuPercent = 42;
    panelModel.memoryLoad = 63;
}

void finishModel() {
    reloadSettings();
    panelModel.framePen = CreatePen(PS_SOLID, 1, RGB(0, 0, 0));
    fillHistories();
}

void defaultModel() {
    startModel();
    finishModel();
}

// 25 disks, load graphs 1000 samples wide and the rate graphs, every icon and text set.
void largestModel(int graphWidth) {
    startModel();
    auto set = [](const std::string& key, const std::string& value) { fakehost::set("Kelvora." + key + ":", value); };
    set("width", "1020");
    set("height", "640");
    set("cpuGraph.x", "10"), set("cpuGraph.y", "10");
    set("memoryGraph.x", "10"), set("memoryGraph.y", "120");
    for (const char* graph : {"cpuGraph", "memoryGraph"}) {
        set(std::string(graph) + ".width", std::to_string(graphWidth));
        set(std::string(graph) + ".height", "100");
        set(std::string(graph) + ".color", "#40FF40");
    }
    set("diskCount", "25");
    for (int k = 1; k <= 25; ++k) {
        const std::string disk = "disk[" + std::to_string(k) + "].";
        const int column = (k - 1) / 13, row = (k - 1) % 13;  // rows 230 to 470
        set(disk + "left", std::to_string(10 + column * 510));
        set(disk + "right", std::to_string(500 + column * 510));
        set(disk + "y", std::to_string(230 + row * 20));
        set(disk + "tab_x", "20");
        set(disk + "caption", "Disk " + std::to_string(k) + " data volume");
    }
    set("netGraph.x", "520"), set("netGraph.y", "10");
    set("netGraph.width", std::to_string(graphWidth < 490 ? graphWidth : 490)), set("netGraph.height", "100");
    set("diskIoGraph.x", "520"), set("diskIoGraph.y", "120");
    set("diskIoGraph.width", std::to_string(graphWidth < 490 ? graphWidth : 490)), set("diskIoGraph.height", "100");
    const char* items[ITEM_COUNT] = {"ip",           "totalMemory", "usedMemory", "freeMemory", "battery",
                                     "systemUptime", "netDown",     "netUp",      "diskRead",   "diskWrite"};
    for (int i = 0; i < ITEM_COUNT; ++i) {
        const std::string item = items[i];
        set(item + ".caption", item + " of the machine");
        set(item + ".left", std::to_string(10 + (i % 2) * 510));
        set(item + ".right", std::to_string(500 + (i % 2) * 510));
        set(item + ".y", std::to_string(480 + (i / 2) * 30));
        set(item + ".tab_x", "20");
    }
    finishModel();
    for (int i = 0; i < ITEM_COUNT; ++i) {
        snprintf(panelModel.items[i].value, VALUE_SIZE, "%s", "1023.999 KB");
        if (i != ITEM_BATTERY) replaceIcon(panelModel.items[i].icon, RGB(0x80, 0x80, 0xFF));
    }
    replaceIcon(panelModel.icons.freedisk, RGB(0x00, 0xFF, 0x00));
    replaceIcon(panelModel.icons.fulldisk, RGB(0xFF, 0x00, 0x00));
    replaceIcon(panelModel.icons.battery, RGB(0x00, 0x00, 0xFF));
    replaceIcon(panelModel.icons.ACon, RGB(0xFF, 0xFF, 0x00));
    replaceIcon(panelModel.icons.batteryCharge, RGB(0xFF, 0x00, 0xFF));
    panelModel.onAC = true;
    for (int k = 1; k <= 25; ++k) panelModel.diskFree[k] = static_cast<int64_t>(k) * 123456789012LL;
}

// A rendering paint draws the whole model into a fresh back buffer; a cached paint only
// copies the buffer to the window; a graph's change is what a CPU tick costs the painter: that
// graph rendered again into the kept buffer and copied to the window.
void measurePaints(const char* name) {
    HWND window = createPaintingPanelWindow();
    panelModel.panelWindow = window;
    UpdateWindow(window);
    const Timing cached = measure(MEASURED_RUNS, [window] {
        InvalidateRect(window, nullptr, FALSE);
        UpdateWindow(window);
    });
    const Timing rendering = measure(MEASURED_RUNS, [window] {
        invalidatePanel();
        UpdateWindow(window);
    });
    const Timing graphChange = measure(MEASURED_RUNS, [] {
        repaintGraph(GRAPH_CPU);
        flushPanelChanges();
    });
    char label[128];
    snprintf(label, sizeof label, "%s: cached paint", name);
    printRow(label, cached);
    snprintf(label, sizeof label, "%s: rendering paint", name);
    printRow(label, rendering, rendering.median / cached.median, "of the cached paint");
    snprintf(label, sizeof label, "%s: the CPU graph's change shown", name);
    printRow(label, graphChange, graphChange.median / rendering.median, "of the rendering paint");
    panelModel.panelWindow = nullptr;
    DestroyWindow(window);
}

// The cores graph of the example theme (212 x 28) with its bars changed, as a CPU tick changes
// them: rendered again into the kept buffer and copied to the window.
void measureCoresChange(int processors) {
    startModel();
    fakehost::set("Kelvora.width:", "232");
    fakehost::set("Kelvora.height:", "200");
    fakehost::set("Kelvora.coresGraph.x:", "10");
    fakehost::set("Kelvora.coresGraph.y:", "124");
    fakehost::set("Kelvora.coresGraph.width:", "212");
    fakehost::set("Kelvora.coresGraph.height:", "28");
    finishModel();
    panelModel.coreCount = static_cast<uint32_t>(processors);
    HWND window = createPaintingPanelWindow();
    panelModel.panelWindow = window;
    UpdateWindow(window);
    int step = 0;
    const Timing change = measure(MEASURED_RUNS, [processors, &step] {
        ++step;
        for (int p = 0; p < processors; ++p) panelModel.coreLoads[p] = static_cast<uint8_t>((p * 37 + step * 11) % 101);
        repaintGraph(GRAPH_CORES);
        flushPanelChanges();
    });
    char label[128];
    snprintf(label, sizeof label, "cores graph 212 x 28, %d processors: its change shown", processors);
    printRow(label, change);
    panelModel.panelWindow = nullptr;
    DestroyWindow(window);
}

// The graphs of the example theme (panel 232 x 480), their places, sizes and colours.
void exampleGraphsModel() {
    startModel();
    const char* const keys[][2] = {
        {"width", "232"}, {"height", "480"},
        {"cpuGraph.x", "10"}, {"cpuGraph.y", "10"}, {"cpuGraph.width", "100"}, {"cpuGraph.height", "50"},
        {"cpuGraph.color", "#459EB0"}, {"cpuGraph.background", "#357AB2"},
        {"memoryGraph.x", "122"}, {"memoryGraph.y", "10"}, {"memoryGraph.width", "100"}, {"memoryGraph.height", "50"},
        {"memoryGraph.color", "#9A962E"}, {"memoryGraph.background", "#52823A"},
        {"netGraph.x", "10"}, {"netGraph.y", "72"}, {"netGraph.width", "212"}, {"netGraph.height", "40"},
        {"netGraph.color", "#4C99A8"}, {"netGraph.upColor", "#D1782A"}, {"netGraph.background", "#8C64B5"},
        {"coresGraph.x", "10"}, {"coresGraph.y", "124"}, {"coresGraph.width", "212"}, {"coresGraph.height", "28"},
        {"coresGraph.color", "#7FC4DE"}, {"coresGraph.background", "#2B5A85"},
        {"diskIoGraph.x", "10"}, {"diskIoGraph.y", "208"}, {"diskIoGraph.width", "212"}, {"diskIoGraph.height", "40"},
        {"diskIoGraph.color", "#5995B2"}, {"diskIoGraph.upColor", "#A88B32"}, {"diskIoGraph.background", "#9E6957"}};
    for (const auto& key : keys) fakehost::set(std::string("Kelvora.") + key[0] + ":", key[1]);
    finishModel();
    panelModel.coreCount = 8;
}

// One sample of a history graph as its sampler takes it: a new value a series and the caption's
// value. Rates stay below the peak that the run put at the newest column, so that the automatic
// scale holds while the plot scrolls, as it does between two peaks of traffic.
struct GraphSample {
    int graph;
    int step = 0;
    bool moved = false;
    void take() {
        ++step;
        if (graph == GRAPH_CPU || graph == GRAPH_MEMORY) {
            const int load = 1 + (step * 37) % 99;
            (graph == GRAPH_CPU ? panelModel.cpuPercent : panelModel.memoryLoad) = load;
            moved = pushHistory(panelModel.graphs[graph], load);
            return;
        }
        const int64_t rate = 1000 + (step * 7919) % 900000;
        char* caption = graph == GRAPH_NET_DOWN ? panelModel.items[ITEM_NET_DOWN].value : panelModel.diskIoTotal;
        snprintf(caption, VALUE_SIZE, "%d.%d KB/s", static_cast<int>(rate / 1024), static_cast<int>(rate % 10));
        const bool first = pushHistory(panelModel.graphs[graph], rate);
        moved = pushHistory(panelModel.graphs[graph + 1], rate / 3) || first;
    }
    void peak() {
        if (graph == GRAPH_NET_DOWN || graph == GRAPH_DISK_READ) pushHistory(panelModel.graphs[graph], 4000000);
    }
};

// Each graph of the example theme: the render of one sample and its copy to the window, with the
// plot scrolled, and drawn whole as every sample was before the plots were kept; the cores graph,
// which has no history, with its bars changed; and a sample that changes no pixel (the
// disk-activity graph's n/a under Wine, equal samples and the same caption).
void measureGraphSamples() {
    exampleGraphsModel();
    HWND window = createPaintingPanelWindow();
    panelModel.panelWindow = window;
    UpdateWindow(window);
    const struct {
        int graph;
        const char* name;
    } graphs[] = {{GRAPH_CPU, "CPU graph 100 x 50"}, {GRAPH_MEMORY, "memory graph 100 x 50"},
                  {GRAPH_NET_DOWN, "network graph 212 x 40, automatic scale"},
                  {GRAPH_DISK_READ, "disk-activity graph 212 x 40, automatic scale"}};
    char label[160];
    for (const auto& row : graphs) {
        GraphSample sample{row.graph};
        sample.peak();
        flushPanelChanges();
        const Timing scrolled = measurePrepared(MEASURED_RUNS, [&sample] { sample.take(); }, [&sample] {
            scrollGraph(sample.graph, sample.moved);
            flushPanelChanges();
        });
        sample.peak();
        const Timing whole = measurePrepared(MEASURED_RUNS, [&sample] { sample.take(); }, [&sample] {
            repaintGraph(sample.graph);
            flushPanelChanges();
        });
        snprintf(label, sizeof label, "%s: a sample drawn whole (as before)", row.name);
        printRow(label, whole);
        snprintf(label, sizeof label, "%s: a sample scrolled in", row.name);
        printRow(label, scrolled, scrolled.median / whole.median, "of drawn whole");
    }
    int step = 0;
    const Timing cores = measurePrepared(MEASURED_RUNS, [&step] {
        ++step;
        for (uint32_t p = 0; p < panelModel.coreCount; ++p)
            panelModel.coreLoads[p] = static_cast<uint8_t>((p * 37 + step * 11) % 101);
    }, [] {
        repaintGraph(GRAPH_CORES);
        flushPanelChanges();
    });
    printRow("cores graph 212 x 28, 8 processors: its bars changed", cores);
    snprintf(panelModel.diskIoTotal, VALUE_SIZE, "%s", "n/a");
    for (int graph : {GRAPH_DISK_READ, GRAPH_DISK_WRITE}) {
        GraphState& g = panelModel.graphs[graph];
        memset(g.history, 0, static_cast<size_t>(g.samples) * sizeof(int64_t));
        g.varied = 0;
    }
    invalidatePanel();
    UpdateWindow(window);
    bool moved = true;
    const Timing still = measurePrepared(MEASURED_RUNS, [&moved] {
        moved = pushHistory(panelModel.graphs[GRAPH_DISK_READ], 0);
        moved = pushHistory(panelModel.graphs[GRAPH_DISK_WRITE], 0) || moved;
    }, [&moved] {
        scrollGraph(GRAPH_DISK_READ, moved);
        flushPanelChanges();
    });
    printRow(moved ? "disk-activity graph n/a: a sample (RENDERED: wrong)" : "disk-activity graph n/a: a sample that changes no pixel",
             still);
    panelModel.panelWindow = nullptr;
    DestroyWindow(window);
}

}  // namespace

void benchGraphSamples() {
    printTableHeader("The graphs of the example theme: one sample rendered and shown (ratio: scrolled / drawn whole)");
    measureGraphSamples();
    startModel();
}

void startModel() {
    releaseBackBuffer();
    releaseSettingsResources();
    if (panelModel.framePen) DeleteObject(panelModel.framePen);
    memset(&panelModel, 0, sizeof panelModel);
    fakehost::reset();
    snprintf(panelModel.rcPath, PATH_SIZE, "%s", "C:\\plugins\\Kelvora\\Kelvora.rc");
    snprintf(panelModel.pluginDir, PATH_SIZE, "%s", "C:\\plugins\\Kelvora\\");
}

void benchPainter() {
    printTableHeader("Painter");
    defaultModel();
    measurePaints("default model (100 x 100, graphs 20 wide)");
    largestModel(1000);
    measurePaints("largest model (1020 x 640, 25 disks, graphs 1000 wide, network and disk activity 490)");
    // Columns beyond the panel are skipped and the history keeps a screen's width of samples:
    // this should cost what the largest model costs.
    largestModel(1000000);
    measurePaints("largest model, graphs 1,000,000 wide");
    measureCoresChange(2);
    measureCoresChange(256);
    startModel();
    benchGraphSamples();
}
