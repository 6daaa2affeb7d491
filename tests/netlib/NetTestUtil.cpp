#include "NetTestUtil.h"

#include <wininet.h>

#include "netlib/NubraSdk.h"
#include "netlib/NubraSdkExtras.h"
#include "win/Handles.h"
#include "win/ModuleExport.h"

namespace nettest {

namespace {

constexpr UINT kRecordMsg = WM_USER + 258;
std::vector<CRecord>* g_pSink = nullptr;

LRESULT CALLBACK SinkProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    if (uMsg == kRecordMsg && g_pSink) {
        // Copied while handling, as the window does: the pointer is only
        // promised valid until the handler returns.
        g_pSink->push_back({*reinterpret_cast<const DOWNLOAD_PROGRESS*>(wParam), ::GetTickCount64()});
        return 1;
    }
    return ::DefWindowProcW(hWnd, uMsg, wParam, lParam);
}

HWND CreateSink()
{
    static ATOM atom = 0;
    if (!atom) {
        WNDCLASSW wc = {};
        wc.lpfnWndProc = SinkProc;
        wc.hInstance = ::GetModuleHandleW(nullptr);
        wc.lpszClassName = L"NubraNetTestSink";
        atom = ::RegisterClassW(&wc);
    }
    return ::CreateWindowExW(0, L"NubraNetTestSink", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                             ::GetModuleHandleW(nullptr), nullptr);
}

bool IsFinal(int32_t iState)
{
    return iState == DOWNLOAD_STATE_FINISHED || iState == DOWNLOAD_STATE_NET_FAILED ||
           iState == DOWNLOAD_STATE_FILE_FAILED;
}

void PumpFor(DWORD dwMs)
{
    const ULONGLONG ullEnd = ::GetTickCount64() + dwMs;
    while (::GetTickCount64() < ullEnd) {
        MSG msg;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
            ::DispatchMessageW(&msg);
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    }
}

std::mutex g_logMutex;
std::vector<std::wstring> g_logLines;

void LogSink(int nSeverity, LPCWSTR pszFunction, LPCWSTR pszText)
{
    std::lock_guard<std::mutex> lock(g_logMutex);
    g_logLines.push_back(std::to_wstring(nSeverity) + L" " + pszFunction + L": " + pszText);
}

PFN_NUBRA_SET_LOG_SINK SetSinkFunction()
{
    return ModuleExport<PFN_NUBRA_SET_LOG_SINK>(NUBRA_LIBRARY_NAME, NUBRA_SET_LOG_SINK_NAME);
}

}  // namespace

CScopedEnv::CScopedEnv(const wchar_t* pszName, const wchar_t* pszValue) : m_strName(pszName)
{
    wchar_t sz[1024] = {};
    const DWORD n = ::GetEnvironmentVariableW(pszName, sz, 1024);
    m_bHad = n > 0 && n < 1024;
    m_strOld = m_bHad ? sz : L"";
    ::SetEnvironmentVariableW(pszName, pszValue);
}

CScopedEnv::~CScopedEnv()
{
    ::SetEnvironmentVariableW(m_strName.c_str(), m_bHad ? m_strOld.c_str() : nullptr);
}

CLibraryLog::CLibraryLog()
{
    const PFN_NUBRA_SET_LOG_SINK pfnSet = SetSinkFunction();
    if (!pfnSet)
        return;
    {
        std::lock_guard<std::mutex> lock(g_logMutex);
        g_logLines.clear();
    }
    pfnSet(&LogSink);
    m_bInstalled = true;
}

CLibraryLog::~CLibraryLog()
{
    if (m_bInstalled)
        SetSinkFunction()(nullptr);
}

std::vector<std::wstring> CLibraryLog::Lines() const
{
    std::lock_guard<std::mutex> lock(g_logMutex);
    return g_logLines;
}

void CLibraryLog::Clear()
{
    std::lock_guard<std::mutex> lock(g_logMutex);
    g_logLines.clear();
}

std::vector<std::wstring> CLibraryLog::With(const std::wstring& strText) const
{
    std::vector<std::wstring> found;
    for (const std::wstring& line : Lines())
        if (line.find(strText) != std::wstring::npos)
            found.push_back(line);
    return found;
}

std::wstring Env(const wchar_t* pszName)
{
    wchar_t sz[1024] = {};
    const DWORD n = ::GetEnvironmentVariableW(pszName, sz, 1024);
    return n && n < 1024 ? std::wstring(sz) : std::wstring();
}

int TestPort()
{
    return _wtoi(Env(L"NUBRA_TEST_PORT").c_str());
}

std::wstring ServerUrl(const std::wstring& strPath)
{
    return L"http://127.0.0.1:" + std::to_wstring(TestPort()) + strPath;
}

std::wstring RootPath(const std::wstring& strName)
{
    return Env(L"NUBRA_TEST_ROOT") + L"\\" + strName;
}

std::wstring WorkPath(const std::wstring& strName)
{
    return Env(L"NUBRA_TEST_WORK") + L"\\" + strName;
}

std::string ReadAll(const std::wstring& strPath)
{
    std::string data;
    CKernelHandle h(::CreateFileW(strPath.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, 0, nullptr));
    if (!h)
        return data;
    char buf[65536];
    DWORD n = 0;
    while (::ReadFile(h.Get(), buf, sizeof(buf), &n, nullptr) && n)
        data.append(buf, n);
    return data;
}

