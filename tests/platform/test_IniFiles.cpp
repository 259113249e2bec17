#include "platform/IniFiles.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

using namespace nuq;

namespace {

class IniFile : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/nuq_ini_XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        Dir = tmpl;
    }
    void TearDown() override { std::filesystem::remove_all(Dir); }

    std::string Write(const std::string& bytes, const std::string& name = "test.ini") {
        std::string path = Dir + "/" + name;
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }

    std::string Dir;
};

} // namespace

// Names, blanks, quotes and comments as a hand-edited file holds them.
TEST_F(IniFile, ReadsStringsAsTheProfileFunctionsDo) {
    TIniFile ini(Write("Orphan=before any section\r\n"
                       "[Main]\r\n"
                       "Plain=value\r\n"
                       "  Spaced   =   padded value   \r\n"
                       "Double=\"quoted\"\r\n"
                       "Single='quoted'\r\n"
                       "KeepInner=\"  inner blanks  \"\r\n"
                       "Twice=\"\"twice\"\"\r\n"
                       "Mixed=\"mixed'\r\n"
                       "OneQuote=\"\r\n"
                       "Empty=\r\n"
                       "EqualsInValue=a=b\r\n"
                       "Trailing=value ; not a comment\r\n"
                       "; Commented=no\r\n"
                       "   ;Indented=no\r\n"
                       "NoEqualsSign\r\n"
                       "=nameless\r\n"
                       "[ other section ]\r\n"
                       "KEY=upper\r\n"
                       "[Cyr]\r\n"
                       "Имя=Котельная №1\r\n"));
    struct Case {
        std::string section, key, expected;
    };
    for (const auto& c : {Case{"Main", "Plain", "value"},
                          Case{"main", "PLAIN", "value"},
                          Case{" Main ", " Plain ", "value"},
                          Case{"Main", "Spaced", "padded value"},
                          Case{"Main", "Double", "quoted"},
                          Case{"Main", "Single", "quoted"},
                          Case{"Main", "KeepInner", "  inner blanks  "},
                          Case{"Main", "Twice", "\"twice\""},
                          Case{"Main", "Mixed", "\"mixed'"},
                          Case{"Main", "OneQuote", "\""},
                          Case{"Main", "Empty", ""},
                          Case{"Main", "EqualsInValue", "a=b"},
                          Case{"Main", "Trailing", "value ; not a comment"},
                          Case{"Main", "Commented", "<def>"},
                          Case{"Main", ";Commented", "<def>"},
                          Case{"Main", "Indented", "<def>"},
                          Case{"Main", "NoEqualsSign", "<def>"},
                          Case{"Main", "", "<def>"},
                          Case{"Main", "Orphan", "<def>"},
                          Case{"Other Section", "key", "upper"},
                          Case{"Cyr", "Имя", "Котельная №1"},
                          Case{"Absent", "Plain", "<def>"}})
        EXPECT_EQ(ini.ReadString(c.section, c.key, "<def>"), c.expected)
            << "[" << c.section << "] " << c.key;
    EXPECT_TRUE(ini.ValueExists("MAIN", "empty"));
    EXPECT_FALSE(ini.ValueExists("Main", "NoEqualsSign"));
}

TEST_F(IniFile, ReadsIntegersAndFlags) {
    struct Case {
        std::string text;
        int integer;
        bool flag;
    };
    // Default integer 42, default flag true.
    for (const auto& c :
         {Case{"12", 12, true}, Case{"-7", -7, true}, Case{"0", 0, false}, Case{"$FF", 255, true},
          Case{"$ff", 255, true}, Case{"0x10", 16, true}, Case{"$FFFFFFFF", -1, true},
          Case{"'15'", 15, true}, Case{"\"0\"", 0, false}, Case{"", 42, true},
          Case{"12abc", 42, true}, Case{"1.5", 42, true}, Case{"Yes", 42, true},
          Case{"$", 42, true}, Case{"99999999999", 42, true}, Case{"- 5", 42, true}}) {
        TIniFile ini(Write("[S]\nK=" + c.text + "\n"));
        EXPECT_EQ(ini.ReadInteger("S", "K", 42), c.integer) << c.text;
        EXPECT_EQ(ini.ReadBool("S", "K", true), c.flag) << c.text;
    }
    TIniFile ini(Write("[S]\nK=no\n"));
    EXPECT_FALSE(ini.ReadBool("S", "K", false));
    EXPECT_EQ(ini.ReadInteger("S", "Absent", -3), -3);
}

TEST_F(IniFile, MissingOrUnreadableFileReadsAsEmpty) {
    for (const std::string& path : {Dir + "/absent.ini", Dir, std::string()}) {
        TIniFile ini(path);
        EXPECT_EQ(ini.ReadString("Main", "Key", "def"), "def") << path;
        EXPECT_EQ(ini.ReadInteger("Main", "Key", 7), 7) << path;
        EXPECT_TRUE(ini.ReadBool("Main", "Key", true)) << path;
        EXPECT_FALSE(ini.SectionExists("Main")) << path;
        EXPECT_FALSE(ini.ValueExists("Main", "Key")) << path;
    }
}

