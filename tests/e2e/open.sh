#!/usr/bin/env bash
# "Open with" through the real program: the options answer without a display; a file given
# at start plays in the window that opens; a later start with another file hands it to that
# window, plays it there, and ends at once, also for a name that is not UTF-8; two files handed over run a chain, which the
# desktop's media controls (MPRIS, through playerctl) follow, skip and stop. Run under
# dbus-run-session.
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
# A name in Latin-1, as old archives and memory cards unpack: not UTF-8.
latin="$music/"$'caf\xe9.wav'
sox -q -n -r 48000 -c 2 "$latin" synth 1.5 sine 550 vol 0.5

"$program" --help | grep -q '^Usage: quillon-sonoret \[options\] \[PATH...\]' || fail "--help"
"$program" --version | grep -qx 'quillon-sonoret 2.0' || fail "--version"
status=0
"$program" --loudly 2>"$work/err" || status=$?
[ "$status" -eq 2 ] || fail "a wrong option ended with $status, not 2"
grep -q "Unknown option 'loudly'" "$work/err" || fail "no error text: $(cat "$work/err")"

player() { playerctl --player=QuillonSonoret "$@" 2>/dev/null; }

# Waits up to 10 s until the device has heard at least $1 s and the desktop's media controls
# see nothing playing any more, then prints what was heard.
heard_once_ended() {
    local heard=0
    for _ in $(seq 100); do
        heard=$(sound_seconds 2>/dev/null || echo 0)
        awk -v s="$heard" -v min="$1" 'BEGIN { exit !(s >= min) }' && break
        sleep 0.1
    done
    for _ in $(seq 100); do [ "$(player status)" = Stopped ] && break; sleep 0.1; done
    sound_seconds
}

open_twice() {
    local id
    id=$(main_window) || fail "main window did not show"
    local heard
    heard=$(heard_once_ended 0.95)
    awk -v s="$heard" 'BEGIN { exit !(s >= 0.95 && s <= 1.1) }' ||
        fail "the file given at start played $heard s of 1 s"

    : >"$out"
    local started took
    started=$(date +%s%N)
    HOME=$home XDG_RUNTIME_DIR=$home "$program" "$music/second.wav" || fail "the handover failed"
    took=$((($(date +%s%N) - started) / 1000000))
    echo "second start ended after $took ms"
    [ "$took" -lt 1000 ] || fail "the second start took $took ms"
    heard=$(heard_once_ended 0.45)
    awk -v s="$heard" 'BEGIN { exit !(s >= 0.45 && s <= 0.6) }' ||
        fail "the handed-over file played $heard s of 0.5 s"
    [ "$(xdotool search --onlyvisible --name '^Quillon Sonoret 2\.0$' | wc -l)" -eq 1 ] ||
        fail "a second window opened"

    # The Latin-1 name is found and plays; media controls read it with a replacement character.
    : >"$out"
    HOME=$home XDG_RUNTIME_DIR=$home "$program" "$latin" || fail "the Latin-1 handover failed"
    for _ in $(seq 100); do [ "$(player metadata xesam:title)" = "caf�.wav" ] && break; sleep 0.1; done
    [ "$(player metadata xesam:title)" = "caf�.wav" ] ||
        fail "the Latin-1 file's title read $(player metadata xesam:title)"
    heard=$(heard_once_ended 1.45)
    awk -v s="$heard" 'BEGIN { exit !(s >= 1.45 && s <= 1.6) }' ||
        fail "the Latin-1 file played $heard s of 1.5 s"

    # Two files make a chain, which playerctl, as a desktop's media keys, follows and drives.
    playerctl --list-all | grep -qx QuillonSonoret || fail "playerctl does not see the program"
    HOME=$home XDG_RUNTIME_DIR=$home "$program" "$music/long one.wav" "$music/long two.wav"
    for _ in $(seq 100); do chain_shown && break; sleep 0.1; done
    chain_shown || fail "two files handed over opened no chain window"
    [ "$(player status)" = Playing ] || fail "the chain is not Playing for playerctl"
    for _ in $(seq 100); do [ "$(player metadata xesam:title)" = "long one.wav" ] && break; sleep 0.1; done
    [ "$(player metadata xesam:title)" = "long one.wav" ] ||
        fail "playerctl read the title $(player metadata xesam:title)"
    player next || fail "playerctl next was refused"
    for _ in $(seq 100); do [ "$(player metadata xesam:title)" = "long two.wav" ] && break; sleep 0.1; done
    [ "$(player metadata xesam:title)" = "long two.wav" ] || fail "playerctl next did not go on"
    player stop || fail "playerctl stop was refused"
    for _ in $(seq 100); do chain_shown || break; sleep 0.1; done
    chain_shown && fail "playerctl stop did not end the chain"
    [ "$(player status)" = Stopped ] || fail "still $(player status) after stop"
    kill -TERM "$1"
}

SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE="$out" run_in_x "$home" "$program" open_twice \
    "$music/first take.wav"
echo "1 passed, 0 failed"
