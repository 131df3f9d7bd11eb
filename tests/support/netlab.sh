#!/usr/bin/env bash
# The network test lab for shell scripts: two network namespaces joined by a
# veth pair, the same layout as vltest::NetLab. Needs root.
#
# As a command:
#   netlab.sh run CMD [ARGS...]   builds a lab, runs CMD in the host namespace
#                                 with NETLAB_A, NETLAB_B (namespace names) and
#                                 NETLAB_ADDR_A, NETLAB_ADDR_B exported, removes
#                                 the lab and exits with CMD's status
#   netlab.sh clean               removes leftovers of labs whose creator died
# Sourced (". netlab.sh"): netlab_up, netlab_exec a|b CMD..., netlab_down,
# netlab_clean_stale. netlab_up removes the lab again when the shell exits.

NETLAB_ADDR_A=198.18.0.1
NETLAB_ADDR_B=198.18.0.2
NETLAB_DEV_A=veth0
NETLAB_DEV_B=veth1
NETLAB_MAC_A=02:76:6c:00:00:01
NETLAB_MAC_B=02:76:6c:00:00:02
NETLAB_MCAST_ROUTE=224.0.0.0/4
netlab_seq=${netlab_seq:-0}

# Names are "vlt-<pid>-<counter>-a|b", as the C++ lab makes them, so that
# either form can remove the other's leftovers.
netlab_clean_stale() {
  local name pid
  for name in $(ip netns list 2>/dev/null | awk '{print $1}'); do
    case $name in
      vlt-*) ;;
      *) continue ;;
    esac
    pid=${name#vlt-}
    pid=${pid%%-*}
    [[ $pid =~ ^[0-9]+$ ]] || continue
    [ "$pid" -eq $$ ] && continue
    kill -0 "$pid" 2>/dev/null && continue
    ip netns delete "$name" 2>/dev/null || true
  done
}

netlab_ns() {
  case $1 in
    a | A) echo "$NETLAB_A" ;;
    b | B) echo "$NETLAB_B" ;;
    *) echo "netlab: unknown host '$1'" >&2; return 1 ;;
  esac
}

netlab_exec() {
  local ns
  ns=$(netlab_ns "$1") || return 1
  shift
  ip netns exec "$ns" "$@"
}

netlab_down() {
  local ns
  for ns in "${NETLAB_A:-}" "${NETLAB_B:-}"; do
    [ -n "$ns" ] && ip netns delete "$ns" 2>/dev/null
  done
  NETLAB_A=
  NETLAB_B=
  return 0
}

netlab_host_up() {
  local ns=$1 dev=$2 addr=$3
  ip -n "$ns" link set lo up &&
    ip -n "$ns" addr add "$addr/24" dev "$dev" &&
    ip -n "$ns" link set "$dev" up &&
    ip -n "$ns" route add "$NETLAB_MCAST_ROUTE" dev "$dev"
}

netlab_up() {
  netlab_clean_stale
  NETLAB_A="vlt-$$-$netlab_seq-a"
  NETLAB_B="vlt-$$-$netlab_seq-b"
  netlab_seq=$((netlab_seq + 1))
  trap netlab_down EXIT
  trap 'exit 143' TERM
  trap 'exit 130' INT
  if ip netns add "$NETLAB_A" && ip netns add "$NETLAB_B" &&
    ip -n "$NETLAB_A" link add "$NETLAB_DEV_A" address "$NETLAB_MAC_A" type veth \
      peer name "$NETLAB_DEV_B" address "$NETLAB_MAC_B" netns "$NETLAB_B" &&
    netlab_host_up "$NETLAB_A" "$NETLAB_DEV_A" "$NETLAB_ADDR_A" &&
    netlab_host_up "$NETLAB_B" "$NETLAB_DEV_B" "$NETLAB_ADDR_B"; then
    export NETLAB_A NETLAB_B NETLAB_ADDR_A NETLAB_ADDR_B
    return 0
  fi
  echo "netlab: could not build the lab" >&2
  netlab_down
  return 1
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
  set -u
  case ${1:-} in
    run)
      shift
      [ $# -gt 0 ] || { echo "usage: $0 run CMD [ARGS...]" >&2; exit 2; }
      netlab_up || exit 1
      "$@"
      exit $?
      ;;
    clean)
      netlab_clean_stale
      ;;
    *)
      echo "usage: $0 run CMD [ARGS...] | clean" >&2
      exit 2
      ;;
  esac
fi
