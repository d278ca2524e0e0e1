// Entry points, panel window, window procedure and the lifetime of the samplers' timers.
#include "shell/plugin.h"

#include <winsock2.h>

#include <cstdio>
#include <cstring>

#include "config/panel_model.h"
#include "config/settings.h"
#include "render/painter.h"
#include "sampling/disk_io_sampler.h"
#include "sampling/core_sampler.h"
#include "sampling/ip_sampler.h"
#include "sampling/gpu_sampler.h"
#include "sampling/load_meter.h"
#include "sampling/net_sampler.h"
#include "sampling/own_time.h"
#include "sampling/samplers.h"
#include "sampling/volume_worker.h"
#include "shell/commands.h"
#include "shell/host_api.h"
#include "shell/host_extras.h"
#include "shell/panel_parts.h"
#include "shell/part_actions.h"
#include "shell/placement.h"
#include "shell/plugin_info.h"
#include "shell/tooltips.h"

namespace {

const char* const CLASS_NAME = "KelvoraClass";

// Handed to the host at window creation; the host may keep the pointer.
const UINT registrationList[] = {BB_RECONFIGURE, BB_BROADCAST, 0};

bool socketsStarted = false;
HMODULE user32Reference = nullptr;
// From the 11001 that adds the panel to the slit until the 11002 that takes it out: meanwhile
// the slit owns the panel's place. A panel started beside a slit without joining it never sets it.
bool dockedInSlit = false;
// Between WM_ENTERSIZEMOVE and WM_EXITSIZEMOVE: the user drags the panel, and only then does it snap.
bool panelDragged = false;

// How a start entry point treats the slit window that the shell passed.
enum class SlitChoice { None, Join, JoinWhenInSlit };

// Newer samplers come last and start last, so the ones before them keep their order.
const TIMERPROC samplerOrder[TIMER_COUNT] = {sampleCpu, sampleMemory, sampleBattery, sampleUptime,
                                             sampleIp,  sampleDisks,  sampleNetwork, sampleDiskIo};

int periodOf(int timer) {
    const TimerPeriods& t = panelModel.timers;
    const int32_t periods[TIMER_COUNT] = {t.cpu, t.memory, t.battery, t.uptime, t.ip, t.disk, t.net, t.diskIo};
    return periods[timer];
}

// When each timer last fired (or was set), to tell whether another falls due within the repaint
// delay: its tick then shows the changes of this one.
DWORD lastTicks[TIMER_COUNT];

// The period the system gives a timer: at least USER_TIMER_MINIMUM, and a negative setting,
// passed as a huge unsigned number, at most USER_TIMER_MAXIMUM.
DWORD timerPeriod(int timer) {
    const DWORD asked = static_cast<DWORD>(periodOf(timer));
    return asked < USER_TIMER_MINIMUM ? USER_TIMER_MINIMUM : asked > USER_TIMER_MAXIMUM ? USER_TIMER_MAXIMUM : asked;
}

bool anotherTickDue(int timer) {
    const DWORD now = GetTickCount();
    for (int other = 0; other < TIMER_COUNT; ++other) {
        if (other == timer || !panelModel.timerIds[other]) continue;
        const DWORD elapsed = now - lastTicks[other];
        if (elapsed >= timerPeriod(other) || timerPeriod(other) - elapsed <= REPAINT_DELAY_MS) return true;
    }
    return false;
}

template <int TIMER>
void CALLBACK timerTick(HWND window, UINT message, UINT_PTR id, DWORD time) {
    OwnTimeSpan span;
    if (TIMER == TIMER_CPU) keepOwnTimeReading();
    lastTicks[TIMER] = GetTickCount();
    beginTick();
    samplerOrder[TIMER](window, message, id, time);
    endTick(anotherTickDue(TIMER));
}

const TIMERPROC timerProcedures[TIMER_COUNT] = {
    timerTick<TIMER_CPU>, timerTick<TIMER_MEMORY>, timerTick<TIMER_BATTERY>, timerTick<TIMER_UPTIME>,
    timerTick<TIMER_IP>,  timerTick<TIMER_DISK>,   timerTick<TIMER_NET>,     timerTick<TIMER_DISK_IO>};

void startSockets() {
    WSADATA data;
    socketsStarted = WSAStartup(MAKEWORD(2, 0), &data) == 0;
    noteSocketsStarted(socketsStarted);
    // The start goes on without sockets; the IP row then shows "n/a".
    if (!socketsStarted) {
        OwnTimeAside box;
        MessageBoxA(nullptr, nullptr, nullptr, MB_OK);
    }
}

void lookUpLayeredWindowAttributes() {
    if (!user32Reference) user32Reference = LoadLibraryA("user32.dll");
    panelModel.setLayeredWindowAttributes =
        user32Reference ? reinterpret_cast<SetLayeredWindowAttributesFn>(
                              GetProcAddress(user32Reference, "SetLayeredWindowAttributes"))
                        : nullptr;
}

void showStartError(const char* text) {
    OwnTimeAside box;
    MessageBoxA(panelModel.hostWindow, text, "Error", MB_TOPMOST | MB_ICONERROR);
}

bool registerPanelClass() {
    WNDCLASSA wc;
    memset(&wc, 0, sizeof wc);
    wc.style = PANEL_CLASS_STYLE;
    wc.lpfnWndProc = panelWindowProc;
    wc.hInstance = panelModel.pluginInstance;
    wc.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
    wc.lpszClassName = CLASS_NAME;
    return RegisterClassA(&wc) != 0;
}

HWND createPanelWindow() {
    // A docked panel must not be layered: the slit draws it as a child.
    const DWORD exStyle = panelModel.slitWindow ? WS_EX_TOOLWINDOW : WS_EX_TOOLWINDOW | WS_EX_LAYERED;
    return CreateWindowExA(exStyle, CLASS_NAME, nullptr, WS_POPUP | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN,
                           0, 0, 0, 0, nullptr, nullptr, panelModel.pluginInstance, nullptr);
}

// Timers start only after the last start-up box could appear.
void startTimersAndTakeFirstSamples() {
    for (int i = 0; i < TIMER_COUNT; ++i) {
        panelModel.timerIds[i] = SetTimer(nullptr, 0, static_cast<UINT>(periodOf(i)), timerProcedures[i]);
        lastTicks[i] = GetTickCount();
    }
    for (TIMERPROC sampler : samplerOrder) sampler(nullptr, 0, 0, 0);
}

void deleteFramePen() {
    if (panelModel.framePen) DeleteObject(panelModel.framePen);
    panelModel.framePen = nullptr;
}

// A panel joins a slit only when the shell passed one and, under beginPluginEx, the rc file
// asks for it too; otherwise it is a floating panel in every respect.
bool joinsSlit(HWND slit, SlitChoice choice) {
    return slit && (choice == SlitChoice::Join || (choice == SlitChoice::JoinWhenInSlit && panelModel.inSlit));
}

void notifySlit(UINT message) {
    if (panelModel.slitWindow)
        SendMessageA(panelModel.slitWindow, message, 0, reinterpret_cast<LPARAM>(panelModel.panelWindow));
}

int startPlugin(HINSTANCE instance, HWND slit, SlitChoice choice) {
    startOwnTime();
    OwnTimeSpan span;
    panelModel.hostWindow = GetBBWnd();
    panelModel.pluginInstance = instance;
    deleteFramePen();  // left by a failed earlier start
    panelModel.framePen = CreatePen(PS_SOLID, 1, RGB(0, 0, 0));
    if (!socketsStarted) startSockets();

    char modulePath[PATH_SIZE] = "";
    GetModuleFileNameA(instance, modulePath, sizeof modulePath);
    modulePath[PATH_SIZE - 1] = '\0';
    derivePluginPaths(modulePath, panelModel.pluginDir, panelModel.rcPath, PATH_SIZE);

    reloadSettings();
    // Known from here on, before the window is made for docking or for floating: every later
    // docking decision tests slitWindow, which stays none for a panel that does not join.
    panelModel.slitWindow = joinsSlit(slit, choice) ? slit : nullptr;
    lookUpLayeredWindowAttributes();
    lookUpThreadErrorMode();
    lookUpNetworkTables();
    lookUpIpRoutes();
    lookUpProcessorTimes();
    lookUpGpuStatistics();
    lookUpHostExtras();

    if (!registerPanelClass()) {
        showStartError("Error registering window class");
        return 1;
    }
    HWND window = createPanelWindow();
    panelModel.panelWindow = window;
    if (!window) {
        showStartError("Error creating plugin window");
        return 1;
    }
    startTimersAndTakeFirstSamples();
    if (panelModel.slitWindow) {
        dockedInSlit = true;
        notifySlit(SLIT_ADD);
    }
    return 0;
}


void killTimers() {
    for (UINT_PTR& id : panelModel.timerIds) {
        if (id) KillTimer(nullptr, id);
        id = 0;
    }
}

// Everything a start and the reloads made beyond the timers, the histories and the window.
void releaseStartResources() {
    // The renderings go first: their contexts hold the font and pens the settings made.
    releaseBackBuffer();
    releaseSettingsResources();
    releasePerformanceData();
    releaseNetworkSampler();
    releaseDiskIoSampler();
    releaseCoreSampler();
    releaseGpuSampler();
    deleteFramePen();
    if (socketsStarted) WSACleanup();
    socketsStarted = false;
    noteSocketsStarted(false);
    releaseIpSampler();
    if (user32Reference) FreeLibrary(user32Reference);
    user32Reference = nullptr;
    panelModel.setLayeredWindowAttributes = nullptr;
}

void followWindowPosition(const WINDOWPOS* position) {
    if (panelModel.slitWindow) return;
    panelModel.x = position->x;
    panelModel.y = position->y;
}

void keepDraggedPanelNearEdges(WINDOWPOS* position) {
    if (panelDragged && panelFloats() && panelModel.snapToEdges) snapDraggedPanel(position);
}

}  // namespace

