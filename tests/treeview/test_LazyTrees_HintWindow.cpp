// The hint window: measuring, placing on the desktop, the keys it lets
// through, and the fade and slide on the loop's virtual clock.

#include "treeview/LazyTrees.h"
#include "treeview/LazyTrees_Globals.h"

#include "platform/EventLoop.h"

#include "TreeProbe.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace nuq;

namespace {

constexpr COLORREF ScreenColour = RGB(0, 0, 255);

uint32_t Pixel(HBITMAP image, int x, int y) {
    return image->Scanline(y)[x] & 0xFFFFFF;
}
uint32_t AsPixel(COLORREF c) {
    return uint32_t(GetRValue(c)) << 16 | uint32_t(GetGValue(c)) << 8 | uint32_t(GetBValue(c));
}
uint32_t Blend(uint32_t d, uint32_t s, int alpha) {
    uint32_t out = 0;
    for (int shift = 0; shift < 24; shift += 8) {
        int dc = int(d >> shift & 255), sc = int(s >> shift & 255);
        out |= uint32_t(std::clamp(dc + (sc - dc) * alpha / 256, 0, 255)) << shift;
    }
    return out;
}

// A string tree whose painting layout is a fixed cell, and whose animation
// loop lets the test look at every step.
class TTestTree : public TTreeProbe {
public:
    using TTreeProbe::TTreeProbe;
    TRect Cell{20, 0, 180, 18};
    struct TStep {
        int Step, Size;
        uint32_t Ticks;
    };
    std::vector<TStep> Steps;
    std::function<void(int)> AfterStep; // with the number of steps so far

    void GetTextInfo(PLazyNode node, TColumnIndex column, const TFont& font, TRect& r,
                     std::u16string& text) override {
        TLazyStringTree::GetTextInfo(node, column, font, r, text);
        r = Cell;
    }
    void Animate(uint32_t steps, uint32_t duration, const TLTAnimationCallback& callback,
                 void* data) override {
        TLazyStringTree::Animate(
            steps, duration,
            [&](int step, int size, void* d) {
                bool more = callback(step, size, d);
                Steps.push_back({step, size, GetTickCount()});
                if (AfterStep) AfterStep(int(Steps.size()));
                return more;
            },
            data);
    }
};

class HintWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetMainThread();
        EnsureGuiToolkit();
        UseVirtualClock(45000.0);
        SetScreenSize(400, 300);
        for (int y = 0; y < 300; ++y)
            for (int x = 0; x < 400; ++x)
                GetScreenImage()->Scanline(y)[x] = 0xFF000000 | AsPixel(ScreenColour);
        tree = NewComponent<TTestTree>();
        ProcessorHasMMX = true;
        tree->OnGetText = [this](TBaseLazyTree&, PLazyNode, TColumnIndex, int, std::u16string& s) {
            s = text;
        };
        tree->SetRootNodeCount(1);
        node = tree->GetFirst();
        window = std::make_unique<TLazyTreeHintWindow>();
    }
    void TearDown() override {
        window.reset();
        tree.reset();
        UseRealClock();
    }

    TRect Calc(PLazyNode forNode, const std::u16string& given = {},
               TColumnIndex column = NoColumn) {
        TLTHintData data;
        data.Tree = tree.get();
        data.Node = forNode;
        data.Column = column;
        data.GivenHint = given;
        return window->CalcHintRect(300, given, &data);
    }
    struct TTextSize {
        int W, H;
    };
    TTextSize TextSize(const std::u16string& s) {
        TBitmap b(1, 1);
        b.Canvas().Font.Assign(Screen().HintFont);
        return {b.Canvas().TextWidth(s), b.Canvas().TextHeight(s)};
    }
    std::unique_ptr<TTestTree> tree;
    std::unique_ptr<TLazyTreeHintWindow> window;
    PLazyNode node = nullptr;
    std::u16string text = u"Short";
};

} // namespace

