#include "tools/upgradectl/FileDigest.h"

#include "win/Handles.h"

#include <wincrypt.h>

#include <vector>

namespace {

// One MD5 computation of the system's crypto provider.
class CMd5 {
public:
    CMd5() {
        if (CryptAcquireContextW(&m_hProv, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT)) {
            if (!CryptCreateHash(m_hProv, CALG_MD5, 0, 0, &m_hHash)) m_hHash = 0;
        }
    }
    ~CMd5() {
        if (m_hHash) CryptDestroyHash(m_hHash);
        if (m_hProv) CryptReleaseContext(m_hProv, 0);
    }
    CMd5(const CMd5&) = delete;
    CMd5& operator=(const CMd5&) = delete;

    bool Valid() const { return m_hHash != 0; }
    bool Add(const void* pData, DWORD cbData) {
        return CryptHashData(m_hHash, static_cast<const BYTE*>(pData), cbData, 0) != FALSE;
    }
    std::wstring HexText() {
        BYTE abDigest[16];
        DWORD cbDigest = sizeof(abDigest);
        if (!CryptGetHashParam(m_hHash, HP_HASHVAL, abDigest, &cbDigest, 0) || cbDigest != sizeof(abDigest)) {
            return std::wstring();
        }
        static const wchar_t kDigits[] = L"0123456789abcdef";
        std::wstring strText;
        for (BYTE b : abDigest) {
            strText += kDigits[b >> 4];
            strText += kDigits[b & 0x0F];
        }
        return strText;
    }

private:
    HCRYPTPROV m_hProv = 0;
    HCRYPTHASH m_hHash = 0;
};

std::wstring ErrorText(DWORD dwError) {
    return L"error " + std::to_wstring(dwError);
}

}  // namespace

std::wstring Md5Text(const void* pData, size_t cbData) {
    CMd5 md5;
    if (!md5.Valid() || !md5.Add(pData, static_cast<DWORD>(cbData))) return std::wstring();
    return md5.HexText();
}

bool DigestSetupFile(const std::wstring& strPath, std::wstring& strSize, std::wstring& strMD5,
                     std::wstring& strError) {
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

    CMd5 md5;
    if (!md5.Valid()) {
        strError = L"the system's MD5 provider is not available";
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
        if (cbRead == 0) break;
        if (!md5.Add(buffer.data(), cbRead)) {
            strError = L"the MD5 computation failed";
            return false;
        }
        nTotal += cbRead;
    }
    if (nTotal != liSize.QuadPart) {
        strError = L"\"" + strPath + L"\" changed while it was read";
        return false;
    }
    strMD5 = md5.HexText();
    if (strMD5.empty()) {
        strError = L"the MD5 computation failed";
        return false;
    }
    strSize = std::to_wstring(nTotal);
    return true;
}
