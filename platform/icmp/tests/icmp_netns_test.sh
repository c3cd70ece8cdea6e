#!/bin/bash
# ICMP.DLL against real routers: four network namespaces A - R1 - R2 - B joined
# by veth pairs, forwarding in R1 and R2. From A, with each backend (raw
# sockets, and ICMP datagram sockets once net.ipv4.ping_group_range admits
# the group inside A): an echo to 127.0.0.1; a traceroute to B (time exceeded
# from R1, then R2, then B's echo reply); the second entry set to B; a net
# unreachable from R1; a time-out and a wait ended by closing the handle while
# B ignores echo requests.
# Usage: icmp_netns_test.sh PATH/TO/icmp_probe   (needs root; exit 77 = skipped)
set -u
probe=$1
if [ "$(id -u)" != 0 ]; then
  echo "SKIP: the ICMP namespace test needs root to make network namespaces"
  exit 77
fi
for tool in ip sysctl; do
  command -v "$tool" >/dev/null || { echo "FAIL: $tool is missing (packages iproute2, procps)"; exit 1; }
done

p=qxicmp$$
A=${p}a R1=${p}r1 R2=${p}r2 B=${p}b
cleanup() { for ns in $A $R1 $R2 $B; do ip netns del "$ns" 2>/dev/null; done; }
trap cleanup EXIT

set -e
for ns in $A $R1 $R2 $B; do
  ip netns add "$ns"
  ip -n "$ns" link set lo up
  # Routers answer every probe: no rate limit on ICMP errors.
  ip netns exec "$ns" sysctl -qw net.ipv4.icmp_ratelimit=0
done
ip -n $A link add a0 type veth peer name r1a netns $R1
ip -n $R1 link add r1b type veth peer name r2a netns $R2
ip -n $R2 link add r2b type veth peer name b0 netns $B
ip -n $A addr add 10.1.1.1/24 dev a0
ip -n $R1 addr add 10.1.1.2/24 dev r1a
ip -n $R1 addr add 10.1.2.1/24 dev r1b
ip -n $R2 addr add 10.1.2.2/24 dev r2a
ip -n $R2 addr add 10.1.3.1/24 dev r2b
ip -n $B addr add 10.1.3.2/24 dev b0
ip -n $A link set a0 up
ip -n $R1 link set r1a up
ip -n $R1 link set r1b up
ip -n $R2 link set r2a up
ip -n $R2 link set r2b up
ip -n $B link set b0 up
ip -n $A route add default via 10.1.1.2
ip -n $R1 route add 10.1.3.0/24 via 10.1.2.2
ip -n $R2 route add 10.1.1.0/24 via 10.1.2.1
ip -n $B route add default via 10.1.3.1
ip netns exec $R1 sysctl -qw net.ipv4.ip_forward=1
ip netns exec $R2 sysctl -qw net.ipv4.ip_forward=1
set +e

failures=0
check() {  # check "what" "expected output" command...
  local what=$1 want=$2
  shift 2
  local got
  got=$("$@" 2>&1)
  if [ "$got" == "$want" ]; then
    echo "ok: $what"
  else
    echo "FAIL: $what"
    echo "  expected: $(printf '%s' "$want" | tr '\n' '|')"
    echo "  got:      $(printf '%s' "$got" | tr '\n' '|')"
    failures=$((failures + 1))
  fi
}

run_in_a() { timeout 30 ip netns exec $A env QX_ICMP_BACKEND="$backend" QX_RUNTIME_DIR="$rt" "$probe" "$@"; }
rt=$(mktemp -d)
trap 'cleanup; rm -rf "$rt"' EXIT

for backend in raw dgram; do
  if [ $backend = dgram ]; then
    # Without this, ICMP datagram sockets are refused to everyone, root included.
    check "dgram refused before ping_group_range" "no handle 5" run_in_a echo 127.0.0.1
    ip netns exec $A sysctl -qw net.ipv4.ping_group_range="0 2147483647"
  fi
  check "$backend: echo to 127.0.0.1" "echo 0 127.0.0.1 size=56 data=ok backend=$backend" run_in_a echo 127.0.0.1
  check "$backend: traceroute over two routers" "hop 1 11013 10.1.1.2
hop 2 11013 10.1.2.2
hop 3 0 10.1.3.2" run_in_a trace 10.1.3.2 8
  check "$backend: register_icmp/do_echo_req/do_echo_rep" "rep 0 10.1.3.2 size=100 data=ok
rep 0 10.1.3.2 size=100 data=ok" run_in_a pingset 10.1.3.2 2
  check "$backend: net unreachable from the first router" "hop 1 11002 10.1.1.2" run_in_a trace 10.1.9.9 4
  ip netns exec $B sysctl -qw net.ipv4.icmp_echo_ignore_all=1
  check "$backend: no answer within the time-out" "timeout 0 11010 waited=1" run_in_a timeout 10.1.3.2 300
  check "$backend: closing the handle ends a wait" "stopped 11010 fast=1" run_in_a stop 10.1.3.2
  ip netns exec $B sysctl -qw net.ipv4.icmp_echo_ignore_all=0
  check "$backend: argument checks" "misuse ok" run_in_a misuse
done

if [ $failures -ne 0 ]; then
  echo "$failures check(s) failed"
  exit 1
fi
echo "all ICMP checks passed"
