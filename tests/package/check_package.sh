#!/usr/bin/env bash
# Checks a release: the zip holds both DLLs, each of the right machine type,
# and both command scripts; SHA256SUMS beside the packages lists them all and
# holds. Given the certificate authority of the signer (--ca, with the
# signer's subject in publisher.txt beside it), the DLLs in the zip, both MSIs
# and the sparse package carry Authenticode signatures that it vouches for,
# and a single changed byte breaks them; the sparse package is proved by
# check_sparse_package.py. And the DLLs are the tree's: without their
# signatures, they are what building the tree as it is now gives.
# usage: check_package.sh [--ca CA_PEM] ZIP X64_MSI X86_MSI [MSIX]
set -euo pipefail
ca=""
if [ "$1" = --ca ]; then
  ca=$2
  shift 2
fi
zip=$1 msi64=$2 msi86=$3 msix=${4:-}
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

root=$(cd "$(dirname "$0")/../.." && pwd)
for arch in x86 x64; do
  built=$root/build/$arch/NorrvaneShLnk.dll
  (cd "$root" && cmake --build --preset "$arch" --target NorrvaneShLnk >/dev/null 2>&1)
  osslsigncode remove-signature -in "$dir/$arch/NorrvaneShLnk.dll" -out "$dir/$arch.dll" >/dev/null 2>&1 ||
    cp "$dir/$arch/NorrvaneShLnk.dll" "$dir/$arch.dll"
  check "$arch/NorrvaneShLnk.dll is the tree's build" 'cmp -s "$dir/$arch.dll" "$built"'
done

released=$(for file in "$zip" "$msi64" "$msi86" $msix; do basename "$file"; done | sort | tr "\n" " ")
check "SHA256SUMS lists every package and holds" \
  '(cd "$(dirname "$zip")" && [ "$(cut -c67- SHA256SUMS | sort | tr "\n" " ")" = "$released" ] && sha256sum --quiet -c SHA256SUMS)'

if [ -n "$ca" ]; then
  verified() { osslsigncode verify -CAfile "$ca" -in "$1" >/dev/null 2>&1; }
  # tampered FILE MARKER: a copy with one byte changed inside the first
  # MARKER, which lies in what the signature covers; fails without it.
  tampered() {
    python3 - "$1" "$2" "$dir/tampered" <<'PY'
import sys
data = bytearray(open(sys.argv[1], "rb").read())
at = data.find(sys.argv[2].encode()) + 1
if at == 0:
    sys.exit("marker not found")
data[at] ^= 0x20
open(sys.argv[3], "wb").write(data)
PY
    echo "$dir/tampered"
  }
  for file in "$dir/x86/NorrvaneShLnk.dll" "$dir/x64/NorrvaneShLnk.dll"; do
    name=${file#"$dir/"}
    check "$name is signed and the CA vouches for it" 'verified "$file"'
    check "$name with one byte changed fails" 'changed=$(tampered "$file" DllGetClassObject) && ! verified "$changed"'
  done
  for file in "$msi64" "$msi86"; do
    check "$(basename "$file") is signed and the CA vouches for it" 'verified "$file"'
    check "$(basename "$file") with one byte changed fails" \
      'changed=$(tampered "$file" "Kitahara Soft Works") && ! verified "$changed"'
  done
  if [ -n "$msix" ]; then
    check "$(basename "$msix") is signed and the CA vouches for it" 'verified "$msix"'
    check "$(basename "$msix") with one byte changed fails" \
      'changed=$(tampered "$msix" AppxManifest.xml) && ! verified "$changed"'
    version=$(basename "$msix" .msix)
    check "$(basename "$msix") is proved from its bytes, published by the signer" \
      'python3 "$(dirname "$0")/check_sparse_package.py" "$msix" --publisher "$(cat "$(dirname "$ca")/publisher.txt")" \
         --version "${version#NorrvaneShLnk-}.0" >"$dir/sparse.txt"'
  fi
fi

echo "package: $passed passed, $failed failed"
[ "$failed" = 0 ]
