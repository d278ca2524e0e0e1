// Profile rows of the benchmark program: where a rendering paint of the example theme spends
// its time, call by call, and how many drawing calls each sampler's tick causes.
#include "bench_profile.h"

#include <winsock2.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "bench_painter.h"
#include "bench_timing.h"
#include "config/panel_model.h"
#include "config/settings.h"
#include "host/style.h"
#include "render/painter.h"
#include "sampling/disk_io_sampler.h"
#include "sampling/net_sampler.h"
#include "sampling/samplers.h"
#include "shell/tooltips.h"
#include "bench_samplers.h"
#include "support/fake_host.h"
#include "support/import_redirect.h"
#include "support/painting_window.h"

namespace {

struct CallStats {
    const char* name;
    long calls;
    double microseconds;
};

std::vector<CallStats> stats;
double ticksPerMicrosecond = 0;

// Counts and times one call of a probed function.
struct Timed {
    CallStats& slot;
    LARGE_INTEGER start;
    explicit Timed(CallStats& s) : slot(s) { QueryPerformanceCounter(&start); }
    ~Timed() {
        LARGE_INTEGER stop;
        QueryPerformanceCounter(&stop);
        ++slot.calls;
        slot.microseconds += static_cast<double>(stop.QuadPart - start.QuadPart) / ticksPerMicrosecond;
    }
};

// Each probe stands in for one system function in this program's imports: the plugin's code is
// linked into it, so its calls go through them.
#define PROBE(name, ret, params, args)                    \
    using name##Fn = ret(WINAPI*) params;                 \
    name##Fn real##name = nullptr;                        \
    size_t slot##name = 0;                                \
    ret WINAPI probe##name params {                       \
        Timed timed(stats[slot##name]);                   \
        return real##name args;                           \
    }

PROBE(Rectangle, BOOL, (HDC d, int l, int t, int r, int b), (d, l, t, r, b))
PROBE(SetPixelV, BOOL, (HDC d, int x, int y, COLORREF c), (d, x, y, c))
PROBE(DrawTextA, int, (HDC d, LPCSTR s, int n, LPRECT r, UINT f), (d, s, n, r, f))
PROBE(DrawStateA, BOOL, (HDC d, HBRUSH b, DRAWSTATEPROC p, LPARAM l, WPARAM w, int x, int y, int cx, int cy, UINT f),
      (d, b, p, l, w, x, y, cx, cy, f))
PROBE(FillRect, int, (HDC d, const RECT* r, HBRUSH b), (d, r, b))
PROBE(BitBlt, BOOL, (HDC d, int x, int y, int w, int h, HDC s, int sx, int sy, DWORD op), (d, x, y, w, h, s, sx, sy, op))
PROBE(SelectObject, HGDIOBJ, (HDC d, HGDIOBJ o), (d, o))
PROBE(CreateCompatibleBitmap, HBITMAP, (HDC d, int w, int h), (d, w, h))
PROBE(CreateCompatibleDC, HDC, (HDC d), (d))
PROBE(DeleteDC, BOOL, (HDC d), (d))
PROBE(DeleteObject, BOOL, (HGDIOBJ o), (o))
PROBE(CreateSolidBrush, HBRUSH, (COLORREF c), (c))
PROBE(SetBkMode, int, (HDC d, int m), (d, m))
PROBE(SetTextColor, COLORREF, (HDC d, COLORREF c), (d, c))
PROBE(IntersectClipRect, int, (HDC d, int l, int t, int r, int b), (d, l, t, r, b))
PROBE(SelectClipRgn, int, (HDC d, HRGN r), (d, r))
PROBE(PolyPolyline, BOOL, (HDC d, const POINT* p, const DWORD* n, DWORD c), (d, p, n, c))
PROBE(GetDC, HDC, (HWND w), (w))
PROBE(ReleaseDC, int, (HWND w, HDC d), (w, d))
PROBE(InvalidateRgn, BOOL, (HWND w, HRGN r, BOOL e), (w, r, e))
PROBE(BeginPaint, HDC, (HWND w, LPPAINTSTRUCT p), (w, p))
PROBE(EndPaint, BOOL, (HWND w, const PAINTSTRUCT* p), (w, p))

template <typename Fn>
void install(const char* dll, const char* name, Fn* real, Fn probe, size_t* slot) {
    *real = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA(dll), name)));
    *slot = stats.size();
    stats.push_back(CallStats{name, 0, 0});
    redirectImport(reinterpret_cast<void*>(*real), reinterpret_cast<void*>(probe));
}

