#pragma once
// The runtime routines the system is written against: the exception base,
// number and text conversions with the runtime's rules ("$" for hexadecimal,
// "." as the process-wide decimal separator), and a few file helpers.

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace nuq {

// Base of every error the system raises. HelpContext is the design's error
// number where one is given, else 0.
class Exception : public std::runtime_error {
public:
    explicit Exception(const std::string& message, int helpContext = 0)
        : std::runtime_error(message), HelpContext(helpContext) {}
    std::string Message() const { return what(); }
    int HelpContext;
};

// A text that does not convert to the number asked for.
class EConvertError : public Exception {
public:
    using Exception::Exception;
};

// An index outside a list.
class EListError : public Exception {
public:
    using Exception::Exception;
};

// The process-wide decimal separator; the module sets it to "." at load.
inline constexpr char DecimalSeparator = '.';

// Integer conversions: optional blanks around, an optional sign, decimal
// digits, or hexadecimal after "$" or "0x". StrToInt raises EConvertError;
// TryStrToInt returns false and leaves Value alone.
bool TryStrToInt(std::string_view s, int& value);
bool TryStrToInt64(std::string_view s, int64_t& value);
int StrToInt(std::string_view s);
int64_t StrToInt64(std::string_view s);
int StrToIntDef(std::string_view s, int def);

// Floating conversions with DecimalSeparator as the only separator.
bool TryStrToFloat(std::string_view s, double& value);
double StrToFloat(std::string_view s);

// The shortest general decimal form that reads back to the same value
// (at most 15 significant digits for a double, 9 for a single), with
// DecimalSeparator and an exponent only for very large or small magnitudes.
std::string FloatToStr(double value);
std::string SingleToStr(float value);

std::string IntToStr(int64_t value);

std::string Trim(std::string_view s);
std::string TrimLeft(std::string_view s);
std::string TrimRight(std::string_view s);
std::string UpperCase(std::string_view s); // ASCII letters only, as the runtime's
std::string LowerCase(std::string_view s);

// A CR LF (or LF) separated text as its lines; a final line break adds no
// empty line, as a string list reads its text.
std::vector<std::string> SplitLines(std::string_view text);

bool FileExists(const std::string& path);
// The system's error number as the log words it, in Russian. The reason
// form keeps the number beside it: "нет такого файла или каталога (код 2)".
std::string SystemErrorText(int error);
std::string SystemErrorReason(int error);
// Reads a whole file's bytes; raises Exception with the system's reason.
// The whole file; more than maxBytes (a device, an endless pipe) is an error.
std::string ReadFileBytes(const std::string& path, size_t maxBytes = SIZE_MAX);

} // namespace nuq
