// The dialog framework as the program's windows rely on it: the message map
// sees a window's first messages, unmapped messages reach the dialog manager,
// the modal loop serves other windows and hands WM_QUIT on, and class
// information names the program's classes.
#include "afx/afxwin.h"

#include "res/resource.h"
#include "ui/MsgBoxCal.h"
#include "upgrade/UpgradeDlgDUI.h"
#include "win/Handles.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

const UINT WM_TEST_PING = WM_APP + 1;

// Template 102 names the companion's class, a copy of the dialog class, as
// start-up registers it.
void RegisterCompanionClass()
{
    WNDCLASSW wndcls = {};
    ::GetClassInfoW(AfxGetInstanceHandle(), L"#32770", &wndcls);
    wndcls.hInstance = AfxGetInstanceHandle();
    wndcls.lpszClassName = UPGRADE_WINDOW_CLASS;
    AfxRegisterClass(&wndcls);
}

class CProbeDlg : public CDialog {
public:
    std::vector<UINT> m_seen;
    int m_nCreateResult = 0;
    bool m_bInitDialog = false;

    BOOL OnInitDialog() override
    {
        m_bInitDialog = true;
        m_seen.push_back(WM_INITDIALOG);
        return TRUE;
    }

protected:
    int OnCreate(LPCREATESTRUCT lpCreateStruct)
    {
        m_seen.push_back(WM_CREATE);
        if (CDialog::OnCreate(lpCreateStruct) == -1)
            return -1;
        return m_nCreateResult;
    }
    LRESULT OnPing(WPARAM wParam, LPARAM lParam)
    {
        m_seen.push_back(WM_TEST_PING);
        return static_cast<LRESULT>(wParam + lParam);
    }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CProbeDlg, CDialog)
    ON_WM_CREATE()
    ON_MESSAGE(WM_TEST_PING, OnPing)
END_MESSAGE_MAP()

TEST(Framework, ModelessDialogSeesCreateBeforeInitAndItsMappedMessages)
{
    RegisterCompanionClass();
    CProbeDlg dlg;
    ASSERT_TRUE(dlg.Create(IDD_UPGRADE_DIALOG, nullptr));
    ASSERT_TRUE(::IsWindow(dlg.m_hWnd));
    EXPECT_EQ(CWnd::FromHandlePermanent(dlg.m_hWnd), &dlg);
    ASSERT_EQ(dlg.m_seen.size(), 2u);
    EXPECT_EQ(dlg.m_seen[0], static_cast<UINT>(WM_CREATE));
    EXPECT_EQ(dlg.m_seen[1], static_cast<UINT>(WM_INITDIALOG));
    EXPECT_FALSE(::IsWindowVisible(dlg.m_hWnd)) << "template 102 is not visible";

    EXPECT_EQ(::SendMessageW(dlg.m_hWnd, WM_TEST_PING, 40, 2), 42);

    wchar_t szClass[64] = {};
    ::GetClassNameW(dlg.m_hWnd, szClass, 64);
    EXPECT_STREQ(szClass, UPGRADE_WINDOW_CLASS);
    // Unmapped messages reach the dialog manager below the framework.
    ::SetWindowTextW(dlg.m_hWnd, L"正在下载");
    wchar_t szTitle[64] = {};
    ::GetWindowTextW(dlg.m_hWnd, szTitle, 64);
    EXPECT_STREQ(szTitle, L"正在下载");

    HWND hWnd = dlg.m_hWnd;
    EXPECT_TRUE(dlg.DestroyWindow());
    EXPECT_FALSE(::IsWindow(hWnd));
    EXPECT_EQ(dlg.m_hWnd, nullptr) << "the object lets go of a destroyed window";
    EXPECT_EQ(CWnd::FromHandlePermanent(hWnd), nullptr);
}

DWORD WINAPI SendLifecycleMessages(LPVOID pWnd)
{
    for (UINT message : {WM_INITDIALOG, WM_DESTROY, WM_NCDESTROY})
        ::SendMessageW(static_cast<HWND>(pWnd), message, 0, 16);
    return 0;
}

