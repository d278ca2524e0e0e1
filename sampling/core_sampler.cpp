// The processor list and the utility counter. The processor times come from the native system
// query, which Windows XP already has and Wine answers from the host's own per-processor counts;
// on Windows 7 and later its group-by-group form reads machines of more than 64 processors,
// whose plain form answers only the caller's group. The utility counter comes from pdh.dll,
// loaded only while the measure asks for it.
#include "sampling/core_sampler.h"

#include <pdh.h>

#include <cstring>

#include "config/panel_model.h"
#include "render/painter.h"
#include "sampling/core_loads.h"
#include "sampling/load_meter.h"

namespace {

// SystemProcessorPerformanceInformation: one record of CORE_RECORD_SIZE bytes a processor.
constexpr ULONG PROCESSOR_TIMES_CLASS = 8;
constexpr LONG STATUS_OK = 0;

CorePlatform systemPlatform = {nullptr, nullptr, nullptr};
const CorePlatform* installedCorePlatform = nullptr;

// Kept from tick to tick; a reading writes into both and allocates nothing.
CoreLoads cores;
uint8_t groupAnswer[MAX_GROUP_CORES * CORE_RECORD_SIZE];

template <typename Function>
Function lookUp(const char* module, const char* name) {
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA(module), name)));
}

// One group's records into the reading; false when the system did not answer or answered more
// than a group can hold.
bool readGroup(const CorePlatform& platform, bool byGroup, USHORT group) {
    ULONG returned = 0;
    const LONG status =
        byGroup ? platform.querySystemInformationEx(PROCESSOR_TIMES_CLASS, &group, sizeof group, groupAnswer,
                                                    sizeof groupAnswer, &returned)
                : platform.querySystemInformation(PROCESSOR_TIMES_CLASS, groupAnswer, sizeof groupAnswer, &returned);
    if (status != STATUS_OK || returned > sizeof groupAnswer) return false;
    addCoreGroup(cores, groupAnswer, returned);
    return true;
}

// Without the system's groups there is one; a failed count is one too.
void readEveryGroup(const CorePlatform& platform) {
    const WORD groups = platform.activeGroupCount ? platform.activeGroupCount() : 1;
    const bool byGroup = groups > 1 && platform.querySystemInformationEx;
    if (!byGroup) {
        if (!platform.querySystemInformation || !readGroup(platform, false, 0)) failCoreReading(cores);
        return;
    }
    for (WORD g = 0; g < groups && g < MAX_CORE_GROUPS; ++g)
        if (!readGroup(platform, true, g)) {
            failCoreReading(cores);
            return;
        }
}

// ---- The utility counter ---------------------------------------------------------------------

// Keeps values above 100 (processors above their nominal frequency): the figure caps them itself.
constexpr DWORD FORMAT_NOT_CAPPED = 0x00008000;
// A counter value's status: valid, or valid and the first since the counter was added.
constexpr DWORD VALUE_VALID = 0x00000000;
constexpr DWORD VALUE_NEW = 0x00000001;
const char* const UTILITY_COUNTER = "\\Processor Information(_Total)\\% Processor Utility";

typedef PDH_STATUS(WINAPI* OpenQueryFn)(LPCSTR, DWORD_PTR, PDH_HQUERY*);
typedef PDH_STATUS(WINAPI* AddEnglishCounterFn)(PDH_HQUERY, LPCSTR, DWORD_PTR, PDH_HCOUNTER*);
typedef PDH_STATUS(WINAPI* CollectQueryDataFn)(PDH_HQUERY);
typedef PDH_STATUS(WINAPI* GetFormattedCounterValueFn)(PDH_HCOUNTER, DWORD, LPDWORD, PPDH_FMT_COUNTERVALUE);
typedef PDH_STATUS(WINAPI* CloseQueryFn)(PDH_HQUERY);

struct Pdh {
    HMODULE library;
    CollectQueryDataFn collect;
    GetFormattedCounterValueFn format;
    CloseQueryFn closeQuery;
    PDH_HQUERY query;
    PDH_HCOUNTER counter;
};
Pdh pdh = {};

void closePdh() {
    if (pdh.query && pdh.closeQuery) pdh.closeQuery(pdh.query);
    if (pdh.library) FreeLibrary(pdh.library);
    pdh = Pdh{};
}

