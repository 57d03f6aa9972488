#!/usr/bin/env bash
# Builds everything and runs every test, the Linux build's and the Windows build's in one ctest
# run, side by side: unit tests under Wine and end-to-end tests of the programs against the
# simulated monitor, on a private X display. Installs what is missing first (scripts/setup.sh).
#   scripts/test.sh [CTEST OPTIONS...]      e.g. -R 'unit.SourceSelection' to run some groups
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib/session.sh

# Tests at once, and lanes: the tests that run Windows programs under Wine run one to a lane, each
# lane with a Wine prefix, a Wine server and a cable of its own; the tests of Linux programs alone
# run beside them. Most of a test's time is the protocol's real-time waits, so four at a time in
# two lanes keep two cores busy without starving the panel's timing.
: "${KELVANE_TEST_JOBS:=4}"
: "${KELVANE_TEST_LANES:=2}"

on_private_display 1280x1024x24 "$@"
trap end_wine_session EXIT

# The ports the tests use beside the cable: COM2 leads to a device that is not there (Wine opens
# it, and its line settings cannot be read); COM7 to the end that tests/e2e/test_tcp_bridge.py's
# relay lays, mapped now, so that the relay need not restart the Wine server under the tests that
# run beside it.
map_test_ports() {
    wine_map_ports COM2 "$KELVANE_BUILD/null-modem/no-such-device" \
        COM7 "$KELVANE_BUILD/null-modem/COM7"
}
lay_cable
map_test_ports
lay_lanes "$KELVANE_TEST_LANES" map_test_ports

# Both builds' tests in one run, so that one schedule holds them all; the lanes are ctest's
# resource "lanes" (tests/CMakeLists.txt says which tests take one).
all="$KELVANE_BUILD/all-tests"
mkdir -p "$all"
printf 'subdirs("%s")\nsubdirs("%s")\n' "$KELVANE_NATIVE" "$KELVANE_BUILD" >"$all/CTestTestfile.cmake"
lanes=""
for n in $(seq 1 "$KELVANE_TEST_LANES"); do
    lanes+="${lanes:+, }{\"id\": \"$n\", \"slots\": 1}"
done
printf '{"version": {"major": 1, "minor": 0}, "local": [{"lanes": [%s]}]}\n' "$lanes" \
    >"$all/lanes.json"
ctest --test-dir "$all" -j "$KELVANE_TEST_JOBS" --resource-spec-file "$all/lanes.json" \
    --output-on-failure "$@"
