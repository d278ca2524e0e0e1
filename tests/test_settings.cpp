// Settings reader and reload: keys, defaults, reading order, icons, resources.
#include <cstdio>
#include <cstring>
#include <string>

#include "config/panel_model.h"
#include "config/settings.h"
#include "support/fake_host.h"
#include "support/test_support.h"

using namespace testsupport;

namespace {

const char* const RC = "C:\\plugins\\Kelvora\\Kelvora.rc";

// A model ready for a reload: paths set as the start-up sets them.
void freshModel(const std::string& dir = "C:\\plugins\\Kelvora\\") {
    resetModel();
    fakehost::reset();
    clearMessageBoxes();
    snprintf(panelModel.pluginDir, PATH_SIZE, "%s", dir.c_str());
    snprintf(panelModel.rcPath, PATH_SIZE, "%s", RC);
    panelModel.hostWindow = fakehost::hostWindow();
}

std::vector<std::string> settingsReads() {
    std::vector<std::string> reads;
    for (const std::string& line : fakehost::log)
        if (line.compare(0, 4, "Read") == 0) reads.push_back(line);
    return reads;
}

size_t countLinesContaining(const std::string& part) {
    size_t n = 0;
    for (const std::string& line : fakehost::log)
        if (line.find(part) != std::string::npos) ++n;
    return n;
}

COLORREF brushColour(HBRUSH brush) {
    LOGBRUSH lb = {};
    GetObjectA(brush, sizeof lb, &lb);
    return lb.lbColor;
}

const char* const fixedReads[] = {
    "ReadInt Kelvora.x: 100", "ReadInt Kelvora.y: 100", "ReadInt Kelvora.width: 100", "ReadInt Kelvora.height: 100",
    "ReadInt Kelvora.timers.cpu: 1000", "ReadInt Kelvora.timers.memory: 1000", "ReadInt Kelvora.timers.battery: 2000",
    "ReadInt Kelvora.timers.uptime: 60000", "ReadInt Kelvora.timers.ip: 600000", "ReadInt Kelvora.timers.disk: 5000",
    "ReadBool Kelvora.alphaEnabled: false", "ReadInt Kelvora.alphaValue: 100", "ReadBool Kelvora.sctEnabled: false",
    "ReadColor Kelvora.sctColor: #FFFFFF", "ReadBool Kelvora.alwaysOnTop: false",
    "ReadBool Kelvora.pluginToggle: false", "ReadBool Kelvora.inSlit: false",
    "ReadInt Kelvora.cpuGraph.x: 10", "ReadInt Kelvora.cpuGraph.y: 50", "ReadInt Kelvora.cpuGraph.width: 20",
    "ReadInt Kelvora.cpuGraph.height: 20", "ReadColor Kelvora.cpuGraph.color: #FFFFFF",
    "ReadColor Kelvora.cpuGraph.background: #000000",
    "ReadInt Kelvora.memoryGraph.x: 10", "ReadInt Kelvora.memoryGraph.y: 50", "ReadInt Kelvora.memoryGraph.width: 20",
    "ReadInt Kelvora.memoryGraph.height: 20", "ReadColor Kelvora.memoryGraph.color: #FFFFFF",
    "ReadColor Kelvora.memoryGraph.background: #000000",
    "ReadInt Kelvora.fullQuota: 500",
    "ReadString Kelvora.ip.caption: \"\"", "ReadInt Kelvora.ip.left: 0", "ReadInt Kelvora.ip.right: 0",
    "ReadInt Kelvora.ip.y: 0", "ReadInt Kelvora.ip.tab_x: 0", "ReadInt Kelvora.ip.tab_y: 0",
    "ReadString Kelvora.ip.icon: (null)",
    "ReadString Kelvora.totalMemory.caption: \"\"", "ReadInt Kelvora.totalMemory.left: 0",
    "ReadInt Kelvora.totalMemory.right: 0", "ReadInt Kelvora.totalMemory.y: 0", "ReadInt Kelvora.totalMemory.tab_x: 0",
    "ReadInt Kelvora.totalMemory.tab_y: 0", "ReadString Kelvora.totalMemory.icon: (null)",
    "ReadString Kelvora.usedMemory.caption: \"\"", "ReadInt Kelvora.usedMemory.left: 0",
    "ReadInt Kelvora.usedMemory.right: 0", "ReadInt Kelvora.usedMemory.y: 0", "ReadInt Kelvora.usedMemory.tab_x: 0",
    "ReadInt Kelvora.usedMemory.tab_y: 0", "ReadString Kelvora.usedMemory.icon: (null)",
    "ReadString Kelvora.freeMemory.caption: \"\"", "ReadInt Kelvora.freeMemory.left: 0",
    "ReadInt Kelvora.freeMemory.right: 0", "ReadInt Kelvora.freeMemory.y: 0", "ReadInt Kelvora.freeMemory.tab_x: 0",
    "ReadInt Kelvora.freeMemory.tab_y: 0", "ReadString Kelvora.freeMemory.icon: (null)",
    "ReadString Kelvora.battery.caption: \"\"", "ReadInt Kelvora.battery.left: 0", "ReadInt Kelvora.battery.right: 0",
    "ReadInt Kelvora.battery.y: 0", "ReadInt Kelvora.battery.tab_x: 0", "ReadInt Kelvora.battery.tab_y: 0",
    "ReadString Kelvora.systemUptime.caption: \"\"", "ReadInt Kelvora.systemUptime.left: 0",
    "ReadInt Kelvora.systemUptime.right: 0", "ReadInt Kelvora.systemUptime.y: 0",
    "ReadInt Kelvora.systemUptime.tab_x: 0", "ReadInt Kelvora.systemUptime.tab_y: 0",
    "ReadString Kelvora.systemUptime.icon: (null)",
    "ReadString Kelvora.icons.freedisk: (null)", "ReadString Kelvora.icons.fulldisk: (null)",
    "ReadString Kelvora.icons.battery: (null)", "ReadString Kelvora.icons.ACon: (null)",
    "ReadString Kelvora.icons.batteryCharge: (null)",
    "ReadInt Kelvora.diskCount: 0",
};

// After the disks, in one block: the network keys.
const char* const networkReads[] = {
    "ReadInt Kelvora.timers.net: 1000", "ReadString Kelvora.net.interface: \"\"",
    "ReadString Kelvora.netDown.caption: \"\"", "ReadInt Kelvora.netDown.left: 0", "ReadInt Kelvora.netDown.right: 0",
    "ReadInt Kelvora.netDown.y: 0", "ReadInt Kelvora.netDown.tab_x: 0", "ReadInt Kelvora.netDown.tab_y: 0",
    "ReadString Kelvora.netDown.icon: (null)",
    "ReadString Kelvora.netUp.caption: \"\"", "ReadInt Kelvora.netUp.left: 0", "ReadInt Kelvora.netUp.right: 0",
    "ReadInt Kelvora.netUp.y: 0", "ReadInt Kelvora.netUp.tab_x: 0", "ReadInt Kelvora.netUp.tab_y: 0",
    "ReadString Kelvora.netUp.icon: (null)",
    "ReadInt Kelvora.netGraph.x: 0", "ReadInt Kelvora.netGraph.y: 0", "ReadInt Kelvora.netGraph.width: 0",
    "ReadInt Kelvora.netGraph.height: 0", "ReadColor Kelvora.netGraph.color: #FFFFFF",
    "ReadColor Kelvora.netGraph.upColor: #FF8000", "ReadColor Kelvora.netGraph.background: #000000",
    "ReadInt Kelvora.netGraph.scale: 0",
};

// After snapToEdges, in one block: the disk-activity keys.
const char* const diskIoReads[] = {
    "ReadInt Kelvora.timers.diskIo: 1000", "ReadString Kelvora.diskIo.disk: \"\"",
    "ReadString Kelvora.diskRead.caption: \"\"", "ReadInt Kelvora.diskRead.left: 0", "ReadInt Kelvora.diskRead.right: 0",
    "ReadInt Kelvora.diskRead.y: 0", "ReadInt Kelvora.diskRead.tab_x: 0", "ReadInt Kelvora.diskRead.tab_y: 0",
    "ReadString Kelvora.diskRead.icon: (null)",
    "ReadString Kelvora.diskWrite.caption: \"\"", "ReadInt Kelvora.diskWrite.left: 0", "ReadInt Kelvora.diskWrite.right: 0",
    "ReadInt Kelvora.diskWrite.y: 0", "ReadInt Kelvora.diskWrite.tab_x: 0", "ReadInt Kelvora.diskWrite.tab_y: 0",
    "ReadString Kelvora.diskWrite.icon: (null)",
    "ReadInt Kelvora.diskIoGraph.x: 0", "ReadInt Kelvora.diskIoGraph.y: 0", "ReadInt Kelvora.diskIoGraph.width: 0",
    "ReadInt Kelvora.diskIoGraph.height: 0", "ReadColor Kelvora.diskIoGraph.color: #FFFFFF",
    "ReadColor Kelvora.diskIoGraph.upColor: #FF8000", "ReadColor Kelvora.diskIoGraph.background: #000000",
    "ReadInt Kelvora.diskIoGraph.scale: 0",
};

}  // namespace

