#include "platform/SerialDevice.h"

#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <set>

namespace nuq {

namespace detail {
// SerialDevice_Speed.cpp
bool SerialSetCustomSpeed(int fd, uint32_t baudrate);
bool SerialSaveLine(int fd, unsigned char* store, size_t size);
bool SerialRestoreLine(int fd, const unsigned char* store);
} // namespace detail

namespace {

// Closes Fd without disturbing the errno of the failure being reported.
void CloseKeepingErrno(int fd) {
    int e = errno;
    ::close(fd);
    errno = e;
}

thread_local TSerialError tLastError;

TSerialError ErrorOf(int code) {
    using K = TSerialError::TKind;
    // A line that hung up answers EIO to every call from then on.
    return {code == ENOENT ? K::NotFound : code == EIO ? K::Lost : K::Other, code};
}

// Records errno as this thread's last failure; false, for the caller to return.
bool Failed() {
    tLastError = ErrorOf(errno);
    return false;
}

bool Fail(int error) {
    errno = error;
    return Failed();
}

// Failed() for a call that answers a count.
int FailedCount() {
    Failed();
    return -1;
}

speed_t StandardSpeed(uint32_t baudrate) {
    struct Entry {
        uint32_t Rate;
        speed_t Code;
    };
    static const Entry table[] = {
        {50, B50},       {75, B75},         {110, B110},       {134, B134},       {150, B150},
        {200, B200},     {300, B300},       {600, B600},       {1200, B1200},     {1800, B1800},
        {2400, B2400},   {4800, B4800},     {9600, B9600},     {19200, B19200},   {38400, B38400},
        {57600, B57600}, {115200, B115200}, {230400, B230400}, {460800, B460800}, {921600, B921600},
    };
    for (const auto& e : table)
        if (e.Rate == baudrate) return e.Code;
    return B0;
}

static_assert(LineDtr == TIOCM_DTR && LineRts == TIOCM_RTS && LineCts == TIOCM_CTS &&
              LineDcd == TIOCM_CAR && LineRing == TIOCM_RNG && LineDsr == TIOCM_DSR);

// The lines of a real port, as its driver has them.
class TKernelLines : public TSerialLines {
public:
    explicit TKernelLines(int fd) : Fd(fd) {}
    bool Get(int& bits) override {
        bits = 0;
        return ::ioctl(Fd, TIOCMGET, &bits) == 0;
    }
    bool Set(int bits) override {
        // The other output bits (OUT1, OUT2, loop) stay as the driver has them.
        int now = 0;
        if (::ioctl(Fd, TIOCMGET, &now) != 0) return false;
        now = (now & ~(TIOCM_DTR | TIOCM_RTS)) | (bits & (TIOCM_DTR | TIOCM_RTS));
        return ::ioctl(Fd, TIOCMSET, &now) == 0;
    }
    bool SetRtsOnSend(bool on) override {
        struct serial_rs485 rs;
        std::memset(&rs, 0, sizeof rs);
        if (::ioctl(Fd, TIOCGRS485, &rs) != 0) return false;
        if (on) {
            rs.flags |= SER_RS485_ENABLED | SER_RS485_RTS_ON_SEND;
            rs.flags &= ~uint32_t(SER_RS485_RTS_AFTER_SEND);
        } else {
            rs.flags &= ~uint32_t(SER_RS485_ENABLED);
        }
        if (::ioctl(Fd, TIOCSRS485, &rs) != 0) return false;
        // Some drivers take the call and keep what they can do.
        if (::ioctl(Fd, TIOCGRS485, &rs) != 0) return false;
        if (bool(rs.flags & SER_RS485_ENABLED) != on) return Fail(EOPNOTSUPP);
        return true;
    }

private:
    int Fd;
};

// How often a wait for DSR or CTS looks at the line: a line's change has no
// descriptor to wait on beside the wake-up's.
const int LineLookMs = 10;

// Milliseconds until End, none when it has passed.
int MsLeft(std::chrono::steady_clock::time_point end) {
    auto left =
        std::chrono::ceil<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
    return int(std::clamp<int64_t>(left.count(), 0, INT_MAX));
}

} // namespace

void TSerialReceiveFilter::SetMode(bool replaceErrors, char errorChar, bool nullStrip) {
    // One word, so the reader never sees half of a change.
    uint32_t mode = (replaceErrors ? 0x100u : 0u) | (nullStrip ? 0x200u : 0u);
    if (mode) mode |= uint8_t(errorChar);
    FMode.store(mode, std::memory_order_relaxed);
}

size_t TSerialReceiveFilter::Apply(char* bytes, size_t count) {
    const uint32_t mode = FMode.load(std::memory_order_relaxed);
    if (mode == 0) return count;
    const bool marks = mode & 0x100u, strip = mode & 0x200u;
    const char errorChar = char(mode & 0xFF);
    if (!marks) FMarked = 0;
    size_t out = 0;
    for (size_t i = 0; i < count; ++i) {
        char c = bytes[i];
        if (marks) {
            if (FMarked == 2) {
                FMarked = 0;
                c = errorChar; // the byte that came with the error
            } else if (FMarked == 1) {
                // 0xFF 0xFF is one 0xFF; the discipline makes no other pair.
                FMarked = c == '\0' ? 2 : 0;
                if (FMarked) continue;
            } else if (c == '\xFF') {
                FMarked = 1;
                continue;
            }
        }
        if (strip && c == 0) continue;
        bytes[out++] = c;
    }
    return out;
}

std::string ResolveSerialName(std::string_view name) {
    if (name.substr(0, 4) == "\\\\.\\") name.remove_prefix(4);
    bool isCom = name.size() > 3 && (name[0] == 'C' || name[0] == 'c') &&
                 (name[1] == 'O' || name[1] == 'o') && (name[2] == 'M' || name[2] == 'm');
    if (isCom) {
        std::string_view digits = name.substr(3);
        for (char c : digits)
            if (c < '0' || c > '9') isCom = false;
        if (isCom && digits.size() <= 9) {
            long n = std::strtol(std::string(digits).c_str(), nullptr, 10);
            if (n < 1) return {};
            std::string file = "COM" + std::to_string(n);
            const char* dir = std::getenv("NUQ_PORT_DIR");
            if (dir && *dir) {
                std::string path = std::string(dir) + "/" + file;
                // A port once found in the folder stays there: when its link
                // goes, the built-in device may be other equipment.
                static std::mutex lock;
                static std::set<std::string> found;
                std::lock_guard<std::mutex> hold(lock);
                struct stat st;
                if (found.count(path) || ::lstat(path.c_str(), &st) == 0) {
                    found.insert(path);
                    return path;
                }
            }
            return "/dev/ttyS" + std::to_string(n - 1);
        }
        if (isCom) return {}; // a number no port can have
    }
    return std::string(name);
}

TSerialError TSerialError::LineLost() {
    return ErrorOf(EIO);
}

TSerialError LastSerialError() {
    return tLastError;
}

std::string SysErrorText(int error) {
    char buffer[256];
    // The GNU variant returns the text, which may not be in Buffer.
    return strerror_r(error, buffer, sizeof buffer);
}

int CurrentThreadId() {
    return int(::gettid());
}

namespace {

struct TPriorityRefusal {
    std::mutex Lock;
    std::function<void(int niceness, int error)> Handler;
    bool Said = false;
};

TPriorityRefusal& PriorityRefusal() {
    static TPriorityRefusal refusal;
    return refusal;
}

} // namespace

void SetSerialThreadPriority(int threadId, int level) {
    static const int niceness[] = {19, 10, 5, 0, -5, -10, -20};
    if (threadId <= 0 || level < 0 || level > 6) return;
    if (::setpriority(PRIO_PROCESS, id_t(threadId), niceness[level]) == 0) return;
    const int error = errno;
    std::function<void(int, int)> handler;
    {
        TPriorityRefusal& r = PriorityRefusal();
        std::lock_guard<std::mutex> hold(r.Lock);
        if (r.Said || !r.Handler) return;
        r.Said = true;
        handler = r.Handler;
    }
    handler(niceness[level], error);
}

void SetSerialPriorityRefusedHandler(std::function<void(int niceness, int error)> handler) {
    TPriorityRefusal& r = PriorityRefusal();
    std::lock_guard<std::mutex> hold(r.Lock);
    r.Handler = std::move(handler);
    r.Said = false;
}

bool TSerialDevice::Open(std::string_view name) {
    Close();
    std::string path = ResolveSerialName(name);
    if (path.empty()) return Fail(ENOENT);
    int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return Failed();
    if (!::isatty(fd)) {
        ::close(fd);
        return Fail(ENOTTY);
    }
    // Not shared: a second opener is refused, as the port's owner expects.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        int e = errno == EWOULDBLOCK ? EBUSY : errno;
        ::close(fd);
        return Fail(e);
    }
    struct termios tio;
    if (!detail::SerialSaveLine(fd, FSavedLine, sizeof FSavedLine) || ::tcgetattr(fd, &tio) != 0) {
        CloseKeepingErrno(fd);
        return Failed();
    }
    ::cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    if (::tcsetattr(fd, TCSANOW, &tio) != 0) {
        CloseKeepingErrno(fd);
        return Failed();
    }
    FFd = fd;
    FPath = path;
    FLines = FGivenLines ? FGivenLines : std::make_shared<TKernelLines>(fd);
    FLineSaved = true;
    FLost = false;
    FStopWaits = false;
    FHasCounts = ReadCounts(FCounts);
    std::memcpy(FEventCounts, FCounts, sizeof FCounts);
    return true;
}

