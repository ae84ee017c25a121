#!/usr/bin/env bash
# The release packages as Windows users meet them.
#
# First the Windows Installer packages' tables, read with msiinfo: the
# registration actions run deferred and not impersonated, each after a
# rollback action that undoes it, registration after InstallFiles and
# removal before RemoveFiles.
#
# Then, in a 64-bit Wine prefix of the test's own that has the stock
# open-file-location handler as Windows 6.x has it: the real msiexec installs
# and removes the x64 package, upgrades an earlier release, and fails a
# registration and a removal; the real cmd.exe runs install.cmd and
# uninstall.cmd from the zip, also as on ARM64 Windows. Where this machine runs no 32-bit programs, the 32-bit halves cannot
# run: the 64-bit feature is installed alone, install.cmd must report the
# 32-bit failure, and the rows about the halves on their own say that they
# were skipped.
#
# Given the certificate authority of a signed release, the DLLs that the MSI
# installs must carry signatures that it vouches for.
#
# The ARM64 package cannot be installed here (Wine does not model ARM64
# Windows): its tables and the ARM64 branch of install.cmd are checked.
#
# usage: install_test.sh ZIP X64_MSI X86_MSI ARM64_MSI WORK_DIR [CA_PEM]
set -u
zip=$1 msi=$2 msi86=$3 msiarm64=$4 ca=${6:-}
mkdir -p "$5"
work=$(cd "$5" && pwd)
root=$(cd "$(dirname "$0")/../.." && pwd)
run=$root/cmake/wine-run.sh arch=win64 prefix=$work/prefix
export WINEDEBUG=-all
. "$root/tests/support/wine_checks.sh"

version=$(sed -n 's/^set(NORRVANE_PACKAGE_VERSION \([0-9.]*\))$/\1/p' "$root/CMakeLists.txt")
tools=$root/build/x64/tools
handler_key='HKCR\lnkfile\shellex\ContextMenuHandlers\OpenContainingFolderMenu'
ours='{6b1f0c3e-9a52-4d17-8e3b-2c4f5a7d9e01}'
stock='{37ea3a21-7493-4208-a011-7f9ea79ce9f5}'
class_key="HKCR\\CLSID\\$ours"
approval_key='HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Shell Extensions\Approved'
uninstall_key='HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall'
folder64='C:\Program Files\NorrvaneShLnk'
folder32='C:\Program Files (x86)\NorrvaneShLnk'
drive_c=$prefix/drive_c
# The other classes Windows offers the command for, as Windows 11 ships them,
# but for the "Recommended" files' class, which this Windows lacks (as Windows
# 10 does): no key may be made for it.
other_classes=".symlink LibraryLocation RecentDocument Results PinnedRecentDocument"
other_key() { printf 'HKCR\\%s\\shellex\\ContextMenuHandlers\\OpenContainingFolderMenu' "$1"; }

# Wine shows the Unix root as drive Z:.
windows_path() { printf 'Z:%s' "$(cd "$(dirname "$1")" && pwd)/$(basename "$1")" | tr / '\\'; }
property() { msiinfo export "$1" Property | tr -d '\r' | awk -F'\t' -v name="$2" '$1 == name { print $2 }'; }

# ---- The packages' tables --------------------------------------------------

# action_type MSI ACTION, sequence MSI ACTION, condition MSI ACTION
action_type() { msiinfo export "$1" CustomAction | tr -d '\r' | awk -F'\t' -v a="$2" '$1 == a { print $2 }'; }
sequence() { msiinfo export "$1" InstallExecuteSequence | tr -d '\r' | awk -F'\t' -v a="$2" '$1 == a { print $3 }'; }
condition() { msiinfo export "$1" InstallExecuteSequence | tr -d '\r' | awk -F'\t' -v a="$2" '$1 == a { print $2 }'; }
# Deferred (0x400) and not impersonated (0x800); rollback (0x100) or not.
is_deferred() { local t; t=$(action_type "$1" "$2"); [ -n "$t" ] && (( (t & 0xD00) == 0xC00 )); }
is_rollback() { local t; t=$(action_type "$1" "$2"); [ -n "$t" ] && (( (t & 0xD00) == 0xD00 )); }
runs_between() { local s; s=$(sequence "$1" "$2"); [ -n "$s" ] && (( s > $(sequence "$1" "$3") && s < $(sequence "$1" "$4") )); }
# Undo<ACTION> runs just before ACTION, and in the same state: on the same
# Windows, with the same component being installed or removed.
undone_first() {
  (( $(sequence "$1" "Undo$2") == $(sequence "$1" "$2") - 1 )) && [ "$(condition "$1" "Undo$2")" = "$(condition "$1" "$2")" ]
}

# The program and the command line of a custom action.
target() { msiinfo export "$1" CustomAction | tr -d '\r' | awk -F'\t' -v a="$2" '$1 == a { print $3 " " $4 }'; }
# The rollback action Undo<ACTION> runs the same program on the same DLL as
# ACTION, with /u in exactly one of the two.
undoes() {
  local done undo
  done=$(target "$1" "$2")
  undo=$(target "$1" "Undo$2")
  [ -n "$done" ] && [ "${done/\/u /}" = "${undo/\/u /}" ] && [ "$done" != "$undo" ]
}
template() { msiinfo suminfo "$1" | tr -d '\r' | sed -n 's/^Template: //p'; }

