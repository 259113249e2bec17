// The serial port component on a pseudo-terminal linked as COM7.

#include "acquisition/SerComm.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <thread>

#include "acquisition/SerBuffer.h"
#include "platform/EventLoop.h"
#include "platform/FakeSerialLines.h"
#include "platform/PtyPair.h"

using namespace nuq;
using nuqtest::Pattern;
using nuqtest::TFakeLines;
using nuqtest::TPtyPair;

namespace {

const uint32_t Patience = 30000; // ms; generous for a loaded machine

// Shows the mask the port gives the device.
class TProbeComm : public TSerComm {
public:
    using TSerCustomComm::EventMask;
};

// A port whose device can be given modem lines.
class TLineComm : public TSerComm {
public:
    using TSerCustomComm::Device;
};

// Until Done holds, on a clock that the main loop does not run.
bool WaitUntil(const std::function<bool()>& done) {
    for (uint32_t i = 0; i < Patience && !done(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return done();
}

std::string ErrorOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const ESerCommError& e) {
        return e.what();
    }
    return "(no error)";
}

// A port on the pair's COMn with a receive buffer and its events counted.
struct TPortRig {
    explicit TPortRig(TPtyPair& pty) : Main(std::this_thread::get_id()) {
        Port.SetPortNum(pty.PortNum);
        Port.SetBaudrate(br9600);
        Port.OnOpen = [this](TSerCustomComm&) { ++Opens; };
        Port.OnClose = [this](TSerCustomComm&) { ++Closes; };
        Port.OnError = [this](TSerCustomComm&, uint32_t e) {
            ++Errors;
            LastErrors = e;
        };
        Port.OnRxBuf = [this](TSerCustomComm&, const char* b, int n) {
            if (std::this_thread::get_id() != Main) ++OffMain;
            Received.append(b, size_t(n));
        };
        Port.OnTxEmpty = [this](TSerCustomComm&) { ++TxEmpties; };
        Port.SetMonitorEvents(Port.MonitorEvents() - ceError); // as the link objects do
        Buffer.SetSize(8192);
        Buffer.SetComm(&Port);
    }
    bool WaitReceived(size_t n) {
        return ProcessMessagesUntil([&] { return Received.size() >= n; }, Patience);
    }
    std::thread::id Main;
    TLineComm Port;
    TSerBuffer Buffer;
    std::string Received;
    int Opens = 0, Closes = 0, Errors = 0, TxEmpties = 0, OffMain = 0;
    uint32_t LastErrors = 0;
};

} // namespace

TEST(SerComm, Defaults) {
    TProbeComm p;
    EXPECT_EQ(p.Baudrate(), br1200);
    EXPECT_EQ(p.Parity(), paNone);
    EXPECT_EQ(p.Databits(), db8);
    EXPECT_EQ(p.Stopbits(), sb1);
    EXPECT_EQ(p.PortNum(), 0);
    EXPECT_EQ(p.DeviceName(), "\\\\.\\COM%d");
    EXPECT_TRUE(p.MonitorEvents() == (TSerCommEvents{ceError, ceRxChar, ceTxEmpty}));
    EXPECT_TRUE(p.UpdateDCB());
    EXPECT_FALSE(p.DirectWrite());
    EXPECT_EQ(p.EventPriority(), TSerThreadPriority::Normal);
    EXPECT_EQ(p.WritePriority(), TSerThreadPriority::Highest);
    EXPECT_FALSE(p.IsOpen());
}

TEST(SerComm, BaudrateValuesAndUserRate) {
    const uint32_t values[] = {0,     110,   300,   600,   1200,  2400,   4800,   9600,
                               14400, 19200, 38400, 56000, 57600, 115200, 128000, 256000};
    for (int r = brUser; r <= br256000; ++r) EXPECT_EQ(BaudrateValue(TSerBaudrate(r)), values[r]);
    TSerComm p;
    p.SetUserBaudrate(31250);
    EXPECT_EQ(p.Baudrate(), brUser);
    p.SetBaudrate(br9600);
    EXPECT_EQ(p.UserBaudrate(), 0);
}

TEST(SerComm, EventMaskGivenToTheDevice) {
    TPtyPair pty;
    struct Case {
        TSerCommEvents Events;
        bool Direct;
        uint32_t Mask;
    };
    for (auto c : {Case{{ceError, ceRxChar, ceTxEmpty}, false, 0x0081},
                   Case{{ceError, ceRxChar, ceTxEmpty}, true, 0x0085},
                   Case{{ceRxChar, ceTxEmpty}, false, 0x0001},
                   Case{{ceBreak, ceCts, ceDsr, ceRing, ceRlsd, ceRxFlag, cePErr, ceRx80Full,
                         ceEvent1, ceEvent2},
                        false,
                        0x1F7A},
                   Case{{}, false, 0}}) {
        TProbeComm p;
        p.SetPortNum(pty.PortNum);
        p.SetMonitorEvents(c.Events);
        p.SetDirectWrite(c.Direct);
        p.Open();
        EXPECT_EQ(p.EventMask(), c.Mask);
        p.Close();
    }
}

TEST(SerComm, OpenAndCloseEvents) {
    TPtyPair pty;
    TPortRig rig(pty);
    rig.Port.Open();
    EXPECT_TRUE(rig.Port.IsOpen());
    EXPECT_EQ(rig.Opens, 1);
    rig.Port.Close();
    rig.Port.Close(); // closing a closed port does nothing
    EXPECT_FALSE(rig.Port.IsOpen());
    EXPECT_EQ(rig.Closes, 1);
    rig.Port.Open(); // and it opens again
    EXPECT_EQ(rig.Opens, 2);
    int closes = 0;
    {
        TSerComm p;
        p.SetPortNum(8);
        p.OnClose = [&](TSerCustomComm&) { ++closes; };
    }
    EXPECT_EQ(closes, 0); // never opened
}

TEST(SerComm, OpenFailures) {
    TPtyPair pty(7);
    TSerComm p;
    p.SetPortNum(9);
    EXPECT_EQ(ErrorOf([&] { p.Open(); }), "Specified device not found (COM9).");
    std::ofstream(pty.Dir + "/COM9") << "not a line";
    EXPECT_EQ(ErrorOf([&] { p.Open(); }),
              "Can't open specified device COM9 (Error 25, Inappropriate ioctl for device)");
    p.SetPortNum(7);
    p.Open();
    TSerComm second;
    second.SetPortNum(7);
    EXPECT_EQ(ErrorOf([&] { second.Open(); }),
              "Can't open specified device COM7 (Error 16, Device or resource busy)");
    EXPECT_EQ(ErrorOf([&] { p.Open(); }), "Can't perform this operation while port is open");
    p.Close();
    unlink((pty.Dir + "/COM9").c_str());
}

