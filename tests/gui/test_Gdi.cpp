// Device contexts: copies with raster operations, colour and monochrome
// conversions, origins and clipping, checked as pixels.

#include "platform/gui/Gdi.h"

#include <gtest/gtest.h>

using namespace nuq;

namespace {

struct MemDC {
    HDC DC;
    HBITMAP Bmp;
    HGDIOBJ Old;
    MemDC(int w, int h, int bpp = 32, COLORREF fill = 0xFFFFFF) {
        DC = CreateCompatibleDC(nullptr);
        Bmp = CreateBitmap(w, h, bpp);
        Old = SelectObject(DC, Bmp);
        HBRUSH b = CreateSolidBrush(fill);
        FillRect(DC, {0, 0, w, h}, b);
        DeleteObject(b);
    }
    ~MemDC() {
        SelectObject(DC, Old);
        DeleteDC(DC);
        DeleteObject(Bmp);
    }
};

} // namespace

TEST(Gdi, RasterOperationsCombineSourceAndDestination) {
    struct Case { DWORD rop; COLORREF src, dst, out; };
    for (auto c : {Case{SRCCOPY, 0x123456, 0xABCDEF, 0x123456}, Case{SRCAND, 0x00FF0F, 0x0F0FFF, 0x000F0F},
                   Case{SRCPAINT, 0x00FF00, 0x0000FF, 0x00FFFF}, Case{SRCINVERT, 0xFFFFFF, 0x0F0F0F, 0xF0F0F0},
                   Case{NOTSRCCOPY, 0x00FF00, 0, 0xFF00FF}, Case{DSTINVERT, 0, 0x00FF00, 0xFF00FF},
                   Case{SRCERASE, 0xFFFFFF, 0x00FF00, 0xFF00FF}, Case{BLACKNESS, 0x123456, 0x654321, 0},
                   Case{WHITENESS, 0, 0, 0xFFFFFF}}) {
        MemDC s(4, 4, 32, c.src), d(4, 4, 32, c.dst);
        BitBlt(d.DC, 0, 0, 4, 4, s.DC, 0, 0, c.rop);
        EXPECT_EQ(GetPixel(d.DC, 2, 2), c.out) << std::hex << c.rop;
    }
}

TEST(Gdi, ColourToMonochromeUsesTheSourceBackground) {
    MemDC colour(2, 1), mono(2, 1, 1, 0);
    SetPixel(colour.DC, 0, 0, RGB(255, 0, 255));
    SetPixel(colour.DC, 1, 0, RGB(0, 128, 0));
    SetBkColor(colour.DC, RGB(255, 0, 255));
    BitBlt(mono.DC, 0, 0, 2, 1, colour.DC, 0, 0, SRCCOPY);
    EXPECT_EQ(GetPixel(mono.DC, 0, 0), 0xFFFFFFu); // background colour: 1
    EXPECT_EQ(GetPixel(mono.DC, 1, 0), 0u);
    // Back to colour: 1 takes the destination's background, 0 its text colour.
    MemDC out(2, 1);
    SetBkColor(out.DC, RGB(1, 2, 3));
    SetTextColor(out.DC, RGB(4, 5, 6));
    BitBlt(out.DC, 0, 0, 2, 1, mono.DC, 0, 0, SRCCOPY);
    EXPECT_EQ(GetPixel(out.DC, 0, 0), RGB(1, 2, 3));
    EXPECT_EQ(GetPixel(out.DC, 1, 0), RGB(4, 5, 6));
}

TEST(Gdi, StretchDoublesEveryPixel) {
    MemDC s(2, 1), d(4, 2);
    SetPixel(s.DC, 0, 0, 0x0000FF);
    SetPixel(s.DC, 1, 0, 0x00FF00);
    StretchBlt(d.DC, 0, 0, 4, 2, s.DC, 0, 0, 2, 1, SRCCOPY);
    EXPECT_EQ(GetPixel(d.DC, 1, 1), 0x0000FFu);
    EXPECT_EQ(GetPixel(d.DC, 2, 0), 0x00FF00u);
}

