// The serial device layer on a pseudo-terminal.

#include "platform/SerialDevice.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <sys/resource.h>

#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/FakeSerialLines.h"
#include "platform/PtyPair.h"

using namespace nuq;
using nuqtest::TFakeLines;
using nuqtest::TPtyPair;

namespace {

struct TEnvDir {
    explicit TEnvDir(const char* dir) {
        if (dir)
            setenv("NUQ_PORT_DIR", dir, 1);
        else
            unsetenv("NUQ_PORT_DIR");
    }
    ~TEnvDir() { unsetenv("NUQ_PORT_DIR"); }
};

} // namespace

TEST(SerialName, ComNumbersWithoutPortFolder) {
    TEnvDir env(nullptr);
    struct Case {
        const char* In;
        const char* Out;
    };
    for (auto c :
         {Case{"COM1", "/dev/ttyS0"}, Case{"\\\\.\\COM12", "/dev/ttyS11"},
          Case{"com2", "/dev/ttyS1"}, Case{"COM0", ""}, Case{"COM", "COM"}, Case{"COM3x", "COM3x"},
          Case{"COM99999999999", ""}, Case{"/dev/ttyUSB0", "/dev/ttyUSB0"}})
        EXPECT_EQ(ResolveSerialName(c.In), c.Out) << c.In;
}

TEST(SerialName, PortFolderHoldsTheLinkOrNot) {
    TPtyPair pty(4);
    EXPECT_EQ(ResolveSerialName("COM4"), pty.Link);
    EXPECT_EQ(ResolveSerialName("\\\\.\\COM4"), pty.Link);
    // Not in the folder: the standard device.
    EXPECT_EQ(ResolveSerialName("COM5"), "/dev/ttyS4");
    setenv("NUQ_PORT_DIR", "", 1);
    EXPECT_EQ(ResolveSerialName("COM4"), "/dev/ttyS3");
}

TEST(SerialDevice, OpenFailuresSayWhy) {
    TPtyPair pty(3);
    TSerialDevice d;
    EXPECT_FALSE(d.Open("COM0"));
    EXPECT_EQ(errno, ENOENT);
    EXPECT_FALSE(d.Open(pty.Dir + "/nothing"));
    EXPECT_EQ(errno, ENOENT);
    std::string file = pty.Dir + "/plain";
    std::ofstream(file) << "x";
    EXPECT_FALSE(d.Open(file));
    EXPECT_EQ(errno, ENOTTY);
    unlink(file.c_str());

    ASSERT_TRUE(d.Open("COM3"));
    TSerialDevice second;
    EXPECT_FALSE(second.Open("COM3"));
    EXPECT_EQ(errno, EBUSY);
    d.Close();
    EXPECT_TRUE(second.Open("COM3")); // the lock went with the first
    EXPECT_FALSE(d.IsOpen());
}

// What a failed call tells its caller: a device no name leads to, one that
// hung up, or the system's other reason, always with the system's number.
TEST(SerialDevice, FailuresTellWhatWentWrong) {
    TPtyPair pty(3);
    const std::string file = pty.Dir + "/plain";
    std::ofstream(file) << "x";
    TSerialDevice d, hungUp;
    ASSERT_TRUE(hungUp.Open("COM3"));
    pty.CloseMaster();
    char byte = 'x';
    using K = TSerialError::TKind;
    struct Case {
        const char* What;
        std::function<bool()> Fails;
        K Kind;
        int Code;
    };
    for (const auto& c : std::initializer_list<Case>{
             {"no such port number", [&] { return !d.Open("COM0"); }, K::NotFound, ENOENT},
             {"no such path", [&] { return !d.Open(pty.Dir + "/nothing"); }, K::NotFound, ENOENT},
             {"not a terminal", [&] { return !d.Open(file); }, K::Other, ENOTTY},
             {"write after hang-up", [&] { return hungUp.Write(&byte, 1) < 0; }, K::Lost, EIO},
             {"queue after hang-up", [&] { return hungUp.InQueue() < 0; }, K::Lost, EIO}}) {
        SCOPED_TRACE(c.What);
        ASSERT_TRUE(c.Fails());
        const TSerialError e = LastSerialError();
        EXPECT_EQ(e.Kind, c.Kind);
        EXPECT_EQ(e.Code, c.Code);
    }
    unlink(file.c_str());
}

