// Lines of the tooltips' texts from plain numbers: memory, volumes, power, link speeds and GPUs.
#include "sampling/detail_text.h"

#include <cstdarg>

#include "sampling/byte_size.h"
#include "sampling/gpu_loads.h"
#include "sampling/sample_text.h"

namespace {

constexpr char LINE_BREAK[] = "\r\n";

void append(DetailText& detail, const char* text) {
    if (detail.length + 1 >= sizeof detail.text) return;
    const int written = snprintf(detail.text + detail.length, sizeof detail.text - detail.length, "%s", text);
    if (written < 0) return;
    const size_t room = sizeof detail.text - detail.length - 1;
    detail.length += static_cast<size_t>(written) < room ? static_cast<size_t>(written) : room;
}

}  // namespace

void clearDetail(DetailText& detail) {
    detail.text[0] = '\0';
    detail.length = 0;
}

void addLine(DetailText& detail, const char* format, ...) {
    if (detail.length > 0) append(detail, LINE_BREAK);
    if (detail.length + 1 >= sizeof detail.text) return;
    va_list args;
    va_start(args, format);
    const int written = vsnprintf(detail.text + detail.length, sizeof detail.text - detail.length, format, args);
    va_end(args);
    if (written < 0) {
        detail.text[detail.length] = '\0';
        return;
    }
    const size_t room = sizeof detail.text - detail.length - 1;
    detail.length += static_cast<size_t>(written) < room ? static_cast<size_t>(written) : room;
}

int32_t percentOf(uint64_t part, uint64_t whole) {
    if (whole == 0) return 0;
    // In long double: part * 200 may not fit 64 bits for counts of many terabytes.
    const long double exact = static_cast<long double>(part) * 100.0L / static_cast<long double>(whole);
    const long double rounded = exact + 0.5L;
    return rounded >= 2147483647.0L ? INT32_MAX : static_cast<int32_t>(rounded);
}

void formatLinkSpeed(char* text, size_t size, uint64_t bitsPerSecond) {
    struct Unit {
        uint64_t size;
        const char* name;
    };
    static const Unit units[] = {{1000000000, "Gbit/s"}, {1000000, "Mbit/s"}, {1000, "kbit/s"}};
    for (const Unit& unit : units) {
        if (bitsPerSecond < unit.size) continue;
        // One decimal, rounded half up, and none when it is 0.
        const uint64_t tenths = (bitsPerSecond * 10 + unit.size / 2) / unit.size;
        if (bitsPerSecond > UINT64_MAX / 10) {
            snprintf(text, size, "%llu %s", static_cast<unsigned long long>(bitsPerSecond / unit.size), unit.name);
        } else if (tenths % 10 == 0) {
            snprintf(text, size, "%llu %s", static_cast<unsigned long long>(tenths / 10), unit.name);
        } else {
            snprintf(text, size, "%llu.%u %s", static_cast<unsigned long long>(tenths / 10),
                     static_cast<unsigned>(tenths % 10), unit.name);
        }
        return;
    }
    snprintf(text, size, "%llu bit/s", static_cast<unsigned long long>(bitsPerSecond));
}

void addInterfaceLine(DetailText& detail, const char* name, uint64_t inSpeed, uint64_t outSpeed) {
    char down[LINK_SPEED_TEXT_SIZE], up[LINK_SPEED_TEXT_SIZE];
    formatLinkSpeed(down, sizeof down, inSpeed);
    formatLinkSpeed(up, sizeof up, outSpeed);
    if (inSpeed == 0 && outSpeed == 0)
        addLine(detail, "%s", name);
    else if (inSpeed == outSpeed)
        addLine(detail, "%s: %s", name, down);
    else
        addLine(detail, "%s: %s down, %s up", name, down, up);
}

void describeMemoryFigures(DetailText& detail, const MemoryFigures& memory) {
    const MemoryTexts texts = memoryTextsOf(memory.total, memory.available);
    const uint64_t commitCharge =
        memory.commitAvailable < memory.commitLimit ? memory.commitLimit - memory.commitAvailable : 0;
    char charge[BYTE_SIZE_TEXT_MAX + 1], limit[BYTE_SIZE_TEXT_MAX + 1];
    formatByteSize(charge, static_cast<int64_t>(commitCharge));
    formatByteSize(limit, static_cast<int64_t>(memory.commitLimit));
    addLine(detail, "Memory load: %u%%", static_cast<unsigned>(memory.load));
    addLine(detail, "Total: %s", texts.total);
    addLine(detail, "Used: %s", texts.used);
    addLine(detail, "Free: %s", texts.free);
    addLine(detail, "Commit charge: %s of %s", charge, limit);
}

