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

    // Creates the file at the first start and proves it can be written. In
    // use by another program for now, it is no reason to refuse the run:
    // each order waits until it can be read.
    bool bInUse = false;
    if (!PrepareStateFile(m_szIniPath, &bInUse))
        return false;
    if (bInUse)
        LOG_WARN(L"CUpgradeDlgDUI::InitUpgradeDir", L"state file( %s ) is in use by another program: orders wait for it",
                 m_szIniPath);
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

CheckAnswer CUpgradeDlgDUI::IsNewSetupFileExist()
{
    m_setupCheckFailure = UpgradeResult::DigestMismatch;
    m_bKeepRefusedSetup = false;
    m_strLocalDigest.clear();
    m_strCheckWhy.clear();
    CheckAnswer answer = DigestHeldSetup();
    if (answer == CheckAnswer::Passed)
        answer = JudgeHeldSetup();
    if (answer != CheckAnswer::Passed)
        m_setupLock.Release();
    return answer;
}

namespace {

// Holds the setup for a check. A missing file, or a path that leads
// elsewhere, is evidence; a file in use, or an error, is not.
CheckAnswer HoldForCheck(CSetupFileLock& lock, const std::wstring& strPath, std::wstring& strWhy)
{
    LPCWSTR pszWhy = nullptr;
    switch (lock.Hold(strPath)) {
    case CSetupFileLock::HoldResult::Held:
        return CheckAnswer::Passed;
    case CSetupFileLock::HoldResult::Busy:
        pszWhy = L"the setup is open in another program (a scanner, or its writer still closing it)";
        break;
    case CSetupFileLock::HoldResult::Failed:
        pszWhy = L"the setup cannot be opened";
        break;
    default:
        return CheckAnswer::Against;
    }
    strWhy = std::wstring(pszWhy) + L", error " + std::to_wstring(lock.LastError());
    return CheckAnswer::CouldNot;
}

}  // namespace

CheckAnswer CUpgradeDlgDUI::DigestHeldSetup()
{
    // Held first: nobody can change the bytes from here until the setup runs.
    const CheckAnswer held = HoldForCheck(m_setupLock, m_strTemp, m_strCheckWhy);
    if (held != CheckAnswer::Passed)
        return held;
    if (DigestFormOf(m_stComm.szMD5) == OrderDigestForm::Sha256) {
        m_strLocalDigest = m_setupLock.DigestHeld(BCRYPT_SHA256_ALGORITHM);
        LOG_INFO(L"CUpgradeDlgDUI::IsNewSetupFileExist", L"localSHA256:%s, remoteSHA256:%s", m_strLocalDigest.c_str(),
                 m_stComm.szMD5);
        if (m_strLocalDigest.empty()) {
            m_strCheckWhy = L"the held setup could not be read";
            return CheckAnswer::CouldNot;
        }
        return DigestMatches(m_strLocalDigest, m_stComm.szMD5) ? CheckAnswer::Passed : CheckAnswer::Against;
    }

    // The library's digest beside the hold reads exactly the held bytes: one
    // read of the file in the common case.
    wchar_t szLocalMd5[NUBRA_TEXT_CCH] = {};
    Md5CalFile(m_strTemp.c_str(), szLocalMd5);  // only the text left in the buffer counts
    szLocalMd5[NUBRA_TEXT_CCH - 1] = L'\0';
    LOG_INFO(L"CUpgradeDlgDUI::IsNewSetupFileExist", L"localMD5:%s, remoteMD5:%s", szLocalMd5, m_stComm.szMD5);
    const CheckAnswer library = JudgeLibraryDigest(szLocalMd5, m_stComm.szMD5, m_setupLock.Size());
    if (library != CheckAnswer::CouldNot) {
        m_strLocalDigest = szLocalMd5;
        return library;
    }

    // A library that opens the file unshared cannot read beside the hold:
    // its digest with nothing of ours open, then ours through the hold.
    LOG_INFO(L"CUpgradeDlgDUI::IsNewSetupFileExist",
             L"the network library could not digest the setup beside the hold: digested without it, then again "
             L"through the hold");
    m_setupLock.Release();
    wchar_t szAloneMd5[NUBRA_TEXT_CCH] = {};
    Md5CalFile(m_strTemp.c_str(), szAloneMd5);
    szAloneMd5[NUBRA_TEXT_CCH - 1] = L'\0';
    const CheckAnswer heldAgain = HoldForCheck(m_setupLock, m_strTemp, m_strCheckWhy);
    if (heldAgain != CheckAnswer::Passed)
        return heldAgain;
    LOG_INFO(L"CUpgradeDlgDUI::IsNewSetupFileExist", L"localMD5:%s, remoteMD5:%s", szAloneMd5, m_stComm.szMD5);
    const std::wstring strHeldMd5 = m_setupLock.DigestHeld(BCRYPT_MD5_ALGORITHM);
    if (!DigestMatches(strHeldMd5, szAloneMd5))
        LOG_WARN(L"CUpgradeDlgDUI::IsNewSetupFileExist", L"the held setup's MD5 is %s",
                 strHeldMd5.empty() ? L"(unreadable)" : strHeldMd5.c_str());
    if (strHeldMd5.empty()) {
        m_strCheckWhy = L"the held setup could not be read";
        return CheckAnswer::CouldNot;
    }
    m_strLocalDigest = strHeldMd5;
    // Our own read of the held bytes is evidence either way.
    if (!DigestMatches(strHeldMd5, m_stComm.szMD5))
        return CheckAnswer::Against;
    const CheckAnswer alone = JudgeLibraryDigest(szAloneMd5, m_stComm.szMD5, m_setupLock.Size());
    if (alone == CheckAnswer::Against) {
        // Two reads that disagree tell only that the file changed between them.
        m_strCheckWhy = L"the network library's digest " + std::wstring(szAloneMd5) +
                        L" is not the held setup's, which matches the order";
        return CheckAnswer::CouldNot;
    }
    if (alone == CheckAnswer::CouldNot)
        LOG_WARN(L"CUpgradeDlgDUI::IsNewSetupFileExist",
                 L"the network library gave no digest of the setup; the held setup's own digest matches the order");
    return CheckAnswer::Passed;
}

