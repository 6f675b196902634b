#!/bin/sh
# Installs the Debian packages Kestrim needs to build and test (with the
# ODBC driver manager, the SQLite and PostgreSQL ODBC drivers and the
# PostgreSQL server the database tests start, Qt 6 for the desktop program,
# ALSA for sound-card capture), and the German locale the
# locale tests run under.
# Idempotent: does nothing (and prints nothing) when everything is present.
set -e
PKGS="cmake g++ make ccache clang libclang-rt-14-dev googletest libgtest-dev libgmock-dev libbenchmark-dev \
nlohmann-json3-dev libpugixml-dev libcli11-dev libfmt-dev locales \
unixodbc-dev unixodbc libsqliteodbc odbc-postgresql postgresql sqlite3 \
qt6-base-dev libqt6opengl6-dev libgl-dev libasound2-dev alsa-utils"
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO=sudo
missing=""
for p in $PKGS; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing="$missing $p"
    fi
done
if [ -n "$missing" ]; then
    echo "Installing:$missing"
    $SUDO apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq $missing >/dev/null
fi
# A locale with a decimal comma: numbers in files must not follow it.
if ! locale -a 2>/dev/null | grep -qi '^de_DE\.utf-\?8$'; then
    echo "Generating the de_DE.UTF-8 locale"
    $SUDO sed -i 's/^# *de_DE.UTF-8 UTF-8/de_DE.UTF-8 UTF-8/' /etc/locale.gen
    grep -q '^de_DE.UTF-8 UTF-8' /etc/locale.gen || echo 'de_DE.UTF-8 UTF-8' | $SUDO tee -a /etc/locale.gen >/dev/null
    $SUDO locale-gen >/dev/null
fi
