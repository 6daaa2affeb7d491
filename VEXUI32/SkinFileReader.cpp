// Model layer: the elements of the skin file: named colours, font faces and
// fonts, pictures, styles, and the looks built from them.
#include "VEXUI32/SkinLoader.h"

#include <objidl.h>

#include <gdiplus.h>

namespace {

// The value of the word a property allows; false for any other word.
template <class T>
bool PickWord(const std::wstring& strValue, std::initializer_list<std::pair<const wchar_t*, T>> choices, T& out)
{
    for (const auto& choice : choices) {
        if (strValue == choice.first) {
            out = choice.second;
            return true;
        }
    }
    return false;
}

// The skin's font or picture of that name, or null.
template <class T>
T* FindNamed(const std::map<std::wstring, std::unique_ptr<T>>& mapNamed, const std::wstring& strName)
{
    auto it = mapNamed.find(strName);
    return it == mapNamed.end() ? nullptr : it->second.get();
}

}  // namespace

bool CLoader::ReadColor(const CMarkupNode& node)
{
    if (!CheckAttrs(node, {L"name", L"value"}))
        return false;
    const std::wstring* pName = Require(node, L"name");
    const std::wstring* pValue = pName ? Require(node, L"value") : nullptr;
    if (!pValue)
        return false;
    DUI_ARGB argb = 0;
    if (!ParseArgb(*pValue, argb))
        return Fail(node, L"colour '" + *pName + L"' has the value '" + *pValue + L"'; write #RRGGBB or #AARRGGBB");
    if (!m_mapColors.emplace(*pName, argb).second)
        return Fail(node, L"colour '" + *pName + L"' is defined twice");
    return true;
}

bool CLoader::ReadFaces(const CMarkupNode& node)
{
    if (!CheckAttrs(node, {L"faces"}))
        return false;
    const std::wstring* pFaces = Require(node, L"faces");
    if (!pFaces)
        return false;
    size_t nStart = 0;
    while (nStart <= pFaces->size()) {
        size_t nComma = pFaces->find(L',', nStart);
        if (nComma == std::wstring::npos)
            nComma = pFaces->size();
        std::wstring strFace = pFaces->substr(nStart, nComma - nStart);
        size_t nFirst = strFace.find_first_not_of(L' ');
        size_t nLast = strFace.find_last_not_of(L' ');
        if (nFirst != std::wstring::npos) {
            strFace = strFace.substr(nFirst, nLast - nFirst + 1);
            if (strFace.size() >= LF_FACESIZE)
                return Fail(node, L"font face '" + strFace + L"' is longer than 31 characters");
            m_model.vecFaces.push_back(strFace);
        }
        nStart = nComma + 1;
    }
    return true;
}

bool CLoader::ReadFont(const CMarkupNode& node)
{
    if (!CheckAttrs(node, {L"name", L"size", L"bold"}))
        return false;
    const std::wstring* pName = Require(node, L"name");
    const std::wstring* pSize = pName ? Require(node, L"size") : nullptr;
    if (!pSize)
        return false;
    auto pFont = std::make_unique<CSkinFont>();
    pFont->strName = *pName;
    if (!ParseInt(*pSize, 6, 72, pFont->nPixels))
        return Fail(node, L"font size '" + *pSize + L"' is not a pixel size from 6 to 72");
    const std::wstring* pBold = node.FindAttr(L"bold");
    if (pBold && !ParseBool(*pBold, pFont->bBold))
        return Fail(node, L"bold must be true or false");
    if (!m_pFirstFont)
        m_pFirstFont = pFont.get();
    if (!m_model.mapFonts.emplace(*pName, std::move(pFont)).second)
        return Fail(node, L"font '" + *pName + L"' is defined twice");
    return true;
}

