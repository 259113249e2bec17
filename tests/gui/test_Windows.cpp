// Windows, messages, timers, focus, capture and painting of the window layer.

#include "platform/gui/Windows.h"

#include "platform/EventLoop.h"

#include <gtest/gtest.h>

#include <atomic>
#include <climits>
#include <thread>
#include <vector>

using namespace nuq;

namespace {

struct Recorder {
    std::vector<UINT> Msgs;
    std::vector<WPARAM> WParams;
    HWND Create(DWORD style = 0, int w = 100, int h = 60, HWND parent = 0) {
        SetMainThread();
        TCreateParams p;
        p.Style = style;
        p.Width = w;
        p.Height = h;
        p.Parent = parent;
        p.Proc.Call = [this](HWND wnd, UINT msg, WPARAM wp, LPARAM lp) -> LRESULT {
            Msgs.push_back(msg);
            WParams.push_back(wp);
            return msg == 0x0401 ? LRESULT(wp * 2) : DefWindowProc(wnd, msg, wp, lp);
        };
        return CreateWindowEx(p);
    }
    int Count(UINT msg) const { return int(std::count(Msgs.begin(), Msgs.end(), msg)); }
};

void Pump() {
    for (int i = 0; i < 5; ++i) ProcessMessages();
}

} // namespace

TEST(Windows, CreateAndDestroySendTheLifeMessagesInOrder) {
    Recorder r;
    HWND h = r.Create();
    ASSERT_TRUE(IsWindow(h));
    EXPECT_EQ(std::vector<UINT>(r.Msgs.begin(), r.Msgs.begin() + 3),
              (std::vector<UINT>{WM_NCCREATE, WM_NCCALCSIZE, WM_CREATE}));
    r.Msgs.clear();
    DestroyWindow(h);
    EXPECT_EQ(r.Msgs, (std::vector<UINT>{WM_DESTROY, WM_NCDESTROY}));
    EXPECT_FALSE(IsWindow(h));
    EXPECT_EQ(SendMessage(h, 0x0401, 1, 0), 0);
    EXPECT_FALSE(PostMessage(h, 0x0401, 1, 0));
}

TEST(Windows, ChildrenAreDestroyedWithTheirParent) {
    Recorder parent, child;
    HWND p = parent.Create();
    HWND c = child.Create(WS_CHILD, 10, 10, p);
    DestroyWindow(p);
    EXPECT_FALSE(IsWindow(c));
    EXPECT_EQ(child.Count(WM_DESTROY), 1);
}

TEST(Windows, ReplacedProcedureSeesMessagesAndCanPassThemOn) {
    Recorder r;
    HWND h = r.Create();
    int seen = 0;
    TWindowProc old = GetWindowProc(h);
    SetWindowProc(h, {[&](HWND wnd, UINT m, WPARAM w, LPARAM l) -> LRESULT {
                          ++seen;
                          return CallWindowProc(old, wnd, m, w, l) + 1;
                      },
                      &seen});
    EXPECT_EQ(SendMessage(h, 0x0401, 5, 0), 11);
    EXPECT_EQ(seen, 1);
    EXPECT_EQ(GetWindowProc(h).Owner, &seen);
    DestroyWindow(h);
}

TEST(Windows, PostedMessagesArriveInOrderOnTheNextPass) {
    Recorder r;
    HWND h = r.Create();
    Pump();
    r.Msgs.clear();
    PostMessage(h, 0x0401, 1, 0);
    PostMessage(h, 0x0402, 2, 0);
    EXPECT_TRUE(r.Msgs.empty());
    Pump();
    EXPECT_EQ(r.Msgs, (std::vector<UINT>{0x0401, 0x0402}));
    DestroyWindow(h);
}

TEST(Windows, PeekMessageFiltersByWindowAndRange) {
    Recorder a, b;
    HWND ha = a.Create(), hb = b.Create();
    Pump();
    PostMessage(ha, 0x0401, 1, 0);
    PostMessage(hb, 0x0402, 2, 0);
    PostMessage(hb, 0x0403, 3, 0);
    TMsg m;
    ASSERT_TRUE(PeekMessage(m, hb, 0, 0, PM_NOREMOVE));
    EXPECT_EQ(m.Message, 0x0402u);
    ASSERT_TRUE(PeekMessage(m, hb, 0x0403, 0x0403, PM_REMOVE));
    EXPECT_EQ(m.WParam, 3u);
    EXPECT_FALSE(PeekMessage(m, hb, 0x0403, 0x0403, PM_REMOVE));
    a.Msgs.clear();
    b.Msgs.clear();
    Pump();
    EXPECT_EQ(a.Msgs, (std::vector<UINT>{0x0401}));
    EXPECT_EQ(b.Count(0x0402), 1);
    EXPECT_EQ(b.Count(0x0403), 0);
    DestroyWindow(ha);
    DestroyWindow(hb);
}

