// The tree read from and written to a form resource: its properties, the
// header's and the columns', the old single option set, and the end of
// loading that makes recorded column positions and widths real.

#include "treeview/LazyTrees.h"

#include "platform/EventLoop.h"
#include "platform/gui/Filer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

using namespace nuq;

namespace {

struct FormFixture : ::testing::Test {
    std::unique_ptr<TLazyStringTree> Tree;
    void SetUp() override {
        SetMainThread();
        Tree = NewComponent<TLazyStringTree>();
        Tree->SetBounds(0, 0, 400, 200);
    }
    void TearDown() override { Tree.reset(); }
    TLazyTreeColumns& Columns() { return Tree->Header().Columns(); }
};

using TreeForm = FormFixture;

std::string Write(TComponent& c) {
    TWriter w;
    w.WriteComponent(c);
    return w.Data;
}

std::unique_ptr<TLazyStringTree> ReadTree(const std::string& data) {
    auto tree = NewComponent<TLazyStringTree>();
    TReader(data).ReadComponent(*tree);
    return tree;
}

// The names of the properties a written component holds, in order.
std::vector<std::string> Names(const std::string& data) {
    size_t pos = 0;
    for (int text = 0; text < 2; ++text) pos += 4 + uint8_t(data[pos]); // class, name
    std::vector<std::string> names;
    while (data.at(pos) != 0) {
        size_t n = uint8_t(data[pos]);
        names.push_back(data.substr(pos + 1, n));
        TReader value(data.substr(pos + 1 + n));
        value.SkipValue();
        pos += 1 + n + value.Position();
    }
    return names;
}

// A component's bytes with one more property, written as given.
std::string WithProperty(const std::string& data, const std::string& name,
                         const std::string& value) {
    return data.substr(0, data.size() - 1) + char(name.size()) + name + value + '\0';
}

// Positions and widths set while loading are only recorded; the end of
// loading builds the position map from them and fits the auto-size column.
TEST_F(TreeForm, LoadedAppliesRecordedColumnPositions) {
    struct Case {
        std::vector<TColumnPosition> positions;
        bool autoResize, bidiOrdering, rightToLeft;
        std::vector<TColumnIndex> map;
        int autoWidth;                 // the last column's width afterwards
        TColumnIndex main, mainLoaded; // the main column as read, and as loading ends
    };
    for (const Case& c : {
             Case{{2, 0, 1}, false, false, false, {1, 2, 0}, 60, 1, 1},
             Case{{1, 0, 2}, true, false, false, {1, 0, 2}, 400 - 50 - 50, 7, 2},
             Case{{2, 0, 1}, false, true, true, {2, 1, 0}, 60, -4, 0},
         }) {
        Tree = NewComponent<TLazyStringTree>();
        Tree->SetBounds(0, 0, 400, 200);
        Tree->ComponentState |= csLoading;
        if (c.rightToLeft) Tree->BiDiMode = bdRightToLeft;
        if (c.bidiOrdering)
            Tree->TreeOptions().SetAutoOptions(Tree->TreeOptions().AutoOptions() |
                                               toAutoBidiColumnOrdering);
        Tree->Header().SetOptions(Tree->Header().Options() | (c.autoResize ? hoAutoResize : 0));
        Tree->Header().SetAutoSizeIndex(2);
        for (size_t i = 0; i < c.positions.size(); ++i) {
            TLazyTreeColumn* col = Columns().Add();
            col->SetWidth(i == 2 ? 60 : 50);
            col->SetPosition(c.positions[i]);
        }
        Tree->Header().SetMainColumn(c.main);
        Tree->Loaded();
        EXPECT_EQ(Tree->Header().MainColumn(), c.mainLoaded);
        EXPECT_EQ(Columns().PositionMap(), c.map) << c.positions[0];
        EXPECT_EQ(Columns()[2].Width(), c.autoWidth) << c.positions[0];
        TColumnIndex first = c.map[0];
        EXPECT_EQ(Columns()[first].Left(), 0);
        EXPECT_EQ(Columns()[c.map[1]].Left(), Columns()[first].Width());
    }
}

// Only what differs from its default is written; the header's columns always are.
TEST_F(TreeForm, DefaultsAreNotStored) {
    struct Case {
        const char* name;
        std::function<void(TLazyStringTree&)> change;
        std::vector<std::string> written;
    };
    for (const Case& c : std::vector<Case>{
             // Without columns the main column reads -1, not its default 0.
             {"fresh", [](auto&) {}, {"Header.MainColumn", "Columns"}},
             {"one column", [](auto& t) { t.Header().Columns().Add(); }, {"Columns"}},
             {"indent",
              [](auto& t) { t.SetIndent(20); },
              {"Header.MainColumn", "Indent", "Columns"}},
             {"indent back",
              [](auto& t) { t.SetIndent(20), t.SetIndent(18); },
              {"Header.MainColumn", "Columns"}},
             {"paint option",
              [](auto& t) {
                  auto& o = t.TreeOptions();
                  o.SetPaintOptions(o.PaintOptions() | toHotTrack);
              },
              {"Header.MainColumn", "TreeOptions.PaintOptions", "Columns"}},
             {"header",
              [](auto& t) {
                  t.Header().SetHeight(30);
                  t.Header().FixedAreaConstraints().SetMaxWidthPercent(50);
              },
              {"Header.FixedAreaConstraints.MaxWidthPercent", "Header.Height", "Header.MainColumn",
               "Columns"}},
             {"scroll bars, colours, header font",
              [](auto& t) {
                  t.ScrollBarOptions().SetScrollBars(ssVertical);
                  t.Colors().SetColor(TLTColors::HotColor, clRed);
                  t.Header().Font().Style = fsBold;
              },
              {"Colors.HotColor", "Header.Font.Style", "Header.MainColumn",
               "ScrollBarOptions.ScrollBars", "Columns"}},
             {"framework drag",
              [](auto& t) { t.DragMode = dmAutomatic; },
              {"DragMode", "Header.MainColumn", "Columns"}},
         }) {
        Tree = NewComponent<TLazyStringTree>();
        c.change(*Tree);
        // A control's place and size have no default: they are always written.
        std::vector<std::string> written{"Left", "Top", "Width", "Height"};
        written.insert(written.end(), c.written.begin(), c.written.end());
        EXPECT_EQ(Names(Write(*Tree)), written) << c.name;
    }
}

// A tree written and read back into a new tree has the same properties,
// header, columns (positions, captions, parent-colour rule) and nodes.
TEST_F(TreeForm, PropertiesSurviveWriteAndRead) {
    Tree->SetIndent(24);
    Tree->SetRootNodeCount(3);
    Tree->SetIncrementalSearch(isAll);
    Tree->DragOperations = doCopy | doLink;
    Tree->WantTabs = true;
    auto& o = Tree->TreeOptions();
    o.SetMiscOptions(o.MiscOptions() | toEditable);
    o.SetStringOptions(toShowStaticText);
    TLTHeader& h = Tree->Header();
    h.SetOptions(h.Options() | hoVisible | hoDblClickResize);
    h.SetAutoSizeIndex(1);
    TLazyTreeColumn* a = Columns().Add();
    TLazyTreeColumn* b = Columns().Add();
    h.SetSortColumn(1);
    h.SetSortDirection(sdDescending);
    a->SetText(u"Котельная");
    a->Hint = u"name";
    a->SetWidth(120);
    a->SetColor(clRed);
    h.Font().Name = "DejaVu Serif";
    h.Font().Height = -14;
    b->SetCaptionAlignment(taCenter);
    b->SetPosition(0);
    std::string data = Write(*Tree);

    auto copy = ReadTree(data);
    EXPECT_FALSE(copy->ComponentState & (csLoading | csReading));
    EXPECT_EQ(copy->Indent(), 24u);
    EXPECT_EQ(copy->RootNodeCount(), 3u);
    EXPECT_EQ(copy->TotalCount(), 3u) << "the nodes are made after loading";
    EXPECT_EQ(copy->IncrementalSearch(), isAll);
    EXPECT_EQ(copy->DragOperations, doCopy | doLink);
    EXPECT_TRUE(copy->WantTabs);
    EXPECT_EQ(copy->TreeOptions().MiscOptions(), o.MiscOptions());
    EXPECT_EQ(copy->TreeOptions().StringOptions(), toShowStaticText);
    TLTHeader& ch = copy->Header();
    EXPECT_EQ(ch.Options(), h.Options());
    EXPECT_EQ(ch.AutoSizeIndex(), 1);
    EXPECT_EQ(ch.SortColumn, 1);
    EXPECT_EQ(ch.SortDirection, sdDescending);
    EXPECT_FALSE(ch.States() & hsLoading);
    EXPECT_EQ(ch.Font().Name, "DejaVu Serif");
    EXPECT_EQ(ch.Font().Height, -14);
    TLazyTreeColumns& cc = ch.Columns();
    ASSERT_EQ(cc.Count(), 2);
    EXPECT_TRUE(cc.SameAs(Columns()));
    EXPECT_EQ(cc.PositionMap(), (std::vector<TColumnIndex>{1, 0}));
    EXPECT_EQ(cc[0].Text(), u"Котельная");
    EXPECT_EQ(cc[0].Hint, u"name");
    EXPECT_EQ(cc[0].Color(), clRed);
    EXPECT_FALSE(cc[0].Options() & coParentColor);
    EXPECT_TRUE(cc[1].Options() & coParentColor);
    EXPECT_EQ(cc[1].CaptionAlignment(), taCenter);
    EXPECT_EQ(Write(*copy), data) << "read back, it writes the same bytes";
}

// The offered formats, the background picture and the components the tree
// refers to (by name, found again among the form's components).
TEST_F(TreeForm, FormatsPictureAndReferencesSurvive) {
    TComponent form;
    TCustomImageList icons(16, 16, &form), states(16, 16, &form), checks(16, 16, &form);
    TPopupMenu menu(&form);
    icons.Name = "Icons", states.Name = "States", checks.Name = "Checks", menu.Name = "Menu";
    auto tree = NewComponent<TLazyStringTree>(&form);
    tree->ClipboardFormats().Clear();
    tree->ClipboardFormats().Add("CSV");
    tree->ClipboardFormats().Add("HTML Format");
    TBitmap picture(3, 2);
    picture.Scanline(1)[2] = 0xFF123456u;
    tree->SetBackground(picture);
    tree->SetImages(&icons);
    tree->SetStateImages(&states);
    tree->SetCustomCheckImages(&checks);
    tree->SetPopupMenu(&menu);
    const std::string data = Write(*tree);

    auto copy = NewComponent<TLazyStringTree>(&form);
    TReader(data).ReadComponent(*copy);
    EXPECT_EQ(copy->ClipboardFormats().Strings(), (std::vector<std::string>{"CSV", "HTML Format"}));
    ASSERT_EQ(copy->Background().Width(), 3);
    ASSERT_EQ(copy->Background().Height(), 2);
    EXPECT_EQ(const_cast<TBitmap&>(copy->Background()).Scanline(1)[2], 0xFF123456u);
    EXPECT_EQ(copy->Images(), &icons);
    EXPECT_EQ(copy->StateImages(), &states);
    EXPECT_EQ(copy->CustomCheckImages(), &checks);
    EXPECT_EQ(copy->PopupMenu, &menu);
    EXPECT_EQ(Write(*copy), data);

    // A name the form does not hold, or a damaged picture, is a read error.
    icons.Name = "Renamed";
    auto lost = NewComponent<TLazyStringTree>(&form);
    EXPECT_THROW(TReader(data).ReadComponent(*lost), EReadError);
    TWriter bad;
    bad.WriteBinary(std::string("\x05\0\0\0\x05\0\0\0abcd", 12));
    EXPECT_THROW(TReader(WithProperty(Write(*Tree), "Background", bad.Data)).ReadComponent(*lost),
                 EReadError);
    copy.reset(), lost.reset(), tree.reset();
}

// The single option set of old forms replaces all option sets; the captions
// of old forms come as narrow strings.
TEST_F(TreeForm, OldFormsAreRead) {
    TWriter set;
    set.WriteSet({"voShowRoot", "voMultiSelect", "voUnknown"});
    auto tree = ReadTree(WithProperty(Write(*Tree), "Options", set.Data));
    auto& o = tree->TreeOptions();
    EXPECT_EQ(o.PaintOptions(), toShowRoot);
    EXPECT_EQ(o.SelectionOptions(), toMultiSelect);
    EXPECT_EQ(o.MiscOptions() | o.AutoOptions() | o.AnimationOptions(), 0);

    TWriter text;
    text.WriteString("Давление");
    std::string column = std::string(1, char(vaCollection)) + char(vaList) + char(8) + "WideText" +
                         text.Data + '\0' + char(vaNull);
    tree = ReadTree(WithProperty(Write(*Tree), "Columns", column));
    ASSERT_EQ(tree->Header().Columns().Count(), 1);
    EXPECT_EQ(tree->Header().Columns()[0].Text(), u"Давление");
}

// Damaged or foreign data gives a read error and leaves the tree not loading.
TEST_F(TreeForm, BadFormsGiveAReadError) {
    const std::string good = Write(*Tree);
    TWriter word;
    word.WriteString("x");
    TWriter number;
    number.WriteInteger(1);
    std::vector<std::pair<const char*, std::string>> cases = {
        {"empty", ""},
        {"cut short", good.substr(0, good.size() - 3)},
        {"unknown property", WithProperty(good, "Bogus", number.Data)},
        {"unknown owned object", WithProperty(good, "Bogus.Height", number.Data)},
        {"wrong value type", WithProperty(good, "Indent", word.Data)},
        {"unknown identifier", WithProperty(good, "HintMode", "\x09\x01\0\0\0z")},
        {"endless nesting", WithProperty(good, "Options", std::string(1000, char(vaList)))},
    };
    for (auto& [name, data] : cases) {
        auto tree = NewComponent<TLazyStringTree>();
        EXPECT_THROW(TReader(data).ReadComponent(*tree), EReadError) << name;
        EXPECT_FALSE(tree->ComponentState & (csLoading | csReading)) << name;
    }
}

} // namespace

