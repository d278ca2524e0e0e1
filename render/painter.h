// The panel painter: renders the panel model into a kept off-screen bitmap, part by part as the
// samplers change them, and copies the invalid part of it to the panel window.
#pragma once

#include <windows.h>

// The panel window's class style. A double click runs the part's action. The window keeps a
// context of its own, which every showing of the changes takes as it is: a context from the shared
// cache is reset each time it is given out, its font selected anew, which in Wine's X11 driver
// reads the X resources.
constexpr UINT PANEL_CLASS_STYLE = CS_DBLCLKS | CS_OWNDC;

// Answers WM_PAINT of the panel window: renders what changed since the last paint (the whole
// panel when there is no rendering), then copies the paint rectangle to the window.
void paintPanel(HWND window);
// Drops every rendering and cache and asks for a paint of the whole panel (no erase): after a
// reload and whenever the window's settings, the style or the size may have changed.
void invalidatePanel();
// A sampler changed a part: the part is rendered again when the repaint timer lets the ticks that
// fall due together finish. A graph with its bars and caption (a rate graph is its first graph,
// GRAPH_NET_DOWN or GRAPH_DISK_READ; the cores graph has bars only), an information row's value
// and a disk row's free space, each with its icon
// where that changed. repaintGraph draws a graph whole.
void repaintGraph(int graph);
// A history graph took one sample a series (pushHistory, whose result is `moved`): its plot
// scrolls one column and only the new column is drawn, unless its scale or look changed; when
// no sample moved, only a changed caption is drawn, and nothing when the caption is the same.
void scrollGraph(int graph, bool moved);
void repaintInfoRow(int item);
void repaintDiskRow(int slot);
// Renders the changes and shows them now; the repaint timer calls it, and tests to skip the wait.
void flushPanelChanges();
// A timer tick of the plugin: from beginTick to endTick the parts a sampler changed are only
// marked. endTick shows them at once, or, when another tick falls due within the repaint delay,
// leaves them to that tick, so that ticks due together are rendered once without a wait.
void beginTick();
void endTick(bool anotherTickDue);
// How soon a tick must fall due to count as due together with the one that ends, in ms.
constexpr unsigned REPAINT_DELAY_MS = 10;
bool panelChangesPending();
// The whole panel rendered from scratch into dc, no cache used or changed: what the window must
// show. For tests and the benchmark.
void renderPanelInto(HDC dc);
// Deletes every rendering and cache that still exists; for teardown.
void releaseBackBuffer();

// Where the parts lie, in panel coordinates, for the tooltips and the double clicks: a graph's
// plot with its frame, a disk row's caption, free space and icon, an information row's text and
// icon. Every icon the row can show counts, so that an area does not move with the power or disk
// state. Rectangles given with their corners swapped come in their normal form.
RECT graphArea(int graph);
RECT diskRowArea(int slot);
RECT infoRowArea(int item);
// False for a network row that the theme gives no room: it is not drawn.
bool infoRowDrawn(int item);
