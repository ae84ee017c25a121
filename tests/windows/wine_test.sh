#!/usr/bin/env bash
# Runs tests/windows/windows_test.cmd, the workflow's Windows script, under
# Wine's cmd from the kit that make_kit.sh gathered, in a 64-bit prefix of
# its own: first as Windows 11 (build 22631) with a stand-in for PowerShell
# (the stand-in file manager, which prints its command line and exits 0) so
# that the MSI's package steps run, then as Windows Server 2022 (build
# 20348), where none may run, without the test programs a second time. The
# script must pass, and must say of each step that only Windows can take
# that it skipped it. Where this machine runs no 32-bit programs, the script
# is told so and skips the 32-bit steps.
# usage: wine_test.sh KIT WORK_DIR
set -u
kit=$(cd "$1" && pwd)
mkdir -p "$2"
work=$(cd "$2" && pwd)
root=$(cd "$(dirname "$0")/../.." && pwd)
run=$root/cmake/wine-run.sh arch=win64 prefix=$work/prefix
export WINEDEBUG=-all
. "$root/tests/support/wine_checks.sh"

windows_path() { printf 'Z:%s' "$1" | tr / '\\'; }
if why32=$(sh "$root/cmake/runs-32bit.sh"); then
  unset NORRVANE_NO_32BIT
else
  export NORRVANE_NO_32BIT=$why32
fi
fresh_prefix
powershell=$prefix/drive_c/windows/system32/WindowsPowerShell/v1.0
mkdir -p "$powershell"
cp "$kit/x64/stand_in_file_manager.exe" "$powershell/powershell.exe"
windows_build() {
  on_wine reg add 'HKLM\SOFTWARE\Microsoft\Windows NT\CurrentVersion' /v CurrentBuildNumber /d "$1" /f /reg:64 >/dev/null
}

# run_script BUILD: the script's output in WORK_DIR/BUILD.txt, shown; its
# exit code in status.
run_script() {
  rm -rf "${work:?}/$1"
  on_wine cmd /c "$(windows_path "$root/tests/windows/windows_test.cmd")" "$(windows_path "$kit")" \
    "$(windows_path "$work/$1")" >"$work/$1.txt" 2>&1
  status=$?
  tr -d '\r' <"$work/$1.txt" | sed "s/^/   $1: /"
}
said() { tr -d '\r' <"$work/$1.txt" | grep -qxF -- "$2"; }
# expect BUILD LINE...: the script passed, said each line, and skipped
# nothing but what those lines say it skipped.
expect() {
  local build=$1 line skips
  shift
  check "as build $build it passes" eval "[ $status = 0 ] && said $build 'windows_test: 0 failed, $(printf '%s\n' "$@" | grep -c '^SKIPPED') skipped'"
  for line; do check "... and says: $line" said "$build" "$line"; done
}
# The 32-bit steps' lines, where this machine runs no 32-bit programs.
no32() {
  [ -n "${NORRVANE_NO_32BIT:-}" ] || return 0
  for what; do echo "SKIPPED ($NORRVANE_NO_32BIT): $what"; done
}
stores="SKIPPED (Windows only): the test certificate authority in the machine's Root and TrustedPeople stores"
menu="SKIPPED (Wine's shell loads no handlers): the shell's own context menu; the handler that the key names stands in for it"
views="every check in the 32-bit registry view, and of the 32-bit DLL"
menu32="a 32-bit program's menu"

echo "-- windows_test.cmd as Windows 11"
windows_build 22631
run_script 22631
# Every test program of the kit ran and passed.
programs() { for program in "$kit/$1"/*_tests.exe; do echo "ok: $1 $(basename "$program" .exe)"; done; }
mapfile -t lines < <(programs x64; if [ -n "${NORRVANE_NO_32BIT:-}" ]; then no32 "the 32-bit test programs"; else programs x86; fi
                     no32 "$views" "$menu32")
# The other classes as Windows 10 has them: all but the "Recommended" files'.
others="this build's other classes with the stock handler: .symlink LibraryLocation RecentDocument Results"
others+=" PinnedRecentDocument; left alone: RecommendationsFile"
expect 22631 "${lines[@]}" "$stores" "$menu" "$others" \
  "ok: installed: PinnedRecentDocument's handler, 64-bit view" \
  "ok: installed: RecommendationsFile's handler, left as it was" \
  "ok: removed: .symlink's handler, 64-bit view" \
  "ok: build 22631: the installation ran its two package steps, each with exit code 0" \
  "SKIPPED (Windows only: Wine has no PowerShell): installed: the package's state" \
  "SKIPPED (Windows only: Wine has no packages): the packaged class, activated out of process" \
  "ok: build 22631: the removal ran its package step, with exit code 0" \
  "SKIPPED (Windows only: Wine has no PowerShell): removed: the package's state"

echo "-- windows_test.cmd as Windows Server 2022"
windows_build 20348
NORRVANE_NO_PROGRAMS="run above" run_script 20348
mapfile -t lines < <(no32 "$views" "$menu32")
expect 20348 "${lines[@]}" "SKIPPED (run above): the test programs" "$stores" "$menu" \
  "ok: build 20348: the installation ran no package step" \
  "SKIPPED (Windows only: Wine has no PowerShell): installed, before build 22000: the package's state" \
  "ok: build 20348: the removal ran no package step"

WINEPREFIX="$prefix" wineserver -w
echo "windows script under Wine: $failures failed"
[ "$failures" -eq 0 ]
