#include "foundation/uUtils.h"
#include "platform/Host.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

using namespace nuq;
namespace fs = std::filesystem;

TEST(Utils, RoundByFactorHalfAwayFromZero) {
    struct Case {
        int factor;
        double in, out;
    };
    for (auto c : {Case{100000, 1.0000049999, 1.0}, Case{100000, -2.000006, -2.00001},
                   Case{10000, 50.00005, 50.0001}, Case{10000, -50.00005, -50.0001},
                   Case{10000, 0.12344, 0.1234}, Case{10, 7.0, 7.0}})
        EXPECT_NEAR(RoundByFactor(c.factor, c.in), c.out, 1e-12) << c.in;
}

TEST(Utils, BinStrToInt) {
    struct Case {
        std::string s;
        int v;
        bool error;
    };
    for (const auto& c : {Case{"", 0, false}, Case{"101", 5, false}, Case{"1012", 10, true},
                          Case{"11111111", 255, false}, Case{"1x1", 5, true}}) {
        bool error = !c.error;
        EXPECT_EQ(BinStrToInt(c.s, error), c.v) << c.s;
        EXPECT_EQ(error, c.error) << c.s;
    }
}

TEST(Utils, SecondsToStr) {
    struct Case {
        int s;
        std::string out;
    };
    for (const auto& c :
         {Case{0, ""}, Case{59, "59 с"}, Case{60, "1 м "}, Case{90061, "1 дн 1 ч 1 м 1 с"},
          Case{86400, "1 дн "}, Case{3601, "1 ч 1 с"}})
        EXPECT_EQ(SecondsToStr(c.s), c.out) << c.s;
}

// IEEE singles as the controllers send them, and the conversion's error value.
TEST(Utils, HexStrToFloat) {
    struct Case {
        std::string s;
        bool tiny;
        double v;
    };
    for (const auto& c :
         {Case{"3F800000", false, 1.0}, Case{"C1200000", false, -10.0}, Case{"$80000000", false, 0},
          Case{"$00000000", false, 0}, Case{"$3F800000", false, 1.0},
          Case{"$3f$800000", false, 1.0}, Case{"7F800000", false, 999999995904.0}, // infinity
          Case{"FFFFFFFF", false, 999999995904.0},                                 // sign dropped
          Case{"D3000000", false, -549755813888.0},
          Case{"D4000000", false, 999999995904.0}, // -2.2E12: sign dropped
          Case{"33D6BF95", false, 1e-7}, Case{"33D6BF95", true, 1e-7},
          Case{"33800000", true, 0}, // 5.96E-8 below 1E-7
          Case{"GGGGGGGG", false, 0}, Case{"", false, 0}, Case{"123456789", false, 0}})
        EXPECT_NEAR(HexStrToFloat(c.s, c.tiny), c.v, std::fabs(c.v) * 1e-6) << c.s;
    // Subnormal patterns are read as if they were normal numbers.
    EXPECT_FLOAT_EQ(HexToSingleValue("00000001"),
                    float(std::ldexp(1.0, -127) * (1 + std::ldexp(1.0, -23))));
}

TEST(Utils, BitsAndBytes) {
    struct Case {
        uint8_t in;
        int out;
    };
    for (auto c : {Case{0x85, -5}, Case{0x05, 5}, Case{0x80, 0}, Case{0xFF, -127}, Case{0x7F, 127}})
        EXPECT_EQ(SignMagnitudeByteToInt(c.in), c.out) << int(c.in);
    EXPECT_TRUE(IsBitSet(5, 0));
    EXPECT_FALSE(IsBitSet(5, 1));
    EXPECT_TRUE(IsBitSet(int32_t(0x80000000), 31));
    EXPECT_FALSE(IsBitSet(1, 64));
    EXPECT_EQ(IntToHexStr(2, 10), "0A");
    EXPECT_EQ(IntToHexStr(1, 255), "FF");
    EXPECT_EQ(IntToHexStr(4, -1), "FFFFFFFF");
}

