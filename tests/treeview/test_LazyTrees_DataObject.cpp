// The data object a tree offers, its format enumerator and the drag manager's rules.

#include "treeview/LazyTrees.h"

#include "platform/EventLoop.h"

#include "TreeProbe.h"

#include <gtest/gtest.h>

#include <sstream>

using namespace nuq;

namespace {

TFormatEtc Format(WORD cf, DWORD tymed = TYMED_HGLOBAL, DWORD aspect = DVASPECT_CONTENT,
                  int index = -1) {
    TFormatEtc f;
    f.cfFormat = cf;
    f.tymed = tymed;
    f.dwAspect = aspect;
    f.lindex = index;
    return f;
}

TStgMedium Global(const std::string& bytes) {
    TStgMedium m;
    m.tymed = TYMED_HGLOBAL;
    m.hGlobal = std::make_shared<std::string>(bytes);
    return m;
}

std::vector<WORD> Formats(IEnumFORMATETC& e) {
    std::vector<WORD> out;
    TFormatEtc f;
    DWORD fetched = 0;
    while (e.Next(1, &f, &fetched) == S_OK) out.push_back(f.cfFormat);
    return out;
}

struct DataObjectFixture : ::testing::Test {
    std::unique_ptr<TTreeProbe> Tree;
    void SetUp() override {
        SetMainThread();
        Tree = NewComponent<TTreeProbe>();
        Tree->OnGetText = [](TBaseLazyTree&, PLazyNode n, TColumnIndex, int, std::u16string& s) {
            s = u"n" + std::u16string(1, char16_t(u'0' + n->Index));
        };
    }
    void TearDown() override {
        OleSetClipboard(nullptr);
        Tree.reset();
    }
    std::shared_ptr<TLTDataObject> Make(bool forClipboard = false) {
        return std::make_shared<TLTDataObject>(Tree.get(), forClipboard);
    }
};

TEST_F(DataObjectFixture, OffersTheStringTreeFormatsInPriorityOrder) {
    auto data = Make();
    std::shared_ptr<IEnumFORMATETC> e;
    ASSERT_EQ(data->EnumFormatEtc(DATADIR_GET, e), S_OK);
    EXPECT_EQ(Formats(*e), (std::vector<WORD>{TreeDataFormat, HtmlFormat, RtfNoObjectsFormat,
                                              RtfFormat, CsvFormat, CF_UNICODETEXT, CF_TEXT}));
    EXPECT_EQ(data->EnumFormatEtc(DATADIR_SET, e), OLE_S_USEREG);
    EXPECT_FALSE(e);

    // A name list on the tree narrows the offer.
    Tree->ClipboardFormats().Add("CSV");
    Tree->ClipboardFormats().Add("Lazy Tree Data");
    EXPECT_EQ(Make()->FormatEtcArray().size(), 2u);
}

TEST_F(DataObjectFixture, QueryGetDataNamesWhatDiffers) {
    auto data = Make();
    struct Case {
        TFormatEtc f;
        HRESULT expected;
    };
    for (const Case& c :
         {Case{Format(CF_TEXT), S_OK}, Case{Format(CF_TEXT, TYMED_ISTREAM), DV_E_TYMED},
          Case{Format(CF_TEXT, TYMED_HGLOBAL, 4), DV_E_DVASPECT},
          Case{Format(CF_TEXT, TYMED_HGLOBAL, DVASPECT_CONTENT, 0), DV_E_LINDEX},
          Case{Format(CF_BITMAP), DV_E_FORMATETC}})
        EXPECT_EQ(data->QueryGetData(c.f), c.expected) << c.f.cfFormat << " " << c.f.tymed;
    TStgMedium m;
    EXPECT_EQ(data->GetData(Format(CF_TEXT, TYMED_ISTREAM), m), DV_E_TYMED);
    EXPECT_EQ(data->GetDataHere(Format(CF_TEXT), m), E_NOTIMPL);
    TFormatEtc out;
    EXPECT_EQ(data->GetCanonicalFormatEtc(Format(CF_TEXT), out), DATA_S_SAMEFORMATETC);
}

TEST_F(DataObjectFixture, SetDataKeepsOneEntryPerFormat) {
    auto data = Make();
    size_t offered = data->FormatEtcArray().size();
    const WORD custom = RegisterClipboardFormat("Test Format");
    TStgMedium first = Global("first");
    ASSERT_EQ(data->SetData(Format(custom), first, false), S_OK);
    first.hGlobal->assign("changed"); // a copy was kept
    TStgMedium second = Global("second");
    ASSERT_EQ(data->SetData(Format(custom), second, true), S_OK);
    EXPECT_FALSE(second.hGlobal) << "taken over";
    EXPECT_EQ(data->FormatEtcArray().size(), offered + 1);

    TStgMedium got;
    ASSERT_EQ(data->GetData(Format(custom), got), S_OK);
    EXPECT_EQ(*got.hGlobal, "second");
    EXPECT_TRUE(got.pUnkForRelease) << "shared with the object as its releaser";

    // Data set for a format the tree renders replaces the rendering.
    TStgMedium text = Global(std::string("mine\0", 5));
    ASSERT_EQ(data->SetData(Format(CF_TEXT), text, false), S_OK);
    ASSERT_EQ(data->GetData(Format(CF_TEXT), got), S_OK);
    EXPECT_EQ(*got.hGlobal, std::string("mine\0", 5));
    EXPECT_EQ(data->FormatEtcArray().size(), offered + 1);

    // A medium that cannot be copied is refused.
    TStgMedium gdi;
    gdi.tymed = TYMED_GDI;
    EXPECT_EQ(data->SetData(Format(custom, TYMED_GDI), gdi, false), DV_E_TYMED);
}

TEST_F(DataObjectFixture, AdviseSinksHearOfNewData) {
    struct Sink : IAdviseSink {
        std::vector<std::string> Seen;
        void OnDataChange(const TFormatEtc&, const TStgMedium& m) override {
            Seen.push_back(m.hGlobal ? *m.hGlobal : "-");
        }
    };
    auto data = Make();
    std::vector<DWORD> connections;
    EXPECT_EQ(data->DUnadvise(1), E_NOTIMPL);
    EXPECT_EQ(data->EnumDAdvise(connections), OLE_E_ADVISENOTSUPPORTED);
    auto sink = std::make_shared<Sink>();
    const WORD custom = RegisterClipboardFormat("Test Format");
    DWORD connection = 0;
    ASSERT_EQ(data->DAdvise(Format(custom), 0, sink, connection), S_OK);
    TStgMedium m = Global("x");
    data->SetData(Format(custom), m, false);
    EXPECT_EQ(sink->Seen, std::vector<std::string>{"x"});
    EXPECT_EQ(data->EnumDAdvise(connections), S_OK);
    EXPECT_EQ(connections, std::vector<DWORD>{connection});
    EXPECT_EQ(data->DUnadvise(connection), S_OK);
    data->SetData(Format(custom), m, false);
    EXPECT_EQ(sink->Seen.size(), 1u);
}

TEST_F(DataObjectFixture, EnumeratorCountsWhatItCopies) {
    std::vector<TFormatEtc> three = {Format(1), Format(2), Format(3)};
    TEnumFormatEtc e(Tree.get(), three);
    TFormatEtc out[5];
    DWORD fetched = 99;
    EXPECT_EQ(e.Next(5, out, &fetched), S_FALSE);
    EXPECT_EQ(fetched, 3u);
    EXPECT_EQ(out[2].cfFormat, 3);
    EXPECT_EQ(e.Reset(), S_OK);
    EXPECT_EQ(e.Skip(4), S_FALSE) << "too far: stays";
    EXPECT_EQ(e.Skip(1), S_OK);
    std::shared_ptr<IEnumFORMATETC> clone;
    e.Clone(clone);
    EXPECT_EQ(e.Skip(2), S_OK);
    EXPECT_EQ(e.Next(1, out, &fetched), S_FALSE);
    EXPECT_EQ(fetched, 0u);
    EXPECT_EQ(clone->Next(1, out, nullptr), S_OK) << "the clone kept its own place";
    EXPECT_EQ(out[0].cfFormat, 2);
}

TEST_F(DataObjectFixture, NativeFormatHoldsTheSelectedNodes) {
    Tree->SetRootNodeCount(3);
    auto data = Make();
    TStgMedium m;
    EXPECT_EQ(data->GetData(Format(TreeDataFormat), m), E_FAIL) << "nothing selected";

    PLazyNode second = Tree->GetFirst()->NextSibling;
    Tree->SetSelected(second, true);
    ASSERT_EQ(data->GetData(Format(TreeDataFormat), m), S_OK);
    ASSERT_EQ(m.tymed, TYMED_HGLOBAL);
    std::string block = *m.hGlobal;
    ASSERT_GE(block.size(), 4u);
    uint32_t length = uint8_t(block[0]) | uint8_t(block[1]) << 8 | uint8_t(block[2]) << 16 |
                      uint32_t(uint8_t(block[3])) << 24;
    std::string node;
    Tree->WriteNode(node, second);
    EXPECT_EQ(length, node.size());
    EXPECT_EQ(block.substr(4), node);

    // A stream is preferred when both are allowed.
    TStgMedium s;
    ASSERT_EQ(Tree->RenderOLEData(Format(TreeDataFormat, TYMED_HGLOBAL | TYMED_ISTREAM), s, false),
              S_OK);
    ASSERT_EQ(s.tymed, TYMED_ISTREAM);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(*s.pstm), {}), node);
}

