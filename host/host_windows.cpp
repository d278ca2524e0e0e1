// The host's main window (GetBBWnd), its registrations and deliveries, and the slit: a
// small real window that takes plugin panels in, lays them out and lets them go.
#include <cstdlib>
#include <deque>
#include <vector>

#include "host/host.h"
#include "host/style.h"
#include "shell/host_api.h"

namespace host {

namespace {

struct Registration {
    HWND window;
    std::vector<UINT> messages;
};

HWND hostWnd = nullptr;
HWND slitWnd = nullptr;
HWND firstRegistered = nullptr;
HWND firstSticky = nullptr;
std::vector<Registration> registrations;
std::vector<HWND> docked;
std::deque<std::string> pendingBroadcasts;

constexpr int SLIT_PADDING = 4;
// The host's own snap distance; the one a plugin passes to SnapWindowToEdge is not used,
// as in the shells.
constexpr int SNAP_DISTANCE = 7;
// A registration list longer than this is taken as missing its terminating zero.
constexpr int MAX_REGISTERED = 64;

std::string describeList(const UINT* list) {
    if (!list) return "null";
    std::string text = "[";
    for (int i = 0; i < MAX_REGISTERED; ++i) {
        text += std::to_string(list[i]);
        if (list[i] == 0) return text + "]";
        text += ",";
    }
    return text + "...]";
}

// Kept as a shell keeps them: a registration goes only with the window's 10002, so a plugin that
// stops without it leaves one behind at every stop.
void registerWindow(HWND window, const UINT* list) {
    if (window && (!firstRegistered || !IsWindow(firstRegistered))) {
        if (firstRegistered) forgetWindowName(firstRegistered);
        firstRegistered = window;
        nameWindow(window, "panel");
    }
    Registration r{window, {}};
    for (int i = 0; list && i < MAX_REGISTERED && list[i] != 0; ++i) r.messages.push_back(list[i]);
    registrations.push_back(r);
}

// The listed messages of the window go; a registration left without any goes with them.
void unregisterWindow(HWND window, const UINT* list) {
    for (size_t i = registrations.size(); i-- > 0;) {
        Registration& r = registrations[i];
        if (r.window != window) continue;
        for (int k = 0; list && k < MAX_REGISTERED && list[k] != 0; ++k)
            for (size_t m = r.messages.size(); m-- > 0;)
                if (r.messages[m] == list[k]) r.messages.erase(r.messages.begin() + static_cast<std::ptrdiff_t>(m));
        if (r.messages.empty()) registrations.erase(registrations.begin() + static_cast<std::ptrdiff_t>(i));
    }
}

void logMessage(const char* who, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == BB_REGISTERMESSAGE || message == BB_UNREGISTERMESSAGE) {
        logLine("message %s %u wParam=%s lParam=%s", who, message,
                windowName(reinterpret_cast<HWND>(wParam)).c_str(),
                describeList(reinterpret_cast<const UINT*>(lParam)).c_str());
    } else if (message >= SLIT_ADD && message <= SLIT_UPDATE) {
        logLine("message %s %u wParam=%llu lParam=%s", who, message, static_cast<unsigned long long>(wParam),
                windowName(reinterpret_cast<HWND>(lParam)).c_str());
    } else {
        logLine("message %s %u wParam=0x%llx lParam=0x%llx", who, message, static_cast<unsigned long long>(wParam),
                static_cast<unsigned long long>(lParam));
    }
}

void deliverToRegistered(UINT message, WPARAM wParam, LPARAM lParam) {
    // A copy: a plugin may register more windows while it handles the message.
    std::vector<Registration> targets = registrations;
    for (const Registration& r : targets) {
        bool wanted = false;
        for (UINT m : r.messages) wanted = wanted || m == message;
        if (!wanted || !IsWindow(r.window)) continue;
        logLine("deliver %u %s", message, windowName(r.window).c_str());
        SendMessageA(r.window, message, wParam, lParam);
    }
}

}  // namespace

int registrationCount() { return static_cast<int>(registrations.size()); }

