#!/usr/bin/env bash
# Stands in for apt-get, dpkg, dpkg-query, id and sudo (linked under those
# names, first on PATH) so that scripts/setup.sh can be run on any machine
# without touching its packages. Its world lives in the folder
# $STAND_IN_STATE:
#   absent         packages not installed, one a line
#   removed        packages removed with their configuration files kept
#                  (dpkg still knows them), one a line
#   unavailable    packages that apt-get cannot install (unmet dependencies)
#   update-error   when present, what apt-get update fails with
#   architectures  dpkg's foreign architectures, one a line
#   osslsigncode   the installed osslsigncode's version
#   uid            what id -u answers
#   calls          every apt-get and dpkg --add-architecture call, appended
#   bin/           where installing nodejs and npm puts node and npm
# A successful apt-get update leaves the arm64 packages' list in the lists
# folder under $NORRVANE_SETUP_ROOT.
# sudo always fails: there is no password-less sudo here.
set -u
state=$STAND_IN_STATE
listed() { grep -qxF -- "$1" "$state/$2" 2>/dev/null; }

case $(basename "$0") in
  id)
    [ "${1:-}" = -u ] || exec /usr/bin/id "$@"
    cat "$state/uid"
    ;;
  sudo)
    echo "sudo: a password is required" >&2
    exit 1
    ;;
  dpkg-query)
    # dpkg-query -W -f=FORMAT PACKAGE
    package=$3
    if listed "$package" absent; then
      echo "dpkg-query: no packages found matching $package" >&2
      exit 1
    fi
    case $2 in
      *Status*) if listed "$package" removed; then printf 'deinstall ok config-files'; else printf 'install ok installed'; fi ;;
      *) if [ "$package" = osslsigncode ]; then cat "$state/osslsigncode"; else printf '1.0'; fi ;;
    esac
    ;;
  dpkg)
    case $1 in
      --print-foreign-architectures)
        # Line by line with a pause, as dpkg writes them: a reader that
        # leaves after the first line makes the second write fail.
        while read -r architecture; do
          echo "$architecture" || exit 141
          sleep 0.05
        done <"$state/architectures"
        ;;
      --add-architecture)
        echo "dpkg $*" >>"$state/calls"
        listed "$2" architectures || echo "$2" >>"$state/architectures"
        ;;
      *) exec /usr/bin/dpkg "$@" ;;
    esac
    ;;
  apt-get)
    echo "apt-get $*" >>"$state/calls"
    if [ "$1" = update ]; then
      [ ! -f "$state/update-error" ] || { cat "$state/update-error" >&2; exit 100; }
      touch "$NORRVANE_SETUP_ROOT/var/lib/apt/lists/deb.debian.org_debian_dists_bookworm_main_binary-arm64_Packages.lz4"
      exit 0
    fi
    shift
    packages=() backports=""
    while [ $# -gt 0 ]; do
      case $1 in
        -t) backports=$2; shift ;;
        -*) ;;
        *) packages+=("$1") ;;
      esac
      shift
    done
    for package in "${packages[@]}"; do
      if listed "$package" unavailable; then
        printf 'Some packages could not be installed.\nThe following packages have unmet dependencies:\n'
        printf ' %s : Depends: libwine:i386 (= 8.0~repack-4) but it is not going to be installed\n' "$package"
        echo "E: Unable to correct problems, you have held broken packages." >&2
        exit 100
      fi
    done
    # All or nothing, as apt-get does.
    for package in "${packages[@]}"; do
      for list in absent removed; do
        grep -vxF -- "$package" "$state/$list" >"$state/$list.new" || true
        mv "$state/$list.new" "$state/$list"
      done
      case $package in nodejs | npm) ln -sf /bin/true "$state/bin/${package%js}" ;; esac
      if [ "$package" = osslsigncode ]; then
        if [ -n "$backports" ]; then echo 2.9-1~bpo12+1; else echo 2.5-4; fi >"$state/osslsigncode"
      fi
    done
    ;;
esac
