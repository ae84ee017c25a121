#!/usr/bin/env bash
# Shows NorrvaneShLnk doing its main job in a Wine prefix of its own that
# looks like Windows 6.x: the stock open-file-location handler of shortcut
# files and of the other classes that offer the command is in force, the
# system's own regsvr32 registers the DLL in its place, shortcuts, a search
# result and a symbolic link are right-clicked and their item picked (the
# file manager Norrvane, then explorer.exe, receive the command line), the
# command of Windows 11's first menu is asked and picked as Explorer does, a
# right-click shows the texts in Japanese as well as in English, and
# regsvr32 /u gives the stock handler back everywhere.
#
# Wine's own context menus load no shell extensions, so a right-click host
# does what the shell does: it creates the handler registered for shortcut
# files, lets it fill a popup menu and picks its item. The file manager and
# explorer.exe are stand-ins that record the command line they were started
# with.
#
# usage: scripts/demo.sh
# The DLL is built for 32-bit Windows where this machine runs 32-bit
# programs, for 64-bit Windows otherwise.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

export WINEDEBUG=-all
# Japanese text reaches the terminal as UTF-8.
case "${LC_ALL:-${LANG:-}}" in
  *[Uu][Tt][Ff]-8* | *[Uu][Tt][Ff]8*) ;;
  *) export LC_ALL=C.UTF-8 ;;
esac

HANDLER_KEY='HKCR\lnkfile\shellex\ContextMenuHandlers\OpenContainingFolderMenu'
HANDLER_CLSID='{6b1f0c3e-9a52-4d17-8e3b-2c4f5a7d9e01}'
STOCK_CLSID='{37ea3a21-7493-4208-a011-7f9ea79ce9f5}'
CLASS_KEY="HKCR\\CLSID\\$HANDLER_CLSID"
APPROVAL_KEY='HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Shell Extensions\Approved'
# The other classes whose items Windows offers the command for: symbolic
# links, a library's locations, recent and pinned files, recommended files
# and search results.
OTHER_CLASSES=(.symlink LibraryLocation RecentDocument Results PinnedRecentDocument RecommendationsFile)
other_key() { printf 'HKCR\\%s\\shellex\\ContextMenuHandlers\\OpenContainingFolderMenu' "$1"; }

step=0
bold='' plain=''
if [ -t 1 ]; then bold=$'\033[1m' plain=$'\033[0m'; fi
heading() {
  step=$((step + 1))
  printf '\n%s== %d. %s%s\n' "$bold" "$step" "$1" "$plain"
}
note() { printf '   %s\n' "$@"; }

# The tools: compilers, CMake and Wine. setup.sh installs what is missing.
ensure_tools() {
  heading "Build and run tools"
  bash scripts/setup.sh
  note "mingw-w64, CMake and $(/usr/lib/wine/wine64 --version 2>/dev/null || wine --version) are in place"
}

# 32-bit like the shipped DLL where the kernel runs 32-bit programs.
choose_architecture() {
  if sh cmake/runs-32bit.sh >/dev/null; then
    PRESET=x86 WINEARCH=win32
  else
    PRESET=x64 WINEARCH=win64
  fi
  BUILD_DIR="$root/build/demo-$PRESET"
  PREFIX="$root/build/demo-$PRESET-wineprefix"
  DLL="$BUILD_DIR/NorrvaneShLnk.dll"
  # Wine shows the Unix root as drive Z:.
  DLL_WINDOWS="Z:${DLL//\//\\}"
}

build_dll() {
  heading "Building NorrvaneShLnk.dll ($PRESET)"
  cmake --preset "$PRESET" -B "$BUILD_DIR" -DNORRVANE_WARNINGS_AS_ERRORS=ON >/dev/null
  cmake --build "$BUILD_DIR" -j 2 --target NorrvaneShLnk >/dev/null
  note "$DLL"
  show_version_resource
}

