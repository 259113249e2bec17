#include "foundation/uTrace.h"

#include "platform/EventLoop.h"
#include "platform/Host.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <regex>
#include <sstream>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace nuq;
namespace fs = std::filesystem;

namespace {

// A host folder with its own setting.ini, a separate current folder, the
// switch given and the clock stopped at 07.03.2010 09:15:30.
class TraceFile : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/nuq_trace_XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        Root = tmpl;
        Home = Root + "/home";
        Cwd = Root + "/cwd";
        fs::create_directories(Home + "/Logs");
        fs::create_directories(Cwd);
        OldCwd = fs::current_path();
        fs::current_path(Cwd);
        SetHostFolder(Home);
        SetHostParameters({"/TRACE"});
        SetLogDirectory("Logs");
        UseVirtualClock(EncodeDateTime(2010, 3, 7, 9, 15, 30));
    }
    void TearDown() override {
        UseRealClock();
        SetHostParameters({});
        SetHostFolder("");
        fs::current_path(OldCwd);
        fs::remove_all(Root);
    }

    void SetLogDirectory(const std::string& dir) {
        std::ofstream(Home + "/setting.ini") << "[ShellSettings]\nLogDirectory=" << dir << "\n";
    }

    // Every trace file under Root, by path relative to it.
    std::vector<std::string> TraceFiles() const {
        std::vector<std::string> found;
        for (const auto& e : fs::recursive_directory_iterator(Root))
            if (e.is_regular_file() && e.path().filename().string().rfind("trace_", 0) == 0)
                found.push_back(fs::relative(e.path(), Root).string());
        std::sort(found.begin(), found.end());
        return found;
    }

    static std::vector<std::string> Lines(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        std::string all = ss.str();
        EXPECT_TRUE(all.empty() || all.back() == '\n') << "last line not whole in " << path;
        std::vector<std::string> lines;
        std::string line;
        std::istringstream split(all);
        while (std::getline(split, line)) lines.push_back(line);
        return lines;
    }

    std::string HourFile() const { return Home + "/Logs/trace_2010_03_07-09.txt"; }

    std::string Root, Home, Cwd;
    fs::path OldCwd;
};

} // namespace

TEST_F(TraceFile, OnlyTheFirstParameterSwitchesTracingOn) {
    struct Case {
        std::vector<std::string> params;
        bool on;
    };
    for (const auto& c :
         {Case{{}, false}, Case{{"/DEBUG"}, false}, Case{{"/DEBUG", "/TRACE"}, false},
          Case{{"TRACE"}, false}, Case{{"/TRACE2"}, false}, Case{{""}, false},
          Case{{"/TRACE"}, true}, Case{{"/trace"}, true}, Case{{"/Trace", "x"}, true}}) {
        SetHostParameters(c.params);
        EXPECT_EQ(TracingOn(), c.on) << (c.params.empty() ? "(none)" : c.params[0]);
        Trace("line");
        EXPECT_EQ(fs::exists(HourFile()), c.on) << (c.params.empty() ? "(none)" : c.params[0]);
        fs::remove(HourFile());
    }
    EXPECT_TRUE(TraceFiles().empty());
}

// One time stamp for all lines of a call; empty pieces between CR and LF dropped.
TEST_F(TraceFile, SplitsTextIntoStampedLines) {
    struct Case {
        std::string text;
        std::vector<std::string> pieces;
    };
    for (const auto& c :
         {Case{"one", {"one"}}, Case{"a\r\nb\r\nc", {"a", "b", "c"}},
          Case{"a\r\n\r\n\nb\r", {"a", "b"}}, Case{"\r\nlead and trail\r\n", {"lead and trail"}},
          Case{"cr\ronly", {"cr", "only"}}, Case{"  blanks kept  \n", {"  blanks kept  "}},
          Case{"<<<Котельная №1", {"<<<Котельная №1"}}, Case{"", {}}, Case{"\r\n\r\n", {}}}) {
        fs::remove(HourFile());
        Trace(c.text);
        std::vector<std::string> expected;
        for (const auto& p : c.pieces) expected.push_back("07.03.2010 09:15:30:  " + p);
        EXPECT_EQ(Lines(HourFile()), expected) << c.text;
    }
}

TEST_F(TraceFile, AppendsToTheHoursFile) {
    Trace("first");
    AdvanceClock(59 * 60 * 1000); // 10:14:30, the next hour
    Trace("next hour");
    AdvanceClock(1000);
    Trace("again");
    EXPECT_EQ(Lines(HourFile()), std::vector<std::string>{"07.03.2010 09:15:30:  first"});
    EXPECT_EQ(Lines(Home + "/Logs/trace_2010_03_07-10.txt"),
              (std::vector<std::string>{"07.03.2010 10:14:30:  next hour",
                                        "07.03.2010 10:14:31:  again"}));
}

