// Singly linked list of untyped pointers, with a natural merge sort.
#pragma once

#include <cstddef>

#include "containers/DFcgAbstractList.h"
#include "containers/DFccAbstractCompare.h"
#include "mem/checkedAlloc.h"
#include "pisnp_export.h"

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
