// Window layer: the layouts attached to windows and their controls' handles.
#include "VEXUI32/SkinUI.h"

#include "VEXUI32/DirectUI.h"

CSkinUI::~CSkinUI()
{
    // The windows may outlive the skin; each gets its own procedure back.
    for (auto& pWindow : m_vecWindows)
        pWindow->Detach();
    m_vecWindows.clear();
}

HRESULT CSkinUI::CreateDirectUI(BSTR bstrLayout, HWND hWnd, IDirectUI** ppDirectUI)
{
    try {
        if (!ppDirectUI)
            return E_POINTER;
        *ppDirectUI = nullptr;
        std::wstring strName = bstrLayout ? bstrLayout : L"";
        const CLayout* pLayout = FindLayout(strName);
        if (!pLayout) {
            SetSkinError(L"CreateDirectUI: no layout named '" + strName + L"'");
            return E_INVALIDARG;
        }
        if (!::IsWindow(hWnd)) {
            SetSkinError(L"CreateDirectUI: '" + strName + L"' was given no window");
            return E_INVALIDARG;
        }
        if (FindWindowUI(hWnd)) {
            SetSkinError(L"CreateDirectUI: the window already has a layout attached");
            return E_FAIL;
        }
        auto pWindow = std::make_unique<CDirectUI>(this, *pLayout);
        std::wstring strError;
        if (!pWindow->Attach(hWnd, strError)) {
            SetSkinError(L"CreateDirectUI: " + strError);
            return E_FAIL;
        }
        m_vecWindows.push_back(std::move(pWindow));
        *ppDirectUI = m_vecWindows.back().get();
        return S_OK;
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

LONG CSkinUI::RegisterControl(CDUIControl* pCtrl)
{
    LONG hCtrl = m_lNextHandle++;
    m_mapControls[hCtrl] = pCtrl;
    return hCtrl;
}

CDUIControl* CSkinUI::FindControl(LONG hCtrl) const
{
    auto it = m_mapControls.find(hCtrl);
    return it == m_mapControls.end() ? nullptr : it->second;
}

CDirectUI* CSkinUI::FindWindowUI(HWND hWnd) const
{
    if (!hWnd)
        return nullptr;
    for (const auto& pWindow : m_vecWindows) {
        if (pWindow->Window() == hWnd)
            return pWindow.get();
    }
    return nullptr;
}
