#!/usr/bin/env bash
# The library through the real program with real input: a folder added in "Library folders"
# (its chooser opens on the folder the browser shows, whatever was picked in it before, and
# Enter takes it, or the subfolder picked with the arrows; Alt+A twice opens one), Ctrl+F (Find opens
# by the main window clear of the play list, and again where it was left), a word typed with no
# Enter, the hit played with Enter and dragged with the file list's picture onto the play list
# (added) and into a real file manager's folder, pcmanfm's (copied), a file written meanwhile
# found when Find opens again, and Find used while a folder is being chosen. The hit is a file
# ffmpeg wrote, found by the comment ffmpeg put in it. The windows are read as a screen reader
# reads them, over the accessibility bus.
set -euo pipefail
program=$1
here=$(cd "$(dirname "$0")" && pwd)
source "$here/lib.sh"

if [ -z "${QUILLON_LIBRARY_SESSION:-}" ]; then
    runtime=$(mktemp -d)
    chmod 700 "$runtime"
    status=0
    QUILLON_LIBRARY_SESSION=1 XDG_RUNTIME_DIR=$runtime dbus-run-session -- "$0" "$@" || status=$?
    rm -rf "$runtime"
    exit "$status"
fi

new_workspace
out="$work/device.raw"
sox -q -n -r 48000 -c 2 "$music/kick.wav" synth 0.3 sine 60 vol 0.5
sox -q -n -r 48000 -c 1 "$music/snare.wav" synth 0.3 sine 900 vol 0.5
ffmpeg -loglevel error -nostdin -f lavfi -i "sine=frequency=440:duration=1.5:sample_rate=48000" \
    -metadata comment="harbour ferry horn at dawn" -c:a pcm_s16le "$music/interview.wav"
# A subfolder for the chooser to pick.
mkdir "$music/vocals"
# A file manager's folder on another file system than the program's folder, where pcmanfm
# copies what is dropped rather than moving it; pcmanfm with a home of its own, showing icons.
shelf=$(mktemp -d /dev/shm/quillon-shelf.XXXXXX)
trap 'rm -rf "$work" "$shelf"' EXIT
fm_home="$work/fm"
mkdir -p "$fm_home/.config/pcmanfm/default" "$fm_home/run"
chmod 700 "$fm_home/run"
printf '[ui]\nwin_width=370\nwin_height=300\nside_pane_mode=places;hidden;\nview_mode=icon\nshow_statusbar=1\n' \
    >"$fm_home/.config/pcmanfm/default/pcmanfm.conf"

# The path of the program's top-level window named $1 on the accessibility bus, up to 10 s.
a11y_top() {
    local w
    for _ in $(seq 200); do
        for w in $(a11y_children /org/a11y/atspi/accessible/root 2>/dev/null); do
            [ "$(a11y_name "$w" 2>/dev/null)" = "$1" ] && echo "$w" && return 0
        done
        sleep 0.05
    done
    return 1
}

# The path of the child of $1 named $2.
a11y_child() {
    local c
    for c in $(a11y_children "$1"); do
        [ "$(a11y_name "$c" 2>/dev/null)" = "$2" ] && echo "$c" && return 0
    done
    return 1
}

# Waits up to 10 s until the child named $2 of window $1 has a child named $3, and gives the
# screen point of its middle.
wait_cell() {
    local parent c
    for _ in $(seq 100); do
        if parent=$(a11y_child "$1" "$2"); then
            for c in $(a11y_children "$parent"); do
                [ "$(a11y_name "$c" 2>/dev/null)" = "$3" ] || continue
                a11y_middle "$c"
                return 0
            done
        fi
        sleep 0.1
    done
    fail "$2 shows no $3"
}

# Whether the rectangles "x y width height" $1 and $2 do not overlap.
apart() {
    local ax ay aw ah bx by bw bh
    read -r ax ay aw ah <<<"$1"
    read -r bx by bw bh <<<"$2"
    [ $((ax + aw)) -le "$bx" ] || [ $((bx + bw)) -le "$ax" ] || [ $((ay + ah)) -le "$by" ] ||
        [ $((by + bh)) -le "$ay" ]
}

