// Whether a held setup is the vendor's beyond the order's MD5: a strong
// digest when the order carries one, and the setup's Authenticode signature,
// with an optional pinned publisher or certificate. No window involved.
//
// What the signature check must never stop: a file whose digest matches the
// order, unless the user pinned a publisher or a certificate, or the file
// carries proof of tampering (a signature that does not match its bytes).
// Without a pin an unsigned file passes anyway, so refusing an unknown root,
// an expired certificate or a file that is no program would stop no forgery,
// only the upgrades of machines with an old root store.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// How the order's digest field is checked: 64 hexadecimal digits are the
// file's SHA-256, computed here; any other text (the MD5 form among them)
// goes to the network library's digest, compared exactly, and is then taken
// again here through the held file.
enum class OrderDigestForm { LibraryMd5, Sha256 };
OrderDigestForm DigestFormOf(LPCWSTR pszExpected);

// The digest of an open file by the platform's hash (BCRYPT_MD5_ALGORITHM or
// BCRYPT_SHA256_ALGORITHM), read from its start, as lower-case hexadecimal
// digits; empty when it cannot be read.
std::wstring DigestOfOpenFile(HANDLE hFile, LPCWSTR pszAlgorithm);
// Our own digest against the order's text, ignoring letter case; an empty
// digest never matches.
bool DigestMatches(const std::wstring& strLocal, LPCWSTR pszExpected);

// What the system's verifier says of a file's signature.
struct SETUP_SIGNATURE {
    LONG lTrust = 0;          // WinVerifyTrust's result
    DWORD dwChainStatus = 0;  // the signer's chain's error bits (see IsSignatureValid)
    std::wstring strSubject;  // the signer's certificate, for the log
    std::wstring strOrganization;
    std::wstring strCommonName;
    std::wstring strThumbprint;        // SHA-1 of the signer's certificate, hex
    std::wstring strThumbprintSha256;  // SHA-256 of it, hex; empty when it could not be computed
};
// Through the open file (which must stay the verified one), with the generic
// verify action, no user interface and no revocation fetch over the network.
SETUP_SIGNATURE VerifySetupSignature(HANDLE hFile, LPCWSTR pszPath);

// What the user configured: a publisher (matched against the certificate's
// organisation, or its common name when it has none) and SHA-1 or SHA-256
// thumbprints of exact certificates. All empty: nothing pinned. A
// thumbprint that cannot be read pins too, and matches nothing: a safeguard
// the user configured must not fail open because of a typo.
struct SETUP_PIN {
    std::wstring strPublisher;
    std::vector<std::wstring> thumbprints;  // lower-case hex, 40 or 64 digits, no blanks
    std::wstring strUnreadable;             // the first piece that is no thumbprint, as written
    bool IsSet() const { return !strPublisher.empty() || !thumbprints.empty() || !strUnreadable.empty(); }
};
// The client's config.ini [APP] "SetupPublisher" (else the one the build was
// given) and "SetupPublisherThumbprints" (comma-separated), read only.
SETUP_PIN PinnedSetupSigner();
// "AB CD ..., 0x12..., ab:cd:..." as lower-case hex thumbprints. Commas and
// semicolons separate pieces; within one, blanks separate thumbprints only
// where every part is a whole one (40 or 64 hex digits), otherwise its
// pairs, colons and "0x" make up a single one. The first piece that is no
// thumbprint goes to strUnreadable (trimmed); the others are returned.
std::vector<std::wstring> ParseThumbprints(const std::wstring& strList, std::wstring& strUnreadable);

enum class SetupTrust {
    Verified,             // valid, and the pinned signer's when one is pinned
    Unverified,           // not verified, nothing pinned: logged, the upgrade goes on
    ChangedAfterSigning,  // the signature does not match the bytes: refused, pinned or not
    Distrusted,           // the certificate is revoked or explicitly distrusted on this machine: refused
    UnverifiedWithPin,    // something is pinned and the signature does not verify with its chain
    OtherSigner,          // valid, but not the pinned publisher's or certificate
    PinUnreadable,        // a pinned thumbprint cannot be read: refused whatever the signature, the file kept
};
SetupTrust JudgeSetupSignature(const SETUP_SIGNATURE& signature, const SETUP_PIN& pin);
bool IsSetupTrusted(SetupTrust trust);
LPCWSTR SetupTrustText(SetupTrust trust);
// Why a signature does not verify, in words: "not signed", "not a program",
// "untrusted or partial chain", "expired", "revocation unknown", ...; ""
// when it verifies.
LPCWSTR SignatureCauseText(const SETUP_SIGNATURE& signature);
// "TRUST_E_BAD_DIGEST" and the like, or "" for a code without a name here.
LPCWSTR TrustResultName(LONG lTrust);
