// Measures what a right-click costs with the open-location handler, against
// the shell work that the same answer needs anyway.
//
// In a scratch folder it saves shortcuts to a file, to a folder, to "My
// Computer" and to a file it then deletes, and it takes a plain file and a
// symbolic link to a folder (a Unix link under Wine, which shows it as a
// plain folder). For each it times, interleaved in one run so that drift hits
// both alike:
//   handler  the handler's QueryContextMenu on the shell's own data object;
//   floor    the shell calls that answer needs, made directly: the selection
//            from the data object (its clipboard format looked up once), the
//            item's parsing name, parsed back and named again, its path; for
//            a shortcut its folder, its link, the target's list, the target's
//            folder and attributes; for anything else the file attributes
//            (and for a symbolic link its tag, its final path and that path's
//            list) and the located item's folder and attributes; and the same
//            InsertMenuW, with a fixed text: loading the text in the user's
//            language is the handler's own cost.
// The item inserted is taken out again outside the timed region.
//
// Then the command of the newer menu: for a plain file, a shortcut and two
// shortcuts it times, interleaved likewise, on the item array made once
// from the shell's data object, as the shell holds it:
//   command  the command's GetState;
//   floor    the shell calls that answer needs, made directly: the count
//            and, for one item, the item, its list, its path and the
//            extension test.
// These calls are short, so each sample is a batch of calls.
//
// It also times the decision and composition of an invocation's command
// line (nothing is started) and the registry read of the file manager, and
// shows the DLL's size and the DLLs it imports.
//
// usage: bench DLL [ITERATIONS]
#include <windows.h>
#include <shlobj.h>
#include <shellapi.h>
#include <shobjidl.h>

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "base/module_identity.h"
#include "command/file_manager.h"
#include "command/invocation.h"
#include "command/menu.h"
#include "symbolic_link.h"
#include "utf8.h"

