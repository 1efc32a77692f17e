#!/usr/bin/env bash
# Runs a test program under xvfb-run as an ordinary user: run by root, as "nobody" (setpriv),
# from a copy in a fresh temporary folder (the build tree may be closed to others); run by
# anyone else, as that user. The web-link editor's journeys run this way too, where the web
# engine keeps its sandbox.
#   run-as-ordinary-user.sh PROGRAM [ARGUMENTS...]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
if [[ $(id -u) -ne 0 ]]; then
    exec "$here/run-under-xvfb.sh" "$@"
fi
command -v setpriv >/dev/null 2>&1 || { echo "run-as-ordinary-user: setpriv is missing" >&2; exit 1; }
program=$1
shift
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cp "$program" "$here/run-under-xvfb.sh" "$scratch/"
chmod 0755 "$scratch" "$scratch/$(basename "$program")" "$scratch/run-under-xvfb.sh"
# The modules the program opens beside itself (the web page view) go with it, links followed.
for module in "$(dirname "$program")"/libcorvex_*.so; do
    [[ -e "$module" ]] || continue
    cp -L "$module" "$scratch/" && chmod 0755 "$scratch/$(basename "$module")"
done
# Output the program's user can write; the journeys' screenshots go there.
output="$scratch/test-output"
mkdir -p "$output" && chown nobody "$output"
status=0
CORVEX_TEST_OUTPUT=$output TMPDIR=/tmp setpriv --reuid=nobody --regid=nogroup --clear-groups -- \
    "$scratch/run-under-xvfb.sh" "$scratch/$(basename "$program")" "$@" || status=$?
exit $status
