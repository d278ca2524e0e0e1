// The host functions that blackbox.exe exports to plugins, each logged with its
// arguments and answer; the work itself lives in the host's modules.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <type_traits>

#include <windows.h>
#include <shellapi.h>

#include "host/host.h"
#include "host/host_menus.h"
#include "host/rc_files.h"
#include "host/rc_text.h"
#include "host/style.h"
#include "shell/host_api.h"

#define HOST_EXPORT extern "C" __declspec(dllexport)

// Exported under the names the plugin looks up, with the types it calls them by.
HOST_EXPORT void WriteBool(const char* file, const char* key, bool value);
HOST_EXPORT void WriteString(const char* file, const char* key, const char* value);
HOST_EXPORT HostMenuItem* MakeMenuItemInt(HostMenu* menu, const char* label, const char* command, int value,
                                          int minimum, int maximum);
HOST_EXPORT bool SnapWindowToEdge(WINDOWPOS* position, LPARAM distance, UINT flags);
static_assert(std::is_same<decltype(&WriteBool), WriteBoolFn>::value, "WriteBool");
static_assert(std::is_same<decltype(&WriteString), WriteStringFn>::value, "WriteString");
static_assert(std::is_same<decltype(&MakeMenuItemInt), MakeMenuItemIntFn>::value, "MakeMenuItemInt");
static_assert(std::is_same<decltype(&SnapWindowToEdge), SnapWindowToEdgeFn>::value, "SnapWindowToEdge");

namespace host {

namespace {
hoststyle::Record style;
bool styleReady = false;
// ReadString's answer lives here until the next host call.
std::string lastString;

std::string colourText(COLORREF c) {
    char text[16];
    snprintf(text, sizeof text, "#%02X%02X%02X", GetRValue(c), GetGValue(c), GetBValue(c));
    return text;
}

const char* recordName(const void* record) { return record == style.bytes ? "style" : record ? "other" : "null"; }

bool explaining = false;

// The "rc" line after a read: where the key's value stands in the file (the line that the
// read found, first occurrence winning) and whether the reader took it. Whether it was taken
// is asked of the reader itself, by reading again with two different defaults: the answers
// agree only when the stored text decided them, so no second copy of the reader's rules exists.
void explainRead(const char* file, const char* key, const char* wants, bool taken) {
    if (!explaining) return;
    std::string text;
    hostrc::ValueSpan span;
    if (file && key && hostrc::readWholeFile(file, &text)) span = hostrc::findValue(text, key);
    if (!span.found) {
        logLine("rc absent");
        return;
    }
    const long line = 1 + static_cast<long>(std::count(text.begin(), text.begin() + span.begin, '\n'));
    const std::string value = text.substr(span.begin, span.end - span.begin);
    logLine("rc line=%ld taken=%s wants=%s text=%s", line, taken ? "yes" : "no", quoted(wants).c_str(),
            quoted(value.c_str()).c_str());
}
}  // namespace

void explainReads(bool on) { explaining = on; }

unsigned char* styleRecord() {
    if (!styleReady) {
        hoststyle::setDefaults(style);
        styleReady = true;
    }
    return style.bytes;
}

}  // namespace host

using namespace host;

HOST_EXPORT HWND GetBBWnd(void) {
    logLine("GetBBWnd -> %s", windowName(mainWindow()).c_str());
    return mainWindow();
}

HOST_EXPORT int ReadInt(const char* file, const char* key, int defaultValue) {
    int result = hostrc::readIntOr(file, key, defaultValue);
    logLine("ReadInt file=%s key=%s default=%d -> %d", quoted(file).c_str(), quoted(key).c_str(), defaultValue, result);
    if (explaining)
        explainRead(file, key, "a whole number", hostrc::readIntOr(file, key, 0) == hostrc::readIntOr(file, key, 1));
    return result;
}

HOST_EXPORT bool ReadBool(const char* file, const char* key, bool defaultValue) {
    bool result = hostrc::readBoolOr(file, key, defaultValue);
    logLine("ReadBool file=%s key=%s default=%s -> %s", quoted(file).c_str(), quoted(key).c_str(),
            defaultValue ? "true" : "false", result ? "true" : "false");
    if (explaining)
        explainRead(file, key, "true or false", hostrc::readBoolOr(file, key, false) == hostrc::readBoolOr(file, key, true));
    return result;
}

