#include "foundation/uNuqSettings.h"

#include "platform/Host.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>

using namespace nuq;

namespace {

class Settings : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/nuq_settings_XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        Dir = tmpl;
    }
    void TearDown() override { std::filesystem::remove_all(Dir); }

    std::string Write(const std::string& text) {
        std::string path = Dir + "/setting.ini";
        std::ofstream(path, std::ios::binary) << text;
        return path;
    }

    std::string Dir;
};

const char* const RealisticFile = R"(; Settings of the dispatcher's terminal
[ShellSettings]
AutoStart=Yes
LogEnabled=No
ActionLogEnabled=Yes
LogDirectory=C:\Nuq\Logs

[Main]
NotifyForDBSize=1800000
BlockForDBSize=$1E8480

[Modem]
ModemCount=2

[Modem_0]
PortNumber=3
Baudrate=115200
Databits=8
StopBits=2
Parity=Even
FlowControl=2
MaxChannel=5
CmdGetBalance=*100#
TCPPort=3333
SMSReporting=1
GPRS_AP=internet.mts.ru
GPRS_LG=mts
GPRS_PW="mts"

[modem_1]
portnumber=4
Parity=Space

[ModemInit]
StepCount=3
Step_0=ATE0
Step_1=AT+CMGF=1
Step_2=AT^SICS=0,conType,GPRS0

[FlowSettings]
WailAnswerTimeout=61
AnswerConnectTimeout=301
MaxRequestFailCount=6
ReconnectQuick=2
ReconnectLong=62
MaxConnectTry=7
PauseAfterSendCFG=8
InternetConnectTryMax=11
ReInitModemStep=3
ReInitModemTryMax=4
ReCallStep=9
ReCallTryMax=2
TaskStep=250

[Sound]
Enabled=No
OnStart=start.wav
OnStop=stop.wav
OnGetData=data.wav
OnGetDataAlarm=alarm.wav
OnGetDataCold=cold.wav
)";

} // namespace

TEST_F(Settings, ReadsEveryFieldOfARealisticFile) {
    TNuqSettings s = LoadSettings(Write(RealisticFile));
    EXPECT_TRUE(s.AutoStart);
    EXPECT_FALSE(s.LogEnabled);
    EXPECT_TRUE(s.ActionLogEnabled);
    EXPECT_EQ(s.LogDirectory, "C:\\Nuq\\Logs");
    EXPECT_EQ(s.NotifyForDBSize, 1800000);
    EXPECT_EQ(s.BlockForDBSize, 2000000);

    ASSERT_EQ(s.ModemCount, 2);
    const TModemData& m = s.Modems[0];
    EXPECT_EQ(m.PortNumber, 3);
    EXPECT_EQ(m.Baudrate, 115200);
    EXPECT_EQ(m.Databits, 8);
    EXPECT_EQ(m.StopBits, 2);
    EXPECT_EQ(m.Parity, 2);
    EXPECT_EQ(m.FlowControl, 2);
    EXPECT_EQ(m.MaxChannel, 5);
    EXPECT_EQ(m.CmdGetBalance, "*100#");
    EXPECT_EQ(m.TCPPort, 3333);
    EXPECT_TRUE(m.SMSReporting);
    EXPECT_EQ(m.GPRS_AP, "internet.mts.ru");
    EXPECT_EQ(m.GPRS_LG, "mts");
    EXPECT_EQ(m.GPRS_PW, "mts");
    // The second section gives only two keys: the others take their defaults.
    const TModemData& m1 = s.Modems[1];
    EXPECT_EQ(m1.PortNumber, 4);
    EXPECT_EQ(m1.Baudrate, 9600);
    EXPECT_EQ(m1.Databits, 8);
    EXPECT_EQ(m1.StopBits, 1);
    EXPECT_EQ(m1.Parity, 4);
    EXPECT_EQ(m1.FlowControl, 0);
    EXPECT_EQ(m1.MaxChannel, 9);
    EXPECT_EQ(m1.CmdGetBalance, "");
    EXPECT_EQ(m1.TCPPort, 2222);
    EXPECT_FALSE(m1.SMSReporting);
    EXPECT_EQ(s.Modems[2].Baudrate, 0);

    ASSERT_EQ(s.StepCount, 3);
    EXPECT_EQ(s.Steps[0], "ATE0");
    EXPECT_EQ(s.Steps[1], "AT+CMGF=1");
    EXPECT_EQ(s.Steps[2], "AT^SICS=0,conType,GPRS0");

    EXPECT_EQ(s.WailAnswerTimeout, 61);
    EXPECT_EQ(s.AnswerConnectTimeout, 301);
    EXPECT_EQ(s.MaxRequestFailCount, 6);
    EXPECT_EQ(s.ReconnectQuick, 2);
    EXPECT_EQ(s.ReconnectLong, 62);
    EXPECT_EQ(s.MaxConnectTry, 7);
    EXPECT_EQ(s.PauseAfterSendCFG, 8);
    EXPECT_EQ(s.InternetConnectTryMax, 11);
    EXPECT_EQ(s.ReInitModemStep, 3);
    EXPECT_EQ(s.ReInitModemTryMax, 4);
    EXPECT_EQ(s.ReCallStep, 9);
    EXPECT_EQ(s.ReCallTryMax, 2);
    EXPECT_EQ(s.TaskStep, 250);

    EXPECT_FALSE(s.SoundEnabled);
    EXPECT_EQ(s.SoundOnStart, "start.wav");
    EXPECT_EQ(s.SoundOnStop, "stop.wav");
    EXPECT_EQ(s.SoundOnGetData, "data.wav");
    EXPECT_EQ(s.SoundOnGetDataAlarm, "alarm.wav");
    EXPECT_EQ(s.SoundOnGetDataCold, "cold.wav");
}

