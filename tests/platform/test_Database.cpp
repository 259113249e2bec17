#include "platform/Cp1251.h"
#include "platform/Database.h"

#include "test_DatabaseFixture.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

using namespace nuq;
using ::testing::HasSubstr;
using Dir = TParameterDirection;

namespace {

// Runs Name with Values given to its parameters in order and opens it.
std::unique_ptr<TStoredProc> OpenProc(TDBConnection& db, const std::string& name,
                                      const std::vector<Variant>& values) {
    auto p = std::make_unique<TStoredProc>(&db);
    p->ProcedureName = name;
    p->RefreshParameters();
    size_t next = 0;
    for (auto& param : p->Parameters)
        if (next < values.size() &&
            (param.Direction == Dir::Input || param.Direction == Dir::InputOutput))
            param.Value = values[next++];
    p->Open();
    return p;
}

} // namespace

// A server that cannot be reached is an error at once, never a wait.
TEST(DBConnection, OpenFailsClearly) {
    std::string noServer = std::filesystem::temp_directory_path() / "nuq_no_server_here";
    for (std::string cs :
         {std::string("Driver={No Such Driver};"),
          "Driver={PostgreSQL Unicode};Servername=" + noServer + ";Port=5432;Database=x;"}) {
        TDBConnection db;
        db.ConnectionString = cs;
        try {
            db.Open();
            ADD_FAILURE() << cs;
        } catch (const EDatabaseError& e) {
            EXPECT_THAT(e.what(), HasSubstr("Нет соединения с базой данных")) << cs;
        }
        EXPECT_FALSE(db.Connected());
    }
}

TEST(DBConnection, ProcedureNeedsOpenConnection) {
    TDBConnection db;
    TStoredProc p(&db);
    p.ProcedureName = "nuq_test_spRows";
    try {
        p.ExecProc();
        ADD_FAILURE();
    } catch (const EDatabaseError& e) {
        EXPECT_TRUE(e.ConnectionLost());
    }
    TStoredProc orphan;
    orphan.ProcedureName = "nuq_test_spRows";
    EXPECT_THROW(orphan.Open(), EDatabaseError);
}

// The list as the server reports it, the return value included and the
// result columns left out; names folded by the server are found lower-cased.
TEST_F(DatabaseTest, ParameterListAsTheServerReportsIt) {
    struct Case {
        const char* Name;
        std::vector<Dir> Directions;
    };
    for (const Case& c : {
             Case{"nuq_test_spReturnFirst", {Dir::ReturnValue, Dir::Input, Dir::Input}},
             Case{"nuq_test_spOutputs",
                  {Dir::Input, Dir::Output, Dir::InputOutput, Dir::Input, Dir::Output}},
             Case{"nuq_test_spDefaults", {Dir::Input, Dir::Input, Dir::Input}},
             Case{"stm_spLogActionRegister", {Dir::Input, Dir::Input, Dir::Input}},
             Case{"nuq_test_spQuoted", {Dir::ReturnValue, Dir::Input}},
         }) {
        TStoredProc p(&Db);
        p.ProcedureName = c.Name;
        p.RefreshParameters();
        std::vector<Dir> got;
        for (const auto& param : p.Parameters) got.push_back(param.Direction);
        EXPECT_EQ(got, c.Directions) << c.Name;
    }
}

// An unknown name is reported by name rather than run without parameters,
// and so is a name the server holds twice; "_" in a name is no wildcard.
TEST_F(DatabaseTest, UnknownOrAmbiguousNameRaisesNamingIt) {
    struct Case {
        const char* Name;
        const char* Says;
    };
    for (const Case& c :
         {Case{"nuq_test_spMissing", "не найдена"}, Case{"nuq_test_sp_like", "не найдена"},
          Case{"nuq_test_spquoted", "не найдена"}, Case{"nuq_test_spOverloaded", "неоднозначна"}}) {
        TStoredProc p(&Db);
        p.ProcedureName = c.Name;
        try {
            p.RefreshParameters();
            ADD_FAILURE() << c.Name;
        } catch (const EDatabaseError& e) {
            EXPECT_THAT(e.what(), HasSubstr(std::string("\"") + c.Name + "\"")) << c.Name;
            EXPECT_THAT(e.what(), HasSubstr(c.Says)) << c.Name;
        }
    }
    EXPECT_TRUE(Db.Connected());
}

