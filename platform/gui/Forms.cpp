#include "platform/gui/Forms.h"

#include "platform/gui/GdiPrivate.h"
#include "platform/gui/TypInfo.h"
#include "platform/gui/WindowHost.h"

#include <algorithm>
#include <map>
#include <mutex>

namespace nuq {

namespace {

std::vector<TForm*>& FormList() {
    static auto* forms = new std::vector<TForm*>;
    return *forms;
}

TForm* mainForm = nullptr;

// What the placement record holds beyond the window rectangle.
struct TPlacementRec {
    UINT Flags = 0;
    TPoint MinPosition{-1, -1}, MaxPosition{-1, -1};
    TRect Normal;
    TWindowState State = wsNormal;
};
std::map<HWND, TPlacementRec>& Placements() {
    static auto* p = new std::map<HWND, TPlacementRec>;
    return *p;
}

TPlacementRec& PlacementOf(HWND wnd) {
    auto [it, added] = Placements().try_emplace(wnd);
    if (added) GetWindowRect(wnd, it->second.Normal);
    return it->second;
}

// Puts the window where its state says: the normal rectangle, or the
// maximised one. The host shows the state itself, so it hears of it even
// when the rectangle stays.
void ApplyState(HWND wnd, TPlacementRec& p) {
    if (p.State != wsMinimized) { // a minimised window keeps its place
        TRect r = p.State == wsMaximized ? MaximizedBounds(wnd) : p.Normal;
        SetWindowPos(wnd, r.Left, r.Top, r.Width(), r.Height(), SWP_NOZORDER);
    }
    NoteWindowsChanged();
}

// What the framework publishes of a form, besides what every control does.
void RegisterFormClass() {
    TPublisher<TForm> f;
    f.Ordinal(
         "BorderIcons", tkSet, [](TForm& o) { return o.BorderIcons(); },
         [](TForm& o, int64_t v) { o.SetBorderIcons(unsigned(v)); },
         {"biSystemMenu", "biMinimize", "biMaximize", "biHelp"})
        .Default(biSystemMenu | biMinimize | biMaximize);
    f.Ordinal(
         "BorderStyle", tkEnumeration, [](TForm& o) { return o.BorderStyle; },
         [](TForm& o, int64_t v) { o.BorderStyle = TFormBorderStyle(v); },
         {"bsNone", "bsSingle", "bsSizeable", "bsDialog", "bsToolWindow", "bsSizeToolWin"})
        .Default(bsSizeable);
    f.String(
        "Caption", [](TForm& o) { return o.Caption; },
        [](TForm& o, const std::string& v) { o.Caption = v; });
    f.Ordinal(
         "FormStyle", tkEnumeration, [](TForm& o) { return o.FormStyle; },
         [](TForm& o, int64_t v) { o.FormStyle = TFormStyle(v); },
         {"fsNormal", "fsMDIChild", "fsMDIForm", "fsStayOnTop"})
        .Default(fsNormal);
    f.Ordinal(
         "Position", tkEnumeration, [](TForm& o) { return o.Position; },
         [](TForm& o, int64_t v) { o.Position = TPosition(v); },
         {"poDesigned", "poDefault", "poDefaultPosOnly", "poDefaultSizeOnly", "poScreenCenter",
          "poDesktopCenter", "poMainFormCenter", "poOwnerFormCenter"})
        .Default(poDesigned);
    f.Ordinal(
         "WindowState", tkEnumeration, [](TForm& o) { return o.WindowState(); },
         [](TForm& o, int64_t v) { o.SetWindowState(TWindowState(v)); },
         {"wsNormal", "wsMinimized", "wsMaximized"})
        .Default(wsNormal);
    RegisterClass<TForm>("TForm", f);
}

} // namespace

TRect MaximizedBounds(HWND wnd, bool* own) {
    TMinMaxInfo info;
    SendMessage(wnd, WM_GETMINMAXINFO, 0, LPARAM(&info));
    if (own) *own = info.MaxSize.X > 0 || info.MaxSize.Y > 0 || info.MaxPosition != TPoint{};
    return Bounds(info.MaxPosition.X, info.MaxPosition.Y,
                  info.MaxSize.X > 0 ? info.MaxSize.X : Screen().Width,
                  info.MaxSize.Y > 0 ? info.MaxSize.Y : Screen().Height);
}

bool GetWindowPlacement(HWND wnd, TWindowPlacement& wp) {
    if (!IsWindow(wnd) || wp.Length != 44) return false;
    TPlacementRec& p = PlacementOf(wnd);
    if (p.State == wsNormal) GetWindowRect(wnd, p.Normal);
    wp.Flags = p.Flags;
    wp.ShowCmd = p.State == wsMaximized   ? SW_SHOWMAXIMIZED
                 : p.State == wsMinimized ? SW_SHOWMINIMIZED
                                          : SW_SHOWNORMAL;
    wp.MinPosition = p.MinPosition;
    wp.MaxPosition = p.MaxPosition;
    wp.NormalPosition = p.Normal;
    return true;
}

bool SetWindowPlacement(HWND wnd, const TWindowPlacement& wp) {
    if (!IsWindow(wnd) || wp.Length != 44) return false;
    TPlacementRec& p = PlacementOf(wnd);
    p.Flags = wp.Flags;
    p.MinPosition = wp.MinPosition;
    p.MaxPosition = wp.MaxPosition;
    p.Normal = wp.NormalPosition;
    switch (wp.ShowCmd) {
    case SW_HIDE:
        ShowWindow(wnd, SW_HIDE);
        break;
    case SW_SHOWMINIMIZED:
    case SW_MINIMIZE:
    case SW_SHOWMINNOACTIVE:
        p.State = wsMinimized;
        break;
    case SW_SHOWMAXIMIZED:
        p.State = wsMaximized;
        break;
    default:
        p.State = wsNormal;
        break;
    }
    ApplyState(wnd, p);
    if (wp.ShowCmd != SW_HIDE) ShowWindow(wnd, SW_SHOW);
    return true;
}

const std::vector<TForm*>& ScreenForms() {
    return FormList();
}

TForm* MainForm() {
    return mainForm;
}

void SetMainForm(TForm* form) {
    mainForm = form;
}

TForm::TForm(TComponent* owner) : TWinControl(owner) {
    static std::once_flag registered;
    std::call_once(registered, RegisterFormClass);
    FVisible = false;
    ComponentState |= csLoading;
    FormList().push_back(this);
}

TForm::~TForm() {
    BeforeDestruction();
    Destroying();
    std::erase(FormList(), this);
    if (mainForm == this) mainForm = nullptr;
    DestroyHandle();
}

void TForm::BeforeDestruction() {
    if (FDestroyFired) return;
    FDestroyFired = true;
    if (OnDestroy) OnDestroy(*this);
}

void TForm::Loaded() {
    for (TComponent* c : std::vector<TComponent*>(Components())) c->Loaded();
    TWinControl::Loaded();
}

void TForm::CreateParams(TCreateParams& p) {
    TWinControl::CreateParams(p);
    p.ClassName = ClassName();
    p.Caption = Caption;
    p.Style |= WS_CAPTION;
}

void TForm::DestroyWnd() {
    FHost.reset();
    HWND h = WindowHandle();
    TWinControl::DestroyWnd();
    Placements().erase(h);
}

void TForm::SyncBounds() {
    TRect r;
    if (!HandleAllocated() || !GetWindowRect(WindowHandle(), r)) return;
    FLeft = r.Left;
    FTop = r.Top;
    FWidth = r.Width();
    FHeight = r.Height();
}

void TForm::SetWindowState(TWindowState state) {
    if (state == FWindowState && (!HandleAllocated() || PlacementOf(WindowHandle()).State == state))
        return;
    FWindowState = state;
    if (!HandleAllocated()) return;
    TPlacementRec& p = PlacementOf(WindowHandle());
    if (p.State == wsNormal) GetWindowRect(WindowHandle(), p.Normal);
    p.State = state;
    ApplyState(WindowHandle(), p);
}

void TForm::SetBorderIcons(unsigned icons) {
    if (icons == FBorderIcons) return;
    FBorderIcons = icons;
    NoteWindowsChanged();
}

bool TForm::CanFocusControl(TWinControl* control) const {
    if (!control) return false;
    for (TControl* c = control; c; c = c->Parent()) {
        if (!c->Enabled) return false;
        if (c != this && !c->Visible()) return false;
        if (c == this) return true;
    }
    return false; // not on this form
}

void TForm::SetActiveControl(TWinControl* control) {
    if (control == FActiveControl) return;
    if (FActiveControl) FActiveControl->RemoveFreeNotification(this);
    FActiveControl = control;
    if (control) {
        control->FreeNotification(this);
        if (FVisible && control->HandleAllocated()) SetFocus(control->WindowHandle());
    }
}

void TForm::Notification(TComponent* component, TOperation operation) {
    TWinControl::Notification(component, operation);
    if (operation == opRemove && component == FActiveControl) FActiveControl = nullptr;
}

void TForm::Show() {
    HandleNeeded();
    if (FVisible && IsWindowVisible(WindowHandle())) return;
    FVisible = true;
    if (OnShow) OnShow(*this);
    if (!HandleAllocated()) return;
    if (!FShownOnce && (Position == poScreenCenter || Position == poDesktopCenter)) {
        SetBounds((Screen().Width - FWidth) / 2, (Screen().Height - FHeight) / 2, FWidth, FHeight);
    }
    FShownOnce = true;
    if (FVisible) ShowWindow(WindowHandle(), SW_SHOW);
    SyncBounds();
    if (GuiApplicationStarted()) {
        if (!FHost) FHost = std::make_unique<TWindowHost>(WindowHandle(), true);
        FHost->Show();
    }
    if (FActiveControl && FActiveControl->HandleAllocated())
        SetFocus(FActiveControl->WindowHandle());
}

void TForm::Hide() {
    FVisible = false;
    if (HandleAllocated()) ShowWindow(WindowHandle(), SW_HIDE);
    if (FHost) FHost->Hide();
}

bool TForm::CloseQuery() {
    bool canClose = true;
    if (OnCloseQuery) OnCloseQuery(*this, canClose);
    return canClose;
}

bool TForm::Close() {
    if (!CloseQuery()) return false;
    Hide();
    if (this == mainForm) PostQuitMessage(0); // the main form's close ends the program
    return true;
}

void TForm::Dispatch(TMessage& m) {
    switch (m.Msg) {
    case WM_CLOSE:
        Close();
        return;
    case WM_MOVE:
    case WM_SIZE:
        TWinControl::Dispatch(m);
        SyncBounds();
        return;
    case WM_SYSCOMMAND:
        switch (m.WParam & 0xFFF0) {
        case SC_MINIMIZE:
            SetWindowState(wsMinimized);
            return;
        case SC_MAXIMIZE:
            SetWindowState(wsMaximized);
            return;
        case SC_RESTORE:
            SetWindowState(wsNormal);
            return;
        }
        break;
    }
    TWinControl::Dispatch(m);
}

} // namespace nuq
