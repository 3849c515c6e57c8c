// DString: copy-on-write, the wide view and the kept lengths in step with the text, character
// positions in a multibyte locale, and every block back to the allocator, also when memory runs
// out.
#include "pisnp/dstring.h"

#include <gtest/gtest.h>

#include <atomic>
#include <climits>
#include <cstring>
#include <functional>
#include <memory>
#include <new>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "mem/allocFaults.h"
#include "pisnp/strings.h"
#include "support/allocTracker.h"
#include "text/bufferConversion.h"
#include "text/strTestLocale.h"

namespace {

using pisnp_test::AllocTracker;

std::string str(DString& s) {
    return s.getAsString();
}
std::wstring wide(const DString& s) {
    return static_cast<const wchar_t*>(DWCharConst(s));
}
// The text as the wide view shows it: one element per character, '?' for an invalid byte.
std::wstring model(const std::string& text) {
    std::wstring w(text.size() + 1, L'\0');
    w.resize(dbuf::toWide(w.data(), text.size(), text.c_str()));
    return w;
}

// Runs in C.UTF-8 (multibyte positions matter), with the shared empty buffer and its wide view
// made before any tracker starts counting.
class DStringTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!utf8_.active()) GTEST_SKIP() << "no C.UTF-8 locale";
        DSharedBuffer::getNullBuffer(0)->getConstWData();
    }

  private:
    pisnp_test::ScopedLocale utf8_{"C.UTF-8", "C.utf8"};
};

// One way of changing a string, with the text it turns "h\u00e9llo w\u00f6rld" into.
struct Change {
    const char* name;
    std::function<void(DString&)> apply;
    std::string expected;
};

const char* const kStart = "h\u00e9llo w\u00f6rld";
const std::string kLong(40, 'L');

std::vector<Change> changes() {
    return {
        {"assign DString", [](DString& s) { s = DString("other"); }, "other"},
        {"assign text", [](DString& s) { s = "x"; }, "x"},
        {"clear", [](DString& s) { s.clear(); }, ""},
        {"setCharAt", [](DString& s) { s.setCharAt(6, 'W'); }, "h\u00e9llo W\u00f6rld"},
        {"setCharAt \u00e9", [](DString& s) { s.setCharAt(0, '\xC3'); },
         "\xC3\u00e9llo w\u00f6rld"},
        {"concat", [](DString& s) { s.concat(DString("!")); }, "h\u00e9llo w\u00f6rld!"},
        {"concat \u20ac", [](DString& s) { s.concat("\u20ac"); }, "h\u00e9llo w\u00f6rld\u20ac"},
        {"concat grows", [](DString& s) { s.concat(kLong.c_str()); }, kStart + kLong},
        {"replace", [](DString& s) { s.replace("l", "LL"); }, "h\u00e9LLLLo w\u00f6rLLd"},
        {"remove", [](DString& s) { s.remove("l"); }, "h\u00e9o w\u00f6rd"},
        {"trim", [](DString& s) { s.concat("  ").trim(); }, kStart},
        {"toUpper", [](DString& s) { s.toUpper(); }, "H\u00c9LLO W\u00d6RLD"},
        {"toLower", [](DString& s) { s.toUpper().toLower(); }, kStart},
        {"DChar", [](DString& s) { static_cast<char*>(DChar(s))[1] = 'j'; },
         "hj\xA9llo w\u00f6rld"},
        {"DWChar", [](DString& s) { static_cast<wchar_t*>(DWChar(s))[0] = L'\u00c5'; },
         "\u00c5\u00e9llo w\u00f6rld"},
        {"ensureCapacity", [](DString& s) { s.ensureCapacity(500); }, kStart},
    };
}

