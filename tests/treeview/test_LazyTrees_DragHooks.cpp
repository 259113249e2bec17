// The tree's drag hooks: the owner's drag manager, the framework's own drag
// kind (start, messages, end), and redrawing under a shown drag image.

#include "treeview/LazyTrees.h"
#include "treeview/LazyTrees_Globals.h"

#include "platform/EventLoop.h"

#include "TreeProbe.h"

#include <gtest/gtest.h>

using namespace nuq;

namespace {

struct DragHookFixture : ::testing::Test {
    std::unique_ptr<TTreeProbe> Tree;
    void SetUp() override {
        SetMainThread();
        Tree = NewComponent<TTreeProbe>();
        Tree->SetBounds(0, 0, 200, 150);
    }
    void TearDown() override { Tree.reset(); }
};

using DragHooks = DragHookFixture;

// An owner's manager that counts the drop-target calls reaching it.
struct OwnerDragManager : TLTDragManager {
    using TLTDragManager::TLTDragManager;
    int Leaves = 0;
    HRESULT DragLeave() override {
        ++Leaves;
        return TLTDragManager::DragLeave();
    }
};

// The owner is asked for the drag manager first; the tree makes its own only
// when the owner gives none, and the window's drop target is that manager.
TEST_F(DragHooks, OwnerSuppliesTheDragManager) {
    for (bool ownerGivesOne : {true, false}) {
        Tree = NewComponent<TTreeProbe>();
        std::shared_ptr<OwnerDragManager> given;
        int asked = 0;
        Tree->OnCreateDragManager = [&](TBaseLazyTree& t, std::shared_ptr<ILTDragManager>& m) {
            ++asked;
            if (ownerGivesOne) m = given = std::make_shared<OwnerDragManager>(&t);
        };
        HWND h = Tree->Handle();
        ILTDragManager* m = Tree->DragManager();
        EXPECT_EQ(asked, 1);
        EXPECT_EQ(Tree->DragManager(), m) << "kept, not asked again";
        EXPECT_EQ(asked, 1);
        EXPECT_EQ(RegisteredDropTarget(h), static_cast<IDropTarget*>(m));
        if (ownerGivesOne) {
            EXPECT_EQ(m, given.get());
            static_cast<IDropTarget*>(m)->DragLeave();
            EXPECT_EQ(given->Leaves, 1);
        } else
            EXPECT_NE(dynamic_cast<TLTDragManager*>(m), nullptr);
    }
}

// A repaint under a shown drag image reaches the window and, where the
// picture covers the tree, the picture's background copy and the screen.
TEST_F(DragHooks, RedrawUnderTheDragImageRefreshesItsBackground) {
    EnsureGuiToolkit();
    ProcessorHasMMX = true;
    SetScreenSize(320, 200);
    constexpr uint32_t Backdrop = 0x00FF00, PictureColour = 0xC82828;
    TBitmap picture;
    picture.SetSize(60, 30);
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 60; ++x) picture.Scanline(y)[x] = 0xFF000000 | PictureColour;
    for (bool shown : {true, false}) {
        HBITMAP screen = GetScreenImage();
        std::fill(screen->Bits.begin(), screen->Bits.end(), 0xFF000000 | Backdrop);
        Tree = NewComponent<TTreeProbe>();
        Tree->SetBounds(20, 20, 200, 150);
        Tree->Color = clWhite;
        HWND wnd = Tree->Handle();
        UpdateWindow(wnd);
        TPoint origin{};
        MapWindowPoints(wnd, 0, &origin, 1);
        TLTDragImage& image = Tree->DragImage();
        image.PrepareDrag(picture, {origin.X + 80, origin.Y + 40}, {0, 0}, nullptr);
        if (shown) image.ShowPicture();
        Tree->Color = clBlue;
        UpdateWindowAndDragImage(Tree.get(), Tree->ClientRect(), false, true);
        HDC dc = GetDC(wnd);
        EXPECT_EQ(GetPixel(dc, 5, 5) & 0xFFFFFF, ColorToRGB(clBlue)) << shown;
        ReleaseDC(wnd, dc);
        const uint32_t blue = 0x0000FF; // the screen's pixels are 0xRRGGBB
        const uint32_t under = image.ScreenCopy->Scanline(10)[10] & 0xFFFFFF;
        const uint32_t onScreen = screen->Scanline(origin.Y + 50)[origin.X + 90] & 0xFFFFFF;
        if (shown) {
            EXPECT_EQ(under, blue);
            EXPECT_NE(onScreen, Backdrop);
            EXPECT_NE(onScreen, PictureColour) << "blended over the new paint";
        } else
            EXPECT_EQ(onScreen, Backdrop) << "no picture: the screen is left alone";
        image.EndDrag();
    }
}

