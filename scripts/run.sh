#!/usr/bin/env bash
# The main job: builds everything and opens VantrelPC. With no download cable attached it
# first starts the simulated vehicle unit, so All VU, Latest VU and Card download from it;
# the window then shows a DEMO mark, says "simulated unit" in its title and saves into the
# demo folder. Without a display there is no window to open: it says so and ends.
set -euo pipefail
cd "$(dirname "$(readlink -f "$0")")/.."
if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  echo "No display: the window cannot be shown here." >&2
  echo "Download without one, from the simulated unit: scripts/download.sh --demo --all" >&2
  exit 1
fi
scripts/build.sh
bin=$PWD/build/bin
. scripts/sim-env.sh
if ! cable_attached; then
  start_simulator "$bin"
  use_demo_folders || { echo "No folder for the demo: set HOME (or VANTREL_DEMO_DIR)" >&2; exit 1; }
  export VANTREL_DEMO=1
  echo "No download cable attached: the simulated vehicle unit answers; its files go to $demo_dir/Data"
fi
"$bin/VantrelPC"