bool CLoader::ReadImage(const CMarkupNode& node, const std::wstring& strDir)
{
    if (!CheckAttrs(node, {L"name", L"file"}))
        return false;
    const std::wstring* pName = Require(node, L"name");
    const std::wstring* pFile = pName ? Require(node, L"file") : nullptr;
    if (!pFile)
        return false;
    if (m_model.mapPictures.count(*pName))
        return Fail(node, L"picture '" + *pName + L"' is defined twice");
    // Pictures live below the skin's folder; a path that climbs out of it
    // or names a drive is a mistake, not a feature.
    if (pFile->empty() || pFile->find(L"..") != std::wstring::npos || pFile->find(L':') != std::wstring::npos ||
        (*pFile)[0] == L'\\' || (*pFile)[0] == L'/')
        return Fail(node, L"picture file '" + *pFile + L"' must be a path inside the skin's folder");
    std::wstring strReason;
    auto pPicture = std::make_unique<IDUIPicture>();
    pPicture->strName = *pName;
    pPicture->pBitmap = LoadPictureFile(strDir + *pFile, strReason);
    if (!pPicture->pBitmap)
        return Fail(node, L"picture '" + *pName + L"' (" + *pFile + L"): " + strReason);
    // A drawing at twice the size beside it ("tip@2x.png" for "tip.png")
    // is used on screens of a higher DPI instead of an enlarged copy.
    size_t nDot = pFile->find_last_of(L'.');
    size_t nSlash = pFile->find_last_of(L"\\/");
    if (nDot != std::wstring::npos && (nSlash == std::wstring::npos || nDot > nSlash)) {
        std::wstring strLarge = pFile->substr(0, nDot) + L"@2x" + pFile->substr(nDot);
        if (::GetFileAttributesW((strDir + strLarge).c_str()) != INVALID_FILE_ATTRIBUTES) {
            pPicture->pLarge = LoadPictureFile(strDir + strLarge, strReason);
            if (!pPicture->pLarge)
                return Fail(node, L"picture '" + *pName + L"' (" + strLarge + L"): " + strReason);
        }
    }
    m_model.mapPictures.emplace(*pName, std::move(pPicture));
    return true;
}

bool CLoader::ReadStyle(const CMarkupNode& node)
{
    const std::wstring* pName = Require(node, L"name");
    if (!pName)
        return false;
    AttrList attrs;
    for (const auto& attr : node.vecAttrs) {
        if (attr.first == L"name")
            continue;
        // Checked now against a scratch look so that the error points at
        // the style, not at the first control that uses it.
        CLook look;
        if (!ApplyLookAttr(node, attr.first, attr.second, look, true))
            return false;
        attrs.push_back(attr);
    }
    if (!m_mapStyles.emplace(*pName, attrs).second)
        return Fail(node, L"style '" + *pName + L"' is defined twice");
    return true;
}

