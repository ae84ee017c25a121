#!/usr/bin/env bash
# The same commit built twice from scratch, in two folders of different paths
# and the second as if two days later, in Tokyo's time zone and a Japanese
# locale, gives the same release byte for byte: the three DLLs, the zip, the
# three MSIs and SHA256SUMS, with no build folder in them.
# And the DLLs of a signed release, with their signatures removed, are those
# unsigned DLLs: that is how anyone checks a signed release against the
# source. And each MSI's package code, by which Windows Installer tells
# packages apart, changes with each file that the MSI carries.
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

echo "-- each MSI's package code over what it carries"
# The first tree's release made again, signed, so that the MSIs carry all
# they can (the setup DLL, the sparse package and its logo); then with files
# changed, one text in them for another. Each MSI that carries a changed file
# must get a new package code, each other one keep its own. A signature
# holds the time it was made: the clock stands still at the commit's time.
bash "$root/tests/package/make_test_certificate.sh" "$work/certificate"
package_codes() {
  local arch
  rm -rf "$first/signed"
  (cd "$first" && SOURCE_DATE_EPOCH="$epoch" NORRVANE_SIGN_PFX="$work/certificate/signer.pfx" \
    NORRVANE_SIGN_PASSWORD_FILE="$work/certificate/password.txt" NORRVANE_SIGN_NO_TIMESTAMP=1 \
    faketime -f "$(date -u -d "@$epoch" '+%Y-%m-%d %H:%M:%S')" bash scripts/package.sh signed) >>"$first.log" 2>&1
  for arch in x64 arm64 x86; do
    msiinfo suminfo "$first/signed/NorrvaneShLnk-"*"-$arch.msi" 2>/dev/null | sed -n 's/^Revision number (UUID): //p' | grep . ||
      echo none
  done | tr '\n' ' '
}
# replace_text OLD NEW FILE...: in each file, the first OLD for NEW, or fail.
replace_text() {
  python3 -c 'import sys
old, new = sys.argv[1].encode(), sys.argv[2].encode()
for path in sys.argv[3:]:
    data = open(path, "rb").read()
    if old not in data:
        sys.exit(path + " does not hold " + sys.argv[1])
    open(path, "wb").write(data.replace(old, new, 1))' "$@"
}
# changes BEFORE AFTER: for each MSI, "same" or "new" package code, or
# "none" when it was not made.
changes() {
  local before=($1) after=($2) i
  for i in 0 1 2; do
    if [ "${after[i]:-none}" = none ]; then echo none; elif [ "${after[i]}" = "${before[i]}" ]; then echo same; else echo new; fi
  done | paste -sd ' '
}
codes=$(package_codes)
check "the signed release is made: $codes" eval "[[ '$codes' != *none* ]]"
# files|text|changed text|x64, ARM64 and x86 package codes
while IFS='|' read -r files old new expected; do
  for file in $files; do cp -p "$first/$file" "$work/original-${file//\//-}"; done
  # shellcheck disable=SC2086  # the files are words
  if (cd "$first" && replace_text "$old" "$new" $files); then changed=$(package_codes); else changed=""; fi
  for file in $files; do cp -p "$work/original-${file//\//-}" "$first/$file"; done
  got=$(changes "$codes" "$changed")
  check "changed $files: the package codes of the x64, ARM64 and x86 MSI: $got" test "$got" = "$expected"
done <<'ROWS'
build/arm64/NorrvaneShLnk.dll build/x64/NorrvaneShLnkSetup.dll|DOS mode|DOS Mode|new new same
build/x86/NorrvaneShLnk.dll|DOS mode|DOS Mode|new new new
installer/AppxManifest.xml|</Package>|</Package><!-- changed -->|new new same
scripts/make_sparse_package.py|rgb=(0x2B, 0x5F, 0x8C)|rgb=(0x2B, 0x5F, 0x8D)|new new same
installer/NorrvaneShLnk.wxs|</Wix>|</Wix><!-- changed -->|new new new
ROWS

echo "reproducible: $failures failed"
[ "$failures" -eq 0 ]
