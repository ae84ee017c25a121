#!/bin/sh
# Stands in for Wine's loaders (wine, wine64) and server (wineserver) in
# cmake/wine-run.sh's handling of prefixes. Its wineboot writes system.reg
# first and the prefix's kernel32 files a second later, as Wine saves the
# registry while the boot still works; STAND_IN_NO_WOW64=1 leaves out the
# 32-bit half, as Wine does while 32-bit Wine is missing;
# STAND_IN_BOOT_EXIT is wineboot's exit code (0 by default). Each boot is
# logged in PREFIX.boots; wineboot speaks on standard error, as Wine does. A
# program "runs" when its kernel32 is there.
[ "${0##*/}" != wineserver ] || exit 0
windows=$WINEPREFIX/drive_c/windows
if [ "$1" = wineboot ]; then
  echo "wineboot $2" >>"$WINEPREFIX.boots"
  mkdir -p "$windows/system32" "$windows/syswow64"
  : >"$WINEPREFIX/system.reg"
  sleep 1
  : >"$windows/system32/kernel32.dll"
  [ -n "${STAND_IN_NO_WOW64:-}" ] || : >"$windows/syswow64/kernel32.dll"
  echo "stand-in wineboot $2" >&2
  exit "${STAND_IN_BOOT_EXIT:-0}"
fi
# A 32-bit program in a 64-bit prefix loads its 32-bit half's kernel32.
dir=system32
[ "${0##*/}" = wine64 ] || [ "$WINEARCH" = win32 ] || dir=syswow64
[ -f "$windows/$dir/kernel32.dll" ] || { echo "wine: could not load kernel32.dll, status c0000135" >&2; exit 1; }
# The lock of the prefix's boot must not reach the program.
[ ! -e /proc/$$/fd/9 ] || echo "holding the lock:"
echo "ran $*"
