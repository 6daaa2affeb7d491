// A scratch folder under the temp directory, removed with everything in it.
#pragma once

#include <windows.h>

#include <string>

class CTestFolder {
public:
    CTestFolder();
    ~CTestFolder();
    CTestFolder(const CTestFolder&) = delete;
    CTestFolder& operator=(const CTestFolder&) = delete;

    // With a trailing backslash.
    const std::wstring& Path() const { return m_strPath; }
    std::wstring File(const std::wstring& strName) const { return m_strPath + strName; }
    void Write(const std::wstring& strName, const std::string& strContent) const;
    bool Exists(const std::wstring& strName) const;

private:
    std::wstring m_strPath;
};
