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

// Reads the file's values as the profile functions do, and notes each value
// written that does not read and gives way to its default.
struct TSettingsReader {
    const TIniFile& Ini;
    std::vector<std::string>* Notes;

    void Note(const std::string& section, const std::string& key, const std::string& text,
              const std::string& used) const {
        if (Notes)
            Notes->push_back("значение [" + section + "] " + key + "=" + text +
                             " не читается: " + "действует " + used);
    }
    int Int(const std::string& section, const std::string& key, int def) const {
        const std::string text = Ini.ReadString(section, key, "");
        int value;
        if (TryStrToInt(text, value)) return value;
        if (!text.empty()) Note(section, key, text, std::to_string(def));
        return def;
    }
    std::string Text(const std::string& section, const std::string& key,
                     const std::string& def) const {
        return Ini.ReadString(section, key, def);
    }
    // True exactly when the text is "Yes", as written.
    bool Flag(const std::string& section, const std::string& key, const char* def) const {
        const std::string text = Ini.ReadString(section, key, def);
        if (text != "Yes" && text != "No") Note(section, key, text, "No");
        return text == "Yes";
    }
    // Database size limits: an empty or unreadable text means "never reached".
    int SizeLimit(const std::string& key) const {
        const std::string text = Ini.ReadString("Main", key, "");
        int value;
        if (TryStrToInt(text, value)) return value;
        if (!text.empty()) Note("Main", key, text, "без ограничения");
        return INT_MAX;
    }
    uint8_t Parity(const std::string& section) const {
        static const char* const names[] = {"None", "Odd", "Even", "Mark", "Space"};
        const std::string text = Ini.ReadString(section, "Parity", "None");
        for (uint8_t i = 0; i < std::size(names); ++i)
            if (text == names[i]) return i;
        Note(section, "Parity", text, "None");
        return 0;
    }
};

void ReadModem(const TSettingsReader& r, const std::string& section, TModemData& m) {
    m.PortNumber = r.Int(section, "PortNumber", 0);
    m.Baudrate = r.Int(section, "Baudrate", 9600);
    m.Databits = r.Int(section, "Databits", 8);
    m.StopBits = r.Int(section, "StopBits", 1);
    m.Parity = r.Parity(section);
    m.FlowControl = r.Int(section, "FlowControl", 0);
    m.MaxChannel = r.Int(section, "MaxChannel", 9);
    m.CmdGetBalance = r.Text(section, "CmdGetBalance", "");
    m.TCPPort = r.Int(section, "TCPPort", 2222);
    m.SMSReporting = r.Int(section, "SMSReporting", 0) != 0;
    m.GPRS_AP = r.Text(section, "GPRS_AP", "");
    m.GPRS_LG = r.Text(section, "GPRS_LG", "");
    m.GPRS_PW = r.Text(section, "GPRS_PW", "");
}

} // namespace

void LoadSettings(const std::string& fileName, TNuqSettings& settings,
                  std::vector<std::string>* notes) {
    settings = TNuqSettings{};
    // A missing file reads as an empty one: every key takes its default, so
    // that a site without the file still waits for answers and reconnects.
    const TIniFile ini = FileExists(fileName) ? TIniFile(fileName) : TIniFile::FromBytes("");
    const TSettingsReader r{ini, notes};
    TNuqSettings& s = settings;

    // The tables hold 256 entries; a larger count would send readers past them.
    s.ModemCount = std::clamp(r.Int("Modem", "ModemCount", 0), 0, MaxModemCount);
    for (int i = 0; i < s.ModemCount; ++i) {
        std::string section = "Modem_" + std::to_string(i);
        if (ini.SectionExists(section)) ReadModem(r, section, s.Modems[size_t(i)]);
    }

    s.StepCount = std::clamp(r.Int("ModemInit", "StepCount", 0), 0, MaxStepCount);
    for (int i = 0; i < s.StepCount; ++i) {
        std::string key = "Step_" + std::to_string(i);
        if (ini.ValueExists("ModemInit", key))
            s.Steps[size_t(i)] = ini.ReadString("ModemInit", key, "");
    }

    s.AutoStart = r.Flag("ShellSettings", "AutoStart", "No");
    s.LogEnabled = r.Flag("ShellSettings", "LogEnabled", "Yes");
    s.ActionLogEnabled = r.Flag("ShellSettings", "ActionLogEnabled", "Yes");
    s.LogDirectory = r.Text("ShellSettings", "LogDirectory", "Logs");

    s.NotifyForDBSize = r.SizeLimit("NotifyForDBSize");
    s.BlockForDBSize = r.SizeLimit("BlockForDBSize");

    const std::string flow = "FlowSettings";
    s.WailAnswerTimeout = r.Int(flow, "WailAnswerTimeout", 60);
    s.AnswerConnectTimeout = r.Int(flow, "AnswerConnectTimeout", 300);
    s.MaxRequestFailCount = r.Int(flow, "MaxRequestFailCount", 5);
    s.ReconnectQuick = r.Int(flow, "ReconnectQuick", 1);
    s.ReconnectLong = r.Int(flow, "ReconnectLong", 60);
    s.MaxConnectTry = r.Int(flow, "MaxConnectTry", 5);
    s.PauseAfterSendCFG = r.Int(flow, "PauseAfterSendCFG", 7);
    s.InternetConnectTryMax = r.Int(flow, "InternetConnectTryMax", 10);
    s.ReInitModemStep = r.Int(flow, "ReInitModemStep", 1);
    s.ReInitModemTryMax = r.Int(flow, "ReInitModemTryMax", 3);
    s.ReCallStep = r.Int(flow, "ReCallStep", 7);
    s.ReCallTryMax = r.Int(flow, "ReCallTryMax", 1);
    s.TaskStep = r.Int(flow, "TaskStep", 500);

    s.SoundEnabled = r.Flag("Sound", "Enabled", "Yes");
    s.SoundOnStart = r.Text("Sound", "OnStart", "");
    s.SoundOnStop = r.Text("Sound", "OnStop", "");
    s.SoundOnGetData = r.Text("Sound", "OnGetData", "");
    s.SoundOnGetDataAlarm = r.Text("Sound", "OnGetDataAlarm", "");
    s.SoundOnGetDataCold = r.Text("Sound", "OnGetDataCold", "");
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
