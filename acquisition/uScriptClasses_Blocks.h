#pragma once
// Typed decoding blocks: one per described byte of a packet script. Each
// block turns its byte or bytes of the packet buffer into a value and one or
// more decoded lines (caption, value text, alarm flag).

#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace nuq {

inline constexpr int PacketBufferSize = 32768;
// A packet as received; byte N of the packet (N from 1) is at index N-1.
using PacketBuffer = std::array<uint8_t, PacketBufferSize>;

// An object's packet buffer: PacketBufferSize bytes that read $FF until a
// packet sets them. Only the bytes before the last one that differs from $FF
// are held, so an object that has received nothing holds none.
class TPacketBytes {
public:
    uint8_t operator[](size_t index) const {
        return index < Held.size() ? uint8_t(Held[index]) : uint8_t(0xFF);
    }
    static constexpr size_t size() { return PacketBufferSize; }
    // The first bytes become Bytes (cut at the buffer's size); all after them read $FF.
    void Assign(std::string_view bytes);
    // Every byte reads $FF.
    void Clear() { std::string().swap(Held); }
    // The first Count bytes (up to the buffer's size), $FF where none is held.
    std::string Bytes(size_t count) const;

private:
    std::string Held;
};

// One decoded line of a block.
struct tDecodeResult {
    std::string Caption;
    std::string Value;
    bool Alarm = false;
};

class tDecodeList {
public:
    void Add(const tDecodeResult& record) { Add(record.Caption, record.Value, record.Alarm); }
    void Add(std::string_view caption, std::string_view value, bool alarm);
    tDecodeResult GetItem(int index) const; // EListError outside the list
    void Delete(int index);
    void Clear() { Used = 0; }
    int Count() const { return int(Used); }

private:
    // The first Used records are the list. Cleared records keep their text
    // buffers, so refilling a block for every packet allocates nothing.
    std::vector<tDecodeResult> Items;
    size_t Used = 0;
};

class tBlock {
public:
    virtual ~tBlock() = default;
    // A block of the same type and settings, and its values as they stand.
    virtual std::unique_ptr<tBlock> Clone() const { return std::make_unique<tBlock>(*this); }

    int ByteNo = 0;
    std::string NaNText; // '' = the type's default no-data code
    double Value = 0;
    std::string Caption;
    bool Visible = true;
    uint8_t BlockType = 0;
    tDecodeList DecodeList;
    // Set while the block's bytes lie outside the packet buffer: it then shows
    // its no-data state instead of reading past the buffer.
    bool OutOfBuffer = false;

    virtual std::string GetNaN() const { return NaNText; }
    virtual bool IsNaN() const { return false; }
    virtual std::string GetUnitSuffix() const { return {}; }
    virtual void Decode() {}
    void SetValue(double v) {
        Value = v;
        Decode();
    }
    // Bytes the block reads from its byte number on.
    virtual int ByteSpan() const { return 1; }
};

// The block types that carry a unit and a no-data code of their own.
class tMeasuredBlock : public tBlock {
public:
    std::string MetricUnit;

    std::string GetNaN() const override { return NaNText.empty() ? DefaultNaN() : NaNText; }
    // '' when the unit is a lone quote, else a blank and the trimmed unit.
    std::string GetUnitSuffix() const override;

protected:
    virtual std::string DefaultNaN() const = 0;
    // The no-data code as a number; false when there is none that converts.
    bool NaNCode(int64_t& code) const;

private:
    // The code last converted and its text: every packet asks again.
    mutable std::string ParsedNaNText;
    mutable int64_t ParsedNaNCode = 0;
    mutable bool ParsedNaNValid = false;
    mutable bool ParsedNaN = false;
};

class tByteBlock : public tMeasuredBlock {
public:
    std::unique_ptr<tBlock> Clone() const override { return std::make_unique<tByteBlock>(*this); }
    bool IsNaN() const override;
    void Decode() override;

protected:
    std::string DefaultNaN() const override { return "FF"; }
};

// One byte in sign and magnitude: bit 7 the sign.
class tShortIntBlock : public tByteBlock {
public:
    std::unique_ptr<tBlock> Clone() const override {
        return std::make_unique<tShortIntBlock>(*this);
    }
    void Decode() override;
};

