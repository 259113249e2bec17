// The drag image on the screen's picture: moves, restrictions, the alpha
// channel and the desktop's drag-image service.

#include "treeview/LazyTrees.h"
#include "treeview/LazyTrees_Globals.h"

#include "platform/EventLoop.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace nuq;

namespace {

constexpr int ScreenW = 320, ScreenH = 200, PicW = 100, PicH = 40;
constexpr uint32_t PictureColour = 0xC82828; // red 200, green 40, blue 40

// A background where every pixel differs from its neighbours.
uint32_t Background(int x, int y) {
    return uint32_t(x & 255) << 16 | uint32_t(y & 255) << 8 | uint32_t((x * 7 + y * 13) & 255);
}

uint32_t ScreenPixel(int x, int y) {
    return GetScreenImage()->Scanline(y)[x] & 0xFFFFFF;
}

// One channel of the blend as the drawing is specified: D + (S - D) * A div 256.
uint32_t Blend(uint32_t d, uint32_t s, int alpha) {
    uint32_t out = 0;
    for (int shift = 0; shift < 24; shift += 8) {
        int dc = int(d >> shift & 255), sc = int(s >> shift & 255);
        out |= uint32_t(std::clamp(dc + (sc - dc) * alpha / 256, 0, 255)) << shift;
    }
    return out;
}

class DragImageTest : public ::testing::Test {
protected:
    void SetUp() override {
        EnsureGuiToolkit();
        tree = std::make_unique<TLazyStringTree>();
        ProcessorHasMMX = true;
        SetScreenSize(ScreenW, ScreenH);
        for (int y = 0; y < ScreenH; ++y)
            for (int x = 0; x < ScreenW; ++x)
                GetScreenImage()->Scanline(y)[x] = 0xFF000000 | Background(x, y);
        source.SetSize(PicW, PicH);
        for (int y = 0; y < PicH; ++y)
            for (int x = 0; x < PicW; ++x) source.Scanline(y)[x] = 0xFF000000 | PictureColour;
    }
    void TearDown() override { RegisterDragSourceHelper({}); }
    static void FillScreen() {
        for (int y = 0; y < ScreenH; ++y)
            for (int x = 0; x < ScreenW; ++x)
                GetScreenImage()->Scanline(y)[x] = 0xFF000000 | Background(x, y);
    }

    // Every screen pixel: the background outside the picture, the blended
    // picture inside; the background copy holds what the picture covers.
    void ExpectScreen(TLTDragImage& image, const std::string& what) {
        TRect pic = Bounds(image.PicturePosition.X, image.PicturePosition.Y, PicW, PicH);
        int wrong = 0;
        for (int y = 0; y < ScreenH && wrong < 3; ++y)
            for (int x = 0; x < ScreenW && wrong < 3; ++x) {
                uint32_t want = pic.Contains({x, y})
                                    ? Blend(Background(x, y), PictureColour, image.Transparency)
                                    : Background(x, y);
                if (ScreenPixel(x, y) != want) {
                    ADD_FAILURE() << what << ": screen pixel " << x << "," << y;
                    ++wrong;
                }
            }
        for (int y = 0; y < PicH && wrong < 3; ++y)
            for (int x = 0; x < PicW && wrong < 3; ++x)
                if ((image.ScreenCopy->Scanline(y)[x] & 0xFFFFFF) !=
                    Background(pic.Left + x, pic.Top + y)) {
                    ADD_FAILURE() << what << ": background copy pixel " << x << "," << y;
                    ++wrong;
                }
    }

    std::unique_ptr<TLazyStringTree> tree;
    TBitmap source;
};

} // namespace

