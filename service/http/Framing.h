// Whether a request's head frames it beyond doubt, judged before any byte of its body is read.
// A head that two readers (a proxy and kelvaned, say) could take to end at different bytes is
// refused, and the connection with it: what follows could be smuggled in as another request.
//   JudgeFraming   400 for doubtful framing, 413 for a declared body over MAX_BODY_BYTES, 431 for
//                  a head over MAX_HEAD_BYTES; 0 when the head is taken
#pragma once

#include <cstddef>
#include <string>
#include <utility>
#include <vector>
#include "service/http/Message.h"

namespace service::http {

// headers: every header line of the head, in order; headBytes: the request line and headers.
Verdict JudgeFraming(const std::vector<std::pair<std::string, std::string>>& headers,
                     std::size_t headBytes);

} // namespace service::http
