#pragma once
// The registry as a store of our own: one file per root key under the
// user's configuration folder ($XDG_CONFIG_HOME, else ~/.config, then
// "nuq/registry"), one section per key path. A key path is matched without
// regard to case; sections of a registry key object are its subkeys, as the
// registry ini object of the runtime has them. Values are kept exactly as
// written: nothing is trimmed and no quotes are taken off.

#include <map>
#include <string>
#include <vector>

#include "platform/IniFiles.h"

namespace nuq {

enum class TRegRoot { CurrentUser, LocalMachine, CurrentConfig, ClassesRoot, Users, DynData };

class TRegIniFile : public TCustomIniFile {
public:
    // Key is a path below the root ("Software\\nuq"); read-only never writes.
    explicit TRegIniFile(const std::string& key, TRegRoot root = TRegRoot::CurrentUser,
                         bool readOnly = false);

    const std::string& FileName() const { return Key; }
    TRegRoot Root() const { return FRoot; }
    bool ReadOnly() const { return FReadOnly; }

    std::string ReadString(const std::string& section, const std::string& ident,
                           const std::string& def) const override;
    // EIniFileException when the store cannot be written or is read-only.
    void WriteString(const std::string& section, const std::string& ident,
                     const std::string& value) override;
    // Deletes the subkey with its own subkeys.
    void EraseSection(const std::string& section) override;
    bool ValueExists(const std::string& section, const std::string& ident) const;

    // The file that holds a root's keys.
    static std::string StoreFileName(TRegRoot root);

private:
    std::string KeyPath(const std::string& section) const;
    void Load();
    void Save();

    std::string Key;
    TRegRoot FRoot;
    bool FReadOnly;
    struct TKey {
        std::string Path; // as first written
        std::vector<std::pair<std::string, std::string>> Values;
    };
    std::map<std::string, TKey> Keys; // upper-cased path -> key
};

} // namespace nuq
