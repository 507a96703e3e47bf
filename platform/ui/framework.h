// The small dialog framework the application is written against: an application object,
// modal dialogs built from resource templates, controls looked up by identifier, message
// boxes. Control calls may come from any thread; they are carried out on the UI thread
// and finished before they return, and the UI thread never waits for the caller.
// framework.cpp is the toolkit-neutral part; backend.h lists what a back end provides.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "platform/winapi.h"

#ifndef _WIN32
typedef struct HWND__* HWND;
typedef struct HICON__* HICON;
typedef HICON HCURSOR;
typedef struct HDC__* HDC;
typedef uintptr_t WPARAM;
typedef intptr_t LPARAM;
typedef intptr_t LRESULT;
typedef intptr_t INT_PTR;
typedef struct tagRECT {
    LONG left;
    LONG top;
    LONG right;
    LONG bottom;
} RECT, *LPRECT;

int WINAPI MessageBoxExA(HWND owner, LPCSTR text, LPCSTR caption, UINT type, WORD language);
int WINAPI GetSystemMetrics(int index);
#else
// Message boxes go through the framework, so that CancelMessageBoxes can end them.
namespace tarvic::ui {
int WINAPI ShowMessageBox(HWND owner, LPCSTR text, LPCSTR caption, UINT type, WORD language);
}
#define MessageBoxExA ::tarvic::ui::ShowMessageBox
#endif

#ifndef IDOK
#define IDOK 1
#endif
#ifndef IDCANCEL
#define IDCANCEL 2
#endif
#ifndef ID_HELP
#define ID_HELP 0xE146
#endif
#ifndef WM_PAINT
#define WM_PAINT 0x000F
#endif
#ifndef WM_ICONERASEBKGND
#define WM_ICONERASEBKGND 0x0027
#endif
#ifndef WM_SYSCOMMAND
#define WM_SYSCOMMAND 0x0112
#endif
#ifndef SW_HIDE
#define SW_HIDE 0
#endif
#ifndef SW_SHOW
#define SW_SHOW 5
#endif
#ifndef WM_QUERYDRAGICON
#define WM_QUERYDRAGICON 0x0037
#endif
#ifndef SM_CXICON
#define SM_CXICON 11
#endif
#ifndef SM_CYICON
#define SM_CYICON 12
#endif
#ifndef MB_OK
#define MB_OK 0x00000000u
#endif
#ifndef MB_ICONERROR
#define MB_ICONERROR 0x00000010u
#endif
#ifndef MB_ICONQUESTION
#define MB_ICONQUESTION 0x00000020u
#endif
#ifndef MB_ICONWARNING
#define MB_ICONWARNING 0x00000030u
#endif
#ifndef MB_ICONINFORMATION
#define MB_ICONINFORMATION 0x00000040u
#endif
#ifndef MB_ICONMASK
#define MB_ICONMASK 0x000000F0u
#endif
#ifndef MB_TASKMODAL
#define MB_TASKMODAL 0x00002000u
#endif
#ifndef CB_ERR
#define CB_ERR (-1)
#endif
#ifndef LB_ERR
#define LB_ERR (-1)
#endif

// Texts passed to and read from the framework are Windows-1251.
using CString = std::string;

class CWnd;
class CWinApp;
namespace tarvic::ui {
struct UiBackend;
}

// A message map: which member handles which message. A window's map lists only its own
// handlers; everything else gets the default handling.
using MessageHandler = std::function<LRESULT(CWnd* wnd, WPARAM wParam, LPARAM lParam)>;
struct MessageMapEntry {
    UINT message;
    MessageHandler handler;
};
using MessageMap = std::vector<MessageMapEntry>;

