#include "pisnp/handleLists.h"

#include <cstdint>

#include "pisnp/alloc.h"
#include "pisnp/pools.h"
#include "pisnp/strings.h"

namespace {

void* take(int pool, size_t size) {
    return pool != 0 ? mpAlloc(pool, size) : ARC_MALLOC(size);
}

// A node of a pool list goes with its pool.
void release(LinkedList_t* list, llNode_t* node) {
    if (list->destructor != nullptr) list->destructor(node->data);
    if (list->pool == 0) ARC_FREE(node);
}

void clearCursor(LinkedList_t* list) {
    list->cursorNode = nullptr;
    list->cursorIndex = 0;
}

llNode_t* newNode(LinkedList_t* list, void* data) {
    if (list == nullptr) return nullptr;
    auto* node = static_cast<llNode_t*>(take(list->pool, sizeof(llNode_t)));
    if (node == nullptr) return nullptr;
    node->next = nullptr;
    node->data = data;
    return node;
}

// 0 equal, 1 greater, 2 less: the answer of every compare function for finding.
int order(int sign) {
    return sign == 0 ? 0 : sign > 0 ? 1 : 2;
}

}  // namespace

LinkedList_t* new_LinkedList(void (*destructor)(void*), int pool) {
    auto* list = static_cast<LinkedList_t*>(take(pool, sizeof(LinkedList_t)));
    if (list == nullptr) return nullptr;
    *list = LinkedList_t{llIsEmpty,
                         llInsertAtTop,
                         llInsertAtBottom,
                         llDeleteItem,
                         llDeleteAllItems,
                         llFindItem,
                         llFindItemDup,
                         llGetNumItems,
                         llGetData,
                         llGetNextItem,
                         llGetItemAt,
                         llSortList,
                         llGetMemPool,
                         nullptr,
                         nullptr,
                         nullptr,
                         0,
                         0,
                         pool,
                         destructor};
    return list;
}

void delete_LinkedList(LinkedList_t* list) {
    if (list == nullptr || list->pool != 0) return;
    llDeleteAllItems(list);
    ARC_FREE(list);
}

int llIsEmpty(LinkedList_t* list) {
    return list == nullptr || list->count == 0 ? 1 : 0;
}

unsigned int llGetNumItems(LinkedList_t* list) {
    return list != nullptr ? list->count : 0;
}

int llGetMemPool(LinkedList_t* list) {
    return list != nullptr ? list->pool : 0;
}

void* llGetData(LinkedList_t*, llNode_t* node) {
    return node != nullptr ? node->data : nullptr;
}

llNode_t* llGetNextItem(LinkedList_t* list, llNode_t* node) {
    if (node != nullptr) return node->next;
    return list != nullptr ? list->head : nullptr;
}

llNode_t* llInsertAtTop(LinkedList_t* list, void* data) {
    llNode_t* node = newNode(list, data);
    if (node == nullptr) return nullptr;
    node->next = list->head;
    list->head = node;
    if (list->tail == nullptr) list->tail = node;
    ++list->count;
    clearCursor(list);
    return node;
}

llNode_t* llInsertAtBottom(LinkedList_t* list, void* data) {
    llNode_t* node = newNode(list, data);
    if (node == nullptr) return nullptr;
    if (list->tail != nullptr)
        list->tail->next = node;
    else
        list->head = node;
    list->tail = node;
    ++list->count;
    return node;
}

int llDeleteItem(LinkedList_t* list, llNode_t* node) {
    // A null node would match the tail's null link.
    if (list == nullptr || list->count == 0 || list->head == nullptr || node == nullptr) return 0;
    llNode_t* pred = nullptr;
    if (node == list->head) {
        clearCursor(list);
        list->head = node->next;
    } else {
        pred = list->head;
        unsigned int position = 1;
        while (pred->next != nullptr && pred->next != node) {
            pred = pred->next;
            ++position;
        }
        if (pred->next == nullptr) return 0;
        // The cursor's index would now point one node too far.
        if (list->cursorIndex >= position) clearCursor(list);
        pred->next = node->next;
    }
    if (node == list->tail) list->tail = pred;
    release(list, node);
    if (--list->count == 0) list->head = list->tail = nullptr;
    return 1;
}

void llDeleteAllItems(LinkedList_t* list) {
    if (list == nullptr) return;
    for (llNode_t* node = list->head; node != nullptr;) {
        llNode_t* next = node->next;
        release(list, node);
        node = next;
    }
    list->head = list->tail = nullptr;
    clearCursor(list);
    list->count = 0;
}

llNode_t* llFindItem(LinkedList_t* list, const void* key, llCompare_t compare) {
    return llFindItemDup(list, nullptr, key, compare);
}

llNode_t* llFindItemDup(LinkedList_t* list, llNode_t* after, const void* key, llCompare_t compare) {
    if (compare == nullptr) return nullptr;
    for (llNode_t* node = llGetNextItem(list, after); node != nullptr; node = node->next)
        if (compare(node->data, key) == 0) return node;
    return nullptr;
}

llNode_t* llGetItemAt(LinkedList_t* list, unsigned int index) {
    if (list == nullptr || index >= list->count) return nullptr;
    llNode_t* node = list->head;
    unsigned int at = 0;
    bool haveCursor =
        list->cursorIndex != 0 && list->cursorNode != nullptr && list->count > list->cursorIndex;
    if (haveCursor && index >= list->cursorIndex) {
        if (index == list->cursorIndex) return list->cursorNode;
        node = list->cursorNode;
        at = list->cursorIndex;
    } else if (index == 0) {
        return node;
    }
    while (at < index && node != nullptr) {
        node = node->next;
        ++at;
    }
    list->cursorIndex = index;
    list->cursorNode = node;
    return node;
}

void llSortList(LinkedList_t* list, llSortCompare_t compare, const void* context) {
    if (list == nullptr) return;
    clearCursor(list);
    void* tail = nullptr;
    list->head = static_cast<llNode_t*>(sortBinMerge(list->head, tail, compare, context));
    list->tail = static_cast<llNode_t*>(tail);
}

int ListSearchForPointer(const void* data, const void* key) {
    auto a = reinterpret_cast<uintptr_t>(data);
    auto b = reinterpret_cast<uintptr_t>(key);
    return order(a == b ? 0 : a > b ? 1 : -1);
}

int ListSearchForString(const void* data, const void* key) {
    return order(StrCmp(static_cast<const char*>(data), static_cast<const char*>(key)));
}

int ListSearchForStringi(const void* data, const void* key) {
    return order(StriCmp(static_cast<const char*>(data), static_cast<const char*>(key)));
}

void StandardFreeDestructor(void* p) {
    if (p != nullptr) ARC_FREE(p);
}
