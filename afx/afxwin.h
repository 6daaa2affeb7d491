// A small dialog framework with the classes, message maps and helpers that the
// program's two windows and its application object are written against.
#pragma once

#include <windows.h>

class CWnd;

// One message-map entry: a message number and a thunk that calls the handler
// on the right class. The thunk returns true when it handled the message.
typedef bool (*AFX_MSGTHUNK)(CWnd* pWnd, WPARAM wParam, LPARAM lParam, LRESULT* pResult);
struct AFX_MSGMAP_ENTRY {
    UINT nMessage;
    AFX_MSGTHUNK pfnThunk;
};
struct AFX_MSGMAP {
    const AFX_MSGMAP* (*pfnGetBaseMap)();
    const AFX_MSGMAP_ENTRY* lpEntries;
};

// The message-map macros keep their hand layout: each expands to one table
// entry or one function, and the formatter cannot read them as code.
// clang-format off
#define DECLARE_MESSAGE_MAP()                           \
protected:                                              \
    static const AFX_MSGMAP* GetThisMessageMap();       \
    const AFX_MSGMAP* GetMessageMap() const override;

#define BEGIN_MESSAGE_MAP(theClass, baseClass)                                             \
    const AFX_MSGMAP* theClass::GetMessageMap() const { return GetThisMessageMap(); }     \
    const AFX_MSGMAP* theClass::GetThisMessageMap()                                        \
    {                                                                                      \
        typedef theClass ThisClass;                                                        \
        typedef baseClass TheBaseClass;                                                    \
        static const AFX_MSGMAP_ENTRY _messageEntries[] = {

#define END_MESSAGE_MAP()                                                                  \
        {0, nullptr}};                                                                     \
        static const AFX_MSGMAP messageMap = {&TheBaseClass::GetThisMessageMap, _messageEntries}; \
        return &messageMap;                                                                \
    }

// int OnCreate(LPCREATESTRUCT)
#define ON_WM_CREATE()                                                                     \
    {WM_CREATE, [](CWnd* w, WPARAM, LPARAM l, LRESULT* r) {                                \
         *r = static_cast<ThisClass*>(w)->OnCreate(reinterpret_cast<LPCREATESTRUCT>(l));   \
         return true; }},
// void OnTimer(UINT_PTR)
#define ON_WM_TIMER()                                                                      \
    {WM_TIMER, [](CWnd* w, WPARAM wp, LPARAM, LRESULT* r) {                                \
         static_cast<ThisClass*>(w)->OnTimer(static_cast<UINT_PTR>(wp));                   \
         *r = 0; return true; }},
// BOOL OnCopyData(CWnd*, COPYDATASTRUCT*)
#define ON_WM_COPYDATA()                                                                   \
    {WM_COPYDATA, [](CWnd* w, WPARAM wp, LPARAM l, LRESULT* r) {                           \
         *r = static_cast<ThisClass*>(w)->OnCopyData(CWnd::FromHandlePermanent(reinterpret_cast<HWND>(wp)), \
                                                      reinterpret_cast<PCOPYDATASTRUCT>(l)); \
         return true; }},
// LRESULT memberFxn(WPARAM, LPARAM)
#define ON_MESSAGE(message, memberFxn)                                                     \
    {message, [](CWnd* w, WPARAM wp, LPARAM l, LRESULT* r) {                               \
         *r = static_cast<ThisClass*>(w)->memberFxn(wp, l); return true; }},
// clang-format on

class CWnd {
public:
    CWnd() = default;
    CWnd(const CWnd&) = delete;
    CWnd& operator=(const CWnd&) = delete;
    virtual ~CWnd();

    HWND m_hWnd = nullptr;

    // The framework object of a window it created, or null.
    static CWnd* FromHandlePermanent(HWND hWnd);

    BOOL ShowWindow(int nCmdShow) { return ::ShowWindow(m_hWnd, nCmdShow); }
    void SetWindowText(LPCWSTR pszText) { ::SetWindowTextW(m_hWnd, pszText); }
    BOOL SetForegroundWindow() { return ::SetForegroundWindow(m_hWnd); }
    UINT_PTR SetTimer(UINT_PTR nIDEvent, UINT nElapse) { return ::SetTimer(m_hWnd, nIDEvent, nElapse, nullptr); }
    BOOL KillTimer(UINT_PTR nIDEvent) { return ::KillTimer(m_hWnd, nIDEvent); }
    BOOL PostMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0)
    {
        return ::PostMessageW(m_hWnd, message, wParam, lParam);
    }
    virtual BOOL DestroyWindow();

    // Runs the message map, then the window's original procedure.
    virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    // The original procedure for the message being handled now.
    LRESULT Default();
    // The message being handled now, with its raw parameters.
    static const MSG* GetCurrentMessage();