TEST_F(DatabaseTest, MixedCaseNameIsCalledAsKept) {
    auto p = OpenProc(Db, "nuq_test_spQuoted", {5});
    EXPECT_EQ(p->Fields(0).AsInteger(), 15);
}

TEST_F(DatabaseTest, FieldByNameIgnoresCase) {
    auto p = OpenProc(Db, "nuq_test_spMixedCase", {});
    for (const char* name : {"StationName", "stationname", "STATIONNAME"})
        EXPECT_EQ(p->FieldByName(name).AsString(), "Котельная №3") << name;
    for (const char* name : {"value", "Value", "VALUE"})
        EXPECT_EQ(p->FieldByName(name).AsInteger(), 42) << name;
    for (const char* name : {"температура", "ТЕМПЕРАТУРА", "Температура"})
        EXPECT_DOUBLE_EQ(p->FieldByName(name).AsDouble(), 71.5) << name;
    EXPECT_EQ(p->FindField("Station"), -1);
    EXPECT_THROW(p->FieldByName("Station"), EDatabaseError);
}

TEST_F(DatabaseTest, RowsUntilEof) {
    for (int count : {0, 1, 3}) {
        auto p = OpenProc(Db, "nuq_test_spRows", {count});
        int seen = 0;
        for (; !p->Eof(); p->Next()) {
            ++seen;
            EXPECT_EQ(p->FieldByName("no").AsInteger(), seen);
            EXPECT_EQ(p->FieldByName("label").AsString(), "строка " + std::to_string(seen));
        }
        EXPECT_EQ(seen, count);
        EXPECT_THROW(p->Fields(0), EDatabaseError);
        p->Next(); // past the end stays at the end
        EXPECT_TRUE(p->Eof());
    }
}

// Cyrillic both ways, also longer than one read of the driver.
TEST_F(DatabaseTest, CyrillicPassesUnchanged) {
    std::string longText;
    while (longText.size() < 20000) longText += "Ёж съел щи в «Котельной №5»; ";
    for (const std::string& text : {std::string("Котельная «Северная» — ёЁ №1"), longText}) {
        auto p = OpenProc(Db, "nuq_test_spEcho", {text});
        EXPECT_EQ(p->FieldByName("echo").AsString(), text);
        EXPECT_EQ(p->FieldByName("chars").AsInteger(), int64_t(CharLength(text)));
        EXPECT_EQ(p->FieldByName("bytes").AsInteger(), int64_t(text.size()));
        EXPECT_EQ(p->FieldByName("server_text").AsString(), "Котельная «Северная» — ёЁ №1");
    }
}

