// Turns the markup of the skin file (fonts, colours, pictures, styles) and of
// the layout file (windows and their controls) into the skin model, checking
// every value so that a designer's slip is reported instead of drawn wrong.
#include "VEXUI32/SkinModel.h"

#include <cwchar>
#include <set>

#include "VEXUI32/MarkupParser.h"

namespace {

// Skin files are small; anything bigger is not one of ours.
const DWORD kMaxFileBytes = 4 * 1024 * 1024;
const int kMaxCoord = 10000;

typedef std::vector<std::pair<std::wstring, std::wstring>> AttrList;

bool ReadWholeFile(const std::wstring& strPath, std::string& strBytes, std::wstring& strError)
{
    HANDLE hFile = ::CreateFileW(strPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
    if (hFile == INVALID_HANDLE_VALUE) {
        DWORD dwErr = ::GetLastError();
        strError = L"cannot open the file (error " + std::to_wstring(dwErr) + L")";
        return false;
    }
    LARGE_INTEGER liSize = {};
    bool bOk = ::GetFileSizeEx(hFile, &liSize) != FALSE;
    if (bOk && liSize.QuadPart > kMaxFileBytes) {
        strError = L"the file is larger than 4 MB";
        bOk = false;
    } else if (bOk) {
        strBytes.resize(static_cast<size_t>(liSize.QuadPart));
        DWORD dwRead = 0;
        bOk = strBytes.empty() ||
              (::ReadFile(hFile, &strBytes[0], static_cast<DWORD>(strBytes.size()), &dwRead, nullptr) &&
               dwRead == strBytes.size());
        if (!bOk)
            strError = L"cannot read the file";
    } else {
        strError = L"cannot read the file size";
    }
    ::CloseHandle(hFile);
    return bOk;
}

std::wstring FolderOf(const std::wstring& strPath)
{
    size_t nSlash = strPath.find_last_of(L"\\/");
    return nSlash == std::wstring::npos ? std::wstring() : strPath.substr(0, nSlash + 1);
}

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

// Reading one file: the model being filled, the file's name for messages and
// the first error found.
class CLoader {
public:
    CLoader(CSkinModel& model, std::wstring& strError) : m_model(model), m_strError(strError) {}

    bool LoadSkin(const std::wstring& strPath)
    {
        CMarkupNode root;
        if (!ReadMarkup(strPath, root))
            return false;
        if (root.strName != L"skin")
            return Fail(root, L"the skin file must start with <skin>");
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

    bool LoadLayouts(const std::wstring& strPath)
    {
        CMarkupNode root;
        if (!ReadMarkup(strPath, root))
            return false;
        if (root.strName != L"dui")
            return Fail(root, L"the layout file must start with <dui>");
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

private:
    bool Fail(const CMarkupNode& node, const std::wstring& strText) { return FailAt(node.nLine, strText); }

    bool FailAt(int nLine, const std::wstring& strText)
    {
        m_strError = m_strFile;
        if (nLine > 0)
            m_strError += L"(" + std::to_wstring(nLine) + L")";
        m_strError += L": " + strText;
        return false;
    }

    bool ReadMarkup(const std::wstring& strPath, CMarkupNode& root)
    {
        m_strFile = strPath;
        std::string strBytes;
        std::wstring strReason;
        if (!ReadWholeFile(strPath, strBytes, strReason))
            return FailAt(0, strReason);
        CMarkupError err;
        if (!ParseMarkup(strBytes, root, err))
            return FailAt(err.nLine, err.strText);
        return true;
    }

    const std::wstring* Require(const CMarkupNode& node, const wchar_t* pszAttr)
    {
        const std::wstring* pValue = node.FindAttr(pszAttr);
        if (!pValue)
            Fail(node, L"<" + node.strName + L"> needs the attribute " + pszAttr);
        return pValue;
    }

    bool CheckAttrs(const CMarkupNode& node, std::initializer_list<const wchar_t*> allowed)
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

    bool ResolveColor(const CMarkupNode& node, const std::wstring& strValue, DUI_ARGB& argb)
    {
        if (ParseArgb(strValue, argb))
            return true;
        auto it = m_mapColors.find(strValue);
        if (it != m_mapColors.end()) {
            argb = it->second;
            return true;
        }
        return Fail(node, L"'" + strValue + L"' is neither a colour (#RRGGBB, #AARRGGBB, none) nor a colour name of the skin");
    }

    bool ReadColor(const CMarkupNode& node)
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

    bool ReadFaces(const CMarkupNode& node)
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

    bool ReadFont(const CMarkupNode& node)
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

    bool ReadImage(const CMarkupNode& node, const std::wstring& strDir)
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

    bool ReadStyle(const CMarkupNode& node)
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
    bool ApplyLookAttr(const CMarkupNode& node, const std::wstring& strKey, const std::wstring& strValue, CLook& look,
                       bool bMustKnow, bool* pbKnown = nullptr)
    {
        static const struct {
            const wchar_t* pszKey;
            int nSet;       // 0 back, 1 border, 2 text
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
            auto it = m_model.mapFonts.find(strValue);
            if (it == m_model.mapFonts.end())
                return Fail(node, L"unknown font '" + strValue + L"'");
            look.pFont = it->second.get();
            return true;
        }
        if (strKey == L"align") {
            if (strValue == L"left")
                look.uAlign = DT_LEFT;
            else if (strValue == L"center")
                look.uAlign = DT_CENTER;
            else if (strValue == L"right")
                look.uAlign = DT_RIGHT;
            else
                return Fail(node, L"align must be left, center or right");
            return true;
        }
        if (strKey == L"valign") {
            if (strValue == L"top")
                look.nVAlign = 0;
            else if (strValue == L"center")
                look.nVAlign = 1;
            else if (strValue == L"bottom")
                look.nVAlign = 2;
            else
                return Fail(node, L"valign must be top, center or bottom");
            return true;
        }
        if (strKey == L"multiline") {
            if (!ParseBool(strValue, look.bMultiline))
                return Fail(node, L"multiline must be true or false");
            return true;
        }
        if (strKey == L"glyph") {
            if (strValue == L"close")
                look.eGlyph = EDuiGlyph::Close;
            else if (strValue == L"none")
                look.eGlyph = EDuiGlyph::None;
            else
                return Fail(node, L"glyph must be close or none");
            return true;
        }
        if (strKey == L"image") {
            auto it = m_model.mapPictures.find(strValue);
            if (it == m_model.mapPictures.end())
                return Fail(node, L"unknown picture '" + strValue + L"'");
            look.pImage = it->second.get();
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
    bool BuildLook(const CMarkupNode& node, const wchar_t* pszDefaultStyle, CLook& look)
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

    static bool IsLookKey(const std::wstring& strKey)
    {
        static const wchar_t* const kKeys[] = {
            L"back",  L"back-hover",  L"back-pressed",  L"border", L"border-hover", L"border-pressed",
            L"color", L"color-hover", L"color-pressed", L"fore",   L"track",        L"radius",
            L"font",  L"align",       L"valign",        L"multiline", L"glyph",     L"image",
        };
        for (const wchar_t* pszKey : kKeys) {
            if (strKey == pszKey)
                return true;
        }
        return false;
    }

    bool ReadRect(const CMarkupNode& node, const RECT& rcParent, RECT& rc)
    {
        int nValues[4] = {};
        const wchar_t* kNames[4] = {L"x", L"y", L"width", L"height"};
        for (int i = 0; i < 4; ++i) {
            const std::wstring* pValue = Require(node, kNames[i]);
            if (!pValue)
                return false;
            int nMin = i < 2 ? -kMaxCoord : 0;
            if (!ParseInt(*pValue, nMin, kMaxCoord, nValues[i]))
                return Fail(node, std::wstring(kNames[i]) + L" '" + *pValue + L"' is not a pixel number");
        }
        // Positions are written relative to the enclosing form and kept in
        // window pixels, which is what the program reads and writes.
        rc.left = rcParent.left + nValues[0];
        rc.top = rcParent.top + nValues[1];
        rc.right = rc.left + nValues[2];
        rc.bottom = rc.top + nValues[3];
        return true;
    }

    bool ReadControl(const CMarkupNode& node, CLayout& layout, int nParent, std::set<std::wstring>& setNames,
                     int nDepth)
    {
        static const struct {
            const wchar_t* pszTag;
            EDuiKind eKind;
        } kKinds[] = {
            {L"form", EDuiKind::Form},         {L"static", EDuiKind::Static},   {L"title", EDuiKind::Title},
            {L"button", EDuiKind::Button},     {L"checkbox", EDuiKind::CheckBox}, {L"picture", EDuiKind::Picture},
            {L"progress", EDuiKind::Progress}, {L"animate", EDuiKind::Animate},
        };
        CCtrlTemplate ctrl;
        bool bKnownKind = false;
        for (const auto& kind : kKinds) {
            if (node.strName == kind.pszTag) {
                ctrl.eKind = kind.eKind;
                bKnownKind = true;
            }
        }
        if (!bKnownKind)
            return Fail(node, L"unknown control <" + node.strName + L">");
        if (nDepth > 8)
            return Fail(node, L"forms nested too deeply");

        for (const auto& attr : node.vecAttrs) {
            const std::wstring& strKey = attr.first;
            bool bCommon = strKey == L"name" || strKey == L"x" || strKey == L"y" || strKey == L"width" ||
                           strKey == L"height" || strKey == L"visible" || strKey == L"style" || strKey == L"text" ||
                           strKey == L"label";
            bool bOwn = (strKey == L"checked" && ctrl.eKind == EDuiKind::CheckBox) ||
                        (strKey == L"default" && ctrl.eKind == EDuiKind::Button) ||
                        (strKey == L"pos" && ctrl.eKind == EDuiKind::Progress);
            if (!bCommon && !bOwn && !IsLookKey(strKey))
                return Fail(node, L"unknown attribute '" + strKey + L"' on <" + node.strName + L">");
        }
        if (const std::wstring* pName = node.FindAttr(L"name")) {
            if (!setNames.insert(*pName).second)
                return Fail(node, L"control name '" + *pName + L"' is used twice in layout '" + layout.strName + L"'");
            ctrl.strName = *pName;
        }
        RECT rcParent = {0, 0, layout.cx, layout.cy};
        if (nParent >= 0)
            rcParent = layout.vecCtrls[nParent].rc;
        if (!ReadRect(node, rcParent, ctrl.rc))
            return false;
        if (const std::wstring* pText = node.FindAttr(L"text"))
            ctrl.strText = *pText;
        const std::wstring* pFlag = node.FindAttr(L"visible");
        if (pFlag && !ParseBool(*pFlag, ctrl.bVisible))
            return Fail(node, L"visible must be true or false");
        pFlag = node.FindAttr(L"checked");
        if (pFlag && !ParseBool(*pFlag, ctrl.bChecked))
            return Fail(node, L"checked must be true or false");
        pFlag = node.FindAttr(L"default");
        if (pFlag && !ParseBool(*pFlag, ctrl.bDefault))
            return Fail(node, L"default must be true or false");
        if (const std::wstring* pLabel = node.FindAttr(L"label"))
            ctrl.strLabel = *pLabel;
        if (const std::wstring* pPos = node.FindAttr(L"pos")) {
            int nPos = 0;
            if (!ParseInt(*pPos, 0, 100, nPos))
                return Fail(node, L"pos must be a number from 0 to 100");
            ctrl.lPos = nPos;
        }
        if (!BuildLook(node, node.strName.c_str(), ctrl.look))
            return false;
        ctrl.nParent = nParent;

        if (!node.vecChildren.empty() && ctrl.eKind != EDuiKind::Form)
            return Fail(node.vecChildren.front(), L"only a <form> may hold other controls");
        layout.vecCtrls.push_back(ctrl);
        int nSelf = static_cast<int>(layout.vecCtrls.size()) - 1;
        for (const CMarkupNode& child : node.vecChildren) {
            if (!ReadControl(child, layout, nSelf, setNames, nDepth + 1))
                return false;
        }
        return true;
    }

    bool ReadLayout(const CMarkupNode& node)
    {
        CLayout layout;
        for (const auto& attr : node.vecAttrs) {
            const std::wstring& strKey = attr.first;
            bool bOwn = strKey == L"name" || strKey == L"width" || strKey == L"height" || strKey == L"caption" ||
                        strKey == L"center" || strKey == L"style";
            if (!bOwn && !IsLookKey(strKey))
                return Fail(node, L"unknown attribute '" + strKey + L"' on <layout>");
        }
        const std::wstring* pName = Require(node, L"name");
        const std::wstring* pWidth = pName ? Require(node, L"width") : nullptr;
        const std::wstring* pHeight = pWidth ? Require(node, L"height") : nullptr;
        if (!pHeight)
            return false;
        layout.strName = *pName;
        if (m_model.FindLayout(layout.strName))
            return Fail(node, L"layout '" + layout.strName + L"' is defined twice");
        if (!ParseInt(*pWidth, 1, kMaxCoord, layout.cx) || !ParseInt(*pHeight, 1, kMaxCoord, layout.cy))
            return Fail(node, L"width and height must be pixel numbers above 0");
        if (const std::wstring* pCaption = node.FindAttr(L"caption")) {
            if (!ParseInt(*pCaption, 0, layout.cy, layout.nCaption))
                return Fail(node, L"caption must be a height from 0 to the layout's height");
        }
        const std::wstring* pCenter = node.FindAttr(L"center");
        if (pCenter && !ParseBool(*pCenter, layout.bCenter))
            return Fail(node, L"center must be true or false");
        if (!BuildLook(node, L"window", layout.look))
            return false;
        std::set<std::wstring> setNames;
        for (const CMarkupNode& child : node.vecChildren) {
            if (!ReadControl(child, layout, -1, setNames, 0))
                return false;
        }
        m_model.vecLayouts.push_back(std::move(layout));
        return true;
    }

    CSkinModel& m_model;
    std::wstring& m_strError;
    std::wstring m_strFile;
    std::map<std::wstring, DUI_ARGB> m_mapColors;
    std::map<std::wstring, AttrList> m_mapStyles;
    const CSkinFont* m_pFirstFont = nullptr;
};

}  // namespace

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
