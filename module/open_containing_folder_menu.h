#pragma once
#include <windows.h>
#include <shlobj.h>

#include "base/com_ref.h"
#include "module/object_heap.h"

// The open-file-location context-menu handler of shortcut files and of the
// other classes registration gives it to. One object, four interfaces,
// one reference count; its only other state is the selection's data object.
class OpenContainingFolderMenu final : public IContextMenu,
                                       public IShellExtInit,
                                       public IExtractIconW,
                                       public IPersistFile {
public:
    // Makes a handler and hands out its first reference through `riid`. A
    // handler that cannot be handed out is destroyed at once.
    static HRESULT Create(REFIID riid, void** ppv);

    // IUnknown, one for all four interfaces.
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    // IContextMenu
    STDMETHODIMP QueryContextMenu(HMENU hmenu, UINT indexMenu, UINT idCmdFirst, UINT idCmdLast,
                                  UINT uFlags) override;
    STDMETHODIMP InvokeCommand(CMINVOKECOMMANDINFO* lpici) override;
    STDMETHODIMP GetCommandString(UINT_PTR idCmd, UINT uType, UINT* pReserved, CHAR* pszName,
                                  UINT cchMax) override;

    // IShellExtInit
    STDMETHODIMP Initialize(PCIDLIST_ABSOLUTE pidlFolder, IDataObject* pdtobj, HKEY hkeyProgID) override;

    // IExtractIconW: no icon of its own.
    STDMETHODIMP GetIconLocation(UINT uFlags, LPWSTR pszIconFile, UINT cchMax, int* piIndex,
                                 UINT* pwFlags) override;
    STDMETHODIMP Extract(LPCWSTR pszFile, UINT nIconIndex, HICON* phiconLarge, HICON* phiconSmall,
                         UINT nIconSize) override;

    // IPersistFile: nothing to persist.
    STDMETHODIMP GetClassID(CLSID* pClassID) override;
    STDMETHODIMP IsDirty() override;
    STDMETHODIMP Load(LPCOLESTR pszFileName, DWORD dwMode) override;
    STDMETHODIMP Save(LPCOLESTR pszFileName, BOOL fRemember) override;
    STDMETHODIMP SaveCompleted(LPCOLESTR pszFileName) override;
    STDMETHODIMP GetCurFile(LPOLESTR* ppszFileName) override;

    NORRVANE_OBJECT_HEAP

private:
    OpenContainingFolderMenu();
    ~OpenContainingFolderMenu();

    LONG references_ = 0;
    ComRef<IDataObject> dataObject_;
};
