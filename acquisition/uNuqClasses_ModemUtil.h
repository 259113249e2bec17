#pragma once
// Helpers shared by the modem engine's units.

#include <string>
#include <string_view>
#include <vector>

namespace nuq::modem {

inline const std::string CRLF = "\r\n";

// Holds a busy flag or a depth count for the length of a scope, so an
// exception leaving the activity cannot leave it set.
class TBusy {
public:
    explicit TBusy(bool& flag) : Flag(&flag) { flag = true; }
    ~TBusy() { Release(); }
    TBusy(const TBusy&) = delete;
    TBusy& operator=(const TBusy&) = delete;
    void Release() {
        if (Flag) *Flag = false;
        Flag = nullptr;
    }

private:
    bool* Flag;
};

class TDepth {
public:
    explicit TDepth(int& depth) : Depth(depth) { ++Depth; }
    ~TDepth() { --Depth; }
    TDepth(const TDepth&) = delete;
    TDepth& operator=(const TDepth&) = delete;

private:
    int& Depth;
};

// Case-insensitive (ASCII) comparison, as the queues compare their entries.
bool SameText(std::string_view a, std::string_view b);
bool ContainsText(const std::vector<std::string>& list, std::string_view entry);

// A field the modem sends as a decimal number: digits only after trimming.
bool DecimalField(std::string_view s, int& value);

// Fields of a modem line split at Separators, empty fields kept.
std::vector<std::string> SplitFields(std::string_view s, std::string_view separators);

// The socket and the announced length of a read answer as it stands in the
// signal queue; false when either is not a number.
bool ParseReadAnswer(const std::string& s, int& socket, int& len);

// Text with every double-quote character removed.
std::string WithoutQuotes(std::string_view s);

} // namespace nuq::modem
