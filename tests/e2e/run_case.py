#!/usr/bin/env python3
"""End-to-end cases of the stand-in host under Wine. Probe cases drive the small probe
plugin and check the host itself; kelvora cases drive the real Kelvora.dll with the
example theme. Usage: run_case.py CASE --build BUILD_DIR --source SOURCE_DIR"""
import argparse
import os
import re
import shutil
import socket
import statistics
import struct
import subprocess
import sys
import threading
import time
import zipfile
from importlib.machinery import SourceFileLoader

from hostrun import (FOLDERS, Failure, check, check_lines, colour, count_pixels, plugin_folder, rc_values, read_png,
                     remove_folders, run_host, settings_reads, winpath)

DEFAULT_TEXT = (0xE8, 0xEC, 0xF0)    # the host's default style text colour
# The stand-in host with the plugin and a screen-sized panel holds well under this.
PLUGIN_MEMORY_LIMIT = 48 * 1024 * 1024
DEFAULT_BORDER = (0x0A, 0x0C, 0x0F)  # and border colour
SLIT_PADDING = 4  # the stand-in slit's margin around and between its windows
# A screenshot of a docked panel: its size, its place inside the slit and the slit's size.
DOCKED_SHOT = re.compile(r"^screenshot \S+ (\d+)x(\d+) at -?\d+,-?\d+ in slit at (-?\d+),(-?\d+), slit (\d+)x(\d+)$")
CASES = {}


def case(function):
    CASES[function.__name__] = function
    return function


def in_order(run, expected):
    """Each expected line appears in the log after the one before it."""
    at = 0
    for line in expected:
        at = run.index(line, at) + 1


def check_png_opens_elsewhere(path, width, height):
    """A standard tool reads the screenshot too, when ImageMagick is installed."""
    if not shutil.which("identify"):
        return
    out = subprocess.run(["identify", path], stdout=subprocess.PIPE, stderr=subprocess.STDOUT).stdout.decode()
    check(f"PNG {width}x{height}" in out, f"identify does not read {path}: {out}")


# --- probe cases: the host's own behaviour --------------------------------------------------

def probe_folder(args, rc_bytes, extra_files=()):
    folder = plugin_folder([os.path.join(args.build, "tests", "e2e", "probe_plugin.dll"), *extra_files], "probe")
    with open(os.path.join(folder, "probe_plugin.rc"), "wb") as f:
        f.write(rc_bytes)
    return folder


@case
def probe_scripted_run(args):
    folder = probe_folder(args, b"! probe settings\n# Probe.x: 5\nProbe.x: 300\nprobe.Y:   200   \nProbe.width: wide\n"
                                b"Probe.label: Hello probe\nProbe.y: 999\nProbe.layered: true\n")
    plugin = os.path.join(folder, "probe_plugin.dll")
    shot = os.path.join(folder, "shot.png")
    run = run_host(args.host, plugin, f"wait 300\nbroadcast @Probe.hello\nreconfigure\nscreenshot {winpath(shot)}\nstop\n")
    check(run.returncode == 0, f"host exit code {run.returncode}: {run.output}")
    rc = f'"{winpath(os.path.join(folder, "probe_plugin.rc"))}"'
    start = [
        f'load "{winpath(plugin)}"',
        "call beginPlugin",
        "GetBBWnd -> host",
        f'ReadInt file={rc} key="Probe.x:" default=200 -> 300',
        f'ReadInt file={rc} key="Probe.y:" default=150 -> 200',   # case-blind, trimmed, first one wins
        f'ReadInt file={rc} key="Probe.width:" default=120 -> 120',  # bad value: default
        f'ReadInt file={rc} key="Probe.height:" default=60 -> 60',   # absent: default
        f'ReadBool file={rc} key="Probe.layered:" default=false -> true',
        f'ReadString file={rc} key="Probe.label:" default="probe" -> "Hello probe"',
        f'ReadString file={rc} key="Probe.icon:" default=null -> null',
        "GetSettingPtr 1 -> style",
        "GetSettingPtr 1 -> style",
        "CreateStyleFont style",
        "message host 10001 wParam=panel lParam=[10103,10901,0]",
        "MakeSticky panel",
        "returned beginPlugin 0",
    ]
    check_lines(start, run.log[:len(start)], "start-up")
    in_order(run, ["script broadcast \"@Probe.hello\"", 'broadcast "@Probe.hello"', "deliver 10901 panel",
                   "script reconfigure", "reconfigure", "deliver 10103 panel",
                   f'ReadInt file={rc} key="Probe.x:" default=200 -> 300', "script stop", "call endPlugin",
                   "returned endPlugin", "unloaded"])
    check(not run.lines("message slit"), "a plain start sends nothing to the slit")
    check(not run.lines("box "), "no box expected")
    width, height, rows = read_png(shot)
    check((width, height) == (120, 60), f"screenshot is {width}x{height}")
    check(rows[0][0] == DEFAULT_BORDER and rows[59][119] == DEFAULT_BORDER, "the style border frames the panel")
    check(count_pixels(rows, (0, 0, 120, 60), DEFAULT_TEXT) > 30, "the label is drawn in the style's text colour")
    check_png_opens_elsewhere(shot, 120, 60)


@case
def probe_menu_box_drag(args):
    # One line ends in LF alone: the host's WriteInt writes every line back with CRLF.
    before = (b"! comment line\r\nProbe.x:\t 300   \r\nOther.key: 1\nProbe.y:200\r\n# Probe.y: 7\r\n"
              b"Probe.icon: missing.ico\r\nprobe.x: 5\r\n")
    folder = probe_folder(args, before)
    plugin = os.path.join(folder, "probe_plugin.dll")
    run = run_host(args.host, plugin, "wait 300\ndrag 30 20\nmenu write position\nmenu show box\nmenu no such entry\n"
                                          "menu say hello\nstop\n")
    check(run.returncode == 0, f"host exit code {run.returncode}: {run.output}")
    icon = winpath(os.path.join(folder, "missing.ico"))
    in_order(run, [f'box owner=host caption="Cannot load icon" text="{icon}" style=0x00040010',
                   "returned beginPlugin 0",
                   "script drag 30 20 from 300,200", "script drag ended at 330,220",
                   'menu choice "write position" -> "@Probe.write"', 'broadcast "@Probe.write"',
                   'box owner=host caption="Probe" text="hello from the probe" style=0x00000040',
                   'menu has no entry labelled "no such entry"', "menu closed without a choice",
                   'menu choice "say hello" -> "@Probe.hello"', "call endPlugin"])
    writes = [line.split(" key=")[1] for line in run.lines("WriteInt")]
    check_lines(['"Probe.x:" value=330 -> written', '"Probe.y:" value=220 -> written'], writes, "writes")
    with open(os.path.join(folder, "probe_plugin.rc"), "rb") as f:
        after = f.read()
    expected = before.replace(b"Probe.x:\t 300   \r\n", b"Probe.x:\t 330   \r\n").replace(b"Probe.y:200\r\n", b"Probe.y:220\r\n")
    expected = expected.replace(b"Other.key: 1\n", b"Other.key: 1\r\n")
    check(after == expected, f"rc bytes after the write:\n{after!r}\nexpected:\n{expected!r}")
    check(sorted(os.listdir(folder)) == ["probe_plugin.dll", "probe_plugin.rc", "run.log", "run.script"],
          f"stray files: {os.listdir(folder)}")


@case
def probe_slit_editor(args):
    editor = os.path.join(args.build, "tests", "e2e", "editor_probe.exe")
    folder = probe_folder(args, b"Probe.label: docked\n", [editor])
    plugin = os.path.join(folder, "probe_plugin.dll")
    shot = os.path.join(folder, "slit.png")
    run = run_host(args.host, plugin, f"wait 300\nmenu edit\nwait 800\nscreenshot {winpath(shot)}\nstop\n",
                   extra=["--slit", "--editor", winpath(os.path.join(folder, "editor_probe.exe"))])
    check(run.returncode == 0, f"host exit code {run.returncode}: {run.output}")
    rc = winpath(os.path.join(folder, "probe_plugin.rc"))
    in_order(run, ["call beginSlitPlugin", "message host 10001 wParam=panel lParam=[10103,10901,0]", "MakeSticky panel",
                   "message slit 11001 wParam=0 lParam=panel", "returned beginSlitPlugin 0",
                   'menu choice "edit" -> "@Probe.edit"',
                   f'BBExecute owner=0 verb=null file="{winpath(os.path.join(folder, "editor_probe.exe"))}" args="{rc}" '
                   'dir=null show=1 noErrorBoxes=0 -> started',
                   "call endPlugin", "message slit 11002 wParam=0 lParam=panel", "returned endPlugin"])
    with open(os.path.join(folder, "editor_probe.exe.args"), encoding="latin-1") as f:
        check(f.read().strip().endswith(rc), "the editor was started on the rc file")
    # Docked: the panel sits inside the slit at the right edge of the screen.
    at = re.search(r"^screenshot .* 120x60 at (\d+),(\d+) in slit at 4,4, slit 128x68$", "\n".join(run.log), re.M)
    check(at is not None, "the probe is the slit's child in its slot\n" + run.tail())
    check(int(at.group(1)) > 600, f"docked panel at x={at.group(1)}")


# The shell functions the plugin looks up at run time (shell/host_extras.cpp): never imported,
# so never in blackbox.def, but exported by the stand-in host as by the real shells.
LOOKED_UP = ["MakeMenuItemInt", "SnapWindowToEdge", "WriteBool", "WriteString"]


@case
def host_exports(args):
    with open(os.path.join(args.source, "shell", "blackbox.def")) as f:
        wanted = sorted([line.strip() for line in f if re.match(r"^\s+\w+\s*$", line)] + LOOKED_UP)
    # Each architecture's suite checks its own host; this objdump reads both formats.
    exe = os.path.join(args.build, "blackbox.exe")
    dump = subprocess.run(["x86_64-w64-mingw32-objdump", "-p", exe], stdout=subprocess.PIPE, check=True).stdout.decode()
    table = dump.split("[Ordinal/Name Pointer] Table", 1)
    check(len(table) == 2, f"{exe} exports nothing")
    names = sorted(re.findall(r"^\t\[\s*\d+\] (\S+)$", table[1].split("\n\n", 1)[0], re.M))
    check_lines(wanted, names, f"exports of {exe}")


# --- kelvora cases: the real plugin with the example theme ----------------------------------

ITEMS = ["ip", "totalMemory", "usedMemory", "freeMemory", "battery", "systemUptime"]


def kelvora_reads(rc, disks):
    """The plugin's settings reads in their fixed order: (reader, file, key)."""
    reads = [("ReadInt", k) for k in ("x", "y", "width", "height")]
    reads += [("ReadInt", "timers." + k) for k in ("cpu", "memory", "battery", "uptime", "ip", "disk")]
    reads += [("ReadBool", "alphaEnabled"), ("ReadInt", "alphaValue"), ("ReadBool", "sctEnabled"),
              ("ReadColor", "sctColor"), ("ReadBool", "alwaysOnTop"), ("ReadBool", "pluginToggle"),
              ("ReadBool", "inSlit")]
    for graph in ("cpuGraph", "memoryGraph"):
        reads += [("ReadInt", f"{graph}.{k}") for k in ("x", "y", "width", "height")]
        reads += [("ReadColor", f"{graph}.color"), ("ReadColor", f"{graph}.background")]
    reads.append(("ReadInt", "fullQuota"))
    for item in ITEMS:
        reads.append(("ReadString", f"{item}.caption"))
        reads += [("ReadInt", f"{item}.{k}") for k in ("left", "right", "y", "tab_x", "tab_y")]
        if item != "battery":
            reads.append(("ReadString", f"{item}.icon"))
    reads += [("ReadString", "icons." + k) for k in ("freedisk", "fulldisk", "battery", "ACon", "batteryCharge")]
    reads.append(("ReadInt", "diskCount"))
    for i in range(1, disks + 1):
        reads += [("ReadInt", f"disk[{i}].{k}") for k in ("left", "right", "y", "tab_x", "tab_y")]
        reads += [("ReadString", f"disk[{i}].path"), ("ReadString", f"disk[{i}].caption")]
    reads += [("ReadInt", "timers.net"), ("ReadString", "net.interface")]
    for row in ("netDown", "netUp"):
        reads.append(("ReadString", f"{row}.caption"))
        reads += [("ReadInt", f"{row}.{k}") for k in ("left", "right", "y", "tab_x", "tab_y")]
        reads.append(("ReadString", f"{row}.icon"))
    reads += [("ReadInt", f"netGraph.{k}") for k in ("x", "y", "width", "height")]
    reads += [("ReadColor", f"netGraph.{k}") for k in ("color", "upColor", "background")]
    reads.append(("ReadInt", "netGraph.scale"))
    reads.append(("ReadBool", "snapToEdges"))
    reads += [("ReadInt", f"coresGraph.{k}") for k in ("x", "y", "width", "height")]
    reads += [("ReadColor", f"coresGraph.{k}") for k in ("color", "background")]
    reads.append(("ReadString", "cpu.measure"))
    reads += [("ReadInt", "timers.diskIo"), ("ReadString", "diskIo.disk")]
    for row in ("diskRead", "diskWrite"):
        reads.append(("ReadString", f"{row}.caption"))
        reads += [("ReadInt", f"{row}.{k}") for k in ("left", "right", "y", "tab_x", "tab_y")]
        reads.append(("ReadString", f"{row}.icon"))
    reads += [("ReadInt", f"diskIoGraph.{k}") for k in ("x", "y", "width", "height")]
    reads += [("ReadColor", f"diskIoGraph.{k}") for k in ("color", "upColor", "background")]
    reads.append(("ReadInt", "diskIoGraph.scale"))
    reads.append(("ReadBool", "tooltips"))
    reads += [("ReadString", f"{graph}.action") for graph in ("cpuGraph", "memoryGraph", "netGraph", "coresGraph", "diskIoGraph")]
    reads += [("ReadString", f"disk[{i}].action") for i in range(1, disks + 1)]
    reads += [("ReadString", f"{row}.action") for row in ITEMS + ["netDown", "netUp", "diskRead", "diskWrite"]]
    reads += [("ReadString", "ip.interface"), ("ReadString", "ip.family")]
    # The GPU parts' keys, their actions included, after every other.
    reads += [("ReadInt", f"gpuGraph.{k}") for k in ("x", "y", "width", "height")]
    reads += [("ReadColor", f"gpuGraph.{k}") for k in ("color", "background")]
    reads.append(("ReadString", "gpuMemory.caption"))
    reads += [("ReadInt", f"gpuMemory.{k}") for k in ("left", "right", "y", "tab_x", "tab_y")]
    reads += [("ReadString", "gpuMemory.icon"), ("ReadString", "gpu.adapter"), ("ReadString", "gpuGraph.action"),
              ("ReadString", "gpuMemory.action")]
    return [(reader, rc, f"Kelvora.{key}:") for reader, key in reads]


