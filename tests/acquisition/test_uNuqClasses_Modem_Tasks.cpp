// The modem's task queue, its busy flags and the call cycle of attached
// objects, on the virtual clock without a port.

#include "ModemFixture.h"

using namespace modemtest;

namespace {

std::string Task(int kind, const std::string& param) {
    return std::to_string(kind) + TaskKindEnd + param;
}

class ModemTasks : public ModemTest {
protected:
    void SetUp() override {
        ModemTest::SetUp();
        MakeModem();
        modem->Settings.ReCallStep = 7;
        modem->Settings.ReCallTryMax = 1;
        modem->Settings.AnswerConnectTimeout = 30;
    }
    TAttachedBoilerRoom& Entry(TBoilerRoom& room) {
        return *modem->Attached.FindByBoilerRoom(&room);
    }
};

} // namespace

TEST_F(ModemTasks, SameTaskIsQueuedOnce) {
    modem->AddTask(ttReadData, "");
    modem->AddTask(ttReadData, "");
    modem->AddTask(ttProcessIncomingConnect, "3");
    modem->AddTask(ttSendWhoIS, "1\x02"
                                "who");
    modem->AddTask(ttSendWhoIS, "1\x02"
                                "WHO"); // compared without regard to case
    EXPECT_EQ(modem->Tasks,
              (std::vector<std::string>{Task(ttReadData, ""), Task(ttProcessIncomingConnect, "3"),
                                        Task(ttSendWhoIS, "1\x02"
                                                          "who")}));
    EXPECT_TRUE(modem->TaskTimer().Enabled());
    // Data is the exception: the same packet read twice is two packets.
    const std::string packet = "1\x02^SISR: 1,6\r\n<0102>\r\nOK\r\n";
    modem->Tasks.clear();
    modem->AddTask(ttProcessIncomingPacket, packet);
    modem->AddTask(ttProcessIncomingPacket, packet);
    EXPECT_EQ(modem->Tasks, std::vector<std::string>(2, Task(ttProcessIncomingPacket, packet)));
}

TEST_F(ModemTasks, SignalsAreHandledBeforeTasks) {
    size_t tasksWhenSignalRan = 99;
    modem->OnBalance = [&](int, const std::string&) { tasksWhenSignalRan = modem->Tasks.size(); };
    modem->AddTask(ttReadData, "");
    modem->ReceiveText("\r\n+CUSD: 0,\"0031\",72\r\n");
    modem->TaskTimerTick();
    EXPECT_EQ(modem->Tasks.size(), 1u); // handed over to the signal timer
    EXPECT_TRUE(modem->SignalTimer().Enabled());
    ASSERT_TRUE(WaitFor([&] { return modem->Tasks.empty(); }, 10000));
    EXPECT_EQ(tasksWhenSignalRan, 1u);
}

TEST_F(ModemTasks, BusyModemPostponesTheQueue) {
    for (bool TGPRSModem::*flag :
         {&TGPRSModem::Sending, &TGPRSModem::ReadingAll, &TGPRSModem::Extracting,
          &TGPRSModem::Dialling, &TGPRSModem::ProcessingSignals, &TGPRSModem::Answering}) {
        modem->Tasks.clear();
        modem->AddTask(ttReadData, "");
        (*modem).*flag = true;
        modem->ExecuteTasks();
        EXPECT_EQ(modem->Tasks.size(), 1u);
        EXPECT_TRUE(modem->TaskTimer().Enabled());
        (*modem).*flag = false;
    }
    modem->ExecuteTasks();
    EXPECT_TRUE(modem->Tasks.empty());
    EXPECT_FALSE(modem->TaskTimer().Enabled());
}

TEST_F(ModemTasks, StopQueryLeavesTasksQueued) {
    modem->AddTask(ttReadData, "");
    stopping = true;
    modem->ExecuteTasks();
    EXPECT_EQ(modem->Tasks.size(), 1u);
}

TEST_F(ModemTasks, FailingTaskLeavesNoBusyFlagAndIsDropped) {
    TBoilerRoom& room = Attach("ТК-1", "+7900", "77");
    room.OnStatusChange = [](TBoilerRoom&, const std::string&, int) {
        throw Exception("display failed");
    };
    modem->PortEventSeen = true;
    modem->AddTask(ttConnectToInternet, "");
    modem->AddTask(ttReadData, "");
    modem->TaskTimerTick();
    EXPECT_FALSE(modem->ExecutingTasks);
    EXPECT_TRUE(modem->Tasks.empty()); // the failed one dropped, the next one ran
}

TEST_F(ModemTasks, TaskForARemovedObjectFindsNothing) {
    TBoilerRoom& room = Attach("ТК-1", "+7900", "77");
    const int ref = Entry(room).Ref;
    modem->Attached.Delete(0);
    Attach("ТК-2", "+7901", "78");
    modem->AddTask(ttSendConfigurationToBoilerRoom, std::to_string(ref));
    modem->ExecuteTasks();
    EXPECT_TRUE(modem->Tasks.empty());
    EXPECT_NE(modem->Attached.Items(0).Ref, ref);
}

