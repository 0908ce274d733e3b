#!/usr/bin/env bash
# Runs a native test on a virtual display with a session bus and an accessibility bus of its
# own, and ends them after it.
#   in-session.sh TEST ARGS...
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../../scripts/lib/native-session.sh"
kivom_native_session_start || exit 1
status=0
"$@" || status=$?
kivom_native_session_stop
exit $status
