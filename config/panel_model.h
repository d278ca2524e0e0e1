// The plugin's whole in-memory state: settings from the rc file, the drawing
// resources made from them, the measurements, and the running plugin's handles.
#pragma once

#include <windows.h>
#include <cstdint>

#include "sampling/core_loads.h"

constexpr int CAPTION_SIZE = 100;  // captions and disk paths
constexpr int VALUE_SIZE = 52;     // measured value texts
constexpr int PATH_SIZE = 260;     // file system paths
constexpr int MAX_DISKS = 25;      // disk slots 1..25; slot 0 is never used
constexpr int STYLE_SIZE = 300;
constexpr int ACTION_SIZE = PATH_SIZE;  // a part's action: a broadcast command or a command line

struct GraphState {
    int32_t x;
    int32_t y;
    int32_t width;   // plot width in pixels, one column per sample
    int32_t height;
    COLORREF color;
    COLORREF background;
    HBRUSH brush;
    HPEN pen;
    int64_t scale;   // sample value drawn at full height; 0: the largest sample shown (network graph)
    int64_t* history;  // the newest `samples` samples, oldest first; null when the graph has none
    // Samples held in history: width, but never more than shownColumnLimit(). Sample j of
    // the graph (column x + j) is history[j - (width - samples)]; older ones are 0.
    int32_t samples;
    char action[ACTION_SIZE];  // run by a double click on the graph; empty: none
    // The held samples that may differ from the newest: history[0 .. varied). From there on every
    // one equals the newest, so that a sample equal to them all moves nothing the graph shows. A
    // history of zeros (a reload's) has none; a value too large only costs a render.
    int32_t varied;
};

struct InfoItem {
    char caption[CAPTION_SIZE];
    char value[VALUE_SIZE];
    int32_t left;
    int32_t right;
    int32_t y;
    int32_t tab_x;
    int32_t tab_y;
    HICON icon;
    char action[ACTION_SIZE];
};

struct DiskEntry {
    int32_t left;
    int32_t right;
    int32_t y;
    int32_t tab_x;
    int32_t tab_y;
    char caption[CAPTION_SIZE];
    char path[CAPTION_SIZE];
    char action[ACTION_SIZE];  // "%s" in it stands for the path
};

// What a disk row knows of its volume. The volume worker answers a disk's query a moment after
// the tick that asked for it, and a volume that does not answer (a network share whose server is
// gone) may leave it out for long.
enum DiskReading : int32_t {
    DISK_NOT_READ = 0,  // no answer since the start or since its path changed: caption only
    DISK_READ,          // diskFree holds the volume's answer
    DISK_LATE,          // no answer for three disk periods: "n/a", until it answers again
};
constexpr int DISK_PERIODS_BEFORE_LATE = 3;
constexpr int VOLUME_TEXT_SIZE = 40;  // a volume label (32 characters) or file system name

struct DiskVolume {
    char path[CAPTION_SIZE];  // the path the reading belongs to
    DiskReading reading;
    int32_t periodsOut;  // disk periods the query has been out without an answer
    int64_t totalBytes;
    bool described;      // label and file system are known
    char label[VOLUME_TEXT_SIZE];
    char fileSystem[VOLUME_TEXT_SIZE];
};

struct IconSet {
    HICON freedisk;
    HICON fulldisk;
    HICON battery;
    HICON ACon;
    HICON batteryCharge;
};

struct TimerPeriods {
    int32_t cpu;
    int32_t memory;
    int32_t battery;
    int32_t uptime;
    int32_t ip;
    int32_t disk;
    int32_t net;
    int32_t diskIo;
};

typedef BOOL(WINAPI* SetLayeredWindowAttributesFn)(HWND, COLORREF, BYTE, DWORD);

enum ItemIndex {
    ITEM_IP = 0, ITEM_TOTAL_MEMORY, ITEM_USED_MEMORY, ITEM_FREE_MEMORY, ITEM_BATTERY, ITEM_UPTIME,
    ITEM_NET_DOWN, ITEM_NET_UP, ITEM_DISK_READ, ITEM_DISK_WRITE, ITEM_GPU_MEMORY, ITEM_COUNT
};
// The six rows every theme has are drawn whatever their geometry; the rate rows (network and
// disk activity) and the GPU memory row only where a theme gives them room (right greater than left), so that themes
// without them look as before.
constexpr int ALWAYS_DRAWN_ITEMS = ITEM_NET_DOWN;
enum TimerIndex {
    TIMER_CPU = 0, TIMER_MEMORY, TIMER_BATTERY, TIMER_UPTIME, TIMER_IP, TIMER_DISK, TIMER_NET, TIMER_DISK_IO, TIMER_COUNT
};
// A rate graph is two graphs on one plot: the first's bars (download, read), and the second's
// (upload, write) drawn over them. Both hold the plot's geometry; the first graph's background
// and frame are the plot's. The cores graph shows one bar a processor, its loads of now: it keeps
// no history. The GPU graph is a load graph like the CPU graph, drawn where a theme gives it room.
enum GraphIndex {
    GRAPH_CPU = 0, GRAPH_MEMORY, GRAPH_NET_DOWN, GRAPH_NET_UP, GRAPH_CORES, GRAPH_DISK_READ, GRAPH_DISK_WRITE, GRAPH_GPU,
    GRAPH_COUNT
};

