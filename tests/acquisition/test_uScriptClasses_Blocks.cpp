#include "acquisition/uNuqClasses.h"
#include "platform/EventLoop.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace nuq;

namespace {

template <class T>
T& AddBlock(TBoilerRoom& room, int type, int byteNo, const std::string& caption = "x") {
    tBlock& b = room.Blocks.Items(room.Blocks.Add(type));
    b.ByteNo = byteNo;
    b.Caption = caption;
    return static_cast<T&>(b);
}

std::string Text(const tBlock& b, int line = 0) {
    return b.DecodeList.GetItem(line).Value;
}

std::string Bytes(std::initializer_list<int> bytes) {
    std::string s;
    for (int b : bytes) s += char(b);
    return s;
}

} // namespace

// Each type's reading of its bytes, including its no-data code.
TEST(Blocks, DecodeByType) {
    TBoilerRoom room;
    auto& byte = AddBlock<tByteBlock>(room, 1, 1);
    auto& byte00 = AddBlock<tByteBlock>(room, 1, 2);
    byte00.NaNText = "00";
    auto& shortInt = AddBlock<tShortIntBlock>(room, 2, 3);
    auto& integer = AddBlock<tIntegerBlock>(room, 6, 4);
    auto& real = AddBlock<tRealBlock>(room, 7, 6);
    real.Dimension = 1000;
    real.TopLimit = 100;
    auto& real200 = AddBlock<tRealBlock>(room, 7, 8);
    real200.Dimension = 200;
    real200.BottomLimit = -50;
    real200.TopLimit = 150;
    auto& flt = AddBlock<tFloatBlock>(room, 5, 9);

    room.DecodePacket(
        Bytes({0x10, 0x00, 0x85, 0x80, 0x01, 0x01, 0xF4, 0x64, 0x3F, 0x80, 0x00, 0x00}));
    EXPECT_EQ(Text(byte), "16");
    EXPECT_EQ(Text(byte00), "-"); // a zero byte is this block's no-data code
    EXPECT_EQ(Text(shortInt), "-5");
    EXPECT_EQ(Text(integer), "-1");
    EXPECT_EQ(integer.Value, -1);
    EXPECT_EQ(Text(real), "50");
    EXPECT_EQ(real.Value, 50);
    EXPECT_EQ(Text(real200), "50"); // one byte: 100 of 200 between -50 and 150
    EXPECT_EQ(Text(flt), "1");
    EXPECT_EQ(room.PacketLength, 12);

    room.DecodePacket(
        Bytes({0xFF, 0xFF, 0x05, 0x00, 0x05, 0x03, 0xE9, 0xFF, 0xC1, 0x20, 0x00, 0x00}));
    EXPECT_EQ(Text(byte), "-");
    EXPECT_EQ(Text(byte00), "255");
    EXPECT_EQ(Text(shortInt), "5");
    EXPECT_EQ(Text(integer), "5");
    EXPECT_EQ(Text(real), "-"); // 1001 is beyond the dimension
    EXPECT_EQ(real.Value, 999999995904.0);
    EXPECT_EQ(Text(real200), "-"); // $FF: beyond 200 and the default code
    EXPECT_EQ(Text(flt), "-10");
}

TEST(Blocks, FloatReadings) {
    struct Case {
        uint32_t bits;
        std::string text;
        double value;
        std::string nan;
    };
    for (const auto& c : {Case{0x3F800000, "1", 1.0, ""}, Case{0x40490FD0, "3.14159", 3.14159, ""},
                          Case{0x33800000, "0", 5.96046e-08, ""}, // tiny: shown as 0, kept as read
                          Case{0xFFFFFFFF, "-", 999999995904.0, ""},
                          Case{0x7F800000, "-", 999999995904.0, ""}, // beyond the error value
                          Case{0x00000000, "-", 0, "00000000"},      // its own no-data code
                          Case{0x42C80000, "100", 100, "00000000"}}) {
        TBoilerRoom room;
        auto& f = AddBlock<tFloatBlock>(room, 5, 2);
        f.NaNText = c.nan;
        room.DecodePacket(Bytes({0, int(c.bits >> 24), int(c.bits >> 16 & 0xFF),
                                 int(c.bits >> 8 & 0xFF), int(c.bits & 0xFF)}));
        EXPECT_EQ(Text(f), c.text) << std::hex << c.bits;
        EXPECT_NEAR(f.Value, c.value, std::abs(c.value) * 1e-5) << std::hex << c.bits;
    }
}

