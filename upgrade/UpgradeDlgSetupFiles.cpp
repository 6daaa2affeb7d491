// The upgrade folder, the setup file's path, its verification and the sweep.
#include "upgrade/UpgradeDlgDUI.h"

#include "log/Log.h"
#include "upgrade/SetupNaming.h"
#include "upgrade/SetupSweep.h"
#include "upgrade/SetupTrust.h"
#include "upgrade/StateFile.h"
#include "win/FinalPath.h"

#include <shlwapi.h>
#include <strsafe.h>

bool CUpgradeDlgDUI::InitUpgradeDir()
{
    const std::wstring strDir = UpgradeFolderPath();
    if (strDir.empty())
        return false;
    const std::wstring strFolder = strDir.substr(0, strDir.size() - 1);  // without its backslash
    if (!::PathFileExistsW(strFolder.c_str()) && !::CreateDirectoryW(strFolder.c_str(), nullptr))
        return false;
    // A folder that a link or junction sends elsewhere would have the sweep
    // delete programs there: the folder must be where its path says.
    const std::wstring strAppData = strFolder.substr(0, strFolder.find_last_of(L'\\'));
    const std::wstring strReal = FinalPathOf(strFolder);
    if (strReal.empty() ||
        _wcsicmp(strReal.c_str(), (FinalPathOf(strAppData) + strFolder.substr(strAppData.size())).c_str()) != 0) {
        LOG_ERROR(L"CUpgradeDlgDUI::InitUpgradeDir", L"upgrade folder( %s ) leads elsewhere( %s ): refused",
                  strFolder.c_str(), strReal.c_str());
        return false;
    }
    ::StringCchCopyW(m_szUpgradeDir, MAX_PATH, strDir.c_str());
    // No link below the application-data folder may redirect a setup.
    m_setupLock.SetTrustedRoot(strAppData);
    ::StringCchCopyW(m_szIniPath, MAX_PATH, (strDir + kStateFileName).c_str());

    // Creates the file at the first start and proves it can be written.
    if (!PrepareStateFile(m_szIniPath))
        return false;
    m_bUpgradeDirReady = true;
    SetRunStateFile(m_szIniPath);
    return true;
}

bool CUpgradeDlgDUI::MakeCurrentSetupPath()
{
    const std::wstring strName = SetupNameFromUrl(m_stComm.szURL);
    if (!IsAcceptableSetupName(m_szUpgradeDir, strName)) {
        LOG_WARN(L"CUpgradeDlgDUI::MakeCurrentSetupPath", L"MakeCurrentSetupPath refused file name( %s )",
                 strName.c_str());
        return false;
    }
    ::StringCchCopyW(m_stComm.szFileName, UPGRADE_TEXT_CCH, strName.c_str());

    wchar_t szPath[MAX_PATH] = {};
    ::StringCchCopyW(szPath, MAX_PATH, m_szUpgradeDir);
    ::StringCchCatW(szPath, MAX_PATH, m_stComm.szFileName);
    LOG_INFO(L"CUpgradeDlgDUI::MakeCurrentSetupPath", L"MakeCurrentSetupPath  %s", szPath);
    m_strTemp = szPath;
    return true;
}

bool CUpgradeDlgDUI::IsNewSetupFileExist()
{
    // A file that verifies stays held until it has been started or the
    // upgrade ends, so it is read once and cannot change before it runs.
    if (DigestFormOf(m_stComm.szMD5) == OrderDigestForm::Sha256) {
        const std::wstring strLocal =
            m_setupLock.HoldOnly(m_strTemp) ? Sha256OfOpenFile(m_setupLock.Handle()) : std::wstring();
        LOG_INFO(L"CUpgradeDlgDUI::IsNewSetupFileExist", L"localSHA256:%s, remoteSHA256:%s", strLocal.c_str(),
                 m_stComm.szMD5);
        if (!Sha256Matches(strLocal, m_stComm.szMD5)) {
            m_setupLock.Release();
            return false;
        }
    } else {
        const std::wstring strLocalMd5 = m_setupLock.HoldAndDigest(m_strTemp);
        LOG_INFO(L"CUpgradeDlgDUI::IsNewSetupFileExist", L"localMD5:%s, remoteMD5:%s", strLocalMd5.c_str(),
                 m_stComm.szMD5);
        if (!SetupDigestMatches(strLocalMd5.c_str(), m_stComm.szMD5)) {
            m_setupLock.Release();
            return false;
        }
    }
    if (!IsHeldSetupTrusted()) {
        m_setupLock.Release();
        return false;
    }
    return true;
}

bool CUpgradeDlgDUI::IsHeldSetupTrusted()
{
    const SETUP_SIGNATURE signature = VerifySetupSignature(m_setupLock.Handle(), m_strTemp.c_str());
    const std::wstring strPinned = PinnedSetupPublisher();
    const SetupTrust trust = JudgeSetupSignature(signature, strPinned);
    if (!signature.strSubject.empty())
        LOG_INFO(L"CUpgradeDlgDUI::IsNewSetupFileExist", L"setup signer: %s, thumbprint %s",
                 signature.strSubject.c_str(), signature.strThumbprint.c_str());
    if (IsSetupTrusted(trust)) {
        LOG_INFO(L"CUpgradeDlgDUI::IsNewSetupFileExist", L"setup %s", SetupTrustText(trust));
        return true;
    }
    LOG_ERROR(L"CUpgradeDlgDUI::IsNewSetupFileExist",
              L"setup refused, %s: trust result 0x%08lX %s, chain status 0x%08lX, pinned publisher \"%s\"",
              SetupTrustText(trust), static_cast<unsigned long>(signature.lTrust), TrustResultName(signature.lTrust),
              signature.dwChainStatus, strPinned.c_str());
    return false;
}

bool CUpgradeDlgDUI::DeleteFileExpireEx()
{
    // The hold would keep the sweep from removing that very file.
    m_setupLock.Release();
    bool bSearched = false;
    if (!SweepSetupFiles(m_szUpgradeDir, &bSearched))
        return false;
    // The sweep's ".exe" rule misses a setup named "Setup.EXE": this order's
    // own files, and those of the setup recorded last, go by exact path.
    if (!SweepOwnSetupFiles(m_szUpgradeDir, m_strTemp) ||
        !SweepOwnSetupFiles(m_szUpgradeDir, ReadUpgradeValue(m_szIniPath, kKeyPath)))
        return false;
    if (bSearched)
        SetOverFlags(L"");
    return true;
}
