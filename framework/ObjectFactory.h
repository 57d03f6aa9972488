// Class factories: how OLE creates the program's automation objects.
//   COleObjectFactory  one factory; every factory of the program joins one list when it is
//                      constructed, and start-up registers or records the whole list at once
#pragma once

#include <windows.h>
#include "framework/CmdTarget.h"

class COleObjectFactory : public CCmdTarget {
public:
    COleObjectFactory();
    ~COleObjectFactory() override;

    // Makes the factory known to OLE for this run of the program; TRUE on success.
    virtual BOOL Register() = 0;
    // Writes (TRUE) the factory's registry entries; TRUE on success.
    virtual BOOL UpdateRegistry(BOOL bRegister) = 0;

    // Registers every factory; TRUE when every registration succeeded.
    static BOOL RegisterAll();
    // Records every factory in the registry; FALSE as soon as one fails.
    static BOOL UpdateRegistryAll(BOOL bRegister = TRUE);

private:
    COleObjectFactory* m_pNextFactory = nullptr;
};
