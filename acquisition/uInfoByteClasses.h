#pragma once
// Where a received packet keeps the temperature, the temperature-mode bit and
// the low-temperature control of an object, kept in its record as one line.

#include <cstdint>
#include <string>
#include <string_view>

namespace nuq {

// Base of the info-byte records; the base versions do nothing.
class TInfoBytes {
public:
    virtual ~TInfoBytes() = default;
    virtual void Clear() {}
    virtual void LoadFromString(std::string_view text) { (void)text; }
    virtual std::string SaveToString() const { return {}; }
};

class TNuqInfoBytes : public TInfoBytes {
public:
    int32_t TemprByte = 0;         // packet byte (1-based) of the temperature; 0 = none
    int32_t TemprModeByte = 0;     // packet byte holding the temperature-mode bit
    int32_t TemprModeBit = 0;      // 1..8
    uint8_t TemprModeBitValue = 0; // bit value meaning the temperature mode is on
    uint8_t LTControl = 0;         // low-temperature control off (0) or on (1)
    int32_t LTByte = 0;            // packet byte of the controlled temperature
    uint8_t LTTemper = 0;          // low-temperature limit, 0..80 °C
    uint8_t LTPeriod = 0;          // check period, 1..240 minutes

    // Leaves TemprModeBitValue as it is.
    void Clear() override;
    // A field that is missing or not a decimal integer takes its cleared
    // value (TemprModeBitValue 0); the other fields are still read.
    void LoadFromString(std::string_view text) override;
    std::string SaveToString() const override;
};

} // namespace nuq