TEST_CASE("an rc file without keys gives the documented defaults") {
    freshModel();
    reloadSettings();
    const PanelModel& m = panelModel;
    CHECK(m.x == 100);
    CHECK(m.y == 100);
    CHECK(m.width == 100);
    CHECK(m.height == 100);
    CHECK(m.timers.cpu == 1000);
    CHECK(m.timers.memory == 1000);
    CHECK(m.timers.battery == 2000);
    CHECK(m.timers.uptime == 60000);
    CHECK(m.timers.ip == 600000);
    CHECK(m.timers.disk == 5000);
    CHECK_FALSE(m.alphaEnabled);
    CHECK(m.alphaValue == 100);
    CHECK_FALSE(m.sctEnabled);
    CHECK(m.sctColor == RGB(255, 255, 255));
    CHECK(m.fullQuota == 500000000LL);
    CHECK(m.diskCount == 0);
    CHECK(m.timers.net == 1000);
    CHECK(m.netInterface[0] == '\0');
    CHECK(m.timers.diskIo == 1000);
    CHECK(m.diskIoDisk[0] == '\0');
    for (int i : {GRAPH_NET_DOWN, GRAPH_NET_UP, GRAPH_DISK_READ, GRAPH_DISK_WRITE}) {
        const GraphState& g = m.graphs[i];
        CHECK((g.x == 0 && g.y == 0 && g.width == 0 && g.height == 0 && g.scale == 0));
        CHECK(g.history == nullptr);
        CHECK(g.background == RGB(0, 0, 0));
    }
    CHECK(m.graphs[GRAPH_NET_DOWN].color == RGB(255, 255, 255));
    CHECK(m.graphs[GRAPH_NET_UP].color == RGB(255, 128, 0));
    CHECK(m.graphs[GRAPH_DISK_READ].color == RGB(255, 255, 255));
    CHECK(m.graphs[GRAPH_DISK_WRITE].color == RGB(255, 128, 0));
    CHECK_FALSE(netGraphShown());
    CHECK_FALSE(rateGraphShown(GRAPH_DISK_READ));
    const GraphState& cores = m.graphs[GRAPH_CORES];
    CHECK((cores.x == 0 && cores.y == 0 && cores.width == 0 && cores.height == 0));
    CHECK((cores.color == RGB(255, 255, 255) && cores.background == RGB(0, 0, 0)));
    CHECK_FALSE(coresGraphShown());
    CHECK_FALSE(m.cpuUtility);
    for (const GraphState& g : {m.graphs[GRAPH_CPU], m.graphs[GRAPH_MEMORY]}) {
        CHECK(g.x == 10);
        CHECK(g.y == 50);
        CHECK(g.width == 20);
        CHECK(g.height == 20);
        CHECK(g.color == RGB(255, 255, 255));
        CHECK(g.background == RGB(0, 0, 0));
        CHECK(g.scale == 100);
        REQUIRE(g.history != nullptr);
        CHECK(LocalSize(g.history) >= 20 * sizeof(int64_t));
        CHECK(g.pen != nullptr);
        CHECK(g.brush != nullptr);
        CHECK(brushColour(g.brush) == RGB(0, 0, 0));
    }
    for (const InfoItem& item : m.items) {
        CHECK(item.caption[0] == '\0');
        CHECK(item.icon == nullptr);
    }
    CHECK(m.icons.freedisk == nullptr);
    CHECK(m.icons.batteryCharge == nullptr);
    CHECK(m.sctBrush == nullptr);
    CHECK(m.font != nullptr);
    CHECK(messageBoxes().empty());
}

