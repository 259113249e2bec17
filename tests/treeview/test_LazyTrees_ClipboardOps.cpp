// Copy, cut and paste within a tree and between trees, and the texts a
// copied selection offers.

#include "treeview/LazyTrees.h"

#include "platform/EventLoop.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace nuq;
using namespace std::string_literals;

namespace {

// Trees whose nodes carry a name as user data, saved and loaded with them.
struct ClipboardFixture : ::testing::Test {
    std::unique_ptr<TLazyStringTree> A, B;
    void SetUp() override {
        SetMainThread();
        OleSetClipboard(nullptr);
        A = MakeTree();
        B = MakeTree();
    }
    void TearDown() override {
        OleSetClipboard(nullptr);
        A.reset();
        B.reset();
    }
    static std::unique_ptr<TLazyStringTree> MakeTree() {
        auto t = NewComponent<TLazyStringTree>();
        t->SetNodeDataSize(8);
        t->TreeOptions().SetSelectionOptions(toMultiSelect);
        t->OnSaveNode = [](TBaseLazyTree& tree, PLazyNode n, std::ostream& s) {
            s.write(static_cast<const char*>(tree.GetNodeData(n)), 8);
        };
        t->OnLoadNode = [](TBaseLazyTree& tree, PLazyNode n, std::istream& s) {
            s.read(static_cast<char*>(tree.GetNodeData(n)), 8);
        };
        t->OnGetText = [](TBaseLazyTree& tree, PLazyNode n, TColumnIndex, int, std::u16string& s) {
            s = Utf8ToUtf16(Name(tree, n));
        };
        return t;
    }
    static std::string Name(TBaseLazyTree& t, PLazyNode n) {
        const char* d = static_cast<const char*>(t.GetNodeData(n));
        return std::string(d, strnlen(d, 8));
    }
    static PLazyNode Add(TBaseLazyTree& t, PLazyNode parent, const std::string& name) {
        PLazyNode n = t.AddChild(parent);
        std::memcpy(t.GetNodeData(n), name.data(), std::min<size_t>(name.size(), 8));
        return n;
    }
    static PLazyNode Find(TBaseLazyTree& t, const std::string& name) {
        for (PLazyNode n = t.GetFirst(); n; n = t.GetNext(n))
            if (Name(t, n) == name) return n;
        return nullptr;
    }
    // The tree as "name(children) name ...".
    static std::string Shape(TBaseLazyTree& t, PLazyNode parent = nullptr) {
        std::string out;
        if (!parent) parent = t.RootNode();
        for (PLazyNode n = parent->FirstChild; n; n = n->NextSibling) {
            if (!out.empty()) out += " ";
            out += Name(t, n);
            if (n->FirstChild) out += "(" + Shape(t, n) + ")";
        }
        return out;
    }
    // a(a1 a2) b c
    static void Fill(TBaseLazyTree& t) {
        PLazyNode a = Add(t, nullptr, "a");
        Add(t, a, "a1");
        Add(t, a, "a2");
        Add(t, nullptr, "b");
        Add(t, nullptr, "c");
    }
    static void Select(TBaseLazyTree& t, std::initializer_list<const char*> names) {
        t.ClearSelection();
        for (const char* n : names) t.SetSelected(Find(t, n), true);
    }
};

TEST_F(ClipboardFixture, CopyAndPasteWithinATree) {
    Fill(*A);
    Select(*A, {"a", "c"});
    A->CopyToClipboard();
    struct Case {
        TLTNodeAttachMode mode;
        const char* focus;
        const char* shape;
    };
    const Case cases[] = {
        {amAddChildLast, "b", "a(a1 a2) b(a(a1 a2) c) c"},
        {amAddChildFirst, "a1", "a(a1(a(a1 a2) c) a2) b c"},
        {amInsertBefore, "b", "a(a1 a2) a(a1 a2) c b c"},
        {amInsertAfter, "b", "a(a1 a2) b a(a1 a2) c c"},
        {amAddChildLast, nullptr, "a(a1 a2) b c a(a1 a2) c"},
    };
    for (const Case& c : cases) {
        auto t = MakeTree();
        Fill(*t);
        t->DefaultPasteMode = c.mode;
        t->SetFocusedNode(c.focus ? Find(*t, c.focus) : nullptr);
        ASSERT_TRUE(t->PasteFromClipboard()) << c.shape;
        EXPECT_EQ(Shape(*t), c.shape);
        EXPECT_EQ(t->TotalCount(), 5u + 4u);
    }
    // Into a copied node itself.
    A->SetFocusedNode(Find(*A, "c"));
    ASSERT_TRUE(A->PasteFromClipboard());
    EXPECT_EQ(Shape(*A), "a(a1 a2) b c(a(a1 a2) c)");
}

TEST_F(ClipboardFixture, CutAndPasteMovesNodes) {
    // Between trees: the nodes leave the tree they were cut from.
    Fill(*A);
    Fill(*B);
    Select(*A, {"a", "a2", "c"}); // a2 goes with a
    A->CutToClipboard();
    EXPECT_TRUE(A->HasState(tsCutPending));
    B->SetFocusedNode(Find(*B, "b"));
    ASSERT_TRUE(B->PasteFromClipboard());
    EXPECT_EQ(Shape(*B), "a(a1 a2) b(a(a1 a2) c) c");
    EXPECT_EQ(Shape(*A), "b");
    EXPECT_FALSE(A->HasState(tsCutPending));
    EXPECT_FALSE(B->PasteFromClipboard()) << "a move is pasted once";

    // Within a tree the nodes themselves move.
    auto t = MakeTree();
    Fill(*t);
    PLazyNode a = Find(*t, "a");
    Select(*t, {"a"});
    t->CutToClipboard();
    t->SetFocusedNode(Find(*t, "c"));
    ASSERT_TRUE(t->PasteFromClipboard());
    EXPECT_EQ(Shape(*t), "b c(a(a1 a2))");
    EXPECT_EQ(Find(*t, "a"), a);
    EXPECT_FALSE(a->States & vsCutOrCopy);
}

TEST_F(ClipboardFixture, WindowMessagesCutAndPaste) {
    Fill(*A);
    Fill(*B);
    Select(*A, {"b"});
    TMessage cut{WM_CUT}, paste{WM_PASTE}, copy{WM_COPY};
    A->Dispatch(cut);
    B->Dispatch(paste);
    EXPECT_EQ(Shape(*A), "a(a1 a2) c");
    EXPECT_EQ(Shape(*B), "a(a1 a2) b c b");
    Select(*A, {"c"});
    A->Dispatch(copy);
    A->Dispatch(paste);
    EXPECT_EQ(Shape(*A), "a(a1 a2) c c");
}

TEST_F(ClipboardFixture, CutNodePastedIntoItselfIsKept) {
    Fill(*A);
    Select(*A, {"a", "b"});
    A->CutToClipboard();
    A->SetFocusedNode(Find(*A, "a1"));
    A->PasteFromClipboard();
    EXPECT_EQ(A->TotalCount(), 5u);
    EXPECT_EQ(Shape(*A), "a(a1(b) a2) c");
}

TEST_F(ClipboardFixture, CopiedNodesOutliveTheirTree) {
    Fill(*A);
    Select(*A, {"a"});
    A->CopyToClipboard();
    A.reset();
    ASSERT_TRUE(B->PasteFromClipboard());
    EXPECT_EQ(Shape(*B), "a(a1 a2)");
    std::shared_ptr<IDataObject> data;
    OleGetClipboard(data);
    TFormatEtc text;
    text.cfFormat = CF_TEXT;
    TStgMedium m;
    ASSERT_EQ(data->GetData(text, m), S_OK);
    EXPECT_EQ(*m.hGlobal, "a\r\n\0"s) << "the text holds the marked nodes only";
}

TEST_F(ClipboardFixture, DamagedNativeDataIsRefused) {
    Fill(*B);
    auto data = std::make_shared<TLTDataObject>(nullptr, false);
    TFormatEtc native;
    native.cfFormat = TreeDataFormat;
    std::string node = "\1\0\0\0\0\0\0\0"s;
    // A base chunk of a leaf: 17 bytes of fields.
    std::string base = "\2\0\0\0\x11\0\0\0"s + std::string(17, '\0');
    struct Case {
        const char* what;
        std::string block;
        int code;
    };
    for (const Case& c :
         {Case{"length beyond the block", "\xE8\x03\0\0"s + node, 2004},
          Case{"node cut short", "\x08\0\0\0"s + node.substr(0, 4) + "abcd", 2004},
          Case{"no node chunk", "\x08\0\0\0\2\0\0\0\0\0\0\0"s, 2005},
          Case{"two base chunks", "\x3A\0\0\0\1\0\0\0\x32\0\0\0"s + base + base, 2006}}) {
        TStgMedium m;
        m.tymed = TYMED_HGLOBAL;
        m.hGlobal = std::make_shared<std::string>(c.block);
        data->SetData(native, m, false);
        try {
            B->ProcessOLEData(nullptr, data.get(), nullptr, amAddChildLast, false);
            ADD_FAILURE() << c.what << ": accepted";
        } catch (const ELazyTreeError& e) {
            EXPECT_EQ(e.HelpContext, c.code) << c.what;
        }
        EXPECT_EQ(Shape(*B), "a(a1 a2) b c") << c.what;
    }
}

// Before or after no node (as a drop below the last row asks) is the end of
// the top level: for copied nodes, nodes moved within the tree, inserting and moving.
TEST_F(ClipboardFixture, BeforeOrAfterNoNodeIsTheEndOfTheTopLevel) {
    Fill(*A);
    Select(*A, {"a"});
    A->CopyToClipboard();
    std::shared_ptr<IDataObject> data;
    ASSERT_EQ(OleGetClipboard(data), S_OK);
    for (TLTNodeAttachMode mode : {amInsertBefore, amInsertAfter}) {
        auto t = MakeTree();
        Fill(*t);
        ASSERT_TRUE(t->ProcessOLEData(nullptr, data.get(), nullptr, mode, false)) << mode;
        EXPECT_EQ(Shape(*t), "a(a1 a2) b c a(a1 a2)") << mode;
        Select(*t, {"b"});
        ASSERT_TRUE(t->ProcessOLEData(t.get(), nullptr, nullptr, mode, true)) << mode;
        t->MoveTo(Find(*t, "c"), nullptr, mode);
        EXPECT_EQ(Shape(*t), "a(a1 a2) a(a1 a2) b c") << mode;
        PLazyNode added = t->InsertNode(nullptr, mode);
        EXPECT_EQ(t->RootNode()->LastChild, added) << mode;
        uint32_t index = 0;
        for (PLazyNode n = t->RootNode()->FirstChild; n; n = n->NextSibling)
            EXPECT_EQ(n->Index, index++) << mode;
        EXPECT_EQ(t->TotalCount(), 5u + 3u + 1u) << mode;
    }
}

TEST_F(ClipboardFixture, ReadOnlyTreesNeitherCutNorPaste) {
    Fill(*A);
    Fill(*B);
    Select(*A, {"b"});
    A->CopyToClipboard();
    B->TreeOptions().SetMiscOptions(B->TreeOptions().MiscOptions() | toReadOnly);
    EXPECT_FALSE(B->PasteFromClipboard());
    Select(*B, {"b"});
    B->CutToClipboard();
    EXPECT_FALSE(B->HasState(tsCutPending));
    EXPECT_EQ(Shape(*B), "a(a1 a2) b c");
}

TEST_F(ClipboardFixture, TextFormatsOfACopiedSelection) {
    Fill(*A);
    Add(*A, Find(*A, "b"), "x,\"y\"");
    Select(*A, {"a", "a2", "x,\"y\""});
    A->CopyToClipboard();
    std::shared_ptr<IDataObject> data;
    OleGetClipboard(data);
    auto get = [&](WORD format) {
        TFormatEtc f;
        f.cfFormat = format;
        TStgMedium m;
        EXPECT_EQ(data->GetData(f, m), S_OK) << format;
        return m.hGlobal ? *m.hGlobal : std::string();
    };
    EXPECT_EQ(get(CF_TEXT), "a\r\n\ta2\r\n\tx,\"y\"\r\n\0"s);
    std::string unicode = get(CF_UNICODETEXT);
    EXPECT_EQ(unicode.size(), 2 * 17u);
    EXPECT_EQ(unicode.substr(0, 4), std::string("a\0\r\0", 4));
    EXPECT_EQ(get(CsvFormat), "a\r\na2\r\n\"x,\"\"y\"\"\"\r\n\0"s);

    std::string html = get(HtmlFormat);
    size_t start = std::stoul(html.substr(html.find("StartFragment:") + 14, 10));
    size_t end = std::stoul(html.substr(html.find("EndFragment:") + 12, 10));
    EXPECT_EQ(
        html.substr(start, end - start),
        "<table>\r\n<tr><td>a</td></tr>\r\n<tr><td style=\"padding-left:16px\">a2</td></tr>\r\n"
        "<tr><td style=\"padding-left:16px\">x,&quot;y&quot;</td></tr>\r\n</table>");
    std::string rtf = get(RtfFormat);
    EXPECT_EQ(rtf.rfind("{\\rtf1", 0), 0u);
    EXPECT_NE(rtf.find("\\tab a2\\par"), std::string::npos);
}

TEST_F(ClipboardFixture, CyrillicTextKeepsItsCodePages) {
    Add(*A, nullptr, "Котёл"); // 5 letters, 10 bytes of UTF-8: cut to the 8 the data holds
    PLazyNode n = A->GetFirst();
    std::memcpy(A->GetNodeData(n), "\xD0\x9A\xD0\xBE\xD1\x82\x00\x00", 8); // "Кот"
    Select(*A, {"Кот"});
    A->CopyToClipboard();
    std::shared_ptr<IDataObject> data;
    OleGetClipboard(data);
    TFormatEtc f;
    f.cfFormat = CF_TEXT;
    TStgMedium m;
    ASSERT_EQ(data->GetData(f, m), S_OK);
    EXPECT_EQ(*m.hGlobal, std::string("\xCA\xEE\xF2\r\n\0", 6));
    f.cfFormat = RtfFormat;
    ASSERT_EQ(data->GetData(f, m), S_OK);
    EXPECT_NE(m.hGlobal->find("\\u1050?\\u1086?\\u1090?\\par"), std::string::npos);
}

} // namespace