bool WriteAll(const std::wstring& strPath, const std::string& data)
{
    CKernelHandle h(::CreateFileW(strPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    if (!h)
        return false;
    DWORD n = 0;
    const bool ok = ::WriteFile(h.Get(), data.data(), static_cast<DWORD>(data.size()), &n, nullptr) && n == data.size();
    return ok;
}

bool Exists(const std::wstring& strPath)
{
    return ::GetFileAttributesW(strPath.c_str()) != INVALID_FILE_ATTRIBUTES;
}

LONGLONG SizeOf(const std::wstring& strPath)
{
    WIN32_FILE_ATTRIBUTE_DATA d = {};
    if (!::GetFileAttributesExW(strPath.c_str(), GetFileExInfoStandard, &d))
        return -1;
    return (static_cast<LONGLONG>(d.nFileSizeHigh) << 32) | d.nFileSizeLow;
}

void RemoveDownload(const std::wstring& strTarget)
{
    ::DeleteFileW(strTarget.c_str());
    ::DeleteFileW((strTarget + L".part").c_str());
    ::DeleteFileW((strTarget + L".part.meta").c_str());
}

std::string Pattern(size_t cb, unsigned seed)
{
    std::string s(cb, '\0');
    unsigned x = seed * 2654435761u + 1;
    for (size_t i = 0; i < cb; ++i) {
        x = x * 1103515245u + 12345u;
        s[i] = static_cast<char>(x >> 16);
    }
    return s;
}

std::string Control(int nPort, const std::wstring& strPathAndQuery)
{
    std::string body;
    CInetHandle hSession(::InternetOpenW(L"nettest", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0));
    if (!hSession)
        return body;
    const std::wstring url = L"http://127.0.0.1:" + std::to_wstring(nPort) + strPathAndQuery;
    CInetHandle hUrl(::InternetOpenUrlW(hSession.Get(), url.c_str(), nullptr, 0,
                                        INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE, 0));
    if (hUrl) {
        char buf[8192];
        DWORD n = 0;
        while (::InternetReadFile(hUrl.Get(), buf, sizeof(buf), &n) && n)
            body.append(buf, n);
    }
    return body;
}

std::vector<std::string> LogFor(int nPort, const std::string& strFile)
{
    std::vector<std::string> lines;
    const std::string all = Control(nPort, L"/_control/log");
    size_t nPos = 0;
    while (nPos < all.size()) {
        size_t nEnd = all.find('\n', nPos);
        if (nEnd == std::string::npos)
            nEnd = all.size();
        const std::string line = all.substr(nPos, nEnd - nPos);
        if (JsonField(line, "file") == strFile)
            lines.push_back(line);
        nPos = nEnd + 1;
    }
    return lines;
}

std::vector<std::string> WaitLogFor(int nPort, const std::string& strFile, size_t nCount, DWORD dwTimeoutMs)
{
    const ULONGLONG ullEnd = ::GetTickCount64() + dwTimeoutMs;
    std::vector<std::string> lines = LogFor(nPort, strFile);
    while (lines.size() < nCount && ::GetTickCount64() < ullEnd) {
        ::Sleep(100);
        lines = LogFor(nPort, strFile);
    }
    return lines;
}

std::string JsonField(const std::string& line, const std::string& key)
{
    const std::string tag = "\"" + key + "\":";
    const size_t nPos = line.find(tag);
    if (nPos == std::string::npos)
        return std::string();
    size_t b = nPos + tag.size();
    if (b < line.size() && line[b] == '"') {
        std::string out;
        for (size_t i = b + 1; i < line.size() && line[i] != '"'; ++i) {
            if (line[i] == '\\' && i + 1 < line.size())
                ++i;
            out += line[i];
        }
        return out;
    }
    const size_t e = line.find_first_of(",}", b);
    return line.substr(b, e == std::string::npos ? std::string::npos : e - b);
}

std::vector<CRecord> Download(const std::wstring& strUrl, const std::wstring& strTarget, LONGLONG llExpected,
                              DWORD dwTimeoutMs)
{
    std::vector<CRecord> records;
    HWND hSink = CreateSink();
    if (!hSink)
        return records;
    g_pSink = &records;
    if (UpgradeDownLoadFile(strUrl.c_str(), strTarget.c_str(), 0, hSink, kRecordMsg, 0, llExpected, 0)) {
        const ULONGLONG ullEnd = ::GetTickCount64() + dwTimeoutMs;
        while (::GetTickCount64() < ullEnd && (records.empty() || !IsFinal(records.back().rec.iState)))
            PumpFor(20);
        PumpFor(300);  // anything arriving after the final record is a fault
    }
    g_pSink = nullptr;
    ::DestroyWindow(hSink);
    return records;
}

int FinalState(const std::vector<CRecord>& records)
{
    return records.empty() ? 0 : records.back().rec.iState;
}

uint32_t MostReceived(const std::vector<CRecord>& records)
{
    uint32_t un = 0;
    for (const CRecord& r : records)
        un = r.rec.unReceived > un ? r.rec.unReceived : un;
    return un;
}

std::wstring Md5(const std::wstring& strPath)
{
    wchar_t sz[MAX_PATH] = {};
    Md5CalFile(strPath.c_str(), sz);
    return sz;
}

}  // namespace nettest
