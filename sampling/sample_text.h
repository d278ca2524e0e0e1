// Turns platform answers into the panel's value texts: uptime, battery state and
// memory counts. No windows.h, so the same code builds natively for sanitizers.
#pragma once

#include <cstddef>
#include <cstdint>

// "H:MM" for a 64-bit millisecond count: hours unpadded and not reduced modulo 24.
void formatUptime(char* text, size_t size, uint64_t milliseconds);

struct BatteryState {
    char text[8];  // "AC", "0%".."255%" or "n/a"
    bool charging;
    bool onAC;
};

// The battery row from the three bytes of the power status that the panel uses.
BatteryState batteryStateOf(uint8_t acLineStatus, uint8_t batteryFlag, uint8_t lifePercent);
// The battery row when the power status cannot be read.
BatteryState unknownBatteryState();

struct MemoryTexts {
    char total[52];
    char used[52];
    char free[52];
};

// The three memory rows; used is total minus available, never below zero.
MemoryTexts memoryTextsOf(uint64_t totalBytes, uint64_t availableBytes);
