/* Checks what a user meets on a Windows where NorrvaneShLnk is installed:
   the context menu that the shell itself makes for a shortcut, which loads
   every handler registered for it as Explorer does, and the packaged
   command, activated out of process as Explorer activates it. Written in C
   without the C runtime, so that the ARM64 build has it too. One line per
   check, "ok: ...", "FAILED: ..." or "note: ...", in UTF-8; exit code 1 on
   any failure.

   usage: shell_check menu shell|registered LNK [PROGRAM TARGET]
            LNK's menu holds our item, found by its canonical verb, with the
            text of this display language; given PROGRAM (the stand-in file
            manager that the folders' verb names) and TARGET (the shortcut's
            target), the item is picked and PROGRAM must start with the
            command line "PROGRAM" /select,TARGET
          shell_check no-item shell|registered LNK
            LNK's menu holds no open-location item at all, ours or another
          shell_check command LNK
            the packaged command class, activated out of process, shows for
            LNK with its title; exit code 2 when this system does not let
            this program activate it
   Exit code 64 for a command line it does not take. "registered" makes the handler that the shortcut class's key names
   instead of asking the shell for its menu: Wine's shell loads no
   handlers. */
#define COBJMACROS
#define WIN32_LEAN_AND_MEAN
#define UNICODE
#define _UNICODE
#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>
#include <shobjidl.h>

static const CLSID kCommandClass = {0x9e4c2a71, 0x3b5d, 0x4f68, {0xa0, 0xc9, 0x1d, 0x7e, 0x8b, 0x3f, 0x5a, 0x62}};
static const wchar_t kHandlerKey[] = L"lnkfile\\shellex\\ContextMenuHandlers\\OpenContainingFolderMenu";
/* The canonical verb, the same on every display language:
   "ファイルの場所を開く". */
static const wchar_t kVerb[] = L"\u30D5\u30A1\u30A4\u30EB\u306E\u5834\u6240\u3092\u958B\u304F";
/* What an open-location item reads as, without its access key, ours or the
   stock one, in the languages that Windows' runners and ours show. */
static const wchar_t *const kOpenLocationTexts[] = {
    L"\u30D5\u30A1\u30A4\u30EB\u306E\u5834\u6240\u3092\u958B\u304F",
    L"\u30D5\u30A9\u30EB\u30C0\u30FC\u306E\u5834\u6240\u3092\u958B\u304F",
    L"Open file location",
    L"Open folder location",
};

static int failures;

static void PrintUtf8(const wchar_t *text)
{
    static char bytes[4 * 1024];
    const int length = WideCharToMultiByte(CP_UTF8, 0, text, -1, bytes, sizeof bytes, NULL, NULL);
    DWORD written;
    if (length > 1) WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), bytes, (DWORD)(length - 1), &written, NULL);
}

static void Line(const wchar_t *kind, const wchar_t *what)
{
    PrintUtf8(kind);
    PrintUtf8(what);
    PrintUtf8(L"\n");
}

static void Check(BOOL passed, const wchar_t *what)
{
    Line(passed ? L"ok: " : L"FAILED: ", what);
    if (!passed) ++failures;
}

/* The texts our item shows on the display language `language`: the menu
   text for a shortcut to a file and the command's title, Japanese for a
   Japanese display language and English for every other. */
static void ExpectedTexts(LANGID language, const wchar_t **menuText, const wchar_t **title)
{
    if (PRIMARYLANGID(language) == LANG_JAPANESE) {
        *menuText = L"\u30D5\u30A1\u30A4\u30EB\u306E\u5834\u6240\u3092\u958B\u304F(&I)";
        *title = L"\u30D5\u30A1\u30A4\u30EB\u306E\u5834\u6240\u3092\u958B\u304F";
    } else {
        *menuText = L"Open f&ile location";
        *title = L"Open file location";
    }
}

