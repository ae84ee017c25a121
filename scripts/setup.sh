#!/usr/bin/env bash
# Installs what building and testing NorrvaneShLnk needs on Debian or Ubuntu:
# the i686 and x86-64 mingw-w64 compilers, CMake, Wine (32- and 64-bit),
# GoogleTest's sources, and the release tools (msitools, osslsigncode,
# openssl, faketime, python3). Safe to run again: it installs only what is
# missing.
#
# The ARM64 build needs Clang, LLD and LLVM 19 and, to run its tests,
# qemu-user and Debian's arm64 Wine. That Wine is not installed (it would
# replace the amd64 one): the tests download and unpack it into the build
# folder (cmake/wine-arm64-run.sh). Here, on Debian, the arm64 architecture
# is added to apt's sources, so that they can (Ubuntu keeps arm64 packages
# in another archive; there the ARM64 tests say they were skipped).
#
# osslsigncode signs Windows packages (.msix) as Windows takes them from
# version 2.9 on; Debian 12 ships 2.5, so there it comes from Debian's
# bookworm-backports, which this script adds to the package sources when it
# must.
set -euo pipefail

packages=(cmake make
          g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix binutils-mingw-w64-i686
          g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
          clang-14 lld-14 wine wine32:i386 wine64 googletest zip unzip msitools wixl
          osslsigncode openssl faketime python3 locales
          clang-19 lld-19 llvm-19 qemu-user-static)
have_all() {
  local p
  for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || return 1
  done
  dpkg --print-foreign-architectures | grep -qx i386 && signs_packages && lists_arm64_wine
}
# apt has the lists of arm64 packages, Wine's among them.
lists_arm64_wine() {
  [ "$(os_id)" != debian ] ||
    { dpkg --print-foreign-architectures | grep -qx arm64 && compgen -G '/var/lib/apt/lists/*_binary-arm64_Packages*' >/dev/null; }
}
# The installed osslsigncode signs packages, or cannot be had newer here.
signs_packages() {
  local version
  version=$(dpkg-query -W -f='${Version}' osslsigncode 2>/dev/null) || return 1
  dpkg --compare-versions "$version" ge 2.9 || [ "$(codename)" != bookworm ]
}
codename() { . /etc/os-release && echo "${VERSION_CODENAME:-}"; }
os_id() { . /etc/os-release && echo "${ID:-}"; }

if have_all; then
  exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
  sudo=""
  if command -v sudo >/dev/null 2>&1 && sudo -n true 2>/dev/null; then sudo="sudo"; fi
  if [ -z "$sudo" ]; then
    cat >&2 <<MSG
setup.sh: some build or test tools are missing and installing them needs root.
Run this script as root (or with password-less sudo), or install by hand:
  dpkg --add-architecture i386 && apt-get update
  apt-get install ${packages[*]}
and on Debian, for the ARM64 tests: dpkg --add-architecture arm64 && apt-get update
MSG
    exit 1
  fi
else
  sudo=""
fi

export DEBIAN_FRONTEND=noninteractive
architectures=(i386)
[ "$(os_id)" != debian ] || architectures+=(arm64)
for architecture in "${architectures[@]}"; do
  if ! dpkg --print-foreign-architectures | grep -qx "$architecture"; then
    $sudo dpkg --add-architecture "$architecture"
  fi
done
backports=()
if [ "$(codename)" = bookworm ]; then
  if ! grep -rqs bookworm-backports /etc/apt/sources.list /etc/apt/sources.list.d/; then
    printf 'Types: deb\nURIs: http://deb.debian.org/debian\nSuites: bookworm-backports\nComponents: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n' |
      $sudo tee /etc/apt/sources.list.d/bookworm-backports.sources >/dev/null
  fi
  backports=(-t bookworm-backports)
fi
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${packages[@]}" >/dev/null
[ "${#backports[@]}" = 0 ] || $sudo apt-get install -y -qq --no-install-recommends "${backports[@]}" osslsigncode >/dev/null
have_all || { echo "setup.sh: packages still missing after install" >&2; exit 1; }
