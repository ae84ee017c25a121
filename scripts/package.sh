#!/usr/bin/env bash
# Builds the DLLs from the tree as it is (incrementally) and makes the
# release packages, printing their paths one per line:
#   NorrvaneShLnk-<version>.zip        x86/, x64/ and arm64/NorrvaneShLnk.dll, install.cmd, uninstall.cmd
#   NorrvaneShLnk-<version>-x64.msi    for x64 Windows: the x64 and the 32-bit DLL
#   NorrvaneShLnk-<version>-x86.msi    for 32-bit Windows: the 32-bit DLL
#   NorrvaneShLnk-<version>-arm64.msi  for ARM64 Windows: the ARM64 and the 32-bit DLL
#   NorrvaneShLnk-<version>-x64.msix   signed releases only: the sparse packages
#   NorrvaneShLnk-<version>-arm64.msix that give the x64 and the ARM64 DLL a
#                                      package identity on Windows 11, also
#                                      inside the x64 and the ARM64 MSI
# and writes SHA256SUMS of every file of the release beside them. The x64
# and ARM64 MSIs also carry NorrvaneShLnkSetup.dll, the custom action of
# their package steps.
#
# The version is the packages' own (NORRVANE_PACKAGE_VERSION in
# CMakeLists.txt, three fields); --version gives them another one (tests make
# an earlier release with it).
#
# Signing, with Authenticode and SHA-256: given NORRVANE_SIGN_PFX (a PKCS#12
# file) and NORRVANE_SIGN_PASSWORD_FILE (a file holding its password), the
# DLLs are signed before they go into the packages, and then the MSIs.
# NORRVANE_SIGN_TIMESTAMP_URL names an RFC 3161 time-stamp server: a
# signature without a time stamp dies with the certificate, and then Windows
# refuses the package and may block the DLL. Signing without one needs
# NORRVANE_SIGN_NO_TIMESTAMP=1 (tests, which have no server). Without a
# certificate the release is unsigned and has no sparse package (Windows
# registers only signed ones), and it says so.
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
  if [ -z "${NORRVANE_SIGN_TIMESTAMP_URL:-}" ] && [ "${NORRVANE_SIGN_NO_TIMESTAMP:-}" != 1 ]; then
    echo "package.sh: no time-stamp server given (NORRVANE_SIGN_TIMESTAMP_URL): signatures without a time stamp" \
      "stop being valid when the certificate expires; set NORRVANE_SIGN_NO_TIMESTAMP=1 to sign without one" >&2
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
# osslsigncode signs packages as Windows takes them from version 2.9 on.
signs_packages() {
  local have
  have=$(osslsigncode --version 2>/dev/null | sed -n '1s/^osslsigncode \([0-9.]*\).*/\1/p')
  [ -n "$have" ] && [ "$(printf '2.9\n%s\n' "$have" | sort -V | sed -n 1p)" = 2.9 ]
}

# The DLLs of the tree as it is: a build left from an earlier checkout would
# otherwise be released in its place.
bash scripts/setup.sh
for preset in x86 x64 arm64; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" --target NorrvaneShLnk NorrvaneShLnkSetup -j "$(nproc 2>/dev/null || echo 2)" >/dev/null
done

mkdir -p "$out"
out=$(cd "$out" && pwd)
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT

# Each architecture's DLL, and for x64 and ARM64 the custom action DLL of
# the MSI's package steps, which runs as the native Windows Installer does.
mkdir -p "$stage/x86" "$stage/x64" "$stage/arm64"
cp build/x86/NorrvaneShLnk.dll "$stage/x86/"
for arch in x64 arm64; do
  cp "build/$arch/NorrvaneShLnk.dll" "build/$arch/NorrvaneShLnkSetup.dll" "$stage/$arch/"
done
cp scripts/windows/install.cmd scripts/windows/uninstall.cmd "$stage/"
sparse=""
if [ -n "$signing" ]; then
  for dll in x86/NorrvaneShLnk.dll {x64,arm64}/NorrvaneShLnk.dll {x64,arm64}/NorrvaneShLnkSetup.dll; do
    sign "$stage/$dll"
  done
  if signs_packages; then
    subject=$(certificate_subject) || { echo "package.sh: cannot read the certificate's subject" >&2; exit 1; }
    # One package for each DLL; the family is the same.
    for arch in x64 arm64; do
      family=$(python3 scripts/make_sparse_package.py --manifest installer/AppxManifest.xml --signer-subject "$subject" \
        --version "$version.0" --architecture "$arch" --out "$stage/$arch/NorrvaneShLnk.msix" \
        --logo-out "$stage/NorrvaneShLnk.png" --print-family)
      sign "$stage/$arch/NorrvaneShLnk.msix"
    done
    sparse=1
  else
    echo "package.sh: this osslsigncode cannot sign packages (2.9 or later can): no sparse package" >&2
  fi
