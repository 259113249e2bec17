#include "ListTextNotation.h"
#include "acquisition/uListText.h"
#include "acquisition/uSMSNotifyConfigClasses.h"
#include "platform/SysUtils.h"

#include <gtest/gtest.h>

using namespace nuq;

namespace {

void ExpectSame(const tSmsNotifyTemplateItem& a, const tSmsNotifyTemplateItem& b) {
    EXPECT_EQ(a.ItemType, b.ItemType);
    EXPECT_EQ(a.Active, b.Active);
    EXPECT_EQ(a.Num, b.Num);
    EXPECT_EQ(a.Text0, b.Text0);
    EXPECT_EQ(a.Text1, b.Text1);
    EXPECT_EQ(a.ByteNum, b.ByteNum);
    EXPECT_EQ(a.BitNum, b.BitNum);
    EXPECT_EQ(a.ValueType, b.ValueType);
    EXPECT_EQ(a.Decimals, b.Decimals);
    EXPECT_EQ(a.SignByte, b.SignByte);
    EXPECT_EQ(a.SignBit, b.SignBit);
    EXPECT_EQ(a.MinRange, b.MinRange);
    EXPECT_EQ(a.MaxRange, b.MaxRange);
    EXPECT_EQ(a.Dimension, b.Dimension);
    EXPECT_EQ(a.NaNText, b.NaNText);
}

std::vector<tSmsNotifyTemplateItem> SampleLines() {
    tSmsNotifyTemplateItem text;
    text.ItemType = 2;
    text.Num = 1;
    text.Text0 = "Котельная_№3#Авария";
    tSmsNotifyTemplateItem state;
    state.ItemType = 1;
    state.Num = 2;
    state.Text0 = "Насос стоп";
    state.Text1 = "Насос работает";
    state.ByteNum = 5;
    state.BitNum = 8;
    state.Active = false;
    tSmsNotifyTemplateItem value;
    value.Num = 3;
    value.Text0 = "Т подачи";
    value.ByteNum = 7;
    value.ValueType = 4;
    value.Decimals = 2;
    value.SignByte = 9;
    value.SignBit = 8;
    value.MinRange = -50.5;
    value.MaxRange = 150.125;
    value.Dimension = 1000;
    value.NaNText = "FFFF";
    tSmsNotifyTemplateItem emptyTexts; // empty texts keep the later fields in place
    emptyTexts.ItemType = 1;
    emptyTexts.ByteNum = 3;
    emptyTexts.BitNum = 2;
    emptyTexts.ValueType = 3;
    emptyTexts.SignBit = 4;
    emptyTexts.Dimension = 7;
    return {text, state, value, emptyTexts};
}

} // namespace

TEST(SmsTemplate, EmptyListIsEmptyText) {
    tSmsNotifyTemplate t;
    EXPECT_EQ(t.SaveToString(), "");
    t.Add(std::make_unique<tSmsNotifyTemplateItem>());
    t.LoadFromString("");
    EXPECT_EQ(t.Count(), 0);
}

TEST(SmsTemplate, RoundTripOfEveryLineKind) {
    tSmsNotifyTemplate t;
    auto lines = SampleLines();
    for (const auto& line : lines) {
        auto item = std::make_unique<tSmsNotifyTemplateItem>();
        item->Assign(line);
        t.Add(std::move(item));
    }
    tSmsNotifyTemplate u;
    u.LoadFromString(t.SaveToString());
    ASSERT_EQ(u.Count(), int(lines.size()));
    for (int i = 0; i < u.Count(); ++i) ExpectSame(*u.Items(i), lines[size_t(i)]);
    EXPECT_EQ(u.SaveToString(), t.SaveToString());
}

// The exact layout of lines, fields in their stored order.
TEST(SmsTemplate, LineTextLayout) {
    tSmsNotifyTemplate t;
    t.Add(std::make_unique<tSmsNotifyTemplateItem>());
    auto state = std::make_unique<tSmsNotifyTemplateItem>();
    state->Assign(SampleLines()[1]);
    t.Add(std::move(state));
    EXPECT_EQ(DecodeListText(t.SaveToString()),
              LT("0|1|0|0|0| | |0|0|0|1|0|1|100| ~"
                 "1|0|2|5|8|Насос стоп |Насос работает |0|0|0|1|0|1|100| ~"));
}

TEST(SmsTemplate, BadFieldsTakeDefaultsAndLaterFieldsAreRead) {
    struct Case {
        std::string decoded;
        int itemType;
        bool active;
        int num;
        int signBit;
        double maxRange;
        int dimension;
        std::string text0;
    };
    for (const auto& c :
         {Case{"2|x|7", 2, true, 7, 1, 1, 100, ""},
          Case{"1|0|3|4|5|Текст | |0|0|0|y|0|2.5|z", 1, false, 3, 1, 2.5, 100, "Текст"},
          Case{"||", 0, true, 0, 1, 1, 100, ""}}) {
        tSmsNotifyTemplate t;
        t.LoadFromString(EncodeListText(LT(c.decoded + "~")));
        ASSERT_EQ(t.Count(), 1) << c.decoded;
        const auto* i = t.Items(0);
        EXPECT_EQ(i->ItemType, c.itemType) << c.decoded;
        EXPECT_EQ(i->Active, c.active) << c.decoded;
        EXPECT_EQ(i->Num, c.num) << c.decoded;
        EXPECT_EQ(i->SignBit, c.signBit) << c.decoded;
        EXPECT_EQ(i->MaxRange, c.maxRange) << c.decoded;
        EXPECT_EQ(i->Dimension, c.dimension) << c.decoded;
        EXPECT_EQ(i->Text0, c.text0) << c.decoded;
    }
}

TEST(SmsTemplate, BadTextsGiveEmptyOrPartialLists) {
    struct Case {
        std::string text;
        int count;
    };
    for (const auto& c :
         {Case{"@@@@", 0}, Case{"QQ", 0}, Case{EncodeListText(LT("~~~")), 0},
          Case{EncodeListText(LT("2~1~")), 2}, Case{EncodeListText(LT("2~`1~")), 1}}) {
        tSmsNotifyTemplate t;
        t.Add(std::make_unique<tSmsNotifyTemplateItem>());
        t.LoadFromString(c.text);
        EXPECT_EQ(t.Count(), c.count) << c.text;
    }
}

TEST(SmsTemplate, ItemDefaultsAndListOperations) {
    tSmsNotifyTemplateItem i = SampleLines()[2];
    i.Clear();
    ExpectSame(i, tSmsNotifyTemplateItem());
    EXPECT_TRUE(i.Active);
    EXPECT_EQ(i.SignBit, 1);
    EXPECT_EQ(i.MaxRange, 1);
    EXPECT_EQ(i.Dimension, 100);

    tSmsNotifyTemplate t;
    EXPECT_THROW(t.Items(0), EListError);
    EXPECT_EQ(t.Add(std::make_unique<tSmsNotifyTemplateItem>()), 0);
    EXPECT_EQ(t.Add(std::make_unique<tSmsNotifyTemplateItem>()), 1);
    t.Items(1)->Num = 5;
    t.Delete(0);
    EXPECT_EQ(t.Items(0)->Num, 5);
    EXPECT_THROW(t.Delete(1), EListError);
    t.Clear();
    EXPECT_EQ(t.Count(), 0);
}
