// Who may do what: GETs are for anyone who reaches the port; a POST fires an operation on a
// monitor and must come from a program that means it.
//   CheckAccess        the rules the configuration must meet before kelvaned starts (and before
//                      a reload is taken): the token file, and no open port without a token
//   LoadToken          reads the token file
//   JudgePost          whether a POST is taken, and the status and reason when it is not
//   SameToken          compares two tokens in constant time
#pragma once

#include <optional>
#include <string>
#include "service/Config.h"
#include "service/http/Message.h"

namespace service {

// Reads the token from the file: its first line, the line break left out. False with the reason
// when the file cannot be read, is readable (or writable) by others, or holds no token.
bool LoadToken(const std::string& path, std::string& token, std::string& error);

// The token of the configuration (empty without token_file), or false with the error, naming the
// file, the line and the key; kelvaned does not start then.
bool CheckAccess(const Config& config, std::string& token, std::string& error);

// Whether a and b are the same, in a time that depends on their lengths alone.
bool SameToken(const std::string& a, const std::string& b);

// Judges a POST by its client's address, its Authorization and Content-Type headers: with a
// token, the right bearer token; without one, a client on this machine. Either way a JSON body,
// which a form on some other web page cannot send without the browser asking first.
http::Verdict JudgePost(const std::string& token, const std::string& remoteAddress,
                        const std::string& authorization, const std::string& contentType);

} // namespace service
