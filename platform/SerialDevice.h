#pragma once
// Serial devices over POSIX termios: the port component's "driver".
//
// A port is named "COMn" as the system always named it; ResolveSerialName
// finds the device behind the name. Every call that can fail returns false
// (or -1) and leaves LastSerialError() telling why, so the caller can act on
// a missing or lost device and report the system's own error number and text.

#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

namespace nuq {

// Line error flags as the port reports them.
inline constexpr uint32_t CE_RXOVER = 0x0001;   // input queue overflow
inline constexpr uint32_t CE_OVERRUN = 0x0002;  // character lost by the hardware
inline constexpr uint32_t CE_RXPARITY = 0x0004; // parity error
inline constexpr uint32_t CE_FRAME = 0x0008;    // framing error
inline constexpr uint32_t CE_BREAK = 0x0010;    // break received
inline constexpr uint32_t CE_IOE = 0x0400;      // the device failed or vanished

// Modem status lines.
inline constexpr uint32_t MS_CTS_ON = 0x0010;
inline constexpr uint32_t MS_DSR_ON = 0x0020;
inline constexpr uint32_t MS_RING_ON = 0x0040;
inline constexpr uint32_t MS_RLSD_ON = 0x0080;

// Modem line bits, numbered as the kernel numbers them.
inline constexpr int LineDtr = 0x002;
inline constexpr int LineRts = 0x004;
inline constexpr int LineCts = 0x020;
inline constexpr int LineDcd = 0x040;
inline constexpr int LineRing = 0x080;
inline constexpr int LineDsr = 0x100;

enum class TSerialParity { None, Odd, Even, Mark, Space };
// How DTR or RTS is driven.
enum class TSerialLineControl { Disabled, Enabled, Handshake, Toggle };

struct TSerialSettings {
    uint32_t Baudrate = 9600;
    int DataBits = 8; // 5..8
    int StopBits = 0; // 0 one, 1 one and a half (five data bits only), 2 two
    TSerialParity Parity = TSerialParity::None;
    bool ParityCheck = false;
    bool OutCtsFlow = false;
    bool OutDsrFlow = false;
    bool DsrSensitivity = false;
    TSerialLineControl Dtr = TSerialLineControl::Disabled;
    TSerialLineControl Rts = TSerialLineControl::Disabled;
    bool XonXoffOut = false;
    bool XonXoffIn = false;
    // Output goes on after we sent XOFF; otherwise it waits for our XON.
    bool TxContinueOnXoff = false;
    char XonChar = 0x11;
    char XoffChar = 0x13;
    char EventChar = 0;         // announced by the port's event thread when it arrives
    bool ReplaceErrors = false; // replace bad characters by ErrorChar
    char ErrorChar = 0;
    bool NullStrip = false;
    // DTR and RTS handshakes and XON/XOFF input flow: the line drops (XOFF
    // goes out) when the unread bytes reach InputSize - XoffLimit, and rises
    // again (XON goes out) when they are down to XonLimit. The kernel's own
    // thresholds cannot be set: the port's threads follow these.
    int InputSize = 4096;
    int XonLimit = 1024;
    int XoffLimit = 1024;
};

// The modem lines of an open device. A real port's go through the kernel;
// a test puts a line of its own in, as a pseudo-terminal has none.
class TSerialLines {
public:
    virtual ~TSerialLines() = default;
    // The Line bits now; false with errno set when the device has no lines.
    virtual bool Get(int& bits) = 0;
    // Drives DTR and RTS as Bits has them.
    virtual bool Set(int bits) = 0;
    // The driver raising RTS around its own sends, or no longer; false when
    // it cannot.
    virtual bool SetRtsOnSend(bool on) = 0;
};

// What the port itself drops or replaces in received bytes: a byte the
// line discipline marked as received with a parity or framing error
// (0xFF 0x00 byte) becomes the error character, a 0xFF it doubled is one
// again, and NUL bytes go when they are to be stripped.
class TSerialReceiveFilter {
public:
    void SetMode(bool replaceErrors, char errorChar, bool nullStrip);
    bool Active() const { return FMode.load(std::memory_order_relaxed) != 0; }
    // Filters Count bytes in place and answers how many are left. A mark
    // cut in two by the reads is carried over to the next call.
    size_t Apply(char* bytes, size_t count);

private:
    std::atomic<uint32_t> FMode{0}; // set on the main thread, read by the reader
    int FMarked = 0;                // bytes of a mark seen so far
};

// The device behind a port name: "COMn" (with or without a leading "\\.\")
// is a file or link named COMn in $NUQ_PORT_DIR when that holds one, else
// /dev/ttyS(n-1) (a name once found in the folder keeps to it, link or
// not); any other name is a path used as it stands. An empty
// result means no device can have that name.
std::string ResolveSerialName(std::string_view name);

// The termios framing bits (size, stop bits, parity) Settings ask for;
// EINVAL for a frame termios cannot describe.
bool SerialFramingFlags(const TSerialSettings& settings, uint32_t& cflag);

// The 32-bit error number and the system's text for it.
std::string SysErrorText(int error);

// Why a serial call failed.
struct TSerialError {
    // NotFound: no device has the name; Lost: the device hung up or failed
    // for good; Other: anything else, told by Code alone.
    enum class TKind { None, NotFound, Lost, Other };
    TKind Kind = TKind::None;
    int Code = 0; // the system's error number, as messages show it
    std::string Text() const { return SysErrorText(Code); }
    // What a device already lost answers to a write.
    static TSerialError LineLost();
};

// The failure of this thread's last failed call on a device, waiter or
// wake-up; calls that succeed leave it as it was.
TSerialError LastSerialError();

// The calling thread's id as the system knows it.
int CurrentThreadId();
// Priority of a port thread by level, 0 idle .. 3 normal .. 6 time-critical.
// A hint: without the right to raise a thread it runs where it was.
void SetSerialThreadPriority(int threadId, int level);
// Told once, on the thread that asked, of the first priority refused (an
// unprivileged user may not raise a thread): the nice value asked for and
// the system's error number. Setting a handler arms it again.
void SetSerialPriorityRefusedHandler(std::function<void(int niceness, int error)> handler);

// Queue and line state of an open device.
struct TSerialStatus {
    uint32_t Errors = 0; // CE_ flags since the last query
    uint32_t InQueue = 0;
    uint32_t OutQueue = 0;
};

class TSerialDevice {
public:
    TSerialDevice() = default;
    ~TSerialDevice() { Close(); }
    TSerialDevice(const TSerialDevice&) = delete;
    TSerialDevice& operator=(const TSerialDevice&) = delete;