TEST(Windows, MessagesPostedToADestroyedWindowAreDropped) {
    Recorder r;
    HWND h = r.Create();
    PostMessage(h, 0x0401, 1, 0);
    DestroyWindow(h);
    r.Msgs.clear();
    Pump();
    EXPECT_TRUE(r.Msgs.empty());
}

TEST(Windows, TimersSendTheirIdOnTheVirtualClock) {
    UseVirtualClock(0);
    Recorder r;
    HWND h = r.Create();
    SetTimer(h, 7, 100);
    SetTimer(h, 9, 250);
    r.Msgs.clear();
    r.WParams.clear();
    ProcessMessagesUntil([&] { return r.Count(WM_TIMER) >= 3; }, 1000);
    std::vector<WPARAM> ids;
    for (size_t i = 0; i < r.Msgs.size(); ++i)
        if (r.Msgs[i] == WM_TIMER) ids.push_back(r.WParams[i]);
    EXPECT_EQ(ids, (std::vector<WPARAM>{7, 7, 9}));
    EXPECT_TRUE(KillTimer(h, 7));
    EXPECT_FALSE(KillTimer(h, 7));
    DestroyWindow(h); // with a timer still set
    ProcessMessagesUntil([] { return false; }, 500);
    UseRealClock();
}

TEST(Windows, FocusAndCaptureTellTheWindowsConcerned) {
    Recorder a, b;
    HWND ha = a.Create(), hb = b.Create();
    SetFocus(ha);
    a.Msgs.clear();
    EXPECT_EQ(SetFocus(hb), ha);
    EXPECT_EQ(a.Msgs, (std::vector<UINT>{WM_KILLFOCUS}));
    EXPECT_EQ(b.Count(WM_SETFOCUS), 1);
    EXPECT_EQ(GetFocus(), hb);
    SetCapture(ha);
    a.Msgs.clear();
    SetCapture(hb);
    EXPECT_EQ(a.Msgs, (std::vector<UINT>{WM_CAPTURECHANGED}));
    DestroyWindow(hb);
    EXPECT_EQ(GetFocus(), 0u);
    EXPECT_EQ(GetCapture(), 0u);
    DestroyWindow(ha);
}

TEST(Windows, PaintComesOnceWhenTheQueueIsIdle) {
    Recorder r;
    HWND h = r.Create();
    Pump();
    r.Msgs.clear();
    TRect a{0, 0, 10, 10}, b{20, 20, 30, 30};
    InvalidateRect(h, &a, false);
    InvalidateRect(h, &b, false);
    TRect u;
    ASSERT_TRUE(GetUpdateRect(h, u, false));
    EXPECT_EQ(u, (TRect{0, 0, 30, 30}));
    PostMessage(h, 0x0401, 0, 0);
    Pump();
    ASSERT_EQ(r.Count(WM_PAINT), 1);
    EXPECT_EQ(r.Msgs.front(), 0x0401u); // the posted message first
    EXPECT_FALSE(GetUpdateRect(h, u, false));
    DestroyWindow(h);
}

TEST(Windows, SetRedrawOffHoldsPaintingBack) {
    Recorder r;
    HWND h = r.Create();
    Pump();
    SendMessage(h, WM_SETREDRAW, 0, 0);
    r.Msgs.clear();
    InvalidateRect(h, nullptr, true);
    Pump();
    EXPECT_EQ(r.Count(WM_PAINT), 0);
    SendMessage(h, WM_SETREDRAW, 1, 0);
    Pump();
    EXPECT_EQ(r.Count(WM_PAINT), 1);
    DestroyWindow(h);
}

TEST(Windows, NonClientAreaHoldsBorderAndScrollBars) {
    Recorder r;
    HWND h = r.Create(WS_BORDER | WS_VSCROLL, 100, 60);
    TRect c;
    GetClientRect(h, c);
    EXPECT_EQ(c, (TRect{0, 0, 100 - 2 - 17, 58}));
    EXPECT_EQ(ClientOrigin(h), (TPoint{1, 1}));
    ShowScrollBar(h, SB_HORZ, true);
    GetClientRect(h, c);
    EXPECT_EQ(c, (TRect{0, 0, 81, 58 - 17}));
    TScrollInfo si;
    si.Mask = SIF_RANGE | SIF_PAGE | SIF_POS;
    si.Min = 0;
    si.Max = 99;
    si.Page = 10;
    si.Pos = 500;
    EXPECT_EQ(SetScrollInfo(h, SB_VERT, si, true), 90); // clamped to the last page
    // The scroll bar's track is drawn at the right, inside the border.
    HBITMAP img = GetWindowImage(h);
    uint32_t px = img->Scanline(30)[100 - 1 - 8];
    EXPECT_NE(px & 0xFFFFFF, 0xFFFFFFu);
    EXPECT_EQ(img->Scanline(0)[0] & 0xFFFFFF, 0u); // black border
    DestroyWindow(h);
}

