# Shell helpers for tests that drive Wine programs in a prefix of their own
# and read back the registry with reg. Sourced by POSIX sh and bash scripts.
# Before use, set run (the path of cmake/wine-run.sh), arch (win32 or win64)
# and prefix.

failures=0
on_wine() { sh "$run" "$arch" "$prefix" "$@"; }

# check DESCRIPTION COMMAND...: runs the command and counts a failure.
check() {
  description=$1
  shift
  if "$@"; then
    echo "ok: $description"
  else
    echo "FAILED: $description"
    failures=$((failures + 1))
  fi
}
fails() { ! "$@"; }

# value_is KEY NAME DATA [VIEW]: the value (the default one when NAME is
# empty) is REG_SZ holding DATA; VIEW is /reg:32 or /reg:64, or the view of
# reg's own bitness when not given. reg prints lines ending in CRLF.
value_is() {
  if [ -z "$2" ]; then
    on_wine reg query "$1" /ve ${4:+"$4"} 2>/dev/null | tr -d '\r' | grep -qxF "    (Default)    REG_SZ    $3"
  else
    on_wine reg query "$1" /v "$2" ${4:+"$4"} 2>/dev/null | tr -d '\r' | grep -qxF "    $2    REG_SZ    $3"
  fi
}
# value_absent KEY NAME [VIEW], key_absent KEY [VIEW], key_present KEY [VIEW]
value_absent() { ! on_wine reg query "$1" /v "$2" ${3:+"$3"} >/dev/null 2>&1; }
key_absent() { ! on_wine reg query "$1" ${2:+"$2"} >/dev/null 2>&1; }
key_present() { on_wine reg query "$1" ${2:+"$2"} >/dev/null 2>&1; }

# A fresh prefix: a run that failed half-way leaves entries behind.
fresh_prefix() {
  if [ -d "$prefix" ]; then
    WINEPREFIX="$prefix" wineserver -k 2>/dev/null
    rm -rf "$prefix"
  fi
}
