#pragma once
// A GSM/GPRS modem on a COM port serving boiler rooms over its TCP socket
// service: the AT dialogue, its initialisation and network connection, the
// unsolicited signals cut out of its stream, the task queue that runs all its
// work one dialogue at a time, and the call cycle that brings each attached
// object onto a socket.
//
// Everything runs on the main thread. Waits pump the message loop, so timers
// of the same modem tick inside a running dialogue; the busy flags keep those
// activities apart.
//
// Text inside the engine is UTF-8; the port sees cp1251 bytes (SendCommand
// converts on the way out, the receive path on the way in).

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "acquisition/SerBuffer.h"
#include "acquisition/SerComm.h"
#include "acquisition/uNuqClasses.h"
#include "acquisition/uNuqClasses_Buffer.h"
#include "foundation/uNuqSettings.h"
#include "platform/Timer.h"

namespace nuq {

class TGPRSModem;

// Kinds of queued modem work; 1 and 12 are not used.
enum : uint8_t {
    ttConnectToInternet = 0,
    ttProcessIncomingConnect = 2,
    ttReadData = 3,
    ttProcessIncomingPacket = 4,
    ttSendConfigurationToBoilerRoom = 5,
    ttCallToBoilerRoom = 6,
    ttSendText = 7,
    ttGetBalance = 8,
    ttReconnect = 9,
    ttCSDIdentWithBoilerRoom = 10,
    ttSendWhoIS = 11,
};
// "ttReadData" and so on; the number itself for an unused kind.
std::string TaskKindName(int kind);

// What a dial command ended with.
enum TCallResult {
    clrUnknown = 0,
    clrConnect = 1,
    clrBusy = 2,
    clrNoDialTone = 3,
    clrNoCarrier = 4
};

// Separators inside queue entries: byte 1 stands for a line break in a signal
// and ends a task's kind; byte 2 splits a task parameter in two.
inline constexpr char SignalBreak = '\x01';
inline constexpr char TaskKindEnd = '\x01';
inline constexpr char TaskParamSplit = '\x02';

// Link states of an attached object.
enum : uint8_t { lsIdle = 0, lsWaitingConnection = 1, lsConnected = 2 };

// A boiler room served by a modem: its phone, its controller identifier, the
// socket it identified on and where its call cycle stands.
class TAttachedBoilerRoom {
public:
    TAttachedBoilerRoom(TGPRSModem* modem, TBoilerRoom* boilerRoom, std::string phone,
                        std::string ident, int ref);
    TAttachedBoilerRoom(const TAttachedBoilerRoom&) = delete;
    TAttachedBoilerRoom& operator=(const TAttachedBoilerRoom&) = delete;

    TGPRSModem* Modem;       // not owned
    int Channel = -1;        // socket it identified on; -1 none
    TBoilerRoom* BoilerRoom; // not owned
    std::string Phone;
    std::string Ident;
    uint8_t LinkState = lsIdle;
    bool Identified = false;              // since the modem last went online
    std::unique_ptr<TTimer> ProcessTimer; // the pending call-cycle step; null when none
    std::string StatusText;
    int ReCallCount = 0;
    // How a task parameter names this entry; unique within its modem for the
    // modem's life, so a task queued for a removed entry finds nothing.
    const int Ref;

    // Stores the link text and asks the object's owner to refresh it.
    void SetStatusText(const std::string& text);
};

// The boiler rooms of one modem: owns its entries, not their boiler rooms.
class TAttachedBoilerRoomList {
public:
    int Add(TGPRSModem* modem, TBoilerRoom* boilerRoom, const std::string& phone,
            const std::string& ident);
    void Delete(int index);
    void Clear() { FItems.clear(); }
    int Count() const { return int(FItems.size()); }
    TAttachedBoilerRoom& Items(int index) const { return *FItems.at(size_t(index)); }

    // First match in list order; null when none.
    TAttachedBoilerRoom* FindByBoilerRoom(const TBoilerRoom* boilerRoom) const;
    TAttachedBoilerRoom* FindByPhone(std::string_view phone) const;
    TAttachedBoilerRoom* FindByIdent(std::string_view ident) const;
    TAttachedBoilerRoom* FindByChannel(int channel) const;
    TAttachedBoilerRoom* FindByRef(int ref) const;