TEST_CASE("reads go to the rc file in the fixed order, then seven keys per disk") {
    freshModel();
    fakehost::set("Kelvora.diskCount:", "2");
    reloadSettings();

    std::vector<std::string> expected(std::begin(fixedReads), std::end(fixedReads));
    for (int i = 1; i <= 2; ++i) {
        const std::string k = "Kelvora.disk[" + std::to_string(i) + "].";
        for (const char* field : {"left", "right", "y", "tab_x", "tab_y"}) expected.push_back("ReadInt " + k + field + ": 0");
        expected.push_back("ReadString " + k + "path: \"\"");
        expected.push_back("ReadString " + k + "caption: \"\"");
    }
    expected.insert(expected.end(), std::begin(networkReads), std::end(networkReads));
    // Keys added since come after every other, so that older themes read as before.
    expected.push_back("ReadBool Kelvora.snapToEdges: false");
    for (const char* read : {"ReadInt Kelvora.coresGraph.x: 0", "ReadInt Kelvora.coresGraph.y: 0",
                             "ReadInt Kelvora.coresGraph.width: 0", "ReadInt Kelvora.coresGraph.height: 0",
                             "ReadColor Kelvora.coresGraph.color: #FFFFFF",
                             "ReadColor Kelvora.coresGraph.background: #000000",
                             "ReadString Kelvora.cpu.measure: \"time\""})
        expected.push_back(read);
    expected.insert(expected.end(), std::begin(diskIoReads), std::end(diskIoReads));
    expected.push_back("ReadBool Kelvora.tooltips: true");
    for (const char* graph : {"cpuGraph", "memoryGraph", "netGraph", "coresGraph", "diskIoGraph"})
        expected.push_back(std::string("ReadString Kelvora.") + graph + ".action: \"\"");
    for (int i = 1; i <= 2; ++i) expected.push_back("ReadString Kelvora.disk[" + std::to_string(i) + "].action: \"\"");
    for (const char* row : {"ip", "totalMemory", "usedMemory", "freeMemory", "battery", "systemUptime", "netDown", "netUp",
                            "diskRead", "diskWrite"})
        expected.push_back(std::string("ReadString Kelvora.") + row + ".action: \"\"");
    expected.push_back("ReadString Kelvora.ip.interface: \"\"");
    expected.push_back("ReadString Kelvora.ip.family: \"ipv4\"");
    // The GPU parts' keys, their actions included, after all of those.
    for (const char* read : {"ReadInt Kelvora.gpuGraph.x: 0", "ReadInt Kelvora.gpuGraph.y: 0",
                             "ReadInt Kelvora.gpuGraph.width: 0", "ReadInt Kelvora.gpuGraph.height: 0",
                             "ReadColor Kelvora.gpuGraph.color: #FFFFFF", "ReadColor Kelvora.gpuGraph.background: #000000",
                             "ReadString Kelvora.gpuMemory.caption: \"\"", "ReadInt Kelvora.gpuMemory.left: 0",
                             "ReadInt Kelvora.gpuMemory.right: 0", "ReadInt Kelvora.gpuMemory.y: 0",
                             "ReadInt Kelvora.gpuMemory.tab_x: 0", "ReadInt Kelvora.gpuMemory.tab_y: 0",
                             "ReadString Kelvora.gpuMemory.icon: (null)", "ReadString Kelvora.gpu.adapter: \"\"",
                             "ReadString Kelvora.gpuGraph.action: \"\"", "ReadString Kelvora.gpuMemory.action: \"\""})
        expected.push_back(read);
    checkLines(expected, settingsReads());
    for (const std::string& file : fakehost::files) CHECK(file == RC);

    // After the keys: the style record is copied and the font made from the host's own record.
    checkLines({"GetSettingPtr 1", "CreateStyleFont style"},
               {fakehost::log[fakehost::log.size() - 2], fakehost::log.back()});
}

