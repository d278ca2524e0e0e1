// The processor-load meter's system calls on Windows: version, registry, performance data,
// processor times and code-page conversion.
#include <windows.h>
#include <winperf.h>

#include <cstddef>

#include "sampling/meter_platform.h"
#include "sampling/perf_layout.h"

// The walk reads the data block by offset; these are the offsets the system itself uses.
static_assert(sizeof(PERF_DATA_BLOCK) == perflayout::DATA_BLOCK_SIZE, "PERF_DATA_BLOCK size");
static_assert(offsetof(PERF_DATA_BLOCK, Signature) == perflayout::DATA_SIGNATURE, "");
static_assert(offsetof(PERF_DATA_BLOCK, LittleEndian) == perflayout::DATA_LITTLE_ENDIAN, "");
static_assert(offsetof(PERF_DATA_BLOCK, Version) == perflayout::DATA_VERSION, "");
static_assert(offsetof(PERF_DATA_BLOCK, Revision) == perflayout::DATA_REVISION, "");
static_assert(offsetof(PERF_DATA_BLOCK, TotalByteLength) == perflayout::DATA_TOTAL_BYTE_LENGTH, "");
static_assert(offsetof(PERF_DATA_BLOCK, HeaderLength) == perflayout::DATA_HEADER_LENGTH, "");
static_assert(offsetof(PERF_DATA_BLOCK, NumObjectTypes) == perflayout::DATA_NUM_OBJECT_TYPES, "");
static_assert(offsetof(PERF_DATA_BLOCK, DefaultObject) == perflayout::DATA_DEFAULT_OBJECT, "");
static_assert(offsetof(PERF_DATA_BLOCK, PerfTime) == perflayout::DATA_PERF_TIME, "");
static_assert(offsetof(PERF_DATA_BLOCK, PerfFreq) == perflayout::DATA_PERF_FREQ, "");
static_assert(offsetof(PERF_DATA_BLOCK, PerfTime100nSec) == perflayout::DATA_PERF_TIME_100NSEC, "");
static_assert(offsetof(PERF_DATA_BLOCK, SystemNameLength) == perflayout::DATA_SYSTEM_NAME_LENGTH, "");
static_assert(offsetof(PERF_DATA_BLOCK, SystemNameOffset) == perflayout::DATA_SYSTEM_NAME_OFFSET, "");
static_assert(sizeof(PERF_OBJECT_TYPE) == perflayout::OBJECT_SIZE, "PERF_OBJECT_TYPE size");
static_assert(offsetof(PERF_OBJECT_TYPE, TotalByteLength) == perflayout::OBJECT_TOTAL_BYTE_LENGTH, "");
static_assert(offsetof(PERF_OBJECT_TYPE, DefinitionLength) == perflayout::OBJECT_DEFINITION_LENGTH, "");
static_assert(offsetof(PERF_OBJECT_TYPE, HeaderLength) == perflayout::OBJECT_HEADER_LENGTH, "");
static_assert(offsetof(PERF_OBJECT_TYPE, ObjectNameTitleIndex) == perflayout::OBJECT_NAME_TITLE_INDEX, "");
static_assert(offsetof(PERF_OBJECT_TYPE, ObjectHelpTitleIndex) == perflayout::OBJECT_HELP_TITLE_INDEX, "");
static_assert(offsetof(PERF_OBJECT_TYPE, DetailLevel) == perflayout::OBJECT_DETAIL_LEVEL, "");
static_assert(offsetof(PERF_OBJECT_TYPE, NumCounters) == perflayout::OBJECT_NUM_COUNTERS, "");
static_assert(offsetof(PERF_OBJECT_TYPE, NumInstances) == perflayout::OBJECT_NUM_INSTANCES, "");
static_assert(offsetof(PERF_OBJECT_TYPE, DefaultCounter) == perflayout::OBJECT_DEFAULT_COUNTER, "");
static_assert(offsetof(PERF_OBJECT_TYPE, CodePage) == perflayout::OBJECT_CODE_PAGE, "");
static_assert(sizeof(PERF_COUNTER_DEFINITION) == perflayout::COUNTER_DEFINITION_SIZE, "PERF_COUNTER_DEFINITION size");
static_assert(offsetof(PERF_COUNTER_DEFINITION, ByteLength) == perflayout::COUNTER_BYTE_LENGTH, "");
static_assert(offsetof(PERF_COUNTER_DEFINITION, CounterNameTitleIndex) == perflayout::COUNTER_NAME_TITLE_INDEX, "");
static_assert(offsetof(PERF_COUNTER_DEFINITION, CounterHelpTitleIndex) == perflayout::COUNTER_HELP_TITLE_INDEX, "");
static_assert(offsetof(PERF_COUNTER_DEFINITION, DefaultScale) == perflayout::COUNTER_DEFAULT_SCALE, "");
static_assert(offsetof(PERF_COUNTER_DEFINITION, DetailLevel) == perflayout::COUNTER_DETAIL_LEVEL, "");
static_assert(offsetof(PERF_COUNTER_DEFINITION, CounterType) == perflayout::COUNTER_TYPE, "");
static_assert(offsetof(PERF_COUNTER_DEFINITION, CounterSize) == perflayout::COUNTER_SIZE, "");
static_assert(offsetof(PERF_COUNTER_DEFINITION, CounterOffset) == perflayout::COUNTER_OFFSET, "");
static_assert(sizeof(PERF_INSTANCE_DEFINITION) == perflayout::INSTANCE_SIZE, "PERF_INSTANCE_DEFINITION size");
static_assert(offsetof(PERF_INSTANCE_DEFINITION, ByteLength) == perflayout::INSTANCE_BYTE_LENGTH, "");
static_assert(offsetof(PERF_INSTANCE_DEFINITION, ParentObjectTitleIndex) == perflayout::INSTANCE_PARENT_OBJECT_TITLE_INDEX, "");
static_assert(offsetof(PERF_INSTANCE_DEFINITION, ParentObjectInstance) == perflayout::INSTANCE_PARENT_OBJECT_INSTANCE, "");
static_assert(offsetof(PERF_INSTANCE_DEFINITION, UniqueID) == perflayout::INSTANCE_UNIQUE_ID, "");
static_assert(offsetof(PERF_INSTANCE_DEFINITION, NameOffset) == perflayout::INSTANCE_NAME_OFFSET, "");
static_assert(offsetof(PERF_INSTANCE_DEFINITION, NameLength) == perflayout::INSTANCE_NAME_LENGTH, "");
static_assert(sizeof(PERF_COUNTER_BLOCK) == perflayout::COUNTER_BLOCK_SIZE, "PERF_COUNTER_BLOCK size");
static_assert(sizeof(wchar_t) == sizeof(uint16_t), "UTF-16 text is passed as 16-bit units");