TEST_F(DataObjectFixture, ReferenceFindsTheTreeInThisProcess) {
    auto data = Make();
    TStgMedium m;
    ASSERT_EQ(data->GetData(Format(TreeReferenceFormat), m), S_OK);
    ASSERT_EQ(m.hGlobal->size(), 8u);
    EXPECT_EQ(Tree->GetTreeFromDataObject(data.get()), Tree.get());
    auto other = NewComponent<TLazyStringTree>();
    EXPECT_EQ(other->GetTreeFromDataObject(data.get()), Tree.get());

    Tree->DoStateChange(TS(tsClipboardFlushing));
    EXPECT_EQ(data->GetData(Format(TreeReferenceFormat), m), E_FAIL);
    Tree->DoStateChange(0, TS(tsClipboardFlushing));

    // Another process's reference names no tree here.
    TStgMedium foreign = Global(std::string(8, '\xFF'));
    auto plain = Make();
    plain->Detach();
    plain->SetData(Format(TreeReferenceFormat), foreign, false);
    EXPECT_EQ(Tree->GetTreeFromDataObject(plain.get()), nullptr);
}

TEST_F(DataObjectFixture, ClipboardObjectGoingCancelsTheCopy) {
    Tree->SetRootNodeCount(2);
    Tree->SetSelected(Tree->GetFirst(), true);
    Tree->CopyToClipboard();
    EXPECT_TRUE(Tree->HasState(tsCopyPending));
    EXPECT_TRUE(Tree->GetFirst()->States & vsCutOrCopy);
    // A second copy replaces the first without losing its own marks.
    Tree->CopyToClipboard();
    EXPECT_TRUE(Tree->HasState(tsCopyPending));
    EXPECT_TRUE(Tree->GetFirst()->States & vsCutOrCopy);
    OleSetClipboard(nullptr);
    EXPECT_FALSE(Tree->HasState(tsCopyPending));
    EXPECT_FALSE(Tree->GetFirst()->States & vsCutOrCopy);
}

