#include "foundation/uDBUtils.h"

#include "platform/Host.h"
#include "platform/test_DatabaseFixture.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <unistd.h>

using namespace nuq;
using ::testing::HasSubstr;
namespace fs = std::filesystem;

namespace {

std::string Message(const std::function<void()>& call) {
    try {
        call();
    } catch (const EDatabaseError& e) {
        return e.what();
    }
    return "(no error)";
}

// The host folder with tracing on, its trace text read back.
class TracedHost {
public:
    TracedHost() {
        char tmpl[] = "/tmp/nuq_dbutils_XXXXXX";
        if (mkdtemp(tmpl)) Root = tmpl;
        fs::create_directories(Root + "/Logs");
        std::ofstream(Root + "/setting.ini")
            << "[ShellSettings]\nLogDirectory=" << Root << "/Logs\n";
        SetHostFolder(Root);
        SetHostParameters({"/TRACE"});
    }
    ~TracedHost() {
        SetHostParameters({});
        SetHostFolder("");
        fs::remove_all(Root);
    }
    std::string Text() const {
        std::string all;
        for (const auto& e : fs::directory_iterator(Root + "/Logs")) {
            std::ifstream in(e.path());
            std::stringstream ss;
            ss << in.rdbuf();
            all += ss.str();
        }
        return all;
    }
    std::string Root;
};

} // namespace

// Values skip the return value ahead of the inputs; surplus ones are ignored.
TEST_F(DatabaseTest, ReturnValueTakesNoValue) {
    for (const auto& values : {std::vector<Variant>{7, "x"}, std::vector<Variant>{7, "x", 8, "y"}})
        EXPECT_EQ(OpenStoredProc(Db, "nuq_test_spReturnFirst", values)->Fields(0).AsString(),
                  "7|x");
}

TEST_F(DatabaseTest, MissingValuesKeepDefaultsSurplusIgnored) {
    struct Case {
        std::vector<Variant> Values;
        int A, B;
        const char* C;
    };
    for (const Case& c :
         {Case{{1}, 1, 7, "по умолчанию"}, Case{{1, 2}, 1, 2, "по умолчанию"},
          Case{{1, 2, "свой"}, 1, 2, "свой"}, Case{{1, 2, "свой", 99, "лишнее"}, 1, 2, "свой"}}) {
        auto p = OpenStoredProc(Db, "nuq_test_spDefaults", c.Values);
        EXPECT_EQ(p->FieldByName("RA").AsInteger(), c.A) << c.Values.size();
        EXPECT_EQ(p->FieldByName("Rb").AsInteger(), c.B) << c.Values.size();
        EXPECT_EQ(p->FieldByName("rc").AsString(), c.C) << c.Values.size();
    }
    // The first input has no default: the server says so.
    EXPECT_THAT(Message([&] { OpenStoredProc(Db, "nuq_test_spDefaults", {}); }),
                HasSubstr("nuq_test_spdefaults"));
}

// Outputs between the inputs are skipped; an input-output takes a value.
TEST_F(DatabaseTest, OutputsAreSkipped) {
    auto p = OpenStoredProc(Db, "nuq_test_spOutputs", {2, 10, "эхо"});
    EXPECT_EQ(p->FieldByName("doubled").AsInteger(), 4);
    EXPECT_EQ(p->FieldByName("acc").AsInteger(), 12);
    EXPECT_EQ(p->FieldByName("echo").AsString(), "эхо");
}

