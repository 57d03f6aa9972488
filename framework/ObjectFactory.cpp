#include "framework/ObjectFactory.h"

namespace {

// Constant-initialised, so factories constructed during static initialisation find it ready.
COleObjectFactory* g_pFirstFactory = nullptr;

} // namespace

COleObjectFactory::COleObjectFactory() : m_pNextFactory(g_pFirstFactory) {
    g_pFirstFactory = this;
}

COleObjectFactory::~COleObjectFactory() {
    for (COleObjectFactory** link = &g_pFirstFactory; *link != nullptr;
         link = &(*link)->m_pNextFactory) {
        if (*link == this) {
            *link = m_pNextFactory;
            break;
        }
    }
}

BOOL COleObjectFactory::RegisterAll() {
    BOOL bResult = TRUE;
    for (COleObjectFactory* factory = g_pFirstFactory; factory != nullptr;
         factory = factory->m_pNextFactory) {
        if (!factory->Register())
            bResult = FALSE;
    }
    return bResult;
}

BOOL COleObjectFactory::UpdateRegistryAll(BOOL bRegister) {
    for (COleObjectFactory* factory = g_pFirstFactory; factory != nullptr;
         factory = factory->m_pNextFactory) {
        if (!factory->UpdateRegistry(bRegister))
            return FALSE;
    }
    return TRUE;
}
