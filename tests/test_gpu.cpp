// The GPU reading of the CPU tick on adapters fed through its seam: the calls it makes and the
// adapters it closes, the graph's samples, caption and memory row, the kernel's layouts on both
// ways of listing adapters, names asked once, and the minute's wait where nothing can be read.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "config/panel_model.h"
#include "config/settings.h"
#include "render/painter.h"
#include "sampling/gpu_sampler.h"
#include "sampling/part_details.h"
#include "sampling/samplers.h"
#include "support/check_lines.h"
#include "support/fake_host.h"
#include "support/test_support.h"

using namespace testsupport;
using namespace d3dkmt;

namespace {

constexpr uint64_t SECOND = 10000000;

struct FedEngine {
    int load;
    uint64_t running;
    std::string name;
};
struct FedAdapterState {
    DWORD luid;
    std::string name;
    std::vector<FedEngine> engines;
    std::vector<uint64_t> committed, sizes;
    std::vector<bool> aperture;
};

// The fed machine and the calls made to it, in order.
struct FedGpus {
    std::vector<FedAdapterState> adapters;
    uint64_t clock = 100 * SECOND;
    std::vector<std::string> calls;
    int open = 0;         // handles given out and not closed
    bool oldLayout = false;  // segments in the 32-bit layout of Windows Vista and 7
    LONG statisticsFailure = 0;
    void second() {
        clock += SECOND;
        for (auto& a : adapters)
            for (auto& e : a.engines) e.running += SECOND * static_cast<uint64_t>(e.load) / 100;
    }
    const FedAdapterState* byLuid(const Luid& luid) const {
        for (const auto& a : adapters)
            if (a.luid == luid.low && luid.high == 7) return &a;
        return nullptr;
    }
};
FedGpus gpus;

LONG APIENTRY fedEnum(void* arguments) {
    auto* list = static_cast<EnumAdapters2*>(arguments);
    gpus.calls.push_back("enum " + std::to_string(list->count));
    if (list->count < gpus.adapters.size()) {
        list->count = static_cast<ULONG>(gpus.adapters.size());
        return ANSWER_BUFFER_TOO_SMALL;
    }
    list->count = static_cast<ULONG>(gpus.adapters.size());
    for (size_t i = 0; i < gpus.adapters.size(); ++i) {
        list->adapters[i] = AdapterInfo{static_cast<UINT>(50 + i), Luid{gpus.adapters[i].luid, 7}, 1, FALSE};
        ++gpus.open;
    }
    return ANSWER_OK;
}

LONG APIENTRY fedClose(void* arguments) {
    gpus.calls.push_back("close " + std::to_string(static_cast<CloseAdapter*>(arguments)->adapter));
    --gpus.open;
    return ANSWER_OK;
}

LONG APIENTRY fedStatistics(void* arguments) {
    auto* q = static_cast<QueryStatistics*>(arguments);
    const char* kinds[] = {"adapter", "", "", "segment", "", "node"};
    gpus.calls.push_back(std::string("statistics ") + kinds[q->type] + " " + std::to_string(q->luid.low) +
                         (q->type == QUERY_ADAPTER ? "" : " " + std::to_string(q->id)));
    if (gpus.statisticsFailure) return gpus.statisticsFailure;
    const FedAdapterState* a = gpus.byLuid(q->luid);
    if (!a || q->process) return static_cast<LONG>(0xC000000D);
    unsigned char* r = q->result.bytes;
    memset(r, 0xEE, QUERY_RESULT_SIZE);  // what the sampler must not read
    auto put32 = [](unsigned char* at, uint32_t v) { memcpy(at, &v, 4); };
    auto put64 = [](unsigned char* at, uint64_t v) { memcpy(at, &v, 8); };
    if (q->type == QUERY_ADAPTER) {
        put32(r + ADAPTER_SEGMENTS, static_cast<uint32_t>(a->sizes.size()));
        put32(r + ADAPTER_NODES, static_cast<uint32_t>(a->engines.size()));
    } else if (q->type == QUERY_NODE) {
        if (q->id >= a->engines.size()) return static_cast<LONG>(0xC000000D);
        put64(r + NODE_RUNNING_TIME, a->engines[q->id].running);
    } else if (q->type == QUERY_SEGMENT && !gpus.oldLayout) {
        put64(r + SEGMENT_COMMITTED, a->committed[q->id]);
        put64(r + SEGMENT_LIMIT, a->sizes[q->id]);
        put32(r + SEGMENT_APERTURE, a->aperture[q->id]);
    } else {
        put32(r + SEGMENT_V1_COMMITTED, static_cast<uint32_t>(a->committed[q->id]));
        put32(r + SEGMENT_V1_LIMIT, static_cast<uint32_t>(a->sizes[q->id]));
        put32(r + SEGMENT_V1_APERTURE, a->aperture[q->id]);
    }
    return ANSWER_OK;
}

const FedAdapterState* byHandle(UINT handle) {
    return handle >= 50 && handle - 50 < gpus.adapters.size() ? &gpus.adapters[handle - 50] : nullptr;
}

LONG APIENTRY fedInfo(void* arguments) {
    auto* info = static_cast<QueryAdapterInfo*>(arguments);
    gpus.calls.push_back("info " + std::to_string(info->type) + " " + std::to_string(info->adapter));
    const FedAdapterState* a = byHandle(info->adapter);
    if (!a) return static_cast<LONG>(0xC000000D);
    if (info->type == INFO_ADAPTER_REGISTRY && info->dataSize == sizeof(AdapterRegistryInfo)) {
        auto* registry = static_cast<AdapterRegistryInfo*>(info->data);
        MultiByteToWideChar(CP_UTF8, 0, a->name.c_str(), -1, registry->adapterString, MAX_PATH);
        return ANSWER_OK;
    }
    if (info->type == INFO_NODE_METADATA && info->dataSize == sizeof(NodeMetadata)) {
        auto* node = static_cast<NodeMetadata*>(info->data);
        const FedEngine& e = a->engines.at(node->nodeOrdinalAndAdapterIndex);
        node->engineType = e.name == "type 6" ? 6 : 0;  // a copy engine whose driver gives no name
        if (e.name != "type 6") MultiByteToWideChar(CP_UTF8, 0, e.name.c_str(), -1, node->friendlyName, 32);
        return ANSWER_OK;
    }
    return static_cast<LONG>(0xC00000BB);
}

// Windows Vista and 7: two displays on the first adapter, one detached, one on the second.
BOOL WINAPI fedDisplays(LPCWSTR, DWORD index, PDISPLAY_DEVICEW device, DWORD) {
    const DWORD adapterOf[] = {0, 0, 9, 1};
    if (index >= 4) return FALSE;
    swprintf(device->DeviceName, 32, L"\\\\.\\DISPLAY%lu", index + 1);
    swprintf(device->DeviceString, 128, L"Display adapter %lu", adapterOf[index]);
    device->StateFlags = adapterOf[index] == 9 ? 0 : DISPLAY_DEVICE_ATTACHED_TO_DESKTOP;
    return TRUE;
}

LONG APIENTRY fedOpenFromDisplay(void* arguments) {
    auto* open = static_cast<OpenAdapterFromGdiDisplayName*>(arguments);
    const size_t adapter = open->deviceName[11] == L'4' ? 1 : 0;
    gpus.calls.push_back("open display " + std::to_string(open->deviceName[11] - L'0'));
    open->adapter = static_cast<UINT>(50 + adapter);
    open->luid = Luid{gpus.adapters[adapter].luid, 7};
    ++gpus.open;
    return ANSWER_OK;
}

uint64_t fedClock() { return gpus.clock; }

const GpuPlatform windows10 = {fedEnum, nullptr, fedClose, fedStatistics, fedInfo, nullptr, fedClock};
const GpuPlatform windows7 = {nullptr, fedOpenFromDisplay, fedClose, fedStatistics, fedInfo, fedDisplays, fedClock};
const GpuPlatform windowsXp = {nullptr, nullptr, nullptr, nullptr, nullptr, fedDisplays, fedClock};

// Two adapters: a discrete one with named engines and an integrated one busier.
void feedTwoAdapters() {
    gpus = FedGpus{};
    gpus.adapters = {
        {11, "Test RTX", {{40, 0, "3D"}, {0, 0, "Copy"}, {15, 0, "Video Decode"}}, {1342177280, 104857600},
         {8589934592, 17179869184}, {false, true}},
        {22, "Test UHD", {{25, 0, "type 6"}, {70, 0, ""}}, {268435456, 524288000}, {536870912, 8589934592}, {false, true}},
    };
}

// A model with a GPU graph and memory row shown, as a reload makes it.
void loadGpuModel(const GpuPlatform& platform, const char* adapter = "") {
    resetModel();
    fakehost::reset();
    snprintf(panelModel.rcPath, PATH_SIZE, "%s", "C:\\k\\Kelvora.rc");
    fakehost::set("Kelvora.gpuGraph.width:", "10");
    fakehost::set("Kelvora.gpuGraph.height:", "20");
    fakehost::set("Kelvora.gpuMemory.left:", "0");
    fakehost::set("Kelvora.gpuMemory.right:", "200");
    fakehost::set("Kelvora.gpu.adapter:", adapter);
    reloadSettings();
    installGpuPlatform(&platform);
    gpus.calls.clear();
}

std::vector<int64_t> gpuSamples() { return historyOf(panelModel.graphs[GRAPH_GPU]); }

std::vector<std::string> tooltipLines() {
    DetailText detail;
    clearDetail(detail);
    describeGpu(0, detail);
    return testsupport::crLfLines(std::string(detail.text, detail.length));
}

}  // namespace

