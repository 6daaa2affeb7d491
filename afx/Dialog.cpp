// CDialog: modeless and modal dialogs from templates of the executable.
#include "afx/afxwin.h"

extern thread_local int t_nCreating;  // afx/Wnd.cpp

INT_PTR CALLBACK AfxDlgProc(HWND hWnd, UINT message, WPARAM, LPARAM)
{
    if (message != WM_INITDIALOG)
        return FALSE;
    CDialog* pDlg = dynamic_cast<CDialog*>(CWnd::FromHandlePermanent(hWnd));
    // A dialog is initialised once, whatever else arrives as WM_INITDIALOG.
    if (!pDlg || pDlg->m_bInitialised)
        return TRUE;
    pDlg->m_bInitialised = true;
    try {
        return pDlg->OnInitDialog();
    } catch (...) {
        return TRUE;
    }
}

CDialog::CDialog(UINT nIDTemplate, CWnd* pParentWnd) : m_nIDTemplate(nIDTemplate), m_pParentWnd(pParentWnd) {}

CDialog::~CDialog() = default;

HWND CDialog::CreateFromTemplate(HWND hWndParent)
{
    HINSTANCE hInst = AfxGetInstanceHandle();
    HRSRC hRes = ::FindResourceW(hInst, MAKEINTRESOURCEW(m_nIDTemplate), MAKEINTRESOURCEW(5) /* RT_DIALOG */);
    HGLOBAL hTemplate = hRes ? ::LoadResource(hInst, hRes) : nullptr;
    auto pTemplate = hTemplate ? static_cast<LPCDLGTEMPLATEW>(::LockResource(hTemplate)) : nullptr;
    if (!pTemplate)
        return nullptr;

    m_bInitialised = false;
    AfxHookWindowCreate(this);
    ++t_nCreating;
    HWND hWnd = ::CreateDialogIndirectParamW(hInst, pTemplate, hWndParent, &AfxDlgProc, 0);
    --t_nCreating;
    AfxUnhookWindowCreate();
    return hWnd;
}

BOOL CDialog::Create(UINT nIDTemplate, CWnd* pParentWnd)
{
    m_nIDTemplate = nIDTemplate;
    m_pParentWnd = pParentWnd;
    return CreateFromTemplate(pParentWnd ? pParentWnd->m_hWnd : nullptr) != nullptr;
}

INT_PTR CDialog::DoModal()
{
    m_bModal = true;
    m_nModalResult = -1;
    HWND hWnd = CreateFromTemplate(m_pParentWnd ? m_pParentWnd->m_hWnd : nullptr);
    if (!hWnd) {
        m_bModal = false;
        return -1;
    }

    m_bContinueModal = true;
    ::ShowWindow(hWnd, SW_SHOWNORMAL);
    // The loop serves every window of the thread, so the caller's window keeps
    // receiving its messages while the dialog is up.
    while (m_bContinueModal) {
        MSG msg;
        BOOL bRet = ::GetMessageW(&msg, nullptr, 0, 0);
        if (bRet == -1)
            continue;
        if (bRet == 0) {
            // The outer loop must see the quit request too.
            ::PostQuitMessage(static_cast<int>(msg.wParam));
            m_nModalResult = -1;
            break;
        }
        if (!::IsWindow(hWnd) || !::IsDialogMessageW(hWnd, &msg)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
    }

    if (m_hWnd) {
        ::ShowWindow(m_hWnd, SW_HIDE);
        DestroyWindow();
    }
    m_bModal = false;
    return m_nModalResult;
}

void CDialog::EndDialog(int nResult)
{
    if (m_bModal) {
        m_nModalResult = nResult;
        m_bContinueModal = false;
        ::PostMessageW(m_hWnd, WM_NULL, 0, 0);  // wake the modal loop
    } else if (m_hWnd) {
        ::EndDialog(m_hWnd, nResult);
    }
}

BOOL CDialog::OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult)
{
    if (CWnd::OnWndMsg(message, wParam, lParam, pResult))
        return TRUE;
    // The dialog manager turns Enter, Esc and the close command into these.
    if (message == WM_COMMAND && HIWORD(wParam) == BN_CLICKED) {
        if (LOWORD(wParam) == IDOK) {
            OnOK();
            *pResult = 0;
            return TRUE;
        }
        if (LOWORD(wParam) == IDCANCEL) {
            OnCancel();
            *pResult = 0;
            return TRUE;
        }
    }
    return FALSE;
}