TEST(Windows, MapWindowPointsThroughParents) {
    Recorder p, c;
    HWND hp = p.Create(WS_BORDER, 200, 200);
    SetWindowPos(hp, 50, 40, 0, 0, SWP_NOSIZE);
    HWND hc = c.Create(WS_CHILD | WS_VISIBLE, 50, 50, hp);
    SetWindowPos(hc, 10, 20, 0, 0, SWP_NOSIZE);
    TPoint pt{1, 2};
    MapWindowPoints(hc, 0, &pt, 1);
    EXPECT_EQ(pt, (TPoint{50 + 1 + 10 + 1, 40 + 1 + 20 + 2}));
    DestroyWindow(hp);
}

// A worker's SendMessage waits for the main thread's pass and gets the answer;
// a window destroyed while messages wait releases every waiting sender.
TEST(Windows, CrossThreadSendMessageUnderStress) {
    for (int round = 0; round < 200; ++round) {
        Recorder r;
        HWND h = r.Create();
        std::atomic<int> answered{0}, zero{0};
        std::atomic<bool> done{false};
        std::thread worker([&] {
            for (int i = 1; i <= 20; ++i) {
                LRESULT res = SendMessage(h, 0x0401, WPARAM(i), 0);
                if (res == 2 * i)
                    ++answered;
                else if (res == 0)
                    ++zero;
            }
            done = true;
        });
        // Answer a few, then destroy the window at a different moment each round.
        for (int i = 0; i < round % 7; ++i) ProcessMessages();
        DestroyWindow(h);
        worker.join(); // no pumping: a waiting sender must already be released
        EXPECT_TRUE(done);
        EXPECT_EQ(answered + zero, 20);
        Pump();
    }
}

TEST(Windows, CrossThreadSendMessageIsAnsweredOnTheMainThread) {
    Recorder r;
    HWND h = r.Create();
    std::thread::id seenOn;
    SetWindowProc(h, {[&](HWND, UINT m, WPARAM w, LPARAM) -> LRESULT {
                          if (m == 0x0401) seenOn = std::this_thread::get_id();
                          return LRESULT(w + 1);
                      },
                      nullptr});
    LRESULT res = 0;
    std::thread worker([&] { res = SendMessage(h, 0x0401, 41, 0); });
    ProcessMessagesUntil([&] { return res != 0; }, 5000);
    worker.join();
    EXPECT_EQ(res, 42);
    EXPECT_EQ(seenOn, std::this_thread::get_id());
    DestroyWindow(h);
}

TEST(Windows, BeginPaintErasesOnlyWhenAsked) {
    Recorder r;
    HWND h = r.Create();
    Pump();
    r.Msgs.clear();
    TRect part{0, 0, 10, 10};
    InvalidateRect(h, &part, false);
    UpdateWindow(h);
    EXPECT_EQ(r.Count(WM_PAINT), 1);
    EXPECT_EQ(r.Count(WM_ERASEBKGND), 0);
    InvalidateRect(h, &part, true);
    UpdateWindow(h);
    EXPECT_EQ(r.Count(WM_ERASEBKGND), 1);
    UpdateWindow(h); // nothing invalid: no paint
    EXPECT_EQ(r.Count(WM_PAINT), 2);
    InvalidateRect(h, nullptr, false);
    ValidateRect(h, nullptr);
    Pump();
    EXPECT_EQ(r.Count(WM_PAINT), 2);
    DestroyWindow(h);
}

TEST(Windows, PaintDrawsOnlyInsideTheUpdateRegion) {
    SetMainThread();
    TCreateParams p;
    p.Width = 20;
    p.Height = 20;
    p.Proc.Call = [](HWND wnd, UINT msg, WPARAM wp, LPARAM lp) -> LRESULT {
        if (msg != WM_PAINT) return msg == WM_ERASEBKGND ? 1 : DefWindowProc(wnd, msg, wp, lp);
        TPaintStruct ps;
        HDC dc = BeginPaint(wnd, ps);
        HBRUSH b = CreateSolidBrush(0x0000FF);
        FillRect(dc, {0, 0, 20, 20}, b);
        DeleteObject(b);
        EndPaint(wnd, ps);
        return 0;
    };
    HWND h = CreateWindowEx(p);
    ValidateRect(h, nullptr);
    TRect part{5, 5, 8, 8};
    InvalidateRect(h, &part, false);
    UpdateWindow(h);
    HBITMAP img = GetWindowImage(h);
    EXPECT_EQ(img->Scanline(5)[5] & 0xFFFFFF, 0xFF0000u);
    EXPECT_EQ(img->Scanline(8)[8] & 0xFFFFFF, 0xFFFFFFu);
    DestroyWindow(h);
}

