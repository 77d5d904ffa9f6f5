#include <thread>

#include "BusyCallRun.h"
#include "com/VelqorComCalls.h"
#include "com/runtime/ComPlatform.h"

struct BusyRun::Worker {
    std::thread thread;
};

BusyRun::BusyRun(std::function<void()> body, std::function<void()> ended)
    : worker_(std::make_unique<Worker>()) {
    worker_->thread = std::thread([body = std::move(body), ended = std::move(ended)] {
        // The worker joins COM for the call as the window's thread has: the COM transport's
        // calls need an initialised thread.
        const HRESULT co = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        {
            // Cancel ends a COM call under way as it ends an HTTP exchange.
            velqor::TComCallBounds bounds(0);
            body();
        }
        if (SUCCEEDED(co)) CoUninitialize();
        ended();
    });
}

BusyRun::~BusyRun() { worker_->thread.join(); }
