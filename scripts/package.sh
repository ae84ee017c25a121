#!/usr/bin/env bash
# Builds both DLLs (where not built yet) and packs the release zip:
#   x86/NorrvaneShLnk.dll, x64/NorrvaneShLnk.dll, install.cmd, uninstall.cmd
# usage: scripts/package.sh [OUTPUT_DIR]   (default: dist/)
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-dist}

for preset in x86 x64; do
  if [ ! -f "build/$preset/NorrvaneShLnk.dll" ]; then
    bash scripts/setup.sh
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" --target NorrvaneShLnk -j "$(nproc 2>/dev/null || echo 2)"
  fi
done

version=$(sed -n 's/^project(NorrvaneShLnk VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
mkdir -p "$stage/x86" "$stage/x64"
cp build/x86/NorrvaneShLnk.dll "$stage/x86/"
cp build/x64/NorrvaneShLnk.dll "$stage/x64/"
cp scripts/windows/install.cmd scripts/windows/uninstall.cmd "$stage/"

mkdir -p "$out"
zip_path="$(cd "$out" && pwd)/NorrvaneShLnk-$version.zip"
rm -f "$zip_path"
(cd "$stage" && zip -q -X -r "$zip_path" install.cmd uninstall.cmd x86 x64)
echo "$zip_path"
