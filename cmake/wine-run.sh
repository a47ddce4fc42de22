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

# Now and then wine fails to start a program at all: its loader falls back to its own launcher,
# which writes "Application could not be started, ..." to standard output and exits 1 before the
# program has run. That failure is wine's, not the program's, and a build that lists a test
# program's tests would fail on it, so it alone is tried again, a bounded number of times. The
# program's output passes through as it is written; a copy is kept only to recognise the launcher's
# message at its start. wine runs as this script's child, so it is made to die with the script:
# CTest kills only the process it started when a test times out.
readonly launch_attempts=3
launch_output=$(mktemp)
trap 'rm -f -- "$launch_output"' EXIT
for ((attempt = 1; ; attempt++)); do
    set +e
    setpriv --pdeathsig KILL wine "$@" | tee -- "$launch_output"
    status=${PIPESTATUS[0]}
    set -e
    if ((status != 1 || attempt == launch_attempts)) ||
        ! head -n 1 -- "$launch_output" | grep -q '^Application could not be started'; then
        exit "$status"
    fi
    echo "wine-run.sh: wine could not start $1; trying again ($((attempt + 1)) of $launch_attempts)" >&2
    sleep 1
done
