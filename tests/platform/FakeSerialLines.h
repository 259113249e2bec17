#pragma once
// Modem lines for a pseudo-terminal, which has none: the test drives DSR,
// CTS and DCD, and sees what the port does with DTR and RTS.

#include <atomic>
#include <cerrno>
#include <mutex>
#include <vector>

#include "platform/SerialDevice.h"

namespace nuqtest {

class TFakeLines : public nuq::TSerialLines {
public:
    // Whether the "driver" can toggle RTS around its sends itself.
    explicit TFakeLines(bool driverToggles = false) : DriverToggles(driverToggles) {}

    bool Get(int& bits) override {
        std::lock_guard<std::mutex> lock(Lock);
        ++Looks;
        bits = Inputs | Outputs;
        return true;
    }
    bool Set(int bits) override {
        std::lock_guard<std::mutex> lock(Lock);
        Outputs = bits & (nuq::LineDtr | nuq::LineRts);
        Driven.push_back(Outputs);
        return true;
    }
    bool SetRtsOnSend(bool on) override {
        std::lock_guard<std::mutex> lock(Lock);
        if (!DriverToggles) {
            errno = ENOTTY;
            return false;
        }
        RtsOnSend = on;
        return true;
    }

    void SetInput(int line, bool on) {
        std::lock_guard<std::mutex> lock(Lock);
        Inputs = on ? Inputs | line : Inputs & ~line;
    }
    bool Output(int line) {
        std::lock_guard<std::mutex> lock(Lock);
        return (Outputs & line) != 0;
    }
    std::vector<int> History() {
        std::lock_guard<std::mutex> lock(Lock);
        return Driven;
    }

    const bool DriverToggles;
    std::atomic<int> Looks{0}; // times the lines were read
    bool RtsOnSend = false;

private:
    std::mutex Lock;
    int Inputs = nuq::LineDsr | nuq::LineCts | nuq::LineDcd;
    int Outputs = 0;
    std::vector<int> Driven; // every DTR/RTS state set, in order
};

} // namespace nuqtest
