// The base of a class whose objects have an identity: never copied, never moved.
#pragma once

namespace velqor {

class TNonCopyable {
  public:
    TNonCopyable(const TNonCopyable&) = delete;
    TNonCopyable& operator=(const TNonCopyable&) = delete;

  protected:
    TNonCopyable() = default;
    ~TNonCopyable() = default;
};

}  // namespace velqor