fi
# Modes and times as the packages record them, whoever built them when.
find "$stage" -type d -exec chmod 755 {} +
find "$stage" -type f -exec chmod 644 {} +
find "$stage" -exec touch -h -d "@$epoch" {} +

zip_path="$out/NorrvaneShLnk-$version.zip"
rm -f "$zip_path"
# -X leaves out owners and extra time stamps; -D directory entries.
(cd "$stage" && zip -q -X -D "$zip_path" install.cmd uninstall.cmd x86/NorrvaneShLnk.dll x64/NorrvaneShLnk.dll \
  arm64/NorrvaneShLnk.dll)
echo "$zip_path"

# A name-based UUID (version 5) in the namespace of the upgrade code.
wxs=$PWD/installer/NorrvaneShLnk.wxs
upgrade_code=$(sed -n 's/.*UpgradeCode="\([0-9a-fA-F-]*\)".*/\1/p' "$wxs")
derived_uuid() {
  python3 -c 'import sys, uuid; print(str(uuid.uuid5(uuid.UUID(sys.argv[1]), sys.argv[2])).upper())' \
    "$upgrade_code" "$1"
}
# wixl 0.101 knows no ARM64: that package is built as an x64 one (64-bit
# components and folders, which ARM64 Windows has too) and given the ARM64
# platform in its summary. It writes Execute="rollback" as an immediate
# action; rollback (0x100) is set afterwards.
released=("NorrvaneShLnk-$version.zip")
for arch in x64 x86 arm64; do
  msi="$out/NorrvaneShLnk-$version-$arch.msi"
  rm -f "$msi"
  # One product per version and platform, so that a package rebuilt from the
  # same version is the same product to Windows Installer.
  product_code=$(derived_uuid "product $version $arch")
  # wixl takes the files' paths relative to the folder it runs in.
  native=$([ "$arch" = x86 ] && echo x64 || echo "$arch")
  inputs=("$native/NorrvaneShLnk.dll" x86/NorrvaneShLnk.dll)
  sparse_files=()
  if [ -n "$sparse" ] && [ "$arch" != x86 ]; then
    sparse_files=(-D SparsePackage="$arch/NorrvaneShLnk.msix" -D SparseLogo=NorrvaneShLnk.png
                  -D SetupActions="$arch/NorrvaneShLnkSetup.dll" -D PackageFamily="$family" -D PublisherId="${family##*_}")
    inputs+=("$arch/NorrvaneShLnk.msix" NorrvaneShLnk.png "$arch/NorrvaneShLnkSetup.dll")
  fi
  # The package code names these very contents: the source and every file it takes in.
  contents=$( (cat "$wxs" && cd "$stage" && cat "${inputs[@]}" && printf '%s' "${sparse_files[*]}") | sha256sum | cut -c1-64)
  package_code=$(derived_uuid "package $version $arch $contents")
  (cd "$stage" && at_epoch wixl -a "$([ "$arch" = x86 ] && echo x86 || echo x64)" -D Arch="$arch" -D Version="$version" \
    -D ProductCode="$product_code" -D Dll64="$native/NorrvaneShLnk.dll" -D Dll32=x86/NorrvaneShLnk.dll \
    "${sparse_files[@]}" -o "$msi" "$wxs")
  # Each Undo<action> runs as the action it guards does (in the script,
  # impersonated or not), at rollback (0x100), with its own result handling
  # (0x40: ignored).
  msiinfo export "$msi" CustomAction | tr -d '\r' | awk -F'\t' '{ print $1, $2 }' >"$stage/types"
  while read -r action own; do
    guarded=$(awk -v a="${action#Undo}" '$1 == a { print $2 }' "$stage/types")
    at_epoch msibuild "$msi" -q "UPDATE \`CustomAction\` SET \`Type\` = $(((guarded & ~0x40) | 0x100 | (own & 0x40))) WHERE \`Action\` = '$action'"
  done < <(grep '^Undo' "$stage/types")
  case $arch in x64) template="x64;1033" ;; arm64) template="Arm64;1033" ;; *) template="Intel;1033" ;; esac
  at_epoch msibuild "$msi" -s "NorrvaneShLnk $version ($arch)" "Kitahara Soft Works" "$template" "{$package_code}"
  [ -z "$signing" ] || sign "$msi"
  released+=("$(basename "$msi")")
  echo "$msi"
done

rm -f "$out/NorrvaneShLnk-$version-"*.msix
if [ -n "$sparse" ]; then
  for arch in x64 arm64; do
    cp "$stage/$arch/NorrvaneShLnk.msix" "$out/NorrvaneShLnk-$version-$arch.msix"
    released+=("NorrvaneShLnk-$version-$arch.msix")
    echo "$out/NorrvaneShLnk-$version-$arch.msix"
  done
fi
(cd "$out" && sha256sum "${released[@]}" >SHA256SUMS)
