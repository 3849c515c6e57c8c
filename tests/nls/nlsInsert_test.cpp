// The insert engine on bodies made here byte by byte, the output buffers, the wide field
// formatter and the items of event records.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdarg>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "nls/nlsInternal.h"
#include "nlsTestSupport.h"
#include "support/allocTracker.h"

namespace {

// A compiled body: order table (argument k to slot order[k]), one "%s"-like conversion per slot
// in text order, and the segments around them.
std::string compiled(const std::vector<int>& order, const std::vector<std::string>& formats,
                     const std::vector<std::string>& segments) {
    std::string b(1, '\0');
    b += "\x0E";
    b += std::string(3, '\0');
    b += static_cast<char>(order.size());
    for (int slot : order) b += static_cast<char>(slot);
    for (const auto& f : formats) {
        int stars = static_cast<int>(std::count(f.begin(), f.end(), '*'));
        int type = f.find_first_of("sp") != std::string::npos   ? 0
                   : f.find_first_of("fg") != std::string::npos ? 3
                   : f.find("ll") != std::string::npos          ? 2
                                                                : 1;
        b += static_cast<char>(stars);
        b += static_cast<char>(type);
        b += f + '\0';
    }
    for (const auto& s : segments) b += s + '\0';
    return b;
}

template <typename Out>
int insert(Out out, std::string body, ...) {
    va_list args;
    va_start(args, body);
    int n = getNlsGlobalObjectHandle()->nlOrderInsert(out, body.data(), args);
    va_end(args);
    return n;
}

std::string textOf(nlsCharBuffer& b) {
    return static_cast<char*>(b.getBuffer());
}

class Inserts : public ::testing::Test {
  protected:
    void SetUp() override { NLS_NEED_LOCALE(locale, "en_US.UTF-8"); }
    nls_test::LocaleScope locale{"en_US.UTF-8"};
};

TEST_F(Inserts, CompiledBodiesInEveryOutputKind) {
    std::string body = compiled({1, 0}, {"%s", "%s"}, {"Copying ", " to ", "."});
    nlsCharBuffer chars(8);
    EXPECT_EQ(insert(&chars, body, "A", "B"), 15);
    EXPECT_EQ(textOf(chars), "Copying B to A.") << "the second argument fills slot 0";

    nlsWcharBuffer wide(8);
    EXPECT_EQ(insert(&wide, body, "A", "B"), 15 * 4);
    EXPECT_STREQ(static_cast<wchar_t*>(wide.getBuffer()), L"Copying B to A.");

    char fixed[64];
    EXPECT_EQ(insert(fixed, body, "A", "B"), 15);
    EXPECT_STREQ(fixed, "Copying B to A.");
    wchar_t fixedWide[64];
    EXPECT_EQ(insert(fixedWide, body, "A", "B"), 15);
    EXPECT_STREQ(fixedWide, L"Copying B to A.");

    // No slots: segment 0 alone. An empty segment 0: the insert alone.
    nlsCharBuffer none(8), alone(8);
    insert(&none, compiled({}, {}, {"Just text"}));
    EXPECT_EQ(textOf(none), "Just text");
    insert(&alone, compiled({0}, {"%d"}, {"", ""}), 42);
    EXPECT_EQ(textOf(alone), "42");
}

TEST_F(Inserts, StarsTypesAndWideTextInserts) {
    // Width and precision come first, width before precision; each type is taken at its size.
    std::string body =
        compiled({0, 1, 2, 3}, {"%*.*s", "%lld", "%.2f", "%ls"}, {"[", "|", "|", "|", "]"});
    nlsCharBuffer out(8);
    insert(&out, body, 5, 2, "abcdef", 1LL << 40, 2.5, L"w\u00FCrde");
    EXPECT_EQ(textOf(out), "[   ab|1099511627776|2.50|w\xC3\xBCrde]");

    nlsWcharBuffer wide(8);
    insert(&wide, compiled({0, 1}, {"%-*ls", "%lc"}, {"<", "|", ">"}), 4, L"ab", L'\u00E9');
    EXPECT_STREQ(static_cast<wchar_t*>(wide.getBuffer()), L"<ab  |\u00E9>");
}

TEST_F(Inserts, WideTextWithoutMultibyteFormIsScrubbed) {
    nls_test::LocaleScope c("C");
    nlsCharBuffer out(8);
    insert(&out, compiled({0}, {"%ls"}, {"", ""}), L"a\u00FCb");
    EXPECT_EQ(textOf(out), "a_b");
}

TEST_F(Inserts, MalformedCompiledBodiesAreRefused) {
    BodyLayout layout;
    std::string good = compiled({1, 0}, {"%s", "%d"}, {"a", "b", "c"});
    ASSERT_TRUE(nlsParseCompiledBody(good.data(), good.size(), &layout));
    // Every shorter cut runs out before its last segment.
    for (size_t n = 0; n < good.size(); ++n)
        EXPECT_FALSE(nlsParseCompiledBody(good.data(), n, &layout)) << n;
    const std::string bad[] = {
        compiled({0, 0}, {"%s", "%s"}, {"", "", ""}),             // a slot filled twice
        compiled({0}, {"%d"}, {"", ""}).replace(5, 1, "\x0D"),    // 13 slots
        compiled({0}, {"%s %s"}, {"", ""}),                       // two conversions in one slot
        compiled({0}, {"%n"}, {"", ""}),                          // writes instead of printing
        compiled({0}, {"%*d"}, {"", ""}).replace(7, 1, "\0", 1),  // a star not announced
    };
    for (const auto& b : bad) EXPECT_FALSE(nlsParseCompiledBody(b.data(), b.size(), &layout));
}

// The hand formatter of plain printf bodies against the general engine: the same text when it
// fits the room, a refusal when it does not or a conversion is not plain, nothing past the room.
void expectAgreement(const std::string& fmt, bool plain, size_t room, ...) {
    va_list args;
    va_start(args, room);
    std::string out(room + 8, '#'), body = "\x01" + fmt;
    long n = nlsFormatPlain(fmt.c_str(), args, out.data(), room);
    nlsCharBuffer general(8);
    getNlsGlobalObjectHandle()->nlOrderInsert(&general, body.data(), args);
    va_end(args);
    std::string expected = static_cast<char*>(general.getBuffer());
    bool fits = plain && expected.size() < room;
    EXPECT_EQ(n, fits ? static_cast<long>(expected.size()) : -1) << fmt;
    EXPECT_TRUE(!fits || out.c_str() == expected) << fmt;
    EXPECT_EQ(out.substr(room), "########") << fmt;
}

TEST(PlainFormats, AgreeWithTheGeneralEngineOrAreLeftToIt) {
    std::mt19937 rng(7);
    auto pick = [&](size_t n) { return static_cast<size_t>(rng() % n); };
    // Up to four conversions, taking a text, an int, a text and an unsigned: plain ones first in
    // each row, then one of the same argument left to the general engine. Literal bytes are
    // random, a "%" among them doubled. Arguments beyond the conversions are ignored.
    const std::vector<std::string> conversions[] = {
        {"%s", "%5s"}, {"%d", "%i", "%x", "%+d"}, {"%s", "%.2s"}, {"%u", "%o"}};
    const size_t plainOnes[] = {1, 2, 1, 1};
    const std::string texts[] = {"", "/var/log", std::string(300, 'p'), "caf\xC3\xA9 \xFF"};
    const int numbers[] = {0, -1, INT_MIN, INT_MAX, static_cast<int>(rng())};
    for (int round = 0; round < 3000; ++round) {
        std::string fmt;
        bool plain = true;
        for (size_t k = 0, used = pick(5); k <= used; ++k) {
            for (size_t len = pick(10); len > 0; --len) {
                char c = static_cast<char>(1 + pick(255));
                fmt.append(c == '%' ? 2 : 1, c);
            }
            if (k == used) break;
            size_t n = plainOnes[k],
                   which = pick(8) > 0 ? pick(n) : n + pick(conversions[k].size() - n);
            plain = plain && which < n;
            fmt += conversions[k][which];
        }
        const char* first = pick(4) == 0 ? nullptr : texts[pick(4)].c_str();  // printf: (null)
        expectAgreement(fmt, plain, pick(3) == 0 ? 1 + pick(80) : 2048, first, numbers[pick(5)],
                        texts[pick(4)].c_str(), static_cast<unsigned>(numbers[pick(5)]));
    }
}

TEST(ParseFmt, JustifiesAndCutsLikePrintf) {
    wchar_t out[16];
    wchar_t ab[] = L"ab";
    char left[] = "%-ls", right[] = "%ls";
    ParseFmt(left, out, 6, 0, ab);
    EXPECT_STREQ(out, L"ab    ");
    ParseFmt(right, out, 6, 0, ab);
    EXPECT_STREQ(out, L"    ab");
    ParseFmt(right, out, 6, 1, ab);
    EXPECT_STREQ(out, L"     a");
    ParseFmt(right, out, 0, 0, ab);
    EXPECT_STREQ(out, L"ab");
}

// Exposes the buffer's capacity.
struct SizedBuffer : nlsCharBuffer {
    SizedBuffer() : nlsCharBuffer(8) {}
    unsigned long kb() const { return capacity_; }
};

TEST(NlsBuffer, GrowsInEightKilobyteStepsAboveWhatItNeeds) {
    SizedBuffer b;
    std::string text(8191, 'x');
    b.addToBuffer(text.data(), 0);
    EXPECT_EQ(b.kb(), 8u) << "8191 bytes and the terminator fit 8 KB";
    char one[] = "y";
    b.addToBuffer(one, 0);
    EXPECT_EQ(b.kb(), 16u);
    EXPECT_EQ(b.getMsgLen(), 8192u);

    pisnp_test::AllocTracker tracker;
    tracker.failAt(1);
    std::string more(9000, 'z');
    EXPECT_EQ(b.addToBuffer(more.data(), 0), 0u) << "a failed growth empties the buffer";
    EXPECT_EQ(b.getBuffer(), nullptr);
}

TEST(EventItems, EachTypeIsWrittenBigEndianBehindItsLengthAndType) {
    unsigned char area[64] = {};
    char* cursor = reinterpret_cast<char*>(area);
    unsigned short v = 0x1234;
    char c = 'Q';
    char text[] = "hi";
    nlInsertItem(&cursor, 1, 0, &c);
    nlInsertItem(&cursor, 2, 0, &v);
    nlInsertItem(&cursor, 3, 0, &v);
    nlInsertItem(&cursor, 5, 0, text);
    nlInsertItem(&cursor, 9, 0, text);
    const unsigned char expected[] = {0, 5, 0,    1,    'Q', 0, 6, 0, 2,   0x12, 0x34, 0, 8, 0, 3,
                                      0, 0, 0x12, 0x34, 0,   6, 0, 5, 'h', 'i',  0,    4, 0, 9};
    ASSERT_EQ(cursor - reinterpret_cast<char*>(area), static_cast<long>(sizeof expected));
    EXPECT_EQ(std::memcmp(area, expected, sizeof expected), 0);
}

}  // namespace
