// The window table, the message queues and the default window procedure.

#include "platform/gui/Windows.h"
#include "platform/gui/Controls.h"
#include "platform/gui/GdiPrivate.h"

#include "platform/EventLoop.h"
#include "platform/ScopeGuard.h"
#include "platform/Timer.h"

#include <atomic>
#include <bitset>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <unordered_map>

namespace nuq {

// --- system colours and metrics ------------------------------------------------

namespace {

const COLORREF classicColors[] = {
    RGB(212, 208, 200), RGB(58, 110, 165),  RGB(10, 36, 106),   RGB(128, 128, 128), // 0-3
    RGB(212, 208, 200), RGB(255, 255, 255), RGB(0, 0, 0),       RGB(0, 0, 0),       // 4-7
    RGB(0, 0, 0),       RGB(255, 255, 255), RGB(212, 208, 200), RGB(212, 208, 200), // 8-11
    RGB(128, 128, 128), RGB(10, 36, 106),   RGB(255, 255, 255), RGB(212, 208, 200), // 12-15
    RGB(128, 128, 128), RGB(128, 128, 128), RGB(0, 0, 0),       RGB(212, 208, 200), // 16-19
    RGB(255, 255, 255), RGB(64, 64, 64),    RGB(212, 208, 200), RGB(0, 0, 0),       // 20-23
    RGB(255, 255, 225), RGB(181, 181, 181), RGB(0, 0, 128),     RGB(166, 202, 240), // 24-27
    RGB(192, 192, 192), RGB(49, 106, 197),  RGB(236, 233, 216),                     // 28-30
};
constexpr int sysColorCount = int(std::size(classicColors));

// Read from any thread that draws; changed on the main thread.
std::atomic<COLORREF>* SysColors() {
    static std::atomic<COLORREF> table[sysColorCount];
    static const bool filled = [] {
        for (int i = 0; i < sysColorCount; ++i) table[i] = classicColors[i];
        return true;
    }();
    (void)filled;
    return table;
}

} // namespace

COLORREF GetSysColor(int index) {
    if (index < 0 || index >= sysColorCount) return 0;
    return SysColors()[index].load(std::memory_order_relaxed);
}

COLORREF ColorToRGB(TColor color) {
    if (color == clNone || color == clDefault) return COLORREF(color);
    if (color < 0) return GetSysColor(color & 0xFF);
    return COLORREF(color) & 0xFFFFFF;
}

namespace {
std::atomic<unsigned> wheelScrollLines{3};
} // namespace

unsigned GetWheelScrollLines() {
    return wheelScrollLines.load();
}

void SetWheelScrollLines(unsigned lines) {
    wheelScrollLines.store(lines);
}

int GetSystemMetrics(int index) {
    switch (index) {
    case SM_CXVSCROLL:
    case SM_CYHSCROLL:
        return 17;
    case SM_CXBORDER:
    case SM_CYBORDER:
        return 1;
    case SM_CXEDGE:
    case SM_CYEDGE:
        return 2;
    case SM_CXDRAG:
    case SM_CYDRAG:
        return 4;
    case SM_CXMENUCHECK:
    case SM_CYMENUCHECK:
        return 13;
    case 7: // SM_CXDLGFRAME, SM_CYDLGFRAME
    case 8:
        return 3;
    case 32: // SM_CXFRAME, SM_CYFRAME
    case 33:
        return 4;
    default:
        return 0;
    }
}

// --- the table -------------------------------------------------------------------

namespace {

struct TWindowRec {
    HWND Handle = 0;
    std::string ClassName, Text;
    UINT ClassStyle = 0;
    DWORD Style = 0, ExStyle = 0;
    HWND Parent = 0;
    std::vector<HWND> Children;
    TRect WindowRect; // parent's client coordinates
    TRect Client;     // within the window's image
    TWindowProc Proc;
    intptr_t UserData = 0, Id = 0;
    std::unique_ptr<TBitmapObject> Image;
    QRegion Update;           // client coordinates
    uint64_t Validations = 0; // by BeginPaint
    bool Erase = false;
    bool Redraw = true;
    bool Destroying = false;
    TScrollInfo Scroll[2];
    std::map<uintptr_t, std::unique_ptr<TTimer>> Timers;
    std::optional<std::vector<TRect>> Shape; // the window region, window coordinates
};

// A message sent from another thread, waiting for the main thread.
struct TSent {
    HWND Wnd;
    UINT Msg;
    WPARAM W;
    LPARAM L;
    LRESULT Result = 0;
    enum { Pending, Running, Done, Cancelled } Stage = Pending;
    std::condition_variable Changed;
};

struct TTable {
    std::mutex Lock;
    std::unordered_map<HWND, std::unique_ptr<TWindowRec>> Windows;
    std::vector<HWND> Order; // creation order, for painting
    HWND Next = 1;
    std::deque<TMsg> Posted;
    std::deque<std::shared_ptr<TSent>> Sent;
    bool PaintScheduled = false;
    HWND Capture = 0, Focus = 0, ModalKeys = 0;
};

std::atomic<uint64_t> paintGeneration{0};

TTable& Table() {
    static auto* table = new TTable; // never destroyed: windows may outlive statics
    return *table;
}

// Main thread: the record of a live window, or null.
TWindowRec* Find(HWND wnd) {
    if (!wnd) return nullptr;
    auto& t = Table();
    std::lock_guard<std::mutex> guard(t.Lock);
    auto it = t.Windows.find(wnd);
    return it == t.Windows.end() ? nullptr : it->second.get();
}

void SchedulePaint();

// What the paint invalidates again after its BeginPaint stays due, as it
// changed after it was drawn; a procedure that never validates is not asked again.
void PaintNow(HWND wnd, TWindowRec* w) {
    uint64_t validations = w->Validations;
    SendMessage(wnd, WM_PAINT, 0, 0);
    if ((w = Find(wnd)) && w->Validations == validations) w->Update = QRegion();
}

void PaintIdle() {
    auto& t = Table();
    std::vector<HWND> order;
    {
        std::lock_guard<std::mutex> guard(t.Lock);
        t.PaintScheduled = false;
        if (!t.Posted.empty() || !t.Sent.empty()) {
            // Painting waits until the queue is idle.
            t.PaintScheduled = true;
            PostCall(PaintIdle);
            return;
        }
        order = t.Order;
    }
    for (HWND h : order) {
        TWindowRec* w = Find(h);
        if (!w || w->Update.isEmpty() || !w->Redraw) continue;
        PaintNow(h, w);
    }
}

void SchedulePaint() {
    auto& t = Table();
    {
        std::lock_guard<std::mutex> guard(t.Lock);
        if (t.PaintScheduled) return;
        t.PaintScheduled = true;
    }
    PostCall(PaintIdle);
}

// Runs the messages other threads sent before this call.
void DeliverSent() {
    auto& t = Table();
    size_t limit;
    {
        std::lock_guard<std::mutex> guard(t.Lock);
        limit = t.Sent.size();
    }
    for (size_t i = 0; i < limit; ++i) {
        std::shared_ptr<TSent> s;
        {
            std::lock_guard<std::mutex> guard(t.Lock);
            if (t.Sent.empty()) return;
            s = t.Sent.front();
            t.Sent.pop_front();
            if (s->Stage != TSent::Pending) continue;
            s->Stage = TSent::Running;
        }
        // The sender waits for this message however its handling ends.
        LRESULT r = 0;
        TScopeExit answer([&] {
            std::lock_guard<std::mutex> guard(t.Lock);
            s->Result = r;
            s->Stage = TSent::Done;
            s->Changed.notify_all();
        });
        r = IsWindow(s->Wnd) ? SendMessage(s->Wnd, s->Msg, s->W, s->L) : 0;
    }
}

void DispatchOnePosted() {
    auto& t = Table();
    TMsg m;
    {
        std::lock_guard<std::mutex> guard(t.Lock);
        if (t.Posted.empty()) return;
        m = t.Posted.front();
        t.Posted.pop_front();
    }
    DispatchMessage(m);
}

void Recalc(TWindowRec* w) {
    TRect r{0, 0, w->WindowRect.Width(), w->WindowRect.Height()};
    SendMessage(w->Handle, WM_NCCALCSIZE, 0, LPARAM(&r));
    if ((w = Find(w->Handle))) {
        if (r.Right < r.Left) r.Right = r.Left;
        if (r.Bottom < r.Top) r.Bottom = r.Top;
        w->Client = r;
    }
}

int WindowExtent(int64_t size) {
    return int(std::clamp<int64_t>(size, 0, MaxWindowExtent));
}

void ResizeImage(TWindowRec* w) {
    const int width = WindowExtent(int64_t(w->WindowRect.Right) - w->WindowRect.Left);
    const int height = WindowExtent(int64_t(w->WindowRect.Bottom) - w->WindowRect.Top);
    if (w->Image && w->Image->Width == width && w->Image->Height == height) return;
    auto image = std::make_unique<TBitmapObject>(width, height, 32);
    for (auto& p : image->Bits) p = 0xFFFFFFFFu;
    // What stays inside keeps its pixels: a resize repaints only what the
    // class styles ask for.
    if (const TBitmapObject* old = w->Image.get())
        for (int y = 0; y < std::min(height, old->Height); ++y)
            std::copy_n(old->Bits.begin() + ptrdiff_t(y) * old->Width, std::min(width, old->Width),
                        image->Bits.begin() + ptrdiff_t(y) * width);
    w->Image = std::move(image);
}

// Whether a resize from the client rectangle Old repaints the whole client
// area: the class styles ask for it, or the client area moved in the window.
bool RedrawsWhole(const TWindowRec& w, const TRect& old) {
    return ((w.ClassStyle & CS_HREDRAW) && w.Client.Width() != old.Width()) ||
           ((w.ClassStyle & CS_VREDRAW) && w.Client.Height() != old.Height()) ||
           w.Client.Left != old.Left || w.Client.Top != old.Top;
}

// The strips right of and below the old client area that a resize uncovered.
void InvalidateUncovered(HWND wnd, const TRect& old) {
    TRect now;
    GetClientRect(wnd, now);
    const TRect right{old.Width(), 0, now.Right, now.Bottom};
    const TRect below{0, old.Height(), now.Right, now.Bottom};
    InvalidateRect(wnd, &right, true);
    InvalidateRect(wnd, &below, true);
}

TPoint ScreenClientOrigin(HWND wnd) {
    TPoint p;
    for (TWindowRec* w = Find(wnd); w; w = Find(w->Parent)) {
        p.X += w->WindowRect.Left + w->Client.Left;
        p.Y += w->WindowRect.Top + w->Client.Top;
    }
    return p;
}

void DrawArrowButton(HDC dc, TRect r, int dir, bool pressed = false) {
    int cx = (r.Left + r.Right) / 2, cy = (r.Top + r.Bottom) / 2;
    if (pressed) {
        // Held down: flat in the shadow colour, the arrow one pixel down and right.
        HBRUSH face = CreateSolidBrush(GetSysColor(COLOR_BTNFACE)),
               shadow = CreateSolidBrush(GetSysColor(COLOR_BTNSHADOW));
        FillRect(dc, r, face);
        FrameRect(dc, r, shadow);
        DeleteObject(face);
        DeleteObject(shadow);
        ++cx;
        ++cy;
    } else {
        DrawEdge(dc, r, EDGE_RAISED, BF_RECT | BF_MIDDLE | BF_ADJUST);
    }
    HBRUSH b = CreateSolidBrush(GetSysColor(COLOR_BTNTEXT));
    for (int i = 0; i < 4; ++i) {
        TRect line;
        switch (dir) {
        case 0:
            line = {cx - i, cy - 2 + i, cx + i + 1, cy - 1 + i};
            break; // up
        case 1:
            line = {cx - 3 + i, cy - 1 + i, cx + 4 - i, cy + i};
            break; // down
        case 2:
            line = {cx - 2 + i, cy - i, cx - 1 + i, cy + i + 1};
            break; // left
        default:
            line = {cx - 1 + i, cy - 3 + i, cx + i, cy + 4 - i};
            break; // right
        }
        FillRect(dc, line, b);
    }
    DeleteObject(b);
}

// Where a scroll bar's parts lie along it: two arrow buttons, the track
// between them, and the thumb in the track when there is room and a page.
struct TBarLayout {
    TRect Bar;
    bool Vertical = true;
    int Button = 0;                // each arrow's length
    int ThumbStart = 0, Thumb = 0; // from the bar's start; Thumb 0: none
    int Length() const { return Vertical ? Bar.Height() : Bar.Width(); }
    int Along(TPoint p) const { return Vertical ? p.Y - Bar.Top : p.X - Bar.Left; }
};

TBarLayout LayoutBar(const TScrollInfo& si, TRect r, bool vertical, int pos) {
    TBarLayout l;
    l.Bar = r;
    l.Vertical = vertical;
    int len = l.Length(), thick = vertical ? r.Width() : r.Height();
    l.Button = std::min(thick, len / 2);
    int trackLen = len - 2 * l.Button, range = si.Max - si.Min + 1;
    if (trackLen <= 8 || range <= 0 || si.Page == 0 || int(si.Page) >= range) return l;
    l.Thumb = std::max(8, int(int64_t(trackLen) * si.Page / range));
    int span = range - int(si.Page);
    l.ThumbStart =
        l.Button + (span > 0 ? int(int64_t(trackLen - l.Thumb) * (pos - si.Min) / span) : 0);
    return l;
}

// The parts of a bar, as a click finds them.
enum TBarPart { bpNone, bpLineUp, bpPageUp, bpThumb, bpPageDown, bpLineDown };

TBarPart PartAt(const TBarLayout& l, TPoint p) {
    if (!l.Bar.Contains(p)) return bpNone;
    int a = l.Along(p);
    if (a < l.Button) return bpLineUp;
    if (a >= l.Length() - l.Button) return bpLineDown;
    if (!l.Thumb) return bpNone;
    if (a < l.ThumbStart) return bpPageUp;
    return a < l.ThumbStart + l.Thumb ? bpThumb : bpPageDown;
}

// Pressed: the arrow held down under the mouse (bpLineUp or bpLineDown), else bpNone.
void DrawScrollBar(HDC dc, const TBarLayout& l, TBarPart pressed) {
    TRect r = l.Bar;
    HBRUSH track = CreateSolidBrush(GetSysColor(COLOR_SCROLLBAR));
    FillRect(dc, r, track);
    DeleteObject(track);
    const bool up = pressed == bpLineUp, down = pressed == bpLineDown;
    if (l.Vertical) {
        DrawArrowButton(dc, {r.Left, r.Top, r.Right, r.Top + l.Button}, 0, up);
        DrawArrowButton(dc, {r.Left, r.Bottom - l.Button, r.Right, r.Bottom}, 1, down);
    } else {
        DrawArrowButton(dc, {r.Left, r.Top, r.Left + l.Button, r.Bottom}, 2, up);
        DrawArrowButton(dc, {r.Right - l.Button, r.Top, r.Right, r.Bottom}, 3, down);
    }
    if (!l.Thumb) return;
    TRect t = l.Vertical
                  ? TRect{r.Left, r.Top + l.ThumbStart, r.Right, r.Top + l.ThumbStart + l.Thumb}
                  : TRect{r.Left + l.ThumbStart, r.Top, r.Left + l.ThumbStart + l.Thumb, r.Bottom};
    DrawEdge(dc, t, EDGE_RAISED, BF_RECT | BF_MIDDLE);
}

// A scroll bar's rectangle in window coordinates: beside the client area, so
// below whatever the window keeps above its client area; empty without the bar.
TRect BarRect(const TWindowRec* w, int bar) {
    int sb = GetSystemMetrics(SM_CXVSCROLL);
    const TRect& c = w->Client;
    if (bar == SB_VERT)
        return (w->Style & WS_VSCROLL) ? TRect{c.Right, c.Top, c.Right + sb, c.Bottom} : TRect{};
    return (w->Style & WS_HSCROLL) ? TRect{c.Left, c.Bottom, c.Right, c.Bottom + sb} : TRect{};
}

// The scroll bar the mouse holds: its window, which bar, the part pressed,
// where the thumb was grabbed, and the timer repeating arrow and track clicks.
struct TBarTracking {
    HWND Wnd = 0;
    int Bar = SB_VERT;
    TBarPart Part = bpNone;
    int Grab = 0;     // the mouse's distance from the thumb's start
    int TrackPos = 0; // while the thumb is dragged
    TPoint Mouse;     // window coordinates
    std::unique_ptr<TTimer> Repeat;
};

TBarTracking& Tracking() {
    static auto* t = new TBarTracking;
    return *t;
}

TBarLayout LayoutOf(const TWindowRec* w, int bar) {
    const TBarTracking& t = Tracking();
    int pos =
        (t.Wnd == w->Handle && t.Bar == bar && t.Part == bpThumb) ? t.TrackPos : w->Scroll[bar].Pos;
    return LayoutBar(w->Scroll[bar], BarRect(w, bar), bar == SB_VERT, pos);
}

// The arrow of the bar held down with the mouse still on it, which shows pressed.
TBarPart PressedArrow(const TWindowRec* w, int bar) {
    const TBarTracking& t = Tracking();
    if (t.Wnd != w->Handle || t.Bar != bar || (t.Part != bpLineUp && t.Part != bpLineDown))
        return bpNone;
    return PartAt(LayoutOf(w, bar), t.Mouse) == t.Part ? t.Part : bpNone;
}

void PaintNonClient(HWND wnd) {
    TWindowRec* w = Find(wnd);
    if (!w || !w->Image) return;
    HDC dc = GetWindowDC(wnd);
    TRect r{0, 0, w->Image->Width, w->Image->Height};
    if (w->ExStyle & WS_EX_CLIENTEDGE)
        DrawEdge(dc, r, EDGE_SUNKEN, BF_RECT | BF_ADJUST);
    else if (w->Style & WS_BORDER) {
        HBRUSH b = CreateSolidBrush(GetSysColor(COLOR_WINDOWFRAME));
        FrameRect(dc, r, b);
        DeleteObject(b);
    }
    bool v = w->Style & WS_VSCROLL, h = w->Style & WS_HSCROLL;
    if (v) DrawScrollBar(dc, LayoutOf(w, SB_VERT), PressedArrow(w, SB_VERT));
    if (h) DrawScrollBar(dc, LayoutOf(w, SB_HORZ), PressedArrow(w, SB_HORZ));
    if (v && h) {
        int sb = GetSystemMetrics(SM_CXVSCROLL);
        HBRUSH b = CreateSolidBrush(GetSysColor(COLOR_BTNFACE));
        FillRect(dc,
                 {w->Client.Right, w->Client.Bottom, w->Client.Right + sb, w->Client.Bottom + sb},
                 b);
        DeleteObject(b);
    }
    ReleaseDC(wnd, dc);
}

} // namespace

// --- creation and destruction ------------------------------------------------------

HWND CreateWindowEx(const TCreateParams& params) {
    auto& t = Table();
    auto rec = std::make_unique<TWindowRec>();
    TWindowRec* w = rec.get();
    if (params.Parent && !Find(params.Parent)) return 0;
    {
        std::lock_guard<std::mutex> guard(t.Lock);
        w->Handle = t.Next++;
        t.Windows.emplace(w->Handle, std::move(rec));
        t.Order.push_back(w->Handle);
    }
    HWND h = w->Handle;
    w->ClassName = params.ClassName;
    w->ClassStyle = params.ClassStyle;
    w->Text = params.Caption;
    w->Style = params.Style;
    w->ExStyle = params.ExStyle;
    w->Parent = params.Parent;
    w->WindowRect =
        Bounds(params.X, params.Y, WindowExtent(params.Width), WindowExtent(params.Height));
    w->Proc = params.Proc;
    w->Scroll[0].Page = w->Scroll[1].Page = 0;
    if (TWindowRec* p = Find(params.Parent)) p->Children.push_back(h);
    ResizeImage(w);
    if (!SendMessage(h, WM_NCCREATE, 0, LPARAM(&params))) {
        DestroyWindow(h);
        return 0;
    }
    if (!(w = Find(h))) return 0;
    Recalc(w);
    if (SendMessage(h, WM_CREATE, 0, LPARAM(&params)) == -1) {
        DestroyWindow(h);
        return 0;
    }
    if ((w = Find(h))) {
        w->Update = QRegion(0, 0, w->Client.Width(), w->Client.Height());
        w->Erase = true;
        SchedulePaint();
    }
    return IsWindow(h) ? h : 0;
}

bool DestroyWindow(HWND wnd) {
    TWindowRec* w = Find(wnd);
    if (!w || w->Destroying) return false;
    w->Destroying = true;
    NoteWindowsChanged();
    auto& t = Table();
    {
        std::lock_guard<std::mutex> guard(t.Lock);
        if (t.Focus == wnd) t.Focus = 0;
    }
    if (GetCapture() == wnd) ReleaseCapture();
    SendMessage(wnd, WM_DESTROY, 0, 0);
    if ((w = Find(wnd))) {
        auto children = w->Children;
        for (HWND c : children) DestroyWindow(c);
    }
    SendMessage(wnd, WM_NCDESTROY, 0, 0);
    std::unique_ptr<TWindowRec> gone;
    {
        std::lock_guard<std::mutex> guard(t.Lock);
        auto it = t.Windows.find(wnd);
        if (it == t.Windows.end()) return false;
        gone = std::move(it->second);
        t.Windows.erase(it);
        std::erase(t.Order, wnd);
        std::erase_if(t.Posted, [wnd](const TMsg& m) { return m.Wnd == wnd; });
        for (auto& s : t.Sent)
            if (s->Wnd == wnd && s->Stage == TSent::Pending) {
                s->Stage = TSent::Cancelled;
                s->Changed.notify_all();
            }
        std::erase_if(t.Sent,
                      [](const std::shared_ptr<TSent>& s) { return s->Stage == TSent::Cancelled; });
    }
    if (TWindowRec* p = Find(gone->Parent)) std::erase(p->Children, wnd);
    return true;
}

bool IsWindow(HWND wnd) {
    if (!wnd) return false;
    auto& t = Table();
    std::lock_guard<std::mutex> guard(t.Lock);
    return t.Windows.count(wnd) != 0;
}

HWND GetParent(HWND wnd) {
    TWindowRec* w = Find(wnd);
    return w ? w->Parent : 0;
}

// --- procedures ---------------------------------------------------------------------

TWindowProc GetWindowProc(HWND wnd) {
    TWindowRec* w = Find(wnd);
    return w ? w->Proc : TWindowProc{};
}

TWindowProc SetWindowProc(HWND wnd, TWindowProc proc) {
    TWindowRec* w = Find(wnd);
    if (!w) return {};
    return std::exchange(w->Proc, std::move(proc));
}

LRESULT CallWindowProc(const TWindowProc& proc, HWND wnd, UINT msg, WPARAM w, LPARAM l) {
    return proc ? proc.Call(wnd, msg, w, l) : DefWindowProc(wnd, msg, w, l);
}

namespace {
void PressBar(HWND wnd, int bar, TPoint screen);
}

LRESULT DefWindowProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp) {
    TWindowRec* w = Find(wnd);
    if (!w) return 0;
    switch (msg) {
    case WM_NCCREATE:
        return 1;
    case WM_NCCALCSIZE: {
        auto* r = reinterpret_cast<TRect*>(lp);
        if (w->ExStyle & WS_EX_CLIENTEDGE)
            *r = {r->Left + 2, r->Top + 2, r->Right - 2, r->Bottom - 2};
        else if (w->Style & WS_BORDER)
            *r = {r->Left + 1, r->Top + 1, r->Right - 1, r->Bottom - 1};
        if (w->Style & WS_VSCROLL) r->Right -= GetSystemMetrics(SM_CXVSCROLL);
        if (w->Style & WS_HSCROLL) r->Bottom -= GetSystemMetrics(SM_CYHSCROLL);
        return 0;
    }
    case WM_NCPAINT:
        PaintNonClient(wnd);
        return 0;
    case WM_PAINT: {
        TPaintStruct ps;
        BeginPaint(wnd, ps);
        EndPaint(wnd, ps);
        return 0;
    }
    case WM_ERASEBKGND: {
        HDC dc = reinterpret_cast<HDC>(wp);
        HBRUSH b = CreateSolidBrush(GetSysColor(COLOR_WINDOW));
        FillRect(dc, {0, 0, w->Client.Width(), w->Client.Height()}, b);
        DeleteObject(b);
        return 1;
    }
    case WM_SETREDRAW:
        w->Redraw = wp != 0;
        if (w->Redraw && !w->Update.isEmpty()) SchedulePaint();
        return 0;
    case WM_SETTEXT:
        w->Text = lp ? reinterpret_cast<const char*>(lp) : "";
        return 1;
    case WM_CLOSE:
        DestroyWindow(wnd);
        return 0;
    case WM_NCLBUTTONDOWN:
    case WM_NCLBUTTONDBLCLK:
        if (wp == WPARAM(HTVSCROLL) || wp == WPARAM(HTHSCROLL))
            PressBar(wnd, wp == WPARAM(HTVSCROLL) ? SB_VERT : SB_HORZ,
                     {int(int16_t(LoWord(uintptr_t(lp)))), int(int16_t(HiWord(uintptr_t(lp))))});
        return 0;
    case WM_SETCURSOR: {
        // The parent decides first; then the sizing borders show their
        // arrows and everything else the plain arrow.
        if (w->Parent && SendMessage(w->Parent, msg, wp, lp)) return 1;
        int id = IDC_ARROW;
        switch (int16_t(LoWord(uintptr_t(lp)))) {
        case HTERROR:
        case HTNOWHERE:
            return 0;
        case HTLEFT:
        case HTRIGHT:
            id = IDC_SIZEWE;
            break;
        case HTTOP:
        case HTBOTTOM:
            id = IDC_SIZENS;
            break;
        case HTTOPLEFT:
        case HTBOTTOMRIGHT:
            id = IDC_SIZENWSE;
            break;
        case HTTOPRIGHT:
        case HTBOTTOMLEFT:
            id = IDC_SIZENESW;
            break;
        }
        SetCursor(LoadCursor(id));
        return 1;
    }
    case WM_MOUSEWHEEL:
        return w->Parent ? SendMessage(w->Parent, msg, wp, lp) : 0;
    case WM_CANCELMODE:
        if (GetCapture() == wnd) ReleaseCapture();
        return 0;
    case WM_NCHITTEST: {
        TPoint p{int(int16_t(LoWord(uintptr_t(lp)))), int(int16_t(HiWord(uintptr_t(lp))))};
        TPoint o = ScreenClientOrigin(wnd);
        TPoint c{p.X - o.X, p.Y - o.Y};
        if (TRect{0, 0, w->Client.Width(), w->Client.Height()}.Contains(c)) return HTCLIENT;
        if ((w->Style & WS_VSCROLL) && c.X >= w->Client.Width() && c.Y >= 0 &&
            c.Y < w->Client.Height())
            return HTVSCROLL;
        if ((w->Style & WS_HSCROLL) && c.Y >= w->Client.Height() && c.X >= 0 &&
            c.X < w->Client.Width())
            return HTHSCROLL;
        return HTBORDER;
    }
    default:
        return 0;
    }
}

