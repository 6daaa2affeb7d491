// MD5 digest of a file, as the client writes its checksum: 32 lower-case
// hexadecimal digits. The program compares the two texts exactly, so the
// client must send its szMD5 in this same form.
#include "NubraSdk/Md5.h"

#include <bcrypt.h>

#include <vector>

#include "NubraSdk/Handles.h"

namespace nubra {

namespace {

constexpr DWORD kBlockBytes = 1024 * 1024;

struct CAlgorithm {
    BCRYPT_ALG_HANDLE h = nullptr;
    ~CAlgorithm()
    {
        if (h) ::BCryptCloseAlgorithmProvider(h, 0);
    }
};

struct CHash {
    BCRYPT_HASH_HANDLE h = nullptr;
    ~CHash()
    {
        if (h) ::BCryptDestroyHash(h);
    }
};

bool Succeeded(NTSTATUS status)
{
    return status >= 0;
}

}  // namespace

bool Md5OfFile(const std::wstring& strPath, wchar_t (&szHex)[33])
{
    szHex[0] = L'\0';
    CHandle hFile(::CreateFileW(strPath.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!hFile) return false;
    return Md5OfOpenFile(hFile.Get(), szHex);
}

bool Md5OfOpenFile(HANDLE hFile, wchar_t (&szHex)[33])
{
    szHex[0] = L'\0';
    // The whole file, wherever an earlier reader left the position.
    LARGE_INTEGER liStart = {};
    if (!::SetFilePointerEx(hFile, liStart, nullptr, FILE_BEGIN)) return false;
    CAlgorithm alg;
    if (!Succeeded(::BCryptOpenAlgorithmProvider(&alg.h, BCRYPT_MD5_ALGORITHM, nullptr, 0))) return false;
    CHash hash;
    if (!Succeeded(::BCryptCreateHash(alg.h, &hash.h, nullptr, 0, nullptr, 0, 0))) return false;

    std::vector<BYTE> block(kBlockBytes);
    for (;;) {
        DWORD dwRead = 0;
        if (!::ReadFile(hFile, block.data(), kBlockBytes, &dwRead, nullptr)) return false;
        if (dwRead == 0) break;
        if (!Succeeded(::BCryptHashData(hash.h, block.data(), dwRead, 0))) return false;
    }
    BYTE abDigest[16] = {};
    if (!Succeeded(::BCryptFinishHash(hash.h, abDigest, sizeof(abDigest), 0))) return false;

    static const wchar_t kDigits[] = L"0123456789abcdef";
    for (int i = 0; i < 16; ++i) {
        szHex[2 * i] = kDigits[abDigest[i] >> 4];
        szHex[2 * i + 1] = kDigits[abDigest[i] & 15];
    }
    szHex[32] = L'\0';
    return true;
}

}  // namespace nubra
