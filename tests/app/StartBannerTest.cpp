// The start banner: the password never reaches the log.
#include "app/StartBanner.h"

#include <gtest/gtest.h>

namespace {

TEST(StartBanner, MasksOnlyThePassword)
{
    struct Case {
        LPCWSTR pszLine;
        LPCWSTR pszMasked;
    };
    const Case cases[] = {
        {L"x.exe DazuvuVevNeedUpgrade:alice:s3cret", L"x.exe DazuvuVevNeedUpgrade:alice:***"},
        // Everything after the second colon is the password: blanks and quotes too.
        {L"x.exe DazuvuVevNeedUpgrade:alice:s3 \"cr\" et", L"x.exe DazuvuVevNeedUpgrade:alice:***"},
        // A password with colons is masked whole; the user name alone shows,
        // even when the password's text also stands in it.
        {L"x.exe DazuvuVevNeedUpgrade:alice:Se:cret", L"x.exe DazuvuVevNeedUpgrade:alice:***"},
        {L"\"C:\\a b\\x.exe\" DazuvuVevNeedUpgrade:pw:pw", L"\"C:\\a b\\x.exe\" DazuvuVevNeedUpgrade:pw:***"},
        // Support must see that no password was given.
        {L"x.exe DazuvuVevNeedUpgrade:alice:", L"x.exe DazuvuVevNeedUpgrade:alice:"},
        {L"x.exe hello:a:b", L"x.exe hello:a:b"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(MaskedCommandLine(c.pszLine), c.pszMasked) << c.pszLine;
    EXPECT_EQ(MaskedCommandLine(nullptr), L"");
}

}  // namespace
