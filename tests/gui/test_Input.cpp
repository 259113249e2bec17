// Real mouse input as the layer delivers it: hit tests, non-client messages,
// the cursor query, leave reports, focus on a click, the wheel and the
// scroll bars' arrows, track and thumb.

#include "platform/gui/Controls.h"
#include "platform/gui/Windows.h"

#include "platform/EventLoop.h"

#include <gtest/gtest.h>

#include <vector>

using namespace nuq;

namespace {

constexpr UINT WM_NCRBUTTONDOWN = 0x00A4, WM_NCRBUTTONUP = 0x00A5;

// A window that keeps a band of Band pixels above its client area, as the
// tree keeps its header, and records what it gets.
struct Recorder {
    std::vector<TMessage> Msgs;
    int Band = 0;
    bool Transparent = false; // answers HTTRANSPARENT to hit tests
    std::function<void(HWND, UINT, WPARAM)> OnScroll;
    HWND Create(DWORD style, int x, int y, int w, int h, HWND parent = 0) {
        SetMainThread();
        TCreateParams p;
        p.Style = style | WS_VISIBLE | (parent ? DWORD(WS_CHILD) : 0u);
        p.X = x;
        p.Y = y;
        p.Width = w;
        p.Height = h;
        p.Parent = parent;
        p.Proc.Call = [this](HWND wnd, UINT msg, WPARAM wp, LPARAM lp) -> LRESULT {
            if (msg != WM_PAINT && msg != WM_NCPAINT && msg != WM_ERASEBKGND)
                Msgs.push_back({msg, wp, lp, 0});
            if (msg == WM_NCHITTEST && Transparent) return HTTRANSPARENT;
            if ((msg == WM_VSCROLL || msg == WM_HSCROLL) && OnScroll) OnScroll(wnd, msg, wp);
            LRESULT r = DefWindowProc(wnd, msg, wp, lp);
            if (msg == WM_NCCALCSIZE) reinterpret_cast<TRect*>(lp)->Top += Band;
            return r;
        };
        return CreateWindowEx(p);
    }
    std::vector<UINT> Kinds() const {
        std::vector<UINT> k;
        for (const TMessage& m : Msgs) k.push_back(m.Msg);
        return k;
    }
    std::vector<int> ScrollCodes() const {
        std::vector<int> codes;
        for (const TMessage& m : Msgs)
            if (m.Msg == WM_VSCROLL) codes.push_back(LoWord(m.WParam));
        return codes;
    }
    const TMessage* Last(UINT msg) const {
        for (auto it = Msgs.rbegin(); it != Msgs.rend(); ++it)
            if (it->Msg == msg) return &*it;
        return nullptr;
    }
};

void SetRange(HWND h, int max, int page, int pos) {
    TScrollInfo si;
    si.Mask = SIF_RANGE | SIF_PAGE | SIF_POS;
    si.Max = max;
    si.Page = UINT(page);
    si.Pos = pos;
    SetScrollInfo(h, SB_VERT, si, true);
}

int Pos(HWND h) {
    TScrollInfo si;
    GetScrollInfo(h, SB_VERT, si);
    return si.Pos;
}

} // namespace

TEST(Input, ScrollBarLiesBesideTheClientAreaBelowTheBandOnTop) {
    Recorder r;
    r.Band = 20;
    HWND h = r.Create(WS_VSCROLL | WS_POPUP, 0, 0, 100, 120);
    SetRange(h, 999, 100, 0);
    TPoint c = ClientOrigin(h);
    ASSERT_EQ(c.Y, 20);
    HBITMAP img = GetWindowImage(h);
    // The up arrow's black glyph lies in the bar's first square below the band, none above it.
    auto blackIn = [&](int top) {
        int n = 0;
        for (int y = top; y < top + 17; ++y)
            for (int x = 83; x < 100; ++x) n += (img->Scanline(y)[x] & 0xFFFFFF) == 0;
        return n;
    };
    EXPECT_GE(blackIn(20), 4);
    EXPECT_EQ(blackIn(0), 0);
    EXPECT_EQ(SendMessage(h, WM_NCHITTEST, 0, MakeLParam(90, 25)), HTVSCROLL);
    EXPECT_EQ(SendMessage(h, WM_NCHITTEST, 0, MakeLParam(90, 10)), HTBORDER);
    DestroyWindow(h);
}

