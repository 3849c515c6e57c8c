// The catalogs as the message API reads them: entries decoded, broken ones reported, the caches,
// start-up failures, and the project's own catalogs in English and German.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "nlsTestSupport.h"
#include "support/allocTracker.h"

namespace {

using nls_test::ClientDir;
using nls_test::LocaleScope;
using nls_test::message;
using nls_test::outputs;

// Entries as the message compiler writes them, and the broken ones it never would.
constexpr char kEnglish[] = R"(101 ANS0101W \001Disk %s is full.\n
102 ANS0102T \001Only the body %d\n
103 ANS01103E \001Five digits
104 ANS0104M \001not a message
105 ANS0105Q \001bad letter
106 ANS0106I \001Answer me\022yn
107 ANS0107I \001A\022 mark far from the end of the entry
108 ANS0108E \020\016\020\020\020\002\001\020\020\020%s\020\020\020%s\020Copying \020 to \020.\020
109 ANS0109E \020\016\020\020\020\002\001\020\020\020%s
110 ANS0110E \020\016\020\020\020\015\001\020
111 ANS0111E \020\016\020\020\020\001\020\020\020%n\020a\020b\020
)";
constexpr char kGerman[] = R"(101 ANS0101W \001Platte %s ist voll.\n
108 ANS0108E \020\016\020\020\020\002\020\001\020\020%s\020\020\020%s\020Kopiere \020 nach \020.\020
)";

class Catalog : public ::testing::Test {
  protected:
    void SetUp() override {
        dir.catalog("EN_US", kEnglish);
        dir.catalog("DE_DE", kGerman);
    }
    void TearDown() override { nls_test::stop(); }
    bool said(int sev, const std::string& text) {
        for (const auto& o : outputs())
            if (o.sev == sev && o.text.find(text) != std::string::npos) return true;
        return false;
    }
    // The message numbers of a cache, most recently used first.
    static std::vector<int> ring(nlsMsg* head) {
        std::vector<int> numbers;
        for (nlsMsg* m = head; m != nullptr && (numbers.empty() || m != head); m = m->next)
            numbers.push_back(m->number);
        return numbers;
    }

    ClientDir dir;
};

TEST_F(Catalog, EntriesDecodeByTheirSeverity) {
    LocaleScope c(nullptr);
    ASSERT_EQ(nls_test::start(dir.path()), 0);
    EXPECT_EQ(message(101, "/home"), "ANS0101W Disk /home is full.\n");
    EXPECT_EQ(message(102, 7), "Only the body 7\n") << "a T message shows no identifier";
    EXPECT_EQ(message(103), "ANS1103E Five digits") << "shown with four digits";
    EXPECT_EQ(nlGetMsgSev(101), nlsSevWarning);
    EXPECT_EQ(nlGetMsgSev(102), nlsSevTrace);

    outputs().clear();
    EXPECT_EQ(message(104), "");
    EXPECT_TRUE(outputs().empty()) << "an M entry is no message, and nothing is reported";

    char response[16] = "x";
    EXPECT_EQ(nlresponse(106, response), 0);
    EXPECT_STREQ(response, "yn");
    EXPECT_EQ(message(106), "ANS0106I Answer me");
    EXPECT_EQ(nlresponse(107, response), 0);
    EXPECT_STREQ(response, "") << "a 0x12 far from the end starts no response";
    EXPECT_EQ(message(107), "ANS0107I A") << "but the text ends there all the same";
    EXPECT_EQ(nlresponse(999, response), -1);
}

TEST_F(Catalog, CompiledBodiesPlaceInsertsInTheirOrder) {
    LocaleScope c(nullptr);
    ASSERT_EQ(nls_test::start(dir.path()), 0);
    EXPECT_EQ(message(108, "A", "B"), "ANS0108E Copying B to A.");
    char tmpl[64];
    nlapimsg(108, tmpl, 0);
    EXPECT_STREQ(tmpl, "ANS0108E Copying * to *.");
    nlapimsg(101, tmpl, 0);
    EXPECT_STREQ(tmpl, "ANS0101W Disk * is full.\n");
}

