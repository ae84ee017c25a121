// Does with the open-location handler what the shell does when the user
// right-clicks one file: finds the handler registered for shortcut files,
// creates it, hands it the shell's own data object for the file, lets it fill
// a real popup menu and asks for its verb; with --invoke it also picks the
// item. Everything it learns goes to standard output in UTF-8. With --hold it
// keeps the handler, and so the DLL, loaded until its standard input ends, as
// Explorer keeps it after a right-click.
//
// usage: right_click_host FILE [--invoke | --hold]
#include <windows.h>
#include <shlobj.h>
#include <shellapi.h>

#include <cstdio>
#include <string>

#include "utf8.h"

namespace {

const wchar_t kHandlerKey[] = L"lnkfile\\shellex\\ContextMenuHandlers\\OpenContainingFolderMenu";

void Print(const std::wstring& text)
{
    const std::string line = Utf8(text + L"\n");
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fflush(stdout);
}

std::wstring Hex(HRESULT status)
{
    wchar_t text[16];
    wsprintfW(text, L"0x%08X", static_cast<unsigned>(status));
    return text;
}

// The CLSID text that the shell would load for shortcut files' open-location
// handler; empty when it is not registered.
std::wstring RegisteredHandler()
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, kHandlerKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return std::wstring();
    wchar_t text[64] = L"";
    DWORD bytes = sizeof text - sizeof(wchar_t);
    if (RegQueryValueExW(key, nullptr, nullptr, nullptr, reinterpret_cast<BYTE*>(text), &bytes) != ERROR_SUCCESS)
        text[0] = L'\0';
    RegCloseKey(key);
    return text;
}

// The data object the shell makes for the one item at `path`, and the
// absolute list of the folder that holds it.
HRESULT ShellSelectionOf(const wchar_t* path, IDataObject** dataObject, ITEMIDLIST** folder)
{
    ITEMIDLIST* item = nullptr;
    HRESULT status = SHParseDisplayName(path, nullptr, &item, 0, nullptr);
    if (FAILED(status)) return status;
    IShellFolder* parent = nullptr;
    const ITEMIDLIST* child = nullptr;
    status = SHBindToParent(item, IID_IShellFolder, reinterpret_cast<void**>(&parent), &child);
    if (SUCCEEDED(status)) {
        status = parent->GetUIObjectOf(nullptr, 1, &child, IID_IDataObject, nullptr,
                                       reinterpret_cast<void**>(dataObject));
        parent->Release();
    }
    if (SUCCEEDED(status)) {
        *folder = ILClone(item);
        ILRemoveLastID(*folder);
    }
    CoTaskMemFree(item);
    return status;
}

void ShowMenu(HMENU menu)
{
    const int count = GetMenuItemCount(menu);
    if (count == 0) Print(L"menu: (nothing inserted)");
    for (int position = 0; position < count; ++position) {
        wchar_t text[256] = L"";
        GetMenuStringW(menu, position, text, 256, MF_BYPOSITION);
        Print(L"menu: position " + std::to_wstring(position) + L", id " +
              std::to_wstring(GetMenuItemID(menu, position)) + L", \"" + text + L"\"");
    }
}

// Waits until standard input ends.
void HoldUntilInputEnds()
{
    Print(L"holding");
    char buffer[64];
    DWORD read = 0;
    while (ReadFile(GetStdHandle(STD_INPUT_HANDLE), buffer, sizeof buffer, &read, nullptr) && read > 0) {
    }
}

int RightClick(const wchar_t* path, bool invoke, bool hold)
{
    const std::wstring clsidText = RegisteredHandler();
    Print(L"handler: " + (clsidText.empty() ? std::wstring(L"(none registered)") : clsidText));
    CLSID clsid;
    if (clsidText.empty() || FAILED(CLSIDFromString(clsidText.c_str(), &clsid))) return 1;

    IShellExtInit* init = nullptr;
    HRESULT status = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IShellExtInit,
                                      reinterpret_cast<void**>(&init));
    if (FAILED(status)) {
        Print(L"CoCreateInstance: " + Hex(status));
        return 1;
    }
    IDataObject* dataObject = nullptr;
    ITEMIDLIST* folder = nullptr;
    status = ShellSelectionOf(path, &dataObject, &folder);
    if (FAILED(status)) {
        Print(L"selection: " + Hex(status));
        init->Release();
        return 1;
    }
    init->Initialize(folder, dataObject, nullptr);

    IContextMenu* contextMenu = nullptr;
    init->QueryInterface(IID_IContextMenu, reinterpret_cast<void**>(&contextMenu));
    HMENU menu = CreatePopupMenu();
    const UINT idCmdFirst = 1;
    Print(L"QueryContextMenu: " + Hex(contextMenu->QueryContextMenu(menu, 0, idCmdFirst, 0x7FFF, CMF_NORMAL)));
    ShowMenu(menu);

    wchar_t verb[64] = L"";
    status = contextMenu->GetCommandString(0, GCS_VERBW, nullptr, reinterpret_cast<CHAR*>(verb), 64);
    Print(L"verb: " + (SUCCEEDED(status) ? std::wstring(verb) : Hex(status)));

    if (invoke && GetMenuItemCount(menu) > 0) {
        CMINVOKECOMMANDINFO info = {};
        info.cbSize = sizeof info;
        info.lpVerb = MAKEINTRESOURCEA(GetMenuItemID(menu, 0) - idCmdFirst);
        info.nShow = SW_SHOWNORMAL;
        Print(L"InvokeCommand: " + Hex(contextMenu->InvokeCommand(&info)));
    }
    if (hold) HoldUntilInputEnds();

    DestroyMenu(menu);
    contextMenu->Release();
    init->Release();
    dataObject->Release();
    CoTaskMemFree(folder);
    return 0;
}

}  // namespace

int main()
{
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    const bool invoke = argc == 3 && lstrcmpW(argv[2], L"--invoke") == 0;
    const bool hold = argc == 3 && lstrcmpW(argv[2], L"--hold") == 0;
    if (argc != 2 && !invoke && !hold) {
        Print(L"usage: right_click_host FILE [--invoke | --hold]");
        LocalFree(argv);
        return 2;
    }
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    const int result = RightClick(argv[1], invoke, hold);
    CoUninitialize();
    LocalFree(argv);
    return result;
}
