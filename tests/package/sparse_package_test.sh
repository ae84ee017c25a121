#!/usr/bin/env bash
# The sparse package for Windows 11's context menu, as far as it can be
# tested without Windows: built by scripts/make_sparse_package.py, proved by
# check_sparse_package.py before and after signing with a throwaway CA's
# code-signing certificate, verified by osslsigncode, tampered with after
# signing (caught by both), and built twice to the same bytes.
#
# osslsigncode's verify checks its own digests of the ZIP records, the block
# map and the content types, not the block map against the data: a package
# whose block map was wrong before signing verifies. The checker catches it.
#
# usage: sparse_package_test.sh WORK_DIR
set -u
mkdir -p "$1"
work=$(cd "$1" && pwd)
root=$(cd "$(dirname "$0")/../.." && pwd)
checker=$root/tests/package/check_sparse_package.py
template=$root/installer/AppxManifest.xml
version=1.0.2.0
export SOURCE_DATE_EPOCH=1700000000
cd "$work" || exit 1

passed=0 failed=0
# check DESCRIPTION COMMAND...: runs the command, its output kept in
# last.log and shown when it fails.
check() {
  local description=$1
  shift
  if "$@" >last.log 2>&1; then
    echo "ok: $description"; passed=$((passed + 1))
  else
    echo "FAILED: $description"; sed 's/^/    /' last.log | tail -n 20; failed=$((failed + 1))
  fi
}
fails() { ! "$@"; }
build() { python3 "$root/scripts/make_sparse_package.py" --architecture x64 "$@"; }
tamper() { python3 "$root/tests/package/tamper_package.py" "$@"; }
# checked PACKAGE [ARGS...]: the checker, with this test's publisher and version
checked() { python3 "$checker" "$1" --publisher "$publisher" --version "$version" "${@:2}"; }
verified() { osslsigncode verify -CAfile ca.pem -in "$1"; }
signed() { osslsigncode sign -pkcs12 signer.pfx -readpass password.txt -h sha256 -in "$1" -out "$2"; }
# The offset of the central directory, where the entries' records end.
records_end() { python3 -c 'import sys; d = open(sys.argv[1], "rb").read(); print(int.from_bytes(d[-6:-2], "little"))' "$1"; }
same_records() { cmp -n "$(records_end "$1")" "$1" "$2"; }

osslsigncode_version=$(osslsigncode --version 2>/dev/null | sed -n '1s/^osslsigncode \([0-9]*\)\.\([0-9]*\).*/\1 \2/p')
read -r major minor <<<"${osslsigncode_version:-0 0}"
if (( major < 2 || (major == 2 && minor < 9) )); then
  echo "FAILED: osslsigncode 2.9 or later is needed to sign packages (found: ${osslsigncode_version:-none}; Debian 12 has it in bookworm-backports)"
  echo "sparse package: 0 passed, 1 failed"
  exit 1
fi

