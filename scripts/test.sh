#!/usr/bin/env bash
# Builds the DLL for the three architectures and runs every test; exits
# non-zero on any failure.
#
# First the project's own scripts: setup.sh's decisions against stand-in
# package tools, no early-leaving reader of a pipe under pipefail, and the
# workflow linted.
#
# The 64-bit build is tested under 64-bit Wine. The 32-bit build is tested
# under 32-bit Wine where the kernel runs 32-bit programs; where it cannot
# (some virtual machines turn IA-32 emulation off), or where 32-bit Wine
# could not be installed (setup.sh says why), only the checks that inspect
# the built 32-bit files without running them are made, and this script
# says why. The ARM64 build is tested under Debian's arm64 Wine through
# qemu-user where the kernel can be made to run aarch64 programs
# (binfmt_misc, which needs root or password-less sudo); elsewhere its file
# is checked without running it, and this script says why.
#
# Last the release, and what the workflow's Windows jobs get of it: the kit,
# checked, and the workflow's Windows script run on it under Wine's cmd.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
bash tests/scripts/scripts_test.sh build/scripts-test
bash tests/windows/lint_workflow.sh build/actionlint

jobs=$(nproc 2>/dev/null || echo 2)
export WINEDEBUG=-all

build() {
  cmake --preset "$1" -DNORRVANE_WARNINGS_AS_ERRORS=ON >/dev/null
  cmake --build --preset "$1" -j "$jobs"
}

build x64
ctest --preset x64 -j "$jobs"

build x86
if why=$(sh cmake/runs-32bit.sh); then
  ctest --preset x86 -j "$jobs"
else
  echo "test.sh: $why; 32-bit build checked without running it"
  ctest --preset x86 -j "$jobs" -L static
  # The 32-bit DLL's version resource, read by the 64-bit test program.
  cmake/wine-run.sh win64 "$PWD/build/x64/wineprefix" build/x64/tests/dll/version_resource_tests.exe \
    "$PWD/build/x86/NorrvaneShLnk.dll"
fi

build arm64
status=0
reason=$(bash cmake/wine-arm64-run.sh build/arm64 --prepare 2>&1) || status=$?
case $status in
  0) ctest --preset arm64 -j "$jobs" ;;
  77)
    echo "test.sh: skipped the ARM64 DLL's tests under arm64 Wine ($reason); its file is checked without running it"
    ctest --preset arm64 -j "$jobs" -L static
    ;;
  *)
    echo "$reason" >&2
    exit 1
    ;;
esac
# The ARM64 DLL's version resource, read by the 64-bit test program.
cmake/wine-run.sh win64 "$PWD/build/x64/wineprefix" build/x64/tests/dll/version_resource_tests.exe \
  "$PWD/build/arm64/NorrvaneShLnk.dll"

# A second compiler's warnings on the DLL's own sources (errors here too).
build clang-x64

# The release packages, signed with a throwaway certificate made here: the
# zip's contents and the signatures, the sparse package, then the installers'
# tables and the installers at work under Wine (msiexec, and the zip's
# scripts in cmd); then two unsigned builds from scratch that must give the
# same bytes.
bash tests/package/make_test_certificate.sh build/test-certificate
mapfile -t packages < <(NORRVANE_SIGN_PFX=build/test-certificate/signer.pfx NORRVANE_SIGN_NO_TIMESTAMP=1 \
  NORRVANE_SIGN_PASSWORD_FILE=build/test-certificate/password.txt bash scripts/package.sh build/dist)
[ "${#packages[@]}" = 6 ] || { echo "test.sh: scripts/package.sh did not make the six packages" >&2; exit 1; }
bash tests/package/check_package.sh --ca build/test-certificate/ca.pem "${packages[@]}"
bash tests/package/sparse_package_test.sh build/sparse-package-test
# The reproducible builds keep a core busy for minutes while the package
# and Windows-script tests mostly wait on Wine: they run side by side, and
# the builds' report follows the others'.
bash tests/package/reproducible_test.sh build/reproducible "${packages[0]}" >build/reproducible.log 2>&1 &
reproducible=$!
trap 'kill "$reproducible" 2>/dev/null' EXIT
bash tests/package/install_test.sh "${packages[@]:0:4}" build/package-test build/test-certificate/ca.pem
bash tests/windows/make_kit.sh build/windows-kit build/dist build/test-certificate/ca.pem
bash tests/windows/wine_test.sh build/windows-kit build/windows-test
status=0
wait "$reproducible" || status=$?
trap - EXIT
cat build/reproducible.log
[ "$status" = 0 ] || exit "$status"
