// Menus.
//   CMenu  a thin wrapper over one HMENU, which it does not own
#pragma once

#include <windows.h>

class CMenu {
public:
    explicit CMenu(HMENU hMenu = nullptr) : m_hMenu(hMenu) {}

    // Adds an item (MF_STRING with an identifier and a text) or a separator at the end.
    BOOL AppendMenu(UINT nFlags, UINT_PTR nIDNewItem = 0, const wchar_t* lpszNewItem = nullptr) {
        return ::AppendMenuW(m_hMenu, nFlags, nIDNewItem, lpszNewItem);
    }

    HMENU m_hMenu;
};
