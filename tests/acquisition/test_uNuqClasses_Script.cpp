// Loading a boiler room's script into blocks and the alarm table.

#include "acquisition/uNuqClasses.h"

#include <gtest/gtest.h>

using namespace nuq;

namespace {

const char* kScript = R"(#script;
#length = 8;
// comment line
#defbyte 1;
  Type = IsByte; Caption = 'Температура ''подачи'''; MetricUnit = '°C';
  NaN = 7f;
  Visible = False;
#enddefbyte;
#defbyte 2;
  Type = IsComposite;
  Caption = 'Состояние';
  #defbit 1; Caption = 'Насос'; On0 = 'Стоп'; On1 = 'Работа'; #enddefbit;
  #defbit 8; Caption = 'Авария'; On1 = 'Есть'; Error = 1; #enddefbit;
#enddefbyte;
#defbyte 3;
  Type = IsParameter; Caption = 'Режим';
  #defparam;
    DefNumber 0 -> 'Лето';
    DefNumber 1 -> 'Зима';
  #enddefparam;
#enddefbyte;
#defbyte 5;
  Type = IsReal; Caption = 'Давление'; MetricUnit = 'МПа';
  Dimension = 1000; BottomLimit = -0,5; TopLimit = 1.5;
#enddefbyte;
#defcrash;
  Code 3 -> 'Перегрев';
  Code 12 -> 'Нет тяги';
#enddefcrash;
#endscript;
)";

} // namespace

TEST(LoadScript, BuildsBlocksAndAlarmTexts) {
    TBoilerRoom room;
    room.LoadScript(kScript);
    ASSERT_EQ(room.Blocks.Count(), 4);

    auto& byte = dynamic_cast<tByteBlock&>(room.Blocks.Items(0));
    EXPECT_EQ(byte.ByteNo, 1);
    EXPECT_EQ(byte.Caption, "Температура 'подачи'");
    EXPECT_EQ(byte.MetricUnit, "°C");
    EXPECT_EQ(byte.GetNaN(), "7F");
    EXPECT_FALSE(byte.Visible);

    auto& bits = dynamic_cast<tBitMaskBlock&>(room.Blocks.Items(1));
    EXPECT_EQ(bits.ByteNo, 2);
    EXPECT_EQ(bits.Bits[0].On1, "Работа");
    EXPECT_EQ(bits.Bits[7].Caption, "Авария");
    EXPECT_EQ(bits.Bits[7].Error, 1);
    EXPECT_EQ(bits.Bits[3].Error, -1);
    EXPECT_EQ(bits.NaNText, "");

    auto& param = dynamic_cast<tParameterBlock&>(room.Blocks.Items(2));
    EXPECT_EQ(param.Parameters.Count(), 2);
    EXPECT_EQ(param.Parameters.GetText(1), "Зима");

    auto& real = dynamic_cast<tRealBlock&>(room.Blocks.Items(3));
    EXPECT_EQ(real.ByteNo, 5);
    EXPECT_EQ(real.Dimension, 1000);
    EXPECT_DOUBLE_EQ(real.BottomLimit, -0.5);
    EXPECT_DOUBLE_EQ(real.TopLimit, 1.5);

    EXPECT_EQ(room.CrashList.Count(), 2);
    room.AlarmCode = 12;
    EXPECT_TRUE(room.HasAlarm());
    EXPECT_EQ(room.GetAlarmText(), "Нет тяги");
    room.AlarmCode = 4;
    EXPECT_EQ(room.GetAlarmText(), "");

    room.DecodePacket(std::string("\x7f\x81\x01\x00\x01\xF4", 6));
    EXPECT_EQ(byte.DecodeList.GetItem(0).Value, "-"); // its own no-data code 7F
    ASSERT_EQ(bits.DecodeList.Count(), 2);
    EXPECT_TRUE(bits.DecodeList.GetItem(1).Alarm);
    EXPECT_EQ(param.DecodeList.GetItem(0).Value, "Зима");
    EXPECT_EQ(real.DecodeList.GetItem(0).Value, "0.5");
    EXPECT_EQ(real.GetUnitSuffix(), " МПа");
}

TEST(LoadScript, FailuresKeepTheObjectClean) {
    {
        // A failed check with described bytes: an error, and no block at all.
        TBoilerRoom room;
        EXPECT_THROW(room.LoadScript("#script;\n#defbyte 1;\nType = IsByte;\n#endscript;\n"),
                     EScriptError);
        EXPECT_EQ(room.Blocks.Count(), 0);
        try {
            room.LoadScript("#defbyte 1;\n");
        } catch (const EScriptError& e) {
            EXPECT_NE(std::string(e.what()).find("Отсутствует описание начала скрипта."),
                      std::string::npos);
        }
    }
    {
        // A failed check without described bytes loads nothing and raises nothing.
        TBoilerRoom room;
        EXPECT_NO_THROW(room.LoadScript("garbage;"));
        EXPECT_EQ(room.Blocks.Count(), 0);
        EXPECT_EQ(room.CrashList.Count(), 0);
    }
    {
        // A scaled byte without its scale fails after the blocks before it.
        TBoilerRoom room;
        EXPECT_THROW(
            room.LoadScript("#script;\n#defbyte 1;\nType = IsByte;\nCaption = 'a';\n#enddefbyte;\n"
                            "#defbyte 2;\nType = IsReal;\nCaption = 'b';\nDimension = 10;\n"
                            "#enddefbyte;\n#endscript;\n"),
            EConvertError);
        EXPECT_EQ(room.Blocks.Count(), 2);
    }
}

TEST(LoadScript, AppendsToWhatIsLoaded) {
    TBoilerRoom room;
    room.LoadScript(kScript);
    room.LoadScript(kScript);
    EXPECT_EQ(room.Blocks.Count(), 8);
    EXPECT_EQ(room.CrashList.Count(), 4);
}

// Objects loading one script share its compilation, never its values: each
// decodes its own packets into blocks of its own.
TEST(LoadScript, ObjectsOfOneScriptKeepTheirOwnValues) {
    TBoilerRoom first, second;
    first.LoadScript(kScript);
    second.LoadScript(kScript);
    ASSERT_EQ(second.Blocks.Count(), first.Blocks.Count());
    ASSERT_EQ(second.CrashList.Count(), first.CrashList.Count());
    first.DecodePacket(std::string("\x05\x01\x01", 3));
    second.DecodePacket(std::string("\x07\x00\x00", 3));
    EXPECT_EQ(first.Blocks.Items(0).Value, 5);
    EXPECT_EQ(second.Blocks.Items(0).Value, 7);
    EXPECT_EQ(first.Blocks.Items(2).DecodeList.GetItem(0).Value, "Зима");
    EXPECT_EQ(second.Blocks.Items(2).DecodeList.GetItem(0).Value, "Лето");
    EXPECT_NE(&first.Blocks.Items(0), &second.Blocks.Items(0));
}
