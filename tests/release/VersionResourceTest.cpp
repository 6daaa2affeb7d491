// Every shipped binary reports the one project version, so that support can
// tell from any file which release a user has; the companion's manifest
// carries it too and names the Windows versions it was tested for.
#include "ProductVersion.h"
#include "win/Handles.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::wstring BinaryPath(const std::wstring& strName)
{
    WCHAR szPath[MAX_PATH] = {0};
    GetModuleFileNameW(NULL, szPath, MAX_PATH);
    std::wstring strDir = szPath;
    return strDir.substr(0, strDir.find_last_of(L'\\') + 1) + strName;
}

std::string Narrow(const std::wstring& str)
{
    return std::string(str.begin(), str.end());
}

}  // namespace

TEST(VersionResource, EveryShippedBinaryCarriesTheProjectVersion)
{
    const DWORD dwVersionMS = (RELEASE_VERSION_MAJOR << 16) | RELEASE_VERSION_MINOR;
    const DWORD dwVersionLS = (RELEASE_VERSION_PATCH << 16) | RELEASE_VERSION_TWEAK;
    const struct {
        const wchar_t* pszName;
        DWORD dwFileType;
    } binaries[] = {
        {L"DazuvuVevUpgrade.exe", VFT_APP},    {L"NubraSdk.dll", VFT_DLL},           {L"VEXUI32.dll", VFT_DLL},
        {L"DazuvuVevUpgradeCtl.exe", VFT_APP}, {L"DazuvuVevLogDecode.exe", VFT_APP},
    };
    for (const auto& binary : binaries) {
        SCOPED_TRACE(Narrow(binary.pszName));
        const std::wstring strPath = BinaryPath(binary.pszName);
        DWORD dwHandle = 0;
        const DWORD dwSize = GetFileVersionInfoSizeW(strPath.c_str(), &dwHandle);
        ASSERT_NE(dwSize, 0u) << "no version resource, error " << GetLastError();
        std::vector<BYTE> info(dwSize);
        ASSERT_TRUE(GetFileVersionInfoW(strPath.c_str(), 0, dwSize, info.data()));

        VS_FIXEDFILEINFO* pFixed = NULL;
        UINT cbFixed = 0;
        ASSERT_TRUE(VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&pFixed), &cbFixed));
        EXPECT_EQ(pFixed->dwFileVersionMS, dwVersionMS);
        EXPECT_EQ(pFixed->dwFileVersionLS, dwVersionLS);
        EXPECT_EQ(pFixed->dwProductVersionMS, dwVersionMS);
        EXPECT_EQ(pFixed->dwProductVersionLS, dwVersionLS);
        EXPECT_EQ(pFixed->dwFileType, binary.dwFileType);

        const struct {
            const wchar_t* pszKey;
            std::wstring strExpected;
        } texts[] = {
            {L"FileVersion", PRODUCT_VERSION_TEXT},
            {L"ProductVersion", PRODUCT_VERSION_TEXT},
            {L"OriginalFilename", binary.pszName},
            {L"ProductName", L"Talvex"},
            {L"LegalCopyright", L"Copyright (C) 2026 Talvex"},
        };
        for (const auto& text : texts) {
            LPWSTR pszValue = NULL;
            UINT cchValue = 0;
            const std::wstring strKey = std::wstring(L"\\StringFileInfo\\080404b0\\") + text.pszKey;
            ASSERT_TRUE(VerQueryValueW(info.data(), strKey.c_str(), reinterpret_cast<void**>(&pszValue), &cchValue))
                << Narrow(text.pszKey);
            EXPECT_EQ(std::wstring(pszValue), text.strExpected) << Narrow(text.pszKey);
        }
    }
}

TEST(VersionResource, ManifestCarriesTheVersionAndTheSupportedWindows)
{
    CModule exe(LoadLibraryExW(BinaryPath(L"DazuvuVevUpgrade.exe").c_str(), NULL, LOAD_LIBRARY_AS_DATAFILE));
    ASSERT_NE(exe.Get(), (HMODULE)NULL);
    HRSRC hRes = FindResourceW(exe.Get(), MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24) /* RT_MANIFEST */);
    ASSERT_NE(hRes, (HRSRC)NULL) << "no manifest";
    const char* pData = static_cast<const char*>(LockResource(LoadResource(exe.Get(), hRes)));
    const std::string strManifest(pData, SizeofResource(exe.Get(), hRes));
    exe.Reset();

    EXPECT_NE(strManifest.find("name=\"Talvex.DazuvuVevUpgrade\" version=\"" + Narrow(PRODUCT_VERSION_TEXT) + "\""),
              std::string::npos)
        << strManifest;
    // Windows 7, 8, 8.1 and 10/11.
    for (const char* pszId : {"{35138b9a-5d96-4fbd-8e2d-a2440225f93a}", "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",
                              "{1f676c76-80e1-4239-95bb-83d0f6d0da78}", "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"}) {
        EXPECT_NE(strManifest.find(std::string("<supportedOS Id=\"") + pszId + "\"/>"), std::string::npos) << pszId;
    }
    EXPECT_NE(strManifest.find("Microsoft.Windows.Common-Controls"), std::string::npos)
        << "the common controls 6 are still asked for";
}
