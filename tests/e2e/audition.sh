#!/usr/bin/env bash
# Auditioning through the real program, with the band and auto preview stored as on: a click
# in the middle of a take's waveform is heard from there (the device's samples are the take's
# own at that point), and the arrow keys step through the folder, each file playing as the
# desktop's media controls (MPRIS, through playerctl) report; with "Match loudness", a take
# 20 dB quieter than another is heard as loud as it. Run under dbus-run-session.
set -euo pipefail
program=$1
here=$(cd "$(dirname "$0")" && pwd)
source "$here/lib.sh"

new_workspace
out="$work/device.raw"
# A rising ramp: 0.1 at the start, 0.5 at 5 s, 0.9 at the end; its value tells the place.
sox -q -n -r 48000 -c 2 "$music/a-ramp.wav" synth 10 sawtooth 0.1 vol 0.4 dcshift 0.5
for n in 1 2 3; do
    sox -q -n -r 48000 -c 2 "$music/take$n.wav" synth 3 sine $((300 * n)) vol 0.3
done
# Two takes 20 dB apart: -33 and -13 LUFS.
sox -q -n -r 48000 -c 2 "$music/x-loud.wav" synth 4 sine 1000 vol -13dB
sox -q -n -r 48000 -c 2 "$music/y-quiet.wav" synth 4 sine 1000 vol -33dB
mkdir -p "$home/.config/QuillonSonoret"
printf '[Startup]\nAutosave=True\nWaveform=True\nAutoPreview=True\n' \
    >"$home/.config/QuillonSonoret/QuillonSonoret.ini"
cd "$music"

player() { playerctl --player=QuillonSonoret "$@" 2>/dev/null; }

# The left channel of the device from byte $1 on, one value a line.
left_from() {
    od -A n -v -t f4 -w8 -j "$1" "$out" | awk '{ print $1 }'
}

# The level in dB of the device's output over one second, from half a second after byte $1:
# the sound has settled by then.
level_from() {
    local from=$(($1 + 48000 * 8 / 2))
    for _ in $(seq 100); do
        [ "$(stat -c %s "$out")" -gt $((from + 48000 * 8)) ] && break
        sleep 0.05
    done
    od -A n -v -t f4 -w8 -j "$from" -N $((48000 * 8)) "$out" |
        awk '{ s += $1 * $1; n++ } END { if (n && s > 0) printf "%.2f\n", 10 * log(s / n) / log(10) }'
}

# The client height of window $1.
client_height() { xwininfo -id "$1" | awk '/^  Height:/ { print $2 }'; }
client_width() { xwininfo -id "$1" | awk '/^  Width:/ { print $2 }'; }

audition() {
    local id
    id=$(main_window) || fail "main window did not show"
    # The designed client is 513 x 314; the band adds its 136 pixels below it.
    [ "$(client_height "$id")" -eq 450 ] || fail "the window is $(client_height "$id") high, not 450"
    # Once the folder is read (a right click there makes a menu, and moves the focus frame to
    # take1.wav without a sound), Up makes the ramp the file at hand and previews it.
    popup_at "$id" 30 30
    xdotool key Escape
    [ -z "$(player metadata xesam:title)" ] || fail "a right click started a sound"
    press "$id" Up
    for _ in $(seq 100); do [ "$(player metadata xesam:title)" = a-ramp.wav ] && break; sleep 0.1; done
    [ "$(player metadata xesam:title)" = a-ramp.wav ] || fail "Up previewed nothing"

    # A click half way along the waveform: the band is 8 pixels in, its lanes 24 further,
    # and the strip runs to 8 pixels from the right edge.
    local left=$((8 + 24)) right=$(($(client_width "$id") - 8))
    local before
    before=$(stat -c %s "$out")
    click_at "$id" $(((left + right) / 2)) 380 1
    for _ in $(seq 100); do
        [ $(($(stat -c %s "$out") - before)) -gt 192000 ] && break
        sleep 0.05
    done
    # The first loud sample after the click is where the new sound begins (the old one fades
    # under it for 5 ms); 10 ms later it is the ramp at 5 s, give or take a pixel's worth.
    local value
    value=$(left_from "$before" | awk 'start == 0 && $1 > 0.3 { start = NR } start && NR == start + 480 { print; exit }')
    echo "heard from the click: $value"
    awk -v v="${value:-0}" 'BEGIN { exit !(v > 0.48 && v < 0.52) }' ||
        fail "the click in the middle was heard from ${value:-nothing}, not 0.5"
    local position
    position=$(player position)
    awk -v p="${position:-0}" 'BEGIN { exit !(p >= 5 && p < 6.5) }' ||
        fail "the media controls put the sound at ${position:-nothing} s"

    # The arrow keys step through the folder, each entry sounding in turn.
    for n in 1 2 3; do
        press "$id" Down
        for _ in $(seq 100); do
            [ "$(player metadata xesam:title)" = "take$n.wav" ] && break
            sleep 0.05
        done
        [ "$(player metadata xesam:title)" = "take$n.wav" ] ||
            fail "Down $n played $(player metadata xesam:title), not take$n.wav"
    done
    # Shift+Up extends the selection: the sound stays the one of the entry before.
    press "$id" shift+Up
    for _ in $(seq 10); do
        [ "$(player metadata xesam:title)" = take3.wav ] || fail "Shift+Up changed the sound"
        sleep 0.05
    done

    # "Match loudness" on: the quiet take and the loud one sound alike.
    click_at "$id" $(($(client_width "$id") - 8 - 40)) $((314 + 22 + 11)) 1
    before=$(stat -c %s "$out")
    press "$id" End
    local quiet loud
    quiet=$(level_from "$before")
    before=$(stat -c %s "$out")
    press "$id" Up
    loud=$(level_from "$before")
    echo "matched: quiet take at $quiet dB, loud take at $loud dB"
    awk -v q="${quiet:--99}" -v l="${loud:-0}" 'BEGIN { d = q - l; exit !(d < 1 && d > -1 && q > -40) }' ||
        fail "with Match loudness the takes were heard at $quiet and $loud dB"
    kill -TERM "$1"
}

SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE="$out" run_in_x "$home" "$program" audition
echo "1 passed, 0 failed"
