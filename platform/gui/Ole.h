#pragma once
// The in-process OLE model: storage media, data objects with their format
// enumerators and advise holders, drop sources and targets registered per
// window, and the clipboard, which holds one data object. Interfaces are
// counted by std::shared_ptr.

#include <functional>
#include <iosfwd>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/gui/Clipbrd.h"
#include "platform/gui/Gdi.h"
#include "platform/gui/WinTypes.h"

namespace nuq {

using HRESULT = long;
inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT S_FALSE = 1;
inline constexpr HRESULT E_NOTIMPL = HRESULT(0x80004001);
inline constexpr HRESULT E_FAIL = HRESULT(0x80004005);
inline constexpr HRESULT E_INVALIDARG = HRESULT(0x80070057);
inline constexpr HRESULT E_OUTOFMEMORY = HRESULT(0x8007000E);
inline constexpr HRESULT OLE_E_ADVISENOTSUPPORTED = HRESULT(0x80040003);
inline constexpr HRESULT DV_E_LINDEX = HRESULT(0x80040068);
inline constexpr HRESULT DV_E_TYMED = HRESULT(0x80040069);
inline constexpr HRESULT DV_E_FORMATETC = HRESULT(0x8004006A);
inline constexpr HRESULT DV_E_DVASPECT = HRESULT(0x8004006B);
inline constexpr HRESULT DATA_S_SAMEFORMATETC = HRESULT(0x00040130);
inline constexpr HRESULT OLE_S_USEREG = HRESULT(0x00040000);
inline constexpr HRESULT DRAGDROP_S_DROP = HRESULT(0x00040100);
inline constexpr HRESULT DRAGDROP_S_CANCEL = HRESULT(0x00040101);
inline constexpr HRESULT DRAGDROP_S_USEDEFAULTCURSORS = HRESULT(0x00040102);
inline constexpr HRESULT DRAGDROP_E_NOTREGISTERED = HRESULT(0x80040100);
inline constexpr HRESULT DRAGDROP_E_ALREADYREGISTERED = HRESULT(0x80040101);
inline constexpr HRESULT CLIPBRD_E_CANT_OPEN = HRESULT(0x800401D0);

enum : DWORD { DATADIR_GET = 1, DATADIR_SET = 2 };
enum : DWORD { ADVF_NODATA = 1 };
// Alt in a drag's key state, beside the MK_ mouse flags.
enum : DWORD { MK_ALT = 0x20 };
enum : DWORD { DROPEFFECT_NONE = 0, DROPEFFECT_COPY = 1, DROPEFFECT_MOVE = 2, DROPEFFECT_LINK = 4 };

// A global memory block: its bytes, shared by whoever holds the handle.
using HGLOBAL = std::shared_ptr<std::string>;
HGLOBAL GlobalAlloc(size_t size); // zero-filled

// Data handed between data objects and their users. Only the member that
// Tymed names is set; pUnkForRelease keeps alive what the medium borrows.
struct TStgMedium {
    DWORD tymed = TYMED_NULL;
    HGLOBAL hGlobal;                     // TYMED_HGLOBAL
    std::string lpszFileName;            // TYMED_FILE
    std::shared_ptr<std::iostream> pstm; // TYMED_ISTREAM
    std::shared_ptr<void> Handle;        // storages and drawing handles
    std::shared_ptr<void> pUnkForRelease;
};
void ReleaseStgMedium(TStgMedium& medium);

class IEnumFORMATETC {
public:
    virtual ~IEnumFORMATETC() = default;
    // S_OK when all Count came; Fetched, when given, gets the number copied.
    virtual HRESULT Next(DWORD count, TFormatEtc* formats, DWORD* fetched) = 0;
    virtual HRESULT Skip(DWORD count) = 0;
    virtual HRESULT Reset() = 0;
    virtual HRESULT Clone(std::shared_ptr<IEnumFORMATETC>& result) = 0;
};

class IAdviseSink {
public:
    virtual ~IAdviseSink() = default;
    virtual void OnDataChange(const TFormatEtc& format, const TStgMedium& medium) = 0;
};

class IDataObject {
public:
    virtual ~IDataObject() = default;
    virtual HRESULT GetData(const TFormatEtc& format, TStgMedium& medium) = 0;
    virtual HRESULT GetDataHere(const TFormatEtc& format, TStgMedium& medium) = 0;
    virtual HRESULT QueryGetData(const TFormatEtc& format) = 0;
    virtual HRESULT GetCanonicalFormatEtc(const TFormatEtc& in, TFormatEtc& out) = 0;
    // With Release the object takes Medium over; otherwise it keeps its own copy.
    virtual HRESULT SetData(const TFormatEtc& format, TStgMedium& medium, bool release) = 0;
    virtual HRESULT EnumFormatEtc(DWORD direction, std::shared_ptr<IEnumFORMATETC>& result) = 0;
    virtual HRESULT DAdvise(const TFormatEtc& format, DWORD advf, std::shared_ptr<IAdviseSink> sink,
                            DWORD& connection) = 0;
    virtual HRESULT DUnadvise(DWORD connection) = 0;
    virtual HRESULT EnumDAdvise(std::vector<DWORD>& connections) = 0;
};

// Keeps a data object's advise sinks and tells them of changes.
class TDataAdviseHolder {
public:
    HRESULT Advise(IDataObject* data, const TFormatEtc& format, DWORD advf,
                   std::shared_ptr<IAdviseSink> sink, DWORD& connection);
    HRESULT Unadvise(DWORD connection); // E_INVALIDARG for an unknown connection
    HRESULT EnumAdvise(std::vector<DWORD>& connections) const;
    // Each sink gets the data in its format, unless it asked for no data.
    HRESULT SendOnDataChange(IDataObject* data);

private:
    struct TConnection {
        TFormatEtc Format;
        DWORD Advf;
        std::shared_ptr<IAdviseSink> Sink;
    };
    std::map<DWORD, TConnection> FConnections;
    DWORD FNext = 1;
};

// --- drag and drop -------------------------------------------------------------------------

class IDropSource {
public:
    virtual ~IDropSource() = default;
    virtual HRESULT QueryContinueDrag(bool escapePressed, DWORD keyState) = 0;
    virtual HRESULT GiveFeedback(DWORD effect) = 0;
};

class IDropTarget {
public:
    virtual ~IDropTarget() = default;
    virtual HRESULT DragEnter(IDataObject* data, DWORD keyState, TPoint pt, DWORD& effect) = 0;
    virtual HRESULT DragOver(DWORD keyState, TPoint pt, DWORD& effect) = 0;
    virtual HRESULT DragLeave() = 0;
    virtual HRESULT Drop(IDataObject* data, DWORD keyState, TPoint pt, DWORD& effect) = 0;
};

// 0 on success; a window that already has a target gives DRAGDROP_E_ALREADYREGISTERED.
HRESULT RegisterDragDrop(HWND wnd, IDropTarget* target);
HRESULT RevokeDragDrop(HWND wnd);
IDropTarget* RegisteredDropTarget(HWND wnd); // null when none

// The desktop's drag-image service, which draws the picture of a drag for
// the source. There is none here unless a provider is registered.
struct TShDragImage {
    TPoint DragImageSize;
    TPoint Offset;               // the cursor's place in the picture
    HBITMAP DragImage = nullptr; // the service owns it once it accepts the picture
    COLORREF ColorKey = 0;
};
class IDragSourceHelper {
public:
    virtual ~IDragSourceHelper() = default;
    virtual HRESULT InitializeFromBitmap(const TShDragImage& image, IDataObject* data) = 0;
};
using TDragSourceHelperFactory = std::function<std::shared_ptr<IDragSourceHelper>()>;
void RegisterDragSourceHelper(TDragSourceHelperFactory factory); // empty: none again
std::shared_ptr<IDragSourceHelper> CreateDragSourceHelper();     // null when there is none

// The modal drag loop. It captures the mouse and follows its moves, buttons
// and the Shift, Ctrl, Alt and Escape keys, asks Source whether to go on
// (QueryContinueDrag) and gives it the effect to show (GiveFeedback); when
// the source answers DRAGDROP_S_USEDEFAULTCURSORS the cursor shows the effect
// (the screen's no-drop, drag or multi-drag cursor) until the loop ends. The
// target is the drop target registered for the window under the pointer, or
// for its nearest ancestor; it gets DragEnter, DragOver and DragLeave as the
// pointer moves and Drop when the source says so. Mouse and key messages
// posted meanwhile belong to the loop; everything else is dispatched as usual.
// DRAGDROP_S_DROP with the effect the target chose (limited to OkEffects,
// DROPEFFECT_NONE when it refused), DRAGDROP_S_CANCEL with DROPEFFECT_NONE,
// or E_INVALIDARG without data, source or effects.
HRESULT DoDragDrop(IDataObject* data, IDropSource* source, DWORD okEffects, DWORD& effect);

// Whether windows show their content while dragged; always so here.
bool DragFullWindows();

// --- the clipboard -------------------------------------------------------------------------

// Data replaces what the clipboard held (null empties it). Text, HTML, RTF
// and CSV it offers are also put on the desktop's clipboard when a display exists.
HRESULT OleSetClipboard(std::shared_ptr<IDataObject> data);
HRESULT OleGetClipboard(std::shared_ptr<IDataObject>& data); // S_OK with null when empty
// Renders every format of the held object into global memory and lets the object go.
HRESULT OleFlushClipboard();
HRESULT OleIsCurrentClipboard(const IDataObject* data); // S_OK or S_FALSE
// Plain text on the clipboard (as CF_UNICODETEXT and so on the desktop's);
// read back from the desktop's when another program put text there last.
void SetClipboardText(const std::u16string& text);
std::u16string GetClipboardText();

// The thread's OLE initialisation; always succeeds here.
HRESULT OleInitialize();
void OleUninitialize();

DWORD GetCurrentProcessId();

} // namespace nuq
