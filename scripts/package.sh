#!/usr/bin/env bash
# Builds the panel's zip and Windows Installer package, and the Debian packages of kelvanectl and
# of the service kelvaned.
# Needs the builds and the tools scripts/setup.sh installs (python3, wixl, dpkg-dev); runs it first.
#
#   scripts/package.sh                  build, then package into dist/: Kelvane-VERSION.zip,
#                                       Kelvane-VERSION.msi, kelvanectl_VERSION_amd64.deb,
#                                       kelvaned_VERSION_amd64.deb
#   scripts/package.sh --built --out D  package what the build folders hold, into D
#   scripts/package.sh --version V      label the packages V instead (to try an upgrade with a
#                                       package of a higher version)
#
# VERSION is the version record of the built Kelvane.exe (FILEVERSION in res/Kelvane.rc).
set -euo pipefail
cd "$(dirname "$0")/.."

build=1
out="dist"
version=""
while [ $# -gt 0 ]; do
    case "$1" in
    --built) build=0; shift ;;
    --out) out="$2"; shift 2 ;;
    --version) version="$2"; shift 2 ;;
    *) echo "usage: $0 [--built] [--out FOLDER] [--version A.B.C.D]" >&2; exit 2 ;;
    esac
done

[ "$build" -eq 0 ] || bash scripts/setup.sh
source scripts/wine-env.sh
umask 022

# Every program the packages carry: Windows builds, and the Linux builds of kelvanectl and kelvaned.
for program in "$KELVANE_BIN/Kelvane.exe" "$KELVANE_BIN/monitor-sim.exe" \
               "$KELVANE_BIN/kelvanectl.exe" "$KELVANE_NATIVE/bin/kelvanectl" \
               "$KELVANE_NATIVE/bin/kelvaned"; do
    if [ ! -f "$program" ]; then
        echo "package.sh: $program is not built, and the packages carry it" >&2
        echo "(scripts/setup.sh builds everything)" >&2
        exit 1
    fi
done
for tool in python3 wixl dpkg-shlibdeps dpkg-gencontrol dpkg-deb; do
    command -v "$tool" >/dev/null ||
        { echo "package.sh: $tool is missing (scripts/setup.sh installs it)" >&2; exit 1; }
done

if [ -z "$version" ]; then
    version=$(python3 - "$KELVANE_BIN/Kelvane.exe" <<'PY'
import struct, sys

exe = open(sys.argv[1], "rb").read()
# The version record is the resource VS_VERSION_INFO: its key in UTF-16, then (aligned to four
# bytes) the fixed file information, which opens with the signature 0xFEEF04BD and holds the
# file version as two 32-bit words, major.minor and build.revision.
key = exe.find("VS_VERSION_INFO".encode("utf-16-le"))
signature = exe.find(struct.pack("<I", 0xFEEF04BD), key)
if key < 0 or signature < 0 or signature - key > 40:
    sys.exit("Kelvane.exe has no version record")
high, low = struct.unpack_from("<II", exe, signature + 8)
print("%d.%d.%d.%d" % (high >> 16, high & 0xFFFF, low >> 16, low & 0xFFFF))
PY
)
fi
[[ "$version" =~ ^([0-9]+)\.([0-9]+)\.([0-9]+)\.([0-9]+)$ ]] ||
    { echo "package.sh: $version is not a version A.B.C.D" >&2; exit 2; }
# Windows Installer reads only the first three fields of a version; see packaging/Kelvane.wxs.
next_build="${BASH_REMATCH[1]}.${BASH_REMATCH[2]}.$((BASH_REMATCH[3] + 1))"

