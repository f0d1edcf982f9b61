#!/usr/bin/env bash
# Starts the real program in a virtual X server with an empty HOME, waits for the main
# window, ends it with SIGTERM as a session logout would, and checks the settings file.
# A second start restores a stored size and position.
set -euo pipefail
program=$1
here=$(cd "$(dirname "$0")" && pwd)
source "$here/lib.sh"

home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
ini="$home/.config/QuillonSonoret/QuillonSonoret.ini"

run_in_x "$home" "$program" terminate_after_window
grep -qx 'Autosave=False' "$ini" || fail "Autosave not written: $(cat "$ini")"
grep -qx 'AutoCondition=False' "$ini" || fail "AutoCondition not written"
[ "$(grep -c '=' "$ini")" -eq 2 ] || fail "more than the two switches written: $(cat "$ini")"

cat > "$ini" <<'INI'
[Startup]
AutoCondition=True
Width=9000
Height=6000
Left=150
Top=300
INI
run_in_x "$home" "$program" check_geometry_then_terminate
grep -qx 'Width=9000' "$ini" || fail "Width not kept: $(cat "$ini")"
grep -qx 'Left=150' "$ini" || fail "Left not kept: $(cat "$ini")"

# Ended during the splash, before the stored settings were read: they stay as they were.
cat > "$ini" <<'INI'
[Startup]
Autosave=True
Buttons=False
INI
before=$(cat "$ini")
run_in_x "$home" "$program" terminate_during_splash
[ "$(cat "$ini")" = "$before" ] || fail "settings overwritten when ended during the splash: $(cat "$ini")"
echo "1 passed, 0 failed"
