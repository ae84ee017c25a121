#!/bin/sh
# Runs a Windows program of the build under Wine, in the build's own prefix.
# usage: [NORRVANE_LOCALE=ja_JP.UTF-8 [NORRVANE_CTYPE_LOCALE=C.UTF-8]] \
#          wine-run.sh win32|win64|wow64 PREFIX PROGRAM [ARGS...]
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
# Wine takes the display language from the locale of messages, the ANSI code
# page from that of characters, when a program starts: a run gets those that
# NORRVANE_LOCALE and NORRVANE_CTYPE_LOCALE (by default the same) name, or
# C.UTF-8 (US English, code page 1252), never the machine's own. Wine reads
# Unix file names and arguments in the character locale, whose set falls to
# ASCII unless the locale is installed: any other than C.UTF-8 is compiled
# once beside the prefix.
locale=${NORRVANE_LOCALE:-C.UTF-8}
ctype=${NORRVANE_CTYPE_LOCALE:-$locale}
locales=$(dirname "$prefix")/locales
for name in "$locale" "$ctype"; do
  [ "$name" != C.UTF-8 ] && [ ! -d "$locales/$name" ] || continue
  mkdir -p "$locales"
  # Made under another name and moved: a run that does not wait for the
  # lock sees the whole locale or none.
  flock "$locales.lock" sh -c '[ -d "$1/$2" ] || { rm -rf "$1/.$2" &&
    localedef -c -i "${2%%.*}" -f "${2#*.}" "$1/.$2" >/dev/null 2>&1; mv "$1/.$2" "$1/$2"; }' \
    sh "$locales" "$name" || true
  [ -d "$locales/$name" ] ||
    { echo "wine-run.sh: localedef cannot make $name (Debian's locales package has its sources)" >&2; exit 1; }
done
# The system's own locales (C.UTF-8) stay in reach beside those made here.
[ ! -d "$locales" ] || export LOCPATH="$locales:/usr/lib/locale"
unset LC_ALL
export LANG="$locale" LC_MESSAGES="$locale" LC_CTYPE="$ctype"
# No Mono or Gecko install prompts in a fresh prefix.
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINELOADER="$boot"
if [ ! -f "$prefix/system.reg" ]; then
  mkdir -p "$(dirname "$prefix")"
  flock "$prefix.lock" sh -c '[ -f "$WINEPREFIX/system.reg" ] || "$WINELOADER" wineboot -i >/dev/null 2>&1; "$(dirname "$WINELOADER")/wineserver" -w'
fi
export WINELOADER="$loader"
exec "$loader" "$@"
