#!/usr/bin/env bash
# Runs one Windows program under wine, headless, for CTest and gtest_discover_tests.
#   wine-run.sh [--win64] PREFIX PROGRAM [ARGUMENTS...]
# PREFIX is the wine prefix, made on first use without a display: 32-bit, or with --win64 64-bit
# (which runs 64-bit programs, and 32-bit ones beside them). A prefix keeps the kind it was made
# with. The program's exit code is passed through; a crash comes back as a failing code, never as
# a hang.
set -euo pipefail

export WINEARCH=win32
if [[ ${1-} == --win64 ]]; then
    WINEARCH=win64
    shift
fi
if (($# < 2)); then
    echo "usage: $0 [--win64] WINEPREFIX PROGRAM [ARGUMENTS...]" >&2
    exit 2
fi

# wine takes only an absolute prefix.
WINEPREFIX=$(realpath -m -- "$1")
export WINEPREFIX
shift
export WINEDEBUG=-all
# No .NET or HTML engine installers, no menu entries, and no debugger waiting on a crash.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d;winedbg.exe=d"
unset DISPLAY WAYLAND_DISPLAY

# Two tests may start at once under ctest -j: one makes the prefix, the other waits for it. No
# wine process may inherit the lock's descriptor: a server holding it would block the next test.
mkdir -p "$(dirname "$WINEPREFIX")"
{
    flock 9
    if [[ ! -f "$WINEPREFIX/system.reg" ]]; then
        wineboot -i </dev/null >/dev/null 2>&1 9>&-
        wineserver -w 9>&-
    fi
} 9>"$WINEPREFIX.lock"

# wine's server and background services outlive the program and would inherit our standard
# output and error, which CTest reads until they close: start them now, detached from those
# pipes. The server stays 30 s after its last program, so a test run starts it only once;
# "wineserver -k" stops it sooner. It answers 2 when one is already running.
wineserver -p30 </dev/null >/dev/null 2>&1 || true
wine cmd /c exit </dev/null >/dev/null 2>&1

exec wine "$@"
