// CWnd: attaching framework objects to windows and dispatching their messages.
#include "afx/afxwin.h"

#include <map>

namespace {

// Windows of the framework, by handle. All windows live on the one UI thread.
std::map<HWND, CWnd*>& HandleMap()
{
    static std::map<HWND, CWnd*> map;
    return map;
}

// The message being handled now, for CWnd::Default. Nested dispatch (a modal
// loop inside a handler) saves and restores it.
thread_local MSG t_msgCur;

thread_local CWnd* t_pWndInit = nullptr;
}  // namespace

// How many window creations and destructions of the framework are under way
// on this thread (one may run inside a handler of another).
thread_local int t_nCreating = 0;
thread_local int t_nDestroying = 0;

namespace {

BOOL DestroyCounted(HWND hWnd)
{
    ++t_nDestroying;
    const BOOL bDestroyed = ::DestroyWindow(hWnd);
    --t_nDestroying;
    return bDestroyed;
}
thread_local HHOOK t_hHookCbt = nullptr;

}  // namespace

CWnd::~CWnd()
{
    if (m_hWnd) {
        // The object dies before its window: the window falls back to its
        // original procedure so no message reaches a dead object.
        HWND hWnd = m_hWnd;
        Detach();
        DestroyCounted(hWnd);
    }
}

CWnd* CWnd::FromHandlePermanent(HWND hWnd)
{
    auto it = HandleMap().find(hWnd);
    return it == HandleMap().end() ? nullptr : it->second;
}

void CWnd::Attach(HWND hWnd)
{
    m_hWnd = hWnd;
    HandleMap()[hWnd] = this;
    m_pfnSuper =
        reinterpret_cast<WNDPROC>(::SetWindowLongPtrW(hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&AfxWndProc)));
}

void CWnd::Detach()
{
    if (!m_hWnd)
        return;
    if (m_pfnSuper && reinterpret_cast<WNDPROC>(::GetWindowLongPtrW(m_hWnd, GWLP_WNDPROC)) == &AfxWndProc)
        ::SetWindowLongPtrW(m_hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(m_pfnSuper));
    HandleMap().erase(m_hWnd);
    m_hWnd = nullptr;
}

BOOL CWnd::DestroyWindow()
{
    return m_hWnd ? DestroyCounted(m_hWnd) : FALSE;
}

const AFX_MSGMAP* CWnd::GetThisMessageMap()
{
    static const AFX_MSGMAP_ENTRY entries[] = {{0, nullptr}};
    static const AFX_MSGMAP map = {nullptr, entries};
    return &map;
}

BOOL CWnd::OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult)
{
    for (const AFX_MSGMAP* pMap = GetMessageMap(); pMap; pMap = pMap->pfnGetBaseMap ? pMap->pfnGetBaseMap() : nullptr) {
        for (const AFX_MSGMAP_ENTRY* pEntry = pMap->lpEntries; pEntry->pfnThunk; ++pEntry) {
            if (pEntry->nMessage == message)
                return pEntry->pfnThunk(this, wParam, lParam, pResult);
        }
    }
    return FALSE;
}

LRESULT CWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    LRESULT lResult = 0;
    if (!OnWndMsg(message, wParam, lParam, &lResult))
        lResult = DefWindowProc(message, wParam, lParam);
    return lResult;
}

LRESULT CWnd::DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (m_pfnSuper)
        return ::CallWindowProcW(m_pfnSuper, m_hWnd, message, wParam, lParam);
    return ::DefWindowProcW(m_hWnd, message, wParam, lParam);
}

LRESULT CWnd::Default()
{
    return DefWindowProc(t_msgCur.message, t_msgCur.wParam, t_msgCur.lParam);
}

const MSG* CWnd::GetCurrentMessage()
{
    return &t_msgCur;
}

bool AfxIsForeignLifecycleMessage(UINT message)
{
    switch (message) {
    case WM_NCCREATE:
    case WM_CREATE:
    case WM_INITDIALOG:
        return t_nCreating == 0;
    case WM_DESTROY:
    case WM_NCDESTROY:
        // A window whose creation fails is destroyed by the system at once.
        return t_nDestroying == 0 && t_nCreating == 0;
    default:
        return false;
    }
}

LRESULT CALLBACK AfxWndProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    CWnd* pWnd = CWnd::FromHandlePermanent(hWnd);
    if (!pWnd)
        return ::DefWindowProcW(hWnd, message, wParam, lParam);
    // Posted by someone else: initialising again, or detaching from a window
    // that lives on, would leave it deaf or run its set-up twice.
    if (AfxIsForeignLifecycleMessage(message))
        return 0;

    MSG msgSaved = t_msgCur;
    t_msgCur.hwnd = hWnd;
    t_msgCur.message = message;
    t_msgCur.wParam = wParam;
    t_msgCur.lParam = lParam;
    LRESULT lResult = 0;
    try {
        lResult = pWnd->WindowProc(message, wParam, lParam);
    } catch (...) {
        // Nothing may unwind into the system's dispatch code.
        lResult = 0;
    }
    t_msgCur = msgSaved;

    // After its last message the window no longer reaches the object.
    if (message == WM_NCDESTROY && CWnd::FromHandlePermanent(hWnd) == pWnd)
        pWnd->Detach();
    return lResult;
}

LRESULT CALLBACK AfxCbtFilterHook(int nCode, WPARAM wParam, LPARAM lParam)
{
    if (nCode == HCBT_CREATEWND && t_pWndInit) {
        CWnd* pWnd = t_pWndInit;
        t_pWndInit = nullptr;
        pWnd->Attach(reinterpret_cast<HWND>(wParam));
    }
    return ::CallNextHookEx(t_hHookCbt, nCode, wParam, lParam);
}

void AfxHookWindowCreate(CWnd* pWnd)
{
    if (!t_hHookCbt)
        t_hHookCbt = ::SetWindowsHookExW(WH_CBT, &AfxCbtFilterHook, nullptr, ::GetCurrentThreadId());
    t_pWndInit = pWnd;
}

void AfxUnhookWindowCreate()
{
    if (t_hHookCbt) {
        ::UnhookWindowsHookEx(t_hHookCbt);
        t_hHookCbt = nullptr;
    }
    t_pWndInit = nullptr;
}
