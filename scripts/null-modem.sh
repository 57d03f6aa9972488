#!/usr/bin/env bash
# Makes a virtual null-modem cable (a socat pty pair) and maps two COM names to its ends in the
# Wine prefix; or maps one COM name to a real device. Needs socat and wine (scripts/setup.sh).
#   null-modem.sh start [PANEL_COM MONITOR_COM]   (default COM1 COM16)
#   null-modem.sh map COMn /dev/ttyUSB0
#   null-modem.sh stop
set -euo pipefail
source "$(dirname "$0")/wine-env.sh"

state="$KELVANE_BUILD/null-modem"

stop() {
    if [ -f "$state/socat.pid" ]; then
        kill "$(cat "$state/socat.pid")" 2>/dev/null || true
        rm -f "$state/socat.pid"
    fi
}

case "${1:-}" in
start)
    panel="${2:-COM1}"
    monitor="${3:-COM16}"
    stop
    mkdir -p "$state"
    rm -f "$state/panel" "$state/monitor"
    socat pty,raw,echo=0,link="$state/panel" pty,raw,echo=0,link="$state/monitor" \
        >"$state/socat.log" 2>&1 &
    echo $! > "$state/socat.pid"
    for _ in $(seq 1 50); do
        [ -e "$state/panel" ] && [ -e "$state/monitor" ] && break
        sleep 0.1
    done
    [ -e "$state/panel" ] && [ -e "$state/monitor" ] || { echo "socat made no pty pair" >&2; exit 1; }
    wine_unplug_ports
    wine_map_ports "$panel" "$state/panel" "$monitor" "$state/monitor"
    echo "null-modem: $panel <-> $monitor ($(readlink "$state/panel") <-> $(readlink "$state/monitor"))"
    ;;
map)
    [ $# -eq 3 ] || { echo "usage: $0 map COMn DEVICE" >&2; exit 2; }
    wine_map_ports "$2" "$3"
    echo "mapped $2 to $3"
    ;;
stop)
    stop
    ;;
*)
    echo "usage: $0 start [PANEL_COM MONITOR_COM] | map COMn DEVICE | stop" >&2
    exit 2
    ;;
esac
