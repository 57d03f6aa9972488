#include "tests/support/Registry.h"
#include <vector>

namespace {

void ReadInto(HKEY hKey, const std::wstring& prefix, std::map<std::wstring, std::wstring>& tree) {
    for (DWORD i = 0;; ++i) {
        wchar_t name[256];
        DWORD nameLength = 256;
        DWORD type = 0;
        std::vector<BYTE> data(4096);
        DWORD size = DWORD(data.size());
        if (::RegEnumValueW(hKey, i, name, &nameLength, nullptr, &type, data.data(), &size) !=
            ERROR_SUCCESS)
            break;
        std::wstring text;
        if (type == REG_SZ || type == REG_EXPAND_SZ)
            text.assign(reinterpret_cast<const wchar_t*>(data.data()), size / sizeof(wchar_t));
        while (!text.empty() && text.back() == L'\0')
            text.pop_back();
        tree[nameLength == 0 ? prefix : prefix + L"@" + name] = text;
    }
    for (DWORD i = 0;; ++i) {
        wchar_t name[256];
        DWORD nameLength = 256;
        if (::RegEnumKeyExW(hKey, i, name, &nameLength, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            break;
        HKEY hSubKey = nullptr;
        if (::RegOpenKeyExW(hKey, name, 0, KEY_READ, &hSubKey) != ERROR_SUCCESS)
            continue;
        ReadInto(hSubKey, prefix.empty() ? name : prefix + L"\\" + name, tree);
        ::RegCloseKey(hSubKey);
    }
}

} // namespace

ScratchClassesRoot::ScratchClassesRoot()
    : m_path(L"Software\\KelvaneTests\\Classes-" + std::to_wstring(::GetCurrentProcessId())) {
    ::RegDeleteTreeW(HKEY_CURRENT_USER, m_path.c_str());
    ::RegCreateKeyExW(HKEY_CURRENT_USER, m_path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                      &m_hKey, nullptr);
    ::RegOverridePredefKey(HKEY_CLASSES_ROOT, m_hKey);
}

ScratchClassesRoot::~ScratchClassesRoot() {
    ::RegOverridePredefKey(HKEY_CLASSES_ROOT, nullptr);
    ::RegCloseKey(m_hKey);
    ::RegDeleteTreeW(HKEY_CURRENT_USER, m_path.c_str());
    ::RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\KelvaneTests");
}

std::map<std::wstring, std::wstring> ReadTree(HKEY root, const std::wstring& key) {
    std::map<std::wstring, std::wstring> tree;
    HKEY hKey = nullptr;
    if (::RegOpenKeyExW(root, key.c_str(), 0, KEY_READ, &hKey) != ERROR_SUCCESS)
        return tree;
    ReadInto(hKey, L"", tree);
    ::RegCloseKey(hKey);
    return tree;
}

bool SetDefaultValue(HKEY root, const std::wstring& key, const std::wstring& value) {
    return ::RegSetValueW(root, key.c_str(), REG_SZ, value.c_str(),
                          DWORD(value.size() * sizeof(wchar_t))) == ERROR_SUCCESS;
}

bool DenyWrites(HKEY root, const std::wstring& key) {
    HKEY hKey = nullptr;
    if (::RegCreateKeyExW(root, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &hKey,
                          nullptr) != ERROR_SUCCESS)
        return false;
    SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
    PSID everyone = nullptr;
    ::AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone);
    alignas(ACL) BYTE aclBuffer[256];
    auto* acl = reinterpret_cast<ACL*>(aclBuffer);
    ::InitializeAcl(acl, sizeof aclBuffer, ACL_REVISION);
    ::AddAccessAllowedAce(acl, ACL_REVISION, KEY_READ, everyone);
    SECURITY_DESCRIPTOR sd;
    ::InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION);
    ::SetSecurityDescriptorDacl(&sd, TRUE, acl, FALSE);
    const bool done = ::RegSetKeySecurity(hKey, DACL_SECURITY_INFORMATION, &sd) == ERROR_SUCCESS;
    ::FreeSid(everyone);
    ::RegCloseKey(hKey);
    return done;
}

void DeleteTree(HKEY root, const std::wstring& key) {
    ::RegDeleteTreeW(root, key.c_str());
}
