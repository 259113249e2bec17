#pragma once
// What the host adds to the objects' links. Its request handling: each
// request an object is sent waits for its answer; an object that leaves
// MaxRequestFailCount requests in a row unanswered is marked as not
// answering and its link opened anew. And the check of a DDE object's item
// map, without which the object has nothing to read.

#include <string>

namespace nuq {
class TOPCMap;
}

namespace nuq::app {

class THost;
struct THostObject;

// Makes the object's request timer send its request text and start the
// answer timer, and handles the answer timer's expiry.
void AssignRequests(THost& host, THostObject& object);
// A packet came: the request is answered.
void AnswerReceived(THostObject& object);

// Raises, naming the OPCMap key, when Text (the key's value, loaded into
// Map) is missing, does not read as an item map, or maps no item at all.
void CheckOPCMap(const std::string& text, const TOPCMap& map);

} // namespace nuq::app
