#pragma once
// Image lists: equal-sized images kept side by side with a mask each, drawn
// masked (transparent where the mask is set) or onto their background colour.

#include <functional>
#include <vector>

#include "platform/gui/Classes.h"
#include "platform/gui/Graphics.h"

namespace nuq {

enum : UINT {
    ILC_MASK = 1,
    ILC_COLOR4 = 4,
    ILC_COLOR8 = 8,
    ILC_COLOR16 = 16,
    ILC_COLOR24 = 24,
    ILC_COLOR32 = 32
};
// ILD_BLEND25: a quarter of what lies under each opaque pixel shows through.
enum : UINT { ILD_NORMAL = 0, ILD_TRANSPARENT = 1, ILD_BLEND25 = 4, ILD_MASK = 0x10 };
inline constexpr COLORREF CLR_NONE = 0xFFFFFFFF;
inline constexpr COLORREF CLR_DEFAULT = 0xFF000000;

class TImageListObject {
public:
    int Width = 0, Height = 0;
    UINT Flags = 0;
    int Grow = 4;
    COLORREF BkColor = CLR_NONE;
    struct TImage {
        std::vector<uint32_t> Pixels; // Width * Height
        std::vector<uint8_t> Mask;    // 1: transparent
    };
    std::vector<TImage> Images;
};
using HIMAGELIST = TImageListObject*;

HIMAGELIST ImageList_Create(int width, int height, UINT flags, int initial, int grow);
bool ImageList_Destroy(HIMAGELIST list);
int ImageList_GetImageCount(HIMAGELIST list);
// Adds every image-wide piece of Bitmap; pixels of MaskColor become
// transparent (and black in the image) when the list is masked. The index of
// the first image added, -1 on failure.
int ImageList_AddMasked(HIMAGELIST list, HBITMAP bitmap, COLORREF maskColor);
// With a monochrome mask bitmap: white mask pixels are transparent.
int ImageList_Add(HIMAGELIST list, HBITMAP image, HBITMAP mask);
bool ImageList_Remove(HIMAGELIST list, int index); // -1 removes all
bool ImageList_Draw(HIMAGELIST list, int index, HDC dc, int x, int y, UINT style);
COLORREF ImageList_SetBkColor(HIMAGELIST list, COLORREF color);

class TCustomImageList;

// One listener among many of a list's changes (the list's own OnChange is
// its owner's); it leaves the list when either of them goes.
class TChangeLink {
public:
    TChangeLink() = default;
    TChangeLink(const TChangeLink&) = delete;
    TChangeLink& operator=(const TChangeLink&) = delete;
    ~TChangeLink();
    std::function<void(TChangeLink&)> OnChange;
    TCustomImageList* Sender() const { return FSender; }

private:
    friend class TCustomImageList;
    TCustomImageList* FSender = nullptr;
};

// The component over a platform list.
class TCustomImageList : public TComponent {
public:
    explicit TCustomImageList(TComponent* owner = nullptr);
    TCustomImageList(int width, int height, TComponent* owner = nullptr);
    ~TCustomImageList() override;

    int Width() const { return FWidth; }
    int Height() const { return FHeight; }
    void SetWidth(int w);
    void SetHeight(int h);
    bool Masked = true;
    TColor BkColor = clNone;
    int AllocBy = 4;
    enum TDrawingStyle { dsFocus, dsSelected, dsNormal, dsTransparent };
    TDrawingStyle DrawingStyle =
        dsNormal; // dsNormal fills the mask with BkColor unless it is clNone
    std::function<void(TCustomImageList&)> OnChange;
    // A link hears of every change until it is unregistered (a link hears one list).
    void RegisterChanges(TChangeLink* link);
    void UnRegisterChanges(TChangeLink* link);

    HIMAGELIST Handle();             // made on demand
    void SetHandle(HIMAGELIST list); // the list takes it over, freeing the one it had
    bool HandleAllocated() const { return FHandle != nullptr; }
    int Count();
    void Clear();
    int Add(TBitmap& image, TBitmap* mask);
    int AddMasked(TBitmap& image, TColor maskColor);
    void Draw(TCanvas& canvas, int x, int y, int index, bool enabled = true);
    // As Draw, adding platform draw flags (ILD_BLEND25) to the drawing style's own.
    void DrawBlended(TCanvas& canvas, int x, int y, int index, UINT extraStyle,
                     bool enabled = true);

private:
    void Change();
    int FWidth = 16, FHeight = 16;
    HIMAGELIST FHandle = nullptr;
    std::vector<TChangeLink*> FLinks;
};
using TImageList = TCustomImageList;

} // namespace nuq
