// Text recording of the stand-in host (--log-texts): every DrawTextA call the plugin makes is
// logged with its text and rectangle, so an end-to-end case can read the values the panel shows.
#include <string>

#include "host/host.h"
#include "host/import_patch.h"

namespace host {

namespace {

typedef int(WINAPI* DrawTextFn)(HDC, LPCSTR, int, LPRECT, UINT);
DrawTextFn realDrawText = nullptr;

int WINAPI recordingDrawText(HDC dc, LPCSTR text, int length, LPRECT rect, UINT format) {
    const std::string shown = text ? (length < 0 ? std::string(text) : std::string(text, static_cast<size_t>(length))) : "";
    if (rect)
        logLine("text %s rect=%ld,%ld,%ld,%ld format=0x%X", quoted(shown.c_str()).c_str(), rect->left, rect->top,
                rect->right, rect->bottom, format);
    return realDrawText(dc, text, length, rect, format);
}

}  // namespace

void installTextRecorder(HMODULE plugin) {
    realDrawText = reinterpret_cast<DrawTextFn>(GetProcAddress(GetModuleHandleA("user32.dll"), "DrawTextA"));
    importpatch::patchImport(plugin, "user32.dll", "DrawTextA", reinterpret_cast<void*>(realDrawText),
                             reinterpret_cast<void*>(recordingDrawText));
}

}  // namespace host
