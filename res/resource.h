// Resource identifiers of the program.
#pragma once

#define IDR_MAINFRAME 128
#define IDD_UPGRADE_DIALOG 102
#define IDD_MESSAGEBOX_CAL 129
