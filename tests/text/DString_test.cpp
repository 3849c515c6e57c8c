// DString: copy-on-write, the wide view in step with the text, character positions in a
// multibyte locale, and every block back to the allocator, also when memory runs out.
#include "pisnp/dstring.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <clocale>
#include <cwchar>
#include <functional>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "mem/allocFaults.h"
#include "support/allocTracker.h"
#include "text/bufferConversion.h"

namespace {

using pisnp_test::AllocTracker;

std::string str(DString& s) {
    return s.getAsString();
}
std::wstring wide(const DString& s) {
    return static_cast<const wchar_t*>(DWCharConst(s));
}

// Runs in C.UTF-8 (multibyte positions matter), with the shared empty buffer and its wide view
// made before any tracker starts counting.
class DStringTest : public ::testing::Test {
  protected:
    void SetUp() override {
        saved_ = std::setlocale(LC_ALL, nullptr);
        if (std::setlocale(LC_ALL, "C.UTF-8") == nullptr) GTEST_SKIP() << "no C.UTF-8 locale";
        DSharedBuffer::getNullBuffer(0)->getConstWData();
    }
    void TearDown() override { std::setlocale(LC_ALL, saved_.c_str()); }

  private:
    std::string saved_;
};

// One way of changing a string, with the text it turns "h\u00e9llo w\u00f6rld" into.
struct Change {
    const char* name;
    std::function<void(DString&)> apply;
    const char* expected;
};

const char* const kStart = "h\u00e9llo w\u00f6rld";

std::vector<Change> changes() {
    return {
        {"assign DString", [](DString& s) { s = DString("other"); }, "other"},
        {"assign text", [](DString& s) { s = "x"; }, "x"},
        {"clear", [](DString& s) { s.clear(); }, ""},
        {"setCharAt", [](DString& s) { s.setCharAt(6, 'W'); }, "h\u00e9llo W\u00f6rld"},
        {"concat", [](DString& s) { s.concat(DString("!")); }, "h\u00e9llo w\u00f6rld!"},
        {"concat text", [](DString& s) { s.concat("?"); }, "h\u00e9llo w\u00f6rld?"},
        {"replace", [](DString& s) { s.replace("l", "LL"); }, "h\u00e9LLLLo w\u00f6rLLd"},
        {"remove", [](DString& s) { s.remove("l"); }, "h\u00e9o w\u00f6rd"},
        {"trim", [](DString& s) { s.concat("  ").trim(); }, kStart},
        {"toUpper", [](DString& s) { s.toUpper(); }, "H\u00c9LLO W\u00d6RLD"},
        {"toLower", [](DString& s) { s.toUpper().toLower(); }, kStart},
        {"DChar", [](DString& s) { static_cast<char*>(DChar(s))[0] = 'j'; },
         "j\u00e9llo w\u00f6rld"},
        {"DWChar", [](DString& s) { static_cast<wchar_t*>(DWChar(s))[0] = L'\u00c5'; },
         "\u00c5\u00e9llo w\u00f6rld"},
        {"ensureCapacity", [](DString& s) { s.ensureCapacity(500); }, kStart},
    };
}

TEST_F(DStringTest, CopiesShareUntilOneWritesAndNeverSeeTheOthersChanges) {
    for (const Change& c : changes()) {
        SCOPED_TRACE(c.name);
        AllocTracker tracker;
        {
            DString original(kStart);
            unsigned long before = tracker.allocations();
            DString copy(original);
            EXPECT_EQ(tracker.allocations(), before) << "copying allocates nothing";
            EXPECT_EQ(copy.compareTo(original), 0);
            c.apply(copy);
            EXPECT_EQ(str(copy), c.expected);
            EXPECT_EQ(str(original), kStart);
            // And the other way round: the original's change stays out of the copy.
            DString second(original);
            c.apply(original);
            EXPECT_EQ(str(second), kStart);
        }
        EXPECT_EQ(tracker.live(), 0u);
    }
}

TEST_F(DStringTest, WideViewFollowsEveryChange) {
    for (const Change& c : changes()) {
        SCOPED_TRACE(c.name);
        DString s(kStart);
        EXPECT_EQ(wide(s), L"h\u00e9llo w\u00f6rld");  // made now, then kept
        c.apply(s);
        std::wstring expected(std::strlen(c.expected) + 1, L'\0');
        expected.resize(dbuf::toWide(expected.data(), expected.size() - 1, c.expected));
        EXPECT_EQ(wide(s), expected);
        EXPECT_EQ(s.length(), static_cast<int>(expected.size()));
    }
}

TEST_F(DStringTest, AssignmentCopiesTextRatherThanSharing) {
    DString a("first"), b("second");
    a = b;
    EXPECT_EQ(str(a), "second");
    EXPECT_NE(a.getAsString(), b.getAsString()) << "two buffers after assignment";
    DString shared(a);
    shared = a;  // assigning the text a string already shares unshares them
    EXPECT_NE(shared.getAsString(), a.getAsString());
    DString& alias = a;
    a = alias;
    EXPECT_EQ(str(a), "second");
    // A piece of the string's own text, also when that needs a bigger array.
    DString s("0123456789abcdefghij");
    s = s.getAsString() + 10;
    EXPECT_EQ(str(s), "abcdefghij");
    s.concat(s.getAsString());
    EXPECT_EQ(str(s), "abcdefghijabcdefghij");
    s.concat(s);
    EXPECT_EQ(s.length(), 40);
}

TEST_F(DStringTest, ConstructorsCountCharactersNotBytes) {
    const char* t = "a\u00f1b\u20acc";  // 5 characters, 8 bytes
    EXPECT_EQ(DString(t).length(), 5);
    DString mid(t, 1, 3);
    EXPECT_EQ(str(mid), "\u00f1b\u20ac");
    DString rest(t, 3, -1);
    EXPECT_EQ(str(rest), "\u20acc");
    DString past(t, 2, 99);
    EXPECT_EQ(str(past), "b\u20acc");
    DString beyond(t, 9, 2);
    EXPECT_TRUE(beyond.isEmpty());
    DString none(t, 2, 0);
    EXPECT_TRUE(none.isEmpty());
    DString fromWide(L"x\u00e9y\u20ac", 1, 2);
    EXPECT_EQ(str(fromWide), "\u00e9y");
    DString wideRest(L"x\u00e9y", 1, -1);
    EXPECT_EQ(str(wideRest), "\u00e9y");
    DString wideBeyond(L"xy", 5, 1);
    EXPECT_TRUE(wideBeyond.isEmpty());
    DString nullText(static_cast<const char*>(nullptr));
    EXPECT_TRUE(nullText.isEmpty());
    DString sized(100);
    EXPECT_TRUE(sized.isEmpty());
}

TEST_F(DStringTest, InvalidBytesCountAsOneCharacterEach) {
    DString s(
        "a\xff\xfe"
        "b");
    EXPECT_EQ(s.length(), 4);
    EXPECT_EQ(s.indexOf("b"), 3);
    EXPECT_EQ(s.charAt(2), '\xfe');
    DString sub = s.substring(1, 2);
    EXPECT_EQ(str(sub), "\xff\xfe");
}

TEST_F(DStringTest, CharacterAccess) {
    DString s("\u00e9t\u00e9");
    EXPECT_EQ(s.charAt(1), 't');
    EXPECT_EQ(s.charAt(2), '\xc3') << "the first byte of the character";
    EXPECT_EQ(s.charAt(3), '\0');
    EXPECT_EQ(s.charAt(-1), '\0');
    EXPECT_EQ(s.setCharAt(3, 'x'), 0);
    EXPECT_EQ(s.setCharAt(-1, 'x'), 0);
    EXPECT_EQ(s.setCharAt(1, 'T'), 1);
    EXPECT_EQ(str(s), "\u00e9T\u00e9");
}

TEST_F(DStringTest, Comparisons) {
    DString abc("abc"), ABC("ABC"), abd("abd");
    DString same(abc);
    EXPECT_EQ(abc.compareTo(same), 0);
    EXPECT_LT(abc.compareTo(abd), 0);
    EXPECT_GT(abd.compareTo(abc), 0);
    EXPECT_NE(abc.compareTo(ABC), 0);
    EXPECT_EQ(abc.compareNoCase(ABC), 0);
    EXPECT_EQ(abc < abd, 1);
    EXPECT_EQ(abd < abc, 0);
    EXPECT_EQ(abc < same, 0);
}

TEST_F(DStringTest, RegionMatches) {
    DString s("x\u00e9t\u00e9 Fin"), t("\u00e9t\u00e9"), fin("fIN");
    EXPECT_EQ(s.regionMatches(1, t, 0, 3), 1);
    EXPECT_EQ(s.regionMatches(1, t, 1, 2), 0);
    EXPECT_EQ(s.regionMatches(2, t, 1, 2), 1);
    EXPECT_EQ(s.regionMatches(5, fin, 0, 3), 0);
    EXPECT_EQ(s.regionMatches(1, 5, fin, 0, 3), 1);
    EXPECT_EQ(s.regionMatches(1, 6, fin, 0, 3), 0) << "runs past the end";
    EXPECT_EQ(s.regionMatches(-1, t, 0, 1), 0);
    EXPECT_EQ(s.regionMatches(0, t, 0, 0), 1);
}

TEST_F(DStringTest, Searching) {
    DString s("abcb\u00e9b");
    EXPECT_EQ(s.indexOf(DString()), -1);
    EXPECT_EQ(s.indexOf("b"), 1);
    EXPECT_EQ(s.indexOf("b", 2), 3);
    EXPECT_EQ(s.indexOf("b", 4), 5);
    EXPECT_EQ(s.indexOf("b", s.length()), -1);
    EXPECT_EQ(s.indexOf("x"), -1);
    EXPECT_EQ(s.indexOf("\u00e9"), 4);
    EXPECT_EQ(s.indexOfNoCase("\u00c9B"), 4);
    EXPECT_EQ(s.indexOfNoCase("B", 2), 3);
    EXPECT_EQ(s.indexOfNoCase(DString()), -1);
    EXPECT_EQ(s.indexOfNoCase("b", 6), -1);

    DString abcb("abcb");
    EXPECT_EQ(abcb.lastIndexOf("b", 10), 3);
    EXPECT_EQ(abcb.lastIndexOf("b", 2), 1);
    EXPECT_EQ(abcb.lastIndexOf("b", 0), -1);
    EXPECT_EQ(abcb.lastIndexOf("cb", 4), 2);
    EXPECT_EQ(abcb.lastIndexOf("cb", 3), -1);
    EXPECT_EQ(abcb.lastIndexOf("abcbx", 10), -1);

    EXPECT_EQ(s.indexOfOneOf("\u00e9c"), 2);
    EXPECT_EQ(s.indexOfOneOf("\u00e9c", 3), 4);
    EXPECT_EQ(s.indexOfOneOf("xyz"), s.length());
    EXPECT_EQ(s.indexOfOneOf(DString(), 2), 2);
    EXPECT_EQ(s.indexOfOneOf("a", s.length()), s.length());

    EXPECT_EQ(s.startsWith("ab"), 1);
    EXPECT_EQ(s.startsWith("\u00e9b", 4), 1);
    EXPECT_EQ(s.startsWith("b", 4), 0);
    EXPECT_EQ(s.startsWith("", s.length() + 1), 0);
    EXPECT_EQ(s.endsWith("\u00e9b"), 1);
    EXPECT_EQ(s.endsWith("cb"), 0);
    EXPECT_EQ(DString("b").endsWith("bb"), 0);
}

TEST_F(DStringTest, Pieces) {
    DString s("a\u00f1b");
    DString whole = s.left(10);
    EXPECT_EQ(str(whole), "a\u00f1b");
    DString first = s.left(2);
    EXPECT_EQ(str(first), "a\u00f1");
    DString noLeft = s.left(-3);
    EXPECT_TRUE(noLeft.isEmpty());
    DString last = s.right(2);
    EXPECT_EQ(str(last), "\u00f1b");
    DString noRight = s.right(0);
    EXPECT_TRUE(noRight.isEmpty());
    DString all = s.right(3);
    EXPECT_EQ(str(all), "a\u00f1b");
    DString sub = s.substring(1);
    EXPECT_EQ(str(sub), "\u00f1b");
}

// Records the largest block asked of the allocator while it is installed.
class LargestRequest final : public arc::testing::AllocObserver {
  public:
    LargestRequest() : previous_(arc::testing::setAllocObserver(this)) {}
    ~LargestRequest() { arc::testing::setAllocObserver(previous_); }
    bool allow(size_t size) override {
        if (size > largest) largest = size;
        return true;
    }
    void allocated(void*) override {}
    void released(void*) override {}
    size_t largest = 0;

