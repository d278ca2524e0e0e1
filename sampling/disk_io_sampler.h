// The disk-activity sampler: reads the physical-disk object of the system's performance data
// and shows the read and write rates in their rows and graph.
#pragma once

#include <windows.h>

#include <cstdint>

void CALLBACK sampleDiskIo(HWND, UINT, UINT_PTR, DWORD);

// What the disk-activity tooltip shows: the instance counted ("_Total" for all disks, empty while
// none is), and the bytes read and written over every interval measured since the plugin started.
struct DiskIoSummary {
    const char* instance;
    uint64_t readTotal;
    uint64_t writtenTotal;
};
DiskIoSummary diskIoSummary();
// Releases the sampler's kept buffer and forgets its reading; for the plugin's stop.
void releaseDiskIoSampler();
// Also forgets that the system's data lacks the physical-disk object, as a fresh load of the
// module would.
void resetDiskIoSampler();
