#include "support/user_texts.h"

Language DisplayLanguage()
{
    return PRIMARYLANGID(GetUserDefaultUILanguage()) == LANG_JAPANESE ? Language::Japanese : Language::English;
}

const UserTexts& TextsIn(Language language)
{
    // "ファイルの場所を開く(&I)", "フォルダーの場所を開く(&I)", the same without
    // the access key, and the help text, the file title in code page 932.
    static const UserTexts japanese = {
        L"\u30D5\u30A1\u30A4\u30EB\u306E\u5834\u6240\u3092\u958B\u304F(&I)",
        L"\u30D5\u30A9\u30EB\u30C0\u30FC\u306E\u5834\u6240\u3092\u958B\u304F(&I)",
        L"\u30D5\u30A1\u30A4\u30EB\u306E\u5834\u6240\u3092\u958B\u304F",
        L"\u30D5\u30A9\u30EB\u30C0\u30FC\u306E\u5834\u6240\u3092\u958B\u304F",
        L"\u30D5\u30A1\u30A4\u30EB\u306E\u5834\u6240\u3092\u958B\u304F",
        {0x83, 0x74, 0x83, 0x40, 0x83, 0x43, 0x83, 0x8B, 0x82, 0xCC, 0x8F,
         0xEA, 0x8F, 0x8A, 0x82, 0xF0, 0x8A, 0x4A, 0x82, 0xAD, 0x00},
    };
    static const char englishHelp[] = "Open file location";
    static const UserTexts english = {
        L"Open f&ile location",
        L"Open folder locat&ion",
        L"Open file location",
        L"Open folder location",
        L"Open file location",
        std::vector<BYTE>(englishHelp, englishHelp + sizeof englishHelp),
    };
    return language == Language::Japanese ? japanese : english;
}