HOST_EXPORT COLORREF ReadColor(const char* file, const char* key, const char* defaultColor) {
    COLORREF colour = hostrc::readColorOr(file, key, defaultColor);
    logLine("ReadColor file=%s key=%s default=%s -> %s", quoted(file).c_str(), quoted(key).c_str(),
            quoted(defaultColor).c_str(), colourText(colour).c_str());
    if (explaining)
        explainRead(file, key, "a colour #RRGGBB",
                    hostrc::readColorOr(file, key, "#000000") == hostrc::readColorOr(file, key, "#FFFFFF"));
    return colour;
}

HOST_EXPORT const char* ReadString(const char* file, const char* key, const char* defaultText) {
    std::string value;
    const char* result = defaultText;
    if (hostrc::readText(file, key, &value)) {
        lastString = value;
        result = lastString.c_str();
    }
    logLine("ReadString file=%s key=%s default=%s -> %s", quoted(file).c_str(), quoted(key).c_str(),
            quoted(defaultText).c_str(), quoted(result).c_str());
    // Any text is a string.
    explainRead(file, key, "text", true);
    return result;
}

HOST_EXPORT void WriteInt(const char* file, const char* key, int value) {
    std::string error;
    bool ok = hostrc::storeValue(file, key, std::to_string(value), &error);
    logLine("WriteInt file=%s key=%s value=%d -> %s", quoted(file).c_str(), quoted(key).c_str(), value,
            ok ? "written" : ("failed: " + error).c_str());
}

HOST_EXPORT void WriteBool(const char* file, const char* key, bool value) {
    std::string error;
    const char* text = value ? "true" : "false";
    bool ok = hostrc::storeValue(file, key, text, &error);
    logLine("WriteBool file=%s key=%s value=%s -> %s", quoted(file).c_str(), quoted(key).c_str(), text,
            ok ? "written" : ("failed: " + error).c_str());
}

HOST_EXPORT void WriteString(const char* file, const char* key, const char* value) {
    std::string error;
    bool ok = hostrc::storeValue(file, key, value ? value : "", &error);
    logLine("WriteString file=%s key=%s value=%s -> %s", quoted(file).c_str(), quoted(key).c_str(), quoted(value).c_str(),
            ok ? "written" : ("failed: " + error).c_str());
}

HOST_EXPORT void* GetSettingPtr(int index) {
    // Only the style record (1) is offered; a plugin reads nothing else.
    void* record = index == 1 ? styleRecord() : nullptr;
    logLine("GetSettingPtr %d -> %s", index, recordName(record));
    return record;
}

// The height a line of the font takes, as the painter's rows must hold it.
int lineHeightOf(HFONT font) {
    HDC dc = GetDC(nullptr);
    HGDIOBJ previous = SelectObject(dc, font);
    TEXTMETRICA metrics = {};
    GetTextMetricsA(dc, &metrics);
    SelectObject(dc, previous);
    ReleaseDC(nullptr, dc);
    return metrics.tmHeight;
}

HOST_EXPORT HFONT CreateStyleFont(void* record) {
    void* style = record ? record : styleRecord();
    HFONT font = hoststyle::makeFont(style);
    logLine("CreateStyleFont %s", recordName(record));
    // With the reads explained, the font's size too: a theme checker compares it with the rows.
    if (explaining && font)
        logLine("style font height=%d line=%d", hoststyle::intAt(style, hoststyle::FONT_HEIGHT), lineHeightOf(font));
    return font;
}

HOST_EXPORT void MakeStyleGradient(HDC dc, RECT* rect, void* record, bool withBorder) {
    if (!rect) {
        logLine("MakeStyleGradient rect=null");
        return;
    }
    logLine("MakeStyleGradient rect=%ld,%ld,%ld,%ld record=%s border=%d", rect->left, rect->top, rect->right,
            rect->bottom, recordName(record), withBorder ? 1 : 0);
    hoststyle::paintGradient(dc, *rect, record ? record : styleRecord(), withBorder);
}

