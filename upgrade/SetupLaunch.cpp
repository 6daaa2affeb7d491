#include "upgrade/SetupLaunch.h"

#include "log/Log.h"
#include "win/Handles.h"
#include "win/ProcessFacts.h"

#include <shellapi.h>

#include <string>
#include <vector>

#ifndef ERROR_ELEVATION_REQUIRED
#define ERROR_ELEVATION_REQUIRED 740L  // not in every toolchain's headers
#endif

namespace {

const wchar_t kLogFunction[] = L"CUpgradeDlgDUI::RunSetup";

bool IsStillAtItsPath(const CSetupFileLock& setup)
{
    if (setup.IsAtItsPath() && setup.IsUnchanged())
        return true;
    LOG_ERROR(kLogFunction, L"setup refused: the path( %s ) no longer leads to the verified file, nothing started",
              setup.Path().c_str());
    return false;
}

// The shell may show the elevation prompt; it starts the program by path
// and gives no process to check, so the path is checked just before.
SetupLaunch LaunchThroughShell(const CSetupFileLock& setup, LPCWSTR pszParameters)
{
    LOG_INFO(kLogFunction, L"setup needs elevation, started through the shell");
    if (!IsStillAtItsPath(setup))
        return SetupLaunch::Refused;
    const INT_PTR nResult = reinterpret_cast<INT_PTR>(
        ::ShellExecuteW(nullptr, L"open", setup.Path().c_str(), pszParameters, nullptr, SW_SHOWNORMAL));
    const DWORD dwError = ::GetLastError();
    // Results up to 32 are the shell's error codes.
    if (nResult > 32)
        return SetupLaunch::Started;
    LOG_ERROR(kLogFunction, L"setup could not be started: %s, result %d, error %lu", setup.Path().c_str(),
              static_cast<int>(nResult), dwError);
    return SetupLaunch::Failed;
}

}  // namespace

SetupLaunch LaunchHeldSetup(const CSetupFileLock& setup, LPCWSTR pszParameters)
{
    const std::wstring& strPath = setup.Path();
    if (!IsStillAtItsPath(setup))
        return SetupLaunch::Refused;

    const std::wstring strLine = L"\"" + strPath + L"\" " + pszParameters;
    std::vector<wchar_t> line(strLine.begin(), strLine.end());
    line.push_back(L'\0');
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    si.dwFlags = STARTF_USESHOWWINDOW;
    si.wShowWindow = SW_SHOWNORMAL;
    PROCESS_INFORMATION pi = {};
    if (!::CreateProcessW(strPath.c_str(), line.data(), nullptr, nullptr, FALSE /* no handles inherited */,
                          CREATE_SUSPENDED, nullptr, nullptr /* this process's folder, as the shell does */, &si,
                          &pi)) {
        const DWORD dwError = ::GetLastError();
        if (dwError == ERROR_ELEVATION_REQUIRED)
            return LaunchThroughShell(setup, pszParameters);
        // A path taken away in the moment of the start is a refusal, not a failure.
        if (!IsStillAtItsPath(setup))
            return SetupLaunch::Refused;
        LOG_ERROR(kLogFunction, L"setup could not be started: %s, error %lu", strPath.c_str(), dwError);
        return SetupLaunch::Failed;
    }
    const CKernelHandle process(pi.hProcess);
    const CKernelHandle thread(pi.hThread);

    const std::wstring strImage = ImagePathOfProcess(process.Get());
    FILE_IDENTITY image = {};
    if (strImage.empty() || !IdentityOfPath(strImage, &image) || !SameFile(image, setup.Identity())) {
        ::TerminateProcess(process.Get(), ERROR_ACCESS_DENIED);
        LOG_ERROR(kLogFunction,
                  L"setup refused: process %lu was started from( %s ), not the verified file; it was ended",
                  pi.dwProcessId, strImage.c_str());
        return SetupLaunch::Refused;
    }
    if (::ResumeThread(thread.Get()) == static_cast<DWORD>(-1)) {
        const DWORD dwError = ::GetLastError();
        ::TerminateProcess(process.Get(), dwError);
        LOG_ERROR(kLogFunction, L"setup could not be started: %s, its thread did not resume, error %lu",
                  strPath.c_str(), dwError);
        return SetupLaunch::Failed;
    }
    return SetupLaunch::Started;
}
