#!/usr/bin/env python3
"""The set-up commands against a flaky package mirror: scripts/bootstrap, scripts/run and
scripts/test run from a copy of scripts/ with stand-ins for apt-get, dpkg, cmake and ctest on
PATH, which log their calls. The stand-in apt-get fails its updates as a mirror in the middle of
a sync does, for the i386 index, and its installs as told."""
import os
import shutil
import subprocess
import sys
import tempfile

REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
INDEX = "http://deb.debian.org/debian-security bookworm-security/main i386 Packages"

STANDINS = {
    # FAKE_UPDATE_FAILS: how many updates fail (a large number: all of them).
    # FAKE_INSTALL_FAILS: a word; an install whose packages hold it fails.
    "apt-get": r"""#!/bin/sh
echo "apt-get $*" >> "$FAKE_LOG"
case $1 in
  update)
    n=$(cat "$FAKE_DIR/updates" 2>/dev/null || echo 0); n=$((n + 1)); echo $n > "$FAKE_DIR/updates"
    if [ "$n" -le "${FAKE_UPDATE_FAILS:-0}" ]; then
      echo "Ign:6 %(index)s"
      echo "Err:6 %(index)s"
      echo "  File has unexpected size (374820 != 376004). Mirror sync in progress? [IP: 203.0.113.80 80]"
      echo "E: Some index files failed to download. They have been ignored, or old ones used instead."
      exit 100
    fi ;;
  install)
    case "$*" in *" -s "*)
      # The simulation of the point release's plan (FAKE_PLAN_REMOVES: a package it would remove).
      echo "Inst libwine:i386 (8.0~repack-4 Debian:12.12/oldstable [i386])"
      [ -n "${FAKE_PLAN_REMOVES:-}" ] && echo "Remv $FAKE_PLAN_REMOVES [1.0]"
      exit 0 ;; esac
    # FAKE_POINT_RELEASE: installs from the point release (-t) work even where FAKE_INSTALL_FAILS.
    case "$*" in *" -t "*) [ -n "${FAKE_POINT_RELEASE:-}" ] && exit 0 ;; esac
    case "$*" in *"${FAKE_INSTALL_FAILS:-@none@}"*)
      echo "E: Unable to correct problems, you have held broken packages." >&2; exit 100 ;; esac ;;
esac
exit 0
""" % {"index": INDEX},
    # Wine's i386 dependencies, and the i386 candidates without the security index: the point
    # release's, one of them older than the amd64 half installed from the security updates.
    "apt-cache": r"""#!/bin/sh
echo "apt-cache $*" >> "$FAKE_LOG"
case $1 in
  depends) printf 'wine32:i386\n  Depends: libwine:i386\nlibwine:i386\n  Depends: libgst:i386\n  Depends: libc6:i386\n'
           printf '  Depends: <libfoo:i386>\nlibgst:i386\nlibc6:i386\n' ;;
  policy) shift
    for p in "$@"; do
      case $p in libgst:i386) v=1.22.0-3+deb12u6 ;; libc6:i386) v=2.36-9+deb12u13 ;; *) v="(none)" ;; esac
      printf '%s:\n  Installed: (none)\n  Candidate: %s\n  Version table:\n' "$p" "$v"
    done ;;
esac
exit 0
""",
    # Nothing asked for by name is installed; the listing has the amd64 halves of two libraries
    # shared with i386 and a tool that is not.
    "dpkg-query": r"""#!/bin/sh
[ $# -gt 2 ] && exit 1
printf 'libgst amd64 1.22.0-3+deb12u7 same\nlibc6 amd64 2.36-9+deb12u13 same\ncmake amd64 3.25.1-1 foreign\n'
""",
    # i386 is no architecture of the machine yet.
    "dpkg": r"""#!/bin/sh
echo "dpkg $*" >> "$FAKE_LOG"
[ "$1" = --print-architecture ] && echo amd64
if [ "$1" = --compare-versions ]; then
  [ "$2" = "$4" ] && exit 1
  [ "$(printf '%s\n%s\n' "$2" "$4" | sort -V | tail -n 1)" = "$2" ]; exit $?
fi
exit 0
""",
    "sudo": "#!/bin/sh\nexec \"$@\"\n",
    "cmake": "#!/bin/sh\necho \"cmake $*\" >> \"$FAKE_LOG\"\nexit ${FAKE_CMAKE_STATUS:-0}\n",
    # FAKE_CTEST_FAILS: a preset whose suite fails.
    "ctest": "#!/bin/sh\necho \"ctest $*\" >> \"$FAKE_LOG\"\n"
             "[ \"$2\" = \"${FAKE_CTEST_FAILS:-@none@}\" ] && exit 8\nexit 0\n",
}


