// Hit testing, mouse and keyboard input, incremental search and caption
// editing, driven by the messages a user's actions send to the tree window.

#include "treeview/LazyTrees.h"

#include "platform/EventLoop.h"

#include <gtest/gtest.h>

#include <map>

using namespace nuq;

namespace {

// Captions from a table; a text width fixed per tree, so that positions are exact.
class InputTree : public TLazyStringTree {
public:
    using TLazyStringTree::TLazyStringTree;
    int TextWidth = 50;
    int DoGetNodeWidth(PLazyNode, TColumnIndex, TCanvas*) override { return TextWidth; }
};

struct InputFixture : ::testing::Test {
    std::unique_ptr<InputTree> Tree;
    HWND Wnd = 0;
    std::map<PLazyNode, std::u16string> Captions;
    std::vector<std::string> Log;
    void SetUp() override {
        SetMainThread();
        EnsureGuiToolkit();
        UseVirtualClock(TDateTime(46000.0));
        Tree = NewComponent<InputTree>();
        Tree->SetBounds(0, 0, 400, 200);
        Tree->Handle();
        Wnd = Tree->WindowHandle();
        // The button bitmaps come with the painting; the hit test needs only their size.
        if (Tree->PlusBM().Width() <= 1) Tree->PlusBM().SetSize(9, 9);
        Tree->OnGetText = [this](TBaseLazyTree&, PLazyNode n, TColumnIndex, int,
                                 std::u16string& s) {
            auto it = Captions.find(n);
            if (it != Captions.end()) s = it->second;
        };
        Tree->OnFocusChanged = [this](TBaseLazyTree&, PLazyNode n, TColumnIndex) {
            Log.push_back("focus " + Name(n));
        };
    }
    void TearDown() override {
        for (int vk : {VK_SHIFT, VK_CONTROL, VK_MENU}) SetKeyState(vk, false);
        ReleaseCapture();
        Tree.reset();
        UseRealClock();
    }
    // Top-level nodes with the given captions; each 18 pixels high.
    std::vector<PLazyNode> Nodes(std::initializer_list<const char16_t*> captions,
                                 PLazyNode parent = nullptr) {
        std::vector<PLazyNode> out;
        for (const char16_t* c : captions) {
            out.push_back(Tree->AddChild(parent));
            Captions[out.back()] = c;
        }
        return out;
    }
    std::string Name(PLazyNode n) {
        if (!n) return "none";
        auto it = Captions.find(n);
        return it == Captions.end() ? "?" : std::string(it->second.begin(), it->second.end());
    }
    THitPositions Hit(int x, int y) {
        THitInfo info;
        Tree->GetHitTestInfoAt(x, y, true, info);
        return info.HitPositions;
    }
    void Mouse(UINT msg, int x, int y, WPARAM keys = 0) {
        SendMessage(Wnd, msg, keys, MakeLParam(x, y));
    }
    void Click(int x, int y, WPARAM keys = 0) {
        Mouse(WM_LBUTTONDOWN, x, y, keys | MK_LBUTTON);
        Mouse(WM_LBUTTONUP, x, y, keys);
    }
    void Key(int vk, TShiftState shift = 0) {
        SetKeyState(VK_SHIFT, shift & ssShift);
        SetKeyState(VK_CONTROL, shift & ssCtrl);
        SendMessage(Wnd, WM_KEYDOWN, WPARAM(vk), 0);
        SendMessage(Wnd, WM_KEYUP, WPARAM(vk), 0);
        SetKeyState(VK_SHIFT, false);
        SetKeyState(VK_CONTROL, false);
    }
    void Type(const std::u16string& text) {
        for (char16_t c : text) {
            WPARAM vk = (c >= u'a' && c <= u'z') ? WPARAM(c - 32) : WPARAM(c);
            SendMessage(Wnd, WM_KEYDOWN, vk, 0);
            SendMessage(Wnd, WM_CHAR, WPARAM(c), 0);
            SendMessage(Wnd, WM_KEYUP, vk, 0);
        }
    }
    std::string Selection() {
        std::string s;
        for (PLazyNode n = Tree->GetFirst(); n; n = Tree->GetNext(n))
            if (Tree->Selected(n)) s += (s.empty() ? "" : " ") + Name(n);
        return s;
    }
    int ClientWidth() { return Tree->ClientRect().Width(); }
};

using HitTest = InputFixture;
using MouseInput = InputFixture;
using KeyInput = InputFixture;
using Search = InputFixture;
using Editing = InputFixture;

} // namespace

// --- hit testing -----------------------------------------------------------------------------

