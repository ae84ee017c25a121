#pragma once
// The command line of one PowerShell step of the installer, composed from
// what the package hands the custom action. Paths reach PowerShell as
// literals it cannot read as code, whatever characters they hold.
#include <cstddef>

// Composes into `commandLine` (`capacity` characters, terminator included)
//   "<PowerShell>" -NoProfile -NonInteractive -ExecutionPolicy Bypass
//       -Command "$ErrorActionPreference = 'Stop'; <script>"
// from `actionData`: tab-separated fields, first PowerShell's full path, then
// the script, then the values that %1 to %9 in the script stand for. Each
// value goes in as a single-quoted PowerShell literal. False, with
// `commandLine` empty, when the path is not a full one, the script names a
// value that is not there, a value holds a quotation mark (which no path
// can), or the result does not fit.
bool ComposePowerShellCommand(const wchar_t* actionData, wchar_t* commandLine, std::size_t capacity);

// The length of the program path that opens `commandLine`, inside its
// quotation marks, which starts one character in.
std::size_t QuotedProgramLength(const wchar_t* commandLine);