TEST_F(IniFile, FirstOccurrenceWins) {
    TIniFile ini(Write("[A]\nKey=first\nkey=second\nOnlyFirst=1\n"
                       "[B]\nKey=b\n"
                       "[a]\nKey=third\nOnlyLater=1\n"));
    EXPECT_EQ(ini.ReadString("A", "Key", ""), "first");
    EXPECT_EQ(ini.ReadString("A", "OnlyFirst", ""), "1");
    // A repeated section is never looked at, as the profile functions do.
    EXPECT_FALSE(ini.ValueExists("A", "OnlyLater"));
    EXPECT_EQ(ini.ReadString("B", "Key", ""), "b");
}

TEST_F(IniFile, SectionExistsOnlyWithKeys) {
    TIniFile ini(Write("[Empty]\n; nothing here\n[Full]\nK=\n[Unclosed\nU=1\n"));
    EXPECT_FALSE(ini.SectionExists("Empty"));
    EXPECT_TRUE(ini.SectionExists("FULL"));
    EXPECT_TRUE(ini.SectionExists("Unclosed"));
    EXPECT_FALSE(ini.SectionExists("Absent"));
}

TEST_F(IniFile, LineEndingsAndEncodings) {
    struct Case {
        std::string bytes, section, expected;
    };
    for (const auto& c :
         {Case{"[S]\rK=cr\rL=x", "S", "cr"}, Case{"[S]\nK=lf", "S", "lf"},
          Case{"[S]\r\nK=crlf\r\n", "S", "crlf"}, Case{"\xEF\xBB\xBF[S]\nK=bom", "S", "bom"},
          Case{"[S]\nK=\xCF\xF0\xE8\xE2\xE5\xF2", "S", "Привет"}, // cp1251
          Case{"[S]\nK=Привет", "S", "Привет"},
          Case{"[\xD1]\nK=\xE0", "С", "а"}}) { // cp1251 section name too
        TIniFile ini(Write(c.bytes));
        EXPECT_EQ(ini.ReadString(c.section, "K", "<def>"), c.expected) << c.bytes;
    }
}

TEST_F(IniFile, FromBytesReadsLikeAFile) {
    TIniFile ini = TIniFile::FromBytes("[S]\nK=\xE0\n");
    EXPECT_EQ(ini.ReadString("s", "k", ""), "а");
    EXPECT_EQ(ini.FileName(), "");
}

TEST(IniSections, ListedInFileOrder) {
    const TIniFile ini = TIniFile::FromBytes("[Zeta]\na=1\n[empty]\n[Alpha]\nb=2\n[zeta]\nc=3\n");
    EXPECT_EQ(ini.ReadSections(), (std::vector<std::string>{"Zeta", "Alpha"}));
}

namespace {
std::string FileText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}
} // namespace

// A write changes the first matching line in place, adds a missing key at
// the end of its section and a missing section at the end; comments stay.
TEST_F(IniFile, WritesInPlaceAndKeepsTheRest) {
    std::string path = Write("; settings\r\n[A]\r\nx=1\r\n\r\n[B]\r\ny=2\r\n[a]\r\nx=9\r\n");
    TIniFile ini(path);
    ini.WriteString("a", "X", "10");
    ini.WriteString("A", "z", "3");
    ini.WriteInteger("C", "n", -4);
    ini.WriteBool("B", "flag", true);
    EXPECT_EQ(FileText(path),
              "; settings\n[A]\nX=10\nz=3\n\n[B]\ny=2\nflag=1\n[a]\nx=9\n\n[C]\nn=-4\n");
    EXPECT_EQ(ini.ReadString("A", "x", ""), "10");
    EXPECT_EQ(TIniFile(path).ReadInteger("C", "N", 0), -4);

    ini.EraseSection("b");
    EXPECT_FALSE(TIniFile(path).SectionExists("B"));
    EXPECT_EQ(TIniFile(path).ReadString("A", "z", ""), "3");
    ini.EraseSection("A"); // with its later copy, which would come to light
    EXPECT_FALSE(TIniFile(path).SectionExists("A"));
    EXPECT_EQ(FileText(path), "; settings\n[C]\nn=-4\n");
}

TEST_F(IniFile, UnwritableFileRaises) {
    TIniFile ini(Dir + "/missing-folder/test.ini");
    EXPECT_THROW(ini.WriteString("A", "x", "1"), EIniFileException);
}

// Names and values that would come back as other lines are refused, and the
// file is left as it was.
TEST_F(IniFile, WritesThatWouldBreakLinesAreRefused) {
    std::string path = Write("[A]\nx=1\n");
    TIniFile ini(path);
    struct Case {
        const char *section, *ident, *value;
    } cases[] = {
        {"A", "x", "two\n[B]\ny=2"},
        {"A", "x", "cr\r"},
        {"A", "k=v", "1"},

        {"A]", "x", "1"},
        {"A", ";x", "1"},
        {"A", "[x", "1"},
        {"A\nB", "x", "1"},
    };
    for (const auto& c : cases)
        EXPECT_THROW(ini.WriteString(c.section, c.ident, c.value), EIniFileException) << c.ident;
    EXPECT_EQ(FileText(path), "[A]\nx=1\n");
}
