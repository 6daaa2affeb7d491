// The upgrade window's accessors of its state file.
#include "upgrade/UpgradeDlgDUI.h"

#include "upgrade/StateFile.h"

bool CUpgradeDlgDUI::IsDownloadOver()
{
    return ReadUpgradeValue(m_szIniPath, kKeyOverFlags) == kOverFlagsDone;
}

void CUpgradeDlgDUI::SetOverFlags(LPCWSTR pszValue)
{
    WriteUpgradeValue(m_szIniPath, kKeyOverFlags, pszValue);
}

bool CUpgradeDlgDUI::IsNeedClear()
{
    return ReadUpgradeValue(m_szIniPath, kKeyClearFlags) == kFlagTrue;
}

void CUpgradeDlgDUI::SetClearFlags(LPCWSTR pszValue)
{
    WriteUpgradeValue(m_szIniPath, kKeyClearFlags, pszValue);
}

bool CUpgradeDlgDUI::IsSameVersion()
{
    return ReadUpgradeValue(m_szIniPath, kKeyVersion) == m_stComm.szVersion;
}

void CUpgradeDlgDUI::SaveSetupPath()
{
    WriteUpgradeValue(m_szIniPath, kKeyPath, m_strTemp.c_str());
}
