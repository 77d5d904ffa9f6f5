// Server calls started from the window never stop it from painting: the call runs on a worker
// thread while the GUI thread waits in a local event loop. Meanwhile the toolkit's event loop is
// held (no component message, no keep-alive tick re-enters the component under the call) and
// the windows open when the call started take no user input.
//
// Ownership: the component objects belong to the GUI thread; during a busy call the worker
// borrows them and the GUI thread touches none of them (the item list paints from its own
// texts), so exactly one thread uses them at any time.
#pragma once

#include <QString>
#include <functional>

enum class BusyKind {
    // The user waits for the call: after a moment a busy indicator shows what is being done,
    // with a Cancel button that ends the call's exchanges (the call then ends with EAbort).
    Interactive,
    // A refresh the user did not ask for: no indicator; a user input cancels it and is
    // delivered once it has ended, so that it never stands in the user's way.
    Background,
};

// Runs call as described above and returns when it has ended; the call's exception, if any,
// is thrown again on the GUI thread. Only one call runs at a time: a Background call asked for
// during another is skipped (returns false); an Interactive one is refused with an error.
// Called from a thread other than the GUI thread, or without a running application, the call
// simply runs in place.
bool RunBusy(const QString& what, const std::function<void()>& call,
             BusyKind kind = BusyKind::Interactive);

// True while a busy call runs.
bool BusyCallRunning();

// Delay before the busy indicator appears, in milliseconds (tests set it to 0).
void SetBusyIndicatorDelay(int ms);
