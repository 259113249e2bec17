// The tree unit's shared routines: clipboard registry, check images,
// blending, drag rectangles, text helpers, buffers and accessibility.

#include "treeview/LazyTrees.h"
#include "treeview/LazyTrees_Globals.h"

#include "platform/EventLoop.h"
#include "platform/ScopeGuard.h"
#include "platform/gui/OleAcc.h"

#include <gtest/gtest.h>

using namespace nuq;

namespace {

// Makes sure the one-time set-up has run.
void Globals() {
    if (!GlobalsInitialised) InitializeGlobalStructures();
}

std::vector<std::string> Names(const std::vector<TFormatEtc>& formats) {
    std::vector<std::string> out;
    for (const auto& f : formats) {
        std::string n = GetClipboardFormatName(f.cfFormat);
        if (f.cfFormat == CF_TEXT) n = "Plain text";
        if (f.cfFormat == CF_UNICODETEXT) n = "Unicode text";
        out.push_back(n);
    }
    return out;
}

} // namespace

TEST(ClipboardFormatList, StringTreeOffersSevenFormatsInPriorityOrder) {
    Globals();
    std::vector<TFormatEtc> formats;
    InternalClipboardFormats()->FormatsForClass(TCustomLazyStringTree::ClassInfo(), formats,
                                                nullptr);
    EXPECT_EQ(Names(formats),
              (std::vector<std::string>{"Lazy Tree Data", "HTML Format",
                                        "Rich Text Format Without Objects", "Rich Text Format",
                                        "CSV", "Unicode text", "Plain text"}));
    for (const auto& f : formats) {
        EXPECT_EQ(f.dwAspect, 1u);
        EXPECT_EQ(f.lindex, -1);
        EXPECT_EQ(f.tymed, 1u);
        EXPECT_EQ(f.ptd, nullptr);
    }
    InternalClipboardFormats()->FormatsForClass(TBaseLazyTree::ClassInfo(), formats, nullptr);
    EXPECT_EQ(Names(formats), (std::vector<std::string>{"Lazy Tree Data"}));
}

TEST(ClipboardFormatList, AllowedNamesAndLookupIgnoreCase) {
    Globals();
    std::vector<TFormatEtc> formats;
    std::vector<std::string> allowed{"csv"};
    InternalClipboardFormats()->FormatsForClass(TCustomLazyStringTree::ClassInfo(), formats,
                                                &allowed);
    ASSERT_EQ(formats.size(), 1u);
    EXPECT_EQ(formats[0].cfFormat, CsvFormat);
    WORD id = 0;
    EXPECT_EQ(InternalClipboardFormats()->FindByName("csv", id),
              TCustomLazyStringTree::ClassInfo());
    EXPECT_EQ(id, CsvFormat);
    WORD untouched = 77;
    EXPECT_EQ(InternalClipboardFormats()->FindByName("No such format", untouched), nullptr);
    EXPECT_EQ(untouched, 77);
    EXPECT_GE(TreeDataFormat, 0xC000);
    EXPECT_NE(TreeReferenceFormat, 0);
    EXPECT_EQ(InternalClipboardFormats()->FindByName("Lazy Tree Reference", untouched), nullptr);
}

TEST(ClipboardFormatList, PredefinedIdsTakeTheirNamesAndUnknownOnesAreSkipped) {
    Globals();
    TClipboardFormatList& list = *InternalClipboardFormats();
    size_t before = list.Entries().size();
    static const TTreeClass probe{"Probe", nullptr};
    RegisterTreeClipboardFormat(WORD(0), &probe, 1);
    EXPECT_EQ(list.Entries().size(), before);
    RegisterTreeClipboardFormat(WORD(15), &probe, 1);
    ASSERT_EQ(list.Entries().size(), before + 1);
    EXPECT_EQ(list.Entries().front()->Description, "File name(s)"); // priority 1 sorts first
    std::vector<TFormatEtc> formats;
    list.FormatsForClass(&probe, formats, nullptr);
    EXPECT_EQ(formats.size(), 1u);
}