TEST_CASE("GPU reading: the calls of a tick, adapters closed, names once, the busiest adapter shown") {
    feedTwoAdapters();
    loadGpuModel(windows10);
    sampleGpu();
    checkLines({"enum 16", "statistics adapter 11", "info 8 50", "info 25 50", "info 25 50", "info 25 50",
                "statistics node 11 0", "statistics node 11 1", "statistics node 11 2", "statistics segment 11 0",
                "statistics segment 11 1", "statistics adapter 22", "info 8 51", "info 25 51", "info 25 51",
                "statistics node 22 0", "statistics node 22 1", "statistics segment 22 0", "statistics segment 22 1",
                "close 50", "close 51"},
               gpus.calls);
    CHECK(gpus.open == 0);
    CHECK(panelModel.gpuPercent == 0);  // the first tick: a baseline, never a spike
    gpus.second();
    gpus.calls.clear();
    sampleGpu();
    // No names asked again.
    for (const std::string& call : gpus.calls) CHECK(call.rfind("info", 0) == std::string::npos);
    CHECK(gpus.open == 0);
    CHECK(panelModel.gpuPercent == 70);
    CHECK(gpuSamples() == std::vector<int64_t>{0, 0, 0, 0, 0, 0, 0, 0, 0, 70});
    CHECK(std::string(panelModel.items[ITEM_GPU_MEMORY].value) == "256.0 MB / 512.0 MB");
    checkLines({"Test RTX: 40%", "Engines: 3D 40%, Video Decode 15%, Copy 0%", "Dedicated memory: 1.25 GB / 8.00 GB",
                "Shared memory: 100.0 MB / 16.00 GB", "Test UHD: 70%", "Engines: Engine 1 70%, Copy 25%",
                "Dedicated memory: 256.0 MB / 512.0 MB", "Shared memory: 500.0 MB / 8.00 GB"},
               tooltipLines());
    // A reload: the next reading takes its baseline again.
    reloadSettings();
    gpus.second();
    sampleGpu();
    CHECK(panelModel.gpuPercent == 0);
    // The CPU tick reads it while a GPU part is shown, and only then.
    gpus.second();
    gpus.calls.clear();
    sampleCpu(nullptr, 0, 0, 0);
    CHECK_FALSE(gpus.calls.empty());
    fakehost::set("Kelvora.gpuGraph.width:", "0");
    fakehost::set("Kelvora.gpuMemory.right:", "0");
    reloadSettings();
    gpus.calls.clear();
    sampleCpu(nullptr, 0, 0, 0);
    CHECK(gpus.calls.empty());
    installGpuPlatform(nullptr);
}

