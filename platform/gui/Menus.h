#pragma once
// Popup menus: a list of items shown at a screen point. With a running
// toolkit on a display the menu shows as a real menu; without one it only
// counts as showing until someone chooses (tests read and choose through
// ShownPopupMenu). Either way the choice is reported through the chosen
// item's OnClick and the menu's OnClose.

#include <functional>
#include <string>
#include <vector>

#include "platform/gui/Classes.h"
#include "platform/gui/WinTypes.h"

namespace nuq {

class TPopupMenu;

struct TMenuItem {
    std::string Caption; // "-" is a separator line
    int Tag = 0;
    bool Enabled = true;
    bool Checked = false;
    std::function<void(TPopupMenu& menu, TMenuItem& item)> OnClick;
};

class TPopupMenu : public TComponent {
public:
    explicit TPopupMenu(TComponent* owner = nullptr);
    ~TPopupMenu() override;
    std::vector<TMenuItem> Items;
    // Who asked for the menu (set by whoever pops it up).
    TComponent* PopupComponent = nullptr;
    // Before the menu shows, at the point it shows (screen coordinates).
    std::function<void(TPopupMenu& menu, TPoint screen)> OnPopup;
    // After it closed: the chosen item's index, -1 when closed without a choice.
    std::function<void(TPopupMenu& menu, int chosen)> OnClose;

    // Shows the menu with its top-left corner at X, Y (screen coordinates)
    // and returns at once; a menu showing already closes first.
    void Popup(int x, int y);
    void Popup(TPoint screen) { Popup(screen.X, screen.Y); }
    bool Showing() const { return FShowing; }
    TPoint PopupPoint() const { return FPoint; }
    // Ends the showing menu as the user would: Index chosen (an enabled item
    // that is not a separator), or -1 for none (Escape, a click elsewhere).
    void CloseUp(int index);

private:
    bool FShowing = false;
    TPoint FPoint;
};

// The popup menu showing now, null for none.
TPopupMenu* ShownPopupMenu();

} // namespace nuq