void TSerialDevice::Close() {
    if (FFd < 0) return;
    {
        std::lock_guard<std::mutex> lock(FLineLock);
        // Neither end of the line is left stopped for its next user. Bytes
        // held for a peer that never became ready are not sent now; bytes
        // held behind our XOFF go after our XON.
        if (FHeld & (HeldForDsr | HeldForCts)) ::tcflush(FFd, TCOFLUSH);
        HoldOutput(FHeld, false);
        if (FXoffSent) SendXon();
        FHeld = 0;
        FXoffSent = false;
    }
    if (FLineSaved && !Lost()) {
        // Bytes still leaving go out as they were meant to, not at the old
        // speed; a line held by flow control is not waited for long.
        for (int i = 0; i < 400 && OutQueue() > 0; ++i) ::usleep(5000);
        // A line that hung up refuses this; there is nobody left to mind.
        detail::SerialRestoreLine(FFd, FSavedLine);
        if (FRtsOnSend) FLines->SetRtsOnSend(false);
    }
    FLineSaved = false;
    FRtsOnSend = false;
    FTxMode = 0;
    FDsrSensitive = false;
    FFillMode = 0;
    FFilter.SetMode(false, 0, false);
    FLineBits = 0;
    FLines.reset();
    ::close(FFd); // drops the lock with it
    FFd = -1;
    FPath.clear();
}