TEST_CASE("GPU reading: an adapter named by its string or its place; a name that matches none shows n/a") {
    const std::vector<std::pair<const char*, std::pair<int, const char*>>> cases = {
        {"test rtx", {40, "1.25 GB / 8.00 GB"}},
        {"1", {70, "256.0 MB / 512.0 MB"}},
        {"0", {40, "1.25 GB / 8.00 GB"}},
        {"Test", {-1, "n/a"}},
        {"2", {-1, "n/a"}},
    };
    for (const auto& c : cases) {
        CAPTURE(c.first);
        feedTwoAdapters();
        loadGpuModel(windows10, c.first);
        sampleGpu();
        gpus.second();
        sampleGpu();
        CHECK(panelModel.gpuPercent == c.second.first);
        CHECK(std::string(panelModel.items[ITEM_GPU_MEMORY].value) == c.second.second);
        CHECK(gpuSamples().back() == (c.second.first < 0 ? 0 : c.second.first));
    }
    installGpuPlatform(nullptr);
}

TEST_CASE("GPU reading on Windows Vista and 7: the displays' adapters, each once, with 32-bit segment counts") {
    feedTwoAdapters();
    gpus.oldLayout = true;
    gpus.adapters[0].sizes[0] = 2147483648;  // the old layout's counts are 32 bits
    loadGpuModel(windows7, "Test RTX");
    sampleGpu();
    gpus.second();
    gpus.calls.clear();
    sampleGpu();
    checkLines({"open display 1", "statistics adapter 11", "statistics node 11 0", "statistics node 11 1",
                "statistics node 11 2", "statistics segment 11 0", "statistics segment 11 1", "close 50",
                "open display 2", "statistics adapter 11", "close 50", "open display 4", "statistics adapter 22",
                "statistics node 22 0", "statistics node 22 1", "statistics segment 22 0", "statistics segment 22 1",
                "close 51"},
               gpus.calls);
    CHECK(gpus.open == 0);
    CHECK(panelModel.gpuPercent == 40);
    CHECK(std::string(panelModel.items[ITEM_GPU_MEMORY].value) == "1.25 GB / 2.00 GB");
    installGpuPlatform(nullptr);
}

