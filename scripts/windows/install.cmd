@echo off
rem Installs NorrvaneShLnk from this folder: copies the DLLs into Program Files,
rem where only administrators can change them, and registers those copies: the
rem 64-bit DLL (x64 or ARM64, as Windows is) for Explorer and native programs,
rem the 32-bit DLL for 32-bit programs. Run it from an elevated command prompt.
rem The Windows Installer packages NorrvaneShLnk-<version>-x64.msi and -arm64.msi
rem do the same and show NorrvaneShLnk in Apps & features.
setlocal
set "HERE=%~dp0"
set "FAILED=0"

rem An emulated command prompt names the emulated machine; the system's own
rem value in the registry names the real one. A for /f command must not start
rem with a quotation mark: cmd would strip the first and the last one of the
rem line before running it.
set "NATIVE=%PROCESSOR_ARCHITECTURE%"
for /f "tokens=1,3" %%a in ('%SystemRoot%\System32\reg.exe query "HKLM\SYSTEM\CurrentControlSet\Control\Session Manager\Environment" /v PROCESSOR_ARCHITECTURE 2^>nul') do (
  if /i "%%a"=="PROCESSOR_ARCHITECTURE" set "NATIVE=%%b"
)
set "BUILD=0"
for /f "tokens=1,3" %%a in ('%SystemRoot%\System32\reg.exe query "HKLM\SOFTWARE\Microsoft\Windows NT\CurrentVersion" /v CurrentBuildNumber 2^>nul') do (
  if /i "%%a"=="CurrentBuildNumber" set "BUILD=%%b"
)
if %BUILD% GEQ 22000 echo On Windows 11 this script installs the item under "Show more options"; only the MSI package adds the command to the first menu.

if defined PROCESSOR_ARCHITEW6432 (
  echo This is a 32-bit command prompt on 64-bit Windows. Run install.cmd from a 64-bit one.
  exit /b 1
)

rem Explorer is native: on ARM64 Windows it loads the ARM64 DLL, which the
rem native regsvr32 in System32 registers, also from an emulated x64 prompt.
if /i "%NATIVE%"=="ARM64" (
  call :install "%HERE%arm64\NorrvaneShLnk.dll" "%ProgramFiles%\NorrvaneShLnk" "%SystemRoot%\System32\regsvr32.exe" ARM64
  call :install "%HERE%x86\NorrvaneShLnk.dll" "%ProgramFiles(x86)%\NorrvaneShLnk" "%SystemRoot%\SysWOW64\regsvr32.exe" 32-bit
) else if /i "%NATIVE%"=="AMD64" (
  call :install "%HERE%x64\NorrvaneShLnk.dll" "%ProgramFiles%\NorrvaneShLnk" "%SystemRoot%\System32\regsvr32.exe" 64-bit
  call :install "%HERE%x86\NorrvaneShLnk.dll" "%ProgramFiles(x86)%\NorrvaneShLnk" "%SystemRoot%\SysWOW64\regsvr32.exe" 32-bit
) else if /i "%NATIVE%"=="x86" (
  call :install "%HERE%x86\NorrvaneShLnk.dll" "%ProgramFiles%\NorrvaneShLnk" "%SystemRoot%\System32\regsvr32.exe" 32-bit
) else (
  echo NorrvaneShLnk has no DLL for %NATIVE% Windows. Nothing was installed.
  exit /b 1
)

if "%FAILED%"=="1" (
  echo Installation is incomplete. Run this script again from an elevated command prompt.
  exit /b 1
)
echo NorrvaneShLnk is installed. Restart Explorer, or sign out and in, to use it.
exit /b 0

rem :install DLL FOLDER REGSVR32 LABEL
:install
if not exist "%~2" mkdir "%~2"
copy /y "%~1" "%~2\NorrvaneShLnk.dll" >nul
if errorlevel 1 (
  echo FAILED: the %4 DLL could not be copied to "%~2". If NorrvaneShLnk is installed and in use, run uninstall.cmd first.
  set "FAILED=1"
  goto :eof
)
"%~3" /s "%~2\NorrvaneShLnk.dll"
if errorlevel 1 (
  echo FAILED: the %4 DLL "%~2\NorrvaneShLnk.dll" could not be registered with "%~3".
  set "FAILED=1"
  goto :eof
)
echo Installed the %4 DLL in "%~2" and registered it with "%~3".
goto :eof
