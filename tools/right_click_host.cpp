// Does with the open-location handler what the shell does when the user
// right-clicks one file: finds the handler registered for shortcut files (or,
// with --class, for another class that offers the command, as the shell does
// for a symbolic link or a search result),
// creates it, hands it the shell's own data object for the file, lets it fill
// a real popup menu and asks for its verb; with --invoke it also picks the
// item. Everything it learns goes to standard output in UTF-8. With --hold it
// keeps the handler, and so the DLL, loaded until its standard input ends, as
// Explorer keeps it after a right-click.
//
// With --explorer-command it does what the newer context menu does with a
// command that a package declares, without the registry: loads the DLL by its
// full path, makes the class CLSID through the DLL's own DllGetClassObject,
// hands it the item array made from the shell's data object for the file and
// asks for its state and title; with --invoke it also picks it. It exits with
// 0 only when the DLL made the class and the class answered both.
//
// usage: right_click_host [--class CLASS] FILE [--invoke | --hold]
//        right_click_host --explorer-command DLL CLSID FILE [--invoke]
#include <windows.h>
#include <shlobj.h>
#include <shellapi.h>
#include <shobjidl.h>

#include <cstdio>
#include <string>

#include "utf8.h"

namespace {

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

// The CLSID text that the shell would load for the open-location handler of
// the class `className`; empty when it is not registered.
std::wstring RegisteredHandler(const wchar_t* className)
{
    const std::wstring path = std::wstring(className) + L"\\shellex\\ContextMenuHandlers\\OpenContainingFolderMenu";
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return std::wstring();
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

int RightClick(const wchar_t* className, const wchar_t* path, bool invoke, bool hold)
{
    const std::wstring clsidText = RegisteredHandler(className);
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

std::wstring StateText(EXPCMDSTATE state)
{
    if (state == ECS_ENABLED) return L"ECS_ENABLED";
    if (state == ECS_HIDDEN) return L"ECS_HIDDEN";
    return Hex(static_cast<HRESULT>(state));
}

// The command made through DllGetClassObject of the DLL at `dllPath`, or
// null with the reason printed.
IExplorerCommand* LoadCommand(const wchar_t* dllPath, const wchar_t* clsidText, HMODULE* dll)
{
    CLSID clsid;
    if (FAILED(CLSIDFromString(clsidText, &clsid))) {
        Print(L"CLSID: not a CLSID: " + std::wstring(clsidText));
        return nullptr;
    }
    // A bare name would be searched for; the DLL meant is this file.
    wchar_t fullPath[MAX_PATH];
    const DWORD length = GetFullPathNameW(dllPath, MAX_PATH, fullPath, nullptr);
    if (length == 0 || length >= MAX_PATH) {
        Print(L"DLL: no full path for " + std::wstring(dllPath));
        return nullptr;
    }
    *dll = LoadLibraryW(fullPath);
    if (!*dll) {
        Print(L"LoadLibraryW: " + Hex(HRESULT_FROM_WIN32(GetLastError())));
        return nullptr;
    }
    using GetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
    const GetClassObject getClassObject =
        reinterpret_cast<GetClassObject>(reinterpret_cast<void (*)()>(GetProcAddress(*dll, "DllGetClassObject")));
    if (!getClassObject) {
        Print(L"DllGetClassObject: not exported");
        return nullptr;
    }
    IClassFactory* factory = nullptr;
    HRESULT status = getClassObject(clsid, IID_IClassFactory, reinterpret_cast<void**>(&factory));
    if (FAILED(status)) {
        Print(L"DllGetClassObject: " + Hex(status));
        return nullptr;
    }
    IExplorerCommand* command = nullptr;
    status = factory->CreateInstance(nullptr, IID_IExplorerCommand, reinterpret_cast<void**>(&command));
    factory->Release();
    if (FAILED(status)) {
        Print(L"CreateInstance: " + Hex(status));
        return nullptr;
    }
    return command;
}

int RunExplorerCommand(const wchar_t* dllPath, const wchar_t* clsidText, const wchar_t* path, bool invoke)
{
    HMODULE dll = nullptr;
    IExplorerCommand* command = LoadCommand(dllPath, clsidText, &dll);
    int result = 1;
    IDataObject* dataObject = nullptr;
    ITEMIDLIST* folder = nullptr;
    IShellItemArray* items = nullptr;
    HRESULT status = E_FAIL;
    if (command) {
        status = ShellSelectionOf(path, &dataObject, &folder);
        if (SUCCEEDED(status))
            status = SHCreateShellItemArrayFromDataObject(dataObject, IID_IShellItemArray,
                                                          reinterpret_cast<void**>(&items));
        if (FAILED(status)) Print(L"selection: " + Hex(status));
    }
    if (items) {
        EXPCMDSTATE state = ECS_DISABLED;
        const HRESULT stated = command->GetState(items, FALSE, &state);
        Print(L"state: " + (SUCCEEDED(stated) ? StateText(state) : Hex(stated)));
        LPWSTR title = nullptr;
        const HRESULT titled = command->GetTitle(items, &title);
        Print(L"title: " + (SUCCEEDED(titled) && title ? std::wstring(title) : Hex(titled)));
        CoTaskMemFree(title);
        if (invoke) Print(L"Invoke: " + Hex(command->Invoke(items, nullptr)));
        if (SUCCEEDED(stated) && SUCCEEDED(titled)) result = 0;
        items->Release();
    }
    if (dataObject) dataObject->Release();
    CoTaskMemFree(folder);
    if (command) command->Release();
    if (dll) FreeLibrary(dll);
    return result;
}

}  // namespace

int main()
{
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    const bool explorerCommand = argc >= 2 && lstrcmpW(argv[1], L"--explorer-command") == 0;
    const bool ofClass = argc >= 3 && lstrcmpW(argv[1], L"--class") == 0;
    const int fileArgument = explorerCommand ? 4 : ofClass ? 3 : 1;
    const bool option = argc == fileArgument + 2;
    const bool invoke = option && lstrcmpW(argv[fileArgument + 1], L"--invoke") == 0;
    const bool hold = option && !explorerCommand && lstrcmpW(argv[fileArgument + 1], L"--hold") == 0;
    if (argc != fileArgument + 1 && !invoke && !hold) {
        Print(L"usage: right_click_host [--class CLASS] FILE [--invoke | --hold]");
        Print(L"       right_click_host --explorer-command DLL CLSID FILE [--invoke]");
        LocalFree(argv);
        return 2;
    }
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    const int result = explorerCommand ? RunExplorerCommand(argv[2], argv[3], argv[4], invoke)
                                       : RightClick(ofClass ? argv[2] : L"lnkfile", argv[fileArgument], invoke, hold);
    CoUninitialize();
    LocalFree(argv);
    return result;
}
