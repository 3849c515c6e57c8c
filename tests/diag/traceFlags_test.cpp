// Switching classes and test flags from lists, as users type them.
#include <set>
#include <string>

#include <algorithm>
#include "support/allocTracker.h"
#include "traceTestSupport.h"

namespace {

using trace_detail::classOn;

std::set<std::string> classesOn() {
    std::set<std::string> on;
    for (const TrClass* c = ClassTable; c->name != nullptr; ++c)
        if (classOn(*c->flag)) on.insert(c->name);
    return on;
}

std::set<std::string> allClassesBut(std::set<std::string> except) {
    std::set<std::string> names;
    for (const TrClass* c = ClassTable; c->name != nullptr; ++c)
        if (!except.count(c->name)) names.insert(c->name);
    return names;
}

class TraceFlagsTest : public trace_test::TraceTest {
  protected:
    void SetUp() override {
        TraceTest::SetUp();
        // Take the one-time PREFIX/TIMESTAMP default out of the picture.
        enable("-ALL -TIMESTAMP -PREFIX");
    }
    int flags(const char* list) {
        std::string copy = list;
        return trProcTestFlags(copy.data());
    }
};

TEST_F(TraceFlagsTest, AllLeavesThePrefixClassesAlone) {
    enable("PREFIX");
    EXPECT_EQ(enable("all"), 0);
    EXPECT_EQ(classesOn(), allClassesBut({"TIMESTAMP", "COMMDETAIL", "COMMFULL"}));
    EXPECT_EQ(enable("-ALL"), 0);
    EXPECT_EQ(classesOn(), std::set<std::string>{"PREFIX"});
}

TEST_F(TraceFlagsTest, ServiceAndDevelopAggregates) {
    const std::set<std::string> negated = {
        "NLS",          "COMMDETAIL",   "COMMFULL",     "CRYPLIB_COMM",    "DIRDETAIL",
        "MEMORY",       "MEMDETAIL",    "MAC_DETAIL",   "INCLEXCL_DETAIL", "CLIENTTYPE",
        "PROXY_DETAIL", "EXTRC_DETAIL", "DEBUG",        "PFM_DETAIL",      "VM_DETAIL",
        "VSS_DETAIL",   "XATTR_DETAIL", "IC49009",      "BTREEDB",         "EDITOR",
        "CACHEDB",      "DBPERF",       "EXCLUDECACHE", "SMSIGNALHANDLER", "FP",
        "FPDETAIL1",    "FPDETAIL2",    "DEDUPENTER",   "DEDUPDETAIL",     "THREAD_DETAIL",
        "VMEXTENT",     "KEY_DETAIL"};
    ASSERT_EQ(negated.size(), 32u);
    enable("TIMESTAMP");
    EXPECT_EQ(enable("SERVICE"), 0);
    std::set<std::string> expected = negated;
    expected.insert("PREFIX");
    EXPECT_EQ(classesOn(), allClassesBut(expected));

    enable("-ALL");
    EXPECT_EQ(enable("DEVELOP"), 0);
    expected.insert("TIMESTAMP");
    EXPECT_EQ(classesOn(), allClassesBut(expected));
}

TEST_F(TraceFlagsTest, NestedAggregatesReachTheirMembers) {
    EXPECT_EQ(enable("ALL_VSS"), 0);
    EXPECT_TRUE(classOn(TR_SNAPSHOT_INFO));
    EXPECT_TRUE(classOn(TR_SNAPSHOT_DRIVER_DETAIL));
    EXPECT_TRUE(classOn(TR_LPM));
    EXPECT_EQ(enable("-ALL_VSS"), 0);
    EXPECT_EQ(classesOn(), std::set<std::string>{});
    // An aggregate's own "-" items turn off when the aggregate is switched off, too.
    enable("TIMESTAMP DELTA");
    EXPECT_EQ(enable("-MOBILE"), 0);
    EXPECT_FALSE(classOn(TR_TIMESTAMP));
    EXPECT_FALSE(classOn(TR_DELTA));
}

TEST_F(TraceFlagsTest, CommDetailClassesStayOffAndCommSetsCommTracing) {
    std::string path = dir_.file("t.out");
    ASSERT_EQ(begin(path), 0);
    EXPECT_EQ(enable("GENERAL COMMFULL"), 0);
    EXPECT_FALSE(classOn(TR_COMMFULL));
    EXPECT_NE(trace_test::readFile(path).find(
                  "COMMDETAIL and COMMFULL traceflags not currently supported\n"),
              std::string::npos);
    EXPECT_EQ(trIsCommTracingEnabled(), 0);
    enable("SUBFILE");
    EXPECT_EQ(trIsCommTracingEnabled(), 1);
    enable("-DELTA -DELTASTAT");
    EXPECT_EQ(trIsCommTracingEnabled(), 0);
}

TEST_F(TraceFlagsTest, UnknownNameFailsAfterApplyingTheNamesBeforeIt) {
    trace_test::StdoutCapture out;
    std::string list = "general -bogus api";
    EXPECT_EQ(trEnable(list.data(), 0), -1);
    EXPECT_EQ(out.text(), "Invalid trace flag: BOGUS\n");
    EXPECT_EQ(classesOn(), std::set<std::string>{"GENERAL"});
    trace_test::StdoutCapture quiet;
    EXPECT_EQ(enable("nothing", 1), -1);
    EXPECT_EQ(quiet.text(), "");
}

TEST_F(TraceFlagsTest, FirstEnableAfterResetSwitchesPrefixOnFirst) {
    trReset(0);
    EXPECT_EQ(enable("GENERAL -PREFIX"), 0);
    EXPECT_EQ(classesOn(), (std::set<std::string>{"GENERAL", "TIMESTAMP"}));
}

TEST_F(TraceFlagsTest, SelfNamingAggregateIsRefused) {
    static unsigned char a = 0;
    const TrClass classes[] = {{"A", &a, 0}, {nullptr, nullptr, 0}};
    const TrAggrClass loop[] = {{"LOOP", "A LOOP"}, {nullptr, nullptr}};
    std::string list = "LOOP";
    EXPECT_EQ(ResolveName(list.data(), 1, 1, classes, loop), -1);
    EXPECT_EQ(a, 1);
}

class TestFlagsTest : public TraceFlagsTest {};

TEST_F(TestFlagsTest, NumbersTextsAndInstrumentCategories) {
    EXPECT_EQ(flags("TIMEOUT:30 c2s_certdir:\"/etc/certs\" INSTRUMENT:DETAIL/dbops"), 0);
    EXPECT_EQ(TEST_TIMEOUT.on, 1);
    EXPECT_EQ(TEST_TIMEOUT.value, 30);
    EXPECT_EQ(TEST_C2S_CERTDIR.value, 0);
    ASSERT_NE(TEST_C2S_CERTDIR.text, nullptr);
    EXPECT_STREQ(TEST_C2S_CERTDIR.text, "/etc/certs");
    EXPECT_EQ(TEST_INSTRUMENT.value, 5);

    EXPECT_EQ(flags("timeout:12"), 0);
    EXPECT_EQ(TEST_TIMEOUT.value, 12);
    EXPECT_EQ(flags("C2S_CERTDIR:\"/other\""), 0);
    EXPECT_STREQ(TEST_C2S_CERTDIR.text, "/other");
    EXPECT_EQ(flags("CRC"), 0);
    EXPECT_EQ(TEST_CRC.on, 1);
    EXPECT_EQ(TEST_CRC.text, nullptr);
}

TEST_F(TestFlagsTest, BadItemsFailAfterApplyingTheItemsBeforeThem) {
    EXPECT_EQ(flags("CRC TIMEOUT:30s"), -1);
    EXPECT_EQ(TEST_CRC.on, 1);
    EXPECT_EQ(TEST_TIMEOUT.on, 0);
    EXPECT_EQ(flags("INSTRUMENT:DETAIL/TIMING"), -1);
    EXPECT_EQ(TEST_INSTRUMENT.on, 0);
    EXPECT_EQ(flags("NOSUCHFLAG:1"), -1);
    EXPECT_EQ(flags("C2S_CERTDIR:\"open"), -1);
    EXPECT_EQ(TEST_C2S_CERTDIR.on, 0);

    char exact[] = "TIMEOUT";
    char lower[] = "timeout";
    EXPECT_EQ(TestClassTable[FindSimple(exact, TestClassTable)].flag, &TEST_TIMEOUT);
    EXPECT_EQ(FindSimple(lower, TestClassTable), -1);
}

TEST_F(TestFlagsTest, AllAndTheConsistentReturnCodeSwitch) {
    EXPECT_EQ(flags("SHOWALLCONSISTENTRC DISABLECONSISTENTRC"), 0);
    EXPECT_EQ(TEST_IGNOREPRESCHEDULECMD.on, 1);
    EXPECT_EQ(TEST_IGNOREPOSTSCHEDULECMD.on, 1);
    EXPECT_EQ(TEST_SHOWALLCONSISTENTRC.on, 0);

    EXPECT_EQ(flags("ALL:3"), 0);
    for (const TestClass* c = TestClassTable; c->name != nullptr; ++c) {
        EXPECT_EQ(c->flag->on, 1) << c->name;
        EXPECT_EQ(c->flag->value, 3) << c->name;
    }
}

TEST_F(TestFlagsTest, QuotedTextSurvivesAllocationFailuresWithoutLeaks) {
    int failures = 0;
    pisnp_test::sweepAllocationFailures(
        [&] { return flags("C2S_CERTDIR:\"/etc/certs\""); },
        [&](int rc, bool injected, pisnp_test::AllocTracker& tracker) {
            if (injected) ++failures;
            if (!injected) {
                EXPECT_EQ(rc, 0);
                EXPECT_STREQ(TEST_C2S_CERTDIR.text, "/etc/certs");
            }
            delete_TraceObject();  // frees every flag text
            EXPECT_EQ(tracker.live(), 0u);
            new_TraceObject(ctCLBackup, 0, nullptr);
        });
    EXPECT_GE(failures, 2);
}

TEST_F(TestFlagsTest, EnabledFlagsAreListedOnTheTrace) {
    std::string path = dir_.file("t.out");
    ASSERT_EQ(begin(path), 0);
    enable("-TIMESTAMP -PREFIX");
    flags("ABORTRECALL TIMEOUT:30 C2S_CERTDIR:\"/c\" INSTRUMENT:DBOPS/API");
    trPrintEnabledTestFlags();
    std::string content = trace_test::readFile(path);
    EXPECT_NE(content.find("Current testflags enabled: \nABORTRECALL\nC2S_CERTDIR:/c\n"
                           "INSTRUMENT:API DBOPS \nTIMEOUT:30\n"),
              std::string::npos)
        << content;
}

TEST_F(TestFlagsTest, TablesAreListedOnStandardOutput) {
    trace_test::StdoutCapture out;
    trQueryTraceFlags();
    trQueryTestFlags();
    std::string text = out.text();
    EXPECT_EQ(text.rfind("Trace Class Table:\nERROR, ACTIVEDIR, ", 0), 0u);
    EXPECT_NE(text.find(", CRYPLIB_COMM\n\nTrace Aggregate Table:\nALL_API = API API_DETAIL\n"),
              std::string::npos);
    EXPECT_NE(text.find("\nVM = VMBACK VMDATA"), std::string::npos);
    std::string tests = text.substr(text.find("Test Class Table:\n"));
    EXPECT_EQ(std::count(tests.begin(), tests.end(), ','), kTestFlagCount - 1);
    EXPECT_EQ(tests.substr(tests.size() - 31), "VVOLDPRESTORE, ALTSQLDPRESTORE\n");
}

}  // namespace