// The English counter name finds the counter whatever the display language. Windows 8 and later
// have the counter; before them, and under Wine, the counter or the function is missing.
bool openPdh() {
    pdh.library = LoadLibraryA("pdh.dll");
    if (!pdh.library) return false;
    auto function = [](const char* name) { return reinterpret_cast<void*>(GetProcAddress(pdh.library, name)); };
    const auto openQuery = reinterpret_cast<OpenQueryFn>(function("PdhOpenQueryA"));
    const auto addCounter = reinterpret_cast<AddEnglishCounterFn>(function("PdhAddEnglishCounterA"));
    pdh.collect = reinterpret_cast<CollectQueryDataFn>(function("PdhCollectQueryData"));
    pdh.format = reinterpret_cast<GetFormattedCounterValueFn>(function("PdhGetFormattedCounterValue"));
    pdh.closeQuery = reinterpret_cast<CloseQueryFn>(function("PdhCloseQuery"));
    bool opened = openQuery && addCounter && pdh.collect && pdh.format && pdh.closeQuery &&
                  openQuery(nullptr, 0, &pdh.query) == ERROR_SUCCESS;
    opened = opened && addCounter(pdh.query, UTILITY_COUNTER, 0, &pdh.counter) == ERROR_SUCCESS;
    if (!opened) closePdh();
    return opened;
}

// A rate counter has a value from its second sample on.
bool readPdh(double* value) {
    if (pdh.collect(pdh.query) != ERROR_SUCCESS) return false;
    PDH_FMT_COUNTERVALUE formatted = {};
    if (pdh.format(pdh.counter, PDH_FMT_DOUBLE | FORMAT_NOT_CAPPED, nullptr, &formatted) != ERROR_SUCCESS)
        return false;
    if (formatted.CStatus != VALUE_VALID && formatted.CStatus != VALUE_NEW) return false;
    *value = formatted.doubleValue;
    return true;
}

const UtilityPlatform systemUtility = {openPdh, readPdh, closePdh};
const UtilityPlatform* installedUtility = nullptr;

// Closed until the measure asks for utility; unavailable once opening failed, until the measure
// goes back to busy time, so that a system without the counter is not asked at every tick.
enum UtilityState { utilityClosed, utilityOpen, utilityUnavailable };
UtilityState utility = utilityClosed;

void closeUtility() {
    if (utility == utilityOpen) utilityPlatform().close();
    utility = utilityClosed;
}

}  // namespace

const CorePlatform& corePlatform() { return installedCorePlatform ? *installedCorePlatform : systemPlatform; }

void installCorePlatform(const CorePlatform* platform) { installedCorePlatform = platform; }

void lookUpProcessorTimes() {
    systemPlatform.activeGroupCount = lookUp<WORD(WINAPI*)()>("kernel32.dll", "GetActiveProcessorGroupCount");
    systemPlatform.querySystemInformation =
        lookUp<decltype(systemPlatform.querySystemInformation)>("ntdll.dll", "NtQuerySystemInformation");
    systemPlatform.querySystemInformationEx =
        lookUp<decltype(systemPlatform.querySystemInformationEx)>("ntdll.dll", "NtQuerySystemInformationEx");
}

namespace {

bool sameBarHeights(const uint8_t* loads, const uint8_t* shown) {
    const int64_t height = panelModel.graphs[GRAPH_CORES].height;
    for (uint32_t p = 0; p < cores.count; ++p)
        if (loads[p] != shown[p] && coreBarHeight(loads[p], height) != coreBarHeight(shown[p], height)) return false;
    return true;
}

}  // namespace

void sampleCores() {
    if (panelModel.coresRestart) {
        restartCoreLoads(cores);
        panelModel.coresRestart = false;
    }
    beginCoreReading(cores);
    readEveryGroup(corePlatform());
    endCoreReading(cores);
    // A bar changes only with the count or a bar's height: a load that moves within the pixel it
    // stands on costs no rendering. The tooltip reads the loads, so they are taken all the same.
    const bool barsChange = cores.count != panelModel.coreCount || !sameBarHeights(cores.loads, panelModel.coreLoads);
    panelModel.coreCount = cores.count;
    memcpy(panelModel.coreLoads, cores.loads, cores.count);
    if (barsChange) repaintGraph(GRAPH_CORES);
}

const UtilityPlatform& utilityPlatform() { return installedUtility ? *installedUtility : systemUtility; }

void installUtilityPlatform(const UtilityPlatform* platform) {
    closeUtility();
    installedUtility = platform;
}

int32_t cpuFigure(int32_t busy) {
    if (!panelModel.cpuUtility) {
        closeUtility();
        return busy;
    }
    if (utility == utilityClosed) utility = utilityPlatform().open() ? utilityOpen : utilityUnavailable;
    double value = 0;
    if (utility == utilityOpen && utilityPlatform().read(&value)) return utilityPercent(value);
    return busy;
}

// A rate counter's first collection gives no value, so a counter first opened by the tick after a
// switch would leave that tick at busy time.
void primeCpuFigure() {
    if (!panelModel.cpuUtility || utility != utilityClosed) return;
    utility = utilityPlatform().open() ? utilityOpen : utilityUnavailable;
    double firstSample = 0;
    if (utility == utilityOpen) utilityPlatform().read(&firstSample);
}

bool cpuUtilityInUse() { return panelModel.cpuUtility && utility == utilityOpen; }

void releaseCoreSampler() {
    closeUtility();
    panelModel.coreCount = 0;
    restartCoreLoads(cores);
}
