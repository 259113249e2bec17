// Dragging nodes between two trees and within one, driven by the mouse and
// key messages a user's drag sends; the drag loop takes the messages posted
// while it runs.

#include "treeview/LazyTrees.h"
#include "treeview/LazyTrees_Globals.h"

#include "platform/EventLoop.h"
#include "platform/Timer.h"

#include <gtest/gtest.h>

#include <map>
#include <stdexcept>

using namespace nuq;

namespace {

class DragTree : public TLazyStringTree {
public:
    using TLazyStringTree::TLazyStringTree;
    int DoGetNodeWidth(PLazyNode, TColumnIndex, TCanvas*) override { return 50; }
};

struct DragDrop : ::testing::Test {
    std::unique_ptr<DragTree> A, B;
    std::map<const TBaseLazyTree*, std::map<PLazyNode, std::u16string>> Captions;
    std::vector<std::string> Seen; // what B's drag-over event heard
    void SetUp() override {
        SetMainThread();
        EnsureGuiToolkit();
        UseVirtualClock(TDateTime(46000.0));
        A = Make(0);
        B = Make(300);
        A->OnDragAllowed = [](TBaseLazyTree&, PLazyNode, TColumnIndex, bool& allowed) {
            allowed = true;
        };
        A->TreeOptions().SetSelectionOptions(toMultiSelect);
        for (DragTree* t : {A.get(), B.get()}) {
            t->OnDragOver = [this](TBaseLazyTree& tree, TPersistent*, TShiftState, TDragState state,
                                   TPoint, TDropMode, DWORD&, bool& accept) {
                if (&tree == B.get())
                    Seen.push_back(state == dsDragEnter   ? "enter"
                                   : state == dsDragLeave ? "leave"
                                                          : "over");
                accept = true;
            };
            // What an application does with a drop of nodes: they go after
            // the target node, moved or copied as the effect says.
            t->OnDragDrop = [](TBaseLazyTree& tree, TPersistent*, IDataObject* data,
                               const std::vector<WORD>&, TShiftState, TPoint, DWORD& effect,
                               TDropMode mode) {
                TBaseLazyTree* source = tree.GetTreeFromDataObject(data);
                PLazyNode target = tree.DropTargetNode();
                TLTNodeAttachMode attach = mode == dmOnNode  ? amAddChildLast
                                           : mode == dmAbove ? amInsertBefore
                                                             : amInsertAfter;
                tree.ProcessOLEData(source, data, target, attach, effect == DROPEFFECT_MOVE);
            };
        }
    }
    void TearDown() override {
        ReleaseCapture();
        A.reset();
        B.reset();
        UseRealClock();
    }
    std::unique_ptr<DragTree> Make(int left) {
        auto t = NewComponent<DragTree>();
        t->SetBounds(left, 0, 200, 200);
        t->Handle();
        if (t->PlusBM().Width() <= 1) t->PlusBM().SetSize(9, 9);
        t->OnGetText = [this](TBaseLazyTree& tree, PLazyNode n, TColumnIndex, int,
                              std::u16string& s) {
            auto& names = Captions[&tree];
            auto it = names.find(n);
            // A copied node has no caption of its own: it is named after the text it was copied
            // with.
            s = it != names.end() ? it->second : u"copy";
        };
        t->OnNodeCopied = [this](TBaseLazyTree& tree, PLazyNode n) {
            Captions[&tree][n] = Pending;
        };
        return t;
    }
    std::u16string Pending; // the caption a copy made by the next drop gets
    std::vector<PLazyNode> Nodes(DragTree& t, std::initializer_list<const char16_t*> captions,
                                 PLazyNode parent = nullptr) {
        std::vector<PLazyNode> out;
        for (const char16_t* c : captions) {
            out.push_back(t.AddChild(parent));
            Captions[&t][out.back()] = c;
        }
        return out;
    }
    std::string Names(DragTree& t) {
        std::string s;
        for (PLazyNode n = t.GetFirst(); n; n = t.GetNext(n)) {
            auto c = Captions[&t][n];
            s += (s.empty() ? "" : " ") + std::string(c.begin(), c.end());
        }
        return s;
    }
    static void Send(DragTree& t, UINT msg, int x, int y, WPARAM keys) {
        TPoint p{x, y};
        MapWindowPoints(t.WindowHandle(), 0, &p, 1);
        SetCursorPos(p);
        SendMessage(t.WindowHandle(), msg, keys, MakeLParam(x, y));
    }
    static void Post(DragTree& t, UINT msg, int x, int y, WPARAM keys) {
        PostMessage(t.WindowHandle(), msg, keys, MakeLParam(x, y));
    }
    // Presses the button on A's row Row and moves it beyond the drag
    // threshold: the drag runs over what was posted before.
    void StartDragOnA(int row, WPARAM keys) {
        Send(*A, WM_LBUTTONDOWN, 30, row * 18 + 5, MK_LBUTTON | keys);
        Send(*A, WM_MOUSEMOVE, 30, row * 18 + 15, MK_LBUTTON | keys);
    }
};

} // namespace