struct PanelModel {
    // Window settings.
    int32_t x;
    int32_t y;
    int32_t width;
    int32_t height;
    bool alphaEnabled;
    bool sctEnabled;
    int32_t alphaValue;
    COLORREF sctColor;
    bool alwaysOnTop;
    bool pluginToggle;
    bool inSlit;
    bool snapToEdges;  // a dragged floating panel snaps to the edges of its monitor's work area
    bool tooltips;     // details shown when the pointer rests on a part

    TimerPeriods timers;
    int64_t fullQuota;

    GraphState graphs[GRAPH_COUNT];
    InfoItem items[ITEM_COUNT];
    DiskEntry disks[MAX_DISKS + 1];
    int32_t diskCount;
    int64_t diskFree[MAX_DISKS + 1];
    DiskVolume volumes[MAX_DISKS + 1];
    IconSet icons;
    // The one interface to count, as Kelvora.net.interface: names it; empty for the automatic choice.
    char netInterface[PATH_SIZE];
    // Set by every reload: the network sampler's next reading starts afresh, with the new name.
    bool netRestart;
    // Kelvora.cpu.measure: "utility": the CPU figure is the processor utility where the system
    // has that counter; otherwise, and by default, busy time.
    bool cpuUtility;
    // Set by every reload: the cores graph's next reading takes its baseline, every bar at 0.
    bool coresRestart;
    // The one physical disk whose activity is shown, as Kelvora.diskIo.disk: names it; empty: all.
    char diskIoDisk[PATH_SIZE];
    // Set by every reload, like netRestart, for the disk-activity sampler.
    bool diskIoRestart;
    // The interface the IP row follows, named as Kelvora.net.interface: names one; empty: the
    // automatic choice. The family is Kelvora.ip.family: (IpFamily: IPv4, IPv6 or both).
    char ipInterface[PATH_SIZE];
    int32_t ipFamily;
    // Set by every reload: the network sampler's next tick reads the IP row anew.
    bool ipRestart;
    // The adapter Kelvora.gpu.adapter: names (its adapter string or its place in the list);
    // empty: the busiest.
    char gpuAdapter[PATH_SIZE];
    // Set by every reload: the GPU reading's next engines take their baseline, and the name anew.
    bool gpuRestart;

    // Measurements.
    int32_t cpuPercent;
    int32_t memoryLoad;
    // The busy time of each logical processor at the last CPU tick, processor 0 first; a count of
    // 0 when the processors cannot be read (no bars).
    uint32_t coreCount;
    uint8_t coreLoads[MAX_CORES];
    char diskIoTotal[VALUE_SIZE];  // the disk-activity graph's caption value: read plus write
    int32_t gpuPercent;            // the shown adapter's load; -1: n/a
    bool batteryCharging;
    bool onAC;

    // Drawing resources.
    unsigned char panelStyle[STYLE_SIZE];
    HFONT font;
    HBRUSH sctBrush;
    HPEN framePen;
    HBITMAP backBuffer;  // the panel as rendered last; the painter keeps it until invalidatePanel

    // Handles, paths and timers of the running plugin.
    HWND hostWindow;
    HINSTANCE pluginInstance;
    HWND panelWindow;
    HWND slitWindow;
    SetLayeredWindowAttributesFn setLayeredWindowAttributes;
    UINT_PTR timerIds[TIMER_COUNT];
    char pluginDir[PATH_SIZE];
    char rcPath[PATH_SIZE];
};

// The one model of the loaded module; zero until the first reload.
extern PanelModel panelModel;

inline GraphState& cpuGraph() { return panelModel.graphs[GRAPH_CPU]; }
inline GraphState& memoryGraph() { return panelModel.graphs[GRAPH_MEMORY]; }
// A rate graph (GRAPH_NET_DOWN, GRAPH_DISK_READ) is drawn only when its plot has room: themes
// without its keys show nothing.
inline bool rateGraphShown(int graph) {
    const GraphState& g = panelModel.graphs[graph];
    return g.width >= 1 && g.height >= 1;
}
inline bool netGraphShown() { return rateGraphShown(GRAPH_NET_DOWN); }

// The GPU graph likewise.
inline bool gpuGraphShown() {
    const GraphState& g = panelModel.graphs[GRAPH_GPU];
    return g.width >= 1 && g.height >= 1;
}

// The cores graph is drawn only when its plot has room: themes without it show nothing.
inline bool coresGraphShown() {
    const GraphState& g = panelModel.graphs[GRAPH_CORES];
    return g.width >= 1 && g.height >= 1;
}

// The panel's window and backBuffer are never larger than the virtual screen: a larger
// panel can never be seen whole, and its bitmap and every rendering would grow without
// bound. Below the limit the rc values stand as they are.
int32_t shownPanelWidth();
int32_t shownPanelHeight();
// The most columns a panel can show, the virtual screen's width; a graph keeps no more
// samples than this.
int32_t shownColumnLimit();

// Number of disk slots in use: diskCount confined to 0..25.
inline int usedDiskSlots() {
    int n = panelModel.diskCount;
    return n < 0 ? 0 : (n > MAX_DISKS ? MAX_DISKS : n);
}
