// Arbitrary bytes as an ini file and as the registry store's file, then
// written to: a value written reads back as written, other keys keep theirs,
// and an erased section is gone.
#include "platform/IniFiles.h"
#include "platform/Registry.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

namespace {

// The first section and key names the input itself holds, so writes meet existing lines.
void FirstNames(const std::string& bytes, std::string& section, std::string& key) {
    size_t open = bytes.find('['), close = bytes.find(']', open == std::string::npos ? 0 : open);
    section =
        open < close && close != std::string::npos ? bytes.substr(open + 1, close - open - 1) : "S";
    size_t eq = bytes.find('=', close == std::string::npos ? 0 : close);
    size_t start = eq == std::string::npos ? std::string::npos : bytes.find_last_of("\r\n", eq);
    key = eq == std::string::npos ? "K"
                                  : bytes.substr(start == std::string::npos ? 0 : start + 1,
                                                 eq - (start == std::string::npos ? 0 : start + 1));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    std::string section, key;
    FirstNames(bytes, section, key);

    nuq::TIniFile ini = nuq::TIniFile::FromBytes(bytes);
    const std::string other = ini.ReadString("Other", "Key", "none");
    try {
        ini.WriteString(section, key, "value 1");
        // A blank name makes a line the reader skips.
        if (!nuq::Trim(key).empty() && ini.ReadString(section, key, "") != "value 1")
            __builtin_trap();
        if (nuq::UpperCase(nuq::Trim(section)) != "OTHER" &&
            nuq::UpperCase(nuq::Trim(key)) != "KEY" &&
            ini.ReadString("Other", "Key", "none") != other)
            __builtin_trap();
        ini.EraseSection(section);
        if (!nuq::Trim(key).empty() && ini.ReadString(section, key, "gone") != "gone")
            __builtin_trap();
    } catch (const nuq::EIniFileException&) {
        // names that cannot be written are refused
    }

    // The registry store reads its file from the configuration folder.
    static const std::string dir = [] {
        char tmpl[] = "/tmp/nuq_fuzz_reg_XXXXXX";
        std::string d = mkdtemp(tmpl) ? tmpl : "/tmp";
        setenv("XDG_CONFIG_HOME", d.c_str(), 1);
        std::filesystem::create_directories(d + "/nuq/registry");
        return d;
    }();
    std::ofstream(nuq::TRegIniFile::StoreFileName(nuq::TRegRoot::CurrentUser),
                  std::ios::binary | std::ios::trunc)
        << bytes;
    nuq::TRegIniFile reg("Software\\nuq");
    reg.WriteString(section, key, bytes);
    if (nuq::TRegIniFile("Software\\nuq").ReadString(section, key, "") != bytes) __builtin_trap();
    return 0;
}
