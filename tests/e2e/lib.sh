# Helpers for whole-program tests: a private X server, a window to wait for, a clean end.

# A work folder removed at exit, with a home and a music folder: sets work, home, music.
new_workspace() {
    work=$(mktemp -d)
    trap 'rm -rf "$work"' EXIT
    home="$work/home"
    music="$work/music"
    mkdir -p "$home" "$music"
}

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

# Runs "$program" on a private Xvfb with HOME=$1 (and arguments $4...), then calls the
# function $3 with the program's pid; the function must end the program. The function named
# by $before_program, if set, runs once the server is up, before the program starts. Fails if it exits
# non-zero. A desktop has a window manager, and frames, focus and activation after a dialog
# differ without one: openbox runs unless QUILLON_WM=none.
run_in_x() {
    local home=$1 program=$2 step=$3
    shift 3
    local display_file log
    display_file=$(mktemp)
    log=$(mktemp)
    # -noreset: the probe below is the first client, and a server that resets once it leaves
    # refuses the program for a moment.
    Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp -noreset 3>"$display_file" >/dev/null 2>&1 &
    local xvfb=$!
    for _ in $(seq 100); do [ -s "$display_file" ] && break; sleep 0.05; done
    export DISPLAY=":$(cat "$display_file")"
    # The number can come before the server takes connections; a program started then
    # finds no display and aborts.
    # A busy machine (the other tests write tens of thousands of files) can take seconds.
    local ready=""
    for _ in $(seq 600); do
        xdotool getdisplaygeometry >/dev/null 2>&1 && ready=yes && break
        sleep 0.05
    done
    [ -n "$ready" ] || fail "the X server on $DISPLAY did not take connections"
    local wm="" wm_home
    wm_home=$(mktemp -d)
    local wm_ready="$wm_home/ready"
    if [ "${QUILLON_WM:-openbox}" = openbox ]; then
        # Its own HOME, so that a developer's openbox settings play no part.
        HOME=$wm_home openbox --sm-disable --startup "touch $wm_ready" >/dev/null 2>&1 &
        wm=$!
        for _ in $(seq 600); do [ -e "$wm_ready" ] && break; sleep 0.05; done
        [ -e "$wm_ready" ] || fail "openbox did not start on $DISPLAY"
    fi
    # What a desktop has running before a program starts, if the test sets it.
    [ -z "${before_program:-}" ] || "$before_program"
    HOME=$home XDG_RUNTIME_DIR=$home SDL_AUDIODRIVER=${SDL_AUDIODRIVER:-dummy} \
        QT_QPA_PLATFORM=xcb "$program" "$@" >"$log" 2>&1 &
    local pid=$!
    local status=0
    # In a subshell, so that a failing step still gets here and shows the program's output.
    ("$step" "$pid") || status=$?
    [ "$status" -eq 0 ] || kill -KILL "$pid" 2>/dev/null || true
    wait "$pid" || [ "$status" -ne 0 ] || status=$?
    if [ -n "$wm" ]; then
        kill "$wm" 2>/dev/null || true
        wait "$wm" 2>/dev/null || true
    fi
    kill "$xvfb" 2>/dev/null || true
    wait "$xvfb" 2>/dev/null || true
    rm -rf "$display_file" "$wm_home"
    if [ "$status" -ne 0 ]; then
        cat "$log" >&2
        rm -f "$log"
        fail "program ended with status $status"
    fi
    rm -f "$log"
}

# The id of the first visible window whose title matches $1, waited for up to 10 s.
wait_for_window() {
    for _ in $(seq 200); do
        xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n 1 | grep . && return 0
        sleep 0.05
    done
    return 1
}

# Waits up to 10 s until no visible window's title matches $1.
wait_gone() {
    for _ in $(seq 200); do
        xdotool search --onlyvisible --name "$1" >/dev/null 2>&1 || return 0
        sleep 0.05
    done
    return 1
}

# The ids of the program's shown windows that have no title: the chain window, popup menus
# and tooltips.
untitled_windows() {
    local w
    for w in $(xdotool search --onlyvisible --classname '^quillon-sonoret$' 2>/dev/null); do
        xprop -id "$w" WM_NAME | grep -qx 'WM_NAME(STRING) = ' && echo "$w"
    done
    return 0
}