TEST_F(DragDrop, NodesGoToTheOtherTreeMovedWithShiftCopiedOtherwise) {
    struct Case {
        WPARAM keys;
        const char* a;
        const char* b;
    };
    for (const Case& c : {Case{0, "a b c", "x b y"}, Case{MK_CONTROL, "a b c", "x b y"},
                          Case{MK_SHIFT, "a c", "x b y"}}) {
        std::vector<TPoint> ends; // the source hears the end where the pointer is
        A->OnEndDrag = [&](TControl&, TControl*, int x, int y) { ends.push_back({x, y}); };
        A->Clear();
        B->Clear();
        Captions.clear();
        Nodes(*A, {u"a", u"b", u"c"});
        Nodes(*B, {u"x", u"y"});
        Pending = u"b";
        // Below the middle of "x" in B, then the button goes up there.
        Post(*B, WM_MOUSEMOVE, 100, 14, MK_LBUTTON | c.keys);
        Post(*B, WM_LBUTTONUP, 100, 14, c.keys);
        StartDragOnA(1, c.keys);
        EXPECT_EQ(Names(*A), c.a) << c.keys;
        EXPECT_EQ(Names(*B), c.b) << c.keys;
        EXPECT_FALSE(A->Dragging());
        EXPECT_FALSE(A->HasState(tsLeftButtonDown)) << "the release went to the drag loop";
        EXPECT_EQ(B->DropTargetNode(), nullptr);
        EXPECT_EQ(GetCapture(), HWND(0));
        EXPECT_EQ(ends, (std::vector<TPoint>{{400, 14}})) << c.keys;
    }
}

// The drag rests near the bottom of the tree it would drop on: after the
// delay that tree scrolls, though the pointer does not move.
TEST_F(DragDrop, ARestingDragNearTheTargetsEdgeScrollsItAfterTheDelay) {
    for (int i = 0; i < 30; ++i) Nodes(*B, {u"row"});
    Nodes(*A, {u"a"});
    Pending = u"a";
    B->TreeOptions().SetAutoOptions(B->TreeOptions().AutoOptions() | toAutoScroll);
    std::vector<int> offsets;
    TTimer look;
    look.SetInterval(B->AutoScrollDelay * 3);
    look.SetOnTimer([&] {
        look.SetEnabled(false);
        offsets.push_back(B->OffsetY());
        PostMessage(B->WindowHandle(), WM_KEYDOWN, VK_ESCAPE, 0); // the drag ends
    });
    Post(*B, WM_MOUSEMOVE, 30, B->ClientRect().Height() - 5, MK_LBUTTON);
    PostCall([&] { look.SetEnabled(true); });
    StartDragOnA(0, 0);
    ASSERT_EQ(offsets.size(), 1u);
    EXPECT_LT(offsets[0], 0);
}

// A move to another tree whose deletion of the moved nodes fails still ends the drag.
TEST_F(DragDrop, AFailedDeletionOfTheMovedNodesStillEndsTheDrag) {
    Nodes(*A, {u"a", u"b", u"c"});
    Nodes(*B, {u"x"});
    A->TreeOptions().SetAutoOptions(A->TreeOptions().AutoOptions() | toAutoDeleteMovedNodes);
    A->OnFreeNode = [](TBaseLazyTree&, PLazyNode) { throw std::runtime_error("freeing"); };
    Post(*B, WM_MOUSEMOVE, 100, 14, MK_LBUTTON | MK_SHIFT);
    Post(*B, WM_LBUTTONUP, 100, 14, MK_SHIFT);
    EXPECT_THROW(StartDragOnA(1, MK_SHIFT), std::runtime_error);
    A->OnFreeNode = nullptr;
    EXPECT_FALSE(A->Dragging());
    EXPECT_FALSE(A->HasState(tsOLEDragging));
    EXPECT_FALSE(A->HasState(tsLeftButtonDown));
    EXPECT_EQ(A->UpdateCount(), 0);
}