// Overlapping moves in every direction, moves past the picture's size and a
// forced repaint all leave the screen and the background copy exact.
TEST_F(DragImageTest, MovesKeepScreenAndBackgroundExact) {
    struct Case {
        const char* name;
        int dx, dy;
        bool force;
    };
    const Case cases[] = {
        {"5 right", 5, 0, false},          {"5 left", -5, 0, false},
        {"3 down", 0, 3, false},           {"3 up", 0, -3, false},
        {"right and down", 4, 6, false},   {"left and down", -7, 2, false},
        {"right and up", 4, -6, false},    {"left and up", -7, -2, false},
        {"past the width", 105, 0, false}, {"past the height", 0, -45, false},
        {"99 right", 99, 0, false},        {"forced in place", 0, 0, true},
    };
    for (const auto& c : cases) {
        TLTDragImage image(tree.get());
        image.PrepareDrag(source, {110, 80}, {500, 500}, nullptr);
        image.ShowPicture();
        ExpectScreen(image, std::string(c.name) + " before");
        EXPECT_TRUE(image.DragTo({500 + c.dx, 500 + c.dy}, c.force)) << c.name;
        EXPECT_EQ(image.PicturePosition, (TPoint{110 + c.dx, 80 + c.dy})) << c.name;
        ExpectScreen(image, c.name);
        // A second move the other way must find the right background again.
        image.DragTo({500, 500}, false);
        ExpectScreen(image, std::string(c.name) + " and back");
        image.EndDrag();
        EXPECT_EQ(ScreenPixel(130, 90), Background(130, 90)) << c.name;
    }
}

TEST_F(DragImageTest, RestrictionKeepsThePictureOnItsAxis) {
    struct Case {
        TLTImageRestriction restriction;
        TPoint to;
        bool moves;
        TPoint position;
    };
    const Case cases[] = {
        {rmHorizontalOnly, {500, 530}, false, {110, 80}},
        {rmHorizontalOnly, {520, 530}, true, {130, 80}},
        {rmVerticalOnly, {520, 500}, false, {110, 80}},
        {rmVerticalOnly, {520, 510}, true, {110, 90}},
        {rmNone, {500, 500}, false, {110, 80}},
    };
    for (const auto& c : cases) {
        TLTDragImage image(tree.get());
        image.Restriction = c.restriction;
        image.PrepareDrag(source, {110, 80}, {500, 500}, nullptr);
        image.ShowPicture();
        EXPECT_EQ(image.WillMove(c.to), c.moves) << int(c.restriction);
        EXPECT_EQ(image.DragTo(c.to, false), c.moves) << int(c.restriction);
        EXPECT_EQ(image.PicturePosition, c.position) << int(c.restriction);
        ExpectScreen(image, "restricted");
        image.EndDrag();
    }
}

TEST_F(DragImageTest, AlphaFallsFromTheCentre) {
    TLTDragImage image(tree.get());
    source.Scanline(39)[99] = 0xFF00FF00; // the colour key below
    image.ColorKey = clLime;
    image.PrepareDrag(source, {0, 0}, {0, 0}, nullptr);
    struct Case {
        int x, y;
        uint32_t alpha;
    };
    // Centre (50, 20); the larger side is 100.
    for (auto c : {Case{50, 20, 255}, Case{0, 20, 5}, Case{50, 0, 51}, Case{99, 39, 0}})
        EXPECT_EQ(image.Picture->Scanline(c.y)[c.x] >> 24, c.alpha) << c.x << "," << c.y;
}

TEST_F(DragImageTest, UniformTransparencyUnlessFadingOrKeyed) {
    struct Case {
        bool fade;
        TColor key;
        uint32_t corner, centre;
    };
    const Case cases[] = {
        // Plain: every pixel with the constant alpha 128.
        {false, clNone, Blend(Background(10, 10), PictureColour, 128),
         Blend(Background(60, 30), PictureColour, 128)},
        // Fading: the corner's alpha (0) wins; the centre gets 255 * 128 div 256.
        {true, clNone, Background(10, 10), Blend(Background(60, 30), PictureColour, 127)},
        {false, clLime, Background(10, 10), Blend(Background(60, 30), PictureColour, 127)},
    };
    for (const auto& c : cases) {
        TLTDragImage image(tree.get());
        image.Fade = c.fade;
        image.ColorKey = c.key;
        image.PrepareDrag(source, {10, 10}, {0, 0}, nullptr);
        image.ShowPicture();
        EXPECT_EQ(ScreenPixel(10, 10), c.corner) << c.fade;
        EXPECT_EQ(ScreenPixel(60, 30), c.centre) << c.fade;
        image.EndDrag();
    }
}

