// Editing a caption of the string tree in place: a one-line editor over the
// node's text; Enter (or the focus going elsewhere) hands the new text to the
// owner, Escape drops it.

#include "treeview/LazyTrees.h"

#include "platform/gui/Ole.h"

#include <algorithm>
#include <cstdlib>

namespace nuq {

namespace {

// The editor window: a one-line text box as the desktop's are (caret, cursor
// keys, selection by keys and mouse, the clipboard keys), growing with its
// text within the tree; it ends or cancels the edit through the tree, and
// losing the focus ends it as a click elsewhere does.
class TLTStringEdit : public TCustomControl {
public:
    explicit TLTStringEdit(TCustomLazyStringTree* tree) : Tree(tree) { TabStop = true; }
    std::u16string Text;
    size_t Caret = 0, Anchor = 0; // the selection runs between them
    TCustomLazyStringTree* Tree;
    std::weak_ptr<ILTEditLink> Link;
    bool Closing = false; // the link ends the edit itself: the focus leaving is no end
    int MinWidth = 0;     // the cell's width: the box grows from it with its text
    bool Typed = false;   // the text changed: the box is as wide as it needs

    void SelectAll() {
        Anchor = 0;
        Caret = Text.size();
        Changed(false);
    }
    // The box as wide as its text needs, from the cell's width to the tree's right edge.
    void Fit() {
        if (!Tree->HandleAllocated()) return;
        const int room = Tree->ClientRect().Width() - Left();
        const int wanted = std::max(MinWidth, Measure(Text) + 2 * Margin + 2);
        const int width = std::max(std::min(wanted, room), std::min(MinWidth, room));
        if (width != Width()) SetBounds(Left(), Top(), width, Height());
        KeepCaretInView();
    }
    void KeepCaretInView() {
        const int inner = std::max(1, Width() - 2 * Margin);
        const int cx = Measure(Text.substr(0, Caret));
        if (cx - ScrollX > inner) ScrollX = cx - inner;
        if (cx < ScrollX) ScrollX = cx;
        ScrollX = std::max(0, std::min(ScrollX, Measure(Text) - inner + 1));
    }

    void Dispatch(TMessage& m) override {
        switch (m.Msg) {
        case WM_GETDLGCODE:
            m.Result = DLGC_WANTARROWS | DLGC_WANTCHARS | DLGC_WANTTAB | DLGC_WANTALLKEYS;
            return;
        case WM_KEYDOWN: {
            auto keep = Link.lock(); // the edit may end inside this message
            Key(WORD(m.WParam));
            return;
        }
        case WM_CHAR:
            // Ctrl with a key is a command, not text; Ctrl+Alt (AltGr) types.
            // Control characters (DEL too) are keys the editor took as keys.
            if (m.WParam >= 0x20 && m.WParam != 0x7F && (!Held(VK_CONTROL) || Held(VK_MENU)))
                Replace(std::u16string(1, char16_t(m.WParam)));
            return;
        case WM_SETCURSOR:
            SetCursor(LoadCursor(IDC_IBEAM));
            m.Result = 1;
            return;
        case WM_LBUTTONDOWN:
        case WM_LBUTTONDBLCLK:
        case WM_MOUSEMOVE:
        case WM_LBUTTONUP:
            Mouse(m);
            return;
        case WM_SETFOCUS:
            Changed(false);
            break;
        case WM_KILLFOCUS:
            if (HandleAllocated()) KillTimer(WindowHandle(), BlinkTimer);
            CaretOn = false;
            Invalidate();
            if (!Closing && Visible()) {
                auto keep = Link.lock();
                Tree->EndEditNode();
            }
            break;
        case WM_TIMER:
            if (m.WParam != BlinkTimer) break;
            CaretOn = !CaretOn;
            Invalidate();
            return;
        }
        TCustomControl::Dispatch(m);
    }

protected:
    void Paint() override {
        TCanvas& c = Canvas();
        c.Font.Assign(Tree->Font);
        const int w = Width(), h = Height();
        const int x = Margin - ScrollX, y = std::max(0, (h - c.TextHeight(u"Wg")) / 2);
        c.Brush.Color = clWindow;
        c.FillRect({0, 0, w, h});
        c.Font.Color = clWindowText;
        c.TextOut(x, y, Text);
        const size_t from = std::min(Caret, Anchor), to = std::max(Caret, Anchor);
        if (from < to) {
            c.Brush.Color = clHighlight;
            c.Font.Color = clHighlightText;
            c.TextOut(x + c.TextWidth(Text.substr(0, from)), y, Text.substr(from, to - from));
        }
        // The text stays within the frame's margins.
        c.Brush.Color = clWindow;
        c.FillRect({1, 1, Margin, h - 1});
        c.FillRect({w - Margin, 1, w - 1, h - 1});
        c.Brush.Color = clWindowText;
        c.FrameRect({0, 0, w, h});
        // The caret inverts what lies under it, so it shows over a selection too.
        if (CaretOn) {
            const int cx = x + c.TextWidth(Text.substr(0, Caret));
            if (cx >= Margin - 1 && cx < w - Margin + 1)
                InvertRect(c.Handle(), {cx, 2, cx + 1, h - 2});
        }
    }

private:
    enum : uintptr_t { BlinkTimer = 1 };
    static constexpr int Margin = 3;
    static constexpr UINT BlinkMs = 500;
    bool CaretOn = false;
    bool Selecting = false; // the button is down and drags the selection
    int ScrollX = 0;        // how far the text is scrolled left within the box

