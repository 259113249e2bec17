#pragma once
// The serial port component: opens a "COMn" port, programs its line, and turns
// the device's events into events on the main thread. Each open port runs two
// threads: an event thread that waits on the device and a write thread that
// drains the write queue. Every event reaches the owner on the main thread, in
// the order it happened. Received bytes are read by the event thread as they
// arrive and handed over in batches, and "queue empty" is told, without the
// thread waiting for the main thread; the other events are synchronous calls
// while the port's thread waits. A handler that lets the loop run is not
// entered again by its own port's events meanwhile: they follow once it returns.
//
// Bytes pass through unchanged: texts given to WriteText or taken from
// ReadText are byte strings, converted by the caller.

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "acquisition/SerClasses.h"
#include "acquisition/SerPrst.h"
#include "platform/SerialDevice.h"

namespace nuq {

enum TSerBaudrate {
    brUser,
    br110,
    br300,
    br600,
    br1200,
    br2400,
    br4800,
    br9600,
    br14400,
    br19200,
    br38400,
    br56000,
    br57600,
    br115200,
    br128000,
    br256000
};
enum TSerParity { paNone, paOdd, paEven, paMark, paSpace };
enum TSerDatabits { db4, db5, db6, db7, db8 };
enum TSerStopbits { sb1, sb15, sb2 };
enum TSerCommOption { coErrorChar, coNullStrip, coParityCheck };
enum TSerCommEvent {
    ceBreak,
    ceCts,
    ceDsr,
    ceError,
    ceRing,
    ceRlsd,
    ceRxChar,
    ceTxEmpty,
    ceRxFlag,
    cePErr,
    ceRx80Full,
    ceEvent1,
    ceEvent2
};
enum class TSerThreadPriority { Idle, Lowest, Lower, Normal, Higher, Highest, TimeCritical };

// Device event bits.
inline constexpr uint32_t EV_RXCHAR = 0x0001;
inline constexpr uint32_t EV_RXFLAG = 0x0002;
inline constexpr uint32_t EV_TXEMPTY = 0x0004;
inline constexpr uint32_t EV_CTS = 0x0008;
inline constexpr uint32_t EV_DSR = 0x0010;
inline constexpr uint32_t EV_RLSD = 0x0020;
inline constexpr uint32_t EV_BREAK = 0x0040;
inline constexpr uint32_t EV_ERR = 0x0080;
inline constexpr uint32_t EV_RING = 0x0100;
inline constexpr uint32_t EV_PERR = 0x0200;
inline constexpr uint32_t EV_RX80FULL = 0x0400;
inline constexpr uint32_t EV_EVENT1 = 0x0800;
inline constexpr uint32_t EV_EVENT2 = 0x1000;

// A set of enumeration members.
template <class E> class TSerSet {
public:
    TSerSet() = default;
    TSerSet(std::initializer_list<E> members) {
        for (E m : members) FBits |= Bit(m);
    }
    bool Contains(E m) const { return (FBits & Bit(m)) != 0; }
    TSerSet operator+(E m) const { return FromBits(FBits | Bit(m)); }
    TSerSet operator-(E m) const { return FromBits(FBits & ~Bit(m)); }
    bool operator==(const TSerSet& other) const { return FBits == other.FBits; }
    bool Empty() const { return FBits == 0; }

private:
    static uint32_t Bit(E m) { return 1u << unsigned(m); }
    static TSerSet FromBits(uint32_t bits) {
        TSerSet s;
        s.FBits = bits;
        return s;
    }
    uint32_t FBits = 0;
};
using TSerCommOptions = TSerSet<TSerCommOption>;
using TSerCommEvents = TSerSet<TSerCommEvent>;

// Bit/s of a rate; 0 for brUser.
uint32_t BaudrateValue(TSerBaudrate rate);
// The device event bits a set of events selects.
uint32_t EventBits(const TSerCommEvents& events);

class TSerCustomComm;
class TSerCommComponent;
class TSerCommThread;
class TSerCommEventThread;
class TSerCommWriteThread;

// What an attached component gives its port: handlers for events and
// received bytes.
class TSerDispatcher {
public:
    std::function<void(uint32_t mask)> OnEvents;
    std::function<void(const char* bytes, int count)> OnRxBuf;
    bool Active = true;
    TSerCustomComm* Comm = nullptr;
    TSerCommComponent* Owner = nullptr;
};

// A component that takes a port's received bytes and events.
class TSerCommComponent : public TSerComponent {
public:
    TSerCommComponent();
    ~TSerCommComponent() override;
    TSerCommComponent(const TSerCommComponent&) = delete;
    TSerCommComponent& operator=(const TSerCommComponent&) = delete;

