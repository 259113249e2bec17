#include "foundation/gui/fhHook.h"

#include "platform/gui/Filer.h"
#include "platform/gui/Forms.h"

#include <algorithm>
#include <mutex>
#include <utility>

namespace nuq {

namespace {

std::unique_ptr<THookList>& HookListHolder() {
    static std::unique_ptr<THookList> list;
    return list;
}

// The hook's published properties; the watched form is "IsForm" (DefineProperties).
void RegisterHookClass() {
    TPublisher<TWindowHook> h;
    h.Ordinal(
         "Active", tkEnumeration, [](TWindowHook& o) { return o.Active(); },
         [](TWindowHook& o, int64_t v) { o.SetActive(v != 0); }, {"False", "True"})
        .Default(1);
    h.ComponentRef(
         "WinControl", [](TWindowHook& o) { return o.WinControl(); },
         [](TWindowHook& o, TComponent* c) { o.SetWinControl(dynamic_cast<TWinControl*>(c)); })
        .Stored(
            [](TWindowHook& o) { return o.WinControl() && !dynamic_cast<TForm*>(o.WinControl()); });
    h.Method("BeforeMessage").Method("AfterMessage");
    RegisterClass<TWindowHook>("TWindowHook", h);
}

} // namespace

THookList* HookList(bool create) {
    auto& holder = HookListHolder();
    if (!holder && create) holder = std::make_unique<THookList>();
    return holder.get();
}

void ReleaseHookList() {
    HookListHolder().reset();
}

// --- hook list ----------------------------------------------------------------------

THookList::THookList() {
    TCreateParams p;
    p.ClassName = "THookListWindow";
    p.Proc = {[this](HWND h, UINT m, WPARAM w, LPARAM l) { return WndProc(h, m, w, l); }, this};
    FWindow = CreateWindowEx(p);
}

THookList::~THookList() {
    Destroying();
    for (auto& item : FItems)
        if (item->FControl) item->FControl->RemoveFreeNotification(this);
    FItems.clear();
    DestroyWindow(FWindow);
}

TControlHook* THookList::Find(TWinControl* control) const {
    for (auto& item : FItems)
        if (item->FControl == control) return item.get();
    return nullptr;
}

TControlHook* THookList::FindOrAdd(TWinControl* control) {
    if (TControlHook* h = Find(control)) return h;
    FItems.push_back(std::make_unique<TControlHook>(control));
    control->FreeNotification(this);
    return FItems.back().get();
}

bool THookList::Contains(const TControlHook* hook) const {
    return std::any_of(FItems.begin(), FItems.end(), [hook](auto& i) { return i.get() == hook; });
}

void THookList::Notification(TComponent* component, TOperation operation) {
    if (operation != opRemove) return;
    // A control going away: its subclassing object stays until freed, without it.
    for (auto& item : FItems)
        if (item->FControl == component) item->FControl = nullptr;
}

LRESULT THookList::WndProc(HWND wnd, UINT msg, WPARAM w, LPARAM l) {
    auto* hook = reinterpret_cast<TControlHook*>(w);
    switch (msg) {
    case CM_RECREATEWINDOW:
        if (Contains(hook)) hook->HookControl();
        return 0;
    case CM_RELEASEHOOK:
        if (Contains(hook) && hook->FList.empty()) {
            if (hook->FControl) hook->FControl->RemoveFreeNotification(this);
            std::erase_if(FItems, [hook](auto& i) { return i.get() == hook; });
        }
        return 0;
    default:
        return DefWindowProc(wnd, msg, w, l);
    }
}

// --- control hook ---------------------------------------------------------------------

TControlHook::TControlHook(TWinControl* control) : FControl(control) {
    FNewWndProc = {[this](HWND h, UINT m, WPARAM w, LPARAM l) { return WndProc(h, m, w, l); },
                   this};
}

TControlHook::~TControlHook() {
    FDestroying = true;
    UnhookControl();
    for (TWindowHook* h : FList) h->FControlHook = nullptr;
}

void TControlHook::AddHook(TWindowHook* hook) {
    if (std::find(FList.begin(), FList.end(), hook) == FList.end()) FList.push_back(hook);
    HookControl();
}

void TControlHook::RemoveHook(TWindowHook* hook) {
    std::erase(FList, hook);
}

void TControlHook::HookControl() {
    if (!FControl || FList.empty() || (FControl->ComponentState & (csDesigning | csDestroying)))
        return;
    HWND h = FControl->Handle();
    if (GetWindowProc(h).Owner != this) FPrevWndProc = SetWindowProc(h, FNewWndProc);
}

void TControlHook::UnhookControl() {
    if (FControl && FControl->HandleAllocated()) {
        HWND h = FControl->Handle();
        if (GetWindowProc(h).Owner == this) SetWindowProc(h, FPrevWndProc);
    }
    FPrevWndProc = {};
}

LRESULT TControlHook::WndProc(HWND wnd, UINT msg, WPARAM w, LPARAM l) {
    TWindowProc prev = FPrevWndProc; // unhooking below forgets it
    if (!FControl) return CallWindowProc(prev, wnd, msg, w, l);
    TMessage m{msg, w, l, 0};
    bool callHooks = !FDestroying && !(FControl->ComponentState & csDestroying) && !FList.empty();
    auto hooks = FList; // a hook may detach from inside its event
    bool handled = false;
    if (callHooks && msg != WM_QUIT)
        for (auto it = hooks.rbegin(); it != hooks.rend(); ++it) {
            (*it)->DoBeforeMessage(m, handled);
            if (handled) break;
        }
    if (!handled || msg == WM_DESTROY)
        m.Result = CallWindowProc(prev, wnd, msg, m.WParam, m.LParam);
    if (callHooks) {
        bool afterHandled = false;
        for (auto it = hooks.rbegin(); it != hooks.rend(); ++it) {
            (*it)->DoAfterMessage(m, afterHandled);
            if (afterHandled) break;
        }
    }
    if (msg == WM_DESTROY) {
        UnhookControl();
        THookList* list = HookList(false);
        if (list && !FDestroying && FControl && !(FControl->ComponentState & csDestroying))
            PostMessage(list->Window(), THookList::CM_RECREATEWINDOW, WPARAM(this), 0);
    }
    return m.Result;
}

// --- window hook ------------------------------------------------------------------------

TWindowHook::TWindowHook(TComponent* owner) : TComponent(owner) {
    static std::once_flag registered;
    std::call_once(registered, RegisterHookClass);
    if (owner) owner->FreeNotification(this);
}

TWindowHook::~TWindowHook() {
    Destroying();
    SetActive(false);
    SetWinControl(nullptr);
}

void TWindowHook::SetActive(bool value) {
    if (value == FActive) return;
    FActive = value;
    if (value)
        Attach();
    else
        Detach();
}

void TWindowHook::SetWinControl(TWinControl* control) {
    if (control == FControl) return;
    Detach();
    if (FControl) FControl->RemoveFreeNotification(this);
    FControl = control;
    if (FControl) FControl->FreeNotification(this);
    if (FActive) Attach();
}

void TWindowHook::Attach() {
    if (!FControl || (ComponentState & csDestroying) || FControlHook) return;
    FControlHook = HookList()->FindOrAdd(FControl);
    FControlHook->AddHook(this);
}

void TWindowHook::Detach() {
    if (!FControlHook) return;
    TControlHook* hook = std::exchange(FControlHook, nullptr);
    hook->RemoveHook(this);
    if (hook->Hooks().empty())
        if (THookList* list = HookList(false))
            PostMessage(list->Window(), THookList::CM_RELEASEHOOK, WPARAM(hook), 0);
}

void TWindowHook::Notification(TComponent* component, TOperation operation) {
    TComponent::Notification(component, operation);
    if (operation == opRemove && (component == FControl || component == Owner()))
        SetWinControl(nullptr);
}

bool TWindowHook::IsForm() const {
    return FControl && FControl == Owner() && dynamic_cast<TForm*>(Owner());
}

void TWindowHook::DefineProperties(TFiler& filer) {
    TComponent::DefineProperties(filer);
    filer.DefineProperty(
        "IsForm",
        [this](TReader& reader) {
            if (reader.ReadBoolean()) SetWinControl(dynamic_cast<TWinControl*>(Owner()));
        },
        [this](TWriter& writer) { writer.WriteBoolean(IsForm()); }, IsForm());
}

void TWindowHook::DoBeforeMessage(TMessage& msg, bool& handled) {
    if (BeforeMessage) BeforeMessage(*this, msg, handled);
}

void TWindowHook::DoAfterMessage(TMessage& msg, bool& handled) {
    if (AfterMessage) AfterMessage(*this, msg, handled);
}

} // namespace nuq
