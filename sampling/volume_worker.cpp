// The volume worker: one thread answers every disk's queries. Each worker holds a reference on
// the module and on the exchange, and leaves through FreeLibraryAndExitThread, so that neither
// the plugin's stop nor an unload of the module ever waits for it or pulls code from under it.
#include "sampling/volume_worker.h"

#include <cstdio>
#include <new>

#include "sampling/own_time.h"

namespace {

bool systemFreeSpace(const char* path, uint64_t* freeBytes, uint64_t* totalBytes) {
    ULARGE_INTEGER available, total, totalFree;
    if (!GetDiskFreeSpaceExA(path, &available, &total, &totalFree)) return false;
    *freeBytes = totalFree.QuadPart;
    *totalBytes = total.QuadPart;
    return true;
}

// The label and file system belong to the volume's root, which a path into a folder is not.
bool systemDescribe(const char* path, char* label, size_t labelSize, char* fileSystem, size_t fileSystemSize) {
    char root[MAX_PATH + 1];
    if (!GetVolumePathNameA(path, root, sizeof root)) return false;
    return GetVolumeInformationA(root, label, static_cast<DWORD>(labelSize), nullptr, nullptr, nullptr, fileSystem,
                                 static_cast<DWORD>(fileSystemSize)) != FALSE;
}

const VolumePlatform systemPlatform = {systemFreeSpace, systemDescribe};
const VolumePlatform* installedPlatform = nullptr;

// One worker. The shell's thread and the worker each hold it; the last to let go closes the event
// and lets go of the exchange.
struct Worker {
    VolumeExchange* exchange;
    HANDLE wake;     // auto-reset: a tick's queries, or the word to end
    HMODULE module;  // the worker's own reference, given back as the thread ends
    HWND panel;
    std::atomic<int32_t> holders{2};
    std::atomic<bool> retired{false};
    std::atomic<int32_t> busySlot{0};         // the slot being queried, 0 while none is
    std::atomic<uint32_t> queriesStarted{0};
};

VolumeExchange* exchange = nullptr;
Worker* activeWorker = nullptr;
// The query the active worker was on when a tick first found it busy, and when. The same query
// still running at a later tick, a quarter of a second after, is left to its worker: at short
// periods a slow volume would otherwise cost a thread at every tick.
int32_t busySlotSeen = 0;
uint32_t queriesStartedSeen = 0;
DWORD busySeenAt = 0;
constexpr DWORD STUCK_QUERY_MS = 250;

void letGoOfExchangeHeld(VolumeExchange* held) {
    if (!letGoOfExchange(*held)) return;
    held->~VolumeExchange();
    LocalFree(held);
}

void letGoOfWorker(Worker* worker) {
    if (worker->holders.fetch_sub(1, std::memory_order_acq_rel) != 1) return;
    CloseHandle(worker->wake);
    VolumeExchange* held = worker->exchange;
    worker->~Worker();
    LocalFree(worker);
    letGoOfExchangeHeld(held);
}

// Critical-error boxes off around each query where the system has no mode of the thread's own:
// an empty card reader or optical drive would otherwise raise the "no disk" box. The process
// mode keeps every other flag, and is put back at once after.
struct ProcessCriticalErrorsOff {
    UINT previous = 0;
    bool changed = setThreadErrorMode == nullptr;
    ProcessCriticalErrorsOff() {
        if (!changed) return;
        // SetErrorMode answers the previous mode only by replacing it: the first call learns it,
        // the second keeps every flag of it besides the one added.
        previous = SetErrorMode(SEM_FAILCRITICALERRORS);
        SetErrorMode(previous | SEM_FAILCRITICALERRORS);
    }
    ~ProcessCriticalErrorsOff() {
        if (changed) SetErrorMode(previous);
    }
};

VolumeAnswer queryVolume(const char* path) {
    VolumeAnswer answer = {};
    ProcessCriticalErrorsOff quiet;
    const VolumePlatform& platform = volumePlatform();
    answer.found = platform.freeSpace(path, &answer.freeBytes, &answer.totalBytes);
    if (answer.found)
        answer.described = platform.describe(path, answer.label, sizeof answer.label, answer.fileSystem,
                                             sizeof answer.fileSystem);
    answer.label[sizeof answer.label - 1] = '\0';
    answer.fileSystem[sizeof answer.fileSystem - 1] = '\0';
    return answer;
}

// Every queued query, in slot order; a retired worker finishes the query it has and takes no more.
void answerQueuedQueries(Worker& worker) {
    VolumeExchange& x = *worker.exchange;
    for (int slot = 1; slot < VOLUME_SLOTS && !worker.retired.load(); ++slot) {
        if (!claimVolumeQuery(x.slots[slot])) continue;
        worker.busySlot.store(slot);
        worker.queriesStarted.fetch_add(1);
        const VolumeAnswer answer = queryVolume(x.slots[slot].path);
        answerVolumeQuery(x.slots[slot], answer);
        worker.busySlot.store(0);
        if (!x.stopping.load()) PostMessageA(worker.panel, WM_KELVORA_VOLUME_ANSWER, 0, 0);
    }
}

DWORD WINAPI runWorker(void* parameter) {
    Worker* worker = static_cast<Worker*>(parameter);
    // The worker's own thread: its mode may keep the flag for good.
    if (setThreadErrorMode) setThreadErrorMode(SEM_FAILCRITICALERRORS, nullptr);
    // A new worker first takes what the one it replaces left queued: those queries were handed
    // over before it existed, and nobody wakes it for them.
    for (;;) {
        {
            OwnWorkerSpan span;
            answerQueuedQueries(*worker);
        }
        if (worker->retired.load()) break;
        WaitForSingleObject(worker->wake, INFINITE);
    }
    HMODULE module = worker->module;
    letGoOfWorker(worker);
    // The module may be unloaded by the shell already: nothing of it runs after this call.
    FreeLibraryAndExitThread(module, 0);
    return 0;
}

Worker* startWorker(HWND panel) {
    void* memory = LocalAlloc(LMEM_FIXED, sizeof(Worker));
    if (!memory) return nullptr;
    Worker* worker = new (memory) Worker();
    worker->exchange = exchange;
    worker->panel = panel;
    worker->wake = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    // The reference on the module that holds this code: the thread gives it back as it ends.
    const bool held = worker->wake && GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                                                         reinterpret_cast<LPCSTR>(&runWorker), &worker->module);
    HANDLE thread = held ? CreateThread(nullptr, 0, runWorker, worker, 0, nullptr) : nullptr;
    if (!thread) {
        if (held) FreeLibrary(worker->module);
        if (worker->wake) CloseHandle(worker->wake);
        worker->~Worker();
        LocalFree(worker);
        return nullptr;
    }
    CloseHandle(thread);  // never waited for
    exchange->holders.fetch_add(1);
    return worker;
}