check_tables() {
  local package=$1 bits=$2 b
  echo "-- $(basename "$package")"
  check "version $version, per machine, no Modify" \
    test "$(property "$package" ProductVersion) $(property "$package" ALLUSERS) $(property "$package" ARPNOMODIFY)" = "$version 1 1"
  check "publisher as in the version resource" test "$(property "$package" Manufacturer)" = "Kitahara Soft Works"
  check "an earlier release is removed before this one is installed" \
    runs_between "$package" RemoveExistingProducts InstallValidate InstallInitialize
  for b in $bits; do
    check "Register$b: deferred, not impersonated, after InstallFiles" \
      eval "is_deferred '$package' Register$b && runs_between '$package' Register$b InstallFiles InstallFinalize"
    check "Unregister$b: deferred, not impersonated, before RemoveFiles" \
      eval "is_deferred '$package' Unregister$b && runs_between '$package' Unregister$b InstallInitialize RemoveFiles"
    check "rollback actions just before Register$b and Unregister$b, in their states" \
      eval "is_rollback '$package' UndoRegister$b && is_rollback '$package' UndoUnregister$b &&
            undone_first '$package' Register$b && undone_first '$package' Unregister$b"
    check "the rollback actions of Register$b and Unregister$b do the opposite" \
      eval "undoes '$package' Register$b && undoes '$package' Unregister$b"
  done
}

check_tables "$msi" "64 32"
check_tables "$msi86" "32"
check_tables "$msiarm64" "64 32"
launch_condition() { msiinfo export "$1" LaunchCondition | tr -d '\r' | grep -qF "$2"; }
check "the x86 package refuses 64-bit Windows" launch_condition "$msi86" "NOT VersionNT64"
check "the x64 package refuses ARM64 Windows, as the registry names it" \
  launch_condition "$msi" 'Installed OR NOT (NATIVEARCH ~= "ARM64")'
check "the ARM64 package refuses any other Windows" launch_condition "$msiarm64" 'Installed OR NATIVEARCH ~= "ARM64"'

# The sparse package of a signed release, on Windows 11 only: provisioned
# for every account, elevated and not impersonated, after the DLL is in place,
# then registered for the installing user (impersonated, never LocalSystem);
# deprovisioned and removed from every account before the files go. Each
# step is PowerShell run by the setup DLL (type 1) with its result ignored;
# Set<step> gives it the 64-bit PowerShell and the script.
step_data() { msiinfo export "$1" CustomAction | tr -d '\r' | grep -P "^Set$2\t" | cut -f4-; }
is_step() { [ "$(action_type "$package" "$1")" = "$2" ]; }
runs_powershell64() {
  local step
  for step in "$@"; do
    step_data "$package" "$step" | grep -qP '^\[System64Folder\]WindowsPowerShell\\v1\.0\\powershell\.exe\t' || return 1
  done
}
windows11_only() {
  [[ $(condition "$package" ProvisionPackage) == "CURRENTBUILDNUMBER >= 22000 AND "* &&
     $(condition "$package" UnprovisionPackage) == "CURRENTBUILDNUMBER >= 22000 AND "* &&
     $(condition "$package" RegisterPackage) == "CURRENTBUILDNUMBER >= 22000 AND "*' AND UserSID <> "S-1-5-18"' ]] &&
    msiinfo export "$package" RegLocator | tr -d '\r' |
      grep -qxP 'CurrentBuildNumber\t2\tSOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\tCurrentBuildNumber\t18'
}
undo_steps_opposite() {
  [ "$(step_data "$package" UndoProvisionPackage)" = "$(step_data "$package" UnprovisionPackage)" ] &&
    [ "$(step_data "$package" UndoUnprovisionPackage)" = "$(step_data "$package" ProvisionPackage)" ] &&
    step_data "$package" UndoRegisterPackage | grep -q '| Remove-AppxPackage' &&
    is_step UndoProvisionPackage 3393 && is_step UndoUnprovisionPackage 3393 && is_step UndoRegisterPackage 1345 &&
    undone_first "$package" ProvisionPackage && undone_first "$package" UnprovisionPackage &&
    undone_first "$package" RegisterPackage
}
check_package_steps() {
  package=$1
  echo "-- $(basename "$package"): the package steps"
  check "ProvisionPackage: deferred, not impersonated, result ignored, after Register64" \
    eval "is_step ProvisionPackage 3137 && runs_between '$package' ProvisionPackage Register64 InstallFinalize"
  check "RegisterPackage: deferred, impersonated, result ignored, after ProvisionPackage" \
    eval "is_step RegisterPackage 1089 && runs_between '$package' RegisterPackage ProvisionPackage InstallFinalize"
  check "UnprovisionPackage: deferred, not impersonated, result ignored, before RemoveFiles" \
    eval "is_step UnprovisionPackage 3137 && runs_between '$package' UnprovisionPackage InstallInitialize RemoveFiles"
  check "every step runs the native 64-bit PowerShell" runs_powershell64 ProvisionPackage RegisterPackage UnprovisionPackage
  check "the steps run on Windows 11 only, the registration never as LocalSystem" windows11_only
  check "their rollback actions do the opposite, just before them and in their states" undo_steps_opposite
}
if [ -n "$(step_data "$msi" ProvisionPackage)" ]; then
  sparse=1
  check_package_steps "$msi"
  check_package_steps "$msiarm64"
else
  sparse=""
  echo "The x64 and ARM64 packages have no sparse package (an unsigned release): their rows are left out."
fi
check "the x86 package has no sparse package" test -z "$(step_data "$msi86" ProvisionPackage)"
# Every component in the 64-bit program folder is a 64-bit one (0x100).
for package in "$msi" "$msiarm64"; do
  check "$(basename "$package"): the components in the 64-bit folder are 64-bit ones" \
    eval "msiinfo export '$package' Component | tr -d '\r' | awk -F'\t' '\$3 == \"INSTALLFOLDER64\" && int(\$4 / 256) % 2 != 1 { bad = 1 } END { exit bad }'"
