#!/usr/bin/env bash
# The main job: builds everything and opens VantrelPC. With no download cable attached it
# first starts the simulated vehicle unit, so All VU, Latest VU and Card download from it.
set -euo pipefail
cd "$(dirname "$(readlink -f "$0")")/.."
scripts/build.sh
bin=$PWD/build/bin
. scripts/sim-env.sh
cable_attached || start_simulator "$bin"
if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  echo "No display: running the window on a virtual one (xvfb-run)."
  xvfb-run -a "$bin/VantrelPC"
else
  "$bin/VantrelPC"
fi
