#include "BusyCallRun.h"
#include "com/VelqorComCalls.h"

struct BusyRun::Worker {};

BusyRun::BusyRun(std::function<void()> body, std::function<void()> ended) {
    {
        // The message filter ends a COM call under way when the call's cancel scope is
        // cancelled, and keeps window messages flowing while it waits.
        velqor::TComCallBounds bounds(0);
        body();
    }
    ended();
}

BusyRun::~BusyRun() = default;
