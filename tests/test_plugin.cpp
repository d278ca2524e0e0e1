// The plugin shell in-process: entry points, the panel window, its messages, the
// broadcast commands and the menu, with this program playing the host.
#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>

#include "config/panel_model.h"
#include "host/resource_use.h"
#include "sampling/load_meter.h"
#include "sampling/meter_platform.h"
#include "sampling/own_time.h"
#include "sampling/part_details.h"
#include "sampling/volume_worker.h"
#include "shell/commands.h"
#include "shell/host_api.h"
#include "shell/plugin_info.h"
#include "shell/plugin.h"
#include "support/fake_host.h"
#include "support/running_plugin.h"
#include "support/test_support.h"

using namespace testsupport;

namespace {

HINSTANCE self() { return GetModuleHandleA(nullptr); }

// Lines of the log other than the settings reads, for order checks.
std::vector<std::string> logWithoutReads() {
    std::vector<std::string> lines;
    for (const std::string& line : fakehost::log)
        if (line.compare(0, 4, "Read") != 0) lines.push_back(line);
    return lines;
}

std::string pathDir(const char* module) {
    char dir[PATH_SIZE], rc[PATH_SIZE];
    derivePluginPaths(module, dir, rc, PATH_SIZE);
    return dir;
}

std::string pathRc(const char* module) {
    char dir[PATH_SIZE], rc[PATH_SIZE];
    derivePluginPaths(module, dir, rc, PATH_SIZE);
    return rc;
}

bool refuseKelvoraWindows = false;
HHOOK refusingHook = nullptr;

LRESULT CALLBACK refuseCreation(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_CREATEWND && refuseKelvoraWindows) {
        char cls[64] = "";
        GetClassNameA(reinterpret_cast<HWND>(wParam), cls, sizeof cls);
        if (strcmp(cls, "KelvoraClass") == 0) return 1;
    }
    return CallNextHookEx(refusingHook, code, wParam, lParam);
}

bool queuedSystemCommand(HWND window, WPARAM* command) {
    MSG msg;
    // Taken off the queue, never dispatched: a dispatched move command would start a modal move loop.
    if (!PeekMessageA(&msg, window, WM_SYSCOMMAND, WM_SYSCOMMAND, PM_REMOVE)) return false;
    *command = msg.wParam;
    return true;
}

// Keyboard input reaches the desktop's key state only while a window of ours is in front.
// The key state changes only once the X server has echoed the input back, which takes longer on
// a busy machine: wait for it, and send again should the panel not have been in front.
void pressControl(bool down) {
    INPUT input = {};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = VK_CONTROL;
    input.ki.dwFlags = down ? 0 : KEYEVENTF_KEYUP;
    for (int attempt = 0; attempt < 3; ++attempt) {
        SetForegroundWindow(panelModel.panelWindow);
        SendInput(1, &input, sizeof input);
        for (int waited = 0; waited < 1000; waited += 20) {
            pumpMessages(20);
            if (((GetAsyncKeyState(VK_CONTROL) & 0x8000) != 0) == down) return;
        }
    }
}

int performanceQueries = 0;
int performanceCloses = 0;

int32_t countedQuery(const char* valueName, uint8_t* buffer, uint32_t* size) {
    ++performanceQueries;
    return systemMeterPlatform().queryPerformanceData(valueName, buffer, size);
}

void countedClose() {
    ++performanceCloses;
    systemMeterPlatform().closePerformanceData();
}

}  // namespace

TEST_CASE("pluginInfo answers the identity table") {
    CHECK(std::string(pluginInfo(1)) == "Kelvora");
    CHECK(std::string(pluginInfo(2)) == KELVORA_VERSION);
    CHECK(std::string(pluginInfo(3)) == "Quenvik");
    CHECK(std::string(pluginInfo(4)) == KELVORA_RELEASE_DATE);
    CHECK(std::string(pluginInfo(5)).find("http") == 0);
    CHECK(std::string(pluginInfo(6)).find('@') != std::string::npos);
    for (int code : {0, 7, -1, 1000})
        CHECK(std::string(pluginInfo(code)) == "Kelvora " KELVORA_VERSION);
}