// Every value with a default has it whether the file, its section or its key
// is missing: a site without the file still waits 60 s for an answer.
TEST_F(Settings, DefaultsApplyToWhateverIsMissing) {
    struct Default {
        const char* name;
        std::function<long long(const TNuqSettings&)> get;
        long long value;
    };
    auto flag = [](bool TNuqSettings::*f) {
        return [f](const TNuqSettings& s) -> long long { return s.*f; };
    };
    auto num = [](int TNuqSettings::*f) {
        return [f](const TNuqSettings& s) -> long long { return s.*f; };
    };
    auto text = [](std::string TNuqSettings::*f, std::string expected) {
        return [f, expected](const TNuqSettings& s) -> long long { return s.*f == expected; };
    };
    const Default defaults[] = {
        {"AutoStart", flag(&TNuqSettings::AutoStart), 0},
        {"LogEnabled", flag(&TNuqSettings::LogEnabled), 1},
        {"ActionLogEnabled", flag(&TNuqSettings::ActionLogEnabled), 1},
        {"LogDirectory is Logs", text(&TNuqSettings::LogDirectory, "Logs"), 1},
        {"NotifyForDBSize", num(&TNuqSettings::NotifyForDBSize), INT_MAX},
        {"BlockForDBSize", num(&TNuqSettings::BlockForDBSize), INT_MAX},
        {"ModemCount", num(&TNuqSettings::ModemCount), 0},
        {"StepCount", num(&TNuqSettings::StepCount), 0},
        {"WailAnswerTimeout", num(&TNuqSettings::WailAnswerTimeout), 60},
        {"AnswerConnectTimeout", num(&TNuqSettings::AnswerConnectTimeout), 300},
        {"MaxRequestFailCount", num(&TNuqSettings::MaxRequestFailCount), 5},
        {"ReconnectQuick", num(&TNuqSettings::ReconnectQuick), 1},
        {"ReconnectLong", num(&TNuqSettings::ReconnectLong), 60},
        {"MaxConnectTry", num(&TNuqSettings::MaxConnectTry), 5},
        {"PauseAfterSendCFG", num(&TNuqSettings::PauseAfterSendCFG), 7},
        {"InternetConnectTryMax", num(&TNuqSettings::InternetConnectTryMax), 10},
        {"ReInitModemStep", num(&TNuqSettings::ReInitModemStep), 1},
        {"ReInitModemTryMax", num(&TNuqSettings::ReInitModemTryMax), 3},
        {"ReCallStep", num(&TNuqSettings::ReCallStep), 7},
        {"ReCallTryMax", num(&TNuqSettings::ReCallTryMax), 1},
        {"TaskStep", num(&TNuqSettings::TaskStep), 500},
        {"SoundEnabled", flag(&TNuqSettings::SoundEnabled), 1},
        {"SoundOnStart is empty", text(&TNuqSettings::SoundOnStart, ""), 1},
        {"SoundOnGetDataCold is empty", text(&TNuqSettings::SoundOnGetDataCold, ""), 1},
    };
    struct Source {
        const char* what;
        std::string file; // "" = no file at all
    };
    const Source sources[] = {
        {"no file", ""},
        {"no section", "; nothing set\n[Other]\nWailAnswerTimeout=1\n"},
        {"no key", "[ShellSettings]\n[Main]\n[Modem]\n[ModemInit]\n[FlowSettings]\n[Sound]\n"},
    };
    for (const Source& source : sources) {
        const std::string path = source.file.empty() ? Dir + "/absent.ini" : Write(source.file);
        const TNuqSettings s = LoadSettings(path);
        for (const Default& d : defaults)
            EXPECT_EQ(d.get(s), d.value) << source.what << ": " << d.name;
    }
    // A modem's section that gives one key: each other key its default.
    const TModemData m =
        LoadSettings(Write("[Modem]\nModemCount=1\n[Modem_0]\nPortNumber=3\n")).Modems[0];
    const std::pair<const char*, long long> modem[] = {
        {"PortNumber", m.PortNumber - 3},
        {"Baudrate", m.Baudrate - 9600},
        {"Databits", m.Databits - 8},
        {"StopBits", m.StopBits - 1},
        {"Parity", m.Parity},
        {"FlowControl", m.FlowControl},
        {"MaxChannel", m.MaxChannel - 9},
        {"TCPPort", m.TCPPort - 2222},
        {"SMSReporting", m.SMSReporting},
        {"CmdGetBalance", long(m.CmdGetBalance.size())},
        {"GPRS_AP", long(m.GPRS_AP.size())},
    };
    for (const auto& [name, offDefault] : modem) EXPECT_EQ(offDefault, 0) << name;
}

