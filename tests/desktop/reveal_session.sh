#!/bin/bash
# reveal_session.sh service|slow|crash|late_crash|fallback STAND_IN COMMAND...: run under dbus-run-session. COMMAND
# gets mode=, log= and dir= arguments and runs in dir.
# - service: the stand-in file manager owns org.freedesktop.FileManager1 and logs its calls.
# - slow: the same, but the stand-in answers each call only after 30 s.
# - crash: the stand-in logs its first call and leaves the bus without answering; the folder's
#   default handler is the recorder script of fallback.
# - late_crash: as crash, but the stand-in leaves 800 ms after taking the call (a slow answer
#   until then).
# - fallback: no file manager on the bus; the default handler of folders is a recorder script,
#   found through private XDG folders, that logs the URI it was started with.
set -u
mode=$1
stand_in=$2
shift 2
work=$(mktemp -d)
pid=""
cleanup() {
  [ -n "$pid" ] && kill "$pid" 2>/dev/null
  wait 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
log=$work/calls.log
mkdir -p "$work/files" "$work/data/applications" "$work/config" "$work/system-data"
export XDG_DATA_HOME=$work/data XDG_CONFIG_HOME=$work/config XDG_DATA_DIRS=$work/system-data

if [ "$mode" != fallback ]; then
  delay=0
  [ "$mode" = slow ] && delay=30000
  [ "$mode" = crash ] && delay=leave
  [ "$mode" = late_crash ] && delay=leave:800
  "$stand_in" "$log" "$delay" >"$work/stand-in.out" &
  pid=$!
  for _ in $(seq 400); do grep -q ready "$work/stand-in.out" 2>/dev/null && break; sleep 0.05; done
fi
if [ "$mode" = fallback ] || [ "$mode" = crash ] || [ "$mode" = late_crash ]; then
  cat >"$work/record-open.sh" <<SCRIPT
#!/bin/sh
printf '%s\n' "\$1" >>"$log"
SCRIPT
  chmod +x "$work/record-open.sh"
  cat >"$work/data/applications/folder-recorder.desktop" <<DESKTOP
[Desktop Entry]
Type=Application
Name=Folder recorder
Exec=$work/record-open.sh %u
MimeType=inode/directory;
DESKTOP
  printf '[Default Applications]\ninode/directory=folder-recorder.desktop\n' >"$work/config/mimeapps.list"
fi

cd "$work/files" && "$@" mode="$mode" log="$log" dir="$work/files"
