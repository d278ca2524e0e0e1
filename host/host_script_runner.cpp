// Runs a script's timed steps from a timer of the host's main window. Timers are
// dispatched by nested loops too (menus, boxes, window moves), so each step that opens
// one waits for its end before the next step starts.
#include <algorithm>
#include <string>
#include <vector>

#include "host/host.h"
#include "host/rc_files.h"
#include "host/resource_use.h"

namespace host {

namespace {

enum class Waiting { Nothing, Time, Menu, Drag };

hostscript::Script script;
size_t next = 0;
bool running = false;
bool inStep = false;
Waiting waiting = Waiting::Nothing;
DWORD resumeAt = 0;
int menusBefore = 0;
HANDLE dragThread = nullptr;

struct DragPlan {
    POINT from;
    POINT to;
};
DragPlan dragPlan;

constexpr UINT TICK_MS = 20;
// How long a right click may take to bring up a menu before the step gives up.
constexpr DWORD MENU_APPEAR_MS = 3000;

bool reached(DWORD tick) { return static_cast<int>(GetTickCount() - tick) >= 0; }

void sendKey(WORD key, bool up) {
    INPUT in = {};
    in.type = INPUT_KEYBOARD;
    in.ki.wVk = key;
    in.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
    SendInput(1, &in, sizeof in);
}

void sendMouse(POINT at, DWORD buttons) {
    const int width = GetSystemMetrics(SM_CXSCREEN);
    const int height = GetSystemMetrics(SM_CYSCREEN);
    INPUT in = {};
    in.type = INPUT_MOUSE;
    in.mi.dx = static_cast<LONG>((at.x * 65535LL + width / 2) / (width > 1 ? width - 1 : 1));
    in.mi.dy = static_cast<LONG>((at.y * 65535LL + height / 2) / (height > 1 ? height - 1 : 1));
    in.mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE | buttons;
    SendInput(1, &in, sizeof in);
}

// Real input from another thread: the GUI thread keeps dispatching, as it would for a
// person, and the system's move loop sees genuine button and pointer events.
DWORD WINAPI dragWithControl(LPVOID) {
    const DragPlan plan = dragPlan;
    // Ctrl goes down only once the pointer rests on the panel: under Wine, the pointer
    // entering a window resynchronises the key state with the X server, where Ctrl is up.
    sendMouse(plan.from, 0);
    Sleep(150);
    sendKey(VK_CONTROL, false);
    Sleep(30);
    sendMouse(plan.from, MOUSEEVENTF_LEFTDOWN);
    Sleep(150);
    const int steps = 12;
    for (int i = 1; i <= steps; ++i) {
        POINT p = {plan.from.x + (plan.to.x - plan.from.x) * i / steps, plan.from.y + (plan.to.y - plan.from.y) * i / steps};
        sendMouse(p, 0);
        Sleep(25);
    }
    Sleep(60);
    sendMouse(plan.to, MOUSEEVENTF_LEFTUP);
    Sleep(60);
    sendKey(VK_CONTROL, true);
    Sleep(150);
    return 0;
}

POINT panelCentre(HWND panel) {
    RECT r;
    GetWindowRect(panel, &r);
    return POINT{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
}

void startDrag(const hostscript::Step& step) {
    HWND panel = panelWindow();
    if (!panel) {
        logLine("script drag: no panel");
        return;
    }
    RECT r;
    GetWindowRect(panel, &r);
    logLine("script drag %d %d from %ld,%ld", step.dx, step.dy, r.left, r.top);
    dragPlan.from = panelCentre(panel);
    dragPlan.to = POINT{dragPlan.from.x + step.dx, dragPlan.from.y + step.dy};
    dragThread = CreateThread(nullptr, 0, dragWithControl, nullptr, 0, nullptr);
    if (dragThread) waiting = Waiting::Drag;
}

// The panel's client point x, y on the screen; false without a panel.
bool panelPoint(int x, int y, POINT* screen) {
    HWND panel = panelWindow();
    if (!panel) return false;
    *screen = POINT{x, y};
    ClientToScreen(panel, screen);
    return true;
}

// Real input, as a person's: the panel gets the pointer's moves and a double click from the
// system, and the plugin's tooltip control sees them as it would.
void pointAt(const hostscript::Step& step) {
    const char* name = hostscript::stepName(step.kind);
    POINT at;
    if (!panelPoint(step.dx, step.dy, &at)) {
        logLine("script %s: no panel", name);
        return;
    }
    logLine("script %s %d %d at %ld,%ld", name, step.dx, step.dy, at.x, at.y);
    sendMouse(at, 0);
    if (step.kind != hostscript::StepKind::DoubleClick) return;
    for (int click = 0; click < 2; ++click) {
        sendMouse(at, MOUSEEVENTF_LEFTDOWN);
        sendMouse(at, MOUSEEVENTF_LEFTUP);
    }
}

struct TooltipWindows {
    int count;
    HWND shown;
};

BOOL CALLBACK collectTooltip(HWND window, LPARAM context) {
    char name[64] = "";
    GetClassNameA(window, name, sizeof name);
    if (lstrcmpiA(name, "tooltips_class32") != 0) return TRUE;
    auto* found = reinterpret_cast<TooltipWindows*>(context);
    ++found->count;
    if (!found->shown && IsWindowVisible(window)) found->shown = window;
    return TRUE;
}

// The tooltip windows of the host's thread, which the plugin's run on, and the text of the one
// shown, as UTF-8 lines.
void logTooltip() {
    TooltipWindows found = {0, nullptr};
    EnumThreadWindows(GetCurrentThreadId(), collectTooltip, reinterpret_cast<LPARAM>(&found));
    const bool topmost = found.shown && (GetWindowLongA(found.shown, GWL_EXSTYLE) & WS_EX_TOPMOST);
    logLine("script tooltip: windows=%d shown=%d topmost=%d", found.count, found.shown ? 1 : 0, topmost ? 1 : 0);
    if (!found.shown) return;
    std::vector<WCHAR> wide(4096);
    const LRESULT units = SendMessageW(found.shown, WM_GETTEXT, wide.size(), reinterpret_cast<LPARAM>(wide.data()));
    wide[units > 0 && static_cast<size_t>(units) < wide.size() ? static_cast<size_t>(units) : 0] = 0;
    std::vector<char> text(3 * wide.size());
    if (WideCharToMultiByte(CP_UTF8, 0, wide.data(), -1, text.data(), static_cast<int>(text.size()), nullptr, nullptr) == 0)
        text[0] = '\0';
    std::string line;
    for (const char* c = text.data();; ++c) {
        if (*c == '\r') continue;
        if (*c == '\n' || *c == '\0') {
            logLine("tooltip text %s", quoted(line.c_str()).c_str());
            line.clear();
            if (*c == '\0') break;
            continue;
        }
        line += *c;
    }
}

void startMenu(const hostscript::Step& step) {
    HWND panel = panelWindow();
    const bool number = step.kind == hostscript::StepKind::MenuNumber;
    if (number)
        logLine("script menu-number %d %s", step.value, quoted(step.text.c_str()).c_str());
    else
        logLine("script menu %s", quoted(step.text.c_str()).c_str());
    if (!panel) {
        logLine("script menu: no panel");
        return;
    }
    armMenuPick(step.text, number ? &step.value : nullptr);
    menusBefore = menusShown();
    RECT client;
    GetClientRect(panel, &client);
    POINT centre = {client.right / 2, client.bottom / 2};
    POINT screen = centre;
    ClientToScreen(panel, &screen);
    SetCursorPos(screen.x, screen.y);
    const LPARAM at = MAKELPARAM(centre.x, centre.y);
    PostMessageA(panel, WM_RBUTTONDOWN, MK_RBUTTON, at);
    PostMessageA(panel, WM_RBUTTONUP, 0, at);
    waiting = Waiting::Menu;
    resumeAt = GetTickCount() + MENU_APPEAR_MS;
}

// Dispatches what the last step left queued (paints, posted broadcasts, timers), so that
// a repeated step meets the plugin as a live one would.
void pumpPending() {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(msg.wParam));
            return;
        }
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

// Counting USER objects and handles takes thousands of calls, so processor time has a step
// of its own. The panel's size beside the virtual screen's shows how far the plugin lets a
// window grow.
void measure(const std::string& label) {
    RECT panel = {0, 0, 0, 0};
    if (panelWindow()) GetWindowRect(panelWindow(), &panel);
    logLine("measure %s private=%llu gdi=%d user=%u handles=%lu perfQueries=%lu panelWidth=%ld panelHeight=%ld "
            "screenWidth=%d screenHeight=%d threads=%d registrations=%d",
            label.c_str(), static_cast<unsigned long long>(resourceuse::privateBytes()), resourceuse::gdiObjectCount(),
            resourceuse::userObjectCount(), resourceuse::kernelHandleCount(), performanceDataQueries(),
            panel.right - panel.left, panel.bottom - panel.top, GetSystemMetrics(SM_CXVIRTUALSCREEN),
            GetSystemMetrics(SM_CYVIRTUALSCREEN), resourceuse::threadCount(), registrationCount());
}

void logClock(const std::string& label) {
    unsigned long paints, renders, calls;
    paintCounts(&paints, &renders, &calls);
    logLine("clock %s cpuMs=%llu tick=%lu paints=%lu renders=%lu drawingCalls=%lu", label.c_str(),
            resourceuse::processorMilliseconds(), static_cast<unsigned long>(GetTickCount()), paints, renders, calls);
}

// What a screenshot does not show of the panel's window: its extended style, whether it is
// topmost, its layered attributes (the alpha and the colour key, each "none" when not set)
// and whose child it is.
void logPanelWindow() {
    HWND panel = panelWindow();
    if (!panel) {
        logLine("window: no panel");
        return;
    }
    RECT r;
    GetWindowRect(panel, &r);
    const DWORD exStyle = static_cast<DWORD>(GetWindowLongA(panel, GWL_EXSTYLE));
    COLORREF key = 0;
    BYTE alpha = 0;
    DWORD flags = 0;
    if (!(exStyle & WS_EX_LAYERED) || !GetLayeredWindowAttributes(panel, &key, &alpha, &flags)) flags = 0;
    char alphaText[8] = "none";
    char keyText[8] = "none";
    if (flags & LWA_ALPHA) snprintf(alphaText, sizeof alphaText, "%u", alpha);
    if (flags & LWA_COLORKEY)
        snprintf(keyText, sizeof keyText, "#%02X%02X%02X", GetRValue(key), GetGValue(key), GetBValue(key));
    logLine("window panel at %ld,%ld %ldx%ld exStyle=0x%08lX topmost=%d alpha=%s key=%s parent=%s", r.left, r.top,
            r.right - r.left, r.bottom - r.top, static_cast<unsigned long>(exStyle), exStyle & WS_EX_TOPMOST ? 1 : 0,
            alphaText, keyText, windowName(GetParent(panel)).c_str());
}

void paintPanelNow() {
    HWND panel = panelWindow();
    if (!panel) return;
    InvalidateRect(panel, nullptr, FALSE);
    UpdateWindow(panel);
}

void runStepOnce(const hostscript::Step& step) {
    switch (step.kind) {
        case hostscript::StepKind::Wait:
            logLine("script wait %d", step.milliseconds);
            waiting = Waiting::Time;
            resumeAt = GetTickCount() + static_cast<DWORD>(step.milliseconds);
            break;
        case hostscript::StepKind::Broadcast:
            logLine("script broadcast %s", quoted(step.text.c_str()).c_str());
            deliverBroadcast(step.text.c_str());
            break;
        case hostscript::StepKind::BroadcastNull:
            logLine("script broadcast-null");
            deliverBroadcast(nullptr);
            break;
        case hostscript::StepKind::Reconfigure:
            logLine("script reconfigure");
            deliverReconfigure();
            break;
        case hostscript::StepKind::Menu:
        case hostscript::StepKind::MenuNumber:
            startMenu(step);
            break;
        case hostscript::StepKind::Window:
            logPanelWindow();
            break;
        case hostscript::StepKind::Drag:
            startDrag(step);
            break;
        case hostscript::StepKind::Point:
        case hostscript::StepKind::DoubleClick:
            pointAt(step);
            break;
        case hostscript::StepKind::Tooltip:
            logTooltip();
            break;
        case hostscript::StepKind::Screenshot: {
            logLine("script screenshot %s", quoted(step.text.c_str()).c_str());
            std::string error;
            if (!savePanelPng(panelWindow(), step.text.c_str(), &error)) logLine("screenshot failed: %s", error.c_str());
            break;
        }
        case hostscript::StepKind::WriteInt: {
            std::string error;
            const bool written =
                hostrc::storeValue(step.text.c_str(), step.key.c_str(), std::to_string(step.value), &error);
            logLine("script write-int %s %d %s -> %s", quoted(step.key.c_str()).c_str(), step.value,
                    quoted(step.text.c_str()).c_str(), written ? "written" : error.c_str());
            break;
        }
        case hostscript::StepKind::Tick:
            logLine("script tick: %d timers", tickPluginTimers());
            break;
        case hostscript::StepKind::Paint:
            logLine("script paint");
            paintPanelNow();
            break;
        case hostscript::StepKind::Restart:
        case hostscript::StepKind::ReloadModule:
            logLine("script %s", hostscript::stepName(step.kind));
            if (!restartPlugin(step.kind == hostscript::StepKind::ReloadModule)) {
                logLine("script restart: the plugin did not start");
                running = false;
                requestStop("restart failed");
            }
            break;
        case hostscript::StepKind::Measure:
            measure(step.text);
            break;
        case hostscript::StepKind::Clock:
            logClock(step.text);
            break;
        case hostscript::StepKind::Interfaces:
            logLine("script interfaces");
            logInterfaces();
            break;
        case hostscript::StepKind::NetTable: {
            logLine("script net-table %s", quoted(step.text.c_str()).c_str());
            std::string error;
            if (!loadNetTable(step.text.c_str(), &error)) logLine("net-table failed: %s", error.c_str());
            break;
        }
        case hostscript::StepKind::HangVolume:
            hangVolume(step.text.c_str());
            break;
        case hostscript::StepKind::ReleaseVolumes:
            releaseVolumes();
            break;
        case hostscript::StepKind::Unload:
            logLine("script unload");
            logLine("unload took %lu ms", unloadPluginNow());
            break;
        case hostscript::StepKind::Disks:
            logLine("script disks");
            logDisks();
            break;
        case hostscript::StepKind::CoreTable: {
            logLine("script core-table %s", quoted(step.text.c_str()).c_str());
            std::string error;
            if (!loadCoreTable(step.text.c_str(), &error)) logLine("core-table failed: %s", error.c_str());
            break;
        }
        case hostscript::StepKind::DiskTable: {
            logLine("script disk-table %s", quoted(step.text.c_str()).c_str());
            std::string error;
            if (!loadDiskTable(step.text.c_str(), &error)) logLine("disk-table failed: %s", error.c_str());
            break;
        }
        case hostscript::StepKind::Gpus:
            logLine("script gpus");
            logGpus();
            break;
        case hostscript::StepKind::GpuTable: {
            logLine("script gpu-table %s", quoted(step.text.c_str()).c_str());
            std::string error;
            if (!loadGpuTable(step.text.c_str(), &error)) logLine("gpu-table failed: %s", error.c_str());
            break;
        }
        case hostscript::StepKind::Stop:
            logLine("script stop");
            running = false;
            requestStop("script");
            break;
    }
}

void runStep(const hostscript::Step& step) {
    if (step.repeat <= 1) {
        runStepOnce(step);
        return;
    }
    logLine("script repeat %d %s", step.repeat, hostscript::stepName(step.kind));
    const DWORD began = GetTickCount();
    muteLog(true);
    for (int i = 0; i < step.repeat && running; ++i) {
        runStepOnce(step);
        pumpPending();
    }
    muteLog(false);
    logLine("script repeat done in %lu ms", static_cast<unsigned long>(GetTickCount() - began));
}

// True once the step that is waiting has finished.
bool waitOver() {
    switch (waiting) {
        case Waiting::Nothing:
            return true;
        case Waiting::Time:
            return reached(resumeAt);
        case Waiting::Menu:
            // Shown, closed and its choice delivered; or never shown in time.
            if (menusShown() > menusBefore) return !broadcastsPending() && !menuOpen();
            if (reached(resumeAt)) {
                logLine("script menu: no menu appeared");
                return true;
            }
            return false;
        case Waiting::Drag: {
            if (WaitForSingleObject(dragThread, 0) != WAIT_OBJECT_0) return false;
            CloseHandle(dragThread);
            dragThread = nullptr;
            RECT r = {};
            if (panelWindow()) GetWindowRect(panelWindow(), &r);
            logLine("script drag ended at %ld,%ld", r.left, r.top);
            return true;
        }
    }
    return true;
}

}  // namespace

void startScript(const hostscript::Script& s) {
    script = s;
    next = 0;
    running = true;
    waiting = Waiting::Nothing;
    SetTimer(mainWindow(), TIMER_SCRIPT, TICK_MS, nullptr);
}

// While a wait for time runs, the script's timer sleeps until it is over rather than looking
// every tick: the host's own wake-ups would otherwise cost more than the plugin it measures.
void pollAgainIn(UINT milliseconds) { SetTimer(mainWindow(), TIMER_SCRIPT, milliseconds, nullptr); }

void onScriptTimer() {
    // A step that opened a nested loop (a box, a menu, a move) is still on the stack.
    if (!running || inStep) return;
    if (!waitOver()) {
        if (waiting == Waiting::Time) pollAgainIn(std::max<UINT>(TICK_MS, resumeAt - GetTickCount()));
        return;
    }
    pollAgainIn(TICK_MS);
    waiting = Waiting::Nothing;
    inStep = true;
    while (running && waiting == Waiting::Nothing && next < script.steps.size()) runStep(script.steps[next++]);
    inStep = false;
    if (running && waiting == Waiting::Nothing && next >= script.steps.size()) {
        running = false;
        logLine("script done");
        KillTimer(mainWindow(), TIMER_SCRIPT);
    }
}

}  // namespace host
