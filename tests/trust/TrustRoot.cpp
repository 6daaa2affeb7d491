// The test bed's side of code signing: puts a throwaway root certificate
// into the prefix's trusted roots (and takes it out again), and asks the
// system's verifier about a signed file the way the companion asks it, so
// that the signing kit's tests see the codes the companion will see.
//
//   TrustRoot add <cert.der> [--machine]     into the ROOT store of the
//   TrustRoot remove <cert.der> [--machine]  current user (or local machine)
//   TrustRoot has <cert.der> [--machine]     exit 0 when it is there, else 1
//   TrustRoot verify <file>                  WinVerifyTrust, prints
//       result=0x........   the verifier's answer (0: signed and valid)
//       chain=0x........    the signer chain's error bits (0x20: untrusted root)
//       organization=...    the signer's O and CN, when there is a signer
//       commonname=...
//
// Exit codes: 0 done (verify: result 0), 1 verify: not trusted (has: not
// there), 2 usage, 3 any other failure. Output is UTF-8.
//
// Meant for Wine test beds: on Windows, adding to the current user's roots
// asks the user first.
#include <windows.h>
#include <wincrypt.h>
#include <wintrust.h>
#include <softpub.h>

#include <stdio.h>

#include <string>
#include <vector>

#include "win/Handles.h"