  private:
    arc::testing::AllocObserver* previous_;
};

TEST_F(DStringTest, CountsBeyondTheEndReserveNoRoomForThem) {
    DString s("a\u00f1b");
    LargestRequest request;
    DString whole = s.left(1 << 28);
    DString rest = s.substring(1, INT_MAX);
    EXPECT_EQ(str(whole), "a\u00f1b");
    EXPECT_EQ(str(rest), "\u00f1b");
    EXPECT_EQ(wide(whole), L"a\u00f1b");
    EXPECT_LE(request.largest, 1024u);
}

TEST_F(DStringTest, CopyToReportsWhetherTheTextFitted) {
    char buf[8];
    EXPECT_EQ(DString("abcd").copyTo(buf, 4), 0);
    EXPECT_STREQ(buf, "abc");
    EXPECT_EQ(DString("abc").copyTo(buf, 4), 1);
    EXPECT_STREQ(buf, "abc");
    wchar_t wbuf[8];
    EXPECT_EQ(DString("\u00e9t\u00e9").copyTo(wbuf, 4), 1);
    EXPECT_STREQ(wbuf, L"\u00e9t\u00e9");
    EXPECT_EQ(DString("\u00e9t\u00e9s").copyTo(wbuf, 4), 0);
    EXPECT_STREQ(wbuf, L"\u00e9t\u00e9");
    EXPECT_EQ(DString("x").copyTo(buf, 0), 0);
}

TEST_F(DStringTest, ReplaceAndRemoveResumeBehindTheirWork) {
    DString aa("aa");
    aa.replace("a", "ba");
    EXPECT_EQ(str(aa), "baba");
    DString abab("abab");
    abab.replace("ab", DString());
    EXPECT_TRUE(abab.isEmpty());
    DString s("\u00e9a\u00e9");
    s.replace("\u00e9", "\u20ac\u20ac");
    EXPECT_EQ(str(s), "\u20ac\u20aca\u20ac\u20ac");
    s.replace(DString(), "x");
    EXPECT_EQ(str(s), "\u20ac\u20aca\u20ac\u20ac") << "an empty pattern changes nothing";
    DString self("xy");
    self.replace(self, "<xy>");
    EXPECT_EQ(str(self), "<xy>");
    DString aaa("aaaa");
    aaa.remove("aa");
    EXPECT_TRUE(aaa.isEmpty());
    DString keep("abc");
    const char* before = keep.getAsString();
    keep.replace("x", "y").remove("z");
    EXPECT_EQ(keep.getAsString(), before) << "nothing to do: not even a copy";
}

TEST_F(DStringTest, Trimming) {
    DString blanks("   ");
    blanks.trimRight();
    EXPECT_TRUE(blanks.isEmpty());
    DString left(" x ");
    left.trimLeft();
    EXPECT_EQ(str(left), "x ");
    DString both("\t\u00e9 \u00e9\n ");
    both.trim();
    EXPECT_EQ(str(both), "\u00e9 \u00e9");
    DString allBlank(" \t ");
    allBlank.trimLeft();
    EXPECT_TRUE(allBlank.isEmpty());
}

TEST_F(DStringTest, FormatAndValueOf) {
    DString f = DString::format("%s-%d", "n", 42);
    EXPECT_EQ(str(f), "n-42");
    DString fmt("<%s>");
    DString g = DString::format(&fmt, "in");
    EXPECT_EQ(str(g), "<in>");
    DString longest = DString::format("%2000s", "x");
    EXPECT_EQ(std::strlen(longest.getAsString()), 1023u) << "cut at the operation's area";

    DString minLong = DString::valueOf(LONG_MIN);
    EXPECT_EQ(str(minLong), "-9223372036854775808");
    EXPECT_EQ(minLong.length(), 20);
    DString values[] = {DString::valueOf('c'),       DString::valueOf(L'\u20ac'),
                        DString::valueOf(-7),        DString::valueOf(4294967295u),
                        DString::valueOf(ULONG_MAX), DString::valueOf(1.5f),
                        DString::valueOf(0.1)};
    const char* expected[] = {"c",   "\u20ac", "-7", "4294967295", "18446744073709551615",
                              "1.5", "0.1"};
    for (size_t i = 0; i < std::size(values); ++i) EXPECT_EQ(str(values[i]), expected[i]);
}

TEST_F(DStringTest, WideAccessorsWriteAndReadTheWideView) {
    DString s("abc");
    DCharConst before(s);
    {
        DWChar w(s);
        static_cast<wchar_t*>(w)[1] = L'\u00df';
    }
    EXPECT_EQ(str(s),
              "a\u00df"
              "c");
    EXPECT_STREQ(static_cast<const char*>(before), "abc") << "a view keeps the text it was made of";
    EXPECT_STREQ(static_cast<const wchar_t*>(DWCharConst(s)), L"a\u00dfc");
}

TEST_F(DStringTest, EveryBufferIsReleased) {
    AllocTracker tracker;
    {
        DString a("one"), b(a), c;
        c = a;
        DString d = a.substring(1);
        DString* e = new DString(L"wide");
        e->concat(d).toUpper();
        b = *e;
        delete e;
        DString f(new DSharedBuffer("adopted", -1, -1));
        f.clear();
        EXPECT_EQ(str(b), "WIDENE");
    }
    EXPECT_EQ(tracker.live(), 0u);
}

// Each change, on a string whose buffer is shared and on one that is not, with every allocation
// failing in turn: a failure throws std::bad_alloc, leaves both strings as they were and leaks
// nothing; a run without failure gives the expected text.
TEST_F(DStringTest, OutOfMemoryThrowsAndChangesNothing) {
    struct Outcome {
        bool threw = false;
        bool intact = true;
        std::string text;
    };
    for (const Change& c : changes()) {
        for (bool shared : {false, true}) {
            SCOPED_TRACE(std::string(c.name) + (shared ? " (shared)" : ""));
            auto run = [&] {
                Outcome out;
                try {
                    DString s(kStart);
                    s.ensureCapacity(32);  // room enough that in-place changes need none
                    std::unique_ptr<DString> other(shared ? new DString(s) : nullptr);
                    wide(s);
                    try {
                        c.apply(s);
                        out.text = str(s);
                    } catch (const std::bad_alloc&) {
                        out.threw = true;
                        out.intact = str(s) == kStart && wide(s) == L"h\u00e9llo w\u00f6rld" &&
                                     (!other || str(*other) == kStart);
                    }
                } catch (const std::bad_alloc&) {
                    out.threw = true;
                }
                return out;
            };
            auto check = [&](const Outcome& out, bool injected, AllocTracker& tracker) {
                EXPECT_EQ(tracker.live(), 0u);
                EXPECT_TRUE(out.intact);
                if (!injected) {
                    EXPECT_FALSE(out.threw);
                    EXPECT_EQ(out.text, c.expected);
                } else if (std::string(c.name) != "DWChar") {
                    // The wide accessor cannot report from its destructor; elsewhere an
                    // injected failure always reaches the caller.
                    EXPECT_TRUE(out.threw);
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
        EXPECT_EQ(wide(s), L"r\u00e9essai");
    }
    EXPECT_EQ(tracker.live(), 0u);
}

}  // namespace
