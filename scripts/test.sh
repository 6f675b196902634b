#!/bin/sh
# Installs the build dependencies, builds Kestrim and runs every test.
#   scripts/test.sh            normal build in build/
#   scripts/test.sh --sanitize AddressSanitizer + UBSan build in build-asan/
#   scripts/test.sh --fuzz     clang libFuzzer build in build-fuzz/, replays
#                              the corpora and fuzzes each target for 10 s
set -e
cd "$(dirname "$0")/.."
sh scripts/install-deps.sh
# ccache (installed with the dependencies) keeps rebuilds short.
LAUNCHER=""
command -v ccache >/dev/null 2>&1 && LAUNCHER="-DCMAKE_CXX_COMPILER_LAUNCHER=ccache"
# Paths relative to the checkout, so that another clone reuses the cache.
export CCACHE_BASEDIR="$(pwd)" CCACHE_NOHASHDIR=1
JOBS=$(nproc 2>/dev/null || echo 2)
case "$1" in
  --sanitize)
    # The desktop program is left out here to keep CI within its time on
    # two cores; build it with -DKESTRIM_DESKTOP=ON in build-asan to check it.
    cmake -S . -B build-asan $LAUNCHER -DCMAKE_BUILD_TYPE=Debug -DKESTRIM_SANITIZE=ON -DKESTRIM_BENCH=OFF \
      -DKESTRIM_DESKTOP=OFF >/dev/null
    cmake --build build-asan -j"$JOBS"
    cd build-asan
    ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 ctest --output-on-failure -j"$JOBS"
    ;;
  --fuzz)
    CC=clang CXX=clang++ cmake -S . -B build-fuzz $LAUNCHER -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DKESTRIM_FUZZ=ON -DKESTRIM_TESTS=OFF -DKESTRIM_BENCH=OFF -DKESTRIM_DESKTOP=OFF >/dev/null
    cmake --build build-fuzz -j"$JOBS" --target kestrim_fuzz_targets
    for target in build-fuzz/fuzz/kestrim_*_fuzz; do
      name=$(basename "$target" | sed 's/^kestrim_//; s/_fuzz$//')
      corpus=fuzz/corpus/$name
      work=$(mktemp -d)
      [ -d "$corpus" ] && cp "$corpus"/* "$work"/ 2>/dev/null || true
      echo "fuzzing $name for 10 s"
      if ! "$target" -max_total_time=10 -max_len=65536 -artifact_prefix="$work/" "$work" \
          > "$work.log" 2>&1; then
        tail -40 "$work.log"
        echo "fuzz target $name failed; the input that broke it is in $work/"
        exit 1
      fi
      tail -1 "$work.log"
      rm -rf "$work" "$work.log"
    done
    ;;
  *)
    cmake -S . -B build $LAUNCHER -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    cmake --build build -j"$JOBS"
    cd build
    ctest --output-on-failure -j"$JOBS"
    ;;
esac
