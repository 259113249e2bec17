// The modal drag loop: follows the pointer and the keys until the source
// drops or cancels, talking to the drop targets registered under the pointer.

#include "platform/gui/Ole.h"

#include "platform/EventLoop.h"
#include "platform/Timer.h"
#include "platform/gui/Controls.h"
#include "platform/gui/GdiPrivate.h"
#include "platform/gui/Windows.h"

namespace nuq {

namespace {

constexpr DWORD ButtonKeys = MK_LBUTTON | MK_RBUTTON | MK_MBUTTON;
constexpr DWORD EffectMask = DROPEFFECT_COPY | DROPEFFECT_MOVE | DROPEFFECT_LINK;
// A resting pointer is polled as often: a target that scrolls after a delay
// near its edge hears that the pointer is still there.
constexpr uint32_t PollInterval = 50;

DWORD ModifierKeys() {
    DWORD keys = 0;
    if (GetKeyState(VK_SHIFT) < 0) keys |= MK_SHIFT;
    if (GetKeyState(VK_CONTROL) < 0) keys |= MK_CONTROL;
    if (GetKeyState(VK_MENU) < 0) keys |= MK_ALT;
    return keys;
}

class TDragLoop {
public:
    TDragLoop(IDataObject* data, IDropSource* source, DWORD okEffects)
        : FData(data), FSource(source), FOk(okEffects) {}

    HRESULT Run(DWORD& effect) {
        // The pointer's button that started the drag is down; the layer does
        // not record buttons, so the left one is taken.
        FKeys = FDropKeys = MK_LBUTTON | ModifierKeys();
        GetCursorPos(FPos);
        FTracker = CreateDragTracker(
            "LTDragTracker", FDone, [this](const TMsg& msg) { Input(msg); },
            [this] {
                FCaptureLost = true;
                Step();
            });
        HCURSOR before = GetCursor();
        if (FTracker) SetCapture(FTracker);
        TTimer poll;
        poll.SetInterval(PollInterval);
        poll.SetOnTimer([this] { Step(); });
        Step();
        RunModalInputLoop(FTracker, FDone, [this](const TMsg& msg) { Input(msg); });
        FDone = true;
        if (FTracker) {
            if (GetCapture() == FTracker) ReleaseCapture();
            DestroyWindow(FTracker);
        }
        SetCursor(before);
        effect = FResultEffect;
        return FResult;
    }

private:
    void Input(const TMsg& msg) {
        if (FDone) return;
        if (IsMouseMessage(msg.Message)) {
            TPoint p{int(int16_t(LoWord(uintptr_t(msg.LParam)))),
                     int(int16_t(HiWord(uintptr_t(msg.LParam))))};
            if (msg.Wnd) MapWindowPoints(msg.Wnd, 0, &p, 1);
            FPos = p;
            SetCursorPos(p);
            FKeys = (DWORD(msg.WParam) & (ButtonKeys | MK_SHIFT | MK_CONTROL)) |
                    (GetKeyState(VK_MENU) < 0 ? DWORD(MK_ALT) : DWORD(0));
        } else {
            if ((msg.Message == WM_KEYDOWN || msg.Message == WM_SYSKEYDOWN) &&
                msg.WParam == VK_ESCAPE)
                FEscape = true;
            FKeys = (FKeys & ButtonKeys) | ModifierKeys();
        }
        Step();
    }

    // Asks the source whether to go on, then follows the pointer or ends.
    void Step() {
        if (FDone) return;
        HRESULT q = FCaptureLost ? DRAGDROP_S_CANCEL : FSource->QueryContinueDrag(FEscape, FKeys);
        if (q == DRAGDROP_S_DROP) {
            Drop();
        } else if (q == DRAGDROP_S_CANCEL || q < 0) {
            Leave();
            Finish(DRAGDROP_S_CANCEL, DROPEFFECT_NONE);
        } else {
            Track();
            FDropKeys = FKeys;
        }
    }

    // The target registered for Wnd or its nearest ancestor.
    static IDropTarget* TargetAt(HWND& wnd) {
        for (; wnd; wnd = GetParent(wnd))
            if (IDropTarget* t = RegisteredDropTarget(wnd)) return t;
        return nullptr;
    }

    // Forgets a target whose window was revoked or destroyed meanwhile: it
    // may be gone, so it hears nothing more.
    void CheckTarget() {
        if (FTarget && RegisteredDropTarget(FTargetWnd) != FTarget) {
            FTarget = nullptr;
            FTargetWnd = 0;
            FEffect = DROPEFFECT_NONE;
        }
    }

