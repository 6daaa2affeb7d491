// Model layer: the markup reader.
#include "VEXUI32/MarkupParser.h"

#include <cstdint>
#include <cwchar>

namespace {

// Deep nesting only comes from a damaged or hostile file; the recursive
// descent must not run out of stack on it.
const int kMaxDepth = 64;

bool IsNameStart(wchar_t ch)
{
    return (ch >= L'A' && ch <= L'Z') || (ch >= L'a' && ch <= L'z') || ch == L'_' || ch == L':';
}

bool IsNameChar(wchar_t ch)
{
    return IsNameStart(ch) || (ch >= L'0' && ch <= L'9') || ch == L'-' || ch == L'.';
}

bool IsSpace(wchar_t ch)
{
    return ch == L' ' || ch == L'\t' || ch == L'\r' || ch == L'\n';
}

class CReader {
public:
    explicit CReader(const std::wstring& strText) : m_str(strText) {}

    bool ParseDocument(CMarkupNode& root, CMarkupError& err)
    {
        bool bHaveRoot = false;
        for (;;) {
            SkipSpace();
            if (AtEnd())
                break;
            if (Peek() != L'<')
                return Fail(err, L"text outside an element; captions belong in a text=\"...\" attribute");
            if (LookingAt(L"<?")) {
                if (!SkipPast(L"?>", L"processing instruction", err))
                    return false;
            } else if (LookingAt(L"<!--")) {
                if (!SkipComment(err))
                    return false;
            } else if (LookingAt(L"<!")) {
                return Fail(err, L"declarations and CDATA sections are not supported");
            } else {
                if (bHaveRoot)
                    return Fail(err, L"a second top-level element; the file must have exactly one");
                if (!ParseElement(root, 0, err))
                    return false;
                bHaveRoot = true;
            }
        }
        if (!bHaveRoot)
            return Fail(err, L"the file holds no element");
        return true;
    }

private:
    bool AtEnd() const { return m_nPos >= m_str.size(); }
    wchar_t Peek() const { return AtEnd() ? L'\0' : m_str[m_nPos]; }

    bool LookingAt(const wchar_t* psz) const
    {
        size_t n = wcslen(psz);
        return m_str.compare(m_nPos, n, psz) == 0;
    }

    void Advance(size_t n = 1)
    {
        for (size_t i = 0; i < n && !AtEnd(); ++i) {
            if (m_str[m_nPos] == L'\n')
                ++m_nLine;
            ++m_nPos;
        }
    }

    void SkipSpace()
    {
        while (!AtEnd() && IsSpace(Peek()))
            Advance();
    }

    bool Fail(CMarkupError& err, const std::wstring& strText) const
    {
        err.nLine = m_nLine;
        err.strText = strText;
        return false;
    }

    bool SkipPast(const wchar_t* pszEnd, const wchar_t* pszWhat, CMarkupError& err)
    {
        int nStart = m_nLine;
        size_t nEnd = m_str.find(pszEnd, m_nPos);
        if (nEnd == std::wstring::npos) {
            err.nLine = nStart;
            err.strText = std::wstring(L"unterminated ") + pszWhat;
            return false;
        }
        Advance(nEnd + wcslen(pszEnd) - m_nPos);
        return true;
    }

    bool SkipComment(CMarkupError& err) { return SkipPast(L"-->", L"comment", err); }

    bool ParseName(std::wstring& strName, CMarkupError& err, const wchar_t* pszWhat)
    {
        if (!IsNameStart(Peek()))
            return Fail(err, std::wstring(L"expected ") + pszWhat);
        size_t nStart = m_nPos;
        while (!AtEnd() && IsNameChar(Peek()))
            Advance();
        strName.assign(m_str, nStart, m_nPos - nStart);
        return true;
    }

