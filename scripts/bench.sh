#!/usr/bin/env bash
# Times 50 query transactions of the panel, the panel's operations clicked in the real program,
# kelvanectl status on one and on eight monitors, kelvaned with 64 monitors (alone, beside a crowd
# of idle and dripping connections, after the hostile clients' table, and a group's source switch
# on all of them), a site of 1,000, its check and reload of 10,000, its MQTT bridge and its page in
# headless Chromium with 256, against the simulated monitor, and prints the figures. Installs and
# builds what is missing first.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib/session.sh

on_private_display --quiet 1280x1024x24 "$@"
trap end_wine_session EXIT
# The benchmarks' own programs, which the builds leave out.
cmake --build "$KELVANE_BUILD" -j "$(nproc)" --target transaction_bench operation_bench >/dev/null
cmake --build "$KELVANE_NATIVE" -j "$(nproc)" --target protocol_floors >/dev/null
lay_cable --quiet

# The Wine server does part of the work of every serial call; its CPU time counts too. The
# prefix's server runs in a folder named after the prefix's device and inode.
wine_server_cpu() {
    local id p
    id="server-$(stat -c %D "$WINEPREFIX")-$(printf %x "$(stat -c %i "$WINEPREFIX")")"
    for p in $(pgrep wineserver); do
        if [ "$(basename "$(readlink "/proc/$p/cwd")")" = "$id" ]; then
            awk '{print $14 + $15}' "/proc/$p/stat"
            return
        fi
    done
    echo 0
}
wine cmd /c exit >/dev/null 2>&1 # starts the Wine server before the count begins
before=$(wine_server_cpu)
wine "$KELVANE_BIN/transaction_bench.exe"
after=$(wine_server_cpu)
hz=$(getconf CLK_TCK)
awk -v t=$((after - before)) -v hz="$hz" \
    'BEGIN { printf "Wine server CPU:         %.0f ms over the run\n", 1000 * t / hz }'

# The operations as the operator meets them: each click to its end in the real Kelvane.exe.
wine "$KELVANE_BIN/operation_bench.exe"

# kelvanectl, the native program, against simulated monitors on the cable and over TCP.
python3 tests/bench/kelvanectl_bench.py

# kelvaned, the native service, against a simulated fleet of 64 monitors on 8 device servers, and
# against hostile clients.
python3 tests/bench/kelvaned_bench.py

# A group's source switch on those 64 monitors: the lines side by side.
python3 tests/bench/group_bench.py

# A site of 1,000 monitors on 125 device servers (two simulators), polled fast every 10 s: the
# sweep, memory, CPU, the answers under load and the page. Debian's Selenium is for Debian's
# Python.
/usr/bin/python3 tests/bench/site_bench.py

# kelvaned --check and a reload of generated files of 10,000 monitors.
python3 tests/bench/config_bench.py
# kelvaned's MQTT bridge with 256 monitors on 32 device servers and a real broker (mosquitto);
# paho-mqtt is Debian's.
/usr/bin/python3 tests/bench/mqtt_bench.py

# kelvaned's page in headless Chromium with 256 monitors on 32 device servers. Debian's Selenium
# is for Debian's Python.
/usr/bin/python3 tests/bench/page_bench.py