def theme_disks(rc):
    """The number of disk rows the theme in rc asks for."""
    return int(rc_values(rc)["kelvora.diskcount:"])


def kelvora_folder(args, name):
    example = os.path.join(args.build, "example")
    folder = plugin_folder([os.path.join(example, "Kelvora.dll"), os.path.join(example, "Kelvora.rc"),
                            os.path.join(example, "icons")], name)
    return folder, os.path.join(folder, "Kelvora.dll")


def is_32_bit_module(path):
    """Whether a PE file is built for x86, from its header's machine field."""
    with open(path, "rb") as f:
        header = f.read(4096)
    at = struct.unpack_from("<I", header, 0x3C)[0]
    return struct.unpack_from("<H", header, at + 4)[0] == 0x14C


def require_plugin_entry_points(run):
    check(not any("the plugin has no" in line for line in run.log),
          "Kelvora.dll lacks its entry points (not built yet?)\n" + run.tail())


def icon_pixels(source, name):
    """The opaque pixels of one of the example icons, as {(x, y): (r, g, b)}."""
    sys.path.insert(0, os.path.join(source, "examples"))
    import make_icons  # the example's own icon drawings
    image = make_icons.ICONS[name]()
    return {(x, y): px for y, row in enumerate(image) for x, px in enumerate(row) if px is not None}


def shows_icon(rows, left, top, pixels):
    return all(rows[top + y][left + x] == px for (x, y), px in pixels.items())