namespace {

const int kDefaultIterations = 3000;
const int kWarmUpIterations = 200;
// Calls per sample for the invocation decision, too quick to time one by one.
const int kBatch = 100;

LARGE_INTEGER frequency;

LONGLONG Now()
{
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

double Microseconds(LONGLONG ticks) { return 1e6 * static_cast<double>(ticks) / frequency.QuadPart; }

double Median(std::vector<double> samples)
{
    if (samples.empty()) return 0;
    const size_t middle = samples.size() / 2;
    std::nth_element(samples.begin(), samples.begin() + middle, samples.end());
    return samples[middle];
}

[[noreturn]] void Fail(const char* what, HRESULT status)
{
    std::fprintf(stderr, "bench: %s failed: 0x%08lX\n", what, static_cast<unsigned long>(status));
    std::exit(1);
}

void Check(const char* what, HRESULT status)
{
    if (FAILED(status)) Fail(what, status);
}

// --- The DLL file: size and import table, read without loading it. ---

std::vector<BYTE> ReadWholeFile(const std::wstring& path)
{
    std::vector<BYTE> bytes;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return bytes;
    LARGE_INTEGER size;
    if (GetFileSizeEx(file, &size) && size.QuadPart > 0 && size.QuadPart < (64 << 20)) {
        bytes.resize(static_cast<size_t>(size.QuadPart));
        DWORD read = 0;
        if (!ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr) || read != bytes.size())
            bytes.clear();
    }
    CloseHandle(file);
    return bytes;
}

template <typename T>
bool ReadAt(const std::vector<BYTE>& image, size_t offset, T* value)
{
    if (offset > image.size() || image.size() - offset < sizeof(T)) return false;
    std::memcpy(value, image.data() + offset, sizeof(T));
    return true;
}

// The file offset of a relative virtual address, through the section table.
bool FileOffsetOf(const std::vector<BYTE>& image, size_t sections, WORD count, DWORD rva, size_t* offset)
{
    for (WORD k = 0; k < count; ++k) {
        IMAGE_SECTION_HEADER section;
        if (!ReadAt(image, sections + k * sizeof section, &section)) return false;
        const DWORD extent = std::max(section.Misc.VirtualSize, section.SizeOfRawData);
        if (rva >= section.VirtualAddress && rva - section.VirtualAddress < extent) {
            *offset = section.PointerToRawData + (rva - section.VirtualAddress);
            return true;
        }
    }
    return false;
}

// The names in the import directory of a PE32 or PE32+ image, in table
// order; empty when the image cannot be read as one.
std::vector<std::string> ImportedDlls(const std::vector<BYTE>& image)
{
    std::vector<std::string> names;
    IMAGE_DOS_HEADER dos;
    DWORD signature = 0;
    IMAGE_FILE_HEADER header;
    WORD magic = 0;
    if (!ReadAt(image, 0, &dos) || dos.e_magic != IMAGE_DOS_SIGNATURE) return names;
    const size_t pe = static_cast<size_t>(dos.e_lfanew);
    if (!ReadAt(image, pe, &signature) || signature != IMAGE_NT_SIGNATURE) return names;
    if (!ReadAt(image, pe + sizeof signature, &header)) return names;
    const size_t optional = pe + sizeof signature + sizeof header;
    if (!ReadAt(image, optional, &magic)) return names;

    IMAGE_DATA_DIRECTORY imports;
    size_t directory = 0;
    if (magic == IMAGE_NT_OPTIONAL_HDR32_MAGIC)
        directory = optional + offsetof(IMAGE_OPTIONAL_HEADER32, DataDirectory);
    else if (magic == IMAGE_NT_OPTIONAL_HDR64_MAGIC)
        directory = optional + offsetof(IMAGE_OPTIONAL_HEADER64, DataDirectory);
    else
        return names;
    if (!ReadAt(image, directory + IMAGE_DIRECTORY_ENTRY_IMPORT * sizeof imports, &imports)) return names;

    const size_t sections = optional + header.SizeOfOptionalHeader;
    size_t descriptorAt = 0;
    if (!imports.VirtualAddress ||
        !FileOffsetOf(image, sections, header.NumberOfSections, imports.VirtualAddress, &descriptorAt))
        return names;
    for (IMAGE_IMPORT_DESCRIPTOR descriptor; ReadAt(image, descriptorAt, &descriptor) && descriptor.Name;
         descriptorAt += sizeof descriptor) {
        size_t nameAt = 0;
        if (!FileOffsetOf(image, sections, header.NumberOfSections, descriptor.Name, &nameAt)) break;
        std::string name;
        for (char c; ReadAt(image, nameAt + name.size(), &c) && c && name.size() < 256;) name += c;
        names.push_back(name);
    }
    return names;
}

// --- Shortcuts in a scratch folder. ---

std::wstring MakeScratchFolder()
{
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    wchar_t longTemp[MAX_PATH];
    if (!GetLongPathNameW(temp, longTemp, MAX_PATH)) lstrcpyW(longTemp, temp);
    std::wstring folder = std::wstring(longTemp) + L"norrvane-bench-" + std::to_wstring(GetCurrentProcessId());
    if (!CreateDirectoryW(folder.c_str(), nullptr)) Fail("CreateDirectoryW", HRESULT_FROM_WIN32(GetLastError()));
    return folder;
}

void WriteSmallFile(const std::wstring& path)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) Fail("CreateFileW", HRESULT_FROM_WIN32(GetLastError()));
    DWORD written = 0;
    WriteFile(file, "bench\n", 6, &written, nullptr);
    CloseHandle(file);
}

// Saves a shortcut to `target` (a path), or to the list `targetList` when given.
void SaveShortcut(const std::wstring& lnk, const std::wstring& target, const ITEMIDLIST* targetList = nullptr)
{
    IShellLinkW* link = nullptr;
    Check("CoCreateInstance(ShellLink)", CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER,
                                                          IID_IShellLinkW, reinterpret_cast<void**>(&link)));
    Check("IShellLinkW set target", targetList ? link->SetIDList(targetList) : link->SetPath(target.c_str()));
    IPersistFile* file = nullptr;
    Check("QueryInterface(IPersistFile)", link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)));
    Check("IPersistFile::Save", file->Save(lnk.c_str(), TRUE));
    file->Release();
    link->Release();
}

