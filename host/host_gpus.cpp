// Graphics adapters of the stand-in host: with --gpu-table or the gpu-table step it feeds the
// plugin adapters of its own, each engine running a set share of the time and each memory segment
// holding set bytes, through the kernel thunks the plugin looks up in gdi32 (the adapter list of
// Windows 8 and later, the statistics, the adapter's names, the close). Wine's gdi32 lacks the
// list and answers no statistics.
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "host/host.h"
#include "sampling/gpu_sampler.h"

namespace host {

namespace {

using namespace d3dkmt;

constexpr LONG ANSWER_NOT_IMPLEMENTED = static_cast<LONG>(0xC0000002);
constexpr LONG ANSWER_INVALID_PARAMETER = static_cast<LONG>(0xC000000D);
constexpr LONG ANSWER_NOT_SUPPORTED = static_cast<LONG>(0xC00000BB);
// Handles the host's list gives out: the adapter's place after this base.
constexpr UINT HANDLE_BASE = 0x40000000;

struct FedEngine {
    std::string name;
    uint64_t load = 0;     // percent of the time it runs from the load on
    uint64_t running = 0;  // its running time when the table was loaded, in 100 ns
};

struct FedSegment {
    uint64_t committed = 0, size = 0;
    bool aperture = false;
};

struct FedAdapter {
    uint64_t luid = 0;
    std::string name;
    std::vector<FedEngine> engines;
    std::vector<FedSegment> segments;
};

bool feeding = false;
std::vector<FedAdapter> fed;
LARGE_INTEGER fedSince = {};
long openHandles = 0;

// 100 ns units since the table was loaded, from the clock the plugin reads its interval with.
uint64_t sinceLoad() {
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    const uint64_t ticks = static_cast<uint64_t>(now.QuadPart - fedSince.QuadPart);
    const uint64_t f = static_cast<uint64_t>(frequency.QuadPart);
    return ticks / f * 10000000 + ticks % f * 10000000 / f;
}

uint64_t runningNow(const FedEngine& engine) { return engine.running + sinceLoad() * engine.load / 100; }

const FedAdapter* adapterOf(const Luid& luid) {
    const uint64_t value = static_cast<uint64_t>(static_cast<uint32_t>(luid.high)) << 32 | luid.low;
    for (const FedAdapter& a : fed)
        if (a.luid == value) return &a;
    return nullptr;
}

const FedAdapter* adapterOfHandle(UINT handle) {
    if (handle < HANDLE_BASE || handle - HANDLE_BASE >= fed.size()) return nullptr;
    return &fed[handle - HANDLE_BASE];
}

void put32(unsigned char* at, uint32_t value) { memcpy(at, &value, sizeof value); }
void put64(unsigned char* at, uint64_t value) { memcpy(at, &value, sizeof value); }

LONG APIENTRY fedEnumAdapters2(void* arguments) {
    if (!feeding) return ANSWER_NOT_IMPLEMENTED;
    auto* list = static_cast<EnumAdapters2*>(arguments);
    const ULONG room = list->count;
    list->count = static_cast<ULONG>(fed.size());
    if (!list->adapters) return ANSWER_OK;
    if (room < fed.size()) return ANSWER_BUFFER_TOO_SMALL;
    for (size_t i = 0; i < fed.size(); ++i) {
        AdapterInfo& info = list->adapters[i];
        info.adapter = HANDLE_BASE + static_cast<UINT>(i);
        info.luid.low = static_cast<DWORD>(fed[i].luid);
        info.luid.high = static_cast<LONG>(fed[i].luid >> 32);
        info.sources = 1;
        info.precisePresentRegionsPreferred = FALSE;
        ++openHandles;
    }
    return ANSWER_OK;
}

LONG APIENTRY fedCloseAdapter(void* arguments) {
    const auto* close = static_cast<CloseAdapter*>(arguments);
    if (close->adapter < HANDLE_BASE || openHandles <= 0) return ANSWER_INVALID_PARAMETER;
    --openHandles;
    return ANSWER_OK;
}

LONG APIENTRY fedQueryStatistics(void* arguments) {
    if (!feeding) return ANSWER_NOT_IMPLEMENTED;
    auto* query = static_cast<QueryStatistics*>(arguments);
    const FedAdapter* adapter = adapterOf(query->luid);
    if (!adapter) return ANSWER_INVALID_PARAMETER;
    unsigned char* result = query->result.bytes;
    switch (query->type) {
        case QUERY_ADAPTER:
            memset(result, 0, QUERY_RESULT_SIZE);
            put32(result + ADAPTER_SEGMENTS, static_cast<uint32_t>(adapter->segments.size()));
            put32(result + ADAPTER_NODES, static_cast<uint32_t>(adapter->engines.size()));
            return ANSWER_OK;
        case QUERY_NODE:
            if (query->id >= adapter->engines.size()) return ANSWER_INVALID_PARAMETER;
            memset(result, 0, QUERY_RESULT_SIZE);
            put64(result + NODE_RUNNING_TIME, runningNow(adapter->engines[query->id]));
            return ANSWER_OK;
        case QUERY_SEGMENT: {
            if (query->id >= adapter->segments.size()) return ANSWER_INVALID_PARAMETER;
            const FedSegment& segment = adapter->segments[query->id];
            memset(result, 0, QUERY_RESULT_SIZE);
            put64(result + SEGMENT_LIMIT, segment.size);
            put64(result + SEGMENT_COMMITTED, segment.committed);
            put32(result + SEGMENT_APERTURE, segment.aperture ? 1 : 0);
            return ANSWER_OK;
        }
    }
    return ANSWER_INVALID_PARAMETER;
}

void copyWide(const std::string& text, WCHAR* out, int units) {
    const int written = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, out, units);
    if (written <= 0) out[0] = L'\0';
    out[units - 1] = L'\0';
}

// The adapter string, and the engines' names as Windows 10 gives them (an unnamed engine of the
// table has type "other" and no name).
LONG APIENTRY fedQueryAdapterInfo(void* arguments) {
    auto* info = static_cast<QueryAdapterInfo*>(arguments);
    const FedAdapter* adapter = adapterOfHandle(info->adapter);
    if (!adapter || !info->data) return ANSWER_INVALID_PARAMETER;
    if (info->type == INFO_ADAPTER_REGISTRY && info->dataSize == sizeof(AdapterRegistryInfo)) {
        auto* registry = static_cast<AdapterRegistryInfo*>(info->data);
        memset(registry, 0, sizeof *registry);
        copyWide(adapter->name, registry->adapterString, MAX_PATH);
        return ANSWER_OK;
    }
    if (info->type == INFO_NODE_METADATA && info->dataSize == sizeof(NodeMetadata)) {
        auto* node = static_cast<NodeMetadata*>(info->data);
        const UINT ordinal = node->nodeOrdinalAndAdapterIndex & 0xFFFF;
        if (ordinal >= adapter->engines.size()) return ANSWER_INVALID_PARAMETER;
        memset(node, 0, sizeof *node);
        node->nodeOrdinalAndAdapterIndex = ordinal;
        copyWide(adapter->engines[ordinal].name, node->friendlyName, 32);
        return ANSWER_OK;
    }
    return ANSWER_NOT_SUPPORTED;
}

std::string firstWord(const std::string& line, size_t* at) {
    while (*at < line.size() && (line[*at] == ' ' || line[*at] == '\t')) ++*at;
    const size_t begin = *at;
    while (*at < line.size() && line[*at] != ' ' && line[*at] != '\t') ++*at;
    return line.substr(begin, *at - begin);
}

// "adapter luid=N name=\"…\"", then its "engine load=N name=\"…\"" and "segment committed=N
// size=N aperture=0|1" lines.
bool parseLine(const std::string& line, std::vector<FedAdapter>* adapters, std::string* error) {
    size_t at = 0;
    const std::string kind = firstWord(line, &at);
    std::string key, value;
    uint64_t number = 0;
    bool bad = kind != "adapter" && (adapters->empty() || (kind != "engine" && kind != "segment"));
    if (kind == "adapter") adapters->push_back(FedAdapter());
    FedAdapter* adapter = adapters->empty() ? nullptr : &adapters->back();
    if (!bad && kind == "engine") adapter->engines.push_back(FedEngine());
    if (!bad && kind == "segment") adapter->segments.push_back(FedSegment());
    while (!bad && nextTableField(line, &at, &key, &value)) {
        const bool numeric = parseTableNumber(value, &number);
        if (kind == "adapter" && key == "name")
            adapter->name = value;
        else if (kind == "adapter" && key == "luid" && numeric)
            adapter->luid = number;
        else if (kind == "engine" && key == "name")
            adapter->engines.back().name = value;
        else if (kind == "engine" && key == "load" && numeric && number <= 100)
            adapter->engines.back().load = number;
        else if (kind == "segment" && key == "committed" && numeric)
            adapter->segments.back().committed = number;
        else if (kind == "segment" && key == "size" && numeric)
            adapter->segments.back().size = number;
        else if (kind == "segment" && key == "aperture" && numeric && number <= 1)
            adapter->segments.back().aperture = number == 1;
        else
            bad = true;
    }
    while (at < line.size() && (line[at] == ' ' || line[at] == '\t')) ++at;
    if (bad || at < line.size()) {
        *error = "cannot read the GPU table line \"" + line + "\"";
        return false;
    }
    return true;
}

}  // namespace

