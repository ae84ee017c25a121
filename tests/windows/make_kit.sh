#!/usr/bin/env bash
# Gathers what tests/windows/windows_test.cmd needs on a Windows machine into
# one folder, the artifact that the workflow's Linux job hands its Windows
# jobs:
#   release/      the signed release (the packages and SHA256SUMS)
#   certificate/  ca.pem, the test certificate authority's own certificate
#                 (never a key): the machine trusts it for the run
#   packages.txt  each MSI's architecture, product code and file name
#   x64/, x86/    the test programs, the DLL they test, the stand-in file
#                 manager under its names, the right-click host, the shortcut
#                 maker and shell_check
#   arm64/        the ARM64 test program, the ARM64 DLL and shell_check
# and checks that every program and DLL there runs on a Windows without the
# toolchain: none imports a DLL of the compiler's runtime (libstdc++,
# libgcc, winpthread: lib*.dll), and the kit holds no private key. With
# --check it only checks a folder as it is (wine_test.sh gives it a planted
# one).
# usage: make_kit.sh KIT DIST CA_PEM | make_kit.sh --check KIT
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)

gather() {
  rm -rf "$kit"
  mkdir -p "$kit/release" "$kit/certificate"
  cp "$dist"/NorrvaneShLnk-* "$dist/SHA256SUMS" "$kit/release/"
  cp "$ca" "$kit/certificate/ca.pem"
  for arch in x64 arm64 x86; do
    msi=$(cd "$kit/release" && echo NorrvaneShLnk-*-"$arch".msi)
    product=$(msiinfo export "$kit/release/$msi" Property | tr -d '\r' | awk -F'\t' '$1 == "ProductCode" { print $2 }')
    printf '%s %s %s\r\n' "$arch" "$product" "$msi" >>"$kit/packages.txt"
  done
  for arch in x64 x86; do
    build=$root/build/$arch
    mkdir -p "$kit/$arch"
    find "$build/tests" -name '*_tests.exe' -not -path '*/googletest/*' -exec cp {} "$kit/$arch/" \;
    cp "$build/NorrvaneShLnk.dll" "$build/tests/windows/shell_check.exe" "$kit/$arch/"
    cp "$build/tools/"{stand_in_file_manager,Norrvane,Norrvane32,Norrvane64,explorer,right_click_host,make_shortcut}.exe \
      "$kit/$arch/"
  done
  mkdir -p "$kit/arm64"
  cp "$root/build/arm64/NorrvaneShLnk.dll" "$root/build/arm64/tests/arm64/dll_test.exe" \
    "$root/build/arm64/tests/windows/shell_check.exe" "$kit/arm64/"
}
if [ "$1" = --check ]; then
  kit=$2
else
  kit=$1 dist=$2 ca=$3
  gather
fi

failed=0
# The DLLs a program or DLL imports, one a line.
imports() { llvm-objdump-19 -p "$1" | sed -n 's/^ *DLL Name: //p'; }
runtime=""
count=0
while read -r file; do
  count=$((count + 1))
  names=$(imports "$file")
  [ -n "$names" ] || { runtime+=" ${file#"$kit/"}(no import table read)"; continue; }
  while read -r name; do
    case ${name,,} in lib*.dll) runtime+=" ${file#"$kit/"}:$name" ;; esac
  done <<<"$names"
done < <(find "$kit" -name '*.exe' -o -name '*.dll' | sort)
if [ -z "$runtime" ]; then
  echo "ok: the kit's $count programs and DLLs import no DLL of the compiler's runtime"
else
  echo "FAILED: imports of the compiler's runtime:$runtime"
  failed=1
fi
keys=$(grep -rlE 'PRIVATE KEY' "$kit" || true; find "$kit" -name '*.pfx' -o -name '*.key' -o -name '*.p12')
if [ -z "$keys" ]; then
  echo "ok: the kit holds no private key"
else
  echo "FAILED: the kit holds a private key: $keys"
  failed=1
fi
[ "$failed" = 0 ]
