#include "upgrade/SetupTrust.h"

#include "log/Log.h"
#include "win/Handles.h"

#include <softpub.h>
#include <wincrypt.h>
#include <wintrust.h>

#include <cwchar>
#include <cwctype>
#include <vector>

#ifndef SETUP_PUBLISHER_DEFAULT
#define SETUP_PUBLISHER_DEFAULT ""
#endif

namespace {

const wchar_t kPublisherKey[] = L"SetupPublisher";
const wchar_t kThumbprintsKey[] = L"SetupPublisherThumbprints";
const wchar_t kBuildPublisher[] = L"" SETUP_PUBLISHER_DEFAULT;

// A chain may not say whether a certificate was revoked: nothing is
// fetched over the network, by design. Every other error bit fails it.
const DWORD kIgnoredChainBits = CERT_TRUST_REVOCATION_STATUS_UNKNOWN | CERT_TRUST_IS_OFFLINE_REVOCATION;

bool IsHexDigits(LPCWSTR psz, size_t nDigits)
{
    if (!psz || std::wcslen(psz) != nDigits)
        return false;
    for (size_t i = 0; i < nDigits; ++i) {
        if (!std::iswxdigit(psz[i]))
            return false;
    }
    return true;
}

std::wstring HexText(const BYTE* pBytes, size_t cbBytes)
{
    static const wchar_t kDigits[] = L"0123456789abcdef";
    std::wstring strHex;
    for (size_t i = 0; i < cbBytes; ++i) {
        strHex += kDigits[pBytes[i] >> 4];
        strHex += kDigits[pBytes[i] & 15];
    }
    return strHex;
}

std::wstring CertificateName(PCCERT_CONTEXT pCert, DWORD dwType, void* pvType)
{
    wchar_t szName[512] = {};
    ::CertGetNameStringW(pCert, dwType, 0, pvType, szName, ARRAYSIZE(szName));
    return szName;
}

// One run of the system's verifier, closed again however the check ends.
class CTrustCheck {
public:
    CTrustCheck(HANDLE hFile, LPCWSTR pszPath)
    {
        m_file.cbStruct = sizeof(m_file);
        m_file.pcwszFilePath = pszPath;
        m_file.hFile = hFile;
        m_data.cbStruct = sizeof(m_data);
        m_data.dwUIChoice = WTD_UI_NONE;
        m_data.fdwRevocationChecks = WTD_REVOKE_NONE;
        m_data.dwUnionChoice = WTD_CHOICE_FILE;
        m_data.pFile = &m_file;
        m_data.dwStateAction = WTD_STATEACTION_VERIFY;
        m_data.dwProvFlags = WTD_CACHE_ONLY_URL_RETRIEVAL | WTD_REVOCATION_CHECK_NONE;
        m_lResult = ::WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE) /* no UI */, &m_action, &m_data);
    }
    ~CTrustCheck()
    {
        m_data.dwStateAction = WTD_STATEACTION_CLOSE;
        ::WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &m_action, &m_data);
    }
    CTrustCheck(const CTrustCheck&) = delete;
    CTrustCheck& operator=(const CTrustCheck&) = delete;

    LONG Result() const { return m_lResult; }
    // The signer's certificate and its chain's status, when the verifier built one.
    PCCERT_CONTEXT Signer(DWORD* pdwChainStatus) const
    {
        CRYPT_PROVIDER_DATA* pProvider = ::WTHelperProvDataFromStateData(m_data.hWVTStateData);
        CRYPT_PROVIDER_SGNR* pSigner = pProvider ? ::WTHelperGetProvSignerFromChain(pProvider, 0, FALSE, 0) : nullptr;
        if (!pSigner)
            return nullptr;
        *pdwChainStatus = pSigner->pChainContext ? pSigner->pChainContext->TrustStatus.dwErrorStatus : 0;
        CRYPT_PROVIDER_CERT* pCert = ::WTHelperGetProvCertFromChain(pSigner, 0);
        return pCert ? pCert->pCert : nullptr;
    }

private:
    GUID m_action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    WINTRUST_FILE_INFO m_file = {};
    WINTRUST_DATA m_data = {};
    LONG m_lResult = 0;
};

}  // namespace

OrderDigestForm DigestFormOf(LPCWSTR pszExpected)
{
    return IsHexDigits(pszExpected, 64) ? OrderDigestForm::Sha256 : OrderDigestForm::LibraryMd5;
}

