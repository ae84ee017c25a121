#!/usr/bin/env bash
# Builds both DLLs (where not built yet) and makes the release packages,
# printing their paths one per line:
#   NorrvaneShLnk-<version>.zip      x86/ and x64/NorrvaneShLnk.dll, install.cmd, uninstall.cmd
#   NorrvaneShLnk-<version>-x64.msi  for 64-bit Windows: both DLLs
#   NorrvaneShLnk-<version>-x86.msi  for 32-bit Windows: the 32-bit DLL
# The version is the packages' own (NORRVANE_PACKAGE_VERSION in
# CMakeLists.txt, three fields); --version gives them another one (tests make
# an earlier release with it).
# usage: scripts/package.sh [--version X.Y.Z] [OUTPUT_DIR]   (default: dist/)
set -euo pipefail
cd "$(dirname "$0")/.."

version=$(sed -n 's/^set(NORRVANE_PACKAGE_VERSION \([0-9.]*\))$/\1/p' CMakeLists.txt)
if [ "${1:-}" = --version ]; then
  version=$2
  shift 2
fi
out=${1:-dist}

for preset in x86 x64; do
  if [ ! -f "build/$preset/NorrvaneShLnk.dll" ]; then
    bash scripts/setup.sh
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" --target NorrvaneShLnk -j "$(nproc 2>/dev/null || echo 2)"
  fi
done
command -v wixl >/dev/null && command -v msibuild >/dev/null || bash scripts/setup.sh

mkdir -p "$out"
out=$(cd "$out" && pwd)
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT

mkdir -p "$stage/x86" "$stage/x64"
cp build/x86/NorrvaneShLnk.dll "$stage/x86/"
cp build/x64/NorrvaneShLnk.dll "$stage/x64/"
cp scripts/windows/install.cmd scripts/windows/uninstall.cmd "$stage/"
zip_path="$out/NorrvaneShLnk-$version.zip"
rm -f "$zip_path"
(cd "$stage" && zip -q -X -r "$zip_path" install.cmd uninstall.cmd x86 x64)
echo "$zip_path"

# wixl 0.101 writes Execute="rollback" as an immediate action; this is the
# type of a rollback action that runs an EXE named by a property (50), in the
# script (0x400), at rollback (0x100), not impersonated (0x800), its result
# ignored (0x40).
rollback_type=$((50 + 0x400 + 0x100 + 0x800 + 0x40))
wxs=$PWD/installer/NorrvaneShLnk.wxs
for arch in x64 x86; do
  msi="$out/NorrvaneShLnk-$version-$arch.msi"
  rm -f "$msi"
  # wixl takes the files' paths relative to the folder it runs in.
  (cd "$stage" && wixl -a "$arch" -D Arch="$arch" -D Version="$version" \
    -D Dll64=x64/NorrvaneShLnk.dll -D Dll32=x86/NorrvaneShLnk.dll -o "$msi" "$wxs")
  for action in UndoRegister64 UndoUnregister64 UndoRegister32 UndoUnregister32; do
    msibuild "$msi" -q "UPDATE \`CustomAction\` SET \`Type\` = $rollback_type WHERE \`Action\` = '$action'"
  done
  echo "$msi"
done
