#pragma once
// The texts of this module's string tables.
#include <windows.h>

// The language the resource loader chooses: the thread's preferred UI
// languages, then the user's and the system's, as LoadStringW follows them.
const LANGID LOADER_LANGUAGE = MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL);

// Copies the string `id` of this module's string tables in `language` (or
// LOADER_LANGUAGE) into `text`, with a terminator. Its length in characters,
// or 0, with `text` empty, when there is no such string, it is empty or it
// does not fit in `capacity` characters: a text is never cut short.
int LoadModuleText(UINT id, LANGID language, wchar_t* text, int capacity);
