// MD5 digest of a file, as the client writes its checksum: 32 lower-case
// hexadecimal digits. The program compares the two texts exactly, so the
// client must send its szMD5 in this same form.
#include "NubraSdk/Md5.h"

#include <vector>

namespace nubra {

namespace {

constexpr DWORD kBlockBytes = 1024 * 1024;

bool Succeeded(NTSTATUS status)
{
    return status >= 0;
}

}  // namespace

CMd5::CMd5()
{
    BCRYPT_ALG_HANDLE hAlg = nullptr;
    if (!Succeeded(::BCryptOpenAlgorithmProvider(&hAlg, BCRYPT_MD5_ALGORITHM, nullptr, 0)))
        return;
    m_hAlg.Reset(hAlg);
    BCRYPT_HASH_HANDLE hHash = nullptr;
    if (Succeeded(::BCryptCreateHash(m_hAlg.Get(), &hHash, nullptr, 0, nullptr, 0, 0)))
        m_hHash.Reset(hHash);
}

bool CMd5::Add(const void* pData, DWORD cbData)
{
    return m_hHash &&
           Succeeded(::BCryptHashData(m_hHash.Get(), static_cast<PUCHAR>(const_cast<void*>(pData)), cbData, 0));
}

bool CMd5::Finish(wchar_t (&szHex)[33])
{
    szHex[0] = L'\0';
    BYTE abDigest[16] = {};
    if (!m_hHash || !Succeeded(::BCryptFinishHash(m_hHash.Get(), abDigest, sizeof(abDigest), 0)))
        return false;
    static const wchar_t kDigits[] = L"0123456789abcdef";
    for (int i = 0; i < 16; ++i) {
        szHex[2 * i] = kDigits[abDigest[i] >> 4];
        szHex[2 * i + 1] = kDigits[abDigest[i] & 15];
    }
    szHex[32] = L'\0';
    return true;
}

bool Md5OfFile(const std::wstring& strPath, wchar_t (&szHex)[33])
{
    szHex[0] = L'\0';
    CKernelHandle hFile(::CreateFileW(strPath.c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!hFile)
        return false;
    return Md5OfOpenFile(hFile.Get(), szHex);
}

bool Md5OfOpenFile(HANDLE hFile, wchar_t (&szHex)[33])
{
    szHex[0] = L'\0';
    // The whole file, wherever an earlier reader left the position.
    LARGE_INTEGER liStart = {};
    if (!::SetFilePointerEx(hFile, liStart, nullptr, FILE_BEGIN))
        return false;
    CMd5 md5;
    if (!md5.IsValid())
        return false;

    std::vector<BYTE> block(kBlockBytes);
    for (;;) {
        DWORD dwRead = 0;
        if (!::ReadFile(hFile, block.data(), kBlockBytes, &dwRead, nullptr))
            return false;
        if (dwRead == 0)
            break;
        if (!md5.Add(block.data(), dwRead))
            return false;
    }
    return md5.Finish(szHex);
}

std::wstring Md5Text(const void* pData, size_t cbData)
{
    CMd5 md5;
    wchar_t szHex[33] = {};
    if (!md5.IsValid() || !md5.Add(pData, static_cast<DWORD>(cbData)) || !md5.Finish(szHex))
        return std::wstring();
    return szHex;
}

}  // namespace nubra
