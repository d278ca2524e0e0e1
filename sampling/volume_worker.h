// The thread that makes the disk sampler's volume queries, so that a volume that does not answer
// (a network share whose server is gone) never holds the shell's thread.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

#include "sampling/volume_exchange.h"

// The volume calls, as a seam that tests replace with calls of their own (one that blocks until
// the test lets it go). Both run on the worker's thread.
struct VolumePlatform {
    // All free bytes and the size of the volume that holds path; false when it names none.
    bool (*freeSpace)(const char* path, uint64_t* freeBytes, uint64_t* totalBytes);
    // The label and file system of that volume; false when it does not tell.
    bool (*describe)(const char* path, char* label, size_t labelSize, char* fileSystem, size_t fileSystemSize);
};
const VolumePlatform& volumePlatform();
// Makes the worker use `platform` (kept by pointer) from now on; null restores the system's.
void installVolumePlatform(const VolumePlatform* platform);

// Posted to the panel window when an answer is there to take.
constexpr UINT WM_KELVORA_VOLUME_ANSWER = WM_APP + 1;

// The slots of the running plugin, made at its first disk tick; null before and after.
VolumeExchange* volumeExchange();
// Makes sure a worker takes the queued queries: starts one where none runs, and leaves a worker
// found on the same query at two ticks a quarter of a second or more apart to that query alone,
// starting a new one for the others. False when no worker could be started.
bool keepVolumeWorker(HWND panel);
// Tells the worker that queries are queued.
void wakeVolumeWorker();
// The slot whose query the active worker is on; 0 while it is on none, or none runs.
int32_t volumeWorkerBusySlot();
// The plugin's stop: returns at once. A worker whose query hangs ends when the query returns,
// holding the module until then, so the shell may unload the plugin meanwhile.
void stopVolumeWorkers();

// SetThreadErrorMode where the system has it (Windows 7 and later), looked up at start; without
// it the process mode is changed around each query.
typedef BOOL(WINAPI* SetThreadErrorModeFn)(DWORD newMode, DWORD* oldMode);
extern SetThreadErrorModeFn setThreadErrorMode;
void lookUpThreadErrorMode();