TEST(CheckImages, StripsSplitIntoSquaresAndPlatformSetsHave25) {
    Globals();
    for (TCustomImageList* l : {LightCheckImages, DarkCheckImages, LightTickImages, DarkTickImages,
                                FlatImages, XPImages}) {
        ASSERT_NE(l, nullptr);
        EXPECT_EQ(l->Count(), 25);
        EXPECT_EQ(l->Width(), 16);
    }
    EXPECT_EQ(UtilityImages->Count(), 9);
    EXPECT_EQ(PlatformCheckImages->Count(), 25);
    EXPECT_EQ(PlatformFlatCheckImages->Count(), 25);
    EXPECT_EQ(PlatformCheckImages->Width(), 16);
    TCustomImageList list(16, 16);
    LoadCheckImageStrip(list, "no such strip", true);
    EXPECT_EQ(list.Count(), 0);
}

TEST(CheckImages, KeyColourIsTransparentAndTheCheckedBoxHasItsMark) {
    Globals();
    TBitmap target(16, 16);
    target.Canvas().Brush.Color = clLime;
    target.Canvas().FillRect({0, 0, 16, 16});
    // The generated sets have a white background: the key colour shows as white.
    PlatformCheckImages->Draw(target.Canvas(), 0, 0, 0); // image 0 is key colour only
    EXPECT_EQ(target.Canvas().Pixel(8, 8), clWhite);
    target.Canvas().FillRect({0, 0, 16, 16});
    PlatformCheckImages->DrawingStyle = TCustomImageList::dsTransparent;
    PlatformCheckImages->Draw(target.Canvas(), 0, 0, 13); // check box, checked, normal
    PlatformCheckImages->DrawingStyle = TCustomImageList::dsNormal;
    EXPECT_EQ(target.Canvas().Pixel(0, 0), clLime);
    EXPECT_EQ(target.Canvas().Pixel(1, 2), TColor(GetSysColor(COLOR_BTNSHADOW)));
    EXPECT_EQ(target.Canvas().Pixel(1 + 2 + 1 + 5, 2 + 2 + 1 + 3),
              TColor(GetSysColor(COLOR_WINDOWTEXT)));
    // Mapped strips follow the system colours: the light check box is window-white inside.
    target.Canvas().FillRect({0, 0, 16, 16});
    LightCheckImages->Draw(target.Canvas(), 0, 0, 9);
    EXPECT_EQ(target.Canvas().Pixel(5, 5), TColor(GetSysColor(COLOR_WINDOW)));
    EXPECT_EQ(target.Canvas().Pixel(0, 0), clLime);
}

TEST(BlendRectangle, FourModesPerChannel) {
    TBitmap src(2, 1), dst(2, 1);
    src.Scanline(0)[0] = 0x80FF0000; // alpha 128, red 255
    src.Scanline(0)[1] = 0x00FF0000; // alpha 0
    struct Case {
        int mode, alpha, bias;
        uint32_t d0, d1;
    };
    for (auto c :
         {Case{0, 128, 0, 0x407F0000u, 0x007F0000u}, Case{1, 0, 0, 0x407F0000u, 0x00000000u},
          Case{2, 128, 0, 0x203F0000u, 0x00000000u}, Case{0, 0, 10, 0x0A0A0A0Au, 0x0A0A0A0Au},
          Case{3, 64, int(RGB(0, 0, 255)), 0x0000003Fu, 0x0000003Fu}}) {
        dst.Scanline(0)[0] = dst.Scanline(0)[1] = 0;
        BlendRectangle(src.Canvas().Handle(), dst.Canvas().Handle(), {0, 0, 2, 1}, {0, 0}, c.mode,
                       c.alpha, c.bias);
        EXPECT_EQ(dst.Scanline(0)[0], c.d0) << "mode " << c.mode;
        EXPECT_EQ(dst.Scanline(0)[1], c.d1) << "mode " << c.mode;
    }
    dst.Scanline(0)[0] = 0x12345678;
    BlendRectangle(src.Canvas().Handle(), dst.Canvas().Handle(), {0, 0, 0, 1}, {0, 0}, 0, 255, 0);
    EXPECT_EQ(dst.Scanline(0)[0], 0x12345678u); // empty rectangle
}