// Adapts a handler member taking no arguments (void OnPaint(), HCURSOR OnQueryDragIcon())
// to a map entry.
template <class T, class R>
MessageHandler OnMessage(R (T::*handler)()) {
    return [handler](CWnd* wnd, WPARAM, LPARAM) -> LRESULT {
        T* self = static_cast<T*>(wnd);
        if constexpr (std::is_void_v<R>) {
            (self->*handler)();
            return 0;
        } else if constexpr (std::is_pointer_v<R>) {
            return reinterpret_cast<LRESULT>((self->*handler)());
        } else {
            return static_cast<LRESULT>((self->*handler)());
        }
    };
}

// The application's command map: which member of the application object carries out
// which command.
using CommandHandler = std::function<void(CWinApp* app)>;
struct CommandMapEntry {
    UINT id;
    CommandHandler handler;
};
using CommandMap = std::vector<CommandMapEntry>;

template <class T>
CommandHandler OnCommand(void (T::*handler)()) {
    return [handler](CWinApp* app) { (static_cast<T*>(app)->*handler)(); };
}

class CWnd {
  public:
    CWnd();
    virtual ~CWnd();
    CWnd(const CWnd&) = delete;
    CWnd& operator=(const CWnd&) = delete;

    HWND GetSafeHwnd() const { return m_hWnd; }
    int GetDlgCtrlID() const { return m_nID; }

    // The control's object, owned by its dialog and valid for the dialog object's life
    // (after the window has gone its calls do nothing); nullptr for an unknown id.
    CWnd* GetDlgItem(int id) const;
    void SetDlgItemText(int id, const char* text);
    int GetDlgItemText(int id, CString& out) const;
    void SetWindowText(const char* text);
    int GetWindowText(CString& out) const;

    // Returns TRUE if the window was disabled before the call.
    BOOL EnableWindow(BOOL enable = TRUE);
    BOOL IsWindowEnabled() const;
    BOOL IsWindowVisible() const;
    // SW_SHOW or SW_HIDE; returns TRUE if the window was visible before the call.
    BOOL ShowWindow(int nCmdShow);

    // An item of the window's system menu (on Linux the context menu of the dialog's
    // background, which stands in for it): choosing it, or pressing Ctrl with ctrlKey (an
    // upper-case letter or digit; 0 for none), sends the window WM_SYSCOMMAND with id. The
    // id is below 0xF000, where the system's own items start, with its low four bits clear.
    BOOL AppendSystemMenuItem(UINT id, const char* text, char ctrlKey);
    // Puts a check mark on the item or takes it away.
    void CheckSystemMenuItem(UINT id, BOOL checked);

    HICON SetIcon(HICON icon, BOOL big);
    HICON GetIcon(BOOL big) const;
    BOOL IsIconic() const;
    void GetClientRect(LPRECT rect) const;
    LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0);

  protected:
    // Looks the message up in GetMessageMap(), else gives it the default handling.
    virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    virtual const MessageMap& GetMessageMap() const;

  private:
    friend struct tarvic::ui::UiBackend;

    HWND m_hWnd = nullptr;  // touched on the UI thread only
    int m_nID = 0;
    HICON m_hIconBig = nullptr;
    HICON m_hIconSmall = nullptr;
    std::vector<std::unique_ptr<CWnd>> m_controls;  // a dialog's controls, template order
};

class CComboBox : public CWnd {
  public:
    // Sorted controls insert in sorted place, others append; returns the entry's index.
    int AddString(const char* text);
    // Returns the index, or CB_ERR when it is out of range (the selection is then cleared).
    int SetCurSel(int index);
    // The selected entry, or CB_ERR when none is (also after the user typed in the field).
    int GetCurSel() const;
    int GetCount() const;
    int GetLBText(int index, CString& out) const;
};

class CListBox : public CWnd {
  public:
    // Returns the new entry's index.
    int AddString(const char* text);
    // Returns the number of entries left, or LB_ERR when index is out of range.
    int DeleteString(int index);
    int GetCount() const;
    int GetText(int index, CString& out) const;
};

