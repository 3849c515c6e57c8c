// Instrumentation categories and the instrumentation object. The categories give the INSTRUMENT
// test flag its keywords; the object's operations do nothing in this library, so nothing is
// measured whatever that flag says.
#pragma once

#include "pisnp_export.h"

struct iClass_t {
    const char* description;
    const char* keyword;
    unsigned int mask;
    int firstCategory;
    int lastCategory;
};

inline constexpr int kInstrClassCount = 3;
// The three categories, then an entry with null texts.
PISNP_API extern const iClass_t iClasses[];

class PISNP_API instrObject {
  public:
    instrObject();
    ~instrObject();
    instrObject(const instrObject&) = delete;
    instrObject& operator=(const instrObject&) = delete;

    void instrStart(int iClass);
    void instrStop(int iClass);
    void newThread(unsigned long threadId);
    void endThread(unsigned long threadId);
    void beginCategory(int category);
    void endCategory(int category, unsigned long count);
    void chgCategory(int category);
    void addComment(int category, const char* comment);
};

PISNP_API extern instrObject instrObj;
