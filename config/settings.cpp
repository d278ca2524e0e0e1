// Settings reader: every rc key with its default, in the fixed reading order,
// and the rebuild of histories, pens, brushes, style copy, font and background brush.
#include "config/settings.h"

#include <cstdio>
#include <cstring>

#include "config/panel_model.h"
#include "sampling/ip_choice.h"
#include "sampling/own_time.h"
#include "shell/command_match.h"
#include "shell/host_api.h"
#include "shell/panel_parts.h"

namespace {

// Icon paths that failed to load during one reload. Their boxes are shown only
// after the model is complete: a box runs a message loop in which timers and
// paints reach the model, and by then every graph's width must match its history.
constexpr int ICON_KEYS = ITEM_COUNT - 1 + 5;  // one per row but the battery's, and the five of the icon set
struct IconFailures {
    int count;
    char paths[ICON_KEYS][PATH_SIZE];
};
IconFailures* pendingIconFailures = nullptr;

void showIconFailure(const char* path) {
    OwnTimeAside box;
    MessageBoxA(panelModel.hostWindow, path, "Cannot load icon", MB_TOPMOST | MB_ICONERROR);
}

void reportIconFailure(const char* path) {
    IconFailures* list = pendingIconFailures;
    if (list && list->count < ICON_KEYS) {
        snprintf(list->paths[list->count++], PATH_SIZE, "%s", path);
        return;
    }
    showIconFailure(path);
}

const char* rc() { return panelModel.rcPath; }

int readInt(const char* key, int defaultValue) { return ReadInt(rc(), key, defaultValue); }
bool readBool(const char* key) { return ReadBool(rc(), key, false); }
COLORREF readColor(const char* key, const char* defaultColor) { return ReadColor(rc(), key, defaultColor); }

// Copies the text (or the empty text for a null answer) into a field, cut to its size.
void readText(const char* key, char* field, size_t fieldSize) {
    const char* text = ReadString(rc(), key, "");
    snprintf(field, fieldSize, "%s", text ? text : "");
}

// Reads an icon key and replaces the icon it names; the plugin owns every icon it loads.
void readIcon(const char* key, HICON* icon) {
    HICON loaded = loadIcon(ReadString(rc(), key, nullptr));
    HICON old = *icon;
    *icon = loaded;
    if (old) DestroyIcon(old);
}

// A load graph's keys. The CPU and memory graphs, which every theme has, default to a small plot;
// the GPU graph to none (geometry 0), so that themes without it draw nothing more.
struct GraphDefaults {
    int x, y, width, height;
};
constexpr GraphDefaults LOAD_GRAPH_DEFAULTS = {10, 50, 20, 20};
constexpr GraphDefaults NO_GRAPH = {0, 0, 0, 0};

void readGraph(const char* name, GraphState& g, const GraphDefaults& d) {
    char key[CAPTION_SIZE];
    snprintf(key, sizeof key, "Kelvora.%s.x:", name);
    g.x = readInt(key, d.x);
    snprintf(key, sizeof key, "Kelvora.%s.y:", name);
    g.y = readInt(key, d.y);
    snprintf(key, sizeof key, "Kelvora.%s.width:", name);
    g.width = readInt(key, d.width);
    snprintf(key, sizeof key, "Kelvora.%s.height:", name);
    g.height = readInt(key, d.height);
    snprintf(key, sizeof key, "Kelvora.%s.color:", name);
    g.color = readColor(key, "#FFFFFF");
    snprintf(key, sizeof key, "Kelvora.%s.background:", name);
    g.background = readColor(key, "#000000");
}

const char* const itemNames[ITEM_COUNT] = {"ip",           "totalMemory", "usedMemory", "freeMemory", "battery",
                                           "systemUptime", "netDown",     "netUp",      "diskRead",   "diskWrite",
                                           "gpuMemory"};

void readItem(int index, InfoItem& item) {
    const char* name = itemNames[index];
    char key[CAPTION_SIZE];
    snprintf(key, sizeof key, "Kelvora.%s.caption:", name);
    readText(key, item.caption, sizeof item.caption);
    snprintf(key, sizeof key, "Kelvora.%s.left:", name);
    item.left = readInt(key, 0);
    snprintf(key, sizeof key, "Kelvora.%s.right:", name);
    item.right = readInt(key, 0);
    snprintf(key, sizeof key, "Kelvora.%s.y:", name);
    item.y = readInt(key, 0);
    snprintf(key, sizeof key, "Kelvora.%s.tab_x:", name);
    item.tab_x = readInt(key, 0);
    snprintf(key, sizeof key, "Kelvora.%s.tab_y:", name);
    item.tab_y = readInt(key, 0);
    // The battery row has no icon of its own: the painter picks one by power state.
    if (index == ITEM_BATTERY) return;
    snprintf(key, sizeof key, "Kelvora.%s.icon:", name);
    readIcon(key, &item.icon);
}

// A rate graph's two graphs share the plot: the second (upload, write) takes the first's geometry
// and background. A scale of 0 or below is automatic; otherwise it counts KB/s.
void readRateGraph(const char* name, GraphState& down, GraphState& up) {
    char key[CAPTION_SIZE];
    snprintf(key, sizeof key, "Kelvora.%s.x:", name);
    down.x = readInt(key, 0);
    snprintf(key, sizeof key, "Kelvora.%s.y:", name);
    down.y = readInt(key, 0);
    snprintf(key, sizeof key, "Kelvora.%s.width:", name);
    down.width = readInt(key, 0);
    snprintf(key, sizeof key, "Kelvora.%s.height:", name);
    down.height = readInt(key, 0);
    snprintf(key, sizeof key, "Kelvora.%s.color:", name);
    down.color = readColor(key, "#FFFFFF");
    snprintf(key, sizeof key, "Kelvora.%s.upColor:", name);
    up.color = readColor(key, "#FF8000");
    snprintf(key, sizeof key, "Kelvora.%s.background:", name);
    down.background = readColor(key, "#000000");
    snprintf(key, sizeof key, "Kelvora.%s.scale:", name);
    const int32_t scaleKb = readInt(key, 0);
    down.scale = scaleKb > 0 ? int64_t{scaleKb} * 1024 : 0;
    up.x = down.x;
    up.y = down.y;
    up.width = down.width;
    up.height = down.height;
    up.background = down.background;
    up.scale = down.scale;
}

// Every network key comes after every other key, in one block, so that the reads of themes
// written before the network parts keep their order.
void readNetworkSettings() {
    PanelModel& m = panelModel;
    m.timers.net = readInt("Kelvora.timers.net:", 1000);
    readText("Kelvora.net.interface:", m.netInterface, sizeof m.netInterface);
    readItem(ITEM_NET_DOWN, m.items[ITEM_NET_DOWN]);
    readItem(ITEM_NET_UP, m.items[ITEM_NET_UP]);
    readRateGraph("netGraph", m.graphs[GRAPH_NET_DOWN], m.graphs[GRAPH_NET_UP]);
}

// The disk-activity keys, in one block after every key read before them, so that older themes
// read, look and behave as before.
void readDiskIoSettings() {
    PanelModel& m = panelModel;
    m.timers.diskIo = readInt("Kelvora.timers.diskIo:", 1000);
    readText("Kelvora.diskIo.disk:", m.diskIoDisk, sizeof m.diskIoDisk);
    readItem(ITEM_DISK_READ, m.items[ITEM_DISK_READ]);
    readItem(ITEM_DISK_WRITE, m.items[ITEM_DISK_WRITE]);
    readRateGraph("diskIoGraph", m.graphs[GRAPH_DISK_READ], m.graphs[GRAPH_DISK_WRITE]);
}

// The actions of the table's entries [first, end), a disk's for each disk read.
void readActions(int first, int end) {
    char key[CAPTION_SIZE];
    for (int entry = first; entry < end; ++entry) {
        const PanelPart& part = panelParts[entry];
        if (part.kind != PART_DISK) {
            snprintf(key, sizeof key, "Kelvora.%s.action:", part.name);
            readText(key, partActionOf(partId(entry, 0)), ACTION_SIZE);
            continue;
        }
        for (int slot = 1; slot <= usedDiskSlots(); ++slot) {
            snprintf(key, sizeof key, "Kelvora.%s[%d].action:", part.name, slot);
            readText(key, partActionOf(partId(entry, slot)), ACTION_SIZE);
        }
    }
}

// The tooltips switch and the action of every part before the GPU's, in the table's order: one
// block after every older key, so that themes without them read as before.
void readTooltipsAndActions() {
    panelModel.tooltips = ReadBool(rc(), "Kelvora.tooltips:", true);
    readActions(0, FIRST_GPU_PART);
}

// The cores graph's plot and colours, then the measure behind the CPU figure: one block after
// every older key. "utility" is taken without regard to the case of its letters, as the shell
// takes "true"; any other text means busy time.
void readCoresAndMeasure() {
    PanelModel& m = panelModel;
    GraphState& cores = m.graphs[GRAPH_CORES];
    cores.x = readInt("Kelvora.coresGraph.x:", 0);
    cores.y = readInt("Kelvora.coresGraph.y:", 0);
    cores.width = readInt("Kelvora.coresGraph.width:", 0);
    cores.height = readInt("Kelvora.coresGraph.height:", 0);
    cores.color = readColor("Kelvora.coresGraph.color:", "#FFFFFF");
    cores.background = readColor("Kelvora.coresGraph.background:", "#000000");
    const char* measure = ReadString(rc(), "Kelvora.cpu.measure:", "time");
    m.cpuUtility = measure && isUtilityMeasure(measure);
}

// The IP row's interface and address family: one block after every older key.
void readIpSettings() {
    readText("Kelvora.ip.interface:", panelModel.ipInterface, sizeof panelModel.ipInterface);
    const char* family = ReadString(rc(), "Kelvora.ip.family:", "ipv4");
    panelModel.ipFamily = ipFamilyOf(family);
}

// The GPU graph, the memory row and the adapter shown: one block after every older key, the
// actions included, so that themes without them read as before.
void readGpuSettings() {
    PanelModel& m = panelModel;
    readGraph("gpuGraph", m.graphs[GRAPH_GPU], NO_GRAPH);
    readItem(ITEM_GPU_MEMORY, m.items[ITEM_GPU_MEMORY]);
    readText("Kelvora.gpu.adapter:", m.gpuAdapter, sizeof m.gpuAdapter);
    readActions(FIRST_GPU_PART, PANEL_PART_COUNT);
}

void readDisk(int i, DiskEntry& d) {
    const char* prefix = "Kelvora.disk";
    char key[CAPTION_SIZE];
    snprintf(key, sizeof key, "%s[%d].left:", prefix, i);
    d.left = readInt(key, 0);
    snprintf(key, sizeof key, "%s[%d].right:", prefix, i);
    d.right = readInt(key, 0);
    snprintf(key, sizeof key, "%s[%d].y:", prefix, i);
    d.y = readInt(key, 0);
    snprintf(key, sizeof key, "%s[%d].tab_x:", prefix, i);
    d.tab_x = readInt(key, 0);
    snprintf(key, sizeof key, "%s[%d].tab_y:", prefix, i);
    d.tab_y = readInt(key, 0);
    snprintf(key, sizeof key, "%s[%d].path:", prefix, i);
    readText(key, d.path, sizeof d.path);
    snprintf(key, sizeof key, "%s[%d].caption:", prefix, i);
    readText(key, d.caption, sizeof d.caption);
}

template <typename Handle>
void deleteGdiObject(Handle& object) {
    if (object) DeleteObject(object);
    object = nullptr;
}

void releaseHistory(GraphState& g) {
    if (g.history) LocalFree(g.history);
    g.history = nullptr;
    g.samples = 0;
    g.varied = 0;
}

// A width below 1, or one whose buffer cannot be had, leaves the graph without history.
// Samples that would sit further left than any panel's width from the newest can never be
// drawn while a panel is that wide, so a very wide graph keeps only the newest ones: its
// cost then follows the screen, not the rc value.
void allocateHistory(GraphState& g) {
    if (g.width < 1) return;
    const int32_t limit = shownColumnLimit();
    const int32_t samples = g.width < limit ? g.width : limit;
    g.history = static_cast<int64_t*>(LocalAlloc(LMEM_ZEROINIT, static_cast<size_t>(samples) * sizeof(int64_t)));
    if (g.history) g.samples = samples;
}

void rebuildGraph(GraphState& g) {
    releaseHistory(g);
    // The cores graph draws the loads of now, one bar a processor: it keeps no samples.
    if (&g != &panelModel.graphs[GRAPH_CORES]) allocateHistory(g);
    deleteGdiObject(g.pen);
    g.pen = CreatePen(PS_SOLID, 1, g.color);
    deleteGdiObject(g.brush);
    g.brush = CreateSolidBrush(g.background);
}

void copyHostStyle() {
    void* style = GetSettingPtr(1);
    if (style)
        memcpy(panelModel.panelStyle, style, STYLE_SIZE);
    else
        memset(panelModel.panelStyle, 0, STYLE_SIZE);
    deleteGdiObject(panelModel.font);
    panelModel.font = style ? CreateStyleFont(style) : nullptr;
}

void destroyIcon(HICON& icon) {
    if (icon) DestroyIcon(icon);
    icon = nullptr;
}

}  // namespace

