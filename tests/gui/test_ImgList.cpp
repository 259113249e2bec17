// Image lists: splitting strips, masks, drawing styles and removal.

#include "platform/gui/ImgList.h"

#include <gtest/gtest.h>

using namespace nuq;

namespace {

// A strip of Count 4 x 4 images: image I is filled with Colours[I] around a
// magenta centre pixel (1, 1).
std::unique_ptr<TBitmap> Strip(const std::vector<TColor>& colours) {
    auto b = std::make_unique<TBitmap>(int(colours.size()) * 4, 4);
    for (size_t i = 0; i < colours.size(); ++i) {
        b->Canvas().Brush.Color = colours[i];
        b->Canvas().FillRect(Bounds(int(i) * 4, 0, 4, 4));
        b->Canvas().SetPixel(int(i) * 4 + 1, 1, clFuchsia);
    }
    return b;
}

} // namespace

TEST(ImageList, AddMaskedSplitsAStripAndMasksTheKeyColour) {
    TCustomImageList list(4, 4);
    auto strip = Strip({clRed, clLime, clBlue});
    EXPECT_EQ(list.AddMasked(*strip, clFuchsia), 0);
    EXPECT_EQ(list.Count(), 3);
    EXPECT_EQ(list.AddMasked(*strip, clFuchsia), 3);
    EXPECT_EQ(list.Count(), 6);
    TBitmap target(4, 4);
    target.Canvas().Brush.Color = clYellow;
    target.Canvas().FillRect({0, 0, 4, 4});
    list.Draw(target.Canvas(), 0, 0, 1);
    EXPECT_EQ(target.Canvas().Pixel(0, 0), clLime);
    EXPECT_EQ(target.Canvas().Pixel(1, 1), clYellow); // masked: the background stays
}

TEST(ImageList, BackgroundColourFillsTheMaskUnlessTransparent) {
    TCustomImageList list(4, 4);
    auto strip = Strip({clRed});
    list.AddMasked(*strip, clFuchsia);
    list.BkColor = clBlack;
    TBitmap target(4, 4);
    list.Draw(target.Canvas(), 0, 0, 0);
    EXPECT_EQ(target.Canvas().Pixel(1, 1), clBlack);
    target.Canvas().SetPixel(1, 1, clWhite);
    list.DrawingStyle = TCustomImageList::dsTransparent;
    list.Draw(target.Canvas(), 0, 0, 0);
    EXPECT_EQ(target.Canvas().Pixel(1, 1), clWhite);
}

TEST(ImageList, MaskBitmapAndMaskStyle) {
    TCustomImageList list(2, 1);
    TBitmap image(2, 1), mask(2, 1);
    image.Canvas().SetPixel(0, 0, clRed);
    image.Canvas().SetPixel(1, 0, clBlue);
    mask.Canvas().SetPixel(0, 0, clBlack); // opaque
    mask.Canvas().SetPixel(1, 0, clWhite); // transparent
    mask.SetMonochrome(true);
    list.Add(image, &mask);
    TBitmap target(2, 1);
    target.Canvas().Brush.Color = clLime;
    target.Canvas().FillRect({0, 0, 2, 1});
    list.Draw(target.Canvas(), 0, 0, 0);
    EXPECT_EQ(target.Canvas().Pixel(0, 0), clRed);
    EXPECT_EQ(target.Canvas().Pixel(1, 0), clLime);
    ImageList_Draw(list.Handle(), 0, target.Canvas().Handle(), 0, 0, ILD_MASK);
    EXPECT_EQ(target.Canvas().Pixel(0, 0), clBlack);
    EXPECT_EQ(target.Canvas().Pixel(1, 0), clWhite);
}

TEST(ImageList, UnmaskedListKeepsTheKeyColour) {
    HIMAGELIST l = ImageList_Create(4, 4, ILC_COLOR32, 0, 4);
    auto strip = Strip({clRed});
    ImageList_AddMasked(l, strip->Handle(), RGB(255, 0, 255));
    TBitmap target(4, 4);
    ImageList_Draw(l, 0, target.Canvas().Handle(), 0, 0, ILD_NORMAL);
    EXPECT_EQ(target.Canvas().Pixel(1, 1), clFuchsia);
    ImageList_Destroy(l);
}

TEST(ImageList, RemoveClearAndBadIndexes) {
    TCustomImageList list(4, 4);
    int changes = 0;
    list.OnChange = [&](TCustomImageList&) { ++changes; };
    auto strip = Strip({clRed, clLime, clBlue});
    list.AddMasked(*strip, clFuchsia);
    EXPECT_TRUE(ImageList_Remove(list.Handle(), 0));
    EXPECT_EQ(list.Count(), 2);
    EXPECT_FALSE(ImageList_Remove(list.Handle(), 5));
    TBitmap target(4, 4);
    EXPECT_FALSE(ImageList_Draw(list.Handle(), 2, target.Canvas().Handle(), 0, 0, ILD_NORMAL));
    EXPECT_FALSE(ImageList_Draw(list.Handle(), -1, target.Canvas().Handle(), 0, 0, ILD_NORMAL));
    list.Clear();
    EXPECT_EQ(list.Count(), 0);
    EXPECT_EQ(changes, 2);
    TBitmap narrow(3, 4); // narrower than one image
    EXPECT_EQ(list.AddMasked(narrow, clFuchsia), -1);
}

TEST(ImageList, DisabledImagesAreGrey) {
    TCustomImageList list(4, 4);
    auto strip = Strip({clRed});
    list.AddMasked(*strip, clFuchsia);
    TBitmap target(4, 4);
    target.Canvas().Brush.Color = clLime;
    target.Canvas().FillRect({0, 0, 4, 4});
    list.Draw(target.Canvas(), 0, 0, 0, false);
    COLORREF c = COLORREF(target.Canvas().Pixel(0, 0));
    EXPECT_EQ(GetRValue(c), GetGValue(c));
    EXPECT_EQ(GetGValue(c), GetBValue(c));
    EXPECT_EQ(target.Canvas().Pixel(1, 1), clLime);
}

TEST(ImageList, SetHandleTakesOverTheSize) {
    TCustomImageList list;
    list.SetHandle(ImageList_Create(9, 7, ILC_MASK | ILC_COLOR32, 0, 4));
    EXPECT_EQ(list.Width(), 9);
    EXPECT_EQ(list.Height(), 7);
    list.SetWidth(5); // a new size drops the images
    EXPECT_EQ(list.Count(), 0);
    EXPECT_EQ(list.Handle()->Width, 5);
}