TEST_CASE("diskCount bounds the disks read") {
    SUBCASE("2 ignores the keys of disk 3") {
        freshModel();
        fakehost::set("Kelvora.diskCount:", "2");
        fakehost::set("Kelvora.disk[3].path:", "C:\\");
        fakehost::set("Kelvora.disk[2].path:", "D:\\data");
        reloadSettings();
        CHECK(countLinesContaining("Kelvora.disk[3]") == 0);
        CHECK(std::string(panelModel.disks[2].path) == "D:\\data");
        CHECK(panelModel.disks[3].path[0] == '\0');
    }
    SUBCASE("1000 reads 25 and keeps the count") {
        freshModel();
        fakehost::set("Kelvora.diskCount:", "1000");
        reloadSettings();
        CHECK(countLinesContaining("Kelvora.disk[") == 25 * 8);  // seven keys and the action
        CHECK(countLinesContaining("Kelvora.disk[25].caption:") == 1);
        CHECK(countLinesContaining("Kelvora.disk[26]") == 0);
        CHECK(usedDiskSlots() == 25);
    }
    SUBCASE("0 and negative read none") {
        for (const char* count : {"0", "-1"}) {
            freshModel();
            fakehost::set("Kelvora.diskCount:", count);
            reloadSettings();
            CHECK(countLinesContaining("Kelvora.disk[") == 0);
            CHECK(usedDiskSlots() == 0);
        }
    }
}

