#!/usr/bin/env bash
# The project's own shell scripts.
#
# First, none that runs under pipefail reads a producer's output with a
# reader that may leave early (grep -q, grep -m, head): the producer then
# dies of SIGPIPE and the pipeline fails although the answer was yes.
#
# Then scripts/setup.sh's decisions, run against stand-in package tools
# (tests/scripts/stand_in_packages.sh) in a scratch root: nothing is
# installed or changed on this machine. Each row gives what is missing,
# whether apt-get update fails as with a mirror in mid-sync, what apt-get
# cannot install, and whether the script runs as root; and expects its exit
# code, what it says, what it installed and whether it called apt at all.
#
# Last cmake/wine-run.sh's prefixes, booted by a stand-in Wine
# (tests/scripts/stand_in_wine.sh).
# usage: scripts_test.sh WORK_DIR
set -u
root=$(cd "$(dirname "$0")/../.." && pwd)
mkdir -p "$1"
work=$(cd "$1" && pwd)
failures=0
check() {
  local description=$1
  shift
  if "$@"; then echo "ok: $description"; else echo "FAILED: $description"; failures=$((failures + 1)); fi
}

echo "-- no early-leaving reader of a pipe under pipefail"
# Lines of the scripts that set pipefail where a pipe (perhaps continued on
# the next line) ends in grep -q, grep -m or head.
early_readers() {
  python3 - "$@" <<'PY'
import re, sys
reader = re.compile(r"\|\s*(grep(\s+-[-\w]*)*?\s+(-[a-zA-Z]*[qm][a-zA-Z]*\b|--quiet|--silent|--max-count)|head\b)")
for path in sys.argv[1:]:
    text = open(path, encoding="utf-8").read()
    if not re.search(r"^\s*set\s.*pipefail", text, re.M):
        continue
    joined = re.sub(r"(\||\\)[ \t]*\n", r"\1 ", text)
    for line in joined.splitlines():
        if not line.lstrip().startswith("#") and reader.search(line):
            print(f"{path}: {line.strip()}")
PY
}
mapfile -t scripts < <(cd "$root" && grep -rlE '^#!.*(ba)?sh' scripts tests cmake .ci 2>/dev/null)
found=$(cd "$root" && early_readers "${scripts[@]}")
[ -z "$found" ] || echo "$found"
check "none in the ${#scripts[@]} scripts" test -z "$found"
planted=$work/planted.sh
printf '#!/bin/bash\nset -euo pipefail\ndpkg --print-foreign-architectures |\n  grep -qx i386\nfind . | head -n 1\n' >"$planted"
check "... and the check finds them, also across a line" test "$(early_readers "$planted" | wc -l)" = 2

echo "-- scripts/setup.sh against stand-in package tools"
tools=$work/bin
mkdir -p "$tools"
for name in apt-get dpkg dpkg-query id sudo; do ln -sf "$root/tests/scripts/stand_in_packages.sh" "$tools/$name"; done
# The system's programs but node and npm, for a machine that has neither.
without_node=$work/without-node
rm -rf "$without_node"
mkdir -p "$without_node"
for program in /usr/bin/* /bin/*; do
  case ${program##*/} in node | nodejs | npm | npx) ;; *) ln -sf "$program" "$without_node/" ;; esac
done
mirror_error="E: Failed to fetch http://deb.debian.org/debian-security/dists/bookworm-security/main/binary-i386/Packages.xz  File has unexpected size (4096 != 8192). Mirror sync in progress? [IP: 151.101.2.132 80]
   Hashes of expected file:
E: Some index files failed to download. They have been ignored, or old ones used instead."

