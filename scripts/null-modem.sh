#!/usr/bin/env bash
# Lays a virtual null-modem cable (tools/null-modem/cable.py, a pty pair) and maps two COM names
# to its ends in the Wine prefix; or maps one COM name to a real device, or to a relay that
# reaches the monitor over TCP or a device and can trace the line (tools/line-trace/line_relay.py).
# Needs python3 and wine.
#   null-modem.sh start [PANEL_COM MONITOR_COM]   (default COM1 COM16)
#   null-modem.sh pull | plug                     (pulls the cable out, puts it back)
#   null-modem.sh map COMn /dev/ttyUSB0
#   null-modem.sh relay COMn tcp:HOST:PORT|DEVICE [TRACE_FILE]
#   null-modem.sh stop [relay]                    (ends the cable and the relay, or the relay)
# The cable logs in build/null-modem/cable.log when a program opens or closes an end.
set -euo pipefail
source "$(dirname "$0")/wine-env.sh"

state="$KELVANE_BUILD/null-modem"

# Ends a process this script started and waits until it is gone (the relay writes the end of
# its trace first).
end_started() {
    local file="$state/$1.pid" pid
    [ -f "$file" ] || return 0
    pid="$(cat "$file")"
    rm -f "$file"
    kill "$pid" 2>/dev/null || return 0
    for _ in $(seq 1 50); do
        kill -0 "$pid" 2>/dev/null || return 0
        sleep 0.1
    done
}

stop() {
    end_started cable
    end_started relay
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
    end_started cable
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
relay)
    # The relay's pty appears at $state/COMn while the relay runs; it opens the far end each
    # time the panel opens the port (tools/line-trace/line_relay.py).
    [ $# -ge 3 ] && [ $# -le 4 ] || { echo "usage: $0 relay COMn FAR [TRACE_FILE]" >&2; exit 2; }
    end_started relay
    mkdir -p "$state"
    link="$state/$2"
    args=(--link "$link" --far "$3")
    [ -n "${4:-}" ] && args+=(--trace "$4")
    python3 "$KELVANE_ROOT/tools/line-trace/line_relay.py" "${args[@]}" >"$state/relay.log" 2>&1 &
    echo $! > "$state/relay.pid"
    for _ in $(seq 1 50); do
        [ -e "$link" ] && break
        sleep 0.1
    done
    [ -e "$link" ] || { echo "the relay did not start:" >&2; cat "$state/relay.log" >&2; exit 1; }
    # Wine makes its link for a mapped COM name (dosdevices/comN) when the prefix starts up; a link
    # already in place needs no new mapping, nor the restart of the Wine server that it costs.
    if [ "$(readlink "$WINEPREFIX/dosdevices/${2,,}" || true)" != "$link" ]; then
        wine_map_ports "$2" "$link"
    fi
    echo "relay: $2 <-> $3${4:+ (line trace: $4)}"
    ;;
stop)
    if [ "${2:-}" = relay ]; then end_started relay; else stop; fi
    ;;
*)
    echo "usage: $0 start [PANEL_COM MONITOR_COM] | pull | plug | map COMn DEVICE |" \
        "relay COMn FAR [TRACE] | stop [relay]" >&2
    exit 2
    ;;
esac
