#pragma once
// Points HKEY_CLASSES_ROOT and HKEY_LOCAL_MACHINE at fresh keys under
// HKEY_CURRENT_USER for the life of the object, so that tests write to a
// registry of their own and leave nothing behind.
#include <windows.h>

#include <string>

class ScratchRegistry {
public:
    ScratchRegistry();
    ~ScratchRegistry();
    ScratchRegistry(const ScratchRegistry&) = delete;
    ScratchRegistry& operator=(const ScratchRegistry&) = delete;

    HKEY classesRoot() const { return classesRoot_; }
    HKEY localMachine() const { return localMachine_; }

private:
    std::wstring path_;
    HKEY classesRoot_ = nullptr;
    HKEY localMachine_ = nullptr;
};

// Small registry helpers for arranging and checking test state.
void CreatePath(HKEY root, const wchar_t* path, bool isVolatile = false);
void SetValue(HKEY root, const wchar_t* path, const wchar_t* name, const std::wstring& text, DWORD type = REG_SZ);
bool KeyExists(HKEY root, const wchar_t* path);

// Makes `path` below `root` a symbolic link to the key `target` names below
// `targetRoot`: opening the link opens that key.
void CreateLink(HKEY root, const wchar_t* path, HKEY targetRoot, const wchar_t* target);

// Deletes the link `path` below `root` itself, when it is there; false when
// it was not.
bool DeleteLink(HKEY root, const wchar_t* path);

struct ValueRead {
    bool present = false;
    DWORD type = 0;
    DWORD bytes = 0;
    std::wstring text;
};
ValueRead ReadValue(HKEY root, const wchar_t* path, const wchar_t* name);
