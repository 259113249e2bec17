#pragma once
// Controls: windowless (graphic) controls and windowed controls over the
// window layer. A windowed control's window procedure hands every message to
// WindowProc (WndProc by default), which dispatches it; what a control does
// not handle goes to the window's default procedure.

#include <functional>
#include <map>
#include <memory>
#include <vector>

#include "platform/gui/Classes.h"
#include "platform/gui/Graphics.h"
#include "platform/gui/Windows.h"

namespace nuq {

class TWinControl;

enum : unsigned { // ControlState
    csLButtonDown = 1,
    csClicked = 2,
    csPalette = 4,
    csReadingState = 8,
    csAlignmentNeeded = 16,
    csFocusing = 32,
    csCreating = 64,
    csPaintCopy = 128,
    csCustomPaint = 256,
    csDestroyingHandle = 512,
};
enum : unsigned { // ControlStyle
    csAcceptsControls = 1,
    csCaptureMouse = 2,
    csDesignInteractive = 4,
    csClickEvents = 8,
    csFramed = 16,
    csSetCaption = 32,
    csOpaque = 64,
    csDoubleClicks = 128,
    csFixedWidth = 256,
    csFixedHeight = 512,
    csNoDesignVisible = 1024,
    csReplicatable = 2048,
    csNoStdEvents = 4096,
    csDisplayDragImage = 8192,
    csReflector = 16384,
};

// The framework's component messages: a control tells itself of a change of
// what it inherits, so that what follows it can follow. A window told
// WM_SYSCOLORCHANGE hands CM_SYSCOLORCHANGE down to every control within it.
enum : UINT {
    CM_BASE = 0xB000,
    CM_ENABLEDCHANGED = CM_BASE + 1,
    CM_COLORCHANGED,
    CM_FONTCHANGED,
    CM_BIDIMODECHANGED,
    CM_CTL3DCHANGED,
    CM_SYSCOLORCHANGE,
    CM_HINTSHOWPAUSE, // WParam: a hint was showing; LParam: the pause (int*) to adjust
    CM_DENYSUBCLASSING = CM_BASE + 2000,
};

enum TBiDiMode { bdLeftToRight, bdRightToLeft, bdRightToLeftNoAlign, bdRightToLeftReadingOnly };

// The framework's own drag of a control (FrameworkDrag.h): started by the
// control itself (manual) or by a press on it (automatic); docking is not ours.
enum TDragMode { dmManual, dmAutomatic };
enum TDragKind { dkDrag, dkDock };
class TDragObject;

class TControl : public TComponent {
public:
    explicit TControl(TComponent* owner = nullptr);
    ~TControl() override;

    TWinControl* Parent() const { return FParent; }
    virtual void SetParent(TWinControl* parent);
    int Left() const { return FLeft; }
    int Top() const { return FTop; }
    int Width() const { return FWidth; }
    int Height() const { return FHeight; }
    virtual void SetBounds(int left, int top, int width, int height);
    void SetWidth(int w) { SetBounds(FLeft, FTop, w, FHeight); }
    void SetHeight(int h) { SetBounds(FLeft, FTop, FWidth, h); }
    TRect BoundsRect() const { return Bounds(FLeft, FTop, FWidth, FHeight); }
    virtual TRect ClientRect() { return {0, 0, FWidth, FHeight}; }
    bool Visible() const { return FVisible; }
    virtual void SetVisible(bool v);
    bool Enabled = true;
    TColor Color = clBtnFace;
    bool ParentColor = true;
    TBiDiMode BiDiMode = bdLeftToRight;
    unsigned ControlState = 0;
    unsigned ControlStyle = csCaptureMouse | csClickEvents | csSetCaption | csDoubleClicks;
    int HelpContext = 0; // the help topic for this control and those within it (0: none)

    // The replaceable entry for messages; WndProc unless someone replaced it.
    std::function<void(TMessage&)> WindowProc;
    LRESULT Perform(UINT msg, WPARAM w, LPARAM l);
    virtual void WndProc(TMessage& msg) { Dispatch(msg); }
    virtual void Dispatch(TMessage& msg) { DefaultHandler(msg); }
    virtual void DefaultHandler(TMessage&) {}

    virtual void Invalidate();
    virtual void Update();
    void Repaint();
    virtual bool IsWindowed() const { return false; }