TEST_F(HintWindowTest, MeasuresOrSuppressesTheHint) {
    tree->HintMode = hmTooltip;
    node->States |= vsMultiline;
    // A short text inside an 18-pixel row of a 160-pixel cell shows whole: no hint.
    EXPECT_TRUE(Calc(node).IsEmpty());
    // Not so in a column narrower than the text.
    tree->Header().Columns().Add()->SetWidth(20);
    EXPECT_FALSE(Calc(node, {}, 0).IsEmpty());
    tree->Header().Columns().Clear();
    // Wrapped onto several lines it no longer fits the row.
    text = u"A much longer text that has to wrap over several lines of the cell";
    TRect r = Calc(node);
    EXPECT_FALSE(r.IsEmpty());
    EXPECT_EQ(r.Left, -1);
    EXPECT_EQ(r.Top, -1);
    EXPECT_GT(r.Height(), 18 + 2);
    // A cell scrolled out to the left shows part of a short text only.
    text = u"Short";
    tree->Cell = {-30, 0, 130, 18};
    EXPECT_FALSE(Calc(node).IsEmpty());

    // A single-line tool tip takes the height of the tree's hint rectangle, a
    // pixel shorter with horizontal grid lines, and the whole text's width in
    // the tree's font (not the cell's, which shows it cut), at most the screen's
    // (MaxWidth); then the frame is added.
    node->States &= ~vsMultiline;
    tree->Font.Height = -20;
    tree->LastHintRect = {10, 20, 40, 38};
    TBitmap measure(1, 1);
    measure.Canvas().Font.Assign(tree->Font);
    const int width = measure.Canvas().TextWidth(text) + 2 * tree->TextMargin() + 1;
    EXPECT_EQ(Calc(node), (TRect{-1, -1, width + 1, 19}));
    tree->TreeOptions().SetPaintOptions(tree->TreeOptions().PaintOptions() | toShowHorzGridLines);
    EXPECT_EQ(Calc(node), (TRect{-1, -1, width + 1, 18}));
    text = std::u16string(100, u'W');
    EXPECT_EQ(Calc(node), (TRect{-1, -1, 300 + 1, 18}));
    text = u"Short";

    // No text, no data: no hint.
    text.clear();
    EXPECT_TRUE(Calc(node).IsEmpty());
    EXPECT_TRUE(window->CalcHintRect(300, u"x", nullptr).IsEmpty());

    // A plain hint: the text's size with the margins and the frame.
    tree->HintMode = hmHint;
    TTextSize size = TextSize(u"Given");
    r = Calc(nullptr, u"Given");
    EXPECT_EQ(r, (TRect{-1, -1, size.W + 2 * tree->TextMargin() + 2 + 1, size.H + 6 + 1}));
    EXPECT_EQ(window->HintData().HintText, u"Given");
}

TEST_F(HintWindowTest, StaysOnTheDesktop) {
    tree->HintAnimation = hatNone;
    struct Case {
        TRect in;
        TPoint at;
    };
    // Past the right edge the hint's right edge becomes the desktop's.
    const Case cases[] = {
        {{350, 50, 450, 70}, {300, 50}},    // past the right edge
        {{100, 290, 200, 310}, {100, 280}}, // past the bottom
        {{-20, -5, 80, 15}, {0, 0}},        // above and left of the desktop
        {{390, 295, 490, 315}, {300, 280}}, // past the corner
        {{50, 50, 150, 70}, {50, 50}},      // inside
    };
    for (const auto& c : cases) {
        Calc(nullptr, u"Hint");
        window->ActivateHint(c.in, u"Hint");
        TRect r;
        GetWindowRect(window->WindowHandle(), r);
        EXPECT_EQ(r, Bounds(c.at.X, c.at.Y, c.in.Width(), c.in.Height()))
            << c.in.Left << "," << c.in.Top;
        ShowWindow(window->WindowHandle(), SW_HIDE);
    }
}

TEST_F(HintWindowTest, EmptyRectangleShowsNothing) {
    Calc(nullptr, u"Hint");
    window->ActivateHint({}, u"Hint");
    EXPECT_FALSE(window->HandleAllocated() && IsWindowVisible(window->WindowHandle()));
}

// Fading takes 255 steps over twice the animation duration, each blending
// the hint a little more over the screen, and ends with the hint itself.
TEST_F(HintWindowTest, FadeRunsOnTheVirtualClockAndEndsOpaque) {
    tree->HintAnimation = hatFade;
    tree->SetAnimationDuration(200);
    TRect r = Calc(nullptr, u"Fading hint");
    int w = r.Width(), h = r.Height();
    std::vector<uint32_t> middle;
    tree->AfterStep = [&](int) {
        middle.push_back(Pixel(GetWindowImage(window->WindowHandle()), w / 2, 1));
    };
    uint32_t start = GetTickCount();
    window->ActivateHint(Bounds(40, 40, w, h), u"Fading hint");

    int steps = 0;
    for (const auto& s : tree->Steps) steps += s.Size > 0;
    EXPECT_EQ(steps, 255);
    EXPECT_EQ(tree->Steps.back().Ticks - start, 400u);
    uint32_t info = AsPixel(GetSysColor(COLOR_INFOBK)), screen = AsPixel(ScreenColour);
    for (int k : {0, 1, 100, 254})
        EXPECT_EQ(middle[size_t(k)], Blend(screen, info, int(std::lround(k * 256.0 / 255)))) << k;
    EXPECT_EQ(Pixel(GetWindowImage(window->WindowHandle()), w / 2, 1), info);
    EXPECT_FALSE(tree->HasState(tsInAnimation));
    // A later repaint shows the hint, not the screen under it.
    InvalidateRect(window->WindowHandle(), nullptr, true);
    UpdateWindow(window->WindowHandle());
    EXPECT_EQ(Pixel(GetWindowImage(window->WindowHandle()), w / 2, 1), info);
}

