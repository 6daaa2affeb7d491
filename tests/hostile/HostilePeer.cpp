// HostilePeer: what another process of the same session can do to the
// companion (its window, folder, instance slot), as a console program for the scenario tests.
//
//   HostilePeer launch EXE LINE            start EXE with LINE as its whole command line (no program
//                                          token), print "pid N", wait for it, print "exit N"
//   HostilePeer message post|send MSG WPARAM LPARAM [COUNT]
//                                          one message (or COUNT alike, one right after the other)
//                                          to the window; prints "result N" for the last
//   HostilePeer orders-until-gone URL SECONDS
//                                          sends a well-formed order to every window of the class as
//                                          fast as it can until one was seen and is gone again
//   HostilePeer swap-folder DIR IMPOSTOR   renames the folder DIR away (to DIR.swapped) as a program of
//                                          the user can, makes DIR again and puts the file IMPOSTOR
//                                          into it under its own name; prints "renamed" or "refused N"
//   HostilePeer flood SEED ORDERS MESSAGES malformed orders, then malformed commands and private
//                                          messages; every send must be answered within 5 s and the
//                                          window must stay the same. Prints the counts.
//   HostilePeer swap-when-gone PID DIR IMPOSTOR   swap-folder once process PID has ended
//   HostilePeer forge-slot EXE PID...      writes each PID, 1.5 s apart, into EXE's shared instance slot
//   HostilePeer decoy-window SECONDS       a window of the companion's class, for SECONDS
//   HostilePeer forge-record STATE SIZE POSITION RECEIVED
//                                          a download record with these fields, placed in the companion's
//                                          own memory so that it can be read there, posted as
//                                          WM_MSG_DOWNLOAD; prints "posted ADDRESS"
//   HostilePeer scan PATH HOLD_MS WATCH_MS a scanner: opens PATH without sharing as soon as it is let go,
//                                          reads it and holds it HOLD_MS; gives up after WATCH_MS
//   HostilePeer ... /UPGRADESHELL          a planted setup: appends "impostor=1" to FAKESETUP_RECORD
//
// Exit code 0 when the run held, 1 when the window was not found, lost or
// did not answer, 2 on a usage error.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "netlib/DownloadRecord.h"
#include "tests/hostile/HostileSession.h"
#include "upgrade/UpgradeProtocol.h"
#include "win/Handles.h"

