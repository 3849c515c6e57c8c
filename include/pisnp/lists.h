// Object lists of untyped pointers and the compare objects that search and sort them.
//
// Lists and compare objects live in checked memory; a list owns its link items, and owns the
// data they point to only when it was given a free-destructor. Which operations lock is said
// at DFcgAbstractList.
#pragma once

#include <cstddef>

#include "pisnp/alloc.h"
#include "pisnp/pkMutex.h"
#include "pisnp_export.h"

// Compare objects: decide how a list item matches a key and how two items order.
//
// ccCompare answers 0 when a and b are equal, 1 when a is greater than b and 2 when a is less
// than b. Subclasses override it; the base orders the two pointer values themselves.
class PISNP_API DFccAbstractCompare {
  public:
    enum { kEqual = 0, kGreater = 1, kLess = 2 };

    DFccAbstractCompare() = default;
    virtual ~DFccAbstractCompare();
    virtual int ccCompare(void* a, void* b);

    // Compare objects made with new come from the checked allocator like every other block.
    static void* operator new(size_t size) noexcept { return ARC_MALLOC(size); }
    static void operator delete(void* p) noexcept { ARC_FREE(p); }
};

// Abstract list of untyped pointers.
//
// A list owns its link items. Whether it owns the data the items point to is decided by the
// free-destructor given at construction: when there is one, it is called with an item's data
// pointer every time the list drops that item; without one the data is left alone.
//
// Locking: GetItemAt, the inserts, DeleteItem and DeleteAllItems take the list's lock, which is
// not re-entrant. FindItem, sorting and the accessors do not; callers that need them consistent
// with concurrent changes lock around them with Lock()/Unlock().
class DFccAbstractCompare;

// What callers see of a link item: a position in a list, holding the data pointer it was given.
struct DFcgAbstractListItem {
    void* data;
};

class PISNP_API DFcgAbstractList {
  public:
    explicit DFcgAbstractList(void (*freeDestructor)(void*) = nullptr);
    DFcgAbstractList(const DFcgAbstractList&) = delete;  // the items have one owner
    DFcgAbstractList& operator=(const DFcgAbstractList&) = delete;

    // The order of the virtual operations is part of the interface: hosts call them through
    // the table, so new ones go at the end.
    virtual ~DFcgAbstractList();
    virtual unsigned int GetNumItems();
    virtual int IsEmpty();  // 1 when empty, else 0
    virtual void* GetData(DFcgAbstractListItem* item);
    // Position n counts from 0 at the head; null when there is no such item.
    virtual DFcgAbstractListItem* GetItemAt(unsigned int n) = 0;
    // The data pointer is stored as given. Null when no item can be allocated.
    virtual DFcgAbstractListItem* InsertAtTop(void* data) = 0;
    virtual DFcgAbstractListItem* InsertAtBottom(void* data) = 0;
    // 1 when the item was in the list and has been dropped, else 0.
    virtual int DeleteItem(DFcgAbstractListItem* item) = 0;
    // 0, or the code of the lock operation that failed.
    virtual int DeleteAllItems() = 0;
    // First item from the head whose data the compare object finds equal to key
    // (ccCompare(data, key) == 0), or null.
    virtual DFcgAbstractListItem* FindItem(void* key, DFccAbstractCompare* compare) = 0;

    int Lock();
    int Unlock();
    // Free-destructor for lists whose data was taken from the checked allocator.
    static void StandardFreeDestructor(void* data);

    // Lists made with new come from the checked allocator; a failed allocation yields null.
    static void* operator new(size_t size) noexcept { return ARC_MALLOC(size); }
    static void operator delete(void* p) noexcept { ARC_FREE(p); }

  protected:
    unsigned int numItems_;
    void (*freeDestructor_)(void*);
    MutexDesc* lock_;
};

// Singly linked list of untyped pointers, with a natural merge sort.
// One link: the data pointer (in the base) and the next link, null at the tail.
struct DFcgLinkItem : DFcgAbstractListItem {
    DFcgLinkItem* next;

    static void* operator new(size_t size) noexcept { return ARC_MALLOC(size); }
    static void operator delete(void* p) noexcept { ARC_FREE(p); }
};

class PISNP_API DFcgLinkedList : public DFcgAbstractList {
  public:
    explicit DFcgLinkedList(void (*freeDestructor)(void*) = nullptr);

    // Same slot order as the base, SortList added last.
    ~DFcgLinkedList() override;
    DFcgAbstractListItem* GetItemAt(unsigned int n) override;
    DFcgAbstractListItem* InsertAtTop(void* data) override;
    DFcgAbstractListItem* InsertAtBottom(void* data) override;
    int DeleteItem(DFcgAbstractListItem* item) override;
    int DeleteAllItems() override;
    DFcgAbstractListItem* FindItem(void* key, DFccAbstractCompare* compare) override;
    // Orders the items ascending. Unlike FindItem, the compare object is handed the two link
    // items (DFcgLinkItem*), not their data pointers. Relinks only; allocates nothing. Not
    // stable: equal items may change their relative order.
    virtual void SortList(DFccAbstractCompare* compare);

    // Natural two-way merge sort of the chain starting at head; returns the new head and
    // stores the new last item in tail.
    DFcgLinkItem* sortBinMerge(DFcgLinkItem* head, DFcgLinkItem*& tail,
                               DFccAbstractCompare* compare);
    DFcgLinkItem* sortBinMerge(DFcgLinkItem* head, DFccAbstractCompare* compare);

  protected:
    DFcgLinkItem* head_;
    DFcgLinkItem* tail_;

  private:
    // Shared by both insert operations; internal, so not part of the exported class.
    [[gnu::visibility("hidden")]] DFcgAbstractListItem* insert(void* data, bool atTop);
};