    // Opens Name (resolved as above) for exclusive non-blocking use in raw
    // mode. ENOENT when the name resolves to nothing.
    bool Open(std::string_view name);
    // Puts the line's settings back as they were before Open, then closes:
    // the next user of the line must not inherit ours.
    void Close();
    bool IsOpen() const { return FFd >= 0; }
    int Handle() const { return FFd; }
    const std::string& Path() const { return FPath; }

    // Programs the line from Settings alone: nothing set earlier, by us or
    // by the line's previous user, survives. Settings the line cannot honour
    // fail with EINVAL (a value termios has no word for) or EOPNOTSUPP (a
    // facility this device lacks; Refused then names it).
    bool Configure(const TSerialSettings& settings);
    const char* Refused() const { return FRefused; }

    // Modem lines to use from the next Open on instead of the kernel's;
    // none puts the kernel's back.
    void SetLines(std::shared_ptr<TSerialLines> lines) { FGivenLines = std::move(lines); }

    // Bytes received and not read, bytes not yet sent; -1 on failure.
    int InQueue() const;
    int OutQueue() const;
    // Non-blocking; 0 when nothing is there or no room; -1 on failure.
    // Read gives the bytes as the settings keep them (see the receive
    // filter; with DSR sensitivity nothing while DSR is low). Write sends
    // nothing while DSR or CTS output flow holds it, and with RTS toggled by us
    // raises RTS around what it sends, dropped once it has gone out.
    ssize_t Read(void* buffer, size_t count);
    ssize_t Write(const void* buffer, size_t count);
    bool Purge(bool input, bool output) const;

    // What happened while waiting for room to write.
    enum class TWaitResult { Ready, Woken, TimedOut, Failed };
    // Waits until the device takes output (and DSR and CTS are up when
    // output follows them), WakeFd becomes readable, or TimeoutMs pass (-1
    // without limit).
    TWaitResult WaitWritable(int wakeFd, int timeoutMs);

    // Modem lines; a device without them (a pseudo-terminal) answers false
    // with ENOTTY.
    bool HasModemLines() const;
    bool GetModemStatus(uint32_t& status) const;

