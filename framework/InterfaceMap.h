// Interface and dispatch maps: static tables that say which COM interfaces an object answers and
// which automation members it offers, in the manner of the message maps.
//   AFX_INTERFACEMAP_ENTRY, AFX_INTERFACEMAP  an interface identifier and the part of the object
//                                             that implements it; a class's rows and its base's
//   AFX_DISPMAP                               the automation members: the program's objects
//                                             offer none, so the table has no rows to hold
//   InterfacePart                             builds a row from a member function
#pragma once

#include <windows.h>
#include <oaidl.h>
#include <cstddef>
#include "framework/MessageMap.h"

class CCmdTarget;

// The object's implementation of one interface, or null while the object does not offer it.
using AFX_PINTERFACE = IUnknown* (*)(CCmdTarget& target);

struct AFX_INTERFACEMAP_ENTRY {
    const IID* piid;
    AFX_PINTERFACE pfnGetInterface;
};

struct AFX_INTERFACEMAP {
    const AFX_INTERFACEMAP* (*pfnGetBaseMap)(); // null at the root of the chain
    const AFX_INTERFACEMAP_ENTRY* lpEntries;
    size_t nCount;
};

struct AFX_DISPMAP {
    const AFX_DISPMAP* (*pfnGetBaseMap)(); // null at the root of the chain
};

namespace afx_detail {

template <auto Member>
IUnknown* InterfaceThunk(CCmdTarget& target) {
    using Class = typename MemberOf<decltype(Member)>::Class;
    return (static_cast<Class&>(target).*Member)();
}

} // namespace afx_detail

// A row that answers iid with what Member returns (an interface part of the object, or null).
template <auto Member>
constexpr AFX_INTERFACEMAP_ENTRY InterfacePart(const IID& iid) {
    return {&iid, &afx_detail::InterfaceThunk<Member>};
}
