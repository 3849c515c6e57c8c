// Token readers: where a token ends, what it keeps of its quotes, and where reading resumes.
#include <gtest/gtest.h>

#include <string>

#include "pisnp/tokens.h"

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

}  // namespace
