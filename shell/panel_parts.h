// The parts of the panel that the pointer can rest on and double-click: each graph, each disk
// row, each information and rate row. A part is one entry of the table and one text builder.
#pragma once

#include <windows.h>

#include "config/panel_model.h"
#include "sampling/detail_text.h"

enum PartKind {
    PART_GRAPH,  // index: GRAPH_*
    PART_DISK,   // every disk row; the slot comes with the part's id
    PART_ROW,    // index: ITEM_*
};

struct PanelPart {
    const char* name;  // the group of its keys ("cpuGraph", "ip"); "disk" for Kelvora.disk[N]
    PartKind kind;
    int index;
    // The tooltip's text, built when the tooltip asks for it.
    void (*describe)(int slot, DetailText& detail);
    // Its text shows the busiest processes, measured while it is shown.
    bool watchesProcesses;
};

// In the painter's drawing order: a part drawn later covers those before it, so lookups by
// place go from the end.
extern const PanelPart panelParts[];
extern const int PANEL_PART_COUNT;
// The GPU graph and row come last: their keys, actions included, are read after all others.
extern const int FIRST_GPU_PART;

// A part's id, which is also its tool's id in the tooltip control: the entry times
// PART_SLOTS plus the disk's slot (0 for the other parts). Ids are below PART_ID_LIMIT.
constexpr int PART_SLOTS = MAX_DISKS + 1;
int partId(int entry, int slot);
extern const int PART_ID_LIMIT;

// An id of a part the panel shows now: a disk within the disk count, a network graph or row
// that the theme gives room.
bool partShown(int id);
const PanelPart& partOf(int id);
int slotOf(int id);
RECT partArea(int id);
// Where the part's action is kept.
char* partActionOf(int id);
void describePart(int id, DetailText& detail);
// The shown part at a point of the panel, the one drawn last where parts overlap; -1 for none.
int partAt(POINT point);
