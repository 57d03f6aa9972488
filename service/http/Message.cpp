#include "service/http/Message.h"
#include <nlohmann/json.hpp>
#include "service/Text.h"

namespace service::http {

std::string Request::Header(std::string_view name) const {
    const std::string wanted = Lower(name);
    for (const auto& [key, value] : headers)
        if (Lower(key) == wanted)
            return value;
    return "";
}

Response ErrorAnswer(int status, const std::string& reason) {
    Response response;
    response.status = status;
    response.type = "application/json";
    response.body = std::make_shared<const std::string>(nlohmann::json{{"error", reason}}.dump(
        -1, ' ', false, nlohmann::json::error_handler_t::replace));
    return response;
}

Reply Reply::Now(Response response) {
    Reply reply;
    reply.response = std::move(response);
    return reply;
}

Reply Reply::AfterBody(std::function<Reply(const Request&)> answer) {
    Reply reply;
    reply.afterBody = std::move(answer);
    return reply;
}

Reply Reply::Later(std::function<void(Completion)> start) {
    Reply reply;
    reply.later = std::move(start);
    return reply;
}

Reply Reply::Stream(Response head, std::shared_ptr<EventSource> source) {
    Reply reply;
    reply.response = std::move(head);
    reply.stream = std::move(source);
    return reply;
}

} // namespace service::http