// Re-reading overwrites the whole record, including what the new file lacks.
TEST_F(Settings, ReloadClearsTheRecordFirst) {
    TNuqSettings s;
    LoadSettings(Write(RealisticFile), s);
    ASSERT_EQ(s.Modems[0].PortNumber, 3);
    LoadSettings(Dir + "/absent.ini", s);
    EXPECT_EQ(s.ModemCount, 0);
    EXPECT_EQ(s.Modems[0].PortNumber, 0);
    EXPECT_EQ(s.Modems[0].GPRS_AP, "");
    EXPECT_EQ(s.Steps[0], "");
    EXPECT_FALSE(s.AutoStart);
}

// The three Yes/No flags and the sound switch compare with "Yes" exactly.
TEST_F(Settings, YesFlagsAreCaseSensitive) {
    struct Case {
        std::string text;
        bool on;
    };
    for (const auto& c :
         {Case{"Yes", true}, Case{"yes", false}, Case{"YES", false}, Case{"1", false},
          Case{"No", false}, Case{"\"Yes\"", true}, Case{"  Yes  ", true}, Case{"", false}}) {
        TNuqSettings s = LoadSettings(
            Write("[ShellSettings]\nAutoStart=" + c.text + "\nLogEnabled=" + c.text +
                  "\nActionLogEnabled=" + c.text + "\n[Sound]\nEnabled=" + c.text + "\n"));
        EXPECT_EQ(s.AutoStart, c.on) << c.text;
        EXPECT_EQ(s.LogEnabled, c.on) << c.text;
        EXPECT_EQ(s.ActionLogEnabled, c.on) << c.text;
        EXPECT_EQ(s.SoundEnabled, c.on) << c.text;
    }
}

TEST_F(Settings, ParityTexts) {
    struct Case {
        std::string text;
        int parity;
    };
    for (const auto& c :
         {Case{"None", 0}, Case{"Odd", 1}, Case{"Even", 2}, Case{"Mark", 3}, Case{"Space", 4},
          Case{"odd", 0}, Case{"EVEN", 0}, Case{"1", 0}, Case{"", 0}}) {
        TNuqSettings s =
            LoadSettings(Write("[Modem]\nModemCount=1\n[Modem_0]\nParity=" + c.text + "\n"));
        EXPECT_EQ(s.Modems[0].Parity, c.parity) << c.text;
    }
}

// A numbered section that is missing (or holds no key) leaves its record zero
// but still counts.
TEST_F(Settings, MissingModemSectionLeavesZeroRecord) {
    TNuqSettings s = LoadSettings(Write("[Modem]\nModemCount=3\n[Modem_0]\n; no keys\n"
                                        "[Modem_2]\nPortNumber=7\n[Modem_3]\nPortNumber=9\n"));
    ASSERT_EQ(s.ModemCount, 3);
    for (int i : {0, 1}) {
        EXPECT_EQ(s.Modems[i].PortNumber, 0) << i;
        EXPECT_EQ(s.Modems[i].Baudrate, 0) << i;
        EXPECT_EQ(s.Modems[i].TCPPort, 0) << i;
    }
    EXPECT_EQ(s.Modems[2].PortNumber, 7);
    EXPECT_EQ(s.Modems[2].Baudrate, 9600);
    EXPECT_EQ(s.Modems[3].PortNumber, 0); // beyond the count
}

