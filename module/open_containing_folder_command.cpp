#include "module/open_containing_folder_command.h"

#include <shlwapi.h>

#include "base/module_identity.h"
#include "command/invocation.h"
#include "command/menu.h"
#include "command/selection.h"
#include "module/module.h"
#include "shellns/holders.h"

OpenContainingFolderCommand::OpenContainingFolderCommand() { ModuleObjectCreated(); }
OpenContainingFolderCommand::~OpenContainingFolderCommand() { ModuleObjectDestroyed(); }

HRESULT OpenContainingFolderCommand::Create(REFIID riid, void** ppv)
{
    *ppv = nullptr;
    OpenContainingFolderCommand* command = new (std::nothrow) OpenContainingFolderCommand();
    if (!command) return E_OUTOFMEMORY;
    HRESULT hr = command->QueryInterface(riid, ppv);
    if (FAILED(hr)) delete command;
    return hr;
}

STDMETHODIMP OpenContainingFolderCommand::QueryInterface(REFIID riid, void** ppv)
{
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IExplorerCommand)) return E_NOINTERFACE;
    *ppv = static_cast<IExplorerCommand*>(this);
    AddRef();
    return S_OK;
}

STDMETHODIMP_(ULONG) OpenContainingFolderCommand::AddRef() { return ++references_; }

STDMETHODIMP_(ULONG) OpenContainingFolderCommand::Release()
{
    ULONG left = --references_;
    if (left == 0) delete this;
    return left;
}

// Every selection gets a title, the menu item's, or the file text where the
// menu shows nothing: the state, not the title, hides the command.
STDMETHODIMP OpenContainingFolderCommand::GetTitle(IShellItemArray* psiItemArray, LPWSTR* ppszName)
{
    if (!ppszName) return E_POINTER;
    *ppszName = nullptr;
    wchar_t text[COMMAND_TEXT_CAPACITY];
    bool found = false;
    {
        IdListHolder selection(ReadSingleItem(psiItemArray));
        found = CommandText(selection.get(), TextForm::Title, text);
    }
    if (!found && !LoadCommandText(false, TextForm::Title, text)) return E_FAIL;
    return SHStrDupW(text, ppszName);
}

STDMETHODIMP OpenContainingFolderCommand::GetIcon(IShellItemArray*, LPWSTR* ppszIcon)
{
    if (!ppszIcon) return E_POINTER;
    *ppszIcon = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP OpenContainingFolderCommand::GetToolTip(IShellItemArray*, LPWSTR* ppszInfotip)
{
    if (!ppszInfotip) return E_POINTER;
    *ppszInfotip = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP OpenContainingFolderCommand::GetCanonicalName(GUID* pguidCommandName)
{
    if (!pguidCommandName) return E_POINTER;
    *pguidCommandName = COMMAND_CANONICAL_NAME;
    return S_OK;
}

// The shell asks on every right-click of every item the package names, so
// only the item's path is read: the target is left for the title.
STDMETHODIMP OpenContainingFolderCommand::GetState(IShellItemArray* psiItemArray, BOOL, EXPCMDSTATE* pCmdState)
{
    if (!pCmdState) return E_POINTER;
    *pCmdState = ECS_HIDDEN;
    IdListHolder selection(ReadSingleItem(psiItemArray));
    if (SelectionIsShortcut(selection.get())) *pCmdState = ECS_ENABLED;
    return S_OK;
}

// Registered for every item type, the command cannot tell a search's result
// from an item in its own folder: it keeps to shortcuts, as its state says.
// The shell gives no window to own what it may show.
STDMETHODIMP OpenContainingFolderCommand::Invoke(IShellItemArray* psiItemArray, IBindCtx*)
{
    IdListHolder selection(ReadSingleItem(psiItemArray));
    if (!SelectionIsShortcut(selection.get())) return E_FAIL;
    return OpenTargetLocation(selection.get(), nullptr);
}

STDMETHODIMP OpenContainingFolderCommand::GetFlags(EXPCMDFLAGS* pFlags)
{
    if (!pFlags) return E_POINTER;
    *pFlags = ECF_DEFAULT;
    return S_OK;
}

STDMETHODIMP OpenContainingFolderCommand::EnumSubCommands(IEnumExplorerCommand** ppEnum)
{
    if (!ppEnum) return E_POINTER;
    *ppEnum = nullptr;
    return E_NOTIMPL;
}
