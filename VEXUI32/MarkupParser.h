// Model layer: a small reader for the markup of the layout and skin files: elements with
// attributes, comments and processing instructions; no text content, no DTDs.
// Designers edit these files by hand, so every error names the line it is on.
#pragma once

#include <string>
#include <utility>
#include <vector>

struct CMarkupNode {
    std::wstring strName;
    std::vector<std::pair<std::wstring, std::wstring>> vecAttrs;
    std::vector<CMarkupNode> vecChildren;
    int nLine = 0;

    // The attribute's value, or null when the element does not have it.
    const std::wstring* FindAttr(const wchar_t* pszName) const;
};

struct CMarkupError {
    int nLine = 0;         // 1-based; 0 when the whole file is at fault
    std::wstring strText;  // what is wrong, in plain words
};

// Decodes strictly: a byte sequence that is not UTF-8 is an error at its line.
bool DecodeUtf8Text(const std::string& strBytes, std::wstring& strText, CMarkupError& err);

// Parses a whole file (UTF-8 bytes, an optional byte-order mark) into its one
// root element.
bool ParseMarkup(const std::string& strBytes, CMarkupNode& root, CMarkupError& err);