    // DTR and RTS handshakes and XON/XOFF input flow: whether they follow
    // the unread bytes, and following Fill of them. Called by whoever changes
    // the fill, under the lock that guards it, so the line ends as the last
    // fill says.
    bool FollowsFill() const { return FFillMode.load(std::memory_order_relaxed) != 0; }
    void FollowFill(size_t fill);
    // Whether the event character is among Count bytes read.
    bool HasEventChar(const char* bytes, size_t count) const;

    // Error flags since the last call and the queue counts; a lost device
    // answers CE_IOE and empty queues without failing.
    bool GetStatus(TSerialStatus& status);

    // A device that hung up or failed for good; set by whichever thread
    // sees it first. MarkLost answers true only for that first call.
    bool MarkLost() { return !FLost.exchange(true); }
    bool Lost() const { return FLost.load(); }
    // A write waiting for its bytes to drain gives up: the port is closing.
    void StopWaits() { FStopWaits = true; }

    // Line error counters changed since the last call (hardware ports only).
    bool LineErrorsChanged(bool& breakSeen);

private:
    bool ReadCounts(uint32_t counts[5]) const;
    bool DsrDown() const;
    bool SetLine(int line, bool on); // under FLineLock
    bool OutputHeld();
    void HoldOutput(uint32_t holder, bool on); // under FLineLock
    void SendXon();                            // under FLineLock
    bool WaitForLines(int wakeFd, int timeoutMs, TWaitResult& result);
    void DrainBeforeRtsDrops(size_t bytes);

    int FFd = -1;
    std::shared_ptr<TSerialLines> FGivenLines;
    std::shared_ptr<TSerialLines> FLines; // while open
    const char* FRefused = nullptr;
    // Modes the port's threads act on, set by Configure.
    enum : uint32_t { TxDsrFlow = 1, TxRtsToggle = 2, TxCtsFlow = 4 };
    std::atomic<uint32_t> FTxMode{0};
    std::atomic<bool> FDsrSensitive{false};
    enum : uint32_t { FillDtr = 1, FillXoff = 2, FillTxContinue = 4, FillRts = 8 };
    std::atomic<uint32_t> FFillMode{0};
    std::atomic<int> FEventChar{0};
    std::atomic<uint32_t> FBaudrate{0};
    std::atomic<bool> FStopWaits{false};
    // Output we stopped, and for whom; under FLineLock.
    enum : uint32_t { HeldForDsr = 1, HeldForXoff = 2, HeldForCts = 4 };
    uint32_t FHeld = 0;
    bool FXoffSent = false; // the peer is to wait for our XON
    TSerialReceiveFilter FFilter;
    bool FRtsOnSend = false; // the driver toggles RTS for us
    std::mutex FLineLock;    // the lines we drive, the fill limits and the flow we hold
    int FLineBits = 0;
    size_t FFillHigh = 0, FFillLow = 0;
    std::string FPath;
    // The line's settings as Open found them, in the kernel's own layout.
    alignas(8) unsigned char FSavedLine[64] = {};
    bool FLineSaved = false;
    std::atomic<bool> FLost{false};
    bool FHasCounts = false;
    uint32_t FCounts[5] = {};      // frame, overrun, parity, break, buffer overrun
    uint32_t FEventCounts[5] = {}; // the event thread's last look at them
};

// An eventfd a thread waits on besides its device, to be told to stop.
class TWakeFd {
public:
    TWakeFd();
    ~TWakeFd();
    TWakeFd(const TWakeFd&) = delete;
    TWakeFd& operator=(const TWakeFd&) = delete;
    bool Valid() const { return FFd >= 0; }
    int Handle() const { return FFd; }
    void Signal() const;
    void Clear() const;

private:
    int FFd = -1;
};

// Edge-triggered wait for new input, hang-up or a wake-up: bytes already
// announced and left unread do not wake it again, as a driver's
// "character received" event fires only for new characters.
class TSerialWaiter {
public:
    enum : unsigned { Input = 1, HangUp = 2, Woken = 4 };

    TSerialWaiter() = default;
    ~TSerialWaiter();
    TSerialWaiter(const TSerialWaiter&) = delete;
    TSerialWaiter& operator=(const TSerialWaiter&) = delete;

    bool Init(int deviceFd, int wakeFd);
    // The bits above; 0 when TimeoutUs microseconds (-1 without limit)
    // passed, and Woken on a failed wait too so the caller looks at its flags.
    unsigned Wait(int64_t timeoutUs);
    // Stops watching the device (after it hung up).
    void DropDevice();

private:
    int FEpoll = -1;
    int FDevice = -1;
};

} // namespace nuq
