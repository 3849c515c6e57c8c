// What the print functions put on each destination, and what they leave alone.
#include <regex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "pisnp/globalRC.h"
#include "pisnp/hostAnchor.h"
#include "support/allocTracker.h"
#include "traceTestSupport.h"

namespace {

using trace_test::readFile;

class TraceOutputTest : public trace_test::TraceTest {
  protected:
    // An unbounded file whose lines carry no prefix unless the test asks for one.
    std::string beginPlain(const char* classes = "-ALL GENERAL -TIMESTAMP -PREFIX") {
        std::string path = dir_.file("out.trace");
        EXPECT_EQ(enable(classes), 0);
        EXPECT_EQ(begin(path), 0);
        return path;
    }
    // The file's text behind the banner that the last begin wrote.
    static std::string body(const std::string& path) {
        std::string content = readFile(path);
        size_t at = content.rfind("BEGINNING NEW TRACE\n\n");
        return at == std::string::npos ? content : content.substr(at + 21);
    }
};

TEST_F(TraceOutputTest, NothingIsWrittenBeforeBeginOrWhileStopped) {
    enable("ALL");
    unsigned char bytes[] = {1, 2, 3};
    EXPECT_EQ(trPrintf("f", 1, "text\n"), 0);
    EXPECT_EQ(trPrint("text\n"), 0);
    EXPECT_EQ(trOutTSTrMessage("text\n"), 0);
    EXPECT_EQ(trNlsPrintf("f", 1, 1824), 0);
    EXPECT_EQ(trCanOutPut(), 0);

    std::string path = beginPlain();
    trStopTracing();
    EXPECT_EQ(trPrintf("f", 1, "stopped\n"), 0);
    EXPECT_EQ(trPrint("stopped\n"), 0);
    trPrintStr(bytes, 3, cfHex);
    trQuery();
    trPrintEnabledTestFlags();
    EXPECT_EQ(body(path), "");

    trStartTracing();
    EXPECT_EQ(trPrintf("f", 1, "started\n"), 8);
    EXPECT_EQ(body(path), "started\n");
}

TEST_F(TraceOutputTest, PrefixWithTimestampPidAndSourceReadsAsDocumented) {
    std::string path = beginPlain("-ALL GENERAL PID");
    TRACE_VA<char>(TR_GENERAL, "traceOutput_test.cpp", 42, "value %d\n", 7);
    std::regex layout(
        R"(\d\d/\d\d/\d\d(\d\d)? +\d\d:\d\d:\d\d\.\d{3} \[\d{6,}\] : traceOutput_test.cpp\(  42\): value 7\n)");
    std::string line = body(path);
    EXPECT_TRUE(std::regex_match(line, layout)) << line;
    char pid[32];
    std::snprintf(pid, sizeof pid, "[%.6u] : ", static_cast<unsigned>(getpid()));
    EXPECT_NE(line.find(pid), std::string::npos) << line;
}

TEST_F(TraceOutputTest, NewThreadGetsABannerWithItsClientWord) {
    delete_TraceObject();
    new_TraceObject(ctDIWebClient, static_cast<unsigned long>(pthread_self()), trace_test::tidProc);
    std::string path = beginPlain("-ALL GENERAL TID CLIENTTYPE -TIMESTAMP -PREFIX");
    trPrintf("f", 1, "main thread\n");
    std::thread([] { trPrintf("f", 1, "other thread\n"); }).join();
    std::string text = body(path);

    // The creating thread was the last thread already: no banner before its line.
    std::regex layout(R"(\[\d+\] \[ctDIWebClien\]: main thread\n)"
                      R"(\n {29}New thread Agent   0================>\n)"
                      R"(\[\d+\] \[ctDIWebClien\]: other thread\n)");
    EXPECT_TRUE(std::regex_match(text, layout)) << text;

    // With the host's anchor, the banner carries the host's name and number for the thread.
    struct Desc : HostThreadDesc {
        const char* getName() override { return "Worker"; }
        int getNumber() override { return 7; }
    } desc;
    struct Anchor : HostAnchor {
        HostThreadDesc* d;
        void anchorSlot0() override {}
        void anchorSlot1() override {}
        HostThreadDesc* getThreadDesc(int which) override { return which == 0 ? d : nullptr; }
    } anchor;
    anchor.d = &desc;
    GAnchorP = &anchor;
    // A joined thread's id may be reused: make the main thread the last one first.
    trPrintf("f", 1, "main again\n");
    std::thread([] { trPrintf("f", 1, "named thread\n"); }).join();
    GAnchorP = nullptr;
    EXPECT_NE(body(path).find(std::string(26, ' ') + "Worker thread Agent   7================>\n"),
              std::string::npos);
}

TEST_F(TraceOutputTest, QueryListsEnabledClassesWithoutLeadingSeparator) {
    std::string path = beginPlain("-ALL API -TIMESTAMP -PREFIX");
    trQuery();
    EXPECT_EQ(body(path), "Current trace classes enabled: \nAPI\n\n");
    trClose(0);

    path = beginPlain("-ALL -TIMESTAMP -PREFIX");
    trQuery();
    EXPECT_EQ(body(path), "Current trace classes enabled: \nNone\n\nTracing not active.\n");
}

TEST_F(TraceOutputTest, StatusReportGoesToTheCallersBuffer) {
    trSetMaxTraceSize(4);
    std::string name = dir_.file("s.out");
    trSetTraceFileNameNoLink(name.data());
    enable("-ALL ERROR -TIMESTAMP -PREFIX");
    std::vector<char> out(64 * 1024);
    trStatus(101, out.data());
    std::string report = out.data();
    EXPECT_EQ(report.rfind("  TRACEFILE:    " + name +
                               "\n  TRACEMAX :    4\n"
                               "  TRACESEGSIZE: 0\n  TRACE STATUS: Disabled\n\n",
                           0),
              0u);
    EXPECT_NE(report.find("\n  ERROR\n"), std::string::npos);
    EXPECT_EQ(report.find("  GENERAL\n"), std::string::npos);

    trStatus(103, out.data());
    report = out.data();
    EXPECT_NE(report.find("  ERROR                  ON      "
                          "  ACTIVEDIR              OFF\n"),
              std::string::npos);
    EXPECT_EQ(report.substr(report.size() - 2), "\n\n");

    trStatus(7, out.data());
    report = out.data();
    EXPECT_EQ(report.substr(report.find("TRACE STATUS")), "TRACE STATUS: Disabled\n\n");
}

TEST_F(TraceOutputTest, ConsoleCallbackReceivesOpenTextAndClose) {
    static std::vector<std::pair<int, std::string>> calls;
    calls.clear();
    trConsoleCallback_t callback = [](trConsoleMsg_t msg, const char* text, void*) {
        calls.emplace_back(msg, text != nullptr ? text : "");
        return 0;
    };
    trInstallConsoleCallback(callback, nullptr);
    enable("GENERAL");
    {
        trace_test::StdoutCapture out;
        char console[] = "console";
        ASSERT_EQ(trBegin(console, 0), 0);
        EXPECT_EQ(out.text(), "Tracing to stderr\n");
    }
    trPrintf("f", 1, "to the host\n");
    trClose(0);
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[0].first, trConsoleOpen);
    EXPECT_EQ(calls[1], std::make_pair(static_cast<int>(trConsoleText),
                                       std::string("f                   (   1): to the host\n")));
    EXPECT_EQ(calls[2].first, trConsoleClose);