void describeVolumeFigures(DetailText& detail, const VolumeFigures& volume) {
    addLine(detail, "%s", volume.path);
    if (volume.late) {
        addLine(detail, "n/a");
        return;
    }
    if (!volume.read) return;
    const uint64_t used = volume.free < volume.total ? volume.total - volume.free : 0;
    char total[BYTE_SIZE_TEXT_MAX + 1], usedText[BYTE_SIZE_TEXT_MAX + 1], free[BYTE_SIZE_TEXT_MAX + 1];
    formatByteSize(total, static_cast<int64_t>(volume.total));
    formatByteSize(usedText, static_cast<int64_t>(used));
    formatByteSize(free, static_cast<int64_t>(volume.free));
    addLine(detail, "Total: %s", total);
    addLine(detail, "Used: %s", usedText);
    addLine(detail, "Free: %s (%d%%)", free, static_cast<int>(percentOf(volume.free, volume.total)));
    if (!volume.described) return;
    if (volume.label[0]) addLine(detail, "Label: %s", volume.label);
    addLine(detail, "File system: %s", volume.fileSystem);
}

void describePowerFigures(DetailText& detail, const PowerFigures& power) {
    const char* const ac = power.acLineStatus == 1 ? "on" : power.acLineStatus == 0 ? "off" : "unknown";
    // 255 has every bit set, the no-battery bit too: it says nothing of a battery.
    if (power.batteryFlag == 255) {
        addLine(detail, "Battery: unknown");
    } else if (power.batteryFlag & 0x80) {
        addLine(detail, "No system battery");
    } else {
        if (power.lifePercent <= 100)
            addLine(detail, "Charge: %u%%", static_cast<unsigned>(power.lifePercent));
        else
            addLine(detail, "Charge: unknown");
    }
    addLine(detail, "AC power: %s", ac);
    if (power.batteryFlag == 255 || (power.batteryFlag & 0x80)) return;
    addLine(detail, "Charging: %s", (power.batteryFlag & 8) ? "yes" : "no");
    if (power.secondsLeft != 0xFFFFFFFFu) {
        char left[32];
        formatUptime(left, sizeof left, static_cast<uint64_t>(power.secondsLeft) * 1000);
        addLine(detail, "Time left: %s", left);
    }
}

// Three passes over the loads: no sort and no copy, whatever the number of processors.
void describeCoreFigures(DetailText& detail, const uint8_t* loads, uint32_t count) {
    if (count == 0) {
        addLine(detail, "Logical processors: n/a");
        return;
    }
    addLine(detail, "Logical processors: %u", static_cast<unsigned>(count));
    int64_t shown[BUSIEST_CORES_SHOWN];
    for (int rank = 0; rank < BUSIEST_CORES_SHOWN && static_cast<uint32_t>(rank) < count; ++rank) {
        int64_t best = -1;
        for (uint32_t p = 0; p < count; ++p) {
            bool taken = false;
            for (int r = 0; r < rank; ++r) taken = taken || shown[r] == p;
            if (!taken && (best < 0 || loads[p] > loads[best])) best = p;
        }
        shown[rank] = best;
        addLine(detail, "Processor %u: %u%%", static_cast<unsigned>(best), static_cast<unsigned>(loads[best]));
    }
}

namespace {

constexpr uint32_t BUSIEST_ENGINES_SHOWN = 3;

void addGpuMemoryLine(DetailText& detail, const char* label, uint64_t used, uint64_t size) {
    char usedText[BYTE_SIZE_TEXT_MAX + 1], sizeText[BYTE_SIZE_TEXT_MAX + 1];
    formatByteSize(usedText, static_cast<int64_t>(used > INT64_MAX ? INT64_MAX : used));
    formatByteSize(sizeText, static_cast<int64_t>(size > INT64_MAX ? INT64_MAX : size));
    addLine(detail, "%s: %s / %s", label, usedText, sizeText);
}

}  // namespace

void describeGpuFigures(DetailText& detail, const GpuLoads& gpus) {
    if (gpus.count == 0) {
        addLine(detail, "GPU: n/a");
        return;
    }
    for (uint32_t i = 0; i < gpus.count; ++i) {
        const GpuAdapter& adapter = gpus.slots[gpus.order[i]];
        addLine(detail, "%s: %u%%", adapter.name, static_cast<unsigned>(gpuAdapterLoad(gpus, adapter)));
        uint32_t engines[BUSIEST_ENGINES_SHOWN];
        const uint32_t busiest = busiestGpuEngines(adapter, BUSIEST_ENGINES_SHOWN, engines);
        char line[BUSIEST_ENGINES_SHOWN * (GPU_ENGINE_NAME_SIZE + 8)] = "";
        size_t used = 0;
        for (uint32_t k = 0; k < busiest && used < sizeof line; ++k) {
            char name[GPU_ENGINE_NAME_SIZE];
            gpuEngineName(adapter, engines[k], name, sizeof name);
            const int n = snprintf(line + used, sizeof line - used, "%s%s %u%%", k ? ", " : "", name,
                                   static_cast<unsigned>(gpuEngineLoadOf(gpus, adapter, engines[k])));
            if (n > 0) used += static_cast<size_t>(n);
        }
        if (busiest > 0) addLine(detail, "Engines: %s", line);
        addGpuMemoryLine(detail, "Dedicated memory", adapter.dedicatedUsed, adapter.dedicatedSize);
        addGpuMemoryLine(detail, "Shared memory", adapter.sharedUsed, adapter.sharedSize);
    }
}