namespace {

const wchar_t kWindowClass[] = UPGRADE_WINDOW_CLASS;
const UINT kAnswerTimeoutMs = 5000;

// A small deterministic generator, so that a failing run can be repeated.
class CRandom {
public:
    explicit CRandom(uint32_t nSeed) : m_n(nSeed ? nSeed : 1) {}
    uint32_t Next()
    {
        m_n ^= m_n << 13;
        m_n ^= m_n >> 17;
        m_n ^= m_n << 5;
        return m_n;
    }
    uint32_t Below(uint32_t n) { return n ? Next() % n : 0; }
    template <typename T, size_t N>
    const T& Pick(const T (&a)[N])
    {
        return a[Below(N)];
    }

private:
    uint32_t m_n;
};

struct CCounts {
    unsigned nSent = 0;
    unsigned nAnswered = 0;
    unsigned nTimedOut = 0;
    unsigned nPosted = 0;
    unsigned nFailed = 0;
};

// Sends and waits at most 5 s; a time-out is a hang of the window.
bool SendAnswered(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam, CCounts& counts, LRESULT* pResult = nullptr)
{
    DWORD_PTR dwResult = 0;
    ++counts.nSent;
    ::SetLastError(0);
    if (::SendMessageTimeoutW(hWnd, uMsg, wParam, lParam, SMTO_NORMAL, kAnswerTimeoutMs, &dwResult)) {
        ++counts.nAnswered;
        if (pResult)
            *pResult = static_cast<LRESULT>(dwResult);
        return true;
    }
    if (::GetLastError() == ERROR_TIMEOUT)
        ++counts.nTimedOut;
    else
        ++counts.nFailed;
    return false;
}

void FillText(wchar_t* psz, size_t cch, const std::wstring& str)
{
    const size_t n = str.size() < cch ? str.size() : cch;
    std::wmemcpy(psz, str.data(), n);
    if (n < cch)
        psz[n] = L'\0';
}

std::wstring RandomText(CRandom& rnd, size_t nMax)
{
    std::wstring str;
    const size_t n = rnd.Below(static_cast<uint32_t>(nMax + 1));
    for (size_t i = 0; i < n; ++i) {
        switch (rnd.Below(4)) {
        case 0:
            str.push_back(static_cast<wchar_t>(1 + rnd.Below(0x7F)));
            break;  // ASCII and controls
        case 1:
            str.push_back(static_cast<wchar_t>(0xD800 + rnd.Below(0x800)));
            break;  // lone surrogates
        case 2:
            str.push_back(static_cast<wchar_t>(1 + rnd.Below(0xFFFF)));
            break;
        default:
            str.push_back(static_cast<wchar_t>(L"/\\:?*#%.\r\n"[rnd.Below(10)]));
            break;
        }
    }
    return str;
}

// One malformed order: a wrong size, tag or mode, or a record whose fields
// are unterminated, oversized, or hold odd addresses, sizes and digests.
std::vector<BYTE> MalformedOrder(CRandom& rnd, const std::wstring& strServer, ULONG_PTR* pdwData)
{
    // Mostly the right tag and mode, so that most orders reach the checks
    // behind the tag.
    static const uint16_t kTags[] = {UPGRADE_COMM_TAG,
                                     UPGRADE_COMM_TAG,
                                     UPGRADE_COMM_TAG,
                                     UPGRADE_COMM_TAG,
                                     UPGRADE_COMM_TAG,
                                     UPGRADE_COMM_TAG,
                                     0,
                                     238,
                                     0xFFFF};
    static const uint16_t kModes[] = {0, 0, 1, 1, 1, 2, 0xFFFF};
    *pdwData = (static_cast<ULONG_PTR>(rnd.Pick(kTags)) << 16) | rnd.Pick(kModes);

    static const size_t kSizes[] = {0, 1, 2, 520, 3640, 3641, 3643, 3644, 7284, 65536};
    if (rnd.Below(4) == 0) {
        std::vector<BYTE> data(rnd.Pick(kSizes));
        for (BYTE& b : data)
            b = static_cast<BYTE>(rnd.Next());
        return data;
    }

    const std::wstring addresses[] = {
        L"",
        L"http:/no-separator.exe",
        L"://",
        L"file:///C:/windows/win.ini",
        strServer + L"/../../Upgrade.ini",
        strServer + L"/Setup.exe?sig=a/upgrade.INI",
        strServer + L"/Setup.exe.part",
        strServer + L"/Setup.exe.part.meta",
        strServer + L"/con.exe",
        strServer + L"/a\\..\\..\\b.exe",
        strServer + L"/" + std::wstring(300, L'x') + L".exe",
        L"\\\\?\\C:\\windows\\notepad.exe",
        L"http://127.0.0.1:1/%00.exe",
        L"http://[::1]:99999/x.exe",
        RandomText(rnd, 300),
    };
    static const wchar_t* const kSizesText[] = {L"",     L"-1",  L"0",   L"2147483648", L"99999999999999",
                                                L"0x10", L"abc", L" 12", L"1e9"};
    static const wchar_t* const kDigests[] = {L"", L"9E107D9D372BB6826BD81D3542A419D6", L"zz", L"0"};
    static const wchar_t* const kTypes[] = {L"", L"9434", L"9434 ", L"1"};

    UPGRADE_COMM rec;
    std::memset(&rec, 0, sizeof(rec));
    FillText(rec.szURL, UPGRADE_TEXT_CCH, rnd.Pick(addresses));
    FillText(rec.szVersion, UPGRADE_TEXT_CCH, rnd.Below(3) ? RandomText(rnd, 40) : L"5.0\r\noverflags=over");
    FillText(rec.szSize, UPGRADE_TEXT_CCH, rnd.Below(4) ? rnd.Pick(kSizesText) : RandomText(rnd, 300));
    FillText(rec.szMD5, UPGRADE_TEXT_CCH, rnd.Below(4) ? rnd.Pick(kDigests) : RandomText(rnd, 300));
    FillText(rec.szUpgradeType, UPGRADE_TEXT_CCH, rnd.Below(4) ? rnd.Pick(kTypes) : RandomText(rnd, 300));
    FillText(rec.szFileName, UPGRADE_TEXT_CCH, RandomText(rnd, 300));
    if (rnd.Below(3) == 0) {
        // Not a single terminator anywhere.
        auto* p = reinterpret_cast<wchar_t*>(&rec);
        for (size_t i = 0; i < sizeof(rec) / sizeof(wchar_t); ++i) {
            if (!p[i])
                p[i] = static_cast<wchar_t>(1 + rnd.Below(0xFFFE));
        }
    }
    const BYTE* pBytes = reinterpret_cast<const BYTE*>(&rec);
    return std::vector<BYTE>(pBytes, pBytes + sizeof(rec));
}

// Where the network library keeps its records in this process; the same
// DLL usually loads at the same place in the companion, so these pointers
// are the most dangerous ones to forge.
std::vector<UINT_PTR> LibraryAddresses()
{
    std::vector<UINT_PTR> addresses;
    HMODULE hLib = ::LoadLibraryW(L"NubraSdk.dll");
    if (!hLib)
        return addresses;
    const auto* pBase = reinterpret_cast<const BYTE*>(hLib);
    const auto* pNt =
        reinterpret_cast<const IMAGE_NT_HEADERS*>(pBase + reinterpret_cast<const IMAGE_DOS_HEADER*>(pBase)->e_lfanew);
    const IMAGE_SECTION_HEADER* pSection = pBase ? IMAGE_FIRST_SECTION(pNt) : nullptr;
    for (WORD i = 0; pSection && i < pNt->FileHeader.NumberOfSections; ++i, ++pSection) {
        const UINT_PTR uStart = reinterpret_cast<UINT_PTR>(pBase) + pSection->VirtualAddress;
        addresses.push_back(uStart);
        addresses.push_back(uStart + 1);
        addresses.push_back(uStart + pSection->Misc.VirtualSize - 4);
        if (std::strncmp(reinterpret_cast<const char*>(pSection->Name), DOWNLOAD_RECORD_SECTION, 8) == 0) {
            for (int n = 0; n < DOWNLOAD_RECORD_POOL_SIZE; n += 7)
                addresses.push_back(uStart + n * sizeof(DOWNLOAD_PROGRESS));
        }
    }
    addresses.push_back(reinterpret_cast<UINT_PTR>(pBase));
    return addresses;
}

HWND FindUpgradeWindow(DWORD dwWaitMs)
{
    const ULONGLONG ullEnd = ::GetTickCount64() + dwWaitMs;
    for (;;) {
        HWND hWnd = ::FindWindowW(kWindowClass, nullptr);
        if (hWnd || ::GetTickCount64() >= ullEnd)
            return hWnd;
        ::Sleep(50);
    }
}

void PrintCounts(const char* pszWhat, const CCounts& c)
{
    std::printf("%s: sent=%u answered=%u timed_out=%u failed=%u posted=%u\n", pszWhat, c.nSent, c.nAnswered,
                c.nTimedOut, c.nFailed, c.nPosted);
}

int Flood(uint32_t nSeed, unsigned nOrders, unsigned nMessages, const std::wstring& strServer)
{
    HWND hWnd = FindUpgradeWindow(10000);
    if (!hWnd) {
        std::printf("no window\n");
        return 1;
    }
    CRandom rnd(nSeed);
    CCounts orders;
    for (unsigned i = 0; i < nOrders; ++i) {
        ULONG_PTR dwData = 0;
        std::vector<BYTE> data = MalformedOrder(rnd, strServer, &dwData);
        COPYDATASTRUCT cds = {};
        cds.dwData = dwData;
        cds.cbData = static_cast<DWORD>(data.size());
        cds.lpData = data.empty() ? nullptr : data.data();
        SendAnswered(hWnd, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&cds), orders);
        if (!::IsWindow(hWnd))
            break;
    }
    PrintCounts("orders", orders);

