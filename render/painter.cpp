// Panel painter: background, the two load graphs, the disk rows and the information
// rows drawn into backBuffer, which then serves every paint until the model changes.
#include "render/painter.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "config/panel_model.h"
#include "sampling/byte_size.h"
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
    RECT panel = {0, 0, shownPanelWidth(), shownPanelHeight()};
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

// The columns of graph g that lie inside the panel, as sample indices [first, end), and the
// index of its oldest held sample. Only those columns can reach backBuffer, so a very wide graph
// costs no more than the panel is wide.
struct ShownSamples {
    int64_t first;
    int64_t end;
    int64_t oldestHeld;
};

ShownSamples shownSamples(const GraphState& g) {
    const int64_t oldestHeld = int64_t{g.width} - g.samples;
    int64_t first = -static_cast<int64_t>(g.x);
    int64_t end = static_cast<int64_t>(shownPanelWidth()) - g.x;
    if (first < oldestHeld) first = oldestHeld;
    if (end > g.width) end = g.width;
    return ShownSamples{first, end, oldestHeld};
}

// One-pixel columns, oldest sample at the left, each as high as barOf(sample) says. Samples older
// than the history holds are 0 and, like every bar of 0 or below, have no column: a negative
// sample would otherwise draw into the frame below the plot area.
template <typename BarOf>
void drawBars(HDC dc, const GraphState& g, BarOf barOf) {
    if (!g.history || g.samples < 1) return;
    const int64_t base = static_cast<int64_t>(g.y) + g.height;
    const ShownSamples shown = shownSamples(g);
    for (int64_t j = shown.first; j < shown.end; ++j) {
        int bar = barOf(g.history[j - shown.oldestHeld]);
        if (bar <= 0) continue;
        int column = static_cast<int>(g.x + j);
        // Wine's Rectangle leaves a 1 x 1 figure blank; a one-pixel bar is set directly.
        if (bar == 1)
            SetPixelV(dc, column, coordinate(base - 1), g.color);
        else
            Rectangle(dc, column, coordinate(base - bar), column + 1, coordinate(base));
    }
}

// Load graphs: percentages against a scale of 100, through the single-precision factor.
void drawLoadBars(HDC dc, const GraphState& g) {
    const float factor = static_cast<float>(static_cast<double>(g.height) / static_cast<double>(g.scale));
    drawBars(dc, g, [factor](int64_t sample) { return barHeight(factor, sample); });
}

// Frame one pixel outside the plot area, filled with the graph's background by its brush.
void drawGraphFrame(HDC dc, const GraphState& g) {
    SelectObject(dc, g.brush);
    SelectObject(dc, panelModel.framePen);
    RECT frame = rectangleOf(int64_t{g.x} - 1, int64_t{g.y} - 1, int64_t{g.x} + g.width + 1, int64_t{g.y} + g.height + 1);
    Rectangle(dc, frame.left, frame.top, frame.right, frame.bottom);
}

void drawGraphCaption(HDC dc, const GraphState& g, const char* text, size_t size) {
    drawText(dc, text, size, rectangleOf(g.x, g.y, int64_t{g.x} + g.width, int64_t{g.y} + g.height),
             GRAPH_CAPTION_FORMAT);
}

void drawGraph(HDC dc, int index) {
    const GraphState& g = panelModel.graphs[index];
    drawGraphFrame(dc, g);
    SelectObject(dc, g.pen);  // the brush stays selected
    drawLoadBars(dc, g);

    char text[TEXT_BUFFER_SIZE];
    if (index == GRAPH_CPU)
        snprintf(text, sizeof text, "CPU %d%%", panelModel.cpuPercent);
    else
        snprintf(text, sizeof text, "MEM %d%%", panelModel.memoryLoad);
    drawGraphCaption(dc, g, text, sizeof text);
}