TEST_F(TraceFile, CallsAroundMidnightLandInTwoFiles) {
    UseVirtualClock(EncodeDateTime(2010, 3, 7, 23, 59, 59, 900));
    Trace("before");
    AdvanceClock(200);
    Trace("after");
    EXPECT_EQ(TraceFiles(), (std::vector<std::string>{"home/Logs/trace_2010_03_07-23.txt",
                                                      "home/Logs/trace_2010_03_08-00.txt"}));
    EXPECT_EQ(Lines(Home + "/Logs/trace_2010_03_07-23.txt"),
              std::vector<std::string>{"07.03.2010 23:59:59:  before"});
    EXPECT_EQ(Lines(Home + "/Logs/trace_2010_03_08-00.txt"),
              std::vector<std::string>{"08.03.2010 00:00:00:  after"});
}

// The folder is looked up as given (relative to the current folder), then
// under the host folder; nothing is written when neither exists.
TEST_F(TraceFile, FindsTheLogFolder) {
    fs::create_directories(Root + "/abs");
    fs::create_directories(Cwd + "/Here");
    fs::create_directories(Home + "/Here");
    fs::create_directories(Home + "/sub/deeper");
    struct Case {
        std::string logDirectory, written;
    };
    for (const auto& c : {Case{"Logs", "home/Logs/trace_2010_03_07-09.txt"},
                          Case{"Here", "cwd/Here/trace_2010_03_07-09.txt"},
                          Case{Root + "/abs", "abs/trace_2010_03_07-09.txt"},
                          Case{Root + "/abs/", "abs/trace_2010_03_07-09.txt"},
                          Case{"sub/deeper", "home/sub/deeper/trace_2010_03_07-09.txt"},
                          Case{"\"Logs\"", "home/Logs/trace_2010_03_07-09.txt"},
                          Case{"Nowhere", ""}, Case{"", ""}, Case{"   ", ""}}) {
        SetLogDirectory(c.logDirectory);
        Trace("x");
        std::vector<std::string> expected;
        if (!c.written.empty()) expected.push_back(c.written);
        EXPECT_EQ(TraceFiles(), expected) << c.logDirectory;
        for (const auto& f : TraceFiles()) fs::remove(Root + "/" + f);
    }
}

// Without setting.ini the log folder is the default one, Logs.
TEST_F(TraceFile, NoSettingsFileTracesIntoLogs) {
    fs::remove(Home + "/setting.ini");
    Trace("x");
    EXPECT_EQ(TraceFiles(), std::vector<std::string>{"home/Logs/trace_2010_03_07-09.txt"});
}

// A file that cannot be opened drops the text; the lock is released for the next caller.
TEST_F(TraceFile, WriteFailureIsSilent) {
    fs::create_directories(HourFile()); // a folder where the file should be
    EXPECT_NO_THROW(Trace("lost"));
    AdvanceClock(3600 * 1000);
    std::thread other([] { Trace("kept"); });
    other.join();
    EXPECT_EQ(Lines(Home + "/Logs/trace_2010_03_07-10.txt"),
              std::vector<std::string>{"07.03.2010 10:15:30:  kept"});
}

// Threads and processes tracing at once keep each call's lines whole and together.
TEST_F(TraceFile, ConcurrentWritersLoseNoLine) {
    constexpr int Calls = 1000; // two lines each
    auto work = [](const std::string& who) {
        for (int i = 0; i < Calls; ++i)
            Trace(who + " " + std::to_string(i) + " a\r\n" + who + " " + std::to_string(i) + " b");
    };
    std::vector<pid_t> children;
    for (std::string who : {"p1", "p2"}) {
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            std::thread t(work, who + "t");
            work(who);
            t.join();
            _exit(0);
        }
        children.push_back(pid);
    }
    for (pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }

    std::vector<std::string> lines = Lines(HourFile());
    ASSERT_EQ(lines.size(), size_t(4 * 2 * Calls));
    const std::regex shape(R"(07\.03\.2010 09:15:30:  (p[12]t?) (\d+) ([ab]))");
    std::map<std::string, int> next; // each writer's calls arrive in order
    for (size_t i = 0; i < lines.size(); i += 2) {
        std::smatch a, b;
        ASSERT_TRUE(std::regex_match(lines[i], a, shape)) << lines[i];
        ASSERT_TRUE(std::regex_match(lines[i + 1], b, shape)) << lines[i + 1];
        EXPECT_EQ(a[3], "a");
        EXPECT_EQ(b[3], "b");
        EXPECT_EQ(a[1], b[1]);
        EXPECT_EQ(a[2], b[2]);
        EXPECT_EQ(std::stoi(a[2]), next[a[1]]++) << a[1];
    }
    EXPECT_EQ(next.size(), 4u);
}

