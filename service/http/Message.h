// The HTTP layer's vocabulary, between the event loop (Server) and the application (the API).
//   Verdict      whether a request is taken: 0, or the status and the reason of a refusal
//   Request      one request: its head, and its body once read
//   Response     one whole answer; its body shared, so that an answer made once is sent from
//                one copy
//   ErrorAnswer  {"error": REASON} with a status, the form of every refusal
//   EventSource  the text of an event stream, asked again whenever the application wakes it
//   Completion   answers a request from any thread, once
//   Reply        what the application makes of a request's head: an answer now, one after the
//                body, one from another thread later, or an event stream
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace service::http {

struct Verdict {
    int status = 0; // 0: taken
    std::string reason;
};

struct Request {
    std::string method; // as sent: "GET"
    std::string path;   // without the query, %XX decoded
    std::string client; // the client's address, numeric: "127.0.0.1", "::1"
    std::vector<std::pair<std::string, std::string>> headers; // in their order, duplicates kept
    std::string body;                                         // once read (Reply::AfterBody)

    // The first header of that name (any case); empty when there is none.
    std::string Header(std::string_view name) const;
};

struct Response {
    int status = 200;
    std::string type; // the Content-Type
    std::shared_ptr<const std::string> body = std::make_shared<const std::string>();
    std::vector<std::pair<std::string, std::string>> headers;
};

// {"error": REASON} as JSON.
Response ErrorAnswer(int status, const std::string& reason);

class EventSource {
public:
    virtual ~EventSource() = default;
    // What is due now, as the stream's text; empty when nothing is.
    virtual std::string Next() = 0;
};

// Calls after the first are ignored; so is a call after kelvaned stopped serving.
using Completion = std::function<void(Response)>;

class Reply {
public:
    static Reply Now(Response response);
    // The body is read (MAX_BODY_BYTES at most, else 413) and then given to answer.
    static Reply AfterBody(std::function<Reply(const Request&)> answer);
    // start is called at once with the request's Completion; the connection waits, costing no
    // thread, until the Completion is called.
    static Reply Later(std::function<void(Completion)> start);
    // head: the status and headers of the stream; its body is the source's text.
    static Reply Stream(Response head, std::shared_ptr<EventSource> source);

    Response response;
    std::function<Reply(const Request&)> afterBody;
    std::function<void(Completion)> later;
    std::shared_ptr<EventSource> stream;
};

} // namespace service::http