# Whether a popup menu is open: an untitled window the window manager does not manage, and no
# tooltip.
popup_shown() {
    local w
    for w in $(untitled_windows); do
        xwininfo -id "$w" | grep -q 'Override Redirect State: yes' || continue
        xprop -id "$w" _NET_WM_WINDOW_TYPE | grep -q TOOLTIP || return 0
    done
    return 1
}

# Whether the chain window is shown: an untitled window the window manager manages.
chain_shown() {
    local w
    for w in $(untitled_windows); do
        xwininfo -id "$w" | grep -q 'Override Redirect State: no' && return 0
    done
    return 1
}

# Clicks button $4 at $2,$3 inside window $1's client area. (xdotool's own window geometry
# counts a window manager's frame in twice.)
click_at() {
    local x y
    x=$(xwininfo -id "$1" | awk '/Absolute upper-left X/ { print $NF }')
    y=$(xwininfo -id "$1" | awk '/Absolute upper-left Y/ { print $NF }')
    # Not --sync: it waits for a movement, and there is none when the pointer is already there.
    xdotool mousemove $((x + $2)) $((y + $3)) click "$4"
}

# Right-clicks at $2,$3 inside window $1 and waits for the popup menu. A list shows no menu
# before its folder is read: the click is tried again until the menu comes, for up to 10 s.
# With $4 "select", a left click there comes first, once the list has been read (a click
# toggles a row of the file list, so it is not repeated).
popup_at() {
    for _ in $(seq 200); do popup_shown || break; sleep 0.05; done
    popup_shown && fail "a popup menu stayed open"
    if [ "${4:-}" = select ]; then
        popup_at "$1" "$2" "$3"
        xdotool key Escape
        for _ in $(seq 200); do popup_shown || break; sleep 0.05; done
        click_at "$1" "$2" "$3" 1
    fi
    for _ in $(seq 20); do
        click_at "$1" "$2" "$3" 3
        for _ in $(seq 10); do
            popup_shown && return 0
            sleep 0.05
        done
    done
    fail "no popup menu at $2,$3"
}

# Adds the browser's folder to the library as a user does: "&Library folders…" from the common
# menu of the main window $1 (its bare background), "&Add…", Return in the chooser. Prints the id
# of Library folders, left open.
add_browsers_folder() {
    local folders chooser
    popup_at "$1" 510 311
    xdotool key l
    folders=$(wait_for_window '^Library folders$') || fail "no Library folders window"
    press "$folders" alt+a
    chooser=$(wait_for_window '^Add a folder to the library$') || fail "Add… showed no chooser"
    press "$chooser" Return
    wait_gone '^Add a folder to the library$' || fail "the chooser stayed"
    echo "$folders"
}

# Gives window $1 the focus through the window manager, then types the keys $2...
press() {
    local id=$1
    shift
    xdotool windowactivate --sync "$id" 2>/dev/null || xdotool windowfocus --sync "$id"
    xdotool key "$@"
}

# The id of the main window once it is shown (the splash comes first) and, under a window
# manager, active: placed and framed, so that clicks land where they are aimed.
main_window() {
    # Generous: under the sanitizers on a busy machine the start takes several seconds.
    local id=""
    for _ in $(seq 600); do
        id=$(xdotool search --onlyvisible --name '^Quillon Sonoret 2\.0$' 2>/dev/null | head -n 1) || true
        [ -n "$id" ] && break
        sleep 0.05
    done
    [ -n "$id" ] || return 1
    if [ "${QUILLON_WM:-openbox}" != none ]; then
        for _ in $(seq 200); do
            [ "$(xdotool getactivewindow 2>/dev/null)" = "$id" ] && break
            sleep 0.05
        done
    fi
    echo "$id"
}

terminate_after_window() {
    local id
    id=$(main_window) || fail "main window did not show"
    # Alt+O is "Ab&out": the about box opens and stays until its own Alt+O ("&Ok").
    press "$id" alt+o
    local about=""
    for _ in $(seq 60); do
        about=$(xdotool search --onlyvisible --name '^About Quillon Sonoret' 2>/dev/null | head -n 1) || true
        [ -n "$about" ] && break
        sleep 0.05
    done
    [ -n "$about" ] || fail "Alt+O opened no about box"
    sleep 2
    xdotool search --onlyvisible --name '^About Quillon Sonoret' >/dev/null || fail "about box closed by itself"
    press "$about" alt+o
    for _ in $(seq 60); do
        xdotool search --onlyvisible --name '^About Quillon Sonoret' >/dev/null 2>&1 || break
        sleep 0.05
    done
    xdotool search --onlyvisible --name '^About Quillon Sonoret' >/dev/null 2>&1 && fail "&Ok did not close the about box"
    kill -TERM "$1"
}

