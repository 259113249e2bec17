#pragma once
// Windows of our own: handles with a replaceable window procedure, styles,
// parent and owner, a client and a non-client area, posted and sent
// messages, per-window timers, capture, focus, invalidation and painting.
//
// Every window belongs to the main thread (platform/EventLoop.h) and its
// procedure runs there. PostMessage and SendMessage work from any thread: a
// message sent from another thread waits for the main thread's next message
// pass (or a PeekMessage there) and returns the procedure's result, or 0 when
// the window is gone or is destroyed before it handles the message. Posted
// messages are dispatched by the loop's passes in order; WM_PAINT is made for
// windows with an update region once no posted message is waiting.
//
// Each window has an image of its whole size; a device context from GetDC or
// BeginPaint draws into its client part. A top-level window is shown by a
// host (platform/gui/WindowHost.h); tests read the image instead.

#include <functional>
#include <string>
#include <vector>

#include "platform/gui/Gdi.h"
#include "platform/gui/WinTypes.h"

namespace nuq {

using TWndProcFn = std::function<LRESULT(HWND, UINT, WPARAM, LPARAM)>;
// A window procedure; Owner tells who installed it, so a subclasser can see
// whether the window still has its procedure.
struct TWindowProc {
    TWndProcFn Call;
    const void* Owner = nullptr;
    explicit operator bool() const { return bool(Call); }
};

// Class styles: a window with CS_HREDRAW (CS_VREDRAW) is repainted whole
// when its client width (height) changes; without, a resize keeps the
// client's pixels and invalidates only the part it uncovers.
enum : UINT { CS_VREDRAW = 1, CS_HREDRAW = 2 };

struct TCreateParams {
    std::string ClassName;
    std::string Caption;
    DWORD Style = 0, ExStyle = 0;
    int X = 0, Y = 0, Width = 0, Height = 0;
    HWND Parent = 0;
    TWindowProc Proc; // empty: DefWindowProc
    void* Param = nullptr;
    UINT ClassStyle = 0; // CS_...
};

// The window's shape: only the region's pixels (window coordinates) show. The
// window takes the region; a null one gives back the whole rectangle.
int SetWindowRgn(HWND wnd, HRGN region, bool redraw);
// Copies the shape into Region; RGN_ERROR when the window has none.
int GetWindowRgn(HWND wnd, HRGN region);

// Creates the window: WM_NCCREATE, WM_NCCALCSIZE, WM_CREATE (LParam points
// to the parameters). 0 when WM_NCCREATE answers 0 or WM_CREATE answers -1.
HWND CreateWindowEx(const TCreateParams& params);
// WM_DESTROY to the window and then its children, WM_NCDESTROY, then the
// handle is gone. Messages posted to it are dropped; senders waiting on
// other threads get 0.
bool DestroyWindow(HWND wnd);
bool IsWindow(HWND wnd); // safe from any thread
HWND GetParent(HWND wnd);

// The window's procedure, and replacing it (returns the one before).
TWindowProc GetWindowProc(HWND wnd);
TWindowProc SetWindowProc(HWND wnd, TWindowProc proc);
LRESULT CallWindowProc(const TWindowProc& proc, HWND wnd, UINT msg, WPARAM w, LPARAM l);
// The default handling: painting, erasing, non-client size and painting,
// hit tests, WM_SETREDRAW, WM_CLOSE (destroys), WM_PRINTCLIENT.
LRESULT DefWindowProc(HWND wnd, UINT msg, WPARAM w, LPARAM l);

LRESULT SendMessage(HWND wnd, UINT msg, WPARAM w, LPARAM l);
bool PostMessage(HWND wnd, UINT msg, WPARAM w, LPARAM l); // false for no window
// PostMessage with window 0 on the main thread: a WM_QUIT for the next GetMessage.
void PostQuitMessage(int exitCode);
enum : UINT { PM_NOREMOVE = 0, PM_REMOVE = 1 };
// The first posted message for Wnd (0: any window) within Min..Max (both 0:
// any). Messages sent from other threads are handled first, as the
// original's peek does.
bool PeekMessage(TMsg& msg, HWND wnd, UINT min, UINT max, UINT remove);
LRESULT DispatchMessage(const TMsg& msg);

enum : int { GWL_STYLE = -16, GWL_EXSTYLE = -20, GWLP_USERDATA = -21, GWLP_ID = -12 };
intptr_t GetWindowLongPtr(HWND wnd, int index);
intptr_t SetWindowLongPtr(HWND wnd, int index,
                          intptr_t value); // styles: call SetWindowPos with SWP_FRAMECHANGED

std::string GetWindowText(HWND wnd);
void SetWindowText(HWND wnd, const std::string& text);

// Geometry. A window rectangle is in its parent's client coordinates (screen
// for a top-level window); a client rectangle starts at 0, 0.
bool GetWindowRect(HWND wnd, TRect& r);
bool GetClientRect(HWND wnd, TRect& r);
// Where the client area lies within the window.
TPoint ClientOrigin(HWND wnd);
enum : UINT {
    SWP_NOSIZE = 1,
    SWP_NOMOVE = 2,
    SWP_NOZORDER = 4,
    SWP_NOREDRAW = 8,
    SWP_FRAMECHANGED = 0x20
};
// No window is wider or higher than this: each one keeps an image of its
// whole size, and a damaged stored size must not ask for gigabytes.
inline constexpr int MaxWindowExtent = 8192;
bool SetWindowPos(HWND wnd, int x, int y, int width, int height, UINT flags);
bool MoveWindow(HWND wnd, int x, int y, int width, int height, bool repaint);
enum : int { SW_HIDE = 0, SW_SHOW = 5 };
// WM_SHOWWINDOW (WParam 1 shown, 0 hidden) goes first when visibility changes.
bool ShowWindow(HWND wnd, int cmd);
bool IsWindowVisible(HWND wnd);
bool EnableWindow(HWND wnd, bool enable);
bool IsWindowEnabled(HWND wnd);

// Timers: WM_TIMER with the id in WParam, from the loop's passes.
bool SetTimer(HWND wnd, uintptr_t id, UINT ms);
bool KillTimer(HWND wnd, uintptr_t id);

HWND SetCapture(HWND wnd);
bool ReleaseCapture();
HWND GetCapture();
HWND SetFocus(HWND wnd); // WM_KILLFOCUS to the old one, WM_SETFOCUS to the new
HWND GetFocus();

// Invalidation and painting; rectangles are client coordinates, null for all.
bool InvalidateRect(HWND wnd, const TRect* r, bool erase);
bool ValidateRect(HWND wnd, const TRect* r);
bool GetUpdateRect(HWND wnd, TRect& r, bool erase); // false when nothing is invalid
bool UpdateWindow(HWND wnd);                        // WM_PAINT now when something is invalid
enum : UINT {
    RDW_INVALIDATE = 1,
    RDW_ERASE = 4,
    RDW_FRAME = 0x400,
    RDW_UPDATENOW = 0x100,
    RDW_NOCHILDREN = 0x40
};
bool RedrawWindow(HWND wnd, const TRect* r, UINT flags);
struct TPaintStruct {
    HDC DC = nullptr;
    bool Erase = false;
    TRect Paint;
};
HDC BeginPaint(HWND wnd, TPaintStruct& ps); // clipped to the update region, which it validates
void EndPaint(HWND wnd, const TPaintStruct& ps);
HDC GetDC(HWND wnd);       // the client area; 0: the screen
HDC GetWindowDC(HWND wnd); // the whole window
int ReleaseDC(HWND wnd, HDC dc);
// The window's image (whole window); null for no window.
HBITMAP GetWindowImage(HWND wnd);
// Counts the drawing contexts handed out, so a host knows when to show the images again.
uint64_t WindowPaintGeneration();
// The windows without a parent, in order of making.
std::vector<HWND> GetTopLevelWindows();
// Sets the system colours Elements[i] (COLOR_...) to Values[i], then sends
// WM_SYSCOLORCHANGE to every top-level window and repaints every window.
// False, changing nothing, for an unknown index. Main thread.
bool SetSysColors(int count, const int* elements, const COLORREF* values);
// The children of a window, bottom first.
std::vector<HWND> GetChildWindows(HWND wnd);

// Number * Numerator / Denominator with a 64-bit product, rounded half away
// from zero; -1 for a zero denominator or a result beyond 32 bits.
int MulDiv(int number, int numerator, int denominator);

// Scroll bars drawn and kept by the layer.
enum : int { SB_HORZ = 0, SB_VERT = 1 };
// Scroll codes of WM_HSCROLL / WM_VSCROLL (low word of WParam).
enum : int {
    SB_LINEUP = 0,
    SB_LINELEFT = 0,
    SB_LINEDOWN = 1,
    SB_LINERIGHT = 1,
    SB_PAGEUP = 2,
    SB_PAGELEFT = 2,
    SB_PAGEDOWN = 3,
    SB_PAGERIGHT = 3,
    SB_THUMBPOSITION = 4,
    SB_THUMBTRACK = 5,
    SB_TOP = 6,
    SB_LEFT = 6,
    SB_BOTTOM = 7,
    SB_RIGHT = 7,
    SB_ENDSCROLL = 8,
};
enum : UINT { SIF_RANGE = 1, SIF_PAGE = 2, SIF_POS = 4, SIF_TRACKPOS = 16, SIF_ALL = 23 };
struct TScrollInfo {
    UINT Mask = SIF_ALL;
    int Min = 0, Max = 0;
    UINT Page = 0;
    int Pos = 0, TrackPos = 0;
};
int SetScrollInfo(HWND wnd, int bar, const TScrollInfo& info, bool redraw); // the new position
bool GetScrollInfo(HWND wnd, int bar, TScrollInfo& info);
bool ShowScrollBar(HWND wnd, int bar, bool show);
// Moves the client pixels inside Clip (null: the whole client area) by Dx, Dy
// and invalidates what the move uncovers; pending invalid parts move along.
bool ScrollWindow(HWND wnd, int dx, int dy, const TRect* clip);

// Window coordinates: client of From to client of To (0: screen).
bool MapWindowPoints(HWND from, HWND to, TPoint* points, int count);
// The deepest visible window there; top-level windows that answer
// HTTRANSPARENT to the hit test are passed over.
HWND WindowFromPoint(TPoint screen);

// Where the mouse was last seen, in screen coordinates; the host records it.
bool GetCursorPos(TPoint& screen);
void SetCursorPos(TPoint screen);
// The screen: one picture of the desktop's size that a screen device context
// (GetDC(0)) draws into and copies from, so code that draws straight onto the
// screen (drag images, hint captures) can be checked pixel by pixel.
HBITMAP GetScreenImage();
void SetScreenSize(int width, int height); // 1024 x 768 at start; the pixels turn black
// The desktop's work area in screen coordinates (the whole screen here).
TRect GetDesktopWorkArea();

// Real mouse input, as a host gets it from the toolkit: Msg is the client
// kind (WM_MOUSEMOVE, WM_LBUTTONDOWN ... WM_XBUTTONDBLCLK) at Screen, with
// the button and key flags Keys (MK_..., a side button in the high word). The window under the
// mouse (or the one holding the capture) is asked WM_NCHITTEST; outside its client area the message
// goes as its non-client kind with the hit-test code. A move sends WM_SETCURSOR first. The scroll
// bars run here: clicks on their arrows and track repeat while held, the thumb drags. A button
// going down on an enabled window with WS_TABSTOP gives it the focus first. The mouse leaving a
// window's client area (WM_MOUSELEAVE) or non-client area (WM_NCMOUSELEAVE) is reported once.
void DeliverMouse(UINT msg, TPoint screen, WPARAM keys);
// The mouse left every window (the host's leave event).
void DeliverMouseLeave();
// A wheel turn of Delta (120 a notch) at Screen: WM_MOUSEWHEEL to the focused
// window when the mouse is over it, else to the window under the mouse;
// a window that answers 0 hands it to its parent.
void DeliverWheel(TPoint screen, int delta, WPARAM keys);
// A real key going down or up (WM_KEYDOWN or WM_KEYUP with the virtual key
// Vk, 0 for none), with the character Ch it types (0 for none) as WM_CHAR
// after a down (WM_SYSCHAR while Alt without Ctrl is held): to Wnd (the
// focused window), or while a modal loop reads the keys itself, only the
// key, to that loop's window. The key data (LParam) holds a repeat count of
// 1 and in its high word KF_ALTDOWN while Alt is held, KF_REPEAT when the
// key was down already (a held key repeats as downs alone, then one up) and
// KF_UP going up. Tab moves the focus to the next tab stop (Shift+Tab: the
// previous) of the top-level window unless the focused window's
// WM_GETDLGCODE asks for the Tab key.
void DeliverKey(HWND wnd, UINT msg, WPARAM vk, WPARAM ch);
// The keyboard went to another application: the keys held are up for us.
void ForgetHeldKeys();
// A modal loop that reads the keys itself names its window here while it
// runs (0 when it ends); answers the one named before.
HWND SetModalKeyWindow(HWND wnd);

// Whether a key is down now (the high bit of the answer), as the window host
// saw it last; the host (or a test) sets it before the key or mouse message.
int16_t GetKeyState(int vk);
void SetKeyState(int vk, bool down);

} // namespace nuq