// While a tree's picture shows over the target, what the target paints for a
// new drop target or after scrolling reaches the picture's background copy,
// not only the window (the screen beneath is not the window's).
TEST_F(DragHooks, DragOverRepaintsUnderTheSourcesPicture) {
    EnsureGuiToolkit();
    ProcessorHasMMX = true;
    UseVirtualClock(TDateTime(46000.0));
    SetScreenSize(320, 200);
    constexpr uint32_t Backdrop = 0x00FF00;
    TBitmap picture;
    picture.SetSize(200, 150);
    struct Case {
        const char* name;
        bool ownDrag; // the tree drags over itself, so it scrolls near an edge
        int overY, checkY;
    };
    for (const Case& c :
         {Case{"new drop target", false, 45, 45}, Case{"scrolled", true, 140, 70}}) {
        HBITMAP screen = GetScreenImage();
        std::fill(screen->Bits.begin(), screen->Bits.end(), 0xFF000000 | Backdrop);
        auto other = NewComponent<TLazyStringTree>();
        Tree = NewComponent<TTreeProbe>();
        Tree->SetBounds(20, 20, 200, 150);
        Tree->SetRootNodeCount(50);
        Tree->TreeOptions().SetAutoOptions(Tree->TreeOptions().AutoOptions() | toAutoScroll);
        Tree->OnDragOver = [](TBaseLazyTree&, TPersistent*, TShiftState, TDragState, TPoint,
                              TDropMode, DWORD&, bool& accept) { accept = true; };
        HWND wnd = Tree->Handle();
        UpdateWindow(wnd);
        TPoint origin{};
        MapWindowPoints(wnd, 0, &origin, 1);
        TBaseLazyTree* source = c.ownDrag ? Tree.get() : other.get();
        if (c.ownDrag) Tree->DoStateChange(TS(tsOLEDragging));
        const TPoint over{origin.X + 100, origin.Y + c.overY};
        TLTDragImage& image = source->DragImage();
        image.PrepareDrag(picture, origin, over, nullptr);
        image.ShowPicture();
        auto data = std::make_shared<TLTDataObject>(source, false);
        ILTDragManager& m = *Tree->DragManager();
        DWORD effect = DROPEFFECT_COPY;
        m.DragEnter(data.get(), MK_LBUTTON, {origin.X + 100, origin.Y + 5}, effect);
        m.DragOver(MK_LBUTTON, over, effect); // arms the scroll
        AdvanceClock(Tree->AutoScrollDelay);
        effect = DROPEFFECT_COPY;
        m.DragOver(MK_LBUTTON, over, effect);
        EXPECT_EQ(bool(effect & 0x80000000), c.ownDrag) << c.name;
        EXPECT_NE(image.ScreenCopy->Scanline(c.checkY)[100] & 0xFFFFFF, Backdrop) << c.name;
        m.DragLeave();
        image.EndDrag();
        Tree->DoStateChange(0, TS(tsOLEDragging));
    }
    UseRealClock();
}

