// Device contexts over 32-bit pixel buffers: copies and fills run our own
// raster operations; text, ellipses and polygons go through QPainter with
// antialiasing off.

#include "platform/gui/Gdi.h"
#include "platform/gui/GdiPrivate.h"

#include <QFont>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QPainter>
#include <QPainterPath>
#include <QPolygon>

#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string_view>
#include <tuple>
#include <unistd.h>
#include <unordered_map>
#include <unordered_set>

namespace nuq {

namespace {

struct TObjectTable {
    std::mutex Lock;
    std::unordered_set<const TGdiObject*> Live;
};

TObjectTable& Objects() {
    static auto* t = new TObjectTable; // stock objects outlive every other static
    return *t;
}

} // namespace

TGdiObject::TGdiObject() {
    auto& t = Objects();
    std::lock_guard<std::mutex> guard(t.Lock);
    t.Live.insert(this);
}

TGdiObject::TGdiObject(const TGdiObject&) : TGdiObject() {}

TGdiObject::~TGdiObject() {
    auto& t = Objects();
    std::lock_guard<std::mutex> guard(t.Lock);
    t.Live.erase(this);
}

bool IsGdiObject(const TGdiObject* object) {
    auto& t = Objects();
    std::lock_guard<std::mutex> guard(t.Lock);
    return t.Live.count(object) != 0;
}

TBitmapObject::TBitmapObject(int width, int height, int bitsPerPixel)
    : Width(std::max(width, 0)), Height(std::max(height, 0)),
      BitsPerPixel(bitsPerPixel == 1 ? 1 : 32), Bits(size_t(Width) * size_t(Height), 0xFF000000u) {}

namespace {

struct TDCState {
    // The selected objects, and copies of them for drawing: a context never
    // reads an object that its owner has deleted since.
    HPEN Pen = nullptr;
    HBRUSH Brush = nullptr;
    HFONT Font = nullptr;
    TPenObject PenV;
    TBrushObject BrushV;
    TFontObject FontV;
    HBITMAP Bitmap = nullptr;
    COLORREF Text = 0, Bk = 0xFFFFFF;
    int BkMode = OPAQUE, Rop2 = R2_COPYPEN, StretchMode = BLACKONWHITE, MapMode = MM_TEXT;
    UINT TextAlign = 0;
    TPoint WinOrg, VpOrg, BrushOrg, Pos;
    bool HasClip = false;
    QRegion Clip; // device coordinates
};

} // namespace

class TDeviceContext {
public:
    TDCState S;
    std::vector<TDCState> Saved;
    TBitmapObject* Window = nullptr; // a window's image, when not a memory context
    TPoint Offset;                   // device to image pixels
    QRegion Base;                    // image pixels; empty with HasBase false: whole image
    bool HasBase = false;
    std::unique_ptr<TBitmapObject> Stock; // the 1 x 1 bitmap a memory context starts with