// --- messages -------------------------------------------------------------------------

LRESULT SendMessage(HWND wnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (IsMainThread()) {
        TWindowRec* w = Find(wnd);
        if (!w) return 0;
        TWindowProc proc = w->Proc; // the procedure may replace itself while it runs
        return CallWindowProc(proc, wnd, msg, wp, lp);
    }
    auto& t = Table();
    auto s = std::make_shared<TSent>();
    s->Wnd = wnd;
    s->Msg = msg;
    s->W = wp;
    s->L = lp;
    {
        std::lock_guard<std::mutex> guard(t.Lock);
        if (!t.Windows.count(wnd)) return 0;
        t.Sent.push_back(s);
    }
    PostCall(DeliverSent);
    std::unique_lock<std::mutex> lock(t.Lock);
    s->Changed.wait(lock, [&] { return s->Stage == TSent::Done || s->Stage == TSent::Cancelled; });
    return s->Stage == TSent::Done ? s->Result : 0;
}

bool PostMessage(HWND wnd, UINT msg, WPARAM wp, LPARAM lp) {
    auto& t = Table();
    {
        std::lock_guard<std::mutex> guard(t.Lock);
        if (wnd && !t.Windows.count(wnd)) return false;
        t.Posted.push_back(TMsg{wnd, msg, wp, lp, GetTickCount()});
    }
    PostCall(DispatchOnePosted);
    return true;
}