// A procedure proper, not a function, runs as a function does: values in
// order, defaults kept, and its outputs come back as one row.
TEST_F(DatabaseTest, ProceduresRunAsFunctionsDo) {
    const int pid = int(getpid());
    const std::string pidText = std::to_string(pid);
    const std::string mark = "вызов " + pidText;
    ExecStoredProc(Db, "nuq_test_spProcedure", {1, mark, "лишнее"});
    ExecStoredProc(Db, " NUQ_test_spProcedure ", {pid});
    int given = 0, defaulted = 0;
    for (auto p = OpenStoredProc(Db, "nuq_test_spProcCalls", {}); !p->Eof(); p->Next()) {
        if (p->FieldByName("b").AsString() == mark && p->FieldByName("a").AsInteger() == 1) ++given;
        if (p->FieldByName("a").AsInteger() == pid) {
            ++defaulted;
            EXPECT_EQ(p->FieldByName("b").AsString(), "по умолчанию");
        }
    }
    EXPECT_EQ(given, 1);
    EXPECT_EQ(defaulted, 1);

    auto p = OpenStoredProc(Db, "nuq_test_spProcOutputs", {2, 10, "лишнее"});
    EXPECT_EQ(p->FieldByName("acc").AsInteger(), 12);
    EXPECT_EQ(p->FieldByName("echo").AsString(), "получено 2");
    EXPECT_NO_THROW(ExecStoredProc(Db, "nuq_test_spProcOutputs", {2, 10}));
    // The output still has its place when the values run out before it.
    EXPECT_EQ(OpenStoredProc(Db, "nuq_test_spProcOutputs", {3})->FieldByName("echo").AsString(),
              "получено 3");
}

TEST_F(DatabaseTest, NameIsTrimmed) {
    for (const char* name :
         {"nuq_test_spRows", "  nuq_test_spRows", "nuq_test_spRows \t", " \tnuq_test_spRows "})
        EXPECT_EQ(OpenStoredProc(Db, name, {1})->FieldByName("NO").AsInteger(), 1) << name;
}

TEST_F(DatabaseTest, ErrorsReachTheCaller) {
    EXPECT_THAT(Message([&] { ExecStoredProc(Db, "nuq_test_spFail", {"Котёл остановлен"}); }),
                HasSubstr("Котёл остановлен"));
    EXPECT_THAT(Message([&] { ExecStoredProc(Db, " nuq_test_spNothing ", {1}); }),
                HasSubstr("\"nuq_test_spNothing\" не найдена"));
    EXPECT_THAT(Message([&] { OpenStoredProc(Db, "nuq_test_spNothing", {}); }),
                HasSubstr("\"nuq_test_spNothing\" не найдена"));
    TDBConnection closed;
    EXPECT_THAT(Message([&] { ExecStoredProc(closed, "nuq_test_spRows", {1}); }),
                HasSubstr("Нет соединения"));
}

TEST_F(DatabaseTest, ActionLogWritesItsThreeValues) {
    const std::string mark = "laStartProcess-" + std::to_string(getpid());
    LogActionRegister(Db, 17, mark, "Запуск опроса: «Котельная №1»");
    bool found = false;
    for (auto p = OpenStoredProc(Db, "nuq_test_spActionLog", {}); !p->Eof(); p->Next()) {
        if (p->FieldByName("ActionName").AsString() != mark) continue;
        EXPECT_FALSE(found) << "written twice";
        found = true;
        EXPECT_EQ(p->FieldByName("Code").AsInteger(), 17);
        EXPECT_EQ(p->FieldByName("ActionText").AsString(), "Запуск опроса: «Котельная №1»");
    }
    EXPECT_TRUE(found);
}

// The log never stops the caller: a closed or lost link only leaves a trace line.
TEST_F(DatabaseTest, ActionLogSwallowsErrorsIntoTrace) {
    TracedHost host;
    TDBConnection closed;
    EXPECT_NO_THROW(LogActionRegister(closed, 1, "laStopProcess", "x"));
    EXPECT_THAT(host.Text(), HasSubstr("LogActionRegister(1, laStopProcess): Нет соединения"));

    int pid = int(OpenStoredProc(Db, "nuq_test_spBackendPid", {})->Fields(0).AsInteger());
    TDBConnection killer;
    killer.ConnectionString = TestConnectionString();
    killer.Open();
    ASSERT_TRUE(OpenStoredProc(killer, "nuq_test_spTerminate", {pid})->Fields(0).AsBoolean());
    EXPECT_NO_THROW(LogActionRegister(Db, 2, "laStartProcess", "y"));
    EXPECT_THAT(host.Text(),
                HasSubstr("LogActionRegister(2, laStartProcess): Связь с базой данных потеряна"));
}
