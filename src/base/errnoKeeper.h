// Puts errno back as it was when the keeper goes out of scope: diagnostics must never change
// what a caller is about to read from errno.
#pragma once

#include <cerrno>

namespace pisnp {

class ErrnoKeeper {
  public:
    ErrnoKeeper() : saved_(errno) {}
    ~ErrnoKeeper() { errno = saved_; }
    ErrnoKeeper(const ErrnoKeeper&) = delete;
    ErrnoKeeper& operator=(const ErrnoKeeper&) = delete;

  private:
    int saved_;
};

}  // namespace pisnp