    static bool Held(int vk) { return GetKeyState(vk) < 0; }

    int Measure(const std::u16string& text) {
        TCanvas& c = Measurer.Canvas();
        c.Font.Assign(Tree->Font);
        return c.TextWidth(text);
    }
    // The position nearest to X (client coordinates).
    size_t PositionAt(int x) {
        const int at = x - Margin + ScrollX;
        size_t best = 0;
        int bestDistance = std::abs(at);
        for (size_t i = 1; i <= Text.size(); ++i) {
            const int d = std::abs(Measure(Text.substr(0, i)) - at);
            if (d < bestDistance) {
                best = i;
                bestDistance = d;
            }
        }
        return best;
    }
    // Words are separated by spaces, as in the desktop's text boxes.
    size_t WordStart(size_t i) const {
        while (i > 0 && Text[i - 1] == u' ') --i;
        while (i > 0 && Text[i - 1] != u' ') --i;
        return i;
    }
    size_t WordEnd(size_t i) const {
        while (i < Text.size() && Text[i] != u' ') ++i;
        while (i < Text.size() && Text[i] == u' ') ++i;
        return i;
    }
    std::u16string Selected() const {
        const size_t from = std::min(Caret, Anchor);
        return Text.substr(from, std::max(Caret, Anchor) - from);
    }
    void MoveCaret(size_t to, bool extend) {
        Caret = std::min(to, Text.size());
        if (!extend) Anchor = Caret;
        Changed(false);
    }
    void Replace(const std::u16string& with) {
        const size_t from = std::min(Caret, Anchor);
        Text.replace(from, std::max(Caret, Anchor) - from, with);
        Caret = Anchor = from + with.size();
        Changed(true);
    }
    // The caret shows at once (the blink starts over) and the box follows the text.
    void Changed(bool text) {
        CaretOn = HandleAllocated() && GetFocus() == WindowHandle();
        if (CaretOn) SetTimer(WindowHandle(), BlinkTimer, BlinkMs);
        Typed |= text;
        if (text)
            Fit();
        else
            KeepCaretInView();
        Invalidate();
    }

