#!/usr/bin/env bash
# Runs the soak: the real panel worked by a random operator against a simulated monitor that
# misbehaves at random, over the virtual null-modem cable on a private X display; prints figures.
#   scripts/soak.sh [--seed S] [--actions N] [--fault-rate PCT]     (defaults: 1, 500, 30)
# Or kelvanectl's commands drawn at random, run paced and then --fast against the same faults,
# their results compared command by command (tests/soak/policies.py):
#   scripts/soak.sh --policies [--seed S] [--commands N] [--fault-rate PCT]  (1, 200, 30)
# The logs of a run are in build/soak. Installs and builds what is missing first.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib/session.sh

on_private_display --quiet 1280x1024x24 "$@"
trap end_wine_session EXIT
if [ "${1:-}" = "--policies" ]; then
    shift
    wine_server_start
    python3 tests/soak/policies.py "$@"
    exit
fi
lay_cable --quiet
wine "$KELVANE_BIN/kelvane_soak.exe" "$@"
