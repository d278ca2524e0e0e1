// The tooltip control of the panel. Its tools' texts are callbacks: a text is built when the
// control is about to show it, and again every CPU period while it is shown, so that it stays
// current (and the CPU graph's gets its processes' shares); nothing runs while no tip is shown.
#include "shell/tooltips.h"

#include <commctrl.h>

#include <cstring>

#include "config/panel_model.h"
#include "sampling/detail_text.h"
#include "sampling/own_time.h"
#include "sampling/process_sampler.h"
#include "shell/panel_parts.h"

namespace {

// Lines wider than this wrap; setting a width is also what makes the control show line breaks.
constexpr int MAX_TIP_WIDTH = 480;
// A tip stays while the pointer rests, up to the longest time the control takes.
constexpr WORD LONGEST_SHOWING_MS = 32767;
constexpr UINT_PTR LIVE_TIMER = 0x4B54;

typedef BOOL(WINAPI* InitCommonControlsExFn)(const INITCOMMONCONTROLSEX*);

HMODULE commonControls = nullptr;
HWND tip = nullptr;
HWND tipPanel = nullptr;  // the panel whose parts the tools are
int shownPart = -1;       // the part whose text the control took last, while its tip is shown
bool liveTimerSet = false;

// The text the control was given; the buffers outlive the notification, as the control reads
// them after it. builtIsFresh: the live timer has built the text the control is about to ask for.
DetailText built;
int builtFor = -1;
bool builtIsFresh = false;
WCHAR wideText[DETAIL_TEXT_SIZE];
char ansiText[DETAIL_TEXT_SIZE];

bool loadCommonControls() {
    if (commonControls) return true;
    commonControls = LoadLibraryA("comctl32.dll");
    if (!commonControls) return false;
    const auto init = reinterpret_cast<InitCommonControlsExFn>(
        reinterpret_cast<void*>(GetProcAddress(commonControls, "InitCommonControlsEx")));
    INITCOMMONCONTROLSEX classes = {sizeof classes, ICC_BAR_CLASSES};
    if (init) init(&classes);
    return true;
}

void releaseCommonControls() {
    if (commonControls) FreeLibrary(commonControls);
    commonControls = nullptr;
}

// Always shown, whether or not the panel is active (it never is), and above every window: the
// panel may be topmost itself. Owned by no window: the tools name the panel, which gets the
// texts' notifications, and an owned popup would drag the panel's place in the z-order with it
// (Wine then leaves a panel put into the topmost band out of it), or, docked, be owned by the slit.
void createControl(HWND panel) {
    if (!loadCommonControls()) return;
    tip = CreateWindowExA(WS_EX_TOPMOST, TOOLTIPS_CLASSA, nullptr, WS_POPUP | TTS_NOPREFIX | TTS_ALWAYSTIP,
                          CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr,
                          panelModel.pluginInstance, nullptr);
    if (!tip) {
        releaseCommonControls();
        return;
    }
    tipPanel = panel;
    SendMessageA(tip, TTM_SETMAXTIPWIDTH, 0, MAX_TIP_WIDTH);
    SendMessageA(tip, TTM_SETDELAYTIME, TTDT_AUTOPOP, MAKELPARAM(LONGEST_SHOWING_MS, 0));
}

TTTOOLINFOW toolOf(int id) {
    TTTOOLINFOW tool;
    memset(&tool, 0, sizeof tool);
    tool.cbSize = TTTOOLINFOW_V1_SIZE;  // the size every version of the control takes
    tool.hwnd = tipPanel;
    tool.uId = static_cast<UINT_PTR>(id);
    return tool;
}

void removeTools() {
    TTTOOLINFOW tool = toolOf(0);
    while (SendMessageA(tip, TTM_GETTOOLCOUNT, 0, 0) > 0 && SendMessageA(tip, TTM_ENUMTOOLSW, 0, reinterpret_cast<LPARAM>(&tool)))
        SendMessageA(tip, TTM_DELTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
}

// The control shows the first tool under the pointer: the parts drawn last come first.
void addTools() {
    for (int id = PART_ID_LIMIT - 1; id >= 0; --id) {
        if (!partShown(id)) continue;
        TTTOOLINFOW tool = toolOf(id);
        tool.rect = partArea(id);
        tool.lpszText = LPSTR_TEXTCALLBACKW;
        SendMessageA(tip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
    }
}

void CALLBACK liveTimerFired(HWND, UINT, UINT_PTR, DWORD);

void stopLiveText() {
    if (liveTimerSet && tipPanel) KillTimer(tipPanel, LIVE_TIMER);
    liveTimerSet = false;
    shownPart = -1;
    builtIsFresh = false;
    stopProcessTimes();
}

void startLiveText() {
    if (liveTimerSet || !tipPanel) return;
    const UINT period = panelModel.timers.cpu > static_cast<int32_t>(USER_TIMER_MINIMUM)
                            ? static_cast<UINT>(panelModel.timers.cpu)
                            : USER_TIMER_MINIMUM;
    liveTimerSet = SetTimer(tipPanel, LIVE_TIMER, period, measuredTimer<liveTimerFired>) != 0;
}

// The processes are read only while a part that shows them is shown.
void followShownPart(int id) {
    shownPart = id;
    const bool watches = partShown(id) && partOf(id).watchesProcesses;
    if (watches && !processTimesRunning()) startProcessTimes();
    if (!watches) stopProcessTimes();
}

void CALLBACK liveTimerFired(HWND, UINT, UINT_PTR, DWORD) {
    if (!tip || !IsWindowVisible(tip) || shownPart < 0) {
        stopLiveText();
        return;
    }
    if (processTimesRunning()) takeProcessTimes();
    DetailText fresh;
    describePart(shownPart, fresh);
    if (builtFor == shownPart && strcmp(fresh.text, built.text) == 0) return;
    built = fresh;
    builtFor = shownPart;
    builtIsFresh = true;
    // Setting the current tool's text anew (still the callback) makes the control ask for it and
    // show it again; some versions redraw only on TTM_UPDATE.
    TTTOOLINFOW tool = toolOf(shownPart);
    tool.lpszText = LPSTR_TEXTCALLBACKW;
    SendMessageA(tip, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&tool));
    SendMessageA(tip, TTM_UPDATE, 0, 0);
}

// The text of a part, built now unless the live timer has just built it.
void buildTextOf(int id) {
    if (id != shownPart) followShownPart(id);
    if (!builtIsFresh || builtFor != id) describePart(id, built);
    builtFor = id;
    builtIsFresh = false;
    if (MultiByteToWideChar(CP_UTF8, 0, built.text, -1, wideText, DETAIL_TEXT_SIZE) == 0) wideText[0] = 0;
    wideText[DETAIL_TEXT_SIZE - 1] = 0;
    startLiveText();
}

}  // namespace

void layoutTooltips(HWND panel) {
    if (!panelModel.tooltips) {
        destroyTooltips();
        return;
    }
    if (tip && tipPanel != panel) destroyTooltips();
    if (!tip) createControl(panel);
    if (!tip) return;
    stopLiveText();
    removeTools();
    addTools();
}

void destroyTooltips() {
    stopLiveText();
    if (tip) DestroyWindow(tip);
    tip = nullptr;
    tipPanel = nullptr;
    builtFor = -1;
    releaseCommonControls();
}

void relayToTooltip(HWND panel, UINT message, WPARAM wParam, LPARAM lParam) {
    if (!tip) return;
    MSG relayed = {panel, message, wParam, lParam, 0, {0, 0}};
    SendMessageA(tip, TTM_RELAYEVENT, 0, reinterpret_cast<LPARAM>(&relayed));
}

bool answerTooltip(const NMHDR* header, LRESULT* result) {
    if (!tip || !header || header->hwndFrom != tip) return false;
    const int id = static_cast<int>(header->idFrom);
    if (header->code == TTN_GETDISPINFOW) {
        buildTextOf(id);
        auto* info = reinterpret_cast<NMTTDISPINFOW*>(const_cast<NMHDR*>(header));
        info->lpszText = wideText;
        info->hinst = nullptr;
    } else if (header->code == TTN_GETDISPINFOA) {
        // A control that asks in the ANSI code page gets the text in it.
        buildTextOf(id);
        if (WideCharToMultiByte(CP_ACP, 0, wideText, -1, ansiText, DETAIL_TEXT_SIZE, nullptr, nullptr) == 0)
            ansiText[0] = '\0';
        ansiText[DETAIL_TEXT_SIZE - 1] = '\0';
        auto* info = reinterpret_cast<NMTTDISPINFOA*>(const_cast<NMHDR*>(header));
        info->lpszText = ansiText;
        info->hinst = nullptr;
    } else {
        return false;
    }
    *result = 0;
    return true;
}

HWND tooltipWindow() { return tip; }
