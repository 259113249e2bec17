#pragma once
// Window-procedure hooks: a component that sees every message of a windowed
// control it does not own, before and after the control handles it.
//
// All hooks on one control share one subclassing object, kept in the
// process's hook list. Its window procedure calls the hooks' before-events
// from the last attached to the first until one sets Handled, lets the
// control handle the message unless it was handled (the destroy message
// always goes through), then calls the after-events the same way. When the
// control's window is destroyed the subclassing is undone and redone, through
// a posted message, once the window exists again.
//
// In a form resource a hook keeps Active and the watched control; a hook
// watching the form that owns it keeps "IsForm" instead, and is attached to
// its owner again when read.

#include <functional>
#include <memory>
#include <vector>

#include "platform/gui/Controls.h"

namespace nuq {

class TWindowHook;
class TControlHook;

using THookMessageEvent = std::function<void(TWindowHook& sender, TMessage& msg, bool& handled)>;

class TWindowHook : public TComponent {
public:
    explicit TWindowHook(TComponent* owner = nullptr);
    ~TWindowHook() override;

    bool Active() const { return FActive; }
    void SetActive(bool value);
    TWinControl* WinControl() const { return FControl; }
    void SetWinControl(TWinControl* control);
    THookMessageEvent BeforeMessage;
    THookMessageEvent AfterMessage;

    void Notification(TComponent* component, TOperation operation) override;
    void DefineProperties(TFiler& filer) override;
    virtual void DoBeforeMessage(TMessage& msg, bool& handled);
    virtual void DoAfterMessage(TMessage& msg, bool& handled);

private:
    friend class TControlHook;
    void Attach();
    void Detach();
    bool IsForm() const;
    bool FActive = true;
    TWinControl* FControl = nullptr;
    TControlHook* FControlHook = nullptr;
};

// The subclassing object of one control.
class TControlHook {
public:
    explicit TControlHook(TWinControl* control);
    ~TControlHook();
    TControlHook(const TControlHook&) = delete;
    TControlHook& operator=(const TControlHook&) = delete;

    TWinControl* Control() const { return FControl; }
    const std::vector<TWindowHook*>& Hooks() const { return FList; }
    void AddHook(TWindowHook* hook);
    void RemoveHook(TWindowHook* hook);
    void HookControl();
    void UnhookControl();

private:
    friend class THookList;
    LRESULT WndProc(HWND wnd, UINT msg, WPARAM w, LPARAM l);
    TWinControl* FControl;
    std::vector<TWindowHook*> FList;
    TWindowProc FNewWndProc;
    TWindowProc FPrevWndProc;
    bool FDestroying = false;
};

// The process's subclassing objects, with a hidden window for the posted
// re-hook and free messages.
class THookList : public TComponent {
public:
    THookList();
    ~THookList() override;
    TControlHook* Find(TWinControl* control) const;
    TControlHook* FindOrAdd(TWinControl* control);
    bool Contains(const TControlHook* hook) const;
    HWND Window() const { return FWindow; }
    int Count() const { return int(FItems.size()); }
    void Notification(TComponent* component, TOperation operation) override;

    static constexpr UINT CM_RELEASEHOOK = WM_USER + 1;    // WParam: the object to free
    static constexpr UINT CM_RECREATEWINDOW = WM_USER + 2; // WParam: the object to hook again

private:
    LRESULT WndProc(HWND wnd, UINT msg, WPARAM w, LPARAM l);
    std::vector<std::unique_ptr<TControlHook>> FItems;
    HWND FWindow = 0;
};

// The process's hook list: made on first use; null after ReleaseHookList.
THookList* HookList(bool create = true);
// The unit's end: frees every subclassing object and the hidden window.
void ReleaseHookList();

} // namespace nuq
