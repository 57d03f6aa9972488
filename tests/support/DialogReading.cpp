#include "tests/support/DialogReading.h"
#include <cstring>

namespace {

// Reads a sz_Or_Ord field of a template: an ordinal (0xFFFF, then the number) or a string.
std::wstring ReadNameOrOrdinal(const WORD*& p) {
    if (*p == 0xFFFF) {
        const WORD ordinal = p[1];
        p += 2;
        switch (ordinal) {
        case 0x80:
            return L"Button";
        case 0x81:
            return L"Edit";
        case 0x82:
            return L"Static";
        case 0x83:
            return L"ListBox";
        case 0x84:
            return L"ScrollBar";
        case 0x85:
            return L"ComboBox";
        default:
            return L"#" + std::to_wstring(ordinal);
        }
    }
    std::wstring text(reinterpret_cast<const wchar_t*>(p));
    p += text.size() + 1;
    return text;
}

const WORD* AlignToDword(const WORD* p) {
    return reinterpret_cast<const WORD*>((reinterpret_cast<ULONG_PTR>(p) + 3) & ~ULONG_PTR(3));
}

} // namespace

std::vector<HWND> ChildrenInTabOrder(HWND dialog) {
    std::vector<HWND> children;
    for (HWND child = ::GetWindow(dialog, GW_CHILD); child != nullptr;
         child = ::GetWindow(child, GW_HWNDNEXT))
        children.push_back(child);
    return children;
}

RECT FromDialogUnits(HWND dialog, int x, int y, int width, int height) {
    // The dialog manager converts the position and the size each on their own, so the right
    // edge is the converted x plus the converted width, not the converted x + width.
    RECT units{x, y, width, height};
    ::MapDialogRect(dialog, &units);
    return {units.left, units.top, units.left + units.right, units.top + units.bottom};
}

RECT RectInParent(HWND child) {
    RECT rect;
    ::GetWindowRect(child, &rect);
    ::MapWindowPoints(nullptr, ::GetParent(child), reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

std::wstring TextOf(HWND window) {
    std::wstring text(size_t(::GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(size_t(::GetWindowTextW(window, text.data(), int(text.size()))));
    return text;
}

std::wstring ClassOf(HWND window) {
    wchar_t name[64] = {};
    ::GetClassNameW(window, name, 64);
    return name;
}

DWORD StyleOf(HWND window) {
    return DWORD(::GetWindowLongW(window, GWL_STYLE));
}

DWORD ExStyleOf(HWND window) {
    return DWORD(::GetWindowLongW(window, GWL_EXSTYLE));
}

std::vector<std::wstring> ComboEntries(HWND combo) {
    std::vector<std::wstring> entries;
    const int count = int(::SendMessageW(combo, CB_GETCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
        std::wstring entry(size_t(::SendMessageW(combo, CB_GETLBTEXTLEN, i, 0)) + 1, L'\0');
        entry.resize(size_t(::SendMessageW(combo, CB_GETLBTEXT, i, LPARAM(entry.data()))));
        entries.push_back(entry);
    }
    return entries;
}

std::vector<TemplateItem> ReadDialogTemplate(int templateId) {
    HRSRC resource = ::FindResourceW(nullptr, MAKEINTRESOURCEW(templateId), RT_DIALOG);
    const auto* p = static_cast<const WORD*>(::LockResource(::LoadResource(nullptr, resource)));
    // DLGTEMPLATEEX: version, signature, help id, extended style, style, item count, x, y, cx, cy
    const WORD count = p[8];
    const DWORD style = p[6] | (DWORD(p[7]) << 16);
    p += 13;
    ReadNameOrOrdinal(p); // menu
    ReadNameOrOrdinal(p); // class
    ReadNameOrOrdinal(p); // caption
    if (style & DS_SETFONT) {
        p += 3; // point size, weight, italic and character set
        ReadNameOrOrdinal(p);
    }
    std::vector<TemplateItem> items;
    for (WORD i = 0; i < count; ++i) {
        p = AlignToDword(p);
        // DLGITEMTEMPLATEEX: help id, extended style, style, x, y, cx, cy, id (DWORD)
        DWORD fields[3];
        std::memcpy(fields, p, sizeof fields);
        const auto* shorts = reinterpret_cast<const short*>(p + 6);
        TemplateItem item{fields[2], fields[1], 0,  shorts[0], shorts[1],
                          shorts[2], shorts[3], {}, {}};
        LONG id;
        std::memcpy(&id, p + 10, sizeof id);
        item.id = id;
        p += 12;
        item.className = ReadNameOrOrdinal(p);
        item.title = ReadNameOrOrdinal(p);
        const WORD extra = *p++;
        p = reinterpret_cast<const WORD*>(reinterpret_cast<const BYTE*>(p) + extra);
        items.push_back(item);
    }
    return items;
}
