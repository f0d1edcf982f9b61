#!/usr/bin/env bash
# Plays through the real program in a virtual X server, into SDL's disk driver in real
# time: a chain plays both of its files whole, a play-list entry replaced by a FIFO is
# refused at once, and a change from a 100 Hz file to an 8 kHz one leaves the window responsive.
set -euo pipefail
program=$1
here=$(cd "$(dirname "$0")" && pwd)
source "$here/lib.sh"

new_workspace
out="$work/device.raw"
sox -q -n -r 48000 -c 2 "$music/long.wav" synth 2.45 sine 440 vol 0.5
sox -q -n -r 100 -c 1 "$music/low.wav" synth 2 sine 10 vol 0.5
sox -q -n -r 8000 -c 1 "$music/phone.wav" synth 0.5 sine 440 vol 0.5
sox -q -n -r 22050 -c 1 "$music/short.wav" synth 1 sine 660 vol 0.5
sox -q -n -r 8000 -c 1 "$music/x.wav" synth 0.2 sine 440 vol 0.5
cp "$program" "$work/quillon-sonoret"

row() { # selects File1's row N alone, by keyboard: the focus is in the file list
    press "$1" End Home
    for _ in $(seq "$2"); do xdotool key Down; done
}

visible() { xdotool search --onlyvisible --name "$1" >/dev/null 2>&1; }

# Waits up to $2 tenths of a second for a window titled $1.
appears_within() {
    for _ in $(seq "$2"); do visible "$1" && return 0; sleep 0.1; done
    return 1
}

play_through() {
    local id
    id=$(main_window) || fail "main window did not show"
    # The folder has been read once a right click on the file list makes a menu.
    popup_at "$id" 30 16
    xdotool key Escape
    # long.wav (row 0) and short.wav (row 3), then "Chain &Play": the chain window comes,
    # and goes once both have played.
    row "$id" 0
    xdotool key ctrl+Down ctrl+Down ctrl+Down ctrl+space
    : >"$out"
    xdotool key alt+p
    for _ in $(seq 200); do chain_shown && break; sleep 0.05; done
    chain_shown || fail "Chain Play showed no chain window"
    for _ in $(seq 400); do chain_shown || break; sleep 0.05; done
    chain_shown && fail "the chain window stayed 20 s"
    local heard
    heard=$(sound_seconds)
    awk -v s="$heard" 'BEGIN { exit !(s >= 3.40 && s <= 3.65) }' ||
        fail "the chain played $heard s of 2.45 s + 1 s"

    # x.wav (row 4) goes on the play list, then is replaced by a FIFO: the play list's entry,
    # played with Enter, is refused at once.
    row "$id" 4
    xdotool key alt+a
    # On the play list once its menu comes.
    popup_at "$id" 40 240
    xdotool key Escape
    rm "$music/x.wav"
    mkfifo "$music/x.wav"
    click_at "$id" 40 240 1
    xdotool key Return
    appears_within '^Error$' 50 || fail "a FIFO named x.wav held the window"
    press "$(wait_for_window '^Error$')" Return
    wait_gone '^Error$' || fail "the error message stayed"
    click_at "$id" 40 20 1

    # low.wav (row 1) at 100 Hz, then, while it plays, phone.wav (row 2) at 8 kHz: the window
    # answers at once.
    row "$id" 1
    xdotool key alt+p
    sleep 0.5 # the scenario: half a second into low.wav
    row "$id" 2
    xdotool key alt+p
    xdotool key alt+o
    appears_within '^About Quillon Sonoret' 15 || fail "the window froze after a change of rate"
    press "$(wait_for_window '^About Quillon Sonoret')" alt+o
    wait_gone '^About Quillon Sonoret' || fail "the about box stayed"
    local started
    started=$(date +%s%N)
    kill -TERM "$1"
    for _ in $(seq 50); do kill -0 "$1" 2>/dev/null || break; sleep 0.05; done
    kill -0 "$1" 2>/dev/null && fail "still running 2.5 s after SIGTERM"
    echo "exit after SIGTERM: $((($(date +%s%N) - started) / 1000000)) ms"
}

cd "$music"
SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE="$out" run_in_x "$home" "$work/quillon-sonoret" play_through
echo "1 passed, 0 failed"