void PostQuitMessage(int) {
    QuitLoop();
}

bool PeekMessage(TMsg& msg, HWND wnd, UINT min, UINT max, UINT remove) {
    if (IsMainThread()) DeliverSent();
    auto& t = Table();
    std::lock_guard<std::mutex> guard(t.Lock);
    for (auto it = t.Posted.begin(); it != t.Posted.end(); ++it) {
        if (wnd && it->Wnd != wnd) continue;
        if ((min || max) && (it->Message < min || it->Message > max)) continue;
        msg = *it;
        if (remove & PM_REMOVE) t.Posted.erase(it);
        return true;
    }
    return false;
}

LRESULT DispatchMessage(const TMsg& msg) {
    if (!msg.Wnd) return 0;
    return SendMessage(msg.Wnd, msg.Message, msg.WParam, msg.LParam);
}

// --- attributes -------------------------------------------------------------------------

intptr_t GetWindowLongPtr(HWND wnd, int index) {
    TWindowRec* w = Find(wnd);
    if (!w) return 0;
    switch (index) {
    case GWL_STYLE:
        return intptr_t(w->Style);
    case GWL_EXSTYLE:
        return intptr_t(w->ExStyle);
    case GWLP_USERDATA:
        return w->UserData;
    case GWLP_ID:
        return w->Id;
    default:
        return 0;
    }
}

