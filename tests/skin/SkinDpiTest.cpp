// The skinned windows at a higher DPI: windows, text and pictures grow with
// it, measured in captures taken by a process started at that DPI.
#include "tests/skin/SkinCapture.h"

#include <cstdio>
#include <cstdlib>
#include <map>

#include "win/Handles.h"

namespace {

const wchar_t kDpiOutVar[] = L"SKIN_DPI_RESULT_FILE";
const wchar_t kDesktopKey[] = L"Control Panel\\Desktop";

// Rows and columns of text ink inside a rectangle of a capture.
struct CInkBox {
    int nTop = -1, nBottom = -1, nLeft = -1, nRight = -1;
    int nLines = 0;  // bands of rows with ink, separated by empty rows
    int nTallestLine = 0;
};

CInkBox InkBox(const CCapture& cap, const RECT& rc, bool bLight)
{
    CInkBox box;
    bool bInLine = false;
    int nLineTop = 0;
    for (int y = std::max<int>(rc.top, 0); y < std::min<int>(rc.bottom, cap.cy); ++y) {
        bool bRowInk = false;
        for (int x = std::max<int>(rc.left, 0); x < std::min<int>(rc.right, cap.cx); ++x) {
            DWORD dw = cap.vecPixels[y * cap.cx + x];
            int r = (dw >> 16) & 0xFF, g = (dw >> 8) & 0xFF, b = dw & 0xFF;
            int nMax = std::max(r, std::max(g, b)), nMin = std::min(r, std::min(g, b));
            bool bInk = bLight ? nMin > 240 : (nMax < 170 && nMax - nMin < 40);
            if (!bInk)
                continue;
            bRowInk = true;
            box.nLeft = box.nLeft < 0 ? x : std::min(box.nLeft, x);
            box.nRight = std::max(box.nRight, x);
        }
        if (bRowInk) {
            if (box.nTop < 0)
                box.nTop = y;
            box.nBottom = y;
            if (!bInLine) {
                ++box.nLines;
                nLineTop = y;
            }
            box.nTallestLine = std::max(box.nTallestLine, y - nLineTop + 1);
        }
        bInLine = bRowInk;
    }
    return box;
}

// The control's rectangle at the DPI, less an inset that keeps rounded
// corners and the window's frame out of the measure.
RECT ScaledBy(const RECT& rc, int nDpi, int nInset = 0)
{
    RECT rcScaled = {::MulDiv(rc.left, nDpi, 96), ::MulDiv(rc.top, nDpi, 96), ::MulDiv(rc.right, nDpi, 96),
                     ::MulDiv(rc.bottom, nDpi, 96)};
    int nPixels = ::MulDiv(nInset, nDpi, 96);
    ::InflateRect(&rcScaled, -nPixels, -nPixels);
    return rcScaled;
}

typedef std::map<std::string, int> CFigures;

CFigures ReadFigures(const std::wstring& strPath)
{
    CFigures figures;
    std::string strText = ReadFileBytes(strPath);
    size_t nPos = 0;
    while (nPos < strText.size()) {
        size_t nEnd = strText.find('\n', nPos);
        std::string strLine = strText.substr(nPos, nEnd == std::string::npos ? std::string::npos : nEnd - nPos);
        size_t nSpace = strLine.find(' ');
        if (nSpace != std::string::npos)
            figures[strLine.substr(0, nSpace)] = std::atoi(strLine.c_str() + nSpace + 1);
        nPos = nEnd == std::string::npos ? strText.size() : nEnd + 1;
    }
    return figures;
}

// Runs this executable's measuring case in a process of its own: the DPI is
// read when a process starts.
CFigures MeasureAtDpi(DWORD dwDpi)
{
    HKEY hKey = nullptr;
    EXPECT_EQ(::RegCreateKeyExW(HKEY_CURRENT_USER, kDesktopKey, 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr, &hKey,
                                nullptr),
              ERROR_SUCCESS);
    CRegKey key(hKey);
    DWORD dwOld = 0, cbOld = sizeof(dwOld), dwType = 0;
    bool bHadOld = ::RegQueryValueExW(hKey, L"LogPixels", nullptr, &dwType, reinterpret_cast<BYTE*>(&dwOld), &cbOld) ==
                       ERROR_SUCCESS &&
                   dwType == REG_DWORD;
    ::RegSetValueExW(hKey, L"LogPixels", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dwDpi), sizeof(dwDpi));

