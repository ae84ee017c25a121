@echo off
rem Removes NorrvaneShLnk and gives the open-file-location command back to
rem Windows. Run it from an elevated command prompt.
setlocal
set "HERE=%~dp0"
set "FAILED=0"

if defined PROCESSOR_ARCHITEW6432 (
  echo This is a 32-bit command prompt on 64-bit Windows. Run uninstall.cmd from a 64-bit one.
  exit /b 1
)

if /i "%PROCESSOR_ARCHITECTURE%"=="AMD64" (
  call :unregister "%SystemRoot%\System32\regsvr32.exe" "%HERE%x64\NorrvaneShLnk.dll" 64-bit
  call :unregister "%SystemRoot%\SysWOW64\regsvr32.exe" "%HERE%x86\NorrvaneShLnk.dll" 32-bit
) else (
  call :unregister "%SystemRoot%\System32\regsvr32.exe" "%HERE%x86\NorrvaneShLnk.dll" 32-bit
)

if "%FAILED%"=="1" (
  echo Removal is incomplete. Run this script again from an elevated command prompt.
  exit /b 1
)
echo NorrvaneShLnk is removed. Restart Explorer, or sign out and in, to finish.
exit /b 0

:unregister
%1 /u /s %2
if errorlevel 1 (
  echo FAILED: the %3 DLL %2 could not be unregistered with %1.
  set "FAILED=1"
  goto :eof
)
echo Unregistered the %3 DLL %2 with %1.
goto :eof
