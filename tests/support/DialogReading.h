// Reading a created dialog the way a person checking it against its layout would.
#pragma once

#include <windows.h>
#include <string>
#include <vector>

// The dialog's children in tab order (the order the template created them in).
std::vector<HWND> ChildrenInTabOrder(HWND dialog);

// A rectangle given in dialog units, in pixels of the dialog's client area, converted the way
// the dialog manager converts it.
RECT FromDialogUnits(HWND dialog, int x, int y, int width, int height);

// Where a child window sits in its parent's client area.
RECT RectInParent(HWND child);

std::wstring TextOf(HWND window);
std::wstring ClassOf(HWND window);
DWORD StyleOf(HWND window);
DWORD ExStyleOf(HWND window);

// One control of a dialog template (DLGTEMPLATEEX) as the resource holds it.
struct TemplateItem {
    DWORD style;
    DWORD exStyle;
    int id;
    int x, y, cx, cy;
    std::wstring className; // predefined classes by name: "Button", "Edit", "Static"...
    std::wstring title;     // "#128" for a resource ordinal
};

// The controls of the program's dialog template with that identifier, in template order.
std::vector<TemplateItem> ReadDialogTemplate(int templateId);

// The entries of a combo box, in list order.
std::vector<std::wstring> ComboEntries(HWND combo);
