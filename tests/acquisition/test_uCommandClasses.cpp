#include "ListTextNotation.h"
#include "acquisition/uCommandClasses.h"
#include "acquisition/uListText.h"
#include "platform/SysUtils.h"

#include <gtest/gtest.h>

using namespace nuq;

namespace {

using Lines = std::vector<std::string>;

Lines LTs(std::initializer_list<std::string_view> lines) {
    Lines out;
    for (auto l : lines) out.push_back(LT(l));
    return out;
}

void ExpectSame(const tCommandDefinitionItem& a, const tCommandDefinitionItem& b) {
    EXPECT_EQ(a.Active, b.Active);
    EXPECT_EQ(a.Predefined, b.Predefined);
    EXPECT_EQ(a.ItemType, b.ItemType);
    EXPECT_EQ(a.Num, b.Num);
    EXPECT_EQ(a.Name, b.Name);
    EXPECT_EQ(a.ByteNum, b.ByteNum);
    EXPECT_EQ(a.VarPath, b.VarPath);
    EXPECT_EQ(a.VarName, b.VarName);
    EXPECT_EQ(a.Values, b.Values);
    EXPECT_EQ(a.OffOnly, b.OffOnly);
    EXPECT_EQ(a.Min, b.Min);
    EXPECT_EQ(a.Max, b.Max);
    EXPECT_EQ(a.MU, b.MU);
    EXPECT_EQ(a.DefValue, b.DefValue);
    EXPECT_EQ(a.RangeSize, b.RangeSize);
    EXPECT_EQ(a.MinVis, b.MinVis);
    EXPECT_EQ(a.MaxVis, b.MaxVis);
    EXPECT_EQ(a.View, b.View);
}

void ExpectFixedCommands(const tCommandDefinition& d) {
    ASSERT_GE(d.Count(), 3);
    const auto* c1 = d.Items(0);
    EXPECT_EQ(c1->Predefined, 1);
    EXPECT_EQ(c1->Name, "Управление котельной");
    EXPECT_EQ(c1->ItemType, 3);
    EXPECT_EQ(c1->ByteNum, 0);
    EXPECT_TRUE(c1->Active);
    const auto* c2 = d.Items(1);
    EXPECT_EQ(c2->Predefined, 2);
    EXPECT_EQ(c2->Name, "Режим работы");
    EXPECT_EQ(c2->ItemType, 0);
    EXPECT_EQ(c2->ByteNum, 1);
    EXPECT_TRUE(c2->Active);
    EXPECT_EQ(c2->Values, LTs({"0^Без изменений", "1^Запуск", "2^Останов"}));
    const auto* c3 = d.Items(2);
    EXPECT_EQ(c3->Predefined, 3);
    EXPECT_EQ(c3->Name, "Уставка котельной");
    EXPECT_EQ(c3->ItemType, 1);
    EXPECT_EQ(c3->ByteNum, 2);
    EXPECT_TRUE(c3->Active);
    EXPECT_EQ(c3->MU, "°С");
    EXPECT_EQ(c3->Min, 0);
    EXPECT_EQ(c3->Max, 250);
    EXPECT_EQ(c3->RangeSize, 250);
    EXPECT_EQ(c3->MinVis, 16);
    EXPECT_EQ(c3->MaxVis, 95);
}

tCommandDefinitionItem SampleItem() {
    tCommandDefinitionItem i;
    i.Active = true;
    i.ItemType = 0;
    i.Num = 12;
    i.Name = "Насос сетевой №2";
    i.ByteNum = 4;
    i.VarPath = "Котельная";
    i.VarName = "P2.Пуск";
    i.Values = LTs({"0^Стоп", "1^Пуск"});
    i.OffOnly = true;
    i.Min = -10.5;
    i.Max = 120.25;
    i.MU = "кгс/см²"; // "²" has no cp1251 byte
    i.DefValue = "0";
    i.RangeSize = 40;
    i.MinVis = -3;
    i.MaxVis = 1E20;
    i.View = "50=ТГ1";
    return i;
}

} // namespace

TEST(CommandDefinition, EmptyDdeListSavesAsKnownText) {
    auto d = tCommandDefinition::CreateDefault(1);
    EXPECT_EQ(d.Count(), 0);
    EXPECT_EQ(d.PacketSize, 2);
    EXPECT_EQ(d.SaveToString(), "BDI=");

    auto e = tCommandDefinition::CreateDefault(1);
    e.PacketSize = 9;
    e.LoadFromString("BDI=");
    EXPECT_EQ(e.Count(), 0);
    EXPECT_EQ(e.PacketSize, 2);
    e.PacketSize = 16;
    auto f = tCommandDefinition::CreateDefault(1);
    f.LoadFromString(e.SaveToString());
    EXPECT_EQ(f.Count(), 0);
    EXPECT_EQ(f.PacketSize, 16);
}

