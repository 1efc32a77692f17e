#!/usr/bin/env bash
# The Dropbox sign-in through the real application, run inside an X server (xvfb-run): a fresh
# HOME with the desktop integration installed, the Dropbox emulator on 127.0.0.1 with three
# documents, Corvex pointed at it, and a scripted browser that fetches the sign-in page with
# curl and hands the page's redirect to xdg-open, which reaches the running Corvex through the
# registered x-scheme-handler. File > Preferences..., Connect; then the token file must appear,
# the documents' local copies must reach the Dropbox mirror, a Dropbox home window must show,
# and after SIGTERM the saved state must name a home window of location 3. Every wait is
# bounded; screenshots go to OUTPUT_DIR/dropbox-sign-in/.
#
#   dropbox-sign-in.sh CORVEX_BINARY EMULATOR_SERVER OUTPUT_DIR
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
binary="$1" server="$2" output="$3/dropbox-sign-in"
for tool in xdotool import curl xdg-open python3; do
    command -v "$tool" >/dev/null || { echo "sign-in: $tool is missing (tools/install-packages)" >&2; exit 1; }
done
[[ -n "${DISPLAY:-}" ]] || { echo "sign-in: no DISPLAY (run under xvfb-run)" >&2; exit 1; }
# Corvex must show real windows on that display, whatever platform the caller's tests use.
unset QT_QPA_PLATFORM

scratch=$(mktemp -d)
pids=()
finish() {
    for pid in "${pids[@]}"; do kill -TERM "$pid" 2>/dev/null && wait "$pid" 2>/dev/null; done
    rm -rf "$scratch"
}
trap finish EXIT
fail() {
    echo "sign-in: FAILED: $*" >&2
    import -window root "$output/failure.png" 2>/dev/null
    echo "--- Corvex's log" >&2; tail -40 "$scratch/corvex.log" >&2
    echo "--- the browser's log" >&2; cat "$scratch/browser.log" >&2 2>/dev/null
    echo "--- the data folder" >&2; find "$XDG_DATA_HOME/com.tallowfen.corvex" -maxdepth 4 >&2
    exit 1
}
# Polls a command every 0.1 s for at most $1 seconds.
wait_for() {
    local limit=$1; shift
    local tries=$((limit * 10))
    while ((tries-- > 0)); do
        "$@" && return 0
        sleep 0.1
    done
    return 1
}

