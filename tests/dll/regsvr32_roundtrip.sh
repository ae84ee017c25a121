#!/bin/sh
# Registers the built DLL with the system's own regsvr32 in a Wine prefix of
# the test's own (registration changes HKEY_CLASSES_ROOT), reads back with
# reg what it wrote, removes it with regsvr32 /u and checks that the stock
# open-file-location handler is back; then the same as Windows 6.0 and 5.1
# see it, on either side of the version that changes the rules.
# usage: regsvr32_roundtrip.sh WINE-RUN ARCH PREFIX DLL
set -u
run=$1 arch=$2 prefix=$3 dll=$4

handler_key='HKCR\lnkfile\shellex\ContextMenuHandlers\OpenContainingFolderMenu'
ours='{6b1f0c3e-9a52-4d17-8e3b-2c4f5a7d9e01}'
stock='{37ea3a21-7493-4208-a011-7f9ea79ce9f5}'
class_key="HKCR\\CLSID\\$ours"
approval_key='HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Shell Extensions\Approved'
# Wine shows the Unix root as drive Z:.
dll_windows="Z:$(printf '%s' "$dll" | tr / '\\')"

. "$(dirname "$0")/../support/wine_checks.sh"
appdefaults='HKCU\Software\Wine\AppDefaults\regsvr32.exe'

# The prefix is made once and kept; each run starts from what a fresh one
# holds: no stock handler key, nothing of ours, the default version.
for key in "$handler_key" "$class_key" "$appdefaults"; do on_wine reg delete "$key" /f >/dev/null 2>&1; done
on_wine reg delete "$approval_key" /v "$ours" /f >/dev/null 2>&1

# Without the stock handler key, registration must refuse and write nothing.
check "regsvr32 fails without the stock handler key" fails on_wine regsvr32 /s "$dll_windows"
check "nothing written by the refused registration" key_absent "$class_key"

on_wine reg add "$handler_key" /ve /d "$stock" /f >/dev/null
check "regsvr32 registers" on_wine regsvr32 /s "$dll_windows"
check "handler key holds our class" value_is "$handler_key" "" "$ours"
check "class key names the handler" value_is "$class_key" "" NorrvaneOpenContainingFolderMenu
check "server key holds the DLL's path" value_is "$class_key\\InProcServer32" "" "$dll_windows"
check "server key is apartment-threaded" value_is "$class_key\\InProcServer32" ThreadingModel Apartment
check "class is approved" value_is "$approval_key" "$ours" NorrvaneOpenContainingFolderMenu

check "regsvr32 /u unregisters" on_wine regsvr32 /u /s "$dll_windows"
check "stock handler is back" value_is "$handler_key" "" "$stock"
check "class key is gone" key_absent "$class_key"
check "approval value is gone" value_absent "$approval_key" "$ours"
check "approval key stays" key_present "$approval_key"

# Seen as Windows 6.0, the first version that switches the system's key.
on_wine reg add "$appdefaults" /v Version /d vista /f >/dev/null
check "regsvr32 on 6.0 registers" on_wine regsvr32 /s "$dll_windows"
check "handler key switched to our class" value_is "$handler_key" "" "$ours"
check "regsvr32 /u on 6.0 unregisters" on_wine regsvr32 /u /s "$dll_windows"
check "stock handler is back on 6.0" value_is "$handler_key" "" "$stock"

# Seen as Windows 5.1, registration takes the handler key as its own to
# create, and removal deletes it again but keeps its parent.
on_wine reg add "$appdefaults" /v Version /d winxp /f >/dev/null
on_wine reg delete "$handler_key" /f >/dev/null
check "regsvr32 on 5.1 registers" on_wine regsvr32 /s "$dll_windows"
check "handler key made with our class" value_is "$handler_key" "" "$ours"
check "regsvr32 /u on 5.1 unregisters" on_wine regsvr32 /u /s "$dll_windows"
check "handler key is gone" key_absent "$handler_key"
check "handler parent stays" key_present 'HKCR\lnkfile\shellex\ContextMenuHandlers'

WINEPREFIX="$prefix" wineserver -w
[ "$failures" -eq 0 ]