TEST(CommandDefinition, ByteModeGetsTheFixedCommands) {
    tCommandDefinition plain;
    EXPECT_EQ(plain.Kind(), 0);
    EXPECT_EQ(plain.Count(), 0);

    auto d = tCommandDefinition::CreateDefault(0);
    EXPECT_EQ(d.Count(), 3);
    ExpectFixedCommands(d);

    // An empty byte-mode list read back: exactly the three and the stored size.
    tCommandDefinition e;
    e.LoadFromString(EncodeListText(LT("`7")));
    EXPECT_EQ(e.Count(), 3);
    ExpectFixedCommands(e);
    EXPECT_EQ(e.PacketSize, 7);

    // A list that holds them already is unchanged.
    tCommandDefinition f;
    f.LoadFromString(d.SaveToString());
    EXPECT_EQ(f.Count(), 3);
    EXPECT_EQ(f.SaveToString(), d.SaveToString());
}

TEST(CommandDefinition, ItemsInFixedPositionsArePushedDown) {
    auto ordinary = [](int num, int predefined) {
        auto i = std::make_unique<tCommandDefinitionItem>();
        i->Num = num;
        i->Predefined = uint8_t(predefined);
        return i;
    };
    // items: (Num, Predefined) before; nums: Num of each item after (fixed ones have 0).
    struct Case {
        std::vector<std::pair<int, int>> items;
        std::vector<int> nums;
    };
    for (const auto& c : {Case{{{7, 0}}, {0, 0, 0, 7}}, Case{{{7, 0}, {8, 0}}, {0, 0, 0, 7, 8}},
                          Case{{{5, 2}}, {0, 5, 0}},            // fixed 2 found at position 0
                          Case{{{5, 3}, {6, 1}}, {0, 0, 5, 6}}, // a 3 that lands in place stays
                          Case{{{5, 1}, {6, 2}, {7, 3}, {8, 0}}, {5, 6, 7, 8}}}) {
        tCommandDefinition d;
        for (auto [num, pre] : c.items) d.Add(ordinary(num, pre));
        d.EnsurePredefinedItems();
        ASSERT_EQ(d.Count(), int(c.nums.size()));
        for (int i = 0; i < d.Count(); ++i) EXPECT_EQ(d.Items(i)->Num, c.nums[size_t(i)]) << i;
        for (int i = 0; i < 3; ++i) EXPECT_EQ(d.Items(i)->Predefined, i + 1);
    }
    auto dde = tCommandDefinition::CreateDefault(1);
    dde.Add(ordinary(7, 0));
    dde.EnsurePredefinedItems();
    EXPECT_EQ(dde.Count(), 1);
}

TEST(CommandDefinition, ItemRoundTripKeepsEveryField) {
    tCommandDefinitionItem empty;
    empty.Clear();
    empty.Values = LTs({"5^Пять"});
    for (const auto& original : {SampleItem(), empty, tCommandDefinitionItem()}) {
        tCommandDefinitionItem read;
        read.LoadFromString(original.SaveToString());
        ExpectSame(read, original);
        // Through the list, i.e. through cp1251 and Base64.
        auto d = tCommandDefinition::CreateDefault(1);
        auto item = std::make_unique<tCommandDefinitionItem>();
        item->Assign(original);
        d.Add(std::move(item));
        d.PacketSize = 24;
        auto e = tCommandDefinition::CreateDefault(1);
        e.LoadFromString(d.SaveToString());
        ASSERT_EQ(e.Count(), 1);
        tCommandDefinitionItem expected = original;
        if (expected.MU == "кгс/см²") expected.MU = "кгс/см?";
        ExpectSame(*e.Items(0), expected);
        EXPECT_EQ(e.PacketSize, 24);
    }
}

// The exact layout of an item, fields in their stored order.
TEST(CommandDefinition, ItemTextLayout) {
    auto d = tCommandDefinition::CreateDefault(0);
    EXPECT_EQ(d.Items(2)->SaveToString(),
              LT("1|0|2|1|Уставка котельной |°С | |0|250|0| | | |3|250|16|95| "));
    EXPECT_EQ(d.Items(1)->SaveToString(),
              LT("0|0|1|1|Режим работы | |0^Без изменений\r\n1^Запуск\r\n2^Останов\r\n |0|0|0| "
                 "| | |2|0|0|0| "));
    std::string list = DecodeListText(d.SaveToString());
    EXPECT_TRUE(list.starts_with(LT("3|0|0|1|Управление котельной | | |0|0|0| | | |1|0|0|0| ~")));
    EXPECT_TRUE(list.ends_with(LT(" ~`2")));
}

