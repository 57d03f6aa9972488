#include "framework/CmdTarget.h"

namespace {

int g_waitCursorDepth = 0;
HCURSOR g_cursorBeforeWait = nullptr;

} // namespace

const AFX_MSGMAP* CCmdTarget::GetThisMessageMap() {
    static constexpr AFX_MSGMAP map{nullptr, nullptr, 0};
    return &map;
}

const AFX_MSGMAP* CCmdTarget::GetMessageMap() const {
    return GetThisMessageMap();
}

const AFX_MSGMAP_ENTRY* CCmdTarget::FindMessageEntry(UINT message, UINT code, UINT id) const {
    for (const AFX_MSGMAP* map = GetMessageMap(); map != nullptr;
         map = map->pfnGetBaseMap ? map->pfnGetBaseMap() : nullptr) {
        for (size_t i = 0; i < map->nCount; ++i) {
            const AFX_MSGMAP_ENTRY& entry = map->lpEntries[i];
            if (entry.nMessage != message)
                continue;
            if (message == WM_COMMAND && (entry.nCode != code || entry.nID != id))
                continue;
            return &entry;
        }
    }
    return nullptr;
}

void CCmdTarget::BeginWaitCursor() {
    HCURSOR previous = SetCursor(LoadCursorW(nullptr, IDC_WAIT));
    if (g_waitCursorDepth++ == 0)
        g_cursorBeforeWait = previous;
}

void CCmdTarget::EndWaitCursor() {
    if (g_waitCursorDepth == 0)
        return;
    if (--g_waitCursorDepth == 0)
        SetCursor(g_cursorBeforeWait);
}