struct tBitRecord {
    std::string Caption;
    std::string On0;
    std::string On1;
    int Error = -1; // the bit value that means an alarm; -1 never alarms
};

// A byte of eight described bits; bit 1 is the least significant.
class tBitMaskBlock : public tBlock {
public:
    std::unique_ptr<tBlock> Clone() const override {
        return std::make_unique<tBitMaskBlock>(*this);
    }
    std::array<tBitRecord, 8> Bits;
    void Decode() override;
};

class tParameters {
public:
    struct Item {
        int Number;
        std::string Text;
    };
    void Add(int number, const std::string& text) { Items.push_back({number, text}); }
    void Delete(int index);
    void Clear() { Items.clear(); }
    int Count() const { return int(Items.size()); }
    std::string GetText(int number) const; // '' when none

private:
    friend class tParameterBlock; // reads the texts without copying them
    std::vector<Item> Items;
};

// A byte whose value selects a text.
class tParameterBlock : public tBlock {
public:
    std::unique_ptr<tBlock> Clone() const override {
        return std::make_unique<tParameterBlock>(*this);
    }
    tParameters Parameters;
    void Decode() override;
};

// Four bytes, first most significant, as an IEEE single.
class tFloatBlock : public tMeasuredBlock {
public:
    std::unique_ptr<tBlock> Clone() const override { return std::make_unique<tFloatBlock>(*this); }
    std::array<uint8_t, 4> Raw{0xFF, 0xFF, 0xFF, 0xFF};
    double GetFloatValue() const;
    bool IsNaN() const override;
    void Decode() override;
    int ByteSpan() const override { return 4; }

protected:
    std::string DefaultNaN() const override { return "FFFFFFFF"; }
    uint32_t RawBits() const;
};

// Two bytes, high first, in sign and magnitude over 16 bits.
class tIntegerBlock : public tMeasuredBlock {
public:
    std::unique_ptr<tBlock> Clone() const override {
        return std::make_unique<tIntegerBlock>(*this);
    }
    uint8_t High = 0xFF, Low = 0xFF;
    int GetIntValue() const;
    bool IsNaN() const override;
    void Decode() override;
    int ByteSpan() const override { return 2; }

protected:
    std::string DefaultNaN() const override { return "FFFF"; }
};

// A reading scaled between two limits: one byte, or two when the
// dimension exceeds 255.
class tRealBlock : public tMeasuredBlock {
public:
    std::unique_ptr<tBlock> Clone() const override { return std::make_unique<tRealBlock>(*this); }
    uint8_t High = 0xFF, Low = 0xFF;
    int Dimension = 0;
    double BottomLimit = 0;
    double TopLimit = 0;
    double GetRealValue() const;
    bool IsNaN() const override;
    void Decode() override;
    int ByteSpan() const override { return Dimension > 255 ? 2 : 1; }

protected:
    std::string DefaultNaN() const override { return Dimension > 255 ? "FFFF" : "FF"; }
    int RawReading() const { return Dimension > 255 ? High * 256 + Low : High; }
    double ScaledValue() const;
};

class tBlocks {
public:
    // Creates a block of the type code 1..7 and returns its index; any other
    // code adds nothing and returns Count - 1.
    int Add(int typeCode);
    // Appends a copy of every block of Other from its index From on.
    void Append(const tBlocks& other, int from = 0);
    tBlock& Items(int index) const; // EListError outside the list
    int Count() const { return int(List.size()); }
    void Clear() { List.clear(); }

private:
    std::vector<std::unique_ptr<tBlock>> List;
};

// The alarm-code texts of a script.
class tCrashList {
public:
    struct Item {
        int Code;
        std::string Text;
    };
    void Add(int code, const std::string& text) { Items.push_back({code, text}); }
    // Appends the entries of Other from its index From on.
    void Append(const tCrashList& other, int from = 0) {
        Items.insert(Items.end(), other.Items.begin() + std::clamp(from, 0, other.Count()),
                     other.Items.end());
    }
    void Delete(int index);
    void Clear() { Items.clear(); }
    int Count() const { return int(Items.size()); }
    std::string GetText(int code) const; // '' when none

private:
    std::vector<Item> Items;
};

} // namespace nuq