    std::wstring strOut = MakeTempFolder(L"dpi") + L"figures.txt";
    ::SetEnvironmentVariableW(kDpiOutVar, strOut.c_str());
    wchar_t szExe[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, szExe, MAX_PATH);
    std::wstring strCmd = L"\"" + std::wstring(szExe) + L"\" --gtest_filter=SkinScreenshot.MeasureOneDpi";
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    BOOL bStarted = ::CreateProcessW(nullptr, &strCmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi);
    ::SetEnvironmentVariableW(kDpiOutVar, nullptr);
    if (bStarted) {
        CKernelHandle process(pi.hProcess);
        CKernelHandle thread(pi.hThread);
        EXPECT_EQ(::WaitForSingleObject(process.Get(), 120000), WAIT_OBJECT_0);
    }
    // Put back as it was, for the tests after this one.
    if (bHadOld)
        ::RegSetValueExW(hKey, L"LogPixels", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dwOld), sizeof(dwOld));
    else
        ::RegDeleteValueW(hKey, L"LogPixels");
    EXPECT_TRUE(bStarted);
    return ReadFigures(strOut);
}

}  // namespace

// Measures both windows at whatever DPI this process got; only when started
// by the case below.
TEST_F(SkinScreenshot, MeasureOneDpi)
{
    wchar_t szOut[MAX_PATH] = {};
    if (!::GetEnvironmentVariableW(kDpiOutVar, szOut, MAX_PATH))
        GTEST_SKIP() << "runs inside WindowsAndTextGrowWithTheDpi";
    int nDpi = ::GetDeviceCaps(CWindowDC(nullptr).Get(), LOGPIXELSY);
    std::string strFigures = "dpi " + std::to_string(nDpi) + "\n";
    auto Add = [&](const char* pszKey, int nValue) {
        strFigures += std::string(pszKey) + " " + std::to_string(nValue) + "\n";
    };
    std::wstring strTag = std::to_wstring(nDpi);

    auto pBox = CreateSkinnedWindow(m_pRes, L"MessageboxCalDUI");
    ASSERT_NE(pBox->pDirectUI, nullptr);
    SetCtrlText(pBox->Ctrl(L"CaptionStatic"), L"版本更新");
    // Three lines in the text control at any DPI.
    SetCtrlText(pBox->Ctrl(L"MsgBoxCalTipsStatic"),
                L"有新版本咯，赶紧去升级体验最新功能吧！新版本修复了下载中断后无法继续的问题，并提升了速度。");
    SetCtrlText(pBox->Ctrl(L"OKBtn"), L"升级");
    SetCtrlText(pBox->Ctrl(L"CancelBtn"), L"取消");
    SetCtrlImage(pBox->Ctrl(L"MsgBoxCalStateLogo"), LoadSkinImage(m_pRes, L"MessageBoxCal.tip_warn", 0, true));
    LayOutMessageBox(*pBox, true);
    ShowInFront(pBox->hWnd);
    Shoot(*pBox, (L"dpi" + strTag + L"_msgbox.png").c_str());
    CCapture cap = CaptureWindow(pBox->hWnd);
    Add("box_cx", cap.cx);
    Add("box_cy", cap.cy);
    RECT rcTips = ScaledBy(CtrlRect(pBox->Ctrl(L"MsgBoxCalTipsStatic")), nDpi);
    CInkBox tips = InkBox(cap, rcTips, false);
    Add("tips_lines", tips.nLines);
    Add("tips_height", tips.nBottom - tips.nTop + 1);
    Add("tips_line_height", tips.nTallestLine);
    Add("tips_room_below", rcTips.bottom - 1 - tips.nBottom);
    RECT rcOK = ScaledBy(CtrlRect(pBox->Ctrl(L"OKBtn")), nDpi, 3);
    CInkBox ok = InkBox(cap, rcOK, true);
    Add("ok_text_height", ok.nBottom - ok.nTop + 1);
    RECT rcCaption = ScaledBy(CtrlRect(pBox->Ctrl(L"CaptionStatic")), nDpi, 3);
    CInkBox caption = InkBox(cap, rcCaption, true);
    Add("caption_text_height", caption.nBottom - caption.nTop + 1);
    pBox.reset();

    auto pWnd = CreateSkinnedWindow(m_pRes, L"UpgradeDUI");
    ASSERT_NE(pWnd->pDirectUI, nullptr);
    SetCtrlVisible(pWnd->Ctrl(L"LoadingStatic"), false);
    SetCtrlVisible(pWnd->Ctrl(L"LoadingAnimate"), false);
    SetCtrlVisible(pWnd->Ctrl(L"UPgradeForm"), true);
    SetCtrlText(pWnd->Ctrl(L"FileNameStatic"),
                L"DazuvuVev_Setup_5.2.0.1893_beta_channel_x86_full_offline_build_20261208_a.exe");
    SetCtrlText(pWnd->Ctrl(L"VersionStatic"), L"5.2.0.1893");
    ShowInFront(pWnd->hWnd);
    Shoot(*pWnd, (L"dpi" + strTag + L"_upgrade.png").c_str());
    cap = CaptureWindow(pWnd->hWnd);
    Add("upgrade_cx", cap.cx);
    Add("upgrade_cy", cap.cy);
    RECT rcName = ScaledBy(CtrlRect(pWnd->Ctrl(L"FileNameStatic")), nDpi);
    CInkBox name = InkBox(cap, rcName, false);
    Add("name_room_right", rcName.right - 1 - name.nRight);
    Add("name_width", rcName.right - rcName.left);
    WriteFileBytes(szOut, strFigures);
}

