// The unit's bitmap resources, drawn here in the classic 16-colour palette
// (so the system colour map applies to them): the check-image strips, the
// utility strip, the XP buttons and the panning pictures.

#include "treeview/LazyTrees.h"
#include "treeview/LazyTrees_Globals.h"

#include <cstdlib>

namespace nuq {

namespace {

constexpr TColor Key = clFuchsia; // pixel (0, 0) of every strip: the mask colour

void Fill(TBitmap& b, TRect r, TColor c) {
    for (int y = std::max(r.Top, 0); y < std::min(r.Bottom, b.Height()); ++y)
        for (int x = std::max(r.Left, 0); x < std::min(r.Right, b.Width()); ++x)
            b.Canvas().SetPixel(x, y, c);
}

void Frame(TBitmap& b, TRect r, TColor tl, TColor br) {
    Fill(b, {r.Left, r.Top, r.Right, r.Top + 1}, tl);
    Fill(b, {r.Left, r.Top, r.Left + 1, r.Bottom}, tl);
    Fill(b, {r.Left, r.Bottom - 1, r.Right, r.Bottom}, br);
    Fill(b, {r.Right - 1, r.Top, r.Right, r.Bottom}, br);
}

enum class Mark { None, Check, Tick, Mixed, Dot };

void DrawMark(TBitmap& b, int ox, int oy, Mark m, TColor c) {
    switch (m) {
    case Mark::Check: {
        static const int tops[7] = {2, 3, 4, 3, 2, 1, 0};
        for (int i = 0; i < 7; ++i)
            Fill(b, {ox + i, oy + tops[i], ox + i + 1, oy + tops[i] + 3}, c);
        break;
    }
    case Mark::Tick: // a cross
        for (int i = 0; i < 7; ++i) {
            Fill(b, {ox + i, oy + i, ox + i + 1, oy + i + 1}, c);
            Fill(b, {ox + 6 - i, oy + i, ox + 7 - i, oy + i + 1}, c);
        }
        break;
    case Mark::Mixed:
        Fill(b, {ox + 1, oy + 1, ox + 6, oy + 6}, c);
        break;
    case Mark::Dot:
        Fill(b, {ox + 2, oy + 2, ox + 5, oy + 5}, c);
        break;
    case Mark::None:
        break;
    }
}

// One 16 x 16 check image of a strip, by its index in the strip.
void DrawCheckCell(TBitmap& b, int index, bool dark, bool tick, bool flat, bool xp) {
    int x0 = index * 16;
    if (index == 0) return;
    if (index >= 21) { // buttons: normal, hot, pushed, disabled
        int s = index - 21;
        TRect r{x0 + 1, 2, x0 + 15, 14};
        Fill(b, r, clSilver);
        if (s == 2)
            Frame(b, r, clGray, clWhite);
        else
            Frame(b, r, clWhite, clBlack);
        if (s == 1) Frame(b, {r.Left + 1, r.Top + 1, r.Right - 1, r.Bottom - 1}, clWhite, clGray);
        return;
    }
    int i = index - 1;
    int state = i % 4; // normal, hot, pushed, inactive
    bool radio = i < 8;
    Mark mark = Mark::None;
    if (radio)
        mark = i >= 4 ? Mark::Dot : Mark::None;
    else if (i >= 16)
        mark = Mark::Mixed;
    else if (i >= 12)
        mark = tick ? Mark::Tick : Mark::Check;
    TColor face = (state == 2 || state == 3) ? clSilver : (dark ? clSilver : clWhite);
    if (dark && state == 1) face = clWhite;
    TColor ink = state == 3 ? clGray : (xp ? TColor(0x21A121) : clBlack);
    if (mark == Mark::Mixed && !xp) ink = clGray;
    TRect box{x0 + 2, 2, x0 + 15, 15}; // 13 x 13
    if (radio) {
        // A round box: a square with its corners cut.
        Fill(b, {box.Left + 3, box.Top, box.Right - 3, box.Bottom}, face);
        Fill(b, {box.Left, box.Top + 3, box.Right, box.Bottom - 3}, face);
        Fill(b, {box.Left + 1, box.Top + 1, box.Right - 1, box.Bottom - 1}, face);
        TColor edge = xp ? TColor(0x7F3B1C) : clGray;
        Fill(b, {box.Left + 3, box.Top, box.Right - 3, box.Top + 1}, edge);
        Fill(b, {box.Left, box.Top + 3, box.Left + 1, box.Bottom - 3}, edge);
        Fill(b, {box.Left + 3, box.Bottom - 1, box.Right - 3, box.Bottom},
             flat || xp ? edge : clWhite);
        Fill(b, {box.Right - 1, box.Top + 3, box.Right, box.Bottom - 3},
             flat || xp ? edge : clWhite);
    } else {
        Fill(b, box, face);
        if (xp)
            Frame(b, box, TColor(0x7F3B1C), TColor(0x7F3B1C));
        else if (flat)
            Frame(b, box, clGray, clGray);
        else {
            Frame(b, box, clGray, clWhite);
            Frame(b, {box.Left + 1, box.Top + 1, box.Right - 1, box.Bottom - 1}, clBlack, clSilver);
        }
    }
    DrawMark(b, box.Left + 3, box.Top + 3, mark, ink);
}

std::unique_ptr<TBitmap> CheckStrip(bool dark, bool tick, bool flat, bool xp) {
    auto b = std::make_unique<TBitmap>(400, 16);
    b->PixelFormat = xp ? pf24bit : pf4bit;
    Fill(*b, {0, 0, 400, 16}, Key);
    for (int i = 0; i < 25; ++i) DrawCheckCell(*b, i, dark, tick, flat, xp);
    return b;
}

std::unique_ptr<TBitmap> UtilityStrip() {
    auto b = std::make_unique<TBitmap>(144, 16);
    b->PixelFormat = pf8bit;
    Fill(*b, {0, 0, 144, 16}, Key);
    // 0, 1: drop marks pointing right and left.
    for (int i = 0; i < 5; ++i) {
        Fill(*b, {2 + i, 8 - i, 3 + i, 9 + i}, clBlack);
        Fill(*b, {16 + 13 - i, 8 - i, 16 + 14 - i, 9 + i}, clBlack);
    }
    // 2-5: sort glyphs, descending (point down) and ascending (point up).
    for (int g = 2; g <= 5; ++g) {
        bool down = g % 2 == 0;
        for (int i = 0; i < 4; ++i) {
            int y = down ? 6 + i : 9 - i;
            Fill(*b, {g * 16 + 4 + i, y, g * 16 + 11 - i, y + 1}, g >= 4 ? clNavy : clGray);
        }
    }
    // 6-8: the hot-tracking underline, left end, middle and right end.
    Fill(*b, {6 * 16 + 2, 13, 7 * 16, 16}, TColor(0x3C9BF8));
    Fill(*b, {7 * 16, 13, 8 * 16, 16}, TColor(0x3C9BF8));
    Fill(*b, {8 * 16, 13, 9 * 16 - 2, 16}, TColor(0x3C9BF8));
    return b;
}

std::unique_ptr<TBitmap> XPButton(bool plus) {
    auto b = std::make_unique<TBitmap>(9, 9);
    Fill(*b, {0, 0, 9, 9}, clWhite);
    Frame(*b, {0, 0, 9, 9}, TColor(0x998877), TColor(0x998877));
    Fill(*b, {2, 4, 7, 5}, clBlack);
    if (plus) Fill(*b, {4, 2, 5, 7}, clBlack);
    return b;
}

std::unique_ptr<TBitmap> PanPicture(bool ew, bool ns) {
    auto b = std::make_unique<TBitmap>(32, 32);
    Fill(*b, {0, 0, 32, 32}, Key);
    Fill(*b, {13, 13, 19, 19}, clBlack);
    if (ns)
        for (int i = 0; i < 5; ++i) {
            Fill(*b, {16 - i, 3 + i, 16 + i, 4 + i}, clBlack);
            Fill(*b, {16 - i, 28 - i, 16 + i, 29 - i}, clBlack);
        }
    if (ew)
        for (int i = 0; i < 5; ++i) {
            Fill(*b, {3 + i, 16 - i, 4 + i, 16 + i}, clBlack);
            Fill(*b, {28 - i, 16 - i, 29 - i, 16 + i}, clBlack);
        }
    return b;
}

// A black arrow head with a white rim pointing (DX, DY) away from the centre of a 32 x 32 picture.
void ArrowHead(TBitmap& b, int dx, int dy) {
    const int cx = 16 + dx * 10, cy = 16 + dy * 10; // the tip
    for (int pass = 0; pass < 2; ++pass) {
        TColor c = pass == 0 ? clWhite : clBlack;
        int grow = pass == 0 ? 1 : 0;
        for (int i = 0; i < 5; ++i) {
            int along = i, half = i + grow;
            // Along the arrow back from the tip, a line across it of growing width.
            if (dx != 0 && dy != 0) {
                for (int k = 0; k <= half; ++k) {
                    Fill(b,
                         {cx - dx * (along + k), cy - dy * along, cx - dx * (along + k) + 1,
                          cy - dy * along + 1},
                         c);
                    Fill(b,
                         {cx - dx * along, cy - dy * (along + k), cx - dx * along + 1,
                          cy - dy * (along + k) + 1},
                         c);
                }
            } else if (dx != 0) {
                int x = cx - dx * along;
                Fill(b, {x, cy - half, x + 1, cy + half + 1}, c);
            } else {
                int y = cy - dy * along;
                Fill(b, {cx - half, y, cx + half + 1, y + 1}, c);
            }
        }
    }
}

std::unique_ptr<TBitmap> CursorPicture(const std::string& name) {
    auto b = std::make_unique<TBitmap>(32, 32);
    Fill(*b, {0, 0, 32, 32}, Key);
    if (name == "LT_HEADERSPLIT" || name == "LT_VERTSPLIT") {
        const bool across = name == "LT_HEADERSPLIT"; // a column edge: the bars stand upright
        TRect bar = across ? TRect{14, 6, 18, 26} : TRect{6, 14, 26, 18};
        Fill(*b, bar, clWhite);
        Fill(*b, across ? TRect{15, 7, 16, 25} : TRect{7, 15, 25, 16}, clBlack);
        Fill(*b, across ? TRect{16, 7, 17, 25} : TRect{7, 16, 25, 17}, clBlack);
        ArrowHead(*b, across ? -1 : 0, across ? 0 : -1);
        ArrowHead(*b, across ? 1 : 0, across ? 0 : 1);
        return b;
    }
    if (name.rfind("LT_MOVE", 0) != 0) return nullptr;
    const std::string where = name.substr(7);
    Fill(*b, {12, 12, 20, 20}, clWhite);
    Fill(*b, {13, 13, 19, 19}, clBlack);
    const bool all = where == "ALL", ns = all || where == "NS", ew = all || where == "EW";
    if (ns || ew) {
        if (ns) ArrowHead(*b, 0, -1), ArrowHead(*b, 0, 1);
        if (ew) ArrowHead(*b, -1, 0), ArrowHead(*b, 1, 0);
        return b;
    }
    int dx = 0, dy = 0;
    for (char c : where) {
        if (c == 'N') dy = -1;
        if (c == 'S') dy = 1;
        if (c == 'E') dx = 1;
        if (c == 'W') dx = -1;
    }
    if (dx == 0 && dy == 0) return nullptr;
    ArrowHead(*b, dx, dy);
    return b;
}

void MapColours(TBitmap& b) {
    struct Map {
        TColor from;
        int sys;
    };
    static const Map map[] = {{clWhite, COLOR_WINDOW},
                              {clSilver, COLOR_BTNFACE},
                              {clGray, COLOR_BTNSHADOW},
                              {clBlack, COLOR_BTNTEXT}};
    for (int y = 0; y < b.Height(); ++y)
        for (int x = 0; x < b.Width(); ++x) {
            TColor c = b.Canvas().Pixel(x, y);
            for (const Map& m : map)
                if (c == m.from) {
                    b.Canvas().SetPixel(x, y, TColor(GetSysColor(m.sys)));
                    break;
                }
        }
}

} // namespace

std::unique_ptr<TCursorObject> LoadTreeCursorResource(const std::string& name) {
    std::unique_ptr<TBitmap> picture = CursorPicture(name);
    if (!picture) return nullptr;
    return CreatePictureCursor(picture->Handle(), ColorToRGB(Key), 16, 16);
}

std::unique_ptr<TBitmap> LoadTreeBitmapResource(const std::string& name, bool colourMapped) {
    std::unique_ptr<TBitmap> b;
    if (name == "LT_CHECK_LIGHT")
        b = CheckStrip(false, false, false, false);
    else if (name == "LT_CHECK_DARK")
        b = CheckStrip(true, false, false, false);
    else if (name == "LT_TICK_LIGHT")
        b = CheckStrip(false, true, false, false);
    else if (name == "LT_TICK_DARK")
        b = CheckStrip(true, true, false, false);
    else if (name == "LT_FLAT")
        b = CheckStrip(false, false, true, false);
    else if (name == "LT_XP")
        b = CheckStrip(false, false, false, true);
    else if (name == "LT_UTILITIES")
        b = UtilityStrip();
    else if (name == "LT_XPBUTTONPLUS")
        b = XPButton(true);
    else if (name == "LT_XPBUTTONMINUS")
        b = XPButton(false);
    else if (name == "LT_MOVEALL")
        b = PanPicture(true, true);
    else if (name == "LT_MOVEEW")
        b = PanPicture(true, false);
    else if (name == "LT_MOVENS")
        b = PanPicture(false, true);
    else
        return nullptr;
    if (colourMapped) MapColours(*b);
    return b;
}

} // namespace nuq
