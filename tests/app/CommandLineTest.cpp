// Which command lines start an upgrade, and what the two fields become.
#include "app/DazuvuVevUpgrade.h"

#include <gtest/gtest.h>

namespace {

struct Parsed {
    bool bAccepted;
    std::wstring strUser;
    std::wstring strPassword;
};

Parsed Parse(LPCWSTR pszLine)
{
    Parsed result;
    result.bAccepted = ParseUpgradeCommandLine(pszLine, result.strUser, result.strPassword);
    return result;
}

TEST(CommandLine, AcceptsTheClientsFormAfterAnyProgramName)
{
    for (LPCWSTR pszLine : {L"DazuvuVevUpgrade.exe DazuvuVevNeedUpgrade:alice:s3cret",
                            L"\"C:\\Program Files\\Talvex\\DazuvuVevUpgrade.exe\" DazuvuVevNeedUpgrade:alice:s3cret",
                            L"C:\\Talvex\\DazuvuVevUpgrade.exe   DazuvuVevNeedUpgrade:alice:s3cret",
                            L"\"C:\\a:b\\Upgrade.exe\"\tDazuvuVevNeedUpgrade:alice:s3cret"}) {
        Parsed p = Parse(pszLine);
        EXPECT_TRUE(p.bAccepted) << pszLine;
        // A drive colon in the program path must not leak into the user name.
        EXPECT_EQ(p.strUser, L"alice") << pszLine;
        EXPECT_EQ(p.strPassword, L"s3cret") << pszLine;
    }
}

// A Basic user name holds no colon, a password may: the user runs to the
// second colon and the password takes the rest.
TEST(CommandLine, UserEndsAtTheSecondColonAndThePasswordKeepsItsColons)
{
    Parsed p = Parse(L"x.exe DazuvuVevNeedUpgrade::");
    EXPECT_TRUE(p.bAccepted);
    EXPECT_EQ(p.strUser, L"");
    EXPECT_EQ(p.strPassword, L"");

    p = Parse(L"x.exe DazuvuVevNeedUpgrade:alice:Se:cret");
    EXPECT_TRUE(p.bAccepted);
    EXPECT_EQ(p.strUser, L"alice");
    EXPECT_EQ(p.strPassword, L"Se:cret");

    p = Parse(L"x.exe DazuvuVevNeedUpgrade:alice::pa ss \"q\":");
    EXPECT_TRUE(p.bAccepted);
    EXPECT_EQ(p.strUser, L"alice");
    EXPECT_EQ(p.strPassword, L":pa ss \"q\":");

    // The word may stand anywhere, even behind the colons.
    p = Parse(L"x.exe :u:p DazuvuVevNeedUpgrade");
    EXPECT_TRUE(p.bAccepted);
    EXPECT_EQ(p.strUser, L"u");
    EXPECT_EQ(p.strPassword, L"p DazuvuVevNeedUpgrade");
}

TEST(CommandLine, RejectsLinesWithoutTheWordOrWithOneColon)
{
    for (LPCWSTR pszLine : {L"x.exe", L"x.exe DazuvuVevNeedUpgrade", L"x.exe DazuvuVevNeedUpgrade:only",
                            L"x.exe dazuvuvevneedupgrade:a:b", L"x.exe SomethingElse:a:b", L"",
                            // the word only in the program path does not count
                            L"C:\\DazuvuVevNeedUpgrade\\x.exe :a:b"}) {
        std::wstring strUser = L"unchanged";
        std::wstring strPassword = L"unchanged";
        EXPECT_FALSE(ParseUpgradeCommandLine(pszLine, strUser, strPassword)) << pszLine;
    }
    std::wstring u, p;
    EXPECT_FALSE(ParseUpgradeCommandLine(nullptr, u, p));
}

TEST(CommandLine, ArgumentsAloneHaveNoProgramToken)
{
    // A launcher that names the program only in its own first parameter; a
    // real program token in front is still skipped, quoted or not.
    const struct {
        LPCWSTR pszLine;
        LPCWSTR pszUser;
        LPCWSTR pszPassword;
    } accepted[] = {
        {L"DazuvuVevNeedUpgrade:user:pass", L"user", L"pass"},
        {L"DazuvuVevNeedUpgrade::", L"", L""},
        {L"  DazuvuVevNeedUpgrade:a:b c", L"a", L"b c"},
        {L"C:\\Talvex\\DazuvuVevNeedUpgrade.exe DazuvuVevNeedUpgrade:u:p", L"u", L"p"},
        {L"\"DazuvuVevNeedUpgrade:x:y\" DazuvuVevNeedUpgrade:u:p", L"u", L"p"},
    };
    for (const auto& c : accepted) {
        Parsed p = Parse(c.pszLine);
        EXPECT_TRUE(p.bAccepted) << c.pszLine;
        EXPECT_EQ(p.strUser, c.pszUser) << c.pszLine;
        EXPECT_EQ(p.strPassword, c.pszPassword) << c.pszLine;
    }
    // Still one colon too few; and a program named like the word is a program.
    EXPECT_FALSE(Parse(L"DazuvuVevNeedUpgrade:only").bAccepted);
    EXPECT_FALSE(Parse(L"DazuvuVevNeedUpgrade").bAccepted);
    EXPECT_FALSE(Parse(L"DazuvuVevNeedUpgrade.exe :a:b").bAccepted);
}

TEST(CommandLine, ProgramNameEndsLikeWindowsSplitsIt)
{
    EXPECT_STREQ(SkipProgramName(L"\"C:\\with space\\a.exe\"rest of it"), L"rest of it");
    EXPECT_STREQ(SkipProgramName(L"a.exe \t  b c"), L"b c");
    EXPECT_STREQ(SkipProgramName(L"\"unterminated"), L"");
    EXPECT_STREQ(SkipProgramName(L"alone"), L"");
}

}  // namespace
