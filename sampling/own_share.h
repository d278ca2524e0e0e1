// Kelvora's own processor time against the wall clock: the share of one core that its work took
// over the last minute and since the start, and the text of a share. Plain arithmetic on counter
// readings, each counter in units of its own; no windows.h, so it also builds natively.
#pragma once

#include <cstddef>
#include <cstdint>

// Three counters read at one moment: the wall clock, the processor time that Kelvora's code took
// on the shell's thread, and that of its worker threads. Only differences of two readings of a
// counter are used, taken modulo 2^64: a counter that wraps between them still gives its advance.
struct OwnTimes {
    uint64_t wall;
    uint64_t shell;
    uint64_t workers;
};

// Each counter's ticks a second; a rate of 0 makes that counter count for nothing.
struct OwnRates {
    uint64_t wall;
    uint64_t shell;
    uint64_t workers;
};

// A reading is kept every OWN_SHARE_STEP_SECONDS, as many as span a minute and one more step.
constexpr uint64_t OWN_SHARE_STEP_SECONDS = 5;
constexpr uint64_t OWN_SHARE_WINDOW_SECONDS = 60;
constexpr int OWN_SHARE_KEPT = static_cast<int>(OWN_SHARE_WINDOW_SECONDS / OWN_SHARE_STEP_SECONDS) + 1;

struct OwnShareAccount {
    OwnTimes start;
    OwnTimes kept[OWN_SHARE_KEPT];  // a ring, the newest at newest
    int newest;
    int count;
};

void startOwnShare(OwnShareAccount& account, const OwnTimes& now);
// Keeps the reading when a step has passed since the newest kept one (or the start); true then.
bool keepOwnTimes(OwnShareAccount& account, const OwnTimes& now, uint64_t wallRate);

// The processor time between two readings in nanoseconds, and its share of the wall time
// between them in millionths of one core (0 when no wall time passed).
uint64_t ownNanoseconds(const OwnTimes& from, const OwnTimes& to, const OwnRates& rates);
uint64_t ownShareBetween(const OwnTimes& from, const OwnTimes& to, const OwnRates& rates);
// Since the oldest reading of the last minute: a kept one, or the start while the account is
// younger; the newest kept one when none is that young (no reading was kept for a minute).
uint64_t lastMinuteShare(const OwnShareAccount& account, const OwnTimes& now, const OwnRates& rates);
uint64_t shareSinceStart(const OwnShareAccount& account, const OwnTimes& now, const OwnRates& rates);

// The ticks a second of a counter that runs at a steady rate, from its advance over a span of
// a counter of known rate: the longer the span, the finer the rate. 0 when the span is empty.
uint64_t calibratedRate(uint64_t advance, uint64_t span, uint64_t spanRate);

// "0.02%" (hundredths of a per cent, exact halves up), "< 0.01%" below a hundredth.
constexpr size_t OWN_SHARE_TEXT_SIZE = 32;
void formatOwnShare(char* text, size_t size, uint64_t millionths);
// "1.234 s": a processor time in seconds with milliseconds.
void formatOwnSeconds(char* text, size_t size, uint64_t nanoseconds);
