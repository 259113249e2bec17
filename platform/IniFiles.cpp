#include "platform/IniFiles.h"

#include "platform/Cp1251.h"
#include "platform/SysUtils.h"

namespace nuq {

namespace {

std::string StripQuotes(std::string value) {
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front())
        return value.substr(1, value.size() - 2);
    return value;
}

} // namespace

TIniFile::TIniFile(const std::string& fileName) : Name(fileName) {
    std::string bytes;
    try {
        if (!FileExists(fileName)) return;
        bytes = ReadFileBytes(fileName);
    } catch (const Exception&) {
        return; // unreadable reads as empty, as the profile functions do
    }
    Parse(TextFromFileBytes(bytes));
}

TIniFile TIniFile::FromBytes(const std::string& bytes) {
    TIniFile ini;
    ini.Parse(TextFromFileBytes(bytes));
    return ini;
}

void TIniFile::Parse(const std::string& text) {
    std::map<std::string, std::string>* current = nullptr;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find_first_of("\r\n", pos);
        if (end == std::string::npos) end = text.size();
        std::string line = Trim(std::string_view(text).substr(pos, end - pos));
        pos = end + 1;
        if (line.empty() || line[0] == ';') continue;
        if (line[0] == '[') {
            size_t close = line.find(']');
            const std::string written =
                Trim(line.substr(1, close == std::string::npos ? std::string::npos : close - 1));
            // A repeated section is not looked at: the first one answers.
            auto [it, added] = Sections.try_emplace(UpperCase(written));
            current = added ? &it->second : nullptr;
            if (added) Order.push_back(written);
            continue;
        }
        size_t eq = line.find('=');
        if (!current || eq == std::string::npos) continue;
        std::string key = UpperCase(Trim(line.substr(0, eq)));
        if (key.empty()) continue;
        current->try_emplace(key, StripQuotes(Trim(line.substr(eq + 1))));
    }
}

const std::string* TIniFile::Find(const std::string& section, const std::string& ident) const {
    auto s = Sections.find(UpperCase(Trim(section)));
    if (s == Sections.end()) return nullptr;
    auto k = s->second.find(UpperCase(Trim(ident)));
    return k == s->second.end() ? nullptr : &k->second;
}

bool TIniFile::SectionExists(const std::string& section) const {
    auto s = Sections.find(UpperCase(Trim(section)));
    return s != Sections.end() && !s->second.empty();
}

bool TIniFile::ValueExists(const std::string& section, const std::string& ident) const {
    return Find(section, ident) != nullptr;
}

std::string TIniFile::ReadString(const std::string& section, const std::string& ident,
                                 const std::string& def) const {
    const std::string* v = Find(section, ident);
    return v ? *v : def;
}

int TIniFile::ReadInteger(const std::string& section, const std::string& ident, int def) const {
    const std::string* v = Find(section, ident);
    return v ? StrToIntDef(*v, def) : def;
}

bool TIniFile::ReadBool(const std::string& section, const std::string& ident, bool def) const {
    return ReadInteger(section, ident, def ? 1 : 0) != 0;
}

std::vector<std::string> TIniFile::ReadSections() const {
    std::vector<std::string> names;
    for (const auto& name : Order)
        if (SectionExists(name)) names.push_back(name);
    return names;
}

} // namespace nuq