TEST(SerialDevice, ConfigureLineSettings) {
    TPtyPair pty;
    TSerialDevice d;
    ASSERT_TRUE(d.Open("COM7"));
    struct Case {
        uint32_t Baud;
        int Bits, Stop;
        TSerialParity Parity;
        tcflag_t Expect; // cflag bits that must be set
        int Error;       // 0 for success
    };
    // The frame asked for; a pseudo-terminal itself always stands at eight bits, no parity.
    for (auto c : {Case{9600, 8, 0, TSerialParity::None, CS8, 0},
                   Case{110, 7, 2, TSerialParity::Even, CS7 | CSTOPB | PARENB, 0},
                   Case{115200, 8, 0, TSerialParity::Odd, CS8 | PARENB | PARODD, 0},
                   Case{19200, 8, 0, TSerialParity::Mark, CS8 | PARENB | PARODD | CMSPAR, 0},
                   Case{19200, 6, 0, TSerialParity::Space, CS6 | PARENB | CMSPAR, 0},
                   Case{14400, 8, 0, TSerialParity::None, CS8, 0},
                   Case{56000, 8, 0, TSerialParity::None, CS8, 0},
                   Case{128000, 8, 0, TSerialParity::None, CS8, 0},
                   Case{256000, 8, 0, TSerialParity::None, CS8, 0},
                   Case{1200, 5, 1, TSerialParity::None, CS5 | CSTOPB, 0},
                   Case{1200, 8, 1, TSerialParity::None, 0, EINVAL},
                   Case{1200, 4, 0, TSerialParity::None, 0, EINVAL},
                   Case{0, 8, 0, TSerialParity::None, 0, EINVAL}}) {
        TSerialSettings s;
        s.Baudrate = c.Baud;
        s.DataBits = c.Bits;
        s.StopBits = c.Stop;
        s.Parity = c.Parity;
        bool ok = d.Configure(s);
        int e = errno;
        SCOPED_TRACE(c.Baud);
        if (c.Error) {
            EXPECT_FALSE(ok);
            EXPECT_EQ(e, c.Error);
            continue;
        }
        ASSERT_TRUE(ok) << SysErrorText(e);
        uint32_t framing = 0;
        ASSERT_TRUE(SerialFramingFlags(s, framing));
        EXPECT_EQ(framing, c.Expect);
        struct termios tio;
        ASSERT_EQ(tcgetattr(pty.Slave, &tio), 0);
        EXPECT_EQ(tio.c_lflag & (ICANON | ECHO), 0u); // raw
    }
    struct termios tio;
    TSerialSettings s;
    s.Baudrate = 57600;
    ASSERT_TRUE(d.Configure(s));
    tcgetattr(pty.Slave, &tio);
    EXPECT_EQ(cfgetospeed(&tio), speed_t(B57600));
}

