// Test helpers: the message-box hook, list comparison, object counts, pixels, files.
#define DOCTEST_CONFIG_IMPLEMENT
#include "support/test_support.h"


#include <cstdio>
#include <cstring>

#include "config/panel_model.h"
#include "host/resource_use.h"
#include "config/settings.h"
#include "support/fake_host.h"
#include "support/import_redirect.h"

namespace testsupport {

namespace {

std::vector<MessageBoxRecord> boxes;
std::function<void(const MessageBoxRecord&)> boxAction;
HHOOK cbtHook = nullptr;

std::string windowText(HWND window) {
    char text[4096] = "";
    if (window) GetWindowTextA(window, text, sizeof text);
    return text;
}

// The message text of a box is its static control with the identifier 0xFFFF.
MessageBoxRecord describeBox(HWND box) {
    MessageBoxRecord r;
    r.owner = GetWindow(box, GW_OWNER);
    r.caption = windowText(box);
    r.text = windowText(GetDlgItem(box, 0xFFFF));
    r.style = 0;
    if (GetWindowLongA(box, GWL_EXSTYLE) & WS_EX_TOPMOST) r.style |= MB_TOPMOST;
    HICON errorIcon = LoadIconA(nullptr, reinterpret_cast<LPCSTR>(IDI_HAND));
    for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        HICON icon = reinterpret_cast<HICON>(SendMessageA(child, STM_GETICON, 0, 0));
        if (icon && icon == errorIcon) r.style |= MB_ICONERROR;
    }
    if (GetDlgItem(box, IDOK) && !GetDlgItem(box, IDCANCEL)) r.style |= MB_OK;
    return r;
}

void CALLBACK dismissBox(HWND box, UINT, UINT_PTR id, DWORD) {
    KillTimer(box, id);
    if (boxAction) {
        auto action = boxAction;
        boxAction = nullptr;
        action(boxes.back());
    }
    PostMessageA(box, WM_COMMAND, IDOK, 0);
}

typedef int(WINAPI* MessageBoxFn)(HWND, LPCSTR, LPCSTR, UINT);
MessageBoxFn realMessageBox = nullptr;
UINT pendingStyle = 0;
bool pendingStyleValid = false;

int WINAPI recordingMessageBox(HWND owner, LPCSTR text, LPCSTR caption, UINT style) {
    pendingStyle = style;
    pendingStyleValid = true;
    return realMessageBox(owner, text, caption, style);
}

// Points this program's import of user32!MessageBoxA at the recording function.
void interceptMessageBox() {
    HMODULE user32 = GetModuleHandleA("user32.dll");
    realMessageBox = reinterpret_cast<MessageBoxFn>(GetProcAddress(user32, "MessageBoxA"));
    redirectImport(reinterpret_cast<void*>(realMessageBox), reinterpret_cast<void*>(recordingMessageBox));
}

LRESULT CALLBACK cbtProc(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_ACTIVATE) {
        HWND window = reinterpret_cast<HWND>(wParam);
        char cls[32] = "";
        GetClassNameA(window, cls, sizeof cls);
        if (strcmp(cls, "#32770") == 0 && !GetPropA(window, "kelvora.seen")) {
            SetPropA(window, "kelvora.seen", reinterpret_cast<HANDLE>(1));
            MessageBoxRecord seen = describeBox(window);
            // Wine's box does not show MB_TOPMOST in its styles: take the style of the call.
            if (pendingStyleValid) seen.style = pendingStyle;
            pendingStyleValid = false;
            boxes.push_back(seen);
            // Dismiss from inside the box's own loop, so that code waiting on the box runs there.
            SetTimer(window, 0x4B42, 1, dismissBox);
        }
    }
    return CallNextHookEx(cbtHook, code, wParam, lParam);
}

}  // namespace

std::vector<MessageBoxRecord>& messageBoxes() { return boxes; }
void clearMessageBoxes() { boxes.clear(); }
void whileNextBoxIsOpen(std::function<void(const MessageBoxRecord&)> action) { boxAction = std::move(action); }