TEST(Blocks, BitsAndParameters) {
    TBoilerRoom room;
    auto& bits = AddBlock<tBitMaskBlock>(room, 3, 1);
    bits.Bits[0] = {"Насос", "Стоп", "Работа", -1};
    bits.Bits[1] = {"Авария котла", "Норма", "", 1}; // On1 empty: no line when set
    bits.Bits[2] = {"Дверь", "Открыта", "Закрыта", 0};
    bits.Bits[7] = {"", "a", "b", 1}; // no caption: never a line
    auto& param = AddBlock<tParameterBlock>(room, 4, 2, "Режим");
    param.Parameters.Add(1, "Зима");
    param.Parameters.Add(1, "second entry of 1");
    param.Parameters.Add(255, "Нет данных");

    room.DecodePacket(Bytes({0b10000011, 1}));
    ASSERT_EQ(bits.DecodeList.Count(), 2);
    EXPECT_EQ(bits.DecodeList.GetItem(0).Value, "Работа");
    EXPECT_FALSE(bits.DecodeList.GetItem(0).Alarm);
    EXPECT_EQ(bits.DecodeList.GetItem(1).Caption, "Дверь");
    EXPECT_EQ(bits.DecodeList.GetItem(1).Value, "Открыта");
    EXPECT_TRUE(bits.DecodeList.GetItem(1).Alarm);
    EXPECT_EQ(Text(param), "Зима");

    room.DecodePacket(Bytes({0b00000010, 7}));
    ASSERT_EQ(bits.DecodeList.Count(), 2);
    EXPECT_EQ(bits.DecodeList.GetItem(0).Value, "Стоп");
    EXPECT_EQ(bits.DecodeList.GetItem(1).Caption, "Дверь"); // bit 2 set with On1 empty: skipped
    EXPECT_EQ(Text(param), "");
    EXPECT_EQ(param.DecodeList.Count(), 1);
}

// An empty packet reads $FF everywhere: the "nothing received" display.
TEST(Blocks, EmptyPacketAndStop) {
    TBoilerRoom room;
    auto& byte = AddBlock<tByteBlock>(room, 1, 1);
    auto& bits = AddBlock<tBitMaskBlock>(room, 3, 2);
    for (auto& b : bits.Bits) b = {"bit", "off", "on", -1};
    auto& param = AddBlock<tParameterBlock>(room, 4, 3);
    param.Parameters.Add(255, "нет");

    room.DecodePacket(std::string());
    EXPECT_EQ(room.PacketLength, 0);
    EXPECT_EQ(Text(byte), "-");
    ASSERT_EQ(bits.DecodeList.Count(), 8);
    for (int k = 0; k < 8; ++k) EXPECT_EQ(Text(bits, k), "on");
    EXPECT_EQ(Text(param), "нет");

    room.ClearValues();
    EXPECT_EQ(Text(byte), "0");
    EXPECT_EQ(Text(param), "");
    EXPECT_EQ(Text(bits, 0), "off");

    room.DecodePacket(Bytes({7, 0, 0}));
    EXPECT_EQ(Text(byte), "7");
    room.DecodePacketBuffer();
    EXPECT_EQ(room.PacketLength, -1);
    EXPECT_EQ(Text(byte), "-");
    EXPECT_EQ(Text(param), "нет");
}

