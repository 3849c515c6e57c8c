#include "support/fakeClock.h"

#include <sched.h>

#include <cstdint>

namespace pisnp_test {

namespace {

using pisnp::sys::Table;

std::atomic<int64_t> gStartNs{0};   // real time at construction
std::atomic<int64_t> gOffsetNs{0};  // how far the fake time has moved
std::atomic<int> gPauses{0};

int64_t nowNs() {
    return gStartNs.load() + gOffsetNs.load();
}

void pause(int64_t ns) {
    gOffsetNs.fetch_add(ns);
    gPauses.fetch_add(1);
    timespec moment{0, 200000};
    nanosleep(&moment, nullptr);
}

int fakeGettimeofday(timeval* tv, void*) {
    int64_t ns = nowNs();
    tv->tv_sec = ns / 1000000000;
    tv->tv_usec = (ns % 1000000000) / 1000;
    return 0;
}

time_t fakeTime(time_t* out) {
    time_t t = static_cast<time_t>(nowNs() / 1000000000);
    if (out != nullptr) *out = t;
    return t;
}

int fakeClockGettime(clockid_t, timespec* out) {
    int64_t ns = nowNs();
    out->tv_sec = ns / 1000000000;
    out->tv_nsec = ns % 1000000000;
    return 0;
}

unsigned int fakeSleep(unsigned int seconds) {
    pause(int64_t{seconds} * 1000000000);
    return 0;
}

int fakeSelect(int n, fd_set* r, fd_set* w, fd_set* e, timeval* timeout) {
    if (n != 0 || timeout == nullptr) return pisnp::sys::real().select(n, r, w, e, timeout);
    pause(int64_t{timeout->tv_sec} * 1000000000 + int64_t{timeout->tv_usec} * 1000);
    return 0;
}

}  // namespace

FakeClock::FakeClock()
    : gettimeofday_(&Table::gettimeofday, fakeGettimeofday),
      time_(&Table::time, fakeTime),
      clock_(&Table::clock_gettime, fakeClockGettime),
      sleep_(&Table::sleep, fakeSleep),
      select_(&Table::select, fakeSelect) {
    timespec real{};
    pisnp::sys::real().clock_gettime(CLOCK_REALTIME, &real);
    gStartNs = int64_t{real.tv_sec} * 1000000000 + real.tv_nsec;
    gOffsetNs = 0;
    gPauses = 0;
}

FakeClock::~FakeClock() = default;

void FakeClock::advance(double seconds) {
    gOffsetNs.fetch_add(static_cast<int64_t>(seconds * 1e9));
}

double FakeClock::elapsed() const {
    return static_cast<double>(gOffsetNs.load()) / 1e9;
}

int FakeClock::pauses() const {
    return gPauses.load();
}

}  // namespace pisnp_test
