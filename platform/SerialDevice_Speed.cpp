// Speeds outside the termios table go through termios2 with BOTHER. Kept in
// a unit of its own: the kernel's termios header clashes with the C library's.

#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace nuq::detail {

bool SerialSetCustomSpeed(int fd, uint32_t baudrate) {
    struct termios2 tio;
    if (ioctl(fd, TCGETS2, &tio) != 0) return false;
    tio.c_cflag &= ~CBAUD;
    tio.c_cflag |= BOTHER;
    tio.c_cflag &= ~(CBAUD << IBSHIFT); // input speed follows the output speed
    tio.c_ispeed = baudrate;
    tio.c_ospeed = baudrate;
    if (ioctl(fd, TCSETS2, &tio) != 0) return false;
    // A driver that cannot run the speed quietly picks the nearest it can;
    // a UART tolerates a few per cent, anything further is refused.
    if (ioctl(fd, TCGETS2, &tio) != 0) return false;
    uint64_t got = tio.c_ospeed, want = baudrate;
    if (got * 100 < want * 97 || got * 100 > want * 103) {
        errno = EINVAL;
        return false;
    }
    return true;
}

// The whole line, custom speeds included, which the C library's termios
// cannot carry.
bool SerialSaveLine(int fd, unsigned char* store, size_t size) {
    static_assert(sizeof(struct termios2) <= 64);
    if (size < sizeof(struct termios2)) {
        errno = EINVAL;
        return false;
    }
    struct termios2 tio;
    if (ioctl(fd, TCGETS2, &tio) != 0) return false;
    std::memcpy(store, &tio, sizeof tio);
    return true;
}

bool SerialRestoreLine(int fd, const unsigned char* store) {
    struct termios2 tio;
    std::memcpy(&tio, store, sizeof tio);
    return ioctl(fd, TCSETS2, &tio) == 0;
}

} // namespace nuq::detail
