// The boiler-room object's life: creation, start and stop, its timers and state.

#include "acquisition/uNuqClasses.h"

#include "foundation/uUtils.h"

#include <algorithm>
#include <atomic>

namespace nuq {

namespace {

// The number that keeps each object's mutex names apart within the process.
std::atomic<uint64_t> nextObjectNumber{1};

uint32_t Milliseconds(int seconds) {
    return uint32_t(std::max(seconds, 0)) * 1000u;
}

} // namespace

TBoilerRoom::TBoilerRoom() {
    FAnswerTimer.SetEnabled(false);
    FLowTempTimer.SetEnabled(false);
    RxBuffer.OnChange = [this](tBuffer&) { RxBufferChange(); };
    const std::string n = std::to_string(nextObjectNumber++);
    OPCRMMutex = CreateOpenMutex("OPCRM" + n);
    SIPMutex = CreateOpenMutex("SIP" + n);
}

TBoilerRoom::~TBoilerRoom() {
    // Nobody is told anything while the object goes: the owner may be
    // destroying it from one of its own handlers.
    OnData = nullptr;
    OnDataSent = nullptr;
    OnStatusChange = nullptr;
    OnRequestTimer = nullptr;
    OnConnected = nullptr;
    OnGetStatus = nullptr;
    OnAnswerTimeout = nullptr;
    OnLowTemperatureCheck = nullptr;
    RxBuffer.OnChange = nullptr;
    *FAlive = false;
    Running = false;
    FAnswerTimer.SetEnabled(false);
    FLowTempTimer.SetEnabled(false);
    if (FRequestTimer) FRequestTimer->SetEnabled(false);
    ReleaseLinks();
}

void TBoilerRoom::StatusChange(const std::string& msg, int kind) {
    if (OnStatusChange) OnStatusChange(*this, msg, kind);
}

void TBoilerRoom::InitRequestTimer(int seconds, std::function<void(TBoilerRoom&)> handler) {
    OnRequestTimer = std::move(handler);
    FRequestTimer = std::make_unique<TTimer>();
    FRequestTimer->SetEnabled(false);
    FRequestTimer->SetInterval(Milliseconds(seconds));
    FRequestTimer->SetOnTimer([this] { RequestTimerTick(); });
}

void TBoilerRoom::Start(int requestPeriod, int ddePeriod) {
    NoAnswer = false;
    AnswerPending = false;
    StopProcessTimer();
    FailedRequests = 0;
    ConnectAttempt = 0;
    RequestPeriod = requestPeriod;
    DDEPeriod = ddePeriod;
    CommandIndex = -1;
    CommandText.clear();
    Settings = LoadSharedSettings(SettingsFileName());
    Running = true;
    StartLink();
    PendingCommandKind = 0;
    PendingCommandText.clear();
    if (FRequestTimer) FRequestTimer->SetInterval(Milliseconds(RequestPeriod));
}

void TBoilerRoom::Stop() {
    Running = false;
    if (FRequestTimer) FRequestTimer->SetEnabled(false);
    ModeText.clear();
    AlarmCode = 0;
    NoAnswer = false;
    AnswerPending = false;
    StopProcessTimer();
    LastDataTime = 0;
    FLowTempTimer.SetEnabled(false);
    FLowTempTimer.SetOnTimer(nullptr);
    LowTemperature = false;
    StopLink();
    PendingCommandKind = 0;
    PendingCommandText.clear();
    DecodePacketBuffer();
}

void TBoilerRoom::Restart(bool keepFailedRequests) {
    const bool wasEnabled = FRequestTimer && FRequestTimer->Enabled();
    const int failed = FailedRequests;
    Stop();
    Start(RequestPeriod, DDEPeriod);
    EnableTimers(wasEnabled);
    if (keepFailedRequests) FailedRequests = failed;
}

void TBoilerRoom::Pause() {
    if (FRequestTimer) FRequestTimer->SetEnabled(false);
    AnswerPending = false;
    StopProcessTimer();
    PauseLink();
}

void TBoilerRoom::EnableTimers(bool enable) {
    if (Status != 1 && Status != 2) return;
    if (FRequestTimer) FRequestTimer->SetEnabled(enable);
    EnableLinkTimer(enable);
}

void TBoilerRoom::RecreateRequestTimer() {
    if (!FRequestTimer || !FRequestTimer->Enabled()) return;
    const uint32_t interval = FRequestTimer->Interval();
    const int tag = FRequestTimer->Tag;
    FRequestTimer = std::make_unique<TTimer>();
    FRequestTimer->SetEnabled(false);
    FRequestTimer->SetInterval(interval);
    FRequestTimer->Tag = tag;
    FRequestTimer->SetOnTimer([this] { RequestTimerTick(); });
    FRequestTimer->SetEnabled(true);
    RestartLinkTimer();
}

void TBoilerRoom::StartProcessTimer(int seconds) {
    AnswerPending = true;
    FAnswerTimer.SetInterval(Milliseconds(seconds));
    FAnswerTimer.SetOnTimer([this] { AnswerTimerExpired(); });
    FAnswerTimer.SetEnabled(true);
}

void TBoilerRoom::StopProcessTimer() {
    FAnswerTimer.SetOnTimer(nullptr);
    FAnswerTimer.SetEnabled(false);
    AnswerPending = false;
    LastRequestTime = 2.0;
}

void TBoilerRoom::StartWaitTimer() {
    const int minutes = InfoBytes ? InfoBytes->LTPeriod : 0;
    FLowTempTimer.SetInterval(uint32_t(minutes) * 60000u);
    FLowTempTimer.SetOnTimer([this] { LowTempTimerTick(); });
    FLowTempTimer.SetEnabled(true);
}

void TBoilerRoom::SetState(uint8_t code) {
    State = code;
    StatusChange("", smInfo);
}

void TBoilerRoom::SetNoAnswer(bool flag) {
    NoAnswer = flag;
    StatusChange("", smInfo);
}

uint8_t TBoilerRoom::GetStatus() {
    return OnGetStatus ? OnGetStatus(*this) : Status;
}

std::string TBoilerRoom::GetModeText() const {
    return ModeText.empty() ? "Не определено" : ModeText;
}

void TBoilerRoom::RequestTimerTick() {
    if (OnRequestTimer && Connected && !AnswerPending) OnRequestTimer(*this);
}

void TBoilerRoom::AnswerTimerExpired() {
    // Cleared first, so the handler may send the next request at once.
    StopProcessTimer();
    if (OnAnswerTimeout) OnAnswerTimeout(*this);
}

void TBoilerRoom::LowTempTimerTick() {
    StartWaitTimer();
    if (OnLowTemperatureCheck) OnLowTemperatureCheck(*this);
}

} // namespace nuq
