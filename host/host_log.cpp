// The host's run log: one line per host call, plugin message, delivery, box and script
// step, flushed at once so that a crashing plugin still leaves the log behind.
#include <cstdarg>
#include <cstdio>
#include <map>
#include <vector>

#include "host/host.h"

namespace host {

namespace {

FILE* logFile = nullptr;
std::map<HWND, std::string> names;
// Set while a script repeats a step thousands of times: the log keeps its first and last line.
bool muted = false;

}  // namespace

bool openLog(const char* path) {
    logFile = fopen(path, "wb");
    return logFile != nullptr;
}

void closeLog() {
    if (logFile) fclose(logFile);
    logFile = nullptr;
}

bool logging() { return logFile != nullptr; }

void logLine(const char* format, ...) {
    if (!logFile || muted) return;
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    int length = vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    if (length >= 0) {
        std::vector<char> text(static_cast<size_t>(length) + 1);
        vsnprintf(text.data(), text.size(), format, args);
        fputs(text.data(), logFile);
        fputc('\n', logFile);
        fflush(logFile);
    }
    va_end(args);
}

std::string windowName(HWND window) {
    if (!window) return "0";
    auto it = names.find(window);
    if (it != names.end()) return it->second;
    char text[32];
    snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(window)));
    return text;
}

void nameWindow(HWND window, const char* name) {
    if (window && names.find(window) == names.end()) names[window] = name;
}

void forgetWindowName(HWND window) { names.erase(window); }

void muteLog(bool mute) { muted = mute; }

std::string quoted(const char* text) { return text ? "\"" + std::string(text) + "\"" : std::string("null"); }

}  // namespace host
