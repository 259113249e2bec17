#pragma once
// Device contexts and drawing objects over 32-bit pixel buffers.
//
// A bitmap is a top-down buffer of 32-bit pixels (bytes blue, green, red,
// fourth); a monochrome bitmap keeps the same layout with only black and
// white pixels. A device context draws into the bitmap selected into it, or
// into a window's image. Copies run our own raster operations pixel by
// pixel; lines, shapes and text are drawn without antialiasing, so every
// result is exact to the pixel. Coordinates are logical: device = logical -
// window origin + viewport origin.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/gui/WinTypes.h"

namespace nuq {

class TDeviceContext;
using HDC = TDeviceContext*;

// Every drawing object is known while it lives, so a stale handle given back
// to SelectObject (one its owner deleted meanwhile) is refused, not followed.
class TGdiObject {
public:
    TGdiObject();
    TGdiObject(const TGdiObject&);
    TGdiObject& operator=(const TGdiObject&) = default;
    virtual ~TGdiObject();
};
bool IsGdiObject(const TGdiObject* object);
using HGDIOBJ = TGdiObject*;

enum : int { PS_SOLID = 0, PS_DASH = 1, PS_DOT = 2, PS_NULL = 5, PS_INSIDEFRAME = 6 };
class TPenObject : public TGdiObject {
public:
    int Style = PS_SOLID;
    int Width = 1;
    COLORREF Color = 0;
};
using HPEN = TPenObject*;

enum : int { BS_SOLID = 0, BS_NULL = 1, BS_PATTERN = 3 };
class TBitmapObject;
class TBrushObject : public TGdiObject {
public:
    int Style = BS_SOLID;
    COLORREF Color = 0;
    std::vector<uint32_t> Pattern; // 8 x 8 pixels for BS_PATTERN
    bool MonoPattern = false;      // pattern pixels are text (0) / background (1) colour
};
using HBRUSH = TBrushObject*;

class TFontObject : public TGdiObject {
public:
    std::string Face = "DejaVu Sans";
    int Height = -11; // negative: character height in pixels; positive: cell height
    int Weight = 400;
    bool Italic = false, Underline = false, StrikeOut = false;
};
using HFONT = TFontObject*;

class TBitmapObject : public TGdiObject {
public:
    TBitmapObject(int width, int height, int bitsPerPixel);
    int Width, Height;
    int BitsPerPixel;           // 1 or 32
    std::vector<uint32_t> Bits; // top-down, Width * Height
    TDeviceContext* SelectedInto = nullptr;
    uint32_t* Scanline(int y) { return Bits.data() + size_t(y) * Width; }
};
using HBITMAP = TBitmapObject*;

class TPaletteObject : public TGdiObject {};
using HPALETTE = TPaletteObject*;

// A region is a set of rectangles without overlap, in device pixels.
class TRegionObject : public TGdiObject {
public:
    std::vector<TRect> Rects;
};
using HRGN = TRegionObject*;

HPEN CreatePen(int style, int width, COLORREF color);
HBRUSH CreateSolidBrush(COLORREF color);
// An 8 x 8 pattern from the top-left of Bitmap; a monochrome one is drawn in
// the context's text and background colours.
HBRUSH CreatePatternBrush(HBITMAP bitmap);
HFONT CreateFontIndirect(const TFontObject& font);
HBITMAP CreateBitmap(int width, int height, int bitsPerPixel); // zero-filled (black)
HBITMAP CreateCompatibleBitmap(HDC dc, int width, int height);
HRGN CreateRectRgn(int left, int top, int right, int bottom);
enum : int { RGN_AND = 1, RGN_OR = 2, RGN_XOR = 3, RGN_DIFF = 4, RGN_COPY = 5 };
// Dest becomes A combined with B by Mode (B is not read for RGN_COPY); the
// kind of region that results.
int CombineRgn(HRGN dest, HRGN a, HRGN b, int mode);
bool DeleteObject(HGDIOBJ object); // a bitmap selected into a context is not deleted
enum : int {
    WHITE_BRUSH = 0,
    BLACK_BRUSH = 4,
    NULL_BRUSH = 5,
    WHITE_PEN = 6,
    BLACK_PEN = 7,
    NULL_PEN = 8,
    DEFAULT_GUI_FONT = 17
};
HGDIOBJ GetStockObject(int index);

// Pixel memory of a bitmap as a section: the base address of row 0 and the
// height, negative for a top-down layout (ours always is).
struct TBitmapInfo {
    int Width = 0, Height = 0, BitsPerPixel = 0;
    void* Bits = nullptr;
};
bool GetBitmapInfo(HBITMAP bitmap, TBitmapInfo& info);

HDC CreateCompatibleDC(HDC dc); // dc may be null; starts with a 1 x 1 monochrome bitmap
bool DeleteDC(HDC dc);
HGDIOBJ SelectObject(HDC dc, HGDIOBJ object); // returns the previous object of that kind
HGDIOBJ GetCurrentObject(HDC dc, int kind);
enum : int { OBJ_PEN = 1, OBJ_BRUSH = 2, OBJ_FONT = 6, OBJ_BITMAP = 7 };
HPALETTE SelectPalette(HDC dc, HPALETTE palette, bool background); // a palette changes nothing here
UINT RealizePalette(HDC dc);

int SaveDC(HDC dc);                // the new depth
bool RestoreDC(HDC dc, int saved); // saved < 0: that many levels back
COLORREF SetBkColor(HDC dc, COLORREF color);
COLORREF GetBkColor(HDC dc);
COLORREF SetTextColor(HDC dc, COLORREF color);
COLORREF GetTextColor(HDC dc);
enum : int { TRANSPARENT = 1, OPAQUE = 2 };
int SetBkMode(HDC dc, int mode);
enum : int { R2_BLACK = 1, R2_NOT = 6, R2_XORPEN = 7, R2_COPYPEN = 13, R2_WHITE = 16 };
int SetROP2(HDC dc, int mode);
enum : int { BLACKONWHITE = 1, WHITEONBLACK = 2, COLORONCOLOR = 3, HALFTONE = 4 };
int SetStretchBltMode(HDC dc, int mode);
int GetStretchBltMode(HDC dc);
enum : int { MM_TEXT = 1 };
int SetMapMode(HDC dc, int mode);
int GetMapMode(HDC dc);
enum : UINT {
    TA_LEFT = 0,
    TA_RIGHT = 2,
    TA_CENTER = 6,
    TA_TOP = 0,
    TA_BOTTOM = 8,
    TA_BASELINE = 24,
    TA_RTLREADING = 256
};
UINT SetTextAlign(HDC dc, UINT align);
UINT GetTextAlign(HDC dc);
bool SetWindowOrgEx(HDC dc, int x, int y, TPoint* old = nullptr);
bool GetWindowOrgEx(HDC dc, TPoint& org);
bool SetViewportOrgEx(HDC dc, int x, int y, TPoint* old = nullptr);
bool GetViewportOrgEx(HDC dc, TPoint& org);
bool SetBrushOrgEx(HDC dc, int x, int y, TPoint* old = nullptr);

// Clipping, in logical coordinates at the time of the call.
enum : int { NULLREGION = 1, SIMPLEREGION = 2, COMPLEXREGION = 3, RGN_ERROR = 0 };
int IntersectClipRect(HDC dc, int left, int top, int right, int bottom);
int ExcludeClipRect(HDC dc, int left, int top, int right, int bottom);
int SelectClipRgn(HDC dc, HRGN region); // device coordinates; null removes the clip
int GetClipBox(HDC dc, TRect& box);     // logical

// Ternary raster operations.
enum : DWORD {
    SRCCOPY = 0x00CC0020,
    SRCPAINT = 0x00EE0086,
    SRCAND = 0x008800C6,
    SRCINVERT = 0x00660046,
    SRCERASE = 0x00440328,
    NOTSRCCOPY = 0x00330008,
    NOTSRCERASE = 0x001100A6,
    MERGECOPY = 0x00C000CA,
    MERGEPAINT = 0x00BB0226,
    PATCOPY = 0x00F00021,
    PATPAINT = 0x00FB0A09,
    PATINVERT = 0x005A0049,
    DSTINVERT = 0x00550009,
    BLACKNESS = 0x00000042,
    WHITENESS = 0x00FF0062,
};
bool BitBlt(HDC dest, int x, int y, int width, int height, HDC src, int srcX, int srcY, DWORD rop);
bool StretchBlt(HDC dest, int x, int y, int width, int height, HDC src, int srcX, int srcY,
                int srcWidth, int srcHeight, DWORD rop);
bool PatBlt(HDC dc, int x, int y, int width, int height, DWORD rop);

enum : COLORREF { CLR_INVALID = 0xFFFFFFFF };
COLORREF GetPixel(HDC dc, int x, int y);
COLORREF SetPixel(HDC dc, int x, int y, COLORREF color);

int FillRect(HDC dc, const TRect& r, HBRUSH brush);
int FrameRect(HDC dc, const TRect& r, HBRUSH brush);
bool InvertRect(HDC dc, const TRect& r);
bool Rectangle(HDC dc, int left, int top, int right, int bottom); // pen outline, brush inside
bool Ellipse(HDC dc, int left, int top, int right, int bottom);
// Corners are quarter ellipses of the given width and height.
bool RoundRect(HDC dc, int left, int top, int right, int bottom, int width, int height);
bool MoveToEx(HDC dc, int x, int y, TPoint* old = nullptr);
bool LineTo(HDC dc, int x, int y); // the end point is not drawn
bool Polygon(HDC dc, const TPoint* points, int count);
bool Polyline(HDC dc, const TPoint* points, int count);
bool DrawFocusRect(HDC dc, const TRect& r); // dotted, exclusive-or

// Text. Wide texts are UTF-16.
struct TTextMetric {
    int Height = 0, Ascent = 0, Descent = 0, AveCharWidth = 0, MaxCharWidth = 0;
};
bool GetTextMetrics(HDC dc, TTextMetric& tm);
bool GetTextExtentPoint32W(HDC dc, const char16_t* text, int count, TPoint& size);
enum : UINT { ETO_OPAQUE = 2, ETO_CLIPPED = 4, ETO_RTLREADING = 128 };
bool ExtTextOutW(HDC dc, int x, int y, UINT options, const TRect* r, const char16_t* text,
                 int count);
bool TextOutW(HDC dc, int x, int y, const char16_t* text, int count);
enum : UINT {
    DT_LEFT = 0,
    DT_CENTER = 1,
    DT_RIGHT = 2,
    DT_VCENTER = 4,
    DT_BOTTOM = 8,
    DT_WORDBREAK = 0x10,
    DT_SINGLELINE = 0x20,
    DT_EXPANDTABS = 0x40,
    DT_NOCLIP = 0x100,
    DT_CALCRECT = 0x400,
    DT_NOPREFIX = 0x800,
    DT_END_ELLIPSIS = 0x8000,
    DT_RTLREADING = 0x20000,
};
int DrawTextW(HDC dc, const char16_t* text, int count, TRect& r, UINT format); // the text height

// Classic 3-D edges and frame controls, from the system colours.
enum : UINT {
    BDR_RAISEDOUTER = 1,
    BDR_SUNKENOUTER = 2,
    BDR_RAISEDINNER = 4,
    BDR_SUNKENINNER = 8,
    EDGE_RAISED = 5,
    EDGE_SUNKEN = 10,
    EDGE_ETCHED = 6,
    EDGE_BUMP = 9,
    BF_LEFT = 1,
    BF_TOP = 2,
    BF_RIGHT = 4,
    BF_BOTTOM = 8,
    BF_RECT = 15,
    BF_MIDDLE = 0x800,
    BF_SOFT = 0x1000,
    BF_ADJUST = 0x2000,
    BF_FLAT = 0x4000,
    BF_MONO = 0x8000,
};
bool DrawEdge(HDC dc, TRect& r, UINT edge, UINT flags);
enum : UINT {
    DFC_BUTTON = 4,
    DFCS_BUTTONCHECK = 0,
    DFCS_BUTTONRADIO = 4,
    DFCS_BUTTON3STATE = 8,
    DFCS_BUTTONPUSH = 0x10,
    DFCS_INACTIVE = 0x100,
    DFCS_PUSHED = 0x200,
    DFCS_CHECKED = 0x400,
    DFCS_FLAT = 0x4000,
    DFCS_MONO = 0x8000,
    DFCS_HOT = 0x1000,
};
bool DrawFrameControl(HDC dc, const TRect& r, UINT type, UINT state);

// The bitmap a context draws into (null for a window's context).
HBITMAP GetDCBitmap(HDC dc);

// Starts the GUI toolkit once when needed (fonts); without a display it runs
// offscreen. Safe to call repeatedly.
void EnsureGuiToolkit();

} // namespace nuq
