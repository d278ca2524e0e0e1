// Processors of the stand-in host: with --core-table or the core-table step it feeds the plugin
// logical processors of its own, each busy at a set share of the time, through the calls the
// plugin looks up to read them (the processor times of the native system query, plain and by
// group, and the group count) and through GetSystemTimes, which then adds them up. Until a table
// is fed, each call goes to the system.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "host/host.h"

namespace host {

namespace {

constexpr ULONG PROCESSOR_TIMES_CLASS = 8;
// The system's answers: the buffer is too small, the input no group.
constexpr LONG ANSWER_TOO_LONG = static_cast<LONG>(0xC0000004);
constexpr LONG ANSWER_BAD_INPUT = static_cast<LONG>(0xC000000D);

// The system's record of one processor: idle, kernel (idle included), user, and two more times
// and a count that the host leaves at 0.
struct ProcessorRecord {
    LARGE_INTEGER idle, kernel, user, dpc, interrupt;
    ULONG interrupts;
};
static_assert(sizeof(ProcessorRecord) == 48, "the system's record size");

struct FedProcessor {
    unsigned group = 0;
    uint64_t load = 0;              // percent busy from the load on
    uint64_t idle = 0, busy = 0;    // the times, in 100 ns, when the table was loaded
};

bool feeding = false;
std::vector<FedProcessor> fed;
ULONGLONG fedSince = 0;

typedef LONG(WINAPI* QueryFn)(ULONG, PVOID, ULONG, PULONG);
typedef LONG(WINAPI* QueryExFn)(ULONG, PVOID, ULONG, PVOID, ULONG, PULONG);
typedef WORD(WINAPI* GroupCountFn)();
typedef BOOL(WINAPI* SystemTimesFn)(LPFILETIME, LPFILETIME, LPFILETIME);

// The system's own functions, looked up once: they stand between the plugin and every call it
// makes while no table is fed, and a lookup at each call would be the host's cost in its figures.
FARPROC systemFunction(const char* name) {
    struct Known {
        const char* name;
        FARPROC function;
        bool lookedUp;
    };
    static Known known[] = {{"NtQuerySystemInformation", nullptr, false}, {"NtQuerySystemInformationEx", nullptr, false},
                            {"GetActiveProcessorGroupCount", nullptr, false}, {"GetSystemTimes", nullptr, false}};
    for (Known& k : known) {
        if (strcmp(k.name, name) != 0) continue;
        if (!k.lookedUp) {
            const char* module = strncmp(name, "Nt", 2) == 0 ? "ntdll.dll" : "kernel32.dll";
            k.function = GetProcAddress(GetModuleHandleA(module), name);
            k.lookedUp = true;
        }
        return k.function;
    }
    return nullptr;
}

// A processor's times now: busy for its load's share of the time since the load, idle for the rest.
void timesNow(const FedProcessor& p, uint64_t* idle, uint64_t* busy) {
    const uint64_t elapsed = (GetTickCount64() - fedSince) * 10000;
    *busy = p.busy + elapsed * p.load / 100;
    *idle = p.idle + elapsed - elapsed * p.load / 100;
}

unsigned groupCount() {
    unsigned groups = 1;
    for (const FedProcessor& p : fed)
        if (p.group + 1 > groups) groups = p.group + 1;
    return groups;
}

LONG answerGroup(unsigned group, PVOID buffer, ULONG length, PULONG returned) {
    ULONG needed = 0;
    for (const FedProcessor& p : fed)
        if (p.group == group) needed += sizeof(ProcessorRecord);
    if (returned) *returned = needed;
    if (length < needed || (needed && !buffer)) return ANSWER_TOO_LONG;
    auto* record = static_cast<ProcessorRecord*>(buffer);
    for (const FedProcessor& p : fed) {
        if (p.group != group) continue;
        uint64_t idle, busy;
        timesNow(p, &idle, &busy);
        ZeroMemory(record, sizeof *record);
        record->idle.QuadPart = static_cast<LONGLONG>(idle);
        record->kernel.QuadPart = static_cast<LONGLONG>(idle);  // the kernel time holds the idle time
        record->user.QuadPart = static_cast<LONGLONG>(busy);
        ++record;
    }
    return 0;
}

LONG WINAPI fedQuerySystemInformation(ULONG infoClass, PVOID buffer, ULONG length, PULONG returned) {
    if (!feeding || infoClass != PROCESSOR_TIMES_CLASS)
        return reinterpret_cast<QueryFn>(systemFunction("NtQuerySystemInformation"))(infoClass, buffer, length, returned);
    return answerGroup(0, buffer, length, returned);  // the caller's group, as the system answers
}

LONG WINAPI fedQuerySystemInformationEx(ULONG infoClass, PVOID input, ULONG inputLength, PVOID buffer, ULONG length,
                                        PULONG returned) {
    if (!feeding || infoClass != PROCESSOR_TIMES_CLASS)
        return reinterpret_cast<QueryExFn>(systemFunction("NtQuerySystemInformationEx"))(infoClass, input, inputLength,
                                                                                         buffer, length, returned);
    if (!input || inputLength < sizeof(USHORT)) return ANSWER_BAD_INPUT;
    USHORT group;
    memcpy(&group, input, sizeof group);
    return answerGroup(group, buffer, length, returned);
}

WORD WINAPI fedActiveGroupCount() {
    if (!feeding) return reinterpret_cast<GroupCountFn>(systemFunction("GetActiveProcessorGroupCount"))();
    return static_cast<WORD>(groupCount());
}

void setFileTime(LPFILETIME time, uint64_t value) {
    if (!time) return;
    time->dwLowDateTime = static_cast<DWORD>(value);
    time->dwHighDateTime = static_cast<DWORD>(value >> 32);
}

BOOL WINAPI fedSystemTimes(LPFILETIME idleTime, LPFILETIME kernelTime, LPFILETIME userTime) {
    if (!feeding) return reinterpret_cast<SystemTimesFn>(systemFunction("GetSystemTimes"))(idleTime, kernelTime, userTime);
    uint64_t idle = 0, busy = 0;
    for (const FedProcessor& p : fed) {
        uint64_t i, b;
        timesNow(p, &i, &b);
        idle += i;
        busy += b;
    }
    setFileTime(idleTime, idle);
    setFileTime(kernelTime, idle);
    setFileTime(userTime, busy);
    return TRUE;
}

// "load=N group=G": the fields in any order, each once at most.
bool parseProcessor(const std::string& line, FedProcessor* p, std::string* error) {
    size_t at = 0;
    bool loadGiven = false;
    while (at < line.size()) {
        while (at < line.size() && (line[at] == ' ' || line[at] == '\t')) ++at;
        if (at >= line.size()) break;
        size_t end = line.find_first_of(" \t", at);
        if (end == std::string::npos) end = line.size();
        const std::string field = line.substr(at, end - at);
        at = end;
        const size_t equals = field.find('=');
        const std::string key = field.substr(0, equals), value = equals == std::string::npos ? "" : field.substr(equals + 1);
        char* stop = nullptr;
        const unsigned long long number = value.empty() ? 0 : strtoull(value.c_str(), &stop, 10);
        const bool numeric = !value.empty() && stop && *stop == '\0';
        if (key == "load" && numeric && number <= 100) {
            p->load = number;
            loadGiven = true;
        } else if (key == "group" && numeric && number < 32) {
            p->group = static_cast<unsigned>(number);
        } else {
            *error = "cannot read the processor \"" + line + "\"";
            return false;
        }
    }
    if (!loadGiven) *error = "the processor \"" + line + "\" has no load";
    return loadGiven;
}

}  // namespace

bool loadCoreTable(const char* file, std::string* error) {
    std::vector<std::string> lines;
    if (!readTableLines(file, "processors", &lines, error)) return false;
    std::vector<FedProcessor> rows;
    for (const std::string& line : lines) {
        FedProcessor p;
        if (!parseProcessor(line, &p, error)) return false;
        rows.push_back(p);
    }
    // The system lists the processors group by group.
    for (size_t i = 1; i < rows.size(); ++i)
        if (rows[i].group < rows[i - 1].group) {
            *error = std::string("the processors of ") + file + " are not in the order of their groups";
            return false;
        }
    // A processor at a place the table fed before goes on from its times, as a real one does
    // when only its load changes.
    const ULONGLONG now = GetTickCount64();
    for (size_t i = 0; i < rows.size() && feeding && i < fed.size(); ++i) timesNow(fed[i], &rows[i].idle, &rows[i].busy);
    fed = rows;
    fedSince = now;
    feeding = true;
    logLine("core-table %s: %u processors in %u groups", quoted(file).c_str(), static_cast<unsigned>(fed.size()),
            groupCount());
    return true;
}

FARPROC coreTableLookup(const char* name) {
    // Always the host's own, so that a table loaded by a later step reaches a plugin that looked
    // them up at its start.
    if (!name || !systemFunction(name)) return nullptr;
    if (strcmp(name, "NtQuerySystemInformation") == 0) return reinterpret_cast<FARPROC>(fedQuerySystemInformation);
    if (strcmp(name, "NtQuerySystemInformationEx") == 0) return reinterpret_cast<FARPROC>(fedQuerySystemInformationEx);
    if (strcmp(name, "GetActiveProcessorGroupCount") == 0) return reinterpret_cast<FARPROC>(fedActiveGroupCount);
    if (strcmp(name, "GetSystemTimes") == 0) return reinterpret_cast<FARPROC>(fedSystemTimes);
    return nullptr;
}

}  // namespace host