def run(command, probe_saw=None, **settings):
    """Runs a copied script with the stand-ins; answers (status, output, log lines). probe_saw:
    what the 32-bit probe reports on a machine that cannot run 32-bit programs."""
    with tempfile.TemporaryDirectory() as root:
        shutil.copytree(os.path.join(REPO, "scripts"), os.path.join(root, "scripts"))
        fakes = os.path.join(root, "fakes")
        os.mkdir(fakes)
        standins = dict(STANDINS)
        if probe_saw:
            # A kernel without 32-bit support, as the probe reports it.
            standins["../scripts/probe-x86"] = f"#!/bin/sh\necho '{probe_saw}'\nexit 1\n"
        for name, text in standins.items():
            path = os.path.join(fakes, name)
            with open(path, "w") as f:
                f.write(text)
            os.chmod(path, 0o755)
        log = os.path.join(root, "log")
        open(log, "w").close()
        env = dict(os.environ, PATH=fakes + ":" + os.environ["PATH"], FAKE_LOG=log, FAKE_DIR=root,
                   KELVORA_BOOTSTRAP_WAITS="0 0 0 0",
                   # The suites run in a session that is already open, so no Wine or X starts.
                   KELVORA_WINE_SESSION=os.path.join(root, "build", "x64", "wineprefix"))
        env.update({k: str(v) for k, v in settings.items()})
        done = subprocess.run([os.path.join(root, "scripts", command[0])] + command[1:], env=env,
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, timeout=120)
        with open(log) as f:
            return done.returncode, done.stdout, f.read().splitlines()


failures = []


def check(what, condition, output, log):
    if not condition:
        failures.append(what)
        print(f"FAILED: {what}\n--- output\n{output}\n--- calls")
        for i, line in enumerate(log):
            print(f"  [{i}] {line}")


# Two failed updates, then the lists arrive: the update is tried again, and the install runs.
status, out, log = run(["bootstrap", "all"], FAKE_UPDATE_FAILS=2)
updates = [l for l in log if l.startswith("apt-get update")]
check("a mirror that recovers: three updates, then every package installed",
      status == 0 and len(updates) == 3 and any("wine32:i386" in l for l in log if "install" in l), out, log)

# The index never arrives: after the retries the 64-bit tools are installed anyway; 32-bit Wine
# fails, from the point release too (the plan would remove a package), and the failing index is named.
status, out, log = run(["bootstrap", "all"], FAKE_UPDATE_FAILS=99, FAKE_INSTALL_FAILS="wine32",
                       FAKE_POINT_RELEASE=1, FAKE_PLAN_REMOVES="systemd")
installs = [l for l in log if l.startswith("apt-get install") and " -s " not in l]
check("a mirror that stays broken: 5 updates, the tools installed, no plan that removes, status 3 naming the index",
      status == 3 and len([l for l in log if "update" in l]) == 5 and len(installs) == 2
      and "wine32" not in installs[0] and "mingw" in installs[0]
      and "refusing to install 32-bit Wine from the point release: it would remove systemd" in out
      and f"the package index {INDEX} could not be fetched" in out, out, log)