TEST_F(Settings, MissingStepStaysEmpty) {
    TNuqSettings s = LoadSettings(
        Write("[ModemInit]\nStepCount=3\nStep_0=ATE0\nStep_2=AT+CMGF=1\nStep_3=ATZ\n"));
    ASSERT_EQ(s.StepCount, 3);
    EXPECT_EQ(s.Steps[0], "ATE0");
    EXPECT_EQ(s.Steps[1], "");
    EXPECT_EQ(s.Steps[2], "AT+CMGF=1");
    EXPECT_EQ(s.Steps[3], ""); // beyond the count
}

// Counts are cut to the tables' size, so a reader looping to the count stays inside.
TEST_F(Settings, CountsBeyondTheTablesAreCut) {
    std::string text =
        "[Modem]\nModemCount=1000\n[ModemInit]\nStepCount=$7FFFFFFF\nStep_255=last\n"
        "Step_256=beyond\n[Modem_255]\nPortNumber=255\n[Modem_256]\nPortNumber=256\n";
    TNuqSettings s = LoadSettings(Write(text));
    EXPECT_EQ(s.ModemCount, MaxModemCount);
    EXPECT_EQ(s.StepCount, MaxStepCount);
    EXPECT_EQ(s.Modems[255].PortNumber, 255);
    EXPECT_EQ(s.Steps[255], "last");

    s = LoadSettings(
        Write("[Modem]\nModemCount=-5\n[ModemInit]\nStepCount=-1\n[Modem_0]\nPortNumber=1\n"));
    EXPECT_EQ(s.ModemCount, 0);
    EXPECT_EQ(s.StepCount, 0);
    EXPECT_EQ(s.Modems[0].PortNumber, 0);
}

TEST_F(Settings, DatabaseLimits) {
    struct Case {
        std::string line;
        int limit;
    };
    for (const auto& c : {Case{"NotifyForDBSize=", INT_MAX}, Case{"", INT_MAX},
                          Case{"NotifyForDBSize=abc", INT_MAX},
                          Case{"NotifyForDBSize=1.5", INT_MAX}, Case{"NotifyForDBSize=500", 500},
                          Case{"NotifyForDBSize=$100", 256}, Case{"NotifyForDBSize=-1", -1}}) {
        TNuqSettings s = LoadSettings(Write("[Main]\n" + c.line + "\n"));
        EXPECT_EQ(s.NotifyForDBSize, c.limit) << c.line;
        EXPECT_EQ(s.BlockForDBSize, INT_MAX) << c.line;
    }
}

// A value that is no integer takes the key's own default.
TEST_F(Settings, UnreadableIntegersTakeTheirDefaults) {
    TNuqSettings s = LoadSettings(Write("[FlowSettings]\nWailAnswerTimeout=sixty\n"
                                        "AnswerConnectTimeout=$12C\nTaskStep=5 00\n"
                                        "[Modem]\nModemCount=one\n"
                                        "[Modem_0]\nBaudrate=fast\nSMSReporting=Yes\n"));
    EXPECT_EQ(s.WailAnswerTimeout, 60);
    EXPECT_EQ(s.AnswerConnectTimeout, 300);
    EXPECT_EQ(s.TaskStep, 500);
    EXPECT_EQ(s.ModemCount, 0);

    s = LoadSettings(Write("[Modem]\nModemCount=1\n[Modem_0]\nBaudrate=fast\nSMSReporting=Yes\n"
                           "TCPPort=0x1F90\n"));
    EXPECT_EQ(s.Modems[0].Baudrate, 9600);
    EXPECT_FALSE(s.Modems[0].SMSReporting);
    EXPECT_EQ(s.Modems[0].TCPPort, 8080);
    s = LoadSettings(Write("[Modem]\nModemCount=1\n[Modem_0]\nSMSReporting=-2\n"));
    EXPECT_TRUE(s.Modems[0].SMSReporting);
}

TEST_F(Settings, FileLivesInTheHostFolder) {
    SetHostFolder(Dir);
    EXPECT_EQ(SettingsFileName(), Dir + "/setting.ini");
    SetHostFolder("");
}

TEST(SettingsExample, DemoFileReads) {
    TNuqSettings s = LoadSettings(std::string(NUQ_SOURCE_DIR) + "/examples/plant/setting.ini");
    ASSERT_EQ(s.ModemCount, 1);
    EXPECT_EQ(s.Modems[0].PortNumber, 3);
    EXPECT_EQ(s.Modems[0].TCPPort, 47032);
    EXPECT_EQ(s.LogDirectory, "Logs");
    EXPECT_EQ(s.NotifyForDBSize, 1800000);
    EXPECT_EQ(s.BlockForDBSize, 2000000);
    EXPECT_EQ(s.WailAnswerTimeout, 60);
    EXPECT_EQ(s.TaskStep, 500);
    ASSERT_EQ(s.StepCount, 4);
    EXPECT_EQ(s.Steps[3], "AT+CSCS=\"GSM\"");
}