# ---- A throwaway CA and its code-signing certificate -----------------------
rm -f ./*.msix ./*.png
bash "$root/tests/package/make_test_certificate.sh" certificate
cp certificate/ca.pem certificate/signer.pfx certificate/signer.pem certificate/password.txt .
# The subject as Windows writes it, and as openssl prints it: several parts,
# one with a comma and quotes.
publisher=$(cat certificate/publisher.txt)
subject=$(openssl x509 -in signer.pem -noout -subject -nameopt RFC2253 | sed 's/^subject=//')

# ---- Built, checked, signed, verified --------------------------------------
check "builds the package and the logo from the signer's subject" build --manifest "$template" \
  --signer-subject "$subject" --version "$version" --out unsigned.msix --logo-out NorrvaneShLnk.png
check "the checker proves the unsigned package and the logo" checked unsigned.msix --logo NorrvaneShLnk.png
# One package for each DLL: the checker holds it to the architecture it is told.
build --manifest "$template" --publisher "$publisher" --version "$version" --architecture arm64 --out arm64.msix
check "an arm64 package names its architecture" checked arm64.msix --architecture arm64
check "the checker refuses it for x64" fails checked arm64.msix
# The name the installer finds the package by: Windows' id of this publisher.
family=$(build --manifest "$template" --publisher 'CN=NorrvaneShLnk Test' --version "$version" --out family.msix --print-family)
check "the package's family name is the name and the publisher's id: $family" test "$family" = NorrvaneShLnk_7gy41pszqw3ej
clsid=$(checked unsigned.msix | sed -n 's/^clsid: //p')
check "the checker names the command's class: ${clsid:-none}" grep -qxE '\{[0-9a-f]{8}(-[0-9a-f]{4}){3}-[0-9a-f]{12}\}' <<<"$clsid"
check "osslsigncode signs it" signed unsigned.msix signed.msix
check "signing keeps our entries' records as they were" same_records unsigned.msix signed.msix
check "the checker proves the signed package" checked signed.msix
check "osslsigncode verifies the signature with the test CA" verified signed.msix
check "osslsigncode refuses it without the test CA" fails osslsigncode verify -in signed.msix

# ---- Changed after signing --------------------------------------------------
# entry|change: "flip" changes a stored byte; "edit OLD NEW" changes the text
# and packs it again with valid CRC, sizes and offsets.
while IFS='|' read -r entry change; do
  rm -f tampered.msix
  # shellcheck disable=SC2086  # the change is words
  if ! tamper signed.msix tampered.msix "$entry" $change; then
    echo "FAILED: $entry, $change: the package could not be changed"; failed=$((failed + 1)); continue
  fi
  check "$entry, $change after signing: osslsigncode verify fails" fails verified tampered.msix
  check "$entry, $change after signing: the checker fails" fails checked tampered.msix
done <<'ROWS'
AppxManifest.xml|flip
AppxBlockMap.xml|flip
[Content_Types].xml|flip
AppxManifest.xml|edit NorrvaneShLnk.exe NorrvaneShLnk.exf
AppxBlockMap.xml|edit LfhSize="46" LfhSize="47"
[Content_Types].xml|edit pkiseccat pkiseccau
ROWS

# Wrong before signing: the signer signs what it is given.
hash=$(python3 -c 'import re, sys, zipfile
print(re.search(r"Hash=\"([^\"]+)", zipfile.ZipFile(sys.argv[1]).read("AppxBlockMap.xml").decode()).group(1))' unsigned.msix)
other=$([ "${hash:0:1}" = A ] && echo B || echo A)${hash:1}
# description|entry|old|new
while IFS='|' read -r description entry old new; do
  rm -f wrong.msix wrong-signed.msix
  tamper unsigned.msix wrong.msix "$entry" edit "$old" "$new"
  check "$description before signing: osslsigncode signs it" signed wrong.msix wrong-signed.msix
  check "... the checker fails the signed package" fails checked wrong-signed.msix
  if verified wrong-signed.msix >/dev/null 2>&1; then echo "note: ... osslsigncode verify accepts it"; fi
done <<ROWS
the manifest changed|AppxManifest.xml|NorrvaneShLnk.exe|NorrvaneShLnk.exf
a block hash changed|AppxBlockMap.xml|$hash|$other
ROWS

# ---- What the checker is to be told ----------------------------------------
# description|publisher|version
while IFS='|' read -r description who what; do
  check "the checker refuses $description" fails python3 "$checker" unsigned.msix --publisher "$who" --version "$what"
done <<ROWS
another publisher|CN=NorrvaneShLnk Tes|$version
another version|$publisher|1.0.2.1
ROWS
# A template changed: description|old text|new text|ok or fails
while IFS='|' read -r description old new expected; do
  python3 -c 'import sys
t = open(sys.argv[1], encoding="utf-8").read()
assert t.count(sys.argv[2]) == 1, sys.argv[2]
sys.stdout.write(t.replace(sys.argv[2], sys.argv[3]))' "$template" "$old" "$new" >variant.xml 2>/dev/null ||
    { echo "FAILED: $description: the template does not hold $old once"; failed=$((failed + 1)); continue; }
  rm -f variant.msix
  build --manifest variant.xml --publisher "$publisher" --version "$version" --out variant.msix
  if [ "$expected" = ok ]; then
    check "the checker takes $description" checked variant.msix
  else
    check "the checker refuses $description" fails checked variant.msix
  fi
done <<'ROWS'
the DLL in a subfolder|Path="NorrvaneShLnk.dll"|Path="bin\NorrvaneShLnk.dll"|ok
a DLL path with a drive|Path="NorrvaneShLnk.dll"|Path="C:\Program Files\NorrvaneShLnk\NorrvaneShLnk.dll"|fails
a DLL path from the root|Path="NorrvaneShLnk.dll"|Path="\NorrvaneShLnk.dll"|fails
a DLL path out of the folder|Path="NorrvaneShLnk.dll"|Path="..\NorrvaneShLnk\NorrvaneShLnk.dll"|fails
another DLL|Path="NorrvaneShLnk.dll"|Path="NorrvaneShLnk64.dll"|fails
a class other than the verb's|Id="9e4c2a71-|Id="9e4c2a72-|fails
no external content|<uap10:AllowExternalContent>true|<uap10:AllowExternalContent>false|fails
ROWS

# ---- Reproducible -----------------------------------------------------------
check "builds again with the same SOURCE_DATE_EPOCH" \
  build --manifest "$template" --publisher "$publisher" --version "$version" --out again.msix --logo-out again.png
check "... the same package, byte for byte" cmp unsigned.msix again.msix
check "... the same logo" cmp NorrvaneShLnk.png again.png
SOURCE_DATE_EPOCH=1700086400 build --manifest "$template" --publisher "$publisher" --version "$version" --out later.msix
check "another SOURCE_DATE_EPOCH gives other bytes" fails cmp -s unsigned.msix later.msix

# ---- The builder's input ----------------------------------------------------
special='CN="Kitahara & Söhne <Test>", O=K'"'"'s'
build --manifest "$template" --publisher "$special" --version "$version" --out special.msix
check "a publisher with quotes, ampersand and angle brackets comes back as given" \
  python3 "$checker" special.msix --publisher "$special" --version "$version"
# A value that holds a character which separates or marks the parts of a
# name is quoted where Windows writes the signer's subject, as the
# manifest's publisher must be: the subject as openssl prints it|the publisher
publisher_of() {
  rm -f subject.msix
  build --manifest "$template" --signer-subject "$1" --version "$version" --out subject.msix && checked subject.msix --publisher "$2"
}
while IFS='|' read -r subject expected; do
  check "the signer's subject $subject is the publisher $expected" publisher_of "$subject" "$expected"
done <<'ROWS'
CN=T,O=Shop #1|CN=T, O="Shop #1"
CN=T,O=A\+B|CN=T, O="A+B"
CN=T,O=A\;B|CN=T, O="A;B"
CN=T,O=A\<B|CN=T, O="A<B"
CN=T,O=A\>B|CN=T, O="A>B"
CN=T,O=A=B|CN=T, O="A=B"
CN=T,O=A\,B|CN=T, O="A,B"
CN=T,O=A\"B|CN=T, O="A""B"
ROWS
check "the signer's subject CN=T,O=A\\0AB is the publisher CN=T, O=\"A(line break)B\"" publisher_of 'CN=T,O=A\0AB' $'CN=T, O="A\nB"'
sed 's/@VERSION@/1.0.0.0/' "$template" >no-version.xml
# description|manifest|publisher|version
while IFS='|' read -r description manifest who what; do
  rm -f refused.msix
  check "refused: $description" fails build --manifest "$manifest" --publisher "$who" --version "$what" --out refused.msix
  check "... and nothing written" test ! -e refused.msix
done <<ROWS
three version fields|$template|$publisher|1.0.2
a version field over 65535|$template|$publisher|1.0.2.65536
an empty publisher|$template||$version
a template without the version's place|no-version.xml|$publisher|$version
ROWS

# ---- Files of more than one block -------------------------------------------
python3 "$root/tests/package/sparse_blocks_test.py" >blocks.log 2>&1
status=$? failed_before=$failed
while read -r line; do
  echo "$line"
  case $line in ok:*) passed=$((passed + 1)) ;; FAILED:*) failed=$((failed + 1)) ;; esac
done <blocks.log
if [ "$status" != 0 ] && [ "$failed" = "$failed_before" ]; then
  echo "FAILED: sparse_blocks_test.py stopped (exit status $status)"; failed=$((failed + 1))
fi

echo "sparse package: $passed passed, $failed failed"
[ "$failed" = 0 ]
