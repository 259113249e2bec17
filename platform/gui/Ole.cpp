#include "platform/gui/Ole.h"

#include "platform/Cp1251.h"
#include "platform/gui/Graphics.h"

#include <unistd.h>

#include <istream>
#include <iterator>
#include <mutex>
#include <sstream>

namespace nuq {

HGLOBAL GlobalAlloc(size_t size) {
    return std::make_shared<std::string>(size, '\0');
}

void ReleaseStgMedium(TStgMedium& medium) {
    medium = TStgMedium{};
}

// --- advise holder -------------------------------------------------------------------------

HRESULT TDataAdviseHolder::Advise(IDataObject* data, const TFormatEtc& format, DWORD advf,
                                  std::shared_ptr<IAdviseSink> sink, DWORD& connection) {
    if (!sink) return E_INVALIDARG;
    connection = FNext++;
    FConnections[connection] = TConnection{format, advf, std::move(sink)};
    (void)data;
    return S_OK;
}

HRESULT TDataAdviseHolder::Unadvise(DWORD connection) {
    return FConnections.erase(connection) ? S_OK : E_INVALIDARG;
}

HRESULT TDataAdviseHolder::EnumAdvise(std::vector<DWORD>& connections) const {
    connections.clear();
    for (const auto& c : FConnections) connections.push_back(c.first);
    return S_OK;
}

HRESULT TDataAdviseHolder::SendOnDataChange(IDataObject* data) {
    auto copy = FConnections; // a sink may unadvise while told
    for (auto& [id, c] : copy) {
        TStgMedium medium;
        if (!(c.Advf & ADVF_NODATA) && data && data->GetData(c.Format, medium) != S_OK) continue;
        c.Sink->OnDataChange(c.Format, medium);
    }
    return S_OK;
}

// --- drop targets --------------------------------------------------------------------------

namespace {

std::mutex lock;

std::map<HWND, IDropTarget*>& Targets() {
    static auto* t = new std::map<HWND, IDropTarget*>;
    return *t;
}

} // namespace

HRESULT RegisterDragDrop(HWND wnd, IDropTarget* target) {
    std::lock_guard<std::mutex> guard(lock);
    if (!wnd || !target) return E_FAIL;
    if (Targets().count(wnd)) return DRAGDROP_E_ALREADYREGISTERED;
    Targets()[wnd] = target;
    return S_OK;
}

HRESULT RevokeDragDrop(HWND wnd) {
    std::lock_guard<std::mutex> guard(lock);
    return Targets().erase(wnd) ? S_OK : DRAGDROP_E_NOTREGISTERED;
}

IDropTarget* RegisteredDropTarget(HWND wnd) {
    std::lock_guard<std::mutex> guard(lock);
    auto it = Targets().find(wnd);
    return it == Targets().end() ? nullptr : it->second;
}

bool DragFullWindows() {
    return true;
}

// --- the clipboard -------------------------------------------------------------------------

namespace {

// Formats listed once, each served from its own block of global memory:
// what stays on the clipboard after its first owner flushed it.
class TFormatList : public IEnumFORMATETC {
public:
    TFormatList(std::vector<TFormatEtc> formats, size_t index)
        : FFormats(std::move(formats)), FIndex(index) {}
    HRESULT Next(DWORD count, TFormatEtc* formats, DWORD* fetched) override {
        DWORD n = 0;
        while (n < count && FIndex < FFormats.size()) formats[n++] = FFormats[FIndex++];
        if (fetched) *fetched = n;
        return n == count ? S_OK : S_FALSE;
    }
    HRESULT Skip(DWORD count) override {
        if (FFormats.size() - FIndex < count) return S_FALSE;
        FIndex += count;
        return S_OK;
    }
    HRESULT Reset() override {
        FIndex = 0;
        return S_OK;
    }
    HRESULT Clone(std::shared_ptr<IEnumFORMATETC>& result) override {
        result = std::make_shared<TFormatList>(FFormats, FIndex);
        return S_OK;
    }

private:
    std::vector<TFormatEtc> FFormats;
    size_t FIndex;
};

class TFlushedData : public IDataObject {
public:
    void Add(const TFormatEtc& format, const std::string& bytes) {
        TFormatEtc f = format;
        f.tymed = TYMED_HGLOBAL;
        FEntries.push_back({f, bytes});
    }
    HRESULT GetData(const TFormatEtc& format, TStgMedium& medium) override {
        HRESULT result = QueryGetData(format);
        if (result != S_OK) return result;
        for (const auto& e : FEntries)
            if (e.first.cfFormat == format.cfFormat) {
                medium = TStgMedium{};
                medium.tymed = TYMED_HGLOBAL;
                medium.hGlobal = std::make_shared<std::string>(e.second);
                return S_OK;
            }
        return DV_E_FORMATETC;
    }
    HRESULT GetDataHere(const TFormatEtc&, TStgMedium&) override { return E_NOTIMPL; }
    HRESULT QueryGetData(const TFormatEtc& format) override {
        for (const auto& e : FEntries)
            if (e.first.cfFormat == format.cfFormat)
                return (format.tymed & TYMED_HGLOBAL) ? S_OK : DV_E_TYMED;
        return DV_E_FORMATETC;
    }
    HRESULT GetCanonicalFormatEtc(const TFormatEtc&, TFormatEtc&) override {
        return DATA_S_SAMEFORMATETC;
    }
    HRESULT SetData(const TFormatEtc&, TStgMedium&, bool) override { return E_NOTIMPL; }
    HRESULT EnumFormatEtc(DWORD direction, std::shared_ptr<IEnumFORMATETC>& result) override {
        if (direction != DATADIR_GET) return E_NOTIMPL;
        std::vector<TFormatEtc> formats;
        for (const auto& e : FEntries) formats.push_back(e.first);
        result = std::make_shared<TFormatList>(std::move(formats), 0);
        return S_OK;
    }
    HRESULT DAdvise(const TFormatEtc&, DWORD, std::shared_ptr<IAdviseSink>, DWORD&) override {
        return OLE_E_ADVISENOTSUPPORTED;
    }
    HRESULT DUnadvise(DWORD) override { return OLE_E_ADVISENOTSUPPORTED; }
    HRESULT EnumDAdvise(std::vector<DWORD>&) override { return OLE_E_ADVISENOTSUPPORTED; }

private:
    std::vector<std::pair<TFormatEtc, std::string>> FEntries;
};

struct TClipboard {
    std::recursive_mutex Lock;
    std::shared_ptr<IDataObject> Data;
};

TClipboard& Clipboard() {
    static auto* c = new TClipboard; // outlives every tree
    return *c;
}

std::vector<TFormatEtc> OfferedFormats(IDataObject& data) {
    std::vector<TFormatEtc> result;
    std::shared_ptr<IEnumFORMATETC> e;
    if (data.EnumFormatEtc(DATADIR_GET, e) != S_OK || !e) return result;
    TFormatEtc f;
    DWORD fetched = 0;
    while (e->Next(1, &f, &fetched) == S_OK && fetched == 1) result.push_back(f);
    return result;
}

// The bytes of a format as global memory or a stream holds them; false when
// the object cannot give them.
bool FetchBytes(IDataObject& data, TFormatEtc format, std::string& bytes) {
    format.tymed &= TYMED_HGLOBAL | TYMED_ISTREAM;
    if (!format.tymed) return false;
    TStgMedium medium;
    if (data.GetData(format, medium) != S_OK) return false;
    if (medium.tymed == TYMED_HGLOBAL && medium.hGlobal) {
        bytes = *medium.hGlobal;
    } else if (medium.tymed == TYMED_ISTREAM && medium.pstm) {
        bytes.assign(std::istreambuf_iterator<char>(*medium.pstm),
                     std::istreambuf_iterator<char>());
    } else {
        return false;
    }
    ReleaseStgMedium(medium);
    return true;
}

std::string CutAtZero(const std::string& s) {
    return s.substr(0, s.find('\0'));
}

std::string Utf16BytesToUtf8(const std::string& bytes) {
    std::u16string text;
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
        char16_t c = char16_t(uint8_t(bytes[i]) | uint8_t(bytes[i + 1]) << 8);
        if (!c) break;
        text.push_back(c);
    }
    return Utf16ToUtf8(text);
}

// The HTML of an "HTML Format" block: from its StartHTML offset to EndHTML.
std::string HtmlOfClipboardBlock(const std::string& block) {
    auto offset = [&](const char* key) -> long {
        size_t at = block.find(key);
        if (at == std::string::npos) return -1;
        return std::strtol(block.c_str() + at + std::char_traits<char>::length(key), nullptr, 10);
    };
    long start = offset("StartHTML:"), end = offset("EndHTML:");
    if (start < 0 || end < start || size_t(end) > block.size()) return CutAtZero(block);
    return block.substr(size_t(start), size_t(end - start));
}

void PublishToDesktop(IDataObject* data) {
    if (!SystemClipboardAvailable()) return;
    std::vector<std::pair<std::string, std::string>> mime;
    if (data) {
        bool haveText = false;
        for (const TFormatEtc& f : OfferedFormats(*data)) {
            std::string bytes;
            std::string name = GetClipboardFormatName(f.cfFormat);
            if (f.cfFormat == CF_UNICODETEXT && !haveText && FetchBytes(*data, f, bytes)) {
                mime.emplace_back("text/plain", Utf16BytesToUtf8(bytes));
                haveText = true;
            } else if (f.cfFormat == CF_TEXT && !haveText && FetchBytes(*data, f, bytes)) {
                mime.emplace_back("text/plain", Cp1251ToUtf8(CutAtZero(bytes)));
                haveText = true;
            } else if (name == "HTML Format" && FetchBytes(*data, f, bytes)) {
                mime.emplace_back("text/html", HtmlOfClipboardBlock(bytes));
            } else if (name == "Rich Text Format" && FetchBytes(*data, f, bytes)) {
                mime.emplace_back("text/rtf", CutAtZero(bytes));
            } else if (name == "CSV" && FetchBytes(*data, f, bytes)) {
                mime.emplace_back("text/csv", Cp1251ToUtf8(CutAtZero(bytes))); // CSV is 8-bit text
            }
        }
    }
    SetSystemClipboardData(mime);
}

} // namespace

