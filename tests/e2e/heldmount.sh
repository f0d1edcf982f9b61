#!/usr/bin/env bash
# A dead mount anywhere on the system must not keep the window from showing. A pass-through
# file system (bench/heldfs.py) whose statfs waits while a flag is up stands for a share that
# went away: a program that lists the mounted volumes asks each of them for its size. Held from
# before the start, the main window shows and answers, the drive list opens on the folder's
# volume, and strace, which runs the program, finds no statfs made by the window's thread. Let
# go, the list takes what the system says. Then the library's folder chooser, opened on the mount
# beside a folder whose look-up waits (a share gone in the middle of a walk): it shows, and it
# and the windows below it take keys while the folder is held. Needs FUSE (root, or fusermount allowed), fuse3,
# python3-fusepy and strace; without them it is skipped (77).
set -euo pipefail
program=$(realpath "$1")
here=$(cd "$(dirname "$0")" && pwd)
source "$here/lib.sh"

skip() {
    echo "SKIP: $*"
    exit 77
}
[ -c /dev/fuse ] || skip "no /dev/fuse"
command -v strace >/dev/null || skip "no strace"
command -v fusermount >/dev/null || skip "no fusermount"
/usr/bin/python3 -c 'import fusepy' 2>/dev/null || skip "no python3-fusepy"

new_workspace
real="$work/real"
held="$work/held"
flag="$work/held-flag"
trace="$work/trace"
mkdir -p "$real" "$held"
sox -q -n -r 48000 -c 2 "$music/take1.wav" synth 1 sine 440 vol 0.3
# Looked up, a name with "held" in it waits while the flag is up.
mkdir -p "$real/heldtakes"
touch "$flag"
/usr/bin/python3 "$here/../../bench/heldfs.py" "$real" "$held" "$flag" statfs 2>"$work/heldfs.log" &
fs=$!
asker=""
# Let go first: an unmount while a statfs still waits would be refused as busy.
clean_up() {
    rm -f "$flag"
    [ -z "$asker" ] || wait "$asker" 2>/dev/null || true
    fusermount -u -z "$held" 2>/dev/null || true
    for _ in $(seq 200); do kill -0 "$fs" 2>/dev/null || break; sleep 0.05; done
    kill "$fs" 2>/dev/null || true
    wait "$fs" 2>/dev/null || true
    rm -rf "$work"
}
trap clean_up EXIT
trap 'exit 1' INT TERM HUP
mounted() { awk -v at="$held" '$2 == at { found = 1 } END { exit !found }' /proc/self/mounts; }
for _ in $(seq 200); do mounted && break; sleep 0.05; done
mounted || skip "the pass-through folder did not mount: $(cat "$work/heldfs.log")"
# What any program asking the mount for its size meets: it waits as long as the flag is up
# (a statfs that came back would have ended the process, a zombie until waited for).
stat -f "$held" >/dev/null &
asker=$!
waiting() {
    local state
    state=$(awk '{ print $3 }' "/proc/$asker/stat" 2>/dev/null) || return 1
    [ -n "$state" ] && [ "$state" != Z ]
}
cd "$music"

# The statfs calls of the window's thread that ask a mount by its path, as listing the volumes
# does of every one, and any of a descriptor on the held mount. (Its trace file is the one of
# the program's first thread, which made the execve. Fontconfig asks of the folders and caches
# it has open whether they are on a network: those are its own, on the system's disk.)
main_statfs() {
    local main
    main=$(grep -l '^execve(' "$trace".* | head -n 1)
    [ -n "$main" ] || fail "no trace of the program's main thread"
    grep -E -e '^statfs(64)?\(' -e "^fstatfs(64)?\\([0-9]+<$held[/>]" "$main" || true
}

held_mount() {
    local id popup
    id=$(main_window) || fail "the main window did not show while a mount was held"
    waiting || fail "the mount was let go before the window showed"
    press "$id" alt+o
    about=$(wait_for_window '^About Quillon Sonoret') || fail "the window did not answer Alt+O"
    xdotool key --window "$about" alt+o
    wait_gone '^About Quillon Sonoret' || fail "the about box stayed"
    # File1 has the focus; the focus chain goes on to Command6, Dir1 and Drive1. Opened, the
    # list looks at the volumes again.
    press "$id" Tab Tab Tab alt+Down
    for _ in $(seq 200); do popup_shown && break; sleep 0.05; done
    popup_shown || fail "the drive list did not open"
    xdotool key Escape
    for _ in $(seq 200); do popup_shown || break; sleep 0.05; done
    waiting || fail "the mount was let go before the drive list opened"
    local calls
    calls=$(main_statfs)
    [ -z "$calls" ] || fail "the window's thread asked for a file system's size: $(head -n 3 <<<"$calls")"
    rm -f "$flag"
    for _ in $(seq 200); do waiting || break; sleep 0.05; done
    waiting && fail "statfs of the held folder still waited once let go"
    kill -TERM "$(pgrep -P "$1")"
}

# Whether the program's window thread waits for the FUSE file system to answer.
window_waits() {
    [ "$(cat "/proc/$1/wchan" 2>/dev/null)" = request_wait_answer ]
}

held_folder() {
    local id folders chooser
    id=$(main_window) || fail "the main window did not show on the mount"
    touch "$flag"
    # Until a look-up of the folder waits: the kernel keeps what it looked up a moment.
    local looker=""
    for _ in $(seq 100); do
        stat "$held/heldtakes" >/dev/null 2>&1 &
        looker=$!
        sleep 0.2
        kill -0 "$looker" 2>/dev/null && break
        wait "$looker" || true
        looker=""
    done
    [ -n "$looker" ] || fail "a look-up of the held folder never waited"
    # The common menu, from the window's bare background; L is "&Library folders…".
    popup_at "$id" 510 311
    xdotool key l
    folders=$(wait_for_window '^Library folders$') || fail "no Library folders window"
    press "$folders" alt+a
    chooser=$(wait_for_window '^Add a folder to the library$') ||
        fail "the chooser did not show beside a held folder"
    window_waits "$1" && fail "the window's thread waits for the held folder"
    # It answers: Escape closes it, and Library folders takes Alt+C after it.
    press "$chooser" Escape
    wait_gone '^Add a folder to the library$' || fail "the chooser beside a held folder took no key"
    press "$folders" alt+c
    wait_gone '^Library folders$' || fail "Library folders took no key after the chooser"
    kill -0 "$looker" 2>/dev/null || fail "the folder was let go before the chooser had answered"
    rm -f "$flag"
    wait "$looker" || true
    kill -TERM "$1"
}

run_in_x "$home" "$(command -v strace)" held_mount -f -ff -qq -y -e trace=execve,statfs,fstatfs,statfs64,fstatfs64 \
    -o "$trace" "$program"
run_in_x "$home" "$program" held_folder "$held"
echo "2 passed, 0 failed"
