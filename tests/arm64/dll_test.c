/* Drives the ARM64 DLL through its four exports as regsvr32 and Explorer
   do, under arm64 Wine, where GoogleTest has no C++ runtime to build on:
   registration in a scratch registry, both classes from the factory, the
   menu item for a real shortcut through the shell's own data object, its
   pick starting the file manager, and the newer menu's command state; and
   the stack probe that the compiler calls before a large frame, which this
   build brings itself, on a stack that grows as Windows grows a thread's.
   One line per check, "ok: ..." or "FAILED: ..."; exit code 1 on any failure.

   Started under the name Norrvane.exe, this program is the stand-in file
   manager instead: it appends its own path, a tab and its command line, in
   UTF-16, to the file that NORRVANE_RECORD names.

   Calls into Wine's system DLLs pass integers and pointers only: a va_list
   or floating-point argument does not cross them as ARM64 Windows passes it.

   usage: dll_test DLL */
#define COBJMACROS
#define WIN32_LEAN_AND_MEAN
#define UNICODE
#define _UNICODE
#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>
#include <shobjidl.h>

static const CLSID kHandlerClass = {0x6b1f0c3e, 0x9a52, 0x4d17, {0x8e, 0x3b, 0x2c, 0x4f, 0x5a, 0x7d, 0x9e, 0x01}};
static const CLSID kCommandClass = {0x9e4c2a71, 0x3b5d, 0x4f68, {0xa0, 0xc9, 0x1d, 0x7e, 0x8b, 0x3f, 0x5a, 0x62}};
static const wchar_t kHandlerClassKey[] = L"CLSID\\{6b1f0c3e-9a52-4d17-8e3b-2c4f5a7d9e01}";
static const wchar_t kHandlerClassText[] = L"{6b1f0c3e-9a52-4d17-8e3b-2c4f5a7d9e01}";
static const wchar_t kStockClassText[] = L"{37ea3a21-7493-4208-a011-7f9ea79ce9f5}";
static const wchar_t kHandlerKey[] = L"lnkfile\\shellex\\ContextMenuHandlers\\OpenContainingFolderMenu";
static const wchar_t kResultsKey[] = L"Results\\shellex\\ContextMenuHandlers\\OpenContainingFolderMenu";
static const wchar_t kApprovalKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Shell Extensions\\Approved";
static const wchar_t kScratchKey[] = L"Software\\NorrvaneArm64Test";
/* The item's text in the display language, Japanese or for every other
   English, and the same without the access key: "ファイルの場所を開く(&I)"
   and "Open f&ile location". The verb is the Japanese title in every
   language. */
static const wchar_t kJapaneseMenuText[] = L"\u30D5\u30A1\u30A4\u30EB\u306E\u5834\u6240\u3092\u958B\u304F(&I)";
static const wchar_t kJapaneseTitle[] = L"\u30D5\u30A1\u30A4\u30EB\u306E\u5834\u6240\u3092\u958B\u304F";
static const wchar_t kEnglishMenuText[] = L"Open f&ile location";
static const wchar_t kEnglishTitle[] = L"Open file location";
static const wchar_t *kVerb = kJapaneseTitle;

static BOOL DisplayIsJapanese(void)
{
    return PRIMARYLANGID(GetUserDefaultUILanguage()) == LANG_JAPANESE;
}

static struct {
    HRESULT(STDAPICALLTYPE *canUnloadNow)(void);
    HRESULT(STDAPICALLTYPE *getClassObject)(REFCLSID, REFIID, void **);
    HRESULT(STDAPICALLTYPE *registerServer)(void);
    HRESULT(STDAPICALLTYPE *unregisterServer)(void);
} dll;

static int failures;

static void Print(const char *text)
{
    DWORD written;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text, lstrlenA(text), &written, NULL);
}

static void Check(BOOL passed, const char *what)
{
    Print(passed ? "ok: " : "FAILED: ");
    Print(what);
    Print("\n");
    if (!passed) ++failures;
}

