#pragma once
// The host stand-in: loads the objects of objects.ini, starts them and prints
// every event and every decoded packet as log lines.

#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "acquisition/uNuqClasses.h"
#include "acquisition/uNuqClasses_Manager.h"
#include "app/nuq_output.h"
#include "app/nuq_terminal.h"

namespace nuq {
class TIniFile;
}

namespace nuq::app {

// One object of objects.ini, as the host configured it.
struct THostObject {
    std::string Section;
    std::string RequestText; // sent framed on every request tick; empty = none
    int RequestPeriod = 10;  // s
    int DDEPeriod = 5;       // s
    std::string Script;      // the packet script's file; empty = packets shown undecoded
    std::string LinkText;    // the link and its address, as the log shows it
    int ComPort = 0;         // the COM port the object holds; 0 = none
    std::string LastStateText;
    // Packets that came while one was being decoded and shown.
    std::deque<std::string> PendingData;
    bool Handling = false;
    std::unique_ptr<TBoilerRoom> Room;
};

// N and the word in the form Russian puts after N: One for 1, 21, 31...;
// Few for 2-4, 22-24...; Many for the rest (5-20, 11-14 included).
std::string CountText(uint64_t n, const char* one, const char* few, const char* many);
// "1 байт", "3 байта", "5 байт".
std::string BytesText(uint64_t n);

// Reads a file of the home folder whole. False, with what is wrong as the
// log says it after the file's name: "не найден", "- папка, а не файл" or
// "не прочитан: " and the system's reason.
bool ReadHomeFile(const std::string& path, std::string& bytes, std::string& problem);

// The longest text of one log line; longer ones are cut with a mark.
inline constexpr size_t MaxLogLineBytes = 1000;
// Text as one log line shows it: control characters escaped, cut to length.
std::string LogLineText(const std::string& text);

class THost {
public:
    THost();
    ~THost();

    // Prints log lines to stdout: date and time, a colon, two blanks, the
    // text. Never waits on the output: see TLogOutput.
    void Log(const std::string& text);
    // Sends the lines logged so far out, as far as the output takes them now.
    void FlushLog();
    // At the end: sends the rest, waiting at most WaitMs for the output
    // (below 0: as long as it takes).
    bool DrainLog(int waitMs);
    // The descriptor flags of standard output before the run.
    int OutputFlags() const { return FOutput.OriginalFlags(); }

    // Says once what setting.ini gives: missing, a folder, unreadable, or
    // each value that does not read and is replaced by its default.
    void CheckSettingsFile();

    // Reads objects.ini of the home folder, making the modems of setting.ini
    // its objects on modem links need (and those that report by SMS); every
    // problem of an object is logged and the object left out, the others
    // load. False, with the error, when the file is missing or holds no
    // object that loads.
    bool LoadObjects(const std::string& fileName, std::string& error);
    // Connects the modems (and asks each its balance), then starts every object.
    void StartScanning();
    void StopScanning();

    // Asks for the clean stop: the running loop ends, and every wait of the
    // modems' dialogues gives up at once. Safe to ask more than once.
    void RequestStop();
    bool StopRequested() const { return FStopRequested; }
    // Standard output went away (its reader closed the pipe) or fails: the
    // run stops. The reason, as the system gives it.
    bool OutputLost() const { return FOutputLost; }
    const std::string& OutputLostReason() const { return FOutputLostReason; }
    // Called when standard output is found gone; Error is the system's number.
    void NoteOutputLost(int error);

    std::vector<THostObject>& Objects() { return FObjects; }
    TGPRSManager& Manager() { return FManager; }
    TTerminal& Terminal() { return FTerminal; }

private:
    static std::string LogLine(const std::string& text);
    void AssignEvents(THostObject& object);
    void CheckObjectsLines(const std::string& fileName, const std::string& text);
    void LoadObject(const TIniFile& ini, THostObject& object,
                    std::map<std::string, std::pair<std::string, std::string>>& scripts);
    void TakeComPort(int port, const std::string& owner);
    void LogLinks();
    void LogSharedNames();
    void LogState(THostObject& object);
    void HandleData(THostObject& object, const std::string& line);
    void ShowData(THostObject& object, const std::string& line);
    void MakeModems(const std::vector<int>& ports);

    TLogOutput FOutput;
    std::vector<THostObject> FObjects;
    // The terminal outlives the manager, whose modems ask it while they go;
    // both go before the objects the modems serve.
    TTerminal FTerminal;
    TGPRSManager FManager;
    bool FScanning = false;
    bool FStopRequested = false;
    bool FOutputLost = false;
    std::string FOutputLostReason;
    // COM port -> who holds it ("объектом \"A\"", "модемом [Modem_0]").
    std::map<int, std::string> FComOwners;
};

} // namespace nuq::app
