// First form of the skin library: no skin can be loaded yet.
#include "ui/DUIDefs.h"

IDUIRes* DUIAPI OpenSkinW(LPCWSTR, LPCWSTR, LONG, LONG, LONG) { return nullptr; }
HRESULT DUIAPI FreeSkin(void) { return S_OK; }
DUI_CTRLBASE* DUIAPI GetCtrlBase(LONG) { return nullptr; }
