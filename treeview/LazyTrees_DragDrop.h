#pragma once
// Drag and drop of nodes: the drag picture that follows the mouse and the
// drag manager that is a tree's drop source and drop target.

#include <cstdint>
#include <memory>

#include "platform/gui/Controls.h"
#include "platform/gui/Ole.h"
#include "treeview/LazyTrees_Types.h"

namespace nuq {

// --- drag image -------------------------------------------------------------------------------

enum TLTDragImageState : uint8_t {
    dgHidden = 1,
    dgInDrag = 2,
    dgPrepared = 4,
    dgSystemSupport = 8
};
enum TLTImageRestriction : uint8_t { rmNone, rmHorizontalOnly, rmVerticalOnly };

// The translucent picture of the dragged nodes that follows the mouse. It is
// drawn straight onto the screen over a copy of what it covers; a move puts
// back only the strips it uncovers and copies only those it newly covers.
// Where the desktop's drag-image service takes the picture, this stays passive.
class TLTDragImage {
public:
    explicit TLTDragImage(TBaseLazyTree* owner) : Owner(owner) {}
    ~TLTDragImage();
    TLTDragImage(const TLTDragImage&) = delete;
    TLTDragImage& operator=(const TLTDragImage&) = delete;

    TBaseLazyTree* Owner;
    // The screen under the picture, the blending work area and the picture
    // with its alpha channel; they live from PrepareDrag to EndDrag.
    std::unique_ptr<TBitmap> ScreenCopy, BlendImage, Picture;
    TPoint PicturePosition;   // screen coordinates of the picture's top-left corner
    TPoint LastMousePosition; // the last point the picture followed
    uint8_t Transparency = 128;
    int8_t PrepareBias = 0, BlendBias = 0;
    bool Fade = false; // the picture fades out from its centre
    TLTImageRestriction Restriction = rmNone;
    TColor ColorKey = clNone; // pixels of this colour are not drawn
    uint8_t States = 0;

    void PrepareDrag(TBitmap& source, TPoint position, TPoint hotSpot, IDataObject* dataObject);
    // Follows the mouse; true when the picture moved or was repainted.
    bool DragTo(TPoint p, bool forceRepaint);
    void ShowPicture();
    void HidePicture();
    void EndDrag();
    TRect PictureRect() const; // empty while not visible
    // After the tree painted R (client coordinates) while the picture was
    // hidden: the tree paints that part again into the background copy.
    void RecaptureScreenCopy(TWinControl& tree, TRect r, HRGN visibleRegion, bool captureNCArea,
                             bool reshow);
    bool WillMove(TPoint p) const;
    bool IsVisible() const;

private:
    int PictureWidth() const { return Picture ? Picture->Width() : 0; }
    int PictureHeight() const { return Picture ? Picture->Height() : 0; }
    void BuildAlphaChannel(TBitmap& source, TBitmap& target);
    void BlendAndDraw(HDC screenDC);
};

// What a tree needs of its drag manager: the drop source of the drags it
// starts, the drop target of its window and the drag under way. An owner may
// supply its own (OnCreateDragManager).
class ILTDragManager : public IDropTarget, public IDropSource {
public:
    // The data object of the drop under way, else one made by the tree.
    virtual std::shared_ptr<IDataObject> GetDataObject() = 0;
    virtual TBaseLazyTree* DragSource() const = 0;
    virtual bool DropTargetHelperSupported() const = 0;
    virtual bool IsDropTarget() const = 0;
    virtual void ForceDragLeave() = 0;
};

// The tree's own drag manager, forwarding to the tree's drag handling.
class TLTDragManager : public ILTDragManager {
public:
    explicit TLTDragManager(TBaseLazyTree* owner);
    TBaseLazyTree* Owner() const { return FOwner; }
    std::shared_ptr<IDataObject> GetDataObject() override;
    TBaseLazyTree* DragSource() const override { return FDragSource; }
    bool DropTargetHelperSupported() const override { return FDropTargetHelper != nullptr; }
    bool IsDropTarget() const override { return FIsDropTarget; }
    void ForceDragLeave() override;

    HRESULT DragEnter(IDataObject* data, DWORD keyState, TPoint pt, DWORD& effect) override;
    HRESULT DragOver(DWORD keyState, TPoint pt, DWORD& effect) override;
    HRESULT DragLeave() override;
    HRESULT Drop(IDataObject* data, DWORD keyState, TPoint pt, DWORD& effect) override;
    HRESULT QueryContinueDrag(bool escapePressed, DWORD keyState) override;
    HRESULT GiveFeedback(DWORD effect) override;

private:
    TBaseLazyTree* FOwner;
    TBaseLazyTree* FDragSource = nullptr;
    bool FIsDropTarget = false;
    IDataObject* FDataObject = nullptr;
    IDropTarget* FDropTargetHelper = nullptr; // the desktop offers none here
    bool FFullDragging = false;
};

// Redraws TreeRect (client coordinates) of Tree at once while Image (Tree's
// own when null) is shown over it: the window paints around the picture and
// the part under it is painted into the picture's background copy.
void UpdateWindowAndDragImage(TBaseLazyTree* tree, TRect treeRect, bool updateNCArea,
                              bool reshowDragImage, TLTDragImage* image = nullptr);

} // namespace nuq
