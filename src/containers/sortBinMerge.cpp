// Natural two-way merge sort of a chain of records whose first word links to the next one.
//
// Each pass deals the chain's ascending runs alternately to two lists A and B (a new run starts
// wherever an item is less than the one before it) and merges them into one chain, until a pass
// finds a single run. The merge appends the smaller head that does not break the output's
// current run (A's on ties), takes the rest of a run from one list in one go when the other
// list's head would break it, and starts a new output run with the smaller head when both would.
//
// What makes it fast without changing which order comes out:
//  - A pass deals its output straight into the next pass's two lists: the places where its
//    output descends are exactly where the next split would switch lists, and it knows them.
//  - Within a run, each item is known not to be less than the one before it, so the merge need
//    not compare them again. The dealing marks in the lowest bit of a link where one run of a
//    list ends and the next begins (records hold a pointer, so that bit is free); only there must
//    the merge compare an item with its predecessor. A finished chain carries no marks.
//  - The passes run together: each merges what the pass before it has just dealt, while the
//    items are still in the processor's caches, instead of walking the whole chain once per pass.
//  - A chain in strictly descending order is reversed in one walk.
//  - The first pass writes a link only where a run ends: within a run each item links to the
//    next already.
//  - The records lie wherever their owner put them, so reading the next one is mostly a wait for
//    memory. A merge asks for the records two and three behind a list's head as it takes the
//    head, so that they are on their way while it compares.
// The order assumes a consistent compare function (one that orders the records); with any other
// the sort still ends and leaves a permutation of the chain.
//
// The test flag SORTWHILELOOP selects a form of the run-taking loop; every form gives the same
// order, so this one serves both settings.
#include "pisnp/handleLists.h"

#include <cstdint>
#include <new>

namespace {

struct Rec {
    Rec* next;
};

constexpr uintptr_t kRunStart = 1;
// Enough for any chain: with a consistent compare function each pass halves the runs.
constexpr int kMaxPasses = 100;
// Items the first pass deals before the later passes catch up: their working set stays small
// enough for the processor's caches.
constexpr int kSplitBudget = 2048;

Rec* unmarked(Rec* link) {
    return reinterpret_cast<Rec*>(reinterpret_cast<uintptr_t>(link) & ~kRunStart);
}
bool startsRun(Rec* link) {
    return (reinterpret_cast<uintptr_t>(link) & kRunStart) != 0;
}
Rec* markedAsRunStart(Rec* r) {
    return reinterpret_cast<Rec*>(reinterpret_cast<uintptr_t>(r) | kRunStart);
}

// Asks for the records after r, which is about to become a list's head. Every link leads to a
// record or is null, also one that its stage has yet to write, so these reads are safe. Inlined:
// the compiler takes a function that only prefetches for one without effect and drops the call.
[[gnu::always_inline]] inline void prefetchAfter(const Rec* r) {
    if (r == nullptr) return;
    const Rec* next = unmarked(r->next);
    if (next == nullptr) return;
    __builtin_prefetch(next);
    __builtin_prefetch(unmarked(next->next));
}

// Either stage's output: the runs it produces, dealt alternately to two lists.
class Stage {
  public:
    Rec* first_[2] = {nullptr, nullptr};
    Rec* last_[2] = {nullptr, nullptr};
    bool done_ = false;  // both lists are complete and terminated

  protected:
    Stage(llSortCompare_t compare, const void* context) : compare_(compare), context_(context) {}

    bool greater(const Rec* a, const Rec* b) const { return compare_(a, b, context_) > 0; }
    bool less(const Rec* a, const Rec* b) const { return compare_(a, b, context_) < 0; }

