// The installer's custom action for its PowerShell steps (the sparse
// package's staging, provisioning and removal). Windows Installer's own way
// of starting a program keeps what the program printed to itself; this one
// writes it into the installer's log, with the command and its exit code, so
// that a failed step says why. The step's result is the package's to ignore.
#include <windows.h>
#include <msi.h>
#include <msiquery.h>

#include "installer/powershell_command.h"

namespace {

// The longest command line CreateProcessW takes, terminator included.
const DWORD kCommandLineCapacity = 32768;

wchar_t* Allocate(SIZE_T characters)
{
    return static_cast<wchar_t*>(HeapAlloc(GetProcessHeap(), 0, characters * sizeof(wchar_t)));
}
void Free(void* block)
{
    if (block) HeapFree(GetProcessHeap(), 0, block);
}

// One line in the log. The text goes in as a field, never as the record's
// template, so that brackets in it are not read as properties.
void Log(MSIHANDLE install, const wchar_t* prefix, const wchar_t* text)
{
    const MSIHANDLE record = MsiCreateRecord(2);
    if (!record) return;
    MsiRecordSetStringW(record, 0, L"NorrvaneShLnk: [1][2]");
    MsiRecordSetStringW(record, 1, prefix);
    MsiRecordSetStringW(record, 2, text);
    MsiProcessMessage(install, INSTALLMESSAGE_INFO, record);
    MsiCloseHandle(record);
}

// The deferred action's data, which the package set for this action; null
// when there is none.
wchar_t* ReadActionData(MSIHANDLE install)
{
    DWORD length = 0;
    wchar_t empty[1] = L"";
    if (MsiGetPropertyW(install, L"CustomActionData", empty, &length) != ERROR_MORE_DATA) return nullptr;
    wchar_t* data = Allocate(length + 1);
    DWORD capacity = length + 1;
    if (data && MsiGetPropertyW(install, L"CustomActionData", data, &capacity) == ERROR_SUCCESS) return data;
    Free(data);
    return nullptr;
}

// Logs the program's output line by line; PowerShell writes the console's
// code page.
class LineLogger {
public:
    explicit LineLogger(MSIHANDLE install) : install_(install) {}
    void Add(const char* bytes, DWORD count)
    {
        for (DWORD i = 0; i < count; ++i) {
            if (bytes[i] == '\n' || used_ == sizeof line_) Flush();
            if (bytes[i] != '\n' && bytes[i] != '\r') line_[used_++] = bytes[i];
        }
    }
    void Flush()
    {
        if (used_ == 0) return;
        wchar_t text[sizeof line_ + 1];
        const int length = MultiByteToWideChar(CP_OEMCP, 0, line_, static_cast<int>(used_), text, sizeof line_);
        text[length > 0 ? length : 0] = L'\0';
        Log(install_, L"| ", text);
        used_ = 0;
    }

private:
    MSIHANDLE install_;
    char line_[1024];
    DWORD used_ = 0;
};

// Runs the command line, whose program is named in full, with its output
// going to the log; its exit code, or -1 when it could not be started.
long RunLogged(MSIHANDLE install, wchar_t* commandLine)
{
    const std::size_t programLength = QuotedProgramLength(commandLine);
    wchar_t* program = Allocate(programLength + 1);
    if (!program) return -1;
    lstrcpynW(program, commandLine + 1, static_cast<int>(programLength + 1));

    SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, nullptr, TRUE};
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    long exitCode = -1;
    if (CreatePipe(&readEnd, &writeEnd, &inheritable, 0) && SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0)) {
        STARTUPINFOW startup = {};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdOutput = writeEnd;
        startup.hStdError = writeEnd;
        PROCESS_INFORMATION started = {};
        const BOOL created = CreateProcessW(program, commandLine, nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                                            nullptr, &startup, &started);
        // The program holds the only write end now: the reads end when it does.
        CloseHandle(writeEnd);
        writeEnd = nullptr;
        if (created) {
            LineLogger lines(install);
            char chunk[512];
            DWORD read = 0;
            while (ReadFile(readEnd, chunk, sizeof chunk, &read, nullptr) && read > 0) lines.Add(chunk, read);
            lines.Flush();
            WaitForSingleObject(started.hProcess, INFINITE);
            DWORD code = 0;
            if (GetExitCodeProcess(started.hProcess, &code)) exitCode = static_cast<long>(code);
            CloseHandle(started.hThread);
            CloseHandle(started.hProcess);
        } else {
            Log(install, L"could not start ", program);
        }
    }
    if (writeEnd) CloseHandle(writeEnd);
    if (readEnd) CloseHandle(readEnd);
    Free(program);
    return exitCode;
}

}  // namespace

// Nothing to do at load: Windows Installer calls the action by name.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }

extern "C" UINT __stdcall RunPowerShell(MSIHANDLE install)
{
    wchar_t* data = ReadActionData(install);
    wchar_t* commandLine = Allocate(kCommandLineCapacity);
    UINT result = ERROR_INSTALL_FAILURE;
    if (data && commandLine && ComposePowerShellCommand(data, commandLine, kCommandLineCapacity)) {
        Log(install, L"running ", commandLine);
        const long exitCode = RunLogged(install, commandLine);
        wchar_t text[16];
        wsprintfW(text, L"%ld", exitCode);
        Log(install, L"exit code ", text);
        if (exitCode == 0) result = ERROR_SUCCESS;
    } else {
        Log(install, L"refused the step's data: ", data ? data : L"(none)");
    }
    Free(commandLine);
    Free(data);
    return result;
}
