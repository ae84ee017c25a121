#!/usr/bin/env bash
# Measures what a right-click on a shortcut costs with the handler against
# the bare shell work the same answer needs, side by side in one run, and
# prints the ratios; likewise the command's GetState of the newer menu for a
# plain file, a shortcut and two shortcuts. Then runs the soak test at full
# scale when the build has one.
#
# usage: scripts/bench.sh [ITERATIONS]
# The DLL is built for 32-bit Windows where this machine runs 32-bit
# programs, for 64-bit Windows otherwise. Wine runs in a prefix of the
# bench's own under build/.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
iterations=${1:-}

export WINEDEBUG=-all

bash scripts/setup.sh

if sh cmake/runs-32bit.sh >/dev/null; then
  PRESET=x86 WINEARCH=win32 loader=/usr/lib/wine/wine
else
  PRESET=x64 WINEARCH=win64 loader=/usr/lib/wine/wine64
fi
BUILD_DIR="$root/build/bench-$PRESET"
PREFIX="$root/build/bench-$PRESET-wineprefix"
# Wine shows the Unix root as drive Z:.
windows_path() { printf 'Z:%s' "${1//\//\\}"; }
on_wine() { sh "$root/cmake/wine-run.sh" "$WINEARCH" "$PREFIX" "$@"; }

echo "machine"
echo "  cores: $(nproc)"
echo "  cpu:   $(awk -F': ' '/^model name/ { print $2; exit }' /proc/cpuinfo)"
echo "  wine:  $("$loader" --version 2>/dev/null || wine --version)"
echo "  build: $PRESET, $(date -u '+%Y-%m-%d %H:%M UTC')"
echo

cmake --preset "$PRESET" -B "$BUILD_DIR" -DNORRVANE_WARNINGS_AS_ERRORS=ON >/dev/null
# The soak test, when the build defines one, is built with the bench.
soak_targets=$(cmake --build "$BUILD_DIR" --target help | sed -n 's/^\.\.\. \([A-Za-z0-9_]*soak[A-Za-z0-9_]*\).*/\1/p')
# shellcheck disable=SC2086 # one word per target
cmake --build "$BUILD_DIR" -j 2 --target NorrvaneShLnk bench $soak_targets >/dev/null

# shellcheck disable=SC2086 # an empty count takes the bench's default
on_wine "$(windows_path "$BUILD_DIR/tools/bench.exe")" "$(windows_path "$BUILD_DIR/NorrvaneShLnk.dll")" \
  $iterations | tr -d '\r'

echo
soak=$(find "$BUILD_DIR" -path "$BUILD_DIR/googletest" -prune -o -name '*soak*.exe' -print -quit)
if [ -n "$soak" ]; then
  echo "soak: $(basename "$soak") with NORRVANE_SOAK_ROUNDS=10000"
  log="$BUILD_DIR/soak.log"
  if (cd "$(dirname "$soak")" && NORRVANE_SOAK_ROUNDS=10000 on_wine "$(windows_path "$soak")") >"$log" 2>&1; then
    # Its own summary line and the runner's verdict.
    tr -d '\r' <"$log" | grep -E 'rounds|PASSED' || tail -n 3 "$log"
  else
    tr -d '\r' <"$log"
    echo "soak: failed"
    exit 1
  fi
else
  echo "soak: no soak test in this build; skipped"
fi
WINEPREFIX="$PREFIX" "$(dirname "$loader")/wineserver" -w