protected:
    virtual const AFX_MSGMAP* GetMessageMap() const { return GetThisMessageMap(); }
    static const AFX_MSGMAP* GetThisMessageMap();
    // True when a map entry handled the message.
    virtual BOOL OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult);
    LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam);

    // Default handlers that derived classes call for the default processing.
    int OnCreate(LPCREATESTRUCT) { return static_cast<int>(Default()); }
    void OnTimer(UINT_PTR) { Default(); }
    BOOL OnCopyData(CWnd*, PCOPYDATASTRUCT) { return static_cast<BOOL>(Default()); }

private:
    friend LRESULT CALLBACK AfxWndProc(HWND, UINT, WPARAM, LPARAM);
    friend LRESULT CALLBACK AfxCbtFilterHook(int, WPARAM, LPARAM);
    void Attach(HWND hWnd);
    void Detach();

    WNDPROC m_pfnSuper = nullptr;
};

LRESULT CALLBACK AfxWndProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);

// Messages that only the system sends while it creates or destroys a window
// (WM_NCCREATE, WM_CREATE, WM_INITDIALOG; WM_DESTROY, WM_NCDESTROY) mean
// nothing unless the framework is creating or destroying a window on this
// thread right now: anyone may post or send them, so its windows never see
// such foreign ones.
bool AfxIsForeignLifecycleMessage(UINT message);

// Routes the next window created on this thread to pWnd (from its very first
// message on) until AfxUnhookWindowCreate.
void AfxHookWindowCreate(CWnd* pWnd);
void AfxUnhookWindowCreate();

class CDialog : public CWnd {
public:
    explicit CDialog(UINT nIDTemplate = 0, CWnd* pParentWnd = nullptr);
    ~CDialog() override;

    // Modeless: creates the dialog from its template and returns at once.
    virtual BOOL Create(UINT nIDTemplate, CWnd* pParentWnd = nullptr);
    // Modal: runs an own loop until EndDialog; -1 when the window cannot be created.
    virtual INT_PTR DoModal();
    void EndDialog(int nResult);

    virtual BOOL OnInitDialog() { return TRUE; }

protected:
    // The default Enter, Esc and close-command handling.
    virtual void OnOK() { EndDialog(IDOK); }
    virtual void OnCancel() { EndDialog(IDCANCEL); }

    BOOL OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult) override;

    UINT m_nIDTemplate;
    CWnd* m_pParentWnd;

private:
    friend INT_PTR CALLBACK AfxDlgProc(HWND, UINT, WPARAM, LPARAM);
    HWND CreateFromTemplate(HWND hWndParent);

    bool m_bModal = false;
    bool m_bInitialised = false;  // OnInitDialog has run
    bool m_bContinueModal = false;
    INT_PTR m_nModalResult = -1;
};

class CWinApp {
public:
    explicit CWinApp(LPCWSTR pszAppName = nullptr);
    virtual ~CWinApp() = default;

    virtual BOOL InitInstance() { return TRUE; }
    virtual int ExitInstance() { return 0; }
    // The framework's loop for an application that returned TRUE from
    // InitInstance. The program never names a main window, so the loop quits
    // at once and only leads on to ExitInstance.
    virtual int Run();

    HINSTANCE m_hInstance = nullptr;
    // The application title: the name given, else the executable's file name
    // without extension.
    LPCWSTR m_pszAppName = nullptr;
};

CWinApp* AfxGetApp();
HINSTANCE AfxGetInstanceHandle();
// Registers the class unless a class of that name is already registered.
BOOL AfxRegisterClass(WNDCLASSW* lpWndClass);
// A plain GetMessageW loop for every window of the thread, without dialog
// keyboard handling; a failed GetMessageW is skipped, WM_QUIT ends it. A
// message for which pfnDrop answers true is neither translated nor dispatched.
typedef bool (*PFN_AFX_DROP_MESSAGE)(const MSG& msg);
void AfxRunMessageLoop(PFN_AFX_DROP_MESSAGE pfnDrop = nullptr);
int AfxMessageBox(LPCWSTR lpszText, UINT nType = MB_OK, UINT nIDHelp = 0);
void AfxEnableControlContainer();
// The framework's entry point: InitInstance, then Run or ExitInstance.
int AfxWinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPWSTR lpCmdLine, int nCmdShow);