// --- drag manager -----------------------------------------------------------------------------

TEST_F(DataObjectFixture, DragContinuesWhileOneButtonIsHeld) {
    ILTDragManager& m = *Tree->DragManager();
    struct Case {
        bool escape;
        DWORD keys;
        HRESULT expected;
    };
    for (const Case& c :
         {Case{false, MK_LBUTTON, S_OK}, Case{false, MK_RBUTTON | MK_SHIFT, S_OK},
          Case{false, MK_LBUTTON | MK_RBUTTON, DRAGDROP_S_CANCEL},
          Case{true, MK_LBUTTON, DRAGDROP_S_CANCEL}, Case{false, 0, DRAGDROP_S_DROP},
          Case{false, MK_CONTROL | MK_MBUTTON, DRAGDROP_S_DROP}})
        EXPECT_EQ(m.QueryContinueDrag(c.escape, c.keys), c.expected) << c.escape << " " << c.keys;
    EXPECT_EQ(m.GiveFeedback(DROPEFFECT_COPY), DRAGDROP_S_USEDEFAULTCURSORS);
}

TEST_F(DataObjectFixture, DropTargetCallsReachTheTree) {
    std::vector<std::string> seen;
    std::vector<WORD> dropped;
    Tree->OnDragOver = [&](TBaseLazyTree&, TPersistent*, TShiftState shift, TDragState state,
                           TPoint, TDropMode, DWORD& effect, bool& accept) {
        seen.push_back(std::to_string(int(state)) + (shift & ssCtrl ? "c" : ""));
        accept = true;
        effect = DROPEFFECT_COPY;
    };
    Tree->OnDragDrop = [&](TBaseLazyTree&, TPersistent*, IDataObject*,
                           const std::vector<WORD>& formats, TShiftState, TPoint, DWORD&,
                           TDropMode) { dropped = formats; };
    auto sourceTree = NewComponent<TLazyStringTree>();
    auto data = std::make_shared<TLTDataObject>(sourceTree.get(), false);

    ILTDragManager& m = *Tree->DragManager();
    EXPECT_FALSE(m.DropTargetHelperSupported());
    DWORD effect = DROPEFFECT_COPY | DROPEFFECT_MOVE;
    EXPECT_EQ(m.DragEnter(data.get(), MK_LBUTTON | MK_CONTROL, {5, 5}, effect), S_OK);
    EXPECT_TRUE(m.IsDropTarget());
    EXPECT_EQ(m.DragSource(), sourceTree.get());
    EXPECT_EQ(m.GetDataObject().get(), data.get());
    m.DragOver(MK_LBUTTON, {6, 6}, effect);
    m.DragLeave();
    EXPECT_FALSE(m.IsDropTarget());
    EXPECT_EQ(m.DragSource(), nullptr);
    m.DragEnter(data.get(), MK_LBUTTON, {5, 5}, effect);
    EXPECT_EQ(m.Drop(data.get(), 0, {7, 7}, effect), S_OK);
    EXPECT_FALSE(m.IsDropTarget());
    EXPECT_EQ(seen, (std::vector<std::string>{"0c", "2", "1", "0", "2"}));
    std::vector<WORD> offered;
    for (const TFormatEtc& f : data->FormatEtcArray()) offered.push_back(f.cfFormat);
    EXPECT_EQ(dropped, offered);
    // Outside a drop the manager makes a fresh object for its tree.
    auto own = m.GetDataObject();
    ASSERT_TRUE(own);
    EXPECT_NE(own.get(), data.get());
}

