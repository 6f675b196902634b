#!/bin/sh
# Runs the ODBC export benchmark against a throw-away local PostgreSQL
# server: initdb + pg_ctl in a temporary folder on a free port (as the
# postgres user when run as root), the shipped schema, the data source
# "Kestrim Database" in a temporary ODBCSYSINI/ODBCINI; everything is
# removed afterwards.   bench/odbc-export-bench.sh [BUILD_DIR] [benchmark options]
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
[ $# -gt 0 ] && shift
bin=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -1)
[ -n "$bin" ] || bin=$(dirname "$(command -v initdb)")
driver=$(ls /usr/lib/*/odbc/psqlodbca.so /usr/lib/odbc/psqlodbca.so /usr/lib64/psqlodbca.so 2>/dev/null | head -1)
[ -n "$driver" ] || { echo "the PostgreSQL ODBC driver (odbc-postgresql) is not installed" >&2; exit 1; }
tmp=$(mktemp -d /tmp/kestrim-odbc-bench-XXXXXX)
as=""
if [ "$(id -u)" -eq 0 ]; then
    chmod 711 "$tmp"
    mkdir "$tmp/pg" && chown postgres "$tmp/pg"
    as="runuser -u postgres --"
else
    mkdir "$tmp/pg"
fi
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
cleanup() {
    $as "$bin/pg_ctl" -D "$tmp/pg/data" -m immediate -w stop >/dev/null 2>&1 || true
    rm -rf "$tmp"
}
trap cleanup EXIT INT TERM
(cd / && $as "$bin/initdb" -D "$tmp/pg/data" -A trust -U kestrim -E UTF8 --locale=C --no-sync >/dev/null)
(cd / && $as "$bin/pg_ctl" -D "$tmp/pg/data" -l "$tmp/pg/log" -w \
    -o "-p $port -k $tmp/pg -c listen_addresses=127.0.0.1" start >/dev/null)
psql -X -q -h 127.0.0.1 -p "$port" -U kestrim -d postgres -c 'CREATE DATABASE bench'
sh "$root/scripts/create-database.sh" postgresql -h 127.0.0.1 -p "$port" -U kestrim bench
mkdir "$tmp/odbc"
printf '[PostgreSQL]\nDriver=%s\n' "$driver" > "$tmp/odbc/odbcinst.ini"
printf '[Kestrim Database]\nDriver=PostgreSQL\nServername=127.0.0.1\nPort=%s\nDatabase=bench\nUsername=kestrim\n' \
    "$port" > "$tmp/odbc/odbc.ini"
: > "$tmp/odbc/user.ini"
ODBCSYSINI="$tmp/odbc" ODBCINI="$tmp/odbc/user.ini" KESTRIM_HOME="$build/share/kestrim" \
    nice -n 10 "$build/bench/kestrim_bench" --benchmark_filter=Odbc "$@"
