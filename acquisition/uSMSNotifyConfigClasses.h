#pragma once
// The SMS notification template of an object: an ordered list of lines, each
// a fixed text, the text for the state of one packet bit, or one decoded
// value. Kept in the object's record as one serialised line.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace nuq {

class tSmsNotifyTemplateItem {
public:
    uint8_t ItemType = 0; // 0 value, 1 state, 2 text
    bool Active = true;   // the line is shown
    int32_t Num = 0;
    std::string Text0;     // text line: its text; state line: bit 0; value line: title
    std::string Text1;     // state line: bit 1
    int32_t ByteNum = 0;   // state line: byte of the state; value line: its first byte
    int32_t BitNum = 0;    // state line: bit 1..8
    uint8_t ValueType = 0; // 0 byte, 1 signed byte, 2 sign-and-magnitude word, 3 single, 4 range
    uint8_t Decimals = 0;
    int32_t SignByte = 0;
    int32_t SignBit = 1;
    double MinRange = 0;
    double MaxRange = 1;
    int32_t Dimension = 100;
    std::string NaNText; // raw reading meaning no data, as hex; empty = none

    virtual ~tSmsNotifyTemplateItem() = default;
    virtual void LoadFromString(std::string_view text);
    virtual std::string SaveToString() const;

    void Clear();
    void Assign(const tSmsNotifyTemplateItem& source) { *this = source; }
};

// A list owning its lines.
class tSmsNotifyTemplate {
public:
    int Count() const { return int(FItems.size()); }
    tSmsNotifyTemplateItem* Items(int index) const; // EListError outside the list

    int Add(std::unique_ptr<tSmsNotifyTemplateItem> item);
    void Delete(int index);
    void Clear();
    // Orders the lines by Num, ascending; lines of equal Num keep their order.
    void SortByNum();

    // Base64 text; an empty list is an empty text.
    void LoadFromString(std::string_view text);
    std::string SaveToString() const;

private:
    std::vector<std::unique_ptr<tSmsNotifyTemplateItem>> FItems;
};

} // namespace nuq
