// Whole answers made once and sent many times (the fleet's list, the metrics, the page), in the
// gzip format to the clients that ask for it: a Prometheus scrape and a browser do, and /metrics
// shrinks to a tenth.
//   Gzip         the text in the gzip format
//   AcceptsGzip  whether an Accept-Encoding header takes gzip
//   Packed       a text with its gzip form, both shared by every answer that sends them
//   PackedAnswer an answer with one of them, as the client takes it
#pragma once

#include <memory>
#include <string>
#include "service/http/Message.h"

namespace service {

std::string Gzip(const std::string& text);

// "gzip", "deflate, gzip;q=0.8", "*": yes; "identity", "gzip;q=0", "": no.
bool AcceptsGzip(const std::string& acceptEncoding);

struct Packed {
    std::shared_ptr<const std::string> text;
    std::shared_ptr<const std::string> gzip; // empty when it could not be made
};
Packed Pack(std::string text);

// The gzip form when the request's Accept-Encoding takes it, else the text; either is sent from
// the shared copy.
http::Response PackedAnswer(const http::Request& request, const Packed& body, const char* type);

} // namespace service
