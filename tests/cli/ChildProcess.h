// Runs a program as a child process with its standard output and error captured: to the end, or
// started and signalled while it runs.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

namespace tagscope::clitest {

struct Result {
    int exitCode = -1;  // the exit status; 128 + signal when a signal ended it; -1 timed out
    std::string out, err;
};

class ChildProcess {
  public:
    // env: extra "NAME=value" entries added to this process's environment.
    ChildProcess(const std::string& program, const std::vector<std::string>& args,
                 const std::vector<std::string>& env = {});
    ~ChildProcess();  // kills a child that still runs
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Reads output until the standard output holds at least `lines` lines or the time is up.
    bool WaitForLines(size_t lines, std::chrono::milliseconds timeout);
    void Signal(int sig);
    // Reads to the end and waits for the exit; kills the child when the time is up (exitCode -1).
    Result Finish(std::chrono::milliseconds timeout);
    const std::string& Out() const { return result_.out; }

  private:
    bool Pump(std::chrono::milliseconds slice);  // false once both pipes are closed

    pid_t pid_ = -1;
    int outFd_ = -1, errFd_ = -1;
    Result result_;
};

// Runs to the end (default time-out 30 s).
Result Run(const std::string& program, const std::vector<std::string>& args,
           const std::vector<std::string>& env = {},
           std::chrono::milliseconds timeout = std::chrono::seconds(30));

}  // namespace tagscope::clitest