# The i386 security index is missing but the point release has 32-bit Wine: the amd64 half of the
# one shared library whose version differs moves back to the i386 half's, after a simulation.
status, out, log = run(["bootstrap", "all"], FAKE_UPDATE_FAILS=99, FAKE_INSTALL_FAILS="wine32", FAKE_POINT_RELEASE=1)
release = subprocess.run(["sh", "-c", ". /etc/os-release; printf %s \"$VERSION_CODENAME\""],
                         stdout=subprocess.PIPE, text=True).stdout
pinned = f"-t {release} --allow-downgrades wine32:i386 libgst:i386=1.22.0-3+deb12u6 libgst=1.22.0-3+deb12u6"
plans = [i for i, l in enumerate(log) if l.startswith("apt-get install -s") and pinned in l]
done = [i for i, l in enumerate(log) if l.startswith("apt-get install -y") and l.endswith(pinned)]
check("a failing i386 security index: 32-bit Wine from the point release, libgst aligned after a simulation, status 0",
      status == 0 and plans and done and plans[0] < done[0] and "libc6" not in log[done[0]]
      and "bootstrap: moving libgst (amd64) back from 1.22.0-3+deb12u7 to 1.22.0-3+deb12u6" in out, out, log)

# scripts/run for x64 asks for no 32-bit Wine at all (its stand-in cmake stops it after the set-up).
status, out, log = run(["run"], FAKE_UPDATE_FAILS=99, FAKE_CMAKE_STATUS=1)
check("scripts/run (x64) installs no i386 package and adds no architecture",
      any(l.startswith("apt-get install") for l in log) and not any("i386" in l for l in log), out, log)

# scripts/test on that mirror: the x86 suite is reported as not run, the others decide.
status, out, log = run(["test"], FAKE_UPDATE_FAILS=99, FAKE_INSTALL_FAILS="wine32")
lines = out.strip().splitlines()
check("scripts/test without 32-bit Wine: the NOT RUN line before the summary, both builds, status 0",
      status == 0 and len(lines) >= 2 and lines[-2] == f"x86 suite NOT RUN: 32-bit Wine could not be installed ({INDEX})"
      and lines[-1].startswith("test summary:")
      and "cmake --build --preset x86" in log and "ctest --preset x86 -R ^binary_check" in log
      and not any(l.startswith("ctest --preset x86 -j2") for l in log), out, log)
status, out, log = run(["test"], FAKE_UPDATE_FAILS=99, FAKE_INSTALL_FAILS="wine32", FAKE_CTEST_FAILS="x64")
check("scripts/test without 32-bit Wine still fails when a suite that ran fails", status == 1, out, log)

# A kernel without 32-bit support: no i386 package, both builds and the x86 import list, the reason.
status, out, log = run(["test"], probe_saw="Exec format error")
lines = out.strip().splitlines()
check("scripts/test on a machine that cannot run 32-bit programs: the NOT RUN line with the probe's words, status 0",
      status == 0 and lines[-2] == "x86 suite NOT RUN: this machine cannot run 32-bit programs (Exec format error)"
      and not any("i386" in l for l in log) and "cmake --build --preset x86" in log
      and "ctest --preset x86 -R ^binary_check" in log and not any(l.startswith("ctest --preset x86 -j2") for l in log),
      out, log)
status, out, log = run(["run", "x86"], probe_saw="Exec format error")
check("scripts/run x86 on that machine says so and stops before building",
      status == 1 and "this machine cannot run 32-bit programs (Exec format error)" in out
      and not any(l.startswith("cmake") for l in log), out, log)

# 32-bit Wine failing while every index arrived is no mirror's fault: the command fails.
status, out, log = run(["test"], FAKE_INSTALL_FAILS="wine32")
check("scripts/test fails when 32-bit Wine fails for another reason, before any suite",
      status != 0 and not any(l.startswith("ctest") for l in log), out, log)

sys.exit(1 if failures else 0)
