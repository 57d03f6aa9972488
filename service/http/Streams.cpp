// A stream's read runs on the event loop's thread: it takes what the source has due, or else
// suspends the connection and returns 0, which libmicrohttpd takes for "nothing yet" until the
// connection is resumed.
#include "service/http/Streams.h"
#include <poll.h>
#include <sys/socket.h>
#include <algorithm>
#include <cstring>
#include "service/http/Limits.h"

namespace service::http {

struct EventStreams::Stream {
    EventStreams* owner;
    MHD_Connection* connection;
    std::shared_ptr<EventSource> source;
    std::string text; // taken from the source and not yet sent
    std::size_t sent = 0;
    bool suspended = false; // under the owner's mutex
};

namespace {

// What libmicrohttpd reads of the stream's text at a time.
constexpr std::size_t STREAM_BLOCK_BYTES = 4096;

// Whether the client has closed its end. libmicrohttpd does not look at a suspended connection,
// and a resumed one only when it writes, where a closed peer shows at the second write after the
// close: a page that went would hold its slot until two keep-alive comments had gone out. The
// check costs one poll when the stream is asked and has nothing to send, that is at each wake,
// so a slot comes back within STREAM_CHECK_MS. Bytes the client sent (a next request) are no
// farewell; they are left for libmicrohttpd.
bool ClientGone(MHD_Connection* connection) {
    const MHD_ConnectionInfo* info =
        MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
    if (info == nullptr)
        return true;
    pollfd one{info->connect_fd, POLLIN | POLLRDHUP, 0};
    if (::poll(&one, 1, 0) <= 0)
        return false;
    if ((one.revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0)
        return true;
    char byte;
    return ::recv(info->connect_fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT) == 0;
}

} // namespace

EventStreams::EventStreams() : m_ticks([this] { Tick(); }) {
}

EventStreams::~EventStreams() {
    End();
    m_ticks.join();
}

MHD_Response* EventStreams::Open(MHD_Connection* connection, std::shared_ptr<EventSource> source,
                                 std::shared_ptr<Stream>& stream) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_ended || static_cast<int>(m_streams.size()) >= MAX_EVENT_STREAMS)
            return nullptr;
        stream =
            std::make_shared<Stream>(Stream{this, connection, std::move(source), {}, 0, false});
        m_streams.push_back(stream);
    }
    MHD_Response* response = MHD_create_response_from_callback(
        MHD_SIZE_UNKNOWN, STREAM_BLOCK_BYTES, &EventStreams::Read, stream.get(), nullptr);
    if (response == nullptr)
        Close(stream);
    return response;
}

void EventStreams::Close(const std::shared_ptr<Stream>& stream) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_streams.remove(stream);
}

void EventStreams::Wake() {
    std::lock_guard<std::mutex> lock(m_mutex);
    ++m_wakes;
    for (const auto& stream : m_streams) {
        if (!stream->suspended)
            continue;
        stream->suspended = false;
        MHD_resume_connection(stream->connection);
    }
}

void EventStreams::End() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_ended = true;
    }
    m_stop.notify_all();
    Wake();
}

int EventStreams::Count() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return static_cast<int>(m_streams.size());
}

void EventStreams::Tick() {
    std::unique_lock<std::mutex> lock(m_mutex);
    while (!m_ended) {
        if (m_stop.wait_for(lock, STREAM_CHECK_MS, [this] { return m_ended; }))
            return;
        lock.unlock();
        Wake();
        lock.lock();
    }
}

ssize_t EventStreams::Read(void* cls, std::uint64_t, char* buffer, std::size_t size) {
    Stream& stream = *static_cast<Stream*>(cls);
    EventStreams& owner = *stream.owner;
    while (stream.sent == stream.text.size()) {
        unsigned long wakes = 0;
        {
            std::lock_guard<std::mutex> lock(owner.m_mutex);
            if (owner.m_ended)
                return MHD_CONTENT_READER_END_OF_STREAM;
            wakes = owner.m_wakes;
        }
        stream.text = stream.source->Next();
        stream.sent = 0;
        if (!stream.text.empty())
            break;
        if (ClientGone(stream.connection))
            return MHD_CONTENT_READER_END_WITH_ERROR;
        std::lock_guard<std::mutex> lock(owner.m_mutex);
        // A wake that came while the source was asked is asked again, not slept through.
        if (owner.m_wakes == wakes) {
            stream.suspended = true;
            MHD_suspend_connection(stream.connection);
            return 0;
        }
    }
    const std::size_t taken = std::min(size, stream.text.size() - stream.sent);
    std::memcpy(buffer, stream.text.data() + stream.sent, taken);
    stream.sent += taken;
    return static_cast<ssize_t>(taken);
}

} // namespace service::http
