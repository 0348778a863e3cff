#!/usr/bin/env bash
# Test network for one run: a PC namespace and a device namespace joined by a
# bridge that lives in a third namespace, so nothing is added to the root
# namespace and nothing can leave the machine.
#
#   netns.sh up RUNID            create the lab (fails if it already exists)
#   netns.sh down RUNID          delete it (idempotent); ends processes left inside
#   netns.sh exec RUNID pc|dev CMD [ARG]...
#   netns.sh name RUNID pc|dev|br        namespace name
#   netns.sh addr RUNID pc               PC address
#   netns.sh addr RUNID dev [N]          address of the N-th device (default 1)
#   netns.sh status RUNID                namespaces, addresses and routes
#   netns.sh check RUNID                 exit 0 when the lab is up
#
# Addresses: 10.231.0.0/16. The PC is 10.231.0.1 on its interface lab0; the
# device side answers for every address from 10.231.1.0 up (a local route in
# the device namespace), so device N (1-1024 and beyond) is 10.231.1.1 + N-1
# and a device can move to a new address in that range without help. The
# PC's multicast and default routes point at lab0 only. In the PC namespace
# the machine's host name resolves to 10.231.0.1 (/etc/netns/<pc>/hosts), and
# other names fail at once: no name server outside the lab is asked.
set -euo pipefail

PC_ADDR=10.231.0.1
DEV_ADDR=10.231.1.1
PREFIX=16

die() { echo "netns.sh: $*" >&2; exit 1; }

usage() {
    sed -n '2,/^set -euo/p' "$0" | sed '$d' | sed 's/^# \{0,1\}//' >&2
    exit 2
}

check_runid() {
    [[ "${1:-}" =~ ^[A-Za-z0-9_-]{1,24}$ ]] || die "RUNID must be 1-24 of [A-Za-z0-9_-]"
}

ns_name() { echo "plab-$1-$2"; }

ns_exists() { ip netns list 2>/dev/null | awk '{print $1}' | grep -qx "$1"; }

dev_address() {
    local n=$1
    [[ "$n" =~ ^[0-9]+$ ]] && (( n >= 1 && n <= 65000 )) || die "device number must be 1-65000"
    local base=$(( (10 << 24) | (231 << 16) | (1 << 8) | 1 ))
    local a=$(( base + n - 1 ))
    echo "$(( (a >> 24) & 255 )).$(( (a >> 16) & 255 )).$(( (a >> 8) & 255 )).$(( a & 255 ))"
}

cmd_up() {
    local id=$1
    local pc br dev
    pc=$(ns_name "$id" pc); br=$(ns_name "$id" br); dev=$(ns_name "$id" dev)
    for ns in "$pc" "$br" "$dev"; do
        ns_exists "$ns" && die "$ns already exists; run 'netns.sh down $id' first"
    done
    # Anything that fails half-way is taken down again.
    trap 'cmd_down "$id" >/dev/null 2>&1 || true' ERR

    ip netns add "$br"
    ip netns add "$pc"
    ip netns add "$dev"

    ip -n "$br" link add br0 type bridge
    # No IGMP snooping: the group's datagrams reach the device side whether
    # or not a membership report was seen.
    ip -n "$br" link set br0 type bridge mcast_snooping 0
    ip -n "$br" link add vpc type veth peer name lab0 netns "$pc"
    ip -n "$br" link add vdev type veth peer name lab0 netns "$dev"
    ip -n "$br" link set vpc master br0
    ip -n "$br" link set vdev master br0
    for l in lo br0 vpc vdev; do ip -n "$br" link set "$l" up; done

    ip -n "$pc" link set lo up
    ip -n "$pc" addr add "$PC_ADDR/$PREFIX" dev lab0
    ip -n "$pc" link set lab0 up
    ip -n "$pc" route add 239.0.0.0/8 dev lab0
    ip -n "$pc" route add default dev lab0

    ip -n "$dev" link set lo up
    ip -n "$dev" addr add "$DEV_ADDR/$PREFIX" dev lab0
    ip -n "$dev" link set lab0 up
    ip -n "$dev" route add 239.0.0.0/8 dev lab0
    # Every address from 10.231.1.0 up is local on the device side and
    # answered by ARP, so devices bind wherever their settings say.
    local nets=(10.231.1.0/24 10.231.2.0/23 10.231.4.0/22 10.231.8.0/21 10.231.16.0/20
                10.231.32.0/19 10.231.64.0/18 10.231.128.0/17)
    for n in "${nets[@]}"; do ip -n "$dev" route add local "$n" dev lo table local; done

    mkdir -p "/etc/netns/$pc"
    {
        echo "127.0.0.1 localhost"
        echo "::1 localhost ip6-localhost ip6-loopback"
        echo "$PC_ADDR $(hostname)"
    } > "/etc/netns/$pc/hosts"
    # Names that are not in that file fail at once instead of asking a name
    # server outside the lab.
    echo "nameserver 127.0.0.1" > "/etc/netns/$pc/resolv.conf"
    trap - ERR
    echo "lab $id up: pc=$pc ($PC_ADDR) dev=$dev (from $DEV_ADDR) bridge=$br"
}