// Two trees side by side; A's nodes are dragged with the framework's drag.
struct FrameworkDrag : ::testing::Test {
    std::unique_ptr<TLazyStringTree> A, B;
    std::vector<std::string> Seen; // B's drag-over and drop events, A's end
    bool Accept = true;
    void SetUp() override {
        SetMainThread();
        EnsureGuiToolkit();
        UseVirtualClock(TDateTime(46000.0));
        A = Make(0);
        B = Make(300);
        A->DragType = dtFramework;
        A->DragMode = dmAutomatic;
        B->OnDragOver = [this](TBaseLazyTree&, TPersistent*, TShiftState, TDragState state, TPoint,
                               TDropMode, DWORD&, bool& accept) {
            Seen.push_back(state == dsDragEnter   ? "enter"
                           : state == dsDragLeave ? "leave"
                                                  : "over");
            accept = Accept;
        };
        B->OnDragDrop = [this](TBaseLazyTree& t, TPersistent*, IDataObject* data,
                               const std::vector<WORD>&, TShiftState, TPoint, DWORD&, TDropMode) {
            Seen.push_back(std::string("drop") + (data ? " with data" : "") +
                           (t.DropTargetNode() == t.GetFirst() ? " on the first node" : ""));
        };
        A->OnEndDrag = [this](TControl&, TControl* target, int, int) {
            Seen.push_back(target == B.get() ? "end on B" : "end nowhere");
        };
    }
    void TearDown() override {
        ReleaseCapture();
        A.reset();
        B.reset();
        UseRealClock();
    }
    std::unique_ptr<TLazyStringTree> Make(int left) {
        auto t = NewComponent<TLazyStringTree>();
        t->SetBounds(left, 0, 200, 200);
        t->Handle();
        t->SetRootNodeCount(2);
        return t;
    }
    static void Post(TLazyStringTree& t, UINT msg, int x, int y, WPARAM keys) {
        PostMessage(t.WindowHandle(), msg, keys, MakeLParam(x, y));
    }
    // Presses the button on A's first row: the drag takes what was posted before.
    void Press() {
        TPoint p{30, 5};
        MapWindowPoints(A->WindowHandle(), 0, &p, 1);
        SetCursorPos(p);
        SendMessage(A->WindowHandle(), WM_LBUTTONDOWN, MK_LBUTTON, MakeLParam(30, 5));
    }
};

// A press with automatic dragging runs the framework's drag: the tree under
// the pointer hears it enter, move, leave or take the drop, and the source
// hears the end, its drag states gone and its button up.
TEST_F(FrameworkDrag, RunsFromPressToEnd) {
    // Keys from the keyboard go to the focused window unless a loop takes them.
    const TWindowProc old = GetWindowProc(B->WindowHandle());
    SetWindowProc(B->WindowHandle(), {[this, old](HWND w, UINT m, WPARAM wp, LPARAM lp) {
                                          if (m == WM_NULL)
                                              DeliverKey(A->WindowHandle(), WM_KEYDOWN, VK_ESCAPE,
                                                         0);
                                          return CallWindowProc(old, w, m, wp, lp);
                                      },
                                      nullptr});
    struct Case {
        const char* name;
        std::function<void()> post;
        bool accept;
        std::vector<std::string> seen;
    };
    for (const Case& c : std::vector<Case>{
             {"dropped",
              [&] {
                  Post(*B, WM_MOUSEMOVE, 30, 5, MK_LBUTTON);
                  Post(*B, WM_MOUSEMOVE, 40, 6, MK_LBUTTON);
                  Post(*B, WM_LBUTTONUP, 40, 6, 0);
              },
              true,
              {"enter", "over", "over", "drop on the first node", "end on B"}},
             {"refused",
              [&] {
                  Post(*B, WM_MOUSEMOVE, 30, 5, MK_LBUTTON);
                  Post(*B, WM_LBUTTONUP, 30, 5, 0);
              },
              false,
              {"enter", "over", "leave", "end nowhere"}},
             {"escaped",
              [&] {
                  Post(*B, WM_MOUSEMOVE, 30, 5, MK_LBUTTON);
                  PostMessage(B->WindowHandle(), WM_KEYDOWN, VK_ESCAPE, 0);
              },
              true,
              {"enter", "over", "leave", "end nowhere"}},
             {"escaped on the keyboard",
              [&] {
                  Post(*B, WM_MOUSEMOVE, 30, 5, MK_LBUTTON);
                  // B's procedure below turns this into the keyboard's Escape.
                  PostMessage(B->WindowHandle(), WM_NULL, 0, 0);
                  Post(*B, WM_LBUTTONUP, 30, 5, 0); // drops when the Escape missed the loop
              },
              true,
              {"enter", "over", "leave", "end nowhere"}},
             {"released before the threshold",
              [&] {
                  Post(*A, WM_MOUSEMOVE, 32, 6, MK_LBUTTON);
                  Post(*A, WM_LBUTTONUP, 32, 6, 0);
              },
              true,
              {"end nowhere"}},
         }) {
        Seen.clear();
        Accept = c.accept;
        c.post();
        Press();
        EXPECT_EQ(Seen, c.seen) << c.name;
        for (TLazyTreeState s :
             {tsFrameworkDragging, tsFrameworkDragPending, tsUserDragObject, tsLeftButtonDown}) {
            EXPECT_FALSE(A->HasState(s)) << c.name << " " << s;
            EXPECT_FALSE(B->HasState(s)) << c.name << " " << s;
        }
        EXPECT_FALSE(A->Dragging()) << c.name;
        EXPECT_EQ(A->FocusedNode(), A->GetFirst()) << c.name << ": the click itself counts";
    }
    SetWindowProc(B->WindowHandle(), old);
}