std::wstring DigestOfOpenFile(HANDLE hFile, LPCWSTR pszAlgorithm)
{
    BCRYPT_ALG_HANDLE hAlgOpened = nullptr;
    if (::BCryptOpenAlgorithmProvider(&hAlgOpened, pszAlgorithm, nullptr, 0) < 0)
        return std::wstring();
    const CBCryptAlgorithm hAlg(hAlgOpened);
    DWORD cbDigest = 0, cbResult = 0;
    if (::BCryptGetProperty(hAlg.Get(), BCRYPT_HASH_LENGTH, reinterpret_cast<PUCHAR>(&cbDigest), sizeof(cbDigest),
                            &cbResult, 0) < 0 ||
        cbDigest == 0 || cbDigest > 64)
        return std::wstring();
    BCRYPT_HASH_HANDLE hHashOpened = nullptr;
    if (::BCryptCreateHash(hAlg.Get(), &hHashOpened, nullptr, 0, nullptr, 0, 0) < 0)
        return std::wstring();
    const CBCryptHash hHash(hHashOpened);

    LARGE_INTEGER start = {};
    if (!::SetFilePointerEx(hFile, start, nullptr, FILE_BEGIN))
        return std::wstring();
    std::vector<BYTE> block(1024 * 1024);
    for (;;) {
        DWORD cbRead = 0;
        if (!::ReadFile(hFile, block.data(), static_cast<DWORD>(block.size()), &cbRead, nullptr))
            return std::wstring();
        if (cbRead == 0)
            break;
        if (::BCryptHashData(hHash.Get(), block.data(), cbRead, 0) < 0)
            return std::wstring();
    }
    BYTE abDigest[64] = {};
    if (::BCryptFinishHash(hHash.Get(), abDigest, cbDigest, 0) < 0)
        return std::wstring();
    return HexText(abDigest, cbDigest);
}

bool DigestMatches(const std::wstring& strLocal, LPCWSTR pszExpected)
{
    return !strLocal.empty() && IsHexDigits(pszExpected, strLocal.size()) &&
           _wcsicmp(strLocal.c_str(), pszExpected) == 0;
}

SETUP_SIGNATURE VerifySetupSignature(HANDLE hFile, LPCWSTR pszPath)
{
    SETUP_SIGNATURE signature;
    // The verifier reads through the handle; it starts where the file does.
    LARGE_INTEGER start = {};
    ::SetFilePointerEx(hFile, start, nullptr, FILE_BEGIN);
    const CTrustCheck check(hFile, pszPath);
    signature.lTrust = check.Result();
    if (PCCERT_CONTEXT pCert = check.Signer(&signature.dwChainStatus)) {
        DWORD dwNameForm = CERT_X500_NAME_STR;  // "O=..., CN=...", the labels included
        signature.strSubject = CertificateName(pCert, CERT_NAME_RDN_TYPE, &dwNameForm);
        signature.strOrganization =
            CertificateName(pCert, CERT_NAME_ATTR_TYPE, const_cast<char*>(szOID_ORGANIZATION_NAME));
        signature.strCommonName = CertificateName(pCert, CERT_NAME_ATTR_TYPE, const_cast<char*>(szOID_COMMON_NAME));
        BYTE abThumbprint[32] = {};
        DWORD cbThumbprint = 20;
        if (::CertGetCertificateContextProperty(pCert, CERT_SHA1_HASH_PROP_ID, abThumbprint, &cbThumbprint))
            signature.strThumbprint = HexText(abThumbprint, cbThumbprint);
        // Not every system keeps this one as a property: hashed here.
        cbThumbprint = sizeof(abThumbprint);
        if (::CryptHashCertificate2(BCRYPT_SHA256_ALGORITHM, 0, nullptr, pCert->pbCertEncoded, pCert->cbCertEncoded,
                                    abThumbprint, &cbThumbprint) &&
            cbThumbprint == sizeof(abThumbprint))
            signature.strThumbprintSha256 = HexText(abThumbprint, cbThumbprint);
    }
    ::SetFilePointerEx(hFile, start, nullptr, FILE_BEGIN);
    return signature;
}

