// Parser of the host's script files; a faulty line stops the parse so that a test never
// runs half a script.
#include "host/script.h"

#include "host/rc_text.h"

namespace hostscript {

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

std::string trimmed(const std::string& s) {
    size_t first = 0;
    while (first < s.size() && isBlank(s[first])) ++first;
    size_t last = s.size();
    while (last > first && isBlank(s[last - 1])) --last;
    return s.substr(first, last - first);
}

// Splits "word rest" at the first blank; rest is trimmed.
void splitWord(const std::string& line, std::string* word, std::string* rest) {
    size_t blank = 0;
    while (blank < line.size() && !isBlank(line[blank])) ++blank;
    *word = line.substr(0, blank);
    *rest = trimmed(line.substr(blank));
}

std::string failure(int line, const std::string& what) { return "line " + std::to_string(line) + ": " + what; }

// Parses one step; returns an error text or "".
std::string parseStep(const std::string& word, const std::string& rest, Step& step) {
    if (word == "wait") {
        step.kind = StepKind::Wait;
        if (!hostrc::parseInt(rest, &step.milliseconds) || step.milliseconds < 0)
            return "wait needs a number of milliseconds from 0 up";
        return "";
    }
    if (word == "interfaces") {
        step.kind = StepKind::Interfaces;
        if (!rest.empty()) return word + " takes nothing after it";
        return "";
    }
    if (word == "hang-volume") {
        step.kind = StepKind::HangVolume;
        step.text = rest;
        if (rest.empty()) return "hang-volume needs a path";
        return "";
    }
    if (word == "release-volumes" || word == "unload") {
        step.kind = word == "unload" ? StepKind::Unload : StepKind::ReleaseVolumes;
        if (!rest.empty()) return word + " takes nothing after it";
        return "";
    }
    if (word == "net-table" || word == "core-table") {
        step.kind = word == "net-table" ? StepKind::NetTable : StepKind::CoreTable;
        step.text = rest;
        if (rest.empty()) return word + " needs a file";
        return "";
    }
    if (word == "disks" || word == "gpus") {
        step.kind = word == "disks" ? StepKind::Disks : StepKind::Gpus;
        if (!rest.empty()) return word + " takes nothing after it";
        return "";
    }
    if (word == "disk-table" || word == "gpu-table") {
        step.kind = word == "disk-table" ? StepKind::DiskTable : StepKind::GpuTable;
        step.text = rest;
        if (rest.empty()) return word + " needs a file";
        return "";
    }
    if (word == "broadcast" || word == "menu" || word == "screenshot") {
        step.kind = word == "broadcast" ? StepKind::Broadcast : word == "menu" ? StepKind::Menu : StepKind::Screenshot;
        step.text = rest;
        if (rest.empty()) return word + " needs " + (word == "broadcast" ? "a text" : word == "menu" ? "a label" : "a file");
        return "";
    }
    if (word == "broadcast-null" || word == "broadcast-empty") {
        step.kind = word == "broadcast-null" ? StepKind::BroadcastNull : StepKind::Broadcast;
        if (!rest.empty()) return word + " takes nothing after it";
        return "";
    }
    if (word == "broadcast-long") {
        // Bounded so that a typing slip cannot ask for gigabytes.
        const int longest = 16 * 1024 * 1024;
        std::string count;
        step.kind = StepKind::Broadcast;
        splitWord(rest, &count, &step.text);
        int length = 0;
        if (!hostrc::parseInt(count, &length) || length < 0 || length > longest)
            return "broadcast-long needs a length from 0 to 16777216 bytes";
        if (step.text.size() < static_cast<size_t>(length)) step.text.resize(static_cast<size_t>(length), 'x');
        return "";
    }
    if (word == "menu-number") {
        step.kind = StepKind::MenuNumber;
        std::string number;
        splitWord(rest, &number, &step.text);
        if (!hostrc::parseInt(number, &step.value) || step.text.empty())
            return "menu-number needs a whole number and a label";
        return "";
    }
    if (word == "write-int") {
        step.kind = StepKind::WriteInt;
        std::string number, file;
        splitWord(rest, &step.key, &file);
        splitWord(file, &number, &step.text);
        if (step.key.empty() || !hostrc::parseInt(number, &step.value) || step.text.empty())
            return "write-int needs a key, a whole number and a file";
        return "";
    }
    if (word == "drag" || word == "point" || word == "double-click") {
        step.kind = word == "drag" ? StepKind::Drag : word == "point" ? StepKind::Point : StepKind::DoubleClick;
        std::string first, second;
        splitWord(rest, &first, &second);
        if (!hostrc::parseInt(first, &step.dx) || !hostrc::parseInt(second, &step.dy))
            return word + " needs two whole numbers of pixels";
        return "";
    }
    if (word == "reconfigure" || word == "stop" || word == "tick" || word == "paint" || word == "restart" ||
        word == "reload-module" || word == "window" || word == "tooltip") {
        step.kind = word == "stop"            ? StepKind::Stop
                    : word == "tooltip"       ? StepKind::Tooltip
                    : word == "tick"          ? StepKind::Tick
                    : word == "paint"         ? StepKind::Paint
                    : word == "restart"       ? StepKind::Restart
                    : word == "reload-module" ? StepKind::ReloadModule
                    : word == "window"        ? StepKind::Window
                                              : StepKind::Reconfigure;
        if (!rest.empty()) return word + " takes nothing after it";
        return "";
    }
    if (word == "measure" || word == "clock") {
        step.kind = word == "measure" ? StepKind::Measure : StepKind::Clock;
        step.text = rest;
        if (rest.empty()) return word + " needs a label";
        return "";
    }
    if (word == "repeat") {
        std::string count, innerWord, innerRest;
        splitWord(rest, &count, &innerRest);
        int times = 0;
        if (!hostrc::parseInt(count, &times) || times < 1) return "repeat needs a count from 1 up and a step";
        splitWord(innerRest, &innerWord, &innerRest);
        if (innerWord == "repeat") return "repeat takes broadcast, reconfigure, tick, paint, restart or reload-module";
        const std::string error = parseStep(innerWord, innerRest, step);
        if (!error.empty()) return error;
        // Steps that wait for time, a menu or a drag cannot run back to back.
        const bool instant = step.kind == StepKind::Broadcast || step.kind == StepKind::BroadcastNull ||
                             step.kind == StepKind::Reconfigure || step.kind == StepKind::Tick ||
                             step.kind == StepKind::Paint || step.kind == StepKind::Restart ||
                             step.kind == StepKind::ReloadModule;
        if (!instant) return "repeat takes broadcast, reconfigure, tick, paint, restart or reload-module";
        step.repeat = times;
        return "";
    }
    return "unknown step \"" + word + "\"";
}

}  // namespace