    const std::vector<UINT_PTR> library = LibraryAddresses();
    int nOnStack = 0;
    CCounts messages;
    for (unsigned i = 0; i < nMessages && ::IsWindow(hWnd); ++i) {
        UINT uMsg = 0;
        WPARAM wParam = rnd.Next();
        LPARAM lParam = static_cast<LPARAM>(rnd.Next());
        switch (rnd.Below(7)) {
        case 0:  // commands: unknown codes with the tag, or known ones without it
            uMsg = WM_MSG_UPGRADE_CMD;
            if (rnd.Below(2)) {
                static const WPARAM kCodes[] = {0, 99, 104, 200, 0xFFFFFFFF, UPGRADE_CMD_PROMPT, UPGRADE_CMD_RELEASE};
                wParam = rnd.Pick(kCodes);
                lParam = static_cast<LPARAM>((rnd.Next() & 0xFFFF0000u) | UPGRADE_COMM_TAG);
            } else {
                wParam = UPGRADE_CMD_PROMPT + rnd.Below(4);
                lParam = static_cast<LPARAM>(rnd.Next() & 0xFFFF0000u);
            }
            break;
        case 1:
            uMsg = WM_MSG_NET_BREAK;
            if (rnd.Below(2))
                lParam = UPGRADE_COMM_TAG;
            break;
        case 2:
        case 3: {
            uMsg = WM_MSG_DOWNLOAD;
            const UINT_PTR kSmall[] = {0,          1,          4,          0x10000,
                                       0x7FFFFFFF, 0xFFFFFFFF, 0xFFFFFDD8, reinterpret_cast<UINT_PTR>(&nOnStack)};
            if (!library.empty() && rnd.Below(2))
                wParam = library[rnd.Below(static_cast<uint32_t>(library.size()))];
            else if (rnd.Below(2))
                wParam = rnd.Pick(kSmall);
            break;
        }
        case 4:
            uMsg = WM_MSG_DOWNLOAD_OVER;
            break;
        case 5:
            uMsg = WM_MSG_DOWNLOAD_FAIL;
            break;
        default:
            uMsg = WM_DUI_CLICK;
            break;
        }
        if (rnd.Below(2)) {
            ++messages.nPosted;
            ::PostMessageW(hWnd, uMsg, wParam, lParam);
            if (messages.nPosted % 16 == 0)
                SendAnswered(hWnd, WM_NULL, 0, 0, messages);  // the queue is worked off
        } else {
            SendAnswered(hWnd, uMsg, wParam, lParam, messages);
        }
    }
    SendAnswered(hWnd, WM_NULL, 0, 0, messages);
    PrintCounts("messages", messages);

