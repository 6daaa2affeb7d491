// What another program of the session can do around the companion without
// touching its window: write into its instance slot, show a window of its
// class, and stand in for its setup.
#include "tests/hostile/HostileSession.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "upgrade/UpgradeProtocol.h"
#include "win/Handles.h"

namespace {
const wchar_t kWindowClass[] = UPGRADE_WINDOW_CLASS;
}

// Any mapping of the image shares its "MyData" section: no right over the
// companion is needed to write there.
int ForgeSlot(const std::wstring& strExe, const std::vector<DWORD>& pids)
{
    const CKernelHandle file(::CreateFileW(strExe.c_str(), GENERIC_READ | GENERIC_EXECUTE, FILE_SHARE_READ, nullptr,
                                           OPEN_EXISTING, 0, nullptr));
    const CKernelHandle section(::CreateFileMappingW(file.Get(), nullptr, PAGE_READONLY | SEC_IMAGE, 0, 0, nullptr));
    auto* pBase =
        section.IsValid() ? static_cast<BYTE*>(::MapViewOfFile(section.Get(), FILE_MAP_READ, 0, 0, 0)) : nullptr;
    const auto* pNt = reinterpret_cast<IMAGE_NT_HEADERS*>(pBase + reinterpret_cast<IMAGE_DOS_HEADER*>(pBase)->e_lfanew);
    const IMAGE_SECTION_HEADER* pSection = pBase ? IMAGE_FIRST_SECTION(pNt) : nullptr;
    for (WORD i = 0; pSection && i < pNt->FileHeader.NumberOfSections; ++i, ++pSection) {
        DWORD* pSlot = reinterpret_cast<DWORD*>(pBase + pSection->VirtualAddress);
        DWORD dwOld = 0;
        if (std::strncmp(reinterpret_cast<const char*>(pSection->Name), "MyData", 8) != 0 ||
            !::VirtualProtect(pSlot, sizeof(DWORD), PAGE_READWRITE, &dwOld))
            continue;
        for (const DWORD dwPid : pids) {
            *static_cast<volatile DWORD*>(pSlot) = dwPid;
            ::Sleep(1500);
        }
        return 0;
    }
    return 1;
}

int DecoyWindow(DWORD dwSeconds)
{
    const WNDCLASSW wc = {0, &::DefWindowProcW, 0, 0, nullptr, nullptr, nullptr, nullptr, nullptr, kWindowClass};
    if (!::RegisterClassW(&wc) ||
        !::CreateWindowExW(0, kWindowClass, L"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr))
        return 1;
    std::printf("decoy up\n");
    MSG msg;
    for (const ULONGLONG ullEnd = ::GetTickCount64() + dwSeconds * 1000ull; ::GetTickCount64() < ullEnd; ::Sleep(20)) {
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
            ::DispatchMessageW(&msg);
    }
    return 0;
}

int RunAsImpostor()
{
    wchar_t szRecord[MAX_PATH] = {};  // the record of the setup's runs
    ::GetEnvironmentVariableW(L"FAKESETUP_RECORD", szRecord, MAX_PATH);
    const CKernelHandle record(::CreateFileW(szRecord, FILE_APPEND_DATA, 0, nullptr, OPEN_ALWAYS, 0, nullptr));
    const std::string strLine = "pid=" + std::to_string(::GetCurrentProcessId()) + "\timpostor=1\tcmdline=\n";
    DWORD dwWritten = 0;  // the whole line in one write, as the stand-in setup does
    return ::WriteFile(record.Get(), strLine.data(), static_cast<DWORD>(strLine.size()), &dwWritten, nullptr) ? 0 : 1;
}