done
# A component's GUID stands for its files: the x86 DLL is the same in both.
component_guids() { msiinfo export "$1" Component | tr -d '\r' | awk -F'\t' 'NR > 3 { print $1, $2 }' | sort; }
check "the ARM64 package's own files have components of their own; the x86 DLL's is shared" \
  eval "[ -z \"\$(comm -12 <(component_guids '$msi' | grep -v '^Dll32 ') <(component_guids '$msiarm64'))\" ] &&
        comm -12 <(component_guids '$msi') <(component_guids '$msiarm64') | grep -q '^Dll32 '"
check "each package is for the platform its name says" \
  eval "[ '$(template "$msi")' = 'x64;1033' ] && [ '$(template "$msi86")' = 'Intel;1033' ] &&
        [ '$(template "$msiarm64")' = 'Arm64;1033' ]"
check "the version has three fields, which Windows Installer compares" \
  eval "echo '$version' | grep -qxE '[0-9]+\.[0-9]+\.[0-9]+'"

# ---- Installing and removing under Wine ------------------------------------

skipped=0
if why32=$(sh "$root/cmake/runs-32bit.sh"); then
  halves="64 32"
  echo "This machine runs 32-bit programs: both halves are installed and removed."
else
  halves="64"
  echo "This machine runs no 32-bit programs ($why32): only the 64-bit halves run; install.cmd must report the 32-bit one."
fi
# skip DESCRIPTION: a row that needs 32-bit programs, said and counted.
skip() {
  echo "SKIPPED (this machine runs no 32-bit programs): $1"
  skipped=$((skipped + 1))
}
features=""
[ "$halves" = 64 ] && features="ADDLOCAL=Handler64"

