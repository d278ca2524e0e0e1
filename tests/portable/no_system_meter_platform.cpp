// The load meter's system calls in the native (Linux) build: there is no Windows to ask, so
// every query fails and the meter reports no counter source. Tests install their own.
#include "sampling/meter_platform.h"

namespace {
bool noVersion(uint32_t*, uint32_t*) { return false; }
int32_t noKey(const char*, uintptr_t*) { return 2; }  // ERROR_FILE_NOT_FOUND
int32_t noValue(uintptr_t, const char*, uint32_t) { return 2; }
void noClose(uintptr_t) {}
int32_t noData(const char*, uint8_t*, uint32_t*) { return 2; }
void noDataClose() {}
bool noTimes(uint64_t*, uint64_t*, uint64_t*) { return false; }
int32_t noConversion(const uint16_t*, int32_t, char*, int32_t) { return 0; }
const MeterPlatform noSystem = {noVersion, noKey, noValue, noClose, noData, noDataClose, noTimes, noConversion};
}  // namespace

const MeterPlatform& systemMeterPlatform() { return noSystem; }