mkdir -p "$out"
out=$(cd "$out" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
readme=$(sed "s/@VERSION@/$version/g" docs/package-readme.txt)

# The zip and the installer hold the same files: the three programs and the text, whose lines
# end for Notepad.
files="$work/files"
mkdir -p "$files"
cp "$KELVANE_BIN/Kelvane.exe" "$KELVANE_BIN/kelvanectl.exe" "$KELVANE_BIN/monitor-sim.exe" "$files/"
printf '%s\n' "$readme" | sed 's/$/\r/' > "$files/README.txt"

python3 - "$files" "$out/Kelvane-$version.zip" "Kelvane-$version" <<'PY'
import os, sys, zipfile

files, path, folder = sys.argv[1:]
with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as package:
    for name in sorted(os.listdir(files)):
        package.write(os.path.join(files, name), folder + "/" + name)
PY
echo "$out/Kelvane-$version.zip"

# wixl takes the files' paths relative to the folder it runs in.
(cd "$work" && wixl -a x64 -D Version="$version" -D NextBuild="$next_build" -D Files=files \
    -o "$out/Kelvane-$version.msi" "$KELVANE_ROOT/packaging/Kelvane.wxs")
echo "$out/Kelvane-$version.msi"

# The Debian package, made the way dpkg's own tools make one: the control data from
# packaging/kelvanectl.control, the dependencies from the libraries the program links, a
# changelog entry for the version.
root="$work/debian/kelvanectl"
doc="$root/usr/share/doc/kelvanectl"
mkdir -p "$root/DEBIAN" "$root/usr/bin" "$root/usr/share/man/man1" "$doc"
install -m 755 "$KELVANE_NATIVE/bin/kelvanectl" "$root/usr/bin/kelvanectl"
strip --remove-section=.comment --remove-section=.note --strip-unneeded "$root/usr/bin/kelvanectl"
sed "s/@VERSION@/$version/g" docs/kelvanectl.1 |
    gzip -9n > "$root/usr/share/man/man1/kelvanectl.1.gz"
printf '%s\n' "$readme" > "$doc/README"
cp packaging/copyright "$doc/copyright"
cp packaging/kelvanectl.control "$work/debian/control"
maintainer=$(sed -n 's/^Maintainer: //p' packaging/kelvanectl.control)
# The entry is dated by the last commit: the date moves with the source, not with the packaging.
date=$(date -R -u -d "@${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct 2>/dev/null || date +%s)}")
cat > "$work/debian/changelog" <<EOF
kelvanectl ($version) unstable; urgency=medium

  * kelvanectl of the Orvanta panel $version.

 -- $maintainer  $date
EOF
gzip -9n < "$work/debian/changelog" > "$doc/changelog.gz"
(
    cd "$work"
    dpkg-shlibdeps -Tdebian/substvars debian/kelvanectl/usr/bin/kelvanectl
    dpkg-gencontrol -pkelvanectl -Pdebian/kelvanectl
)
(cd "$root" && find usr -type f | sort | xargs md5sum) > "$root/DEBIAN/md5sums"
deb="$out/kelvanectl_${version}_$(dpkg --print-architecture).deb"
dpkg-deb --root-owner-group -Zxz --build "$root" "$deb" >/dev/null
echo "$deb"

# The Debian package of the service, made the same way: the program in /usr/sbin, its unit and the
# template unit that runs one kelvanectl command through it (kelvanectl is a dependency), the
# example configuration as a conffile (no monitors: it starts with an empty fleet), the manual
# page, a Prometheus configuration and alert rules as examples, and the maintainer scripts that
# make its system user and token and look after the unit.
root="$work/debian/kelvaned"
doc="$root/usr/share/doc/kelvaned"
mkdir -p "$root/DEBIAN" "$root/usr/sbin" "$root/usr/share/man/man8" "$doc/examples" \
    "$root/etc/kelvaned" "$root/lib/systemd/system"
install -m 755 "$KELVANE_NATIVE/bin/kelvaned" "$root/usr/sbin/kelvaned"
strip --remove-section=.comment --remove-section=.note --strip-unneeded "$root/usr/sbin/kelvaned"
install -m 644 packaging/kelvaned.service "$root/lib/systemd/system/kelvaned.service"
install -m 644 "packaging/kelvane-run@.service" "$root/lib/systemd/system/kelvane-run@.service"
install -m 644 packaging/kelvaned.toml "$root/etc/kelvaned/kelvaned.toml"
echo /etc/kelvaned/kelvaned.toml > "$root/DEBIAN/conffiles"
for script in postinst prerm postrm; do
    install -m 755 "packaging/kelvaned.$script" "$root/DEBIAN/$script"
done
sed "s/@VERSION@/$version/g" docs/kelvaned.8 | gzip -9n > "$root/usr/share/man/man8/kelvaned.8.gz"
cp packaging/kelvaned.copyright "$doc/copyright"
install -m 644 examples/prometheus.yml examples/kelvane.rules.yml "$doc/examples/"
cp packaging/kelvaned.control "$work/debian/control"
cat > "$work/debian/changelog" <<EOF
kelvaned ($version) unstable; urgency=medium

  * kelvaned of the Orvanta panel $version.

 -- $maintainer  $date
EOF
gzip -9n < "$work/debian/changelog" > "$doc/changelog.gz"
(
    cd "$work"
    rm -f debian/substvars
    dpkg-shlibdeps -Tdebian/substvars debian/kelvaned/usr/sbin/kelvaned
    dpkg-gencontrol -pkelvaned -Pdebian/kelvaned
)
(cd "$root" && find usr lib -type f | sort | xargs md5sum) > "$root/DEBIAN/md5sums"
deb="$out/kelvaned_${version}_$(dpkg --print-architecture).deb"
dpkg-deb --root-owner-group -Zxz --build "$root" "$deb" >/dev/null
echo "$deb"