TEST(SerialDevice, FlowControlWhereTheLineHasIt) {
    TPtyPair pty;
    TSerialDevice d;
    ASSERT_TRUE(d.Open("COM7"));
    // A pseudo-terminal has no modem lines, hence no CTS to follow.
    EXPECT_FALSE(d.HasModemLines());
    uint32_t status = 1;
    EXPECT_FALSE(d.GetModemStatus(status));
    EXPECT_EQ(status, 0u);
    struct Case {
        void (*Set)(TSerialSettings&);
        int Error;
        const char* Refused; // the mode named for want of modem lines
    };
    for (auto c :
         {Case{[](TSerialSettings& s) { s.OutCtsFlow = true; }, EOPNOTSUPP, "CTS output flow"},
          Case{[](TSerialSettings& s) { s.Rts = TSerialLineControl::Handshake; }, EOPNOTSUPP,
               "RTS handshake"},
          Case{[](TSerialSettings& s) { s.Rts = TSerialLineControl::Toggle; }, EOPNOTSUPP,
               "RTS toggle"},
          Case{[](TSerialSettings& s) { s.OutDsrFlow = true; }, EOPNOTSUPP, "DSR output flow"},
          Case{[](TSerialSettings& s) { s.DsrSensitivity = true; }, EOPNOTSUPP, "DSR sensitivity"},
          Case{[](TSerialSettings& s) { s.Dtr = TSerialLineControl::Handshake; }, EOPNOTSUPP,
               "DTR handshake"},
          Case{[](TSerialSettings& s) { s.Dtr = TSerialLineControl::Toggle; }, EINVAL, nullptr},
          // Done by the port itself, whatever the line.
          Case{[](TSerialSettings& s) { s.NullStrip = true; }, 0, nullptr},
          Case{[](TSerialSettings& s) { s.ReplaceErrors = true; }, 0, nullptr},
          // Lines a device lacks are simply not driven.
          Case{[](TSerialSettings& s) {
                   s.Dtr = TSerialLineControl::Enabled;
                   s.Rts = TSerialLineControl::Enabled;
               },
               0, nullptr},
          Case{[](TSerialSettings& s) { s.XonXoffIn = s.XonXoffOut = true; }, 0, nullptr}}) {
        TSerialSettings s;
        c.Set(s);
        bool ok = d.Configure(s);
        if (c.Error) {
            EXPECT_FALSE(ok);
            EXPECT_EQ(errno, c.Error);
        } else {
            EXPECT_TRUE(ok) << SysErrorText(errno);
        }
        EXPECT_STREQ(d.Refused(), c.Refused);
    }
    TSerialSettings s;
    s.XonXoffIn = true;
    s.XonXoffOut = true;
    s.XonChar = 'Q';
    s.XoffChar = 'S';
    ASSERT_TRUE(d.Configure(s));
    struct termios tio;
    tcgetattr(pty.Slave, &tio);
    EXPECT_EQ(tio.c_iflag & (IXON | IXOFF), tcflag_t(IXON | IXOFF));
    EXPECT_EQ(tio.c_cc[VSTART], 'Q');
    EXPECT_EQ(tio.c_cc[VSTOP], 'S');
}

// Marks of the line discipline undone, bad bytes replaced, NULs stripped,
// with a mark cut anywhere by the reads.
TEST(SerialReceiveFilter, MarksAndNuls) {
    struct Case {
        bool Replace, Strip;
        std::vector<std::string> Reads;
        std::string Out;
    };
    const std::string ff = "\xFF", mark = std::string("\xFF\0", 2);
    for (const auto& c : std::initializer_list<Case>{
             {false, false, {std::string("a\0\xFF", 3)}, std::string("a\0\xFF", 3)},
             {false, true, {std::string("\0a\0\0b\0", 6)}, "ab"},
             {true, false, {"a" + mark + "x" + "b"}, "a?b"},
             {true,
              false,
              {"a" + ff + ff + "b"},
              "a\xFF"
              "b"},
             {true,
              false,
              {"a" + ff, ff + "b"},
              "a\xFF"
              "b"},
             {true, false, {"a" + ff, std::string(1, '\0'), "xb"}, "a?b"},
             {true, false, {"a" + mark, "x"}, "a?"},
             {true, true, {std::string("\0a", 2) + mark + std::string(1, '\0')}, "a?"},
         }) {
        TSerialReceiveFilter f;
        f.SetMode(c.Replace, '?', c.Strip);
        EXPECT_EQ(f.Active(), c.Replace || c.Strip);
        std::string out;
        for (std::string piece : c.Reads)
            out.append(piece.data(), f.Apply(piece.data(), piece.size()));
        EXPECT_EQ(out, c.Out) << c.Reads.size() << " reads";
    }
}