// A line the device cannot run leaves the port closed, and it can try again.
TEST(SerComm, UnsupportedLineSettingsRaiseAndLeaveItClosed) {
    TPtyPair pty;
    const std::string invalid = "Error writing dcb (22), Invalid argument",
                      noLines = "Error writing dcb (95), Operation not supported: COM7 has no "
                                "modem lines for ";
    struct Case {
        std::function<void(TSerComm&)> Set;
        std::string Message;
    };
    for (auto& c : std::initializer_list<Case>{
             {[](TSerComm& p) { p.SetDatabits(db4); }, invalid},
             {[](TSerComm& p) { p.SetStopbits(sb15); }, invalid},
             {[](TSerComm& p) { p.SetBaudrate(brUser); }, invalid},
             {[](TSerComm& p) { p.FlowControl().SetOutCtsFlow(true); },
              noLines + "CTS output flow"},
             {[](TSerComm& p) { p.FlowControl().SetControlRts(rtsHandshake); },
              noLines + "RTS handshake"},
             {[](TSerComm& p) { p.FlowControl().SetOutDsrFlow(true); },
              noLines + "DSR output flow"},
             {[](TSerComm& p) { p.FlowControl().SetDsrSensitivity(true); },
              noLines + "DSR sensitivity"},
             {[](TSerComm& p) { p.FlowControl().SetControlDtr(dtrHandshake); },
              noLines + "DTR handshake"},
             {[](TSerComm& p) { p.FlowControl().SetControlRts(rtsToggle); },
              noLines + "RTS toggle"},
         }) {
        TSerComm p;
        p.SetPortNum(pty.PortNum);
        int opens = 0;
        p.OnOpen = [&](TSerCustomComm&) { ++opens; };
        c.Set(p);
        EXPECT_EQ(ErrorOf([&] { p.Open(); }), c.Message);
        EXPECT_FALSE(p.IsOpen());
        EXPECT_EQ(opens, 0);
        p.SetUpdateDCB(false); // the line as it is
        p.Open();
        EXPECT_TRUE(p.IsOpen());
    }
}

TEST(SerComm, LineSettingsFollowTheProperties) {
    TPtyPair pty;
    TSerComm p;
    p.SetPortNum(pty.PortNum);
    p.SetBaudrate(br115200);
    p.SetParity(paMark);
    p.Open();
    struct termios tio;
    tcgetattr(pty.Slave, &tio);
    EXPECT_EQ(cfgetospeed(&tio), speed_t(B115200));
    // Changed while open: the line is programmed again.
    p.SetBaudrate(br19200);
    p.SetParity(paSpace);
    p.FlowControl().SetXonXoffOut(true);
    p.EventChars().SetXonChar('+');
    tcgetattr(pty.Slave, &tio);
    EXPECT_EQ(cfgetospeed(&tio), speed_t(B19200));
    EXPECT_NE(tio.c_iflag & IXON, 0u);
    EXPECT_EQ(tio.c_cc[VSTART], '+');
    for (auto r : {br14400, br56000, br128000, br256000}) {
        p.SetBaudrate(r); // outside the termios table, still accepted
        EXPECT_EQ(p.Baudrate(), r);
    }
    // Refused while open: the line stays as it was and the port open.
    EXPECT_EQ(ErrorOf([&] { p.SetDatabits(db4); }), "Error writing dcb (22), Invalid argument");
    EXPECT_TRUE(p.IsOpen());
}

TEST(SerComm, SettingsThatNeedAClosedPort) {
    TPtyPair pty;
    TSerComm p;
    p.SetPortNum(pty.PortNum);
    p.Open();
    const std::string busy = "Can't perform this operation while port is open";
    TSerBuffers other;
    other.SetReadSize(100);
    other.SetReadTimeout(50);
    // A refused change leaves the sizes the port really has.
    auto buffers = [&] {
        const TSerBuffers& b = p.Buffers();
        return std::vector<int32_t>{b.ReadSize(),     b.WriteSize(), b.ReadTimeout(),
                                    b.WriteTimeout(), b.XonLimit(),  b.XoffLimit()};
    };
    const std::vector<int32_t> inForce = buffers();
    for (auto& f : std::initializer_list<std::function<void()>>{
             [&] { p.SetPortNum(3); },
             [&] { p.SetPortNum(pty.PortNum); },
             [&] { p.SetDeviceName("/dev/null"); },
             [&] { p.SetMonitorEvents({ceRxChar}); },
             [&] { p.SetDirectWrite(true); },
             [&] { p.SetUpdateDCB(false); },
             [&] { p.SetBuffers(other); },
             [&] { p.Buffers().SetReadSize(100); },
             [&] { p.Buffers().SetWriteSize(100); },
             [&] { p.Buffers().SetXonLimit(100); },
             [&] { p.Buffers().SetXoffLimit(100); },
             [&] { p.Buffers().Assign(other); },
         }) {
        EXPECT_EQ(ErrorOf(f), busy);
        EXPECT_EQ(buffers(), inForce);
    }
    EXPECT_EQ(p.PortNum(), pty.PortNum);
    p.Buffers().SetReadTimeout(50); // time-outs may change at any time
    p.SetEventPriority(TSerThreadPriority::Lower);
    p.SetWritePriority(TSerThreadPriority::Normal);
    p.Close();
    p.SetPortNum(3);
    EXPECT_EQ(p.PortNum(), 3);
}

TEST(SerComm, DeviceNameFormat) {
    TPtyPair pty(5);
    TSerComm p;
    p.SetPortNum(5);
    p.SetDeviceName("COM%d");
    p.Open();
    p.Close();
    p.SetDeviceName(pty.SlavePath); // a plain path, no number
    p.Open();
    EXPECT_TRUE(p.IsOpen());
}

TEST(SerComm, ClosedPortReadsAndWritesNothing) {
    TSerComm p;
    char b[4] = {};
    EXPECT_EQ(p.Write("abc", 3), 0);
    EXPECT_FALSE(p.WriteText("abc"));
    EXPECT_EQ(p.Read(b, 4), 0);
    EXPECT_EQ(p.InQueCount(), 0);
    std::string s = "old";
    p.ReadText(s);
    EXPECT_EQ(s, "");
    uint32_t errors = 1;
    TSerialStatus st;
    p.GetStatus(errors, st);
    EXPECT_EQ(errors, 0u);
}

