#pragma once
// The DDE item map ("Матрица соответствия") of a DDE-linked object. Such an
// object has no controller, so its packet is made up from DDE item values:
// the first byte tells which plant state row matched its item's value, the
// variables follow, each an item's value as 1, 2 or 4 bytes. The object reads
// the items, stores their values here and calls BuildPacket; the result is
// then decoded as a received packet. Kept in the object's record as one
// serialised line.

#include "foundation/uNuqUtils.h"
#include "platform/SysUtils.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace nuq {

// A map that cannot give a sound packet: more state rows than the state byte
// can tell apart, a variable width other than 1, 2 or 4, or a value that has
// no integer form. The read cycle takes it as a failed read.
class EOPCMapError : public Exception {
public:
    using Exception::Exception;
};

// The state byte tells rows apart by its high digit: 0 to 14 for rows, 15 for none.
inline constexpr int MaxOPCMapStates = 16;

class TOPCMapState {
public:
    std::string Caption; // the editor's rows: "Останов", "Выбег", "Работа", "Аварийный останов"
    std::string Path;    // DDE topic of the item showing the state
    std::string Item;    // DDE item
    std::string Mask;    // "1", "0", "*" (blanks allowed), most significant first; empty: none
    std::string Values;  // the item values meaning this state, comma-separated
    int32_t Value = 0;   // the item's value from the last read

    bool HasSource() const;
    // The item's value as the row compares it, masked; false when the mask
    // holds anything but "1", "0", "*" and blanks (the row never matches).
    bool MaskedValue(int64_t& v) const;
    bool Matches() const;

    void LoadFromString(std::string_view record);
    std::string SaveToString() const;
};

class TOPCMapStates {
public:
    int Count() const { return int(FItems.size()); }
    TOPCMapState* GetItem(int index) const; // EListError outside the list
    int Add(std::unique_ptr<TOPCMapState> item);
    void Delete(int index);
    void Clear();

    // Two hex digits: the first matching row's index and "0"; "F0" for none.
    // EOPCMapError for more than MaxOPCMapStates rows.
    std::string StateByteHex() const;

    // The list text: each row's record followed by #1.
    void LoadFromString(std::string_view text);
    std::string SaveToString() const;

private:
    std::vector<std::unique_ptr<TOPCMapState>> FItems;
};

class TOPCMapVar {
public:
    std::string Path;      // DDE topic
    std::string Name;      // DDE item
    uint8_t VarType = 0;   // 0, 1, 2 for a width of 1, 2, 4
    uint8_t Size = 1;      // width in bytes
    uint16_t Position = 0; // packet byte (1-based) of the first byte
    uint8_t Decimals = 0;  // shown as a multiplier by the editor; not applied here
    float Value = 0;       // the item's value from the last read

    int LastByte() const { return int(Position) + int(Size) - 1; }
    bool CoversPosition(int n) const { return n >= int(Position) && n <= LastByte(); }

    // Size × 2 upper-case hex digits: a 4-byte variable as its single-precision
    // bit pattern, 1 or 2 bytes as the rounded value in sign and magnitude
    // (only the low bits of the magnitude kept). EOPCMapError for another
    // width, or for a value of 1 or 2 bytes that is not finite.
    std::string HexText() const;

    void LoadFromString(std::string_view record);
    std::string SaveToString() const;
};

class TOPCMapVars {
public:
    int Count() const { return int(FItems.size()); }
    TOPCMapVar* GetItem(int index) const; // EListError outside the list
    int Add(std::unique_ptr<TOPCMapVar> item);
    void Delete(int index);
    void Clear();
    void Sort(); // by Position, keeping the order of equal ones

    void LoadFromString(std::string_view text);
    std::string SaveToString() const;

private:
    std::vector<std::unique_ptr<TOPCMapVar>> FItems;
};

class TOPCMap {
public:
    int32_t Size = 0; // packet size in bytes, as the editor keeps it
    TOPCMapStates States;
    TOPCMapVars Vars;
    uint8_t Confirmed = 0; // "Матрица соответствия проверена"

    // Removes the variables reaching past N, then sets Size.
    void SetSize(int n);
    // Removes the variables reaching past Size.
    void CheckVars();
    TOPCMapVar* FindVarByPosition(int n) const; // the first covering N, else nullptr
    void SortVars();
    // The state byte, then each variable's bytes in order of Position, back
    // to back (gaps are not filled, Size is not applied). Sorts Vars.
    // EOPCMapError (see above) instead of a packet that would be corrupt.
    TByteList BuildPacket();

    // Base64 text; anything that does not read gives an empty map.
    void LoadFromString(std::string_view text);
    std::string SaveToString() const;
};

} // namespace nuq
