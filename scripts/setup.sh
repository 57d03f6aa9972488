#!/usr/bin/env bash
# Installs what building and running the panel needs on Debian (when missing), builds everything
# with the mingw-w64 cross compiler, builds the parts in standard C++ alone (the protocol core and
# its tests) with the host compiler too, and prepares the private Wine prefix under the build
# folder.
# Needs apt-get with root or sudo the first time; afterwards only rebuilds.
set -euo pipefail
source "$(dirname "$0")/wine-env.sh"

# The 64-bit posix-threads mingw-w64 C++ compiler (with its C compiler, binutils and headers);
# Wine with Debian's Marlett (fonts-wine) and a Korean font for the dialogs; Xvfb (xvfb-run
# needs xauth) for a private display; GoogleTest's sources, and its Linux build for the Linux
# build's tests; the header-only libraries of the
# console programs and the service (CLI11 for switches, nlohmann-json, toml++), libmicrohttpd
# (the service's HTTP server) with GnuTLS's headers (its HTTPS), zlib's headers (the service's gzip answers), libmosquitto (its MQTT
# bridge) and libcurl's (kelvanectl's HTTP client on Linux); for the packages, wixl (the Windows Installer
# package), msitools, dpkg-dev (the Debian packages' control data), lintian and systemd (systemd-analyze checks the service's unit); for the tests
# of the service and its page, Prometheus (a real server scraping it, and promtool), wrk (load),
# gnutls-bin (certtool: the HTTPS test's own certificates),
# Chromium with its driver and Selenium (the page in a real browser), the mosquitto broker and
# paho-mqtt (the MQTT bridge against a real broker).
packages=(cmake make g++ g++-mingw-w64-x86-64-posix wine wine64 xvfb xauth python3
          fonts-nanum fonts-wine googletest libgtest-dev libcli11-dev nlohmann-json3-dev libmicrohttpd-dev
          libgnutls28-dev gnutls-bin libtomlplusplus-dev zlib1g-dev libcurl4-openssl-dev wixl msitools dpkg-dev lintian systemd prometheus wrk
          chromium chromium-driver python3-selenium libmosquitto-dev mosquitto python3-paho-mqtt)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "== installing ${missing[*]}"
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    $sudo apt-get update
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${missing[@]}"
fi

# KELVANE_DEBUG_INFO=OFF builds without debug information (CI does).
settings=()
[ -n "${KELVANE_DEBUG_INFO:-}" ] && settings+=(-DKELVANE_DEBUG_INFO="$KELVANE_DEBUG_INFO")
cmake -S "$KELVANE_ROOT" -B "$KELVANE_BUILD" "${settings[@]}" \
    -DCMAKE_TOOLCHAIN_FILE="$KELVANE_ROOT/cmake/mingw-w64-x86_64.cmake" >/dev/null
cmake -S "$KELVANE_ROOT" -B "$KELVANE_NATIVE" "${settings[@]}" >/dev/null

# The Linux build and the Wine prefix come about beside the Windows build, their reports kept
# until it is done: each alone leaves the cores idle while it links or waits.
mkdir -p "$KELVANE_BUILD"
native_log="$KELVANE_BUILD/native-build.log"
prefix_log="$KELVANE_BUILD/wine-prefix.log"
cmake --build "$KELVANE_NATIVE" -j "$(nproc)" >"$native_log" 2>&1 &
native=$!
wine_prefix_ready >"$prefix_log" 2>&1 &
prefix=$!

echo "== building in $KELVANE_BUILD"
status=0
cmake --build "$KELVANE_BUILD" -j "$(nproc)" || status=$?
echo "== building for Linux in $KELVANE_NATIVE"
wait "$native" || status=$?
cat "$native_log"
wait "$prefix" || status=$?
cat "$prefix_log"
exit "$status"