CheckAnswer CUpgradeDlgDUI::JudgeHeldSetup()
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
        return CheckAnswer::Passed;
    case SetupTrust::Unverified:
        LOG_WARN(L"CUpgradeDlgDUI::IsNewSetupFileExist",
                 L"setup signature not verified, %s: trust result 0x%08lX %s, chain status 0x%08lX; no publisher is "
                 L"pinned, the upgrade goes on",
                 SignatureCauseText(signature), ulTrust, TrustResultName(signature.lTrust), signature.dwChainStatus);
        return CheckAnswer::Passed;
    default:
        break;
    }
    m_setupCheckFailure = UpgradeResult::SignatureRefused;
    if (trust == SetupTrust::PinUnreadable) {
        // A safeguard the user configured cannot be applied: nothing starts,
        // and nothing is lost either; a corrected pin takes the same file.
        m_bKeepRefusedSetup = true;
        LOG_ERROR(L"CUpgradeDlgDUI::IsNewSetupFileExist",
                  L"setup refused, %s: \"%s\" in SetupPublisherThumbprints is no thumbprint; the setup is kept",
                  SetupTrustText(trust), pin.strUnreadable.c_str());
        return CheckAnswer::Against;
    }
    std::wstring strThumbprints;
    for (const std::wstring& strPinned : pin.thumbprints)
        strThumbprints += (strThumbprints.empty() ? L"" : L" ") + strPinned;
    LOG_ERROR(L"CUpgradeDlgDUI::IsNewSetupFileExist",
              L"setup refused, %s: trust result 0x%08lX %s, chain status 0x%08lX, pinned publisher \"%s\", pinned "
              L"thumbprints (%s)",
              trust == SetupTrust::UnverifiedWithPin ? SignatureCauseText(signature) : SetupTrustText(trust), ulTrust,
              TrustResultName(signature.lTrust), signature.dwChainStatus, pin.strPublisher.c_str(),
              strThumbprints.empty() ? L"none" : strThumbprints.c_str());
    return CheckAnswer::Against;
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
    // "over" speaks of the order's own setup: kept, it stays as it was, and
    // the digest decides about it.
    if (bSearched && !bKeepOrderDownload)
        SetOverFlags(L"");
    return true;
}
