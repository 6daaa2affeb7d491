// The upgrade window's accessors of its state file.
#include "upgrade/UpgradeDlgDUI.h"

#include "log/Log.h"
#include "upgrade/StateFile.h"

namespace {

// A value that could not be written shows at the next read as missing: the
// log says which, so that support can tell why a later order behaved so.
void WriteOrSay(LPCWSTR pszIniPath, LPCWSTR pszKey, LPCWSTR pszValue)
{
    if (!WriteUpgradeValue(pszIniPath, pszKey, pszValue))
        LOG_WARN(L"CUpgradeDlgDUI::WriteUpgradeValue", L"state file( %s ) in use or refused: %s=%s not written",
                 pszIniPath, pszKey, pszValue);
}

}  // namespace

bool CUpgradeDlgDUI::IsDownloadOver()
{
    return ReadUpgradeValue(m_szIniPath, kKeyOverFlags) == kOverFlagsDone;
}

void CUpgradeDlgDUI::SetOverFlags(LPCWSTR pszValue)
{
    WriteOrSay(m_szIniPath, kKeyOverFlags, pszValue);
}

bool CUpgradeDlgDUI::IsNeedClear()
{
    return ReadUpgradeValue(m_szIniPath, kKeyClearFlags) == kFlagTrue;
}

void CUpgradeDlgDUI::SetClearFlags(LPCWSTR pszValue)
{
    WriteOrSay(m_szIniPath, kKeyClearFlags, pszValue);
}

bool CUpgradeDlgDUI::IsSameVersion()
{
    return ReadUpgradeValue(m_szIniPath, kKeyVersion) == m_stComm.szVersion;
}

void CUpgradeDlgDUI::SaveSetupPath()
{
    WriteOrSay(m_szIniPath, kKeyPath, m_strTemp.c_str());
}
