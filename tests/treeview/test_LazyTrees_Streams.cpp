// The tree stream: its bytes, how damaged streams are refused, and what a
// loaded tree holds. Expected bytes are built here by hand from the format.

#include "treeview/LazyTrees.h"

#include "platform/EventLoop.h"

#include <gtest/gtest.h>

#include <map>
#include <sstream>

using namespace nuq;

namespace {

std::string Int32(uint32_t v) {
    std::string s;
    for (int i = 0; i < 4; ++i) s.push_back(char(uint8_t(v >> (8 * i))));
    return s;
}

std::string Chunk(uint32_t type, const std::string& body) {
    return Int32(type) + Int32(uint32_t(body.size())) + body;
}

std::string Header(uint16_t version = 2) {
    std::string s;
    for (char16_t u : {char16_t(0x2045), u'V', u'T', char16_t(version), u' ', char16_t(0x2046)}) {
        s.push_back(char(u & 0xFF));
        s.push_back(char(u >> 8));
    }
    return s;
}

// The 17 fixed bytes of a node followed by its children's node chunks.
std::string Base(uint32_t children, uint32_t height, uint16_t states,
                 const std::string& childChunks = {}, uint8_t align = 50) {
    std::string s = Int32(children) + Int32(height);
    s.push_back(char(states & 0xFF));
    s.push_back(char(states >> 8));
    s += std::string{char(align), 0, 0} + Int32(0);
    return Chunk(2, s + childChunks);
}

struct StreamFixture : ::testing::Test {
    std::unique_ptr<TLazyStringTree> Tree;
    std::map<PLazyNode, std::string> Saved;  // what OnSaveNode writes per node
    std::map<PLazyNode, std::string> Loaded; // what OnLoadNode read
    size_t ReadLimit = 1000;                 // bytes each OnLoadNode asks for
    int Freed = 0;
    void SetUp() override {
        SetMainThread();
        Tree = MakeTree();
    }
    void TearDown() override { Tree.reset(); }
    std::unique_ptr<TLazyStringTree> MakeTree() {
        auto t = NewComponent<TLazyStringTree>();
        t->OnSaveNode = [this](TBaseLazyTree&, PLazyNode n, std::ostream& s) { s << Saved[n]; };
        t->OnLoadNode = [this](TBaseLazyTree&, PLazyNode n, std::istream& s) {
            std::string got(ReadLimit, '\0');
            s.read(got.data(), std::streamsize(got.size()));
            got.resize(size_t(s.gcount()));
            Loaded[n] = got;
        };
        t->OnFreeNode = [this](TBaseLazyTree&, PLazyNode) { ++Freed; };
        return t;
    }
    std::string Save(PLazyNode node = nullptr) {
        std::ostringstream out;
        Tree->SaveToStream(out, node);
        return out.str();
    }
    void Load(const std::string& bytes) {
        std::istringstream in(bytes);
        Tree->LoadFromStream(in);
    }
    // A B(C): three nodes, B with one child.
    void Build() {
        PLazyNode a = Tree->AddChild(nullptr);
        PLazyNode b = Tree->AddChild(nullptr);
        PLazyNode c = Tree->AddChild(b);
        Saved[a] = "A";
        Saved[c] = "CC";
    }
    std::vector<std::string> LoadedInOrder() {
        std::vector<std::string> out;
        for (PLazyNode n = Tree->GetFirstNoInit(); n; n = Tree->GetNextNoInit(n))
            out.push_back(std::to_string(Tree->GetNodeLevel(n)) + ":" + Loaded[n]);
        return out;
    }
};

TEST_F(StreamFixture, SavedBytesFollowTheFormat) {
    Build();
    const uint16_t leaf = vsInitialized | vsVisible, parent = leaf | vsHasChildren;
    std::string c = Chunk(1, Base(0, 18, leaf) + Chunk(4, "CC"));
    std::string expected = Header() + Int32(2) + Chunk(1, Base(0, 18, leaf) + Chunk(4, "A")) +
                           Chunk(1, Base(1, 18, parent, c));
    EXPECT_EQ(Save(), expected);

    // One node alone: a count of 1 and its own subtree only.
    PLazyNode b = Tree->GetFirst()->NextSibling;
    EXPECT_EQ(Save(b), Header() + Int32(1) + Chunk(1, Base(1, 18, parent, c)));
}

TEST_F(StreamFixture, PassingFlagsAreNeitherSavedNorLoaded) {
    PLazyNode a = Tree->AddChild(nullptr);
    Tree->GetFirst(); // initialised
    a->States |= vsCutOrCopy | vsHeightMeasured | vsChecking;
    std::string saved = Save();
    EXPECT_EQ(saved, Header() + Int32(1) + Chunk(1, Base(0, 18, vsInitialized | vsVisible)));

    // A stream that claims a node is being deleted must not make it undeletable.
    std::string child = Chunk(1, Base(0, 18, vsInitialized | vsVisible | vsDeleting | vsClearing));
    Load(Header() + Int32(1) +
         Chunk(1, Base(1, 18, vsInitialized | vsVisible | vsHasChildren, child)));
    ASSERT_EQ(Tree->TotalCount(), 2u);
    Freed = 0;
    Tree->DeleteNode(Tree->GetFirst()->FirstChild);
    EXPECT_EQ(Tree->TotalCount(), 1u);
    EXPECT_EQ(Freed, 1);
}

TEST_F(StreamFixture, UserChunksAreOptionalAndBounded) {
    const uint16_t leaf = vsInitialized | vsVisible;
    // No user chunk and an empty one read alike; the empty one costs 8 bytes.
    std::string without = Header() + Int32(1) + Chunk(1, Base(0, 18, leaf));
    std::string empty = Header() + Int32(1) + Chunk(1, Base(0, 18, leaf) + Chunk(4, ""));
    EXPECT_EQ(empty.size(), without.size() + 8);
    for (const std::string& s : {without, empty}) {
        Loaded.clear();
        Load(s);
        EXPECT_EQ(Tree->TotalCount(), 1u);
        EXPECT_TRUE(Loaded.empty()) << "no handler call for a missing or empty chunk";
    }

    // A handler that reads less, or tries to read more, than its chunk holds
    // leaves the next node's chunks intact and sees only its own bytes.
    std::string two = Header() + Int32(2) +
                      Chunk(1, Base(0, 18, leaf) + Chunk(4, "abcd") + Chunk(9, "zz")) +
                      Chunk(1, Base(0, 18, leaf) + Chunk(4, "efgh"));
    for (size_t limit : {size_t(1), size_t(100)}) {
        ReadLimit = limit;
        Loaded.clear();
        Load(two);
        EXPECT_EQ(LoadedInOrder(),
                  (std::vector<std::string>{"0:" + std::string("abcd").substr(0, limit),
                                            "0:" + std::string("efgh").substr(0, limit)}));
    }
}

TEST_F(StreamFixture, UnknownChunksAreSkipped) {
    std::string body = Chunk(3, "caption?") +
                       Base(0, 30, vsInitialized | vsVisible | vsExpanded, {}, 7) +
                       Chunk(77, std::string(5, 'x')) + Chunk(4, "U");
    Load(Header() + Int32(1) + Chunk(1, body));
    PLazyNode n = Tree->GetFirstNoInit();
    ASSERT_TRUE(n);
    EXPECT_EQ(n->NodeHeight, 30);
    EXPECT_EQ(n->Align, 7);
    EXPECT_EQ(LoadedInOrder(), std::vector<std::string>{"0:U"});
}

TEST_F(StreamFixture, VersionOneIsReadToItsEnd) {
    // 12 fixed bytes with a one-byte state; its bit 7 meant selected.
    auto base1 = [](uint8_t states, const std::string& children, uint32_t count) {
        return Chunk(2, Int32(count) + Int32(20) + std::string{char(states), 50, 0, 0} + children);
    };
    Tree->TreeOptions().SetSelectionOptions(toMultiSelect);
    std::string child = Chunk(1, base1(0x01, {}, 0) + Chunk(4, "c"));
    std::string stream = Header(1) + Chunk(1, base1(0x81, {}, 0) + Chunk(4, "a")) +
                         Chunk(1, base1(0x41, child, 1) + Chunk(4, "b"));
    Load(stream);
    EXPECT_EQ(LoadedInOrder(), (std::vector<std::string>{"0:a", "0:b", "1:c"}));
    PLazyNode a = Tree->GetFirstNoInit();
    EXPECT_TRUE(a->States & vsVisible);
    EXPECT_TRUE(Tree->Selected(a));
    EXPECT_EQ(Tree->SelectedCount(), 1);
    EXPECT_FALSE(Tree->Selected(a->NextSibling));
}

TEST_F(StreamFixture, RoundTripKeepsShapeDataAndSelection) {
    Build();
    Tree->TreeOptions().SetSelectionOptions(toMultiSelect);
    PLazyNode b = Tree->GetFirst()->NextSibling;
    Tree->SetExpanded(b, true);
    Tree->SetNodeHeight(b->FirstChild, 40);
    Tree->SetSelected(b->FirstChild, true);
    std::string bytes = Save();

    auto other = MakeTree();
    other->TreeOptions().SetSelectionOptions(toMultiSelect);
    std::istringstream in(bytes + "rest");
    other->LoadFromStream(in);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "rest")
        << "what follows the tree stays unread";
    ASSERT_EQ(other->TotalCount(), 3u);
    EXPECT_EQ(other->VisibleCount(), 3u);
    PLazyNode b2 = other->GetFirstNoInit()->NextSibling;
    EXPECT_TRUE(other->Expanded(b2));
    EXPECT_EQ(b2->TotalHeight, 18u + 40u);
    EXPECT_EQ(other->SelectedCount(), 1);
    EXPECT_TRUE(other->Selected(b2->FirstChild));
    EXPECT_EQ(Loaded[b2->FirstChild], "CC");
    EXPECT_EQ(Save(), bytes);
    other->FullCollapse(); // finds the node loaded open
    EXPECT_FALSE(other->Expanded(b2));
    EXPECT_EQ(other->VisibleCount(), 2u);
}

