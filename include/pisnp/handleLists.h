// Handle lists: singly linked lists of untyped pointers that carry their own table of
// operations, take their memory from the checked allocator or from a memory pool, keep a cursor
// that makes walking by index cheap, and sort with a natural merge sort.
//
// Callers call each operation through the record and pass the record itself first:
//     LinkedList_t* list = new_LinkedList(StandardFreeDestructor, 0);
//     list->InsertAtBottom(list, data);
//     for (llNode_t* n = list->GetNextItem(list, nullptr); n; n = list->GetNextItem(list, n))
//         use(list->GetData(list, n));
//
// Ownership: the record belongs to whoever called new_LinkedList, the nodes to the list. The
// data a node points to belongs to the list only when the list was given a free-destructor,
// which it calls with the data whenever it drops a node. A list made with a pool handle takes
// its record and its nodes from that pool; dropping a node does not release it (a pool releases
// nothing piece by piece), and delete_LinkedList leaves such a list to its pool, which frees it
// when it is destroyed.
//
// Threads: a list has no lock; one thread at a time may use it. Lists in one pool may be used
// by different threads, since the pool serialises their allocations.
//
// sortBinMerge sorts any chain of records whose first word links to the next one (null at the
// end), by relinking alone; it allocates nothing and runs in one pass over a chain that is
// already in order (or in reverse order). It is not stable in general: items that compare equal
// keep their order when the chain is in order already, but not always otherwise.
#pragma once

#include <cstddef>

#include "pisnp_export.h"
#include "pisnp_layout.h"

// One node: the next node first, so that sortBinMerge can run over the chain; then the data.
struct llNode_t {
    llNode_t* next;
    void* data;
};

struct LinkedList_t;

// Finding: compare(data, key) answers 0 when the node's data matches the key, 1 when the data is
// greater, 2 when it is less.
typedef int (*llCompare_t)(const void* data, const void* key);
// Sorting: compare(a, b, context) in the C library's convention: negative when record a comes
// before b, 0 when they are equal, positive when a comes after b.
typedef int (*llSortCompare_t)(const void* a, const void* b, const void* context);

struct LinkedList_t {
    // The operations, filled by new_LinkedList with the ll* functions of the same names.
    int (*IsEmpty)(LinkedList_t* list);
    llNode_t* (*InsertAtTop)(LinkedList_t* list, void* data);
    llNode_t* (*InsertAtBottom)(LinkedList_t* list, void* data);
    int (*DeleteItem)(LinkedList_t* list, llNode_t* node);
    void (*DeleteAllItems)(LinkedList_t* list);
    llNode_t* (*FindItem)(LinkedList_t* list, const void* key, llCompare_t compare);
    llNode_t* (*FindItemDup)(LinkedList_t* list, llNode_t* after, const void* key,
                             llCompare_t compare);
    unsigned int (*GetNumItems)(LinkedList_t* list);
    void* (*GetData)(LinkedList_t* list, llNode_t* node);
    llNode_t* (*GetNextItem)(LinkedList_t* list, llNode_t* node);
    llNode_t* (*GetItemAt)(LinkedList_t* list, unsigned int index);
    void (*SortList)(LinkedList_t* list, llSortCompare_t compare, const void* context);
    int (*GetMemPool)(LinkedList_t* list);

    llNode_t* head;  // null when empty
    llNode_t* tail;  // null when empty
    // The node the last GetItemAt returned and its index; index 0 means no cursor.
    llNode_t* cursorNode;
    unsigned int cursorIndex;
    unsigned int count;
    int pool;                   // memory pool handle, 0 for the checked allocator
    void (*destructor)(void*);  // called with a node's data when the node is dropped; may be null
};
PISNP_AT(LinkedList_t, head, 104);
PISNP_AT(LinkedList_t, cursorNode, 120);
PISNP_AT(LinkedList_t, cursorIndex, 128);
PISNP_AT(LinkedList_t, count, 132);
PISNP_AT(LinkedList_t, pool, 136);
PISNP_AT(LinkedList_t, destructor, 144);
PISNP_SIZE(LinkedList_t, 152);
PISNP_SIZE(llNode_t, 16);

// A new empty list, or null when no memory is left.
PISNP_API LinkedList_t* new_LinkedList(void (*destructor)(void*), int pool);
// Drops every node and releases the record; a list in a pool, or null, is left alone.
PISNP_API void delete_LinkedList(LinkedList_t* list);

PISNP_API int llIsEmpty(LinkedList_t* list);  // 1 when empty, else 0
PISNP_API unsigned int llGetNumItems(LinkedList_t* list);
PISNP_API int llGetMemPool(LinkedList_t* list);
PISNP_API void* llGetData(LinkedList_t* list, llNode_t* node);
// The node after node, or the head when node is null; null at the end.
PISNP_API llNode_t* llGetNextItem(LinkedList_t* list, llNode_t* node);

// The new node, or null when none can be allocated. Inserting at the top clears the cursor.
PISNP_API llNode_t* llInsertAtTop(LinkedList_t* list, void* data);
PISNP_API llNode_t* llInsertAtBottom(LinkedList_t* list, void* data);
// 1 when node was in the list and has been dropped, else 0.
PISNP_API int llDeleteItem(LinkedList_t* list, llNode_t* node);
PISNP_API void llDeleteAllItems(LinkedList_t* list);

// The first node from the head whose data matches key; null when none does.
PISNP_API llNode_t* llFindItem(LinkedList_t* list, const void* key, llCompare_t compare);
// The same, starting after node after (from the head when after is null).
PISNP_API llNode_t* llFindItemDup(LinkedList_t* list, llNode_t* after, const void* key,
                                  llCompare_t compare);
// The node at index (0 = head), or null when index is not below the count. Reading the list
// with index 0, 1, 2, ... costs one step per call.
PISNP_API llNode_t* llGetItemAt(LinkedList_t* list, unsigned int index);
// Sorts the nodes; compare receives two nodes (llNode_t*), not their data. Clears the cursor.
PISNP_API void llSortList(LinkedList_t* list, llSortCompare_t compare, const void* context);

// Sorts the chain starting at head in ascending order; returns the new head and stores the last
// record in tail.
PISNP_API void* sortBinMerge(void* head, void*& tail, llSortCompare_t compare, const void* context);
PISNP_API void* sortBinMerge(void* head, llSortCompare_t compare, const void* context);

// Ready-made compare functions for llFindItem: the data and the key as unsigned numbers, as
// strings, and as strings ignoring letter case.
PISNP_API int ListSearchForPointer(const void* data, const void* key);
PISNP_API int ListSearchForString(const void* data, const void* key);
PISNP_API int ListSearchForStringi(const void* data, const void* key);

// Ready-made free-destructor for data taken from the checked allocator.
PISNP_API void StandardFreeDestructor(void* p);
