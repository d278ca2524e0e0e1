// Sampler rows of the benchmark program: each sampler against the platform call it
// wraps, a count of the plugin's own heap allocations per tick, and the disk-activity tick on
// served performance data, hostile blocks among them.
#include "bench_samplers.h"

#include <winsock2.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench_timing.h"
#include "config/panel_model.h"
#include "config/settings.h"
#include "fixtures/route_questions.h"
#include "sampling/disk_io.h"
#include "sampling/disk_io_sampler.h"
#include "sampling/ip_sampler.h"
#include "sampling/core_sampler.h"
#include "sampling/load_meter.h"
#include "sampling/meter_platform.h"
#include "sampling/net_sampler.h"
#include "sampling/perf_layout.h"
#include "sampling/samplers.h"
#include "sampling/volume_worker.h"
#include "support/fake_host.h"
#include "support/import_redirect.h"
#include "support/perf_block.h"

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
// The IP row's calls (the rows of its own, tests/bench_ip.cpp, take them apart).
IP_ADAPTER_ADDRESSES* ipList = nullptr;
ULONG ipListSize = 0;
void bareIp() {
    ULONG size = ipListSize;
    while (GetAdaptersAddresses(AF_INET, GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER,
                                nullptr, ipList, &size) == ERROR_BUFFER_OVERFLOW &&
           size > ipListSize) {
        free(ipList);
        ipList = static_cast<IP_ADAPTER_ADDRESSES*>(malloc(size));
        ipListSize = size;
    }
    askDefaultRoutes(false, nullptr);
}
void bareDisk() {
    ULARGE_INTEGER a, t, f;
    GetDiskFreeSpaceExA("C:\\", &a, &t, &f);
}
// A share on loopback that no server offers: Wine fails the query, as Windows does once its
// server is gone (after up to half a minute there).
const char* const MISSING_SHARE = "\\\\127.0.0.1\\kelvora-missing-share\\";
void bareMissingShare() {
    ULARGE_INTEGER a, t, f;
    GetDiskFreeSpaceExA(MISSING_SHARE, &a, &t, &f);
}
void diskTickOn(const char* path) {
    snprintf(panelModel.disks[1].path, CAPTION_SIZE, "%s", path);
    sampleDisks(nullptr, 0, 0, 0);
}
// Timer procedures, which a lambda cannot be where they are stdcall (the x86 build).
void CALLBACK diskTickOnSystemDrive(HWND, UINT, UINT_PTR, DWORD) { diskTickOn("C:\\"); }
void CALLBACK diskTickOnMissingShare(HWND, UINT, UINT_PTR, DWORD) { diskTickOn(MISSING_SHARE); }
// A volume whose every query takes a second, as one of a share whose server has just gone.
bool slowFreeSpace(const char*, uint64_t* freeBytes, uint64_t* totalBytes) {
    Sleep(1000);
    *freeBytes = *totalBytes = 0;
    return false;
}
bool noDescription(const char*, char*, size_t, char*, size_t) { return false; }
const VolumePlatform slowVolume = {slowFreeSpace, noDescription};

void bareInterfaceTable() {
    PMIB_IF_TABLE2 table = nullptr;
    if (GetIfTable2(&table) == NO_ERROR) FreeMibTable(table);
}
void bareNetwork() { sampleNetwork(nullptr, 0, 0, 0); }

// A machine with Hyper-V or containers: 500 interfaces, one of them physical, served from one
// table made once, so that the rows time the sampler's own work on it.
MIB_IF_TABLE2* manyInterfaces = nullptr;
MIB_IFTABLE* manyXpInterfaces = nullptr;
ULONGLONG servedTick = 0;
DWORD WINAPI serveMany(PMIB_IF_TABLE2* out) {
    for (ULONG i = 0; i < manyInterfaces->NumEntries; ++i) manyInterfaces->Table[i].InOctets += 1000;
    *out = manyInterfaces;
    return NO_ERROR;
}
VOID WINAPI keepMany(PVOID) {}
DWORD WINAPI serveManyXp(PMIB_IFTABLE table, PULONG size, BOOL) {
    const ULONG needed = offsetof(MIB_IFTABLE, table) + manyXpInterfaces->dwNumEntries * sizeof(MIB_IFROW);
    if (!table || *size < needed) {
        *size = needed;
        return ERROR_INSUFFICIENT_BUFFER;
    }
    for (DWORD i = 0; i < manyXpInterfaces->dwNumEntries; ++i) manyXpInterfaces->table[i].dwInOctets += 1000;
    memcpy(table, manyXpInterfaces, needed);
    return NO_ERROR;
}
ULONGLONG servedTickCount() { return servedTick += 1000; }