bool SerialFramingFlags(const TSerialSettings& s, uint32_t& cflag) {
    tcflag_t f = 0;
    switch (s.DataBits) {
    case 5:
        f |= CS5;
        break;
    case 6:
        f |= CS6;
        break;
    case 7:
        f |= CS7;
        break;
    case 8:
        f |= CS8;
        break;
    default:
        return Fail(EINVAL);
    }
    switch (s.StopBits) {
    case 0:
        break;
    case 1: // a UART gives one and a half stop bits for "two" with five data bits
        if (s.DataBits != 5) return Fail(EINVAL);
        f |= CSTOPB;
        break;
    case 2:
        f |= CSTOPB;
        break;
    default:
        return Fail(EINVAL);
    }
    switch (s.Parity) {
    case TSerialParity::None:
        break;
    case TSerialParity::Odd:
        f |= PARENB | PARODD;
        break;
    case TSerialParity::Even:
        f |= PARENB;
        break;
    case TSerialParity::Mark:
        f |= PARENB | PARODD | CMSPAR;
        break;
    case TSerialParity::Space:
        f |= PARENB | CMSPAR;
        break;
    }
    cflag = uint32_t(f);
    return true;
}

bool TSerialDevice::Configure(const TSerialSettings& s) {
    FRefused = nullptr;
    if (FFd < 0) return Fail(EBADF);
    struct termios tio;
    if (::tcgetattr(FFd, &tio) != 0) return Failed(); // for the line discipline alone
    // From zero: a flag left by an earlier setting (or the line's previous
    // user) would have the driver act on its own, such as sending XOFF to a
    // peer that does not expect it.
    tio.c_iflag = 0;
    tio.c_oflag = 0;
    tio.c_lflag = 0;
    tio.c_cflag = CLOCAL | CREAD;
    std::memset(tio.c_cc, 0, sizeof tio.c_cc);
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;

    speed_t speed = StandardSpeed(s.Baudrate);
    if (s.Baudrate == 0) return Fail(EINVAL);
    // A placeholder for a speed termios has no code for; termios2 sets the real one below.
    ::cfsetispeed(&tio, speed == B0 ? B38400 : speed);
    ::cfsetospeed(&tio, speed == B0 ? B38400 : speed);

    uint32_t framing = 0;
    if (!SerialFramingFlags(s, framing)) return Failed();
    if (s.ParityCheck) tio.c_iflag |= INPCK;
    // Marked, so the filter can tell a bad byte from a good one.
    if (s.ReplaceErrors) tio.c_iflag |= INPCK | PARMRK;
    if (s.Dtr == TSerialLineControl::Toggle) return Fail(EINVAL); // DTR has no toggle

    // Kernel modem lines mean a real port, which has frames.
    int bits = 0;
    const bool kernelLines = ::ioctl(FFd, TIOCMGET, &bits) == 0;
    const bool lines = FLines && FLines->Get(bits);
    const bool dtrHandshake = s.Dtr == TSerialLineControl::Handshake;
    const bool rtsHandshake = s.Rts == TSerialLineControl::Handshake;
    const bool rtsToggle = s.Rts == TSerialLineControl::Toggle;
    // The modes our threads run on the modem lines. CTS and RTS are not left
    // to the kernel: its one flag couples them, where each is set on its own.
    const std::pair<bool, const char*> needLines[] = {
        {s.OutCtsFlow && !lines, "CTS output flow"},
        {rtsHandshake && !lines, "RTS handshake"},
        {s.OutDsrFlow && !lines, "DSR output flow"},
        {s.DsrSensitivity && !lines, "DSR sensitivity"},
        {dtrHandshake && !lines, "DTR handshake"},
        {rtsToggle && !lines, "RTS toggle"},
    };
    for (const auto& [refused, mode] : needLines)
        if (refused) {
            FRefused = mode;
            return Fail(EOPNOTSUPP);
        }
    // A line without modem lines is a pseudo-terminal: it carries bytes, not
    // frames, always stands at eight bits without parity, and the C library
    // calls any other request a failure.
    tio.c_cflag |= kernelLines ? tcflag_t(framing) : tcflag_t(CS8);
    if (s.XonXoffOut) tio.c_iflag |= IXON;
    if (s.XonXoffIn) tio.c_iflag |= IXOFF;
    tio.c_cc[VSTART] = cc_t(s.XonChar);
    tio.c_cc[VSTOP] = cc_t(s.XoffChar);

    if (::tcsetattr(FFd, TCSANOW, &tio) != 0) return Failed();
    // tcsetattr succeeds when any part took; a UART driver drops what it cannot do.
    if (kernelLines) {
        struct termios got;
        if (::tcgetattr(FFd, &got) != 0) return Failed();
        const tcflag_t wanted = CSIZE | CSTOPB | PARENB | PARODD | CMSPAR;
        if ((got.c_cflag & wanted) != (tio.c_cflag & wanted)) return Fail(EOPNOTSUPP);
    }
    if (speed == B0 && !detail::SerialSetCustomSpeed(FFd, s.Baudrate)) return Failed();

    // RTS toggled by the driver where it can (RS-485 mode), else by our writes.
    bool byDriver = false;
    if (rtsToggle)
        byDriver = FLines->SetRtsOnSend(true);
    else if (FRtsOnSend)
        FLines->SetRtsOnSend(false);
    FRtsOnSend = byDriver;
    std::lock_guard<std::mutex> lock(FLineLock);
    int64_t high = int64_t(s.InputSize) - s.XoffLimit;
    FFillHigh = size_t(std::max<int64_t>(high, 1));
    FFillLow = size_t(std::max(s.XonLimit, 0));
    if (lines) {
        // A handshake's line starts up, with nothing unread yet.
        bool dtr = s.Dtr == TSerialLineControl::Enabled || dtrHandshake;
        bool rts = s.Rts == TSerialLineControl::Enabled || rtsHandshake;
        FLineBits = (dtr ? LineDtr : 0) | (rts ? LineRts : 0);
        if (!FLines->Set(FLineBits)) return Failed();
    }
    FTxMode = (s.OutDsrFlow ? TxDsrFlow : 0u) | (s.OutCtsFlow ? TxCtsFlow : 0u) |
              (rtsToggle && !byDriver ? TxRtsToggle : 0u);
    FDsrSensitive = s.DsrSensitivity;
    FFillMode = (dtrHandshake ? FillDtr : 0u) | (rtsHandshake ? FillRts : 0u) |
                (s.XonXoffIn ? FillXoff : 0u) | (s.TxContinueOnXoff ? FillTxContinue : 0u);
    // A flow switched off lets go of what it holds.
    if (FXoffSent && !s.XonXoffIn) SendXon();
    HoldOutput(HeldForXoff, FXoffSent && !s.TxContinueOnXoff);
    if (!s.OutDsrFlow) HoldOutput(HeldForDsr, false);
    if (!s.OutCtsFlow) HoldOutput(HeldForCts, false);
    FEventChar = uint8_t(s.EventChar);
    FBaudrate = s.Baudrate;
    FFilter.SetMode(s.ReplaceErrors, s.ErrorChar, s.NullStrip);
    return true;
}

