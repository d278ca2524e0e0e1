"""Runs blackbox.exe under Wine on a copy of a plugin folder, and reads back its log,
rc file and screenshots: the shared part of the end-to-end tests."""
import os
import re
import shutil
import struct
import subprocess
import tempfile
import zlib

# The Wine loader of the build under test (ctest sets it: 32-bit Wine for x86).
WINE = os.environ.get("KELVORA_WINE", "/usr/lib/wine/wine64")


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


def check_lines(expected, actual, what):
    """Compares two line lists and reports them entry by entry on a mismatch."""
    if expected == actual:
        return
    rows = [f"{what}: line lists differ (expected | actual)"]
    for i in range(max(len(expected), len(actual))):
        e = expected[i] if i < len(expected) else "<none>"
        a = actual[i] if i < len(actual) else "<none>"
        rows.append(f"{'  ' if e == a else '! '}{i:3} {e} | {a}")
    raise Failure("\n".join(rows))


def winpath(path):
    """The Wine name of a Unix path (drive Z: is the Unix root)."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


class Run:
    def __init__(self, folder, log, returncode, output):
        self.folder = folder
        self.log = log
        self.returncode = returncode
        self.output = output

    def lines(self, prefix):
        return [line for line in self.log if line.startswith(prefix)]

    def index(self, line, start=0):
        for i in range(start, len(self.log)):
            if self.log[i] == line:
                return i
        raise Failure(f"log has no line {line!r} from entry {start} on\n" + self.tail())

    def tail(self, n=40):
        return "log tail:\n  " + "\n  ".join(self.log[-n:])


FOLDERS = []  # made by this run; removed when the case passes, kept for a look when it fails


def remove_folders():
    for folder in FOLDERS:
        shutil.rmtree(folder, ignore_errors=True)


def plugin_folder(files, name="plugin"):
    """A fresh folder holding copies of the given files and folders."""
    folder = tempfile.mkdtemp(prefix=f"kelvora-e2e-{name}-")
    FOLDERS.append(folder)
    for source in files:
        target = os.path.join(folder, os.path.basename(source.rstrip("/")))
        if os.path.isdir(source):
            shutil.copytree(source, target)
        else:
            shutil.copy(source, target)
    return folder


def run_host(host, plugin, script, extra=(), timeout=120):
    """Runs the host on plugin with a script; returns the Run with the log's lines."""
    folder = os.path.dirname(plugin)
    script_path = os.path.join(folder, "run.script")
    log_path = os.path.join(folder, "run.log")
    with open(script_path, "w") as f:
        f.write(script)
    env = dict(os.environ)
    env.setdefault("WINEDEBUG", "-all")
    command = [WINE, host, "--log", winpath(log_path), "--script", winpath(script_path), *extra, winpath(plugin)]
    done = subprocess.run(command, env=env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=timeout)
    log = []
    if os.path.exists(log_path):
        with open(log_path, encoding="latin-1") as f:
            log = f.read().splitlines()
    return Run(folder, log, done.returncode, done.stdout.decode("latin-1", "replace"))


def read_png(path):
    """Decodes an 8-bit RGB or RGBA PNG into (width, height, rows of (r, g, b))."""
    with open(path, "rb") as f:
        data = f.read()
    check(data[:8] == b"\x89PNG\r\n\x1a\n", f"{path}: no PNG signature")
    at, idat, header = 8, b"", None
    while at < len(data):
        length, kind = struct.unpack(">I4s", data[at:at + 8])
        body = data[at + 8:at + 8 + length]
        crc = struct.unpack(">I", data[at + 8 + length:at + 12 + length])[0]
        check(zlib.crc32(kind + body) == crc, f"{path}: bad CRC in {kind!r}")
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            idat += body
        at += 12 + length
    check(header is not None, f"{path}: no IHDR")
    width, height, depth, colour, _, _, interlace = header
    check(depth == 8 and colour in (2, 6) and interlace == 0, f"{path}: unexpected format {header}")
    step = 3 if colour == 2 else 4
    raw = zlib.decompress(idat)
    stride = width * step
    rows, prior = [], bytearray(stride)
    for y in range(height):
        kind = raw[y * (stride + 1)]
        row = bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            left = row[i - step] if i >= step else 0
            up = prior[i]
            corner = prior[i - step] if i >= step else 0
            if kind == 1:
                row[i] = (row[i] + left) & 255
            elif kind == 2:
                row[i] = (row[i] + up) & 255
            elif kind == 3:
                row[i] = (row[i] + ((left + up) >> 1)) & 255
            elif kind == 4:
                p = left + up - corner
                pa, pb, pc = abs(p - left), abs(p - up), abs(p - corner)
                pred = left if pa <= pb and pa <= pc else up if pb <= pc else corner
                row[i] = (row[i] + pred) & 255
        rows.append([tuple(row[x * step:x * step + 3]) for x in range(width)])
        prior = row
    return width, height, rows


def colour(text):
    """'#RRGGBB' to (r, g, b)."""
    return tuple(int(text[i:i + 2], 16) for i in (1, 3, 5))


def rc_values(path):
    """Keys (lower case, with colon) to values, first occurrence winning, as the host reads them."""
    values = {}
    with open(path, encoding="latin-1") as f:
        for line in f.read().splitlines():
            text = line.strip()
            if not text or text[0] in "!#" or ":" not in text:
                continue
            key, value = text.split(":", 1)
            values.setdefault(key.strip().lower() + ":", value.strip())
    return values


def count_pixels(rows, box, wanted):
    """Pixels of colour wanted inside box (left, top, right, bottom; right and bottom exclusive)."""
    left, top, right, bottom = box
    return sum(1 for y in range(top, bottom) for x in range(left, right) if rows[y][x] == wanted)


LOG_LINE = re.compile(r'^(\w+) file="([^"]*)" key="([^"]*)"')


def settings_reads(lines):
    """(reader, file, key) of each settings read among the lines."""
    reads = []
    for line in lines:
        m = LOG_LINE.match(line)
        if m and m.group(1).startswith("Read"):
            reads.append(m.groups())
    return reads