void makeManyInterfaces() {
    const ULONG rows = 500;
    manyInterfaces = static_cast<MIB_IF_TABLE2*>(calloc(1, sizeof(MIB_IF_TABLE2) + rows * sizeof(MIB_IF_ROW2)));
    manyXpInterfaces = static_cast<MIB_IFTABLE*>(calloc(1, sizeof(MIB_IFTABLE) + rows * sizeof(MIB_IFROW)));
    manyInterfaces->NumEntries = manyXpInterfaces->dwNumEntries = rows;
    for (ULONG i = 0; i < rows; ++i) {
        MIB_IF_ROW2& r = manyInterfaces->Table[i];
        r.InterfaceLuid.Value = 0x6000000000000ULL + i;
        r.Type = IF_TYPE_ETHERNET_CSMACD;
        r.OperStatus = IfOperStatusUp;
        r.InterfaceAndOperStatusFlags.HardwareInterface = i == 250;
        r.ReceiveLinkSpeed = r.TransmitLinkSpeed = 10000000000ULL;
        snprintf(reinterpret_cast<char*>(manyXpInterfaces->table[i].bDescr), MAXLEN_IFDESCR, "Hyper-V Virtual Ethernet Adapter #%lu", i);
        wcsncpy(r.Description, L"Hyper-V Virtual Ethernet Adapter", IF_MAX_STRING_SIZE);
        MIB_IFROW& x = manyXpInterfaces->table[i];
        x.dwIndex = i + 1;
        x.dwType = MIB_IF_TYPE_ETHERNET;
        x.dwOperStatus = MIB_IF_OPER_STATUS_OPERATIONAL;
        x.dwSpeed = 1000000000;
        x.dwDescrLen = static_cast<DWORD>(strlen(reinterpret_cast<char*>(x.bDescr)) + 1);
    }
}
const NetPlatform servedMany = {serveMany, keepMany, GetIfTable, servedTickCount};
const NetPlatform servedManyXp = {nullptr, nullptr, serveManyXp, servedTickCount};
void bareServedTable() {
    PMIB_IF_TABLE2 table = nullptr;
    serveMany(&table);
    keepMany(table);
}

void bareProcessorTimes() {
    FILETIME idle, kernel, user;
    GetSystemTimes(&idle, &kernel, &user);
}

// The query the disk-activity sampler makes, into a buffer of the sampler's starting size.
uint8_t bareDiskBuffer[PERF_DATA_INITIAL_SIZE];
void barePhysicalDiskQuery() {
    DWORD size = sizeof bareDiskBuffer;
    RegQueryValueExA(HKEY_PERFORMANCE_DATA, "234", nullptr, nullptr, bareDiskBuffer, &size);
}
void bareDiskIo() { sampleDiskIo(nullptr, 0, 0, 0); }

// ---- Disk activity on served performance data ---------------------------------------------

// The block the stand-in query answers, as the system copies it into the caller's buffer: each
// answer a second later, the _Total instance's counters grown, so that every tick shows rates.
perfblock::Block servedDisks;
size_t servedLength = 0;  // the bytes answered: less than the block for a truncated one
size_t servedTotalCounters = 0;
int64_t servedTime = 0;

void put64(perfblock::Block& block, size_t at, int64_t value) {
    block.put32(at, static_cast<uint32_t>(value));
    block.put32(at + 4, static_cast<uint32_t>(static_cast<uint64_t>(value) >> 32));
}

int32_t serveDisks(const char*, uint8_t* buffer, uint32_t* size) {
    if (*size < servedLength) return METER_ERROR_MORE_DATA;
    servedTime += 10000000;
    put64(servedDisks, perflayout::DATA_PERF_TIME, servedTime / 100);
    if (servedTotalCounters) {
        put64(servedDisks, servedTotalCounters + 8 + 8 * perfblock::DISK_READ_COUNTER_POSITION, servedTime / 7);
        put64(servedDisks, servedTotalCounters + 8 + 8 * perfblock::DISK_WRITE_COUNTER_POSITION, servedTime / 31);
    }
    memcpy(buffer, servedDisks.bytes.data(), servedLength);
    *size = static_cast<uint32_t>(servedLength);
    return METER_ERROR_SUCCESS;
}