void installMessageBoxHook() {
    if (!realMessageBox) interceptMessageBox();
    if (!cbtHook) cbtHook = SetWindowsHookExA(WH_CBT, cbtProc, nullptr, GetCurrentThreadId());
}

// The host's own measures, so that tests and soak runs count alike.
int gdiObjectCount() { return resourceuse::gdiObjectCount(); }
unsigned userObjectCount() { return resourceuse::userObjectCount(); }
size_t privateBytes() { return resourceuse::privateBytes(); }

void pumpMessages(int milliseconds) {
    DWORD end = GetTickCount() + static_cast<DWORD>(milliseconds);
    do {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        if (static_cast<int>(end - GetTickCount()) > 0) MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
    } while (static_cast<int>(end - GetTickCount()) > 0);
}

Image readBitmap(HBITMAP bitmap) {
    Image image;
    BITMAP info = {};
    if (!bitmap || !GetObjectA(bitmap, sizeof info, &info)) return image;
    image.width = info.bmWidth;
    image.height = info.bmHeight;
    image.pixels.assign(static_cast<size_t>(image.width) * image.height, 0);
    BITMAPINFO bi = {};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = image.width;
    bi.bmiHeader.biHeight = -image.height;  // top-down
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_RGB;
    HDC dc = GetDC(nullptr);
    GetDIBits(dc, bitmap, 0, image.height, image.pixels.data(), &bi, DIB_RGB_COLORS);
    ReleaseDC(nullptr, dc);
    for (unsigned& p : image.pixels) p &= 0x00FFFFFF;
    return image;
}

unsigned pixelOf(COLORREF c) { return (GetRValue(c) << 16) | (GetGValue(c) << 8) | GetBValue(c); }

std::string makeTempDir() {
    static int counter = 0;
    char base[MAX_PATH];
    GetTempPathA(sizeof base, base);
    char dir[MAX_PATH];
    snprintf(dir, sizeof dir, "%skelvora-test-%lu-%d\\", base, GetCurrentProcessId(), ++counter);
    CreateDirectoryA(dir, nullptr);
    return dir;
}

void writeFile(const std::string& path, const std::string& bytes) {
    FILE* f = fopen(path.c_str(), "wb");
    REQUIRE(f != nullptr);
    fwrite(bytes.data(), 1, bytes.size(), f);
    fclose(f);
}

void writeSolidIcon(const std::string& path, COLORREF colour, int size) {
    const unsigned pixel = 0xFF000000u | pixelOf(colour);
    const int maskRow = ((size + 31) / 32) * 4;
    const int xorBytes = size * size * 4;
    const int andBytes = maskRow * size;
    const int imageBytes = 40 + xorBytes + andBytes;
    std::string b;
    auto put16 = [&](unsigned v) { b += char(v & 0xFF); b += char((v >> 8) & 0xFF); };
    auto put32 = [&](unsigned v) { put16(v & 0xFFFF); put16(v >> 16); };
    put16(0); put16(1); put16(1);  // ICONDIR: reserved, type icon, one image
    b += char(size); b += char(size); b += char(0); b += char(0);
    put16(1); put16(32); put32(imageBytes); put32(6 + 16);
    put32(40); put32(size); put32(size * 2); put16(1); put16(32);  // BITMAPINFOHEADER, height doubled
    put32(0); put32(xorBytes + andBytes); put32(0); put32(0); put32(0); put32(0);
    for (int i = 0; i < size * size; ++i) put32(pixel);
    b.append(static_cast<size_t>(andBytes), '\0');  // mask: every pixel opaque
    writeFile(path, b);
}

void resetModel() {
    releaseSettingsResources();
    if (panelModel.backBuffer) DeleteObject(panelModel.backBuffer);
    if (panelModel.framePen) DeleteObject(panelModel.framePen);
    memset(&panelModel, 0, sizeof panelModel);
}

}  // namespace testsupport

int main(int argc, char** argv) {
    testsupport::installMessageBoxHook();
    fakehost::reset();
    doctest::Context context(argc, argv);
    return context.run();
}