library() {
    local id folders find chooser
    id=$(main_window) || fail "main window did not show"
    a11y_find_window || fail "the program is not on the accessibility bus"
    wait_entries "Wave files" interview.wav kick.wav snare.wav

    # The common menu, from the window's bare background; L is "&Library folders…".
    popup_at "$id" 510 311
    xdotool key l
    folders=$(wait_for_window '^Library folders$') || fail "no Library folders window"
    # Pressed twice before the chooser is up: one chooser. The second press is sent to Library
    # folders itself, since one that reached the chooser would press its "&Add". A subfolder
    # picked in it and given up is not what the next one offers.
    press "$folders" alt+a
    xdotool key --window "$folders" alt+a
    chooser=$(wait_for_window '^Add a folder to the library$') || fail "Add… showed no chooser"
    for _ in $(seq 200); do [ "$(xdotool getactivewindow)" = "$chooser" ] && break; sleep 0.05; done
    [ "$(xdotool search --onlyvisible --name '^Add a folder to the library$' | wc -l)" -eq 1 ] ||
        fail "Alt+A twice opened two choosers"
    press "$chooser" Down Escape
    wait_gone '^Add a folder to the library$' || fail "Escape left a chooser open"
    # A subfolder picked with the arrow: Enter takes it rather than opening it.
    press "$folders" alt+a
    chooser=$(wait_for_window '^Add a folder to the library$') || fail "Add… showed no chooser"
    for _ in $(seq 200); do [ "$(xdotool getactivewindow)" = "$chooser" ] && break; sleep 0.05; done
    # Its subfolders come from a worker, after the way up to the folder.
    wait_cell "$(a11y_top "Add a folder to the library")" "Directories" vocals >/dev/null
    xdotool key Down Return
    wait_gone '^Add a folder to the library$' || fail "Enter on a picked folder left the chooser"
    local top
    top=$(a11y_top "Library folders") || fail "Library folders is not on the accessibility bus"
    wait_cell "$top" "Folders in the library" "$music/vocals" >/dev/null
    # Next time it opened on the browser's folder again: taking it as it is adds that folder
    # (which takes in the one inside it), and the next key is the window's that has the focus
    # (nothing of the chooser is left to take it).
    press "$folders" alt+a
    chooser=$(wait_for_window '^Add a folder to the library$') || fail "Add… showed no chooser"
    press "$chooser" Return
    wait_gone '^Add a folder to the library$' || fail "the chooser stayed"
    wait_cell "$top" "Folders in the library" "$music" >/dev/null
    for _ in $(seq 200); do [ "$(xdotool getactivewindow)" = "$folders" ] && break; sleep 0.05; done
    popup_shown && fail "a popup stayed after the chooser"
    xdotool key alt+c
    wait_gone '^Library folders$' || fail "&Close after the chooser did not reach Library folders"

    # Ctrl+F, and a word of the comment: the hit comes with no Enter.
    press "$id" ctrl+f
    find=$(wait_for_window '^Find$') || fail "Ctrl+F opened no Find window"
    # By the main window rather than where the window manager would put it, and clear of the
    # play list, where hits are dragged to (the screen has room for that).
    local list_box find_box
    list_box=$(a11y_call "$(a11y_control "Play list")" org.a11y.atspi.Component.GetExtents "uint32 0" | tr -d '(),')
    for _ in $(seq 100); do
        find_box=$(outer_geometry "$find" | awk -F'[x+]' '{ print $3, $4, $1, $2 }')
        apart "$list_box" "$find_box" && break
        sleep 0.05
    done
    apart "$list_box" "$find_box" || fail "Find ($find_box) covers the play list ($list_box)"
    xdotool windowmove "$find" 0 0
    xdotool windowsize "$find" 560 260
    top=$(a11y_top "Find") || fail "Find is not on the accessibility bus"
    press "$find" f e r r y
    wait_cell "$top" "Library results" interview.wav >/dev/null
    for name in kick.wav snare.wav; do
        a11y_child "$(a11y_child "$top" "Library results")" "$name" >/dev/null &&
            fail "ferry found $name"
    done

    # Down to the hit, Enter: it plays whole.
    : >"$out"
    xdotool key Down Return
    local heard=0
    for _ in $(seq 100); do
        heard=$(sound_seconds 2>/dev/null || echo 0)
        awk -v s="$heard" 'BEGIN { exit !(s >= 1.4) }' && break
        sleep 0.1
    done
    awk -v s="$heard" 'BEGIN { exit !(s >= 1.4 && s <= 1.65) }' ||
        fail "Enter on the hit played $heard s of 1.5 s"

    # Dragged from the hits onto the play list, it is added there.
    local x y tx ty
    read -r x y <<<"$(wait_cell "$top" "Library results" interview.wav)"
    read -r tx ty <<<"$(control_point "Play list")"
    drag_to "$x" "$y" "$tx" "$ty"
    # The file list's picture beside the pointer, below and to the right of its tip.
    wait_drag_picture || fail "no drag picture beside the pointer while a hit is dragged"
    xdotool mouseup 1
    wait_entries "Play list" interview.wav
    [ -f "$music/interview.wav" ] || fail "the dragged file went away"

    # Dragged into a file manager's folder, with the same picture on the way: it is copied.
    HOME=$fm_home XDG_CONFIG_HOME=$fm_home/.config XDG_RUNTIME_DIR=$fm_home/run \
        pcmanfm "$shelf" >"$work/pcmanfm.log" 2>&1 &
    local fm_pid=$! fm fx fy
    fm=$(wait_for_window "^$(basename "$shelf")\$") || fail "pcmanfm showed no window"
    # Right of Find and of the program's window, clear of both.
    xdotool windowmove "$fm" 905 230
    read -r fx fy <<<"$(client_origin "$fm")"
    for _ in $(seq 100); do [ "$fx" -ge 905 ] && break; sleep 0.05; read -r fx fy <<<"$(client_origin "$fm")"; done
    read -r x y <<<"$(wait_cell "$top" "Library results" interview.wav)"
    # The folder's free space, below pcmanfm's menu bar and tool bar.
    drag_to "$x" "$y" $((fx + 250)) $((fy + 200))
    wait_drag_picture || fail "no drag picture beside the pointer while a hit is dragged out"
    xdotool mouseup 1
    for _ in $(seq 200); do cmp -s "$shelf/interview.wav" "$music/interview.wav" && break; sleep 0.05; done
    cmp -s "$shelf/interview.wav" "$music/interview.wav" || fail "the hit dropped into pcmanfm was not copied"
    [ "$(ls "$shelf")" = interview.wav ] || fail "pcmanfm's folder holds $(ls "$shelf")"
    [ -f "$music/interview.wav" ] || fail "the hit copied into pcmanfm went away"
    wait_entries "Play list" interview.wav
    kill "$fm_pid" 2>/dev/null || true

    # A take another program records meanwhile, in a new folder below: found once Find opens
    # again, with no restart.
    mkdir -p "$music/later"
    sox -q -n -r 48000 -c 1 "$music/later/seagull.wav" synth 0.3 sine 500
    local left
    left=$(outer_geometry "$find")
    press "$find" Escape
    wait_gone '^Find$' || fail "Escape left Find open"
    press "$id" ctrl+f
    find=$(wait_for_window '^Find$') || fail "Ctrl+F did not open Find again"
    # Where and as large as it was left.
    wait_geometry "$find" "$left" || fail "Find opened again at $waited_geometry, not where it was left ($left)"
    press "$find" ctrl+a s e a g u l l
    wait_cell "$top" "Library results" seagull.wav >/dev/null

    # While a folder is being chosen, Find still takes clicks and keys (its Stop with them):
    # the chooser holds Library folders and the main window only.
    popup_at "$id" 510 311
    xdotool key l
    folders=$(wait_for_window '^Library folders$') || fail "no Library folders window again"
    press "$folders" alt+a
    chooser=$(wait_for_window '^Add a folder to the library$') || fail "Add… showed no chooser"
    local fx fy
    read -r fx fy <<<"$(a11y_middle "$(a11y_child "$top" "Search the library")")"
    xdotool mousemove "$fx" "$fy" click 1
    xdotool key ctrl+a k i c k
    wait_cell "$top" "Library results" kick.wav >/dev/null
    xdotool search --onlyvisible --name '^Add a folder to the library$' >/dev/null ||
        fail "the chooser went when Find was used"
    press "$chooser" Escape
    wait_gone '^Add a folder to the library$' || fail "Escape left the chooser open"
    kill -TERM "$1"
}