# The frame's outer geometry as WxH+X+Y: the client and the extents the window manager
# announced (none without one).
outer_geometry() {
    local x y w h extents
    x=$(xwininfo -id "$1" | awk '/Absolute upper-left X/ { print $NF }')
    y=$(xwininfo -id "$1" | awk '/Absolute upper-left Y/ { print $NF }')
    w=$(xwininfo -id "$1" | awk '/Width:/ { print $NF }')
    h=$(xwininfo -id "$1" | awk '/Height:/ { print $NF }')
    extents=$(xprop -id "$1" _NET_FRAME_EXTENTS | grep -o '[0-9]*, [0-9]*, [0-9]*, [0-9]*' | tr -d ,) || true
    [ -n "$extents" ] || extents="0 0 0 0"
    read -r left right top bottom <<<"$extents"
    echo "$((w + left + right))x$((h + top + bottom))+$((x - left))+$((y - top))"
}

# Waits up to 5 s for the main window's outer geometry to be $1, then ends the program.
# Without a window manager the outer size is the client's: the designed frame allowance
# (8 x 26) is taken off the stored size.
expect_geometry_then_terminate() {
    local id
    id=$(main_window) || fail "main window did not show"
    wait_geometry "$id" "$expected_geometry" || fail "geometry $waited_geometry, not $expected_geometry"
    kill -TERM "$1"
}

# Waits up to 5 s for window $1's outer geometry to be $2; the last one seen is left in
# $waited_geometry for the message.
wait_geometry() {
    waited_geometry=""
    for _ in $(seq 100); do
        waited_geometry=$(outer_geometry "$1")
        [ "$waited_geometry" = "$2" ] && return 0
        sleep 0.05
    done
    return 1
}

# Ends the program while its splash is still up.
terminate_during_splash() {
    for _ in $(seq 100); do
        xdotool search --onlyvisible --name '^About Quillon Sonoret' >/dev/null 2>&1 && break
        sleep 0.02
    done
    kill -TERM "$1"
}

# The length in seconds of what SDL's disk driver wrote to $out (48 kHz stereo float), with
# the silence at both ends left out.
sound_seconds() {
    sox -q -t raw -r 48000 -e floating-point -b 32 -c 2 "$out" -t wav "$work/heard.wav" \
        silence 1 0.01 1% reverse silence 1 0.01 1% reverse
    soxi -D "$work/heard.wav"
}

# The program's controls and list entries as a screen reader reads them, over the session's
# accessibility bus. a11y_on turns assistive technologies on, as a desktop does for a screen
# reader, once the X server is up (the bus's services need its display) and before the
# program starts: as before_program.
a11y_on() {
    gdbus call --session --dest org.freedesktop.DBus --object-path /org/freedesktop/DBus \
        --method org.freedesktop.DBus.UpdateActivationEnvironment "{'DISPLAY': '$DISPLAY'}" >/dev/null
    gdbus call --session --dest org.a11y.Bus --object-path /org/a11y/bus \
        --method org.freedesktop.DBus.Properties.Set org.a11y.Status IsEnabled '<true>' >/dev/null
    a11y_address=$(gdbus call --session --dest org.a11y.Bus --object-path /org/a11y/bus \
        --method org.a11y.Bus.GetAddress | sed -E "s/^\('(.*)',\)$/\1/")
    [ -n "$a11y_address" ] || fail "no accessibility bus"
}

# Calls method $2 of accessible $1 of the program, with the arguments $3...
a11y_call() {
    gdbus call --address "$a11y_address" --dest "$a11y_program" --object-path "$1" --method "$2" "${@:3}"
}

# The object paths of accessible $1's children, one a line.
a11y_children() {
    a11y_call "$1" org.a11y.atspi.Accessible.GetChildren | grep -o "'/org/a11y/atspi/accessible/[^']*'" | tr -d "'"
}

# The name of accessible $1.
a11y_name() {
    a11y_call "$1" org.freedesktop.DBus.Properties.Get org.a11y.atspi.Accessible Name |
        sed -E "s/^\(<'(.*)'>,\)$/\1/"
}

