#include "pisnp/lists.h"

// Hosts built elsewhere rely on this layout: a 16-byte link, the list's members after the
// table pointer in declaration order.
static_assert(sizeof(DFcgLinkItem) == 16);
static_assert(sizeof(DFcgAbstractList) == 32);
static_assert(sizeof(DFcgLinkedList) == 48);

DFcgLinkedList::DFcgLinkedList(void (*freeDestructor)(void*))
    : DFcgAbstractList(freeDestructor), head_(nullptr), tail_(nullptr) {}

DFcgLinkedList::~DFcgLinkedList() {
    DeleteAllItems();
}

DFcgAbstractListItem* DFcgLinkedList::GetItemAt(unsigned int n) {
    if (Lock() != 0) return nullptr;
    DFcgLinkItem* item = nullptr;
    if (n < numItems_) {
        item = head_;
        for (unsigned int i = 0; i < n && item != nullptr; ++i) item = item->next;
    }
    Unlock();
    return item;
}

DFcgAbstractListItem* DFcgLinkedList::InsertAtTop(void* data) {
    return insert(data, true);
}

DFcgAbstractListItem* DFcgLinkedList::InsertAtBottom(void* data) {
    return insert(data, false);
}

DFcgAbstractListItem* DFcgLinkedList::insert(void* data, bool atTop) {
    if (Lock() != 0) return nullptr;
    auto* item = new DFcgLinkItem;
    if (item == nullptr) {
        Unlock();
        return nullptr;
    }
    item->data = data;
    item->next = nullptr;
    if (atTop) {
        item->next = head_;
        head_ = item;
        if (tail_ == nullptr) tail_ = item;
    } else {
        if (tail_ != nullptr)
            tail_->next = item;
        else
            head_ = item;
        tail_ = item;
    }
    ++numItems_;
    Unlock();
    return item;
}

int DFcgLinkedList::DeleteItem(DFcgAbstractListItem* item) {
    if (Lock() != 0) return 0;
    // A null item would match the tail's null link below.
    if (IsEmpty() || head_ == nullptr || item == nullptr) {
        Unlock();
        return 0;
    }
    // Only compared as an address until it is known to be one of ours.
    auto* target = static_cast<DFcgLinkItem*>(item);
    DFcgLinkItem* pred = nullptr;
    if (target == head_) {
        head_ = target->next;
    } else {
        pred = head_;
        while (pred != nullptr && pred->next != target) pred = pred->next;
        if (pred == nullptr) {
            Unlock();
            return 0;
        }
        pred->next = target->next;
    }
    if (target == tail_) tail_ = pred;
    if (freeDestructor_ != nullptr) freeDestructor_(target->data);
    delete target;
    --numItems_;
    if (numItems_ == 0) head_ = tail_ = nullptr;
    return Unlock() == 0 ? 1 : 0;
}

int DFcgLinkedList::DeleteAllItems() {
    int rc = Lock();
    if (rc != 0) return rc;
    DFcgLinkItem* next = nullptr;
    for (DFcgLinkItem* item = head_; item != nullptr; item = next) {
        next = item->next;
        if (freeDestructor_ != nullptr) freeDestructor_(item->data);
        delete item;
    }
    numItems_ = 0;
    head_ = tail_ = nullptr;
    return Unlock();
}

DFcgAbstractListItem* DFcgLinkedList::FindItem(void* key, DFccAbstractCompare* compare) {
    if (head_ == nullptr || numItems_ == 0 || compare == nullptr) return nullptr;
    DFcgLinkItem* item = head_;
    for (unsigned int i = 0; i < numItems_ && item != nullptr; ++i, item = item->next) {
        if (compare->ccCompare(item->data, key) == DFccAbstractCompare::kEqual) return item;
    }
    return nullptr;
}

void DFcgLinkedList::SortList(DFccAbstractCompare* compare) {
    if (compare == nullptr) return;
    DFcgLinkItem* tail = nullptr;
    head_ = sortBinMerge(head_, tail, compare);
    tail_ = tail;
}

DFcgLinkItem* DFcgLinkedList::sortBinMerge(DFcgLinkItem* head, DFccAbstractCompare* compare) {
    DFcgLinkItem* tail = nullptr;
    return sortBinMerge(head, tail, compare);
}

namespace {

// Links item after last, unless the chain already does: the passes write only where the order
// changes, so that the links of items that stay in place are left as they are.
inline void link(DFcgLinkItem* last, DFcgLinkItem* item) {
    if (last->next != item) last->next = item;
}

}  // namespace

DFcgLinkItem* DFcgLinkedList::sortBinMerge(DFcgLinkItem* head, DFcgLinkItem*& tail,
                                           DFccAbstractCompare* compare) {
    if (head == nullptr || head->next == nullptr) {
        tail = head;
        return head;
    }
    auto greater = [compare](DFcgLinkItem* x, DFcgLinkItem* y) {
        return compare->ccCompare(x, y) == DFccAbstractCompare::kGreater;
    };
    auto less = [compare](DFcgLinkItem* x, DFcgLinkItem* y) {
        return compare->ccCompare(x, y) == DFccAbstractCompare::kLess;
    };

    for (;;) {
        // Split: deal the ascending runs alternately to A and B. The item appended last to the
        // current list is always x's predecessor in the chain, which already links to x while
        // the run goes on: only the start of each run is linked.
        DFcgLinkItem* bFirst = nullptr;
        DFcgLinkItem* last[2] = {head, nullptr};
        int current = 0;
        DFcgLinkItem* prev = head;
        for (DFcgLinkItem *x = head->next, *next; x != nullptr; prev = x, x = next) {
            next = x->next;
            if (greater(prev, x)) {
                current = 1 - current;
                if (last[current] != nullptr) {
                    last[current]->next = x;
                } else {
                    bFirst = x;
                }
            }
            last[current] = x;
        }
        last[0]->next = nullptr;
        if (bFirst == nullptr) {
            tail = last[0];
            return head;
        }
        last[1]->next = nullptr;

        // Merge: pairs of runs, one from each list, into one output chain.
        DFcgLinkItem* a = head;
        DFcgLinkItem* b = bFirst;
        DFcgLinkItem*& from = greater(a, b) ? b : a;
        DFcgLinkItem* out = from;
        DFcgLinkItem* outLast = from;
        from = from->next;
        while (a != nullptr && b != nullptr) {
            bool bGoes = greater(a, b);
            DFcgLinkItem*& j = bGoes ? b : a;
            DFcgLinkItem*& k = bGoes ? a : b;
            if (less(j, outLast)) {
                if (less(k, outLast)) {
                    // Both heads start new runs: the smaller one begins the next output run.
                    link(outLast, j);
                    outLast = j;
                    j = j->next;
                } else {
                    // k's head continues the output run, and so does the rest of k's run,
                    // which is already linked in order.
                    DFcgLinkItem* runEnd = k;
                    while (runEnd->next != nullptr && !less(runEnd->next, runEnd)) {
                        runEnd = runEnd->next;
                    }
                    link(outLast, k);
                    outLast = runEnd;
                    k = runEnd->next;
                }
            } else {
                link(outLast, j);
                outLast = j;
                j = j->next;
            }
        }
        outLast->next = a != nullptr ? a : b;
        head = out;
    }
}
