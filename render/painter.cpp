// Panel painter: background, the load (CPU, memory, GPU), rate and cores graphs, the disk rows and the information
// rows drawn into backBuffer, which is kept from paint to paint: a sampler asks for the parts it
// changed, the changes of one moment are rendered together, and a render draws each part the
// one way a whole rendering does, clipped to the pixels that changed. A history graph keeps its
// plot in a bitmap of its own, which a new sample scrolls by one column.
#include "render/painter.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "config/panel_model.h"
#include "sampling/byte_size.h"
#include "sampling/core_loads.h"
#include "sampling/own_time.h"
#include "shell/host_api.h"

namespace {

constexpr int TEXT_ROW_HEIGHT = 20;
constexpr int DISK_CAPTION_WIDTH = 100;
constexpr int DISK_FREE_WIDTH = 100;
constexpr UINT GRAPH_CAPTION_FORMAT = DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_END_ELLIPSIS;
// Room for any graph caption and any byte-size text, a negative count included.
constexpr int TEXT_BUFFER_SIZE = 24;
// Bars are capped here: far beyond any bitmap, and clear of int overflow in y + h - bar.
constexpr double BAR_LIMIT = 1 << 30;

static_assert(TEXT_BUFFER_SIZE > BYTE_SIZE_TEXT_MAX, "byte-size texts must fit the text buffer");
static_assert(TEXT_BUFFER_SIZE >= sizeof("DISK 8589934592.00 GB/s"), "the longest rate caption must fit the text buffer");

// Model positions are rc values; sums of them are formed in 64 bits and kept within
// the coordinate type, so that extreme settings cannot overflow.
int coordinate(int64_t value) {
    if (value > INT32_MAX) return INT32_MAX;
    if (value < INT32_MIN) return INT32_MIN;
    return static_cast<int>(value);
}

RECT rectangleOf(int64_t left, int64_t top, int64_t right, int64_t bottom) {
    return RECT{coordinate(left), coordinate(top), coordinate(right), coordinate(bottom)};
}

// The panel's shown size (the screen's size bounds it), taken when the renderings are made and
// used by every render until they are dropped: asking the system costs a call into the window
// server each time, and a render would ask for every part.
RECT panelArea = {0, 0, 0, 0};

void takePanelArea() { panelArea = RECT{0, 0, shownPanelWidth(), shownPanelHeight()}; }

COLORREF styleTextColour() {
    COLORREF colour;
    memcpy(&colour, panelModel.panelStyle + HOST_STYLE_TEXT_COLOR_OFFSET, sizeof colour);
    return colour;
}

// Texts are passed with their length, read no further than their field.
void drawText(HDC dc, const char* text, size_t fieldSize, RECT rect, UINT format) {
    DrawTextA(dc, text, static_cast<int>(strnlen(text, fieldSize)), &rect, format);
}

void drawIcon(HDC dc, HICON icon, int left, int top) {
    DrawStateA(dc, nullptr, nullptr, reinterpret_cast<LPARAM>(icon), 0, left, top, 0, 0, DST_ICON);
}

void drawBackground(HDC dc) {
    RECT panel = panelArea;
    if (panelModel.sctEnabled)
        FillRect(dc, &panel, panelModel.sctBrush);  // the colour the window makes transparent
    else
        MakeStyleGradient(dc, &panel, panelModel.panelStyle, true);
}

// Bar height of one sample: the single-precision factor times the sample in double
// precision, truncated toward zero. The float factor is what leaves a full-scale
// sample one pixel short for many heights (h = 3 draws 100 as 2).
int barHeight(float factor, int64_t sample) {
    double product = static_cast<double>(factor) * static_cast<double>(sample);
    if (std::isnan(product)) return 0;  // a scale of 0 meets a sample of 0
    if (product > BAR_LIMIT) return static_cast<int>(BAR_LIMIT);
    if (product < -BAR_LIMIT) return -static_cast<int>(BAR_LIMIT);
    return static_cast<int>(product);
}

// Panel columns [from, to): what a drawing of bars is confined to.
struct ColumnSpan {
    int64_t from;
    int64_t to;
};
constexpr ColumnSpan EVERY_COLUMN = {INT32_MIN, int64_t{INT32_MAX} + 1};

// The columns of graph g that lie inside the panel (and inside `span`), as sample indices
// [first, end), and the index of its oldest held sample. Only those columns can reach
// backBuffer, so a very wide graph costs no more than the panel is wide.
struct ShownSamples {
    int64_t first;
    int64_t end;
    int64_t oldestHeld;
};

ShownSamples shownSamples(const GraphState& g, ColumnSpan span = EVERY_COLUMN) {
    const int64_t oldestHeld = int64_t{g.width} - g.samples;
    int64_t first = std::max(-static_cast<int64_t>(g.x), span.from - g.x);
    int64_t end = std::min(static_cast<int64_t>(panelArea.right), span.to) - g.x;
    if (first < oldestHeld) first = oldestHeld;
    if (end > g.width) end = g.width;
    return ShownSamples{first, end, oldestHeld};
}

// The rows a bar standing on `base` fills, [top, bottom), false when none is on the panel. Rows
// beyond the panel show nothing: bars are cut to a row past its edges, which keeps the coordinates
// of huge bars far from any limit of the system's drawing.
struct BarRows {
    int64_t top;
    int64_t bottom;
};

bool barRowsShown(int64_t base, int64_t bar, BarRows& rows) {
    if (bar <= 0) return false;
    rows.top = std::max(base - bar, int64_t{-1});
    rows.bottom = std::min(base, int64_t{panelArea.bottom} + 1);
    return rows.top < rows.bottom;
}

// One-pixel columns of bars, drawn as vertical lines in the pen selected: a line ends one pixel
// short of its end point, so a line from base - bar to base fills the column's rows base - bar to
// base - 1, the bar standing on the plot's bottom row. One call draws many columns; each single
// figure costs a call of its own. A bar of 0 or below has no column: a negative one would
// otherwise draw into the frame below the plot area.
class BarColumns {
public:
    BarColumns(HDC dc, int64_t base) : dc(dc), base(base) {}
    ~BarColumns() { flush(); }
    void add(int64_t column, int64_t bar) {
        BarRows rows;
        if (!barRowsShown(base, bar, rows)) return;
        ends[2 * lines] = POINT{static_cast<int>(column), static_cast<int>(rows.top)};
        ends[2 * lines + 1] = POINT{static_cast<int>(column), static_cast<int>(rows.bottom)};
        pointsPerLine[lines] = 2;
        if (++lines == CHUNK) flush();
    }

private:
    static constexpr int CHUNK = 256;  // columns a call, on the stack: a steady render allocates nothing
    void flush() {
        if (lines > 0) PolyPolyline(dc, ends, pointsPerLine, lines);
        lines = 0;
    }
    HDC dc;
    int64_t base;
    POINT ends[2 * CHUNK];
    DWORD pointsPerLine[CHUNK];
    int lines = 0;
};

// A graph's samples, oldest at the left, each as high as barOf(sample) says, added to `columns`
// (BarColumns, or a kept plot's pixels). Samples older than the history holds are 0 and have no
// column.
template <typename Columns, typename BarOf>
void addBars(Columns& columns, const GraphState& g, ColumnSpan span, BarOf barOf) {
    if (!g.history || g.samples < 1) return;
    const ShownSamples shown = shownSamples(g, span);
    for (int64_t j = shown.first; j < shown.end; ++j) columns.add(g.x + j, barOf(g.history[j - shown.oldestHeld]));
}

// The row a series' bars stand on: one below the plot's bottom row.
int64_t barBase(const GraphState& g) { return static_cast<int64_t>(g.y) + g.height; }

// Load graphs: percentages against a scale of 100, through the single-precision factor.
float loadFactor(const GraphState& g) {
    return static_cast<float>(static_cast<double>(g.height) / static_cast<double>(g.scale));
}

// The highest bar among the columns a load graph shows, 0 when none stands. A bar grows or falls
// with its sample, as the factor's sign says, so the lowest or the highest sample makes it: the
// walk, at every render of the graph, compares integers and converts two of them to bars, which
// the x86 build does through the x87 unit at several times an integer comparison's cost.
int highestLoadBar(const GraphState& g) {
    if (!g.history || g.samples < 1) return 0;
    const ShownSamples shown = shownSamples(g);
    if (shown.first >= shown.end) return 0;
    int64_t least = INT64_MAX, most = INT64_MIN;
    for (int64_t j = shown.first; j < shown.end; ++j) {
        const int64_t sample = g.history[j - shown.oldestHeld];
        least = std::min(least, sample);
        most = std::max(most, sample);
    }
    const float factor = loadFactor(g);
    return std::max({0, barHeight(factor, least), barHeight(factor, most)});
}

// Frame one pixel outside the plot area, filled with the graph's background by its brush.
RECT frameRect(const GraphState& g) {
    return rectangleOf(int64_t{g.x} - 1, int64_t{g.y} - 1, int64_t{g.x} + g.width + 1, int64_t{g.y} + g.height + 1);
}

void drawGraphFrame(HDC dc, const GraphState& g) {
    SelectObject(dc, g.brush);
    SelectObject(dc, panelModel.framePen);
    const RECT frame = frameRect(g);
    Rectangle(dc, frame.left, frame.top, frame.right, frame.bottom);
}

RECT captionRect(const GraphState& g) { return rectangleOf(g.x, g.y, int64_t{g.x} + g.width, int64_t{g.y} + g.height); }

// A rate graph (network, disk activity): its first graph holds the plot and the bars drawn first
// (download, read), the second the bars drawn over them (upload, write).
bool isRateGraph(int index) { return index == GRAPH_NET_DOWN || index == GRAPH_DISK_READ; }
bool isRateGraphOverlay(int index) { return index == GRAPH_NET_UP || index == GRAPH_DISK_WRITE; }

// The graphs that draw a history, one column a sample, and keep their plot between renders so
// that a new sample scrolls it: every graph but the cores graph (a rate graph by its first graph).
// A new history graph joins here and in graphCaption, and its sampler calls pushHistory and then
// scrollGraph with the result.
bool scrollsHistory(int index) {
    return index == GRAPH_CPU || index == GRAPH_MEMORY || index == GRAPH_GPU || isRateGraph(index);
}

// The caption centred over a history graph: "CPU", "MEM" and "GPU" with their loads ("GPU n/a"
// where no adapter can be read), "NET" with the download rate, "DISK" with the read-plus-write rate.
void graphCaption(int index, char* text, size_t size) {
    switch (index) {
    case GRAPH_CPU: snprintf(text, size, "CPU %d%%", panelModel.cpuPercent); break;
    case GRAPH_MEMORY: snprintf(text, size, "MEM %d%%", panelModel.memoryLoad); break;
    case GRAPH_GPU:
        if (panelModel.gpuPercent < 0)
            snprintf(text, size, "%s", "GPU n/a");
        else
            snprintf(text, size, "GPU %d%%", panelModel.gpuPercent);
        break;
    case GRAPH_NET_DOWN: snprintf(text, size, "NET %s", panelModel.items[ITEM_NET_DOWN].value); break;
    case GRAPH_DISK_READ: snprintf(text, size, "DISK %s", panelModel.diskIoTotal); break;
    default: snprintf(text, size, "%s", "");
    }
}

// A rate graph's full height: its scale in bytes per second, or, when automatic, the largest
// rate either direction shows, and never less than 1 KB/s.
int64_t rateGraphScale(const GraphState& down, const GraphState& up) {
    if (down.scale > 0) return down.scale;
    int64_t largest = 1024;
    for (const GraphState* g : {&down, &up}) {
        if (!g->history || g->samples < 1) continue;
        const ShownSamples shown = shownSamples(*g);
        for (int64_t j = shown.first; j < shown.end; ++j)
            if (g->history[j - shown.oldestHeld] > largest) largest = g->history[j - shown.oldestHeld];
    }
    return largest;
}

// A rate's bar: rate * height / scale rounded down, in exact integers, so that the largest rate
// of an automatic scale fills the plot; a rate above a fixed scale fills it and goes no higher.
// Where scale * height fits 32 bits (every scale up to 100 MB/s on a plot 40 pixels high) the
// division is a 32-bit one: in a 32-bit build a 64-bit division is a library call a column.
class RateBars {
public:
    RateBars(int64_t scale, int32_t height)
        : scale(scale), height(height), narrow(height > 0 && scale <= int64_t{UINT32_MAX / static_cast<uint32_t>(height)}) {}
    int operator()(int64_t rate) const {
        if (rate <= 0 || height <= 0) return 0;
        if (rate >= scale) return height;
        if (narrow)
            return static_cast<int>(static_cast<uint32_t>(rate) * static_cast<uint32_t>(height) / static_cast<uint32_t>(scale));
        if (rate <= INT64_MAX / height) return static_cast<int>(rate * height / scale);
        return static_cast<int>(static_cast<double>(rate) / static_cast<double>(scale) * height);
    }

private:
    int64_t scale;
    int32_t height;
    bool narrow;
};

// The scale a history graph's bars are drawn at: the load graphs' 100, a rate graph's fixed or
// automatic one.
int64_t plotScale(int index) {
    const GraphState& g = panelModel.graphs[index];
    return isRateGraph(index) ? rateGraphScale(g, panelModel.graphs[index + 1]) : g.scale;
}

// Each series of a history graph, with how its samples become bars: a load graph's percentages
// against its scale through the single-precision factor; a rate graph's first series, then the
// second over it, at the graph's scale.
template <typename DrawSeries>
void forEachSeries(int index, int64_t scale, DrawSeries drawSeries) {
    const GraphState& g = panelModel.graphs[index];
    if (!isRateGraph(index)) {
        const float factor = loadFactor(g);
        drawSeries(0, g, [factor](int64_t sample) { return barHeight(factor, sample); });
        return;
    }
    drawSeries(0, g, RateBars(scale, g.height));
    const GraphState& second = panelModel.graphs[index + 1];
    drawSeries(1, second, RateBars(scale, second.height));
}

// A history graph's bars within `span`, in each series' pen (the brush stays selected).
void drawPlotBars(HDC dc, int index, int64_t scale, ColumnSpan span) {
    forEachSeries(index, scale, [dc, span](int, const GraphState& series, auto barOf) {
        SelectObject(dc, series.pen);
        BarColumns columns(dc, barBase(series));
        addBars(columns, series, span, barOf);
    });
}

// A history graph's plot: its frame and background, then its bars within `span`, no caption.
void drawPlot(HDC dc, int index, int64_t scale, ColumnSpan span) {
    drawGraphFrame(dc, panelModel.graphs[index]);
    drawPlotBars(dc, index, scale, span);
}

// A processor's columns stand side by side at one height: each run of equal bars is filled at
// once, in the bars' colour, with the pixels the run's one-pixel lines would draw.
class BarRuns {
public:
    BarRuns(HDC dc, int64_t base, COLORREF colour) : dc(dc), base(base) {
        SetDCBrushColor(dc, colour);
        brush = static_cast<HBRUSH>(GetStockObject(DC_BRUSH));
    }
    ~BarRuns() { fill(); }
    void add(int64_t column, int64_t bar) {
        if (bar == runBar && column == runEnd) {
            ++runEnd;
            return;
        }
        fill();
        runStart = column, runEnd = column + 1, runBar = bar;
    }

private:
    void fill() {
        BarRows rows;
        if (runEnd <= runStart || !barRowsShown(base, runBar, rows)) return;
        const RECT run = {static_cast<LONG>(runStart), static_cast<LONG>(rows.top), static_cast<LONG>(runEnd),
                          static_cast<LONG>(rows.bottom)};
        FillRect(dc, &run, brush);
    }
    HDC dc;
    int64_t base;
    HBRUSH brush;
    int64_t runStart = 0, runEnd = 0, runBar = 0;
};

// One bar a processor, its load of now, standing on the plot's bottom row; no caption. Only the
// columns inside the panel are drawn, so neither a wide plot nor many processors cost more than
// the panel is wide and the processors are many.
void drawCoresGraph(HDC dc) {
    const GraphState& g = panelModel.graphs[GRAPH_CORES];
    drawGraphFrame(dc, g);
    const int64_t first = std::max<int64_t>(0, -int64_t{g.x});
    const int64_t end = std::min<int64_t>(g.width, int64_t{panelArea.right} - g.x);
    BarRuns runs(dc, int64_t{g.y} + g.height, g.color);
    CoreColumns loads(panelModel.coreLoads, panelModel.coreCount, g.width, first);
    for (int64_t j = first; j < end; ++j) runs.add(g.x + j, coreBarHeight(loads.next(), g.height));
}

RECT onPanel(RECT r);
RECT iconRect(HICON icon, int left, int top);

// Whether a piece of a part reaches the pixels a render draws anew: any of `count` rectangles, or
// every pixel without them. A row's icon or text that reaches none would be clipped away whole,
// and the icon costs several times its text: it is not drawn at all.
struct Reach {
    const RECT* rects;
    DWORD count;
    bool operator()(const RECT& extent) const {
        RECT overlap;
        for (DWORD i = 0; i < count; ++i)
            if (IntersectRect(&overlap, &extent, &rects[i])) return true;
        return !rects;
    }
};

// A disk not read yet has no icon: the quota says nothing of a count the row does not know.
HICON diskIcon(int slot) {
    if (panelModel.volumes[slot].reading == DISK_NOT_READ) return nullptr;
    return panelModel.diskFree[slot] <= panelModel.fullQuota ? panelModel.icons.fulldisk : panelModel.icons.freedisk;
}

RECT diskCaptionRect(const DiskEntry& disk) {
    const int64_t top = int64_t{disk.y} + disk.tab_y;
    return rectangleOf(int64_t{disk.left} + disk.tab_x, top, int64_t{disk.left} + DISK_CAPTION_WIDTH, top + TEXT_ROW_HEIGHT);
}

RECT diskFreeRect(const DiskEntry& disk) {
    const int64_t top = int64_t{disk.y} + disk.tab_y;
    return rectangleOf(int64_t{disk.right} - DISK_FREE_WIDTH, top, disk.right, top + TEXT_ROW_HEIGHT);
}

void drawDiskRow(HDC dc, int slot, const Reach& reaches) {
    const DiskEntry& disk = panelModel.disks[slot];
    HICON icon = diskIcon(slot);
    if (icon && reaches(iconRect(icon, disk.left, disk.y))) drawIcon(dc, icon, disk.left, disk.y);
    if (reaches(onPanel(diskCaptionRect(disk)))) drawText(dc, disk.caption, sizeof disk.caption, diskCaptionRect(disk), 0);
    const DiskReading reading = panelModel.volumes[slot].reading;
    if (reading == DISK_NOT_READ || !reaches(onPanel(diskFreeRect(disk)))) return;
    char text[TEXT_BUFFER_SIZE] = "n/a";
    if (reading == DISK_READ) formatByteSize(text, panelModel.diskFree[slot]);
    drawText(dc, text, sizeof text, diskFreeRect(disk), DT_RIGHT);
}

HICON batteryIcon() {
    const IconSet& icons = panelModel.icons;
    if (!panelModel.onAC) return icons.battery;
    return panelModel.batteryCharging ? icons.batteryCharge : icons.ACon;
}

HICON rowIcon(int index) { return index == ITEM_BATTERY ? batteryIcon() : panelModel.items[index].icon; }

RECT rowTextRect(const InfoItem& item) {
    const int64_t top = int64_t{item.y} + item.tab_y;
    return rectangleOf(int64_t{item.left} + item.tab_x, top, item.right, top + TEXT_ROW_HEIGHT);
}

// Caption and value share one rectangle: a long caption and a long value overlap.
void drawInfoRow(HDC dc, int index, const Reach& reaches) {
    const InfoItem& item = panelModel.items[index];
    if (reaches(iconRect(rowIcon(index), item.left, item.y))) drawIcon(dc, rowIcon(index), item.left, item.y);
    const RECT row = rowTextRect(item);
    if (!reaches(onPanel(row))) return;
    drawText(dc, item.caption, sizeof item.caption, row, 0);
    drawText(dc, item.value, sizeof item.value, row, DT_RIGHT);
}

// A rate row only where the theme gave it room: themes without its keys draw nothing more.
bool infoRowShown(int index) {
    const InfoItem& item = panelModel.items[index];
    return index < ALWAYS_DRAWN_ITEMS || item.right > item.left;
}

// ---- Where each part draws ------------------------------------------------------------------
// A render redraws, in the order of a whole rendering, every part that reaches the pixels that
// changed, clipped to them. So each part's extent must hold every pixel it can draw: its
// rectangles, its icon at the icon's own size, and a load graph's bars that rise above its plot.


// The pixels of r on the panel; rectangles given with their corners swapped (a negative height)
// are drawn as their normal form is.
RECT onPanel(RECT r) {
    if (r.left > r.right) std::swap(r.left, r.right);
    if (r.top > r.bottom) std::swap(r.top, r.bottom);
    const RECT panel = panelArea;
    RECT shown;
    if (!IntersectRect(&shown, &r, &panel)) SetRectEmpty(&shown);
    return shown;
}

RECT unite(const RECT& a, const RECT& b) {
    RECT both;
    UnionRect(&both, &a, &b);
    return both;
}

// Icons are drawn at their own size, which the icon's bitmaps tell; kept for the icons of the
// settings read last (a reload drops them with every other cache).
struct IconSize {
    HICON icon;
    SIZE size;
};
constexpr int ICON_SIZES_KEPT = 16;
IconSize iconSizes[ICON_SIZES_KEPT];
int iconSizesKnown = 0;

SIZE measureIcon(HICON icon) {
    SIZE size = {0, 0};
    ICONINFO info;
    if (!GetIconInfo(icon, &info)) return size;
    BITMAP bitmap = {};
    // A monochrome icon keeps its image and mask one above the other in the mask bitmap.
    if (info.hbmColor && GetObjectA(info.hbmColor, sizeof bitmap, &bitmap))
        size = SIZE{bitmap.bmWidth, bitmap.bmHeight};
    else if (info.hbmMask && GetObjectA(info.hbmMask, sizeof bitmap, &bitmap))
        size = SIZE{bitmap.bmWidth, bitmap.bmHeight / 2};
    if (info.hbmColor) DeleteObject(info.hbmColor);
    if (info.hbmMask) DeleteObject(info.hbmMask);
    return size;
}

SIZE iconSize(HICON icon) {
    if (!icon) return SIZE{0, 0};
    for (int i = 0; i < iconSizesKnown; ++i)
        if (iconSizes[i].icon == icon) return iconSizes[i].size;
    const SIZE size = measureIcon(icon);
    if (iconSizesKnown < ICON_SIZES_KEPT) iconSizes[iconSizesKnown++] = IconSize{icon, size};
    return size;
}

RECT iconRect(HICON icon, int left, int top) {
    const SIZE size = iconSize(icon);
    return onPanel(rectangleOf(left, top, int64_t{left} + size.cx, int64_t{top} + size.cy));
}

RECT graphExtent(int index) {
    const GraphState& g = panelModel.graphs[index];
    if (isRateGraphOverlay(index) || (isRateGraph(index) && !rateGraphShown(index))) return RECT{};
    if (index == GRAPH_GPU && !gpuGraphShown()) return RECT{};
    // Its bars stay inside the plot, and it has no caption.
    if (index == GRAPH_CORES) return coresGraphShown() ? onPanel(frameRect(g)) : RECT{};
    RECT extent = onPanel(frameRect(g));
    // The caption's rectangle lies inside the frame, but for a negative size, whose rectangles
    // are swapped: the text is clipped to the caption's swapped one, which the frame's need not hold.
    extent = unite(extent, onPanel(captionRect(g)));
    if (isRateGraph(index)) return extent;  // its bars stay inside the plot
    const int highest = highestLoadBar(g);
    if (highest <= 0) return extent;
    const int64_t base = int64_t{g.y} + g.height;
    return unite(extent, onPanel(rectangleOf(g.x, base - highest, int64_t{g.x} + g.width, base)));
}

RECT diskExtent(int slot) {
    const DiskEntry& disk = panelModel.disks[slot];
    const RECT texts = unite(onPanel(diskCaptionRect(disk)), onPanel(diskFreeRect(disk)));
    return unite(texts, iconRect(diskIcon(slot), disk.left, disk.y));
}

RECT rowExtent(int index) {
    if (!infoRowShown(index)) return RECT{};
    const InfoItem& item = panelModel.items[index];
    return unite(onPanel(rowTextRect(item)), iconRect(rowIcon(index), item.left, item.y));
}

// ---- Caches ---------------------------------------------------------------------------------
// backBuffer (in the model): the panel as rendered last, kept from paint to paint in bufferDc.
// background: the background alone, so that pixels to redraw start from a copy of it rather
//   than from the shell's gradient again.
// staleRegion: the pixels that parts changed since backBuffer was rendered; a render redraws
//   them, and the repaint timer asks the window to show them.
// drawnGraphExtents, drawnRowIcons, drawnDiskIcons: what the last render drew where, so that
//   a change clears a graph's old bars and an icon's old place too; drawnCaptions: the history
//   graphs' captions as drawn last, so that a sample that moves no bar costs nothing unless its
//   caption changed.
// keptPlots (below): each history graph's plot without its caption.
// All of them are dropped together by invalidatePanel: a reload, a change of the window's
// settings, the style or the size starts afresh from a whole rendering.
HDC bufferDc = nullptr;
HGDIOBJ bufferDcBitmap = nullptr;  // the context's own bitmap, selected back before deletion
HFONT bufferDcFont = nullptr;      // the panel's font as selected into bufferDc
HBITMAP background = nullptr;
HDC backgroundDc = nullptr;
HGDIOBJ backgroundDcBitmap = nullptr;
HRGN staleRegion = nullptr;
HRGN scratchRegion = nullptr;  // for adding one rectangle to staleRegion without a new region
RECT drawnGraphExtents[GRAPH_COUNT];
HICON drawnRowIcons[ITEM_COUNT];
HICON drawnDiskIcons[MAX_DISKS + 1];
char drawnCaptions[GRAPH_COUNT][TEXT_BUFFER_SIZE];

// ---- Kept plots ------------------------------------------------------------------------------
// A history graph keeps its plot (frame, background and bars, no caption) in a bitmap of its own,
// in panel coordinates through the context's origin. A new sample shifts the plot one column to
// the left with one copy within that bitmap and draws the newest column only; the caption is then
// drawn over a copy of the plot's pixels in backBuffer. What the bars were drawn with (place,
// size, colours, scale, history) is kept beside them: when any of it changes the plot is drawn
// again whole, as when more samples came than the plot shows.
struct PlotLook {
    int32_t x, y, width, height;
    COLORREF background, colour, secondColour;
    int64_t scale;
    const int64_t* histories[2];
    RECT area;  // the frame's rectangle on the panel: what the bitmap holds
};

// Where the panel's rendering has 32-bit pixels (a true-colour display), a kept plot is a DIB
// section whose pixels the painter writes itself: a scroll moves each row's pixels and the new
// column is written, where a copy, two fills and a line were four calls into the system (Wine
// fills a column one pixel wide row by row). The frame's, the background's and the bars' pixels
// are the ones the system draws for their pen and brush (pixelOfPen, pixelOfBrush), so the plot
// is the one a drawing of it gives. Elsewhere the plot is a bitmap compatible with the rendering,
// drawn through the system as a whole rendering draws it.
struct PlotPixels {
    uint32_t frame, background, bars[2];  // bars: a rate graph's two series, else the first
};

struct KeptPlot {
    HBITMAP bitmap;
    HDC dc;
    HGDIOBJ ownBitmap;
    uint32_t* pixels;  // the DIB section's, top-down rows of the area's width; null: drawn by the system
    PlotPixels colours;
    bool current;      // holds the plot as the last render showed it, with `look`
    PlotLook look;
    int32_t scrolled;  // samples the history moved on since
};
KeptPlot keptPlots[GRAPH_COUNT];

// Sampler ticks that fall due together come one after another; the window shows their changes
// once all of them ran: the last one's endTick shows them, and a change outside a tick waits for
// this short timer, since a paint would come between the ticks (the system delivers paints before
// timers).
constexpr UINT_PTR REPAINT_TIMER = 0x4B52;
static_assert(REPAINT_DELAY_MS == USER_TIMER_MINIMUM, "the shortest period a timer has");
bool repaintTimerSet = false;
bool inTick = false;

bool staleRegionEmpty() {
    RECT box;
    return !staleRegion || GetRgnBox(staleRegion, &box) == NULLREGION;
}

void markStale(const RECT& r) {
    if (IsRectEmpty(&r)) return;
    if (!staleRegion) staleRegion = CreateRectRgn(0, 0, 0, 0);
    if (!scratchRegion) scratchRegion = CreateRectRgn(0, 0, 0, 0);
    if (!staleRegion || !scratchRegion) return;
    SetRectRgn(scratchRegion, r.left, r.top, r.right, r.bottom);
    CombineRgn(staleRegion, staleRegion, scratchRegion, RGN_OR);
}

void CALLBACK repaintTimerFired(HWND window, UINT, UINT_PTR id, DWORD) {
    KillTimer(window, id);
    repaintTimerSet = false;
    flushPanelChanges();
}

// A change reaches the window at the repaint timer. Without a rendering there is nothing to
// patch: the whole-panel paint that invalidatePanel asked for comes anyway.
void scheduleRepaint() {
    if (inTick) return;  // the tick's end decides
    if (!panelModel.backBuffer || !panelModel.panelWindow || repaintTimerSet || staleRegionEmpty()) return;
    repaintTimerSet =
        SetTimer(panelModel.panelWindow, REPAINT_TIMER, REPAINT_DELAY_MS, measuredTimer<repaintTimerFired>) != 0;
    if (!repaintTimerSet) flushPanelChanges();
}

void deleteContext(HDC& dc, HGDIOBJ& ownBitmap) {
    if (dc) {
        SelectObject(dc, ownBitmap);
        DeleteDC(dc);
    }
    dc = nullptr;
    ownBitmap = nullptr;
}

void deleteBitmap(HBITMAP& bitmap) {
    if (bitmap) DeleteObject(bitmap);
    bitmap = nullptr;
}

// A bitmap of the panel's size compatible with the window's context (the memory context
// alone would give a monochrome one), selected into a memory context of its own.
bool makePanelBitmap(HDC windowDc, HBITMAP& bitmap, HDC& dc, HGDIOBJ& ownBitmap) {
    bitmap = CreateCompatibleBitmap(windowDc, panelArea.right, panelArea.bottom);
    dc = bitmap ? CreateCompatibleDC(windowDc) : nullptr;
    if (!dc) {
        deleteBitmap(bitmap);
        return false;
    }
    ownBitmap = SelectObject(dc, bitmap);
    return true;
}

void releaseKeptPlot(KeptPlot& plot) {
    deleteContext(plot.dc, plot.ownBitmap);
    deleteBitmap(plot.bitmap);
    plot = KeptPlot{};
}

// The panel's font stays selected in bufferDc from render to render. Selecting a font is no small
// call: Wine's X11 driver, which a context made compatible with a window's carries, reads the X
// resources for its smoothing at every selection (twice, from the files when the display has none).
// A font that a reload deleted while selected lives on until the context lets it go.
void keepFontSelected() {
    if (bufferDcFont == panelModel.font) return;
    SelectObject(bufferDc, panelModel.font);
    bufferDcFont = panelModel.font;
}

void releaseRenderings() {
    for (KeptPlot& plot : keptPlots) releaseKeptPlot(plot);
    memset(drawnCaptions, 0, sizeof drawnCaptions);
    deleteContext(bufferDc, bufferDcBitmap);
    bufferDcFont = nullptr;
    deleteBitmap(panelModel.backBuffer);
    deleteContext(backgroundDc, backgroundDcBitmap);
    deleteBitmap(background);
    if (staleRegion) SetRectRgn(staleRegion, 0, 0, 0, 0);
    iconSizesKnown = 0;
    memset(drawnGraphExtents, 0, sizeof drawnGraphExtents);
    memset(drawnRowIcons, 0, sizeof drawnRowIcons);
    memset(drawnDiskIcons, 0, sizeof drawnDiskIcons);
}

// The renderings a paint needs; when they are made, the whole panel is stale.
bool haveRenderings(HDC windowDc) {
    if (panelModel.backBuffer) return true;
    releaseRenderings();
    takePanelArea();
    if (!makePanelBitmap(windowDc, panelModel.backBuffer, bufferDc, bufferDcBitmap) ||
        !makePanelBitmap(windowDc, background, backgroundDc, backgroundDcBitmap)) {
        releaseRenderings();
        return false;
    }
    drawBackground(backgroundDc);
    markStale(panelArea);
    return true;
}

// ---- Rendering ------------------------------------------------------------------------------

PlotLook lookOf(int index, int64_t scale, const RECT& area) {
    const GraphState& g = panelModel.graphs[index];
    const GraphState& second = isRateGraph(index) ? panelModel.graphs[index + 1] : g;
    PlotLook look;
    memset(&look, 0, sizeof look);  // compared whole, padding included
    look.x = g.x, look.y = g.y, look.width = g.width, look.height = g.height;
    look.background = g.background, look.colour = g.color, look.secondColour = second.color;
    look.scale = scale;
    look.histories[0] = g.history, look.histories[1] = second.history;
    look.area = area;
    return look;
}

// Whether backBuffer has 32-bit pixels in one plane: a kept plot may then be a DIB section of
// that format, copied into it pixel for pixel.
bool renderingIsTrueColour() {
    BITMAP b;
    return GetObjectA(panelModel.backBuffer, sizeof b, &b) == sizeof b && b.bmBitsPixel == 32 && b.bmPlanes == 1;
}

// A top-down 32-bit DIB section of width x height pixels, null when the system has none to give.
HBITMAP makeTrueColourBitmap(int width, int height, uint32_t** pixels) {
    BITMAPINFO info;
    memset(&info, 0, sizeof info);
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(bufferDc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (bitmap && !bits) {
        DeleteObject(bitmap);
        bitmap = nullptr;
    }
    *pixels = bitmap ? static_cast<uint32_t*>(bits) : nullptr;
    return bitmap;
}

// A bitmap of the area's size for the plot, its context's origin at the area's corner.
bool haveKeptPlotBitmap(KeptPlot& plot, const RECT& area) {
    if (plot.bitmap && EqualRect(&plot.look.area, &area)) return true;
    releaseKeptPlot(plot);
    const int width = area.right - area.left, height = area.bottom - area.top;
    if (renderingIsTrueColour()) plot.bitmap = makeTrueColourBitmap(width, height, &plot.pixels);
    if (!plot.bitmap) plot.bitmap = CreateCompatibleBitmap(bufferDc, width, height);
    plot.dc = plot.bitmap ? CreateCompatibleDC(bufferDc) : nullptr;
    if (!plot.dc) {
        releaseKeptPlot(plot);
        return false;
    }
    plot.ownBitmap = SelectObject(plot.dc, plot.bitmap);
    SetViewportOrgEx(plot.dc, -area.left, -area.top, nullptr);
    return true;
}

// The pixel the system gives a pen's line or a brush's fill in a kept plot's format: drawn into
// the plot's first pixel and read back. A colour is a COLORREF as the shell read it, and what the
// system makes of an unusual one (a palette index, bits above the colour's) is what a drawing of
// it shows.
uint32_t pixelOfPen(KeptPlot& plot, const RECT& area, HPEN pen) {
    SelectObject(plot.dc, pen);
    const POINT ends[2] = {{area.left, area.top}, {area.left + 1, area.top}};
    const DWORD pointsPerLine = 2;
    PolyPolyline(plot.dc, ends, &pointsPerLine, 1);
    GdiFlush();  // the system may hold drawing back until a call needs it; the pixel is read now
    return plot.pixels[0];
}

uint32_t pixelOfBrush(KeptPlot& plot, const RECT& area, HBRUSH brush) {
    const RECT first = {area.left, area.top, area.left + 1, area.top + 1};
    FillRect(plot.dc, &first, brush);
    GdiFlush();
    return plot.pixels[0];
}

void takePlotPixels(KeptPlot& plot, int index, const RECT& area) {
    const GraphState& g = panelModel.graphs[index];
    const GraphState& second = isRateGraph(index) ? panelModel.graphs[index + 1] : g;
    plot.colours.frame = pixelOfPen(plot, area, panelModel.framePen);
    plot.colours.background = pixelOfBrush(plot, area, g.brush);
    plot.colours.bars[0] = pixelOfPen(plot, area, g.pen);
    plot.colours.bars[1] = pixelOfPen(plot, area, second.pen);
}

// Columns [left, right) of rows [top, bottom) set to one pixel, in panel coordinates, cut to the
// plot's area.
void fillPlotPixels(KeptPlot& plot, const RECT& area, int64_t left, int64_t right, int64_t top, int64_t bottom,
                    uint32_t pixel) {
    // Cut to the area, the places fit an int: the x86 build then loops in single registers.
    auto within = [](int64_t value, LONG low, LONG high) {
        return static_cast<int>(std::clamp<int64_t>(value, low, high) - low);
    };
    const int from = within(left, area.left, area.right), to = within(right, area.left, area.right);
    const int firstRow = within(top, area.top, area.bottom), endRow = within(bottom, area.top, area.bottom);
    const int width = area.right - area.left;
    for (int y = firstRow; y < endRow; ++y) {
        uint32_t* row = plot.pixels + static_cast<size_t>(y) * width;
        for (int x = from; x < to; ++x) row[x] = pixel;
    }
}

// Bars as one-pixel columns of a kept plot's pixels: the rows BarColumns draws.
class PixelColumns {
public:
    PixelColumns(KeptPlot& plot, const RECT& area, int64_t base, uint32_t pixel)
        : plot(plot), area(area), base(base), pixel(pixel) {}
    void add(int64_t column, int64_t bar) {
        BarRows rows;
        if (barRowsShown(base, bar, rows)) fillPlotPixels(plot, area, column, column + 1, rows.top, rows.bottom, pixel);
    }

private:
    KeptPlot& plot;
    const RECT& area;
    int64_t base;
    uint32_t pixel;
};

void writePlotBars(KeptPlot& plot, int index, const PlotLook& look, ColumnSpan span) {
    forEachSeries(index, look.scale, [&plot, &look, span](int series, const GraphState& g, auto barOf) {
        PixelColumns columns(plot, look.area, barBase(g), plot.colours.bars[series]);
        addBars(columns, g, span, barOf);
    });
}

// The pixels drawPlot gives: the frame's outline one pixel outside the plot, its background
// inside, then the bars.
void writePlot(KeptPlot& plot, int index, const PlotLook& look) {
    const RECT frame = frameRect(panelModel.graphs[index]);
    const RECT& area = look.area;
    fillPlotPixels(plot, area, frame.left, frame.right, frame.top, frame.bottom, plot.colours.frame);
    fillPlotPixels(plot, area, int64_t{frame.left} + 1, int64_t{frame.right} - 1, int64_t{frame.top} + 1,
                   int64_t{frame.bottom} - 1, plot.colours.background);
    writePlotBars(plot, index, look, EVERY_COLUMN);
}

// The plot's columns [left, right) moved `by` columns to the left, row by row.
void scrollPlotPixels(KeptPlot& plot, const RECT& area, int64_t left, int64_t right, int32_t by) {
    const int width = area.right - area.left, height = area.bottom - area.top;
    const size_t bytes = static_cast<size_t>(right - left - by) * sizeof(uint32_t);
    uint32_t* first = plot.pixels + (left - area.left);
    for (int y = 0; y < height; ++y) {
        uint32_t* row = first + static_cast<size_t>(y) * width;
        memmove(row, row + by, bytes);
    }
}

// The columns [fresh, right) that came in at the right of a kept plot, as the frame's drawing
// leaves them: the frame's top row in its pen's black (a bar one pixel higher than the plot covers
// it) and the plot's background. No bar reaches the frame's bottom row, which the copy kept. Two
// fills cost less than clipping to the columns and drawing the frame through them.
void clearFreshColumns(KeptPlot& plot, const GraphState& g, const RECT& area, int64_t fresh, int64_t right) {
    if (plot.pixels) {
        fillPlotPixels(plot, area, fresh, right, int64_t{g.y} - 1, g.y, plot.colours.frame);
        fillPlotPixels(plot, area, fresh, right, g.y, int64_t{g.y} + g.height, plot.colours.background);
        return;
    }
    auto rows = [&](int64_t top, int64_t bottom) {
        return RECT{static_cast<LONG>(fresh), static_cast<LONG>(std::max<int64_t>(top, area.top)),
                    static_cast<LONG>(right), static_cast<LONG>(std::min<int64_t>(bottom, area.bottom))};
    };
    // A rectangle given upside down would be filled upward from its top: empty ones are left out.
    const RECT frameTop = rows(int64_t{g.y} - 1, g.y);
    const RECT plotRows = rows(g.y, int64_t{g.y} + g.height);
    if (!IsRectEmpty(&frameTop)) FillRect(plot.dc, &frameTop, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
    if (!IsRectEmpty(&plotRows)) FillRect(plot.dc, &plotRows, g.brush);
}

// The kept plot brought up to date: its columns moved `scrolled` to the left and the columns
// that came in at the right drawn, or the whole plot drawn anew.
void updateKeptPlot(KeptPlot& plot, int index, const PlotLook& look) {
    const GraphState& g = panelModel.graphs[index];
    const RECT& area = look.area;
    // The plot's columns on the panel; the frame's left and right columns stay where they are.
    const int64_t left = std::max<int64_t>(g.x, area.left);
    const int64_t right = std::min<int64_t>(int64_t{g.x} + g.width, area.right);
    const bool sameLook = plot.current && memcmp(&plot.look, &look, sizeof look) == 0;
    if (sameLook && plot.scrolled == 0) return;
    if (sameLook && plot.scrolled < right - left) {
        const int64_t fresh = right - plot.scrolled;
        if (plot.pixels)
            scrollPlotPixels(plot, area, left, right, plot.scrolled);
        else
            BitBlt(plot.dc, static_cast<int>(left), area.top, static_cast<int>(fresh - left), area.bottom - area.top,
                   plot.dc, static_cast<int>(left) + plot.scrolled, area.top, SRCCOPY);
        clearFreshColumns(plot, g, area, fresh, right);
        if (plot.pixels)
            writePlotBars(plot, index, look, ColumnSpan{fresh, right});
        else
            drawPlotBars(plot.dc, index, look.scale, ColumnSpan{fresh, right});
    } else if (plot.pixels) {
        takePlotPixels(plot, index, area);  // a new look may come with new pens and brushes
        writePlot(plot, index, look);
    } else {
        drawPlot(plot.dc, index, look.scale, EVERY_COLUMN);
    }
    memcpy(&plot.look, &look, sizeof look);  // padding included, as the comparison reads it
    plot.current = true;
    plot.scrolled = 0;
}

// A history graph's plot copied from its kept bitmap into dc. False when the plot cannot be kept:
// a plot without room, or load bars that rise above the frame, which cover pixels outside the
// plot's bitmap; such a plot is drawn directly, and kept again once its bars fit.
bool showKeptPlot(HDC dc, int index, int64_t scale) {
    KeptPlot& plot = keptPlots[index];
    const GraphState& g = panelModel.graphs[index];
    const RECT area = onPanel(frameRect(g));
    if (g.width < 1 || g.height < 1 || IsRectEmpty(&area) ||
        (!isRateGraph(index) && highestLoadBar(g) > int64_t{g.height} + 1) || !haveKeptPlotBitmap(plot, area)) {
        plot.current = false;
        return false;
    }
    updateKeptPlot(plot, index, lookOf(index, scale, area));
    BitBlt(dc, area.left, area.top, area.right - area.left, area.bottom - area.top, plot.dc, area.left, area.top, SRCCOPY);
    return true;
}

// A history graph: its plot (from the kept bitmap when `kept`), then the caption over it.
void drawHistoryGraph(HDC dc, int index, bool kept) {
    const int64_t scale = plotScale(index);
    if (!kept || !showKeptPlot(dc, index, scale)) drawPlot(dc, index, scale, EVERY_COLUMN);
    char text[TEXT_BUFFER_SIZE];
    graphCaption(index, text, sizeof text);
    drawText(dc, text, sizeof text, captionRect(panelModel.graphs[index]), GRAPH_CAPTION_FORMAT);
    if (kept) memcpy(drawnCaptions[index], text, sizeof text);
}

// The graphs in the order a whole rendering draws them.
constexpr int GRAPHS_IN_ORDER[] = {GRAPH_CPU, GRAPH_MEMORY, GRAPH_NET_DOWN, GRAPH_CORES, GRAPH_DISK_READ, GRAPH_GPU};

// A theme without a rate, cores or GPU graph's keys draws none of it.
bool graphDrawn(int index) {
    if (isRateGraph(index)) return rateGraphShown(index);
    if (index == GRAPH_CORES) return coresGraphShown();
    if (index == GRAPH_GPU) return gpuGraphShown();
    return true;
}

// Every part that reaches one of `count` rectangles (all of them without any), in the order of a
// whole rendering: the CPU, memory, network, cores, disk-activity and GPU graphs, the disk rows,
// the information rows (the rate rows last). Later drawing covers earlier. A render of backBuffer
// (`kept`) uses the kept plots and records what each part drew; a rendering from scratch touches
// no cache.
void drawParts(HDC dc, const RECT* rects, DWORD count, bool kept) {
    const Reach reaches = {rects, count};
    HGDIOBJ previousFont = kept ? nullptr : SelectObject(dc, panelModel.font);
    if (kept) keepFontSelected();
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, styleTextColour());
    for (int index : GRAPHS_IN_ORDER) {
        if (!graphDrawn(index)) continue;
        const RECT extent = graphExtent(index);
        if (!reaches(extent)) continue;
        if (scrollsHistory(index))
            drawHistoryGraph(dc, index, kept);
        else
            drawCoresGraph(dc);
        if (kept) drawnGraphExtents[index] = extent;
    }
    // A render that reaches only the place of an icon a row drew before (the row has none now)
    // erases it: the row counts as reached, so that its record says the icon is gone and a later
    // return of the icon is drawn again.
    const int disks = usedDiskSlots();
    for (int slot = 1; slot <= disks; ++slot) {
        const DiskEntry& disk = panelModel.disks[slot];
        const RECT drawnIcon = kept ? iconRect(drawnDiskIcons[slot], disk.left, disk.y) : RECT{};
        if (!reaches(unite(diskExtent(slot), drawnIcon))) continue;
        drawDiskRow(dc, slot, reaches);
        if (kept) drawnDiskIcons[slot] = diskIcon(slot);
    }
    for (int index = 0; index < ITEM_COUNT; ++index) {
        if (!infoRowShown(index)) continue;
        const InfoItem& row = panelModel.items[index];
        const RECT drawnIcon = kept ? iconRect(drawnRowIcons[index], row.left, row.y) : RECT{};
        if (!reaches(unite(rowExtent(index), drawnIcon))) continue;
        drawInfoRow(dc, index, reaches);
        if (kept) drawnRowIcons[index] = rowIcon(index);
    }
    if (!kept) SelectObject(dc, previousFont);
    // The pen and brush of the last graph stay selected: that leaves both objects intact.
}

// The stale pixels as rectangles, read once a render: the parts drawn again are the ones that reach
// one of them (asked of the region, a system call a part), and only they are copied to the window
// (the parts that change in a second lie at the top and the bottom of a tall panel, and the box
// around them is most of it). A region of more rectangles than this stands as its box.
constexpr DWORD MOST_COPIED_RECTS = 32;
struct {
    RGNDATAHEADER header;
    RECT rects[MOST_COPIED_RECTS];
} staleRects;

DWORD takeStaleRects() {
    if (GetRegionData(staleRegion, sizeof staleRects, reinterpret_cast<RGNDATA*>(&staleRects)) &&
        staleRects.header.nCount <= MOST_COPIED_RECTS)
        return staleRects.header.nCount;
    GetRgnBox(staleRegion, &staleRects.rects[0]);
    return 1;
}

// Whether a graph drawn in this render covers every pixel of r: its frame, drawn with a solid pen
// around its background's brush or copied from its kept plot, hides whatever lies under it. The
// graphs that change every second are most of the pixels a render draws, and the background
// need not be copied under them.
bool graphCovers(const RECT& r) {
    for (int index : GRAPHS_IN_ORDER) {
        const GraphState& g = panelModel.graphs[index];
        if (!graphDrawn(index) || g.width < 1 || g.height < 1 || !g.brush || !panelModel.framePen) continue;
        const RECT frame = onPanel(frameRect(g));
        if (r.left >= frame.left && r.right <= frame.right && r.top >= frame.top && r.bottom <= frame.bottom)
            return true;
    }
    return false;
}

// The stale pixels of backBuffer drawn again: the background copied back under them, but where a
// graph covers them, then every part that reaches them, clipped to them. Answers how many of
// staleRects they were, for the copy to the window.
DWORD renderStale() {
    RECT box;
    if (!staleRegion || GetRgnBox(staleRegion, &box) == NULLREGION) return 0;
    const DWORD count = takeStaleRects();
    SelectClipRgn(bufferDc, staleRegion);
    for (DWORD i = 0; i < count; ++i) {
        const RECT& r = staleRects.rects[i];
        if (!graphCovers(r))
            BitBlt(bufferDc, r.left, r.top, r.right - r.left, r.bottom - r.top, backgroundDc, r.left, r.top, SRCCOPY);
    }
    drawParts(bufferDc, staleRects.rects, count, true);
    SelectClipRgn(bufferDc, nullptr);
    SetRectRgn(staleRegion, 0, 0, 0, 0);
    return count;
}

}  // namespace

void renderPanelInto(HDC dc) {
    takePanelArea();
    drawBackground(dc);
    drawParts(dc, nullptr, 0, false);
}

void paintPanel(HWND window) {
    // Pixels rendered now must reach the window in this paint, also when it was asked for by
    // the system (the window uncovered) before the repaint timer came.
    if (!staleRegionEmpty()) InvalidateRgn(window, staleRegion, FALSE);
    PAINTSTRUCT paint;
    HDC windowDc = BeginPaint(window, &paint);
    // Without a rendering there is no panel image to copy; the next paint tries again.
    if (haveRenderings(windowDc)) {
        renderStale();
        const RECT& r = paint.rcPaint;
        BitBlt(windowDc, r.left, r.top, r.right - r.left, r.bottom - r.top, bufferDc, r.left, r.top, SRCCOPY);
    }
    EndPaint(window, &paint);
}

void invalidatePanel() {
    releaseRenderings();
    // Before the window's handle is stored only the renderings go; the window's first paint
    // renders anyway.
    if (panelModel.panelWindow) InvalidateRect(panelModel.panelWindow, nullptr, FALSE);
}

void repaintGraph(int graph) {
    if (!panelModel.backBuffer) return;
    keptPlots[graph].current = false;
    markStale(unite(drawnGraphExtents[graph], graphExtent(graph)));
    scheduleRepaint();
}

void scrollGraph(int graph, bool moved) {
    if (!panelModel.backBuffer) return;
    if (moved) {
        KeptPlot& plot = keptPlots[graph];
        if (plot.scrolled < INT32_MAX) ++plot.scrolled;
        markStale(unite(drawnGraphExtents[graph], graphExtent(graph)));
    } else {
        // The plot stays; the caption alone may have changed.
        char text[TEXT_BUFFER_SIZE];
        graphCaption(graph, text, sizeof text);
        if (strcmp(text, drawnCaptions[graph]) != 0) markStale(onPanel(captionRect(panelModel.graphs[graph])));
    }
    scheduleRepaint();
}

namespace {

// A part's icon that changed: the pixels of the icon drawn last and of the new one.
void markChangedIcon(HICON drawn, HICON icon, int left, int top) {
    if (icon != drawn) markStale(unite(iconRect(drawn, left, top), iconRect(icon, left, top)));
}

}  // namespace

void repaintInfoRow(int item) {
    if (!panelModel.backBuffer || !infoRowShown(item)) return;
    const InfoItem& row = panelModel.items[item];
    markStale(onPanel(rowTextRect(row)));
    markChangedIcon(drawnRowIcons[item], rowIcon(item), row.left, row.y);
    scheduleRepaint();
}

void repaintDiskRow(int slot) {
    if (!panelModel.backBuffer || slot < 1 || slot > usedDiskSlots()) return;
    const DiskEntry& disk = panelModel.disks[slot];
    markStale(onPanel(diskFreeRect(disk)));
    markChangedIcon(drawnDiskIcons[slot], diskIcon(slot), disk.left, disk.y);
    scheduleRepaint();
}

// The changes drawn into backBuffer and copied to the window at once, through the window's own
// context: a paint message would cost the system several times the drawing itself. A paint that
// the system asks for later (the window uncovered) copies the same pixels.
void flushPanelChanges() {
    HWND window = panelModel.panelWindow;
    if (!window || staleRegionEmpty()) return;
    HDC windowDc = panelModel.backBuffer ? GetDC(window) : nullptr;
    if (!windowDc) {
        InvalidateRgn(window, staleRegion, FALSE);
        return;
    }
    const DWORD count = renderStale();
    for (DWORD i = 0; i < count; ++i) {
        const RECT& r = staleRects.rects[i];
        BitBlt(windowDc, r.left, r.top, r.right - r.left, r.bottom - r.top, bufferDc, r.left, r.top, SRCCOPY);
    }
    ReleaseDC(window, windowDc);
}

bool panelChangesPending() { return !staleRegionEmpty(); }

namespace {

RECT normalised(RECT r) {
    if (r.left > r.right) std::swap(r.left, r.right);
    if (r.top > r.bottom) std::swap(r.top, r.bottom);
    return r;
}

// The rectangles of a part and its icons, none of them empty, in one.
RECT areaOf(std::initializer_list<RECT> rectangles) {
    RECT area = {0, 0, 0, 0};
    for (const RECT& r : rectangles) area = unite(area, normalised(r));
    return area;
}

RECT iconArea(HICON icon, int left, int top) {
    const SIZE size = iconSize(icon);
    return rectangleOf(left, top, int64_t{left} + size.cx, int64_t{top} + size.cy);
}

}  // namespace

RECT graphArea(int graph) {
    const GraphState& g = panelModel.graphs[graph];
    return areaOf({rectangleOf(int64_t{g.x} - 1, int64_t{g.y} - 1, int64_t{g.x} + g.width + 1, int64_t{g.y} + g.height + 1)});
}

RECT diskRowArea(int slot) {
    const DiskEntry& disk = panelModel.disks[slot];
    const IconSet& icons = panelModel.icons;
    return areaOf({diskCaptionRect(disk), diskFreeRect(disk), iconArea(icons.freedisk, disk.left, disk.y),
                   iconArea(icons.fulldisk, disk.left, disk.y)});
}

RECT infoRowArea(int item) {
    const InfoItem& row = panelModel.items[item];
    if (item != ITEM_BATTERY) return areaOf({rowTextRect(row), iconArea(row.icon, row.left, row.y)});
    const IconSet& icons = panelModel.icons;
    return areaOf({rowTextRect(row), iconArea(icons.battery, row.left, row.y), iconArea(icons.ACon, row.left, row.y),
                   iconArea(icons.batteryCharge, row.left, row.y)});
}

bool infoRowDrawn(int item) { return infoRowShown(item); }

void beginTick() { inTick = true; }

// The tick due next shows these changes with its own; the last of ticks due together shows them
// all at once, without the repaint timer's wake-up.
void endTick(bool anotherTickDue) {
    inTick = false;
    if (anotherTickDue) return;
    if (repaintTimerSet && panelModel.panelWindow) KillTimer(panelModel.panelWindow, REPAINT_TIMER);
    repaintTimerSet = false;
    flushPanelChanges();
}

void releaseBackBuffer() {
    releaseRenderings();
    if (staleRegion) DeleteObject(staleRegion);
    if (scratchRegion) DeleteObject(scratchRegion);
    staleRegion = scratchRegion = nullptr;
    if (repaintTimerSet && panelModel.panelWindow) KillTimer(panelModel.panelWindow, REPAINT_TIMER);
    repaintTimerSet = false;
}
