// Window layer: telling the system's own lifecycle messages and the messages a
// loop took from the queue apart from what anyone may post or send.
#include "VEXUI32/DUIOrigin.h"

#include <algorithm>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

namespace DUIOrigin {

namespace {

// What the hooks of one thread have seen. The hooks run on that thread; the
// watch may be set and dropped from another (FreeSkin), hence the lock.
struct CThreadWatch {
    HHOOK hCbt = nullptr;
    HHOOK hGetMessage = nullptr;
    int nWindows = 0;
    // Windows inside DestroyWindow, until their WM_NCDESTROY (or until
    // their handle is gone, for windows that were never ours).
    std::vector<HWND> vecGoing;
    // The message the loop took last and has not dispatched to us yet.
    MSG msgTaken = {};
    bool bTaken = false;
};

std::mutex g_lock;
std::map<DWORD, std::unique_ptr<CThreadWatch>> g_mapThreads;

CThreadWatch* ThisThread()
{
    auto it = g_mapThreads.find(::GetCurrentThreadId());
    return it == g_mapThreads.end() ? nullptr : it->second.get();
}

LRESULT CALLBACK OnCbt(int nCode, WPARAM wParam, LPARAM lParam)
{
    // The hooks further down may still refuse the destruction.
    LRESULT lResult = ::CallNextHookEx(nullptr, nCode, wParam, lParam);
    if (nCode == HCBT_DESTROYWND && lResult == 0) {
        try {
            std::lock_guard<std::mutex> guard(g_lock);
            if (CThreadWatch* pWatch = ThisThread()) {
                auto& vecGoing = pWatch->vecGoing;
                vecGoing.erase(std::remove_if(vecGoing.begin(), vecGoing.end(),
                                              [](HWND hGone) { return !::IsWindow(hGone); }),
                               vecGoing.end());
                vecGoing.push_back(reinterpret_cast<HWND>(wParam));
            }
        } catch (...) {
            // Unrecorded, the window's destruction is taken for a forgery
            // and it stays skinned: better than an exception in the system.
        }
    }
    return lResult;
}

LRESULT CALLBACK OnGetMessage(int nCode, WPARAM wParam, LPARAM lParam)
{
    if (nCode == HC_ACTION && wParam == PM_REMOVE && lParam) {
        std::lock_guard<std::mutex> guard(g_lock);
        if (CThreadWatch* pWatch = ThisThread()) {
            pWatch->msgTaken = *reinterpret_cast<const MSG*>(lParam);
            pWatch->bTaken = true;
        }
    }
    return ::CallNextHookEx(nullptr, nCode, wParam, lParam);
}

}  // namespace

DWORD Watch(HWND hWnd)
{
    DWORD dwThread = ::GetWindowThreadProcessId(hWnd, nullptr);
    if (!dwThread)
        return 0;
    try {
        std::lock_guard<std::mutex> guard(g_lock);
        std::unique_ptr<CThreadWatch>& pWatch = g_mapThreads[dwThread];
        if (!pWatch) {
            auto pNew = std::make_unique<CThreadWatch>();
            pNew->hCbt = ::SetWindowsHookExW(WH_CBT, &OnCbt, nullptr, dwThread);
            pNew->hGetMessage = ::SetWindowsHookExW(WH_GETMESSAGE, &OnGetMessage, nullptr, dwThread);
            if (!pNew->hCbt || !pNew->hGetMessage) {
                if (pNew->hCbt)
                    ::UnhookWindowsHookEx(pNew->hCbt);
                if (pNew->hGetMessage)
                    ::UnhookWindowsHookEx(pNew->hGetMessage);
                g_mapThreads.erase(dwThread);
                return 0;
            }
            pWatch = std::move(pNew);
        }
        ++pWatch->nWindows;
        return dwThread;
    } catch (...) {
        return 0;
    }
}

void Unwatch(DWORD dwThread)
{
    std::lock_guard<std::mutex> guard(g_lock);
    auto it = g_mapThreads.find(dwThread);
    if (it == g_mapThreads.end() || --it->second->nWindows > 0)
        return;
    ::UnhookWindowsHookEx(it->second->hCbt);
    ::UnhookWindowsHookEx(it->second->hGetMessage);
    g_mapThreads.erase(it);
}

bool IsBeingDestroyed(HWND hWnd)
{
    std::lock_guard<std::mutex> guard(g_lock);
    CThreadWatch* pWatch = ThisThread();
    if (!pWatch)
        return true;  // nothing watched: the library cannot judge, and does not
    // A child goes with its parent without a DestroyWindow of its own.
    for (HWND h = hWnd; h; h = ::GetAncestor(h, GA_PARENT)) {
        if (std::find(pWatch->vecGoing.begin(), pWatch->vecGoing.end(), h) != pWatch->vecGoing.end())
            return true;
    }
    return false;
}

void Destroyed(HWND hWnd)
{
    std::lock_guard<std::mutex> guard(g_lock);
    if (CThreadWatch* pWatch = ThisThread())
        pWatch->vecGoing.erase(std::remove(pWatch->vecGoing.begin(), pWatch->vecGoing.end(), hWnd),
                               pWatch->vecGoing.end());
}

bool TakePosted(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    std::lock_guard<std::mutex> guard(g_lock);
    CThreadWatch* pWatch = ThisThread();
    if (!pWatch || !pWatch->bTaken)
        return false;
    const MSG& msg = pWatch->msgTaken;
    if (msg.hwnd != hWnd || msg.message != message || msg.wParam != wParam || msg.lParam != lParam)
        return false;
    pWatch->bTaken = false;
    return true;
}

}  // namespace DUIOrigin
