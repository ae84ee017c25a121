#!/usr/bin/env bash
# Checks a release zip: both DLLs, each of the right machine type, and both
# command scripts.
# usage: check_package.sh ZIP
set -euo pipefail
zip=$1
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
unzip -q "$zip" -d "$dir"

passed=0 failed=0
check() {
  if eval "$2"; then echo "ok: $1"; passed=$((passed + 1)); else echo "FAILED: $1"; failed=$((failed + 1)); fi
}

# The PE header's machine field: 0x014c for x86, 0x8664 for x64.
machine() {
  local pe
  pe=$(od -An -tu4 -j 60 -N 4 "$1" | tr -d ' ')
  [ "$(od -An -c -j "$pe" -N 4 "$1" | tr -d ' ')" = 'PE\0\0' ] || { echo none; return; }
  od -An -tx2 -j $((pe + 4)) -N 2 "$1" | tr -d ' '
}

check "x86/NorrvaneShLnk.dll is an x86 image" '[ -f "$dir/x86/NorrvaneShLnk.dll" ] && [ "$(machine "$dir/x86/NorrvaneShLnk.dll")" = 014c ]'
check "x64/NorrvaneShLnk.dll is an x64 image" '[ -f "$dir/x64/NorrvaneShLnk.dll" ] && [ "$(machine "$dir/x64/NorrvaneShLnk.dll")" = 8664 ]'
check "install.cmd uses both regsvr32" 'grep -q "System32\\\\regsvr32.exe" "$dir/install.cmd" && grep -q "SysWOW64\\\\regsvr32.exe" "$dir/install.cmd"'
check "uninstall.cmd unregisters" 'grep -q "regsvr32.exe" "$dir/uninstall.cmd" && grep -q "/u /s" "$dir/uninstall.cmd"'
check "nothing else in the zip" '[ "$(cd "$dir" && find . -type f | sort | tr "\n" " ")" = "./install.cmd ./uninstall.cmd ./x64/NorrvaneShLnk.dll ./x86/NorrvaneShLnk.dll " ]'

echo "package: $passed passed, $failed failed"
[ "$failed" = 0 ]
