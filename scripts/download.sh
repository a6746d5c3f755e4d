#!/usr/bin/env bash
# A download without a display: runs the engine once and prints the saved file and the final
# status. With no cable attached it downloads from the simulated vehicle unit.
#   scripts/download.sh [A | C | "L [001002005] 7"]      (default A: all vehicle-unit data)
# Installed as vantrel-download. The programs are taken from $VANTREL_BIN_DIR when set, else
# from next to this script (an installed copy), else from the source tree's build/bin (built
# first when missing). Ends with 0 when the status is "Complete", 1 otherwise.
set -euo pipefail
here=$(dirname "$(readlink -f "$0")")
# Where an installed copy finds sim-env.sh, relative to itself (set by cmake --install).
sim_env_dir=../share/vantrel-pc
if [ -n "${VANTREL_BIN_DIR:-}" ]; then
  bin=$(readlink -f "$VANTREL_BIN_DIR")
elif [ -x "$here/VNPCBase" ]; then
  bin=$here
else
  [ -x "$here/../build/bin/VNPCBase" ] || "$here/build.sh" >/dev/null
  bin=$(readlink -f "$here/../build/bin")
fi
if [ -f "$here/sim-env.sh" ]; then
  . "$here/sim-env.sh"
else
  . "$here/$sim_env_dir/sim-env.sh"
fi
cable_attached || start_simulator "$bin" >&2
command="${1:-A} E"
[[ "$command" == L* ]] && command="\"$command\""
export QT_QPA_PLATFORM=offscreen VANTREL_NONINTERACTIVE=1
"$bin/VNPCBase" "$command" 2> >(grep --line-buffered '^MSGBOX' | cut -f3- | sed 's/^/message: /' >&2) || true
data="$(XDG_DATA_HOME="${XDG_DATA_HOME:-$HOME/.local/share}"; echo "$XDG_DATA_HOME/Fenwright/Vantrel PC")"
# A path line counts once "File saved" follows it.
{ tr -d '\r' < "$data/VNPC.log" || true; } 2>/dev/null | awk '/Path\/File Name - / { sub(/.*Path\/File Name - /, ""); path = $0 }
  /^File saved$/ && path != "" { print "saved: " path; path = "" }'
status=$(tr -d '\r' < "$data/VNPCstatus.txt" 2>/dev/null || true)
echo "status: $status"
[ "$status" = Complete ]
