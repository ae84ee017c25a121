#include "base/module_text.h"

#include <cstring>

#include "base/module_identity.h"

// The lookup LoadStringW makes, with the language in the caller's hands: a
// string table resource holds the strings of 16 identifiers, each a count
// of characters followed by that many characters, without terminators.
int LoadModuleText(UINT id, LANGID language, wchar_t* text, int capacity)
{
    if (capacity <= 0) return 0;
    text[0] = L'\0';
    HRSRC found = FindResourceExW(ModuleInstance, RT_STRING, MAKEINTRESOURCEW(id / 16 + 1), language);
    if (!found) return 0;
    const wchar_t* entry = static_cast<const wchar_t*>(LockResource(LoadResource(ModuleInstance, found)));
    if (!entry) return 0;
    const wchar_t* end = entry + SizeofResource(ModuleInstance, found) / sizeof(wchar_t);
    for (UINT index = 0;; ++index) {
        if (entry >= end || end - (entry + 1) < *entry) return 0;
        if (index == id % 16) break;
        entry += 1 + *entry;
    }
    const int length = *entry;
    if (length == 0 || length >= capacity) return 0;
    std::memcpy(text, entry + 1, length * sizeof(wchar_t));
    text[length] = L'\0';
    return length;
}