    const bool bSame = ::IsWindow(hWnd) && ::FindWindowW(kWindowClass, nullptr) == hWnd;
    std::printf("window %s\n", bSame ? "kept" : "lost");
    const bool bHeld =
        bSame && orders.nTimedOut == 0 && messages.nTimedOut == 0 && orders.nFailed == 0 && messages.nFailed == 0;
    return bHeld ? 0 : 1;
}

int OrdersUntilGone(const std::wstring& strUrl, DWORD dwSeconds)
{
    UPGRADE_COMM rec = {};
    FillText(rec.szURL, UPGRADE_TEXT_CCH, strUrl);
    FillText(rec.szVersion, UPGRADE_TEXT_CCH, L"1.0");
    FillText(rec.szSize, UPGRADE_TEXT_CCH, L"100");
    COPYDATASTRUCT cds = {};
    cds.dwData = static_cast<ULONG_PTR>(UPGRADE_COMM_TAG) << 16;
    cds.cbData = sizeof(rec);
    cds.lpData = &rec;
    CCounts counts;
    bool bSeen = false;
    const ULONGLONG ullEnd = ::GetTickCount64() + dwSeconds * 1000ull;
    ULONGLONG ullGoneSince = 0;
    while (::GetTickCount64() < ullEnd) {
        HWND hWnd = ::FindWindowW(kWindowClass, nullptr);
        if (!hWnd) {
            if (bSeen && !ullGoneSince)
                ullGoneSince = ::GetTickCount64();
            if (bSeen && ::GetTickCount64() - ullGoneSince > 2000)
                break;
            continue;
        }
        bSeen = true;
        ullGoneSince = 0;
        SendAnswered(hWnd, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&cds), counts);
    }
    PrintCounts("orders", counts);
    std::printf("window %s\n", bSeen ? "seen" : "never seen");
    return bSeen && counts.nTimedOut == 0 ? 0 : 1;
}