// Sliding takes one step per pixel row over the animation duration; each
// step shows the hint's bottom rows above the screen copy.
TEST_F(HintWindowTest, SlideShowsOneMoreRowPerStep) {
    tree->HintAnimation = hatSlide;
    tree->SetAnimationDuration(200);
    Calc(nullptr, u"Sliding");
    const int w = 60, h = 40;
    std::vector<std::pair<uint32_t, uint32_t>> rows; // the last hint row and the first screen row
    tree->AfterStep = [&](int n) {
        HBITMAP img = GetWindowImage(window->WindowHandle());
        int shown = tree->Steps.back().Size > 0 ? tree->Steps.back().Step : h;
        rows.push_back({shown > 0 ? Pixel(img, w / 2, shown - 1) : 0,
                        shown < h ? Pixel(img, w / 2, shown) : 0});
        (void)n;
    };
    uint32_t start = GetTickCount();
    window->ActivateHint(Bounds(40, 40, w, h), u"Sliding");
    int steps = 0;
    for (const auto& s : tree->Steps) steps += s.Size > 0;
    EXPECT_EQ(steps, 40);
    EXPECT_EQ(tree->Steps.back().Ticks - start, 200u);
    uint32_t screen = AsPixel(ScreenColour);
    for (size_t k = 1; k < 40; ++k) {
        EXPECT_EQ(rows[k].first, 0u) << k; // the hint's bottom row is its black frame
        EXPECT_EQ(rows[k].second, screen) << k;
    }
    EXPECT_EQ(Pixel(GetWindowImage(window->WindowHandle()), w / 2, h - 1), 0u);
    EXPECT_EQ(Pixel(GetWindowImage(window->WindowHandle()), w / 2, 1),
              AsPixel(GetSysColor(COLOR_INFOBK)));
}

// Hiding or destroying the window during an animation stops it at the next step.
TEST_F(HintWindowTest, AnimationStopsWhenTheWindowGoes) {
    tree->HintAnimation = hatSlide;
    tree->SetAnimationDuration(200);
    Calc(nullptr, u"Going");
    tree->AfterStep = [&](int n) {
        if (n == 10) ShowWindow(window->WindowHandle(), SW_HIDE);
    };
    window->ActivateHint(Bounds(40, 40, 60, 40), u"Going");
    EXPECT_EQ(tree->Steps.size(), 12u); // ten steps, the refused one, the refused finish
    EXPECT_EQ(window->HintData().Tree, nullptr);
    EXPECT_FALSE(HintWindowGone);

    tree->Steps.clear();
    Calc(nullptr, u"Going");
    tree->AfterStep = [&](int n) {
        if (n == 5) window.reset();
    };
    TLazyTreeHintWindow* raw = window.get();
    raw->ActivateHint(Bounds(40, 40, 60, 40), u"Going");
    EXPECT_EQ(tree->Steps.size(), 7u);
    EXPECT_TRUE(HintWindowGone);
    EXPECT_FALSE(tree->HasState(tsInAnimation));

    // Nor does a new hint window, made at once, take up the steps of the one that went.
    window = std::make_unique<TLazyTreeHintWindow>();
    tree->Steps.clear();
    Calc(nullptr, u"Going");
    tree->AfterStep = [&](int n) {
        if (n == 5) window = std::make_unique<TLazyTreeHintWindow>();
    };
    raw = window.get();
    raw->ActivateHint(Bounds(40, 40, 60, 40), u"Going");
    EXPECT_EQ(tree->Steps.size(), 7u);
    EXPECT_FALSE(tree->HasState(tsInAnimation));

    // Nor does it go on when the tree's own window goes (a new border recreates it).
    tree->Handle();
    HintWindowGone = false; // the window replaced above set it as it went
    tree->Steps.clear();
    Calc(nullptr, u"Going");
    tree->AfterStep = [&](int n) {
        if (n == 5) tree->SetBorderStyle(1 - tree->BorderStyle());
    };
    window->ActivateHint(Bounds(40, 40, 60, 40), u"Going");
    EXPECT_EQ(tree->Steps.size(), 7u);
    EXPECT_TRUE(HintWindowGone);
}