TEST(Input, ScrollBarPartsScrollRepeatWhileHeldAndEnd) {
    UseVirtualClock(0);
    Recorder r;
    r.Band = 20;
    // The window moves its position as told, a page of 100 on a range of 1000.
    r.OnScroll = [](HWND h, UINT, WPARAM w) {
        int code = LoWord(w), pos = Pos(h);
        if (code == SB_LINEDOWN) SetRange(h, 999, 100, pos + 10);
        if (code == SB_PAGEDOWN) SetRange(h, 999, 100, pos + 100);
        if (code == SB_THUMBPOSITION) SetRange(h, 999, 100, HiWord(w));
    };
    HWND h = r.Create(WS_VSCROLL | WS_POPUP, 0, 0, 100, 220);
    const int x = 91, bottom = 220; // the bar spans 20..220; arrows 17 long
    struct Case {
        const char* Name;
        int Y;                  // where the button goes down
        int MoveTo;             // where it is dragged meanwhile (0: nowhere)
        std::vector<int> First; // the codes before the hold
    } cases[] = {
        {"down arrow", bottom - 5, 0, {SB_LINEDOWN}},
        // The track's repeats stop once the thumb (16 long) reaches the mouse.
        {"track", 20 + 17 + 60, 0, {SB_PAGEDOWN}},
        {"thumb", 20 + 17 + 3, 20 + 17 + 3 + 50, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        SetRange(h, 999, 100, 0);
        r.Msgs.clear();
        DeliverMouse(WM_LBUTTONDOWN, {x, c.Y}, MK_LBUTTON);
        EXPECT_EQ(r.ScrollCodes(), c.First);
        if (c.MoveTo) DeliverMouse(WM_MOUSEMOVE, {x, c.MoveTo}, MK_LBUTTON);
        ProcessMessagesUntil([] { return false; }, 1000);
        DeliverMouse(WM_LBUTTONUP, {x, c.Y}, 0);
        std::vector<int> codes = r.ScrollCodes();
        ASSERT_FALSE(codes.empty());
        EXPECT_EQ(codes.back(), SB_ENDSCROLL);
        if (c.MoveTo) {
            // Tracked, then placed where the thumb was let go, then ended.
            ASSERT_GE(codes.size(), 3u);
            EXPECT_EQ(codes[0], SB_THUMBTRACK);
            EXPECT_EQ(codes[codes.size() - 2], SB_THUMBPOSITION);
            EXPECT_GT(Pos(h), 200);
        } else if (c.First[0] == SB_LINEDOWN) {
            // Held for a second: the first repeat waits, then they come quickly.
            EXPECT_GE(std::count(codes.begin(), codes.end(), SB_LINEDOWN), 10);
        } else {
            // Three pages bring the thumb under the mouse.
            int pages = int(std::count(codes.begin(), codes.end(), SB_PAGEDOWN));
            EXPECT_EQ(pages, 3);
        }
        // Moves after the release are the window's again.
        r.Msgs.clear();
        DeliverMouse(WM_MOUSEMOVE, {40, 60}, 0);
        EXPECT_NE(r.Last(WM_MOUSEMOVE), nullptr);
        EXPECT_TRUE(r.ScrollCodes().empty());
    }
    DestroyWindow(h);
    UseRealClock();
}

TEST(Input, NonClientMessagesCursorQueriesLeaveReportsAndFocus) {
    Recorder top, child, other;
    top.Band = 20;
    HWND t = top.Create(WS_POPUP, 0, 0, 200, 120);
    HWND c = child.Create(WS_TABSTOP, 100, 40, 50, 40, t); // screen 100..150, 60..100
    HWND o = other.Create(WS_POPUP, 300, 0, 50, 50);
    SetFocus(o);
    SetCursor(LoadCursor(IDC_HAND));
    auto run = [&](Recorder& r, std::function<void()> act) {
        top.Msgs.clear();
        child.Msgs.clear();
        act();
        return r.Kinds();
    };
    // In the band: the hit test, the cursor query, then the non-client kind with
    // the hit code and the screen point.
    EXPECT_EQ(run(top,
                  [] {
                      DeliverMouse(WM_MOUSEMOVE, {30, 10}, 0);
                  }),
              (std::vector<UINT>{WM_NCHITTEST, WM_SETCURSOR, WM_NCMOUSEMOVE}));
    EXPECT_EQ(top.Msgs[1].LParam, MakeLParam(HTBORDER, WM_MOUSEMOVE));
    EXPECT_EQ(top.Msgs[2].WParam, WPARAM(HTBORDER));
    EXPECT_EQ(top.Msgs[2].LParam, MakeLParam(30, 10));
    EXPECT_EQ(GetCursor(), LoadCursor(IDC_ARROW)) << "no cursor left from before";
    EXPECT_EQ(run(top,
                  [] {
                      DeliverMouse(WM_RBUTTONDOWN, {30, 10}, MK_RBUTTON);
                      DeliverMouse(WM_RBUTTONUP, {30, 10}, 0);
                  }),
              (std::vector<UINT>{WM_NCHITTEST, WM_SETCURSOR, WM_NCRBUTTONDOWN, WM_NCHITTEST,
                                 WM_SETCURSOR, WM_NCRBUTTONUP}));
    // Into the client area: the non-client area is left, once; the point is the client's.
    EXPECT_EQ(run(top,
                  [] {
                      DeliverMouse(WM_MOUSEMOVE, {30, 30}, 0);
                  }),
              (std::vector<UINT>{WM_NCHITTEST, WM_NCMOUSELEAVE, WM_SETCURSOR, WM_MOUSEMOVE}));
    EXPECT_EQ(top.Msgs.back().LParam, MakeLParam(30, 10));
    EXPECT_EQ(run(top,
                  [] {
                      DeliverMouse(WM_MOUSEMOVE, {31, 30}, 0);
                  }),
              (std::vector<UINT>{WM_NCHITTEST, WM_SETCURSOR, WM_MOUSEMOVE}));
    // Onto the child: the parent's client area is left (and the child's cursor
    // query asks it first); a click focuses the child first.
    EXPECT_EQ(run(top,
                  [] {
                      DeliverMouse(WM_MOUSEMOVE, {110, 70}, 0);
                  }),
              (std::vector<UINT>{WM_NCHITTEST, WM_MOUSELEAVE, WM_SETCURSOR}));
    EXPECT_EQ(run(child,
                  [] {
                      DeliverMouse(WM_LBUTTONDOWN, {110, 70}, MK_LBUTTON);
                  }),
              (std::vector<UINT>{WM_NCHITTEST, WM_SETFOCUS, WM_SETCURSOR, WM_LBUTTONDOWN}));
    EXPECT_EQ(GetFocus(), c);
    // Out of every window: reported once.
    EXPECT_EQ(run(child,
                  [] {
                      DeliverMouseLeave();
                      DeliverMouseLeave();
                  }),
              (std::vector<UINT>{WM_MOUSELEAVE}));
    for (HWND w : {c, t, o}) DestroyWindow(w);
}

TEST(Input, WheelAndClicksReachTheWindowUnderTheMouse) {
    Recorder top, child, other, hint;
    HWND t = top.Create(WS_POPUP, 0, 0, 200, 120);
    HWND c = child.Create(0, 100, 40, 50, 40, t);
    HWND o = other.Create(WS_POPUP, 300, 0, 50, 50);
    SetFocus(o);
    // Over the child, which leaves the wheel to its parent; the focus is elsewhere.
    DeliverWheel({110, 50}, -120, 0);
    ASSERT_NE(child.Last(WM_MOUSEWHEEL), nullptr);
    ASSERT_NE(top.Last(WM_MOUSEWHEEL), nullptr);
    EXPECT_EQ(int16_t(HiWord(top.Last(WM_MOUSEWHEEL)->WParam)), -120);
    EXPECT_EQ(other.Last(WM_MOUSEWHEEL), nullptr);
    EXPECT_EQ(GetFocus(), o); // no tab stop: a click takes no focus
    DeliverMouse(WM_LBUTTONDOWN, {110, 50}, MK_LBUTTON);
    EXPECT_EQ(GetFocus(), o);
    // A window that lets the mouse through (a hint) over the child.
    hint.Transparent = true;
    HWND h = hint.Create(WS_POPUP, 100, 40, 60, 20);
    EXPECT_EQ(WindowFromPoint({110, 50}), c);
    child.Msgs.clear();
    DeliverMouse(WM_MOUSEMOVE, {111, 50}, 0);
    EXPECT_NE(child.Last(WM_MOUSEMOVE), nullptr);
    for (HWND w : {h, c, t, o}) DestroyWindow(w);
}
