// The screen's picture: what code that draws straight onto the screen sees.

#include "platform/gui/Controls.h"
#include "platform/gui/GdiPrivate.h"
#include "platform/gui/Windows.h"

#include <QBitmap>

#include <atomic>
#include <memory>

namespace nuq {

namespace {

std::unique_ptr<TBitmapObject>& ScreenBitmap() {
    static auto* screen = new std::unique_ptr<TBitmapObject>(new TBitmapObject(1024, 768, 32));
    return *screen;
}

// What the windows showed when the screen's picture was last taken: where the
// picture still holds that, nothing was drawn over it.
QImage& ShownScreen() {
    static auto* shown = new QImage;
    return *shown;
}

bool SamePixel(uint32_t a, uint32_t b) {
    return ((a ^ b) & 0xFFFFFFu) == 0;
}

// Code that reads the screen (to blend a drag image over it) sees what the
// windows show; what was drawn onto the picture stays until the window under
// it paints something else there, as on a real screen.
void TakeWindowsIntoScreen(TBitmapObject* b) {
    QImage now(b->Width, b->Height, QImage::Format_RGB32);
    now.fill(0xFF000000u);
    HostHooks().PaintScreen(now);
    QImage screen = SurfaceImage(b);
    QImage& shown = ShownScreen();
    if (shown.size() != screen.size()) {
        shown = QImage(screen.size(), QImage::Format_RGB32);
        shown.fill(0xFF000000u);
    }
    for (int y = 0; y < screen.height(); ++y) {
        auto* line = reinterpret_cast<uint32_t*>(screen.scanLine(y));
        auto* was = reinterpret_cast<const uint32_t*>(shown.constScanLine(y));
        auto* is = reinterpret_cast<const uint32_t*>(now.constScanLine(y));
        for (int x = 0; x < screen.width(); ++x)
            if (SamePixel(line[x], was[x]) || !SamePixel(is[x], was[x])) line[x] = is[x];
    }
    shown = now;
}

} // namespace

HBITMAP GetScreenImage() {
    return ScreenBitmap().get();
}

void SetScreenSize(int width, int height) {
    ScreenBitmap() = std::make_unique<TBitmapObject>(std::max(width, 1), std::max(height, 1), 32);
    ShownScreen() = QImage();
    // One screen: what forms measure is what drag images and hints draw on.
    Screen().Width = ScreenBitmap()->Width;
    Screen().Height = ScreenBitmap()->Height;
}

TRect GetDesktopWorkArea() {
    return {0, 0, ScreenBitmap()->Width, ScreenBitmap()->Height};
}

namespace {
std::atomic<uint64_t> screenGeneration{0};
}

uint64_t ScreenPaintGeneration() {
    return screenGeneration.load();
}

HDC GetScreenDC() {
    ++screenGeneration;
    NoteWindowsChanged();
    TBitmapObject* b = ScreenBitmap().get();
    if (HostHooks().PaintScreen) TakeWindowsIntoScreen(b);
    return CreateSurfaceDC(b, {0, 0}, QRegion(0, 0, b->Width, b->Height));
}

QRegion ScreenDrawings() {
    QImage screen = SurfaceImage(ScreenBitmap().get());
    const QImage& shown = ShownScreen();
    const bool compare = shown.size() == screen.size();
    QImage mask(screen.size(), QImage::Format_MonoLSB);
    mask.setColorTable({0xFFFFFFFFu, 0xFF000000u}); // 1 (black) is the bitmap's colour 1
    mask.fill(0);
    for (int y = 0; y < screen.height(); ++y) {
        auto* line = reinterpret_cast<const uint32_t*>(screen.constScanLine(y));
        auto* was = compare ? reinterpret_cast<const uint32_t*>(shown.constScanLine(y)) : nullptr;
        for (int x = 0; x < screen.width(); ++x)
            if (!SamePixel(line[x], was ? was[x] : 0)) mask.setPixel(x, y, 1);
    }
    return QRegion(QBitmap::fromImage(mask));
}

} // namespace nuq
