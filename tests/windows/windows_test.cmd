@echo off
rem The project's checks on a real Windows, from the kit that
rem tests/windows/make_kit.sh gathers (the release, the test certificate
rem authority, the test programs and tools of each architecture):
rem   1. every test program, natively: x64 or ARM64 as the machine is, and
rem      the 32-bit ones under WOW64; on ARM64 an emulated x64 program must
rem      find no open-location item at all;
rem   2. the machine's MSI, installed silently with a verbose log: the
rem      handler keys in both registry views, the class, the approval; a real
rem      shortcut right-clicked through the shell's own context menu, which
rem      loads every registered handler as Explorer does; our item found by
rem      its canonical verb, with its text, and picked: the stand-in file
rem      manager, the folders' verb, must start with the exact command line;
rem      then removal, and nothing of ours left;
rem   3. from build 22000 on, the MSI's package steps (staged, provisioned,
rem      registered for this account; gone after removal) and the packaged
rem      class activated for the shortcut; on older builds, no package step.
rem One line per check, "ok: ...", "FAILED: ..." or "SKIPPED (why): ...";
rem the exit code is the number of failures. Logs and outputs go to OUT.
rem
rem scripts/test.sh runs it under Wine's cmd, which has no PowerShell,
rem certificate stores or packages, and whose shell loads no handlers: those
rem steps are skipped there, each with a line that says so. With
rem NORRVANE_NO_32BIT set (to the reason), the 32-bit steps are skipped too;
rem with NORRVANE_NO_PROGRAMS (the reason), the test programs.
rem NORRVANE_SOAK_ROUNDS, when set, is the soak test's number of rounds
rem (1000 otherwise).
rem
rem Run it elevated, on a machine of no value: it installs and removes
rem NorrvaneShLnk, adds the test certificate authority to the machine's
rem stores and changes the folders' default verb while it runs.
rem usage: windows_test.cmd KIT OUT
setlocal EnableExtensions
if "%~2"=="" (
  echo usage: windows_test.cmd KIT OUT
  exit /b 64
)
if defined PROCESSOR_ARCHITEW6432 (
  echo This is a 32-bit command prompt on 64-bit Windows. Run windows_test.cmd from a native one.
  exit /b 64
)
set "KIT=%~f1"
set "OUT=%~f2"
set "WORK=%~f2\work"
if not exist "%OUT%" mkdir "%OUT%"
if exist "%WORK%" rmdir /s /q "%WORK%"
mkdir "%WORK%"
set "FAILURES=0"
set "SKIPPED=0"
set "SYS=%SystemRoot%\System32"
set "OURS={6b1f0c3e-9a52-4d17-8e3b-2c4f5a7d9e01}"
set "STOCK={37ea3a21-7493-4208-a011-7f9ea79ce9f5}"
set "APPROVED=HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Shell Extensions\Approved"
set "UNINSTALL=HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall"
rem The other classes Windows offers the open-file-location command for.
rem Which of them a build has is its own: one whose key names the stock class
rem before installation is switched and given back, any other is left as it
rem was, and a key that is missing is never made.
set "OTHER_CLASSES=.symlink LibraryLocation RecentDocument Results PinnedRecentDocument RecommendationsFile"
if not defined NORRVANE_SOAK_ROUNDS set "NORRVANE_SOAK_ROUNDS=1000"

rem Which system this is. A for /f command must not start with a quotation
rem mark: cmd would strip the first and the last one of the line.
set "WINE="
%SYS%\reg.exe query "HKLM\Software\Wine" >nul 2>&1 && set "WINE=1"
set "NATIVE="
for /f "tokens=1,3" %%a in ('%SYS%\reg.exe query "HKLM\SYSTEM\CurrentControlSet\Control\Session Manager\Environment" /v PROCESSOR_ARCHITECTURE 2^>nul') do (
  if /i "%%a"=="PROCESSOR_ARCHITECTURE" set "NATIVE=%%b"
)
set "BUILD=0"
for /f "tokens=1,3" %%a in ('%SYS%\reg.exe query "HKLM\SOFTWARE\Microsoft\Windows NT\CurrentVersion" /v CurrentBuildNumber 2^>nul') do (
  if /i "%%a"=="CurrentBuildNumber" set "BUILD=%%b"
)
if /i "%NATIVE%"=="AMD64" (
  set "ARCH=x64"
) else if /i "%NATIVE%"=="ARM64" (
  set "ARCH=arm64"
) else (
  echo FAILED: no checks for a %NATIVE% machine
  exit /b 1
)
set "ABOUT=Windows build %BUILD%, %NATIVE%"
if defined WINE set "ABOUT=Wine, as Windows build %BUILD%, %NATIVE%"
echo windows_test: %ABOUT%; kit %KIT%

