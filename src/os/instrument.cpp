#include "pisnp/instrument.h"

const iClass_t iClasses[] = {
    {"Client detail", "DETAIL", 0x1, 1, 39},
    {"API", "API", 0x2, 40, 50},
    {"DB Operations", "DBOPS", 0x4, 51, 55},
    {nullptr, nullptr, 0, 0, 0},
};

instrObject instrObj;

instrObject::instrObject() = default;
instrObject::~instrObject() = default;
void instrObject::instrStart(int) {}
void instrObject::instrStop(int) {}
void instrObject::newThread(unsigned long) {}
void instrObject::endThread(unsigned long) {}
void instrObject::beginCategory(int) {}
void instrObject::endCategory(int, unsigned long) {}
void instrObject::chgCategory(int) {}
void instrObject::addComment(int, const char*) {}
