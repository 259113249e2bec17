#pragma once
// The basic types of the window layer: handles, message parameters,
// rectangles and points, colour values and the message numbers the system's
// window code is written against.

#include <algorithm>
#include <climits>
#include <cstdint>

namespace nuq {

using UINT = uint32_t;
using DWORD = uint32_t;
using WORD = uint16_t;
using BYTE = uint8_t;
using WPARAM = uintptr_t;
using LPARAM = intptr_t;
using LRESULT = intptr_t;
using COLORREF = uint32_t; // 0x00BBGGRR
using HWND = uint32_t;     // 0 is no window; a handle is never reused

// A coordinate moved by Delta; one that would leave the range of int stops at
// its end.
constexpr int MovedCoord(int coord, int64_t delta) {
    return int(std::clamp<int64_t>(coord + delta, INT_MIN, INT_MAX));
}

struct TPoint {
    int X = 0, Y = 0;
    bool operator==(const TPoint&) const = default;
};

struct TRect {
    int Left = 0, Top = 0, Right = 0, Bottom = 0;
    int Width() const { return MovedCoord(Right, -int64_t(Left)); }
    int Height() const { return MovedCoord(Bottom, -int64_t(Top)); }
    bool IsEmpty() const { return Right <= Left || Bottom <= Top; }
    bool Contains(TPoint p) const {
        return p.X >= Left && p.X < Right && p.Y >= Top && p.Y < Bottom;
    }
    TRect Offset(int64_t dx, int64_t dy) const {
        return {MovedCoord(Left, dx), MovedCoord(Top, dy), MovedCoord(Right, dx),
                MovedCoord(Bottom, dy)};
    }
    bool operator==(const TRect&) const = default;
};

inline TRect Rect(int l, int t, int r, int b) {
    return {l, t, r, b};
}
inline TRect Bounds(int l, int t, int w, int h) {
    return {l, t, MovedCoord(l, w), MovedCoord(t, h)};
}
// Empty when the two do not meet.
inline TRect IntersectRects(const TRect& a, const TRect& b) {
    TRect r{std::max(a.Left, b.Left), std::max(a.Top, b.Top), std::min(a.Right, b.Right),
            std::min(a.Bottom, b.Bottom)};
    return r.IsEmpty() ? TRect{} : r;
}
inline TRect UnionRects(const TRect& a, const TRect& b) {
    if (a.IsEmpty()) return b;
    if (b.IsEmpty()) return a;
    return {std::min(a.Left, b.Left), std::min(a.Top, b.Top), std::max(a.Right, b.Right),
            std::max(a.Bottom, b.Bottom)};
}

constexpr COLORREF RGB(int r, int g, int b) {
    return COLORREF(r & 255) | COLORREF(g & 255) << 8 | COLORREF(b & 255) << 16;
}
constexpr int GetRValue(COLORREF c) {
    return c & 255;
}
constexpr int GetGValue(COLORREF c) {
    return (c >> 8) & 255;
}
constexpr int GetBValue(COLORREF c) {
    return (c >> 16) & 255;
}

constexpr WORD LoWord(uintptr_t v) {
    return WORD(v & 0xFFFF);
}
constexpr WORD HiWord(uintptr_t v) {
    return WORD((v >> 16) & 0xFFFF);
}
constexpr LPARAM MakeLParam(int lo, int hi) {
    return LPARAM(uint32_t(uint16_t(lo)) | uint32_t(uint16_t(hi)) << 16);
}

// A message as a window procedure sees it, with room for the result.
struct TMessage {
    UINT Msg = 0;
    WPARAM WParam = 0;
    LPARAM LParam = 0;
    LRESULT Result = 0;
};

// A queued message as PeekMessage returns it.
struct TMsg {
    HWND Wnd = 0;
    UINT Message = 0;
    WPARAM WParam = 0;
    LPARAM LParam = 0;
    uint32_t Time = 0;
};

// Message numbers.
enum : UINT {
    WM_NULL = 0x0000,
    WM_CREATE = 0x0001,
    WM_DESTROY = 0x0002,
    WM_MOVE = 0x0003,
    WM_SIZE = 0x0005,
    WM_ACTIVATE = 0x0006,
    WM_SETFOCUS = 0x0007,
    WM_KILLFOCUS = 0x0008,
    WM_ENABLE = 0x000A,
    WM_SETREDRAW = 0x000B,
    WM_SETTEXT = 0x000C,
    WM_GETTEXT = 0x000D,
    WM_PAINT = 0x000F,
    WM_CLOSE = 0x0010,
    WM_QUIT = 0x0012,
    WM_ERASEBKGND = 0x0014,
    WM_SYSCOLORCHANGE = 0x0015,
    WM_SHOWWINDOW = 0x0018,
    WM_CANCELMODE = 0x001F,
    WM_SETCURSOR = 0x0020,
    WM_GETMINMAXINFO = 0x0024,
    WM_GETOBJECT = 0x003D,
    WM_WINDOWPOSCHANGED = 0x0047,
    WM_NOTIFY = 0x004E,
    WM_CONTEXTMENU = 0x007B,
    WM_NCCREATE = 0x0081,
    WM_NCDESTROY = 0x0082,
    WM_NCCALCSIZE = 0x0083,
    WM_NCHITTEST = 0x0084,
    WM_NCPAINT = 0x0085,
    WM_GETDLGCODE = 0x0087,
    WM_NCMOUSEMOVE = 0x00A0,
    WM_NCLBUTTONDOWN = 0x00A1,
    WM_NCLBUTTONUP = 0x00A2,
    WM_NCLBUTTONDBLCLK = 0x00A3,
    WM_KEYDOWN = 0x0100,
    WM_KEYUP = 0x0101,
    WM_CHAR = 0x0102,
    WM_SYSKEYDOWN = 0x0104,
    WM_SYSKEYUP = 0x0105,
    WM_SYSCHAR = 0x0106,
    WM_SYSCOMMAND = 0x0112,
    WM_TIMER = 0x0113,
    WM_HSCROLL = 0x0114,
    WM_VSCROLL = 0x0115,
    WM_MOUSEMOVE = 0x0200,
    WM_LBUTTONDOWN = 0x0201,
    WM_LBUTTONUP = 0x0202,
    WM_LBUTTONDBLCLK = 0x0203,
    WM_RBUTTONDOWN = 0x0204,
    WM_RBUTTONUP = 0x0205,
    WM_RBUTTONDBLCLK = 0x0206,
    WM_MBUTTONDOWN = 0x0207,
    WM_MBUTTONUP = 0x0208,
    WM_MBUTTONDBLCLK = 0x0209,
    WM_MOUSEWHEEL = 0x020A,
    WM_XBUTTONDOWN = 0x020B,
    WM_XBUTTONUP = 0x020C,
    WM_XBUTTONDBLCLK = 0x020D,
    WM_MOUSEHWHEEL = 0x020E,
    WM_CAPTURECHANGED = 0x0215,
    WM_NCMOUSELEAVE = 0x02A2,
    WM_MOUSELEAVE = 0x02A3,
    WM_CUT = 0x0300,
    WM_COPY = 0x0301,
    WM_PASTE = 0x0302,
    WM_PRINTCLIENT = 0x0318,
    WM_THEMECHANGED = 0x031A,
    WM_USER = 0x0400,
    WM_APP = 0x8000,
};

// The range of keyboard messages.
enum : UINT { WM_KEYFIRST = 0x0100, WM_KEYLAST = 0x0108 };

// Window styles.
enum : DWORD {
    WS_CHILD = 0x40000000,
    WS_VISIBLE = 0x10000000,
    WS_DISABLED = 0x08000000,
    WS_CLIPSIBLINGS = 0x04000000,
    WS_CLIPCHILDREN = 0x02000000,
    WS_BORDER = 0x00800000,
    WS_VSCROLL = 0x00200000,
    WS_HSCROLL = 0x00100000,
    WS_TABSTOP = 0x00010000,
    WS_POPUP = 0x80000000,
    WS_CAPTION = 0x00C00000,
    WS_EX_CLIENTEDGE = 0x00000200,
    WS_EX_LAYOUTRTL = 0x00400000,
};

// Mouse-message key flags (WParam); the side buttons' messages name theirs in the high word.
enum : WPARAM {
    MK_LBUTTON = 1,
    MK_RBUTTON = 2,
    MK_SHIFT = 4,
    MK_CONTROL = 8,
    MK_MBUTTON = 16,
    MK_XBUTTON1 = 32,
    MK_XBUTTON2 = 64,
};
enum : WORD { XBUTTON1 = 1, XBUTTON2 = 2 };

// Flags of a key message's key data, in its high word (its low word is the repeat count).
enum : WORD { KF_ALTDOWN = 0x2000, KF_REPEAT = 0x4000, KF_UP = 0x8000 };

// Virtual key codes (WParam of the key messages).
enum : int {
    VK_BACK = 0x08,
    VK_TAB = 0x09,
    VK_RETURN = 0x0D,
    VK_SHIFT = 0x10,
    VK_CONTROL = 0x11,
    VK_MENU = 0x12,
    VK_ESCAPE = 0x1B,
    VK_SPACE = 0x20,
    VK_PRIOR = 0x21,
    VK_NEXT = 0x22,
    VK_END = 0x23,
    VK_HOME = 0x24,
    VK_LEFT = 0x25,
    VK_UP = 0x26,
    VK_RIGHT = 0x27,
    VK_DOWN = 0x28,
    VK_INSERT = 0x2D,
    VK_DELETE = 0x2E,
    VK_APPS = 0x5D,
    VK_MULTIPLY = 0x6A,
    VK_ADD = 0x6B,
    VK_SUBTRACT = 0x6D,
    VK_DIVIDE = 0x6F,
    VK_F1 = 0x70,
    VK_F2 = 0x71,
};

// Answers of WM_GETDLGCODE: the keys a window keeps from the focus moves.
enum : LRESULT {
    DLGC_WANTARROWS = 0x01,
    DLGC_WANTTAB = 0x02,
    DLGC_WANTALLKEYS = 0x04,
    DLGC_WANTCHARS = 0x80
};

// Hit-test answers of WM_NCHITTEST.
enum : LRESULT {
    HTERROR = -2,
    HTTRANSPARENT = -1,
    HTNOWHERE = 0,
    HTCLIENT = 1,
    HTCAPTION = 2,
    HTSYSMENU = 3,
    HTGROWBOX = 4,
    HTMENU = 5,
    HTHSCROLL = 6,
    HTVSCROLL = 7,
    HTMINBUTTON = 8,
    HTMAXBUTTON = 9,
    HTSIZEFIRST = 10, // the sizing border, HTLEFT to HTBOTTOMRIGHT
    HTLEFT = 10,
    HTRIGHT = 11,
    HTTOP = 12,
    HTTOPLEFT = 13,
    HTTOPRIGHT = 14,
    HTBOTTOM = 15,
    HTBOTTOMLEFT = 16,
    HTBOTTOMRIGHT = 17,
    HTSIZELAST = 17,
    HTBORDER = 18,
    HTCLOSE = 20,
    HTHELP = 21,
};

// Colour value constants of the runtime: a system colour has the top byte
// set and its index in the low byte.
using TColor = int32_t;
inline constexpr TColor clSystemColor = int32_t(0xFF000000);
inline constexpr TColor clNone = 0x1FFFFFFF;
inline constexpr TColor clDefault = 0x20000000;
inline constexpr TColor clBlack = 0x000000, clMaroon = 0x000080, clGreen = 0x008000,
                        clOlive = 0x008080, clNavy = 0x800000, clPurple = 0x800080,
                        clTeal = 0x808000, clGray = 0x808080, clSilver = 0xC0C0C0, clRed = 0x0000FF,
                        clLime = 0x00FF00, clYellow = 0x00FFFF, clBlue = 0xFF0000,
                        clFuchsia = 0xFF00FF, clAqua = 0xFFFF00, clWhite = 0xFFFFFF;
enum : int {
    COLOR_SCROLLBAR = 0,
    COLOR_BACKGROUND = 1,
    COLOR_ACTIVECAPTION = 2,
    COLOR_INACTIVECAPTION = 3,
    COLOR_MENU = 4,
    COLOR_WINDOW = 5,
    COLOR_WINDOWFRAME = 6,
    COLOR_MENUTEXT = 7,
    COLOR_WINDOWTEXT = 8,
    COLOR_CAPTIONTEXT = 9,
    COLOR_ACTIVEBORDER = 10,
    COLOR_INACTIVEBORDER = 11,
    COLOR_APPWORKSPACE = 12,
    COLOR_HIGHLIGHT = 13,
    COLOR_HIGHLIGHTTEXT = 14,
    COLOR_BTNFACE = 15,
    COLOR_BTNSHADOW = 16,
    COLOR_GRAYTEXT = 17,
    COLOR_BTNTEXT = 18,
    COLOR_INACTIVECAPTIONTEXT = 19,
    COLOR_BTNHIGHLIGHT = 20,
    COLOR_3DDKSHADOW = 21,
    COLOR_3DLIGHT = 22,
    COLOR_INFOTEXT = 23,
    COLOR_INFOBK = 24,
    COLOR_HOTLIGHT = 26,
};
inline constexpr TColor clWindow = clSystemColor | COLOR_WINDOW;
inline constexpr TColor clWindowText = clSystemColor | COLOR_WINDOWTEXT;
inline constexpr TColor clBtnFace = clSystemColor | COLOR_BTNFACE;
inline constexpr TColor clBtnShadow = clSystemColor | COLOR_BTNSHADOW;
inline constexpr TColor clBtnText = clSystemColor | COLOR_BTNTEXT;
inline constexpr TColor clBtnHighlight = clSystemColor | COLOR_BTNHIGHLIGHT;
inline constexpr TColor clHighlight = clSystemColor | COLOR_HIGHLIGHT;
inline constexpr TColor clHighlightText = clSystemColor | COLOR_HIGHLIGHTTEXT;
inline constexpr TColor clGrayText = clSystemColor | COLOR_GRAYTEXT;
inline constexpr TColor cl3DDkShadow = clSystemColor | COLOR_3DDKSHADOW;
inline constexpr TColor cl3DLight = clSystemColor | COLOR_3DLIGHT;
inline constexpr TColor clInfoText = clSystemColor | COLOR_INFOTEXT;
inline constexpr TColor clInfoBk = clSystemColor | COLOR_INFOBK;

// The system colours: the classic scheme until SetSysColors (Windows.h)
// changes them, as a change of the desktop's colours does.
COLORREF GetSysColor(int index);
// A colour value as red-green-blue, system colours resolved; clNone and
// clDefault come back unchanged.
COLORREF ColorToRGB(TColor color);

// System metrics the code asks for.
enum : int {
    SM_CXVSCROLL = 2,
    SM_CYHSCROLL = 3,
    SM_CXBORDER = 5,
    SM_CYBORDER = 6,
    SM_CXEDGE = 45,
    SM_CYEDGE = 46,
    SM_CXDRAG = 68,
    SM_CYDRAG = 69,
    SM_CXMENUCHECK = 71,
    SM_CYMENUCHECK = 72,
};
int GetSystemMetrics(int index);

// Lines a wheel notch scrolls, as the desktop sets it (3 until a host says);
// WHEEL_PAGESCROLL: a page a notch.
inline constexpr unsigned WHEEL_PAGESCROLL = 0xFFFFFFFFu;
unsigned GetWheelScrollLines();
void SetWheelScrollLines(unsigned lines);

} // namespace nuq
