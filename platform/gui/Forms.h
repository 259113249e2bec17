#pragma once
// Forms: top-level windowed controls with a border style, a window state,
// the show, close-query and destroy events, and the window placement record
// (normal rectangle, minimised and maximised positions, show command) kept
// for each top-level window.
//
// A form is made hidden; Show fires OnShow while the window is still hidden
// (so a handler may place it), then shows it. WM_CLOSE closes the form:
// OnCloseQuery decides, and an allowed close hides it. OnDestroy fires once,
// before any part of the form goes: free a form through TFormDeleter (or
// call BeforeDestruction yourself) so a derived form is still whole then.
// When the widget toolkit runs, a shown form is put on screen by a host that
// follows the window's position, size and state (minimised, maximised) both
// ways, and shows the border icons the form asks for.

#include <functional>
#include <memory>
#include <vector>

#include "platform/gui/Controls.h"

namespace nuq {

class TWindowHost;
class TForm;

enum TFormBorderStyle { bsNone, bsSingle, bsSizeable, bsDialog, bsToolWindow, bsSizeToolWin };
enum : unsigned { biSystemMenu = 1, biMinimize = 2, biMaximize = 4, biHelp = 8 }; // BorderIcons
enum TPosition {
    poDesigned,
    poDefault,
    poDefaultPosOnly,
    poDefaultSizeOnly,
    poScreenCenter,
    poDesktopCenter,
    poMainFormCenter,
    poOwnerFormCenter,
};
enum TWindowState { wsNormal, wsMinimized, wsMaximized };
enum TFormStyle { fsNormal, fsMDIChild, fsMDIForm, fsStayOnTop };

// Show commands of the placement record.
enum : UINT {
    SW_SHOWNORMAL = 1,
    SW_SHOWMINIMIZED = 2,
    SW_SHOWMAXIMIZED = 3,
    SW_SHOWNOACTIVATE = 4,
    SW_MINIMIZE = 6,
    SW_SHOWMINNOACTIVE = 7,
    SW_RESTORE = 9,
};
enum : UINT { WPF_SETMINPOSITION = 1, WPF_RESTORETOMAXIMIZED = 2 };
enum : UINT { SC_SIZE = 0xF000, SC_MINIMIZE = 0xF020, SC_MAXIMIZE = 0xF030, SC_RESTORE = 0xF120 };
enum : UINT { WM_INITMENUPOPUP = 0x0117 };
// Border metrics.
enum : int { SM_CXDLGFRAME = 7, SM_CYDLGFRAME = 8, SM_CXFRAME = 32, SM_CYFRAME = 33 };

struct TWindowPlacement {
    UINT Length = 0;
    UINT Flags = 0;
    UINT ShowCmd = 0;
    TPoint MinPosition, MaxPosition;
    TRect NormalPosition;
};
// For a top-level window; false for no window or a wrong record length (44).
bool GetWindowPlacement(HWND wnd, TWindowPlacement& wp);
bool SetWindowPlacement(HWND wnd, const TWindowPlacement& wp);

// The answer to WM_GETMINMAXINFO, which LParam points to.
struct TMinMaxInfo {
    TPoint Reserved, MaxSize, MaxPosition, MinTrackSize, MaxTrackSize;
};
// Where the window goes when maximised: the maximised position and size of
// its answer to the size query, else the whole screen. Own: whether the
// answer chose either.
TRect MaximizedBounds(HWND wnd, bool* own = nullptr);

using TNotifyEvent = std::function<void(TComponent& sender)>;
using TCloseQueryEvent = std::function<void(TComponent& sender, bool& canClose)>;

class TForm : public TWinControl {
public:
    explicit TForm(TComponent* owner = nullptr);
    ~TForm() override;

    TFormBorderStyle BorderStyle = bsSizeable;
    unsigned BorderIcons() const { return FBorderIcons; }
    void SetBorderIcons(unsigned icons); // the host shows the new ones
    TPosition Position = poDesigned;
    TFormStyle FormStyle = fsNormal;
    std::string Caption;

    TNotifyEvent OnShow;
    TCloseQueryEvent OnCloseQuery;
    TNotifyEvent OnDestroy;

    TWindowState WindowState() const { return FWindowState; }
    // Applies the state to the window (maximised fills the screen).
    void SetWindowState(TWindowState state);
    // Sets the state without touching the window, as multiple-document forms take it.
    void SetWindowStateField(TWindowState state) { FWindowState = state; }

    TWinControl* ActiveControl() const { return FActiveControl; }
    void SetActiveControl(TWinControl* control);
    // Visible and enabled, with every parent up to this form.
    bool CanFocusControl(TWinControl* control) const;

    void Show();
    void Hide();
    // Asks OnCloseQuery; hides the form when it may close (and ends the
    // program's loop when it is the main form). False when it may not.
    bool Close();
    virtual bool CloseQuery();
    // Tells the form's components that it has been made (they hook its events then).
    void Loaded() override;
    // Fires OnDestroy, once.
    void BeforeDestruction();

    TWindowHost* Host() const { return FHost.get(); }
    void Dispatch(TMessage& msg) override;
    void Notification(TComponent* component, TOperation operation) override;

protected:
    void CreateParams(TCreateParams& params) override;
    void DestroyWnd() override;

private:
    void SyncBounds();
    TWindowState FWindowState = wsNormal;
    unsigned FBorderIcons = biSystemMenu | biMinimize | biMaximize;
    TWinControl* FActiveControl = nullptr;
    std::unique_ptr<TWindowHost> FHost;
    bool FDestroyFired = false;
    bool FShownOnce = false;
};

struct TFormDeleter {
    void operator()(TForm* form) const {
        form->BeforeDestruction();
        delete form;
    }
};
template <class T> using TFormPtr = std::unique_ptr<T, TFormDeleter>;

// Makes a form, then tells it and its components that loading is over.
template <class T, class... Args> TFormPtr<T> CreateForm(Args&&... args) {
    TFormPtr<T> form(new T(std::forward<Args>(args)...));
    form->Loaded();
    return form;
}

// Every form that exists, in order of making.
const std::vector<TForm*>& ScreenForms();
// The application's main form; none unless one is set.
TForm* MainForm();
void SetMainForm(TForm* form);

} // namespace nuq
