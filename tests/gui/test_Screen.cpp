// The screen's picture, visibility notices and word breaking of the window layer.

#include "platform/gui/Windows.h"

#include "platform/EventLoop.h"
#include "platform/gui/GdiPrivate.h"

#include <gtest/gtest.h>

using namespace nuq;

TEST(Screen, ScreenContextDrawsIntoTheScreensPicture) {
    EnsureGuiToolkit();
    SetScreenSize(200, 100);
    EXPECT_EQ(GetDesktopWorkArea(), (TRect{0, 0, 200, 100}));
    HDC dc = GetDC(0);
    ASSERT_NE(dc, nullptr);
    SetPixel(dc, 199, 99, RGB(10, 20, 30));
    SetPixel(dc, 200, 99, RGB(10, 20, 30)); // outside: dropped
    ReleaseDC(0, dc);
    EXPECT_EQ(GetScreenImage()->Scanline(99)[199] & 0xFFFFFF, 0x0A141Eu);
    EXPECT_EQ(GetScreenImage()->Width, 200);
    SetScreenSize(1024, 768);
}

// Over a real screen a drag image is blended with what the windows show, and
// only what was drawn shows over them.
TEST(Screen, ScreenContextSeesTheWindowsAndKeepsWhatWasDrawn) {
    EnsureGuiToolkit();
    SetScreenSize(20, 10);
    const uint32_t desk = 0xFF000040u;
    uint32_t window = 0xFFFF0000u; // a window over the left half
    HostHooks().PaintScreen = [&](QImage& screen) {
        screen.fill(desk);
        for (int y = 0; y < 10; ++y)
            for (int x = 0; x < 10; ++x) screen.setPixel(x, y, window);
    };
    auto drawn = [] { return ScreenDrawings().boundingRect(); };
    HDC dc = GetDC(0);
    EXPECT_EQ(GetPixel(dc, 5, 5), RGB(255, 0, 0));
    EXPECT_EQ(GetPixel(dc, 15, 5), RGB(0, 0, 0x40));
    SetPixel(dc, 5, 5, RGB(0, 255, 0));
    SetPixel(dc, 15, 5, RGB(0, 255, 0));
    ReleaseDC(0, dc);
    EXPECT_EQ(drawn(), QRect(5, 5, 11, 1));
    window = 0xFF0000FFu; // the window repaints: over it the drawing is gone
    dc = GetDC(0);
    EXPECT_EQ(GetPixel(dc, 5, 5), RGB(0, 0, 255));
    EXPECT_EQ(GetPixel(dc, 15, 5), RGB(0, 255, 0));
    EXPECT_EQ(drawn(), QRect(15, 5, 1, 1));
    SetPixel(dc, 15, 5, RGB(0, 0, 0x40)); // put back: nothing drawn is left
    ReleaseDC(0, dc);
    EXPECT_TRUE(ScreenDrawings().isEmpty());
    HostHooks().PaintScreen = nullptr;
    SetScreenSize(1024, 768);
}

TEST(Screen, ShowWindowTellsTheWindowOnlyWhenVisibilityChanges) {
    SetMainThread();
    std::vector<WPARAM> shows;
    TCreateParams p;
    p.Width = p.Height = 10;
    p.Proc.Call = [&](HWND h, UINT m, WPARAM w, LPARAM l) -> LRESULT {
        if (m == WM_SHOWWINDOW) shows.push_back(w);
        return DefWindowProc(h, m, w, l);
    };
    HWND wnd = CreateWindowEx(p);
    ShowWindow(wnd, SW_SHOW);
    ShowWindow(wnd, SW_SHOW);
    ShowWindow(wnd, SW_HIDE);
    ShowWindow(wnd, SW_HIDE);
    EXPECT_EQ(shows, (std::vector<WPARAM>{1, 0}));
    DestroyWindow(wnd);
}

TEST(Screen, WordBreakWrapsBetweenWords) {
    EnsureGuiToolkit();
    HDC dc = CreateCompatibleDC(nullptr);
    TRect one{0, 0, 1000, 0};
    DrawTextW(dc, u"abc", 3, one, DT_CALCRECT);
    int line = one.Height(), word = one.Width();
    struct Case {
        const char16_t* text;
        int width, lines;
    };
    for (auto c : {Case{u"abc abc abc", word + 2, 3}, Case{u"abc abc abc", 1000, 1},
                   Case{u"abcabcabc", word, 1}, Case{u"abc\nabc abc", word + 2, 3}}) {
        std::u16string t = c.text;
        TRect r{0, 0, c.width, 0};
        DrawTextW(dc, t.c_str(), int(t.size()), r, DT_CALCRECT | DT_WORDBREAK);
        EXPECT_EQ(r.Height(), c.lines * line) << c.width;
        TRect unbroken{0, 0, c.width, 0};
        DrawTextW(dc, t.c_str(), int(t.size()), unbroken, DT_CALCRECT);
        EXPECT_LE(unbroken.Height(), r.Height());
    }
    DeleteDC(dc);
}