namespace {

// A fed clock in milliseconds: the wall moves when the test moves it, and every read of the
// shell's clock adds costPerRead, so that each message the panel handles costs that much.
uint64_t fedWall = 0;
uint64_t fedShell = 0;
uint64_t costPerRead = 0;
uint64_t readFedWall() { return fedWall; }
uint64_t readFedShell() { return fedShell += costPerRead; }
uint64_t readNoWorker() { return 0; }
OwnRates fedRates() { return OwnRates{1000, 1000, 1000}; }
const OwnClock fedClock = {readFedWall, readFedShell, readNoWorker, fedRates};

struct FedOwnClock {
    FedOwnClock() { installOwnClock(&fedClock); }
    ~FedOwnClock() { installOwnClock(nullptr); }
};

std::string lastLineOfCpuTip() {
    DetailText detail;
    clearDetail(detail);
    describeCpu(0, detail);
    const std::string text = detail.text;
    const size_t end = text.rfind("\r\n");
    return end == std::string::npos ? text : text.substr(end + 2);
}

}  // namespace

TEST_CASE("Kelvora's own share: the CPU tooltip's last line over the last minute, the About box's since the start") {
    freshHost();
    StopAtExit stop;
    REQUIRE(beginPlugin(self()) == 0);
    FedOwnClock fed;  // the account begins anew at wall 0
    CHECK(lastLineOfCpuTip() == "Kelvora itself: < 0.01% of a core");
    // Twelve messages of 5 ms each over 6 s: 1% of a core. An unknown command does nothing else.
    costPerRead = 5;
    for (int i = 0; i < 12; ++i) broadcast("@Kelvora.nothing");
    costPerRead = 0;
    fedWall = 6000;
    CHECK(lastLineOfCpuTip() == "Kelvora itself: 1.00% of a core");
    keepOwnTimeReading();  // as the CPU tick does
    // A minute later, idle: the busy seconds lie before the last minute, but not before the start.
    fedWall = 66000;
    CHECK(lastLineOfCpuTip() == "Kelvora itself: < 0.01% of a core");
    clearMessageBoxes();
    broadcast("@Kelvora.about");
    REQUIRE(messageBoxes().size() == 1);
    const std::string about = messageBoxes()[0].text;
    CHECK_MESSAGE(about.find("\nKelvora itself: 0.09% of a core since ") != std::string::npos, about);
    CHECK_MESSAGE(about.find(" (0.060 s of processor time)\n") != std::string::npos, about);
    endPlugin(self());
}

TEST_CASE("plugin folder and rc path come from the module path") {
    CHECK(pathDir("C:\\plugins\\Kelvora\\Kelvora.dll") == "C:\\plugins\\Kelvora\\");
    CHECK(pathRc("C:\\plugins\\Kelvora\\Kelvora.dll") == "C:\\plugins\\Kelvora\\Kelvora.rc");
    SUBCASE("no separator: empty folder, name with rc") {
        CHECK(pathDir("Kelvora.dll") == "");
        CHECK(pathRc("Kelvora.dll") == "Kelvora.rc");
    }
    SUBCASE("no dot in the file name, even with one in a folder") {
        CHECK(pathRc("C:\\a.b\\Kelvora") == "C:\\a.b\\Kelvora.rc");
        CHECK(pathDir("C:\\a.b\\Kelvora") == "C:\\a.b\\");
    }
    SUBCASE("a path too long for the replacement is cut, never overrun") {
        std::string module = "C:\\" + std::string(254, 'k') + ".d";  // 259 characters
        REQUIRE(module.size() == 259);
        char dir[PATH_SIZE], rc[PATH_SIZE + 8];
        memset(rc, 'X', sizeof rc);
        derivePluginPaths(module.c_str(), dir, rc, PATH_SIZE);
        CHECK(strlen(rc) == 259);
        CHECK(std::string(rc) == module.substr(0, 258) + "r");
        CHECK(rc[PATH_SIZE] == 'X');
    }
}

