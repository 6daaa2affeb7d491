// Whether a held setup is the vendor's beyond the order's MD5: a strong
// digest when the order carries one, and the setup's Authenticode signature,
// with an optional pinned publisher. No window involved.
#pragma once

#include <windows.h>

#include <string>

// How the order's digest field is checked: 64 hexadecimal digits are the
// file's SHA-256, computed here and compared ignoring letter case; any other
// text (the MD5 form among them) goes to the network library's digest and is
// compared exactly.
enum class OrderDigestForm { LibraryMd5, Sha256 };
OrderDigestForm DigestFormOf(LPCWSTR pszExpected);

// The SHA-256 of an open file, read from its start, as 64 lower-case
// hexadecimal digits; empty when it cannot be read.
std::wstring Sha256OfOpenFile(HANDLE hFile);
bool Sha256Matches(const std::wstring& strLocal, LPCWSTR pszExpected);

// What the system's verifier says of a file's signature.
struct SETUP_SIGNATURE {
    LONG lTrust = 0;          // WinVerifyTrust's result
    DWORD dwChainStatus = 0;  // the signer's chain's error bits (see IsSignatureValid)
    std::wstring strSubject;  // the signer's certificate, for the log
    std::wstring strOrganization;
    std::wstring strCommonName;
    std::wstring strThumbprint;  // SHA-1 of the signer's certificate, hex
};
// Through the open file (which must stay the verified one), with the generic
// verify action, no user interface and no revocation fetch over the network.
SETUP_SIGNATURE VerifySetupSignature(HANDLE hFile, LPCWSTR pszPath);

// What may follow from a signature and the pinned publisher (empty: none).
enum class SetupTrust {
    SignedByPublisher,  // valid, and by the pinned publisher when one is set
    Unsigned,           // no signature and no pin: as before signatures were checked
    BadSignature,       // signed, but it does not verify (a changed byte, a broken chain, expired)
    UnsignedWithPin,    // a publisher is pinned and the file carries no signature
    OtherPublisher,     // valid, but neither its organisation nor its common name is the pinned one
};
SetupTrust JudgeSetupSignature(const SETUP_SIGNATURE& signature, const std::wstring& strPinnedPublisher);
bool IsSetupTrusted(SetupTrust trust);
LPCWSTR SetupTrustText(SetupTrust trust);
// "TRUST_E_BAD_DIGEST" and the like, or "" for a code without a name here.
LPCWSTR TrustResultName(LONG lTrust);

// The publisher the setup must be signed by: the client's config.ini [APP]
// "SetupPublisher" (read only), else the one the build was given; empty: none.
std::wstring PinnedSetupPublisher();
