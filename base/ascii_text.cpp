#include "base/ascii_text.h"

namespace {
wchar_t FoldAscii(wchar_t c) { return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c + (L'a' - L'A')) : c; }
}

bool EqualsIgnoringAsciiCase(const wchar_t* a, const wchar_t* b)
{
    for (; FoldAscii(*a) == FoldAscii(*b); ++a, ++b)
        if (*a == L'\0') return true;
    return false;
}

bool StartsWithIgnoringAsciiCase(const wchar_t* text, const wchar_t* prefix)
{
    for (; *prefix != L'\0'; ++text, ++prefix)
        if (FoldAscii(*text) != FoldAscii(*prefix)) return false;
    return true;
}
