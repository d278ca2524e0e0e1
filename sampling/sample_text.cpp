// Value texts of the uptime, battery and memory rows, computed from plain numbers.
#include "sampling/sample_text.h"

#include <cstdio>

#include "sampling/byte_size.h"

void formatUptime(char* text, size_t size, uint64_t milliseconds) {
    const uint64_t minutes = milliseconds / 60000;
    snprintf(text, size, "%llu:%02u", static_cast<unsigned long long>(minutes / 60),
             static_cast<unsigned>(minutes % 60));
}

BatteryState batteryStateOf(uint8_t acLineStatus, uint8_t batteryFlag, uint8_t lifePercent) {
    BatteryState state;
    // Flag bit 0x80 means "no system battery"; 255 (status unknown) has it set too.
    if (batteryFlag & 0x80)
        snprintf(state.text, sizeof state.text, "%s", "AC");
    else
        snprintf(state.text, sizeof state.text, "%u%%", static_cast<unsigned>(lifePercent));
    state.charging = (batteryFlag & 8) == 8;
    state.onAC = acLineStatus == 1;
    return state;
}

BatteryState unknownBatteryState() {
    BatteryState state;
    snprintf(state.text, sizeof state.text, "%s", "n/a");
    state.charging = false;
    state.onAC = false;
    return state;
}

MemoryTexts memoryTextsOf(uint64_t totalBytes, uint64_t availableBytes) {
    MemoryTexts texts;
    const uint64_t used = availableBytes < totalBytes ? totalBytes - availableBytes : 0;
    formatByteSize(texts.total, static_cast<int64_t>(totalBytes));
    formatByteSize(texts.used, static_cast<int64_t>(used));
    formatByteSize(texts.free, static_cast<int64_t>(availableBytes));
    return texts;
}
