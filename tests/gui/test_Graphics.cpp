// Fonts: the owner hears of every real change once, however it is written.

#include "platform/gui/Graphics.h"

#include <gtest/gtest.h>

using namespace nuq;

TEST(Graphics, FontTellsItsOwnerOfEachRealChange) {
    struct Case {
        const char* what;
        void (*write)(TFont&);
        int notices;
    };
    const Case cases[] = {
        {"colour", [](TFont& f) { f.Color = clRed; }, 1},
        {"same colour", [](TFont& f) { f.Color = clWindowText; }, 0},
        {"height", [](TFont& f) { f.Height = -20; }, 1},
        {"name", [](TFont& f) { f.Name = "DejaVu Serif"; }, 1},
        {"same name", [](TFont& f) { f.Name = TFont().Name; }, 0},
        {"style", [](TFont& f) { f.Style = fsBold | fsItalic; }, 1},
        {"value of another font", [](TFont& f) { f.Height = TFont(f).Height + 1; }, 1},
        {"assign of four changes",
         [](TFont& f) {
             TFont o;
             o.Name = "DejaVu Serif";
             o.Height = -9;
             o.Style = fsItalic;
             o.Color = clRed;
             f.Assign(o);
         },
         1},
        {"assign of the same", [](TFont& f) { f.Assign(TFont()); }, 0},
        {"copy assignment",
         [](TFont& f) {
             TFont o;
             o.Style = fsBold;
             f = o;
         },
         1},
        // A copy is another font: its changes are not this one's.
        {"write to copies",
         [](TFont& f) {
             TFont copy(f);
             copy.Color = clRed;
             auto height = f.Height;
             height = -30;
         },
         0},
    };
    for (const Case& c : cases) {
        TFont f;
        f.Handle();
        int notices = 0;
        f.OnChange = [&](TFont& sender) {
            EXPECT_EQ(&sender, &f);
            ++notices;
        };
        c.write(f);
        EXPECT_EQ(notices, c.notices) << c.what;
        // The handle is made again for the new values.
        EXPECT_EQ(f.Handle()->Height, f.Height) << c.what;
        EXPECT_EQ(f.Handle()->Face, f.Name) << c.what;
    }
}
