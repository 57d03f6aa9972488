#!/usr/bin/env bash
# Runs a test's command in the lane ctest gave it (its resource "lanes", from the resource file of
# scripts/test.sh): the lane's build folder, Wine prefix and cable, as lay_lanes laid them. Lane 1,
# or a run without lanes, is the build folder itself, as scripts/test.sh set it up.
#   in-lane.sh COMMAND [ARGS...]
set -euo pipefail

# ctest names the lane as "id:N,slots:1".
lane="${CTEST_RESOURCE_GROUP_0_LANES:-id:1}"
lane="${lane#id:}"
lane="${lane%%,*}"
if [ "$lane" != 1 ]; then
    export KELVANE_BUILD="$KELVANE_BUILD/lanes/$lane"
    source "$(dirname "${BASH_SOURCE[0]}")/../wine-env.sh"
    # The Windows path of the lane's cable folder, on Wine's drive Z: (the root).
    cable="$KELVANE_BUILD/null-modem"
    export KELVANE_CABLE="Z:${cable//\//\\}"
fi
exec "$@"
