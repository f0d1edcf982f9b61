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

menus_drive_commands() {
    local id
    id=$(main_window) || fail "main window did not show"
    # a.wav through the file menu onto the play list, then copied through the play list's.
    popup_at "$id" 30 16 select
    xdotool key a
    popup_at "$id" 30 240
    xdotool key c
    local dialog
    dialog=$(wait_for_window '^Copy selected file') || fail "the copy dialog did not open"
    press "$dialog" alt+c
    for _ in $(seq 200); do [ -f "$dest/a.wav" ] && break; sleep 0.05; done
    [ -f "$dest/a.wav" ] || fail "a.wav was not copied through the menus"
    [ -f "$music/a.wav" ] || fail "the source of a plain copy went away"
    wait_gone '^Copy selected file' || fail "the copy dialog stayed"

    # The main window is active again once the dialog has gone: b.wav is deleted.
    for _ in $(seq 200); do [ "$(xdotool getactivewindow 2>/dev/null)" = "$id" ] && break; sleep 0.05; done
    [ "$(xdotool getactivewindow 2>/dev/null)" = "$id" ] || fail "the main window was not active after the dialog"
    popup_at "$id" 30 30 select
    xdotool key d
    local question
    question=$(wait_for_window '^Delete$') || fail "no confirmation"
    press "$question" Return
    for _ in $(seq 200); do [ ! -f "$music/b.wav" ] && break; sleep 0.05; done
    [ ! -f "$music/b.wav" ] || fail "b.wav was not deleted"
    ls "$home"/.local/share/Trash/files/b.wav* >/dev/null 2>&1 || fail "b.wav is not in the trash"

    popup_at "$id" 510 311
    xdotool key s
    for _ in $(seq 200); do grep -qx 'Autosave=True' "$ini" 2>/dev/null && break; sleep 0.05; done
    grep -qx 'Autosave=True' "$ini" || fail "Save style was not written at once"
    popup_at "$id" 510 311
    xdotool key x
}

cd "$music"
run_in_x "$home" "$dest/quillon-sonoret" menus_drive_commands
grep -qx 'Buttons=True' "$ini" || fail "E&xit did not write the style: $(cat "$ini")"
grep -qx 'File2Dir=False' "$ini" || fail "E&xit did not write File2Dir"
echo "1 passed, 0 failed"