/* `text` without its access key: "(&X)" and a lone '&' go; "&&" stays '&'. */
static void WithoutAccessKey(const wchar_t *text, wchar_t *plain, int capacity)
{
    int out = 0;
    for (int i = 0; text[i] && out < capacity - 1; ++i) {
        if (text[i] == L'(' && text[i + 1] == L'&' && text[i + 2] && text[i + 3] == L')') {
            i += 3;
            continue;
        }
        if (text[i] == L'&') {
            if (text[i + 1] != L'&') continue;
            ++i;
        }
        plain[out++] = text[i];
    }
    while (out > 0 && plain[out - 1] == L' ') --out;
    plain[out] = L'\0';
}

static BOOL ReadsAsOpenLocation(const wchar_t *text)
{
    wchar_t plain[256];
    WithoutAccessKey(text, plain, 256);
    for (int i = 0; i < (int)(sizeof kOpenLocationTexts / sizeof kOpenLocationTexts[0]); ++i)
        if (lstrcmpiW(plain, kOpenLocationTexts[i]) == 0) return TRUE;
    return FALSE;
}

/* The shell's data object for the one item at `path`, and the absolute list
   of its folder. */
static IDataObject *DataObjectFor(const wchar_t *path, PIDLIST_ABSOLUTE *folder)
{
    PIDLIST_ABSOLUTE item;
    IShellFolder *parent;
    PCUITEMID_CHILD child;
    IDataObject *data = NULL;
    if (FAILED(SHParseDisplayName(path, NULL, &item, 0, NULL))) return NULL;
    if (SUCCEEDED(SHBindToParent(item, &IID_IShellFolder, (void **)&parent, &child))) {
        IShellFolder_GetUIObjectOf(parent, NULL, 1, &child, &IID_IDataObject, NULL, (void **)&data);
        IShellFolder_Release(parent);
    }
    if (data && folder) {
        ILRemoveLastID((LPITEMIDLIST)item);
        *folder = item;
    } else {
        CoTaskMemFree(item);
    }
    return data;
}

/* The shell's own context menu for the item at `path`: its folder's, with
   every handler registered for the item's classes. */
static IContextMenu *ShellMenuFor(const wchar_t *path)
{
    PIDLIST_ABSOLUTE item;
    IShellFolder *parent;
    PCUITEMID_CHILD child;
    IContextMenu *menu = NULL;
    if (FAILED(SHParseDisplayName(path, NULL, &item, 0, NULL))) return NULL;
    if (SUCCEEDED(SHBindToParent(item, &IID_IShellFolder, (void **)&parent, &child))) {
        IShellFolder_GetUIObjectOf(parent, NULL, 1, &child, &IID_IContextMenu, NULL, (void **)&menu);
        IShellFolder_Release(parent);
    }
    CoTaskMemFree(item);
    return menu;
}

/* The handler that the shortcut class's key names, made and initialised as
   the shell makes it. */
static IContextMenu *RegisteredHandlerFor(const wchar_t *path)
{
    wchar_t clsidText[64];
    DWORD bytes = sizeof clsidText;
    CLSID clsid;
    IShellExtInit *init = NULL;
    IContextMenu *menu = NULL;
    if (RegGetValueW(HKEY_CLASSES_ROOT, kHandlerKey, NULL, RRF_RT_REG_SZ, NULL, clsidText, &bytes) != ERROR_SUCCESS ||
        FAILED(CLSIDFromString(clsidText, &clsid)))
        return NULL;
    if (FAILED(CoCreateInstance(&clsid, NULL, CLSCTX_INPROC_SERVER, &IID_IShellExtInit, (void **)&init))) return NULL;
    PIDLIST_ABSOLUTE folder = NULL;
    IDataObject *data = DataObjectFor(path, &folder);
    if (data && SUCCEEDED(IShellExtInit_Initialize(init, folder, data, NULL)))
        IShellExtInit_QueryInterface(init, &IID_IContextMenu, (void **)&menu);
    if (data) IDataObject_Release(data);
    CoTaskMemFree(folder);
    IShellExtInit_Release(init);
    return menu;
}

enum { kFirstId = 1, kLastId = 0x7FFF };

/* The position of the first item in `menu` whose canonical verb is ours,
   or -1; every item is listed on the way. `openLocation` says whether any
   item reads as an open-location item. */