// The data object the shell makes for the items at `paths`, all in one folder.
IDataObject* ShellDataObjectFor(const std::vector<std::wstring>& paths)
{
    std::vector<ITEMIDLIST*> items;
    for (const std::wstring& path : paths) {
        ITEMIDLIST* item = nullptr;
        Check("SHParseDisplayName", SHParseDisplayName(path.c_str(), nullptr, &item, 0, nullptr));
        items.push_back(item);
    }
    IShellFolder* parent = nullptr;
    const ITEMIDLIST* child = nullptr;
    Check("SHBindToParent", SHBindToParent(items[0], IID_IShellFolder, reinterpret_cast<void**>(&parent), &child));
    std::vector<const ITEMIDLIST*> children;
    for (const ITEMIDLIST* item : items) children.push_back(ILFindLastID(item));
    IDataObject* data = nullptr;
    Check("GetUIObjectOf(IDataObject)",
          parent->GetUIObjectOf(nullptr, static_cast<UINT>(children.size()), children.data(), IID_IDataObject,
                                nullptr, reinterpret_cast<void**>(&data)));
    parent->Release();
    for (ITEMIDLIST* item : items) CoTaskMemFree(item);
    return data;
}

IDataObject* ShellDataObjectFor(const std::wstring& path)
{
    return ShellDataObjectFor(std::vector<std::wstring>{path});
}

// The item array the newer menu hands a command, from the shell's data object.
IShellItemArray* ShellItemArrayFor(const std::vector<std::wstring>& paths)
{
    IDataObject* data = ShellDataObjectFor(paths);
    IShellItemArray* items = nullptr;
    Check("SHCreateShellItemArrayFromDataObject",
          SHCreateShellItemArrayFromDataObject(data, IID_IShellItemArray, reinterpret_cast<void**>(&items)));
    data->Release();
    return items;
}

// --- The floor: the shell work the right-click answer needs, done directly. ---

// Whether the item of an absolute list is a folder, by its folder's answer.
void FloorFolderFlag(const ITEMIDLIST* list, BOOL* isFolder)
{
    IShellFolder* parent = nullptr;
    const ITEMIDLIST* child = nullptr;
    if (SHBindToParent(list, IID_IShellFolder, reinterpret_cast<void**>(&parent), &child) != S_OK) return;
    SFGAOF attributes = SFGAO_FOLDER;
    parent->GetAttributesOf(1, &child, &attributes);
    *isFolder = (attributes & SFGAO_FOLDER) ? TRUE : FALSE;
    parent->Release();
}

// The list of the item a path names, as the desktop parses it.
ITEMIDLIST* FloorParse(IShellFolder* desktop, const wchar_t* name)
{
    ITEMIDLIST* list = nullptr;
    desktop->ParseDisplayName(nullptr, nullptr, const_cast<wchar_t*>(name), nullptr, &list, nullptr);
    return list;
}

// The target of the shortcut `real` names, and whether it is a folder.
void FloorShortcut(const ITEMIDLIST* real, BOOL* isFolder)
{
    IShellFolder* folder = nullptr;
    const ITEMIDLIST* child = nullptr;
    IShellLinkW* link = nullptr;
    ITEMIDLIST* target = nullptr;
    if (SHBindToParent(real, IID_IShellFolder, reinterpret_cast<void**>(&folder), &child) == S_OK &&
        folder->GetUIObjectOf(nullptr, 1, &child, IID_IShellLinkW, nullptr, reinterpret_cast<void**>(&link)) == S_OK) {
        link->GetIDList(&target);
        if (target) FloorFolderFlag(target, isFolder);
    }
    CoTaskMemFree(target);
    if (link) link->Release();
    if (folder) folder->Release();
}

