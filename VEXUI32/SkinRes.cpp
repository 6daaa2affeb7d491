#include "VEXUI32/SkinRes.h"

#include "VEXUI32/DirectUI.h"

namespace {

int CALLBACK OnFontFamily(const LOGFONTW*, const TEXTMETRICW*, DWORD, LPARAM lParam)
{
    *reinterpret_cast<bool*>(lParam) = true;
    return 0;  // one match is enough
}

bool IsFaceInstalled(HDC hdc, const std::wstring& strFace)
{
    LOGFONTW lf = {};
    lf.lfCharSet = DEFAULT_CHARSET;
    wcsncpy_s(lf.lfFaceName, strFace.c_str(), _TRUNCATE);
    bool bFound = false;
    ::EnumFontFamiliesExW(hdc, &lf, &OnFontFamily, reinterpret_cast<LPARAM>(&bFound), 0);
    return bFound;
}

}  // namespace

std::wstring ChooseFontFace(const std::vector<std::wstring>& vecFaces)
{
    if (vecFaces.empty())
        return std::wstring();
    HDC hdc = ::GetDC(nullptr);
    std::wstring strFace = vecFaces.front();
    for (const std::wstring& strCandidate : vecFaces) {
        if (hdc && IsFaceInstalled(hdc, strCandidate)) {
            strFace = strCandidate;
            break;
        }
    }
    if (hdc)
        ::ReleaseDC(nullptr, hdc);
    return strFace;
}

CSkinRes::~CSkinRes()
{
    for (auto& pWindow : m_vecWindows)
        pWindow->Detach();
    m_vecWindows.clear();
    for (auto& entry : m_model.mapFonts) {
        if (entry.second->hFont)
            ::DeleteObject(entry.second->hFont);
    }
}

bool CSkinRes::Load(const std::wstring& strLayoutPath, const std::wstring& strSkinPath, std::wstring& strError)
{
    if (!LoadSkinFiles(strLayoutPath, strSkinPath, m_model, strError))
        return false;
    m_strFace = ChooseFontFace(m_model.vecFaces);
    for (auto& entry : m_model.mapFonts) {
        CSkinFont& font = *entry.second;
        LOGFONTW lf = {};
        lf.lfHeight = -font.nPixels;
        lf.lfWeight = font.bBold ? FW_BOLD : FW_NORMAL;
        // GB2312 steers the font mapper to a Chinese face should the chosen
        // one lack a character.
        lf.lfCharSet = GB2312_CHARSET;
        lf.lfQuality = CLEARTYPE_QUALITY;
        wcsncpy_s(lf.lfFaceName, m_strFace.c_str(), _TRUNCATE);
        font.hFont = ::CreateFontIndirectW(&lf);
        if (!font.hFont) {
            strError = strSkinPath + L": cannot create font '" + font.strName + L"' with face " + m_strFace;
            return false;
        }
    }
    return true;
}

HRESULT CSkinRes::CreateDirectUI(BSTR bstrLayout, HWND hWnd, IDirectUI** ppDirectUI)
{
    try {
        if (!ppDirectUI)
            return E_POINTER;
        *ppDirectUI = nullptr;
        std::wstring strName = bstrLayout ? bstrLayout : L"";
        const CLayout* pLayout = m_model.FindLayout(strName);
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

HRESULT CSkinRes::GetResource(LONG lKind, BSTR bstrName, LONG, VARIANT_BOOL, IDUIPicture** ppPicture)
{
    try {
        if (!ppPicture)
            return E_POINTER;
        *ppPicture = nullptr;
        if (lKind != DUI_RESKIND_IMAGE || !bstrName)
            return E_INVALIDARG;
        auto it = m_model.mapPictures.find(bstrName);
        if (it == m_model.mapPictures.end()) {
            SetSkinError(std::wstring(L"GetResource: no picture named '") + bstrName + L"'");
            return E_INVALIDARG;
        }
        *ppPicture = it->second.get();
        return S_OK;
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

LONG CSkinRes::RegisterControl(CDUIControl* pCtrl)
{
    LONG hCtrl = m_lNextHandle++;
    m_mapControls[hCtrl] = pCtrl;
    return hCtrl;
}

CDUIControl* CSkinRes::FindControl(LONG hCtrl) const
{
    auto it = m_mapControls.find(hCtrl);
    return it == m_mapControls.end() ? nullptr : it->second;
}

bool CSkinRes::IsPicture(const IDUIPicture* pPicture) const
{
    for (const auto& entry : m_model.mapPictures) {
        if (entry.second.get() == pPicture)
            return true;
    }
    return false;
}

CDirectUI* CSkinRes::FindWindowUI(HWND hWnd) const
{
    if (!hWnd)
        return nullptr;
    for (const auto& pWindow : m_vecWindows) {
        if (pWindow->Window() == hWnd)
            return pWindow.get();
    }
    return nullptr;
}
