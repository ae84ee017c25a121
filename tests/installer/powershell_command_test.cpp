// The installer's PowerShell steps: what reaches PowerShell's command line
// from the package's data, and what never does.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "installer/powershell_command.h"

namespace {

const std::wstring kPowerShell = L"C:\\Windows\\System32\\WindowsPowerShell\\v1.0\\powershell.exe";
const std::wstring kOptions =
    L" -NoProfile -NonInteractive -ExecutionPolicy Bypass -Command \"$ErrorActionPreference = 'Stop'; ";
const std::wstring kPrefix = L"\"" + kPowerShell + L"\"" + kOptions;

TEST(PowerShellCommand, PathsGoInAsLiteralsAndAnythingElseIsRefused)
{
    struct Row {
        const char* label;
        std::wstring data;
        std::wstring expected;  // empty: refused
    } rows[] = {
        {"two values", kPowerShell + L"\tAdd -Path %1 -ExternalLocation %2\tC:\\P F\\N.msix\tC:\\P F\\",
         kPrefix + L"Add -Path 'C:\\P F\\N.msix' -ExternalLocation 'C:\\P F\\'\""},
        {"quotes in a value are doubled", kPowerShell + L"\tX %1\tC:\\O'Brien\\\u2019s\\\u201B",
         kPrefix + L"X 'C:\\O''Brien\\\u2019\u2019s\\\u201B\u201B'\""},
        {"each of the five single quotes doubled, their neighbours not",
         kPowerShell + L"\tX %1\tC:\\\u2017'\u2018\u2019\u201A\u201B\u201C",
         kPrefix + L"X 'C:\\\u2017''\u2018\u2018\u2019\u2019\u201A\u201A\u201B\u201B\u201C'\""},
        {"a value twice, a percent sign kept", kPowerShell + L"\t%1 100% %1%\tC:\\a",
         kPrefix + L"'C:\\a' 100% 'C:\\a'%\""},
        {"a share", L"\\\\server\\ps.exe\tX", L"\"\\\\server\\ps.exe\"" + kOptions + L"X\""},
        {"a value the script names is missing", kPowerShell + L"\tX %1 %2\tC:\\a", L""},
        {"a quotation mark in a value", kPowerShell + L"\tX %1\tC:\\a\" & calc & \"", L""},
        {"a quotation mark in the script", kPowerShell + L"\tX \"%1\"\tC:\\a", L""},
        {"a program found by a search", L"powershell.exe\tX", L""},
        {"a relative program", L"WindowsPowerShell\\v1.0\\powershell.exe\tX", L""},
        {"no script", kPowerShell, L""},
        {"more values than %1 to %9", kPowerShell + L"\tX\t1\t2\t3\t4\t5\t6\t7\t8\t9\t10", L""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        std::vector<wchar_t> buffer(1024, L'#');
        EXPECT_EQ(!row.expected.empty(), ComposePowerShellCommand(row.data.c_str(), buffer.data(), buffer.size()));
        EXPECT_EQ(row.expected, std::wstring(buffer.data()));
        if (!row.expected.empty()) EXPECT_EQ(row.data.find(L'\t'), QuotedProgramLength(buffer.data()));
    }
}

TEST(PowerShellCommand, ACommandLineThatDoesNotFitIsRefused)
{
    const std::wstring data = kPowerShell + L"\tX %1\tC:\\a";
    const std::wstring expected = kPrefix + L"X 'C:\\a'\"";
    for (size_t capacity : {expected.size() + 1, expected.size(), size_t(1)}) {
        std::vector<wchar_t> buffer(capacity, L'#');
        const bool fits = capacity > expected.size();
        EXPECT_EQ(fits, ComposePowerShellCommand(data.c_str(), buffer.data(), capacity)) << capacity;
        EXPECT_EQ(fits ? expected : L"", std::wstring(buffer.data())) << capacity;
    }
}

}  // namespace
