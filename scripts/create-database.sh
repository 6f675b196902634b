#!/bin/sh
# Creates a Kestrim activity database for the ODBC export: the five tables
# (SampleInfo with the 60 known columns, Nuclides, Activities, Energies,
# PeakData) and the reference Nuclides and Energies rows.
#
#   scripts/create-database.sh sqlite FILE.db
#       a new SQLite database file (sqlite3 program)
#   scripts/create-database.sh postgresql [psql options] DBNAME
#       the tables in an existing, empty PostgreSQL database (psql program),
#       in one transaction
#
# The SQL comes from data/Database (or $KESTRIM_SQL_DIR, such as an installed
# share/kestrim/Database).
set -e
sql=${KESTRIM_SQL_DIR:-$(cd "$(dirname "$0")/.." && pwd)/data/Database}
usage() {
    echo "usage: $0 sqlite FILE.db | $0 postgresql [psql options] DBNAME" >&2
    exit 2
}
[ $# -ge 2 ] || usage
kind=$1
shift
case "$kind" in
    sqlite)
        file=$1
        if [ -e "$file" ]; then
            echo "$0: $file exists; nothing was changed" >&2
            exit 1
        fi
        tmp="$file.tmp$$"
        rm -f "$tmp"
        if ! cat "$sql/schema-sqlite.sql" "$sql/reference-data.sql" | sqlite3 -bail "$tmp"; then
            rm -f "$tmp"
            exit 1
        fi
        mv "$tmp" "$file"
        ;;
    postgresql)
        { echo 'BEGIN;'; cat "$sql/schema-postgresql.sql" "$sql/reference-data.sql"; echo 'COMMIT;'; } |
            psql -X -q -v ON_ERROR_STOP=1 "$@" >/dev/null
        ;;
    *)
        usage
        ;;
esac
