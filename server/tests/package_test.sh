#!/usr/bin/env bash
# The Debian package, end to end on this machine (as root, without a running
# systemd): built with CPack, its contents and maintainer scripts inspected,
# installed with dpkg -i; the user, the state folder and the unit checked; the
# packaged binary started as the service's user on a loopback port and given a
# report; removed (the data stays, and a new install finds it), then purged
# (everything goes). Whatever happens, the machine is left as it was found.
#
# It never touches a real installation: when a zeq-server package, user, binary
# or state folder exists that this test did not make, it skips (exit 77).
#
# Usage: package_test.sh SERVER_BUILD_DIR SOURCE_DIR WORK_DIR REPORT_JSON
set -euo pipefail
build=$1 source_dir=$2 work=$3 report=$4

skip() {
  echo "SKIPPED: $*"
  exit 77
}
[ "$(id -u)" -eq 0 ] || skip "installing a package needs root"
for tool in dpkg dpkg-deb cpack curl setpriv useradd readelf; do
  command -v "$tool" >/dev/null || skip "$tool is missing"
done

# One run at a time on this machine (other build trees may run this test too),
# and a record of a package installed by this test, for the run after a crash.
lock=/run/lock/zeq-server-package-test.lock
marker=/run/lock/zeq-server-package-test.installed
exec 9>"$lock"
flock -w 600 9 || skip "another run of this test holds $lock"

package_status() {
  dpkg-query -W -f='${db:Status-Status}' zeq-server 2>/dev/null || echo not-installed
}
if [ -e "$marker" ]; then
  echo "A previous run of this test left its package: purging it."
  dpkg --purge zeq-server >/dev/null
  rm -f "$marker"
fi
if [ "$(package_status)" != not-installed ]; then
  skip "a zeq-server package is already on this machine ($(package_status)), not from this test"
fi
if getent passwd zeq-server >/dev/null || getent group zeq-server >/dev/null ||
  [ -e /var/lib/zeq-server ] || [ -e /usr/bin/zeq-server ] || [ -e /usr/local/bin/zeq-server ]; then
  skip "zeq-server is installed by hand on this machine (user, folder or binary)"
fi

server_pid=''
cleanup() {
  if [ -n "$server_pid" ]; then
    kill "$server_pid" 2>/dev/null || true
    wait "$server_pid" 2>/dev/null || true
  fi
  if [ -e "$marker" ]; then
    dpkg --purge zeq-server >/dev/null 2>&1 || true
    rm -f "$marker"
  fi
}
trap cleanup EXIT

failures=0
matches() { [[ $1 =~ $2 ]]; }
not() { ! "$@"; }
user_exists() { getent passwd zeq-server >/dev/null; }
group_exists() { getent group zeq-server >/dev/null; }
check() { # description, then a command that must succeed
  local what=$1
  shift
  if "$@"; then
    echo "ok: $what"
  else
    echo "FAIL: $what"
    failures=$((failures + 1))
  fi
}
must() { # as check, but nothing after it makes sense when it fails
  local before=$failures
  check "$@"
  [ "$failures" -eq "$before" ] || exit 1
}

