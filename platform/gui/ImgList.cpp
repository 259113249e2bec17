#include "platform/gui/ImgList.h"

#include "platform/gui/GdiPrivate.h"

#include <algorithm>

namespace nuq {

HIMAGELIST ImageList_Create(int width, int height, UINT flags, int initial, int grow) {
    if (width <= 0 || height <= 0) return nullptr;
    auto* l = new TImageListObject;
    l->Width = width;
    l->Height = height;
    l->Flags = flags;
    l->Grow = grow;
    l->Images.reserve(size_t(std::max(initial, 0)));
    return l;
}

bool ImageList_Destroy(HIMAGELIST list) {
    delete list;
    return list != nullptr;
}

int ImageList_GetImageCount(HIMAGELIST list) {
    return list ? int(list->Images.size()) : 0;
}

namespace {

int AddPieces(HIMAGELIST list, HBITMAP image,
              const std::function<bool(int x, int y)>& transparent) {
    if (!list || !image || image->Width < list->Width) return -1;
    int first = int(list->Images.size());
    for (int left = 0; left + list->Width <= image->Width; left += list->Width) {
        TImageListObject::TImage img;
        img.Pixels.assign(size_t(list->Width * list->Height), 0xFF000000u);
        img.Mask.assign(size_t(list->Width * list->Height), 0);
        for (int y = 0; y < list->Height && y < image->Height; ++y)
            for (int x = 0; x < list->Width; ++x) {
                size_t i = size_t(y * list->Width + x);
                bool t = (list->Flags & ILC_MASK) && transparent(left + x, y);
                img.Mask[i] = t;
                img.Pixels[i] = t ? 0xFF000000u : image->Scanline(y)[left + x];
            }
        list->Images.push_back(std::move(img));
    }
    return first;
}

} // namespace

int ImageList_AddMasked(HIMAGELIST list, HBITMAP bitmap, COLORREF maskColor) {
    uint32_t key = ToPixel(maskColor) & 0xFFFFFF;
    return AddPieces(list, bitmap,
                     [&](int x, int y) { return (bitmap->Scanline(y)[x] & 0xFFFFFF) == key; });
}

int ImageList_Add(HIMAGELIST list, HBITMAP image, HBITMAP mask) {
    return AddPieces(list, image, [&](int x, int y) {
        return mask && x < mask->Width && y < mask->Height &&
               (mask->Scanline(y)[x] & 0xFFFFFF) != 0;
    });
}

bool ImageList_Remove(HIMAGELIST list, int index) {
    if (!list) return false;
    if (index == -1) {
        list->Images.clear();
        return true;
    }
    if (index < 0 || index >= int(list->Images.size())) return false;
    list->Images.erase(list->Images.begin() + index);
    return true;
}

bool ImageList_Draw(HIMAGELIST list, int index, HDC dc, int x, int y, UINT style) {
    if (!list || !dc || index < 0 || index >= int(list->Images.size())) return false;
    const auto& img = list->Images[size_t(index)];
    bool keepBackground = (style & ILD_TRANSPARENT) || list->BkColor == CLR_NONE;
    for (int py = 0; py < list->Height; ++py)
        for (int px = 0; px < list->Width; ++px) {
            size_t i = size_t(py * list->Width + px);
            if (style & ILD_MASK) {
                SetPixel(dc, x + px, y + py, img.Mask[i] ? 0xFFFFFF : 0);
                continue;
            }
            if (img.Mask[i]) {
                if (!keepBackground) SetPixel(dc, x + px, y + py, list->BkColor);
                continue;
            }
            COLORREF c = FromPixel(img.Pixels[i]);
            if (style & ILD_BLEND25) {
                COLORREF under = GetPixel(dc, x + px, y + py);
                auto mix = [](int a, int b) { return (a * 3 + b) / 4; };
                c = RGB(mix(GetRValue(c), GetRValue(under)), mix(GetGValue(c), GetGValue(under)),
                        mix(GetBValue(c), GetBValue(under)));
            }
            SetPixel(dc, x + px, y + py, c);
        }
    return true;
}

COLORREF ImageList_SetBkColor(HIMAGELIST list, COLORREF color) {
    if (!list) return CLR_NONE;
    return std::exchange(list->BkColor, color);
}

// --- component -------------------------------------------------------------------

TCustomImageList::TCustomImageList(TComponent* owner) : TComponent(owner) {}

TCustomImageList::TCustomImageList(int width, int height, TComponent* owner)
    : TComponent(owner), FWidth(width), FHeight(height) {}

TCustomImageList::~TCustomImageList() {
    for (TChangeLink* link : FLinks) link->FSender = nullptr;
    Destroying();
    ImageList_Destroy(FHandle);
}

void TCustomImageList::SetWidth(int w) {
    if (w == FWidth) return;
    FWidth = w;
    ImageList_Destroy(std::exchange(FHandle, nullptr));
    Change();
}

void TCustomImageList::SetHeight(int h) {
    if (h == FHeight) return;
    FHeight = h;
    ImageList_Destroy(std::exchange(FHandle, nullptr));
    Change();
}

HIMAGELIST TCustomImageList::Handle() {
    if (!FHandle)
        FHandle = ImageList_Create(FWidth, FHeight, (Masked ? UINT(ILC_MASK) : 0u) | ILC_COLOR32, 0,
                                   AllocBy);
    return FHandle;
}

void TCustomImageList::SetHandle(HIMAGELIST list) {
    if (list == FHandle) return;
    ImageList_Destroy(FHandle);
    FHandle = list;
    if (list) {
        FWidth = list->Width;
        FHeight = list->Height;
    }
    Change();
}

int TCustomImageList::Count() {
    return ImageList_GetImageCount(FHandle);
}

void TCustomImageList::Clear() {
    if (FHandle) ImageList_Remove(FHandle, -1);
    Change();
}

int TCustomImageList::Add(TBitmap& image, TBitmap* mask) {
    int i = ImageList_Add(Handle(), image.Handle(), mask ? mask->Handle() : nullptr);
    Change();
    return i;
}

int TCustomImageList::AddMasked(TBitmap& image, TColor maskColor) {
    int i = ImageList_AddMasked(Handle(), image.Handle(), ColorToRGB(maskColor));
    Change();
    return i;
}

void TCustomImageList::Draw(TCanvas& canvas, int x, int y, int index, bool enabled) {
    DrawBlended(canvas, x, y, index, 0, enabled);
}

void TCustomImageList::DrawBlended(TCanvas& canvas, int x, int y, int index, UINT extraStyle,
                                   bool enabled) {
    HIMAGELIST l = Handle();
    if (!enabled) {
        // Disabled images are drawn in shades of grey.
        if (index < 0 || index >= int(l->Images.size())) return;
        const auto& img = l->Images[size_t(index)];
        for (int py = 0; py < l->Height; ++py)
            for (int px = 0; px < l->Width; ++px) {
                size_t i = size_t(py * l->Width + px);
                if (img.Mask[i]) continue;
                uint32_t p = img.Pixels[i];
                int g = (((p >> 16) & 255) + ((p >> 8) & 255) + (p & 255)) / 3 / 2 + 96;
                nuq::SetPixel(canvas.Handle(), x + px, y + py, RGB(g, g, g));
            }
        return;
    }
    COLORREF bk = BkColor == clNone ? CLR_NONE : ColorToRGB(BkColor);
    ImageList_SetBkColor(l, bk);
    ImageList_Draw(l, index, canvas.Handle(), x, y,
                   (DrawingStyle == dsTransparent ? ILD_TRANSPARENT : ILD_NORMAL) | extraStyle);
}

void TCustomImageList::Change() {
    if (OnChange) OnChange(*this);
    // A listener may unregister itself or another while it hears the change.
    std::vector<TChangeLink*> links = FLinks;
    for (TChangeLink* link : links)
        if (std::find(FLinks.begin(), FLinks.end(), link) != FLinks.end() && link->OnChange)
            link->OnChange(*link);
}

void TCustomImageList::RegisterChanges(TChangeLink* link) {
    if (!link || link->FSender == this) return;
    if (link->FSender) link->FSender->UnRegisterChanges(link);
    link->FSender = this;
    FLinks.push_back(link);
}

void TCustomImageList::UnRegisterChanges(TChangeLink* link) {
    if (!link || link->FSender != this) return;
    link->FSender = nullptr;
    std::erase(FLinks, link);
}

TChangeLink::~TChangeLink() {
    if (FSender) FSender->UnRegisterChanges(this);
}

} // namespace nuq
