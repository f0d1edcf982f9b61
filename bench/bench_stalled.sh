#!/usr/bin/env bash
# The window on a stalled disk: the real program under Xvfb and openbox shows a folder through
# a pass-through file system (bench/heldfs.py) whose file "take2-held.wav" answers nothing
# while a flag is up. With it held, the file is stepped onto with an arrow key, played with
# Enter, ended and started again with Space and clicked on the band, and the media controls
# read; then Alt+O must still open the about box (how long it took is printed, against the
# same with the disk free). Let go, the file plays. As root, under dbus-run-session:
#   dbus-run-session -- bench/bench_stalled.sh build/src/quillon-sonoret
set -euo pipefail
program=$(realpath "$1")
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../tests/e2e/lib.sh"

new_workspace
real="$work/real"
flag="$work/held"
mkdir -p "$real"
for name in take1 take2-held take3; do
    sox -q -n -r 48000 -c 2 "$real/$name.wav" synth 20 sine 440 vol 0.3
done
/usr/bin/python3 "$here/heldfs.py" "$real" "$music" "$flag" &
fs=$!
trap 'rm -f "$flag"; fusermount -u "$music" 2>/dev/null || true; wait "$fs" 2>/dev/null || true; rm -rf "$work"' EXIT
for _ in $(seq 100); do [ -e "$music/take2-held.wav" ] && break; sleep 0.05; done
[ -e "$music/take2-held.wav" ] || fail "the pass-through folder did not mount"
mkdir -p "$home/.config/QuillonSonoret"
printf '[Startup]\nAutosave=True\nWaveform=True\nAutoPreview=False\n' \
    >"$home/.config/QuillonSonoret/QuillonSonoret.ini"
cd "$music"

player() { playerctl --player=QuillonSonoret "$@" 2>/dev/null || true; }
client_width() { xwininfo -id "$1" | awk '/^  Width:/ { print $2 }'; }

# Milliseconds until Alt+O shows the about box, which is then closed again; fails after 10 s.
about_answers() {
    local start about
    start=$(date +%s%N)
    press "$1" alt+o
    about=$(wait_for_window '^About Quillon Sonoret') || fail "the window did not answer Alt+O"
    echo "$((($(date +%s%N) - start) / 1000000))"
    xdotool key --window "$about" alt+o
    wait_gone '^About Quillon Sonoret' || fail "the about box stayed"
}

stalled() {
    local id
    id=$(main_window) || fail "main window did not show"
    popup_at "$id" 30 30
    xdotool key Escape
    echo "about box, disk free: $(about_answers "$id") ms"
    local left=$((8 + 24)) right=$(($(client_width "$id") - 8))
    touch "$flag"
    click_at "$id" 30 14 1 # take1.wav
    press "$id" Down       # take2-held.wav
    press "$id" Return
    press "$id" space
    press "$id" space
    click_at "$id" $(((left + right) / 2)) 380 1
    echo "media controls, disk held: $(player metadata xesam:title) ($(player status))"
    echo "about box, disk held: $(about_answers "$id") ms"
    press "$id" Up
    echo "about box, disk held, after an arrow key: $(about_answers "$id") ms"
    rm -f "$flag"
    local status=""
    for _ in $(seq 100); do
        status=$(player status)
        [ "$status" = Playing ] && break
        sleep 0.05
    done
    echo "disk let go: $(player metadata xesam:title) ($status)"
    kill -TERM "$1"
}

echo "load: $(cut -d' ' -f1-3 /proc/loadavg)"
run_in_x "$home" "$program" stalled
