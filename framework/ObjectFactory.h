// Class factories: how OLE creates the program's automation objects.
//   COleObjectFactory  one factory, an IClassFactory that makes objects of one creatable class;
//                      every factory of the program joins one list when it is constructed, and
//                      start-up registers or records the whole list at once
#pragma once

#include <windows.h>
#include <string>
#include "framework/CmdTarget.h"

class COleObjectFactory : public CCmdTarget {
public:
    // Joins the program's list of factories. The objects are made through pRuntimeClass; a
    // multi-instance factory serves one object per registration, so each client gets a program
    // instance of its own.
    COleObjectFactory(REFCLSID clsid, const CRuntimeClass* pRuntimeClass, BOOL bMultiInstance,
                      const wchar_t* lpszProgID);
    // Revokes a registration that is still there and leaves the list.
    ~COleObjectFactory() override;

    // A factory is a static object: the last COM reference going deletes nothing.
    void OnFinalRelease() override;

    const AFX_INTERFACEMAP* GetInterfaceMap() const override;
    static const AFX_INTERFACEMAP* GetThisInterfaceMap();

    // Makes the factory known to OLE for this run of the program; TRUE on success.
    virtual BOOL Register();
    BOOL IsRegistered() const { return m_dwRegister != 0; }
    // Takes the registration back, if there is one.
    void Revoke();
    // Writes (TRUE) the factory's entries under HKEY_CLASSES_ROOT; TRUE when every entry was
    // written. The program never removes its entries, so FALSE does nothing and answers FALSE.
    virtual BOOL UpdateRegistry(BOOL bRegister);

    // Registers every factory not yet registered whose class identifier is not null; TRUE when
    // every registration succeeded.
    static BOOL RegisterAll();
    static void RevokeAll();
    // Records every factory in the registry; FALSE as soon as one fails.
    static BOOL UpdateRegistryAll(BOOL bRegister = TRUE);


private:
    class XClassFactory : public CInterfacePart<IClassFactory> {
    public:
        explicit XClassFactory(COleObjectFactory& factory)
            : CInterfacePart(factory), m_factory(factory) {}
        HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* pUnkOuter, REFIID riid,
                                                 void** ppvObject) override;
        HRESULT STDMETHODCALLTYPE LockServer(BOOL fLock) override;

    private:
        COleObjectFactory& m_factory;
    };

    IUnknown* ClassFactoryPart() { return &m_xClassFactory; }

    CLSID m_clsid;
    const CRuntimeClass* m_pRuntimeClass;
    BOOL m_bMultiInstance;
    const wchar_t* m_lpszProgID;
    DWORD m_dwRegister = 0;
    XClassFactory m_xClassFactory;
    COleObjectFactory* m_pNextFactory;
};