TEST(ComputeDragRects, StillMouseAndTheEightDirections) {
    TRect clip, scroll, a, b, draw, erase;
    ComputeDragRects(100, 50, 0, 0, clip, scroll, a, b, draw, erase);
    EXPECT_EQ(clip, Rect(0, 0, 100, 50));
    EXPECT_EQ(scroll, Rect(0, 0, 100, 50));
    EXPECT_EQ(b, Rect(0, 0, 100, 0));
    EXPECT_EQ(erase, Rect(0, 50, 100, 0));
    TRect untouched{1, 2, 3, 4};
    a = untouched;
    ComputeDragRects(100, 50, 5, -3, clip, scroll, a, b, draw, erase);
    EXPECT_EQ(scroll, Rect(0, 3, 95, 50));
    EXPECT_EQ(b, Rect(5, 47, 95, 3));
    EXPECT_EQ(draw, Rect(0, 0, 95, 3));
    draw = untouched;
    b = untouched;
    ComputeDragRects(100, 50, -4, 0, clip, scroll, a, b, draw, erase);
    EXPECT_EQ(a, Rect(96, 0, 4, 50));
    EXPECT_EQ(b, untouched); // not listed for this case
    EXPECT_EQ(draw, Rect(0, 0, 4, 50));
}

TEST(TextHelpers, ShortenWithEllipsis) {
    TBitmap b(10, 10);
    HDC dc = b.Canvas().Handle();
    TPoint e, a, ab;
    GetTextExtentPoint32W(dc, u"...", 3, e);
    GetTextExtentPoint32W(dc, u"A", 1, a);
    GetTextExtentPoint32W(dc, u"AB", 2, ab);
    EXPECT_EQ(ShortenWithEllipsis(dc, u"ABC", a.X + e.X), u"A...");
    EXPECT_EQ(ShortenWithEllipsis(dc, u"ABC", e.X), u"");
    EXPECT_EQ(ShortenWithEllipsis(dc, u"A", e.X + 1), u"...");
    EXPECT_EQ(ShortenWithEllipsis(dc, u"A", 1000), u"..."); // always drops one character
    EXPECT_EQ(ShortenWithEllipsis(dc, u"", 100), u"");
    EXPECT_EQ(ShortenWithEllipsis(dc, u"ABC", 0), u"");
    EXPECT_EQ(ShortenWithEllipsis(dc, u"ABC", ab.X + 5, 5), u"AB...");
}

TEST(TextHelpers, WrapWideText) {
    TBitmap b(10, 10);
    HDC dc = b.Canvas().Handle();
    TPoint w;
    GetTextExtentPoint32W(dc, u"aaa bbb", 7, w);
    EXPECT_EQ(WrapWideText(dc, u"  aaa bbb  ", Rect(0, 0, w.X, 10), false, 0), u"aaa bbb");
    EXPECT_EQ(WrapWideText(dc, u"aaa bbb", Rect(0, 0, w.X - 1, 10), false, 0), u"aaa\nbbb");
    EXPECT_EQ(WrapWideText(dc, u"aaa bbb", Rect(0, 0, w.X - 1, 10), true, 0), u"bbb\naaa");
    TPoint two;
    GetTextExtentPoint32W(dc, u"a  b", 4, two);
    EXPECT_EQ(WrapWideText(dc, u"a  b", Rect(0, 0, two.X, 10), false, 0),
              u"a  b"); // the empty word keeps its blank
    TPoint one;
    GetTextExtentPoint32W(dc, u"ab", 2, one);
    EXPECT_EQ(WrapWideText(dc, u"abcdef", Rect(0, 0, one.X, 10), false, 0), u"ab\ncd\nef");
    EXPECT_EQ(WrapWideText(dc, u"abc", Rect(0, 0, 1, 10), false, 0),
              u"a\nb\nc"); // at least one character
    EXPECT_EQ(WrapWideText(dc, u"   ", Rect(0, 0, 100, 10), false, 0), u"");
}

