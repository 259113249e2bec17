#pragma once
// What the window layer needs from the device contexts: a context over a
// window's image with an offset and a base clip, in image pixels.

#include <functional>
#include <string>

#include <QImage>
#include <QRegion>

#include "platform/gui/Gdi.h"

namespace nuq {

class TCursorObject;
class TPopupMenu;

// What a running host does when the cursor changes and when a popup menu
// shows or closes (empty without a host).
struct THostHooks {
    std::function<void(TCursorObject*)> CursorChanged;
    std::function<void(TPopupMenu&)> ShowMenu;
    std::function<void(TPopupMenu&)> HideMenu;
    std::function<void()> Beep;
    // One wait of a modal loop that lets the toolkit's input in too.
    std::function<void()> WaitForInput;
    // Paints what the program's windows show now onto a picture of the whole screen.
    std::function<void(QImage&)> PaintScreen;
    // Something the host shows changed (a paint, a window moved, shown,
    // hidden or gone, a drawing on the screen): it looks again when idle.
    std::function<void()> WindowsChanged;
};
void NoteWindowsChanged();
THostHooks& HostHooks();
// Waits for the next work of a modal loop (input, a posted message, a timer)
// and runs it: through the running host, else the message loop alone.
void WaitForInput();
// The pointer's modal loops (the drags): until Done, mouse and key messages
// go to Input and the rest are dispatched. The keys are Tracker's meanwhile,
// so a real keyboard's Escape reaches the loop, not the focused window.
bool IsMouseMessage(UINT msg);
bool IsKeyMessage(UINT msg);
// The hidden window such a loop holds the mouse with: its mouse and key
// messages go to Input; CaptureLost runs when another window takes the mouse
// before Done.
HWND CreateDragTracker(const std::string& className, const bool& done,
                       std::function<void(const TMsg&)> input, std::function<void()> captureLost);
void RunModalInputLoop(HWND tracker, const bool& done,
                       const std::function<void(const TMsg&)>& input);

// Without a display: the offscreen platform and a private runtime folder.
void PrepareGuiEnvironment();
// Right after the toolkit's application object is made, which takes the
// whole C locale from the environment: numbers go back to "C".
void KeepNumbersInCLocale();
HDC CreateSurfaceDC(TBitmapObject* surface, TPoint offset, const QRegion& baseClip);
// A context over the screen's picture (platform/gui/Windows.h).
HDC GetScreenDC();
// Counts the screen contexts handed out, so a host knows when to show the screen's drawings again.
uint64_t ScreenPaintGeneration();
// The pixels of the screen's picture that were drawn onto it, not shown by a window.
QRegion ScreenDrawings();
// A QImage sharing a bitmap's pixels (valid while the bitmap lives and keeps its size).
QImage SurfaceImage(TBitmapObject* bitmap);
inline uint32_t ToPixel(COLORREF c) {
    return 0xFF000000u | uint32_t(GetRValue(c)) << 16 | uint32_t(GetGValue(c)) << 8 |
           uint32_t(GetBValue(c));
}
inline COLORREF FromPixel(uint32_t p) {
    return RGB((p >> 16) & 255, (p >> 8) & 255, p & 255);
}

} // namespace nuq