int TSerialDevice::InQueue() const {
    int n = 0;
    if (::ioctl(FFd, FIONREAD, &n) != 0) return FailedCount();
    return n;
}

int TSerialDevice::OutQueue() const {
    int n = 0;
    if (::ioctl(FFd, TIOCOUTQ, &n) != 0) return FailedCount();
    return n;
}

ssize_t TSerialDevice::Read(void* buffer, size_t count) {
    for (;;) {
        ssize_t n = ::read(FFd, buffer, count);
        if (n < 0) {
            if (errno == EINTR) continue;
            if (errno == EAGAIN) return 0;
            return FailedCount();
        }
        if (n == 0) return 0;
        if (FDsrSensitive.load(std::memory_order_relaxed) && DsrDown()) continue;
        if (!FFilter.Active()) return n;
        size_t kept = FFilter.Apply(static_cast<char*>(buffer), size_t(n));
        // Nothing left of them: read on, as more may wait that no wake-up announces.
        if (kept > 0) return ssize_t(kept);
    }
}

ssize_t TSerialDevice::Write(const void* buffer, size_t count) {
    const uint32_t mode = FTxMode.load(std::memory_order_relaxed);
    if ((mode & (TxDsrFlow | TxCtsFlow)) && OutputHeld()) return 0;
    if (mode & TxRtsToggle) {
        std::lock_guard<std::mutex> lock(FLineLock);
        SetLine(LineRts, true);
    }
    ssize_t n;
    for (;;) {
        n = ::write(FFd, buffer, count);
        if (n >= 0 || errno != EINTR) break;
    }
    int error = errno;
    if (mode & TxRtsToggle) {
        if (n > 0) DrainBeforeRtsDrops(size_t(n));
        std::lock_guard<std::mutex> lock(FLineLock);
        SetLine(LineRts, false);
    }
    if (n >= 0) return n;
    errno = error;
    return error == EAGAIN ? 0 : FailedCount();
}

