#!/bin/bash
# The network lab for scripts: two network namespaces of the caller's own, PREFIX-e (the engine
# host) and PREFIX-d (the devices), joined by a veth pair (tve0 and tvd0) with 10.231.0.1/16 and
# 10.231.0.2/16 and default routes through the link, so that limited broadcast and multicast cross
# a real link and never reach the machine's own network.
#
#   lab.sh up PREFIX              create the lab; PREFIX must begin with "tvl-"
#   lab.sh down PREFIX            end what still runs inside it and delete it
#   lab.sh exec PREFIX e|d CMD... run CMD inside one side (argument vector, no shell)
#   lab.sh cleanup [--dry-run]    delete every tvl-* namespace whose creating process has ended,
#                                 and veth links left in the machine's own namespace
#
# A lab belongs to the process that asked for it: the number in a name "tvl-<pid>-..." (the form
# the C++ lab uses), or else the parent of `lab.sh up`, recorded in /run/tvl-lab. Cleanup never
# touches a lab whose owner still runs, so it is safe while other test runs are going on.

set -u

readonly RECORDS=/run/tvl-lab
readonly ENGINE_ADDRESS=10.231.0.1/16
readonly DEVICE_ADDRESS=10.231.0.2/16
readonly ENGINE_LINK=tve0
readonly DEVICE_LINK=tvd0

IP=$(command -v ip || true)
for candidate in /usr/sbin/ip /sbin/ip; do
  [ -n "$IP" ] && break
  [ -x "$candidate" ] && IP=$candidate
done

die() {
  echo "lab.sh: $*" >&2
  exit 1
}

usage() {
  echo "usage: lab.sh up PREFIX | down PREFIX | exec PREFIX e|d CMD... | cleanup [--dry-run]" >&2
  exit 2
}

require_root() {
  [ "$(id -u)" -eq 0 ] || die "the lab needs root"
  [ -n "$IP" ] || die "the ip program is missing"
}