HRESULT OleSetClipboard(std::shared_ptr<IDataObject> data) {
    auto& c = Clipboard();
    std::shared_ptr<IDataObject> old;
    {
        std::lock_guard<std::recursive_mutex> guard(c.Lock);
        old = std::move(c.Data);
        c.Data = data;
    }
    old.reset(); // the previous owner may react, outside the lock's scope of interest
    PublishToDesktop(data.get());
    return S_OK;
}

HRESULT OleGetClipboard(std::shared_ptr<IDataObject>& data) {
    auto& c = Clipboard();
    std::lock_guard<std::recursive_mutex> guard(c.Lock);
    data = c.Data;
    return S_OK;
}

HRESULT OleFlushClipboard() {
    auto& c = Clipboard();
    std::shared_ptr<IDataObject> current;
    {
        std::lock_guard<std::recursive_mutex> guard(c.Lock);
        current = c.Data;
    }
    if (!current) return S_OK;
    auto flushed = std::make_shared<TFlushedData>();
    for (const TFormatEtc& f : OfferedFormats(*current)) {
        std::string bytes;
        if (FetchBytes(*current, f, bytes)) flushed->Add(f, bytes);
    }
    {
        std::lock_guard<std::recursive_mutex> guard(c.Lock);
        if (c.Data == current) c.Data = flushed;
    }
    current.reset();
    return S_OK;
}

