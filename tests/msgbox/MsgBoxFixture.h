// What every box test shares: the real skin, recorded; a state file of the
// test's own that is put back afterwards; and the steps many scripts use.
#pragma once

#include "app/DazuvuVevUpgrade.h"
#include "tests/msgbox/BoxDriver.h"
#include "tests/msgbox/SkinRecorder.h"
#include "ui/MsgBoxCal.h"
#include "ui/SkinLayer.h"

#include <gtest/gtest.h>

#include <shlobj.h>

#include <fstream>
#include <sstream>
#include <string>

constexpr wchar_t kFailedText[] = L"下载失败，请稍后重试！";
constexpr wchar_t kNoticeCaption[] = L"提示";
constexpr wchar_t kUpgradeText[] = L"有新版本咯，赶紧去升级体验最新功能吧！";
constexpr wchar_t kUpgradeCaption[] = L"版本更新";
constexpr int kNoticeStyle = 0x821;
constexpr int kUpgradeOnlyStyle = 0x10020;
constexpr int kUpgradeStyle = 0x5023;

inline CSkinRecorder* g_pRecorder = nullptr;

inline std::wstring StateFilePath()
{
    wchar_t szPath[MAX_PATH] = {};
    ::SHGetSpecialFolderPathW(nullptr, szPath, CSIDL_APPDATA, TRUE);
    return std::wstring(szPath) + L"\\DazuvuvevUpgrade\\Upgrade.ini";
}

inline std::wstring ReadKey(const wchar_t* pszKey)
{
    wchar_t szValue[MAX_PATH] = {};
    ::GetPrivateProfileStringW(L"UPGRADE", pszKey, L"<missing>", szValue, MAX_PATH, StateFilePath().c_str());
    return szValue;
}

class MsgBoxTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        IDUIRes* pSkin = OpenSkinW(L"UISkin\\DazuvuVev.dui", L"UISkin\\Default.skn", 0, 0, 0);
        ASSERT_NE(pSkin, nullptr) << "the skin must load from the test's folder";
        g_pRecorder = new CSkinRecorder(pSkin);
        theApp.m_pDUIRes = g_pRecorder->Res();
    }

    // The state file belongs to the program's own folder in the test's Wine
    // prefix; whatever was there is put back afterwards.
    void SetUp() override
    {
        m_strPath = StateFilePath();
        ::CreateDirectoryW(m_strPath.substr(0, m_strPath.rfind(L'\\')).c_str(), nullptr);
        std::ifstream in(m_strPath.c_str(), std::ios::binary);
        m_bHadFile = in.good();
        if (m_bHadFile) {
            std::ostringstream ss;
            ss << in.rdbuf();
            m_strSaved = ss.str();
        }
        in.close();
        ::DeleteFileW(m_strPath.c_str());
        ::WritePrivateProfileStringW(L"UPGRADE", L"version", L"3.1.4.1592", m_strPath.c_str());
    }

    void TearDown() override
    {
        ::WritePrivateProfileStringW(nullptr, nullptr, nullptr, m_strPath.c_str());  // flush the cache
        ::DeleteFileW(m_strPath.c_str());
        if (m_bHadFile) {
            std::ofstream out(m_strPath.c_str(), std::ios::binary);
            out << m_strSaved;
        }
        theApp.m_pDUIRes = g_pRecorder->Res();
    }

    void ForgetNoTips() { ::WritePrivateProfileStringW(L"UPGRADE", L"version_no_tips", nullptr, m_strPath.c_str()); }

    std::wstring m_strPath;
    bool m_bHadFile = false;
    std::string m_strSaved;
};

// Steps shared by many cases.
inline CBoxDriver::Step ClickOn(const wchar_t* pszCtrl)
{
    return [pszCtrl](CBoxDriver& d) { d.Click(pszCtrl); };
}

inline CBoxDriver::Step Tick()
{
    return [](CBoxDriver& d) { d.Click(L"MsgBoxCalCheckBox"); };
}

inline CBoxDriver::Step ExpectTicked()
{
    return [](CBoxDriver& d) { EXPECT_EQ(d.Check(L"MsgBoxCalCheckBox"), 1) << "the click must tick the box"; };
}

inline CBoxDriver::Step Wait()
{
    return [](CBoxDriver&) {};
}
