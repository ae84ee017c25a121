#!/bin/sh
# Runs a Windows program of the build under Wine, in the build's own prefix.
# usage: wine-run.sh win32|win64|wow64 PREFIX PROGRAM [ARGS...]
# wow64 runs a 32-bit program in a 64-bit prefix, as a 32-bit program runs on
# 64-bit Windows. The prefix is made on first use, under a lock, so that tests
# started in parallel do not race to create it.
set -e
arch=$1 prefix=$2
shift 2
wine32=/usr/lib/wine/wine
[ -x "$wine32" ] || wine32=$(command -v wine)
wine64=/usr/lib/wine/wine64
[ -x "$wine64" ] || wine64=$(command -v wine64 || command -v wine)
case $arch in
  win64) winearch=win64 loader=$wine64 boot=$wine64 ;;
  wow64) winearch=win64 loader=$wine32 boot=$wine64 ;;
  *) winearch=win32 loader=$wine32 boot=$wine32 ;;
esac
export WINEPREFIX="$prefix" WINEARCH="$winearch" WINEDEBUG=-all
# No Mono or Gecko install prompts in a fresh prefix.
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINELOADER="$boot"
if [ ! -f "$prefix/system.reg" ]; then
  mkdir -p "$(dirname "$prefix")"
  flock "$prefix.lock" sh -c '[ -f "$WINEPREFIX/system.reg" ] || "$WINELOADER" wineboot -i >/dev/null 2>&1; "$(dirname "$WINELOADER")/wineserver" -w'
fi
export WINELOADER="$loader"
exec "$loader" "$@"
