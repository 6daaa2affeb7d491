#include "TestFolder.h"

#include "win/Handles.h"

#include <shellapi.h>

CTestFolder::CTestFolder()
{
    wchar_t szTemp[MAX_PATH] = {};
    ::GetTempPathW(MAX_PATH, szTemp);
    wchar_t szName[64];
    _snwprintf(szName, 64, L"upgtest-%lu-%lu", ::GetCurrentProcessId(), ::GetTickCount());
    m_strPath = std::wstring(szTemp) + szName;
    ::CreateDirectoryW(m_strPath.c_str(), nullptr);
    m_strPath += L"\\";
}

CTestFolder::~CTestFolder()
{
    std::wstring strFrom = m_strPath.substr(0, m_strPath.size() - 1);
    strFrom.push_back(L'\0');  // the list ends with two zeros
    SHFILEOPSTRUCTW op = {};
    op.wFunc = FO_DELETE;
    op.pFrom = strFrom.c_str();
    op.fFlags = FOF_NOCONFIRMATION | FOF_NOERRORUI | FOF_SILENT;
    ::SHFileOperationW(&op);
}

void CTestFolder::Write(const std::wstring& strName, const std::string& strContent) const
{
    CKernelHandle file(
        ::CreateFileW(File(strName).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD dw = 0;
    ::WriteFile(file.Get(), strContent.data(), static_cast<DWORD>(strContent.size()), &dw, nullptr);
}

bool CTestFolder::Exists(const std::wstring& strName) const
{
    return ::GetFileAttributesW(File(strName).c_str()) != INVALID_FILE_ATTRIBUTES;
}
