// Switching trace classes and test flags from lists of names, and listing them.
#include <strings.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "diag/traceInternal.h"
#include "mem/checkedAlloc.h"
#include "pisnp/instrument.h"
#include "pisnp/strings.h"
#include "pisnp/tokens.h"

using namespace trace_detail;

namespace {

constexpr char kFlagSource[] = "traceplus.cpp";
// Aggregates name aggregates; a table that names itself would otherwise recurse without end.
constexpr int kMaxAggregateDepth = 16;
constexpr size_t kCategoryTextMax = 99;

const TrAggrClass* findAggregate(const TrAggrClass* table, const char* name) {
    for (; table != nullptr && table->name != nullptr; ++table)
        if (std::strcmp(table->name, name) == 0) return table;
    return nullptr;
}

const TrClass* findClass(const TrClass* table, const char* name) {
    for (; table != nullptr && table->name != nullptr; ++table)
        if (std::strcmp(table->name, name) == 0) return table;
    return nullptr;
}

int resolve(char* list, int enable, int quiet, const TrClass* classes,
            const TrAggrClass* aggregates, int depth) {
    if (list == nullptr) return 0;
    if (depth > kMaxAggregateDepth) return -1;
    char token[kTokenSize];
    char* p = list;
    for (;;) {
        GetToken(&p, token, sizeof token);
        if (token[0] == '\0') return 0;
        StrUpper7Bit(token);
        bool negated = token[0] == '-';
        const char* name = negated ? token + 1 : token;
        unsigned char value = enable && !negated ? 1 : 0;

        if (std::strcmp(name, "ALL") == 0) {
            // The prefix shape is a matter of its own names, never of "ALL".
            for (const TrClass* c = classes; c != nullptr && c->name != nullptr; ++c)
                if (std::strcmp(c->name, "TIMESTAMP") != 0 && std::strcmp(c->name, "PREFIX") != 0)
                    setClass(*c->flag, value);
            continue;
        }
        if (const TrAggrClass* a = findAggregate(aggregates, name)) {
            size_t len = std::strlen(a->items);
            char local[kTokenSize];
            char* items = len < sizeof local
                              ? local
                              : static_cast<char*>(arcMalloc(len + 1, kFlagSource, __LINE__));
            if (items == nullptr) return -1;
            std::memcpy(items, a->items, len + 1);
            int rc = resolve(items, enable && !negated, quiet, classes, aggregates, depth + 1);
            if (items != local) arcFree(items, kFlagSource, __LINE__);
            if (rc != 0) return -1;
            continue;
        }
        if (const TrClass* c = findClass(classes, name)) {
            setClass(*c->flag, value);
            continue;
        }
        if (!quiet) std::printf("Invalid trace flag: %s\n", name);
        return -1;
    }
}

// The OR of the category masks named in a "/"-separated list; false for an unknown keyword.
bool categoryMask(char* list, int* mask) {
    *mask = 0;
    char* save = nullptr;
    for (char* k = strtok_r(list, "/", &save); k != nullptr; k = strtok_r(nullptr, "/", &save)) {
        const iClass_t* c = iClasses;
        while (c->keyword != nullptr && strcasecmp(c->keyword, k) != 0) ++c;
        if (c->keyword == nullptr) return false;
        *mask |= static_cast<int>(c->mask);
    }
    return true;
}

void setTestFlag(TestFlag* flag, int value, const char* text) {
    char* copy = text != nullptr ? StrDup(text) : nullptr;
    if (flag->text != nullptr) arcFree(flag->text, kFlagSource, __LINE__);
    flag->on = 1;
    flag->value = value;
    flag->text = copy;
}

// The INSTRUMENT line: the keywords of the categories in the mask, each behind a blank.
void categoryText(int mask, char* out) {
    size_t used = 0;
    out[0] = '\0';
    for (const iClass_t* c = iClasses; c->keyword != nullptr; ++c) {
        if ((mask & static_cast<int>(c->mask)) == 0) continue;
        size_t len = std::strlen(c->keyword);
        if (used + len + 1 > kCategoryTextMax) {
            size_t fit = kCategoryTextMax - used;
            std::memcpy(out + used, c->keyword, fit);
            out[used + fit] = '\0';
            return;
        }
        std::memcpy(out + used, c->keyword, len);
        out[used + len] = ' ';
        used += len + 1;
        out[used] = '\0';
    }
}

}  // namespace

int ResolveName(char* list, int enable, int quiet, const TrClass* classes,
                const TrAggrClass* aggregates) {
    return resolve(list, enable, quiet, classes, aggregates, 0);
}

int trEnable(char* list, int quiet, const TrClass* classes, const TrAggrClass* aggregates) {
    ErrnoKeeper keep;
    TraceObject* t = traceObj;
    if (t != nullptr && t->defaultsPending) {
        setClass(TR_PREFIX, 1);
        setClass(TR_TIMESTAMP, 1);
        t->defaultsPending = 0;
    }
    int rc = ResolveName(list, 1, quiet, classes, aggregates);
    if (classOn(TR_COMMDETAIL) || classOn(TR_COMMFULL)) {
        trPrintf(kSource, __LINE__, "COMMDETAIL and COMMFULL traceflags not currently supported\n");
        char off[] = "-COMMDETAIL -COMMFULL";
        rc = ResolveName(off, 1, quiet, classes, aggregates);
    }
    int comm = 0;
    for (const TrClass* c = classes + 1; c->name != nullptr; ++c)
        if (c->comm != 0 && classOn(*c->flag)) comm = 1;
    if (t != nullptr) {
        t->commTracing.store(comm);
        t->tracingState.store(1);
    }
    return rc;
}