    auto begin() const { return FItems.begin(); }
    auto end() const { return FItems.end(); }

private:
    std::vector<std::unique_ptr<TAttachedBoilerRoom>> FItems;
    int NextRef = 1;
};

// The unsolicited-signal cutter on its own: cuts the block Start .. End out of
// Rx (End stays) and returns the queue entry, or false when either marker is
// missing. The engine's receive path uses it; so does the fuzz target.
bool CutSignal(tBuffer& rx, std::string_view start, std::string_view end, std::string& entry);

// A socket's reassembly on its own: cuts the complete "<...>" packets out of
// Buf in order and leaves in it only an unfinished packet.
std::vector<std::string> CutPackets(std::string& buf);
// The controller identifier of an identification packet: the text between
// "ID:" and the next ",", trimmed; '' when the packet is none.
std::string IdentOf(const std::string& packet);

// SMS texts on their own. A part carries 66 UCS-2 characters.
inline constexpr size_t SmsPieceDigits = 264;
// The text in UCS-2 hex cut into the parts' pieces; one piece at least.
std::vector<std::string> SmsPieces(const std::string& text);
// What follows the "at+cmgs" prompt: the concatenation header and the piece.
std::string SmsPartText(int reference, int count, int part, const std::string& piece);
// An "at+cmgr" answer in text mode, read on its own: the sender's number, the
// coding field, the message line and its text (decoded from UCS-2 hex when the
// coding is 8). The engine's SMS reading uses it; so does the fuzz target.
struct TSmsReading {
    std::string Phone;
    std::string Coding;
    std::string Line;
    std::string Text;
};
TSmsReading ReadSMSAnswer(const std::string& answer);
// The message indexes an "at+cmgl" listing names, in order; an index that is
// not a number is left out, as it would go back to the modem in a command.
std::vector<int> SmsListIndexes(const std::string& listing);
// The configuration text a controller is sent: "N:" + the whole length in
// three digits at least + " " + the address part and/or the access part.
std::string ConfigText(const std::string& ident, const std::string& ip, int port,
                       const std::string& apn, const std::string& login,
                       const std::string& password, bool withAddress, bool withAccess);

class TGPRSModem {
public:
    explicit TGPRSModem(const TModemData& modemData);
    ~TGPRSModem();
    TGPRSModem(const TGPRSModem&) = delete;
    TGPRSModem& operator=(const TGPRSModem&) = delete;

    // ---- the object, its port and the dialogue

    TModemData ModemData;
    bool PortFault = false; // the device stopped working; no command goes out until it reopens
    std::unique_ptr<TSerComm> Port;
    std::unique_ptr<TSerBuffer> PortBuffer;
    TNuqSettings Settings; // own copy, reloaded by Connect
    tBuffer RxBuffer;      // received and not yet consumed
    std::vector<std::string> Signals;
    std::vector<std::string> SocketBuffers; // "S<n>=<text>"
    std::vector<std::string> Tasks;
    std::string LocalIP;
    int LocalPort = 1;
    // Busy flags: set for the length of their activity.
    bool Sending = false, Extracting = false, ReadingAll = false, Dialling = false,
         ProcessingSignals = false, ExecutingTasks = false, Answering = false, Checking = false;
    bool PortEventSeen = false; // the port has reported open, close or error; never cleared
    bool Online = false;        // the listener is open and its address known
    bool Initialised = false;   // the last initialisation since the port opened succeeded
    TAttachedBoilerRoomList Attached;
    int OpenAttempt = 0, InternetAttempt = 0, InitAttempt = 0;
    std::vector<int> Sockets; // accepted incoming connections

    // Events. The three queries are polled in every wait and tick; an
    // unassigned one answers false.
    std::function<void(const std::string& text, bool verboseOnly, bool showDialog)> OnMessage;
    std::function<bool()> OnIsDestroying;
    std::function<bool()> OnIsStopping;
    std::function<bool()> OnIsNotRunning;
    std::function<void(int port, const std::string& msg)> OnConnectFailed;
    std::function<void(int port, const std::string& reply)> OnBalance;
    std::function<void(TGPRSModem& modem)> OnNoObjectAnswers;
    std::function<void(const std::string& text, const std::string& phone)> OnSMSReceived;

    int PortNumber() const { return ModemData.PortNumber; }

