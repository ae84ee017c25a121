#include "command/menu.h"

#include <cstring>

#include "base/module_text.h"
#include "command/selection.h"
#include "command/text_ids.h"
#include "shellns/holders.h"
#include "shellns/item_location.h"

namespace {

// The verb is what programs may have stored or compare against: it stays
// "ファイルの場所を開く" whatever the user's language, and ANSI callers get its
// code page 932 bytes whatever their code page.
const wchar_t kVerb[] = L"\u30D5\u30A1\u30A4\u30EB\u306E\u5834\u6240\u3092\u958B\u304F";
const char kVerbA[] = "\x83\x74\x83\x40\x83\x43\x83\x8B\x82\xCC\x8F\xEA\x8F\x8A\x82\xF0\x8A\x4A\x82\xAD";

HRESULT CopyCommandText(void* name, UINT cchMax, const void* text, UINT characters, UINT characterSize)
{
    if (!name || cchMax < characters) return E_INVALIDARG;
    std::memcpy(name, text, characters * characterSize);
    return S_OK;
}

HRESULT CopyHelpText(CHAR* name, UINT cchMax)
{
    wchar_t help[COMMAND_TEXT_CAPACITY];
    const int length = LoadModuleText(IDS_HELP_TEXT, LOADER_LANGUAGE, help, COMMAND_TEXT_CAPACITY);
    if (!length) return E_FAIL;
    return CopyCommandText(name, cchMax, help, length + 1, sizeof(wchar_t));
}

// An ANSI caller reads the help text in its own code page: the display
// language's text converted to it, when it comes back from that code page
// unchanged (no character replaced or approximated), or else the English
// text, whose letters every ANSI code page holds.
HRESULT CopyHelpTextA(CHAR* name, UINT cchMax)
{
    const LANGID languages[] = {LOADER_LANGUAGE, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US)};
    for (LANGID language : languages) {
        wchar_t help[COMMAND_TEXT_CAPACITY];
        const int length = LoadModuleText(IDS_HELP_TEXT, language, help, COMMAND_TEXT_CAPACITY);
        if (!length) continue;
        char bytes[4 * COMMAND_TEXT_CAPACITY];
        const int size =
            WideCharToMultiByte(CP_ACP, 0, help, length + 1, bytes, static_cast<int>(sizeof bytes), nullptr, nullptr);
        wchar_t back[COMMAND_TEXT_CAPACITY];
        if (size > 0 && MultiByteToWideChar(CP_ACP, 0, bytes, size, back, COMMAND_TEXT_CAPACITY) == length + 1 &&
            std::memcmp(back, help, (length + 1) * sizeof(wchar_t)) == 0)
            return CopyCommandText(name, cchMax, bytes, size, sizeof(char));
    }
    return E_FAIL;
}

}  // namespace

bool SelectionIsShortcut(const ITEMIDLIST* selection)
{
    return selection && IsShortcutFile(selection);
}

bool LoadCommandText(bool folder, TextForm form, wchar_t (&text)[COMMAND_TEXT_CAPACITY])
{
    UINT id = folder ? IDS_OPEN_FOLDER_LOCATION_MENU : IDS_OPEN_FILE_LOCATION_MENU;
    if (form == TextForm::Title) id = folder ? IDS_OPEN_FOLDER_LOCATION_TITLE : IDS_OPEN_FILE_LOCATION_TITLE;
    return LoadModuleText(id, LOADER_LANGUAGE, text, COMMAND_TEXT_CAPACITY) != 0;
}

bool CommandText(const ITEMIDLIST* selection, TextForm form, wchar_t (&text)[COMMAND_TEXT_CAPACITY])
{
    text[0] = L'\0';
    if (!selection) return false;
    IdListHolder located;
    BOOL isFolder = FALSE;
    if (!LocateItem(selection, located.out(), &isFolder)) return false;
    return LoadCommandText(isFolder != FALSE, form, text);
}

HRESULT QueryContextMenu(IDataObject* dataObject, HMENU menu, UINT indexMenu, UINT idCmdFirst)
{
    wchar_t text[COMMAND_TEXT_CAPACITY];
    bool shown = false;
    {
        IdListHolder selection(ReadSingleSelection(dataObject));
        shown = CommandText(selection.get(), TextForm::Menu, text);
    }
    if (!shown) return S_OK;
    // Whether the insertion took is not the shell's concern: the identifier
    // is spent either way.
    InsertMenuW(menu, indexMenu, MF_BYPOSITION | MF_STRING, idCmdFirst, text);
    return MAKE_HRESULT(SEVERITY_SUCCESS, 0, 1);
}

HRESULT GetCommandString(UINT_PTR idCmd, UINT type, CHAR* name, UINT cchMax)
{
    if (idCmd != 0) return E_INVALIDARG;
    switch (type) {
    case GCS_VERBA:
        return CopyCommandText(name, cchMax, kVerbA, sizeof kVerbA, sizeof(char));
    case GCS_VERBW:
        return CopyCommandText(name, cchMax, kVerb, sizeof kVerb / sizeof(wchar_t), sizeof(wchar_t));
    case GCS_HELPTEXTA:
        return CopyHelpTextA(name, cchMax);
    case GCS_HELPTEXTW:
        return CopyHelpText(name, cchMax);
    case GCS_VALIDATEA:
    case GCS_VALIDATEW:
        return S_OK;
    default:
        return E_INVALIDARG;
    }
}