    void append(Rec* r) {
        if (first_[current_] == nullptr)
            first_[current_] = r;
        else
            last_[current_]->next = runStart_ ? markedAsRunStart(r) : r;
        last_[current_] = r;
        runStart_ = false;
    }
    void keepLast(Rec* r) { last_[current_] = r; }
    // The next item starts a new run, in the other list.
    void descent() {
        current_ ^= 1;
        runStart_ = true;
    }
    void finish() {
        if (last_[0] != nullptr) last_[0]->next = nullptr;
        if (last_[1] != nullptr) last_[1]->next = nullptr;
        done_ = true;
    }

  private:
    llSortCompare_t compare_;
    const void* context_;
    int current_ = 0;
    bool runStart_ = false;
};

// The first pass: deals the chain's runs, a few items at a time.
class Split : public Stage {
  public:
    Split(Rec* head, llSortCompare_t compare, const void* context)
        : Stage(compare, context), prev_(head), next_(head->next) {
        append(head);
    }

    void run(int budget) {
        Split copy = *this;
        copy.step(budget);
        *this = copy;
    }

  private:
    void step(int budget) {
        for (; budget > 0 && next_ != nullptr; --budget) {
            Rec* x = next_;
            next_ = x->next;
            if (greater(prev_, x)) {
                descent();
                append(x);
            } else {
                // The current list's last item is prev_, which links to x already.
                keepLast(x);
            }
            prev_ = x;
        }
        if (next_ == nullptr && !done_) finish();
    }

    Rec* prev_;
    Rec* next_;
};

// A later pass: merges the two lists of the stage before it while that stage still deals them,
// so that it reads items soon after they were written. It only takes an item whose link the
// stage before will not write again (one that is not the last of its list, unless that stage
// is done); until then it waits, and resumes where it stopped.
class Merge : public Stage {
  public:
    Merge(const Stage* in, llSortCompare_t compare, const void* context)
        : Stage(compare, context), in_(in), heads_{in->first_[0], in->first_[1]} {}

    // Works on a copy that the compiler can hold in registers: stores through the records'
    // links could otherwise alias the object's own pointers.
    void run() {
        Merge copy = *this;
        copy.step();
        *this = copy;
    }

  private:
    enum Phase { kFirst, kMerge, kRun, kRest, kDone };

    void step() {
        for (;;) {
            switch (phase_) {
                case kFirst: {
                    int x = smaller();
                    if (!takeable(x)) return;
                    x_ = x;
                    known_ = take(x);
                    phase_ = kMerge;
                    break;
                }
                // Here the head of list x_ ^ 1 is not less than the output's last item.
                case kMerge: {
                    int y = x_ ^ 1;
                    if (heads_[x_] == nullptr) {
                        rest_ = y;
                        phase_ = kRest;
                    } else if (continues(x_, known_)) {
                        int x = smaller();
                        if (!takeable(x)) return;
                        x_ = x;
                        known_ = take(x);
                    } else {
                        // x_'s head would break the output's run, y's continues it: take the
                        // rest of y's run.
                        if (!takeable(y)) return;
                        known_ = take(y);
                        phase_ = kRun;
                    }
                    break;
                }
                case kRun: {
                    int y = x_ ^ 1;
                    if (heads_[y] != nullptr && continues(y, known_)) {
                        if (!takeable(y)) return;
                        known_ = take(y);
                    } else if (heads_[y] == nullptr) {
                        rest_ = x_;
                        descent();
                        phase_ = kRest;
                    } else {
                        // Both heads are less than the last item: the smaller starts a new run.
                        int x = smaller();
                        if (!takeable(x)) return;
                        descent();
                        x_ = x;
                        known_ = take(x);
                        phase_ = kMerge;
                    }
                    break;
                }
                case kRest: {
                    for (Rec* r = heads_[rest_]; r != nullptr; r = heads_[rest_]) {
                        if (!takeable(rest_)) return;
                        Rec* link = r->next;
                        heads_[rest_] = unmarked(link);
                        prefetchAfter(heads_[rest_]);
                        append(r);
                        if (heads_[rest_] != nullptr && startsRun(link) &&
                            greater(r, heads_[rest_]))
                            descent();
                    }
                    finish();
                    phase_ = kDone;
                    return;
                }
                case kDone:
                    return;
            }
        }
    }

