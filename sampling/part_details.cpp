// The tooltips' text builders: the system's answers (memory, power, interfaces, addresses, the
// start time) or the model's readings, turned into lines by sampling/detail_text.cpp.
#include "sampling/part_details.h"

#include <winsock2.h>
#include <ws2ipdef.h>
#include <windows.h>
#include <iphlpapi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "config/panel_model.h"
#include "sampling/byte_size.h"
#include "sampling/core_sampler.h"
#include "sampling/disk_io.h"
#include "sampling/disk_io_sampler.h"
#include "sampling/ip_sampler.h"
#include "sampling/gpu_sampler.h"
#include "sampling/net_sampler.h"
#include "sampling/own_time.h"
#include "sampling/process_sampler.h"

namespace {

// Texts of the system's ANSI code page (paths, volume labels), as UTF-8.
void utf8OfAnsi(const char* text, char* out, int outSize) {
    WCHAR wide[PATH_SIZE];
    const int units = MultiByteToWideChar(CP_ACP, 0, text, -1, wide, PATH_SIZE);
    const int written = units > 0 ? WideCharToMultiByte(CP_UTF8, 0, wide, -1, out, outSize, nullptr, nullptr) : 0;
    if (written <= 0) out[0] = '\0';
    out[outSize - 1] = '\0';
}

void utf8OfWide(const WCHAR* text, char* out, int outSize) {
    const int written = text ? WideCharToMultiByte(CP_UTF8, 0, text, -1, out, outSize, nullptr, nullptr) : 0;
    if (written <= 0) out[0] = '\0';
    out[outSize - 1] = '\0';
}

struct InterfaceList {
    DetailText* detail;
    int count;
};

void addCountedInterface(void* context, const char* name, uint64_t inSpeed, uint64_t outSpeed) {
    auto* list = static_cast<InterfaceList*>(context);
    addInterfaceLine(*list->detail, name, inSpeed, outSpeed);
    ++list->count;
}

// "Label: 4.2 GB", the count as the byte sizes show it, at most the largest they take.
void addByteCountLine(DetailText& detail, const char* label, uint64_t bytes) {
    char text[BYTE_SIZE_TEXT_MAX + 1];
    formatByteSize(text, static_cast<int64_t>(bytes > INT64_MAX ? INT64_MAX : bytes));
    addLine(detail, "%s: %s", label, text);
}

}  // namespace

// Utility only where the system has the counter; busy time otherwise, whatever the theme asks.
const char* cpuMeasureInUse() { return cpuUtilityInUse() ? "utility" : "busy time"; }

void describeCpu(int, DetailText& detail) {
    if (panelModel.cpuPercent < 0)
        addLine(detail, "CPU load: n/a");
    else
        addLine(detail, "CPU load: %d%%", panelModel.cpuPercent);
    addLine(detail, "Measure: %s", cpuMeasureInUse());
    const ProcessReading& reading = processReading();
    if (reading.state == PROCESSES_UNREADABLE) {
        addLine(detail, "Processes: n/a");
    } else if (reading.state == PROCESSES_SHOWN) {
        for (int i = 0; i < reading.top.count; ++i)
            addLine(detail, "%s %d%%", reading.top.entries[i].name, static_cast<int>(reading.top.entries[i].percent));
    } else {
        addLine(detail, "measuring\xE2\x80\xA6");
    }
    char own[OWN_SHARE_TEXT_SIZE];
    ownShareOfLastMinute(own, sizeof own);
    addLine(detail, "Kelvora itself: %s of a core", own);
}

void describeGpu(int, DetailText& detail) { describeGpuFigures(detail, gpuReading()); }

void describeCores(int, DetailText& detail) { describeCoreFigures(detail, panelModel.coreLoads, panelModel.coreCount); }

void describeMemory(int, DetailText& detail) {
    MEMORYSTATUSEX status;
    status.dwLength = sizeof status;
    if (!GlobalMemoryStatusEx(&status)) {
        addLine(detail, "Memory: n/a");
        return;
    }
    describeMemoryFigures(detail, MemoryFigures{status.dwMemoryLoad, status.ullTotalPhys, status.ullAvailPhys,
                                                status.ullTotalPageFile, status.ullAvailPageFile});
}

