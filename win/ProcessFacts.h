// What can be told about another process from outside: its session, the
// file its image was loaded from, and when it started. Each answer is false
// when it cannot be told (the process is gone, or access is refused); a
// caller that decides on a process treats that as "not the one".
#pragma once

#include <windows.h>

#include <string>

#include "win/FileIdentity.h"
#include "win/Handles.h"

inline bool SessionOfProcess(DWORD dwPid, DWORD* pdwSession)
{
    return ::ProcessIdToSessionId(dwPid, pdwSession) != FALSE;
}

// The full path the image was loaded from, as the system recorded it when
// the process was created; empty when it cannot be told.
inline std::wstring ImagePathOfProcess(HANDLE hProcess)
{
    wchar_t szPath[MAX_PATH * 2] = {};
    DWORD cch = MAX_PATH * 2;
    if (!::QueryFullProcessImageNameW(hProcess, 0 /* a Win32 path */, szPath, &cch) || cch == 0)
        return std::wstring();
    return std::wstring(szPath, cch);
}

// The image's file. The system keeps that file open while the process
// lives, so it can be neither replaced nor deleted; a folder renamed on the
// way can still hand another file the same path, which the identity tells.
inline bool ImageIdentityOfProcess(HANDLE hProcess, FILE_IDENTITY* pIdentity)
{
    const std::wstring strImage = ImagePathOfProcess(hProcess);
    return !strImage.empty() && IdentityOfPath(strImage, pIdentity);
}

// Creation time in 100 ns units since 1601.
inline bool StartTimeOfProcess(HANDLE hProcess, ULONGLONG* pullStarted)
{
    FILETIME ftCreated = {}, ftExited = {}, ftKernel = {}, ftUser = {};
    if (!::GetProcessTimes(hProcess, &ftCreated, &ftExited, &ftKernel, &ftUser))
        return false;
    *pullStarted = (static_cast<ULONGLONG>(ftCreated.dwHighDateTime) << 32) | ftCreated.dwLowDateTime;
    return true;
}