    // A host that refuses: nothing is opened.
    trInstallConsoleCallback([](trConsoleMsg_t, const char*, void*) { return 1; }, nullptr);
    char console[] = "CONSOLE";
    ASSERT_EQ(trBegin(console, 0), 0);
    EXPECT_EQ(trCanOutPut(), 0);
}

TEST_F(TraceOutputTest, StandardOutputHonoursNoStdout) {
    enable("GENERAL -TIMESTAMP -PREFIX");
    char name[] = "STDOUT";
    {
        trace_test::StdoutCapture out;
        ASSERT_EQ(trBegin(name, 0), 0);
        trPrintf("f", 1, "visible\n");
        EXPECT_EQ(out.text(), "Tracing to stdout\nvisible\n");
    }
    trSetNoStdout();
    trace_test::StdoutCapture out;
    EXPECT_EQ(trPrintf("f", 1, "hidden\n"), 0);
    EXPECT_EQ(out.text(), "");
}

TEST_F(TraceOutputTest, EveryTraceCallKeepsErrno) {
    std::string path = beginPlain();
    unsigned char bytes[] = {0x41, 0x42};
    auto keeps = [](const char* what, auto call) {
        errno = 4321;
        call();
        EXPECT_EQ(errno, 4321) << what;
    };
    keeps("trPrintf", [] { trPrintf("f", 1, "%s\n", "x"); });
    keeps("trPrint", [] { trPrint("x\n"); });
    keeps("TRACE_VA", [] { TRACE_VA<char>(TR_GENERAL, "f", 1, "x\n"); });
    keeps("trPrintStr", [&] { trPrintStr(bytes, 2, cfHex); });
    keeps("trPrintFormattedDump", [&] { trPrintFormattedDump(bytes, 2, 8); });
    keeps("trQuery", [] { trQuery(); });
    keeps("trLogDiagMsg", [] { trLogDiagMsg("f", 1, TR_GENERAL, "x\n"); });
    keeps("trNlsLogPrintf", [] { trNlsLogPrintf("f", 1, 1, 1824); });
    keeps("TREnterExit", [] { TREnterExit<char> scope("f", 1, "fn"); });
    std::string missing = dir_.file("no/such/dir");
    keeps("trBegin failing", [&] {
        trClose(0);
        trace_test::StdoutCapture out;
        trBegin(missing.data(), 0);
    });
}