// What the volume worker last answered: no volume is asked here, so a volume that does not answer
// holds up nothing.
void describeDisk(int slot, DetailText& detail) {
    if (slot < 1 || slot > usedDiskSlots()) return;
    const DiskVolume& volume = panelModel.volumes[slot];
    char path[3 * CAPTION_SIZE], label[3 * VOLUME_TEXT_SIZE], fileSystem[3 * VOLUME_TEXT_SIZE];
    utf8OfAnsi(panelModel.disks[slot].path, path, sizeof path);
    utf8OfAnsi(volume.label, label, sizeof label);
    utf8OfAnsi(volume.fileSystem, fileSystem, sizeof fileSystem);
    const bool read = volume.reading == DISK_READ;
    describeVolumeFigures(detail, VolumeFigures{path, read, volume.reading == DISK_LATE,
                                                static_cast<uint64_t>(volume.totalBytes),
                                                static_cast<uint64_t>(panelModel.diskFree[slot]),
                                                read && volume.described, label, fileSystem});
}

void describeNetwork(int, DetailText& detail) {
    InterfaceList list = {&detail, 0};
    if (!listCountedInterfaces(addCountedInterface, &list))
        addLine(detail, "Interfaces: n/a");
    else if (list.count == 0)
        addLine(detail, "No interface counted");
    const NetTotals totals = netTotals();
    addByteCountLine(detail, "Received since start", totals.received);
    addByteCountLine(detail, "Sent since start", totals.sent);
}

void describeDiskActivity(int, DetailText& detail) {
    const DiskIoSummary summary = diskIoSummary();
    if (summary.instance[0] == '\0') {
        addLine(detail, "Disks: n/a");
    } else if (strcmp(summary.instance, ALL_DISKS_INSTANCE) == 0) {
        addLine(detail, "Disks: all physical disks");
    } else {
        char name[3 * sizeof DiskIoCounters::instance];
        utf8OfAnsi(summary.instance, name, sizeof name);
        addLine(detail, "Disk: %s", name);
    }
    addByteCountLine(detail, "Read since start", summary.readTotal);
    addByteCountLine(detail, "Written since start", summary.writtenTotal);
}

// Every adapter that is up with its addresses, the default route's marked, and the row's choice.
void describeIp(int, DetailText& detail) { describeIpInterfaces(detail); }

void describeBattery(int, DetailText& detail) {
    SYSTEM_POWER_STATUS power;
    if (!GetSystemPowerStatus(&power)) {
        addLine(detail, "Battery: n/a");
        return;
    }
    describePowerFigures(detail, PowerFigures{power.ACLineStatus, power.BatteryFlag, power.BatteryLifePercent,
                                              power.BatteryLifeTime});
}

// The start is now less the time since the start, in the user's time zone and formats.
void describeUptime(int, DetailText& detail) {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    ULARGE_INTEGER start;
    start.LowPart = now.dwLowDateTime;
    start.HighPart = now.dwHighDateTime;
    const ULONGLONG sinceStart = GetTickCount64() * 10000;
    start.QuadPart = start.QuadPart > sinceStart ? start.QuadPart - sinceStart : 0;
    const FILETIME startTime = {start.LowPart, start.HighPart};
    SYSTEMTIME utc, local;
    WCHAR date[80], time[80];
    if (!FileTimeToSystemTime(&startTime, &utc) || !SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local) ||
        !GetDateFormatW(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &local, nullptr, date, 80) ||
        !GetTimeFormatW(LOCALE_USER_DEFAULT, TIME_NOSECONDS, &local, nullptr, time, 80)) {
        addLine(detail, "Started: n/a");
        return;
    }
    char dateText[3 * 80], timeText[3 * 80];
    utf8OfWide(date, dateText, sizeof dateText);
    utf8OfWide(time, timeText, sizeof timeText);
    addLine(detail, "Started: %s %s", dateText, timeText);
}
