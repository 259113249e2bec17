#include "foundation/fhFileUtil.h"
#include "foundation/fhStrUtils.h"

#include <gtest/gtest.h>

using namespace nuq;

// Word routines as every serialised text reads them: runs of separators
// never make an empty word.
TEST(StrUtils, WordsSkipRunsOfSeparators) {
    const TCharSet sep{'\x02'};
    struct Case {
        std::string s;
        int n;
        std::string word;
        int pos;
    };
    for (const auto& c :
         {Case{"\x02"
               "a\x02\x02"
               "b",
               2, "b", 5},
          Case{"\x02"
               "a\x02\x02"
               "b",
               1, "a", 2},
          Case{"\x02"
               "a\x02\x02"
               "b",
               3, "", 0},
          Case{"", 1, "", 0}, Case{"abc", 1, "abc", 1}, Case{"abc\x02", 0, "", 0}}) {
        EXPECT_EQ(ExtractWord(c.n, c.s, sep), c.word) << c.n;
        EXPECT_EQ(WordPosition(c.n, c.s, sep), c.pos) << c.n;
    }
    EXPECT_EQ(WordCount("\x02"
                        "a\x02\x02"
                        "b",
                        sep),
              2);
    EXPECT_EQ(WordCount("\x02\x02", sep), 0);
    EXPECT_EQ(WordCount("a b,c", TCharSet{' ', ','}), 3);
    // Cyrillic UTF-8 bytes never count as ASCII separators.
    EXPECT_EQ(ExtractWord(2, "Котёл\x01Насос", TCharSet{'\x01'}), "Насос");
}

TEST(StrUtils, ReplaceDoesNotRescanInsertedText) {
    EXPECT_EQ(ReplaceStr("aaa", "a", "aa"), "aaaaaa");
    EXPECT_EQ(ReplaceStr("abcabc", "bc", ""), "aa");
    EXPECT_EQ(ReplaceStr("abc", "", "x"), "abc");
    EXPECT_EQ(ReplaceStr("Abc", "a", "x"), "Abc");
}

TEST(StrUtils, PositionsAndPadding) {
    EXPECT_EQ(NPos("aa", "aaaa", 2), 2);
    EXPECT_EQ(NPos("aa", "aaaa", 3), 3);
    EXPECT_EQ(NPos("aa", "aaaa", 4), 0);
    EXPECT_EQ(NPos("", "aaaa", 1), 0);
    EXPECT_EQ(MakeStr('x', 3), "xxx");
    EXPECT_EQ(MakeStr('x', 0), "");
    EXPECT_EQ(MakeStr('x', -2), "");
    EXPECT_EQ(AddChar(' ', "1", 6), "     1");
    EXPECT_EQ(AddCharR(' ', "1", 3), "1  ");
    EXPECT_EQ(AddChar('0', "12345", 3), "12345");
    // Padding counts characters, not UTF-8 bytes.
    EXPECT_EQ(AddCharR('.', "Ток", 5), "Ток..");
}

TEST(StrUtils, IntToBinGroupsDigits) {
    struct Case {
        int64_t v;
        int digits, spaces;
        std::string out;
    };
    for (const auto& c : {Case{5, 8, 4, " 0000 0101"}, Case{5, 3, 1, " 1 0 1"}, Case{5, 0, 4, ""},
                          Case{-1, 40, 8, " 11111111 11111111 11111111 11111111"},
                          // Spaces below 1 must insert nothing (and not divide by zero).
                          Case{6, 4, 0, "0110"}, Case{6, 4, -3, "0110"}})
        EXPECT_EQ(IntToBin(c.v, c.digits, c.spaces), c.out) << c.v << " " << c.spaces;
}

TEST(StrUtils, XorRoundTrip) {
    EXPECT_EQ(XorEncode("", "AB"), "4142");
    EXPECT_EQ(XorEncode("\x01", "AB"), "4043");
    for (std::string text : {"", "Form1.Left=10", "Окно котельной"}) {
        EXPECT_EQ(XorDecode("key", XorEncode("key", text)), text);
        EXPECT_EQ(XorDecode("", XorEncode("", text)), text);
    }
    // A bad pair reads as a blank.
    EXPECT_EQ(XorDecode("", "41zz42"), "A B");
    EXPECT_EQ(XorDecode("", "414"), "A");
}

TEST(FileUtil, NormalDir) {
    struct Case {
        std::string in, out;
    };
    for (const auto& c :
         {Case{"", ""}, Case{"c", "c:\\"}, Case{"Z", "Z:\\"}, Case{"C:\\Logs", "C:\\Logs\\"},
          Case{"C:", "C:"}, Case{"C:\\", "C:\\"}, Case{"Logs", "Logs/"}, Case{"D:Logs", "D:Logs\\"},
          Case{"a\\b", "a\\b\\"}, Case{"/opt/nuq", "/opt/nuq/"}, Case{"/opt/nuq/", "/opt/nuq/"},
          Case{"1", "1/"}})
        EXPECT_EQ(NormalDir(c.in), c.out) << c.in;
}
