// The CPU tick's two additions: the busy time of every logical processor for the cores graph,
// from the processor times the native system query reports group by group, and the processor
// utility behind the CPU figure, from the performance data helper library.
#pragma once

#include <windows.h>

#include <cstdint>

// The system calls of the processor list, as a seam that tests replace with processors of their
// own. Each is null where the system lacks it; all three are looked up at start.
struct CorePlatform {
    // GetActiveProcessorGroupCount (Windows 7 and later); without it the system has one group.
    WORD(WINAPI* activeGroupCount)();
    // NtQuerySystemInformation: with one group, the times of every processor.
    LONG(WINAPI* querySystemInformation)(ULONG infoClass, PVOID buffer, ULONG length, PULONG returned);
    // NtQuerySystemInformationEx (Windows 7 and later): the times of the group named in `input`.
    LONG(WINAPI* querySystemInformationEx)(ULONG infoClass, PVOID input, ULONG inputLength, PVOID buffer, ULONG length,
                                           PULONG returned);
};

const CorePlatform& corePlatform();
// Makes the sampler use `platform` (kept by pointer) from now on; null restores the system's.
void installCorePlatform(const CorePlatform* platform);
// Looks the three functions up in the system, at start.
void lookUpProcessorTimes();

// One reading of every processor into the model, and the cores graph asked for again when a bar
// changed; the first reading after a start or a reload shows every bar at 0. Called by the CPU
// tick while the theme has a cores graph.
void sampleCores();

// The performance data helper's calls, as a seam that tests replace with a counter of their own.
struct UtilityPlatform {
    // Opens a query of the processor utility of all processors; false where the library, one of
    // its functions or the counter is missing.
    bool (*open)();
    // Collects a sample; true with the counter's value when it has one (from the second sample).
    bool (*read)(double* value);
    void (*close)();
};

const UtilityPlatform& utilityPlatform();
void installUtilityPlatform(const UtilityPlatform* platform);

// The CPU figure of a tick whose busy time is `busy`: with Kelvora.cpu.measure: utility, the
// utility counter's value where it has one, else busy time.
int32_t cpuFigure(int32_t busy);
// Opens the utility counter and collects its first sample where the measure asks for utility and
// the counter is not open yet, so that the next tick has a value: called when the measure changes.
void primeCpuFigure();
// Whether the CPU figure is the utility counter's: the measure asks for it and the counter opened.
bool cpuUtilityInUse();

// Closes the utility query and forgets the readings, for the plugin's stop.
void releaseCoreSampler();