check_prefix() {
  case "$1" in
    tvl-*) ;;
    *) die "a lab prefix must begin with tvl- (got '$1')" ;;
  esac
  case "$1" in
    */* | *' '*) die "a lab prefix may not hold '/' or blanks" ;;
  esac
}

namespace_exists() {
  [ -e "/run/netns/$1" ]
}

# The owner of a lab namespace: the recorded process, else the number in the name.
owner_of() {
  local ns=$1 prefix=${1%-[ed]}
  if [ -f "$RECORDS/$prefix.owner" ]; then
    cat "$RECORDS/$prefix.owner"
    return
  fi
  if [[ $ns =~ ^tvl-([0-9]+)- ]]; then
    echo "${BASH_REMATCH[1]}"
  fi
}

# Ends every process still inside a namespace: SIGTERM, then SIGKILL after a grace period.
end_processes() {
  local ns=$1 pids tries
  pids=$("$IP" netns pids "$ns" 2>/dev/null)
  [ -n "$pids" ] || return 0
  kill -TERM $pids 2>/dev/null
  for tries in $(seq 50); do
    pids=$("$IP" netns pids "$ns" 2>/dev/null)
    [ -n "$pids" ] || return 0
    sleep 0.1
  done
  kill -KILL $pids 2>/dev/null
}

delete_namespace() {
  end_processes "$1"
  # A lab's owner removes its namespaces itself just before it ends; a cleanup that listed them
  # a moment earlier finds them gone, which is what it wanted.
  "$IP" netns del "$1" 2>/dev/null && return 0
  if namespace_exists "$1"; then
    echo "lab.sh: cannot remove namespace $1" >&2
    return 1
  fi
}

cmd_up() {
  [ $# -eq 1 ] || usage
  require_root
  local prefix=$1 engine=$1-e device=$1-d
  check_prefix "$prefix"
  namespace_exists "$engine" && die "$engine exists already"
  namespace_exists "$device" && die "$device exists already"
  # The owner is recorded before anything exists, so a cleanup running meanwhile never takes
  # the half-made lab for a stale one.
  mkdir -p "$RECORDS" || die "cannot create $RECORDS"
  if [[ ! $prefix =~ ^tvl-[0-9]+- ]]; then
    echo "$PPID" >"$RECORDS/$prefix.owner" || die "cannot record the owner"
  fi
  local made=()
  undo() {
    local ns
    for ns in "${made[@]}"; do "$IP" netns del "$ns"; done
    rm -f "$RECORDS/$prefix.owner"
    die "$1"
  }
  "$IP" netns add "$engine" || undo "cannot create $engine"
  made+=("$engine")
  "$IP" netns add "$device" || undo "cannot create $device"
  made+=("$device")
  # Both ends are made inside their namespaces: no link ever shows up in the machine's own.
  "$IP" link add name "$ENGINE_LINK" netns "$engine" type veth \
    peer name "$DEVICE_LINK" netns "$device" || undo "cannot create the link"
  local side ns link address
  for side in e d; do
    if [ "$side" = e ]; then
      ns=$engine link=$ENGINE_LINK address=$ENGINE_ADDRESS
    else
      ns=$device link=$DEVICE_LINK address=$DEVICE_ADDRESS
    fi
    "$IP" -n "$ns" link set lo up || undo "cannot set lo up in $ns"
    "$IP" -n "$ns" addr add "$address" dev "$link" || undo "cannot address $link in $ns"
    "$IP" -n "$ns" link set "$link" up || undo "cannot set $link up in $ns"
    # Limited broadcast and multicast need a route to leave; the default route is the link.
    "$IP" -n "$ns" route add default dev "$link" || undo "cannot route through $link in $ns"
  done
  # A veth end carries traffic once both ends are up; wait for the kernel to say so.
  for side in "$engine:$ENGINE_LINK" "$device:$DEVICE_LINK"; do
    local tries up=no
    for tries in $(seq 100); do
      if "$IP" -n "${side%%:*}" -o link show dev "${side#*:}" | grep -q LOWER_UP; then
        up=yes
        break
      fi
      sleep 0.1
    done
    [ "$up" = yes ] || undo "link ${side#*:} did not come up"
  done
}

cmd_down() {
  [ $# -eq 1 ] || usage
  require_root
  local prefix=$1 status=0 ns
  check_prefix "$prefix"
  for ns in "$prefix-e" "$prefix-d"; do
    if namespace_exists "$ns"; then
      delete_namespace "$ns" || status=1
    fi
  done
  rm -f "$RECORDS/$prefix.owner"
  return $status
}

cmd_exec() {
  [ $# -ge 3 ] || usage
  require_root
  local prefix=$1 side=$2
  shift 2
  check_prefix "$prefix"
  case "$side" in
    e | d) ;;
    *) usage ;;
  esac
  namespace_exists "$prefix-$side" || die "no lab $prefix"
  exec "$IP" netns exec "$prefix-$side" "$@"
}

cmd_cleanup() {
  local dry=no
  case "${1:-}" in
    --dry-run) dry=yes ;;
    "") ;;
    *) usage ;;
  esac
  # Without root nothing can have been made, and nothing could be removed.
  [ "$(id -u)" -eq 0 ] || return 0
  [ -n "$IP" ] || return 0
  local ns owner status=0
  for ns in $("$IP" netns list 2>/dev/null | awk '{print $1}'); do
    case "$ns" in tvl-*) ;; *) continue ;; esac
    owner=$(owner_of "$ns")
    if [ -n "$owner" ] && kill -0 "$owner" 2>/dev/null; then
      continue
    fi
    echo "lab.sh: removing stale namespace $ns (owner ${owner:-unknown} has ended)"
    if [ "$dry" = no ]; then
      delete_namespace "$ns" || status=1
    fi
  done
  # Records of labs that are gone.
  if [ -d "$RECORDS" ] && [ "$dry" = no ]; then
    local record prefix
    for record in "$RECORDS"/*.owner; do
      [ -e "$record" ] || continue
      prefix=$(basename "$record" .owner)
      if ! namespace_exists "$prefix-e" && ! namespace_exists "$prefix-d"; then
        owner=$(cat "$record")
        kill -0 "$owner" 2>/dev/null || rm -f "$record"
      fi
    done
  fi
  # The labs create their links inside their namespaces, so a lab veth in the machine's own
  # namespace is always a leftover: of a hand-made lab (tvh0/tvn0 of the design notes) that broke
  # between creating and moving its link, or one whose namespace went away under it.
  local link
  for link in $("$IP" -o link show type veth 2>/dev/null | awk -F': ' '{print $2}' | cut -d@ -f1); do
    [[ $link =~ ^tv([edhn]0|[0-9]+(x[0-9]+)?[ed])$ ]] || continue
    echo "lab.sh: removing leftover link $link"
    if [ "$dry" = no ]; then
      "$IP" link del "$link" || status=1
    fi
  done
  return $status
}

[ $# -ge 1 ] || usage
command=$1
shift
case "$command" in
  up) cmd_up "$@" ;;
  down) cmd_down "$@" ;;
  exec) cmd_exec "$@" ;;
  cleanup) cmd_cleanup "$@" ;;
  *) usage ;;
esac