TEST(SerialDevice, BytesBothWaysAndQueues) {
    TPtyPair pty;
    TSerialDevice d;
    ASSERT_TRUE(d.Open("COM7"));
    char buffer[64];
    EXPECT_EQ(d.Read(buffer, sizeof buffer), 0); // nothing there: no wait
    ASSERT_TRUE(pty.Send("hello"));
    TSerialWaiter w;
    TWakeFd wake;
    ASSERT_TRUE(w.Init(d.Handle(), wake.Handle()));
    EXPECT_EQ(w.Wait(30000000) & TSerialWaiter::Input, unsigned(TSerialWaiter::Input));
    EXPECT_EQ(d.InQueue(), 5);
    EXPECT_EQ(d.Read(buffer, 3), 3);
    EXPECT_EQ(std::string(buffer, 3), "hel");
    EXPECT_TRUE(d.Purge(true, false));
    EXPECT_EQ(d.InQueue(), 0);
    EXPECT_EQ(d.Write("world", 5), 5);
    EXPECT_EQ(pty.Receive(5), "world");
    TSerialStatus st;
    ASSERT_TRUE(d.GetStatus(st));
    EXPECT_EQ(st.Errors, 0u);
    EXPECT_EQ(st.OutQueue, 0u);
}

// Unread bytes do not wake the waiter again; new ones and the wake-up do.
TEST(SerialWaiter, EdgeTriggeredInputAndWakeUp) {
    TPtyPair pty;
    TSerialDevice d;
    ASSERT_TRUE(d.Open("COM7"));
    TWakeFd wake;
    TSerialWaiter w;
    ASSERT_TRUE(w.Init(d.Handle(), wake.Handle()));
    ASSERT_TRUE(pty.Send("a"));
    EXPECT_EQ(w.Wait(30000000), unsigned(TSerialWaiter::Input));
    EXPECT_EQ(w.Wait(0), 0u);
    ASSERT_TRUE(pty.Send("b"));
    EXPECT_EQ(w.Wait(30000000), unsigned(TSerialWaiter::Input));
    EXPECT_EQ(d.InQueue(), 2);
    wake.Signal();
    EXPECT_EQ(w.Wait(30000000), unsigned(TSerialWaiter::Woken));
    wake.Clear();
    EXPECT_EQ(w.Wait(0), 0u);
    EXPECT_EQ(w.Wait(500), 0u); // half a millisecond with nothing: back, empty-handed
}

// The far end closing is told once; afterwards the device is quiet.
TEST(SerialWaiter, HangUpOfTheFarEnd) {
    TPtyPair pty;
    TSerialDevice d;
    ASSERT_TRUE(d.Open("COM7"));
    TWakeFd wake;
    TSerialWaiter w;
    ASSERT_TRUE(w.Init(d.Handle(), wake.Handle()));
    pty.CloseMaster();
    EXPECT_NE(w.Wait(30000000) & TSerialWaiter::HangUp, 0u);
    EXPECT_TRUE(d.MarkLost());
    EXPECT_FALSE(d.MarkLost()); // only the first sees it new
    w.DropDevice();
    EXPECT_EQ(w.Wait(0), 0u);
    TSerialStatus st;
    ASSERT_TRUE(d.GetStatus(st));
    EXPECT_EQ(st.Errors, CE_IOE);
    EXPECT_LT(d.Write("x", 1), 0);
    EXPECT_EQ(errno, EIO);
}

