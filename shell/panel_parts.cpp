// The table of the panel's parts, and where each lies, what it says and what it runs.
#include "shell/panel_parts.h"

#include "render/painter.h"
#include "sampling/part_details.h"

const PanelPart panelParts[] = {
    {"cpuGraph", PART_GRAPH, GRAPH_CPU, describeCpu, true},
    {"memoryGraph", PART_GRAPH, GRAPH_MEMORY, describeMemory, false},
    {"netGraph", PART_GRAPH, GRAPH_NET_DOWN, describeNetwork, false},
    {"coresGraph", PART_GRAPH, GRAPH_CORES, describeCores, false},
    {"diskIoGraph", PART_GRAPH, GRAPH_DISK_READ, describeDiskActivity, false},
    {"disk", PART_DISK, 0, describeDisk, false},
    {"ip", PART_ROW, ITEM_IP, describeIp, false},
    {"totalMemory", PART_ROW, ITEM_TOTAL_MEMORY, describeMemory, false},
    {"usedMemory", PART_ROW, ITEM_USED_MEMORY, describeMemory, false},
    {"freeMemory", PART_ROW, ITEM_FREE_MEMORY, describeMemory, false},
    {"battery", PART_ROW, ITEM_BATTERY, describeBattery, false},
    {"systemUptime", PART_ROW, ITEM_UPTIME, describeUptime, false},
    {"netDown", PART_ROW, ITEM_NET_DOWN, describeNetwork, false},
    {"netUp", PART_ROW, ITEM_NET_UP, describeNetwork, false},
    {"diskRead", PART_ROW, ITEM_DISK_READ, describeDiskActivity, false},
    {"diskWrite", PART_ROW, ITEM_DISK_WRITE, describeDiskActivity, false},
    {"gpuGraph", PART_GRAPH, GRAPH_GPU, describeGpu, false},
    {"gpuMemory", PART_ROW, ITEM_GPU_MEMORY, describeGpu, false},
};

const int PANEL_PART_COUNT = sizeof panelParts / sizeof panelParts[0];
const int FIRST_GPU_PART = PANEL_PART_COUNT - 2;
const int PART_ID_LIMIT = PANEL_PART_COUNT * PART_SLOTS;

int partId(int entry, int slot) { return entry * PART_SLOTS + slot; }

const PanelPart& partOf(int id) { return panelParts[id / PART_SLOTS]; }

int slotOf(int id) { return id % PART_SLOTS; }

bool partShown(int id) {
    if (id < 0 || id >= PART_ID_LIMIT) return false;
    const PanelPart& part = partOf(id);
    const int slot = slotOf(id);
    switch (part.kind) {
        case PART_GRAPH:
            // The load graphs are always there; the others only where the theme gives them room.
            if (slot != 0) return false;
            if (part.index == GRAPH_CORES) return coresGraphShown();
            if (part.index == GRAPH_GPU) return gpuGraphShown();
            return part.index < GRAPH_NET_DOWN || rateGraphShown(part.index);
        case PART_DISK:
            return slot >= 1 && slot <= usedDiskSlots();
        case PART_ROW:
            return slot == 0 && infoRowDrawn(part.index);
    }
    return false;
}

RECT partArea(int id) {
    const PanelPart& part = partOf(id);
    switch (part.kind) {
        case PART_GRAPH: return graphArea(part.index);
        case PART_DISK: return diskRowArea(slotOf(id));
        case PART_ROW: return infoRowArea(part.index);
    }
    return RECT{0, 0, 0, 0};
}

char* partActionOf(int id) {
    const PanelPart& part = partOf(id);
    switch (part.kind) {
        case PART_GRAPH: return panelModel.graphs[part.index].action;
        case PART_DISK: return panelModel.disks[slotOf(id)].action;
        case PART_ROW: return panelModel.items[part.index].action;
    }
    return nullptr;
}

void describePart(int id, DetailText& detail) {
    clearDetail(detail);
    if (partShown(id)) partOf(id).describe(slotOf(id), detail);
}

int partAt(POINT point) {
    for (int id = PART_ID_LIMIT - 1; id >= 0; --id) {
        if (!partShown(id)) continue;
        const RECT area = partArea(id);
        if (PtInRect(&area, point)) return id;
    }
    return -1;
}