namespace {

bool queryVersion(uint32_t* platformId, uint32_t* majorVersion) {
    // The narrow form of the structure is 148 bytes; the call refuses any other size it does not know.
    OSVERSIONINFOA info = {};
    info.dwOSVersionInfoSize = 148;
    if (!GetVersionExA(&info)) return false;
    *platformId = info.dwPlatformId;
    *majorVersion = info.dwMajorVersion;
    return true;
}

HKEY asKey(uintptr_t key) { return reinterpret_cast<HKEY>(key); }

int32_t openMachineKey(const char* subKey, uintptr_t* key) {
    HKEY opened = nullptr;
    LONG answer = RegOpenKeyExA(HKEY_LOCAL_MACHINE, subKey, 0, KEY_ALL_ACCESS, &opened);
    *key = reinterpret_cast<uintptr_t>(opened);
    return answer;
}

int32_t writeDwordValue(uintptr_t key, const char* valueName, uint32_t value) {
    DWORD data = value;
    return RegSetValueExA(asKey(key), valueName, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data), sizeof data);
}

void closeKey(uintptr_t key) { RegCloseKey(asKey(key)); }

int32_t queryPerformanceData(const char* valueName, uint8_t* buffer, uint32_t* size) {
    DWORD length = *size;
    LONG answer = RegQueryValueExA(HKEY_PERFORMANCE_DATA, valueName, nullptr, nullptr, buffer, &length);
    *size = length;
    return answer;
}

void closePerformanceData() { RegCloseKey(HKEY_PERFORMANCE_DATA); }

uint64_t fileTimeValue(const FILETIME& time) {
    return (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

typedef BOOL(WINAPI* GetSystemTimesFn)(LPFILETIME, LPFILETIME, LPFILETIME);

// Looked up at run time: systems before XP SP1 lack the call, and a static import of it
// would keep the plugin from loading there at all. Kept in plain module state rather than a
// function-local static: the guard of such a static makes kernel objects in the statically
// linked thread library that outlive an unload of the plugin (two handles per load).
bool systemTimesLookedUp = false;
GetSystemTimesFn systemTimesEntry = nullptr;

GetSystemTimesFn systemTimesCall() {
    if (!systemTimesLookedUp) {
        systemTimesEntry = reinterpret_cast<GetSystemTimesFn>(
            reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "GetSystemTimes")));
        systemTimesLookedUp = true;
    }
    return systemTimesEntry;
}

bool readSystemTimes(uint64_t* idle, uint64_t* kernel, uint64_t* user) {
    GetSystemTimesFn call = systemTimesCall();
    FILETIME idleTime, kernelTime, userTime;
    if (!call || !call(&idleTime, &kernelTime, &userTime)) return false;
    *idle = fileTimeValue(idleTime);
    *kernel = fileTimeValue(kernelTime);
    *user = fileTimeValue(userTime);
    return true;
}

int32_t wideToAnsi(const uint16_t* text, int32_t units, char* out, int32_t outSize) {
    return WideCharToMultiByte(CP_ACP, 0, reinterpret_cast<const wchar_t*>(text), units, out, outSize, nullptr, nullptr);
}

const MeterPlatform systemPlatform = {
    queryVersion,         openMachineKey,  writeDwordValue, closeKey,
    queryPerformanceData, closePerformanceData, readSystemTimes, wideToAnsi,
};

}  // namespace

const MeterPlatform& systemMeterPlatform() { return systemPlatform; }
