// Saves a shortcut file, as the shell's "create shortcut" would, for the
// demo: to a path, or with --computer to the virtual "My Computer" item.
//
// usage: make_shortcut LNK (TARGET | --computer)
#include <windows.h>
#include <shlobj.h>
#include <shellapi.h>

#include <cstdio>

namespace {

HRESULT SaveShortcut(const wchar_t* lnkPath, const wchar_t* target)
{
    IShellLinkW* link = nullptr;
    HRESULT status = CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                      reinterpret_cast<void**>(&link));
    if (FAILED(status)) return status;
    if (lstrcmpW(target, L"--computer") == 0) {
        ITEMIDLIST* computer = nullptr;
        status = SHGetSpecialFolderLocation(nullptr, CSIDL_DRIVES, &computer);
        if (SUCCEEDED(status)) status = link->SetIDList(computer);
        CoTaskMemFree(computer);
    } else {
        status = link->SetPath(target);
    }
    IPersistFile* file = nullptr;
    if (SUCCEEDED(status)) status = link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file));
    if (SUCCEEDED(status)) {
        status = file->Save(lnkPath, TRUE);
        file->Release();
    }
    link->Release();
    return status;
}

}  // namespace

int main()
{
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (argc != 3) {
        std::fputs("usage: make_shortcut LNK (TARGET | --computer)\n", stderr);
        LocalFree(argv);
        return 2;
    }
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    const HRESULT status = SaveShortcut(argv[1], argv[2]);
    CoUninitialize();
    LocalFree(argv);
    if (FAILED(status)) std::fprintf(stderr, "make_shortcut: 0x%08lX\n", static_cast<unsigned long>(status));
    return FAILED(status) ? 1 : 0;
}
