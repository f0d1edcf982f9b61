#!/usr/bin/env bash
# "Open with" through the real program: the options answer without a display; a file given
# at start plays in the window that opens; a later start with another file hands it to that
# window, plays it there, and ends at once; two files handed over run a chain, which the
# desktop's media controls (MPRIS, here through dbus-send) stop. Run under dbus-run-session.
set -euo pipefail
program=$1
here=$(cd "$(dirname "$0")" && pwd)
source "$here/lib.sh"

new_workspace
out="$work/device.raw"
sox -q -n -r 48000 -c 2 "$music/first take.wav" synth 1 sine 440 vol 0.5
sox -q -n -r 48000 -c 2 "$music/second.wav" synth 0.5 sine 660 vol 0.5
sox -q -n -r 48000 -c 2 "$music/long one.wav" synth 20 sine 330 vol 0.5
sox -q -n -r 48000 -c 2 "$music/long two.wav" synth 20 sine 220 vol 0.5

"$program" --help | grep -q '^Usage: quillon-sonoret \[options\] \[PATH...\]' || fail "--help"
"$program" --version | grep -qx 'quillon-sonoret 2.0' || fail "--version"
status=0
"$program" --loudly 2>"$work/err" || status=$?
[ "$status" -eq 2 ] || fail "a wrong option ended with $status, not 2"
grep -q "Unknown option 'loudly'" "$work/err" || fail "no error text: $(cat "$work/err")"

open_twice() {
    local id
    id=$(main_window) || fail "main window did not show"
    sleep 2
    local heard
    heard=$(sound_seconds)
    awk -v s="$heard" 'BEGIN { exit !(s >= 0.95 && s <= 1.1) }' ||
        fail "the file given at start played $heard s of 1 s"

    : >"$out"
    local started took
    started=$(date +%s%N)
    HOME=$home XDG_RUNTIME_DIR=$home "$program" "$music/second.wav" || fail "the handover failed"
    took=$((($(date +%s%N) - started) / 1000000))
    echo "second start ended after $took ms"
    [ "$took" -lt 1000 ] || fail "the second start took $took ms"
    sleep 1.5
    heard=$(sound_seconds)
    awk -v s="$heard" 'BEGIN { exit !(s >= 0.45 && s <= 0.6) }' ||
        fail "the handed-over file played $heard s of 0.5 s"
    [ "$(xdotool search --onlyvisible --name '^Quillon Sonoret 2\.0$' | wc -l)" -eq 1 ] ||
        fail "a second window opened"

    local mpris=(--session --print-reply --dest=org.mpris.MediaPlayer2.QuillonSonoret
        /org/mpris/MediaPlayer2)
    dbus-send "${mpris[@]}" org.freedesktop.DBus.Properties.Get \
        string:org.mpris.MediaPlayer2 string:Identity | grep -q 'Quillon Sonoret 2.0' ||
        fail "no MPRIS identity on the bus"
    HOME=$home XDG_RUNTIME_DIR=$home "$program" "$music/long one.wav" "$music/long two.wav"
    local windows=0
    for _ in $(seq 50); do
        windows=$(xdotool search --onlyvisible --name '' | wc -l)
        [ "$windows" -ge 3 ] && break # the screen, the main window and the chain window
        sleep 0.1
    done
    [ "$windows" -ge 3 ] || fail "two files handed over opened no chain window"
    dbus-send "${mpris[@]}" org.freedesktop.DBus.Properties.Get \
        string:org.mpris.MediaPlayer2.Player string:PlaybackStatus | grep -q Playing ||
        fail "the chain is not Playing for MPRIS"
    dbus-send "${mpris[@]}" org.mpris.MediaPlayer2.Player.Stop >/dev/null
    for _ in $(seq 30); do
        windows=$(xdotool search --onlyvisible --name '' | wc -l)
        [ "$windows" -lt 3 ] && break
        sleep 0.1
    done
    [ "$windows" -lt 3 ] || fail "MPRIS Stop did not end the chain"
    kill -TERM "$1"
}

SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE="$out" run_in_x "$home" "$program" open_twice \
    "$music/first take.wav"
echo "1 passed, 0 failed"
