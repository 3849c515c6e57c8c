// Abstract list of untyped pointers.
//
// A list owns its link items. Whether it owns the data the items point to is decided by the
// free-destructor given at construction: when there is one, it is called with an item's data
// pointer every time the list drops that item; without one the data is left alone.
//
// Locking: GetItemAt, the inserts, DeleteItem and DeleteAllItems take the list's lock, which is
// not re-entrant. FindItem, sorting and the accessors do not; callers that need them consistent
// with concurrent changes lock around them with Lock()/Unlock().
#pragma once

#include <cstddef>

#include "mem/checkedAlloc.h"
#include "os/pkMutex.h"
#include "pisnp_export.h"

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