# The version resource's blocks, one for each language, as windres reads
# them back from the DLL; its wide strings come as \xNNNN escapes.
show_version_resource() {
  local windres=x86_64-w64-mingw32-windres
  [ "$PRESET" = x86 ] && windres=i686-w64-mingw32-windres
  local name text
  while IFS=$'\t' read -r name text; do
    printf '   %-17s %b\n' "$name" "$(sed 's/\\x\([0-9a-fA-F]\{4\}\)/\\u\1/g' <<<"$text")"
  done < <("$windres" -J coff -O rc -i "$DLL" |
           sed -n -e 's/^ *BLOCK "\([0-9a-fA-F]\{8\}\)"$/block\t\1/p' \
                  -e 's/^ *VALUE "\([A-Za-z]*\)", L\{0,1\}"\(.*\)"$/\1\t\2/p')
}

on_wine() { sh "$root/cmake/wine-run.sh" "$WINEARCH" "$PREFIX" "$@"; }

# reg prints ANSI lines ending in CRLF; indented for the demo's layout.
show_key() {
  on_wine reg query "$@" 2>&1 | tr -d '\r' | sed '/^$/d; s/^/   /'
}

# A fresh prefix whose programs see Windows 6.1 and whose shortcut class has
# the stock open-file-location handler, as Windows ships it (Wine lacks it).
make_prefix() {
  heading "A Windows 6.x in a Wine prefix of its own"
  if [ -d "$PREFIX" ]; then
    WINEPREFIX="$PREFIX" wineserver -k 2>/dev/null || true
    rm -rf "$PREFIX"
  fi
  on_wine reg add 'HKCU\Software\Wine' /v Version /d win7 /f >/dev/null
  on_wine reg add "$HANDLER_KEY" /ve /d "$STOCK_CLSID" /f >/dev/null
  local class
  for class in "${OTHER_CLASSES[@]}"; do on_wine reg add "$(other_key "$class")" /ve /d "$STOCK_CLSID" /f >/dev/null; done
  note "$PREFIX"
  note "$(on_wine cmd /c ver | tr -d '\r' | sed '/^$/d')"
  note "The stock handler of shortcut files ($STOCK_CLSID):"
  show_key "$HANDLER_KEY"
  note "and of the other classes that offer the command:"
  show_other_keys
}

# Each other class's handler: its class name and the CLSID it names.
show_other_keys() {
  local class value
  for class in "${OTHER_CLASSES[@]}"; do
    value=$(on_wine reg query "$(other_key "$class")" /ve 2>/dev/null | tr -d '\r' | sed -n 's/.*REG_SZ    //p')
    printf '   %-21s %s\n' "$class" "${value:-(no key)}"
  done
}

register_dll() {
  heading "regsvr32 NorrvaneShLnk.dll"
  if ! on_wine regsvr32 /s "$DLL_WINDOWS"; then
    note "regsvr32 reports failure"
    return 1
  fi
  note "regsvr32 reports success; what DllRegisterServer wrote:"
  show_key "$HANDLER_KEY"
  show_other_keys
  show_key "$CLASS_KEY" /s
  show_key "$APPROVAL_KEY" /v "$HANDLER_CLSID"
}

unregister_dll() {
  heading "regsvr32 /u NorrvaneShLnk.dll"
  if ! on_wine regsvr32 /u /s "$DLL_WINDOWS"; then
    note "regsvr32 /u reports failure"
    return 1
  fi
  note "regsvr32 /u reports success; the handler of shortcut files:"
  local handler
  handler=$(show_key "$HANDLER_KEY")
  printf '%s\n' "$handler"
  if ! grep -qF "REG_SZ    $STOCK_CLSID" <<<"$handler"; then
    note "it is not the stock handler!"
    return 1
  fi
  note "the stock handler is back; the other classes':"
  local others
  others=$(show_other_keys)
  printf '%s\n' "$others"
  if [ "$(grep -cF "$STOCK_CLSID" <<<"$others")" != "${#OTHER_CLASSES[@]}" ]; then
    note "not all of them are the stock handler!"
    return 1
  fi
  if on_wine reg query "$CLASS_KEY" >/dev/null 2>&1; then
    note "the class key is still there!"
    return 1
  fi
  note "$CLASS_KEY: gone"
  if on_wine reg query "$APPROVAL_KEY" /v "$HANDLER_CLSID" >/dev/null 2>&1; then
    note "the approval value is still there!"
    return 1
  fi
  note "approval value $HANDLER_CLSID: gone"
}