TEST_F(HintWindowTest, KeysAndFrameMovesDoNotCancelAVisibleHint) {
    tree->HintAnimation = hatNone;
    struct Case {
        UINT msg;
        bool cancels;
    };
    const Case cases[] = {{WM_KEYDOWN, false},     {WM_CHAR, false},       {WM_SYSKEYUP, false},
                          {WM_NCMOUSEMOVE, false}, {WM_LBUTTONDOWN, true}, {WM_MOUSEMOVE, true}};
    for (const auto& c : cases)
        EXPECT_FALSE(window->IsHintMsg({0, c.msg, 0, 0, 0})) << c.msg; // not shown yet
    Calc(nullptr, u"Hint");
    window->ActivateHint(Bounds(10, 10, 50, 20), u"Hint");
    for (const auto& c : cases)
        EXPECT_EQ(window->IsHintMsg({0, c.msg, 0, 0, 0}), c.cancels) << c.msg;

    // While the hint animates a key goes to its window at once.
    int keys = 0;
    HWND target = CreateWindowEx({"Target",
                                  "",
                                  0,
                                  0,
                                  0,
                                  0,
                                  10,
                                  10,
                                  0,
                                  {[&](HWND h, UINT m, WPARAM w, LPARAM l) -> LRESULT {
                                       if (m == WM_KEYDOWN) ++keys;
                                       return DefWindowProc(h, m, w, l);
                                   },
                                   nullptr},
                                  nullptr});
    tree->DoStateChange(TS(tsInAnimation));
    EXPECT_FALSE(window->IsHintMsg({target, WM_KEYDOWN, 13, 0, 0}));
    EXPECT_EQ(keys, 1);
    tree->DoStateChange(0, TS(tsInAnimation));
    DestroyWindow(target);
}

// A right-to-left hint is right aligned, TextMargin - 1 pixels in from the
// inner right edge of its frame.
TEST_F(HintWindowTest, RightToLeftHintIsRightAligned) {
    tree->HintAnimation = hatNone;
    tree->BiDiMode = bdRightToLeft;
    TRect r = Calc(nullptr, u"HH");
    window->ActivateHint(Bounds(10, 10, r.Width() + 20, r.Height()), u"HH");
    UpdateWindow(window->WindowHandle());
    int w = r.Width() + 20, h = r.Height();
    HBITMAP img = window->HintImage->Handle();
    uint32_t info = AsPixel(GetSysColor(COLOR_INFOBK));
    int rightmost = -1, leftmost = w;
    for (int y = 1; y < h - 1; ++y)
        for (int x = 1; x < w - 1; ++x)
            if (Pixel(img, x, y) != info) {
                rightmost = std::max(rightmost, x);
                leftmost = std::min(leftmost, x);
            }
    int edge = w - 1 - (tree->TextMargin() - 1); // the text rectangle's right edge
    EXPECT_LT(rightmost, edge);
    EXPECT_GE(rightmost, edge - 3); // the glyph's own side bearing
    EXPECT_GT(leftmost, 20);        // the spare width stays on the left
}

// The animation loop merges steps when there are more than milliseconds and
// runs nothing without a duration or while another animation runs.
TEST_F(HintWindowTest, AnimationLoopSpreadsStepsOverTheDuration) {
    struct Case {
        uint32_t steps, duration;
        bool busy;
        int calls, stepSize;
        uint32_t elapsed;
    };
    const Case cases[] = {
        {255, 400, false, 255, 1, 400}, {40, 200, false, 40, 1, 200}, {100, 50, false, 50, 2, 50},
        {10, 0, false, 0, 0, 0},        {10, 100, true, 0, 0, 0},
    };
    for (const auto& c : cases) {
        tree->Steps.clear();
        if (c.busy) tree->DoStateChange(TS(tsInAnimation));
        uint32_t start = GetTickCount();
        tree->Animate(
            c.steps, c.duration, [](int, int, void*) { return true; }, nullptr);
        int calls = 0;
        for (const auto& s : tree->Steps) calls += s.Size > 0;
        EXPECT_EQ(calls, c.calls) << c.steps << "/" << c.duration;
        if (c.calls) {
            EXPECT_EQ(tree->Steps.front().Size, c.stepSize) << c.steps << "/" << c.duration;
            EXPECT_EQ(tree->Steps.back().Size, 0); // the finishing call
        }
        EXPECT_EQ(GetTickCount() - start, c.elapsed) << c.steps << "/" << c.duration;
        EXPECT_EQ(tree->HasState(tsInAnimation), c.busy);
        if (c.busy) tree->DoStateChange(0, TS(tsInAnimation));
    }
}