namespace {

const wchar_t kBlanks[] = L" \t\r\n\v\f";

bool IsThumbprint(const std::wstring& str)
{
    return IsHexDigits(str.c_str(), 40) || IsHexDigits(str.c_str(), 64);
}

// One piece between separators into thumbprints; false when it is none.
bool ReadThumbprintPiece(const std::wstring& strPiece, std::vector<std::wstring>& thumbprints)
{
    std::vector<std::wstring> parts(1);
    for (const wchar_t ch : strPiece) {
        if (std::wcschr(kBlanks, ch)) {
            if (!parts.back().empty())
                parts.emplace_back();
        } else if (ch != L':') {
            parts.back() += static_cast<wchar_t>(std::towlower(ch));
        }
    }
    std::wstring strJoined;
    bool bAllWhole = true;
    for (std::wstring& strPart : parts) {
        if (strPart.size() > 2 && strPart.compare(0, 2, L"0x") == 0)
            strPart.erase(0, 2);
        bAllWhole = bAllWhole && IsThumbprint(strPart);
        strJoined += strPart;
    }
    if (bAllWhole) {
        thumbprints.insert(thumbprints.end(), parts.begin(), parts.end());
        return true;
    }
    if (!IsThumbprint(strJoined))
        return false;
    thumbprints.push_back(strJoined);
    return true;
}

}  // namespace

std::vector<std::wstring> ParseThumbprints(const std::wstring& strList, std::wstring& strUnreadable)
{
    std::vector<std::wstring> thumbprints;
    strUnreadable.clear();
    size_t nStart = 0;
    for (size_t i = 0; i <= strList.size(); ++i) {
        if (i < strList.size() && strList[i] != L',' && strList[i] != L';')
            continue;
        const std::wstring strPiece = strList.substr(nStart, i - nStart);
        nStart = i + 1;
        const size_t nFirst = strPiece.find_first_not_of(kBlanks);
        if (nFirst == std::wstring::npos)
            continue;  // an empty piece, as after a trailing comma
        const std::wstring strTrimmed = strPiece.substr(nFirst, strPiece.find_last_not_of(kBlanks) + 1 - nFirst);
        if (!ReadThumbprintPiece(strTrimmed, thumbprints) && strUnreadable.empty())
            strUnreadable = strTrimmed;
    }
    return thumbprints;
}

SETUP_PIN PinnedSetupSigner()
{
    SETUP_PIN pin;
    if (!GetConfigValue(kPublisherKey, kClientConfigSection, pin.strPublisher) || pin.strPublisher.empty())
        pin.strPublisher = kBuildPublisher;
    std::wstring strThumbprints;
    if (GetConfigValue(kThumbprintsKey, kClientConfigSection, strThumbprints))
        pin.thumbprints = ParseThumbprints(strThumbprints, pin.strUnreadable);
    return pin;
}

SetupTrust JudgeSetupSignature(const SETUP_SIGNATURE& signature, const SETUP_PIN& pin)
{
    // The user asked for a certificate that cannot be told: nothing can be
    // that one, and the setup is no proof of anything either way.
    if (!pin.strUnreadable.empty())
        return SetupTrust::PinUnreadable;
    // Proof that the bytes changed after signing; refused whatever is pinned.
    if (signature.lTrust == TRUST_E_BAD_DIGEST)
        return SetupTrust::ChangedAfterSigning;
    // What this machine's administrator or its stores say of the certificate
    // is configuration too, like a pin.
    if (signature.lTrust == CERT_E_REVOKED || signature.lTrust == TRUST_E_EXPLICIT_DISTRUST ||
        (signature.dwChainStatus & (CERT_TRUST_IS_REVOKED | CERT_TRUST_IS_EXPLICIT_DISTRUST)))
        return SetupTrust::Distrusted;
    // Windows refuses a broken chain itself; Wine reports it only in the
    // chain's status, which is read here so that both judge alike.
    const bool bVerified = signature.lTrust == 0 && (signature.dwChainStatus & ~kIgnoredChainBits) == 0;
    if (!pin.IsSet())
        return bVerified ? SetupTrust::Verified : SetupTrust::Unverified;
    if (!bVerified)
        return SetupTrust::UnverifiedWithPin;
    // The common name stands in only for a certificate without an organisation.
    const std::wstring& strName =
        signature.strOrganization.empty() ? signature.strCommonName : signature.strOrganization;
    if (!pin.strPublisher.empty() && strName != pin.strPublisher)
        return SetupTrust::OtherSigner;
    if (!pin.thumbprints.empty()) {
        std::wstring strSha1 = signature.strThumbprint, strSha256 = signature.strThumbprintSha256;
        for (std::wstring* p : {&strSha1, &strSha256})
            for (wchar_t& ch : *p)
                ch = static_cast<wchar_t>(std::towlower(ch));
        bool bPinned = false;
        for (const std::wstring& strPinned : pin.thumbprints)
            bPinned = bPinned || strPinned == (strPinned.size() == 64 ? strSha256 : strSha1);
        if (!bPinned)
            return SetupTrust::OtherSigner;
    }
    return SetupTrust::Verified;
}

