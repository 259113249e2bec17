// Prints the X server's cursor image as one line, so scripts can tell
// cursor shapes apart: "WIDTH HEIGHT XHOT YHOT SUM NAME", where SUM folds the
// image's pixels and NAME is the cursor's name (- when it has none).

#include <X11/Xlib.h>
#include <X11/extensions/Xfixes.h>

#include <cstdio>

int main() {
    Display* display = XOpenDisplay(nullptr);
    if (!display) {
        std::fprintf(stderr, "nuq-xcursor: no display\n");
        return 1;
    }
    int event, error;
    if (!XFixesQueryExtension(display, &event, &error)) {
        std::fprintf(stderr, "nuq-xcursor: no cursor images on this server\n");
        return 1;
    }
    XFixesCursorImage* image = XFixesGetCursorImage(display);
    if (!image) return 1;
    unsigned long sum = 0;
    for (int i = 0; i < image->width * image->height; ++i)
        sum = sum * 31 + (image->pixels[i] & 0xFFFFFFFFul);
    std::printf("%d %d %d %d %lu %s\n", image->width, image->height, image->xhot, image->yhot,
                sum & 0xFFFFFFFFul, image->name && *image->name ? image->name : "-");
    XFree(image);
    XCloseDisplay(display);
    return 0;
}
