#include "pisnp/lists.h"

DFcgAbstractList::DFcgAbstractList(void (*freeDestructor)(void*))
    : numItems_(0), freeDestructor_(freeDestructor), lock_(pkCreateMutex()) {}

DFcgAbstractList::~DFcgAbstractList() {
    pkDestroyMutex(lock_);
}

unsigned int DFcgAbstractList::GetNumItems() {
    return numItems_;
}

int DFcgAbstractList::IsEmpty() {
    return numItems_ == 0 ? 1 : 0;
}

void* DFcgAbstractList::GetData(DFcgAbstractListItem* item) {
    return item != nullptr ? item->data : nullptr;
}

int DFcgAbstractList::Lock() {
    return pkAcquireMutex(lock_);
}

int DFcgAbstractList::Unlock() {
    return pkReleaseMutex(lock_);
}

void DFcgAbstractList::StandardFreeDestructor(void* data) {
    if (data != nullptr) ARC_FREE(data);
}
