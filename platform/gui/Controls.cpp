#include "platform/gui/Controls.h"
#include "platform/gui/GdiPrivate.h"
#include "platform/gui/TypInfo.h"

#include "platform/EventLoop.h"
#include "platform/ScopeGuard.h"

#include <QGuiApplication>

#include <atomic>

#include <algorithm>
#include <mutex>
#include <unordered_map>

namespace nuq {

namespace {
// The windows our controls made (the user-interface thread only).
std::unordered_map<HWND, TWinControl*>& WindowControls() {
    static std::unordered_map<HWND, TWinControl*> map;
    return map;
}
// A stored place or size that no window can have (a damaged file) is taken
// at the nearest one it can: nothing after it computes beyond the int range.
int Coordinate(int64_t v) {
    return int(std::clamp<int64_t>(v, -32768, 32767));
}
int Extent(int64_t v) {
    return int(std::clamp<int64_t>(v, 0, 32767));
}

// What the framework publishes of every control: its place and size and its
// help topic. Classes of controls that publish nothing more inherit these.
void RegisterControlClass() {
    TPublisher<TControl> c;
    c.Integer(
        "Left", [](TControl& o) { return o.Left(); },
        [](TControl& o, int64_t v) { o.SetBounds(Coordinate(v), o.Top(), o.Width(), o.Height()); });
    c.Integer(
        "Top", [](TControl& o) { return o.Top(); },
        [](TControl& o, int64_t v) {
            o.SetBounds(o.Left(), Coordinate(v), o.Width(), o.Height());
        });
    c.Integer(
        "Width", [](TControl& o) { return o.Width(); },
        [](TControl& o, int64_t v) { o.SetWidth(Extent(v)); });
    c.Integer(
        "Height", [](TControl& o) { return o.Height(); },
        [](TControl& o, int64_t v) { o.SetHeight(Extent(v)); });
    c.Integer(
         "HelpContext", [](TControl& o) { return o.HelpContext; },
         [](TControl& o, int64_t v) { o.HelpContext = int(v); })
        .Default(0);
    RegisterClass<TControl>("TControl", c);
}

} // namespace

TWinControl* FindControl(HWND wnd) {
    auto it = WindowControls().find(wnd);
    return it == WindowControls().end() ? nullptr : it->second;
}

// --- control ----------------------------------------------------------------------

TControl::TControl(TComponent* owner) : TComponent(owner) {
    static std::once_flag registered;
    std::call_once(registered, RegisterControlClass);
    WindowProc = [this](TMessage& m) { WndProc(m); };
}

TControl::~TControl() {
    Destroying();
    SetParent(nullptr);
}

void TControl::SetParent(TWinControl* parent) {
    if (parent == FParent) return;
    if (FParent) {
        std::erase(FParent->FControls, this);
        if (!IsWindowed()) FParent->Invalidate();
    }
    FParent = parent;
    if (FParent) {
        FParent->FControls.push_back(this);
        Invalidate();
    }
}

void TControl::SetBounds(int left, int top, int width, int height) {
    if (!IsWindowed()) Invalidate();
    FLeft = left;
    FTop = top;
    FWidth = width;
    FHeight = height;
    if (!IsWindowed()) Invalidate();
}

void TControl::SetVisible(bool v) {
    if (v == FVisible) return;
    FVisible = v;
    if (FParent) FParent->Invalidate();
}

LRESULT TControl::Perform(UINT msg, WPARAM w, LPARAM l) {
    TMessage m{msg, w, l, 0};
    if (WindowProc) WindowProc(m);
    return m.Result;
}

void TControl::Invalidate() {
    if (FParent && FParent->HandleAllocated() && FVisible) {
        TRect r = BoundsRect();
        InvalidateRect(FParent->Handle(), &r, !(ControlStyle & csOpaque));
    }
}

void TControl::Update() {
    if (FParent) FParent->Update();
}

void TControl::Repaint() {
    Invalidate();
    Update();
}

// --- windowed control -------------------------------------------------------------------

TWinControl::TWinControl(TComponent* owner) : TControl(owner) {}

TWinControl::~TWinControl() {
    Destroying();
    for (TControl* c : std::vector<TControl*>(FControls)) c->SetParent(nullptr);
    DestroyHandle();
    SetParent(nullptr);
}

HWND TWinControl::Handle() {
    HandleNeeded();
    return FHandle;
}

void TWinControl::HandleNeeded() {
    if (FHandle) return;
    if (FParent) FParent->HandleNeeded();
    CreateHandle();
}

void TWinControl::CreateHandle() {
    if (!FHandle) CreateWnd();
}

void TWinControl::CreateParams(TCreateParams& p) {
    p.ClassName = "TWinControl";
    p.ClassStyle = CS_HREDRAW | CS_VREDRAW;
    p.Style = WS_CLIPCHILDREN;
    if (FParent) p.Style |= WS_CHILD | WS_CLIPSIBLINGS;
    if (FVisible) p.Style |= WS_VISIBLE;
    if (TabStop) p.Style |= WS_TABSTOP;
    p.X = FLeft;
    p.Y = FTop;
    p.Width = FWidth;
    p.Height = FHeight;
    p.Parent = FParent ? FParent->Handle() : 0;
}

void TWinControl::CreateWnd() {
    TCreateParams p;
    CreateParams(p);
    p.Proc = {[this](HWND h, UINT m, WPARAM w, LPARAM l) { return MainWndProc(h, m, w, l); }, this};
    ControlState |= csCreating;
    HWND h = CreateWindowEx(p);
    ControlState &= ~csCreating;
    FHandle = h;
    if (h) WindowControls()[h] = this;
}

void TWinControl::DestroyWnd() {
    if (FHandle) {
        WindowControls().erase(FHandle);
        DestroyWindow(FHandle);
    }
    FHandle = 0;
}

void TWinControl::DestroyHandle() {
    if (!FHandle) return;
    ControlState |= csDestroyingHandle;
    DestroyWnd();
    ControlState &= ~csDestroyingHandle;
}

void TWinControl::RecreateWnd() {
    if (!FHandle) return;
    DestroyHandle();
    HandleNeeded();
}

LRESULT TWinControl::MainWndProc(HWND wnd, UINT msg, WPARAM w, LPARAM l) {
    if (!FHandle) { // messages of the creation come before CreateWindowEx returns
        FHandle = wnd;
        WindowControls()[wnd] = this;
    }
    TMessage m{msg, w, l, 0};
    if (WindowProc) WindowProc(m);
    if (msg == WM_NCDESTROY) {
        if (auto it = WindowControls().find(wnd);
            it != WindowControls().end() && it->second == this)
            WindowControls().erase(it);
        if (FHandle == wnd) FHandle = 0;
    }
    return m.Result;
}

TRect TWinControl::ClientRect() {
    TRect r{0, 0, FWidth, FHeight};
    if (FHandle) GetClientRect(FHandle, r);
    return r;
}

void TWinControl::SetBounds(int left, int top, int width, int height) {
    bool changed = left != FLeft || top != FTop || width != FWidth || height != FHeight;
    FLeft = left;
    FTop = top;
    FWidth = width;
    FHeight = height;
    if (changed && FHandle) SetWindowPos(FHandle, left, top, width, height, SWP_NOZORDER);
}

void TWinControl::SetVisible(bool v) {
    if (v == FVisible) return;
    FVisible = v;
    if (FHandle) ShowWindow(FHandle, v ? SW_SHOW : SW_HIDE);
}

void TWinControl::SetParent(TWinControl* parent) {
    if (parent == FParent) return;
    if (FHandle) DestroyHandle(); // a window keeps its parent; it comes back on demand
    TControl::SetParent(parent);
}

void TWinControl::Invalidate() {
    if (FHandle) InvalidateRect(FHandle, nullptr, !(ControlStyle & csOpaque));
}

void TWinControl::Update() {
    if (FHandle) UpdateWindow(FHandle);
}

void TWinControl::Dispatch(TMessage& m) {
    switch (m.Msg) {
    case WM_PAINT:
        PaintHandler(m);
        return;
    case WM_ERASEBKGND: {
        HBRUSH b = CreateSolidBrush(ColorToRGB(Color));
        FillRect(reinterpret_cast<HDC>(m.WParam), ClientRect(), b);
        DeleteObject(b);
        m.Result = 1;
        return;
    }
    case WM_SYSCOLORCHANGE:
        Perform(CM_SYSCOLORCHANGE, m.WParam, m.LParam);
        return;
    case CM_SYSCOLORCHANGE:
        Broadcast(m);
        return;
    case WM_SETCURSOR:
        if (Screen().GlobalCursor != crDefault) {
            SetCursor(Screen().Cursor(Screen().GlobalCursor));
            m.Result = 1;
            return;
        }
        DefaultHandler(m);
        return;
    default:
        DefaultHandler(m);
    }
}

void TWinControl::Broadcast(TMessage& m) {
    for (TControl* c : std::vector<TControl*>(FControls)) c->Perform(m.Msg, m.WParam, m.LParam);
}

void TWinControl::DefaultHandler(TMessage& m) {
    if (FHandle) m.Result = DefWindowProc(FHandle, m.Msg, m.WParam, m.LParam);
}

void TWinControl::PaintWindow(HDC) {}

void TWinControl::PaintHandler(TMessage& m) {
    HDC dc = reinterpret_cast<HDC>(m.WParam);
    TPaintStruct ps;
    if (!dc) dc = BeginPaint(FHandle, ps);
    int saved = SaveDC(dc);
    PaintWindow(dc);
    RestoreDC(dc, saved);
    PaintControls(dc, nullptr);
    if (!m.WParam) EndPaint(FHandle, ps);
}

void TWinControl::PaintControls(HDC dc, TControl* first) {
    bool started = first == nullptr;
    for (TControl* c : FControls) {
        if (!started) {
            if (c != first) continue;
            started = true;
        }
        if (c->IsWindowed() || !c->Visible()) continue;
        int saved = SaveDC(dc);
        TPoint org;
        GetWindowOrgEx(dc, org);
        SetWindowOrgEx(dc, org.X - c->Left(), org.Y - c->Top());
        IntersectClipRect(dc, 0, 0, c->Width(), c->Height());
        c->Perform(WM_PAINT, WPARAM(dc), 0);
        RestoreDC(dc, saved);
    }
}

// --- custom and graphic controls ----------------------------------------------------------

TCustomControl::TCustomControl(TComponent* owner)
    : TWinControl(owner), FCanvas(std::make_unique<TCanvas>()) {}

TCustomControl::~TCustomControl() {
    Destroying();
    DestroyHandle(); // while Paint and the canvas still exist
}

void TCustomControl::PaintWindow(HDC dc) {
    FCanvas->Lock();
    FCanvas->SetHandle(dc);
    TScopeExit release([this] {
        FCanvas->SetHandle(nullptr);
        FCanvas->Unlock();
    });
    Paint();
}

TGraphicControl::TGraphicControl(TComponent* owner)
    : TControl(owner), FCanvas(std::make_unique<TCanvas>()) {}

TGraphicControl::~TGraphicControl() {
    Destroying();
    SetParent(nullptr);
}

void TGraphicControl::Dispatch(TMessage& m) {
    if (m.Msg == WM_PAINT && m.WParam) {
        FCanvas->Lock();
        FCanvas->SetHandle(reinterpret_cast<HDC>(m.WParam));
        Paint();
        FCanvas->SetHandle(nullptr);
        FCanvas->Unlock();
        return;
    }
    TControl::Dispatch(m);
}

// --- hint window ----------------------------------------------------------------------------

THintWindow::THintWindow(TComponent* owner) : TCustomControl(owner) {
    FVisible = false;
    Color = clInfoBk;
}

THintWindow::~THintWindow() {
    if (Application().FShownHint == this) Application().FShownHint = nullptr;
}

void THintWindow::CancelHint() {
    if (HandleAllocated() && IsWindowVisible(WindowHandle())) ShowWindow(WindowHandle(), SW_HIDE);
}

void THintWindow::CreateParams(TCreateParams& params) {
    TCustomControl::CreateParams(params);
    params.ClassName = "THintWindow";
    params.Style = WS_POPUP | WS_BORDER | (params.Style & WS_VISIBLE);
    params.Parent = 0;
}

void THintWindow::Dispatch(TMessage& msg) {
    // Whoever hides or shows the window, the control follows.
    if (msg.Msg == WM_SHOWWINDOW) {
        FVisible = msg.WParam != 0;
        if (FVisible) Application().FShownHint = this;
    }
    // The mouse passes through a hint to the window under it.
    if (msg.Msg == WM_NCHITTEST) {
        msg.Result = HTTRANSPARENT;
        return;
    }
    TCustomControl::Dispatch(msg);
}

void THintWindow::ActivateHint(TRect rect, const std::u16string& hint) {
    Caption = hint;
    SetBounds(rect.Left, rect.Top, rect.Width(), rect.Height());
    HandleNeeded();
    SetVisible(true);
    Invalidate();
}

TRect THintWindow::CalcHintRect(int maxWidth, const std::u16string& hint, void*) {
    TRect r{0, 0, maxWidth, 0};
    Canvas().Font.Assign(Screen().HintFont);
    HDC dc = CreateCompatibleDC(nullptr);
    SelectObject(dc, Canvas().Font.Handle());
    DrawTextW(dc, hint.c_str(), int(hint.size()), r,
              DT_CALCRECT | DT_LEFT | DT_WORDBREAK | DT_NOPREFIX);
    DeleteDC(dc);
    r.Right += 6;
    r.Bottom += 2;
    return r;
}

bool THintWindow::IsHintMsg(const TMsg& msg) {
    if (!HandleAllocated() || !IsWindowVisible(WindowHandle())) return false;
    UINT m = msg.Message;
    return (m >= WM_KEYFIRST && m <= WM_KEYLAST) || m == WM_NCMOUSEMOVE ||
           (m >= WM_MOUSEMOVE && m <= WM_MOUSEHWHEEL) || m == WM_ACTIVATE;
}

void THintWindow::Paint() {
    TRect r = ClientRect();
    Canvas().Brush.Color = Color;
    Canvas().FillRect(r);
    Canvas().Font.Assign(Screen().HintFont);
    Canvas().Font.Color = clInfoText;
    Canvas().TextOut(2, 2, Caption);
}

// --- screen and application ---------------------------------------------------------------

namespace {

// The hand and the drag cursor the forms use, drawn as the resources they
// replace: a pointing hand, and an arrow over a small sheet.
std::unique_ptr<TCursorObject> DrawnCursor(const char* const rows[], int hotX, int hotY) {
    auto c = std::make_unique<TCursorObject>();
    c->HotX = hotX;
    c->HotY = hotY;
    c->Image.assign(32 * 32, 0);
    for (int y = 0; rows[y]; ++y)
        for (int x = 0; rows[y][x] && x < 32; ++x)
            if (rows[y][x] != ' ')
                c->Image[y * 32 + x] = rows[y][x] == '#' ? 0xFF000000u : 0xFFFFFFFFu;
    return c;
}

const char* const handRows[] = {"     ##",          "    #..#",         "    #..#",
                                "    #..#",         "    #..###",       "    #..#..###",
                                "    #..#..#..##",  " ## #..#..#..#.#", "#..##........#.#",
                                "#...#..........#", " #............#",  "  #...........#",
                                "  #..........#",   "   #.........#",   "    #.......#",
                                "    #.......#",    "    #########",    nullptr};
const char* const dragRows[] = {"#",
                                "##",
                                "#.#",
                                "#..#",
                                "#...#",
                                "#....#",
                                "#.....#",
                                "#......#",
                                "#.......#",
                                "#........#",
                                "#.....#####",
                                "#..#..#",
                                "#.# #..#",
                                "##  #..#",
                                "#    #..#",
                                "      ##",
                                "     ########",
                                "     #......#",
                                "     #......#",
                                "     #......#",
                                "     ########",
                                nullptr};

} // namespace

HCURSOR LoadCursor(int id) {
    static const int ids[] = {IDC_ARROW,    IDC_IBEAM,    IDC_WAIT,        IDC_CROSS,  IDC_UPARROW,
                              IDC_SIZENWSE, IDC_SIZENESW, IDC_SIZEWE,      IDC_SIZENS, IDC_SIZEALL,
                              IDC_NO,       IDC_HAND,     IDC_APPSTARTING, IDC_HELP};
    static auto* shared = new std::map<int, TCursorObject>; // never freed: handed out as handles
    if (std::find(std::begin(ids), std::end(ids), id) == std::end(ids)) return nullptr;
    TCursorObject& c = (*shared)[id];
    c.SystemId = id;
    return &c;
}

std::unique_ptr<TCursorObject> CreatePictureCursor(HBITMAP picture, COLORREF transparent, int hotX,
                                                   int hotY) {
    auto c = std::make_unique<TCursorObject>();
    c->HotX = hotX;
    c->HotY = hotY;
    c->Image.assign(32 * 32, 0);
    if (!picture) return c;
    for (int y = 0; y < std::min(32, picture->Height); ++y)
        for (int x = 0; x < std::min(32, picture->Width); ++x) {
            uint32_t p = picture->Bits[size_t(y) * picture->Width + x];
            if (transparent != COLORREF(clNone) && FromPixel(p) == transparent) continue;
            c->Image[y * 32 + x] = 0xFF000000u | (p & 0xFFFFFFu);
        }
    return c;
}

TScreen::TScreen() {
    FCursors[14000] = DrawnCursor(handRows, 5, 0).release();
    FCursors[14001] = DrawnCursor(dragRows, 0, 0).release();
}

TScreen::~TScreen() {
    for (auto& [i, c] : FCursors) delete c;
}

HCURSOR TScreen::Cursor(int index) const {
    auto it = FCursors.find(index);
    if (it != FCursors.end()) return it->second;
    switch (index) {
    case crNone:
        return nullptr;
    case crCross:
        return LoadCursor(IDC_CROSS);
    case crIBeam:
        return LoadCursor(IDC_IBEAM);
    case crSizeNESW:
        return LoadCursor(IDC_SIZENESW);
    case crSizeNS:
    case crVSplit:
        return LoadCursor(IDC_SIZENS);
    case crSizeNWSE:
        return LoadCursor(IDC_SIZENWSE);
    case crSizeWE:
    case crHSplit:
        return LoadCursor(IDC_SIZEWE);
    case crUpArrow:
        return LoadCursor(IDC_UPARROW);
    case crHourGlass:
    case crSQLWait:
        return LoadCursor(IDC_WAIT);
    case crNoDrop:
    case crNo:
        return LoadCursor(IDC_NO);
    case crAppStart:
        return LoadCursor(IDC_APPSTARTING);
    case crHelp:
        return LoadCursor(IDC_HELP);
    case crHandPoint:
        return LoadCursor(IDC_HAND);
    case crSizeAll:
        return LoadCursor(IDC_SIZEALL);
    case crDrag:
    case crMultiDrag:
        return FCursors.at(14001);
    default:
        return LoadCursor(IDC_ARROW);
    }
}

void TScreen::SetCursor(int index, HCURSOR cursor) {
    auto& slot = FCursors[index];
    if (slot != cursor) delete slot;
    slot = cursor;
}

namespace {
std::atomic<HCURSOR> currentCursor{nullptr};
std::atomic<uint64_t> beeps{0};
} // namespace

HCURSOR SetCursor(HCURSOR cursor) {
    HCURSOR old = currentCursor.exchange(cursor);
    if (old != cursor && HostHooks().CursorChanged) HostHooks().CursorChanged(cursor);
    return old;
}

HCURSOR GetCursor() {
    return currentCursor.load();
}

THostHooks& HostHooks() {
    static auto* hooks = new THostHooks;
    return *hooks;
}

void NoteWindowsChanged() {
    if (HostHooks().WindowsChanged) HostHooks().WindowsChanged();
}

void WaitForInput() {
    if (HostHooks().WaitForInput)
        HostHooks().WaitForInput();
    else
        HandleMessage();
}

void Beep() {
    ++beeps;
    if (HostHooks().Beep) HostHooks().Beep();
}

uint64_t BeepCount() {
    return beeps.load();
}

void TApplication::CancelHint() {
    if (FShownHint) FShownHint->CancelHint();
}

bool TApplication::HelpContext(int context) {
    LastHelpContext = context;
    return context != 0 && OnHelp && OnHelp(context);
}

bool TApplication::Active() const {
    return QGuiApplication::focusWindow() != nullptr;
}

TScreen& Screen() {
    static auto* screen = new TScreen; // outlives every other static
    return *screen;
}

TApplication& Application() {
    static auto* app = new TApplication;
    return *app;
}

} // namespace nuq
