#pragma once
// The control packets an operator can send to an object: the packet's size
// and, per byte (byte mode) or per DDE item (DDE mode), one command with its
// kind of input, limits and display. An object keeps one list per mode in
// its record, each as one serialised line.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace nuq {

class tCommandDefinitionItem {
public:
    bool Active = false;    // the command is offered
    uint8_t Predefined = 0; // 0 ordinary; 1..3 the fixed byte-mode commands
    uint8_t ItemType = 3;   // 0 list, 1 value from a range, 2 value typed in, 3 separator
    int32_t Num = 0;
    std::string Name = "Наименование"; // "//" at its start hides the command
    int32_t ByteNum = 0;               // packet byte (1-based) the command writes
    std::string VarPath;               // DDE topic
    std::string VarName;               // DDE item
    std::vector<std::string> Values;   // each: value, #3, caption
    bool OffOnly = false;              // only while the plant is stopped
    double Min = 0;
    double Max = 0;
    std::string MU;
    std::string DefValue;
    int32_t RangeSize = 0;
    double MinVis = 0;
    double MaxVis = 0;
    std::string View; // display replacements such as "50=ТГ1"

    virtual ~tCommandDefinitionItem() = default;
    virtual void LoadFromString(std::string_view text);
    virtual std::string SaveToString() const;

    void Clear();
    void Assign(const tCommandDefinitionItem& source) { *this = source; }
};

// A list owning its commands, the size of the control packet and the mode
// (0 byte mode, 1 DDE mode) it was made for.
class tCommandDefinition {
public:
    int32_t PacketSize = 2;

    tCommandDefinition() = default; // byte mode, no fixed commands
    // The list of a mode with its fixed commands in place.
    static tCommandDefinition CreateDefault(int32_t kind);

    int32_t Kind() const { return FKind; }
    int Count() const { return int(FItems.size()); }
    tCommandDefinitionItem* Items(int index) const; // EListError outside the list

    int Add(std::unique_ptr<tCommandDefinitionItem> item);
    void Delete(int index);
    void Clear();

    // Base64 text; reading always ends with EnsurePredefinedItems.
    void LoadFromString(std::string_view text);
    std::string SaveToString() const;

    // Byte mode only: fixed commands 1, 2, 3 at positions 0, 1, 2; an item
    // found in a fixed position with another Predefined value is pushed down.
    void EnsurePredefinedItems();

private:
    int32_t FKind = 0;
    std::vector<std::unique_ptr<tCommandDefinitionItem>> FItems;
};

} // namespace nuq