// Applies one look property; with bMustKnow an unknown name is an error,
// otherwise the caller decides what else the attribute might be.
bool CLoader::ApplyLookAttr(const CMarkupNode& node, const std::wstring& strKey, const std::wstring& strValue,
                            CLook& look, bool bMustKnow, bool* pbKnown)
{
    static const struct {
        const wchar_t* pszKey;
        int nSet;  // 0 back, 1 border, 2 text
        int nState;
    } kStateColors[] = {
        {L"back", 0, LOOK_NORMAL},   {L"back-hover", 0, LOOK_HOVER},   {L"back-pressed", 0, LOOK_PRESSED},
        {L"border", 1, LOOK_NORMAL}, {L"border-hover", 1, LOOK_HOVER}, {L"border-pressed", 1, LOOK_PRESSED},
        {L"color", 2, LOOK_NORMAL},  {L"color-hover", 2, LOOK_HOVER},  {L"color-pressed", 2, LOOK_PRESSED},
    };
    if (pbKnown)
        *pbKnown = true;
    for (const auto& entry : kStateColors) {
        if (strKey != entry.pszKey)
            continue;
        DUI_ARGB* pSet = entry.nSet == 0 ? look.argbBack : entry.nSet == 1 ? look.argbBorder : look.argbText;
        if (!ResolveColor(node, strValue, pSet[entry.nState]))
            return false;
        look.uSetMask |= 1u << (entry.nSet * 3 + entry.nState);
        return true;
    }
    if (strKey == L"fore")
        return ResolveColor(node, strValue, look.argbFore);
    if (strKey == L"track")
        return ResolveColor(node, strValue, look.argbTrack);
    if (strKey == L"radius") {
        if (!ParseInt(strValue, 0, 100, look.nRadius))
            return Fail(node, L"radius '" + strValue + L"' is not a number from 0 to 100");
        return true;
    }
    if (strKey == L"font") {
        const CSkinFont* pFont = FindNamed(m_model.mapFonts, strValue);
        if (!pFont)
            return Fail(node, L"unknown font '" + strValue + L"'");
        look.pFont = pFont;
        return true;
    }
    if (strKey == L"align") {
        if (!PickWord<UINT>(strValue, {{L"left", DT_LEFT}, {L"center", DT_CENTER}, {L"right", DT_RIGHT}}, look.uAlign))
            return Fail(node, L"align must be left, center or right");
        return true;
    }
    if (strKey == L"valign") {
        if (!PickWord(strValue, {{L"top", 0}, {L"center", 1}, {L"bottom", 2}}, look.nVAlign))
            return Fail(node, L"valign must be top, center or bottom");
        return true;
    }
    if (strKey == L"multiline") {
        if (!ParseBool(strValue, look.bMultiline))
            return Fail(node, L"multiline must be true or false");
        return true;
    }
    if (strKey == L"glyph") {
        if (!PickWord(strValue, {{L"close", EDuiGlyph::Close}, {L"none", EDuiGlyph::None}}, look.eGlyph))
            return Fail(node, L"glyph must be close or none");
        return true;
    }
    if (strKey == L"image") {
        IDUIPicture* pImage = FindNamed(m_model.mapPictures, strValue);
        if (!pImage)
            return Fail(node, L"unknown picture '" + strValue + L"'");
        look.pImage = pImage;
        return true;
    }
    if (pbKnown)
        *pbKnown = false;
    if (bMustKnow)
        return Fail(node, L"unknown property '" + strKey + L"' on <" + node.strName + L">");
    return true;
}

// The look of an element: the defaults, then its style (named, or the one
// named after its kind), then its own properties.
bool CLoader::BuildLook(const CMarkupNode& node, const wchar_t* pszDefaultStyle, CLook& look)
{
    look = CLook();
    look.pFont = m_pFirstFont;
    const std::wstring* pStyle = node.FindAttr(L"style");
    const AttrList* pAttrs = nullptr;
    if (pStyle) {
        auto it = m_mapStyles.find(*pStyle);
        if (it == m_mapStyles.end())
            return Fail(node, L"unknown style '" + *pStyle + L"'");
        pAttrs = &it->second;
    } else {
        auto it = m_mapStyles.find(pszDefaultStyle);
        if (it != m_mapStyles.end())
            pAttrs = &it->second;
    }
    if (pAttrs) {
        for (const auto& attr : *pAttrs) {
            if (!ApplyLookAttr(node, attr.first, attr.second, look, true))
                return false;
        }
    }
    for (const auto& attr : node.vecAttrs) {
        bool bKnown = false;
        if (!ApplyLookAttr(node, attr.first, attr.second, look, false, &bKnown))
            return false;
    }
    for (int nSet = 0; nSet < 3; ++nSet) {
        DUI_ARGB* pSet = nSet == 0 ? look.argbBack : nSet == 1 ? look.argbBorder : look.argbText;
        if (!(look.uSetMask & (1u << (nSet * 3 + LOOK_HOVER))))
            pSet[LOOK_HOVER] = pSet[LOOK_NORMAL];
        if (!(look.uSetMask & (1u << (nSet * 3 + LOOK_PRESSED))))
            pSet[LOOK_PRESSED] = pSet[LOOK_HOVER];
    }
    return true;
}

bool CLoader::IsLookKey(const std::wstring& strKey)
{
    static const wchar_t* const kKeys[] = {
        L"back",  L"back-hover",  L"back-pressed",  L"border",    L"border-hover", L"border-pressed",
        L"color", L"color-hover", L"color-pressed", L"fore",      L"track",        L"radius",
        L"font",  L"align",       L"valign",        L"multiline", L"glyph",        L"image",
    };
    for (const wchar_t* pszKey : kKeys) {
        if (strKey == pszKey)
            return true;
    }
    return false;
}
