// nuq run: the acquisition engine against the objects of the home folder.

#include "app/nuq_commands.h"
#include "app/nuq_host.h"
#include "foundation/uNuqSettings.h"
#include "foundation/uTrace.h"
#include "platform/EventLoop.h"
#include "platform/Host.h"
#include "platform/SerialDevice.h"
#include "platform/Timer.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace nuq::app {

const char* const RunHelp =
    "usage: nuq [--home DIR] run [--for SECONDS] [--trace]\n"
    "\n"
    "Loads setting.ini and objects.ini from the home folder, starts every object\n"
    "on its link and prints a log line for every event and the decoded lines of\n"
    "every packet. Stops on SIGINT, SIGTERM or SIGHUP (a second one ends it at\n"
    "once), when its standard output goes away, or after SECONDS with --for;\n"
    "the last lines say which. SIGHUP is a reload: the run ends with status 0\n"
    "so that the service manager starts it again on the home's files as they\n"
    "are. A standard output that does not take lines holds nothing up: lines\n"
    "wait in a bounded queue, and those dropped beyond it are counted in the log.\n"
    "One run at a time per home folder: nuq.lock there names its process.\n"
    "--trace writes the trace file into the settings' log folder, made when\n"
    "missing; a trace that cannot be written is reported once in the log.\n"
    "\n"
    "objects.ini holds one section per object: Name, Status (1 automatic\n"
    "polling; 2 manual and any other value are not polled), Link (COM, TCP,\n"
    "DDE, GPRS) and its settings (Host, Port; ComPort, BaudRate, DataBits,\n"
    "StopBits, Parity, FlowControl; DDEService; ModemPort, Phone, Ident,\n"
    "CallMode, APN, APNLogin, APNPassword), RequestPeriod, DDEPeriod,\n"
    "RequestText, Script (a packet script file), Key, SMSNotify, SMSPhones\n"
    "(comma-separated), and the configuration texts InfoBytes, Commands, OPCMap,\n"
    "SMSTemplates. The modems of GPRS objects are the [Modem_i] sections of\n"
    "setting.ini with that PortNumber; each is connected before the objects\n"
    "start and asked its balance once.\n"
    "An object whose script fails its check, whose numbers do not read or lie\n"
    "out of range, whose Host is empty, or whose COM port an object or modem\n"
    "before it holds, is not started; the log says why. So is a section that\n"
    "repeats an earlier one; lines that are not keys and unknown keys are said\n"
    "with their line number. The byte captioned \"Код аварии\" is shown with\n"
    "its code's text from the script's alarm texts.\n"
    "\n"
    "Exit status: 0 stopped cleanly, 2 bad arguments or no object to run,\n"
    "3 standard output went away or failed, 4 the home folder in use by\n"
    "another run, 1 the system refused what the run needs.\n";