Script parseScript(const std::string& text) {
    Script script;
    size_t begin = 0;
    int lineNumber = 0;
    while (begin <= text.size()) {
        size_t newline = text.find('\n', begin);
        size_t end = newline == std::string::npos ? text.size() : newline;
        ++lineNumber;
        const std::string line = trimmed(text.substr(begin, end - begin));
        if (!line.empty() && line[0] != '#') {
            Step step{StepKind::Stop, lineNumber, 0, 0, 0, "", "", 0};
            std::string word, rest;
            splitWord(line, &word, &rest);
            std::string error = parseStep(word, rest, step);
            if (!error.empty()) {
                script.steps.clear();
                script.error = failure(lineNumber, error);
                return script;
            }
            script.steps.push_back(step);
        }
        if (newline == std::string::npos) break;
        begin = newline + 1;
    }
    return script;
}

const char* stepName(StepKind kind) {
    switch (kind) {
        case StepKind::Wait: return "wait";
        case StepKind::Broadcast: return "broadcast";
        case StepKind::BroadcastNull: return "broadcast-null";
        case StepKind::Reconfigure: return "reconfigure";
        case StepKind::Menu: return "menu";
        case StepKind::MenuNumber: return "menu-number";
        case StepKind::Drag: return "drag";
        case StepKind::Screenshot: return "screenshot";
        case StepKind::Window: return "window";
        case StepKind::WriteInt: return "write-int";
        case StepKind::Tick: return "tick";
        case StepKind::Paint: return "paint";
        case StepKind::Restart: return "restart";
        case StepKind::ReloadModule: return "reload-module";
        case StepKind::Measure: return "measure";
        case StepKind::Clock: return "clock";
        case StepKind::Interfaces: return "interfaces";
        case StepKind::NetTable: return "net-table";
        case StepKind::CoreTable: return "core-table";
        case StepKind::HangVolume: return "hang-volume";
        case StepKind::ReleaseVolumes: return "release-volumes";
        case StepKind::Unload: return "unload";
        case StepKind::Point: return "point";
        case StepKind::DoubleClick: return "double-click";
        case StepKind::Tooltip: return "tooltip";
        case StepKind::Disks: return "disks";
        case StepKind::DiskTable: return "disk-table";
        case StepKind::GpuTable: return "gpu-table";
        case StepKind::Gpus: return "gpus";
        case StepKind::Stop: return "stop";
    }
    return "?";
}

}  // namespace hostscript
