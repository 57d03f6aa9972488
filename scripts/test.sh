#!/usr/bin/env bash
# Builds everything and runs every test: the unit tests under Wine, and the end-to-end tests of
# Kelvane.exe and the simulated monitor over a virtual null-modem cable, on a private X display.
# Installs what is missing first (scripts/setup.sh).
set -euo pipefail
cd "$(dirname "$0")/.."

if [ -z "${KELVANE_IN_XVFB:-}" ]; then
    bash scripts/setup.sh
    # Every window of the tests opens on a display of its own, never on the user's screen.
    KELVANE_IN_XVFB=1 exec xvfb-run -a -s "-screen 0 1280x1024x24" bash "$0" "$@"
fi

source scripts/wine-env.sh
# The panel's end of the cable is COM1 (the panel's first choice), the monitor's is COM16.
bash scripts/null-modem.sh start COM1 COM16
# The Wine server ends with the cable, while its display still exists.
trap 'bash scripts/null-modem.sh stop; wineserver -k 2>/dev/null || true' EXIT
export KELVANE_PANEL_PORT=COM1 KELVANE_MONITOR_PORT=COM16
# COM2 leads to a device that is not there: Wine opens it, and its line settings cannot be read.
wine_map_ports COM2 "$KELVANE_BUILD/null-modem/no-such-device"
# Where the tests under Wine find the cable's log and pull the cable out.
KELVANE_CABLE="$(winepath -w "$KELVANE_BUILD/null-modem")"
export KELVANE_CABLE
ctest --test-dir "$KELVANE_NATIVE" --output-on-failure "$@"
ctest --test-dir "$KELVANE_BUILD" --output-on-failure "$@"
