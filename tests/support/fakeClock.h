// A clock that moves only when the code under test pauses or the test says so.
//
// While a FakeClock exists, the seam's clocks read a time that starts at the real time of its
// construction, and the seam's pauses (sleep, and select without descriptors as psThreadDelay
// uses it) return at once after moving that time forward by what they were asked to wait. Each
// pause yields the processor for a moment of real time, so that a thread the test runs beside
// the pausing one still gets to run. One FakeClock at a time.
#pragma once

#include <atomic>

#include "base/sysCalls.h"

namespace pisnp_test {

class FakeClock {
  public:
    FakeClock();
    ~FakeClock();
    FakeClock(const FakeClock&) = delete;
    FakeClock& operator=(const FakeClock&) = delete;

    void advance(double seconds);
    // Seconds the fake time has moved since construction.
    double elapsed() const;
    // Pauses made through the seam since construction.
    int pauses() const;

  private:
    pisnp::sys::Override<decltype(pisnp::sys::Table::gettimeofday)> gettimeofday_;
    pisnp::sys::Override<decltype(pisnp::sys::Table::time)> time_;
    pisnp::sys::Override<decltype(pisnp::sys::Table::clock_gettime)> clock_;
    pisnp::sys::Override<decltype(pisnp::sys::Table::sleep)> sleep_;
    pisnp::sys::Override<decltype(pisnp::sys::Table::select)> select_;
};

}  // namespace pisnp_test
