// The floating panel on the monitors: brought back from outside all of them at start, after
// a reload and on a display change; left where it is on any monitor, at negative coordinates
// too; snapped to the work area's edges while dragged. Monitor layouts the test display lacks
// come through the plugin's seam; the test display's own monitor is used for real.
#include <string>

#include "config/panel_model.h"
#include "shell/host_api.h"
#include "shell/plugin.h"
#include "support/fake_host.h"
#include "support/running_plugin.h"
#include "support/test_support.h"

using namespace testsupport;

namespace {

HINSTANCE self() { return GetModuleHandleA(nullptr); }

// A primary monitor with a taskbar along its bottom, one to its left and one above it.
const FakeMonitor PRIMARY = {{0, 0, 1280, 1024}, {0, 0, 1280, 994}};
const FakeMonitor LEFT = {{-1280, 0, 0, 1024}, {-1280, 0, 0, 1024}};
const FakeMonitor ABOVE = {{0, -1024, 1280, 0}, {0, -1024, 1280, 0}};

POINT placeOf(HWND window) {
    RECT r;
    GetWindowRect(window, &r);
    return POINT{r.left, r.top};
}

void checkPlace(POINT expected) {
    const POINT at = placeOf(panelModel.panelWindow);
    CHECK(at.x == expected.x);
    CHECK(at.y == expected.y);
    // The model follows the window, as after any move.
    CHECK(panelModel.x == expected.x);
    CHECK(panelModel.y == expected.y);
}

void startAt(int x, int y, int width = 100, int height = 100) {
    fakehost::set("Kelvora.x:", std::to_string(x));
    fakehost::set("Kelvora.y:", std::to_string(y));
    fakehost::set("Kelvora.width:", std::to_string(width));
    fakehost::set("Kelvora.height:", std::to_string(height));
    REQUIRE(beginPlugin(self()) == 0);
}

void moveTo(int x, int y) {
    SetWindowPos(panelModel.panelWindow, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// A move inside the system's move loop, as a Ctrl-drag makes it.
void dragTo(int x, int y) {
    SendMessageA(panelModel.panelWindow, WM_ENTERSIZEMOVE, 0, 0);
    moveTo(x, y);
    SendMessageA(panelModel.panelWindow, WM_EXITSIZEMOVE, 0, 0);
}

RECT realWorkArea() {
    RECT work;
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
    return work;
}

}  // namespace

TEST_CASE("at start a panel outside every monitor comes whole onto the nearest work area; one on a monitor stays") {
    FakeMonitors monitors({PRIMARY, LEFT, ABOVE});
    StopAtExit stop;
    struct Case {
        int x, y, width, height;
        POINT expected;
    };
    const Case cases[] = {
        {5000, 300, 100, 100, {1180, 300}},     // right of everything: its right edge on the work area's
        {300, 3000, 100, 100, {300, 894}},      // below: above the taskbar
        {-4000, -500, 100, 100, {-1280, 0}},    // far left, near the left monitor
        {3000, 100, 1500, 1100, {0, 0}},        // larger than the work area: its top-left corner shows
        {1250, 990, 100, 100, {1250, 990}},     // partly on the primary monitor
        {-900, 100, 100, 100, {-900, 100}},     // on the left monitor
        {200, -600, 100, 100, {200, -600}},     // on the monitor above
        {2147483600, 100, 100, 100, {1180, 100}},  // near the end of the int range
    };
    for (const Case& c : cases) {
        CAPTURE(c.x);
        CAPTURE(c.y);
        freshHost();
        startAt(c.x, c.y, c.width, c.height);
        checkPlace(c.expected);
        CHECK(fakehost::logLinesStartingWith("Write").empty());
        endPlugin(self());
    }
}

TEST_CASE("after a reload, by reconfigure or the read command, a panel saved off-screen comes back") {
    FakeMonitors monitors({PRIMARY, LEFT});
    freshHost();
    StopAtExit stop;
    startAt(400, 300);
    fakehost::set("Kelvora.x:", "6000");
    SendMessageA(panelModel.panelWindow, BB_RECONFIGURE, 0, 0);
    checkPlace({1180, 300});
    fakehost::set("Kelvora.y:", "-5000");
    broadcast("@Kelvora.settings.read");
    checkPlace({1180, 0});
    CHECK(fakehost::get("Kelvora.x:") == "6000");  // the file keeps the saved place...
    broadcast("@Kelvora.settings.write");          // ...until the settings are written
    CHECK(fakehost::get("Kelvora.x:") == "1180");
    CHECK(fakehost::get("Kelvora.y:") == "0");
    endPlugin(self());
}

TEST_CASE("negative coordinates go through write and reload; a display change brings a lost panel back") {
    FakeMonitors monitors({PRIMARY, LEFT});
    freshHost();
    StopAtExit stop;
    startAt(-900, 100);
    moveTo(-700, 250);
    broadcast("@Kelvora.settings.write");
    checkLines({"WriteInt Kelvora.x: -700", "WriteInt Kelvora.y: 250"}, fakehost::logLinesStartingWith("Write"));
    SendMessageA(panelModel.panelWindow, BB_RECONFIGURE, 0, 0);
    checkPlace({-700, 250});

    // The left monitor is unplugged: the panel lies outside what is left.
    monitors.become({PRIMARY});
    SendMessageA(panelModel.panelWindow, WM_SETTINGCHANGE, SPI_SETNONCLIENTMETRICS, 0);
    checkPlace({-700, 250});
    SendMessageA(panelModel.panelWindow, WM_DISPLAYCHANGE, 32, MAKELPARAM(1280, 1024));
    checkPlace({0, 250});
    // A work-area change looks again too.
    moveTo(-700, 250);
    SendMessageA(panelModel.panelWindow, WM_SETTINGCHANGE, SPI_SETWORKAREA, 0);
    checkPlace({0, 250});
    CHECK(fakehost::get("Kelvora.x:") == "-700");
    endPlugin(self());
}

TEST_CASE("on the test display's own monitor: a place saved far outside it, and a display change while outside") {
    freshHost();
    StopAtExit stop;
    const RECT work = realWorkArea();
    startAt(20000, 20000);
    checkPlace({work.right - 100, work.bottom - 100});
    moveTo(-5000, -5000);
    REQUIRE(panelModel.x == -5000);
    SendMessageA(panelModel.panelWindow, WM_DISPLAYCHANGE, 32, 0);
    checkPlace({work.left, work.top});
    CHECK(fakehost::logLinesStartingWith("Write").empty());
    endPlugin(self());
}

TEST_CASE("a panel in the slit is the slit's to place, wherever it lies") {
    freshHost();
    StopAtExit stop;
    fakehost::set("Kelvora.x:", "20000");
    REQUIRE(beginSlitPlugin(self(), fakehost::slitWindow()) == 0);
    CHECK(placeOf(panelModel.panelWindow).x == 20000);
    SendMessageA(panelModel.panelWindow, WM_DISPLAYCHANGE, 32, 0);
    CHECK(placeOf(panelModel.panelWindow).x == 20000);
    endPlugin(self());
}

TEST_CASE("a dragged floating panel snaps through the shell's SnapWindowToEdge, given the plugin's distance") {
    freshHost();
    StopAtExit stop;
    fakehost::set("Kelvora.snapToEdges:", "true");
    fakehost::snapTo(0, 0);
    startAt(200, 200);
    moveTo(5, 5);  // not dragged: a move of the program's own
    CHECK(fakehost::logLinesStartingWith("SnapWindowToEdge").empty());
    dragTo(7, 9);
    checkLines({"SnapWindowToEdge 10 0"}, fakehost::logLinesStartingWith("SnapWindowToEdge"));
    checkPlace({0, 0});

    fakehost::set("Kelvora.snapToEdges:", "false");
    SendMessageA(panelModel.panelWindow, BB_RECONFIGURE, 0, 0);
    fakehost::log.clear();
    dragTo(7, 9);
    CHECK(fakehost::logLinesStartingWith("SnapWindowToEdge").empty());
    checkPlace({7, 9});
    endPlugin(self());

    freshHost();
    fakehost::set("Kelvora.snapToEdges:", "true");
    REQUIRE(beginSlitPlugin(self(), fakehost::slitWindow()) == 0);
    dragTo(7, 9);
    CHECK(fakehost::logLinesStartingWith("SnapWindowToEdge").empty());
    endPlugin(self());
}

TEST_CASE("without SnapWindowToEdge the panel snaps within 10 pixels of the edges of its monitor's work area") {
    FakeMonitors monitors({PRIMARY, LEFT});
    WithoutFunction noSnapping("SnapWindowToEdge");
    freshHost();
    StopAtExit stop;
    fakehost::set("Kelvora.snapToEdges:", "true");
    startAt(400, 400);
    struct Case {
        POINT to;
        POINT expected;
    };
    const Case cases[] = {
        {{10, 500}, {0, 500}},         // 10 pixels from the left edge
        {{11, 500}, {11, 500}},        // 11: no snap
        {{1175, 890}, {1180, 894}},    // right edge, and the bottom of the work area, not of the monitor
        {{-1272, 3}, {-1280, 0}},      // the left monitor's corner
        {{-8, 500}, {0, 500}},         // mostly on the primary: its left edge
        {{-95, 500}, {-100, 500}},     // mostly on the left monitor: its right edge
    };
    for (const Case& c : cases) {
        CAPTURE(c.to.x);
        CAPTURE(c.to.y);
        dragTo(c.to.x, c.to.y);
        checkPlace(c.expected);
    }
    CHECK(fakehost::logLinesStartingWith("SnapWindowToEdge").empty());
    endPlugin(self());
}
