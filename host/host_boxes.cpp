// Message-box recording of the stand-in host (with --log): every box of the GUI thread
// is logged with owner, caption, text and style, and dismissed, so scripted runs never
// wait for a person.
#include <cstring>

#include "host/host.h"

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

bool sameNameNoCase(const char* a, const char* b) { return lstrcmpiA(a, b) == 0; }

// Points the module's import of user32!MessageBoxA at the recorder.
void patchMessageBoxImport(HMODULE module) {
    auto* base = reinterpret_cast<unsigned char*>(module);
    auto* dos = reinterpret_cast<IMAGE_DOS_HEADER*>(base);
    auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (!dir.VirtualAddress) return;
    for (auto* imp = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress); imp->Name; ++imp) {
        if (!sameNameNoCase(reinterpret_cast<const char*>(base + imp->Name), "user32.dll")) continue;
        auto* thunk = reinterpret_cast<IMAGE_THUNK_DATA*>(base + imp->FirstThunk);
        auto* names = imp->OriginalFirstThunk ? reinterpret_cast<IMAGE_THUNK_DATA*>(base + imp->OriginalFirstThunk) : nullptr;
        for (; thunk->u1.Function; ++thunk, names = names ? names + 1 : nullptr) {
            bool byName = names && !IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal) &&
                          strcmp(reinterpret_cast<const char*>(
                                     reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData)->Name),
                                 "MessageBoxA") == 0;
            if (!byName && thunk->u1.Function != reinterpret_cast<ULONG_PTR>(realMessageBox)) continue;
            DWORD old;
            VirtualProtect(&thunk->u1.Function, sizeof(ULONG_PTR), PAGE_READWRITE, &old);
            thunk->u1.Function = reinterpret_cast<ULONG_PTR>(recordingMessageBox);
            VirtualProtect(&thunk->u1.Function, sizeof(ULONG_PTR), old, &old);
        }
    }
}

}  // namespace

void installBoxRecorder(HMODULE plugin) {
    if (!realMessageBox)
        realMessageBox = reinterpret_cast<MessageBoxFn>(GetProcAddress(GetModuleHandleA("user32.dll"), "MessageBoxA"));
    if (plugin) patchMessageBoxImport(plugin);
    patchMessageBoxImport(GetModuleHandleA(nullptr));
    if (!cbtHook) cbtHook = SetWindowsHookExA(WH_CBT, cbtProc, nullptr, GetCurrentThreadId());
}

}  // namespace host