rem The machine's MSI and its product code, from the kit's list.
set "MSI="
set "PRODUCT="
for /f "usebackq tokens=1,2,3" %%a in ("%KIT%\packages.txt") do (
  if "%%a"=="%ARCH%" (
    set "PRODUCT=%%b"
    set "MSI=%KIT%\release\%%c"
  )
)
if not exist "%MSI%" (
  echo FAILED: the kit has no MSI for %ARCH%
  exit /b 1
)

echo -- the test programs
if defined NORRVANE_NO_PROGRAMS (
  call :skip "%NORRVANE_NO_PROGRAMS%" "the test programs"
) else (
  call :run_all_programs
)

echo -- the MSI, installed
rem The registry views checked: 32-bit programs read the 32-bit one, as the
rem 32-bit reg.exe does.
set "VIEWS=64 32"
if defined NORRVANE_NO_32BIT (
  set "VIEWS=64"
  call :skip "%NORRVANE_NO_32BIT%" "every check in the 32-bit registry view, and of the 32-bit DLL"
)
if defined WINE (
  rem As Windows 10 has them: no key for the "Recommended" files.
  for %%c in (lnkfile .symlink LibraryLocation RecentDocument Results PinnedRecentDocument) do call :seed_stock %%c
  call :skip "Windows only" "the test certificate authority in the machine's Root and TrustedPeople stores"
) else (
  call :trust_test_ca
)
set "SWITCHED="
set "LEFT="
for %%c in (%OTHER_CLASSES%) do call :classify %%c
echo this build's other classes with the stock handler:%SWITCHED%; left alone:%LEFT%
call :handler_classes expect_handler "before installation" "%STOCK%"
set "FEATURES="
if defined NORRVANE_NO_32BIT set "FEATURES=ADDLOCAL=Handler64"
start "" /wait %SYS%\msiexec.exe /i "%MSI%" /qn /norestart %FEATURES% /l*v "%OUT%\install.log"
call :result "msiexec /i exits 0" %ERRORLEVEL%
call :handler_classes expect_handler "installed" "%OURS%"
for %%v in (%VIEWS%) do call :expect_class %%v
call :read "%UNINSTALL%\%PRODUCT%" DisplayName 64
call :expect "an Apps and features entry" "%VALUE%" NorrvaneShLnk

echo -- a shortcut right-clicked
echo target>"%WORK%\target file.txt"
set "TARGET=%WORK%\target file.txt"
set "SHORTCUT=%WORK%\to target.lnk"
"%KIT%\x64\make_shortcut.exe" "%SHORTCUT%" "%TARGET%" >"%OUT%\make_shortcut.txt" 2>&1
call :result "a shortcut to a file" %ERRORLEVEL%
rem The stand-in file manager as the folders' default verb, as Norrvane
rem registers itself; the folders' own verb goes back afterwards.
set "STAND_IN=%KIT%\x64\Norrvane.exe"
call :read "HKCR\Folder\shell" "" 64
set "SAVED_VERB=%VALUE%"
%SYS%\reg.exe add "HKCR\Folder\shell" /ve /d Norrvane /f >nul
%SYS%\reg.exe add "HKCR\Folder\shell\Norrvane\command" /ve /d "\"%STAND_IN%\" \"%%1\"" /f >nul
set "SOURCE=shell"
if defined WINE (
  set "SOURCE=registered"
  call :skip "Wine's shell loads no handlers" "the shell's own context menu; the handler that the key names stands in for it"
)
call :shell_check "%ARCH%" "a native program's menu holds our item, picked: the file manager starts" menu %SOURCE% "%SHORTCUT%" "%STAND_IN%" "%TARGET%"
if defined NORRVANE_NO_32BIT (
  call :skip "%NORRVANE_NO_32BIT%" "a 32-bit program's menu"
) else (
  call :shell_check x86 "a 32-bit program's menu holds our item, picked: the file manager starts" menu %SOURCE% "%SHORTCUT%" "%STAND_IN%" "%TARGET%"
)
if "%ARCH%"=="arm64" (
  call :shell_check x64 "an emulated x64 program's menu holds no open-location item" no-item shell "%SHORTCUT%"
)
if "%SAVED_VERB%"=="" (
  %SYS%\reg.exe delete "HKCR\Folder\shell" /ve /f >nul 2>&1
) else (
  %SYS%\reg.exe add "HKCR\Folder\shell" /ve /d "%SAVED_VERB%" /f >nul
)
%SYS%\reg.exe delete "HKCR\Folder\shell\Norrvane" /f >nul 2>&1