# A card of takes added as a folder of the library, pulled (moved away) and put back: Library
# folders says "(offline)" within seconds of each, and the card's own watch, not the pass of
# every minute, finds it back.
card_back() {
    local id folders top
    id=$(main_window) || fail "main window did not show"
    a11y_find_window || fail "the program is not on the accessibility bus"
    wait_entries "Wave files" take1.wav take2.wav
    folders=$(add_browsers_folder "$id") || exit 1
    top=$(a11y_top "Library folders") || fail "Library folders is not on the accessibility bus"
    wait_cell "$top" "Folders in the library" "$card" >/dev/null
    mv "$card" "$work/pulled"
    wait_cell "$top" "Folders in the library" "$card (offline)" >/dev/null
    mv "$work/pulled" "$card"
    wait_cell "$top" "Folders in the library" "$card" >/dev/null
    a11y_child "$(a11y_child "$top" "Folders in the library")" "$card (offline)" >/dev/null &&
        fail "the card back is still shown offline"
    press "$folders" alt+c
    wait_gone '^Library folders$' || fail "&Close left Library folders open"
    kill -TERM "$1"
}

cd "$music"
before_program=a11y_on SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE="$out" run_in_x "$home" "$program" library
# Ended as a desktop ends it, every connection to the store closed: its log and shared
# memory file went with the last one.
if [ -z "${XDG_DATA_HOME:-}" ]; then
    data="$home/.local/share/QuillonSonoret"
    [ -f "$data/library.sqlite" ] || fail "no library store in $data"
    for left in "$data/library.sqlite-wal" "$data/library.sqlite-shm"; do
        [ ! -e "$left" ] || fail "${left##*/} was left in $data after the program ended"
    done
fi
card="$work/card"
mkdir -p "$card/day2"
sox -q -n -r 48000 -c 1 "$card/take1.wav" synth 0.2 sine 300
sox -q -n -r 48000 -c 1 "$card/take2.wav" synth 0.2 sine 400
sox -q -n -r 48000 -c 1 "$card/day2/take3.wav" synth 0.2 sine 500
cd "$card"
before_program=a11y_on run_in_x "$home" "$program" card_back
echo "2 passed, 0 failed"
