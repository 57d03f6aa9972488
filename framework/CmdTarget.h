// The root of the framework's classes.
//   CCmdTarget  an object with a message map; also owns the wait cursor
#pragma once

#include <windows.h>
#include "framework/MessageMap.h"

// An object that takes messages and commands through its message map.
class CCmdTarget {
public:
    CCmdTarget() = default;
    virtual ~CCmdTarget() = default;
    CCmdTarget(const CCmdTarget&) = delete;
    CCmdTarget& operator=(const CCmdTarget&) = delete;

    // The table of this object's class; each class's table chains to its base's.
    virtual const AFX_MSGMAP* GetMessageMap() const;
    static const AFX_MSGMAP* GetThisMessageMap();

    // Finds the first row for the message along the chain, or null. For WM_COMMAND the row must
    // also match the notification code and the control identifier.
    const AFX_MSGMAP_ENTRY* FindMessageEntry(UINT message, UINT code, UINT id) const;

    // Shows the hourglass until the matching EndWaitCursor; nested pairs keep it until the
    // outermost pair ends, then the cursor from before comes back.
    void BeginWaitCursor();
    void EndWaitCursor();
};
