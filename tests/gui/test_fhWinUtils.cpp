// Transparent bitmap drawing and the parent's image under a windowless control.

#include "foundation/gui/fhWinUtils.h"

#include <gtest/gtest.h>

using namespace nuq;

namespace {

// A 4 x 4 bitmap: magenta except a red 2 x 2 square at the top-left.
std::unique_ptr<TBitmap> Sprite() {
    auto b = std::make_unique<TBitmap>(4, 4);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x)
            b->Canvas().SetPixel(x, y, (x < 2 && y < 2) ? clRed : clFuchsia);
    return b;
}

int CountColour(TBitmap& b, TColor c) {
    int n = 0;
    for (int y = 0; y < b.Height(); ++y)
        for (int x = 0; x < b.Width(); ++x) n += b.Canvas().Pixel(x, y) == c;
    return n;
}

} // namespace

TEST(TransparentDrawing, DefaultColourIsTheBottomLeftPixel) {
    TBitmap dest(10, 10);
    dest.Canvas().Brush.Color = clLime;
    dest.Canvas().FillRect({0, 0, 10, 10});
    auto sprite = Sprite();
    DrawTransparentBitmapRect(dest.Canvas(), *sprite, clDefault, 2, 3, 4, 4, 0, 0, 0, 0);
    EXPECT_EQ(CountColour(dest, clFuchsia), 0);
    EXPECT_EQ(dest.Canvas().Pixel(2, 3), clRed);
    EXPECT_EQ(dest.Canvas().Pixel(3, 4), clRed);
    EXPECT_EQ(dest.Canvas().Pixel(4, 3), clLime); // transparent part
    EXPECT_EQ(dest.Canvas().Pixel(5, 6), clLime);
    EXPECT_EQ(CountColour(dest, clRed), 4);
}

TEST(TransparentDrawing, OpaqueColoursSurviveTheMask) {
    TBitmap dest(4, 1);
    TBitmap src(4, 1);
    TColor colours[] = {clRed, clNavy, TColor(0x123456), clFuchsia};
    for (int x = 0; x < 4; ++x) src.Canvas().SetPixel(x, 0, colours[x]);
    DrawTransparentBitmapRect(dest.Canvas(), src, clFuchsia, 0, 0, 0, 0, 0, 0, 0, 0);
    for (int x = 0; x < 3; ++x) EXPECT_EQ(dest.Canvas().Pixel(x, 0), colours[x]) << x;
    EXPECT_EQ(dest.Canvas().Pixel(3, 0), clWhite);
}

TEST(TransparentDrawing, ZeroDestinationSizeDrawsAtTheBitmapsSize) {
    TBitmap dest(10, 10);
    auto sprite = Sprite();
    sprite->Canvas().SetPixel(3, 3, clBlue); // bottom-left stays magenta
    DrawTransparentBitmapRect(dest.Canvas(), *sprite, clFuchsia, 1, 1, 0, 0, 0, 0, 0, 0);
    EXPECT_EQ(dest.Canvas().Pixel(4, 4), clBlue);
    EXPECT_EQ(dest.Canvas().Pixel(5, 5), clWhite);
}

TEST(TransparentDrawing, StretchedAndFromASourceRectangle) {
    TBitmap dest(8, 8);
    auto sprite = Sprite();
    // The red square alone, doubled.
    DrawTransparentBitmap(dest.Canvas(), 0, 0, 4, 4, Rect(0, 0, 2, 2), *sprite, clFuchsia);
    EXPECT_EQ(CountColour(dest, clRed), 16);
    EXPECT_EQ(dest.Canvas().Pixel(4, 0), clWhite);
}

TEST(TransparentDrawing, NoneCopiesEverything) {
    TBitmap dest(4, 4);
    auto sprite = Sprite();
    DrawTransparentBitmapRect(dest.Canvas(), *sprite, clNone, 0, 0, 0, 0, 0, 0, 0, 0);
    EXPECT_EQ(CountColour(dest, clFuchsia), 12);
}

TEST(TransparentDrawing, MonochromeBitmapIsTransparentInWhite) {
    TBitmap dest(2, 1);
    dest.Canvas().Brush.Color = clLime;
    dest.Canvas().FillRect({0, 0, 2, 1});
    TBitmap mono(2, 1);
    mono.Canvas().SetPixel(0, 0, clBlack);
    mono.SetMonochrome(true);
    DrawTransparentBitmapRect(dest.Canvas(), mono, clRed, 0, 0, 0, 0, 0, 0, 0, 0);
    EXPECT_EQ(dest.Canvas().Pixel(0, 0), clBlack);
    EXPECT_EQ(dest.Canvas().Pixel(1, 0), clLime);
}

TEST(TransparentDrawing, PaletteColorSetsTheFlag) {
    EXPECT_EQ(PaletteColor(clRed), 0x020000FFu);
    EXPECT_EQ(PaletteColor(clWindow), 0x02FFFFFFu);
}

namespace {

class TPanel : public TCustomControl {
public:
    using TCustomControl::TCustomControl;
    void Paint() override {
        Canvas().Brush.Color = clBlue;
        Canvas().FillRect({0, 0, 5, 100}); // a blue band at the parent's left
    }
};

class TBox : public TGraphicControl {
public:
    TColor Fill = clYellow;
    using TGraphicControl::TGraphicControl;
    void Paint() override {
        Canvas().Brush.Color = Fill;
        Canvas().FillRect({0, 0, Width(), Height()});
    }
};

} // namespace

TEST(CopyParentImage, ShowsTheParentAndTheSiblingsBelow) {
    TPanel parent;
    parent.Color = clGray;
    parent.SetBounds(0, 0, 100, 100);
    TBox below, self, above;
    below.SetParent(&parent);
    below.SetBounds(12, 10, 4, 4);
    self.SetParent(&parent);
    self.SetBounds(3, 8, 20, 10);
    above.SetParent(&parent);
    above.SetBounds(3, 8, 2, 2);
    above.Fill = clRed;
    TBitmap dest(20, 10);
    CopyParentImage(&self, dest.Canvas());
    EXPECT_EQ(dest.Canvas().Pixel(0, 0), clBlue); // parent's band, x 3-4
    EXPECT_EQ(dest.Canvas().Pixel(1, 5), clBlue);
    EXPECT_EQ(dest.Canvas().Pixel(2, 5), clGray);   // parent's background
    EXPECT_EQ(dest.Canvas().Pixel(9, 2), clYellow); // the sibling below at 12, 10
    EXPECT_EQ(dest.Canvas().Pixel(12, 5), clYellow);
    EXPECT_EQ(dest.Canvas().Pixel(13, 6), clGray);
    EXPECT_EQ(CountColour(dest, clRed), 0); // nothing from above
    EXPECT_EQ(parent.ControlState & csPaintCopy, 0u);
}

TEST(CopyParentImage, NoParentLeavesTheCanvasAlone) {
    TBox orphan;
    orphan.SetBounds(0, 0, 5, 5);
    TBitmap dest(5, 5);
    CopyParentImage(&orphan, dest.Canvas());
    CopyParentImage(nullptr, dest.Canvas());
    EXPECT_EQ(CountColour(dest, clWhite), 25);
}