TEST_F(ModemTasks, StartWaitsForTheNetworkThenAsksForConfiguration) {
    struct Case {
        uint8_t mode;
        int kind;
    };
    for (Case c : {Case{0, ttSendConfigurationToBoilerRoom},
                   Case{2, ttSendConfigurationToBoilerRoom}, Case{1, ttCSDIdentWithBoilerRoom}}) {
        modem->Tasks.clear();
        modem->Attached.Clear();
        modem->Online = false;
        TBoilerRoom& room = Attach("ТК-1", "+7900", "77", c.mode);
        modem->Start(room);
        TAttachedBoilerRoom& a = Entry(room);
        ASSERT_NE(a.ProcessTimer, nullptr);
        EXPECT_EQ(a.ProcessTimer->Interval(), 500u);
        EXPECT_EQ(a.StatusText, "Подключение к сети...");
        Run(2000); // offline: the tick leaves the timer running
        EXPECT_TRUE(modem->Tasks.empty());
        EXPECT_TRUE(a.ProcessTimer->Enabled());
        modem->Online = true;
        ASSERT_TRUE(WaitFor([&] { return !modem->Tasks.empty(); }, 5000));
        EXPECT_EQ(modem->Tasks[0], Task(c.kind, std::to_string(a.Ref))) << int(c.mode);
        EXPECT_EQ(a.StatusText, "Запрос идентификации...");
        EXPECT_FALSE(a.ProcessTimer->Enabled());
    }
}

TEST_F(ModemTasks, StartOnlineWaitsTheRecallStep) {
    modem->Online = true;
    TBoilerRoom& room = Attach("ТК-1", "+7900", "77");
    modem->Start(room);
    EXPECT_EQ(Entry(room).ProcessTimer->Interval(), 7000u);
}

TEST_F(ModemTasks, StartOfABusyObjectDoesNothing) {
    TBoilerRoom& room = Attach("ТК-1", "+7900", "77");
    for (uint8_t state : {lsWaitingConnection, lsConnected}) {
        Entry(room).LinkState = state;
        Entry(room).Channel = 3;
        modem->Start(room);
        EXPECT_EQ(Entry(room).ProcessTimer, nullptr);
        EXPECT_EQ(Entry(room).Channel, 3);
    }
}

TEST_F(ModemTasks, RecallQueuesTheCallUntilTheTriesAreUsed) {
    modem->Settings.ReCallTryMax = 2;
    TBoilerRoom& room = Attach("ТК-1", "+7900", "77", 0);
    modem->ProcessReCall(Entry(room));
    EXPECT_EQ(modem->Tasks,
              std::vector<std::string>{Task(ttCallToBoilerRoom, std::to_string(Entry(room).Ref))});
    EXPECT_EQ(Entry(room).ReCallCount, 1);
}

TEST_F(ModemTasks, DataCallObjectWithOneTryIsGivenUpAtTheFirstRecall) {
    TBoilerRoom& room = Attach("ТК-1", "+7900", "77", 1);
    room.Connected = true;
    Entry(room).LinkState = lsWaitingConnection;
    modem->Start(room); // busy: nothing
    Entry(room).ProcessTimer = std::make_unique<TTimer>();
    modem->ProcessReCall(Entry(room));
    EXPECT_TRUE(modem->Tasks.empty());
    EXPECT_EQ(Entry(room).ReCallCount, 0);
    EXPECT_EQ(Entry(room).LinkState, lsIdle);
    EXPECT_FALSE(Entry(room).ProcessTimer->Enabled());
    EXPECT_EQ(room.State, bsNoAnswer);
    EXPECT_TRUE(room.NoAnswer);
    EXPECT_FALSE(room.Connected);
    EXPECT_TRUE(HasMessage("Не удалось подключиться к \"ТК-1\""));
}

TEST_F(ModemTasks, OperatorIsToldOnceWhenTheLastObjectGivesUp) {
    int told = 0;
    modem->OnNoObjectAnswers = [&](TGPRSModem& m) {
        EXPECT_EQ(&m, modem.get());
        ++told;
    };
    TBoilerRoom& first = Attach("ТК-1", "+7900", "77");
    TBoilerRoom& second = Attach("ТК-2", "+7901", "78");
    modem->ProcessReCall(Entry(first));
    modem->ProcessReCall(Entry(first)); // given up; the second still answers
    EXPECT_EQ(told, 0);
    modem->ProcessReCall(Entry(second));
    modem->ProcessReCall(Entry(second));
    EXPECT_EQ(told, 1);
}

TEST_F(ModemTasks, ConnectedObjectKeepsTheOperatorQuiet) {
    int told = 0;
    modem->OnNoObjectAnswers = [&](TGPRSModem&) { ++told; };
    TBoilerRoom& first = Attach("ТК-1", "+7900", "77");
    TBoilerRoom& second = Attach("ТК-2", "+7901", "78");
    second.NoAnswer = true;
    Entry(second).LinkState = lsConnected;
    modem->ProcessReCall(Entry(first));
    modem->ProcessReCall(Entry(first));
    EXPECT_EQ(told, 0);
}