// Without a component the port only announces arrivals; with one it reads them.
TEST(SerComm, RxCharWithoutComponentRxBufWithOne) {
    TPtyPair pty;
    TSerComm p;
    p.SetPortNum(pty.PortNum);
    int rxChar = 0, rxBuf = 0, announced = 0;
    auto main = std::this_thread::get_id();
    bool offMain = false;
    p.OnRxChar = [&](TSerCustomComm&, int n) {
        ++rxChar;
        announced = n;
        offMain |= std::this_thread::get_id() != main;
    };
    p.OnRxBuf = [&](TSerCustomComm&, const char*, int) { ++rxBuf; };
    p.Open();
    ASSERT_TRUE(pty.Send("12345"));
    ASSERT_TRUE(ProcessMessagesUntil([&] { return rxChar > 0; }, Patience));
    EXPECT_EQ(rxBuf, 0);
    EXPECT_FALSE(offMain);
    EXPECT_EQ(p.InQueCount(), announced);
    std::string s;
    p.ReadText(s);
    EXPECT_EQ(s.substr(0, size_t(announced)), std::string("12345").substr(0, size_t(announced)));

    TSerBuffer buffer;
    buffer.SetComm(&p);
    std::string got;
    p.OnRxBuf = [&](TSerCustomComm&, const char* b, int n) { got.append(b, size_t(n)); };
    rxChar = 0;
    ASSERT_TRUE(pty.Send("abc"));
    ASSERT_TRUE(ProcessMessagesUntil([&] { return got.size() >= 3; }, Patience));
    EXPECT_EQ(got, "abc");
    EXPECT_EQ(rxChar, 0);
    EXPECT_EQ(buffer.Count(), 3);
    // An inactive component takes nothing, but the port still reads for it.
    buffer.SetActive(false);
    ASSERT_TRUE(pty.Send("de"));
    ASSERT_TRUE(ProcessMessagesUntil([&] { return got.size() >= 5; }, Patience));
    EXPECT_EQ(buffer.Count(), 3);
}

TEST(SerComm, BytesArriveInOrderBothWays) {
    TPtyPair pty;
    TPortRig rig(pty);
    rig.Port.Open();
    std::string out = Pattern(10000, 1);
    for (size_t i = 0; i < out.size(); i += 1000)
        ASSERT_EQ(rig.Port.Write(out.data() + i, 1000), 1000);
    EXPECT_EQ(pty.Receive(out.size()), out);
    EXPECT_TRUE(rig.Port.WriteText("tail"));
    EXPECT_EQ(pty.Receive(4), "tail");
    ASSERT_TRUE(ProcessMessagesUntil([&] { return rig.TxEmpties > 0; }, Patience));

    std::string in = Pattern(200000, 2);
    bool sent = false;
    std::thread peer(
        [&] { sent = pty.Send(in); }); // more than the line holds: we must keep reading
    EXPECT_TRUE(rig.WaitReceived(in.size()));
    peer.join();
    EXPECT_TRUE(sent);
    EXPECT_EQ(rig.Received, in);
    EXPECT_EQ(rig.OffMain, 0);
}

TEST(SerComm, OneMebibyteBothDirectionsAtOnce) {
    TPtyPair pty;
    TPortRig rig(pty);
    rig.Port.Buffers().SetWriteSize(16384);
    rig.Port.Buffers().SetWriteTimeout(int32_t(Patience));
    rig.Port.Open();
    const size_t size = 1 << 20;
    std::string out = Pattern(size, 3), in = Pattern(size, 4), atPeer;
    bool sent = false;
    std::thread peerWriter([&] { sent = pty.Send(in, 120000); });
    std::thread peerReader([&] { atPeer = pty.Receive(size, 120000); });
    for (size_t i = 0; i < size; i += 4096) {
        ASSERT_EQ(rig.Port.Write(out.data() + i, 4096), 4096);
        ProcessMessages();
    }
    EXPECT_TRUE(ProcessMessagesUntil([&] { return rig.Received.size() >= size; }, 120000));
    peerWriter.join();
    peerReader.join();
    EXPECT_TRUE(sent);
    EXPECT_TRUE(atPeer == out);
    EXPECT_TRUE(rig.Received == in);
    EXPECT_EQ(rig.OffMain, 0);
    EXPECT_EQ(rig.Errors, 0);
}

// Output held back by flow control: the queue fills and the write gives up.
TEST(SerComm, QueuedWriteTimesOutWhenTheQueueStaysFull) {
    TPtyPair pty;
    TPortRig rig(pty);
    rig.Port.Buffers().SetWriteSize(64);
    rig.Port.Buffers().SetWriteTimeout(100);
    rig.Port.Open();
    ASSERT_EQ(tcflow(pty.Slave, TCOOFF), 0);
    std::string block = Pattern(64);
    // Exactly the queue's size into an empty queue: taken without waiting.
    EXPECT_EQ(rig.Port.Write(block.data(), 64), 64);
    EXPECT_EQ(ErrorOf([&] { rig.Port.Write("x", 1); }),
              "Output buffer is full. Please check comm status.");
    // More than the whole queue can never fit.
    std::string big = Pattern(65);
    rig.Port.Buffers().SetWriteTimeout(int32_t(Patience));
    EXPECT_EQ(ErrorOf([&] { rig.Port.Write(big.data(), 65); }),
              "Output buffer is full. Please check comm status.");
    ASSERT_EQ(tcflow(pty.Slave, TCOON), 0);
    EXPECT_EQ(pty.Receive(64), block);
}

// A block of the queue's full size waits for a queue that is not empty and
// goes in once it has drained.
TEST(SerComm, FullSizeWriteWaitsForTheQueueToDrain) {
    TPtyPair pty;
    TPortRig rig(pty);
    rig.Port.Buffers().SetWriteSize(64);
    rig.Port.Buffers().SetWriteTimeout(int32_t(Patience));
    rig.Port.Open();
    ASSERT_EQ(tcflow(pty.Slave, TCOOFF), 0);
    std::string a = Pattern(64, 5), b = Pattern(64, 6);
    ASSERT_EQ(rig.Port.Write(a.data(), 64), 64);
    std::thread release([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100)); // let the write begin waiting
        tcflow(pty.Slave, TCOON);
    });
    EXPECT_EQ(rig.Port.Write(b.data(), 64), 64);
    release.join();
    EXPECT_EQ(pty.Receive(128), a + b);
}