// Nothing is read or written outside the 32,768-byte buffer.
TEST(Blocks, BytesOutsideTheBuffer) {
    TBoilerRoom room;
    auto& last = AddBlock<tByteBlock>(room, 1, 32768);
    auto& zero = AddBlock<tByteBlock>(room, 1, 0);
    zero.NaNText = "00"; // its no-data state must not depend on reading a byte
    auto& negative = AddBlock<tShortIntBlock>(room, 2, -3);
    auto& beyond = AddBlock<tByteBlock>(room, 1, 40000);
    auto& lowest = AddBlock<tByteBlock>(room, 1, INT32_MIN);
    lowest.NaNText = "00";
    auto& highest = AddBlock<tFloatBlock>(room, 5, INT32_MAX);
    auto& fltIn = AddBlock<tFloatBlock>(room, 5, 32761);
    auto& fltOut = AddBlock<tFloatBlock>(room, 5, 32766);
    auto& intOut = AddBlock<tIntegerBlock>(room, 6, 32768);
    auto& realOneByte = AddBlock<tRealBlock>(room, 7, 32768);
    realOneByte.Dimension = 200;
    realOneByte.TopLimit = 200;
    auto& realTwoBytes = AddBlock<tRealBlock>(room, 7, 32768);
    realTwoBytes.Dimension = 1000;
    realTwoBytes.TopLimit = 1000;
    auto& bits = AddBlock<tBitMaskBlock>(room, 3, 32769);
    bits.Bits[0] = {"b", "0", "1", 1};

    std::string packet(40000, '\0');
    packet[32760] = 0x3F;
    packet[32761] = char(0x80);
    packet[32767] = 9;
    room.DecodePacket(packet);
    EXPECT_EQ(room.PacketLength, 32768); // cut to the buffer
    EXPECT_EQ(Text(last), "9");
    EXPECT_EQ(Text(zero), "-");
    EXPECT_EQ(Text(negative), "-");
    EXPECT_EQ(Text(beyond), "-");
    EXPECT_EQ(Text(lowest), "-");
    EXPECT_EQ(Text(highest), "-");
    EXPECT_EQ(Text(fltIn), "1");
    EXPECT_EQ(Text(fltOut), "-");
    EXPECT_EQ(Text(intOut), "-");
    EXPECT_EQ(Text(realOneByte), "9");
    EXPECT_EQ(Text(realTwoBytes), "-");
    EXPECT_EQ(Text(bits), "1"); // reads as an absent byte: all bits set
    EXPECT_TRUE(bits.DecodeList.GetItem(0).Alarm);

    room.DecodePacket(room.Packet, 1 << 20); // a length past the buffer is cut, not trusted
    EXPECT_EQ(room.PacketLength, 32768);
    EXPECT_EQ(Text(last), "9");
    room.DecodePacket(room.Packet, -5);
    EXPECT_EQ(room.PacketLength, 0);
    EXPECT_EQ(Text(last), "-");
}

// Packets of changing length one after another: every byte past the current
// packet reads as absent, whatever an earlier, longer packet held there.
TEST(Blocks, EachPacketReplacesTheLastWhole) {
    TBoilerRoom room;
    std::vector<tByteBlock*> bytes;
    for (int n = 1; n <= 8; ++n) bytes.push_back(&AddBlock<tByteBlock>(room, 1, n));
    auto expectPacket = [&](const std::string& packet, const char* step) {
        for (int n = 1; n <= 8; ++n)
            EXPECT_EQ(Text(*bytes[size_t(n - 1)]),
                      n <= int(packet.size()) ? std::to_string(uint8_t(packet[size_t(n - 1)]))
                                              : "-")
                << step << ", byte " << n;
    };
    const std::string full = Bytes({1, 2, 3, 4, 5, 6, 7, 8});
    room.DecodePacket(full);
    expectPacket(full, "full");
    room.DecodePacket(Bytes({9, 10, 11}));
    expectPacket(Bytes({9, 10, 11}), "shorter");
    room.DecodePacket(full);
    room.DecodePacket(room.Packet, 2); // its own buffer, cut
    expectPacket(Bytes({1, 2}), "own buffer");
    room.DecodePacket(full);
    room.DecodePacketBuffer();
    room.DecodePacket(Bytes({42}));
    expectPacket(Bytes({42}), "after stop");
    for (size_t i = 8; i < 64; ++i) EXPECT_EQ(room.Packet[i], 0xFF) << i;
}

