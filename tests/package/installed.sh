#!/usr/bin/env bash
# Builds the .deb and checks what it holds (the programs, the menu entry, the
# man page, the declared dependencies), then installs it for real (as root, on
# a machine where it is not installed) and uses it as a clinic would: a member
# of the group chengheng signs in under Xvfb and the daily backup lands in
# /var/lib/chengheng/backups, an account outside the group is told why it
# cannot open the file, root restores a backup without --db and the link stays
# a link, and neither removing nor purging the package deletes the database.
# The machine is left as it was: package purged, accounts, group and data
# folder removed. Exit 77 (skipped) when the install cannot be tried here.
set -euo pipefail
build="$1"
work="$(mktemp -d)"
chmod 755 "$work"
cd "$build"
cpack -G DEB >/dev/null
version="$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' CMakeCache.txt)"
deb="$PWD/chengheng_${version}_amd64.deb"
[ -f "$deb" ] || { echo "no $deb"; exit 1; }

fail() {
  echo "FAIL: $*"
  # What the installed program said, when it was started.
  [ ! -s "${work:-}/program.log" ] || head -40 "$work/program.log"
  exit 1
}

depends="$(dpkg-deb -f "$deb" Depends)"
for d in libqt6widgets6 libqt6printsupport6 libsqlite3-0 fonts-arphic-uming fonts-wqy-microhei qt6-translations-l10n; do
  grep -q "$d" <<<"$depends" || fail "Depends lacks $d: $depends"
done
root="$work/root"
dpkg-deb -x "$deb" "$root"
dpkg-deb -e "$deb" "$root/DEBIAN"
for s in preinst postinst prerm postrm; do sh -n "$root/DEBIAN/$s"; done
for f in usr/bin/chengheng usr/bin/chengheng-db usr/lib/chengheng/chengheng usr/lib/chengheng/chengheng-db \
         usr/share/applications/chengheng.desktop usr/share/icons/hicolor/64x64/apps/chengheng.png \
         usr/share/man/man1/chengheng-db.1.gz; do
  [ -e "$root/$f" ] || fail "missing /$f"
done
grep -q '^Categories=Office;MedicalSoftware;' "$root/usr/share/applications/chengheng.desktop"
# dpkg removes whatever stands at the place of a file it shipped: the link to
# the database is made by postinst, never shipped.
[[ "$(dpkg-deb -c "$deb")" != *usr/lib/chengheng/xs.mdb* ]] || fail "the package ships usr/lib/chengheng/xs.mdb"
[ "$("$root/usr/bin/chengheng" --version)" = "chengheng $version" ]
[ "$("$root/usr/bin/chengheng-db" --version)" = "chengheng-db $version" ]
rm -rf "$root"

skip() { echo "installed package: skipped: $*"; rm -rf "$work"; exit 77; }
[ "$(id -u)" = 0 ] || skip "installing needs root"
if dpkg-query -W -f='${Status}' chengheng 2>/dev/null | grep -q installed; then skip "chengheng is installed here"; fi
[ ! -e /var/lib/chengheng ] || skip "/var/lib/chengheng exists here"
[ ! -e /usr/lib/chengheng ] || skip "/usr/lib/chengheng exists here"
for t in apt-get Xvfb xdotool runuser setpriv useradd; do command -v "$t" >/dev/null || skip "$t is missing"; done

had_group=0
getent group chengheng >/dev/null && had_group=1
member=chtest-member
outsider=chtest-outsider
xvfb=""
program=""
cleanup() {
  set +e
  [ -z "$program" ] || kill "$program" 2>/dev/null
  [ -z "$xvfb" ] || kill "$xvfb" 2>/dev/null
  wait 2>/dev/null
  apt-get purge -y -qq -o DPkg::Lock::Timeout=300 chengheng >/dev/null 2>&1
  for u in "$member" "$outsider"; do getent passwd "$u" >/dev/null && userdel "$u"; done
  rm -rf /var/lib/chengheng /usr/lib/chengheng
  [ "$had_group" = 1 ] || ! getent group chengheng >/dev/null || groupdel chengheng
  rm -rf "$work"
}
trap cleanup EXIT

