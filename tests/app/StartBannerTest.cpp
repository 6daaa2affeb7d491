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
        // Everything after the last colon is the password: blanks and quotes too.
        {L"x.exe DazuvuVevNeedUpgrade:alice:s3 \"cr\" et", L"x.exe DazuvuVevNeedUpgrade:alice:***"},
        // A user name with colons keeps them; the password's text also inside
        // the user name is no reason to mask that.
        {L"\"C:\\a b\\x.exe\" DazuvuVevNeedUpgrade:pw:dom:pw", L"\"C:\\a b\\x.exe\" DazuvuVevNeedUpgrade:pw:dom:***"},
        // Support must see that no password was given.
        {L"x.exe DazuvuVevNeedUpgrade:alice:", L"x.exe DazuvuVevNeedUpgrade:alice:"},
        {L"x.exe hello:a:b", L"x.exe hello:a:b"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(MaskedCommandLine(c.pszLine), c.pszMasked) << c.pszLine;
    EXPECT_EQ(MaskedCommandLine(nullptr), L"");
}

}  // namespace
