# shellcheck shell=bash
# Sourced by the run scripts: starts the simulated vehicle unit and points the programs at it
# (VANTREL_SYSFS_ROOT, VANTREL_DEV_ROOT), and keeps a demo's files apart from real ones.
# Set VANTREL_SIM_ARGS for simulator options, e.g. "--ddd file.DDD", "--gen2", "--gen2v2" or
# "--port 140" (the cable's ttyUSB number; a second simulator needs a number of its own).

# Looks where the engine looks: in $VANTREL_SYSFS_ROOT when that is set.
cable_attached() {
  local port product
  for port in "${VANTREL_SYSFS_ROOT:-/sys}"/bus/usb-serial/devices/ttyUSB*; do
    [ -e "$port" ] || continue
    product="$(readlink -f "$port")/../../product"
    # A sysfs attribute is at most a page; never read more from a hand-made tree.
    head -c 4096 "$product" 2>/dev/null | grep -qxE 'Vantrel PC Cable|USB Tacho Download Adapter' &&
      return 0
  done
  return 1
}

start_simulator() {
  local bin=$1
  sim_root=$(mktemp -d "${TMPDIR:-/tmp}/vantrel-sim.XXXXXX")
  # shellcheck disable=SC2086
  "$bin/VantrelVuSim" --root "$sim_root" --log "$sim_root/simulator.log" ${VANTREL_SIM_ARGS:-} \
    >"$sim_root/ready" 2>&1 &
  sim_pid=$!
  # The unit may have ended already (Ctrl+C reaches it too): that is no error here.
  trap 'kill $sim_pid 2>/dev/null || true; wait $sim_pid 2>/dev/null || true; rm -rf "$sim_root"' EXIT
  for _ in $(seq 100); do
    grep -qs READY "$sim_root/ready" && break
    sleep 0.1
  done
  grep -q READY "$sim_root/ready" || { cat "$sim_root/ready" >&2; echo "The simulator did not start" >&2; exit 1; }
  export VANTREL_SYSFS_ROOT="$sim_root/sys" VANTREL_DEV_ROOT="$sim_root/dev"
}

# Simulated data never goes into the real folders: the demo gets a data folder (settings,
# log, status) and download folders of its own, $demo_dir/Data/VU and $demo_dir/Data/Card.
# Fails, changing nothing, when there is no home to put it in.
use_demo_folders() {
  local base=${XDG_DATA_HOME:-${HOME:+$HOME/.local/share}}
  [ -n "${VANTREL_DEMO_DIR:-}" ] || [ -n "$base" ] || return 1
  demo_dir=${VANTREL_DEMO_DIR:-$base/vantrel-pc-demo}
  export XDG_DATA_HOME=$demo_dir
  local data="$demo_dir/Fenwright/Vantrel PC"
  mkdir -p "$data" "$demo_dir/Data/VU" "$demo_dir/Data/Card"
  # The window's own layout, with the demo's folders.
  [ -e "$data/Settings.ini" ] || printf '%s\r\n' '#============== Settings ==============#' '' \
    '[InstallSettings]' 'Language=EN' "VUDataPath=$demo_dir/Data/VU" \
    "CardDataPath=$demo_dir/Data/Card" '' '[Options]' 'FileNameStyle=LD' >"$data/Settings.ini"
}
