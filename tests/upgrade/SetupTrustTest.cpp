// The setup's strong digest and what its signature allows.
#include "upgrade/SetupTrust.h"

#include "TestFolder.h"
#include "win/Handles.h"

#include <softpub.h>

#include <gtest/gtest.h>

#include <algorithm>

namespace {

TEST(SetupTrust, SixtyFourHexDigitsAreASha256ComparedIgnoringCase)
{
    const wchar_t kFoxSha256[] = L"d7a8fbb307d7809469ca9abcb0082e4f8d5651e46d3cdb762d02d0bf37c9e592";
    EXPECT_EQ(DigestFormOf(kFoxSha256), OrderDigestForm::Sha256);
    EXPECT_EQ(DigestFormOf(L"D7A8FBB307D7809469CA9ABCB0082E4F8D5651E46D3CDB762D02D0BF37C9E592"),
              OrderDigestForm::Sha256);
    for (LPCWSTR pszOther :
         {L"9e107d9d372bb6826bd81d3542a419d6", L"", L"d7a8fbb307d7809469ca9abcb0082e4f8d5651e46d3cdb762d02d0bf37c9e59",
          L"d7a8fbb307d7809469ca9abcb0082e4f8d5651e46d3cdb762d02d0bf37c9e5922",
          L"x7a8fbb307d7809469ca9abcb0082e4f8d5651e46d3cdb762d02d0bf37c9e592"})
        EXPECT_EQ(DigestFormOf(pszOther), OrderDigestForm::LibraryMd5) << pszOther;

    CTestFolder folder;
    folder.Write(L"setup.exe", "The quick brown fox jumps over the lazy dog");
    const CKernelHandle file(::CreateFileW(folder.File(L"setup.exe").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(file.IsValid());
    DWORD dwRead = 0;
    char ch = 0;
    ::ReadFile(file.Get(), &ch, 1, &dwRead, nullptr);  // from its start, wherever the handle stands
    const std::wstring strLocal = DigestOfOpenFile(file.Get(), BCRYPT_SHA256_ALGORITHM);
    EXPECT_EQ(strLocal, kFoxSha256);
    EXPECT_TRUE(DigestMatches(strLocal, L"D7A8FBB307D7809469CA9ABCB0082E4F8D5651E46D3CDB762D02D0BF37C9E592"));
    EXPECT_FALSE(DigestMatches(strLocal, L"d7a8fbb307d7809469ca9abcb0082e4f8d5651e46d3cdb762d02d0bf37c9e593"));
    EXPECT_FALSE(DigestMatches(L"", L""));
    // The same routine gives the MD5 that a library's text is checked against.
    EXPECT_EQ(DigestOfOpenFile(file.Get(), BCRYPT_MD5_ALGORITHM), L"9e107d9d372bb6826bd81d3542a419d6");
    EXPECT_FALSE(DigestMatches(L"9e107d9d372bb6826bd81d3542a419d6", kFoxSha256)) << "another length never matches";
}

TEST(SetupTrust, WithoutAPinOnlyTamperingIsRefused)
{
    SETUP_SIGNATURE vendor = {};
    vendor.strOrganization = L"Talvex";
    vendor.strCommonName = L"Talvex Setup";
    vendor.strThumbprint = L"00112233445566778899AABBCCDDEEFF00112233";
    SETUP_SIGNATURE changed = vendor, unsigned_ = {}, notProgram = {}, partial = vendor, expired = vendor,
                    unknownRevocation = vendor;
    changed.lTrust = TRUST_E_BAD_DIGEST;
    unsigned_.lTrust = TRUST_E_NOSIGNATURE;
    notProgram.lTrust = TRUST_E_SUBJECT_FORM_UNKNOWN;
    partial.dwChainStatus = CERT_TRUST_IS_PARTIAL_CHAIN;  // what Wine reports for an unknown root
    expired.dwChainStatus = CERT_TRUST_IS_NOT_TIME_VALID;
    unknownRevocation.dwChainStatus = CERT_TRUST_REVOCATION_STATUS_UNKNOWN | CERT_TRUST_IS_OFFLINE_REVOCATION;

    const SETUP_PIN none;
    SETUP_PIN byName;
    byName.strPublisher = L"Talvex";
    SETUP_PIN byThumbprint;
    byThumbprint.thumbprints = ParseThumbprints(L" 0x00 11 22 33 44 55 66 77 88 99 aa bb cc dd ee ff 00 11 22 33,",
                                                byThumbprint.strUnreadable);
    ASSERT_EQ(byThumbprint.thumbprints.size(), 1u);

    EXPECT_EQ(JudgeSetupSignature(vendor, none), SetupTrust::Verified);
    EXPECT_EQ(JudgeSetupSignature(changed, none), SetupTrust::ChangedAfterSigning);
    EXPECT_EQ(JudgeSetupSignature(changed, byName), SetupTrust::ChangedAfterSigning);
    SETUP_SIGNATURE revoked = vendor, distrusted = vendor;
    revoked.lTrust = CERT_E_REVOKED;
    distrusted.dwChainStatus = CERT_TRUST_IS_EXPLICIT_DISTRUST;
    EXPECT_EQ(JudgeSetupSignature(revoked, none), SetupTrust::Distrusted);
    EXPECT_EQ(JudgeSetupSignature(distrusted, none), SetupTrust::Distrusted);
    const struct {
        const SETUP_SIGNATURE* pSignature;
        LPCWSTR pszCause;
    } unverified[] = {{&unsigned_, L"not signed"},
                      {&notProgram, L"not a program"},
                      {&partial, L"untrusted or partial chain"},
                      {&expired, L"expired"}};
    for (const auto& c : unverified) {
        EXPECT_EQ(JudgeSetupSignature(*c.pSignature, none), SetupTrust::Unverified) << c.pszCause;
        EXPECT_EQ(JudgeSetupSignature(*c.pSignature, byName), SetupTrust::UnverifiedWithPin) << c.pszCause;
        EXPECT_EQ(JudgeSetupSignature(*c.pSignature, byThumbprint), SetupTrust::UnverifiedWithPin) << c.pszCause;
        EXPECT_STREQ(SignatureCauseText(*c.pSignature), c.pszCause);
    }
    EXPECT_EQ(JudgeSetupSignature(unknownRevocation, byName), SetupTrust::Verified) << "revocation is never fetched";

    // The organisation decides; the common name only stands in where there is none.
    EXPECT_EQ(JudgeSetupSignature(vendor, byName), SetupTrust::Verified);
    SETUP_PIN byCommonName;
    byCommonName.strPublisher = L"Talvex Setup";
    EXPECT_EQ(JudgeSetupSignature(vendor, byCommonName), SetupTrust::OtherSigner);
    SETUP_SIGNATURE noOrganization = vendor;
    noOrganization.strOrganization.clear();
    EXPECT_EQ(JudgeSetupSignature(noOrganization, byCommonName), SetupTrust::Verified);
    byName.strPublisher = L"talvex";
    EXPECT_EQ(JudgeSetupSignature(vendor, byName), SetupTrust::OtherSigner) << "names compare exactly";
    EXPECT_EQ(JudgeSetupSignature(vendor, byThumbprint), SetupTrust::Verified);
    vendor.strThumbprint[0] = L'1';
    EXPECT_EQ(JudgeSetupSignature(vendor, byThumbprint), SetupTrust::OtherSigner);

    for (SetupTrust refused : {SetupTrust::ChangedAfterSigning, SetupTrust::UnverifiedWithPin, SetupTrust::OtherSigner})
        EXPECT_FALSE(IsSetupTrusted(refused));
    EXPECT_STREQ(TrustResultName(TRUST_E_BAD_DIGEST), L"TRUST_E_BAD_DIGEST");
}

TEST(SetupTrust, APinThatCannotBeReadMatchesNothing)
{
    const std::wstring a(40, L'a'), b(40, L'b'), sha256(64, L'c');
    std::wstring pairs;
    for (int i = 0; i < 20; ++i)
        pairs += L"Bb ";
    const struct {
        std::wstring strValue;
        std::vector<std::wstring> read;
        std::wstring strUnreadable;
    } cases[] = {
        {L"", {}, L""},
        {sha256, {sha256}, L""},
        {a + L" " + b, {a, b}, L""},
        {L"0x" + a + L" ;\t0X" + b + L",", {a, b}, L""},
        {pairs, {b}, L""},
        {L"aA:aa:aA:aa:aa:aa:aa:aa:aa:aa:aa:aa:aa:aa:aa:aa:aa:aa:aa:aa", {a}, L""},
        {b + L", " + a.substr(1) + L" ,x", {b}, a.substr(1)},
        {a + L" " + b.substr(2), {}, a + L" " + b.substr(2)},
        {sha256 + L"0", {}, sha256 + L"0"},
        {L"0x" + a.substr(2) + L"zz", {}, L"0x" + a.substr(2) + L"zz"},
    };
    SETUP_SIGNATURE vendor = {};
    vendor.strThumbprint = b;
    vendor.strThumbprintSha256 = std::wstring(64, L'C');
    for (const auto& t : cases) {
        SETUP_PIN pin;
        pin.thumbprints = ParseThumbprints(t.strValue, pin.strUnreadable);
        EXPECT_EQ(pin.thumbprints, t.read) << t.strValue.c_str();
        EXPECT_EQ(pin.strUnreadable, t.strUnreadable) << t.strValue.c_str();
        // The certificate's SHA-1 is b, its SHA-256 64 c: either pins it.
        const bool bPinned = std::count(t.read.begin(), t.read.end(), b) || t.read == std::vector<std::wstring>{sha256};
        const SetupTrust expected = !t.strUnreadable.empty() ? SetupTrust::PinUnreadable
                                    : !pin.IsSet()           ? SetupTrust::Verified
                                    : bPinned                ? SetupTrust::Verified
                                                             : SetupTrust::OtherSigner;
        EXPECT_EQ(JudgeSetupSignature(vendor, pin), expected) << t.strValue.c_str();
    }
    vendor.lTrust = TRUST_E_BAD_DIGEST;
    SETUP_PIN pin;
    pin.strUnreadable = L"x";
    EXPECT_EQ(JudgeSetupSignature(vendor, pin), SetupTrust::PinUnreadable) << "whatever the signature";
}

}  // namespace
