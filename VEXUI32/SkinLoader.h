// Model layer, inside: reading the skin and layout files into the model, for
// the loader's own files (SkinLoader.cpp: the files and their checks;
// SkinFileReader.cpp: the skin file's elements; LayoutFileReader.cpp: the
// layouts and their controls).
#pragma once

#include <set>

#include "VEXUI32/MarkupParser.h"
#include "VEXUI32/SkinModel.h"

typedef std::vector<std::pair<std::wstring, std::wstring>> AttrList;

// Whole numbers from nMin to nMax, no sign but a minus, at most 7 characters.
bool ParseInt(const std::wstring& strValue, int nMin, int nMax, int& nOut);
// "true" or "false".
bool ParseBool(const std::wstring& strValue, bool& bOut);

// Reading one file: the model being filled, the file's name for messages and
// the first error found.
class CLoader {
public:
    CLoader(CSkinModel& model, std::wstring& strError) : m_model(model), m_strError(strError) {}

    bool LoadSkin(const std::wstring& strPath);
    bool LoadLayouts(const std::wstring& strPath);

private:
    bool Fail(const CMarkupNode& node, const std::wstring& strText) { return FailAt(node.nLine, strText); }
    bool FailAt(int nLine, const std::wstring& strText);
    // The file's markup, whose root element must be pszRoot.
    bool ReadMarkup(const std::wstring& strPath, const wchar_t* pszFileKind, const wchar_t* pszRoot, CMarkupNode& root);
    const std::wstring* Require(const CMarkupNode& node, const wchar_t* pszAttr);
    bool CheckAttrs(const CMarkupNode& node, std::initializer_list<const wchar_t*> allowed);
    bool ResolveColor(const CMarkupNode& node, const std::wstring& strValue, DUI_ARGB& argb);
    bool ReadColor(const CMarkupNode& node);
    bool ReadFaces(const CMarkupNode& node);
    bool ReadFont(const CMarkupNode& node);
    bool ReadImage(const CMarkupNode& node, const std::wstring& strDir);
    bool ReadStyle(const CMarkupNode& node);

    // Applies one look property; with bMustKnow an unknown name is an error,
    // otherwise the caller decides what else the attribute might be.
    bool ApplyLookAttr(const CMarkupNode& node, const std::wstring& strKey, const std::wstring& strValue, CLook& look,
                       bool bMustKnow, bool* pbKnown = nullptr);

    // The look of an element: the defaults, then its style (named, or the one
    // named after its kind), then its own properties.
    bool BuildLook(const CMarkupNode& node, const wchar_t* pszDefaultStyle, CLook& look);
    static bool IsLookKey(const std::wstring& strKey);
    bool ReadRect(const CMarkupNode& node, const RECT& rcParent, RECT& rc);
    bool ReadControl(const CMarkupNode& node, CLayout& layout, int nParent, std::set<std::wstring>& setNames,
                     int nDepth);
    bool ReadLayout(const CMarkupNode& node);

    CSkinModel& m_model;
    std::wstring& m_strError;
    std::wstring m_strFile;
    std::map<std::wstring, DUI_ARGB> m_mapColors;
    std::map<std::wstring, AttrList> m_mapStyles;
    const CSkinFont* m_pFirstFont = nullptr;
};