TEST_F(DragImageTest, ShowHideAndEnd) {
    TLTDragImage image(tree.get());
    image.PrepareDrag(source, {20, 30}, {0, 0}, nullptr);
    EXPECT_EQ(image.States, dgHidden | dgInDrag | dgPrepared);
    EXPECT_TRUE(image.PictureRect().IsEmpty());
    EXPECT_EQ(ScreenPixel(20, 30), Background(20, 30)); // prepared, not drawn
    image.ShowPicture();
    EXPECT_EQ(image.PictureRect(), Bounds(20, 30, PicW, PicH));
    ExpectScreen(image, "shown");
    image.HidePicture();
    EXPECT_EQ(ScreenPixel(20, 30), Background(20, 30));
    EXPECT_FALSE(image.DragTo({15, 0}, false) && image.IsVisible());
    image.ShowPicture();
    EXPECT_EQ(image.PicturePosition, (TPoint{20, 30})); // hidden moves follow the mouse only
    EXPECT_TRUE(image.DragTo({30, 0}, false));
    EXPECT_EQ(image.PicturePosition, (TPoint{35, 30}));
    image.EndDrag();
    EXPECT_EQ(image.States & (dgInDrag | dgPrepared), 0);
    EXPECT_FALSE(image.Picture || image.ScreenCopy || image.BlendImage);
    EXPECT_EQ(ScreenPixel(40, 40), Background(40, 40));
}

// With the desktop's drag-image service the picture is the service's; a
// service that refuses it leaves the drawing to the drag image.
TEST_F(DragImageTest, DesktopServiceTakesOverOrFallsBack) {
    struct FakeHelper : IDragSourceHelper {
        HRESULT answer = S_OK;
        TShDragImage seen;
        HRESULT InitializeFromBitmap(const TShDragImage& image, IDataObject*) override {
            seen = image;
            DeleteObject(image.DragImage);
            return answer;
        }
    };
    auto helper = std::make_shared<FakeHelper>();
    RegisterDragSourceHelper([helper] { return helper; });
    auto data = std::make_shared<TLTDataObject>(tree.get(), false);

    TLTDragImage image(tree.get());
    image.PrepareDrag(source, {20, 30}, {0, 0}, data.get());
    EXPECT_EQ(image.States, dgSystemSupport);
    EXPECT_EQ(helper->seen.DragImageSize, (TPoint{PicW, PicH}));
    EXPECT_EQ(helper->seen.Offset, (TPoint{PicW / 2, PicH / 2}));
    image.ShowPicture();
    EXPECT_TRUE(image.DragTo({40, 40}, false));
    image.HidePicture();
    EXPECT_EQ(ScreenPixel(25, 35), Background(25, 35));
    EXPECT_EQ(ScreenPixel(65, 75), Background(65, 75));
    image.EndDrag();

    helper->answer = E_FAIL;
    TLTDragImage fallback(tree.get());
    fallback.PrepareDrag(source, {20, 30}, {0, 0}, data.get());
    EXPECT_EQ(fallback.States, dgHidden | dgInDrag | dgPrepared);
}

// After a window painted under the hidden picture, the background copy takes
// the new paint where it meets the picture and the visible region allows.
TEST_F(DragImageTest, RecaptureTakesTheTreesNewPaint) {
    SetMainThread();
    struct Painted : TCustomControl {
        void Paint() override {
            Canvas().Brush.Color = clRed;
            Canvas().FillRect(ClientRect());
        }
    } window;
    window.SetBounds(50, 50, 100, 100);
    window.HandleNeeded();
    struct Case {
        HRGN region;
        int firstRed; // picture column where the red starts
    };
    HRGN right = CreateRectRgn(130, 0, 400, 300);
    for (auto c : {Case{nullptr, 0}, Case{right, 10}}) {
        FillScreen(); // the window's red reached the screen when the picture went
        TLTDragImage image(tree.get());
        image.PrepareDrag(source, {120, 60}, {0, 0}, nullptr);
        image.ShowPicture();
        image.RecaptureScreenCopy(window, {0, 0, 100, 100}, c.region, false, true);
        for (int x : {0, 9, 10, 29, 30, 60})
            for (int y : {0, 39}) {
                bool red = x >= c.firstRed && x < 30;
                EXPECT_EQ(image.ScreenCopy->Scanline(y)[x] & 0xFFFFFF,
                          red ? 0xFF0000u : Background(120 + x, 60 + y))
                    << x << "," << y;
                uint32_t under = red ? 0xFF0000u : Background(120 + x, 60 + y);
                EXPECT_EQ(ScreenPixel(120 + x, 60 + y), Blend(under, PictureColour, 128))
                    << x << "," << y;
            }
        image.EndDrag();
    }
    DeleteObject(right);
}
