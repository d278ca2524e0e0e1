// The GPU reading: the graphics kernel's own statistics, as the system's task manager reads them,
// through gdi32's kernel thunks looked up at run time (Windows XP has none of them). A reading
// lists the adapters, asks each for its engine and segment counts, each engine's running time and
// each segment's committed bytes, and closes the adapters again: no performance counters, no
// COM. Names are asked only when an adapter appears.
#include "sampling/gpu_sampler.h"

#include <cstdio>
#include <cstring>

#include "config/panel_model.h"
#include "render/painter.h"
#include "sampling/byte_size.h"
#include "sampling/exact_math.h"
#include "sampling/samplers.h"

using namespace d3dkmt;

// The kernel's layouts, for both ABIs: a mismatch would let the kernel write past a structure.
#ifdef _WIN64
static_assert(sizeof(QueryStatistics) == 0x328, "D3DKMT_QUERYSTATISTICS, x64");
static_assert(offsetof(QueryStatistics, result) == 24 && offsetof(QueryStatistics, id) == 0x320, "x64 offsets");
static_assert(sizeof(EnumAdapters2) == 16, "D3DKMT_ENUMADAPTERS2, x64");
static_assert(sizeof(QueryAdapterInfo) == 24, "D3DKMT_QUERYADAPTERINFO, x64");
#else
static_assert(sizeof(QueryStatistics) == 0x320, "D3DKMT_QUERYSTATISTICS, x86");
static_assert(offsetof(QueryStatistics, result) == 16 && offsetof(QueryStatistics, id) == 0x318, "x86 offsets");
static_assert(sizeof(EnumAdapters2) == 8, "D3DKMT_ENUMADAPTERS2, x86");
static_assert(sizeof(QueryAdapterInfo) == 16, "D3DKMT_QUERYADAPTERINFO, x86");
#endif
static_assert(sizeof(AdapterInfo) == 20, "D3DKMT_ADAPTERINFO");
static_assert(sizeof(OpenAdapterFromGdiDisplayName) == 80, "D3DKMT_OPENADAPTERFROMGDIDISPLAYNAME");
static_assert(sizeof(CloseAdapter) == 4, "D3DKMT_CLOSEADAPTER");
static_assert(sizeof(AdapterRegistryInfo) == 2080, "D3DKMT_ADAPTERREGISTRYINFO");
static_assert(sizeof(NodeMetadata) == 80, "D3DKMT_NODEMETADATA");