def check_panel_picture(args, path, rc):
    """The CPU, memory, network and disk-activity graphs with frame, background and caption, the
    cores graph with frame and nothing but its background and bars; every disk and information row
    with caption, value and icon."""
    v = rc_values(rc)
    num = lambda key: int(v[key.lower()])
    width, height, rows = read_png(path)
    check((width, height) == (num("Kelvora.width:"), num("Kelvora.height:")), f"screenshot is {width}x{height}")
    for graph in ("cpuGraph", "memoryGraph", "netGraph", "coresGraph", "diskIoGraph", "gpuGraph"):
        x, y, w, h = (num(f"Kelvora.{graph}.{k}:") for k in ("x", "y", "width", "height"))
        frame = [(fx, y - 1) for fx in range(x - 1, x + w + 1)] + [(fx, y + h) for fx in range(x - 1, x + w + 1)]
        frame += [(x - 1, fy) for fy in range(y, y + h)] + [(x + w, fy) for fy in range(y, y + h)]
        check(all(rows[fy][fx] == (0, 0, 0) for fx, fy in frame), f"{graph}: black frame around the plot")
        background = colour(v[f"kelvora.{graph.lower()}.background:"])
        if graph == "coresGraph":
            # The bars follow the machine's load: every pixel is either bar or background.
            bars = colour(v["kelvora.coresgraph.color:"])
            shown = count_pixels(rows, (x, y, x + w, y + h), background) + count_pixels(rows, (x, y, x + w, y + h), bars)
            check(shown == w * h, f"{graph}: only bars and background in the plot")
            continue
        check(count_pixels(rows, (x, y, x + w, y + h), background) > w * h // 3, f"{graph}: plot background")
        # The bars' height follows the machine's load (1 % of a 50-pixel plot is no bar), so
        # only what is always there is checked: frame, background and caption.
        check(count_pixels(rows, (x, y, x + w, y + h), DEFAULT_TEXT) > 15, f"{graph}: caption over the plot")
    freedisk = icon_pixels(args.source, "disk-free.ico")
    fulldisk = icon_pixels(args.source, "disk-full.ico")
    row_icons = {"ip": "ip.ico", "totalMemory": "total-memory.ico", "usedMemory": "used-memory.ico",
                 "freeMemory": "free-memory.ico", "systemUptime": "uptime.ico", "netDown": "net-down.ico",
                 "netUp": "net-up.ico", "diskRead": "disk-read.ico", "diskWrite": "disk-write.ico"}
    rows_to_check = [(f"disk[{i}]", [freedisk, fulldisk]) for i in range(1, num("Kelvora.diskCount:") + 1)]
    for item in ITEMS + ["netDown", "netUp", "diskRead", "diskWrite"]:
        if item == "battery":
            choices = [icon_pixels(args.source, n) for n in ("battery.ico", "ac-on.ico", "battery-charge.ico")]
        else:
            choices = [icon_pixels(args.source, row_icons[item])]
        rows_to_check.append((item, choices))
    for name, choices in rows_to_check:
        left, right, top, tab_x, tab_y = (num(f"Kelvora.{name}.{k}:") for k in ("left", "right", "y", "tab_x", "tab_y"))
        check(any(shows_icon(rows, left, top, icon) for icon in choices), f"{name}: icon at {left},{top}")
        text_top = top + tab_y
        caption = count_pixels(rows, (left + tab_x, text_top, left + tab_x + 50, text_top + 20), DEFAULT_TEXT)
        value = count_pixels(rows, (right - 60, text_top, right, text_top + 20), DEFAULT_TEXT)
        check(caption > 5, f"{name}: caption drawn")
        check(value > 5, f"{name}: value drawn")


@case
def kelvora_scripted_run(args):
    folder, plugin = kelvora_folder(args, "run")
    shot = os.path.join(folder, "panel.png")
    script = (f"wait 2500\nbroadcast @Kelvora.settings.read\nbroadcast @BBShowPlugins\nwait 1200\n"
              f"screenshot {winpath(shot)}\nstop\n")
    run = run_host(args.host, plugin, script, extra=["--slit"])
    require_plugin_entry_points(run)
    check(run.returncode == 0, f"host exit code {run.returncode}: {run.output}\n" + run.tail())
    rc_win = winpath(os.path.join(folder, "Kelvora.rc"))
    expected_reads = kelvora_reads(rc_win, theme_disks(os.path.join(folder, "Kelvora.rc")))

    # Start: GetBBWnd, the reads in their order, the style, registration, sticky, slit.
    begin = run.index("call beginSlitPlugin")
    check(run.log[begin + 1] == "GetBBWnd -> host", "GetBBWnd comes first\n" + run.tail())
    returned = run.index("returned beginSlitPlugin 0", begin)
    start = run.log[begin + 2:returned]
    check_lines([" ".join(r) for r in expected_reads], [" ".join(r) for r in settings_reads(start)], "start-up reads")
    rest = [line for line in start if not line.startswith("Read")]
    v = rc_values(os.path.join(folder, "Kelvora.rc"))
    width, height = int(v["kelvora.width:"]), int(v["kelvora.height:"])
    check_lines(["GetSettingPtr 1 -> style", "CreateStyleFont style",
                 "message host 10001 wParam=panel lParam=[10103,10901,0]", "MakeSticky panel",
                 "message slit 11001 wParam=0 lParam=panel",
                 f"slit layout {width + 2 * SLIT_PADDING}x{height + 2 * SLIT_PADDING}: panel at "
                 f"{SLIT_PADDING},{SLIT_PADDING} {width}x{height}"], rest, "start-up after the reads")
    # The first samples are painted before the scripted broadcasts arrive.
    first_paint = run.index(next(l for l in run.log[returned:] if l.startswith("MakeStyleGradient")), returned)
    read_command = run.index('broadcast "@Kelvora.settings.read"', returned)
    check(first_paint < read_command, "the first samples are painted before the first broadcast")
    # The read command reloads every key again, in the same order.
    show = run.index('broadcast "@BBShowPlugins"', read_command)
    check(run.log[read_command + 1] == "deliver 10901 panel", run.tail())
    check_lines([" ".join(r) for r in expected_reads], [" ".join(r) for r in settings_reads(run.log[read_command:show])],
                "reads of the read command")
    # Stop: 11002 while endPlugin runs, then the registration let go of, and nothing but the
    # registration and the slit messages.
    in_order(run, ["script stop", "call endPlugin", "message slit 11002 wParam=0 lParam=panel",
                   "message host 10002 wParam=panel lParam=[10103,10901,0]", "returned endPlugin", "unloaded"])
    messages = [l for l in run.log if l.startswith("message ")]
    # The docked read command sends 11003 after applying the size.
    check_lines(["message host 10001 wParam=panel lParam=[10103,10901,0]", "message slit 11001 wParam=0 lParam=panel",
                 "message slit 11003 wParam=0 lParam=panel", "message slit 11002 wParam=0 lParam=panel",
                 "message host 10002 wParam=panel lParam=[10103,10901,0]"], messages,
                "messages from the plugin")
    check(not run.lines("box "), "no message box: every icon of the theme loads\n" + "\n".join(run.lines("box ")))
    check_panel_picture(args, shot, os.path.join(folder, "Kelvora.rc"))
    check_png_opens_elsewhere(shot, *read_png(shot)[:2])


@case
def kelvora_docked_read(args):
    """Docked, the read command applies the rc file's new size but not its floating place: the
    panel stays in its slot, the slit grows and shrinks around it. Started by beginSlitPlugin
    and by beginPluginEx with inSlit set."""
    for kind in ("--slit", "--ex"):
        folder, plugin = kelvora_folder(args, "docked" + kind[1:])
        rc = os.path.join(folder, "Kelvora.rc")
        rc_win = winpath(rc)
        with open(rc, "rb") as f:
            theme = f.read().replace(b"Kelvora.inSlit: false", b"Kelvora.inSlit: true")
        with open(rc, "wb") as f:
            f.write(theme)
        v = rc_values(rc)
        width, height = int(v["kelvora.width:"]), int(v["kelvora.height:"])
        sizes = [(width, height), (width + 40, height + 30), (width - 50, height - 60)]
        shots = [os.path.join(folder, f"docked{i}.png") for i in range(len(sizes))]
        script = f"wait 800\nscreenshot {winpath(shots[0])}\n"
        for (w, h), shot in zip(sizes[1:], shots[1:]):
            script += (f"write-int Kelvora.width: {w} {rc_win}\nwrite-int Kelvora.height: {h} {rc_win}\n"
                       f"broadcast @Kelvora.settings.read\nwait 300\nscreenshot {winpath(shot)}\n")
        run = run_host(args.host, plugin, script + "stop\n", extra=[kind])
        require_plugin_entry_points(run)
        check(run.returncode == 0, f"{kind}: host exit code {run.returncode}: {run.output}\n" + run.tail())
        found = [DOCKED_SHOT.match(line) for line in run.lines("screenshot ")]
        check(len(found) == len(sizes) and all(found),
              f"{kind}: the panel is not the slit's child at every screenshot\n" + "\n".join(run.lines("screenshot ")))
        for (w, h), m in zip(sizes, found):
            got = tuple(int(g) for g in m.groups())
            check(got == (w, h, SLIT_PADDING, SLIT_PADDING, w + 2 * SLIT_PADDING, h + 2 * SLIT_PADDING),
                  f"{kind}: expected a {w}x{h} panel at {SLIT_PADDING},{SLIT_PADDING} in a slit of "
                  f"{w + 2 * SLIT_PADDING}x{h + 2 * SLIT_PADDING}; the screenshot says {got}\n" + run.tail())
        # Each read asks the slit to lay out again, once the new size is applied.
        at = 0
        for w, h in sizes[1:]:
            at = run.index('broadcast "@Kelvora.settings.read"', at)
            at = run.index("message slit 11003 wParam=0 lParam=panel", at)
            at = run.index(f"slit layout {w + 2 * SLIT_PADDING}x{h + 2 * SLIT_PADDING}: panel at "
                           f"{SLIT_PADDING},{SLIT_PADDING} {w}x{h}", at)
        # The host's WriteInt rewrote the file in CRLF lines, every other line as it was.
        with open(rc, "rb") as f:
            after = f.read()
        w, h = sizes[-1]
        expected = re.sub(rb"(?m)^Kelvora\.width: \d+\r$", b"Kelvora.width: %d\r" % w, theme, 1)
        expected = re.sub(rb"(?m)^Kelvora\.height: \d+\r$", b"Kelvora.height: %d\r" % h, expected, 1)
        check(after == expected, f"{kind}: the rc file after the writes differs beyond width and height")


@case
def kelvora_write_command(args):
    folder, plugin = kelvora_folder(args, "write")
    rc = os.path.join(folder, "Kelvora.rc")
    with open(rc, "rb") as f:
        theme = f.read()
    # Comments, odd spacing, CRLF line ends, a commented-out key and unrelated keys around the two position keys.
    body = theme.replace(b"\r\n", b"\n").replace(b"Kelvora.x: 80\n", b"").replace(b"Kelvora.y: 80\n", b"")
    body = body.replace(b"\n", b"\r\n")
    before = (b"! written by hand\r\n# Kelvora.x: 1\r\nKelvora.X:\t  80   \r\nOther.plugin.x: 80\r\n"
              b"kelvora.y:80\r\n\r\n" + body + b"Kelvora.x: 999\r\nTrailing.key: no newline")
    with open(rc, "wb") as f:
        f.write(before)
    run = run_host(args.host, plugin, "wait 800\ndrag 37 23\nwait 300\nbroadcast @Kelvora.settings.write\nwait 200\nstop\n")
    require_plugin_entry_points(run)
    check(run.returncode == 0, f"host exit code {run.returncode}: {run.output}")
    in_order(run, ["script drag 37 23 from 80,80", "script drag ended at 117,103"])
    writes = [line.split(" key=")[1] for line in run.lines("WriteInt")]
    check_lines(['"Kelvora.x:" value=117 -> written', '"Kelvora.y:" value=103 -> written'], writes, "writes")
    with open(rc, "rb") as f:
        after = f.read()
    # The last line, which had no line end, gets one when the host writes the file anew.
    expected = before.replace(b"Kelvora.X:\t  80   \r\n", b"Kelvora.X:\t  117   \r\n", 1).replace(
        b"kelvora.y:80\r\n", b"kelvora.y:103\r\n", 1) + b"\r\n"
    if after != expected:
        changed = [f"{i}: {a!r} -> {b!r}" for i, (a, b) in
                   enumerate(zip(before.split(b"\r\n"), after.split(b"\r\n"))) if a != b]
        raise Failure("the rc file changed other than in the two position lines:\n" + "\n".join(changed))
    check(sorted(os.listdir(folder)) == ["Kelvora.dll", "Kelvora.rc", "icons", "run.log", "run.script"],
          f"stray files: {sorted(os.listdir(folder))}")


@case
def kelvora_menu_entries(args):
    folder, plugin = kelvora_folder(args, "menu")
    shutil.copy(os.path.join(args.build, "tests", "e2e", "editor_probe.exe"), folder)
    editor = winpath(os.path.join(folder, "editor_probe.exe"))
    rc = os.path.join(folder, "Kelvora.rc")
    with open(rc, "rb") as f:
        theme = f.read()
    script = ("wait 800\nmenu read settings\nmenu write settings\nmenu edit settings\nwait 800\nmenu About\n"
              "wait 300\nstop\n")
    run = run_host(args.host, plugin, script, extra=["--editor", editor])
    require_plugin_entry_points(run)
    check(run.returncode == 0, f"host exit code {run.returncode}: {run.output}")
    rc_win = winpath(rc)
    # The menu as the plugin builds it, every time it is shown.
    menu = run.index('script menu "read settings"')
    shown = run.index("ShowMenu menu#1", menu)
    check_lines(['MakeNamedMenu title="Kelvora" id="Kelvora_IDMain" popup=1 -> menu#1',
                 'MakeNamedMenu title="Settings" id="Kelvora_IDSettings" popup=1 -> menu#2',
                 'MakeMenuItem menu#2 label="read settings" command="@Kelvora.settings.read" checked=0',
                 'MakeMenuItem menu#2 label="write settings" command="@Kelvora.settings.write" checked=0',
                 'MakeMenuItem menu#2 label="edit settings" command="@Kelvora.settings.edit" checked=0',
                 'MakeSubmenu menu#1 menu#2 title="Settings"',
                 'MakeNamedMenu title="Configuration" id="Kelvora_IDConfiguration" popup=1 -> menu#3',
                 'MakeMenuItem menu#3 label="Always on top" command="@Kelvora.config.alwaysOnTop" checked=0',
                 'MakeMenuItem menu#3 label="Toggle with plugins" command="@Kelvora.config.pluginToggle" checked=1',
                 'MakeMenuItem menu#3 label="Snap to edges" command="@Kelvora.config.snapToEdges" checked=0',
                 'MakeMenuItem menu#3 label="Show tooltips" command="@Kelvora.config.tooltips" checked=1',
                 'MakeMenuItem menu#3 label="Transparency" command="@Kelvora.config.alphaEnabled" checked=0',
                 'MakeMenuItemInt menu#3 label="Transparency level" command="@Kelvora.config.alphaValue" value=230 '
                 'minimum=0 maximum=255',
                 'MakeMenuItem menu#3 label="Match Task Manager" command="@Kelvora.config.cpuMeasure utility" checked=0',
                 'MakeSubmenu menu#1 menu#3 title="Configuration"',
                 'MakeMenuItem menu#1 label="About" command="@Kelvora.about" checked=0',
                 "ShowMenu menu#1"], run.log[menu + 1:shown + 1], "the plugin menu")
    # read settings: the whole rc file is read again.
    chosen = run.index('menu choice "read settings" -> "@Kelvora.settings.read"', shown)
    write_menu = run.index('script menu "write settings"', chosen)
    check_lines([" ".join(r) for r in kelvora_reads(rc_win, theme_disks(rc))],
                [" ".join(r) for r in settings_reads(run.log[chosen:write_menu])], "reads of read settings")
    # write settings: the position goes to the rc file, which keeps every other byte.
    in_order(run, ['menu choice "write settings" -> "@Kelvora.settings.write"',
                   f'WriteInt file="{rc_win}" key="Kelvora.x:" value=80 -> written',
                   f'WriteInt file="{rc_win}" key="Kelvora.y:" value=80 -> written'])
    with open(rc, "rb") as f:
        check(f.read() == theme, "writing the unchanged position leaves the rc file as it was")
    # edit settings: the host's editor starts on the rc file.
    in_order(run, ['menu choice "edit settings" -> "@Kelvora.settings.edit"', f'GetBlackboxEditor -> "{editor}"',
                   f'BBExecute owner=0 verb=null file="{editor}" args="{rc_win}" dir=null show=1 noErrorBoxes=0 -> started'])
    with open(os.path.join(folder, "editor_probe.exe.args"), encoding="latin-1") as f:
        check(f.read().strip().endswith(rc_win), "the editor got the rc file")
    # About: the About box, captioned like its menu entry.
    about = run.index('menu choice "About" -> "@Kelvora.about"')
    boxes = [l for l in run.log[about:] if l.startswith("box ")]
    check(len(boxes) == 1 and ' caption="About" ' in boxes[0], f"one About box after the About entry: {boxes}")
    check(len(run.lines("ShowMenu")) == 4, "one menu per right click")


@case
def kelvora_icon_failure(args):
    folder, plugin = kelvora_folder(args, "icon")
    os.remove(os.path.join(folder, "icons", "used-memory.ico"))
    run = run_host(args.host, plugin, "wait 1500\nbroadcast @BBShowPlugins\nstop\n")
    require_plugin_entry_points(run)
    check(run.returncode == 0, f"host exit code {run.returncode}: {run.output}")
    joined = winpath(folder) + "\\icons\\used-memory.ico"
    box = f'box owner=host caption="Cannot load icon" text="{joined}" style=0x00040010'
    check_lines([box], run.lines("box "), "boxes")
    # The box follows the read of the failing key (at once, or once the reload is complete),
    # comes before the window exists, and the plugin runs on.
    at = run.index(box)
    key_read = next(i for i, l in enumerate(run.log) if l.startswith(
        f'ReadString file="{winpath(os.path.join(folder, "Kelvora.rc"))}" key="Kelvora.usedMemory.icon:"'))
    check(key_read < at, "the box follows the read of the failing icon key\n" + run.tail())
    in_order(run, [box, "message host 10001 wParam=panel lParam=[10103,10901,0]", "returned beginPlugin 0",
                   'broadcast "@BBShowPlugins"', "deliver 10901 panel", "call endPlugin", "returned endPlugin"])
    check(any(l.startswith("MakeStyleGradient") for l in run.log[at:]), "the panel is painted after the box")


@case
def kelvora_package(args):
    """The release archive, unpacked into an empty plugins folder, runs as it is: every icon
    of its theme loads and the whole panel is drawn."""
    work = plugin_folder([], "package")
    made = subprocess.run(["cpack", "--config", os.path.join(args.build, "CPackConfig.cmake"), "-B", work],
                          stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    check(made.returncode == 0, "cpack failed:\n" + made.stdout.decode(errors="replace"))
    archives = [n for n in os.listdir(work) if n.endswith(".zip")]
    check(len(archives) == 1, f"cpack made {archives}")
    plugins = os.path.join(work, "plugins")
    with zipfile.ZipFile(os.path.join(work, archives[0])) as archive:
        archive.extractall(plugins)
    plugin = os.path.join(plugins, "Kelvora", "Kelvora.dll")
    rc = os.path.join(plugins, "Kelvora", "Kelvora.rc")
    shot = os.path.join(work, "panel.png")
    run = run_host(args.host, plugin, f"wait 2500\nscreenshot {winpath(shot)}\nstop\n")
    require_plugin_entry_points(run)
    check(run.returncode == 0, f"host exit code {run.returncode}: {run.output}\n" + run.tail())
    in_order(run, ["call beginPlugin", "returned beginPlugin 0", "call endPlugin", "returned endPlugin"])
    files = {r[1] for r in settings_reads(run.log)}
    check(files == {winpath(rc)}, f"settings read from {sorted(files)}")
    check(not run.lines("box "), "no message box: every icon of the theme loads\n" + "\n".join(run.lines("box ")))
    check_panel_picture(args, shot, rc)


def theme_with(folder, *changes, append=b""):
    """Rewrites the example theme in folder: each (old line, new line) replaced once, then
    append added."""
    rc = os.path.join(folder, "Kelvora.rc")
    with open(rc, "rb") as f:
        theme = f.read()
    for old, new in changes:
        check(old in theme, f"the example theme has no line {old!r}")
        theme = theme.replace(old, new, 1)
    with open(rc, "wb") as f:
        f.write(theme + append)


def window_lines(run):
    return [line[len("window panel "):] for line in run.lines("window panel ")]


@case
def kelvora_ex_floating(args):
    """Started by beginPluginEx beside a slit with inSlit false, as the shells start a plugin the
    user keeps out of the slit, the panel floats in every respect: a layered window whose Ctrl-drag
    is followed and written, kept by a reconfigure, and no message ever reaches the slit."""
    folder, plugin = kelvora_folder(args, "ex-floating")
    rc = os.path.join(folder, "Kelvora.rc")
    check(rc_values(rc)["kelvora.inslit:"] == "false", "the example theme keeps out of the slit")
    script = "wait 800\nwindow\ndrag 37 23\nmenu write settings\nreconfigure\nwait 200\nwindow\nstop\n"
    run = run_host(args.host, plugin, script, extra=["--ex"])
    require_plugin_entry_points(run)
    check(run.returncode == 0, f"host exit code {run.returncode}: {run.output}\n" + run.tail())
    size = "{}x{}".format(rc_values(rc)["kelvora.width:"], rc_values(rc)["kelvora.height:"])
    floating = f"{size} exStyle=0x00080080 topmost=0 alpha=255 key=none parent=0"
    check_lines([f"at 80,80 {floating}", f"at 117,103 {floating}"], window_lines(run), "the panel's window")
    rc_win = winpath(rc)
    in_order(run, ["call beginPluginEx", "returned beginPluginEx 0", "script drag ended at 117,103",
                   'menu choice "write settings" -> "@Kelvora.settings.write"',
                   f'WriteInt file="{rc_win}" key="Kelvora.x:" value=117 -> written',
                   f'WriteInt file="{rc_win}" key="Kelvora.y:" value=103 -> written', "script reconfigure",
                   "call endPlugin", "returned endPlugin"])
    check(not run.lines("message slit"), "messages to a slit the panel never joined:\n" + "\n".join(run.lines("message slit")))
    check(all(line.endswith(" empty") for line in run.lines("slit layout")), "the slit took the panel in")
    v = rc_values(rc)
    check((v["kelvora.x:"], v["kelvora.y:"]) == ("117", "103"), "the written position")


@case
def kelvora_config_menu(args):
    """The Configuration entries picked in the real popup menu, the level through the host's
    number item: each writes its key into the rc file, which keeps every other byte, and takes
    effect at once without a reload."""
    folder, plugin = kelvora_folder(args, "config")
    rc = os.path.join(folder, "Kelvora.rc")
    with open(rc, "rb") as f:
        theme = f.read()
    script = ("wait 800\nmenu Always on top\nwindow\nmenu Transparency\nwindow\nmenu-number 128 Transparency level\n"
              "window\nmenu Toggle with plugins\nmenu Snap to edges\nmenu Match Task Manager\nwait 200\nstop\n")
    run = run_host(args.host, plugin, script)
    require_plugin_entry_points(run)
    check(run.returncode == 0, f"host exit code {run.returncode}: {run.output}\n" + run.tail())
    started = run.index("returned beginPlugin 0")
    check(not settings_reads(run.log[started:]), "a configuration command reloaded the settings")
    rc_win = winpath(rc)
    writes = [line for line in run.log[started:] if line.startswith("Write")]
    check_lines([f'WriteBool file="{rc_win}" key="Kelvora.alwaysOnTop:" value=true -> written',
                 f'WriteBool file="{rc_win}" key="Kelvora.alphaEnabled:" value=true -> written',
                 f'WriteInt file="{rc_win}" key="Kelvora.alphaValue:" value=128 -> written',
                 f'WriteBool file="{rc_win}" key="Kelvora.pluginToggle:" value=false -> written',
                 f'WriteBool file="{rc_win}" key="Kelvora.snapToEdges:" value=true -> written',
                 f'WriteString file="{rc_win}" key="Kelvora.cpu.measure:" value="utility" -> written'], writes, "writes")
    in_order(run, ['menu choice "Transparency level" -> "@Kelvora.config.alphaValue 128"'])
    # On top at once, then translucent with the theme's level, then with the level set.
    size = "{}x{}".format(rc_values(rc)["kelvora.width:"], rc_values(rc)["kelvora.height:"])
    check_lines([f"at 80,80 {size} exStyle=0x00080088 topmost=1 alpha={alpha} key=none parent=0"
                 for alpha in (255, 230, 128)], window_lines(run), "the panel's window after each entry")
    with open(rc, "rb") as f:
        after = f.read()
    expected = theme
    for old, new in ((b"Kelvora.alwaysOnTop: false", b"Kelvora.alwaysOnTop: true"),
                     (b"Kelvora.alphaEnabled: false", b"Kelvora.alphaEnabled: true"),
                     (b"Kelvora.alphaValue: 230", b"Kelvora.alphaValue: 128"),
                     (b"Kelvora.pluginToggle: true", b"Kelvora.pluginToggle: false"),
                     (b"Kelvora.cpu.measure: time", b"Kelvora.cpu.measure: utility")):
        expected = expected.replace(old, new, 1)
    check(after == expected + b"Kelvora.snapToEdges: true\r\n", f"the rc file after the entries:\n{after!r}")
    # A shell without WriteString could not save the measure: the entry is not in the menu.
    folder, plugin = kelvora_folder(args, "config-without")
    run = run_host(args.host, plugin, "wait 800\nmenu Match Task Manager\nstop\n", extra=["--without", "WriteString"])
    check(run.returncode == 0, f"without WriteString: host exit code {run.returncode}: {run.output}\n" + run.tail())
    in_order(run, ['lookup "WriteString" -> left out', 'menu has no entry labelled "Match Task Manager"'])
    check(not run.lines("MakeMenuItem menu#3 label=\"Match"), "the entry is in the menu without WriteString")


@case
def kelvora_snap(args):
    """With Kelvora.snapToEdges: true a Ctrl-dragged panel snaps: through the shell's
    SnapWindowToEdge with the shell's own distance (7 pixels in the stand-in host), or, in a
    shell without it, by the plugin itself within 10 pixels."""
    for without in ([], ["--without", "SnapWindowToEdge"]):
        folder, plugin = kelvora_folder(args, "snap")
        theme_with(folder, (b"Kelvora.x: 80", b"Kelvora.x: 30"), (b"Kelvora.y: 80", b"Kelvora.y: 30"),
                   append=b"Kelvora.snapToEdges: true\r\n")
        run = run_host(args.host, plugin, "wait 800\ndrag -22 -22\ndrag -3 -3\nstop\n", extra=without)
        require_plugin_entry_points(run)
        check(run.returncode == 0, f"host exit code {run.returncode}: {run.output}\n" + run.tail())
        ends = run.lines("script drag ended")
        snaps = run.lines("SnapWindowToEdge ")
        if without:
            # 8 pixels from the corner is within the plugin's 10: the first drag snaps.
            check_lines(["script drag ended at 0,0", "script drag ended at 0,0"], ends, "drags without SnapWindowToEdge")
            check(not snaps and run.lines('lookup "SnapWindowToEdge" -> left out'), "the lookup was not left out")
        else:
            # 8 pixels is beyond the shell's 7; 5 is within.
            check_lines(["script drag ended at 8,8", "script drag ended at 0,0"], ends, "drags with SnapWindowToEdge")
            check(snaps and all(" distance=10 flags=0 -> " in line for line in snaps),
                  "the plugin hands the shell its distance 10 and flags 0:\n" + "\n".join(snaps[:3]))
            check(any(line.endswith("at 5,5 distance=10 flags=0 -> 0,0") for line in snaps), "\n".join(snaps))


# Broadcasts no command expects: no text, an empty one, bare prefixes, 100 KB texts.
ODD_BROADCASTS = """broadcast-null
broadcast-empty
broadcast @Kelvora.
broadcast @Kelvora
broadcast @
broadcast-long 100000 @Kelvora.settings.
broadcast-long 100000 @Kelvora.
broadcast-long 100000 @BBShowPlugins
"""


def run_bad_rc(args, path):
    """One run of the real plugin on an rc file that starts with the bad lines of `path` and
    goes on with the example theme (the first occurrence of a key wins). Answers the problems."""
    name = os.path.basename(path)
    folder, plugin = kelvora_folder(args, "bad-" + name[:-3])
    rc = os.path.join(folder, "Kelvora.rc")
    with open(path, "rb") as f:
        bad = f.read()
    with open(rc, "rb") as f:
        theme = f.read()
    with open(rc, "wb") as f:
        f.write(bad + b"\n" + theme)
    first, second = os.path.join(folder, "first.png"), os.path.join(folder, "second.png")
    script = (f"wait 700\nscreenshot {winpath(first)}\nmeasure started\nbroadcast @Kelvora.settings.read\nreconfigure\n"
              f"{ODD_BROADCASTS}broadcast @BBHidePlugins\nbroadcast @BBShowPlugins\nbroadcast @Kelvora.about\n"
              f"broadcast @Kelvora.settings.write\nwait 300\nscreenshot {winpath(second)}\nstop\n")
    try:
        run = run_host(args.host, plugin, script, timeout=90)
    except subprocess.TimeoutExpired:
        return [f"{name}: the host did not finish within 90 s"]
    problems = []
    if any("the plugin has no" in line for line in run.log):
        return [f"{name}: Kelvora.dll lacks its entry points"]
    if run.returncode != 0:
        problems.append(f"{name}: host exit code {run.returncode}")
    try:
        in_order(run, ["returned beginPlugin 0", "script broadcast-null", 'broadcast "@Kelvora.about"',
                       'broadcast "@Kelvora.settings.write"', "call endPlugin", "returned endPlugin", "unloaded"])
        about = run.index('broadcast "@Kelvora.about"')
        boxes = [l for l in run.log[about:] if l.startswith("box ")]
        if not any(' caption="About" ' in b for b in boxes):
            problems.append(f"{name}: no About box after the about command")
        write = run.index('broadcast "@Kelvora.settings.write"')
        writes = [l.split(" key=")[1].split(" value=")[0] for l in run.log[write:] if l.startswith("WriteInt")]
        if writes != ['"Kelvora.x:"', '"Kelvora.y:"']:
            problems.append(f"{name}: the write command wrote {writes}")
    except Failure as failure:
        problems.append(f"{name}: {failure}")
    # Whatever the sizes, the plugin holds a few MB at most and its window is no larger than
    # the virtual screen: a larger one could never be seen and would cost without bound.
    started = parse_measures(run).get("started")
    if not started:
        problems.append(f"{name}: no resource figures")
        return problems
    if started["private"] > PLUGIN_MEMORY_LIMIT:
        problems.append(f"{name}: {started['private']} private bytes after the start")
    screen = (started["screenWidth"], started["screenHeight"])
    if started["panelWidth"] > screen[0] or started["panelHeight"] > screen[1]:
        problems.append(f"{name}: a {started['panelWidth']}x{started['panelHeight']} window on a "
                        f"{screen[0]}x{screen[1]} screen")
    v = rc_values(rc)
    size = [v.get(k, "").strip() for k in ("kelvora.width:", "kelvora.height:")]
    if all(t.isdigit() and int(t) > 0 for t in size):
        # A panel that is not empty is painted, at most as large as the screen, and one of a
        # size a screen can show with text in the style's colour.
        expected = tuple(min(int(t), side) for t, side in zip(size, screen))
        for shot in (first, second):
            if not os.path.exists(shot):
                problems.append(f"{name}: no screenshot {os.path.basename(shot)}")
                continue
            width, height, rows = read_png(shot)
            if (width, height) != expected:
                problems.append(f"{name}: {os.path.basename(shot)} is {width}x{height}, not {expected}")
            elif all(int(t) <= 2048 for t in size) and count_pixels(rows, (0, 0, width, height), DEFAULT_TEXT) < 20:
                problems.append(f"{name}: {os.path.basename(shot)} shows no text")
    return problems


@case
def kelvora_bad_input(args):
    """The real plugin never crashes or hangs on a hostile rc file or broadcast, paints what
    it can and keeps answering commands."""
    from concurrent.futures import ThreadPoolExecutor
    corpus = os.path.join(args.source, "tests", "badrc")
    paths = sorted(os.path.join(corpus, n) for n in os.listdir(corpus) if n.endswith(".rc"))
    check(len(paths) >= 10, f"bad-input corpus missing: {paths}")
    # Wine processes spend most of their time starting; three at a time halve the wait.
    with ThreadPoolExecutor(max_workers=3) as pool:
        problems = [p for found in pool.map(lambda path: run_bad_rc(args, path), paths) for p in found]
    check(not problems, "\n".join(problems))


def parse_measures(run):
    """{label: {figure: value}} from the host's measure lines."""
    found = {}
    for line in run.lines("measure "):
        label, *figures = line[len("measure "):].split()
        found[label] = {k: int(v) for k, v in (f.split("=") for f in figures)}
    return found


def soak_script(cycles, reloads, tick_rounds, paints, module_loads):
    """Each cycle: reloads, sampler ticks (one round ticks all eight), paints, then a stop and a
    start. Figures after the first cycle and at the end; then loads of the module itself."""
    cycle = (f"repeat {reloads} broadcast @Kelvora.settings.read\nrepeat {tick_rounds} tick\n"
             f"repeat {paints} paint\nrestart\n")
    # A round of ticks and a paint before each figure, so that every sampler's buffers and the
    # panel's cached image exist at every one, whether or not a timer fell due since the start.
    measure = "tick\npaint\nmeasure {}\n".format
    return ("wait 500\n" + cycle + measure("first") + cycle * (cycles - 1) + measure("end") +
            "reload-module\n" + measure("loaded") + f"repeat {module_loads} reload-module\n" + measure("reloaded") +
            "stop\n")


RATE_TEXT = re.compile(r"^(\d+(?:\.\d+)?) (B|KB|MB|GB)/s$")


def rate_of(text):
    """Bytes per second of a rate text ("1.9 MB/s"), or None."""
    m = RATE_TEXT.match(text)
    return float(m.group(1)) * 1024 ** ("B", "KB", "MB", "GB").index(m.group(2)) if m else None


def drawn_texts(run, rect, format, lines=None):
    """The texts drawn into one rectangle with one format, in the order they were drawn (within the
    log's given lines, where given)."""
    tail = " rect=%d,%d,%d,%d format=0x%X" % (*rect, format)
    log = run.lines("text ") if lines is None else [l for l in lines if l.startswith("text ")]
    return [l[len("text "):-len(tail)].strip('"') for l in log if l.endswith(tail)]


class LoopbackSender:
    """Sends `rate` bytes a second to a receiver of its own over 127.0.0.1, evenly, until stopped."""

    def __init__(self, rate):
        self.rate, self.sent, self.stopping = rate, 0, False
        server = socket.create_server(("127.0.0.1", 0))
        self.receiver_end = socket.create_connection(server.getsockname())
        self.sender_end, _ = server.accept()
        server.close()
        self.threads = [threading.Thread(target=self.receive, daemon=True), threading.Thread(target=self.send, daemon=True)]

    def receive(self):
        while self.receiver_end.recv(1 << 20):
            pass

    def send(self):
        start, chunk = time.monotonic(), bytes(65536)
        while not self.stopping:
            due = int(self.rate * (time.monotonic() - start)) - self.sent
            # Large writes only: each segment costs loopback some 66 bytes of headers.
            if due < 16384:
                time.sleep(0.005)
                continue
            self.sent += self.sender_end.send(chunk[:min(due, len(chunk))])

    def __enter__(self):
        for t in self.threads:
            t.start()
        return self

    def __exit__(self, *_):
        self.stopping = True
        self.threads[1].join()
        self.sender_end.close()
        self.threads[0].join()
        self.receiver_end.close()


@case
def kelvora_net_loopback(args):
    """Real traffic: with Kelvora.net.interface naming Wine's loopback interface ("lo", the
    Linux interface it reports), a steady 2,000,000 bytes a second over 127.0.0.1 shows in both
    rows and the graph's caption. Loopback receives every byte it sends, so both rates are the
    sent rate, plus the TCP/IP headers and the acknowledgements (under one percent) and whatever else
    uses loopback meanwhile (the machine is shared): the median of the readings shown lies within
    25 % of the range of rates that Linux counted for loopback over the run's seconds."""
    folder, plugin = kelvora_folder(args, "net")
    rc = os.path.join(folder, "Kelvora.rc")
    with open(rc, "rb") as f:
        theme = f.read()
    theme = theme.replace(b"Kelvora.net.interface:\r\n", b"Kelvora.net.interface: lo\r\n")
    theme = theme.replace(b"Kelvora.timers.net: 1000", b"Kelvora.timers.net: 500")
    with open(rc, "wb") as f:
        f.write(theme)
    rate = 2000000
    with LoopbackSender(rate), Timeline(loopback_received) as timeline:
        run = run_host(args.host, plugin, "wait 6500\nstop\n", extra=["--log-texts"])
    counted = timeline.spans(lambda before, after, seconds: (after - before) / seconds,
                             timeline.readings[0][0] + 1.5, timeline.readings[-1][0], 0.45, 1.05)
    low, high = min(counted), max(counted)
    print(f"loopback by /proc/net/dev: {low:.0f} to {high:.0f} B/s over spans of half a second to a second")
    require_plugin_entry_points(run)
    check(run.returncode == 0, f"host exit code {run.returncode}: {run.output}")
    v = rc_values(rc)
    num = lambda key: int(v[key.lower()])
    # The graph, and with it its caption, is drawn at every reading; a row's value only when
    # its text changes.
    x, y, w, h = (num(f"Kelvora.netGraph.{k}:") for k in ("x", "y", "width", "height"))
    captions = drawn_texts(run, (x, y, x + w, y + h), 0x8025)  # centred, one line, ellipsis
    check(all(c.startswith("NET ") for c in captions), f"graph captions: {captions}")
    texts = {"graph": [c[len("NET "):] for c in captions]}
    for row in ("netDown", "netUp"):
        left, right, y, tab_x, tab_y = (num(f"Kelvora.{row}.{k}:") for k in ("left", "right", "y", "tab_x", "tab_y"))
        texts[row] = drawn_texts(run, (left + tab_x, y + tab_y, right, y + tab_y + 20), 0x2)  # DT_RIGHT: the value
    check(texts["netDown"][-1] == texts["graph"][-1], f"the caption shows the download rate: {texts}")
    for name, (least, drawn) in {"graph": (10, texts["graph"]), "netDown": (1, texts["netDown"]),
                                 "netUp": (1, texts["netUp"])}.items():
        check(drawn and drawn[0] == "0 B/s", f"{name}: the first reading shows 0 B/s: {drawn[:3]}")
        rates = [rate_of(t) for t in drawn]
        check(None not in rates, f"{name}: texts that are no rate: {sorted(set(drawn))}")
        with_traffic = [r for r in rates if r > 0]
        check(len(with_traffic) >= least, f"{name}: too few readings with traffic: {drawn}")
        median = statistics.median(with_traffic)
        check(0.75 * low <= median <= 1.25 * high,
              f"{name}: median {median:.0f} B/s, loopback carried {low:.0f} to {high:.0f} B/s: {drawn}")


# A machine with a VPN up, as GetIfTable2 lists it on Windows 7 and later: the loopback, the
# physical adapter, a filter row that repeats its counters and the tunnel's TAP adapter, whose
# traffic the adapter carries too. Rates that are whole bytes a millisecond give exact texts. The
# adapter carries the default route; the tunnel has an address of its own.
VPN_TABLE = """\
id=0x18000001000000 alias="Loopback Pseudo-Interface 1" description="Software Loopback Interface 1" type=24 hardware=0 in-rate=5000000 out-rate=5000000
id=0x6000002000000 alias="Ethernet" description="Intel(R) Ethernet Connection I219-V" type=6 speed=1000000000 in-rate=1500000 out-rate=307000 ipv4=192.168.1.20/24 ipv6=fe80::20/64,2001:db8::20/64 gateway=192.168.1.1 metric=25
id=0x6000003000000 alias="Ethernet-WFP Native MAC Layer LightWeight Filter-0000" description="Intel(R) Ethernet Connection I219-V-WFP Native MAC Layer LightWeight Filter-0000" type=6 filter=1 speed=1000000000 in-rate=1500000 out-rate=307000
id=0x6000005000000 alias="Local Area Connection 2" description="TAP-Windows Adapter V9" type=6 hardware=0 speed=100000000 in-rate=1400000 out-rate=290000 ipv4=10.8.0.6/24
"""
# The same machine on Windows XP, whose table has no filter rows and no hardware marks, and a
# dial-up connection that is down.
XP_TABLE = """\
id=1 description="MS TCP Loopback interface" type=24 in-rate=5000000 out-rate=5000000
id=2 description="Intel(R) PRO/1000 MT Network Connection" type=6 speed=1000000000 in-rate=1500000 out-rate=307000
id=3 description="TAP-Win32 Adapter V9" type=6 speed=100000000 in-rate=1400000 out-rate=290000
id=4 description="WAN (PPP/SLIP) Interface" type=23 up=0 speed=56000
"""


@case
def kelvora_net_fed(args):
    """Interface tables fed by the host, on both ways of reading them (GetIfTable2, and Windows
    XP's GetIfTable when the shell's system lacks GetIfTable2): with a VPN up, the adapter's
    traffic is counted once, neither the filter row nor the tunnel nor the loopback adding to it."""
    for name, table, extra in (("vista", VPN_TABLE, []), ("xp", XP_TABLE, ["--without", "GetIfTable2"])):
        folder, plugin = kelvora_folder(args, "net-" + name)
        table_file = os.path.join(folder, "interfaces.table")
        with open(table_file, "w") as f:
            f.write(table)
        run = run_host(args.host, plugin, "wait 3500\nstop\n",
                       extra=["--log-texts", "--net-table", winpath(table_file), *extra])
        require_plugin_entry_points(run)
        check(run.returncode == 0, f"{name}: host exit code {run.returncode}: {run.output}")
        check(bool(run.lines('lookup "GetIfTable2" -> left out')) == (name == "xp"), f"{name}: the lookups\n" + run.tail())
        v = rc_values(os.path.join(folder, "Kelvora.rc"))
        num = lambda key: int(v[key.lower()])
        x, y, w, h = (num(f"Kelvora.netGraph.{k}:") for k in ("x", "y", "width", "height"))
        captions = drawn_texts(run, (x, y, x + w, y + h), 0x8025)
        check(len(captions) >= 3 and captions[0] == "NET 0 B/s" and set(captions[1:]) == {"NET 1.4 MB/s"},
              f"{name}: graph captions {captions}")
        for row, rate in (("netDown", "1.4 MB/s"), ("netUp", "299.8 KB/s")):
            left, right, top, tab_x, tab_y = (num(f"Kelvora.{row}.{k}:") for k in ("left", "right", "y", "tab_x", "tab_y"))
            values = drawn_texts(run, (left + tab_x, top + tab_y, right, top + tab_y + 20), 0x2)
            check_lines(["0 B/s", rate], values, f"{name}: the values of {row}")


# A machine with WSL 2 and Hyper-V: the virtual switches, listed first, have addresses and no
# gateway; the Wi-Fi adapter carries the default route. The VPN's tunnel is down until the table of
# a later step brings it up with a default route of a lower metric.
WSL_TABLE = """\
id=0x18000001000000 alias="Loopback Pseudo-Interface 1" description="Software Loopback Interface 1" type=24 hardware=0 ipv4=127.0.0.1/8 ipv6=::1/128
id=0x6000010000000 alias="vEthernet (WSL)" description="Hyper-V Virtual Ethernet Adapter" type=6 hardware=0 ipv4=172.22.16.1/20 ipv6=fe80::5d1:2a3b:4c5d:6e7f/64
id=0x6000011000000 alias="vEthernet (Default Switch)" description="Hyper-V Virtual Ethernet Adapter #2" type=6 hardware=0 ipv4=172.30.64.1/20
id=0x6000012000000 alias="Wi-Fi-WFP Native MAC Layer LightWeight Filter-0000" description="Intel(R) Wi-Fi 6 AX201 160MHz-WFP Native MAC Layer LightWeight Filter-0000" type=71 filter=1
id=0x4700013000000 alias="Wi-Fi" description="Intel(R) Wi-Fi 6 AX201 160MHz" type=71 speed=866700000 ipv4=169.254.7.9/16,192.168.1.20/24 ipv6=fe80::1c2d:3e4f:5a6b:7c8d/64,2a02:810d:4b3f:e100::14/64 ipv6-temporary=2a02:810d:4b3f:e100:3d5c:9a7e:11b2:4c0f/64 gateway=192.168.1.1 gateway6=fe80::1 metric=35
id=0x6000014000000 alias="Ethernet" description="Intel(R) Ethernet Connection I219-V" type=6 up=0 ipv4=10.0.0.5/24 gateway=10.0.0.1 metric=25
"""
VPN_UP = 'id=0x83000015000000 alias="OpenVPN Data Channel Offload" description="OpenVPN Data Channel Offload" type=53 hardware=0 ipv4=10.8.0.6/24 gateway=10.8.0.1 metric=5\n'
# The VPN gone, the Wi-Fi adapter down and the Ethernet adapter up with its default route.
WIFI_DOWN = WSL_TABLE.replace('type=71 speed=866700000', 'type=71 up=0 speed=866700000').replace(
    'type=6 up=0 ipv4=10.0.0.5', 'type=6 ipv4=10.0.0.5')
# No default route at all: the first physical adapter that is up, not a virtual switch listed before it.
NO_ROUTE = re.sub(r" (gateway6?|metric)=\S+", "", WSL_TABLE)
# The IP row's and the network sampler's functions that Windows XP lacks.
XP_FUNCTIONS = ["--without", "GetBestInterfaceEx", "--without", "GetIfTable2", "--without", "FreeMibTable"]
# What the resolver functions are called: none may be imported or looked up.
RESOLVER_FUNCTIONS = ["gethostname", "gethostbyname", "gethostbyaddr", "getaddrinfo", "GetAddrInfoW", "GetAddrInfoExW",
                      "getnameinfo", "GetNameInfoW", "WSALookupServiceBeginA", "WSALookupServiceBeginW",
                      "DnsQuery_A", "DnsQuery_W", "DnsQuery_UTF8"]


def ip_row_values(run, folder):
    v = rc_values(os.path.join(folder, "Kelvora.rc"))
    num = lambda key: int(v[key.lower()])
    left, right, top, tab_x, tab_y = (num(f"Kelvora.ip.{k}:") for k in ("left", "right", "y", "tab_x", "tab_y"))
    values = drawn_texts(run, (left + tab_x, top + tab_y, right, top + tab_y + 20), 0x2)
    return [t for i, t in enumerate(values) if i == 0 or t != values[i - 1]]


@case
def kelvora_ip_fed(args):
    """The IP row on interface tables fed by the host: the adapter the default route leaves by, not
    the virtual switch listed first; a VPN that takes the default route, and an adapter going down,
    show within a network period; no interface shows n/a; IPv6 with Windows XP's functions only
    follows the IPv4 route. The row's reading neither imports nor looks up a resolver function."""
    dump = subprocess.run([os.environ.get("KELVORA_OBJDUMP", "x86_64-w64-mingw32-objdump"), "-p",
                           os.path.join(args.build, "example", "Kelvora.dll")], stdout=subprocess.PIPE).stdout.decode()
    imported = set(re.findall(r"^\s+[0-9a-f]+\s+\d+\s+(\S+)$", dump, re.M))
    check(imported and not imported & set(RESOLVER_FUNCTIONS), f"resolver imports: {imported & set(RESOLVER_FUNCTIONS)}")
    without_resolvers = [a for name in RESOLVER_FUNCTIONS for a in ("--without", name)]
    runs = (
        # name, rc lines added, extra host options, the tables in turn, the values in turn
        ("switch-first", b"", [], [WSL_TABLE], ["192.168.1.20"]),
        ("vpn-then-down", b"", [], [WSL_TABLE, WSL_TABLE + VPN_UP, WIFI_DOWN], ["192.168.1.20", "10.8.0.6", "10.0.0.5"]),
        ("no-route", b"", [], [NO_ROUTE], ["192.168.1.20"]),
        ("named", b"Kelvora.ip.interface: VETHERNET (DEFAULT SWITCH)\r\n", [], [WSL_TABLE], ["172.30.64.1"]),
        ("none", b"", [], [""], ["n/a"]),
        # Windows XP's functions only: the IPv6 address of the IPv4 route's adapter, and XP's
        # interface table telling the network sampler that the Wi-Fi adapter went down (the
        # Ethernet adapter then has the route, and no IPv6 address).
        ("ipv6-xp", b"Kelvora.ip.family: ipv6\r\n", XP_FUNCTIONS, [WSL_TABLE, WIFI_DOWN],
         ["2a02:810d:4b3f:e100::14", "n/a"]),
    )
    for name, rc_lines, extra, tables, expected in runs:
        folder, plugin = kelvora_folder(args, "ip-" + name)
        rc = os.path.join(folder, "Kelvora.rc")
        with open(rc, "ab") as f:
            f.write(rc_lines)
        files = []
        for i, table in enumerate(tables):
            files.append(os.path.join(folder, f"interfaces{i}.table"))
            with open(files[-1], "w") as f:
                f.write(table)
        # The IP row's own period is a minute: every change after the first reading comes from the
        # network sampler, whose period is a second.
        script = "wait 1500\n" + "".join(f"net-table {winpath(t)}\nwait 1700\n" for t in files[1:]) + "stop\n"
        run = run_host(args.host, plugin, script,
                       extra=["--log-texts", "--net-table", winpath(files[0]), *without_resolvers, *extra])
        require_plugin_entry_points(run)
        check(run.returncode == 0, f"{name}: host exit code {run.returncode}: {run.output}")
        refused = [l for l in run.lines("lookup ") if any(f'"{f}"' in l for f in RESOLVER_FUNCTIONS)]
        check(not refused, f"{name}: resolver lookups {refused}")
        check(bool(run.lines('lookup "GetBestInterfaceEx" -> left out')) == (extra == XP_FUNCTIONS),
              f"{name}: the lookups\n" + run.tail())
        check_lines(expected, ip_row_values(run, folder), f"{name}: the IP row")


# Two physical disks as the stand-in host feeds them: C:, busy, and a second disk that holds D: and
# E:. Rates of whole bytes a millisecond, away from a text's edge, give exact texts.
DISK_TABLE = """\
name="0 C:" read=5000000000 write=3000000000 read-rate=1500000 write-rate=307200
name="1 D: E:" read-rate=2048
"""


@case
def kelvora_disk_io(args):
    """Disk activity end to end: under Wine, whose performance data has no physical-disk object,
    both rows show n/a and the graph DISK n/a, drawn once since it never changes; with the host
    feeding two disks, all of them and the one that holds a named drive letter show their rates
    after a first reading of 0 B/s."""
    runs = (("wine", "", None, {"diskRead": ["n/a"], "diskWrite": ["n/a"], "graph": ["n/a"]}),
            ("all", "", DISK_TABLE, {"diskRead": ["0 B/s", "1.4 MB/s"], "diskWrite": ["0 B/s", "300.0 KB/s"],
                                     "graph": ["0 B/s", "1.7 MB/s"]}),
            ("letter", "e:", DISK_TABLE, {"diskRead": ["0 B/s", "2.0 KB/s"], "diskWrite": ["0 B/s"],
                                          "graph": ["0 B/s", "2.0 KB/s"]}))
    for name, disk, table, expected in runs:
        folder, plugin = kelvora_folder(args, "disk-" + name)
        rc = os.path.join(folder, "Kelvora.rc")
        with open(rc, "rb") as f:
            theme = f.read()
        theme = theme.replace(b"Kelvora.diskIo.disk:\r\n", b"Kelvora.diskIo.disk: " + disk.encode() + b"\r\n")
        theme = theme.replace(b"Kelvora.timers.diskIo: 1000", b"Kelvora.timers.diskIo: 500")
        with open(rc, "wb") as f:
            f.write(theme)
        extra = ["--log-texts"]
        if table:
            table_file = os.path.join(folder, "disks.table")
            with open(table_file, "w") as f:
                f.write(table)
            extra += ["--disk-table", winpath(table_file)]
        run = run_host(args.host, plugin, "wait 2800\nstop\n", extra=extra)
        require_plugin_entry_points(run)
        check(run.returncode == 0, f"{name}: host exit code {run.returncode}: {run.output}")
        v = rc_values(rc)
        num = lambda key: int(v[key.lower()])
        x, y, w, h = (num(f"Kelvora.diskIoGraph.{k}:") for k in ("x", "y", "width", "height"))
        captions = drawn_texts(run, (x, y, x + w, y + h), 0x8025)
        check(all(c.startswith("DISK ") for c in captions), f"{name}: graph captions {captions}")
        # The graph is drawn at every reading that moves its bars, a row's value when it or a part
        # over it changes: the texts shown in turn are compared. Under Wine the graph never changes
        # (n/a, no bars) and is drawn once, not at each of its five readings.
        changes = lambda texts: [t for i, t in enumerate(texts) if i == 0 or t != texts[i - 1]]
        drawn_enough = len(captions) <= 2 if table is None else len(captions) >= 3
        check(drawn_enough and changes([c[len("DISK "):] for c in captions]) == expected["graph"],
              f"{name}: graph captions {captions}")
        for row in ("diskRead", "diskWrite"):
            left, right, top, tab_x, tab_y = (num(f"Kelvora.{row}.{k}:") for k in ("left", "right", "y", "tab_x", "tab_y"))
            values = drawn_texts(run, (left + tab_x, top + tab_y, right, top + tab_y + 20), 0x2)
            check_lines(expected[row], changes(values), f"{name}: the values of {row}")


@case
def kelvora_volume_hang(args):
    """The system disk as a share whose server is gone, from the start and for half a minute, at
    the theme's own disk period: the other samplers go on, the disk's row shows "n/a" after three
    periods and its free space once the server is back. The plugin stops at once while a query
    hangs, and starts again beside the waiting worker; unloading the module then leaves the
    process running, and the worker ends when its query returns. A stop leaves the shell no
    registration of the panel, and a stop and start exactly one."""
    folder, plugin = kelvora_folder(args, "volume-hang")
    v = rc_values(os.path.join(folder, "Kelvora.rc"))
    check(v["kelvora.timers.disk:"] == "5000" and v["kelvora.disk[1].path:"] == "C:\\", "the example theme's disk")
    script = ("hang-volume C:\\\nwait 31000\nrelease-volumes\nwait 1000\nhang-volume C:\\\nwait 6000\nmeasure hung\n"
              "restart\nwait 400\nmeasure restarted\nunload\nmeasure unloaded\nrelease-volumes\nwait 1000\n"
              "measure released\nstop\n")
    run = run_host(args.host, plugin, script, extra=["--log-texts"])
    require_plugin_entry_points(run)
    check(run.returncode == 0, f"host exit code {run.returncode}: {run.output}\n" + run.tail())
    right, top, tab_y = (int(v[f"kelvora.disk[1].{k}:"]) for k in ("right", "y", "tab_y"))
    shown = drawn_texts(run, (right - 100, top + tab_y, right, top + tab_y + 20), 0x2)
    check("n/a" in shown and any(t.endswith(" GB") for t in shown[shown.index("n/a"):]),
          f"the hanging disk's texts: {shown}")
    # The CPU graph scrolls on at its period (500 ms) while the disk hangs.
    x, y, w, h = (int(v[f"kelvora.cpugraph.{k}:"]) for k in ("x", "y", "width", "height"))
    during = run.log[:run.index("release-volumes")]
    captions = [l for l in during if l.startswith("text ") and l.endswith(" rect=%d,%d,%d,%d format=0x8025" % (x, y, x + w, y + h))]
    # 62 at that period; a loaded machine runs timers late, while a waiting thread would draw none.
    check(len(captions) >= 31, f"{len(captions)} CPU captions drawn in the 31 s the disk hung")
    took = [int(line.split()[2]) for line in run.lines("unload took ")]
    check(len(took) == 1 and took[0] < 100, f"the stop while a query hangs: {run.lines('unload took ')}")
    m = parse_measures(run)
    check([m[k]["registrations"] for k in ("hung", "restarted", "unloaded")] == [1, 1, 0],
          "registrations: " + ", ".join(f"{k} {m[k]['registrations']}" for k in m))
    check(m["released"]["threads"] < m["unloaded"]["threads"],
          "threads: " + ", ".join(f"{k} {m[k]['threads']}" for k in m))


def core_bars(rows, rc, processors):
    """Each processor's bar height in a screenshot: the rows of the bar colour standing on the
    cores plot's bottom row, in the middle column of the processor's share."""
    v = rc_values(rc)
    x, y, w, h = (int(v[f"kelvora.coresgraph.{k}:"]) for k in ("x", "y", "width", "height"))
    bar = colour(v["kelvora.coresgraph.color:"])
    share = max(1, w // processors)
    heights = []
    for p in range(processors):
        column = x + p * share + share // 2
        rows_up = 0
        while rows_up < h and rows[y + h - 1 - rows_up][column] == bar:
            rows_up += 1
        heights.append(rows_up)
    return heights


def processor_times():
    """(busy, total) jiffies of each Linux processor, as Wine reports them to the plugin."""
    times = []
    with open("/proc/stat") as f:
        for line in f:
            fields = line.split()
            if re.match(r"^cpu\d+$", fields[0]):
                numbers = [int(n) for n in fields[1:8]]
                idle = numbers[3] + numbers[4]  # idle and waiting for I/O
                times.append((sum(numbers) - idle, sum(numbers)))
    return times


class Timeline:
    """What the machine itself counts, read every 50 ms in a thread of its own while a case runs:
    (wall time, read()) pairs. A shared machine's other work changes loads and traffic from one
    moment to the next, so the plugin's figures are held to what the machine counted around the
    moments they were taken."""

    def __init__(self, read):
        self.read, self.readings = read, []
        self.stopping = threading.Event()
        self.thread = threading.Thread(target=self.record, daemon=True)

    def record(self):
        while not self.stopping.is_set():
            self.readings.append((time.time(), self.read()))
            self.stopping.wait(0.05)

    def __enter__(self):
        self.thread.start()
        return self

    def __exit__(self, *exc):
        self.stopping.set()
        self.thread.join()

    def spans(self, rate, end_from, end_to, shortest, longest):
        """rate(before, after, seconds) over every span of shortest to longest seconds that ends
        between end_from and end_to; None where the rate has no value."""
        found = []
        for t1, after in self.readings:
            if end_from <= t1 <= end_to:
                found += [rate(before, after, t1 - t0) for t0, before in self.readings if shortest <= t1 - t0 <= longest]
        return [r for r in found if r is not None]


def busy_percent(processor):
    """A processor's busy time in percent between two readings of processor_times()."""
    def rate(before, after, seconds):
        (b0, s0), (b1, s1) = before[processor], after[processor]
        return 100 * (b1 - b0) / (s1 - s0) if s1 > s0 else None
    return rate


def loopback_received():
    """Bytes that Linux's loopback interface received, as Wine reports them for "lo"."""
    with open("/proc/net/dev") as f:
        for line in f:
            name, _, counters = line.partition(":")
            if name.strip() == "lo":
                return int(counters.split()[0])
    raise Failure("no loopback interface in /proc/net/dev")


@case
def kelvora_cores_busy(args):
    """Real per-processor loads under Wine: a process that keeps the last logical processor busy,
    its affinity set to that processor alone, for a few seconds. In every picture of the panel
    that processor's bar in the cores graph stands near the full height, and every processor's
    bar matches what the machine counted for that processor over the same moments (the machine
    is shared: its other work may keep any processor busy)."""
    processors = os.cpu_count()
    if processors is None or processors < 2:
        print("one processor: nothing to compare")
        return
    busy = processors - 1
    period = 0.4
    folder, plugin = kelvora_folder(args, "cores-busy")
    rc = os.path.join(folder, "Kelvora.rc")
    theme_with(folder, (b"Kelvora.timers.cpu: 500", b"Kelvora.timers.cpu: 400"))
    shots = [os.path.join(folder, f"cores{i}.png") for i in range(6)]
    script = "wait 2000\n" + "".join(f"screenshot {winpath(shot)}\nwait 500\n" for shot in shots) + "stop\n"
    loop = ("import os, time\nos.sched_setaffinity(0, {%d})\nend = time.monotonic() + 30\n"
            "while time.monotonic() < end:\n    pass\n" % busy)
    hog = subprocess.Popen([sys.executable, "-c", loop])
    try:
        time.sleep(0.5)
        with Timeline(processor_times) as timeline:
            run = run_host(args.host, plugin, script)
    finally:
        hog.kill()
        hog.wait()
    require_plugin_entry_points(run)
    check(run.returncode == 0, f"host exit code {run.returncode}: {run.output}\n" + run.tail())
    h = int(rc_values(rc)["kelvora.coresgraph.height:"])
    bars = [core_bars(read_png(shot)[2], rc, processors) for shot in shots]
    print(f"bars of {processors} processors (height {h}), processor {busy} kept busy: {bars}")
    for shot, shot_bars in zip(shots, bars):
        check(shot_bars[busy] >= h * 0.8, f"processor {busy}: a bar of {shot_bars[busy]} of {h} rows: {bars}")
        # The picture shows the last CPU tick before it was written; that tick measured about one
        # period, and a loaded machine runs timers late: spans of half to twice the period, ending
        # up to two periods before the picture.
        taken = os.stat(shot).st_mtime
        for p in range(processors):
            counted = timeline.spans(busy_percent(p), taken - 2 * period, taken, period / 2, 2 * period)
            check(counted, f"no /proc/stat readings around {shot}")
            low, high = min(counted), max(counted)
            shown = 100 * shot_bars[p] / h
            check(low - 15 <= shown <= high + 15,
                  f"processor {p} in {os.path.basename(shot)}: a bar of {shown:.0f} %, while /proc/stat counted "
                  f"{low:.0f} to {high:.0f} % busy over those moments: {bars}")


# Processors fed by the host, in two groups: bars of exactly known heights.
FED_CORES = "load=100\nload=50\nload=0\ngroup=1 load=25\n"


@case
def kelvora_cores_fed(args):
    """Processors fed by the host in two groups (read group by group): four equal shares of the
    plot, bars of load x height / 100 rows, and the CPU figure their average busy time. Where the
    system has no processor query, no bars at all."""
    folder, plugin = kelvora_folder(args, "cores-fed")
    rc = os.path.join(folder, "Kelvora.rc")
    table = os.path.join(folder, "cores.table")
    with open(table, "w") as f:
        f.write(FED_CORES)
    shots = [os.path.join(folder, "fed.png"), os.path.join(folder, "missing.png")]
    v = rc_values(rc)
    h = int(v["kelvora.coresgraph.height:"])
    expected = [h * load // 100 for load in (100, 50, 0, 25)]
    for shot, extra in zip(shots, ([], ["--without", "NtQuerySystemInformation", "--without", "NtQuerySystemInformationEx"])):
        run = run_host(args.host, plugin, f"wait 1800\nscreenshot {winpath(shot)}\nstop\n",
                       extra=["--log-texts", "--core-table", winpath(table), *extra])
        require_plugin_entry_points(run)
        check(run.returncode == 0, f"host exit code {run.returncode}: {run.output}\n" + run.tail())
        in_order(run, [f'core-table "{winpath(table)}": 4 processors in 2 groups', "returned beginPlugin 0"])
        width, height, rows = read_png(shot)
        bars = core_bars(rows, rc, 4)
        if extra:
            check(bars == [0, 0, 0, 0], f"without the processor query: bars {bars}")
            continue
        check(bars == expected, f"bars {bars}, expected {expected}")
        x, y, w, _ = (int(v[f"kelvora.coresgraph.{k}:"]) for k in ("x", "y", "width", "height"))
        background = colour(v["kelvora.coresgraph.background:"])
        check(all(rows[y + r][x + w - 1 - c] == background for r in range(h) for c in range(w % 4)),
              "the columns left over are background")
        cx, cy, cw, ch = (int(v[f"kelvora.cpugraph.{k}:"]) for k in ("x", "y", "width", "height"))
        captions = drawn_texts(run, (cx, cy, cx + cw, cy + ch), 0x8025)
        check(captions and captions[-1] == "CPU 44%", f"CPU captions {captions}: the processors' 43.75 % rounded")


GPU_FUNCTIONS = ("D3DKMTEnumAdapters2", "D3DKMTOpenAdapterFromGdiDisplayName", "D3DKMTQueryStatistics",
                 "D3DKMTQueryAdapterInfo", "D3DKMTCloseAdapter")
GPU_TOOLTIP = ["Kelvora Test RTX: 40%", "Engines: 3D 40%, Video Decode 15%, Video Encode 5%",
               "Dedicated memory: 1.25 GB / 8.00 GB", "Shared memory: 100.0 MB / 16.00 GB", "Kelvora Test UHD: 70%",
               "Engines: Engine 1 70%, Engine 0 25%", "Dedicated memory: 256.0 MB / 512.0 MB",
               "Shared memory: 500.0 MB / 8.00 GB"]


def gpu_bars(rows, rc):
    """The bar height of each column of the GPU graph in a screenshot, oldest first."""
    v = rc_values(rc)
    x, y, w, h = (int(v[f"kelvora.gpugraph.{k}:"]) for k in ("x", "y", "width", "height"))
    bar = colour(v["kelvora.gpugraph.color:"])
    heights = []
    for column in range(x, x + w):
        rows_up = 0
        while rows_up < h and rows[y + h - 1 - rows_up][column] == bar:
            rows_up += 1
        heights.append(rows_up)
    return heights


@case
def kelvora_gpu_fed(args):
    """Graphics adapters fed by the host (tests/themes/gpus.table): the busiest adapter's load in
    the caption and bars (after a first reading of 0), its dedicated memory in the row, the
    adapters in the tooltip; an adapter named by its string; and, without the kernel thunks (as
    on Windows XP) or under Wine's own, "GPU n/a" over an empty plot and "n/a" in the row."""
    table = winpath(os.path.join(args.source, "tests", "themes", "gpus.table"))
    runs = (("busiest", "", ["--gpu-table", table], "70", "256.0 MB / 512.0 MB"),
            ("named", "kelvora test rtx", ["--gpu-table", table], "40", "1.25 GB / 8.00 GB"),
            ("place", "1", ["--gpu-table", table], "70", "256.0 MB / 512.0 MB"),
            ("no match", "Kelvora Test", ["--gpu-table", table], None, "n/a"),
            ("as on XP", "", ["--gpu-table", table] + [a for f in GPU_FUNCTIONS for a in ("--without", f)], None, "n/a"),
            ("wine", "", [], None, "n/a"))
    for name, adapter, extra, load, memory in runs:
        folder, plugin = kelvora_folder(args, "gpu-" + name.replace(" ", "-"))
        theme_with(folder, (b"Kelvora.gpu.adapter:\r\n", b"Kelvora.gpu.adapter: " + adapter.encode() + b"\r\n"))
        rc = os.path.join(folder, "Kelvora.rc")
        points = part_points(rc)
        shot = os.path.join(folder, "panel.png")
        script = "wait 2300\nscreenshot {}\npoint {} {}\nwait 1200\ntooltip\nstop\n".format(winpath(shot), *points["gpuGraph"])
        run = run_host(args.host, plugin, script, extra=["--log-texts", *extra])
        require_plugin_entry_points(run)
        check(run.returncode == 0, f"{name}: host exit code {run.returncode}: {run.output}\n" + run.tail())
        v = rc_values(rc)
        x, y, w, h = (int(v[f"kelvora.gpugraph.{k}:"]) for k in ("x", "y", "width", "height"))
        captions = drawn_texts(run, (x, y, x + w, y + h), 0x8025)
        changes = [c for i, c in enumerate(captions) if i == 0 or c != captions[i - 1]]
        expected = ["GPU 0%", f"GPU {load}%"] if load else ["GPU n/a"]
        check_lines(expected, changes, f"{name}: the GPU graph's captions")
        bars = gpu_bars(read_png(shot)[2], rc)
        # The load graph's bar: the single-precision factor height / 100 times the load, truncated.
        full = int(struct.unpack("f", struct.pack("f", h / 100))[0] * int(load)) if load else 0
        shown = [b for b in bars if b]
        if load:
            # The first reading's 0 at the left of the bars, then one bar per CPU tick at the right.
            check(len(shown) >= 2 and bars == [0] * (w - len(shown)) + [full] * len(shown), f"{name}: bars {bars}, full {full}")
        else:
            check(bars == [0] * w, f"{name}: bars {bars}")
        check(row_value(run, rc, "gpuMemory") == memory, f"{name}: the row shows {row_value(run, rc, 'gpuMemory')}")
        steps = tooltip_steps(run)
        check(len(steps) == 1 and steps[0][1] == 1, f"{name}: tooltip steps {steps}")
        # The tooltip lists every adapter read, whichever the panel shows.
        read = extra and "--without" not in extra
        check_lines(GPU_TOOLTIP if read else ["GPU: n/a"], steps[0][3], f"{name}: the GPU tooltip")
        if "--gpu-table" in extra:
            check("gpu adapters left open: 0" in run.log, f"{name}: adapters left open\n" + run.tail())
        if name == "as on XP":
            for function in ("D3DKMTQueryStatistics", "D3DKMTOpenAdapterFromGdiDisplayName"):
                check(f'lookup "{function}" -> left out' in run.log, f"{name}: {function} not left out\n" + run.tail())


@case
def kelvora_soak(args):
    """Reloads, sampler ticks, paints and start/stop cycles in one host process leave memory,
    GDI and USER objects and kernel handles where the first cycle left them."""
    full = os.environ.get("KELVORA_SOAK") == "full"
    # Full: 100 cycles of 100 reloads, 167 rounds of the eight samplers and 100 paints
    # (10,000 reloads, 133,600 ticks, 10,000 paints). The default run does a tenth of the
    # cycles with a fifth of the work in each.
    cycles, reloads, rounds, paints, loads = (100, 100, 167, 100, 20) if full else (10, 20, 34, 20, 3)
    folder, plugin = kelvora_folder(args, "soak")
    run = run_host(args.host, plugin, soak_script(cycles, reloads, rounds, paints, loads), timeout=3600)
    require_plugin_entry_points(run)
    check(run.returncode == 0, f"host exit code {run.returncode}: {run.output}")
    check(not run.lines("box "), f"message boxes during the soak: {run.lines('box ')[:3]}")
    check(not any("did not start" in line for line in run.log), "a restart failed\n" + run.tail())
    m = parse_measures(run)
    check(set(m) == {"first", "end", "loaded", "reloaded"}, f"measures: {sorted(m)}\n" + run.tail())
    timings = [line for line in run.lines("script repeat done")]
    print(f"{cycles} cycles: {cycles * reloads} reloads, {cycles * rounds * 8} sampler ticks, {cycles * paints} paints, "
          f"{cycles} stop/start cycles")
    for label in ("first", "end", "loaded", "reloaded"):
        print(f"  {label:9} " + " ".join(f"{k}={v}" for k, v in m[label].items()))
    total_ms = sum(int(t.split()[-2]) for t in timings)
    print(f"  repeated steps took {total_ms} ms")
    for figure in ("private", "gdi", "handles"):
        check(m["end"][figure] == m["first"][figure],
              f"{figure}: {m['first'][figure]} after the first cycle, {m['end'][figure]} at the end")
    # Under Wine the USER count covers every process of the display, whose own windows
    # (the desktop's) may come and go; the plugin's leak would only ever add.
    check(m["end"]["user"] <= m["first"]["user"],
          f"USER objects: {m['first']['user']} after the first cycle, {m['end']['user']} at the end")
    # Unloading and loading the module: its memory and GDI objects come back too. Wine keeps
    # one handle for every read of HKEY_PERFORMANCE_DATA (any program does this under Wine),
    # and a fresh module's meter reads it once; beyond that no handle may stay.
    # In a 32-bit build the unwinder registers the module's frames as it loads, through the
    # thread library linked in, which nothing at the unload frees all of: the lock's record,
    # the once-record and the shell thread's record (handed back, to a list of the library's
    # own), 224 bytes a load.
    kept = 256 if is_32_bit_module(plugin) else 0
    check(m["reloaded"]["private"] - m["loaded"]["private"] <= kept * loads,
          f"private over {loads} module loads: {m['loaded']['private']} -> {m['reloaded']['private']}")
    check(m["reloaded"]["gdi"] == m["loaded"]["gdi"],
          f"gdi over {loads} module loads: {m['loaded']['gdi']} -> {m['reloaded']['gdi']}")
    handles = m["reloaded"]["handles"] - m["loaded"]["handles"]
    queries = m["reloaded"]["perfQueries"] - m["loaded"]["perfQueries"]
    print(f"  {loads} module loads: {handles} more kernel handles, {queries} performance-data queries")
    check(handles <= queries, f"{handles} kernel handles stayed over {loads} module loads, "
                              f"more than the {queries} performance-data queries account for")


@case
def kelvora_check_theme(args):
    """scripts/check-theme: the example theme checks clean; tests/themes/broken.rc, with line
    ends the other way round from the example's, gets exactly the findings of broken.expected;
    the script's layout rules are those of the configuration reference and the painter."""
    script = os.path.join(args.source, "scripts", "check-theme")
    checker = SourceFileLoader("check_theme", script).load_module()
    with open(os.path.join(args.source, "docs", "configuration.md"), encoding="utf-8") as f:
        doc = f.read().split("\n## Checking a theme\n", 1)
    check(len(doc) == 2, "docs/configuration.md has no section \"Checking a theme\"")
    table = [l for l in doc[1].split("\n## ")[0].split("\n") if l.startswith("| ") and not l.startswith("| Part ")]
    check_lines(checker.layout_rows(), table, "layout rules, script | doc")
    with open(os.path.join(args.source, "render", "painter.cpp"), encoding="utf-8") as f:
        painter = dict(re.findall(r"constexpr int (\w+) = (\d+);", f.read()))
    for name, value in checker.SIZES.items():
        check(painter.get(name) == str(value), f"{name}: {value} in the script, {painter.get(name)} in the painter")

    def run(theme, *extra, cwd=None):
        done = subprocess.run([script, theme, "--build", args.build, *extra], cwd=cwd, stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, timeout=300)
        return done.returncode, done.stdout.decode("latin-1").splitlines(), done.stderr.decode("latin-1")

    example = os.path.join(args.source, "examples", "Kelvora.rc")
    code, out, err = run(example)
    check((code, out) == (0, []), f"the example theme: exit {code}\n" + "\n".join(out) + err)
    # Under a style whose font is taller than the rows, every row of the theme is named.
    code, out, err = run(example, "--style", os.path.join(args.source, "tests", "themes", "large-font.style"))
    check(code == 1 and len(out) == 1 and "the style's font is 26 pixels high" in out[0]
          and all(f"{row} (line " in out[0] for row in ("disk[2]", "ip", "systemUptime", "netUp")),
          f"the example theme under a 26-pixel font: exit {code}\n" + "\n".join(out) + err)

    work = plugin_folder([os.path.join(args.source, "tests", "themes")], "check-theme")
    themes = os.path.join(work, "themes")
    with open(example, "rb") as f:
        crlf = b"\r\n" in f.read()
    with open(os.path.join(themes, "broken.rc"), "rb") as f:
        lines = f.read().replace(b"\r\n", b"\n").split(b"\n")
    with open(os.path.join(themes, "broken.rc"), "wb") as f:
        f.write((b"\n" if crlf else b"\r\n").join(lines))
    picture = os.path.join(work, "broken.png")
    code, out, err = run("broken.rc", "--picture", picture, "--net-table", "interfaces.table", "--disk-table", "disks.table",
                         "--gpu-table", "gpus.table", cwd=themes)
    with open(os.path.join(themes, "broken.expected"), encoding="latin-1") as f:
        check_lines(f.read().splitlines(), out, "findings of broken.rc, expected | actual")
    check(code == 1, f"broken.rc: exit {code}, not 1\n{err}")
    width, height, _ = read_png(picture)
    check((width, height) == (200, 150), f"the picture is {width}x{height}, not the panel's 200x150")

    code, _, err = run("no-such-theme.rc", cwd=themes)
    check(code == 2 and "no-such-theme.rc" in err, f"a missing theme: exit {code}, {err!r}")

# --- details on hover and actions on a double click ------------------------------------------

TOOLTIP_STEP = re.compile(r"^script tooltip: windows=(\d+) shown=(\d+) topmost=(\d+)$")
SIZE_TEXT = r"-?\d+(?:\.\d+)? (?:B|KB|MB|GB)"


def tooltip_steps(run):
    """Each tooltip step of the run: (windows, shown, topmost, the shown text's lines)."""
    steps = []
    for i, line in enumerate(run.log):
        m = TOOLTIP_STEP.match(line)
        if not m:
            continue
        lines = []
        for follow in run.log[i + 1:]:
            if not follow.startswith('tooltip text "'):
                break
            lines.append(follow[len('tooltip text "'):-1].encode("latin-1").decode("utf-8"))
        steps.append((int(m.group(1)), int(m.group(2)), int(m.group(3)), lines))
    return steps


def part_points(rc):
    """A point inside each part of the theme in rc, in panel coordinates."""
    v = rc_values(rc)
    num = lambda key: int(v[key.lower()])
    points = {}
    for graph in ("cpuGraph", "memoryGraph", "netGraph", "coresGraph", "diskIoGraph", "gpuGraph"):
        x, y, w, h = (num(f"Kelvora.{graph}.{k}:") for k in ("x", "y", "width", "height"))
        points[graph] = (x + w // 2, y + h // 2)
    for i in range(1, num("Kelvora.diskCount:") + 1):
        left, y, tab_y = (num(f"Kelvora.disk[{i}].{k}:") for k in ("left", "y", "tab_y"))
        points[f"disk[{i}]"] = (left + 50, y + tab_y + 10)
    for row in ITEMS + ["netDown", "netUp", "diskRead", "diskWrite", "gpuMemory"]:
        left, right, y, tab_y = (num(f"Kelvora.{row}.{k}:") for k in ("left", "right", "y", "tab_y"))
        points[row] = ((left + right) // 2, y + tab_y + 10)
    return points


def row_value(run, rc, row):
    """The last value the panel drew in an information row."""
    v = rc_values(rc)
    left, right, top, tab_x, tab_y = (int(v[f"kelvora.{row.lower()}.{k}:"]) for k in ("left", "right", "y", "tab_x", "tab_y"))
    values = drawn_texts(run, (left + tab_x, top + tab_y, right, top + tab_y + 20), 0x2)
    check(values, f"no value drawn in {row}")
    return values[-1]


def size_of(text):
    """Bytes of a byte-size text ("4.3 MB")."""
    number, unit = text.split()
    return float(number) * 1024 ** ("B", "KB", "MB", "GB").index(unit)


def check_memory_lines(lines, total, what):
    patterns = [r"Memory load: \d+%", f"Total: {SIZE_TEXT}", f"Used: {SIZE_TEXT}", f"Free: {SIZE_TEXT}",
                f"Commit charge: {SIZE_TEXT} of {SIZE_TEXT}"]
    check(len(lines) == len(patterns) and all(re.fullmatch(p, l) for p, l in zip(patterns, lines)),
          f"{what}: {lines}")
    check(lines[1] == f"Total: {total}", f"{what}: the total is not the row's {total}: {lines}")


@case
def kelvora_tooltips(args):
    """The pointer rests on each kind of part of a translucent panel: its tooltip, above every
    window, holds the details of its kind, the host's fixed answers (a fed interface
    table) and the real ones (a busy process among the CPU graph's top three after "measuring…",
    the memory, the disk, the power status and the rows' own values); moving away hides it."""
    folder, plugin = kelvora_folder(args, "tooltips")
    # A CPU period long enough to catch the first showing before its processes are measured.
    theme_with(folder, (b"Kelvora.timers.cpu: 500", b"Kelvora.timers.cpu: 2000"),
               (b"Kelvora.alphaEnabled: false", b"Kelvora.alphaEnabled: true"))
    rc = os.path.join(folder, "Kelvora.rc")
    table = os.path.join(folder, "interfaces.table")
    with open(table, "w") as f:
        f.write(VPN_TABLE)
    points = part_points(rc)
    order = ["cpuGraph", "memoryGraph", "totalMemory", "netGraph", "netDown", "disk[1]", "ip", "battery",
             "systemUptime", "coresGraph", "diskIoGraph", "diskWrite"]
    script = "wait 2500\npoint {} {}\nwait 1200\ntooltip\nwait 2500\ntooltip\n".format(*points["cpuGraph"])
    for part in order[1:]:
        script += "point {} {}\nwait 1000\ntooltip\n".format(*points[part])
    script += "point -40 -40\nwait 1000\ntooltip\nstop\n"
    busy = subprocess.Popen([os.environ.get("KELVORA_WINE", "/usr/lib/wine/wine64"),
                             os.path.join(args.build, "tests", "e2e", "busy_loop.exe"), "90000"])
    try:
        run = run_host(args.host, plugin, script, extra=["--log-texts", "--net-table", winpath(table), "--disk-table",
                                                         winpath(os.path.join(args.source, "tests", "themes", "disks.table"))])
    finally:
        busy.kill()
        busy.wait()
    require_plugin_entry_points(run)
    check(run.returncode == 0, f"host exit code {run.returncode}: {run.output}\n" + run.tail())
    steps = tooltip_steps(run)
    check(len(steps) == len(order) + 2, f"tooltip steps: {steps}\n" + run.tail())
    for step in steps[:-1]:
        check(step[:3] == (1, 1, 1), f"a shown, topmost tooltip: {step}\n" + run.tail())
    shown = dict(zip(["measuring"] + order, [s[3] for s in steps[:-1]]))

    cpu = shown["cpuGraph"]
    check(re.fullmatch(r"CPU load: \d+%", cpu[0]) and cpu[1] == "Measure: busy time", f"CPU: {cpu}")
    first = shown["measuring"]
    own = r"Kelvora itself: (< 0\.01|\d+\.\d\d)% of a core"
    check(len(first) == 4 and first[1:3] == ["Measure: busy time", "measuring\u2026"] and re.fullmatch(own, first[3]),
          f"CPU first showing: {first}")
    check(3 <= len(cpu) <= 6 and all(re.fullmatch(r".+ \d+%", l) for l in cpu[2:-1]) and re.fullmatch(own, cpu[-1]),
          f"CPU: {cpu}")
    check(any(re.fullmatch(r"busy_loop\.exe \d+%", l) for l in cpu[2:-1]), f"the busy process is not among {cpu}")

    total = row_value(run, rc, "totalMemory")
    check_memory_lines(shown["memoryGraph"], total, "memory graph")
    check_memory_lines(shown["totalMemory"], total, "total memory row")

    for part in ("netGraph", "netDown"):
        lines = shown[part]
        check(len(lines) == 3 and lines[0] == "Ethernet: 1 Gbit/s", f"{part}: {lines}")
        received = re.fullmatch(f"Received since start: ({SIZE_TEXT})", lines[1])
        sent = re.fullmatch(f"Sent since start: ({SIZE_TEXT})", lines[2])
        check(received and sent, f"{part}: {lines}")
        # The fed adapter receives 1,500,000 and sends 307,000 bytes a second.
        ratio = size_of(received.group(1)) / max(size_of(sent.group(1)), 1)
        check(size_of(received.group(1)) > 1000000 and 4.5 < ratio < 5.3, f"{part}: {lines}")

    disk = shown["disk[1]"]
    free = re.fullmatch(f"Free: ({SIZE_TEXT}) \\(\\d+%\\)", disk[3]) if len(disk) > 3 else None
    check(disk[:1] == ["C:\\"] and re.fullmatch(f"Total: {SIZE_TEXT}", disk[1]) and free and
          any(l.startswith("File system: ") for l in disk[4:]), f"disk[1]: {disk}")
    # The real disk's free space changes while the case runs (the machine is shared): the tooltip
    # holds one of the values the row showed from just before the pointer came until the step read it.
    v = rc_values(rc)
    right, top, tab_y = (int(v[f"kelvora.disk[1].{k}:"]) for k in ("right", "y", "tab_y"))
    came = next(i for i, l in enumerate(run.log) if l.startswith("script point {} {} at".format(*points["disk[1]"])))
    read = next(i for i in range(came, len(run.log)) if TOOLTIP_STEP.match(run.log[i]))
    rect = (right - 100, top + tab_y, right, top + tab_y + 20)
    row = drawn_texts(run, rect, 0x2, run.log[:came])[-1:] + drawn_texts(run, rect, 0x2, run.log[came:read])
    check(free.group(1) in row, f"disk[1]: the free space is none of the row's {row} meanwhile: {disk}")

    check_lines(["Ethernet: 192.168.1.20, 2001:db8::20 (default route)", "Local Area Connection 2: 10.8.0.6",
                 "The row follows: Ethernet"], shown["ip"], "the IP row's tooltip")
    battery, power = shown["battery"], row_value(run, rc, "battery")
    expected = {"AC": ("No system battery", "Battery: unknown"), "n/a": ("Battery: n/a",)}.get(power, (f"Charge: {power}",))
    check(battery[0] in expected, f"battery: {battery} beside the row's {power}")
    check(len(shown["systemUptime"]) == 1 and re.fullmatch(r"Started: \S.*\d.*", shown["systemUptime"][0]),
          f"uptime: {shown['systemUptime']}")
    # Wine reports the machine's own processors, the busiest first.
    cores = shown["coresGraph"]
    loads = [int(l.split()[-1][:-1]) for l in cores[1:] if re.fullmatch(r"Processor \d+: \d+%", l)]
    check(cores[:1] == [f"Logical processors: {os.cpu_count()}"] and len(loads) == len(cores) - 1 == min(3, os.cpu_count())
          and loads == sorted(loads, reverse=True), f"coresGraph: {cores}")
    for part in ("diskIoGraph", "diskWrite"):
        lines = shown[part]
        read = re.fullmatch(f"Read since start: ({SIZE_TEXT})", lines[1]) if len(lines) == 3 else None
        written = re.fullmatch(f"Written since start: ({SIZE_TEXT})", lines[2]) if len(lines) == 3 else None
        check(lines[:1] == ["Disks: all physical disks"] and read and written, f"{part}: {lines}")
        # The fed disks read 1,502,048 and write 307,200 bytes a second.
        ratio = size_of(read.group(1)) / max(size_of(written.group(1)), 1)
        check(size_of(read.group(1)) > 1000000 and 4.3 < ratio < 5.5, f"{part}: {lines}")
    check(steps[-1][:2] == (1, 0), f"moving away hides the tooltip: {steps[-1]}")


@case
def kelvora_tooltips_docked(args):
    """Docked in the slit, with Kelvora.tooltips: false there is no tooltip window; "Show tooltips"
    makes one at once, which shows on the docked panel, and takes it away again; each pick is
    written with WriteBool."""
    folder, plugin = kelvora_folder(args, "tooltips-docked")
    theme_with(folder, (b"Kelvora.inSlit: false", b"Kelvora.inSlit: true"),
               (b"Kelvora.tooltips: true", b"Kelvora.tooltips: false"))
    rc = os.path.join(folder, "Kelvora.rc")
    points = part_points(rc)
    script = ("wait 1000\npoint {0} {1}\nwait 1200\ntooltip\nmenu Show tooltips\npoint {0} {1}\nwait 1200\ntooltip\n"
              "menu Show tooltips\ntooltip\nstop\n").format(*points["memoryGraph"])
    run = run_host(args.host, plugin, script, extra=["--slit", "--log-texts"])
    require_plugin_entry_points(run)
    check(run.returncode == 0, f"host exit code {run.returncode}: {run.output}\n" + run.tail())
    steps = tooltip_steps(run)
    check([s[:2] for s in steps] == [(0, 0), (1, 1), (0, 0)], f"tooltip windows: {steps}\n" + run.tail())
    check_memory_lines(steps[1][3], row_value(run, rc, "totalMemory"), "docked memory graph")
    rc_win = winpath(rc)
    writes = [l for l in run.log if l.startswith("WriteBool")]
    check_lines([f'WriteBool file="{rc_win}" key="Kelvora.tooltips:" value={v} -> written' for v in ("true", "false")],
                writes, "writes")


@case
def kelvora_actions(args):
    """A double click on each kind of part runs its action once: a broadcast reaches the shell,
    which hands it to the plugins; a command line reaches BBExecute, split at its program, with a
    disk's path for "%s"; an empty action runs nothing. Ctrl+drag and the menu stay as they were."""
    folder, plugin = kelvora_folder(args, "actions")
    shutil.copy(os.path.join(args.build, "tests", "e2e", "editor_probe.exe"), folder)
    probe = winpath(os.path.join(folder, "editor_probe.exe"))
    theme_with(folder, (b"Kelvora.cpuGraph.action: taskmgr.exe", b"Kelvora.cpuGraph.action: @KelvoraTest.cpu"),
               (b"Kelvora.netGraph.action: control.exe ncpa.cpl", b"Kelvora.netGraph.action: @KelvoraTest.net"),
               (b"Kelvora.netDown.action: control.exe ncpa.cpl", f"Kelvora.netDown.action: {probe} --down".encode()),
               (b"Kelvora.disk[1].action: explorer.exe %s", f'Kelvora.disk[1].action: "{probe}" --disk %s'.encode()),
               (b"Kelvora.gpuGraph.action: taskmgr.exe", b"Kelvora.gpuGraph.action: @KelvoraTest.gpu"),
               append=b"Kelvora.ip.action: @KelvoraTest.ip\r\n")
    rc = os.path.join(folder, "Kelvora.rc")
    points = part_points(rc)
    # The total-memory and uptime rows have no action.
    parts = ["cpuGraph", "netGraph", "ip", "netDown", "disk[1]", "totalMemory", "systemUptime", "gpuGraph"]
    script = "wait 1500\n" + "".join("double-click {} {}\nwait 700\n".format(*points[p]) for p in parts)
    script += "drag 37 23\nmenu write settings\nwait 300\nstop\n"
    run = run_host(args.host, plugin, script)
    require_plugin_entry_points(run)
    check(run.returncode == 0, f"host exit code {run.returncode}: {run.output}\n" + run.tail())
    started = run.index("returned beginPlugin 0")
    posted = [l for l in run.log[started:] if l.startswith("message host 10901") or l.startswith("BBExecute")]
    check_lines(['message host 10901 text="@KelvoraTest.cpu"', 'message host 10901 text="@KelvoraTest.net"',
                 'message host 10901 text="@KelvoraTest.ip"',
                 f'BBExecute owner=0 verb=null file="{probe}" args="--down" dir=null show=1 noErrorBoxes=0 -> started',
                 f'BBExecute owner=0 verb=null file="{probe}" args="--disk C:\\" dir=null show=1 noErrorBoxes=0 -> started',
                 'message host 10901 text="@KelvoraTest.gpu"'],
                posted, "actions of the double clicks")
    for name in ("cpu", "net", "ip", "gpu"):
        in_order(run, [f'message host 10901 text="@KelvoraTest.{name}"', f'broadcast "@KelvoraTest.{name}"',
                       "deliver 10901 panel"])
    in_order(run, ["script drag ended at 117,103", 'menu choice "write settings" -> "@Kelvora.settings.write"',
                   f'WriteInt file="{winpath(rc)}" key="Kelvora.x:" value=117 -> written'])
    time.sleep(0.5)
    with open(os.path.join(folder, "editor_probe.exe.args"), encoding="latin-1") as f:
        started_with = [l.split(".exe", 1)[1].strip().strip('"').strip() for l in f.read().splitlines()]
    check(sorted(started_with) == ["--disk C:\\", "--down"], f"the programs' arguments: {started_with}")



def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("case", choices=sorted(CASES))
    parser.add_argument("--build", required=True)
    parser.add_argument("--source", required=True)
    args = parser.parse_args()
    args.host = os.path.join(args.build, "blackbox.exe")
    try:
        CASES[args.case](args)
    except Failure as failure:
        print(f"FAIL {args.case}: {failure}")
        if FOLDERS:
            print("files of the run kept in " + " ".join(FOLDERS))
        return 1
    remove_folders()
    print(f"ok {args.case}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
