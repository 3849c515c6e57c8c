// Token readers: where a token ends, what it keeps of its quotes, and where reading resumes;
// yes/no words, option-file lines and byte dumps.
#include "pisnp/tokens.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "pisnp/strings.h"

namespace {

struct Read {
    int rc;
    std::string token;
    std::string rest;
};

Read quoted(const std::string& text) {
    std::string buf = text;
    char* p = buf.data();
    char out[kMaxQuotedToken + 1];
    int rc = GetQuotedToken(&p, out);
    return {rc, out, p};
}

Read quotedWide(const std::wstring& text) {
    std::wstring buf = text;
    wchar_t* p = buf.data();
    wchar_t out[kMaxQuotedToken + 1];
    int rc = GetQuotedToken(&p, out);
    std::wstring token(out);
    std::wstring rest(p);
    return {rc, std::string(token.begin(), token.end()), std::string(rest.begin(), rest.end())};
}

TEST(GetToken, StopsAtWhiteSpaceOrTheBufferAndLeavesTheStopCharacter) {
    char text[] = "  first\tsecond";
    char* p = text;
    char out[16];
    GetToken(&p, out, sizeof out);
    EXPECT_STREQ(out, "first");
    EXPECT_EQ(*p, '\t');
    GetToken(&p, out, 4);
    EXPECT_STREQ(out, "sec");
    EXPECT_STREQ(p, "ond");
    GetToken(&p, out, sizeof out);
    GetToken(&p, out, sizeof out);
    EXPECT_STREQ(out, "");

    wchar_t wide[] = L" ab cd";
    wchar_t* w = wide;
    wchar_t wout[8];
    EXPECT_TRUE(GetToken(&w, wout, 8));
    EXPECT_STREQ(wout, L"ab");
    EXPECT_FALSE(GetToken(&w, wout, 8));
    EXPECT_STREQ(wout, L"cd");
}

TEST(GetQuotedToken, QuotedTokensLoseTheirMarks) {
    Read r = quoted("  \"two words\" more");
    EXPECT_EQ(r.rc, 0);
    EXPECT_EQ(r.token, "two words");
    EXPECT_EQ(r.rest, " more");

    r = quoted("'say \"hi\" now' x");
    EXPECT_EQ(r.token, "say \"hi\" now");
    // Double marks inside pair up; only a mark that closes an even count and stands before
    // white space ends the token.
    EXPECT_EQ(quoted("\"a\"\"b c\" x").token, "a\"\"b c");
    EXPECT_EQ(quoted("\"a\"b c\"").rc, PISNP_RC_BAD_QUOTES);
    EXPECT_EQ(quoted("plain next").token, "plain");
    EXPECT_EQ(quoted("plain next").rest, "next");
}

TEST(GetQuotedToken, QuotedValueAfterEqualsKeepsItsMarks) {
    Read r = quoted("name=\"a b\" tail");
    EXPECT_EQ(r.rc, 0);
    EXPECT_EQ(r.token, "name=\"a b\"");
    EXPECT_EQ(r.rest, "tail");
    EXPECT_EQ(quoted("k='x y'").token, "k='x y'");
}

TEST(GetQuotedToken, MalformedQuotingAndLongTokens) {
    EXPECT_EQ(quoted("\"never closed").rc, PISNP_RC_BAD_QUOTES);
    EXPECT_EQ(quoted("\"never closed").token, "");
    EXPECT_EQ(quoted("name=\"open value").rc, PISNP_RC_BAD_QUOTES);
    EXPECT_EQ(quoted("name=\"").rc, PISNP_RC_BAD_QUOTES);
    // A mark at the end of the text is refused wherever it stands, in both forms.
    EXPECT_EQ(quoted("abc\"").rc, PISNP_RC_BAD_QUOTES);
    EXPECT_EQ(quoted("it's").token, "it's");
    EXPECT_EQ(quotedWide(L"abc'").rc, PISNP_RC_BAD_QUOTES);
    EXPECT_EQ(quotedWide(L"it's x").token, "it's");

    EXPECT_EQ(quoted(std::string(kMaxQuotedToken, 'a')).rc, 0);
    Read r = quoted(std::string(kMaxQuotedToken + 1, 'a'));
    EXPECT_EQ(r.rc, PISNP_RC_TOKEN_TOO_LONG);
    EXPECT_EQ(r.token, "");
    EXPECT_EQ(quoted("\"" + std::string(kMaxQuotedToken + 1, 'a')).rc, PISNP_RC_TOKEN_TOO_LONG);
    EXPECT_EQ(quoted("\"" + std::string(kMaxQuotedToken, 'a')).rc, PISNP_RC_BAD_QUOTES);
}

TEST(GetQuotedToken, WideFormClosesAtTheFirstMark) {
    Read r = quotedWide(L"\"two words\" more");
    EXPECT_EQ(r.rc, 0);
    EXPECT_EQ(r.token, "two words");
    EXPECT_EQ(r.rest, " more");
    // Where the narrow form reads on, the wide form refuses.
    EXPECT_EQ(quotedWide(L"\"a\"\"b c\" x").rc, PISNP_RC_BAD_QUOTES);
    EXPECT_EQ(quotedWide(L"name=\"a b\"x").rc, PISNP_RC_BAD_QUOTES);
    EXPECT_EQ(quotedWide(L"name=\"a b\" x").token, "name=\"a b\"");
}

TEST(Toggle, YesAndNoWordsInAnyCase) {
    for (const char* yes : {"on", "Oui", "10-4", "y", "AFFIRMATIVE"})
        EXPECT_EQ(utilParseToggle(yes, 1, 0), 1) << yes;
    for (const char* no : {"off", "Nein", "0", "n"}) EXPECT_EQ(utilParseToggle(no, 1, 0), 0) << no;
    for (const char* other : {"maybe", "", "YESS", "ES", "YES YE", "OFF ON"})
        EXPECT_EQ(utilParseToggle(other, 1, 0), kToggleUnknown) << other;
}

TEST(OptionFile, BlankAndCommentLinesAreSkippedButCounted) {
    char name[] = "/tmp/pisnp-opt-XXXXXX";
    int fd = mkstemp(name);
    ASSERT_GE(fd, 0);
    const char text[] = "first\n   \n  * comment\n\r\nsecond\r\n\tthird\r\r\nlast";
    ASSERT_EQ(write(fd, text, sizeof text - 1), static_cast<ssize_t>(sizeof text - 1));
    close(fd);

    int lineNo = 99;
    FILE* f = utFileOpen(name, "r", &lineNo, nullptr);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(lineNo, 0);
    char buf[64];
    std::vector<std::pair<std::string, int>> lines;
    while (utGetNextLine(buf, sizeof buf, f, &lineNo, 0, 0) != nullptr)
        lines.emplace_back(buf, lineNo);
    std::fclose(f);
    unlink(name);
    std::vector<std::pair<std::string, int>> expected = {
        {"first", 1}, {"second\r", 5}, {"\tthird\r\r", 6}, {"last", 7}};
    EXPECT_EQ(lines, expected) << "one line end removed, carriage return only without a line feed";

    lineNo = 5;
    EXPECT_EQ(utFileOpen("/no/such/file", "r", &lineNo, nullptr), nullptr);
    EXPECT_EQ(lineNo, 5);
}

TEST(PrintStr, StreamAndBufferGetTheSameCharacters) {
    unsigned char abc[] = {0x41, 0x00, 0x42};
    char out[16];
    PrintStrToBuf(out, abc, 3, cfPrintable);
    EXPECT_STREQ(out, "A.B");
    PrintStrToBuf(out, abc, 3, cfHex);
    EXPECT_STREQ(out, "410042");
    std::FILE* f = std::tmpfile();
    ASSERT_NE(f, nullptr);
    PrintStr(f, abc, 3, cfHex);
    std::rewind(f);
    char printed[16] = "";
    EXPECT_EQ(std::fread(printed, 1, sizeof printed - 1, f), 6u);
    EXPECT_STREQ(printed, out);
    std::fclose(f);
}

}  // namespace
