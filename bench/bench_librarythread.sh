#!/usr/bin/env bash
# What the window's thread asks of the disk while the library is used, on a stalled disk: the
# real program under Xvfb and openbox shows a folder through a pass-through file system
# (bench/heldfs.py) whose file "take2-held.wav" answers nothing while a flag is up, strace is
# attached, and with real input the folder is added to the library (its chooser taken as it
# opens), indexed, searched with Ctrl+F and a typed word, and a hit played with Enter; then
# the same with the held file let go. For each step: the file-system calls and reads of files
# made by the main thread (its id is the process's), goal 0, and whether Alt+O still opened
# the about box. As root, under dbus-run-session:
#   dbus-run-session -- bench/bench_librarythread.sh build/src/quillon-sonoret
set -euo pipefail
program=$(realpath "$1")
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../tests/e2e/lib.sh"

new_workspace
real="$work/real"
flag="$work/held"
mkdir -p "$real"
for name in take1 take2-held take3; do
    sox -q -n -r 48000 -c 2 "$real/$name.wav" synth 5 sine 440 vol 0.3
done
/usr/bin/python3 "$here/heldfs.py" "$real" "$music" "$flag" &
fs=$!
trap 'rm -f "$flag"; fusermount -u "$music" 2>/dev/null || true; wait "$fs" 2>/dev/null || true; rm -rf "$work"' EXIT
for _ in $(seq 100); do [ -e "$music/take2-held.wav" ] && break; sleep 0.05; done
[ -e "$music/take2-held.wav" ] || fail "the pass-through folder did not mount"
cd "$music"

# Calls of the main thread in a piece of its trace: every file-system call, and reads of
# descriptors that are files (not the X socket, the event descriptors or the watches' queue);
# the time zone's file, which Qt reads when it formats a time, aside.
count_calls() {
    grep -v -e '^+++' -e '^---' -e 'resumed>' -e '/etc/localtime' |
        awk '/^read\(/ { if ($0 ~ /^read\([0-9]+<\//) n++; next } /^[a-z_0-9]+\(/ { n++ } END { print n + 0 }'
}
lines() { wc -l <"$trace.$pid"; }
settle() { sleep 2; }

# Milliseconds until Alt+O in the main window shows the about box, which is then closed.
about_answers() {
    local start about
    start=$(date +%s%N)
    press "$1" alt+o
    about=$(wait_for_window '^About Quillon Sonoret') || { echo "NO ANSWER"; return; }
    echo "$((($(date +%s%N) - start) / 1000000)) ms"
    xdotool key --window "$about" alt+o
    wait_gone '^About Quillon Sonoret' || true
}

measure() {
    local id folders find before
    pid=$1
    id=$(main_window) || fail "main window did not show"
    popup_at "$id" 30 30
    xdotool key Escape
    trace="$work/trace"
    strace -f -ff -y -e trace=%file,read -o "$trace" -p "$pid" 2>"$work/strace.log" &
    local tracer=$!
    for _ in $(seq 200); do grep -q attached "$work/strace.log" && break; sleep 0.05; done
    touch "$trace.$pid"
    settle
    act() {
        local name=$1
        shift
        before=$(lines)
        "$@"
        settle
        printf '%-46s %4d calls  goal 0 (Alt+O: %s)\n' "main thread, $name" \
            "$(tail -n +"$((before + 1))" "$trace.$pid" | count_calls)" "$(about_answers "$id")"
        tail -n +"$((before + 1))" "$trace.$pid" | grep -v -e '^read(' -e '/etc/localtime' |
            grep -E '^[a-z_0-9]+\(' | sed 's/^/    /' | head -n 8 || true
    }
    add_folder() {
        folders=$(add_browsers_folder "$id") || exit 1
        sleep 3 # the indexing of three files, one of them held
        press "$folders" alt+c
    }
    search() {
        press "$id" ctrl+f
        find=$(wait_for_window '^Find$') || fail "Ctrl+F opened no Find window"
        press "$find" t a k e
    }
    play_hit() { press "$find" Down Return; }
    play_held() { press "$find" Down Down Return; }
    touch "$flag"
    act "Library folders, Add…, Return (disk held)" add_folder
    act "Ctrl+F, a word typed (disk held)" search
    act "Down, Enter on a hit (disk held)" play_hit
    act "the held hit played (disk held)" play_held
    rm -f "$flag"
    act "the held hit played again (disk free)" play_held
    kill "$tracer" 2>/dev/null || true
    wait "$tracer" 2>/dev/null || true
    kill -TERM "$pid"
}

echo "load: $(cut -d' ' -f1-3 /proc/loadavg)"
run_in_x "$home" "$program" measure
