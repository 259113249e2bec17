#include "ListTextNotation.h"
#include "acquisition/uListText.h"

#include <gtest/gtest.h>

using namespace nuq;

TEST(ListText, Base64PaddingIsNotData) {
    struct Case {
        std::string base64, text;
    };
    for (const auto& c : {Case{"BDI=", LT("`2")}, Case{"QQ==", "A"}, Case{"QUJD", "ABC"},
                          Case{"", ""}, Case{"  BDI=\r\n", LT("`2")}, Case{"xOA=", "Да"}})
        EXPECT_EQ(DecodeListText(c.base64), c.text) << c.base64;
}

TEST(ListText, InvalidBase64DecodesToNothing) {
    for (std::string bad : std::initializer_list<std::string>{
             "BDI", "B DI=", "B=DI", "A===", "====", "!!!!", "BDI=BDI=x", "BD=I", "BDI=\x01",
             std::string("BD\0=", 4), "QQ==QQ=="})
        EXPECT_EQ(DecodeListText(bad), "") << bad;
}

// The stored bytes are cp1251, one per character.
TEST(ListText, EncodesCp1251Bytes) {
    EXPECT_EQ(EncodeListText("Да"), "xOA=");
    EXPECT_EQ(EncodeListText(""), "");
    EXPECT_EQ(EncodeListText(LT("`2")), "BDI=");
    for (std::string s : {LT("Котельная №5 | °С"), std::string("a"), std::string("ab"),
                          std::string("abc"), LT("~|^`")})
        EXPECT_EQ(DecodeListText(EncodeListText(s)), s);
}

TEST(ListText, WriterKeepsEmptyTextsAndFieldOrder) {
    tListRecordWriter w;
    w.AddInt(-5);
    w.AddText("");
    w.AddFloat(1.5);
    w.AddText("Насос 1");
    w.AddLines({LT("0^Нет"), LT("1^Да")});
    w.AddLines({});
    EXPECT_EQ(w.Text(), LT("-5| |1.5|Насос 1 |0^Нет\r\n1^Да\r\n | "));

    tListRecordReader r(w.Text());
    EXPECT_EQ(r.Int(1, 0), -5);
    EXPECT_EQ(r.Text(2, "def"), "");
    EXPECT_EQ(r.Float(3, 0), 1.5);
    EXPECT_EQ(r.Text(4), "Насос 1");
    EXPECT_EQ(r.Lines(5), (std::vector<std::string>{LT("0^Нет"), LT("1^Да"), " "}));
    EXPECT_EQ(r.Lines(6), std::vector<std::string>{" "});
    EXPECT_EQ(r.Lines(7), std::vector<std::string>{});
}

// A separator inside a text would split the record or the list when read.
TEST(ListText, SeparatorsInsideTextsAreWrittenAsBlanks) {
    tListRecordWriter w;
    w.AddText(LT("a~b|c^d`e"));
    w.AddLines({LT("1^x~y")});
    w.AddInt(7);
    EXPECT_EQ(w.Text(), LT("a b c d e |1^x y\r\n |7"));
    tListRecordReader r(w.Text());
    EXPECT_EQ(r.Int(3, 0), 7);
}

TEST(ListText, ReaderTreatsRunsOfSeparatorsAsOne) {
    tListRecordReader r(LT("|1||2 |  3|"));
    EXPECT_EQ(r.Int(1, -1), 1);
    EXPECT_EQ(r.Int(2, -1), 2);
    EXPECT_EQ(r.Int(3, -1), 3);
    EXPECT_EQ(r.Int(4, -1), -1);
    EXPECT_FALSE(r.Has(4));
    EXPECT_EQ(r.Text(4, "missing"), "missing");
    EXPECT_EQ(tListRecordReader("a;b", TCharSet{';'}).Text(2), "b");
}

TEST(ListText, NumbersConvertOrTakeTheDefault) {
    struct Case {
        std::string field;
        bool ok;
        int value;
    };
    for (const auto& c :
         {Case{"12", true, 12}, Case{" 12 ", true, 12}, Case{"+5", true, 5}, Case{"-5", true, -5},
          Case{"2147483647", true, 2147483647}, Case{"$10", false, 0}, Case{"0x10", false, 0},
          Case{"1.5", false, 0}, Case{"+-5", false, 0}, Case{"-", false, 0}, Case{"1 2", false, 0},
          Case{"2147483648", false, 0}, Case{"12a", false, 0}, Case{"", false, 0}}) {
        int v = -99;
        EXPECT_EQ(tListRecordReader(c.field).ReadInt(1, v), c.ok) << c.field;
        if (c.ok) {
            EXPECT_EQ(v, c.value) << c.field;
        }
    }
    // Byte fields keep the low 8 bits.
    EXPECT_EQ(tListRecordReader("300").Byte(1, 7), 44);
    EXPECT_EQ(tListRecordReader("-1").Byte(1, 7), 255);
    EXPECT_EQ(tListRecordReader("x").Byte(1, 7), 7);
    EXPECT_TRUE(tListRecordReader("2").Bool(1, false));
    EXPECT_FALSE(tListRecordReader("0").Bool(1, true));
    EXPECT_TRUE(tListRecordReader("no").Bool(1, true));

    struct FCase {
        std::string field;
        bool ok;
        double value;
    };
    for (const auto& c :
         {FCase{"1.5", true, 1.5}, FCase{"-0.25", true, -0.25}, FCase{"1E3", true, 1000},
          FCase{"1,5", false, 0}, FCase{"nan", false, 0}, FCase{"", false, 0}}) {
        double v = -99;
        EXPECT_EQ(tListRecordReader(c.field).ReadFloat(1, v), c.ok) << c.field;
        if (c.ok) {
            EXPECT_EQ(v, c.value) << c.field;
        }
    }
}

TEST(ListText, ListRecordsAreTrimmedAndNeverEmpty) {
    using V = std::vector<std::string>;
    struct Case {
        std::string list;
        V records;
    };
    for (const auto& c : {Case{LT("a~b~"), V{"a", "b"}}, Case{LT("~~a~~"), V{"a"}}, Case{"", V{}},
                          Case{LT(" a ~ b"), V{"a", "b"}}, Case{LT("|1| ~"), V{"1"}}})
        EXPECT_EQ(SplitListRecords(c.list), c.records) << c.list;
}