// A data size read while nodes exist applies to new nodes only; a freed old
// node's smaller block must not be handed to a new node of the larger size.
TEST_F(TreeForm, DataSizeReadOverExistingNodes) {
    Tree->SetNodeDataSize(4);
    Tree->SetRootNodeCount(3);
    auto source = NewComponent<TLazyStringTree>();
    source->SetNodeDataSize(200);
    TReader(Write(*source)).ReadComponent(*Tree);
    ASSERT_EQ(Tree->NodeDataSize(), 200);
    auto fill = [&](PLazyNode n, int byte) { std::memset(Tree->GetNodeData(n), byte, 200); };
    PLazyNode added = Tree->AddChild(nullptr);
    fill(added, 0xAB);
    Tree->DeleteNode(Tree->GetFirst());
    fill(Tree->AddChild(nullptr), 0xCD);
    std::vector<PLazyNode> nodes;
    for (PLazyNode n = Tree->GetFirst(); n; n = Tree->GetNext(n)) nodes.push_back(n);
    ASSERT_EQ(nodes.size(), 4u);
    for (size_t i = 0; i < nodes.size(); ++i) {
        EXPECT_EQ(nodes[i]->Index, i);
        EXPECT_EQ(nodes[i]->PrevSibling, i ? nodes[i - 1] : nullptr);
    }
    auto* data = static_cast<uint8_t*>(Tree->GetNodeData(added));
    EXPECT_EQ(std::count(data, data + 200, 0xAB), 200);
}

