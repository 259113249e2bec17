// Incremental (type-ahead) search: typed characters collect in a buffer that
// the search timer empties; a repeated single letter cycles through the nodes
// that begin with it.

#include "treeview/LazyTrees_Globals.h"

namespace nuq {

namespace {

// Letters compared without case: Latin and Cyrillic, which the captions use.
char16_t UpperChar(char16_t c) {
    if (c >= u'a' && c <= u'z') return char16_t(c - 32);
    if (c >= 0x0430 && c <= 0x044F) return char16_t(c - 0x20);
    if (c >= 0x0450 && c <= 0x045F) return char16_t(c - 0x50);
    return c;
}

} // namespace

void TBaseLazyTree::HandleIncrementalSearch(WORD charCode) {
    StopTimer(SearchTimer);
    if (FIncrementalSearch == isNone) return;
    if (charCode != 0) {
        DoStateChange(TS(tsIncrementalSearching));
        // Our windows are Unicode: no code arrives as ANSI, so none goes through KeyUnicode.
        if (!(charCode == VK_BACK && FSearchBuffer.empty())) SearchFor(char16_t(charCode));
    }
    if (HandleAllocated()) SetTimer(Handle(), SearchTimer, IncrementalSearchTimeout);
}

// One typed character (or a backspace): the search text grows or shrinks and
// the first node from the start node on that begins with it takes the focus
// and the selection; a repeated single letter moves on to the next such node.
void TBaseLazyTree::SearchFor(char16_t c) {
    const bool backspace = c == VK_BACK;
    PLazyNode start = SearchStartNode();
    bool repeated = false;
    // The same character, case and all: "a" then "A" searches for "aA".
    if (FSearchBuffer.size() == 1 && !backspace && c == FSearchBuffer[0]) {
        repeated = true;
        if (start && DoIncrementalSearch(start, FSearchBuffer + c) == 0) {
            repeated = false; // the buffer simply grows
        } else if (start) {
            start = NextSearchNode(start); // on to the next node with that letter
            if (!start) start = FirstSearchNode();
        }
    }
    if (backspace)
        FSearchBuffer.pop_back();
    else if (!repeated)
        FSearchBuffer += c;

    PLazyNode origin = start ? start : FirstSearchNode();
    PLazyNode run = origin;
    PLazyNode found = nullptr;
    while (run) {
        if (DoIncrementalSearch(run, FSearchBuffer) == 0) {
            found = run;
            break;
        }
        run = NextSearchNode(run);
        if (!run) run = FirstSearchNode();
        if (run == origin) break;
    }
    if (found) {
        ClearSelection();
        FLastSearchNode = found;
        SetFocusedNode(found);
        AddToSelection(found);
    } else if (start) {
        Beep(); // nothing begins with what was typed from where the search began
    }
}

// Where the search begins, as IncrementalSearchStart says, when that node is
// among those the search looks at; else from the first of them.
PLazyNode TBaseLazyTree::SearchStartNode() {
    PLazyNode start = nullptr;
    switch (IncrementalSearchStart) {
    case ssAlwaysStartOver:
        start = nullptr;
        break;
    case ssFocusedNode:
        start = FFocusedNode;
        break;
    case ssLastHit:
        start = FLastSearchNode;
        break;
    }
    if (!start) return nullptr;
    if (FIncrementalSearch == isInitializedOnly && !(start->States & vsInitialized)) return nullptr;
    if (FIncrementalSearch == isVisibleOnly && (!FullyVisible(start) || IsEffectivelyHidden(start)))
        return nullptr;
    return start;
}

// The next node the search looks at in its direction: every node, the
// initialised ones or the visible ones.
PLazyNode TBaseLazyTree::NextSearchNode(PLazyNode node) {
    const bool forward = IncrementalSearchDirection == sdForward;
    switch (FIncrementalSearch) {
    case isInitializedOnly:
        if (forward) return GetNextInitialized(node);
        for (PLazyNode p = GetPreviousNoInit(node); p; p = GetPreviousNoInit(p))
            if (p->States & vsInitialized) return p;
        return nullptr;
    case isVisibleOnly:
        return forward ? GetNextVisible(node) : GetPreviousVisible(node);
    default:
        return forward ? GetNext(node) : GetPrevious(node);
    }
}

// Where the search wraps to: the first node it looks at in its direction.
PLazyNode TBaseLazyTree::FirstSearchNode() {
    const bool forward = IncrementalSearchDirection == sdForward;
    switch (FIncrementalSearch) {
    case isInitializedOnly:
        if (forward) return GetFirstInitialized();
        for (PLazyNode p = GetLast(); p; p = GetPreviousNoInit(p))
            if (p->States & vsInitialized) return p;
        return nullptr;
    case isVisibleOnly:
        return forward ? GetFirstVisible() : GetLastVisible();
    default:
        return forward ? GetFirst() : GetLast();
    }
}

// A node matches when its text in the main column begins with the search text,
// letters compared without case.
int TCustomLazyStringTree::DoIncrementalSearch(PLazyNode node, const std::u16string& text) {
    if (OnIncrementalSearch) return TBaseLazyTree::DoIncrementalSearch(node, text);
    std::u16string caption = DoGetText(node, FHeader->MainColumn());
    if (caption.size() < text.size()) return 1;
    for (size_t i = 0; i < text.size(); ++i) {
        char16_t a = UpperChar(caption[i]), b = UpperChar(text[i]);
        if (a != b) return a < b ? -1 : 1;
    }
    return 0;
}

} // namespace nuq