static int FindOurItem(IContextMenu *handler, HMENU menu, BOOL *openLocation)
{
    int ours = -1;
    const int count = GetMenuItemCount(menu);
    *openLocation = FALSE;
    for (int position = 0; position < count; ++position) {
        static wchar_t text[256], verb[128], line[512];
        text[0] = verb[0] = L'\0';
        GetMenuStringW(menu, position, text, 256, MF_BYPOSITION);
        const UINT id = GetMenuItemID(menu, position);
        if (id >= kFirstId && id <= kLastId &&
            FAILED(IContextMenu_GetCommandString(handler, id - kFirstId, GCS_VERBW, NULL, (LPSTR)verb, 128)))
            verb[0] = L'\0';
        wsprintfW(line, L"menu item %d: \"%s\", verb \"%s\"", position, text, verb);
        Line(L"note: ", line);
        if (ours < 0 && lstrcmpW(verb, kVerb) == 0) ours = position;
        if (ReadsAsOpenLocation(text)) *openLocation = TRUE;
    }
    return ours;
}

/* Waits up to a minute for the stand-in to record its start in `record`
   (one UTF-8 line), and compares the line with `expected`. */
static BOOL RecordedStartIs(const wchar_t *record, const wchar_t *expected)
{
    static char bytes[4 * MAX_PATH];
    static wchar_t line[4 * MAX_PATH], shown[5 * MAX_PATH];
    for (int waited = 0; waited < 600; ++waited) {
        HANDLE file = CreateFileW(record, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, NULL);
        DWORD read = 0;
        if (file != INVALID_HANDLE_VALUE) {
            ReadFile(file, bytes, sizeof bytes - 1, &read, NULL);
            CloseHandle(file);
        }
        if (read > 0 && bytes[read - 1] == '\n') {
            const int length = MultiByteToWideChar(CP_UTF8, 0, bytes, (int)read - 1, line, 4 * MAX_PATH - 1);
            line[length > 0 ? length : 0] = L'\0';
            wsprintfW(shown, L"started: %s", line);
            Line(L"note: ", shown);
            return lstrcmpW(line, expected) == 0;
        }
        Sleep(100);
    }
    Line(L"note: ", L"nothing was started within a minute");
    return FALSE;
}

static IContextMenu *MenuFor(const wchar_t *source, const wchar_t *path)
{
    if (lstrcmpW(source, L"shell") == 0) return ShellMenuFor(path);
    if (lstrcmpW(source, L"registered") == 0) return RegisteredHandlerFor(path);
    return NULL;
}

static int CheckMenu(const wchar_t *source, const wchar_t *shortcut, const wchar_t *program, const wchar_t *target,
                     BOOL oursExpected)
{
    static wchar_t what[1024];
    IContextMenu *handler = MenuFor(source, shortcut);
    wsprintfW(what, L"the context menu for %s (%s)", shortcut, source);
    Check(handler != NULL, what);
    if (!handler) return 1;
    HMENU menu = CreatePopupMenu();
    const HRESULT queried = IContextMenu_QueryContextMenu(handler, menu, 0, kFirstId, kLastId, CMF_NORMAL);
    wsprintfW(what, L"QueryContextMenu (0x%08X)", (unsigned)queried);
    Check(SUCCEEDED(queried), what);
    BOOL openLocation = FALSE;
    const int ours = FindOurItem(handler, menu, &openLocation);
    if (!oursExpected) {
        Check(ours < 0 && !openLocation, L"no open-location item, neither ours nor another");
    } else {
        Check(ours >= 0, L"our item, found by its canonical verb");
        if (ours >= 0) {
            const wchar_t *menuText, *title;
            static wchar_t text[256];
            const LANGID language = GetUserDefaultUILanguage();
            ExpectedTexts(language, &menuText, &title);
            GetMenuStringW(menu, ours, text, 256, MF_BYPOSITION);
            wsprintfW(what, L"its text is \"%s\", as display language 0x%04X shows it", menuText, (unsigned)language);
            Check(lstrcmpW(text, menuText) == 0, what);
        }
        if (ours >= 0 && program) {
            static wchar_t record[MAX_PATH], expected[4 * MAX_PATH];
            GetTempPathW(MAX_PATH, record);
            wsprintfW(record + lstrlenW(record), L"norrvane-shell-check-%u.txt", (unsigned)GetCurrentProcessId());
            DeleteFileW(record);
            /* The stand-in inherits this program's environment through the DLL. */
            SetEnvironmentVariableW(L"NORRVANE_RECORD", record);
            CMINVOKECOMMANDINFO info = {0};
            info.cbSize = sizeof info;
            info.lpVerb = MAKEINTRESOURCEA(GetMenuItemID(menu, ours) - kFirstId);
            info.nShow = SW_SHOWNORMAL;
            const HRESULT invoked = IContextMenu_InvokeCommand(handler, &info);
            wsprintfW(what, L"picking it (0x%08X)", (unsigned)invoked);
            Check(invoked == S_OK, what);
            wsprintfW(expected, L"%s\t\"%s\" /select,%s", program, program, target);
            wsprintfW(what, L"it started \"%s\" /select,%s", program, target);
            Check(invoked == S_OK && RecordedStartIs(record, expected), what);
            DeleteFileW(record);
        }
    }
    DestroyMenu(menu);
    IContextMenu_Release(handler);
    return failures ? 1 : 0;
}