// A read that breaks off leaves the tree as it was: no recorded node count
// without its nodes, no header left loading, and the count still settable.
TEST_F(TreeForm, FailedReadLeavesTheTreeAsItWas) {
    auto source = NewComponent<TLazyStringTree>();
    source->SetRootNodeCount(5);
    source->Header().Columns().Add();
    source->Header().Columns().Add();
    const std::string data = Write(*source);
    const size_t count = data.find("RootNodeCount"), columns = data.find("Columns");
    ASSERT_NE(count, std::string::npos);
    ASSERT_NE(columns, std::string::npos);
    const std::string unknown{char(vaInt8), 1};
    for (const std::string& bad :
         {WithProperty(data, "Unknown", unknown), data.substr(0, std::max(count, columns) + 16),
          data.substr(0, columns + 16)}) {
        SCOPED_TRACE(bad.size());
        auto tree = NewComponent<TLazyStringTree>();
        tree->SetRootNodeCount(2);
        EXPECT_THROW(TReader(bad).ReadComponent(*tree), EReadError);
        EXPECT_EQ(tree->RootNodeCount(), 2u);
        EXPECT_EQ(tree->RootNode()->TotalCount, 3u);
        EXPECT_FALSE(tree->HasState(tsNeedRootCountUpdate));
        EXPECT_FALSE(tree->Header().States() & hsLoading);
        tree->SetRootNodeCount(1);
        EXPECT_EQ(tree->GetFirst(), tree->GetLast());
        EXPECT_EQ(tree->RootNode()->TotalCount, 2u);
    }
}