TEST_F(StreamFixture, ChildrenOfAnUninitialisedNodeAreNotPromised) {
    // Without init-on-save such a node writes no child chunks, so its count must not claim any.
    Tree->TreeOptions().SetMiscOptions(Tree->TreeOptions().MiscOptions() & ~toInitOnSave);
    Tree->SetRootNodeCount(2);
    Tree->SetChildCount(Tree->GetFirstNoInit(), 2);
    std::string bytes = Save();
    auto other = MakeTree();
    std::istringstream in(bytes);
    ASSERT_NO_THROW(other->LoadFromStream(in));
    EXPECT_EQ(other->RootNodeCount(), 2u);
}

TEST_F(StreamFixture, DamagedStreamsAreRefusedAndTheTreeKept) {
    const uint16_t leaf = vsInitialized | vsVisible;
    std::string node = Chunk(1, Base(0, 18, leaf));
    std::string negative = Int32(1) + Int32(uint32_t(-8));
    struct Case {
        const char* what;
        std::string bytes;
        int code;
    };
    const Case cases[] = {
        {"short header", Header().substr(0, 11), 2004},
        {"wrong mark", "X" + Header().substr(1) + Int32(0), 2002},
        {"wrong closing mark", Header().substr(0, 10) + "xx" + Int32(0), 2002},
        {"version 3", Header(3) + Int32(0), 2003},
        {"version 0", Header(0) + Int32(0), 2003},
        {"no count", Header() + "\1\0", 2004},
        {"count beyond the data, a torn node after", Header() + Int32(3) + node + node.substr(0, 5),
         2004},
        {"huge count, a torn node", Header() + Int32(0xFFFFFFFF) + node.substr(0, 12), 2004},
        {"two base chunks in a node",
         Header() + Int32(1) + Chunk(1, Base(0, 18, leaf) + Base(0, 18, leaf)), 2006},
        {"base chunk where a node chunk belongs", Header() + Int32(1) + Base(0, 18, leaf), 2005},
        {"node cut off by the end", Header() + Int32(1) + node.substr(0, node.size() - 1), 2004},
        {"negative node size", Header() + Int32(1) + negative, 2006},
        {"negative inner size",
         Header() + Int32(1) + Chunk(1, Int32(4) + Int32(uint32_t(-20)) + "abcd"), 2006},
        {"inner chunk past its node", Header() + Int32(1) + Chunk(1, Int32(4) + Int32(9) + "abcd"),
         2006},
        {"half a chunk header left", Header() + Int32(1) + Chunk(1, Base(0, 18, leaf) + "abc"),
         2006},
        {"fixed fields cut short", Header() + Int32(1) + Chunk(1, Chunk(2, "12345678")), 2006},
        {"more children than the base holds",
         Header() + Int32(1) + Chunk(1, Base(1000000, 18, leaf, node)), 2006},
        {"child that is no node", Header() + Int32(1) + Chunk(1, Base(1, 18, leaf, Chunk(4, "x"))),
         2005},
        {"version 1 with a torn tail", Header(1) + node + "abc", 2004},
    };
    const std::map<int, std::string> texts = {
        {2002, "Unable to load tree structure, the format is wrong."},
        {2003, "Unable to load tree structure, the version is unknown."},
        {2004, "Unable to load tree structure, not enough data available."},
        {2005, "Stream data corrupt. A node's anchor chunk is missing."},
        {2006, "Stream data corrupt. Unexpected data after node's end position."},
    };
    Build();
    for (const Case& c : cases) {
        Freed = 0;
        try {
            Load(c.bytes);
            ADD_FAILURE() << c.what << ": no error";
        } catch (const ELazyTreeError& e) {
            EXPECT_EQ(e.HelpContext, c.code) << c.what;
            EXPECT_EQ(e.Message(), texts.at(c.code)) << c.what;
        }
        EXPECT_EQ(Tree->TotalCount(), 3u) << c.what << ": the tree lost nodes";
        EXPECT_EQ(Freed, 0) << c.what;
    }
}

// The nodes are read while data remains and the count lasts.
TEST_F(StreamFixture, ACountBeyondTheNodesLoadsThoseHeld) {
    const uint16_t leaf = vsInitialized | vsVisible;
    std::string two =
        Chunk(1, Base(0, 18, leaf) + Chunk(4, "a")) + Chunk(1, Base(0, 18, leaf) + Chunk(4, "b"));
    for (uint32_t count : {3u, 0xFFFFFFFFu}) {
        Build();
        Loaded.clear();
        Load(Header() + Int32(count) + two);
        EXPECT_EQ(LoadedInOrder(), (std::vector<std::string>{"0:a", "0:b"})) << count;
        Load(Header() + Int32(count));
        EXPECT_EQ(Tree->TotalCount(), 0u) << count;
    }
}

TEST_F(StreamFixture, ReadOnlyTreeLoadsNothing) {
    Build();
    std::string bytes = Save();
    auto other = MakeTree();
    other->AddChild(nullptr);
    other->TreeOptions().SetMiscOptions(other->TreeOptions().MiscOptions() | toReadOnly);
    std::istringstream in(bytes);
    other->LoadFromStream(in);
    EXPECT_EQ(other->TotalCount(), 1u);
}

} // namespace