// Anyone may post or send the messages of a window's creation and
// destruction; only the system's own, during the real thing, count.
TEST(Framework, ForeignLifecycleMessagesChangeNothing)
{
    RegisterCompanionClass();
    CProbeDlg dlg;
    ASSERT_TRUE(dlg.Create(IDD_UPGRADE_DIALOG, nullptr));
    const HWND hWnd = dlg.m_hWnd;
    for (int i = 0; i < 300; ++i)
        ::PostMessageW(hWnd, WM_INITDIALOG, 0, 0);
    for (UINT message : {WM_NCCREATE, WM_CREATE, WM_DESTROY, WM_NCDESTROY})
        ::PostMessageW(hWnd, message, 0, 16);
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
        ::DispatchMessageW(&msg);

    // Sent from another thread, as another process would.
    const CKernelHandle sender(::CreateThread(nullptr, 0, &SendLifecycleMessages, hWnd, 0, nullptr));
    ASSERT_TRUE(sender.IsValid());
    // Peeking lets the sent messages in.
    while (::WaitForSingleObject(sender.Get(), 20) == WAIT_TIMEOUT)
        ::PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);

    ASSERT_EQ(dlg.m_seen.size(), 2u) << "created and initialised once";
    EXPECT_EQ(CWnd::FromHandlePermanent(hWnd), &dlg) << "still attached";
    EXPECT_EQ(::SendMessageW(hWnd, WM_TEST_PING, 40, 2), 42) << "and still hearing its messages";

    EXPECT_TRUE(dlg.DestroyWindow());
    EXPECT_EQ(CWnd::FromHandlePermanent(hWnd), nullptr) << "the real destruction still lets go";
}

TEST(Framework, FailedCreationLeavesNoWindowAndModalRunsGiveMinusOne)
{
    CProbeDlg refused;
    refused.m_nCreateResult = -1;
    EXPECT_FALSE(refused.Create(IDD_UPGRADE_DIALOG, nullptr));
    EXPECT_EQ(refused.m_hWnd, nullptr);
    EXPECT_FALSE(refused.m_bInitDialog);

    CProbeDlg refusedModal;
    refusedModal.m_nCreateResult = -1;
    EXPECT_EQ(refusedModal.DoModal(), -1) << "no template set";

    class CModal : public CProbeDlg {
    public:
        CModal()
        {
            m_nIDTemplate = IDD_MESSAGEBOX_CAL;
            m_nCreateResult = -1;
        }
    } modalRefused;
    EXPECT_EQ(modalRefused.DoModal(), -1);
}

// Ends a modal dialog from inside its loop, the way a user's click does.
class CTimedDlg : public CDialog {
public:
    explicit CTimedDlg(UINT nAction) : CDialog(IDD_MESSAGEBOX_CAL), m_nAction(nAction) {}
    HWND m_hOther = nullptr;
    bool m_bOtherServed = false;

    BOOL OnInitDialog() override
    {
        SetTimer(7, 50);
        return TRUE;
    }

protected:
    void OnTimer(UINT_PTR nIDEvent)
    {
        KillTimer(nIDEvent);
        // Another window of the thread still gets its messages.
        m_bOtherServed = ::SendMessageW(m_hOther, WM_NULL, 0, 0) == 0 && ::PostMessageW(m_hOther, WM_NULL, 0, 0);
        if (m_nAction == WM_QUIT)
            ::PostQuitMessage(5);
        else if (m_nAction == WM_CLOSE)
            ::PostMessageW(m_hWnd, WM_SYSCOMMAND, SC_CLOSE, 0);  // the close command
        else
            ::PostMessageW(m_hWnd, WM_COMMAND, MAKEWPARAM(m_nAction, BN_CLICKED), 0);
    }
    DECLARE_MESSAGE_MAP()

private:
    UINT m_nAction;
};

BEGIN_MESSAGE_MAP(CTimedDlg, CDialog)
    ON_WM_TIMER()
END_MESSAGE_MAP()

TEST(Framework, ModalLoopEndsByOkCancelCloseAndHandsQuitOn)
{
    RegisterCompanionClass();
    CProbeDlg other;
    ASSERT_TRUE(other.Create(IDD_UPGRADE_DIALOG, nullptr));

    struct Case {
        UINT nAction;
        INT_PTR nExpected;
    } cases[] = {{IDOK, IDOK}, {IDCANCEL, IDCANCEL}, {WM_CLOSE, IDCANCEL}, {WM_QUIT, -1}};
    for (const Case& c : cases) {
        CTimedDlg dlg(c.nAction);
        dlg.m_hOther = other.m_hWnd;
        EXPECT_EQ(dlg.DoModal(), c.nExpected) << "action " << c.nAction;
        EXPECT_TRUE(dlg.m_bOtherServed);
        EXPECT_EQ(dlg.m_hWnd, nullptr) << "the modal window is destroyed";
    }
    // The quit request reached the caller's loop.
    MSG msg;
    ASSERT_TRUE(::PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(msg.wParam, 5u);
    other.DestroyWindow();
}

TEST(Framework, RegisteringAClassTwiceIsHarmless)
{
    WNDCLASSW wndcls = {};
    ASSERT_TRUE(::GetClassInfoW(AfxGetInstanceHandle(), L"#32770", &wndcls));
    wndcls.hInstance = AfxGetInstanceHandle();
    wndcls.lpszClassName = L"#AFX_TEST_CLASS";
    EXPECT_TRUE(AfxRegisterClass(&wndcls));
    EXPECT_TRUE(AfxRegisterClass(&wndcls));
}

}  // namespace