rm -rf "$work"
mkdir -p "$work"
cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work" >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log"; exit 1; }
arch=$(dpkg --print-architecture)
version=$(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' "$build/CPackConfig.cmake")
deb=$work/zeq-server_${version}_${arch}.deb
must "built $(basename "$deb")" test -f "$deb"
echo "package: $(stat -c %s "$deb") bytes"

# Contents: path, mode and owner of each file the package must carry.
dpkg-deb -c "$deb" >"$work/contents"
has_entry() { # mode, path
  awk -v mode="$1" -v path="$2" '$1 == mode && $2 == "root/root" && $6 == path { found = 1 }
    END { exit !found }' "$work/contents"
}
while read -r mode path; do
  check "contains $path ($mode root/root)" has_entry "$mode" "$path"
done <<'EOF'
-rwxr-xr-x ./usr/bin/zeq-server
-rw-r--r-- ./lib/systemd/system/zeq-server.service
-rw-r--r-- ./etc/nginx/sites-available/zeq-server
-rw-r--r-- ./etc/nginx/sites-available/zeq-console
-rw-r--r-- ./usr/share/doc/zeq-server/server.md
EOF
check "nothing under /var/lib or /usr/local in the package" \
  not grep -qE ' \./(var/lib|usr/local)/' "$work/contents"
dpkg-deb -x "$deb" "$work/root"
check "the unit is docs/zeq-server.service" \
  cmp "$work/root/lib/systemd/system/zeq-server.service" "$source_dir/docs/zeq-server.service"
check "the nginx site is deploy/nginx/zeq-server.conf" \
  cmp "$work/root/etc/nginx/sites-available/zeq-server" "$source_dir/deploy/nginx/zeq-server.conf"
check "the console's nginx site is deploy/nginx/zeq-console.conf" \
  cmp "$work/root/etc/nginx/sites-available/zeq-console" "$source_dir/deploy/nginx/zeq-console.conf"
check "the unit runs the packaged binary as zeq-server" \
  grep -qx 'ExecStart=/usr/bin/zeq-server serve \\' "$work/root/lib/systemd/system/zeq-server.service"
symbols_or_debug() { readelf -S "$1" | grep -q -e '\.debug_info' -e '\.symtab'; }
check "the packaged binary is stripped" not symbols_or_debug "$work/root/usr/bin/zeq-server"

# Control fields and maintainer scripts.
dpkg-deb -I "$deb" >"$work/info"
cat "$work/info"
field() { dpkg-deb -f "$deb" "$1"; }
check "Package: zeq-server" test "$(field Package)" = zeq-server
check "Architecture: $arch" test "$(field Architecture)" = "$arch"
depends=$(field Depends)
for dependency in libsqlite3-0 libssl3 passwd; do
  check "Depends names $dependency" matches "$depends" "(^|, )$dependency( |,|$)"
done
dpkg-deb -e "$deb" "$work/control"
for script in postinst prerm postrm conffiles; do
  check "control member $script is the packaging file" \
    cmp "$work/control/$script" "$source_dir/server/packaging/$script"
done
for script in postinst prerm postrm; do
  check "$script is executable" test -x "$work/control/$script"
done

# Installed.
touch "$marker"
must "dpkg -i" dpkg -i "$deb"
check "package installed" test "$(package_status)" = installed
check "the nginx site is a conffile" \
  matches "$(dpkg-query -W -f='${Conffiles}' zeq-server)" ' /etc/nginx/sites-available/zeq-server [0-9a-f]{32}'
check "the console's nginx site is a conffile" \
  matches "$(dpkg-query -W -f='${Conffiles}' zeq-server)" ' /etc/nginx/sites-available/zeq-console [0-9a-f]{32}'
IFS=: read -r _ _ uid gid _ home shell < <(getent passwd zeq-server)
check "a system user zeq-server (uid $uid)" test "$uid" -lt 1000
check "its group is zeq-server" test "$(getent group "$gid" | cut -d: -f1)" = zeq-server
check "its home is /var/lib/zeq-server" test "$home" = /var/lib/zeq-server
check "it cannot log in" test "$shell" = /usr/sbin/nologin
check "/var/lib/zeq-server is 0700 zeq-server:zeq-server" \
  test "$(stat -c '%F %a %U %G' /var/lib/zeq-server)" = "directory 700 zeq-server zeq-server"
check "the unit is installed" test -f /lib/systemd/system/zeq-server.service
check "the binary is installed" test -x /usr/bin/zeq-server

# The packaged binary as the service's user, on a free loopback port, plain HTTP
# as behind nginx.
port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
setpriv --reuid zeq-server --regid zeq-server --init-groups -- \
  /usr/bin/zeq-server serve --address 127.0.0.1 --port "$port" \
  --db /var/lib/zeq-server/reports.db --retention-days 30 >"$work/serve.log" 2>&1 &
server_pid=$!
base=http://127.0.0.1:$port
token=''
for _ in $(seq 50); do
  token=$(curl -sf "$base/api/token.php" 2>/dev/null) && break
  kill -0 "$server_pid" 2>/dev/null || break
  sleep 0.2
done
[ -n "$token" ] || cat "$work/serve.log"
must "a token from the installed server" matches "$token" '^01\.[0-9a-f]+\.[0-9a-f]+\.[0-9a-f]+$'
check "the token is 117 characters" test "${#token}" -eq 117
code=$(curl -sf -X POST -H "X-ZEQ-Token: $token" -H 'Content-Type: application/json' \
  --data-binary @"$report" "$base/api/report.php" || true)
must "a receipt code for the report ($code)" matches "$code" '^ZEQ-[0-9A-Z]{4}-[0-9A-Z]{4}-[0-9A-Z]{4}$'
kill "$server_pid"
wait "$server_pid" || true
server_pid=''
as_service() { setpriv --reuid zeq-server --regid zeq-server --init-groups -- "$@"; }
as_service /usr/bin/zeq-server show "$code" >"$work/shown.json"
check "the stored report is the one sent, byte for byte" cmp "$work/shown.json" "$report"
check "reports.db is 0600 zeq-server" \
  test "$(stat -c '%a %U' /var/lib/zeq-server/reports.db)" = "600 zeq-server"
check "token-secret is 0600 zeq-server" \
  test "$(stat -c '%a %U' /var/lib/zeq-server/token-secret)" = "600 zeq-server"

# Removed: the program goes, the data, the user and the edited site stay.
must "dpkg -r" dpkg -r zeq-server
check "package removed, configuration kept" test "$(package_status)" = config-files
check "binary gone" test ! -e /usr/bin/zeq-server
check "unit gone" test ! -e /lib/systemd/system/zeq-server.service
check "reports kept" test -s /var/lib/zeq-server/reports.db
check "state folder still 0700 zeq-server" \
  test "$(stat -c '%a %U' /var/lib/zeq-server)" = "700 zeq-server"
check "user kept" user_exists
check "nginx site kept" test -f /etc/nginx/sites-available/zeq-server
check "console nginx site kept" test -f /etc/nginx/sites-available/zeq-console

# Installed again: the report received before is still there.
must "dpkg -i again" dpkg -i "$deb"
listed() { as_service /usr/bin/zeq-server list | grep -q "^$1 "; }
check "the earlier report is listed after reinstalling" listed "$code"

# Purged: nothing of it is left.
must "dpkg --purge" dpkg --purge zeq-server
rm -f "$marker"
check "package gone" test "$(package_status)" = not-installed
check "state folder gone" test ! -e /var/lib/zeq-server
check "user gone" not user_exists
check "group gone" not group_exists
check "nginx site gone" test ! -e /etc/nginx/sites-available/zeq-server
check "console nginx site gone" test ! -e /etc/nginx/sites-available/zeq-console
systemd_links() { find /etc/systemd/system /var/lib/systemd -name 'zeq-server.service*' | grep -q .; }
check "no systemd link or state left" not systemd_links

echo "$failures failure(s)"
[ "$failures" -eq 0 ]
