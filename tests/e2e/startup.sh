#!/usr/bin/env bash
# Starts the real program in a virtual X server with an empty HOME, waits for the main
# window, ends it with SIGTERM as a session logout would, and checks the settings file.
# A stored size and position come back, round after round, with and without a window manager.
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

# A stored geometry comes back where it was, and ten starts and closes, with and without a
# window manager, write back the very numbers they read: no walk across the screen.
for wm in openbox none; do
    cat >"$ini" <<'INI'
[Startup]
AutoCondition=True
Width=9007
Height=6000
Left=157
Top=300
INI
    if [ $wm = openbox ]; then expected_geometry=600x400+10+20; else expected_geometry=592x374+10+20; fi
    for round in $(seq 10); do
        QUILLON_WM=$wm run_in_x "$home" "$program" expect_geometry_then_terminate
        for key in Width=9007 Height=6000 Left=157 Top=300; do
            grep -qx "$key" "$ini" || fail "round $round ($wm) did not keep $key: $(cat "$ini")"
        done
    done
done

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
