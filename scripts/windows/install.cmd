@echo off
rem Registers NorrvaneShLnk: the 64-bit DLL for 64-bit Explorer and programs,
rem the 32-bit DLL for 32-bit programs. Run it from an elevated command prompt,
rem and keep this folder where it is: the registry points at the DLLs here.
setlocal
set "HERE=%~dp0"
set "FAILED=0"

if defined PROCESSOR_ARCHITEW6432 (
  echo This is a 32-bit command prompt on 64-bit Windows. Run install.cmd from a 64-bit one.
  exit /b 1
)

if /i "%PROCESSOR_ARCHITECTURE%"=="AMD64" (
  call :register "%SystemRoot%\System32\regsvr32.exe" "%HERE%x64\NorrvaneShLnk.dll" 64-bit
  call :register "%SystemRoot%\SysWOW64\regsvr32.exe" "%HERE%x86\NorrvaneShLnk.dll" 32-bit
) else if /i "%PROCESSOR_ARCHITECTURE%"=="x86" (
  call :register "%SystemRoot%\System32\regsvr32.exe" "%HERE%x86\NorrvaneShLnk.dll" 32-bit
) else (
  echo NorrvaneShLnk has no DLL for %PROCESSOR_ARCHITECTURE% Windows. Nothing was registered.
  exit /b 1
)

if "%FAILED%"=="1" (
  echo Installation is incomplete. Run this script again from an elevated command prompt.
  exit /b 1
)
echo NorrvaneShLnk is installed. Restart Explorer, or sign out and in, to use it.
exit /b 0

:register
%1 /s %2
if errorlevel 1 (
  echo FAILED: the %3 DLL %2 could not be registered with %1.
  set "FAILED=1"
  goto :eof
)
echo Registered the %3 DLL %2 with %1.
goto :eof