    TSerCustomComm* Comm() const { return FDispatcher.Comm; }
    // Detaches from the old port and attaches to the new one (or none).
    void SetComm(TSerCustomComm* comm);
    bool Active() const { return FDispatcher.Active; }
    void SetActive(bool value) { FDispatcher.Active = value; }

protected:
    virtual void CommEvents(uint32_t mask) { (void)mask; }
    virtual void CommRxBuf(const char* bytes, int count) {
        (void)bytes;
        (void)count;
    }

private:
    friend class TSerCustomComm;
    TSerDispatcher FDispatcher;
};

// A control a port can be shown in. Nothing here draws it; the ports
// naming it forget it when it is freed, so none is left pointing at it.
class TSerDisplay {
public:
    TSerDisplay() = default;
    virtual ~TSerDisplay();
    TSerDisplay(const TSerDisplay&) = delete;
    TSerDisplay& operator=(const TSerDisplay&) = delete;

private:
    friend class TSerCustomComm;
    std::vector<TSerCustomComm*> FPorts;
};

class TSerCustomComm : public TSerComponent {
public:
    using TNotifyEvent = std::function<void(TSerCustomComm& sender)>;

    TSerCustomComm();
    ~TSerCustomComm() override;
    TSerCustomComm(const TSerCustomComm&) = delete;
    TSerCustomComm& operator=(const TSerCustomComm&) = delete;

    // Raise ESerCommError with the reason.
    void Open();
    // Why the last Open failed, in Russian for an owner's log: what failed
    // and on which device; empty when it did not fail there.
    const std::string& OpenFailure() const { return FOpenFailure; }
    // The device the port last opened, as "COM7 (/dev/ttyS6)".
    const std::string& OpenedDevice() const { return FOpenedDevice; }
    void Close();
    bool IsOpen() const { return FDevice.IsOpen(); }
    // The device hung up or failed for good (a pseudo-terminal closed, an
    // adapter pulled): only closing and opening it again can bring it back.
    bool LineLost() const { return FDevice.Lost(); }

    // Bytes written (queued, without DirectWrite); 0 on a closed port.
    int Write(const char* bytes, int count);
    // Whether all of S was written.
    bool WriteText(const std::string& s);
    // Bytes read from what has arrived; 0 on a closed port. With received
    // characters watched, the bytes the event thread has taken so far.
    int Read(char* bytes, int count);
    void ReadText(std::string& s);
    // Bytes received and not yet read; 0 when closed.
    int InQueCount();
    // Error flags (CE_ bits) and the queue counts; zeros when closed.
    void GetStatus(uint32_t& errors, TSerialStatus& status);
    // Opens the port when AutoOpen is set; for an owner finishing its set-up.
    void Loaded();

    bool AutoOpen = false;

    TSerBaudrate Baudrate() const { return FBaudrate; }
    void SetBaudrate(TSerBaudrate value);
    int32_t UserBaudrate() const { return FUserBaudrate; }
    void SetUserBaudrate(int32_t value);
    TSerParity Parity() const { return FParity; }
    void SetParity(TSerParity value);
    TSerDatabits Databits() const { return FDatabits; }
    void SetDatabits(TSerDatabits value);
    TSerStopbits Stopbits() const { return FStopbits; }
    void SetStopbits(TSerStopbits value);
    TSerCommOptions Options() const { return FOptions; }
    void SetOptions(TSerCommOptions value);

    TSerEventChars& EventChars() { return *FEventChars; }
    void SetEventChars(const TSerEventChars& value) { FEventChars->Assign(value); }
    TSerFlowControl& FlowControl() { return *FFlowControl; }
    void SetFlowControl(const TSerFlowControl& value) { FFlowControl->Assign(value); }
    // Changing these while the port is open raises.
    TSerBuffers& Buffers() { return *FBuffers; }
    void SetBuffers(const TSerBuffers& value);

