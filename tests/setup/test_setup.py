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
    case "$*" in *"${FAKE_INSTALL_FAILS:-@none@}"*)
      echo "E: Unable to correct problems, you have held broken packages." >&2; exit 100 ;; esac ;;
esac
exit 0
""" % {"index": INDEX},
    # Nothing is installed; i386 is no architecture of the machine yet.
    "dpkg-query": "#!/bin/sh\nexit 1\n",
    "dpkg": "#!/bin/sh\necho \"dpkg $*\" >> \"$FAKE_LOG\"\n[ \"$1\" = --print-architecture ] && echo amd64\nexit 0\n",
    "sudo": "#!/bin/sh\nexec \"$@\"\n",
    "cmake": "#!/bin/sh\necho \"cmake $*\" >> \"$FAKE_LOG\"\nexit ${FAKE_CMAKE_STATUS:-0}\n",
    # FAKE_CTEST_FAILS: a preset whose suite fails.
    "ctest": "#!/bin/sh\necho \"ctest $*\" >> \"$FAKE_LOG\"\n"
             "[ \"$2\" = \"${FAKE_CTEST_FAILS:-@none@}\" ] && exit 8\nexit 0\n",
}


def run(command, **settings):
    """Runs a copied script with the stand-ins; answers (status, output, log lines)."""
    with tempfile.TemporaryDirectory() as root:
        shutil.copytree(os.path.join(REPO, "scripts"), os.path.join(root, "scripts"))
        fakes = os.path.join(root, "fakes")
        os.mkdir(fakes)
        for name, text in STANDINS.items():
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
# fails, and the failing index is named.
status, out, log = run(["bootstrap", "all"], FAKE_UPDATE_FAILS=99, FAKE_INSTALL_FAILS="wine32")
installs = [l for l in log if l.startswith("apt-get install")]
check("a mirror that stays broken: 5 updates, the tools installed, status 3 naming the index",
      status == 3 and len([l for l in log if "update" in l]) == 5 and len(installs) == 2
      and "wine32" not in installs[0] and "mingw" in installs[0]
      and f"the package index {INDEX} could not be fetched" in out, out, log)

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

# 32-bit Wine failing while every index arrived is no mirror's fault: the command fails.
status, out, log = run(["test"], FAKE_INSTALL_FAILS="wine32")
check("scripts/test fails when 32-bit Wine fails for another reason, before any suite",
      status != 0 and not any(l.startswith("ctest") for l in log), out, log)

sys.exit(1 if failures else 0)
