#include "acquisition/uListText.h"

#include "platform/Cp1251.h"
#include "platform/SysUtils.h"

#include <charconv>
#include <climits>
#include <openssl/evp.h>

namespace nuq {

namespace {

bool IsBase64Char(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' ||
           c == '/';
}

bool IsWhite(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

std::string DecodeBase64(std::string_view t) {
    while (!t.empty() && IsWhite(t.front())) t.remove_prefix(1);
    while (!t.empty() && IsWhite(t.back())) t.remove_suffix(1);
    if (t.empty() || t.size() % 4 != 0 || t.size() > size_t(INT_MAX)) return {};
    // Padding only at the very end, at most two; the decoder counts the bytes
    // "=" stands for, so they are taken off its result.
    size_t padding = 0;
    while (padding < 2 && t[t.size() - 1 - padding] == '=') ++padding;
    for (size_t i = 0; i < t.size() - padding; ++i)
        if (!IsBase64Char(t[i])) return {};
    std::string out(t.size() / 4 * 3, '\0');
    int n = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                            reinterpret_cast<const unsigned char*>(t.data()), int(t.size()));
    if (n < int(padding)) return {};
    out.resize(size_t(n) - padding);
    return out;
}

std::string EncodeBase64(std::string_view bytes) {
    if (bytes.empty()) return {};
    std::string out((bytes.size() + 2) / 3 * 4 + 1, '\0');
    int n =
        EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                        reinterpret_cast<const unsigned char*>(bytes.data()), int(bytes.size()));
    out.resize(size_t(n));
    return out;
}

// A text field must not carry a separator of its own.
std::string WithoutSeparators(std::string_view text, bool keepSection3) {
    std::string out(text);
    for (char& c : out)
        if (c >= ListRecordEnd && c <= ListSection4 && !(keepSection3 && c == ListSection3))
            c = ' ';
    return out;
}

} // namespace

std::string EncodeListText(std::string_view text) {
    return EncodeBase64(Utf8ToCp1251(text));
}

std::string DecodeListText(std::string_view base64) {
    return Cp1251ToUtf8(DecodeBase64(base64));
}

void tListRecordWriter::Next() {
    if (!FEmpty) FText += ListFieldSep;
    FEmpty = false;
}

void tListRecordWriter::AddInt(int64_t value) {
    Next();
    FText += IntToStr(value);
}

void tListRecordWriter::AddFloat(double value) {
    Next();
    FText += FloatToStr(value);
}

void tListRecordWriter::AddText(std::string_view text) {
    Next();
    FText += WithoutSeparators(text, false);
    FText += ' ';
}

void tListRecordWriter::AddLines(const std::vector<std::string>& lines) {
    Next();
    for (const auto& line : lines) {
        FText += WithoutSeparators(line, true);
        FText += "\r\n";
    }
    FText += ' ';
}

tListRecordReader::tListRecordReader(std::string_view record, TCharSet separators)
    : FRecord(record), FSeparators(separators) {}

bool tListRecordReader::Has(int n) const {
    return WordPosition(n, FRecord, FSeparators) != 0;
}

bool tListRecordReader::ReadInt(int n, int& value) const {
    std::string t = Trim(ExtractWord(n, FRecord, FSeparators));
    std::string_view v = t;
    if (!v.empty() && v[0] == '+') {
        v.remove_prefix(1);
        if (!v.empty() && v[0] == '-') return false;
    }
    if (v.empty()) return false;
    int result;
    auto [ptr, ec] = std::from_chars(v.data(), v.data() + v.size(), result, 10);
    if (ec != std::errc() || ptr != v.data() + v.size()) return false;
    value = result;
    return true;
}

bool tListRecordReader::ReadFloat(int n, double& value) const {
    return TryStrToFloat(Trim(ExtractWord(n, FRecord, FSeparators)), value);
}

int tListRecordReader::Int(int n, int def) const {
    int v;
    return ReadInt(n, v) ? v : def;
}

uint8_t tListRecordReader::Byte(int n, uint8_t def) const {
    int v;
    return ReadInt(n, v) ? uint8_t(v) : def;
}

bool tListRecordReader::Bool(int n, bool def) const {
    int v;
    return ReadInt(n, v) ? uint8_t(v) != 0 : def;
}

double tListRecordReader::Float(int n, double def) const {
    double v;
    return ReadFloat(n, v) ? v : def;
}

std::string tListRecordReader::Text(int n, std::string_view def) const {
    if (!Has(n)) return std::string(def);
    return Trim(ExtractWord(n, FRecord, FSeparators));
}

std::vector<std::string> tListRecordReader::Lines(int n) const {
    return SplitLines(ExtractWord(n, FRecord, FSeparators));
}

std::vector<std::string> SplitListRecords(std::string_view list) {
    // The words ExtractWord would give with #1 as separator, in one pass.
    std::vector<std::string> records;
    size_t i = 0;
    while (i < list.size()) {
        if (list[i] == ListRecordEnd) {
            ++i;
            continue;
        }
        size_t end = list.find(ListRecordEnd, i);
        if (end == std::string_view::npos) end = list.size();
        records.push_back(Trim(list.substr(i, end - i)));
        i = end;
    }
    return records;
}

} // namespace nuq
