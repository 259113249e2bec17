#pragma once
// The least of the terminal module the modem engine needs in the nuq run
// host: its three yes/no queries, its log, and its answers to the modem
// events. There is no operator at the console: what would be a question is
// answered yes and said so in the log; what would be a message box is a log line.

#include <functional>
#include <optional>
#include <string>

#include "acquisition/uNuqClasses_Manager.h"

namespace nuq::app {

class TTerminal {
public:
    // Where the log lines go.
    std::function<void(const std::string& line)> Log;
    // Stops scanning, as the operator's stop command would.
    std::function<void()> StopScanning;
    // The text that answers a subscriber's SMS asking about the object named
    // Name; nothing when no such object is known.
    std::function<std::optional<std::string>(const std::string& name)> ObjectInfo;

    bool Destroying = false;
    bool Stopping = false;
    bool NotRunning = true;
    bool Verbose = false;

    bool IsDestroying() const { return Destroying; }
    bool IsStopping() const { return Stopping; }
    bool IsNotRunning() const { return NotRunning; }
    void Message(const std::string& text, bool verboseOnly, bool showDialog);
    void ConnectFailed(int port, const std::string& msg);
    void Balance(int port, const std::string& reply);
    void NoObjectAnswers(TGPRSModem& modem);
    void SMSReceived(TGPRSModem& modem, const std::string& text, const std::string& phone);

    // Gives Modem this terminal's handlers (the manager's seven events and
    // the modem's own SMS event).
    void AssignTo(TGPRSModem& modem);
    // Gives the manager this terminal's seven handlers, and each of its
    // modems the SMS handler.
    void AssignTo(TGPRSManager& manager);

private:
    void Line(const std::string& text);
};

} // namespace nuq::app
