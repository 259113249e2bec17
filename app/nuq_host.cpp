#include "app/nuq_host.h"

#include "acquisition/uScriptClasses.h"
#include "app/nuq_commands.h"
#include "app/nuq_links.h"
#include "foundation/uNuqSettings.h"
#include "foundation/uNuqUtils.h"
#include "foundation/uTrace.h"
#include "platform/Cp1251.h"
#include "platform/EventLoop.h"
#include "platform/Host.h"
#include "platform/IniFiles.h"
#include "platform/ScopeGuard.h"
#include "platform/SerialDevice.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <fcntl.h>
#include <map>
#include <sys/stat.h>
#include <unistd.h>

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

// "COM3 (/dev/ttyS2)": the port and the device it stands for here.
std::string ComPortText(int port) {
    const std::string com = "COM" + std::to_string(port);
    const std::string path = ResolveSerialName(com);
    return path.empty() ? com : com + " (" + path + ")";
}

// The keys of an object's section that the engine reads.
const char* const ObjectKeys[] = {
    "Name",        "Status",        "Link",      "Host",        "Port",        "ComPort",
    "BaudRate",    "DataBits",      "StopBits",  "Parity",      "FlowControl", "DDEService",
    "ModemPort",   "Phone",         "Ident",     "CallMode",    "APN",         "APNLogin",
    "APNPassword", "RequestPeriod", "DDEPeriod", "RequestText", "Script",      "Key",
    "SMSNotify",   "SMSPhones",     "InfoBytes", "Commands",    "OPCMap",      "SMSTemplates"};

bool IsObjectKey(const std::string& key) {
    const std::string k = UpperCase(key);
    return std::any_of(std::begin(ObjectKeys), std::end(ObjectKeys),
                       [&](const char* known) { return UpperCase(known) == k; });
}

// The lines of a text as an ini file splits them: at CR, LF or CR LF.
std::vector<std::string> IniLines(const std::string& text) {
    std::vector<std::string> lines;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find_first_of("\r\n", pos);
        if (end == std::string::npos) end = text.size();
        lines.push_back(text.substr(pos, end - pos));
        if (end + 1 < text.size() && text[end] == '\r' && text[end + 1] == '\n') ++end;
        pos = end + 1;
    }
    return lines;
}

} // namespace

bool ReadHomeFile(const std::string& path, std::string& bytes, std::string& problem) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0) {
        problem = errno == ENOENT ? "не найден" : "не прочитан: " + SystemErrorReason(errno);
        return false;
    }
    if (S_ISDIR(st.st_mode)) {
        problem = "- папка, а не файл";
        return false;
    }
    try {
        // Settings and objects of thousands of boiler rooms stay far below
        // this; a device that never ends does not.
        constexpr size_t MaxHomeFileBytes = size_t(256) << 20;
        const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) throw Exception(SystemErrorReason(errno));
        const TScopeExit closeFd([fd] { close(fd); });
        bytes.clear();
        char piece[65536];
        for (;;) {
            const ssize_t n = read(fd, piece, sizeof piece);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) throw Exception(SystemErrorReason(errno));
            if (n == 0) return true;
            if (bytes.size() + size_t(n) > MaxHomeFileBytes)
                throw Exception("больше " + BytesText(MaxHomeFileBytes));
            bytes.append(piece, size_t(n));
        }
    } catch (const Exception& e) {
        problem = std::string("не прочитан: ") + e.what();
        return false;
    }
}

namespace {} // namespace

THost::THost() : FOutput(STDOUT_FILENO) {
    FOutput.OnLost = [this](int error) { NoteOutputLost(error); };
    FOutput.DroppedLine = [](uint64_t dropped) {
        return LogLine("Стандартный вывод не принимал журнал, пропущено строк: " +
                       std::to_string(dropped));
    };
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
        TakeComPort(d.PortNumber, "модемом [Modem_" + std::to_string(i) + "] из setting.ini");
        Log("Модем на " + ComPortText(d.PortNumber) + ", слушает порт " +
            std::to_string(d.TCPPort));
    }
    FTerminal.AssignTo(FManager);
}