namespace {

int signalPipe[2] = {-1, -1};
volatile sig_atomic_t stopSignal = 0;
// Standard output's flags before the run, for a second signal's quick end.
volatile sig_atomic_t outputFlags = -1;

// The end of a run waits for its reader to take the last lines (a pager
// the operator reads on); a second signal ends that wait as it ends the run.
constexpr int FinalDrainMs = -1;

// The longest single wait of the stop timer.
constexpr uint32_t MaxStopStepMs = 24u * 3600u * 1000u;

void OnSignal(int number) {
    if (stopSignal) {
        // A second signal: the stop is not awaited; the process ends as the
        // signal ends it, with the status the shell expects of it.
        if (outputFlags >= 0) fcntl(STDOUT_FILENO, F_SETFL, int(outputFlags));
        std::signal(number, SIG_DFL);
        raise(number);
        return;
    }
    stopSignal = number;
    const char byte = 1;
    // Nothing else is safe in a signal handler; the loop sees the byte.
    [[maybe_unused]] ssize_t n = write(signalPipe[1], &byte, 1);
}

// One run per home folder: two would poll every object twice. The lock is
// the kernel's, so a run that crashed leaves nothing that blocks the next.
// -1 with Refusal when another run holds it, or with Warning when no lock
// can be made; the descriptor stays open for the life of the process.
int LockHome(std::string& refusal, std::string& warning) {
    const std::string name = HostFolder() + "nuq.lock";
    const int fd = open(name.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        // A home that cannot be written (an installed example) still runs;
        // one that is not there fails on its objects, said then.
        if (errno != ENOENT)
            warning = "Файл блокировки " + name + " не создан (" + SystemErrorReason(errno) +
                      "): второй запуск в этой папке не будет замечен";
        return -1;
    }
    const int locked = flock(fd, LOCK_EX | LOCK_NB) == 0 ? 0 : errno;
    if (locked && locked != EWOULDBLOCK) {
        warning = "Файл блокировки " + name + " не заблокирован (" + SystemErrorReason(locked) +
                  "): второй запуск в этой папке не будет замечен";
        close(fd);
        return -1;
    }
    if (locked) {
        char pid[32] = {};
        [[maybe_unused]] ssize_t n = pread(fd, pid, sizeof pid - 1, 0);
        const std::string holder = Trim(pid).empty() ? "его PID не записан" : "PID " + Trim(pid);
        refusal = "папка " + HostFolder() + " уже занята другим запуском nuq run (" + holder +
                  ", " + name + ")";
        close(fd);
        return -1;
    }
    const std::string pid = std::to_string(getpid()) + "\n";
    errno = 0;
    const ssize_t n = ftruncate(fd, 0) == 0 ? pwrite(fd, pid.data(), pid.size(), 0) : -1;
    if (n != ssize_t(pid.size()))
        warning = "PID этого запуска не записан в " + name + " (" +
                  SystemErrorReason(errno ? errno : ENOSPC) +
                  "): второй запуск будет отклонён, но не узнает, каким";
    return fd;
}

// A standard output that is a pipe tells when its reader goes, though
// nothing is being written.
void WatchOutput(TFdWatch& watch, THost& host) {
    struct stat st;
    if (fstat(STDOUT_FILENO, &st) != 0 || !S_ISFIFO(st.st_mode)) return;
    watch.Watch(STDOUT_FILENO, fdRead, [&watch, &host](short revents) {
        watch.Stop();
        if (revents & (POLLERR | POLLHUP)) host.NoteOutputLost(EPIPE);
    });
}

const char* SignalName(int number) {
    switch (number) {
    case SIGINT:
        return "SIGINT";
    case SIGTERM:
        return "SIGTERM";
    case SIGHUP:
        return "SIGHUP";
    default:
        return "?";
    }
}

// What stopped the run, for the log's last lines.
std::vector<std::string> StopLines(THost& host, bool timeUp, const std::string& seconds) {
    std::string reason;
    if (host.OutputLost())
        reason = ": стандартный вывод не принимает журнал (" + host.OutputLostReason() + ")";
    else if (stopSignal)
        reason = std::string(": сигнал ") + SignalName(stopSignal);
    else if (timeUp)
        reason = ": истекло время работы (--for " + seconds + " сек.)";
    std::vector<std::string> lines{"Опрос остановлен" + reason};
    if (stopSignal == SIGHUP && !host.OutputLost()) {
        // The engine does not re-read its home in place: a fresh start does.
        const char* manager = std::getenv("INVOCATION_ID");
        lines.push_back(manager && *manager
                            ? "Служба будет запущена заново и прочитает файлы папки " +
                                  HostFolder() + " в их нынешнем виде"
                            : "Файлы папки " + HostFolder() +
                                  " на ходу не перечитываются: запустите nuq run заново");
    }
    return lines;
}

struct TRunArgs {
    double Seconds = -1; // none: until a signal
    std::string SecondsText;
    bool Trace = false;
};

// False, with the reason said, for arguments that do not read.
bool ParseRunArgs(const Args& args, TRunArgs& run) {
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--for") {
            if (i + 1 < args.size()) run.SecondsText = args[i + 1];
            if (i + 1 >= args.size() || !TryStrToFloat(args[++i], run.Seconds) ||
                !std::isfinite(run.Seconds) || run.Seconds < 0) {
                std::fprintf(stderr, "nuq run: --for needs a number of seconds\n");
                return false;
            }
        } else if (args[i] == "--trace") {
            run.Trace = true;
        } else {
            std::fprintf(stderr, "nuq run: unexpected argument \"%s\"\n", args[i].c_str());
            std::fputs(RunHelp, stderr);
            return false;
        }
    }
    return true;
}

void StartTrace(THost& host) {
    SetHostParameters({"/TRACE"});
    host.Terminal().Verbose = true; // the modems' detail lines, as the trace switch shows them
    // The folder is found (or made) once; the settings are not read again
    // for every trace line.
    std::string problem;
    const std::string folder = ForceTraceFolder(&problem);
    if (folder.empty()) {
        host.Log("Трассировка не ведётся: " + problem);
        return;
    }
    SetTraceFolder(folder);
    SetTraceFailureHandler([&host](const std::string& message) { host.Log(message); });
}

