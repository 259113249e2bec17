#include "platform/Registry.h"

#include "platform/SysUtils.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace nuq {

namespace {

const char* RootName(TRegRoot root) {
    switch (root) {
    case TRegRoot::LocalMachine:
        return "LOCAL_MACHINE";
    case TRegRoot::CurrentConfig:
        return "CURRENT_CONFIG";
    case TRegRoot::ClassesRoot:
        return "CLASSES_ROOT";
    case TRegRoot::Users:
        return "USERS";
    case TRegRoot::DynData:
        return "DYN_DATA";
    default:
        return "CURRENT_USER";
    }
}

// Values and names may hold anything; the file keeps one line per value.
std::string Escape(const std::string& s) {
    std::string out;
    for (char c : s) switch (c) {
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '=':
            out += "\\e";
            break;
        case '[':
            out += "\\b";
            break;
        default:
            out += c;
        }
    return out;
}

std::string Unescape(std::string_view s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '\\' || i + 1 == s.size()) {
            out += s[i];
            continue;
        }
        switch (s[++i]) {
        case 'n':
            out += '\n';
            break;
        case 'r':
            out += '\r';
            break;
        case 'e':
            out += '=';
            break;
        case 'b':
            out += '[';
            break;
        default:
            out += s[i];
        }
    }
    return out;
}

std::string NormalPath(std::string path) {
    std::string out;
    for (char c : path) {
        if (c == '/') c = '\\';
        if (c == '\\' && (out.empty() || out.back() == '\\')) continue;
        out += c;
    }
    while (!out.empty() && out.back() == '\\') out.pop_back();
    return out;
}

} // namespace

std::string TRegIniFile::StoreFileName(TRegRoot root) {
    std::string base;
    if (const char* x = std::getenv("XDG_CONFIG_HOME"); x && *x)
        base = x;
    else if (const char* h = std::getenv("HOME"); h && *h)
        base = std::string(h) + "/.config";
    else
        base = ".";
    return base + "/nuq/registry/" + RootName(root) + ".reg";
}

TRegIniFile::TRegIniFile(const std::string& key, TRegRoot root, bool readOnly)
    : Key(NormalPath(key)), FRoot(root), FReadOnly(readOnly) {
    Load();
}

std::string TRegIniFile::KeyPath(const std::string& section) const {
    std::string s = NormalPath(section);
    if (s.empty()) return Key;
    return Key.empty() ? s : Key + "\\" + s;
}

void TRegIniFile::Load() {
    Keys.clear();
    const std::string file = StoreFileName(FRoot);
    std::ifstream in(file, std::ios::binary);
    if (!in) return; // no store yet: every key is empty
    std::string line;
    TKey* current = nullptr;
    while (std::getline(in, line)) {
        if (!line.empty() && line[0] == '[' && line.back() == ']') {
            std::string path = Unescape(line.substr(1, line.size() - 2));
            current = &Keys[UpperCase(path)];
            current->Path = path;
            continue;
        }
        size_t eq = line.find('=');
        if (!current || eq == std::string::npos) continue;
        current->Values.emplace_back(Unescape(line.substr(0, eq)), Unescape(line.substr(eq + 1)));
    }
}

void TRegIniFile::Save() {
    const std::string file = StoreFileName(FRoot);
    std::string text;
    for (const auto& [upper, k] : Keys) {
        text += "[" + Escape(k.Path) + "]\n";
        for (const auto& [n, v] : k.Values) text += Escape(n) + "=" + Escape(v) + "\n";
    }
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(file).parent_path(), ec);
    // Written beside and renamed, so a failed write never leaves half a store.
    const std::string temp = file + ".tmp";
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        if (out) out << text;
        if (!out || !out.flush()) {
            std::remove(temp.c_str());
            throw EIniFileException("Не удалось записать " + file);
        }
    }
    if (std::rename(temp.c_str(), file.c_str()) != 0) {
        std::remove(temp.c_str());
        throw EIniFileException("Не удалось записать " + file);
    }
}

std::string TRegIniFile::ReadString(const std::string& section, const std::string& ident,
                                    const std::string& def) const {
    auto k = Keys.find(UpperCase(KeyPath(section)));
    if (k == Keys.end()) return def;
    const std::string name = UpperCase(ident);
    for (const auto& [n, v] : k->second.Values)
        if (UpperCase(n) == name) return v;
    return def;
}

bool TRegIniFile::ValueExists(const std::string& section, const std::string& ident) const {
    const std::string marker("\x01\x02");
    return ReadString(section, ident, marker) != marker;
}

void TRegIniFile::WriteString(const std::string& section, const std::string& ident,
                              const std::string& value) {
    if (FReadOnly) throw EIniFileException("Не удалось записать " + KeyPath(section));
    const std::string path = KeyPath(section);
    TKey& k = Keys[UpperCase(path)];
    if (k.Path.empty()) k.Path = path;
    const std::string name = UpperCase(ident);
    auto it = std::find_if(k.Values.begin(), k.Values.end(),
                           [&](const auto& p) { return UpperCase(p.first) == name; });
    if (it != k.Values.end())
        it->second = value;
    else
        k.Values.emplace_back(ident, value);
    Save();
}

void TRegIniFile::EraseSection(const std::string& section) {
    if (FReadOnly) throw EIniFileException("Не удалось записать " + KeyPath(section));
    const std::string path = UpperCase(KeyPath(section));
    std::erase_if(
        Keys, [&](const auto& k) { return k.first == path || k.first.starts_with(path + "\\"); });
    Save();
}

} // namespace nuq
