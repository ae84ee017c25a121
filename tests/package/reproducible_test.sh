#!/usr/bin/env bash
# The same commit built twice from scratch, in two folders of different paths
# and the second as if two days later, in Tokyo's time zone and a Japanese
# locale, gives the same release byte for byte: the three DLLs, the zip, the
# three MSIs and SHA256SUMS, with no build folder in them.
# And the DLLs of a signed release, with their signatures removed, are those
# unsigned DLLs: that is how anyone checks a signed release against the
# source.
#
# The tracked files of the work tree are built, with the last commit's time.
# usage: reproducible_test.sh WORK_DIR SIGNED_ZIP
set -u
root=$(cd "$(dirname "$0")/../.." && pwd)
mkdir -p "$1"
work=$(cd "$1" && pwd)
signed_zip=$2
. "$root/tests/support/wine_checks.sh"
epoch=$(git -C "$root" log -1 --format=%ct)

# build_release FOLDER [FAKETIME [VARIABLE=VALUE...]]: a copy of the tree,
# built and packaged unsigned in that environment; its log beside it.
build_release() {
  rm -rf "$1"
  mkdir -p "$1"
  (cd "$root" && git ls-files -z | tar --null -T - --ignore-failed-read -cf - 2>/dev/null) | tar -C "$1" -xf -
  (cd "$1" && env -u NORRVANE_SIGN_PFX SOURCE_DATE_EPOCH="$epoch" "${@:3}" ${2:+faketime -f "$2"} \
    bash scripts/package.sh dist) >"$1.log" 2>&1
}
first=$work/first
second=$work/elsewhere/second
# The Japanese locale made here, so that no system locale is needed.
rm -rf "$work/locale" && mkdir -p "$work/locale"
localedef -i ja_JP -f UTF-8 "$work/locale/ja_JP.UTF-8" 2>/dev/null
elsewhere=(TZ=Asia/Tokyo LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8 LOCPATH="$work/locale")
check "the second build's time zone and locale are in force" \
  test "$(env "${elsewhere[@]}" date -d @0 '+%H %a')" = "09 木"
echo "-- two builds of the same tree: $first, and two days later in Tokyo $second"
build_release "$first" "" TZ=UTC LANG=C.UTF-8 LC_ALL=C.UTF-8
build_release "$second" +2d "${elsewhere[@]}"

files="build/x86/NorrvaneShLnk.dll build/x64/NorrvaneShLnk.dll build/arm64/NorrvaneShLnk.dll"
files="$files $(cd "$first" && ls dist/* 2>/dev/null | tr '\n' ' ')"
check "both builds made the DLLs and the release" eval "[ \$(echo $files | wc -w) = 8 ]"
for file in $files; do
  check "$file is the same in both" cmp -s "$first/$file" "$second/$file"
  check "$file names no build folder" eval "! grep -a -q -e '$first' -e '$second' '$first/$file'"
done

echo "-- the signed release against the unsigned build"
rm -rf "$work/signed" && mkdir -p "$work/signed"
unzip -q "$signed_zip" -d "$work/signed"
for arch in x86 x64 arm64; do
  dll=$work/signed/$arch/NorrvaneShLnk.dll
  osslsigncode remove-signature -in "$dll" -out "$dll.unsigned" >/dev/null 2>&1
  check "the signed $arch DLL is signed at all" fails cmp -s "$dll" "$first/build/$arch/NorrvaneShLnk.dll"
  check "the signed $arch DLL without its signature is the unsigned build" \
    cmp -s "$dll.unsigned" "$first/build/$arch/NorrvaneShLnk.dll"
done

echo "reproducible: $failures failed"
[ "$failures" -eq 0 ]