# row DESCRIPTION UID ABSENT UPDATE UNAVAILABLE EXPECTED_STATUS EXPECTED_LINE [OPTIONS]
#   ABSENT, UNAVAILABLE: packages, separated by blanks; UPDATE: ok or broken;
#   EXPECTED_LINE: an extended regular expression that the one line the
#   script says must match, or "" when it must say nothing. OPTIONS:
#   apt-untouched (no apt-get call), i386-only (arm64 not yet added),
#   old-osslsigncode (2.5 installed), no-backports (not in the sources),
#   no-arm64-list (arm64 added, its list not yet fetched), no-node (neither
#   node nor npm on the PATH), removed=PACKAGE (removed, its configuration
#   files kept).
row() {
  local description=$1 uid=$2 absent=$3 update=$4 unavailable=$5 status=$6 line=$7 options=${8:-}
  local state=$work/state fakeroot=$work/root got left
  rm -rf "$state" "$fakeroot"
  mkdir -p "$state" "$fakeroot/etc/apt/sources.list.d" "$fakeroot/var/lib/apt/lists"
  printf 'ID=debian\nVERSION_CODENAME=bookworm\n' >"$fakeroot/etc/os-release"
  [[ $options == *no-arm64-list* ]] ||
    touch "$fakeroot/var/lib/apt/lists/deb.debian.org_debian_dists_bookworm_main_binary-arm64_Packages.lz4"
  [[ $options == *no-backports* ]] ||
    echo 'Suites: bookworm bookworm-updates bookworm-backports' >"$fakeroot/etc/apt/sources.list.d/debian.sources"
  echo "$uid" >"$state/uid"
  tr ' ' '\n' <<<"$absent" | sed '/^$/d' >"$state/absent"
  tr ' ' '\n' <<<"$unavailable" | sed '/^$/d' >"$state/unavailable"
  sed -n 's/.*removed=\([^ ]*\).*/\1/p' <<<"$options" >"$state/removed"
  mkdir -p "$state/bin"
  local path=$state/bin:$tools:$PATH
  [[ $options != *no-node* ]] || path=$state/bin:$tools:$without_node
  if [[ $options == *i386-only* ]]; then echo i386; else printf 'i386\narm64\n'; fi >"$state/architectures"
  if [[ $options == *old-osslsigncode* ]]; then echo 2.5-4; else echo 2.9-1~bpo12+1; fi >"$state/osslsigncode"
  [ "$update" = ok ] || echo "$mirror_error" >"$state/update-error"
  touch "$state/calls"

  got=0
  STAND_IN_STATE=$state NORRVANE_SETUP_ROOT=$fakeroot PATH=$path \
    bash "$root/scripts/setup.sh" >"$work/output.txt" 2>&1 || got=$?
  sed 's/^/   | /' "$work/output.txt"
  left=$(sort "$state/absent" "$state/removed" | tr '\n' ' ')
  local expected_left
  expected_left=$(tr ' ' '\n' <<<"$unavailable" | sed '/^$/d' | sort | tr '\n' ' ')
  if [ -z "$line" ]; then
    check "$description: exits $status, says nothing" eval "[ $got = $status ] && [ ! -s '$work/output.txt' ]"
  else
    check "$description: exits $status, says why in one line" \
      eval "[ $got = $status ] && [ \$(wc -l <'$work/output.txt') = 1 ] && grep -qE -- '$line' '$work/output.txt'"
  fi
  check "... installs all it can: left out ${expected_left:-nothing}" test "$left" = "$expected_left"
  if [[ $options == *apt-untouched* ]]; then
    check "... calls no apt-get" test ! -s "$state/calls"
  fi
  if [[ $options == *i386-only* ]]; then
    check "... adds arm64 to dpkg's architectures" grep -qx 'dpkg --add-architecture arm64' "$state/calls"
  fi
  if [[ $options == *old-osslsigncode* ]]; then
    check "... takes osslsigncode from bookworm-backports" grep -qx '2.9-1~bpo12+1' "$state/osslsigncode"
  fi
  if [[ $options == *no-node* ]]; then
    check "... installs Node.js and npm" test -x "$state/bin/node" -a -x "$state/bin/npm"
  fi
  if [[ $options == *no-backports* ]]; then
    check "... adds bookworm-backports to the sources" \
      grep -qx 'Suites: bookworm-backports' "$fakeroot/etc/apt/sources.list.d/bookworm-backports.sources"
  fi
}

