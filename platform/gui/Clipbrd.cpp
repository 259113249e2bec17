#include "platform/gui/Clipbrd.h"

#include "platform/SysUtils.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>

#include <map>
#include <mutex>

namespace nuq {

namespace {

struct TFormats {
    std::mutex Lock;
    std::map<std::string, WORD> ByName; // upper-cased
    std::map<WORD, std::string> ById;
    WORD Next = 0xC000;
};

TFormats& Formats() {
    static auto* f = new TFormats;
    return *f;
}

} // namespace

WORD RegisterClipboardFormat(const std::string& name) {
    if (name.empty()) return 0;
    auto& f = Formats();
    std::lock_guard<std::mutex> guard(f.Lock);
    std::string key = UpperCase(name);
    auto it = f.ByName.find(key);
    if (it != f.ByName.end()) return it->second;
    if (f.Next == 0xFFFF) return 0;
    WORD id = f.Next++;
    f.ByName.emplace(key, id);
    f.ById.emplace(id, name);
    return id;
}

std::string GetClipboardFormatName(WORD format) {
    auto& f = Formats();
    std::lock_guard<std::mutex> guard(f.Lock);
    auto it = f.ById.find(format);
    return it == f.ById.end() ? std::string() : it->second;
}

bool SystemClipboardAvailable() {
    // Without a display the offscreen and minimal platforms keep their clipboard to themselves.
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance())) return false;
    QString platform = QGuiApplication::platformName();
    return platform != "offscreen" && platform != "minimal" && QGuiApplication::clipboard();
}

bool SetSystemClipboardData(const std::vector<std::pair<std::string, std::string>>& mimeData) {
    if (!SystemClipboardAvailable()) return false;
    auto* data = new QMimeData; // the clipboard takes it
    for (const auto& [type, bytes] : mimeData) {
        if (type == "text/plain")
            data->setText(QString::fromUtf8(bytes.data(), qsizetype(bytes.size())));
        else if (type == "text/html")
            data->setHtml(QString::fromUtf8(bytes.data(), qsizetype(bytes.size())));
        else
            data->setData(QString::fromStdString(type),
                          QByteArray(bytes.data(), qsizetype(bytes.size())));
    }
    QGuiApplication::clipboard()->setMimeData(data, QClipboard::Clipboard);
    return true;
}

bool GetForeignSystemClipboardText(std::string& utf8) {
    if (!SystemClipboardAvailable()) return false;
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (clipboard->ownsClipboard()) return false;
    const QMimeData* data = clipboard->mimeData(QClipboard::Clipboard);
    if (!data || !data->hasText()) return false;
    utf8 = data->text().toStdString();
    return true;
}

} // namespace nuq
