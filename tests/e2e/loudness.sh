#!/usr/bin/env bash
# Loudness through the real program. A folder with a 16 Hz take and a float take holding a NaN,
# and a FIFO where the old loudness cache file was: the program lives, each of those takes'
# tooltips says why it has no figures, and another take's tooltip gets its loudness. Then a line on disk forged for two takes near full
# scale (their real size and time, -150 LUFS with no true peak, and -1000 LUFS): with "Match
# loudness", no sample the device receives reaches full scale. The tooltip is read as a screen
# reader reads it, over AT-SPI. Run under dbus-run-session.
set -euo pipefail
program=$1
here=$(cd "$(dirname "$0")" && pwd)
source "$here/lib.sh"

new_workspace
out="$work/device.raw"
cache="$home/.cache/QuillonSonoret/loudness"
mkdir -p "$(dirname "$cache")" "$work/run"
# The accessibility bus keeps its socket under the runtime folder: the workspace's, not ours.
dbus-update-activation-environment XDG_RUNTIME_DIR="$work/run" HOME="$home" 2>/dev/null
export XDG_RUNTIME_DIR="$work/run"
export QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1

# sox will not write a rate that low: the header by hand, 2 s of a 4 Hz sine at 16 Hz.
python3 - "$music/a-slow.wav" <<'EOF'
import math, struct, sys, wave
with wave.open(sys.argv[1], "wb") as w:
    w.setnchannels(1)
    w.setsampwidth(2)
    w.setframerate(16)
    w.writeframes(b"".join(struct.pack("<h", int(16000 * math.sin(2 * math.pi * n / 4))) for n in range(32)))