bool loadGpuTable(const char* file, std::string* error) {
    std::vector<std::string> lines;
    if (!readTableLines(file, "GPU table", &lines, error)) return false;
    std::vector<FedAdapter> adapters;
    for (const std::string& line : lines)
        if (!parseLine(line, &adapters, error)) return false;
    // An engine that the table fed before, at the same place of an adapter of the same LUID, goes
    // on from its running time, as a real one does when only its load changes.
    for (FedAdapter& adapter : adapters)
        for (const FedAdapter& before : fed)
            if (feeding && before.luid == adapter.luid)
                for (size_t e = 0; e < adapter.engines.size() && e < before.engines.size(); ++e)
                    adapter.engines[e].running = runningNow(before.engines[e]);
    size_t engines = 0;
    for (const FedAdapter& adapter : adapters) engines += adapter.engines.size();
    fed = adapters;
    QueryPerformanceCounter(&fedSince);
    feeding = true;
    logLine("gpu-table %s: %u adapters, %u engines", quoted(file).c_str(), static_cast<unsigned>(fed.size()),
            static_cast<unsigned>(engines));
    return true;
}

FARPROC gpuTableLookup(const char* name) {
    if (!name) return nullptr;
    if (strcmp(name, "D3DKMTEnumAdapters2") == 0) return reinterpret_cast<FARPROC>(fedEnumAdapters2);
    if (strcmp(name, "D3DKMTQueryStatistics") == 0) return reinterpret_cast<FARPROC>(fedQueryStatistics);
    if (strcmp(name, "D3DKMTQueryAdapterInfo") == 0) return reinterpret_cast<FARPROC>(fedQueryAdapterInfo);
    if (strcmp(name, "D3DKMTCloseAdapter") == 0) return reinterpret_cast<FARPROC>(fedCloseAdapter);
    return nullptr;
}

long gpuAdaptersOpen() { return openHandles; }

void logGpus() {
    if (!feeding) {
        logLine("gpus: none fed");
        return;
    }
    for (const FedAdapter& adapter : fed) logLine("gpu %s", quoted(adapter.name.c_str()).c_str());
}

}  // namespace host
