#include "ListTextNotation.h"
#include "acquisition/uInfoByteClasses.h"
#include "acquisition/uListText.h"

#include <gtest/gtest.h>

using namespace nuq;

namespace {

struct Values {
    int TemprByte, TemprModeByte, TemprModeBit, TemprModeBitValue, LTControl, LTByte, LTTemper,
        LTPeriod;
};

Values Of(const TNuqInfoBytes& b) {
    return {b.TemprByte, b.TemprModeByte, b.TemprModeBit, b.TemprModeBitValue,
            b.LTControl, b.LTByte,        b.LTTemper,     b.LTPeriod};
}

void ExpectValues(const TNuqInfoBytes& b, const Values& v, const std::string& what) {
    Values got = Of(b);
    EXPECT_EQ(got.TemprByte, v.TemprByte) << what;
    EXPECT_EQ(got.TemprModeByte, v.TemprModeByte) << what;
    EXPECT_EQ(got.TemprModeBit, v.TemprModeBit) << what;
    EXPECT_EQ(got.TemprModeBitValue, v.TemprModeBitValue) << what;
    EXPECT_EQ(got.LTControl, v.LTControl) << what;
    EXPECT_EQ(got.LTByte, v.LTByte) << what;
    EXPECT_EQ(got.LTTemper, v.LTTemper) << what;
    EXPECT_EQ(got.LTPeriod, v.LTPeriod) << what;
}

const Values Defaults{0, 0, 0, 0, 0, 0, 30, 30};

} // namespace

TEST(InfoBytes, ClearedRecordSavesAsKnownText) {
    TNuqInfoBytes b;
    b.Clear();
    EXPECT_EQ(b.SaveToString(), "MAIwAjACMAIwAjACMzACMzA=");
    EXPECT_EQ(DecodeListText(b.SaveToString()), LT("0|0|0|0|0|0|30|30"));
}

TEST(InfoBytes, NewAndClearedValues) {
    TNuqInfoBytes b;
    ExpectValues(b, {0, 0, 0, 0, 0, 0, 0, 0}, "new");
    b.TemprModeBitValue = 1;
    b.TemprByte = 9;
    b.Clear();
    ExpectValues(b, {0, 0, 0, 1, 0, 0, 30, 30}, "Clear keeps the bit value");
    TInfoBytes base;
    EXPECT_EQ(base.SaveToString(), "");
}

// Fields are written in an order of their own: LTControl before TemprModeBitValue.
TEST(InfoBytes, RoundTrip) {
    for (const Values& v : {Values{5, 6, 8, 0, 1, 7, 80, 240}, Values{5, 6, 1, 1, 0, 7, 0, 1},
                            Values{-1, 2147483647, 3, 1, 1, 0, 25, 60}, Defaults}) {
        TNuqInfoBytes b;
        b.TemprByte = v.TemprByte;
        b.TemprModeByte = v.TemprModeByte;
        b.TemprModeBit = v.TemprModeBit;
        b.TemprModeBitValue = uint8_t(v.TemprModeBitValue);
        b.LTControl = uint8_t(v.LTControl);
        b.LTByte = v.LTByte;
        b.LTTemper = uint8_t(v.LTTemper);
        b.LTPeriod = uint8_t(v.LTPeriod);
        TNuqInfoBytes c;
        c.TemprModeBitValue = 1;
        c.LoadFromString(b.SaveToString());
        ExpectValues(c, v, b.SaveToString());
    }
}

TEST(InfoBytes, BadTextsGiveDefaults) {
    struct Case {
        std::string text;
        Values v;
    };
    for (const auto& c : {
             Case{"", Defaults},
             Case{"not base64!", Defaults},
             Case{"MAIwAjACMAIwAjACMzACMzA", Defaults}, // padding cut off
             Case{EncodeListText("abc"), Defaults},
             Case{EncodeListText(LT("1|2|3")), {1, 2, 3, 0, 0, 0, 30, 30}}, // truncated
             // One bad field; a byte keeps its low 8 bits.
             Case{EncodeListText(LT("1|x|3|1|1|6|300|9")), {1, 0, 3, 1, 1, 6, 44, 9}},
             Case{EncodeListText(LT("||4||5")), {4, 5, 0, 0, 0, 0, 30, 30}},
         }) {
        TNuqInfoBytes b;
        b.TemprByte = 77;
        b.TemprModeBitValue = 1;
        b.LoadFromString(c.text);
        ExpectValues(b, c.v, c.text);
    }
}