// Moved within its own tree, a node is moved in place and must not be deleted
// afterwards as if it had gone to another tree.
TEST_F(DragDrop, AMoveWithinTheTreeKeepsTheMovedNodes) {
    Nodes(*A, {u"a", u"b", u"c"});
    // Moved one by one, as an application moves its own nodes, outside an update.
    A->OnDragDrop = [](TBaseLazyTree& tree, TPersistent*, IDataObject*, const std::vector<WORD>&,
                       TShiftState, TPoint, DWORD& effect, TDropMode) {
        for (PLazyNode n : tree.GetSortedSelection(true))
            tree.MoveTo(n, tree.DropTargetNode(), amInsertAfter);
        effect = DROPEFFECT_NONE;
    };
    Post(*A, WM_MOUSEMOVE, 30, 2 * 18 + 14, MK_LBUTTON);
    Post(*A, WM_LBUTTONUP, 30, 2 * 18 + 14, 0);
    StartDragOnA(0, 0);
    EXPECT_EQ(Names(*A), "b c a");
    EXPECT_EQ(A->TotalCount(), 3u);
    // The rows show the move (no selection left at the old place, no drop
    // highlight) as a fresh paint does.
    HWND wnd = A->WindowHandle();
    UpdateWindow(wnd);
    const std::vector<uint32_t> shown = GetWindowImage(wnd)->Bits;
    RedrawWindow(wnd, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
    EXPECT_TRUE(shown == GetWindowImage(wnd)->Bits);
}

TEST_F(DragDrop, EscapeOrLeavingBeforeTheReleaseChangesNothing) {
    auto x = Nodes(*B, {u"x", u"y"});
    Nodes(*A, {u"a", u"b"});
    // Escape over "x".
    Post(*B, WM_MOUSEMOVE, 30, 5, MK_LBUTTON);
    PostMessage(B->WindowHandle(), WM_KEYDOWN, VK_ESCAPE, 0);
    Post(*B, WM_MOUSEMOVE, 30, 25, MK_LBUTTON); // never seen: the drag has ended
    StartDragOnA(0, MK_SHIFT);
    TMsg rest;
    while (PeekMessage(rest, 0, 0, 0, PM_REMOVE)) {
    }
    EXPECT_EQ(Seen, (std::vector<std::string>{"enter", "over", "leave"}));
    EXPECT_EQ(B->DropTargetNode(), nullptr);
    EXPECT_EQ(Names(*A), "a b");
    EXPECT_EQ(Names(*B), "x y");

    // Over "x", then off both trees, where the button goes up.
    Seen.clear();
    Post(*B, WM_MOUSEMOVE, 30, 5, MK_LBUTTON);
    Post(*B, WM_MOUSEMOVE, 30, 6, MK_LBUTTON);
    Post(*B, WM_MOUSEMOVE, 250, 5, MK_LBUTTON); // B's client 250 is past its right edge
    Post(*B, WM_LBUTTONUP, 250, 5, 0);
    TBaseLazyTree* targetWhileOver = nullptr;
    B->OnDragOver = [&](TBaseLazyTree&, TPersistent*, TShiftState, TDragState state, TPoint,
                        TDropMode, DWORD&, bool& accept) {
        Seen.push_back(state == dsDragLeave ? "leave" : "over");
        if (state == dsDragMove && B->DropTargetNode() == x[0]) targetWhileOver = B.get();
        accept = true;
    };
    StartDragOnA(0, MK_SHIFT);
    EXPECT_EQ(targetWhileOver, B.get());
    EXPECT_EQ(Seen, (std::vector<std::string>{"over", "over", "over", "leave"}));
    EXPECT_EQ(B->DropTargetNode(), nullptr) << "leaving clears the drop highlight";
    EXPECT_EQ(Names(*A), "a b");
    EXPECT_EQ(Names(*B), "x y");
}

TEST_F(DragDrop, HoveringOverACollapsedNodeExpandsItAfterTheDelay) {
    auto x = Nodes(*B, {u"x", u"y"});
    Nodes(*B, {u"x1"}, x[0]);
    Nodes(*A, {u"a"});
    Pending = u"a";
    std::vector<bool> expanded;
    TTimer before, after;
    before.SetInterval(B->AutoExpandDelay - 1);
    before.SetOnTimer([&] {
        before.SetEnabled(false);
        expanded.push_back(B->Expanded(x[0]));
    });
    after.SetInterval(B->AutoExpandDelay + 1);
    after.SetOnTimer([&] {
        after.SetEnabled(false);
        expanded.push_back(B->Expanded(x[0]));
        Post(*B, WM_LBUTTONUP, 30, 5, 0);
    });
    Post(*B, WM_MOUSEMOVE, 30, 5, MK_LBUTTON);
    PostCall([&] {
        before.SetEnabled(true);
        after.SetEnabled(true);
    });
    StartDragOnA(0, 0);
    EXPECT_EQ(expanded, (std::vector<bool>{false, true}));
    EXPECT_EQ(Names(*B), "x x1 a y") << "dropped on the label, the copy goes into the node";
}

// The picture of the dragged nodes is drawn onto the screen while the drag is
// over the other tree, follows the mouse, and leaves the screen as it found it
// after a drop and after Escape; a tree that shows no drag image draws nothing.
TEST_F(DragDrop, TheDraggedNodesShowOnTheScreenWhileTheDragRuns) {
    ProcessorHasMMX = true;
    SetScreenSize(1024, 768);
    constexpr uint32_t Backdrop = 0x00FF00;
    HBITMAP screen = GetScreenImage();
    auto changedIn = [&](TRect r) {
        int changed = 0;
        for (int y = std::max(r.Top, 0); y < std::min(r.Bottom, screen->Height); ++y)
            for (int x = std::max(r.Left, 0); x < std::min(r.Right, screen->Width); ++x)
                if ((screen->Scanline(y)[x] & 0xFFFFFF) != Backdrop) ++changed;
        return changed;
    };
    const TRect wholeScreen{0, 0, 1024, 768};
    struct Case {
        const char* Name;
        TLTDragImageKind Kind;
        bool Escape;
        bool Shown;
    } cases[] = {
        {"dropped", diComplete, false, true},
        {"escaped", diComplete, true, true},
        {"main column only", diMainColumnOnly, false, true},
        {"no image", diNoImage, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        A->Clear();
        B->Clear();
        Captions.clear();
        std::fill(screen->Bits.begin(), screen->Bits.end(), Backdrop);
        Nodes(*A, {u"a", u"b"});
        Nodes(*B, {u"x", u"y"});
        Pending = u"a";
        A->DragImageKind = c.Kind;
        struct Seen {
            TRect Picture;
            int Changed, Under; // changed pixels on the whole screen and under the picture
        };
        std::vector<Seen> seen;
        B->OnDragOver = [&](TBaseLazyTree&, TPersistent*, TShiftState, TDragState state, TPoint,
                            TDropMode, DWORD&, bool& accept) {
            if (state == dsDragMove) {
                TRect r = A->DragImage().PictureRect();
                seen.push_back({r, changedIn(wholeScreen), changedIn(r)});
            }
            accept = true;
        };
        // The pointer stays on the first row: a new drop target would be
        // painted under the picture, and the screen here holds no windows.
        Post(*B, WM_MOUSEMOVE, 30, 5, MK_LBUTTON);
        Post(*B, WM_MOUSEMOVE, 40, 15, MK_LBUTTON);
        if (c.Escape)
            PostMessage(B->WindowHandle(), WM_KEYDOWN, VK_ESCAPE, 0);
        else
            Post(*B, WM_LBUTTONUP, 40, 15, 0);
        StartDragOnA(0, 0);
        TMsg rest;
        while (PeekMessage(rest, 0, 0, 0, PM_REMOVE)) {
        }
        ASSERT_GE(seen.size(), 2u);
        if (c.Shown) {
            const Seen &first = seen[0], &second = seen[1];
            EXPECT_FALSE(first.Picture.IsEmpty());
            EXPECT_GT(first.Changed, 0);
            // Everything changed lies under the picture; nothing is left where it was.
            EXPECT_EQ(first.Changed, first.Under);
            EXPECT_EQ(second.Picture.Left - first.Picture.Left, 10);
            EXPECT_EQ(second.Picture.Top - first.Picture.Top, 10);
            EXPECT_GT(second.Changed, 0);
            EXPECT_EQ(second.Changed, second.Under);
        } else {
            for (const Seen& s : seen) {
                EXPECT_TRUE(s.Picture.IsEmpty());
                EXPECT_EQ(s.Changed, 0);
            }
        }
        EXPECT_EQ(changedIn(wholeScreen), 0) << "the screen is as it was";
        EXPECT_FALSE(A->DragImage().IsVisible());
        EXPECT_EQ(A->DragImage().States & (dgInDrag | dgPrepared), 0);
    }
}