intptr_t SetWindowLongPtr(HWND wnd, int index, intptr_t value) {
    TWindowRec* w = Find(wnd);
    if (!w) return 0;
    switch (index) {
    case GWL_STYLE:
        return intptr_t(std::exchange(w->Style, DWORD(value)));
    case GWL_EXSTYLE:
        return intptr_t(std::exchange(w->ExStyle, DWORD(value)));
    case GWLP_USERDATA:
        return std::exchange(w->UserData, value);
    case GWLP_ID:
        return std::exchange(w->Id, value);
    default:
        return 0;
    }
}

std::string GetWindowText(HWND wnd) {
    TWindowRec* w = Find(wnd);
    return w ? w->Text : std::string();
}

void SetWindowText(HWND wnd, const std::string& text) {
    SendMessage(wnd, WM_SETTEXT, 0, LPARAM(text.c_str()));
}

int SetWindowRgn(HWND wnd, HRGN region, bool redraw) {
    TWindowRec* w = Find(wnd);
    if (!w) return 0;
    if (region)
        w->Shape = region->Rects;
    else
        w->Shape.reset();
    if (region) DeleteObject(region); // the window owns it now
    if (redraw) InvalidateRect(wnd, nullptr, true);
    return 1;
}

int GetWindowRgn(HWND wnd, HRGN region) {
    TWindowRec* w = Find(wnd);
    if (!w || !region || !w->Shape) return RGN_ERROR;
    region->Rects = *w->Shape;
    return region->Rects.empty()       ? NULLREGION
           : region->Rects.size() == 1 ? SIMPLEREGION
                                       : COMPLEXREGION;
}

