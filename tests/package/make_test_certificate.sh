#!/usr/bin/env bash
# Makes a throwaway certificate authority and a code-signing certificate that
# it issued, for the release tests to sign with; never for a release. Writes,
# into FOLDER (in the build folder, never committed): ca.pem, signer.pfx
# (PKCS#12 with the signer's key and both certificates), password.txt, and
# publisher.txt (the signer's subject as Windows writes it).
# usage: make_test_certificate.sh FOLDER
set -euo pipefail
dir=$1
rm -rf "$dir"
mkdir -p "$dir"
cd "$dir"
days=30
openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days "$days" \
  -subj "/CN=NorrvaneShLnk Test CA" \
  -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign" 2>/dev/null
# A subject of several parts, one of them with a comma and quotes: Windows
# writes it last part first, with that value in quotes.
openssl req -newkey rsa:2048 -nodes -keyout signer.key -out signer.csr \
  -subj '/C=JP/ST=Tokyo/O=Kitahara "KSW", Inc./CN=NorrvaneShLnk Test' 2>/dev/null
printf 'basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n' >signer.ext
openssl x509 -req -in signer.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days "$days" \
  -extfile signer.ext -out signer.pem 2>/dev/null
openssl rand -hex 16 >password.txt
openssl pkcs12 -export -inkey signer.key -in signer.pem -certfile ca.pem -out signer.pfx \
  -passout file:password.txt
echo 'CN=NorrvaneShLnk Test, O="Kitahara ""KSW"", Inc.", S=Tokyo, C=JP' >publisher.txt
rm -f ca.key ca.srl signer.key signer.csr signer.ext
