#include "upgrade/ClientExit.h"

#include "win/Handles.h"

bool HasClientExited(LPCWSTR pszRunningFlag)
{
    const CKernelHandle flag(::OpenMutexW(SYNCHRONIZE, FALSE, pszRunningFlag));
    return !flag.IsValid() && ::GetLastError() == ERROR_FILE_NOT_FOUND;
}
