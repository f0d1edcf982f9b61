#!/usr/bin/env bash
# Drags through the real program with real input (a press, moves with short pauses, a
# release), between its lists and a real file manager, pcmanfm: from the file list onto the
# play list (added) and onto the directory list (nothing added); from pcmanfm onto the play
# list; from the play list and from the file list into pcmanfm's folder (copied, the sources
# and the entries kept); and a later start handing a file over while a drag is held, which
# neither the drop nor the handed-over file is lost to. The lists are read as a screen
# reader reads them, over the accessibility bus. Mid-drag screenshots go to $QUILLON_SHOTS
# when it is set.
set -euo pipefail
program=$1
here=$(cd "$(dirname "$0")" && pwd)
source "$here/lib.sh"

# A session bus of its own, whose accessibility bus keeps its socket in a runtime folder of
# this test rather than in the user's cache.
if [ -z "${QUILLON_DRAG_SESSION:-}" ]; then
    runtime=$(mktemp -d)
    chmod 700 "$runtime"
    status=0
    QUILLON_DRAG_SESSION=1 XDG_RUNTIME_DIR=$runtime dbus-run-session -- "$0" "$@" || status=$?
    rm -rf "$runtime"
    exit "$status"
fi

new_workspace
# The file manager's folder on another file system than the program's folder, where a file
# manager copies what is dropped rather than moving it.
shelf=$(mktemp -d /dev/shm/quillon-shelf.XXXXXX)
trap 'rm -rf "$work" "$shelf"' EXIT
shots=${QUILLON_SHOTS:-$work/shots}
mkdir -p "$shots"
# Each of its own length, so that a copy is known by its bytes.
n=2
for name in a b c d; do
    sox -q -n -r 8000 -c 1 "$music/$name.wav" synth 0.$n sine $((100 * n))
    n=$((n + 1))
done
sox -q -n -r 8000 -c 1 "$shelf/shelf.wav" synth 0.3 sine 300
# pcmanfm with a home of its own: no side pane, icons, so its first icon has a known place.
fm_home="$work/fm"
mkdir -p "$fm_home/.config/pcmanfm/default" "$fm_home/run"
chmod 700 "$fm_home/run"
printf '[ui]\nwin_width=370\nwin_height=300\nside_pane_mode=places;hidden;\nview_mode=icon\nshow_statusbar=1\n' \
    >"$fm_home/.config/pcmanfm/default/pcmanfm.conf"

# Waits for the drag's picture beside the pointer, then saves the screen as $1.png.
picture_shown() {
    wait_drag_picture || fail "no drag picture beside the pointer for $1"
    /usr/bin/import -window root "$shots/$1.png"
}

# Waits up to 10 s for file $1 to be there and the same as $2.
wait_copied() {
    for _ in $(seq 200); do
        [ -f "$1" ] && cmp -s "$1" "$2" && return 0
        sleep 0.05
    done
    fail "$1 was not copied from $2"
}

