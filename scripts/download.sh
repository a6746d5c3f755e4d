#!/usr/bin/env bash
# A download without a display: runs the engine once and prints the saved file and the final
# status. With no cable attached it downloads from the simulated vehicle unit.
#   scripts/download.sh [A | C | "L [001002005] 7"]      (default A: all vehicle-unit data)
set -euo pipefail
cd "$(dirname "$0")/.."
[ -x build/bin/VNPCBase ] || scripts/build.sh >/dev/null
bin=$PWD/build/bin
. scripts/sim-env.sh
cable_attached || start_simulator "$bin" >&2
command="${1:-A} E"
[[ "$command" == L* ]] && command="\"$command\""
export QT_QPA_PLATFORM=offscreen VANTREL_NONINTERACTIVE=1
"$bin/VNPCBase" "$command" 2> >(grep --line-buffered '^MSGBOX' | cut -f3- | sed 's/^/message: /' >&2) || true
data="$(XDG_DATA_HOME="${XDG_DATA_HOME:-$HOME/.local/share}"; echo "$XDG_DATA_HOME/Fenwright/Vantrel PC")"
# A path line counts once "File saved" follows it.
tr -d '\r' < "$data/VNPC.log" | awk '/Path\/File Name - / { sub(/.*Path\/File Name - /, ""); path = $0 }
  /^File saved$/ && path != "" { print "saved: " path; path = "" }' 
echo "status: $(tr -d '\r' < "$data/VNPCstatus.txt")"