    // The framework's drag of this control (FrameworkDrag.cpp): BeginDrag
    // runs it until the button goes up; it starts once the pointer moved
    // Threshold pixels (the system's drag threshold when negative), or at once.
    TDragMode DragMode = dmManual;
    TDragKind DragKind = dkDrag;
    void BeginDrag(bool immediate, int threshold = -1);
    bool Dragging() const; // a drag of this control runs
    // The drag starts: the owner may give its own drag object.
    virtual void DoStartDrag(TDragObject*& dragObject);
    // The drag ended, on Target (null: nowhere or cancelled) at X, Y of Target.
    virtual void DoEndDrag(TControl* target, int x, int y);
    // The drag was cancelled or found no taker; DoEndDrag follows.
    virtual void DragCanceled() {}
    std::function<void(TControl&, TDragObject*&)> OnStartDrag;
    std::function<void(TControl&, TControl*, int, int)> OnEndDrag;

protected:
    TWinControl* FParent = nullptr;
    int FLeft = 0, FTop = 0, FWidth = 0, FHeight = 0;
    bool FVisible = true;
};

class TWinControl : public TControl {
public:
    explicit TWinControl(TComponent* owner = nullptr);
    ~TWinControl() override;

    HWND Handle(); // creates the window when needed
    bool HandleAllocated() const { return FHandle != 0; }
    HWND WindowHandle() const { return FHandle; } // 0 without a window; never creates one
    void HandleNeeded();
    void DestroyHandle();
    void RecreateWnd();
    bool IsWindowed() const override { return true; }
    const std::vector<TControl*>& Controls() const { return FControls; }
    TRect ClientRect() override;
    void SetBounds(int left, int top, int width, int height) override;
    void SetVisible(bool v) override;
    void SetParent(TWinControl* parent) override;
    void Invalidate() override;
    void Update() override;
    bool TabStop = false;