template <typename Fn>
void remove(Fn real, Fn probe) {
    redirectImport(reinterpret_cast<void*>(probe), reinterpret_cast<void*>(real));
}

#define INSTALL(dll, name) install(dll, #name, &real##name, probe##name, &slot##name)
#define REMOVE(name) remove(real##name, probe##name)

void installProbes() {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    ticksPerMicrosecond = static_cast<double>(frequency.QuadPart) / 1e6;
    stats.clear();
    INSTALL("gdi32.dll", Rectangle);
    INSTALL("gdi32.dll", SetPixelV);
    INSTALL("user32.dll", DrawTextA);
    INSTALL("user32.dll", DrawStateA);
    INSTALL("user32.dll", FillRect);
    INSTALL("gdi32.dll", BitBlt);
    INSTALL("gdi32.dll", SelectObject);
    INSTALL("gdi32.dll", CreateCompatibleBitmap);
    INSTALL("gdi32.dll", CreateCompatibleDC);
    INSTALL("gdi32.dll", DeleteDC);
    INSTALL("gdi32.dll", DeleteObject);
    INSTALL("gdi32.dll", CreateSolidBrush);
    INSTALL("gdi32.dll", SetBkMode);
    INSTALL("gdi32.dll", SetTextColor);
    INSTALL("gdi32.dll", IntersectClipRect);
    INSTALL("gdi32.dll", SelectClipRgn);
    INSTALL("gdi32.dll", PolyPolyline);
    INSTALL("user32.dll", GetDC);
    INSTALL("user32.dll", ReleaseDC);
    INSTALL("user32.dll", InvalidateRgn);
    INSTALL("user32.dll", BeginPaint);
    INSTALL("user32.dll", EndPaint);
}

void removeProbes() {
    REMOVE(Rectangle);
    REMOVE(SetPixelV);
    REMOVE(DrawTextA);
    REMOVE(DrawStateA);
    REMOVE(FillRect);
    REMOVE(BitBlt);
    REMOVE(SelectObject);
    REMOVE(CreateCompatibleBitmap);
    REMOVE(CreateCompatibleDC);
    REMOVE(DeleteDC);
    REMOVE(DeleteObject);
    REMOVE(CreateSolidBrush);
    REMOVE(SetBkMode);
    REMOVE(SetTextColor);
    REMOVE(IntersectClipRect);
    REMOVE(SelectClipRgn);
    REMOVE(PolyPolyline);
    REMOVE(GetDC);
    REMOVE(ReleaseDC);
    REMOVE(InvalidateRgn);
    REMOVE(BeginPaint);
    REMOVE(EndPaint);
}

void clearStats() {
    for (CallStats& s : stats) s.calls = 0, s.microseconds = 0;
}

long totalCalls() {
    long n = 0;
    for (const CallStats& s : stats) n += s.calls;
    return n;
}

// The example theme as the plugin reads it from the build's example folder, every history full.
void loadExampleTheme() {
    startModel();
    std::ifstream theme(KELVORA_SOURCE_DIR_WINE "/examples/Kelvora.rc");
    std::string line;
    while (std::getline(theme, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const size_t colon = line.find(':');
        if (line.empty() || line[0] == '!' || colon == std::string::npos) continue;
        const size_t value = line.find_first_not_of(" \t", colon + 1);
        fakehost::set(line.substr(0, colon + 1), value == std::string::npos ? "" : line.substr(value));
    }
    snprintf(panelModel.pluginDir, PATH_SIZE, "%s", KELVORA_EXAMPLE_DIR_WINE "\\");
    reloadSettings();
    panelModel.framePen = CreatePen(PS_SOLID, 1, RGB(0, 0, 0));
    for (GraphState& g : panelModel.graphs)
        if (g.history)
            for (int64_t j = 0; j < g.samples; ++j) g.history[j] = (1 + (j * 37) % 100) * (g.scale == 100 ? 1 : 9000);
}

// The calls made while `action` ran `times` times, the most costly first, against the time it took.
template <typename Action>
void printCallTable(const char* title, int times, Action action) {
    clearStats();
    LARGE_INTEGER start, stop;
    QueryPerformanceCounter(&start);
    for (int i = 0; i < times; ++i) action();
    QueryPerformanceCounter(&stop);
    const double whole = static_cast<double>(stop.QuadPart - start.QuadPart) / ticksPerMicrosecond / times;
    std::vector<CallStats> calls = stats;
    std::sort(calls.begin(), calls.end(),
              [](const CallStats& a, const CallStats& b) { return a.microseconds > b.microseconds; });
    printf("\n%s: mean of %d\n\n| call | calls | µs | share |\n|---|---:|---:|---:|\n", title, times);
    double probed = 0;
    for (const CallStats& c : calls) {
        if (c.calls == 0) continue;
        probed += c.microseconds;
        printf("| %s | %.1f | %.1f | %.0f %% |\n", c.name, c.calls / static_cast<double>(times), c.microseconds / times,
               100.0 * c.microseconds / times / whole);
    }
    printf("| the rest (the plugin's own code and the system's work between calls, the probes) | | %.1f | %.0f %% |\n",
           whole - probed / times, 100.0 * (whole - probed / times) / whole);
    printf("| the whole | | %.1f | 100 %% |\n", whole);
}

}  // namespace