// The ports' threads run at the priorities asked for only with the right to
// raise them; the log says once that they do not.
void SayRefusedPriority(THost& host) {
    SetSerialPriorityRefusedHandler([&host](int niceness, int error) {
        const std::string line = "Приоритет потока COM-порта не повышен (nice " +
                                 std::to_string(niceness) + "): " + SystemErrorReason(error) +
                                 "; поток работает с обычным приоритетом";
        // Said from the port's thread: logged on the main one.
        PostCall([&host, line] { host.Log(line); });
    });
}

} // namespace

int RunCommand(const Args& args) {
    TRunArgs run;
    if (!ParseRunArgs(args, run)) return 2;
    const double seconds = run.Seconds;
    SetMainThread();
    // Every TCP object holds a socket: thousands of them need more than the
    // usual soft limit of open files.
    rlimit files{};
    if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
        files.rlim_cur = files.rlim_max;
        setrlimit(RLIMIT_NOFILE, &files);
    }
    if (pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) < 0) {
        // The system's want, not the home's fault: worth a restart.
        std::fprintf(stderr, "nuq run: %s\n", SystemErrorReason(errno).c_str());
        return 1;
    }
    // A file-size limit is a full disk: the write fails and is said, and
    // the run goes on.
    std::signal(SIGXFSZ, SIG_IGN);
    std::string refusal, lockWarning;
    const int lock = LockHome(refusal, lockWarning);
    if (lock < 0 && !refusal.empty()) {
        // Not a fault of the home: the service manager may try again once
        // the other run has ended, so this is not the configuration's status.
        std::fprintf(stderr, "nuq run: %s\n", refusal.c_str());
        return 4;
    }
    THost host;
    TFdWatch signals(signalPipe[0], POLLIN, [&host](short) {
        char bytes[16];
        while (read(signalPipe[0], bytes, sizeof bytes) > 0) {
        }
        host.RequestStop();
    });
    // A hang-up or interrupt the caller chose to ignore (nohup, a background
    // job of a script) stays ignored.
    for (int s : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction was {};
        if (s != SIGTERM && sigaction(s, nullptr, &was) == 0 && was.sa_handler == SIG_IGN) continue;
        std::signal(s, OnSignal);
    }
    std::signal(SIGPIPE, SIG_IGN);
    outputFlags = host.OutputFlags();
    TFdWatch output;
    WatchOutput(output, host);
    SayRefusedPriority(host);

    host.Log("Запуск: папка " + HostFolder());
    if (!lockWarning.empty()) host.Log(lockWarning);
    host.CheckSettingsFile();
    if (run.Trace) StartTrace(host);
    std::string error;
    if (!host.LoadObjects(HostFolder() + "objects.ini", error)) {
        SetTraceFailureHandler(nullptr);
        SetSerialPriorityRefusedHandler(nullptr);
        host.DrainLog(FinalDrainMs); // the objects' refusals come before the reason
        std::fprintf(stderr, "nuq run: %s\n", error.c_str());
        return 2;
    }
    // A timer's interval is 32-bit milliseconds: a longer run is counted
    // down in steps. Any positive time runs at least a millisecond.
    double remainingMs = seconds > 0 ? std::max(std::ceil(seconds * 1000), 1.0) : 0;
    bool timeUp = seconds == 0;
    TTimer stopTimer;
    stopTimer.SetEnabled(false);
    auto armStop = [&] {
        const double step = std::min(remainingMs, double(MaxStopStepMs));
        remainingMs -= step;
        stopTimer.SetInterval(uint32_t(step));
        stopTimer.SetEnabled(true);
    };
    stopTimer.SetOnTimer([&] {
        stopTimer.SetEnabled(false);
        if (remainingMs > 0) {
            armStop();
        } else {
            timeUp = true;
            host.RequestStop();
        }
    });
    if (seconds > 0) armStop();
    host.Log("Опрос запущен, объектов: " + std::to_string(host.Objects().size()));
    host.FlushLog(); // seen at once, though the log otherwise goes out once a pass
    host.StartScanning();
    // A stop asked while the links were starting has ended no loop yet.
    if (seconds != 0 && !host.StopRequested()) RunLoop();
    host.StopScanning();
    // Let the links' last events reach the log before the objects go.
    ProcessMessages();
    for (const std::string& line : StopLines(host, timeUp, run.SecondsText)) host.Log(line);
    SetTraceFailureHandler(nullptr);
    SetSerialPriorityRefusedHandler(nullptr);
    host.DrainLog(FinalDrainMs);
    if (host.OutputLost()) {
        std::fprintf(stderr,
                     "nuq run: стандартный вывод не принимает журнал (%s): опрос остановлен\n",
                     host.OutputLostReason().c_str());
        return 3;
    }
    return 0;
}

} // namespace nuq::app