# Ends the processes still inside a namespace, by their ids, so it can go.
stop_inside() {
    local ns=$1 pids
    pids=$(ip netns pids "$ns" 2>/dev/null || true)
    [ -z "$pids" ] && return 0
    kill -TERM $pids 2>/dev/null || true
    for _ in $(seq 20); do
        pids=$(ip netns pids "$ns" 2>/dev/null || true)
        [ -z "$pids" ] && return 0
        sleep 0.1
    done
    kill -KILL $pids 2>/dev/null || true
}

cmd_down() {
    local id=$1
    for role in pc dev br; do
        local ns
        ns=$(ns_name "$id" "$role")
        if ns_exists "$ns"; then
            stop_inside "$ns"
            ip netns delete "$ns" || true
        fi
        rm -rf "/etc/netns/$ns"
    done
    # /etc/netns itself stays: other runs may be using it.
}

cmd_status() {
    local id=$1
    for role in pc dev br; do
        local ns
        ns=$(ns_name "$id" "$role")
        if ns_exists "$ns"; then
            echo "== $ns"
            ip -n "$ns" -brief addr
            ip -n "$ns" route
            [ "$role" = dev ] && ip -n "$ns" route show table local type local | grep -v '^local 127\.' || true
        else
            echo "== $ns (absent)"
        fi
    done
}

[ $# -ge 2 ] || usage
command=$1
id=$2
check_runid "$id"
shift 2

case "$command" in
up)
    [ "$(id -u)" -eq 0 ] || die "needs root"
    cmd_up "$id"
    ;;
down)
    [ "$(id -u)" -eq 0 ] || die "needs root"
    cmd_down "$id"
    ;;
exec)
    [ $# -ge 2 ] || usage
    role=$1; shift
    [[ "$role" == pc || "$role" == dev ]] || die "exec: pc or dev"
    ns=$(ns_name "$id" "$role")
    ns_exists "$ns" || die "$ns does not exist"
    exec ip netns exec "$ns" "$@"
    ;;
name)
    [[ "${1:-}" =~ ^(pc|dev|br)$ ]] || die "name: pc, dev or br"
    ns_name "$id" "$1"
    ;;
addr)
    case "${1:-}" in
    pc) echo "$PC_ADDR" ;;
    dev) dev_address "${2:-1}" ;;
    *) die "addr: pc or dev [N]" ;;
    esac
    ;;
status)
    cmd_status "$id"
    ;;
check)
    for role in pc dev br; do ns_exists "$(ns_name "$id" "$role")" || exit 1; done
    ;;
*)
    usage
    ;;
esac