TEST_F(Catalog, BrokenEntriesAreReportedAndYieldNothing) {
    LocaleScope c(nullptr);
    ASSERT_EQ(nls_test::start(dir.path()), 0);
    // A bad letter, a body cut short, 13 slots, a conversion its descriptor does not announce.
    for (int n : {105, 109, 110, 111}) {
        outputs().clear();
        EXPECT_EQ(message(n, "a", "b"), "") << n;
        EXPECT_EQ(nlGetMsgSev(n), 255);
        std::regex report("ANS9999E nlsCatalog\\.cpp\\(\\d+\\): Message No " + std::to_string(n) +
                          " is corrupted\\.\n");
        ASSERT_FALSE(outputs().empty()) << n;
        EXPECT_EQ(outputs()[0].sev, nlsSevError);
        EXPECT_TRUE(std::regex_match(outputs()[0].text, report)) << outputs()[0].text;
    }
    outputs().clear();
    EXPECT_EQ(message(4711), "");
    EXPECT_TRUE(said(nlsSevError, "Message No 4711 could not be found.\n"));
}

TEST_F(Catalog, CacheKeepsTheMostRecentlyUsedAndEvictsTheOldest) {
    LocaleScope c(nullptr);
    ASSERT_EQ(nls_test::start(dir.path(), 2), 0);
    nlsObject_t* obj = getNlsGlobalObjectHandle();
    nlGetMsgSev(101);
    nlGetMsgSev(102);
    EXPECT_EQ(ring(obj->localCache), (std::vector<int>{102, 101}));
    nlGetMsgSev(101);
    EXPECT_EQ(ring(obj->localCache), (std::vector<int>{101, 102})) << "a hit moves to the front";
    nlGetMsgSev(106);
    EXPECT_EQ(ring(obj->localCache), (std::vector<int>{106, 101})) << "102 was the oldest";
}

TEST_F(Catalog, EnglishIsReadOnceWhenAskedAndMissingTranslationsFallBackToIt) {
    LocaleScope german("de_DE.UTF-8");  // chooses the catalog whether or not it is installed
    ASSERT_EQ(nls_test::start(dir.path()), 0);
    nlsObject_t* obj = getNlsGlobalObjectHandle();
    char* out = nullptr;
    nlEngMessage(out, 101, "/x");
    EXPECT_STREQ(out, "ANS0101W Disk /x is full.\n");
    arcFree(out, "test", 0);
    EXPECT_EQ(message(101, "/x"), "ANS0101W Platte /x ist voll.\n") << "the flag is one-shot";
    EXPECT_EQ(message(108, "A", "B"), "ANS0108E Kopiere A nach B.");
    EXPECT_EQ(ring(obj->englishCache), std::vector<int>{101});

    outputs().clear();
    EXPECT_EQ(message(102, 3), "Only the body 3\n");
    EXPECT_TRUE(said(nlsSevError, "Message No 102 could not be found.\n"));
    EXPECT_EQ(ring(obj->localCache).front(), 102) << "served from English, kept with the local";
}

