#pragma once
// Names in the registry and in paths are compared folding only the ASCII
// letters A to Z: the answer must not depend on the user's locale.

// True when the two zero-terminated texts are equal but for ASCII case.
bool EqualsIgnoringAsciiCase(const wchar_t* a, const wchar_t* b);

// True when `text` begins with `prefix` but for ASCII case.
bool StartsWithIgnoringAsciiCase(const wchar_t* text, const wchar_t* prefix);
