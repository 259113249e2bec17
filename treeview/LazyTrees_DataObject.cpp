// The data object through which a tree offers its nodes to the clipboard and
// to drags, and the enumerator over its formats.

#include "treeview/LazyTrees.h"

namespace nuq {

namespace {

bool SameFormat(const TFormatEtc& a, const TFormatEtc& b) {
    return a.cfFormat == b.cfFormat && a.ptd == b.ptd && a.dwAspect == b.dwAspect &&
           a.lindex == b.lindex && (a.tymed & b.tymed) != 0;
}

} // namespace

TLTDataObject::TLTDataObject(TBaseLazyTree* owner, bool forClipboard)
    : FOwner(owner), FForClipboard(forClipboard) {
    if (FOwner) FOwner->GetNativeClipboardFormats(FFormatEtcArray);
}

TLTDataObject::~TLTDataObject() {
    // The clipboard let go of the nodes: their cut or copy mark goes with it,
    // unless the tree is only handing its data over while it goes.
    if (FOwner && FForClipboard && FOwner->FClipboardData == this) {
        FOwner->FClipboardData = nullptr;
        if (!FOwner->HasState(tsClipboardFlushing)) FOwner->CancelCutOrCopy();
    }
    for (auto& e : FInternalStgMediumArray) ReleaseStgMedium(e.Medium);
}

int TLTDataObject::FindFormatEtc(const TFormatEtc& format) const {
    for (size_t i = 0; i < FFormatEtcArray.size(); ++i)
        if (SameFormat(FFormatEtcArray[i], format)) return int(i);
    return -1;
}

TLTDataObject::TInternalStgMedium* TLTDataObject::FindInternalStgMedium(WORD format) {
    for (auto& e : FInternalStgMediumArray)
        if (e.Format == format) return &e;
    return nullptr;
}

HRESULT TLTDataObject::HGlobalClone(const HGLOBAL& source, HGLOBAL& result) {
    try {
        result = GlobalAlloc(source ? source->size() : 0);
        if (source) result->assign(*source);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

HRESULT TLTDataObject::StgMediumIncRef(const TStgMedium& in, TStgMedium& out, bool copyMedium) {
    TStgMedium result;
    result.tymed = in.tymed;
    result.pUnkForRelease = in.pUnkForRelease;
    switch (in.tymed) {
    case TYMED_HGLOBAL:
        if (copyMedium) {
            HRESULT r = HGlobalClone(in.hGlobal, result.hGlobal);
            if (r != S_OK) return r;
        } else {
            result.hGlobal = in.hGlobal;
            result.pUnkForRelease = shared_from_this();
        }
        break;
    case TYMED_FILE:
        result.lpszFileName = in.lpszFileName;
        break;
    case TYMED_ISTREAM:
        result.pstm = in.pstm;
        break;
    case TYMED_ISTORAGE:
        result.Handle = in.Handle;
        break;
    default:
        if (copyMedium) return DV_E_TYMED;
        result.Handle = in.Handle;
        result.pUnkForRelease = shared_from_this();
    }
    out = std::move(result);
    return S_OK;
}

HRESULT TLTDataObject::GetData(const TFormatEtc& format, TStgMedium& medium) {
    try {
        medium = TStgMedium{};
        if (format.cfFormat && format.cfFormat == TreeReferenceFormat) {
            // Lets a tree of this process find the tree the nodes come from.
            if (!FOwner || FOwner->HasState(tsClipboardFlushing)) return E_FAIL;
            medium.hGlobal = GlobalAlloc(8);
            uint32_t pid = GetCurrentProcessId(), reference = FOwner->TreeReference();
            for (int i = 0; i < 4; ++i) {
                (*medium.hGlobal)[size_t(i)] = char(uint8_t(pid >> (8 * i)));
                (*medium.hGlobal)[size_t(4 + i)] = char(uint8_t(reference >> (8 * i)));
            }
            medium.tymed = TYMED_HGLOBAL;
            return S_OK;
        }
        HRESULT result = QueryGetData(format);
        if (result != S_OK) return result;
        if (TInternalStgMedium* stored = FindInternalStgMedium(format.cfFormat);
            stored && stored->Medium.tymed != TYMED_NULL)
            return StgMediumIncRef(stored->Medium, medium, false);
        if (!FOwner) return E_FAIL; // the tree is gone; only stored data remains
        return FOwner->RenderOLEData(format, medium, FForClipboard);
    } catch (...) {
        return E_FAIL;
    }
}

HRESULT TLTDataObject::GetDataHere(const TFormatEtc&, TStgMedium&) {
    return E_NOTIMPL;
}

HRESULT TLTDataObject::QueryGetData(const TFormatEtc& format) {
    HRESULT result = DV_E_FORMATETC;
    for (const TFormatEtc& f : FFormatEtcArray) {
        if (f.cfFormat != format.cfFormat) continue;
        if (!(f.tymed & format.tymed))
            result = DV_E_TYMED;
        else if (f.dwAspect != format.dwAspect)
            result = DV_E_DVASPECT;
        else if (f.lindex != format.lindex)
            result = DV_E_LINDEX;
        else
            return S_OK;
    }
    return result;
}

HRESULT TLTDataObject::GetCanonicalFormatEtc(const TFormatEtc&, TFormatEtc&) {
    return DATA_S_SAMEFORMATETC;
}

HRESULT TLTDataObject::SetData(const TFormatEtc& format, TStgMedium& medium, bool release) {
    TInternalStgMedium* stored = nullptr;
    if (FindFormatEtc(format) < 0) {
        FFormatEtcArray.push_back(format);
        FInternalStgMediumArray.push_back({format.cfFormat, {}});
        stored = &FInternalStgMediumArray.back();
    } else {
        stored = FindInternalStgMedium(format.cfFormat);
        if (!stored) {
            FInternalStgMediumArray.push_back({format.cfFormat, {}});
            stored = &FInternalStgMediumArray.back();
        }
        ReleaseStgMedium(stored->Medium);
    }
    if (release) {
        stored->Medium = std::move(medium);
        medium = TStgMedium{};
    } else {
        HRESULT r = StgMediumIncRef(medium, stored->Medium, true);
        if (r != S_OK) return r;
    }
    if (FAdviseHolder) FAdviseHolder->SendOnDataChange(this);
    return S_OK;
}

HRESULT TLTDataObject::EnumFormatEtc(DWORD direction, std::shared_ptr<IEnumFORMATETC>& result) {
    result.reset();
    if (direction != DATADIR_GET) return OLE_S_USEREG;
    result = std::make_shared<TEnumFormatEtc>(FOwner, FFormatEtcArray);
    return S_OK;
}

HRESULT TLTDataObject::DAdvise(const TFormatEtc& format, DWORD advf,
                               std::shared_ptr<IAdviseSink> sink, DWORD& connection) {
    if (!FAdviseHolder) FAdviseHolder = std::make_unique<TDataAdviseHolder>();
    return FAdviseHolder->Advise(this, format, advf, std::move(sink), connection);
}

HRESULT TLTDataObject::DUnadvise(DWORD connection) {
    if (!FAdviseHolder) return E_NOTIMPL;
    return FAdviseHolder->Unadvise(connection);
}

HRESULT TLTDataObject::EnumDAdvise(std::vector<DWORD>& connections) {
    if (!FAdviseHolder) return OLE_E_ADVISENOTSUPPORTED;
    return FAdviseHolder->EnumAdvise(connections);
}

// --- format enumerator -------------------------------------------------------------------

HRESULT TEnumFormatEtc::Next(DWORD count, TFormatEtc* formats, DWORD* fetched) {
    DWORD copied = 0;
    while (copied < count && FCurrentIndex < FFormatEtcArray.size())
        formats[copied++] = FFormatEtcArray[FCurrentIndex++];
    if (fetched) *fetched = copied;
    return copied == count ? S_OK : S_FALSE;
}

HRESULT TEnumFormatEtc::Skip(DWORD count) {
    if (FFormatEtcArray.size() - FCurrentIndex < count) return S_FALSE;
    FCurrentIndex += count;
    return S_OK;
}

HRESULT TEnumFormatEtc::Reset() {
    FCurrentIndex = 0;
    return S_OK;
}

HRESULT TEnumFormatEtc::Clone(std::shared_ptr<IEnumFORMATETC>& result) {
    result = std::make_shared<TEnumFormatEtc>(FTree, FFormatEtcArray, FCurrentIndex);
    return S_OK;
}

} // namespace nuq