// Each change on a copy: the copy shares until it writes, the original never sees the change, and
// the copy's wide view and kept lengths (read before the change) follow it.
TEST_F(DStringTest, CopiesShareUntilOneWritesAndViewsAndLengthsFollow) {
    for (const Change& c : changes()) {
        SCOPED_TRACE(c.name);
        AllocTracker tracker;
        {
            DString original(kStart);
            EXPECT_EQ(wide(original), model(kStart));
            EXPECT_EQ(original.length(), 11);
            unsigned long before = tracker.allocations();
            DString copy(original);
            EXPECT_EQ(tracker.allocations(), before) << "copying allocates nothing";
            c.apply(copy);
            EXPECT_EQ(str(copy), c.expected);
            EXPECT_EQ(str(original), kStart);
            EXPECT_EQ(wide(copy), model(c.expected));
            copy.concat(".");  // lands behind the kept byte length, counts on the kept count
            EXPECT_EQ(str(copy), c.expected + ".");
            EXPECT_EQ(copy.length(), static_cast<int>(StrLenInChar((c.expected + ".").c_str())));
            // And the other way round: the original's change stays out of the copy.
            DString second(original);
            c.apply(original);
            EXPECT_EQ(str(second), kStart);
        }
        EXPECT_EQ(tracker.live(), 0u);
    }
}

TEST_F(DStringTest, LengthsCountAsTheCurrentLocaleDoes) {
    DString s("a\u00e9\u20ac");
    EXPECT_EQ(s.length(), 3);
    {
        pisnp_test::ScopedLocale c({"C"});
        EXPECT_EQ(s.length(), 6) << "a byte a character";
        s.concat("\u00e9");
        EXPECT_EQ(s.length(), 8);
    }
    EXPECT_EQ(s.length(), 4) << "counted again in UTF-8";
}

TEST_F(DStringTest, AssignmentCopiesTextAndSelfReferencesWork) {
    DString a("second");
    DString shared(a);
    DCharConst view(a);
    shared = a;  // assigning the text a string already shares unshares them
    EXPECT_NE(shared.getAsString(), a.getAsString());
    a = "third";
    EXPECT_STREQ(static_cast<const char*>(view), "second") << "a view keeps its text";
    // A piece of the string's own text, also when that needs a bigger array.
    DString s("0123456789abcdefghij");
    s = s.getAsString() + 10;
    EXPECT_EQ(str(s), "abcdefghij");
    s.concat(s.getAsString() + 5);
    EXPECT_EQ(str(s), "abcdefghijfghij");
    DString copy(s);
    s.concat(s);
    EXPECT_EQ(str(s), "abcdefghijfghijabcdefghijfghij");
    EXPECT_EQ(str(copy), "abcdefghijfghij");
}

// Positions and counts are characters: the queries against the same on the wide model, for
// random texts of one-, two- and three-byte characters and invalid bytes.
TEST_F(DStringTest, QueriesCountCharactersAsTheWideViewDoes) {
    const char* pieces[] = {"a", "b", "\u00e9", "\u20ac", "\xFF"};
    std::mt19937 rng(3);
    auto text = [&](size_t n) {
        std::string t;
        while (n-- > 0) t += pieces[rng() % 5];
        return t;
    };
    auto pos = [](size_t p) { return p == std::wstring::npos ? -1 : static_cast<int>(p); };
    for (int round = 0; round < 500; ++round) {
        std::string t = text(rng() % 9), n = text(rng() % 3);
        DString s(t.c_str()), needle(n.c_str());
        std::wstring w = model(t), wn = model(n);
        int len = static_cast<int>(w.size()), at = static_cast<int>(rng() % 10);
        SCOPED_TRACE(t + " / " + n + " at " + std::to_string(at));
        ASSERT_EQ(s.length(), len);
        EXPECT_EQ(s.indexOf(needle, at), n.empty() || at >= len ? -1 : pos(w.find(wn, at)));
        int last = std::min(at, len) - static_cast<int>(wn.size());
        EXPECT_EQ(s.lastIndexOf(needle, at), last < 0 ? -1 : pos(w.rfind(wn, last)));
        EXPECT_EQ(s.startsWith(needle, at), at <= len && w.compare(at, wn.size(), wn) == 0);
        EXPECT_EQ(s.endsWith(needle), w.ends_with(wn) ? 1 : 0);
        EXPECT_EQ(
            s.indexOfOneOf(needle, at),
            n.empty() || at >= len ? at : std::min(pos(w.find_first_of(wn, at)) & INT_MAX, len));
        EXPECT_EQ(s.charAt(at), at < len ? DString(t.c_str(), at, 1).getAsString()[0] : 0);
        DString sub = s.substring(at, 2), right = s.right(at);
        EXPECT_EQ(wide(sub), w.substr(std::min(at, len), 2));
        EXPECT_EQ(wide(right), w.substr(len - std::min(at, len)));
    }
}