    void Connect();
    void Disconnect();
    void Reconnect();
    void InitModem();
    void ConnectToInternet();
    void DisconnectFromInternet();
    // Writes Text as it stands (callers add CR LF); false when nothing went out.
    bool SendCommand(const std::string& text);
    bool WaitAnswer(const std::string& expected, int timeoutMs);
    // Index of the first answer seen (case ignored), -1 for none.
    int WaitAnyAnswer(const std::vector<std::string>& answers, int timeoutMs);
    // A report line: "COM" + port padded to six characters + ": " + Text.
    void Report(const std::string& text, bool verboseOnly = false, bool showDialog = false);
    bool CheckModem();
    void SetStatusTextAll(const std::string& text);

    // Retry timers; null while none is pending.
    TTimer* OpenTimer() const { return FOpenTimer.get(); }
    TTimer* InternetTimer() const { return FInternetTimer.get(); }
    TTimer* ReInitTimer() const { return FReInitTimer.get(); }
    TTimer& TaskTimer() { return *FTaskTimer; }
    TTimer& SignalTimer() { return *FSignalTimer; }
    TTimer& ReadTimer() { return *FReadTimer; }
    TTimer& WhoIsTimer() { return *FWhoIsTimer; }

    // ---- unsolicited signals

    // The receive path: Text (program text) joins RxBuffer and the complete
    // signals are cut out of it.
    void ReceiveText(const std::string& text);
    void ExtractSignals();
    void SignalTimerTick();
    void ProcessIncomingData();

    // ---- task queue and call cycle

    void AddTask(uint8_t kind, const std::string& param);
    void TaskTimerTick();
    void ExecuteTasks();
    void Start(TBoilerRoom& boilerRoom);
    void Stop(TBoilerRoom& boilerRoom);
    void GetBalance() { AddTask(ttGetBalance, ""); }
    void PauseTimers(bool pause);
    void ProcessReCall(TAttachedBoilerRoom& a);
    void ProcessWaitAnswerFromBoilerRoomTimeout(TAttachedBoilerRoom& a);
    void CheckNoObjectAnswers();

    // ---- sockets (uNuqClasses_ModemSockets.cpp)

    bool ProcessIncomingConnect(int socket);
    bool ReadAll();
    bool ReadDataFromSocket(int socket);
    void ProcessIncomingPacket(int socket, const std::string& data);
    void QueueWhoIs(int socket);
    void WhoIsTimerTick();
    void ReadTimerTick();
    bool DoSendText(int socket, const std::string& text);
    void SendText(TBoilerRoom& boilerRoom, const std::string& text);
    void SendTaskText(TAttachedBoilerRoom& a, const std::string& text);
    void ReconnectSocket(int socket);
    void CloseSocket(int socket);
    // The text of a socket not yet cut into packets.
    std::string SocketBuffer(int socket) const;

    // ---- SMS, balance and calls (uNuqClasses_ModemCalls.cpp)

    bool SendSMS(const std::string& phone, const std::string& text);
    void ReadSMS(const std::string& index, std::string& phone, std::string& text);
    void ClearSMS();
    void RequestBalance();
    TCallResult Call(const std::string& number);
    void CallToBoilerRoom(TAttachedBoilerRoom& a);
    void CSDIdent(TAttachedBoilerRoom& a);
    bool CSDExchange(TAttachedBoilerRoom& a);
    void HangUp();
    void SendConfigurationToBoilerRoom(TAttachedBoilerRoom& a);
    std::string BuildConfigText(TAttachedBoilerRoom& a, bool withAddress, bool withAccess);

    // How many "+++" / "ATH" rounds HangUp makes before it gives up.
    static constexpr int HangUpTryMax = 3;
    // Period of the socket read that does not wait for the modem's notice.
    static constexpr uint32_t ReadPeriodMs = 10000;

private:
    // How long a dialogue waits for the modem, by what it waits for.
    // A command the modem carries out at once: a socket's read, write or
    // close, a message read or deleted, the escape, our own call hung up.
    static constexpr int CommandAnswerMs = 2000;
    // A command that takes the modem a while: listing the stored messages,
    // refusing a ringing call, dropping the network connection.
    static constexpr int SlowCommandAnswerMs = 5000;
    static constexpr int CheckAnswerMs = 3000;  // the check's "AT"
    static constexpr int HangUpAnswerMs = 3000; // a data call hung up after the escape
    static constexpr int SmsPromptMs = 5000;    // the prompt for a message's text
    // The controller hanging up once it has taken its settings.
    static constexpr int ConfigTakenMs = 5000;
    static constexpr int InitStepAnswerMs = 10000; // a step of the modem's initialisation
    static constexpr int SocketStatesMs = 10000;   // the sockets' states once online
    // The connection profile and the listening service set up.
    static constexpr int ServiceSetupMs = 15000;
    // The network connection or an incoming socket opened.
    static constexpr int SocketOpenMs = 30000;
    static constexpr int DialAnswerMs = 35000; // the called number answering, or not
    // The network taking a message sent or a balance request.
    static constexpr int NetworkAnswerMs = 60000;