// The owner's own drag object marks a user drag while it runs; the drag
// starts only beyond the system's drag threshold.
TEST_F(FrameworkDrag, StartsBeyondTheThresholdWithTheOwnersObject) {
    const int threshold = GetSystemMetrics(SM_CXDRAG);
    TDragObject own;
    bool userDragSeen = false;
    int started = 0;
    A->OnStartDrag = [&](TControl&, TDragObject*& object) {
        object = &own;
        ++started;
    };
    B->OnDragOver = [&](TBaseLazyTree&, TPersistent*, TShiftState, TDragState, TPoint, TDropMode,
                        DWORD&, bool& accept) {
        userDragSeen = A->HasState(tsUserDragObject) && CurrentDragObject() == &own;
        accept = true;
    };
    struct Case {
        int move;
        bool started;
    };
    for (Case c : {Case{threshold, false}, Case{threshold + 1, true}}) {
        userDragSeen = false;
        started = 0;
        Post(*A, WM_MOUSEMOVE, 30 + c.move, 5, MK_LBUTTON);
        Post(*A, WM_LBUTTONUP, 30 + c.move, 5, 0);
        Press();
        EXPECT_EQ(started, c.started ? 1 : 0) << c.move;
        EXPECT_FALSE(A->HasState(tsUserDragObject));
    }
    Post(*B, WM_MOUSEMOVE, 30, 5, MK_LBUTTON);
    Post(*B, WM_LBUTTONUP, 30, 5, 0);
    Press();
    EXPECT_TRUE(userDragSeen);
}

// An OLE drag of nodes also waits for the system's drag threshold.
TEST_F(FrameworkDrag, OleDragStartsAtTheSystemThreshold) {
    const int threshold = GetSystemMetrics(SM_CXDRAG);
    A->DragType = dtOLE;
    bool started = false;
    A->OnStateChange = [&](TBaseLazyTree&, TLazyTreeStates enter, TLazyTreeStates) {
        if (enter & TS(tsOLEDragging)) started = true;
    };
    for (int move : {threshold - 1, threshold}) {
        started = false;
        Post(*A, WM_LBUTTONUP, 30 + move, 5, 0); // ends the drag loop when one runs
        Press();
        SendMessage(A->WindowHandle(), WM_MOUSEMOVE, MK_LBUTTON, MakeLParam(30 + move, 5));
        EXPECT_EQ(started, move >= threshold) << move;
        TMsg rest;
        while (PeekMessage(rest, 0, 0, 0, PM_REMOVE)) DispatchMessage(rest);
    }
}

// An owner's drag object that tells when its picture goes and comes back.
struct Picture : TDragObject {
    std::vector<std::string>* Seen = nullptr;
    void HideDragImage() override { Seen->push_back("hide"); }
    void ShowDragImage() override { Seen->push_back("show"); }
};

