// The root of the framework's classes.
//   CCmdTarget      an object with a message map and the wait cursor; for OLE also a reference
//                   count, an interface map and, once automation is enabled, an IDispatch over
//                   its dispatch map
//   CInterfacePart  an interface implemented inside a CCmdTarget; its IUnknown is the object's
#pragma once

#include <windows.h>
#include <oaidl.h>
#include "framework/InterfaceMap.h"
#include "framework/MessageMap.h"
#include "framework/RuntimeClass.h"

class CCmdTarget;

// The IUnknown of an interface that lives inside an object: every part counts and answers for
// the whole object, so a client gets the same identity whichever interface it holds.
template <class Interface>
class CInterfacePart : public Interface {
public:
    explicit CInterfacePart(CCmdTarget& owner) : m_owner(owner) {}
    CInterfacePart(const CInterfacePart&) = delete;
    CInterfacePart& operator=(const CInterfacePart&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** ppvObject) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

protected:
    CCmdTarget& m_owner;
};

// An object that takes messages and commands through its message map, and, as a COM object,
// interface requests through its interface map.
class CCmdTarget {
public:
    // The reference count starts at one: the creator's reference.
    CCmdTarget();

    // The record of this object's class.
    virtual const CRuntimeClass* GetRuntimeClass() const;
    static const CRuntimeClass* GetThisClass();
    bool IsKindOf(const CRuntimeClass* pClass) const;

    virtual ~CCmdTarget() = default;
    CCmdTarget(const CCmdTarget&) = delete;
    CCmdTarget& operator=(const CCmdTarget&) = delete;

    // Called when the last reference goes; deletes the object.
    virtual void OnFinalRelease();

    // The table of this object's class; each class's table chains to its base's.
    virtual const AFX_MSGMAP* GetMessageMap() const;
    static const AFX_MSGMAP* GetThisMessageMap();
    // The automation members the object offers; this table is empty.
    virtual const AFX_DISPMAP* GetDispatchMap() const;
    static const AFX_DISPMAP* GetThisDispatchMap();
    // The interfaces the object answers; this table answers IDispatch once automation is on.
    virtual const AFX_INTERFACEMAP* GetInterfaceMap() const;
    static const AFX_INTERFACEMAP* GetThisInterfaceMap();

    // Finds the first row for the message along the chain, or null. For WM_COMMAND the row must
    // also match the notification code and the control identifier.
    const AFX_MSGMAP_ENTRY* FindMessageEntry(UINT message, UINT code, UINT id) const;

    // Makes the object's IDispatch available, answering from its dispatch map.
    void EnableAutomation();

    // The object's implementation of iid along the interface map, without a reference; null when
    // it has none. IUnknown is the first interface the object offers.
    IUnknown* GetInterface(REFIID iid);
    // The COM reference count; the release that brings it to zero calls OnFinalRelease.
    ULONG InternalAddRef();
    ULONG InternalRelease();
    // QueryInterface for the whole object: S_OK with a reference, or E_NOINTERFACE.
    HRESULT InternalQueryInterface(REFIID iid, void** ppvObject);

    // Shows the hourglass until the matching EndWaitCursor; nested pairs keep it until the
    // outermost pair ends, then the cursor from before comes back.
    void BeginWaitCursor();
    void EndWaitCursor();

protected:
    // The IDispatch part, or null until EnableAutomation; interface maps point their rows here.
    IUnknown* DispatchPart();

private:
    // IDispatch over the dispatch map: names and DISPIDs from the table, no type information.
    class XDispatch : public CInterfacePart<IDispatch> {
    public:
        using CInterfacePart::CInterfacePart;
        HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* pctinfo) override;
        HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo) override;
        HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames,
                                                LCID lcid, DISPID* rgDispId) override;
        HRESULT STDMETHODCALLTYPE Invoke(DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags,
                                         DISPPARAMS* pDispParams, VARIANT* pVarResult,
                                         EXCEPINFO* pExcepInfo, UINT* puArgErr) override;
    };

    LONG m_dwRef = 1;
    bool m_bAutomation = false;
    XDispatch m_xDispatch;
};

template <class Interface>
HRESULT STDMETHODCALLTYPE CInterfacePart<Interface>::QueryInterface(REFIID iid, void** ppvObject) {
    return m_owner.InternalQueryInterface(iid, ppvObject);
}

template <class Interface>
ULONG STDMETHODCALLTYPE CInterfacePart<Interface>::AddRef() {
    return m_owner.InternalAddRef();
}

template <class Interface>
ULONG STDMETHODCALLTYPE CInterfacePart<Interface>::Release() {
    return m_owner.InternalRelease();
}
