// The tooltips' texts: lines of UTF-8 in a fixed buffer, and the parts of them that are plain
// arithmetic on the system's answers. No windows.h, so the same code builds natively.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#ifdef __MINGW_PRINTF_FORMAT
#define DETAIL_PRINTF_FORMAT __attribute__((format(__MINGW_PRINTF_FORMAT, 2, 3)))
#else
#define DETAIL_PRINTF_FORMAT __attribute__((format(printf, 2, 3)))
#endif

// A tooltip shows about a thousand characters at most; no text here comes near it.
constexpr size_t DETAIL_TEXT_SIZE = 1024;

struct DetailText {
    char text[DETAIL_TEXT_SIZE];
    size_t length;
};

void clearDetail(DetailText& detail);
// Appends one line (lines are separated by CR LF). Past the buffer's end the text is cut; a
// line cut that way is the last one.
void addLine(DetailText& detail, const char* format, ...) DETAIL_PRINTF_FORMAT;

// part of whole in per cent, exact halves rounded up; 0 when whole is 0.
int32_t percentOf(uint64_t part, uint64_t whole);

// A link speed in bits a second, in decimal units as adapters are sold: "1 Gbit/s",
// "2.5 Gbit/s", "100 Mbit/s", "866.7 Mbit/s", "56 kbit/s", "300 bit/s".
constexpr size_t LINK_SPEED_TEXT_SIZE = 24;
void formatLinkSpeed(char* text, size_t size, uint64_t bitsPerSecond);
// "Ethernet: 1 Gbit/s", "Wi-Fi: 300 Mbit/s down, 150 Mbit/s up", or the name alone where the
// system reports no speed.
void addInterfaceLine(DetailText& detail, const char* name, uint64_t inSpeed, uint64_t outSpeed);

// The memory status as the system reports it, in bytes; commit is the page file's view.
struct MemoryFigures {
    uint32_t load;  // per cent
    uint64_t total;
    uint64_t available;
    uint64_t commitLimit;
    uint64_t commitAvailable;
};
void describeMemoryFigures(DetailText& detail, const MemoryFigures& memory);

// A disk row's volume as the model holds it; texts in UTF-8.
struct VolumeFigures {
    const char* path;
    bool read;        // the volume answered
    bool late;        // it has not answered for three disk periods
    uint64_t total;
    uint64_t free;
    bool described;   // label and file system are known
    const char* label;
    const char* fileSystem;
};
void describeVolumeFigures(DetailText& detail, const VolumeFigures& volume);

// The four bytes and the seconds of the system's power status that the battery tooltip shows.
struct PowerFigures {
    uint8_t acLineStatus;   // 0 off, 1 on, 255 unknown
    uint8_t batteryFlag;    // 8 charging, 128 no system battery, 255 unknown
    uint8_t lifePercent;    // 255 unknown
    uint32_t secondsLeft;   // 0xFFFFFFFF unknown
};
void describePowerFigures(DetailText& detail, const PowerFigures& power);

// The cores graph's processors: their number, then the three busiest with their loads, the
// lower number first among equal loads; "n/a" where no processor was read.
constexpr int BUSIEST_CORES_SHOWN = 3;
void describeCoreFigures(DetailText& detail, const uint8_t* loads, uint32_t count);

// The GPU tooltip: each adapter of the last reading with its load, its three busiest engines and
// its dedicated and shared memory in use and size; "GPU: n/a" without one.
struct GpuLoads;
void describeGpuFigures(DetailText& detail, const GpuLoads& gpus);