// The target hears the dragged control as the source, or the owner's own
// drag object, whose picture goes away while the target repaints.
TEST_F(FrameworkDrag, TargetHearsTheSourceAndRepaintsUnderThePicture) {
    Picture own;
    own.Seen = &Seen;
    for (bool ownObject : {false, true}) {
        A->OnStartDrag = [&](TControl&, TDragObject*& object) {
            if (ownObject) object = &own;
        };
        TPersistent* source = nullptr;
        B->OnDragOver = [&](TBaseLazyTree&, TPersistent* s, TShiftState, TDragState state, TPoint,
                            TDropMode, DWORD&, bool& accept) {
            accept = true;
            if (state != dsDragMove || source) return;
            source = s;
            B->Invalidate();
            B->Update();
        };
        B->OnAfterPaint = [&](TBaseLazyTree&, TCanvas&) { Seen.push_back("paint"); };
        Seen.clear();
        Post(*B, WM_MOUSEMOVE, 30, 5, MK_LBUTTON);
        Post(*B, WM_LBUTTONUP, 30, 5, 0);
        Press();
        B->OnAfterPaint = nullptr;
        EXPECT_EQ(source, ownObject ? static_cast<TPersistent*>(&own) : A.get()) << ownObject;
        if (!ownObject) continue;
        ASSERT_GE(Seen.size(), 3u);
        EXPECT_EQ(std::vector<std::string>(Seen.begin(), Seen.begin() + 3),
                  (std::vector<std::string>{"hide", "paint", "show"}));
    }
}

// A scroll under a framework drag's picture hides the picture meanwhile.
TEST_F(FrameworkDrag, ScrollingUnderThePictureHidesItMeanwhile) {
    Picture own;
    own.Seen = &Seen;
    A->OnStartDrag = [&](TControl&, TDragObject*& object) { object = &own; };
    B->SetRootNodeCount(30);
    B->OnDragOver = [&](TBaseLazyTree&, TPersistent*, TShiftState, TDragState state, TPoint,
                        TDropMode, DWORD&, bool& accept) {
        accept = true;
        if (state == dsDragMove && B->OffsetY() == 0) {
            Seen.clear();
            B->SetOffsetY(-18);
        }
    };
    B->OnScroll = [&](TBaseLazyTree&, int, int) { Seen.push_back("scroll"); };
    Post(*B, WM_MOUSEMOVE, 30, 5, MK_LBUTTON);
    Post(*B, WM_LBUTTONUP, 30, 5, 0);
    Press();
    ASSERT_GE(Seen.size(), 3u);
    EXPECT_EQ(std::vector<std::string>(Seen.begin(), Seen.begin() + 3),
              (std::vector<std::string>{"hide", "show", "scroll"}));
}

// Only the nearest window of a control is asked for the target: another
// window's answer is no control, and a control that does not answer takes
// no drop.
TEST_F(FrameworkDrag, TargetIsTheNearestControlThatAnswers) {
    TCreateParams params;
    params.ClassName = "Foreign";
    params.Style = WS_CHILD | WS_VISIBLE;
    params.Width = params.Height = 50;
    params.Parent = B->WindowHandle();
    params.Proc.Call = [](HWND wnd, UINT msg, WPARAM w, LPARAM l) -> LRESULT {
        return msg == CM_DRAG ? 1 : DefWindowProc(wnd, msg, w, l); // no control at 1
    };
    HWND foreign = CreateWindowEx(params);
    TCustomControl plain;
    plain.SetParent(B.get());
    plain.SetBounds(0, 100, 50, 50);
    plain.Handle();
    struct Case {
        HWND wnd;
        std::vector<std::string> seen;
    };
    for (const Case& c : {Case{foreign, {"enter", "over", "drop", "end on B"}},
                          Case{plain.WindowHandle(), {"end nowhere"}}}) {
        Seen.clear();
        PostMessage(c.wnd, WM_MOUSEMOVE, MK_LBUTTON, MakeLParam(30, 20));
        PostMessage(c.wnd, WM_LBUTTONUP, 0, MakeLParam(30, 20));
        Press();
        EXPECT_EQ(Seen, c.seen);
    }
    DestroyWindow(foreign);
}

} // namespace
