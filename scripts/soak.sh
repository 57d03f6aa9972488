#!/usr/bin/env bash
# Runs the soak: the real panel worked by a random operator against a simulated monitor that
# misbehaves at random, over the virtual null-modem cable on a private X display; prints figures.
#   scripts/soak.sh [--seed S] [--actions N] [--fault-rate PCT]     (defaults: 1, 500, 30)
# The logs of a run are in build/soak. Installs and builds what is missing first.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ -z "${KELVANE_IN_XVFB:-}" ]; then
    bash scripts/setup.sh >/dev/null
    KELVANE_IN_XVFB=1 exec xvfb-run -a -s "-screen 0 1280x1024x24" bash "$0" "$@"
fi

source scripts/wine-env.sh
bash scripts/null-modem.sh start COM1 COM16 >/dev/null
trap 'bash scripts/null-modem.sh stop; wineserver -k 2>/dev/null || true' EXIT
export KELVANE_PANEL_PORT=COM1 KELVANE_MONITOR_PORT=COM16
KELVANE_CABLE="$(winepath -w "$KELVANE_BUILD/null-modem")"
export KELVANE_CABLE
wine "$KELVANE_BIN/kelvane_soak.exe" "$@"