TEST_F(Catalog, StartUpFailuresAndFallbacks) {
    LocaleScope french("fr_FR.UTF-8");
    nlsReturnInfo_t info;
    ClientDir empty;
    EXPECT_EQ(nls_test::start(empty.path()), 610);
    EXPECT_TRUE(said(nlsSevWarning, "ANS0102W Unable to open the message repository " +
                                        empty.path() +
                                        "/EN_US/arcclientV3.cat. The American English "
                                        "repository will be used instead.\n"));
    nls_test::stop();

    std::string longName(kNlsReposNameMax, 'r');
    std::string longDir(kNlsDirMax, 'd');
    std::string d = dir.path(), r = "arcclientV3.cat";
    newNlsGlobalObject(nls_test::gSinks, 1);
    EXPECT_EQ(nlinit(longName.data(), 10, d.data(), ctCLBackup, 0, 0, 0, &info, nullptr), 610);
    nlterm();
    EXPECT_EQ(nlinit(r.data(), 10, longDir.data(), ctCLBackup, 0, 0, 0, &info, nullptr), 610);
    nlterm();
    EXPECT_EQ(nlinit(nullptr, 10, d.data(), ctCLBackup, 0, 0, 0, &info, nullptr), 610);
    nlterm();

    // No French catalog: English serves, and the warning names where French was looked for.
    outputs().clear();
    EXPECT_EQ(nlinit(r.data(), 10, d.data(), ctCLBackup, 0, 0, 0, &info, nullptr), 0);
    EXPECT_STREQ(arcLocale, "EN_US");
    EXPECT_TRUE(said(nlsSevWarning, "repository " + d + "/FR_FR/arcclientV3.cat. The Am"));
    EXPECT_EQ(message(101, "/y"), "ANS0101W Disk /y is full.\n");
}

TEST_F(Catalog, RunningOutOfMemoryGivesItsCodesAndLeaksNothing) {
    LocaleScope c(nullptr);
    std::string d = dir.path();
    nls_test::start(d);  // the converters are process-wide; open them before counting
    nls_test::stop();
    int degraded = 0;
    pisnp_test::sweepAllocationFailures(
        [&] {
            int rc = nls_test::start(d);
            std::string text = message(108, "A", "B");
            nls_test::stop();
            return std::make_pair(rc, text);
        },
        [&](const std::pair<int, std::string>& r, bool injected, pisnp_test::AllocTracker& t) {
            EXPECT_EQ(t.live(), 0u);
            EXPECT_EQ(r.first, 0);
            if (!injected) {
                EXPECT_EQ(r.second, "ANS0108E Copying B to A.");
            } else if (r.second.empty()) {
                ++degraded;
            } else {
                EXPECT_EQ(r.second, "ANS0108E Copying B to A.");
            }
        });
    EXPECT_GE(degraded, 2) << "the buffer object and the result";


    // A record that cannot be had is reported; the lookup then tries the English catalog.
    nls_test::start(d);
    pisnp_test::AllocTracker tracker;
    tracker.failAt(1);
    EXPECT_EQ(message(101, "/z"), "ANS0101W Disk /z is full.\n");
    EXPECT_TRUE(
        said(nlsSevError, "ANS0109E Insufficient memory for allocation of message structure.\n"));

    // A cached printf message asks for one block, the text it hands out; one too long to be
    // composed on the stack takes the general way.
    pisnp_test::AllocTracker cached;
    EXPECT_EQ(message(101, "/x"), "ANS0101W Disk /x is full.\n");
    EXPECT_EQ(cached.allocations(), 1u);
    cached.failAt(1);
    EXPECT_EQ(message(101, "/x"), "");
    EXPECT_EQ(cached.live(), 0u);
    std::string path(3000, 'p');
    EXPECT_EQ(message(101, path.c_str()), "ANS0101W Disk " + path + " is full.\n");
}

TEST_F(Catalog, ConcurrentCallersShareTheCachesSafely) {
    LocaleScope c(nullptr);
    ASSERT_EQ(nls_test::start(dir.path(), 2), 0);
    std::vector<std::thread> threads;
    std::vector<int> wrong(4, 0);
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < 200; ++i) {
                if (message(101, "/d") != "ANS0101W Disk /d is full.\n") ++wrong[t];
                if (message(108, "A", "B") != "ANS0108E Copying B to A.") ++wrong[t];
                if (message(102 + 4 * (i % 2), 1).empty()) ++wrong[t];
            }
        });
    for (auto& th : threads) th.join();
    EXPECT_EQ(wrong, std::vector<int>(4, 0));
}

// ---- The project's catalogs ----------------------------------------------------------------

