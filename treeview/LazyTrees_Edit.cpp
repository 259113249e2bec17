// Editing a caption of the string tree in place: a one-line editor over the
// node's text; Enter hands the new text to the owner, Escape drops it.

#include "treeview/LazyTrees.h"

#include <algorithm>

namespace nuq {

namespace {

// The editor window: keeps its text, ends or cancels the edit through the tree.
class TLTStringEdit : public TCustomControl {
public:
    explicit TLTStringEdit(TCustomLazyStringTree* tree) : Tree(tree) { TabStop = true; }
    std::u16string Text;
    TCustomLazyStringTree* Tree;
    std::weak_ptr<ILTEditLink> Link;

    void Dispatch(TMessage& m) override {
        switch (m.Msg) {
        case WM_GETDLGCODE:
            m.Result = 0x81 | 2 | 4; // arrows, characters, tabs, all keys
            return;
        case WM_KEYDOWN: {
            auto keep = Link.lock(); // the edit may end inside this message
            if (m.WParam == VK_RETURN)
                Tree->EndEditNode();
            else if (m.WParam == VK_ESCAPE)
                Tree->CancelEditNode();
            else if (m.WParam == VK_BACK && !Text.empty()) {
                Text.pop_back();
                Invalidate();
            }
            return;
        }
        case WM_CHAR:
            if (m.WParam >= 0x20) {
                Text += char16_t(m.WParam);
                Invalidate();
            }
            return;
        }
        TCustomControl::Dispatch(m);
    }

protected:
    void Paint() override {
        TCanvas& c = Canvas();
        c.Brush.Color = clWindow;
        c.Pen.Color = clWindowText;
        c.Rectangle(0, 0, Width(), Height());
        c.Font.Color = clWindowText;
        c.TextOut(2, 1, Text);
    }
};

} // namespace

// Named, not local to this file: the string tree lets it reach its text dispatchers.
class TStringEditLink : public ILTEditLink, public std::enable_shared_from_this<TStringEditLink> {
public:
    explicit TStringEditLink(TCustomLazyStringTree* tree) : Tree(tree) {}
    ~TStringEditLink() override {
        if (Edit) {
            // The editor may still be in its own key message: it goes with the next edit or the
            // tree.
            Edit->SetVisible(false);
            Tree->RetiredEditor = std::move(Edit);
        }
    }
    bool PrepareEdit(TBaseLazyTree* tree, PLazyNode node, TColumnIndex column) override {
        if (tree != Tree || !node) return false;
        Node = node;
        Column = column;
        Original = Tree->DoGetText(node, column);
        Edit = std::make_unique<TLTStringEdit>(Tree);
        Edit->Link = weak_from_this();
        Edit->Text = Original;
        Edit->SetVisible(false);
        Edit->SetParent(Tree);
        SetBounds(Tree->NodeRowRect(node));
        return true;
    }
    bool BeginEdit() override {
        if (!Edit) return false;
        Edit->SetVisible(true);
        SetFocus(Edit->Handle());
        return true;
    }
    bool EndEdit() override {
        if (!Edit) return true;
        std::u16string text = Edit->Text;
        Finish();
        if (text != Original) Tree->DoNewText(Node, Column, text);
        return true;
    }
    bool CancelEdit() override {
        Finish();
        return true;
    }
    TRect GetBounds() override { return Edit ? Edit->BoundsRect() : TRect{}; }
    void SetBounds(const TRect& r) override {
        if (Edit) Edit->SetBounds(r.Left, r.Top, r.Right - r.Left, r.Bottom - r.Top);
    }

private:
    void Finish() {
        bool hadFocus = Edit->HandleAllocated() && GetFocus() == Edit->WindowHandle();
        Edit->SetVisible(false);
        if (hadFocus && Tree->HandleAllocated()) SetFocus(Tree->WindowHandle());
    }
    TCustomLazyStringTree* Tree;
    std::unique_ptr<TLTStringEdit> Edit;
    PLazyNode Node = nullptr;
    TColumnIndex Column = NoColumn;
    std::u16string Original;
};

void TCustomLazyStringTree::DoNewText(PLazyNode node, TColumnIndex column,
                                      const std::u16string& text) {
    if (OnNewText) OnNewText(*this, node, column, text);
}

std::shared_ptr<ILTEditLink> TCustomLazyStringTree::DoCreateEditor(PLazyNode node,
                                                                   TColumnIndex column) {
    if (OnCreateEditor) return TBaseLazyTree::DoCreateEditor(node, column);
    return std::make_shared<TStringEditLink>(this);
}

void TBaseLazyTree::UpdateEditBounds() {
    if (!(FStates & TS(tsEditing)) || !FEditLink || !FFocusedNode) return;
    const bool multiline = FFocusedNode->States & vsMultiline;
    TRect r = GetDisplayRect(FFocusedNode, FEditColumn, !multiline);
    const TLazyTreeColumns& columns = FHeader->Columns();
    // No edit column in a tree with columns edits the main column's text.
    const TColumnIndex index =
        columns.IsValidColumn(FEditColumn) ? FEditColumn : FHeader->MainColumn();
    if ((FOptions->MiscOptions() & toGridExtensions) && FHeader->UseColumns() &&
        columns.IsValidColumn(index)) {
        // The editor takes the cell's room on the side the text runs to.
        const TRect cell = GetDisplayRect(FFocusedNode, index, false);
        const TLazyTreeColumn& column = columns[index];
        TAlignment alignment = column.Alignment();
        if (column.IsRightToLeftReading() && alignment != taCenter)
            alignment = alignment == taLeftJustify ? taRightJustify : taLeftJustify;
        if (alignment != taRightJustify) r.Right = cell.Right;
        if (alignment != taLeftJustify) r.Left = cell.Left;
    }
    if (FOptions->PaintOptions() & toShowHorzGridLines) --r.Bottom;
    FEditLink->SetBounds(r);
}

TRect TCustomLazyStringTree::NodeRowRect(PLazyNode node) {
    TRect r = GetDisplayRect(node, FEditColumn, true);
    r.Right = std::max(r.Right, r.Left + DoGetNodeWidth(node, FEditColumn, nullptr));
    return r;
}

} // namespace nuq
