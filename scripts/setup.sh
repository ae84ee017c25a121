#!/usr/bin/env bash
# Installs what building and testing NorrvaneShLnk needs on Debian or Ubuntu:
# the i686 and x86-64 mingw-w64 compilers, CMake, Wine (32- and 64-bit),
# GoogleTest's sources, the release tools (msitools, osslsigncode,
# openssl, faketime, python3) and Node.js with npm (the workflow's linter).
# Safe to run again: it installs only what is missing, and on a machine
# that has everything it only looks.
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
#
# A package mirror can serve one list that does not match its release file
# for hours ("Mirror sync in progress?"): apt-get update then fails, and
# one apt-get install of everything fails as a whole when a package needs
# what that list holds. This script then goes on with the lists it has,
# installs every package that can be installed, and says in one line what
# could not be and why. Without 32-bit Wine alone it succeeds (test.sh then
# leaves out the 32-bit runs and says so); anything else missing stops it.
#
# NORRVANE_SETUP_ROOT names a folder that stands for / where the script
# reads and writes apt's files (the tests run it against stand-in package
# tools there).
set -euo pipefail

packages=(cmake make
          g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix binutils-mingw-w64-i686
          g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
          clang-14 lld-14 wine wine32:i386 wine64 googletest zip unzip msitools wixl
          osslsigncode openssl faketime python3 locales
          clang-19 lld-19 llvm-19 qemu-user-static)
# Without these only the 32-bit runs are lost, as on a kernel that runs no
# 32-bit programs.
optional=(wine32:i386)
root=${NORRVANE_SETUP_ROOT:-}

codename() { . "$root/etc/os-release" && echo "${VERSION_CODENAME:-}"; }
os_id() { . "$root/etc/os-release" && echo "${ID:-}"; }

# Every check reads its producer's whole output: a reader that stops at its
# first match lets the producer die of SIGPIPE, which pipefail reports as a
# failure although the answer was yes.
installed() {
  local status
  status=$(dpkg-query -W -f='${Status}' "$1" 2>/dev/null) || return 1
  [ "$status" = "install ok installed" ]
}
has_architecture() {
  local list
  list=$(dpkg --print-foreign-architectures)
  grep -qx "$1" <<<"$list"
}
# apt has the lists of arm64 packages, Wine's among them.
lists_arm64_wine() {
  [ "$(os_id)" != debian ] ||
    { has_architecture arm64 && compgen -G "$root/var/lib/apt/lists/*_binary-arm64_Packages*" >/dev/null; }
}
# The installed osslsigncode signs packages, or cannot be had newer here.
signs_packages() {
  local version
  version=$(dpkg-query -W -f='${Version}' osslsigncode 2>/dev/null) || return 1
  dpkg --compare-versions "$version" ge 2.9 || [ "$(codename)" != bookworm ]
}
is_optional() { local p; for p in "${optional[@]}"; do [ "$p" != "$1" ] || return 0; done; return 1; }

# What is still to be done, as the names of the packages to install.
missing_packages() {
  local p
  for p in "${packages[@]}"; do installed "$p" || echo "$p"; done
  # Node.js from anywhere will do (its own packages carry npm); else Debian's.
  command -v node >/dev/null && command -v npm >/dev/null || echo nodejs npm
}
architectures_in_place() {
  has_architecture i386 && lists_arm64_wine
}

missing=$(missing_packages)
if [ -z "$missing" ] && architectures_in_place && signs_packages; then
  exit 0
fi
read -ra missing <<<"${missing//$'\n'/ }"

# report_missing WHY: says in one line what is still missing and why, and
# fails when anything but an optional package is.
report_missing() {
  local p required=() left=()
  for p in $(missing_packages); do
    left+=("$p")
    is_optional "$p" || required+=("$p")
  done
  signs_packages || { left+=("osslsigncode (2.9 or later)"); required+=(osslsigncode); }
  architectures_in_place || { left+=("apt's i386 and arm64 lists"); required+=(lists); }
  [ "${#left[@]}" -gt 0 ] || return 0
  if [ "${#required[@]}" -gt 0 ]; then
    echo "setup.sh: could not install ${left[*]} ($1); the build and its tests need them" >&2
    return 1
  fi
  echo "setup.sh: could not install ${left[*]} ($1); test.sh leaves out the 32-bit runs"
}

sudo=""
if [ "$(id -u)" -ne 0 ]; then
  if command -v sudo >/dev/null 2>&1 && sudo -n true 2>/dev/null; then
    sudo="sudo"
  else
    report_missing "installing needs root: run this script as root or with password-less sudo" || exit 1
    exit 0
  fi
fi

export DEBIAN_FRONTEND=noninteractive
architectures=(i386)
[ "$(os_id)" != debian ] || architectures+=(arm64)
for architecture in "${architectures[@]}"; do
  has_architecture "$architecture" || $sudo dpkg --add-architecture "$architecture"
done
backports=()
if [ "$(codename)" = bookworm ]; then
  if ! grep -rqs bookworm-backports "$root/etc/apt/sources.list" "$root/etc/apt/sources.list.d/"; then
    printf 'Types: deb\nURIs: http://deb.debian.org/debian\nSuites: bookworm-backports\nComponents: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n' |
      $sudo tee "$root/etc/apt/sources.list.d/bookworm-backports.sources" >/dev/null
  fi
  backports=(-t bookworm-backports)
fi

# first_error OUTPUT: apt's first complaint in it, on one line.
first_error() {
  local line
  line=$(grep -m 1 -e ' : Depends: ' -e '^E: ' <<<"$1" || true)
  line=${line#E: }
  echo "${line#"${line%%[! ]*}"}"
}
reasons=()
if ! output=$($sudo apt-get update -qq 2>&1); then
  reasons+=("apt-get update failed: $(first_error "$output")")
fi
# All at once; when that fails, each on its own, so that one package that
# cannot be had keeps no other one out.
apt_install() { $sudo apt-get install -y -qq --no-install-recommends "$@" 2>&1; }
if [ "${#missing[@]}" -gt 0 ] && ! apt_install "${missing[@]}" >/dev/null; then
  for p in "${missing[@]}"; do
    output=$(apt_install "$p") || reasons+=("apt-get install $p: $(first_error "$output")")
  done
fi
if [ "${#backports[@]}" -gt 0 ] && ! signs_packages; then
  output=$(apt_install "${backports[@]}" osslsigncode) ||
    reasons+=("apt-get install ${backports[*]} osslsigncode: $(first_error "$output")")
fi
why=""
for reason in "${reasons[@]}"; do why+=${why:+; }$reason; done
report_missing "${why:-apt-get reported no error}" || exit 1
