// The event streams open on the event loop. A stream costs a connection and its text, never a
// thread: while nothing is due its connection is suspended (libmicrohttpd then neither reads nor
// writes it), and the application wakes every stream when something may be due.
//   EventStreams   opens and closes streams (MAX_EVENT_STREAMS at most), wakes them (at the
//                  application's call and every STREAM_CHECK_MS), and ends them at a stop
#pragma once

#include <microhttpd.h>
#include <condition_variable>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include "service/http/Message.h"

namespace service::http {

class EventStreams {
public:
    struct Stream;

    EventStreams();
    ~EventStreams();
    EventStreams(const EventStreams&) = delete;
    EventStreams& operator=(const EventStreams&) = delete;

    // A response whose body is the source's text, for the connection; null when
    // MAX_EVENT_STREAMS are open or the streams have ended. The stream is the caller's to Close.
    MHD_Response* Open(MHD_Connection* connection, std::shared_ptr<EventSource> source,
                       std::shared_ptr<Stream>& stream);
    // Once its request is over.
    void Close(const std::shared_ptr<Stream>& stream);
    // Asks every stream again for its text; from any thread.
    void Wake();
    // Every stream ends at once (its client gets the end of its answer), and none opens again.
    void End();
    // How many are open.
    int Count() const;

private:
    static ssize_t Read(void* cls, std::uint64_t position, char* buffer, std::size_t size);
    void Tick();

    mutable std::mutex m_mutex;
    std::list<std::shared_ptr<Stream>> m_streams;
    unsigned long m_wakes = 0; // counts the calls of Wake, for a wake that comes during a read
    bool m_ended = false;
    std::condition_variable m_stop;
    std::thread m_ticks;
};

} // namespace service::http
