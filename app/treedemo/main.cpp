// A window showing the tree control's shared check-image strips and a few
// bitmaps drawn with a transparent colour. "--screenshot FILE" saves the
// window as PNG and exits instead of showing it.

#include "foundation/gui/fhWinUtils.h"
#include "platform/EventLoop.h"
#include "platform/gui/WindowHost.h"
#include "treeview/LazyTrees.h"

#include <cstring>
#include <iostream>

using namespace nuq;

namespace {

// A 24 x 24 picture on magenta: a red disc, a navy frame and a green bar.
std::unique_ptr<TBitmap> Sprite() {
    auto b = std::make_unique<TBitmap>(24, 24);
    TCanvas& c = b->Canvas();
    c.Brush.Color = clFuchsia;
    c.FillRect({0, 0, 24, 24});
    c.Brush.Color = clRed;
    c.Pen.Color = clMaroon;
    c.Ellipse(3, 3, 21, 21);
    c.Brush.Color = clNavy;
    c.FrameRect({1, 1, 23, 23});
    c.Brush.Color = clGreen;
    c.FillRect({6, 11, 18, 14});
    return b;
}

class TDemoForm : public TCustomControl {
public:
    using TCustomControl::TCustomControl;

protected:
    void Paint() override {
        TCanvas& c = Canvas();
        c.Brush.Color = clBtnFace;
        c.FillRect(ClientRect());
        struct Row { const char16_t* name; TCustomImageList* list; };
        const Row rows[] = {{u"LT_CHECK_LIGHT", LightCheckImages}, {u"LT_CHECK_DARK", DarkCheckImages},
                            {u"LT_TICK_LIGHT", LightTickImages},   {u"LT_TICK_DARK", DarkTickImages},
                            {u"LT_FLAT", FlatImages},              {u"LT_XP", XPImages},
                            {u"LT_UTILITIES", UtilityImages},      {u"Platform", PlatformCheckImages},
                            {u"Platform flat", PlatformFlatCheckImages}};
        int y = 8;
        c.Brush.Style = bsClear;
        c.Font.Color = clBtnText;
        for (const Row& r : rows) {
            c.TextOut(8, y + 2, r.name);
            for (int i = 0; r.list && i < r.list->Count(); ++i) {
                r.list->DrawingStyle = TCustomImageList::dsTransparent;
                r.list->Draw(c, 120 + i * 20, y, i);
            }
            y += 22;
        }
        c.Brush.Style = bsSolid;
        y += 10;
        c.Brush.Style = bsClear;
        c.TextOut(8, y, u"Transparent bitmaps: as they are, default colour, stretched, source part");
        c.Brush.Style = bsSolid;
        y += 20;
        auto sprite = Sprite();
        DrawTransparentBitmapRect(c, *sprite, clNone, 8, y, 0, 0, 0, 0, 0, 0);
        DrawTransparentBitmapRect(c, *sprite, clDefault, 48, y, 0, 0, 0, 0, 0, 0);
        DrawTransparentBitmapRect(c, *sprite, clFuchsia, 88, y, 48, 48, 0, 0, 0, 0);
        DrawTransparentBitmap(c, 152, y, 72, 72, Rect(0, 0, 12, 12), *sprite, clDefault);
        c.Brush.Color = clWhite;
        c.FillRect({240, y, 340, y + 72});
        DrawTransparentBitmapRect(c, *sprite, clDefault, 250, y + 10, 80, 52, 0, 0, 0, 0);
    }
};

} // namespace

int main(int argc, char** argv) {
    InitGuiApplication(argc, argv);
    InitializeGlobalStructures();
    auto form = NewComponent<TDemoForm>();
    form->SetBounds(100, 100, 660, 340);
    form->Color = clBtnFace;
    HWND h = form->Handle();
    SetWindowText(h, "Lazy tree: check images");
    TWindowHost host(h);
    if (argc == 3 && std::strcmp(argv[1], "--screenshot") == 0) {
        ProcessMessagesUntil([] { return false; }, 100);
        UpdateWindow(h);
        if (!host.SaveImage(argv[2])) {
            std::cerr << "cannot save " << argv[2] << "\n";
            return 1;
        }
        return 0;
    }
    host.Show();
    return RunGuiApplication();
}
