#include "module/open_containing_folder_menu.h"

#include "command/invocation.h"
#include "command/menu.h"
#include "module/module.h"

OpenContainingFolderMenu::OpenContainingFolderMenu() { ModuleObjectCreated(); }

OpenContainingFolderMenu::~OpenContainingFolderMenu()
{
    // The data object goes before the count says that nothing is left alive.
    dataObject_.reset();
    ModuleObjectDestroyed();
}

HRESULT OpenContainingFolderMenu::Create(REFIID riid, void** ppv)
{
    *ppv = nullptr;
    OpenContainingFolderMenu* handler = new (std::nothrow) OpenContainingFolderMenu();
    if (!handler) return E_OUTOFMEMORY;
    HRESULT hr = handler->QueryInterface(riid, ppv);
    if (FAILED(hr)) delete handler;
    return hr;
}

// The identity (IUnknown) is the IShellExtInit pointer, as the shell has
// always been handed it by this class.
STDMETHODIMP OpenContainingFolderMenu::QueryInterface(REFIID riid, void** ppv)
{
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (IsEqualIID(riid, IID_IShellExtInit) || IsEqualIID(riid, IID_IUnknown))
        *ppv = static_cast<IShellExtInit*>(this);
    else if (IsEqualIID(riid, IID_IContextMenu))
        *ppv = static_cast<IContextMenu*>(this);
    else if (IsEqualIID(riid, IID_IExtractIconW))
        *ppv = static_cast<IExtractIconW*>(this);
    else if (IsEqualIID(riid, IID_IPersistFile))
        *ppv = static_cast<IPersistFile*>(this);
    else
        return E_NOINTERFACE;
    AddRef();
    return S_OK;
}

STDMETHODIMP_(ULONG) OpenContainingFolderMenu::AddRef() { return ++references_; }

STDMETHODIMP_(ULONG) OpenContainingFolderMenu::Release()
{
    ULONG left = --references_;
    if (left == 0) delete this;
    return left;
}

// The item goes in whatever the flags ask and whatever room idCmdLast leaves.
STDMETHODIMP OpenContainingFolderMenu::QueryContextMenu(HMENU hmenu, UINT indexMenu, UINT idCmdFirst, UINT, UINT)
{
    return ::QueryContextMenu(dataObject_.get(), hmenu, indexMenu, idCmdFirst);
}

STDMETHODIMP OpenContainingFolderMenu::InvokeCommand(CMINVOKECOMMANDINFO* lpici)
{
    return ::InvokeCommand(dataObject_.get(), lpici);
}

STDMETHODIMP OpenContainingFolderMenu::GetCommandString(UINT_PTR idCmd, UINT uType, UINT*, CHAR* pszName,
                                                        UINT cchMax)
{
    return ::GetCommandString(idCmd, uType, pszName, cchMax);
}

STDMETHODIMP OpenContainingFolderMenu::Initialize(PCIDLIST_ABSOLUTE, IDataObject* pdtobj, HKEY)
{
    dataObject_.hold(pdtobj);
    return S_OK;
}

STDMETHODIMP OpenContainingFolderMenu::GetIconLocation(UINT, LPWSTR, UINT, int*, UINT*) { return E_FAIL; }
STDMETHODIMP OpenContainingFolderMenu::Extract(LPCWSTR, UINT, HICON*, HICON*, UINT) { return S_FALSE; }

STDMETHODIMP OpenContainingFolderMenu::GetClassID(CLSID*) { return E_FAIL; }
STDMETHODIMP OpenContainingFolderMenu::IsDirty() { return S_FALSE; }
STDMETHODIMP OpenContainingFolderMenu::Load(LPCOLESTR, DWORD) { return E_FAIL; }
STDMETHODIMP OpenContainingFolderMenu::Save(LPCOLESTR, BOOL) { return E_FAIL; }
STDMETHODIMP OpenContainingFolderMenu::SaveCompleted(LPCOLESTR) { return E_FAIL; }
STDMETHODIMP OpenContainingFolderMenu::GetCurFile(LPOLESTR*) { return E_FAIL; }