TEST_F(SkinScreenshot, WindowsAndTextGrowWithTheDpi)
{
    wchar_t szOut[MAX_PATH] = {};
    if (::GetEnvironmentVariableW(kDpiOutVar, szOut, MAX_PATH))
        GTEST_SKIP() << "the measuring process itself";
    CFigures at96 = MeasureAtDpi(96);
    CFigures at144 = MeasureAtDpi(144);
    ASSERT_EQ(at96["dpi"], 96) << "the measuring process did not run";
    ASSERT_EQ(at144["dpi"], 144) << "the test prefix's registry did not set the DPI";

    // The windows: exactly the layout's size, and half as large again.
    EXPECT_EQ(at96["box_cx"], 388);
    EXPECT_EQ(at96["box_cy"], 204);
    EXPECT_EQ(at144["box_cx"], 582);
    EXPECT_EQ(at144["box_cy"], 306);
    EXPECT_EQ(at96["upgrade_cx"], 420);
    EXPECT_EQ(at144["upgrade_cx"], 630);
    EXPECT_EQ(at144["upgrade_cy"], 294);

    // The text: the same lines, 1.5 times as tall, and nothing cut off.
    for (const char* pszKey : {"tips_height", "tips_line_height", "ok_text_height", "caption_text_height"}) {
        ASSERT_GT(at96[pszKey], 5) << pszKey << ": no text found";
        double dRatio = static_cast<double>(at144[pszKey]) / at96[pszKey];
        std::printf("%s: %d at 96 DPI, %d at 144 DPI, ratio %.3f\n", pszKey, at96[pszKey], at144[pszKey], dRatio);
        EXPECT_NEAR(dRatio, 1.5, 0.075) << pszKey << " " << at96[pszKey] << " -> " << at144[pszKey];
    }
    EXPECT_EQ(at96["tips_lines"], 3);
    EXPECT_EQ(at144["tips_lines"], at96["tips_lines"]);
    EXPECT_GE(at96["tips_room_below"], 1);
    EXPECT_GE(at144["tips_room_below"], 1);
    // A long name is cut to fit its field, and the field is filled.
    for (CFigures* pAt : {&at96, &at144}) {
        EXPECT_GE((*pAt)["name_room_right"], 0) << "dpi " << (*pAt)["dpi"];
        EXPECT_LT((*pAt)["name_room_right"], (*pAt)["name_width"] / 8) << "dpi " << (*pAt)["dpi"];
    }
}

