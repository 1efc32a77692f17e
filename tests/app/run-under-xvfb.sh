#!/usr/bin/env bash
# Runs a program under a virtual X server of its own, as the application tests need (ctest
# runs each of them, and their listing, through this script). A machine without Xvfb fails
# here: the application tests are never skipped.
#
# The server picks its own free display (-displayfd) and says which once it listens: tests
# that start side by side never race for one number, as they do when each looks for a free
# lock file first and one of two servers then fails to start. It never resets (-noreset): by
# default it does when its last client goes, and a program started in that moment (the next
# launch of a test that starts Corvex again and again) finds no display to connect to.
command -v Xvfb >/dev/null 2>&1 || {
    echo "run-under-xvfb: Xvfb is missing; the application tests need it (tools/install-packages)" >&2
    exit 1
}
scratch=$(mktemp -d "${TMPDIR:-/tmp}/run-under-xvfb.XXXXXX") || exit 1
mkfifo "$scratch/display" || exit 1
Xvfb -displayfd 3 -noreset -screen 0 1600x1000x24 -nolisten tcp 3>"$scratch/display" >"$scratch/server.log" 2>&1 &
server=$!
stop_server() {
    kill "$server" 2>/dev/null
    wait "$server" 2>/dev/null
    rm -rf "$scratch"
}
trap 'stop_server; exit 143' TERM
trap 'stop_server; exit 130' INT
number=
read -r -t 30 number <"$scratch/display"
if [[ ! "$number" =~ ^[0-9]+$ ]]; then
    echo "run-under-xvfb: the X server did not start:" >&2
    cat "$scratch/server.log" >&2
    stop_server
    exit 1
fi
DISPLAY=":$number" "$@" &
program=$!
trap 'kill "$program" 2>/dev/null; wait "$program"; stop_server; exit 143' TERM
trap 'kill "$program" 2>/dev/null; wait "$program"; stop_server; exit 130' INT
wait "$program"
status=$?
stop_server
exit "$status"