namespace {

LRESULT CALLBACK hostWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_HOST_BROADCAST:
            if (!pendingBroadcasts.empty()) {
                std::string text = pendingBroadcasts.front();
                deliverBroadcast(text.c_str());
                pendingBroadcasts.pop_front();
            }
            return 0;
        case WM_HOST_STOP:
            PostQuitMessage(0);
            return 0;
        case WM_TIMER:
            if (wParam == TIMER_SCRIPT) onScriptTimer();
            else if (wParam == TIMER_MENU_PICK) onMenuPickTimer();
            else if (wParam == TIMER_STOP_AFTER) requestStop("stop-after");
            return 0;
        default:
            break;
    }
    if (message == BB_BROADCAST) {
        // A plugin's broadcast command, posted as the shell's own menus post theirs: the shell
        // hands it to every registered window.
        const char* text = reinterpret_cast<const char*>(lParam);
        logLine("message host %u text=%s", message, quoted(text).c_str());
        if (text) queueBroadcast(text);
        return 0;
    }
    if (message >= WM_USER && message < WM_APP) {
        // Registered first, so the log already names the window.
        if (message == BB_REGISTERMESSAGE)
            registerWindow(reinterpret_cast<HWND>(wParam), reinterpret_cast<const UINT*>(lParam));
        logMessage("host", message, wParam, lParam);
        if (message == BB_UNREGISTERMESSAGE)
            unregisterWindow(reinterpret_cast<HWND>(wParam), reinterpret_cast<const UINT*>(lParam));
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

// Only on 11001, 11002, 11003 and the host's own reconfigure, as a shell's slit does: a
// docked window that changes its own place or size stays so until one of them comes.
void layoutSlit() {
    int y = SLIT_PADDING;
    int width = 0;
    std::vector<HWND> still;
    std::string slots;
    for (HWND w : docked) {
        if (!IsWindow(w)) continue;
        still.push_back(w);
        RECT r;
        GetWindowRect(w, &r);
        // Each window in its slot, one below the other in the order they came.
        SetWindowPos(w, nullptr, SLIT_PADDING, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
        slots += " " + windowName(w) + " at " + std::to_string(SLIT_PADDING) + "," + std::to_string(y) + " " +
                 std::to_string(r.right - r.left) + "x" + std::to_string(r.bottom - r.top);
        y += (r.bottom - r.top) + SLIT_PADDING;
        if (r.right - r.left > width) width = r.right - r.left;
    }
    docked = still;
    const int slitWidth = width + 2 * SLIT_PADDING;
    const int slitHeight = y;
    // The slit sits at the right edge of the screen, its top a little below the top edge.
    const int screenWidth = GetSystemMetrics(SM_CXSCREEN);
    SetWindowPos(slitWnd, HWND_TOPMOST, screenWidth - slitWidth, 40, slitWidth, slitHeight, SWP_NOACTIVATE);
    InvalidateRect(slitWnd, nullptr, TRUE);
    logLine("slit layout %dx%d:%s", slitWidth, slitHeight, slots.empty() ? " empty" : slots.c_str());
}

void dock(HWND panel) {
    if (!IsWindow(panel)) return;
    for (HWND w : docked)
        if (w == panel) return;
    LONG style = GetWindowLongA(panel, GWL_STYLE);
    SetWindowLongA(panel, GWL_STYLE, (style & ~WS_POPUP) | WS_CHILD);
    SetParent(panel, slitWnd);
    docked.push_back(panel);
    layoutSlit();
}

void undock(HWND panel) {
    for (size_t i = 0; i < docked.size(); ++i) {
        if (docked[i] != panel) continue;
        docked.erase(docked.begin() + static_cast<long>(i));
        if (IsWindow(panel)) {
            RECT r;
            GetWindowRect(panel, &r);
            SetParent(panel, nullptr);
            LONG style = GetWindowLongA(panel, GWL_STYLE);
            SetWindowLongA(panel, GWL_STYLE, (style & ~WS_CHILD) | WS_POPUP);
            SetWindowPos(panel, nullptr, r.left, r.top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
        }
        layoutSlit();
        return;
    }
}

LRESULT CALLBACK slitWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_ERASEBKGND:
            return 1;
        case WM_PAINT: {
            PAINTSTRUCT ps;
            HDC dc = BeginPaint(window, &ps);
            RECT r;
            GetClientRect(window, &r);
            hoststyle::paintGradient(dc, r, styleRecord(), true);
            EndPaint(window, &ps);
            return 0;
        }
        default:
            break;
    }
    if (message >= WM_USER && message < WM_APP) {
        logMessage("slit", message, wParam, lParam);
        HWND panel = reinterpret_cast<HWND>(lParam);
        if (message == SLIT_ADD) dock(panel);
        else if (message == SLIT_REMOVE) undock(panel);
        else if (message == SLIT_UPDATE) layoutSlit();
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

bool registerClass(HINSTANCE instance, const char* name, WNDPROC proc) {
    WNDCLASSA wc = {};
    wc.lpfnWndProc = proc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
    wc.lpszClassName = name;
    return RegisterClassA(&wc) != 0;
}

}  // namespace

bool createHostWindows(HINSTANCE instance) {
    if (!registerClass(instance, "KelvoraStandInHost", hostWindowProc)) return false;
    if (!registerClass(instance, "KelvoraStandInSlit", slitWindowProc)) return false;
    // The main window stays hidden, like a shell's own: it owns boxes and receives registrations.
    hostWnd = CreateWindowExA(WS_EX_TOOLWINDOW, "KelvoraStandInHost", "Blackbox stand-in", WS_POPUP, 0, 0, 0, 0,
                              nullptr, nullptr, instance, nullptr);
    slitWnd = CreateWindowExA(WS_EX_TOOLWINDOW | WS_EX_TOPMOST, "KelvoraStandInSlit", "Slit",
                              WS_POPUP | WS_CLIPCHILDREN, 0, 0, 2 * SLIT_PADDING, 2 * SLIT_PADDING, nullptr, nullptr,
                              instance, nullptr);
    nameWindow(hostWnd, "host");
    nameWindow(slitWnd, "slit");
    return hostWnd && slitWnd;
}

HWND mainWindow() { return hostWnd; }
HWND slitWindow() { return slitWnd; }

HWND panelWindow() {
    if (firstRegistered && IsWindow(firstRegistered)) return firstRegistered;
    if (firstSticky && IsWindow(firstSticky)) return firstSticky;
    return nullptr;
}

void recordSticky(HWND window) {
    if (!firstSticky || !IsWindow(firstSticky)) firstSticky = window;
}

void deliverReconfigure() {
    logLine("reconfigure");
    deliverToRegistered(BB_RECONFIGURE, 0, 0);
    // The shell reconfigures its slit too, after the plugins.
    if (!docked.empty()) layoutSlit();
}

void deliverBroadcast(const char* text) {
    logLine("broadcast %s", quoted(text).c_str());
    deliverToRegistered(BB_BROADCAST, 0, reinterpret_cast<LPARAM>(text));
}

void queueBroadcast(const std::string& text) {
    pendingBroadcasts.push_back(text);
    PostMessageA(hostWnd, WM_HOST_BROADCAST, 0, 0);
}

bool broadcastsPending() { return !pendingBroadcasts.empty(); }

void requestStop(const char* reason) {
    logLine("stop requested (%s)", reason);
    PostMessageA(hostWnd, WM_HOST_STOP, 0, 0);
}

namespace {

// The start of a span of length `size` at `at`, put onto the near edge of [low, high) when
// one of its ends lies within the snap distance of it.
LONG snappedStart(LONG at, LONG size, LONG low, LONG high) {
    if (labs(at - low) <= SNAP_DISTANCE) return low;
    if (labs(at + size - high) <= SNAP_DISTANCE) return high - size;
    return at;
}

}  // namespace

bool snapToWorkArea(WINDOWPOS* position) {
    if (position->flags & SWP_NOMOVE) return false;
    RECT now = {0, 0, 0, 0};
    GetWindowRect(position->hwnd, &now);
    const LONG width = position->flags & SWP_NOSIZE ? now.right - now.left : position->cx;
    const LONG height = position->flags & SWP_NOSIZE ? now.bottom - now.top : position->cy;
    const RECT at = {position->x, position->y, position->x + width, position->y + height};
    MONITORINFO monitor = {};
    monitor.cbSize = sizeof monitor;
    if (!GetMonitorInfoA(MonitorFromRect(&at, MONITOR_DEFAULTTONEAREST), &monitor)) return false;
    const RECT& work = monitor.rcWork;
    const LONG x = snappedStart(position->x, width, work.left, work.right);
    const LONG y = snappedStart(position->y, height, work.top, work.bottom);
    const bool moved = x != position->x || y != position->y;
    position->x = x;
    position->y = y;
    return moved;
}

void showSlit() {
    layoutSlit();
    ShowWindow(slitWnd, SW_SHOWNOACTIVATE);
}

}  // namespace host