    bool takeable(int x) const { return heads_[x] != in_->last_[x] || in_->done_; }
    // Appends the head of list x; tells whether the new head is known to continue its run.
    bool take(int x) {
        Rec* r = heads_[x];
        Rec* link = r->next;
        heads_[x] = unmarked(link);
        prefetchAfter(heads_[x]);
        append(r);
        lastTaken_ = r;
        return !startsRun(link);
    }
    // Whether list x's head continues the run of the item just taken from it.
    bool continues(int x, bool known) const { return known || !less(heads_[x], lastTaken_); }
    // The list with the smaller head, A on ties.
    int smaller() const { return greater(heads_[0], heads_[1]) ? 1 : 0; }

    const Stage* in_;
    Rec* heads_[2];
    Rec* lastTaken_ = nullptr;
    Phase phase_ = kFirst;
    int x_ = 0;
    int rest_ = 0;
    bool known_ = false;
};

// A chain in strictly descending order, reversed in one walk; null, with the chain as it was,
// for any other.
Rec* reversedIfDescending(Rec* head, Rec*& tail, llSortCompare_t compare, const void* context) {
    Rec* out = nullptr;
    for (Rec* r = head;;) {
        Rec* next = r->next;
        r->next = out;
        out = r;
        if (next == nullptr) {
            tail = head;
            return out;
        }
        if (compare(r, next, context) <= 0) {
            while (out != nullptr) {
                Rec* back = out->next;
                out->next = next;
                next = out;
                out = back;
            }
            return nullptr;
        }
        r = next;
    }
}

// Only for a compare function that never settles: one chain, without marks.
Rec* flatten(Stage& s, Rec*& tail) {
    s.last_[0]->next = s.first_[1];
    for (Rec* r = s.first_[0]; r != nullptr; r = r->next) {
        r->next = unmarked(r->next);
        tail = r;
    }
    return s.first_[0];
}

Rec* sortChain(Rec* head, Rec*& tail, llSortCompare_t compare, const void* context) {
    if (head == nullptr || head->next == nullptr) {
        tail = head;
        return head;
    }
    if (Rec* reversed = reversedIfDescending(head, tail, compare, context)) return reversed;
    Split split(head, compare, context);
    // The stages live on the stack, constructed as they are needed.
    alignas(Merge) unsigned char storage[kMaxPasses][sizeof(Merge)];
    auto merge = [&storage](int i) { return std::launder(reinterpret_cast<Merge*>(storage[i])); };
    int merges = 0;
    for (;;) {
        split.run(kSplitBudget);
        for (int i = 0; i < merges; ++i) merge(i)->run();
        Stage* last = merges == 0 ? static_cast<Stage*>(&split) : merge(merges - 1);
        if (last->first_[1] != nullptr && merges < kMaxPasses) {
            new (storage[merges]) Merge(last, compare, context);
            ++merges;
        } else if (last->done_) {
            if (last->first_[1] != nullptr) return flatten(*last, tail);
            tail = last->last_[0];
            return last->first_[0];
        }
    }
}

}  // namespace

void* sortBinMerge(void* head, void*& tail, llSortCompare_t compare, const void* context) {
    if (compare == nullptr) {
        Rec* r = static_cast<Rec*>(head);
        while (r != nullptr && r->next != nullptr) r = r->next;
        tail = r;
        return head;
    }
    Rec* last = nullptr;
    Rec* first = sortChain(static_cast<Rec*>(head), last, compare, context);
    tail = last;
    return first;
}

void* sortBinMerge(void* head, llSortCompare_t compare, const void* context) {
    void* tail = nullptr;
    return sortBinMerge(head, tail, compare, context);
}