class CDataExchange {
  public:
    CDataExchange(CWnd* dlg, BOOL saveAndValidate)
        : m_bSaveAndValidate(saveAndValidate), m_pDlgWnd(dlg) {}
    BOOL m_bSaveAndValidate;
    CWnd* m_pDlgWnd;
};

class CDialog : public CWnd {
  public:
    explicit CDialog(UINT templateId, CWnd* parent = nullptr);
    ~CDialog() override;

    // Builds the window from its template, calls OnInitDialog and serves events until
    // EndDialog; returns EndDialog's result, or -1 if the template cannot be found.
    virtual INT_PTR DoModal();
    void EndDialog(int result);
    BOOL UpdateData(BOOL saveAndValidate = TRUE);

    virtual void OnOK();      // IDOK: ends the dialog with IDOK
    virtual void OnCancel();  // IDCANCEL (Esc, close box): ends the dialog with IDCANCEL

  protected:
    virtual void DoDataExchange(CDataExchange* dx);
    virtual BOOL OnInitDialog();
    void OnPaint();  // the default painting

  private:
    friend struct tarvic::ui::UiBackend;
    struct ModalState;

    UINT m_nIDTemplate;
    CWnd* m_pParentWnd;
    ModalState* m_pModal = nullptr;  // set while DoModal runs
};

class CDC {
  public:
    HDC GetSafeHdc() const { return m_hDC; }
    // Draws the icon's large image with its top-left corner at (x, y).
    BOOL DrawIcon(int x, int y, HICON icon);

  protected:
    HDC m_hDC = nullptr;
};

// Painting on a window, valid only while it handles WM_PAINT.
class CPaintDC : public CDC {
  public:
    explicit CPaintDC(CWnd* wnd);
    ~CPaintDC();
    CPaintDC(const CPaintDC&) = delete;
    CPaintDC& operator=(const CPaintDC&) = delete;

  private:
    CWnd* m_pWnd;
};

class CWinApp {
  public:
    // The one application object; with no name the framework takes the program's name.
    explicit CWinApp(const char* name = nullptr);
    virtual ~CWinApp();
    CWinApp(const CWinApp&) = delete;
    CWinApp& operator=(const CWinApp&) = delete;

    // Called once at start; FALSE ends the program without an event loop.
    virtual BOOL InitInstance();
    // The event loop, entered only when InitInstance returns TRUE.
    virtual int Run();

    // The icon resource; owned by the framework for the life of the program.
    HICON LoadIcon(UINT id) const;
    // The standard help command; the program has no help file, so it shows nothing.
    void OnHelp() {}

    // Carries out the command through the application's map; FALSE when no entry has it.
    BOOL OnCmdMsg(UINT id) {
        for (const CommandMapEntry& entry : GetMessageMap()) {
            if (entry.id == id) {
                entry.handler(this);
                return TRUE;
            }
        }
        return FALSE;
    }

    CWnd* m_pMainWnd = nullptr;
    std::string m_strAppName;

  protected:
    virtual const CommandMap& GetMessageMap() const {
        static const CommandMap none;
        return none;
    }
    // Does nothing: controls always have the toolkit's own three-dimensional look.
    BOOL Enable3dControlsStatic() { return TRUE; }
};

CWinApp* AfxGetApp();
// Does nothing: dialogs host no embedded components, so there is no container to enable.
inline void AfxEnableControlContainer() {}

// On the UI thread: serves events (other threads' control calls and message boxes
// included) until done() is true; done() is checked at least every 10 ms.
void PumpMessagesUntil(const std::function<bool()>& done);
// On the UI thread: serves events, as above, until the thread has ended (elsewhere: waits).
// A request to quit that comes meanwhile is not lost: it is made again after the wait.
void WaitForThreadServingMessages(HANDLE thread);

// Closes every message box that a non-UI thread has up (its MessageBoxExA returns
// IDCANCEL) and makes later MessageBoxExA calls from non-UI threads return IDCANCEL at
// once, until the next dialog starts. Used when the dialog is closed during a check run.
void CancelMessageBoxes();
