#!/bin/sh
# Whether this machine runs 32-bit Windows programs under Wine. Exits 0 when
# it does; otherwise prints why and exits 1. Two things can be missing:
# 32-bit Wine, which setup.sh may have failed to install (it says why), and
# a kernel that runs 32-bit programs (some virtual machines turn IA-32
# emulation off).
# usage: runs-32bit.sh
if [ ! -x /usr/lib/wine/wine ]; then
  echo "32-bit Wine (wine32:i386) is not installed"
  exit 1
fi
if ! /lib/ld-linux.so.2 --version >/dev/null 2>&1; then
  echo "this kernel does not run 32-bit programs"
  exit 1
fi