bool GetWindowRect(HWND wnd, TRect& r) {
    TWindowRec* w = Find(wnd);
    if (!w) return false;
    r = w->WindowRect;
    return true;
}

bool GetClientRect(HWND wnd, TRect& r) {
    TWindowRec* w = Find(wnd);
    if (!w) return false;
    r = {0, 0, w->Client.Width(), w->Client.Height()};
    return true;
}

TPoint ClientOrigin(HWND wnd) {
    TWindowRec* w = Find(wnd);
    return w ? TPoint{w->Client.Left, w->Client.Top} : TPoint{};
}

bool SetWindowPos(HWND wnd, int x, int y, int width, int height, UINT flags) {
    TWindowRec* w = Find(wnd);
    if (!w) return false;
    TRect old = w->WindowRect;
    TRect r = old;
    if (!(flags & SWP_NOMOVE)) r = r.Offset(int64_t(x) - r.Left, int64_t(y) - r.Top);
    if (!(flags & SWP_NOSIZE)) r = Bounds(r.Left, r.Top, WindowExtent(width), WindowExtent(height));
    w->WindowRect = r;
    const TRect oldClient = w->Client;
    bool sized = r.Width() != old.Width() || r.Height() != old.Height();
    if (sized || (flags & SWP_FRAMECHANGED)) {
        ResizeImage(w);
        Recalc(w);
        if (!(w = Find(wnd))) return false;
    }
    const bool moved = r.Left != old.Left || r.Top != old.Top;
    if (moved || sized) NoteWindowsChanged();
    if (moved) SendMessage(wnd, WM_MOVE, 0, MakeLParam(r.Left, r.Top));
    if (sized && (w = Find(wnd)))
        SendMessage(wnd, WM_SIZE, 0, MakeLParam(w->Client.Width(), w->Client.Height()));
    if (flags & SWP_NOREDRAW) return true;
    if (!moved && (sized || (flags & SWP_FRAMECHANGED)) && (w = Find(wnd)) &&
        !RedrawsWhole(*w, oldClient)) {
        SendMessage(wnd, WM_NCPAINT, 1, 0);
        InvalidateUncovered(wnd, oldClient);
    } else {
        RedrawWindow(wnd, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME);
    }
    return true;
}

bool MoveWindow(HWND wnd, int x, int y, int width, int height, bool repaint) {
    return SetWindowPos(wnd, x, y, width, height,
                        SWP_NOZORDER | (repaint ? 0u : UINT(SWP_NOREDRAW)));
}

bool ShowWindow(HWND wnd, int cmd) {
    TWindowRec* w = Find(wnd);
    if (!w) return false;
    bool was = w->Style & WS_VISIBLE;
    if (was != (cmd != SW_HIDE)) {
        SendMessage(wnd, WM_SHOWWINDOW, cmd != SW_HIDE, 0);
        if (!(w = Find(wnd))) return was;
    }
    if (cmd == SW_HIDE)
        w->Style &= ~DWORD(WS_VISIBLE);
    else
        w->Style |= WS_VISIBLE;
    if (was != (cmd != SW_HIDE)) NoteWindowsChanged();
    if (!was && cmd != SW_HIDE) RedrawWindow(wnd, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME);
    return was;
}

bool IsWindowVisible(HWND wnd) {
    for (TWindowRec* w = Find(wnd); w; w = Find(w->Parent))
        if (!(w->Style & WS_VISIBLE)) return false;
    return wnd && Find(wnd);
}

bool EnableWindow(HWND wnd, bool enable) {
    TWindowRec* w = Find(wnd);
    if (!w) return false;
    bool wasDisabled = w->Style & WS_DISABLED;
    // A window being disabled ends its modes (capture, tracking) first.
    if (!enable && !wasDisabled) {
        SendMessage(wnd, WM_CANCELMODE, 0, 0);
        w = Find(wnd);
        if (!w) return false;
    }
    if (enable)
        w->Style &= ~DWORD(WS_DISABLED);
    else
        w->Style |= WS_DISABLED;
    if (wasDisabled == enable) SendMessage(wnd, WM_ENABLE, enable, 0);
    return wasDisabled;
}

bool IsWindowEnabled(HWND wnd) {
    TWindowRec* w = Find(wnd);
    return w && !(w->Style & WS_DISABLED);
}

// --- timers, capture, focus ------------------------------------------------------------

bool SetTimer(HWND wnd, uintptr_t id, UINT ms) {
    TWindowRec* w = Find(wnd);
    if (!w) return false;
    auto& timer = w->Timers[id];
    if (!timer) timer = std::make_unique<TTimer>();
    timer->SetEnabled(false);
    timer->SetInterval(ms == 0 ? 1 : ms);
    timer->SetOnTimer([wnd, id] { SendMessage(wnd, WM_TIMER, id, 0); });
    timer->SetEnabled(true);
    return true;
}

bool KillTimer(HWND wnd, uintptr_t id) {
    TWindowRec* w = Find(wnd);
    return w && w->Timers.erase(id) != 0;
}

HWND SetCapture(HWND wnd) {
    auto& t = Table();
    HWND old;
    {
        std::lock_guard<std::mutex> guard(t.Lock);
        old = std::exchange(t.Capture, wnd);
    }
    if (old && old != wnd) SendMessage(old, WM_CAPTURECHANGED, 0, LPARAM(wnd));
    return old;
}

bool ReleaseCapture() {
    auto& t = Table();
    HWND old;
    {
        std::lock_guard<std::mutex> guard(t.Lock);
        old = std::exchange(t.Capture, 0);
    }
    if (old) SendMessage(old, WM_CAPTURECHANGED, 0, 0);
    return true;
}

HWND GetCapture() {
    auto& t = Table();
    std::lock_guard<std::mutex> guard(t.Lock);
    return t.Capture;
}

HWND SetFocus(HWND wnd) {
    auto& t = Table();
    HWND old;
    {
        std::lock_guard<std::mutex> guard(t.Lock);
        if (wnd && !t.Windows.count(wnd)) return 0;
        old = t.Focus;
        if (old == wnd) return old;
        t.Focus = wnd;
    }
    if (old) SendMessage(old, WM_KILLFOCUS, wnd, 0);
    if (wnd) SendMessage(wnd, WM_SETFOCUS, old, 0);
    return old;
}

HWND GetFocus() {
    auto& t = Table();
    std::lock_guard<std::mutex> guard(t.Lock);
    return t.Focus;
}

// --- painting ------------------------------------------------------------------------------

bool InvalidateRect(HWND wnd, const TRect* r, bool erase) {
    TWindowRec* w = Find(wnd);
    if (!w) return false;
    QRegion all(0, 0, w->Client.Width(), w->Client.Height());
    QRegion add =
        r ? QRegion(r->Left, r->Top, std::max(0, r->Width()), std::max(0, r->Height())) & all : all;
    if (add.isEmpty()) return true;
    w->Update |= add;
    w->Erase = w->Erase || erase;
    SchedulePaint();
    return true;
}