void derivePluginPaths(const char* modulePath, char* dir, char* rc, size_t size) {
    if (size == 0) return;
    const char* name = modulePath;
    for (const char* p = modulePath; *p; ++p)
        if (*p == '\\' || *p == '/') name = p + 1;
    // Without a separator the folder is empty: icons then load from the current folder.
    const size_t dirLength = static_cast<size_t>(name - modulePath);
    snprintf(dir, size, "%.*s", static_cast<int>(dirLength < size ? dirLength : size - 1), modulePath);
    // Only a '.' in the file name starts the extension; without one, ".rc" is added.
    const char* dot = strrchr(name, '.');
    if (dot)
        snprintf(rc, size, "%.*src", static_cast<int>(dot + 1 - modulePath), modulePath);
    else
        snprintf(rc, size, "%s.rc", modulePath);
}

const char* pluginInfo(int code) {
    OwnTimeSpan span;
    switch (code) {
        case 1: return PLUGIN_NAME;
        case 2: return PLUGIN_VERSION;
        case 3: return PLUGIN_AUTHOR;
        case 4: return PLUGIN_RELEASE_DATE;
        case 5: return PLUGIN_WEB_ADDRESS;
        case 6: return PLUGIN_EMAIL;
        default: return PLUGIN_NAME " " PLUGIN_VERSION;
    }
}