    bool ParseReference(std::wstring& strOut, CMarkupError& err)
    {
        size_t nSemi = m_str.find(L';', m_nPos);
        if (nSemi == std::wstring::npos || nSemi - m_nPos > 12)
            return Fail(err, L"'&' must start an entity such as &amp; or &#10;");
        std::wstring strRef(m_str, m_nPos + 1, nSemi - m_nPos - 1);
        static const struct {
            const wchar_t* pszName;
            wchar_t ch;
        } kNamed[] = {{L"lt", L'<'}, {L"gt", L'>'}, {L"amp", L'&'}, {L"quot", L'"'}, {L"apos", L'\''}};
        for (const auto& named : kNamed) {
            if (strRef == named.pszName) {
                strOut += named.ch;
                Advance(nSemi + 1 - m_nPos);
                return true;
            }
        }
        if (strRef.size() >= 2 && strRef[0] == L'#') {
            bool bHex = strRef[1] == L'x' || strRef[1] == L'X';
            size_t nDigits = bHex ? 2 : 1;
            unsigned long ulCode = 0;
            bool bOk = nDigits < strRef.size();
            for (size_t i = nDigits; bOk && i < strRef.size(); ++i) {
                wchar_t ch = strRef[i];
                int nDigit = -1;
                if (ch >= L'0' && ch <= L'9')
                    nDigit = ch - L'0';
                else if (bHex && ch >= L'a' && ch <= L'f')
                    nDigit = ch - L'a' + 10;
                else if (bHex && ch >= L'A' && ch <= L'F')
                    nDigit = ch - L'A' + 10;
                if (nDigit < 0)
                    bOk = false;
                else
                    ulCode = ulCode * (bHex ? 16 : 10) + static_cast<unsigned long>(nDigit);
                if (ulCode > 0x10FFFF)
                    bOk = false;
            }
            if (bOk && ulCode != 0 && !(ulCode >= 0xD800 && ulCode <= 0xDFFF)) {
                if (ulCode >= 0x10000) {
                    ulCode -= 0x10000;
                    strOut += static_cast<wchar_t>(0xD800 + (ulCode >> 10));
                    strOut += static_cast<wchar_t>(0xDC00 + (ulCode & 0x3FF));
                } else {
                    strOut += static_cast<wchar_t>(ulCode);
                }
                Advance(nSemi + 1 - m_nPos);
                return true;
            }
        }
        return Fail(err, L"unknown entity &" + strRef + L";");
    }

    bool ParseAttrValue(std::wstring& strValue, CMarkupError& err)
    {
        wchar_t chQuote = Peek();
        if (chQuote != L'"' && chQuote != L'\'')
            return Fail(err, L"attribute values must be quoted");
        int nStartLine = m_nLine;
        Advance();
        for (;;) {
            if (AtEnd()) {
                err.nLine = nStartLine;
                err.strText = L"unterminated attribute value";
                return false;
            }
            wchar_t ch = Peek();
            if (ch == chQuote) {
                Advance();
                return true;
            }
            if (ch == L'<')
                return Fail(err, L"'<' inside an attribute value; write &lt;");
            if (ch == L'&') {
                if (!ParseReference(strValue, err))
                    return false;
                continue;
            }
            // Line breaks in a value are layout of the file, not of the text:
            // a real line break is written &#10;.
            strValue += IsSpace(ch) ? L' ' : ch;
            Advance();
        }
    }

    bool ParseElement(CMarkupNode& node, int nDepth, CMarkupError& err)
    {
        if (nDepth >= kMaxDepth)
            return Fail(err, L"elements nested too deeply");
        node.nLine = m_nLine;
        Advance();  // '<'
        if (!ParseName(node.strName, err, L"an element name after '<'"))
            return false;
        for (;;) {
            bool bSpace = IsSpace(Peek());
            SkipSpace();
            if (AtEnd())
                return Fail(err, L"unterminated tag <" + node.strName + L">");
            if (LookingAt(L"/>")) {
                Advance(2);
                return true;
            }
            if (Peek() == L'>') {
                Advance();
                break;
            }
            if (!bSpace)
                return Fail(err, L"expected a space between attributes of <" + node.strName + L">");
            std::wstring strAttr;
            if (!ParseName(strAttr, err, L"an attribute name"))
                return false;
            if (node.FindAttr(strAttr.c_str()))
                return Fail(err, L"attribute '" + strAttr + L"' given twice");
            SkipSpace();
            if (Peek() != L'=')
                return Fail(err, L"expected '=' after attribute '" + strAttr + L"'");
            Advance();
            SkipSpace();
            std::wstring strValue;
            if (!ParseAttrValue(strValue, err))
                return false;
            node.vecAttrs.emplace_back(std::move(strAttr), std::move(strValue));
        }

        for (;;) {
            SkipSpace();
            if (AtEnd())
                return Fail(err, L"element <" + node.strName + L"> is not closed");
            if (Peek() != L'<')
                return Fail(err, L"text outside an element; captions belong in a text=\"...\" attribute");
            if (LookingAt(L"</")) {
                Advance(2);
                std::wstring strClose;
                if (!ParseName(strClose, err, L"an element name after '</'"))
                    return false;
                if (strClose != node.strName)
                    return Fail(err, L"</" + strClose + L"> closes <" + node.strName + L">");
                SkipSpace();
                if (Peek() != L'>')
                    return Fail(err, L"expected '>' after </" + strClose);
                Advance();
                return true;
            }
            if (LookingAt(L"<!--")) {
                if (!SkipComment(err))
                    return false;
            } else if (LookingAt(L"<?")) {
                if (!SkipPast(L"?>", L"processing instruction", err))
                    return false;
            } else if (LookingAt(L"<!")) {
                return Fail(err, L"declarations and CDATA sections are not supported");
            } else {
                node.vecChildren.emplace_back();
                if (!ParseElement(node.vecChildren.back(), nDepth + 1, err))
                    return false;
            }
        }
    }

