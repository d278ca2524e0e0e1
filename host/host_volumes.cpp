// Volumes that do not answer, for the plugin's free-space queries: with the hang-volume step, a
// query of a path under the given one blocks, as one of a network share whose server is gone
// does, until the release-volumes step; every other query goes to the system.
#include <cstring>

#include "host/host.h"
#include "host/import_patch.h"

namespace host {

namespace {

// Read by the plugin's querying thread, written by the script's.
CRITICAL_SECTION guard;
bool guardMade = false;
char hangingPath[MAX_PATH] = "";
HANDLE released = nullptr;  // manual-reset: set while nothing hangs

bool hangs(const char* path) {
    EnterCriticalSection(&guard);
    const size_t length = strlen(hangingPath);
    const bool under = length > 0 && path && _strnicmp(path, hangingPath, length) == 0;
    LeaveCriticalSection(&guard);
    return under;
}

BOOL WINAPI hostDiskFreeSpace(LPCSTR path, PULARGE_INTEGER available, PULARGE_INTEGER total,
                              PULARGE_INTEGER totalFree) {
    if (hangs(path)) WaitForSingleObject(released, INFINITE);
    return GetDiskFreeSpaceExA(path, available, total, totalFree);
}

void makeGuard() {
    if (guardMade) return;
    InitializeCriticalSection(&guard);
    released = CreateEventA(nullptr, TRUE, TRUE, nullptr);
    guardMade = true;
}

}  // namespace

void installVolumeFeed(HMODULE plugin) {
    makeGuard();
    importpatch::patchImport(plugin, "kernel32.dll", "GetDiskFreeSpaceExA",
                             reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "GetDiskFreeSpaceExA")),
                             reinterpret_cast<void*>(hostDiskFreeSpace));
}

void hangVolume(const char* path) {
    makeGuard();
    EnterCriticalSection(&guard);
    strncpy(hangingPath, path, sizeof hangingPath - 1);
    ResetEvent(released);
    LeaveCriticalSection(&guard);
    logLine("hang-volume %s", quoted(path).c_str());
}

void releaseVolumes() {
    makeGuard();
    EnterCriticalSection(&guard);
    hangingPath[0] = '\0';
    SetEvent(released);
    LeaveCriticalSection(&guard);
    logLine("release-volumes");
}

}  // namespace host
