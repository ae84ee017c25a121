#!/usr/bin/env bash
# Runs tests/windows/windows_test.cmd, the workflow's Windows script, under
# Wine's cmd from the kit that make_kit.sh gathered, in a 64-bit prefix of
# its own: first as Windows 11 (build 22631) with a stand-in for PowerShell
# (the stand-in file manager, which prints its command line and exits 0) so
# that the MSI's package steps run, then as Windows Server 2022 (build
# 20348), where none may run, without the test programs a second time. The
# script must pass, and must say of each step that only Windows can take
# that it skipped it. Where this machine runs no 32-bit programs, the script
# is told so and skips the 32-bit steps. Then what must fail does: the
# script on small kits with faults, make_kit.sh's check on a DLL that
# imports the compiler's runtime, and the workflow's Windows step on a
# stand-in script that fails.
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
windows_build() {
  on_wine reg add 'HKLM\SOFTWARE\Microsoft\Windows NT\CurrentVersion' /v CurrentBuildNumber /d "$1" /f /reg:64 >/dev/null
}
# The prefix is made by its first run; PowerShell's stand-in goes in after.
fresh_prefix
windows_build 22631
powershell=$prefix/drive_c/windows/system32/WindowsPowerShell/v1.0
mkdir -p "$powershell"
cp "$kit/x64/stand_in_file_manager.exe" "$powershell/powershell.exe"

# run_script NAME [KIT]: the script's output in WORK_DIR/NAME.txt, shown; its
# exit code in status.
run_script() {
  rm -rf "${work:?}/$1"
  on_wine cmd /c "$(windows_path "$root/tests/windows/windows_test.cmd")" "$(windows_path "${2:-$kit}")" \
    "$(windows_path "$work/$1")" >"$work/$1.txt" 2>&1
  status=$?
  tr -d '\r' <"$work/$1.txt" | sed "s/^/   $1: /"
}
# has FILE LINE [-F]: the file, CRLF or LF, has the line (a pattern, or
# with -F the text).
has() { tr -d '\r' <"$1" | grep -qx "${@:3}" -- "$2"; }
said() { has "$work/$1.txt" "$2" -F; }
# expect BUILD LINE...: the script passed, said each line, and skipped
# nothing but what those lines say it skipped.
expect() {
  local build=$1 line skips arch archs
  shift
  check "as build $build it passes" eval "[ $status = 0 ] && said $build 'windows_test: 0 failed, $(printf '%s\n' "$@" | grep -c '^SKIPPED') skipped'"
  for line; do check "... and says: $line" said "$build" "$line"; done
  # Each menu run picked our item, and the stand-in file manager started
  # with the command line that the DLL composes.
  line="ok: it started \"$(windows_path "$kit/x64/Norrvane.exe")\" /select,$(windows_path "$work/$build/work/target file.txt")"
  archs="x64 x86"
  [ -z "${NORRVANE_NO_32BIT:-}" ] || archs=x64
  for arch in $archs; do
    check "... and its $arch shell_check's menu run says: $line" has "$work/$build/shell_check-$arch-menu.txt" "$line" -F
  done
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
# ctest has just soaked these very programs for 1000 rounds: here a few
# rounds show that the script runs the soak test and reads its verdict.
NORRVANE_SOAK_ROUNDS=20 run_script 22631
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

echo "-- windows_test.cmd on kits with faults"
# Each holds only what its steps need; the test programs run only where
# they are the fault, the 32-bit steps nowhere. A test program that exits 0
# without GoogleTest's summary (the stand-in file manager), and package steps
# that exit 2 (make_shortcut, given PowerShell's arguments), which the MSI
# lets fail: both reported, the two steps counted apart from their exit codes.
broken=$work/kit-with-faults
msi=$(awk '$1 == "x64" { print $3 }' "$kit/packages.txt" | tr -d '\r')
rm -rf "$broken"
mkdir -p "$broken/release" "$broken/x64"
cp "$kit/packages.txt" "$broken/"
cp "$kit/release/$msi" "$broken/release/"
cp "$kit/x64/stand_in_file_manager.exe" "$broken/x64/no_summary_tests.exe"
cp "$kit/x64/make_shortcut.exe" "$powershell/powershell.exe"
windows_build 22631
NORRVANE_NO_32BIT="not with faults" run_script faults "$broken"
check "with faults it fails" [ "$status" != 0 ]
check "... and says: FAILED: x64 no_summary_tests: exit code 0, no summary" \
  said faults "FAILED: x64 no_summary_tests: exit code 0, no summary"
line='FAILED: build 22631: the installation ran its two package steps, each with exit code 0: "2 0", not "2 2"'
check "... and says: $line" said faults "$line"
# An MSI that msiexec cannot open.
echo "not an installer" >"$broken/release/$msi"
NORRVANE_NO_PROGRAMS="not with faults" NORRVANE_NO_32BIT="not with faults" run_script bad-msi "$broken"
check "with an MSI that msiexec cannot open it fails, and says: FAILED: msiexec /i exits 0: exit code ..." \
  eval '[ "$status" != 0 ] && has "$work/bad-msi.txt" "FAILED: msiexec /i exits 0: exit code [1-9][0-9]*"'

echo "-- make_kit.sh's check on a DLL that imports the compiler's runtime"
# A copy of the x64 DLL whose KERNEL32 import names a lib*.dll instead.
planted=$work/runtime-import
rm -rf "$planted"
mkdir -p "$planted/x64"
perl -0777 -pe 's/KERNEL32\.dll\0/libkernl.dll\0/gi' "$kit/x64/NorrvaneShLnk.dll" >"$planted/x64/NorrvaneShLnk.dll"
bash "$root/tests/windows/make_kit.sh" --check "$planted" >"$work/runtime-import.txt" 2>&1
status=$?
sed 's/^/   /' "$work/runtime-import.txt"
line="FAILED: imports of the compiler's runtime: x64/NorrvaneShLnk.dll:libkernl.dll"
check "it fails, and says: $line" eval '[ "$status" != 0 ] && has "$work/runtime-import.txt" "$line" -F'

echo "-- the workflow's Windows step, on a script that fails"
# Its cmd script run as the runner runs one (a file, called from
# cmd /d /e:on /v:off /s /c) with a stand-in windows_test.cmd that reports
# three failures: the step fails, after showing the output. (Wine's cmd
# gives a called script's non-zero exit code as 1; Windows keeps the 3.)
step=$work/workflow-step
rm -rf "$step"
mkdir -p "$step/tests/windows"
awk 'index($0, "name: tests\\windows\\windows_test.cmd") { found = 1; next }
     found && /^ *run: [|]$/ { indent = index($0, "r"); running = 1; next }
     running { match($0, /^ */); if ($0 != "" && RLENGTH < indent) exit; printf "%s\r\n", substr($0, indent + 2) }' \
  "$root/.github/workflows/windows.yml" >"$step/step.cmd"
printf '@echo off\r\necho windows_test: 3 failed, 0 skipped\r\nexit /b 3\r\n' >"$step/tests/windows/windows_test.cmd"
(cd "$step" && on_wine cmd /d /e:on /v:off /s /c "call step.cmd" >"$work/workflow-step.txt" 2>&1)
status=$?
tr -d '\r' <"$work/workflow-step.txt" | sed 's/^/   /'
check "it fails, and shows the script's output" \
  eval '[ "$status" != 0 ] && said workflow-step "windows_test: 3 failed, 0 skipped"'

WINEPREFIX="$prefix" wineserver -w
echo "windows script under Wine: $failures failed"
[ "$failures" -eq 0 ]