TEST_CASE("the quota counts millions of bytes as a 64-bit product") {
    struct Case { const char* text; int64_t bytes; };
    for (Case c : {Case{"3000", 3000000000LL}, Case{"0", 0}, Case{"-7", -7000000LL},
                   Case{"2147483647", 2147483647000000LL}}) {
        freshModel();
        fakehost::set("Kelvora.fullQuota:", c.text);
        reloadSettings();
        CHECK(panelModel.fullQuota == c.bytes);
    }
}

TEST_CASE("alpha enabled without a value gives opacity 100") {
    freshModel();
    fakehost::set("Kelvora.alphaEnabled:", "true");
    reloadSettings();
    CHECK(panelModel.alphaEnabled);
    CHECK(panelModel.alphaValue == 100);
}

TEST_CASE("texts longer than their field keep their first 99 characters") {
    freshModel();
    const std::string longText(300, 'c');
    fakehost::set("Kelvora.ip.caption:", longText);
    fakehost::set("Kelvora.diskCount:", "1");
    fakehost::set("Kelvora.disk[1].path:", std::string(150, 'p'));
    reloadSettings();
    CHECK(std::string(panelModel.items[ITEM_IP].caption) == longText.substr(0, 99));
    CHECK(std::string(panelModel.disks[1].path) == std::string(99, 'p'));
}

TEST_CASE("icons load relative to the plugin folder; failures show boxes in reading order") {
    const std::string dir = makeTempDir();
    writeSolidIcon(dir + "good.ico", RGB(255, 0, 0));
    freshModel(dir);
    fakehost::set("Kelvora.ip.icon:", "good.ico");
    fakehost::set("Kelvora.usedMemory.icon:", "missing.ico");
    fakehost::set("Kelvora.icons.ACon:", "C:\\absolute.ico");
    reloadSettings();

    CHECK(panelModel.items[ITEM_IP].icon != nullptr);
    CHECK(panelModel.items[ITEM_USED_MEMORY].icon == nullptr);
    CHECK(panelModel.icons.ACon == nullptr);
    REQUIRE(messageBoxes().size() == 2);
    const MessageBoxRecord& first = messageBoxes()[0];
    CHECK(first.caption == "Cannot load icon");
    CHECK(first.text == dir + "missing.ico");
    CHECK(first.owner == fakehost::hostWindow());
    CHECK(first.style == (MB_TOPMOST | MB_ICONERROR | MB_OK));
    // A drive-letter name is still joined to the folder.
    CHECK(messageBoxes()[1].text == dir + "C:\\absolute.ico");

    SUBCASE("a reload shows the same boxes again and replaces the icon it loaded") {
        HICON before = panelModel.items[ITEM_IP].icon;
        clearMessageBoxes();
        reloadSettings();
        CHECK(messageBoxes().size() == 2);
        CHECK(panelModel.items[ITEM_IP].icon != nullptr);
        ICONINFO info = {};
        CHECK_FALSE(GetIconInfo(before, &info));  // the replaced icon was destroyed
    }
}

TEST_CASE("an icon path that does not fit is a load failure with the cut path in its box") {
    const std::string dir = makeTempDir();
    freshModel(dir);
    const std::string name(300, 'n');
    fakehost::set("Kelvora.icons.battery:", name);
    reloadSettings();
    CHECK(panelModel.icons.battery == nullptr);
    REQUIRE(messageBoxes().size() == 1);
    CHECK(messageBoxes()[0].text == (dir + name).substr(0, PATH_SIZE - 1));
}