void serve(const perfblock::Block& block, size_t length) {
    servedDisks = block;
    servedLength = length;
    // The last instance of the last object is _Total, where it is there at all.
    servedTotalCounters = 0;
    if (!block.counterBlocks.empty() && !block.counterBlocks.back().empty())
        servedTotalCounters = block.counterBlocks.back().back();
}

std::u16string wide(const std::string& text) { return std::u16string(text.begin(), text.end()); }

// A machine of physical disks "0 C:", "1 D:" and on (the first 24 hold a drive letter), and _Total.
perfblock::Block disks(int count, bool withTotal = true) {
    std::vector<perfblock::Disk> list;
    for (int i = 0; i < count; ++i) {
        std::string name = std::to_string(i);
        if (i < 24) name += std::string(" ") + static_cast<char>('C' + i) + ":";
        list.push_back({wide(name), 1000LL * i, 2000LL * i});
    }
    return perfblock::build(10000000, {perfblock::diskObject(list, withTotal)});
}

struct HostileBlock {
    const char* what;
    perfblock::Block block;
    size_t length;
};

std::vector<HostileBlock> hostileBlocks(const perfblock::Block& machine) {
    using namespace perflayout;
    std::vector<HostileBlock> blocks;
    blocks.push_back({"truncated in the middle of its instances", machine, machine.size() / 2});
    perfblock::Block past = machine;
    past.put32(past.objects[0] + OBJECT_TOTAL_BYTE_LENGTH, 0xFFFFFFF0u);
    blocks.push_back({"the object's length far past the end", past, past.size()});
    past = machine;
    past.put32(past.instances[0][40] + INSTANCE_BYTE_LENGTH, 0x7FFFFFFFu);
    blocks.push_back({"an instance's length past the end, halfway", past, past.size()});
    past = machine;
    past.put32(past.instances[0][40] + INSTANCE_NAME_OFFSET, 0xFFFFFFF0u);
    blocks.push_back({"an instance's name offset past the end, halfway", past, past.size()});
    perfblock::Block wrongSize = machine;
    wrongSize.put32(wrongSize.counterDefinitions[0][perfblock::DISK_READ_COUNTER_POSITION] + COUNTER_SIZE, 4);
    blocks.push_back({"the read counter 4 bytes wide", wrongSize, wrongSize.size()});
    perfblock::Block countless = disks(64, false);
    countless.put32(countless.objects[0] + OBJECT_NUM_INSTANCES, 0x7FFFFFFFu);
    blocks.push_back({"2,147,483,647 instances claimed, _Total not among them", countless, countless.size()});
    const perfblock::Block many = disks(10000);
    blocks.push_back({"10,000 instances", many, many.size()});
    return blocks;
}