export DEBIAN_FRONTEND=noninteractive
apt-get install -y -qq -o DPkg::Lock::Timeout=300 "$deb" >"$work/apt.log" 2>&1 || { cat "$work/apt.log"; fail "install"; }
[ "$(readlink /usr/lib/chengheng/xs.mdb)" = /var/lib/chengheng/xs.mdb ] || fail "postinst made no link"
[ "$(stat -c '%G %a' /var/lib/chengheng)" = "chengheng 2770" ] || fail "data folder: $(stat -c '%G %a' /var/lib/chengheng)"

# The clinic's set-up, as the README gives it.
chengheng-db init /var/lib/chengheng/xs.mdb --demo >/dev/null
chgrp chengheng /var/lib/chengheng/xs.mdb && chmod 660 /var/lib/chengheng/xs.mdb
useradd -M -d "$work" -G chengheng "$member"
useradd -M -d "$work" "$outsider"

# Outside the group: the real file and the cause are named, nothing else.
set +e
runuser -u "$outsider" -- chengheng-db user list >"$work/out" 2>"$work/err"
rc=$?
set -e
[ "$rc" = 1 ] || fail "outsider's user list ended with $rc"
want="chengheng-db: 无法打开数据库文件 /var/lib/chengheng/xs.mdb：没有访问权限：本账户 $outsider 不在组 chengheng 中（/var/lib/chengheng 只对这个组开放）。请管理员运行 adduser $outsider chengheng，然后本账户注销并重新登录"
[ "$(cat "$work/err")" = "$want" ] || fail "outsider was told: $(cat "$work/err")"

# A member signs in to the installed program under Xvfb; the first sign-in of
# the day makes the daily backup beside the real file.
display=""
for d in $(seq 90 140); do
  [ -e "/tmp/.X$d-lock" ] || [ -e "/tmp/.X11-unix/X$d" ] || { display=$d; break; }
done
[ -n "$display" ] || fail "no free display"
Xvfb ":$display" -ac -nolisten tcp -screen 0 1280x1024x24 >/dev/null 2>&1 &
xvfb=$!
for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$display" ] && break; sleep 0.1; done
export DISPLAY=":$display"
# xkbcommon-x11 (under Qt's xcb platform) hands strndup a key name that is
# not NUL-terminated, which is lawful: the sanitizer build's strict string
# checks would stop the program at its first window for it.
asan="${ASAN_OPTIONS:+$ASAN_OPTIONS:strict_string_checks=0}"
setpriv --reuid="$member" --regid="$member" --init-groups \
  env HOME="$work" XDG_RUNTIME_DIR= QT_QPA_PLATFORM=xcb ${asan:+ASAN_OPTIONS="$asan"} chengheng >"$work/program.log" 2>&1 &
program=$!
window="$(timeout 30 xdotool search --sync --onlyvisible --name '^登录$' | head -1)" || fail "no login window"
xdotool windowfocus --sync "$window"
xdotool type --delay 20 admin
xdotool key Return
xdotool type --delay 20 admin123
xdotool key Return
backup="/var/lib/chengheng/backups/xs-$(date +%F).mdb"
for _ in $(seq 150); do [ -e "$backup" ] && break; sleep 0.2; done
[ -e "$backup" ] || { cat "$work/program.log"; ls -la /var/lib/chengheng /usr/lib/chengheng; fail "no daily backup $backup"; }
[ ! -e /usr/lib/chengheng/backups ] || fail "a backups folder beside the link"
[ "$(stat -c %G "$backup")" = chengheng ] || fail "backup group $(stat -c %G "$backup")"
# Beside it the anchor of its trail, which the live file's trail meets.
for _ in $(seq 50); do [ -e "$backup.anchor" ] && break; sleep 0.2; done
[ -e "$backup.anchor" ] || fail "no anchor beside the daily backup"
runuser -u "$member" -- chengheng-db audit verify --anchor "$backup.anchor" >/dev/null \
  || fail "the trail does not meet the daily backup's anchor"
