#!/usr/bin/env python3
"""The release check's version rules, each broken once: an archive made by cpack from this build
is copied with one thing changed (its name, the DLL's version resource, pluginInfo's text, the
changelog's top entry, readme.txt's pointer), and the check must report that and nothing else.

Usage: release_rules.py SOURCE VERSION ARCH BUILD_DIR OBJDUMP OUT"""
import importlib.machinery
import importlib.util
import os
import shutil
import struct
import sys
import zipfile

source, version, arch, build, objdump, out = sys.argv[1:7]
scripts = os.path.join(source, "scripts")
loader = importlib.machinery.SourceFileLoader("check_release", os.path.join(scripts, "check-release"))
module_info = importlib.util.spec_from_loader("check_release", loader)
check = importlib.util.module_from_spec(module_info)
loader.exec_module(check)
FOLDER = check.FOLDER
later = ".".join(version.split(".")[:2] + [str(int(version.split(".")[2]) + 1)])

good = check.make_archive(arch, build, os.path.join(out, "made"), version)
with zipfile.ZipFile(good) as archive:
    members = {n: archive.read(n) for n in archive.namelist()}


def doctored(name, changes):
    path = os.path.join(out, "doctored", name)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with zipfile.ZipFile(path, "w") as archive:
        for member, data in members.items():
            archive.writestr(member, changes(member, data) if changes else data)
    return path


def replaced(member_name, old, new):
    def change(member, data):
        if member != FOLDER + member_name:
            return data
        if old not in data:
            sys.exit(f"{member_name} has no {old!r} to change")
        return data.replace(old, new, 1)
    return change


def later_fixed_version(member, data):
    """The fixed file version's patch number one higher, the strings as they were."""
    if member != FOLDER + "Kelvora.dll":
        return data
    at = data.index(struct.pack("<I", check.VS_FIXED_SIGNATURE))
    patched = bytearray(data)
    ls = struct.unpack_from("<I", data, at + 12)[0]
    struct.pack_into("<I", patched, at + 12, ls + 0x10000)
    return bytes(patched)


# A source tree whose CHANGELOG.md has a later top entry, for the archive that ships it.
later_source = os.path.join(out, "later-source")
shutil.rmtree(later_source, ignore_errors=True)
os.makedirs(os.path.join(later_source, "examples"))
shutil.copy(os.path.join(source, "examples", "Kelvora.rc"), os.path.join(later_source, "examples"))
with open(os.path.join(source, "CHANGELOG.md"), "rb") as f:
    changelog = f.read()
with open(os.path.join(later_source, "CHANGELOG.md"), "wb") as f:
    f.write(changelog.replace(f"## [{version}]".encode(), f"## [{later}]".encode(), 1))
pointer = f"section [{version}]".encode()


def later_changelog(member, data):
    if member == FOLDER + "changelog.txt":
        return data.replace(f"## [{version}]".encode(), f"## [{later}]".encode(), 1)
    if member == FOLDER + "readme.txt":
        return data.replace(pointer, f"section [{later}]".encode(), 1)
    return data


cases = [
    ("the good archive", doctored(f"Kelvora-{version}-{arch}.zip", None), source, None),
    ("another name", doctored(f"Kelvora-{later}-{arch}.zip", None), source, "the archive's name"),
    ("another version resource", doctored(f"resource/Kelvora-{version}-{arch}.zip", later_fixed_version), source,
     "the DLL's version resource has fixed file version"),
    ("another pluginInfo text", doctored(f"info/Kelvora-{version}-{arch}.zip", replaced(
        "Kelvora.dll", f"Kelvora {version}\0".encode(), f"Kelvora {later}\0".encode())), source, "pluginInfo reports"),
    ("another top entry", doctored(f"changelog/Kelvora-{version}-{arch}.zip", later_changelog), later_source,
     "the changelog's top entry"),
    ("another section in the readme", doctored(f"readme/Kelvora-{version}-{arch}.zip", replaced(
        "readme.txt", pointer, b"section [0.0.4]")), source, "readme.txt points at"),
]
failed = 0
for title, path, tree, expected in cases:
    _, problems = check.check_archive(arch, path, objdump, tree, version, scripts)
    ok = problems == [] if expected is None else len(problems) == 1 and problems[0].startswith(expected)
    print(f"{'ok' if ok else 'FAIL'} {title}: {problems}")
    failed += not ok
sys.exit(1 if failed else 0)