TEST_F(DatabaseTest, ValuesOfEveryKindRoundTrip) {
    TDateTime when = EncodeDateTime(2024, 2, 29, 23, 59, 58, 250);
    auto p = OpenProc(Db, "nuq_test_spTypes",
                      {int64_t(9000000000), 2.5, true, Variant::FromDateTime(when), "текст"});
    EXPECT_EQ(p->FieldByName("ri").AsInteger(), 9000000000);
    EXPECT_DOUBLE_EQ(p->FieldByName("rd").AsDouble(), 2.5);
    EXPECT_TRUE(p->FieldByName("rb").AsBoolean());
    EXPECT_EQ(p->FieldByName("rts").Type(), TVarType::DateTime);
    EXPECT_EQ(DateTimeToStr(p->FieldByName("rts").AsDateTime()), "29.02.2024 23:59:58");
    EXPECT_NEAR(p->FieldByName("rts").AsDateTime(), when, 1e-8);
    EXPECT_EQ(p->FieldByName("rt").AsString(), "текст");
    EXPECT_EQ(p->FieldByName("nulls").AsString(), "");

    // Null given, and an empty value ahead of a given one, arrive as null;
    // a value of another kind is converted to the parameter's type.
    p = OpenProc(Db, "nuq_test_spTypes", {Variant::Null(), Variant(), false, Variant::Null(), "x"});
    EXPECT_EQ(p->FieldByName("nulls").AsString(), "i,d,ts");
    EXPECT_TRUE(p->FieldByName("ri").IsNull());
    EXPECT_FALSE(p->FieldByName("rb").AsBoolean());
    p = OpenProc(Db, "nuq_test_spTypes", {"12", "0.25", "true", Variant::Null(), 5});
    EXPECT_EQ(p->FieldByName("ri").AsInteger(), 12);
    EXPECT_DOUBLE_EQ(p->FieldByName("rd").AsDouble(), 0.25);
    EXPECT_TRUE(p->FieldByName("rb").AsBoolean());
    EXPECT_EQ(p->FieldByName("rt").AsString(), "5");
}

// The server's own message reaches the caller; the link stays usable.
TEST_F(DatabaseTest, ServerErrorReachesCaller) {
    TStoredProc p(&Db);
    p.ProcedureName = "nuq_test_spFail";
    p.RefreshParameters();
    p.Parameters[0].Value = "Давление выше нормы";
    try {
        p.ExecProc();
        ADD_FAILURE();
    } catch (const EDatabaseError& e) {
        EXPECT_THAT(e.what(), HasSubstr("Давление выше нормы"));
        EXPECT_EQ(e.SQLState, "P0001");
        EXPECT_FALSE(e.ConnectionLost());
    }
    EXPECT_TRUE(Db.Connected());
    EXPECT_EQ(OpenProc(Db, "nuq_test_spRows", {1})->FieldByName("no").AsInteger(), 1);
}

// The server process ended under an idle connection: the next call is an
// error that says the link is lost, and calls after it fail at once.
TEST_F(DatabaseTest, LostConnectionIsReported) {
    int pid = int(OpenProc(Db, "nuq_test_spBackendPid", {})->Fields(0).AsInteger());
    auto open = OpenProc(Db, "nuq_test_spRows", {2});
    {
        TDBConnection killer;
        killer.ConnectionString = TestConnectionString();
        killer.Open();
        ASSERT_TRUE(OpenProc(killer, "nuq_test_spTerminate", {pid})->Fields(0).AsBoolean());
    }
    try {
        OpenProc(Db, "nuq_test_spRows", {1});
        ADD_FAILURE();
    } catch (const EDatabaseError& e) {
        EXPECT_TRUE(e.ConnectionLost()) << e.SQLState << " " << e.what();
        EXPECT_THAT(e.what(), HasSubstr("Связь с базой данных потеряна"));
    }
    EXPECT_FALSE(Db.Connected());
    try {
        OpenProc(Db, "nuq_test_spRows", {1});
        ADD_FAILURE();
    } catch (const EDatabaseError& e) {
        EXPECT_TRUE(e.ConnectionLost());
    }
    open.reset(); // a procedure of the lost link closes quietly
    Db.Close();
    Db.Open();
    EXPECT_EQ(OpenProc(Db, "nuq_test_spRows", {1})->FieldByName("no").AsInteger(), 1);
}

TEST_F(DatabaseTest, ProcedureOutlivingItsConnectionClosesQuietly) {
    auto p = OpenProc(Db, "nuq_test_spRows", {3});
    Db.Close();
    EXPECT_FALSE(Db.Connected());
    p->Close();
    EXPECT_FALSE(p->Active());
}
