// Says what lies in a rectangle of a screen dump in the X window dump format,
// so scripts can check the screen: "dark N black N lit N sum S" (pixels darker
// than mid-grey, pure black, anything but black, and a sum over all of them).
// Usage: nuq-xwd-pixels FILE X0 Y0 X1 Y1

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    if (argc != 6) {
        std::fprintf(stderr, "usage: nuq-xwd-pixels FILE X0 Y0 X1 Y1\n");
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    std::vector<unsigned char> data((std::istreambuf_iterator<char>(in)), {});
    auto card = [&](size_t i) {
        const unsigned char* p = data.data() + i * 4;
        return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
    };
    if (data.size() < 100) {
        std::fprintf(stderr, "nuq-xwd-pixels: %s is no screen dump\n", argv[1]);
        return 1;
    }
    const uint32_t width = card(4), height = card(5), order = card(7), bits = card(11),
                   line = card(12);
    const size_t start = card(0) + size_t(card(19)) * 12, bytes = bits / 8;
    if ((bits != 24 && bits != 32) || data.size() < start + size_t(line) * height) {
        std::fprintf(stderr, "nuq-xwd-pixels: %s holds no 24-bit colour\n", argv[1]);
        return 1;
    }
    long x0 = std::atol(argv[2]), y0 = std::atol(argv[3]), x1 = std::atol(argv[4]),
         y1 = std::atol(argv[5]);
    unsigned long dark = 0, black = 0, lit = 0;
    uint32_t sum = 0;
    for (long y = y0; y < y1; ++y)
        for (long x = x0; x < x1; ++x) {
            if (x < 0 || y < 0 || x >= long(width) || y >= long(height)) continue;
            const unsigned char* p = data.data() + start + size_t(y) * line + size_t(x) * bytes;
            uint32_t v = 0;
            for (size_t i = 0; i < bytes; ++i)
                v |= uint32_t(p[i]) << (order == 0 ? 8 * i : 8 * (bytes - 1 - i));
            v &= 0xFFFFFF;
            unsigned r = v >> 16, g = (v >> 8) & 255, b = v & 255;
            dark += r + g + b < 300;
            black += v == 0;
            lit += v != 0;
            sum = sum * 31 + v;
        }
    std::printf("dark %lu black %lu lit %lu sum %u\n", dark, black, lit, unsigned(sum));
    return 0;
}