bool ValidateRect(HWND wnd, const TRect* r) {
    TWindowRec* w = Find(wnd);
    if (!w) return false;
    if (r)
        w->Update -= QRegion(r->Left, r->Top, std::max(0, r->Width()), std::max(0, r->Height()));
    else
        w->Update = QRegion();
    if (w->Update.isEmpty()) w->Erase = false;
    return true;
}

bool GetUpdateRect(HWND wnd, TRect& r, bool) {
    TWindowRec* w = Find(wnd);
    if (!w || w->Update.isEmpty()) {
        r = {};
        return false;
    }
    QRect b = w->Update.boundingRect();
    r = {b.left(), b.top(), b.right() + 1, b.bottom() + 1};
    return true;
}

bool UpdateWindow(HWND wnd) {
    TWindowRec* w = Find(wnd);
    if (!w) return false;
    if (!w->Update.isEmpty() && w->Redraw) PaintNow(wnd, w);
    return true;
}

bool RedrawWindow(HWND wnd, const TRect* r, UINT flags) {
    if (!Find(wnd)) return false;
    if (flags & RDW_FRAME) SendMessage(wnd, WM_NCPAINT, 1, 0);
    if (flags & RDW_INVALIDATE) InvalidateRect(wnd, r, flags & RDW_ERASE);
    if (!(flags & RDW_NOCHILDREN) && (flags & RDW_INVALIDATE))
        if (TWindowRec* w = Find(wnd))
            for (HWND c : std::vector<HWND>(w->Children))
                InvalidateRect(c, nullptr, flags & RDW_ERASE);
    if (flags & RDW_UPDATENOW) UpdateWindow(wnd);
    return true;
}

HDC BeginPaint(HWND wnd, TPaintStruct& ps) {
    TWindowRec* w = Find(wnd);
    if (!w) return nullptr;
    QRegion update = w->Update;
    bool erase = w->Erase;
    ++w->Validations;
    w->Update = QRegion();
    w->Erase = false;
    ++paintGeneration;
    NoteWindowsChanged();
    ps.DC = CreateSurfaceDC(
        w->Image.get(), {w->Client.Left, w->Client.Top},
        update.translated(w->Client.Left, w->Client.Top) &
            QRegion(w->Client.Left, w->Client.Top, w->Client.Width(), w->Client.Height()));
    QRect b = update.boundingRect();
    ps.Paint = update.isEmpty() ? TRect{} : TRect{b.left(), b.top(), b.right() + 1, b.bottom() + 1};
    ps.Erase = erase;
    if (erase) ps.Erase = SendMessage(wnd, WM_ERASEBKGND, WPARAM(ps.DC), 0) == 0;
    return ps.DC;
}

void EndPaint(HWND, const TPaintStruct& ps) {
    DeleteDC(ps.DC);
}

HDC GetDC(HWND wnd) {
    if (!wnd) return GetScreenDC();
    TWindowRec* w = Find(wnd);
    if (!w) return nullptr;
    ++paintGeneration;
    NoteWindowsChanged();
    return CreateSurfaceDC(
        w->Image.get(), {w->Client.Left, w->Client.Top},
        QRegion(w->Client.Left, w->Client.Top, w->Client.Width(), w->Client.Height()));
}

HDC GetWindowDC(HWND wnd) {
    TWindowRec* w = Find(wnd);
    if (!w) return nullptr;
    ++paintGeneration;
    NoteWindowsChanged();
    return CreateSurfaceDC(w->Image.get(), {0, 0},
                           QRegion(0, 0, w->Image->Width, w->Image->Height));
}

int ReleaseDC(HWND, HDC dc) {
    return DeleteDC(dc) ? 1 : 0;
}

uint64_t WindowPaintGeneration() {
    return paintGeneration.load();
}

std::vector<HWND> GetTopLevelWindows() {
    auto& t = Table();
    std::lock_guard<std::mutex> guard(t.Lock);
    std::vector<HWND> result;
    for (HWND h : t.Order)
        if (!t.Windows.at(h)->Parent) result.push_back(h);
    return result;
}

std::vector<HWND> GetChildWindows(HWND wnd) {
    TWindowRec* w = Find(wnd);
    return w ? w->Children : std::vector<HWND>{};
}

namespace {
void RedrawWithChildren(HWND wnd) {
    RedrawWindow(wnd, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_NOCHILDREN);
    for (HWND c : GetChildWindows(wnd)) RedrawWithChildren(c);
}
} // namespace

bool SetSysColors(int count, const int* elements, const COLORREF* values) {
    if (count < 0 || (count > 0 && (!elements || !values))) return false;
    for (int i = 0; i < count; ++i)
        if (elements[i] < 0 || elements[i] >= sysColorCount) return false;
    for (int i = 0; i < count; ++i)
        SysColors()[elements[i]].store(values[i] & 0xFFFFFF, std::memory_order_relaxed);
    for (HWND h : GetTopLevelWindows()) {
        SendMessage(h, WM_SYSCOLORCHANGE, 0, 0);
        if (IsWindow(h)) RedrawWithChildren(h);
    }
    return true;
}

HBITMAP GetWindowImage(HWND wnd) {
    TWindowRec* w = Find(wnd);
    return w ? w->Image.get() : nullptr;
}

// --- scroll bars --------------------------------------------------------------------------

int SetScrollInfo(HWND wnd, int bar, const TScrollInfo& info, bool redraw) {
    TWindowRec* w = Find(wnd);
    if (!w || bar < 0 || bar > 1) return 0;
    TScrollInfo& s = w->Scroll[bar];
    if (info.Mask & SIF_RANGE) {
        s.Min = info.Min;
        s.Max = std::max(info.Min, info.Max);
    }
    if (info.Mask & SIF_PAGE) s.Page = std::min<UINT>(info.Page, UINT(s.Max - s.Min + 1));
    if (info.Mask & SIF_POS) s.Pos = info.Pos;
    int top = s.Max - std::max(int(s.Page) - 1, 0);
    s.Pos = std::max(s.Min, std::min(s.Pos, top));
    // The thumb's drag position: set by whoever drags it, else where the thumb rests.
    if (info.Mask & SIF_TRACKPOS)
        s.TrackPos = std::max(s.Min, std::min(info.TrackPos, top));
    else if (info.Mask & SIF_POS)
        s.TrackPos = s.Pos;
    if (redraw) SendMessage(wnd, WM_NCPAINT, 1, 0);
    return s.Pos;
}

bool GetScrollInfo(HWND wnd, int bar, TScrollInfo& info) {
    TWindowRec* w = Find(wnd);
    if (!w || bar < 0 || bar > 1) return false;
    UINT mask = info.Mask;
    info = w->Scroll[bar];
    info.Mask = mask;
    return true;
}

int MulDiv(int number, int numerator, int denominator) {
    if (denominator == 0) return -1;
    int64_t product = int64_t(number) * numerator;
    int64_t d = denominator;
    if (d < 0) {
        d = -d;
        product = -product;
    }
    int64_t q = product >= 0 ? (product + d / 2) / d : -((-product + d / 2) / d);
    if (q > INT32_MAX || q < INT32_MIN) return -1;
    return int(q);
}