TEST(SerComm, DirectWriteTimesOutWithWhatWentOut) {
    TPtyPair pty;
    TPortRig rig(pty);
    rig.Port.SetDirectWrite(true);
    rig.Port.Buffers().SetWriteTimeout(50);
    rig.Port.Open();
    EXPECT_EQ(rig.Port.Write("direct", 6), 6);
    EXPECT_EQ(pty.Receive(6), "direct");
    ASSERT_TRUE(ProcessMessagesUntil([&] { return rig.TxEmpties > 0; }, Patience));
    ASSERT_EQ(tcflow(pty.Slave, TCOOFF), 0);
    EXPECT_EQ(rig.Port.Write("held", 4), 0);
    tcflow(pty.Slave, TCOON);
}

// The far end going away mid-transfer is one error event; then writes fail.
TEST(SerComm, FarEndClosedMidTransfer) {
    TPtyPair pty;
    TPortRig rig(pty);
    rig.Port.Buffers().SetWriteSize(65536);
    rig.Port.Open();
    std::string out = Pattern(60000);
    ASSERT_EQ(rig.Port.Write(out.data(), int(out.size())), int(out.size()));
    ASSERT_TRUE(pty.Send("partial"));
    ASSERT_TRUE(rig.WaitReceived(7));
    EXPECT_EQ(pty.Receive(1000).size(), 1000u);
    pty.CloseMaster();
    ASSERT_TRUE(ProcessMessagesUntil([&] { return rig.Errors > 0; }, Patience));
    EXPECT_EQ(rig.LastErrors, CE_IOE);
    // Both threads have seen the loss once they have nothing left to do.
    ProcessMessagesUntil([] { return false; }, 300);
    EXPECT_EQ(rig.Errors, 1);
    EXPECT_EQ(ErrorOf([&] { rig.Port.Write("x", 1); }), "Write error (5), Input/output error");
    EXPECT_EQ(rig.Port.InQueCount(), 0);
    uint32_t errors = 0;
    TSerialStatus st;
    rig.Port.GetStatus(errors, st);
    EXPECT_EQ(errors, CE_IOE);
    rig.Port.Close();
    EXPECT_EQ(rig.Closes, 1);
}

TEST(SerComm, CloseFromInsideItsOwnReceiveHandler) {
    TPtyPair pty;
    TPortRig rig(pty);
    int handled = 0;
    rig.Port.OnRxBuf = [&](TSerCustomComm& p, const char*, int) {
        ++handled;
        p.Close();
    };
    rig.Port.Open();
    ASSERT_TRUE(pty.Send("x"));
    ASSERT_TRUE(ProcessMessagesUntil([&] { return handled > 0; }, Patience));
    EXPECT_FALSE(rig.Port.IsOpen());
    EXPECT_EQ(rig.Closes, 1);
    // The port works again afterwards.
    rig.Port.OnRxBuf = [&](TSerCustomComm&, const char* b, int n) {
        rig.Received.append(b, size_t(n));
    };
    rig.Port.Open();
    ASSERT_TRUE(pty.Send("again"));
    ASSERT_TRUE(rig.WaitReceived(5));
    EXPECT_EQ(rig.Received, "again");
}

TEST(SerComm, CloseFromInsideTxEmptyAndFreeFromInsideRx) {
    TPtyPair pty;
    TPortRig rig(pty);
    rig.Port.OnTxEmpty = [&](TSerCustomComm& p) {
        ++rig.TxEmpties;
        p.Close();
    };
    rig.Port.Open();
    ASSERT_TRUE(rig.Port.WriteText("bye"));
    ASSERT_TRUE(ProcessMessagesUntil([&] { return rig.TxEmpties > 0; }, Patience));
    EXPECT_FALSE(rig.Port.IsOpen());

    auto port = std::make_unique<TSerComm>();
    port->SetPortNum(pty.PortNum);
    TSerBuffer buffer;
    buffer.SetComm(port.get());
    bool freed = false;
    port->OnRxBuf = [&](TSerCustomComm&, const char*, int) {
        freed = true; // before the handler itself goes with its port
        port.reset();
    };
    port->Open();
    ASSERT_TRUE(pty.Send("z"));
    ASSERT_TRUE(ProcessMessagesUntil([&] { return freed; }, Patience));
    EXPECT_EQ(buffer.Comm(), nullptr);
}

// A handler's exception reaches the main loop without leaving the port's thread stuck.
TEST(SerComm, HandlerExceptionSurfacesOnTheMainThread) {
    TPtyPair pty;
    TPortRig rig(pty);
    rig.Port.OnRxBuf = [](TSerCustomComm&, const char*, int) { throw Exception("handler failed"); };
    rig.Port.Open();
    ASSERT_TRUE(pty.Send("x"));
    std::string caught;
    for (int i = 0; i < 1000 && caught.empty(); ++i) {
        try {
            ProcessMessagesUntil([] { return false; }, 30);
        } catch (const Exception& e) {
            caught = e.what();
        }
    }
    EXPECT_EQ(caught, "handler failed");
    rig.Port.OnRxBuf = [&](TSerCustomComm&, const char* b, int n) {
        rig.Received.append(b, size_t(n));
    };
    ASSERT_TRUE(pty.Send("ok"));
    ASSERT_TRUE(rig.WaitReceived(2));
    rig.Port.Close();
}

// Closing while a thread waits for the main thread, which is not pumping.
TEST(SerComm, CloseWhileEventsWaitForTheMainThread) {
    TPtyPair pty;
    TPortRig rig(pty);
    rig.Port.Open();
    ASSERT_TRUE(pty.Send("pending"));
    ASSERT_TRUE(rig.Port.WriteText("out"));
    EXPECT_EQ(pty.Receive(3), "out");
    rig.Port.Close();
    ProcessMessages(); // calls left behind must not touch the closed port
    EXPECT_EQ(rig.Received, "");
    EXPECT_EQ(rig.TxEmpties, 0);
}

