// Run-time class records: what class an object is, what its base is, and how to make one.
//   CRuntimeClass     one class's record, a constexpr object kept by the class itself
//   CreateObjectOf<T> the maker a record holds when its class is creatable by name
#pragma once

#include <new>

class CCmdTarget;

struct CRuntimeClass {
    const char* m_lpszClassName;
    const CRuntimeClass* (*m_pfnGetBaseClass)(); // null at the root
    CCmdTarget* (*m_pfnCreateObject)();          // null when the class is not creatable

    // A new object made with the class's default constructor; null when the class is not
    // creatable or memory ran out.
    CCmdTarget* CreateObject() const { return m_pfnCreateObject ? m_pfnCreateObject() : nullptr; }

    // Whether this class is pBaseClass or derives from it.
    bool IsDerivedFrom(const CRuntimeClass* pBaseClass) const {
        for (const CRuntimeClass* record = this; record != nullptr;
             record = record->m_pfnGetBaseClass ? record->m_pfnGetBaseClass() : nullptr) {
            if (record == pBaseClass)
                return true;
        }
        return false;
    }
};

// No exception may leave the COM method that creates an object, so running out of memory
// gives null.
template <class T>
CCmdTarget* CreateObjectOf() {
    return new (std::nothrow) T;
}
