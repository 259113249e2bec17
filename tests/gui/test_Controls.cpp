// Components and controls: ownership notices, windows on demand, painting of
// windowless children, erasing in the control's colour.

#include "platform/gui/Controls.h"
#include "platform/gui/Menus.h"
#include "platform/gui/OleAcc.h"

#include "platform/EventLoop.h"

#include <gtest/gtest.h>

using namespace nuq;

namespace {

class TWatcher : public TComponent {
public:
    using TComponent::TComponent;
    std::vector<std::pair<TComponent*, TOperation>> Notices;
    void Notification(TComponent* c, TOperation op) override { Notices.push_back({c, op}); }
};

class TSwatch : public TGraphicControl {
public:
    TColor Fill = clRed;
    using TGraphicControl::TGraphicControl;
    void Paint() override {
        Canvas().Brush.Color = Fill;
        Canvas().FillRect({0, 0, Width(), Height()});
    }
};

void Pump() {
    for (int i = 0; i < 5; ++i) ProcessMessages();
}

} // namespace

TEST(Components, OwnerAndFreeNotificationsReportRemoval) {
    TWatcher owner, watcher;
    auto child = std::make_unique<TWatcher>(&owner);
    EXPECT_EQ(owner.Components().size(), 1u);
    ASSERT_EQ(owner.Notices.size(), 1u);
    EXPECT_EQ(owner.Notices[0].second, opInsert);
    child->FreeNotification(&watcher);
    auto id = reinterpret_cast<uintptr_t>(child.get());
    child.reset();
    EXPECT_TRUE(owner.Components().empty());
    EXPECT_EQ(reinterpret_cast<uintptr_t>(owner.Notices.back().first), id);
    EXPECT_EQ(owner.Notices.back().second, opRemove);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(watcher.Notices.back().first), id);
    EXPECT_EQ(watcher.Notices.back().second, opRemove);
}

TEST(Components, OwnerGoingFirstLeavesItsComponentsWithoutOwner) {
    auto owner = std::make_unique<TComponent>();
    TWatcher child(owner.get());
    owner.reset();
    EXPECT_EQ(child.Owner(), nullptr);
}

TEST(Controls, WindowIsMadeOnDemandWithTheParentsWindow) {
    SetMainThread();
    TCustomControl parent, child;
    parent.SetBounds(0, 0, 100, 80);
    child.SetParent(&parent);
    child.SetBounds(10, 20, 30, 40);
    EXPECT_FALSE(parent.HandleAllocated());
    HWND c = child.Handle();
    EXPECT_TRUE(parent.HandleAllocated());
    EXPECT_EQ(GetParent(c), parent.Handle());
    TRect r;
    GetWindowRect(c, r);
    EXPECT_EQ(r, Rect(10, 20, 40, 60));
    EXPECT_NE(GetWindowLongPtr(c, GWL_STYLE) & WS_CHILD, 0);
    child.SetBounds(5, 5, 10, 10);
    GetWindowRect(c, r);
    EXPECT_EQ(r, Rect(5, 5, 15, 15));
    parent.DestroyHandle();
    EXPECT_FALSE(child.HandleAllocated()); // gone with its parent's window
    EXPECT_FALSE(IsWindow(c));
}

TEST(Controls, RecreateGivesANewWindowWithTheSameBounds) {
    SetMainThread();
    TCustomControl control;
    control.SetBounds(3, 4, 50, 60);
    HWND a = control.Handle();
    control.RecreateWnd();
    HWND b = control.Handle();
    EXPECT_NE(a, b);
    EXPECT_FALSE(IsWindow(a));
    TRect r;
    GetWindowRect(b, r);
    EXPECT_EQ(r, Rect(3, 4, 53, 64));
}

TEST(Controls, PaintingErasesInTheColourAndDrawsWindowlessChildren) {
    SetMainThread();
    TCustomControl parent;
    parent.Color = clGreen;
    parent.SetBounds(0, 0, 40, 30);
    TSwatch swatch;
    swatch.SetParent(&parent);
    swatch.SetBounds(10, 5, 6, 4);
    TSwatch hidden;
    hidden.Fill = clBlue;
    hidden.SetParent(&parent);
    hidden.SetBounds(20, 5, 6, 4);
    hidden.SetVisible(false);
    parent.Handle();
    Pump();
    HBITMAP img = GetWindowImage(parent.Handle());
    auto px = [&](int x, int y) { return img->Scanline(y)[x] & 0xFFFFFF; };
    EXPECT_EQ(px(0, 0), 0x008000u);  // green
    EXPECT_EQ(px(10, 5), 0xFF0000u); // red in image order
    EXPECT_EQ(px(15, 8), 0xFF0000u);
    EXPECT_EQ(px(16, 8), 0x008000u);
    EXPECT_EQ(px(20, 5), 0x008000u); // the hidden one is not painted
    // A windowless child's change repaints its part of the parent.
    swatch.Fill = clBlue;
    swatch.Invalidate();
    TRect u;
    ASSERT_TRUE(GetUpdateRect(parent.Handle(), u, false));
    EXPECT_EQ(u, Rect(10, 5, 16, 9));
    Pump();
    EXPECT_EQ(px(12, 6), 0x0000FFu);
}