void benchProfile() {
    fakehost::paintHostGradients(true);
    loadExampleTheme();
    WSADATA wsa;
    WSAStartup(MAKEWORD(2, 0), &wsa);
    for (TIMERPROC sampler :
         {sampleCpu, sampleMemory, sampleBattery, sampleUptime, sampleIp, sampleDisks, sampleNetwork, sampleDiskIo})
        sampler(nullptr, 0, 0, 0);
    HWND window = createPaintingPanelWindow();
    panelModel.panelWindow = window;
    UpdateWindow(window);

    installProbes();
    printCallTable("A whole rendering of the example theme, as after a reload (the stand-in shell's gradient)", 51, [window] {
        invalidatePanel();
        UpdateWindow(window);
    });
    printCallTable("One second at the default periods: the CPU, memory, network and disk-activity ticks and the "
                   "render that shows their changes",
                   51, [] {
                       sampleCpu(nullptr, 0, 0, 0);
                       sampleMemory(nullptr, 0, 0, 0);
                       sampleNetwork(nullptr, 0, 0, 0);
                       sampleDiskIo(nullptr, 0, 0, 0);
                       flushPanelChanges();
                   });

    printf("\nDrawing calls and heap allocations of one tick of each sampler with the example theme: its work\n"
           "and the render that shows its changes, every call above counted (mean of 20 ticks), without a\n"
           "tooltip control and with one whose tools cover every part (tooltips on, nobody hovering)\n\n"
           "| sampler | calls a tick | calls, tooltips on | allocations a tick | allocations, tooltips on |\n"
           "|---|---:|---:|---:|---:|\n");
    const struct {
        const char* name;
        TIMERPROC sampler;
    } samplers[] = {{"sampleCpu", sampleCpu},     {"sampleMemory", sampleMemory}, {"sampleBattery", sampleBattery},
                    {"sampleUptime", sampleUptime}, {"sampleIp", sampleIp},         {"sampleDisks", sampleDisks},
                    {"sampleNetwork", sampleNetwork}, {"sampleDiskIo", sampleDiskIo}};
    constexpr int SAMPLERS = sizeof samplers / sizeof samplers[0];
    double calls[2][SAMPLERS], allocationsPerTick[2][SAMPLERS];
    startCountingAllocations();
    for (int withTooltips = 0; withTooltips < 2; ++withTooltips) {
        panelModel.tooltips = withTooltips == 1;
        layoutTooltips(window);
        for (int k = 0; k < SAMPLERS; ++k) {
            samplers[k].sampler(nullptr, 0, 0, 0);  // past any first-call set-up
            flushPanelChanges();
            clearStats();
            const long allocationsBefore = pluginAllocations();
            for (int i = 0; i < 20; ++i) {
                samplers[k].sampler(nullptr, 0, 0, 0);
                flushPanelChanges();
            }
            calls[withTooltips][k] = totalCalls() / 20.0;
            allocationsPerTick[withTooltips][k] = (pluginAllocations() - allocationsBefore) / 20.0;
        }
    }
    if (!tooltipWindow()) printf("(no tooltip control could be made: the columns with tooltips on are wrong)\n");
    for (int k = 0; k < SAMPLERS; ++k)
        printf("| %s | %.1f | %.1f | %.2f | %.2f |\n", samplers[k].name, calls[0][k], calls[1][k],
               allocationsPerTick[0][k], allocationsPerTick[1][k]);
    destroyTooltips();
    removeProbes();
    panelModel.panelWindow = nullptr;
    DestroyWindow(window);
    WSACleanup();
    fakehost::paintHostGradients(false);
    startModel();
}


