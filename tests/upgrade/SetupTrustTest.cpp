// The setup's strong digest and what its signature allows.
#include "upgrade/SetupTrust.h"

#include "TestFolder.h"
#include "win/Handles.h"

#include <softpub.h>

#include <gtest/gtest.h>

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
    const std::wstring strLocal = Sha256OfOpenFile(file.Get());
    EXPECT_EQ(strLocal, kFoxSha256);
    EXPECT_TRUE(Sha256Matches(strLocal, L"D7A8FBB307D7809469CA9ABCB0082E4F8D5651E46D3CDB762D02D0BF37C9E592"));
    EXPECT_FALSE(Sha256Matches(strLocal, L"d7a8fbb307d7809469ca9abcb0082e4f8d5651e46d3cdb762d02d0bf37c9e593"));
    EXPECT_FALSE(Sha256Matches(L"", L""));
}

TEST(SetupTrust, ASignatureAndThePinDecideTogether)
{
    SETUP_SIGNATURE unsigned_ = {};
    unsigned_.lTrust = TRUST_E_NOSIGNATURE;
    SETUP_SIGNATURE vendor = {};
    vendor.strOrganization = L"Talvex";
    vendor.strCommonName = L"Talvex Setup";
    SETUP_SIGNATURE broken = vendor;
    broken.lTrust = TRUST_E_BAD_DIGEST;
    SETUP_SIGNATURE partial = vendor;
    partial.dwChainStatus = CERT_TRUST_IS_PARTIAL_CHAIN;  // what Wine reports for an unknown root
    SETUP_SIGNATURE expired = vendor;
    expired.dwChainStatus = CERT_TRUST_IS_NOT_TIME_VALID;
    SETUP_SIGNATURE unknownRevocation = vendor;
    unknownRevocation.dwChainStatus = CERT_TRUST_REVOCATION_STATUS_UNKNOWN | CERT_TRUST_IS_OFFLINE_REVOCATION;

    EXPECT_EQ(JudgeSetupSignature(unsigned_, L""), SetupTrust::Unsigned);
    EXPECT_EQ(JudgeSetupSignature(unsigned_, L"Talvex"), SetupTrust::UnsignedWithPin);
    EXPECT_EQ(JudgeSetupSignature(vendor, L""), SetupTrust::SignedByPublisher);
    EXPECT_EQ(JudgeSetupSignature(vendor, L"Talvex"), SetupTrust::SignedByPublisher);
    EXPECT_EQ(JudgeSetupSignature(vendor, L"Talvex Setup"), SetupTrust::SignedByPublisher);
    EXPECT_EQ(JudgeSetupSignature(vendor, L"talvex"), SetupTrust::OtherPublisher) << "names compare exactly";
    EXPECT_EQ(JudgeSetupSignature(vendor, L"Another"), SetupTrust::OtherPublisher);
    for (const SETUP_SIGNATURE& bad : {broken, partial, expired}) {
        EXPECT_EQ(JudgeSetupSignature(bad, L""), SetupTrust::BadSignature);
        EXPECT_EQ(JudgeSetupSignature(bad, L"Talvex"), SetupTrust::BadSignature);
    }
    EXPECT_EQ(JudgeSetupSignature(unknownRevocation, L""), SetupTrust::SignedByPublisher)
        << "revocation is never fetched";

    EXPECT_TRUE(IsSetupTrusted(SetupTrust::Unsigned));
    EXPECT_TRUE(IsSetupTrusted(SetupTrust::SignedByPublisher));
    for (SetupTrust refused : {SetupTrust::BadSignature, SetupTrust::UnsignedWithPin, SetupTrust::OtherPublisher})
        EXPECT_FALSE(IsSetupTrusted(refused));
    EXPECT_STREQ(TrustResultName(TRUST_E_BAD_DIGEST), L"TRUST_E_BAD_DIGEST");
    EXPECT_STREQ(TrustResultName(0x12345678), L"");
}

}  // namespace
