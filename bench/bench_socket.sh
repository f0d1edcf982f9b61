#!/usr/bin/env bash
# What a hostile local client costs the running program, measured from outside: the
# program runs under Xvfb and openbox with at most 64 descriptors (prlimit) while a client
# sends 100 MB of garbage, 20 MB of garbage ending in NULs, and opens 1,000 idle
# connections. Throughout, a media-control call (answered on the window's thread) measures
# how long the window takes to answer, and /proc the memory it holds; then a later start
# must still hand its file over. Needs Xvfb, openbox, xdotool, dbus-run-session, python3.
#   dbus-run-session -- bench/bench_socket.sh build/src/quillon-sonoret
set -euo pipefail
quillon=$(realpath "$1")
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../tests/e2e/lib.sh"

new_workspace
sox -q -n -r 48000 -c 2 "$music/later.wav" synth 0.3 sine 440 vol 0.5

flood() {
    python3 - "$1" "$2" <<'PY'
import socket, sys, time
path, kind = sys.argv[1], sys.argv[2]
def send(data):
    s = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    s.connect(path)
    try:
        s.sendall(data)
    except OSError:
        pass  # dropped by the server, as it should be
    s.close()
if kind == "garbage":
    send(b"\xff" * (100 * 1024 * 1024))
elif kind == "nuls":
    send(b"x" * (20 * 1024 * 1024) + b"\0\0")
else:
    idle = []
    for _ in range(1000):
        s = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        try:
            s.connect(path)
            idle.append(s)
        except OSError:
            s.close()
    time.sleep(4)  # past the server's idle limit
    for s in idle:
        s.close()
PY
}

# Largest answer time of the window, in ms, while the command "$@" runs; also the largest
# resident memory seen, in MiB, as "ms mib".
probe_while() {
    local pid=$1
    shift
    "$@" &
    local job=$!
    local worst=0 peak=0
    while kill -0 "$job" 2>/dev/null; do
        local t0 t1 rss
        t0=$(date +%s%N)
        dbus-send --session --print-reply --dest=org.mpris.MediaPlayer2.QuillonSonoret \
            /org/mpris/MediaPlayer2 org.freedesktop.DBus.Properties.Get \
            string:org.mpris.MediaPlayer2 string:Identity >/dev/null
        t1=$(date +%s%N)
        worst=$(((t1 - t0) / 1000000 > worst ? (t1 - t0) / 1000000 : worst))
        rss=$(awk '/VmRSS/ { print int($2 / 1024) }' "/proc/$pid/status")
        peak=$((rss > peak ? rss : peak))
        sleep 0.02
    done
    wait "$job"
    echo "$worst $peak"
}

measure() {
    local pid=$1
    main_window >/dev/null || fail "main window did not show"
    local socket="$home/quillon-sonoret.socket"
    for _ in $(seq 100); do [ -S "$socket" ] && break; sleep 0.05; done
    local rest base
    base=$(probe_while "$pid" sleep 1)
    rest=${base#* }
    printf '%-40s %10d %-4s  %s\n' "window's answer at rest (worst)" "${base% *}" ms "reference"
    printf '%-40s %10d %-4s  %s\n' "resident memory at rest" "$rest" MiB "reference"
    for kind in garbage nuls idle; do
        local got
        got=$(probe_while "$pid" flood "$socket" "$kind")
        printf '%-40s %10d %-4s  %s\n' "window's answer, $kind (worst)" "${got% *}" ms "goal < 100 ms"
        printf '%-40s %10d %-4s  %s\n' "memory over rest, $kind (peak)" "$((${got#* } - rest))" \
            MiB "goal < 60 MiB"
    done
    local t0
    t0=$(date +%s%N)
    HOME=$home XDG_RUNTIME_DIR=$home "$quillon" "$music/later.wav" || fail "the later start failed"
    printf '%-40s %10d %-4s  %s\n' "later start handed over after" \
        "$((($(date +%s%N) - t0) / 1000000))" ms "goal: it does, at once"
    kill -TERM "$pid"
}

run_in_x "$home" prlimit measure --nofile=64:64 "$quillon"
