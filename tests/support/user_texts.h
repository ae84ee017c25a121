#pragma once
// The texts the user sees, written out here apart from the DLL's string
// tables, and the display language a test runs in. Wine takes the display
// language (and the ANSI code page) from LC_ALL when a program starts, and
// only a thread's locale changes which string table it reads later: a row
// for another language is left to the run in that language
// (cmake/wine-run.sh, NORRVANE_LOCALE).
#include <windows.h>

#include <vector>

// The DLL's two languages: Japanese for a Japanese display language,
// English for every other.
enum class Language { Japanese, English };

// The language whose texts this process is shown.
Language DisplayLanguage();

struct UserTexts {
    const wchar_t* fileMenu;     // with the access key
    const wchar_t* folderMenu;
    const wchar_t* fileTitle;    // the newer menu's title, without it
    const wchar_t* folderTitle;
    const wchar_t* help;
    std::vector<BYTE> helpAnsi;  // in the ANSI code page that goes with the language, zero included
};

const UserTexts& TextsIn(Language language);
