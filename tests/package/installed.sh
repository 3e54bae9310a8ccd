#!/usr/bin/env bash
# Builds the .deb, unpacks it into a temporary root and starts the installed
# programs there: the links, the database location, the menu entry, the man
# page and the declared dependencies.
set -euo pipefail
build="$1"
root="$(mktemp -d)"
trap 'rm -rf "$root"' EXIT
cd "$build"
cpack -G DEB >/dev/null
version="$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' CMakeCache.txt)"
deb="chengheng_${version}_amd64.deb"
[ -f "$deb" ] || { echo "no $deb"; exit 1; }

depends="$(dpkg-deb -f "$deb" Depends)"
for d in libqt6widgets6 libqt6printsupport6 libsqlite3-0 fonts-arphic-uming fonts-wqy-microhei qt6-translations-l10n; do
  grep -q "$d" <<<"$depends" || { echo "Depends lacks $d: $depends"; exit 1; }
done
dpkg-deb -x "$deb" "$root"
dpkg-deb -e "$deb" "$root/DEBIAN"
sh -n "$root/DEBIAN/postinst"
for f in usr/bin/chengheng usr/bin/chengheng-db usr/lib/chengheng/chengheng usr/lib/chengheng/chengheng-db \
         usr/share/applications/chengheng.desktop usr/share/icons/hicolor/64x64/apps/chengheng.png \
         usr/share/man/man1/chengheng-db.1.gz; do
  [ -e "$root/$f" ] || { echo "missing /$f"; exit 1; }
done
grep -q '^Categories=Office;MedicalSoftware;' "$root/usr/share/applications/chengheng.desktop"
[ "$(readlink "$root/usr/lib/chengheng/xs.mdb")" = ../../../var/lib/chengheng/xs.mdb ]

[ "$("$root/usr/bin/chengheng" --version)" = "chengheng $version" ]
[ "$("$root/usr/bin/chengheng-db" --version)" = "chengheng-db $version" ]

# The installed tool makes its database in the data folder through the link.
mkdir -p "$root/var/lib/chengheng"
"$root/usr/bin/chengheng-db" init "$root/var/lib/chengheng/xs.mdb" --demo >/dev/null
"$root/usr/bin/chengheng-db" user list | grep -q admin

# The installed program starts on it and keeps running until stopped.
set +e
QT_QPA_PLATFORM=offscreen timeout 3 "$root/usr/bin/chengheng" 2>"$root/stderr"
rc=$?
set -e
[ "$rc" = 124 ] || { echo "the installed program ended with $rc"; cat "$root/stderr"; exit 1; }
[ -e "$root/var/lib/chengheng/xs.mdb-wal" ] || [ -e "$root/var/lib/chengheng/xs.mdb" ]
echo "installed package: 1 passed, 0 failed"
