// Keyboard input: focus and selection moves, Shift ranges back to the anchor,
// paging by node heights, expand and collapse, the space-bar check, F2 and the
// arming of the incremental search.

#include "treeview/LazyTrees.h"
#include "treeview/LazyTrees_Globals.h"

#include <algorithm>
#include <climits>

namespace nuq {

namespace {

// Keys that move the focus and with it the selection.
bool IsNavigationKey(WORD key) {
    return key == VK_BACK || key == VK_TAB || (key >= VK_PRIOR && key <= VK_DOWN);
}

} // namespace

void TBaseLazyTree::HandleKeyDown(TMessage& message) {
    WORD key = WORD(message.WParam);
    TShiftState keys = KeyShiftState();
    if (OnKeyDown) OnKeyDown(*this, key, keys);
    if (key == 0) return;
    if (!DoKeyAction(key, keys)) return;

    if ((FStates & TS(tsKeyCheckPending)) && key != VK_SPACE) AbandonKeyCheck();
    if (IsNavigationKey(key))
        HandleNavigationKey(key, keys);
    else
        HandleCommandKey(key, keys);
}

// Another key while the space bar is held: the pressed check box springs back unchanged.
void TBaseLazyTree::AbandonKeyCheck() {
    DoStateChange(0, TS(tsKeyCheckPending));
    if (FCheckNode) {
        FCheckNode->CheckState = NormalCheckState(FCheckNode->CheckState);
        InvalidateNode(FCheckNode);
        Update();
    }
    FCheckNode = nullptr;
}

void TBaseLazyTree::HandleNavigationKey(WORD key, TShiftState keys) {
    const TLTSelectionOptions sel = FOptions->SelectionOptions();
    const bool editing = FStates & TS(tsEditing);
    const bool extend = (keys & ssShift) && (sel & toMultiSelect) && !editing;
    bool range = (key == VK_PRIOR || key == VK_NEXT || key == VK_END || key == VK_HOME) && extend;
    const bool repaintAll = range || FSelectionCount > 1;
    const bool grid = FOptions->MiscOptions() & toGridExtensions;
    const bool clear = keys == 0 || (grid && !(keys & ssShift)) || !(sel & toMultiSelect) ||
                       key == VK_BACK || key == VK_TAB;
    PLazyNode oldFocus = FFocusedNode;
    if (!oldFocus && keys != 0) oldFocus = GetFirstVisible();
    if (!FRangeAnchor) FRangeAnchor = FSelectionCount > 0 ? GetFirstSelected() : GetFirst();
    if (MoveFocusByKey(key, keys, extend, oldFocus)) range = true;
    SelectAfterKeyMove(oldFocus, keys, clear, range, repaintAll);
}

// The focus moves as the key says; true when the move selects a range back to the anchor.
bool TBaseLazyTree::MoveFocusByKey(WORD key, TShiftState keys, bool extend, PLazyNode oldFocus) {
    switch (key) {
    case VK_BACK:
        if (FStates & TS(tsIncrementalSearching))
            DoStateChange(TS(tsIncrementalSearchPending));
        else if (FFocusedNode && FFocusedNode->Parent != FRoot)
            SetFocusedNode(FFocusedNode->Parent);
        break;
    case VK_TAB:
        if ((FOptions->SelectionOptions() & toExtendedFocus) && FHeader->UseColumns() &&
            FFocusedNode)
            TabToNextCell(!(keys & ssShift));
        break;
    case VK_PRIOR:
    case VK_NEXT:
        HandlePageKey(key == VK_PRIOR, keys);
        break;
    case VK_HOME:
    case VK_END:
        HandleHomeEndKey(key == VK_HOME, keys);
        break;
    case VK_LEFT:
    case VK_RIGHT:
        return HandleLeftRightKey(key == VK_LEFT, keys, extend);
    case VK_UP:
    case VK_DOWN:
        HandleUpDownKey(key == VK_UP, keys, extend, oldFocus);
        break;
    }
    return false;
}

// The selection follows the focus: a plain move selects the focused node alone
// and sets the anchor, Shift selects the range from the old focus.
void TBaseLazyTree::SelectAfterKeyMove(PLazyNode oldFocus, TShiftState keys, bool clear, bool range,
                                       bool repaintAll) {
    bool cleared = false;
    if (clear && (FFocusedNode != oldFocus || FSelectionCount != 1)) {
        ClearSelection();
        cleared = true;
    }
    if (keys == 0) {
        FRangeAnchor = FFocusedNode;
        FLastSelectionLevel = FFocusedNode ? int(GetNodeLevel(FFocusedNode)) : -1;
    }
    if (range) ToggleSelection(oldFocus, FFocusedNode);
    if (FFocusedNode && (cleared || FFocusedNode != oldFocus)) AddToSelection(FFocusedNode);
    if (repaintAll && HandleAllocated()) Invalidate();
}

// Tab walks the cells row by row: the next column that accepts the focus, else
// the first (or, backwards, the last) of the next row.
void TBaseLazyTree::TabToNextCell(bool forward) {
    TLazyTreeColumns& columns = FHeader->Columns();
    PLazyNode node = FFocusedNode;
    TColumnIndex column = forward ? columns.NextVisibleColumn(FFocusedColumn)
                                  : columns.PreviousVisibleColumn(FFocusedColumn);
    while (node) {
        while (column > NoColumn && !DoFocusChanging(FFocusedNode, node, FFocusedColumn, column))
            column =
                forward ? columns.NextVisibleColumn(column) : columns.PreviousVisibleColumn(column);
        if (column > NoColumn) {
            SetFocusedNodeAndColumn(node, column);
            return;
        }
        node = forward ? GetNextVisible(node) : GetPreviousVisible(node);
        column = forward ? columns.FirstVisibleColumn() : columns.LastVisibleColumn();
    }
}

// Page Up and Page Down: with Ctrl and Shift a page sideways, with Shift a page of
// columns, with Ctrl a page of the view, else the focus a page of nodes on.
void TBaseLazyTree::HandlePageKey(bool up, TShiftState keys) {
    const TRect client = ClientRect();
    if (keys == (ssCtrl | ssShift))
        SetOffsetX(FOffsetX + (up ? client.Width() : -client.Width()));
    else if (keys == ssShift && FHeader->UseColumns())
        PageFocusedColumn(up, client.Width());
    else if (keys & ssCtrl)
        SetOffsetY(FOffsetY + (up ? client.Height() : -client.Height()));
    else
        PageFocusedNode(up, client.Height());
}

// The focus moves over as many columns as fit beside the fixed ones.
void TBaseLazyTree::PageFocusedColumn(bool up, int clientWidth) {
    TLazyTreeColumns& columns = FHeader->Columns();
    TColumnIndex column = FFocusedColumn;
    if (column == InvalidColumn) {
        column = columns.FirstVisibleColumn();
    } else {
        int used = columns.VisibleFixedWidth();
        for (;;) {
            TColumnIndex next =
                up ? columns.PreviousVisibleColumn(column) : columns.NextVisibleColumn(column);
            if (next <= NoColumn || !columns.IsValidColumn(column) ||
                clientWidth <= used + columns[column].Width() ||
                (columns[next].Options() & coFixed))
                break;
            used += columns[column].Width();
            column = next;
        }
    }
    if (column != FFocusedColumn) SetFocusedColumn(column);
}

// Page by the heights of the nodes passed, not by pixels.
void TBaseLazyTree::PageFocusedNode(bool up, int clientHeight) {
    PLazyNode node = FFocusedNode ? FFocusedNode : (up ? GetFirstVisible() : GetLastVisible());
    int used = 0;
    while (node) {
        PLazyNode next = up ? GetPreviousVisible(node) : GetNextVisible(node);
        if (!next || clientHeight <= used + int(GetNodeHeight(node))) break;
        used += int(GetNodeHeight(next));
        node = next;
    }
    if (node) SetFocusedNode(node);
}

// Home and End (swapped right to left): the first or last node and the first or
// last column that takes the focus; with Ctrl outside the grid only the view moves.
void TBaseLazyTree::HandleHomeEndKey(bool home, TShiftState keys) {
    const TLTSelectionOptions sel = FOptions->SelectionOptions();
    const bool grid = FOptions->MiscOptions() & toGridExtensions;
    TLazyTreeColumns& columns = FHeader->Columns();
    const bool forward = home != UseRightToLeftAlignment();
    PLazyNode target = forward ? GetFirstVisible() : GetLastVisible();
    TColumnIndex candidate = NoColumn;
    if (FHeader->UseColumns()) {
        candidate = forward ? columns.FirstVisibleColumn() : columns.LastVisibleColumn();
        while (candidate > NoColumn &&
               !DoFocusChanging(FFocusedNode, FFocusedNode, FFocusedColumn, candidate))
            candidate = forward ? columns.NextVisibleColumn(candidate)
                                : columns.PreviousVisibleColumn(candidate);
        if (candidate <= NoColumn) candidate = InvalidColumn;
    }
    if (candidate == InvalidColumn) return;
    if (keys == ssCtrl && !grid) {
        ScrollIntoView(target, sel & toCenterScrollIntoView,
                       !(FOptions->AutoOptions() & toDisableAutoscrollOnFocus));
        if (home && !UseRightToLeftAlignment())
            SetOffsetX(0);
        else
            SetOffsetX(-2147483647);
    } else {
        if (!grid || (keys & ssCtrl)) SetFocusedNode(target);
        if (grid && !(sel & toFullRowSelect)) SetFocusedColumn(candidate);
    }
}

// Left and Right: with Ctrl the view moves sideways, in the grid the focused
// column moves, else Left collapses or goes to the parent and Right expands or
// goes to the first child. True when the move selects a range back to the anchor.
bool TBaseLazyTree::HandleLeftRightKey(bool left, TShiftState keys, bool extend) {
    const TLTSelectionOptions sel = FOptions->SelectionOptions();
    const bool grid = FOptions->MiscOptions() & toGridExtensions;
    TLazyTreeColumns& columns = FHeader->Columns();
    if (keys & ssCtrl) {
        const int direction = UseRightToLeftAlignment() ? -1 : 1;
        int step = FHeader->UseColumns() ? columns.AverageScrollWidth() : int(FIndent);
        SetOffsetX(FOffsetX + (left ? 1 : -1) * direction * step);
    } else if ((sel & toExtendedFocus) && grid) {
        TColumnIndex column = left ? columns.PreviousVisibleColumn(FFocusedColumn)
                                   : columns.NextVisibleColumn(FFocusedColumn);
        if (column > NoColumn) SetFocusedColumn(column);
    } else if (left) {
        return StepOutToParent(keys, extend);
    } else {
        StepInToChild(keys, extend);
    }
    return false;
}

bool TBaseLazyTree::StepOutToParent(TShiftState keys, bool extend) {
    bool range = false;
    if (FFocusedNode && (FFocusedNode->States & vsExpanded) &&
        (FFocusedNode->States & vsHasChildren) && keys == 0) {
        ToggleNode(FFocusedNode);
    } else if (!FFocusedNode) {
        SetFocusedNode(GetFirstVisible());
    } else if (FFocusedNode->Parent != FRoot) {
        PLazyNode parent = FFocusedNode->Parent;
        if (extend) {
            if (FFocusedNode != parent->FirstChild)
                range = true;
            else if (CompareNodePositions(parent, FRangeAnchor) > 0)
                RemoveFromSelection(FFocusedNode);
        }
        SetFocusedNode(parent);
    }
    return range;
}

void TBaseLazyTree::StepInToChild(TShiftState keys, bool extend) {
    if (FFocusedNode && !(FFocusedNode->States & vsExpanded) &&
        (FFocusedNode->States & vsHasChildren) && keys == 0) {
        ToggleNode(FFocusedNode);
    } else if (!FFocusedNode) {
        SetFocusedNode(GetFirstVisible());
    } else if (PLazyNode child = GetFirstVisibleChild(FFocusedNode)) {
        if (extend && CompareNodePositions(child, FRangeAnchor) < 0)
            RemoveFromSelection(FFocusedNode);
        SetFocusedNode(child);
    }
}

// Up and Down: with Ctrl the view moves a row, else the focus moves to the
// neighbouring visible node, ending an edit; a Shift move back towards the
// anchor gives up the node it leaves.
void TBaseLazyTree::HandleUpDownKey(bool up, TShiftState keys, bool extend, PLazyNode oldFocus) {
    if (keys & ssCtrl) {
        SetOffsetY(FOffsetY + (up ? 1 : -1) * int(FDefaultNodeHeight));
        return;
    }
    PLazyNode target = FFocusedNode
                           ? (up ? GetPreviousVisible(FFocusedNode) : GetNextVisible(FFocusedNode))
                           : (up ? GetLastVisible() : GetFirstVisible());
    if (!target) {
        InvalidateNode(FFocusedNode);
        return;
    }
    if (FStates & TS(tsEditing)) EndEditNode();
    if (extend && FFocusedNode) {
        int order = CompareNodePositions(oldFocus, FRangeAnchor);
        if (up ? order > 0 : order < 0) RemoveFromSelection(FFocusedNode);
    }
    if (FFocusedColumn < 0 && FHeader->UseColumns()) FFocusedColumn = FHeader->MainColumn();
    SetFocusedNode(target);
}

// The keys that do not move the focus: expand and collapse, Escape, the check
// box, the context menu, help, editing, select all; the rest feed the search.
void TBaseLazyTree::HandleCommandKey(WORD key, TShiftState keys) {
    switch (key) {
    case VK_MULTIPLY:
    case VK_ADD:
    case VK_SUBTRACT:
    case VK_DIVIDE:
        HandleExpandKey(key, keys);
        break;
    case VK_ESCAPE:
        if (IsMouseSelecting()) {
            DoStateChange(0, TS(tsDrawSelPending, tsDrawSelecting));
            Invalidate();
        } else if (IsEditing()) {
            CancelEditNode();
        }
        break;
    case VK_SPACE:
        HandleSpaceKey();
        break;
    case VK_APPS:
        if (FFocusedNode) PopupMenuAtFocus();
        break;
    case VK_F1:
        if (OnGetHelpContext) ShowHelpForFocus();
        break;
    case VK_F2:
        if (keys == 0 && FFocusedNode && CanEdit(FFocusedNode, FFocusedColumn)) {
            FEditColumn = FFocusedColumn;
            DoEdit();
        }
        break;
    case 0x41: // A
        if (keys & ssCtrl)
            SelectAll(true);
        else
            DoStateChange(TS(tsIncrementalSearchPending));
        break;
    default:
        if (!(keys & (ssCtrl | ssAlt)) && key >= VK_SPACE)
            DoStateChange(TS(tsIncrementalSearchPending));
        break;
    }
}

// The keypad's * + - /: while a search runs they are typed; otherwise * and /
// expand and collapse the focused branch, + and - the focused node, with Ctrl
// and Shift the whole tree; Ctrl+ fits the columns and Ctrl- restores them.
void TBaseLazyTree::HandleExpandKey(WORD key, TShiftState keys) {
    if (FStates & TS(tsIncrementalSearching)) {
        DoStateChange(TS(tsIncrementalSearchPending));
        return;
    }
    switch (key) {
    case VK_MULTIPLY:
        if (FFocusedNode) FullExpand(FFocusedNode);
        break;
    case VK_DIVIDE:
        if (FFocusedNode) FullCollapse(FFocusedNode);
        break;
    case VK_ADD:
        if (keys == (ssCtrl | ssShift))
            FullExpand();
        else if (keys & ssCtrl)
            FHeader->AutoFitColumns(true, smaUseColumnOption, -1, -1);
        else if (FFocusedNode && !(FFocusedNode->States & vsExpanded))
            ToggleNode(FFocusedNode);
        break;
    case VK_SUBTRACT:
        if (keys == (ssCtrl | ssShift)) {
            PLazyNode focused = FFocusedNode;
            FullCollapse();
            // The focus moved onto a closed group, perhaps out of sight: shown,
            // as wherever else the keys move it.
            if (FFocusedNode != focused && !(FOptions->AutoOptions() & toDisableAutoscrollOnFocus))
                ScrollIntoView(FFocusedNode, FOptions->SelectionOptions() & toCenterScrollIntoView,
                               true);
        } else if (keys & ssCtrl)
            FHeader->RestoreColumns();
        else if (FFocusedNode && (FFocusedNode->States & vsExpanded))
            ToggleNode(FFocusedNode);
        break;
    }
}

// The space bar presses the focused node's check box; its release (key up)
// completes the check. Without a check box the space is typed into the search.
void TBaseLazyTree::HandleSpaceKey() {
    if (!(FOptions->MiscOptions() & toCheckSupport) || !FFocusedNode ||
        FFocusedNode->CheckType == ctNone) {
        DoStateChange(TS(tsIncrementalSearchPending));
        return;
    }
    if (PressCheckBox(FFocusedNode, tsKeyCheckPending)) Update();
}

// Pressing a check box asks for its next state now; the key or button coming
// up sets it. Nothing while another check is pending or the node is disabled.
bool TBaseLazyTree::PressCheckBox(PLazyNode node, TLazyTreeState pending) {
    if ((FStates & TS(tsKeyCheckPending, tsMouseCheckPending)) || (node->States & vsDisabled))
        return false;
    TCheckState newState = DetermineNextCheckState(node->CheckType, node->CheckState);
    if (!DoChecking(node, newState)) return false;
    DoStateChange(TS(pending));
    FCheckNode = node;
    FPendingCheckState = newState;
    node->CheckState = PressedCheckState(node->CheckState);
    InvalidateNode(node);
    return true;
}

// The context-menu key opens the menu at the middle of the focused node's text
// in the focused column.
void TBaseLazyTree::PopupMenuAtFocus() {
    const int clientWidth = ClientRect().Width();
    TRect r = GetDisplayRect(FFocusedNode, FFocusedColumn, true);
    int limit = FHeader->IsValidColumn(FFocusedColumn) ? FHeader->Columns()[FFocusedColumn].Width()
                                                       : clientWidth;
    int width = std::min(DoGetNodeWidth(FFocusedNode, FFocusedColumn, nullptr), limit);
    TPoint p{r.Left + width / 2, (r.Top + r.Bottom) / 2};
    DoPopupMenu(FFocusedNode, FFocusedColumn, p);
}

// F1: the help context of the focused node or its nearest ancestor that has one,
// else the tree's own, else the nearest of the controls it lies within.
void TBaseLazyTree::ShowHelpForFocus() {
    int context = 0;
    for (PLazyNode run = FFocusedNode; run && run != FRoot && context == 0; run = run->Parent)
        OnGetHelpContext(*this, run, FFocusedColumn, context);
    for (TControl* c = this; c && context == 0; c = c->Parent()) context = c->HelpContext;
    if (context != 0) Application().HelpContext(context);
}

void TBaseLazyTree::HandleKeyUp(TMessage& message) {
    WORD key = WORD(message.WParam);
    TShiftState keys = KeyShiftState();
    if (OnKeyUp) OnKeyUp(*this, key, keys);
    if (key == VK_SPACE && (FStates & TS(tsKeyCheckPending))) {
        DoStateChange(0, TS(tsKeyCheckPending));
        if (PLazyNode node = FCheckNode) {
            node->CheckState = NormalCheckState(node->CheckState);
            // A check abandoned because the focus moved is only repainted.
            if (node == FFocusedNode) DoCheckClick(node, FPendingCheckState);
            InvalidateNode(node);
        }
        FCheckNode = nullptr;
    }
}

void TBaseLazyTree::HandleChar(TMessage& message) {
    if (FStates & TS(tsIncrementalSearchPending)) {
        // Of the control characters only Backspace edits the search text.
        const WPARAM c = message.WParam;
        if (c == VK_BACK || (c >= 0x20 && c != 0x7F)) HandleIncrementalSearch(WORD(c));
        DoStateChange(0, TS(tsIncrementalSearchPending));
    }
    if (OnKeyPress) {
        char16_t c = char16_t(message.WParam);
        OnKeyPress(*this, c);
    }
}

} // namespace nuq
