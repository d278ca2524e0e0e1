// The actions of the panel's parts: broadcasts posted to the shell, command lines through
// BBExecute, with the native system folder for a 32-bit shell on 64-bit Windows.
#include "shell/part_actions.h"

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "config/panel_model.h"
#include "shell/action_line.h"
#include "shell/host_api.h"
#include "shell/panel_parts.h"

namespace {

// An action with its disk paths put in: an action's text and a few paths.
constexpr size_t ACTION_TEXT_SIZE = 1024;

bool systemRunsUnderWow64() {
    typedef BOOL(WINAPI * IsWow64ProcessFn)(HANDLE, PBOOL);
    const auto isWow64Process = reinterpret_cast<IsWow64ProcessFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "IsWow64Process")));
    BOOL wow64 = FALSE;
    return isWow64Process && isWow64Process(GetCurrentProcess(), &wow64) && wow64;
}

// The shared Windows folder, also under Terminal Services, where each user may have one of his own.
bool systemWindowsFolder(char* folder, size_t size) {
    const UINT length = GetSystemWindowsDirectoryA(folder, static_cast<UINT>(size));
    return length > 0 && length < size;
}

bool systemFileExists(const char* path) {
    const DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

const ActionPlatform systemPlatform = {systemRunsUnderWow64, systemWindowsFolder, systemFileExists};
const ActionPlatform* installedPlatform = nullptr;

// The shell may take a posted broadcast only after this double click's handler has returned, so
// the text must outlast it. Posted messages come before input, so the next double click finds
// this one delivered.
char postedBroadcast[ACTION_TEXT_SIZE];

void postBroadcast(const char* command) {
    if (!panelModel.hostWindow) return;
    snprintf(postedBroadcast, sizeof postedBroadcast, "%s", command);
    PostMessageA(panelModel.hostWindow, BB_BROADCAST, 0, reinterpret_cast<LPARAM>(postedBroadcast));
}

void startCommandLine(const char* line) {
    char program[PATH_SIZE], arguments[ACTION_TEXT_SIZE], started[PATH_SIZE];
    splitCommandLine(line, program, sizeof program, arguments, sizeof arguments);
    if (!program[0]) return;
    programToStart(program, started, sizeof started);
    BBExecute(nullptr, nullptr, started, arguments[0] ? arguments : nullptr, nullptr, SW_SHOWNORMAL, false);
}

}  // namespace

const ActionPlatform& actionPlatform() { return installedPlatform ? *installedPlatform : systemPlatform; }

void installActionPlatform(const ActionPlatform* platform) { installedPlatform = platform; }

void programToStart(const char* program, char* out, size_t size) {
    snprintf(out, size, "%s", program);
    const ActionPlatform& platform = actionPlatform();
    if (!namedWithoutFolder(program) || !platform.runsUnderWow64()) return;
    char folder[PATH_SIZE];
    if (!platform.windowsFolder(folder, sizeof folder)) return;
    const size_t length = strlen(folder);
    const char* separator = length > 0 && folder[length - 1] == '\\' ? "" : "\\";
    // The shell finds "taskmgr" as taskmgr.exe; the file is looked for under that name too.
    const bool withExtension = strchr(program, '.') != nullptr;
    for (const char* extension : {"", ".exe"}) {
        if (extension[0] && withExtension) return;
        char candidate[PATH_SIZE];
        const int written = snprintf(candidate, sizeof candidate, "%s%sSysnative\\%s%s", folder, separator, program, extension);
        if (written < 0 || static_cast<size_t>(written) >= sizeof candidate) return;
        if (platform.fileExists(candidate)) {
            snprintf(out, size, "%s", candidate);
            return;
        }
    }
}

void runPartAction(int id) {
    if (!partShown(id)) return;
    const char* action = partActionOf(id);
    if (!action[0]) return;
    char text[ACTION_TEXT_SIZE];
    if (partOf(id).kind == PART_DISK)
        expandPath(action, panelModel.disks[slotOf(id)].path, text, sizeof text);
    else
        snprintf(text, sizeof text, "%s", action);
    if (isBroadcastAction(text))
        postBroadcast(text);
    else
        startCommandLine(text);
}
