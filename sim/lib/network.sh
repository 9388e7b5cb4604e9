# shellcheck shell=bash
# The board's network inside the sandbox (sourced by sim/lib/sandbox-lib.sh).
#
# The sandbox's network namespace is the board's.  It holds the board's four
# network interfaces, usb0, eth0, eth1 and eth2, each one end of a veth pair
# whose other end, peer-NAME, lies in a second namespace that the sandbox
# makes: the peer, a machine on the far side of every cable.  The peer's
# namespace is held by a process whose PID is in $SB_RUN/peer.pid;
# `sb_peer CMD...` runs a command in it.  Each pair has a /30 of TEST-NET-1,
# which is routed nowhere, and nothing reaches beyond these two namespaces:
#
#   board          peer
#   eth0 192.0.2.1   peer-eth0 192.0.2.2
#   eth1 192.0.2.5   peer-eth1 192.0.2.6
#   eth2 192.0.2.9   peer-eth2 192.0.2.10
#   usb0 192.0.2.13  peer-usb0 192.0.2.14
#
# iptables in the sandbox is the real one and acts on the board's namespace.

SB_NET_LINKS=(eth0:1 eth1:5 eth2:9 usb0:13)

# sb_setup_network: bring up lo and the board's links.  Runs in the sandbox's
# own namespace, before the command.
sb_setup_network() {
    local pid link name host board=() peer=()
    # Only ever in the namespaces the sandbox has just made (it runs as
    # their PID 1): never on the host's own network.
    if [[ ${_KESTREL_SANDBOX_STAGE:-} != inner || $$ -ne 1 ]]; then
        sb_log "the board's network is set up only by sim/sandbox itself"
        return 1
    fi
    ip link set lo up || return 1
    # The peer's namespace: its holder says "ready" once it has left the
    # board's namespace, so no link can be moved into the wrong one.
    sb_start_ready peer pid unshare --net -- \
        sh -c 'echo ready >&3; exec sleep infinity 3>&-' || return 1
    sb_wait_ready peer || return 1
    printf '%s\n' "$pid" >"$SB_RUN/peer.pid" || return 1
    peer+=("link set lo up")
    for link in "${SB_NET_LINKS[@]}"; do
        name=${link%:*}
        host=${link#*:}
        board+=("link add $name type veth peer name peer-$name netns $pid"
            "addr add 192.0.2.$host/30 dev $name"
            "link set $name up")
        peer+=("addr add 192.0.2.$((host + 1))/30 dev peer-$name"
            "link set peer-$name up")
    done
    printf '%s\n' "${board[@]}" | ip -batch - || return 1
    printf '%s\n' "${peer[@]}" | nsenter -t "$pid" -n ip -batch -
}

# sb_peer CMD...: run CMD in the peer's namespace (inside the sandbox only).
sb_peer() {
    local pid
    sb_require_sandbox || return 1
    read -r pid <"$SB_RUN/peer.pid" || return 1
    nsenter -t "$pid" -n -- "$@"
}
