// Message-box recording of the stand-in host (with --log): every box of the GUI thread
// is logged with owner, caption, text and style, and dismissed, so scripted runs never
// wait for a person.
#include <cstring>

#include "host/host.h"
#include "host/import_patch.h"

namespace host {

namespace {

HHOOK cbtHook = nullptr;

typedef int(WINAPI* MessageBoxFn)(HWND, LPCSTR, LPCSTR, UINT);
MessageBoxFn realMessageBox = nullptr;
// The style of the MessageBoxA call whose box is about to appear.
UINT pendingStyle = 0;
bool pendingStyleValid = false;

std::string textOf(HWND window) {
    char text[4096] = "";
    if (window) GetWindowTextA(window, text, sizeof text);
    return text;
}

int WINAPI recordingMessageBox(HWND owner, LPCSTR text, LPCSTR caption, UINT style) {
    pendingStyle = style;
    pendingStyleValid = true;
    return realMessageBox(owner, text, caption, style);
}

// Style as far as the box window shows it: a box shown other than through the patched import.
UINT styleShownBy(HWND box) {
    UINT style = 0;
    if (GetWindowLongA(box, GWL_EXSTYLE) & WS_EX_TOPMOST) style |= MB_TOPMOST;
    HICON errorIcon = LoadIconA(nullptr, reinterpret_cast<LPCSTR>(IDI_HAND));
    for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        if (reinterpret_cast<HICON>(SendMessageA(child, STM_GETICON, 0, 0)) == errorIcon) style |= MB_ICONERROR;
    return style;
}

void CALLBACK dismissBox(HWND box, UINT, UINT_PTR id, DWORD) {
    KillTimer(box, id);
    // Every box has an OK or a Cancel button; a box with neither takes IDCANCEL as close.
    PostMessageA(box, WM_COMMAND, GetDlgItem(box, IDOK) ? IDOK : IDCANCEL, 0);
}

LRESULT CALLBACK cbtProc(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_ACTIVATE) {
        HWND window = reinterpret_cast<HWND>(wParam);
        char cls[32] = "";
        GetClassNameA(window, cls, sizeof cls);
        if (strcmp(cls, "#32770") == 0 && !GetPropA(window, "kelvora.host.seen")) {
            SetPropA(window, "kelvora.host.seen", reinterpret_cast<HANDLE>(1));
            // Wine's box does not show MB_TOPMOST in its window styles: take the call's own style.
            UINT style = pendingStyleValid ? pendingStyle : styleShownBy(window);
            pendingStyleValid = false;
            logLine("box owner=%s caption=%s text=%s style=0x%08X", windowName(GetWindow(window, GW_OWNER)).c_str(),
                    quoted(textOf(window).c_str()).c_str(), quoted(textOf(GetDlgItem(window, 0xFFFF)).c_str()).c_str(),
                    style);
            // Dismissed from inside the box's own loop, so the code that waits on the box goes on there.
            SetTimer(window, 0x4B48, 50, dismissBox);
        }
    }
    return CallNextHookEx(cbtHook, code, wParam, lParam);
}

}  // namespace

void installBoxRecorder(HMODULE plugin) {
    if (!realMessageBox)
        realMessageBox = reinterpret_cast<MessageBoxFn>(GetProcAddress(GetModuleHandleA("user32.dll"), "MessageBoxA"));
    void* real = reinterpret_cast<void*>(realMessageBox);
    void* recorder = reinterpret_cast<void*>(recordingMessageBox);
    if (plugin) importpatch::patchImport(plugin, "user32.dll", "MessageBoxA", real, recorder);
    importpatch::patchImport(GetModuleHandleA(nullptr), "user32.dll", "MessageBoxA", real, recorder);
    if (!cbtHook) cbtHook = SetWindowsHookExA(WH_CBT, cbtProc, nullptr, GetCurrentThreadId());
}

}  // namespace host
