#!/bin/bash
# The window on a real X server, driven by the keyboard alone: `pikora --compress DIR`, then
# Ctrl+Return converts DIR; the open dialogs, opened by Ctrl+Alt+O, Ctrl+O and the menus'
# mnemonics (Alt+F), import the folder or the photos typed into them; a second
# `pikora --compress DIR2` hands DIR2 to the first window and exits 0; Ctrl+Q quits. (The English
# dialogs and menus: ui_window.) Runs on its own Xvfb display and session bus, in a throw-away home.
# Usage: keyboard_run.sh PIKORA DATA_DIR. Exit 77 (skipped) only when Xvfb is missing.
set -u
pikora=$1
data=$2

retry() { # runs "$@" every 0.2 s, up to $tries times, until it succeeds
    for _ in $(seq "$tries"); do "$@" && return 0; sleep 0.2; done
    return 1
}

if [ -z "${PIKORA_X11_INNER:-}" ]; then
    command -v Xvfb >/dev/null || { echo "Xvfb is not installed: skipped"; exit 77; }
    for tool in openbox xdotool xprop dbus-run-session; do
        command -v "$tool" >/dev/null || { echo "FAIL: $tool is not installed"; exit 1; }
    done
    work=$(mktemp -d)
    xvfb_pid=
    trap '[ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null; rm -rf "$work"' EXIT
    for n in $(seq 91 140); do
        [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ] && { display=$n; break; }
    done
    [ -n "${display:-}" ] || { echo "FAIL: no free X display number"; exit 1; }
    # -noreset: by default the server starts over when its last client leaves (here the check
    # below), and a client that comes meanwhile is turned away.
    Xvfb ":$display" -screen 0 1280x800x24 -nolisten tcp -noreset >"$work/xvfb.log" 2>&1 &
    xvfb_pid=$!
    # Ready when a client gets in: its socket is there a moment before it listens, and a client
    # refused then (openbox) fails for good.
    tries=150 retry xprop -display ":$display" -root _NET_SUPPORTED >/dev/null 2>&1 ||
        { echo "FAIL: Xvfb did not start"; cat "$work/xvfb.log"; exit 1; }
    export DISPLAY=":$display" QT_QPA_PLATFORM=xcb PIKORA_X11_INNER=1 PIKORA_X11_WORK="$work" HOME="$work/home"
    export XDG_CONFIG_HOME="$HOME/.config" XDG_DATA_HOME="$HOME/.local/share" XDG_CACHE_HOME="$HOME/.cache"
    export XDG_RUNTIME_DIR="$work/runtime"
    mkdir -p "$XDG_CONFIG_HOME/pikora" "$XDG_DATA_HOME" "$XDG_CACHE_HOME" "$XDG_RUNTIME_DIR"
    chmod 700 "$XDG_RUNTIME_DIR"
    dbus-run-session -- "$0" "$@"
    exit $?
fi

# ---- inside the private session bus and display
work=$PIKORA_X11_WORK
photo() { mkdir -p "$(dirname "$2")" && cp "$data/jpeg/cameras/$1" "$2"; } # sample $1 copied to $2
photo Canon_40D.jpg "$work/photos one/a.jpg"
photo Canon_40D_photoshop_import.jpg "$work/photos one/b.jpg"
photo Canon_40D.jpg "$work/photos two/c.jpg"
photo Canon_40D.jpg "$work/folder/a.jpg"
photo Canon_40D_photoshop_import.jpg "$work/folder/b.jpg"
for name in a b c; do photo Kodak_CX7530.jpg "$work/photos/$name.jpg"; done
photo Fujifilm_FinePix6900ZOOM.jpg "$work/menu/a.jpg"

openbox >"$work/openbox.log" 2>&1 &
openbox_pid=$!
# A window mapped while the window manager is still starting can stay unmapped for good: wait
# until it announces itself on the root window.
wm_ready() { xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; }
tries=300 retry wm_ready || { cat "$work/openbox.log"; echo "FAIL: openbox did not start"; exit 1; }
first_pid=
trap '[ -n "$first_pid" ] && kill "$first_pid" 2>/dev/null; kill "$openbox_pid" 2>/dev/null' EXIT

fail() {
    echo "FAIL: $*"
    echo "--- pikora output"; cat "$work/first.log" 2>/dev/null
    exit 1
}
alive() { kill -0 "$first_pid" 2>/dev/null; }
gone() { ! alive; }
windows() { xdotool search --onlyvisible --pid "$first_pid" 2>/dev/null | wc -l; } # ours mapped: window, dialog, menu
more_windows() { [ "$(windows)" -gt "$before" ]; }
no_window_titled() { ! xdotool search --onlyvisible --name "^$1\$" >/dev/null 2>&1; }
key() { xdotool windowactivate --sync "$window" >/dev/null 2>&1; xdotool key --clearmodifiers "$1"; }

