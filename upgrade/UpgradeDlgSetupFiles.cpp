// The upgrade folder, the setup file's path, its verification and the sweep.
#include "upgrade/UpgradeDlgDUI.h"

#include "log/Log.h"
#include "netlib/NubraSdk.h"
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
    m_setupCheckFailure = UpgradeResult::DigestMismatch;
    m_strLocalDigest.clear();
    // Nothing of ours may have the file open while the library digests it:
    // a library may open it without sharing, and then digests no bytes.
    m_setupLock.Release();
    if (DigestFormOf(m_stComm.szMD5) == OrderDigestForm::Sha256) {
        m_strLocalDigest = m_setupLock.HoldAndDigest(m_strTemp, BCRYPT_SHA256_ALGORITHM);
        LOG_INFO(L"CUpgradeDlgDUI::IsNewSetupFileExist", L"localSHA256:%s, remoteSHA256:%s", m_strLocalDigest.c_str(),
                 m_stComm.szMD5);
        if (!DigestMatches(m_strLocalDigest, m_stComm.szMD5)) {
            m_setupLock.Release();
            return false;
        }
    } else {
        wchar_t szLocalMd5[NUBRA_TEXT_CCH] = {};
        Md5CalFile(m_strTemp.c_str(), szLocalMd5);  // only the text left in the buffer counts
        szLocalMd5[NUBRA_TEXT_CCH - 1] = L'\0';
        m_strLocalDigest = szLocalMd5;
        LOG_INFO(L"CUpgradeDlgDUI::IsNewSetupFileExist", L"localMD5:%s, remoteMD5:%s", szLocalMd5, m_stComm.szMD5);
        if (!SetupDigestMatches(szLocalMd5, m_stComm.szMD5))
            return false;
        // Held from here until it runs, and read again through the held
        // handle: what starts is what the library vouched for.
        const std::wstring strHeldMd5 = m_setupLock.HoldAndDigest(m_strTemp, BCRYPT_MD5_ALGORITHM);
        if (!DigestMatches(strHeldMd5, m_stComm.szMD5)) {
            LOG_ERROR(L"CUpgradeDlgDUI::IsNewSetupFileExist",
                      L"the held setup's MD5 (%s) is not the one the network library computed (%s): not verified",
                      strHeldMd5.c_str(), szLocalMd5);
            m_strLocalDigest = strHeldMd5;
            m_setupLock.Release();
            return false;
        }
    }
    if (!IsHeldSetupTrusted()) {
        m_setupCheckFailure = UpgradeResult::SignatureRefused;
        m_setupLock.Release();
        return false;
    }
    return true;
}

bool CUpgradeDlgDUI::IsHeldSetupTrusted()
{
    const SETUP_SIGNATURE signature = VerifySetupSignature(m_setupLock.Handle(), m_strTemp.c_str());
    const SETUP_PIN pin = PinnedSetupSigner();
    const SetupTrust trust = JudgeSetupSignature(signature, pin);
    if (!signature.strSubject.empty())
        LOG_INFO(L"CUpgradeDlgDUI::IsNewSetupFileExist", L"setup signer: %s, thumbprint %s",
                 signature.strSubject.c_str(), signature.strThumbprint.c_str());
    const unsigned long ulTrust = static_cast<unsigned long>(signature.lTrust);
    switch (trust) {
    case SetupTrust::Verified:
        LOG_INFO(L"CUpgradeDlgDUI::IsNewSetupFileExist", L"setup %s", SetupTrustText(trust));
        return true;
    case SetupTrust::Unverified:
        LOG_WARN(L"CUpgradeDlgDUI::IsNewSetupFileExist",
                 L"setup signature not verified, %s: trust result 0x%08lX %s, chain status 0x%08lX; no publisher is "
                 L"pinned, the upgrade goes on",
                 SignatureCauseText(signature), ulTrust, TrustResultName(signature.lTrust), signature.dwChainStatus);
        return true;
    default:
        break;
    }
    LOG_ERROR(L"CUpgradeDlgDUI::IsNewSetupFileExist",
              L"setup refused, %s: trust result 0x%08lX %s, chain status 0x%08lX, pinned publisher \"%s\"",
              trust == SetupTrust::UnverifiedWithPin ? SignatureCauseText(signature) : SetupTrustText(trust), ulTrust,
              TrustResultName(signature.lTrust), signature.dwChainStatus, pin.strPublisher.c_str());
    return false;
}

bool CUpgradeDlgDUI::DeleteFileExpireEx(bool bKeepOrderDownload)
{
    // The hold would keep the sweep from removing that very file.
    m_setupLock.Release();
    // A download that failed on the network is resumed by the next order:
    // this order's files stay, every other setup goes.
    const std::wstring strKeep = bKeepOrderDownload ? m_strTemp : std::wstring();
    bool bSearched = false;
    if (!SweepSetupFiles(m_szUpgradeDir, &bSearched, strKeep))
        return false;
    // The sweep's ".exe" rule misses a setup named "Setup.EXE": this order's
    // own files, and those of the setup recorded last, go by exact path.
    const std::wstring strRecorded = ReadUpgradeValue(m_szIniPath, kKeyPath);
    if ((!bKeepOrderDownload && !SweepOwnSetupFiles(m_szUpgradeDir, m_strTemp)) ||
        (_wcsicmp(strRecorded.c_str(), strKeep.c_str()) != 0 && !SweepOwnSetupFiles(m_szUpgradeDir, strRecorded)))
        return false;
    if (bSearched)
        SetOverFlags(L"");
    return true;
}
