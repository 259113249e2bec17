#include "platform/SysUtils.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <sys/stat.h>

namespace nuq {

namespace {

bool IsBlank(char c) {
    return static_cast<unsigned char>(c) <= ' ';
}

std::string_view TrimView(std::string_view s) {
    size_t b = 0, e = s.size();
    while (b < e && IsBlank(s[b])) ++b;
    while (e > b && IsBlank(s[e - 1])) --e;
    return s.substr(b, e - b);
}

} // namespace

bool TryStrToInt64(std::string_view s, int64_t& value) {
    s = TrimView(s);
    bool negative = false;
    if (!s.empty() && (s[0] == '-' || s[0] == '+')) {
        negative = s[0] == '-';
        s.remove_prefix(1);
    }
    int base = 10;
    if (!s.empty() && s[0] == '$') {
        base = 16;
        s.remove_prefix(1);
    } else if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
        base = 16;
        s.remove_prefix(2);
    }
    if (s.empty()) return false;
    uint64_t magnitude = 0;
    auto [ptr, ec] = std::from_chars(s.data(), s.data() + s.size(), magnitude, base);
    if (ec != std::errc() || ptr != s.data() + s.size()) return false;
    if (base == 16) {
        // Hexadecimal texts name a bit pattern: up to 16 digits wrap into the sign.
        int64_t v = static_cast<int64_t>(magnitude);
        value = negative ? -v : v;
        return true;
    }
    if (negative) {
        if (magnitude > uint64_t(INT64_MAX) + 1) return false;
        value = static_cast<int64_t>(0 - magnitude);
    } else {
        if (magnitude > uint64_t(INT64_MAX)) return false;
        value = static_cast<int64_t>(magnitude);
    }
    return true;
}

bool TryStrToInt(std::string_view s, int& value) {
    int64_t v;
    if (!TryStrToInt64(s, v)) return false;
    std::string_view t = TrimView(s);
    bool hex = t.find('$') != std::string_view::npos || t.find("0x") != std::string_view::npos ||
               t.find("0X") != std::string_view::npos;
    if (hex) {
        // A 32-bit hexadecimal pattern such as $FFFFFFFF reads as -1.
        if (v < INT32_MIN || v > int64_t(UINT32_MAX)) return false;
        value = static_cast<int32_t>(static_cast<uint32_t>(v));
        return true;
    }
    if (v < INT32_MIN || v > INT32_MAX) return false;
    value = static_cast<int>(v);
    return true;
}

int StrToInt(std::string_view s) {
    int v;
    if (!TryStrToInt(s, v))
        throw EConvertError("'" + std::string(s) + "' не является допустимым целым числом");
    return v;
}

int64_t StrToInt64(std::string_view s) {
    int64_t v;
    if (!TryStrToInt64(s, v))
        throw EConvertError("'" + std::string(s) + "' не является допустимым целым числом");
    return v;
}

int StrToIntDef(std::string_view s, int def) {
    int v;
    return TryStrToInt(s, v) ? v : def;
}

