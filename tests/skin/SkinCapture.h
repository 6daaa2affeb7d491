// What the skin's screenshot tests share: captures of a window's pixels, the
// ink in them, PNG files in the build folder's "screenshots", the message
// box's layout as the program does it, and a fixture with the skin open.
#pragma once

#include <gtest/gtest.h>

#include <objidl.h>

#include <gdiplus.h>

#include <string>
#include <vector>

#include "tests/skin/SkinTestKit.h"

struct CCapture {
    int cx = 0;
    int cy = 0;
    std::vector<DWORD> vecPixels;  // 0x00RRGGBB, top row first
};

struct CInk {
    int nText = 0;    // grey or dark pixels: text
    int nAccent = 0;  // the blue of the caption bar, buttons, bar
    int nWhite = 0;
};

CCapture CaptureWindow(HWND hWnd);
CInk Measure(const CCapture& cap);
bool SavePng(const CCapture& cap, const std::wstring& strPath);
std::wstring ScreenshotFolder();
// The message box's own layout arithmetic, as the program does it.
void LayOutMessageBox(CTestWindow& wnd, bool bTwoButtons);

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
