// Tooltip rows of the benchmark program: each kind of part's text built as the tooltip asks for
// it, the system answering, and the CPU graph's with a process list served from memory.
#include "bench_details.h"

#include <winsock2.h>
#include <windows.h>

#include <cstdio>
#include <string>

#include "bench_painter.h"
#include "bench_timing.h"
#include "config/panel_model.h"
#include "config/settings.h"
#include "sampling/detail_text.h"
#include "sampling/net_sampler.h"
#include "sampling/process_sampler.h"
#include "sampling/samplers.h"
#include "shell/panel_parts.h"
#include "support/fake_host.h"

namespace {

// A machine with 300 processes, each a little busier at every reading.
constexpr int SERVED_PROCESSES = 300;
uint64_t servedRound = 0;
uint64_t servedTick = 0;

bool serveProcesses(ProcessVisitor each, void* context) {
    ++servedRound;
    char name[32];
    for (int i = 0; i < SERVED_PROCESSES; ++i) {
        snprintf(name, sizeof name, "process%03d.exe", i);
        each(context, 4 * (i + 1), 1, servedRound * (i + 1) * 1000, name);
    }
    return true;
}
uint64_t servedTickCount() { return servedTick += 500; }
uint32_t fourProcessors() { return 4; }
const ProcessPlatform servedProcesses = {serveProcesses, servedTickCount, fourProcessors};

int entryNamed(const char* name) {
    for (int entry = 0; entry < PANEL_PART_COUNT; ++entry)
        if (std::string(panelParts[entry].name) == name) return entry;
    return -1;
}

void printTextRow(const char* label, int id, int runs) {
    DetailText detail;
    const Timing t = measure(runs, [&] { describePart(id, detail); });
    printRow(label, t);
}

}  // namespace

void benchDetails() {
    startModel();
    fakehost::set("Kelvora.diskCount:", "1");
    fakehost::set("Kelvora.disk[1].path:", "C:\\");
    fakehost::set("Kelvora.netGraph.width:", "100");
    fakehost::set("Kelvora.netGraph.height:", "40");
    reloadSettings();
    WSADATA wsa;
    WSAStartup(MAKEWORD(2, 0), &wsa);
    for (TIMERPROC sampler : {sampleCpu, sampleMemory, sampleNetwork, sampleDisks}) sampler(nullptr, 0, 0, 0);
    Sleep(200);
    takeVolumeAnswers();

    printTableHeader("Tooltip texts, each built as the tooltip asks for it (the system answering under Wine)");
    installProcessPlatform(&servedProcesses);
    startProcessTimes();
    const Timing cpu = measure(501, [] {
        takeProcessTimes();
        DetailText detail;
        describePart(partId(entryNamed("cpuGraph"), 0), detail);
    });
    printRow("CPU graph: a reading of 300 processes served from memory, and the text", cpu);
    stopProcessTimes();
    installProcessPlatform(nullptr);
    startProcessTimes();
    const Timing systemCpu = measure(101, [] {
        takeProcessTimes();
        DetailText detail;
        describePart(partId(entryNamed("cpuGraph"), 0), detail);
    });
    printRow("CPU graph: a reading of the system's process list (NtQuerySystemInformation), and the text", systemCpu);
    stopProcessTimes();
    printTextRow("memory graph and rows (GlobalMemoryStatusEx)", partId(entryNamed("memoryGraph"), 0), 501);
    printTextRow("disk row (the model only)", partId(entryNamed("disk"), 1), 501);
    printTextRow("network graph and rows (the interface table read again)", partId(entryNamed("netGraph"), 0), 201);
    printTextRow("IP row (GetAdaptersAddresses)", partId(entryNamed("ip"), 0), 101);
    printTextRow("battery row (GetSystemPowerStatus)", partId(entryNamed("battery"), 0), 501);
    printTextRow("uptime row (the start in the user's formats)", partId(entryNamed("systemUptime"), 0), 501);
    WSACleanup();
    startModel();
}
