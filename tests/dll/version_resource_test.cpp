// The version resource of the built DLL, read the way a file's property
// sheet reads it, and its string tables, read from the file for each
// language. The DLL's path is the first argument.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cwctype>
#include <string>
#include <vector>

#include "command/text_ids.h"

namespace {

std::wstring dllPath;

// A path that starts with '/' comes from a build under Wine, which shows the
// Unix root as drive Z:.
std::wstring WindowsPath(const char* argument)
{
    int length = MultiByteToWideChar(CP_UTF8, 0, argument, -1, nullptr, 0);
    std::wstring path(length > 0 ? length - 1 : 0, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, argument, -1, &path[0], length);
    if (!path.empty() && path[0] == L'/') path = L"Z:" + path;
    for (wchar_t& c : path)
        if (c == L'/') c = L'\\';
    return path;
}

std::vector<BYTE> ReadVersionInfo()
{
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeW(dllPath.c_str(), &ignored);
    std::vector<BYTE> info(size);
    EXPECT_NE(0u, size) << "no version resource in the DLL";
    if (size) EXPECT_TRUE(GetFileVersionInfoW(dllPath.c_str(), 0, size, info.data()));
    return info;
}

// The bytes of one item of the version block, or none when it is missing.
std::vector<BYTE> Query(std::vector<BYTE>& info, const std::wstring& item)
{
    void* value = nullptr;
    UINT length = 0;
    if (info.empty() || !VerQueryValueW(info.data(), item.c_str(), &value, &length)) return {};
    const BYTE* bytes = static_cast<const BYTE*>(value);
    // String items count characters, the others bytes.
    size_t size = item.rfind(L"\\StringFileInfo\\", 0) == 0 ? length * sizeof(wchar_t) : length;
    return std::vector<BYTE>(bytes, bytes + size);
}

std::wstring QueryString(std::vector<BYTE>& info, const wchar_t* block, const wchar_t* name)
{
    std::vector<BYTE> bytes = Query(info, std::wstring(L"\\StringFileInfo\\") + block + L"\\" + name);
    if (bytes.empty()) return L"<missing>";
    std::wstring text(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
    return text.substr(0, text.find(L'\0'));
}

BOOL CALLBACK CollectName(HMODULE, LPCWSTR, LPWSTR name, LONG_PTR names)
{
    reinterpret_cast<std::vector<ULONG_PTR>*>(names)->push_back(reinterpret_cast<ULONG_PTR>(name));
    return TRUE;
}

BOOL CALLBACK CollectLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR languages)
{
    reinterpret_cast<std::vector<WORD>*>(languages)->push_back(language);
    return TRUE;
}

TEST(VersionResource, IsOneJapaneseResourceWithId1)
{
    HMODULE image = LoadLibraryExW(dllPath.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(nullptr, image) << GetLastError();
    std::vector<ULONG_PTR> names;
    EnumResourceNamesW(image, RT_VERSION, CollectName, reinterpret_cast<LONG_PTR>(&names));
    EXPECT_EQ(std::vector<ULONG_PTR>{1}, names);
    std::vector<WORD> languages;
    EnumResourceLanguagesW(image, RT_VERSION, MAKEINTRESOURCEW(1), CollectLanguage,
                           reinterpret_cast<LONG_PTR>(&languages));
    EXPECT_EQ(std::vector<WORD>{0x0411}, languages);
    FreeLibrary(image);
}

TEST(VersionResource, FixedPartDescribesVersion1011OfADll)
{
    std::vector<BYTE> info = ReadVersionInfo();
    std::vector<BYTE> bytes = Query(info, L"\\");
    ASSERT_EQ(sizeof(VS_FIXEDFILEINFO), bytes.size());
    VS_FIXEDFILEINFO fixed;
    memcpy(&fixed, bytes.data(), sizeof fixed);
    EXPECT_EQ(0xFEEF04BDu, fixed.dwSignature);
    EXPECT_EQ(0x00010000u, fixed.dwFileVersionMS);
    EXPECT_EQ(0x00010001u, fixed.dwFileVersionLS);
    EXPECT_EQ(0x00010000u, fixed.dwProductVersionMS);
    EXPECT_EQ(0x00010001u, fixed.dwProductVersionLS);
    EXPECT_EQ(0x3Fu, fixed.dwFileFlagsMask);
    EXPECT_EQ(0u, fixed.dwFileFlags);
    EXPECT_EQ(DWORD(VOS_NT_WINDOWS32), fixed.dwFileOS);
    EXPECT_EQ(DWORD(VFT_DLL), fixed.dwFileType);
    EXPECT_EQ(0u, fixed.dwFileSubtype);
    EXPECT_EQ(0u, fixed.dwFileDateMS);
    EXPECT_EQ(0u, fixed.dwFileDateLS);
}

TEST(VersionResource, TranslationsAreJapaneseAndEnglishInUtf16)
{
    std::vector<BYTE> info = ReadVersionInfo();
    std::vector<BYTE> bytes = Query(info, L"\\VarFileInfo\\Translation");
    ASSERT_EQ(4 * sizeof(WORD), bytes.size());
    std::vector<WORD> pairs(4);
    memcpy(pairs.data(), bytes.data(), bytes.size());
    EXPECT_EQ((std::vector<WORD>{0x0411, 1200, 0x0409, 1200}), pairs);
}

TEST(VersionResource, StringTablesNameTheProduct)
{
    const std::wstring company = L"Kitahara Soft Works";
    struct Row {
        const wchar_t* block;
        const wchar_t* name;
        std::wstring text;
    } rows[] = {
        {L"041104b0", L"CompanyName", company},
        {L"041104b0", L"FileDescription", L"「ファイルの場所を開く」すり替え"},
        {L"041104b0", L"FileVersion", L"1, 0, 1, 1"},
        {L"041104b0", L"InternalName", L"NorrvaneShLnk"},
        {L"041104b0", L"OriginalFilename", L"NorrvaneShLnk.dll"},
        {L"041104b0", L"ProductName", company + L"\u3000NorrvaneShLnk"},
        {L"041104b0", L"ProductVersion", L"1, 0, 1, 1"},
        {L"040904b0", L"CompanyName", company},
        {L"040904b0", L"FileDescription", L"\u201COpen file location\u201D replacement"},
        {L"040904b0", L"FileVersion", L"1, 0, 1, 1"},
        {L"040904b0", L"ProductName", company + L" NorrvaneShLnk"},
    };
    std::vector<BYTE> info = ReadVersionInfo();
    for (const Row& row : rows) EXPECT_EQ(row.text, QueryString(info, row.block, row.name)) << row.block << row.name;

    // The notice is the maker's own wording; it names the year and the company.
    for (const wchar_t* block : {L"041104b0", L"040904b0"}) {
        std::wstring notice = QueryString(info, block, L"LegalCopyright");
        EXPECT_NE(std::wstring::npos, notice.find(company)) << notice;
        size_t digits = 0, longest = 0;
        for (wchar_t c : notice) longest = std::max(longest, digits = std::iswdigit(c) ? digits + 1 : 0);
        EXPECT_EQ(4u, longest) << notice;
    }
}

// The string `id` of the string table in `language`, read from the file as
// the resource loader reads it; "<missing>" when there is none.
std::wstring TableText(HMODULE image, UINT id, WORD language)
{
    HRSRC found = FindResourceExW(image, RT_STRING, MAKEINTRESOURCEW(id / 16 + 1), language);
    const wchar_t* entry = found ? static_cast<const wchar_t*>(LockResource(LoadResource(image, found))) : nullptr;
    if (!entry) return L"<missing>";
    const wchar_t* end = entry + SizeofResource(image, found) / sizeof(wchar_t);
    for (UINT index = 0; index < id % 16 && entry < end; ++index) entry += 1 + *entry;
    if (entry >= end || end - entry - 1 < *entry) return L"<missing>";
    return std::wstring(entry + 1, *entry);
}

// Every build's DLL carries the texts the user sees in both languages, as
// its resource compiler read them from the script, and in no third: a
// language-neutral table, say, would be taken before the Japanese one.
TEST(StringTables, HoldTheUserTextsInJapaneseAndEnglish)
{
    HMODULE image = LoadLibraryExW(dllPath.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(nullptr, image) << GetLastError();
    std::vector<WORD> languages;
    EnumResourceLanguagesW(image, RT_STRING, MAKEINTRESOURCEW(IDS_HELP_TEXT / 16 + 1), CollectLanguage,
                           reinterpret_cast<LONG_PTR>(&languages));
    EXPECT_EQ((std::vector<WORD>{0x0409, 0x0411}), languages);
    struct Row {
        WORD language;
        UINT id;
        const wchar_t* text;
    } rows[] = {
        {0x0411, IDS_OPEN_FILE_LOCATION_MENU, L"ファイルの場所を開く(&I)"},
        {0x0411, IDS_OPEN_FOLDER_LOCATION_TITLE, L"フォルダーの場所を開く"},
        {0x0409, IDS_OPEN_FOLDER_LOCATION_MENU, L"Open folder locat&ion"},
        {0x0409, IDS_HELP_TEXT, L"Open file location"},
    };
    for (const Row& row : rows)
        EXPECT_EQ(row.text, TableText(image, row.id, row.language)) << row.language << " " << row.id;
    FreeLibrary(image);
}

}  // namespace

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    if (argc != 2) {
        fprintf(stderr, "usage: version_resource_tests PATH-OF-NorrvaneShLnk.dll\n");
        return 2;
    }
    dllPath = WindowsPath(argv[1]);
    return RUN_ALL_TESTS();
}
