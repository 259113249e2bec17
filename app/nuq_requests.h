#pragma once
// The terminal's request handling: each request an object is sent waits for
// its answer; an object that leaves MaxRequestFailCount requests in a row
// unanswered is marked as not answering and its link opened anew.

namespace nuq::app {

class THost;
struct THostObject;

// Makes the object's request timer send its request text and start the
// answer timer, and handles the answer timer's expiry.
void AssignRequests(THost& host, THostObject& object);
// A packet came: the request is answered.
void AnswerReceived(THostObject& object);

} // namespace nuq::app