static int CheckCommand(const wchar_t *shortcut)
{
    static wchar_t what[512];
    IExplorerCommand *command = NULL;
    const HRESULT made =
        CoCreateInstance(&kCommandClass, NULL, CLSCTX_LOCAL_SERVER, &IID_IExplorerCommand, (void **)&command);
    if (FAILED(made)) {
        wsprintfW(what, L"this program cannot activate the packaged class out of process (0x%08X)", (unsigned)made);
        Line(L"note: ", what);
        return 2;
    }
    Line(L"ok: ", L"the packaged class activates out of process");
    IDataObject *data = DataObjectFor(shortcut, NULL);
    IShellItemArray *items = NULL;
    if (data) SHCreateShellItemArrayFromDataObject(data, &IID_IShellItemArray, (void **)&items);
    Check(items != NULL, L"the shell's item array for the shortcut");
    if (items) {
        const wchar_t *menuText, *title;
        ExpectedTexts(GetUserDefaultUILanguage(), &menuText, &title);
        EXPCMDSTATE state = ECS_DISABLED;
        const HRESULT stated = IExplorerCommand_GetState(command, items, FALSE, &state);
        wsprintfW(what, L"it shows for the shortcut (0x%08X, state %u)", (unsigned)stated, (unsigned)state);
        Check(stated == S_OK && state == ECS_ENABLED, what);
        LPWSTR got = NULL;
        IExplorerCommand_GetTitle(command, items, &got);
        wsprintfW(what, L"its title is \"%s\"", title);
        Check(got && lstrcmpW(got, title) == 0, what);
        CoTaskMemFree(got);
        IShellItemArray_Release(items);
    }
    if (data) IDataObject_Release(data);
    IExplorerCommand_Release(command);
    return failures ? 1 : 0;
}

static int Run(void)
{
    int argc = 0;
    wchar_t **argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    int result = 64;
    CoInitializeEx(NULL, COINIT_APARTMENTTHREADED);
    if (argc == 4 && lstrcmpW(argv[1], L"menu") == 0)
        result = CheckMenu(argv[2], argv[3], NULL, NULL, TRUE);
    else if (argc == 6 && lstrcmpW(argv[1], L"menu") == 0)
        result = CheckMenu(argv[2], argv[3], argv[4], argv[5], TRUE);
    else if (argc == 4 && lstrcmpW(argv[1], L"no-item") == 0)
        result = CheckMenu(argv[2], argv[3], NULL, NULL, FALSE);
    else if (argc == 3 && lstrcmpW(argv[1], L"command") == 0)
        result = CheckCommand(argv[2]);
    else
        PrintUtf8(L"usage: shell_check menu shell|registered LNK [PROGRAM TARGET]\n"
                  L"       shell_check no-item shell|registered LNK\n"
                  L"       shell_check command LNK\n");
    CoUninitialize();
    LocalFree(argv);
    return result;
}

#ifdef NORRVANE_NO_C_RUNTIME
void Start(void) { ExitProcess((UINT)Run()); }
#else
int main(void) { return Run(); }
#endif
