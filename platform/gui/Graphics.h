#pragma once
// Canvases, pens, brushes, fonts and bitmaps over the device contexts of
// platform/gui/Gdi.h, as the system's drawing code uses them.

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <type_traits>

#include "platform/gui/Gdi.h"
#include "platform/gui/WinTypes.h"

namespace nuq {

class TBitmap;

enum TPenStyle { psSolid, psDash, psDot, psClear = 5, psInsideFrame = 6 };
class TPen {
public:
    ~TPen();
    TColor Color = clBlack;
    int Width = 1;
    TPenStyle Style = psSolid;
    HPEN Handle(); // made for the current values; owned by the pen
private:
    HPEN FHandle = nullptr;
    TColor FMadeColor = clNone; // the values FHandle was made for (colour resolved:
                                // a system colour may change)
    int FMadeWidth = 0;
    TPenStyle FMadeStyle = psSolid;
};

enum TBrushStyle { bsSolid, bsClear };
class TBrush {
public:
    ~TBrush();
    TColor Color = clWhite;
    TBrushStyle Style = bsSolid;
    TBitmap* Bitmap = nullptr; // an 8 x 8 pattern when set
    HBRUSH Handle();

private:
    HBRUSH FHandle = nullptr;
    TColor FMadeColor = clNone; // the values a plain FHandle was made for (colour resolved)
    TBrushStyle FMadeStyle = bsSolid;
};

enum : unsigned { fsBold = 1, fsItalic = 2, fsUnderline = 4, fsStrikeOut = 8 };
class TFont;

// One value of a font: reads as the value; assigning another value tells the
// font's owner. A loose copy of it tells nobody.
template <class T> class TFontAttribute {
public:
    TFontAttribute(const TFontAttribute& other) : FValue(other.FValue) {}
    TFontAttribute& operator=(const TFontAttribute& other) { return *this = other.FValue; }
    TFontAttribute& operator=(const T& value);
    operator const T&() const { return FValue; }
    const T& operator()() const { return FValue; }
    friend bool operator==(const TFontAttribute& a, const TFontAttribute& b) {
        return a.FValue == b.FValue;
    }
    friend bool operator==(const TFontAttribute& a, const T& b) requires std::is_class_v<T> {
        return a.FValue == b;
    }

private:
    friend class TFont;
    TFontAttribute(TFont* font, T value) : FFont(font), FValue(std::move(value)) {}
    TFont* FFont = nullptr;
    T FValue;
};

class TFont {
public:
    TFont() = default;
    // A copy takes the values only: neither the handle nor the change handler.
    TFont(const TFont& other);
    TFont& operator=(const TFont& other);
    ~TFont();
    TFontAttribute<std::string> Name{this, "DejaVu Sans"};
    TFontAttribute<int> Height{this, -11}; // pixels; negative: character height
    TFontAttribute<unsigned> Style{this, 0};
    TFontAttribute<TColor> Color{this, clWindowText};
    // Fired once for every change of a value, an Assign included.
    std::function<void(TFont&)> OnChange;
    HFONT Handle();
    void Assign(const TFont& other);

private:
    template <class T> friend class TFontAttribute;
    void Changed() {
        if (OnChange) OnChange(*this);
    }
    HFONT FHandle = nullptr;
    std::string FMadeName; // the values FHandle was made for
    int FMadeHeight = 0;
    unsigned FMadeStyle = 0;
};

template <class T> TFontAttribute<T>& TFontAttribute<T>::operator=(const T& value) {
    if (FValue == value) return *this;
    FValue = value;
    if (FFont) FFont->Changed();
    return *this;
}

class TCanvas {
public:
    TCanvas() = default;
    virtual ~TCanvas();
    TCanvas(const TCanvas&) = delete;
    TCanvas& operator=(const TCanvas&) = delete;

    HDC Handle(); // made on demand by a descendant
    void SetHandle(HDC dc);
    bool HandleAllocated() const { return FHandle != nullptr; }

    TPen Pen;
    TBrush Brush;
    TFont Font;
    DWORD CopyMode = SRCCOPY;

    void Lock() { FLock.lock(); }
    void Unlock() { FLock.unlock(); }

    TColor Pixel(int x, int y);
    void SetPixel(int x, int y, TColor c);
    void FillRect(const TRect& r);
    void FrameRect(const TRect& r);
    void Rectangle(int l, int t, int r, int b);
    void Ellipse(int l, int t, int r, int b);
    void RoundRect(int l, int t, int r, int b, int width, int height);
    void MoveTo(int x, int y);
    void LineTo(int x, int y);
    void TextOut(int x, int y, const std::u16string& text);
    int TextWidth(const std::u16string& text);
    int TextHeight(const std::u16string& text);
    void Draw(int x, int y, TBitmap& bitmap);
    void StretchDraw(const TRect& r, TBitmap& bitmap);
    void CopyRect(const TRect& dest, TCanvas& source, const TRect& src);
    TRect ClipRect();

protected:
    virtual void CreateHandle() {}
    // Selects the canvas's pen, brush and font and its colours into the context.
    void Prepare();

private:
    HDC FHandle = nullptr;
    std::recursive_mutex FLock;
};

enum TPixelFormat { pfDevice, pf1bit, pf4bit, pf8bit, pf15bit, pf16bit, pf24bit, pf32bit };

class TBitmap {
public:
    TBitmap();
    TBitmap(int width, int height);
    ~TBitmap();
    TBitmap(const TBitmap&) = delete;
    TBitmap& operator=(const TBitmap&) = delete;

    int Width() const;
    int Height() const;
    void SetSize(int width, int height); // new pixels are white
    bool Monochrome() const { return FMonochrome; }
    void SetMonochrome(bool value);
    TPixelFormat PixelFormat = pf32bit; // as loaded; pixels are always 32-bit here
    HBITMAP Handle() const { return FBitmap; }
    HPALETTE Palette() const { return nullptr; }
    TCanvas& Canvas();
    uint32_t* Scanline(int y) { return FBitmap->Scanline(y); }
    void Assign(const TBitmap& other);

private:
    class TBitmapCanvas;
    HBITMAP FBitmap = nullptr;
    bool FMonochrome = false;
    std::unique_ptr<TBitmapCanvas> FCanvas;
};

std::u16string Utf8ToUtf16(const std::string& s);
std::string Utf16ToUtf8(const std::u16string& s);

} // namespace nuq
