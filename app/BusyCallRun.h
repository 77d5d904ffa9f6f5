// Where a server call started from the window runs; the platform's COM decides. With the
// toolkit's own COM runtime any thread may call an object: the call runs on a worker thread
// while the GUI thread keeps its event loop. On Windows an object is used only in the apartment
// that made it, the GUI thread's: the call runs on the GUI thread itself, and COM keeps the
// window painted while it waits for the server. One file each in platform/.
#pragma once

#include <functional>
#include <memory>

class BusyRun {
  public:
    // Starts body (which catches what it raises); ended runs once body has returned, on the
    // thread that ran it.
    BusyRun(std::function<void()> body, std::function<void()> ended);
    // Returns once body has ended.
    ~BusyRun();
    BusyRun(const BusyRun&) = delete;
    BusyRun& operator=(const BusyRun&) = delete;

  private:
    struct Worker;
    std::unique_ptr<Worker> worker_;
};
