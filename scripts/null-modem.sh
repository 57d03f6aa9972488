#!/usr/bin/env bash
# Lays a virtual null-modem cable (tools/null-modem/cable.py, a pty pair) and maps two COM names
# to its ends in the Wine prefix; or maps one COM name to a real device. Needs python3 and wine.
#   null-modem.sh start [PANEL_COM MONITOR_COM]   (default COM1 COM16)
#   null-modem.sh pull | plug                     (pulls the cable out, puts it back)
#   null-modem.sh map COMn /dev/ttyUSB0
#   null-modem.sh stop
# The cable logs in build/null-modem/cable.log when a program opens or closes an end.
set -euo pipefail
source "$(dirname "$0")/wine-env.sh"

state="$KELVANE_BUILD/null-modem"

stop() {
    if [ -f "$state/cable.pid" ]; then
        kill "$(cat "$state/cable.pid")" 2>/dev/null || true
        rm -f "$state/cable.pid"
    fi
}

# Waits until the cable has logged the event; false after five seconds.
wait_for() {
    for _ in $(seq 1 100); do
        grep -q " $1" "$state/cable.log" 2>/dev/null && return 0
        sleep 0.05
    done
    return 1
}

case "${1:-}" in
start)
    panel="${2:-COM1}"
    monitor="${3:-COM16}"
    stop
    mkdir -p "$state"
    rm -f "$state/panel" "$state/monitor" "$state/pulled" "$state/cable.log"
    python3 "$KELVANE_ROOT/tools/null-modem/cable.py" --folder "$state" &
    echo $! > "$state/cable.pid"
    wait_for "ready" || { echo "the cable did not come up" >&2; exit 1; }
    wine_unplug_ports
    wine_map_ports "$panel" "$state/panel" "$monitor" "$state/monitor"
    echo "null-modem: $panel <-> $monitor ($(readlink "$state/panel") <-> $(readlink "$state/monitor"))"
    ;;
pull)
    : > "$state/pulled"
    ;;
plug)
    rm -f "$state/pulled"
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
    echo "usage: $0 start [PANEL_COM MONITOR_COM] | pull | plug | map COMn DEVICE | stop" >&2
    exit 2
    ;;
esac
