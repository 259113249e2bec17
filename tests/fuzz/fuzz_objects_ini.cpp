// The host's objects.ini, its setting.ini and the packet scripts they name,
// as an operator may write them: loading never fails badly, an object that
// cannot load is left out without taking the others with it, and what loads
// is what its section says.
//
// The input is cut at NUL bytes into objects.ini, setting.ini, a.nqs and
// b.nqs, written into a private home folder.

#include "FuzzCheck.h"
#include "app/nuq_host.h"
#include "platform/Cp1251.h"
#include "platform/EventLoop.h"
#include "platform/Host.h"
#include "platform/IniFiles.h"
#include "platform/SysUtils.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>
#include <vector>

using namespace nuq;

namespace {

char HomeDir[] = "/tmp/nuq-fuzz-home.XXXXXX";
const char* const Files[] = {"objects.ini", "setting.ini", "a.nqs", "b.nqs"};

void RemoveHome() {
    for (const char* f : Files) std::remove((std::string(HomeDir) + "/" + f).c_str());
    rmdir(HomeDir);
}

std::string Home() {
    static const bool made = [] {
        if (!mkdtemp(HomeDir)) std::abort();
        std::atexit(RemoveHome);
        return true;
    }();
    (void)made;
    return std::string(HomeDir) + "/";
}

void Write(const std::string& name, const std::string& bytes) {
    std::ofstream f(Home() + name, std::ios::binary | std::ios::trunc);
    f << bytes;
}

// A link kind written as the host reads it; -1 for none.
int KindOf(const std::string& text) {
    const std::string t = UpperCase(Trim(text));
    if (t == "COM" || t == "0") return 0;
    if (t == "TCP" || t == "1") return 1;
    if (t == "DDE" || t == "2") return 2;
    if (t == "GPRS" || t == "3") return 3;
    return -1;
}

// The link is set up as the section says.
void CheckLink(app::THost& host, const std::string& section, const TIniFile& ini,
               const TBoilerRoom& room) {
    auto readInt = [&](const char* key, int def) { return ini.ReadInteger(section, key, def); };
    switch (room.LinkKind) {
    case lkComPort: {
        const TSerComm* port = room.SerialPort();
        FUZZ_CHECK(port && port->PortNum() == readInt("ComPort", 1));
        static const int rates[] = {110,   300,   600,   1200,  2400,   4800,   9600,  14400,
                                    19200, 38400, 56000, 57600, 115200, 128000, 256000};
        const int rate = readInt("BaudRate", 9600);
        TSerBaudrate want = br9600;
        for (size_t i = 0; i < std::size(rates); ++i)
            if (rates[i] == rate) want = TSerBaudrate(br110 + int(i));
        FUZZ_CHECK(port->Baudrate() == want);
        const int bits = readInt("DataBits", 8);
        FUZZ_CHECK(port->Databits() == (bits >= 4 && bits <= 7 ? TSerDatabits(bits - 4) : db8));
        FUZZ_CHECK(port->Stopbits() == (readInt("StopBits", 1) == 2 ? sb2 : sb1));
        break;
    }
    case lkDDE:
        FUZZ_CHECK(room.DDEServiceName == ini.ReadString(section, "DDEService", ""));
        break;
    case lkGPRS: {
        const TGPRSModem* modem = host.Manager().ModemList.FindByPort(readInt("ModemPort", 0));
        FUZZ_CHECK(modem != nullptr);
        const TAttachedBoilerRoom* a = modem->Attached.FindByBoilerRoom(&room);
        FUZZ_CHECK(a && a->Phone == ini.ReadString(section, "Phone", "") &&
                   a->Ident == ini.ReadString(section, "Ident", ""));
        break;
    }
    default:
        break;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool once = [] {
        SetMainThread();
        SetHostFolder(Home());
        // The host logs every object to the console; the fuzzer's own
        // reports go to stderr.
        const int null = open("/dev/null", O_WRONLY);
        if (null >= 0) dup2(null, STDOUT_FILENO);
        return true;
    }();
    (void)once;

    const std::string input(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> parts(1);
    for (char c : input) {
        if (c == '\0' && parts.size() < 4)
            parts.emplace_back();
        else
            parts.back() += c;
    }
    parts.resize(4);
    // A script named by a device or a process file would be read without
    // end; the host trusts its operator that far.
    for (const char* bad : {"dev/", "proc/", "sys/", "fd/"})
        if (parts[0].find(bad) != std::string::npos) return 0;
    Write("objects.ini", parts[0]);
    Write("setting.ini", parts[1]);
    Write("a.nqs", parts[2]);
    Write("b.nqs", parts[3]);

    const TIniFile ini = TIniFile::FromBytes(parts[0]);
    const std::vector<std::string> sections = ini.ReadSections();
    app::THost host;
    std::string error;
    const bool loaded = host.LoadObjects(Home() + "objects.ini", error);
    auto& objects = host.Objects();
    FUZZ_CHECK(loaded == !objects.empty());
    FUZZ_CHECK(loaded == error.empty());
    FUZZ_CHECK(objects.size() <= sections.size());

    // The objects come in file order, each from its own section.
    size_t next = 0;
    for (auto& o : objects) {
        while (next < sections.size() && sections[next] != o.Section) ++next;
        FUZZ_CHECK(next < sections.size());
        ++next;
        const TBoilerRoom& room = *o.Room;
        FUZZ_CHECK(IsValidUtf8(room.Name) && IsValidUtf8(room.KeyPass));
        FUZZ_CHECK(room.Name == ini.ReadString(o.Section, "Name", o.Section));
        FUZZ_CHECK(int(room.LinkKind) == KindOf(ini.ReadString(o.Section, "Link", "")));
        FUZZ_CHECK(room.InfoBytes != nullptr);
        CheckLink(host, o.Section, ini, room);
    }

    // A TCP object with a port in range and a host (or none, which means this
    // machine), without a script or other numbers, has nothing that can fail:
    // it loads. (A data-source object also needs an item map that reads.)
    for (const std::string& s : sections) {
        const int kind = KindOf(ini.ReadString(s, "Link", ""));
        if (kind != 1 || !ini.ReadString(s, "Script", "").empty()) continue;
        if (ini.ValueExists(s, "Host") && Trim(ini.ReadString(s, "Host", "")).empty()) continue;
        bool numbers = false;
        for (const char* key : {"RequestPeriod", "DDEPeriod", "Status", "SMSNotify"})
            numbers = numbers || !Trim(ini.ReadString(s, key, "")).empty();
        int port = 0;
        if (numbers || (kind == 1 && (!TryStrToInt(Trim(ini.ReadString(s, "Port", "")), port) ||
                                      port < 1 || port > 65535)))
            continue;
        bool found = false;
        for (auto& o : objects) found = found || o.Section == s;
        FUZZ_CHECK(found);
    }
    return 0;
}
