#include "acquisition/uScriptClasses_Blocks.h"

#include "foundation/uUtils.h"
#include "platform/SysUtils.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace nuq {

namespace {

// Trunc of a value that may be out of range for an integer (a value set from
// outside the decoder); NaN reads as 0.
int64_t SafeTrunc(double v) {
    if (std::isnan(v)) return 0;
    if (v >= 9.2e18) return INT64_MAX;
    if (v <= -9.2e18) return INT64_MIN;
    return static_cast<int64_t>(std::trunc(v));
}

// Decimal text of an integer, as IntToStr gives it, without a string.
std::string_view IntText(int64_t v, char (&buf)[24]) {
    const auto end = std::to_chars(buf, buf + sizeof buf, v).ptr;
    return std::string_view(buf, size_t(end - buf));
}

// The four raw bytes, first most significant, as the common hex conversion
// reads their hexadecimal text.
float RawToFloat(uint32_t bits, bool checkTiny) {
    return PacketFloatFromBits(bits, checkTiny);
}

void CheckIndex(int index, int count) {
    if (index < 0 || index >= count)
        throw EListError("List index out of bounds (" + std::to_string(index) + ")");
}

} // namespace

void TPacketBytes::Assign(std::string_view bytes) {
    bytes = bytes.substr(0, PacketBufferSize);
    while (!bytes.empty() && uint8_t(bytes.back()) == 0xFF) bytes.remove_suffix(1);
    Held.assign(bytes);
    // A long packet followed by short ones would otherwise keep its block.
    if (Held.capacity() > 2 * Held.size() + 64) Held.shrink_to_fit();
}

std::string TPacketBytes::Bytes(size_t count) const {
    count = std::min<size_t>(count, PacketBufferSize);
    std::string out(count, '\xFF');
    Held.copy(out.data(), std::min(count, Held.size()));
    return out;
}

void tDecodeList::Add(std::string_view caption, std::string_view value, bool alarm) {
    if (Used == Items.size()) Items.emplace_back();
    tDecodeResult& r = Items[Used++];
    r.Caption.assign(caption);
    r.Value.assign(value);
    r.Alarm = alarm;
}

tDecodeResult tDecodeList::GetItem(int index) const {
    CheckIndex(index, Count());
    return Items[size_t(index)];
}

void tDecodeList::Delete(int index) {
    CheckIndex(index, Count());
    Items.erase(Items.begin() + index);
    --Used;
}

std::string tMeasuredBlock::GetUnitSuffix() const {
    const std::string unit = Trim(MetricUnit);
    return unit == "'" ? std::string() : " " + unit;
}

bool tMeasuredBlock::NaNCode(int64_t& code) const {
    const std::string text = GetNaN();
    if (!ParsedNaN || text != ParsedNaNText) {
        ParsedNaNValid = !text.empty() && TryStrToInt64("$" + text, ParsedNaNCode);
        ParsedNaNText = text;
        ParsedNaN = true;
    }
    code = ParsedNaNCode;
    return ParsedNaNValid;
}

bool tByteBlock::IsNaN() const {
    if (OutOfBuffer) return true;
    int64_t code;
    return NaNCode(code) && double(code) == Value;
}

void tByteBlock::Decode() {
    DecodeList.Clear();
    char buf[24];
    DecodeList.Add(Caption, IsNaN() ? "-" : IntText(SafeTrunc(Value), buf), false);
}

void tShortIntBlock::Decode() {
    DecodeList.Clear();
    const auto low = static_cast<uint8_t>(SafeTrunc(Value) & 0xFF);
    char buf[24];
    DecodeList.Add(Caption, IsNaN() ? "-" : IntText(SignMagnitudeByteToInt(low), buf), false);
}

void tBitMaskBlock::Decode() {
    DecodeList.Clear();
    const int64_t v = SafeTrunc(Value);
    for (int k = 1; k <= 8; ++k) {
        const tBitRecord& bit = Bits[size_t(k - 1)];
        const int state = int((v >> (k - 1)) & 1);
        const std::string& text = state ? bit.On1 : bit.On0;
        if (!bit.Caption.empty() && !text.empty())
            DecodeList.Add(bit.Caption, text, bit.Error == state);
    }
}

void tParameters::Delete(int index) {
    CheckIndex(index, Count());
    Items.erase(Items.begin() + index);
}

std::string tParameters::GetText(int number) const {
    for (const auto& item : Items)
        if (item.Number == number) return item.Text;
    return {};
}

