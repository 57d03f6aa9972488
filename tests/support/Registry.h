// The registry as the tests read and prepare it.
//   ScratchClassesRoot  sends this process's HKEY_CLASSES_ROOT to an empty key of its own
//   ReadTree            every value under a key, for comparing a whole tree at once
//   SetDefaultValue, DenyWrites, DeleteTree  preparing keys for a test
#pragma once

#include <windows.h>
#include <map>
#include <string>

// While it lives, HKEY_CLASSES_ROOT of this process is an empty key under HKEY_CURRENT_USER, so
// that the program's code under test can write its entries without touching the prefix's real
// ones. One at a time.
class ScratchClassesRoot {
public:
    ScratchClassesRoot();
    ~ScratchClassesRoot();
    ScratchClassesRoot(const ScratchClassesRoot&) = delete;
    ScratchClassesRoot& operator=(const ScratchClassesRoot&) = delete;

private:
    std::wstring m_path;
    HKEY m_hKey = nullptr;
};

// The values under root\key and all its subkeys, by "subkey path" (the default value) or
// "subkey path@name"; the key's own default value is under "". Empty when the key is missing.
std::map<std::wstring, std::wstring> ReadTree(HKEY root, const std::wstring& key);

// Writes the text as the default value of root\key, creating the key.
bool SetDefaultValue(HKEY root, const std::wstring& key, const std::wstring& value);

// Creates root\key and lets everyone read it but no one change its values, so that writing its
// value fails as it would for a key an administrator locked.
bool DenyWrites(HKEY root, const std::wstring& key);

void DeleteTree(HKEY root, const std::wstring& key);
