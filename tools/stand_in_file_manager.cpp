// Stands in for the file manager (copied as Norrvane.exe, Norrvane32.exe,
// Norrvane64.exe) and for explorer.exe: it shows no folder, it only tells
// which copy of it was started, and with which command line. One line, its
// own full path, a tab and the command line exactly as GetCommandLineW gives
// it, is appended in UTF-8 to the file that the environment variable
// NORRVANE_RECORD names, or written to standard output when that is not set.
//
// When NORRVANE_RECORD_HANDLE also holds the value (in decimal) of an
// inheritable handle that the starting test keeps open on that file, the line
// ends in a tab and "inherited" or "not inherited": whether that value in
// this process refers to the file too, that is, whether whoever started this
// program passed its inheritable handles on.
//
// Standing in for a console program, it also writes the line that
// NORRVANE_STDERR holds to standard error, in the OEM code page, as a
// console program writes its errors.
#include <windows.h>

#include <cwchar>
#include <string>

#include "utf8.h"

namespace {

bool WriteAll(HANDLE file, const std::string& bytes)
{
    DWORD written = 0;
    return WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
           written == bytes.size();
}

bool SameFile(const BY_HANDLE_FILE_INFORMATION& a, const BY_HANDLE_FILE_INFORMATION& b)
{
    return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
           a.nFileIndexLow == b.nFileIndexLow;
}

}  // namespace

int main()
{
    // The handle value is looked at before this program opens anything of
    // its own, which could take the same value.
    bool handleNamed = false;
    BY_HANDLE_FILE_INFORMATION behindHandle = {};
    bool handleIsFile = false;
    wchar_t handleText[32];
    const DWORD handleLength = GetEnvironmentVariableW(L"NORRVANE_RECORD_HANDLE", handleText, 32);
    if (handleLength > 0 && handleLength < 32) {
        handleNamed = true;
        const HANDLE handle = reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(std::wcstoull(handleText, nullptr, 10)));
        handleIsFile = GetFileInformationByHandle(handle, &behindHandle) != FALSE;
    }

    wchar_t error[256];
    const DWORD errorLength = GetEnvironmentVariableW(L"NORRVANE_STDERR", error, 256);
    if (errorLength > 0 && errorLength < 256) {
        char bytes[512];
        const int count = WideCharToMultiByte(CP_OEMCP, 0, error, static_cast<int>(errorLength), bytes, sizeof bytes,
                                              nullptr, nullptr);
        if (count > 0) WriteAll(GetStdHandle(STD_ERROR_HANDLE), std::string(bytes, size_t(count)) + "\r\n");
    }

    wchar_t self[MAX_PATH];
    const DWORD selfLength = GetModuleFileNameW(nullptr, self, MAX_PATH);
    if (selfLength == 0 || selfLength >= MAX_PATH) return 1;
    std::string line = Utf8(self) + "\t" + Utf8(GetCommandLineW());
    wchar_t recordPath[MAX_PATH];
    const DWORD length = GetEnvironmentVariableW(L"NORRVANE_RECORD", recordPath, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return WriteAll(GetStdHandle(STD_OUTPUT_HANDLE), line + "\n") ? 0 : 1;

    HANDLE record = CreateFileW(recordPath, FILE_APPEND_DATA | FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (record == INVALID_HANDLE_VALUE) return 1;
    if (handleNamed) {
        BY_HANDLE_FILE_INFORMATION recordFile = {};
        const bool inherited =
            handleIsFile && GetFileInformationByHandle(record, &recordFile) && SameFile(behindHandle, recordFile);
        line += inherited ? "\tinherited" : "\tnot inherited";
    }
    // One write of the whole line, so that a reader never sees half of it.
    const bool written = WriteAll(record, line + "\n");
    CloseHandle(record);
    return written ? 0 : 1;
}
