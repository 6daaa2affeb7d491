// Captures of both layouts as a user sees them, saved as PNG files to the
// build folder's "screenshots" and checked for real content: the frame, the
// blue caption bar and enough text ink.
#include <gtest/gtest.h>

#include <objidl.h>

#include <gdiplus.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

#include "tests/skin/SkinTestKit.h"

namespace {

struct CCapture {
    int cx = 0;
    int cy = 0;
    std::vector<DWORD> vecPixels;  // 0x00RRGGBB, top row first
};

struct CInk {
    int nText = 0;     // grey or dark pixels: text
    int nAccent = 0;   // the blue of the caption bar, buttons, bar
    int nWhite = 0;
};

CCapture CaptureWindow(HWND hWnd)
{
    CCapture cap;
    cap.vecPixels = ScreenPixels(hWnd, &cap.cx, &cap.cy);
    return cap;
}

CInk Measure(const CCapture& cap)
{
    CInk ink;
    for (DWORD dw : cap.vecPixels) {
        int r = (dw >> 16) & 0xFF, g = (dw >> 8) & 0xFF, b = dw & 0xFF;
        int nMax = std::max(r, std::max(g, b)), nMin = std::min(r, std::min(g, b));
        if (nMin >= 250)
            ++ink.nWhite;
        else if (b > 200 && r < 120 && nMax - nMin > 100)
            ++ink.nAccent;
        else if (nMax < 170 && nMax - nMin < 40)
            ++ink.nText;
    }
    return ink;
}

bool SavePng(const CCapture& cap, const std::wstring& strPath)
{
    // image/png encoder of GDI+
    const CLSID kPngEncoder = {0x557CF406, 0x1A04, 0x11D3, {0x9A, 0x73, 0x00, 0x00, 0xF8, 0x1E, 0xF3, 0x2E}};
    std::vector<DWORD> vecCopy = cap.vecPixels;
    Gdiplus::Bitmap bitmap(cap.cx, cap.cy, cap.cx * 4, PixelFormat32bppRGB, reinterpret_cast<BYTE*>(vecCopy.data()));
    return bitmap.Save(strPath.c_str(), &kPngEncoder, nullptr) == Gdiplus::Ok;
}

std::wstring ScreenshotFolder()
{
    std::wstring strDir = ExeFolder() + L"..\\screenshots\\";
    ::CreateDirectoryW(strDir.c_str(), nullptr);
    return strDir;
}

// The message box's own layout arithmetic, as the program does it.
void LayOutMessageBox(CTestWindow& wnd, bool bTwoButtons)
{
    DUI_CTRLBASE* pLogo = wnd.Ctrl(L"MsgBoxCalStateLogo");
    DUI_CTRLBASE* pTips = wnd.Ctrl(L"MsgBoxCalTipsStatic");
    RECT rcOK = CtrlRect(wnd.Ctrl(L"OKBtn"));
    RECT rcLogo = CtrlRect(pLogo);
    RECT rcTips = CtrlRect(pTips);
    LONG lw = rcLogo.right - rcLogo.left, lh = rcLogo.bottom - rcLogo.top;
    LONG w = rcTips.right - rcTips.left, h = rcTips.bottom - rcTips.top;
    LONG lTextTop = std::max<LONG>((rcOK.top - h - 30) / 2 + 30, 48);
    LONG lLogoTop = (rcOK.top - lh - 30) / 2 + 30;
    IDUIRect* pRect = GetCtrlRect(pLogo);
    pRect->put_Left(34);
    pRect->put_Right(34 + lw);
    pRect->put_Top(lLogoTop);
    pRect->put_Bottom(lLogoTop + lh);
    SetCtrlRect(pLogo, pRect);
    pRect = GetCtrlRect(pTips);
    pRect->put_Left(34 + lw + 8);
    pRect->put_Right(34 + lw + 8 + w);
    pRect->put_Top(lTextTop);
    pRect->put_Bottom(lTextTop + h);
    SetCtrlRect(pTips, pRect);
    if (!bTwoButtons)
        return;
    MoveCtrlBy(wnd.Ctrl(L"OKBtn"), -92);
    MoveCtrlBy(wnd.Ctrl(L"CancelBtn"), 92);
}

class SkinScreenshot : public ::testing::Test {
protected:
    void SetUp() override
    {
        Gdiplus::GdiplusStartupInput input;
        ASSERT_EQ(Gdiplus::GdiplusStartup(&m_ulToken, &input, nullptr), Gdiplus::Ok);
        m_pRes = OpenSkinW(L"UISkin\\DazuvuVev.dui", L"UISkin\\Default.skn", 0, 0, 0);
        ASSERT_NE(m_pRes, nullptr) << Narrow(SkinLastError());
    }
    void TearDown() override
    {
        FreeSkin();
        Gdiplus::GdiplusShutdown(m_ulToken);
    }

