#include "tools/upgradectl/FileDigest.h"

#include "NubraSdk/Md5.h"
#include "win/Handles.h"

#include <vector>

namespace {

std::wstring ErrorText(DWORD dwError)
{
    return L"error " + std::to_wstring(dwError);
}

// One SHA-256 computation, fed in pieces; the MD5 stays with the network
// library's own class, whose text the companion compares with.
class CSha256 {
public:
    CSha256()
    {
        BCRYPT_ALG_HANDLE hAlg = nullptr;
        if (::BCryptOpenAlgorithmProvider(&hAlg, BCRYPT_SHA256_ALGORITHM, nullptr, 0) < 0)
            return;
        m_hAlg.Reset(hAlg);
        BCRYPT_HASH_HANDLE hHash = nullptr;
        if (::BCryptCreateHash(m_hAlg.Get(), &hHash, nullptr, 0, nullptr, 0, 0) >= 0)
            m_hHash.Reset(hHash);
    }
    bool IsValid() const { return m_hHash.IsValid(); }
    bool Add(const void* pData, DWORD cbData)
    {
        return m_hHash &&
               ::BCryptHashData(m_hHash.Get(), static_cast<PUCHAR>(const_cast<void*>(pData)), cbData, 0) >= 0;
    }
    // Empty when the computation failed.
    std::wstring Finish()
    {
        BYTE abDigest[32] = {};
        if (!m_hHash || ::BCryptFinishHash(m_hHash.Get(), abDigest, sizeof(abDigest), 0) < 0)
            return std::wstring();
        static const wchar_t kDigits[] = L"0123456789abcdef";
        std::wstring strHex;
        for (BYTE b : abDigest) {
            strHex += kDigits[b >> 4];
            strHex += kDigits[b & 15];
        }
        return strHex;
    }

private:
    CBCryptAlgorithm m_hAlg;
    CBCryptHash m_hHash;  // after its provider, so that it goes first
};

}  // namespace

std::wstring Sha256Text(const void* pData, size_t cbData)
{
    CSha256 sha;
    if (!sha.IsValid() || cbData > 0xFFFFFFFFu || !sha.Add(pData, static_cast<DWORD>(cbData)))
        return std::wstring();
    return sha.Finish();
}

bool DigestSetupFile(const std::wstring& strPath, bool bSha256, std::wstring& strSize, std::wstring& strDigest,
                     std::wstring& strError)
{
    CKernelHandle file(CreateFileW(strPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.IsValid()) {
        strError = L"cannot open \"" + strPath + L"\" (" + ErrorText(GetLastError()) + L")";
        return false;
    }
    LARGE_INTEGER liSize;
    if (!GetFileSizeEx(file.Get(), &liSize)) {
        strError = L"cannot read the size of \"" + strPath + L"\" (" + ErrorText(GetLastError()) + L")";
        return false;
    }
    if (liSize.QuadPart > 0x7FFFFFFF) {
        strError = L"\"" + strPath + L"\" is larger than the 2147483647 bytes an order can carry";
        return false;
    }

    nubra::CMd5 md5;
    CSha256 sha;
    if (bSha256 ? !sha.IsValid() : !md5.IsValid()) {
        strError =
            bSha256 ? L"the system's SHA-256 provider is not available" : L"the system's MD5 provider is not available";
        return false;
    }
    std::vector<BYTE> buffer(1 << 16);
    LONGLONG nTotal = 0;
    for (;;) {
        DWORD cbRead = 0;
        if (!ReadFile(file.Get(), buffer.data(), static_cast<DWORD>(buffer.size()), &cbRead, nullptr)) {
            strError = L"cannot read \"" + strPath + L"\" (" + ErrorText(GetLastError()) + L")";
            return false;
        }
        if (cbRead == 0)
            break;
        if (!(bSha256 ? sha.Add(buffer.data(), cbRead) : md5.Add(buffer.data(), cbRead))) {
            strError = L"the digest computation failed";
            return false;
        }
        nTotal += cbRead;
    }
    if (nTotal != liSize.QuadPart) {
        strError = L"\"" + strPath + L"\" changed while it was read";
        return false;
    }
    std::wstring strHex;
    if (bSha256) {
        strHex = sha.Finish();
    } else {
        wchar_t szHex[33] = {};
        if (md5.Finish(szHex))
            strHex = szHex;
    }
    if (strHex.empty()) {
        strError = L"the digest computation failed";
        return false;
    }
    strDigest = strHex;
    strSize = std::to_wstring(nTotal);
    return true;
}