void TSerialDevice::DrainBeforeRtsDrops(size_t bytes) {
    // The last bit must be out before the line is let go. tcdrain alone
    // would wait for ever on output its peer has stopped, and hold up the
    // port's close: first the driver's queue, for as long as the bytes take
    // at the line's speed, then the hardware's own few bytes.
    using TClock = std::chrono::steady_clock;
    const uint64_t bitsPerSecond = std::max<uint32_t>(FBaudrate.load(), 50);
    const auto limit =
        TClock::now() + std::chrono::milliseconds(200 + bytes * 12000 / bitsPerSecond);
    while (OutQueue() > 0) {
        if (FStopWaits || TClock::now() >= limit) return;
        ::usleep(500);
    }
    ::tcdrain(FFd);
}

bool TSerialDevice::DsrDown() const {
    int bits = 0;
    // A line that cannot be asked is not held: the write or read says what is wrong.
    return FLines && FLines->Get(bits) && !(bits & LineDsr);
}

bool TSerialDevice::SetLine(int line, bool on) {
    int bits = on ? FLineBits | line : FLineBits & ~line;
    if (bits == FLineBits) return true;
    FLineBits = bits;
    return FLines->Set(bits);
}

void TSerialDevice::FollowFill(size_t fill) {
    const uint32_t mode = FFillMode.load(std::memory_order_relaxed);
    if (!mode) return;
    std::lock_guard<std::mutex> lock(FLineLock);
    const bool high = fill >= FFillHigh, low = !high && fill <= FFillLow;
    for (auto [follows, line] : {std::pair{FillDtr, LineDtr}, std::pair{FillRts, LineRts}}) {
        if (!(mode & follows)) continue;
        if ((FLineBits & line) && high)
            SetLine(line, false);
        else if (!(FLineBits & line) && low)
            SetLine(line, true);
    }
    if (mode & FillXoff) {
        // The flow characters go out ahead of any queued output.
        if (!FXoffSent && high && ::tcflow(FFd, TCIOFF) == 0)
            FXoffSent = true;
        else if (FXoffSent && low)
            SendXon();
        HoldOutput(HeldForXoff, FXoffSent && !(mode & FillTxContinue));
    }
}