TEST(Windows, MovingAndSizingReportTheClientSize) {
    Recorder r;
    HWND h = r.Create(WS_BORDER);
    r.Msgs.clear();
    r.WParams.clear();
    SetWindowPos(h, 7, 8, 50, 40, SWP_NOZORDER);
    EXPECT_EQ(r.Count(WM_MOVE), 1);
    EXPECT_EQ(r.Count(WM_SIZE), 1);
    TRect c;
    GetClientRect(h, c);
    EXPECT_EQ(c, Rect(0, 0, 48, 38));
    EXPECT_EQ(GetWindowImage(h)->Width, 50);
    SetWindowPos(h, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE);
    EXPECT_EQ(r.Count(WM_SIZE), 1);
    DestroyWindow(h);
}

// Sizes beyond what a window can be stop there, image and all; positions at
// the ends of the int range do not wrap.
TEST(Windows, SizeAndPositionStayInRange) {
    struct Case {
        int x, y, width, height;
        TRect expected;
    } cases[] = {
        {0, 0, MaxWindowExtent + 1, 10, {0, 0, MaxWindowExtent, 10}},
        {5, 6, 20, INT_MAX, {5, 6, 25, 6 + MaxWindowExtent}},
        {INT_MAX - 80, 0, 100, 100, {INT_MAX - 80, 0, INT_MAX, 100}},
        {INT_MIN, INT_MIN, 100, 100, {INT_MIN, INT_MIN, INT_MIN + 100, INT_MIN + 100}},
    };
    Recorder r;
    HWND h = r.Create();
    for (const auto& c : cases) {
        SetWindowPos(h, c.x, c.y, c.width, c.height, SWP_NOZORDER);
        TRect w;
        GetWindowRect(h, w);
        EXPECT_EQ(w, c.expected) << c.x << " " << c.width;
        EXPECT_EQ(GetWindowImage(h)->Width, c.expected.Width());
        EXPECT_EQ(GetWindowImage(h)->Height, c.expected.Height());
        SetWindowPos(h, 1, 1, 0, 0, SWP_NOSIZE); // moved from afar
    }
    DestroyWindow(h);
    EXPECT_EQ((TRect{INT_MIN, INT_MIN, INT_MAX, 0}).Width(), INT_MAX);
    EXPECT_EQ((TRect{0, INT_MAX, 0, INT_MIN}).Height(), INT_MIN);
}

TEST(Windows, VisibilityEnablingAndHitTests) {
    Recorder p, c;
    HWND hp = p.Create(WS_VISIBLE, 100, 100);
    HWND hc = c.Create(WS_CHILD | WS_VISIBLE, 40, 40, hp);
    SetWindowPos(hc, 10, 10, 0, 0, SWP_NOSIZE);
    EXPECT_EQ(WindowFromPoint({15, 15}), hc);
    EXPECT_EQ(WindowFromPoint({60, 60}), hp);
    ShowWindow(hc, SW_HIDE);
    EXPECT_FALSE(IsWindowVisible(hc));
    EXPECT_EQ(WindowFromPoint({15, 15}), hp);
    ShowWindow(hp, SW_HIDE);
    EXPECT_EQ(WindowFromPoint({60, 60}), 0u);
    c.Msgs.clear();
    SetCapture(hc);
    EnableWindow(hc, false); // ends its modes first: the capture goes
    EXPECT_FALSE(IsWindowEnabled(hc));
    EXPECT_EQ(c.Count(WM_CANCELMODE), 1);
    EXPECT_EQ(c.Count(WM_ENABLE), 1);
    EXPECT_EQ(GetCapture(), 0u);
    EnableWindow(hc, false);
    EXPECT_EQ(c.Count(WM_ENABLE), 1);
    EXPECT_EQ(c.Count(WM_CANCELMODE), 1);
    EXPECT_EQ(SendMessage(hp, WM_NCHITTEST, 0, MakeLParam(50, 50)), LRESULT(HTCLIENT));
    DestroyWindow(hp);
}

TEST(Windows, TextAndUserData) {
    Recorder r;
    HWND h = r.Create();
    SetWindowText(h, "Дерево");
    EXPECT_EQ(GetWindowText(h), "Дерево");
    SetWindowLongPtr(h, GWLP_USERDATA, 42);
    EXPECT_EQ(GetWindowLongPtr(h, GWLP_USERDATA), 42);
    SendMessage(h, WM_CLOSE, 0, 0);
    EXPECT_FALSE(IsWindow(h));
}