namespace {

// The line as another program left it: canonical, echoing, with flow
// control and parity checking on.
struct termios UsedLine(int fd) {
    struct termios tio;
    tcgetattr(fd, &tio);
    tio.c_iflag = ICRNL | IXON | IXOFF | IXANY | INPCK | ISTRIP;
    tio.c_oflag = OPOST | ONLCR;
    tio.c_lflag = ICANON | ECHO | ISIG | IEXTEN;
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 7;
    tio.c_cc[VSTART] = 'q';
    cfsetispeed(&tio, B2400);
    cfsetospeed(&tio, B2400);
    tcsetattr(fd, TCSANOW, &tio);
    tcgetattr(fd, &tio);
    return tio;
}

void ExpectSameLine(const struct termios& a, const struct termios& b, const char* what) {
    EXPECT_EQ(a.c_iflag, b.c_iflag) << what;
    EXPECT_EQ(a.c_oflag, b.c_oflag) << what;
    EXPECT_EQ(a.c_cflag, b.c_cflag) << what;
    EXPECT_EQ(a.c_lflag, b.c_lflag) << what;
    EXPECT_EQ(cfgetospeed(&a), cfgetospeed(&b)) << what;
    for (int i = 0; i < NCCS; ++i) EXPECT_EQ(a.c_cc[i], b.c_cc[i]) << what << " c_cc " << i;
}

} // namespace

// The next reader of the line must not find our raw, non-waiting settings
// (VMIN 0 reads as end of file to a blocking reader).
TEST(SerComm, ClosingPutsTheLineBackAsItWas) {
    TPtyPair pty;
    struct Case {
        const char* What;
        std::function<void(TSerComm&)> Run;
    };
    for (auto& c : std::initializer_list<Case>{
             {"open and close",
              [](TSerComm& p) {
                  p.SetBaudrate(br115200);
                  p.FlowControl().SetXonXoffIn(true);
                  p.Open();
                  p.SetParity(paEven);
                  p.Close();
              }},
             {"line refused at open",
              [](TSerComm& p) {
                  p.SetDatabits(db4);
                  EXPECT_NE(ErrorOf([&] { p.Open(); }), "(no error)");
              }},
             {"freed while open", [](TSerComm& p) { p.Open(); }},
         }) {
        const struct termios before = UsedLine(pty.Slave);
        {
            TSerComm p;
            p.SetPortNum(pty.PortNum);
            c.Run(p);
        }
        struct termios after;
        tcgetattr(pty.Slave, &after);
        ExpectSameLine(before, after, c.What);
    }
}

// Whatever was set on the line before, by an earlier setting or another
// program, the line carries only what the properties ask for now.
TEST(SerComm, LineFlagsComeFromThePropertiesAlone) {
    TPtyPair pty;
    struct Case {
        const char* What;
        std::function<void(TSerComm&)> On, Off;
        tcflag_t Flag;
    };
    for (auto& c : std::initializer_list<Case>{
             {"XON/XOFF input by setter", [](TSerComm& p) { p.FlowControl().SetXonXoffIn(true); },
              [](TSerComm& p) { p.FlowControl().SetXonXoffIn(false); }, IXOFF},
             {"XON/XOFF input by assigning the defaults",
              [](TSerComm& p) { p.FlowControl().SetXonXoffIn(true); },
              [](TSerComm& p) { p.SetFlowControl(TSerFlowControl()); }, IXOFF},
             {"XON/XOFF output by setter", [](TSerComm& p) { p.FlowControl().SetXonXoffOut(true); },
              [](TSerComm& p) { p.FlowControl().SetXonXoffOut(false); }, IXON},
             {"parity checking", [](TSerComm& p) { p.SetOptions({coParityCheck}); },
              [](TSerComm& p) { p.SetOptions({}); }, INPCK},
         }) {
        UsedLine(pty.Slave);
        TSerComm p;
        p.SetPortNum(pty.PortNum);
        p.Open(); // a fresh port on a used line
        struct termios tio;
        tcgetattr(pty.Slave, &tio);
        EXPECT_EQ(tio.c_iflag, 0u) << c.What;
        EXPECT_EQ(tio.c_oflag, 0u) << c.What;
        EXPECT_EQ(tio.c_lflag, 0u) << c.What;
        EXPECT_EQ(tio.c_cc[VMIN], 0) << c.What;
        c.On(p);
        tcgetattr(pty.Slave, &tio);
        EXPECT_EQ(tio.c_iflag & c.Flag, c.Flag) << c.What;
        c.Off(p);
        tcgetattr(pty.Slave, &tio);
        EXPECT_EQ(tio.c_iflag & c.Flag, 0u) << c.What;
        // Not even after the line is opened again.
        p.Close();
        UsedLine(pty.Slave);
        p.Open();
        tcgetattr(pty.Slave, &tio);
        EXPECT_EQ(tio.c_iflag & c.Flag, 0u) << c.What;
    }
}

