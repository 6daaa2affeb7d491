// Model layer: the loaded skin's fonts and pictures, where the skin files
// are found, and the last error.
#include "VEXUI32/SkinRes.h"

namespace {

std::wstring g_strLastError;

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
    // The result is the callback's last answer; bFound already says it.
    ::EnumFontFamiliesExW(hdc, &lf, &OnFontFamily, reinterpret_cast<LPARAM>(&bFound), 0);
    return bFound;
}

}  // namespace

void SetSkinError(const std::wstring& strText)
{
    try {
        g_strLastError = strText;
        ::OutputDebugStringW((L"VEXUI32: " + strText + L"\n").c_str());
    } catch (...) {
        // Out of memory while reporting; the caller still fails properly.
    }
}

void ClearSkinError()
{
    g_strLastError.clear();
}

const std::wstring& SkinLastError()
{
    return g_strLastError;
}

std::wstring ResolveSkinPath(const std::wstring& strExeDir, const std::wstring& strPath)
{
    bool bAbsolute = (strPath.size() >= 2 && strPath[1] == L':') ||
                     (!strPath.empty() && (strPath[0] == L'\\' || strPath[0] == L'/'));
    return bAbsolute ? strPath : strExeDir + strPath;
}

std::wstring ChooseFontFace(const std::vector<std::wstring>& vecFaces)
{
    if (vecFaces.empty())
        return std::wstring();
    CWindowDC screen(nullptr);
    std::wstring strFace = vecFaces.front();
    for (const std::wstring& strCandidate : vecFaces) {
        if (screen && IsFaceInstalled(screen.Get(), strCandidate)) {
            strFace = strCandidate;
            break;
        }
    }
    return strFace;
}

CSkinRes::~CSkinRes() = default;

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
        font.hFont.Reset(::CreateFontIndirectW(&lf));
        if (!font.hFont) {
            strError = strSkinPath + L": cannot create font '" + font.strName + L"' with face " + m_strFace;
            return false;
        }
    }
    return true;
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

bool CSkinRes::IsPicture(const IDUIPicture* pPicture) const
{
    for (const auto& entry : m_model.mapPictures) {
        if (entry.second.get() == pPicture)
            return true;
    }
    return false;
}