// Heights and sizes a form may hold stay where no arithmetic overflows; a
// node data size beyond any record is refused with the tree's error.
TEST_F(TreeForm, OutOfRangeSizesAreBoundedOrRefused) {
    struct Case {
        const char* Name;
        int64_t Value;
    };
    auto read = [](const char* name, int64_t value) {
        auto tree = NewComponent<TLazyStringTree>();
        TReader(WithProperty(Write(*tree), name,
                             std::string{char(vaInt32)} +
                                 std::string(reinterpret_cast<const char*>(&value), 4)))
            .ReadComponent(*tree);
        return tree;
    };
    for (int64_t huge : {int64_t(INT32_MAX), int64_t(-1)}) {
        EXPECT_LE(read("Header.Height", huge)->Header().Height, 32767);
        EXPECT_GE(read("Header.Height", huge)->Header().Height, 0);
        EXPECT_LE(read("Header.MaxHeight", huge)->Header().MaxHeight(), 32767);
        auto tree = read("DefaultNodeHeight", huge);
        PLazyNode n = tree->AddChild(nullptr);
        EXPECT_EQ(n->NodeHeight, n->TotalHeight);
    }
    // With a window the header's height is bounded by its limits too.
    auto shown = NewComponent<TLazyStringTree>();
    shown->HandleNeeded();
    shown->Header().SetMaxHeight(INT32_MAX);
    shown->Header().SetHeight(INT32_MAX);
    EXPECT_EQ(shown->Header().Height, 32767);
    for (int64_t size : {int64_t(INT32_MAX), int64_t(100000000)}) {
        try {
            read("NodeDataSize", size);
            FAIL() << size;
        } catch (const ELazyTreeError& e) {
            EXPECT_EQ(e.HelpContext, 2007);
        }
    }
    Tree->OnGetNodeDataSize = [](TBaseLazyTree&, int& size) { size = INT32_MAX; };
    EXPECT_THROW(Tree->AddChild(nullptr), ELazyTreeError);
    EXPECT_EQ(Tree->NodeDataSize(), -1);
    EXPECT_EQ(Tree->RootNodeCount(), 0u);
}
