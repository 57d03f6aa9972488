#include "service/Gzip.h"
#include <zlib.h>
#include <cstdlib>
#include <sstream>
#include "service/Text.h"

namespace service {

std::string Gzip(const std::string& text) {
    z_stream stream{};
    // 15 + 16: the largest window, written with the gzip header and trailer.
    if (deflateInit2(&stream, Z_BEST_SPEED, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        return "";
    std::string packed(deflateBound(&stream, static_cast<uLong>(text.size())), '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
    stream.avail_in = static_cast<uInt>(text.size());
    stream.next_out = reinterpret_cast<Bytef*>(packed.data());
    stream.avail_out = static_cast<uInt>(packed.size());
    const int result = deflate(&stream, Z_FINISH);
    packed.resize(stream.total_out);
    deflateEnd(&stream);
    return result == Z_STREAM_END ? packed : "";
}

bool AcceptsGzip(const std::string& acceptEncoding) {
    std::stringstream codings(acceptEncoding);
    for (std::string coding; std::getline(codings, coding, ',');) {
        const size_t semicolon = coding.find(';');
        const std::string name = Lower(Trimmed(coding.substr(0, semicolon)));
        if (name != "gzip" && name != "*")
            continue;
        if (semicolon == std::string::npos)
            return true;
        const std::string parameter = Lower(Trimmed(coding.substr(semicolon + 1)));
        // A weight of 0 refuses the coding.
        return parameter.rfind("q=", 0) != 0 || std::strtod(parameter.c_str() + 2, nullptr) > 0;
    }
    return false;
}

Packed Pack(std::string text) {
    auto shared = std::make_shared<const std::string>(std::move(text));
    return {shared, std::make_shared<const std::string>(Gzip(*shared))};
}

http::Response PackedAnswer(const http::Request& request, const Packed& body, const char* type) {
    const bool packed = !body.gzip->empty() && AcceptsGzip(request.Header("Accept-Encoding"));
    http::Response response;
    response.type = type;
    response.body = packed ? body.gzip : body.text;
    response.headers.emplace_back("Vary", "Accept-Encoding");
    if (packed)
        response.headers.emplace_back("Content-Encoding", "gzip");
    return response;
}

} // namespace service
