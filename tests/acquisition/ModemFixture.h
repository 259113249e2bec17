#pragma once
// A modem engine on the virtual clock, optionally against the modem
// simulator on a pseudo-terminal linked as COM7 in a private folder.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "acquisition/uNuqClasses_Modem.h"
#include "common/SimProcess.h"
#include "platform/EventLoop.h"
#include "platform/Host.h"

namespace modemtest {

namespace fs = std::filesystem;
using namespace nuq;

inline const std::string kSimModem = std::string(NUQ_BINARY_DIR) + "/sim/modem/nuq-sim-modem";
inline const std::string kSimController =
    std::string(NUQ_BINARY_DIR) + "/sim/controller/nuq-sim-controller";

inline std::string Cmd(const std::string& s) {
    return s + "\r\n";
}

class ModemTest : public ::testing::Test {
protected:
    fs::path home = fs::temp_directory_path() /
                    ("nuq-modem-" + std::to_string(getpid()) + "-" +
                     ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::unique_ptr<simtest::SimProcess> sim;
    std::vector<std::unique_ptr<simtest::SimProcess>> controllers;
    int listenPort = 0; // of the simulator's listener, with --listen
    std::unique_ptr<TGPRSModem> modem;
    std::vector<std::unique_ptr<TBoilerRoom>> rooms;
    std::vector<std::string> messages;
    std::vector<std::string> failures;
    bool notRunning = false, stopping = false, destroying = false;

    void SetUp() override {
        SetMainThread();
        fs::create_directories(home);
        SetHostFolder(home.string());
        setenv("NUQ_PORT_DIR", home.c_str(), 1);
        UseVirtualClock(EncodeDateTime(2026, 1, 10, 8), 1000);
        SetIdleGrace(60); // the simulator's answers come through the port's threads
    }
    void TearDown() override {
        modem.reset();
        rooms.clear();
        controllers.clear();
        sim.reset();
        ProcessMessages();
        SetIdleGrace(-1);
        UseRealClock();
        SetHostFolder("");
        unsetenv("NUQ_PORT_DIR");
        fs::remove_all(home);
    }

    // setting.ini: the flow values and the initialisation steps.
    void Settings(const std::string& flow, const std::vector<std::string>& steps = {"ATE0"}) {
        std::ofstream f(home / "setting.ini");
        f << "[FlowSettings]\n" << flow << "\n[ModemInit]\nStepCount=" << steps.size() << "\n";
        for (size_t i = 0; i < steps.size(); ++i) f << "Step_" << i << "=" << steps[i] << "\n";
    }

    void StartSim(const std::vector<std::string>& extra = {}) {
        std::vector<std::string> args{"--serial", (home / "COM7").string(), "--log",
                                      (home / "rx.log").string(), "--stdin-control"};
        args.insert(args.end(), extra.begin(), extra.end());
        sim = std::make_unique<simtest::SimProcess>(kSimModem, args);
        ASSERT_EQ(sim->WaitFor("serial "), "serial " + (home / "COM7").string());
    }

    // The simulator with its listener on a free loopback port.
    void StartSimListening(const std::vector<std::string>& extra = {}) {
        std::vector<std::string> args{"--listen", "0"};
        args.insert(args.end(), extra.begin(), extra.end());
        std::vector<std::string> all{"--serial", (home / "COM7").string(), "--log",
                                     (home / "rx.log").string(), "--stdin-control"};
        all.insert(all.end(), args.begin(), args.end());
        sim = std::make_unique<simtest::SimProcess>(kSimModem, all);
        listenPort = sim->Port();
        ASSERT_GT(listenPort, 0);
        ASSERT_EQ(sim->WaitFor("serial "), "serial " + (home / "COM7").string());
    }

    // A controller in client mode connecting to the simulator's listener; its
    // received lines go to ctl<N>.log.
    simtest::SimProcess& StartController(const std::string& ident,
                                         const std::vector<std::string>& extra = {}) {
        const std::string log =
            (home / ("ctl" + std::to_string(controllers.size()) + ".log")).string();
        std::vector<std::string> args{"--connect", "127.0.0.1:" + std::to_string(listenPort),
                                      "--log", log, "--stdin-control"};
        if (!ident.empty()) {
            args.push_back("--ident");
            args.push_back(ident);
        }
        args.insert(args.end(), extra.begin(), extra.end());
        controllers.push_back(std::make_unique<simtest::SimProcess>(kSimController, args));
        return *controllers.back();
    }
    std::string ControllerLog(size_t i) {
        std::ifstream f(home / ("ctl" + std::to_string(i) + ".log"), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(f), {});
    }

    TModemData Data(int port = 7) {
        TModemData d;
        d.PortNumber = port;
        d.Baudrate = 115200;
        d.Databits = 8;
        d.StopBits = 1;
        d.TCPPort = 2222;
        d.GPRS_AP = "internet";
        d.GPRS_LG = "gdata";
        d.GPRS_PW = "pw";
        return d;
    }

    void MakeModem(int port = 7) {
        modem = std::make_unique<TGPRSModem>(Data(port));
        modem->OnIsDestroying = [this] { return destroying; };
        modem->OnIsStopping = [this] { return stopping; };
        modem->OnIsNotRunning = [this] { return notRunning; };
        modem->OnMessage = [this](const std::string& t, bool, bool) { messages.push_back(t); };
        modem->OnConnectFailed = [this](int, const std::string& m) { failures.push_back(m); };
    }

    TBoilerRoom& Attach(const std::string& name, const std::string& phone, const std::string& ident,
                        uint8_t mode = 0) {
        rooms.push_back(std::make_unique<TBoilerRoom>());
        TBoilerRoom& r = *rooms.back();
        r.Name = name;
        r.GPRSCallMode = mode;
        modem->Attached.Add(modem.get(), &r, phone, ident);
        return r;
    }

    std::string SimLog() {
        std::ifstream f(home / "rx.log", std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(f), {});
    }
    void ResetLog() { sim->Control("reset-log"); }

    bool WaitFor(const std::function<bool()>& done, uint32_t ms = 120000) {
        return ProcessMessagesUntil(done, ms);
    }
    // Lets the loop run for Ms on the clock.
    void Run(uint32_t ms) {
        ProcessMessagesUntil([] { return false; }, ms);
    }

    bool HasMessage(const std::string& part) const {
        for (const auto& m : messages)
            if (m.find(part) != std::string::npos) return true;
        return false;
    }
    bool HasTask(const std::string& entry) const {
        for (const auto& t : modem->Tasks)
            if (t == entry) return true;
        return false;
    }
};

// The socket-closing commands of initialisation, 9 down to 0, and the profile close.
inline std::string InitSocketCommands() {
    std::string s;
    for (int n = 9; n >= 0; --n)
        s += Cmd("AT^SISC=" + std::to_string(n)) +
             Cmd("AT^SISS=" + std::to_string(n) + ",srvtype,none");
    return s + Cmd("AT^SICC=0");
}

inline std::string InitProfileCommands() {
    return Cmd("AT^SICS=0,conType,GPRS0;^SICS=0,passwd,\"pw\";^SICS=0,user,\"gdata\";^SICS=0,apn,"
               "\"internet\"") +
           Cmd("AT^SISS=0,srvtype,socket") + Cmd("AT^SISS=0,address,socktcp://listener:2222");
}

} // namespace modemtest