bool ScrollWindow(HWND wnd, int dx, int dy, const TRect* clip) {
    TWindowRec* w = Find(wnd);
    if (!w) return false;
    TRect area{0, 0, w->Client.Width(), w->Client.Height()};
    if (clip)
        area = {std::max(area.Left, clip->Left), std::max(area.Top, clip->Top),
                std::min(area.Right, clip->Right), std::min(area.Bottom, clip->Bottom)};
    if (area.Width() <= 0 || area.Height() <= 0 || (dx == 0 && dy == 0)) return true;
    QRegion whole(area.Left, area.Top, area.Width(), area.Height());
    if (w->Image && std::abs(dx) < area.Width() && std::abs(dy) < area.Height()) {
        // Row by row in the order that never reads a row already overwritten.
        TBitmapObject& img = *w->Image;
        int width = area.Width() - std::abs(dx);
        int srcX = w->Client.Left + area.Left + std::max(0, -dx), dstX = srcX + dx;
        int rows = area.Height() - std::abs(dy);
        for (int i = 0; i < rows; ++i) {
            int row = dy > 0 ? rows - 1 - i : i;
            int srcY = w->Client.Top + area.Top + std::max(0, -dy) + row, dstY = srcY + dy;
            if (srcY < 0 || dstY < 0 || srcY >= img.Height || dstY >= img.Height) continue;
            std::memmove(img.Scanline(dstY) + dstX, img.Scanline(srcY) + srcX, size_t(width) * 4);
        }
        QRegion moved = (whole & whole.translated(dx, dy));
        QRegion pending = w->Update & whole;
        w->Update = (w->Update - whole) | (pending.translated(dx, dy) & whole) | (whole - moved);
    } else {
        w->Update |= whole;
    }
    ++paintGeneration;
    NoteWindowsChanged();
    SchedulePaint();
    return true;
}

bool ShowScrollBar(HWND wnd, int bar, bool show) {
    TWindowRec* w = Find(wnd);
    if (!w) return false;
    DWORD flag = bar == SB_VERT ? WS_VSCROLL : WS_HSCROLL;
    DWORD style = show ? (w->Style | flag) : (w->Style & ~flag);
    if (style == w->Style) return true;
    w->Style = style;
    return SetWindowPos(wnd, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_FRAMECHANGED);
}

// --- coordinates --------------------------------------------------------------------------

bool MapWindowPoints(HWND from, HWND to, TPoint* points, int count) {
    TPoint a = from ? ScreenClientOrigin(from) : TPoint{},
           b = to ? ScreenClientOrigin(to) : TPoint{};
    for (int i = 0; i < count; ++i) {
        points[i].X += a.X - b.X;
        points[i].Y += a.Y - b.Y;
    }
    return true;
}

namespace {

// The deepest visible window at Screen, passing over top-level windows that
// let the mouse through; Hit (when given) gets the window's hit-test answer.
HWND WindowAt(TPoint screen, LRESULT* hit) {
    auto& t = Table();
    std::vector<HWND> order;
    {
        std::lock_guard<std::mutex> guard(t.Lock);
        order = t.Order;
    }
    HWND found = 0;
    LRESULT answer = HTNOWHERE;
    for (auto it = order.rbegin(); it != order.rend(); ++it) {
        TWindowRec* w = Find(*it);
        if (!w || w->Parent || !IsWindowVisible(*it) || !w->WindowRect.Contains(screen)) continue;
        answer = SendMessage(*it, WM_NCHITTEST, 0, MakeLParam(screen.X, screen.Y));
        if (answer == HTTRANSPARENT) continue;
        found = *it;
        break;
    }
    HWND top = found;
    for (bool deeper = found != 0; deeper;) {
        deeper = false;
        TWindowRec* w = Find(found);
        if (!w) return 0;
        TPoint o = ScreenClientOrigin(found);
        for (auto it = w->Children.rbegin(); it != w->Children.rend(); ++it) {
            TWindowRec* c = Find(*it);
            if (c && (c->Style & WS_VISIBLE) &&
                c->WindowRect.Contains({screen.X - o.X, screen.Y - o.Y})) {
                found = *it;
                deeper = true;
                break;
            }
        }
    }
    if (hit && found)
        *hit = found == top ? answer
                            : SendMessage(found, WM_NCHITTEST, 0, MakeLParam(screen.X, screen.Y));
    return IsWindow(found) ? found : 0;
}

} // namespace

HWND WindowFromPoint(TPoint screen) {
    return WindowAt(screen, nullptr);
}

namespace {
std::atomic<int64_t> cursorPos{0};
}

bool GetCursorPos(TPoint& screen) {
    int64_t v = cursorPos.load();
    screen = {int(int32_t(v & 0xFFFFFFFF)), int(int32_t(v >> 32))};
    return true;
}

void SetCursorPos(TPoint screen) {
    cursorPos = int64_t(uint32_t(screen.X)) | int64_t(uint64_t(uint32_t(screen.Y)) << 32);
}

namespace {
std::atomic<bool> keysDown[256];
}

int16_t GetKeyState(int vk) {
    return (vk >= 0 && vk < 256 && keysDown[vk].load()) ? int16_t(0x8000) : int16_t(0);
}

void SetKeyState(int vk, bool down) {
    if (vk >= 0 && vk < 256) keysDown[vk] = down;
}

} // namespace nuq