    int32_t PortNum() const { return FPortNum; }
    void SetPortNum(int32_t value);
    // A format taking PortNum for "%d".
    const std::string& DeviceName() const { return FDeviceName; }
    void SetDeviceName(const std::string& value);
    TSerCommEvents MonitorEvents() const { return FMonitorEvents; }
    void SetMonitorEvents(TSerCommEvents value);
    bool DirectWrite() const { return FDirectWrite; }
    void SetDirectWrite(bool value);
    bool UpdateDCB() const { return FUpdateDCB; }
    void SetUpdateDCB(bool value);
    TSerThreadPriority EventPriority() const { return FEventPriority; }
    void SetEventPriority(TSerThreadPriority value);
    TSerThreadPriority WritePriority() const { return FWritePriority; }
    void SetWritePriority(TSerThreadPriority value);
    // The control the port is shown in; none once that control is freed.
    TSerDisplay* Display() const { return FDisplay; }
    void SetDisplay(TSerDisplay* value);

    TNotifyEvent OnOpen, OnClose, OnCts, OnDsr, OnRlsd, OnRing, OnBreak, OnRxFlag, OnTxEmpty,
        OnPErr, OnRx80Full, OnEvent1, OnEvent2;
    std::function<void(TSerCustomComm& sender, uint32_t errors)> OnError;
    std::function<void(TSerCustomComm& sender, int count)> OnRxChar;
    std::function<void(TSerCustomComm& sender, const char* bytes, int count)> OnRxBuf;

protected:
    virtual void OpenDevice();
    virtual void CreateThreads();
    virtual void HandleRxChar();
    virtual void HandleEvents(uint32_t mask);
    virtual void DispatchEvents(uint32_t mask);
    virtual void DispatchRxBuf(const char* bytes, int count);

    // The device event bits the event thread watches while open.
    uint32_t EventMask() const { return FEventMask; }
    // The device name for the current PortNum.
    std::string FormattedDeviceName() const;
    // The device driver; a test gives it modem lines of its own.
    TSerialDevice& Device() { return FDevice; }

private:
    friend class TSerCommComponent;
    friend class TSerCommThread;
    friend class TSerCommEventThread;
    friend class TSerCommWriteThread;

    void CheckClosed() const;
    void ApplySettings();
    TSerialSettings MakeSettings() const;
    void StopThreads();
    // Received bytes the event thread holds for Read.
    size_t ReadAheadCount();
    // Runs on the main thread for a port thread: the received-bytes handling
    // first, then the remaining events.
    void RunEvents(uint32_t mask);
    bool Fire(const TNotifyEvent& event);
    void Attach(TSerDispatcher* d);
    void Detach(TSerDispatcher* d);
    [[noreturn]] void RaiseLastError(const std::string& format) const;
    [[noreturn]] void RaiseDcbError() const;

    TSerBaudrate FBaudrate = br1200;
    int32_t FUserBaudrate = 0;
    TSerParity FParity = paNone;
    TSerDatabits FDatabits = db8;
    TSerStopbits FStopbits = sb1;
    TSerCommOptions FOptions;
    std::unique_ptr<TSerEventChars> FEventChars;
    std::unique_ptr<TSerFlowControl> FFlowControl;
    std::unique_ptr<TSerBuffers> FBuffers;
    int32_t FPortNum = 0;
    std::string FDeviceName = "\\\\.\\COM%d";
    TSerCommEvents FMonitorEvents{ceError, ceRxChar, ceTxEmpty};
    bool FDirectWrite = false;
    bool FUpdateDCB = true;
    TSerThreadPriority FEventPriority = TSerThreadPriority::Normal;
    TSerThreadPriority FWritePriority = TSerThreadPriority::Highest;
    TSerDisplay* FDisplay = nullptr;

    TSerialDevice FDevice;
    std::string FOpenFailure;
    std::string FOpenedDevice;
    uint32_t FEventMask = 0;
    std::shared_ptr<TSerCommEventThread> FEventThread;
    std::shared_ptr<TSerCommWriteThread> FWriteThread;
    TSerCriticalSection FWriteLock;
    TSerCriticalSection FReadLock;
    std::vector<TSerDispatcher*> FDispatchers;
    bool FDestroying = false;
    // Cleared when the port is destroyed, so a handler that frees its own
    // port does not leave the dispatch running on a dead object.
    std::shared_ptr<bool> FAlive = std::make_shared<bool>(true);
};

class TSerComm : public TSerCustomComm {};

} // namespace nuq
