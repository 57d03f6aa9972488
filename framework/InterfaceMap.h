// Interface and dispatch maps: static tables that say which COM interfaces an object answers and
// which automation members it offers, in the manner of the message maps.
//   AFX_INTERFACEMAP_ENTRY, AFX_INTERFACEMAP  an interface identifier and the part of the object
//                                             that implements it; a class's rows and its base's
//   AFX_DISPMAP_ENTRY, AFX_DISPMAP            an automation member's name, DISPID and runner
//   InterfacePart, DispMember                 build rows from member functions
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

// Runs one automation member with the call's flags (DISPATCH_METHOD, DISPATCH_PROPERTYGET...),
// its arguments and the place for its result; answers as IDispatch::Invoke does.
using AFX_PDISPATCH = HRESULT (*)(CCmdTarget& target, WORD wFlags, DISPPARAMS* pParams,
                                  VARIANT* pResult);

struct AFX_DISPMAP_ENTRY {
    const wchar_t* lpszName; // found by GetIDsOfNames regardless of case
    DISPID dispid;
    AFX_PDISPATCH pfn;
};

struct AFX_DISPMAP {
    const AFX_DISPMAP* (*pfnGetBaseMap)(); // null at the root of the chain
    const AFX_DISPMAP_ENTRY* lpEntries;
    size_t nCount;
};

namespace afx_detail {

template <auto Member>
IUnknown* InterfaceThunk(CCmdTarget& target) {
    using Class = typename MemberOf<decltype(Member)>::Class;
    return (static_cast<Class&>(target).*Member)();
}

template <auto Member>
HRESULT DispatchThunk(CCmdTarget& target, WORD wFlags, DISPPARAMS* pParams, VARIANT* pResult) {
    using Class = typename MemberOf<decltype(Member)>::Class;
    return (static_cast<Class&>(target).*Member)(wFlags, pParams, pResult);
}

} // namespace afx_detail

// A row that answers iid with what Member returns (an interface part of the object, or null).
template <auto Member>
constexpr AFX_INTERFACEMAP_ENTRY InterfacePart(const IID& iid) {
    return {&iid, &afx_detail::InterfaceThunk<Member>};
}

// A row that offers Member(wFlags, pParams, pResult) to clients under the name and DISPID.
template <auto Member>
constexpr AFX_DISPMAP_ENTRY DispMember(const wchar_t* name, DISPID dispid) {
    return {name, dispid, &afx_detail::DispatchThunk<Member>};
}
