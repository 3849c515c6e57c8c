// Follows the checked allocator during a test: counts allocations, makes a chosen one fail
// (and optionally every later one), and knows which blocks are still live.
#pragma once

#include <cstddef>
#include <mutex>
#include <unordered_set>

#include "mem/allocFaults.h"

namespace pisnp_test {

class AllocTracker final : public arc::testing::AllocObserver {
  public:
    AllocTracker();  // installs itself
    ~AllocTracker();
    AllocTracker(const AllocTracker&) = delete;
    AllocTracker& operator=(const AllocTracker&) = delete;

    // The nth allocation from now on (1-based) fails; with andLater every later one fails too.
    // 0 turns failures off.
    void failAt(unsigned long nth, bool andLater = false);

    unsigned long allocations() const;  // allocations asked for since installation
    unsigned long failures() const;     // of which were made to fail
    size_t live() const;                // blocks handed out since installation, not yet released

    bool allow(size_t size) override;
    void allocated(void* p) override;
    void released(void* p) override;

  private:
    mutable std::mutex mutex_;
    AllocObserver* previous_;
    unsigned long count_ = 0;
    unsigned long failed_ = 0;
    unsigned long failAt_ = 0;
    bool failLater_ = false;
    std::unordered_set<void*> live_;
};

// Runs op with the 1st, 2nd, ... allocation failing until op succeeds without any injected
// failure. After every run the check is called with op's result and whether a failure was
// injected; the tracker's live count is checked against `expectedLive` (usually 0).
template <typename Op, typename Check>
unsigned long sweepAllocationFailures(Op op, Check check, bool andLater = false) {
    for (unsigned long nth = 1; nth < 100000; ++nth) {
        AllocTracker tracker;
        tracker.failAt(nth, andLater);
        auto result = op();
        bool injected = tracker.failures() > 0;
        check(result, injected, tracker);
        if (!injected) return nth;
    }
    return 0;
}

}  // namespace pisnp_test