# Finds the program on the accessibility bus once its main window is there (up to 10 s) and
# sets a11y_program and a11y_window.
a11y_find_window() {
    local app w
    for _ in $(seq 200); do
        for app in $(gdbus call --address "$a11y_address" --dest org.a11y.atspi.Registry \
            --object-path /org/a11y/atspi/accessible/root \
            --method org.a11y.atspi.Accessible.GetChildren | grep -o "':[0-9.]*'" | tr -d "'"); do
            a11y_program=$app
            for w in $(a11y_children /org/a11y/atspi/accessible/root 2>/dev/null); do
                [ "$(a11y_name "$w")" = "Quillon Sonoret 2.0" ] && a11y_window=$w && return 0
            done
        done
        sleep 0.05
    done
    return 1
}

# The accessible of the main window's control named $1.
a11y_control() {
    local c
    for c in $(a11y_children "$a11y_window"); do
        [ "$(a11y_name "$c")" = "$1" ] && echo "$c" && return 0
    done
    return 1
}

# The screen point "x y" at the middle of accessible $1.
a11y_middle() {
    a11y_call "$1" org.a11y.atspi.Component.GetExtents "uint32 0" |
        tr -d '(),' | awk '{ print $1 + int($3 / 2), $2 + int($4 / 2) }'
}

# The entries of the list named $1 ("Wave files", "Play list"), one a line.
list_entries() {
    local list c
    list=$(a11y_control "$1") || fail "no list named $1"
    for c in $(a11y_children "$list"); do a11y_name "$c"; done
}

# Waits up to 10 s until the list named $1 holds the entries $2..., in that order.
wait_entries() {
    local list=$1 want got=""
    shift
    want=$(printf '%s\n' "$@")
    for _ in $(seq 100); do
        got=$(list_entries "$list")
        [ "$got" = "$want" ] && return 0
        sleep 0.1
    done
    fail "$list holds [$(echo $got)], not [$(echo $want)]"
}

# The screen point "x y" at the middle of entry $2 of the list named $1.
entry_point() {
    local list c
    list=$(a11y_control "$1") || fail "no list named $1"
    for c in $(a11y_children "$list"); do
        [ "$(a11y_name "$c")" = "$2" ] || continue
        a11y_middle "$c"
        return 0
    done
    fail "$1 has no entry $2"
}

# The screen point of the middle of the control named $1 ("Play list", "Directories"), "x y".
control_point() {
    local control
    control=$(a11y_control "$1") || fail "no control named $1"
    a11y_middle "$control"
}

# The client area's upper-left corner of window $1: "x y".
client_origin() {
    xwininfo -id "$1" | awk '/Absolute upper-left X/ { x = $NF } /Absolute upper-left Y/ { y = $NF } END { print x, y }'
}

# A drag as a hand makes it, with real input: a press at $1,$2, a few small moves that start
# the drag, moves in steps to $3,$4 with the short pauses a hand leaves between them, and
# small moves there, so that what lies below has seen the pointer arrive and answered (another
# program answers a drag over its window by messages, and a release before its answer drops
# nothing). The button is left down: release it with `xdotool mouseup 1`.
drag_to() {
    local x=$1 y=$2 tx=$3 ty=$4 i
    xdotool mousemove "$x" "$y"
    sleep 0.05
    xdotool mousedown 1
    for i in 1 2 3 4 5 6; do
        xdotool mousemove $((x + i * 3)) $((y + i * 2))
        sleep 0.03
    done
    x=$((x + 18)) y=$((y + 12))
    for i in $(seq 1 12); do
        xdotool mousemove $((x + (tx - x) * i / 12)) $((y + (ty - y) * i / 12))
        sleep 0.03
    done
    for i in 1 0 1 0; do
        xdotool mousemove $((tx + i)) $((ty + i))
        sleep 0.05
    done
}

# Waits up to 5 s for a drag's picture to show beside the pointer: below and to the right of
# its tip.
wait_drag_picture() {
    local picture px py
    for _ in $(seq 100); do
        picture=$(xdotool search --onlyvisible --name '^Drag picture$' 2>/dev/null | head -n 1) || true
        if [ -n "$picture" ]; then
            read -r px py <<<"$(client_origin "$picture")"
            eval "$(xdotool getmouselocation --shell)"
            [ "$px" -gt "$X" ] && [ "$py" -gt "$Y" ] && [ $((px - X)) -lt 40 ] &&
                [ $((py - Y)) -lt 40 ] && return 0
        fi
        sleep 0.05
    done
    return 1
}
