// The screen's picture: what code that draws straight onto the screen sees.

#include "platform/gui/Controls.h"
#include "platform/gui/GdiPrivate.h"
#include "platform/gui/Windows.h"

#include <atomic>
#include <memory>

namespace nuq {

namespace {

std::unique_ptr<TBitmapObject>& ScreenBitmap() {
    static auto* screen = new std::unique_ptr<TBitmapObject>(new TBitmapObject(1024, 768, 32));
    return *screen;
}

} // namespace

HBITMAP GetScreenImage() {
    return ScreenBitmap().get();
}

void SetScreenSize(int width, int height) {
    ScreenBitmap() = std::make_unique<TBitmapObject>(std::max(width, 1), std::max(height, 1), 32);
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
    TBitmapObject* b = ScreenBitmap().get();
    return CreateSurfaceDC(b, {0, 0}, QRegion(0, 0, b->Width, b->Height));
}

} // namespace nuq