bool TryStrToFloat(std::string_view s, double& value) {
    std::string t(TrimView(s));
    if (t.empty()) return false;
    for (char& c : t) {
        if (c == DecimalSeparator)
            c = '.';
        else if (c == '.' || c == ',')
            return false; // not the separator in force
    }
    // Only digits, one sign, one point and an exponent are numbers here;
    // strtod would also take "inf", "nan" and hexadecimal floats.
    for (char c : t)
        if (!(std::isdigit(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == '+' ||
              c == 'e' || c == 'E'))
            return false;
    errno = 0;
    char* end = nullptr;
    double v = std::strtod(t.c_str(), &end);
    if (end != t.c_str() + t.size() || errno == ERANGE || !std::isfinite(v)) return false;
    value = v;
    return true;
}

double StrToFloat(std::string_view s) {
    double v;
    if (!TryStrToFloat(s, v))
        throw EConvertError("'" + std::string(s) + "' не является допустимым числом");
    return v;
}

namespace {

// Puts the digits of %.*e output (First..Last) in general form: fixed
// notation while the decimal exponent lies in [-4, precision), else
// d.dddE[-]x.
std::string GeneralForm(const char* first, const char* last, int precision) {
    const bool negative = *first == '-';
    if (negative) ++first;
    char mantissa[32];
    int size = 0;
    for (; first != last && *first != 'e'; ++first)
        if (*first != '.' && size < int(sizeof mantissa)) mantissa[size++] = *first;
    int exponent = 0;
    if (first != last) {
        ++first;
        if (*first == '+') ++first;
        std::from_chars(first, last, exponent);
    }
    while (size > 1 && mantissa[size - 1] == '0') --size;

    char out[64];
    int n = 0;
    auto put = [&](char c) { out[n++] = c; };
    if (negative) put('-');
    if (exponent >= precision || exponent < -4) {
        put(mantissa[0]);
        if (size > 1) {
            put(DecimalSeparator);
            for (int i = 1; i < size; ++i) put(mantissa[i]);
        }
        put('E');
        n = int(std::to_chars(out + n, out + sizeof out, exponent).ptr - out);
    } else if (exponent < 0) {
        put('0');
        put(DecimalSeparator);
        for (int i = 0; i < -exponent - 1; ++i) put('0');
        for (int i = 0; i < size; ++i) put(mantissa[i]);
    } else {
        const int intDigits = exponent + 1;
        for (int i = 0; i < intDigits; ++i) put(i < size ? mantissa[i] : '0');
        if (size > intDigits) {
            put(DecimalSeparator);
            for (int i = intDigits; i < size; ++i) put(mantissa[i]);
        }
    }
    return std::string(out, size_t(n));
}

// The fewest significant digits (up to MaxDigits) whose correctly rounded
// text reads back to Value, in general form. The search starts at the length
// of the shortest text that reads back, since no shorter one can.
template <class T> std::string ShortestGeneralForm(T value, int maxDigits) {
    char buf[64];
    const char* shortest =
        std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific).ptr;
    int digits = 0;
    for (const char* p = buf; p != shortest && *p != 'e'; ++p)
        if (*p >= '0' && *p <= '9') ++digits;
    for (digits = std::max(digits, 1); digits < maxDigits; ++digits) {
        const char* end = std::to_chars(buf, buf + sizeof buf, double(value),
                                        std::chars_format::scientific, digits - 1)
                              .ptr;
        T back{};
        std::from_chars(buf, end, back);
        if (back == value) return GeneralForm(buf, end, 15);
    }
    const char* end = std::to_chars(buf, buf + sizeof buf, double(value),
                                    std::chars_format::scientific, maxDigits - 1)
                          .ptr;
    return GeneralForm(buf, end, 15);
}

} // namespace

std::string FloatToStr(double value) {
    if (std::isnan(value)) return "NAN";
    if (std::isinf(value)) return value > 0 ? "INF" : "-INF";
    if (value == 0) return "0";
    return ShortestGeneralForm(value, 15);
}

std::string SingleToStr(float value) {
    if (std::isnan(value)) return "NAN";
    if (std::isinf(value)) return value > 0 ? "INF" : "-INF";
    if (value == 0) return "0";
    return ShortestGeneralForm(value, 9);
}

std::string IntToStr(int64_t value) {
    return std::to_string(value);
}

std::string Trim(std::string_view s) {
    return std::string(TrimView(s));
}

std::string TrimLeft(std::string_view s) {
    size_t b = 0;
    while (b < s.size() && IsBlank(s[b])) ++b;
    return std::string(s.substr(b));
}

std::string TrimRight(std::string_view s) {
    size_t e = s.size();
    while (e > 0 && IsBlank(s[e - 1])) --e;
    return std::string(s.substr(0, e));
}

std::string UpperCase(std::string_view s) {
    std::string r(s);
    for (char& c : r)
        if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
    return r;
}

