#include "app/nuq_host.h"

#include "acquisition/uScriptClasses.h"
#include "app/nuq_commands.h"
#include "foundation/uNuqSettings.h"
#include "foundation/uNuqUtils.h"
#include "foundation/uTrace.h"
#include "platform/EventLoop.h"
#include "platform/Host.h"
#include "platform/IniFiles.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <cmath>
#include <cstdio>
#include <map>

namespace nuq::app {

namespace {

std::string Quoted(const std::string& name) {
    return "\"" + name + "\"";
}

bool IsHexText(const std::string& s) {
    if (s.empty() || s.size() % 2 != 0) return false;
    for (char c : s)
        if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
    return true;
}

// A link kind by name or number.
int LinkKindOf(const std::string& text) {
    const std::string t = UpperCase(Trim(text));
    if (t == "COM" || t == "0") return lkComPort;
    if (t == "TCP" || t == "1") return lkTCP;
    if (t == "DDE" || t == "2") return lkDDE;
    if (t == "GPRS" || t == "3") return lkGPRS;
    return -1;
}

std::string PathInHome(const std::string& name) {
    if (name.empty() || name[0] == '/') return name;
    return HostFolder() + name;
}

} // namespace

THost::THost() {
    FTerminal.Log = [this](const std::string& line) { Log(line); };
    // After the running dialogue, as the operator's stop command would come.
    FTerminal.StopScanning = [this] { PostCall([this] { StopScanning(); }); };
    FTerminal.ObjectInfo = [this](const std::string& name) -> std::optional<std::string> {
        for (auto& o : FObjects)
            if (o.Room->Name == name) return o.Room->BuildSmsNotifyText();
        return std::nullopt;
    };
    FTerminal.AssignTo(FManager);
}

THost::~THost() {
    // The modems go without a word to their port.
    FTerminal.Destroying = true;
}

void THost::MakeModems(const std::vector<int>& ports) {
    const TNuqSettings settings = LoadSettings(SettingsFileName());
    for (int i = 0; i < settings.ModemCount; ++i) {
        const TModemData& d = settings.Modems[size_t(i)];
        const bool used = std::find(ports.begin(), ports.end(), d.PortNumber) != ports.end();
        if ((!used && !d.SMSReporting) || FManager.ModemList.FindByPort(d.PortNumber)) continue;
        FManager.ModemList.AddModem(d);
        Log("Модем на COM" + std::to_string(d.PortNumber) + ", слушает порт " +
            std::to_string(d.TCPPort));
    }
    FTerminal.AssignTo(FManager);
}

std::string CountText(uint64_t n, const char* one, const char* few, const char* many) {
    const uint64_t tens = n % 100, units = n % 10;
    const char* word = tens >= 11 && tens <= 14 ? many
                       : units == 1             ? one
                       : units >= 2 && units <= 4 ? few
                                                  : many;
    return std::to_string(n) + " " + word;
}

std::string BytesText(uint64_t n) {
    return CountText(n, "байт", "байта", "байт");
}

std::string LogLineText(const std::string& text) {
    // Peers' text reaches the log (lines, names, modem answers): it must not
    // start lines of its own or make one without end.
    std::string line = EscapeControlChars(text);
    if (line.size() <= MaxLogLineBytes) return line;
    size_t cut = MaxLogLineBytes;
    while (cut > 0 && (static_cast<unsigned char>(line[cut]) & 0xC0) == 0x80)
        --cut; // whole characters
    return line.substr(0, cut) + "… (обрезано, всего " + BytesText(line.size()) + ")";
}

void THost::Log(const std::string& text) {
    // The stamp shows whole seconds of the time rounded to the millisecond:
    // made once per second, not once per line.
    static int64_t stampSecond = -1;
    static std::string stamp;
    const TDateTime now = Now();
    const int64_t second = std::llround(now * 86400000.0) / 1000;
    if (second != stampSecond || now < 0) {
        stampSecond = second;
        stamp = DateTimeToStr(now);
    }
    const std::string shown = LogLineText(text);
    std::string line;
    line.reserve(stamp.size() + shown.size() + 4);
    line.append(stamp).append(":  ").append(shown).push_back('\n');
    std::fwrite(line.data(), 1, line.size(), stdout);
    // The lines of one loop pass go out together at the next pass: thousands
    // of objects log hundreds of thousands of lines a second.
    static std::atomic<bool> flushPosted{false};
    if (!flushPosted.exchange(true))
        PostCall([] {
            flushPosted = false;
            std::fflush(stdout);
        });
}

bool THost::LoadObjects(const std::string& fileName, std::string& error) {
    if (!FileExists(fileName)) {
        error = "файл объектов " + fileName + " не найден";
        return false;
    }
    const TIniFile ini(fileName);
    std::vector<int> modemPorts;
    for (const std::string& section : ini.ReadSections())
        if (LinkKindOf(ini.ReadString(section, "Link", "")) == lkGPRS)
            modemPorts.push_back(ini.ReadInteger(section, "ModemPort", 0));
    MakeModems(modemPorts);
    // Objects sharing a script read and check it once: its text, and its
    // first check message ("" when it passes).
    std::map<std::string, std::pair<std::string, std::string>> scripts;
    for (const std::string& section : ini.ReadSections()) {
        auto read = [&](const char* key, const std::string& def = "") {
            return ini.ReadString(section, key, def);
        };
        // A value that does not read, or lies beyond what the link can take,
        // refuses the object: a default in its place would poll a wrong port.
        auto readInt = [&](const char* key, int def, int low, int high) {
            const std::string text = Trim(read(key));
            int value = def;
            if (!text.empty() && !TryStrToInt(text, value))
                throw Exception(std::string("значение ") + key + "=" + text +
                                " не является числом");
            if (value < low || value > high)
                throw Exception(std::string("значение ") + key +
                                (text.empty()
                                     ? std::string(" не задано")
                                     : "=" + text + " вне диапазона " + std::to_string(low) + ".." +
                                           std::to_string(high)));
            return value;
        };
        // Seconds that still fit the timers' milliseconds.
        constexpr int MaxPeriod = 4294967;
        THostObject object;
        object.Section = section;
        object.Room = std::make_unique<TBoilerRoom>();
        TBoilerRoom& room = *object.Room;
        room.Name = read("Name", section);
        room.KeyPass = read("Key");
        object.RequestText = read("RequestText");
        try {
            object.RequestPeriod = readInt("RequestPeriod", 10, 0, MaxPeriod);
            object.DDEPeriod = readInt("DDEPeriod", 5, 0, MaxPeriod);
            room.Status = uint8_t(readInt("Status", 1, 0, 255));
            const std::string script = read("Script");
            if (!script.empty()) {
                auto found = scripts.find(script);
                if (found == scripts.end()) {
                    std::string text, reason;
                    if (!ReadTextFile(PathInHome(script), text, reason))
                        throw Exception("скрипт " + script + " не прочитан: " + reason);
                    tScriptAnalyser analyser;
                    analyser.Analyse(text);
                    const std::string first =
                        analyser.Passed() ? std::string() : analyser.Errors[0].Text;
                    found = scripts.emplace(script, std::make_pair(std::move(text), first)).first;
                }
                if (!found->second.second.empty())
                    throw Exception("скрипт " + script +
                                    " не прошёл проверку: " + found->second.second);
                room.LoadScript(found->second.first);
            }
            room.InfoBytes = std::make_unique<TNuqInfoBytes>();
            room.InfoBytes->LoadFromString(read("InfoBytes"));
            room.Commands.LoadFromString(read("Commands"));
            room.SMSTemplates.LoadFromString(read("SMSTemplates"));
            room.OPCMap.LoadFromString(read("OPCMap"));
            room.SMSNotify = readInt("SMSNotify", 0, 0, 1) != 0;
            std::string phones = read("SMSPhones") + ",";
            for (size_t c; (c = phones.find(',')) != std::string::npos; phones.erase(0, c + 1)) {
                const std::string p = Trim(phones.substr(0, c));
                if (!p.empty()) room.SMSPhones.push_back(p);
            }
            const int kind = LinkKindOf(read("Link"));
            switch (kind) {
            case lkComPort: {
                const int port = readInt("ComPort", 1, 1, 255);
                const int rate = readInt("BaudRate", 9600, 1, INT_MAX);
                static const int rates[] = {110,   300,   600,    1200,   2400,
                                            4800,  9600,  14400,  19200,  38400,
                                            56000, 57600, 115200, 128000, 256000};
                if (std::find(std::begin(rates), std::end(rates), rate) == std::end(rates))
                    throw Exception("значение BaudRate=" + Trim(read("BaudRate")) +
                                    " не является скоростью порта");
                room.SetComPortConnection(port, rate, readInt("DataBits", 8, 4, 8),
                                          readInt("StopBits", 1, 1, 2), readInt("Parity", 0, 0, 4),
                                          readInt("FlowControl", 0, 0, 7));
                break;
            }
            case lkTCP:
                room.SetTCPConnection(read("Host", "127.0.0.1"), readInt("Port", 0, 1, 65535));
                break;
            case lkDDE:
                room.SetDDEConnection(read("DDEService"));
                break;
            case lkGPRS: {
                const int port = readInt("ModemPort", 0, 1, 255);
                if (!FManager.ModemList.FindByPort(port))
                    throw Exception("модем на COM" + std::to_string(port) +
                                    " не описан в setting.ini");
                room.GPRSCallMode = uint8_t(readInt("CallMode", 0, 0, 255));
                room.GPRSApn = read("APN");
                room.GPRSLogin = read("APNLogin");
                room.GPRSPassword = read("APNPassword");
                room.Manager = &FManager;
                room.SetGPRSConnection(port, read("Phone"), read("Ident"));
                break;
            }
            default:
                throw Exception("неизвестный вид связи \"" + read("Link") + "\"");
            }
        } catch (const std::exception& e) {
            // A script's check messages come one per line.
            const std::vector<std::string> lines = SplitLines(e.what());
            Log("Объект " + Quoted(room.Name) + " не загружен: " + (lines.empty() ? "" : lines[0]));
            for (size_t k = 1; k < lines.size(); ++k) Log("    " + lines[k]);
            continue;
        }
        FObjects.push_back(std::move(object));
    }
    for (auto& object : FObjects) AssignEvents(object);
    if (FObjects.empty()) error = "в файле " + fileName + " нет объектов, которые можно запустить";
    return !FObjects.empty();
}

void THost::AssignEvents(THostObject& object) {
    TBoilerRoom& room = *object.Room;
    THostObject* o = &object;
    room.OnStatusChange = [this, o](TBoilerRoom& r, const std::string& msg, int) {
        if (!msg.empty()) {
            Log(msg);
            return;
        }
        const std::string state = r.StateText();
        if (state != o->LastStateText) {
            o->LastStateText = state;
            Log(Quoted(r.Name) + ": " + state);
        }
    };
    room.OnData = [this, o](TBoilerRoom&, const std::string& line) { HandleData(*o, line); };
    room.OnDataSent = [this](TBoilerRoom& r, const std::string& text, bool sent) {
        Log(Quoted(r.Name) + " >>> " + text + (sent ? "" : " (не отправлено)"));
    };
    if (!object.RequestText.empty())
        room.InitRequestTimer(0, [o](TBoilerRoom& r) { r.SendText(o->RequestText, true); });
}

void THost::HandleData(THostObject& object, const std::string& line) {
    // A decode runs the loop once per block, and a packet of the same object
    // arriving meanwhile (a modem delivers as it reads) would overwrite the
    // values before they are shown: it waits its turn.
    object.PendingData.push_back(line);
    if (object.Handling) return;
    object.Handling = true;
    while (!object.PendingData.empty()) {
        const std::string next = std::move(object.PendingData.front());
        object.PendingData.pop_front();
        ShowData(object, next);
    }
    object.Handling = false;
}

void THost::ShowData(THostObject& object, const std::string& line) {
    TBoilerRoom& room = *object.Room;
    if (line.empty() && room.LinkKind == lkDDE) {
        Log(Quoted(room.Name) + ": не удалось прочитать данные OPC/DDE");
        return;
    }
    if (!IsHexText(line)) {
        Log(Quoted(room.Name) + " <<< " + line);
        return;
    }
    room.StopProcessTimer();
    room.LastDataTime = Now();
    const TByteList bytes = HexToByteList(line);
    room.DecodePacket(std::string(bytes.begin(), bytes.end()));
    // The terminal takes the object's alarm code from its packet.
    const tBlock* alarm = AlarmCodeBlock(room);
    room.AlarmCode = alarm ? AlarmCodeOf(*alarm) : 0;
    Log(Quoted(room.Name) + ": пакет " + BytesText(bytes.size()));
    for (int i = 0; i < room.Blocks.Count(); ++i) {
        const tBlock& block = room.Blocks.Items(i);
        // The alarm code is shown, hidden from the parameter table or not.
        if (!block.Visible && &block != alarm) continue;
        const std::string unit = Trim(block.GetUnitSuffix());
        const std::string alarmText = &block == alarm ? room.GetAlarmText() : std::string();
        for (int k = 0; k < block.DecodeList.Count(); ++k) {
            const tDecodeResult r = block.DecodeList.GetItem(k);
            Log("    " + r.Caption + " = " + r.Value + (unit.empty() ? "" : " " + unit) +
                (alarmText.empty() ? "" : " (" + alarmText + ")") + (r.Alarm ? "  [АВАРИЯ]" : ""));
        }
    }
}

void THost::StartScanning() {
    FScanning = true;
    FTerminal.Stopping = false;
    FTerminal.NotRunning = false;
    for (int i = 0; i < FManager.ModemList.Count(); ++i) {
        TGPRSModem& m = FManager.ModemList.Items(i);
        m.Connect();
        m.GetBalance();
    }
    for (auto& object : FObjects) {
        // Timers first, so a link that comes up inside Start asks at once.
        object.Room->EnableTimers(true);
        object.Room->Start(object.RequestPeriod, object.DDEPeriod);
    }
}

void THost::StopScanning() {
    if (!FScanning) return;
    FScanning = false;
    FTerminal.Stopping = true;
    for (auto& object : FObjects) object.Room->Stop();
    for (int i = 0; i < FManager.ModemList.Count(); ++i) FManager.ModemList.Items(i).Disconnect();
    FTerminal.NotRunning = true;
    FTerminal.Stopping = false;
}

} // namespace nuq::app