export HOME="$scratch/home"
export XDG_DATA_HOME="$HOME/.local/share" XDG_CONFIG_HOME="$HOME/.config" XDG_CACHE_HOME="$HOME/.cache"
export XDG_RUNTIME_DIR="$scratch/runtime"
# No desktop environment: xdg-open takes its generic path (x-scheme-handler, then BROWSER).
unset XDG_CURRENT_DESKTOP DESKTOP_SESSION KDE_FULL_SESSION GNOME_DESKTOP_SESSION_ID
export NO_PROXY='*' no_proxy='*'
# The system's desktop entries stay out of sight, so that no installed browser takes the
# sign-in page's http URL from xdg-open before BROWSER does; MIME types and icons stay.
mkdir -p "$scratch/share"
for shared in mime icons; do [[ -d "/usr/share/$shared" ]] && ln -s "/usr/share/$shared" "$scratch/share/$shared"; done
export XDG_DATA_DIRS="$scratch/share"
unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY all_proxy ALL_PROXY
mkdir -p "$HOME" "$XDG_RUNTIME_DIR" "$output" && chmod 0700 "$XDG_RUNTIME_DIR"
rm -f "$output"/*.png
# xdg-open 1.1.3 takes a URL whose scheme holds digits for a file name, so the run uses an app
# key of letters only (the installer and Corvex both read it).
export CORVEX_DROPBOX_APP_KEY=corvexsignintest
"$root/tools/install-desktop-integration" --binary "$binary" --bin-dir "$scratch/bin" >/dev/null || fail "the desktop integration did not install"

handler=$(xdg-mime query default x-scheme-handler/db-$CORVEX_DROPBOX_APP_KEY)
[[ "$handler" == com.tallowfen.corvex.desktop ]] || fail "the redirect scheme's handler is \"$handler\""

"$server" >"$scratch/emulator.out" 2>"$scratch/emulator.log" &
pids+=($!)
wait_for 5 grep -q '^http://127\.0\.0\.1:' "$scratch/emulator.out" || fail "the emulator did not start"
base=$(head -1 "$scratch/emulator.out")

# The browser: the sign-in page redirects at once; its Location goes to xdg-open.
cat >"$scratch/browser" <<BROWSER
#!/usr/bin/env bash
echo "browser: \$1" >>"$scratch/browser.log"
# The Location header as sent: curl's redirect_url would rewrite the host "2" as 0.0.0.2.
location=\$(curl --silent --noproxy '*' --max-time 5 --output /dev/null --dump-header - "\$1" |
    tr -d '\\r' | sed -n 's/^[Ll]ocation: //p' | head -1)
echo "browser: redirected to \$location" >>"$scratch/browser.log"
[[ -n "\$location" ]] || exit 1
exec xdg-open "\$location" >>"$scratch/browser.log" 2>&1
BROWSER
chmod +x "$scratch/browser"

export CORVEX_DROPBOX_API_URL="$base" CORVEX_DROPBOX_CONTENT_URL="$base"
export CORVEX_DROPBOX_AUTHORIZE_URL="$base/oauth2/authorize" BROWSER="$scratch/browser"
"$binary" >"$scratch/corvex.log" 2>&1 &
corvex=$!
pids+=("$corvex")
timeout 10 xdotool search --sync --onlyvisible --pid "$corvex" >"$scratch/windows.txt" 2>/dev/null ||
    fail "no window mapped"
sleep 0.5
import -window root "$output/1-launched.png"

# File > Preferences... by the keyboard: the File menu's mnemonic, then up from the bottom past
# "Quit Corvex" and "Close Window".
window=$(head -1 "$scratch/windows.txt")
xdotool windowactivate --sync "$window" 2>/dev/null || xdotool windowfocus --sync "$window"
xdotool key alt+f
sleep 0.3
xdotool key Up Up Up Return
prefs=$(timeout 5 xdotool search --all --sync --onlyvisible --pid "$corvex" --name '^Preferences$' | head -1)
[[ -n "$prefs" ]] || fail "no Preferences window"
sleep 0.5
import -window root "$output/2-preferences.png"
# The General pane's Dropbox "Connect" button: 321,172 inside the 480x217 window.
eval "$(xdotool getwindowgeometry --shell "$prefs")"
[[ "$WIDTH" == 480 ]] || echo "sign-in: the Preferences window is ${WIDTH}x${HEIGHT}, not 480x217" >&2
xdotool mousemove --window "$prefs" 321 172 click 1

tokens="$XDG_DATA_HOME/com.tallowfen.corvex/dropbox-credentials.json"
wait_for 8 test -s "$tokens" || fail "no token file at $tokens"
grep -q access "$tokens" || fail "the token file holds no access token"
# The redirect came back through a second launch handing its URL to this process. The line
# follows the token file's save, so a loaded machine may show the file first.
wait_for 5 grep -q "Success! User is logged into Dropbox." "$scratch/corvex.log" ||
    fail "Corvex did not log the sign-in"
sleep 0.5
import -window root "$output/3-connected.png"

# File > New Dropbox Window, enabled now, by the mouse: "File" at 20,9 of the first window,
# the item at 98,73 below it.
xdotool mousemove --window "$window" 20 9 click 1
sleep 0.4
import -window root "$output/4-file-menu.png"
xdotool mousemove --window "$window" 98 73 click 1
mirror="$XDG_DATA_HOME/com.tallowfen.corvex/dropbox"
# The local copies in the mirror hold the emulator's three documents.
copies() {
    python3 - "$mirror" <<'PY'
import glob, os, sys, zlib
wanted = {b"Garden plans", b"Reading list", b"Trip to Lisbon"}
for path in glob.glob(os.path.join(sys.argv[1], "*", "*.crvx")):
    try:
        data = open(path, "rb").read()
        text = zlib.decompress(data) if data[:2] == b"\x78\x9c" else data
    except (OSError, zlib.error):
        continue
    wanted = {title for title in wanted if title not in text}
sys.exit(1 if wanted else 0)
PY
}
wait_for 8 copies || fail "the emulator's documents did not reach the mirror in $mirror"
sleep 1
import -window root "$output/5-dropbox-home.png"

# SIGTERM: the saved state must hold a home window of location 3.
kill -TERM "$corvex"
ended() { ! kill -0 "$corvex" 2>/dev/null; }
wait_for 5 ended || fail "still running 5 s after SIGTERM"
wait "$corvex" || fail "Corvex ended with $? after SIGTERM"
python3 - "$XDG_CONFIG_HOME/com.tallowfen.corvex/defaults.json" <<'PY' || fail "no Dropbox home window in the saved state"
import json, sys
state = json.load(open(sys.argv[1])).get("CurrentState") or {}
windows = state.get("controllerStates") or []
homes = [w for w in windows if w.get("controllerClass") == "HomeViewController"
         and (w.get("controllerState") or {}).get("location") == 3]
print(f"sign-in: the saved state holds {len(windows)} window(s), {len(homes)} Dropbox home window(s)")
sys.exit(0 if homes else 1)
PY
echo "sign-in: passed; screenshots in $output"
