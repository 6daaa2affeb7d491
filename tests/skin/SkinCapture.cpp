#include "tests/skin/SkinCapture.h"

#include <algorithm>

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
