#!/bin/bash
# user_name_session.sh NSS_WRAPPER LOGIN GECOS EXPECTED COMMAND...: runs COMMAND with a password
# database of one entry for the current user (nss_wrapper), LOGIN and GECOS given as printf
# formats, and appends expect=<hex of the UTF-8 bytes of EXPECTED (a printf format)>.
set -u
wrapper=$1
login=$2
gecos=$3
expected=$4
shift 4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
{ printf "$login"; printf ':x:%d:%d:' "$(id -u)" "$(id -g)"; printf "$gecos"; printf ':%s:/bin/sh\n' "$work"; } >"$work/passwd"
printf '%s:x:%d:\n' "$(id -gn)" "$(id -g)" >"$work/group"
hex=$(printf "$expected" | od -An -tx1 | tr -d ' \n')
LD_PRELOAD=$wrapper NSS_WRAPPER_PASSWD=$work/passwd NSS_WRAPPER_GROUP=$work/group "$@" expect="$hex"
