// Resource figures of the running process, for leak checks under Wine and on Windows.
#include "host/resource_use.h"

#include <windows.h>
#include <tlhelp32.h>

#include <cstdint>
#include <vector>

namespace resourceuse {

namespace {

// Filled while the heaps are walked, so it allocates nothing: a block made during a walk
// would move what the walk reads.
struct HeapUse {
    const void* reservations[256];  // where the heaps' blocks lie
    size_t reservationCount = 0;
    size_t busyBytes = 0;  // what their blocks hold, as asked for

    bool holds(const void* base) const {
        for (size_t i = 0; i < reservationCount; ++i)
            if (reservations[i] == base) return true;
        return false;
    }
};

void addReservation(HeapUse& use, const void* address) {
    MEMORY_BASIC_INFORMATION info;
    if (VirtualQuery(address, &info, sizeof info) != sizeof info || use.holds(info.AllocationBase)) return;
    if (use.reservationCount < sizeof use.reservations / sizeof use.reservations[0])
        use.reservations[use.reservationCount++] = info.AllocationBase;
}

HeapUse heapUse() {
    HeapUse use;
    // Room for heaps made between the count and the listing; more than that go uncounted.
    std::vector<HANDLE> heaps(GetProcessHeaps(0, nullptr) + 8);
    const DWORD listed = GetProcessHeaps(static_cast<DWORD>(heaps.size()), heaps.data());
    if (listed < heaps.size()) heaps.resize(listed);
    for (HANDLE heap : heaps) {
        if (!HeapLock(heap)) continue;
        PROCESS_HEAP_ENTRY entry = {};
        while (HeapWalk(heap, &entry)) {
            if (entry.wFlags & PROCESS_HEAP_REGION) addReservation(use, entry.lpData);
            if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) {
                use.busyBytes += entry.cbData;
                addReservation(use, entry.lpData);
            }
        }
        HeapUnlock(heap);
    }
    return use;
}

}  // namespace

size_t privateBytes() {
    const HeapUse heaps = heapUse();
    size_t total = heaps.busyBytes;
    MEMORY_BASIC_INFORMATION info;
    for (const char* address = nullptr; VirtualQuery(address, &info, sizeof info) == sizeof info;
         address = static_cast<const char*>(info.BaseAddress) + info.RegionSize) {
        if (info.State == MEM_COMMIT && info.Type == MEM_PRIVATE && !heaps.holds(info.AllocationBase))
            total += info.RegionSize;
        if (info.RegionSize == 0) break;
    }
    return total;
}

int gdiObjectCount() {
    const DWORD counted = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
    if (counted) return static_cast<int>(counted);
    // Wine answers 0 above but keeps a per-process GDI handle table, named by the PEB
    // (at 0xF8 in a 64-bit process, 0x94 in a 32-bit one): 24-byte entries in both, with
    // the object type at offset 14, 0 for a free entry.
#ifdef _WIN64
    const unsigned char* peb = reinterpret_cast<const unsigned char*>(__readgsqword(0x60));
    const unsigned char* table = *reinterpret_cast<const unsigned char* const*>(peb + 0xF8);
#else
    const unsigned char* peb;
    __asm__("movl %%fs:0x30, %0" : "=r"(peb));
    const unsigned char* table = *reinterpret_cast<const unsigned char* const*>(peb + 0x94);
#endif
    if (!table) return -1;
    int count = 0;
    for (int i = 0; i < 0x10000; ++i)
        if (table[i * 24 + 14] != 0) ++count;
    return count;
}

unsigned userObjectCount() {
    const DWORD counted = GetGuiResources(GetCurrentProcess(), GR_USEROBJECTS);
    if (counted) return counted;
    // Wine hands out freed USER table entries first, last freed first, and only then new
    // ones at the top; the low word of a handle is 0x20 plus twice its entry's index. Once
    // PROBES fresh menus have used up every free entry, the highest index among them is
    // (entries in use) + PROBES - 1, whichever entries happened to be free.
    const int PROBES = 4096;
    std::vector<HMENU> menus;
    menus.reserve(PROBES);
    unsigned highest = 0;
    for (int i = 0; i < PROBES; ++i) {
        HMENU menu = CreateMenu();
        if (!menu) break;
        menus.push_back(menu);
        const unsigned index = (static_cast<unsigned>(reinterpret_cast<uintptr_t>(menu) & 0xFFFF) - 0x20) / 2;
        if (index > highest) highest = index;
    }
    for (HMENU menu : menus) DestroyMenu(menu);
    const unsigned made = static_cast<unsigned>(menus.size());
    return highest + 1 >= made ? highest + 1 - made : 0;
}

int threadCount() {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return -1;
    THREADENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    int count = 0;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
        if (entry.th32OwnerProcessID == GetCurrentProcessId()) ++count;
    CloseHandle(snapshot);
    return count;
}

unsigned long kernelHandleCount() {
    DWORD count = 0;
    if (GetProcessHandleCount(GetCurrentProcess(), &count) && count) return count;
    // Wine answers 0 above: ask about every handle value a process of this size can hold
    // (handles are multiples of 4; a few thousand open handles is already a leak).
    unsigned long open = 0;
    for (uintptr_t value = 4; value < 0x40000; value += 4) {
        DWORD flags;
        if (GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) ++open;
    }
    return open;
}

unsigned long long processorMilliseconds() {
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) return 0;
    auto value = [](const FILETIME& t) { return (static_cast<unsigned long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime; };
    return (value(kernel) + value(user)) / 10000;  // 100 ns units
}

}  // namespace resourceuse
