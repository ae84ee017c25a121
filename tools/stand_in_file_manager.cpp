// Stands in for the file manager (copied as Norrvane.exe, Norrvane32.exe,
// Norrvane64.exe) and for explorer.exe: it shows no folder, it only tells
// which copy of it was started, and with which command line. One line, its
// own full path, a tab and the command line exactly as GetCommandLineW gives
// it, is appended in UTF-8 to the file that the environment variable
// NORRVANE_RECORD names, or written to standard output when that is not set.
#include <windows.h>

#include <string>

#include "utf8.h"

namespace {

bool WriteAll(HANDLE file, const std::string& bytes)
{
    DWORD written = 0;
    return WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
           written == bytes.size();
}

}  // namespace

int main()
{
    wchar_t self[MAX_PATH];
    const DWORD selfLength = GetModuleFileNameW(nullptr, self, MAX_PATH);
    if (selfLength == 0 || selfLength >= MAX_PATH) return 1;
    const std::string line = Utf8(self) + "\t" + Utf8(GetCommandLineW()) + "\n";
    wchar_t recordPath[MAX_PATH];
    const DWORD length = GetEnvironmentVariableW(L"NORRVANE_RECORD", recordPath, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return WriteAll(GetStdHandle(STD_OUTPUT_HANDLE), line) ? 0 : 1;

    // One write of the whole line, so that a reader never sees half of it.
    HANDLE record = CreateFileW(recordPath, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (record == INVALID_HANDLE_VALUE) return 1;
    const bool written = WriteAll(record, line);
    CloseHandle(record);
    return written ? 0 : 1;
}
