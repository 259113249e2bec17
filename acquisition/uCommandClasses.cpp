#include "acquisition/uCommandClasses.h"

#include "acquisition/uListText.h"
#include "platform/SysUtils.h"

namespace nuq {

namespace {

std::unique_ptr<tCommandDefinitionItem> PredefinedItem(int n) {
    auto item = std::make_unique<tCommandDefinitionItem>();
    item->Predefined = uint8_t(n);
    item->Active = true;
    switch (n) {
    case 1:
        item->Name = "Управление котельной";
        item->ItemType = 3;
        item->ByteNum = 0;
        break;
    case 2:
        item->Name = "Режим работы";
        item->ItemType = 0;
        item->ByteNum = 1;
        item->Values = {"0\x03"
                        "Без изменений",
                        "1\x03"
                        "Запуск",
                        "2\x03"
                        "Останов"};
        break;
    default:
        item->Name = "Уставка котельной";
        item->ItemType = 1;
        item->ByteNum = 2;
        item->MU = "°С";
        item->Min = 0;
        item->Max = 250;
        item->RangeSize = 250;
        item->MinVis = 16;
        item->MaxVis = 95;
        break;
    }
    return item;
}

} // namespace

void tCommandDefinitionItem::Clear() {
    Active = false;
    Predefined = 0;
    ItemType = 3;
    Num = 0;
    Name.clear();
    ByteNum = 0;
    VarPath.clear();
    VarName.clear();
    Values.clear();
    OffOnly = false;
    Min = 0;
    Max = 0;
    MU.clear();
    DefValue.clear();
    RangeSize = 1;
    MinVis = 0;
    MaxVis = 0;
    View.clear();
}

void tCommandDefinitionItem::LoadFromString(std::string_view text) {
    tListRecordReader r(text);
    ItemType = r.Byte(1, 1);
    Num = r.Int(2, 0);
    ByteNum = r.Int(3, 0);
    Active = r.Bool(4, true);
    Name = r.Text(5, "Команда");
    MU = r.Text(6);
    Values.clear();
    // The blank after the last line break makes a line of its own, without #3.
    for (auto& line : r.Lines(7))
        if (line.find(ListSection3) != std::string::npos) Values.push_back(std::move(line));
    Min = r.Float(8, 1);
    Max = r.Float(9, 255);
    OffOnly = r.Bool(10, true);
    DefValue = r.Text(11);
    VarPath = r.Text(12);
    VarName = r.Text(13);
    Predefined = r.Byte(14, 0);
    RangeSize = r.Int(15, 1);
    MinVis = r.Float(16, 0);
    MaxVis = r.Float(17, 0);
    View = r.Text(18);
}

std::string tCommandDefinitionItem::SaveToString() const {
    tListRecordWriter w;
    w.AddInt(ItemType);
    w.AddInt(Num);
    w.AddInt(ByteNum);
    w.AddInt(Active ? 1 : 0);
    w.AddText(Name);
    w.AddText(MU);
    w.AddLines(Values);
    w.AddFloat(Min);
    w.AddFloat(Max);
    w.AddInt(OffOnly ? 1 : 0);
    w.AddText(DefValue);
    w.AddText(VarPath);
    w.AddText(VarName);
    w.AddInt(Predefined);
    w.AddInt(RangeSize);
    w.AddFloat(MinVis);
    w.AddFloat(MaxVis);
    w.AddText(View);
    return w.Text();
}

tCommandDefinition tCommandDefinition::CreateDefault(int32_t kind) {
    tCommandDefinition list;
    list.FKind = kind;
    list.EnsurePredefinedItems();
    return list;
}

tCommandDefinitionItem* tCommandDefinition::Items(int index) const {
    if (index < 0 || index >= Count())
        throw EListError("List index out of bounds (" + std::to_string(index) + ")");
    return FItems[size_t(index)].get();
}

int tCommandDefinition::Add(std::unique_ptr<tCommandDefinitionItem> item) {
    FItems.push_back(std::move(item));
    return Count() - 1;
}

void tCommandDefinition::Delete(int index) {
    Items(index);
    FItems.erase(FItems.begin() + index);
}

void tCommandDefinition::Clear() {
    FItems.clear();
}

void tCommandDefinition::LoadFromString(std::string_view text) {
    std::string decoded = DecodeListText(text);
    size_t sizePos = decoded.find(ListSection4);
    std::string_view all = decoded;
    std::string_view items = all.substr(0, sizePos);
    Clear();
    for (const auto& record : SplitListRecords(items)) {
        auto item = std::make_unique<tCommandDefinitionItem>();
        item->LoadFromString(record);
        Add(std::move(item));
    }
    PacketSize = 2;
    if (sizePos != std::string::npos) {
        std::string_view size = all.substr(sizePos + 1);
        PacketSize = tListRecordReader(size.substr(0, size.find(ListFieldSep))).Int(1, 2);
    }
    EnsurePredefinedItems();
}

std::string tCommandDefinition::SaveToString() const {
    std::string text;
    for (const auto& item : FItems) {
        text += item->SaveToString();
        text += ListRecordEnd;
    }
    text += ListSection4;
    text += IntToStr(PacketSize);
    return EncodeListText(text);
}

void tCommandDefinition::EnsurePredefinedItems() {
    if (FKind == 1) return;
    for (int n = 1; n <= 3; ++n) {
        size_t pos = size_t(n - 1);
        if (pos >= FItems.size() || FItems[pos]->Predefined != n)
            FItems.insert(FItems.begin() + long(pos), PredefinedItem(n));
    }
}

} // namespace nuq
