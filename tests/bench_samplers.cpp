// Sampler rows of the benchmark program: each sampler against the platform call it
// wraps, and a count of the plugin's own heap allocations per tick.
#include "bench_samplers.h"

#include <winsock2.h>

#include <cstdio>
#include <cstring>

#include "bench_timing.h"
#include "config/panel_model.h"
#include "config/settings.h"
#include "sampling/load_meter.h"
#include "sampling/samplers.h"
#include "support/fake_host.h"
#include "support/import_redirect.h"

namespace {

// Allocation calls this program's code makes through its imports: the C runtime's
// malloc family (operator new ends there) and the Windows heap functions.
long allocations = 0;

typedef void* (*MallocFn)(size_t);
typedef void* (*CallocFn)(size_t, size_t);
typedef void* (*ReallocFn)(void*, size_t);
typedef LPVOID(WINAPI* HeapAllocFn)(HANDLE, DWORD, SIZE_T);
typedef HLOCAL(WINAPI* LocalAllocFn)(UINT, SIZE_T);
MallocFn realMalloc;
CallocFn realCalloc;
ReallocFn realRealloc;
HeapAllocFn realHeapAlloc;
LocalAllocFn realLocalAlloc;

void* countingMalloc(size_t n) { ++allocations; return realMalloc(n); }
void* countingCalloc(size_t n, size_t s) { ++allocations; return realCalloc(n, s); }
void* countingRealloc(void* p, size_t n) { ++allocations; return realRealloc(p, n); }
LPVOID WINAPI countingHeapAlloc(HANDLE h, DWORD f, SIZE_T n) { ++allocations; return realHeapAlloc(h, f, n); }
HLOCAL WINAPI countingLocalAlloc(UINT f, SIZE_T n) { ++allocations; return realLocalAlloc(f, n); }

void countAllocations() {
    HMODULE crt = GetModuleHandleA("msvcrt.dll");
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    realMalloc = reinterpret_cast<MallocFn>(GetProcAddress(crt, "malloc"));
    realCalloc = reinterpret_cast<CallocFn>(GetProcAddress(crt, "calloc"));
    realRealloc = reinterpret_cast<ReallocFn>(GetProcAddress(crt, "realloc"));
    realHeapAlloc = reinterpret_cast<HeapAllocFn>(GetProcAddress(kernel, "HeapAlloc"));
    realLocalAlloc = reinterpret_cast<LocalAllocFn>(GetProcAddress(kernel, "LocalAlloc"));
    redirectImport(reinterpret_cast<void*>(realMalloc), reinterpret_cast<void*>(countingMalloc));
    redirectImport(reinterpret_cast<void*>(realCalloc), reinterpret_cast<void*>(countingCalloc));
    redirectImport(reinterpret_cast<void*>(realRealloc), reinterpret_cast<void*>(countingRealloc));
    redirectImport(reinterpret_cast<void*>(realHeapAlloc), reinterpret_cast<void*>(countingHeapAlloc));
    redirectImport(reinterpret_cast<void*>(realLocalAlloc), reinterpret_cast<void*>(countingLocalAlloc));
}

void bareMemory() {
    MEMORYSTATUSEX s;
    s.dwLength = sizeof s;
    GlobalMemoryStatusEx(&s);
}
void barePower() {
    SYSTEM_POWER_STATUS p;
    GetSystemPowerStatus(&p);
}
// kernel32's own function, called directly: the plugin's GetTickCount64 looks it up at each call.
using TickCount64 = ULONGLONG(WINAPI*)();
TickCount64 systemTickCount64;
void bareUptime() { systemTickCount64(); }
void bareIp() {
    char name[100];
    if (gethostname(name, sizeof name) == 0) gethostbyname(name);
}
void bareDisk() {
    ULARGE_INTEGER a, t, f;
    GetDiskFreeSpaceExA("C:\\", &a, &t, &f);
}
void bareProcessorTimes() {
    FILETIME idle, kernel, user;
    GetSystemTimes(&idle, &kernel, &user);
}

struct SamplerRow {
    const char* name;
    TIMERPROC sampler;
    const char* bareName;
    void (*bare)();
    int runs;
};

}  // namespace

void benchSamplers() {
    fakehost::reset();
    snprintf(panelModel.rcPath, PATH_SIZE, "%s", "C:\\bench\\Kelvora.rc");
    reloadSettings();
    WSADATA wsa;
    WSAStartup(MAKEWORD(2, 0), &wsa);
    panelModel.diskCount = 1;
    snprintf(panelModel.disks[1].path, CAPTION_SIZE, "%s", "C:\\");
    countAllocations();
    systemTickCount64 = reinterpret_cast<TickCount64>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "GetTickCount64"));

    const SamplerRow rows[] = {
        {"sampleCpu", sampleCpu, "GetSystemTimes", bareProcessorTimes, 501},
        {"sampleMemory", sampleMemory, "GlobalMemoryStatusEx", bareMemory, 501},
        {"sampleBattery", sampleBattery, "GetSystemPowerStatus", barePower, 501},
        {"sampleUptime", sampleUptime, "GetTickCount64", bareUptime, 501},
        {"sampleIp", sampleIp, "gethostname + gethostbyname", bareIp, 101},
        {"sampleDisks (1 disk)", sampleDisks, "GetDiskFreeSpaceExA", bareDisk, 501},
    };
    printTableHeader("Samplers next to their bare platform call (ratio: sampler / bare call)");
    for (const SamplerRow& row : rows) {
        const Timing bare = measure(row.runs, row.bare);
        const Timing sampler = measure(row.runs, [&] { row.sampler(nullptr, 0, 0, 0); });
        printRow(row.bareName, bare);
        printRow(row.name, sampler, sampler.median / bare.median, "of the bare call");
    }

    printf("\nHeap allocations by the plugin's own code per steady-state tick:\n\n| sampler | allocations |\n|---|---:|\n");
    for (const SamplerRow& row : rows) {
        row.sampler(nullptr, 0, 0, 0);  // past any first-call set-up
        allocations = 0;
        for (int i = 0; i < 100; ++i) row.sampler(nullptr, 0, 0, 0);
        printf("| %s | %.2f |\n", row.name, allocations / 100.0);
    }
    WSACleanup();
}
