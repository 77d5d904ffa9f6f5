// What the examples share: the thread set up for the component model, a server connected for
// the example's work, and a toolkit error turned into the exit status.
#pragma once

#include <exception>
#include <functional>
#include <iostream>

#include "com/runtime/ComPlatform.h"
#include "model/Velqor.h"

namespace example {

// Connects a server to serverName (an XML-DA address, or a COM server's ProgID), runs work on it
// and disconnects; returns what work returns, or 1 when the toolkit raises.
inline int WithServer(
    const char* serverName,
    const std::function<int(velqor::TVelqorServer&, velqor::PlainEventLoop&)>& work) {
    // The component model belongs to the thread that runs its event loop; COM servers need
    // that thread in a single-threaded apartment.
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    velqor::PlainEventLoop loop;
    velqor::EventLoop::SetDefault(&loop);
    int rc = 0;
    try {
        velqor::TVelqorServer server(&loop);
        server.SetServerName(serverName);
        server.SetActive(true);  // connects; raises on failure
        rc = work(server, loop);
        server.SetActive(false);  // cancels any subscription
    } catch (const std::exception& e) {
        std::cerr << "error: " << e.what() << "\n";
        rc = 1;
    }
    velqor::EventLoop::SetDefault(nullptr);
    CoUninitialize();
    return rc;
}

}  // namespace example