TEST(SerialDevice, WaitWritableWhenOutputStopped) {
    TPtyPair pty;
    TSerialDevice d;
    ASSERT_TRUE(d.Open("COM7"));
    TWakeFd wake;
    EXPECT_EQ(d.WaitWritable(wake.Handle(), 30000), TSerialDevice::TWaitResult::Ready);
    ASSERT_EQ(tcflow(pty.Slave, TCOOFF), 0);
    EXPECT_EQ(d.Write("x", 1), 0); // no room while stopped, and no blocking
    EXPECT_EQ(d.WaitWritable(wake.Handle(), 0), TSerialDevice::TWaitResult::TimedOut);
    wake.Signal();
    EXPECT_EQ(d.WaitWritable(wake.Handle(), 30000), TSerialDevice::TWaitResult::Woken);
    ASSERT_EQ(tcflow(pty.Slave, TCOON), 0);
    EXPECT_EQ(d.WaitWritable(-1, 30000), TSerialDevice::TWaitResult::Ready);
    EXPECT_EQ(d.Write("x", 1), 1);
}

// DSR or CTS output flow on a line whose DSR and CTS the test drives:
// nothing goes while the line followed is low, not even what the driver
// already holds, the other line does not matter, and the line is not left
// stopped when the device closes.
TEST(SerialDevice, DsrOrCtsOutputFlowStopsTheLineItself) {
    TPtyPair pty;
    struct Case {
        bool TSerialSettings::*Flow;
        int Line, Other;
    };
    for (auto c : {Case{&TSerialSettings::OutDsrFlow, LineDsr, LineCts},
                   Case{&TSerialSettings::OutCtsFlow, LineCts, LineDsr}}) {
        SCOPED_TRACE(c.Line == LineDsr ? "DSR" : "CTS");
        auto lines = std::make_shared<TFakeLines>();
        TSerialDevice d;
        d.SetLines(lines);
        ASSERT_TRUE(d.Open("COM7"));
        TSerialSettings s;
        s.*c.Flow = true;
        ASSERT_TRUE(d.Configure(s));
        TWakeFd wake;
        for (int round = 0; round < 2; ++round) {
            lines->SetInput(c.Line, false);
            EXPECT_EQ(d.Write("x", 1), 0);
            EXPECT_EQ(::write(d.Handle(), "x", 1), -1); // the driver holds its bytes too
            EXPECT_EQ(errno, EAGAIN);
            EXPECT_EQ(d.WaitWritable(wake.Handle(), 20), TSerialDevice::TWaitResult::TimedOut);
            lines->SetInput(c.Line, true);
            lines->SetInput(c.Other, false);
            EXPECT_EQ(d.WaitWritable(wake.Handle(), 30000), TSerialDevice::TWaitResult::Ready);
            EXPECT_EQ(d.Write("y", 1), 1);
            EXPECT_EQ(pty.Receive(1), "y");
            lines->SetInput(c.Other, true);
        }
        lines->SetInput(c.Line, false);
        EXPECT_EQ(d.Write("z", 1), 0);
        d.Close();
        int flags = fcntl(pty.Slave, F_GETFL);
        fcntl(pty.Slave, F_SETFL, flags | O_NONBLOCK);
        EXPECT_EQ(::write(pty.Slave, "w", 1), 1);
        EXPECT_EQ(pty.Receive(1), "w");
        fcntl(pty.Slave, F_SETFL, flags);
    }
}

TEST(SerialDevice, ErrorText) {
    EXPECT_EQ(SysErrorText(ENOENT), "No such file or directory");
    EXPECT_EQ(SysErrorText(EIO), "Input/output error");
}

// A port thread's priority as the system sees it; lowered only, which needs no privilege.
TEST(SerialThread, PriorityLevelsReachTheSystem) {
    if (getpriority(PRIO_PROCESS, 0) != 0) GTEST_SKIP() << "the tests run at a lowered priority";
    std::thread t([] {
        int self = CurrentThreadId();
        struct Case {
            int Level, Niceness;
        };
        for (auto c :
             {Case{3, 0}, Case{2, 5}, Case{1, 10}, Case{0, 19}, Case{7, 19}, Case{-1, 19}}) {
            SetSerialThreadPriority(self, c.Level); // levels outside 0..6 change nothing
            EXPECT_EQ(getpriority(PRIO_PROCESS, id_t(self)), c.Niceness) << c.Level;
        }
    });
    t.join();
}
