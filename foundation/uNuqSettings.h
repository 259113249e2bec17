#pragma once
// The module's tunable behaviour, kept in the hand-edited "setting.ini" of the
// host folder. Every consumer reads the file itself; nothing writes it.

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace nuq {

// Sizes of the modem and initialisation-step tables; larger counts in the
// file are cut to these.
inline constexpr int MaxModemCount = 256;
inline constexpr int MaxStepCount = 256;

// One [Modem_<i>] section.
struct TModemData {
    int PortNumber = 0; // COM1 = 1
    int Baudrate = 0;   // bit/s
    int Databits = 0;
    int StopBits = 0;          // 1 or 2
    uint8_t Parity = 0;        // 0 none, 1 odd, 2 even, 3 mark, 4 space
    int FlowControl = 0;       // bit mask: 1 DSR output, 2 CTS output, 4 XON/XOFF
    int MaxChannel = 0;        // highest socket number
    std::string CmdGetBalance; // USSD balance code, sent unchanged; empty = none
    int TCPPort = 0;           // port of the modem's listener service
    bool SMSReporting = false; // made even with no object on its port, for SMS
    std::string GPRS_AP;       // access point name
    std::string GPRS_LG;       // user name
    std::string GPRS_PW;       // password
};

// The whole file. A default-made record is all zero; LoadSettings fills in
// the defaults.
struct TNuqSettings {
    bool AutoStart = false;
    bool LogEnabled = false;
    bool ActionLogEnabled = false;
    std::string LogDirectory;
    int NotifyForDBSize = 0;
    int BlockForDBSize = 0;
    int ModemCount = 0; // 0 .. MaxModemCount
    std::array<TModemData, MaxModemCount> Modems{};
    int WailAnswerTimeout = 0; // s
    int MaxRequestFailCount = 0;
    int ReconnectQuick = 0; // s
    int ReconnectLong = 0;  // s
    int MaxConnectTry = 0;
    int PauseAfterSendCFG = 0;    // s
    int AnswerConnectTimeout = 0; // s
    int InternetConnectTryMax = 0;
    int ReInitModemStep = 0; // s
    int ReInitModemTryMax = 0;
    int ReCallStep = 0; // s
    int ReCallTryMax = 0;
    int TaskStep = 0;
    int StepCount = 0; // 0 .. MaxStepCount
    std::array<std::string, MaxStepCount> Steps{};
    bool SoundEnabled = false;
    std::string SoundOnStart;
    std::string SoundOnStop;
    std::string SoundOnGetData;
    std::string SoundOnGetDataAlarm;
    std::string SoundOnGetDataCold;
};

// Clears Settings, then fills it from the file; keys missing from the file,
// or the whole file, take their defaults (a [Modem_i] section that is missing
// leaves its record zero). A missing file is no error. Notes, when given, gets one text for
// each value written in the file that does not read and so gives way to
// its default (a flag neither "Yes" nor "No" included).
void LoadSettings(const std::string& fileName, TNuqSettings& settings,
                  std::vector<std::string>* notes = nullptr);
TNuqSettings LoadSettings(const std::string& fileName);
// The same, read again each call, but as long as the file holds the same
// bytes every caller gets the one unchanged copy read first: thousands of
// objects reading one file hold one record between them.
std::shared_ptr<const TNuqSettings> LoadSharedSettings(const std::string& fileName);
// An all-zero record, the settings of an object not yet started; one copy
// for the whole process.
std::shared_ptr<const TNuqSettings> NoSettings();

// Where the settings live: the host folder's "setting.ini".
std::string SettingsFileName();

} // namespace nuq