TEST_CASE("GPU reading without the functions, failing or without engines: n/a, asked again a minute later") {
    struct Case {
        const char* name;
        const GpuPlatform* platform;
        LONG failure;
        bool engines;
    };
    const Case cases[] = {{"Windows XP: no thunks", &windowsXp, 0, true},
                          {"statistics fail", &windows10, static_cast<LONG>(0xC0000002), true},
                          {"no adapter has an engine", &windows10, 0, false}};
    for (const Case& c : cases) {
        CAPTURE(c.name);
        feedTwoAdapters();
        if (!c.engines)
            for (auto& a : gpus.adapters) a.engines.clear();
        gpus.statisticsFailure = c.failure;
        loadGpuModel(*c.platform);
        sampleGpu();
        CHECK(panelModel.gpuPercent == -1);
        CHECK(std::string(panelModel.items[ITEM_GPU_MEMORY].value) == "n/a");
        CHECK(tooltipLines() == std::vector<std::string>{"GPU: n/a"});
        const size_t asked = gpus.calls.size();
        CHECK(gpus.open == 0);
        for (int s = 0; s < 59; ++s) {
            gpus.second();
            sampleGpu();
        }
        CHECK(gpus.calls.size() == asked);  // nothing asked within the minute
        CHECK(gpuSamples() == std::vector<int64_t>(10, 0));
        // After a minute the system is asked again; once it answers, the reading starts at 0.
        gpus.statisticsFailure = 0;
        if (!c.engines) {
            const std::vector<std::string> calls = gpus.calls;
            const uint64_t clock = gpus.clock;
            feedTwoAdapters();
            gpus.calls = calls;
            gpus.clock = clock;
        }
        gpus.second();
        sampleGpu();
        if (c.platform == &windowsXp) {
            CHECK(gpus.calls.empty());
        } else {
            CHECK(gpus.calls.size() > asked);
            CHECK(panelModel.gpuPercent == 0);
            gpus.second();
            sampleGpu();
            CHECK(panelModel.gpuPercent == 70);
        }
        CHECK(gpus.open == 0);
    }
    installGpuPlatform(nullptr);
}
