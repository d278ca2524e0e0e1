// The system calls of the processor-load meter, as plain function pointers over plain
// integer types, so that the meter builds without windows.h and tests can stand in for them.
#pragma once

#include <cstdint>

// System error codes the meter looks at.
constexpr int32_t METER_ERROR_SUCCESS = 0;
constexpr int32_t METER_ERROR_MORE_DATA = 234;

struct MeterPlatform {
    // Platform id and major version of the running system; false when the query fails.
    bool (*queryVersion)(uint32_t* platformId, uint32_t* majorVersion);
    // Opens a key under HKEY_LOCAL_MACHINE with full access; answers a system error code.
    int32_t (*openMachineKey)(const char* subKey, uintptr_t* key);
    // Writes a 4-byte REG_DWORD value into an open key; answers a system error code.
    int32_t (*writeDwordValue)(uintptr_t key, const char* valueName, uint32_t value);
    void (*closeKey)(uintptr_t key);
    // Reads a value of HKEY_PERFORMANCE_DATA into buffer. *size holds the capacity on entry and
    // whatever the call leaves in it on return: the bytes written on success.
    int32_t (*queryPerformanceData)(const char* valueName, uint8_t* buffer, uint32_t* size);
    // Closes HKEY_PERFORMANCE_DATA, which lets the system unload the performance provider
    // libraries that the queries loaded into this process.
    void (*closePerformanceData)();
    // Processor times of all processors since start, in 100 ns; kernel time includes idle time.
    // False when the system cannot tell.
    bool (*readSystemTimes)(uint64_t* idle, uint64_t* kernel, uint64_t* user);
    // Converts `units` UTF-16 code units (no terminator) to the ANSI code page, writing at most
    // outSize bytes and no terminator. Answers the bytes written, 0 when the conversion is refused
    // or does not fit. Every character becomes at least one byte.
    int32_t (*wideToAnsi)(const uint16_t* text, int32_t units, char* out, int32_t outSize);
};

// The real system calls (sampling/meter_platform_win.cpp).
const MeterPlatform& systemMeterPlatform();
// The operations the meter uses now: the real ones unless a test installed its own.
const MeterPlatform& meterPlatform();
// Makes the meter use `platform` (kept by pointer) from now on; null restores the real calls.
void installMeterPlatform(const MeterPlatform* platform);
