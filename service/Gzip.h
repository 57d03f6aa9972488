// Whole answers made once and sent many times (the fleet's list, the metrics, the page), in the
// gzip format to the clients that ask for it: a Prometheus scrape and a browser do, and /metrics
// shrinks to a tenth.
//   Gzip         the text in the gzip format
//   AcceptsGzip  whether an Accept-Encoding header takes gzip
//   Packed       a text with its gzip form, both shared by every answer that sends them
//   SendPacked   answers with one of them, as the client takes it
#pragma once

#include <httplib.h>
#include <memory>
#include <string>

namespace service {

std::string Gzip(const std::string& text);

// "gzip", "deflate, gzip;q=0.8", "*": yes; "identity", "gzip;q=0", "": no.
bool AcceptsGzip(const std::string& acceptEncoding);

struct Packed {
    std::shared_ptr<const std::string> text;
    std::shared_ptr<const std::string> gzip; // empty when it could not be made
};
Packed Pack(std::string text);

// Sent from the shared text, without a copy, and past the HTTP library's own compression, which
// would pack the same text again for every request.
void SendPacked(const httplib::Request& request, httplib::Response& response, const Packed& body,
                const char* type);

} // namespace service