echo -- the package steps
call :count_lines "%OUT%\install.log" 2 "NorrvaneShLnk: running"
set "STEPS=%COUNT%"
call :count_lines "%OUT%\install.log" 4 "NorrvaneShLnk: exit code 0"
set "STEPS_DONE=%COUNT%"
if %BUILD% GEQ 22000 (
  call :expect "build %BUILD%: the installation ran its two package steps, each with exit code 0" "%STEPS% %STEPS_DONE%" "2 2"
  call :package_state "installed" 0
  call :packaged_class
) else (
  call :expect "build %BUILD%: the installation ran no package step" "%STEPS%" 0
  call :package_state "installed, before build 22000" 1
)

echo -- the MSI, removed
rem Under Wine nothing but the script's own programs loads the DLL.
if not defined WINE call :wait_until_released
start "" /wait %SYS%\msiexec.exe /x "%MSI%" /qn /norestart /l*v "%OUT%\remove.log"
call :result "msiexec /x exits 0" %ERRORLEVEL%
call :handler_classes expect_handler "removed" "%STOCK%"
for %%v in (%VIEWS%) do (
  call :expect_absent "no %%v-bit class key" "HKCR\CLSID\%OURS%" %%v
  call :expect_value_absent "no %%v-bit approval" "%APPROVED%" "%OURS%" %%v
)
call :expect_absent "no Apps and features entry" "%UNINSTALL%\%PRODUCT%" 64
call :expect_no_file "%ProgramFiles%\NorrvaneShLnk"
call :expect_no_file "%ProgramFiles(x86)%\NorrvaneShLnk"
call :count_lines "%OUT%\remove.log" 2 "NorrvaneShLnk: running"
set "STEPS=%COUNT%"
call :count_lines "%OUT%\remove.log" 4 "NorrvaneShLnk: exit code 0"
set "STEPS_DONE=%COUNT%"
if %BUILD% GEQ 22000 (
  call :expect "build %BUILD%: the removal ran its package step, with exit code 0" "%STEPS% %STEPS_DONE%" "1 1"
  call :package_state "removed" 1
) else (
  call :expect "build %BUILD%: the removal ran no package step" "%STEPS%" 0
)
if not defined WINE (
  %SYS%\certutil.exe -delstore Root "NorrvaneShLnk Test CA" >>"%OUT%\certutil.txt" 2>&1
  %SYS%\certutil.exe -delstore TrustedPeople "NorrvaneShLnk Test CA" >>"%OUT%\certutil.txt" 2>&1
)

echo windows_test: %FAILURES% failed, %SKIPPED% skipped
exit /b %FAILURES%

rem ---- The classes whose open-location handler key NorrvaneShLnk takes
rem over: :handler_classes ROUTINE [ARGUMENTS] calls the routine for each,
rem the class first. The classes left alone are checked to be as they were.
:handler_classes
call :%~1 lnkfile %2 %3
for %%c in (%SWITCHED%) do call :%~1 %%c %2 %3
for %%c in (%LEFT%) do call :expect_left %%c %2
goto :eof

rem :classify CLASS: to SWITCHED when its key names the stock class, else to
rem LEFT, with what the key holds (nothing when missing) in LEFT_CLASS.
:classify
call :read "HKCR\%~1\shellex\ContextMenuHandlers\OpenContainingFolderMenu" "" 64
if /i "%VALUE%"=="%STOCK%" (
  set "SWITCHED=%SWITCHED% %~1"
) else (
  set "LEFT=%LEFT% %~1"
  set "LEFT_%~1=%VALUE%"
)
goto :eof

