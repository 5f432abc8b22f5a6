#!/bin/sh
# with-xvfb.sh COMMAND [ARG...]: runs COMMAND with DISPLAY on a private Xvfb server of its own,
# started on a free display number and stopped afterwards; exits with COMMAND's status.
set -u
dir=$(mktemp -d "${TMPDIR:-/tmp}/pw-xvfb-XXXXXX") || exit 1
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset 3>"$dir/display" 2>"$dir/log" &
server=$!
tries=0
while [ ! -s "$dir/display" ]; do
  if ! kill -0 "$server" 2>/dev/null || [ $tries -ge 100 ]; then
    echo "with-xvfb.sh: Xvfb did not start:" >&2
    cat "$dir/log" >&2
    kill "$server" 2>/dev/null
    rm -rf "$dir"
    exit 1
  fi
  tries=$((tries + 1))
  sleep 0.1
done
DISPLAY=":$(cat "$dir/display")"
export DISPLAY
unset WAYLAND_DISPLAY
# No accessibility bus in a bare X server: keep GTK from looking for one.
NO_AT_BRIDGE=1
export NO_AT_BRIDGE
# Nor a session bus for dconf: GTK keeps its settings in memory.
GSETTINGS_BACKEND=memory
export GSETTINGS_BACKEND
# In the background with a wait, so that a stop from outside (a ctest timeout) is heard at once and
# takes the command and the server with it.
"$@" &
command=$!
trap 'kill "$command" "$server" 2>/dev/null; rm -rf "$dir"; exit 143' TERM INT HUP
wait "$command"
status=$?
kill "$server" 2>/dev/null
wait "$server" 2>/dev/null
rm -rf "$dir"
exit $status
