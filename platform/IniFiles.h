#pragma once
// Hand-edited ini files read the way the Windows profile functions read them:
// - section and key names match without regard to case (ASCII letters);
// - blanks around names and values are dropped, then one pair of enclosing
//   quotes (both single or both double) is taken off a value;
// - a line whose first non-blank character is ";" is a comment, a line
//   without "=" is no key, and keys before the first section belong to none;
// - the first occurrence wins, of a section name as of a key within it;
// - a file that is missing or cannot be read holds nothing, so every read
//   returns its default.
// The file is read once, when the object is made; it is UTF-8, or cp1251
// when it is not valid UTF-8. A write changes the first matching line (or
// adds one at the end of the section, or the section at the end of the file)
// and writes the whole file again, as UTF-8; comments and other lines stay.

#include <map>
#include <string>
#include <vector>

#include "platform/SysUtils.h"

namespace nuq {

// A failed write of an ini file or of the registry store.
class EIniFileException : public Exception {
public:
    using Exception::Exception;
};

// What the ini file and the registry store have in common: named values in
// sections, read with a default.
class TCustomIniFile {
public:
    virtual ~TCustomIniFile() = default;
    virtual std::string ReadString(const std::string& section, const std::string& ident,
                                   const std::string& def) const = 0;
    virtual void WriteString(const std::string& section, const std::string& ident,
                             const std::string& value) = 0;
    virtual int ReadInteger(const std::string& section, const std::string& ident, int def) const;
    virtual void WriteInteger(const std::string& section, const std::string& ident, int value);
    virtual bool ReadBool(const std::string& section, const std::string& ident, bool def) const;
    virtual void WriteBool(const std::string& section, const std::string& ident, bool value);
    virtual void EraseSection(const std::string& section) = 0;
};

class TIniFile : public TCustomIniFile {
public:
    explicit TIniFile(const std::string& fileName);
    // An ini text already in memory, decoded as a file's bytes would be.
    static TIniFile FromBytes(const std::string& bytes);

    const std::string& FileName() const { return Name; }
    // Lines (from 1) of a mostly UTF-8 file that were not UTF-8 and were read
    // as cp1251; kept, for the owner to say.
    const std::vector<int>& NotUtf8Lines() const { return FNotUtf8Lines; }

    // A section counts only when it holds at least one key, as listing its
    // keys is how the runtime asks.
    bool SectionExists(const std::string& section) const;
    bool ValueExists(const std::string& section, const std::string& ident) const;
    // The sections that hold keys, as written and in file order.
    std::vector<std::string> ReadSections() const;

    std::string ReadString(const std::string& section, const std::string& ident,
                           const std::string& def) const override;
    // Decimal, or hexadecimal after "$" or "0x"; anything else gives Def.
    int ReadInteger(const std::string& section, const std::string& ident, int def) const override;
    // An integer: non-zero is true; anything that is not an integer gives Def.
    bool ReadBool(const std::string& section, const std::string& ident, bool def) const override;

    // The file is written at once; EIniFileException when it cannot be.
    void WriteString(const std::string& section, const std::string& ident,
                     const std::string& value) override;
    void EraseSection(const std::string& section) override;

private:
    TIniFile() = default;
    void Parse(const std::string& text);
    void Save();
    std::vector<std::string> Lines; // the text as read or written, for rewriting
    const std::string* Find(const std::string& section, const std::string& ident) const;

    std::string Name;
    std::vector<int> FNotUtf8Lines;
    // Upper-cased section name -> upper-cased key -> value.
    std::map<std::string, std::map<std::string, std::string>> Sections;
    std::vector<std::string> Order;
};

} // namespace nuq