rem :expect_left CLASS WHEN: the key holds what it held before installation.
:expect_left
call :read "HKCR\%~1\shellex\ContextMenuHandlers\OpenContainingFolderMenu" "" 64
call set "BEFORE=%%LEFT_%~1%%"
call :expect "%~2: %~1's handler, left as it was" "%VALUE%" "%BEFORE%"
goto :eof

rem :seed_stock CLASS: the stock handler, as Windows has it; a fresh Wine
rem prefix has none.
:seed_stock
%SYS%\reg.exe add "HKCR\%~1\shellex\ContextMenuHandlers\OpenContainingFolderMenu" /ve /d "%STOCK%" /f >nul
goto :eof

rem :expect_handler CLASS WHEN CLSID: the class's handler key names CLSID in
rem each registry view (on 64-bit Windows the two share the key).
:expect_handler
for %%v in (%VIEWS%) do call :expect_handler_in %1 %2 %3 %%v
goto :eof
:expect_handler_in
call :read "HKCR\%~1\shellex\ContextMenuHandlers\OpenContainingFolderMenu" "" %4
call :expect "%~2: %~1's handler, %4-bit view" "%VALUE%" "%~3"
goto :eof

rem :trust_test_ca: the kit's test certificate authority, which signed the
rem release and its packages, trusted by the machine.
:trust_test_ca
%SYS%\certutil.exe -f -addstore Root "%KIT%\certificate\ca.pem" >"%OUT%\certutil.txt" 2>&1
call :result "the test certificate authority is in the machine's Root store" %ERRORLEVEL%
%SYS%\certutil.exe -f -addstore TrustedPeople "%KIT%\certificate\ca.pem" >>"%OUT%\certutil.txt" 2>&1
call :result "... and in its TrustedPeople store" %ERRORLEVEL%
goto :eof

rem :run_arm64_program: the ARM64 build's test program, natively.
:run_arm64_program
"%KIT%\arm64\dll_test.exe" "%KIT%\arm64\NorrvaneShLnk.dll" >"%OUT%\arm64-dll_test.txt" 2>&1
call :result_shown "arm64 dll_test, natively" "%OUT%\arm64-dll_test.txt" %ERRORLEVEL%
goto :eof

rem :expect_class BITS: the class and its approval in that view, and the DLL
rem in the program folder of that bitness.
:expect_class
set "DLL=%ProgramFiles%\NorrvaneShLnk\NorrvaneShLnk.dll"
if "%1"=="32" set "DLL=%ProgramFiles(x86)%\NorrvaneShLnk\NorrvaneShLnk.dll"
call :read "HKCR\CLSID\%OURS%\InProcServer32" "" %1
call :expect "the %1-bit class names the installed DLL" "%VALUE%" "%DLL%"
call :read "HKCR\CLSID\%OURS%\InProcServer32" ThreadingModel %1
call :expect "... apartment-threaded" "%VALUE%" Apartment
call :read "%APPROVED%" "%OURS%" %1
call :expect "the class is approved for %1-bit programs" "%VALUE%" NorrvaneOpenContainingFolderMenu
if exist "%DLL%" (set "VALUE=there") else set "VALUE=missing"
call :expect "the %1-bit DLL is in place" "%VALUE%" there
goto :eof

rem :run_all_programs: the native ones, and the 32-bit ones under WOW64.
:run_all_programs
if "%ARCH%"=="x64" call :run_programs x64
if "%ARCH%"=="arm64" call :run_arm64_program
if defined NORRVANE_NO_32BIT (
  call :skip "%NORRVANE_NO_32BIT%" "the 32-bit test programs"
) else (
  call :run_programs x86
)
goto :eof

