#include "app/nuq_links.h"

#include "acquisition/uListText.h"
#include "app/nuq_host.h"

#include <algorithm>
#include <string>

namespace nuq::app {

namespace {

void SendRequest(THostObject& object) {
    TBoilerRoom& room = *object.Room;
    // A request that cannot go out is not waited for.
    if (room.State != bsConnected) return;
    room.SendText(object.RequestText, true);
    // WailAnswerTimeout=0 is no time limit, so no watch at all (an answer
    // timer that never fires would hold every later request).
    if (room.Settings->WailAnswerTimeout > 0 && room.Running)
        room.StartProcessTimer(room.Settings->WailAnswerTimeout);
}

void AnswerTimedOut(THost& host, TBoilerRoom& room) {
    const int limit = std::max(room.Settings->MaxRequestFailCount, 1);
    ++room.FailedRequests;
    host.Log("Объект \"" + room.Name + "\" не ответил на запрос за " +
             std::to_string(room.Settings->WailAnswerTimeout) + " сек. (" +
             std::to_string(room.FailedRequests) + " из " + std::to_string(limit) + ")");
    if (room.FailedRequests < limit) return;
    room.SetNoAnswer(true);
    room.SetState(bsNoAnswer);
    host.Log("Связь с \"" + room.Name + "\" открывается заново");
    room.Restart(false);
}

} // namespace

void AssignRequests(THost& host, THostObject& object) {
    THostObject* o = &object;
    object.Room->InitRequestTimer(0, [o](TBoilerRoom&) { SendRequest(*o); });
    object.Room->OnAnswerTimeout = [&host](TBoilerRoom& room) { AnswerTimedOut(host, room); };
}

void AnswerReceived(THostObject& object) {
    object.Room->StopProcessTimer();
    object.Room->FailedRequests = 0;
}

void CheckOPCMap(const std::string& text, const TOPCMap& map) {
    // Without items a poll would build a made-up one-byte packet every period.
    if (Trim(text).empty()) throw Exception("матрица соответствия OPCMap не задана");
    if (DecodeListText(text).find(ListSection3) == std::string::npos)
        throw Exception("матрица соответствия OPCMap не читается: это не её текст");
    bool mapsItems = map.Vars.Count() > 0;
    for (int i = 0; i < map.States.Count() && !mapsItems; ++i)
        mapsItems = map.States.GetItem(i)->HasSource();
    if (!mapsItems)
        throw Exception("матрица соответствия OPCMap пуста: в ней нет ни одного элемента");
}

} // namespace nuq::app