kill "$program"
wait "$program" 2>/dev/null || true
program=""
kill "$xvfb"
wait "$xvfb" 2>/dev/null || true
xvfb=""
[[ "$(chengheng-db check)" == *检查通过* ]] || fail "check"

# Root restores without --db: the file the link leads to is replaced, with
# its group and mode; the link stays and the member can go on.
runuser -u "$member" -- chengheng-db config backup.keep 5 >/dev/null
chengheng-db restore "$backup" >/dev/null
[ -L /usr/lib/chengheng/xs.mdb ] || fail "restore replaced the link"
[ "$(stat -c '%G %a' /var/lib/chengheng/xs.mdb)" = "chengheng 660" ] || fail "restored file: $(stat -c '%U %G %a' /var/lib/chengheng/xs.mdb)"
[ -e /var/lib/chengheng/xs.mdb.before-restore ] || fail "the replaced file was not kept"
[ "$(runuser -u "$member" -- chengheng-db config)" = "backup.keep = 14" ] || fail "the restore did not take place"
runuser -u "$member" -- chengheng-db config backup.keep 7 >/dev/null || fail "member cannot write after the restore"

# An earlier package shipped the link, and a restore of that time replaced it
# by a file of root's: upgrading moves that file to the data folder (the one
# there is kept beside it) instead of letting dpkg delete it.
dpkg-deb -R "$deb" "$work/old"
rm -f "$work/old/DEBIAN/preinst" "$work/old/DEBIAN/prerm"
ln -s ../../../var/lib/chengheng/xs.mdb "$work/old/usr/lib/chengheng/xs.mdb"
dpkg-deb -b "$work/old" "$work/old.deb" >/dev/null
dpkg -i "$work/old.deb" >"$work/apt.log" 2>&1 || { cat "$work/apt.log"; fail "installing the earlier layout"; }
rm /usr/lib/chengheng/xs.mdb
install -m 600 "$backup" /usr/lib/chengheng/xs.mdb
dpkg -i "$deb" >"$work/apt.log" 2>&1 || { cat "$work/apt.log"; fail "upgrade"; }
[ "$(readlink /usr/lib/chengheng/xs.mdb)" = /var/lib/chengheng/xs.mdb ] || fail "no link after the upgrade"
cmp -s "$backup" /var/lib/chengheng/xs.mdb || fail "the file at the link's place did not move to the data folder"
[ "$(stat -c '%G %a' /var/lib/chengheng/xs.mdb)" = "chengheng 660" ] || fail "moved file: $(stat -c '%G %a' /var/lib/chengheng/xs.mdb)"
ls /var/lib/chengheng/xs.mdb.replaced-* >/dev/null 2>&1 || fail "the data folder's file was not kept"

# Removing and purging the package leave every database file.
apt-get remove -y -qq -o DPkg::Lock::Timeout=300 chengheng >"$work/apt.log" 2>&1 || { cat "$work/apt.log"; fail "remove"; }
[ -f /var/lib/chengheng/xs.mdb ] && [ -f /var/lib/chengheng/xs.mdb.before-restore ] && [ -f "$backup" ] \
  || fail "remove deleted records"
[ ! -e /usr/lib/chengheng/xs.mdb ] || fail "remove left the link"
apt-get purge -y -qq -o DPkg::Lock::Timeout=300 chengheng >"$work/apt.log" 2>&1 || { cat "$work/apt.log"; fail "purge"; }
[ -f /var/lib/chengheng/xs.mdb ] && [ -f "$backup" ] || fail "purge deleted records"
echo "installed package: 1 passed, 0 failed"