row "everything installed" 0 "" broken "" 0 "" apt-untouched
row "a list that fails to update, 32-bit Wine out of reach" 0 "wine32:i386 zip" broken "wine32:i386" 0 \
  '^setup\.sh: could not install wine32:i386 \(apt-get update failed: Failed to fetch .*Mirror sync in progress\?.*; apt-get install wine32:i386: wine32:i386 : Depends: .*\); test\.sh leaves out the 32-bit runs$'
row "the same, and a needed package out of reach too" 0 "wine32:i386 msitools zip" broken "wine32:i386 msitools" 1 \
  '^setup\.sh: could not install wine32:i386 msitools \(.*apt-get install msitools: msitools : Depends: .*\); the build and its tests need them$'
row "a mirror in order, arm64 not yet added" 0 "wine32:i386 zip" ok "" 0 "" i386-only
row "Debian 12's own osslsigncode, no backports yet" 0 "" ok "" 0 "" "old-osslsigncode no-backports"
row "Node.js and npm missing" 0 "" ok "" 0 "" no-node
row "a package removed, its configuration files kept" 0 "" ok "" 0 "" removed=zip
row "arm64 added, its list not fetched, the mirror broken" 0 "" broken "" 1 \
  "^setup\.sh: could not install apt.s i386 and arm64 lists \(apt-get update failed: .*\); the build and its tests need them$" no-arm64-list
row "no root, 32-bit Wine missing" 1000 "wine32:i386" ok "wine32:i386" 0 \
  '^setup\.sh: could not install wine32:i386 \(installing needs root: .*\); test\.sh leaves out the 32-bit runs$' apt-untouched
row "no root, a needed package missing" 1000 "zip" ok "zip" 1 \
  '^setup\.sh: could not install zip \(installing needs root: .*\); the build and its tests need them$' apt-untouched

echo "-- cmake/wine-run.sh: a prefix is used once its boot has ended and left it whole"
wine_dir=$work/wine prefixes=$work/prefixes
rm -rf "$wine_dir" "$prefixes"
mkdir -p "$wine_dir" "$prefixes/elsewhere/drive_c"
touch "$prefixes/elsewhere/system.reg"
for name in wine wine64 wineserver; do ln -sf "$root/tests/scripts/stand_in_wine.sh" "$wine_dir/$name"; done
# wine_run NAME: a 32-bit program run in the 64-bit prefix NAME.
wine_run() { NORRVANE_WINE_DIR=$wine_dir sh "$root/cmake/wine-run.sh" wow64 "$prefixes/$1" program.exe 2>&1; }
# The second run starts once system.reg is there, before the boot has ended.
wine_run a >"$work/first.txt" &
until [ -f "$prefixes/a/system.reg" ]; do sleep 0.1; done
second=$(wine_run a)
wait $!
check "two runs on a new prefix: both run, the second after the boot" \
  eval '[ "$(cat "$work/first.txt")" = "ran program.exe" ] && [ "$second" = "ran program.exe" ]'
check "... which booted it once, and a third run boots it no more" \
  eval '[ "$(wine_run a)" = "ran program.exe" ] && [ "$(cat "$prefixes/a.boots")" = "wineboot -i" ]'
unfit=$(STAND_IN_NO_WOW64=1 wine_run b; echo "exit code $?")
check "a boot that leaves out the 32-bit half stops the run, showing what wineboot printed" \
  eval '[[ $unfit == *"answered 0 and left drive_c/windows/syswow64/kernel32.dll missing in "*"stand-in wineboot -i"*"exit code 1" ]]'
touch "$prefixes/b/leftover"
check "... and the next run makes that prefix anew, whole" \
  eval '[ "$(wine_run b)" = "ran program.exe" ] && [ $(grep -c . "$prefixes/b.boots") = 2 ] && [ ! -e "$prefixes/b/leftover" ]'
check "a boot done but for wineboot's exit code 1, as Wine's first boot answers now and then: the run goes on" \
  eval '[ "$(STAND_IN_BOOT_EXIT=1 wine_run c)" = "ran program.exe" ]'
check "a prefix that it did not make: the run stops, the prefix stays" \
  eval '! wine_run elsewhere >/dev/null && [ -d "$prefixes/elsewhere/drive_c" ]'

echo "scripts: $failures failed"
[ "$failures" -eq 0 ]