void tParameterBlock::Decode() {
    DecodeList.Clear();
    const int64_t v = SafeTrunc(Value);
    std::string_view text;
    if (v >= INT32_MIN && v <= INT32_MAX)
        for (const auto& item : Parameters.Items)
            if (item.Number == int(v)) {
                text = item.Text;
                break;
            }
    DecodeList.Add(Caption, text, false);
}

uint32_t tFloatBlock::RawBits() const {
    return uint32_t(Raw[0]) << 24 | uint32_t(Raw[1]) << 16 | uint32_t(Raw[2]) << 8 | Raw[3];
}

double tFloatBlock::GetFloatValue() const {
    return RawToFloat(RawBits(), false);
}

bool tFloatBlock::IsNaN() const {
    if (OutOfBuffer) return true;
    if (GetFloatValue() >= FloatErrorValue) return true;
    int64_t code;
    return NaNCode(code) && code == int64_t(RawBits());
}

void tFloatBlock::Decode() {
    DecodeList.Clear();
    // A reading with no data shows "-" like every other measured type,
    // rather than the conversion's error value. The bits are converted once
    // for the no-data test and the text alike.
    const uint32_t bits = RawBits();
    const float v = RawToFloat(bits, false);
    int64_t code;
    if (OutOfBuffer || v >= FloatErrorValue || (NaNCode(code) && code == int64_t(bits))) {
        DecodeList.Add(Caption, "-", false);
        return;
    }
    // The text shows magnitudes below 1E-7 as 0; the value keeps them.
    DecodeList.Add(Caption, SingleToStr(std::fabs(v) < 1E-7f ? 0.0f : v), false);
}

int tIntegerBlock::GetIntValue() const {
    const int raw = High * 256 + Low;
    return (raw & 0x8000) ? -(raw & 0x7FFF) : raw;
}

bool tIntegerBlock::IsNaN() const {
    if (OutOfBuffer) return true;
    int64_t code;
    return NaNCode(code) && code == High * 256 + Low;
}

void tIntegerBlock::Decode() {
    DecodeList.Clear();
    char buf[24];
    DecodeList.Add(Caption, IsNaN() ? "-" : IntText(GetIntValue(), buf), false);
}

double tRealBlock::ScaledValue() const {
    return RoundByFactor(10000,
                         BottomLimit + RawReading() * ((TopLimit - BottomLimit) / Dimension));
}

bool tRealBlock::IsNaN() const {
    if (OutOfBuffer || Dimension == 0 || RawReading() > Dimension) return true;
    const double v = ScaledValue();
    if (!std::isfinite(v) || std::fabs(v) >= FloatErrorValue) return true;
    int64_t code;
    return NaNCode(code) && code == RawReading();
}

double tRealBlock::GetRealValue() const {
    return IsNaN() ? FloatErrorValue : ScaledValue();
}

void tRealBlock::Decode() {
    DecodeList.Clear();
    if (IsNaN())
        DecodeList.Add(Caption, "-", false);
    else
        DecodeList.Add(Caption, FloatToStr(ScaledValue()), false);
}

int tBlocks::Add(int typeCode) {
    std::unique_ptr<tBlock> block;
    switch (typeCode) {
    case 1:
        block = std::make_unique<tByteBlock>();
        break;
    case 2:
        block = std::make_unique<tShortIntBlock>();
        break;
    case 3:
        block = std::make_unique<tBitMaskBlock>();
        break;
    case 4:
        block = std::make_unique<tParameterBlock>();
        break;
    case 5:
        block = std::make_unique<tFloatBlock>();
        break;
    case 6:
        block = std::make_unique<tIntegerBlock>();
        break;
    case 7:
        block = std::make_unique<tRealBlock>();
        break;
    default:
        return Count() - 1;
    }
    block->BlockType = static_cast<uint8_t>(typeCode);
    List.push_back(std::move(block));
    return Count() - 1;
}

void tBlocks::Append(const tBlocks& other, int from) {
    for (size_t i = size_t(std::clamp(from, 0, other.Count())); i < other.List.size(); ++i)
        List.push_back(other.List[i]->Clone());
}

tBlock& tBlocks::Items(int index) const {
    CheckIndex(index, Count());
    return *List[size_t(index)];
}

void tCrashList::Delete(int index) {
    CheckIndex(index, Count());
    Items.erase(Items.begin() + index);
}

std::string tCrashList::GetText(int code) const {
    for (const auto& item : Items)
        if (item.Code == code) return item.Text;
    return {};
}

} // namespace nuq