    CInk Shoot(CTestWindow& wnd, const wchar_t* pszName)
    {
        ::InvalidateRect(wnd.hWnd, nullptr, FALSE);
        ::UpdateWindow(wnd.hWnd);
        PumpFor(300);
        CCapture cap = CaptureWindow(wnd.hWnd);
        std::wstring strPath = ScreenshotFolder() + pszName;
        EXPECT_TRUE(SavePng(cap, strPath)) << Narrow(strPath);
        CInk ink = Measure(cap);
        int nArea = cap.cx * cap.cy;
        EXPECT_GT(ink.nWhite, nArea / 3) << Narrow(pszName) << ": a white body";
        EXPECT_GT(ink.nAccent, cap.cx * 30) << Narrow(pszName) << ": the blue caption bar";
        return ink;
    }

    ULONG_PTR m_ulToken = 0;
    IDUIRes* m_pRes = nullptr;
};

}  // namespace

TEST_F(SkinScreenshot, UpgradeWindowInBothFaces)
{
    auto pWnd = CreateSkinnedWindow(m_pRes, L"UpgradeDUI");
    ASSERT_NE(pWnd->pDirectUI, nullptr);
    ::SetWindowTextW(pWnd->hWnd, L"正在下载");
    for (const wchar_t* pszName : {L"FileNameStatic", L"VersionStatic", L"SpeedStatic", L"AlreadyloadStatic"})
        SetCtrlText(pWnd->Ctrl(pszName), L"");
    ShowInFront(pWnd->hWnd);
    CInk waiting = Shoot(*pWnd, L"upgrade_waiting.png");
    EXPECT_GT(waiting.nText, 150) << "the waiting text";

    SetCtrlVisible(pWnd->Ctrl(L"LoadingStatic"), false);
    SetCtrlVisible(pWnd->Ctrl(L"LoadingAnimate"), false);
    SetCtrlVisible(pWnd->Ctrl(L"UPgradeForm"), true);
    SetCtrlText(pWnd->Ctrl(L"FileNameStatic"), L"DazuvuVevSetup_2.3.1.exe");
    SetCtrlText(pWnd->Ctrl(L"VersionStatic"), L"2.3.1.1024");
    SetCtrlText(pWnd->Ctrl(L"SpeedStatic"), L"1536.50KB/S");
    SetCtrlText(pWnd->Ctrl(L"AlreadyloadStatic"), L"12.65MB/25.30MB");
    SetCtrlPos(pWnd->Ctrl(L"DownloadProgress"), 50);
    CInk download = Shoot(*pWnd, L"upgrade_download.png");
    EXPECT_GT(download.nText, waiting.nText + 300) << "file name, version, speed and amount";

    // Half the bar is blue: measured along its middle row.
    CCapture cap = CaptureWindow(pWnd->hWnd);
    RECT rcBar = CtrlRect(pWnd->Ctrl(L"DownloadProgress"));
    int y = (rcBar.top + rcBar.bottom) / 2;
    int nBlue = 0;
    for (int x = rcBar.left; x < rcBar.right; ++x) {
        DWORD dw = cap.vecPixels[y * cap.cx + x];
        if ((dw & 0xFF) > 200 && ((dw >> 16) & 0xFF) < 120)
            ++nBlue;
    }
    int nWidth = rcBar.right - rcBar.left;
    EXPECT_NEAR(nBlue, nWidth / 2, 4) << "bar at 50";
}

TEST_F(SkinScreenshot, MessageBoxWithChineseTextAndTwoButtons)
{
    auto pWnd = CreateSkinnedWindow(m_pRes, L"MessageboxCalDUI");
    ASSERT_NE(pWnd->pDirectUI, nullptr);
    ::SetWindowTextW(pWnd->hWnd, L"版本更新");
    SetCtrlText(pWnd->Ctrl(L"CaptionStatic"), L"版本更新");
    SetCtrlText(pWnd->Ctrl(L"MsgBoxCalTipsStatic"), L"有新版本咯，赶紧去升级体验最新功能吧！");
    SetCtrlText(pWnd->Ctrl(L"MsgBoxCalCheckBox"), L"不再提醒");
    SetCtrlText(pWnd->Ctrl(L"OKBtn"), L"升级");
    SetCtrlText(pWnd->Ctrl(L"CancelBtn"), L"取消");
    EXPECT_TRUE(SetCtrlImage(pWnd->Ctrl(L"MsgBoxCalStateLogo"),
                             LoadSkinImage(m_pRes, L"MessageBoxCal.tip_warn", 0, true)));
    LayOutMessageBox(*pWnd, true);
    ShowInFront(pWnd->hWnd);
    CInk ink = Shoot(*pWnd, L"msgbox_upgrade.png");
    EXPECT_GT(ink.nText, 400) << "the Chinese message, check box and second button";

    // The warning picture's orange is on screen where the picture is.
    CCapture cap = CaptureWindow(pWnd->hWnd);
    RECT rcLogo = CtrlRect(pWnd->Ctrl(L"MsgBoxCalStateLogo"));
    DWORD dw = cap.vecPixels[(rcLogo.top + 6) * cap.cx + (rcLogo.left + rcLogo.right) / 2];
    EXPECT_GT((dw >> 16) & 0xFF, 200u) << std::hex << dw;
    EXPECT_LT(dw & 0xFF, 100u) << std::hex << dw;
}