TEST(CommandDefinition, ItemDefaults) {
    tCommandDefinitionItem created;
    EXPECT_FALSE(created.Active);
    EXPECT_EQ(created.ItemType, 3);
    EXPECT_EQ(created.Name, "Наименование");
    EXPECT_EQ(created.RangeSize, 0);

    created.Values = LTs({"1^x"});
    created.Clear();
    EXPECT_EQ(created.Name, "");
    EXPECT_EQ(created.RangeSize, 1);
    EXPECT_TRUE(created.Values.empty());
    EXPECT_EQ(created.ItemType, 3);

    // Fields that are missing or do not convert.
    for (std::string text : {std::string(), std::string("x"), LT("x|x|x|x")}) {
        tCommandDefinitionItem i = SampleItem();
        i.LoadFromString(text);
        EXPECT_TRUE(i.Active);
        EXPECT_EQ(i.Predefined, 0);
        EXPECT_EQ(i.ItemType, 1);
        EXPECT_EQ(i.Num, 0);
        EXPECT_EQ(i.ByteNum, 0);
        EXPECT_EQ(i.Name, "Команда");
        EXPECT_TRUE(i.Values.empty());
        EXPECT_TRUE(i.OffOnly);
        EXPECT_EQ(i.Min, 1);
        EXPECT_EQ(i.Max, 255);
        EXPECT_EQ(i.RangeSize, 1);
        EXPECT_EQ(i.MinVis, 0);
        EXPECT_EQ(i.MaxVis, 0);
        EXPECT_EQ(i.MU, "");
        EXPECT_EQ(i.View, "");
        EXPECT_EQ(i.VarPath, "");
    }
}

TEST(CommandDefinition, ValueLinesWithoutSeparatorAreDropped) {
    tCommandDefinitionItem i;
    i.LoadFromString(LT("0|1|1|1|Режим | |0^Нет\r\nмусор\r\n\r\n1^Да\n2^Авто\r\n |0|1"));
    EXPECT_EQ(i.Values, LTs({"0^Нет", "1^Да", "2^Авто"}));
    EXPECT_EQ(i.Min, 0);
    EXPECT_EQ(i.Max, 1);
}

// Trimming the whole field would take the #3 off the last line and lose it.
TEST(CommandDefinition, ValueWithEmptyCaptionSurvives) {
    for (const Lines& values : {LTs({"5^"}), LTs({"0^Нет", "1^"}), LTs({"1^ ", "2^^"})}) {
        tCommandDefinitionItem i;
        i.Values = values;
        tCommandDefinitionItem j;
        j.LoadFromString(i.SaveToString());
        EXPECT_EQ(j.Values, values);
        EXPECT_EQ(j.Min, 0);
    }
}

TEST(CommandDefinition, SizeThatDoesNotConvertReadsAsTwo) {
    struct Case {
        std::string decoded;
        int size;
        int count;
    };
    for (const auto& c : {Case{"`abc", 2, 0}, Case{"`", 2, 0}, Case{"", 2, 0}, Case{"`|5", 2, 0},
                          Case{"`5|6", 5, 0}, Case{"` 12 ", 12, 0}, Case{"`1.5", 2, 0},
                          Case{"1|1", 2, 1}, // no size section at all
                          Case{"1|1~`3`4", 2, 1}}) {
        auto d = tCommandDefinition::CreateDefault(1);
        d.LoadFromString(EncodeListText(LT(c.decoded)));
        EXPECT_EQ(d.PacketSize, c.size) << c.decoded;
        EXPECT_EQ(d.Count(), c.count) << c.decoded;
    }
    tCommandDefinition bad;
    bad.LoadFromString("%%%");
    EXPECT_EQ(bad.Count(), 3);
    EXPECT_EQ(bad.PacketSize, 2);
}

// A caption holding a list separator must not break the list apart.
TEST(CommandDefinition, SeparatorInACaptionKeepsTheList) {
    auto d = tCommandDefinition::CreateDefault(1);
    for (std::string name : {"a~b", "c`d", "e|f"}) {
        auto i = std::make_unique<tCommandDefinitionItem>();
        i->Name = LT(name);
        i->Num = 3;
        d.Add(std::move(i));
    }
    d.PacketSize = 5;
    auto e = tCommandDefinition::CreateDefault(1);
    e.LoadFromString(d.SaveToString());
    ASSERT_EQ(e.Count(), 3);
    EXPECT_EQ(e.PacketSize, 5);
    EXPECT_EQ(e.Items(0)->Name, "a b");
    EXPECT_EQ(e.Items(2)->Name, "e f");
    for (int i = 0; i < 3; ++i) EXPECT_EQ(e.Items(i)->Num, 3);
}

TEST(CommandDefinition, ListOperations) {
    auto d = tCommandDefinition::CreateDefault(0);
    EXPECT_THROW(d.Items(3), EListError);
    EXPECT_THROW(d.Items(-1), EListError);
    EXPECT_THROW(d.Delete(3), EListError);
    EXPECT_EQ(d.Add(std::make_unique<tCommandDefinitionItem>()), 3);
    d.Delete(0);
    EXPECT_EQ(d.Count(), 3);
    EXPECT_EQ(d.Items(0)->Predefined, 2);
    d.Clear();
    EXPECT_EQ(d.Count(), 0);
    EXPECT_EQ(d.Kind(), 0);
}
