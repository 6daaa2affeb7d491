// What the upgrade window says to the user, and how.
#pragma once

#include <string>

// Failure notices: one "确定" button with the warning picture.
void ShowDownloadFailedBox();
void ShowNetworkLostBox();
// The setup's signature was refused: it was changed after signing, or is
// not the pinned signer's.
void ShowSignatureRefusedBox();
// The upgrade prompt with the single "升级" button, or with "升级", "取消" and
// "不再提醒"; 1 means the user chose to upgrade.
int ShowUpgradePrompt(bool bSingleButton);