TEST_F(DStringTest, EdgesOfTheQueries) {
    DString abcb("abcb");
    EXPECT_EQ(abcb.lastIndexOf("b", 10), 3);
    EXPECT_EQ(abcb.lastIndexOf("b", 2), 1);
    EXPECT_EQ(abcb.indexOfNoCase("CB"), 2);
    EXPECT_EQ(DString("\u00e9t\u00e9").indexOfNoCase("\u00c9T"), 0);
    EXPECT_EQ(abcb.compareNoCase("ABCB"), 0);
    EXPECT_EQ(abcb.regionMatches(1, 1, "BC", 0, 2), 1);
    EXPECT_EQ(abcb.regionMatches(1, "bcb", 0, 4), 0) << "runs past the end";
    EXPECT_EQ(abcb.setCharAt(4, 'x'), 0);
    DString left = abcb.left(10), none = abcb.left(-1), wideRest(L"x\u00e9y\u20ac", 1, 2);
    EXPECT_EQ(str(left), "abcb");
    EXPECT_TRUE(none.isEmpty());
    EXPECT_EQ(str(wideRest), "\u00e9y");
}

// Records the largest block asked of the allocator while it is installed.
struct LargestRequest final : arc::testing::AllocObserver {
    arc::testing::AllocObserver* previous = arc::testing::setAllocObserver(this);
    size_t largest = 0;
    ~LargestRequest() { arc::testing::setAllocObserver(previous); }
    bool allow(size_t size) override { return (largest = std::max(largest, size)) != 0; }
    void allocated(void*) override {}
    void released(void*) override {}
};

TEST_F(DStringTest, CountsBeyondTheEndReserveNoRoomForThem) {
    DString s("a\u00f1b");
    LargestRequest request;
    DString whole = s.left(1 << 28);
    DString rest = s.substring(1, INT_MAX);
    EXPECT_EQ(str(whole), "a\u00f1b");
    EXPECT_EQ(str(rest), "\u00f1b");
    EXPECT_LE(request.largest, 1024u);
}

TEST_F(DStringTest, CopyToReportsWhetherTheTextFitted) {
    char buf[8];
    EXPECT_EQ(DString("abcd").copyTo(buf, 4), 0);
    EXPECT_STREQ(buf, "abc");
    wchar_t wbuf[8];
    EXPECT_EQ(DString("\u00e9t\u00e9s").copyTo(wbuf, 4), 0);
    EXPECT_STREQ(wbuf, L"\u00e9t\u00e9");
}

TEST_F(DStringTest, ReplaceAndRemoveResumeBehindTheirWork) {
    DString aa("aa");
    aa.replace("a", "ba");
    EXPECT_EQ(str(aa), "baba");
    DString abab("abab");
    abab.replace("ab", DString());
    EXPECT_TRUE(abab.isEmpty());
    DString s("\u00e9a\u00e9xa\u00e9");
    s.replace("\u00e9", "\u20ac\u20ac");
    EXPECT_EQ(str(s), "\u20ac\u20aca\u20ac\u20acxa\u20ac\u20ac");
    EXPECT_EQ(s.length(), 9);
    s.replace(DString(), "x");
    EXPECT_EQ(s.length(), 9) << "an empty pattern changes nothing";
    DString self("xy"), other(self);
    self.replace(self, "<xy>");
    EXPECT_EQ(str(self), "<xy>");
    EXPECT_EQ(str(other), "xy");
    DString keep("abc");
    const char* before = keep.getAsString();
    keep.replace("x", "y").remove("z");
    EXPECT_EQ(keep.getAsString(), before) << "nothing to do: not even a copy";
}

TEST_F(DStringTest, Trimming) {
    DString blanks("   "), left(" x "), both("\t\u00e9 \u00e9\n "), high(" \u00e9\xA0 ");
    DString digits("0123456789          ");
    digits.trimRight().concat("ABCDEFGH");
    EXPECT_EQ(str(digits), "0123456789ABCDEFGH") << "appended behind the new end, terminated";
    blanks.trimRight();
    left.trimLeft();
    both.trim();
    high.trimRight();
    EXPECT_TRUE(blanks.isEmpty());
    EXPECT_EQ(str(left), "x ");
    EXPECT_EQ(str(both), "\u00e9 \u00e9");
    EXPECT_EQ(str(high), " \u00e9\xA0") << "a byte above 0x7F is not taken for a blank";
}