    TBitmapObject* Surface() const { return Window ? Window : S.Bitmap; }
    int ToX(int x) const { return x - S.WinOrg.X + S.VpOrg.X + Offset.X; }
    int ToY(int y) const { return y - S.WinOrg.Y + S.VpOrg.Y + Offset.Y; }
    // Where drawing may land, in image pixels.
    QRegion Clip() const {
        auto* s = Surface();
        QRegion r(0, 0, s ? s->Width : 0, s ? s->Height : 0);
        if (HasBase) r &= Base;
        if (S.HasClip) r &= S.Clip.translated(Offset.X, Offset.Y);
        return r;
    }
};

namespace {

TPenObject stockBlackPen, stockWhitePen, stockNullPen;
TBrushObject stockWhiteBrush, stockBlackBrush, stockNullBrush;
TFontObject stockFont;
std::once_flag stockOnce;

void InitStock() {
    std::call_once(stockOnce, [] {
        stockWhitePen.Color = 0xFFFFFF;
        stockNullPen.Style = PS_NULL;
        stockWhiteBrush.Color = 0xFFFFFF;
        stockNullBrush.Style = BS_NULL;
    });
}

bool IsStock(HGDIOBJ o) {
    return o == &stockBlackPen || o == &stockWhitePen || o == &stockNullPen ||
           o == &stockWhiteBrush || o == &stockBlackBrush || o == &stockNullBrush ||
           o == &stockFont;
}

uint32_t ToMono(uint32_t pixel) {
    int sum = ((pixel >> 16) & 255) + ((pixel >> 8) & 255) + (pixel & 255);
    return sum >= 384 ? 0xFFFFFFFFu : 0xFF000000u;
}

uint32_t Rop3(uint8_t code, uint32_t p, uint32_t s, uint32_t d) {
    switch (code) {
    case 0xCC:
        return s;
    case 0x88:
        return s & d;
    case 0xEE:
        return s | d;
    case 0x66:
        return s ^ d;
    case 0x44:
        return s & ~d;
    case 0x33:
        return ~s;
    case 0xF0:
        return p;
    case 0x5A:
        return p ^ d;
    case 0x55:
        return ~d;
    case 0xAA:
        return d;
    case 0x00:
        return 0;
    case 0xFF:
        return ~0u;
    default:
        break;
    }
    uint32_t r = 0;
    for (int i = 0; i < 8; ++i)
        if ((code >> i) & 1) r |= ((i & 4) ? p : ~p) & ((i & 2) ? s : ~s) & ((i & 1) ? d : ~d);
    return r;
}

// The brush's pixel at an image position, in image pixel form.
uint32_t BrushPixel(const TDeviceContext& dc, int ix, int iy) {
    const TBrushObject* b = &dc.S.BrushV;
    if (!b || b->Style == BS_NULL) return 0xFFFFFFFFu;
    if (b->Style != BS_PATTERN || b->Pattern.size() < 64) return ToPixel(b->Color);
    int px = ((ix - dc.Offset.X - dc.S.BrushOrg.X) % 8 + 8) % 8;
    int py = ((iy - dc.Offset.Y - dc.S.BrushOrg.Y) % 8 + 8) % 8;
    uint32_t v = b->Pattern[size_t(py * 8 + px)];
    if (b->MonoPattern) return ToPixel((v & 0xFFFFFF) ? dc.S.Bk : dc.S.Text);
    return v;
}

// Runs Fn(x, y) for every image pixel of R (image coordinates) inside the clip.
template <class Fn> void ForClipped(const TDeviceContext& dc, QRect r, Fn fn) {
    QRegion clip = dc.Clip() & QRegion(r);
    for (const QRect& c : clip)
        for (int y = c.top(); y <= c.bottom(); ++y)
            for (int x = c.left(); x <= c.right(); ++x) fn(x, y);
}

uint32_t Store(const TBitmapObject* s, uint32_t v) {
    return s->BitsPerPixel == 1 ? ToMono(v) : v;
}

void FillWithBrush(HDC dc, const TRect& r, HBRUSH brush, uint8_t rop = 0xF0) {
    auto* s = dc->Surface();
    if (!s || !brush || brush->Style == BS_NULL) return;
    if (rop == 0xF0 && brush->Style != BS_PATTERN && s->BitsPerPixel == 32) {
        // A plain colour copied: whole runs of a row at once.
        uint32_t p = ToPixel(brush->Color) | 0xFF000000u;
        QRect q(QPoint(dc->ToX(r.Left), dc->ToY(r.Top)),
                QPoint(dc->ToX(r.Right) - 1, dc->ToY(r.Bottom) - 1));
        QRegion clip = dc->Clip() & QRegion(q);
        for (const QRect& c : clip)
            for (int y = c.top(); y <= c.bottom(); ++y) {
                uint32_t* row = s->Bits.data() + size_t(y) * s->Width;
                std::fill(row + c.left(), row + c.right() + 1, p);
            }
        return;
    }
    TBrushObject old = dc->S.BrushV;
    dc->S.BrushV = *brush;
    QRect q(QPoint(dc->ToX(r.Left), dc->ToY(r.Top)),
            QPoint(dc->ToX(r.Right) - 1, dc->ToY(r.Bottom) - 1));
    ForClipped(*dc, q, [&](int x, int y) {
        uint32_t& d = s->Bits[size_t(y) * s->Width + x];
        uint32_t p = BrushPixel(*dc, x, y);
        if (s->BitsPerPixel == 1) p = ToMono(p);
        d = Store(s, Rop3(rop, p, 0, d) | 0xFF000000u);
    });
    dc->S.BrushV = std::move(old);
}

void PlotPen(HDC dc, int ix, int iy, const QRegion& clip) {
    auto* s = dc->Surface();
    if (!clip.contains(QPoint(ix, iy))) return;
    uint32_t& d = s->Bits[size_t(iy) * s->Width + ix];
    uint32_t p = ToPixel(dc->S.PenV.Color);
    switch (dc->S.Rop2) {
    case R2_XORPEN:
        d = Store(s, (d ^ p) | 0xFF000000u);
        break;
    case R2_NOT:
        d = Store(s, ~d | 0xFF000000u);
        break;
    case R2_BLACK:
        d = 0xFF000000u;
        break;
    case R2_WHITE:
        d = 0xFFFFFFFFu;
        break;
    default:
        d = Store(s, p);
    }
}

// A line from (x0, y0) up to but not including (x1, y1), in logical coordinates.
void Line(HDC dc, int x0, int y0, int x1, int y1) {
    auto* s = dc->Surface();
    const TPenObject* pen = &dc->S.PenV;
    if (!s || !pen || pen->Style == PS_NULL) return;
    QRegion clip = dc->Clip();
    int ax = dc->ToX(x0), ay = dc->ToY(y0), bx = dc->ToX(x1), by = dc->ToY(y1);
    int dx = std::abs(bx - ax), dy = -std::abs(by - ay);
    int sx = ax < bx ? 1 : -1, sy = ay < by ? 1 : -1;
    int err = dx + dy, n = 0;
    int w = std::max(1, pen->Width);
    while (!(ax == bx && ay == by)) {
        bool on = pen->Style == PS_SOLID || pen->Style == PS_INSIDEFRAME ||
                  (pen->Style == PS_DOT && n % 2 == 0) || (pen->Style == PS_DASH && n % 6 < 4);
        if (on)
            for (int i = 0; i < w; ++i)
                for (int j = 0; j < w; ++j) PlotPen(dc, ax + i - w / 2, ay + j - w / 2, clip);
        ++n;
        int e2 = 2 * err;
        if (e2 >= dy) {
            err += dy;
            ax += sx;
        }
        if (e2 <= dx) {
            err += dx;
            ay += sy;
        }
    }
}

QFont MakeFont(const TFontObject* f) {
    const TFontObject& font = f ? *f : stockFont;
    QFont q(QString::fromStdString(font.Face));
    q.setPixelSize(std::max(1, std::abs(font.Height)));
    q.setBold(font.Weight >= 600);
    q.setItalic(font.Italic);
    q.setUnderline(font.Underline);
    q.setStrikeOut(font.StrikeOut);
    q.setStyleStrategy(QFont::NoAntialias);
    q.setHintingPreference(QFont::PreferFullHinting);
    return q;
}

// Paints with QPainter into the image, clipped, in image coordinates.
template <class Fn> void WithPainter(HDC dc, Fn fn) {
    auto* s = dc->Surface();
    if (!s || s->Width == 0 || s->Height == 0) return;
    EnsureGuiToolkit();
    QImage img = SurfaceImage(s);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setRenderHint(QPainter::TextAntialiasing, false);
    p.setClipRegion(dc->Clip());
    fn(p);
}

QString Text16(const char16_t* text, int count) {
    if (count < 0) {
        count = 0;
        while (text[count]) ++count;
    }
    return QString::fromUtf16(text, count);
}

} // namespace

QImage SurfaceImage(TBitmapObject* b) {
    return QImage(reinterpret_cast<uchar*>(b->Bits.data()), b->Width, b->Height, b->Width * 4,
                  QImage::Format_RGB32);
}

void PrepareGuiEnvironment() {
    if (!getenv("QT_QPA_PLATFORM") && !getenv("DISPLAY") && !getenv("WAYLAND_DISPLAY"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    if (!getenv("XDG_RUNTIME_DIR")) {
        auto dir =
            std::filesystem::temp_directory_path() / ("nuq-runtime-" + std::to_string(getuid()));
        std::filesystem::create_directories(dir);
        std::filesystem::permissions(dir, std::filesystem::perms::owner_all);
        setenv("XDG_RUNTIME_DIR", dir.c_str(), 1);
    }
}

void KeepNumbersInCLocale() {
    // Texts and character classes may follow the user's locale; number texts
    // in files, scripts and on screen are written and read with ".", and a
    // comma would not read back.
    setlocale(LC_NUMERIC, "C");
}

void EnsureGuiToolkit() {
    static std::once_flag once;
    std::call_once(once, [] {
        if (QCoreApplication::instance()) return;
        PrepareGuiEnvironment();
        static int argc = 1;
        static char name[] = "nuq";
        static char* argv[] = {name, nullptr};
        new QGuiApplication(argc, argv); // lives as long as the process
        KeepNumbersInCLocale();
    });
}

HDC CreateSurfaceDC(TBitmapObject* surface, TPoint offset, const QRegion& baseClip) {
    InitStock();
    auto* dc = new TDeviceContext;
    dc->Window = surface;
    dc->Offset = offset;
    dc->Base = baseClip;
    dc->HasBase = true;
    SelectObject(dc, &stockBlackPen);
    SelectObject(dc, &stockWhiteBrush);
    SelectObject(dc, &stockFont);
    return dc;
}

// --- objects -------------------------------------------------------------------

HPEN CreatePen(int style, int width, COLORREF color) {
    auto* p = new TPenObject;
    p->Style = style;
    p->Width = width < 1 ? 1 : width;
    p->Color = color & 0xFFFFFF;
    return p;
}

HBRUSH CreateSolidBrush(COLORREF color) {
    auto* b = new TBrushObject;
    b->Color = color & 0xFFFFFF;
    return b;
}

HBRUSH CreatePatternBrush(HBITMAP bitmap) {
    auto* b = new TBrushObject;
    b->Style = BS_PATTERN;
    b->MonoPattern = bitmap && bitmap->BitsPerPixel == 1;
    b->Pattern.assign(64, 0xFFFFFFFFu);
    if (bitmap)
        for (int y = 0; y < 8 && y < bitmap->Height; ++y)
            for (int x = 0; x < 8 && x < bitmap->Width; ++x)
                b->Pattern[size_t(y * 8 + x)] = bitmap->Scanline(y)[x];
    return b;
}

HFONT CreateFontIndirect(const TFontObject& font) {
    return new TFontObject(font);
}

HBITMAP CreateBitmap(int width, int height, int bitsPerPixel) {
    return new TBitmapObject(width, height, bitsPerPixel);
}

HBITMAP CreateCompatibleBitmap(HDC dc, int width, int height) {
    auto* s = dc ? dc->Surface() : nullptr;
    return new TBitmapObject(width, height, s && !dc->Window ? s->BitsPerPixel : 32);
}

HRGN CreateRectRgn(int left, int top, int right, int bottom) {
    auto* r = new TRegionObject;
    TRect rect{std::min(left, right), std::min(top, bottom), std::max(left, right),
               std::max(top, bottom)};
    if (!rect.IsEmpty()) r->Rects.push_back(rect);
    return r;
}

bool DeleteObject(HGDIOBJ object) {
    if (!object || IsStock(object) || !IsGdiObject(object)) return false;
    if (auto* b = dynamic_cast<TBitmapObject*>(object); b && b->SelectedInto) return false;
    delete object;
    return true;
}

HGDIOBJ GetStockObject(int index) {
    InitStock();
    switch (index) {
    case WHITE_BRUSH:
        return &stockWhiteBrush;
    case BLACK_BRUSH:
        return &stockBlackBrush;
    case NULL_BRUSH:
        return &stockNullBrush;
    case WHITE_PEN:
        return &stockWhitePen;
    case BLACK_PEN:
        return &stockBlackPen;
    case NULL_PEN:
        return &stockNullPen;
    case DEFAULT_GUI_FONT:
        return &stockFont;
    default:
        return nullptr;
    }
}

bool GetBitmapInfo(HBITMAP bitmap, TBitmapInfo& info) {
    if (!bitmap) return false;
    info.Width = bitmap->Width;
    info.Height = -bitmap->Height;
    info.BitsPerPixel = bitmap->BitsPerPixel;
    info.Bits = bitmap->Bits.empty() ? nullptr : bitmap->Bits.data();
    return true;
}

// --- contexts -------------------------------------------------------------------

HDC CreateCompatibleDC(HDC) {
    InitStock();
    auto* dc = new TDeviceContext;
    dc->Stock = std::make_unique<TBitmapObject>(1, 1, 1);
    dc->S.Bitmap = dc->Stock.get();
    dc->Stock->SelectedInto = dc;
    SelectObject(dc, &stockBlackPen);
    SelectObject(dc, &stockWhiteBrush);
    SelectObject(dc, &stockFont);
    return dc;
}

bool DeleteDC(HDC dc) {
    if (!dc) return false;
    if (dc->S.Bitmap && dc->S.Bitmap != dc->Stock.get()) dc->S.Bitmap->SelectedInto = nullptr;
    delete dc;
    return true;
}

HGDIOBJ SelectObject(HDC dc, HGDIOBJ object) {
    if (!dc || !object || !IsGdiObject(object)) return nullptr;
    if (auto* p = dynamic_cast<TPenObject*>(object)) {
        dc->S.PenV = *p;
        return std::exchange(dc->S.Pen, p);
    }
    if (auto* b = dynamic_cast<TBrushObject*>(object)) {
        dc->S.BrushV = *b;
        return std::exchange(dc->S.Brush, b);
    }
    if (auto* f = dynamic_cast<TFontObject*>(object)) {
        dc->S.FontV = *f;
        return std::exchange(dc->S.Font, f);
    }
    if (auto* bm = dynamic_cast<TBitmapObject*>(object)) {
        if (dc->Window) return nullptr; // a window's context draws into the window
        if (bm->SelectedInto && bm->SelectedInto != dc) return nullptr;
        HBITMAP old = dc->S.Bitmap;
        if (old) old->SelectedInto = nullptr;
        dc->S.Bitmap = bm;
        bm->SelectedInto = dc;
        return old;
    }
    if (auto* r = dynamic_cast<TRegionObject*>(object)) {
        SelectClipRgn(dc, r);
        return nullptr;
    }
    return nullptr;
}

HGDIOBJ GetCurrentObject(HDC dc, int kind) {
    if (!dc) return nullptr;
    switch (kind) {
    case OBJ_PEN:
        return dc->S.Pen;
    case OBJ_BRUSH:
        return dc->S.Brush;
    case OBJ_FONT:
        return dc->S.Font;
    case OBJ_BITMAP:
        return dc->S.Bitmap;
    default:
        return nullptr;
    }
}

HBITMAP GetDCBitmap(HDC dc) {
    return dc && !dc->Window ? dc->S.Bitmap : nullptr;
}

HPALETTE SelectPalette(HDC, HPALETTE, bool) {
    return nullptr;
}
UINT RealizePalette(HDC) {
    return 0;
}

int SaveDC(HDC dc) {
    dc->Saved.push_back(dc->S);
    return int(dc->Saved.size());
}

bool RestoreDC(HDC dc, int saved) {
    int depth = int(dc->Saved.size());
    int target = saved < 0 ? depth + saved + 1 : saved;
    if (target < 1 || target > depth) return false;
    TDCState s = dc->Saved[size_t(target - 1)];
    dc->Saved.resize(size_t(target - 1));
    if (dc->S.Bitmap != s.Bitmap) {
        if (dc->S.Bitmap) dc->S.Bitmap->SelectedInto = nullptr;
        if (s.Bitmap) s.Bitmap->SelectedInto = dc;
    }
    dc->S = s;
    return true;
}

COLORREF SetBkColor(HDC dc, COLORREF c) {
    return std::exchange(dc->S.Bk, c & 0xFFFFFF);
}
COLORREF GetBkColor(HDC dc) {
    return dc->S.Bk;
}
COLORREF SetTextColor(HDC dc, COLORREF c) {
    return std::exchange(dc->S.Text, c & 0xFFFFFF);
}
COLORREF GetTextColor(HDC dc) {
    return dc->S.Text;
}
int SetBkMode(HDC dc, int mode) {
    return std::exchange(dc->S.BkMode, mode);
}
int SetROP2(HDC dc, int mode) {
    return std::exchange(dc->S.Rop2, mode);
}
int SetStretchBltMode(HDC dc, int mode) {
    return std::exchange(dc->S.StretchMode, mode);
}
int GetStretchBltMode(HDC dc) {
    return dc->S.StretchMode;
}
int SetMapMode(HDC dc, int mode) {
    return std::exchange(dc->S.MapMode, mode);
}
int GetMapMode(HDC dc) {
    return dc->S.MapMode;
}
UINT SetTextAlign(HDC dc, UINT align) {
    return std::exchange(dc->S.TextAlign, align);
}
UINT GetTextAlign(HDC dc) {
    return dc->S.TextAlign;
}

bool SetWindowOrgEx(HDC dc, int x, int y, TPoint* old) {
    if (old) *old = dc->S.WinOrg;
    dc->S.WinOrg = {x, y};
    return true;
}
bool GetWindowOrgEx(HDC dc, TPoint& org) {
    org = dc->S.WinOrg;
    return true;
}
bool SetViewportOrgEx(HDC dc, int x, int y, TPoint* old) {
    if (old) *old = dc->S.VpOrg;
    dc->S.VpOrg = {x, y};
    return true;
}
bool GetViewportOrgEx(HDC dc, TPoint& org) {
    org = dc->S.VpOrg;
    return true;
}
bool SetBrushOrgEx(HDC dc, int x, int y, TPoint* old) {
    if (old) *old = dc->S.BrushOrg;
    dc->S.BrushOrg = {x, y};
    return true;
}

namespace {

int RegionKind(const QRegion& r) {
    return r.isEmpty() ? NULLREGION : r.rectCount() == 1 ? SIMPLEREGION : COMPLEXREGION;
}

// A logical rectangle as device pixels.
QRegion DeviceRect(HDC dc, int l, int t, int r, int b) {
    int ox = -dc->S.WinOrg.X + dc->S.VpOrg.X, oy = -dc->S.WinOrg.Y + dc->S.VpOrg.Y;
    if (r <= l || b <= t) return QRegion();
    return QRegion(l + ox, t + oy, r - l, b - t);
}

QRegion WholeDevice(HDC dc) {
    auto* s = dc->Surface();
    return QRegion(-dc->Offset.X, -dc->Offset.Y, s ? s->Width : 0, s ? s->Height : 0);
}

} // namespace

int IntersectClipRect(HDC dc, int l, int t, int r, int b) {
    QRegion cur = dc->S.HasClip ? dc->S.Clip : WholeDevice(dc);
    dc->S.Clip = cur & DeviceRect(dc, l, t, r, b);
    dc->S.HasClip = true;
    return RegionKind(dc->S.Clip);
}

int ExcludeClipRect(HDC dc, int l, int t, int r, int b) {
    QRegion cur = dc->S.HasClip ? dc->S.Clip : WholeDevice(dc);
    dc->S.Clip = cur - DeviceRect(dc, l, t, r, b);
    dc->S.HasClip = true;
    return RegionKind(dc->S.Clip);
}

namespace {

QRegion ToQRegion(HRGN region) {
    QRegion r;
    if (region)
        for (const TRect& rc : region->Rects)
            r |= QRegion(rc.Left, rc.Top, rc.Width(), rc.Height());
    return r;
}

} // namespace

int CombineRgn(HRGN dest, HRGN a, HRGN b, int mode) {
    if (!dest || !a || (mode != RGN_COPY && !b)) return RGN_ERROR;
    QRegion first = ToQRegion(a), second = mode == RGN_COPY ? QRegion() : ToQRegion(b), r;
    switch (mode) {
    case RGN_AND:
        r = first & second;
        break;
    case RGN_OR:
        r = first | second;
        break;
    case RGN_XOR:
        r = first ^ second;
        break;
    case RGN_DIFF:
        r = first - second;
        break;
    case RGN_COPY:
        r = first;
        break;
    default:
        return RGN_ERROR;
    }
    dest->Rects.clear();
    for (const QRect& q : r)
        dest->Rects.push_back({q.left(), q.top(), q.right() + 1, q.bottom() + 1});
    return RegionKind(r);
}

int SelectClipRgn(HDC dc, HRGN region) {
    if (!region) {
        dc->S.HasClip = false;
        dc->S.Clip = QRegion();
        return SIMPLEREGION;
    }
    QRegion r = ToQRegion(region);
    dc->S.Clip = r;
    dc->S.HasClip = true;
    return RegionKind(r);
}

int GetClipBox(HDC dc, TRect& box) {
    QRect b = dc->Clip().boundingRect();
    int ox = dc->ToX(0), oy = dc->ToY(0);
    box = b.isEmpty() ? TRect{}
                      : TRect{b.left() - ox, b.top() - oy, b.right() + 1 - ox, b.bottom() + 1 - oy};
    return RegionKind(dc->Clip());
}

// --- copies ---------------------------------------------------------------------

bool StretchBlt(HDC dest, int x, int y, int w, int h, HDC src, int sx, int sy, int sw, int sh,
                DWORD rop) {
    auto* d = dest ? dest->Surface() : nullptr;
    if (!d || w <= 0 || h <= 0) return false;
    uint8_t code = uint8_t(rop >> 16);
    bool needSrc = ((code >> 2) ^ code) & 0x33;
    TBitmapObject* s = needSrc && src ? src->Surface() : nullptr;
    if (needSrc && (!s || sw <= 0 || sh <= 0)) return false;
    // A copy within one image reads what was there before.
    std::vector<uint32_t> snapshot;
    const uint32_t* sbits = nullptr;
    if (s) {
        if (s == d) snapshot = s->Bits;
        sbits = s == d ? snapshot.data() : s->Bits.data();
    }
    int ix0 = dest->ToX(x), iy0 = dest->ToY(y);
    bool srcMono = s && s->BitsPerPixel == 1, destMono = d->BitsPerPixel == 1;
    uint32_t srcBk = src ? ToPixel(src->S.Bk) : 0, destBk = ToPixel(dest->S.Bk),
             destText = ToPixel(dest->S.Text);
    ForClipped(*dest, QRect(ix0, iy0, w, h), [&](int ix, int iy) {
        uint32_t sp = 0xFF000000u;
        if (s) {
            int lx = sx + int(int64_t(ix - ix0) * sw / w),
                ly = sy + int(int64_t(iy - iy0) * sh / h);
            int px = src->ToX(lx), py = src->ToY(ly);
            if (px >= 0 && py >= 0 && px < s->Width && py < s->Height)
                sp = sbits[size_t(py) * s->Width + px];
            if (srcMono && !destMono)
                sp = (sp & 0xFFFFFF) ? destBk : destText;
            else if (!srcMono && destMono)
                sp = ((sp & 0xFFFFFF) == (srcBk & 0xFFFFFF)) ? 0xFFFFFFFFu : 0xFF000000u;
        }
        uint32_t pp = BrushPixel(*dest, ix, iy);
        if (destMono) pp = ToMono(pp);
        uint32_t& dp = d->Bits[size_t(iy) * d->Width + ix];
        uint32_t v = Rop3(code, pp, sp, dp);
        if (code != 0xCC) v |= 0xFF000000u; // only a plain copy carries the source's fourth byte
        dp = destMono ? ToMono(v) : v;
    });
    return true;
}

bool BitBlt(HDC dest, int x, int y, int w, int h, HDC src, int sx, int sy, DWORD rop) {
    return StretchBlt(dest, x, y, w, h, src, sx, sy, w, h, rop);
}

bool PatBlt(HDC dc, int x, int y, int w, int h, DWORD rop) {
    if (!dc || !dc->Surface()) return false;
    TBrushObject brush = dc->S.BrushV;
    FillWithBrush(dc, TRect{x, y, x + w, y + h}, &brush, uint8_t(rop >> 16));
    return true;
}

COLORREF GetPixel(HDC dc, int x, int y) {
    auto* s = dc ? dc->Surface() : nullptr;
    int ix = dc ? dc->ToX(x) : 0, iy = dc ? dc->ToY(y) : 0;
    if (!s || ix < 0 || iy < 0 || ix >= s->Width || iy >= s->Height ||
        !dc->Clip().contains(QPoint(ix, iy)))
        return CLR_INVALID;
    return FromPixel(s->Bits[size_t(iy) * s->Width + ix]);
}

COLORREF SetPixel(HDC dc, int x, int y, COLORREF color) {
    auto* s = dc ? dc->Surface() : nullptr;
    int ix = dc ? dc->ToX(x) : 0, iy = dc ? dc->ToY(y) : 0;
    if (!s || ix < 0 || iy < 0 || ix >= s->Width || iy >= s->Height ||
        !dc->Clip().contains(QPoint(ix, iy)))
        return CLR_INVALID;
    uint32_t v = Store(s, ToPixel(color));
    s->Bits[size_t(iy) * s->Width + ix] = v;
    return FromPixel(v);
}

// --- shapes ---------------------------------------------------------------------

int FillRect(HDC dc, const TRect& r, HBRUSH brush) {
    if (!dc || !brush) return 0;
    FillWithBrush(dc, r, brush);
    return 1;
}

int FrameRect(HDC dc, const TRect& r, HBRUSH brush) {
    if (!dc || !brush || r.IsEmpty()) return 0;
    FillWithBrush(dc, {r.Left, r.Top, r.Right, r.Top + 1}, brush);
    FillWithBrush(dc, {r.Left, r.Bottom - 1, r.Right, r.Bottom}, brush);
    FillWithBrush(dc, {r.Left, r.Top, r.Left + 1, r.Bottom}, brush);
    FillWithBrush(dc, {r.Right - 1, r.Top, r.Right, r.Bottom}, brush);
    return 1;
}

bool InvertRect(HDC dc, const TRect& r) {
    if (!dc) return false;
    FillWithBrush(dc, r, &stockBlackBrush, 0x55);
    return true;
}

bool Rectangle(HDC dc, int l, int t, int r, int b) {
    if (!dc) return false;
    TBrushObject brush = dc->S.BrushV;
    FillWithBrush(dc, {l + 1, t + 1, r - 1, b - 1}, &brush);
    Line(dc, l, t, r - 1, t);
    Line(dc, r - 1, t, r - 1, b - 1);
    Line(dc, r - 1, b - 1, l, b - 1);
    Line(dc, l, b - 1, l, t);
    return true;
}

bool Ellipse(HDC dc, int l, int t, int r, int b) {
    if (!dc) return false;
    int ix = dc->ToX(l), iy = dc->ToY(t);
    WithPainter(dc, [&](QPainter& p) {
        const TPenObject* pen = &dc->S.PenV;
        const TBrushObject* br = &dc->S.BrushV;
        p.setPen(pen && pen->Style != PS_NULL ? QPen(QColor::fromRgb(ToPixel(pen->Color)), 0)
                                              : QPen(Qt::NoPen));
        p.setBrush(br && br->Style != BS_NULL ? QBrush(QColor::fromRgb(ToPixel(br->Color)))
                                              : QBrush(Qt::NoBrush));
        p.drawEllipse(QRect(ix, iy, r - l - 1, b - t - 1));
    });
    return true;
}

bool RoundRect(HDC dc, int l, int t, int r, int b, int width, int height) {
    if (!dc) return false;
    if (width <= 0 || height <= 0) return Rectangle(dc, l, t, r, b);
    int ix = dc->ToX(l), iy = dc->ToY(t);
    WithPainter(dc, [&](QPainter& p) {
        const TPenObject* pen = &dc->S.PenV;
        const TBrushObject* br = &dc->S.BrushV;
        p.setPen(pen && pen->Style != PS_NULL ? QPen(QColor::fromRgb(ToPixel(pen->Color)), 0)
                                              : QPen(Qt::NoPen));
        p.setBrush(br && br->Style != BS_NULL ? QBrush(QColor::fromRgb(ToPixel(br->Color)))
                                              : QBrush(Qt::NoBrush));
        p.drawRoundedRect(QRect(ix, iy, r - l - 1, b - t - 1), width / 2.0, height / 2.0);
    });
    return true;
}

bool MoveToEx(HDC dc, int x, int y, TPoint* old) {
    if (old) *old = dc->S.Pos;
    dc->S.Pos = {x, y};
    return true;
}

bool LineTo(HDC dc, int x, int y) {
    Line(dc, dc->S.Pos.X, dc->S.Pos.Y, x, y);
    dc->S.Pos = {x, y};
    return true;
}

bool Polyline(HDC dc, const TPoint* pts, int count) {
    for (int i = 1; i < count; ++i) Line(dc, pts[i - 1].X, pts[i - 1].Y, pts[i].X, pts[i].Y);
    return count > 1;
}

bool Polygon(HDC dc, const TPoint* pts, int count) {
    if (!dc || count < 2) return false;
    const TBrushObject* br = &dc->S.BrushV;
    if (br && br->Style != BS_NULL) {
        QPolygon poly;
        for (int i = 0; i < count; ++i) poly << QPoint(dc->ToX(pts[i].X), dc->ToY(pts[i].Y));
        WithPainter(dc, [&](QPainter& p) {
            p.setPen(Qt::NoPen);
            p.setBrush(QColor::fromRgb(ToPixel(br->Color)));
            p.drawPolygon(poly);
        });
    }
    Polyline(dc, pts, count);
    Line(dc, pts[count - 1].X, pts[count - 1].Y, pts[0].X, pts[0].Y);
    return true;
}

bool DrawFocusRect(HDC dc, const TRect& r) {
    auto* s = dc ? dc->Surface() : nullptr;
    if (!s || r.IsEmpty()) return false;
    QRegion clip = dc->Clip();
    auto flip = [&](int lx, int ly) {
        int ix = dc->ToX(lx), iy = dc->ToY(ly);
        if (!clip.contains(QPoint(ix, iy))) return;
        uint32_t& d = s->Bits[size_t(iy) * s->Width + ix];
        d = Store(s, (d ^ 0xFFFFFFu) | 0xFF000000u);
    };
    // Every other pixel, in the checkerboard of the absolute position.
    for (int x = r.Left; x < r.Right; ++x) {
        if (((x + r.Top) & 1) == 0) flip(x, r.Top);
        if (r.Bottom - 1 > r.Top && ((x + r.Bottom - 1) & 1) == 0) flip(x, r.Bottom - 1);
    }
    for (int y = r.Top + 1; y < r.Bottom - 1; ++y) {
        if (((r.Left + y) & 1) == 0) flip(r.Left, y);
        if (r.Right - 1 > r.Left && ((r.Right - 1 + y) & 1) == 0) flip(r.Right - 1, y);
    }
    return true;
}

// --- text -----------------------------------------------------------------------

bool GetTextMetrics(HDC dc, TTextMetric& tm) {
    EnsureGuiToolkit();
    QFontMetrics m(MakeFont(dc ? &dc->S.FontV : nullptr));
    tm.Height = m.height();
    tm.Ascent = m.ascent();
    tm.Descent = m.descent();
    tm.AveCharWidth = m.averageCharWidth();
    tm.MaxCharWidth = m.maxWidth();
    return true;
}

namespace {

// Texts are measured far more often than fonts change (a column fitted to its
// content measures every row): the metrics of the last font measured in are
// kept, with the widths of the texts met in it.
class TTextMeasure {
public:
    const QFontMetrics& Metrics(const TFontObject* f) {
        const TFontObject& font = f ? *f : stockFont;
        auto key = std::tie(font.Face, font.Height, font.Weight, font.Italic, font.Underline,
                            font.StrikeOut);
        if (!FMetrics ||
            key != std::tie(FFace, FHeight, FWeight, FItalic, FUnderline, FStrikeOut)) {
            std::tie(FFace, FHeight, FWeight, FItalic, FUnderline, FStrikeOut) = key;
            FMetrics.emplace(MakeFont(&font));
            FWidths.clear();
        }
        return *FMetrics;
    }
    int Width(const char16_t* text, int count) {
        std::u16string_view key(text, size_t(count));
        if (auto it = FWidths.find(key); it != FWidths.end()) return it->second;
        int width = FMetrics->horizontalAdvance(Text16(text, count));
        if (FWidths.size() >= MaxWidths) FWidths.clear();
        FWidths.emplace(std::u16string(key), width);
        return width;
    }

private:
    static constexpr size_t MaxWidths = 1 << 16;
    struct Hash {
        using is_transparent = void;
        size_t operator()(std::u16string_view s) const {
            return std::hash<std::u16string_view>()(s);
        }
    };
    std::string FFace;
    int FHeight = 0, FWeight = 0;
    bool FItalic = false, FUnderline = false, FStrikeOut = false;
    std::optional<QFontMetrics> FMetrics;
    std::unordered_map<std::u16string, int, Hash, std::equal_to<>> FWidths;
};

} // namespace

bool GetTextExtentPoint32W(HDC dc, const char16_t* text, int count, TPoint& size) {
    EnsureGuiToolkit();
    if (count < 0) count = int(std::u16string_view(text).size());
    thread_local TTextMeasure measure;
    const QFontMetrics& m = measure.Metrics(dc ? &dc->S.FontV : nullptr);
    size = {measure.Width(text, count), m.height()};
    return true;
}

bool ExtTextOutW(HDC dc, int x, int y, UINT options, const TRect* r, const char16_t* text,
                 int count) {
    if (!dc || !dc->Surface()) return false;
    if (r && (options & ETO_OPAQUE)) {
        HBRUSH bk = CreateSolidBrush(dc->S.Bk);
        FillWithBrush(dc, *r, bk);
        DeleteObject(bk);
    }
    QString s = Text16(text, count);
    if (s.isEmpty()) return true;
    EnsureGuiToolkit();
    QFont font = MakeFont(&dc->S.FontV);
    QFontMetrics m(font);
    UINT h = dc->S.TextAlign & 6;
    // Shaping the text for its width costs as much as drawing it: only when the width is used.
    bool opaque = dc->S.BkMode == OPAQUE && !(r && (options & ETO_OPAQUE));
    int width = (h == TA_RIGHT || h == TA_CENTER || opaque) ? m.horizontalAdvance(s) : 0;
    int ix = dc->ToX(x), iy = dc->ToY(y);
    if (h == TA_RIGHT)
        ix -= width;
    else if (h == TA_CENTER)
        ix -= width / 2;
    UINT v = dc->S.TextAlign & 24;
    int top = v == TA_BASELINE ? iy - m.ascent() : v == TA_BOTTOM ? iy - m.height() : iy;
    if (opaque) {
        HBRUSH bk = CreateSolidBrush(dc->S.Bk);
        int lx = ix - dc->ToX(0), ly = top - dc->ToY(0);
        FillWithBrush(dc, {lx, ly, lx + width, ly + m.height()}, bk);
        DeleteObject(bk);
    }
    WithPainter(dc, [&](QPainter& p) {
        if (r && (options & ETO_CLIPPED))
            p.setClipRect(QRect(dc->ToX(r->Left), dc->ToY(r->Top), r->Width(), r->Height()),
                          Qt::IntersectClip);
        p.setFont(font);
        p.setPen(QColor::fromRgb(ToPixel(dc->S.Text)));
        if (options & ETO_RTLREADING) p.setLayoutDirection(Qt::RightToLeft);
        p.drawText(ix, top + m.ascent(), s);
    });
    return true;
}

bool TextOutW(HDC dc, int x, int y, const char16_t* text, int count) {
    return ExtTextOutW(dc, x, y, 0, nullptr, text, count);
}

int DrawTextW(HDC dc, const char16_t* text, int count, TRect& r, UINT format) {
    QString all = Text16(text, count);
    EnsureGuiToolkit();
    QFontMetrics m(MakeFont(dc ? &dc->S.FontV : nullptr));
    QStringList lines;
    if (format & DT_SINGLELINE) {
        lines << QString(all).replace(QChar('\r'), QChar(' ')).replace(QChar('\n'), QChar(' '));
    } else {
        QString cur;
        for (int i = 0; i < all.size(); ++i) {
            QChar c = all[i];
            if (c == '\r' || c == '\n') {
                lines << cur;
                cur.clear();
                if (c == '\r' && i + 1 < all.size() && all[i + 1] == '\n') ++i;
            } else {
                cur += c;
            }
        }
        lines << cur;
        if (format & DT_WORDBREAK) {
            // Lines break between words where the next word would pass the right edge.
            QStringList wrapped;
            for (const QString& l : lines) {
                QString line;
                for (const QString& word : l.split(QChar(' '))) {
                    QString candidate = line.isEmpty() ? word : line + QChar(' ') + word;
                    if (!line.isEmpty() && m.horizontalAdvance(candidate) > r.Right - r.Left) {
                        wrapped << line;
                        line = word;
                    } else {
                        line = candidate;
                    }
                }
                wrapped << line;
            }
            lines = wrapped;
        }
    }
    int lineHeight = m.height();
    int total = lineHeight * int(lines.size());
    if (format & DT_CALCRECT) {
        int widest = 0;
        for (const QString& l : lines) widest = std::max(widest, m.horizontalAdvance(l));
        r.Right = r.Left + widest;
        r.Bottom = r.Top + total;
        return total;
    }
    int top = r.Top;
    if (format & DT_SINGLELINE) {
        if (format & DT_VCENTER)
            top = (r.Top + r.Bottom - lineHeight) / 2;
        else if (format & DT_BOTTOM)
            top = r.Bottom - lineHeight;
    }
    int oldMode = SetBkMode(dc, dc->S.BkMode);
    UINT oldAlign = SetTextAlign(dc, TA_LEFT | TA_TOP);
    for (const QString& l : lines) {
        int w = m.horizontalAdvance(l);
        int x = (format & DT_RIGHT)    ? r.Right - w
                : (format & DT_CENTER) ? (r.Left + r.Right - w) / 2
                                       : r.Left;
        std::u16string s(reinterpret_cast<const char16_t*>(l.utf16()), size_t(l.size()));
        ExtTextOutW(dc, x, top, (format & DT_NOCLIP) ? 0u : UINT(ETO_CLIPPED), &r, s.c_str(),
                    int(s.size()));
        top += lineHeight;
    }
    SetTextAlign(dc, oldAlign);
    SetBkMode(dc, oldMode);
    return total;
}

// --- edges and frame controls -------------------------------------------------------

namespace {

void Solid(HDC dc, const TRect& r, COLORREF c) {
    TBrushObject b;
    b.Color = c;
    FillWithBrush(dc, r, &b);
}

// One ring of an edge: top-left in one colour, bottom-right in the other.
void Ring(HDC dc, TRect& r, COLORREF tl, COLORREF br, UINT flags) {
    if (flags & BF_TOP) Solid(dc, {r.Left, r.Top, r.Right, r.Top + 1}, tl);
    if (flags & BF_LEFT) Solid(dc, {r.Left, r.Top, r.Left + 1, r.Bottom}, tl);
    if (flags & BF_BOTTOM) Solid(dc, {r.Left, r.Bottom - 1, r.Right, r.Bottom}, br);
    if (flags & BF_RIGHT) Solid(dc, {r.Right - 1, r.Top, r.Right, r.Bottom}, br);
    if (flags & BF_LEFT) ++r.Left;
    if (flags & BF_TOP) ++r.Top;
    if (flags & BF_RIGHT) --r.Right;
    if (flags & BF_BOTTOM) --r.Bottom;
}

} // namespace

bool DrawEdge(HDC dc, TRect& rect, UINT edge, UINT flags) {
    if (!dc) return false;
    TRect r = rect;
    if (flags & (BF_FLAT | BF_MONO)) {
        COLORREF c = GetSysColor((flags & BF_MONO) ? COLOR_WINDOWFRAME : COLOR_BTNSHADOW);
        if (edge & 3) Ring(dc, r, c, c, flags);
        if (edge & 12)
            Ring(dc, r, (flags & BF_MONO) ? c : GetSysColor(COLOR_BTNFACE),
                 (flags & BF_MONO) ? c : GetSysColor(COLOR_BTNFACE), flags);
    } else {
        if (edge & BDR_RAISEDOUTER)
            Ring(dc, r, GetSysColor(COLOR_3DLIGHT), GetSysColor(COLOR_3DDKSHADOW), flags);
        else if (edge & BDR_SUNKENOUTER)
            Ring(dc, r, GetSysColor(COLOR_BTNSHADOW), GetSysColor(COLOR_BTNHIGHLIGHT), flags);
        if (edge & BDR_RAISEDINNER)
            Ring(dc, r, GetSysColor(COLOR_BTNHIGHLIGHT), GetSysColor(COLOR_BTNSHADOW), flags);
        else if (edge & BDR_SUNKENINNER)
            Ring(dc, r, GetSysColor(COLOR_3DDKSHADOW), GetSysColor(COLOR_3DLIGHT), flags);
    }
    if (flags & BF_MIDDLE) Solid(dc, r, GetSysColor(COLOR_BTNFACE));
    if (flags & BF_ADJUST) rect = r;
    return true;
}

bool DrawFrameControl(HDC dc, const TRect& r, UINT type, UINT state) {
    if (!dc || type != DFC_BUTTON) return false;
    bool inactive = state & DFCS_INACTIVE, pushed = state & DFCS_PUSHED,
         checked = state & DFCS_CHECKED;
    bool flat = state & DFCS_FLAT;
    UINT kind = state & 0x1F;
    if (kind == DFCS_BUTTONPUSH) {
        TRect e = r;
        DrawEdge(dc, e, pushed ? EDGE_SUNKEN : EDGE_RAISED,
                 BF_RECT | BF_MIDDLE | (flat ? UINT(BF_FLAT) : 0u));
        return true;
    }
    // The box is the largest square that fits, at the rectangle's top-left.
    int side = std::min(r.Width(), r.Height());
    TRect box{r.Left, r.Top, r.Left + side, r.Top + side};
    COLORREF fill = GetSysColor(pushed || inactive ? COLOR_BTNFACE : COLOR_WINDOW);
    COLORREF mark = GetSysColor(inactive ? COLOR_GRAYTEXT : COLOR_WINDOWTEXT);
    if (kind == DFCS_BUTTONRADIO) {
        // Drawn with the context's own pen and brush swapped for a moment.
        TDCState saved = dc->S;
        dc->S.PenV = TPenObject();
        dc->S.PenV.Color = GetSysColor(COLOR_BTNSHADOW);
        dc->S.BrushV = TBrushObject();
        dc->S.BrushV.Color = fill;
        Ellipse(dc, box.Left, box.Top, box.Right, box.Bottom);
        dc->S.PenV = saved.PenV;
        dc->S.BrushV = saved.BrushV;
        if (checked) {
            int c = side / 2, d = std::max(2, side / 3);
            Solid(dc,
                  {box.Left + c - d / 2, box.Top + c - d / 2, box.Left + c - d / 2 + d,
                   box.Top + c - d / 2 + d},
                  mark);
        }
        return true;
    }
    TRect e = box;
    if (flat) {
        Ring(dc, e, GetSysColor(COLOR_BTNSHADOW), GetSysColor(COLOR_BTNSHADOW), BF_RECT);
    } else {
        DrawEdge(dc, e, EDGE_SUNKEN, BF_RECT | BF_ADJUST);
    }
    if (kind == DFCS_BUTTON3STATE && checked) {
        // Mixed: a dithered face with a grey mark.
        for (int y = e.Top; y < e.Bottom; ++y)
            for (int x = e.Left; x < e.Right; ++x)
                SetPixel(dc, x, y,
                         ((x + y) & 1) ? GetSysColor(COLOR_BTNFACE) : GetSysColor(COLOR_WINDOW));
        mark = GetSysColor(COLOR_BTNSHADOW);
    } else {
        Solid(dc, e, fill);
    }
    if (checked) {
        // The classic tick: seven columns, three pixels high each.
        static const int tops[7] = {2, 3, 4, 3, 2, 1, 0};
        int ox = e.Left + (e.Width() - 7) / 2, oy = e.Top + (e.Height() - 7) / 2;
        for (int i = 0; i < 7; ++i)
            Solid(dc, {ox + i, oy + tops[i], ox + i + 1, oy + tops[i] + 3}, mark);
    }
    return true;
}

} // namespace nuq
