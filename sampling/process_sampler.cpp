// The process readings of the CPU graph's tooltip: the system's process list with each
// process's times in one call, and the busiest processes between two readings.
#include "sampling/process_sampler.h"

#include <windows.h>
#include <winternl.h>

#include <cstddef>
#include <cstdlib>

namespace {

// The leading fields of an entry of the system's process list (SYSTEM_PROCESS_INFORMATION), in
// the layout of this build's machine; the rest of each entry is not read.
struct ProcessEntry {
    ULONG nextEntryOffset;  // 0 for the last entry
    ULONG threadCount;
    LARGE_INTEGER unused[3];
    LARGE_INTEGER createTime;
    LARGE_INTEGER userTime;
    LARGE_INTEGER kernelTime;
    UNICODE_STRING imageName;
    LONG basePriority;
    HANDLE processId;
};
static_assert(offsetof(ProcessEntry, createTime) == 0x20, "the list's creation time");
static_assert(offsetof(ProcessEntry, imageName) == 0x38, "the list's image name");
static_assert(offsetof(ProcessEntry, processId) == (sizeof(void*) == 8 ? 0x50 : 0x44), "the list's process id");

constexpr ULONG SYSTEM_PROCESS_LIST = 5;  // SystemProcessInformation
constexpr LONG STATUS_LIST_LENGTH_MISMATCH = static_cast<LONG>(0xC0000004);
// Far beyond any machine's list (some 100,000 threads); a larger answer is no list at all.
constexpr ULONG PROCESS_LIST_SIZE_LIMIT = 64u * 1024 * 1024;

typedef LONG(NTAPI* QuerySystemInformationFn)(ULONG kind, PVOID buffer, ULONG size, PULONG needed);

// Kept while the tooltip is shown; grown when the list outgrows it.
BYTE* listBuffer = nullptr;
ULONG listSize = 0;

QuerySystemInformationFn querySystemInformation() {
    return reinterpret_cast<QuerySystemInformationFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQuerySystemInformation")));
}

// The list into listBuffer; its length, 0 when it cannot be read.
ULONG readProcessList() {
    const QuerySystemInformationFn query = querySystemInformation();
    if (!query) return 0;
    for (int attempt = 0; attempt < 4; ++attempt) {
        ULONG needed = 0;
        const LONG status = listBuffer ? query(SYSTEM_PROCESS_LIST, listBuffer, listSize, &needed)
                                       : STATUS_LIST_LENGTH_MISMATCH;
        if (status >= 0) return needed <= listSize ? needed : listSize;
        if (status != STATUS_LIST_LENGTH_MISMATCH) return 0;
        // Some more than asked: processes and threads that start meanwhile need no second round.
        ULONG wanted = (needed > listSize ? needed : listSize) + 64 * 1024;
        if (wanted > PROCESS_LIST_SIZE_LIMIT) return 0;
        auto* grown = static_cast<BYTE*>(realloc(listBuffer, wanted));
        if (!grown) return 0;
        listBuffer = grown;
        listSize = wanted;
    }
    return 0;
}

uint64_t timeOf(const LARGE_INTEGER& t) { return t.QuadPart > 0 ? static_cast<uint64_t>(t.QuadPart) : 0; }

bool listSystemProcesses(ProcessVisitor each, void* context) {
    const ULONG length = readProcessList();
    if (length < sizeof(ProcessEntry)) return false;
    for (ULONG at = 0;;) {
        const auto* entry = reinterpret_cast<const ProcessEntry*>(listBuffer + at);
        const uint64_t id = reinterpret_cast<uintptr_t>(entry->processId);
        // Process 0 is the idle process: its time is the processors' idle time.
        if (id != 0) {
            char name[PROCESS_NAME_SIZE] = "";
            const int units = entry->imageName.Buffer ? entry->imageName.Length / 2 : 0;
            const int bytes = units ? WideCharToMultiByte(CP_UTF8, 0, entry->imageName.Buffer, units, name,
                                                          sizeof name - 1, nullptr, nullptr)
                                    : 0;
            name[bytes > 0 ? bytes : 0] = '\0';
            each(context, id, timeOf(entry->createTime), timeOf(entry->kernelTime) + timeOf(entry->userTime), name);
        }
        const ULONG next = entry->nextEntryOffset;
        if (next == 0 || next > length - at || length - at - next < sizeof(ProcessEntry)) return true;
        at += next;
    }
}

uint64_t systemTickCount() { return GetTickCount64(); }

uint32_t systemProcessorCount() {
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    return info.dwNumberOfProcessors;
}

const ProcessPlatform systemPlatform = {listSystemProcesses, systemTickCount, systemProcessorCount};
const ProcessPlatform* installedPlatform = nullptr;

ProcessTimesState times;
ProcessReading reading = {PROCESSES_IDLE, {{}, 0}};

void addToReading(void* context, uint64_t id, uint64_t created, uint64_t time, const char* name) {
    addProcessTime(*static_cast<ProcessTimesState*>(context), id, created, time, name);
}

}  // namespace

const ProcessPlatform& processPlatform() { return installedPlatform ? *installedPlatform : systemPlatform; }

void installProcessPlatform(const ProcessPlatform* platform) { installedPlatform = platform; }

void startProcessTimes() {
    stopProcessTimes();
    reading.state = PROCESSES_MEASURING;
    takeProcessTimes();
}

void takeProcessTimes() {
    if (reading.state == PROCESSES_IDLE) return;
    const ProcessPlatform& platform = processPlatform();
    beginProcessReading(times);
    if (!platform.listProcesses(addToReading, &times)) {
        reading.state = PROCESSES_UNREADABLE;
        reading.top.count = 0;
        return;
    }
    TopProcesses top;
    switch (finishProcessReading(times, platform.tickCount(), platform.processorCount(), &top)) {
        case PROCESS_SHARES:
            reading.state = PROCESSES_SHOWN;
            reading.top = top;
            break;
        case PROCESS_FIRST_READING:
            // After a list that could not be read, the next one starts the interval afresh.
            if (reading.state == PROCESSES_UNREADABLE) reading.state = PROCESSES_MEASURING;
            break;
        case PROCESS_NO_MEMORY:
            reading.state = PROCESSES_UNREADABLE;
            break;
        case PROCESS_SAME_MILLISECOND:
            break;
    }
}

void stopProcessTimes() {
    releaseProcessTimes(times);
    free(listBuffer);
    listBuffer = nullptr;
    listSize = 0;
    reading.state = PROCESSES_IDLE;
    reading.top.count = 0;
}

bool processTimesRunning() { return reading.state != PROCESSES_IDLE; }

const ProcessReading& processReading() { return reading; }
