// Wildcard matching against the C library's fnmatch on every small pattern and text, in a UTF-8
// locale with multibyte characters among them; the rules where the two part ways; abbreviations.
#include "pisnp/match.h"

#include <fnmatch.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <cwctype>
#include <regex>
#include <string>
#include <vector>

#include "strTestLocale.h"
#include "support/allocTracker.h"

namespace {

int match(const std::string& text, const std::string& pattern, int ignoreCase = 0) {
    return Match(text.data(), static_cast<int>(text.size()), pattern.data(),
                 static_cast<int>(pattern.size()), '*', '?', ignoreCase);
}

// Every string of up to maxLen symbols of the alphabet (each symbol a UTF-8 character).
std::vector<std::string> allStrings(const std::vector<std::string>& alphabet, size_t maxLen) {
    std::vector<std::string> out{""};
    for (size_t begin = 0, len = 1; len <= maxLen; ++len) {
        size_t end = out.size();
        for (size_t i = begin; i < end; ++i)
            for (const std::string& s : alphabet) out.push_back(out[i] + s);
        begin = end;
    }
    return out;
}

TEST(Match, AgreesWithFnmatchOnEverySmallPatternAndText) {
    size_t compared = 0, matched = 0;
    for (const std::string& p : allStrings({"a", "b", "*", "?"}, 5)) {
        for (const std::string& t : allStrings({"a", "b"}, 4)) {
            int expected = fnmatch(p.c_str(), t.c_str(), 0) == 0 ? 1 : 0;
            ASSERT_EQ(match(t, p), expected) << "text '" << t << "' pattern '" << p << "'";
            ++compared;
            matched += static_cast<size_t>(expected);
        }
    }
    EXPECT_GT(matched, compared / 20) << "the generated cases should not be nearly all misses";
    for (const std::string& p : allStrings({"a", "B", "*", "?"}, 4))
        for (const std::string& t : allStrings({"A", "b"}, 4))
            ASSERT_EQ(match(t, p, 1), fnmatch(p.c_str(), t.c_str(), FNM_CASEFOLD) == 0 ? 1 : 0)
                << "ignoring case: '" << t << "' '" << p << "'";
}

// The C library's fnmatch lets "?" take a single byte of a multibyte character here, so
// multibyte text is checked against the standard regular expressions over wide characters
// instead; case is folded with towupper before either sees the text.
std::wstring wide(const std::string& s, bool upper) {
    std::wstring w(s.size(), L'\0');
    w.resize(std::mbstowcs(w.data(), s.c_str(), w.size()));
    if (upper)
        for (wchar_t& c : w) c = static_cast<wchar_t>(std::towupper(static_cast<wint_t>(c)));
    return w;
}

std::wregex asRegex(const std::wstring& pattern) {
    std::wstring re;
    for (wchar_t c : pattern) re += c == L'*' ? L".*" : c == L'?' ? L"." : std::wstring(1, c);
    return std::wregex(re);
}

void checkAgainstRegex(const std::vector<std::string>& patterns,
                       const std::vector<std::string>& texts, int ignoreCase) {
    for (const std::string& p : patterns) {
        std::wregex re = asRegex(wide(p, ignoreCase != 0));
        for (const std::string& t : texts)
            ASSERT_EQ(match(t, p, ignoreCase), std::regex_match(wide(t, ignoreCase != 0), re))
                << "text '" << t << "' pattern '" << p << "' ignoreCase " << ignoreCase;
    }
}

TEST(Match, MultibyteCharactersCountAsOne) {
    NEED_UTF8_LOCALE();
    // "é" and "ü" take two bytes each, "€" three.
    checkAgainstRegex(allStrings({"a", "é", "*", "?"}, 4), allStrings({"a", "é", "€"}, 4), 0);
    checkAgainstRegex(allStrings({"é", "ü", "*", "?"}, 3), allStrings({"É", "ü"}, 3), 1);
}

TEST(Match, OnlyTheTwoWildcardsAreSpecialAndTheyAreKnownByTheirLowByte) {
    NEED_UTF8_LOCALE();
    // No brackets and no escapes, unlike fnmatch.
    EXPECT_EQ(match("[ab]", "[ab]"), 1);
    EXPECT_EQ(match("a", "[ab]"), 0);
    EXPECT_EQ(match("\\x", "\\?"), 1);
    EXPECT_EQ(match("*", "\\*"), 0);
    // U+012A and U+013F end in the bytes of "*" and "?".
    EXPECT_EQ(match("abc", "a\u012A"), 1);
    EXPECT_EQ(match("ab", "a\u013F"), 1);
    EXPECT_EQ(match("a\u012A", "a\u012A"), 1);
    EXPECT_EQ(match("a\u012A", "ab"), 0) << "text characters are never wildcards";
    EXPECT_EQ(Match("ab", 2, "a%", 2, '%', '_', 0), 1);
    EXPECT_EQ(Match("a*", 2, "a_", 2, '%', '_', 0), 1);
    EXPECT_EQ(Match("ab", 2, "a*", 2, '%', '_', 0), 0);
}

TEST(Match, LengthsBoundTheTextsAndFailuresAreNoMatch) {
    EXPECT_EQ(Match("abcdef", 3, "abcXYZ", 3, '*', '?', 0), 1) << "texts need no terminator";
    EXPECT_EQ(Match("abcdef", 3, "a*f", 3, '*', '?', 0), 0);
    EXPECT_EQ(match("", "*"), 1);
    EXPECT_EQ(match("", "?"), 0);
    EXPECT_EQ(match(std::string(2000, 'a'), std::string(200, '*') + "b"), 0);

    pisnp_test::AllocTracker tracker;
    tracker.failAt(1);
    EXPECT_EQ(match("abc", "a*c"), 0);
    tracker.failAt(1);
    EXPECT_EQ(match("a*c", "a*c"), 1) << "the same bytes match without any work";
    EXPECT_EQ(tracker.live(), 0u);

    NEED_UTF8_LOCALE();
    EXPECT_EQ(match("a\xC3", "a*"), 0) << "a cut character is not text";
    EXPECT_EQ(match("a\xC3\xA9", "a*"), 1);
}

TEST(Abbrev, ShortFormsDownToTheMinimumLength) {
    EXPECT_TRUE(Abbrev("q", "query", 1));
    EXPECT_TRUE(Abbrev("qu", "query", 1));
    EXPECT_FALSE(Abbrev("qx", "query", 1));
    EXPECT_FALSE(Abbrev("qu", "query", 3));
    EXPECT_TRUE(Abbrev("que", "query", 3));
    EXPECT_FALSE(Abbrev("queryx", "query", 1));
    // A whole word shorter than the minimum is still itself.
    EXPECT_TRUE(Abbrev("ab", "ab", 3));
    EXPECT_TRUE(Abbrev(L"que", L"query", 3));
    EXPECT_FALSE(Abbrev(L"qu", L"query", 3));

    NEED_UTF8_LOCALE();
    EXPECT_TRUE(Abbrev("dé", "détail", 2));
    EXPECT_FALSE(Abbrev("dé", "détail", 3));
}

}  // namespace
