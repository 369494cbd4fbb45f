#!/usr/bin/env bash
# Presses the viewer's keys on a real (virtual) X display and looks at the screen.
#   e2e_keys.sh keys VIEWER MAKE_DEMO CHECKER WORKDIR
#       zoom keys on the quadrant plane (the quadrants grow and shrink by powers of two); Page keys on
#       the demo stack (each changes the picture, the way back restores it); channel colours on and off.
#   e2e_keys.sh colours VIEWER MAKE_DEMO CHECKER WORKDIR PNG
#       saves the window with the demo stack in channel colours, zoomed in, the cursor on a cell.
#   e2e_keys.sh stackviews VIEWER MAKE_DEMO CHECKER WORKDIR
#       orthogonal views and a z projection on the demo stack come with their keys and go with Esc and
#       Page Down.
#   e2e_keys.sh orthogonal VIEWER MAKE_DEMO CHECKER WORKDIR PNG
#       saves the window with the demo stack's orthogonal views in channel colours, fitted, crossing a cell.
# Exits 77 (skipped) only when no X server can be started.
set -u
mode=$1 viewer=${KORVANE_VIEWER:-$2} make_demo=$3 checker=$4 work=$5 out=${6:-$5/colours.png}
xvfb=(xvfb-run -a -n $((100 + RANDOM % 800)) -s "-screen 0 1280x1024x24 -nolisten tcp")  # clear of other servers

if [ "${KORVANE_E2E_INSIDE:-}" != 1 ]; then
    command -v Xvfb >/dev/null || { echo "SKIPPED: Xvfb is not installed"; exit 77; }
    for t in xwininfo import compare xdotool; do command -v $t >/dev/null || { echo "FAILED: no $t"; exit 1; }; done
    mkdir -p "$work"
    "${xvfb[@]}" true >"$work/xvfb-probe.log" 2>&1 || { echo "SKIPPED: no X server:"; cat "$work/xvfb-probe.log"; exit 77; }
    KORVANE_E2E_INSIDE=1 exec "${xvfb[@]}" bash "$0" "$mode" "$viewer" "$make_demo" "$checker" "$work" "$out"
fi

export QT_QPA_PLATFORM=xcb
pid=
stop() { [ -n "$pid" ] && kill $pid 2>/dev/null; wait 2>/dev/null; }
trap stop EXIT
fail() { echo "FAILED: $*"; cat "$work/viewer.log"; exit 1; }

start() {  # the viewer on a stack, its window with the keyboard
    stop
    "$viewer" "$1" >"$work/viewer.log" 2>&1 &
    pid=$!
    window=$(timeout 20 xdotool search --sync --name '^KorvaneViewer$' | head -1) && sleep 1 &&
        xdotool windowfocus --sync $window || fail "no window titled KorvaneViewer to focus"
    geometry=$(xwininfo -id $window | awk '/Absolute upper-left X/ {x=$4} /Absolute upper-left Y/ {y=$4}
        /Width:/ {w=$2} /Height:/ {h=$2} END {print w "x" h "+" x "+" y}')
}
shoot() { import -window root -crop $geometry +repage "$1" 2>/dev/null; }
press() { xdotool key --clearmodifiers $1; sleep 0.7; shoot "$2"; }
differing() { compare -metric AE "$1" "$2" null: 2>&1 | cut -d' ' -f1; }
saturation() { convert "$1" -colorspace HSL -channel G -separate +channel -format '%[fx:mean]' info:; }

expect_width() {  # presses keys, then waits for the top left quadrant to be about $2 pixels wide
    [ -n "$1" ] && xdotool key --clearmodifiers $1
    for _ in $(seq 1 50); do
        shoot "$work/q.png" && "$checker" quadrants "$work/q.png" >"$work/check.log" &&
            w=$(sed -n 's/^grey  23: [0-9]* interior pixels in \([0-9]*\)x.*/\1/p' "$work/check.log") &&
            [ $((w - $2)) -le 4 ] && [ $(($2 - w)) -le 4 ] && { echo "after '$1': quadrant $w wide"; return; }
        sleep 0.1
    done
    fail "after '$1' the quadrant is not about $2 wide"
}

"$make_demo" "$work/demo.lsm" || exit 1
case $mode in
keys)
    "$make_demo" --quadrants "$work/quadrants.lsm" || exit 1
    start "$work/quadrants.lsm"
    expect_width "" 46
    expect_width "ctrl+plus ctrl+equal" 190
    expect_width "ctrl+minus" 94
    expect_width "ctrl+1" 46
    expect_width "ctrl+0" 315  # fits the height exactly: zoom 6.6

    start "$work/demo.lsm"
    shoot "$work/plane0.png"
    for keys in Next shift+Next ctrl+Next; do
        press $keys "$work/moved.png"
        [ "$(differing "$work/plane0.png" "$work/moved.png")" -gt 1000 ] || fail "'$keys' did not change the picture"
        press ${keys/Next/Prior} "$work/back.png"  # only the memory and time read-outs may differ
        [ "$(differing "$work/plane0.png" "$work/back.png")" -lt 400 ] || fail "'${keys/Next/Prior}' did not come back"
        echo "'$keys' and back"
    done
    press ctrl+shift+c "$work/colours.png"
    s0=$(saturation "$work/plane0.png") s=$(saturation "$work/colours.png")
    echo "mean saturation: $s0 in grey, $s in channel colours"
    awk -v s=$s -v s0=$s0 'BEGIN { exit !(s > s0 + 0.005) }' || fail "channel colours show no colour"
    press ctrl+shift+c "$work/grey.png"
    [ "$(differing "$work/plane0.png" "$work/grey.png")" -lt 400 ] || fail "switching colours off did not return to grey"
    ;;
colours)
    start "$work/demo.lsm"
    xdotool key --clearmodifiers ctrl+shift+c ctrl+plus ctrl+shift+d ctrl+shift+b &&
        xdotool mousemove --window $window 420 330
    sleep 2
    mkdir -p "$(dirname "$out")" && shoot "$out" && echo "window picture written to $out" || exit 1
    ;;
stackviews)
    start "$work/demo.lsm"
    shoot "$work/plane0.png"
    press ctrl+shift+o "$work/ortho.png"
    [ "$(differing "$work/plane0.png" "$work/ortho.png")" -gt 1000 ] || fail "Ctrl+Shift+O showed no side views"
    press Escape "$work/back.png"
    [ "$(differing "$work/plane0.png" "$work/back.png")" -lt 400 ] || fail "Esc did not leave the orthogonal views"
    xdotool key --clearmodifiers ctrl+shift+p && sleep 0.7 && press Return "$work/projection.png"
    [ "$(differing "$work/plane0.png" "$work/projection.png")" -gt 1000 ] || fail "the projection shows the plane"
    press Next "$work/next.png"
    press Prior "$work/plane.png"
    [ "$(differing "$work/plane0.png" "$work/plane.png")" -lt 400 ] || fail "moving z did not leave the projection"
    echo "orthogonal views, projection and back"
    ;;
orthogonal)
    start "$work/demo.lsm"
    xdotool key --clearmodifiers ctrl+shift+c ctrl+shift+o && sleep 1 && xdotool key --clearmodifiers ctrl+0 &&
        sleep 0.5 && xdotool mousemove --window $window 516 320 click 1 && sleep 1.5
    mkdir -p "$(dirname "$out")" && shoot "$out" && echo "window picture written to $out" || exit 1
    ;;
*) echo "unknown mode $mode"; exit 2 ;;
esac
echo "PASSED: $mode"
