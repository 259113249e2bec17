#include "acquisition/uSMSNotifyConfigClasses.h"

#include <algorithm>

#include "acquisition/uListText.h"
#include "platform/SysUtils.h"

namespace nuq {

void tSmsNotifyTemplateItem::Clear() {
    *this = tSmsNotifyTemplateItem();
}

void tSmsNotifyTemplateItem::LoadFromString(std::string_view text) {
    const tSmsNotifyTemplateItem d;
    tListRecordReader r(text);
    ItemType = r.Byte(1, d.ItemType);
    Active = r.Bool(2, d.Active);
    Num = r.Int(3, d.Num);
    ByteNum = r.Int(4, d.ByteNum);
    BitNum = r.Int(5, d.BitNum);
    Text0 = r.Text(6);
    Text1 = r.Text(7);
    ValueType = r.Byte(8, d.ValueType);
    Decimals = r.Byte(9, d.Decimals);
    SignByte = r.Int(10, d.SignByte);
    SignBit = r.Int(11, d.SignBit);
    MinRange = r.Float(12, d.MinRange);
    MaxRange = r.Float(13, d.MaxRange);
    Dimension = r.Int(14, d.Dimension);
    NaNText = r.Text(15);
}

std::string tSmsNotifyTemplateItem::SaveToString() const {
    tListRecordWriter w;
    w.AddInt(ItemType);
    w.AddInt(Active ? 1 : 0);
    w.AddInt(Num);
    w.AddInt(ByteNum);
    w.AddInt(BitNum);
    w.AddText(Text0);
    w.AddText(Text1);
    w.AddInt(ValueType);
    w.AddInt(Decimals);
    w.AddInt(SignByte);
    w.AddInt(SignBit);
    w.AddFloat(MinRange);
    w.AddFloat(MaxRange);
    w.AddInt(Dimension);
    w.AddText(NaNText);
    return w.Text();
}

tSmsNotifyTemplateItem* tSmsNotifyTemplate::Items(int index) const {
    if (index < 0 || index >= Count())
        throw EListError("List index out of bounds (" + std::to_string(index) + ")");
    return FItems[size_t(index)].get();
}

int tSmsNotifyTemplate::Add(std::unique_ptr<tSmsNotifyTemplateItem> item) {
    FItems.push_back(std::move(item));
    return Count() - 1;
}

void tSmsNotifyTemplate::Delete(int index) {
    Items(index);
    FItems.erase(FItems.begin() + index);
}

void tSmsNotifyTemplate::Clear() {
    FItems.clear();
}

void tSmsNotifyTemplate::LoadFromString(std::string_view text) {
    std::string decoded = DecodeListText(text);
    std::string_view lines = std::string_view(decoded).substr(0, decoded.find(ListSection4));
    Clear();
    for (const auto& record : SplitListRecords(lines)) {
        auto item = std::make_unique<tSmsNotifyTemplateItem>();
        item->LoadFromString(record);
        Add(std::move(item));
    }
}

std::string tSmsNotifyTemplate::SaveToString() const {
    std::string text;
    for (const auto& item : FItems) {
        text += item->SaveToString();
        text += ListRecordEnd;
    }
    return EncodeListText(text);
}

void tSmsNotifyTemplate::SortByNum() {
    std::stable_sort(FItems.begin(), FItems.end(),
                     [](const auto& a, const auto& b) { return a->Num < b->Num; });
}

} // namespace nuq