void TSerialDevice::SendXon() {
    // A line stopped by us drops what we send: output goes on first.
    HoldOutput(HeldForXoff, false);
    if (::tcflow(FFd, TCION) == 0) FXoffSent = false;
}

bool TSerialDevice::HasEventChar(const char* bytes, size_t count) const {
    return std::memchr(bytes, FEventChar.load(std::memory_order_relaxed), count) != nullptr;
}

void TSerialDevice::HoldOutput(uint32_t holder, bool on) {
    const uint32_t held = on ? FHeld | holder : FHeld & ~holder;
    // What the driver already has stops with the line, and goes on with it.
    if (bool(held) != bool(FHeld) && ::tcflow(FFd, held ? TCOOFF : TCOON) != 0) return;
    FHeld = held;
}

bool TSerialDevice::Purge(bool input, bool output) const {
    if (!input && !output) return true;
    return ::tcflush(FFd, input && output ? TCIOFLUSH
                          : input         ? TCIFLUSH
                                          : TCOFLUSH) == 0 ||
           Failed();
}

// DSR and CTS output flow: held while a line it follows is low. What the
// driver already has stops with it, and goes on when the line rises.
bool TSerialDevice::OutputHeld() {
    const uint32_t mode = FTxMode.load(std::memory_order_relaxed);
    int bits = 0;
    // A line that cannot be asked holds nothing: the write says what is wrong.
    const bool known = FLines && FLines->Get(bits);
    const bool dsr = known && (mode & TxDsrFlow) && !(bits & LineDsr);
    const bool cts = known && (mode & TxCtsFlow) && !(bits & LineCts);
    std::lock_guard<std::mutex> lock(FLineLock);
    HoldOutput(HeldForDsr, dsr);
    HoldOutput(HeldForCts, cts);
    return dsr || cts;
}

