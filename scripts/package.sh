#!/usr/bin/env bash
# Builds both DLLs (where not built yet) and makes the release packages,
# printing their paths one per line:
#   NorrvaneShLnk-<version>.zip      x86/ and x64/NorrvaneShLnk.dll, install.cmd, uninstall.cmd
#   NorrvaneShLnk-<version>-x64.msi  for 64-bit Windows: both DLLs
#   NorrvaneShLnk-<version>-x86.msi  for 32-bit Windows: the 32-bit DLL
#   NorrvaneShLnk-<version>.msix     signed releases only: the sparse package
#                                    that gives the DLL a package identity on
#                                    Windows 11, also inside the x64 MSI
# and writes SHA256SUMS of every file of the release beside them.
#
# The version is the packages' own (NORRVANE_PACKAGE_VERSION in
# CMakeLists.txt, three fields); --version gives them another one (tests make
# an earlier release with it).
#
# Signing, with Authenticode and SHA-256: given NORRVANE_SIGN_PFX (a PKCS#12
# file) and NORRVANE_SIGN_PASSWORD_FILE (a file holding its password), both
# DLLs are signed before they go into the packages, and then both MSIs;
# NORRVANE_SIGN_TIMESTAMP_URL, when set, names an RFC 3161 time-stamp server.
# Without a certificate the release is unsigned and has no sparse package
# (Windows registers only signed ones), and it says so.
#
# The same commit gives the same bytes: every time in the packages is
# SOURCE_DATE_EPOCH (by default the last commit's), and the MSIs' codes are
# derived from the version and from what goes into them.
#
# usage: scripts/package.sh [--version X.Y.Z] [OUTPUT_DIR]   (default: dist/)
set -euo pipefail
cd "$(dirname "$0")/.."

version=$(sed -n 's/^set(NORRVANE_PACKAGE_VERSION \([0-9.]*\))$/\1/p' CMakeLists.txt)
if [ "${1:-}" = --version ]; then
  version=$2
  shift 2
fi
out=${1:-dist}

epoch=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct 2>/dev/null || true)}
if [ -z "$epoch" ]; then
  echo "package.sh: set SOURCE_DATE_EPOCH; there is no commit to take the time from" >&2
  exit 1
fi
export SOURCE_DATE_EPOCH=$epoch TZ=UTC
# A clock stopped at that time, for the tools that write the time they run at,
# whatever clock the caller's tools are shown.
# (-f with an absolute time stops the clock; without it, it would run on.)
at_epoch() { env -u LD_PRELOAD -u FAKETIME faketime -f "$(date -u -d "@$epoch" '+%Y-%m-%d %H:%M:%S')" "$@"; }

signing=""
if [ -n "${NORRVANE_SIGN_PFX:-}" ]; then
  if [ ! -f "$NORRVANE_SIGN_PFX" ] || [ ! -f "${NORRVANE_SIGN_PASSWORD_FILE:-}" ]; then
    echo "package.sh: NORRVANE_SIGN_PFX and NORRVANE_SIGN_PASSWORD_FILE must name existing files" >&2
    exit 1
  fi
  signing=1
else
  echo "package.sh: no certificate given (NORRVANE_SIGN_PFX): the release is unsigned, without a sparse package" >&2
fi
# sign FILE: signs it in place.
sign() {
  osslsigncode sign -pkcs12 "$NORRVANE_SIGN_PFX" -readpass "$NORRVANE_SIGN_PASSWORD_FILE" -h sha256 \
    -n NorrvaneShLnk ${NORRVANE_SIGN_TIMESTAMP_URL:+-ts "$NORRVANE_SIGN_TIMESTAMP_URL"} \
    -in "$1" -out "$1.signed" >/dev/null
  mv "$1.signed" "$1"
}

# The signer's subject as openssl writes it by RFC 2253, the names last to
# first; make_sparse_package.py writes it as Windows does, which the
# package's manifest must name as its publisher.
certificate_subject() {
  local legacy
  for legacy in "" -legacy; do
    openssl pkcs12 $legacy -in "$NORRVANE_SIGN_PFX" -passin "file:$NORRVANE_SIGN_PASSWORD_FILE" -nokeys -clcerts \
      2>/dev/null | openssl x509 -noout -subject -nameopt RFC2253 2>/dev/null | sed -e 's/^subject=//' | grep . && return
  done
  return 1
}
# osslsigncode signs packages from version 2.7 on.
signs_packages() {
  local have
  have=$(osslsigncode --version 2>/dev/null | sed -n '1s/^osslsigncode \([0-9.]*\).*/\1/p')
  [ -n "$have" ] && [ "$(printf '2.7\n%s\n' "$have" | sort -V | head -n 1)" = 2.7 ]
}

for preset in x86 x64; do
  if [ ! -f "build/$preset/NorrvaneShLnk.dll" ]; then
    bash scripts/setup.sh
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" --target NorrvaneShLnk -j "$(nproc 2>/dev/null || echo 2)"
  fi
done
for tool in wixl msibuild faketime osslsigncode python3; do
  command -v "$tool" >/dev/null || bash scripts/setup.sh
done

