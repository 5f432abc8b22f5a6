#!/bin/bash
# Runs a command on a private X server with a window manager and two monitors side by side:
# LEFT 1200x1080+0+0 and the primary, RIGHT 720x1080+1200+0, so the primary is not the leftmost.
# The monitors are made before the window manager starts, which reads them once.
set -u
work=$(mktemp -d)
xvfb=""
wm=""
cleanup() {
  [ -n "$wm" ] && kill "$wm" 2>/dev/null
  [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null
  wait 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

# -displayfd: the server picks a free display and writes its number once it accepts clients.
Xvfb -displayfd 3 -noreset -screen 0 1920x1080x24 -nolisten tcp 3>"$work/display" >"$work/xvfb.log" 2>&1 &
xvfb=$!
for _ in $(seq 400); do [ -s "$work/display" ] && break; sleep 0.05; done
if [ ! -s "$work/display" ]; then echo "FAIL Xvfb did not start:"; cat "$work/xvfb.log"; exit 1; fi
export DISPLAY=":$(head -n1 "$work/display")"

xrandr --setmonitor LEFT 1200/320x1080/290+0+0 none >/dev/null
xrandr --setmonitor '*RIGHT' 720/190x1080/290+1200+0 screen >/dev/null
xrandr --listmonitors

openbox --sm-disable >"$work/openbox.log" 2>&1 &
wm=$!
for _ in $(seq 400); do
  xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break
  sleep 0.05
done

"$@"
