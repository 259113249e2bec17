// Popup menus: the model, and handing them to a running host to show.

#include "platform/gui/Menus.h"
#include "platform/gui/GdiPrivate.h"

namespace nuq {

namespace {
TPopupMenu* shownMenu = nullptr;
}

TPopupMenu::TPopupMenu(TComponent* owner) : TComponent(owner) {}

TPopupMenu::~TPopupMenu() {
    if (shownMenu == this) {
        shownMenu = nullptr;
        if (HostHooks().HideMenu) HostHooks().HideMenu(*this);
    }
}

TPopupMenu* ShownPopupMenu() {
    return shownMenu;
}

void TPopupMenu::Popup(int x, int y) {
    if (shownMenu) shownMenu->CloseUp(-1);
    FPoint = {x, y};
    if (OnPopup) OnPopup(*this, FPoint);
    FShowing = true;
    shownMenu = this;
    if (HostHooks().ShowMenu) HostHooks().ShowMenu(*this);
}

void TPopupMenu::CloseUp(int index) {
    if (!FShowing) return;
    FShowing = false;
    if (shownMenu == this) shownMenu = nullptr;
    if (HostHooks().HideMenu) HostHooks().HideMenu(*this);
    bool valid = index >= 0 && index < int(Items.size()) && Items[index].Enabled &&
                 Items[index].Caption != "-";
    if (!valid) index = -1;
    if (index >= 0 && Items[index].OnClick) {
        TMenuItem item = Items[index]; // the handler may change the list
        item.OnClick(*this, item);
    }
    if (OnClose) OnClose(*this, index);
}

} // namespace nuq