std::string CountText(uint64_t n, const char* one, const char* few, const char* many) {
    const uint64_t tens = n % 100, units = n % 10;
    const char* word = tens >= 11 && tens <= 14   ? many
                       : units == 1               ? one
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

std::string THost::LogLine(const std::string& text) {
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
    return line;
}

void THost::Log(const std::string& text) {
    FOutput.Add(LogLine(text));
    // The lines of one loop pass go out together at the next pass: thousands
    // of objects log hundreds of thousands of lines a second.
    static std::atomic<bool> flushPosted{false};
    if (!flushPosted.exchange(true))
        PostCall([this] {
            flushPosted = false;
            FlushLog();
        });
}

void THost::FlushLog() {
    FOutput.Flush();
}

bool THost::DrainLog(int waitMs) {
    return FOutput.Drain(waitMs);
}

void THost::CheckSettingsFile() {
    const std::string name = SettingsFileName();
    std::string bytes, problem;
    if (!ReadHomeFile(name, bytes, problem)) {
        Log("Файл настроек " + name + " " + problem + ": действуют значения по умолчанию");
        return;
    }
    std::vector<int> notUtf8;
    TextFromFileBytes(bytes, &notUtf8);
    for (int line : notUtf8) Log(NotUtf8LineMessage("Файл " + name, line));
    std::vector<std::string> notes;
    TNuqSettings settings;
    LoadSettings(name, settings, &notes);
    for (const std::string& note : notes) Log("Файл настроек " + name + ": " + note);
}

void THost::CheckObjectsLines(const std::string& fileName, const std::string& text) {
    // What the ini reading passes over in silence: each said once, where it stands.
    std::map<std::string, size_t> sections; // upper-cased name -> its first line
    bool inSection = false, repeated = false;
    const std::vector<std::string> lines = IniLines(text);
    for (size_t i = 0; i < lines.size(); ++i) {
        const std::string line = Trim(lines[i]);
        const std::string where = fileName + ", строка " + std::to_string(i + 1) + ": ";
        if (line.empty() || line[0] == ';') continue;
        if (line[0] == '[') {
            const size_t close = line.find(']');
            const std::string name =
                Trim(line.substr(1, close == std::string::npos ? std::string::npos : close - 1));
            const auto [first, added] = sections.try_emplace(UpperCase(name), i + 1);
            inSection = true;
            repeated = !added;
            if (repeated)
                Log(where + "раздел [" + name + "] повторяет раздел строки " +
                    std::to_string(first->second) + " и не загружен");
            continue;
        }
        const size_t eq = line.find('=');
        const std::string key = eq == std::string::npos ? "" : Trim(line.substr(0, eq));
        if (key.empty())
            Log(where + "строка не является ключом и пропущена: " + line);
        else if (!inSection)
            Log(where + "ключ " + key + " стоит вне раздела и пропущен");
        else if (!repeated && !IsObjectKey(key))
            Log(where + "ключ " + key + " неизвестен и пропущен");
    }
}

void THost::TakeComPort(int port, const std::string& owner) {
    FComOwners.emplace(port, owner);
}

bool THost::LoadObjects(const std::string& fileName, std::string& error) {
    std::string bytes, problem;
    if (!ReadHomeFile(fileName, bytes, problem)) {
        error = "файл объектов " + fileName + " " + problem;
        return false;
    }
    CheckObjectsLines(fileName, TextFromFileBytes(bytes));
    const TIniFile ini = TIniFile::FromBytes(bytes);
    for (int line : ini.NotUtf8Lines()) Log(NotUtf8LineMessage("Файл " + fileName, line));
    std::vector<int> modemPorts;
    for (const std::string& section : ini.ReadSections())
        if (LinkKindOf(ini.ReadString(section, "Link", "")) == lkGPRS)
            modemPorts.push_back(ini.ReadInteger(section, "ModemPort", 0));
    MakeModems(modemPorts);
    // Objects sharing a script read and check it once: its text, and its
    // first check message ("" when it passes).
    std::map<std::string, std::pair<std::string, std::string>> scripts;
    for (const std::string& section : ini.ReadSections()) {
        THostObject object;
        object.Section = section;
        object.Room = std::make_unique<TBoilerRoom>();
        object.Room->Name = ini.ReadString(section, "Name", section);
        try {
            LoadObject(ini, object, scripts);
        } catch (const std::exception& e) {
            // A script's check messages come one per line.
            const std::vector<std::string> lines = SplitLines(e.what());
            Log("Объект " + Quoted(object.Room->Name) +
                " не загружен: " + (lines.empty() ? "" : lines[0]));
            for (size_t k = 1; k < lines.size(); ++k) Log("    " + lines[k]);
            continue;
        }
        if (object.ComPort) TakeComPort(object.ComPort, "объектом " + Quoted(object.Room->Name));
        FObjects.push_back(std::move(object));
    }
    for (auto& object : FObjects) AssignEvents(object);
    LogLinks();
    if (FObjects.empty()) error = "в файле " + fileName + " нет объектов, которые можно запустить";
    return !FObjects.empty();
}

void THost::LoadObject(const TIniFile& ini, THostObject& object,
                       std::map<std::string, std::pair<std::string, std::string>>& scripts) {
    const std::string& section = object.Section;
    auto read = [&](const char* key, const std::string& def = "") {
        return ini.ReadString(section, key, def);
    };
    // A value that does not read, or lies beyond what the link can take,
    // refuses the object: a default in its place would poll a wrong port.
    auto readInt = [&](const char* key, int def, int low, int high) {
        const std::string text = Trim(read(key));
        int value = def;
        if (!text.empty() && !TryStrToInt(text, value))
            throw Exception(std::string("значение ") + key + "=" + text + " не является числом");
        if (value < low || value > high)
            throw Exception(std::string("значение ") + key +
                            (text.empty() ? std::string(" не задано")
                                          : "=" + text + " вне диапазона " + std::to_string(low) +
                                                ".." + std::to_string(high)));
        return value;
    };
    // Seconds that still fit the timers' milliseconds.
    constexpr int MaxPeriod = 4294967;
    TBoilerRoom& room = *object.Room;
    room.KeyPass = read("Key");
    object.RequestText = read("RequestText");
    object.RequestPeriod = readInt("RequestPeriod", 10, 0, MaxPeriod);
    object.DDEPeriod = readInt("DDEPeriod", 5, 0, MaxPeriod);
    room.Status = uint8_t(readInt("Status", 1, 0, 255));
    const std::string script = object.Script = read("Script");
    if (!script.empty()) {
        auto found = scripts.find(script);
        if (found == scripts.end()) {
            std::string text, reason;
            TScriptFileLines lines;
            if (!ReadScriptFile(PathInHome(script), script, text, lines, reason))
                throw Exception("скрипт " + script + " не прочитан: " + reason);
            for (const std::string& line : lines.Said) Log(line);
            tScriptAnalyser analyser;
            analyser.Analyse(text);
            const std::string first = !lines.Refusals.empty() ? lines.Refusals[0]
                                      : analyser.Passed()     ? std::string()
                                                              : analyser.Errors[0].Text;
            found = scripts.emplace(script, std::make_pair(std::move(text), first)).first;
        }
        if (!found->second.second.empty())
            throw Exception("скрипт " + script + " не прошёл проверку: " + found->second.second);
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
    switch (LinkKindOf(read("Link"))) {
    case lkComPort: {
        const int port = readInt("ComPort", 1, 1, 255);
        const int rate = readInt("BaudRate", 9600, 1, INT_MAX);
        static const int rates[] = {110,   300,   600,   1200,  2400,   4800,   9600,  14400,
                                    19200, 38400, 56000, 57600, 115200, 128000, 256000};
        if (std::find(std::begin(rates), std::end(rates), rate) == std::end(rates))
            throw Exception("значение BaudRate=" + Trim(read("BaudRate")) +
                            " не является скоростью порта");
        // A line frames 5 to 8 data bits; 4 would fail only when the port opens.
        const int dataBits = readInt("DataBits", 8, 5, 8);
        const int stopBits = readInt("StopBits", 1, 1, 2);
        const int parity = readInt("Parity", 0, 0, 4);
        const int flow = readInt("FlowControl", 0, 0, 7);
        const auto owner = FComOwners.find(port);
        if (owner != FComOwners.end())
            throw Exception("COM" + std::to_string(port) + " уже занят " + owner->second);
        room.SetComPortConnection(port, rate, dataBits, stopBits, parity, flow);
        object.ComPort = port;
        object.LinkText = ComPortText(port) + ", " + std::to_string(rate) + " бит/с";
        break;
    }
    case lkTCP: {
        const std::string host = Trim(read("Host", "127.0.0.1"));
        if (host.empty()) throw Exception("значение Host не задано");
        const int port = readInt("Port", 0, 1, 65535);
        room.SetTCPConnection(host, port);
        object.LinkText = "TCP " + host + ":" + std::to_string(port);
        break;
    }
    case lkDDE:
        CheckOPCMap(read("OPCMap"), room.OPCMap);
        room.SetDDEConnection(read("DDEService"));
        object.LinkText = "DDE, служба " + read("DDEService");
        break;
    case lkGPRS: {
        const int port = readInt("ModemPort", 0, 1, 255);
        if (!FManager.ModemList.FindByPort(port))
            throw Exception("модем на COM" + std::to_string(port) + " не описан в setting.ini");
        room.GPRSCallMode = uint8_t(readInt("CallMode", 0, 0, 255));
        room.GPRSApn = read("APN");
        room.GPRSLogin = read("APNLogin");
        room.GPRSPassword = read("APNPassword");
        room.Manager = &FManager;
        room.SetGPRSConnection(port, read("Phone"), read("Ident"));
        object.LinkText = "модем на " + ComPortText(port);
        break;
    }
    default:
        throw Exception("неизвестный вид связи \"" + read("Link") + "\"");
    }
}

void THost::LogLinks() {
    for (const auto& object : FObjects) {
        const TBoilerRoom& room = *object.Room;
        std::string line = Quoted(room.Name) + ": связь " + object.LinkText;
        if (object.Script.empty()) line += "; скрипт не задан, пакеты показываются без расшифровки";
        if (room.Status != 1)
            line += "; не опрашивается автоматически: Status=" + std::to_string(room.Status) +
                    (room.Status == 2 ? " (ручной опрос)" : " (обмен данными остановлен)");
        else if (object.RequestPeriod < 1 && room.LinkKind != lkDDE)
            line += "; RequestPeriod=" + std::to_string(object.RequestPeriod) +
                    ": опрашивается один раз при соединении, а затем не опрашивается";
        Log(line);
    }
    LogSharedNames();
}

void THost::LogSharedNames() {
    // Objects of one name cannot be told apart in the log.
    std::map<std::string, std::vector<std::string>> sections;
    for (const auto& object : FObjects) sections[object.Room->Name].push_back(object.Section);
    for (const auto& [name, named] : sections) {
        if (named.size() < 2) continue;
        std::string list;
        for (const std::string& section : named)
            list += (list.empty() ? "[" : ", [") + section + "]";
        Log("Имя " + Quoted(name) + " носят несколько объектов (" + list +
            "): в журнале их не различить");
    }
}

void THost::AssignEvents(THostObject& object) {
    TBoilerRoom& room = *object.Room;
    THostObject* o = &object;
    room.OnStatusChange = [this, o](TBoilerRoom& r, const std::string& msg, int) {
        // The data of a link that went down say nothing of the plant now:
        // the state line shows no mode or alarm again until a packet comes.
        if (r.State != bsConnected) r.LastDataTime = 0;
        if (msg.empty())
            LogState(*o);
        else
            Log(msg);
    };
    room.OnData = [this, o](TBoilerRoom&, const std::string& line) { HandleData(*o, line); };
    room.OnDataSent = [this](TBoilerRoom& r, const std::string& text, bool sent) {
        Log(Quoted(r.Name) + " >>> " + text + (sent ? "" : " (не отправлено)"));
    };
    if (!object.RequestText.empty()) AssignRequests(*this, object);
}

void THost::LogState(THostObject& object) {
    // Scanning's own start and stop pass every object through "not
    // connected": thousands of lines that say nothing.
    if (!FScanning || FStopRequested) return;
    const TBoilerRoom& room = *object.Room;
    const std::string state = room.StateText();
    if (state == object.LastStateText) return;
    object.LastStateText = state;
    // A TCP link that reconnects passes through these at every attempt; its
    // own messages say each loss and attempt.
    if (room.LinkKind == lkTCP && (room.State == bsNotConnected || room.State == bsConnecting))
        return;
    Log(Quoted(room.Name) + ": " + state);
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
    // A failed DDE read is said by the object, once as it starts and once as it ends.
    if (line.empty() && room.LinkKind == lkDDE) return;
    if (!IsHexText(line)) {
        Log(Quoted(room.Name) + " <<< " + line);
        return;
    }
    AnswerReceived(object);
    room.LastDataTime = Now();
    const TByteList bytes = HexToByteList(line);
    room.DecodePacket(std::string(bytes.begin(), bytes.end()));
    // The terminal takes the object's alarm code from its packet.
    const tBlock* alarm = AlarmCodeBlock(room);
    room.AlarmCode = alarm ? AlarmCodeOf(*alarm) : 0;
    Log(Quoted(room.Name) + ": пакет " + BytesText(bytes.size()) +
        (object.Script.empty() ? ": " + line : std::string()));
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
    // The mode and alarm text of the state line come with the packets.
    LogState(object);
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
        TBoilerRoom& room = *object.Room;
        object.LastStateText = room.StateText();
        // Only automatic polling polls; manual polling waits for an operator.
        const bool polled = room.Status == 1;
        // Timers first, so a link that comes up inside Start asks at once.
        if (polled) room.EnableTimers(true);
        room.Start(object.RequestPeriod, object.DDEPeriod);
        if (!polled && room.LinkKind == lkDDE) room.SetRequestInterval(0);
    }
}

void THost::RequestStop() {
    FStopRequested = true;
    // The modems' dialogues ask at every wait and step whether scanning
    // still runs: a pending command must not hold the stop.
    if (FScanning) FTerminal.NotRunning = true;
    AbandonPeerWaits(true);
    QuitLoop();
}

void THost::NoteOutputLost(int error) {
    if (FOutputLost) return;
    FOutputLost = true;
    FOutputLostReason = SystemErrorReason(error);
    RequestStop();
}

void THost::StopScanning() {
    if (!FScanning) return;
    FScanning = false;
    // The stop's own dialogues (closing the modems' services) still run.
    FTerminal.NotRunning = false;
    AbandonPeerWaits(false);
    FTerminal.Stopping = true;
    for (auto& object : FObjects) object.Room->Stop();
    for (int i = 0; i < FManager.ModemList.Count(); ++i) FManager.ModemList.Items(i).Disconnect();
    FTerminal.NotRunning = true;
    FTerminal.Stopping = false;
}

} // namespace nuq::app
