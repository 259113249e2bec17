#pragma once
// One remote boiler room as the system talks to it: its record settings, its
// link state and timers, its packet buffer and script blocks, its
// configuration objects, and the events through which it tells its owner
// what happens. Everything runs on the main thread.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "acquisition/SerBuffer.h"
#include "acquisition/SerComm.h"
#include "acquisition/uCommandClasses.h"
#include "acquisition/uInfoByteClasses.h"
#include "acquisition/uNuqClasses_Buffer.h"
#include "acquisition/uOPCMap.h"
#include "acquisition/uOPCServer.h"
#include "acquisition/uSMSNotifyConfigClasses.h"
#include "acquisition/uScriptClasses_Blocks.h"
#include "foundation/uNuqSettings.h"
#include "platform/ClientSocket.h"
#include "platform/DateUtils.h"
#include "platform/SyncObjs.h"
#include "platform/SysUtils.h"
#include "platform/Timer.h"

namespace nuq {

// A script that did not pass its check cannot be loaded.
class EScriptError : public Exception {
public:
    using Exception::Exception;
};

// Link states.
enum : uint8_t {
    bsNotConnected = 0,
    bsConnecting = 1,
    bsConnected = 2,
    bsUndefined = 3, // paused or given up
    bsComPortError = 4,
    bsModemInitError = 5,
    bsNoNetwork = 6,
    bsConfigNotSent = 7,
    bsNoAnswer = 8,
};

// Link kinds.
enum : uint8_t { lkComPort = 0, lkTCP = 1, lkDDE = 2, lkGPRS = 3 };

// Kinds of OnStatusChange messages.
enum : int { smInfo = 0, smError = 1, smConnectionLost = 3 };

class TGPRSManager;
class TGPRSModem;

class TBoilerRoom {
public:
    TBoilerRoom();
    ~TBoilerRoom();
    TBoilerRoom(const TBoilerRoom&) = delete;
    TBoilerRoom& operator=(const TBoilerRoom&) = delete;

    // Read from the settings file by Start; objects that read the same file
    // share one copy, and one given settings of its own keeps them to itself.
    std::shared_ptr<const TNuqSettings> Settings = NoSettings();
    std::string Name;
    uint8_t Status = 0; // 1 automatic polling, 2 manual; other values: not polled
    std::string KeyPass;
    uint8_t State = bsNotConnected;
    int ConnectAttempt = 0;
    uint8_t LinkKind = lkComPort;
    std::string DDEServiceName;
    std::unique_ptr<TNuqInfoBytes> InfoBytes; // assigned by the owner
    tCommandDefinition Commands;
    TOPCMap OPCMap;
    bool SMSNotify = false;
    std::vector<std::string> SMSPhones;
    tSmsNotifyTemplate SMSTemplates;
    std::string GPRSApn, GPRSLogin, GPRSPassword;
    uint8_t GPRSCallMode = 0;
    std::unique_ptr<TOPCServer> OPCServer; // made by Start on a DDE link, freed by Stop

    TPacketBytes Packet;
    int PacketLength = -1; // -1 = no packet

    bool Running = false;
    std::string ModeText;
    int AlarmCode = 0; // alarm code of the last packet; 0 = no alarm
    bool NoAnswer = false;
    bool AnswerPending = false;
    bool LowTemperature = false;
    TDateTime LastDataTime = 0;
    TDateTime LastRequestTime = 0;
    int FailedRequests = 0;
    TGPRSManager* Manager = nullptr; // not owned

    int RequestPeriod = 0; // s, as passed to Start
    int DDEPeriod = 0;     // s
    bool Connected = false;
    // Kept for the owner's command handling; Start resets them.
    int CommandIndex = -1;
    std::string CommandText;
    uint8_t PendingCommandKind = 0;
    std::string PendingCommandText;

    tBlocks Blocks;
    tCrashList CrashList;

    // Receive buffer of the serial and TCP links; its changes are framed at once.
    tBuffer RxBuffer;
    // Longest line kept without its CR LF; far more than a packet's hex text.
    static constexpr int MaxLineBytes = 256 * 1024;

    // Events; an empty one is skipped.
    std::function<void(TBoilerRoom& sender, const std::string& data)> OnData;
    std::function<void(TBoilerRoom& sender, const std::string& text, bool sent)> OnDataSent;
    std::function<void(TBoilerRoom& sender, const std::string& msg, int kind)> OnStatusChange;
    std::function<void(TBoilerRoom& sender)> OnRequestTimer;
    std::function<void(TBoilerRoom& sender, int period)> OnConnected;
    std::function<uint8_t(TBoilerRoom& sender)> OnGetStatus;
    std::function<void(TBoilerRoom& sender)> OnAnswerTimeout;
    std::function<void(TBoilerRoom& sender)> OnLowTemperatureCheck;

    // Timers (null until made): the request timer by InitRequestTimer, the
    // reconnect timer by a serial or TCP link that has to try again.
    TTimer* RequestTimer() const { return FRequestTimer.get(); }
    TTimer* ReconnectTimer() const { return FReconnectTimer.get(); }
    TTimer& AnswerTimer() { return FAnswerTimer; }
    TTimer& LowTempTimer() { return FLowTempTimer; }

    void InitRequestTimer(int seconds, std::function<void(TBoilerRoom&)> handler);
    void Start(int requestPeriod, int ddePeriod);
    void Stop();
    void Restart(bool keepFailedRequests);
    void Pause();
    void EnableTimers(bool enable);
    void RecreateRequestTimer();
    void StartProcessTimer(int seconds);
    void StopProcessTimer();
    void StartWaitTimer();
    void SetState(uint8_t code);
    void SetNoAnswer(bool flag);
    uint8_t GetStatus();
    bool HasAlarm() const { return AlarmCode != 0; }
    std::string GetAlarmText() const { return CrashList.GetText(AlarmCode); }
    // Reads false once the object is destroyed: whoever fires one of its
    // events holds it across the call, since a handler may free the object.
    std::shared_ptr<const bool> AliveFlag() const { return FAlive; }
    std::string GetModeText() const;

