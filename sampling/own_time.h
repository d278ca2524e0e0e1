// Kelvora's own processor time, measured where its code runs: every entry of the shell's thread
// into it (entry points, the window procedure, timer procedures) is a span of two clock reads,
// and the worker threads add their own times. The share it makes of one core is shown in the
// CPU graph's tooltip (the last minute) and in the About box (since the start).
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

#include "sampling/own_share.h"

// The platform's clocks; tests install their own to make Kelvora's work look heavier. wall and
// shell are read on the shell's thread, worker on a worker's; rates gives each one's ticks a second.
struct OwnClock {
    uint64_t (*wall)();
    uint64_t (*shell)();
    uint64_t (*worker)();
    OwnRates (*rates)();
};

// A span of Kelvora's work on the shell's thread. Spans nest: only the outermost reads the
// clock, so a message sent to the panel from within a tick is counted once.
struct OwnTimeSpan {
    OwnTimeSpan();
    ~OwnTimeSpan();
    OwnTimeSpan(const OwnTimeSpan&) = delete;
    OwnTimeSpan& operator=(const OwnTimeSpan&) = delete;
};

// Around a call that runs a modal loop (a message box, a menu the shell tracks, the system's move
// loop): the loop dispatches the shell's and other plugins' messages too, and on the performance
// counter its waiting would count; Kelvora's own callbacks inside it are spans of their own.
struct OwnTimeAside {
    OwnTimeAside();
    ~OwnTimeAside();
    OwnTimeAside(const OwnTimeAside&) = delete;
    OwnTimeAside& operator=(const OwnTimeAside&) = delete;

  private:
    int outerDepth;
};

// A timer procedure measured as a span, for SetTimer.
template <TIMERPROC PROCEDURE>
void CALLBACK measuredTimer(HWND window, UINT message, UINT_PTR id, DWORD time) {
    OwnTimeSpan span;
    PROCEDURE(window, message, id, time);
}

// At a start: chooses the clock and begins the account anew (the start's time is now).
void startOwnTime();
// From the CPU timer's tick: keeps a reading for the last minute every few seconds.
void keepOwnTimeReading();

// A worker thread's work: its own processor time over the span is added to the account.
struct OwnWorkerSpan {
    OwnWorkerSpan();
    ~OwnWorkerSpan();
    OwnWorkerSpan(const OwnWorkerSpan&) = delete;
    OwnWorkerSpan& operator=(const OwnWorkerSpan&) = delete;

  private:
    const OwnClock* clock;
    uint64_t start;
};

// "0.02%" over the last minute, and since the start.
void ownShareOfLastMinute(char* text, size_t size);
void ownShareSinceStart(char* text, size_t size);
// The processor time since the start, "1.234 s", and the start in the user's formats.
void ownSecondsSinceStart(char* text, size_t size);
void ownStartTime(char* text, size_t size);

// Null puts the system's clock back; either way the account begins anew.
void installOwnClock(const OwnClock* clock);