namespace nuq {

// --- real input ------------------------------------------------------------------------------

namespace {

void SendScroll(HWND wnd, int bar, int code, int pos) {
    SendMessage(wnd, bar == SB_VERT ? WM_VSCROLL : WM_HSCROLL,
                WPARAM(code) | WPARAM(uint16_t(pos)) << 16, 0);
}

// One step of a held arrow or track; the track stops once the thumb reaches the mouse.
void StepBar() {
    TBarTracking& t = Tracking();
    TWindowRec* w = Find(t.Wnd);
    if (!w) return;
    if ((t.Part == bpPageUp || t.Part == bpPageDown) &&
        PartAt(LayoutOf(w, t.Bar), t.Mouse) != t.Part)
        return;
    static const int codes[] = {0, SB_LINEUP, SB_PAGEUP, 0, SB_PAGEDOWN, SB_LINEDOWN};
    SendScroll(t.Wnd, t.Bar, codes[t.Part], 0);
}

TPoint WindowPoint(HWND wnd, TPoint screen) {
    TPoint o = ScreenClientOrigin(wnd), c = ClientOrigin(wnd);
    return {screen.X - o.X + c.X, screen.Y - o.Y + c.Y};
}

// A click on a scroll bar of Wnd at Screen: the part under it acts and keeps
// acting while the button is held.
void PressBar(HWND wnd, int bar, TPoint screen) {
    TWindowRec* w = Find(wnd);
    if (!w) return;
    TBarTracking& t = Tracking();
    t.Mouse = WindowPoint(wnd, screen);
    TBarLayout l = LayoutOf(w, bar);
    TBarPart part = PartAt(l, t.Mouse);
    if (part == bpNone) return;
    t.Wnd = wnd;
    t.Bar = bar;
    t.Part = part;
    if (part == bpThumb) {
        t.Grab = l.Along(t.Mouse) - l.ThumbStart;
        t.TrackPos = w->Scroll[bar].Pos;
        return;
    }
    StepBar();
    SendMessage(wnd, WM_NCPAINT, 1, 0); // the arrow shows pressed
    if (!t.Repeat) t.Repeat = std::make_unique<TTimer>();
    t.Repeat->SetEnabled(false);
    t.Repeat->SetInterval(350); // the first repeat waits, as a system's does
    t.Repeat->SetOnTimer([] {
        Tracking().Repeat->SetInterval(50);
        StepBar();
    });
    t.Repeat->SetEnabled(true);
}

void DragThumb(TPoint screen) {
    TBarTracking& t = Tracking();
    TWindowRec* w = Find(t.Wnd);
    if (!w) return;
    TScrollInfo& si = w->Scroll[t.Bar];
    TBarLayout l = LayoutOf(w, t.Bar);
    int room = l.Length() - 2 * l.Button - l.Thumb, span = si.Max - si.Min + 1 - int(si.Page);
    if (room <= 0 || span <= 0) return;
    int start = std::clamp(l.Along(WindowPoint(t.Wnd, screen)) - t.Grab - l.Button, 0, room);
    int pos = si.Min + int((int64_t(start) * span + room / 2) / room);
    if (pos == t.TrackPos) return;
    t.TrackPos = pos;
    si.TrackPos = pos;
    SendScroll(t.Wnd, t.Bar, SB_THUMBTRACK, pos);
    SendMessage(t.Wnd, WM_NCPAINT, 1, 0);
}

void ReleaseBar() {
    TBarTracking& t = Tracking();
    HWND wnd = std::exchange(t.Wnd, 0);
    TBarPart part = std::exchange(t.Part, bpNone);
    if (t.Repeat) t.Repeat->SetEnabled(false);
    if (!IsWindow(wnd)) return;
    if (part == bpThumb) {
        if (TWindowRec* w = Find(wnd)) w->Scroll[t.Bar].TrackPos = t.TrackPos;
        SendScroll(wnd, t.Bar, SB_THUMBPOSITION, t.TrackPos);
    }
    SendScroll(wnd, t.Bar, SB_ENDSCROLL, 0);
    SendMessage(wnd, WM_NCPAINT, 1, 0);
}

// The window the mouse was last reported over, and whether over its non-client area.
struct TMouseOver {
    HWND Wnd = 0;
    bool NonClient = false;
};
TMouseOver mouseOver;

void Leave(HWND wnd, bool nonClient) {
    if (mouseOver.Wnd == wnd && mouseOver.NonClient == nonClient) return;
    TMouseOver old = std::exchange(mouseOver, TMouseOver{wnd, nonClient});
    if (IsWindow(old.Wnd))
        SendMessage(old.Wnd, old.NonClient ? WM_NCMOUSELEAVE : WM_MOUSELEAVE, 0, 0);
}

bool ButtonDown(UINT msg) {
    return msg == WM_LBUTTONDOWN || msg == WM_RBUTTONDOWN || msg == WM_MBUTTONDOWN ||
           msg == WM_LBUTTONDBLCLK || msg == WM_RBUTTONDBLCLK || msg == WM_MBUTTONDBLCLK;
}

constexpr UINT NonClientOffset = WM_MOUSEMOVE - WM_NCMOUSEMOVE;

} // namespace

void DeliverMouse(UINT msg, TPoint screen, WPARAM keys) {
    SetCursorPos(screen);
    if (Tracking().Wnd) {
        TBarTracking& t = Tracking();
        TWindowRec* w = Find(t.Wnd);
        TBarPart shown = w ? PressedArrow(w, t.Bar) : bpNone;
        t.Mouse = WindowPoint(t.Wnd, screen);
        // A held arrow shows pressed only while the mouse is on it.
        if (w && PressedArrow(w, t.Bar) != shown) SendMessage(t.Wnd, WM_NCPAINT, 1, 0);
        if (msg == WM_MOUSEMOVE && Tracking().Part == bpThumb) DragThumb(screen);
        if (msg == WM_LBUTTONUP) ReleaseBar();
        return;
    }
    HWND capture = GetCapture();
    LRESULT hit = HTCLIENT;
    HWND target = capture ? capture : WindowAt(screen, &hit);
    if (!target) {
        Leave(0, false);
        return;
    }
    if (!capture) Leave(target, hit != HTCLIENT);
    if (ButtonDown(msg) && GetFocus() != target && IsWindowEnabled(target) &&
        (GetWindowLongPtr(target, GWL_STYLE) & WS_TABSTOP))
        SetFocus(target);
    if (!capture) SendMessage(target, WM_SETCURSOR, target, MakeLParam(int(hit), int(msg)));
    if (hit == HTCLIENT) {
        TPoint p = screen;
        MapWindowPoints(0, target, &p, 1);
        SendMessage(target, msg, keys, MakeLParam(p.X, p.Y));
    } else {
        SendMessage(target, msg - NonClientOffset, WPARAM(hit) | (keys & ~WPARAM(0xFFFF)),
                    MakeLParam(screen.X, screen.Y));
    }
}

void DeliverMouseLeave() {
    if (!Tracking().Wnd && !GetCapture()) Leave(0, false);
}

void DeliverWheel(TPoint screen, int delta, WPARAM keys) {
    SetCursorPos(screen);
    HWND target = WindowFromPoint(screen);
    if (!target) target = GetFocus();
    if (target)
        SendMessage(target, WM_MOUSEWHEEL, keys | WPARAM(uint16_t(int16_t(delta))) << 16,
                    MakeLParam(screen.X, screen.Y));
}

HWND SetModalKeyWindow(HWND wnd) {
    auto& t = Table();
    std::lock_guard<std::mutex> guard(t.Lock);
    return std::exchange(t.ModalKeys, wnd);
}

namespace {

// The window's tab stops that can take the focus, in the order of the tree of windows.
void CollectTabStops(HWND wnd, std::vector<HWND>& stops) {
    for (HWND c : GetChildWindows(wnd)) {
        if (!IsWindowVisible(c) || !IsWindowEnabled(c)) continue;
        if (GetWindowLongPtr(c, GWL_STYLE) & WS_TABSTOP) stops.push_back(c);
        CollectTabStops(c, stops);
    }
}

// Tab (and Shift+Tab) moves the focus to the next (previous) tab stop of the
// top-level window, unless the focused window wants the key (its dialog code).
bool TabMovesFocus(HWND wnd, UINT msg, WPARAM vk) {
    if (vk != VK_TAB || GetKeyState(VK_CONTROL) < 0 || GetKeyState(VK_MENU) < 0) return false;
    if (SendMessage(wnd, WM_GETDLGCODE, vk, 0) & (DLGC_WANTTAB | DLGC_WANTALLKEYS)) return false;
    if (msg != WM_KEYDOWN) return true;
    HWND top = wnd;
    while (GetParent(top)) top = GetParent(top);
    std::vector<HWND> stops;
    CollectTabStops(top, stops);
    auto at = std::find(stops.begin(), stops.end(), wnd);
    if (stops.empty()) return true;
    size_t i = at == stops.end() ? 0 : size_t(at - stops.begin());
    i = GetKeyState(VK_SHIFT) < 0 ? (i + stops.size() - 1) % stops.size() : (i + 1) % stops.size();
    SetFocus(stops[i]);
    return true;
}

} // namespace

namespace {

std::bitset<256> keysHeld; // keys delivered down and not yet up (the main thread's)

// The key data of a key message: a repeat count of 1, Alt in the context
// bit, the key's previous state (down for each repeat of a held key) and,
// going up, the transition bit.
LPARAM KeyData(UINT msg, WPARAM vk) {
    const bool down = msg == WM_KEYDOWN, held = vk < keysHeld.size() && keysHeld[vk];
    WORD flags = 0;
    if (GetKeyState(VK_MENU) < 0) flags |= KF_ALTDOWN;
    if (held || !down) flags |= KF_REPEAT;
    if (!down) flags |= KF_UP;
    if (vk < keysHeld.size()) keysHeld[vk] = down;
    return LPARAM(uint32_t(flags) << 16 | 1u);
}

} // namespace

void DeliverKey(HWND wnd, UINT msg, WPARAM vk, WPARAM ch) {
    HWND modal = 0;
    {
        auto& t = Table();
        std::lock_guard<std::mutex> guard(t.Lock);
        modal = t.ModalKeys;
    }
    const LPARAM data = KeyData(msg, vk);
    // The modal loop translates no keys into characters.
    if (modal && IsWindow(modal)) {
        if (vk) SendMessage(modal, msg, vk, data);
        return;
    }
    if (IsWindow(wnd) && TabMovesFocus(wnd, msg, vk)) return;
    if (vk) SendMessage(wnd, msg, vk, data);
    // What Alt types is a menu's mnemonic, not text (Ctrl+Alt types as AltGr).
    const bool menuChar = GetKeyState(VK_MENU) < 0 && GetKeyState(VK_CONTROL) >= 0;
    if (msg == WM_KEYDOWN && ch && IsWindow(wnd))
        SendMessage(wnd, menuChar ? WM_SYSCHAR : WM_CHAR, ch, data);
}

void ForgetHeldKeys() {
    keysHeld.reset();
}

} // namespace nuq
