#!/usr/bin/env bash
# Installs what building and testing NorrvaneShLnk needs on Debian or Ubuntu:
# the i686 and x86-64 mingw-w64 compilers, CMake, Wine (32- and 64-bit) and
# GoogleTest's sources. Safe to run again: it installs only what is missing.
set -euo pipefail

packages=(cmake make
          g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix binutils-mingw-w64-i686
          g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
          clang-14 lld-14 wine wine32:i386 wine64 googletest zip unzip msitools wixl)
have_all() {
  local p
  for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || return 1
  done
  dpkg --print-foreign-architectures | grep -qx i386
}

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
MSG
    exit 1
  fi
else
  sudo=""
fi

export DEBIAN_FRONTEND=noninteractive
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $sudo dpkg --add-architecture i386
fi
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${packages[@]}" >/dev/null
have_all || { echo "setup.sh: packages still missing after install" >&2; exit 1; }