bool TSerialDevice::WaitForLines(int wakeFd, int timeoutMs, TWaitResult& result) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (OutputHeld()) {
        int slice = timeoutMs < 0 ? LineLookMs : std::min(LineLookMs, MsLeft(end));
        if (timeoutMs >= 0 && slice == 0) {
            result = TWaitResult::TimedOut;
            return false;
        }
        struct pollfd wake = {wakeFd, POLLIN, 0};
        int n = ::poll(&wake, wakeFd >= 0 ? 1 : 0, slice);
        if (n < 0 && errno != EINTR) {
            result = TWaitResult::Failed;
            return Failed();
        }
        if (n > 0) {
            result = TWaitResult::Woken;
            return false;
        }
    }
    return true;
}

TSerialDevice::TWaitResult TSerialDevice::WaitWritable(int wakeFd, int timeoutMs) {
    const bool lineFlow = FTxMode.load(std::memory_order_relaxed) & (TxDsrFlow | TxCtsFlow);
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    struct pollfd fds[2] = {{FFd, POLLOUT, 0}, {wakeFd, POLLIN, 0}};
    for (;;) {
        int wait = timeoutMs;
        if (lineFlow) {
            // The lines first, then room; a line may drop again meanwhile, so look now and then.
            TWaitResult held;
            if (!WaitForLines(wakeFd, timeoutMs < 0 ? -1 : MsLeft(end), held)) return held;
            wait = timeoutMs < 0 ? LineLookMs : std::min(LineLookMs, MsLeft(end));
        }
        int n = ::poll(fds, wakeFd >= 0 ? 2 : 1, wait);
        if (n < 0) {
            if (errno == EINTR) continue;
            Failed();
            return TWaitResult::Failed;
        }
        if (n == 0) {
            if (lineFlow && (timeoutMs < 0 || MsLeft(end) > 0)) continue;
            return TWaitResult::TimedOut;
        }
        if (wakeFd >= 0 && fds[1].revents) return TWaitResult::Woken;
        // A hang-up counts as ready: the write itself then says what went wrong.
        return TWaitResult::Ready;
    }
}

bool TSerialDevice::HasModemLines() const {
    int bits = 0;
    return FLines && FLines->Get(bits);
}

bool TSerialDevice::GetModemStatus(uint32_t& status) const {
    status = 0;
    int bits = 0;
    if (!FLines) return Fail(EBADF);
    if (!FLines->Get(bits)) return Failed();
    if (bits & TIOCM_CTS) status |= MS_CTS_ON;
    if (bits & TIOCM_DSR) status |= MS_DSR_ON;
    if (bits & TIOCM_RNG) status |= MS_RING_ON;
    if (bits & TIOCM_CAR) status |= MS_RLSD_ON;
    return true;
}

bool TSerialDevice::ReadCounts(uint32_t counts[5]) const {
    struct serial_icounter_struct ic;
    std::memset(&ic, 0, sizeof ic);
    if (::ioctl(FFd, TIOCGICOUNT, &ic) != 0) return false;
    counts[0] = uint32_t(ic.frame);
    counts[1] = uint32_t(ic.overrun);
    counts[2] = uint32_t(ic.parity);
    counts[3] = uint32_t(ic.brk);
    counts[4] = uint32_t(ic.buf_overrun);
    return true;
}

