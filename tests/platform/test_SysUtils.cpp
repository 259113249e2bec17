#include "platform/Cp1251.h"
#include "platform/EventLoop.h"
#include "platform/SyncObjs.h"
#include "platform/SysUtils.h"

#include <gtest/gtest.h>

#include <thread>

using namespace nuq;

TEST(SysUtils, IntegerTexts) {
    struct Case {
        std::string s;
        bool ok;
        int v;
    };
    for (const auto& c : {Case{"12", true, 12}, Case{" -7 ", true, -7}, Case{"$FF", true, 255},
                          Case{"$ffffffff", true, -1}, Case{"0x10", true, 16}, Case{"", false, 0},
                          Case{"1.5", false, 0}, Case{"12a", false, 0}, Case{"$", false, 0},
                          Case{"2147483648", false, 0}, Case{"$1FFFFFFFF", false, 0}}) {
        int v = 0;
        EXPECT_EQ(TryStrToInt(c.s, v), c.ok) << c.s;
        if (c.ok) {
            EXPECT_EQ(v, c.v) << c.s;
        }
    }
    EXPECT_THROW(StrToInt("x"), EConvertError);
    EXPECT_EQ(StrToInt64("$FFFFFFFFFF"), 0xFFFFFFFFFFLL);
}

TEST(SysUtils, FloatTexts) {
    double v = 0;
    EXPECT_TRUE(TryStrToFloat("1.25", v));
    EXPECT_EQ(v, 1.25);
    EXPECT_FALSE(TryStrToFloat("1,25", v));
    EXPECT_FALSE(TryStrToFloat("inf", v));
    EXPECT_FALSE(TryStrToFloat("nan", v));
    EXPECT_FALSE(TryStrToFloat("", v));

    struct Case {
        double v;
        std::string s;
    };
    for (const auto& c : {Case{50, "50"}, Case{0.1, "0.1"}, Case{-2.00001, "-2.00001"},
                          Case{1234567, "1234567"}, Case{0.0001, "0.0001"}, Case{0.00001, "1E-5"},
                          Case{1e20, "1E20"}, Case{999999995904.0, "999999995904"}, Case{0, "0"}})
        EXPECT_EQ(FloatToStr(c.v), c.s);
    EXPECT_EQ(SingleToStr(0.1f), "0.1");
    EXPECT_EQ(SingleToStr(-10.0f), "-10");
    EXPECT_EQ(SingleToStr(3.14159f), "3.14159");
}

