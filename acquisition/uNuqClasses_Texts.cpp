// The boiler-room object's state line and its SMS report.

#include "acquisition/uNuqClasses.h"
#include "acquisition/uNuqClasses_Manager.h"

#include "foundation/fhStrUtils.h"
#include "foundation/uUtils.h"

#include <cmath>
#include <cstdio>

namespace nuq {

namespace {

// "### ### ### ##0.####": digits grouped by three with blanks, at most four decimals.
std::string FormatGrouped(double v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.4f", std::fabs(v));
    std::string digits(buf);
    while (digits.back() == '0') digits.pop_back();
    if (digits.back() == '.') digits.pop_back();
    const size_t point = digits.find('.');
    const std::string whole = digits.substr(0, point);
    const std::string fraction = point == std::string::npos ? "" : digits.substr(point);
    std::string grouped;
    for (size_t i = 0; i < whole.size(); ++i) {
        if (i > 0 && (whole.size() - i) % 3 == 0) grouped += ' ';
        grouped += whole[i];
    }
    const bool negative = v < 0 && (whole != "0" || !fraction.empty());
    return (negative ? "-" : "") + grouped + fraction;
}

} // namespace

std::string TBoilerRoom::StateCodeText(uint8_t code) {
    switch (code) {
    case bsNotConnected:
        return "Связь не установлена";
    case bsConnecting:
        return "Установление связи";
    case bsComPortError:
        return "Ошибка открытия COM-порта";
    case bsModemInitError:
        return "Ошибка при инициализации модема";
    case bsNoNetwork:
        return "Нет связи с сетью";
    case bsConfigNotSent:
        return "Не удалось отправить информацию о конфигурации";
    case bsNoAnswer:
        return "Объект не отвечает";
    default:
        return "Не определено";
    }
}

std::string TBoilerRoom::StateText() const {
    // A modem link shows where its call cycle stands until it is connected.
    if (LinkKind == lkGPRS && State != bsConnected)
        return Manager ? Manager->StateText(*this) : StateCodeText(bsUndefined);
    std::string text = StateCodeText(State);
    if (State == bsConnected && LastDataTime > 10.0) {
        text = GetModeText();
        if (HasAlarm()) {
            const std::string alarm = GetAlarmText();
            text += " (" + (alarm.empty() ? std::string("Неисправность") : alarm) + ")";
        } else {
            text += " (Норма)";
        }
    }
    return Trim(text);
}

std::string TBoilerRoom::SmsValueText(const tSmsNotifyTemplateItem& item) const {
    int64_t code = 0;
    const bool hasCode = !item.NaNText.empty();
    if (hasCode && !TryStrToInt64("$" + item.NaNText, code))
        throw EConvertError("'" + item.NaNText +
                            "' не является допустимым шестнадцатеричным числом");
    auto byteAt = [this](int64_t n) -> int {
        if (n < 1 || n > PacketBufferSize)
            throw EListError("Packet byte " + std::to_string(n) + " does not exist");
        return Packet[size_t(n - 1)];
    };
    const int64_t n = item.ByteNum;
    switch (item.ValueType) {
    case 0: {
        const int raw = byteAt(n);
        return hasCode && raw == code ? "-" : std::to_string(raw);
    }
    case 1: {
        const int raw = byteAt(n);
        return hasCode && raw == code ? "-" : std::to_string(SignMagnitudeByteToInt(uint8_t(raw)));
    }
    case 2: {
        const int raw = byteAt(n) * 256 + byteAt(n + 1);
        if (hasCode && raw == code) return "-";
        return std::to_string((raw & 0x8000) ? -(raw & 0x7FFF) : raw);
    }
    case 3: {
        char hex[9];
        std::snprintf(hex, sizeof hex, "%02X%02X%02X%02X", byteAt(n), byteAt(n + 1), byteAt(n + 2),
                      byteAt(n + 3));
        const double v = HexStrToFloat(hex, true);
        if (v >= FloatErrorValue || (hasCode && v == double(code))) return "-";
        return FormatGrouped(v);
    }
    case 4: {
        const int raw = item.Dimension > 255 ? byteAt(n) * 256 + byteAt(n + 1) : byteAt(n);
        if (item.Dimension == 0 || raw > item.Dimension) return "-";
        const double v = RoundByFactor(
            10000, item.MinRange + raw * ((item.MaxRange - item.MinRange) / item.Dimension));
        if (!std::isfinite(v) || std::fabs(v) >= FloatErrorValue || (hasCode && raw == code))
            return "-";
        return FormatGrouped(v);
    }
    default:
        return {};
    }
}

std::string TBoilerRoom::BuildSmsNotifyText() {
    if (Status != 1 && Status != 2) return "Обмен данными остановлен";
    std::string text =
        ReplaceStr("\"" + Name + "\"\r\n" + StateText() + "\r\n", "\r\n\r\n", "\r\n");
    if (LowTemperature) text += "Низкая температура\r\n";
    SMSTemplates.SortByNum();
    for (int i = 0; i < SMSTemplates.Count(); ++i) {
        const tSmsNotifyTemplateItem& item = *SMSTemplates.Items(i);
        if (!item.Active) continue;
        try {
            switch (item.ItemType) {
            case 2:
                text += item.Text0;
                break;
            case 1: {
                if (item.BitNum < 1 || item.BitNum > 8 || item.ByteNum < 1 ||
                    item.ByteNum > PacketBufferSize)
                    throw EListError("no such packet bit");
                const bool set = (Packet[size_t(item.ByteNum - 1)] >> (item.BitNum - 1)) & 1;
                text += set ? item.Text1 : item.Text0;
                break;
            }
            case 0:
                text += item.Text0 + SmsValueText(item);
                break;
            default:
                break;
            }
        } catch (const std::exception&) {
            text += item.Text0 + "=<ER>";
        }
    }
    return ReplaceStr(ReplaceStr(text, "#", "\r\n"), "_", " ");
}

} // namespace nuq

namespace nuq {

void TBoilerRoom::SendSmsNotify(TGPRSModem* modem, const std::string& phone) {
    if (!modem || !SMSNotify) return;
    const std::string text = BuildSmsNotifyText();
    if (!phone.empty()) {
        modem->SendSMS(phone, text);
        return;
    }
    for (const std::string& p : SMSPhones) modem->SendSMS(p, text);
}

void TBoilerRoom::SendSMS(TGPRSModem* modem, const std::string& phone, const std::string& text) {
    if (modem) modem->SendSMS(phone, text);
}

} // namespace nuq