int Launch(const std::wstring& strExe, const std::wstring& strLine)
{
    std::wstring strDir = strExe.substr(0, strExe.find_last_of(L"\\/"));
    std::vector<wchar_t> line(strLine.begin(), strLine.end());
    line.push_back(L'\0');
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    if (!::CreateProcessW(strExe.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, strDir.c_str(), &si, &pi)) {
        std::printf("start failed %lu\n", ::GetLastError());
        return 1;
    }
    CKernelHandle process(pi.hProcess);
    CKernelHandle thread(pi.hThread);
    std::printf("pid %lu\n", pi.dwProcessId);
    std::fflush(stdout);
    DWORD dwCode = 259;
    if (::WaitForSingleObject(process.Get(), 120000) == WAIT_OBJECT_0)
        ::GetExitCodeProcess(process.Get(), &dwCode);
    std::printf("exit %lu\n", dwCode);
    return 0;
}

int Message(bool bPost, UINT uMsg, WPARAM wParam, LPARAM lParam, uint32_t nCount)
{
    HWND hWnd = FindUpgradeWindow(10000);
    if (!hWnd) {
        std::printf("no window\n");
        return 1;
    }
    LRESULT lResult = 0;
    for (uint32_t n = 0; n < nCount; ++n) {
        if (bPost) {
            lResult = ::PostMessageW(hWnd, uMsg, wParam, lParam) ? 1 : 0;
            continue;
        }
        CCounts counts;
        if (!SendAnswered(hWnd, uMsg, wParam, lParam, counts, &lResult)) {
            std::printf("no answer\n");
            return 1;
        }
    }
    std::printf("result %ld\n", static_cast<long>(lResult));
    return 0;
}

int SwapFolder(const std::wstring& strDir, const std::wstring& strImpostor)
{
    if (!::MoveFileExW(strDir.c_str(), (strDir + L".swapped").c_str(), 0)) {
        std::printf("refused %lu\n", ::GetLastError());
        return 0;
    }
    const std::wstring strName = strImpostor.substr(strImpostor.find_last_of(L"\\/") + 1);
    if (!::CreateDirectoryW(strDir.c_str(), nullptr) ||
        !::CopyFileW(strImpostor.c_str(), (strDir + L"\\" + strName).c_str(), FALSE)) {
        std::printf("planting failed %lu\n", ::GetLastError());
        return 1;
    }
    std::printf("renamed\n");
    return 0;
}

uint32_t Number(const wchar_t* psz)
{
    return static_cast<uint32_t>(std::wcstoul(psz, nullptr, 0));
}

int SwapWhenGone(DWORD dwPid, const std::wstring& strDir, const std::wstring& strImpostor)
{
    const CKernelHandle process(::OpenProcess(SYNCHRONIZE, FALSE, dwPid));
    if (!process.IsValid() || ::WaitForSingleObject(process.Get(), 120000) != WAIT_OBJECT_0)
        return 1;
    return SwapFolder(strDir, strImpostor);
}

// A record that reads as well as the library's: the memory is the
// companion's own, left there for good as a careless library's would be.
int ForgeRecord(int32_t iState, uint32_t unFileSize, uint32_t unPosition, uint32_t unReceived)
{
    HWND hWnd = FindUpgradeWindow(10000);
    DWORD dwPid = 0;
    if (!hWnd || !::GetWindowThreadProcessId(hWnd, &dwPid)) {
        std::printf("no window\n");
        return 1;
    }
    const CKernelHandle process(::OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_WRITE, FALSE, dwPid));
    void* pRemote = process ? ::VirtualAllocEx(process.Get(), nullptr, sizeof(DOWNLOAD_PROGRESS),
                                               MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE)
                            : nullptr;
    DOWNLOAD_PROGRESS rec = {};
    rec.iState = iState;
    rec.unFileSize = unFileSize;
    rec.unPosition = unPosition;
    rec.unReceived = unReceived;
    if (!pRemote || !::WriteProcessMemory(process.Get(), pRemote, &rec, sizeof(rec), nullptr) ||
        !::PostMessageW(hWnd, WM_MSG_DOWNLOAD, reinterpret_cast<WPARAM>(pRemote), 0)) {
        std::printf("failed %lu\n", ::GetLastError());
        return 1;
    }
    std::printf("posted %p\n", pRemote);
    return 0;
}

