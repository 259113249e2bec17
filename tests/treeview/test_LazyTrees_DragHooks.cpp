// The tree's drag hooks: the owner's drag manager, the framework's own drag
// kind (start, messages, end), and redrawing under a shown drag image.

#include "treeview/LazyTrees.h"

#include "platform/EventLoop.h"

#include <gtest/gtest.h>

using namespace nuq;

namespace {

struct DragHookFixture : ::testing::Test {
    std::unique_ptr<TLazyStringTree> Tree;
    void SetUp() override {
        SetMainThread();
        Tree = NewComponent<TLazyStringTree>();
        Tree->SetBounds(0, 0, 200, 150);
    }
    void TearDown() override { Tree.reset(); }
};

using DragHooks = DragHookFixture;

// An owner's manager that counts the drop-target calls reaching it.
struct OwnerDragManager : TLTDragManager {
    using TLTDragManager::TLTDragManager;
    int Leaves = 0;
    HRESULT DragLeave() override {
        ++Leaves;
        return TLTDragManager::DragLeave();
    }
};

// The owner is asked for the drag manager first; the tree makes its own only
// when the owner gives none, and the window's drop target is that manager.
TEST_F(DragHooks, OwnerSuppliesTheDragManager) {
    for (bool ownerGivesOne : {true, false}) {
        Tree = NewComponent<TLazyStringTree>();
        std::shared_ptr<OwnerDragManager> given;
        int asked = 0;
        Tree->OnCreateDragManager = [&](TBaseLazyTree& t, std::shared_ptr<ILTDragManager>& m) {
            ++asked;
            if (ownerGivesOne) m = given = std::make_shared<OwnerDragManager>(&t);
        };
        HWND h = Tree->Handle();
        ILTDragManager* m = Tree->DragManager();
        EXPECT_EQ(asked, 1);
        EXPECT_EQ(Tree->DragManager(), m) << "kept, not asked again";
        EXPECT_EQ(asked, 1);
        EXPECT_EQ(RegisteredDropTarget(h), static_cast<IDropTarget*>(m));
        if (ownerGivesOne) {
            EXPECT_EQ(m, given.get());
            static_cast<IDropTarget*>(m)->DragLeave();
            EXPECT_EQ(given->Leaves, 1);
        } else
            EXPECT_NE(dynamic_cast<TLTDragManager*>(m), nullptr);
    }
}

// A repaint under a shown drag image reaches the window and, where the
// picture covers the tree, the picture's background copy and the screen.
TEST_F(DragHooks, RedrawUnderTheDragImageRefreshesItsBackground) {
    EnsureGuiToolkit();
    ProcessorHasMMX = true;
    SetScreenSize(320, 200);
    constexpr uint32_t Backdrop = 0x00FF00, PictureColour = 0xC82828;
    TBitmap picture;
    picture.SetSize(60, 30);
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 60; ++x) picture.Scanline(y)[x] = 0xFF000000 | PictureColour;
    for (bool shown : {true, false}) {
        HBITMAP screen = GetScreenImage();
        std::fill(screen->Bits.begin(), screen->Bits.end(), 0xFF000000 | Backdrop);
        Tree = NewComponent<TLazyStringTree>();
        Tree->SetBounds(20, 20, 200, 150);
        Tree->Color = clWhite;
        HWND wnd = Tree->Handle();
        UpdateWindow(wnd);
        TPoint origin{};
        MapWindowPoints(wnd, 0, &origin, 1);
        TLTDragImage& image = Tree->DragImage();
        image.PrepareDrag(picture, {origin.X + 80, origin.Y + 40}, {0, 0}, nullptr);
        if (shown) image.ShowPicture();
        Tree->Color = clBlue;
        UpdateWindowAndDragImage(Tree.get(), Tree->ClientRect(), false, true);
        HDC dc = GetDC(wnd);
        EXPECT_EQ(GetPixel(dc, 5, 5) & 0xFFFFFF, ColorToRGB(clBlue)) << shown;
        ReleaseDC(wnd, dc);
        const uint32_t blue = 0x0000FF; // the screen's pixels are 0xRRGGBB
        const uint32_t under = image.ScreenCopy->Scanline(10)[10] & 0xFFFFFF;
        const uint32_t onScreen = screen->Scanline(origin.Y + 50)[origin.X + 90] & 0xFFFFFF;
        if (shown) {
            EXPECT_EQ(under, blue);
            EXPECT_NE(onScreen, Backdrop);
            EXPECT_NE(onScreen, PictureColour) << "blended over the new paint";
        } else
            EXPECT_EQ(onScreen, Backdrop) << "no picture: the screen is left alone";
        image.EndDrag();
    }
}

} // namespace
