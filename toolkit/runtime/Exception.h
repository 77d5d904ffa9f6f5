// The one root of every error the toolkit raises, and the error of a failed COM-style call.
#pragma once

#include <stdexcept>
#include <string>

#include "HResult.h"

namespace velqor {

// The plain base exception class: configuration and programming errors are raised as it,
// every other toolkit error derives from it.
class Exception : public std::runtime_error {
  public:
    explicit Exception(const std::string& message) : std::runtime_error(message) {}
    std::string Message() const { return what(); }
};

// A COM-style call failed with a result code that has no toolkit text of its own
// (for example E_NOINTERFACE when an object lacks an interface).
class EOleSysError : public Exception {
  public:
    EOleSysError(com::HRESULT code, const std::string& message) : Exception(message), code_(code) {}
    explicit EOleSysError(com::HRESULT code) : EOleSysError(code, com::SystemMessageText(code)) {}
    com::HRESULT ErrorCode() const { return code_; }

  private:
    com::HRESULT code_;
};

// Raises EOleSysError for a failure code; a success code returns.
inline void RaiseIfFailed(com::HRESULT code) {
    if (code < 0) throw EOleSysError(code);
}

}  // namespace velqor