// The network graph's full height: its scale in bytes per second, or, when automatic, the
// largest rate either direction shows, and never less than 1 KB/s.
int64_t netGraphScale(const GraphState& down, const GraphState& up) {
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
int netBarHeight(int64_t rate, int64_t scale, int32_t height) {
    if (rate <= 0 || height <= 0) return 0;
    if (rate >= scale) return height;
    if (rate <= INT64_MAX / height) return static_cast<int>(rate * height / scale);
    return static_cast<int>(static_cast<double>(rate) / static_cast<double>(scale) * height);
}

// Download bars, then the upload bars over them, then "NET" and the download rate.
void drawNetGraph(HDC dc) {
    const GraphState& down = panelModel.graphs[GRAPH_NET_DOWN];
    const GraphState& up = panelModel.graphs[GRAPH_NET_UP];
    drawGraphFrame(dc, down);
    const int64_t scale = netGraphScale(down, up);
    for (const GraphState* g : {&down, &up}) {
        SelectObject(dc, g->pen);
        drawBars(dc, *g, [scale, g](int64_t rate) { return netBarHeight(rate, scale, g->height); });
    }
    char text[TEXT_BUFFER_SIZE];
    snprintf(text, sizeof text, "NET %s", panelModel.items[ITEM_NET_DOWN].value);
    drawGraphCaption(dc, down, text, sizeof text);
}

void drawDiskRow(HDC dc, int slot) {
    const DiskEntry& disk = panelModel.disks[slot];
    const int64_t freeBytes = panelModel.diskFree[slot];
    HICON icon = freeBytes <= panelModel.fullQuota ? panelModel.icons.fulldisk : panelModel.icons.freedisk;
    if (icon) drawIcon(dc, icon, disk.left, disk.y);

    const int64_t top = int64_t{disk.y} + disk.tab_y;
    drawText(dc, disk.caption, sizeof disk.caption,
             rectangleOf(int64_t{disk.left} + disk.tab_x, top, int64_t{disk.left} + DISK_CAPTION_WIDTH, top + TEXT_ROW_HEIGHT), 0);

    char text[TEXT_BUFFER_SIZE];
    formatByteSize(text, freeBytes);
    drawText(dc, text, sizeof text, rectangleOf(int64_t{disk.right} - DISK_FREE_WIDTH, top, disk.right, top + TEXT_ROW_HEIGHT),
             DT_RIGHT);
}

HICON batteryIcon() {
    const IconSet& icons = panelModel.icons;
    if (!panelModel.onAC) return icons.battery;
    return panelModel.batteryCharging ? icons.batteryCharge : icons.ACon;
}

// Caption and value share one rectangle: a long caption and a long value overlap.
void drawInfoRow(HDC dc, int index) {
    const InfoItem& item = panelModel.items[index];
    drawIcon(dc, index == ITEM_BATTERY ? batteryIcon() : item.icon, item.left, item.y);
    const int64_t top = int64_t{item.y} + item.tab_y;
    RECT row = rectangleOf(int64_t{item.left} + item.tab_x, top, item.right, top + TEXT_ROW_HEIGHT);
    drawText(dc, item.caption, sizeof item.caption, row, 0);
    drawText(dc, item.value, sizeof item.value, row, DT_RIGHT);
}

// A network row only where the theme gave it room: themes without its keys draw nothing more.
bool infoRowShown(int index) {
    const InfoItem& item = panelModel.items[index];
    return index < ALWAYS_DRAWN_ITEMS || item.right > item.left;
}

// Later drawing covers earlier: background, the CPU, memory and network graphs, disks, rows.
void renderPanel(HDC dc) {
    drawBackground(dc);
    HGDIOBJ previousFont = SelectObject(dc, panelModel.font);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, styleTextColour());
    drawGraph(dc, GRAPH_CPU);
    drawGraph(dc, GRAPH_MEMORY);
    if (netGraphShown()) drawNetGraph(dc);
    const int disks = usedDiskSlots();
    for (int slot = 1; slot <= disks; ++slot) drawDiskRow(dc, slot);
    for (int index = 0; index < ITEM_COUNT; ++index)
        if (infoRowShown(index)) drawInfoRow(dc, index);
    SelectObject(dc, previousFont);
    // The pen and brush of the last graph stay selected: the memory context is
    // deleted with them, which leaves both objects intact.
}

}  // namespace

void paintPanel(HWND window) {
    PAINTSTRUCT paint;
    HDC windowDc = BeginPaint(window, &paint);
    HDC memoryDc = CreateCompatibleDC(windowDc);
    HGDIOBJ previousBitmap = nullptr;
    if (panelModel.backBuffer) {
        previousBitmap = SelectObject(memoryDc, panelModel.backBuffer);
    } else {
        // Compatible with the window's context: the memory context alone would give
        // a monochrome bitmap.
        panelModel.backBuffer = CreateCompatibleBitmap(windowDc, shownPanelWidth(), shownPanelHeight());
        if (panelModel.backBuffer) {
            previousBitmap = SelectObject(memoryDc, panelModel.backBuffer);
            renderPanel(memoryDc);
        }
    }
    // Without a bitmap there is no panel image to copy; the next paint tries again.
    if (panelModel.backBuffer) {
        const RECT& r = paint.rcPaint;
        BitBlt(windowDc, r.left, r.top, r.right - r.left, r.bottom - r.top, memoryDc, r.left, r.top, SRCCOPY);
        SelectObject(memoryDc, previousBitmap);
    }
    DeleteDC(memoryDc);
    EndPaint(window, &paint);
}

void invalidatePanel() {
    releaseBackBuffer();
    // Before the window's handle is stored only the cached rendering goes; the
    // window's first paint renders anyway.
    if (panelModel.panelWindow) InvalidateRect(panelModel.panelWindow, nullptr, FALSE);
}

void releaseBackBuffer() {
    if (panelModel.backBuffer) DeleteObject(panelModel.backBuffer);
    panelModel.backBuffer = nullptr;
}