rem :run_programs ARCH: every test program of the kit's ARCH folder. The
rem end-to-end tests put a stand-in in place of the Windows folder's
rem explorer.exe, which only a Wine prefix of their own allows; on Windows
rem the right-click above takes their road through the real shell. A 32-bit
rem host in a 64-bit prefix cannot right-click through the 64-bit
rem registration of the end-to-end tests' DLL.
:run_programs
rem (Wine's cmd matches no wildcard in quotation marks: from the folder.)
pushd "%KIT%\%~1"
for %%p in (*_tests.exe) do call :run_program %1 "%%~fp"
popd
goto :eof
:run_program
set "ARGUMENTS="
if /i "%~n2"=="version_resource_tests" set ARGUMENTS="%KIT%\%~1\NorrvaneShLnk.dll"
if /i not "%~n2"=="end_to_end_tests" goto :run_program_now
if not defined WINE (
  call :skip "they replace the Windows folder's explorer.exe, which only a Wine prefix of their own allows" "%~1 end_to_end_tests"
  goto :eof
)
if "%~1"=="x86" set "ARGUMENTS=--gtest_filter=-*HostRightClicksThroughTheRegisteredDll"
:run_program_now
"%~2" %ARGUMENTS% >"%OUT%\%~1-%~n2.txt" 2>&1
set "CODE=%ERRORLEVEL%"
rem Wine can end a program that overflowed its stack with exit code 0:
rem only GoogleTest's closing summary counts as a pass.
call :count_lines "%OUT%\%~1-%~n2.txt" 3 "[ PASSED ]"
if "%COUNT%"=="0" set "CODE=%CODE%, no summary"
call :result_shown "%~1 %~n2" "%OUT%\%~1-%~n2.txt" "%CODE%"
goto :eof

rem :shell_check ARCH DESCRIPTION ARGUMENTS...: the kit's shell_check of
rem that architecture, its output shown.
:shell_check
set "CHECK_ARCH=%~1"
set "CHECK_WHAT=%~2"
set "CHECK_LOG=%OUT%\shell_check-%~1-%3.txt"
"%KIT%\%CHECK_ARCH%\shell_check.exe" %3 %4 %5 %6 %7 >"%CHECK_LOG%" 2>&1
call :result_shown "%CHECK_WHAT%" "%CHECK_LOG%" %ERRORLEVEL%
goto :eof

rem :packaged_class: the class that the package declares, activated out of
rem process as Explorer activates it, where this system lets a program
rem without a package do that.
:packaged_class
if defined WINE (
  call :skip "Windows only: Wine has no packages" "the packaged class, activated out of process"
  goto :eof
)
"%KIT%\%ARCH%\shell_check.exe" command "%SHORTCUT%" >"%OUT%\shell_check-command.txt" 2>&1
set "CODE=%ERRORLEVEL%"
type "%OUT%\shell_check-command.txt"
if "%CODE%"=="2" (
  echo note: this runner does not let a program without a package activate the packaged class: not checked here
  goto :eof
)
call :result "the packaged class answers for the shortcut, activated out of process" %CODE%
goto :eof

rem :package_state WHEN EXPECTED: the package is staged, provisioned for
rem every account and registered for this one (EXPECTED 0), or none of the
rem three (EXPECTED 1), as PowerShell's package commands tell.
:package_state
if defined WINE (
  call :skip "Windows only: Wine has no PowerShell" "%~1: the package's state"
  goto :eof
)
call :appx "%~1: the package is provisioned for every account" %2 "Get-AppxProvisionedPackage -Online | Where-Object DisplayName -eq 'NorrvaneShLnk'"
call :appx "%~1: the package is staged, for all users" %2 "Get-AppxPackage -AllUsers -Name NorrvaneShLnk"
call :appx "%~1: the package is registered for this account" %2 "Get-AppxPackage -Name NorrvaneShLnk"
goto :eof
:appx
set "WANT=present"
if "%~2"=="1" set "WANT=absent"
echo PS^> "%~3" >>"%OUT%\powershell.txt"
%SYS%\WindowsPowerShell\v1.0\powershell.exe -NoProfile -NonInteractive -ExecutionPolicy Bypass -Command "$found = @(%~3); $found | Format-List | Out-String -Width 200; exit [int]($found.Count -eq 0)" >>"%OUT%\powershell.txt" 2>&1
call :result "%~1, %WANT%" %ERRORLEVEL% %2
goto :eof

rem :wait_until_released: until no process has the DLL loaded (the
rem package's surrogate process lets it go some time after its last object),
rem so that removal finds nothing in use; at most two minutes.
:wait_until_released
for /l %%i in (1,1,120) do (
  %SYS%\tasklist.exe /m NorrvaneShLnk.dll /fo csv /nh 2>nul | %SYS%\find.exe /i "NorrvaneShLnk.dll" >nul || goto :eof
  %SYS%\PING.EXE -n 2 127.0.0.1 >nul
)
echo note: still in use after two minutes:
%SYS%\tasklist.exe /m NorrvaneShLnk.dll
goto :eof

rem ---- Helpers.

rem :reg_of BITS: REG gets the reg.exe of that bitness, and VIEW its view, as
rem a program of that bitness reads the registry (Wine's 64-bit reg.exe reads
rem the 32-bit view of keys that both views share apart).
:reg_of
set "REG=%SYS%\reg.exe"
set "VIEW=/reg:64"
if not "%~1"=="32" goto :eof
set "REG=%SystemRoot%\SysWOW64\reg.exe"
set "VIEW=/reg:32"
goto :eof

rem :read KEY NAME BITS: VALUE gets the REG_SZ value NAME (empty: the
rem default value) of KEY in the registry view of BITS; empty when absent.
:read
set "VALUE="
set "QUERY=/ve"
if not "%~2"=="" set QUERY=/v "%~2"
call :reg_of %3
for /f "tokens=1,2,*" %%a in ('%REG% query "%~1" %QUERY% %VIEW% 2^>nul') do (
  if "%%b"=="REG_SZ" set "VALUE=%%c"
)
goto :eof

rem :count_lines FILE N TEXT: COUNT gets the number of lines of FILE whose
rem first N words (2 to 4), one blank between them, are TEXT; type reads a
rem log written in UTF-16 as well. (Wine's cmd has no find or findstr that
rem reads a file, nor substitution in delayed expansion.)
:count_lines
set "COUNT=0"
for /f "tokens=1-4" %%a in ('type "%~1" 2^>nul') do (
  if "%~2"=="2" if "%%a %%b"=="%~3" set /a COUNT+=1
  if "%~2"=="3" if "%%a %%b %%c"=="%~3" set /a COUNT+=1
  if "%~2"=="4" if "%%a %%b %%c %%d"=="%~3" set /a COUNT+=1
)
goto :eof

rem :expect DESCRIPTION GOT WANTED
:expect
if "%~2"=="%~3" goto :expect_ok
echo FAILED: %~1: "%~2", not "%~3"
set /a FAILURES+=1
goto :eof
:expect_ok
echo ok: %~1
goto :eof

rem :expect_absent DESCRIPTION KEY BITS
:expect_absent
call :reg_of %3
%REG% query "%~2" %VIEW% >nul 2>&1
if errorlevel 1 goto :expect_ok
echo FAILED: %~1: "%~2" is there
set /a FAILURES+=1
goto :eof

rem :expect_value_absent DESCRIPTION KEY NAME BITS
:expect_value_absent
call :reg_of %4
%REG% query "%~2" /v "%~3" %VIEW% >nul 2>&1
if errorlevel 1 goto :expect_ok
echo FAILED: %~1: "%~2" holds %~3
set /a FAILURES+=1
goto :eof

rem :expect_no_file PATH
:expect_no_file
if exist "%~1" goto :expect_no_file_failed
echo ok: nothing left at %~1
goto :eof
:expect_no_file_failed
echo FAILED: nothing left at %~1; there is:
dir /s /b "%~1"
set /a FAILURES+=1
goto :eof

rem :result DESCRIPTION CODE [WANTED]: the exit code CODE is WANTED (0).
:result
set "WANTED=%~3"
if "%WANTED%"=="" set "WANTED=0"
if "%~2"=="%WANTED%" goto :expect_ok
echo FAILED: %~1: exit code %~2
set /a FAILURES+=1
goto :eof

rem :result_shown DESCRIPTION OUTPUT CODE: as :result, and shows what the
rem program printed.
:result_shown
type "%~2"
call :result %1 %3
goto :eof

rem :skip WHY WHAT
:skip
echo SKIPPED (%~1): %~2
set /a SKIPPED+=1
goto :eof
