// The few socket calls the guarded server makes beyond what the HTTP library wraps, under one
// set of names for POSIX and Winsock.
#pragma once

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace velqor::xmldasim::sockets {

#ifdef _WIN32
using socket_t = SOCKET;
constexpr int kNoSignal = 0;  // Winsock raises no signal on a closed connection
constexpr int kDontWait = 0;  // every receive and send follows a poll that found it ready
constexpr int kShutWrite = SD_SEND;
constexpr int kShutBoth = SD_BOTH;
inline int Poll(pollfd* fds, unsigned long n, int ms) { return WSAPoll(fds, n, ms); }
inline int Close(socket_t s) { return closesocket(s); }
// The last call failed only for now: try again.
inline bool Transient() {
    const int e = WSAGetLastError();
    return e == WSAEWOULDBLOCK || e == WSAEINTR;
}
inline bool Interrupted() { return WSAGetLastError() == WSAEINTR; }
// A port that another server listens on is refused: on Windows that takes exclusive use (there
// SO_REUSEADDR would take the port over).
inline void RefuseTakenPort(socket_t s) {
    BOOL yes = TRUE;
    ::setsockopt(s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&yes),
                 sizeof yes);
}
inline void AbortOnClose(socket_t s) {
    linger abort{1, 0};
    ::setsockopt(s, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&abort), sizeof abort);
}
#else
using socket_t = int;
constexpr int kNoSignal = MSG_NOSIGNAL;
constexpr int kDontWait = MSG_DONTWAIT;
constexpr int kShutWrite = SHUT_WR;
constexpr int kShutBoth = SHUT_RDWR;
inline int Poll(pollfd* fds, nfds_t n, int ms) { return ::poll(fds, n, ms); }
inline int Close(socket_t s) { return ::close(s); }
inline bool Transient() { return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR; }
inline bool Interrupted() { return errno == EINTR; }
// SO_REUSEADDR alone: a restart may take a port whose old connections linger, but a port
// another server listens on is refused (SO_REUSEPORT would share it).
inline void RefuseTakenPort(socket_t s) {
    int yes = 1;
    ::setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
}
inline void AbortOnClose(socket_t s) {
    linger abort{1, 0};
    ::setsockopt(s, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
}
#endif

}  // namespace velqor::xmldasim::sockets