HICON loadIcon(const char* name) {
    if (!name) return nullptr;
    char path[PATH_SIZE];
    int length = snprintf(path, sizeof path, "%s%s", panelModel.pluginDir, name);
    // A path that does not fit is a failed load; its box shows the cut path.
    HICON icon = nullptr;
    if (length >= 0 && length < PATH_SIZE)
        icon = static_cast<HICON>(LoadImageA(nullptr, path, IMAGE_ICON, 0, 0, LR_LOADFROMFILE));
    if (!icon) reportIconFailure(path);
    return icon;
}

void readSettings() {
    PanelModel& m = panelModel;
    m.x = readInt("Kelvora.x:", 100);
    m.y = readInt("Kelvora.y:", 100);
    m.width = readInt("Kelvora.width:", 100);
    m.height = readInt("Kelvora.height:", 100);

    m.timers.cpu = readInt("Kelvora.timers.cpu:", 1000);
    m.timers.memory = readInt("Kelvora.timers.memory:", 1000);
    m.timers.battery = readInt("Kelvora.timers.battery:", 2000);
    m.timers.uptime = readInt("Kelvora.timers.uptime:", 60000);
    m.timers.ip = readInt("Kelvora.timers.ip:", 600000);
    m.timers.disk = readInt("Kelvora.timers.disk:", 5000);

    m.alphaEnabled = readBool("Kelvora.alphaEnabled:");
    m.alphaValue = readInt("Kelvora.alphaValue:", 100);
    m.sctEnabled = readBool("Kelvora.sctEnabled:");
    m.sctColor = readColor("Kelvora.sctColor:", "#FFFFFF");
    m.alwaysOnTop = readBool("Kelvora.alwaysOnTop:");
    m.pluginToggle = readBool("Kelvora.pluginToggle:");
    m.inSlit = readBool("Kelvora.inSlit:");

    readGraph("cpuGraph", m.graphs[GRAPH_CPU], LOAD_GRAPH_DEFAULTS);
    readGraph("memoryGraph", m.graphs[GRAPH_MEMORY], LOAD_GRAPH_DEFAULTS);

    // The rc value counts millions of bytes; the product needs 64 bits.
    m.fullQuota = static_cast<int64_t>(readInt("Kelvora.fullQuota:", 500)) * 1000000;

    for (int i = 0; i < ALWAYS_DRAWN_ITEMS; ++i) readItem(i, m.items[i]);

    readIcon("Kelvora.icons.freedisk:", &m.icons.freedisk);
    readIcon("Kelvora.icons.fulldisk:", &m.icons.fulldisk);
    readIcon("Kelvora.icons.battery:", &m.icons.battery);
    readIcon("Kelvora.icons.ACon:", &m.icons.ACon);
    readIcon("Kelvora.icons.batteryCharge:", &m.icons.batteryCharge);

    m.diskCount = readInt("Kelvora.diskCount:", 0);
    // Only 25 slots exist: a larger count reads (and later measures and draws) 25 disks.
    int disks = usedDiskSlots();
    for (int i = 1; i <= disks; ++i) readDisk(i, m.disks[i]);

    readNetworkSettings();
    m.snapToEdges = readBool("Kelvora.snapToEdges:");
    // Newer keys come after all of these, each part's after the one before it, so that a newer key
    // never moves the reads before it.
    readCoresAndMeasure();
    readDiskIoSettings();
    readTooltipsAndActions();
    readIpSettings();
    readGpuSettings();
}

