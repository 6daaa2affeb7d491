// Captures of both layouts as a user sees them, saved as PNG files to the
// build folder's "screenshots" and checked for real content: the frame, the
// blue caption bar and enough text ink.
#include <gtest/gtest.h>

#include <objidl.h>

#include <gdiplus.h>

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
    RECT rc;
    ::GetWindowRect(hWnd, &rc);
    cap.cx = rc.right - rc.left;
    cap.cy = rc.bottom - rc.top;
    HDC hdcScreen = ::GetDC(nullptr);
    HDC hdcMem = ::CreateCompatibleDC(hdcScreen);
    BITMAPINFO bmi = {};
    bmi.bmiHeader.biSize = sizeof(bmi.bmiHeader);
    bmi.bmiHeader.biWidth = cap.cx;
    bmi.bmiHeader.biHeight = -cap.cy;
    bmi.bmiHeader.biPlanes = 1;
    bmi.bmiHeader.biBitCount = 32;
    bmi.bmiHeader.biCompression = BI_RGB;
    void* pBits = nullptr;
    HBITMAP hBitmap = ::CreateDIBSection(hdcScreen, &bmi, DIB_RGB_COLORS, &pBits, nullptr, 0);
    HGDIOBJ hOld = ::SelectObject(hdcMem, hBitmap);
    ::BitBlt(hdcMem, 0, 0, cap.cx, cap.cy, hdcScreen, rc.left, rc.top, SRCCOPY);
    ::GdiFlush();
    const DWORD* pPixels = static_cast<const DWORD*>(pBits);
    cap.vecPixels.assign(pPixels, pPixels + cap.cx * cap.cy);
    for (DWORD& dw : cap.vecPixels)
        dw &= 0x00FFFFFF;
    ::SelectObject(hdcMem, hOld);
    ::DeleteObject(hBitmap);
    ::DeleteDC(hdcMem);
    ::ReleaseDC(nullptr, hdcScreen);
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
