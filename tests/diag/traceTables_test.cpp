// The class and test-flag tables are a contract with hosts: keywords, their order, and which
// global byte or record each keyword reaches. The tables are generated from the .def lists, so
// instead of typing the lists a second time these checks hold the tables to the properties hosts
// rely on, and pin the order of the keywords (what listings print and hosts index) with a digest
// that changes with any rename, insertion or move.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <iterator>
#include <set>
#include <sstream>
#include <string>

#include "pisnp/traceClasses.h"

namespace {

struct DefEntry {
    const char* keyword;
    const char* global;  // the name of the global the .def line declares
};

const DefEntry kClassDefs[] = {
#define TRACE_CLASS(keyword, flag, comm) {keyword, #flag},
#include "pisnp/traceClassList.def"
#undef TRACE_CLASS
};

const DefEntry kTestDefs[] = {
#define TEST_FLAG(keyword, record) {keyword, #record},
#include "pisnp/testFlagList.def"
#undef TEST_FLAG
};

uint64_t digest(const std::string& text) {
    uint64_t h = 14695981039346656037ull;
    for (unsigned char c : text) h = (h ^ c) * 1099511628211ull;
    return h;
}

bool isKeyword(const std::string& s) {
    if (s.empty()) return false;
    for (unsigned char c : s)
        if (!std::isupper(c) && !std::isdigit(c) && c != '_') return false;
    return true;
}

std::string withoutUnderscores(std::string s) {
    s.erase(std::remove(s.begin(), s.end(), '_'), s.end());
    return s;
}

TEST(TraceClassTable, KeywordsDistinctInTheirContractOrderEachWithItsOwnFlag) {
    ASSERT_EQ(std::size(kClassDefs), 248u);
    std::set<std::string> names;
    std::set<unsigned char*> flags;
    std::string joined;
    int i = 0;
    for (; ClassTable[i].name != nullptr; ++i) {
        ASSERT_LT(i, 248);
        EXPECT_STREQ(ClassTable[i].name, kClassDefs[i].keyword);
        EXPECT_TRUE(isKeyword(ClassTable[i].name)) << ClassTable[i].name;
        EXPECT_TRUE(names.insert(ClassTable[i].name).second) << ClassTable[i].name;
        EXPECT_TRUE(flags.insert(ClassTable[i].flag).second) << ClassTable[i].name;
        joined += std::string(ClassTable[i].name) + ' ';
    }
    EXPECT_EQ(i, kTraceClassCount);
    EXPECT_EQ(ClassTable[i].flag, nullptr);
    EXPECT_STREQ(ClassTable[0].name, "ERROR") << "creation and reset spare the first class";
    EXPECT_EQ(digest(joined), 0x768e81f312087e29ull) << "the order of the classes changed";
}

TEST(TraceClassTable, GlobalsAreTrAndTheKeywordButForTheLongStandingNames) {
    const std::set<std::string> exceptions = {
        "TR_COMPRESSDETAIL", "TR_OFS_FILE_NAME",       "TR_REPLACEONREBOOT",
        "TR_WARN_FAILED",    "TR_IMAGE_THREAD",        "TR_JBBSVC",
        "TR_JBBD",           "TR_INSTR_CLIENT_DETAIL", "TR_NPCOMM",
        "TR_REST_FILE_COPY", "TR_STATUS_LOG",          "TR_BAQSTATS",
        "TR_FMDB_NPDB",      "TR_FMDB_FSDB",           "TR_FMDB_OBJDB"};
    int irregular = 0;
    for (const DefEntry& d : kClassDefs) {
        if (std::string("TR_") + d.keyword == d.global) continue;
        ++irregular;
        EXPECT_EQ(exceptions.count(d.global), 1u) << d.keyword << " -> " << d.global;
    }
    EXPECT_EQ(irregular, static_cast<int>(exceptions.size()));
    EXPECT_EQ(ClassTable[0].flag, &TR_ERROR);
}

TEST(TraceClassTable, OnlyTheFiveCommunicationClassesAreMarked) {
    std::set<std::string> comm;
    for (int i = 0; ClassTable[i].name; ++i)
        if (ClassTable[i].comm) comm.insert(ClassTable[i].name);
    EXPECT_EQ(comm,
              (std::set<std::string>{"COMM", "COMMDETAIL", "COMMFULL", "DELTA", "DELTASTAT"}));
}

TEST(TraceAggregateTable, EveryItemNamesAClassAnAggregateOrAll) {
    std::set<std::string> classes, aggregates;
    for (int i = 0; ClassTable[i].name; ++i) classes.insert(ClassTable[i].name);
    for (const TrAggrClass* a = AggrTable; a->name; ++a) aggregates.insert(a->name);
    std::string joined;
    int count = 0;
    for (const TrAggrClass* a = AggrTable; a->name; ++a, ++count) {
        EXPECT_EQ(classes.count(a->name), 0u) << a->name << " is a class too";
        std::stringstream items(a->items);
        for (std::string item; items >> item;) {
            std::string name = item[0] == '-' ? item.substr(1) : item;
            EXPECT_TRUE(name == "ALL" || classes.count(name) || aggregates.count(name))
                << a->name << ": " << item;
        }
        joined += std::string(a->name) + '=' + a->items + ';';
    }
    EXPECT_EQ(count, kTraceAggregateCount);
    EXPECT_EQ(digest(joined), 0x853f4bf805635759ull) << "an aggregate changed";
}

TEST(TestFlagTable, KeywordsDistinctInTheirContractOrderEachWithItsOwnRecord) {
    ASSERT_EQ(std::size(kTestDefs), 732u);
    std::set<std::string> names;
    std::set<TestFlag*> records;
    std::string joined;
    int i = 0;
    for (; TestClassTable[i].name != nullptr; ++i) {
        ASSERT_LT(i, 732);
        const std::string keyword = TestClassTable[i].name;
        EXPECT_EQ(keyword, kTestDefs[i].keyword);
        EXPECT_TRUE(isKeyword(keyword)) << keyword;
        EXPECT_TRUE(names.insert(keyword).second) << keyword;
        EXPECT_TRUE(records.insert(TestClassTable[i].flag).second) << keyword;
        // TEST_ and the keyword, the keyword's own TEST_ not doubled; a few long-standing
        // records split the keyword with underscores.
        std::string expected = keyword.rfind("TEST_", 0) == 0 ? keyword : "TEST_" + keyword;
        EXPECT_EQ(withoutUnderscores(kTestDefs[i].global), withoutUnderscores(expected)) << keyword;
        joined += keyword + ' ';
    }
    EXPECT_EQ(i, kTestFlagCount);
    EXPECT_EQ(TestClassTable[i].flag, nullptr);
    EXPECT_EQ(digest(joined), 0x958118e5b0ca0210ull) << "the order of the test flags changed";
}

}  // namespace