int beginPlugin(HINSTANCE instance) { return startPlugin(instance, nullptr, SlitChoice::None); }

int beginSlitPlugin(HINSTANCE instance, HWND slit) { return startPlugin(instance, slit, SlitChoice::Join); }

int beginPluginEx(HINSTANCE instance, HWND slit) { return startPlugin(instance, slit, SlitChoice::JoinWhenInSlit); }

bool panelFloats() { return panelModel.slitWindow == nullptr; }

void endPlugin(HINSTANCE) {
    OwnTimeSpan span;
    killTimers();
    // Returns at once, also while a volume query hangs; no answer reaches the window after it.
    stopVolumeWorkers();
    forgetDiskReadings();
    for (GraphState& g : panelModel.graphs) {
        if (g.history) LocalFree(g.history);
        g.history = nullptr;
        g.samples = 0;
    }
    destroyTooltips();
    notifySlit(SLIT_REMOVE);
    dockedInSlit = false;
    panelDragged = false;
    // The shell forgets the window's registration only when told: it would otherwise keep one
    // more at every stop, and a later window with the same handle would get messages meant for
    // no one.
    if (panelModel.panelWindow)
        SendMessageA(panelModel.hostWindow, BB_UNREGISTERMESSAGE, reinterpret_cast<WPARAM>(panelModel.panelWindow),
                     reinterpret_cast<LPARAM>(registrationList));
    if (panelModel.panelWindow) DestroyWindow(panelModel.panelWindow);
    panelModel.panelWindow = nullptr;
    UnregisterClassA(CLASS_NAME, panelModel.pluginInstance);
    releaseStartResources();
    panelModel.slitWindow = nullptr;
}

void applyWindowSettings(HWND window) {
    const PanelModel& m = panelModel;
    // Docked, the panel is a child of the slit: x and y would put it inside the slit, partly
    // out of its slot, and the stacking among the slit's children is the slit's. Only the
    // size is the panel's, and the slit then lays its windows out around the new size.
    const UINT keepSlitPlace = dockedInSlit ? SWP_NOMOVE | SWP_NOZORDER : 0;
    // A panel that is not always on top is actively taken out of the topmost band.
    SetWindowPos(window, m.alwaysOnTop ? HWND_TOPMOST : HWND_NOTOPMOST, m.x, m.y, shownPanelWidth(),
                 shownPanelHeight(), SWP_NOACTIVATE | SWP_NOSENDCHANGING | keepSlitPlace);
    if (dockedInSlit) notifySlit(SLIT_UPDATE);
    applyTransparency(window);
    invalidatePanel();
    layoutTooltips(window);
    if (panelFloats()) bringPanelOntoMonitor(window);
}