bool IsSetupTrusted(SetupTrust trust)
{
    return trust == SetupTrust::Verified || trust == SetupTrust::Unverified;
}

LPCWSTR SetupTrustText(SetupTrust trust)
{
    switch (trust) {
    case SetupTrust::Verified:
        return L"signed and verified";
    case SetupTrust::Unverified:
        return L"signature not verified";
    case SetupTrust::ChangedAfterSigning:
        return L"changed after signing";
    case SetupTrust::Distrusted:
        return L"revoked or distrusted certificate";
    case SetupTrust::UnverifiedWithPin:
        return L"signature does not verify, and a signer is pinned";
    case SetupTrust::OtherSigner:
        return L"signed by another publisher or certificate than the pinned one";
    case SetupTrust::PinUnreadable:
        return L"a pinned thumbprint cannot be read";
    }
    return L"unknown";
}

LPCWSTR SignatureCauseText(const SETUP_SIGNATURE& signature)
{
    switch (static_cast<HRESULT>(signature.lTrust)) {
    case 0:
        break;
    case TRUST_E_NOSIGNATURE:
        return L"not signed";
    case TRUST_E_SUBJECT_FORM_UNKNOWN:
    case TRUST_E_PROVIDER_UNKNOWN:
        return L"not a program";
    case TRUST_E_BAD_DIGEST:
        return L"changed after signing";
    case CERT_E_EXPIRED:
        return L"expired";
    case CERT_E_CHAINING:
    case CERT_E_UNTRUSTEDROOT:
        return L"untrusted or partial chain";
    case CERT_E_REVOKED:
        return L"revoked";
    case CERT_E_REVOCATION_FAILURE:
        return L"revocation unknown";
    default:
        return L"does not verify";
    }
    const DWORD dwStatus = signature.dwChainStatus;
    if (dwStatus & (CERT_TRUST_IS_UNTRUSTED_ROOT | CERT_TRUST_IS_PARTIAL_CHAIN))
        return L"untrusted or partial chain";
    if (dwStatus & (CERT_TRUST_IS_NOT_TIME_VALID | CERT_TRUST_CTL_IS_NOT_TIME_VALID))
        return L"expired";
    if (dwStatus & CERT_TRUST_IS_REVOKED)
        return L"revoked";
    if (dwStatus & ~kIgnoredChainBits)
        return L"broken chain";
    if (dwStatus & kIgnoredChainBits)
        return L"revocation unknown";
    return L"";
}

LPCWSTR TrustResultName(LONG lTrust)
{
    switch (static_cast<HRESULT>(lTrust)) {
    case 0:
        return L"ERROR_SUCCESS";
    case TRUST_E_NOSIGNATURE:
        return L"TRUST_E_NOSIGNATURE";
    case TRUST_E_BAD_DIGEST:
        return L"TRUST_E_BAD_DIGEST";
    case TRUST_E_SUBJECT_NOT_TRUSTED:
        return L"TRUST_E_SUBJECT_NOT_TRUSTED";
    case TRUST_E_EXPLICIT_DISTRUST:
        return L"TRUST_E_EXPLICIT_DISTRUST";
    case TRUST_E_SUBJECT_FORM_UNKNOWN:
        return L"TRUST_E_SUBJECT_FORM_UNKNOWN";
    case TRUST_E_PROVIDER_UNKNOWN:
        return L"TRUST_E_PROVIDER_UNKNOWN";
    case CERT_E_EXPIRED:
        return L"CERT_E_EXPIRED";
    case CERT_E_CHAINING:
        return L"CERT_E_CHAINING";
    case CERT_E_UNTRUSTEDROOT:
        return L"CERT_E_UNTRUSTEDROOT";
    case CERT_E_REVOKED:
        return L"CERT_E_REVOKED";
    case CERT_E_REVOCATION_FAILURE:
        return L"CERT_E_REVOCATION_FAILURE";
    case CERT_E_WRONG_USAGE:
        return L"CERT_E_WRONG_USAGE";
    case CRYPT_E_SECURITY_SETTINGS:
        return L"CRYPT_E_SECURITY_SETTINGS";
    default:
        return L"";
    }
}