TEST_F(ModemTasks, NoConnectionAfterTheCallRecalls) {
    modem->Settings.ReCallTryMax = 3;
    modem->Online = true;
    TBoilerRoom& room = Attach("ТК-1", "+7900", "77");
    TAttachedBoilerRoom& a = Entry(room);
    a.LinkState = lsWaitingConnection;
    modem->ProcessWaitAnswerFromBoilerRoomTimeout(a);
    EXPECT_EQ(a.LinkState, lsIdle);
    EXPECT_EQ(room.State, bsNotConnected);
    EXPECT_TRUE(room.NoAnswer);
    EXPECT_TRUE(HasMessage("\"ТК-1\" не отвечает."));
    EXPECT_EQ(modem->Tasks,
              std::vector<std::string>{Task(ttCallToBoilerRoom, std::to_string(a.Ref))});
}

TEST_F(ModemTasks, StopReturnsTheObjectToIdle) {
    TBoilerRoom& room = Attach("ТК-1", "+7900", "77");
    modem->Online = true;
    modem->Start(room);
    TAttachedBoilerRoom& a = Entry(room);
    a.LinkState = lsConnected;
    room.Connected = true;
    room.NoAnswer = true;
    modem->Stop(room);
    EXPECT_EQ(a.ProcessTimer, nullptr);
    EXPECT_EQ(a.Channel, -1);
    EXPECT_EQ(a.LinkState, lsIdle);
    EXPECT_EQ(room.State, bsNotConnected);
    EXPECT_FALSE(room.NoAnswer);
    EXPECT_FALSE(room.Connected);
    // Idle again: it can start over.
    modem->Start(room);
    EXPECT_NE(a.ProcessTimer, nullptr);
}

TEST_F(ModemTasks, StopKeepsReadingTheOtherSockets) {
    TBoilerRoom& one = Attach("ТК-1", "+7900", "77");
    TBoilerRoom& two = Attach("ТК-2", "+7901", "78");
    TBoilerRoom& idle = Attach("ТК-3", "+7902", "79");
    Entry(one).Channel = 1;
    Entry(two).Channel = 2;
    modem->Sockets = {1, 2};
    modem->ReadTimer().SetEnabled(true);
    modem->Stop(idle);
    EXPECT_TRUE(modem->ReadTimer().Enabled());
    modem->Stop(one);
    EXPECT_EQ(modem->Sockets, std::vector<int>{2});
    EXPECT_TRUE(modem->ReadTimer().Enabled());
    modem->Stop(two);
    EXPECT_FALSE(modem->ReadTimer().Enabled()); // nothing left to read
}

TEST_F(ModemTasks, PausedTimersResumeOnlyWhileTheyStillExist) {
    TBoilerRoom& polled = Attach("ТК-1", "+7900", "77");
    TBoilerRoom& manual = Attach("ТК-2", "+7901", "78");
    polled.Status = 1;
    manual.Status = 2;
    for (TBoilerRoom* r : {&polled, &manual}) {
        r->InitRequestTimer(10, nullptr);
        r->RequestTimer()->SetEnabled(true);
        Entry(*r).ProcessTimer = std::make_unique<TTimer>();
    }
    modem->PauseTimers(true);
    EXPECT_FALSE(polled.RequestTimer()->Enabled());
    EXPECT_FALSE(Entry(polled).ProcessTimer->Enabled());
    // The call replaces one object's pending step meanwhile.
    Entry(manual).ProcessTimer = std::make_unique<TTimer>();
    Entry(manual).ProcessTimer->SetEnabled(false);
    modem->PauseTimers(false);
    EXPECT_TRUE(polled.RequestTimer()->Enabled());
    EXPECT_FALSE(manual.RequestTimer()->Enabled()); // not polled automatically
    EXPECT_TRUE(Entry(polled).ProcessTimer->Enabled());
    EXPECT_FALSE(Entry(manual).ProcessTimer->Enabled());
}

// An object whose serial port cannot be opened retries it on its reconnect
// timer; a voice call holds that timer still as well.
TEST_F(ModemTasks, PausedReconnectTimerResumesWhileItStillExists) {
    TBoilerRoom& kept = Attach("ТК-1", "+7900", "77");
    TBoilerRoom& reset = Attach("ТК-2", "+7901", "78");
    for (TBoilerRoom* r : {&kept, &reset}) {
        r->SetComPortConnection(9, 9600, 8, 1, paNone, 0); // no such port here
        r->Start(60, 0);
        ASSERT_NE(r->ReconnectTimer(), nullptr);
        ASSERT_TRUE(r->ReconnectTimer()->Enabled());
    }
    modem->PauseTimers(true);
    EXPECT_FALSE(kept.ReconnectTimer()->Enabled());
    EXPECT_FALSE(reset.ReconnectTimer()->Enabled());
    // The call sets one object's link up anew, which frees its timer.
    reset.SetComPortConnection(9, 9600, 8, 1, paNone, 0);
    modem->PauseTimers(false);
    EXPECT_TRUE(kept.ReconnectTimer()->Enabled());
    EXPECT_EQ(reset.ReconnectTimer(), nullptr);
    for (TBoilerRoom* r : {&kept, &reset}) r->Stop();
}