// HostilePeer scan PATH HOLD_MS WATCH_MS: a scanner of freshly written
// programs. Waits up to WATCH_MS for PATH to exist and be let go by whoever
// writes it, opens it without sharing as soon as it can, reads it through
// and keeps it open HOLD_MS more, as a scanner of a large setup does, then
// closes it. Prints "scan: holding after N ms" and "scan: released".
int Scan(const std::wstring& strPath, DWORD dwHoldMs, DWORD dwWatchMs)
{
    const ULONGLONG ullStart = ::GetTickCount64();
    CKernelHandle file;
    for (;;) {
        file.Reset(::CreateFileW(strPath.c_str(), GENERIC_READ, 0 /* no sharing */, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
        if (file.IsValid())
            break;
        const DWORD dwError = ::GetLastError();
        if (::GetTickCount64() - ullStart >= dwWatchMs) {
            std::printf("scan: not let go within %lu ms (error %lu)\n", dwWatchMs, dwError);
            return 1;
        }
        ::Sleep(1);
    }
    std::printf("scan: holding after %lu ms\n", static_cast<unsigned long>(::GetTickCount64() - ullStart));
    std::vector<BYTE> chunk(64 * 1024);
    DWORD cbRead = 0;
    while (::ReadFile(file.Get(), chunk.data(), static_cast<DWORD>(chunk.size()), &cbRead, nullptr) && cbRead != 0) {
    }
    ::Sleep(dwHoldMs);
    file.Reset();
    std::printf("scan: released\n");
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    const std::wstring strCommand = argc > 1 ? argv[1] : L"";
    if (strCommand == L"launch" && argc == 4)
        return Launch(argv[2], argv[3]);
    if (strCommand == L"message" && (argc == 6 || argc == 7))
        return Message(std::wcscmp(argv[2], L"post") == 0, Number(argv[3]), Number(argv[4]),
                       static_cast<LPARAM>(Number(argv[5])), argc == 7 ? Number(argv[6]) : 1);
    if (strCommand == L"orders-until-gone" && argc == 4)
        return OrdersUntilGone(argv[2], Number(argv[3]));
    if (strCommand == L"swap-folder" && argc == 4)
        return SwapFolder(argv[2], argv[3]);
    if (argc > 1 && std::wcscmp(argv[argc - 1], L"/UPGRADESHELL") == 0)
        return RunAsImpostor();
    if (strCommand == L"swap-when-gone" && argc == 5)
        return SwapWhenGone(Number(argv[2]), argv[3], argv[4]);
    if (strCommand == L"forge-slot" && argc > 3) {
        std::vector<DWORD> pids;
        for (int n = 3; n < argc; ++n)
            pids.push_back(Number(argv[n]));
        return ForgeSlot(argv[2], pids);
    }
    if (strCommand == L"decoy-window" && argc == 3)
        return DecoyWindow(Number(argv[2]));
    if (strCommand == L"forge-record" && argc == 6)
        return ForgeRecord(static_cast<int32_t>(Number(argv[2])), Number(argv[3]), Number(argv[4]), Number(argv[5]));
    if (strCommand == L"scan" && argc == 5)
        return Scan(argv[2], Number(argv[3]), Number(argv[4]));
    if (strCommand == L"flood" && argc == 6)
        return Flood(Number(argv[2]), Number(argv[3]), Number(argv[4]), argv[5]);
    std::fprintf(stderr,
                 "usage: HostilePeer launch EXE LINE | message post|send MSG WPARAM LPARAM [COUNT] |\n"
                 "       orders-until-gone URL SECONDS | swap-folder DIR IMPOSTOR |\n"
                 "       swap-when-gone PID DIR IMPOSTOR | forge-slot EXE PID... | decoy-window SECONDS |\n"
                 "       flood SEED ORDERS MESSAGES SERVER | forge-record STATE SIZE POSITION RECEIVED |\n"
                 "       scan PATH HOLD_MS WATCH_MS\n");
    return 2;
}