// The shell's thread lets go of a worker: it ends once it is done with the query it has.
void retire(Worker* worker) {
    worker->retired.store(true);
    SetEvent(worker->wake);
    letGoOfWorker(worker);
}

}  // namespace

const VolumePlatform& volumePlatform() { return installedPlatform ? *installedPlatform : systemPlatform; }

void installVolumePlatform(const VolumePlatform* platform) { installedPlatform = platform; }

VolumeExchange* volumeExchange() { return exchange; }

bool keepVolumeWorker(HWND panel) {
    if (!exchange) {
        void* memory = LocalAlloc(LMEM_FIXED, sizeof(VolumeExchange));
        if (!memory) return false;
        exchange = new (memory) VolumeExchange();
    }
    if (activeWorker) {
        const int32_t busy = activeWorker->busySlot.load();
        const uint32_t started = activeWorker->queriesStarted.load();
        const DWORD now = GetTickCount();
        if (busy == 0 || busy != busySlotSeen || started != queriesStartedSeen) {
            busySlotSeen = busy;
            queriesStartedSeen = started;
            busySeenAt = now;
        } else if (now - busySeenAt >= STUCK_QUERY_MS) {
            retire(activeWorker);
            activeWorker = nullptr;
        }
    }
    if (!activeWorker) {
        activeWorker = startWorker(panel);
        busySlotSeen = 0;
    }
    return activeWorker != nullptr;
}

void wakeVolumeWorker() {
    if (activeWorker) SetEvent(activeWorker->wake);
}

int32_t volumeWorkerBusySlot() { return activeWorker ? activeWorker->busySlot.load() : 0; }

void stopVolumeWorkers() {
    if (!exchange) return;
    exchange->stopping.store(true);
    if (activeWorker) retire(activeWorker);
    activeWorker = nullptr;
    VolumeExchange* held = exchange;
    exchange = nullptr;
    letGoOfExchangeHeld(held);
}

SetThreadErrorModeFn setThreadErrorMode = nullptr;

void lookUpThreadErrorMode() {
    setThreadErrorMode = reinterpret_cast<SetThreadErrorModeFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "SetThreadErrorMode")));
}
