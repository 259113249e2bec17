// The terminal module's handlers behind the modem events, for the nuq run host.

#include "app/nuq_terminal.h"

#include "foundation/uNuqUtils.h"
#include "platform/EventLoop.h"
#include "platform/SysUtils.h"

namespace nuq::app {

void TTerminal::Line(const std::string& text) {
    if (!Log) return;
    for (const std::string& l : SplitLines(text)) Log(l);
}

void TTerminal::Message(const std::string& text, bool verboseOnly, bool showDialog) {
    if (verboseOnly && !Verbose) return;
    // A message box has no one to read it: its text stands out in the log instead.
    Line(showDialog ? "[!] " + text : text);
}

void TTerminal::ConnectFailed(int port, const std::string& msg) {
    (void)msg;
    Line("Не удалось подключить модем (COM" + std::to_string(port) +
         ") к сети.\r\nСканирование остановлено.");
    if (StopScanning) StopScanning();
}

void TTerminal::Balance(int port, const std::string& reply) {
    Line("Баланс модема (COM" + std::to_string(port) + "): " + UCS2HexToText(reply));
}

void TTerminal::NoObjectAnswers(TGPRSModem& modem) {
    const std::string port = std::to_string(modem.PortNumber());
    Line("Ни один объект не отвечает. Переподключить модем (COM" + port +
         ") к сети? Оператора нет: да, переподключаем.");
    // After the running dialogue has ended, as it would after the operator's answer.
    TGPRSModem* m = &modem;
    PostCall([this, m] {
        if (!Destroying && !NotRunning) m->Reconnect();
    });
}

void TTerminal::SMSReceived(TGPRSModem& modem, const std::string& text, const std::string& phone) {
    const std::string name = Trim(text);
    std::optional<std::string> info = ObjectInfo ? ObjectInfo(name) : std::nullopt;
    if (!info) {
        Line("СМС-запрос от " + phone + ": объект \"" + name + "\" не найден. Запрос отклонён.");
        return;
    }
    if (modem.SendSMS(phone, *info))
        Line("СМС-запрос от " + phone + ": ответ по объекту \"" + name + "\" отправлен.");
    else
        Line("СМС-запрос от " + phone + ": ответ по объекту \"" + name + "\" не отправлен.");
}

void TTerminal::AssignTo(TGPRSModem& modem) {
    modem.OnMessage = [this](const std::string& t, bool v, bool d) { Message(t, v, d); };
    modem.OnIsDestroying = [this] { return IsDestroying(); };
    modem.OnIsStopping = [this] { return IsStopping(); };
    modem.OnIsNotRunning = [this] { return IsNotRunning(); };
    modem.OnConnectFailed = [this](int port, const std::string& msg) { ConnectFailed(port, msg); };
    modem.OnBalance = [this](int port, const std::string& reply) { Balance(port, reply); };
    modem.OnNoObjectAnswers = [this](TGPRSModem& m) { NoObjectAnswers(m); };
    TGPRSModem* m = &modem;
    modem.OnSMSReceived = [this, m](const std::string& text, const std::string& phone) {
        SMSReceived(*m, text, phone);
    };
}

void TTerminal::AssignTo(TGPRSManager& manager) {
    manager.SetOnMessage([this](const std::string& t, bool v, bool d) { Message(t, v, d); });
    manager.SetOnIsDestroying([this] { return IsDestroying(); });
    manager.SetOnIsStopping([this] { return IsStopping(); });
    manager.SetOnIsNotRunning([this] { return IsNotRunning(); });
    manager.SetOnConnectFailed(
        [this](int port, const std::string& msg) { ConnectFailed(port, msg); });
    manager.SetOnBalance([this](int port, const std::string& reply) { Balance(port, reply); });
    manager.SetOnNoObjectAnswers([this](TGPRSModem& m) { NoObjectAnswers(m); });
    for (int i = 0; i < manager.ModemList.Count(); ++i) {
        TGPRSModem* m = &manager.ModemList.Items(i);
        m->OnSMSReceived = [this, m](const std::string& text, const std::string& phone) {
            SMSReceived(*m, text, phone);
        };
    }
}

} // namespace nuq::app
