// Reads the screen as a person sees it, for the scripts that drive the demo:
// the X server's own pixels (XGetImage on the root window, so pop-ups and
// true colours are what a dump tool may get wrong), saved as a binary PPM,
// and questions about such files.
//   nuq-xshot grab FILE                       the whole screen into FILE
//   nuq-xshot pixels FILE X0 Y0 X1 Y1         "dark N black N lit N sum S" of a rectangle
//   nuq-xshot diff FILE1 FILE2 X0 Y0 X1 Y1    how many pixels of the rectangle differ
//   nuq-xshot colour FILE X Y                 one pixel as RRGGBB

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace {

struct Picture {
    long Width = 0, Height = 0;
    std::vector<unsigned char> Rgb;
    uint32_t At(long x, long y) const {
        const unsigned char* p = Rgb.data() + (size_t(y) * Width + x) * 3;
        return uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2];
    }
    bool Inside(long x, long y) const { return x >= 0 && y >= 0 && x < Width && y < Height; }
};

int Grab(const char* file) {
    Display* display = XOpenDisplay(nullptr);
    if (!display) {
        std::fprintf(stderr, "nuq-xshot: no display\n");
        return 1;
    }
    Window root = DefaultRootWindow(display);
    XWindowAttributes a;
    XGetWindowAttributes(display, root, &a);
    XImage* image = XGetImage(display, root, 0, 0, a.width, a.height, AllPlanes, ZPixmap);
    if (!image) {
        std::fprintf(stderr, "nuq-xshot: the server gave no image\n");
        return 1;
    }
    // Shifts from the visual's masks, so any 24- or 32-bit layout reads right.
    auto shift = [](unsigned long mask) {
        int s = 0;
        while (mask && !(mask & 1)) mask >>= 1, ++s;
        return s;
    };
    const int rs = shift(image->red_mask), gs = shift(image->green_mask),
              bs = shift(image->blue_mask);
    std::string out = "P6\n" + std::to_string(a.width) + " " + std::to_string(a.height) + "\n255\n";
    for (int y = 0; y < a.height; ++y)
        for (int x = 0; x < a.width; ++x) {
            unsigned long v = XGetPixel(image, x, y);
            out += char((v & image->red_mask) >> rs);
            out += char((v & image->green_mask) >> gs);
            out += char((v & image->blue_mask) >> bs);
        }
    XDestroyImage(image);
    XCloseDisplay(display);
    std::string temp = std::string(file) + ".part";
    std::ofstream(temp, std::ios::binary).write(out.data(), std::streamsize(out.size()));
    return std::rename(temp.c_str(), file) == 0 ? 0 : 1;
}

bool Load(const char* file, Picture& p) {
    std::ifstream in(file, std::ios::binary);
    std::string magic;
    int depth = 0;
    in >> magic >> p.Width >> p.Height >> depth;
    in.get();
    if (magic != "P6" || depth != 255 || p.Width <= 0 || p.Height <= 0) {
        std::fprintf(stderr, "nuq-xshot: %s is no screen picture\n", file);
        return false;
    }
    p.Rgb.resize(size_t(p.Width) * p.Height * 3);
    in.read(reinterpret_cast<char*>(p.Rgb.data()), std::streamsize(p.Rgb.size()));
    if (!in) std::fprintf(stderr, "nuq-xshot: %s is cut short\n", file);
    return bool(in);
}

} // namespace

int main(int argc, char** argv) {
    const std::string verb = argc > 1 ? argv[1] : "";
    if (verb == "grab" && argc == 3) return Grab(argv[2]);
    Picture a, b;
    if (verb == "pixels" && argc == 7) {
        if (!Load(argv[2], a)) return 1;
        long x0 = atol(argv[3]), y0 = atol(argv[4]), x1 = atol(argv[5]), y1 = atol(argv[6]);
        unsigned long dark = 0, black = 0, lit = 0;
        uint32_t sum = 0;
        for (long y = y0; y < y1; ++y)
            for (long x = x0; x < x1; ++x) {
                if (!a.Inside(x, y)) continue;
                uint32_t v = a.At(x, y);
                unsigned r = v >> 16, g = (v >> 8) & 255, bl = v & 255;
                dark += r + g + bl < 300;
                black += v == 0;
                lit += v != 0;
                sum = sum * 31 + v;
            }
        std::printf("dark %lu black %lu lit %lu sum %u\n", dark, black, lit, unsigned(sum));
        return 0;
    }
    if (verb == "diff" && argc == 8) {
        if (!Load(argv[2], a) || !Load(argv[3], b)) return 1;
        long x0 = atol(argv[4]), y0 = atol(argv[5]), x1 = atol(argv[6]), y1 = atol(argv[7]);
        unsigned long differ = 0;
        for (long y = y0; y < y1; ++y)
            for (long x = x0; x < x1; ++x)
                if (a.Inside(x, y) && b.Inside(x, y) && a.At(x, y) != b.At(x, y)) ++differ;
        std::printf("%lu\n", differ);
        return 0;
    }
    if (verb == "colour" && argc == 5) {
        if (!Load(argv[2], a)) return 1;
        long x = atol(argv[3]), y = atol(argv[4]);
        if (!a.Inside(x, y)) return 1;
        std::printf("%06X\n", unsigned(a.At(x, y)));
        return 0;
    }
    std::fprintf(stderr, "usage: nuq-xshot grab FILE | pixels FILE X0 Y0 X1 Y1 |"
                         " diff FILE1 FILE2 X0 Y0 X1 Y1 | colour FILE X Y\n");
    return 2;
}
