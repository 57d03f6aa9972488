#!/usr/bin/env bash
# Builds the Windows package: dist/Kelvane-VERSION.zip with Kelvane.exe, monitor-sim.exe and a
# short text on running them, VERSION read from the version record of the built Kelvane.exe.
# Installs and builds what is missing first (scripts/setup.sh); needs python3.
#
#   scripts/package.sh                  build, then package into dist/
#   scripts/package.sh --built --out D  package what the build folder holds, into D
set -euo pipefail
cd "$(dirname "$0")/.."

build=1
out="dist"
while [ $# -gt 0 ]; do
    case "$1" in
    --built) build=0; shift ;;
    --out) out="$2"; shift 2 ;;
    *) echo "usage: $0 [--built] [--out FOLDER]" >&2; exit 2 ;;
    esac
done

[ "$build" -eq 0 ] || bash scripts/setup.sh
source scripts/wine-env.sh
for exe in Kelvane.exe monitor-sim.exe; do
    [ -f "$KELVANE_BIN/$exe" ] || { echo "$KELVANE_BIN/$exe is not built" >&2; exit 1; }
done
mkdir -p "$out"

python3 - "$KELVANE_BIN" "$out" "$KELVANE_ROOT/docs/package-readme.txt" <<'PY'
import os, re, struct, sys, zipfile

bin_folder, out, readme = sys.argv[1:]
exe = open(os.path.join(bin_folder, "Kelvane.exe"), "rb").read()

# The version record is the resource VS_VERSION_INFO: its key in UTF-16, then (aligned to four
# bytes) the fixed file information, which opens with the signature 0xFEEF04BD and holds the
# file version as two 32-bit words, major.minor and build.revision.
key = exe.find("VS_VERSION_INFO".encode("utf-16-le"))
signature = exe.find(struct.pack("<I", 0xFEEF04BD), key)
if key < 0 or signature < 0 or signature - key > 40:
    sys.exit("Kelvane.exe has no version record")
high, low = struct.unpack_from("<II", exe, signature + 8)
version = "%d.%d.%d.%d" % (high >> 16, high & 0xFFFF, low >> 16, low & 0xFFFF)

name = "Kelvane-" + version
text = open(readme, encoding="utf-8").read().replace("@VERSION@", version)
path = os.path.join(out, name + ".zip")
with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as package:
    for program in ("Kelvane.exe", "monitor-sim.exe"):
        package.write(os.path.join(bin_folder, program), name + "/" + program)
    # Line ends for Notepad.
    package.writestr(name + "/README.txt", text.replace("\n", "\r\n"))
print(path)
PY
