// Natural two-way merge sort of a chain of records whose first word links to the next one.
//
// Each pass deals the chain's ascending runs alternately to two lists A and B (a new run starts
// wherever an item is less than the one before it) and merges them into one chain, until a pass
// finds a single run. The merge appends the smaller head that does not break the output's
// current run (A's on ties), takes the rest of a run from one list in one go when the other
// list's head would break it, and starts a new output run with the smaller head when both would.
//
// Two things make this fast without changing which order comes out:
//  - The merge deals its output straight into the next pass's two lists: the places where its
//    output descends are exactly where the next split would switch lists, and the merge already
//    knows them.
//  - Within a run, each item is known not to be less than the one before it, so the merge need
//    not compare them again. The dealing marks in the lowest bit of a link where one run of a
//    list ends and the next begins (records hold a pointer, so that bit is free); only there must
//    the merge compare an item with its predecessor. A finished chain carries no marks.
// A chain in descending order is reversed straight after the first split. The result assumes a
// consistent compare function (one that orders the records); with any other the sort still ends
// and leaves a permutation of the chain.
//
// The test flag SORTWHILELOOP once chose between two forms of the run-taking loop that give
// the same order; this one serves both settings.
#include "pisnp/handleLists.h"

#include <cstdint>

namespace {

struct Rec {
    Rec* next;
};

constexpr uintptr_t kRunStart = 1;
// Enough for any chain: with a consistent compare function each pass halves the runs.
constexpr int kMaxPasses = 100;

Rec* unmarked(Rec* link) {
    return reinterpret_cast<Rec*>(reinterpret_cast<uintptr_t>(link) & ~kRunStart);
}
bool startsRun(Rec* link) {
    return (reinterpret_cast<uintptr_t>(link) & kRunStart) != 0;
}
Rec* markedAsRunStart(Rec* r) {
    return reinterpret_cast<Rec*>(reinterpret_cast<uintptr_t>(r) | kRunStart);
}

class Sorter {
  public:
    Sorter(llSortCompare_t compare, const void* context) : compare_(compare), context_(context) {}

    Rec* sort(Rec* head, Rec*& tail) {
        if (head == nullptr || head->next == nullptr) {
            tail = head;
            return head;
        }
        bool descending = split(head);
        if (descending) return reverse(tail);
        for (int pass = 0; first_[1] != nullptr && pass < kMaxPasses; ++pass) merge();
        if (first_[1] != nullptr) return flatten(tail);
        tail = last_[0];
        return first_[0];
    }

  private:
    bool greater(const Rec* a, const Rec* b) const { return compare_(a, b, context_) > 0; }
    bool less(const Rec* a, const Rec* b) const { return compare_(a, b, context_) < 0; }

    // The dealing: appends to the current list; a descent switches lists first.
    void reset() {
        first_[0] = first_[1] = last_[0] = last_[1] = nullptr;
        current_ = 0;
        runStart_ = false;
    }
    void append(Rec* r) {
        if (first_[current_] == nullptr)
            first_[current_] = r;
        else
            last_[current_]->next = runStart_ ? markedAsRunStart(r) : r;
        last_[current_] = r;
        runStart_ = false;
    }
    void descent() {
        current_ ^= 1;
        runStart_ = true;
    }
    void terminate() {
        if (last_[0] != nullptr) last_[0]->next = nullptr;
        if (last_[1] != nullptr) last_[1]->next = nullptr;
    }

    // First pass: deals the chain's runs; true when every item was less than the one before.
    bool split(Rec* head) {
        reset();
        append(head);
        bool allDescending = true;
        Rec* prev = head;
        for (Rec* x = head->next; x != nullptr;) {
            Rec* next = x->next;
            if (greater(prev, x))
                descent();
            else
                allDescending = false;
            append(x);
            prev = x;
            x = next;
        }
        terminate();
        return allDescending;
    }

    // The chain alternated between the lists, one item at a time; its reverse is sorted.
    Rec* reverse(Rec*& tail) {
        Rec* a = first_[0];
        Rec* b = first_[1];
        tail = a;
        Rec* out = nullptr;
        for (int from = 0; a != nullptr || b != nullptr; from ^= 1) {
            Rec*& src = from == 0 ? a : b;
            Rec* r = src;
            src = unmarked(r->next);
            r->next = out;
            out = r;
        }
        return out;
    }

    // Takes the head of list x and appends it; tells whether the new head is known to continue
    // the run of the item taken.
    bool take(Rec** heads, int x) {
        Rec* r = heads[x];
        Rec* link = r->next;
        heads[x] = unmarked(link);
        append(r);
        lastTaken_ = r;
        return !startsRun(link);
    }
    // Whether list x's head continues the run of the item just taken from it.
    bool continues(Rec** heads, int x, bool known) const {
        return known || !less(heads[x], lastTaken_);
    }
    int smaller(Rec** heads) const { return greater(heads[0], heads[1]) ? 1 : 0; }

    // Deals the rest of a list whose head does not break the output's run (or, after
    // descended, starts a new one).
    void dealRest(Rec* r, bool descended) {
        if (descended) descent();
        while (r != nullptr) {
            Rec* link = r->next;
            Rec* next = unmarked(link);
            append(r);
            if (next != nullptr && startsRun(link) && greater(r, next)) descent();
            r = next;
        }
    }

    void merge() {
        Rec* heads[2] = {first_[0], first_[1]};
        reset();
        int x = smaller(heads);
        bool known = take(heads, x);
        for (;;) {
            int y = x ^ 1;
            // Here the head of y is not less than the output's last item.
            if (heads[x] == nullptr) {
                dealRest(heads[y], false);
                break;
            }
            if (continues(heads, x, known)) {
                x = smaller(heads);
                known = take(heads, x);
                continue;
            }
            // x's head would break the run, y's head continues it: take y's run.
            do {
                known = take(heads, y);
            } while (heads[y] != nullptr && continues(heads, y, known));
            if (heads[y] == nullptr) {
                dealRest(heads[x], true);
                break;
            }
            // Both heads are less than the last item: the smaller one starts a new run.
            descent();
            x = smaller(heads);
            known = take(heads, x);
        }
        terminate();
    }

    // Only for a compare function that never settles: one chain, without marks.
    Rec* flatten(Rec*& tail) {
        last_[0]->next = first_[1];
        for (Rec* r = first_[0]; r != nullptr; r = r->next) {
            r->next = unmarked(r->next);
            tail = r;
        }
        return first_[0];
    }

    llSortCompare_t compare_;
    const void* context_;
    Rec* first_[2] = {nullptr, nullptr};
    Rec* last_[2] = {nullptr, nullptr};
    Rec* lastTaken_ = nullptr;
    int current_ = 0;
    bool runStart_ = false;
};

}  // namespace

void* sortBinMerge(void* head, void*& tail, llSortCompare_t compare, const void* context) {
    if (compare == nullptr) {
        Rec* r = static_cast<Rec*>(head);
        while (r != nullptr && r->next != nullptr) r = r->next;
        tail = r;
        return head;
    }
    Rec* last = nullptr;
    Rec* first = Sorter(compare, context).sort(static_cast<Rec*>(head), last);
    tail = last;
    return first;
}

void* sortBinMerge(void* head, llSortCompare_t compare, const void* context) {
    void* tail = nullptr;
    return sortBinMerge(head, tail, compare, context);
}
