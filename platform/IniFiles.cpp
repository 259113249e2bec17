#include "platform/IniFiles.h"

#include "platform/Cp1251.h"
#include "platform/SysUtils.h"

#include <fstream>
#include <optional>

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
    Parse(TextFromFileBytes(bytes, &FNotUtf8Lines));
}

TIniFile TIniFile::FromBytes(const std::string& bytes) {
    TIniFile ini;
    ini.Parse(TextFromFileBytes(bytes, &ini.FNotUtf8Lines));
    return ini;
}

void TIniFile::Parse(const std::string& text) {
    std::map<std::string, std::string>* current = nullptr;
    Sections.clear();
    Order.clear();
    Lines.clear();
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find_first_of("\r\n", pos);
        if (end == std::string::npos) end = text.size();
        Lines.emplace_back(text.substr(pos, end - pos));
        std::string line = Trim(Lines.back());
        if (end + 1 < text.size() && text[end] == '\r' && text[end + 1] == '\n') ++end;
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

namespace {

// The section a line heads, upper-cased; nothing for other lines.
std::optional<std::string> SectionOfLine(const std::string& raw) {
    std::string line = Trim(raw);
    if (line.empty() || line[0] != '[') return std::nullopt;
    size_t close = line.find(']');
    return UpperCase(
        Trim(line.substr(1, close == std::string::npos ? std::string::npos : close - 1)));
}

// The key of a line, upper-cased; empty for comments and lines without "=".
std::string KeyOfLine(const std::string& raw) {
    std::string line = Trim(raw);
    size_t eq = line.find('=');
    if (line.empty() || line[0] == ';' || line[0] == '[' || eq == std::string::npos) return {};
    return UpperCase(Trim(line.substr(0, eq)));
}

} // namespace

void TIniFile::WriteString(const std::string& section, const std::string& ident,
                           const std::string& value) {
    // A line break (or a name the reader would cut elsewhere) would write
    // lines the file was not asked to hold, and lose the value.
    const std::string sectionName = Trim(section), name = Trim(ident);
    if (sectionName.find_first_of("]\r\n") != std::string::npos ||
        name.find_first_of("=\r\n") != std::string::npos || name.starts_with(';') ||
        name.starts_with('[') || value.find_first_of("\r\n") != std::string::npos)
        throw EIniFileException("Не удалось записать [" + sectionName + "] " + name + " в " + Name +
                                ": перевод строки или разделитель в имени или значении");
    const std::string sec = UpperCase(Trim(section)), key = UpperCase(Trim(ident));
    const std::string line = Trim(ident) + "=" + value;
    size_t i = 0;
    while (i < Lines.size() && SectionOfLine(Lines[i]) != sec) ++i;
    if (i == Lines.size()) {
        if (!Lines.empty() && !Trim(Lines.back()).empty()) Lines.emplace_back();
        Lines.push_back("[" + Trim(section) + "]");
        Lines.push_back(line);
    } else {
        size_t last = i; // the section's last non-blank line
        size_t j = i + 1;
        for (; j < Lines.size() && !SectionOfLine(Lines[j]); ++j) {
            if (!key.empty() && KeyOfLine(Lines[j]) == key) break;
            if (!Trim(Lines[j]).empty()) last = j;
        }
        if (j < Lines.size() && !SectionOfLine(Lines[j]))
            Lines[j] = line;
        else
            Lines.insert(Lines.begin() + ptrdiff_t(last + 1), line);
    }
    Save();
}

void TIniFile::EraseSection(const std::string& section) {
    // Every copy goes: a later one would otherwise come to light in its place.
    const std::string sec = UpperCase(Trim(section));
    bool erased = false;
    for (size_t i = 0; i < Lines.size();) {
        if (SectionOfLine(Lines[i]) != sec) {
            ++i;
            continue;
        }
        size_t j = i + 1;
        while (j < Lines.size() && !SectionOfLine(Lines[j])) ++j;
        Lines.erase(Lines.begin() + ptrdiff_t(i), Lines.begin() + ptrdiff_t(j));
        erased = true;
    }
    if (erased) Save();
}

void TIniFile::Save() {
    std::string text;
    for (const auto& l : Lines) text += l + "\n";
    if (Name.empty()) {
        Parse(text);
        return;
    }
    std::ofstream out(Name, std::ios::binary | std::ios::trunc);
    if (out) out << text;
    if (!out || !out.flush()) throw EIniFileException("Не удалось записать файл " + Name);
    Parse(text);
}

int TCustomIniFile::ReadInteger(const std::string& section, const std::string& ident,
                                int def) const {
    return StrToIntDef(ReadString(section, ident, ""), def);
}

void TCustomIniFile::WriteInteger(const std::string& section, const std::string& ident, int value) {
    WriteString(section, ident, std::to_string(value));
}

bool TCustomIniFile::ReadBool(const std::string& section, const std::string& ident,
                              bool def) const {
    return ReadInteger(section, ident, def ? 1 : 0) != 0;
}

void TCustomIniFile::WriteBool(const std::string& section, const std::string& ident, bool value) {
    WriteString(section, ident, value ? "1" : "0");
}

std::vector<std::string> TIniFile::ReadSections() const {
    std::vector<std::string> names;
    for (const auto& name : Order)
        if (SectionExists(name)) names.push_back(name);
    return names;
}

} // namespace nuq
