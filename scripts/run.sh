#!/usr/bin/env bash
# Quick start: installs the Debian packages that are missing, configures and builds Tarvelo into
# build/, then opens the window, which finds three simulated storage devices. Without a display,
# or with arguments, it runs the headless search instead.
#
# The search never reaches this machine's network: it runs only inside a private lab made for
# this run (two network namespaces joined by a virtual link on 10.231.0.0/16, the simulated
# devices in one, the window or the search in the other), and the lab is removed again on every
# way out. The window reaches the display through its socket file. Arguments go to the headless
# search, for example
#   scripts/run.sh --search --json
#   scripts/run.sh --events --passes 3
# The search result is the only thing written to standard output; progress goes to standard error.
# Creating namespaces needs root; run as an ordinary user, the lab steps go through sudo.
# TARVELO_BUILD_DIR names another build folder than build/.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${TARVELO_BUILD_DIR:-$root/build}
lab_script=$root/tests/lab/lab.sh

# The lab's names. The number in the prefix tells `lab.sh cleanup` that this script owns it.
prefix=tvl-$$-run
readonly device_link=tvd0  # the device side of the lab's link (tests/lab/lab.sh)
readonly first_device=10.231.0.10 device_count=3

as_root=()
if [[ $(id -u) -ne 0 ]]; then
  as_root=(sudo)
fi

say() { echo "run.sh: $*" >&2; }

bash "$root/scripts/setup.sh" >&2
say "configuring and building into $build"
cmake -S "$root" -B "$build" -G Ninja >&2
cmake --build "$build" >&2
# Outside the lab, binding the broadcast search's port 67 needs this capability (or root); only
# the port helper beside the program holds it, and hands the bound socket over.
if command -v setcap >/dev/null; then
  "${as_root[@]}" setcap cap_net_bind_service=+ep "$build/bin/tarvelo-port-helper" 2>/dev/null ||
    say "could not grant port 67 to tarvelo-port-helper (setcap); as an ordinary user only the multicast search works"
fi
tarvelo=$build/bin/tarvelo
simulator=$build/bin/tarvelo-nas-sim
for program in "$tarvelo" "$simulator"; do
  [[ -x $program ]] || { say "the build made no $program"; exit 1; }
done

work=$(mktemp -d)
lab_made=no

# Runs a command inside one side of the lab: e (the search) or d (the devices).
in_lab() {
  local side=$1
  shift
  "${as_root[@]}" "$lab_script" exec "$prefix" "$side" "$@"
}

cleanup() {
  local status=$?
  trap - EXIT INT TERM
  if [[ $lab_made == yes ]]; then
    say "removing the lab $prefix"
    "${as_root[@]}" "$lab_script" down "$prefix" >&2 || true
  fi
  rm -rf "$work"
  exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

say "creating the lab $prefix"
# Marked before creation: a lab that breaks half-way is removed as well.
lab_made=yes
"${as_root[@]}" "$lab_script" up "$prefix"
for ((i = 0; i < device_count; i++)); do
  "${as_root[@]}" ip -n "$prefix-d" addr add "${first_device%.*}.$((${first_device##*.} + i))/16" \
    dev "$device_link"
done

say "starting $device_count simulated devices from $first_device"
in_lab d "$simulator" --devices "$device_count" --first-address "$first_device" \
  --ready "$work/ready" >/dev/null &
simulator_pid=$!
for ((tries = 0; tries < 100; tries++)); do
  [[ -e $work/ready ]] && break
  if ! kill -0 "$simulator_pid" 2>/dev/null && [[ ! -e /proc/$simulator_pid ]]; then
    say "the simulator ended before it was ready"
    exit 1
  fi
  sleep 0.1
done
[[ -e $work/ready ]] || { say "the simulator did not get ready"; exit 1; }

status=0
if [[ $# -eq 0 && -n ${DISPLAY:-}${WAYLAND_DISPLAY:-} ]]; then
  say "opening the window; close it (the cross at its top right) to end the demo"
  in_lab e env DISPLAY="${DISPLAY:-}" WAYLAND_DISPLAY="${WAYLAND_DISPLAY:-}" \
    XAUTHORITY="${XAUTHORITY:-$HOME/.Xauthority}" XDG_RUNTIME_DIR="${XDG_RUNTIME_DIR:-}" \
    "$tarvelo" || status=$?
  exit "$status"
fi
# A lone --search is the same as none: the headless search is what runs here.
[[ ${1:-} == --search ]] && shift
say "running: tarvelo --search --seconds 3 $*"
in_lab e "$tarvelo" --search --seconds 3 "$@" || status=$?
exit "$status"
