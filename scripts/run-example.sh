#!/bin/sh
# Installs the build dependencies, builds Kestrim and runs the batch analysis
# of the shipped example spectrum in out/example/ (reports are written there).
set -e
cd "$(dirname "$0")/.."
sh scripts/install-deps.sh
# ccache (installed with the dependencies) keeps rebuilds short.
LAUNCHER=""
command -v ccache >/dev/null 2>&1 && LAUNCHER="-DCMAKE_CXX_COMPILER_LAUNCHER=ccache"
# Paths relative to the checkout, so that another clone reuses the cache.
export CCACHE_BASEDIR="$(pwd)" CCACHE_NOHASHDIR=1
cmake -S . -B build $LAUNCHER -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc 2>/dev/null || echo 2)" --target kestrim kestrim_data
ROOT=$(pwd)
mkdir -p out/example
cd out/example
# A private user folder, so that the run starts from the shipped Defaults.
export XDG_DATA_HOME="$ROOT/out/example/.user"
"$ROOT/build/kestrim" info "$ROOT/data/examples/example-nai.dat"
"$ROOT/build/kestrim" /batch "/file=$ROOT/data/examples/example-nai.dat"
echo "Batch analysis finished; reports are in out/example/"
ls -1 "$ROOT/out/example"
