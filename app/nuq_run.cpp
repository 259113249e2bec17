// nuq run: the acquisition engine against the objects of the home folder.

#include "app/nuq_commands.h"
#include "app/nuq_host.h"
#include "platform/EventLoop.h"
#include "platform/Host.h"
#include "platform/Timer.h"

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <unistd.h>

namespace nuq::app {

const char* const RunHelp =
    "usage: nuq [--home DIR] run [--for SECONDS] [--trace]\n"
    "\n"
    "Loads setting.ini and objects.ini from the home folder, starts every object\n"
    "on its link and prints a log line for every event and the decoded lines of\n"
    "every packet. Stops on SIGINT or SIGTERM, or after SECONDS with --for.\n"
    "--trace writes the trace file into the settings' log folder.\n"
    "\n"
    "objects.ini holds one section per object: Name, Status (1 automatic,\n"
    "2 manual polling), Link (COM, TCP, DDE, GPRS) and its settings (Host, Port;\n"
    "ComPort, BaudRate, DataBits, StopBits, Parity, FlowControl; DDEService;\n"
    "ModemPort, Phone, Ident, CallMode, APN, APNLogin, APNPassword),\n"
    "RequestPeriod, DDEPeriod, RequestText, Script (a packet script file), Key,\n"
    "SMSNotify, SMSPhones (comma-separated), and the configuration texts\n"
    "InfoBytes, Commands, OPCMap, SMSTemplates. The modems of GPRS objects are\n"
    "the [Modem_i] sections of setting.ini with that PortNumber; each is\n"
    "connected before the objects start and asked its balance once.\n"
    "\n"
    "Exit status: 0 stopped cleanly, 2 bad arguments or no object to run.\n";

namespace {

int signalPipe[2] = {-1, -1};

void OnSignal(int) {
    const char byte = 1;
    // Nothing else is safe in a signal handler; the loop sees the byte.
    [[maybe_unused]] ssize_t n = write(signalPipe[1], &byte, 1);
}

} // namespace

int RunCommand(const Args& args) {
    double seconds = -1;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--for" && i + 1 < args.size()) {
            if (!TryStrToFloat(args[++i], seconds) || seconds < 0) {
                std::fprintf(stderr, "nuq run: --for needs a number of seconds\n");
                return 2;
            }
        } else if (args[i] == "--trace") {
            SetHostParameters({"/TRACE"});
        } else {
            std::fprintf(stderr, "nuq run: unexpected argument \"%s\"\n", args[i].c_str());
            std::fputs(RunHelp, stderr);
            return 2;
        }
    }

    SetMainThread();
    // Every TCP object holds a socket: thousands of them need more than the
    // usual soft limit of open files.
    rlimit files{};
    if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
        files.rlim_cur = files.rlim_max;
        setrlimit(RLIMIT_NOFILE, &files);
    }
    if (pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) < 0) return 2;
    TFdWatch signals(signalPipe[0], POLLIN, [](short) { QuitLoop(); });
    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);
    std::signal(SIGPIPE, SIG_IGN);

    THost host;
    host.Log("Запуск: папка " + HostFolder());
    if (!host.LoadObjects(HostFolder() + "objects.ini")) return 2;
    TTimer stopTimer;
    stopTimer.SetEnabled(false);
    if (seconds >= 0) {
        stopTimer.SetInterval(uint32_t(seconds * 1000));
        stopTimer.SetOnTimer([] { QuitLoop(); });
        stopTimer.SetEnabled(seconds > 0);
    }
    host.Log("Опрос запущен, объектов: " + std::to_string(host.Objects().size()));
    std::fflush(stdout); // seen at once, though the log otherwise goes out once a pass
    host.StartScanning();
    if (seconds != 0) RunLoop();
    host.StopScanning();
    // Let the links' last events reach the log before the objects go.
    ProcessMessages();
    host.Log("Опрос остановлен");
    return 0;
}

} // namespace nuq::app