TEST_F(SkinScreenshot, LargerDrawingOfAPictureIsUsedAtAHigherDpi)
{
    FreeSkin();
    std::wstring strDir = MakeTempFolder(L"large");
    CopySkinFolder(strDir);
    CCapture green;
    green.cx = green.cy = 80;
    green.vecPixels.assign(80 * 80, 0x0000C800);
    ASSERT_TRUE(SavePng(green, strDir + L"images\\tip_warn@2x.png"));
    m_pRes = OpenSkinW((strDir + L"DazuvuVev.dui").c_str(), (strDir + L"Default.skn").c_str(), 0, 0, 0);
    ASSERT_NE(m_pRes, nullptr) << Narrow(SkinLastError());

    auto pWnd = CreateSkinnedWindow(m_pRes, L"MessageboxCalDUI");
    ASSERT_NE(pWnd->pDirectUI, nullptr);
    SetCtrlImage(pWnd->Ctrl(L"MsgBoxCalStateLogo"), LoadSkinImage(m_pRes, L"MessageBoxCal.tip_warn", 0, true));
    ShowInFront(pWnd->hWnd);
    RECT rcLogo = CtrlRect(pWnd->Ctrl(L"MsgBoxCalStateLogo"));
    auto CentreOfLogo = [&](int nDpi) {
        ::InvalidateRect(pWnd->hWnd, nullptr, FALSE);
        ::UpdateWindow(pWnd->hWnd);
        PumpFor(200);
        CCapture cap = CaptureWindow(pWnd->hWnd);
        RECT rc = ScaledBy(rcLogo, nDpi);
        return cap.vecPixels[((rc.top + rc.bottom) / 2) * cap.cx + (rc.left + rc.right) / 2];
    };
    DWORD dwAt96 = CentreOfLogo(96);
    EXPECT_NE(dwAt96, 0x00C800u) << "the large drawing at 96 DPI";

    RECT rcWindow = {};
    ::GetWindowRect(pWnd->hWnd, &rcWindow);
    RECT rcSuggested = {rcWindow.left, rcWindow.top, rcWindow.left + 582, rcWindow.top + 306};
    ::SendMessageW(pWnd->hWnd, 0x02E0 /* WM_DPICHANGED */, MAKEWPARAM(144, 144),
                   reinterpret_cast<LPARAM>(&rcSuggested));
    EXPECT_EQ(CentreOfLogo(144), 0x00C800u) << "the small drawing enlarged at 144 DPI";
    pWnd.reset();
    FreeSkin();

    // A larger drawing that cannot be read is a mistake in the skin, named.
    WriteFileBytes(strDir + L"images\\tip_warn@2x.png", "not a picture");
    m_pRes = OpenSkinW((strDir + L"DazuvuVev.dui").c_str(), (strDir + L"Default.skn").c_str(), 0, 0, 0);
    EXPECT_EQ(m_pRes, nullptr);
    EXPECT_NE(SkinLastError().find(L"tip_warn@2x.png"), std::wstring::npos) << Narrow(SkinLastError());
}