drags() {
    local id fm
    id=$(main_window) || fail "main window did not show"
    a11y_find_window || fail "the program is not on the accessibility bus"
    wait_entries "Wave files" a.wav b.wav c.wav d.wav
    HOME=$fm_home XDG_CONFIG_HOME=$fm_home/.config XDG_RUNTIME_DIR=$fm_home/run \
        pcmanfm "$shelf" >"$work/pcmanfm.log" 2>&1 &
    fm_pid=$!
    trap 'kill "$fm_pid" 2>/dev/null || true' EXIT
    fm=$(wait_for_window "^$(basename "$shelf")\$") || fail "pcmanfm showed no window"
    # Beside the program's window, which is centred on the 1280 x 800 screen.
    xdotool windowmove "$fm" 905 230
    local fx fy
    read -r fx fy <<<"$(client_origin "$fm")"
    for _ in $(seq 100); do [ "$fx" -ge 905 ] && break; sleep 0.05; read -r fx fy <<<"$(client_origin "$fm")"; done
    # Its folder's free space, and its first icon, below its menu bar and tool bar.
    local drop_x=$((fx + 250)) drop_y=$((fy + 200)) icon_x=$((fx + 51)) icon_y=$((fy + 95))

    # Each drag begins with a press on an entry not selected, which selects it alone.
    local x y tx ty
    # File list to play list: a.wav is added. Over the file list the drag shows the
    # loudspeaker, over the play list the funnel.
    read -r x y <<<"$(entry_point "Wave files" a.wav)"
    read -r tx ty <<<"$(control_point "Play list")"
    drag_to "$x" "$y" "$x" $((y + 40))
    picture_shown 1-over-the-file-list
    drag_to_more "$tx" "$ty"
    picture_shown 2-over-the-play-list
    xdotool mouseup 1
    wait_entries "Play list" a.wav
    for _ in $(seq 100); do xdotool search --onlyvisible --name '^Drag picture$' >/dev/null 2>&1 || break; sleep 0.05; done
    xdotool search --onlyvisible --name '^Drag picture$' >/dev/null 2>&1 && fail "the drag picture stayed after the drop"

    # File list to directory list: the banana, and nothing is added (the next step's list
    # shows it: the drops are taken in order).
    read -r x y <<<"$(entry_point "Wave files" b.wav)"
    read -r tx ty <<<"$(control_point "Directories")"
    drag_to "$x" "$y" "$tx" "$ty"
    picture_shown 3-over-the-directory-list
    xdotool mouseup 1

    # pcmanfm to play list: its file is added by its path.
    read -r tx ty <<<"$(control_point "Play list")"
    drag_to "$icon_x" "$icon_y" "$tx" "$ty"
    xdotool mouseup 1
    wait_entries "Play list" a.wav shelf.wav

    # Play list to pcmanfm: a.wav is copied into its folder; the entry and the file stay.
    read -r x y <<<"$(entry_point "Play list" a.wav)"
    drag_to "$x" "$y" "$drop_x" "$drop_y"
    xdotool mouseup 1
    wait_copied "$shelf/a.wav" "$music/a.wav"
    wait_entries "Play list" a.wav shelf.wav

    # File list to pcmanfm: c.wav is copied, and stays.
    read -r x y <<<"$(entry_point "Wave files" c.wav)"
    drag_to "$x" "$y" "$drop_x" "$drop_y"
    picture_shown 4-over-pcmanfm
    xdotool mouseup 1
    wait_copied "$shelf/c.wav" "$music/c.wav"
    wait_entries "Wave files" a.wav b.wav c.wav d.wav

    # A later start hands b.wav over while d.wav is being dragged: it ends at once, the drop
    # adds d.wav, and b.wav follows once the drag is over.
    read -r x y <<<"$(entry_point "Wave files" d.wav)"
    read -r tx ty <<<"$(control_point "Play list")"
    drag_to "$x" "$y" "$tx" "$ty"
    picture_shown 5-handover-held
    HOME=$home XDG_RUNTIME_DIR=$home timeout 10 "$program" "$music/b.wav" ||
        fail "the start during a drag did not hand over"
    kill -0 "$1" || fail "the program ended during the drag"
    xdotool mousemove $((tx + 2)) $((ty + 2))
    sleep 0.05
    xdotool mouseup 1
    wait_entries "Play list" a.wav shelf.wav d.wav b.wav
    [ -f "$music/a.wav" ] && [ -f "$music/c.wav" ] && [ -f "$shelf/shelf.wav" ] ||
        fail "a source of a copy went away"
    [ "$(ls "$shelf" | wc -l)" -eq 3 ] || fail "pcmanfm's folder holds $(ls "$shelf")"
    kill -TERM "$1"
}

# Goes on with a drag already under way: moves in steps from where the pointer is to $1,$2.
drag_to_more() {
    local x y i
    eval "$(xdotool getmouselocation --shell)"
    x=$X y=$Y
    for i in $(seq 1 12); do
        xdotool mousemove $((x + ($1 - x) * i / 12)) $((y + ($2 - y) * i / 12))
        sleep 0.03
    done
    for i in 1 0 1 0; do
        xdotool mousemove $(($1 + i)) $(($2 + i))
        sleep 0.05
    done
}

cd "$music"
before_program=a11y_on run_in_x "$home" "$program" drags
echo "1 passed, 0 failed"