// The event thread goes on reading while the main thread is busy, and the
// main thread then takes what came in a few calls, not one per read.
TEST(SerComm, ReceivingGoesOnWhileTheMainThreadIsBusy) {
    TPtyPair pty;
    TPortRig rig(pty);
    int calls = 0;
    rig.Port.OnRxBuf = [&](TSerCustomComm&, const char* b, int n) {
        ++calls;
        rig.Received.append(b, size_t(n));
    };
    rig.Port.Open();
    // Several times what the line itself holds, sent with nobody pumping.
    const std::string in = Pattern(200000, 9);
    ASSERT_TRUE(pty.Send(in, 10000));
    for (uint32_t i = 0; i < Patience && rig.Port.InQueCount() < int(in.size()); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_EQ(rig.Port.InQueCount(), int(in.size()));
    EXPECT_EQ(rig.Received, "");
    ASSERT_TRUE(rig.WaitReceived(in.size()));
    EXPECT_TRUE(rig.Received == in);
    EXPECT_LE(calls, 3);
}

// A flood several times the read-ahead block, taken by a handler in small
// reads of its own while the port's thread keeps filling the block, and then
// in whole batches: every byte once, in order.
TEST(SerComm, FloodTakenInSmallReadsAndInBatches) {
    TPtyPair pty;
    TSerComm p;
    p.SetPortNum(pty.PortNum);
    std::string got;
    p.OnRxChar = [&](TSerCustomComm& c, int) {
        char piece[777];
        for (int k; (k = c.Read(piece, sizeof piece)) > 0;) got.append(piece, size_t(k));
    };
    p.Open();
    const std::string in = Pattern(5 << 20, 12);
    bool sent = false;
    std::thread peer([&] { sent = pty.Send(in, 120000); });
    EXPECT_TRUE(ProcessMessagesUntil([&] { return got.size() >= in.size(); }, 120000));
    peer.join();
    EXPECT_TRUE(sent);
    EXPECT_EQ(got.size(), in.size());
    EXPECT_TRUE(got == in);

    got.clear();
    TSerBuffer buffer;
    buffer.SetComm(&p);
    p.OnRxBuf = [&](TSerCustomComm&, const char* b, int n) { got.append(b, size_t(n)); };
    std::thread again([&] { sent = pty.Send(in, 120000); });
    EXPECT_TRUE(ProcessMessagesUntil([&] { return got.size() >= in.size(); }, 120000));
    again.join();
    EXPECT_TRUE(sent);
    EXPECT_EQ(got.size(), in.size());
    EXPECT_TRUE(got == in);
}

// The bytes a handler is given stay as they were while it reads more from
// the port itself and more keep coming behind them.
TEST(SerComm, BytesInTheHandsOfAHandlerStayPut) {
    TPtyPair pty;
    TPortRig rig(pty);
    const std::string first = Pattern(1000, 21), second = Pattern(3000, 22),
                      third = Pattern(3000, 23);
    std::string given, seenLater, readInside;
    // Until the port holds Count bytes, device and read-ahead together, and
    // a little longer for its thread to take them from the device.
    auto waitQueued = [&](int count) {
        for (uint32_t i = 0; i < Patience && rig.Port.InQueCount() < count; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    };
    int calls = 0;
    rig.Port.OnRxBuf = [&](TSerCustomComm& c, const char* b, int n) {
        if (++calls > 1) {
            rig.Received.append(b, size_t(n));
            return;
        }
        given.assign(b, size_t(n));
        EXPECT_TRUE(pty.Send(second));
        waitQueued(int(second.size()));
        char piece[16384];
        for (int k; (k = c.Read(piece, sizeof piece)) > 0;) readInside.append(piece, size_t(k));
        EXPECT_TRUE(pty.Send(third));
        waitQueued(int(third.size()));
        seenLater.assign(b, size_t(n));
    };
    rig.Port.Open();
    ASSERT_TRUE(pty.Send(first));
    const std::string all = first + second + third;
    ASSERT_TRUE(ProcessMessagesUntil(
        [&] { return given.size() + readInside.size() + rig.Received.size() >= all.size(); },
        Patience));
    EXPECT_TRUE(seenLater == given);
    EXPECT_TRUE(given + readInside + rig.Received == all);
}

// A receive handler that lets the loop run (as a packet decode does between
// blocks) is not entered again from inside itself; what arrives meanwhile
// follows once it has returned, in order.
TEST(SerComm, ReceiveHandlerThatPumpsIsNotReentered) {
    TPtyPair pty;
    TPortRig rig(pty);
    int depth = 0, deepest = 0, calls = 0;
    const std::string in = Pattern(50000, 11);
    rig.Port.OnRxBuf = [&](TSerCustomComm&, const char* b, int n) {
        deepest = std::max(deepest, ++depth);
        rig.Received.append(b, size_t(n));
        if (++calls == 1) {
            EXPECT_TRUE(pty.Send(in.substr(1)));
            // Long enough for the rest to be read and announced.
            ProcessMessagesUntil([&] { return rig.Port.InQueCount() >= int(in.size()) - n; },
                                 Patience);
            ProcessMessages();
        }
        --depth;
    };
    rig.Port.Open();
    ASSERT_TRUE(pty.Send(in.substr(0, 1)));
    ASSERT_TRUE(rig.WaitReceived(in.size()));
    EXPECT_TRUE(rig.Received == in);
    EXPECT_EQ(deepest, 1);
}

// A handler that waits for an answer reads it from the port itself, as the
// modem dialogue does, even while the port's thread waits for that handler.
TEST(SerComm, HandlerReadsTheAnswerItWaitsFor) {
    TPtyPair pty;
    TPortRig rig(pty);
    rig.Port.SetDirectWrite(true); // "queue empty" then comes from the event thread
    std::string answer;
    rig.Port.OnTxEmpty = [&](TSerCustomComm& p) {
        if (++rig.TxEmpties > 1) return;
        EXPECT_TRUE(pty.Send("OK\r\n"));
        ProcessMessagesUntil(
            [&] {
                std::string s;
                p.ReadText(s);
                answer += s;
                return answer.size() >= 4;
            },
            5000);
    };
    rig.Port.Open();
    ASSERT_TRUE(rig.Port.WriteText("AT\r"));
    EXPECT_EQ(pty.Receive(3), "AT\r");
    ASSERT_TRUE(ProcessMessagesUntil([&] { return rig.TxEmpties > 0; }, Patience));
    EXPECT_EQ(answer, "OK\r\n");
    EXPECT_EQ(rig.Received, "");
}

// Received bytes as the options keep them: NULs stripped, and a 0xFF that
// the line marks bad bytes with comes through as the one byte it was.
TEST(SerComm, NullStripAndErrorCharOptions) {
    TPtyPair pty;
    struct Case {
        TSerCommOptions Options;
        std::string In, Out;
    };
    for (const auto& c : std::initializer_list<Case>{
             {{coNullStrip}, std::string("a\0b\0\0", 5), "ab"},
             {{coErrorChar},
              std::string("a\0\xFF"
                          "b",
                          4),
              std::string("a\0\xFF"
                          "b",
                          4)},
             {{coErrorChar, coNullStrip, coParityCheck},
              std::string("\0\xFF\xFF\0", 4),
              "\xFF\xFF"},
         }) {
        TPortRig rig(pty);
        rig.Port.EventChars().SetErrorChar('?');
        rig.Port.SetOptions(c.Options);
        rig.Port.Open();
        ASSERT_TRUE(pty.Send(c.In + "."));
        ASSERT_TRUE(rig.WaitReceived(c.Out.size() + 1));
        EXPECT_EQ(rig.Received, c.Out + ".");
    }
}

// Writing holds while DSR is low, queued or direct, and goes on once it rises.
TEST(SerComm, DsrOutputFlowHoldsWritingWhileDsrIsLow) {
    TPtyPair pty;
    for (bool direct : {false, true}) {
        SCOPED_TRACE(direct ? "direct" : "queued");
        auto lines = std::make_shared<TFakeLines>();
        TPortRig rig(pty);
        rig.Port.Device().SetLines(lines);
        rig.Port.SetDirectWrite(direct);
        rig.Port.Buffers().SetWriteTimeout(direct ? 50 : int32_t(Patience));
        rig.Port.FlowControl().SetOutDsrFlow(true);
        rig.Port.Open();
        lines->SetInput(LineDsr, false);
        if (direct) {
            EXPECT_EQ(rig.Port.Write("held", 4), 0);
        } else {
            ASSERT_EQ(rig.Port.Write("held", 4), 4);
            int seen = lines->Looks; // the write thread finds DSR low, and again
            ASSERT_TRUE(WaitUntil([&] { return lines->Looks >= seen + 3; }));
        }
        EXPECT_EQ(pty.Receive(4, 0), "");
        lines->SetInput(LineDsr, true);
        if (direct) {
            ASSERT_EQ(rig.Port.Write("sent", 4), 4);
        }
        EXPECT_EQ(pty.Receive(4), direct ? "sent" : "held");
    }
}

TEST(SerComm, DsrSensitivityDropsWhatArrivesWhileDsrIsLow) {
    TPtyPair pty;
    auto lines = std::make_shared<TFakeLines>();
    TPortRig rig(pty);
    rig.Port.Device().SetLines(lines);
    rig.Port.FlowControl().SetDsrSensitivity(true);
    rig.Port.Open();
    lines->SetInput(LineDsr, false);
    int seen = lines->Looks;
    ASSERT_TRUE(pty.Send("lost"));
    // Read, looked at DSR for, and gone.
    ASSERT_TRUE(WaitUntil([&] { return lines->Looks > seen && rig.Port.InQueCount() == 0; }));
    lines->SetInput(LineDsr, true);
    ASSERT_TRUE(pty.Send("kept"));
    ASSERT_TRUE(rig.WaitReceived(4));
    EXPECT_EQ(rig.Received, "kept");
}

// DTR or RTS in handshake drops when the unread bytes reach the read size
// less the XOFF limit, and rises once the owner has taken them; the other
// line stays as it is set.
TEST(SerComm, HandshakeLineFollowsTheUnreadBytes) {
    TPtyPair pty;
    struct Case {
        TSerControlDtr Dtr;
        TSerControlRts Rts;
        int Line, Other;
    };
    for (auto c : {Case{dtrHandshake, rtsEnabled, LineDtr, LineRts},
                   Case{dtrEnabled, rtsHandshake, LineRts, LineDtr}}) {
        SCOPED_TRACE(c.Line == LineDtr ? "DTR" : "RTS");
        auto lines = std::make_shared<TFakeLines>();
        TPortRig rig(pty);
        rig.Port.Device().SetLines(lines);
        rig.Port.Buffers().SetReadSize(100);
        rig.Port.Buffers().SetXoffLimit(40);
        rig.Port.Buffers().SetXonLimit(20);
        rig.Port.FlowControl().SetControlDtr(c.Dtr);
        rig.Port.FlowControl().SetControlRts(c.Rts);
        rig.Port.Open();
        EXPECT_TRUE(lines->Output(c.Line));
        const std::string in = Pattern(59, 31), more = Pattern(21, 32);
        ASSERT_TRUE(pty.Send(in)); // nobody takes them: they pile up
        ASSERT_TRUE(WaitUntil([&] { return rig.Port.InQueCount() == 59; }));
        EXPECT_TRUE(lines->Output(c.Line));
        ASSERT_TRUE(pty.Send(more));
        ASSERT_TRUE(WaitUntil([&] { return !lines->Output(c.Line); }));
        EXPECT_TRUE(lines->Output(c.Other));
        ASSERT_TRUE(rig.WaitReceived(80));
        EXPECT_TRUE(lines->Output(c.Line));
        EXPECT_TRUE(rig.Received == in + more);
    }
}

// CTS output flow and the RTS setting are each as set: output waits on CTS
// only with CTS output flow, and RTS stands as its own setting has it.
TEST(SerComm, CtsOutputFlowAndRtsAreSetApart) {
    TPtyPair pty;
    struct Case {
        bool CtsFlow;
        TSerControlRts Rts;
        bool RtsUp;
    };
    for (auto c : {Case{false, rtsHandshake, true}, Case{true, rtsDisabled, false},
                   Case{true, rtsEnabled, true}}) {
        SCOPED_TRACE(std::to_string(c.CtsFlow) + " " + std::to_string(c.Rts));
        auto lines = std::make_shared<TFakeLines>();
        TPortRig rig(pty);
        rig.Port.Device().SetLines(lines);
        rig.Port.Buffers().SetWriteTimeout(int32_t(Patience));
        rig.Port.FlowControl().SetOutCtsFlow(c.CtsFlow);
        rig.Port.FlowControl().SetControlRts(c.Rts);
        rig.Port.Open();
        EXPECT_EQ(lines->Output(LineRts), c.RtsUp);
        lines->SetInput(LineCts, false);
        ASSERT_EQ(rig.Port.Write("data", 4), 4);
        if (c.CtsFlow) {
            int seen = lines->Looks; // the write thread finds CTS low, and again
            ASSERT_TRUE(WaitUntil([&] { return lines->Looks >= seen + 3; }));
            EXPECT_EQ(pty.Receive(4, 0), "");
            lines->SetInput(LineCts, true);
        }
        EXPECT_EQ(pty.Receive(4), "data");
        EXPECT_EQ(lines->Output(LineRts), c.RtsUp);
    }
}

// The kernel takes NUL for "no flow character": a NUL XON or XOFF is
// refused and the character stays as it was, open port or not; the other
// characters may be NUL.
TEST(SerComm, NulFlowCharactersAreRefused) {
    TPtyPair pty;
    const std::string refused = "XON and XOFF characters can't be NUL";
    for (bool open : {false, true}) {
        SCOPED_TRACE(open ? "open" : "closed");
        TSerComm p;
        p.SetPortNum(pty.PortNum);
        p.FlowControl().SetXonXoffIn(true);
        p.FlowControl().SetXonXoffOut(true);
        if (open) p.Open();
        EXPECT_EQ(ErrorOf([&] { p.EventChars().SetXonChar(0); }), refused);
        EXPECT_EQ(ErrorOf([&] { p.EventChars().SetXoffChar(0); }), refused);
        EXPECT_EQ(p.EventChars().XonChar(), 0x11);
        EXPECT_EQ(p.EventChars().XoffChar(), 0x13);
        p.EventChars().SetEventChar('E');
        for (int i = 3; i <= 5; ++i) p.EventChars().SetChar(i, 0);
        EXPECT_EQ(p.EventChars().EventChar(), 0);
        if (!open) p.Open();
        struct termios tio;
        tcgetattr(pty.Slave, &tio);
        EXPECT_EQ(tio.c_cc[VSTART], 0x11);
        EXPECT_EQ(tio.c_cc[VSTOP], 0x13);
    }
}

// A port forgets the control it is shown in when that control is freed;
// a port freed first, or shown elsewhere, is not told.
TEST(SerComm, DisplayIsForgottenWhenItIsFreed) {
    TSerComm a, b;
    EXPECT_EQ(a.Display(), nullptr);
    auto shown = std::make_unique<TSerDisplay>(), other = std::make_unique<TSerDisplay>();
    a.SetDisplay(shown.get());
    b.SetDisplay(shown.get());
    {
        TSerComm gone;
        gone.SetDisplay(shown.get());
    }
    b.SetDisplay(other.get());
    EXPECT_EQ(a.Display(), shown.get());
    shown.reset();
    EXPECT_EQ(a.Display(), nullptr);
    EXPECT_EQ(b.Display(), other.get());
    other.reset();
    EXPECT_EQ(b.Display(), nullptr);
}

// XON/XOFF input flow by the same limits: XOFF goes out when the unread
// bytes reach the read size less the XOFF limit, XON once the owner has
// taken them. Our own output waits for our XON unless it is to go on.
TEST(SerComm, XonXoffInputFollowsTheUnreadBytes) {
    TPtyPair pty;
    for (bool goOn : {false, true}) {
        SCOPED_TRACE(goOn ? "output goes on" : "output waits");
        TPortRig rig(pty);
        rig.Port.Buffers().SetReadSize(100);
        rig.Port.Buffers().SetXoffLimit(40);
        rig.Port.Buffers().SetXonLimit(20);
        rig.Port.FlowControl().SetXonXoffIn(true);
        rig.Port.FlowControl().SetTxContinueOnXoff(goOn);
        rig.Port.Open();
        const std::string in = Pattern(59, 31), more = Pattern(21, 32);
        ASSERT_TRUE(pty.Send(in)); // nobody takes them: they pile up
        ASSERT_TRUE(WaitUntil([&] { return rig.Port.InQueCount() == 59; }));
        EXPECT_EQ(pty.Receive(1, 0), "");
        ASSERT_TRUE(pty.Send(more));
        EXPECT_EQ(pty.Receive(1), "\x13");
        ASSERT_TRUE(rig.Port.WriteText("out"));
        if (goOn)
            EXPECT_EQ(pty.Receive(3), "out");
        else
            EXPECT_EQ(pty.Receive(3, 200), "");
        ASSERT_TRUE(rig.WaitReceived(80));
        // Held output and our XON go out together, in either order.
        std::string after = pty.Receive(goOn ? 1 : 4);
        std::sort(after.begin(), after.end());
        EXPECT_EQ(after, goOn ? "\x11" : "\x11otu");
        EXPECT_TRUE(rig.Received == in + more);
    }
}

// The event character fires OnRxFlag when it arrives, whether or not
// received bytes are announced too.
TEST(SerComm, EventCharacterFiresRxFlag) {
    TPtyPair pty;
    for (TSerCommEvents events : {TSerCommEvents{ceRxChar, ceRxFlag}, TSerCommEvents{ceRxFlag}}) {
        TPortRig rig(pty);
        rig.Port.SetMonitorEvents(events);
        rig.Port.EventChars().SetEventChar('\r');
        int flags = 0;
        rig.Port.OnRxFlag = [&](TSerCustomComm&) { ++flags; };
        rig.Port.Open();
        ASSERT_TRUE(pty.Send("no flag"));
        ASSERT_TRUE(ProcessMessagesUntil(
            [&] { return rig.Received.size() == 7 || rig.Port.InQueCount() == 7; }, Patience));
        ProcessMessages();
        EXPECT_EQ(flags, 0);
        ASSERT_TRUE(pty.Send("flag\r"));
        EXPECT_TRUE(ProcessMessagesUntil([&] { return flags == 1; }, Patience));
    }
}

// RTS toggled by the driver where it can, else raised around each write.
TEST(SerComm, RtsToggleByTheDriverOrAroundEachWrite) {
    TPtyPair pty;
    for (bool driver : {true, false}) {
        SCOPED_TRACE(driver ? "driver" : "writes");
        auto lines = std::make_shared<TFakeLines>(driver);
        TPortRig rig(pty);
        rig.Port.Device().SetLines(lines);
        rig.Port.FlowControl().SetControlRts(rtsToggle);
        rig.Port.Open();
        EXPECT_EQ(lines->RtsOnSend, driver);
        EXPECT_FALSE(lines->Output(LineRts));
        size_t before = lines->History().size();
        ASSERT_TRUE(rig.Port.WriteText("abc"));
        EXPECT_EQ(pty.Receive(3), "abc");
        ASSERT_TRUE(ProcessMessagesUntil([&] { return rig.TxEmpties > 0; }, Patience));
        std::vector<int> driven = lines->History();
        driven.erase(driven.begin(), driven.begin() + ptrdiff_t(before));
        const std::vector<int> expected =
            driver ? std::vector<int>{} : std::vector<int>{LineRts, 0};
        EXPECT_EQ(driven, expected);
        rig.Port.Close();
        EXPECT_FALSE(lines->RtsOnSend); // the line as it was for its next user
    }
}

// Changes of the lines the port watches become its events.
TEST(SerComm, ModemLineChangesAreEvents) {
    TPtyPair pty;
    auto lines = std::make_shared<TFakeLines>();
    TPortRig rig(pty);
    rig.Port.Device().SetLines(lines);
    rig.Port.SetMonitorEvents({ceCts, ceDsr, ceRlsd});
    int cts = 0, dsr = 0, rlsd = 0;
    rig.Port.OnCts = [&](TSerCustomComm&) { ++cts; };
    rig.Port.OnDsr = [&](TSerCustomComm&) { ++dsr; };
    rig.Port.OnRlsd = [&](TSerCustomComm&) { ++rlsd; };
    int seen = lines->Looks;
    rig.Port.Open();
    // The lines as the port's thread first finds them are no change.
    ASSERT_TRUE(WaitUntil([&] { return lines->Looks > seen + 1; }));
    struct Case {
        int Line;
        int* Count;
    };
    for (auto c : {Case{LineCts, &cts}, Case{LineDsr, &dsr}, Case{LineDcd, &rlsd}}) {
        int before = cts + dsr + rlsd;
        lines->SetInput(c.Line, false);
        ASSERT_TRUE(ProcessMessagesUntil([&] { return *c.Count == 1; }, Patience)) << c.Line;
        EXPECT_EQ(cts + dsr + rlsd, before + 1) << c.Line;
    }
}
