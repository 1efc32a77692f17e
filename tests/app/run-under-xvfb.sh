#!/usr/bin/env bash
# Runs a program under a virtual X server of its own, as the application tests need (ctest
# runs each of them, and their listing, through this script). A machine without xvfb-run
# fails here: the application tests are never skipped.
command -v xvfb-run >/dev/null 2>&1 || {
    echo "run-under-xvfb: xvfb-run is missing; the application tests need it (tools/install-packages)" >&2
    exit 1
}
exec xvfb-run -a -s "-screen 0 1600x1000x24 -nolisten tcp" "$@"