TEST_F(SkinScreenshot, MessageBoxNoticeWithOneButton)
{
    auto pWnd = CreateSkinnedWindow(m_pRes, L"MessageboxCalDUI");
    ASSERT_NE(pWnd->pDirectUI, nullptr);
    SetCtrlText(pWnd->Ctrl(L"CaptionStatic"), L"提示");
    SetCtrlText(pWnd->Ctrl(L"MsgBoxCalTipsStatic"), L"下载失败，请稍后重试！");
    SetCtrlVisible(pWnd->Ctrl(L"MsgBoxCalCheckBox"), false);
    SetCtrlVisible(pWnd->Ctrl(L"CancelBtn"), false);
    SetCtrlText(pWnd->Ctrl(L"OKBtn"), L"确定");
    SetCtrlImage(pWnd->Ctrl(L"MsgBoxCalStateLogo"), LoadSkinImage(m_pRes, L"MessageBoxCal.tip_warn", 0, true));
    LayOutMessageBox(*pWnd, false);
    ShowInFront(pWnd->hWnd);
    CInk ink = Shoot(*pWnd, L"msgbox_notice.png");
    EXPECT_GT(ink.nText, 150) << "the message";
}

TEST_F(SkinScreenshot, ButtonsShowHoverAndPressedLooks)
{
    auto pWnd = CreateSkinnedWindow(m_pRes, L"MessageboxCalDUI");
    ASSERT_NE(pWnd->pDirectUI, nullptr);
    DUI_CTRLBASE* pCancel = pWnd->Ctrl(L"CancelBtn");
    LayOutMessageBox(*pWnd, true);
    ShowInFront(pWnd->hWnd);
    RECT rc = CtrlRect(pCancel);
    // The fill just inside the border, away from the caption.
    auto FillAt = [&](const CCapture& cap) { return cap.vecPixels[(rc.top + 4) * cap.cx + rc.left + 6]; };
    DWORD dwNormal = FillAt(CaptureWindow(pWnd->hWnd));

    POINT pt = CtrlCenterOnScreen(pWnd->hWnd, pCancel);
    ::SetCursorPos(pt.x, pt.y);
    INPUT input = {};
    input.type = INPUT_MOUSE;
    input.mi.dwFlags = MOUSEEVENTF_MOVE;
    input.mi.dx = 1;
    ::SendInput(1, &input, sizeof(input));
    PumpFor(300);
    DWORD dwHover = FillAt(CaptureWindow(pWnd->hWnd));

    input.mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
    input.mi.dx = 0;
    ::SendInput(1, &input, sizeof(input));
    PumpFor(300);
    DWORD dwPressed = FillAt(CaptureWindow(pWnd->hWnd));
    EXPECT_TRUE(pWnd->vecClicks.empty()) << "pressing is not yet a click";

    input.mi.dwFlags = MOUSEEVENTF_LEFTUP;
    ::SendInput(1, &input, sizeof(input));
    PumpUntil([&] { return !pWnd->vecClicks.empty(); }, 3000);
    PumpFor(200);
    DWORD dwAfter = FillAt(CaptureWindow(pWnd->hWnd));

    EXPECT_EQ(dwNormal, 0xFFFFFFu) << std::hex << dwNormal;
    EXPECT_NE(dwHover, dwNormal) << "hover look";
    EXPECT_NE(dwPressed, dwHover) << "pressed look";
    EXPECT_EQ(dwAfter, dwHover) << "back to the hover look while the mouse stays";
    ASSERT_EQ(pWnd->vecClicks.size(), 1u);
    EXPECT_EQ(pWnd->vecClicks[0], reinterpret_cast<WPARAM>(pCancel));
}

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
    DWORD dwOld = 0, cbOld = sizeof(dwOld), dwType = 0;
    bool bHadOld = ::RegQueryValueExW(hKey, L"LogPixels", nullptr, &dwType, reinterpret_cast<BYTE*>(&dwOld),
                                      &cbOld) == ERROR_SUCCESS && dwType == REG_DWORD;
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
        EXPECT_EQ(::WaitForSingleObject(pi.hProcess, 120000), WAIT_OBJECT_0);
        ::CloseHandle(pi.hThread);
        ::CloseHandle(pi.hProcess);
    }
    // Put back as it was, for the tests after this one.
    if (bHadOld)
        ::RegSetValueExW(hKey, L"LogPixels", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dwOld), sizeof(dwOld));
    else
        ::RegDeleteValueW(hKey, L"LogPixels");
    ::RegCloseKey(hKey);
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
    HDC hdc = ::GetDC(nullptr);
    int nDpi = ::GetDeviceCaps(hdc, LOGPIXELSY);
    ::ReleaseDC(nullptr, hdc);
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
