#pragma once
// The packet script of a boiler room: a small text that says how each byte of
// its information packet is shown. tScriptAnalyser checks the text, reporting
// every fault with its line number, and cuts a passed script into one section
// per described byte plus the alarm-code texts.

#include <array>
#include <memory>
#include <string>
#include <vector>

namespace nuq {

// Texts of one bit of a composite byte; Error is the bit value that means an
// alarm (0 or 1), -1 for none.
struct tBitDescription {
    std::string Caption;
    std::string On0;
    std::string On1;
    int Error = -1;
};
using tBitDescriptions = std::array<tBitDescription, 8>; // [0] is bit 1

// One check message and the line it is about (0 when about the whole script).
struct tScriptError {
    std::string Text;
    int Line = 0;
};

// One "#defbyte" section: its statements and the values read from them.
// Every getter reads the section text anew.
class tScriptSection {
public:
    std::vector<std::string> Lines; // the section's statements
    int ByteNumber = 0;

    const std::string& Text() const { return FText; }
    // Fills Lines and ByteNumber; a byte number that is not an integer raises EConvertError.
    void SetText(const std::string& text);

    int GetByteNumber() const { return ByteNumber; }
    int GetType() const; // 1..7 by the type word, 0 for anything else or none
    std::string GetCaption() const;
    std::string GetMetricUnit() const;
    std::string GetNaN() const; // upper case, '' when absent
    bool GetVisible() const;    // false only for exactly "False"
    // Raise EConvertError when absent or not a number.
    int GetDimension() const;
    double GetBottomLimit() const;
    double GetTopLimit() const;
    tBitDescriptions GetBits() const;
    // CR LF + number + #1 + text for each "DefNumber" entry, in order.
    std::string GetParameters() const;

private:
    std::string FText;
};

class tScriptSections {
public:
    tScriptSection& Add(const std::string& text);
    tScriptSection& Items(int index) const; // EListError outside 0..Count-1
    int Count() const { return int(List.size()); }
    void Delete(int index);
    void Clear() { List.clear(); }

private:
    std::vector<std::unique_ptr<tScriptSection>> List;
};

class tScriptAnalyser {
public:
    std::vector<std::string> Lines; // preprocessed statements: text ";" line number
    std::string Script;
    std::vector<tScriptError> Errors;
    std::string CrashText; // CR LF + code + #1 + text per alarm entry
    tScriptSections Sections;

    // Stores, preprocesses and checks the text; fills Sections and CrashText
    // only when the check finds nothing. Never raises.
    void Analyse(const std::string& script);
    // Statements holding "#defbyte", whether or not the check passed.
    int GetSectionCount() const;
    bool Passed() const { return Errors.empty(); }
};

} // namespace nuq
