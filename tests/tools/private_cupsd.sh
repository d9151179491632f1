#!/bin/sh
# A print scheduler of a test's own: private_cupsd.sh DIR PORT [admin-login]
# Keeps its configuration, spool and state in DIR, listens on 127.0.0.1:PORT and runs in the
# foreground until terminated or until its parent ends; the scheduler's own process id is in
# DIR/state/cupsd.pid. Clients reach it with CUPS_SERVER=127.0.0.1:PORT, and read its
# configuration with CUPS_SERVERROOT=DIR. With admin-login, adding or changing a queue needs a
# login, as it does for a desktop user outside the admin group.
# cupsd runs as root in a sandbox as well as under a normal user when it stays in the
# foreground (-f) and both configuration files are named (-c, -s).
set -eu
dir=$1
port=$2
mkdir -p "$dir/spool/tmp" "$dir/cache" "$dir/state" "$dir/log"
# Filters and backends run as the scheduler's user (lp under root) and must reach the spool.
chmod 755 "$dir"
admin=
if [ "${3:-}" = admin-login ]; then
    admin='<Limit CUPS-Add-Modify-Printer CUPS-Delete-Printer>
AuthType Basic
Require user @SYSTEM
</Limit>'
fi
cat >"$dir/cupsd.conf" <<CONF
Listen 127.0.0.1:$port
LogLevel info
WebInterface No
Browsing No
DefaultAuthType None
<Location />
Order allow,deny
Allow all
</Location>
<Policy default>
$admin
<Limit All>
Order allow,deny
Allow all
</Limit>
</Policy>
CONF
# The scheduler accepts only a SystemGroup that exists: the caller's own.
cat >"$dir/cups-files.conf" <<CONF
ServerRoot $dir
RequestRoot $dir/spool
TempDir $dir/spool/tmp
CacheDir $dir/cache
StateDir $dir/state
ErrorLog $dir/log/error_log
AccessLog $dir/log/access_log
PageLog $dir/log/page_log
SystemGroup $(id -gn)
CONF
/usr/sbin/cupsd -f -c "$dir/cupsd.conf" -s "$dir/cups-files.conf" &
cupsd=$!
trap 'kill -CONT $cupsd; kill $cupsd 2>/dev/null' EXIT INT TERM
# Ends with the test that started it, even when that test was killed on a time-out.
while kill -0 "$PPID" 2>/dev/null && kill -0 "$cupsd" 2>/dev/null; do
    sleep 0.5
done
