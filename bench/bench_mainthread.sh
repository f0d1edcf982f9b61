#!/usr/bin/env bash
# What the window's thread asks of the disk while a user works: the real program under Xvfb
# and openbox, strace attached to it, and for each thing done with real input (a click in
# the file list, an arrow key, Enter, Space, a click on the band, `playerctl metadata`) the
# file-system calls and the reads of files made by the main thread (its id is the process's).
# The goal is 0 for each. Run under dbus-run-session, as root or where ptrace may attach:
#   dbus-run-session -- bench/bench_mainthread.sh build/src/quillon-sonoret
# With AUTO_PREVIEW=True the click and the arrow key play their entry too.
set -euo pipefail
program=$(realpath "$1")
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../tests/e2e/lib.sh"

new_workspace
for n in 1 2 3; do
    sox -q -n -r 48000 -c 2 "$music/take$n.wav" synth 30 sine $((300 * n)) vol 0.3
done
mkdir -p "$home/.config/QuillonSonoret"
printf '[Startup]\nAutosave=True\nWaveform=True\nAutoPreview=%s\n' "${AUTO_PREVIEW:-False}" \
    >"$home/.config/QuillonSonoret/QuillonSonoret.ini"
cd "$music"

# Calls of the main thread since line $1 of its trace: every file-system call, and reads of
# descriptors that are files (not the X socket, the event descriptors or the watches' queue);
# the time zone's file, which Qt reads when it formats a time, aside.
count_calls() {
    grep -v -e '^+++' -e '^---' -e 'resumed>' -e '/etc/localtime' |
        awk '/^read\(/ { if ($0 ~ /^read\([0-9]+<\//) n++; next } /^[a-z_0-9]+\(/ { n++ } END { print n + 0 }'
}
main_calls_since() { tail -n +"$(($1 + 1))" "$trace.$pid" | count_calls; }
lines() { wc -l <"$trace.$pid"; }
# The same calls made by the other threads (the workers) since the snapshot `mark` took.
declare -A marked
mark() {
    local f
    for f in "$trace".*; do marked[$f]=$(wc -l <"$f"); done
}
worker_calls_since_mark() {
    local f
    for f in "$trace".*; do
        [ "$f" = "$trace.$pid" ] && continue
        tail -n +"$((${marked[$f]:-0} + 1))" "$f"
    done | count_calls
}

# The action's answers from the workers come within this; the sound plays on meanwhile (a
# playing sound keeps the main thread's event descriptor busy, so quiet is no sign).
settle() { sleep 1.5; }

measure() {
    local id
    pid=$1
    id=$(main_window) || fail "main window did not show"
    # Once the folder is read (a right click there makes a menu).
    popup_at "$id" 30 30
    xdotool key Escape
    trace="$work/trace"
    strace -f -ff -y -e trace=%file,read -o "$trace" -p "$pid" 2>"$work/strace.log" &
    local tracer=$!
    for _ in $(seq 200); do [ -s "$trace.$pid" ] || grep -q attached "$work/strace.log" && break; sleep 0.05; done
    touch "$trace.$pid"
    settle
    local left=$((8 + 24)) right=$(($(client_width "$id") - 8))
    local before
    act() {
        local name=$1
        shift
        before=$(lines)
        mark
        "$@"
        settle
        printf '%-44s %4d calls  goal 0 (workers %d; then %s)\n' "main thread, $name" \
            "$(main_calls_since "$before")" "$(worker_calls_since_mark)" \
            "$(playerctl --player=QuillonSonoret status 2>&1)"
        tail -n +"$((before + 1))" "$trace.$pid" | grep -v -e '^read(' -e '/etc/localtime' |
            sed 's/^/    /' | head -n 5 || true
    }
    act "a click in the file list" click_at "$id" 30 14 1
    act "an arrow key" press "$id" Down
    act "Enter (plays)" press "$id" Return
    act "a click on the band (plays from there)" click_at "$id" $(((left + right) / 2)) 380 1
    act "Space (ends the sound)" press "$id" space
    act "Space (plays)" press "$id" space
    act "playerctl metadata" playerctl --player=QuillonSonoret metadata xesam:title
    kill "$tracer" 2>/dev/null || true
    wait "$tracer" 2>/dev/null || true
    kill -TERM "$pid"
}
client_width() { xwininfo -id "$1" | awk '/^  Width:/ { print $2 }'; }

echo "load: $(cut -d' ' -f1-3 /proc/loadavg)"
run_in_x "$home" "$program" measure