// Whatever stands at the trace file's place, a call returns, the text is lost
// and the first failure of a run of them is reported once; the next write
// that succeeds ends the run.
TEST_F(TraceFile, FileThatCannotBeWrittenNeverBlocks) {
    std::vector<std::string> reports;
    SetTraceFailureHandler([&](const std::string& m) { reports.push_back(m); });
    struct Case {
        const char* name;
        std::function<void()> make, undo;
    };
    int lockFd = -1;
    const Case cases[] = {
        {"fifo without reader", [&] { ASSERT_EQ(mkfifo(HourFile().c_str(), 0644), 0); },
         [&] { fs::remove(HourFile()); }},
        {"locked by another",
         [&] {
             lockFd = open(HourFile().c_str(), O_WRONLY | O_CREAT, 0644);
             ASSERT_EQ(flock(lockFd, LOCK_EX), 0);
         },
         [&] {
             close(lockFd);
             fs::remove(HourFile());
         }},
    };
    for (const auto& c : cases) {
        reports.clear();
        c.make();
        Trace("lost 1");
        Trace("lost 2");
        EXPECT_EQ(reports.size(), 1u) << c.name;
        if (!reports.empty()) {
            EXPECT_NE(reports[0].find("trace_2010_03_07-09.txt"), std::string::npos) << c.name;
        }
        c.undo();
        Trace("kept");
        EXPECT_EQ(Lines(HourFile()), std::vector<std::string>{"07.03.2010 09:15:30:  kept"})
            << c.name;
        EXPECT_EQ(reports.size(), 1u) << c.name;
    }
    SetTraceFailureHandler(nullptr);
}

// A disk that fills up in the middle of a call leaves the file on a whole line.
TEST_F(TraceFile, FullDiskLeavesNoHalfLine) {
    Trace("before");
    const auto size = fs::file_size(HourFile());
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit{rlim_t(size + 40), rlim_t(size + 40)};
        setrlimit(RLIMIT_FSIZE, &limit);
        std::string reported;
        SetTraceFailureHandler([&](const std::string& m) { reported = m; });
        Trace("a line far longer than the forty bytes the disk still has room for\r\nand a second");
        _exit(reported.empty() ? 1 : 0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "failure not reported";
    EXPECT_EQ(Lines(HourFile()), std::vector<std::string>{"07.03.2010 09:15:30:  before"});
}

// A peer's text in a trace line cannot start lines of its own or reach the
// terminal of whoever reads the file.
TEST_F(TraceFile, ControlCharactersEscaped) {
    struct Case {
        std::string in, out;
    };
    for (const auto& c : {Case{"plain Котельная", "plain Котельная"}, Case{"a\tb", "a\\tb"},
                          Case{"\x1b[2J", "\\x1B[2J"}, Case{std::string("n\0l", 3), "n\\x00l"},
                          Case{"del\x7f", "del\\x7F"}, Case{"\r\n", "\\r\\n"}})
        EXPECT_EQ(EscapeControlChars(c.in), c.out);
    Trace("<<<\x1b]0;x\x07");
    EXPECT_EQ(Lines(HourFile()),
              std::vector<std::string>{"07.03.2010 09:15:30:  <<<\\x1B]0;x\\x07"});
}

// The host finds (or makes) the folder once; the settings are not read again.
TEST_F(TraceFile, FolderMadeOnceAndKept) {
    SetLogDirectory("New/Sub");
    const std::string folder = ForceTraceFolder();
    EXPECT_EQ(folder, Home + "/New/Sub/");
    EXPECT_TRUE(fs::is_directory(folder));
    SetLogDirectory(Root + "/abs/made");
    EXPECT_EQ(ForceTraceFolder(), Root + "/abs/made/");
    // What stands in the way is named with the reason.
    std::ofstream(Home + "/file") << "x";
    struct Case {
        std::string logDirectory, problem;
    };
    for (const auto& c :
         {Case{"", "папка журналов в setting.ini не задана (LogDirectory)"},
          Case{"file/Logs", "папка журналов " + Home + "/file/Logs не создана: "}}) {
        SetLogDirectory(c.logDirectory);
        std::string problem;
        EXPECT_EQ(ForceTraceFolder(&problem), "") << c.logDirectory;
        EXPECT_EQ(problem.substr(0, c.problem.size()), c.problem) << problem;
    }
    SetTraceFolder(folder);
    fs::remove(Home + "/setting.ini");
    Trace("fixed");
    SetTraceFolder("");
    EXPECT_EQ(Lines(folder + "trace_2010_03_07-09.txt"),
              std::vector<std::string>{"07.03.2010 09:15:30:  fixed"});
}