// Rows are 18 high; node "a" (row 0) has children, "b" (row 1) has a check box,
// "c" (row 2) has neither. Indent 18, margin 4, text 50 wide.
TEST_F(HitTest, PositionsAcrossARowLeftToRight) {
    auto n = Nodes({u"a", u"b", u"c"});
    Nodes({u"a1"}, n[0]);
    n[1]->CheckType = ctCheckBox;
    Tree->TreeOptions().SetMiscOptions(Tree->TreeOptions().MiscOptions() | toCheckSupport);
    ASSERT_NE(Tree->CheckImages, nullptr);
    const int button = Tree->PlusBM().Width(), check = Tree->CheckImages->Width() + 2;
    const int w = ClientWidth();
    struct Case {
        int x, y;
        THitPositions expected;
        const char* what;
    };
    const Case cases[] = {
        {1, 5, hiOnItem | hiOnItemButton, "button level, left of the bitmap"},
        {18 - button, 5, hiOnItem | hiOnItemButton | hiOnItemButtonExact, "on the button bitmap"},
        {5, 41, hiOnItem | hiOnItemIndent, "indentation of a node without children"},
        {19, 23, hiOnItem | hiOnItemCheckbox, "the margin belongs to the check area"},
        {18 + 4 + check - 1, 23, hiOnItem | hiOnItemCheckbox, "last pixel of the check area"},
        {18 + 4 + check, 23, hiOnItem | hiOnItemLabel, "text right after the check box"},
        {19, 41, hiOnItem, "margin of a node without a check type"},
        {22, 41, hiOnItem | hiOnItemLabel, "first pixel of the text"},
        {71, 41, hiOnItem | hiOnItemLabel, "last pixel of the text"},
        {72, 41, hiOnItem | hiOnItemRight, "right of the text"},
        {100, 80, hiNowhere, "below the nodes, inside the window"},
        {-1, 5, hiToLeft, "left of the window"},
        {w + 1, 5, hiToRight, "right of the window"},
        {5, -1, hiAbove, "above"},
        {5, 1000, hiBelow, "below the window"},
    };
    for (const Case& c : cases) EXPECT_EQ(Hit(c.x, c.y), c.expected) << c.what;

    auto opts = Tree->TreeOptions().PaintOptions();
    Tree->TreeOptions().SetPaintOptions(opts & ~toShowButtons);
    EXPECT_EQ(Hit(15, 5), hiOnItem | hiOnItemIndent) << "no buttons shown";
    Tree->TreeOptions().SetPaintOptions(opts & ~toShowRoot);
    EXPECT_EQ(Hit(2, 5), hiOnItem) << "no root level: the margin starts at 0";
    Tree->TreeOptions().SetPaintOptions(opts);

    Tree->TextWidth = 1000;
    EXPECT_EQ(Hit(w - 2, 41), hiOnItem | hiOnItemLabel) << "text wider than the cell";
    Tree->TextWidth = 50;
    Tree->SetAlignment(taRightJustify);
    EXPECT_EQ(Hit(w - 51, 41), hiOnItem | hiOnItemLeft);
    EXPECT_EQ(Hit(w - 50, 41), hiOnItem | hiOnItemLabel);
    Tree->SetAlignment(taCenter);
    const int left = (22 + w - 50) / 2;
    EXPECT_EQ(Hit(left - 1, 41), hiOnItem | hiOnItemLeft);
    EXPECT_EQ(Hit(left, 41), hiOnItem | hiOnItemLabel);
    EXPECT_EQ(Hit(left + 50, 41), hiOnItem | hiOnItemRight);
}

TEST_F(HitTest, RightToLeftMirrorsTheRow) {
    auto n = Nodes({u"a", u"b"});
    Nodes({u"a1"}, n[0]);
    Tree->BiDiMode = bdRightToLeft;
    const int w = std::max(ClientWidth(), 0), button = Tree->PlusBM().Width();
    const int edge = w - 18, textRight = edge - 4;
    EXPECT_EQ(Hit(edge + button - 1, 5), hiOnItem | hiOnItemButton | hiOnItemButtonExact);
    EXPECT_EQ(Hit(w - 1, 5), hiOnItem | hiOnItemButton);
    EXPECT_EQ(Hit(w - 1, 23), hiOnItem | hiOnItemIndent);
    EXPECT_EQ(Hit(textRight + 1, 23), hiOnItem);
    EXPECT_EQ(Hit(textRight - 1, 23), hiOnItem | hiOnItemLabel);
    EXPECT_EQ(Hit(textRight - 50, 23), hiOnItem | hiOnItemLabel);
    EXPECT_EQ(Hit(textRight - 51, 23), hiOnItem | hiOnItemLeft);
}

TEST_F(HitTest, ColumnsReportModeAndSplitters) {
    auto n = Nodes({u"a", u"b"});
    TLTHeader& h = Tree->Header();
    for (int i = 0; i < 2; ++i) h.Columns().Add()->SetWidth(150);
    h.Columns()[1].SetOptions(h.Columns()[1].Options() | coFixed);
    THitInfo info;
    Tree->GetHitTestInfoAt(160, 23, true, info);
    EXPECT_EQ(info.HitColumn, 1);
    EXPECT_EQ(info.HitNode, n[1]);
    EXPECT_EQ(info.HitPositions, hiOnItem | hiOnItemLabel)
        << "a non-main column has no indentation";
    Tree->TreeOptions().SetMiscOptions(Tree->TreeOptions().MiscOptions() | toReportMode);
    EXPECT_EQ(Hit(160, 23), hiOnItem);
    EXPECT_EQ(Hit(40, 23), hiOnItem | hiOnItemLabel) << "the main column still has its positions";
    Tree->TreeOptions().SetMiscOptions(Tree->TreeOptions().MiscOptions() | toNodeHeightResize);
    EXPECT_EQ(Hit(160, 19), hiOnItem | hiUpperSplitter);
    EXPECT_EQ(Hit(160, 33), hiOnItem | hiLowerSplitter);
    EXPECT_EQ(Hit(160, 25), hiOnItem);
    EXPECT_EQ(Hit(320, 5), hiOnItem) << "beyond the last column";
}
