#!/usr/bin/env bash
# Checks a release: the zip holds the three DLLs, each of the right machine
# type, and both command scripts; each MSI carries the DLLs of its platform
# (and the x64 and ARM64 ones their custom action DLL); SHA256SUMS beside the
# packages lists them all and holds. Given the certificate authority of the
# signer (--ca, with the signer's subject in publisher.txt beside it), the
# DLLs in the zip and in the MSIs, the MSIs and the sparse packages carry
# Authenticode signatures that it vouches for, and a single changed byte
# breaks them; the sparse packages are proved by check_sparse_package.py;
# and with the signer beside it (signer.pfx, password.txt), package.sh
# signs without a time stamp only when told to. And the DLLs are the tree's:
# without their signatures, they are what building the tree as it is now
# gives.
# usage: check_package.sh [--ca CA_PEM] ZIP X64_MSI X86_MSI ARM64_MSI [X64_MSIX ARM64_MSIX]
set -euo pipefail
ca=""
if [ "$1" = --ca ]; then
  ca=$2
  shift 2
fi
zip=$1 msi64=$2 msi86=$3 msiarm64=$4
msix=("${@:5}")
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
unzip -q "$zip" -d "$dir/zip"

passed=0 failed=0
check() {
  if eval "$2"; then echo "ok: $1"; passed=$((passed + 1)); else echo "FAILED: $1"; failed=$((failed + 1)); fi
}

# The PE header's machine field: 014c for x86, 8664 for x64, aa64 for ARM64.
machine() {
  local pe
  pe=$(od -An -tu4 -j 60 -N 4 "$1" | tr -d ' ')
  [ "$(od -An -c -j "$pe" -N 4 "$1" | tr -d ' ')" = 'PE\0\0' ] || { echo none; return; }
  od -An -tx2 -j $((pe + 4)) -N 2 "$1" | tr -d ' '
}
declare -A machine_of=([x86]=014c [x64]=8664 [arm64]=aa64)

for arch in x86 x64 arm64; do
  check "$arch/NorrvaneShLnk.dll is an $arch image" \
    '[ -f "$dir/zip/$arch/NorrvaneShLnk.dll" ] && [ "$(machine "$dir/zip/$arch/NorrvaneShLnk.dll")" = ${machine_of[$arch]} ]'
done
check "install.cmd uses both regsvr32" 'grep -q "System32\\\\regsvr32.exe" "$dir/zip/install.cmd" && grep -q "SysWOW64\\\\regsvr32.exe" "$dir/zip/install.cmd"'
check "uninstall.cmd unregisters" 'grep -q "regsvr32.exe" "$dir/zip/uninstall.cmd" && grep -q "/u /s" "$dir/zip/uninstall.cmd"'
check "nothing else in the zip" '[ "$(cd "$dir/zip" && find . -type f | sort | tr "\n" " ")" = "./arm64/NorrvaneShLnk.dll ./install.cmd ./uninstall.cmd ./x64/NorrvaneShLnk.dll ./x86/NorrvaneShLnk.dll " ]'

root=$(cd "$(dirname "$0")/../.." && pwd)
for arch in x86 x64 arm64; do
  built=$root/build/$arch/NorrvaneShLnk.dll
  (cd "$root" && cmake --build --preset "$arch" --target NorrvaneShLnk >/dev/null 2>&1)
  osslsigncode remove-signature -in "$dir/zip/$arch/NorrvaneShLnk.dll" -out "$dir/$arch.dll" >/dev/null 2>&1 ||
    cp "$dir/zip/$arch/NorrvaneShLnk.dll" "$dir/$arch.dll"
  check "$arch/NorrvaneShLnk.dll is the tree's build" 'cmp -s "$dir/$arch.dll" "$built"'
done

# The DLLs an MSI installs, as "machine:path" sorted, and the machine of its
# custom action DLL; each extracted copy is left in DIR/files/MSI.
installed() {
  local files=$dir/files/$(basename "$1")
  mkdir -p "$files"
  msiextract -C "$files" "$1" >/dev/null
  find "$files" -name NorrvaneShLnk.dll | sort | while read -r file; do echo "$(machine "$file")"; done | tr '\n' ' '
  if msiinfo extract "$1" Binary.SetupActions >"$dir/setup.dll" 2>/dev/null; then
    mv "$dir/setup.dll" "$files/NorrvaneShLnkSetup.dll"
    machine "$files/NorrvaneShLnkSetup.dll"
  else
    echo "no setup DLL"
  fi
}
# The package steps, and with them the setup DLL, come with the sparse packages.
setup() { if [ "${#msix[@]}" -gt 0 ]; then echo "$1"; else echo "no setup DLL"; fi; }
check "the x64 MSI installs the x64 and the x86 DLL ($(setup "an x64 setup DLL"))" \
  '[ "$(installed "$msi64")" = "8664 014c $(setup 8664)" ]'
