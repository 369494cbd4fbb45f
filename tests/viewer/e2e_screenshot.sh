#!/usr/bin/env bash
# Runs the real viewer on a real (virtual) X display and looks at the screen.
#
#   e2e_screenshot.sh quadrants VIEWER MAKE_DEMO CHECKER WORKDIR
#       opens a plane of four solid grey quadrants given on the command line and checks that a
#       window titled KorvaneViewer shows the four greys as four solid regions in their places.
#   e2e_screenshot.sh demo VIEWER MAKE_DEMO CHECKER WORKDIR [PNG]
#       opens the demo stack and saves a picture of the window (to PNG, default WORKDIR/window.png).
#
# $KORVANE_VIEWER, when set, replaces VIEWER (to test an installed copy). Exits 77 (skipped) only
# when no X server can be started.
set -u

mode=$1 viewer=${KORVANE_VIEWER:-$2} make_demo=$3 checker=$4 work=$5
out=${6:-$work/window.png}
skip=77

if [ "${KORVANE_E2E_INSIDE:-}" != 1 ]; then
    if ! command -v xvfb-run >/dev/null || ! command -v Xvfb >/dev/null; then
        echo "SKIPPED: xvfb-run/Xvfb is not installed, so no X server can be started"
        exit $skip
    fi
    for tool in xwininfo import; do
        command -v "$tool" >/dev/null || { echo "FAILED: $tool is missing (packages x11-utils, imagemagick)"; exit 1; }
    done
    mkdir -p "$work"
    if ! xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" true >"$work/xvfb-probe.log" 2>&1; then
        echo "SKIPPED: no X server could be started:"
        cat "$work/xvfb-probe.log"
        exit $skip
    fi
    KORVANE_E2E_INSIDE=1 exec xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" \
        bash "$0" "$mode" "$viewer" "$make_demo" "$checker" "$work" "$out"
fi

# --- on the virtual display ---------------------------------------------------------------------
export QT_QPA_PLATFORM=xcb  # the test runner may have set offscreen
viewer_pid=
cleanup() { [ -n "$viewer_pid" ] && kill "$viewer_pid" 2>/dev/null; wait 2>/dev/null; }
trap cleanup EXIT

case $mode in
quadrants) stack=$work/quadrants.lsm; "$make_demo" --quadrants "$stack" || exit 1 ;;
demo) stack=$work/demo.lsm; "$make_demo" "$stack" || exit 1 ;;
*) echo "unknown mode $mode"; exit 2 ;;
esac

"$viewer" "$stack" >"$work/viewer-$mode.log" 2>&1 &
viewer_pid=$!

# Wait for the window to be mapped (at most 20 s).
found=
for _ in $(seq 1 200); do
    if xwininfo -root -tree 2>/dev/null | grep -q '"KorvaneViewer": ("KorvaneViewer"'; then found=1; break; fi
    kill -0 "$viewer_pid" 2>/dev/null || break
    sleep 0.1
done
if [ -z "$found" ]; then
    echo "FAILED: no window titled KorvaneViewer appeared"
    xwininfo -root -tree 2>/dev/null | head -20
    cat "$work/viewer-$mode.log"
    exit 1
fi
xwininfo -root -tree | grep '"KorvaneViewer": ("KorvaneViewer"'

# Then poll the screen until the plane is drawn (at most 20 s).
shot=$work/screen-$mode.png
check=picture
[ "$mode" = quadrants ] && check=quadrants
ok=
for _ in $(seq 1 100); do
    import -window root "$shot" 2>/dev/null && "$checker" "$check" "$shot" >"$work/check-$mode.log" && { ok=1; break; }
    kill -0 "$viewer_pid" 2>/dev/null || break
    sleep 0.2
done
cat "$work/check-$mode.log"
if [ -z "$ok" ]; then
    echo "FAILED: the plane is not on the screen (last screenshot: $shot)"
    cat "$work/viewer-$mode.log"
    exit 1
fi

if [ "$mode" = demo ]; then
    # The README's picture shows the Display panel beside the image.
    if [ "$out" != "$work/window.png" ] && command -v xdotool >/dev/null; then
        xdotool search --name '^KorvaneViewer$' windowfocus --sync key --clearmodifiers ctrl+shift+d
    fi
    # The picture is there; give the once-a-second memory read-out time for its first reading.
    sleep 1.5
    # The window alone, as placed on the display.
    info=$(xwininfo -name KorvaneViewer)
    x=$(awk '/Absolute upper-left X/ {print $4}' <<<"$info")
    y=$(awk '/Absolute upper-left Y/ {print $4}' <<<"$info")
    w=$(awk '/Width:/ {print $2}' <<<"$info")
    h=$(awk '/Height:/ {print $2}' <<<"$info")
    mkdir -p "$(dirname "$out")"
    import -window root -crop "${w}x${h}+${x}+${y}" +repage "$out" || exit 1
    echo "window picture written to $out"
fi
echo "PASSED: $mode"
exit 0
