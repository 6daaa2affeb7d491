// The reader of the skin markup: what designers may write, and the line and
// reason reported for what they may not.
#include <gtest/gtest.h>

#include "VEXUI32/MarkupParser.h"

namespace {

struct CParsed {
    bool bOk;
    CMarkupNode root;
    CMarkupError err;
};

CParsed Parse(const std::string& strText)
{
    CParsed result;
    result.bOk = ParseMarkup(strText, result.root, result.err);
    return result;
}

std::string Narrow(const std::wstring& str)
{
    return std::string(str.begin(), str.end());
}

}  // namespace

TEST(SkinMarkup, ReadsElementsAttributesAndNesting)
{
    CParsed parsed = Parse(
        "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
        "<!-- a comment -->\n"
        "<dui>\n"
        "  <layout name='A' width=\"10\">\n"
        "    <!-- inside -->\n"
        "    <static text=\"\xE4\xB8\x8B\xE8\xBD\xBD &lt;&amp;&gt; &quot;x&apos; &#10;&#x4E2D;&#x1F600;\"/>\n"
        "    <form\n      x = \"1\"\n    ></form>\n"
        "  </layout>\n"
        "</dui>\n");
    ASSERT_TRUE(parsed.bOk) << "line " << parsed.err.nLine << ": " << Narrow(parsed.err.strText);
    const CMarkupNode& root = parsed.root;
    EXPECT_EQ(root.strName, L"dui");
    ASSERT_EQ(root.vecChildren.size(), 1u);
    const CMarkupNode& layout = root.vecChildren[0];
    EXPECT_EQ(layout.nLine, 4);
    ASSERT_NE(layout.FindAttr(L"name"), nullptr);
    EXPECT_EQ(*layout.FindAttr(L"name"), L"A");
    EXPECT_EQ(layout.FindAttr(L"height"), nullptr);
    ASSERT_EQ(layout.vecChildren.size(), 2u);
    const CMarkupNode& text = layout.vecChildren[0];
    EXPECT_EQ(*text.FindAttr(L"text"), std::wstring(L"\x4E0B\x8F7D <&> \"x' \n\x4E2D\xD83D\xDE00"));
    EXPECT_EQ(text.nLine, 6);
    EXPECT_EQ(layout.vecChildren[1].strName, L"form");
    EXPECT_EQ(*layout.vecChildren[1].FindAttr(L"x"), L"1");

    // Line breaks inside a value are the file's layout, not the text's.
    CParsed spaced = Parse("<a t=\"one\ntwo\tthree\"/>");
    ASSERT_TRUE(spaced.bOk);
    EXPECT_EQ(*spaced.root.FindAttr(L"t"), L"one two three");
}

TEST(SkinMarkup, ReportsMistakesWithTheirLine)
{
    struct {
        const char* pszText;
        int nLine;
        const wchar_t* pszReason;
    } kCases[] = {
        {"", 1, L"no element"},
        {"<!-- only a comment -->", 1, L"no element"},
        {"<a>\n<b>\n</a>", 3, L"</a> closes <b>"},
        {"<a>\n  <b/>\n", 3, L"not closed"},
        {"<a x=1/>", 1, L"quoted"},
        {"<a\n x=\"1\" x=\"2\"/>", 2, L"given twice"},
        {"<a x=\"1\"y=\"2\"/>", 1, L"space between"},
        {"<a x=\"&nbsp;\"/>", 1, L"unknown entity"},
        {"<a x=\"&#0;\"/>", 1, L"unknown entity"},
        {"<a x=\"&#xD800;\"/>", 1, L"unknown entity"},
        {"<a x=\"a & b\"/>", 1, L"entity"},
        {"<a x=\"a < b\"/>", 1, L"&lt;"},
        {"<a>\ncaption text\n</a>", 2, L"text=\""},
        {"<a/>\n<b/>", 2, L"second top-level"},
        {"<a>\n<![CDATA[x]]></a>", 2, L"not supported"},
        {"<!DOCTYPE a><a/>", 1, L"not supported"},
        {"<a>\n<!-- open", 2, L"unterminated comment"},
        {"<a x=\"open/>\n", 1, L"unterminated attribute"},
        {"<1a/>", 1, L"element name"},
        {"<a\n", 2, L"unterminated tag"},
        {"<a>\n\n\xE4\xB8\n</a>", 3, L"not valid UTF-8"},
        {"<a x=\"\xC0\xAF\"/>", 1, L"not valid UTF-8"},      // over-long form of '/'
        {"<a x=\"\xED\xA0\x80\"/>", 1, L"not valid UTF-8"},  // a lone surrogate
        {"<a>\n\xE4\xB8", 2, L"not valid UTF-8"},            // cut off at the end
    };
    for (const auto& c : kCases) {
        CParsed parsed = Parse(c.pszText);
        EXPECT_FALSE(parsed.bOk) << c.pszText;
        EXPECT_EQ(parsed.err.nLine, c.nLine) << c.pszText;
        EXPECT_NE(parsed.err.strText.find(c.pszReason), std::wstring::npos)
            << c.pszText << " gave: " << Narrow(parsed.err.strText);
    }
}

TEST(SkinMarkup, RejectsNulAndDeepNestingWithoutCrashing)
{
    CParsed nul = Parse(std::string("<a x=\"1\0\"/>", 11));
    EXPECT_FALSE(nul.bOk);
    EXPECT_NE(nul.err.strText.find(L"NUL"), std::wstring::npos);

    std::string strDeep;
    for (int i = 0; i < 5000; ++i)
        strDeep += "<a>";
    CParsed deep = Parse(strDeep);
    EXPECT_FALSE(deep.bOk);
    EXPECT_NE(deep.err.strText.find(L"nested too deeply"), std::wstring::npos);
}