void benchDiskActivity() {
    const MeterPlatform& system = systemMeterPlatform();
    MeterPlatform served = system;
    served.queryPerformanceData = serveDisks;
    installMeterPlatform(&served);
    resetDiskIoSampler();  // Wine's data, without the object, was read above
    const perfblock::Block machine = disks(64);
    serve(machine, machine.size());
    panelModel.diskIoRestart = true;
    bareDiskIo();

    printTableHeader("Disk activity on served performance data: 64 physical disks and _Total");
    char label[160];
    uint8_t* buffer = static_cast<uint8_t*>(malloc(PERF_DATA_INITIAL_SIZE));
    const Timing query = measure(2001, [buffer] {
        memset(buffer, 0, PERF_DATA_INITIAL_SIZE);  // as the sampler's query clears its buffer
        uint32_t size = PERF_DATA_INITIAL_SIZE;
        serveDisks("234", buffer, &size);
    });
    free(buffer);
    const Timing tick = measure(2001, bareDiskIo);
    snprintf(label, sizeof label, "the bare query: clearing the buffer and copying the %u-byte block into it",
             static_cast<unsigned>(machine.size()));
    printRow(label, query);
    printRow("sampleDiskIo, all disks (_Total, the last instance)", tick, tick.median / query.median, "of the bare query");
    DiskIoCounters counters;
    const Timing walk = measure(2001, [&] {
        readDiskIoCounters(machine.bytes.data(), machine.size(), "", system.wideToAnsi, &counters);
    });
    printRow("  of which the walk (readDiskIoCounters)", walk, walk.median / tick.median, "of the tick");
    snprintf(panelModel.diskIoDisk, PATH_SIZE, "%s", "Z:");
    panelModel.diskIoRestart = true;
    const Timing byLetter = measure(2001, bareDiskIo);
    printRow("sampleDiskIo, the disk that holds Z: (\"23 Z:\")", byLetter, byLetter.median / query.median,
             "of the bare query");
    panelModel.diskIoDisk[0] = '\0';
    panelModel.diskIoRestart = true;

    printf("\nHostile performance data: the disk-activity tick on each block (all disks), each as the first\n"
           "after a reload, against the tick on the 64 disks above; every one shows n/a or a rate, and\n"
           "reads nothing outside the block\n\n"
           "| block | median µs | min µs | max µs | ratio |\n|---|---:|---:|---:|---|\n");
    const auto afterReload = [] {
        panelModel.diskIoRestart = true;
        bareDiskIo();
    };
    const Timing fresh = measure(2001, afterReload);
    printRow("the 64 disks above, each tick as the first after a reload", fresh, fresh.median / tick.median,
             "of the 64-disk tick");
    for (const HostileBlock& hostile : hostileBlocks(machine)) {
        serve(hostile.block, hostile.length);
        afterReload();  // the buffer grows to a larger block once, at the first tick
        const Timing t = measure(501, afterReload);
        snprintf(label, sizeof label, "%s (%u bytes): shows %s", hostile.what, static_cast<unsigned>(hostile.length),
                 panelModel.items[ITEM_DISK_READ].value);
        printRow(label, t, t.median / tick.median, "of the 64-disk tick");
    }
    serve(machine, machine.size());
    installMeterPlatform(nullptr);
    resetDiskIoSampler();
}

// Processors served from memory through the cores sampler's seam: groups of up to 64, each
// processor's times moving on at every query as a busy machine's do.
int servedProcessors = 2;
uint64_t servedIdle[256], servedBusy[256];
uint8_t servedRecords[64 * 48];
WORD WINAPI servedGroups() { return static_cast<WORD>((servedProcessors + 63) / 64); }
LONG WINAPI servedGroup(USHORT group, PVOID buffer, ULONG length, PULONG returned) {
    const int first = 64 * group, count = servedProcessors - first < 64 ? servedProcessors - first : 64;
    *returned = static_cast<ULONG>(48 * count);
    if (length < *returned) return static_cast<LONG>(0xC0000004);
    for (int p = 0; p < count; ++p) {
        const uint64_t busy = static_cast<uint64_t>((first + p) * 37 % 100) * 1000;
        servedBusy[first + p] += busy;
        servedIdle[first + p] += 100000 - busy;
        const uint64_t times[3] = {servedIdle[first + p], servedIdle[first + p], servedBusy[first + p]};
        memcpy(servedRecords + 48 * p, times, sizeof times);
    }
    memcpy(buffer, servedRecords, *returned);
    return 0;
}
LONG WINAPI servedQuery(ULONG, PVOID buffer, ULONG length, PULONG returned) {
    return servedGroup(0, buffer, length, returned);
}
LONG WINAPI servedQueryByGroup(ULONG, PVOID input, ULONG, PVOID buffer, ULONG length, PULONG returned) {
    return servedGroup(*static_cast<USHORT*>(input), buffer, length, returned);
}
const CorePlatform servedCores = {servedGroups, servedQuery, servedQueryByGroup};
void bareServedProcessors() {
    uint8_t buffer[64 * 48];
    ULONG returned = 0;
    const WORD groups = servedGroups();
    if (groups == 1) servedQuery(8, buffer, sizeof buffer, &returned);
    for (USHORT g = 0; groups > 1 && g < groups; ++g) servedQueryByGroup(8, &g, sizeof g, buffer, sizeof buffer, &returned);
}

typedef LONG(WINAPI* QuerySystemInformationFn)(ULONG, PVOID, ULONG, PULONG);
QuerySystemInformationFn systemQuery = nullptr;
void bareSystemProcessors() {
    uint8_t buffer[64 * 48];
    ULONG returned = 0;
    systemQuery(8, buffer, sizeof buffer, &returned);
}

