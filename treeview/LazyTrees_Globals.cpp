// The tree unit's shared structures and free routines: the one-time set-up
// and its end, the check-image lists, blending, drag rectangles and the
// wide-text helpers.

#include "treeview/LazyTrees_Globals.h"
#include "treeview/LazyTrees.h"

#include "platform/Cp1251.h"
#include "platform/ScopeGuard.h"

#include <algorithm>
#include <map>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

namespace nuq {

bool GlobalsInitialised = false;
bool OleInitialised = false;
bool ProcessorHasMMX = false;
WORD TreeReferenceFormat = 0, TreeDataFormat = 0, HtmlFormat = 0, RtfFormat = 0,
     RtfNoObjectsFormat = 0, CsvFormat = 0;
TCustomImageList* LightCheckImages = nullptr;
TCustomImageList* DarkCheckImages = nullptr;
TCustomImageList* LightTickImages = nullptr;
TCustomImageList* DarkTickImages = nullptr;
TCustomImageList* FlatImages = nullptr;
TCustomImageList* XPImages = nullptr;
TCustomImageList* UtilityImages = nullptr;
TCustomImageList* PlatformCheckImages = nullptr;
TCustomImageList* PlatformFlatCheckImages = nullptr;
TCriticalSection* TreeGlobalLock = nullptr;

namespace {

// Owners of the shared lists, in the order they are built.
// Never destroyed: the unit's end may run after other statics are gone.
std::unique_ptr<TCustomImageList>* const sharedLists = new std::unique_ptr<TCustomImageList>[9];
// Made on first use: the unit's start runs from another file's static
// initialisation, which may come before this file's.
std::unique_ptr<TCriticalSection>& GlobalLock() {
    static auto* lock = new std::unique_ptr<TCriticalSection>;
    return *lock;
}

bool HasMMX() {
#if defined(__x86_64__) || defined(__i386__)
    unsigned a = 0, b = 0, c = 0, d = 0;
    if (!__get_cpuid(1, &a, &b, &c, &d)) return false;
    return a >= 0x50 && (d & (1u << 23));
#else
    return false;
#endif
}

std::map<std::string, std::unique_ptr<TCursorObject>>& PanningCursors() {
    static std::map<std::string, std::unique_ptr<TCursorObject>> cursors;
    return cursors;
}

void AssignList(int slot, std::unique_ptr<TCustomImageList> list, TCustomImageList*& ref) {
    sharedLists[slot] = std::move(list);
    ref = sharedLists[slot].get();
}

} // namespace

void LazyTreesInitialization() {
    GlobalsInitialised = false;
    OleInitialised = false;
    if (!GlobalLock()) GlobalLock() = std::make_unique<TCriticalSection>();
    TreeGlobalLock = GlobalLock().get();
}

void LazyTreesFinalization() {
    if (GlobalsInitialised) FinalizeGlobalStructures();
    FreeClipboardFormatList();
    TreeGlobalLock = nullptr;
    GlobalLock().reset();
}

void InitializeGlobalStructures() {
    GlobalsInitialised = true;
    ProcessorHasMMX = HasMMX();
    OleInitialised = OleInitialize() == S_OK;
    TreeReferenceFormat = RegisterClipboardFormat("Lazy Tree Reference");
    const UINT flags = ILC_MASK | ILC_COLOR32;
    struct Strip {
        const char* name;
        bool mapped;
        TCustomImageList** ref;
    };
    const Strip strips[] = {{"LT_CHECK_LIGHT", true, &LightCheckImages},
                            {"LT_CHECK_DARK", true, &DarkCheckImages},
                            {"LT_TICK_LIGHT", true, &LightTickImages},
                            {"LT_TICK_DARK", true, &DarkTickImages},
                            {"LT_FLAT", true, &FlatImages},
                            {"LT_XP", false, &XPImages},
                            {"LT_UTILITIES", true, &UtilityImages}};
    int slot = 0;
    for (const Strip& s : strips) {
        auto list = std::make_unique<TCustomImageList>(16, 16);
        list->SetHandle(ImageList_Create(16, 16, flags, 0, list->AllocBy));
        LoadCheckImageStrip(*list, s.name, s.mapped);
        AssignList(slot++, std::move(list), *s.ref);
    }
    std::unique_ptr<TCustomImageList> platformList;
    BuildPlatformCheckImages(platformList, flags, false);
    AssignList(7, std::move(platformList), PlatformCheckImages);
    BuildPlatformCheckImages(platformList, flags, true);
    AssignList(8, std::move(platformList), PlatformFlatCheckImages);
    Screen().SetCursor(crHeaderSplit, LoadTreeCursorResource("LT_HEADERSPLIT").release());
    Screen().SetCursor(crVertSplit, LoadTreeCursorResource("LT_VERTSPLIT").release());
    TreeDataFormat = RegisterTreeClipboardFormat("Lazy Tree Data", TBaseLazyTree::ClassInfo(), 50);
    HtmlFormat = RegisterTreeClipboardFormat("HTML Format", TCustomLazyStringTree::ClassInfo(), 80);
    RtfNoObjectsFormat = RegisterTreeClipboardFormat("Rich Text Format Without Objects",
                                                     TCustomLazyStringTree::ClassInfo(), 84);
    RtfFormat =
        RegisterTreeClipboardFormat("Rich Text Format", TCustomLazyStringTree::ClassInfo(), 85);
    CsvFormat = RegisterTreeClipboardFormat("CSV", TCustomLazyStringTree::ClassInfo(), 90);
    RegisterTreeClipboardFormat(CF_TEXT, TCustomLazyStringTree::ClassInfo(), 100);
    RegisterTreeClipboardFormat(CF_UNICODETEXT, TCustomLazyStringTree::ClassInfo(), 95);
}

void FinalizeGlobalStructures() {
    TCustomImageList** refs[] = {&LightCheckImages, &DarkCheckImages,     &LightTickImages,
                                 &DarkTickImages,   &FlatImages,          &XPImages,
                                 &UtilityImages,    &PlatformCheckImages, &PlatformFlatCheckImages};
    for (int i = 0; i < 9; ++i) {
        sharedLists[i].reset();
        *refs[i] = nullptr;
    }
    if (OleInitialised) OleUninitialize();
    OleInitialised = false;
    // The module is a package here: the hint switch is turned off and on again.
    bool showHint = Application().ShowHint;
    Application().ShowHint = false;
    if (showHint) Application().ShowHint = true;
    GlobalsInitialised = false;
}

void ReloadCheckImageStrips() {
    const std::pair<const char*, TCustomImageList*> strips[] = {
        {"LT_CHECK_LIGHT", LightCheckImages},
        {"LT_CHECK_DARK", DarkCheckImages},
        {"LT_TICK_LIGHT", LightTickImages},
        {"LT_TICK_DARK", DarkTickImages},
        {"LT_FLAT", FlatImages},
        {"LT_UTILITIES", UtilityImages}};
    for (const auto& [name, list] : strips)
        if (list) LoadCheckImageStrip(*list, name, true);
}

HCURSOR TreeCursor(const std::string& name) {
    auto& cursors = PanningCursors();
    auto it = cursors.find(name);
    if (it == cursors.end()) it = cursors.emplace(name, LoadTreeCursorResource(name)).first;
    return it->second.get();
}

void LoadCheckImageStrip(TCustomImageList& imageList, const std::string& resourceName,
                         bool colourMapped) {
    TCriticalSection* lock = TreeGlobalLock;
    if (lock) lock->Enter();
    TScopeExit leave([lock] {
        if (lock) lock->Leave();
    });
    auto bitmap = LoadTreeBitmapResource(resourceName, colourMapped);
    imageList.Clear();
    if (!bitmap || bitmap->Height() <= 0) return;
    imageList.SetHeight(bitmap->Height());
    imageList.SetWidth(bitmap->Height());
    TColor mask = bitmap->Canvas().Pixel(0, 0);
    int side = bitmap->Height();
    TBitmap piece(side, side);
    for (int i = 0; i < bitmap->Width() / side; ++i) {
        BitBlt(piece.Canvas().Handle(), 0, 0, side, side, bitmap->Canvas().Handle(), i * side, 0,
               SRCCOPY);
        imageList.AddMasked(piece, mask);
    }
}

void BuildPlatformCheckImages(std::unique_ptr<TCustomImageList>& imageList, UINT flags, bool flat) {
    int w = GetSystemMetrics(SM_CXMENUCHECK) + 3, h = GetSystemMetrics(SM_CYMENUCHECK) + 3;
    imageList = std::make_unique<TCustomImageList>(w, h);
    imageList->SetHandle(ImageList_Create(w, h, flags, 0, imageList->AllocBy));
    imageList->Masked = true;
    imageList->BkColor = clWhite;
    TBitmap bmp(w, h);
    auto fillKey = [&] {
        bmp.Canvas().Brush.Color = clRed;
        bmp.Canvas().FillRect({0, 0, w, h});
    };
    fillKey();
    imageList->AddMasked(bmp, clRed);
    for (int i = 0; i < 20; ++i) {
        fillKey();
        UINT type = i < 8 ? DFCS_BUTTONRADIO : i < 16 ? DFCS_BUTTONCHECK : DFCS_BUTTON3STATE;
        static const UINT states[4] = {0, DFCS_HOT, DFCS_PUSHED, DFCS_INACTIVE};
        UINT state = type | states[i % 4];
        if ((i >= 4 && i <= 7) || (i >= 12 && i <= 19)) state |= DFCS_CHECKED;
        if (flat) state |= DFCS_FLAT;
        DrawFrameControl(bmp.Canvas().Handle(), {1, 2, w - 2, h - 1}, DFC_BUTTON, state);
        imageList->AddMasked(bmp, clRed);
    }
    TCustomImageList* source = flat ? FlatImages : DarkCheckImages;
    for (int i = 21; i <= 24; ++i) {
        fillKey();
        if (source)
            source->Draw(bmp.Canvas(), (w - source->Width()) / 2, (h - source->Height()) / 2, i);
        imageList->AddMasked(bmp, clRed);
    }
}

void BlendRectangle(HDC source, HDC destination, const TRect& r, TPoint target, int mode,
                    int constantAlpha, int bias) {
    if (r.IsEmpty()) return;
    TBitmapInfo dst;
    if (!GetBitmapInfo(GetDCBitmap(destination), dst) || dst.BitsPerPixel != 32 || !dst.Bits)
        return;
    TBitmapInfo src;
    if (mode != 3 &&
        (!GetBitmapInfo(GetDCBitmap(source), src) || src.BitsPerPixel != 32 || !src.Bits))
        return;
    auto row = [](const TBitmapInfo& b, int y) {
        int height = b.Height < 0 ? -b.Height : b.Height;
        int line = b.Height < 0 ? y : height - y - 1;
        return static_cast<uint8_t*>(b.Bits) + size_t(line) * size_t(b.Width) * 4;
    };
    auto rows = [](const TBitmapInfo& b) { return b.Height < 0 ? -b.Height : b.Height; };
    const uint8_t colour[4] = {uint8_t(GetBValue(COLORREF(bias))),
                               uint8_t(GetGValue(COLORREF(bias))),
                               uint8_t(GetRValue(COLORREF(bias))), 0};
    int width = r.Right - r.Left;
    for (int y = 0; y < r.Bottom - r.Top; ++y) {
        int dy = target.Y + y;
        if (dy < 0 || dy >= rows(dst)) continue;
        uint8_t* d = row(dst, dy);
        const uint8_t* s = nullptr;
        if (mode != 3) {
            int sy = r.Top + y;
            if (sy < 0 || sy >= rows(src)) continue;
            s = row(src, sy);
        }
        for (int x = 0; x < width; ++x) {
            int dx = target.X + x, sx = r.Left + x;
            if (dx < 0 || dx >= dst.Width || (s && (sx < 0 || sx >= src.Width))) continue;
            uint8_t* dp = d + size_t(dx) * 4;
            const uint8_t* sp = s ? s + size_t(sx) * 4 : nullptr;
            int alpha = mode == 0   ? constantAlpha
                        : mode == 1 ? sp[3]
                        : mode == 2 ? sp[3] * constantAlpha / 256
                                    : 0;
            for (int c = 0; c < 4; ++c) {
                int v;
                if (mode == 3)
                    v = (dp[c] * (256 - constantAlpha) + colour[c] * constantAlpha) / 256;
                else
                    v = dp[c] + (int(sp[c]) - int(dp[c])) * alpha / 256 + bias;
                dp[c] = uint8_t(std::clamp(v, 0, 255));
            }
        }
    }
}

void ComputeDragRects(int w, int h, int dx, int dy, TRect& clip, TRect& scroll, TRect& sampleA,
                      TRect& sampleB, TRect& draw, TRect& erase) {
    clip = {0, 0, w, h};
    if (dx > 0) {
        if (dy > 0) {
            scroll = {0, 0, w - dx, h - dy};
            sampleA = {0, 0, dx, h};
            sampleB = {dx, 0, w - dx, dy};
            draw = {0, h - dy, w - dx, dy};
            erase = {w - dx, 0, dx, h};
        } else if (dy < 0) {
            scroll = {0, -dy, w - dx, h};
            sampleA = {0, 0, dx, h};
            sampleB = {dx, h + dy, w - dx, -dy};
            draw = {0, 0, w - dx, -dy};
            erase = {w - dx, 0, dx, h};
        } else {
            scroll = {0, 0, w - dx, h};
            sampleA = {0, 0, dx, h};
            draw = {w - dx, 0, dx, h};
        }
    } else if (dx < 0) {
        if (dy > 0) {
            scroll = {-dx, 0, w, h};
            sampleA = {0, 0, w + dx, dy};
            sampleB = {w + dx, 0, -dx, h};
            draw = {0, 0, -dx, h};
            erase = {-dx, h - dy, w + dx, dy};
        } else if (dy < 0) {
            scroll = {-dx, -dy, w, h};
            sampleA = {0, h + dy, w + dx, -dy};
            sampleB = {w + dx, 0, -dx, h};
            draw = {0, 0, -dx, h};
            erase = {-dx, 0, w + dx, -dy};
        } else {
            scroll = {-dx, 0, w, h};
            sampleA = {w + dx, 0, -dx, h};
            draw = {0, 0, -dx, h};
        }
    } else if (dy >= 0) {
        scroll = {0, 0, w, h - dy};
        sampleB = {0, 0, w, dy};
        erase = {0, h - dy, w, dy};
    } else {
        scroll = {0, -dy, w, h};
        sampleB = {0, h + dy, w, -dy};
        erase = {0, 0, w, -dy};
    }
}

namespace {

int TextWidth16(HDC dc, const std::u16string& s) {
    TPoint size;
    GetTextExtentPoint32W(dc, s.c_str(), int(s.size()), size);
    return size.X;
}

} // namespace

std::u16string ShortenWithEllipsis(HDC dc, const std::u16string& text, int width,
                                   int ellipsisWidth) {
    if (text.empty() || width <= 0) return {};
    if (ellipsisWidth == 0) ellipsisWidth = TextWidth16(dc, u"...");
    if (width <= ellipsisWidth) return {};
    int low = 0, high = int(text.size()) - 1;
    while (low < high) {
        int probe = (low + high + 1) / 2;
        if (TextWidth16(dc, text.substr(0, size_t(probe))) + ellipsisWidth <= width)
            low = probe;
        else
            high = probe - 1;
    }
    return text.substr(0, size_t(low)) + u"...";
}

namespace {

std::u16string TrimWide(const std::u16string& s) {
    size_t a = 0, b = s.size();
    while (a < b && s[a] <= u' ') ++a;
    while (b > a && s[b - 1] <= u' ') --b;
    return s.substr(a, b - a);
}

int MeasuredWidth(HDC dc, const std::u16string& s, UINT format) {
    TRect r{0, 0, 0, 0};
    MeasureWideText(dc, s, r, format);
    return r.Right - r.Left;
}

} // namespace

std::u16string WrapWideText(HDC dc, const std::u16string& text, const TRect& bounds,
                            bool rightToLeft, UINT drawFormat) {
    std::u16string s = TrimWide(text);
    if (s.empty()) return {};
    int usable = bounds.Right - bounds.Left;
    std::vector<std::u16string> words(1);
    for (char16_t c : s) {
        if (c == u' ')
            words.emplace_back();
        else
            words.back() += c;
    }
    std::u16string result, line;
    bool lineEmpty = true;
    int n = int(words.size());
    int i = rightToLeft ? n - 1 : 0;
    auto more = [&] { return rightToLeft ? i >= 0 : i < n; };
    auto advance = [&] { i += rightToLeft ? -1 : 1; };
    while (more()) {
        std::u16string& word = words[size_t(i)];
        std::u16string candidate = lineEmpty ? word : line + u" " + word;
        if (MeasuredWidth(dc, candidate, drawFormat) <= usable) {
            line = candidate;
            lineEmpty = false;
            advance();
            continue;
        }
        if (!lineEmpty) {
            result += line + u"\n";
            line.clear();
            lineEmpty = true;
            continue;
        }
        // A word wider than a whole line is cut; at least one character goes onto the line.
        size_t len = word.size() > 1 ? word.size() - 1 : 1;
        for (; len > 1; --len) {
            std::u16string piece =
                rightToLeft ? word.substr(word.size() - len) : word.substr(0, len);
            if (MeasuredWidth(dc, piece, drawFormat) <= usable) break;
        }
        line = rightToLeft ? word.substr(word.size() - len) : word.substr(0, len);
        lineEmpty = false;
        std::u16string rest = rightToLeft ? word.substr(0, word.size() - len) : word.substr(len);
        if (rest.empty())
            advance();
        else
            word = rest;
    }
    if (!lineEmpty) result += line + u"\n";
    if (!result.empty() && result.back() == u'\n') result.pop_back();
    return result;
}

void MeasureWideText(HDC dc, const std::u16string& text, TRect& bounds, UINT drawFormat) {
    bounds.Right = bounds.Left + 1;
    bounds.Bottom = bounds.Top + 1;
    DrawTextW(dc, text.c_str(), int(text.size()), bounds, drawFormat | DT_CALCRECT);
}

void DrawWideTextSubstitute(HDC dc, const char16_t* text, int count, TRect& bounds, UINT format,
                            bool adjustRight) {
    TTextMetric tm;
    GetTextMetrics(dc, tm);
    int lineHeight = tm.Height;
    bool calc = format & DT_CALCRECT;
    UINT options = (format & DT_NOCLIP) ? 0u : UINT(ETO_CLIPPED);
    if (format & DT_RTLREADING) options |= ETO_RTLREADING;
    UINT align = TA_LEFT;
    if (format & DT_RIGHT)
        align = TA_RIGHT;
    else if (format & DT_CENTER)
        align = TA_CENTER;
    UINT oldAlign = SetTextAlign(dc, align | TA_TOP);
    auto xFor = [&] {
        return (format & DT_RIGHT)    ? bounds.Right
               : (format & DT_CENTER) ? (bounds.Left + bounds.Right) / 2
                                      : bounds.Left;
    };
    int widest = 0;
    int top = bounds.Top;
    auto emit = [&](const char16_t* p, int n) {
        TPoint size;
        GetTextExtentPoint32W(dc, p, n, size);
        widest = std::max(widest, size.X);
        if (!calc) {
            TRect lr{bounds.Left, top, bounds.Right, top + lineHeight};
            ExtTextOutW(dc, xFor(), top, options, &lr, p, n);
        }
    };
    if (format & DT_SINGLELINE) {
        if (format & DT_VCENTER) top = (bounds.Top + bounds.Bottom - lineHeight) / 2;
        emit(text, count);
        top += lineHeight;
    } else {
        int start = 0;
        for (int i = 0; i <= count; ++i) {
            bool end =
                i == count || text[i] == u'\r' || text[i] == u'\n' || text[i] == char16_t(2028);
            if (!end) continue;
            if (!calc && top >= bounds.Bottom) break;
            emit(text + start, i - start);
            top += lineHeight;
            if (i < count && text[i] == u'\r' && i + 1 < count && text[i + 1] == u'\n') ++i;
            start = i + 1;
        }
    }
    SetTextAlign(dc, oldAlign);
    if (calc) {
        if (adjustRight) bounds.Right = bounds.Left + widest;
        bounds.Bottom = top;
    }
}

TRect NormalizeRect(const TRect& r) {
    return {std::min(r.Left, r.Right), std::min(r.Top, r.Bottom), std::max(r.Left, r.Right),
            std::max(r.Top, r.Bottom)};
}

TBaseLazyTree* TreeOfNode(PLazyNode node) {
    if (!node) return nullptr;
    PLazyNode run = node;
    while (run->NextSibling != run) run = run->Parent;
    return reinterpret_cast<TBaseLazyTree*>(run->Parent);
}

void RaiseTreeError(const std::u16string& message, int helpContext) {
    throw ELazyTreeError(Utf16ToUtf8(message), helpContext);
}

uint32_t ColorToImageListColor(TColor color) {
    if (color == clNone) return 0xFFFFFFFF;
    if (color == clDefault) return 0xFF000000;
    return ColorToRGB(color);
}

void SortNodeAddresses(std::vector<PLazyNode>& nodes, int low, int high) {
    // Ascending by address over [low, high].
    if (low >= high) return;
    std::sort(nodes.begin() + low, nodes.begin() + high + 1, std::less<PLazyNode>());
}

// Shift, Ctrl and Alt as they are now: key messages of the window layer lack
// Alt in their flags, and non-client ones carry no flags at all.
TShiftState KeyShiftState() {
    TShiftState keys = 0;
    if (GetKeyState(VK_SHIFT) < 0) keys |= ssShift;
    if (GetKeyState(VK_CONTROL) < 0) keys |= ssCtrl;
    if (GetKeyState(VK_MENU) < 0) keys |= ssAlt;
    return keys;
}

// The window layer speaks one ANSI code page, cp1251, for every keyboard
// layout and for the process alike.
int GetKeyboardCodePage() {
    return 1251;
}

char16_t KeyUnicode(unsigned char code) {
    if (code < 0x80) return code; // the same in every ANSI code page
    const std::u16string wide = Utf8ToUtf16(Cp1251ToUtf8(std::string(1, char(code))));
    return wide.size() == 1 ? wide[0] : char16_t(0xFFFD);
}

} // namespace nuq