    // Builds the blocks and the alarm table from a script, appending to what
    // is there. A script that fails its check while describing bytes raises
    // EScriptError and adds nothing; a missing scale of a scaled byte raises
    // EConvertError after the blocks before it were added.
    void LoadScript(const std::string& script);
    // Lays a packet into the packet buffer and decodes every block. A packet
    // longer than the buffer is cut to it. The message loop runs once per block.
    void DecodePacket(const PacketBuffer& buffer, int length);
    void DecodePacket(const TPacketBytes& buffer, int length);
    void DecodePacket(std::string_view bytes);
    // Every block decodes the value 0.
    void ClearValues();
    // Every block goes to its no-data state; PacketLength becomes -1.
    void DecodePacketBuffer();

    // Link set-up, one of them before Start.
    void SetComPortConnection(int portNumber, int baudRate, int dataBits, int stopBits, int parity,
                              int flowControl);
    void SetTCPConnection(const std::string& host, int port);
    void SetDDEConnection(const std::string& serviceName);
    // A modem link: the object is attached through Manager (which must be
    // assigned first) to the modem on PortNumber.
    void SetGPRSConnection(int portNumber, const std::string& phone, const std::string& ident);
    // The DDE poll period: at least one second; the timer runs only for Seconds >= 1.
    void SetRequestInterval(int seconds);
    TTimer* DDETimer() const { return FDDETimer.get(); }
    TSerComm* SerialPort() const { return ComPort.get(); }

    // Sends a line over the link, in state 2 only; Framed puts it in "<" ">".
    void SendText(const std::string& text, bool framed);
    // Writes one DDE item, in state 2 only, and reports it through OnDataSent.
    void WriteOPCValue(const std::string& path, const std::string& item, const std::string& value);
    // Reads every mapped item and builds the synthetic packet as hex text;
    // '' when any read fails or a value does not convert.
    std::string ReadOPCValues();
    // Why the last ReadOPCValues gave nothing (the service, topic and item,
    // and the reason); '' when it built its packet.
    std::string OPCReadError;

    // The object's state line, and its SMS report.
    std::string StateText() const;
    std::string BuildSmsNotifyText();
    // The SMS report through Modem, to Phone or, when Phone is empty, to every
    // number of SMSPhones; only with SMSNotify on. Nothing without a modem.
    void SendSmsNotify(TGPRSModem* modem, const std::string& phone);
    void SendSMS(TGPRSModem* modem, const std::string& phone, const std::string& text);

    // The text of a link state; "Не определено" for 2, 3 and codes outside the table.
    static std::string StateCodeText(uint8_t code);

private:
    // Link-specific parts of the life cycle.
    void StartLink();
    void StopLink();
    void PauseLink();
    void EnableLinkTimer(bool enable);
    void RestartLinkTimer();
    void ReleaseLinks();
    void RxBufferChange();
    void FrameLines();
    void ResetRxBuffer();
    void LineDropped(); // says DroppedBytes in the log and the trace
    void SendOnLink(const std::string& line);
    void LinkMessage(const std::string& before, const std::string& after, int kind);

    // Serial link.
    void ComError(uint32_t errorCode);
    void ComOpen();
    void ComClose();
    void OpenComPort();
    void StartComReopenTimer();
    void ComRetryMessage();

    // TCP link.
    void TryConnect();
    void SocketConnect();
    void SocketDisconnect();
    void SocketError(int& errorCode);
    void StartReconnectTimer();
    void ReconnectTick();
    void AttemptMessage();
    void AttachSocketEvents();
    void PollDDE();
    void OpenDDEItems();
    uint32_t ReconnectQuickMs() const;
    uint32_t ReconnectLongMs() const;
    int MaxConnectTry() const;

    void DecodeBlocks();
    void RequestTimerTick();
    void AnswerTimerExpired();
    void LowTempTimerTick();
    void StatusChange(const std::string& msg, int kind);
    std::string SmsValueText(const tSmsNotifyTemplateItem& item) const;

    TMutexHandle SIPMutex;
    TMutexHandle OPCRMMutex;
    // Counts decodes, so a pass interrupted by a newer decode of the same
    // object (run from a message handled between blocks) stops instead of
    // mixing two packets.
    uint64_t DecodeGeneration = 0;

    // Framing of the receive buffer: a pass or a DDE poll is delivering; the
    // search for CR LF resumes here; the bytes up to the next CR LF belong to
    // a line too long to keep; bumped when the link opens anew.
    bool Framing = false;
    int RxScanFrom = 0;
    bool DiscardingLine = false;
    uint64_t DroppedBytes = 0; // of the line being dropped
    uint64_t RxSession = 0;
    // False once the object is destroyed: a handler may destroy it while a
    // pass still runs on it.
    std::shared_ptr<bool> FAlive = std::make_shared<bool>(true);

    std::unique_ptr<TSerComm> ComPort;
    std::string ComFailure;     // the last open failure said, until the port opens
    std::string OPCFailureSaid; // the DDE read failure said, until reads work again
    std::unique_ptr<TSerBuffer> ComBuffer;
    std::unique_ptr<TClientSocket> Socket;
    std::unique_ptr<TTimer> FReconnectTimer;
    std::unique_ptr<TTimer> FDDETimer;

    std::unique_ptr<TTimer> FRequestTimer;
    TTimer FAnswerTimer;
    TTimer FLowTempTimer;
};

} // namespace nuq
