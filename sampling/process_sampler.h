// Processor time of the processes, read only while the CPU graph's tooltip is shown: the system's
// process list (NtQuerySystemInformation, looked up at run time), one reading a CPU period.
#pragma once

#include <cstdint>

#include "sampling/process_times.h"

typedef void (*ProcessVisitor)(void* context, uint64_t id, uint64_t created, uint64_t time, const char* name);

// The system calls of the process readings, as a seam that tests replace with lists of their own.
struct ProcessPlatform {
    // Calls each for every process but the idle one: the creation time and the processor time
    // (kernel and user) in 100 ns, the name in UTF-8. False when the list cannot be read.
    bool (*listProcesses)(ProcessVisitor each, void* context);
    // Milliseconds since the system started.
    uint64_t (*tickCount)();
    uint32_t (*processorCount)();
};

// The calls the readings use now: the system's unless a test installed its own.
const ProcessPlatform& processPlatform();
// Makes the readings use `platform` (kept by pointer) from now on; null restores the system's.
void installProcessPlatform(const ProcessPlatform* platform);

enum ProcessState {
    PROCESSES_IDLE,        // not measuring: nothing is read
    PROCESSES_MEASURING,   // one reading taken, the shares come with the next
    PROCESSES_SHOWN,       // top holds the shares over the last interval
    PROCESSES_UNREADABLE,  // the system's list could not be read
};

struct ProcessReading {
    ProcessState state;
    TopProcesses top;
};

// Takes the first reading; the shares come with the next takeProcessTimes.
void startProcessTimes();
// A reading, and the busiest processes since the one before.
void takeProcessTimes();
// Forgets the readings and releases every buffer; nothing is read until the next start.
void stopProcessTimes();
bool processTimesRunning();
const ProcessReading& processReading();
