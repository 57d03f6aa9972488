// Message maps: static tables that route window messages and control notifications to members.
//   AFX_MSGMAP_ENTRY  one row: a window message, or WM_COMMAND with a notification code and id
//   AFX_MSGMAP        a class's rows and the accessor of its base class's table
//   OnMessage, OnCommand  build rows from member functions
#pragma once

#include <windows.h>
#include <cstddef>
#include <type_traits>

class CCmdTarget;

// Calls one member of the target for a message; the result goes back to the window manager.
using AFX_PMSG = LRESULT (*)(CCmdTarget& target, WPARAM wParam, LPARAM lParam);

struct AFX_MSGMAP_ENTRY {
    UINT nMessage; // the window message; WM_COMMAND for a command row
    UINT nCode;    // notification code of a command row (BN_CLICKED, CBN_SELCHANGE...)
    UINT nID;      // control identifier of a command row
    AFX_PMSG pfn;
};

struct AFX_MSGMAP {
    const AFX_MSGMAP* (*pfnGetBaseMap)(); // null at the root of the chain
    const AFX_MSGMAP_ENTRY* lpEntries;
    size_t nCount;
};

namespace afx_detail {

template <class>
struct MemberOf;
template <class R, class C, class... A>
struct MemberOf<R (C::*)(A...)> {
    using Class = C;
    using Result = R;
};

// A window message handler takes nothing or (UINT wParam, LPARAM lParam); a handle it returns
// becomes the message's result.
template <auto Member>
LRESULT MessageThunk(CCmdTarget& target, WPARAM wParam, LPARAM lParam) {
    using Class = typename MemberOf<decltype(Member)>::Class;
    using Result = typename MemberOf<decltype(Member)>::Result;
    auto& self = static_cast<Class&>(target);
    if constexpr (std::is_invocable_v<decltype(Member), Class&, UINT, LPARAM>) {
        (self.*Member)(static_cast<UINT>(wParam), lParam);
        return 0;
    } else if constexpr (std::is_void_v<Result>) {
        (self.*Member)();
        return 0;
    } else {
        return reinterpret_cast<LRESULT>((self.*Member)());
    }
}

// A command handler gets the row's fixed arguments; what it returns is not used.
template <auto Member, auto... Args>
LRESULT CommandThunk(CCmdTarget& target, WPARAM, LPARAM) {
    using Class = typename MemberOf<decltype(Member)>::Class;
    (static_cast<Class&>(target).*Member)(Args...);
    return 0;
}

} // namespace afx_detail

// A row that runs Member on a window message.
template <auto Member>
constexpr AFX_MSGMAP_ENTRY OnMessage(UINT message) {
    return {message, 0, 0, &afx_detail::MessageThunk<Member>};
}

// A row that runs Member(Args...) on a control's notification code.
template <auto Member, auto... Args>
constexpr AFX_MSGMAP_ENTRY OnCommand(UINT code, UINT id) {
    return {WM_COMMAND, code, id, &afx_detail::CommandThunk<Member, Args...>};
}
