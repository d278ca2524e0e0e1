// The editor that the host names to plugins (notepad unless --editor says otherwise).
#include "host/host.h"

namespace host {

namespace {
std::string chosenEditor;
}

void setEditor(const std::string& path) { chosenEditor = path; }

std::string editorPath() {
    if (!chosenEditor.empty()) return chosenEditor;
    char windows[MAX_PATH] = "C:\\windows";
    GetWindowsDirectoryA(windows, sizeof windows);
    return std::string(windows) + "\\notepad.exe";
}

}  // namespace host
