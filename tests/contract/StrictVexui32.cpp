// A skin library that offers the program exactly the three functions the
// client's own VEXUI32.dll exports (standard-call, decorated names) and none
// of our extras, so that a run beside it shows whether the program imports or
// needs anything more. The drawing is ours (vexuicore).
#include "ui/DUIDefs.h"

#include <memory>
#include <string>

#include "VEXUI32/DirectUI.h"
#include "VEXUI32/SkinUI.h"

namespace {

std::unique_ptr<CSkinUI> g_pSkin;

std::wstring ExeFolder()
{
    wchar_t szPath[MAX_PATH * 4] = {};
    const DWORD dwLen = ::GetModuleFileNameW(nullptr, szPath, ARRAYSIZE(szPath));
    if (dwLen == 0 || dwLen >= ARRAYSIZE(szPath))
        return std::wstring();
    const std::wstring strPath(szPath, dwLen);
    const size_t nSlash = strPath.find_last_of(L"\\/");
    return nSlash == std::wstring::npos ? std::wstring() : strPath.substr(0, nSlash + 1);
}

}  // namespace

// The skin the library's windows and controls look up.
CSkinUI* GetSkin()
{
    return g_pSkin.get();
}

VEXUI_API IDUIRes* DUIAPI OpenSkinW(LPCWSTR pszLayoutFile, LPCWSTR pszSkinFile, LONG, LONG, LONG)
{
    try {
        if (g_pSkin || !pszLayoutFile || !pszSkinFile)
            return nullptr;
        std::wstring strError;
        auto pSkin = std::make_unique<CSkinUI>();
        const std::wstring strExeDir = ExeFolder();
        if (!pSkin->StartDrawing(strError) ||
            !pSkin->Load(ResolveSkinPath(strExeDir, pszLayoutFile), ResolveSkinPath(strExeDir, pszSkinFile), strError))
            return nullptr;
        g_pSkin = std::move(pSkin);
        return g_pSkin.get();
    } catch (...) {
        return nullptr;
    }
}

VEXUI_API HRESULT DUIAPI FreeSkin(void)
{
    try {
        g_pSkin.reset();
    } catch (...) {
    }
    return S_OK;
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
