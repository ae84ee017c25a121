#!/bin/sh
# Runs a Windows program of the build under Wine, in the build's own prefix.
# usage: wine-run.sh win32|win64 PREFIX PROGRAM [ARGS...]
# The prefix is made on first use, under a lock, so that tests started in
# parallel do not race to create it.
set -e
arch=$1 prefix=$2
shift 2
export WINEPREFIX="$prefix" WINEARCH="$arch" WINEDEBUG=-all
# No Mono or Gecko install prompts in a fresh prefix.
export WINEDLLOVERRIDES="mscoree,mshtml="
if [ "$arch" = win64 ]; then
  loader=/usr/lib/wine/wine64
  [ -x "$loader" ] || loader=$(command -v wine64 || command -v wine)
else
  loader=/usr/lib/wine/wine
  [ -x "$loader" ] || loader=$(command -v wine)
fi
export WINELOADER="$loader"
if [ ! -f "$prefix/system.reg" ]; then
  mkdir -p "$(dirname "$prefix")"
  flock "$prefix.lock" sh -c '[ -f "$WINEPREFIX/system.reg" ] || "$WINELOADER" wineboot -i >/dev/null 2>&1; "$(dirname "$WINELOADER")/wineserver" -w'
fi
exec "$loader" "$@"