converted() { # every photo named has its .jxl; a folder stands for all its JPEGs
    for item in "$@"; do
        if [ -d "$item" ]; then converted "$item"/*.jpg || return 1; else [ -s "${item%.jpg}.jxl" ] || return 1; fi
    done
}

press_until_converted() { # Ctrl+Return until the photos named are converted; pressing mid-batch does nothing
    for _ in $(seq 90); do
        key ctrl+Return
        sleep 1
        converted "$@" && return 0
    done
    return 1
}

pikora_window() {
    window=$(xdotool search --onlyvisible --name '^Pikora$' 2>/dev/null | head -n 1)
    [ -n "$window" ] || { alive || fail "pikora exited before showing its window"; return 1; }
}

start_window() { # starts pikora with the arguments given and waits (up to a minute) for its window
    "$pikora" "$@" >"$work/first.log" 2>&1 &
    first_pid=$!
    tries=300 retry pikora_window || fail "no window titled Pikora appeared"
}

quit_window() { # Ctrl+Q, which quits at once while no batch runs
    key ctrl+q
    tries=300 retry gone || fail "Ctrl+Q did not quit"
    wait "$first_pid" || fail "pikora exited with $?"
    first_pid=
}

type_and_enter() { # types $1 into dialog $2 (its name field has the focus), then Enter
    xdotool windowactivate --sync "$2" >/dev/null 2>&1
    xdotool type --delay 20 "$1"
    xdotool key Return
}

# In the dialog titled $2, opened by the keys $1 (space-separated, pressed in turn; each but the
# last must open a menu first), chooses the folder $3 or, with more arguments, the photos named
# after it in folder $3 (a folder typed into the photo dialog opens).
choose() {
    keys=$1 title=$2 folder=$3
    shift 3
    for k in $keys; do
        before=$(windows)
        key "$k"
        [ "$k" = "${keys##* }" ] || tries=150 retry more_windows || fail "$k opened no menu"
    done
    dialog=$(timeout 30 xdotool search --sync --onlyvisible --name "^$title\$" 2>/dev/null | head -n 1)
    [ -n "$dialog" ] || fail "$keys did not open the dialog \"$title\""
    type_and_enter "$folder" "$dialog"
    if [ $# -gt 0 ]; then
        names=
        for name in "$@"; do names="$names\"$name\" "; done
        type_and_enter "$names" "$dialog"
    fi
    tries=150 retry no_window_titled "$title" || fail "the dialog \"$title\" did not close on Enter"
}

start_window --compress "$work/photos one"
press_until_converted "$work/photos one" || fail "Ctrl+Return did not convert the launch folder"
echo "ok: Ctrl+Return converted the launch folder"
# The three ways to the dialogs.
choose ctrl+alt+o '选择文件夹…' "$work/folder"
press_until_converted "$work/folder" || fail "Ctrl+Alt+O imported nothing"
choose ctrl+o '选择照片…' "$work/photos" a.jpg c.jpg
press_until_converted "$work/photos/"{a,c}.jpg || fail "Ctrl+O imported nothing"
choose "alt+f i" '选择照片…' "$work/menu" a.jpg # 导入照片(&I)…
press_until_converted "$work/menu/a.jpg" || fail "Alt+F, I imported nothing"
echo "ok: Ctrl+Alt+O, Ctrl+O and Alt+F, I, the folder or photos typed, Enter: converted"

# A second launch hands its folder over and is gone at once.
(cd "$work" && timeout 60 "$pikora" --compress "photos two" >"$work/second.log" 2>&1) ||
    { status=$?; cat "$work/second.log"; fail "the second launch exited with $status"; }
alive || fail "the first window went away"
[ "$(xdotool search --onlyvisible --name '^Pikora$' 2>/dev/null | wc -l)" -eq 1 ] || fail "a second window appeared"
press_until_converted "$work/photos two" || fail "the handed-over folder was not imported into the first window"
echo "ok: the second launch handed over and exited 0; the first window converted its folder"
quit_window # every batch has ended: Ctrl+Q would have asked otherwise
[ ! -e "$work/photos/b.jxl" ] || fail "a photo that was not chosen was converted"
echo "ok: Ctrl+Q quit"