bool timerRan;
bool timerSawConsistentModel;

void CALLBACK checkGraphsFromTimer(HWND, UINT, UINT_PTR, DWORD) {
    const GraphState& cpu = panelModel.graphs[0];
    const GraphState& mem = panelModel.graphs[1];
    timerRan = true;
    timerSawConsistentModel = cpu.width == 57 && cpu.history && LocalSize(cpu.history) >= 57 * sizeof(int64_t) &&
                              mem.width == 0 && mem.history == nullptr;
}

TEST_CASE("a timer running inside an icon box sees each graph's width match its history") {
    const std::string dir = makeTempDir();
    freshModel(dir);
    reloadSettings();
    fakehost::set("Kelvora.cpuGraph.width:", "57");
    fakehost::set("Kelvora.memoryGraph.width:", "0");
    fakehost::set("Kelvora.freeMemory.icon:", "missing.ico");

    timerRan = false;
    timerSawConsistentModel = false;
    whileNextBoxIsOpen([](const MessageBoxRecord&) {
        // A real window-less timer, dispatched by the box's own message loop.
        UINT_PTR id = SetTimer(nullptr, 0, 1, checkGraphsFromTimer);
        MSG msg;
        for (int i = 0; i < 200 && !timerRan; ++i) {
            if (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
            else Sleep(2);
        }
        KillTimer(nullptr, id);
    });
    reloadSettings();
    CHECK(timerRan);
    CHECK(timerSawConsistentModel);
}

TEST_CASE("a reload gives each graph a zeroed history of its new width") {
    freshModel();
    reloadSettings();
    panelModel.graphs[0].history[19] = 42;
    panelModel.graphs[1].history[0] = 7;
    fakehost::set("Kelvora.cpuGraph.width:", "35");
    reloadSettings();
    const GraphState& cpu = panelModel.graphs[0];
    REQUIRE(cpu.width == 35);
    REQUIRE(cpu.history != nullptr);
    CHECK(LocalSize(cpu.history) >= 35 * sizeof(int64_t));
    bool allZero = true;
    for (int i = 0; i < 35; ++i) allZero = allZero && cpu.history[i] == 0;
    CHECK(allZero);
    CHECK(panelModel.graphs[1].history[0] == 0);

    SUBCASE("a rate plot's keys make two graphs of one geometry; its scale counts KB/s") {
        const char* keys[][2] = {{"x", "5"}, {"y", "6"}, {"width", "40"}, {"height", "30"}, {"scale", "10"},
                                 {"color", "#102030"}, {"upColor", "#405060"}, {"background", "#708090"}};
        for (auto& k : keys) fakehost::set(std::string("Kelvora.netGraph.") + k[0] + ":", k[1]);
        // The disk-activity plot's own keys, each one more: no key of one plot reaches the other.
        const char* diskKeys[][2] = {{"x", "6"}, {"y", "7"}, {"width", "41"}, {"height", "31"}, {"scale", "11"},
                                     {"color", "#112131"}, {"upColor", "#415161"}, {"background", "#718191"}};
        for (auto& k : diskKeys) fakehost::set(std::string("Kelvora.diskIoGraph.") + k[0] + ":", k[1]);
        reloadSettings();
        for (int i : {GRAPH_NET_DOWN, GRAPH_NET_UP, GRAPH_DISK_READ, GRAPH_DISK_WRITE}) {
            const GraphState& g = panelModel.graphs[i];
            const int more = i >= GRAPH_DISK_READ ? 1 : 0;
            CHECK((g.x == 5 + more && g.y == 6 + more && g.width == 40 + more && g.height == 30 + more &&
                   g.samples == 40 + more));
            CHECK(g.scale == (10 + more) * 1024);
            CHECK(g.background == RGB(0x70 + more, 0x80 + more, 0x90 + more));
        }
        CHECK(panelModel.graphs[GRAPH_NET_DOWN].color == RGB(0x10, 0x20, 0x30));
        CHECK(panelModel.graphs[GRAPH_NET_UP].color == RGB(0x40, 0x50, 0x60));
        CHECK(panelModel.graphs[GRAPH_DISK_READ].color == RGB(0x11, 0x21, 0x31));
        CHECK(panelModel.graphs[GRAPH_DISK_WRITE].color == RGB(0x41, 0x51, 0x61));
        CHECK(panelModel.graphs[GRAPH_CPU].scale == 100);
        fakehost::set("Kelvora.netGraph.scale:", "-3");
        reloadSettings();
        CHECK(panelModel.graphs[GRAPH_NET_UP].scale == 0);
    }
    SUBCASE("the cores graph keeps no history, however wide; the measure takes utility in any case") {
        fakehost::set("Kelvora.coresGraph.width:", "300");
        fakehost::set("Kelvora.coresGraph.height:", "40");
        for (const char* measure : {"utility", "UTILITY"}) {
            fakehost::set("Kelvora.cpu.measure:", measure);
            reloadSettings();
            CHECK(coresGraphShown());
            CHECK(panelModel.graphs[GRAPH_CORES].history == nullptr);
            CHECK(panelModel.cpuUtility);
        }
        for (const char* measure : {"", "utilization", "task manager", "time"}) {
            fakehost::set("Kelvora.cpu.measure:", measure);
            reloadSettings();
            CHECK_FALSE(panelModel.cpuUtility);
        }
    }
    SUBCASE("a width below 1 leaves the graph without history") {
        for (const char* width : {"0", "-5"}) {
            fakehost::set("Kelvora.cpuGraph.width:", width);
            reloadSettings();
            CHECK(panelModel.graphs[0].history == nullptr);
        }
    }
}

TEST_CASE("the colour-key brush follows sctEnabled and sctColor") {
    freshModel();
    fakehost::set("Kelvora.sctEnabled:", "true");
    fakehost::set("Kelvora.sctColor:", "#FF00FF");
    reloadSettings();
    REQUIRE(panelModel.sctBrush != nullptr);
    CHECK(brushColour(panelModel.sctBrush) == RGB(255, 0, 255));

    fakehost::set("Kelvora.sctColor:", "#102030");
    reloadSettings();
    REQUIRE(panelModel.sctBrush != nullptr);
    CHECK(brushColour(panelModel.sctBrush) == RGB(0x10, 0x20, 0x30));

    fakehost::set("Kelvora.sctEnabled:", "false");
    reloadSettings();
    CHECK(panelModel.sctBrush == nullptr);
}

TEST_CASE("a reload keeps measurements, values and free-space slots") {
    freshModel();
    reloadSettings();
    panelModel.cpuPercent = 37;
    panelModel.diskFree[5] = 12345;
    snprintf(panelModel.items[ITEM_UPTIME].value, VALUE_SIZE, "%s", "3:04");
    fakehost::set("Kelvora.diskCount:", "6");
    reloadSettings();
    CHECK(panelModel.cpuPercent == 37);
    CHECK(panelModel.diskFree[5] == 12345);
    CHECK(std::string(panelModel.items[ITEM_UPTIME].value) == "3:04");
}

TEST_CASE("2000 reloads with icons and brushes leave the object counts where they were") {
    const std::string dir = makeTempDir();
    writeSolidIcon(dir + "a.ico", RGB(0, 128, 0));
    freshModel(dir);
    for (const char* key : {"Kelvora.ip.icon:", "Kelvora.totalMemory.icon:", "Kelvora.usedMemory.icon:",
                            "Kelvora.freeMemory.icon:", "Kelvora.systemUptime.icon:", "Kelvora.icons.freedisk:",
                            "Kelvora.icons.fulldisk:", "Kelvora.icons.battery:", "Kelvora.icons.ACon:",
                            "Kelvora.icons.batteryCharge:"})
        fakehost::set(key, "a.ico");
    fakehost::set("Kelvora.sctEnabled:", "true");
    reloadSettings();
    const int gdiBefore = gdiObjectCount();
    const unsigned userBefore = userObjectCount();
    for (int i = 0; i < 2000; ++i) {
        reloadSettings();
        fakehost::log.clear();
        fakehost::files.clear();
    }
    MESSAGE("GDI objects before " << gdiBefore << ", after " << gdiObjectCount() << "; USER objects before "
                                  << userBefore << ", after " << userObjectCount());
    CHECK(gdiBefore > 0);
    CHECK(gdiObjectCount() == gdiBefore);
    CHECK(userObjectCount() <= userBefore);
    CHECK(messageBoxes().empty());
}
