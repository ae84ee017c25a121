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
# NORRVANE_WINE_DIR names another folder of Wine's loaders (the tests' stand-in).
wine_dir=${NORRVANE_WINE_DIR:-/usr/lib/wine}
wine32=$wine_dir/wine
[ -x "$wine32" ] || wine32=$(command -v wine)
wine64=$wine_dir/wine64
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
# Wine saves system.reg while wineboot still works, so a file of our own says
# that the boot has ended and left the prefix whole: its kernel32 there, and
# for wow64 that of its 32-bit half, which Wine leaves out while 32-bit Wine
# is missing (and cannot put back later). A prefix of ours without that file
# (a boot cut off, one made before 32-bit Wine came) is made anew under the
# lock; a prefix that this script did not make is never removed.
ready=$prefix/.norrvane-ready
kernel32=$prefix/drive_c/windows/system32/kernel32.dll
[ "$arch" != wow64 ] || kernel32=$prefix/drive_c/windows/syswow64/kernel32.dll
if [ ! -f "$ready" ]; then
  [ ! -e "$prefix" ] || [ -e "$prefix.lock" ] ||
    { echo "wine-run.sh: $prefix was not made here; name a prefix of the build's own" >&2; exit 1; }
  mkdir -p "$(dirname "$prefix")"
  exec 9>>"$prefix.lock"
  flock 9
  if [ ! -f "$ready" ]; then
    rm -rf "$prefix"
    status=0
    "$WINELOADER" wineboot -i >"$prefix.boot.log" 2>&1 9>&- || status=$?
    "$(dirname "$WINELOADER")/wineserver" -w 9>&-
    # Not wineboot's exit code: on a new prefix Wine boots it before
    # starting wineboot, which now and then answers 1 with the boot done.
    [ -f "$kernel32" ] || {
      echo "wine-run.sh: wineboot answered $status and left ${kernel32#"$prefix/"} missing in $prefix; it printed:" >&2
      cat "$prefix.boot.log" >&2
      exit 1
    }
    : >"$ready"
  fi
  exec 9>&-
fi
export WINELOADER="$loader"
exec "$loader" "$@"