// The final target of the symbolic link at `path`, or null when it is none.
ITEMIDLIST* FloorLinkTarget(IShellFolder* desktop, const wchar_t* path)
{
    const DWORD attributes = GetFileAttributesW(path);
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return nullptr;
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    HANDLE link = CreateFileW(path, FILE_READ_ATTRIBUTES, share, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    FILE_ATTRIBUTE_TAG_INFO tag = {};
    const bool symbolic = link != INVALID_HANDLE_VALUE &&
                          GetFileInformationByHandleEx(link, FileAttributeTagInfo, &tag, sizeof tag) &&
                          tag.ReparseTag == IO_REPARSE_TAG_SYMLINK;
    if (link != INVALID_HANDLE_VALUE) CloseHandle(link);
    if (!symbolic) return nullptr;
    HANDLE target =
        CreateFileW(path, FILE_READ_ATTRIBUTES, share, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (target == INVALID_HANDLE_VALUE) return nullptr;
    static wchar_t finalPath[32768];
    const DWORD length = GetFinalPathNameByHandleW(target, finalPath, 32768, 0);
    CloseHandle(target);
    return length > 4 && length < 32768 ? FloorParse(desktop, finalPath + 4) : nullptr;
}

// TRUE when the item could be inserted; `isFolder` says which text it took.
bool FloorRightClick(IDataObject* data, CLIPFORMAT format, HMENU menu, BOOL* isFolder)
{
    FORMATETC request = {format, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    STGMEDIUM medium = {};
    if (data->GetData(&request, &medium) != S_OK) return false;
    const BYTE* block = static_cast<const BYTE*>(GlobalLock(medium.hGlobal));
    const CIDA* cida = reinterpret_cast<const CIDA*>(block);
    const ITEMIDLIST* folderList = reinterpret_cast<const ITEMIDLIST*>(block + cida->aoffset[0]);
    const ITEMIDLIST* item = reinterpret_cast<const ITEMIDLIST*>(block + cida->aoffset[1]);

    // The item's absolute list, joined in place on the stack.
    BYTE absolute[4096];
    const UINT folderItems = ILGetSize(folderList) - sizeof(USHORT);
    const UINT itemSize = ILGetSize(item);
    bool inserted = false;
    IShellFolder* desktop = nullptr;
    if (folderItems + itemSize <= sizeof absolute && SHGetDesktopFolder(&desktop) == S_OK) {
        std::memcpy(absolute, folderList, folderItems);
        std::memcpy(absolute + folderItems, item, itemSize);
        // The item where it lives: its parsing name, parsed back and named again.
        wchar_t* name = nullptr;
        wchar_t* again = nullptr;
        ITEMIDLIST* real = nullptr;
        if (SHGetNameFromIDList(reinterpret_cast<const ITEMIDLIST*>(absolute), SIGDN_DESKTOPABSOLUTEPARSING, &name) ==
            S_OK) {
            real = FloorParse(desktop, name);
            if (real) SHGetNameFromIDList(real, SIGDN_DESKTOPABSOLUTEPARSING, &again);
        }
        if (real && again && lstrcmpiW(name, again) == 0) {
            wchar_t path[MAX_PATH];
            path[0] = L'\0';
            SHGetPathFromIDListEx(real, path, MAX_PATH, GPFIDL_DEFAULT);
            const int length = lstrlenW(path);
            if (length >= 4 && lstrcmpiW(path + length - 4, L".lnk") == 0) {
                FloorShortcut(real, isFolder);
            } else {
                ITEMIDLIST* target = path[0] ? FloorLinkTarget(desktop, path) : nullptr;
                FloorFolderFlag(target ? target : real, isFolder);
                CoTaskMemFree(target);
            }
            InsertMenuW(menu, 0, MF_BYPOSITION | MF_STRING, 1, *isFolder ? L"folder" : L"file");
            inserted = true;
        }
        CoTaskMemFree(again);
        CoTaskMemFree(real);
        CoTaskMemFree(name);
        desktop->Release();
    }
    GlobalUnlock(medium.hGlobal);
    ReleaseStgMedium(&medium);
    return inserted;
}

// The shell work behind GetState's answer, done directly: true when the
// array holds one item whose path ends in ".lnk" (ASCII case folded).
bool FloorState(IShellItemArray* items)
{
    DWORD count = 0;
    if (items->GetCount(&count) != S_OK || count != 1) return false;
    IShellItem* item = nullptr;
    if (items->GetItemAt(0, &item) != S_OK) return false;
    bool shortcut = false;
    ITEMIDLIST* list = nullptr;
    if (SHGetIDListFromObject(item, &list) == S_OK) {
        wchar_t path[MAX_PATH];
        path[0] = L'\0';
        SHGetPathFromIDListW(list, path);
        const int length = lstrlenW(path);
        const wchar_t* extension = path + (length >= 4 ? length - 4 : length);
        shortcut = length >= 4 && extension[0] == L'.';
        const wchar_t rest[] = L"lnk";
        for (int k = 0; shortcut && k < 3; ++k) shortcut = (extension[k + 1] | 0x20) == rest[k];
        CoTaskMemFree(list);
    }
    item->Release();
    return shortcut;
}

// --- The run. ---

typedef HRESULT(STDAPICALLTYPE* GetClassObjectRoutine)(REFCLSID, REFIID, void**);

struct Kind {
    const char* name;
    std::wstring item;
    IDataObject* data = nullptr;
    IContextMenu* handler = nullptr;
    std::vector<double> handlerSamples;
    std::vector<double> floorSamples;
    BOOL handlerFolder = FALSE;
    BOOL floorFolder = FALSE;
};

// GetState calls per sample, for one item and for two: one call is shorter
// than the timer's tick, and much shorter for two items, which need no path.
const int kStateBatch = 10;
const int kCountOnlyBatch = 1000;

struct StateSubject {
    const char* name;
    std::vector<std::wstring> paths;
    bool shown = false;
    int batch = kStateBatch;
    IShellItemArray* items = nullptr;
    std::vector<double> commandSamples;
    std::vector<double> floorSamples;
};

double TimeCommandState(IExplorerCommand* command, StateSubject& subject)
{
    EXPCMDSTATE state = ECS_DISABLED;
    bool agreed = true;
    const LONGLONG start = Now();
    for (int k = 0; k < subject.batch; ++k) {
        command->GetState(subject.items, FALSE, &state);
        agreed = agreed && state == (subject.shown ? ECS_ENABLED : ECS_HIDDEN);
    }
    const LONGLONG end = Now();
    if (!agreed) Fail("GetState answering as expected", E_FAIL);
    return Microseconds(end - start) / subject.batch;
}

double TimeFloorState(StateSubject& subject)
{
    bool agreed = true;
    const LONGLONG start = Now();
    for (int k = 0; k < subject.batch; ++k) agreed = FloorState(subject.items) == subject.shown && agreed;
    const LONGLONG end = Now();
    if (!agreed) Fail("floor state answering as expected", E_FAIL);
    return Microseconds(end - start) / subject.batch;
}

// One timed right-click by the handler; the item is taken out afterwards.
// `folderText` is the folder's menu text in the display language.
double TimeHandler(Kind& kind, HMENU menu, const wchar_t* folderText)
{
    const LONGLONG start = Now();
    const HRESULT result = kind.handler->QueryContextMenu(menu, 0, 1, 0x7FFF, CMF_NORMAL);
    const LONGLONG end = Now();
    if (result != MAKE_HRESULT(SEVERITY_SUCCESS, 0, 1) || GetMenuItemCount(menu) != 1)
        Fail("QueryContextMenu inserting one item", result);
    wchar_t text[COMMAND_TEXT_CAPACITY] = L"";
    GetMenuStringW(menu, 0, text, COMMAND_TEXT_CAPACITY, MF_BYPOSITION);
    kind.handlerFolder = lstrcmpW(text, folderText) == 0;
    DeleteMenu(menu, 0, MF_BYPOSITION);
    return Microseconds(end - start);
}

double TimeFloor(Kind& kind, HMENU menu, CLIPFORMAT format)
{
    BOOL isFolder = FALSE;
    const LONGLONG start = Now();
    const bool inserted = FloorRightClick(kind.data, format, menu, &isFolder);
    const LONGLONG end = Now();
    if (!inserted || GetMenuItemCount(menu) != 1) Fail("floor right-click", E_FAIL);
    kind.floorFolder = isFolder;
    DeleteMenu(menu, 0, MF_BYPOSITION);
    return Microseconds(end - start);
}

// Per-call time of `kBatch` calls of `call`.
template <typename Call>
double TimeBatch(Call call)
{
    const LONGLONG start = Now();
    for (int k = 0; k < kBatch; ++k) call();
    return Microseconds(Now() - start) / kBatch;
}

int Run(const std::wstring& dllPath, int iterations)
{
    QueryPerformanceFrequency(&frequency);
    const std::vector<BYTE> image = ReadWholeFile(dllPath);
    if (image.empty()) Fail("reading the DLL", HRESULT_FROM_WIN32(GetLastError()));
    HMODULE dll = LoadLibraryW(dllPath.c_str());
    if (!dll) Fail("LoadLibraryW", HRESULT_FROM_WIN32(GetLastError()));
    const GetClassObjectRoutine getClassObject =
        reinterpret_cast<GetClassObjectRoutine>(reinterpret_cast<void*>(GetProcAddress(dll, "DllGetClassObject")));
    if (!getClassObject) Fail("GetProcAddress(DllGetClassObject)", E_FAIL);
    IClassFactory* factory = nullptr;
    Check("DllGetClassObject", getClassObject(HANDLER_CLSID, IID_IClassFactory, reinterpret_cast<void**>(&factory)));

    const std::wstring folder = MakeScratchFolder();
    const std::wstring targetFile = folder + L"\\Report, final.txt";
    const std::wstring targetFolder = folder + L"\\Docs";
    const std::wstring goneFile = folder + L"\\Old notes.txt";
    WriteSmallFile(targetFile);
    WriteSmallFile(goneFile);
    CreateDirectoryW(targetFolder.c_str(), nullptr);
    ITEMIDLIST* computer = nullptr;
    Check("SHGetSpecialFolderLocation(CSIDL_DRIVES)", SHGetSpecialFolderLocation(nullptr, CSIDL_DRIVES, &computer));

    Kind kinds[6];
    kinds[0].name = "file";
    kinds[0].item = folder + L"\\Report.lnk";
    SaveShortcut(kinds[0].item, targetFile);
    kinds[1].name = "folder";
    kinds[1].item = folder + L"\\Docs.lnk";
    SaveShortcut(kinds[1].item, targetFolder);
    kinds[2].name = "virtual";
    kinds[2].item = folder + L"\\My Computer.lnk";
    SaveShortcut(kinds[2].item, L"", computer);
    kinds[3].name = "deleted";
    kinds[3].item = folder + L"\\Old notes.lnk";
    SaveShortcut(kinds[3].item, goneFile);
    DeleteFileW(goneFile.c_str());
    kinds[4].name = "plain";
    kinds[4].item = targetFile;
    kinds[5].name = "symlink";
    kinds[5].item = folder + L"\\DocsLink";
    const LinkKind linkKind = MakeSymbolicLink(kinds[5].item, targetFolder, true);
    if (linkKind == LinkKind::None) Fail("making a symbolic link", HRESULT_FROM_WIN32(GetLastError()));

    for (Kind& kind : kinds) {
        kind.data = ShellDataObjectFor(kind.item);
        IShellExtInit* init = nullptr;
        Check("CreateInstance", factory->CreateInstance(nullptr, IID_IShellExtInit, reinterpret_cast<void**>(&init)));
        Check("Initialize", init->Initialize(nullptr, kind.data, nullptr));
        Check("QueryInterface(IContextMenu)", init->QueryInterface(IID_IContextMenu, reinterpret_cast<void**>(&kind.handler)));
        init->Release();
    }
    const CLIPFORMAT format = static_cast<CLIPFORMAT>(RegisterClipboardFormatW(CFSTR_SHELLIDLIST));
    HMENU menu = CreatePopupMenu();
    // The texts, from this program's copy of the DLL's string tables.
    wchar_t folderText[COMMAND_TEXT_CAPACITY];
    if (!LoadCommandText(true, TextForm::Menu, folderText)) Fail("LoadCommandText", E_FAIL);

    IClassFactory* commandFactory = nullptr;
    Check("DllGetClassObject(command)",
          getClassObject(COMMAND_CLSID, IID_IClassFactory, reinterpret_cast<void**>(&commandFactory)));
    IExplorerCommand* command = nullptr;
    Check("CreateInstance(IExplorerCommand)",
          commandFactory->CreateInstance(nullptr, IID_IExplorerCommand, reinterpret_cast<void**>(&command)));
    commandFactory->Release();
    StateSubject subjects[3];
    subjects[0].name = "file";
    subjects[0].paths = {targetFile};
    subjects[1].name = "shortcut";
    subjects[1].paths = {kinds[0].item};
    subjects[1].shown = true;
    subjects[2].name = "two";
    subjects[2].paths = {kinds[0].item, kinds[1].item};
    subjects[2].batch = kCountOnlyBatch;
    for (StateSubject& subject : subjects) subject.items = ShellItemArrayFor(subject.paths);

    // The invocation's decision, for a target with a path and for one
    // without, behind the file manager's launcher text.
    const wchar_t launcher[] = L"\"C:\\Program Files\\Norrvane\\Norrvane.exe\"";
    const std::wstring targetPath = L"C:\\demo\\Report, final.txt";
    const LaunchFacts pathFacts = {computer, targetPath.c_str(), launcher, L"C:\\Windows", TRUE, FALSE, FALSE};
    const LaunchFacts hexFacts = {computer, L"", launcher, L"C:\\Windows", TRUE, FALSE, FALSE};
    std::vector<wchar_t> application(APPLICATION_CAPACITY);
    std::vector<wchar_t> commandLine(COMMAND_LINE_CAPACITY);
    std::vector<double> pathSamples, hexSamples, findSamples, formatSamples, textSamples;

    for (int round = -kWarmUpIterations; round < iterations; ++round) {
        const bool record = round >= 0;
        // Alternate which goes first, so that neither always follows the other.
        for (Kind& kind : kinds) {
            double handler, floor;
            if (round & 1) {
                floor = TimeFloor(kind, menu, format);
                handler = TimeHandler(kind, menu, folderText);
            } else {
                handler = TimeHandler(kind, menu, folderText);
                floor = TimeFloor(kind, menu, format);
            }
            if (record) {
                kind.handlerSamples.push_back(handler);
                kind.floorSamples.push_back(floor);
            }
        }
        for (StateSubject& subject : subjects) {
            double measured, floor;
            if (round & 1) {
                floor = TimeFloorState(subject);
                measured = TimeCommandState(command, subject);
            } else {
                measured = TimeCommandState(command, subject);
                floor = TimeFloorState(subject);
            }
            if (record) {
                subject.commandSamples.push_back(measured);
                subject.floorSamples.push_back(floor);
            }
        }
        // The handler looks the selection's format up on every right-click;
        // the floor looked it up once.
        const LONGLONG lookup = Now();
        RegisterClipboardFormatW(CFSTR_SHELLIDLIST);
        if (record) formatSamples.push_back(Microseconds(Now() - lookup));
        // So does it load its text, in the display language.
        const LONGLONG load = Now();
        wchar_t text[COMMAND_TEXT_CAPACITY];
        LoadCommandText(false, TextForm::Menu, text);
        if (record) textSamples.push_back(Microseconds(Now() - load));
        if (round % 10 == 0) {
            const double path = TimeBatch([&] { DecideLaunch(pathFacts, application.data(), commandLine.data()); });
            const double hex = TimeBatch([&] { DecideLaunch(hexFacts, application.data(), commandLine.data()); });
            wchar_t found[LAUNCHER_CAPACITY];
            BOOL stock = FALSE;
            const LONGLONG start = Now();
            BOOL relative = FALSE;
            FindFileManager(found, &stock, &relative);
            const double find = Microseconds(Now() - start);
            if (record) {
                pathSamples.push_back(path);
                hexSamples.push_back(hex);
                findSamples.push_back(find);
            }
        }
    }
    if (DecideLaunch(hexFacts, application.data(), commandLine.data()) != LaunchAction::StartProcess)
        Fail("DecideLaunch for the hexadecimal target", E_FAIL);

    std::printf("right-click: QueryContextMenu, median us per call, %d calls each, interleaved\n", iterations);
    std::printf("%-9s %10s %10s %7s  %s\n", "item", "handler", "floor", "ratio", "text");
    double worst = 0;
    for (Kind& kind : kinds) {
        const double handler = Median(kind.handlerSamples);
        const double floor = Median(kind.floorSamples);
        const double ratio = floor > 0 ? handler / floor : 0;
        worst = std::max(worst, ratio);
        std::printf("%-9s %10.1f %10.1f %7.3f  %s%s\n", kind.name, handler, floor, ratio,
                    kind.handlerFolder ? "folder text" : "file text",
                    kind.handlerFolder == kind.floorFolder ? "" : " (floor disagrees)");
    }
    std::printf("worst ratio %.3f\n", worst);
    if (linkKind == LinkKind::Unix)
        std::printf("symlink: a Unix link, which this system shows as a plain folder: located as itself\n");
    std::printf("RegisterClipboardFormatW alone (the handler's per call, not the floor's) %.1f\n",
                Median(formatSamples));
    std::printf("LoadCommandText alone (the handler's per call, not the floor's) %.2f, in display language 0x%04X\n\n",
                Median(textSamples), GetUserDefaultUILanguage());
    std::printf("command state: GetState, median us per call, %d batches of %d (two items: %d) calls each, "
                "interleaved\n",
                iterations, kStateBatch, kCountOnlyBatch);
    std::printf("%-9s %10s %10s %7s  %s\n", "selection", "command", "floor", "ratio", "state");
    double worstState = 0;
    for (StateSubject& subject : subjects) {
        const double measured = Median(subject.commandSamples);
        const double floor = Median(subject.floorSamples);
        const double ratio = floor > 0 ? measured / floor : 0;
        worstState = std::max(worstState, ratio);
        std::printf("%-9s %10.3f %10.3f %7.3f  %s\n", subject.name, measured, floor, ratio,
                    subject.shown ? "ECS_ENABLED" : "ECS_HIDDEN");
    }
    std::printf("worst ratio %.3f\n\n", worstState);
    std::printf("invocation: decision and command line, nothing started, median us per call\n");
    std::printf("%-26s %10.3f\n", "DecideLaunch path target", Median(pathSamples));
    std::printf("%-26s %10.3f\n", "DecideLaunch hex target", Median(hexSamples));
    std::printf("%-26s %10.3f\n\n", "FindFileManager", Median(findSamples));

    std::printf("dll: %s\n", Utf8(dllPath).c_str());
    std::printf("size: %lu bytes\n", static_cast<unsigned long>(image.size()));
    std::printf("imports:");
    for (const std::string& name : ImportedDlls(image)) std::printf(" %s", name.c_str());
    std::printf("\n");
    std::fflush(stdout);

    DestroyMenu(menu);
    for (StateSubject& subject : subjects) subject.items->Release();
    command->Release();
    for (Kind& kind : kinds) {
        kind.handler->Release();
        kind.data->Release();
        if (&kind == &kinds[5])
            RemoveDirectoryW(kind.item.c_str());
        else if (&kind != &kinds[4])
            DeleteFileW(kind.item.c_str());
    }
    factory->Release();
    CoTaskMemFree(computer);
    DeleteFileW(targetFile.c_str());
    RemoveDirectoryW(targetFolder.c_str());
    RemoveDirectoryW(folder.c_str());
    return 0;
}

}  // namespace

int main()
{
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    const int iterations = argc == 3 ? _wtoi(argv[2]) : kDefaultIterations;
    if ((argc != 2 && argc != 3) || iterations <= 0) {
        std::fputs("usage: bench DLL [ITERATIONS]\n", stderr);
        LocalFree(argv);
        return 2;
    }
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    const int result = Run(argv[1], iterations);
    CoUninitialize();
    LocalFree(argv);
    return result;
}
