// The IP row's tick against the bare IP Helper calls it makes: the adapters' addresses and the
// default route's interface, for the IPv4 row and for "both" (IPv6 too, and the text measured).
#include "bench_ip.h"

#include <winsock2.h>
#include <ws2ipdef.h>
#include <windows.h>
#include <iphlpapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "bench_timing.h"
#include "fixtures/route_questions.h"
#include "config/panel_model.h"
#include "config/settings.h"
#include "sampling/ip_sampler.h"
#include "sampling/samplers.h"
#include "support/fake_host.h"

namespace {

IP_ADAPTER_ADDRESSES* list = nullptr;
ULONG listSize = 0;
ULONG family = AF_INET;
DWORD(WINAPI* bestInterfaceEx)(sockaddr*, PDWORD) = nullptr;

// The calls as a caller with a buffer already large enough makes them.
void bareCalls() {
    const ULONG flags = GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER;
    ULONG size = listSize;
    while (GetAdaptersAddresses(family, flags, nullptr, list, &size) == ERROR_BUFFER_OVERFLOW && size > listSize) {
        free(list);
        list = static_cast<IP_ADAPTER_ADDRESSES*>(malloc(size));
        listSize = size;
    }
    askDefaultRoutes(family == AF_UNSPEC, bestInterfaceEx);
}

void ipTick() { sampleIp(nullptr, 0, 0, 0); }

double microseconds(void (*action)()) {
    LARGE_INTEGER frequency, start, stop;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    action();
    QueryPerformanceCounter(&stop);
    return 1e6 * static_cast<double>(stop.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
}

Timing timingOf(std::vector<double>& times) {
    std::sort(times.begin(), times.end());
    return Timing{times[times.size() / 2], times.front(), times.back()};
}

// The bare calls and the tick in turn, so that what a busy machine does meanwhile weighs on both
// alike: the calls take milliseconds under Wine, and its server is shared.
void measureInTurn(int runs, Timing* bare, Timing* tick) {
    std::vector<double> bareTimes, tickTimes;
    for (int i = 0; i < runs; ++i) {
        bareTimes.push_back(microseconds(bareCalls));
        tickTimes.push_back(microseconds(ipTick));
    }
    *bare = timingOf(bareTimes);
    *tick = timingOf(tickTimes);
}

}  // namespace

void benchIpRow() {
    fakehost::reset();
    snprintf(panelModel.rcPath, PATH_SIZE, "%s", "C:\\bench\\Kelvora.rc");
    fakehost::set("Kelvora.ip.right:", "400");
    lookUpIpRoutes();
    bestInterfaceEx = reinterpret_cast<decltype(bestInterfaceEx)>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("iphlpapi.dll"), "GetBestInterfaceEx")));
    WSADATA wsa;
    WSAStartup(MAKEWORD(2, 0), &wsa);
    noteSocketsStarted(true);
    // Wine's first calls set up its network state: a round that is not shown goes first.
    measure(101, bareCalls);
    printTableHeader("The IP row's tick next to its bare IP Helper calls (ratio: tick / bare calls)");
    for (const char* rowFamily : {"ipv4", "both"}) {
        fakehost::set("Kelvora.ip.family:", rowFamily);
        reloadSettings();
        family = strcmp(rowFamily, "ipv4") == 0 ? AF_INET : AF_UNSPEC;
        Timing bare, tick;
        measureInTurn(501, &bare, &tick);
        char label[160];
        snprintf(label, sizeof label, "GetAdaptersAddresses (%s) + GetBestInterface%s",
                 family == AF_INET ? "AF_INET" : "AF_UNSPEC", family == AF_INET ? "" : " + GetBestInterfaceEx");
        printRow(label, bare);
        snprintf(label, sizeof label, "sampleIp, Kelvora.ip.family: %s (row shows \"%s\")", rowFamily,
                 panelModel.items[ITEM_IP].value);
        printRow(label, tick, tick.median / bare.median, "of the bare calls");
    }
    noteSocketsStarted(false);
    releaseIpSampler();
    WSACleanup();
    free(list);
    list = nullptr;
    listSize = 0;
}