int trEnable(char* list, int quiet) {
    return trEnable(list, quiet, ClassTable, AggrTable);
}

int FindSimple(char* name, const TestClass* table) {
    if (name == nullptr || table == nullptr) return -1;
    for (int i = 0; table[i].name != nullptr; ++i)
        if (std::strcmp(table[i].name, name) == 0) return i;
    return -1;
}

int trProcTestFlags(char* list, const TestClass* table) {
    ErrnoKeeper keep;
    if (list == nullptr || table == nullptr) return 0;
    char token[kTokenSize];
    char* p = list;
    for (;;) {
        GetToken(&p, token, sizeof token);
        if (token[0] == '\0') return 0;
        char* valueText = std::strchr(token, ':');
        if (valueText != nullptr) *valueText++ = '\0';
        StrUpper7Bit(token);

        int value = 0;
        char* text = nullptr;
        if (std::strcmp(token, "INSTRUMENT") == 0) {
            if (valueText != nullptr && !categoryMask(valueText, &value)) return -1;
        } else if (valueText != nullptr && *valueText == '"') {
            text = static_cast<char*>(arcMalloc(kTokenSize - 1, kFlagSource, __LINE__));
            if (text == nullptr) return -1;
            char* q = valueText;
            if (GetQuotedToken(&q, text) != 0) {
                arcFree(text, kFlagSource, __LINE__);
                return -1;
            }
        } else if (valueText != nullptr) {
            char* end = nullptr;
            value = static_cast<int>(std::strtol(valueText, &end, 10));
            if (*end != '\0') return -1;
        }

        if (std::strcmp(token, "ALL") == 0) {
            for (const TestClass* c = table; c->name != nullptr; ++c)
                setTestFlag(c->flag, value, text);
        } else {
            int i = FindSimple(token, table);
            if (i < 0) {
                if (text != nullptr) arcFree(text, kFlagSource, __LINE__);
                return -1;
            }
            setTestFlag(table[i].flag, value, text);
            if (table == TestClassTable && TEST_DISABLECONSISTENTRC.on) {
                TEST_IGNOREPRESCHEDULECMD.on = 1;
                TEST_IGNOREPOSTSCHEDULECMD.on = 1;
                TEST_SHOWALLCONSISTENTRC.on = 0;
            }
        }
        if (text != nullptr) arcFree(text, kFlagSource, __LINE__);
    }
}

int trProcTestFlags(char* list) {
    return trProcTestFlags(list, TestClassTable);
}

int trQueryTraceFlags() {
    ErrnoKeeper keep;
    std::printf("Trace Class Table:\n");
    for (const TrClass* c = ClassTable; c->name != nullptr; ++c)
        std::printf("%s%s", c == ClassTable ? "" : ", ", c->name);
    std::printf("\n\nTrace Aggregate Table:\n");
    for (const TrAggrClass* a = AggrTable; a->name != nullptr; ++a)
        std::printf("%s = %s\n", a->name, a->items);
    std::fflush(stdout);
    return 0;
}

int trQueryTestFlags() {
    ErrnoKeeper keep;
    std::printf("Test Class Table:\n");
    for (const TestClass* c = TestClassTable; c->name != nullptr; ++c)
        std::printf("%s%s", c == TestClassTable ? "" : ", ", c->name);
    std::printf("\n");
    std::fflush(stdout);
    return 0;
}

int trPrintEnabledTestFlags() {
    ErrnoKeeper keep;
    if (!trCanOutPut()) return 0;
    trPrintf(kSource, __LINE__, "Current testflags enabled: \n");
    for (const TestClass* c = TestClassTable; c->name != nullptr; ++c) {
        const TestFlag* f = c->flag;
        if (f->on != 1) continue;
        char categories[kCategoryTextMax + 1] = "";
        const char* detail = nullptr;
        char number[16];
        if (f == &TEST_INSTRUMENT) {
            categoryText(f->value, categories);
            detail = categories;
        } else if (f->value != 0) {
            std::snprintf(number, sizeof number, "%d", f->value);
            detail = number;
        } else {
            detail = f->text;
        }
        size_t size = std::strlen(c->name) + (detail != nullptr ? std::strlen(detail) : 0) + 3;
        char* line = static_cast<char*>(arcMalloc(size, kFlagSource, __LINE__));
        if (line == nullptr) continue;
        if (detail != nullptr)
            std::snprintf(line, size, "%s:%s\n", c->name, detail);
        else
            std::snprintf(line, size, "%s\n", c->name);
        trPrint("%s", line);
        arcFree(line, kFlagSource, __LINE__);
    }
    return 0;
}
