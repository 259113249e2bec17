// The screen's picture, visibility notices and word breaking of the window layer.

#include "platform/gui/Windows.h"

#include "platform/EventLoop.h"

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