TEST(Gdi, OriginAndClipMoveAndLimitDrawing) {
    MemDC d(10, 10);
    SaveDC(d.DC);
    SetWindowOrgEx(d.DC, -3, -2);
    IntersectClipRect(d.DC, 0, 0, 2, 2);
    HBRUSH red = CreateSolidBrush(0x0000FF);
    FillRect(d.DC, {0, 0, 5, 5}, red);
    RestoreDC(d.DC, -1);
    EXPECT_EQ(GetPixel(d.DC, 3, 2), 0x0000FFu);
    EXPECT_EQ(GetPixel(d.DC, 4, 3), 0x0000FFu);
    EXPECT_EQ(GetPixel(d.DC, 5, 2), 0xFFFFFFu); // clipped
    EXPECT_EQ(GetPixel(d.DC, 2, 2), 0xFFFFFFu);
    FillRect(d.DC, {0, 0, 1, 1}, red); // the restored context has no clip and no offset
    EXPECT_EQ(GetPixel(d.DC, 0, 0), 0x0000FFu);
    DeleteObject(red);
}

TEST(Gdi, RectangleOutlineEndsBeforeRightAndBottom) {
    MemDC d(6, 6);
    HGDIOBJ oldBrush = SelectObject(d.DC, GetStockObject(NULL_BRUSH));
    Rectangle(d.DC, 1, 1, 5, 5);
    SelectObject(d.DC, oldBrush);
    EXPECT_EQ(GetPixel(d.DC, 1, 1), 0u);
    EXPECT_EQ(GetPixel(d.DC, 4, 4), 0u);
    EXPECT_EQ(GetPixel(d.DC, 5, 5), 0xFFFFFFu);
    EXPECT_EQ(GetPixel(d.DC, 2, 2), 0xFFFFFFu);
}

TEST(Gdi, MonochromePatternBrushUsesTextAndBackground) {
    HBITMAP pat = CreateBitmap(8, 8, 1);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) pat->Scanline(y)[x] = ((x + y) & 1) ? 0xFFFFFFFFu : 0xFF000000u;
    HBRUSH b = CreatePatternBrush(pat);
    MemDC d(4, 4);
    SetTextColor(d.DC, 0x0000FF);
    SetBkColor(d.DC, 0x00FF00);
    FillRect(d.DC, {0, 0, 4, 4}, b);
    EXPECT_EQ(GetPixel(d.DC, 0, 0), 0x0000FFu);
    EXPECT_EQ(GetPixel(d.DC, 1, 0), 0x00FF00u);
    DeleteObject(b);
    DeleteObject(pat);
}

TEST(Gdi, TextIsDrawnInTheTextColourWithoutBlending) {
    MemDC d(60, 20);
    SetBkMode(d.DC, TRANSPARENT);
    SetTextColor(d.DC, 0x0000FF);
    TextOutW(d.DC, 2, 2, u"Node", -1);
    int red = 0, other = 0;
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 60; ++x) {
            COLORREF c = GetPixel(d.DC, x, y);
            if (c == 0x0000FF) ++red;
            else if (c != 0xFFFFFF) ++other;
        }
    EXPECT_GT(red, 10);
    EXPECT_EQ(other, 0);
    TPoint size;
    GetTextExtentPoint32W(d.DC, u"Node", 4, size);
    EXPECT_GT(size.X, 10);
    TPoint size2;
    GetTextExtentPoint32W(d.DC, u"Node", 4, size2);
    EXPECT_EQ(size, size2);
}

TEST(Gdi, CheckBoxFrameControlHasItsTick) {
    MemDC d(16, 16, 32, 0x0000FF);
    DrawFrameControl(d.DC, {1, 2, 14, 15}, DFC_BUTTON, DFCS_BUTTONCHECK | DFCS_CHECKED);
    EXPECT_EQ(GetPixel(d.DC, 0, 0), 0x0000FFu);               // outside untouched
    EXPECT_EQ(GetPixel(d.DC, 1, 2), GetSysColor(COLOR_BTNSHADOW)); // sunken edge
    EXPECT_EQ(GetPixel(d.DC, 4, 5), GetSysColor(COLOR_WINDOW));
    EXPECT_EQ(GetPixel(d.DC, 4 + 5, 5 + 3), GetSysColor(COLOR_WINDOWTEXT)); // the tick's middle
}

TEST(Gdi, BitmapSelectedIntoAContextIsNotDeleted) {
    HDC dc = CreateCompatibleDC(nullptr);
    HBITMAP b = CreateBitmap(2, 2, 32);
    HGDIOBJ old = SelectObject(dc, b);
    EXPECT_FALSE(DeleteObject(b));
    SelectObject(dc, old);
    EXPECT_TRUE(DeleteObject(b));
    DeleteDC(dc);
}