# The right-click host, the shortcut maker and the stand-in file manager
# (also the stand-in for explorer.exe, which goes where the system keeps its
# own: the handler starts explorer.exe from the Windows folder only).
build_tools() {
  heading "Building the right-click host and the stand-ins"
  cmake --build "$BUILD_DIR" -j 2 --target right_click_host make_shortcut stand_in_file_manager >/dev/null
  TOOLS_DIR="$BUILD_DIR/tools"
  TOOLS_WINDOWS="Z:${TOOLS_DIR//\//\\}"
  # The stand-ins append their command line here.
  RECORD="$PREFIX/drive_c/norrvane-record.txt"
  export NORRVANE_RECORD='C:\norrvane-record.txt'
  note "$TOOLS_DIR: right_click_host.exe, make_shortcut.exe, Norrvane.exe, explorer.exe"
  cp "$TOOLS_DIR/explorer.exe" "$PREFIX/drive_c/windows/explorer.exe"
  note 'C:\windows\explorer.exe: the stand-in, in place of Wine'"'"'s own until the end'
}

# Wine's own explorer.exe back in the Windows folder: the one in the system
# folder is the same file.
restore_explorer() {
  cp "$PREFIX/drive_c/windows/system32/explorer.exe" "$PREFIX/drive_c/windows/explorer.exe"
}

make_shortcuts() {
  heading "Shortcuts to a file, a folder, My Computer and a deleted file"
  local demo="$PREFIX/drive_c/demo"
  mkdir -p "$demo/Docs"
  printf 'report\n' >"$demo/Report, final.txt"
  printf 'notes\n' >"$demo/Old notes.txt"
  on_wine "$TOOLS_WINDOWS\\make_shortcut.exe" 'C:\demo\Report.lnk' 'C:\demo\Report, final.txt'
  on_wine "$TOOLS_WINDOWS\\make_shortcut.exe" 'C:\demo\Docs.lnk' 'C:\demo\Docs'
  on_wine "$TOOLS_WINDOWS\\make_shortcut.exe" 'C:\demo\My Computer.lnk' --computer
  on_wine "$TOOLS_WINDOWS\\make_shortcut.exe" 'C:\demo\Old notes.lnk' 'C:\demo\Old notes.txt'
  rm "$demo/Old notes.txt"
  note 'C:\demo\Report.lnk       -> C:\demo\Report, final.txt' \
       'C:\demo\Docs.lnk         -> C:\demo\Docs' \
       'C:\demo\My Computer.lnk  -> My Computer (no file system path)' \
       'C:\demo\Old notes.lnk    -> C:\demo\Old notes.txt (deleted)'
}

record_lines() { if [ -f "$RECORD" ]; then wc -l <"$RECORD"; else echo 0; fi; }

# Runs the right-click host with ARGS (the last one picks, or not), shows what
# it saw and, when it picked, the command line that the started program
# received.
host() {
  local before waited=0
  before=$(record_lines)
  on_wine "$TOOLS_WINDOWS\\right_click_host.exe" "$@" | tr -d '\r' | sed 's/^/     /'
  [ "${*: -1}" = --invoke ] || return 0
  while [ "$(record_lines)" -le "$before" ] && [ "$waited" -lt 200 ]; do
    sleep 0.1
    waited=$((waited + 1))
  done
  if [ "$(record_lines)" -gt "$before" ]; then
    local program line
    IFS=$'\t' read -r program line < <(tail -n 1 "$RECORD")
    note "  started:      $program" "  command line: $line"
  else
    note "  nothing was started"
  fi
}

# Right-clicks one shortcut and picks the item.
right_click() {
  printf '   %s\n' "$1"
  host "$1" --invoke
}

