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
    struct Case {
        DWORD rop;
        COLORREF src, dst, out;
    };
    for (auto c :
         {Case{SRCCOPY, 0x123456, 0xABCDEF, 0x123456}, Case{SRCAND, 0x00FF0F, 0x0F0FFF, 0x000F0F},
          Case{SRCPAINT, 0x00FF00, 0x0000FF, 0x00FFFF},
          Case{SRCINVERT, 0xFFFFFF, 0x0F0F0F, 0xF0F0F0}, Case{NOTSRCCOPY, 0x00FF00, 0, 0xFF00FF},
          Case{DSTINVERT, 0, 0x00FF00, 0xFF00FF}, Case{SRCERASE, 0xFFFFFF, 0x00FF00, 0xFF00FF},
          Case{BLACKNESS, 0x123456, 0x654321, 0}, Case{WHITENESS, 0, 0, 0xFFFFFF}}) {
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
            if (c == 0x0000FF)
                ++red;
            else if (c != 0xFFFFFF)
                ++other;
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
    EXPECT_EQ(GetPixel(d.DC, 0, 0), 0x0000FFu);                    // outside untouched
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

TEST(Gdi, EdgesTakeTheClassicColours) {
    MemDC d(10, 10, 32, 0);
    TRect r{0, 0, 10, 10};
    DrawEdge(d.DC, r, EDGE_RAISED, BF_RECT | BF_MIDDLE | BF_ADJUST);
    EXPECT_EQ(r, Rect(2, 2, 8, 8));
    EXPECT_EQ(GetPixel(d.DC, 0, 0), GetSysColor(COLOR_3DLIGHT));
    EXPECT_EQ(GetPixel(d.DC, 9, 9), GetSysColor(COLOR_3DDKSHADOW));
    EXPECT_EQ(GetPixel(d.DC, 1, 1), GetSysColor(COLOR_BTNHIGHLIGHT));
    EXPECT_EQ(GetPixel(d.DC, 8, 8), GetSysColor(COLOR_BTNSHADOW));
    EXPECT_EQ(GetPixel(d.DC, 5, 5), GetSysColor(COLOR_BTNFACE));
    TRect s{0, 0, 10, 10};
    DrawEdge(d.DC, s, EDGE_SUNKEN, BF_TOP); // one side only, no adjusting
    EXPECT_EQ(s, Rect(0, 0, 10, 10));
    EXPECT_EQ(GetPixel(d.DC, 5, 0), GetSysColor(COLOR_BTNSHADOW));
    EXPECT_EQ(GetPixel(d.DC, 5, 1), GetSysColor(COLOR_3DDKSHADOW));
}

TEST(Gdi, FocusRectangleTwiceRestoresThePixels) {
    MemDC d(8, 8, 32, 0x336699);
    DrawFocusRect(d.DC, {1, 1, 7, 7});
    EXPECT_EQ(GetPixel(d.DC, 1, 1), 0x336699u ^ 0xFFFFFFu);
    EXPECT_EQ(GetPixel(d.DC, 2, 1), 0x336699u); // every other pixel
    EXPECT_EQ(GetPixel(d.DC, 3, 3), 0x336699u); // inside untouched
    DrawFocusRect(d.DC, {1, 1, 7, 7});
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) EXPECT_EQ(GetPixel(d.DC, x, y), 0x336699u);
}

TEST(Gdi, ExcludedClipAndClipBox) {
    MemDC d(10, 10);
    ExcludeClipRect(d.DC, 2, 2, 4, 4);
    HBRUSH red = CreateSolidBrush(0x0000FF);
    FillRect(d.DC, {0, 0, 10, 10}, red);
    EXPECT_EQ(GetPixel(d.DC, 2, 2), CLR_INVALID); // outside the clip: not readable either
    SelectClipRgn(d.DC, nullptr);
    EXPECT_EQ(GetPixel(d.DC, 2, 2), 0xFFFFFFu);
    EXPECT_EQ(GetPixel(d.DC, 4, 4), 0x0000FFu);
    IntersectClipRect(d.DC, 3, 3, 6, 8);
    TRect box;
    EXPECT_EQ(GetClipBox(d.DC, box), int(SIMPLEREGION));
    EXPECT_EQ(box, Rect(3, 3, 6, 8));
    SetWindowOrgEx(d.DC, 1, 1);
    GetClipBox(d.DC, box);
    EXPECT_EQ(box, Rect(4, 4, 7, 9)); // the same pixels in the moved coordinates
    DeleteObject(red);
}

TEST(Gdi, XorPenLineTwiceLeavesNothing) {
    MemDC d(10, 3, 32, 0x123456);
    HGDIOBJ old = SelectObject(d.DC, CreatePen(PS_SOLID, 1, 0xFFFFFF));
    SetROP2(d.DC, R2_XORPEN);
    MoveToEx(d.DC, 0, 1);
    LineTo(d.DC, 9, 1);
    EXPECT_EQ(GetPixel(d.DC, 0, 1), 0x123456u ^ 0xFFFFFFu);
    EXPECT_EQ(GetPixel(d.DC, 9, 1), 0x123456u); // the end point is not drawn
    MoveToEx(d.DC, 0, 1);
    LineTo(d.DC, 9, 1);
    EXPECT_EQ(GetPixel(d.DC, 4, 1), 0x123456u);
    DeleteObject(SelectObject(d.DC, old));
}