    void Dispatch(TMessage& msg) override;
    void DefaultHandler(TMessage& msg) override;
    // Paints the window into DC (for painting a copy or printing).
    virtual void PaintWindow(HDC dc);
    void PaintControls(HDC dc, TControl* first);
    // Msg to every control within this one.
    void Broadcast(TMessage& msg);
    // The window procedure the window is created with: hands messages to WindowProc.
    LRESULT MainWndProc(HWND wnd, UINT msg, WPARAM w, LPARAM l);

protected:
    virtual void CreateParams(TCreateParams& params);
    virtual void CreateWnd();
    virtual void CreateHandle();
    virtual void DestroyWnd();
    void PaintHandler(TMessage& msg);

private:
    friend class TControl;
    HWND FHandle = 0;
    std::vector<TControl*> FControls;
};

// The windowed control whose window this is; null for a window no control made.
TWinControl* FindControl(HWND wnd);

class TCustomControl : public TWinControl {
public:
    explicit TCustomControl(TComponent* owner = nullptr);
    ~TCustomControl() override;
    TCanvas& Canvas() { return *FCanvas; }
    void PaintWindow(HDC dc) override;

protected:
    virtual void Paint() {}

private:
    std::unique_ptr<TCanvas> FCanvas;
};

class TGraphicControl : public TControl {
public:
    explicit TGraphicControl(TComponent* owner = nullptr);
    ~TGraphicControl() override;
    TCanvas& Canvas() { return *FCanvas; }
    void Dispatch(TMessage& msg) override;
    std::function<void(TGraphicControl&)> OnPaint;

protected:
    virtual void Paint() {
        if (OnPaint) OnPaint(*this);
    }

private:
    std::unique_ptr<TCanvas> FCanvas;
};

// Cursors: one of the system's shapes by its id, or a picture of the
// program's own (32 x 32 pixels 0xAARRGGBB; alpha 0 is transparent).
enum : int {
    IDC_ARROW = 32512,
    IDC_IBEAM = 32513,
    IDC_WAIT = 32514,
    IDC_CROSS = 32515,
    IDC_UPARROW = 32516,
    IDC_SIZENWSE = 32642,
    IDC_SIZENESW = 32643,
    IDC_SIZEWE = 32644,
    IDC_SIZENS = 32645,
    IDC_SIZEALL = 32646,
    IDC_NO = 32648,
    IDC_HAND = 32649,
    IDC_APPSTARTING = 32650,
    IDC_HELP = 32651,
};
class TCursorObject {
public:
    int HotX = 0, HotY = 0;
    std::vector<uint32_t> Image; // 32 x 32, for a picture cursor
    int SystemId = 0;            // IDC_...; 0: the picture
};
using HCURSOR = TCursorObject*;
// The system cursor Id (IDC_...), owned by the layer; null for an unknown id.
HCURSOR LoadCursor(int id);
// A picture cursor from Picture's top-left 32 x 32 pixels; pixels of the
// colour Transparent (clNone: none) are left out.
std::unique_ptr<TCursorObject> CreatePictureCursor(HBITMAP picture, COLORREF transparent, int hotX,
                                                   int hotY);

// The screen's cursor numbers of the standard shapes.
enum : int {
    crDefault = 0,
    crNone = -1,
    crArrow = -2,
    crCross = -3,
    crIBeam = -4,
    crSizeNESW = -6,
    crSizeNS = -7,
    crSizeNWSE = -8,
    crSizeWE = -9,
    crUpArrow = -10,
    crHourGlass = -11,
    crDrag = -12,
    crNoDrop = -13,
    crHSplit = -14,
    crVSplit = -15,
    crMultiDrag = -16,
    crSQLWait = -17,
    crNo = -18,
    crAppStart = -19,
    crHelp = -20,
    crHandPoint = -21,
    crSizeAll = -22,
};

// Cursors by number, as the screen object keeps them: the standard shapes
// above, the program's hand (14000) and drag (14001) cursors loaded at start,
// and whatever the program adds.
class TScreen {
public:
    TScreen();
    ~TScreen();
    // The screen's size in pixels and its resolution; the toolkit's screen
    // when one is running.
    int Width = 1024, Height = 768, PixelsPerInch = 96;
    TFont HintFont; // the font hints are shown in
    // The cursor number shown over every window of the program (a busy
    // hourglass); crDefault leaves each window its own.
    int GlobalCursor = crDefault;
    // The cursor of number Index; the arrow for numbers nobody set.
    HCURSOR Cursor(int index) const;
    void SetCursor(int index, HCURSOR cursor); // the screen owns it
private:
    std::map<int, HCURSOR> FCursors;
};
TScreen& Screen();
// The mouse cursor shown now (null: the arrow); returns the one before. A
// running host shows it at once over its window.
HCURSOR SetCursor(HCURSOR cursor);
HCURSOR GetCursor();

// Sounds the system's beep.
void Beep();
// How many beeps sounded since the program started (for tests).
uint64_t BeepCount();

// The pop-up window the application's hint machinery shows a hint in. Its
// bounds are screen coordinates; it shows without taking the focus.
class THintWindow : public TCustomControl {
public:
    explicit THintWindow(TComponent* owner = nullptr);
    ~THintWindow() override;
    std::u16string Caption;
    // Takes the hint away; the application's CancelHint asks the window shown last.
    virtual void CancelHint();
    // Places the window at Rect and shows it.
    virtual void ActivateHint(TRect rect, const std::u16string& hint);
    // The size Hint needs, at most MaxWidth wide; Data is the caller's.
    virtual TRect CalcHintRect(int maxWidth, const std::u16string& hint, void* data);
    // Whether Msg cancels the hint: mouse, keyboard and activation messages
    // while the window exists and is shown.
    virtual bool IsHintMsg(const TMsg& msg);
    void ReleaseHandle() { DestroyHandle(); }
    void Dispatch(TMessage& msg) override;

protected:
    void CreateParams(TCreateParams& params) override;
    void Paint() override;
};

// The application object's settings the system touches.
class TApplication {
public:
    std::string Title; // the program's title for people; empty: none given
    bool ShowHint = true;
    // Takes away the hint shown now, if any.
    void CancelHint();
    // True while one of the program's top-level windows is the desktop's active window.
    bool Active() const;
    // The help hook: shows the help topic of Context; true when it did.
    std::function<bool(int context)> OnHelp;
    // Asks OnHelp to show the topic Context; false without a hook or a topic.
    bool HelpContext(int context);
    // The context last asked for (0: none yet), for those who test it.
    int LastHelpContext = 0;

private:
    friend class THintWindow;
    THintWindow* FShownHint = nullptr; // the hint window shown last, while it exists
};
TApplication& Application();

} // namespace nuq
