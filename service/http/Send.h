// Answers as libmicrohttpd sends them.
//   Send          queues a whole answer; after a refusal (400 and up) the connection is closed
//   AddHeaders    puts an answer's Content-Type and headers on a libmicrohttpd response
//   RefuseBody    answers 413 to a request whose body went over MAX_BODY_BYTES, and closes
#pragma once

#include <microhttpd.h>
#include "service/http/Message.h"

namespace service::http {

MHD_Result Send(MHD_Connection* connection, const Response& response);

void AddHeaders(MHD_Response* target, const Response& response);

// Called while the body is read, where libmicrohttpd 0.9.75 takes no answer.
MHD_Result RefuseBody(MHD_Connection* connection);

} // namespace service::http