mkdir -p "$out"
out=$(cd "$out" && pwd)
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT

mkdir -p "$stage/x86" "$stage/x64"
cp build/x86/NorrvaneShLnk.dll "$stage/x86/"
cp build/x64/NorrvaneShLnk.dll "$stage/x64/"
cp scripts/windows/install.cmd scripts/windows/uninstall.cmd "$stage/"
sparse=""
if [ -n "$signing" ]; then
  sign "$stage/x86/NorrvaneShLnk.dll"
  sign "$stage/x64/NorrvaneShLnk.dll"
  if signs_packages; then
    subject=$(certificate_subject) || { echo "package.sh: cannot read the certificate's subject" >&2; exit 1; }
    python3 scripts/make_sparse_package.py --manifest installer/AppxManifest.xml --signer-subject "$subject" \
      --version "$version.0" --out "$stage/NorrvaneShLnk.msix" --logo-out "$stage/NorrvaneShLnk.png"
    sign "$stage/NorrvaneShLnk.msix"
    sparse=1
  else
    echo "package.sh: this osslsigncode cannot sign packages (2.7 or later can): no sparse package" >&2
  fi
fi
# Modes and times as the packages record them, whoever built them when.
find "$stage" -type d -exec chmod 755 {} +
find "$stage" -type f -exec chmod 644 {} +
find "$stage" -exec touch -h -d "@$epoch" {} +

zip_path="$out/NorrvaneShLnk-$version.zip"
rm -f "$zip_path"
# -X leaves out owners and extra time stamps; -D directory entries.
(cd "$stage" && zip -q -X -D "$zip_path" install.cmd uninstall.cmd x86/NorrvaneShLnk.dll x64/NorrvaneShLnk.dll)
echo "$zip_path"

# A name-based UUID (version 5) in the namespace of the upgrade code.
wxs=$PWD/installer/NorrvaneShLnk.wxs
upgrade_code=$(sed -n 's/.*UpgradeCode="\([0-9a-fA-F-]*\)".*/\1/p' "$wxs")
derived_uuid() {
  python3 -c 'import sys, uuid; print(str(uuid.uuid5(uuid.UUID(sys.argv[1]), sys.argv[2])).upper())' \
    "$upgrade_code" "$1"
}
# wixl 0.101 writes Execute="rollback" as an immediate action; rollback
# (0x100) is set afterwards.
for arch in x64 x86; do
  msi="$out/NorrvaneShLnk-$version-$arch.msi"
  rm -f "$msi"
  # One product per version and platform, so that a package rebuilt from the
  # same version is the same product to Windows Installer.
  product_code=$(derived_uuid "product $version $arch")
  # The package code names these very contents.
  contents=$(cat "$wxs" "$stage/x86/NorrvaneShLnk.dll" "$stage/x64/NorrvaneShLnk.dll" | sha256sum | cut -c1-64)
  package_code=$(derived_uuid "package $version $arch $contents")
  # wixl takes the files' paths relative to the folder it runs in.
  sparse_files=()
  [ -z "$sparse" ] || [ "$arch" != x64 ] ||
    sparse_files=(-D SparsePackage=NorrvaneShLnk.msix -D SparseLogo=NorrvaneShLnk.png)
  (cd "$stage" && at_epoch wixl -a "$arch" -D Arch="$arch" -D Version="$version" -D ProductCode="$product_code" \
    -D Dll64=x64/NorrvaneShLnk.dll -D Dll32=x86/NorrvaneShLnk.dll "${sparse_files[@]}" -o "$msi" "$wxs")
  # Each Undo<action> runs as the action it guards does (in the script,
  # impersonated or not), at rollback (0x100), with its own result handling
  # (0x40: ignored).
  msiinfo export "$msi" CustomAction | tr -d '\r' | awk -F'\t' '{ print $1, $2 }' >"$stage/types"
  while read -r action own; do
    guarded=$(awk -v a="${action#Undo}" '$1 == a { print $2 }' "$stage/types")
    at_epoch msibuild "$msi" -q "UPDATE \`CustomAction\` SET \`Type\` = $(((guarded & ~0x40) | 0x100 | (own & 0x40))) WHERE \`Action\` = '$action'"
  done < <(grep '^Undo' "$stage/types")
  template=$([ "$arch" = x64 ] && echo "x64;1033" || echo "Intel;1033")
  at_epoch msibuild "$msi" -s "NorrvaneShLnk $version ($arch)" "Kitahara Soft Works" "$template" "{$package_code}"
  [ -z "$signing" ] || sign "$msi"
  echo "$msi"
done

released=("NorrvaneShLnk-$version.zip" "NorrvaneShLnk-$version-x64.msi" "NorrvaneShLnk-$version-x86.msi")
rm -f "$out/NorrvaneShLnk-$version.msix"
if [ -n "$sparse" ]; then
  cp "$stage/NorrvaneShLnk.msix" "$out/NorrvaneShLnk-$version.msix"
  released+=("NorrvaneShLnk-$version.msix")
  echo "$out/NorrvaneShLnk-$version.msix"
fi
(cd "$out" && sha256sum "${released[@]}" >SHA256SUMS)
