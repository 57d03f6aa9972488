// The automation object.
//   CLSID_KelvaneApplication  the class identifier of "Kelvane.Application"
//   IID_IKelvane              the identifier of its dispatch interface
//   CKelvaneDlgAutoProxy      the object a client creates: it stands for the running panel and
//                             offers no methods and no properties; while it lives the panel only
//                             hides when closed
#pragma once

#include <windows.h>
#include "framework/CmdTarget.h"
#include "framework/ObjectFactory.h"

class CKelvaneDlg;

// {DB904469-253D-4D41-972B-F51EFC0E8E78}
inline constexpr CLSID CLSID_KelvaneApplication = {
    0xdb904469, 0x253d, 0x4d41, {0x97, 0x2b, 0xf5, 0x1e, 0xfc, 0x0e, 0x8e, 0x78}};
// {E8216A3C-8582-48D9-9E5C-C4F6D30F2D2A}
inline constexpr IID IID_IKelvane = {
    0xe8216a3c, 0x8582, 0x48d9, {0x9e, 0x5c, 0xc4, 0xf6, 0xd3, 0x0f, 0x2d, 0x2a}};

class CKelvaneDlgAutoProxy : public CCmdTarget {
public:
    // Enables automation, takes an application lock and ties itself to the panel, the
    // application's main window, unless another object holds the panel already.
    CKelvaneDlgAutoProxy();

    const CRuntimeClass* GetRuntimeClass() const override;
    static const CRuntimeClass* GetThisClass();
    // Lets go of the panel, then of the application lock: the last object of an
    // automation-started program closes the panel and so ends the program.
    ~CKelvaneDlgAutoProxy() override;
    void OnFinalRelease() override;
    const AFX_MSGMAP* GetMessageMap() const override;
    static const AFX_MSGMAP* GetThisMessageMap();
    const AFX_DISPMAP* GetDispatchMap() const override;
    static const AFX_DISPMAP* GetThisDispatchMap();
    const AFX_INTERFACEMAP* GetInterfaceMap() const override;
    static const AFX_INTERFACEMAP* GetThisInterfaceMap();

    CKelvaneDlg* m_pDialog; // the panel, not owned; null once the panel is gone

    // The factory of "Kelvane.Application": multi-instance, so each client gets a program
    // instance of its own. Defined in app/Kelvane.cpp, ahead of theApp, so that it is
    // constructed before the application object and destroyed after it.
    static COleObjectFactory factory;
};