TEST_F(TraceOutputTest, EnterExitScopeTracesNameAndResult) {
    std::string path = beginPlain("ENTER EXIT -TIMESTAMP -PREFIX");
    {
        int rc = 0;
        TREnterExit<char> scope("f.cpp", 10, "doWork", &rc);
        rc = 109;
    }
    { TREnterExit<char> scope("f.cpp", 20, "noResult"); }
    EXPECT_EQ(body(path),
              "ENTER =====> doWork\nEXIT  <===== doWork, rc = 109\n"
              "ENTER =====> noResult\nEXIT  <===== noResult\n");
}

TEST_F(TraceOutputTest, BytesAreDumpedInTheirForms) {
    std::string path = beginPlain();
    unsigned char abc[] = {0x41, 0x00, 0x42};
    trPrintStr(abc, 3, cfPrintable);
    trPrint("|");
    trPrintStr(abc, 3, cfHex);
    trPrint("|");
    unsigned char many[40];
    for (int i = 0; i < 40; ++i) many[i] = static_cast<unsigned char>(i);
    trPrintStr(many, 40, cfHexGrouped);
    std::string text = body(path);
    EXPECT_EQ(text.substr(0, 11), "A.B|410042|");
    std::string grouped = text.substr(11);
    EXPECT_EQ(grouped.substr(0, 18), "00010203 04050607 ");
    // A line feed right after the eighth blank, that is before byte 32.
    EXPECT_EQ(grouped.substr(grouped.find('\n') - 1, 10), " \n20212223");
    EXPECT_EQ(grouped.size(), 80u + 9 + 1);
}

TEST_F(TraceOutputTest, EbcdicAndAutomaticFormsOfBytes) {
    std::string path = beginPlain();
    // "Hi 1" in EBCDIC, then a byte whose translation is a control character.
    unsigned char ebcdic[] = {0xC8, 0x89, 0x40, 0xF1, 0x05};
    trPrintStr(ebcdic, 5, cfEbcdic);
    trPrint("|");
    // A NUL among single-byte characters still makes single-byte text.
    unsigned char abc[] = {0x41, 0x00, 0x42};
    trPrintStr(abc, 3, cfAuto);
    EXPECT_EQ(body(path), "Hi 1.|A.B");
}

TEST_F(TraceOutputTest, FormattedDumpShowsRowsOfHexAndCharacters) {
    std::string path = beginPlain();
    const char data[] = "ABCDEF";
    trPrintFormattedDump(const_cast<char*>(data), 6, 4);
    std::string text = body(path);
    char next[16];
    std::snprintf(next, sizeof next,
                  "\n%08X: ", static_cast<unsigned>(reinterpret_cast<uintptr_t>(data + 4)));
    EXPECT_NE(text.find("(6 Bytes)\n\n"), std::string::npos) << text;
    // The range is printed as "%08p" prints it, the null pointer included.
    char range[64];
    std::snprintf(range, sizeof range, "Range %#08lx - %#08lx (6 Bytes)",
                  reinterpret_cast<unsigned long>(data), reinterpret_cast<unsigned long>(data + 6));
    EXPECT_NE(text.find(range), std::string::npos) << text;
    EXPECT_NE(text.find(": 41 42 43 44     ABCD" + std::string(next) + "45 46" +
                        std::string(11, ' ') + "EF\n\n"),
              std::string::npos)
        << text;
    trPrintFormattedDump(nullptr, 0, 4);
    EXPECT_NE(body(path).find("Range    (nil) -    (nil) (0 Bytes)\n\n\n\n   (nil): "),
              std::string::npos);
}

