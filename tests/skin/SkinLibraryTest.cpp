// Opening and freeing the skin: where the files are found, and what a broken
// file gives.
#include <gtest/gtest.h>

#include <algorithm>

#include "tests/skin/SkinTestKit.h"
#include "win/Handles.h"

namespace {

const wchar_t kLayoutRel[] = L"UISkin\\DazuvuVev.dui";
const wchar_t kSkinRel[] = L"UISkin\\Default.skn";

const wchar_t* const kPictures[] = {L"MessageBoxCal.tip_warn", L"MessageBoxCal.tip_err", L"MessageBoxCal.tip_ask",
                                    L"MessageBoxCal.tip_success", L"MessageBoxCal.tip_update"};

bool ReplaceOnce(const std::wstring& strPath, const std::string& strFind, const std::string& strReplace)
{
    std::string strBytes = ReadFileBytes(strPath);
    size_t nAt = strBytes.find(strFind);
    if (nAt == std::string::npos)
        return false;
    strBytes.replace(nAt, strFind.size(), strReplace);
    WriteFileBytes(strPath, strBytes);
    return true;
}

}  // namespace

TEST(SkinLibrary, FreeSkinIsHarmlessWhenNothingIsOpen)
{
    EXPECT_EQ(FreeSkin(), S_FALSE);
    EXPECT_EQ(FreeSkin(), S_FALSE);
    EXPECT_EQ(GetCtrlBase(0), nullptr);
    EXPECT_EQ(GetCtrlBase(0x51000), nullptr);
}

TEST(SkinLibrary, RelativePathsAreTakenFromTheExecutablesFolder)
{
    wchar_t szOldDir[MAX_PATH] = {};
    ::GetCurrentDirectoryW(MAX_PATH, szOldDir);
    std::wstring strElsewhere = MakeTempFolder(L"cwd");
    ASSERT_TRUE(::SetCurrentDirectoryW(strElsewhere.c_str()));

    IDUIRes* pRes = OpenSkinW(kLayoutRel, kSkinRel, 0, 0, 0);
    ::SetCurrentDirectoryW(szOldDir);
    ASSERT_NE(pRes, nullptr) << Narrow(SkinLastError());
    EXPECT_EQ(SkinLastError(), L"");

    // One skin per process: a second open is refused, the first stays usable.
    EXPECT_EQ(OpenSkinW(kLayoutRel, kSkinRel, 0, 0, 0), nullptr);
    EXPECT_NE(SkinLastError().find(L"already open"), std::wstring::npos);
    for (const wchar_t* pszName : kPictures)
        EXPECT_NE(LoadSkinImage(pRes, pszName, 0, true), nullptr) << Narrow(pszName);

    EXPECT_EQ(FreeSkin(), S_OK);
    EXPECT_EQ(FreeSkin(), S_FALSE);
}

TEST(SkinLibrary, PicturesAreFoundByNameAndKind)
{
    IDUIRes* pRes = OpenSkinW(kLayoutRel, kSkinRel, 0, 0, 0);
    ASSERT_NE(pRes, nullptr) << Narrow(SkinLastError());
    std::vector<IDUIPicture*> vecSeen;
    for (const wchar_t* pszName : kPictures) {
        IDUIPicture* pPicture = LoadSkinImage(pRes, pszName, 0, true);
        EXPECT_NE(pPicture, nullptr) << Narrow(pszName);
        EXPECT_EQ(std::count(vecSeen.begin(), vecSeen.end(), pPicture), 0) << "pictures must differ";
        EXPECT_EQ(LoadSkinImage(pRes, pszName, 0, true), pPicture) << "the same name gives the same picture";
        vecSeen.push_back(pPicture);
    }
    EXPECT_EQ(LoadSkinImage(pRes, L"MessageBoxCal.tip_none", 0, true), nullptr);
    EXPECT_NE(SkinLastError().find(L"tip_none"), std::wstring::npos);

    CBstr bstrName(::SysAllocString(L"MessageBoxCal.tip_warn"));
    IDUIPicture* pPicture = reinterpret_cast<IDUIPicture*>(1);
    pRes->GetResource(102, bstrName.Get(), 0, VARIANT_TRUE, &pPicture);
    EXPECT_EQ(pPicture, nullptr) << "only kind 101 names pictures";

    EXPECT_EQ(LoadSkinImage(nullptr, L"MessageBoxCal.tip_warn", 0, true), nullptr);
    EXPECT_EQ(LoadSkinImage(pRes, nullptr, 0, true), nullptr);
    FreeSkin();
}

