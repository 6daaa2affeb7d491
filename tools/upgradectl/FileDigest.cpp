#include "tools/upgradectl/FileDigest.h"

#include "NubraSdk/Md5.h"
#include "win/Handles.h"

#include <vector>

namespace {

std::wstring ErrorText(DWORD dwError)
{
    return L"error " + std::to_wstring(dwError);
}

}  // namespace

bool DigestSetupFile(const std::wstring& strPath, std::wstring& strSize, std::wstring& strMD5, std::wstring& strError)
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
    if (!md5.IsValid()) {
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
        if (cbRead == 0)
            break;
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
    wchar_t szHex[33] = {};
    if (!md5.Finish(szHex)) {
        strError = L"the MD5 computation failed";
        return false;
    }
    strMD5 = szHex;
    strSize = std::to_wstring(nTotal);
    return true;
}
