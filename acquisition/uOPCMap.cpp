#include "acquisition/uOPCMap.h"

#include "acquisition/uListText.h"
#include "foundation/fhStrUtils.h"

#include <algorithm>
#include <bit>
#include <cmath>

namespace nuq {

namespace {

const char HexDigits[] = "0123456789ABCDEF";

std::string WithoutBlanks(std::string_view s) {
    std::string r;
    for (char c : s)
        if (c != ' ') r += c;
    return r;
}

// The records of a list text as ExtractWord gives them with #1 as separator,
// but not trimmed: a record whose first text is empty starts with that text's
// blank, and trimming would take the blank and the #2 after it, moving every
// field up by one. The list's own trailing blank is no record.
std::vector<std::string> ListRecords(std::string_view list) {
    std::vector<std::string> records;
    size_t i = 0;
    while (i < list.size()) {
        size_t end = std::min(list.find(ListRecordEnd, i), list.size());
        std::string_view r = list.substr(i, end - i);
        if (r.find_first_not_of(" \t\r\n") != std::string_view::npos) records.emplace_back(r);
        i = end + 1;
    }
    return records;
}

template <class T> T* ItemAt(const std::vector<std::unique_ptr<T>>& items, int index) {
    if (index < 0 || index >= int(items.size()))
        throw EListError("List index out of bounds (" + std::to_string(index) + ")");
    return items[size_t(index)].get();
}

template <class T> std::string SaveList(const std::vector<std::unique_ptr<T>>& items) {
    std::string text;
    for (const auto& item : items) {
        text += item->SaveToString();
        text += ListRecordEnd;
    }
    return text;
}

} // namespace

// ---- state rows

bool TOPCMapState::HasSource() const {
    return !Trim(Path).empty() || !Trim(Item).empty();
}

bool TOPCMapState::MaskedValue(int64_t& v) const {
    if (Trim(Mask).empty()) {
        v = Value;
        return true;
    }
    // Read as a binary number; digits beyond 32 bits meet nothing of Value.
    uint32_t mask = 0;
    for (char c : Mask) {
        if (c == ' ') continue;
        if (c != '0' && c != '1' && c != '*') return false;
        mask = (mask << 1) | (c == '1' ? 1u : 0u);
    }
    v = int32_t(mask & uint32_t(Value));
    return true;
}

bool TOPCMapState::Matches() const {
    int64_t v;
    if (!MaskedValue(v)) return false;
    const std::string values = std::string(",").append(WithoutBlanks(Values)).append(",");
    return values.find(std::string(",").append(std::to_string(v)).append(",")) != std::string::npos;
}

void TOPCMapState::LoadFromString(std::string_view record) {
    tListRecordReader r(record);
    Caption = r.Text(1);
    Path = r.Text(2);
    Item = r.Text(3);
    Mask = r.Text(4);
    Values = r.Text(5);
}

std::string TOPCMapState::SaveToString() const {
    tListRecordWriter w;
    w.AddText(Caption);
    w.AddText(Path);
    w.AddText(Item);
    w.AddText(Mask);
    w.AddText(Values);
    return w.Text();
}

TOPCMapState* TOPCMapStates::GetItem(int index) const {
    return ItemAt(FItems, index);
}

int TOPCMapStates::Add(std::unique_ptr<TOPCMapState> item) {
    FItems.push_back(std::move(item));
    return Count() - 1;
}

void TOPCMapStates::Delete(int index) {
    GetItem(index);
    FItems.erase(FItems.begin() + index);
}

void TOPCMapStates::Clear() {
    FItems.clear();
}

std::string TOPCMapStates::StateByteHex() const {
    // A 17th row would need a third digit and shift every byte after it.
    if (Count() > MaxOPCMapStates)
        throw EOPCMapError("Матрица соответствия: состояний " + std::to_string(Count()) +
                           ", допустимо не более " + std::to_string(MaxOPCMapStates));
    int index = 15;
    for (int i = 0; i < Count(); ++i) {
        if (FItems[size_t(i)]->Matches()) {
            index = i;
            break;
        }
    }
    return std::string{HexDigits[index], '0'};
}

void TOPCMapStates::LoadFromString(std::string_view text) {
    Clear();
    for (const auto& record : ListRecords(text)) {
        auto row = std::make_unique<TOPCMapState>();
        row->LoadFromString(record);
        Add(std::move(row));
    }
}

std::string TOPCMapStates::SaveToString() const {
    return SaveList(FItems);
}

// ---- variables

std::string TOPCMapVar::HexText() const {
    uint32_t bits;
    if (Size == 4) {
        bits = Value == 0 ? 0 : std::bit_cast<uint32_t>(Value);
    } else if (Size == 1 || Size == 2) {
        // Rounded to nearest, halves to even, as the runtime rounds.
        const double v = std::nearbyint(double(Value));
        if (!std::isfinite(v))
            throw EOPCMapError("Матрица соответствия: значение переменной \"" + Name +
                               "\" не является числом");
        const double range = Size == 1 ? 256.0 : 65536.0;
        bits = uint32_t(std::fmod(std::fabs(v), range));
        if (v < 0) bits |= Size == 1 ? 0x80u : 0x8000u;
    } else {
        throw EOPCMapError("Матрица соответствия: размер переменной \"" + Name + "\" " +
                           std::to_string(Size) + " байт, допустимо 1, 2 или 4");
    }
    std::string hex;
    for (int shift = Size * 8 - 4; shift >= 0; shift -= 4) hex += HexDigits[(bits >> shift) & 0xF];
    return hex;
}

void TOPCMapVar::LoadFromString(std::string_view record) {
    tListRecordReader r(record);
    Path = r.Text(1);
    Name = r.Text(2);
    Size = r.Byte(3, 0);
    Position = uint16_t(r.Int(4, 0));
    Decimals = r.Byte(6, 0);
    VarType = Size == 2 ? 1 : Size == 4 ? 2 : 0;
}

std::string TOPCMapVar::SaveToString() const {
    tListRecordWriter w;
    w.AddText(Path);
    w.AddText(Name);
    w.AddInt(Size);
    w.AddInt(Position);
    w.AddInt(VarType);
    w.AddInt(Decimals);
    return w.Text();
}

TOPCMapVar* TOPCMapVars::GetItem(int index) const {
    return ItemAt(FItems, index);
}

int TOPCMapVars::Add(std::unique_ptr<TOPCMapVar> item) {
    FItems.push_back(std::move(item));
    return Count() - 1;
}

void TOPCMapVars::Delete(int index) {
    GetItem(index);
    FItems.erase(FItems.begin() + index);
}

void TOPCMapVars::Clear() {
    FItems.clear();
}

void TOPCMapVars::Sort() {
    std::stable_sort(FItems.begin(), FItems.end(),
                     [](const auto& a, const auto& b) { return a->Position < b->Position; });
}

void TOPCMapVars::LoadFromString(std::string_view text) {
    Clear();
    for (const auto& record : ListRecords(text)) {
        auto var = std::make_unique<TOPCMapVar>();
        var->LoadFromString(record);
        Add(std::move(var));
    }
}

std::string TOPCMapVars::SaveToString() const {
    return SaveList(FItems);
}

// ---- the map

void TOPCMap::SetSize(int n) {
    for (int i = Vars.Count() - 1; i >= 0; --i) {
        const TOPCMapVar* v = Vars.GetItem(i);
        if (int(v->Position) > n || v->LastByte() > n) Vars.Delete(i);
    }
    Size = n;
}

void TOPCMap::CheckVars() {
    for (int i = Vars.Count() - 1; i >= 0; --i) {
        const TOPCMapVar* v = Vars.GetItem(i);
        if (int(v->Position) > Size || v->LastByte() > Size) Vars.Delete(i);
    }
}

TOPCMapVar* TOPCMap::FindVarByPosition(int n) const {
    for (int i = 0; i < Vars.Count(); ++i)
        if (Vars.GetItem(i)->CoversPosition(n)) return Vars.GetItem(i);
    return nullptr;
}

void TOPCMap::SortVars() {
    Vars.Sort();
}

TByteList TOPCMap::BuildPacket() {
    std::string hex = States.StateByteHex();
    SortVars();
    for (int i = 0; i < Vars.Count(); ++i) hex += Vars.GetItem(i)->HexText();
    return HexToByteList(hex);
}

void TOPCMap::LoadFromString(std::string_view text) {
    const std::string decoded = DecodeListText(text);
    const TCharSet sections{ListSection3};
    tListRecordReader head(ExtractWord(1, decoded, sections));
    Size = head.Int(1, 0);
    Confirmed = head.Byte(2, 0);
    Vars.LoadFromString(ExtractWord(2, decoded, sections));
    States.LoadFromString(ExtractWord(3, decoded, sections));
}

std::string TOPCMap::SaveToString() const {
    std::string text = IntToStr(Size);
    text += ListFieldSep;
    text += IntToStr(Confirmed);
    text += ListSection3;
    text += Vars.SaveToString();
    text += ' ';
    text += ListSection3;
    text += States.SaveToString();
    text += ' ';
    return EncodeListText(text);
}

} // namespace nuq
