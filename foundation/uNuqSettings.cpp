#include "foundation/uNuqSettings.h"

#include <algorithm>
#include <climits>
#include <mutex>
#include <optional>

#include "platform/Host.h"
#include "platform/IniFiles.h"
#include "platform/SysUtils.h"

namespace nuq {

namespace {

uint8_t ParityFromText(const std::string& s) {
    if (s == "Odd") return 1;
    if (s == "Even") return 2;
    if (s == "Mark") return 3;
    if (s == "Space") return 4;
    return 0;
}

// Database size limits: an empty or unreadable text means "never reached".
int SizeLimit(const TIniFile& ini, const std::string& ident) {
    return StrToIntDef(ini.ReadString("Main", ident, ""), INT_MAX);
}

void ReadModem(const TIniFile& ini, const std::string& section, TModemData& m) {
    m.PortNumber = ini.ReadInteger(section, "PortNumber", 0);
    m.Baudrate = ini.ReadInteger(section, "Baudrate", 9600);
    m.Databits = ini.ReadInteger(section, "Databits", 8);
    m.StopBits = ini.ReadInteger(section, "StopBits", 1);
    m.Parity = ParityFromText(ini.ReadString(section, "Parity", "None"));
    m.FlowControl = ini.ReadInteger(section, "FlowControl", 0);
    m.MaxChannel = ini.ReadInteger(section, "MaxChannel", 9);
    m.CmdGetBalance = ini.ReadString(section, "CmdGetBalance", "");
    m.TCPPort = ini.ReadInteger(section, "TCPPort", 2222);
    m.SMSReporting = ini.ReadBool(section, "SMSReporting", false);
    m.GPRS_AP = ini.ReadString(section, "GPRS_AP", "");
    m.GPRS_LG = ini.ReadString(section, "GPRS_LG", "");
    m.GPRS_PW = ini.ReadString(section, "GPRS_PW", "");
}

} // namespace

void LoadSettings(const std::string& fileName, TNuqSettings& settings) {
    settings = TNuqSettings{};
    if (!FileExists(fileName)) return;
    TIniFile ini(fileName);
    TNuqSettings& s = settings;

    // The tables hold 256 entries; a larger count would send readers past them.
    s.ModemCount = std::clamp(ini.ReadInteger("Modem", "ModemCount", 0), 0, MaxModemCount);
    for (int i = 0; i < s.ModemCount; ++i) {
        std::string section = "Modem_" + std::to_string(i);
        if (ini.SectionExists(section)) ReadModem(ini, section, s.Modems[size_t(i)]);
    }

    s.StepCount = std::clamp(ini.ReadInteger("ModemInit", "StepCount", 0), 0, MaxStepCount);
    for (int i = 0; i < s.StepCount; ++i) {
        std::string key = "Step_" + std::to_string(i);
        if (ini.ValueExists("ModemInit", key))
            s.Steps[size_t(i)] = ini.ReadString("ModemInit", key, "");
    }

    s.AutoStart = ini.ReadString("ShellSettings", "AutoStart", "No") == "Yes";
    s.LogEnabled = ini.ReadString("ShellSettings", "LogEnabled", "Yes") == "Yes";
    s.ActionLogEnabled = ini.ReadString("ShellSettings", "ActionLogEnabled", "Yes") == "Yes";
    s.LogDirectory = ini.ReadString("ShellSettings", "LogDirectory", "Logs");

    s.NotifyForDBSize = SizeLimit(ini, "NotifyForDBSize");
    s.BlockForDBSize = SizeLimit(ini, "BlockForDBSize");

    const std::string flow = "FlowSettings";
    s.WailAnswerTimeout = ini.ReadInteger(flow, "WailAnswerTimeout", 60);
    s.AnswerConnectTimeout = ini.ReadInteger(flow, "AnswerConnectTimeout", 300);
    s.MaxRequestFailCount = ini.ReadInteger(flow, "MaxRequestFailCount", 5);
    s.ReconnectQuick = ini.ReadInteger(flow, "ReconnectQuick", 1);
    s.ReconnectLong = ini.ReadInteger(flow, "ReconnectLong", 60);
    s.MaxConnectTry = ini.ReadInteger(flow, "MaxConnectTry", 5);
    s.PauseAfterSendCFG = ini.ReadInteger(flow, "PauseAfterSendCFG", 7);
    s.InternetConnectTryMax = ini.ReadInteger(flow, "InternetConnectTryMax", 10);
    s.ReInitModemStep = ini.ReadInteger(flow, "ReInitModemStep", 1);
    s.ReInitModemTryMax = ini.ReadInteger(flow, "ReInitModemTryMax", 3);
    s.ReCallStep = ini.ReadInteger(flow, "ReCallStep", 7);
    s.ReCallTryMax = ini.ReadInteger(flow, "ReCallTryMax", 1);
    s.TaskStep = ini.ReadInteger(flow, "TaskStep", 500);

    s.SoundEnabled = ini.ReadString("Sound", "Enabled", "Yes") == "Yes";
    s.SoundOnStart = ini.ReadString("Sound", "OnStart", "");
    s.SoundOnStop = ini.ReadString("Sound", "OnStop", "");
    s.SoundOnGetData = ini.ReadString("Sound", "OnGetData", "");
    s.SoundOnGetDataAlarm = ini.ReadString("Sound", "OnGetDataAlarm", "");
    s.SoundOnGetDataCold = ini.ReadString("Sound", "OnGetDataCold", "");
}

TNuqSettings LoadSettings(const std::string& fileName) {
    TNuqSettings s;
    LoadSettings(fileName, s);
    return s;
}

std::string SettingsFileName() {
    return HostFolder() + "setting.ini";
}

std::shared_ptr<const TNuqSettings> NoSettings() {
    static const auto none = std::make_shared<const TNuqSettings>();
    return none;
}

std::shared_ptr<const TNuqSettings> LoadSharedSettings(const std::string& fileName) {
    struct TCached {
        std::string FileName;
        std::optional<std::string> Bytes; // none: no file
        std::shared_ptr<const TNuqSettings> Settings;
    };
    static std::mutex lock;
    static TCached cached;
    std::optional<std::string> bytes;
    if (FileExists(fileName)) {
        try {
            bytes = ReadFileBytes(fileName);
        } catch (const Exception&) {
            // Unreadable now: read as LoadSettings reads it, and share nothing.
            return std::make_shared<const TNuqSettings>(LoadSettings(fileName));
        }
    }
    std::lock_guard<std::mutex> hold(lock);
    if (!cached.Settings || cached.FileName != fileName || cached.Bytes != bytes) {
        cached.Settings = std::make_shared<const TNuqSettings>(LoadSettings(fileName));
        cached.FileName = fileName;
        cached.Bytes = std::move(bytes);
    }
    return cached.Settings;
}

} // namespace nuq
