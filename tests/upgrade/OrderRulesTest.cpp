// What an arriving order must hold before the window acts on it.
#include "upgrade/OrderRules.h"

#include <gtest/gtest.h>

#include <cwchar>

namespace {

UPGRADE_COMM Order(LPCWSTR pszUrl, LPCWSTR pszVersion)
{
    UPGRADE_COMM st = {};
    wcscpy(st.szURL, pszUrl);
    wcscpy(st.szVersion, pszVersion);
    wcscpy(st.szSize, L"1024");
    wcscpy(st.szMD5, L"9e107d9d372bb6826bd81d3542a419d6");
    wcscpy(st.szUpgradeType, L"9434");
    return st;
}

TEST(OrderRules, ControlCharactersInAnyReadFieldAreFound)
{
    UPGRADE_COMM st = Order(L"http://h/S.exe", L"5.2");
    EXPECT_EQ(FindControlCharacterField(st), nullptr);

    // Non-ASCII text is no control character.
    wcscpy(st.szVersion, L"5.2 \u4e0d\u518d\u63d0\u9192 \u00e9");
    EXPECT_EQ(FindControlCharacterField(st), nullptr);

    const struct {
        wchar_t* pszField;
        LPCWSTR pszName;
    } fields[] = {{st.szVersion, L"szVersion"},
                  {st.szURL, L"szURL"},
                  {st.szSize, L"szSize"},
                  {st.szMD5, L"szMD5"},
                  {st.szUpgradeType, L"szUpgradeType"}};
    for (const auto& field : fields) {
        for (wchar_t ch : {L'\r', L'\n', L'\t', L'\x01', L'\x1f', L'\x7f', L'\x85', L'\x9f'}) {
            const std::wstring strSaved = field.pszField;
            field.pszField[1] = ch;
            LPCWSTR pszFound = FindControlCharacterField(st);
            ASSERT_NE(pszFound, nullptr) << field.pszName << " with " << static_cast<int>(ch);
            EXPECT_STREQ(pszFound, field.pszName);
            wcscpy(field.pszField, strSaved.c_str());
        }
    }

    // The parts the receiver does not read may hold anything.
    st.szFileName[0] = L'\n';
    st.szReserved[0] = L'\r';
    EXPECT_EQ(FindControlCharacterField(st), nullptr);
}

TEST(OrderRules, FieldsEndAtTheirLastUnitAndSameOrderMeansTheReadFields)
{
    UPGRADE_COMM st;
    std::wmemset(reinterpret_cast<wchar_t*>(&st), L'x', sizeof(st) / sizeof(wchar_t));
    TerminateOrderFields(st);
    EXPECT_EQ(wcslen(st.szVersion), 259u);
    EXPECT_EQ(wcslen(st.szUpgradeType), 259u);

    const UPGRADE_COMM a = Order(L"http://h/S.exe", L"5.2");
    UPGRADE_COMM b = a;
    EXPECT_TRUE(IsSameOrder(a, 0, b, 0));
    EXPECT_FALSE(IsSameOrder(a, 0, b, 1));
    wcscpy(b.szFileName, L"other.exe");  // replaced by the receiver anyway
    b.bReserved = 7;
    EXPECT_TRUE(IsSameOrder(a, 1, b, 1));
    for (wchar_t* pszField : {b.szVersion, b.szURL, b.szSize, b.szMD5, b.szUpgradeType}) {
        UPGRADE_COMM c = b;
        wchar_t* pszInC = reinterpret_cast<wchar_t*>(&c) + (pszField - reinterpret_cast<wchar_t*>(&b));
        pszInC[0] = L'#';
        EXPECT_FALSE(IsSameOrder(a, 0, c, 0)) << "field at " << (pszField - reinterpret_cast<wchar_t*>(&b));
    }
}

}  // namespace
