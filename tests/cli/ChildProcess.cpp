#include "ChildProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <stdexcept>

extern char** environ;

namespace tagscope::clitest {

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& args,
                           const std::vector<std::string>& env) {
    int out[2], err[2];
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe failed");

    // Everything the child needs is prepared before fork (the test runs threads).
    std::vector<std::string> envStore;
    for (char** e = environ; *e; ++e) envStore.emplace_back(*e);
    for (const auto& e : env) envStore.push_back(e);
    std::vector<char*> envp, argv;
    for (auto& e : envStore) envp.push_back(e.data());
    envp.push_back(nullptr);
    std::string prog = program;
    std::vector<std::string> argStore = args;
    argv.push_back(prog.data());
    for (auto& a : argStore) argv.push_back(a.data());
    argv.push_back(nullptr);

    pid_ = fork();
    if (pid_ < 0) throw std::runtime_error("fork failed");
    if (pid_ == 0) {
        dup2(out[1], 1);
        dup2(err[1], 2);
        // A child of a test runner must see Ctrl-C like one started from a shell.
        signal(SIGINT, SIG_DFL);
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        execve(prog.c_str(), argv.data(), envp.data());
        _exit(127);
    }
    close(out[1]);
    close(err[1]);
    outFd_ = out[0];
    errFd_ = err[0];
}

ChildProcess::~ChildProcess() {
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    if (outFd_ >= 0) close(outFd_);
    if (errFd_ >= 0) close(errFd_);
}

bool ChildProcess::Pump(std::chrono::milliseconds slice) {
    pollfd fds[2];
    int n = 0;
    if (outFd_ >= 0) fds[n++] = {outFd_, POLLIN, 0};
    if (errFd_ >= 0) fds[n++] = {errFd_, POLLIN, 0};
    if (n == 0) return false;
    const int r = poll(fds, nfds_t(n), int(slice.count()));
    if (r < 0 && errno != EINTR) return false;
    for (int i = 0; i < n; ++i) {
        if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
        char buf[4096];
        const ssize_t got = read(fds[i].fd, buf, sizeof buf);
        const bool isOut = fds[i].fd == outFd_;
        if (got > 0) {
            (isOut ? result_.out : result_.err).append(buf, size_t(got));
        } else if (got == 0 || (errno != EINTR && errno != EAGAIN)) {
            close(fds[i].fd);
            (isOut ? outFd_ : errFd_) = -1;
        }
    }
    return outFd_ >= 0 || errFd_ >= 0;
}

bool ChildProcess::WaitForLines(size_t lines, std::chrono::milliseconds timeout) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (size_t(std::count(result_.out.begin(), result_.out.end(), '\n')) < lines) {
        if (std::chrono::steady_clock::now() >= end) return false;
        if (!Pump(std::chrono::milliseconds(50)))
            return size_t(std::count(result_.out.begin(), result_.out.end(), '\n')) >= lines;
    }
    return true;
}

void ChildProcess::Signal(int sig) {
    if (pid_ > 0) kill(pid_, sig);
}

Result ChildProcess::Finish(std::chrono::milliseconds timeout) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < end && Pump(std::chrono::milliseconds(50))) {
    }
    if (outFd_ >= 0 || errFd_ >= 0) {  // still open: the time is up
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
        pid_ = -1;
        result_.exitCode = -1;
        return result_;
    }
    int status = 0;
    // The pipes closed; the exit follows at once.
    while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
    result_.exitCode = WIFEXITED(status)     ? WEXITSTATUS(status)
                       : WIFSIGNALED(status) ? 128 + WTERMSIG(status)
                                             : -1;
    return result_;
}

Result Run(const std::string& program, const std::vector<std::string>& args,
           const std::vector<std::string>& env, std::chrono::milliseconds timeout) {
    ChildProcess p(program, args, env);
    return p.Finish(timeout);
}

}  // namespace tagscope::clitest