    const std::wstring& m_str;
    size_t m_nPos = 0;
    int m_nLine = 1;
};

}  // namespace

const std::wstring* CMarkupNode::FindAttr(const wchar_t* pszName) const
{
    for (const auto& attr : vecAttrs) {
        if (attr.first == pszName)
            return &attr.second;
    }
    return nullptr;
}

bool DecodeUtf8Text(const std::string& strBytes, std::wstring& strText, CMarkupError& err)
{
    strText.clear();
    strText.reserve(strBytes.size());
    size_t i = 0;
    int nLine = 1;
    if (strBytes.compare(0, 3, "\xEF\xBB\xBF") == 0)
        i = 3;
    while (i < strBytes.size()) {
        unsigned char b = static_cast<unsigned char>(strBytes[i]);
        unsigned long ulCode = 0;
        size_t nMore = 0;
        unsigned long ulMin = 0;
        if (b < 0x80) {
            ulCode = b;
        } else if ((b & 0xE0) == 0xC0) {
            ulCode = b & 0x1F;
            nMore = 1;
            ulMin = 0x80;
        } else if ((b & 0xF0) == 0xE0) {
            ulCode = b & 0x0F;
            nMore = 2;
            ulMin = 0x800;
        } else if ((b & 0xF8) == 0xF0) {
            ulCode = b & 0x07;
            nMore = 3;
            ulMin = 0x10000;
        } else {
            nMore = SIZE_MAX;
        }
        bool bOk = nMore != SIZE_MAX && i + nMore < strBytes.size();
        for (size_t k = 1; bOk && k <= nMore; ++k) {
            unsigned char c = static_cast<unsigned char>(strBytes[i + k]);
            if ((c & 0xC0) != 0x80)
                bOk = false;
            else
                ulCode = (ulCode << 6) | (c & 0x3F);
        }
        if (bOk && nMore > 0 && (ulCode < ulMin || ulCode > 0x10FFFF || (ulCode >= 0xD800 && ulCode <= 0xDFFF)))
            bOk = false;
        if (!bOk) {
            err.nLine = nLine;
            err.strText = L"the file is not valid UTF-8 text (save it as UTF-8)";
            return false;
        }
        if (ulCode == 0) {
            err.nLine = nLine;
            err.strText = L"the file holds a NUL character";
            return false;
        }
        if (ulCode >= 0x10000) {
            ulCode -= 0x10000;
            strText += static_cast<wchar_t>(0xD800 + (ulCode >> 10));
            strText += static_cast<wchar_t>(0xDC00 + (ulCode & 0x3FF));
        } else {
            strText += static_cast<wchar_t>(ulCode);
        }
        if (ulCode == L'\n')
            ++nLine;
        i += nMore + 1;
    }
    return true;
}

bool ParseMarkup(const std::string& strBytes, CMarkupNode& root, CMarkupError& err)
{
    std::wstring strText;
    if (!DecodeUtf8Text(strBytes, strText, err))
        return false;
    root = CMarkupNode();
    CReader reader(strText);
    return reader.ParseDocument(root, err);
}
