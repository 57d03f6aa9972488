#include "service/http/Send.h"
#include <sys/socket.h>
#include "service/http/Limits.h"

namespace service::http {

namespace {

constexpr int FIRST_REFUSAL = 400;

void Release(void* body) {
    delete static_cast<std::shared_ptr<const std::string>*>(body);
}

} // namespace

void AddHeaders(MHD_Response* target, const Response& response) {
    if (!response.type.empty())
        MHD_add_response_header(target, MHD_HTTP_HEADER_CONTENT_TYPE, response.type.c_str());
    for (const auto& [name, value] : response.headers)
        MHD_add_response_header(target, name.c_str(), value.c_str());
    // Whatever follows a refused request on its connection is not read as another request.
    if (response.status >= FIRST_REFUSAL)
        MHD_add_response_header(target, MHD_HTTP_HEADER_CONNECTION, "close");
}

MHD_Result Send(MHD_Connection* connection, const Response& response) {
    // Sent from the shared text itself, which the response holds until libmicrohttpd is done.
    auto* held = new std::shared_ptr<const std::string>(response.body);
    MHD_Response* sent = MHD_create_response_from_buffer_with_free_callback_cls(
        response.body->size(), const_cast<char*>(response.body->data()), Release, held);
    if (sent == nullptr) {
        delete held;
        return MHD_NO;
    }
    AddHeaders(sent, response);
    const MHD_Result queued =
        MHD_queue_response(connection, static_cast<unsigned>(response.status), sent);
    MHD_destroy_response(sent);
    return queued;
}

// libmicrohttpd 0.9.75 takes an answer only before the body is read or once it has all come,
// and ends a body under way only by closing the connection (when the handler returns MHD_NO),
// which would leave the client without a word. So the answer is written on the connection's
// socket here, before the close: nothing of this request has been answered yet (a "100
// Continue" at most, sent whole), and the short answer fits the socket's buffer. The shutdown
// sends it off with the end of the stream, ahead of the reset that closing a socket with unread
// bytes makes.
MHD_Result RefuseBody(MHD_Connection* connection) {
    const Response refusal =
        ErrorAnswer(413, "the body is over " + std::to_string(MAX_BODY_BYTES) + " bytes");
    const std::string answer = "HTTP/1.1 413 Content Too Large\r\nContent-Type: " + refusal.type +
                               "\r\nContent-Length: " + std::to_string(refusal.body->size()) +
                               "\r\nConnection: close\r\n\r\n" + *refusal.body;
    const MHD_ConnectionInfo* info =
        MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
    if (info != nullptr) {
        ::send(info->connect_fd, answer.data(), answer.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        ::shutdown(info->connect_fd, SHUT_WR);
    }
    return MHD_NO;
}

} // namespace service::http