    void Key(WORD key) {
        const bool shift = Held(VK_SHIFT), ctrl = Held(VK_CONTROL);
        switch (key) {
        case VK_RETURN:
            Tree->EndEditNode();
            return;
        case VK_ESCAPE:
            Tree->CancelEditNode();
            return;
        case VK_LEFT:
            if (!shift && Caret != Anchor && !ctrl)
                MoveCaret(std::min(Caret, Anchor), false);
            else
                MoveCaret(ctrl ? WordStart(Caret) : Caret - (Caret > 0), shift);
            return;
        case VK_RIGHT:
            if (!shift && Caret != Anchor && !ctrl)
                MoveCaret(std::max(Caret, Anchor), false);
            else
                MoveCaret(ctrl ? WordEnd(Caret) : Caret + 1, shift);
            return;
        case VK_HOME:
            MoveCaret(0, shift);
            return;
        case VK_END:
            MoveCaret(Text.size(), shift);
            return;
        case VK_BACK:
            if (Caret == Anchor && Caret > 0) Anchor = ctrl ? WordStart(Caret) : Caret - 1;
            Replace({});
            return;
        case VK_DELETE:
            if (shift) {
                Cut();
                return;
            }
            if (Caret == Anchor && Caret < Text.size()) Anchor = ctrl ? WordEnd(Caret) : Caret + 1;
            Replace({});
            return;
        case VK_INSERT:
            if (ctrl && !shift) Copy();
            if (shift && !ctrl) Replace(SingleLine(GetClipboardText()));
            return;
        }
        if (!ctrl || shift) return;
        switch (key) {
        case 'A':
            SelectAll();
            break;
        case 'C':
            Copy();
            break;
        case 'X':
            Cut();
            break;
        case 'V':
            Replace(SingleLine(GetClipboardText()));
            break;
        }
    }
    void Copy() {
        if (Caret != Anchor) SetClipboardText(Selected());
    }
    void Cut() {
        if (Caret == Anchor) return;
        Copy();
        Replace({});
    }
    // A caption is one line: pasted text ends at its first line break.
    static std::u16string SingleLine(std::u16string text) {
        return text.substr(0, text.find_first_of(u"\r\n"));
    }

    void Mouse(TMessage& m) {
        const int x = int(int16_t(LoWord(uintptr_t(m.LParam))));
        switch (m.Msg) {
        case WM_LBUTTONDOWN:
            if (GetFocus() != WindowHandle()) SetFocus(WindowHandle());
            Selecting = true;
            SetCapture(WindowHandle());
            MoveCaret(PositionAt(x), m.WParam & MK_SHIFT);
            break;
        case WM_LBUTTONDBLCLK: {
            // The word under the pointer, with the spaces after it.
            size_t at = PositionAt(x), from = at;
            while (from > 0 && Text[from - 1] != u' ') --from;
            Anchor = from;
            MoveCaret(WordEnd(at), true);
            break;
        }
        case WM_MOUSEMOVE:
            if (Selecting && (m.WParam & MK_LBUTTON)) MoveCaret(PositionAt(x), true);
            break;
        case WM_LBUTTONUP:
            Selecting = false;
            if (GetCapture() == WindowHandle()) ReleaseCapture();
            break;
        }
    }

    TBitmap Measurer{1, 1};
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
        Edit->SelectAll(); // typing replaces the old text
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
        if (text != Original) {
            Tree->DoNewText(Node, Column, text);
            // The row shows the new text, whatever else repaints or not.
            Tree->InvalidateNode(Node);
        }
        return true;
    }
    bool CancelEdit() override {
        if (Edit) Finish();
        return true;
    }
    TRect GetBounds() override { return Edit ? Edit->BoundsRect() : TRect{}; }
    void SetBounds(const TRect& r) override {
        if (!Edit) return;
        // The cell the tree gives; typing widens the box from there, and a box
        // widened so keeps its width when the cell moves (a scroll).
        Edit->MinWidth = r.Right - r.Left;
        Edit->SetBounds(r.Left, r.Top, r.Right - r.Left, r.Bottom - r.Top);
        if (Edit->Typed)
            Edit->Fit();
        else
            Edit->KeepCaretInView();
    }

private:
    void Finish() {
        bool hadFocus = Edit->HandleAllocated() && GetFocus() == Edit->WindowHandle();
        Edit->Closing = true;
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