TEST(TextHelpers, SubstituteMeasuresLinesAndTheWidest) {
    TBitmap b(10, 10);
    HDC dc = b.Canvas().Handle();
    TTextMetric tm;
    GetTextMetrics(dc, tm);
    TPoint wide;
    GetTextExtentPoint32W(dc, u"longer", 6, wide);
    TRect r{5, 7, 6, 8};
    std::u16string text = u"ab\r\nlonger\nc";
    DrawWideTextSubstitute(dc, text.c_str(), int(text.size()), r, DT_CALCRECT, true);
    EXPECT_EQ(r, Rect(5, 7, 5 + wide.X, 7 + 3 * tm.Height));
    TRect m{0, 0, 0, 0};
    MeasureWideText(dc, u"longer", m, 0);
    EXPECT_EQ(m.Right, wide.X);
}

TEST(TextHelpers, SubstituteDrawsRightAlignedAndStopsAtTheBottom) {
    TBitmap b(60, 20);
    HDC dc = b.Canvas().Handle();
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, 0x0000FF);
    TTextMetric tm;
    GetTextMetrics(dc, tm);
    TRect r{0, 0, 60, tm.Height};
    std::u16string text = u"X\nY";
    DrawWideTextSubstitute(dc, text.c_str(), 3, r, DT_RIGHT, false);
    int left = 60, below = 0;
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 60; ++x)
            if (GetPixel(dc, x, y) == 0x0000FF) {
                left = std::min(left, x);
                if (y >= tm.Height) ++below;
            }
    EXPECT_GT(left, 40); // drawn from the right edge
    EXPECT_EQ(below, 0); // the second line starts at the bottom: not drawn
    EXPECT_EQ(GetTextAlign(dc), UINT(TA_LEFT));
}

TEST(SmallHelpers, NormalizeColourAndSort) {
    EXPECT_EQ(NormalizeRect(Rect(10, 20, 1, 2)), Rect(1, 2, 10, 20));
    EXPECT_EQ(ColorToImageListColor(clNone), 0xFFFFFFFFu);
    EXPECT_EQ(ColorToImageListColor(clDefault), 0xFF000000u);
    EXPECT_EQ(ColorToImageListColor(clWindow), GetSysColor(COLOR_WINDOW));
    TLazyNode n[5];
    std::vector<PLazyNode> v{&n[3], &n[0], &n[4], &n[1], &n[2]};
    SortNodeAddresses(v, 0, 4);
    EXPECT_TRUE(std::is_sorted(v.begin(), v.end(), std::less<PLazyNode>()));
    try {
        RaiseTreeError(u"Проверка", 2001);
        FAIL();
    } catch (const ELazyTreeError& e) {
        EXPECT_EQ(e.Message(), "Проверка");
        EXPECT_EQ(e.HelpContext, 2001);
    }
}

// Codes from an ANSI source read in the keyboard's code page, cp1251: ASCII
// as it stands, the upper half as Cyrillic and the page's signs.
TEST(SmallHelpers, KeyUnicodeReadsTheKeyboardsCodePage) {
    EXPECT_EQ(GetKeyboardCodePage(), 1251);
    const struct {
        unsigned char code;
        char16_t wide;
    } cases[] = {
        {0x00, 0x0000}, {0x08, 0x0008}, {'a', u'a'},    {0x7F, 0x007F}, {0x80, 0x0402},
        {0x88, 0x20AC}, {0x98, 0xFFFD}, {0xA8, 0x0401}, {0xB8, 0x0451}, {0xB9, 0x2116},
        {0xC0, 0x0410}, {0xDF, 0x042F}, {0xE0, 0x0430}, {0xFF, 0x044F},
    };
    for (const auto& c : cases)
        EXPECT_EQ(int(KeyUnicode(c.code)), int(c.wide)) << std::hex << int(c.code);
}

