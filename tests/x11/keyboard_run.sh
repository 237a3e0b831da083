#!/bin/bash
# The window on a real X server, driven by the keyboard alone: `pikora --compress DIR`, then
# Ctrl+Return converts DIR; a second `pikora --compress DIR2` hands DIR2 to the first window
# and exits 0. Runs on its own Xvfb display and its own session bus, in a throw-away home.
# Usage: keyboard_run.sh PIKORA DATA_DIR. Exit 77 (skipped) only when Xvfb is missing.
set -u

pikora=$1
data=$2

if [ -z "${PIKORA_X11_INNER:-}" ]; then
    if ! command -v Xvfb >/dev/null; then
        echo "Xvfb is not installed: skipped"
        exit 77
    fi
    for tool in openbox xdotool dbus-run-session; do
        command -v "$tool" >/dev/null || { echo "FAIL: $tool is not installed"; exit 1; }
    done

    work=$(mktemp -d)
    xvfb_pid=
    cleanup() {
        [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
        rm -rf "$work"
    }
    trap cleanup EXIT

    display=
    for n in $(seq 91 140); do
        if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then
            display=$n
            break
        fi
    done
    [ -n "$display" ] || { echo "FAIL: no free X display number"; exit 1; }
    Xvfb ":$display" -screen 0 1280x800x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
    xvfb_pid=$!
    for _ in $(seq 50); do
        [ -e "/tmp/.X11-unix/X$display" ] && break
        sleep 0.1
    done
    [ -e "/tmp/.X11-unix/X$display" ] || { echo "FAIL: Xvfb did not start"; cat "$work/xvfb.log"; exit 1; }

    export DISPLAY=":$display" QT_QPA_PLATFORM=xcb PIKORA_X11_INNER=1 PIKORA_X11_WORK="$work"
    export HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" XDG_DATA_HOME="$work/home/.local/share"
    export XDG_CACHE_HOME="$work/home/.cache" XDG_RUNTIME_DIR="$work/runtime"
    mkdir -p "$XDG_CONFIG_HOME" "$XDG_DATA_HOME" "$XDG_CACHE_HOME" "$XDG_RUNTIME_DIR"
    chmod 700 "$XDG_RUNTIME_DIR"
    # No update check from a test.
    mkdir -p "$XDG_CONFIG_HOME/pikora"
    dbus-run-session -- "$0" "$@"
    exit $?
fi

# ---- inside the private session bus and display
work=$PIKORA_X11_WORK
dir="$work/photos one"
dir2="$work/photos two"
mkdir -p "$dir" "$dir2"
cp "$data/jpeg/cameras/Canon_40D.jpg" "$dir/a.jpg"
cp "$data/jpeg/cameras/Canon_40D_photoshop_import.jpg" "$dir/b.jpg"
cp "$data/jpeg/cameras/Canon_40D.jpg" "$dir2/c.jpg"

openbox >"$work/openbox.log" 2>&1 &
openbox_pid=$!
# A window mapped while the window manager is still starting can stay unmapped for good: wait
# until it announces itself on the root window.
for _ in $(seq 100); do
    xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break
    sleep 0.1
done
first_pid=
finish() {
    [ -n "$first_pid" ] && kill "$first_pid" 2>/dev/null
    kill "$openbox_pid" 2>/dev/null
}
trap finish EXIT

fail() {
    echo "FAIL: $*"
    echo "--- pikora output"; cat "$work/first.log" 2>/dev/null
    exit 1
}

converted() { # all JPEGs of folder $1 have their .jxl
    for photo in "$1"/*.jpg; do
        [ -s "${photo%.jpg}.jxl" ] || return 1
    done
}

press_until_converted() { # Ctrl+Return until folder $1 is converted; pressing mid-batch does nothing
    for _ in $(seq 90); do
        xdotool windowactivate --sync "$window" >/dev/null 2>&1
        xdotool key --clearmodifiers ctrl+Return
        sleep 1
        converted "$1" && return 0
    done
    return 1
}

"$pikora" --compress "$dir" >"$work/first.log" 2>&1 &
first_pid=$!

window=
for _ in $(seq 300); do # up to a minute on a loaded machine
    window=$(xdotool search --onlyvisible --name '^Pikora$' 2>/dev/null | head -n 1)
    [ -n "$window" ] && break
    kill -0 "$first_pid" 2>/dev/null || fail "pikora exited before showing its window"
    sleep 0.2
done
[ -n "$window" ] || fail "no window titled Pikora appeared"

press_until_converted "$dir" || fail "Ctrl+Return did not convert $dir"
echo "ok: Ctrl+Return converted the launch folder"

# A second launch hands its folder over and is gone at once.
(cd "$work" && timeout 20 "$pikora" --compress "photos two" >"$work/second.log" 2>&1)
status=$?
[ "$status" -eq 0 ] || { cat "$work/second.log"; fail "the second launch exited with $status"; }
kill -0 "$first_pid" 2>/dev/null || fail "the first window went away"
[ "$(xdotool search --onlyvisible --name '^Pikora$' 2>/dev/null | wc -l)" -eq 1 ] || fail "a second window appeared"
echo "ok: the second launch handed over and exited 0"

press_until_converted "$dir2" || fail "the handed-over folder was not imported into the first window"
echo "ok: the first window converted the handed-over folder"

xdotool windowactivate --sync "$window" >/dev/null 2>&1
xdotool key --clearmodifiers ctrl+q
for _ in $(seq 50); do
    kill -0 "$first_pid" 2>/dev/null || break
    sleep 0.2
done
kill -0 "$first_pid" 2>/dev/null && fail "Ctrl+Q did not quit"
wait "$first_pid"
status=$?
first_pid=
[ "$status" -eq 0 ] || fail "pikora exited with $status"
echo "ok: Ctrl+Q quit"
