#!/bin/sh
# Runs an ARM64 Windows program of the ARM64 build under Debian's arm64 Wine,
# which this machine runs through qemu-user: the Wine of the build's own,
# unpacked from Debian's packages into BUILD/arm64-wine, in the prefix
# BUILD/wineprefix, with BUILD as drive N: and the current folder. Arguments
# that are paths under BUILD are handed over as N: paths.
#
# What it needs is made on first use, under a lock: the Debian packages are
# downloaded with apt-get (setup.sh adds the arm64 architecture to apt), an
# aarch64 entry is registered with binfmt_misc (this needs root, or
# password-less sudo), and the prefix is made (some 30 s). With --prepare
# it does that and runs nothing.
#
# Exits with 77, the reason on standard error, where this machine cannot run
# aarch64 programs or apt has no arm64 packages: tests count that as
# skipped, never as passed.
# usage: wine-arm64-run.sh BUILD --prepare
#        wine-arm64-run.sh BUILD PROGRAM [ARGS...]
set -e
build=$(cd "$1" && pwd)
shift
wine=$build/arm64-wine
root=$wine/root
prefix=$build/wineprefix

skip() {
  echo "arm64 Wine cannot run here: $*" >&2
  exit 77
}

# Wine and what its core links against; nothing of its graphics or sound.
packages="wine64:arm64 libwine:arm64 libc6:arm64 libgcc-s1:arm64 libunwind8:arm64 liblzma5:arm64"
unpack() {
  ls /var/lib/apt/lists/*_binary-arm64_Packages* >/dev/null 2>&1 ||
    skip "apt has no lists of arm64 packages (on Debian, scripts/setup.sh adds them)"
  rm -rf "$wine"
  mkdir -p "$wine/debs"
  log=$(cd "$wine/debs" && apt-get download -q $packages 2>&1) ||
    { printf 'wine-arm64-run.sh: apt-get download %s failed:\n%s\n' "$packages" "$log" >&2; exit 1; }
  for deb in "$wine"/debs/*.deb; do dpkg-deb -x "$deb" "$root"; done
  rm -rf "$wine/debs"
  # The package's wineserver script starts /usr/lib/wine/wineserver64,
  # which on this machine is the amd64 one.
  printf '#!/bin/sh\nexec "%s/usr/lib/wine/wineserver64" "$@"\n' "$root" >"$root/usr/lib/wine/wineserver"
  touch "$wine/unpacked"
}

binfmt=/proc/sys/fs/binfmt_misc
enabled() { [ "$(head -n 1 "$1" 2>/dev/null)" = enabled ]; }
runs_aarch64() { enabled "$binfmt/status" && enabled "$binfmt/qemu-aarch64"; }
register_aarch64() {
  runs_aarch64 && return 0
  command -v qemu-aarch64-static >/dev/null || skip "qemu-user-static is not installed (run scripts/setup.sh)"
  sudo=""
  if [ "$(id -u)" != 0 ]; then
    sudo -n true 2>/dev/null || skip "registering aarch64 programs with binfmt_misc needs root"
    sudo="sudo -n"
  fi
  if [ ! -e "$binfmt/register" ]; then
    $sudo mount -t binfmt_misc binfmt_misc "$binfmt" 2>/dev/null || skip "binfmt_misc cannot be mounted on $binfmt"
  fi
  enabled "$binfmt/status" || skip "binfmt_misc is turned off on this machine"
  if [ -e "$binfmt/qemu-aarch64" ]; then
    echo 1 | $sudo tee "$binfmt/qemu-aarch64" >/dev/null 2>&1 ||
      skip "the aarch64 entry of binfmt_misc cannot be turned on"
  else
    $sudo tee "$binfmt/register" </usr/lib/binfmt.d/qemu-aarch64.conf >/dev/null 2>&1 ||
      skip "the kernel refused the aarch64 entry of binfmt_misc"
  fi
}

export QEMU_LD_PREFIX="$root" WINEPREFIX="$prefix" WINEARCH=win64 WINEDEBUG="${WINEDEBUG:--all}"
# The display language and the ANSI code page, which Wine takes from LC_ALL
# when a program starts: US English, never the machine's own.
export LC_ALL=C.UTF-8
export WINESERVER="$root/usr/lib/wine/wineserver64" WINELOADER="$root/usr/lib/wine/wine64"
# No Mono or Gecko install prompts in a fresh prefix.
export WINEDLLOVERRIDES="mscoree,mshtml="

if [ ! -f "$wine/unpacked" ] || [ ! -f "$prefix/system.reg" ] || ! runs_aarch64; then
  exec 9>"$build/arm64-wine.lock"
  flock 9
  register_aarch64
  [ -f "$wine/unpacked" ] || unpack
  "$WINELOADER" --version >/dev/null 2>&1 || skip "aarch64 programs do not start: $("$WINELOADER" --version 2>&1 | head -n 1)"
  if [ ! -f "$prefix/system.reg" ]; then
    "$WINELOADER" wineboot -i >"$build/wineboot.log" 2>&1 ||
      { echo "wine-arm64-run.sh: wineboot failed, see $build/wineboot.log" >&2; exit 1; }
    "$WINESERVER" -w
    # Z: would resolve inside the unpacked folder, where qemu looks first.
    ln -sfn "$build" "$prefix/dosdevices/n:"
  fi
  exec 9>&-
fi
[ "$1" = --prepare ] && exit 0

windows() {
  case $1 in
    "$build"/*) printf 'N:%s' "${1#"$build"}" | tr / '\\' ;;
    *) printf '%s' "$1" ;;
  esac
}
for argument; do
  set -- "$@" "$(windows "$argument")"
  shift
done
# A current folder outside every drive has no DOS path: Wine starts the
# program in C:\windows, and its CreateProcessW then starts nothing (seen).
cd "$build"
exec "$WINELOADER" "$@"
