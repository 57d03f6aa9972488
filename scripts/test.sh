#!/usr/bin/env bash
# Builds everything and runs every test: the unit tests under Wine, and the end-to-end tests of
# Kelvane.exe and the simulated monitor over a virtual null-modem cable, on a private X display.
# Installs what is missing first (scripts/setup.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib/session.sh

on_private_display 1280x1024x24 "$@"
trap end_wine_session EXIT
lay_cable
# COM2 leads to a device that is not there: Wine opens it, and its line settings cannot be read.
wine_map_ports COM2 "$KELVANE_BUILD/null-modem/no-such-device"
ctest --test-dir "$KELVANE_NATIVE" --output-on-failure "$@"
ctest --test-dir "$KELVANE_BUILD" --output-on-failure "$@"
