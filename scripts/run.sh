#!/usr/bin/env bash
# Builds the panel and opens it: against the simulated monitor on a virtual null-modem cable
# (the panel's COM1), or against a real monitor on a serial device or behind a serial device
# server (raw TCP). Installs what is missing first.
#
#   scripts/run.sh                          panel on COM1, simulated monitor on the cable's other end
#   scripts/run.sh -- --unit-id 3 --nak     the same, with switches for the simulator (--help lists them)
#   scripts/run.sh --port COM3=/dev/ttyUSB0 panel only, COM3 mapped to a real serial device
#   scripts/run.sh --port COM3=tcp:HOST:PORT
#                                           panel only, COM3 reaches a serial device server over TCP
#   scripts/run.sh --trace FILE ...         any of the above, every byte on the line traced to FILE
#   scripts/run.sh --screenshots docs       saves pictures of the panel and its about box, then ends
#
# With an X display the panel opens there; without one it runs on a private display, saves a
# picture of the panel (build/screenshots/panel.png) and closes.
set -euo pipefail

device=""
trace=""
shots=""
sim_args=()
while [ $# -gt 0 ]; do
    case "$1" in
    --port) device="$2"; shift 2 ;;
    --trace) trace="$(realpath -m "$2")"; shift 2 ;;
    --screenshots) shots="$2"; shift 2 ;;
    --) shift; sim_args=("$@"); break ;;
    *) echo "usage: $0 [--port COMn=DEVICE|COMn=tcp:HOST:PORT] [--trace FILE]" \
            "[--screenshots FOLDER] [-- simulator switches]" >&2; exit 2 ;;
    esac
done
if [ -n "$device" ] && [[ "$device" != COM*=?* ]]; then
    echo "--port wants COMn=DEVICE or COMn=tcp:HOST:PORT, not $device" >&2
    exit 2
fi
cd "$(dirname "$0")/.."
source scripts/lib/session.sh

if [ -z "${KELVANE_IN_XVFB:-}" ]; then
    if [ -z "${DISPLAY:-}" ] || [ -n "$shots" ]; then
        # Pictures are always taken on a private display of a fixed size.
        args=()
        [ -n "$device" ] && args+=(--port "$device")
        [ -n "$trace" ] && args+=(--trace "$trace")
        [ -n "$shots" ] && args+=(--screenshots "$shots")
        on_private_display 1024x768x24 "${args[@]}" -- "${sim_args[@]}"
    fi
    bash scripts/setup.sh
fi

simulator=""
cleanup() {
    [ -n "$simulator" ] && kill "$simulator" 2>/dev/null || true
    end_wine_session
}
trap cleanup EXIT

if [ -n "$device" ]; then
    name="${device%%=*}"
    far="${device#*=}"
    wine_unplug_ports
    if [[ "$far" == tcp:* ]] || [ -n "$trace" ]; then
        # The relay opens the far end when the panel opens the port, and ends with the panel.
        bash scripts/null-modem.sh relay "$name" "$far" "$trace"
    else
        bash scripts/null-modem.sh map "$name" "$far"
    fi
    echo "== $name is $far: choose it in the panel's COM Port list"
else
    lay_cable
    if [ -n "$trace" ]; then
        # The panel's COM1 now leads to the relay, which passes the bytes on to the cable.
        bash scripts/null-modem.sh relay COM1 "$KELVANE_BUILD/null-modem/panel" "$trace"
    fi
    wine "$KELVANE_BIN/monitor-sim.exe" --port COM16 --log "$(winepath -w "$KELVANE_BUILD/monitor-sim.log")" \
        "${sim_args[@]}" >/dev/null 2>&1 &
    simulator=$!
    echo "== a simulated monitor answers on COM1 (its log: build/monitor-sim.log); press Connect"
fi

if [ -n "${KELVANE_IN_XVFB:-}" ]; then
    out="${shots:-$KELVANE_BUILD/screenshots}"
    mkdir -p "$out"
    wine "$KELVANE_BIN/Kelvane.exe" &
    panel=$!
    shot_args=(--close)
    [ -n "$shots" ] && shot_args+=(--about)
    wine "$KELVANE_BIN/panel-shot.exe" "$(winepath -w "$out")" "${shot_args[@]}"
    wait "$panel" || true
    if [ -n "$shots" ]; then
        echo "== pictures of the panel and its about box: $out/panel.png, $out/about.png"
    else
        echo "== no X display here: the panel ran on a private one; see $out/panel.png"
    fi
else
    wine "$KELVANE_BIN/Kelvane.exe"
fi
[ -n "$trace" ] && echo "== the line trace: $trace (tools/line-trace/trace_table.py makes a table of it)"
true
