// The painter on real pixels: a visible panel window paints through paintPanel, and
// the cached rendering and the window are read back with GetDIBits.
#include <atomic>
#include <cstring>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "config/panel_model.h"
#include "config/settings.h"
#include "render/painter.h"
#include "sampling/disk_io_sampler.h"
#include "sampling/core_sampler.h"
#include "sampling/gpu_sampler.h"
#include "sampling/load_meter.h"
#include "sampling/meter_platform.h"
#include "sampling/net_sampler.h"
#include "sampling/samplers.h"
#include "sampling/volume_worker.h"
#include "support/fake_host.h"
#include "support/import_redirect.h"
#include "support/painting_window.h"
#include "support/perf_block.h"
#include "support/test_support.h"

using namespace testsupport;

namespace {

const COLORREF TEXT_COLOUR = RGB(0xFF, 0xFF, 0x00);
const COLORREF STYLE_BACKGROUND = RGB(0x40, 0x40, 0x40);
const unsigned BLACK = 0x000000;

using Keys = std::vector<std::pair<std::string, std::string>>;

// Every BitBlt of this program, recorded through its import table: the paint
// context clips to the update region, so pixels alone cannot show what was copied.
typedef BOOL(WINAPI* BitBltFn)(HDC, int, int, int, int, HDC, int, int, DWORD);
BitBltFn realBitBlt = nullptr;
std::vector<std::string> blits;

// A kept plot whose pixels the painter writes itself is a DIB section; the panel's rendering and
// the window are not. Such a plot scrolls without a call: it is seen copied into the rendering,
// and drawn whole when its colours are taken (a fill into it).
bool isWrittenPlot(HDC dc) {
    DIBSECTION section;
    return GetObjectType(dc) == OBJ_MEMDC &&
           GetObjectA(GetCurrentObject(dc, OBJ_BITMAP), sizeof section, &section) == sizeof section;
}
int writtenPlotCopies = 0, writtenPlotsDrawnWhole = 0;

BOOL WINAPI recordingBitBlt(HDC to, int x, int y, int w, int h, HDC from, int fromX, int fromY, DWORD rop) {
    char line[96];
    snprintf(line, sizeof line, "BitBlt %d %d %d %d from %d %d rop %08lX", x, y, w, h, fromX, fromY, rop);
    blits.push_back(line);
    if (isWrittenPlot(from)) ++writtenPlotCopies;
    return realBitBlt(to, x, y, w, h, from, fromX, fromY, rop);
}

typedef int(WINAPI* FillRectFn)(HDC, const RECT*, HBRUSH);
FillRectFn realFillRect = nullptr;

int WINAPI recordingFillRect(HDC dc, const RECT* rect, HBRUSH brush) {
    if (isWrittenPlot(dc)) ++writtenPlotsDrawnWhole;
    return realFillRect(dc, rect, brush);
}

void recordBitBlts() {
    if (realBitBlt) return;
    realBitBlt = reinterpret_cast<BitBltFn>(GetProcAddress(GetModuleHandleA("gdi32.dll"), "BitBlt"));
    const int patched = redirectImport(reinterpret_cast<void*>(realBitBlt), reinterpret_cast<void*>(recordingBitBlt));
    REQUIRE(patched > 0);
    realFillRect = reinterpret_cast<FillRectFn>(GetProcAddress(GetModuleHandleA("user32.dll"), "FillRect"));
    REQUIRE(redirectImport(reinterpret_cast<void*>(realFillRect), reinterpret_cast<void*>(recordingFillRect)) > 0);
}

// Records of the copies and drawings of the next render.
void clearRecords() {
    blits.clear();
    writtenPlotCopies = writtenPlotsDrawnWhole = 0;
}

// Fonts selected by this program's code, counted through its import table: selecting a font
// reaches the display driver (Wine's reads the X resources), so a steady render selects none.
typedef HGDIOBJ(WINAPI* SelectObjectFn)(HDC, HGDIOBJ);
SelectObjectFn realSelectObject = nullptr;
int fontsSelected = 0;

HGDIOBJ WINAPI countingSelectObject(HDC dc, HGDIOBJ object) {
    if (GetObjectType(object) == OBJ_FONT) ++fontsSelected;
    return realSelectObject(dc, object);
}

void countFontSelections() {
    if (realSelectObject) return;
    realSelectObject = reinterpret_cast<SelectObjectFn>(GetProcAddress(GetModuleHandleA("gdi32.dll"), "SelectObject"));
    REQUIRE(redirectImport(reinterpret_cast<void*>(realSelectObject), reinterpret_cast<void*>(countingSelectObject)) > 0);
}

// A model as a reload makes it from the given rc keys, with the start-up's frame pen.
void loadModel(const Keys& keys, const std::string& dir = "C:\\plugins\\Kelvora\\") {
    resetModel();
    fakehost::reset();
    clearMessageBoxes();
    fakehost::setStyleColors(TEXT_COLOUR, STYLE_BACKGROUND);
    snprintf(panelModel.pluginDir, PATH_SIZE, "%s", dir.c_str());
    snprintf(panelModel.rcPath, PATH_SIZE, "%sKelvora.rc", dir.c_str());
    for (const auto& key : keys) fakehost::set(key.first, key.second);
    reloadSettings();
    REQUIRE(messageBoxes().empty());
    panelModel.framePen = CreatePen(PS_SOLID, 1, RGB(0, 0, 0));
}

// A 16-bit display holds five or six bits a colour; read back through a window and through a
// bitmap, the same pixel comes out with different low bits. Only the bits it holds are compared.
Image asDisplayHoldsIt(Image image) {
    HDC screenDc = GetDC(nullptr);
    const int depth = GetDeviceCaps(screenDc, BITSPIXEL);
    ReleaseDC(nullptr, screenDc);
    if (depth == 16)
        for (unsigned& pixel : image.pixels) pixel &= 0xF8FCF8;
    return image;
}

// What draw puts into bitmap through a memory context compatible with referenceDc, read back;
// the bitmap is deleted.
template <typename Draw>
Image imageDrawnInto(HBITMAP bitmap, HDC referenceDc, Draw draw) {
    HDC memoryDc = CreateCompatibleDC(referenceDc);
    HGDIOBJ previous = SelectObject(memoryDc, bitmap);
    draw(memoryDc);
    SelectObject(memoryDc, previous);
    DeleteDC(memoryDc);
    Image image = readBitmap(bitmap);
    DeleteObject(bitmap);
    return image;
}

// A visible pop-up window of the panel's size that paints with paintPanel.
struct PanelWindow {
    HWND window;
    PanelWindow() {
        window = createPaintingPanelWindow();
        REQUIRE(window != nullptr);
        panelModel.panelWindow = window;
    }
    ~PanelWindow() {
        panelModel.panelWindow = nullptr;
        DestroyWindow(window);
    }
    // Delivers the pending WM_PAINT, if any.
    void paint() { UpdateWindow(window); }
    // What a sampler does after changing the model, then the paint that follows.
    void repaint() {
        invalidatePanel();
        UpdateWindow(window);
    }
    Image buffer() const { return readBitmap(panelModel.backBuffer); }
    // The pixels the window shows, copied from its device context.
    Image screen() const {
        RECT client;
        GetClientRect(window, &client);
        BITMAPINFO bi = {};
        bi.bmiHeader.biSize = sizeof bi.bmiHeader;
        bi.bmiHeader.biWidth = client.right;
        bi.bmiHeader.biHeight = -client.bottom;
        bi.bmiHeader.biPlanes = 1;
        bi.bmiHeader.biBitCount = 32;
        bi.bmiHeader.biCompression = BI_RGB;
        HDC windowDc = GetDC(window);
        void* bits = nullptr;
        HBITMAP copy = CreateDIBSection(windowDc, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
        Image image = imageDrawnInto(copy, windowDc, [&](HDC memoryDc) {
            BitBlt(memoryDc, 0, 0, client.right, client.bottom, windowDc, 0, 0, SRCCOPY);
        });
        ReleaseDC(window, windowDc);
        return asDisplayHoldsIt(image);
    }
};

// Bounding box of the pixels of one colour inside a region; empty when there are none.
struct Box {
    int left = INT32_MAX, top = INT32_MAX, right = INT32_MIN, bottom = INT32_MIN;  // inclusive
    bool empty() const { return left > right; }
};
Box pixelsOf(const Image& image, unsigned colour, RECT region) {
    Box box;
    for (int y = region.top; y < region.bottom; ++y)
        for (int x = region.left; x < region.right; ++x)
            if (image.at(x, y) == colour) {
                box.left = std::min(box.left, x);
                box.right = std::max(box.right, x);
                box.top = std::min(box.top, y);
                box.bottom = std::max(box.bottom, y);
            }
    return box;
}

int64_t* setHistory(int graph, std::initializer_list<std::pair<int, int64_t>> samples) {
    int64_t* history = panelModel.graphs[graph].history;
    REQUIRE(history != nullptr);
    for (const auto& s : samples) history[s.first] = s.second;
    return history;
}

}  // namespace

TEST_CASE("graphs: frame one pixel outside the plot area, bars by the float factor") {
    loadModel({{"Kelvora.width:", "460"}, {"Kelvora.height:", "200"},
               {"Kelvora.cpuGraph.x:", "10"}, {"Kelvora.cpuGraph.y:", "60"},
               {"Kelvora.cpuGraph.width:", "200"}, {"Kelvora.cpuGraph.height:", "100"},
               {"Kelvora.cpuGraph.color:", "#00FF00"}, {"Kelvora.cpuGraph.background:", "#000080"},
               {"Kelvora.memoryGraph.x:", "240"}, {"Kelvora.memoryGraph.y:", "60"},
               {"Kelvora.memoryGraph.width:", "200"}, {"Kelvora.memoryGraph.height:", "3"},
               {"Kelvora.memoryGraph.color:", "#FF0000"}, {"Kelvora.memoryGraph.background:", "#0000FF"}});
    // Oldest first: full scale, nothing, above scale, below zero, 37, 1, -2; the newest is 50.
    setHistory(0, {{0, 100}, {1, 0}, {2, 150}, {3, -1}, {4, 37}, {5, 1}, {6, -2}, {198, 0}, {199, 50}});
    setHistory(1, {{0, 100}, {1, 50}, {199, 100}});
    panelModel.cpuPercent = 37;
    PanelWindow panel;
    panel.paint();
    const Image image = panel.buffer();
    REQUIRE(image.width == 460);
    const unsigned green = 0x00FF00, navy = 0x000080, red = 0xFF0000, blue = 0x0000FF;
    const unsigned background = pixelOf(STYLE_BACKGROUND);

    SUBCASE("the frame is black exactly one pixel outside the plot area") {
        for (int y : {60, 100, 159}) {
            CHECK(image.at(9, y) == BLACK);
            CHECK(image.at(210, y) == BLACK);
            CHECK(image.at(8, y) == background);
            CHECK(image.at(211, y) == background);
        }
        for (int x : {9, 50, 150, 210}) {
            CHECK(image.at(x, 59) == BLACK);
            CHECK(image.at(x, 160) == BLACK);
            CHECK(image.at(x, 58) == background);
            CHECK(image.at(x, 161) == background);
        }
        CHECK(image.at(239, 59) == BLACK);
        CHECK(image.at(440, 63) == BLACK);
    }
    SUBCASE("bars stand on the bottom row of the plot area, in the graph's colour") {
        CHECK(image.at(10, 60) == green);  // 100 at height 100: the full 100 rows
        CHECK(image.at(10, 159) == green);
        CHECK(image.at(10, 59) == BLACK);
        CHECK(image.at(11, 159) == navy);  // 0: nothing
        CHECK(image.at(11, 60) == navy);
        CHECK(image.at(12, 10) == green);  // 150 rises through the frame above the plot area
        CHECK(image.at(12, 59) == green);
        CHECK(image.at(12, 9) == background);
        CHECK(image.at(12, 160) == BLACK);
        CHECK(image.at(13, 159) == navy);  // -1: nothing, the frame below intact
        CHECK(image.at(13, 160) == BLACK);
        CHECK(image.at(14, 123) == green);  // 37: rows 123 to 159
        CHECK(image.at(14, 122) == navy);
        CHECK(image.at(14, 159) == green);
        CHECK(image.at(15, 159) == green);  // 1: the bottom row alone
        CHECK(image.at(15, 158) == navy);
        CHECK(image.at(16, 160) == BLACK);  // -2: no column down through the frame
        CHECK(image.at(16, 161) == background);
    }
    SUBCASE("the newest sample is the rightmost column") {
        CHECK(image.at(209, 110) == green);
        CHECK(image.at(209, 109) == navy);
        CHECK(image.at(208, 159) == navy);
    }
    SUBCASE("height 3 draws a sample of 100 as 2 pixels") {
        CHECK(image.at(240, 60) == blue);
        CHECK(image.at(240, 61) == red);
        CHECK(image.at(240, 62) == red);
        CHECK(image.at(241, 62) == red);  // 50 gives 1.4999...: one pixel
        CHECK(image.at(241, 61) == blue);
        CHECK(image.at(439, 61) == red);
        CHECK(image.at(439, 60) == blue);
    }
    SUBCASE("the caption is centred over the plot area in the style's text colour") {
        const Box text = pixelsOf(image, pixelOf(TEXT_COLOUR), RECT{0, 0, 240, 200});
        REQUIRE_FALSE(text.empty());
        CHECK(text.left >= 10);
        CHECK(text.right <= 209);
        CHECK(text.top >= 60);
        CHECK(text.bottom <= 159);
        CHECK(std::abs((text.left + text.right) - 2 * 109) <= 4);
        CHECK(std::abs((text.top + text.bottom) - 2 * 109) <= 6);
    }
}

TEST_CASE("graph columns outside the panel are left out without changing a pixel") {
    // A graph of 2,147,483,647 samples whose plot area ends at column 59: the newest samples
    // are the visible ones, and the history holds no more of them than a screen is wide.
    loadModel({{"Kelvora.width:", "100"}, {"Kelvora.height:", "40"},
               {"Kelvora.cpuGraph.color:", "#00FF00"}, {"Kelvora.cpuGraph.y:", "5"},
               {"Kelvora.cpuGraph.height:", "10"}, {"Kelvora.cpuGraph.width:", "2147483647"},
               {"Kelvora.cpuGraph.x:", std::to_string(60 - 2147483647LL)},
               {"Kelvora.memoryGraph.x:", "50"}, {"Kelvora.memoryGraph.y:", "25"},
               {"Kelvora.memoryGraph.width:", "1000"}, {"Kelvora.memoryGraph.height:", "10"},
               {"Kelvora.memoryGraph.color:", "#FF0000"}});
    const GraphState& wide = panelModel.graphs[0];
    const int held = wide.samples;
    CHECK(held == GetSystemMetrics(SM_CXVIRTUALSCREEN));
    REQUIRE(held > 61);
    setHistory(0, {{held - 1, 100}, {held - 2, 50}, {held - 60, 100} /* column 0 */, {held - 61, 100} /* column -1 */});
    // The memory graph runs past the right edge: its column 99 is sample 49.
    setHistory(1, {{49, 100}, {50, 100}});

    PanelWindow panel;
    panel.paint();
    const Image image = panel.buffer();
    CHECK(image.at(59, 5) == 0x00FF00);
    CHECK(image.at(58, 10) == 0x00FF00);
    CHECK(image.at(58, 9) == BLACK);
    CHECK(image.at(60, 8) == BLACK);  // the right side of the frame
    CHECK(image.at(0, 5) == 0x00FF00);
    CHECK(image.at(99, 25) == 0xFF0000);
    CHECK(image.at(98, 34) == BLACK);
}

TEST_CASE("the network graph: download bars, upload bars over them, the scale automatic or fixed") {
    const Keys keys = {{"Kelvora.width:", "120"}, {"Kelvora.height:", "80"}, {"Kelvora.cpuGraph.y:", "-100"},
                       {"Kelvora.memoryGraph.y:", "-100"}, {"Kelvora.netGraph.x:", "10"}, {"Kelvora.netGraph.y:", "20"},
                       {"Kelvora.netGraph.width:", "8"}, {"Kelvora.netGraph.height:", "40"},
                       {"Kelvora.netGraph.color:", "#00FF00"}, {"Kelvora.netGraph.upColor:", "#FF0000"},
                       {"Kelvora.netGraph.background:", "#000080"}};
    const unsigned green = 0x00FF00, red = 0xFF0000, navy = 0x000080;
    // The height in pixels of the bar of one colour standing on the plot's bottom row; the
    // caption's pixels over it count as the bar's.
    auto barIn = [](const Image& image, int column, unsigned colour) {
        int rows = 0;
        for (int y = 59; y >= 20 && (image.at(column, y) == colour || image.at(column, y) == pixelOf(TEXT_COLOUR)); --y)
            ++rows;
        return rows;
    };
    auto fill = [] {
        setHistory(GRAPH_NET_DOWN, {{1, 1000}, {2, 2000}, {3, 7000}, {4, 3000}, {5, 1}, {7, 700}});
        setHistory(GRAPH_NET_UP, {{1, 500}, {2, 7000}, {3, 0}, {4, 1500}, {6, 350}, {7, 0}});
    };
    SUBCASE("automatic: the largest rate shown, down or up, fills the plot") {
        loadModel(keys);
        fill();
        snprintf(panelModel.items[ITEM_NET_DOWN].value, VALUE_SIZE, "%s", "1.2 MB/s");
        PanelWindow panel;
        panel.paint();
        const Image image = panel.buffer();
        CHECK(image.at(9, 30) == BLACK);  // the frame, one pixel outside the plot
        CHECK(image.at(18, 30) == BLACK);
        CHECK(image.at(12, 19) == BLACK);
        CHECK(image.at(10, 59) == navy);  // no traffic: no bar
        // 1000 of 7000 at 40 rows is 5.7: 5 rows of download, the lower 2 covered by upload.
        CHECK(barIn(image, 11, red) == 2);
        CHECK(image.at(11, 57) == green);
        CHECK(image.at(11, 55) == green);
        CHECK(image.at(11, 54) == navy);
        CHECK(barIn(image, 12, red) == 40);  // upload above download hides it
        CHECK(barIn(image, 13, green) == 40);
        CHECK(image.at(13, 19) == BLACK);  // the full height and not a row more
        CHECK(barIn(image, 14, red) == 8);  // 3000 down: 17 rows, 1500 up: 8 over them
        CHECK(image.at(14, 51) == green);
        CHECK(image.at(14, 43) == green);
        CHECK(image.at(14, 42) == navy);
        CHECK(image.at(15, 59) == navy);  // 1 byte of 7000 is no row
        CHECK(barIn(image, 16, red) == 2);
        CHECK(barIn(image, 17, green) == 4);
        // The caption, centred over the plot in the text colour.
        const Box caption = pixelsOf(image, pixelOf(TEXT_COLOUR), RECT{0, 0, 120, 80});
        REQUIRE_FALSE(caption.empty());
        CHECK(caption.left >= 10);
        CHECK(caption.right <= 17);
    }
    SUBCASE("automatic, without traffic: at least 1 KB/s fills the plot") {
        loadModel(keys);
        setHistory(GRAPH_NET_DOWN, {{0, 512}, {7, 1024}});
        PanelWindow panel;
        panel.paint();
        const Image image = panel.buffer();
        CHECK(barIn(image, 10, green) == 20);
        CHECK(barIn(image, 17, green) == 40);
    }
    SUBCASE("a fixed scale in KB/s: faster rates fill the plot and go no higher") {
        Keys fixed = keys;
        fixed.push_back({"Kelvora.netGraph.scale:", "4"});  // 4096 bytes a second
        loadModel(fixed);
        fill();
        PanelWindow panel;
        panel.paint();
        const Image image = panel.buffer();
        CHECK(barIn(image, 11, red) == 4);  // 500 of 4096: 4.9 rows over 1000: 9.8
        CHECK(image.at(11, 51) == green);
        CHECK(image.at(11, 50) == navy);
        CHECK(barIn(image, 13, green) == 40);
        CHECK(image.at(13, 19) == BLACK);
        CHECK(image.at(12, 19) == BLACK);
    }
}

TEST_CASE("the disk-activity graph: read bars, write bars over them, its own scale, over the network graph") {
    // The network graph lies under the disk-activity graph, at the same place: it is drawn first.
    loadModel({{"Kelvora.width:", "120"}, {"Kelvora.height:", "80"}, {"Kelvora.cpuGraph.y:", "-100"},
               {"Kelvora.memoryGraph.y:", "-100"}, {"Kelvora.netGraph.x:", "10"}, {"Kelvora.netGraph.y:", "20"},
               {"Kelvora.netGraph.width:", "8"}, {"Kelvora.netGraph.height:", "40"},
               {"Kelvora.netGraph.background:", "#00FFFF"}, {"Kelvora.diskIoGraph.x:", "10"},
               {"Kelvora.diskIoGraph.y:", "20"}, {"Kelvora.diskIoGraph.width:", "8"}, {"Kelvora.diskIoGraph.height:", "40"},
               {"Kelvora.diskIoGraph.color:", "#00FF00"}, {"Kelvora.diskIoGraph.upColor:", "#FF0000"},
               {"Kelvora.diskIoGraph.background:", "#000080"}, {"Kelvora.diskIoGraph.scale:", "8"}});
    setHistory(GRAPH_NET_DOWN, {{0, 100}, {7, 100}});
    setHistory(GRAPH_DISK_READ, {{1, 1024}, {2, 9000}, {3, 2048}});
    setHistory(GRAPH_DISK_WRITE, {{1, 512}, {3, 9000}, {4, 1}});
    PanelWindow panel;
    panel.paint();
    const Image image = panel.buffer();
    const unsigned green = 0x00FF00, red = 0xFF0000, navy = 0x000080;
    CHECK(pixelsOf(image, 0x00FFFF, RECT{0, 0, 120, 80}).empty());  // the network plot is covered whole
    CHECK(image.at(9, 30) == BLACK);
    CHECK(image.at(10, 59) == navy);
    // A fixed scale of 8 KB/s (rows below the centred caption are checked): 1024 is an eighth of
    // the plot, 512 a sixteenth over it; more than the scale fills it and goes no higher.
    CHECK(image.at(11, 55) == green);
    CHECK(image.at(11, 54) == navy);
    CHECK(image.at(11, 58) == red);
    CHECK(image.at(11, 57) == green);
    CHECK(image.at(12, 20) == green);
    CHECK(image.at(12, 19) == BLACK);
    CHECK(image.at(13, 20) == red);
    CHECK(image.at(14, 59) == navy);  // 1 byte a second of 8192 is no row
    CHECK(image.at(17, 59) == navy);
}

TEST_CASE("the cores graph: a bar a processor from the left, the rest background, shared columns the busiest") {
    const Keys keys = {{"Kelvora.width:", "120"}, {"Kelvora.height:", "60"}, {"Kelvora.cpuGraph.y:", "-100"},
                       {"Kelvora.memoryGraph.y:", "-100"}, {"Kelvora.coresGraph.x:", "10"},
                       {"Kelvora.coresGraph.y:", "20"}, {"Kelvora.coresGraph.width:", "11"},
                       {"Kelvora.coresGraph.height:", "20"}, {"Kelvora.coresGraph.color:", "#00FF00"},
                       {"Kelvora.coresGraph.background:", "#000080"}};
    const unsigned green = 0x00FF00, navy = 0x000080;
    // Each column's bar: its rows of the bar colour, standing on the plot's bottom row.
    auto bars = [](const Image& image, int width) {
        std::vector<int> heights;
        for (int x = 10; x < 10 + width; ++x) {
            int rows = 0;
            while (rows < 20 && image.at(x, 39 - rows) == 0x00FF00) ++rows;
            for (int y = 39 - rows; y >= 20; --y)
                if (image.at(x, y) != 0x000080) return std::vector<int>{-1};  // a stray pixel above the bar
            heights.push_back(rows);
        }
        return heights;
    };
    auto show = [](std::initializer_list<uint8_t> loads) {
        panelModel.coreCount = static_cast<uint32_t>(loads.size());
        std::copy(loads.begin(), loads.end(), panelModel.coreLoads);
    };
    SUBCASE("three processors on 11 columns: 3 each, 2 left over; heights rounded down") {
        loadModel(keys);
        show({100, 37, 0});
        PanelWindow panel;
        panel.paint();
        const Image image = panel.buffer();
        CHECK(bars(image, 11) == std::vector<int>{20, 20, 20, 7, 7, 7, 0, 0, 0, 0, 0});
        for (int y : {19, 40}) CHECK(image.at(15, y) == BLACK);  // the frame above and below
        for (int x : {9, 21}) CHECK(image.at(x, 30) == BLACK);
        CHECK(image.at(20, 20) == navy);  // the columns left over
        CHECK(image.at(22, 30) == pixelOf(STYLE_BACKGROUND));
        CHECK(pixelsOf(image, pixelOf(TEXT_COLOUR), RECT{0, 0, 120, 60}).empty());  // no caption
    }
    SUBCASE("more processors than columns: neighbours share one, which shows the busiest") {
        Keys narrow = keys;
        for (auto& key : narrow)
            if (key.first == "Kelvora.coresGraph.width:") key.second = "2";
        loadModel(narrow);
        show({0, 90, 10, 0, 45});  // columns of processors 0-1 and 2-4
        PanelWindow panel;
        panel.paint();
        CHECK(bars(panel.buffer(), 2) == std::vector<int>{18, 9});
    }
    SUBCASE("no processors read: frame and background alone") {
        loadModel(keys);
        show({});
        PanelWindow panel;
        panel.paint();
        const Image image = panel.buffer();
        CHECK(bars(image, 11) == std::vector<int>(11, 0));
        CHECK(pixelsOf(image, green, RECT{0, 0, 120, 60}).empty());
        CHECK(image.at(9, 19) == BLACK);
    }
}

TEST_CASE("rate and cores parts without room draw nothing: a theme without them keeps every pixel") {
    const std::string dir = makeTempDir();
    writeSolidIcon(dir + "net.ico", RGB(0xFF, 0x00, 0xFF));
    const Keys plain = {{"Kelvora.width:", "160"}, {"Kelvora.height:", "100"}, {"Kelvora.ip.caption:", "IP"},
                        {"Kelvora.ip.left:", "10"}, {"Kelvora.ip.right:", "150"}, {"Kelvora.ip.y:", "75"}};
    loadModel(plain, dir);
    PanelWindow before;
    before.paint();
    const Image without = before.buffer();

    Keys roomless = plain;
    for (const char* row : {"netDown", "netUp", "diskRead", "diskWrite"}) {
        const std::string k = std::string("Kelvora.") + row + ".";
        const bool even = row[4] == 'D' || row[4] == 'R';
        roomless.insert(roomless.end(), {{k + "caption:", "Rate"}, {k + "icon:", "net.ico"}, {k + "left:", "40"},
                                         {k + "right:", even ? "40" : "-5"}, {k + "y:", "5"}});
    }
    roomless.insert(roomless.end(), {{"Kelvora.netGraph.x:", "5"}, {"Kelvora.netGraph.y:", "5"},
                                     {"Kelvora.netGraph.width:", "50"}, {"Kelvora.netGraph.height:", "0"},
                                     {"Kelvora.diskIoGraph.x:", "5"}, {"Kelvora.diskIoGraph.y:", "5"},
                                     {"Kelvora.diskIoGraph.width:", "0"}, {"Kelvora.diskIoGraph.height:", "50"},
                                     {"Kelvora.coresGraph.x:", "5"}, {"Kelvora.coresGraph.y:", "5"},
                                     {"Kelvora.coresGraph.width:", "0"}, {"Kelvora.coresGraph.height:", "30"}});
    loadModel(roomless, dir);
    snprintf(panelModel.items[ITEM_NET_DOWN].value, VALUE_SIZE, "%s", "9 B/s");
    snprintf(panelModel.items[ITEM_DISK_READ].value, VALUE_SIZE, "%s", "9 B/s");
    snprintf(panelModel.diskIoTotal, VALUE_SIZE, "%s", "9 B/s");
    panelModel.coreCount = 4;
    memset(panelModel.coreLoads, 100, 4);
    PanelWindow after;
    after.paint();
    CHECK(after.buffer().pixels == without.pixels);

    SUBCASE("with room the rows are drawn like the others, after them") {
        for (const char* row : {"Kelvora.netDown.right:", "Kelvora.diskRead.right:"}) {
            CAPTURE(row);
            Keys rows = roomless;
            rows.push_back({row, "150"});
            loadModel(rows, dir);
            PanelWindow panel;
            panel.paint();
            const Image image = panel.buffer();
            CHECK(image.at(40, 5) == 0xFF00FF);
            CHECK_FALSE(pixelsOf(image, pixelOf(TEXT_COLOUR), RECT{40, 5, 150, 25}).empty());
            CHECK(image.at(40, 60) == pixelOf(STYLE_BACKGROUND));  // and no rate graph
        }
    }
}

TEST_CASE("a graph without history draws its frame and plot area but no bars") {
    loadModel({{"Kelvora.cpuGraph.background:", "#0000FF"}, {"Kelvora.memoryGraph.x:", "60"},
               {"Kelvora.memoryGraph.width:", "0"}});
    // As after a failed allocation: a width, but no buffer.
    LocalFree(panelModel.graphs[0].history);
    panelModel.graphs[0].history = nullptr;
    REQUIRE(panelModel.graphs[1].history == nullptr);
    PanelWindow panel;
    panel.paint();
    const Image image = panel.buffer();
    REQUIRE(image.width == 100);
    CHECK(image.at(9, 55) == BLACK);
    CHECK(image.at(30, 55) == BLACK);
    CHECK(image.at(20, 69) == 0x0000FF);
    CHECK(image.at(59, 55) == BLACK);  // width 0: the frame's two sides touch
    CHECK(image.at(60, 55) == BLACK);
}

TEST_CASE("later drawing covers earlier: the memory graph over the CPU graph, rows over both") {
    const std::string dir = makeTempDir();
    writeSolidIcon(dir + "ip.ico", RGB(0xFF, 0x00, 0xFF));
    loadModel({{"Kelvora.memoryGraph.background:", "#000080"}, {"Kelvora.ip.icon:", "ip.ico"},
               {"Kelvora.ip.left:", "20"}, {"Kelvora.ip.y:", "55"}},
              dir);
    setHistory(0, {{19, 100}});  // a CPU bar under the memory graph at the same place
    PanelWindow panel;
    panel.paint();
    const Image image = panel.buffer();
    CHECK(image.at(29, 52) == 0x000080);
    CHECK(image.at(21, 56) == 0xFF00FF);
    CHECK(image.at(35, 70) == 0xFF00FF);
    CHECK(image.at(36, 71) == pixelOf(STYLE_BACKGROUND));
}

TEST_CASE("background: sctColor fills the whole panel, otherwise one style gradient") {
    SUBCASE("sctEnabled") {
        loadModel({{"Kelvora.sctEnabled:", "true"}, {"Kelvora.sctColor:", "#123456"}});
        PanelWindow panel;
        panel.paint();
        const Image image = panel.buffer();
        CHECK(fakehost::gradientCalls() == 0);
        int other = 0;
        for (int y = 0; y < 100; ++y)
            for (int x = 0; x < 100; ++x) {
                const bool graphs = x >= 9 && x <= 30 && y >= 49 && y <= 70;
                if (!graphs && image.at(x, y) != 0x123456) ++other;
            }
        CHECK(other == 0);
    }
    SUBCASE("the style's background through the host, with the full rectangle and flag 1") {
        loadModel({{"Kelvora.width:", "140"}, {"Kelvora.height:", "90"}});
        PanelWindow panel;
        panel.paint();
        checkLines({"MakeStyleGradient 0 0 140 90 1"}, fakehost::logLinesStartingWith("MakeStyleGradient"));
        const Image image = panel.buffer();
        CHECK(image.at(0, 0) == pixelOf(STYLE_BACKGROUND));
        CHECK(image.at(139, 89) == pixelOf(STYLE_BACKGROUND));
    }
}

TEST_CASE("disk rows: icon by quota, caption clipped at left + 100, free space ending at right") {
    const std::string dir = makeTempDir();
    writeSolidIcon(dir + "free.ico", RGB(0x00, 0xFF, 0x00));
    writeSolidIcon(dir + "full.ico", RGB(0xFF, 0x00, 0x00));
    SUBCASE("diskFree equal to fullQuota is full, one byte more is free; a count of 1000 draws 25") {
        Keys keys = {{"Kelvora.width:", "320"}, {"Kelvora.height:", "110"}, {"Kelvora.cpuGraph.y:", "-100"},
                     {"Kelvora.memoryGraph.y:", "-100"}, {"Kelvora.icons.freedisk:", "free.ico"},
                     {"Kelvora.icons.fulldisk:", "full.ico"}, {"Kelvora.diskCount:", "1000"}};
        for (int k = 1; k <= 25; ++k) {
            const std::string prefix = "Kelvora.disk[" + std::to_string(k) + "].";
            keys.push_back({prefix + "left:", std::to_string(10 + (k - 1) % 5 * 60)});
            keys.push_back({prefix + "y:", std::to_string(5 + (k - 1) / 5 * 20)});
        }
        loadModel(keys, dir);
        REQUIRE(panelModel.diskCount == 1000);
        for (int k = 1; k <= 25; ++k) {
            panelModel.diskFree[k] = panelModel.fullQuota + (k % 2 == 0 ? 1 : 0);
            panelModel.volumes[k].reading = DISK_READ;
        }
        PanelWindow panel;
        panel.paint();
        const Image image = panel.buffer();
        for (int k = 1; k <= 25; ++k) {
            const int left = 10 + (k - 1) % 5 * 60, top = 5 + (k - 1) / 5 * 20;
            const unsigned expected = k % 2 == 0 ? 0x00FF00 : 0xFF0000;
            CHECK_MESSAGE(image.at(left, top) == expected, "disk " << k);
            CHECK_MESSAGE(image.at(left + 15, top + 15) == expected, "disk " << k);
            CHECK_MESSAGE(image.at(left + 16, top + 8) == pixelOf(STYLE_BACKGROUND), "disk " << k);
        }
    }
    SUBCASE("texts in their rectangles, no icon when none is set") {
        loadModel({{"Kelvora.width:", "320"}, {"Kelvora.height:", "60"}, {"Kelvora.cpuGraph.y:", "-100"},
                   {"Kelvora.memoryGraph.y:", "-100"}, {"Kelvora.diskCount:", "1"},
                   {"Kelvora.disk[1].left:", "10"}, {"Kelvora.disk[1].y:", "10"}, {"Kelvora.disk[1].tab_x:", "20"},
                   {"Kelvora.disk[1].tab_y:", "2"}, {"Kelvora.disk[1].right:", "300"},
                   {"Kelvora.disk[1].caption:", std::string(30, 'W')}},
                  dir);
        panelModel.diskFree[1] = 1088;
        panelModel.volumes[1].reading = DISK_READ;
        PanelWindow panel;
        panel.paint();
        const Image image = panel.buffer();
        const unsigned text = pixelOf(TEXT_COLOUR);
        const Box caption = pixelsOf(image, text, RECT{0, 0, 200, 60});
        REQUIRE_FALSE(caption.empty());
        CHECK(caption.left >= 30);
        CHECK(caption.right == 109);  // a long caption is cut at left + 100
        CHECK(caption.top >= 12);
        CHECK(caption.bottom <= 31);
        const Box free = pixelsOf(image, text, RECT{200, 0, 320, 60});
        REQUIRE_FALSE(free.empty());
        CHECK(free.right <= 299);
        CHECK(free.right >= 296);  // right-aligned
        CHECK(free.left >= 240);
        CHECK(free.top >= 12);
        CHECK(free.bottom <= 31);
        CHECK(image.at(10, 10) == pixelOf(STYLE_BACKGROUND));
        // Before its volume first answers the row shows its caption alone; a volume that has
        // not answered for three periods shows "n/a", narrower than "1.1 KB".
        const auto freeTextAfter = [&](DiskReading reading) {
            panelModel.volumes[1].reading = reading;
            invalidatePanel();
            panel.paint();
            return pixelsOf(panel.buffer(), text, RECT{200, 0, 320, 60});
        };
        CHECK(freeTextAfter(DISK_NOT_READ).empty());
        const Box late = freeTextAfter(DISK_LATE);
        REQUIRE_FALSE(late.empty());
        CHECK(late.right >= 296);
        CHECK(late.left > free.left);
    }
}

TEST_CASE("information rows: battery icon by power state, caption left and value right") {
    const std::string dir = makeTempDir();
    writeSolidIcon(dir + "battery.ico", RGB(0x00, 0x00, 0xFF));
    writeSolidIcon(dir + "ac.ico", RGB(0x00, 0xFF, 0x00));
    writeSolidIcon(dir + "charge.ico", RGB(0xFF, 0x00, 0x00));
    loadModel({{"Kelvora.width:", "220"}, {"Kelvora.height:", "60"}, {"Kelvora.cpuGraph.y:", "-100"},
               {"Kelvora.memoryGraph.y:", "-100"}, {"Kelvora.icons.battery:", "battery.ico"},
               {"Kelvora.icons.ACon:", "ac.ico"}, {"Kelvora.icons.batteryCharge:", "charge.ico"},
               {"Kelvora.battery.left:", "10"}, {"Kelvora.battery.y:", "10"}, {"Kelvora.battery.tab_x:", "20"},
               {"Kelvora.battery.right:", "200"}, {"Kelvora.battery.caption:", "Battery"}},
              dir);
    snprintf(panelModel.items[ITEM_BATTERY].value, VALUE_SIZE, "%s", "98%");
    PanelWindow panel;

    struct Case { bool onAC; bool charging; unsigned colour; };
    for (Case c : {Case{true, true, 0xFF0000}, Case{true, false, 0x00FF00}, Case{false, true, 0x0000FF},
                   Case{false, false, 0x0000FF}}) {
        panelModel.onAC = c.onAC;
        panelModel.batteryCharging = c.charging;
        panel.repaint();
        const Image image = panel.buffer();
        CHECK_MESSAGE(image.at(10, 10) == c.colour, "onAC " << c.onAC << " charging " << c.charging);
        CHECK_MESSAGE(image.at(25, 25) == c.colour, "onAC " << c.onAC << " charging " << c.charging);
    }
    const Image image = panel.buffer();
    const Box caption = pixelsOf(image, pixelOf(TEXT_COLOUR), RECT{0, 0, 100, 60});
    const Box value = pixelsOf(image, pixelOf(TEXT_COLOUR), RECT{100, 0, 220, 60});
    REQUIRE_FALSE(caption.empty());
    REQUIRE_FALSE(value.empty());
    CHECK(caption.left >= 30);
    CHECK(caption.left <= 32);
    CHECK(value.right <= 199);
    CHECK(value.right >= 196);
    CHECK(value.top >= 10);
    CHECK(value.bottom <= 29);
}

TEST_CASE("a paint without a change copies the cached rendering; invalidatePanel renders again") {
    loadModel({});
    PanelWindow panel;
    panel.paint();
    REQUIRE(fakehost::gradientCalls() == 1);
    const HBITMAP first = panelModel.backBuffer;
    const Image rendered = panel.buffer();
    CHECK(panel.screen().pixels == rendered.pixels);

    // A model change that no one announced: the uncovered window still shows the old rendering.
    setHistory(0, {{19, 100}});
    setHistory(1, {{19, 100}});
    InvalidateRect(panel.window, nullptr, FALSE);
    panel.paint();
    CHECK(fakehost::gradientCalls() == 1);
    CHECK(panelModel.backBuffer == first);
    CHECK(panel.buffer().pixels == rendered.pixels);
    CHECK(panel.screen().pixels == rendered.pixels);

    panel.repaint();
    CHECK(fakehost::gradientCalls() == 2);
    const Image again = panel.buffer();
    CHECK(again.at(29, 51) == 0xFFFFFF);
    CHECK(rendered.at(29, 51) == BLACK);
    CHECK(panel.screen().pixels == again.pixels);
}

TEST_CASE("a paint rectangle smaller than the panel reaches the window only inside it") {
    loadModel({});
    PanelWindow panel;
    panel.paint();
    const Image before = panel.screen();
    REQUIRE(before.at(0, 0) == pixelOf(STYLE_BACKGROUND));

    fakehost::setStyleColors(TEXT_COLOUR, RGB(0x00, 0x80, 0x80));
    invalidatePanel();
    ValidateRect(panel.window, nullptr);
    RECT part = {5, 45, 40, 80};  // across the graphs' frame
    InvalidateRect(panel.window, &part, FALSE);
    recordBitBlts();
    blits.clear();
    panel.paint();
    // The whole panel rendered from its new background (the two graphs, which lie on each other
    // in the default layout, drawn into their kept plots and copied in), then the paint rectangle
    // copied.
    checkLines({"BitBlt 0 0 100 100 from 0 0 rop 00CC0020", "BitBlt 9 49 22 22 from 9 49 rop 00CC0020",
                "BitBlt 9 49 22 22 from 9 49 rop 00CC0020", "BitBlt 5 45 35 35 from 5 45 rop 00CC0020"},
               blits);

    const Image buffer = panel.buffer();
    const Image after = panel.screen();
    CHECK(fakehost::gradientCalls() == 2);
    // The whole panel was rendered anew ...
    CHECK(buffer.at(0, 0) == 0x008080);
    CHECK(buffer.at(99, 99) == 0x008080);
    // ... and only the paint rectangle copied, to the same place.
    int outside = 0, inside = 0;
    for (int y = 0; y < 100; ++y)
        for (int x = 0; x < 100; ++x) {
            const bool in = x >= part.left && x < part.right && y >= part.top && y < part.bottom;
            if (in && after.at(x, y) != buffer.at(x, y)) ++inside;
            if (!in && after.at(x, y) != before.at(x, y)) ++outside;
        }
    CHECK(inside == 0);
    CHECK(outside == 0);
    CHECK(after.at(5, 45) == 0x008080);
    CHECK(after.at(9, 49) == BLACK);
}

TEST_CASE("invalidatePanel before the window is known only drops the rendering") {
    loadModel({});
    PanelWindow panel;
    panel.paint();
    const HBITMAP rendered = panelModel.backBuffer;
    REQUIRE(rendered != nullptr);
    panelModel.panelWindow = nullptr;
    invalidatePanel();
    CHECK(panelModel.backBuffer == nullptr);
    CHECK(GetObjectType(rendered) == 0);
    CHECK_FALSE(GetUpdateRect(panel.window, nullptr, FALSE));

    panelModel.panelWindow = panel.window;
    invalidatePanel();
    RECT update = {};
    CHECK(GetUpdateRect(panel.window, &update, FALSE));
    CHECK(update.right == 100);
    CHECK(update.bottom == 100);
}

TEST_CASE("a panel larger than the virtual screen renders a bitmap of the screen's size") {
    loadModel({{"Kelvora.width:", "2147483647"}, {"Kelvora.height:", "100000"}});
    PanelWindow panel;
    panel.paint();
    REQUIRE(panelModel.backBuffer != nullptr);
    BITMAP bitmap = {};
    GetObjectA(panelModel.backBuffer, sizeof bitmap, &bitmap);
    const int screenWidth = GetSystemMetrics(SM_CXVIRTUALSCREEN), screenHeight = GetSystemMetrics(SM_CYVIRTUALSCREEN);
    CHECK(bitmap.bmWidth == screenWidth);
    CHECK(bitmap.bmHeight == screenHeight);
    checkLines({"MakeStyleGradient 0 0 " + std::to_string(screenWidth) + " " + std::to_string(screenHeight) + " 1"},
               fakehost::logLinesStartingWith("MakeStyleGradient"));
    CHECK(panelModel.width == 2147483647);  // the setting itself stands
}

TEST_CASE("a failed bitmap leaves nothing cached and the next paint tries again") {
    loadModel({});
    PanelWindow panel;
    panelModel.width = -100000;  // no bitmap can have this size
    panelModel.height = -100000;
    panel.paint();
    CHECK(panelModel.backBuffer == nullptr);
    CHECK(fakehost::gradientCalls() == 0);
    CHECK_FALSE(GetUpdateRect(panel.window, nullptr, FALSE));

    panelModel.width = 100;
    panelModel.height = 100;
    panel.repaint();
    CHECK(panelModel.backBuffer != nullptr);
    CHECK(fakehost::gradientCalls() == 1);
}

TEST_CASE("releaseBackBuffer deletes the renderings and every cache that still exist") {
    loadModel({});
    PanelWindow panel;
    releaseBackBuffer();  // what earlier cases left
    const int objects = gdiObjectCount();
    panel.paint();
    const HBITMAP rendered = panelModel.backBuffer;
    REQUIRE(rendered != nullptr);
    CHECK(gdiObjectCount() > objects);
    releaseBackBuffer();
    CHECK(panelModel.backBuffer == nullptr);
    CHECK(GetObjectType(rendered) == 0);
    CHECK(gdiObjectCount() == objects);
    releaseBackBuffer();  // nothing left: nothing happens
    CHECK(gdiObjectCount() == objects);
}

namespace {

// The platform answers the randomised run feeds its samplers: loads, memory, power, free space
// and interface counters that change at every tick, drawn from one seeded generator.
std::mt19937 randomness(20261209);
int randomIn(int low, int high) { return std::uniform_int_distribution<int>(low, high)(randomness); }

// While the machine is quiet every source reads the same at every tick (no load, no traffic): the
// histories fill with equal samples, which move nothing a graph shows.
bool quiet = false;
uint64_t fakeIdle = 0, fakeKernel = 0;
bool fakeSystemTimes(uint64_t* idle, uint64_t* kernel, uint64_t* user) {
    fakeKernel += 1000;
    fakeIdle += quiet ? 1000 : static_cast<uint64_t>(randomIn(-200, 1000));  // loads from 0 to 120 %
    *idle = fakeIdle, *kernel = fakeKernel, *user = 0;
    return true;
}
// Only the physical-disk object is there, its counters growing at random: the processor meter
// finds no data and measures the processor times.
int64_t fakePerfTime = 0, fakeDiskRead = 0, fakeDiskWrite = 0;
std::vector<uint8_t> fakeDiskBlock;
int32_t diskPerformanceData(const char* valueName, uint8_t* buffer, uint32_t* size) {
    if (strcmp(valueName, "234") != 0) return 2;  // ERROR_FILE_NOT_FOUND
    fakePerfTime += 10000000;
    fakeDiskRead += quiet ? 0 : randomIn(0, 5000000);
    fakeDiskWrite += quiet ? 0 : randomIn(0, 900000);
    fakeDiskBlock = perfblock::build(fakePerfTime, {perfblock::diskObject({{u"0 C:", fakeDiskRead, fakeDiskWrite}})}).bytes;
    if (*size < fakeDiskBlock.size()) return METER_ERROR_MORE_DATA;
    memcpy(buffer, fakeDiskBlock.data(), fakeDiskBlock.size());
    *size = static_cast<uint32_t>(fakeDiskBlock.size());
    return METER_ERROR_SUCCESS;
}

BOOL WINAPI fakeMemoryStatus(LPMEMORYSTATUSEX status) {
    status->dwMemoryLoad = quiet ? 0 : static_cast<DWORD>(randomIn(0, 100));
    status->ullTotalPhys = 8ULL << 30;
    status->ullAvailPhys = static_cast<uint64_t>(randomIn(0, 8192)) << 20;
    return TRUE;
}

BOOL WINAPI fakePowerStatus(LPSYSTEM_POWER_STATUS power) {
    memset(power, 0, sizeof *power);
    power->ACLineStatus = static_cast<BYTE>(randomIn(0, 1));
    power->BatteryFlag = static_cast<BYTE>(randomIn(0, 1) ? 8 : 1);
    power->BatteryLifePercent = static_cast<BYTE>(randomIn(95, 100));
    return TRUE;
}

// Free counts around the quota, from the volume worker's thread; the third disk answers only
// while the run lets it, so that its row goes late and comes back.
std::atomic<uint64_t> fakeVolumeTurn{0};
HANDLE thirdDiskAnswers = nullptr;
bool fakeVolumeFree(const char* path, uint64_t* freeBytes, uint64_t* totalBytes) {
    if (strcmp(path, "C:\\third\\") == 0) WaitForSingleObject(thirdDiskAnswers, INFINITE);
    *freeBytes = (490 + fakeVolumeTurn.fetch_add(7) % 21) * 1000000;
    *totalBytes = 1ULL << 40;
    return true;
}
bool noVolumeDescription(const char*, char*, size_t, char*, size_t) { return false; }
const VolumePlatform fakeVolumes = {fakeVolumeFree, noVolumeDescription};

uint64_t fakeInOctets = 0, fakeOutOctets = 0;
ULONGLONG fakeNetTick = 0;
MIB_IF_TABLE2 fakeTable;
DWORD WINAPI fakeIfTable2(PMIB_IF_TABLE2* table) {
    fakeInOctets += quiet ? 0 : static_cast<uint64_t>(randomIn(0, 3000000));
    fakeOutOctets += quiet ? 0 : static_cast<uint64_t>(randomIn(0, 400000));
    memset(&fakeTable, 0, sizeof fakeTable);
    fakeTable.NumEntries = 1;
    MIB_IF_ROW2& row = fakeTable.Table[0];
    row.InterfaceLuid.Value = 7;
    row.Type = IF_TYPE_ETHERNET_CSMACD;
    row.OperStatus = IfOperStatusUp;
    row.InterfaceAndOperStatusFlags.HardwareInterface = TRUE;
    row.InOctets = fakeInOctets, row.OutOctets = fakeOutOctets;
    *table = &fakeTable;
    return NO_ERROR;
}
VOID WINAPI keepFakeTable(PVOID) {}
ULONGLONG fakeNetTickCount() { return fakeNetTick += 1000; }

// Processors in groups of up to 64, busy at random shares; now and then their number changes.
uint64_t fakeCoreIdle[256], fakeCoreBusy[256];
int fakeCores = 8;
WORD WINAPI fakeCoreGroups() {
    if (randomIn(0, 19) == 0) fakeCores = randomIn(0, 3) == 0 ? 200 : randomIn(1, 70);
    return static_cast<WORD>((fakeCores + 63) / 64);
}
LONG WINAPI fakeCoreTimes(ULONG, PVOID input, ULONG, PVOID buffer, ULONG length, PULONG returned) {
    const int group = *static_cast<USHORT*>(input);
    const int first = 64 * group, count = std::min(64, fakeCores - first);
    *returned = static_cast<ULONG>(48 * count);
    if (length < *returned) return static_cast<LONG>(0xC0000004);
    auto* bytes = static_cast<uint8_t*>(buffer);
    memset(bytes, 0, *returned);
    for (int p = 0; p < count; ++p) {
        const uint64_t busy = quiet ? 0 : static_cast<uint64_t>(randomIn(0, 1000));
        fakeCoreBusy[first + p] += busy;
        fakeCoreIdle[first + p] += 1000 - busy;
        const uint64_t times[3] = {fakeCoreIdle[first + p], fakeCoreIdle[first + p], fakeCoreBusy[first + p]};
        memcpy(bytes + 48 * p, times, sizeof times);
    }
    return 0;
}

// One graphics adapter of two engines, each running a random share of every twenty seconds of a
// clock that moves on at each reading; now and then its statistics fail, and the GPU parts show
// n/a until the minute's wait has passed.
uint64_t fakeGpuClock = 0, fakeGpuRunning[2] = {0, 0};
bool fakeGpuFailing = false;
LONG APIENTRY fakeGpuList(void* arguments) {
    auto* list = static_cast<d3dkmt::EnumAdapters2*>(arguments);
    list->count = 1;
    list->adapters[0] = d3dkmt::AdapterInfo{9, d3dkmt::Luid{5, 0}, 1, FALSE};
    fakeGpuFailing = randomIn(0, 14) == 0;
    return d3dkmt::ANSWER_OK;
}
LONG APIENTRY fakeGpuClose(void*) { return d3dkmt::ANSWER_OK; }
LONG APIENTRY fakeGpuStatistics(void* arguments) {
    auto* query = static_cast<d3dkmt::QueryStatistics*>(arguments);
    if (fakeGpuFailing) return static_cast<LONG>(0xC0000001);
    unsigned char* r = query->result.bytes;
    const uint32_t counts[2] = {1, 2};  // one segment, two engines
    if (query->type == d3dkmt::QUERY_ADAPTER) memcpy(r, counts, sizeof counts);
    if (query->type == d3dkmt::QUERY_NODE) {
        fakeGpuRunning[query->id % 2] += static_cast<uint64_t>(randomIn(0, 210000000));
        memcpy(r + d3dkmt::NODE_RUNNING_TIME, &fakeGpuRunning[query->id % 2], 8);
    }
    if (query->type == d3dkmt::QUERY_SEGMENT) {
        const uint64_t committed = static_cast<uint64_t>(randomIn(0, 2048)) << 20, size = 2ULL << 30;
        memcpy(r + d3dkmt::SEGMENT_COMMITTED, &committed, 8);
        memcpy(r + d3dkmt::SEGMENT_LIMIT, &size, 8);
        memset(r + d3dkmt::SEGMENT_APERTURE, 0, 4);
    }
    return d3dkmt::ANSWER_OK;
}
uint64_t fakeGpuNow() { return fakeGpuClock += 200000000; }

// The model rendered whole into a bitmap of its own, no rendering of the painter's used.
Image renderedFromScratch() {
    HDC screenDc = GetDC(nullptr);
    HBITMAP bitmap = CreateCompatibleBitmap(screenDc, shownPanelWidth(), shownPanelHeight());
    Image image = imageDrawnInto(bitmap, screenDc, renderPanelInto);
    ReleaseDC(nullptr, screenDc);
    return asDisplayHoldsIt(image);
}

std::string differenceOf(const Image& shown, const Image& expected) {
    if (shown.width != expected.width || shown.height != expected.height)
        return "window " + std::to_string(shown.width) + "x" + std::to_string(shown.height) + ", rendering " +
               std::to_string(expected.width) + "x" + std::to_string(expected.height);
    int count = 0, firstX = -1, firstY = -1;
    for (int y = 0; y < shown.height; ++y)
        for (int x = 0; x < shown.width; ++x)
            if (shown.at(x, y) != expected.at(x, y) && count++ == 0) firstX = x, firstY = y;
    char text[160];
    snprintf(text, sizeof text, "%d pixels differ, the first at (%d, %d): %06X shown, %06X rendered", count, firstX,
             firstY, shown.at(firstX, firstY), expected.at(firstX, firstY));
    return text;
}

// The kept plots the last render scrolled: a plot the system draws scrolls by a copy within it;
// one whose pixels the painter writes was copied into the rendering without being drawn whole (a
// plot copied again unchanged counts too: nothing tells the two apart).
int scrolledPlots() {
    int count = writtenPlotCopies - writtenPlotsDrawnWhole;
    for (const std::string& line : blits) {
        int x, y, w, h, fromX, fromY;
        if (sscanf(line.c_str(), "BitBlt %d %d %d %d from %d %d", &x, &y, &w, &h, &fromX, &fromY) == 6 &&
            (fromX != x || fromY != y))
            ++count;
    }
    return count;
}

// The layout keys a reload of the run may change, with the range of each.
struct LayoutKey {
    const char* key;
    int low, high;
};
const LayoutKey layoutKeys[] = {
    {"Kelvora.width:", 120, 300},          {"Kelvora.height:", 100, 260},
    {"Kelvora.cpuGraph.x:", -30, 200},     {"Kelvora.cpuGraph.y:", -20, 150},
    {"Kelvora.cpuGraph.width:", -2, 160},  {"Kelvora.cpuGraph.height:", -10, 80},
    {"Kelvora.memoryGraph.x:", 0, 200},    {"Kelvora.memoryGraph.y:", 0, 150},
    {"Kelvora.memoryGraph.width:", 1, 90}, {"Kelvora.memoryGraph.height:", 1, 60},
    {"Kelvora.netGraph.x:", -10, 200},     {"Kelvora.netGraph.y:", 0, 200},
    {"Kelvora.netGraph.width:", 0, 200},   {"Kelvora.netGraph.height:", 0, 70},
    {"Kelvora.netGraph.scale:", -1, 4000}, {"Kelvora.diskCount:", 0, 3},
    {"Kelvora.fullQuota:", 495, 505},
    {"Kelvora.diskIoGraph.x:", -10, 200},  {"Kelvora.diskIoGraph.y:", 0, 200},
    {"Kelvora.diskIoGraph.width:", 0, 200}, {"Kelvora.diskIoGraph.height:", 0, 70},
    {"Kelvora.diskIoGraph.scale:", -1, 4000},
    {"Kelvora.coresGraph.x:", -20, 200},   {"Kelvora.coresGraph.y:", -10, 200},
    {"Kelvora.coresGraph.width:", -1, 200}, {"Kelvora.coresGraph.height:", 0, 70},
    {"Kelvora.gpuGraph.x:", -20, 200},     {"Kelvora.gpuGraph.y:", -10, 200},
    {"Kelvora.gpuGraph.width:", -1, 160},  {"Kelvora.gpuGraph.height:", -5, 70},
};
// Values a hostile theme gives a graph's place and size.
const int hostileValues[] = {INT32_MIN, -1, 0, 1, INT32_MAX};

}  // namespace

TEST_CASE("a graph scrolls while its scale holds; a new scale in the middle of a scroll draws it whole") {
    loadModel({{"Kelvora.width:", "120"}, {"Kelvora.height:", "80"}, {"Kelvora.cpuGraph.y:", "-100"},
               {"Kelvora.memoryGraph.y:", "-100"}, {"Kelvora.netGraph.x:", "10"}, {"Kelvora.netGraph.y:", "20"},
               {"Kelvora.netGraph.width:", "40"}, {"Kelvora.netGraph.height:", "30"},
               {"Kelvora.netGraph.color:", "#00FF00"}, {"Kelvora.netGraph.upColor:", "#FF0000"},
               {"Kelvora.systemUptime.left:", "5"}, {"Kelvora.systemUptime.right:", "115"},
               {"Kelvora.systemUptime.y:", "58"}, {"Kelvora.systemUptime.tab_x:", "0"},
               {"Kelvora.systemUptime.tab_y:", "0"}});
    PanelWindow panel;
    panel.paint();
    recordBitBlts();
    countFontSelections();
    fontsSelected = 0;
    // One network tick: both rates taken, the caption's text with them; the copies that scrolled
    // the plot are counted, and the window must show what a rendering from scratch shows (in the
    // font the first paint selected: the renders select none).
    auto tick = [&panel](int64_t down, int64_t up) {
        const bool downMoved = pushHistory(panelModel.graphs[GRAPH_NET_DOWN], down);
        const bool upMoved = pushHistory(panelModel.graphs[GRAPH_NET_UP], up);
        snprintf(panelModel.items[ITEM_NET_DOWN].value, VALUE_SIZE, "%d B/s", static_cast<int>(down));
        scrollGraph(GRAPH_NET_DOWN, downMoved || upMoved);
        clearRecords();
        flushPanelChanges();
        CHECK(fontsSelected == 0);
        const int scrolled = scrolledPlots();  // before the rendering from scratch draws
        const Image shown = panel.screen();
        const Image expected = renderedFromScratch();
        fontsSelected = 0;  // the rendering from scratch selects its own
        CHECK_MESSAGE(shown.pixels == expected.pixels, differenceOf(shown, expected));
        return scrolled;
    };
    CHECK(tick(3000, 0) == 0);  // the scale rises from 1 KB/s to 3000: drawn whole
    for (int i = 0; i < 10; ++i) CHECK(tick(1000 + 150 * i, 500) == 1);
    CHECK(tick(9000, 100) == 0);  // a new peak in the middle of the scroll
    // The peak holds the scale for the plot's 40 columns; when it leaves, the scale falls.
    for (int i = 1; i < 40; ++i) CHECK(tick(1000 + i % 7 * 100, 100) == 1);
    CHECK(tick(1200, 100) == 0);  // 1600 fills the plot now
    CHECK(tick(1300, 100) == 1);

    // A change at the top and one at the bottom reach the window as two copies, not as the box
    // around both.
    scrollGraph(GRAPH_NET_DOWN, pushHistory(panelModel.graphs[GRAPH_NET_DOWN], 1400));
    showRowValue(ITEM_UPTIME, "3 days");
    blits.clear();
    flushPanelChanges();
    REQUIRE(blits.size() >= 2);
    checkLines({"BitBlt 9 19 42 32 from 9 19 rop 00CC0020", "BitBlt 5 58 110 20 from 5 58 rop 00CC0020"},
               std::vector<std::string>(blits.end() - 2, blits.end()));
    const Image shown = panel.screen();
    const Image expected = renderedFromScratch();
    CHECK_MESSAGE(shown.pixels == expected.pixels, differenceOf(shown, expected));
}

TEST_CASE("over 2000 random steps the window shows exactly what a rendering from scratch shows") {
    // Icons of three sizes, so that an icon's own size bounds what is drawn anew around it.
    const std::string dir = makeTempDir();
    writeSolidIcon(dir + "small.ico", RGB(0xFF, 0x00, 0xFF), 16);
    writeSolidIcon(dir + "medium.ico", RGB(0x00, 0xC0, 0xC0), 24);
    writeSolidIcon(dir + "large.ico", RGB(0xC0, 0xC0, 0x00), 32);
    const char* const icons[] = {"small.ico", "medium.ico", "large.ico"};
    Keys keys = {{"Kelvora.cpuGraph.color:", "#00FF00"}, {"Kelvora.memoryGraph.color:", "#FF0000"},
                 {"Kelvora.netGraph.color:", "#FFFFFF"}, {"Kelvora.icons.freedisk:", "small.ico"},
                 {"Kelvora.icons.fulldisk:", "large.ico"}, {"Kelvora.icons.battery:", "medium.ico"},
                 {"Kelvora.icons.ACon:", "small.ico"}, {"Kelvora.icons.batteryCharge:", "large.ico"}};
    const char* const rows[] = {"ip",           "totalMemory", "usedMemory", "freeMemory", "battery",
                                "systemUptime", "netDown",     "netUp",      "diskRead",   "diskWrite",
                                "gpuMemory"};
    // Rows, disks and graphs where they overlap each other, placed anew at some reloads.
    auto placeRow = [&](const std::string& group) {
        keys.push_back({group + ".left:", std::to_string(randomIn(-10, 150))});
        keys.push_back({group + ".right:", std::to_string(randomIn(0, 280))});
        keys.push_back({group + ".y:", std::to_string(randomIn(-10, 230))});
        keys.push_back({group + ".tab_x:", std::to_string(randomIn(-5, 30))});
        keys.push_back({group + ".tab_y:", std::to_string(randomIn(-5, 10))});
        keys.push_back({group + ".caption:", "Row & " + group});
    };
    auto layOut = [&] {
        for (const LayoutKey& k : layoutKeys) keys.push_back({k.key, std::to_string(randomIn(k.low, k.high))});
        for (const char* row : rows) {
            placeRow(std::string("Kelvora.") + row);
            keys.push_back({std::string("Kelvora.") + row + ".icon:", icons[randomIn(0, 2)]});
        }
        for (int d = 1; d <= 3; ++d) placeRow("Kelvora.disk[" + std::to_string(d) + "]");
        // The second disk's path changes at some reloads: its row starts again unread.
        keys.push_back({"Kelvora.disk[1].path:", "A:\\"});
        keys.push_back({"Kelvora.disk[2].path:", randomIn(0, 1) ? "B:\\" : "B:\\other\\"});
        keys.push_back({"Kelvora.disk[3].path:", "C:\\third\\"});
        keys.push_back({"Kelvora.sctEnabled:", randomIn(0, 4) == 0 ? "true" : "false"});
        keys.push_back({"Kelvora.gpuGraph.color:", "#FFFF00"});
        // Colours that change at some reloads: a kept plot takes its pixels again.
        const char* const backgrounds[] = {"#000000", "#357AB2", "#8C64B5", "#FFFFFF"};
        for (const char* graph : {"cpuGraph", "netGraph", "gpuGraph"})
            keys.push_back({std::string("Kelvora.") + graph + ".background:", backgrounds[randomIn(0, 3)]});
        keys.push_back({"Kelvora.netGraph.upColor:", randomIn(0, 1) ? "#D1782A" : "#00FF00"});
        keys.push_back({"Kelvora.gpu.adapter:", randomIn(0, 5) == 0 ? "1" : ""});  // "1": none, n/a
    };
    layOut();
    loadModel(keys, dir);

    const MeterPlatform& system = systemMeterPlatform();
    MeterPlatform meter = system;
    meter.queryPerformanceData = diskPerformanceData;
    meter.readSystemTimes = fakeSystemTimes;
    installMeterPlatform(&meter);
    resetLoadMeterState();
    const NetPlatform net = {fakeIfTable2, keepFakeTable, GetIfTable, fakeNetTickCount};
    installNetPlatform(&net);
    const CorePlatform cores = {fakeCoreGroups, nullptr, fakeCoreTimes};
    installCorePlatform(&cores);
    const GpuPlatform gpus = {fakeGpuList, nullptr, fakeGpuClose, fakeGpuStatistics, nullptr, nullptr, fakeGpuNow};
    installGpuPlatform(&gpus);
    auto redirect = [](const char* dll, const char* name, void* fake) {
        void* real = reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA(dll), name));
        REQUIRE(redirectImport(real, fake) > 0);
        return std::make_pair(real, fake);
    };
    const std::pair<void*, void*> fakes[] = {
        redirect("kernel32.dll", "GlobalMemoryStatusEx", reinterpret_cast<void*>(fakeMemoryStatus)),
        redirect("kernel32.dll", "GetSystemPowerStatus", reinterpret_cast<void*>(fakePowerStatus))};
    thirdDiskAnswers = CreateEventA(nullptr, TRUE, TRUE, nullptr);
    installVolumePlatform(&fakeVolumes);

    PanelWindow panel;
    panel.paint();
    recordBitBlts();
    const TIMERPROC samplers[] = {sampleCpu, sampleMemory, sampleBattery, sampleDisks, sampleNetwork, sampleDiskIo};
    int renders = 0, mismatches = 0, scrolls = 0, stillTicks = 0, hostileReloads = 0;
    for (int step = 0; step < 2000 && mismatches == 0; ++step) {
        const int kind = randomIn(0, 99);
        std::string what;
        clearRecords();
        if (randomIn(0, 19) == 0) quiet = !quiet;
        if (kind < 80) {
            // One sampler, or several falling due together.
            const int count = randomIn(1, 3);
            for (int i = 0; i < count; ++i) samplers[randomIn(0, 5)](nullptr, 0, 0, 0);
            // The IP row's texts, both families among them.
            const char* const addresses[] = {"10.0.0.1", "192.168.100.200", "192.168.1.20 2001:db8:4b3f:e100::14"};
            if (randomIn(0, 9) == 0) storeIpAddress(addresses[randomIn(0, 2)]);
            if (randomIn(0, 19) == 0) (randomIn(0, 1) ? SetEvent : ResetEvent)(thirdDiskAnswers);
            if (randomIn(0, 3) == 0) takeVolumeAnswers();  // as the panel does when told
            what = "ticks";
        } else if (kind < 88) {
            // A reload with a changed layout, as the read command applies it.
            keys.resize(8);
            layOut();
            // Now and then a hostile theme's place or size for a graph, over the one laid out.
            if (randomIn(0, 3) == 0) {
                ++hostileReloads;
                for (int i = randomIn(1, 3); i > 0; --i) {
                    const LayoutKey& k = layoutKeys[randomIn(2, static_cast<int>(std::size(layoutKeys)) - 1)];
                    if (!strstr(k.key, "Graph.") || strstr(k.key, ".scale:")) continue;
                    keys.push_back({k.key, std::to_string(hostileValues[randomIn(0, 4)])});
                }
            }
            for (const auto& key : keys) fakehost::set(key.first, key.second);
            reloadSettings();
            SetWindowPos(panel.window, nullptr, 0, 0, shownPanelWidth(), shownPanelHeight(),
                         SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
            invalidatePanel();
            what = "reload";
        } else if (kind < 93) {
            SetWindowPos(panel.window, nullptr, randomIn(0, 300), randomIn(0, 300), 0, 0,
                         SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
            what = "move";
        } else if (kind < 97) {
            ShowWindow(panel.window, SW_HIDE);
            samplers[randomIn(0, 5)](nullptr, 0, 0, 0);
            flushPanelChanges();
            ShowWindow(panel.window, SW_SHOWNA);
            what = "hide and show";
        } else {
            // A new style: the shell broadcasts a reconfigure, which reloads.
            fakehost::setStyleColors(RGB(randomIn(0, 255), 255, 0), RGB(randomIn(0, 255), 64, 64));
            reloadSettings();
            invalidatePanel();
            what = "style";
        }
        if (panelChangesPending())
            ++renders;
        else if (what == "ticks")
            ++stillTicks;
        flushPanelChanges();
        panel.paint();
        scrolls += scrolledPlots();
        const Image shown = panel.screen();
        const Image expected = renderedFromScratch();
        if (shown.pixels != expected.pixels) {
            ++mismatches;
            FAIL_CHECK("step " << step << " (" << what << "): " << differenceOf(shown, expected));
        }
    }
    CHECK(mismatches == 0);
    CHECK(renders > 1000);  // most steps changed something and were rendered in part
    MESSAGE("scrolled plots " << scrolls << ", ticks that changed nothing " << stillTicks << ", hostile reloads "
                              << hostileReloads);
    CHECK(scrolls > 500);    // most graph changes scrolled a kept plot
    CHECK(stillTicks > 20);  // quiet ticks rendered nothing
    quiet = false;

    for (const auto& fake : fakes) redirectImport(fake.second, fake.first);
    SetEvent(thirdDiskAnswers);
    stopVolumeWorkers();
    forgetDiskReadings();
    installVolumePlatform(nullptr);
    installNetPlatform(nullptr);
    releaseNetworkSampler();
    resetDiskIoSampler();
    installCorePlatform(nullptr);
    releaseCoreSampler();
    installGpuPlatform(nullptr);
    installMeterPlatform(nullptr);
    resetLoadMeterState();
}
