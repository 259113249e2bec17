// Incremental (type-ahead) search: typed characters collect in a buffer that
// the search timer empties; a repeated single letter cycles through the nodes
// that begin with it.

#include "treeview/LazyTrees.h"

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
        // Characters come as Unicode from the window layer already.
        const char16_t c = char16_t(charCode);
        const bool backspace = charCode == VK_BACK;
        if (!(backspace && FSearchBuffer.empty())) {
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
            if (start) {
                if (FIncrementalSearch == isInitializedOnly && !(start->States & vsInitialized))
                    start = nullptr;
                else if (FIncrementalSearch == isVisibleOnly &&
                         (!FullyVisible(start) || IsEffectivelyHidden(start)))
                    start = nullptr;
            }

            auto step = [&](PLazyNode n) -> PLazyNode {
                const bool forward = IncrementalSearchDirection == sdForward;
                switch (FIncrementalSearch) {
                case isInitializedOnly:
                    if (forward) return GetNextInitialized(n);
                    for (PLazyNode p = GetPreviousNoInit(n); p; p = GetPreviousNoInit(p))
                        if (p->States & vsInitialized) return p;
                    return nullptr;
                case isVisibleOnly:
                    return forward ? GetNextVisible(n) : GetPreviousVisible(n);
                default:
                    return forward ? GetNext(n) : GetPrevious(n);
                }
            };
            auto first = [&]() -> PLazyNode {
                const bool forward = IncrementalSearchDirection == sdForward;
                switch (FIncrementalSearch) {
                case isInitializedOnly: {
                    if (forward) return GetFirstInitialized();
                    for (PLazyNode p = GetLast(); p; p = GetPreviousNoInit(p))
                        if (p->States & vsInitialized) return p;
                    return nullptr;
                }
                case isVisibleOnly:
                    return forward ? GetFirstVisible() : GetLastVisible();
                default:
                    return forward ? GetFirst() : GetLast();
                }
            };

            bool repeated = false;
            if (FSearchBuffer.size() == 1 && !backspace &&
                UpperChar(c) == UpperChar(FSearchBuffer[0])) {
                repeated = true;
                if (start && DoIncrementalSearch(start, FSearchBuffer + c) == 0) {
                    repeated = false; // the buffer simply grows
                } else if (start) {
                    start = step(start); // on to the next node with that letter
                    if (!start) start = first();
                }
            }
            if (backspace)
                FSearchBuffer.pop_back();
            else if (!repeated)
                FSearchBuffer += c;

            PLazyNode origin = start ? start : first();
            PLazyNode run = origin;
            PLazyNode found = nullptr;
            while (run) {
                if (DoIncrementalSearch(run, FSearchBuffer) == 0) {
                    found = run;
                    break;
                }
                run = step(run);
                if (!run) run = first();
                if (run == origin) break;
            }
            if (found) {
                ClearSelection();
                FLastSearchNode = found;
                SetFocusedNode(found);
                AddToSelection(found);
            } else if (origin) {
                Beep(); // nothing begins with what was typed
            }
        }
    }
    if (HandleAllocated()) SetTimer(Handle(), SearchTimer, IncrementalSearchTimeout);
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
