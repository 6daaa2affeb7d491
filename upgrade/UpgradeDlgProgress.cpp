// The download face's file name, version, speed, amount and bar.
#include "upgrade/UpgradeDlgDUI.h"

#include "ui/SkinLayer.h"
#include "upgrade/ProgressFormat.h"

void CUpgradeDlgDUI::InitProgressText(int nTotalSize, LPCWSTR pszVersion, LPCWSTR pszFileName)
{
    m_nTotalSize = nTotalSize;
    SetCtrlText(m_pFileNameStatic, pszFileName);
    SetCtrlText(m_pVersionStatic, pszVersion);
}

void CUpgradeDlgDUI::ShowSpeed(float fSpeed)
{
    SetCtrlText(m_pSpeedStatic, FormatSpeedText(fSpeed).c_str());
}

void CUpgradeDlgDUI::ShowProgress(float fFraction)
{
    SetCtrlText(m_pAlreadyloadStatic, FormatAmountText(m_nTotalSize, fFraction).c_str());
    SetCtrlPos(m_pDownloadProgress, ProgressBarPosition(fFraction));
}
