#!/usr/bin/env bash
# The desktop's media controls through the real playerctl, against the real program in a
# virtual X server: with files listed and nothing playing, play and play-pause play the entry
# with the focus frame; play-pause pauses and resumes; position moves the sound, and a place
# before its start or past its end leaves it as it was; the length is read; a seek past the
# end ends the sound; a take repeating (Ctrl+L) is seen going back to its start each round.
# Run under dbus-run-session.
set -euo pipefail
program=$1
here=$(cd "$(dirname "$0")" && pwd)
source "$here/lib.sh"

new_workspace
sox -q -n -r 48000 -c 2 "$music/take one.wav" synth 20 sine 440 vol 0.3
sox -q -n -r 44100 -c 1 "$music/take two.wav" synth 15 sine 660 vol 0.3
sox -q -n -r 48000 -c 1 "$music/z loop.wav" synth 2 sine 550 vol 0.3
cd "$music"

player() { playerctl --player=QuillonSonoret "$@" 2>/dev/null; }

# Waits up to 10 s until `player $2...` prints $1.
wait_player() {
    local want=$1
    shift
    for _ in $(seq 100); do [ "$(player "$@")" = "$want" ] && return 0; sleep 0.1; done
    return 1
}

# Whether the position playerctl reads lies in [$1, $2) seconds.
position_within() {
    local at
    at=$(player position) || return 1
    awk -v p="$at" -v lo="$1" -v hi="$2" 'BEGIN { exit !(p >= lo && p < hi) }'
}

# Waits up to 10 s for the position to lie in [$1, $2).
wait_position() {
    for _ in $(seq 100); do position_within "$1" "$2" && return 0; sleep 0.1; done
    return 1
}

controls() {
    local id
    id=$(main_window) || fail "main window did not show"
    # The folder has been read once a right click on the file list makes a menu. No entry
    # has the focus frame yet: the first one stands for it.
    popup_at "$id" 30 16
    xdotool key Escape
    wait_player Stopped status || fail "nothing plays, yet playerctl reads $(player status)"

    # Stopped with entries at hand, play plays the one with the focus frame.
    player play || fail "playerctl play was refused while stopped"
    wait_player Playing status || fail "playerctl play left it $(player status)"
    [ "$(player metadata xesam:title)" = "take one.wav" ] ||
        fail "playerctl play played $(player metadata xesam:title)"
    wait_player 20000000 metadata mpris:length ||
        fail "the length read $(player metadata mpris:length), not 20 s"

    # Pauses and resumes; the place is kept meanwhile.
    player play-pause || fail "playerctl play-pause was refused while playing"
    wait_player Paused status || fail "play-pause left it $(player status)"
    local held
    held=$(player position)
    player play-pause || fail "playerctl play-pause was refused while paused"
    wait_player Playing status || fail "play-pause did not resume: $(player status)"
    awk -v p="$held" 'BEGIN { exit !(p < 5) }' || fail "paused at $held s"
    position_within 0 "$(awk -v p="$held" 'BEGIN { print p + 5 }')" ||
        fail "resumed at $(player position) s, not from $held s"

    # position moves it; before the start and past the end, nothing happens.
    player position 5 || fail "playerctl position 5 was refused"
    wait_position 5 10 || fail "position 5 put it at $(player position) s"
    player position -- -5 || true
    [ "$(player status)" = Playing ] || fail "position -5 left it $(player status)"
    position_within 5 12 || fail "position -5 moved it to $(player position) s"
    player position 99999999999 || true
    [ "$(player status)" = Playing ] || fail "a huge position left it $(player status)"
    position_within 5 14 || fail "a huge position moved it to $(player position) s"
    # Relative: 2 s on, then a seek far past the end, which ends the sound.
    player position 2+ || fail "playerctl position 2+ was refused"
    wait_position 7 16 || fail "position 2+ put it at $(player position) s"
    player position 99999999999+ || true
    wait_player Stopped status || fail "a seek past the end left it $(player status)"

    # Stopped again, play-pause plays the entry the focus frame went to: a click on the
    # second entry moves it there (the menu of a right click after it shows that the click
    # was taken).
    popup_at "$id" 30 30 select
    xdotool key Escape
    player play-pause || fail "playerctl play-pause was refused while stopped"
    wait_player Playing status || fail "play-pause while stopped left it $(player status)"
    wait_player "take two.wav" metadata xesam:title ||
        fail "play-pause played $(player metadata xesam:title), not take two.wav"
    wait_player 15000000 metadata mpris:length ||
        fail "the second length read $(player metadata mpris:length), not 15 s"
    player stop || fail "playerctl stop was refused"
    wait_player Stopped status || fail "still $(player status) after stop"

    # A 2 s take made to repeat: playerctl, following the position, sees it start again
    # twice (after the place it first prints), each time near the take's start.
    popup_at "$id" 30 46 select
    xdotool key Escape
    player play || fail "playerctl play was refused for the third take"
    wait_player "z loop.wav" metadata xesam:title ||
        fail "play played $(player metadata xesam:title), not z loop.wav"
    press "$id" ctrl+l
    local follow="$work/follow.txt" follower rounds=0
    stdbuf -oL playerctl --player=QuillonSonoret --follow position >"$follow" 2>/dev/null &
    follower=$!
    for _ in $(seq 200); do
        rounds=$(awk 'NR > 1 && $1 < 0.5 { n++ } END { print n + 0 }' "$follow")
        [ "$rounds" -ge 2 ] && break
        sleep 0.1
    done
    kill "$follower" 2>/dev/null || true
    wait "$follower" 2>/dev/null || true
    [ "$rounds" -ge 2 ] || fail "playerctl was told of $rounds rounds of the loop in 20 s: $(cat "$follow")"
    [ "$(player status)" = Playing ] || fail "the loop left it $(player status)"
    kill -TERM "$1"
}

run_in_x "$home" "$program" controls
echo "1 passed, 0 failed"
