// Byte blocks with a trap right behind their last byte.
#include "support/guarded_bytes.h"

#include <cstdio>
#include <cstring>

#include "doctest.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace testsupport {

namespace {
const char* guardedReadLabel = "";
#ifdef _WIN32
const uint8_t* guardPage = nullptr;
size_t guardPageSize = 0;

// A read of the guard page ends the program at once with a report, instead of waiting in the
// system's debugger.
LONG CALLBACK reportGuardFault(EXCEPTION_POINTERS* info) {
    const EXCEPTION_RECORD* record = info->ExceptionRecord;
    if (record->ExceptionCode != EXCEPTION_ACCESS_VIOLATION || record->NumberParameters < 2)
        return EXCEPTION_CONTINUE_SEARCH;
    const uint8_t* address = reinterpret_cast<const uint8_t*>(record->ExceptionInformation[1]);
    if (!guardPage || address < guardPage || address >= guardPage + guardPageSize) return EXCEPTION_CONTINUE_SEARCH;
    fprintf(stderr, "FAILED: read past the end of the block (%s)\n", guardedReadLabel);
    fflush(stderr);
    ExitProcess(3);
}
#endif
}  // namespace

void setGuardedReadLabel(const char* label) { guardedReadLabel = label; }

#ifdef _WIN32
GuardedBytes::GuardedBytes(const std::vector<uint8_t>& bytes) : length(bytes.size()) {
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    const size_t page = info.dwPageSize;
    const size_t dataPages = length ? (length + page - 1) / page : 1;
    base = static_cast<uint8_t*>(VirtualAlloc(nullptr, (dataPages + 1) * page, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    REQUIRE(base != nullptr);
    DWORD old;
    REQUIRE(VirtualProtect(base + dataPages * page, page, PAGE_NOACCESS, &old));
    start = base + dataPages * page - length;
    if (length) memcpy(start, bytes.data(), length);
    guardPage = base + dataPages * page;
    guardPageSize = page;
    handler = AddVectoredExceptionHandler(1, reportGuardFault);
}

GuardedBytes::~GuardedBytes() {
    RemoveVectoredExceptionHandler(handler);
    guardPage = nullptr;
    VirtualFree(base, 0, MEM_RELEASE);
}
#else
// new[] of the exact size: AddressSanitizer reports the first byte read beyond it.
GuardedBytes::GuardedBytes(const std::vector<uint8_t>& bytes) : length(bytes.size()) {
    base = new uint8_t[length ? length : 1];
    start = base;
    if (length) memcpy(start, bytes.data(), length);
}

GuardedBytes::~GuardedBytes() { delete[] base; }
#endif

}  // namespace testsupport