TEST_F(DStringTest, FormatAndValueOf) {
    DString fmt("<%s-%d>");
    DString g = DString::format(&fmt, "in", 42);
    EXPECT_EQ(str(g), "<in-42>");
    DString longest = DString::format("%2000s", "x");
    EXPECT_EQ(std::strlen(longest.getAsString()), 1023u) << "cut at the operation's area";
    DString minLong = DString::valueOf(LONG_MIN), euro = DString::valueOf(L'\u20ac');
    EXPECT_EQ(str(minLong), "-9223372036854775808");
    EXPECT_EQ(str(euro), "\u20ac");
}

// Each change, on a string whose buffer is shared and on one that is not, with every allocation
// failing in turn: a failure throws std::bad_alloc, leaves both strings as they were and leaks
// nothing; a run without failure gives the expected text.
TEST_F(DStringTest, OutOfMemoryThrowsAndChangesNothing) {
    for (const Change& c : changes()) {
        for (bool shared : {false, true}) {
            SCOPED_TRACE(std::string(c.name) + (shared ? " (shared)" : ""));
            auto run = [&]() -> std::string {
                try {
                    DString s(kStart);
                    s.ensureCapacity(32);  // room enough that small in-place changes need none
                    std::unique_ptr<DString> other(shared ? new DString(s) : nullptr);
                    wide(s);
                    try {
                        c.apply(s);
                        return str(s);
                    } catch (const std::bad_alloc&) {
                        bool intact = str(s) == kStart && wide(s) == model(kStart) &&
                                      s.length() == 11 && (!other || str(*other) == kStart);
                        return intact ? "threw" : "threw, changed";
                    }
                } catch (const std::bad_alloc&) {
                    return "threw";
                }
            };
            auto check = [&](const std::string& out, bool injected, AllocTracker& tracker) {
                EXPECT_EQ(tracker.live(), 0u);
                // The wide accessor cannot report from its destructor; elsewhere an injected
                // failure always reaches the caller.
                if (!injected) {
                    EXPECT_EQ(out, c.expected);
                } else if (std::string(c.name) != "DWChar") {
                    EXPECT_EQ(out, "threw");
                } else {
                    EXPECT_NE(out, "threw, changed");
                }
            };
            EXPECT_GT(pisnp_test::sweepAllocationFailures(run, check), 0u);
        }
    }
}

TEST_F(DStringTest, WideViewSurvivesRunningOutOfMemory) {
    AllocTracker tracker;
    {
        DString s("r\u00e9essai");
        tracker.failAt(1);
        EXPECT_THROW(wide(s), std::bad_alloc);
        EXPECT_EQ(wide(s), L"r\u00e9essai") << "the view is made on the next read";
        // A wide edit that cannot be converted back is dropped; the text stays as it was.
        tracker.failAt(1);
        {
            DWChar w(s);
            wchar_t* p = w;
            for (int i = 0; i < 8; ++i) p[i] = L'\u20ac';  // 24 bytes: more than the array holds
            p[8] = L'\0';
        }
        EXPECT_EQ(tracker.failures(), 2u);
        EXPECT_EQ(str(s), "r\u00e9essai");
        EXPECT_EQ(s.length(), 7);
    }
    EXPECT_EQ(tracker.live(), 0u);
}

// Copies of one string on several threads: each takes and drops references to the shared
// buffer, reads the lengths kept with it, and writes only to its own.
TEST_F(DStringTest, CopiesLiveOnManyThreads) {
    DString shared("shared text");
    std::atomic<int> ready{0};  // all start at once, to count the shared text together
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&shared, &ready] {
            for (ready.fetch_add(1); ready.load() < 4;) std::this_thread::yield();
            for (int i = 0; i < 2000; ++i) {
                DString copy(shared);
                copy.concat(i % 100 == 0 ? "!" : "");
                EXPECT_EQ(copy.length(), i % 100 == 0 ? 12 : 11);
            }
        });
    }
    for (std::thread& t : threads) t.join();
    EXPECT_STREQ(shared.getAsString(), "shared text");
}

}  // namespace
