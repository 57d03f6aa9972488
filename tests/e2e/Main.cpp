// The end-to-end tests' entry. Started by a test as "--hold-object <event>", the program plays a
// client instead: it creates the automation object, sets the named event and holds the object
// until it is killed, the way a client that crashes leaves its objects behind.
#include <windows.h>
#include <gtest/gtest.h>
#include <string>
#include "app/AutoProxy.h"

namespace {

int HoldObject(const char* eventName) {
    if (FAILED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)))
        return 2;
    IDispatch* object = nullptr;
    if (FAILED(::CoCreateInstance(CLSID_KelvaneApplication, nullptr, CLSCTX_LOCAL_SERVER,
                                  IID_IDispatch, reinterpret_cast<void**>(&object))))
        return 3;
    HANDLE created = ::OpenEventA(EVENT_MODIFY_STATE, FALSE, eventName);
    if (created == nullptr)
        return 4;
    ::SetEvent(created);
    ::CloseHandle(created);
    for (;;)
        ::Sleep(INFINITE);
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::string(argv[1]) == "--hold-object")
        return HoldObject(argv[2]);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