bool TSerialDevice::GetStatus(TSerialStatus& status) {
    status = {};
    if (FFd < 0) return Fail(EBADF);
    if (Lost()) {
        status.Errors = CE_IOE;
        return true;
    }
    int in = 0, out = 0;
    if (::ioctl(FFd, FIONREAD, &in) != 0 || ::ioctl(FFd, TIOCOUTQ, &out) != 0) {
        if (errno != EIO) return Failed();
        status.Errors = CE_IOE; // hung up: the event thread reports it
        return true;
    }
    status.InQueue = uint32_t(in);
    status.OutQueue = uint32_t(out);
    uint32_t now[5];
    if (FHasCounts && ReadCounts(now)) {
        static const uint32_t flags[5] = {CE_FRAME, CE_OVERRUN, CE_RXPARITY, CE_BREAK, CE_RXOVER};
        for (int i = 0; i < 5; ++i)
            if (now[i] != FCounts[i]) status.Errors |= flags[i];
        std::memcpy(FCounts, now, sizeof now);
    }
    return true;
}

bool TSerialDevice::LineErrorsChanged(bool& breakSeen) {
    breakSeen = false;
    uint32_t now[5];
    if (!FHasCounts || !ReadCounts(now)) return false;
    bool errors = now[0] != FEventCounts[0] || now[1] != FEventCounts[1] ||
                  now[2] != FEventCounts[2] || now[4] != FEventCounts[4];
    breakSeen = now[3] != FEventCounts[3];
    std::memcpy(FEventCounts, now, sizeof now);
    return errors;
}

TWakeFd::TWakeFd() : FFd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
    if (FFd < 0) Failed();
}

TWakeFd::~TWakeFd() {
    if (FFd >= 0) ::close(FFd);
}

void TWakeFd::Signal() const {
    uint64_t one = 1;
    // A full counter is still readable, which is all a waiter needs.
    [[maybe_unused]] ssize_t n = ::write(FFd, &one, sizeof one);
}

void TWakeFd::Clear() const {
    uint64_t value;
    [[maybe_unused]] ssize_t n = ::read(FFd, &value, sizeof value);
}

TSerialWaiter::~TSerialWaiter() {
    if (FEpoll >= 0) ::close(FEpoll);
}

bool TSerialWaiter::Init(int deviceFd, int wakeFd) {
    FEpoll = ::epoll_create1(EPOLL_CLOEXEC);
    if (FEpoll < 0) return Failed();
    struct epoll_event ev;
    std::memset(&ev, 0, sizeof ev);
    ev.events = EPOLLIN | EPOLLET;
    ev.data.fd = deviceFd;
    if (::epoll_ctl(FEpoll, EPOLL_CTL_ADD, deviceFd, &ev) != 0) return Failed();
    FDevice = deviceFd;
    ev.events = EPOLLIN;
    ev.data.fd = wakeFd;
    return ::epoll_ctl(FEpoll, EPOLL_CTL_ADD, wakeFd, &ev) == 0 || Failed();
}

unsigned TSerialWaiter::Wait(int64_t timeoutUs) {
    struct epoll_event events[2];
    struct timespec limit = {time_t(timeoutUs / 1000000), long(timeoutUs % 1000000) * 1000};
    static std::atomic<bool> fine{true}; // the wait in microseconds is there
    int n = -1;
    if (fine) {
        n = ::epoll_pwait2(FEpoll, events, 2, timeoutUs < 0 ? nullptr : &limit, nullptr);
        if (n < 0 && (errno == ENOSYS || errno == EPERM)) fine = false; // older kernel, or filtered
    }
    if (!fine) {
        int ms = timeoutUs < 0 ? -1 : int(std::min<int64_t>((timeoutUs + 999) / 1000, INT_MAX));
        n = ::epoll_wait(FEpoll, events, 2, ms);
    }
    if (n < 0) return errno == EINTR ? 0u : unsigned(Woken);
    unsigned result = 0;
    for (int i = 0; i < n; ++i) {
        if (events[i].data.fd != FDevice) {
            result |= Woken;
            continue;
        }
        if (events[i].events & (EPOLLHUP | EPOLLERR)) result |= HangUp;
        if (events[i].events & EPOLLIN) result |= Input;
    }
    return result;
}

void TSerialWaiter::DropDevice() {
    if (FDevice < 0) return;
    ::epoll_ctl(FEpoll, EPOLL_CTL_DEL, FDevice, nullptr);
    FDevice = -1;
}

} // namespace nuq
