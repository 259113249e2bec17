#pragma once
// The runtime's variant, reduced to the kinds of value the system passes to
// and reads from the database: empty (never assigned), null, Boolean,
// integer, double, date-time and text.

#include <concepts>
#include <cstdint>
#include <string>
#include <variant>

#include "platform/DateUtils.h"
#include "platform/SysUtils.h"

namespace nuq {

enum class TVarType { Empty, Null, Boolean, Integer, Double, DateTime, Text };

// A value that does not convert to the kind asked for (null to a number,
// "abc" to an integer).
class EVariantError : public Exception {
public:
    using Exception::Exception;
};

class Variant {
public:
    Variant() = default; // empty
    Variant(bool value) : V(value) {}
    template <std::integral T>
    requires(!std::same_as<T, bool> && !std::same_as<T, char>) Variant(T value)
        : V(int64_t(value)) {}
    Variant(double value) : V(value) {}
    Variant(const char* value) : V(std::string(value)) {}
    Variant(std::string value) : V(std::move(value)) {}
    Variant(std::string_view value) : V(std::string(value)) {}

    // TDateTime is a double; a date-time has to be asked for by name.
    static Variant FromDateTime(TDateTime value);
    static Variant Null();

    TVarType Type() const;
    bool IsEmpty() const { return Type() == TVarType::Empty; }
    bool IsNull() const { return Type() == TVarType::Null; }

    // Conversions with the runtime's rules: empty reads as False, 0 or "";
    // null reads as "" but raises for every other kind; text converts with
    // the runtime's number and Boolean rules.
    bool AsBoolean() const;
    int64_t AsInteger() const;
    double AsDouble() const;
    TDateTime AsDateTime() const;
    std::string AsString() const;

    // Same kind and same value; empty and null equal only themselves.
    bool operator==(const Variant& other) const { return V == other.V; }

private:
    struct NullTag {
        bool operator==(const NullTag&) const = default;
    };
    struct DateTag {
        TDateTime Value;
        bool operator==(const DateTag&) const = default;
    };
    std::variant<std::monostate, NullTag, bool, int64_t, double, DateTag, std::string> V;
};

// The kind's name as error messages show it.
std::string VarTypeName(TVarType type);

} // namespace nuq