    bool IsDestroying() const { return OnIsDestroying && OnIsDestroying(); }
    bool IsStopping() const { return OnIsStopping && OnIsStopping(); }
    bool IsNotRunning() const { return OnIsNotRunning && OnIsNotRunning(); }
    bool WaitStopped() const { return IsDestroying() || (IsNotRunning() && !Checking); }
    // A dialogue is running somewhere beneath the current timer tick.
    bool InDialogue() const { return DialogueDepth > 0; }
    std::string PortText() const { return std::to_string(ModemData.PortNumber); }

    void SetupPort();
    void OpenPort();
    void OpenTimerTick();
    void PortOpened();
    void PortClosed();
    void PortError(uint32_t code);
    void ResetLinkState();
    void PortRxBuf(const char* bytes, int count);
    // Reads what the port holds and passes it to the receive path.
    void PollPort();
    void ReInitTimerTick();
    void InternetTimerTick();
    void StartReInitTimer();
    void SetObjectsFailed(uint8_t state);

    bool ExtractSignal(std::string_view start, std::string_view end);
    void HandleCallerId(const std::string& s, bool& postponed);
    void HandleServiceEvent(const std::string& s);
    void HandleReadAnswer(const std::string& s, const std::string& id);
    void HandleNewSms(const std::string& s);
    void RemoveSignal(const std::string& s);
    void TraceQueue(const std::string& title, const std::string& prefix,
                    const std::vector<std::string>& list, std::recursive_mutex& lock);

    void RunTask(const std::string& entry, const std::string& id);
    void RemoveTask(const std::string& entry);
    TAttachedBoilerRoom* TaskObject(const std::string& param) const;
    void ConfigurationTick(TAttachedBoilerRoom& a);
    void CSDTick(TAttachedBoilerRoom& a);
    void ReCallTick(TAttachedBoilerRoom& a);
    void AnswerWaitTick(TAttachedBoilerRoom& a);
    bool CallInProgress(TAttachedBoilerRoom& a);
    bool SendSMSPart(const std::string& phone, int reference, int part, int count,
                     const std::string& piece, const std::string& id);
    void NewProcessTimer(TAttachedBoilerRoom& a, int seconds, bool answerWait);
    void Identify(int socket, const std::string& id);
    void DrainSocket(int socket);
    void SetSocketBuffer(int socket, const std::string& text);

    std::recursive_mutex TaskLock, SignalLock;
    std::unique_ptr<TTimer> FTaskTimer, FSignalTimer, FReadTimer, FWhoIsTimer;
    std::unique_ptr<TTimer> FOpenTimer, FInternetTimer, FReInitTimer;
    // A port error closed the link: the open timer reopens it even though the
    // port has reported events before.
    bool ReopenPending = false;
    // A balance request came before the initialisation succeeded.
    bool BalancePending = false;
    // A command of the scanning's stop went unanswered: the modem is mute,
    // and the rest of the stop neither sends nor waits (each wait would add
    // its whole time-out to the stop).
    bool StopUnanswered = false;
    // Why the port last failed to open, as said: said again only when it
    // changes or after the port has opened.
    std::string OpenFailureSaid;
    int DialogueDepth = 0;
    // Timers switched off around a voice call, with the object whose request
    // timer it is (null for other timers).
    struct TPausedTimer {
        TTimer* Timer;
        TBoilerRoom* RequestOf;
    };
    std::vector<TPausedTimer> PausedTimers;
    // The timers of one attached object that a voice call holds still; null
    // where the object has none.
    static std::array<TPausedTimer, 4> PausableTimers(const TAttachedBoilerRoom& a);
};

} // namespace nuq