TEST(Gdi, DottedPenDrawsEveryOtherPixel) {
    MemDC d(6, 1);
    HGDIOBJ old = SelectObject(d.DC, CreatePen(PS_DOT, 1, 0));
    MoveToEx(d.DC, 0, 0);
    LineTo(d.DC, 6, 0);
    EXPECT_EQ(GetPixel(d.DC, 0, 0), 0u);
    EXPECT_EQ(GetPixel(d.DC, 1, 0), 0xFFFFFFu);
    EXPECT_EQ(GetPixel(d.DC, 2, 0), 0u);
    DeleteObject(SelectObject(d.DC, old));
}

TEST(Gdi, CopyWithinOneBitmapReadsTheOldPixels) {
    MemDC d(4, 1);
    SetPixel(d.DC, 0, 0, 0x0000FF);
    SetPixel(d.DC, 1, 0, 0x00FF00);
    BitBlt(d.DC, 1, 0, 3, 1, d.DC, 0, 0, SRCCOPY);
    EXPECT_EQ(GetPixel(d.DC, 1, 0), 0x0000FFu);
    EXPECT_EQ(GetPixel(d.DC, 2, 0), 0x00FF00u);
}

TEST(Gdi, PatternInvertAndSaveRestoreDepths) {
    MemDC d(2, 1, 32, 0x00FF00);
    HGDIOBJ old = SelectObject(d.DC, CreateSolidBrush(0xFFFFFF));
    PatBlt(d.DC, 0, 0, 1, 1, PATINVERT);
    EXPECT_EQ(GetPixel(d.DC, 0, 0), 0xFF00FFu);
    DeleteObject(SelectObject(d.DC, old));
    EXPECT_EQ(SaveDC(d.DC), 1);
    SetBkColor(d.DC, 1);
    EXPECT_EQ(SaveDC(d.DC), 2);
    SetBkColor(d.DC, 2);
    EXPECT_TRUE(RestoreDC(d.DC, 1));
    EXPECT_EQ(GetBkColor(d.DC), 0xFFFFFFu);
    EXPECT_FALSE(RestoreDC(d.DC, 1)); // that level is gone
}

TEST(Gdi, DrawTextMeasuresLinesAndAligns) {
    MemDC d(100, 40);
    TTextMetric tm;
    GetTextMetrics(d.DC, tm);
    TRect r{10, 5, 11, 6};
    int h = DrawTextW(d.DC, u"ab\r\nabcdef", -1, r, DT_CALCRECT);
    TPoint wide;
    GetTextExtentPoint32W(d.DC, u"abcdef", 6, wide);
    EXPECT_EQ(h, 2 * tm.Height);
    EXPECT_EQ(r, Rect(10, 5, 10 + wide.X, 5 + 2 * tm.Height));
    TRect line{0, 0, 100, 40};
    SetBkMode(d.DC, TRANSPARENT);
    SetTextColor(d.DC, 0x0000FF);
    DrawTextW(d.DC, u"X", 1, line, DT_SINGLELINE | DT_RIGHT | DT_VCENTER);
    int minX = 100, minY = 40, maxY = 0;
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 100; ++x)
            if (GetPixel(d.DC, x, y) == 0x0000FF) {
                minX = std::min(minX, x);
                minY = std::min(minY, y);
                maxY = std::max(maxY, y);
            }
    EXPECT_GT(minX, 85);
    EXPECT_GT(minY, 10);
    EXPECT_LT(maxY, 30);
}

TEST(Gdi, BitmapInfoIsATopDownSection) {
    HBITMAP b = CreateBitmap(3, 2, 32);
    TBitmapInfo info;
    ASSERT_TRUE(GetBitmapInfo(b, info));
    EXPECT_EQ(info.Width, 3);
    EXPECT_EQ(info.Height, -2);
    EXPECT_EQ(info.BitsPerPixel, 32);
    EXPECT_EQ(info.Bits, b->Bits.data());
    EXPECT_FALSE(GetBitmapInfo(nullptr, info));
    DeleteObject(b);
}

TEST(Gdi, DeletedObjectsAreNeitherSelectedNorFollowed) {
    MemDC d(4, 1);
    HPEN pen = CreatePen(PS_SOLID, 1, 0x0000FF);
    HGDIOBJ old = SelectObject(d.DC, pen);
    ASSERT_TRUE(DeleteObject(pen)); // the context keeps drawing with its copy
    MoveToEx(d.DC, 0, 0);
    LineTo(d.DC, 2, 0);
    EXPECT_EQ(GetPixel(d.DC, 1, 0), 0x0000FFu);
    EXPECT_EQ(SelectObject(d.DC, pen), nullptr); // stale: refused
    EXPECT_FALSE(DeleteObject(pen));
    SelectObject(d.DC, old);
    EXPECT_FALSE(DeleteObject(GetStockObject(BLACK_PEN)));
}
