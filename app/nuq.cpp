#include <cstdio>

int main() {
    std::puts("nuq");
    return 0;
}
