#include "platform/Variant.h"

#include <cmath>
#include <limits>

namespace nuq {

namespace {

[[noreturn]] void CannotConvert(TVarType from, TVarType to) {
    throw EVariantError("Could not convert variant of type (" + VarTypeName(from) +
                        ") into type (" + VarTypeName(to) + ")");
}

} // namespace

std::string VarTypeName(TVarType type) {
    switch (type) {
    case TVarType::Empty:
        return "Empty";
    case TVarType::Null:
        return "Null";
    case TVarType::Boolean:
        return "Boolean";
    case TVarType::Integer:
        return "Int64";
    case TVarType::Double:
        return "Double";
    case TVarType::DateTime:
        return "Date";
    case TVarType::Text:
        return "String";
    }
    return "Unknown";
}

Variant Variant::FromDateTime(TDateTime value) {
    Variant v;
    v.V = DateTag{value};
    return v;
}

Variant Variant::Null() {
    Variant v;
    v.V = NullTag{};
    return v;
}

TVarType Variant::Type() const {
    return static_cast<TVarType>(V.index());
}

bool Variant::AsBoolean() const {
    switch (Type()) {
    case TVarType::Empty:
        return false;
    case TVarType::Boolean:
        return std::get<bool>(V);
    case TVarType::Integer:
        return std::get<int64_t>(V) != 0;
    case TVarType::Double:
        return std::get<double>(V) != 0;
    case TVarType::DateTime:
        return std::get<DateTag>(V).Value != 0;
    case TVarType::Text: {
        // Servers that send Booleans as text use these spellings.
        std::string s = UpperCase(Trim(std::get<std::string>(V)));
        if (s == "TRUE" || s == "T" || s == "YES" || s == "Y") return true;
        if (s == "FALSE" || s == "F" || s == "NO" || s == "N") return false;
        int64_t i;
        if (TryStrToInt64(s, i)) return i != 0;
        double d;
        if (TryStrToFloat(s, d)) return d != 0;
        CannotConvert(TVarType::Text, TVarType::Boolean);
    }
    case TVarType::Null:
        break;
    }
    CannotConvert(Type(), TVarType::Boolean);
}

int64_t Variant::AsInteger() const {
    auto fromDouble = [this](double d) {
        if (!std::isfinite(d) || std::fabs(d) >= 9.2e18) CannotConvert(Type(), TVarType::Integer);
        return int64_t(std::llround(d));
    };
    switch (Type()) {
    case TVarType::Empty:
        return 0;
    case TVarType::Boolean:
        return std::get<bool>(V) ? -1 : 0; // the runtime's True is -1
    case TVarType::Integer:
        return std::get<int64_t>(V);
    case TVarType::Double:
        return fromDouble(std::get<double>(V));
    case TVarType::DateTime:
        return fromDouble(std::get<DateTag>(V).Value);
    case TVarType::Text: {
        int64_t i;
        if (TryStrToInt64(std::get<std::string>(V), i)) return i;
        double d;
        if (TryStrToFloat(std::get<std::string>(V), d)) return fromDouble(d);
        throw EVariantError("\"" + std::get<std::string>(V) + "\" is not a valid integer value");
    }
    case TVarType::Null:
        break;
    }
    CannotConvert(Type(), TVarType::Integer);
}

double Variant::AsDouble() const {
    switch (Type()) {
    case TVarType::Empty:
        return 0;
    case TVarType::Boolean:
        return std::get<bool>(V) ? -1 : 0;
    case TVarType::Integer:
        return double(std::get<int64_t>(V));
    case TVarType::Double:
        return std::get<double>(V);
    case TVarType::DateTime:
        return std::get<DateTag>(V).Value;
    case TVarType::Text: {
        double d;
        if (TryStrToFloat(std::get<std::string>(V), d)) return d;
        throw EVariantError("\"" + std::get<std::string>(V) +
                            "\" is not a valid floating point value");
    }
    case TVarType::Null:
        break;
    }
    CannotConvert(Type(), TVarType::Double);
}

TDateTime Variant::AsDateTime() const {
    if (Type() == TVarType::Text || Type() == TVarType::Boolean || Type() == TVarType::Null)
        CannotConvert(Type(), TVarType::DateTime);
    return AsDouble();
}

std::string Variant::AsString() const {
    switch (Type()) {
    case TVarType::Empty:
    case TVarType::Null:
        return "";
    case TVarType::Boolean:
        return std::get<bool>(V) ? "True" : "False";
    case TVarType::Integer:
        return IntToStr(std::get<int64_t>(V));
    case TVarType::Double:
        return FloatToStr(std::get<double>(V));
    case TVarType::DateTime:
        return DateTimeToStr(std::get<DateTag>(V).Value);
    case TVarType::Text:
        return std::get<std::string>(V);
    }
    return "";
}

} // namespace nuq