fresh_prefix
rm -rf "$work/earlier" "$work/zip"
mkdir -p "$work/zip"
# As Windows 6.x ships: the stock handler in force.
on_wine reg add "$handler_key" /ve /d "$stock" /f >/dev/null
for class in $other_classes; do on_wine reg add "$(other_key "$class")" /ve /d "$stock" /f >/dev/null; done
# other_keys_hold CLASS: each other class's key holds CLASS, and the missing
# one is still missing. One reg per key, in one cmd.
other_keys_hold() {
  local output
  output=$(on_wine cmd /c "for %k in ($other_classes RecommendationsFile) do @reg query $(other_key %k) /ve" 2>/dev/null |
    tr -d '\r')
  [ "$(grep -cxF "    (Default)    REG_SZ    $1" <<<"$output")" = 5 ] &&
    [ "$(grep -ci '^HKEY_CLASSES_ROOT\\.*OpenContainingFolderMenu$' <<<"$output")" = 5 ]
}
# Windows 11, and a stand-in for its 64-bit PowerShell that records every
# command line it is started with.
windows_build() { on_wine reg add 'HKLM\SOFTWARE\Microsoft\Windows NT\CurrentVersion' /v CurrentBuildNumber /d "$1" /f /reg:64 >/dev/null; }
windows_build 22631
mkdir -p "$drive_c/windows/system32/WindowsPowerShell/v1.0"
cp "$tools/stand_in_file_manager.exe" "$drive_c/windows/system32/WindowsPowerShell/v1.0/powershell.exe"
powershell_record=$work/powershell.txt
rm -f "$powershell_record"
export NORRVANE_RECORD
NORRVANE_RECORD=$(windows_path "$powershell_record")
# Each package step's whole command line, as the stand-in records it after
# its own path, and its name: the installed package staged with the install
# folder as its external location and provisioned; registered for the
# installing user by its family; removed from that user; removed from every
# account and deprovisioned, in any version, by its family and publisher.
declare -A step_named
if [ -n "$sparse" ]; then
  family=$(python3 -B -c 'import sys; sys.path.insert(0, sys.argv[1]); import make_sparse_package as m
print("NorrvaneShLnk_" + m.publisher_id(open(sys.argv[2], encoding="utf-8").read().strip()))' \
    "$root/scripts" "$(dirname "$ca")/publisher.txt")
  powershell='C:\windows\system32\WindowsPowerShell\v1.0\powershell.exe'
  while read -r name script; do
    step_named["$powershell"$'\t'"\"$powershell\" -NoProfile -NonInteractive -ExecutionPolicy Bypass -Command \"\$ErrorActionPreference = 'Stop'; $script\""]=$name
  done <<STEPS
provision Add-AppxPackage -Stage -Path '$folder64\NorrvaneShLnk.msix' -ExternalLocation '$folder64\'; Add-AppxProvisionedPackage -Online -PackagePath '$folder64\NorrvaneShLnk.msix' -SkipLicense | Out-Null
register Add-AppxPackage -RegisterByFamilyName -MainPackage '$family'
unregister Get-AppxPackage -Name NorrvaneShLnk | Where-Object { \$_.PackageFamilyName -eq '$family' } | Remove-AppxPackage
unprovision Get-AppxProvisionedPackage -Online | Where-Object { \$_.DisplayName -eq 'NorrvaneShLnk' -and \$_.PublisherId -eq '${family#*_}' } | Remove-AppxProvisionedPackage -Online | Out-Null; Get-AppxPackage -AllUsers -Name NorrvaneShLnk | Where-Object { \$_.PackageFamilyName -eq '$family' } | Remove-AppxPackage -AllUsers
STEPS
fi
# The package steps that PowerShell ran since the last call, by their names
# ("other" for any other command line); their command lines are left in
# last-steps.txt.
package_steps() {
  local line
  rm -f "$work/last-steps.txt"
  [ -f "$powershell_record" ] || return 0
  mv "$powershell_record" "$work/last-steps.txt"
  while IFS= read -r line; do [ -z "$line" ] || printf '%s ' "${step_named[$line]:-other}"; done < <(tr -d '\r' <"$work/last-steps.txt")
}

# msiexec: exit code, quietly and never restarting, as the README's silent
# commands run it, for a package file; more properties may follow. Every
# call keeps a verbose log in msiexec/ (unless the caller names its own) and
# says in the test's log what ran, its exit code and anything it printed.
rm -rf "$work/msiexec"
mkdir -p "$work/msiexec"
msiexec_status() {
  local action=$1 package=$2 log status argument logging=()
  shift 2
  # Numbered in the order of the calls, which run in subshells.
  log=$work/msiexec/$(printf '%02d' $(($(find "$work/msiexec" -name '*.log' | wc -l) + 1)))
  log+=-${action#/}-$(basename "$package" .msi)
  # shellcheck disable=SC2086
  [ $# -gt 0 ] || set -- $features
  for argument; do [ "$argument" != '/l*v' ] || log=""; done
  [ -z "$log" ] || logging=('/l*v' "$(windows_path "$log.log")")
  on_wine msiexec "$action" "$(windows_path "$package")" /qn /norestart "$@" "${logging[@]}" >"$work/msiexec/output.txt" 2>&1
  status=$?
  echo "   msiexec $action $(basename "$package")${*:+ $*}: exit code $status${log:+, log $log.log}" >&2
  sed 's/^/   msiexec: /' "$work/msiexec/output.txt" >&2
  echo "$status"
}
folder_of() { if [ "$1" = 64 ]; then echo "$folder64"; else echo "$folder32"; fi; }
unix_folder() { echo "$drive_c/${1#C:\\}" | tr '\\' /; }
# The state that a registration leaves, or that removal leaves.
check_registered() {
  local b view
  check "$1: handler key holds our class" value_is "$handler_key" "" "$ours"
  for b in $halves; do
    view=/reg:$b
    check "$1: the $b-bit DLL is in $(folder_of "$b")" test -f "$(unix_folder "$(folder_of "$b")")/NorrvaneShLnk.dll"
    check "$1: the $b-bit class key names it" \
      value_is "$class_key\\InProcServer32" "" "$(folder_of "$b")\\NorrvaneShLnk.dll" "$view"
    check "$1: the class is approved for $b-bit programs" value_is "$approval_key" "$ours" \
      NorrvaneOpenContainingFolderMenu "$view"
  done
}
check_removed() {
  local b
  check "$1: the stock handler is back" value_is "$handler_key" "" "$stock"
  for b in 64 32; do
    check "$1: no $b-bit class key" key_absent "$class_key" /reg:$b
    check "$1: no $b-bit approval value" value_absent "$approval_key" "$ours" /reg:$b
  done
  for b in $halves; do
    check "$1: no folder $(folder_of "$b")" test ! -e "$(unix_folder "$(folder_of "$b")")"
  done
}
uninstall_entries() {
  on_wine reg query "$uninstall_key" /s /reg:64 2>/dev/null | tr -d '\r' |
    grep -c '^    DisplayName    REG_SZ    NorrvaneShLnk$'
}
entry_of() { echo "$uninstall_key\\$(property "$1" ProductCode)"; }

echo "-- msiexec /i and /x"
check "msiexec /i exits 0" test "$(msiexec_status /i "$msi")" = 0
check_registered installed
check "installed: the other classes' handler keys hold our class, none made" other_keys_hold "$ours"
if [ -n "$sparse" ]; then
  check "the sparse package and its logo lie beside the 64-bit DLL" \
    eval "[ -f '$(unix_folder "$folder64")/NorrvaneShLnk.msix' ] && [ -f '$(unix_folder "$folder64")/NorrvaneShLnk.png' ]"
  steps=$(package_steps)
  check "the package is provisioned, then registered for the installing user: $steps" test "$steps" = "provision register "
  check "... staged from the installed package, with the install folder as its external location" \
    grep -qF -- "-Path '$folder64\\NorrvaneShLnk.msix' -ExternalLocation '$folder64\\'" "$work/last-steps.txt"
  # The class that the installed package declares, made from the installed
  # DLL as Explorer would make it, answers for a shortcut.
  clsid=$(python3 "$root/tests/package/check_sparse_package.py" "$(unix_folder "$folder64")/NorrvaneShLnk.msix" \
    --publisher "$(cat "$(dirname "$ca")/publisher.txt")" --version "$version.0" | sed -n 's/^clsid: //p')
  on_wine "$tools/make_shortcut.exe" 'C:\command.lnk' 'C:\windows\win.ini' >/dev/null 2>&1
  check "the installed DLL serves the class that the installed package names" \
    eval "on_wine '$tools/right_click_host.exe' --explorer-command '$folder64\\NorrvaneShLnk.dll' '$clsid' 'C:\\command.lnk' |
          tr -d '\r' | grep -qx 'state: ECS_ENABLED'"
fi
if [ -n "$ca" ]; then
  for b in $halves; do
    check "the installed $b-bit DLL is signed and the CA vouches for it" \
      eval "osslsigncode verify -CAfile '$ca' -in '$(unix_folder "$(folder_of "$b")")/NorrvaneShLnk.dll' >/dev/null 2>&1"
  done
fi
check "an Apps & features entry: name, publisher, version, no Modify" eval "
  value_is '$(entry_of "$msi")' DisplayName NorrvaneShLnk &&
  value_is '$(entry_of "$msi")' Publisher 'Kitahara Soft Works' &&
  value_is '$(entry_of "$msi")' DisplayVersion '$version' &&
  on_wine reg query '$(entry_of "$msi")' /v NoModify | tr -d '\r' | grep -q 'REG_DWORD    0x1$'"
check "msiexec /x exits 0" test "$(msiexec_status /x "$msi")" = 0
check_removed removed
check "removed: the other classes' handler keys hold the stock class again" other_keys_hold "$stock"
check "the Apps & features entry is gone" key_absent "$(entry_of "$msi")"
[ -z "$sparse" ] || check "the package is deprovisioned and removed from every account" test "$(package_steps)" = "unprovision "

echo "-- an upgrade over the release before, one third field lower"
earlier_version=$(echo "$version" | awk -F. '{ print $1 "." $2 "." $3 - 1 }')
# Signed like this one, so that it has a package too. The row below depends
# on it: it runs only on a build that ended well, and what package.sh (and
# setup.sh in it) said stays in the log.
earlier=$work/earlier/NorrvaneShLnk-$earlier_version-x64.msi
rm -f "$earlier"
${ca:+env NORRVANE_SIGN_PFX="$(dirname "$ca")/signer.pfx" NORRVANE_SIGN_PASSWORD_FILE="$(dirname "$ca")/password.txt"} \
  NORRVANE_SIGN_NO_TIMESTAMP=1 bash "$root/scripts/package.sh" --version "$earlier_version" "$work/earlier" \
  >"$work/earlier.txt" 2>&1
built=$?
sed 's/^/   package.sh: /' "$work/earlier.txt"
check "the earlier release is built: package.sh exits $built" eval "[ $built = 0 ] && [ -f '$earlier' ]"
check "the earlier release installs" eval "[ $built = 0 ] && [ \$(msiexec_status /i '$earlier') = 0 ]"
package_steps >/dev/null
check "this release installs over it" test "$(msiexec_status /i "$msi")" = 0
check_registered upgraded
if [ -n "$sparse" ]; then
  steps=$(package_steps)
  check "the earlier package goes from every account, then this one is provisioned and registered: $steps" \
    test "$steps" = "unprovision provision register "
  this_release() {
    python3 "$root/tests/package/check_sparse_package.py" "$1" --publisher "$(cat "$(dirname "$ca")/publisher.txt")" \
      --version "$version.0" >/dev/null
  }
  check "... and the package installed is this release's" this_release "$(unix_folder "$folder64")/NorrvaneShLnk.msix"
fi
check "one Apps & features entry, this release's" eval "
  test \"\$(uninstall_entries)\" = 1 && value_is '$(entry_of "$msi")' DisplayVersion '$version'"
check "msiexec /x exits 0" test "$(msiexec_status /x "$msi")" = 0
check_removed "removed after the upgrade"
check "no Apps & features entry left" test "$(uninstall_entries)" = 0

if [ -n "$sparse" ]; then
  echo "-- the package steps: a repair, Windows 10, a PowerShell that fails"
  msiexec_status /i "$msi" >/dev/null
  package_steps >/dev/null
  check "a repair provisions and registers the package again" \
    eval "[ $(msiexec_status /i "$msi" REINSTALL=ALL REINSTALLMODE=vomus) = 0 ] && [ '$(package_steps)' = 'provision register ' ]"
  msiexec_status /x "$msi" >/dev/null
  package_steps >/dev/null
  windows_build 19045
  check "on Windows 10 neither installation nor removal runs a package step" \
    eval "[ $(msiexec_status /i "$msi") = 0 ] && [ $(msiexec_status /x "$msi") = 0 ] && [ -z '$(package_steps)' ]"
  windows_build 22631
  # The stand-in fails (exit 1) when it cannot write its record.
  log=$work/msiexec.log
  status=$(NORRVANE_RECORD='C:\no such folder\steps.txt' msiexec_status /i "$msi" $features /l*v "$(windows_path "$log")")
  check "a failing PowerShell leaves the installation succeeding, the classic item ours" \
    eval "[ $status = 0 ] && value_is '$handler_key' '' '$ours'"
  check "... and the log says so" grep -aq 'NorrvaneShLnk: exit code 1' "$log"
  # Without a record to write, the stand-in prints its command line instead;
  # and an error line, in the console's code page, 437 in this locale, which
  # the log, written in the ANSI one (1252), must show as the same text.
  status=$(unset NORRVANE_RECORD; NORRVANE_STDERR='Zugriff verweigert: é' LC_ALL=C.UTF-8 \
    msiexec_status /x "$msi" /l*v "$(windows_path "$log")")
  check "PowerShell's own output goes to the log" \
    eval "[ $status = 0 ] && grep -aqF 'NorrvaneShLnk: | C:\windows\system32\WindowsPowerShell\v1.0\powershell.exe' '$log'"
  check "... and its errors, read in the console's code page" grep -aqF "$(printf 'NorrvaneShLnk: | Zugriff verweigert: \351')" "$log"
  check_removed "removed after the package steps"
fi

echo "-- a registration that fails"
# From 6.0 on, registration refuses without the stock handler key.
on_wine reg delete "$handler_key" /f >/dev/null
package_steps >/dev/null
check "msiexec /i fails" test "$(msiexec_status /i "$msi")" != 0
for b in 64 32; do
  check "no $b-bit class key" key_absent "$class_key" /reg:$b
  check "no folder $(folder_of "$b")" test ! -e "$(unix_folder "$(folder_of "$b")")"
done
check "no Apps & features entry" test "$(uninstall_entries)" = 0
# Wine's msiexec runs every rollback action that the installation queued,
# also those of steps it had not reached (Windows runs those of the steps
# done): those that run in the installation's state, and no other.
if [ -n "$sparse" ]; then
  steps=$(package_steps)
  check "the rollback undoes the installation's package steps, never removal's: $steps" \
    test "$steps" = "unregister unprovision "
fi
on_wine reg add "$handler_key" /ve /d "$stock" /f >/dev/null

if [ -n "$sparse" ]; then
  echo "-- a removal that fails"
  # Without the approval key, the 64-bit DLL's removal answers E_FAIL, after
  # the package has gone from every account: the rollback brings it back
  # and registers the DLL again.
  msiexec_status /i "$msi" >/dev/null
  package_steps >/dev/null
  on_wine reg delete "$approval_key" /f /reg:64 >/dev/null 2>&1
  check "msiexec /x fails" test "$(msiexec_status /x "$msi")" != 0
  steps=$(package_steps)
  check "the package is removed, then the rollback provisions it again, and does nothing else: $steps" \
    test "$steps" = "unprovision provision "
  check "... and registers the 64-bit DLL again" eval "value_is '$handler_key' '' '$ours' &&
    value_is '$class_key\\InProcServer32' '' '$folder64\\NorrvaneShLnk.dll' /reg:64"
  on_wine reg add "$approval_key" /f /reg:64 >/dev/null
  # Wine's msiexec forgets part of the product when a removal fails: it is
  # installed once more, to be removed whole.
  msiexec_status /i "$msi" >/dev/null
  check "msiexec /x then exits 0" test "$(msiexec_status /x "$msi")" = 0
  check_removed "removed after the failed removal"
  package_steps >/dev/null
fi

echo "-- removal while Explorer holds the DLL"
# A host that has right-clicked a shortcut keeps the handler loaded, as
# Explorer does, until its standard input ends.
check "msiexec /i exits 0" test "$(msiexec_status /i "$msi")" = 0
on_wine "$tools/make_shortcut.exe" 'C:\held.lnk' 'C:\windows\win.ini' >/dev/null 2>&1
# hold_handler: a host right-clicks the shortcut and keeps our handler loaded
# until release_handler.
hold_handler() {
  rm -f "$work/hold" && mkfifo "$work/hold"
  on_wine "$tools/right_click_host.exe" 'C:\held.lnk' --hold <"$work/hold" >"$work/host.txt" 2>&1 &
  host=$!
  exec 3>"$work/hold"
  for _ in $(seq 60); do grep -q holding "$work/host.txt" && break; sleep 0.5; done
  check "the host holds our handler" eval "grep -qF 'handler: $ours' '$work/host.txt' && grep -q holding '$work/host.txt'"
}
release_handler() {
  exec 3>&-
  wait "$host"
}
hold_handler
status=$(msiexec_status /x "$msi")
# A Windows exit code reaches Linux modulo 256: 3010 arrives as 194.
check "msiexec /x /norestart exits 0, or 3010 for a restart it leaves to the user" \
  eval "[ $status = 0 ] || [ $status = $((3010 % 256)) ]"
check "the stock handler is back at once" value_is "$handler_key" "" "$stock"
check "no 64-bit class key at once" key_absent "$class_key" /reg:64
check "the Apps & features entry is gone" key_absent "$(entry_of "$msi")"
# Windows deletes the file in use at the next restart; Wine's msiexec leaves
# it and schedules nothing. Either way it is all that may stay.
left=$(cd "$drive_c" && find "Program Files/NorrvaneShLnk" "Program Files (x86)/NorrvaneShLnk" 2>/dev/null | sort | tr '\n' ' ')
check "what stays until a restart is the DLL in use alone" \
  eval "[ -z '$left' ] || [ '$left' = 'Program Files/NorrvaneShLnk Program Files/NorrvaneShLnk/NorrvaneShLnk.dll ' ]"
release_handler
rm -rf "$(unix_folder "$folder64")"

echo "-- ARM64 Windows"
environment_key='HKLM\SYSTEM\CurrentControlSet\Control\Session Manager\Environment'
unzip -q "$zip" -d "$work/zip"
# run_script NAME [ARCHITECTURE]: runs it with cmd.exe, in a command prompt
# of that architecture when given, shows what it said, gives its exit code.
run_script() {
  on_wine cmd /c "${2:+set PROCESSOR_ARCHITECTURE=$2&& }$(windows_path "$work/zip/$1")" >"$work/$1.txt" 2>&1
  script_status=$?
  tr -d '\r' <"$work/$1.txt" | sed "s/^/   $1: /"
}
on_wine reg add "$environment_key" /v PROCESSOR_ARCHITECTURE /d ARM64 /f /reg:64 >/dev/null
check "the x64 package refuses it" test "$(msiexec_status /i "$msi")" != 0
check "no Apps & features entry" test "$(uninstall_entries)" = 0
# The emulated x64 command prompt of ARM64 Windows names its own machine.
# The ARM64 DLL goes to the native program folder for the native regsvr32,
# which this x64 Wine does not have: there its registration fails.
# Windows 10 on ARM64 too: the scripts' line about Windows 11 stays away.
windows_build 19045
run_script install.cmd AMD64
arm64_dll_chosen() {
  cmp -s "$work/zip/arm64/NorrvaneShLnk.dll" "$(unix_folder "$folder64")/NorrvaneShLnk.dll" &&
    grep -qF "the ARM64 DLL \"$folder64\\NorrvaneShLnk.dll\" could not be registered with \"C:\\windows\\System32\\regsvr32.exe\"" \
      "$work/install.cmd.txt"
}
check "install.cmd from an emulated x64 prompt installs the ARM64 DLL, for the native regsvr32" arm64_dll_chosen
check "... and on Windows 10 says nothing of Windows 11" fails grep -q 'Windows 11' "$work/install.cmd.txt"
run_script uninstall.cmd AMD64
check "uninstall.cmd on Windows 10 says nothing of Windows 11 either" fails grep -q 'Windows 11' "$work/uninstall.cmd.txt"
windows_build 22631
rm -rf "$(unix_folder "$folder64")" "$(unix_folder "$folder32")"
on_wine reg add "$environment_key" /v PROCESSOR_ARCHITECTURE /d AMD64 /f /reg:64 >/dev/null
check_removed "nothing left on ARM64"
# uninstall.cmd from an ARM64 prompt, and from an emulated x64 one, removes
# both halves. What install.cmd leaves on x64 Windows stands in for what it
# leaves on ARM64: this x64 Wine cannot register the ARM64 DLL.
for prompt in ARM64 AMD64; do
  run_script install.cmd >/dev/null
  on_wine reg add "$environment_key" /v PROCESSOR_ARCHITECTURE /d ARM64 /f /reg:64 >/dev/null
  run_script uninstall.cmd "$prompt" >/dev/null
  on_wine reg add "$environment_key" /v PROCESSOR_ARCHITECTURE /d AMD64 /f /reg:64 >/dev/null
  check_removed "uninstall.cmd from the $prompt prompt of ARM64 Windows"
done

echo "-- each half on its own, with regsvr32"
regsvr() { on_wine "C:\\windows\\$1\\regsvr32.exe" /s ${3:+/u} "$(windows_path "$work/zip/$2/NorrvaneShLnk.dll")" >/dev/null 2>&1; }
zip64_server=$(windows_path "$work/zip/x64/NorrvaneShLnk.dll")
if [ "$halves" = "64 32" ]; then
  check "both halves register" eval "regsvr system32 x64 && regsvr syswow64 x86"
  check "the 32-bit half is removed alone" regsvr syswow64 x86 u
  check "the handler key still holds our class" value_is "$handler_key" "" "$ours"
  check "the 64-bit class key is intact" value_is "$class_key\\InProcServer32" "" "$zip64_server" /reg:64
  check "no 32-bit class key" key_absent "$class_key" /reg:32
  check "the 64-bit half is removed" regsvr system32 x64 u
  check "the stock handler is back" value_is "$handler_key" "" "$stock"
  check "the 32-bit half registers alone, answering S_OK" regsvr syswow64 x86
  check "its class is there for 32-bit programs" key_present "$class_key" /reg:32
  check "the handler key still holds the stock class" value_is "$handler_key" "" "$stock"
  check "it registers again over its own class, as a repair does" regsvr syswow64 x86
  check "the handler key still holds the stock class" value_is "$handler_key" "" "$stock"
  check "it is removed alone" regsvr syswow64 x86 u
  check "the stock class is left" value_is "$handler_key" "" "$stock"
  check "no 32-bit class key" key_absent "$class_key" /reg:32
else
  skip "both halves registered with regsvr32, then the 32-bit one removed alone"
  skip "the 32-bit half registered alone with regsvr32, again over its own class, and removed alone"
fi

echo "-- each feature on its own, with msiexec"
if [ "$halves" = "64 32" ]; then
  check "ADDLOCAL=Handler32 installs" test "$(msiexec_status /i "$msi" ADDLOCAL=Handler32)" = 0
  check "the handler key still holds the stock class" value_is "$handler_key" "" "$stock"
  check "the 32-bit class key names the installed DLL" \
    value_is "$class_key\\InProcServer32" "" "$folder32\\NorrvaneShLnk.dll" /reg:32
  check "no 64-bit class key" key_absent "$class_key" /reg:64
  check "msiexec /x exits 0" test "$(msiexec_status /x "$msi")" = 0
  check_removed "removed after Handler32 alone"
  check "a full installation" test "$(msiexec_status /i "$msi")" = 0
  check "REMOVE=Handler32 exits 0" test "$(msiexec_status /i "$msi" REMOVE=Handler32)" = 0
  check "the handler key still holds our class" value_is "$handler_key" "" "$ours"
  check "the 64-bit class key is intact" value_is "$class_key\\InProcServer32" "" "$folder64\\NorrvaneShLnk.dll" /reg:64
  check "no 32-bit class key" key_absent "$class_key" /reg:32
  check "msiexec /x exits 0" test "$(msiexec_status /x "$msi")" = 0
  check_removed "removed after REMOVE=Handler32"
else
  skip "the MSI with ADDLOCAL=Handler32 alone"
  skip "REMOVE=Handler32 after a full installation"
fi

echo "-- install.cmd and uninstall.cmd from the zip"
run_script install.cmd
check "install.cmd says that on Windows 11 only the MSI adds the command to the first menu" \
  grep -q 'only the MSI package adds the command to the first menu' "$work/install.cmd.txt"
if [ "$halves" = "64 32" ]; then
  check "install.cmd exits 0" test "$script_status" = 0
else
  check "install.cmd exits 1" test "$script_status" = 1
  check "install.cmd reports the 32-bit failure" grep -q "FAILED: the 32-bit DLL" "$work/install.cmd.txt"
  check "install.cmd does not claim success" fails grep -q "NorrvaneShLnk is installed" "$work/install.cmd.txt"
fi
check_registered install.cmd
check "install.cmd: the other classes' handler keys hold our class, none made" other_keys_hold "$ours"
# One unregistration made to fail: without its approval key, removal answers
# E_FAIL. The DLL and its folder must stay, and the script must say so.
on_wine reg delete "$approval_key" /f /reg:64 >/dev/null 2>&1
run_script uninstall.cmd
check "uninstall.cmd says that the first menu's command goes with the MSI" \
  grep -q 'comes only with the MSI package' "$work/uninstall.cmd.txt"
check "uninstall.cmd with a failed unregistration exits 1 and says so" \
  eval "[ $script_status = 1 ] && grep -q 'FAILED: the 64-bit DLL' '$work/uninstall.cmd.txt'"
check "the DLL whose unregistration failed stays, with its folder" \
  test -f "$(unix_folder "$folder64")/NorrvaneShLnk.dll"
on_wine reg add "$approval_key" /f /reg:64 >/dev/null
# Removal while Explorer holds the DLL: it is unregistered, but it and its
# folder stay until Explorer lets it go, and the script says so. (The failed
# removal above took the registration with it.)
run_script install.cmd
hold_handler
run_script uninstall.cmd
check "uninstall.cmd with the DLL in use says it stays, and exits 1" \
  eval "[ $script_status = 1 ] && grep -q 'Unregistered the 64-bit DLL, but .* still has it loaded' '$work/uninstall.cmd.txt' &&
        ! grep -q 'Unregistered the 64-bit DLL and removed' '$work/uninstall.cmd.txt'"
check "the DLL in use stays, with its folder" test -f "$(unix_folder "$folder64")/NorrvaneShLnk.dll"
release_handler
run_script uninstall.cmd
# Without 32-bit programs the 32-bit DLL cannot be unregistered either.
check "uninstall.cmd exits $([ "$halves" = 64 ] && echo 1 || echo 0)" \
  test "$script_status" = "$([ "$halves" = 64 ] && echo 1 || echo 0)"
check_removed uninstall.cmd
check "uninstall.cmd: the other classes' handler keys hold the stock class again" other_keys_hold "$stock"
# A DLL that cannot be copied (missing from the unpacked zip) is reported,
# and neither registered nor said to be installed.
mv "$work/zip/x64/NorrvaneShLnk.dll" "$work/x64.dll"
run_script install.cmd
mv "$work/x64.dll" "$work/zip/x64/NorrvaneShLnk.dll"
check "install.cmd reports the DLL it could not copy and goes no further with it" \
  eval "grep -q 'FAILED: the 64-bit DLL could not be copied' '$work/install.cmd.txt' &&
        ! grep -q -e 'the 64-bit DLL .*could not be registered' -e 'Installed the 64-bit DLL' '$work/install.cmd.txt'"
check "nothing of it is registered" key_absent "$class_key" /reg:64
rm -rf "$(unix_folder "$folder64")" "$(unix_folder "$folder32")"

echo "-- install.cmd on 32-bit Windows, with a regsvr32.exe in its folder"
# A copy of the stand-in that records its starts, where a search for the bare
# name would find it first: the script's folder, which is the current one.
planted_record=$work/planted-regsvr32.txt
rm -f "$planted_record"
if [ "$halves" = "64 32" ]; then
  prefix32=$work/prefix32
  cp "$root/build/x86/tools/stand_in_file_manager.exe" "$work/zip/regsvr32.exe"
  (
    arch=win32 prefix=$prefix32 failures=0
    fresh_prefix
    on_wine reg add "$handler_key" /ve /d "$stock" /f >/dev/null
    cd "$work/zip" &&
      NORRVANE_RECORD=$(windows_path "$planted_record") on_wine cmd /c install.cmd >"$work/install32.txt" 2>&1
    check "install.cmd on 32-bit Windows exits 0" test $? = 0
    check "it registered the 32-bit DLL" value_is "$handler_key" "" "$ours"
    cd "$work/zip" && on_wine cmd /c uninstall.cmd >/dev/null 2>&1
    check "the 32-bit package installs on 32-bit Windows" test "$(msiexec_status /i "$msi86")" = 0
    check "it registered the 32-bit DLL" value_is "$handler_key" "" "$ours"
    check "and is removed again" test "$(msiexec_status /x "$msi86")" = 0
    check "the stock handler is back" value_is "$handler_key" "" "$stock"
    WINEPREFIX="$prefix32" wineserver -w
    exit "$failures"
  ) || failures=$((failures + $?))
else
  # 32-bit Windows as the script tells it, in the registry and the
  # environment: the x86 branch, in this prefix.
  cp "$tools/stand_in_file_manager.exe" "$work/zip/regsvr32.exe"
  on_wine reg add "$environment_key" /v PROCESSOR_ARCHITECTURE /d x86 /f /reg:64 >/dev/null
  (cd "$work/zip" && NORRVANE_RECORD=$(windows_path "$planted_record") \
    on_wine cmd /c "set PROCESSOR_ARCHITECTURE=x86&& install.cmd" >"$work/install32.txt" 2>&1)
  on_wine reg add "$environment_key" /v PROCESSOR_ARCHITECTURE /d AMD64 /f /reg:64 >/dev/null
  check "install.cmd on 32-bit Windows takes the x86 DLL to the program folder" \
    cmp -s "$work/zip/x86/NorrvaneShLnk.dll" "$(unix_folder "$folder64")/NorrvaneShLnk.dll"
  rm -rf "$(unix_folder "$folder64")"
  skip "install.cmd and the x86 package in a 32-bit prefix (the x86 branch was run in the 64-bit prefix instead)"
fi
check "the regsvr32.exe beside install.cmd never runs" test ! -s "$planted_record"

WINEPREFIX="$prefix" wineserver -w
echo "packages: $failures failed, $skipped skipped"
[ "$failures" -eq 0 ]