namespace {

// Display devices looked at where the adapters come from the displays (Windows Vista and 7).
constexpr DWORD MAX_DISPLAY_DEVICES = 32;
// After a reading that found nothing, the system is asked again a minute later at the earliest.
constexpr uint64_t RETRY_AFTER = 60ull * 10000000ull;

uint64_t queryPerformanceClock() {
    static uint64_t frequency = 0;
    if (!frequency) {
        LARGE_INTEGER f;
        frequency = QueryPerformanceFrequency(&f) && f.QuadPart > 0 ? static_cast<uint64_t>(f.QuadPart) : 1;
    }
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return mulDivFloor(static_cast<uint64_t>(counter.QuadPart), 10000000, frequency);
}

GpuPlatform systemPlatform = {nullptr, nullptr, nullptr, nullptr, nullptr, EnumDisplayDevicesW, queryPerformanceClock};
const GpuPlatform* installedPlatform = nullptr;

// Kept from tick to tick; a reading writes into them and allocates nothing.
GpuLoads loads;
int shownSlot = -1;
QueryStatistics query;
AdapterRegistryInfo registryInfo;
NodeMetadata nodeMetadata;
char wantedAdapter[3 * PATH_SIZE];  // Kelvora.gpu.adapter:, UTF-8 as the names are
uint64_t shownMemory[2] = {UINT64_MAX, UINT64_MAX};  // the row's dedicated bytes in use and size
bool waiting = false;               // the last reading found nothing: wait until retryAt
uint64_t retryAt = 0;

uint32_t read32(const unsigned char* at) {
    uint32_t value;
    memcpy(&value, at, sizeof value);
    return value;
}

uint64_t read64(const unsigned char* at) {
    uint64_t value;
    memcpy(&value, at, sizeof value);
    return value;
}

uint64_t luidValue(const Luid& luid) { return static_cast<uint64_t>(static_cast<uint32_t>(luid.high)) << 32 | luid.low; }

void utf8OfWide(const WCHAR* text, int units, char* out, int outSize) {
    const int written = WideCharToMultiByte(CP_UTF8, 0, text, units, out, outSize - 1, nullptr, nullptr);
    out[written > 0 ? written : 0] = '\0';
}

int wideLength(const WCHAR* text, int most) {
    int n = 0;
    while (n < most && text[n]) ++n;
    return n;
}

const char* engineTypeName(int32_t type) {
    static const char* const names[] = {nullptr, "3D", "Video Decode", "Video Encode", "Video Processing",
                                        "Scene Assembly", "Copy", "Overlay", "Crypto"};
    return type > 0 && type < static_cast<int32_t>(sizeof names / sizeof names[0]) ? names[type] : nullptr;
}

// The adapter string its driver reports, else the display device's, else its place in the list.
void nameAdapter(const GpuPlatform& p, GpuAdapter& adapter, UINT handle, const WCHAR* deviceString, uint32_t place) {
    QueryAdapterInfo info = {handle, INFO_ADAPTER_REGISTRY, &registryInfo, sizeof registryInfo};
    if (p.queryAdapterInfo && p.queryAdapterInfo(&info) == ANSWER_OK) {
        utf8OfWide(registryInfo.adapterString, wideLength(registryInfo.adapterString, MAX_PATH), adapter.name,
                   sizeof adapter.name);
        if (adapter.name[0]) return;
    }
    if (deviceString) utf8OfWide(deviceString, wideLength(deviceString, 128), adapter.name, sizeof adapter.name);
    if (!adapter.name[0]) snprintf(adapter.name, sizeof adapter.name, "Adapter %u", place);
}

// Windows 10 names each engine ("3D", "Video Decode"); elsewhere the call fails and the engines
// stay unnamed.
void nameEngines(const GpuPlatform& p, GpuAdapter& adapter, UINT handle) {
    if (!p.queryAdapterInfo) return;
    for (uint32_t e = 0; e < adapter.engineCount; ++e) {
        memset(&nodeMetadata, 0, sizeof nodeMetadata);
        nodeMetadata.nodeOrdinalAndAdapterIndex = e;
        QueryAdapterInfo info = {handle, INFO_NODE_METADATA, &nodeMetadata, sizeof nodeMetadata};
        if (p.queryAdapterInfo(&info) != ANSWER_OK) return;
        utf8OfWide(nodeMetadata.friendlyName, wideLength(nodeMetadata.friendlyName, 32), adapter.engineNames[e],
                   GPU_ENGINE_NAME_SIZE);
        const char* typeName = engineTypeName(nodeMetadata.engineType);
        if (!adapter.engineNames[e][0] && typeName) snprintf(adapter.engineNames[e], GPU_ENGINE_NAME_SIZE, "%s", typeName);
    }
}

bool askStatistics(const GpuPlatform& p, ULONG id) {
    query.id = id;
    return p.queryStatistics(&query) == ANSWER_OK;
}

// An adapter's memory: its segments' committed bytes and sizes summed, dedicated and shared. Not
// inlined into the engines' loop, which then keeps its figures in x86's few registers.
template <bool Wide>
__attribute__((noinline)) void readSegments(const GpuPlatform& p, GpuAdapter& adapter, uint32_t segments) {
    query.type = QUERY_SEGMENT;
    for (uint32_t s = 0; s < segments && s < MAX_GPU_SEGMENTS; ++s) {
        if (!askStatistics(p, s)) continue;
        const unsigned char* r = query.result.bytes;
        if (Wide)
            addGpuSegment(adapter, read64(r + SEGMENT_COMMITTED), read64(r + SEGMENT_LIMIT), read32(r + SEGMENT_APERTURE) != 0);
        else
            addGpuSegment(adapter, read32(r + SEGMENT_V1_COMMITTED), read32(r + SEGMENT_V1_LIMIT),
                          read32(r + SEGMENT_V1_APERTURE) != 0);
    }
}

// One adapter's engines and segments. An adapter whose own statistics do not come is left out of
// the reading, as if it had vanished. `Wide` tells the 64-bit segment counts of Windows 8 and
// later. The query names the adapter once; the kernel answers into the result and leaves the rest.
template <bool Wide>
void readAdapter(const GpuPlatform& p, const Luid& luid, UINT handle, const WCHAR* deviceString) {
    query.luid = luid;
    query.type = QUERY_ADAPTER;
    if (!askStatistics(p, 0)) return;
    const uint32_t nodes = read32(query.result.bytes + ADAPTER_NODES);
    const uint32_t segments = read32(query.result.bytes + ADAPTER_SEGMENTS);
    bool isNew = false;
    const int slot = addGpuAdapter(loads, luidValue(luid), nodes, &isNew);
    if (slot < 0) return;
    GpuAdapter& adapter = loads.slots[slot];
    if (isNew) {
        nameAdapter(p, adapter, handle, deviceString, loads.readingCount - 1);
        nameEngines(p, adapter, handle);
    }
    query.type = QUERY_NODE;
    for (uint32_t e = 0, engines = adapter.engineCount; e < engines; ++e) {
        if (askStatistics(p, e))
            compareGpuEngine(adapter, e, read64(query.result.bytes + NODE_RUNNING_TIME));
        else
            forgetGpuEngine(adapter, e);
    }
    readSegments<Wide>(p, adapter, segments);
}

void closeAdapter(const GpuPlatform& p, UINT handle) {
    CloseAdapter close = {handle};
    if (p.closeAdapter) p.closeAdapter(&close);
}

// Windows 8 and later list every adapter, the ones without a display too. More adapters than a
// reading holds fail the call: the reading then finds nothing.
bool readListedAdapters(const GpuPlatform& p) {
    AdapterInfo listed[MAX_GPU_ADAPTERS];
    EnumAdapters2 list = {MAX_GPU_ADAPTERS, listed};
    if (p.enumAdapters2(&list) != ANSWER_OK) return false;
    const ULONG count = list.count < MAX_GPU_ADAPTERS ? list.count : MAX_GPU_ADAPTERS;
    for (ULONG i = 0; i < count; ++i) readAdapter<true>(p, listed[i].luid, listed[i].adapter, nullptr);
    for (ULONG i = 0; i < count; ++i) closeAdapter(p, listed[i].adapter);
    return true;
}

// Windows Vista and 7: the adapters of the displays on the desktop; an adapter with several
// displays is read once.
bool readDisplayAdapters(const GpuPlatform& p) {
    for (DWORD i = 0; i < MAX_DISPLAY_DEVICES; ++i) {
        DISPLAY_DEVICEW device;
        device.cb = sizeof device;
        if (!p.enumDisplayDevices(nullptr, i, &device, 0)) break;
        if (!(device.StateFlags & DISPLAY_DEVICE_ATTACHED_TO_DESKTOP)) continue;
        OpenAdapterFromGdiDisplayName open = {};
        memcpy(open.deviceName, device.DeviceName, sizeof open.deviceName);
        if (p.openAdapterFromGdiDisplayName(&open) != ANSWER_OK) continue;
        readAdapter<false>(p, open.luid, open.adapter, device.DeviceString);
        closeAdapter(p, open.adapter);
    }
    return true;
}

bool readAdapters(const GpuPlatform& p) {
    if (!p.queryStatistics) return false;
    beginGpuReading(loads, p.now());
    bool listed = false;
    if (p.enumAdapters2)
        listed = readListedAdapters(p);
    else if (p.openAdapterFromGdiDisplayName && p.enumDisplayDevices)
        listed = readDisplayAdapters(p);
    endGpuReading(loads);
    if (!listed) return false;
    for (uint32_t i = 0; i < loads.count; ++i)
        if (loads.slots[loads.order[i]].engineCount > 0) return true;
    return false;
}

// The row's text is made anew only when its byte counts change: the segments' committed bytes
// stand still for long on a steady desktop.
void showMemory(const GpuAdapter* adapter) {
    if (!adapter) {
        shownMemory[0] = shownMemory[1] = UINT64_MAX;
        showRowValue(ITEM_GPU_MEMORY, "n/a");
        return;
    }
    if (adapter->dedicatedUsed == shownMemory[0] && adapter->dedicatedSize == shownMemory[1]) return;
    shownMemory[0] = adapter->dedicatedUsed;
    shownMemory[1] = adapter->dedicatedSize;
    char used[BYTE_SIZE_TEXT_MAX + 1], size[BYTE_SIZE_TEXT_MAX + 1], memory[VALUE_SIZE];
    formatByteSize(used, static_cast<int64_t>(shownMemory[0] > INT64_MAX ? INT64_MAX : shownMemory[0]));
    formatByteSize(size, static_cast<int64_t>(shownMemory[1] > INT64_MAX ? INT64_MAX : shownMemory[1]));
    snprintf(memory, sizeof memory, "%s / %s", used, size);
    showRowValue(ITEM_GPU_MEMORY, memory);
}

void showShownAdapter() {
    shownSlot = shownGpuAdapter(loads, wantedAdapter);
    const GpuAdapter* adapter = shownSlot >= 0 ? &loads.slots[shownSlot] : nullptr;
    const int32_t percent = adapter ? gpuAdapterLoad(loads, *adapter) : -1;
    panelModel.gpuPercent = percent;
    scrollGraph(GRAPH_GPU, pushHistory(panelModel.graphs[GRAPH_GPU], percent < 0 ? 0 : percent));
    showMemory(adapter);
}

void followSettings() {
    if (!panelModel.gpuRestart) return;
    panelModel.gpuRestart = false;
    restartGpuLoads(loads);
    shownMemory[0] = shownMemory[1] = UINT64_MAX;
    WCHAR wide[PATH_SIZE];
    const int units = MultiByteToWideChar(CP_ACP, 0, panelModel.gpuAdapter, -1, wide, PATH_SIZE);
    wantedAdapter[0] = '\0';
    if (units > 0) utf8OfWide(wide, units - 1, wantedAdapter, sizeof wantedAdapter);
}

}  // namespace

