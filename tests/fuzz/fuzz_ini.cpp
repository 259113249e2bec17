// Arbitrary bytes as a hand-edited ini file: reading it and loading the
// settings from it must never fail.
#include "foundation/uNuqSettings.h"
#include "platform/IniFiles.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);

    nuq::TIniFile ini = nuq::TIniFile::FromBytes(bytes);
    // Names taken from the input itself reach sections and keys that exist.
    size_t open = bytes.find('['), close = bytes.find(']', open == std::string::npos ? 0 : open);
    const std::string section0 = open < close && close != std::string::npos
                                     ? bytes.substr(open + 1, close - open - 1)
                                     : std::string();
    size_t eq = bytes.find('=', close == std::string::npos ? 0 : close);
    size_t lineStart = eq == std::string::npos ? 0 : bytes.find_last_of("\r\n", eq);
    if (lineStart == std::string::npos) lineStart = size_t(-1); // the key starts the input
    const std::string key0 =
        eq == std::string::npos ? std::string() : bytes.substr(lineStart + 1, eq - lineStart - 1);
    for (const std::string& section : {std::string("Modem_0"), section0}) {
        (void)ini.SectionExists(section);
        for (const std::string& key : {std::string("K"), key0}) {
            (void)ini.ValueExists(section, key);
            (void)ini.ReadString(section, key, "def");
            (void)ini.ReadInteger(section, key, -1);
            (void)ini.ReadBool(section, key, true);
        }
    }

    // An in-memory file, so no run leaves anything behind.
    static const int fd = memfd_create("setting.ini", 0);
    static const std::string path = "/proc/self/fd/" + std::to_string(fd);
    if (fd < 0 || ftruncate(fd, 0) != 0 ||
        pwrite(fd, bytes.data(), bytes.size(), 0) != ssize_t(bytes.size()))
        return 0;
    nuq::TNuqSettings settings;
    nuq::LoadSettings(path, settings);
    if (settings.ModemCount < 0 || settings.ModemCount > nuq::MaxModemCount ||
        settings.StepCount < 0 || settings.StepCount > nuq::MaxStepCount)
        __builtin_trap();
    return 0;
}