TEST(Controls, ReplacedWindowProcSeesPerformedMessages) {
    TControl c;
    std::vector<UINT> seen;
    auto old = c.WindowProc;
    c.WindowProc = [&](TMessage& m) {
        seen.push_back(m.Msg);
        m.Result = 5;
    };
    EXPECT_EQ(c.Perform(WM_USER, 0, 0), 5);
    EXPECT_EQ(seen, std::vector<UINT>{WM_USER});
    c.WindowProc = old;
    EXPECT_EQ(c.Perform(WM_USER, 0, 0), 0);
}

TEST(Screen, CursorsByNumberAreOwned) {
    auto* cursor = new TCursorObject;
    Screen().SetCursor(-1000, cursor);
    EXPECT_EQ(Screen().Cursor(-1000), cursor);
    Screen().SetCursor(-1000, nullptr);
    EXPECT_EQ(Screen().Cursor(-1000), nullptr);
}

// A client's reference stays the same for an object, differs between objects
// and resolves to nothing once the object is gone.
TEST(Accessibility, ReferencesResolveWhileTheirObjectLives) {
    EXPECT_EQ(LresultFromObject(nullptr), 0);
    auto a = std::make_shared<int>(1), b = std::make_shared<int>(2);
    const LRESULT ra = LresultFromObject(a), rb = LresultFromObject(b);
    EXPECT_NE(ra, 0);
    EXPECT_NE(ra, rb);
    EXPECT_EQ(LresultFromObject(a), ra);
    EXPECT_TRUE(ObjectFromLresult(ra) == a);
    b.reset();
    EXPECT_EQ(ObjectFromLresult(rb), nullptr);
    auto c = std::make_shared<int>(3); // may take b's place in memory, not its reference
    EXPECT_NE(LresultFromObject(c), rb);
    EXPECT_EQ(ObjectFromLresult(0), nullptr);
}

TEST(Controls, PopupMenuReportsTheChoiceOnce) {
    struct Case {
        const char* Name;
        int Choose;
        int Reported; // to OnClose
    } cases[] = {
        {"an item", 2, 2},           {"a separator", 1, -1},
        {"a disabled item", 3, -1},  {"nothing (Escape)", -1, -1},
        {"beyond the items", 9, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        TPopupMenu menu;
        std::vector<int> clicked, closed;
        for (const char* caption : {"Open", "-", "Hide", "Sort"}) {
            menu.Items.emplace_back();
            menu.Items.back().Caption = caption;
            menu.Items.back().OnClick = [&](TPopupMenu&, TMenuItem& i) {
                clicked.push_back(i.Caption[0]);
            };
        }
        menu.Items[3].Enabled = false;
        menu.OnClose = [&](TPopupMenu&, int chosen) { closed.push_back(chosen); };
        menu.Popup(40, 50);
        EXPECT_EQ(ShownPopupMenu(), &menu);
        EXPECT_EQ(menu.PopupPoint(), (TPoint{40, 50}));
        menu.CloseUp(c.Choose);
        menu.CloseUp(c.Choose); // closed already: nothing more
        EXPECT_EQ(ShownPopupMenu(), nullptr);
        EXPECT_EQ(closed, std::vector<int>{c.Reported});
        EXPECT_EQ(clicked.size(), c.Reported >= 0 ? 1u : 0u);
    }
    // A second menu closes the first without a choice.
    TPopupMenu first, second;
    int firstClosed = 0;
    first.OnClose = [&](TPopupMenu&, int chosen) { firstClosed = chosen - 10; };
    first.Popup(0, 0);
    second.Popup(5, 5);
    EXPECT_EQ(firstClosed, -11);
    EXPECT_EQ(ShownPopupMenu(), &second);
}

TEST(Controls, CursorTableBeepAndHelp) {
    // Standard numbers give the system's shapes; the forms' hand and drag are pictures.
    EXPECT_EQ(Screen().Cursor(crHandPoint)->SystemId, IDC_HAND);
    EXPECT_EQ(Screen().Cursor(crHSplit)->SystemId, IDC_SIZEWE);
    EXPECT_EQ(Screen().Cursor(12345)->SystemId, IDC_ARROW);
    EXPECT_EQ(Screen().Cursor(crNone), nullptr);
    for (int n : {14000, 14001}) {
        HCURSOR c = Screen().Cursor(n);
        ASSERT_NE(c, nullptr);
        EXPECT_EQ(c->SystemId, 0);
        EXPECT_GT(
            std::count_if(c->Image.begin(), c->Image.end(), [](uint32_t p) { return p >> 24; }),
            40);
    }
    // A picture cursor leaves out the transparent colour.
    TBitmapObject picture(2, 1, 32);
    picture.Bits = {0xFF00FF00u, 0xFFFF0000u};
    auto c = CreatePictureCursor(&picture, RGB(0, 255, 0), 1, 0);
    EXPECT_EQ(c->Image[0], 0u);
    EXPECT_EQ(c->Image[1], 0xFFFF0000u);
    uint64_t beeps = BeepCount();
    Beep();
    EXPECT_EQ(BeepCount(), beeps + 1);
    int shown = 0;
    Application().OnHelp = [&](int context) {
        shown = context;
        return true;
    };
    EXPECT_TRUE(Application().HelpContext(77));
    EXPECT_EQ(shown, 77);
    EXPECT_FALSE(Application().HelpContext(0));
    Application().OnHelp = nullptr;
}