std::string LowerCase(std::string_view s) {
    std::string r(s);
    for (char& c : r)
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    return r;
}

std::vector<std::string> SplitLines(std::string_view text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t i = start;
        while (i < text.size() && text[i] != '\r' && text[i] != '\n') ++i;
        lines.emplace_back(text.substr(start, i - start));
        if (i < text.size() && text[i] == '\r') ++i;
        if (i < text.size() && text[i] == '\n') ++i;
        start = i;
    }
    return lines;
}

bool FileExists(const std::string& path) {
    struct stat st;
    return !path.empty() && stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string SystemErrorText(int error) {
    struct Entry {
        int error;
        const char* text;
    };
    static const Entry texts[] = {
        {EPERM, "операция не позволена"},
        {ENOENT, "нет такого файла или каталога"},
        {EINTR, "системный вызов прерван"},
        {EIO, "ошибка ввода-вывода"},
        {ENXIO, "нет такого устройства или адреса"},
        {EBADF, "неверный дескриптор файла"},
        {EAGAIN, "ресурс временно недоступен"},
        {ENOMEM, "недостаточно памяти"},
        {EACCES, "отказано в доступе"},
        {EBUSY, "устройство или ресурс занято"},
        {EEXIST, "файл уже существует"},
        {ENODEV, "нет такого устройства"},
        {ENOTDIR, "это не каталог"},
        {EISDIR, "это каталог"},
        {EINVAL, "недопустимый аргумент"},
        {ENFILE, "слишком много открытых файлов в системе"},
        {EMFILE, "слишком много открытых файлов"},
        {ENOTTY, "устройство не поддерживает операцию"},
        {EFBIG, "файл слишком велик"},
        {ENOSPC, "на устройстве не осталось места"},
        {EROFS, "файловая система только для чтения"},
        {EPIPE, "канал закрыт"},
        {ENAMETOOLONG, "слишком длинное имя файла"},
        {ELOOP, "слишком много уровней символьных ссылок"},
        {EDQUOT, "превышена дисковая квота"},
        {ENOTSOCK, "это не сокет"},
        {EADDRINUSE, "адрес уже используется"},
        {EADDRNOTAVAIL, "невозможно назначить запрошенный адрес"},
        {ENETDOWN, "сеть не работает"},
        {ENETUNREACH, "сеть недоступна"},
        {ECONNABORTED, "соединение прервано программой"},
        {ECONNRESET, "соединение сброшено другой стороной"},
        {ENOBUFS, "нет места в буфере"},
        {ENOTCONN, "сокет не подключён"},
        {ETIMEDOUT, "время ожидания соединения истекло"},
        {ECONNREFUSED, "в соединении отказано"},
        {EHOSTDOWN, "узел не работает"},
        {EHOSTUNREACH, "нет маршрута до узла"},
        {EALREADY, "операция уже выполняется"},
        {EINPROGRESS, "операция выполняется"},
    };
    for (const auto& e : texts)
        if (e.error == error) return e.text;
    return "системная ошибка";
}

std::string SystemErrorReason(int error) {
    return SystemErrorText(error) + " (код " + std::to_string(error) + ")";
}

std::string ReadFileBytes(const std::string& path, size_t maxBytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw Exception("Не удалось открыть файл \"" + path + "\": " + SystemErrorReason(errno));
    // Read in pieces so that a device or pipe that never ends stops at the limit.
    std::string bytes;
    char piece[65536];
    while (in) {
        in.read(piece, sizeof piece);
        const size_t got = size_t(in.gcount());
        if (got > maxBytes - bytes.size())
            throw Exception("Файл \"" + path + "\" больше " + std::to_string(maxBytes) + " байт");
        bytes.append(piece, got);
    }
    if (in.bad())
        throw Exception("Не удалось прочитать файл \"" + path + "\": " + SystemErrorReason(errno));
    return bytes;
}

} // namespace nuq
