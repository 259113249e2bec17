// The nuq command line as a user runs it: exit statuses and printed lines.

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

struct Result {
    int status;
    std::string out;
    std::string err;
};

std::string Quote(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

Result Nuq(const std::vector<std::string>& args) {
    const fs::path errFile =
        fs::temp_directory_path() / ("nuq-test-err-" + std::to_string(getpid()));
    std::string cmd = Quote(NUQ_EXE);
    for (const auto& a : args) cmd.append(" ").append(Quote(a));
    cmd += " 2>" + Quote(errFile.string());
    Result r{};
    FILE* p = popen(cmd.c_str(), "r");
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
    const int status = pclose(p);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::ifstream in(errFile);
    r.err.assign(std::istreambuf_iterator<char>(in), {});
    fs::remove(errFile);
    return r;
}

class NuqCommand : public ::testing::Test {
protected:
    fs::path dir = fs::temp_directory_path() / ("nuq-cli-" + std::to_string(getpid()));
    void SetUp() override { fs::create_directories(dir); }
    void TearDown() override { fs::remove_all(dir); }
    std::string Write(const std::string& name, const std::string& text) {
        std::ofstream(dir / name, std::ios::binary) << text;
        return (dir / name).string();
    }
};

const char* kScript =
    "#script;\n"
    "#defbyte 1;\n"
    "  Type = IsByte;\n"
    "  Caption = 'Температура';\n"
    "  MetricUnit = '°C';\n"
    "#enddefbyte;\n"
    "#defbyte 2;\n"
    "  Type = IsComposite; Caption = 'Состояние';\n"
    "  #defbit 1; Caption = 'Насос'; On0 = 'Стоп'; On1 = 'Работа'; #enddefbit;\n"
    "  #defbit 2; Caption = 'Авария'; On0 = 'Норма'; On1 = 'Авария'; Error = 1; #enddefbit;\n"
    "#enddefbyte;\n"
    "#defbyte 3;\n"
    "  Type = IsReal; Caption = 'Давление'; MetricUnit = ''';\n"
    "  Dimension = 1000; BottomLimit = 0; TopLimit = 1,6;\n"
    "#enddefbyte;\n"
    "#endscript;\n";

} // namespace

TEST_F(NuqCommand, CheckScript) {
    Result ok = Nuq({"check-script", Write("ok.nqs", kScript)});
    EXPECT_EQ(ok.status, 0);
    EXPECT_EQ(ok.out, "");

    Result bad = Nuq({"check-script", Write("bad.nqs", "#script;\n#defbyte 1;\nType = IsByte;\n"
                                                       "Caption = 'a';\n#endscript;\n")});
    EXPECT_EQ(bad.status, 1);
    EXPECT_NE(bad.out.find("Стр. 2 - <#enddefbyte> не найдено.\n"), std::string::npos) << bad.out;

    // A cp1251 file reads as well as a UTF-8 one.
    Result cp =
        Nuq({"check-script",
             Write("cp.nqs", "#script;\n#defbyte 1;\nType = IsByte;\n"
                             "Caption = '\xD2\xE5\xEC\xEF';\n#enddefbyte;\n#endscript;\n")});
    EXPECT_EQ(cp.status, 0) << cp.out;
    // So does one whose one line happens to be valid UTF-8 ("Т°" is D2 B0, "Ұ" in UTF-8).
    const std::string chance =
        Write("chance.nqs", "#script;\n#defbyte 1;\nType = IsByte;\nCaption = '\xD2\xB0';\n"
                            "MetricUnit = '\xE3\xF0\xE0\xE4';\n#enddefbyte;\n#endscript;\n");
    Result chanceCheck = Nuq({"check-script", chance});
    EXPECT_EQ(chanceCheck.status, 0) << chanceCheck.out;
    EXPECT_EQ(chanceCheck.out, "");
    EXPECT_EQ(Nuq({"decode", "--script", chance, "--packet", "05"}).out, "Т°\t5\tград\t0\n");

    // In a UTF-8 file a cp1251 line is said; outside a comment it fails the check.
    const std::string mixed = "#script;\n// \xCA\xEE\xEC\xEC\xE5\xED\xF2\xE0\xF0\xE8\xE9\n"
                              "#defbyte 1;\nType = IsByte;\nCaption = 'Т';\nMetricUnit = '°C';\n"
                              "#enddefbyte;\n";
    Result comment = Nuq({"check-script", Write("comment.nqs", mixed + "#endscript;\n")});
    EXPECT_EQ(comment.status, 0) << comment.out;
    EXPECT_NE(comment.out.find(", стр. 2: строка не в кодировке UTF-8, прочитана как cp1251 "
                               "(комментарий)"),
              std::string::npos)
        << comment.out;
    Result caption =
        Nuq({"check-script", Write("caption.nqs", mixed + "#defbyte 2;\nType = IsByte;\n"
                                                          "Caption = '\xD2\xE5\xEC\xEF';\n"
                                                          "#enddefbyte;\n#endscript;\n")});
    EXPECT_EQ(caption.status, 1) << caption.out;
    EXPECT_NE(caption.out.find("Стр. 10 - Строка не в кодировке UTF-8.\n"), std::string::npos)
        << caption.out;

    // A lone CR ends a line for the note and the comment check alike.
    struct LoneCR {
        const char* name;
        std::string script;
        int status;
        std::string said;
    };
    const std::string tail = "#defbyte 1;\nType = IsByte;\nCaption = 'Т';\nMetricUnit = "
                             "'°C';\n#enddefbyte;\n#endscript;\n";
    for (const LoneCR& c :
         {LoneCR{"comment.nqs", "#script;\r// \xCA\xEE\xEC\xEC\xE5\xED\xF2\n" + tail, 0,
                 ", стр. 2: строка не в кодировке UTF-8, прочитана как cp1251 (комментарий)\n"},
          LoneCR{"caption.nqs",
                 "#script;\n#defbyte 2;\nType = IsByte;\n// caption\rCaption = '\xD2\xE5\xEC\xEF';"
                 "\nMetricUnit = '°C';\n#enddefbyte;\n" +
                     tail,
                 1, "Стр. 5 - Строка не в кодировке UTF-8.\n"}}) {
        Result r = Nuq({"check-script", Write(c.name, c.script)});
        EXPECT_EQ(r.status, c.status) << c.name << "\n" << r.out;
        EXPECT_NE(r.out.find(c.said), std::string::npos) << c.name << "\n" << r.out;
    }

    Result missing = Nuq({"check-script", (dir / "none.nqs").string()});
    EXPECT_EQ(missing.status, 2);
    EXPECT_NE(missing.err.find("none.nqs"), std::string::npos);
    EXPECT_NE(missing.err.find("нет такого файла или каталога (код 2)"), std::string::npos)
        << missing.err;

    // A folder is not a script that passes.
    Result folder = Nuq({"check-script", dir.string()});
    EXPECT_EQ(folder.status, 2);
    EXPECT_NE(folder.err.find("папка, а не файл"), std::string::npos) << folder.err;

    // A device that never ends is refused, not read forever.
    Result endless = Nuq({"check-script", "/dev/zero"});
    EXPECT_EQ(endless.status, 2);
    EXPECT_NE(endless.err.find("больше 16777216 байт"), std::string::npos) << endless.err;
}

