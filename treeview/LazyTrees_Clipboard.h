#pragma once
// The clipboard side of the trees: the registry of the formats trees render,
// the formats one tree offers, and the data object and format enumerator that
// carry nodes to the clipboard or a drag.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/gui/Ole.h"
#include "treeview/LazyTrees_Types.h"

namespace nuq {

// --- clipboard format registry -------------------------------------------------------------

struct TClipboardFormatListEntry {
    std::string Description;
    const TTreeClass* TreeClass = nullptr;
    uint32_t Priority = 0;
    TFormatEtc FormatEtc;
};

class TClipboardFormatList {
public:
    ~TClipboardFormatList() { Clear(); }
    void AddFormat(const std::string& description, const TTreeClass* treeClass, uint32_t priority,
                   const TFormatEtc& formatEtc);
    void Clear();
    // The descriptors for TreeClass and its ancestors, in list order; with
    // Allowed, only the names it holds (compared without case).
    void FormatsForClass(const TTreeClass* treeClass, std::vector<TFormatEtc>& formats,
                         const std::vector<std::string>* allowed) const;
    // The class registered under Description (last entry first), null when none.
    const TTreeClass* FindByName(const std::string& description, WORD& format) const;
    const std::vector<std::unique_ptr<TClipboardFormatListEntry>>& Entries() const { return FList; }

private:
    void Sort(int low, int high);
    std::vector<std::unique_ptr<TClipboardFormatListEntry>> FList;
};

struct TClipboardFormatEntry {
    WORD ID;
    const char* Description;
};
extern const TClipboardFormatEntry ClipboardDescriptions[16];

// The process's registry; null until the first registration.
TClipboardFormatList* InternalClipboardFormats();
void FreeClipboardFormatList(); // the next registration makes a new registry
WORD RegisterTreeClipboardFormat(const std::string& description, const TTreeClass* treeClass,
                                 uint32_t priority, DWORD medium = TYMED_HGLOBAL,
                                 void* targetDevice = nullptr, DWORD aspect = DVASPECT_CONTENT,
                                 int index = -1);
void RegisterTreeClipboardFormat(WORD format, const TTreeClass* treeClass, uint32_t priority);

extern WORD TreeReferenceFormat, TreeDataFormat, HtmlFormat, RtfFormat, RtfNoObjectsFormat,
    CsvFormat;

// The names of the formats a tree offers: sorted, no duplicates, only names
// the registry knows for the tree's class.
class TClipboardFormats {
public:
    explicit TClipboardFormats(TBaseLazyTree* owner) : FOwner(owner) {}
    int Add(const std::string& s); // the index, -1 when refused
    void Insert(int index, const std::string& s);
    const std::vector<std::string>& Strings() const { return FStrings; }
    int Count() const { return int(FStrings.size()); }
    void Clear() { FStrings.clear(); }

private:
    bool Accepts(const std::string& s) const;
    TBaseLazyTree* FOwner;
    std::vector<std::string> FStrings;
};

// --- OLE data object and format enumerator -------------------------------------------------------

// The nodes of a tree offered to the clipboard or a drag, in the formats the
// tree renders, plus whatever others set on it. Made with std::make_shared.
class TLTDataObject : public IDataObject, public std::enable_shared_from_this<TLTDataObject> {
public:
    TLTDataObject(TBaseLazyTree* owner, bool forClipboard);
    ~TLTDataObject() override;
    TBaseLazyTree* Owner() const { return FOwner; }
    bool ForClipboard() const { return FForClipboard; }
    const std::vector<TFormatEtc>& FormatEtcArray() const { return FFormatEtcArray; }
    void Detach() { FOwner = nullptr; } // the owner goes; only stored data remains

    HRESULT GetData(const TFormatEtc& format, TStgMedium& medium) override;
    HRESULT GetDataHere(const TFormatEtc& format, TStgMedium& medium) override;
    HRESULT QueryGetData(const TFormatEtc& format) override;
    HRESULT GetCanonicalFormatEtc(const TFormatEtc& in, TFormatEtc& out) override;
    HRESULT SetData(const TFormatEtc& format, TStgMedium& medium, bool release) override;
    HRESULT EnumFormatEtc(DWORD direction, std::shared_ptr<IEnumFORMATETC>& result) override;
    HRESULT DAdvise(const TFormatEtc& format, DWORD advf, std::shared_ptr<IAdviseSink> sink,
                    DWORD& connection) override;
    HRESULT DUnadvise(DWORD connection) override;
    HRESULT EnumDAdvise(std::vector<DWORD>& connections) override;

private:
    struct TInternalStgMedium {
        WORD Format;
        TStgMedium Medium;
    };
    int FindFormatEtc(const TFormatEtc& format) const;
    TInternalStgMedium* FindInternalStgMedium(WORD format);
    HRESULT HGlobalClone(const HGLOBAL& source, HGLOBAL& result);
    HRESULT StgMediumIncRef(const TStgMedium& in, TStgMedium& out, bool copyMedium);

    TBaseLazyTree* FOwner;
    bool FForClipboard;
    std::vector<TFormatEtc> FFormatEtcArray;
    std::vector<TInternalStgMedium> FInternalStgMediumArray;
    std::unique_ptr<TDataAdviseHolder> FAdviseHolder;
};

class TEnumFormatEtc : public IEnumFORMATETC {
public:
    TEnumFormatEtc(TBaseLazyTree* tree, std::vector<TFormatEtc> formats, size_t index = 0)
        : FTree(tree), FFormatEtcArray(std::move(formats)), FCurrentIndex(index) {}
    HRESULT Next(DWORD count, TFormatEtc* formats, DWORD* fetched) override;
    HRESULT Skip(DWORD count) override;
    HRESULT Reset() override;
    HRESULT Clone(std::shared_ptr<IEnumFORMATETC>& result) override;

private:
    TBaseLazyTree* FTree;
    std::vector<TFormatEtc> FFormatEtcArray;
    size_t FCurrentIndex;
};

// Reads node chunks out of a byte block: the position and the end that the
// enclosing chunk (or the data) allows.
struct TNodeReader {
    const std::string* Data = nullptr;
    size_t Position = 0;
    size_t Limit = 0;
    size_t Remaining() const { return Limit - Position; }
    int32_t ReadInt32(); // the caller has made sure four bytes remain
};

enum TLTSTextSourceType { tstAll, tstInitialized, tstSelected, tstCutCopySet, tstVisible };

} // namespace nuq