// The CPU tick and the calls it makes, with and without a cores graph, on this machine's
// processors and on 2 and 256 served from memory; then the ticks' own allocations.
void benchCpuTickWithCores() {
    systemQuery = reinterpret_cast<QuerySystemInformationFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQuerySystemInformation")));
    lookUpProcessorTimes();
    auto tick = [] { sampleCpu(nullptr, 0, 0, 0); };
    auto withCores = [](bool shown) {
        fakehost::set("Kelvora.coresGraph.width:", shown ? "212" : "0");
        fakehost::set("Kelvora.coresGraph.height:", "28");
        reloadSettings();
    };
    printTableHeader("The CPU tick with and without the cores graph (ratio: tick / its bare platform calls)");
    withCores(false);
    const Timing times = measure(501, bareProcessorTimes);
    const Timing without = measure(501, tick);
    printRow("GetSystemTimes (the meter's call under Wine)", times);
    printRow("sampleCpu without a cores graph", without, without.median / times.median, "of the bare call");
    withCores(true);
    const Timing systemBare = measure(501, [] {
        bareProcessorTimes();
        bareSystemProcessors();
    });
    const Timing system = measure(501, tick);
    printRow("GetSystemTimes + NtQuerySystemInformation (this machine's processors)", systemBare);
    printRow("sampleCpu with a cores graph, this machine's processors", system, system.median / systemBare.median,
             "of the bare calls");
    installCorePlatform(&servedCores);
    for (int processors : {2, 256}) {
        servedProcessors = processors;
        withCores(true);
        const Timing bare = measure(501, [] {
            bareProcessorTimes();
            bareServedProcessors();
        });
        const Timing served = measure(501, tick);
        char label[128];
        snprintf(label, sizeof label, "GetSystemTimes + serving %d processors (%d group%s)", processors,
                 servedGroups(), servedGroups() > 1 ? "s" : "");
        printRow(label, bare);
        snprintf(label, sizeof label, "sampleCpu with a cores graph, %d processors served", processors);
        printRow(label, served, served.median / bare.median, "of the bare calls");
    }
    installCorePlatform(nullptr);
    withCores(false);
}

struct SamplerRow {
    const char* name;
    TIMERPROC sampler;
    const char* bareName;
    void (*bare)();
    int runs;
};

}  // namespace

void awaitDiskAnswers() {
    for (int waited = 0; waited < 1000 && volumeExchange(); ++waited) {
        bool answered = true;
        for (int slot = 1; slot <= usedDiskSlots(); ++slot) {
            const int32_t state = volumeExchange()->slots[slot].state.load();
            answered = answered && (state == VOLUME_IDLE || state == VOLUME_ANSWERED);
        }
        if (answered) return;
        Sleep(1);
    }
}

long pluginAllocations() { return allocations; }

void startCountingAllocations() {
    if (!realMalloc) countAllocations();
}