HRESULT OleIsCurrentClipboard(const IDataObject* data) {
    auto& c = Clipboard();
    std::lock_guard<std::recursive_mutex> guard(c.Lock);
    return data && c.Data.get() == data ? S_OK : S_FALSE;
}

void SetClipboardText(const std::u16string& text) {
    std::string bytes;
    for (char16_t c : text) {
        bytes.push_back(char(c & 0xFF));
        bytes.push_back(char(c >> 8));
    }
    bytes.append(2, '\0');
    auto data = std::make_shared<TFlushedData>();
    TFormatEtc format;
    format.cfFormat = CF_UNICODETEXT;
    data->Add(format, bytes);
    OleSetClipboard(data);
}

std::u16string GetClipboardText() {
    std::string utf8;
    if (GetForeignSystemClipboardText(utf8)) return Utf8ToUtf16(utf8);
    std::shared_ptr<IDataObject> data;
    OleGetClipboard(data);
    if (!data) return {};
    std::string bytes;
    TFormatEtc format;
    format.cfFormat = CF_UNICODETEXT;
    if (FetchBytes(*data, format, bytes)) return Utf8ToUtf16(Utf16BytesToUtf8(bytes));
    format.cfFormat = CF_TEXT;
    if (FetchBytes(*data, format, bytes)) return Utf8ToUtf16(Cp1251ToUtf8(CutAtZero(bytes)));
    return {};
}

HRESULT OleInitialize() {
    return S_OK;
}

void OleUninitialize() {}

DWORD GetCurrentProcessId() {
    return DWORD(getpid());
}

// --- drag-image service ---------------------------------------------------------------

namespace {

TDragSourceHelperFactory& DragSourceHelperFactory() {
    static TDragSourceHelperFactory factory;
    return factory;
}

} // namespace

void RegisterDragSourceHelper(TDragSourceHelperFactory factory) {
    DragSourceHelperFactory() = std::move(factory);
}

std::shared_ptr<IDragSourceHelper> CreateDragSourceHelper() {
    auto& factory = DragSourceHelperFactory();
    return factory ? factory() : nullptr;
}

} // namespace nuq
