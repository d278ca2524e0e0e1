// Timing helpers of the benchmark program: run an action many times and report the
// median with min and max, so one noisy run on a shared machine does not decide.
#pragma once

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <vector>

struct Timing {
    double median;  // microseconds
    double min;
    double max;
};

// Each run of action follows an untimed run of prepare.
template <typename Prepare, typename Action>
Timing measurePrepared(int runs, Prepare prepare, Action action) {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    for (int i = 0; i < 5; ++i) {  // warm caches and lazy set-up first
        prepare();
        action();
    }
    std::vector<double> times;
    times.reserve(static_cast<size_t>(runs));
    for (int i = 0; i < runs; ++i) {
        prepare();
        LARGE_INTEGER start, stop;
        QueryPerformanceCounter(&start);
        action();
        QueryPerformanceCounter(&stop);
        times.push_back(1e6 * static_cast<double>(stop.QuadPart - start.QuadPart) /
                        static_cast<double>(frequency.QuadPart));
    }
    std::sort(times.begin(), times.end());
    return Timing{times[times.size() / 2], times.front(), times.back()};
}

template <typename Action>
Timing measure(int runs, Action action) {
    return measurePrepared(runs, [] {}, action);
}

inline void printTableHeader(const char* title) {
    printf("\n%s\n\n| measure | median µs | min µs | max µs | ratio |\n|---|---:|---:|---:|---|\n", title);
}

// One table row; ratio is the median against the row named in ratioNote, or empty.
inline void printRow(const char* name, const Timing& t, double ratio = 0, const char* ratioNote = "") {
    if (ratio > 0)
        printf("| %s | %.2f | %.2f | %.2f | %.2f× %s |\n", name, t.median, t.min, t.max, ratio, ratioNote);
    else
        printf("| %s | %.2f | %.2f | %.2f | |\n", name, t.median, t.min, t.max);
}
