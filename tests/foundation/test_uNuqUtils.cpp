#include "foundation/uNuqUtils.h"

#include <gtest/gtest.h>

using namespace nuq;

TEST(NuqUtils, HexByteReadsFirstTwoCharactersOrGivesZero) {
    struct Case {
        std::string in;
        int out;
    };
    for (const auto& c :
         {Case{"0A", 10}, Case{"ff", 255}, Case{"FF1", 255}, Case{"A", 10}, Case{"7f", 127},
          Case{"", 0}, Case{"G1", 0}, Case{"1G", 0}, Case{" 1", 0}, Case{"-1", 0}, Case{"$1", 0}})
        EXPECT_EQ(HexByteToInt(c.in), c.out) << c.in;
    for (auto c : {std::pair<int, const char*>{0, "00"}, {10, "0A"}, {171, "AB"}, {255, "FF"}})
        EXPECT_EQ(ByteToHex(uint8_t(c.first)), c.second);
}

// The four-digit code units a GSM modem sends and expects.
TEST(NuqUtils, UCS2HexToText) {
    struct Case {
        std::string hex, text;
    };
    for (const auto& c : {
             Case{"04140430", "Да"}, Case{"0414043000410031", "ДаA1"}, Case{"04140430", "Да"},
             Case{"041a", "К"}, Case{"", ""},
             Case{"0414ZZZZ0430", "Д"},                  // stops at the first bad group
             Case{"0414 0430", "Д"}, Case{"04140", "Д"}, // one digit left over starts no group
             Case{"041400", std::string("Д") + '\0'},    // a short last group still reads
             Case{"D83DDE00", "\xF0\x9F\x98\x80"},       // surrogate pair
             Case{"D83D0041", "\xEF\xBF\xBD"
                              "A"},        // lone high surrogate
             Case{"DE00", "\xEF\xBF\xBD"}, // lone low surrogate
         })
        EXPECT_EQ(UCS2HexToText(c.hex), c.text) << c.hex;
}

TEST(NuqUtils, TextToUCS2Hex) {
    struct Case {
        std::string text, hex;
    };
    for (const auto& c : {Case{"Да", "04140430"}, Case{"A", "0041"}, Case{"", ""},
                          Case{"ё°", "045100B0"}, Case{"\xF0\x9F\x98\x80", "D83DDE00"},
                          Case{"\xC0", "0410"}}) // a byte that is not UTF-8 is cp1251 "А"
        EXPECT_EQ(TextToUCS2Hex(c.text), c.hex) << c.text;
    for (std::string s : {"Баланс 12.50 р.", "Ёлка\r\nёж", "\xF0\x9F\x98\x80 x"})
        EXPECT_EQ(UCS2HexToText(TextToUCS2Hex(s)), s);
}

// The 8-bit routines work on cp1251 bytes.
TEST(NuqUtils, HexToTextReadsCp1251Pairs) {
    struct Case {
        std::string hex, text;
    };
    for (const auto& c : {Case{"4142", "AB"}, Case{"C4E0", "Да"}, Case{"c4e0", "Да"},
                          Case{"41424", "AB"}, Case{"41ZZ42", "A"}, Case{"", ""}, Case{"4", ""}})
        EXPECT_EQ(HexToText(c.hex), c.text) << c.hex;
}

TEST(NuqUtils, HexToByteList) {
    struct Case {
        std::string hex;
        TByteList bytes;
    };
    for (const auto& c :
         {Case{" 0A1 ", {}}, Case{" 0AFF ", {10, 255}}, Case{"", {}}, Case{"   ", {}},
          Case{"0G", {0}}, Case{"zz0a", {0, 10}}, Case{"\t00ff\r\n", {0, 255}}})
        EXPECT_EQ(HexToByteList(c.hex), c.bytes) << c.hex;
}

TEST(NuqUtils, ByteListsOfTextAndToHex) {
    EXPECT_EQ(StringToByteList("AД1"), (TByteList{0x41, 0xC4, 0x31}));
    EXPECT_EQ(StringToByteList(""), TByteList{});

    std::string s = "X";
    ByteListToHex({1, 2}, s);
    EXPECT_EQ(s, "X0102");
    ByteListToHex({}, s);
    EXPECT_EQ(s, "X0102");
    ByteListToHex({0xAB, 0xFF}, s);
    EXPECT_EQ(s, "X0102ABFF");

    std::string hex;
    ByteListToHex(HexToByteList("00017FFF"), hex);
    EXPECT_EQ(hex, "00017FFF");
}
