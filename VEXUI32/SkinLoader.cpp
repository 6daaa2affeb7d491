// Model layer: turns the markup of the skin file (fonts, colours, pictures,
// styles) and of the layout file (windows and their controls) into the skin
// model, checking every value so that a designer's slip is reported instead of
// drawn wrong. This file reads the files and holds the checks every element
// shares.
#include "VEXUI32/SkinLoader.h"

namespace {

// Skin files are small; anything bigger is not one of ours.
const DWORD kMaxFileBytes = 4 * 1024 * 1024;

bool ReadWholeFile(const std::wstring& strPath, std::string& strBytes, std::wstring& strError)
{
    CKernelHandle file(::CreateFileW(strPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        DWORD dwErr = ::GetLastError();
        strError = L"cannot open the file (error " + std::to_wstring(dwErr) + L")";
        return false;
    }
    LARGE_INTEGER liSize = {};
    bool bOk = ::GetFileSizeEx(file.Get(), &liSize) != FALSE;
    if (bOk && liSize.QuadPart > kMaxFileBytes) {
        strError = L"the file is larger than 4 MB";
        bOk = false;
    } else if (bOk) {
        strBytes.resize(static_cast<size_t>(liSize.QuadPart));
        DWORD dwRead = 0;
        bOk = strBytes.empty() ||
              (::ReadFile(file.Get(), &strBytes[0], static_cast<DWORD>(strBytes.size()), &dwRead, nullptr) &&
               dwRead == strBytes.size());
        if (!bOk)
            strError = L"cannot read the file";
    } else {
        strError = L"cannot read the file size";
    }
    return bOk;
}

std::wstring FolderOf(const std::wstring& strPath)
{
    size_t nSlash = strPath.find_last_of(L"\\/");
    return nSlash == std::wstring::npos ? std::wstring() : strPath.substr(0, nSlash + 1);
}

}  // namespace

bool ParseInt(const std::wstring& strValue, int nMin, int nMax, int& nOut)
{
    if (strValue.empty() || strValue.size() > 7)
        return false;
    size_t i = 0;
    bool bNeg = strValue[0] == L'-';
    if (bNeg)
        i = 1;
    if (i >= strValue.size())
        return false;
    long lValue = 0;
    for (; i < strValue.size(); ++i) {
        if (strValue[i] < L'0' || strValue[i] > L'9')
            return false;
        lValue = lValue * 10 + (strValue[i] - L'0');
    }
    if (bNeg)
        lValue = -lValue;
    if (lValue < nMin || lValue > nMax)
        return false;
    nOut = static_cast<int>(lValue);
    return true;
}

bool ParseBool(const std::wstring& strValue, bool& bOut)
{
    if (strValue == L"true") {
        bOut = true;
        return true;
    }
    if (strValue == L"false") {
        bOut = false;
        return true;
    }
    return false;
}

bool CLoader::LoadSkin(const std::wstring& strPath)
{
    CMarkupNode root;
    if (!ReadMarkup(strPath, L"skin", L"skin", root))
        return false;
    std::wstring strDir = FolderOf(strPath);
    // Colours and fonts first: styles and pictures may come in any order
    // in the file but refer to them.
    for (const CMarkupNode& node : root.vecChildren) {
        if (node.strName == L"color" && !ReadColor(node))
            return false;
        if (node.strName == L"fonts" && !ReadFaces(node))
            return false;
        if (node.strName == L"font" && !ReadFont(node))
            return false;
    }
    for (const CMarkupNode& node : root.vecChildren) {
        if (node.strName == L"image" && !ReadImage(node, strDir))
            return false;
    }
    for (const CMarkupNode& node : root.vecChildren) {
        if (node.strName == L"style" && !ReadStyle(node))
            return false;
        if (node.strName != L"color" && node.strName != L"fonts" && node.strName != L"font" &&
            node.strName != L"image" && node.strName != L"style")
            return Fail(node, L"unknown element <" + node.strName + L"> in the skin file");
    }
    if (m_model.vecFaces.empty())
        return Fail(root, L"the skin names no font faces (<fonts faces=\"...\"/>)");
    if (m_model.mapFonts.empty())
        return Fail(root, L"the skin defines no <font>");
    return true;
}

bool CLoader::LoadLayouts(const std::wstring& strPath)
{
    CMarkupNode root;
    if (!ReadMarkup(strPath, L"layout", L"dui", root))
        return false;
    for (const CMarkupNode& node : root.vecChildren) {
        if (node.strName != L"layout")
            return Fail(node, L"unknown element <" + node.strName + L">; expected <layout>");
        if (!ReadLayout(node))
            return false;
    }
    if (m_model.vecLayouts.empty())
        return Fail(root, L"the layout file holds no <layout>");
    return true;
}

bool CLoader::FailAt(int nLine, const std::wstring& strText)
{
    m_strError = m_strFile;
    if (nLine > 0)
        m_strError += L"(" + std::to_wstring(nLine) + L")";
    m_strError += L": " + strText;
    return false;
}

bool CLoader::ReadMarkup(const std::wstring& strPath, const wchar_t* pszFileKind, const wchar_t* pszRoot,
                         CMarkupNode& root)
{
    m_strFile = strPath;
    std::string strBytes;
    std::wstring strReason;
    if (!ReadWholeFile(strPath, strBytes, strReason))
        return FailAt(0, strReason);
    CMarkupError err;
    if (!ParseMarkup(strBytes, root, err))
        return FailAt(err.nLine, err.strText);
    if (root.strName != pszRoot)
        return Fail(root, std::wstring(L"the ") + pszFileKind + L" file must start with <" + pszRoot + L">");
    return true;
}

const std::wstring* CLoader::Require(const CMarkupNode& node, const wchar_t* pszAttr)
{
    const std::wstring* pValue = node.FindAttr(pszAttr);
    if (!pValue)
        Fail(node, L"<" + node.strName + L"> needs the attribute " + pszAttr);
    return pValue;
}

bool CLoader::CheckAttrs(const CMarkupNode& node, std::initializer_list<const wchar_t*> allowed)
{
    for (const auto& attr : node.vecAttrs) {
        bool bKnown = false;
        for (const wchar_t* psz : allowed)
            bKnown = bKnown || attr.first == psz;
        if (!bKnown)
            return Fail(node, L"unknown attribute '" + attr.first + L"' on <" + node.strName + L">");
    }
    return true;
}

bool CLoader::ResolveColor(const CMarkupNode& node, const std::wstring& strValue, DUI_ARGB& argb)
{
    if (ParseArgb(strValue, argb))
        return true;
    auto it = m_mapColors.find(strValue);
    if (it != m_mapColors.end()) {
        argb = it->second;
        return true;
    }
    return Fail(node,
                L"'" + strValue + L"' is neither a colour (#RRGGBB, #AARRGGBB, none) nor a colour name of the skin");
}

const CLayout* CSkinModel::FindLayout(const std::wstring& strName) const
{
    for (const CLayout& layout : vecLayouts) {
        if (layout.strName == strName)
            return &layout;
    }
    return nullptr;
}

bool ParseArgb(const std::wstring& strValue, DUI_ARGB& argb)
{
    if (strValue == L"none") {
        argb = 0;
        return true;
    }
    if ((strValue.size() != 7 && strValue.size() != 9) || strValue[0] != L'#')
        return false;
    DUI_ARGB value = 0;
    for (size_t i = 1; i < strValue.size(); ++i) {
        wchar_t ch = strValue[i];
        DWORD dwDigit;
        if (ch >= L'0' && ch <= L'9')
            dwDigit = ch - L'0';
        else if (ch >= L'a' && ch <= L'f')
            dwDigit = ch - L'a' + 10;
        else if (ch >= L'A' && ch <= L'F')
            dwDigit = ch - L'A' + 10;
        else
            return false;
        value = (value << 4) | dwDigit;
    }
    argb = strValue.size() == 7 ? (0xFF000000 | value) : value;
    return true;
}

bool LoadSkinFiles(const std::wstring& strLayoutPath, const std::wstring& strSkinPath, CSkinModel& model,
                   std::wstring& strError)
{
    // The skin first: layouts refer to its fonts, colours, pictures and styles.
    CLoader loader(model, strError);
    return loader.LoadSkin(strSkinPath) && loader.LoadLayouts(strLayoutPath);
}