EOF
sox -q -n -r 48000 -c 2 "$music/b-take.wav" synth 3 sine 1000 vol -20dB
# A float take of 22,050 Hz with one sample that is not a number, as a faulty program writes.
python3 - "$music/c-nan.wav" <<'EOF'
import math, struct, sys
rate, frames = 22050, 22050
samples = [0.25 * math.sin(2 * math.pi * 440 * n / rate) for n in range(frames)]
samples[frames // 2] = float("nan")
data = struct.pack(f"<{frames}f", *samples)
fmt = struct.pack("<HHIIHH", 3, 1, rate, rate * 4, 4, 32)
with open(sys.argv[1], "wb") as out:
    out.write(b"RIFF" + struct.pack("<I", 4 + 8 + len(fmt) + 8 + len(data)) + b"WAVE")
    out.write(b"fmt " + struct.pack("<I", len(fmt)) + fmt + b"data" + struct.pack("<I", len(data)) + data)
EOF
mkfifo "$cache"

a11y_bus() {
    local address
    address=$(gdbus call --session -d org.a11y.Bus -o /org/a11y/bus -m org.a11y.Bus.GetAddress 2>/dev/null) || return 1
    address=${address#\(\'}
    echo "${address%\',\)}"
}

# The names of the program's top-level windows, as AT-SPI gives them: a tooltip's is its text.
window_names() {
    local bus app path
    bus=$(a11y_bus) || return 0
    for app in $(gdbus call --address "$bus" -d org.a11y.atspi.Registry -o /org/a11y/atspi/accessible/root \
        -m org.a11y.atspi.Accessible.GetChildren 2>/dev/null | grep -o "':[0-9.]*'" | tr -d "'"); do
        for path in $(gdbus call --address "$bus" -d "$app" -o /org/a11y/atspi/accessible/root \
            -m org.a11y.atspi.Accessible.GetChildren 2>/dev/null |
            grep -o "'/org/a11y/atspi/accessible/[0-9a-z]*'" | tr -d "'"); do
            gdbus call --address "$bus" -d "$app" -o "$path" -m org.freedesktop.DBus.Properties.Get \
                org.a11y.atspi.Accessible Name 2>/dev/null || true
        done
    done
}

tooltip_shown() {
    local w
    for w in $(untitled_windows); do
        xprop -id "$w" _NET_WM_WINDOW_TYPE 2>/dev/null | grep -q TOOLTIP && return 0
    done
    return 1
}

# Hovers over File1 at $2,$3 in window $1 until the tooltip's text matches $4 (an extended
# regular expression), for up to $5 seconds; prints the text. A tooltip shown meanwhile is read
# again as it changes; one that went is brought back by leaving the list and hovering anew.
tooltip_matching() {
    local id=$1 x=$2 y=$3 pattern=$4 limit=$5 left top text="" start=$SECONDS
    left=$(xwininfo -id "$id" | awk '/Absolute upper-left X/ { print $NF }')
    top=$(xwininfo -id "$id" | awk '/Absolute upper-left Y/ { print $NF }')
    while [ $((SECONDS - start)) -lt "$limit" ]; do
        if ! tooltip_shown; then
            xdotool mousemove $((left + 300)) $((top + 200))
            xdotool mousemove $((left + x)) $((top + y))
            sleep 0.1
            xdotool mousemove $((left + x + 1)) $((top + y))
            for _ in $(seq 40); do tooltip_shown && break; sleep 0.05; done
        fi
        text=$(window_names | grep -E "$pattern" | head -n 1) || true
        [ -n "$text" ] && echo "$text" && return 0
        sleep 0.2
    done
    echo "last seen: $(window_names | tr '\n' ' ')" >&2
    return 1
}

# The y of File1's row whose tooltip matches $2 (its format line tells the take), looked for
# from the top of the list.
row_matching() {
    local y
    for y in $(seq 16 8 72); do
        tooltip_matching "$1" 40 "$y" "$2" 3 >/dev/null 2>&1 && echo "$y" && return 0
        xdotool mousemove 0 0
        for _ in $(seq 40); do tooltip_shown || break; sleep 0.05; done
    done
    return 1
}

low_rate_and_fifo() {
    local id y text
    id=$(main_window) || fail "main window did not show"
    popup_at "$id" 30 30
    xdotool key Escape
    y=$(row_matching "$id" "16 Hz") || fail "no row's tooltip showed the 16 Hz take"
    text=$(tooltip_matching "$id" 40 "$y" "rate too low" 60) || fail "the 16 Hz take's tooltip never said why it has no loudness"
    echo "16 Hz take: $text"
    kill -0 "$1" || fail "the program ended"
    xdotool mousemove 0 0
    y=$(row_matching "$id" "48,000 Hz") || fail "no row's tooltip showed the 48 kHz take"
    text=$(tooltip_matching "$id" 40 "$y" "LUFS" 60) || fail "the 48 kHz take was never measured with a FIFO for the file on disk"
    echo "48 kHz take: $text"
    xdotool mousemove 0 0
    y=$(row_matching "$id" "22,050 Hz") || fail "no row's tooltip showed the float take"
    text=$(tooltip_matching "$id" 40 "$y" "not numbers" 60) || fail "the float take's tooltip never said its samples are not numbers"
    echo "float take: $text"
    [ -p "$cache" ] || fail "the FIFO in the file's place was replaced"
    kill -TERM "$1"
}

cd "$music"
run_in_x "$home" "$program" low_rate_and_fifo

# Two takes whose samples reach 0.89 of full scale, and lines for them in the old cache file
# that the range checks must refuse: taken as they are, "Match loudness" brings them up by all
# it may. A new library store, which takes the old file in once.
hot="$work/hot"
mkdir -p "$hot"
sox -q -n -r 48000 -c 2 "$hot/a-hot.wav" synth 4 sine 1000 vol -1dB
sox -q -n -r 48000 -c 2 "$hot/b-hot.wav" synth 4 sine 1000 vol -1dB
rm -f "$cache"
rm -rf "$home/.local/share/QuillonSonoret"
python3 - "$cache" "$hot/a-hot.wav" "-150 0 -inf -inf 0 -" "$hot/b-hot.wav" "-1000 0 -20 -20 0 -" <<'EOF'
import os, sys, urllib.parse
with open(sys.argv[1], "w") as cache:
    for path, figures in zip(sys.argv[2::2], sys.argv[3::2]):
        status = os.stat(path)
        name = urllib.parse.quote(os.fsencode(path), safe="")
        cache.write(f"{name} {status.st_size} {status.st_mtime_ns // 1000000} {figures}\n")
EOF
cache_before=$(sha256sum <"$cache")
mkdir -p "$home/.config/QuillonSonoret"
printf '[Startup]\nAutosave=True\nWaveform=True\nAutoPreview=True\n' \
    >"$home/.config/QuillonSonoret/QuillonSonoret.ini"

player() { playerctl --player=QuillonSonoret "$@" 2>/dev/null; }

# Waits until take $1 sounds, then for another second of the device's output.
heard() {
    for _ in $(seq 100); do [ "$(player metadata xesam:title)" = "$1" ] && break; sleep 0.1; done
    [ "$(player metadata xesam:title)" = "$1" ] || fail "$1 did not sound"
    local from
    from=$(stat -c %s "$out")
    for _ in $(seq 100); do
        [ "$(stat -c %s "$out")" -gt $((from + 48000 * 8)) ] && break
        sleep 0.05
    done
}

forged_lines() {
    local id width
    id=$(main_window) || fail "main window did not show"
    width=$(xwininfo -id "$id" | awk '/^  Width:/ { print $2 }')
    # "Match loudness" on, then each take previewed in turn, the second one twice: by then
    # its measurement has come, and the sound follows it.
    popup_at "$id" 30 30
    xdotool key Escape
    click_at "$id" $((width - 8 - 40)) $((314 + 22 + 11)) 1
    press "$id" Up
    heard a-hot.wav
    press "$id" Down
    heard b-hot.wav
    press "$id" Up
    heard a-hot.wav
    # The last one as measured: 19 dB down, which only "Match loudness" does.
    stat -c %s "$out" >"$work/last-from"
    press "$id" Down
    heard b-hot.wav
    kill -TERM "$1"
}

# The highest sample the device received from byte $1 on.
peak_from() {
    od -A n -v -t f4 -w4 -j "$1" "$out" | awk '{ v = $1 < 0 ? -$1 : $1; if (v > m) m = v } END { printf "%.4f\n", m }'
}

cd "$hot"
SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE="$out" run_in_x "$home" "$program" forged_lines
peak=$(peak_from 0)
last=$(peak_from "$(cat "$work/last-from")")
echo "the device's highest sample: $peak; in the last take: $last"
awk -v p="$peak" 'BEGIN { exit !(p > 0.01 && p < 1) }' || fail "the device's highest sample was $peak"
awk -v p="$last" 'BEGIN { exit !(p > 0.01 && p < 0.2) }' ||
    fail "the last take, measured by then, was not matched: its highest sample was $last"
# Measured again, and kept in the library's store; the old file is read, never written.
[ "$(sha256sum <"$cache")" = "$cache_before" ] || fail "the old loudness cache file was written"
kept=$(python3 - "$home/.local/share/QuillonSonoret/library.sqlite" "$hot/a-hot.wav" <<'EOF'
import os, sqlite3, sys
db = sqlite3.connect(f"file:{sys.argv[1]}?mode=ro", uri=True)
row = db.execute("SELECT lufs FROM loudness WHERE path = ?", (os.fsencode(sys.argv[2]),)).fetchone()
print(row[0] if row else "")
EOF
)
awk -v l="$kept" 'BEGIN { exit !(l != "" && l > -30 && l < 0) }' || fail "a-hot.wav's own figures were not kept in the store (got '$kept')"
echo "1 passed, 0 failed"
