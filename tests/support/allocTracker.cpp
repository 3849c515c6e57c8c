#include "support/allocTracker.h"

namespace pisnp_test {

AllocTracker::AllocTracker() : previous_(arc::testing::setAllocObserver(this)) {}

AllocTracker::~AllocTracker() {
    arc::testing::setAllocObserver(previous_);
}

void AllocTracker::failAt(unsigned long nth, bool andLater) {
    std::lock_guard lock(mutex_);
    failAt_ = nth == 0 ? 0 : count_ + nth;
    failLater_ = andLater;
}

unsigned long AllocTracker::allocations() const {
    std::lock_guard lock(mutex_);
    return count_;
}

unsigned long AllocTracker::failures() const {
    std::lock_guard lock(mutex_);
    return failed_;
}

size_t AllocTracker::live() const {
    std::lock_guard lock(mutex_);
    return live_.size();
}

bool AllocTracker::allow(size_t) {
    std::lock_guard lock(mutex_);
    ++count_;
    bool fail = failAt_ != 0 && (count_ == failAt_ || (failLater_ && count_ > failAt_));
    if (fail) ++failed_;
    return !fail;
}

void AllocTracker::allocated(void* p) {
    std::lock_guard lock(mutex_);
    live_.insert(p);
}

void AllocTracker::released(void* p) {
    std::lock_guard lock(mutex_);
    live_.erase(p);
}

}  // namespace pisnp_test
