# Sourced by the run scripts: starts the simulated vehicle unit when no download cable is
# attached, and points the programs at it (VANTREL_SYSFS_ROOT, VANTREL_DEV_ROOT).
# Set VANTREL_SIM_ARGS for simulator options, e.g. "--ddd file.DDD", "--gen2", "--gen2v2" or
# "--port 140" (the cable's ttyUSB number; a second simulator needs a number of its own).

# Looks where the engine looks: in $VANTREL_SYSFS_ROOT when that is set.
cable_attached() {
  local port product
  for port in "${VANTREL_SYSFS_ROOT:-/sys}"/bus/usb-serial/devices/ttyUSB*; do
    [ -e "$port" ] || continue
    product="$(readlink -f "$port")/../../product"
    grep -qsxE 'Vantrel PC Cable|USB Tacho Download Adapter' "$product" && return 0
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
  trap 'kill $sim_pid 2>/dev/null; wait $sim_pid 2>/dev/null; rm -rf "$sim_root"' EXIT
  for _ in $(seq 100); do
    grep -q READY "$sim_root/ready" && break
    sleep 0.1
  done
  grep -q READY "$sim_root/ready" || { cat "$sim_root/ready" >&2; echo "The simulator did not start" >&2; exit 1; }
  export VANTREL_SYSFS_ROOT="$sim_root/sys" VANTREL_DEV_ROOT="$sim_root/dev"
  echo "No download cable attached: using the simulated vehicle unit (log: $sim_root/simulator.log)"
}
