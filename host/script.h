// Script files of the stand-in host: timed steps that drive a plugin for tests and demos.
// One step a line; blank lines and lines starting with '#' are skipped:
//   wait MS              pause for MS milliseconds
//   broadcast TEXT       deliver TEXT as message 10901 to every registered window
//   broadcast-null       deliver message 10901 with no text (lParam 0)
//   broadcast-empty      deliver an empty text
//   broadcast-long N TEXT  deliver TEXT followed by 'x' up to N bytes in all
//   reconfigure          deliver message 10103 to every registered window
//   menu LABEL           right-click the panel and pick the menu entry labelled LABEL
//   menu-number N LABEL  the same for a number item, set to N (kept within its range)
//   drag DX DY           Ctrl+drag the panel by DX, DY pixels
//   point X Y            move the pointer to the panel's point X, Y (client coordinates; a point
//                        outside the panel moves it away)
//   double-click X Y     move the pointer there and double-click the left button
//   tooltip              log how many tooltip windows the plugin has, whether one is shown, and
//                        the shown one's text, a line each
//   screenshot FILE      save the panel as a PNG file
//   window               log the panel's place, size, extended style, transparency and parent
//   write-int KEY N FILE set KEY to N in the rc file FILE as WriteInt does, the way a user
//                        changes the file while the plugin runs
//   tick                 run the procedure of every timer the plugin set, as one tick each
//   paint                invalidate the panel and paint it at once
//   restart              stop the plugin (endPlugin) and start it again
//   reload-module        stop the plugin, unload and load its module, start it again
//   measure LABEL        log the process's private bytes, GDI and USER objects, handles, threads
//                        and the windows registered with the host
//   clock LABEL          log the processor time the process has used and the tick count
//   repeat N STEP        run STEP (broadcast, reconfigure, tick, paint, restart) N times
//                        at once, with the log quiet in between
//   interfaces           log the interface table the plugin sees
//   net-table FILE       feed the plugin the interface table of FILE from now on
//   disks                log the physical disks of the performance data the plugin reads
//   disk-table FILE      feed the plugin the physical disks of FILE from now on
//   hang-volume PATH     free-space queries of paths under PATH block from now on, as those of
//                        a share whose server is gone do
//   release-volumes      the blocked queries return, and no more block
//   unload               stop the plugin and unload its module, as a shell that switches it off
//   core-table FILE      feed the plugin the processors of FILE from now on
//   gpu-table FILE       feed the plugin the graphics adapters of FILE from now on
//   gpus                 log the graphics adapters the host feeds the plugin
//   stop                 end the run
#pragma once

#include <string>
#include <vector>

namespace hostscript {

enum class StepKind { Wait, Broadcast, BroadcastNull, Reconfigure, Menu, MenuNumber, Drag, Screenshot, Window, WriteInt, Tick, Paint, Restart, ReloadModule, Measure, Clock, Interfaces, NetTable, CoreTable, HangVolume, ReleaseVolumes, Unload, Point, DoubleClick, Tooltip, Disks, DiskTable, GpuTable, Gpus, Stop };

struct Step {
    StepKind kind;
    int line;          // 1-based line of the script
    int milliseconds;  // Wait
    int dx;            // Drag; the point of Point and DoubleClick
    int dy;
    std::string text;  // Broadcast text (padded for broadcast-long), Menu label, Screenshot or WriteInt file, Measure label
    std::string key;   // WriteInt
    int value = 0;     // WriteInt, MenuNumber
    int repeat = 1;    // how many times the step runs
};

struct Script {
    std::vector<Step> steps;
    // Empty when the script is sound; otherwise "line N: what is wrong" for the first fault.
    std::string error;
};

Script parseScript(const std::string& text);
const char* stepName(StepKind kind);

}  // namespace hostscript
