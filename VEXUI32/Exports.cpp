// Exports layer: the library's exported functions. Nothing may unwind into
// the caller, so every export catches everything.
#include "VEXUI32/VEXUI32.h"

#include "VEXUI32/DirectUI.h"
#include "VEXUI32/SkinUI.h"

namespace {

std::unique_ptr<CSkinUI> g_pSkin;

std::wstring ExeFolder()
{
    std::wstring strPath(MAX_PATH, L'\0');
    for (;;) {
        DWORD dwLen = ::GetModuleFileNameW(nullptr, &strPath[0], static_cast<DWORD>(strPath.size()));
        if (dwLen == 0)
            return std::wstring();
        if (dwLen < strPath.size()) {
            strPath.resize(dwLen);
            break;
        }
        strPath.resize(strPath.size() * 2);
    }
    size_t nSlash = strPath.find_last_of(L"\\/");
    return nSlash == std::wstring::npos ? std::wstring() : strPath.substr(0, nSlash + 1);
}

}  // namespace

CSkinUI* GetSkin()
{
    return g_pSkin.get();
}

VEXUI_API IDUIRes* DUIAPI OpenSkinW(LPCWSTR pszLayoutFile, LPCWSTR pszSkinFile, LONG, LONG, LONG)
{
    try {
        if (g_pSkin) {
            SetSkinError(L"OpenSkinW: a skin is already open; FreeSkin it first");
            return nullptr;
        }
        if (!pszLayoutFile || !*pszLayoutFile || !pszSkinFile || !*pszSkinFile) {
            SetSkinError(L"OpenSkinW: a file path is missing");
            return nullptr;
        }
        std::wstring strError;
        auto pSkin = std::make_unique<CSkinUI>();
        if (!pSkin->StartDrawing(strError)) {
            SetSkinError(L"OpenSkinW: " + strError);
            return nullptr;
        }
        std::wstring strExeDir = ExeFolder();
        if (!pSkin->Load(ResolveSkinPath(strExeDir, pszLayoutFile), ResolveSkinPath(strExeDir, pszSkinFile),
                         strError)) {
            // Freed before the error is recorded: GDI+ stops with the skin.
            pSkin.reset();
            SetSkinError(strError);
            return nullptr;
        }
        g_pSkin = std::move(pSkin);
        ClearSkinError();
        ::OutputDebugStringW((L"VEXUI32: skin open, font face " + g_pSkin->FaceName() + L"\n").c_str());
        return g_pSkin.get();
    } catch (...) {
        SetSkinError(L"OpenSkinW: out of memory");
        return nullptr;
    }
}

VEXUI_API HRESULT DUIAPI FreeSkin(void)
{
    try {
        if (!g_pSkin)
            return S_FALSE;
        g_pSkin.reset();
        return S_OK;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

VEXUI_API DUI_CTRLBASE* DUIAPI GetCtrlBase(LONG lCtrl)
{
    try {
        CDUIControl* pCtrl = g_pSkin ? g_pSkin->FindControl(lCtrl) : nullptr;
        return pCtrl ? &pCtrl->m_base : nullptr;
    } catch (...) {
        return nullptr;
    }
}

VEXUI_API DWORD DUIAPI GetSkinLastErrorW(LPWSTR pszBuf, DWORD cchBuf)
{
    try {
        const std::wstring& strError = SkinLastError();
        if (pszBuf && cchBuf > 0)
            wcsncpy_s(pszBuf, cchBuf, strError.c_str(), _TRUNCATE);
        return static_cast<DWORD>(strError.size());
    } catch (...) {
        return 0;
    }
}
