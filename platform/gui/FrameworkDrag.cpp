// The framework's drag loop: waits for the pointer to pass the drag
// threshold, then follows it, asking the window under it for its target
// control and telling targets about entering, moving, leaving and the drop,
// until the button goes up or Escape cancels.

#include "platform/gui/FrameworkDrag.h"

#include "platform/EventLoop.h"
#include "platform/gui/GdiPrivate.h"

#include <cstdlib>

namespace nuq {

namespace {

bool IsButtonUp(UINT msg) {
    return msg == WM_LBUTTONUP || msg == WM_RBUTTONUP || msg == WM_MBUTTONUP;
}

class TFrameworkDragLoop;
TFrameworkDragLoop* runningLoop = nullptr;

class TFrameworkDragLoop {
public:
    TFrameworkDragLoop(TControl* source, int threshold) : FSource(source), FThreshold(threshold) {}

    void Run(bool immediate) {
        runningLoop = this;
        struct TRunning {
            ~TRunning() { runningLoop = nullptr; }
        } running;
        GetCursorPos(FStart);
        FPos = FStart;
        FTracker = CreateDragTracker(
            "FrameworkDragTracker", FDone, [this](const TMsg& msg) { Input(msg); },
            [this] { Cancel(); });
        if (FTracker) SetCapture(FTracker);
        if (immediate) {
            Start();
            Track();
        }
        RunModalInputLoop(FTracker, FDone, [this](const TMsg& msg) { Input(msg); });
        if (FTracker) {
            if (GetCapture() == FTracker) ReleaseCapture();
            DestroyWindow(FTracker);
        }
        // The source hears the end after the loop let go of the mouse.
        if (!FAccepted) FSource->DragCanceled();
        TPoint p = FPos;
        if (FAccepted && FTarget && FTarget->IsWindowed())
            MapWindowPoints(0, static_cast<TWinControl*>(FTarget)->WindowHandle(), &p, 1);
        FSource->DoEndDrag(FAccepted ? FTarget : nullptr, p.X, p.Y);
    }

    TControl* Source() const { return FSource; }
    TDragObject* Object() const { return FObject; }

private:
    void Input(const TMsg& msg) {
        if (FDone) return;
        if (IsKeyMessage(msg.Message)) {
            if ((msg.Message == WM_KEYDOWN || msg.Message == WM_SYSKEYDOWN) &&
                msg.WParam == VK_ESCAPE)
                Cancel();
            return;
        }
        TPoint p{int(int16_t(LoWord(uintptr_t(msg.LParam)))),
                 int(int16_t(HiWord(uintptr_t(msg.LParam))))};
        if (msg.Wnd) MapWindowPoints(msg.Wnd, 0, &p, 1);
        FPos = p;
        SetCursorPos(p);
        if (!FObject &&
            (std::abs(p.X - FStart.X) > FThreshold || std::abs(p.Y - FStart.Y) > FThreshold))
            Start();
        if (IsButtonUp(msg.Message))
            Drop();
        else if (FObject)
            Track();
    }

    void Start() {
        TDragObject* object = nullptr;
        FSource->DoStartDrag(object);
        if (!object) {
            FOwnObject = std::make_unique<TDragControlObject>(FSource);
            object = FOwnObject.get();
        }
        FObject = object;
    }

    LRESULT Send(HWND wnd, TDragMessage message, TControl* target) {
        TDragRec rec;
        rec.Pos = FPos;
        rec.Source = FObject;
        rec.Target = target;
        FObject->DragPos = FPos;
        return SendMessage(wnd, CM_DRAG, WPARAM(message), LPARAM(&rec));
    }

    // The control that the nearest window of a control under the pointer
    // names; an answer that is not that control or one of its own is none.
    TControl* TargetAt(HWND& wnd) {
        TWinControl* control = nullptr;
        for (wnd = WindowFromPoint(FPos); wnd && !(control = FindControl(wnd));)
            wnd = GetParent(wnd);
        if (!control) return nullptr;
        auto* answer = reinterpret_cast<TControl*>(Send(wnd, dmFindTarget, nullptr));
        if (answer == control) return answer;
        for (TControl* child : control->Controls())
            if (child == answer) return answer;
        return nullptr;
    }

    void Track() {
        HWND wnd = 0;
        TControl* target = TargetAt(wnd);
        if (target != FTarget || wnd != FTargetWnd) {
            Leave();
            FTarget = target;
            FTargetWnd = wnd;
            if (FTarget) Send(FTargetWnd, dmDragEnter, FTarget);
        }
        FObject->DragTarget = FTarget;
        FAccepted = FTarget && Send(FTargetWnd, dmDragMove, FTarget) != 0;
    }

    void Leave() {
        if (FTarget && IsWindow(FTargetWnd)) Send(FTargetWnd, dmDragLeave, FTarget);
        FTarget = nullptr;
        FTargetWnd = 0;
        FAccepted = false;
    }

    void Drop() {
        if (FObject && FTarget && FAccepted && IsWindow(FTargetWnd)) {
            FObject->Dropped = true;
            Send(FTargetWnd, dmDragDrop, FTarget);
        } else {
            if (FObject) Leave();
            FAccepted = false;
        }
        FDone = true;
    }

    void Cancel() {
        if (FObject) Leave();
        FAccepted = false;
        FDone = true;
    }

    TControl* FSource;
    int FThreshold;
    TPoint FStart, FPos;
    HWND FTracker = 0, FTargetWnd = 0;
    TControl* FTarget = nullptr;
    TDragObject* FObject = nullptr; // set once the pointer passed the threshold
    std::unique_ptr<TDragControlObject> FOwnObject;
    bool FAccepted = false, FDone = false;
};

} // namespace

TDragObject* CurrentDragObject() {
    return runningLoop ? runningLoop->Object() : nullptr;
}

void TControl::BeginDrag(bool immediate, int threshold) {
    if (runningLoop || DragKind != dkDrag) return;
    if (threshold < 0) threshold = GetSystemMetrics(SM_CXDRAG);
    TFrameworkDragLoop loop(this, threshold);
    loop.Run(immediate);
}

bool TControl::Dragging() const {
    return runningLoop && runningLoop->Source() == this;
}

void TControl::DoStartDrag(TDragObject*& dragObject) {
    if (OnStartDrag) OnStartDrag(*this, dragObject);
}

void TControl::DoEndDrag(TControl* target, int x, int y) {
    if (OnEndDrag) OnEndDrag(*this, target, x, y);
}

} // namespace nuq
