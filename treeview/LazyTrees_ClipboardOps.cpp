// Copy, cut and paste through the clipboard, the tree's native rendering of
// its nodes, and how a tree of this process is found from a data object.

#include "treeview/LazyTrees.h"
#include "treeview/LazyTrees_Globals.h"

#include "platform/ScopeGuard.h"

#include <iterator>
#include <map>
#include <sstream>

namespace nuq {

namespace {

std::mutex referenceLock;
uint32_t nextReference = 1;

std::map<uint32_t, TBaseLazyTree*>& References() {
    static auto* trees = new std::map<uint32_t, TBaseLazyTree*>; // outlives every tree
    return *trees;
}

} // namespace

uint32_t TBaseLazyTree::TreeReference() {
    std::lock_guard<std::mutex> guard(referenceLock);
    if (!FTreeReference) {
        FTreeReference = nextReference++;
        References()[FTreeReference] = this;
    }
    return FTreeReference;
}

TBaseLazyTree* TBaseLazyTree::TreeByReference(uint32_t reference) {
    std::lock_guard<std::mutex> guard(referenceLock);
    auto it = References().find(reference);
    return it == References().end() ? nullptr : it->second;
}

TBaseLazyTree* TBaseLazyTree::GetTreeFromDataObject(IDataObject* data) const {
    if (!data || !TreeReferenceFormat) return nullptr;
    TFormatEtc format;
    format.cfFormat = TreeReferenceFormat;
    TStgMedium medium;
    if (data->GetData(format, medium) != S_OK || medium.tymed != TYMED_HGLOBAL || !medium.hGlobal ||
        medium.hGlobal->size() < 8)
        return nullptr;
    auto word = [&](size_t at) {
        uint32_t v = 0;
        for (size_t i = 0; i < 4; ++i) v |= uint32_t(uint8_t((*medium.hGlobal)[at + i])) << (8 * i);
        return v;
    };
    if (word(0) != GetCurrentProcessId()) return nullptr;
    return TreeByReference(word(4));
}

void TBaseLazyTree::ReleaseClipboardData() {
    if (FClipboardData && OleIsCurrentClipboard(FClipboardData) == S_OK) {
        // What was copied stays on the clipboard after the tree is gone.
        DoStateChange(TS(tsClipboardFlushing));
        OleFlushClipboard();
        DoStateChange(0, TS(tsClipboardFlushing));
    }
    if (FClipboardData) {
        FClipboardData->Detach();
        FClipboardData = nullptr;
    }
    if (FTreeReference) {
        std::lock_guard<std::mutex> guard(referenceLock);
        References().erase(FTreeReference);
        FTreeReference = 0;
    }
}

void TBaseLazyTree::GetNativeClipboardFormats(std::vector<TFormatEtc>& formats) {
    formats.clear();
    if (TClipboardFormatList* list = InternalClipboardFormats()) {
        // An empty name list limits nothing: the tree offers all its class renders.
        const std::vector<std::string>* allowed =
            FClipboardFormats && FClipboardFormats->Count() > 0 ? &FClipboardFormats->Strings()
                                                                : nullptr;
        list->FormatsForClass(ClassType(), formats, allowed);
    }
    DoGetUserClipboardFormats(formats);
}

HRESULT TBaseLazyTree::RenderOLEData(const TFormatEtc& formatEtcIn, TStgMedium& medium,
                                     bool forClipboard) {
    if (formatEtcIn.cfFormat != TreeDataFormat ||
        !(formatEtcIn.tymed & (TYMED_ISTREAM | TYMED_HGLOBAL)))
        return DoRenderOLEData(formatEtcIn, medium, forClipboard);
    std::vector<PLazyNode> nodes =
        forClipboard ? GetSortedCutCopySet(true) : GetSortedSelection(true);
    std::string bytes;
    for (PLazyNode n : nodes) WriteNode(bytes, n);
    medium = TStgMedium{};
    if (formatEtcIn.tymed & TYMED_ISTREAM) {
        medium.tymed = TYMED_ISTREAM;
        medium.pstm = std::make_shared<std::stringstream>(std::move(bytes));
        return S_OK;
    }
    if (bytes.empty()) return E_FAIL;
    medium.tymed = TYMED_HGLOBAL;
    medium.hGlobal = GlobalAlloc(bytes.size() + 4);
    uint32_t size = uint32_t(bytes.size());
    for (size_t i = 0; i < 4; ++i) (*medium.hGlobal)[i] = char(uint8_t(size >> (8 * i)));
    medium.hGlobal->replace(4, bytes.size(), bytes);
    return S_OK;
}

// --- clipboard operations ----------------------------------------------------------------

void TBaseLazyTree::PutOnClipboard(TLazyTreeState pending) {
    // The object the clipboard held for this tree no longer speaks for its marks.
    CancelCutOrCopy();
    FClipboardData = nullptr;
    MarkCutCopyNodes();
    DoStateChange(TS(pending));
    auto data = std::make_shared<TLTDataObject>(this, true);
    FClipboardData = data.get();
    OleSetClipboard(std::move(data));
}

void TBaseLazyTree::CopyToClipboard() {
    if (FSelectionCount == 0) return;
    PutOnClipboard(tsCopyPending);
}

void TBaseLazyTree::CutToClipboard() {
    if (FSelectionCount == 0 || (FOptions->MiscOptions() & toReadOnly)) return;
    PutOnClipboard(tsCutPending);
}

bool TBaseLazyTree::PasteFromClipboard() {
    if (FOptions->MiscOptions() & toReadOnly) return false;
    std::shared_ptr<IDataObject> data;
    if (OleGetClipboard(data) != S_OK || !data) return false;
    TFormatEtc native;
    native.cfFormat = TreeDataFormat;
    if (!TreeDataFormat || data->QueryGetData(native) != S_OK) return false;
    TBaseLazyTree* source = GetTreeFromDataObject(data.get());
    bool isCut = source && source->HasState(tsCutPending);
    if (!ProcessOLEData(source, data.get(), FFocusedNode, DefaultPasteMode, isCut)) return false;
    if (isCut) {
        if (source != this) {
            // The nodes now live here; the tree they were cut from lets them go.
            source->BeginUpdate();
            for (PLazyNode n : source->GetSortedCutCopySet(true)) source->DeleteNode(n);
            source->EndUpdate();
        }
        source->CancelCutOrCopy();
        OleSetClipboard(nullptr);
    }
    return true;
}

bool TBaseLazyTree::ProcessOLEData(TBaseLazyTree* source, IDataObject* data, PLazyNode target,
                                   TLTNodeAttachMode mode, bool optimized) {
    if (!ResolveAttachPlace(target, mode)) return false;
    if (optimized && source == this) {
        // Within one tree a move takes the nodes themselves; one that would go
        // into its own subtree stays where it is.
        std::vector<PLazyNode> nodes =
            HasState(tsCutPending) ? GetSortedCutCopySet(true) : GetSortedSelection(true);
        if (mode == amAddChildFirst || mode == amInsertAfter)
            std::reverse(nodes.begin(), nodes.end());
        {
            TUpdateScope update(*this);
            for (PLazyNode n : nodes) MoveTo(n, target, mode);
        }
        CancelCutOrCopy();
        return true;
    }

    TFormatEtc format;
    format.cfFormat = TreeDataFormat;
    format.tymed = TYMED_ISTREAM | TYMED_HGLOBAL;
    TStgMedium medium;
    if (!data || data->GetData(format, medium) != S_OK) return false;
    std::string bytes;
    if (medium.tymed == TYMED_ISTREAM && medium.pstm) {
        bytes.assign(std::istreambuf_iterator<char>(*medium.pstm),
                     std::istreambuf_iterator<char>());
    } else if (medium.tymed == TYMED_HGLOBAL && medium.hGlobal && medium.hGlobal->size() >= 4) {
        uint32_t size = 0;
        for (size_t i = 0; i < 4; ++i) size |= uint32_t(uint8_t((*medium.hGlobal)[i])) << (8 * i);
        if (size > medium.hGlobal->size() - 4)
            RaiseTreeError(u"Unable to load tree structure, not enough data available.", 2004);
        bytes = medium.hGlobal->substr(4, size);
    } else {
        return false;
    }
    ReleaseStgMedium(medium);
    CheckNodeChunks(bytes, 0, 2, -1);
    if (bytes.empty()) return false;

    TUpdateScope update(*this);
    TNodeReader r{&bytes, 0, bytes.size()};
    while (r.Position < bytes.size()) {
        r.Limit = bytes.size();
        PLazyNode n = InternalAddFromStream(r, 2, target, mode);
        DoNodeCopied(n);
        // The next node follows this one, so the copies keep their order.
        if (mode == amInsertAfter || mode == amAddChildFirst) {
            target = n;
            mode = amInsertAfter;
        }
    }
    return true;
}

} // namespace nuq