HOST_EXPORT void MakeSticky(HWND window) {
    recordSticky(window);
    logLine("MakeSticky %s", windowName(window).c_str());
}

HOST_EXPORT HostMenu* MakeNamedMenu(const char* title, const char* id, bool popup) {
    HostMenu* menu = makeMenu(title, id, popup);
    logLine("MakeNamedMenu title=%s id=%s popup=%d -> %s", quoted(title).c_str(), quoted(id).c_str(), popup ? 1 : 0,
            menuName(menu).c_str());
    return menu;
}

HOST_EXPORT HostMenuItem* MakeMenuItem(HostMenu* menu, const char* label, const char* command, bool checked) {
    HostMenuItem* item = addItem(menu, label, command, checked);
    logLine("MakeMenuItem %s label=%s command=%s checked=%d%s", menuName(menu).c_str(), quoted(label).c_str(),
            quoted(command).c_str(), checked ? 1 : 0, item ? "" : " -> refused");
    return item;
}

HOST_EXPORT HostMenuItem* MakeMenuItemInt(HostMenu* menu, const char* label, const char* command, int value,
                                          int minimum, int maximum) {
    HostMenuItem* item = addNumberItem(menu, label, command, value, minimum, maximum);
    logLine("MakeMenuItemInt %s label=%s command=%s value=%d minimum=%d maximum=%d%s", menuName(menu).c_str(),
            quoted(label).c_str(), quoted(command).c_str(), value, minimum, maximum, item ? "" : " -> refused");
    return item;
}

HOST_EXPORT HostMenuItem* MakeSubmenu(HostMenu* parent, HostMenu* child, const char* title) {
    HostMenuItem* item = addSubmenu(parent, child, title);
    logLine("MakeSubmenu %s %s title=%s%s", menuName(parent).c_str(), menuName(child).c_str(), quoted(title).c_str(),
            item ? "" : " -> refused");
    return item;
}

HOST_EXPORT void ShowMenu(HostMenu* menu) {
    logLine("ShowMenu %s", menuName(menu).c_str());
    showHostMenu(menu);
}

HOST_EXPORT bool SnapWindowToEdge(WINDOWPOS* position, LPARAM distance, UINT flags) {
    if (!position) {
        logLine("SnapWindowToEdge position=null");
        return false;
    }
    const POINT before = {position->x, position->y};
    const bool snapped = snapToWorkArea(position);
    logLine("SnapWindowToEdge %s at %ld,%ld distance=%lld flags=%u -> %d,%d", windowName(position->hwnd).c_str(),
            before.x, before.y, static_cast<long long>(distance), flags, position->x, position->y);
    return snapped;
}

HOST_EXPORT void GetBlackboxEditor(char* editor) {
    const std::string path = editorPath();
    // Plugins hand over a buffer of MAX_PATH bytes.
    if (editor) snprintf(editor, MAX_PATH, "%s", path.c_str());
    logLine("GetBlackboxEditor -> %s", quoted(path.c_str()).c_str());
}

HOST_EXPORT BOOL BBExecute(HWND owner, const char* verb, const char* file, const char* args,
                           const char* directory, int showCommand, bool noErrorBoxes) {
    HINSTANCE result = ShellExecuteA(owner, verb, file, args, directory, showCommand);
    const bool started = reinterpret_cast<INT_PTR>(result) > 32;
    logLine("BBExecute owner=%s verb=%s file=%s args=%s dir=%s show=%d noErrorBoxes=%d -> %s",
            windowName(owner).c_str(), quoted(verb).c_str(), quoted(file).c_str(), quoted(args).c_str(),
            quoted(directory).c_str(), showCommand, noErrorBoxes ? 1 : 0, started ? "started" : "failed");
    if (!started && !noErrorBoxes) {
        char text[600];
        snprintf(text, sizeof text, "Cannot start %s", file ? file : "(nothing)");
        MessageBoxA(mainWindow(), text, "Blackbox stand-in", MB_OK | MB_ICONERROR | MB_TOPMOST);
    }
    return started ? TRUE : FALSE;
}
