#include "platform/Variant.h"

#include <gtest/gtest.h>

using namespace nuq;

TEST(Variant, KindFollowsTheValueGiven) {
    struct Case {
        Variant Value;
        TVarType Type;
    };
    for (const Case& c : {Case{Variant(), TVarType::Empty}, Case{Variant::Null(), TVarType::Null},
                          Case{true, TVarType::Boolean}, Case{5, TVarType::Integer},
                          Case{int64_t(1) << 40, TVarType::Integer},
                          Case{uint8_t(7), TVarType::Integer}, Case{2.5, TVarType::Double},
                          Case{"a", TVarType::Text}, Case{std::string("б"), TVarType::Text},
                          Case{Variant::FromDateTime(1.5), TVarType::DateTime}})
        EXPECT_EQ(c.Value.Type(), c.Type) << VarTypeName(c.Type);
}

TEST(Variant, ConvertsWithTheRuntimesRules) {
    struct Case {
        Variant Value;
        const char* Text;
        int64_t Integer;
        bool Boolean;
    };
    for (const Case& c :
         {Case{Variant(), "", 0, false}, Case{true, "True", -1, true},
          Case{false, "False", 0, false}, Case{-42, "-42", -42, true}, Case{2.5, "2.5", 3, true},
          Case{" 17 ", " 17 ", 17, true}, Case{"$1F", "$1F", 31, true}, Case{"1.5", "1.5", 2, true},
          Case{"0", "0", 0, false}}) {
        EXPECT_EQ(c.Value.AsString(), c.Text);
        EXPECT_EQ(c.Value.AsInteger(), c.Integer) << c.Text;
        EXPECT_EQ(c.Value.AsBoolean(), c.Boolean) << c.Text;
    }
    // Servers that send Booleans as text.
    for (const char* t : {"true", "TRUE", " t ", "1", "-1"})
        EXPECT_TRUE(Variant(t).AsBoolean()) << t;
    for (const char* t : {"false", "f", "0"}) EXPECT_FALSE(Variant(t).AsBoolean()) << t;
    EXPECT_EQ(Variant::FromDateTime(EncodeDateTime(2010, 3, 7, 9, 15, 30)).AsString(),
              "07.03.2010 09:15:30");
}

// Null reads as an empty text but is no number; a bad text is no number either.
TEST(Variant, RefusesWhatDoesNotConvert) {
    EXPECT_EQ(Variant::Null().AsString(), "");
    for (const Variant& v : {Variant::Null(), Variant("abc"), Variant("")}) {
        EXPECT_THROW(v.AsInteger(), EVariantError) << v.AsString();
        EXPECT_THROW(v.AsDouble(), EVariantError) << v.AsString();
        EXPECT_THROW(v.AsBoolean(), EVariantError) << v.AsString();
        EXPECT_THROW(v.AsDateTime(), EVariantError) << v.AsString();
    }
    EXPECT_THROW(Variant(1e300).AsInteger(), EVariantError);
}

TEST(Variant, EqualityKeepsKindsApart) {
    EXPECT_EQ(Variant(), Variant());
    EXPECT_NE(Variant(), Variant::Null());
    EXPECT_NE(Variant(1), Variant(1.0));
    EXPECT_NE(Variant(1.5), Variant::FromDateTime(1.5));
    EXPECT_NE(Variant("1"), Variant(1));
}
