// The string functions take byte shortcuts where each byte is a character of its own; on random
// texts, in locales of every kind, they must give exactly what the character-wise path gives.
#include <gtest/gtest.h>

#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "pisnp/dstring.h"
#include "pisnp/strings.h"
#include "text/localeFacts.h"
#include "text/strTestLocale.h"

namespace {

struct Alphabet {
    const char* locale;
    std::vector<std::string> pieces;  // characters of the locale, and bytes that are none
};

// Shift-JIS and Big5 characters whose second byte looks like \ @ ` { (ASCII).
std::vector<Alphabet> alphabets() {
    std::vector<std::string> ascii = {"a", "B", "z", "i", "I", " ", "\t", ",", "\\", "@", "`", "{"};
    auto with = [&](std::vector<std::string> more) {
        more.insert(more.end(), ascii.begin(), ascii.end());
        return more;
    };
    auto utf8 =
        with({"\xC3\xA9", "\xC3\x89", "\xE2\x82\xAC", "\xC4\xB1", "\xC4\xB0", "\xFF", "\xC3"});
    return {
        {"C", with({"\xE9", "\x80"})},
        {"C.UTF-8", utf8},
        {"tr_TR.UTF-8", utf8},
        {"en_US.ISO-8859-1", with({"\xE9", "\xC9", "\xFF", "\xA0", "\xDF"})},
        {"ja_JP.SJIS", with({"\x83\x5C", "\x95\x5C", "\x82\xA0", "\x83\x40", "\x81\x60", "\xB1"})},
        {"zh_TW.BIG5", with({"\xA5\x5C", "\xA4\x40", "\xA1\x60", "\xA1\x7B", "\xA5"})}};
}

// Everything the functions give for one input, as text.
std::string outcomes(const std::string& a, const std::string& b, char c) {
    std::ostringstream o;
    const char* s = a.c_str();
    auto at = [s](const char* p) { return p == nullptr ? -1L : static_cast<long>(p - s); };
    int rc = -1;
    o << StriCmp(s, b.c_str()) << ' ' << StrniCmp(s, b.c_str(), 3) << ' ' << at(StrChr(s, c)) << ' '
      << at(StrrChr(s, c, &rc)) << rc << ' ' << at(StriChr(s, c)) << ' '
      << at(StrpBrk(s, b.c_str())) << ' ' << StrSpn(s, b.c_str()) << ' ' << StrcSpn(s, b.c_str())
      << ' ' << StrLenInChar(s) << IsSBCSStr(s) << CharSize(s) << ' ';
    for (const char* p = s; p != nullptr; p = CharAdv(p)) o << p - s << ',';
    std::string up = a, low = a, replaced = a, split = a;
    o << StrUpper(up.data()) << StrLower(low.data()) << ReplaceChar(replaced.data(), c, '#');
    for (char* t = StrTok(split.data(), b.c_str()); t != nullptr; t = StrTok(nullptr, b.c_str()))
        o << t - split.data() << ',';
    DString d(s);
    d.concat(b.c_str()).trimRight().setCharAt(1, 'x');
    o << d.length() << d.charAt(d.length() - 1) << d.indexOfNoCase(DString(b.c_str()));
    return o.str();
}

void PrintTo(const Alphabet& alphabet, std::ostream* out) {
    *out << alphabet.locale;
}

class StrFastPath : public ::testing::TestWithParam<Alphabet> {};

TEST_P(StrFastPath, BytesAndCharactersGiveTheSameResults) {
    const Alphabet& alphabet = GetParam();
    pisnp_test::ScopedLocale locale({alphabet.locale});
    if (!locale.active()) {
        GTEST_SKIP() << "locale " << alphabet.locale << " not installed (tools/install-deps.sh)";
    }
    std::mt19937 rng(99);
    auto text = [&](size_t n) {
        std::string t;
        while (n-- > 0) t += alphabet.pieces[rng() % alphabet.pieces.size()];
        return t;
    };
    for (int round = 0; round < 400; ++round) {
        // Now and then a text past the conversion limit, often one that differs in case only.
        std::string a = text(round % 97 == 0 ? kStrMaxConvChars + 40 : rng() % 12);
        std::string b = text(rng() % 4);
        if (round % 3 == 0) {
            b = a;
            for (char& ch : b) {
                if ((rng() & 1) != 0 && std::isalpha(static_cast<unsigned char>(ch))) ch ^= 0x20;
            }
        }
        char c = "aBi,\\@`\xE9\x83"[rng() % 9];
        std::string fast = outcomes(a, b, c);
        text_detail::testing::characterPathOnly = true;
        std::string slow = outcomes(a, b, c);
        text_detail::testing::characterPathOnly = false;
        ASSERT_EQ(fast, slow) << "round " << round << ": [" << a << "] [" << b << "] " << c;
    }
}

INSTANTIATE_TEST_SUITE_P(Locales, StrFastPath, ::testing::ValuesIn(alphabets()),
                         [](const auto& info) {
                             std::string name = info.param.locale;
                             for (char& ch : name) {
                                 if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
                             }
                             return name;
                         });

}  // namespace