void applyTransparency(HWND window) {
    const PanelModel& m = panelModel;
    if (!m.setLayeredWindowAttributes) return;
    // Made even when alpha is off: a layered window without attributes never paints.
    const BYTE alpha = m.alphaEnabled ? static_cast<BYTE>(m.alphaValue & 0xFF) : 255;
    m.setLayeredWindowAttributes(window, 0, alpha, LWA_ALPHA);
    if (m.sctEnabled) m.setLayeredWindowAttributes(window, m.sctColor, 0, LWA_COLORKEY);
}

void applyZOrder(HWND window) {
    SetWindowPos(window, panelModel.alwaysOnTop ? HWND_TOPMOST : HWND_NOTOPMOST, 0, 0, 0, 0,
                 SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}

namespace {

void startDragWithControl(HWND window) {
    // The key state now, not the message's modifier flags.
    if (GetAsyncKeyState(VK_CONTROL) & 0x8000) PostMessageA(window, WM_SYSCOMMAND, 0xF012, 0);
}

POINT pointOf(LPARAM lParam) {
    return POINT{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
}

}  // namespace

namespace {

LRESULT handlePanelMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message >= WM_MOUSEFIRST && message <= WM_MOUSELAST) relayToTooltip(window, message, wParam, lParam);
    switch (message) {
        case WM_CREATE:
            SendMessageA(panelModel.hostWindow, BB_REGISTERMESSAGE, reinterpret_cast<WPARAM>(window),
                         reinterpret_cast<LPARAM>(registrationList));
            MakeSticky(window);
            applyWindowSettings(window);
            return 0;
        case WM_PAINT:
            paintPanel(window);
            return 0;
        case WM_WINDOWPOSCHANGED:
            // Not passed on: no WM_MOVE or WM_SIZE follows.
            followWindowPosition(reinterpret_cast<const WINDOWPOS*>(lParam));
            return 0;
        case WM_LBUTTONDOWN:
            startDragWithControl(window);
            return 0;
        case WM_LBUTTONDBLCLK:
            // The second press of a double click: with Ctrl a drag, as any press with Ctrl is.
            if (GetAsyncKeyState(VK_CONTROL) & 0x8000)
                startDragWithControl(window);
            else
                runPartAction(partAt(pointOf(lParam)));
            return 0;
        case WM_NOTIFY: {
            LRESULT result = 0;
            if (answerTooltip(reinterpret_cast<const NMHDR*>(lParam), &result)) return result;
            return DefWindowProcA(window, message, wParam, lParam);
        }
        case WM_NOTIFYFORMAT:
            // The tooltips' texts come in UTF-16: the names of interfaces and processes need not
            // fit the ANSI code page.
            return NFR_UNICODE;
        case WM_RBUTTONUP:
            showPluginMenu();
            return 0;
        case WM_ENTERSIZEMOVE:
            panelDragged = true;
            return DefWindowProcA(window, message, wParam, lParam);
        case WM_WINDOWPOSCHANGING:
            keepDraggedPanelNearEdges(reinterpret_cast<WINDOWPOS*>(lParam));
            return DefWindowProcA(window, message, wParam, lParam);
        case WM_EXITSIZEMOVE:
            panelDragged = false;
            notifySlit(SLIT_UPDATE);
            return 0;
        case WM_DISPLAYCHANGE:
            // A monitor may have gone, and the panel with it. The screen's size bounds the
            // rendering's, so the renderings start afresh.
            if (panelFloats()) bringPanelOntoMonitor(window);
            invalidatePanel();
            return DefWindowProcA(window, message, wParam, lParam);
        case WM_SETTINGCHANGE:
            if (wParam == SPI_SETWORKAREA && panelFloats()) bringPanelOntoMonitor(window);
            return DefWindowProcA(window, message, wParam, lParam);
        case BB_RECONFIGURE:
            reloadSettings();
            primeCpuFigure();
            applyWindowSettings(window);
            return 0;
        case WM_KELVORA_VOLUME_ANSWER:
            takeVolumeAnswers();
            return 0;
        case BB_BROADCAST:
            if (lParam) handleBroadcastCommand(window, reinterpret_cast<const char*>(lParam));
            return 0;
        default:
            return DefWindowProcA(window, message, wParam, lParam);
    }
}

}  // namespace

// Every message is Kelvora's work but the system commands, whose move loop is the user's drag.
LRESULT CALLBACK panelWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_SYSCOMMAND) {
        OwnTimeAside moveLoop;
        return handlePanelMessage(window, message, wParam, lParam);
    }
    OwnTimeSpan span;
    return handlePanelMessage(window, message, wParam, lParam);
}
