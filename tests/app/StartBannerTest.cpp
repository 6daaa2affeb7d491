// The start banner: the password never reaches the log, and the version is
// the one the executable carries.
#include "app/StartBanner.h"

#include <gtest/gtest.h>

#include <cwctype>

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

TEST(StartBanner, ReadsTheCompanionsVersionResource)
{
    wchar_t szPath[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, szPath, MAX_PATH);
    std::wstring strExe = szPath;
    strExe = strExe.substr(0, strExe.rfind(L'\\') + 1) + L"DazuvuVevUpgrade.exe";
    HMODULE hExe = ::LoadLibraryExW(strExe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(hExe, nullptr) << "no companion beside the test";
    const std::wstring strVersion = ModuleVersionText(hExe);
    ::FreeLibrary(hExe);

    // Four numbers with three dots, none empty.
    int nDots = 0;
    bool bDigitSinceDot = false;
    for (wchar_t ch : strVersion) {
        if (ch == L'.') {
            EXPECT_TRUE(bDigitSinceDot) << strVersion;
            ++nDots;
            bDigitSinceDot = false;
        } else {
            EXPECT_TRUE(std::iswdigit(ch)) << strVersion;
            bDigitSinceDot = true;
        }
    }
    EXPECT_EQ(nDots, 3) << strVersion;
    EXPECT_TRUE(bDigitSinceDot) << strVersion;
}

}  // namespace