    void Track() {
        CheckTarget();
        HWND wnd = WindowFromPoint(FPos);
        IDropTarget* target = TargetAt(wnd);
        DWORD e = FOk;
        if (target != FTarget || wnd != FTargetWnd) {
            Leave();
            FTarget = target;
            FTargetWnd = wnd;
            if (FTarget && FTarget->DragEnter(FData, FKeys, FPos, e) < 0) {
                FTarget = nullptr;
                FTargetWnd = 0;
            }
            e = FOk;
        }
        // A target hears where the pointer is after it entered too, as it
        // would from the polling of a resting pointer.
        if (FTarget && FTarget->DragOver(FKeys, FPos, e) >= 0)
            FEffect = e & FOk & EffectMask;
        else
            FEffect = DROPEFFECT_NONE;
        if (FSource->GiveFeedback(FEffect) == DRAGDROP_S_USEDEFAULTCURSORS)
            SetCursor(Screen().Cursor(FEffect == DROPEFFECT_NONE  ? crNoDrop
                                      : FEffect & DROPEFFECT_COPY ? crMultiDrag
                                                                  : crDrag));
    }

    void Leave() {
        CheckTarget();
        if (FTarget) FTarget->DragLeave();
        FTarget = nullptr;
        FTargetWnd = 0;
        FEffect = DROPEFFECT_NONE;
    }

    void Drop() {
        CheckTarget();
        if (!FTarget || FEffect == DROPEFFECT_NONE) {
            Leave();
            Finish(DRAGDROP_S_DROP, DROPEFFECT_NONE);
            return;
        }
        // The target hears the keys as they were while the button was down.
        DWORD keys = (FDropKeys & ButtonKeys) | (FKeys & ~ButtonKeys);
        DWORD e = FEffect;
        IDropTarget* target = FTarget;
        FTarget = nullptr;
        FTargetWnd = 0;
        HRESULT hr = target->Drop(FData, keys, FPos, e);
        Finish(DRAGDROP_S_DROP, hr >= 0 ? e & FOk & EffectMask : DROPEFFECT_NONE);
    }

    void Finish(HRESULT result, DWORD effect) {
        FResult = result;
        FResultEffect = effect;
        FDone = true;
    }

    IDataObject* FData;
    IDropSource* FSource;
    DWORD FOk;
    HWND FTracker = 0;
    HWND FTargetWnd = 0;
    IDropTarget* FTarget = nullptr;
    DWORD FKeys = 0, FDropKeys = 0;
    DWORD FEffect = DROPEFFECT_NONE;
    TPoint FPos{0, 0};
    bool FEscape = false, FCaptureLost = false, FDone = false;
    HRESULT FResult = DRAGDROP_S_CANCEL;
    DWORD FResultEffect = DROPEFFECT_NONE;
};

} // namespace

HRESULT DoDragDrop(IDataObject* data, IDropSource* source, DWORD okEffects, DWORD& effect) {
    effect = DROPEFFECT_NONE;
    if (!data || !source || !(okEffects & EffectMask)) return E_INVALIDARG;
    TDragLoop loop(data, source, okEffects);
    return loop.Run(effect);
}

bool IsMouseMessage(UINT msg) {
    return msg >= WM_MOUSEMOVE && msg <= WM_MBUTTONDBLCLK;
}

bool IsKeyMessage(UINT msg) {
    return msg == WM_KEYDOWN || msg == WM_KEYUP || msg == WM_SYSKEYDOWN || msg == WM_SYSKEYUP;
}

HWND CreateDragTracker(const std::string& className, const bool& done,
                       std::function<void(const TMsg&)> input, std::function<void()> captureLost) {
    TCreateParams params;
    params.ClassName = className;
    params.Style = WS_POPUP;
    params.Proc.Call = [&done, input = std::move(input), captureLost = std::move(captureLost)](
                           HWND wnd, UINT msg, WPARAM w, LPARAM l) -> LRESULT {
        if (IsMouseMessage(msg) || IsKeyMessage(msg)) {
            input(TMsg{wnd, msg, w, l, 0});
            return 0;
        }
        if (msg == WM_CAPTURECHANGED && !done && HWND(l) != wnd) {
            // Someone else took the mouse: the drag cannot go on.
            captureLost();
            return 0;
        }
        return DefWindowProc(wnd, msg, w, l);
    };
    return CreateWindowEx(params);
}

void RunModalInputLoop(HWND tracker, const bool& done,
                       const std::function<void(const TMsg&)>& input) {
    const HWND keysBefore = tracker ? SetModalKeyWindow(tracker) : 0;
    struct TKeysBack {
        HWND Tracker, Before;
        ~TKeysBack() {
            if (Tracker) SetModalKeyWindow(Before);
        }
    } keysBack{tracker, keysBefore};
    while (!done) {
        TMsg msg;
        if (PeekMessage(msg, 0, 0, 0, PM_REMOVE)) {
            if (IsMouseMessage(msg.Message) || IsKeyMessage(msg.Message))
                input(msg);
            else
                DispatchMessage(msg);
        } else {
            WaitForInput();
        }
    }
}

} // namespace nuq
