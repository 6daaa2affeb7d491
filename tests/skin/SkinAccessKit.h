// What the skin's keyboard and screen-reader tests share: a fixture with the
// skin open and COM started, keys pressed for real, the accessible object
// read as a screen reader reads it, and the program's upgrade prompt.
#pragma once

#include <gtest/gtest.h>

#include <windows.h>

#include <oleacc.h>

#include "tests/skin/SkinTestKit.h"
#include "win/Handles.h"

class SkinAccess : public ::testing::Test {
protected:
    void SetUp() override
    {
        ::CoInitialize(nullptr);
        m_pRes = OpenSkinW(L"UISkin\\DazuvuVev.dui", L"UISkin\\Default.skn", 0, 0, 0);
        ASSERT_NE(m_pRes, nullptr) << Narrow(SkinLastError());
    }
    void TearDown() override
    {
        FreeSkin();
        ::CoUninitialize();
    }

    IDUIRes* m_pRes = nullptr;
};

inline void PressKey(WORD wKey, bool bShift = false)
{
    std::vector<INPUT> inputs;
    auto Add = [&](WORD wVk, DWORD dwFlags) {
        INPUT input = {};
        input.type = INPUT_KEYBOARD;
        input.ki.wVk = wVk;
        input.ki.wScan = static_cast<WORD>(::MapVirtualKeyW(wVk, MAPVK_VK_TO_VSC));
        input.ki.dwFlags = dwFlags;
        inputs.push_back(input);
    };
    if (bShift)
        Add(VK_SHIFT, 0);
    Add(wKey, 0);
    Add(wKey, KEYEVENTF_KEYUP);
    if (bShift)
        Add(VK_SHIFT, KEYEVENTF_KEYUP);
    ::SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
    PumpFor(150);
}

// One child of the accessible object as a screen reader reads it.
struct CReadChild {
    LONG lId = 0;
    std::wstring strName;
    LONG lRole = 0;
    LONG lState = 0;
    std::wstring strValue;
    std::wstring strAction;
    RECT rcScreen = {};
};

inline std::wstring TakeBstr(BSTR bstr)
{
    CBstr owned(bstr);
    return owned ? owned.Get() : L"";
}

struct CReader {
    IAccessible* pAcc = nullptr;

    explicit CReader(HWND hWnd)
    {
        ::AccessibleObjectFromWindow(hWnd, static_cast<DWORD>(OBJID_CLIENT), IID_IAccessible,
                                     reinterpret_cast<void**>(&pAcc));
    }
    ~CReader()
    {
        if (pAcc)
            pAcc->Release();
    }

    std::vector<CReadChild> Children() const
    {
        std::vector<CReadChild> vecChildren;
        long lCount = 0;
        if (!pAcc || FAILED(pAcc->get_accChildCount(&lCount)) || lCount <= 0)
            return vecChildren;
        std::vector<VARIANT> vecVars(static_cast<size_t>(lCount));
        long lGot = 0;
        if (FAILED(::AccessibleChildren(pAcc, 0, lCount, vecVars.data(), &lGot)))
            return vecChildren;
        for (long i = 0; i < lGot; ++i) {
            VARIANT& var = vecVars[static_cast<size_t>(i)];
            if (var.vt != VT_I4) {
                ::VariantClear(&var);
                continue;
            }
            vecChildren.push_back(Read(var.lVal));
        }
        return vecChildren;
    }

    CReadChild Read(LONG lId) const
    {
        CReadChild child;
        child.lId = lId;
        VARIANT var;
        var.vt = VT_I4;
        var.lVal = lId;
        BSTR bstr = nullptr;
        if (pAcc->get_accName(var, &bstr) == S_OK)
            child.strName = TakeBstr(bstr);
        VARIANT result;
        ::VariantInit(&result);
        if (SUCCEEDED(pAcc->get_accRole(var, &result)) && result.vt == VT_I4)
            child.lRole = result.lVal;
        ::VariantInit(&result);
        if (SUCCEEDED(pAcc->get_accState(var, &result)) && result.vt == VT_I4)
            child.lState = result.lVal;
        bstr = nullptr;
        if (pAcc->get_accValue(var, &bstr) == S_OK)
            child.strValue = TakeBstr(bstr);
        bstr = nullptr;
        if (pAcc->get_accDefaultAction(var, &bstr) == S_OK)
            child.strAction = TakeBstr(bstr);
        long x = 0, y = 0, cx = 0, cy = 0;
        if (SUCCEEDED(pAcc->accLocation(&x, &y, &cx, &cy, var)))
            child.rcScreen = {x, y, x + cx, y + cy};
        return child;
    }

    // The one child with that name; lId 0 when there is none or several.
    CReadChild Find(const std::wstring& strName) const
    {
        CReadChild found;
        int nFound = 0;
        for (const CReadChild& child : Children()) {
            if (child.strName == strName) {
                found = child;
                ++nFound;
            }
        }
        return nFound == 1 ? found : CReadChild();
    }

    LONG FocusedId() const
    {
        VARIANT var;
        ::VariantInit(&var);
        if (!pAcc || pAcc->get_accFocus(&var) != S_OK || var.vt != VT_I4)
            return -1;
        return var.lVal;
    }
};

// Sets the message box up as the program does for its upgrade prompt.
inline void SetUpPrompt(CTestWindow& wnd)
{
    SetCtrlText(wnd.Ctrl(L"CaptionStatic"), L"版本更新");
    SetCtrlText(wnd.Ctrl(L"MsgBoxCalTipsStatic"), L"有新版本咯，赶紧去升级体验最新功能吧！");
    SetCtrlText(wnd.Ctrl(L"MsgBoxCalCheckBox"), L"不再提醒");
    SetCtrlText(wnd.Ctrl(L"OKBtn"), L"升级");
    SetCtrlText(wnd.Ctrl(L"CancelBtn"), L"取消");
    MoveCtrlBy(wnd.Ctrl(L"OKBtn"), -92);
    MoveCtrlBy(wnd.Ctrl(L"CancelBtn"), 92);
}
