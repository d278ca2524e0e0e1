// The GPU reading of the CPU tick: each adapter's engines and memory segments from the graphics
// kernel's statistics (gdi32's kernel thunks), the load of the adapter shown into the GPU graph
// and its video memory into the GPU memory row.
#pragma once

#include <windows.h>

#include <cstdint>

#include "sampling/gpu_loads.h"

// The kernel thunks take one structure each and answer an NTSTATUS.
typedef LONG(APIENTRY* KernelThunk)(void* arguments);

// The system calls of the reading, as a seam that tests, the benchmark and the stand-in host's
// feed replace with adapters of their own. The thunks are null where gdi32 lacks them.
struct GpuPlatform {
    KernelThunk enumAdapters2;                  // D3DKMTEnumAdapters2 (Windows 8 and later)
    KernelThunk openAdapterFromGdiDisplayName;  // D3DKMTOpenAdapterFromGdiDisplayName (Vista and later)
    KernelThunk closeAdapter;                   // D3DKMTCloseAdapter
    KernelThunk queryStatistics;                // D3DKMTQueryStatistics
    KernelThunk queryAdapterInfo;               // D3DKMTQueryAdapterInfo: names, asked once an adapter
    BOOL(WINAPI* enumDisplayDevices)(LPCWSTR device, DWORD index, PDISPLAY_DEVICEW info, DWORD flags);
    uint64_t (*now)();                          // a steady clock in 100 ns units
};

const GpuPlatform& gpuPlatform();
// Makes the sampler use `platform` (kept by pointer) from now on; null restores the system's.
void installGpuPlatform(const GpuPlatform* platform);
// Looks the thunks up in gdi32, at start.
void lookUpGpuStatistics();

// One reading into the model when the theme shows a GPU part: the graph's sample and caption,
// the memory row. Where nothing can be read the parts show n/a and the system is asked again a
// minute later at the earliest.
void sampleGpu();
// The reading alone, into gpuReading(): the calls and the arithmetic, nothing shown.
void readGpu();
// Whether the theme shows the GPU graph or the memory row.
bool gpuPartsShown();
// The last reading, for the tooltips and tests; `shown` is the slot the panel shows, or -1.
const GpuLoads& gpuReading();
int gpuShownSlot();
// Forgets the readings and the wait after a failure, for the plugin's stop.
void releaseGpuSampler();

// The layouts of the kernel's structures, for the seams that answer them. Sizes are checked
// for both ABIs in gpu_sampler.cpp.
namespace d3dkmt {

constexpr LONG ANSWER_OK = 0;
constexpr LONG ANSWER_BUFFER_TOO_SMALL = static_cast<LONG>(0xC0000023);

struct Luid {
    DWORD low;
    LONG high;
};

struct AdapterInfo {
    UINT adapter;
    Luid luid;
    ULONG sources;
    BOOL precisePresentRegionsPreferred;
};

struct EnumAdapters2 {
    ULONG count;
    AdapterInfo* adapters;
};

struct OpenAdapterFromGdiDisplayName {
    WCHAR deviceName[32];
    UINT adapter;
    Luid luid;
    UINT vidPnSourceId;
};

struct CloseAdapter {
    UINT adapter;
};

enum QueryType : int32_t { QUERY_ADAPTER = 0, QUERY_SEGMENT = 3, QUERY_NODE = 5 };

// The result union is as large as its largest member in every version of the kernel; only the
// first fields of three members are read.
constexpr size_t QUERY_RESULT_SIZE = 0x308;
struct alignas(8) QueryResult {
    unsigned char bytes[QUERY_RESULT_SIZE];
};
// Offsets in the result: the adapter's segment and node counts; a node's running time; a
// segment's commit limit, committed bytes and aperture flag (Windows 8 and later use 64-bit
// counts; Windows Vista and 7, which lack D3DKMTEnumAdapters2, 32-bit ones).
constexpr size_t ADAPTER_SEGMENTS = 0, ADAPTER_NODES = 4;
constexpr size_t NODE_RUNNING_TIME = 0;
constexpr size_t SEGMENT_LIMIT = 0, SEGMENT_COMMITTED = 8, SEGMENT_APERTURE = 40;
constexpr size_t SEGMENT_V1_LIMIT = 0, SEGMENT_V1_COMMITTED = 4, SEGMENT_V1_APERTURE = 32;

struct QueryStatistics {
    QueryType type;
    Luid luid;
    HANDLE process;
    QueryResult result;
    ULONG id;  // the segment or node asked for
};

enum AdapterInfoType : int32_t { INFO_ADAPTER_REGISTRY = 8, INFO_NODE_METADATA = 25 };

struct QueryAdapterInfo {
    UINT adapter;
    AdapterInfoType type;
    void* data;
    UINT dataSize;
};

struct AdapterRegistryInfo {
    WCHAR adapterString[MAX_PATH];
    WCHAR biosString[MAX_PATH];
    WCHAR dacType[MAX_PATH];
    WCHAR chipType[MAX_PATH];
};

// Windows 10: an engine's type and the name its driver gives it.
struct NodeMetadata {
    UINT nodeOrdinalAndAdapterIndex;
    int32_t engineType;
    WCHAR friendlyName[32];
    UINT flags;
    BOOLEAN gpuMmuSupported;
    BOOLEAN ioMmuSupported;
};

}  // namespace d3dkmt
