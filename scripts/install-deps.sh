#!/bin/sh
# Installs the Debian packages Kestrim needs to build and test.
# Idempotent: does nothing (and prints nothing) when everything is present.
set -e
PKGS="cmake g++ make clang libclang-rt-14-dev googletest libgtest-dev libgmock-dev libbenchmark-dev \
nlohmann-json3-dev libpugixml-dev libcli11-dev libfmt-dev"
missing=""
for p in $PKGS; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing="$missing $p"
    fi
done
[ -z "$missing" ] && exit 0
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO=sudo
echo "Installing:$missing"
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq $missing >/dev/null
