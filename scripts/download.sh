#!/usr/bin/env bash
# vantrel-download: one tachograph download without a display (see --help). This wrapper
# finds the programs and, for --demo (or VANTREL_DEMO=1) only, starts the simulated vehicle
# unit and moves the run into the demo folder; VantrelDownload does the rest.
# Installed as vantrel-download. The programs are taken from $VANTREL_BIN_DIR when set, else
# from next to this script (an installed copy), else from the source tree's build/bin. It
# never builds them: a command run from cron or a test must not start a build.
set -euo pipefail
here=$(dirname "$(readlink -f "$0")")
# Where an installed copy finds sim-env.sh, relative to itself (set by cmake --install).
sim_env_dir=../share/vantrel-pc
if [ -n "${VANTREL_BIN_DIR:-}" ]; then
  bin=$(readlink -f "$VANTREL_BIN_DIR")
elif [ -x "$here/VantrelDownload" ]; then
  bin=$here
elif [ -x "$here/../build/bin/VantrelDownload" ]; then
  bin=$(readlink -f "$here/../build/bin")
else
  echo "vantrel-download: VantrelDownload is neither beside this script nor in" \
    "$here/../build/bin: build it (scripts/build.sh) or name its folder in VANTREL_BIN_DIR" >&2
  exit 1
fi
demo=${VANTREL_DEMO:-}
for argument in "$@"; do
  case $argument in
    --demo) demo=1 ;;
    -h | --help) exec "$bin/VantrelDownload" --help ;;
  esac
done
if [ "$demo" != 1 ]; then
  unset VANTREL_DEMO
  exec "$bin/VantrelDownload" "$@"
fi
if [ -f "$here/sim-env.sh" ]; then
  # shellcheck source=scripts/sim-env.sh
  . "$here/sim-env.sh"
else
  # shellcheck source=/dev/null
  . "$here/$sim_env_dir/sim-env.sh"
fi
# Without a folder for the demo, VantrelDownload says so (in JSON too, when asked).
if use_demo_folders; then
  start_simulator "$bin"
fi
export VANTREL_DEMO=1
# Not exec: the simulator is stopped when this script ends.
"$bin/VantrelDownload" "$@"
