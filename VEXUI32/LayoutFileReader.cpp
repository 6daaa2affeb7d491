// Model layer: the elements of the layout file: layouts and the controls in
// them, each placed inside its form.
#include "VEXUI32/SkinLoader.h"

namespace {

const int kMaxCoord = 10000;

}  // namespace

bool CLoader::ReadRect(const CMarkupNode& node, const RECT& rcParent, RECT& rc)
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

bool CLoader::ReadControl(const CMarkupNode& node, CLayout& layout, int nParent, std::set<std::wstring>& setNames,
                          int nDepth)
{
    static const struct {
        const wchar_t* pszTag;
        EDuiKind eKind;
    } kKinds[] = {
        {L"form", EDuiKind::Form},         {L"static", EDuiKind::Static},     {L"title", EDuiKind::Title},
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

bool CLoader::ReadLayout(const CMarkupNode& node)
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