void benchSamplers() {
    fakehost::reset();
    snprintf(panelModel.rcPath, PATH_SIZE, "%s", "C:\\bench\\Kelvora.rc");
    reloadSettings();
    WSADATA wsa;
    WSAStartup(MAKEWORD(2, 0), &wsa);
    noteSocketsStarted(true);
    panelModel.diskCount = 1;
    snprintf(panelModel.disks[1].path, CAPTION_SIZE, "%s", "C:\\");
    startCountingAllocations();
    systemTickCount64 = reinterpret_cast<TickCount64>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "GetTickCount64"));

    const SamplerRow rows[] = {
        {"sampleCpu", sampleCpu, "GetSystemTimes", bareProcessorTimes, 501},
        {"sampleMemory", sampleMemory, "GlobalMemoryStatusEx", bareMemory, 501},
        {"sampleBattery", sampleBattery, "GetSystemPowerStatus", barePower, 501},
        {"sampleUptime", sampleUptime, "GetTickCount64", bareUptime, 501},
        {"sampleIp", sampleIp, "GetAdaptersAddresses + GetBestInterface", bareIp, 501},
        {"sampleDisks (1 disk)", diskTickOnSystemDrive, "GetDiskFreeSpaceExA", bareDisk, 501},
        {"sampleDisks (1 disk on a share no server offers)", diskTickOnMissingShare, "GetDiskFreeSpaceExA of that share",
         bareMissingShare, 101},
        {"sampleNetwork", sampleNetwork, "GetIfTable2 + FreeMibTable", bareInterfaceTable, 501},
        {"sampleDiskIo", sampleDiskIo, "RegQueryValueExA \"234\" (no physical-disk object under Wine)",
         barePhysicalDiskQuery, 501},
    };
    printTableHeader("Samplers next to their bare platform call (ratio: sampler / bare call)");
    for (const SamplerRow& row : rows) {
        const Timing bare = measure(row.runs, row.bare);
        // A disk tick as the timer makes it, the worker's answer to the one before come.
        const Timing sampler = measurePrepared(
            row.runs, [] { awaitDiskAnswers(); }, [&] { row.sampler(nullptr, 0, 0, 0); });
        printRow(row.bareName, bare);
        printRow(row.name, sampler, sampler.median / bare.median, "of the bare call");
    }

    // Ticks while the one disk's query is out: nothing to queue, nobody to wake.
    installVolumePlatform(&slowVolume);
    diskTickOn("S:\\");
    const Timing out = measure(101, [] { diskTickOn("S:\\"); });
    installVolumePlatform(nullptr);
    printRow("sampleDisks while the disk's query of a second is out", out);

    // The 500-row table, on both ways of reading it, against the system's table of this machine.
    makeManyInterfaces();
    const Timing systemTable = measure(501, bareNetwork);
    installNetPlatform(&servedMany);
    const Timing many = measure(501, bareNetwork);
    const Timing served = measure(501, bareServedTable);
    installNetPlatform(&servedManyXp);
    const Timing manyXp = measure(501, bareNetwork);
    installNetPlatform(nullptr);
    printRow("sampleNetwork, 500 interfaces (GetIfTable2 served from memory)", many,
             many.median / systemTable.median, "of sampleNetwork on this machine's table");
    printRow("  of which serving the table", served, served.median / many.median, "of the row above");
    printRow("sampleNetwork, 500 interfaces (Windows XP's GetIfTable served from memory)", manyXp,
             manyXp.median / systemTable.median, "of sampleNetwork on this machine's table");

    benchCpuTickWithCores();

    printf("\nHeap allocations by the plugin's own code per steady-state tick (the system's own, such as\n"
           "the table GetIfTable2 makes, are not the plugin's):\n\n| sampler | allocations |\n|---|---:|\n");
    auto countPerTick = [](const char* name, TIMERPROC sampler) {
        sampler(nullptr, 0, 0, 0);  // past any first-call set-up
        allocations = 0;
        for (int i = 0; i < 100; ++i) {
            awaitDiskAnswers();
            sampler(nullptr, 0, 0, 0);
        }
        printf("| %s | %.2f |\n", name, allocations / 100.0);
    };
    for (const SamplerRow& row : rows) countPerTick(row.name, row.sampler);
    installCorePlatform(&servedCores);
    for (int processors : {2, 256}) {
        servedProcessors = processors;
        fakehost::set("Kelvora.coresGraph.width:", "212");
        fakehost::set("Kelvora.coresGraph.height:", "28");
        reloadSettings();
        countPerTick(processors == 2 ? "sampleCpu with a cores graph, 2 processors"
                                     : "sampleCpu with a cores graph, 256 processors",
                     sampleCpu);
    }
    installCorePlatform(nullptr);
    fakehost::set("Kelvora.coresGraph.width:", "0");
    reloadSettings();
    installNetPlatform(&servedMany);
    countPerTick("sampleNetwork, 500 interfaces", sampleNetwork);
    installNetPlatform(&servedManyXp);
    countPerTick("sampleNetwork, 500 interfaces, Windows XP's table", sampleNetwork);
    installNetPlatform(nullptr);
    MeterPlatform servedDiskData = systemMeterPlatform();
    servedDiskData.queryPerformanceData = serveDisks;
    installMeterPlatform(&servedDiskData);
    resetDiskIoSampler();  // Wine's data, without the object, was read above
    const perfblock::Block machine = disks(64);
    serve(machine, machine.size());
    countPerTick("sampleDiskIo, 64 disks served", sampleDiskIo);
    const perfblock::Block manyDisks = disks(10000);
    serve(manyDisks, manyDisks.size());
    countPerTick("sampleDiskIo, 10,000 instances served (after the buffer grew)", sampleDiskIo);
    installMeterPlatform(nullptr);
    resetDiskIoSampler();
    WSACleanup();

    benchDiskActivity();
}