namespace {

// The two crypt handle kinds only this helper uses.
struct CertStoreTraits : NullMeansNone<HCERTSTORE> {
    static void Close(HCERTSTORE h) { ::CertCloseStore(h, 0); }
};
using CCertStore = CUniqueHandle<CertStoreTraits>;

struct CertContextTraits : NullMeansNone<PCCERT_CONTEXT> {
    static void Close(PCCERT_CONTEXT h) { ::CertFreeCertificateContext(h); }
};
using CCertContext = CUniqueHandle<CertContextTraits>;

enum { EXIT_DONE = 0, EXIT_NO = 1, EXIT_USAGE = 2, EXIT_FAILED = 3 };

void PrintUtf8(const std::wstring& strText)
{
    const int n = WideCharToMultiByte(CP_UTF8, 0, strText.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string strOut(n > 0 ? n : 1, '\0');
    if (n > 0)
        WideCharToMultiByte(CP_UTF8, 0, strText.c_str(), -1, &strOut[0], n, nullptr, nullptr);
    fputs(strOut.c_str(), stdout);
}

int Fail(const wchar_t* pszWhat, const std::wstring& strArg)
{
    const DWORD dwError = GetLastError();
    fwprintf(stderr, L"TrustRoot: %ls %ls failed (error 0x%08lx)\n", pszWhat, strArg.c_str(), dwError);
    return EXIT_FAILED;
}

bool ReadWholeFile(const std::wstring& strPath, std::vector<BYTE>& data)
{
    CKernelHandle file(CreateFileW(strPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size = {};
    // A certificate is a few kilobytes; anything far larger is no certificate.
    if (!file || !GetFileSizeEx(file.Get(), &size) || size.QuadPart <= 0 || size.QuadPart > 1024 * 1024)
        return false;
    data.resize(static_cast<size_t>(size.QuadPart));
    DWORD cbRead = 0;
    return ReadFile(file.Get(), data.data(), static_cast<DWORD>(data.size()), &cbRead, nullptr) &&
           cbRead == data.size();
}

int StoreCommand(const std::wstring& strCommand, const std::wstring& strCertPath, bool bMachine)
{
    std::vector<BYTE> der;
    if (!ReadWholeFile(strCertPath, der))
        return Fail(L"reading", strCertPath);
    CCertContext cert(CertCreateCertificateContext(X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size())));
    if (!cert)
        return Fail(L"decoding the certificate", strCertPath);
    const DWORD dwLocation = bMachine ? CERT_SYSTEM_STORE_LOCAL_MACHINE : CERT_SYSTEM_STORE_CURRENT_USER;
    // The ROOT store's registry part itself: through the system store, which
    // joins several stores, Wine 8 reports a deletion done and forgets it.
    CCertStore store(
        CertOpenStore(CERT_STORE_PROV_SYSTEM_REGISTRY_W, 0, 0 /* default provider */, dwLocation, L"ROOT"));
    if (!store)
        return Fail(L"opening the ROOT store for", strCertPath);

    if (strCommand == L"add") {
        if (!CertAddEncodedCertificateToStore(store.Get(), X509_ASN_ENCODING, der.data(),
                                              static_cast<DWORD>(der.size()), CERT_STORE_ADD_REPLACE_EXISTING, nullptr))
            return Fail(L"adding", strCertPath);
        return EXIT_DONE;
    }
    CCertContext found(
        CertFindCertificateInStore(store.Get(), X509_ASN_ENCODING, 0, CERT_FIND_EXISTING, cert.Get(), nullptr));
    if (strCommand == L"has")
        return found ? EXIT_DONE : EXIT_NO;
    if (!found)
        return EXIT_DONE;  // removing what is not there leaves the store as wanted
    // CertDeleteCertificateFromStore frees the context it is given, even on failure.
    if (!CertDeleteCertificateFromStore(found.Release()))
        return Fail(L"removing", strCertPath);
    return EXIT_DONE;
}

std::wstring NameAttribute(PCCERT_CONTEXT pCert, const char* pszOid)
{
    wchar_t szName[512] = {};
    CertGetNameStringW(pCert, CERT_NAME_ATTR_TYPE, 0, const_cast<char*>(pszOid), szName, ARRAYSIZE(szName));
    return szName;
}

// Asks the verifier as the companion does: through the open file's handle,
// generic verify action, no UI, no revocation check, nothing fetched.
int Verify(const std::wstring& strPath)
{
    CKernelHandle file(CreateFileW(strPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return Fail(L"opening", strPath);

    WINTRUST_FILE_INFO fileInfo = {};
    fileInfo.cbStruct = sizeof(fileInfo);
    fileInfo.pcwszFilePath = strPath.c_str();
    fileInfo.hFile = file.Get();
    WINTRUST_DATA data = {};
    data.cbStruct = sizeof(data);
    data.dwUIChoice = WTD_UI_NONE;
    data.fdwRevocationChecks = WTD_REVOKE_NONE;
    data.dwUnionChoice = WTD_CHOICE_FILE;
    data.pFile = &fileInfo;
    data.dwStateAction = WTD_STATEACTION_VERIFY;
    data.dwProvFlags = WTD_CACHE_ONLY_URL_RETRIEVAL;
    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    const LONG lResult = WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);

    wchar_t szLine[64];
    swprintf(szLine, ARRAYSIZE(szLine), L"result=0x%08lx\n", static_cast<unsigned long>(lResult));
    std::wstring strOut = szLine;
    CRYPT_PROVIDER_DATA* pProvider = WTHelperProvDataFromStateData(data.hWVTStateData);
    CRYPT_PROVIDER_SGNR* pSigner = pProvider ? WTHelperGetProvSignerFromChain(pProvider, 0, FALSE, 0) : nullptr;
    if (pSigner && pSigner->pChainContext) {
        swprintf(szLine, ARRAYSIZE(szLine), L"chain=0x%08lx\n",
                 static_cast<unsigned long>(pSigner->pChainContext->TrustStatus.dwErrorStatus));
        strOut += szLine;
    }
    if (pSigner && pSigner->csCertChain > 0 && pSigner->pasCertChain && pSigner->pasCertChain[0].pCert) {
        PCCERT_CONTEXT pCert = pSigner->pasCertChain[0].pCert;
        strOut += L"organization=" + NameAttribute(pCert, szOID_ORGANIZATION_NAME) + L"\n";
        strOut += L"commonname=" + NameAttribute(pCert, szOID_COMMON_NAME) + L"\n";
    }
    data.dwStateAction = WTD_STATEACTION_CLOSE;
    WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);

    PrintUtf8(strOut);
    return lResult == 0 ? EXIT_DONE : EXIT_NO;
}

int Usage()
{
    fwprintf(stderr,
             L"usage: TrustRoot add|remove|has <cert.der> [--machine]\n"
             L"       TrustRoot verify <file>\n");
    return EXIT_USAGE;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 3)
        return Usage();
    const std::wstring strCommand = argv[1];
    if (strCommand == L"verify")
        return argc == 3 ? Verify(argv[2]) : Usage();
    if (strCommand != L"add" && strCommand != L"remove" && strCommand != L"has")
        return Usage();
    const bool bMachine = argc == 4 && std::wstring(argv[3]) == L"--machine";
    if (argc > 4 || (argc == 4 && !bMachine))
        return Usage();
    return StoreCommand(strCommand, argv[2], bMachine);
}
