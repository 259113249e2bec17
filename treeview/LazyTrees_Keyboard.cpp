// Keyboard input: focus and selection moves, Shift ranges back to the anchor,
// paging by node heights, expand and collapse, the space-bar check, F2 and the
// arming of the incremental search.

#include "treeview/LazyTrees.h"

#include <algorithm>
#include <climits>

namespace nuq {

void TBaseLazyTree::HandleKeyDown(TMessage& message) {
    WORD key = WORD(message.WParam);
    TShiftState keys = 0;
    if (GetKeyState(VK_SHIFT) < 0) keys |= ssShift;
    if (GetKeyState(VK_CONTROL) < 0) keys |= ssCtrl;
    if (GetKeyState(VK_MENU) < 0) keys |= ssAlt;
    if (OnKeyDown) OnKeyDown(*this, key, keys);
    if (key == 0) return;
    if (!DoKeyAction(key, keys)) return;

    if ((FStates & TS(tsKeyCheckPending)) && key != VK_SPACE) {
        DoStateChange(0, TS(tsKeyCheckPending));
        if (FCheckNode) {
            FCheckNode->CheckState = NormalCheckState(FCheckNode->CheckState);
            InvalidateNode(FCheckNode);
            Update();
        }
        FCheckNode = nullptr;
    }

    const TLTSelectionOptions sel = FOptions->SelectionOptions();
    const TLTMiscOptions misc = FOptions->MiscOptions();
    TLazyTreeColumns& columns = FHeader->Columns();
    const int clientWidth = ClientRect().Width(), clientHeight = ClientRect().Height();

    if (key == VK_BACK || key == VK_TAB || (key >= VK_PRIOR && key <= VK_DOWN)) {
        const bool editing = FStates & TS(tsEditing);
        const bool extend = (keys & ssShift) && (sel & toMultiSelect) && !editing;
        bool range =
            (key == VK_PRIOR || key == VK_NEXT || key == VK_END || key == VK_HOME) && extend;
        const bool repaintAll = range || FSelectionCount > 1;
        const bool grid = misc & toGridExtensions;
        const bool clear = keys == 0 || (grid && !(keys & ssShift)) || !(sel & toMultiSelect) ||
                           key == VK_BACK || key == VK_TAB;
        PLazyNode oldFocus = FFocusedNode;
        if (!oldFocus && keys != 0) oldFocus = GetFirstVisible();
        if (!FRangeAnchor) FRangeAnchor = FSelectionCount > 0 ? GetFirstSelected() : GetFirst();
        const int direction = UseRightToLeftAlignment() ? -1 : 1;

        switch (key) {
        case VK_BACK:
            if (FStates & TS(tsIncrementalSearching))
                DoStateChange(TS(tsIncrementalSearchPending));
            else if (FFocusedNode && FFocusedNode->Parent != FRoot)
                SetFocusedNode(FFocusedNode->Parent);
            break;
        case VK_TAB:
            if ((sel & toExtendedFocus) && FHeader->UseColumns() && FFocusedNode) {
                const bool forward = !(keys & ssShift);
                PLazyNode node = FFocusedNode;
                TColumnIndex column = forward ? columns.NextVisibleColumn(FFocusedColumn)
                                              : columns.PreviousVisibleColumn(FFocusedColumn);
                while (node) {
                    while (column > NoColumn &&
                           !DoFocusChanging(FFocusedNode, node, FFocusedColumn, column))
                        column = forward ? columns.NextVisibleColumn(column)
                                         : columns.PreviousVisibleColumn(column);
                    if (column > NoColumn) {
                        SetFocusedNodeAndColumn(node, column);
                        break;
                    }
                    node = forward ? GetNextVisible(node) : GetPreviousVisible(node);
                    column = forward ? columns.FirstVisibleColumn() : columns.LastVisibleColumn();
                }
            }
            break;
        case VK_PRIOR:
        case VK_NEXT: {
            const bool up = key == VK_PRIOR;
            if (keys == (ssCtrl | ssShift)) {
                SetOffsetX(FOffsetX + (up ? clientWidth : -clientWidth));
            } else if (keys == ssShift && FHeader->UseColumns()) {
                TColumnIndex column = FFocusedColumn;
                if (column == InvalidColumn) {
                    column = columns.FirstVisibleColumn();
                } else {
                    int used = columns.VisibleFixedWidth();
                    for (;;) {
                        TColumnIndex next = up ? columns.PreviousVisibleColumn(column)
                                               : columns.NextVisibleColumn(column);
                        if (next <= NoColumn || !columns.IsValidColumn(column) ||
                            clientWidth <= used + columns[column].Width() ||
                            (columns[next].Options() & coFixed))
                            break;
                        used += columns[column].Width();
                        column = next;
                    }
                }
                if (column != FFocusedColumn) SetFocusedColumn(column);
            } else if (keys & ssCtrl) {
                SetOffsetY(FOffsetY + (up ? clientHeight : -clientHeight));
            } else {
                // Page by the heights of the nodes passed, not by pixels.
                PLazyNode node =
                    FFocusedNode ? FFocusedNode : (up ? GetFirstVisible() : GetLastVisible());
                int used = 0;
                while (node) {
                    PLazyNode next = up ? GetPreviousVisible(node) : GetNextVisible(node);
                    if (!next || clientHeight <= used + int(GetNodeHeight(node))) break;
                    used += int(GetNodeHeight(next));
                    node = next;
                }
                if (node) SetFocusedNode(node);
            }
            break;
        }
        case VK_HOME:
        case VK_END: {
            const bool forward = (key == VK_HOME) != UseRightToLeftAlignment();
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
            if (candidate != InvalidColumn) {
                if (keys == ssCtrl && !grid) {
                    ScrollIntoView(target, sel & toCenterScrollIntoView,
                                   !(FOptions->AutoOptions() & toDisableAutoscrollOnFocus));
                    if (key == VK_HOME && !UseRightToLeftAlignment())
                        SetOffsetX(0);
                    else
                        SetOffsetX(-2147483647);
                } else {
                    if (!grid || (keys & ssCtrl)) SetFocusedNode(target);
                    if (grid && !(sel & toFullRowSelect)) SetFocusedColumn(candidate);
                }
            }
            break;
        }
        case VK_LEFT:
        case VK_RIGHT: {
            const bool left = key == VK_LEFT;
            if (keys & ssCtrl) {
                int step = FHeader->UseColumns() ? columns.AverageScrollWidth() : int(FIndent);
                SetOffsetX(FOffsetX + (left ? 1 : -1) * direction * step);
            } else if ((sel & toExtendedFocus) && grid) {
                TColumnIndex column = left ? columns.PreviousVisibleColumn(FFocusedColumn)
                                           : columns.NextVisibleColumn(FFocusedColumn);
                if (column > NoColumn) SetFocusedColumn(column);
            } else if (left) {
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
            } else {
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
            break;
        }
        case VK_UP:
        case VK_DOWN: {
            const bool up = key == VK_UP;
            if (keys & ssCtrl) {
                SetOffsetY(FOffsetY + (up ? 1 : -1) * int(FDefaultNodeHeight));
                break;
            }
            PLazyNode target = FFocusedNode ? (up ? GetPreviousVisible(FFocusedNode)
                                                  : GetNextVisible(FFocusedNode))
                                            : (up ? GetLastVisible() : GetFirstVisible());
            if (!target) {
                InvalidateNode(FFocusedNode);
                break;
            }
            if (FStates & TS(tsEditing)) EndEditNode();
            if (extend && FFocusedNode) {
                int order = CompareNodePositions(oldFocus, FRangeAnchor);
                if (up ? order > 0 : order < 0) RemoveFromSelection(FFocusedNode);
            }
            if (FFocusedColumn < 0 && FHeader->UseColumns()) FFocusedColumn = FHeader->MainColumn();
            SetFocusedNode(target);
            break;
        }
        }

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
        return;
    }

    const bool searching = FStates & TS(tsIncrementalSearching);
    switch (key) {
    case VK_MULTIPLY:
        if (searching)
            DoStateChange(TS(tsIncrementalSearchPending));
        else if (FFocusedNode)
            FullExpand(FFocusedNode);
        break;
    case VK_ADD:
        if (searching)
            DoStateChange(TS(tsIncrementalSearchPending));
        else if (keys == (ssCtrl | ssShift))
            FullExpand();
        else if (keys & ssCtrl)
            FHeader->AutoFitColumns(true, smaUseColumnOption, -1, -1);
        else if (FFocusedNode && !(FFocusedNode->States & vsExpanded))
            ToggleNode(FFocusedNode);
        break;
    case VK_SUBTRACT:
        if (searching)
            DoStateChange(TS(tsIncrementalSearchPending));
        else if (keys == (ssCtrl | ssShift))
            FullCollapse();
        else if (keys & ssCtrl)
            FHeader->RestoreColumns();
        else if (FFocusedNode && (FFocusedNode->States & vsExpanded))
            ToggleNode(FFocusedNode);
        break;
    case VK_DIVIDE:
        if (searching)
            DoStateChange(TS(tsIncrementalSearchPending));
        else if (FFocusedNode)
            FullCollapse(FFocusedNode);
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
        if ((misc & toCheckSupport) && FFocusedNode && FFocusedNode->CheckType != ctNone) {
            if ((FStates & TS(tsKeyCheckPending, tsMouseCheckPending)) ||
                (FFocusedNode->States & vsDisabled))
                break;
            TCheckState newState =
                DetermineNextCheckState(FFocusedNode->CheckType, FFocusedNode->CheckState);
            if (DoChecking(FFocusedNode, newState)) {
                DoStateChange(TS(tsKeyCheckPending));
                FCheckNode = FFocusedNode;
                FPendingCheckState = newState;
                FCheckNode->CheckState = PressedCheckState(FCheckNode->CheckState);
                InvalidateNode(FCheckNode);
                Update();
            }
        } else {
            DoStateChange(TS(tsIncrementalSearchPending));
        }
        break;
    case VK_APPS:
        if (FFocusedNode) {
            // The middle of the node's text in the focused column.
            TRect r = GetDisplayRect(FFocusedNode, FFocusedColumn, true);
            int limit = FHeader->IsValidColumn(FFocusedColumn) ? columns[FFocusedColumn].Width()
                                                               : clientWidth;
            int width = std::min(DoGetNodeWidth(FFocusedNode, FFocusedColumn, nullptr), limit);
            TPoint p{r.Left + width / 2, (r.Top + r.Bottom) / 2};
            DoPopupMenu(FFocusedNode, FFocusedColumn, p);
        }
        break;
    case VK_F1:
        if (OnGetHelpContext) {
            int context = 0;
            for (PLazyNode run = FFocusedNode; run && run != FRoot && context == 0;
                 run = run->Parent)
                OnGetHelpContext(*this, run, FFocusedColumn, context);
            if (context == 0) context = HelpContext;
            if (context != 0) Application().HelpContext(context);
        }
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

void TBaseLazyTree::HandleKeyUp(TMessage& message) {
    WORD key = WORD(message.WParam);
    TShiftState keys = 0;
    if (GetKeyState(VK_SHIFT) < 0) keys |= ssShift;
    if (GetKeyState(VK_CONTROL) < 0) keys |= ssCtrl;
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
        HandleIncrementalSearch(WORD(message.WParam));
        DoStateChange(0, TS(tsIncrementalSearchPending));
    }
    if (OnKeyPress) {
        char16_t c = char16_t(message.WParam);
        OnKeyPress(*this, c);
    }
}

} // namespace nuq
