#!/usr/bin/env bash
# Drives real commands through the three popup menus of the real program in a virtual X
# server, and checks the files on disk and the settings file afterwards.
set -euo pipefail
program=$1
here=$(cd "$(dirname "$0")" && pwd)
source "$here/lib.sh"

new_workspace
dest="$work/dest"
mkdir -p "$dest"
for name in a b; do
    sox -q -n -r 8000 -c 1 "$music/$name.wav" synth 0.2 sine 440
done
# The program makes its own folder current at start, and the copy dialog opens there:
# a copy of it in the destination folder lets the dialog's "&Copy" go straight there.
cp "$program" "$dest/quillon-sonoret"
ini="$home/.config/QuillonSonoret/QuillonSonoret.ini"

at() { # window-relative click: at ID X Y BUTTON
    eval "$(xdotool getwindowgeometry --shell "$1")"
    xdotool mousemove $((X + $2)) $((Y + $3))
    sleep 0.1
    xdotool click "$4"
}

wait_for_title() {
    for _ in $(seq 100); do
        xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n 1 | grep . && return 0
        sleep 0.05
    done
    return 1
}

menus_drive_commands() {
    local id
    id=$(main_window) || fail "main window did not show"
    sleep 0.3
    # File menu: "&Add to list" with a.wav selected.
    at "$id" 30 16 1
    at "$id" 30 16 3
    sleep 0.3
    xdotool key a
    sleep 0.3
    # Play-list menu: "&Copy to ...", then "&Copy" in the dialog.
    at "$id" 30 240 3
    sleep 0.3
    xdotool key c
    local dialog
    dialog=$(wait_for_title '^Copy selected file') || fail "the copy dialog did not open"
    sleep 0.3
    xdotool key --window "$dialog" alt+c
    for _ in $(seq 100); do [ -f "$dest/a.wav" ] && break; sleep 0.05; done
    [ -f "$dest/a.wav" ] || fail "a.wav was not copied through the menus"
    [ -f "$music/a.wav" ] || fail "the source of a plain copy went away"

    # File menu: "&Delete" b.wav, confirmed.
    at "$id" 30 30 1
    at "$id" 30 30 3
    sleep 0.3
    xdotool key d
    local question
    question=$(wait_for_title '^Delete$') || fail "no confirmation"
    sleep 0.2
    xdotool key Return
    for _ in $(seq 100); do [ ! -f "$music/b.wav" ] && break; sleep 0.05; done
    [ ! -f "$music/b.wav" ] || fail "b.wav was not deleted"
    ls "$home"/.local/share/Trash/files/b.wav* >/dev/null 2>&1 || fail "b.wav is not in the trash"

    # Common menu over the bare window: "Save &style" is written at once, "E&xit" ends.
    at "$id" 510 311 3
    sleep 0.3
    xdotool key s
    for _ in $(seq 100); do grep -qx 'Autosave=True' "$ini" 2>/dev/null && break; sleep 0.05; done
    grep -qx 'Autosave=True' "$ini" || fail "Save style was not written at once"
    at "$id" 510 311 3
    sleep 0.3
    xdotool key x
}

cd "$music"
run_in_x "$home" "$dest/quillon-sonoret" menus_drive_commands
grep -qx 'Buttons=True' "$ini" || fail "E&xit did not write the style: $(cat "$ini")"
grep -qx 'File2Dir=False' "$ini" || fail "E&xit did not write File2Dir"
echo "1 passed, 0 failed"