// A block's lines follow every packet: line counts that shrink and grow, and
// a no-data code changed between packets.
TEST(Blocks, LinesFollowEveryPacket) {
    TBoilerRoom room;
    auto& bits = AddBlock<tBitMaskBlock>(room, 3, 1);
    for (int k = 0; k < 8; ++k) {
        std::string caption = "b";
        caption += char('1' + k);
        bits.Bits[size_t(k)] = {caption, "", "on", 1};
    }
    auto& byte = AddBlock<tByteBlock>(room, 1, 2);
    auto& integer = AddBlock<tIntegerBlock>(room, 6, 3);
    struct Case {
        int bits;
        std::vector<std::string> captions;
        std::string byteNaN, byteText, intNaN, intText;
    };
    for (const Case& c :
         {Case{0xFF, {"b1", "b2", "b3", "b4", "b5", "b6", "b7", "b8"}, "", "0", "", "-5"},
          Case{0x05, {"b1", "b3"}, "00", "-", "8005", "-"}, Case{0x00, {}, "", "0", "", "-5"},
          Case{0x81, {"b1", "b8"}, "zz", "0", "8005", "-"},
          Case{0xF0, {"b5", "b6", "b7", "b8"}, "", "0", "", "-5"}}) {
        byte.NaNText = c.byteNaN;
        integer.NaNText = c.intNaN;
        room.DecodePacket(Bytes({c.bits, 0, 0x80, 0x05}));
        ASSERT_EQ(bits.DecodeList.Count(), int(c.captions.size())) << c.bits;
        for (size_t k = 0; k < c.captions.size(); ++k) {
            EXPECT_EQ(bits.DecodeList.GetItem(int(k)).Caption, c.captions[k]) << c.bits;
            EXPECT_EQ(bits.DecodeList.GetItem(int(k)).Value, "on") << c.bits;
            EXPECT_TRUE(bits.DecodeList.GetItem(int(k)).Alarm) << c.bits;
        }
        EXPECT_EQ(Text(byte), c.byteText) << c.bits;
        EXPECT_EQ(Text(integer), c.intText) << c.bits;
        EXPECT_EQ(byte.DecodeList.Count(), 1);
    }
    // Lines removed by hand are gone until the next decode refills them.
    bits.DecodeList.Delete(0);
    ASSERT_EQ(bits.DecodeList.Count(), 3);
    EXPECT_EQ(bits.DecodeList.GetItem(0).Caption, "b6");
    bits.DecodeList.Add({"extra", "x", false});
    EXPECT_EQ(bits.DecodeList.Count(), 4);
    EXPECT_EQ(bits.DecodeList.GetItem(3).Caption, "extra");
    EXPECT_THROW(bits.DecodeList.GetItem(4), EListError);
    room.DecodePacket(Bytes({0x03}));
    ASSERT_EQ(bits.DecodeList.Count(), 2);
    EXPECT_EQ(bits.DecodeList.GetItem(1).Caption, "b2");
}

TEST(Blocks, UnitSuffixAndDefaults) {
    struct Case {
        std::string unit, suffix;
    };
    for (const auto& c :
         {Case{"'", ""}, Case{" ' ", ""}, Case{"", " "}, Case{" °C ", " °C"}, Case{"''", " ''"}}) {
        tByteBlock b;
        b.MetricUnit = c.unit;
        EXPECT_EQ(b.GetUnitSuffix(), c.suffix) << c.unit;
    }
    EXPECT_EQ(tBitMaskBlock().GetUnitSuffix(), "");
    tRealBlock r;
    r.Dimension = 255;
    EXPECT_EQ(r.GetNaN(), "FF");
    r.Dimension = 256;
    EXPECT_EQ(r.GetNaN(), "FFFF");
    r.NaNText = "00";
    EXPECT_EQ(r.GetNaN(), "00");
    EXPECT_EQ(tIntegerBlock().GetNaN(), "FFFF");
    EXPECT_EQ(tFloatBlock().GetNaN(), "FFFFFFFF");
    EXPECT_EQ(tParameterBlock().GetNaN(), "");
    tRealBlock zero; // no dimension: never a value
    zero.SetValue(0);
    EXPECT_EQ(Text(zero), "-");
}

