// The request's course through libmicrohttpd's callbacks: the head judged (Begin), the body read
// within its bound, and the reply taken once the request is whole (Take): sent, or waited for
// with the connection suspended (Wait), or an event stream (OpenStream).
#include "service/http/Server.h"
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <chrono>
#include <optional>
#include "service/http/Framing.h"
#include "service/http/Limits.h"
#include "service/http/Send.h"

namespace service::http {

namespace {

// libmicrohttpd's memory per connection, from which it reads the head: the head (MAX_HEAD_BYTES)
// and its records of the head's lines fit, and a longer head is refused (431) by libmicrohttpd
// itself. Its default, named.
constexpr std::size_t CONNECTION_MEMORY_BYTES = 32 * 1024;
// libmicrohttpd at its own connection bound stops taking connections, and those beyond wait
// unanswered; OnAccept refuses them before, so its bound lies above and is never met.
constexpr unsigned LIBRARY_CONNECTION_SLACK = 16;
// How long a stop waits for the answers under way (the 503s, the streams' ends) to go out.
constexpr std::chrono::milliseconds STOP_DRAIN{1000};
constexpr int FIRST_REFUSAL = 400;

std::string AddressText(const sockaddr* address) {
    char text[INET6_ADDRSTRLEN] = {};
    if (address == nullptr)
        return "";
    if (address->sa_family == AF_INET)
        ::inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(address)->sin_addr, text,
                    sizeof text);
    else if (address->sa_family == AF_INET6)
        ::inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr, text,
                    sizeof text);
    return text;
}

Response Stopping() {
    return ErrorAnswer(503, "kelvaned is stopping");
}

Response Failure() {
    return ErrorAnswer(500, "kelvaned could not answer this request");
}

// The application's reply, or a 500 for an exception, which must not cross the event loop.
template <typename Function>
Reply Guarded(Function function) {
    try {
        return function();
    } catch (const std::exception&) {
        return Reply::Now(Failure());
    }
}

MHD_Result TakeHeader(void* cls, MHD_ValueKind, const char* name, const char* value) {
    static_cast<Request*>(cls)->headers.emplace_back(name, value != nullptr ? value : "");
    return MHD_YES;
}

} // namespace

// What libmicrohttpd keeps for one request.
struct Server::Exchange {
    Request request;
    Reply reply;
    bool bodyWanted = false; // the reply waits for the body: it is kept, within its bound
    std::shared_ptr<Waiting> waiting;
    std::shared_ptr<EventStreams::Stream> stream;
};

// A request waiting for its answer from another thread; shared by its exchange and its
// Completion, which may outlive it.
struct Server::Waiting {
    explicit Waiting(MHD_Connection* c) : connection(c) {}
    std::mutex mutex;
    MHD_Connection* connection;
    std::optional<Response> answer;
    bool suspended = false;
};

Server::~Server() {
    Stop();
}

bool Server::Start(int listening, std::string& error) {
    m_listening = listening;
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    ::getsockname(listening, reinterpret_cast<sockaddr*>(&address), &length);
    const unsigned family = address.ss_family == AF_INET6 ? MHD_USE_IPv6 : 0;
    const unsigned libraryBound = MAX_CONNECTIONS + LIBRARY_CONNECTION_SLACK;
    // The options one to a line (the empty comments keep them so).
    m_daemon =
        MHD_start_daemon(MHD_USE_EPOLL_INTERNAL_THREAD | MHD_ALLOW_SUSPEND_RESUME | family, 0, //
                         &Server::OnAccept, this, &Server::OnRequest, this,                    //
                         MHD_OPTION_LISTEN_SOCKET, listening,                                  //
                         MHD_OPTION_CONNECTION_TIMEOUT, IDLE_LIMIT_S,                          //
                         MHD_OPTION_CONNECTION_LIMIT, libraryBound,                            //
                         MHD_OPTION_PER_IP_CONNECTION_LIMIT, MAX_CONNECTIONS_PER_ADDRESS,      //
                         MHD_OPTION_CONNECTION_MEMORY_LIMIT, CONNECTION_MEMORY_BYTES,          //
                         MHD_OPTION_STRICT_FOR_CLIENT, 1,                                      //
                         MHD_OPTION_NOTIFY_CONNECTION, &Server::OnConnection, this,            //
                         MHD_OPTION_NOTIFY_COMPLETED, &Server::OnCompleted, this,              //
                         MHD_OPTION_END);
    if (m_daemon == nullptr) {
        error = "cannot start the HTTP server's event loop";
        return false;
    }
    return true;
}

void Server::Stop() {
    if (m_daemon == nullptr) {
        if (m_listening >= 0)
            ::close(m_listening);
        m_listening = -1;
        return;
    }
    MHD_quiesce_daemon(m_daemon);
    std::set<std::shared_ptr<Waiting>> waiting;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
        waiting = m_waiting;
    }
    for (const auto& one : waiting)
        CompletionOf(one)(Stopping());
    m_streams.End();
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_settled.wait_for(lock, STOP_DRAIN,
                           [this] { return m_waiting.empty() && m_streams.Count() == 0; });
    }
    MHD_stop_daemon(m_daemon);
    m_daemon = nullptr;
    ::close(m_listening);
    m_listening = -1;
}

MHD_Result Server::OnAccept(void* cls, const sockaddr*, socklen_t) {
    return static_cast<Server*>(cls)->m_connections < MAX_CONNECTIONS ? MHD_YES : MHD_NO;
}

