#!/usr/bin/env bash
# Presses the viewer's keys on a real (virtual) X display and looks at the screen.
#
#   e2e_keys.sh keys VIEWER MAKE_DEMO CHECKER WORKDIR
#       zoom keys on the four-quadrant plane (the quadrants grow and shrink by powers of two), then the
#       Page keys on the demo stack (each moves to another plane, the way back restores the picture),
#       then channel colours (coloured pixels appear, and go again).
#   e2e_keys.sh colours VIEWER MAKE_DEMO CHECKER WORKDIR PNG
#       saves a picture of the window with the demo stack in channel colours, zoomed in, with the value
#       under the cursor in the status bar.
#
# Exits 77 (skipped) only when no X server can be started.
set -u

mode=$1 viewer=${KORVANE_VIEWER:-$2} make_demo=$3 checker=$4 work=$5
out=${6:-$work/colours.png}
skip=77
xvfb_args="-screen 0 1280x1024x24 -nolisten tcp"

if [ "${KORVANE_E2E_INSIDE:-}" != 1 ]; then
    if ! command -v xvfb-run >/dev/null || ! command -v Xvfb >/dev/null; then
        echo "SKIPPED: xvfb-run/Xvfb is not installed, so no X server can be started"
        exit $skip
    fi
    for tool in xwininfo import compare xdotool; do
        command -v "$tool" >/dev/null || { echo "FAILED: $tool is missing (x11-utils, imagemagick, xdotool)"; exit 1; }
    done
    mkdir -p "$work"
    if ! xvfb-run -a -s "$xvfb_args" true >"$work/xvfb-probe.log" 2>&1; then
        echo "SKIPPED: no X server could be started:"
        cat "$work/xvfb-probe.log"
        exit $skip
    fi
    # A random first display number keeps clear of other Xvfb servers started at the same moment.
    KORVANE_E2E_INSIDE=1 exec xvfb-run -a -n $((100 + RANDOM % 800)) -s "$xvfb_args" bash "$0" "$mode" "$viewer" "$make_demo" "$checker" "$work" "$out"
fi

# --- on the virtual display ---------------------------------------------------------------------
export QT_QPA_PLATFORM=xcb
viewer_pid=
cleanup() { [ -n "$viewer_pid" ] && kill "$viewer_pid" 2>/dev/null; wait 2>/dev/null; }
trap cleanup EXIT
fail() { echo "FAILED: $*"; [ -f "$work/viewer.log" ] && cat "$work/viewer.log"; exit 1; }

# Starts the viewer on a stack and gives its window the keyboard.
start() {
    cleanup
    "$viewer" "$1" >"$work/viewer.log" 2>&1 &
    viewer_pid=$!
    window=
    for _ in $(seq 1 200); do
        window=$(xdotool search --name '^KorvaneViewer$' 2>/dev/null | head -1)
        [ -n "$window" ] && break
        sleep 0.1
    done
    [ -n "$window" ] || fail "no window titled KorvaneViewer appeared"
    sleep 1
    xdotool windowfocus --sync "$window" || fail "cannot focus the window"
    info=$(xwininfo -id "$window")
    geometry="$(awk '/Width:/ {print $2}' <<<"$info")x$(awk '/Height:/ {print $2}' <<<"$info")+$(awk '/Absolute upper-left X/ {print $4}' <<<"$info")+$(awk '/Absolute upper-left Y/ {print $4}' <<<"$info")"
}

shoot() { import -window root -crop "$geometry" +repage "$1" 2>/dev/null; }

# Width of the top left quadrant's solid interior once the quadrants are on screen, or nothing.
quadrant_width() {
    shoot "$work/q.png" && "$checker" quadrants "$work/q.png" >"$work/check.log" &&
        sed -n 's/^grey  23: [0-9]* interior pixels in \([0-9]*\)x.*/\1/p' "$work/check.log"
}

# Presses keys, then waits until the top left quadrant is about $2 pixels wide.
expect_width() {
    [ -n "$1" ] && xdotool key --clearmodifiers $1
    for _ in $(seq 1 50); do
        w=$(quadrant_width)
        [ -n "$w" ] && [ "$w" -ge $(($2 - 4)) ] && [ "$w" -le $(($2 + 4)) ] && { echo "after $1: quadrant $w wide"; return; }
        sleep 0.1
    done
    fail "after '$1' the quadrant is '${w:-not found}' wide, expected about $2"
}

# Pixels that differ between two shots of the image area.
differing() { compare -metric AE "$1" "$2" null: 2>&1 | cut -d' ' -f1; }

# Mean saturation of a shot: 0 for a grey picture.
saturation() { convert "$1" -colorspace HSL -channel G -separate +channel -format '%[fx:mean]' info:; }

# Presses keys, lets the picture settle and shoots it.
press_and_shoot() {
    xdotool key --clearmodifiers $1
    sleep 0.7
    shoot "$2"
}

case $mode in
keys)
    "$make_demo" --quadrants "$work/quadrants.lsm" || exit 1
    start "$work/quadrants.lsm"
    expect_width "" 46
    expect_width "ctrl+plus ctrl+equal" 190
    expect_width "ctrl+minus" 94
    expect_width "ctrl+1" 46
    expect_width "ctrl+0" 190  # fit: 384 x 256 fits the image area, 768 x 512 does not

    "$make_demo" "$work/demo.lsm" || exit 1
    start "$work/demo.lsm"
    sleep 1
    shoot "$work/plane0.png"
    for keys in "Next" "shift+Next" "ctrl+Next"; do
        back=${keys/Next/Prior}
        press_and_shoot "$keys" "$work/moved.png"
        [ "$(differing "$work/plane0.png" "$work/moved.png")" -gt 1000 ] || fail "'$keys' did not change the picture"
        press_and_shoot "$back" "$work/back.png"
        # The memory and time read-outs may change; the picture must not.
        [ "$(differing "$work/plane0.png" "$work/back.png")" -lt 400 ] || fail "'$back' did not bring the first plane back"
        echo "'$keys' and '$back' move and come back"
    done
    press_and_shoot "ctrl+shift+c" "$work/colours.png"
    s0=$(saturation "$work/plane0.png") s=$(saturation "$work/colours.png")
    echo "mean saturation of the window: $s0 in grey, $s with channel colours"
    awk -v s="$s" -v s0="$s0" 'BEGIN { exit !(s > s0 + 0.005) }' || fail "channel colours show no colour"
    press_and_shoot "ctrl+shift+c" "$work/grey.png"
    [ "$(differing "$work/plane0.png" "$work/grey.png")" -lt 400 ] || fail "switching colours off did not return to grey"
    ;;
colours)
    "$make_demo" "$work/demo.lsm" || exit 1
    start "$work/demo.lsm"
    xdotool key --clearmodifiers ctrl+shift+c ctrl+plus
    # The cursor on a cell, so that the status bar shows its value.
    xdotool mousemove --window "$window" 520 330
    sleep 2
    mkdir -p "$(dirname "$out")"
    shoot "$out" || exit 1
    echo "window picture written to $out"
    ;;
*) echo "unknown mode $mode"; exit 2 ;;
esac
echo "PASSED: $mode"
exit 0