void clearGraphHistories() {
    for (GraphState& g : panelModel.graphs)
        if (g.history) memset(g.history, 0, static_cast<size_t>(g.samples) * sizeof(int64_t));
}

void reloadSettings() {
    IconFailures failures;
    failures.count = 0;
    pendingIconFailures = &failures;
    readSettings();
    pendingIconFailures = nullptr;

    for (GraphState& g : panelModel.graphs) rebuildGraph(g);
    // Load graphs draw percentages: 100 fills the plot.
    panelModel.graphs[GRAPH_CPU].scale = 100;
    panelModel.graphs[GRAPH_MEMORY].scale = 100;
    panelModel.graphs[GRAPH_GPU].scale = 100;
    panelModel.netRestart = true;
    panelModel.diskIoRestart = true;
    panelModel.coresRestart = true;
    panelModel.ipRestart = true;
    panelModel.gpuRestart = true;
    copyHostStyle();
    deleteGdiObject(panelModel.sctBrush);
    if (panelModel.sctEnabled) panelModel.sctBrush = CreateSolidBrush(panelModel.sctColor);
    clearGraphHistories();

    for (int i = 0; i < failures.count; ++i) showIconFailure(failures.paths[i]);
}

void releaseSettingsResources() {
    PanelModel& m = panelModel;
    for (GraphState& g : m.graphs) {
        releaseHistory(g);
        deleteGdiObject(g.pen);
        deleteGdiObject(g.brush);
    }
    deleteGdiObject(m.font);
    deleteGdiObject(m.sctBrush);
    for (InfoItem& item : m.items) destroyIcon(item.icon);
    destroyIcon(m.icons.freedisk);
    destroyIcon(m.icons.fulldisk);
    destroyIcon(m.icons.battery);
    destroyIcon(m.icons.ACon);
    destroyIcon(m.icons.batteryCharge);
}
