#!/usr/bin/env bash
# Runs the printing test against a throwaway CUPS server: its own
# configuration, spool, logs and socket in a temporary folder, one cups-pdf
# queue writing into that folder. The server is stopped when the test ends,
# however it ends. Without root (cups-pdf's backend runs as root) or without
# the packages the test is run with nothing to reach, and skips saying why.
# Usage: cupsprint.sh TEST_PROGRAM [test arguments...]
set -uo pipefail
test_program="$1"; shift
skip() { local why="$1"; shift; XS_CUPS_SKIP="$why" exec "$test_program" "$@"; }
[ "$(id -u)" -eq 0 ] || skip "打印测试需要以 root 启动 cupsd（cups-pdf 的后端以 root 运行）" "$@"
for tool in /usr/sbin/cupsd /usr/sbin/lpadmin /usr/bin/pdfinfo /usr/bin/pdftoppm /usr/lib/cups/backend/cups-pdf; do
  [ -x "$tool" ] || skip "缺少 $tool（scripts/setup 会安装 cups、printer-driver-cups-pdf 与 poppler-utils）" "$@"
done

root="$(mktemp -d /tmp/xs-cups.XXXXXX)"
chmod 755 "$root"
pid=""
stop() {
  if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; then
    kill "$pid"
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -9 "$pid" 2>/dev/null
  fi
  rm -rf "$root"
}
trap stop EXIT

mkdir -p "$root"/{etc/ppd,spool/tmp,cache,state,log,out,pdfspool}
chmod 700 "$root/spool"
sock="$root/cups.sock"
cat >"$root/etc/cupsd.conf" <<CONF
Listen $sock
LogLevel warn
WebInterface No
Browsing No
DefaultAuthType None
<Location />
  Order allow,deny
  Allow all
</Location>
<Location /admin>
  Order allow,deny
  Allow all
</Location>
CONF
cat >"$root/etc/cups-files.conf" <<CONF
ServerRoot $root/etc
RequestRoot $root/spool
TempDir $root/spool/tmp
CacheDir $root/cache
StateDir $root/state
ErrorLog $root/log/error_log
AccessLog $root/log/access_log
PageLog $root/log/page_log
SystemGroup root
FileDevice No
CONF
# cups-pdf reads its configuration only from /etc/cups/cups-pdf.conf. The
# server runs in a mount namespace of its own in which that file is this one;
# everywhere else /etc/cups stays as the packages installed it.
cat >"$root/cups-pdf.conf" <<CONF
Out $root/out
AnonDirName $root/out
Spool $root/pdfspool
UserPrefix
Label 0
Log $root/log
LogType 1
CONF

unshare --mount --propagation private /bin/sh -c \
  'mount --bind "$1/cups-pdf.conf" /etc/cups/cups-pdf.conf && exec /usr/sbin/cupsd -f -c "$1/etc/cupsd.conf" -s "$1/etc/cups-files.conf"' \
  sh "$root" 2>"$root/log/start" &
pid=$!
export CUPS_SERVER="$sock"
for _ in $(seq 100); do
  [ -S "$sock" ] && /usr/bin/lpstat -r >/dev/null 2>&1 && break
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.1
done
if ! /usr/bin/lpstat -r >/dev/null 2>&1; then
  if grep -q "unshare\|mount" "$root/log/start" 2>/dev/null; then
    skip "无法为 cupsd 建立独立的挂载空间（需要 CAP_SYS_ADMIN）：$(head -1 "$root/log/start")" "$@"
  fi
  cat "$root/log/start" "$root/log/error_log" 2>/dev/null >&2
  echo "cupsd did not start" >&2
  exit 1
fi
/usr/sbin/lpadmin -p XS-PDF -E -v cups-pdf:/ -P /usr/share/ppd/cups-pdf/CUPS-PDF_opt.ppd 2>>"$root/log/start" || exit 1
/usr/sbin/lpadmin -d XS-PDF 2>>"$root/log/start" || exit 1

XS_CUPS_QUEUE=XS-PDF XS_CUPS_OUT="$root/out" XS_CUPS_LOG="$root/log/error_log" "$test_program" "$@"