TEST(Blocks, Lists) {
    tBlocks blocks;
    EXPECT_EQ(blocks.Add(0), -1);
    EXPECT_EQ(blocks.Add(8), -1);
    EXPECT_EQ(blocks.Add(3), 0);
    EXPECT_EQ(blocks.Add(9), 0);
    EXPECT_EQ(blocks.Count(), 1);
    EXPECT_EQ(blocks.Items(0).BlockType, 3);
    EXPECT_THROW(blocks.Items(1), EListError);

    tCrashList crashes;
    crashes.Add(5, "Перегрев");
    crashes.Add(5, "second");
    crashes.Add(7, "Нет тяги");
    EXPECT_EQ(crashes.GetText(5), "Перегрев");
    EXPECT_EQ(crashes.GetText(6), "");
    crashes.Delete(0);
    EXPECT_EQ(crashes.GetText(5), "second");
    EXPECT_THROW(crashes.Delete(5), EListError);

    tDecodeList list;
    list.Add({"a", "1", true});
    EXPECT_TRUE(list.GetItem(0).Alarm);
    EXPECT_THROW(list.GetItem(1), EListError);
    list.Delete(0);
    EXPECT_EQ(list.Count(), 0);
}

// The loop runs once per block; a newer decode run from inside that pass wins whole.
TEST(Blocks, MessageLoopBetweenBlocks) {
    TBoilerRoom room;
    for (int i = 1; i <= 3; ++i) AddBlock<tByteBlock>(room, 1, i);
    int passes = 0;
    // It stops reposting: a call left queued would outlive this test's locals.
    std::function<void()> again = [&] {
        if (++passes < 4) PostCall(again);
    };
    PostCall(again);
    room.DecodePacket(Bytes({1, 2, 3}));
    EXPECT_EQ(passes, 3);
    ProcessMessages(); // the last pass
    EXPECT_EQ(passes, 4);

    bool nested = false;
    PostCall([&] {
        nested = true;
        room.DecodePacket(Bytes({7, 8, 9}));
    });
    room.DecodePacket(Bytes({4, 5, 6}));
    EXPECT_TRUE(nested);
    EXPECT_EQ(Text(room.Blocks.Items(0)), "7");
    EXPECT_EQ(Text(room.Blocks.Items(1)), "8");
    EXPECT_EQ(Text(room.Blocks.Items(2)), "9");
}

// Packets of many objects arriving together: a decode started from inside
// another's message pass runs straight through, so decodes nest one deep at most.
TEST(Blocks, NestedDecodesOfOtherObjectsDoNotPump) {
    std::vector<std::unique_ptr<TBoilerRoom>> rooms;
    for (int r = 0; r < 50; ++r) {
        rooms.push_back(std::make_unique<TBoilerRoom>());
        for (int i = 1; i <= 4; ++i) AddBlock<tByteBlock>(*rooms.back(), 1, i);
    }
    int deepest = 0, depth = 0;
    // Each decode queues the next object's packet, as sockets with data would.
    for (size_t r = 1; r < rooms.size(); ++r)
        PostCall([&, r] {
            ++depth;
            deepest = std::max(deepest, depth);
            rooms[r]->DecodePacket(Bytes({int(r), 2, 3, 4}));
            --depth;
        });
    rooms[0]->DecodePacket(Bytes({1, 2, 3, 4}));
    while (deepest == 0 || depth > 0) ProcessMessages();
    EXPECT_EQ(deepest, 1);
    for (size_t r = 1; r < rooms.size(); ++r)
        EXPECT_EQ(Text(rooms[r]->Blocks.Items(0)), std::to_string(r));
}
