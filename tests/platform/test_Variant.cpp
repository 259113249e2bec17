#include "platform/Variant.h"

#include <gtest/gtest.h>

#include <limits>

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

// A stored date-time that is no number, or lies beyond the calendar, has
// no text: it is refused, never shown as a made-up date.
TEST(Variant, DateTimeWithoutCalendarDateIsRefused) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    for (double v : {nan, -nan, inf, -inf, 1e300, -1e300, 9.3e13, -693594.0, 2958466.0,
                     2958466.0 - 1e-10}) // the last one rounds to the day after the last
        EXPECT_THROW(Variant::FromDateTime(v).AsString(), EConvertError) << v;
    struct Case {
        double value;
        const char* text;
    };
    for (const Case& c : {Case{EncodeDateTime(1, 1, 1), "01.01.0001 00:00:00"},
                          Case{EncodeDateTime(9999, 12, 31, 23, 59, 59), "31.12.9999 23:59:59"},
                          Case{0, "30.12.1899 00:00:00"}})
        EXPECT_EQ(Variant::FromDateTime(c.value).AsString(), c.text);
}

TEST(Variant, EqualityKeepsKindsApart) {
    EXPECT_EQ(Variant(), Variant());
    EXPECT_NE(Variant(), Variant::Null());
    EXPECT_NE(Variant(1), Variant(1.0));
    EXPECT_NE(Variant(1.5), Variant::FromDateTime(1.5));
    EXPECT_NE(Variant("1"), Variant(1));
}