TEST_CASE("a floating start creates a layered tool window and runs in the documented order") {
    freshHost();
    StopAtExit stop;
    fakehost::set("Kelvora.x:", "150");
    fakehost::set("Kelvora.y:", "120");
    REQUIRE(beginPlugin(self()) == 0);
    HWND panel = panelModel.panelWindow;
    REQUIRE(panel != nullptr);

    char cls[64] = "";
    GetClassNameA(panel, cls, sizeof cls);
    CHECK(std::string(cls) == "KelvoraClass");
    CHECK(static_cast<DWORD>(GetWindowLongA(panel, GWL_EXSTYLE)) == (WS_EX_TOOLWINDOW | WS_EX_LAYERED));
    CHECK((static_cast<DWORD>(GetWindowLongA(panel, GWL_STYLE)) & 0xFFFF0000u) == 0x96000000u);
    RECT r;
    GetWindowRect(panel, &r);
    CHECK(r.left == 150);
    CHECK(r.top == 120);
    CHECK(r.right - r.left == 100);

    CHECK(fakehost::log.front() == "GetBBWnd");
    checkLines({"GetBBWnd", "GetSettingPtr 1", "CreateStyleFont style", "message host 10001 [10103,10901,0]",
                "MakeSticky"},
               logWithoutReads());
    for (UINT_PTR id : panelModel.timerIds) CHECK(id != 0);
    // The first samples ran: the uptime row has its text before any period passed.
    CHECK(panelModel.items[ITEM_UPTIME].value[0] != '\0');

    SUBCASE("a panel larger than the virtual screen gets a window of the screen's size") {
        fakehost::set("Kelvora.width:", "2147483647");
        fakehost::set("Kelvora.height:", "20000");
        SendMessageA(panel, BB_RECONFIGURE, 0, 0);
        GetWindowRect(panel, &r);
        CHECK(r.right - r.left == GetSystemMetrics(SM_CXVIRTUALSCREEN));
        CHECK(r.bottom - r.top == GetSystemMetrics(SM_CYVIRTUALSCREEN));
        CHECK(panelModel.width == 2147483647);
    }
    SUBCASE("x and y follow every move") {
        SetWindowPos(panel, nullptr, 321, 234, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
        CHECK(panelModel.x == 321);
        CHECK(panelModel.y == 234);
        SendMessageA(panel, WM_EXITSIZEMOVE, 0, 0);
    }
    endPlugin(self());
    CHECK(fakehost::logLinesStartingWith("message slit").empty());
    // The shell is told to forget the registration, before the window goes.
    checkLines({"message host 10002 [10103,10901,0] of the registered window"},
               fakehost::logLinesStartingWith("message host 10002"));
    CHECK(panelModel.panelWindow == nullptr);
    CHECK_FALSE(IsWindow(panel));
}

TEST_CASE("a slit start docks after the first samples and undocks at stop") {
    freshHost();
    StopAtExit stop;
    REQUIRE(beginSlitPlugin(self(), fakehost::slitWindow()) == 0);
    HWND panel = panelModel.panelWindow;
    CHECK(static_cast<DWORD>(GetWindowLongA(panel, GWL_EXSTYLE)) == WS_EX_TOOLWINDOW);
    checkLines({"GetBBWnd", "GetSettingPtr 1", "CreateStyleFont style", "message host 10001 [10103,10901,0]",
                "MakeSticky", "message slit 11001"},
               logWithoutReads());

    const int x = panelModel.x;
    SetWindowPos(panel, nullptr, x + 40, 10, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    CHECK(panelModel.x == x);  // a docked panel's position is the slit's business
    SendMessageA(panel, WM_EXITSIZEMOVE, 0, 0);
    CHECK(fakehost::log.back() == "message slit 11003");

    // Both reload paths keep the slit's place and stacking, apply the new size and then
    // have the slit lay out again.
    fakehost::set("Kelvora.alwaysOnTop:", "true");
    for (int height : {90, 70}) {
        fakehost::set("Kelvora.height:", std::to_string(height));
        fakehost::log.clear();
        if (height == 90) SendMessageA(panel, BB_RECONFIGURE, 0, 0);
        else broadcast("@Kelvora.settings.read");
        RECT r;
        GetWindowRect(panel, &r);
        CHECK(r.left == x + 40);
        CHECK(r.top == 10);
        CHECK(r.bottom - r.top == height);
        CHECK((GetWindowLongA(panel, GWL_EXSTYLE) & WS_EX_TOPMOST) == 0);
        CHECK(fakehost::logLinesStartingWith("message slit").size() == 1);
        CHECK(fakehost::log.back() == "message slit 11003");
    }
    endPlugin(self());
    const std::vector<std::string> last(fakehost::log.end() - 2, fakehost::log.end());
    checkLines({"message slit 11002", "message host 10002 [10103,10901,0] of the registered window"}, last);
}

TEST_CASE("beginPluginEx joins the slit only when inSlit is set; otherwise the panel floats in every respect") {
    freshHost();
    StopAtExit stop;
    fakehost::set("Kelvora.inSlit:", "false");
    fakehost::set("Kelvora.alphaEnabled:", "true");
    fakehost::set("Kelvora.alphaValue:", "128");
    REQUIRE(beginPluginEx(self(), fakehost::slitWindow()) == 0);
    HWND panel = panelModel.panelWindow;
    CHECK(static_cast<DWORD>(GetWindowLongA(panel, GWL_EXSTYLE)) == (WS_EX_TOOLWINDOW | WS_EX_LAYERED));
    DWORD flags = 0;
    COLORREF key = 0;
    CHECK(layeredAlpha(panel, &flags, &key) == 128);
    // Moved, its place is followed, written and kept by the next reconfigure.
    SetWindowPos(panel, nullptr, 260, 190, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    SendMessageA(panel, WM_EXITSIZEMOVE, 0, 0);
    broadcast("@Kelvora.settings.write");
    checkLines({"WriteInt Kelvora.x: 260", "WriteInt Kelvora.y: 190"}, fakehost::logLinesStartingWith("Write"));
    SendMessageA(panel, BB_RECONFIGURE, 0, 0);
    RECT r;
    GetWindowRect(panel, &r);
    CHECK(r.left == 260);
    CHECK(r.top == 190);
    endPlugin(self());
    CHECK(fakehost::logLinesStartingWith("message slit").empty());

    freshHost();
    fakehost::set("Kelvora.inSlit:", "true");
    REQUIRE(beginPluginEx(self(), fakehost::slitWindow()) == 0);
    CHECK(static_cast<DWORD>(GetWindowLongA(panelModel.panelWindow, GWL_EXSTYLE)) == WS_EX_TOOLWINDOW);
    checkLines({"message slit 11001"}, fakehost::logLinesStartingWith("message slit"));
    endPlugin(self());
}

TEST_CASE("transparency: alpha from the settings, 255 when off, and the colour key") {
    struct Case {
        const char* enabled;
        const char* value;
        BYTE alpha;
    };
    StopAtExit stop;
    for (Case c : {Case{"true", "300", 44}, Case{"false", "300", 255}, Case{"true", "0", 0}}) {
        freshHost();
        fakehost::set("Kelvora.alphaEnabled:", c.enabled);
        fakehost::set("Kelvora.alphaValue:", c.value);
        REQUIRE(beginPlugin(self()) == 0);
        DWORD flags = 0;
        COLORREF key = 0;
        CHECK(layeredAlpha(panelModel.panelWindow, &flags, &key) == c.alpha);
        CHECK((flags & LWA_ALPHA) != 0);
        CHECK((flags & LWA_COLORKEY) == 0);
        endPlugin(self());
    }
    freshHost();
    fakehost::set("Kelvora.sctEnabled:", "true");
    fakehost::set("Kelvora.sctColor:", "#FF00FF");
    REQUIRE(beginPlugin(self()) == 0);
    DWORD flags = 0;
    COLORREF key = 0;
    layeredAlpha(panelModel.panelWindow, &flags, &key);
    CHECK((flags & LWA_COLORKEY) != 0);
    CHECK(key == RGB(255, 0, 255));
    endPlugin(self());
}

TEST_CASE("left button starts a move only with Ctrl held") {
    freshHost();
    StopAtExit stop;
    REQUIRE(beginPlugin(self()) == 0);
    HWND panel = panelModel.panelWindow;
    WPARAM command = 0;
    CHECK(SendMessageA(panel, WM_LBUTTONDOWN, MK_CONTROL, 0) == 0);  // the flag alone does not count
    CHECK_FALSE(queuedSystemCommand(panel, &command));

    pressControl(true);
    REQUIRE((GetAsyncKeyState(VK_CONTROL) & 0x8000) != 0);
    SendMessageA(panel, WM_LBUTTONDOWN, 0, 0);
    const bool posted = queuedSystemCommand(panel, &command);
    pressControl(false);
    REQUIRE(posted);
    CHECK(command == 0xF012);
    endPlugin(self());
}

TEST_CASE("reconfigure and the read command reload without restarting the timers") {
    freshHost();
    StopAtExit stop;
    REQUIRE(beginPlugin(self()) == 0);
    UINT_PTR ids[TIMER_COUNT];
    memcpy(ids, panelModel.timerIds, sizeof ids);
    fakehost::set("Kelvora.timers.cpu:", "250");
    fakehost::set("Kelvora.width:", "140");

    fakehost::log.clear();
    CHECK(SendMessageA(panelModel.panelWindow, BB_RECONFIGURE, 0, 0) == 0);
    CHECK(fakehost::logLinesStartingWith("ReadInt Kelvora.x:").size() == 1);
    CHECK(panelModel.timers.cpu == 250);
    RECT r;
    GetWindowRect(panelModel.panelWindow, &r);
    CHECK(r.right - r.left == 140);

    fakehost::set("Kelvora.width:", "160");
    fakehost::log.clear();
    CHECK(broadcast("@Kelvora.settings.readme") == 0);  // whatever follows the word is ignored
    CHECK(fakehost::logLinesStartingWith("ReadInt Kelvora.x:").size() == 1);
    GetWindowRect(panelModel.panelWindow, &r);
    CHECK(r.right - r.left == 160);
    CHECK(memcmp(ids, panelModel.timerIds, sizeof ids) == 0);
    endPlugin(self());
}

TEST_CASE("broadcast commands: write, edit, about, show and hide") {
    freshHost();
    StopAtExit stop;
    fakehost::set("Kelvora.x:", "130");
    fakehost::set("Kelvora.y:", "140");
    fakehost::set("Kelvora.width:", "77");
    REQUIRE(beginPlugin(self()) == 0);
    HWND panel = panelModel.panelWindow;
    const std::string rc = panelModel.rcPath;

    fakehost::log.clear();
    fakehost::files.clear();
    broadcast("@Kelvora.settings.write");
    checkLines({"WriteInt Kelvora.x: 130", "WriteInt Kelvora.y: 140"}, fakehost::log);
    for (const std::string& file : fakehost::files) CHECK(file == rc);

    fakehost::log.clear();
    broadcast("@Kelvora.settings.edit");
    checkLines({"GetBlackboxEditor", "BBExecute 0 (null) C:\\windows\\notepad.exe " + rc + " (null) 1 0"},
               fakehost::log);

    clearMessageBoxes();
    broadcast("@Kelvora.aboutX");
    REQUIRE(messageBoxes().size() == 1);
    CHECK(messageBoxes()[0].caption == "About");
    CHECK(messageBoxes()[0].owner == fakehost::hostWindow());
    const std::string about = messageBoxes()[0].text;
    for (int code : {1, 2, 3, 4, 5}) CHECK(about.find(pluginInfo(code)) != std::string::npos);

    SUBCASE("hide only while pluginToggle is set; show always") {
        broadcast("@BBHidePlugins");
        CHECK(IsWindowVisible(panel));
        fakehost::set("Kelvora.pluginToggle:", "true");
        broadcast("@Kelvora.settings.read");
        broadcast("@BBHidePlugins");
        CHECK_FALSE(IsWindowVisible(panel));
        fakehost::set("Kelvora.pluginToggle:", "false");
        broadcast("@Kelvora.settings.read");
        broadcast("@BBShowPlugins ");
        CHECK_FALSE(IsWindowVisible(panel));
        broadcast("@BBShowPlugins");
        CHECK(IsWindowVisible(panel));
    }
    SUBCASE("texts that must do nothing, and a broadcast without text") {
        fakehost::log.clear();
        clearMessageBoxes();
        for (const char* text : {"@Kelvora.About", "@kelvora.about", "@Kelvora.settings", "@Kelvora.", "@Kelvora",
                                 "@BBShowPlugins ", "@bbshowplugins", "", "@Kelvora.settings.wr"})
            CHECK(broadcast(text) == 0);
        CHECK(SendMessageA(panel, BB_BROADCAST, 0, 0) == 0);
        CHECK(fakehost::log.empty());
        CHECK(messageBoxes().empty());
        CHECK(IsWindowVisible(panel));
    }
    endPlugin(self());
}

TEST_CASE("the right-click menu is built anew and each entry's text has its effect") {
    freshHost();
    StopAtExit stop;
    // The checkmarks and the level show the settings; only the low 8 bits of the level count.
    fakehost::set("Kelvora.alwaysOnTop:", "true");
    fakehost::set("Kelvora.alphaEnabled:", "true");
    fakehost::set("Kelvora.alphaValue:", "300");
    REQUIRE(beginPlugin(self()) == 0);
    HWND panel = panelModel.panelWindow;
    fakehost::log.clear();
    SendMessageA(panel, WM_RBUTTONUP, 0, 0);
    checkLines({"MakeNamedMenu Kelvora Kelvora_IDMain 1", "MakeNamedMenu Settings Kelvora_IDSettings 1",
                "MakeMenuItem Settings read settings @Kelvora.settings.read 0",
                "MakeMenuItem Settings write settings @Kelvora.settings.write 0",
                "MakeMenuItem Settings edit settings @Kelvora.settings.edit 0",
                "MakeSubmenu Kelvora Settings Settings",
                "MakeNamedMenu Configuration Kelvora_IDConfiguration 1",
                "MakeMenuItem Configuration Always on top @Kelvora.config.alwaysOnTop 1",
                "MakeMenuItem Configuration Toggle with plugins @Kelvora.config.pluginToggle 0",
                "MakeMenuItem Configuration Snap to edges @Kelvora.config.snapToEdges 0",
                "MakeMenuItem Configuration Show tooltips @Kelvora.config.tooltips 1",
                "MakeMenuItem Configuration Transparency @Kelvora.config.alphaEnabled 1",
                "MakeMenuItemInt Configuration Transparency level @Kelvora.config.alphaValue 44 0 255",
                "MakeMenuItem Configuration Match Task Manager @Kelvora.config.cpuMeasure utility 0",
                "MakeSubmenu Kelvora Configuration Configuration", "MakeMenuItem Kelvora About @Kelvora.about 0",
                "ShowMenu Kelvora"},
               fakehost::log);
    SendMessageA(panel, WM_RBUTTONUP, 0, 0);
    CHECK(fakehost::menus().size() == 6);  // a second release builds a second menu

    // The host broadcasts the chosen entry's text back to the panel.
    const fakehost::MenuRecord settings = fakehost::menus()[1];
    struct Effect {
        const char* label;
        const char* firstCall;
    };
    for (Effect e : {Effect{"read settings", "ReadInt Kelvora.x: 100"}, Effect{"write settings", "WriteInt Kelvora.x:"},
                     Effect{"edit settings", "GetBlackboxEditor"}}) {
        std::string command;
        for (const auto& item : settings.items)
            if (item.label == e.label) command = item.command;
        REQUIRE_FALSE(command.empty());
        fakehost::log.clear();
        broadcast(command.c_str());
        REQUIRE_FALSE(fakehost::log.empty());
        CHECK(fakehost::log.front().compare(0, strlen(e.firstCall), e.firstCall) == 0);
    }
    clearMessageBoxes();
    broadcast(fakehost::menus()[0].items.back().command.c_str());
    REQUIRE(messageBoxes().size() == 1);
    CHECK(messageBoxes()[0].caption == fakehost::menus()[0].items.back().label);
    endPlugin(self());
}

TEST_CASE("a failed window creation returns 1, starts no timer and leaves the class registered") {
    freshHost();
    StopAtExit stop;
    refusingHook = SetWindowsHookExA(WH_CBT, refuseCreation, nullptr, GetCurrentThreadId());
    refuseKelvoraWindows = true;
    const int result = beginPlugin(self());
    refuseKelvoraWindows = false;
    UnhookWindowsHookEx(refusingHook);
    CHECK(result == 1);
    for (UINT_PTR id : panelModel.timerIds) CHECK(id == 0);
    REQUIRE(messageBoxes().size() == 1);
    CHECK(messageBoxes()[0].text == "Error creating plugin window");
    CHECK(messageBoxes()[0].caption == "Error");
    CHECK(messageBoxes()[0].owner == fakehost::hostWindow());
    CHECK(messageBoxes()[0].style == (MB_TOPMOST | MB_ICONERROR));
    WNDCLASSA wc;
    CHECK(GetClassInfoA(self(), "KelvoraClass", &wc));

    SUBCASE("the next start then fails to register the class") {
        clearMessageBoxes();
        CHECK(beginPlugin(self()) == 1);
        REQUIRE(messageBoxes().size() == 1);
        CHECK(messageBoxes()[0].text == "Error registering window class");
    }
    UnregisterClassA("KelvoraClass", self());
    endPlugin(self());
}

TEST_CASE("start, stop and start again leave GDI objects and memory at their first level") {
    freshHost();
    StopAtExit stop;
    char module[PATH_SIZE];
    GetModuleFileNameA(self(), module, sizeof module);
    writeSolidIcon(pathDir(module) + "kelvora-cycle.ico", RGB(1, 2, 3));
    for (const char* key : {"Kelvora.ip.icon:", "Kelvora.icons.battery:", "Kelvora.icons.freedisk:"})
        fakehost::set(key, "kelvora-cycle.ico");
    fakehost::set("Kelvora.sctEnabled:", "true");
    // The fake host's call log would grow by every cycle's calls: cleared, it keeps its room.
    auto clearHostLog = [] {
        fakehost::log.clear();
        fakehost::files.clear();
    };
    // Each stop closes the performance data when its run read it, so that the system can
    // unload the providers the reads loaded; a fresh meter state makes the first run read it.
    MeterPlatform counting = systemMeterPlatform();
    counting.queryPerformanceData = countedQuery;
    counting.closePerformanceData = countedClose;
    installMeterPlatform(&counting);
    resetLoadMeterState();
    performanceQueries = performanceCloses = 0;
    REQUIRE(beginPlugin(self()) == 0);
    pumpMessages(50);
    REQUIRE(performanceQueries > 0);
    endPlugin(self());
    CHECK(performanceCloses == 1);
    clearHostLog();
    const int first = gdiObjectCount();
    size_t firstBytes = 0;
    for (int i = 0; i < 21; ++i) {
        // Memory counts from the second cycle on: the first of these gives the fake host's
        // log the room that its reconfigure calls take.
        if (i == 1) firstBytes = privateBytes();
        const int queries = performanceQueries, closes = performanceCloses;
        REQUIRE(beginPlugin(self()) == 0);
        pumpMessages(20);  // paints make a backBuffer
        SendMessageA(panelModel.panelWindow, BB_RECONFIGURE, 0, 0);
        endPlugin(self());
        CHECK(performanceCloses == closes + (performanceQueries > queries ? 1 : 0));
        CHECK(panelModel.graphs[0].history == nullptr);
        CHECK(panelModel.font == nullptr);
        CHECK(panelModel.backBuffer == nullptr);
        clearHostLog();
    }
    // Taken before the message, whose text takes memory of its own.
    const size_t lastBytes = privateBytes();
    MESSAGE("GDI objects after the first cycle " << first << ", after 22 cycles " << gdiObjectCount()
                                                 << "; private bytes " << firstBytes << " -> " << lastBytes);
    CHECK(gdiObjectCount() == first);
    CHECK(lastBytes == firstBytes);
    CHECK(panelModel.icons.battery == nullptr);
    CHECK(messageBoxes().empty());
    installMeterPlatform(nullptr);
}

namespace {

// Volumes of the next case: a share whose server is gone blocks until the case lets it go; the
// others answer at once, each counting its queries.
HANDLE shareAnswers = nullptr;  // manual-reset
std::atomic<int> localQueries{0};
bool hangingShareFree(const char* path, uint64_t* freeBytes, uint64_t* totalBytes) {
    if (strncmp(path, "\\\\gone\\", 7) == 0) {
        WaitForSingleObject(shareAnswers, INFINITE);
        *freeBytes = 7000000000ULL;
    } else {
        ++localQueries;
        *freeBytes = 9000000000ULL;
    }
    *totalBytes = 20000000000ULL;
    return true;
}
bool describedVolume(const char*, char* label, size_t labelSize, char* fileSystem, size_t fileSystemSize) {
    snprintf(label, labelSize, "%s", "DATA");
    snprintf(fileSystem, fileSystemSize, "%s", "NTFS");
    return true;
}
const VolumePlatform hangingShare = {hangingShareFree, describedVolume};

// Another thread keeps sending the panel a message and keeps the longest wait for its answer.
struct AnswerTimes {
    HWND panel;
    std::atomic<bool> done{false};
    std::atomic<DWORD> longest{0};
    HANDLE thread;
    explicit AnswerTimes(HWND window) : panel(window) { thread = CreateThread(nullptr, 0, run, this, 0, nullptr); }
    static DWORD WINAPI run(void* self) {
        auto* t = static_cast<AnswerTimes*>(self);
        while (!t->done) {
            const DWORD start = GetTickCount();
            DWORD_PTR result;
            SendMessageTimeoutA(t->panel, WM_NULL, 0, 0, SMTO_NORMAL, 5000, &result);
            const DWORD took = GetTickCount() - start;
            if (took > t->longest) t->longest = took;
            Sleep(10);
        }
        return 0;
    }
    // The thread's last message is answered by the pump of the caller.
    DWORD stop() {
        done = true;
        while (WaitForSingleObject(thread, 0) == WAIT_TIMEOUT) pumpMessages(5);
        CloseHandle(thread);
        return longest;
    }
};

}  // namespace

TEST_CASE("a share that never answers holds neither the panel, nor the other disks, nor the stop") {
    freshHost();
    StopAtExit stop;
    for (const auto& key : std::vector<std::pair<const char*, const char*>>{
             {"Kelvora.timers.disk:", "100"}, {"Kelvora.timers.memory:", "100"}, {"Kelvora.diskCount:", "3"},
             {"Kelvora.disk[1].path:", "C:\\"}, {"Kelvora.disk[2].path:", "\\\\gone\\share\\"},
             {"Kelvora.disk[3].path:", "D:\\"}})
        fakehost::set(key.first, key.second);
    shareAnswers = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    installVolumePlatform(&hangingShare);
    localQueries = 0;
    const int threadsBefore = resourceuse::threadCount();
    REQUIRE(beginPlugin(self()) == 0);
    AnswerTimes answers(panelModel.panelWindow);

    // The local disks' queries wait behind the share's until its worker is replaced, a
    // quarter of a second on: more than three of these periods, which must not count.
    auto pumpWatchingLocalDisks = [](int milliseconds) {
        int lateChecks = 0;
        for (int waited = 0; waited < milliseconds; waited += 10) {
            pumpMessages(10);
            lateChecks += panelModel.volumes[1].reading == DISK_LATE || panelModel.volumes[3].reading == DISK_LATE;
        }
        return lateChecks;
    };
    CHECK(pumpWatchingLocalDisks(1000) == 0);  // ten disk periods
    CHECK(panelModel.volumes[2].reading == DISK_LATE);
    CHECK(panelModel.volumes[1].reading == DISK_READ);
    CHECK(panelModel.volumes[3].reading == DISK_READ);
    CHECK(localQueries >= 10);  // both other disks, at most periods while the share hangs
    int memorySamples = 0;
    for (int i = 0; i < memoryGraph().samples; ++i) memorySamples += memoryGraph().history[i] != 0;
    CHECK(memorySamples >= 8);

    SetEvent(shareAnswers);  // the server is back
    pumpMessages(300);
    CHECK(panelModel.volumes[2].reading == DISK_READ);
    CHECK(panelModel.diskFree[2] == 7000000000LL);
    CHECK(std::string(panelModel.volumes[2].fileSystem) == "NTFS");

    ResetEvent(shareAnswers);  // gone again, with a query out
    pumpMessages(300);
    const DWORD stopStart = GetTickCount();
    endPlugin(self());
    CHECK(GetTickCount() - stopStart < 100);
    CHECK(answers.stop() < 100);
    // A second start in the same load runs while the first one's worker still waits.
    REQUIRE(beginPlugin(self()) == 0);
    CHECK(pumpWatchingLocalDisks(600) == 0);
    CHECK(panelModel.volumes[1].reading == DISK_READ);
    endPlugin(self());
    CHECK(resourceuse::threadCount() > threadsBefore);

    SetEvent(shareAnswers);
    int threadsAfter = 0;
    for (int waited = 0; waited < 2000 && (threadsAfter = resourceuse::threadCount()) > threadsBefore; waited += 20)
        pumpMessages(20);
    CHECK(threadsAfter == threadsBefore);  // every worker has ended
    installVolumePlatform(nullptr);
    CloseHandle(shareAnswers);
}