const GpuPlatform& gpuPlatform() { return installedPlatform ? *installedPlatform : systemPlatform; }

void installGpuPlatform(const GpuPlatform* platform) {
    installedPlatform = platform;
    releaseGpuSampler();
}

void lookUpGpuStatistics() {
    HMODULE gdi32 = GetModuleHandleA("gdi32.dll");
    auto thunk = [gdi32](const char* name) { return reinterpret_cast<KernelThunk>(reinterpret_cast<void*>(GetProcAddress(gdi32, name))); };
    systemPlatform.enumAdapters2 = thunk("D3DKMTEnumAdapters2");
    systemPlatform.openAdapterFromGdiDisplayName = thunk("D3DKMTOpenAdapterFromGdiDisplayName");
    systemPlatform.closeAdapter = thunk("D3DKMTCloseAdapter");
    systemPlatform.queryStatistics = thunk("D3DKMTQueryStatistics");
    systemPlatform.queryAdapterInfo = thunk("D3DKMTQueryAdapterInfo");
}

bool gpuPartsShown() {
    const GraphState& g = panelModel.graphs[GRAPH_GPU];
    const InfoItem& row = panelModel.items[ITEM_GPU_MEMORY];
    return (g.width >= 1 && g.height >= 1) || row.right > row.left;
}

void readGpu() {
    const GpuPlatform& p = gpuPlatform();
    if (waiting && p.now() < retryAt) return;
    waiting = !readAdapters(p);
    if (waiting) {
        // The reading after the wait takes its baseline afresh: it shows 0, never a spike.
        retryAt = p.now() + RETRY_AFTER;
        restartGpuLoads(loads);
        loads.count = 0;
    }
}

void sampleGpu() {
    followSettings();
    readGpu();
    showShownAdapter();
}

const GpuLoads& gpuReading() { return loads; }

int gpuShownSlot() { return shownSlot; }

void releaseGpuSampler() {
    restartGpuLoads(loads);
    loads.present = 0;
    loads.count = 0;
    shownSlot = -1;
    waiting = false;
    retryAt = 0;
    panelModel.gpuRestart = true;
}
