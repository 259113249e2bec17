#pragma once
// The framework's own drag of a control, beside the OLE one: the drag
// object, and the CM_DRAG message that carries the drag to the control
// under the pointer. WParam holds the TDragMessage, LParam a TDragRec*.
// The answer to dmFindTarget is the target control (0: none there); to
// dmDragEnter, dmDragMove and dmDragLeave it is non-zero when the control
// would take a drop. Only the nearest window a control of ours owns is asked
// for the target: a window of no control is passed over, and one whose
// control does not answer takes no drop.

#include "platform/gui/Controls.h"

namespace nuq {

enum TDragMessage { dmDragEnter, dmDragLeave, dmDragMove, dmDragDrop, dmDragCancel, dmFindTarget };
inline constexpr UINT CM_DRAG = 0xB036;

// A framework drag object: the source a target is told of.
class TDragObject : public TPersistent {
public:
    // A picture of what is dragged, drawn over the screen, goes away while a
    // window under it repaints; the base object shows none.
    virtual void HideDragImage() {}
    virtual void ShowDragImage() {}
    TPoint DragPos;                 // screen coordinates of the pointer
    TControl* DragTarget = nullptr; // the control under the pointer that answered
    bool Dropped = false;
};

// The drag of a control, made when its owner gives no drag object of its own.
class TDragControlObject : public TDragObject {
public:
    explicit TDragControlObject(TControl* control) : Control(control) {}
    TControl* Control;
};

struct TDragRec {
    TPoint Pos; // screen coordinates
    TDragObject* Source = nullptr;
    TControl* Target = nullptr;
    bool Docking = false;
};

// The drag object of the framework drag running now; null when none runs.
TDragObject* CurrentDragObject();

} // namespace nuq
