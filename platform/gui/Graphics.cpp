#include "platform/gui/Graphics.h"

#include <QString>

namespace nuq {

std::u16string Utf8ToUtf16(const std::string& s) {
    QString q = QString::fromUtf8(s.data(), qsizetype(s.size()));
    return std::u16string(reinterpret_cast<const char16_t*>(q.utf16()), size_t(q.size()));
}

std::string Utf16ToUtf8(const std::u16string& s) {
    return QString::fromUtf16(s.data(), qsizetype(s.size())).toStdString();
}

TPen::~TPen() {
    DeleteObject(FHandle);
}
// Each handle is made again only when the values it was made for changed.
HPEN TPen::Handle() {
    if (FHandle && IsGdiObject(FHandle) && FMadeColor == TColor(ColorToRGB(Color)) &&
        FMadeWidth == Width && FMadeStyle == Style)
        return FHandle;
    DeleteObject(FHandle);
    FHandle = CreatePen(int(Style), Width, ColorToRGB(Color));
    FMadeColor = TColor(ColorToRGB(Color));
    FMadeWidth = Width;
    FMadeStyle = Style;
    return FHandle;
}

TBrush::~TBrush() {
    DeleteObject(FHandle);
}
HBRUSH TBrush::Handle() {
    if (FHandle && !Bitmap && IsGdiObject(FHandle) && FMadeColor == TColor(ColorToRGB(Color)) &&
        FMadeStyle == Style)
        return FHandle;
    FMadeColor = Bitmap ? clNone : TColor(ColorToRGB(Color));
    FMadeStyle = Style;
    DeleteObject(FHandle);
    if (Bitmap)
        FHandle = CreatePatternBrush(Bitmap->Handle());
    else if (Style == bsClear) {
        FHandle = CreateSolidBrush(0);
        FHandle->Style = BS_NULL;
    } else
        FHandle = CreateSolidBrush(ColorToRGB(Color));
    return FHandle;
}

TFont::TFont(const TFont& o)
    : Name{this, o.Name}, Height{this, o.Height}, Style{this, o.Style}, Color{this, o.Color} {}

TFont& TFont::operator=(const TFont& o) {
    Assign(o);
    return *this;
}

TFont::~TFont() {
    DeleteObject(FHandle);
}
HFONT TFont::Handle() {
    if (FHandle && IsGdiObject(FHandle) && FMadeHeight == Height && FMadeStyle == Style &&
        FMadeName == Name)
        return FHandle;
    FMadeName = Name;
    FMadeHeight = Height;
    FMadeStyle = Style;
    DeleteObject(FHandle);
    TFontObject f;
    f.Face = Name;
    f.Height = Height;
    f.Weight = (Style & fsBold) ? 700 : 400;
    f.Italic = Style & fsItalic;
    f.Underline = Style & fsUnderline;
    f.StrikeOut = Style & fsStrikeOut;
    FHandle = CreateFontIndirect(f);
    return FHandle;
}
// The values change together: the owner hears of them once.
void TFont::Assign(const TFont& o) {
    if (&o == this ||
        (Name == o.Name && Height == o.Height && Style == o.Style && Color == o.Color))
        return;
    Name.FValue = o.Name;
    Height.FValue = o.Height;
    Style.FValue = o.Style;
    Color.FValue = o.Color;
    Changed();
}

// --- canvas ---------------------------------------------------------------------

TCanvas::~TCanvas() = default;

HDC TCanvas::Handle() {
    if (!FHandle) CreateHandle();
    return FHandle;
}

void TCanvas::SetHandle(HDC dc) {
    FHandle = dc;
}

void TCanvas::Prepare() {
    HDC dc = Handle();
    if (!dc) return;
    SelectObject(dc, Pen.Handle());
    SelectObject(dc, Brush.Handle());
    SelectObject(dc, Font.Handle());
    SetTextColor(dc, ColorToRGB(Font.Color));
    SetBkColor(dc, ColorToRGB(Brush.Color));
    SetBkMode(dc, Brush.Style == bsClear ? TRANSPARENT : OPAQUE);
}

TColor TCanvas::Pixel(int x, int y) {
    HDC dc = Handle();
    return dc ? TColor(GetPixel(dc, x, y)) : TColor(CLR_INVALID);
}

void TCanvas::SetPixel(int x, int y, TColor c) {
    if (HDC dc = Handle()) nuq::SetPixel(dc, x, y, ColorToRGB(c));
}

void TCanvas::FillRect(const TRect& r) {
    Prepare();
    if (HDC dc = Handle()) nuq::FillRect(dc, r, Brush.Handle());
}

void TCanvas::FrameRect(const TRect& r) {
    Prepare();
    if (HDC dc = Handle()) nuq::FrameRect(dc, r, Brush.Handle());
}

void TCanvas::Rectangle(int l, int t, int r, int b) {
    Prepare();
    if (HDC dc = Handle()) nuq::Rectangle(dc, l, t, r, b);
}

void TCanvas::Ellipse(int l, int t, int r, int b) {
    Prepare();
    if (HDC dc = Handle()) nuq::Ellipse(dc, l, t, r, b);
}

void TCanvas::RoundRect(int l, int t, int r, int b, int width, int height) {
    Prepare();
    if (HDC dc = Handle()) nuq::RoundRect(dc, l, t, r, b, width, height);
}

void TCanvas::MoveTo(int x, int y) {
    if (HDC dc = Handle()) MoveToEx(dc, x, y);
}

void TCanvas::LineTo(int x, int y) {
    Prepare();
    if (HDC dc = Handle()) nuq::LineTo(dc, x, y);
}

void TCanvas::TextOut(int x, int y, const std::u16string& text) {
    Prepare();
    if (HDC dc = Handle()) TextOutW(dc, x, y, text.c_str(), int(text.size()));
}

int TCanvas::TextWidth(const std::u16string& text) {
    Prepare();
    TPoint s;
    GetTextExtentPoint32W(Handle(), text.c_str(), int(text.size()), s);
    return s.X;
}

int TCanvas::TextHeight(const std::u16string& text) {
    Prepare();
    TPoint s;
    GetTextExtentPoint32W(Handle(), text.c_str(), int(text.size()), s);
    return s.Y;
}

void TCanvas::Draw(int x, int y, TBitmap& bitmap) {
    StretchDraw(Bounds(x, y, bitmap.Width(), bitmap.Height()), bitmap);
}

void TCanvas::StretchDraw(const TRect& r, TBitmap& bitmap) {
    HDC dc = Handle();
    if (!dc) return;
    Prepare();
    StretchBlt(dc, r.Left, r.Top, r.Width(), r.Height(), bitmap.Canvas().Handle(), 0, 0,
               bitmap.Width(), bitmap.Height(), CopyMode);
}

void TCanvas::CopyRect(const TRect& dest, TCanvas& source, const TRect& src) {
    HDC dc = Handle();
    if (!dc) return;
    Prepare();
    StretchBlt(dc, dest.Left, dest.Top, dest.Width(), dest.Height(), source.Handle(), src.Left,
               src.Top, src.Width(), src.Height(), CopyMode);
}

TRect TCanvas::ClipRect() {
    TRect r;
    if (HDC dc = Handle()) GetClipBox(dc, r);
    return r;
}

// --- bitmap ---------------------------------------------------------------------

class TBitmap::TBitmapCanvas : public TCanvas {
public:
    explicit TBitmapCanvas(TBitmap& owner) : Owner(owner) {}
    ~TBitmapCanvas() override { Free(); }
    void Free() {
        if (!HandleAllocated()) return;
        HDC dc = Handle();
        SelectObject(dc, Old);
        DeleteDC(dc);
        SetHandle(nullptr);
    }

protected:
    void CreateHandle() override {
        HDC dc = CreateCompatibleDC(nullptr);
        Old = SelectObject(dc, Owner.FBitmap);
        SetHandle(dc);
    }

private:
    TBitmap& Owner;
    HGDIOBJ Old = nullptr;
};

TBitmap::TBitmap() : TBitmap(0, 0) {}

TBitmap::TBitmap(int width, int height) {
    FBitmap = CreateBitmap(width, height, 32);
    for (auto& p : FBitmap->Bits) p = 0xFFFFFFFFu;
}

TBitmap::~TBitmap() {
    FCanvas.reset();
    DeleteObject(FBitmap);
}

int TBitmap::Width() const {
    return FBitmap->Width;
}
int TBitmap::Height() const {
    return FBitmap->Height;
}

void TBitmap::SetSize(int width, int height) {
    if (width == Width() && height == Height()) return;
    if (FCanvas) FCanvas->Free();
    DeleteObject(FBitmap);
    FBitmap = CreateBitmap(width, height, FMonochrome ? 1 : 32);
    for (auto& p : FBitmap->Bits) p = 0xFFFFFFFFu;
}

void TBitmap::SetMonochrome(bool value) {
    if (value == FMonochrome) return;
    FMonochrome = value;
    if (FCanvas) FCanvas->Free();
    FBitmap->BitsPerPixel = value ? 1 : 32;
    if (value)
        for (auto& p : FBitmap->Bits) {
            int sum = ((p >> 16) & 255) + ((p >> 8) & 255) + (p & 255);
            p = sum >= 384 ? 0xFFFFFFFFu : 0xFF000000u;
        }
}

TCanvas& TBitmap::Canvas() {
    if (!FCanvas) FCanvas = std::make_unique<TBitmapCanvas>(*this);
    return *FCanvas;
}

void TBitmap::Assign(const TBitmap& other) {
    SetMonochrome(other.FMonochrome);
    SetSize(other.Width(), other.Height());
    FBitmap->Bits = other.FBitmap->Bits;
    PixelFormat = other.PixelFormat;
}

} // namespace nuq
