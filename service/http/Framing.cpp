// The rules: one Host; at most one of Content-Length (one, digits only) and Transfer-Encoding
// (one, "chunked" alone, the only coding kelvaned reads).
#include "service/http/Framing.h"
#include "service/Text.h"
#include "service/http/Limits.h"

namespace service::http {

namespace {

// More digits than this cannot be a length kelvaned takes, and might not fit a 64-bit number.
constexpr std::size_t MAX_LENGTH_DIGITS = 18;

} // namespace

Verdict JudgeFraming(const std::vector<std::pair<std::string, std::string>>& headers,
                     std::size_t headBytes) {
    if (headBytes > MAX_HEAD_BYTES)
        return {431, "the request line and headers are over " + std::to_string(MAX_HEAD_BYTES) +
                         " bytes"};
    int hosts = 0;
    int lengths = 0;
    int encodings = 0;
    std::string length;
    std::string encoding;
    for (const auto& [name, value] : headers) {
        const std::string key = Lower(name);
        if (key == "host") {
            ++hosts;
        } else if (key == "content-length") {
            ++lengths;
            length = Trimmed(value);
        } else if (key == "transfer-encoding") {
            ++encodings;
            encoding = Lower(Trimmed(value));
        }
    }
    if (hosts > 1)
        return {400, "the request has more than one Host"};
    if (lengths > 1)
        return {400, "the request has more than one Content-Length"};
    if (encodings > 1)
        return {400, "the request has more than one Transfer-Encoding"};
    if (lengths == 1 && encodings == 1)
        return {400, "the request has both Content-Length and Transfer-Encoding"};
    if (encodings == 1 && encoding != "chunked")
        return {400, "the only Transfer-Encoding taken is chunked"};
    if (lengths == 1) {
        if (length.empty() || length.size() > MAX_LENGTH_DIGITS ||
            length.find_first_not_of("0123456789") != std::string::npos)
            return {400, "Content-Length is not a number"};
        if (std::stoull(length) > MAX_BODY_BYTES)
            return {413, "the body is over " + std::to_string(MAX_BODY_BYTES) + " bytes"};
    }
    return {};
}

} // namespace service::http