pick_with_file_manager() {
  heading "Right-click and pick, with the file manager Norrvane as the folder verb"
  local installed="$PREFIX/drive_c/Program Files/Norrvane"
  mkdir -p "$installed"
  cp "$TOOLS_DIR/Norrvane.exe" "$installed/Norrvane.exe"
  on_wine reg add 'HKCR\Folder\shell' /ve /d Norrvane /f >/dev/null
  on_wine reg add 'HKCR\Folder\shell\Norrvane\command' /ve \
    /d '"C:\Program Files\Norrvane\Norrvane.exe" "%1"' /f >/dev/null
  show_key 'HKCR\Folder\shell' /ve
  show_key 'HKCR\Folder\shell\Norrvane\command' /ve
  local shortcut
  for shortcut in Report Docs 'My Computer' 'Old notes'; do
    right_click "C:\\demo\\$shortcut.lnk"
  done
}

# Windows 11's first menu: Explorer makes the command from what the sparse
# package's manifest declares, the DLL in the install folder and the class,
# asks it for its state and title on every right-click, and invokes it.
pick_windows11_command() {
  heading "Windows 11's first menu: the command the package declares"
  local clsid
  clsid=$(sed -n 's/.*<com:Class Id="\([0-9a-f-]*\)".*/{\1}/p' installer/AppxManifest.xml)
  note "installer/AppxManifest.xml declares the class $clsid, served by NorrvaneShLnk.dll"
  printf '   %s\n' 'C:\demo\Report.lnk'
  host --explorer-command "$DLL_WINDOWS" "$clsid" 'C:\demo\Report.lnk' --invoke
  printf '   %s\n' 'C:\demo\Report, final.txt (a plain file: the command hides itself)'
  host --explorer-command "$DLL_WINDOWS" "$clsid" 'C:\demo\Report, final.txt'
}

# What else Windows offers the command for: a search result, whose list runs
# through the search folder (here the host hands over the file's own), and a
# symbolic link. Each through its class's registered handler.
pick_beyond_shortcuts() {
  heading "Right-click and pick: a search result and a symbolic link"
  ln -sfn "$PREFIX/drive_c/demo/Docs" "$PREFIX/drive_c/demo/DocsLink"
  note 'C:\demo\DocsLink         -> C:\demo\Docs (a symbolic link)'
  printf '   %s\n' 'C:\demo\Report, final.txt, found by a search (class Results): the file itself'
  host --class Results 'C:\demo\Report, final.txt' --invoke
  printf '   %s\n' 'C:\demo\DocsLink (class .symlink)'
  host --class .symlink 'C:\demo\DocsLink' --invoke
  note "Windows selects the link's target, C:\demo\Docs, in its folder. Wine shows a" \
       "Unix link as a plain folder, so here the link itself is selected: its final" \
       "path is taken only for what the file system calls a symbolic link."
}

pick_with_stock_verb() {
  heading "Right-click and pick, with the stock folder verb \"open\""
  on_wine reg add 'HKCR\Folder\shell' /ve /d open /f >/dev/null
  show_key 'HKCR\Folder\shell' /ve
  right_click 'C:\demo\Report.lnk'
}

# Wine takes the display language from the locale a program starts in:
# C.UTF-8 (English) for the runs above, Japanese for these.
right_click_in_japanese() {
  heading "The same right-clicks with Japanese as the display language"
  local shortcut
  for shortcut in Report Docs; do
    printf '   %s\n' "C:\\demo\\$shortcut.lnk"
    NORRVANE_LOCALE=ja_JP.UTF-8 host "C:\\demo\\$shortcut.lnk"
  done
  note "the menu text follows the display language; the verb is the same in every one"
}

right_click_after_removal() {
  heading "Right-click after removal"
  printf '   %s\n' 'C:\demo\Report.lnk'
  on_wine "$TOOLS_WINDOWS\\right_click_host.exe" 'C:\demo\Report.lnk' | tr -d '\r' | sed 's/^/     /' || true
  note "the shell would now load the stock handler, which this prefix does not have"
}

finish() {
  restore_explorer
  WINEPREFIX="$PREFIX" wineserver -w
  heading "Done"
  note "The prefix stays for a look around: WINEPREFIX=$PREFIX"
}

main() {
  ensure_tools
  choose_architecture
  build_dll
  make_prefix
  register_dll
  build_tools
  make_shortcuts
  pick_with_file_manager
  pick_beyond_shortcuts
  pick_windows11_command
  pick_with_stock_verb
  right_click_in_japanese
  unregister_dll
  right_click_after_removal
  finish
}

main "$@"