// Each message of a source as nlapimsg shows it: escapes resolved, "*" for every insert.
std::vector<std::pair<int, std::string>> templatesOf(const std::string& source) {
    std::vector<std::pair<int, std::string>> all;
    std::ifstream in(source);
    std::regex entry(R"(^(\d+) (ANS\d+([A-Z])) (.*)$)");
    std::smatch m;
    for (std::string line; std::getline(in, line);) {
        if (!std::regex_match(line, m, entry)) continue;
        std::string text = m[4], out;
        if (text.size() >= 2 && text.front() == '"' && text.back() == '"')
            text = text.substr(1, text.size() - 2);
        for (size_t i = 0; i < text.size(); ++i) {
            if (text[i] == '\\') {
                char e = text[++i];
                out += e == 'n' ? '\n' : e == 't' ? '\t' : e;
            } else if (text.compare(i, 2, "{{") == 0 || text.compare(i, 2, "}}") == 0) {
                out += text[i++];
            } else if (text[i] == '{') {
                i = text.find('}', i);
                out += '*';
            } else {
                out += text[i];
            }
        }
        std::string id = m[2];
        if (id.size() == 9) id.erase(3, 1);
        bool shown = std::string("KIWES").find(m.str(3)) != std::string::npos;
        all.emplace_back(std::stoi(m[1]), shown ? id + " " + out : out);
    }
    return all;
}

void expectEveryEntryDecodes(const char* source) {
    auto all = templatesOf(std::string(PISNP_SOURCE_DIR) + "/messages/" + source);
    ASSERT_GT(all.size(), 10u);
    for (const auto& [number, text] : all) {
        char tmpl[kNlsWorkBufSize] = "";
        nlapimsg(number, tmpl, 0);
        EXPECT_EQ(tmpl, text) << source << " message " << number;
    }
}

TEST(ProjectCatalogs, EveryEntryOfTheSourcesDecodesBackToItsText) {
    {
        LocaleScope c(nullptr);
        ASSERT_EQ(nls_test::start(pisnp_test::catalogDir()), 0);
        expectEveryEntryDecodes("EN_US.txt");
        nls_test::stop();
    }
    LocaleScope german("de_DE.UTF-8");
    NLS_NEED_LOCALE(german, "de_DE.UTF-8");
    ASSERT_EQ(nls_test::start(pisnp_test::catalogDir()), 0);
    expectEveryEntryDecodes("DE_DE.txt");
    nls_test::stop();
}

// The public API in German, in both of the locale's code sets: the catalog's UTF-8 reaches the
// caller converted.
TEST(ProjectCatalogs, GermanMessagesComeInTheLocalesCodeSet) {
    struct Case {
        const char* lang;
        std::string expected;
    };
    const Case cases[] = {
        {"de_DE.UTF-8",
         "ANS1190W Die auf 'T' zeigende symbolische Verkn\xC3\xBCpfung 'L' wurde "
         "gel\xC3\xB6scht.\n"},
        {"de_DE.ISO-8859-1",
         "ANS1190W Die auf 'T' zeigende symbolische Verkn\xFCpfung 'L' wurde gel\xF6scht.\n"},
    };
    for (const Case& c : cases) {
        LocaleScope scope(c.lang);
        NLS_NEED_LOCALE(scope, c.lang);
        NLS_NEED_CONVERTER(scope, c.lang);
        ASSERT_EQ(nls_test::start(pisnp_test::catalogDir()), 0) << c.lang;
        EXPECT_STREQ(arcLocale, "DE_DE");
        EXPECT_EQ(message(1190, "L", "T"), c.expected) << c.lang;
        wchar_t* wide = nullptr;
        nlMessage(wide, 1190, "L", "T");
        ASSERT_NE(wide, nullptr);
        EXPECT_NE(std::wstring(wide).find(L"Verkn\u00FCpfung 'L'"), std::wstring::npos);
        arcFree(wide, "test", 0);
        nls_test::stop();
    }
}

}  // namespace