void Server::OnConnection(void* cls, MHD_Connection*, void**, MHD_ConnectionNotificationCode code) {
    Server& server = *static_cast<Server*>(cls);
    if (code == MHD_CONNECTION_NOTIFY_STARTED)
        ++server.m_connections;
    else
        --server.m_connections;
}

MHD_Result Server::OnRequest(void* cls, MHD_Connection* connection, const char* url,
                             const char* method, const char*, const char* upload,
                             std::size_t* uploadSize, void** context) {
    Server& server = *static_cast<Server*>(cls);
    auto* exchange = static_cast<Exchange*>(*context);
    if (exchange == nullptr) {
        exchange = new Exchange;
        *context = exchange;
        return server.Begin(connection, *exchange, url, method);
    }
    if (*uploadSize != 0) {
        std::string& body = exchange->request.body;
        if (body.size() + *uploadSize > MAX_BODY_BYTES)
            return RefuseBody(connection);
        // A body the reply does not want is counted, not kept.
        if (exchange->bodyWanted)
            body.append(upload, *uploadSize);
        else
            body.resize(body.size() + *uploadSize);
        *uploadSize = 0;
        return MHD_YES;
    }
    return server.Take(connection, *exchange);
}

MHD_Result Server::Begin(MHD_Connection* connection, Exchange& exchange, const char* url,
                         const char* method) {
    Request& request = exchange.request;
    request.method = method;
    request.path = url;
    const MHD_ConnectionInfo* client =
        MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
    request.client = AddressText(client != nullptr ? client->client_addr : nullptr);
    MHD_get_connection_values(connection, MHD_HEADER_KIND, &TakeHeader, &request);
    const MHD_ConnectionInfo* head =
        MHD_get_connection_info(connection, MHD_CONNECTION_INFO_REQUEST_HEADER_SIZE);
    const Verdict framing = JudgeFraming(request.headers, head != nullptr ? head->header_size : 0);
    if (framing.status != 0)
        return Send(connection, ErrorAnswer(framing.status, framing.reason));
    exchange.reply = Guarded([&] { return m_handler.Answer(request); });
    exchange.bodyWanted = static_cast<bool>(exchange.reply.afterBody);
    // A refusal goes before the body is read: libmicrohttpd then reads no more of the request.
    // Anything else goes once the request is whole, so that the connection stays open for the
    // next one.
    const Reply& reply = exchange.reply;
    if (!reply.afterBody && !reply.later && !reply.stream && reply.response.status >= FIRST_REFUSAL)
        return Send(connection, reply.response);
    return MHD_YES;
}

MHD_Result Server::Take(MHD_Connection* connection, Exchange& exchange) {
    Reply& reply = exchange.reply;
    if (reply.afterBody) {
        const auto answer = std::move(reply.afterBody);
        reply = Guarded([&] { return answer(exchange.request); });
    }
    if (reply.later || exchange.waiting)
        return Wait(connection, exchange);
    if (reply.stream)
        return OpenStream(connection, exchange);
    return Send(connection, reply.response);
}

MHD_Result Server::Wait(MHD_Connection* connection, Exchange& exchange) {
    if (!exchange.waiting) {
        exchange.waiting = std::make_shared<Waiting>(connection);
        bool stopping = false;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            stopping = m_stopping;
            if (!stopping)
                m_waiting.insert(exchange.waiting);
        }
        const Completion done = CompletionOf(exchange.waiting);
        if (stopping) {
            done(Stopping());
        } else {
            try {
                exchange.reply.later(done);
            } catch (const std::exception&) {
                done(Failure());
            }
        }
        exchange.reply.later = nullptr;
    }
    // Called again once resumed, with the answer in.
    std::optional<Response> answer;
    {
        std::lock_guard<std::mutex> lock(exchange.waiting->mutex);
        if (!exchange.waiting->answer) {
            exchange.waiting->suspended = true;
            MHD_suspend_connection(connection);
            return MHD_YES;
        }
        answer = exchange.waiting->answer;
    }
    return Send(connection, *answer);
}

Completion Server::CompletionOf(const std::shared_ptr<Waiting>& waiting) {
    return [waiting](Response response) {
        std::lock_guard<std::mutex> lock(waiting->mutex);
        if (waiting->answer)
            return;
        waiting->answer = std::move(response);
        if (waiting->suspended) {
            waiting->suspended = false;
            MHD_resume_connection(waiting->connection);
        }
    };
}

MHD_Result Server::OpenStream(MHD_Connection* connection, Exchange& exchange) {
    MHD_Response* response = m_streams.Open(connection, exchange.reply.stream, exchange.stream);
    if (response == nullptr)
        return Send(connection, ErrorAnswer(503, "too many event streams: at most " +
                                                     std::to_string(MAX_EVENT_STREAMS)));
    AddHeaders(response, exchange.reply.response);
    const MHD_Result queued = MHD_queue_response(
        connection, static_cast<unsigned>(exchange.reply.response.status), response);
    MHD_destroy_response(response);
    return queued;
}

void Server::OnCompleted(void* cls, MHD_Connection*, void** context, MHD_RequestTerminationCode) {
    Server& server = *static_cast<Server*>(cls);
    auto* exchange = static_cast<Exchange*>(*context);
    *context = nullptr;
    if (exchange == nullptr)
        return;
    if (exchange->stream)
        server.m_streams.Close(exchange->stream);
    {
        std::lock_guard<std::mutex> lock(server.m_mutex);
        server.m_waiting.erase(exchange->waiting);
    }
    server.m_settled.notify_all();
    delete exchange;
}

} // namespace service::http