TEST_F(TraceOutputTest, DiagnosticMessagesAreTracedForErrorClasses) {
    std::string path = beginPlain("-ALL -TIMESTAMP -PREFIX");
    // Bit 1 alone asks only for the error program: nothing on the trace.
    EXPECT_EQ(trLogDiagMsg("f", 1, 2, "quiet %d\n", 1), 0);
    EXPECT_EQ(trLogDiagMsg("f", 1, 1, "loud %d\n", 2), 7);
    enable("ERROR");
    EXPECT_EQ(trLogDiagMsg("f", 1, 0, "error on\n"), 9);
    EXPECT_EQ(body(path), "loud 2\nerror on\n");

    pisnp_test::AllocTracker tracker;
    tracker.failAt(1);
    EXPECT_EQ(trLogDiagMsg("f", 1, 1, "no memory\n"), 102);
    EXPECT_EQ(tracker.live(), 0u);
}

TEST_F(TraceOutputTest, NumberedMessagesRaiseTheReturnCodeAndReachTheErrorProgram) {
    GlobalRC rc;
    gRC = &rc;
    std::string path = beginPlain("-ALL -TIMESTAMP -PREFIX");
    std::string received = dir_.file("received");
    std::string prog = "/bin/sh -c 'cat >> " + received + "'";
    trSetErrorProg(prog.data());
    EXPECT_GT(trNlsLogPrintf("f", 1, 3, 1191, "/some/link"), 0);
    EXPECT_EQ(rc.get(), 12);
    EXPECT_NE(body(path).find("/some/link"), std::string::npos);
    EXPECT_NE(readFile(received).find("ANS1191E"), std::string::npos);

    // With an error file the text goes there instead of to the program.
    std::FILE* errors = std::tmpfile();
    trRouteErrToFile(errors);
    trNlsLogPrintf("f", 1, 2, 1191, "/other/link");
    std::rewind(errors);
    char copied[256] = "";
    EXPECT_NE(std::fgets(copied, sizeof copied, errors), nullptr);
    EXPECT_NE(std::string(copied).find("/other/link"), std::string::npos);
    EXPECT_EQ(readFile(received).find("/other/link"), std::string::npos);
    trRouteErrToFile(nullptr);
    std::fclose(errors);

    // A program that cannot run is reported once, and never fails the caller.
    char bad[] = "/no/such/program -x";
    trSetErrorProg(bad);
    enable("GENERAL");
    trNlsLogPrintf("f", 1, 2, 1191, "a");
    trNlsLogPrintf("f", 1, 2, 1191, "b");
    std::string text = body(path);
    EXPECT_NE(text.find("/no/such/program"), std::string::npos);
    EXPECT_EQ(text.find("ANS9293E"), text.rfind("ANS9293E"));
    gRC = nullptr;
}

TEST_F(TraceOutputTest, StatusLogStartsTracingToItsFile) {
    char dir[] = "/x";
    EXPECT_EQ(trInitializeStatusLog(nullptr, dir, nullptr), 109);
    EXPECT_EQ(trInitializeStatusLog(dir, nullptr, nullptr), 109);

    std::string d = dir_.path();
    char file[] = "status.log";
    char out[8192] = "";
    {
        pisnp_test::AllocTracker tracker;
        tracker.failAt(1);
        EXPECT_EQ(trInitializeStatusLog(d.data(), file, out), 102);
        EXPECT_EQ(tracker.live(), 0u);
    }
    ASSERT_EQ(trInitializeStatusLog(d.data(), file, out), 0);
    EXPECT_EQ(std::string(out), d + "/status.log");
    EXPECT_TRUE(trace_detail::classOn(TR_STATUS_LOG));
    EXPECT_FALSE(trace_detail::classOn(TR_PREFIX));
    TRACE_VA<char>(TR_STATUS_LOG, "f", 1, "status line\n");
    EXPECT_NE(readFile(out).find("status line\n"), std::string::npos);

    // Already running: the running trace file is the status log.
    char other[] = "other.log";
    ASSERT_EQ(trInitializeStatusLog(d.data(), other, out), 0);
    EXPECT_EQ(std::string(out), d + "/status.log");
}

}  // namespace