TEST(Buffers, GrowthInWholeBlocks) {
    TBufferedAnsiString a;
    a.Add("");
    EXPECT_EQ(a.Capacity(), 0u);
    EXPECT_EQ(a.AsString(), "");
    a.AddNewLine();
    EXPECT_EQ(a.Capacity(), 4096u);
    EXPECT_EQ(a.AsString(), "\r\n");
    a.Add(std::string(4094, 'x')); // exactly the room left: grows
    EXPECT_EQ(a.Capacity(), 8192u);
    EXPECT_EQ(a.AsString().size(), 4096u);
    TWideBufferedString w;
    w.Add(std::u16string(5000, u'я'));
    EXPECT_EQ(w.Capacity(), 8192u);
    w.AddNewLine();
    EXPECT_EQ(w.AsString().size(), 5002u);
    EXPECT_EQ(w.AsString().substr(5000), u"\r\n");
}

TEST(Accessibility, AbsentLibraryGivesNoFactoryAndCountsEachTry) {
    int before = AccessibilityUseCount();
    EXPECT_EQ(AccessibilityFactory(), nullptr);
    EXPECT_EQ(AccessibilityFactory(), nullptr);
    EXPECT_EQ(AccessibilityUseCount(), before + 2);
    FinalizeAccessibility();
    EXPECT_EQ(AccessibilityUseCount(), 0);
}

namespace {

struct CountingProvider : ILTAccessibleProvider {
    int Made = 0;
    std::shared_ptr<IAccessible> CreateIAccessible(TBaseLazyTree*) override {
        ++Made;
        return std::make_shared<IAccessible>();
    }
};

} // namespace

// With a provider registered, an object query makes the tree's object and its
// focused item's once and answers the client area's query with a reference to
// the tree's object; without the library the answer is 0.
TEST(Accessibility, ObjectQueryAnswersWithTheTreesObject) {
    SetMainThread();
    EnsureGuiToolkit();
    struct Case {
        const char* name;
        int providers; // 0: none registered, the library is absent
        int32_t objectId;
        int madeByLast; // of the two objects
    };
    for (const Case& c :
         {Case{"no library", 0, OBJID_CLIENT, 0}, Case{"one provider", 1, OBJID_CLIENT, 2},
          Case{"item provider", 2, OBJID_CLIENT, 1}, Case{"window object", 1, 0, 2}}) {
        if (c.providers > 0) RegisterAccessibilityProvider();
        TScopeExit end([&c] {
            if (c.providers > 0) UnregisterAccessibilityProvider();
            FinalizeAccessibility();
        });
        std::vector<std::shared_ptr<CountingProvider>> providers;
        if (TLTAccessibilityFactory* factory = AccessibilityFactory())
            for (int i = 0; i < c.providers; ++i)
                factory->Providers.push_back(providers.emplace_back(new CountingProvider));
        auto tree = NewComponent<TLazyStringTree>();
        HWND wnd = tree->Handle();
        const LRESULT first = SendMessage(wnd, WM_GETOBJECT, 0, LPARAM(c.objectId));
        EXPECT_EQ(SendMessage(wnd, WM_GETOBJECT, 0, LPARAM(c.objectId)), first) << c.name;
        if (c.providers == 0) {
            EXPECT_EQ(first, 0) << c.name;
            EXPECT_FALSE(tree->Accessible()) << c.name;
            continue;
        }
        ASSERT_TRUE(tree->Accessible() && tree->AccessibleItem()) << c.name;
        EXPECT_NE(tree->Accessible(), tree->AccessibleItem()) << c.name;
        int made = 0;
        for (auto& p : providers) made += p->Made;
        EXPECT_EQ(made, 2) << c.name;
        EXPECT_EQ(providers.back()->Made, c.madeByLast) << c.name;
        // A tree with both objects is given its item's again.
        EXPECT_EQ(AccessibilityFactory()->CreateAccessible(tree.get()), tree->AccessibleItem());
        if (c.objectId == OBJID_CLIENT) {
            EXPECT_NE(first, 0) << c.name;
            EXPECT_TRUE(ObjectFromLresult(first) == tree->Accessible()) << c.name;
        } else {
            EXPECT_EQ(first, 0) << c.name;
        }
    }
}

TEST(CriticalSection, EnterIsRecursiveForItsThread) {
    TCriticalSection cs;
    cs.Enter();
    cs.Enter();
    cs.Leave();
    cs.Leave();
    ASSERT_NE(TreeGlobalLock, nullptr);
}
