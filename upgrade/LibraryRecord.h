// Whether a progress record pointer can come from the network library. No
// window involved.
#pragma once

#include <windows.h>

// True when p is one of the records of the library's record array (the
// section named in netlib/DownloadRecord.h of the loaded NubraSdk.dll): inside
// it, at a record's start. Only then may the record be read; any other value
// in a WM_MSG_DOWNLOAD message came from elsewhere.
bool IsLibraryProgressRecord(const void* p);