TEST_F(NuqCommand, Decode) {
    const std::string script = Write("s.nqs", kScript);
    Result r = Nuq({"decode", "--script", script, "--packet", "41 02 01f4"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "Температура\t65\t°C\t0\n"
                     "Насос\tСтоп\t\t0\n"
                     "Авария\tАвария\t\t1\n"
                     "Давление\t0.8\t\t0\n");

    // Short packet: what was not received shows no data.
    Result shortPacket = Nuq({"decode", "--script", script, "--packet", "  "});
    EXPECT_EQ(shortPacket.status, 0);
    EXPECT_EQ(shortPacket.out.substr(0, shortPacket.out.find('\n')), "Температура\t-\t°C\t0");

    for (const char* hex : {"4", "4G", "41 0x02"}) {
        Result bad = Nuq({"decode", "--script", script, "--packet", hex});
        EXPECT_EQ(bad.status, 2) << hex;
        EXPECT_NE(bad.err.find("bad packet hex text"), std::string::npos) << hex;
        EXPECT_EQ(bad.out, "");
    }

    Result failing = Nuq({"decode", "--script", Write("f.nqs", "#defbyte 1;\n"), "--packet", "00"});
    EXPECT_EQ(failing.status, 1);
    EXPECT_NE(failing.out.find("Отсутствует описание начала скрипта."), std::string::npos);

    // A scaled byte without its scale is a script that cannot be loaded.
    Result noScale = Nuq({"decode", "--script",
                          Write("n.nqs", "#script;\n#defbyte 1;\nType = IsReal;\nCaption = 'a';\n"
                                         "#enddefbyte;\n#endscript;\n"),
                          "--packet", "00"});
    EXPECT_EQ(noScale.status, 1);
    EXPECT_NE(noScale.err.find("cannot be loaded"), std::string::npos);

    // The alarm code's line carries its text, when the script gives one.
    const std::string alarms = Write("a.nqs", "#script;\n#defbyte 1;\nType = IsByte;\n"
                                              "Caption = 'Код аварии';\n#enddefbyte;\n#defcrash;\n"
                                              "Code 2 -> 'Загазованность помещения';\n"
                                              "#enddefcrash;\n#endscript;\n");
    EXPECT_EQ(Nuq({"decode", "--script", alarms, "--packet", "02"}).out,
              "Код аварии\t2\t\t0\tЗагазованность помещения\n");
    EXPECT_EQ(Nuq({"decode", "--script", alarms, "--packet", "03"}).out, "Код аварии\t3\t\t0\n");

    EXPECT_EQ(Nuq({"decode", "--script", script}).status, 2);
    EXPECT_EQ(Nuq({"decode", "--packet", "00", "--script", (dir / "x").string()}).status, 2);
}

TEST_F(NuqCommand, Help) {
    for (const char* help : {"--help", "-h"}) {
        Result top = Nuq({help});
        EXPECT_EQ(top.status, 0) << help;
        EXPECT_NE(top.out.find("check-script"), std::string::npos) << help;
        EXPECT_NE(top.out.find("decode"), std::string::npos) << help;
    }
    Result version = Nuq({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out.rfind("nuq ", 0), 0u) << version.out;
    Result sub = Nuq({"decode", "--help"});
    EXPECT_EQ(sub.status, 0);
    EXPECT_NE(sub.out.find("--packet HEX"), std::string::npos);
    EXPECT_EQ(Nuq({}).status, 2);
    Result noHome = Nuq({"--home"});
    EXPECT_EQ(noHome.status, 2);
    EXPECT_NE(noHome.err.find("--home needs a folder (the value is missing)"), std::string::npos)
        << noHome.err;
    for (const char* bad : {"x", "-1", "nan", "inf"}) {
        Result r = Nuq({"--home", dir.string(), "run", "--for", bad});
        EXPECT_EQ(r.status, 2) << bad;
        EXPECT_NE(r.err.find("--for needs a number of seconds"), std::string::npos) << bad;
    }
    EXPECT_EQ(Nuq({"--home", dir.string(), "run", "--for"}).status, 2);
    EXPECT_EQ(Nuq({"frobnicate"}).status, 2);
}
