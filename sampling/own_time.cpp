// The clocks of Kelvora's own processor time and the spans that read them. On Windows Vista and
// later the thread cycle counter is the clock: it counts only the cycles the thread ran, so a
// span that the system interrupts (another program's turn) costs nothing extra, and reading it
// takes no system call's time worth mentioning. It counts at the rate of the processor's
// time-stamp counter, which therefore is the wall clock beside it: a share is cycles over cycles
// and needs no rate at all. Seconds (the last minute's length, the time since the start) come
// from that rate, learnt by reading the time-stamp counter and the performance counter at the
// start and at each read of the share: the longer the span between, the finer the rate.
// Windows XP has no cycle counter: there the performance counter times the spans, which is
// exact for the shell's short callbacks (the modal loops, in which it would count the waiting,
// are put aside), while GetThreadTimes, ticked at the system's 10-16 ms clock interrupt, would
// miss timer callbacks that run just after that interrupt. A worker thread, which may wait for a
// volume for a long time, adds its own GetThreadTimes there: coarse, but never the waiting.
#include "sampling/own_time.h"

#include <intrin.h>

#include <atomic>
#include <cstdio>

namespace {

typedef BOOL(WINAPI* QueryThreadCycleTimeFn)(HANDLE, PULONG64);
QueryThreadCycleTimeFn queryThreadCycleTime = nullptr;

uint64_t performanceCount() {
    LARGE_INTEGER count;
    QueryPerformanceCounter(&count);
    return static_cast<uint64_t>(count.QuadPart);
}

uint64_t performanceRate() {
    LARGE_INTEGER rate;
    return QueryPerformanceFrequency(&rate) && rate.QuadPart > 0 ? static_cast<uint64_t>(rate.QuadPart) : 0;
}

uint64_t threadCycles() {
    ULONG64 cycles = 0;
    queryThreadCycleTime(GetCurrentThread(), &cycles);
    return cycles;
}

uint64_t timeStamp() { return __rdtsc(); }

// Kernel and user time of the calling thread, in 100 ns.
uint64_t threadTimes() {
    FILETIME created, exited, kernel, user;
    if (!GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user)) return 0;
    const auto value = [](const FILETIME& t) { return (static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime; };
    return value(kernel) + value(user);
}

// The time-stamp counter and the performance counter at the start, for the cycle clock's rate.
uint64_t stampAtStart = 0;
uint64_t countAtStart = 0;

OwnRates cycleRates() {
    const uint64_t rate = calibratedRate(timeStamp() - stampAtStart, performanceCount() - countAtStart, performanceRate());
    return OwnRates{rate, rate, rate};
}

OwnRates counterRates() {
    const uint64_t rate = performanceRate();
    return OwnRates{rate, rate, 10000000};
}

const OwnClock cycleClock = {timeStamp, threadCycles, threadCycles, cycleRates};
const OwnClock counterClock = {performanceCount, performanceCount, threadTimes, counterRates};
const OwnClock* installedClock = nullptr;
// Changed only at a start, on the shell's thread; a worker reads it too.
std::atomic<const OwnClock*> activeClock{&counterClock};

// The shell's thread only: spans never run elsewhere.
int depth = 0;
uint64_t spanStart = 0;
uint64_t shellTotal = 0;
std::atomic<uint64_t> workerTotal{0};
OwnShareAccount account;
uint64_t keepingRate = 0;
FILETIME startTime;

// The cycle counter where the system has one that answers (Wine's may not).
const OwnClock* systemClock() {
    if (!queryThreadCycleTime)
        queryThreadCycleTime = reinterpret_cast<QueryThreadCycleTimeFn>(
            reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "QueryThreadCycleTime")));
    ULONG64 cycles = 0;
    return queryThreadCycleTime && queryThreadCycleTime(GetCurrentThread(), &cycles) ? &cycleClock : &counterClock;
}

// The tooltip and the About box are read within a span: the shell's total then includes it so far.
OwnTimes timesNow(bool withOpenSpan = true) {
    const uint64_t open = withOpenSpan && depth > 0 ? activeClock.load()->shell() - spanStart : 0;
    return OwnTimes{activeClock.load()->wall(), shellTotal + open, workerTotal.load(std::memory_order_relaxed)};
}

void beginAccount() {
    activeClock.store(installedClock ? installedClock : systemClock());
    stampAtStart = timeStamp();
    countAtStart = performanceCount();
    shellTotal = 0;
    keepingRate = 0;
    workerTotal.store(0);
    if (depth > 0) spanStart = activeClock.load()->shell();
    startOwnShare(account, timesNow());
    GetSystemTimeAsFileTime(&startTime);
}

}  // namespace

OwnTimeSpan::OwnTimeSpan() {
    if (depth++ == 0) spanStart = activeClock.load()->shell();
}

OwnTimeSpan::~OwnTimeSpan() {
    if (--depth == 0) shellTotal += activeClock.load()->shell() - spanStart;
}

OwnTimeAside::OwnTimeAside() : outerDepth(depth) {
    if (depth > 0) shellTotal += activeClock.load()->shell() - spanStart;
    depth = 0;
}

OwnTimeAside::~OwnTimeAside() {
    depth = outerDepth;
    if (depth > 0) spanStart = activeClock.load()->shell();
}

void startOwnTime() { beginAccount(); }

// One more read of the wall clock a CPU tick (the performance counter, or the time-stamp counter
// where the cycle counter is used: an instruction); the tick in progress joins the next reading.
// The wall clock's rate, which the cycle clock learns from three more reads, is learnt again only
// as a reading is kept.
void keepOwnTimeReading() {
    if (!keepingRate) keepingRate = activeClock.load()->rates().wall;
    if (keepOwnTimes(account, timesNow(false), keepingRate)) keepingRate = activeClock.load()->rates().wall;
}

OwnWorkerSpan::OwnWorkerSpan() : clock(activeClock.load()), start(clock->worker()) {}

// A span across a change of clock (a start that chose another) is dropped: its two readings are
// of different counters.
OwnWorkerSpan::~OwnWorkerSpan() {
    if (clock == activeClock.load()) workerTotal.fetch_add(clock->worker() - start, std::memory_order_relaxed);
}

void ownShareOfLastMinute(char* text, size_t size) {
    formatOwnShare(text, size, lastMinuteShare(account, timesNow(), activeClock.load()->rates()));
}

void ownShareSinceStart(char* text, size_t size) {
    formatOwnShare(text, size, shareSinceStart(account, timesNow(), activeClock.load()->rates()));
}

void ownSecondsSinceStart(char* text, size_t size) {
    formatOwnSeconds(text, size, ownNanoseconds(account.start, timesNow(), activeClock.load()->rates()));
}

void ownStartTime(char* text, size_t size) {
    SYSTEMTIME utc, local;
    WCHAR date[80], time[80];
    char dateText[160], timeText[160];
    if (!FileTimeToSystemTime(&startTime, &utc) || !SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local) ||
        !GetDateFormatW(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &local, nullptr, date, 80) ||
        !GetTimeFormatW(LOCALE_USER_DEFAULT, 0, &local, nullptr, time, 80) ||
        !WideCharToMultiByte(CP_ACP, 0, date, -1, dateText, sizeof dateText, nullptr, nullptr) ||
        !WideCharToMultiByte(CP_ACP, 0, time, -1, timeText, sizeof timeText, nullptr, nullptr)) {
        snprintf(text, size, "n/a");
        return;
    }
    snprintf(text, size, "%s %s", dateText, timeText);
}

void installOwnClock(const OwnClock* ownClock) {
    installedClock = ownClock;
    beginAccount();
}