TEST(Utils, SystemActionRecords) {
    std::string result;
    AddSystemAction("", "CONTROL", "Управление", result, "Команды");
    EXPECT_EQ(result, "CONTROL\x01Управление\x01Команды\x02");
    AddSystemAction(result, "B", "n", result, "d");
    EXPECT_EQ(result, "CONTROL\x01Управление\x01Команды\x02"
                      "B\x01n\x01"
                      "d\x02");
}

TEST(Utils, DigestsAndKeys) {
    EXPECT_EQ(MD5Hex(""), "D41D8CD98F00B204E9800998ECF8427E");
    EXPECT_EQ(MD5Hex("abc"), "900150983CD24FB0D6963F7D28E17F72");
    // Cyrillic is digested as its cp1251 bytes, as stored keys were made.
    EXPECT_EQ(MD5Hex("Я"), "A26785922B3516FE627BAB9726C66E43");
    const std::string a = NewUniqueKey(), b = NewUniqueKey();
    EXPECT_EQ(a.size(), 32u);
    EXPECT_NE(a, b);
    EXPECT_EQ(a.find_first_not_of("0123456789ABCDEF"), std::string::npos);
    const std::string guid = NewGuidText();
    ASSERT_EQ(guid.size(), 38u);
    EXPECT_EQ(guid.front(), '{');
    EXPECT_EQ(guid[15], '4');

    // HMAC-SHA256 under the seal key, checked against an independent computation.
    EXPECT_EQ(PacketSignature(",1,2,255"), "3Xzx/QBz3BTMoxhcEnuh61IfLx0SUDXbeWyG+JUr1Rs=");
    EXPECT_EQ(PacketSignature(""), "+AG7cHCeykxZpDEOlbH+Wm5VN4tR2e/RTjSCKG5p4aM=");
}

TEST(Utils, NamedMutexIsShared) {
    auto a = CreateOpenMutex("MutexOpenBR");
    auto b = CreateOpenMutex("MutexOpenBR");
    EXPECT_EQ(a.get(), b.get());
}

// Sound goes to the first player found; a fake player records what it was given.
TEST(Utils, PlaySoundFile) {
    const fs::path dir = fs::temp_directory_path() / ("nuq-sound-" + std::to_string(getpid()));
    fs::create_directories(dir / "bin");
    fs::create_directories(dir / "home");
    const fs::path log = dir / "played.txt";
    {
        std::ofstream player(dir / "bin" / "aplay");
        player << "#!/bin/sh\nfor a in \"$@\"; do echo \"$a\" >> '" << log.string() << "'; done\n";
    }
    fs::permissions(dir / "bin" / "aplay", fs::perms::owner_all);
    std::ofstream(dir / "home" / "alarm.wav") << "RIFF";
    std::ofstream(dir / "direct.wav") << "RIFF";

    const std::string oldPath = std::getenv("PATH") ? std::getenv("PATH") : "";
    setenv("PATH", (dir / "bin").c_str(), 1);
    SetHostFolder((dir / "home").string());

    EXPECT_TRUE(PlaySoundFile((dir / "direct.wav").string()));
    EXPECT_TRUE(PlaySoundFile("alarm.wav")); // found in the host folder
    EXPECT_FALSE(PlaySoundFile("missing.wav"));
    EXPECT_FALSE(PlaySoundFile(""));

    // The player runs detached; wait for both lines.
    std::string text;
    for (int i = 0; i < 200; ++i) {
        std::ifstream in(log);
        text.assign(std::istreambuf_iterator<char>(in), {});
        if (text.find("alarm.wav") != std::string::npos &&
            text.find("direct.wav") != std::string::npos)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_NE(text.find((dir / "home" / "alarm.wav").string()), std::string::npos);
    EXPECT_NE(text.find((dir / "direct.wav").string()), std::string::npos);

    setenv("PATH", (dir / "nothing").c_str(), 1);
    EXPECT_FALSE(PlaySoundFile((dir / "direct.wav").string())); // no player at all

    setenv("PATH", oldPath.c_str(), 1);
    SetHostFolder("");
    fs::remove_all(dir);
}
