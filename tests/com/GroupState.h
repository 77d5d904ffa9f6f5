// What IOPCGroupStateMgt::GetState hands back, for tests that call it through a server or proxy.
#pragma once

#include "com/OpcDaIntf.h"

namespace velqor::test {

// Every [out] parameter of GetState; Name is the server's allocation, for the caller to free.
struct GroupStateOut {
    DWORD Rate = 0;
    BOOL Active = FALSE;
    LPWSTR Name = nullptr;
    LONG Bias = 0;
    FLOAT Deadband = 0;
    DWORD Locale = 0;
    OPCHANDLE Client = 0, Server = 0;

    HRESULT Get(IOPCGroupStateMgt* group) {
        return group->GetState(&Rate, &Active, &Name, &Bias, &Deadband, &Locale, &Client, &Server);
    }
};

}  // namespace velqor::test
