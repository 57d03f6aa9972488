# Sourced by the scripts that run the programs under Wine: the private X display, the test cable
# and the cleanup they share. Needs xvfb-run, python3 and wine (scripts/setup.sh installs them).

source "$(dirname "${BASH_SOURCE[0]}")/../wine-env.sh"

# Runs the calling script again, with the arguments given, on a private X display of SCREEN
# (WIDTHxHEIGHTxDEPTH), so that no window of it opens on the user's screen; on that display it
# returns and the script goes on. Installs and builds what is missing first (scripts/setup.sh),
# its report kept off the output with --quiet.
#   on_private_display [--quiet] SCREEN [ARGS...]
on_private_display() {
    local quiet=""
    if [ "${1:-}" = "--quiet" ]; then
        quiet=1
        shift
    fi
    local screen="$1"
    shift
    [ -n "${KELVANE_IN_XVFB:-}" ] && return 0
    if [ -n "$quiet" ]; then
        bash "$KELVANE_ROOT/scripts/setup.sh" >/dev/null
    else
        bash "$KELVANE_ROOT/scripts/setup.sh"
    fi
    KELVANE_IN_XVFB=1 exec xvfb-run -a -s "-screen 0 $screen" \
        bash "$KELVANE_ROOT/scripts/$(basename "$0")" "$@"
}

# Lays the virtual null-modem cable, the panel's end as COM1 (the panel's first choice) and the
# monitor's as COM16, and tells the tests where its ends and its log are. --quiet keeps the
# cable's report off the output.
#   lay_cable [--quiet]
lay_cable() {
    if [ "${1:-}" = "--quiet" ]; then
        bash "$KELVANE_ROOT/scripts/null-modem.sh" start COM1 COM16 >/dev/null
    else
        bash "$KELVANE_ROOT/scripts/null-modem.sh" start COM1 COM16
    fi
    export KELVANE_PANEL_PORT=COM1 KELVANE_MONITOR_PORT=COM16
    # Where the tests under Wine find the cable's log and pull the cable out.
    KELVANE_CABLE="$(winepath -w "$KELVANE_BUILD/null-modem")"
    export KELVANE_CABLE
}

# Lays lanes 2 to COUNT beside the build folder, which is lane 1, for tests that run side by side:
# each lane a build folder of its own, $KELVANE_BUILD/lanes/N, with the build's programs linked
# in, a Wine prefix of its own (hard links to the build's files; the registry and the settings,
# which Wine writes, copied) and a cable of its own with the same COM names. Then runs COMMAND in
# each lane. A test runs in the lane ctest gives it through scripts/lib/in-lane.sh. Call it after
# lay_cable, once the build's prefix holds its port mappings.
#   lay_lanes COUNT [COMMAND...]
lay_lanes() {
    local count="$1" n lane file pids=()
    shift
    rm -rf "$KELVANE_BUILD/lanes"
    for n in $(seq 2 "$count"); do
        lane="$KELVANE_BUILD/lanes/$n"
        mkdir -p "$lane"
        ln -s "$KELVANE_BIN" "$lane/bin"
        ln -s "$KELVANE_NATIVE" "$lane/native"
        cp -al "$WINEPREFIX" "$lane/wineprefix"
        for file in "$lane"/wineprefix/*.reg "$lane"/wineprefix/drive_c/windows/*.ini; do
            cp "$file" "$file.copy" && mv "$file.copy" "$file"
        done
        (
            export KELVANE_BUILD="$lane"
            source "$KELVANE_ROOT/scripts/wine-env.sh"
            bash "$KELVANE_ROOT/scripts/null-modem.sh" start COM1 COM16 >/dev/null
            "$@"
        ) &
        pids+=($!)
    done
    for n in "${pids[@]}"; do
        wait "$n"
    done
}

# Ends the cables (lanes' too) and their relays, then the Wine servers while their display still
# exists: left over, a server would be hung up on when the private display goes.
end_wine_session() {
    local lane
    for lane in "$KELVANE_BUILD"/lanes/*; do
        [ -d "$lane/null-modem" ] || continue
        KELVANE_BUILD="$lane" bash "$KELVANE_ROOT/scripts/null-modem.sh" stop
        WINEPREFIX="$lane/wineprefix" wineserver -k 2>/dev/null || true
    done
    bash "$KELVANE_ROOT/scripts/null-modem.sh" stop
    wineserver -k 2>/dev/null || true
}
