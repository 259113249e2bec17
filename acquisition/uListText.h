#pragma once
// The one-line form every configuration text of an object is kept in (info
// bytes, commands, SMS templates, the DDE item map): fields of a record
// joined by #2, each record of a list followed by #1, sections separated by
// #3 or #4, the whole as the cp1251 bytes of that text in standard Base64.
//
// Fields are read by number with ExtractWord, which treats a run of
// separators as one; so a text field is written with one trailing blank (an
// empty text would otherwise vanish and shift every later field) and
// numbers are never empty.

#include "foundation/fhStrUtils.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace nuq {

inline constexpr char ListRecordEnd = '\x01';
inline constexpr char ListFieldSep = '\x02';
inline constexpr char ListSection3 = '\x03';
inline constexpr char ListSection4 = '\x04';

// UTF-8 text -> Base64 of its cp1251 bytes, and back. Text that is not
// valid Base64 (after leading and trailing white space) decodes to an empty
// text, so every field read from it takes its default.
std::string EncodeListText(std::string_view text);
std::string DecodeListText(std::string_view base64);

// Builds one record, fields joined by #2.
class tListRecordWriter {
public:
    void AddInt(int64_t value);
    void AddFloat(double value);
    // The text and its trailing blank. The separators #1..#4 would break
    // the record apart when read, so they are written as blanks.
    void AddText(std::string_view text);
    // Lines joined by CR LF with a trailing CR LF, then the blank; #3 is
    // kept, as it splits a line into its value and caption.
    void AddLines(const std::vector<std::string>& lines);

    const std::string& Text() const { return FText; }

private:
    void Next();
    std::string FText;
    bool FEmpty = true;
};

// Reads the fields of one record by number (1-based), each trimmed of
// blanks. A field that is missing or does not convert gives the default.
class tListRecordReader {
public:
    explicit tListRecordReader(std::string_view record, TCharSet separators = {ListFieldSep});

    bool Has(int n) const;
    // Decimal integers only, with an optional sign.
    bool ReadInt(int n, int& value) const;
    bool ReadFloat(int n, double& value) const;

    int Int(int n, int def) const;
    uint8_t Byte(int n, uint8_t def) const; // truncated to 8 bits
    bool Bool(int n, bool def) const;       // non-zero byte is true
    double Float(int n, double def) const;
    std::string Text(int n, std::string_view def = {}) const;
    // The field's lines split at CR and LF. The field is not trimmed: that
    // would take the #3 off a last line whose caption is empty.
    std::vector<std::string> Lines(int n) const;

private:
    std::string FRecord;
    TCharSet FSeparators;
};

// The record texts of a list (each followed by #1), trimmed; a run of #1
// makes no empty record.
std::vector<std::string> SplitListRecords(std::string_view list);

} // namespace nuq
