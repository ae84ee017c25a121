#include "command/menu.h"

#include <cstring>

#include "command/selection.h"
#include "shellns/holders.h"
#include "shellns/item_location.h"

// "ファイルの場所を開く(&I)" and "フォルダーの場所を開く(&I)", and the same
// without the access key.
const wchar_t OPEN_FILE_LOCATION_TEXT[] = L"\u30D5\u30A1\u30A4\u30EB\u306E\u5834\u6240\u3092\u958B\u304F(&I)";
const wchar_t OPEN_FOLDER_LOCATION_TEXT[] =
    L"\u30D5\u30A9\u30EB\u30C0\u30FC\u306E\u5834\u6240\u3092\u958B\u304F(&I)";
const wchar_t OPEN_FILE_LOCATION_TITLE[] = L"\u30D5\u30A1\u30A4\u30EB\u306E\u5834\u6240\u3092\u958B\u304F";
const wchar_t OPEN_FOLDER_LOCATION_TITLE[] = L"\u30D5\u30A9\u30EB\u30C0\u30FC\u306E\u5834\u6240\u3092\u958B\u304F";

namespace {

// The verb and help text are the file title, as wide text and as the code
// page 932 bytes handed out to ANSI callers whatever their code page.
const char kCommandTextA[] = "\x83\x74\x83\x40\x83\x43\x83\x8B\x82\xCC\x8F\xEA\x8F\x8A\x82\xF0\x8A\x4A\x82\xAD";

HRESULT CopyCommandText(void* name, UINT cchMax, const void* text, UINT characters, UINT characterSize)
{
    if (!name || cchMax < characters) return E_INVALIDARG;
    std::memcpy(name, text, characters * characterSize);
    return S_OK;
}

}  // namespace

bool SelectionIsShortcut(const ITEMIDLIST* selection)
{
    return selection && IsShortcutFile(selection);
}

const wchar_t* CommandText(const ITEMIDLIST* selection, TextForm form)
{
    if (!selection) return nullptr;
    IdListHolder located;
    BOOL isFolder = FALSE;
    if (!LocateItem(selection, located.out(), &isFolder)) return nullptr;
    if (form == TextForm::Menu) return isFolder ? OPEN_FOLDER_LOCATION_TEXT : OPEN_FILE_LOCATION_TEXT;
    return isFolder ? OPEN_FOLDER_LOCATION_TITLE : OPEN_FILE_LOCATION_TITLE;
}

HRESULT QueryContextMenu(IDataObject* dataObject, HMENU menu, UINT indexMenu, UINT idCmdFirst)
{
    const wchar_t* text = nullptr;
    {
        IdListHolder selection(ReadSingleSelection(dataObject));
        text = CommandText(selection.get(), TextForm::Menu);
    }
    if (!text) return S_OK;
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
    case GCS_HELPTEXTA:
        return CopyCommandText(name, cchMax, kCommandTextA, sizeof kCommandTextA, sizeof(char));
    case GCS_VERBW:
    case GCS_HELPTEXTW:
        return CopyCommandText(name, cchMax, OPEN_FILE_LOCATION_TITLE,
                               sizeof OPEN_FILE_LOCATION_TITLE / sizeof(wchar_t), sizeof(wchar_t));
    case GCS_VALIDATEA:
    case GCS_VALIDATEW:
        return S_OK;
    default:
        return E_INVALIDARG;
    }
}