TEST(SysUtils, Lines) {
    EXPECT_EQ(SplitLines("a\r\nb\nc\r\n"), (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_EQ(SplitLines("\r\na"), (std::vector<std::string>{"", "a"}));
    EXPECT_TRUE(SplitLines("").empty());
}

TEST(Cp1251, RoundTripAndUnmappable) {
    std::string text = "Котельная №5 ёЁ";
    std::string bytes = Utf8ToCp1251(text);
    EXPECT_EQ(bytes.size(), CharLength(text));
    EXPECT_EQ(static_cast<unsigned char>(bytes[0]), 0xCA); // К
    EXPECT_EQ(Cp1251ToUtf8(bytes), text);
    EXPECT_EQ(Utf8ToCp1251("a€"), "a\x88");
    EXPECT_EQ(Utf8ToCp1251("日"), "?");
    EXPECT_TRUE(IsValidUtf8(text));
    EXPECT_FALSE(IsValidUtf8(bytes));
    EXPECT_EQ(TextFromFileBytes(bytes), text);
    EXPECT_EQ(TextFromFileBytes("\xEF\xBB\xBF"
                                "abc"),
              "abc");
    for (int b = 0; b < 256; ++b) {
        if (b == 0x98) continue;
        std::string one(1, char(b));
        EXPECT_EQ(Utf8ToCp1251(Cp1251ToUtf8(one)), one) << b;
    }
}

// A file of both encodings: mostly UTF-8 keeps its UTF-8 lines and reads each
// other line as cp1251, naming it; mostly cp1251 stays cp1251 throughout. A
// cp1251 line that is valid UTF-8 by chance counts as cp1251, and lines are
// numbered as the readers split them.
TEST(Cp1251, MixedFileIsDecodedLineByLine) {
    const std::string utf = "Код аварии", cp = Utf8ToCp1251("Котёл");
    const std::string chance = Utf8ToCp1251("Т°1"); // D2 B0: "Ұ" in UTF-8
    const std::string signs = "Котёл №5: 90 °C, «Насос» — ёмкость, расход м³/ч";
    struct Case {
        std::string bytes, text;
        std::vector<int> lines;
    };
    for (const auto& c : {
             Case{utf + "\n" + cp + "\r\n" + utf, utf + "\n" + "Котёл\r\n" + utf, {2}},
             Case{cp + "\n" + utf + "\n" + cp + "\n" + utf + "\n" + utf,
                  "Котёл\n" + utf + "\nКотёл\n" + utf + "\n" + utf,
                  {1, 3}},
             // One line that happens to be valid UTF-8 in a cp1251 file.
             Case{Utf8ToCp1251("Т°") + "\n" + cp + "\n" + cp,
                  Cp1251ToUtf8(Utf8ToCp1251("Т°")) + "\nКотёл\nКотёл",
                  {}},
             Case{cp + "\n" + cp, "Котёл\nКотёл", {}},
             Case{utf, utf, {}},
             Case{signs + "\n" + utf, signs + "\n" + utf, {}},
             Case{chance + "\r\n" + cp, "Т°1\r\nКотёл", {}},
             // Valid UTF-8 throughout reads back as written, signs cp1251
             // lacks and replacement characters included: files of ours are
             // UTF-8.
             Case{"a = 1\n" + chance + "\n", "a = 1\nҰ1\n", {}},
             Case{"\xEF\xBB\xBF"
                  "a = 1\nΩ = 2",
                  "a = 1\nΩ = 2",
                  {}},
             Case{"a = Ω\nb = РК\uFFFD\uFFFD\uFFFD\n", "a = Ω\nb = РК\uFFFD\uFFFD\uFFFD\n", {}},
             Case{utf + "\n" + utf + "\n" + utf + "\n" + cp + "\n" + chance,
                  utf + "\n" + utf + "\n" + utf + "\nКотёл\nТ°1",
                  {4, 5}},
             // A lone CR ends a line, as the script and ini readers end it.
             Case{utf + "\r" + cp + "\n\r" + utf + "\r\n" + cp + "\r" + utf,
                  utf + "\rКотёл\n\r" + utf + "\r\nКотёл\r" + utf,
                  {2, 5}},
         }) {
        std::vector<int> lines;
        EXPECT_EQ(TextFromFileBytes(c.bytes, &lines), c.text);
        EXPECT_EQ(lines, c.lines) << c.text;
    }
}

TEST(EventLoop, ProcessMessagesRunsWhatWasPending) {
    int ran = 0;
    PostCall([&] {
        ++ran;
        PostCall([&] { ran += 10; }); // posted inside a pass: next pass
    });
    std::thread([&] { PostCall([&] { ++ran; }); }).join();
    ProcessMessages();
    EXPECT_EQ(ran, 2);
    ProcessMessages();
    EXPECT_EQ(ran, 12);
    ProcessMessages();
    EXPECT_EQ(ran, 12);
}

TEST(NamedMutex, SharedByNameAndRecursive) {
    auto a = OpenNamedMutex("SIP1");
    auto b = OpenNamedMutex("SIP1");
    auto c = OpenNamedMutex("SIP2");
    EXPECT_EQ(a.get(), b.get());
    EXPECT_NE(a.get(), c.get());
    a->Acquire();
    EXPECT_TRUE(b->TryAcquire()); // same thread: recursive
    b->Release();
    bool other = true;
    std::thread([&] { other = a->TryAcquire(); }).join();
    EXPECT_FALSE(other);
    a->Release();
}

// A name lives while any of its handles is open; after the last one closes
// it may be opened afresh, and other names are never disturbed.
TEST(NamedMutex, NameLivesWithItsLastHandle) {
    auto a = OpenNamedMutex("OPCRM1");
    auto b = OpenNamedMutex("OPCRM1");
    auto keep = OpenNamedMutex("OPCRM2");
    b.reset();
    EXPECT_EQ(OpenNamedMutex("OPCRM1").get(), a.get()); // a still holds the name
    a->Acquire();
    bool other = true;
    std::thread([&] { other = OpenNamedMutex("OPCRM1")->TryAcquire(); }).join();
    EXPECT_FALSE(other);
    a->Release();
    a.reset();
    auto fresh = OpenNamedMutex("OPCRM1");
    std::thread([&] {
        other = fresh->TryAcquire();
        if (other) fresh->Release();
    }).join();
    EXPECT_TRUE(other);
    EXPECT_EQ(OpenNamedMutex("OPCRM2").get(), keep.get());
    EXPECT_NE(OpenNamedMutex("").get(), OpenNamedMutex("").get()); // unnamed: private
}

TEST(Utf16, RoundTripAndBadInput) {
    for (std::string text : {"", "abc", "Котельная №5", "😀 emoji", "€"})
        EXPECT_EQ(Utf16ToUtf8(Utf8ToUtf16(text)), text) << text;
    EXPECT_EQ(Utf8ToUtf16("😀").size(), 2u); // a surrogate pair
    EXPECT_EQ(Utf8ToUtf16("a\xFF"
                          "b"),
              u"a\uFFFDb");
    EXPECT_EQ(Utf16ToUtf8(std::u16string(1, char16_t(0xD800))), "\xEF\xBF\xBD");
}