static void CheckResult(HRESULT got, HRESULT expected, const char *what)
{
    char line[256];
    wsprintfA(line, "%s (0x%08X)", what, (unsigned)got);
    Check(got == expected, line);
}

/* The references an object holds, counted without changing them. */
static ULONG ReferencesOf(IUnknown *object)
{
    IUnknown_AddRef(object);
    return IUnknown_Release(object);
}

/* Creates the key `path` and, unless `text` is null, sets its value `name`. */
static void SetText(HKEY root, const wchar_t *path, const wchar_t *name, const wchar_t *text)
{
    HKEY key;
    if (RegCreateKeyExW(root, path, 0, NULL, 0, KEY_ALL_ACCESS, NULL, &key, NULL) != ERROR_SUCCESS) return;
    if (text) RegSetValueExW(key, name, 0, REG_SZ, (const BYTE *)text, (lstrlenW(text) + 1) * sizeof(wchar_t));
    RegCloseKey(key);
}

/* Reads a REG_SZ value into `text` (MAX_PATH characters); false when absent. */
static BOOL ReadText(HKEY root, const wchar_t *path, const wchar_t *name, wchar_t *text)
{
    DWORD bytes = MAX_PATH * sizeof(wchar_t);
    return RegGetValueW(root, path, name, RRF_RT_REG_SZ, NULL, text, &bytes) == ERROR_SUCCESS;
}

static BOOL TextIs(HKEY root, const wchar_t *path, const wchar_t *name, const wchar_t *expected)
{
    wchar_t text[MAX_PATH];
    return ReadText(root, path, name, text) && lstrcmpW(text, expected) == 0;
}

