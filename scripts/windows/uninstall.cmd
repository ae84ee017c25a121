@echo off
rem Removes NorrvaneShLnk as install.cmd installed it and gives the
rem open-file-location command back to Windows: unregisters the DLLs in
rem Program Files and removes their folders. Run it from an elevated command
rem prompt.
setlocal
set "FAILED=0"
set "IN_USE=0"

rem A for /f command must not start with a quotation mark: cmd would strip the
rem first and the last one of the line before running it.
set "BUILD=0"
for /f "tokens=1,3" %%a in ('%SystemRoot%\System32\reg.exe query "HKLM\SOFTWARE\Microsoft\Windows NT\CurrentVersion" /v CurrentBuildNumber 2^>nul') do (
  if /i "%%a"=="CurrentBuildNumber" set "BUILD=%%b"
)
if %BUILD% GEQ 22000 echo On Windows 11 this script removes the item under "Show more options"; the command in the first menu comes only with the MSI package: remove that in Apps ^& features.

if defined PROCESSOR_ARCHITEW6432 (
  echo This is a 32-bit command prompt on 64-bit Windows. Run uninstall.cmd from a 64-bit one.
  exit /b 1
)

rem 64-bit Windows, x64 or ARM64: the native DLL, then the 32-bit one.
if /i "%PROCESSOR_ARCHITECTURE%"=="x86" (
  call :uninstall "%ProgramFiles%\NorrvaneShLnk" "%SystemRoot%\System32\regsvr32.exe" 32-bit
) else (
  call :uninstall "%ProgramFiles%\NorrvaneShLnk" "%SystemRoot%\System32\regsvr32.exe" 64-bit
  call :uninstall "%ProgramFiles(x86)%\NorrvaneShLnk" "%SystemRoot%\SysWOW64\regsvr32.exe" 32-bit
)

if "%FAILED%"=="1" (
  echo Removal is incomplete. Run this script again from an elevated command prompt.
  exit /b 1
)
if "%IN_USE%"=="1" (
  echo Removal finishes after a restart: restart Windows, or sign out and in, then run uninstall.cmd again.
  exit /b 1
)
echo NorrvaneShLnk is removed.
exit /b 0

rem :uninstall FOLDER REGSVR32 LABEL
:uninstall
if not exist "%~1\NorrvaneShLnk.dll" (
  echo The %3 DLL is not installed in "%~1".
  goto :eof
)
"%~2" /u /s "%~1\NorrvaneShLnk.dll"
if errorlevel 1 (
  echo FAILED: the %3 DLL "%~1\NorrvaneShLnk.dll" could not be unregistered with "%~2".
  set "FAILED=1"
  goto :eof
)
del "%~1\NorrvaneShLnk.dll" >nul 2>&1
if exist "%~1\NorrvaneShLnk.dll" (
  echo Unregistered the %3 DLL, but Explorer or another program still has it loaded: "%~1" stays until then.
  set "IN_USE=1"
  goto :eof
)
rd "%~1" >nul 2>&1
echo Unregistered the %3 DLL and removed "%~1".
goto :eof