// The drop names where it came from: one of our trees by its data object, a
// framework drag by the dragged control, which brings no data.
TEST_F(DataObjectFixture, TheDropNamesItsSource) {
    auto other = NewComponent<TLazyStringTree>();
    Tree->OnDragOver = [](TBaseLazyTree&, TPersistent*, TShiftState, TDragState, TPoint, TDropMode,
                          DWORD&, bool& accept) { accept = true; };
    std::vector<const void*> seen; // source, data object
    Tree->OnDragDrop = [&](TBaseLazyTree&, TPersistent* source, IDataObject* data,
                           const std::vector<WORD>&, TShiftState, TPoint, DWORD&, TDropMode) {
        seen = {source, data};
    };
    struct Case {
        const char* name;
        TBaseLazyTree* from;
        bool framework;
    };
    for (const Case& c :
         {Case{"this tree", Tree.get(), false}, Case{"another tree", other.get(), false},
          Case{"framework drag", other.get(), true}}) {
        seen.clear();
        auto data = std::make_shared<TLTDataObject>(c.from, false);
        DWORD effect = DROPEFFECT_COPY | DROPEFFECT_MOVE;
        TDragControlObject object(c.from);
        TDragRec rec;
        rec.Source = &object;
        if (c.framework) {
            Tree->Perform(CM_DRAG, dmDragEnter, LPARAM(&rec));
            Tree->Perform(CM_DRAG, dmDragDrop, LPARAM(&rec));
        } else {
            Tree->DragManager()->DragEnter(data.get(), MK_LBUTTON, {5, 5}, effect);
            Tree->DragManager()->Drop(data.get(), 0, {5, 5}, effect);
        }
        const void* expectedData = c.framework ? nullptr : static_cast<IDataObject*>(data.get());
        EXPECT_EQ(seen, (std::vector<const void*>{static_cast<TPersistent*>(c.from), expectedData}))
            << c.name;
    }
}

} // namespace