static BOOL KeyExists(HKEY root, const wchar_t *path)
{
    HKEY key;
    if (RegOpenKeyExW(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return FALSE;
    RegCloseKey(key);
    return TRUE;
}

/* What regsvr32 does, against HKEY_CLASSES_ROOT and HKEY_LOCAL_MACHINE
   turned to scratch keys of this user that hold what Windows holds. */
static void CheckRegistration(const wchar_t *dllPath)
{
    wchar_t path[MAX_PATH];
    HKEY classes, machine;
    RegDeleteTreeW(HKEY_CURRENT_USER, kScratchKey);
    wsprintfW(path, L"%s\\HKCR", kScratchKey);
    RegCreateKeyExW(HKEY_CURRENT_USER, path, 0, NULL, 0, KEY_ALL_ACCESS, NULL, &classes, NULL);
    wsprintfW(path, L"%s\\HKLM", kScratchKey);
    RegCreateKeyExW(HKEY_CURRENT_USER, path, 0, NULL, 0, KEY_ALL_ACCESS, NULL, &machine, NULL);
    RegOverridePredefKey(HKEY_CLASSES_ROOT, classes);
    RegOverridePredefKey(HKEY_LOCAL_MACHINE, machine);
    SetText(HKEY_CLASSES_ROOT, kHandlerKey, NULL, kStockClassText);
    SetText(HKEY_CLASSES_ROOT, kResultsKey, NULL, kStockClassText);
    SetText(HKEY_CLASSES_ROOT, L"CLSID", NULL, NULL);
    SetText(HKEY_LOCAL_MACHINE, kApprovalKey, NULL, NULL);

    CheckResult(dll.registerServer(), S_OK, "DllRegisterServer");
    Check(TextIs(HKEY_CLASSES_ROOT, kHandlerKey, NULL, kHandlerClassText), "the shortcut handler key names our class");
    Check(TextIs(HKEY_CLASSES_ROOT, kResultsKey, NULL, kHandlerClassText), "the search results' key names our class");
    wsprintfW(path, L"%s\\InProcServer32", kHandlerClassKey);
    Check(TextIs(HKEY_CLASSES_ROOT, path, NULL, dllPath), "the class's server is this DLL");
    Check(TextIs(HKEY_CLASSES_ROOT, path, L"ThreadingModel", L"Apartment"), "the class is apartment-threaded");
    CheckResult(dll.unregisterServer(), S_OK, "DllUnregisterServer");
    Check(TextIs(HKEY_CLASSES_ROOT, kHandlerKey, NULL, kStockClassText), "the stock handler's class is written back");
    Check(TextIs(HKEY_CLASSES_ROOT, kResultsKey, NULL, kStockClassText), "and to the search results' key");
    Check(!KeyExists(HKEY_CLASSES_ROOT, kHandlerClassKey), "the class key is gone");

    RegOverridePredefKey(HKEY_CLASSES_ROOT, NULL);
    RegOverridePredefKey(HKEY_LOCAL_MACHINE, NULL);
    RegCloseKey(classes);
    RegCloseKey(machine);
    RegDeleteTreeW(HKEY_CURRENT_USER, kScratchKey);
}

static void SaveShortcut(const wchar_t *path, const wchar_t *target)
{
    IShellLinkW *link = NULL;
    IPersistFile *file = NULL;
    CoCreateInstance(&CLSID_ShellLink, NULL, CLSCTX_INPROC_SERVER, &IID_IShellLinkW, (void **)&link);
    if (link && SUCCEEDED(IShellLinkW_SetPath(link, target)) &&
        SUCCEEDED(IShellLinkW_QueryInterface(link, &IID_IPersistFile, (void **)&file))) {
        IPersistFile_Save(file, path, TRUE);
        IPersistFile_Release(file);
    }
    if (link) IShellLinkW_Release(link);
}

/* The data object the shell makes for the one item at `path`. */
static IDataObject *DataObjectFor(const wchar_t *path)
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
    CoTaskMemFree(item);
    return data;
}

static void *NewObject(const CLSID *clsid, const IID *iid)
{
    IClassFactory *factory;
    void *object = NULL;
    if (FAILED(dll.getClassObject(clsid, &IID_IClassFactory, (void **)&factory))) return NULL;
    IClassFactory_CreateInstance(factory, NULL, iid, &object);
    IClassFactory_Release(factory);
    return object;
}

/* Waits up to a minute for the stand-in to record its start in `record`,
   and compares the line with `expected`. */
static BOOL RecordedStartIs(const wchar_t *record, const wchar_t *expected)
{
    static wchar_t line[3 * MAX_PATH];
    for (int waited = 0; waited < 600; ++waited) {
        HANDLE file = CreateFileW(record, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, NULL);
        DWORD read = 0;
        if (file != INVALID_HANDLE_VALUE) {
            ReadFile(file, line, sizeof line - sizeof(wchar_t), &read, NULL);
            CloseHandle(file);
        }
        line[read / sizeof(wchar_t)] = L'\0';
        if (read > 0) return lstrcmpW(line, expected) == 0;
        Sleep(100);
    }
    return FALSE;
}

/* A right-click on the item at `item` and the pick of the menu item, as
   Explorer makes them: the file manager `fileManager` must select `target`
   (a shortcut's target, or a plain file itself). */
static void CheckMenu(const wchar_t *item, const wchar_t *target, const wchar_t *fileManager,
                      const wchar_t *record)
{
    IDataObject *data = DataObjectFor(item);
    Check(data != NULL, "the shell's data object for the item");
    IShellExtInit *init = NewObject(&kHandlerClass, &IID_IShellExtInit);
    Check(init != NULL, "the factory makes the handler");
    if (!data || !init) return;
    const ULONG references = ReferencesOf((IUnknown *)data);
    CheckResult(IShellExtInit_Initialize(init, NULL, data, NULL), S_OK, "IShellExtInit::Initialize");
    IContextMenu *handler;
    IShellExtInit_QueryInterface(init, &IID_IContextMenu, (void **)&handler);
    IShellExtInit_Release(init);
    CheckResult(dll.canUnloadNow(), S_FALSE, "DllCanUnloadNow while the handler lives");

    HMENU menu = CreatePopupMenu();
    CheckResult(IContextMenu_QueryContextMenu(handler, menu, 0, 1, 0x7FFF, CMF_NORMAL), 1,
                "QueryContextMenu inserts one item");
    wchar_t text[64] = L"";
    GetMenuStringW(menu, 0, text, 64, MF_BYPOSITION);
    Check(lstrcmpW(text, DisplayIsJapanese() ? kJapaneseMenuText : kEnglishMenuText) == 0,
          "the item's text, in the display language");
    wchar_t verb[64] = L"";
    CheckResult(IContextMenu_GetCommandString(handler, 0, GCS_VERBW, NULL, (CHAR *)verb, 64), S_OK, "GetCommandString");
    Check(lstrcmpW(verb, kVerb) == 0, "the verb, the same in every language");
    CMINVOKECOMMANDINFO info = {0};
    info.cbSize = sizeof info;
    info.lpVerb = MAKEINTRESOURCEA(GetMenuItemID(menu, 0) - 1);
    info.nShow = SW_SHOWNORMAL;
    CheckResult(IContextMenu_InvokeCommand(handler, &info), S_OK, "InvokeCommand");
    wchar_t expected[3 * MAX_PATH];
    wsprintfW(expected, L"%s\t\"%s\" /select,%s", fileManager, fileManager, target);
    Check(RecordedStartIs(record, expected), "the file manager started with the target selected");
    DeleteFileW(record);
    DestroyMenu(menu);

    IContextMenu_Release(handler);
    Check(ReferencesOf((IUnknown *)data) == references, "the handler gave back its references to the data object");
    IDataObject_Release(data);
}

/* The newer context menu's question for each right-click: show the command
   for `item`? */
static void CheckCommandState(const wchar_t *item, EXPCMDSTATE expected, const char *what)
{
    IExplorerCommand *command = NewObject(&kCommandClass, &IID_IExplorerCommand);
    IDataObject *data = DataObjectFor(item);
    IShellItemArray *items = NULL;
    if (data) SHCreateShellItemArrayFromDataObject(data, &IID_IShellItemArray, (void **)&items);
    Check(command && items, "the factory makes the command; the shell makes the item array");
    if (command && items) {
        EXPCMDSTATE state = ECS_DISABLED;
        CheckResult(IExplorerCommand_GetState(command, items, FALSE, &state), S_OK, "IExplorerCommand::GetState");
        Check(state == expected, what);
        LPWSTR title = NULL;
        IExplorerCommand_GetTitle(command, items, &title);
        Check(title && lstrcmpW(title, DisplayIsJapanese() ? kJapaneseTitle : kEnglishTitle) == 0,
              "the command's title, in the display language");
        CoTaskMemFree(title);
    }
    if (items) IShellItemArray_Release(items);
    if (data) IDataObject_Release(data);
    if (command) IExplorerCommand_Release(command);
}

/* Windows commits a thread's stack as it grows: below the pages in use lies
   one guard page, and below that reserved pages that fault when touched.
   The first touch of the guard page commits it and makes the page below it
   the guard, so a frame larger than a page must be probed page by page, from
   the top down. Wine commits a thread's whole stack at its start, where a
   probe that steps over pages is never seen: so a thread here gives back the
   pages below its own frame but a few, and puts a guard page below them,
   which Wine then moves down as Windows does. A page reached past the guard
   faults; the handler counts it and commits it, so that the thread goes on. */
#define PAGE 4096
enum { kKeptPages = 4, kGivenBackPages = 32 };
static char *givenBackLow, *givenBackHigh;
static volatile LONG pagesSkipped;

static LONG CALLBACK CountSkippedPage(EXCEPTION_POINTERS *exception)
{
    const EXCEPTION_RECORD *record = exception->ExceptionRecord;
    char *address = record->NumberParameters >= 2 ? (char *)record->ExceptionInformation[1] : NULL;
    if (record->ExceptionCode != EXCEPTION_ACCESS_VIOLATION || address < givenBackLow || address >= givenBackHigh)
        return EXCEPTION_CONTINUE_SEARCH;
    ++pagesSkipped;
    VirtualAlloc((void *)((ULONG_PTR)address & ~(ULONG_PTR)(PAGE - 1)), PAGE, MEM_COMMIT, PAGE_READWRITE);
    return EXCEPTION_CONTINUE_EXECUTION;
}

/* Sixteen pages, which the compiler probes before it takes them; an index
   it cannot know keeps the frame whole. */
static volatile int lastByte = 16 * PAGE - 1;
static __attribute__((noinline)) int LargeFrame(void)
{
    volatile char frame[16 * PAGE];
    const int last = lastByte;
    frame[0] = 1;
    frame[last] = 2;
    return frame[0] + frame[last];
}

/* In a thread of its own: the growable stack below this frame, then a large
   frame on it, or (`parameter` not null) a touch two pages past the guard,
   which shows that a skipped page is seen at all. */
static DWORD WINAPI ProbeOnGrowableStack(void *parameter)
{
    char here;
    char *guard = (char *)((ULONG_PTR)&here & ~(ULONG_PTR)(PAGE - 1)) - (kKeptPages + 1) * PAGE;
    givenBackHigh = guard;
    givenBackLow = guard - kGivenBackPages * PAGE;
    if (!VirtualFree(givenBackLow, kGivenBackPages * PAGE, MEM_DECOMMIT) ||
        !VirtualAlloc(guard, PAGE, MEM_COMMIT, PAGE_READWRITE | PAGE_GUARD))
        return 1;
    if (parameter)
        *(volatile char *)(guard - 2 * PAGE) = 1;
    else if (LargeFrame() != 3)
        return 1;
    return 0;
}

static LONG PagesSkippedOnGrowableStack(BOOL skipDeliberately)
{
    pagesSkipped = 0;
    HANDLE thread = CreateThread(NULL, 0, ProbeOnGrowableStack, (void *)(ULONG_PTR)skipDeliberately, 0, NULL);
    DWORD result = 1;
    if (thread) {
        WaitForSingleObject(thread, INFINITE);
        GetExitCodeThread(thread, &result);
        CloseHandle(thread);
    }
    return result == 0 ? pagesSkipped : -1;
}

static void CheckStackProbe(void)
{
    void *handler = AddVectoredExceptionHandler(1, CountSkippedPage);
    Check(PagesSkippedOnGrowableStack(TRUE) == 1, "a page touched past the guard page of a growing stack faults");
    Check(PagesSkippedOnGrowableStack(FALSE) == 0,
          "the stack probe touches every page of a large frame in order, none past the guard page");
    RemoveVectoredExceptionHandler(handler);
}

/* The stand-in file manager's part: one write, so that a reader never sees
   half a line. */
static UINT RecordStart(const wchar_t *self)
{
    static wchar_t line[3 * MAX_PATH];
    wchar_t record[MAX_PATH];
    const DWORD length = GetEnvironmentVariableW(L"NORRVANE_RECORD", record, MAX_PATH);
    if (length == 0 || length >= MAX_PATH || lstrlenW(self) + lstrlenW(GetCommandLineW()) + 2 > 3 * MAX_PATH) return 1;
    wsprintfW(line, L"%s\t%s", self, GetCommandLineW());
    HANDLE file = CreateFileW(record, FILE_APPEND_DATA, FILE_SHARE_READ, NULL, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    DWORD written = 0;
    const BOOL wrote = file != INVALID_HANDLE_VALUE && WriteFile(file, line, lstrlenW(line) * sizeof(wchar_t), &written, NULL);
    CloseHandle(file);
    return wrote ? 0 : 1;
}

static UINT RunChecks(const wchar_t *dllPath)
{
    HMODULE module = LoadLibraryW(dllPath);
    Check(module != NULL, "LoadLibraryW loads the DLL");
    if (!module) return 1;
    dll.canUnloadNow = (void *)GetProcAddress(module, "DllCanUnloadNow");
    dll.getClassObject = (void *)GetProcAddress(module, "DllGetClassObject");
    dll.registerServer = (void *)GetProcAddress(module, "DllRegisterServer");
    dll.unregisterServer = (void *)GetProcAddress(module, "DllUnregisterServer");
    Check(dll.canUnloadNow && dll.getClassObject && dll.registerServer && dll.unregisterServer,
          "the four entry points are exported");
    if (failures) return 1;
    wchar_t modulePath[MAX_PATH];
    GetModuleFileNameW(module, modulePath, MAX_PATH);
    CheckRegistration(modulePath);

    void *factory = NULL;
    CheckResult(dll.getClassObject(&IID_IUnknown, &IID_IClassFactory, &factory), CLASS_E_CLASSNOTAVAILABLE,
                "DllGetClassObject refuses a class it does not serve");

    /* A file, a shortcut to it and the stand-in in a folder of this run. */
    static wchar_t folder[MAX_PATH], target[MAX_PATH], shortcut[MAX_PATH], fileManager[MAX_PATH],
        record[MAX_PATH], self[MAX_PATH];
    GetTempPathW(MAX_PATH, folder);
    wsprintfW(folder + lstrlenW(folder), L"norrvane-arm64-%u", (unsigned)GetCurrentProcessId());
    CreateDirectoryW(folder, NULL);
    wsprintfW(target, L"%s\\Report, final.txt", folder);
    wsprintfW(shortcut, L"%s\\to file.lnk", folder);
    wsprintfW(fileManager, L"%s\\Norrvane.exe", folder);
    wsprintfW(record, L"%s\\record.txt", folder);
    CloseHandle(CreateFileW(target, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL));
    GetModuleFileNameW(NULL, self, MAX_PATH);
    CopyFileW(self, fileManager, FALSE);
    SetEnvironmentVariableW(L"NORRVANE_RECORD", record);
    SaveShortcut(shortcut, target);

    /* The file manager's verb as Folder\shell names it. */
    wchar_t savedVerb[MAX_PATH], command[2 * MAX_PATH];
    const BOOL hadVerb = ReadText(HKEY_CLASSES_ROOT, L"Folder\\shell", NULL, savedVerb);
    wsprintfW(command, L"\"%s\" \"%%1\"", fileManager);
    SetText(HKEY_CLASSES_ROOT, L"Folder\\shell", NULL, L"Norrvane");
    SetText(HKEY_CLASSES_ROOT, L"Folder\\shell\\Norrvane\\command", NULL, command);

    CheckMenu(shortcut, target, fileManager, record);
    CheckMenu(target, target, fileManager, record);
    CheckCommandState(shortcut, ECS_ENABLED, "the command shows for one shortcut");
    CheckCommandState(target, ECS_HIDDEN, "the command hides for a plain file");
    CheckResult(dll.canUnloadNow(), S_OK, "DllCanUnloadNow once everything is released");

    RegDeleteTreeW(HKEY_CLASSES_ROOT, L"Folder\\shell\\Norrvane");
    if (hadVerb)
        SetText(HKEY_CLASSES_ROOT, L"Folder\\shell", NULL, savedVerb);
    else
        RegDeleteKeyValueW(HKEY_CLASSES_ROOT, L"Folder\\shell", NULL);
    const wchar_t *made[] = {shortcut, target, fileManager, record};
    for (int i = 0; i < 4; ++i) DeleteFileW(made[i]);
    RemoveDirectoryW(folder);
    FreeLibrary(module);
    return failures ? 1 : 0;
}

void Start(void)
{
    wchar_t self[MAX_PATH];
    const DWORD length = GetModuleFileNameW(NULL, self, MAX_PATH);
    if (length > 13 && lstrcmpiW(self + length - 13, L"\\Norrvane.exe") == 0) ExitProcess(RecordStart(self));

    int argc = 0;
    wchar_t **argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (argc != 2) {
        Print("usage: dll_test DLL\n");
        ExitProcess(2);
    }
    CoInitializeEx(NULL, COINIT_APARTMENTTHREADED);
    const UINT result = RunChecks(argv[1]);
    CoUninitialize();
    LocalFree(argv);
    CheckStackProbe();
    ExitProcess(result || failures ? 1 : 0);
}
