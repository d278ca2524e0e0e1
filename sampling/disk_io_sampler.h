// The disk-activity sampler: reads the physical-disk object of the system's performance data
// and shows the read and write rates in their rows and graph.
#pragma once

#include <windows.h>

void CALLBACK sampleDiskIo(HWND, UINT, UINT_PTR, DWORD);
// Releases the sampler's kept buffer and forgets its reading; for the plugin's stop.
void releaseDiskIoSampler();
// Also forgets that the system's data lacks the physical-disk object, as a fresh load of the
// module would.
void resetDiskIoSampler();