TEST(SkinLibrary, BrokenFilesGiveNoSkinAndSayWhereAndWhat)
{
    struct {
        const wchar_t* pszFile;  // file to change, in the skin folder
        const char* pszFind;
        const char* pszReplace;
        const wchar_t* pszWhere;  // expected in the message: file and line
        const wchar_t* pszWhat;   // expected in the message: the reason
    } kCases[] = {
        {L"Default.skn", "<font name=\"body\" size=\"13\"/>", "<font name=\"body\" size=\"13\">", L"Default.skn(",
         L"closes <font>"},
        {L"Default.skn", "value=\"#2D7FF9\"", "value=\"blue\"", L"Default.skn(12)", L"#RRGGBB"},
        {L"Default.skn", "font=\"body\" align=\"center\"/>", "font=\"bodyy\" align=\"center\"/>", L"Default.skn(",
         L"unknown font 'bodyy'"},
        {L"Default.skn", "images/tip_err.png", "images/tip_gone.png", L"Default.skn(22)", L"tip_gone.png"},
        {L"Default.skn", "images/tip_err.png", "../../outside.png", L"Default.skn(22)", L"inside the skin's folder"},
        {L"Default.skn", "<fonts faces=", "<fonts fases=", L"Default.skn(6)", L"unknown attribute 'fases'"},
        {L"DazuvuVev.dui", "<layout name=\"UpgradeDUI\" width=\"420\"", "<layout name=\"UpgradeDUI\" width=\"wide\"",
         L"DazuvuVev.dui(8)", L"pixel numbers"},
        {L"DazuvuVev.dui", "<animate name=\"LoadingAnimate\"", "<spinner name=\"LoadingAnimate\"", L"DazuvuVev.dui(13)",
         L"unknown control <spinner>"},
        {L"DazuvuVev.dui", "name=\"FileNameStatic\"", "name=\"LoadingStatic\"", L"DazuvuVev.dui(19)",
         L"'LoadingStatic' is used twice"},
        {L"DazuvuVev.dui", "style=\"hint\" align=\"right\"", "style=\"hnt\" align=\"right\"", L"DazuvuVev.dui(24)",
         L"unknown style 'hnt'"},
        {L"DazuvuVev.dui", "x=\"24\" y=\"72\"", "x=\"24\" why=\"72\"", L"DazuvuVev.dui(22)",
         L"unknown attribute 'why'"},
        {L"DazuvuVev.dui", "width=\"372\" height=\"6\"/>", "width=\"372\"/>", L"DazuvuVev.dui(22)",
         L"needs the attribute height"},
        {L"DazuvuVev.dui", "visible=\"false\"", "visible=\"no\"", L"DazuvuVev.dui(17)", L"true or false"},
    };
    for (const auto& c : kCases) {
        std::wstring strDir = MakeTempFolder(L"broken");
        CopySkinFolder(strDir);
        ASSERT_TRUE(ReplaceOnce(strDir + c.pszFile, c.pszFind, c.pszReplace)) << "not in the file: " << c.pszFind;
        IDUIRes* pRes = OpenSkinW((strDir + L"DazuvuVev.dui").c_str(), (strDir + L"Default.skn").c_str(), 0, 0, 0);
        std::wstring strError = SkinLastError();
        EXPECT_EQ(pRes, nullptr) << c.pszFind;
        EXPECT_NE(strError.find(c.pszWhere), std::wstring::npos) << c.pszFind << " gave: " << Narrow(strError);
        EXPECT_NE(strError.find(c.pszWhat), std::wstring::npos) << c.pszFind << " gave: " << Narrow(strError);
        FreeSkin();
    }

    // Files that are missing, swapped, or not pictures.
    std::wstring strDir = MakeTempFolder(L"missing");
    CopySkinFolder(strDir);
    EXPECT_EQ(OpenSkinW((strDir + L"Nothing.dui").c_str(), (strDir + L"Default.skn").c_str(), 0, 0, 0), nullptr);
    EXPECT_NE(SkinLastError().find(L"Nothing.dui"), std::wstring::npos) << Narrow(SkinLastError());
    EXPECT_EQ(OpenSkinW((strDir + L"Default.skn").c_str(), (strDir + L"DazuvuVev.dui").c_str(), 0, 0, 0), nullptr);
    EXPECT_NE(SkinLastError().find(L"must start with <skin>"), std::wstring::npos) << Narrow(SkinLastError());
    EXPECT_EQ(OpenSkinW(L"", (strDir + L"Default.skn").c_str(), 0, 0, 0), nullptr);
    EXPECT_EQ(OpenSkinW(nullptr, nullptr, 0, 0, 0), nullptr);
    WriteFileBytes(strDir + L"images\\tip_ask.png", "\x89PNG\r\n\x1a\n but not really");
    EXPECT_EQ(OpenSkinW((strDir + L"DazuvuVev.dui").c_str(), (strDir + L"Default.skn").c_str(), 0, 0, 0), nullptr);
    EXPECT_NE(SkinLastError().find(L"MessageBoxCal.tip_ask"), std::wstring::npos) << Narrow(SkinLastError());

    // After all that, the good skin still opens.
    IDUIRes* pRes = OpenSkinW(kLayoutRel, kSkinRel, 0, 0, 0);
    EXPECT_NE(pRes, nullptr) << Narrow(SkinLastError());
    FreeSkin();
}