check "the ARM64 MSI installs the ARM64 and the x86 DLL ($(setup "an ARM64 setup DLL"))" \
  '[ "$(installed "$msiarm64")" = "aa64 014c $(setup aa64)" ]'
check "the x86 MSI installs the x86 DLL alone" '[ "$(installed "$msi86")" = "014c no setup DLL" ]'

released=$(for file in "$zip" "$msi64" "$msi86" "$msiarm64" "${msix[@]}"; do basename "$file"; done | sort | tr "\n" " ")
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
  for file in "$dir"/zip/*/NorrvaneShLnk.dll; do
    name=${file#"$dir/zip/"}
    check "$name is signed and the CA vouches for it" 'verified "$file"'
    check "$name with one byte changed fails" 'changed=$(tampered "$file" DllGetClassObject) && ! verified "$changed"'
  done
  check "every DLL the MSIs carry is signed and the CA vouches for it" \
    '[ -z "$(find "$dir/files" -name "*.dll" -exec sh -c "osslsigncode verify -CAfile \"$ca\" -in \"\$1\" >/dev/null 2>&1 || echo \"\$1\"" _ {} \;)" ]'
  # Without a time-stamp server, only NORRVANE_SIGN_NO_TIMESTAMP=1 lets
  # package.sh sign: unset, empty or any other value, it refuses before it
  # makes anything.
  refuses_unstamped() {
    local waiver=(NORRVANE_SIGN_NO_TIMESTAMP="$1")
    [ "$1" != unset ] || waiver=(-u NORRVANE_SIGN_NO_TIMESTAMP)
    rm -rf "$dir/unstamped"
    ! env -u NORRVANE_SIGN_TIMESTAMP_URL "${waiver[@]}" NORRVANE_SIGN_PFX="$(dirname "$ca")/signer.pfx" \
      NORRVANE_SIGN_PASSWORD_FILE="$(dirname "$ca")/password.txt" bash "$root/scripts/package.sh" "$dir/unstamped" \
      >"$dir/unstamped.log" 2>&1 && grep -q 'no time-stamp server given' "$dir/unstamped.log" && [ ! -e "$dir/unstamped" ]
  }
  for waiver in unset "" 0 no; do
    check "package.sh refuses to sign without a time stamp, NORRVANE_SIGN_NO_TIMESTAMP ${waiver:-empty}" \
      'refuses_unstamped "$waiver"'
  done
  for file in "$msi64" "$msi86" "$msiarm64"; do
    check "$(basename "$file") is signed and the CA vouches for it" 'verified "$file"'
    check "$(basename "$file") with one byte changed fails" \
      'changed=$(tampered "$file" "Kitahara Soft Works") && ! verified "$changed"'
  done
  carries_package() {
    python3 "$(dirname "$0")/check_sparse_package.py" "$dir/files/$(basename "$1")/NorrvaneShLnk/NorrvaneShLnk.msix" \
      --publisher "$(cat "$(dirname "$ca")/publisher.txt")" --version "$2.0" --architecture "$3" >/dev/null
  }
  for file in "${msix[@]}"; do
    check "$(basename "$file") is signed and the CA vouches for it" 'verified "$file"'
    check "$(basename "$file") with one byte changed fails" \
      'changed=$(tampered "$file" AppxManifest.xml) && ! verified "$changed"'
    # NorrvaneShLnk-<version>-<architecture>.msix
    name=$(basename "$file" .msix)
    name=${name#NorrvaneShLnk-}
    check "$(basename "$file") is proved from its bytes, published by the signer, for ${name##*-}" \
      'python3 "$(dirname "$0")/check_sparse_package.py" "$file" --publisher "$(cat "$(dirname "$ca")/publisher.txt")" \
         --version "${name%-*}.0" --architecture "${name##*-}" >"$dir/sparse.txt"'
    msi=$(dirname "$file")/NorrvaneShLnk-$name.msi
    check "$(basename "$msi") carries the ${name##*-} package" 'carries_package "$msi" "${name%-*}" "${name##*-}"'
  done
fi

echo "package: $passed passed, $failed failed"
[ "$failed" = 0 ]
